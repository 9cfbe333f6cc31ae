// The guiding core on a QtCore event loop.
#include "qt/guiderhost.h"

#include "core/state.h"

#include <cstdio>
#include <cstring>

GuiderHost::GuiderHost(SharedState& state) : timer(state.clock), core(state, timer)
{
    timer.setExpiry([this](GuideAxis axis) { core.pulses.expire(axis); });
}

void GuiderHost::reportLineChanges(const char* program)
{
    core.indiMount.setLinkListener([program](bool, const std::string& m) {
        std::fprintf(stderr, "%s: %s\n", program, m.c_str());
    });
    core.line.addLineListener([program](const SerialLine::LineChange& c) {
        if (c.up)
            std::fprintf(stderr, "%s: %s (%s) is back: guide commands go out again\n", program, c.portName.c_str(),
                         c.device.c_str());
        else
            std::fprintf(stderr, "%s: %s (%s) went away (%s): no guide command reaches the mount until it is back\n",
                         program, c.portName.c_str(), c.device.c_str(), std::strerror(c.error));
    });
}

void GuiderHost::warnAboutTrace(const char* program) const
{
    const SerialLine& line = core.line;
    if (line.traceError() != 0)
        std::fprintf(stderr, "%s: cannot open serial trace file %s: %s\n", program, line.traceFile().c_str(),
                     std::strerror(line.traceError()));
}
