// The guider as an imaging suite sees it.
#include "qt/remoteguider.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QSysInfo>

#include <algorithm>
#include <cmath>
#include <random>

#include "core/guider.h"
#include "core/log/guidelog.h"
#include "core/log/guidestep.h"
#include "core/log/runstats.h"
#include "core/measure/findstar.h"
#include "core/measure/measure.h"
#include "core/server/capturehost.h"
#include "core/server/dither.h"
#include "core/server/exposure.h"
#include "core/settings/tparam.h"
#include "core/state.h"

namespace {

double round3(double v) { return std::isfinite(v) ? std::round(v * 1000.0) / 1000.0 : 0.0; }

QJsonArray point(int x, int y) { return QJsonArray{x, y}; }

// PHD2 takes true/false or 1/0.
std::optional<bool> boolValue(const QJsonValue& v)
{
    if (v.isBool())
        return v.toBool();
    if (v.isDouble() && (v.toDouble() == 0 || v.toDouble() == 1))
        return v.toDouble() != 0;
    return std::nullopt;
}

std::optional<double> number(const QJsonValue& v)
{
    if (!v.isDouble() || !std::isfinite(v.toDouble()))
        return std::nullopt;
    return v.toDouble();
}

// {"pixels":P,"time":T,"timeout":S[,"frames":F]}: the first three, none
// below zero; the times in whole seconds, as PHD2 takes them.
std::optional<SettleParams> settleParams(const QJsonValue& v, QString& why)
{
    why = QStringLiteral("expected settle object param with pixels, time and timeout");
    if (!v.isObject())
        return std::nullopt;
    const QJsonObject o = v.toObject();
    const auto pixels = number(o.value(QStringLiteral("pixels")));
    const auto time = number(o.value(QStringLiteral("time")));
    const auto timeout = number(o.value(QStringLiteral("timeout")));
    if (!pixels || !time || !timeout)
        return std::nullopt;
    if (*pixels <= 0 || *time < 0 || *timeout < 0 || *time > 1e9 || *timeout > 1e9) {
        why = QStringLiteral("settle pixels must be above zero, time and timeout not below zero");
        return std::nullopt;
    }
    SettleParams settle{*pixels, std::floor(*time), std::floor(*timeout)};
    const QJsonValue frames = o.value(QStringLiteral("frames"));
    if (!frames.isUndefined()) {
        const auto n = number(frames);
        if (!n || *n < 1) {
            why = QStringLiteral("settle frames must be a number of frames from 1");
            return std::nullopt;
        }
        settle.frames = int(std::min(*n, double(SettleParams::kNoFrameLimit)));
    }
    return settle;
}

}  // namespace

RemoteGuider::RemoteGuider(SharedState& state, GuiderCore& core, CaptureHost& host)
    : state_(state), core_(core), host_(host), acquirer_(state, core.session), hostName_(QSysInfo::machineHostName())
{
    auto engine = std::make_shared<std::mt19937>(std::random_device{}());
    uniform_ = [engine] { return std::uniform_real_distribution<double>(0.0, 1.0)(*engine); };
    listener_ = core_.session.addListener([this](const SessionEvent& e) { onSession(e); });
    published_ = appState();
}

RemoteGuider::~RemoteGuider() { core_.session.removeListener(listener_); }

bool RemoteGuider::guiding() const { return state_.trackingOn || state_.graphSuspended; }

AppState RemoteGuider::appState() const
{
    AppStateInputs in;
    in.capturing = state_.captureRunning;
    in.tracking = state_.trackingOn;
    in.paused = state_.graphSuspended;
    in.starSelected = selected_;
    in.starLost = starLost_;
    return deriveAppState(in);
}

// ------------------------------------------------------------------ events

QJsonObject RemoteGuider::event(const char* name) const
{
    QJsonObject e;
    e.insert(QStringLiteral("Event"), QString::fromLatin1(name));
    e.insert(QStringLiteral("Timestamp"), double(QDateTime::currentMSecsSinceEpoch()) / 1000.0);
    e.insert(QStringLiteral("Host"), hostName_);
    e.insert(QStringLiteral("Inst"), 1);
    return e;
}

