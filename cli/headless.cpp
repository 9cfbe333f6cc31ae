// The end of a run without a display.
#include "cli/headless.h"

#include <cstdio>

#include "core/guider.h"
#include "core/log/guidelog.h"
#include "core/settings/paramsfile.h"
#include "core/state.h"

void endHeadlessRun(const char* command, SharedState& state, GuiderCore& core, GuideLog* log,
                    const std::string& logPath)
{
    if (state.trackingOn || state.graphSuspended)
        core.session.stopTracking();
    core.pulses.stopRunning();
    core.acquisition.disconnect();
    saveParams(state);
    if (log) {
        log->close();
        if (!log->writeError().empty())
            std::fprintf(stderr, "%s: guide log %s: %s\n", command, logPath.c_str(), log->writeError().c_str());
    }
}
