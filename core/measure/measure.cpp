// The star measurement and the dark-frame capture, plain code over the
// screen picture. Runs on the user-interface thread once a measurement cycle.
#include "core/measure/measure.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>


namespace {

constexpr int kRegion = StarAnalysis::regionSize;
constexpr int kDarkWidth = Picture::width;
constexpr int kDarkHeight = Picture::height;
constexpr int kPadded = 112;
constexpr int kPartials = 10;
static_assert(kPadded >= kRegion && kPadded % 16 == 0 && kRegion % kPartials == 0);

// 0xff over the region's 100 columns, 0 over the padding.
constexpr auto kRegionMask = [] {
    std::array<uint8_t, kPadded> mask{};
    for (int c = 0; c < kRegion; ++c)
        mask[c] = 0xff;
    return mask;
}();

// R + 2G + 2B of a 0xffRRGGBB pixel, 0 to 1275: the grey level is its
// twentieth. Kept in 32 bits so that whole rows convert a vector at a time.
inline uint32_t greySum(uint32_t rgb)
{
    return ((rgb >> 16) & 0xff) + 2 * (((rgb >> 8) & 0xff) + (rgb & 0xff));
}

// Adds a row's levels to the partial histograms, pixel c + k to histogram
// k; spelt out for every k so that the counters do not form one chain.
template <std::size_t... K>
inline void countLevels(uint32_t (&partial)[sizeof...(K)][64], const uint8_t* levels,
                        std::index_sequence<K...>)
{
    for (int c = 0; c < kRegion; c += int(sizeof...(K)))
        ((++partial[K][levels[c + K]]), ...);
}

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

uint8_t chooseThreshold(bool manualThresholdOn, int32_t manualThreshold, uint8_t previousPeak)
{
    if (manualThresholdOn)
        return uint8_t(manualThreshold & 0xff);
    return previousPeak > 7 ? uint8_t(previousPeak - 7) : 0;
}

Measurement StarAnalysis::measure(const PixelView& picture, const MeasureInputs& in)
{
    Measurement m;
    m.threshold = in.threshold;
    const bool invert = in.invert;
    const int32_t regionX = in.regionX;
    const int32_t regionY = in.regionY;

    // Region pixels outside the picture read as level 0; the dark frame is
    // read only where the region lies inside its 320 x 240 entries.
    const Span pictureCols = insideSpan(regionX, picture.bits ? picture.width : 0);
    const Span pictureRows = insideSpan(regionY, picture.bits ? picture.height : 0);
    const Span darkCols = insideSpan(regionX, kDarkWidth);
    const Span darkRows = insideSpan(regionY, kDarkHeight);
    const bool wholeRows = pictureCols.begin == 0 && pictureCols.end == kRegion;

    // Row buffers padded to whole 16-byte vectors so that the compiler can
    // process them a vector at a time; the padding stays 0, which is never
    // a star pixel and never a peak.
    alignas(16) uint32_t sums[kPadded] = {};
    alignas(16) uint8_t levels[kPadded] = {};
    alignas(16) uint8_t columns[kPadded] = {};
    uint32_t partial[kPartials][64] = {};
    uint8_t peak = 0;
    const uint8_t threshold = in.threshold;

    // Rows from the region's bottom (y = regionY + 99) up to its top; the
    // zoom frame is filled in that order, so it is stored bottom-up.
    for (int row = kRegion - 1; row >= 0; --row) {
        uint8_t* const out = zoomFrame.data() + std::size_t(kRegion - 1 - row) * kRegion;

        // 1. Grey levels, 0 outside the picture.
        if (row >= pictureRows.begin && row < pictureRows.end) {
            const uint32_t* line = picture.bits + std::ptrdiff_t(regionY + row) * picture.stride;
            if (wholeRows) {
                line += regionX;
                for (int c = 0; c < kRegion; ++c)
                    sums[c] = greySum(line[c]);
            } else {
                std::fill(sums, sums + kRegion, 0u);
                for (int c = pictureCols.begin; c < pictureCols.end; ++c)
                    sums[c] = greySum(line[regionX + c]);
            }
            for (int c = 0; c < kPadded; ++c)
                levels[c] = uint8_t(sums[c] * 3277u >> 16);  // sum / 20 for sums up to 1275
        } else {
            std::fill(levels, levels + kPadded, uint8_t(0));
        }

        // 2. Dark-frame subtraction, never below 0, aligned on the same
        //    capture-window pixels whatever the region's position.
        if (useDarkFrame && row >= darkRows.begin && row < darkRows.end &&
            darkCols.end > darkCols.begin) {
            alignas(16) uint8_t dark[kPadded] = {};  // 0 where the region leaves the frame
            const std::size_t first =
                std::size_t(regionY + row) * kDarkWidth + std::size_t(regionX + darkCols.begin);
            if (darkCols.begin == 0 && darkCols.end == kRegion)  // a constant size copies fastest
                std::memcpy(dark, darkFrame.data() + first, kRegion);
            else
                std::memcpy(dark + darkCols.begin, darkFrame.data() + first,
                            std::size_t(darkCols.end - darkCols.begin));
            for (int c = 0; c < kPadded; ++c)
                levels[c] = levels[c] > dark[c] ? uint8_t(levels[c] - dark[c]) : 0;
        }

        // 3. Dark-spot guiding: a sunspot on the bright disc becomes a star.
        //    The padding is kept at 0.
        if (invert) {
            for (int c = 0; c < kPadded; ++c)
                levels[c] = uint8_t((63 - levels[c]) & kRegionMask[c]);
        }
        std::memcpy(out, levels, kRegion);

        // 4. Histogram, peak and star-pixel counts. Several partial
        //    histograms, so that runs of equal levels (the sky background,
        //    the solar disc) do not all wait on one counter.
        countLevels(partial, levels, std::make_index_sequence<kPartials>{});
        uint8_t rowCount = 0;
        for (int c = 0; c < kPadded; ++c) {
            peak = std::max(peak, levels[c]);
            const uint8_t star = levels[c] > threshold ? 1 : 0;
            columns[c] = uint8_t(columns[c] + star);
            rowCount = uint8_t(rowCount + star);
        }
        m.rowCounts[row] = rowCount;
    }

    for (int level = 0; level < 64; ++level) {
        uint32_t total = 0;
        for (int k = 0; k < kPartials; ++k)
            total += partial[k][level];
        m.greyHistogram[level] = int32_t(total);
    }
    std::copy(columns, columns + kRegion, m.columnCounts.begin());
    m.peakLevel = peak;
    int32_t population = 0;
    for (uint8_t c : m.columnCounts)
        population += c;
    m.population = population;

    m.centroidX = profileCentroid(m.columnCounts);
    m.centroidY = profileCentroid(m.rowCounts);

    // Tracking gate: a lost (fewer than 5 star pixels) or swamped (more than
    // 200) star gives no correction: the position is the reference itself.
    if (in.trackingOn && (population < 5 || population > 200)) {
        m.gated = true;
        m.centroidX = int32_t(int64_t(in.referenceX) - regionX);
        m.centroidY = int32_t(int64_t(in.referenceY) - regionY);
    }
    return m;
}

GreyFrame greyCapture(const PixelView& picture)
{
    GreyFrame grey;
    for (int y = 0; y < kDarkHeight; ++y) {
        uint8_t* out = grey.data() + std::size_t(y) * kDarkWidth;
        for (int x = 0; x < kDarkWidth; ++x)
            out[x] = picture.bits && picture.contains(x, y) ? greyLevel(picture.at(x, y)) : 0;
    }
    return grey;
}

void StarAnalysis::CaptureDark(const PixelView& picture)
{
    darkFrame = greyCapture(picture);
}