void RemoteGuider::publish(const QJsonObject& e)
{
    if (publish_)
        publish_(e);
}

void RemoteGuider::publishState()
{
    if (holdState_ > 0)  // a request under way publishes where it ends, not the steps on the way
        return;
    const AppState now = appState();
    if (now == published_)
        return;
    published_ = now;
    QJsonObject e = event("AppState");
    e.insert(QStringLiteral("State"), QString::fromLatin1(appStateName(now)));
    publish(e);
}

QJsonObject RemoteGuider::lockEvent() const
{
    QJsonObject e = event("LockPositionSet");
    e.insert(QStringLiteral("X"), state_.referenceX);
    e.insert(QStringLiteral("Y"), state_.referenceY);
    return e;
}

QJsonObject RemoteGuider::starEvent() const
{
    QJsonObject e = event("StarSelected");
    e.insert(QStringLiteral("X"), starX_);
    e.insert(QStringLiteral("Y"), starY_);
    return e;
}

std::vector<QJsonObject> RemoteGuider::catchUpEvents() const
{
    std::vector<QJsonObject> out;
    QJsonObject v = event("Version");
    v.insert(QStringLiteral("PHDVersion"), QString::fromLatin1(kVersion));
    v.insert(QStringLiteral("PHDSubver"), QString());
    v.insert(QStringLiteral("OverlapSupport"), true);
    v.insert(QStringLiteral("MsgVersion"), 1);
    out.push_back(v);
    if (guiding())
        out.push_back(lockEvent());
    if (selected_ && state_.captureRunning)
        out.push_back(starEvent());
    QJsonObject s = event("AppState");
    s.insert(QStringLiteral("State"), QString::fromLatin1(appStateName(appState())));
    out.push_back(s);
    return out;
}

void RemoteGuider::onSession(const SessionEvent& e)
{
    using Kind = SessionEvent::Kind;
    switch (e.kind) {
    case Kind::Started:
        // "Track" in the window, or the star acquirer of a guide request.
        starLost_ = false;
        selected_ = true;
        starX_ = state_.referenceX;
        starY_ = state_.referenceY;
        guideFrame_ = 0;
        guideStartUs_ = state_.clock.nowUs();
        avgDist_ = 0;
        acquiring_ = false;
        acquirer_.cancel();
        publish(lockEvent());
        publish(event("StartGuiding"));
        if (pendingSettle_) {
            settler_.begin(*pendingSettle_, guideStartUs_);
            pendingSettle_.reset();
        }
        break;
    case Kind::Stopped: {
        starLost_ = false;
        publish(event("GuidingStopped"));
        giveUpSettling("guiding stopped");
        break;
    }
    case Kind::Suspended:
        publish(event("Paused"));
        break;
    case Kind::Resumed:
        publish(event("Resumed"));
        break;
    case Kind::LockMoved:
        publish(lockEvent());
        break;
    case Kind::Cycle:
        if (e.cycle)
            onCycle(*e.cycle);
        break;
    }
    publishState();
}

void RemoteGuider::onCycle(const CycleResult& c)
{
    // Cycles over a picture no camera refreshes mean nothing to a client.
    if (!state_.captureRunning)
        return;
    ++frame_;
    const Measurement& m = c.measurement;
    if ((selected_ || guiding()) && !m.gated && m.population >= 5 && m.population <= 200) {
        starX_ = state_.regionX + m.centroidX;
        starY_ = state_.regionY + m.centroidY;
    }
    if (c.tracking) {
        guideStep(c);
    } else {
        if (!state_.graphSuspended) {
            QJsonObject e = event("LoopingExposures");
            e.insert(QStringLiteral("Frame"), frame_);
            publish(e);
        }
        if (const auto done = settler_.onIdle(c.timeUs))
            settleDone(*done);
    }
    if (acquiring_) {
        // Locks through the session (Started above) or gives up.
        if (acquirer_.onCycle(c, core_.acquisition.lastFrame().view(), core_.acquisition.lastValues()) == StarAcquirer::Step::NotFound) {
            acquiring_ = false;
            giveUpSettling("could not find a guide star");
        }
    }
}

