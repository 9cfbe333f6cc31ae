// PHD2's methods as the guider carries them out: with the calls the windows
// make (the session, the loop, the star acquirer), answered at once; what
// follows reaches the clients as events (remoteguider.cpp).
#include <QByteArray>
#include <QJsonArray>

#include <algorithm>
#include <cmath>

#include "core/guider.h"
#include "core/log/guidelog.h"
#include "core/log/runstats.h"
#include "core/measure/findstar.h"
#include "core/measure/measure.h"
#include "core/server/dither.h"
#include "core/server/exposure.h"
#include "core/settings/tparam.h"
#include "core/state.h"
#include "qt/looptimer.h"
#include "qt/remoteguider.h"

using phd::boolValue;
using phd::number;
using phd::point;

void RemoteGuider::registerMethods(JsonRpcDispatcher& d)
{
    auto plain = [&d](const char* name, std::function<RpcReply()> f) {
        d.add(QString::fromLatin1(name), [f = std::move(f)](const QJsonValue&) { return f(); });
    };
    plain("get_app_state", [this] { return RpcReply::ok(QString::fromLatin1(appStateName(appState()))); });
    // The equipment stays connected while capture stops: only set_connected
    // false (or a camera lost) disconnects it, as in PHD2.
    plain("get_connected", [this] { return RpcReply::ok(cameraConnected() || state_.captureRunning); });
    d.add("set_connected", [this](const QJsonValue& p) { return setConnected(p); });
    plain("get_current_equipment", [this] { return equipment(); });
    plain("get_profiles", [] {
        return RpcReply::ok(QJsonArray{QJsonObject{
            {"id", 1}, {"name", QString::fromLatin1(kSettingsFileName)}, {"selected", true}}});
    });
    plain("get_profile", [] {
        return RpcReply::ok(QJsonObject{{"id", 1}, {"name", QString::fromLatin1(kSettingsFileName)}});
    });
    d.add("set_profile", [](const QJsonValue& p) {
        const QJsonValue id = RpcParams(p, {"id"})["id"];
        if (!id.isDouble())
            return RpcReply::invalidParams(QStringLiteral("expected profile id param"));
        if (id.toDouble() != 1)
            return RpcReply::failed(QStringLiteral("no profile with id %1: the only one is 1 (%2)")
                                        .arg(id.toDouble())
                                        .arg(QString::fromLatin1(kSettingsFileName)));
        return RpcReply::ok(0);
    });
    plain("get_pixel_scale", [this] {
        const float scale = usablePixelScale(*state_.params);
        return RpcReply::ok(scale > 0 ? QJsonValue(phd::round3(scale)) : QJsonValue(QJsonValue::Null));
    });
    plain("get_exposure", [this] { return RpcReply::ok(cameraExposure(camera()).ms); });
    d.add("set_exposure", [this](const QJsonValue& p) { return setExposure(p); });
    plain("get_exposure_durations", [this] {
        // PHD2 long listed its "Auto" (-1) first, and Ekos still drops the
        // first element as that: so it leads, and every real choice shows.
        QJsonArray list{-1};
        for (const int ms : cameraExposure(camera()).choicesMs)
            list.append(ms);
        return RpcReply::ok(list);
    });
    plain("get_camera_frame_size", [] { return RpcReply::ok(QJsonArray{Picture::width, Picture::height}); });
    // The design's gains come from the optics in the settings: there is no
    // calibration run; the precise mode has one.
    plain("get_calibrated", [this] { return RpcReply::ok(!precise_ || core_.precise.calibrationValid()); });
    plain("get_dec_guide_mode", [this] { return decGuideMode(); });
    plain("get_lock_position", [this] {
        return RpcReply::ok(guiding() ? QJsonValue(QJsonArray{lockX(), lockY()}) : QJsonValue(QJsonValue::Null));
    });
    plain("get_lock_shift_enabled", [] { return RpcReply::ok(false); });
    plain("get_lock_shift_params", [] { return RpcReply::ok(QJsonObject{{"enabled", false}}); });
    plain("get_paused", [this] { return RpcReply::ok(state_.graphSuspended); });
    plain("loop", [this] { return loop(); });
    d.add("find_star", [this](const QJsonValue& p) { return findStar(p); });
    d.add("guide", [this](const QJsonValue& p) { return guide(p); });
    d.add("dither", [this](const QJsonValue& p) { return dither(p); });
    d.add("set_paused", [this](const QJsonValue& p) { return setPaused(p); });
    plain("stop_capture", [this] { return stopCapture(); });
    d.add("get_star_image", [this](const QJsonValue& p) { return starImage(p); });
    if (precise_)
        registerPreciseMethods(d);
}

