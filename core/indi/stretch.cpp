// Grey stretch of an INDI camera's picture.
#include "core/indi/stretch.h"

#include <algorithm>
#include <cmath>

namespace {

// The standard deviation of Gaussian noise is 1.4826 times its median
// absolute deviation.
constexpr float kSigmaPerMad = 1.4826f;

float nth(std::vector<float>& v, size_t k)
{
    std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(k), v.end());
    return v[k];
}

}  // namespace

StretchLevels autoStretchLevels(const std::vector<float>& values)
{
    std::vector<float> v;
    v.reserve(values.size());
    for (float x : values)
        if (!std::isnan(x))
            v.push_back(x);
    if (v.empty())
        return {};
    const float brightest = *std::max_element(v.begin(), v.end());
    const float median = nth(v, v.size() / 2);
    for (float& x : v)
        x = std::fabs(x - median);
    const float sigma = kSigmaPerMad * nth(v, v.size() / 2);
    float span = std::min(kAutoWhiteNoiseSigmas * sigma, brightest - median);
    if (!(span > 0))  // a flat picture, or noise below the camera's unit
        span = std::max(brightest - median, 1.0f);
    return {median, median + span};
}

void stretchToPicture(const std::vector<float>& values, const StretchLevels& levels, Picture& picture)
{
    const float span = levels.white - levels.black;
    const size_t n = std::min(values.size(), picture.bits.size());
    for (size_t i = 0; i < n; ++i) {
        const float v = values[i];
        int grey = 0;
        if (!std::isnan(v)) {
            if (span <= 0)
                grey = v > levels.black ? 255 : 0;
            else
                grey = int(std::lround(std::clamp((v - levels.black) / span, 0.0f, 1.0f) * 255.0f));
        }
        picture.bits[i] = rgbWord(grey, grey, grey);
    }
}