void RemoteGuider::guideStep(const CycleResult& c)
{
    ++guideFrame_;
    const GuideStepFigures f = guideStepFigures(c, *state_.params);
    const double t = round3(double(c.timeUs - guideStartUs_) / 1e6);
    if (f.dropped) {
        starLost_ = true;
        QJsonObject e = event("StarLost");
        e.insert(QStringLiteral("Frame"), guideFrame_);
        e.insert(QStringLiteral("Time"), t);
        e.insert(QStringLiteral("StarMass"), 0);
        e.insert(QStringLiteral("SNR"), 0);
        e.insert(QStringLiteral("AvgDist"), round3(avgDist_));
        e.insert(QStringLiteral("ErrorCode"), 2);
        e.insert(QStringLiteral("Status"), QStringLiteral("Star lost"));
        publish(e);
    } else {
        starLost_ = false;
        const double distance = std::hypot(f.raDistance, f.decDistance);
        // PHD2's AvgDist: the distance smoothed over the last few frames.
        avgDist_ = guideFrame_ == 1 ? distance : avgDist_ + 0.3 * (distance - avgDist_);
        QJsonObject e = event("GuideStep");
        e.insert(QStringLiteral("Frame"), guideFrame_);
        e.insert(QStringLiteral("Time"), t);
        e.insert(QStringLiteral("Mount"), QString::fromStdString(interfaceName(state_.params->interfaceType)));
        e.insert(QStringLiteral("dx"), f.dx);
        e.insert(QStringLiteral("dy"), f.dy);
        e.insert(QStringLiteral("RADistanceRaw"), f.raDistance);
        e.insert(QStringLiteral("DECDistanceRaw"), f.decDistance);
        e.insert(QStringLiteral("RADistanceGuide"), f.raGuideDistance);
        e.insert(QStringLiteral("DECDistanceGuide"), f.decGuideDistance);
        if (f.raDirection) {
            e.insert(QStringLiteral("RADuration"), f.raMs);
            e.insert(QStringLiteral("RADirection"), QString::fromLatin1(directionName(*f.raDirection)));
        }
        if (f.decDirection) {
            e.insert(QStringLiteral("DECDuration"), f.decMs);
            e.insert(QStringLiteral("DECDirection"), QString::fromLatin1(directionName(*f.decDirection)));
        }
        e.insert(QStringLiteral("StarMass"), std::round(f.starMass));
        e.insert(QStringLiteral("SNR"), std::round(f.snr * 100) / 100);
        e.insert(QStringLiteral("AvgDist"), round3(avgDist_));
        publish(e);
    }
    if (!settler_.active())
        return;
    // PHD2 settles on its smoothed distance, AvgDist.
    SettleProgress p;
    if (const auto done = settler_.onFrame(avgDist_, !f.dropped, c.timeUs, p)) {
        settleDone(*done);
        return;
    }
    QJsonObject s = event("Settling");
    s.insert(QStringLiteral("Distance"), std::round(p.distance * 100) / 100);
    s.insert(QStringLiteral("Time"), std::round(p.timeInRangeSec * 10) / 10);
    s.insert(QStringLiteral("SettleTime"), p.settleTimeSec);
    s.insert(QStringLiteral("StarLocked"), p.starLocked);
    publish(s);
}

void RemoteGuider::afterTick(const AcquisitionLoop::Tick& tick)
{
    if (tick.grab == GrabStatus::Lost) {
        QJsonObject a = event("Alert");
        a.insert(QStringLiteral("Msg"), QStringLiteral("camera lost: %1").arg(QString::fromStdString(tick.error)));
        a.insert(QStringLiteral("Type"), QStringLiteral("error"));
        publish(a);
        ++holdState_;
        if (guiding())
            core_.session.stopTracking();
        captureStopped();
        equipmentConnected_ = false;
        --holdState_;
    }
    publishState();
}

