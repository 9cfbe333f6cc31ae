// The star's mass and signal-to-noise ratio.
#include "core/measure/starflux.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

namespace {

constexpr int kN = kRegionSize;
constexpr int kSearch = 3;      // the peak is looked for this far from the given position
constexpr int kAperture = 7;    // star pixels lie within this radius of the peak
constexpr int kSkyOuter = 12;   // the sky ring reaches out to here
constexpr double kGain = 0.5;   // electrons per level: the nominal figure of the noise model

// The zoom frame: grey levels stored bottom-up.
struct ZoomLevels {
    const uint8_t* frame;
    // Level at region pixel (x, y), y = 0 the top row; the caller keeps inside.
    int at(int x, int y) const { return frame[std::size_t(kN - 1 - y) * kN + std::size_t(x)]; }
};

// Any region stored top row first.
template <typename T>
struct TopDown {
    const T* values;
    T at(int x, int y) const { return values[std::size_t(y) * kN + std::size_t(x)]; }
};

template <typename Levels>
StarFlux reckon(const Levels& img, int x0, int y0)
{
    // Grey levels are whole numbers and keep the whole-level threshold;
    // other values (a camera's own) keep theirs as they come.
    using Value = decltype(img.at(0, 0));
    using Sum = std::conditional_t<std::is_integral_v<Value>, int, double>;
    x0 = std::clamp(x0, 0, kN - 1);
    y0 = std::clamp(y0, 0, kN - 1);

    // 1. The peak of the picture smoothed by a 3 x 3 kernel (1 2 1 / 2 4 2 /
    //    1 2 1), so that one hot pixel does not take it.
    int peakX = x0, peakY = y0;
    Sum peakSum = -1;
    for (int y = std::max(1, y0 - kSearch); y <= std::min(kN - 2, y0 + kSearch); ++y) {
        for (int x = std::max(1, x0 - kSearch); x <= std::min(kN - 2, x0 + kSearch); ++x) {
            const Sum sum = 4 * img.at(x, y) +
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
    //    beyond two sigmas, until the mean settles. The ring's values are
    //    gathered once, in reading order.
    std::array<double, (2 * kSkyOuter + 1) * (2 * kSkyOuter + 1)> ring;
    int nRing = 0;
    for (int y = y1; y <= y2; ++y) {
        for (int x = x1; x <= x2; ++x) {
            const int r2 = (x - peakX) * (x - peakX) + (y - peakY) * (y - peakY);
            if (r2 > kInner2 && r2 <= kOuter2)
                ring[std::size_t(nRing++)] = img.at(x, y);
        }
    }
    double mean = 0, variance = 0;
    int nSky = 0;
    for (int iter = 0; iter < 9; ++iter) {
        double sum = 0, sq = 0;
        int n = 0;
        const double sigma = std::sqrt(variance);
        const double lo = mean - 2 * sigma, hi = mean + 2 * sigma;
        if constexpr (std::is_integral_v<Value>) {
            // Grey levels keep their running (Welford) spread to the last bit.
            double runMean = 0;
            for (int i = 0; i < nRing; ++i) {
                const double v = ring[std::size_t(i)];
                if (iter > 0 && (v < lo || v > hi))
                    continue;
                sum += v;
                ++n;
                const double before = runMean;
                runMean += (v - runMean) / n;
                sq += (v - before) * (v - runMean);
            }
        } else {
            // Other values: the same figures in two passes, with no division
            // a pixel.
            for (int i = 0; i < nRing; ++i) {
                const double v = ring[std::size_t(i)];
                if (iter == 0 || (v >= lo && v <= hi)) {
                    sum += v;
                    ++n;
                }
            }
            const double m = n > 0 ? sum / n : 0;
            for (int i = 0; i < nRing; ++i) {
                const double v = ring[std::size_t(i)];
                if (iter == 0 || (v >= lo && v <= hi))
                    sq += (v - m) * (v - m);
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
    Sum threshold;
    if constexpr (std::is_integral_v<Value>)
        threshold = int(mean + 3 * std::sqrt(variance) + 0.5);
    else
        threshold = mean + 3 * std::sqrt(variance);
    double mass = 0;
    int n = 0;
    for (int y = std::max(0, peakY - kAperture); y <= std::min(kN - 1, peakY + kAperture); ++y) {
        for (int x = std::max(0, peakX - kAperture); x <= std::min(kN - 1, peakX + kAperture); ++x) {
            if ((x - peakX) * (x - peakX) + (y - peakY) * (y - peakY) > kInner2)
                continue;
            const Sum v = img.at(x, y);
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

}  // namespace

StarFlux starFlux(const std::array<uint8_t, kRegionSize * kRegionSize>& zoomFrame, int x, int y)
{
    return reckon(ZoomLevels{zoomFrame.data()}, x, y);
}

StarFlux starFluxTopDown(const float* region, int x, int y)
{
    return reckon(TopDown<float>{region}, x, y);
}
