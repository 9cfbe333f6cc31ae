// The precise mode's loop: measuring, calibrating and guiding in fractions
// of a pixel on the session's cycles.
#include "core/precise/precisemode.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/capture/acquisition.h"
#include "core/guide/correction.h"
#include "core/guide/mountchannel.h"
#include "core/guide/mountcontrol.h"
#include "core/log/guidelog.h"
#include "core/log/runstats.h"
#include "core/session.h"
#include "core/state.h"

namespace {

std::string nowText()
{
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
    return buf;
}

}  // namespace

PreciseMode::PreciseMode(SharedState& state, GuidingSession& session, MountControl& mount,
                         AcquisitionLoop& acquisition)
    : state_(state), session_(session), mount_(mount), acquisition_(acquisition)
{
    sessionListener_ = session_.addListener([this](const SessionEvent& e) {
        if (e.kind == SessionEvent::Kind::Started) {
            // The lock becomes the precise star of the next cycle.
            lockPending_ = true;
            guider.reset();
            finder.resetMassHistory();
        } else if (e.kind == SessionEvent::Kind::Resumed) {
            guider.reset();
        }
    });
}

void PreciseMode::onTick(bool newFrame, bool cycle)
{
    if (!status_.on || cycle || !newFrame || !state_.trackingOn)
        return;
    if (calibrator_ && status_.calib == PreciseStatus::Calib::Running)
        return;
    if (acquisition_.frameExposedUs() < session_.correctionEndsUs())
        return;  // the star still moving under the last pulse
    if (!measure(state_.picture.view()))
        return;
    sumX_ += star_.x;
    sumY_ += star_.y;
    ++frames_;
}

PreciseMode::~PreciseMode()
{
    session_.setCycleHook({});
    session_.removeListener(sessionListener_);
    // The acquisition loop, built after this, is gone already with its listeners.
}

void PreciseMode::setOn(bool on)
{
    if (on == status_.on)
        return;
    status_.on = on;
    if (on) {
        session_.setCycleHook([this](CycleResult& c, const PixelView& picture) { return cycle(c, picture); });
        // (Not in the constructor: the acquisition loop is built after this.)
        tickListener_ = acquisition_.addTickListener(
            [this](const AcquisitionLoop::Tick& t) { onTick(t.grab == GrabStatus::NewFrame, t.cycle != nullptr); });
        finder.resetMassHistory();
        guider.reset();
        calibrationValid();
    } else {
        session_.setCycleHook({});
        acquisition_.removeTickListener(tickListener_);
        sumX_ = sumY_ = 0;
        frames_ = 0;
        if (calibrator_ && status_.calib == PreciseStatus::Calib::Running) {
            calibrator_.reset();
            status_.calib = PreciseStatus::Calib::None;
            status_.step.clear();
        }
        status_.haveError = false;
    }
    changed();
}

std::string PreciseMode::cameraName() const
{
    if (const CaptureDriver* d = acquisition_.connected())
        return d->name();
    return {};
}

double PreciseMode::imageScale() const { return state_.params ? usablePixelScale(*state_.params) : 0.0; }

bool PreciseMode::calibrationValid()
{
    if (!loaded_) {
        loaded_ = true;
        std::string error;
        if (auto s = loadCalibration(preciseCalibrationPath(settingsPath), error))
            useCalibration(*s);
    }
    const bool fits = stored_ && state_.params &&
                      calibrationFits(*stored_, state_.params->interfaceType, cameraName(), imageScale());
    status_.calibrated = fits;
    return fits;
}

std::optional<StoredCalibration> PreciseMode::calibration()
{
    calibrationValid();
    return stored_;
}

void PreciseMode::useCalibration(const StoredCalibration& stored)
{
    stored_ = stored;
    guider.calibration = stored.calibration;
    guider.reset();
    const Calibration& c = stored.calibration;
    status_.angleDeg = c.cameraAngleDegrees();
    status_.raRatePxS = c.xRate;
    status_.decRatePxS = c.yRate;
    status_.orthoErrDeg = c.orthogonalityErrorDegrees();
    status_.raFlipped = c.raFlipped();
    status_.decFlipped = c.decFlipped();
}

bool PreciseMode::measure(const PixelView& picture)
{
    region_.originX = state_.regionX;
    region_.originY = state_.regionY;
    std::optional<double> threshold;
    if (const float* values = acquisition_.lastValues()) {
        readValueRegion(values, picture.width, picture.height, state_.regionX, state_.regionY, region_);
    } else {
        readGreyRegion(picture, state_.regionX, state_.regionY, region_);
        // The threshold the design's measurement takes next: learned from
        // the last peak (or the manual one), never the 0 of a first cycle.
        threshold = chooseThreshold(state_.manualThresholdOn, state_.manualThreshold, state_.peakLevel);
    }
    star_ = finder.measure(region_, threshold, state_.clock.nowMs());
    return star_.found();
}

