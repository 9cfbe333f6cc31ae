// Wiring of the guider's core objects.
#include "core/guider.h"

#include "core/state.h"

GuiderCore::GuiderCore(SharedState& s, PulseTimerPort& timer)
    : state(s),
      line(s.clock),
      channel(s, line),
      pulses(channel, s.clock, timer),
      mount(s, channel, pulses),
      session(s, mount)
{
}

GuiderCore::~GuiderCore()
{
    pulses.stopRunning();
}
