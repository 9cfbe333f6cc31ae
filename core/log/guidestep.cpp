// One tracking cycle in PHD2's terms.
#include "core/log/guidestep.h"

#include <cstdlib>

#include "core/guide/correction.h"
#include "core/session.h"
#include "core/settings/tparam.h"

namespace {

struct SentPulse {
    int ms = 0;
    std::optional<Direction> direction;
};

SentPulse sentPulse(const CycleResult& c, GuideAxis axis, int32_t interfaceType)
{
    const correction::Axis& a = axis == GuideAxis::Ra ? c.correction.ra : c.correction.dec;
    if (!c.sent || a.count <= 0)
        return {};
    SentPulse s;
    if (interfaceType == RelayBox) {
        // The box times its pulses itself: a count is 1/63 s (no inhibit there).
        s.ms = (a.count * 1000 + correction::kMaxCount / 2) / correction::kMaxCount;
    } else {
        if (!a.timedPulse)
            return {};
        s.ms = std::abs(a.pulseMs);
    }
    s.direction = pulseDirection(axis, a.pulseMs);
    return s;
}

}  // namespace

GuideStepFigures guideStepFigures(const CycleResult& c, const tparam& params)
{
    const int32_t interfaceType = params.interfaceType;
    GuideStepFigures f;
    if (c.measurement.gated) {
        f.dropped = true;
        return f;
    }
    // Negated as integers: a star on the lock reads 0, never -0.
    f.dx = double(-int64_t(c.dx));
    f.dy = double(-int64_t(c.dy));
    f.raDistance = mountDistance(c.dx, params.invertRa != 0);
    f.decDistance = mountDistance(c.dy, params.invertDec != 0);
    const SentPulse ra = sentPulse(c, GuideAxis::Ra, interfaceType);
    const SentPulse dec = sentPulse(c, GuideAxis::Dec, interfaceType);
    f.raMs = ra.ms;
    f.raDirection = ra.direction;
    f.decMs = dec.ms;
    f.decDirection = dec.direction;
    f.raGuideDistance = ra.direction ? f.raDistance : 0.0;
    f.decGuideDistance = dec.direction ? f.decDistance : 0.0;
    f.starMass = c.flux.mass;
    f.snr = c.flux.snr;
    return f;
}
