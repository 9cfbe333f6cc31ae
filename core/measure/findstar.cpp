// Finding the guide star in the whole picture.
#include "core/measure/findstar.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/measure/measure.h"

std::optional<StarPosition> findBrightestStar(const PixelView& picture, bool darkSpot, const float* values,
                                              int minContrast)
{
    const int w = picture.width, h = picture.height;
    if (!picture.bits || w < 5 || h < 5)
        return std::nullopt;
    std::vector<int> level(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int l = greyLevel(picture.at(x, y));
            level[size_t(y) * w + x] = darkSpot ? 63 - l : l;
        }
    std::vector<int> sorted = level;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const int median = sorted[sorted.size() / 2];
    const int standsOut = 25 * (median + minContrast);

    // Sums of 5 x 5 patches, kept 10 pixels inside the picture so that a
    // region centred there keeps the star well inside it.
    constexpr int kMargin = 10;
    int best = -1;
    double bestValue = -INFINITY;
    StarPosition at;
    for (int y = std::max(2, kMargin); y < h - std::max(2, kMargin); ++y) {
        for (int x = std::max(2, kMargin); x < w - std::max(2, kMargin); ++x) {
            int sum = 0;
            for (int j = -2; j <= 2; ++j) {
                const int* row = &level[size_t(y + j) * w + x - 2];
                sum += row[0] + row[1] + row[2] + row[3] + row[4];
            }
            if (!values) {
                if (sum > best) {
                    best = sum;
                    at = {x, y};
                }
                continue;
            }
            if (sum < standsOut)
                continue;
            double v = 0;  // NaN when the patch reaches off the camera
            for (int j = -2; j <= 2; ++j)
                for (int i = -2; i <= 2; ++i)
                    v += values[(y + j) * picture.stride + x + i];
            if (darkSpot)
                v = -v;
            if (v > bestValue) {
                bestValue = v;
                best = sum;
                at = {x, y};
            }
        }
    }
    if (best < 0 || best < standsOut)
        return std::nullopt;
    return at;
}
