// The guiding session.
#include "core/session.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/guide/mountcontrol.h"
#include "core/state.h"

GuidingSession::GuidingSession(SharedState& state, MountControl& mount) : state_(state), mount_(mount) {}

correction::Inputs correctionInputs(const SharedState& state, int dx, int dy)
{
    const tparam& p = *state.params;
    correction::Inputs in;
    in.dx = dx;
    in.dy = dy;
    in.focalLengthCm = p.focalLength;
    in.pixelSizeUm = p.pixelSize;
    in.raSpeedArcsecPerSec = p.raSpeed;
    in.decSpeedArcsecPerSec = p.decSpeed;
    in.invertRa = p.invertRa != 0;
    in.invertDec = p.invertDec != 0;
    in.inhibitDecPlus = state.inhibitDecPlus;
    in.inhibitDecMinus = state.inhibitDecMinus;
    return in;
}

bool opticsUsable(const SharedState& state)
{
    return correction::compute(correctionInputs(state, 1, 1)).valid;
}

void GuidingSession::apply(const Measurement& m)
{
    state_.detectionThreshold = m.threshold;
    state_.greyHistogram = m.greyHistogram;
    state_.columnCounts = m.columnCounts;
    state_.rowCounts = m.rowCounts;
    state_.population = m.population;
    state_.peakLevel = m.peakLevel;
    state_.centroidX = m.centroidX;
    state_.centroidY = m.centroidY;
}

const CycleResult& GuidingSession::measureCycle(const PixelView& picture)
{
    MeasureInputs in;
    in.regionX = state_.regionX;
    in.regionY = state_.regionY;
    in.threshold = chooseThreshold(state_.manualThresholdOn, state_.manualThreshold, state_.peakLevel);
    in.invert = state_.params && state_.params->darkSpotGuiding == 1;
    in.trackingOn = state_.trackingOn;
    in.referenceX = state_.referenceX;
    in.referenceY = state_.referenceY;

    last_ = CycleResult{};
    last_.timeUs = state_.clock.nowUs();
    last_.measurement = analysis.measure(picture, in);
    if (!last_.measurement.gated && last_.measurement.population > 0)
        last_.flux = starFlux(analysis.zoomFrame, last_.measurement.centroidX, last_.measurement.centroidY);
    apply(last_.measurement);
    const Measurement& m = last_.measurement;
    if ((starSelected_ || state_.trackingOn || state_.graphSuspended) && !m.gated && m.population >= 5 &&
        m.population <= 200) {
        starX_ = state_.regionX + m.centroidX;
        starY_ = state_.regionY + m.centroidY;
    }
    last_.tracking = state_.trackingOn;
    if (cycleHook_ && cycleHook_(last_, picture)) {
        correctionEndsUs_ = std::max(correctionEndsUs_, last_.pulses.endUs());
    } else if (last_.tracking) {
        last_.dx = state_.errorX();
        last_.dy = state_.errorY();
        correct(last_.dx, last_.dy);
    }
    notify(SessionEvent::Kind::Cycle, &last_);
    return last_;
}

const correction::Result& GuidingSession::correct(int dx, int dy)
{
    last_.correction = correction::compute(correctionInputs(state_, dx, dy));
    last_.sent = sendsCorrections && last_.correction.valid;
    last_.pulses = last_.sent ? mount_.sendCorrection(last_.correction) : SentCorrection{};
    correctionEndsUs_ = std::max(correctionEndsUs_, last_.pulses.endUs());
    return last_.correction;
}

void GuidingSession::startTracking()
{
    state_.referenceX = state_.regionX + state_.centroidX;
    state_.referenceY = state_.regionY + state_.centroidY;
    lockX_ = state_.referenceX;
    lockY_ = state_.referenceY;
    state_.trackingOn = true;
    state_.graphSuspended = false;  // a new start is never suspended
    starSelected_ = true;
    starX_ = state_.referenceX;
    starY_ = state_.referenceY;
    notify(SessionEvent::Kind::Started);
}

