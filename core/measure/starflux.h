// The star's brightness as guide logs and imaging suites report it: its mass
// (the flux above the sky background, in grey levels summed over the star)
// and its signal-to-noise ratio, reckoned as PHD2 reckons them, from the
// levels of the analysis region the measurement left in the zoom frame.
// They describe the star; they never move it or gate it.
#pragma once

#include <array>
#include <cstdint>

#include "core/measure/measure.h"

struct StarFlux {
    double mass = 0;  // sum of (level - background) over the star's pixels
    double snr = 0;   // 0 when no pixel stands above the background's noise
};

// The flux of the star near (x, y) (region pixels, 0 = top row), in a zoom
// frame stored bottom-up as StarAnalysis fills it. The sky is the ring 7 to
// 12 pixels from the star's smoothed peak (clipped at two sigmas); the star,
// the pixels within 7 pixels of the peak at three sigmas above the sky or
// more.
StarFlux starFlux(const std::array<uint8_t, kRegionSize * kRegionSize>& zoomFrame, int x, int y);
// The same reckoning over a region of any values, 100 x 100 and top row
// first (a camera's own values, or grey levels read straight from the
// picture): the star's threshold is then not rounded to a whole level.
StarFlux starFluxTopDown(const float* region, int x, int y);
