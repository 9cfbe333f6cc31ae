// The start and the end of a run without a display.
#include "cli/headless.h"

#include <cstdio>

#include "core/guider.h"
#include "core/log/guidelog.h"
#include "core/settings/paramsfile.h"
#include "core/state.h"

namespace {
SharedState& withSettings(SharedState& state)
{
    loadParams(state);
    return state;
}
}  // namespace

HeadlessRun::HeadlessRun(const char* name, bool drawing)
    : command(name), loop(drawing), host(withSettings(state)), core(host.core)
{
    host.warnAboutTrace(command);
    host.reportLineChanges(command);
}

bool HeadlessRun::applyOutput(const char* portConsequence, const char* outputConsequence)
{
    const InterfaceApplied applied = core.mount.applyInterface();
    if (applied.port && !applied.port->ok) {
        std::fprintf(stderr, "%s: %s%s\n", command, openFailureText(*applied.port).c_str(), portConsequence);
        return false;
    }
    if (applied.output && !applied.output->ok) {
        std::fprintf(stderr, "%s: %s%s\n", command, applied.output->error.c_str(), outputConsequence);
        return false;
    }
    return true;
}

bool HeadlessRun::checkOptics(const char* consequence)
{
    if (opticsUsable(state))
        return true;
    std::fprintf(stderr, "%s: the settings give no usable correction (%s): %s\n", command, opticsText(state).c_str(),
                 consequence);
    return false;
}

void endHeadlessRun(const char* command, SharedState& state, GuiderCore& core, GuideLog* log,
                    const std::string& logPath)
{
    if (state.trackingOn || state.graphSuspended)
        core.session.stopTracking();
    core.pulses.stopRunning();
    core.acquisition.disconnect();
    if (const int err = storeParams(state))
        std::fprintf(stderr, "%s: %s\n", command, saveFailureText(err).c_str());
    if (log) {
        log->close();
        if (!log->writeError().empty())
            std::fprintf(stderr, "%s: guide log %s: %s\n", command, logPath.c_str(), log->writeError().c_str());
    }
}
