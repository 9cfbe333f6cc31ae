// Geometry of the zoom display: lines without their end point, and which arms
// of the cross are left out near the region's edges.
#include <gtest/gtest.h>

#include "ui/zoommarks.h"

namespace {

TEST(LinePixels, LeavesOutTheEndPointInEveryDirection)
{
    struct Case {
        LineSegment line;
        std::vector<PixelPoint> expected;
    };
    const Case cases[] = {
        {{{10, 5}, {14, 5}}, {{10, 5}, {11, 5}, {12, 5}, {13, 5}}},
        {{{14, 5}, {10, 5}}, {{14, 5}, {13, 5}, {12, 5}, {11, 5}}},
        {{{3, 7}, {3, 10}}, {{3, 7}, {3, 8}, {3, 9}}},
        {{{3, 10}, {3, 7}}, {{3, 10}, {3, 9}, {3, 8}}},
        {{{0, 0}, {3, 3}}, {{0, 0}, {1, 1}, {2, 2}}},
        {{{0, 0}, {6, 2}}, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 1}, {5, 2}}},
        {{{0, 0}, {2, 6}}, {{0, 0}, {0, 1}, {1, 2}, {1, 3}, {1, 4}, {2, 5}}},  // steep: one pixel a row
        {{{6, 6}, {6, 6}}, {}},
        {{{6, 6}, {7, 6}}, {{6, 6}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "(" << c.line.from.x << "," << c.line.from.y << ")-(" << c.line.to.x
                                        << "," << c.line.to.y << ")");
        EXPECT_EQ(linePixels(c.line), c.expected);
    }
}

TEST(ZoomMarks, CrossArmsNearTheEdges)
{
    struct Case {
        int cx, cy;
        bool cross, upper, lower, left, right;
    };
    const Case cases[] = {
        {50, 50, true, true, true, true, true},     {5, 50, true, true, true, false, true},
        {7, 50, true, true, true, false, true},     {8, 50, true, true, true, true, true},
        {94, 50, true, true, true, true, true},     {95, 50, true, true, true, true, false},
        {96, 50, true, true, true, true, false},    {50, 5, true, false, true, true, true},
        {50, 96, true, true, false, true, true},    {1, 1, true, false, true, false, true},
        {99, 99, true, true, false, true, false},   {0, 50, false, false, false, false, false},
        {100, 50, false, false, false, false, false}, {50, 0, false, false, false, false, false},
        {50, 100, false, false, false, false, false}, {-3, 50, false, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "centroid " << c.cx << "," << c.cy);
        const ZoomMarks m = zoomMarks(false, c.cx, c.cy, 0, 0);
        EXPECT_EQ(m.crossCentre.has_value(), c.cross);
        EXPECT_EQ(m.crossArms.upper.has_value(), c.upper);
        EXPECT_EQ(m.crossArms.lower.has_value(), c.lower);
        EXPECT_EQ(m.crossArms.left.has_value(), c.left);
        EXPECT_EQ(m.crossArms.right.has_value(), c.right);
    }
}

}  // namespace
