// Area-averaging scale to the screen picture, in fixed point: weights in
// units of 2^-14 across and 2^-10 down, each set summing to exactly one, so
// that a picture pixel is the exact mean of what it covers whenever that mean
// is a whole number (2 x 2 blocks, a flat field) and otherwise rounds to the
// nearest level. 255 * 2^14 * 2^10 and the rounding half still fit 32 bits.
#include "core/capture/areascale.h"

#include <algorithm>
#include <bit>

static_assert(std::endian::native == std::endian::little, "0xffRRGGBB words are read byte by byte");

namespace {

constexpr int kColumnBits = 14;
constexpr int kRowBits = 10;
static_assert(255ull * (1ull << (kColumnBits + kRowBits)) + (1ull << (kColumnBits + kRowBits - 1)) <= 0xffffffffull);

}  // namespace

void AreaScaler::build(Axis& axis, int sourceLength, int pictureLength, int weightBits)
{
    const int64_t kOne = int64_t(1) << weightBits;
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

namespace {

// One source row's weighted sums across the picture's columns: R, G, B.
template <SourceLayout layout>
void sumRow(const uint8_t* line, const int* first, const int* count, const int* offset, const uint32_t* weights,
            uint32_t* out)
{
    constexpr int bytes = layout == SourceLayout::Rgb24 ? 3 : 4;
    // Byte offsets of R, G and B: 0xffRRGGBB words lie B, G, R, A in memory
    // on this little-endian machine.
    constexpr int r = layout == SourceLayout::Rgb24 ? 0 : 2;
    constexpr int b = layout == SourceLayout::Rgb24 ? 2 : 0;
    for (int x = 0; x < Picture::width; ++x) {
        const uint8_t* p = line + first[x] * bytes;
        const uint32_t* w = weights + offset[x];
        uint32_t sr = 0, sg = 0, sb = 0;
        for (int k = 0, n = count[x]; k < n; ++k, p += bytes) {
            sr += p[r] * w[k];
            sg += p[1] * w[k];
            sb += p[b] * w[k];
        }
        out[3 * x] = sr;
        out[3 * x + 1] = sg;
        out[3 * x + 2] = sb;
    }
}

}  // namespace

void AreaScaler::horizontal(const SourceFrame& source, int row)
{
    const uint8_t* line = source.data + int64_t(row) * source.strideBytes;
    if (source.layout == SourceLayout::Rgb24)
        sumRow<SourceLayout::Rgb24>(line, columns_.first.data(), columns_.count.data(), columns_.offset.data(),
                                    columns_.weights.data(), rowSums_.data());
    else
        sumRow<SourceLayout::Xrgb32>(line, columns_.first.data(), columns_.count.data(), columns_.offset.data(),
                                     columns_.weights.data(), rowSums_.data());
}

bool AreaScaler::scale(const SourceFrame& source, Picture& picture)
{
    const int pixelBytes = source.layout == SourceLayout::Rgb24 ? 3 : 4;
    if (!source.data || source.width <= 0 || source.height <= 0 ||
        int64_t(source.strideBytes) < int64_t(source.width) * pixelBytes)
        return false;
    if (columns_.source != source.width || columns_.first.empty())
        build(columns_, source.width, Picture::width, kColumnBits);
    if (rows_.source != source.height || rows_.first.empty())
        build(rows_, source.height, Picture::height, kRowBits);
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
            const uint32_t w = wy[k];
            for (int i = 0; i < 3 * Picture::width; ++i)
                accumulator_[i] += rowSums_[i] * w;
        }
        uint32_t* out = picture.bits.data() + y * Picture::width;
        constexpr uint32_t half = uint32_t(1) << (kColumnBits + kRowBits - 1);
        for (int x = 0; x < Picture::width; ++x) {
            const auto level = [&](int c) { return int((accumulator_[3 * x + c] + half) >> (kColumnBits + kRowBits)); };
            out[x] = rgbWord(level(0), level(1), level(2));
        }
    }
    return true;
}
