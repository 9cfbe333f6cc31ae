// The acquisition loop.
#include "core/capture/acquisition.h"

#include <algorithm>

#include "core/session.h"
#include "core/state.h"

AcquisitionLoop::AcquisitionLoop(SharedState& state, GuidingSession& session,
                                 std::function<CaptureDriverList()> scan)
    : state_(state), session_(session), scan_(std::move(scan))
{
}

AcquisitionLoop::~AcquisitionLoop()
{
    disconnect();
}

void AcquisitionLoop::setScan(std::function<CaptureDriverList()> scan)
{
    disconnect();
    scan_ = std::move(scan);
    scanned_ = false;
}

const CaptureDriverList& AcquisitionLoop::drivers()
{
    if (!scanned_)
        rescan();
    return drivers_;
}

void AcquisitionLoop::rescan()
{
    if (current_)
        return;
    drivers_ = scan_ ? scan_() : CaptureDriverList{};
    scanned_ = true;
}

CaptureStatus AcquisitionLoop::connect(int index)
{
    disconnect();
    const CaptureDriverList& list = drivers();
    if (index < 0 || index >= int(list.size()))
        return CaptureStatus::failure("no capture driver at entry " + std::to_string(index));
    CaptureDriver& driver = *list[size_t(index)];
    const CaptureStatus status = driver.connect();
    if (!status.ok)
        return status;
    current_ = &driver;
    frames_ = measuredFrame_ = 0;
    session_.clearStarSelection();  // a star chosen on another camera's pictures
    state_.lastAnalysisTime = state_.clock.nowMs();
    state_.captureRunning = true;
    return status;
}

void AcquisitionLoop::disconnect()
{
    if (current_) {
        current_->disconnect();
        session_.clearStarSelection();
    }
    current_ = nullptr;
    state_.captureRunning = false;
}

AcquisitionLoop::Tick AcquisitionLoop::tick()
{
    Tick t;
    if (current_) {
        t.grab = current_->grab(state_.picture, t.error);
        if (t.grab == GrabStatus::NewFrame) {
            ++frames_;
            lastValues_ = current_->pictureValues();
            if (lastValues_ && lastValues_->size() != state_.picture.bits.size())
                lastValues_.reset();
            const int64_t age = current_->frameAgeUs();
            frameExposedUs_ = state_.clock.nowUs() - std::max<int64_t>(age, 0);
        } else if (t.grab == GrabStatus::Lost) {
            disconnect();
            if (state_.trackingOn || state_.graphSuspended)
                session_.stopTracking();
        }
    }
    if (state_.darkPending) {
        session_.acquireDark(state_.picture.view());
        t.darkTaken = true;
    }
    const int64_t now = state_.clock.nowMs();
    // Without a camera nothing new ever comes: no cycle measures the last
    // picture again.
    const bool newFrame = current_ && frames_ != measuredFrame_;
    const bool frameAfterCorrection = frameExposedUs_ >= session_.correctionEndsUs();
    if (now - state_.lastAnalysisTime > kCycleMs && newFrame && frameAfterCorrection) {
        state_.lastAnalysisTime = now;
        measuredFrame_ = frames_;
        t.cycle = &session_.measureCycle(state_.picture.view());
    }
    // A copy: a listener may add or remove listeners.
    const std::vector<Listener> listeners = listeners_;
    for (const Listener& l : listeners)
        l.call(t);
    holdForMove();  // the cycle's pulses, and a listener's: a dither, a calibration step
    return t;
}

void AcquisitionLoop::holdForMove()
{
    const int64_t moveEnds = session_.correctionEndsUs();
    if (current_ && moveEnds > heldUntilUs_ && moveEnds > state_.clock.nowUs()) {
        heldUntilUs_ = moveEnds;
        current_->holdExposuresUntil(moveEnds);
    }
}

int AcquisitionLoop::addTickListener(std::function<void(const Tick&)> listener)
{
    listeners_.push_back({nextListener_, std::move(listener)});
    return nextListener_++;
}

void AcquisitionLoop::removeTickListener(int id)
{
    std::erase_if(listeners_, [id](const Listener& l) { return l.id == id; });
}

const Picture& AcquisitionLoop::lastFrame() const { return state_.picture; }
