// Bar scales, line pixels and clock text of the monitoring graphs.
#include "ui/graphscale.h"

#include <cmath>

namespace graphscale {

std::optional<int> errorBin(int error)
{
    const int64_t i = int64_t(error) + kZeroErrorBin;
    if (i < 0 || i >= kErrorBins)
        return std::nullopt;
    return int(i);
}

int linearHeight(int64_t count, int64_t largest, int full)
{
    if (count <= 0 || full <= 0)
        return 0;
    largest = std::max<int64_t>(largest, 1);
    return int(count * full / largest);
}

namespace {
// Largest r with r * r <= v.
int64_t integerSqrt(int64_t v)
{
    if (v <= 0)
        return 0;
    int64_t r = int64_t(std::sqrt(double(v)));
    while (r * r > v)
        --r;
    while ((r + 1) * (r + 1) <= v)
        ++r;
    return r;
}
}  // namespace

int sqrtHeight(int64_t count, int64_t largest, int full)
{
    if (count <= 0 || full <= 0)
        return 0;
    largest = std::max<int64_t>(largest, 1);
    // k <= full * sqrt(count / largest) exactly when k^2 <= full^2 * count / largest,
    // and for a whole k the floor of the right-hand side decides the same.
    return int(integerSqrt(int64_t(full) * full * count / largest));
}

PixelRect axisLinePixels(int x0, int y0, int x1, int y1)
{
    if (x0 == x1 && y0 != y1) {
        // Going up the pixels are y1 + 1 .. y0; going down y0 .. y1 - 1.
        return y1 < y0 ? PixelRect{x0, y1 + 1, 1, y0 - y1} : PixelRect{x0, y0, 1, y1 - y0};
    }
    if (y0 == y1 && x0 != x1)
        return x1 < x0 ? PixelRect{x1 + 1, y0, x0 - x1, 1} : PixelRect{x0, y0, x1 - x0, 1};
    return {};
}

ClockText clockText(int64_t elapsedMs)
{
    const int64_t e = elapsedMs / 1000;
    const int64_t h = e / 3600;
    const int64_t mn = (e - 3600 * h) / 60;
    const int64_t s = e - 3600 * h - 60 * mn;
    return {std::to_string(h) + "h", std::to_string(mn) + "mn", std::to_string(s) + "s"};
}

int markerLevel(bool manualThresholdOn, int manualThreshold, int peakLevel)
{
    return manualThresholdOn ? manualThreshold : peakLevel - 5;
}

}  // namespace graphscale
