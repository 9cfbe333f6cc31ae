// The end of a run without a display, the same for `quorvel guide` and
// `quorvel serve` as for the window closing: guiding ended, pulses stopped,
// the camera let go, the settings saved, the guide log closed.
#pragma once

#include <string>

class GuiderCore;
class GuideLog;
struct SharedState;

void endHeadlessRun(const char* command, SharedState& state, GuiderCore& core, GuideLog* log,
                    const std::string& logPath);
