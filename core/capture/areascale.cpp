// Area-averaging scale to the screen picture, in fixed point: weights in
// units of 2^-14 on each axis, so that a picture pixel is the exact mean of
// what it covers whenever that mean is a whole number (2 x 2 blocks, a flat
// field) and otherwise rounds to the nearest level.
#include "core/capture/areascale.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kWeightBits = 14;
constexpr int64_t kOne = int64_t(1) << kWeightBits;

}  // namespace

void AreaScaler::build(Axis& axis, int sourceLength, int pictureLength)
{
    axis.source = sourceLength;
    axis.first.assign(pictureLength, 0);
    axis.count.assign(pictureLength, 0);
    axis.offset.assign(pictureLength, 0);
    axis.weights.clear();
    // Measured in 1/pictureLength of a source pixel, picture pixel i covers
    // [i * S, (i + 1) * S) and source pixel j covers [j * P, (j + 1) * P).
    const int64_t S = sourceLength, P = pictureLength;
    for (int i = 0; i < pictureLength; ++i) {
        const int64_t lo = i * S, hi = (i + 1) * S;
        const int64_t j0 = lo / P, j1 = (hi - 1) / P;
        axis.first[i] = int(j0);
        axis.count[i] = int(j1 - j0 + 1);
        axis.offset[i] = int(axis.weights.size());
        // Rounded cumulative coverage, so the weights add up to exactly kOne.
        int64_t covered = 0, given = 0;
        for (int64_t j = j0; j <= j1; ++j) {
            covered += std::min(hi, (j + 1) * P) - std::max(lo, j * P);
            const int64_t upTo = (covered * kOne + S / 2) / S;
            axis.weights.push_back(uint32_t(upTo - given));
            given = upTo;
        }
    }
}

void AreaScaler::horizontal(const SourceFrame& source, int row)
{
    const uint8_t* line = source.data + int64_t(row) * source.strideBytes;
    uint32_t* out = rowSums_.data();
    const int* first = columns_.first.data();
    const int* count = columns_.count.data();
    const int* offset = columns_.offset.data();
    const uint32_t* weights = columns_.weights.data();
    for (int x = 0; x < Picture::width; ++x) {
        uint32_t r = 0, g = 0, b = 0;
        const uint32_t* w = weights + offset[x];
        if (source.layout == SourceLayout::Rgb24) {
            const uint8_t* p = line + first[x] * 3;
            for (int k = 0; k < count[x]; ++k, p += 3) {
                r += p[0] * w[k];
                g += p[1] * w[k];
                b += p[2] * w[k];
            }
        } else {
            const uint8_t* p = line + first[x] * 4;
            for (int k = 0; k < count[x]; ++k, p += 4) {
                uint32_t word;
                std::memcpy(&word, p, 4);
                r += ((word >> 16) & 0xff) * w[k];
                g += ((word >> 8) & 0xff) * w[k];
                b += (word & 0xff) * w[k];
            }
        }
        out[3 * x] = r;
        out[3 * x + 1] = g;
        out[3 * x + 2] = b;
    }
}

bool AreaScaler::scale(const SourceFrame& source, Picture& picture)
{
    const int pixelBytes = source.layout == SourceLayout::Rgb24 ? 3 : 4;
    if (!source.data || source.width <= 0 || source.height <= 0 ||
        int64_t(source.strideBytes) < int64_t(source.width) * pixelBytes)
        return false;
    if (columns_.source != source.width || columns_.first.empty())
        build(columns_, source.width, Picture::width);
    if (rows_.source != source.height || rows_.first.empty())
        build(rows_, source.height, Picture::height);
    rowSums_.resize(3 * Picture::width);
    accumulator_.resize(3 * Picture::width);

    // Source rows are visited in order, a row shared by two picture rows
    // twice in a row: the last one's horizontal sums are kept.
    int summed = -1;
    for (int y = 0; y < Picture::height; ++y) {
        std::fill(accumulator_.begin(), accumulator_.end(), 0);
        const uint32_t* wy = rows_.weights.data() + rows_.offset[y];
        for (int k = 0; k < rows_.count[y]; ++k) {
            const int row = rows_.first[y] + k;
            if (row != summed) {
                horizontal(source, row);
                summed = row;
            }
            const uint64_t w = wy[k];
            for (int i = 0; i < 3 * Picture::width; ++i)
                accumulator_[i] += rowSums_[i] * w;
        }
        uint32_t* out = picture.bits.data() + y * Picture::width;
        constexpr uint64_t half = uint64_t(1) << (2 * kWeightBits - 1);
        for (int x = 0; x < Picture::width; ++x) {
            const auto level = [&](int c) { return int((accumulator_[3 * x + c] + half) >> (2 * kWeightBits)); };
            out[x] = rgbWord(level(0), level(1), level(2));
        }
    }
    return true;
}
