// Wiring of the guider's core objects.
#include "core/guider.h"

#include "core/state.h"

GuiderCore::GuiderCore(SharedState& s, PulseTimerPort& timer)
    : state(s),
      line(s.clock),
      channel(s, line),
      pulses(channel, s.clock, timer),
      mount(s, channel, pulses),
      session(s, mount),
      acquisition(s, session, [this] { return scanCaptureDrivers(); })
{
}

CaptureDriverList GuiderCore::scanCaptureDrivers()
{
    CaptureDriverList list;
    while (list.size() < size_t(kCaptureEntries))
        list.push_back(std::make_unique<NoDriver>());
    return list;
}

GuiderCore::~GuiderCore()
{
    pulses.stopRunning();
}
