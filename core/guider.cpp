// Wiring of the guider's core objects.
#include "core/guider.h"

#include "core/capture/drivers.h"
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
    const std::unique_ptr<VideoDeviceScanner> scanner = systemVideoScanner();
    return captureDrivers(state, channel, *scanner);
}

GuiderCore::~GuiderCore()
{
    pulses.stopRunning();
}