void RemoteGuider::captureStopped()
{
    giveUpSettling("capture stopped");
    selected_ = false;
    starLost_ = false;
    publish(event("LoopingExposuresStopped"));
}

void RemoteGuider::beginSettling(const SettleParams& settle)
{
    publish(event("SettleBegin"));
    if (log_)
        log_->settling(GuideLog::Settling::Started);
    settler_.begin(settle, state_.clock.nowUs());
}

bool RemoteGuider::settling() const { return settler_.active() || pendingSettle_.has_value(); }

void RemoteGuider::settleDone(const SettleOutcome& o)
{
    QJsonObject e = event("SettleDone");
    e.insert(QStringLiteral("Status"), o.settled ? 0 : 1);
    if (!o.settled)
        e.insert(QStringLiteral("Error"), QString::fromStdString(o.error));
    e.insert(QStringLiteral("TotalFrames"), o.totalFrames);
    e.insert(QStringLiteral("DroppedFrames"), o.droppedFrames);
    publish(e);
    if (log_)
        log_->settling(o.settled ? GuideLog::Settling::Complete : GuideLog::Settling::Failed);
}

void RemoteGuider::giveUpSettling(const std::string& why)
{
    if (acquiring_) {
        acquiring_ = false;
        acquirer_.cancel();
    }
    if (pendingSettle_) {
        pendingSettle_.reset();
        settleDone(SettleOutcome{false, why, 0, 0});
    } else if (settler_.active()) {
        settleDone(settler_.cancel(why));
    }
}

