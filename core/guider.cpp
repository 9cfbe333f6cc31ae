// Wiring of the guider's core objects.
#include "core/guider.h"

#include "core/capture/drivers.h"
#include "core/indi/indicamera.h"
#include "core/state.h"

GuiderCore::GuiderCore(SharedState& s, PulseTimerPort& timer)
    : state(s),
      line(s.clock),
      channel(s, line),
      indiMount(indi, channel),
      pulses(channel, s.clock, timer),
      mount(s, channel, pulses),
      session(s, mount),
      precise(s, session, mount, acquisition),
      acquisition(s, session, [this] { return scanCaptureDrivers(); })
{
    mount.setOutput(IndiMount, &indiMount);
}

CaptureDriverList GuiderCore::scanCaptureDrivers()
{
    // Webcams first, then the INDI cameras (none when no server answers
    // within half a second), then the simulated sky.
    const std::unique_ptr<VideoDeviceScanner> scanner = systemVideoScanner();
    return captureDrivers(state, channel, *scanner, makeIndiCameras(indi, state.clock));
}

GuiderCore::~GuiderCore()
{
    pulses.stopRunning();
}
