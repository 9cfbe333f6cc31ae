// One tracking cycle in PHD2's terms, worked out once for the guide log's
// row and the event server's GuideStep: the distances of the star from its
// lock and the pulse that went out on each axis, as the mount received it.
#pragma once

#include <cstdint>
#include <optional>

#include "core/guide/signs.h"

struct CycleResult;
struct tparam;

struct GuideStepFigures {
    bool dropped = false;   // the tracking gate discarded the frame: no figure below means anything
    // Star minus lock in the picture, pixels: the guiding error negated.
    double dx = 0;
    double dy = 0;
    // The same in the mount's frame (signs.h, mountDistance): a West pulse
    // corrects a positive RA distance, a South pulse a positive DEC one.
    double raDistance = 0;
    double decDistance = 0;
    // The distance an axis was corrected for: the raw one when a pulse went
    // out on that axis, 0 otherwise.
    double raGuideDistance = 0;
    double decGuideDistance = 0;
    // The pulse sent on each axis, in milliseconds, and its direction; no
    // direction (and 0 ms) when nothing was sent on that axis.
    int raMs = 0;
    std::optional<Direction> raDirection;
    int decMs = 0;
    std::optional<Direction> decDirection;
    double starMass = 0;    // the star's flux above the sky (starflux.h)
    double snr = 0;
};

// The figures of a tracking cycle: the pulses as the output reported them
// (the relay box's counts of 1/63 s to the nearest millisecond), the
// distances with the inversion options of these settings.
GuideStepFigures guideStepFigures(const CycleResult& cycle, const tparam& params);
