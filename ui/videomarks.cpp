// The marks over the live video.
#include "ui/videomarks.h"

#include <cmath>
#include <cstdlib>

#include "core/picture.h"

namespace videomarks {

namespace {

constexpr uint32_t kWhite = 0x00ffffff;  // XOR with the white pen inverts the colour

void invert(Picture& picture, int64_t x, int64_t y)
{
    if (x >= 0 && y >= 0 && x < Picture::width && y < Picture::height)
        picture.at(int(x), int(y)) ^= kWhite;
}

}  // namespace

void xorRegionSquare(Picture& picture, int32_t regionX, int32_t regionY)
{
    // 64-bit: a region dragged far off the picture must not overflow.
    const int64_t left = int64_t(regionX) - 1, right = int64_t(regionX) + 101;
    const int64_t top = int64_t(regionY) - 1, bottom = int64_t(regionY) + 101;
    for (int64_t x = std::max<int64_t>(left, -1); x <= std::min<int64_t>(right, Picture::width); ++x) {
        invert(picture, x, top);
        invert(picture, x, bottom);
    }
    for (int64_t y = std::max<int64_t>(top + 1, -1); y <= std::min<int64_t>(bottom - 1, Picture::height); ++y) {
        invert(picture, left, y);
        invert(picture, right, y);
    }
}

void xorReticle(Picture& picture, int32_t regionX, int32_t regionY)
{
    const int64_t x = int64_t(regionX) + 50;
    const int64_t y = int64_t(regionY) + 50;
    for (int row = 0; row < Picture::height; ++row)
        invert(picture, x, row);
    for (int col = 0; col < Picture::width; ++col)
        invert(picture, col, y);
}

void drawLockCircle(Picture& picture, int32_t x, int32_t y, uint32_t rgb)
{
    // The outline of the ellipse inscribed in an 11 x 11 box: the pixels
    // whose centre lies within half a pixel of the radius-5 circle.
    for (int dy = -5; dy <= 5; ++dy) {
        for (int dx = -5; dx <= 5; ++dx) {
            const double r = std::sqrt(double(dx * dx + dy * dy));
            if (std::fabs(r - 5.0) <= 0.5) {
                const int64_t px = int64_t(x) + dx, py = int64_t(y) + dy;
                if (px >= 0 && py >= 0 && px < Picture::width && py < Picture::height)
                    picture.at(int(px), int(py)) = 0xff000000u | rgb;
            }
        }
    }
}

}  // namespace videomarks
