// The star measurement and the dark-frame capture, plain code over the
// screen picture. Runs on the user-interface thread once a measurement cycle.
#include "analysis/measure.h"

#include <algorithm>
#include <cstddef>

#include "app/state.h"

namespace {

constexpr int kRegion = StarAnalysis::regionSize;
constexpr int kDarkWidth = Picture::width;
constexpr int kDarkHeight = Picture::height;

// Half-open range [begin, end) of region offsets 0..99 whose coordinate
// origin + offset lies inside 0..limit-1. Empty when none does.
struct Span {
    int begin = 0;
    int end = 0;
};

Span insideSpan(int32_t origin, int limit)
{
    // 64-bit so that an extreme region corner cannot overflow.
    const int64_t lo = std::max<int64_t>(0, -int64_t(origin));
    const int64_t hi = std::min<int64_t>(kRegion, int64_t(limit) - int64_t(origin));
    if (hi <= lo)
        return {};
    return {int(lo), int(hi)};
}

// Peak index of a count profile and the position the guider takes from it:
// the single-precision mean of the twelve counts from six below the peak to
// five above it, truncated, or the peak itself near the edges.
int profileCentroid(const std::array<uint8_t, kRegion>& counts)
{
    int peak = 0;
    for (int i = 1; i < kRegion; ++i) {
        if (counts[i] > counts[peak])  // strictly greater: the lowest index wins ties
            peak = i;
    }
    // No star pixel at all: there is no peak. The region centre is used: it
    // lies strictly inside the region, so the zoom cross shows where the
    // region is; while tracking the gate replaces it (population 0 is below
    // 5); and a reference taken from it locks the region's centre rather
    // than its corner.
    if (counts[peak] == 0)
        return kRegion / 2;
    if (peak < 7 || peak > 93)
        return peak;
    float sum = 0.0f;
    float weighted = 0.0f;
    for (int i = peak - 6; i <= peak + 5; ++i) {
        sum += float(counts[i]);
        weighted += float(i) * float(counts[i]);
    }
    if (sum == 0.0f)
        return 0;
    return int(weighted / sum);
}

}  // namespace

void StarAnalysis::MeasureStar(SharedState& state, const PixelView& picture)
{
    // Threshold: the manual one when ticked, otherwise seven levels below the
    // previous measurement's peak (0 when that peak was 7 or less).
    if (state.manualThresholdOn)
        state.detectionThreshold = uint8_t(state.manualThreshold & 0xff);
    else
        state.detectionThreshold = state.peakLevel > 7 ? uint8_t(state.peakLevel - 7) : 0;
    const unsigned threshold = state.detectionThreshold;

    state.greyHistogram.fill(0);
    state.columnCounts.fill(0);
    state.rowCounts.fill(0);

    const bool invert = state.params && state.params->darkSpotGuiding == 1;
    const int32_t regionX = state.regionX;
    const int32_t regionY = state.regionY;

    // Region pixels outside the picture read as level 0; the dark frame is
    // read only where the region lies inside its 320 x 240 entries.
    const Span pictureCols = insideSpan(regionX, picture.bits ? picture.width : 0);
    const Span pictureRows = insideSpan(regionY, picture.bits ? picture.height : 0);
    const Span darkCols = insideSpan(regionX, kDarkWidth);
    const Span darkRows = insideSpan(regionY, kDarkHeight);

    int32_t* const histogram = state.greyHistogram.data();
    uint8_t* const columns = state.columnCounts.data();
    unsigned peak = 0;
    uint8_t levels[kRegion];

    // Rows from the region's bottom (y = regionY + 99) up to its top; the
    // zoom frame is filled in that order, so it is stored bottom-up.
    for (int row = kRegion - 1; row >= 0; --row) {
        uint8_t* const out = zoomFrame.data() + std::size_t(kRegion - 1 - row) * kRegion;

        // 1. Grey levels, 0 outside the picture.
        std::fill(levels, levels + kRegion, uint8_t(0));
        if (row >= pictureRows.begin && row < pictureRows.end) {
            const uint32_t* line = picture.bits + std::ptrdiff_t(regionY + row) * picture.stride;
            for (int c = pictureCols.begin; c < pictureCols.end; ++c)
                levels[c] = greyLevel(line[regionX + c]);
        }

        // 2. Dark-frame subtraction, never below 0, aligned on the same
        //    capture-window pixels whatever the region's position.
        if (useDarkFrame && row >= darkRows.begin && row < darkRows.end) {
            const uint8_t* dark = darkFrame.data() + std::ptrdiff_t(regionY + row) * kDarkWidth;
            for (int c = darkCols.begin; c < darkCols.end; ++c) {
                const uint8_t d = dark[regionX + c];
                levels[c] = levels[c] > d ? uint8_t(levels[c] - d) : 0;
            }
        }

        // 3. Dark-spot guiding: a sunspot on the bright disc becomes a star.
        if (invert) {
            for (int c = 0; c < kRegion; ++c)
                out[c] = uint8_t(63 - levels[c]);
        } else {
            std::copy(levels, levels + kRegion, out);
        }

        // 4. Histogram, peak and star-pixel counts.
        unsigned rowCount = 0;
        for (int c = 0; c < kRegion; ++c) {
            const unsigned level = out[c];
            ++histogram[level];
            peak = std::max(peak, level);
            const unsigned star = level > threshold ? 1u : 0u;
            columns[c] = uint8_t(columns[c] + star);
            rowCount += star;
        }
        state.rowCounts[row] = uint8_t(rowCount);
    }

    state.peakLevel = uint8_t(peak);
    int32_t population = 0;
    for (uint8_t c : state.columnCounts)
        population += c;
    state.population = population;

    state.centroidX = profileCentroid(state.columnCounts);
    state.centroidY = profileCentroid(state.rowCounts);

    // Tracking gate: a lost (fewer than 5 star pixels) or swamped (more than
    // 200) star gives no correction: the position is the reference itself.
    if (state.trackingOn && (population < 5 || population > 200)) {
        state.centroidX = int32_t(int64_t(state.referenceX) - regionX);
        state.centroidY = int32_t(int64_t(state.referenceY) - regionY);
    }
}

void StarAnalysis::CaptureDark(const PixelView& picture)
{
    for (int y = 0; y < kDarkHeight; ++y) {
        uint8_t* out = darkFrame.data() + std::size_t(y) * kDarkWidth;
        for (int x = 0; x < kDarkWidth; ++x)
            out[x] = picture.bits && picture.contains(x, y) ? greyLevel(picture.at(x, y)) : 0;
    }
}
