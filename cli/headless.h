// A run without a display, the same for `quorvel guide` and `quorvel serve`.
// Its start: the settings of qv185.dat in the current directory, the QtCore
// event loop, the guiding core on it, the serial trace's warning, then the
// output of the settings applied and the optics checked, each failure said
// with what follows from it for that command. Its end, as the window's
// closing: guiding ended, pulses stopped, the camera let go, the settings
// saved, the guide log closed.
#pragma once

#include <string>

#include "cli/cliutil.h"
#include "core/clock.h"
#include "core/state.h"
#include "qt/guiderhost.h"

class GuideLog;

class HeadlessRun {
public:
    // command names the run in its messages ("quorvel guide"); a run that
    // draws pictures asks for a drawing loop (CommandLoop).
    HeadlessRun(const char* command, bool drawing);
    HeadlessRun(const HeadlessRun&) = delete;
    HeadlessRun& operator=(const HeadlessRun&) = delete;

    // Applies the settings' output. A serial port that does not open, or an
    // output whose link does not connect, is said on standard error followed
    // by portConsequence or outputConsequence; false then.
    bool applyOutput(const char* portConsequence, const char* outputConsequence);
    // False, said on standard error followed by consequence, when the
    // settings' optics give no usable correction.
    bool checkOptics(const char* consequence);

    const char* const command;
    SteadyClock clock;
    SharedState state{clock};
    CommandLoop loop;
    GuiderHost host;  // built on the settings loaded
    GuiderCore& core;
};

void endHeadlessRun(const char* command, SharedState& state, GuiderCore& core, GuideLog* log,
                    const std::string& logPath);
