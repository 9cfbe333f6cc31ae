// The arithmetic behind the energy graph and the histogram panel: which bin a
// guiding error falls in, how tall a bar is drawn, which pixels a line covers
// and what the guiding clock reads. Plain C++, so it is checked without any
// window.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace graphscale {

// The energy graph counts guiding errors from -25 to +24 pixels; bin 25 is
// the zero error.
inline constexpr int kErrorBins = 50;
inline constexpr int kZeroErrorBin = 25;

// Bin of a guiding error, or nothing when the error lies outside the graph.
std::optional<int> errorBin(int error);

// The largest of 1 and all the counts: the divisor of every bar scale, never
// zero.
template <typename T>
int64_t largestOrOne(std::span<const T> counts)
{
    int64_t m = 1;
    for (T c : counts)
        m = std::max<int64_t>(m, int64_t(c));
    return m;
}

// Integer part of count * full / largest, computed exactly so that the
// fullest count is drawn exactly full pixels high. Negative counts draw
// nothing; largest must be at least 1.
int linearHeight(int64_t count, int64_t largest, int full);

// Integer part of sqrt(count) * full / sqrt(largest), computed exactly (as
// the integer square root of full^2 * count / largest).
int sqrtHeight(int64_t count, int64_t largest, int full);

// Pixels covered by a horizontal or vertical line from (x0, y0) to (x1, y1)
// drawn as the platform's line drawing does: the start point included, the
// end point left out. Empty (zero size) when the points coincide or the line
// is neither horizontal nor vertical.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
};
PixelRect axisLinePixels(int x0, int y0, int x1, int y1);

// The guiding clock as the energy graph shows it: whole hours, minutes and
// seconds, each followed by its unit, no leading zeros.
struct ClockText {
    std::string hours;
    std::string minutes;
    std::string seconds;
};
ClockText clockText(int64_t elapsedMs);

// Grey level under which the histogram marks the threshold: the manual value
// when "Manuel" is ticked, otherwise five below the brightest level (the
// marker falls off the panel for a dark region).
int markerLevel(bool manualThresholdOn, int manualThreshold, int peakLevel);

}  // namespace graphscale
