// One tracking cycle in PHD2's terms.
#include "core/log/guidestep.h"

#include "core/session.h"
#include "core/settings/tparam.h"

namespace {

struct AxisFigures {
    int ms = 0;
    std::optional<Direction> direction;
};

// The pulse the output reported for an axis; one of no length moved nothing.
AxisFigures sentOn(const CycleResult& c, GuideAxis axis)
{
    const std::optional<SentPulse>& p = c.pulses.of(axis);
    if (!p || p->length <= 0)
        return {};
    return {p->lengthMs(), p->direction};
}

}  // namespace

GuideStepFigures guideStepFigures(const CycleResult& c, const tparam& params)
{
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
    if (c.precise) {
        // Fractions of a pixel, along the calibrated axes.
        f.dx = -c.precise->errX;
        f.dy = -c.precise->errY;
        f.raDistance = c.precise->raDistance;
        f.decDistance = c.precise->decDistance;
    }
    const AxisFigures ra = sentOn(c, GuideAxis::Ra);
    const AxisFigures dec = sentOn(c, GuideAxis::Dec);
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
