// The guider's core objects, built once and wired together: the serial line,
// the channel of every command to the mount, the timed pulses, the choice of
// output (the INDI mount among them), the guiding session and the
// acquisition loop with its cameras. The windows and the command line each build
// one and hand it to whoever needs it; the pulse timer comes from outside
// (a QtCore timer in the program, a hand-driven one in tests) and must
// outlive it.
#pragma once

#include "core/capture/acquisition.h"
#include "core/guide/mountchannel.h"
#include "core/guide/mountcontrol.h"
#include "core/guide/pulsemachine.h"
#include "core/indi/indiconnection.h"
#include "core/indi/indimount.h"
#include "core/precise/precisemode.h"
#include "core/serial/serialline.h"
#include "core/session.h"

struct SharedState;

class GuiderCore {
public:
    GuiderCore(SharedState& state, PulseTimerPort& timer);
    // A pulse still running is stopped on the mount: a serial move must not
    // go on after the program.
    ~GuiderCore();
    GuiderCore(const GuiderCore&) = delete;
    GuiderCore& operator=(const GuiderCore&) = delete;

    // The entries of "Video Source" on this machine.
    CaptureDriverList scanCaptureDrivers();

    SharedState& state;
    SerialLine line;
    MountChannel channel;
    IndiConnection indi;          // QUORVEL_INDI: cameras and a mount, when a server answers
    IndiMountOutput indiMount;    // the output of "INDI (monture)"
    PulseMachine pulses;
    MountControl mount;
    GuidingSession session;
    PreciseMode precise;          // the precise mode, off unless asked for
    AcquisitionLoop acquisition;  // last: its camera goes first, while the rest still stands
};
