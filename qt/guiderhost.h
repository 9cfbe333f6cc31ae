// The guiding core on a QtCore event loop: the core objects with the precise
// pulse timer that ends their pulses. The windows and the command line build
// one per run.
#pragma once

#include "core/guider.h"
#include "qt/pulsetimer.h"

struct SharedState;

class GuiderHost {
public:
    explicit GuiderHost(SharedState& state);
    GuiderHost(const GuiderHost&) = delete;
    GuiderHost& operator=(const GuiderHost&) = delete;

    // Says on standard error, for `program`, that the serial trace asked for
    // in QUORVEL_SERIAL_LOG could not be opened (nothing when it could).
    void warnAboutTrace(const char* program) const;
    // Says on standard error, for `program`, when the mount's serial line or
    // INDI mount goes away and when it comes back.
    void reportLineChanges(const char* program);

    PulseTimer timer;  // declared first: the core stops its pulses through it
    GuiderCore core;
};
