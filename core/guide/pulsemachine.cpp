// The timed pulses of the LED window and the serial outputs.
#include "core/guide/pulsemachine.h"

#include <climits>
#include <cstdlib>

#include "core/clock.h"
#include "core/guide/mountchannel.h"

PulseMachine::PulseMachine(MountChannel& channel, Clock& clock, PulseTimerPort& timer)
    : channel_(channel), clock_(clock), timer_(timer)
{
}

PulseMachine::Lamp PulseMachine::lamp(GuideAxis axis) const
{
    const Slot& s = slot(axis);
    if (!s || s->length == 0)
        return Lamp::Off;
    return s->direction == Direction::East || s->direction == Direction::North ? Lamp::Left : Lamp::Right;
}

void PulseMachine::lampsChanged()
{
    if (lampsChanged_)
        lampsChanged_();
}

SentPulse PulseMachine::pulse(GuideAxis axis, int signedMs)
{
    endPulse(axis);
    const Direction d = pulseDirection(axis, signedMs);
    const int32_t output = channel_.interfaceType();
    outputs_[axis == GuideAxis::Ra ? 0 : 1] = output;
    if (signedMs != 0) {
        channel_.runMountOp(startOp(d), output);
        channel_.lamp(axis, true, d);
    }
    // The length counts from here: the move string has just been written.
    const int64_t lengthMs = signedMs == INT_MIN ? int64_t(INT_MAX) : std::abs(signedMs);
    SentPulse& s = slot(axis).emplace();
    s.axis = axis;
    s.direction = d;
    s.length = int(lengthMs);
    s.startUs = clock_.nowUs();
    s.endUs = s.startUs + lengthMs * 1000;
    timer_.arm(axis, s.endUs);
    if (signedMs != 0)
        lampsChanged();
    return s;
}

void PulseMachine::endPulse(GuideAxis axis)
{
    // A running pulse stops as its output stops it; an idle axis as the
    // output chosen now does.
    auto outputOf = [this](GuideAxis a) {
        return pulsing(a) ? outputs_[a == GuideAxis::Ra ? 0 : 1] : channel_.interfaceType();
    };
    const int32_t output = outputOf(axis);
    channel_.runMountOp(stopOpFor(axis), output);
    // "Meade ETX" knows one stop, "#:Q#", for both axes: the other axis's
    // pulse, still running, must not end early with it, so its move goes
    // out again for the rest of its length.
    const GuideAxis other = axis == GuideAxis::Ra ? GuideAxis::Dec : GuideAxis::Ra;
    const Slot& o = slot(other);
    if (o && o->length != 0 && stopHaltsBothAxes(output))
        channel_.runMountOp(startOp(o->direction), outputOf(other));
    slot(axis).reset();
    timer_.disarm(axis);
    channel_.lamp(axis, false, pulseDirection(axis, 0));
    lampsChanged();
}

void PulseMachine::expire(GuideAxis axis)
{
    if (pulsing(axis))
        endPulse(axis);
}

void PulseMachine::stopRunning()
{
    for (GuideAxis axis : {GuideAxis::Ra, GuideAxis::Dec}) {
        if (pulsing(axis))
            endPulse(axis);
    }
}

void PulseMachine::endPulsesNotOn(int32_t interfaceType)
{
    for (GuideAxis axis : {GuideAxis::Ra, GuideAxis::Dec}) {
        if (pulsing(axis) && outputs_[axis == GuideAxis::Ra ? 0 : 1] != interfaceType)
            endPulse(axis);
    }
}