std::optional<QString> RemoteGuider::ensureCapture()
{
    if (state_.captureRunning)
        return std::nullopt;
    const CaptureStatus status = loop_.connect(state_.driverIndex);
    if (!status.ok || !state_.captureRunning)
        return QStringLiteral("no camera at entry %1: %2")
            .arg(state_.driverIndex)
            .arg(QString::fromStdString(status.ok ? std::string("not running") : status.error));
    frame_ = 0;
    equipmentConnected_ = true;
    publishState();
    return std::nullopt;
}

RpcReply RemoteGuider::setConnected(const QJsonValue& params)
{
    const auto connect = boolValue(RpcParams(params, {"connected"})["connected"]);
    if (!connect)
        return RpcReply::invalidParams(QStringLiteral("expected connected boolean param"));
    if (*connect) {
        if (const auto why = ensureCapture())
            return RpcReply::failed(*why);
        return RpcReply::ok(0);
    }
    equipmentConnected_ = false;
    return stopCapture();
}

CaptureDriver* RemoteGuider::camera()
{
    if (CaptureDriver* connected = core_.acquisition.connected())
        return connected;
    const CaptureDriverList& drivers = core_.acquisition.drivers();
    const int i = state_.driverIndex;
    return i >= 0 && i < int(drivers.size()) ? drivers[size_t(i)].get() : nullptr;
}

bool RemoteGuider::cameraConnected() const
{
    // A client's camera stays connected while its capture is stopped.
    const CaptureDriver* connected = core_.acquisition.connected();
    return (connected && connected->connected()) || equipmentConnected_;
}

RpcReply RemoteGuider::equipment()
{
    const CaptureDriver* cam = camera();
    const QString cameraName = QString::fromStdString(cam ? cam->name() : std::string("(aucun)"));
    // The serial outputs need their port open; the LED window is always
    // there, and an INDI mount is connected while its link is up.
    const bool mountConnected = core_.mount.output().ready();
    const QString mountName = QString::fromStdString(interfaceName(state_.params->interfaceType));
    return RpcReply::ok(QJsonObject{
        {"camera", QJsonObject{{"name", cameraName}, {"connected", cameraConnected()}}},
        {"mount", QJsonObject{{"name", mountName}, {"connected", mountConnected}}},
    });
}

RpcReply RemoteGuider::setExposure(const QJsonValue& params)
{
    const QJsonValue v = RpcParams(params, {"exposure"})["exposure"];
    const double ms = v.toDouble(-1);
    if (!v.isDouble() || ms != std::floor(ms) || std::fabs(ms) > 1e9)
        return RpcReply::invalidParams(QStringLiteral("expected exposure param (milliseconds)"));
    const CaptureStatus set = setCameraExposure(camera(), int(ms));
    if (!set.ok)
        return RpcReply::failed(QStringLiteral("could not set exposure duration: ") + QString::fromStdString(set.error));
    return RpcReply::ok(0);
}

RpcReply RemoteGuider::decGuideMode() const
{
    // "Inhibe DEC+" drops the positive DEC pulses, which go South, leaving
    // North; "Inhibe DEC-" drops the North ones (signs.h). The relay box
    // ignores both.
    if (!core_.mount.output().honoursDecInhibits())
        return RpcReply::ok(QStringLiteral("Auto"));
    const bool plus = state_.inhibitDecPlus;
    const bool minus = state_.inhibitDecMinus;
    const char* mode = plus && minus ? "Off" : plus ? "North" : minus ? "South" : "Auto";
    return RpcReply::ok(QString::fromLatin1(mode));
}

