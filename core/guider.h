// The guider's core objects, built once and wired together: the serial line,
// the channel of every command to the mount, the timed pulses, the choice of
// output and the guiding session. The windows and the command line each build
// one and hand it to whoever needs it; the pulse timer comes from outside
// (a QtCore timer in the program, a hand-driven one in tests) and must
// outlive it.
#pragma once

#include "core/guide/mountchannel.h"
#include "core/guide/mountcontrol.h"
#include "core/guide/pulsemachine.h"
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

    SharedState& state;
    SerialLine line;
    MountChannel channel;
    PulseMachine pulses;
    MountControl mount;
    GuidingSession session;
};