const PreciseStar& PreciseMode::measureNow()
{
    measure(state_.picture.view());
    return star_;
}

bool PreciseMode::calibrate()
{
    status_.errorFr.clear();
    error_.clear();
    auto refuse = [this](std::string english, std::string french) {
        error_ = std::move(english);
        status_.errorFr = std::move(french);
        status_.calib = PreciseStatus::Calib::Failed;
        changed();
        return false;
    };
    if (state_.trackingOn || state_.graphSuspended)
        return refuse("stop guiding before calibrating", "Arrêter le suivi avant de calibrer");
    if (!acquisition_.connected())
        return refuse("no camera connected", "Aucune caméra connectée");
    const tparam& p = *state_.params;
    const int stepMs = calibrationStepMs(p.raSpeed, p.decSpeed, imageScale());
    if (stepMs == 0)
        return refuse("the optics and guide speeds of the settings give no calibration step",
                      "Les paramètres d'optique et de vitesse ne permettent pas de calibrer");
    if (!measure(state_.picture.view()))
        return refuse(std::string("no star in the region: ") + starLossText(star_.loss),
                      std::string("Pas d'étoile dans la zone : ") + starLossTextFr(star_.loss));
    if (!status_.on)
        setOn(true);
    const double ratio = p.raSpeed > 0 && p.decSpeed > 0 ? p.decSpeed / p.raSpeed : 1.0;
    calibrator_ = std::make_unique<Calibrator>(stepMs, 25.0, ratio);
    const std::time_t now = std::time(nullptr);
    localtime_r(&now, &calibrationBegan_);
    finder.resetMassHistory();
    status_.calib = PreciseStatus::Calib::Running;
    status_.step = "West 0";
    changed();
    return true;
}

void PreciseMode::clearCalibration()
{
    stored_.reset();
    loaded_ = true;
    std::remove(preciseCalibrationPath(settingsPath).c_str());
    if (status_.calib == PreciseStatus::Calib::Done)
        status_.calib = PreciseStatus::Calib::None;
    status_.calibrated = false;
    status_.angleDeg = status_.raRatePxS = status_.decRatePxS = status_.orthoErrDeg = 0;
    status_.raFlipped = status_.decFlipped = false;
    changed();
}

void PreciseMode::flipCalibration()
{
    calibrationValid();
    if (!stored_)
        return;
    StoredCalibration flipped = *stored_;
    flipped.calibration.flip();
    saveCalibration(preciseCalibrationPath(settingsPath), flipped);
    useCalibration(flipped);
    calibrationValid();
    changed();
}

PointPx PreciseMode::ditherOffset(double ra, double dec, bool raOnly) const
{
    return guider.ditherOffset(ra, dec, raOnly);
}

bool PreciseMode::cycle(CycleResult& c, const PixelView& picture)
{
    const bool found = measure(picture);
    const double sumX = sumX_, sumY = sumY_;
    const int frames = frames_;
    sumX_ = sumY_ = 0;
    frames_ = 0;
    if (found && frames > 0 && c.tracking) {
        star_.x = (star_.x + sumX) / (frames + 1);
        star_.y = (star_.y + sumY) / (frames + 1);
    }
    if (calibrator_ && status_.calib == PreciseStatus::Calib::Running) {
        calibrationCycle(c);
        return true;
    }
    if (!c.tracking)
        return true;  // nothing to send: the design's cycle has nothing to do either
    if (!found) {
        c.measurement.gated = true;  // a star lost is a dropped frame
        status_.haveError = false;
        changed();
        return true;
    }
    guideCycle(c);
    return true;
}

SentCorrection PreciseMode::send(Direction raDir, int raMs, Direction decDir, int decMs, bool ra, bool dec)
{
    SentCorrection sent;
    GuideOutput& out = mount_.output();
    auto pulse = [&](GuideAxis axis, Direction d, int ms) {
        AxisPulse p;
        p.axis = axis;
        const bool positive = d == Direction::West || d == Direction::South;
        p.lengthMs = positive ? ms : -ms;
        // Relay codes by the sense of the correction (signs.h): West 0,
        // East 1, a positive (South) DEC pulse 2, a negative one 3.
        p.relayCode = axis == GuideAxis::Ra ? (positive ? 0 : 1) : (positive ? 2 : 3);
        p.relayCount = relayCountForMs(ms);
        if (axis == GuideAxis::Dec && out.honoursDecInhibits())
            p.timed = !((positive && state_.inhibitDecPlus) || (!positive && state_.inhibitDecMinus));
        return out.pulse(p);
    };
    if (ra)
        sent.ra = pulse(GuideAxis::Ra, raDir, raMs);
    if (ra && dec)
        mount_.channel().pauseMs(correction::kAxisGapMs);
    if (dec)
        sent.dec = pulse(GuideAxis::Dec, decDir, decMs);
    return sent;
}

