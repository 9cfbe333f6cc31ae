// Geometry of the zoom display's picture and marks.
#include "ui/zoommarks.h"

#include <cstdlib>

#include "core/picture.h"

ZoomMarks zoomMarks(bool trackingOn, int centroidX, int centroidY, int referenceDx, int referenceDy)
{
    ZoomMarks m;
    if (trackingOn && referenceDx > 0 && referenceDx < 100 && referenceDy > 0 && referenceDy < 100) {
        m.referenceLine = LineSegment{{2 * centroidX + 112, 2 * centroidY + 252},
                                      {2 * referenceDx + 112, 2 * referenceDy + 252}};
        m.referenceCircle = CircleBox{2 * referenceDx + 106, 2 * referenceDy + 246,
                                      2 * referenceDx + 118, 2 * referenceDy + 258};
    }
    if (centroidX > 0 && centroidX < 100 && centroidY > 0 && centroidY < 100) {
        // The cross sits one pixel right of the star's 2 x 2 block: X is
        // 2i + 113 where the block spans 2i + 111 .. 2i + 112.
        const int x = 2 * centroidX + 113;
        const int y = 2 * centroidY + 252;
        m.crossCentre = PixelPoint{x, y};
        const int pictureRight = zoomview::pictureLeft + zoomview::pictureSize - 1;   // 310
        const int pictureBottom = zoomview::pictureTop + zoomview::pictureSize - 1;  // 450
        if (centroidY > 7)
            m.crossArms.upper = LineSegment{{x, zoomview::pictureTop}, {x, 2 * centroidY + 246}};
        if (centroidY < 95)
            m.crossArms.lower = LineSegment{{x, 2 * centroidY + 258}, {x, pictureBottom}};
        if (centroidX > 7)
            m.crossArms.left = LineSegment{{zoomview::pictureLeft, y}, {2 * centroidX + 107, y}};
        if (centroidX < 95)
            m.crossArms.right = LineSegment{{2 * centroidX + 119, y}, {pictureRight, y}};
    }
    return m;
}

std::vector<PixelPoint> linePixels(const LineSegment& line)
{
    // Bresenham from the start towards the end; the end point itself is not
    // drawn, as the window system's lines leave it out.
    std::vector<PixelPoint> pts;
    int x = line.from.x, y = line.from.y;
    const int x1 = line.to.x, y1 = line.to.y;
    const int dx = std::abs(x1 - x), dy = -std::abs(y1 - y);
    const int sx = x < x1 ? 1 : -1, sy = y < y1 ? 1 : -1;
    int err = dx + dy;
    while (x != x1 || y != y1) {
        pts.push_back({x, y});
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
    return pts;
}

std::array<uint32_t, 256> greyPalette()
{
    std::array<uint32_t, 256> table;
    table.fill(rgbWord(0, 0, 0));
    for (int i = 0; i < 64; ++i)
        table[i] = rgbWord(4 * i + 3, 4 * i + 3, 4 * i + 3);
    return table;
}