RpcReply RemoteGuider::loop()
{
    // Looping while guiding stops the guiding and keeps the camera going.
    if (guiding())
        core_.session.stopTracking();
    giveUpSettling("guiding stopped");
    if (const auto why = ensureCapture())
        return RpcReply::failed(QStringLiteral("could not start looping: ") + *why);
    return RpcReply::ok(0);
}

std::optional<QString> RemoteGuider::selectStar(const std::optional<phd::Roi>& roi)
{
    if (!state_.captureRunning)
        return QStringLiteral("could not find star: the camera is not running");
    const PixelView whole = core_.acquisition.lastFrame().view();
    PixelView view = whole;
    const float* values = core_.acquisition.lastValues();  // the camera's own, when it gives them
    int ox = 0, oy = 0;
    if (roi) {
        view.bits = whole.bits + roi->y * whole.stride + roi->x;
        view.width = roi->width;
        view.height = roi->height;
        if (values)
            values += roi->y * whole.stride + roi->x;
        ox = roi->x;
        oy = roi->y;
    }
    const bool darkSpot = state_.params->darkSpotGuiding == 1;
    const auto star = findBrightestStar(view, darkSpot, values);
    if (!star)
        return QStringLiteral("could not find star");
    core_.session.selectStar(star->x + ox, star->y + oy);
    publish(events_.starSelected(core_.session.starX(), core_.session.starY()));
    publishState();
    return std::nullopt;
}

RpcReply RemoteGuider::findStar(const QJsonValue& params)
{
    const QJsonValue roiValue = RpcParams(params, {"roi"})["roi"];
    std::optional<phd::Roi> roi;
    if (!roiValue.isUndefined() && !roiValue.isNull()) {
        roi = phd::roi(roiValue);
        if (!roi)
            return RpcReply::invalidParams(QString::fromLatin1(phd::kRoiExpected));
    }
    if (guiding())
        return RpcReply::failed(QStringLiteral("could not find star: guiding is on"));
    if (const auto why = selectStar(roi))
        return RpcReply::failed(*why);
    if (precise_) {
        // The star in fractions of a pixel, in the region just placed on it.
        const PreciseStar& s = core_.precise.measureNow();
        if (s.found())
            return RpcReply::ok(QJsonArray{phd::round3(s.x), phd::round3(s.y)});
    }
    return RpcReply::ok(point(core_.session.starX(), core_.session.starY()));
}