void PreciseMode::calibrationCycle(CycleResult& c)
{
    Calibrator& cal = *calibrator_;
    const std::size_t before = cal.steps().size();
    const CalibrationAction action = star_.found() ? cal.update({star_.x, star_.y}) : cal.starLost();
    if (cal.steps().size() > before) {
        const CalibrationStep& s = cal.steps().back();
        status_.step = std::string(phaseName(s.phase)) + " " + std::to_string(s.step);
        const std::vector<StepListener> current = stepListeners_;
        for (const StepListener& l : current)
            l.call(&s);
    }
    if (action.kind == CalibrationAction::Kind::Pulse) {
        const bool ra = action.direction == Direction::West || action.direction == Direction::East;
        c.pulses = send(action.direction, action.ms, action.direction, action.ms, ra, !ra);
        c.sent = true;
        session_.pulsesSent(c.pulses);
        // The region follows the star (it moves some 25 px).
        if (star_.found())
            session_.placeRegion(int(std::lround(star_.x)), int(std::lround(star_.y)));
        changed();
        return;
    }
    endCalibration(action.kind == CalibrationAction::Kind::Done);
}

void PreciseMode::endCalibration(bool ok)
{
    const Calibrator& cal = *calibrator_;
    if (ok) {
        StoredCalibration s;
        s.calibration = cal.result();
        s.output = state_.params->interfaceType;
        s.camera = cameraName();
        s.imageScale = imageScale();
        s.stepMs = cal.stepMs();
        s.date = nowText();
        if (const int err = saveCalibration(preciseCalibrationPath(settingsPath), s); err != 0)
            error_ = std::string("the calibration could not be saved: ") + std::strerror(err);
        useCalibration(s);
        loaded_ = true;
        status_.calib = PreciseStatus::Calib::Done;
        calibrationValid();
    } else {
        error_ = cal.error();
        status_.errorFr = cal.errorFr();
        status_.calib = PreciseStatus::Calib::Failed;
    }
    status_.step.clear();
    const std::vector<StepListener> current = stepListeners_;
    for (const StepListener& l : current)
        l.call(nullptr);
    changed();
}

void PreciseMode::guideCycle(CycleResult& c)
{
    if (lockPending_) {
        lockPending_ = false;
        session_.moveLock(star_.x, star_.y);
    }
    const PointPx lock{session_.lockX(), session_.lockY()};
    const GuideStep g = guider.step({star_.x, star_.y}, lock);
    CycleResult::Precise p;
    p.errX = -g.offset.x;
    p.errY = -g.offset.y;
    p.raDistance = g.ra.distance;
    p.decDistance = g.dec.distance;
    c.precise = p;
    c.flux.mass = star_.mass;
    c.flux.snr = star_.snr;
    c.dx = int(std::lround(p.errX));
    c.dy = int(std::lround(p.errY));
    status_.errX = g.offset.x;
    status_.errY = g.offset.y;
    status_.haveError = true;
    if (session_.sendsCorrections && status_.calibrated && mount_.output().ready()) {
        c.pulses = send(g.ra.direction, g.ra.ms, g.dec.direction, g.dec.ms, g.ra.ms > 0, g.dec.ms > 0);
        c.sent = c.pulses.ra || c.pulses.dec;
    }
    changed();
}

std::vector<std::string> PreciseMode::calibrationLog() const
{
    if (!calibrator_)
        return {};
    CalibrationLogHeader h;
    h.begins = calibrationBegan_;
    h.imageScale = imageScale();
    h.focalLengthMm = state_.params ? int(std::lround(state_.params->focalLength * 10)) : 0;
    h.mount = state_.params ? interfaceName(state_.params->interfaceType) : std::string();
    h.camera = cameraName();
    return calibrationLogLines(h, *calibrator_);
}

std::optional<GuideLog::MountAxes> PreciseMode::logAxes()
{
    const auto stored = calibration();
    if (!stored)
        return std::nullopt;
    const Calibration& c = stored->calibration;
    const double deg = 180.0 / M_PI;
    return GuideLog::MountAxes{std::remainder(c.xAngle * deg, 360.0), c.xRate, std::remainder(c.yAngle * deg, 360.0),
                               c.yRate};
}

int PreciseMode::addListener(std::function<void()> changed)
{
    listeners_.push_back({nextId_, std::move(changed)});
    return nextId_++;
}

void PreciseMode::removeListener(int id)
{
    std::erase_if(listeners_, [id](const Listener& l) { return l.id == id; });
}

int PreciseMode::addStepListener(std::function<void(const CalibrationStep*)> step)
{
    stepListeners_.push_back({nextId_, std::move(step)});
    return nextId_++;
}

void PreciseMode::removeStepListener(int id)
{
    std::erase_if(stepListeners_, [id](const StepListener& l) { return l.id == id; });
}

void PreciseMode::changed()
{
    const std::vector<Listener> current = listeners_;
    for (const Listener& l : current)
        l.call();
}
