// The status line of `quorvel guide` at a terminal.
#include "cli/statusline.h"

#include <unistd.h>

#include "core/log/guidestep.h"
#include "core/log/runstats.h"
#include "core/session.h"

StatusLine::StatusLine(FILE* out) : out_(out), active_(isatty(fileno(out)) == 1) {}

std::string StatusLine::text(double tSeconds, const CycleResult& c, const GuideRunSummary& soFar, int raPulses,
                             int decPulses, double arcsecPerPixel)
{
    char buf[256];
    int n = std::snprintf(buf, sizeof buf, "%6.0f s  ", tSeconds);
    if (c.measurement.gated)
        n += std::snprintf(buf + n, sizeof buf - size_t(n), "frame dropped    ");
    else
        n += std::snprintf(buf + n, sizeof buf - size_t(n), "error %+d %+d px  ", c.dx, c.dy);
    if (soFar.rmsX && soFar.rmsY) {
        n += std::snprintf(buf + n, sizeof buf - size_t(n), "RMS %.2f %.2f px", *soFar.rmsX, *soFar.rmsY);
        if (arcsecPerPixel > 0)
            n += std::snprintf(buf + n, sizeof buf - size_t(n), " (%.2f\" %.2f\")", *soFar.rmsX * arcsecPerPixel,
                               *soFar.rmsY * arcsecPerPixel);
        n += std::snprintf(buf + n, sizeof buf - size_t(n), "  ");
    }
    std::snprintf(buf + n, sizeof buf - size_t(n), "pulses RA %d DEC %d  dropped %d", raPulses, decPulses,
                  soFar.dropped);
    return buf;
}

void StatusLine::cycle(const CycleResult& c, double tSeconds, const GuideRunSummary& soFar, const tparam& params,
                       double arcsecPerPixel)
{
    if (!active_)
        return;
    const GuideStepFigures f = guideStepFigures(c, params);
    raPulses_ += f.raDirection ? 1 : 0;
    decPulses_ += f.decDirection ? 1 : 0;
    // Back to the start of the line, the new text, the rest of the old one cleared.
    std::fprintf(out_, "\r%s\x1b[K", text(tSeconds, c, soFar, raPulses_, decPulses_, arcsecPerPixel).c_str());
    std::fflush(out_);
    shown_ = true;
}

void StatusLine::end()
{
    if (!shown_)
        return;
    std::fputc('\n', out_);
    std::fflush(out_);
    shown_ = false;
}