RpcReply RemoteGuider::guide(const QJsonValue& params)
{
    const RpcParams p(params, {"settle", "recalibrate", "roi"});
    QString why;
    const auto settle = phd::settleParams(p["settle"], why);
    if (!settle)
        return RpcReply::invalidParams(why);
    // Nothing to calibrate: the gains come from the optics.
    if (p.has("recalibrate") && !boolValue(p["recalibrate"]))
        return RpcReply::invalidParams(QStringLiteral("expected bool value for recalibrate"));
    std::optional<phd::Roi> roi;
    if (p.has("roi") && !p["roi"].isNull()) {
        roi = phd::roi(p["roi"]);
        if (!roi)
            return RpcReply::invalidParams(QString::fromLatin1(phd::kRoiExpected));
    }
    if (request_.busy())
        return RpcReply::failed(QStringLiteral("cannot initiate guide while a settle is in progress"));
    if (!opticsUsable(state_))
        return RpcReply::failed(QStringLiteral(
            "the settings give no usable correction: set the focal length, pixel size and guide speeds"));
    if (const auto why = ensureCapture())
        return RpcReply::failed(QStringLiteral("could not start guiding: ") + *why);

    if (precise_) {
        if (calibrating())
            return RpcReply::failed(QStringLiteral("cannot guide while calibrating"));
        const bool recalibrate = p.has("recalibrate") && *boolValue(p["recalibrate"]);
        if (recalibrate || !core_.precise.calibrationValid()) {
            ++holdState_;
            if (guiding())
                core_.session.stopTracking();
            std::optional<QString> why;
            if (roi || !core_.session.starSelected())
                why = selectStar(roi);
            --holdState_;
            if (why)
                return RpcReply::failed(*why);
            if (!core_.precise.calibrate())
                return RpcReply::failed(QStringLiteral("could not start calibration: ") +
                                        QString::fromStdString(core_.precise.error()));
            // The settle begins once the calibration is done and the star locked.
            request_.awaitLock(*settle);
            publish(events_.event("SettleBegin"));
            if (log_)
                log_->settling(GuideLog::Settling::Started);
            publish(events_.startCalibration(mountName()));
            publishState();
            return RpcReply::ok(0);
        }
        if (log_)
            log_->setMountAxes(core_.precise.logAxes());
    }
    if (state_.trackingOn) {
        beginSettling(*settle);
        return RpcReply::ok(0);
    }
    if (state_.graphSuspended) {
        core_.session.resume();
        beginSettling(*settle);
        return RpcReply::ok(0);
    }
    // A star asked within a region of interest is chosen now; a star
    // already chosen keeps its region; otherwise the acquirer takes the
    // brightest of the picture.
    if (roi && !core_.session.starSelected()) {
        if (const auto why = selectStar(roi))
            return RpcReply::failed(*why);
    }
    selectedBefore_ = core_.session.starSelected();
    if (!acquirer_.looking())
        acquirer_.begin(15, !selectedBefore_);
    request_.awaitLock(*settle);
    publish(events_.event("SettleBegin"));
    if (log_)
        log_->settling(GuideLog::Settling::Started);
    publishState();
    return RpcReply::ok(0);
}

RpcReply RemoteGuider::dither(const QJsonValue& params)
{
    const RpcParams p(params, {"amount", "raOnly", "settle"});
    const auto amount = number(p["amount"]);
    if (!amount)
        return RpcReply::invalidParams(QStringLiteral("expected dither amount param"));
    bool raOnly = false;
    if (p.has("raOnly")) {
        const auto b = boolValue(p["raOnly"]);
        if (!b)
            return RpcReply::invalidParams(QStringLiteral("expected dither raOnly param"));
        raOnly = *b;
    }
    QString why;
    const auto settle = phd::settleParams(p["settle"], why);
    if (!settle)
        return RpcReply::invalidParams(why);
    if (!state_.trackingOn)
        return RpcReply::failed(QStringLiteral("cannot dither when not guiding"));
    if (request_.busy())
        return RpcReply::failed(QStringLiteral("cannot initiate dither while a settle is in progress"));

    double dx = 0, dy = 0;
    if (core_.precise.on() && core_.precise.status().calibrated) {
        // Along the calibrated axes, in fractions of a pixel, as PHD2
        // dithers: a random move of at most the amount on each mount axis,
        // the lock kept 10 to 90 pixels inside the region.
        const double size = std::isfinite(*amount) ? std::min(std::fabs(*amount), 100.0) : 0.0;
        const double ra = size * (2 * uniform_() - 1);
        const double dec = raOnly ? 0.0 : size * (2 * uniform_() - 1);
        const PointPx offset = core_.precise.ditherOffset(ra, dec, raOnly);
        const double x0 = core_.session.lockX(), y0 = core_.session.lockY();
        const double x = std::clamp(x0 + offset.x, state_.regionX + 10.0, state_.regionX + 90.0);
        const double y = std::clamp(y0 + offset.y, state_.regionY + 10.0, state_.regionY + 90.0);
        core_.session.moveLock(x, y);
        dx = x - x0;
        dy = y - y0;
    } else {
        const DitherTarget t = ditherLock(state_.referenceX, state_.referenceY, state_.regionX, state_.regionY,
                                          *amount, raOnly, uniform_);
        core_.session.moveLock(t.lockX, t.lockY);
        dx = t.dx;
        dy = t.dy;
    }
    if (log_)
        log_->dither(dx, dy);
    publish(events_.guidingDithered(dx, dy));
    beginSettling(*settle);
    return RpcReply::ok(0);
}

