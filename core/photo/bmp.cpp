// The bitmap of one photograph (see bmp.h).
#include "core/photo/bmp.h"

namespace {

constexpr uint32_t kInfoHeaderSize = 40;
constexpr int kColours = 256;

void put(std::vector<uint8_t>& out, uint32_t v, int size)
{
    for (int i = 0; i < size; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

}  // namespace

std::vector<uint8_t> photoBmp(const GreyFrame& grey)
{
    constexpr int w = Picture::width, h = Picture::height;
    std::vector<uint8_t> out;
    out.reserve(kPhotoFileSize);

    // File header.
    out.push_back('B');
    out.push_back('M');
    put(out, uint32_t(kPhotoFileSize), 4);
    put(out, 0, 2);  // reserved
    put(out, 0, 2);
    put(out, uint32_t(kPhotoPixelOffset), 4);

    // Bitmap header. A positive height: the bottom row comes first.
    put(out, kInfoHeaderSize, 4);
    put(out, w, 4);
    put(out, h, 4);
    put(out, 1, 2);  // planes
    put(out, 8, 2);  // bits per pixel
    put(out, 0, 4);  // no compression
    put(out, 0, 4);  // image size: may be 0 when uncompressed
    put(out, 0, 4);  // horizontal and vertical resolution
    put(out, 0, 4);
    put(out, 0, 4);  // colours used: 0 means all 256
    put(out, 0, 4);  // colours important

    // Grey colour table: blue, green, red, 0.
    for (int i = 0; i < kColours; ++i) {
        const uint8_t level = uint8_t(4 * i);
        out.insert(out.end(), {level, level, level, 0});
    }

    // Four zero bytes up to the pixels.
    out.resize(kPhotoPixelOffset, 0);

    // Rows of 320 bytes need no padding to four bytes.
    for (int y = h - 1; y >= 0; --y) {
        const auto row = grey.begin() + std::ptrdiff_t(y) * w;
        out.insert(out.end(), row, row + w);
    }
    return out;
}
