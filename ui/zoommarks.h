// Geometry of the zoom display: where the magnified analysis region lies in
// the zoom window, the grey colour table it is shown through, and the marks
// drawn over it (the yellow cross on the measured star and, while tracking,
// the red line and circle on the lock position). Plain values; the zoom
// window turns them into pixels.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace zoomview {
// Region pixel (i, j) covers the 2 x 2 window pixels from (111 + 2i, 251 + 2j).
inline constexpr int pictureLeft = 111;
inline constexpr int pictureTop = 251;
inline constexpr int scale = 2;
inline constexpr int pictureSize = 200;  // window pixels, both ways
}  // namespace zoomview

struct PixelPoint {
    int x = 0;
    int y = 0;
    bool operator==(const PixelPoint&) const = default;
};

// A line as the window system draws it: from its start up to, and not
// including, its end point.
struct LineSegment {
    PixelPoint from;
    PixelPoint to;
    bool operator==(const LineSegment&) const = default;
};

// The box a circle is inscribed in; right and bottom are exclusive.
struct CircleBox {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const CircleBox&) const = default;
};

struct CrossArms {
    std::optional<LineSegment> upper, lower, left, right;
};

struct ZoomMarks {
    // Line from the star to the lock position and the circle on the latter,
    // present only while tracking with the lock position strictly inside the
    // region.
    std::optional<LineSegment> referenceLine;
    std::optional<CircleBox> referenceCircle;
    // The cross, present only for a centroid strictly inside the region; its
    // arms stop 6 pixels short of the centre and each is left out when the
    // star sits too close to that edge of the picture.
    std::optional<PixelPoint> crossCentre;
    CrossArms crossArms;
};

// Marks for a centroid (region pixels) and, while tracking, a lock position
// (referenceDx, referenceDy) = reference less region corner.
ZoomMarks zoomMarks(bool trackingOn, int centroidX, int centroidY, int referenceDx, int referenceDy);

// The pixels of a line, its end point excluded (a line of length 0 has none).
std::vector<PixelPoint> linePixels(const LineSegment& line);

// Colour table of the zoom picture, 0xffRRGGBB: grey level i (0..63) shows
// as grey 4i + 3; the table is padded to 256 entries (black), since an 8-bit
// image may index past the 64 levels.
std::array<uint32_t, 256> greyPalette();