RpcReply RemoteGuider::setPaused(const QJsonValue& params)
{
    const RpcParams p(params, {"paused", "type"});
    const auto pause = boolValue(p["paused"]);
    if (!pause)
        return RpcReply::invalidParams(QStringLiteral("expected bool param at index 0"));
    if (p.has("type") && !p["type"].isString())
        return RpcReply::invalidParams(QStringLiteral("expected string param at index 1"));
    if (*pause) {
        if (state_.graphSuspended)
            return RpcReply::ok(0);
        if (!state_.trackingOn)
            return RpcReply::failed(QStringLiteral("cannot pause when not guiding"));
        core_.session.suspend();  // as the energy graph's "Suspend"
    } else if (state_.graphSuspended) {
        core_.session.resume();
    }
    return RpcReply::ok(0);
}

RpcReply RemoteGuider::stopCapture()
{
    // Straight to Stopped: a client that saw "Selected" on the way would
    // take the star as chosen for a calibration.
    ++holdState_;
    if (guiding())
        core_.session.stopTracking();
    giveUpSettling("guiding stopped");
    if (state_.captureRunning || core_.acquisition.connected()) {
        loop_.disconnect();
        captureStopped();
    }
    --holdState_;
    publishState();
    return RpcReply::ok(0);
}

RpcReply RemoteGuider::starImage(const QJsonValue& params)
{
    const QJsonValue size = RpcParams(params, {"size"})["size"];
    if (!size.isUndefined() && (!size.isDouble() || size.toDouble() < 15))
        return RpcReply::invalidParams(QStringLiteral("invalid image size param"));
    if (!state_.captureRunning || !(core_.session.starSelected() || guiding()))
        return RpcReply::failed(QStringLiteral("no star selected"));
    // The whole analysis region, in the grey levels the measurement reads
    // (0 to 63), as 16-bit little-endian values.
    const PixelView frame = core_.acquisition.lastFrame().view();
    QByteArray pixels;
    pixels.reserve(kRegionSize * kRegionSize * 2);
    for (int y = state_.regionY; y < state_.regionY + kRegionSize; ++y) {
        for (int x = state_.regionX; x < state_.regionX + kRegionSize; ++x) {
            const uint8_t level = frame.contains(x, y) ? greyLevel(frame.at(x, y)) : 0;
            pixels.append(char(level));
            pixels.append(char(0));
        }
    }
    return RpcReply::ok(QJsonObject{
        {"frame", frame_},
        {"width", kRegionSize},
        {"height", kRegionSize},
        {"star_pos", point(core_.session.starX() - state_.regionX, core_.session.starY() - state_.regionY)},
        {"pixels", QString::fromLatin1(pixels.toBase64())},
    });
}

void RemoteGuider::setPrecise(bool on)
{
    precise_ = on;
    core_.precise.setOn(on);
    if (on && !stepListener_)
        stepListener_ = core_.precise.addStepListener([this](const CalibrationStep* s) { onCalibrationStep(s); });
}

bool RemoteGuider::calibrating() const
{
    return precise_ && core_.precise.status().calib == PreciseStatus::Calib::Running;
}

QString RemoteGuider::mountName() const { return QString::fromStdString(interfaceName(state_.params->interfaceType)); }

double RemoteGuider::lockX() const { return precise_ ? core_.session.lockX() : double(state_.referenceX); }
double RemoteGuider::lockY() const { return precise_ ? core_.session.lockY() : double(state_.referenceY); }

void RemoteGuider::onCalibrationStep(const CalibrationStep* s)
{
    if (s) {
        publish(events_.calibrating(mountName(), phaseName(s->phase), s->step, s->dx, s->dy, s->star.x, s->star.y,
                                    s->distance));
        return;
    }
    if (log_)
        log_->calibration(core_.precise.calibrationLog());
    if (core_.precise.status().calib == PreciseStatus::Calib::Done) {
        if (log_)
            log_->setMountAxes(core_.precise.logAxes());
        publish(events_.calibrationComplete(mountName()));
        // Guiding on the star where the calibration left it.
        if (request_.waitingForLock() && !acquirer_.looking())
            acquirer_.begin(15, false);
    } else {
        publish(events_.calibrationFailed(QString::fromStdString(core_.precise.error())));
        giveUpSettling("calibration failed: " + core_.precise.error());
    }
    publishState();
}

