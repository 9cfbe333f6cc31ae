// The star's mass and signal-to-noise ratio.
#include "core/measure/starflux.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kN = kRegionSize;
constexpr int kSearch = 3;      // the peak is looked for this far from the given position
constexpr int kAperture = 7;    // star pixels lie within this radius of the peak
constexpr int kSkyOuter = 12;   // the sky ring reaches out to here
constexpr double kGain = 0.5;   // electrons per level: the nominal figure of the noise model

struct Levels {
    const std::array<uint8_t, kN * kN>& frame;
    // Level at region pixel (x, y), y = 0 the top row; the caller keeps inside.
    int at(int x, int y) const { return frame[std::size_t(kN - 1 - y) * kN + std::size_t(x)]; }
};

}  // namespace

StarFlux starFlux(const std::array<uint8_t, kRegionSize * kRegionSize>& zoomFrame, int x0, int y0)
{
    const Levels img{zoomFrame};
    x0 = std::clamp(x0, 0, kN - 1);
    y0 = std::clamp(y0, 0, kN - 1);

    // 1. The peak of the picture smoothed by a 3 x 3 kernel (1 2 1 / 2 4 2 /
    //    1 2 1), so that one hot pixel does not take it.
    int peakX = x0, peakY = y0;
    int peakSum = -1;
    for (int y = std::max(1, y0 - kSearch); y <= std::min(kN - 2, y0 + kSearch); ++y) {
        for (int x = std::max(1, x0 - kSearch); x <= std::min(kN - 2, x0 + kSearch); ++x) {
            const int sum = 4 * img.at(x, y) +
                            2 * (img.at(x - 1, y) + img.at(x + 1, y) + img.at(x, y - 1) + img.at(x, y + 1)) +
                            img.at(x - 1, y - 1) + img.at(x + 1, y - 1) + img.at(x - 1, y + 1) + img.at(x + 1, y + 1);
            if (sum > peakSum) {
                peakSum = sum;
                peakX = x;
                peakY = y;
            }
        }
    }
    const double smoothedPeak = peakSum < 0 ? double(img.at(peakX, peakY)) : peakSum / 16.0;

    const int x1 = std::max(0, peakX - kSkyOuter), x2 = std::min(kN - 1, peakX + kSkyOuter);
    const int y1 = std::max(0, peakY - kSkyOuter), y2 = std::min(kN - 1, peakY + kSkyOuter);
    constexpr int kInner2 = kAperture * kAperture, kOuter2 = kSkyOuter * kSkyOuter;

    // 2. The sky: mean and spread of the ring, again without the pixels
    //    beyond two sigmas, until the mean settles.
    double mean = 0, variance = 0;
    int nSky = 0;
    for (int iter = 0; iter < 9; ++iter) {
        double sum = 0, runMean = 0, sq = 0;
        int n = 0;
        const double sigma = std::sqrt(variance);
        for (int y = y1; y <= y2; ++y) {
            for (int x = x1; x <= x2; ++x) {
                const int r2 = (x - peakX) * (x - peakX) + (y - peakY) * (y - peakY);
                if (r2 <= kInner2 || r2 > kOuter2)
                    continue;
                const double v = img.at(x, y);
                if (iter > 0 && (v < mean - 2 * sigma || v > mean + 2 * sigma))
                    continue;
                sum += v;
                ++n;
                const double before = runMean;
                runMean += (v - runMean) / n;
                sq += (v - before) * (v - runMean);
            }
        }
        if (n < 10)  // too little sky left: keep the last figures
            break;
        const double previous = mean;
        mean = sum / n;
        variance = n > 1 ? sq / (n - 1) : 0;
        nSky = n;
        if (iter > 0 && std::fabs(mean - previous) < 0.05)
            break;
    }

    // 3. The star: pixels of the aperture at three sigmas above the sky.
    const int threshold = int(mean + 3 * std::sqrt(variance) + 0.5);
    double mass = 0;
    int n = 0;
    for (int y = std::max(0, peakY - kAperture); y <= std::min(kN - 1, peakY + kAperture); ++y) {
        for (int x = std::max(0, peakX - kAperture); x <= std::min(kN - 1, peakX + kAperture); ++x) {
            if ((x - peakX) * (x - peakX) + (y - peakY) * (y - peakY) > kInner2)
                continue;
            const int v = img.at(x, y);
            if (v < threshold)
                continue;
            mass += v - mean;
            ++n;
        }
    }

    StarFlux f;
    if (n == 0 || !(mass > 0))
        return f;
    f.mass = mass;
    const double noise2 = mass / kGain + variance * n * (1.0 + (nSky > 0 ? 1.0 / nSky : 1.0));
    f.snr = noise2 > 0 ? mass / std::sqrt(noise2) : 0;
    // A few scattered pixels above the threshold are no star: the smoothed
    // peak must stand above it too.
    constexpr double kLowSnr = 3.0;
    if (smoothedPeak <= threshold && f.snr >= kLowSnr)
        f.snr = kLowSnr - 0.1;
    return f;
}
