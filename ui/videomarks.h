// The marks drawn over the live video, into the screen picture itself: the
// square round the analysis region and the reticle cross, both XOR drawings
// that a second drawing at the same place removes, and the lock circle of a
// suspended guiding, drawn plainly in red (the next frame removes it).
#pragma once

#include <cstdint>

struct Picture;

namespace videomarks {

// One-pixel outline with its left and top lines at regionX - 1, regionY - 1
// and its right and bottom lines at regionX + 101, regionY + 101; every
// pixel inverted once. Parts outside the picture are left out.
void xorRegionSquare(Picture& picture, int32_t regionX, int32_t regionY);

// The vertical line x = regionX + 50 over the whole height and the
// horizontal line y = regionY + 50 over the whole width, each inverted on its
// own (their crossing pixel is inverted twice).
void xorReticle(Picture& picture, int32_t regionX, int32_t regionY);

// The circle inscribed in the box (x - 5, y - 5)-(x + 6, y + 6), right and
// bottom excluded: 11 pixels across, centred on the lock position.
void drawLockCircle(Picture& picture, int32_t x, int32_t y, uint32_t rgb);

}  // namespace videomarks
