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

void PulseMachine::setLamp(GuideAxis axis, Lamp lamp, Direction direction)
{
    slot(axis).lamp = lamp;
    channel_.lamp(axis, lamp != Lamp::Off, direction);
    if (lampsChanged_)
        lampsChanged_();
}

void PulseMachine::pulse(GuideAxis axis, int signedMs)
{
    endPulse(axis);
    if (signedMs != 0) {
        const Direction d = pulseDirection(axis, signedMs);
        channel_.runMountOp(startOp(d));
        setLamp(axis, signedMs < 0 ? Lamp::Left : Lamp::Right, d);
    }
    // The length counts from here: the move string has just been written.
    const int64_t lengthMs = signedMs == INT_MIN ? int64_t(INT_MAX) : std::abs(signedMs);
    Slot& s = slot(axis);
    s.pulsing = true;
    s.deadlineUs = clock_.nowUs() + lengthMs * 1000;
    timer_.arm(axis, s.deadlineUs);
}

void PulseMachine::endPulse(GuideAxis axis)
{
    channel_.runMountOp(stopOpFor(axis));
    // "Meade ETX" knows one stop, "#:Q#", for both axes: the other axis's
    // pulse, still running, must not end early with it, so its move goes
    // out again for the rest of its length.
    const GuideAxis other = axis == GuideAxis::Ra ? GuideAxis::Dec : GuideAxis::Ra;
    const Slot& o = slot(other);
    if (o.pulsing && o.lamp != Lamp::Off && stopHaltsBothAxes(channel_.interfaceType()))
        channel_.runMountOp(startOp(pulseDirection(other, o.lamp == Lamp::Left ? -1 : 1)));
    slot(axis).pulsing = false;
    timer_.disarm(axis);
    setLamp(axis, Lamp::Off, pulseDirection(axis, 0));
}

void PulseMachine::expire(GuideAxis axis)
{
    if (slot(axis).pulsing)
        endPulse(axis);
}

void PulseMachine::stopRunning()
{
    for (GuideAxis axis : {GuideAxis::Ra, GuideAxis::Dec}) {
        if (pulsing(axis))
            endPulse(axis);
    }
}