// ----------------------------------------------------------------- methods

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
        return RpcReply::ok(scale > 0 ? QJsonValue(round3(scale)) : QJsonValue(QJsonValue::Null));
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
    // The gains come from the optics in the settings: there is no calibration run.
    plain("get_calibrated", [] { return RpcReply::ok(true); });
    plain("get_dec_guide_mode", [this] { return decGuideMode(); });
    plain("get_lock_position", [this] {
        return RpcReply::ok(guiding() ? QJsonValue(point(state_.referenceX, state_.referenceY))
                                        : QJsonValue(QJsonValue::Null));
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
}

std::optional<QString> RemoteGuider::ensureCapture()
{
    if (state_.captureRunning)
        return std::nullopt;
    const CaptureStatus status = host_.startCapture();
    if (!status.ok || !state_.captureRunning)
        return QStringLiteral("no camera at entry %1: %2")
            .arg(state_.driverIndex)
            .arg(QString::fromStdString(status.ok ? std::string("not running") : status.error));
    frame_ = 0;
    selected_ = false;
    starLost_ = false;
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
    const int32_t type = state_.params->interfaceType;
    // The serial outputs need their port open; the LED window is always
    // there, and an INDI mount is connected while its link is up.
    const bool serial = type == RelayBox || type == Lx200 || type == MeadeEtx;
    const bool mountConnected = serial ? core_.line.comHandle() >= 0 : core_.mount.output().ready();
    return RpcReply::ok(QJsonObject{
        {"camera", QJsonObject{{"name", cameraName}, {"connected", cameraConnected()}}},
        {"mount", QJsonObject{{"name", QString::fromStdString(interfaceName(type))}, {"connected", mountConnected}}},
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
    if (state_.params->interfaceType == RelayBox)
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

std::optional<QString> RemoteGuider::selectStar(const std::optional<Roi>& roi)
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
    starX_ = star->x + ox;
    starY_ = star->y + oy;
    host_.placeRegion(starX_, starY_);
    selected_ = true;
    publish(starEvent());
    publishState();
    return std::nullopt;
}

namespace {

// [x, y, width, height] in picture pixels, cut to the picture.
bool parseRoi(const QJsonValue& v, int& x, int& y, int& w, int& h)
{
    const QJsonArray a = v.toArray();
    if (!v.isArray() || a.size() != 4)
        return false;
    double n[4];
    for (int i = 0; i < 4; ++i) {
        const auto d = number(a.at(i));
        if (!d || std::fabs(*d) > 1e6)
            return false;
        n[i] = std::floor(*d);
    }
    const int x0 = int(std::max(n[0], 0.0)), y0 = int(std::max(n[1], 0.0));
    const int x1 = int(std::min(n[0] + n[2], double(Picture::width)));
    const int y1 = int(std::min(n[1] + n[3], double(Picture::height)));
    if (n[2] <= 0 || n[3] <= 0 || x1 <= x0 || y1 <= y0)
        return false;
    x = x0, y = y0, w = x1 - x0, h = y1 - y0;
    return true;
}

}  // namespace

RpcReply RemoteGuider::findStar(const QJsonValue& params)
{
    const QJsonValue roiValue = RpcParams(params, {"roi"})["roi"];
    std::optional<Roi> roi;
    if (!roiValue.isUndefined() && !roiValue.isNull()) {
        Roi r;
        if (!parseRoi(roiValue, r.x, r.y, r.width, r.height))
            return RpcReply::invalidParams(QStringLiteral("expected roi [x, y, width, height] inside the 320 x 240 frame"));
        roi = r;
    }
    if (guiding())
        return RpcReply::failed(QStringLiteral("could not find star: guiding is on"));
    if (const auto why = selectStar(roi))
        return RpcReply::failed(*why);
    return RpcReply::ok(point(starX_, starY_));
}

RpcReply RemoteGuider::guide(const QJsonValue& params)
{
    const RpcParams p(params, {"settle", "recalibrate", "roi"});
    QString why;
    const auto settle = settleParams(p["settle"], why);
    if (!settle)
        return RpcReply::invalidParams(why);
    // Nothing to calibrate: the gains come from the optics.
    if (p.has("recalibrate") && !boolValue(p["recalibrate"]))
        return RpcReply::invalidParams(QStringLiteral("expected bool value for recalibrate"));
    std::optional<Roi> roi;
    if (p.has("roi") && !p["roi"].isNull()) {
        Roi r;
        if (!parseRoi(p["roi"], r.x, r.y, r.width, r.height))
            return RpcReply::invalidParams(QStringLiteral("expected roi [x, y, width, height] inside the 320 x 240 frame"));
        roi = r;
    }
    if (settling())
        return RpcReply::failed(QStringLiteral("cannot initiate guide while a settle is in progress"));
    if (!opticsUsable(state_))
        return RpcReply::failed(QStringLiteral(
            "the settings give no usable correction: set the focal length, pixel size and guide speeds"));
    if (const auto why = ensureCapture())
        return RpcReply::failed(QStringLiteral("could not start guiding: ") + *why);

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
    if (roi && !selected_) {
        if (const auto why = selectStar(roi))
            return RpcReply::failed(*why);
    }
    if (!acquiring_)
        acquirer_.begin(15, !selected_);
    acquiring_ = true;
    pendingSettle_ = *settle;
    publish(event("SettleBegin"));
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
    const auto settle = settleParams(p["settle"], why);
    if (!settle)
        return RpcReply::invalidParams(why);
    if (!state_.trackingOn)
        return RpcReply::failed(QStringLiteral("cannot dither when not guiding"));
    if (settling())
        return RpcReply::failed(QStringLiteral("cannot initiate dither while a settle is in progress"));

    const DitherTarget t = ditherLock(state_.referenceX, state_.referenceY, state_.regionX, state_.regionY,
                                      *amount, raOnly, uniform_);
    core_.session.moveLock(t.lockX, t.lockY);
    if (log_)
        log_->dither(t.dx, t.dy);
    QJsonObject e = event("GuidingDithered");
    e.insert(QStringLiteral("dx"), t.dx);
    e.insert(QStringLiteral("dy"), t.dy);
    publish(e);
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
    selected_ = false;
    if (guiding())
        core_.session.stopTracking();
    giveUpSettling("guiding stopped");
    if (state_.captureRunning || core_.acquisition.connected()) {
        host_.stopCapture();
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
    if (!state_.captureRunning || !(selected_ || guiding()))
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
        {"star_pos", point(starX_ - state_.regionX, starY_ - state_.regionY)},
        {"pixels", QString::fromLatin1(pixels.toBase64())},
    });
}