RpcReply RemoteGuider::setLockPosition(const QJsonValue& params)
{
    const RpcParams p(params, {"x", "y", "exact"});
    const auto x = number(p["x"]);
    const auto y = number(p["y"]);
    if (!x || !y)
        return RpcReply::invalidParams(QStringLiteral("expected lock position x, y params"));
    bool exact = true;
    if (p.has("exact")) {
        const auto b = boolValue(p["exact"]);
        if (!b)
            return RpcReply::invalidParams(QStringLiteral("expected bool value for exact"));
        exact = *b;
    }
    if (!(*x >= 0 && *x < Picture::width && *y >= 0 && *y < Picture::height))
        return RpcReply::failed(QStringLiteral("lock position %1, %2 is outside the picture").arg(*x).arg(*y));
    if (!exact) {
        // The star nearest the position: the region placed there, its star measured.
        if (guiding())
            return RpcReply::failed(QStringLiteral("cannot move the lock to a star while guiding"));
        core_.session.selectStar(int(std::lround(*x)), int(std::lround(*y)));
        const PreciseStar& s = core_.precise.measureNow();
        if (!s.found())
            return RpcReply::failed(QStringLiteral("could not find a star near %1, %2").arg(*x).arg(*y));
        core_.session.moveLock(s.x, s.y);
        return RpcReply::ok(0);
    }
    core_.session.moveLock(*x, *y);
    return RpcReply::ok(0);
}

RpcReply RemoteGuider::calibrationData()
{
    const auto stored = core_.precise.calibration();
    if (!stored)
        return RpcReply::ok(QJsonObject{{"calibrated", false}});
    const Calibration& c = stored->calibration;
    const double deg = 180.0 / M_PI;
    auto angle = [deg](double a) { return phd::round3(std::remainder(a * deg, 360.0)); };
    return RpcReply::ok(QJsonObject{
        {"calibrated", core_.precise.calibrationValid()},
        {"xAngle", angle(c.xAngle)},
        {"xRate", phd::round3(c.xRate)},
        {"xParity", c.raFlipped() ? "-" : "+"},
        {"yAngle", angle(c.yAngle)},
        {"yRate", phd::round3(c.yRate)},
        {"yParity", c.decFlipped() ? "-" : "+"},
    });
}

void RemoteGuider::registerPreciseMethods(JsonRpcDispatcher& d)
{
    d.add("clear_calibration", [this](const QJsonValue& params) {
        const QJsonValue which = RpcParams(params, {"which"})["which"];
        const QString w = which.isString() ? which.toString().toLower() : QStringLiteral("both");
        if (w != QLatin1String("mount") && w != QLatin1String("ao") && w != QLatin1String("both"))
            return RpcReply::invalidParams(QStringLiteral("expected which param: \"mount\", \"ao\" or \"both\""));
        if (calibrating())
            return RpcReply::failed(QStringLiteral("cannot clear the calibration while calibrating"));
        if (w != QLatin1String("ao"))  // there is no AO
            core_.precise.clearCalibration();
        return RpcReply::ok(0);
    });
    d.add("flip_calibration", [this](const QJsonValue&) {
        if (!core_.precise.calibration())
            return RpcReply::failed(QStringLiteral("Not calibrated"));
        core_.precise.flipCalibration();
        return RpcReply::ok(0);
    });
    d.add("get_calibration_data", [this](const QJsonValue& params) {
        const QJsonValue which = RpcParams(params, {"which"})["which"];
        if (which.isString() && which.toString().compare(QLatin1String("Mount"), Qt::CaseInsensitive) != 0)
            return RpcReply::failed(QStringLiteral("no AO: only the mount has a calibration"));
        return calibrationData();
    });
    d.add("set_lock_position", [this](const QJsonValue& p) { return setLockPosition(p); });
}
