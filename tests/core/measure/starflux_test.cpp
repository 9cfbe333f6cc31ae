// The star's mass and SNR as PHD2 reckons them, on stars drawn with a known
// flux over a noisy sky.
#include <gtest/gtest.h>

#include <cmath>

#include "core/measure/starflux.h"

namespace {

using Zoom = std::array<uint8_t, kRegionSize * kRegionSize>;

// A Gaussian star of this flux (levels summed) at (cx, cy) over a sky of 10
// levels with a fixed +-1 pattern of noise; stored bottom-up as the zoom frame is.
Zoom drawStar(double flux, double cx, double cy)
{
    Zoom z{};
    const double sigma = 1.5;
    for (int y = 0; y < kRegionSize; ++y) {
        for (int x = 0; x < kRegionSize; ++x) {
            const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
            const double star = flux / (2 * M_PI * sigma * sigma) * std::exp(-r2 / (2 * sigma * sigma));
            const int noise = int((x * 7 + y * 13) % 3) - 1;
            z[std::size_t(kRegionSize - 1 - y) * kRegionSize + std::size_t(x)] =
                uint8_t(std::clamp(10.0 + noise + star + 0.5, 0.0, 63.0));
        }
    }
    return z;
}

}  // namespace

TEST(StarFlux, MassIsTheFluxAboveTheSkyAndSnrGrowsWithIt)
{
    const StarFlux bright = starFlux(drawStar(400, 50, 40), 51, 41);  // found from a pixel off
    EXPECT_NEAR(bright.mass, 400, 60);
    EXPECT_GT(bright.snr, 10);

    const StarFlux faint = starFlux(drawStar(60, 50, 40), 50, 40);
    EXPECT_LT(faint.mass, bright.mass / 4);
    EXPECT_GT(faint.snr, 0);
    EXPECT_LT(faint.snr, bright.snr);

    // Sky alone, and a star against the region's corner: no star, and no crash.
    const StarFlux sky = starFlux(drawStar(0, 50, 40), 50, 40);
    EXPECT_LT(sky.snr, 3);
    const StarFlux corner = starFlux(drawStar(400, 0, 99), 0, 99);
    EXPECT_GT(corner.mass, 50);
    EXPECT_TRUE(std::isfinite(corner.snr));
}