void GuidingSession::trackAt(int lockX, int lockY)
{
    state_.referenceX = lockX;
    state_.referenceY = lockY;
    lockX_ = lockX;
    lockY_ = lockY;
    state_.trackingOn = true;
    state_.graphSuspended = false;
    notify(SessionEvent::Kind::Started);
}

void GuidingSession::setRegionCorner(int x, int y)
{
    state_.regionX = x;
    state_.regionY = y;
    notify(SessionEvent::Kind::RegionMoved);
}

void GuidingSession::stopTracking()
{
    state_.trackingOn = false;
    state_.graphSuspended = false;  // a stopped guiding is no longer suspended
    notify(SessionEvent::Kind::Stopped);
}

void GuidingSession::suspend()
{
    if (state_.graphSuspended)
        return;
    state_.trackingOn = false;
    state_.graphSuspended = true;
    notify(SessionEvent::Kind::Suspended);
}

void GuidingSession::resume()
{
    if (!state_.graphSuspended)
        return;
    state_.trackingOn = true;
    state_.graphSuspended = false;
    notify(SessionEvent::Kind::Resumed);
}

void GuidingSession::moveLock(int referenceX, int referenceY)
{
    if (std::lround(lockX_) != referenceX || std::lround(lockY_) != referenceY) {
        lockX_ = referenceX;  // a whole-pixel lock (moveLock(double) set the fraction first)
        lockY_ = referenceY;
    }
    state_.referenceX = referenceX;
    state_.referenceY = referenceY;
    notify(SessionEvent::Kind::LockMoved);
}

void GuidingSession::moveLock(double x, double y)
{
    lockX_ = x;
    lockY_ = y;
    moveLock(int(std::lround(x)), int(std::lround(y)));
}

double GuidingSession::lockX() const
{
    return std::lround(lockX_) == state_.referenceX && std::lround(lockY_) == state_.referenceY ? lockX_
                                                                                              : state_.referenceX;
}

double GuidingSession::lockY() const
{
    return std::lround(lockX_) == state_.referenceX && std::lround(lockY_) == state_.referenceY ? lockY_
                                                                                              : state_.referenceY;
}

void GuidingSession::pulsesSent(const SentCorrection& sent)
{
    correctionEndsUs_ = std::max(correctionEndsUs_, sent.endUs());
}

void GuidingSession::placeRegion(int centreX, int centreY)
{
    int64_t x = int64_t(centreX) - 50;
    int64_t y = int64_t(centreY) - 50;
    if (state_.trackingOn) {
        x = std::min(std::max(x, int64_t(state_.referenceX) - 90), int64_t(state_.referenceX) - 10);
        y = std::min(std::max(y, int64_t(state_.referenceY) - 90), int64_t(state_.referenceY) - 10);
    } else {
        x = std::clamp<int64_t>(x, 2, 218);
        y = std::clamp<int64_t>(y, 2, 138);
    }
    state_.regionX = int32_t(std::clamp<int64_t>(x, INT32_MIN, INT32_MAX));
    state_.regionY = int32_t(std::clamp<int64_t>(y, INT32_MIN, INT32_MAX));
    notify(SessionEvent::Kind::RegionMoved);
}

void GuidingSession::selectStar(int x, int y)
{
    starX_ = x;
    starY_ = y;
    starSelected_ = true;
    placeRegion(x, y);
}

bool GuidingSession::starLost() const
{
    return state_.trackingOn && last_.tracking && last_.measurement.gated;
}

DarkArmingStep GuidingSession::acquireDark(const PixelView& picture)
{
    const DarkArmingStep step = advanceDarkArming(state_.darkPending);
    if (step.captureNow)
        analysis.CaptureDark(picture);
    return step;
}

int GuidingSession::addListener(std::function<void(const SessionEvent&)> listener)
{
    listeners_.push_back({nextId_, std::move(listener)});
    return nextId_++;
}

void GuidingSession::removeListener(int id)
{
    std::erase_if(listeners_, [id](const Entry& e) { return e.id == id; });
}

void GuidingSession::notify(SessionEvent::Kind kind, const CycleResult* cycle)
{
    const SessionEvent e{kind, cycle};
    const std::vector<Entry> current = listeners_;
    for (const Entry& entry : current)
        entry.listener(e);
}
