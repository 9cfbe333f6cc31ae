// PHD2's guide algorithms as tables of distances in and moves out, and the
// pulses the precise guider makes of a calibrated offset.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/precise/guidealgo.h"

namespace {

struct Row {
    double in;
    double out;
};

}  // namespace

TEST(PreciseGuideAlgorithms, HysteresisCarriesATenthOfTheLastMoveAtSeventyPercent)
{
    HysteresisAlgorithm h;
    const std::vector<Row> rows = {
        {1.0, 0.63},       // 0.9 * 1 * 0.7
        {1.0, 0.6741},     // (0.9 + 0.1 * 0.63) * 0.7
        {0.1, 0},          // below the minimum move, which also clears the carry
        {-0.5, -0.315},
        {0.2, 0.10395},    // (0.18 - 0.0315) * 0.7
        {0.149, 0},
    };
    for (const Row& r : rows)
        EXPECT_NEAR(h.result(r.in), r.out, 1e-12) << "in " << r.in;
}

TEST(PreciseGuideAlgorithms, ResistSwitchWaitsForACompellingCaseUnlessTheExcursionIsLarge)
{
    const std::vector<Row> fast = {
        {0.2, 0},      // one distance is no case yet
        {0.3, 0},
        {0.25, 0.25},  // three beyond the minimum, and growing: corrects
        {-0.2, 0},     // the other way: an overshoot, left alone
        {0.1, 0},      // below the minimum move
        {-0.3, 0},
        {-0.6, -0.6},  // over three minimum moves the other way: switches at once
        {0.2, 0},
        {-0.2, -0.2},
    };
    ResistSwitchAlgorithm r;
    for (const Row& row : fast)
        EXPECT_NEAR(r.result(row.in), row.out, 1e-12) << "in " << row.in;
    EXPECT_EQ(r.side(), -1);

    // Without the fast switch the large excursion is resisted too, until
    // the other side outvotes the history by three and keeps growing.
    ResistSwitchAlgorithm slow;
    slow.fastSwitch = false;
    for (std::size_t i = 0; i + 3 < fast.size(); ++i)
        slow.result(fast[i].in);
    EXPECT_EQ(slow.side(), 1);
    const std::vector<Row> resisted = {{-0.6, 0}, {-0.7, 0}, {-0.8, 0}, {-0.9, -0.9}};
    for (const Row& row : resisted)
        EXPECT_NEAR(slow.result(row.in), row.out, 1e-12) << "in " << row.in;
    EXPECT_EQ(slow.side(), -1);

    // After a reset, a large distance is corrected at once; a small one waits.
    r.reset();
    EXPECT_EQ(r.side(), 0);
    EXPECT_EQ(r.result(5.0), 5.0);
    r.reset();
    EXPECT_EQ(r.result(0.4), 0);
}

TEST(PreciseGuideAlgorithms, PulsesFromTheCalibratedAxesAndRates)
{
    PreciseGuider g;
    g.calibration.xAngle = 35 * M_PI / 180;
    g.calibration.yAngle = 125 * M_PI / 180;
    g.calibration.xRate = 5;
    g.calibration.yRate = 6;
    const PointPx lock{100, 100};
    const double ca = std::cos(g.calibration.xAngle), sa = std::sin(g.calibration.xAngle);

    // One pixel along RA: 0.63 px of correction West, 126 ms, 8 counts.
    GuideStep s = g.step({lock.x + ca, lock.y + sa}, lock);
    EXPECT_NEAR(s.ra.distance, 1, 1e-12);
    EXPECT_NEAR(s.dec.distance, 0, 1e-12);
    EXPECT_EQ(s.ra.direction, Direction::West);
    EXPECT_EQ(s.ra.ms, 126);
    EXPECT_EQ(s.ra.relayCount, 8);
    EXPECT_EQ(s.dec.ms, 0);

    // Two pixels against North's direction: North at once, 2 px at 6 px/s.
    g.reset();
    s = g.step({lock.x + 2 * sa, lock.y - 2 * ca}, lock);
    EXPECT_EQ(s.dec.direction, Direction::North);
    EXPECT_EQ(s.dec.ms, 333);

    // Far off: the pulse stops at the maximum, a second of relay counts.
    g.reset();
    s = g.step({lock.x - 20 * ca, lock.y - 20 * sa}, lock);
    EXPECT_EQ(s.ra.direction, Direction::East);
    EXPECT_TRUE(s.ra.limited);
    EXPECT_EQ(s.ra.ms, 1000);
    EXPECT_EQ(s.ra.relayCount, 63);

    // A dither along the axes, as an offset of the lock in the picture.
    const PointPx d = g.ditherOffset(3, -2);
    const PointPx back = g.calibration.toMount(d);
    EXPECT_NEAR(back.x, 3, 1e-12);
    EXPECT_NEAR(back.y, -2, 1e-12);
    EXPECT_NEAR(d.x, 3 * ca + 2 * sa, 1e-12);
    EXPECT_NEAR(g.calibration.toMount(g.ditherOffset(3, -2, true)).y, 0, 1e-12);
}
