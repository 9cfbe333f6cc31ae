// The guider as an imaging suite sees it: the events, from the session's own
// and the acquisition loop's ticks, and the settling of a client's request.
#include "qt/remoteguider.h"

#include <QSysInfo>

#include <cmath>
#include <random>

#include "core/guider.h"
#include "core/log/guidelog.h"
#include "core/log/guidestep.h"
#include "core/settings/tparam.h"
#include "core/state.h"
#include "qt/looptimer.h"

RemoteGuider::RemoteGuider(SharedState& state, GuiderCore& core, LoopTimer& loop)
    : state_(state), core_(core), loop_(loop), events_(QSysInfo::machineHostName()), acquirer_(state, core.session)
{
    auto engine = std::make_shared<std::mt19937>(std::random_device{}());
    uniform_ = [engine] { return std::uniform_real_distribution<double>(0.0, 1.0)(*engine); };
    listener_ = core_.session.addListener([this](const SessionEvent& e) { onSession(e); });
    tickListener_ = core_.acquisition.addTickListener([this](const AcquisitionLoop::Tick& t) { afterTick(t); });
    published_ = appState();
}

RemoteGuider::~RemoteGuider()
{
    core_.acquisition.removeTickListener(tickListener_);
    core_.session.removeListener(listener_);
    if (stepListener_)
        core_.precise.removeStepListener(stepListener_);
}

bool RemoteGuider::guiding() const { return state_.trackingOn || state_.graphSuspended; }

AppState RemoteGuider::appState() const
{
    AppStateInputs in;
    in.capturing = state_.captureRunning;
    in.tracking = state_.trackingOn;
    in.paused = state_.graphSuspended;
    in.starSelected = core_.session.starSelected();
    in.starLost = core_.session.starLost();
    in.calibrating = calibrating();
    return deriveAppState(in);
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
    publish(events_.appState(now));
}

std::vector<QJsonObject> RemoteGuider::catchUpEvents() const
{
    std::vector<QJsonObject> out;
    out.push_back(events_.version(kVersion));
    if (guiding())
        out.push_back(events_.lockPositionSet(lockX(), lockY()));
    if (core_.session.starSelected() && state_.captureRunning)
        out.push_back(events_.starSelected(core_.session.starX(), core_.session.starY()));
    out.push_back(events_.appState(appState()));
    return out;
}

void RemoteGuider::onSession(const SessionEvent& e)
{
    using Kind = SessionEvent::Kind;
    switch (e.kind) {
    case Kind::Started:
        // "Track" in the window, or the star acquirer of a guide request.
        guideFrame_ = 0;
        guideStartUs_ = state_.clock.nowUs();
        avgDist_ = 0;
        acquirer_.cancel();
        if (request_.waitingForLock() && !selectedBefore_)  // the star a guide request found for itself
            publish(events_.starSelected(lockX(), lockY()));
        publish(events_.lockPositionSet(lockX(), lockY()));
        publish(events_.event("StartGuiding"));
        request_.locked(guideStartUs_);
        break;
    case Kind::Stopped:
        publish(events_.event("GuidingStopped"));
        giveUpSettling("guiding stopped");
        break;
    case Kind::Suspended:
        publish(events_.event("Paused"));
        break;
    case Kind::Resumed:
        publish(events_.event("Resumed"));
        break;
    case Kind::LockMoved:
        // A new lock (a dither): the distance starts again from it, so that a
        // settle judges the star against the new lock from the first frame.
        avgDistReset_ = true;
        publish(events_.lockPositionSet(lockX(), lockY()));
        break;
    case Kind::RegionMoved:
        return;
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
    if (c.tracking) {
        guideStep(c);
    } else {
        if (!state_.graphSuspended && !calibrating())
            publish(events_.loopingExposures(frame_));
        if (const auto done = request_.onIdle(c.timeUs))
            settleDone(*done);
    }
    // A guide waiting for its lock: locks through the session (Started
    // above) or gives up.
    if (acquirer_.looking() &&
        acquirer_.onCycle(c, core_.acquisition.lastFrame().view(), core_.acquisition.lastValues()) ==
            StarAcquirer::Step::NotFound)
        giveUpSettling("could not find a guide star");
}

void RemoteGuider::guideStep(const CycleResult& c)
{
    ++guideFrame_;
    const GuideStepFigures f = guideStepFigures(c, *state_.params);
    const double t = double(c.timeUs - guideStartUs_) / 1e6;
    if (f.dropped) {
        publish(events_.starLost(guideFrame_, t, avgDist_));
    } else {
        const double distance = std::hypot(f.raDistance, f.decDistance);
        // PHD2's AvgDist: the distance smoothed over the last few frames.
        avgDist_ = guideFrame_ == 1 || avgDistReset_ ? distance : avgDist_ + 0.3 * (distance - avgDist_);
        avgDistReset_ = false;
        publish(events_.guideStep(f, guideFrame_, t, QString::fromStdString(interfaceName(state_.params->interfaceType)),
                                  avgDist_));
    }
    if (!request_.settling())
        return;
    // PHD2 settles on its smoothed distance, AvgDist.
    SettleProgress p;
    if (const auto done = request_.onFrame(avgDist_, !f.dropped, c.timeUs, p))
        settleDone(*done);
    else
        publish(events_.settling(p));
}

void RemoteGuider::afterTick(const AcquisitionLoop::Tick& tick)
{
    if (tick.grab == GrabStatus::Lost) {
        publish(events_.alert(QStringLiteral("camera lost: %1").arg(QString::fromStdString(tick.error))));
        ++holdState_;
        captureStopped();
        equipmentConnected_ = false;
        --holdState_;
    }
    publishState();
}

void RemoteGuider::captureStopped()
{
    giveUpSettling("capture stopped");
    publish(events_.event("LoopingExposuresStopped"));
}

void RemoteGuider::beginSettling(const SettleParams& settle)
{
    publish(events_.event("SettleBegin"));
    if (log_)
        log_->settling(GuideLog::Settling::Started);
    request_.settle(settle, state_.clock.nowUs());
}

void RemoteGuider::settleDone(const SettleOutcome& o)
{
    publish(events_.settleDone(o));
    if (log_)
        log_->settling(o.settled ? GuideLog::Settling::Complete : GuideLog::Settling::Failed);
}

void RemoteGuider::giveUpSettling(const std::string& why)
{
    acquirer_.cancel();
    if (const auto done = request_.cancel(why))
        settleDone(*done);
}
