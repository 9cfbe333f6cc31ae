// Settling as PHD2 settles: within `pixels` (the tolerance itself counts)
// for `time` whole seconds, started again by a frame out of range or
// dropped, failed `timeout` whole seconds after the start, done after
// `frames` frames.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "core/server/settling.h"

TEST(Settler, SettlesOrTimesOutCountingFrames)
{
    constexpr double kDropped = -1;
    const SettleParams tight{1.5, 2, 30};
    const struct {
        const char* what;
        SettleParams params;
        std::vector<double> distances;  // one frame every 1.2 s
        int endedAt;                    // the frame that ended the wait
        bool settled;
        int dropped;
    } cases[] = {
        {"in range from the start", tight, {1, 0, 1.4, 9}, 3, true, 0},
        {"the tolerance itself is in", tight, {1.5, 1.5, 1.5, 9}, 3, true, 0},
        {"a time of 1.5 s counts as 1 s", {1.5, 1.5, 30}, {9, 1, 1, 9}, 3, true, 0},
        {"an excursion starts again", tight, {1, 1, 3, 1, 1, 1}, 6, true, 0},
        {"a dropped frame starts again", tight, {1, kDropped, 1, 1, 1}, 5, true, 1},
        {"time 0: the first frame in range", {2, 0, 30}, {5, 1.9}, 2, true, 0},
        {"never in range", tight, std::vector<double>(40, 4.0), 25, false, 0},
        {"in range too briefly", {1.5, 10, 6}, {0, 0, 0, 0, 0, 0}, 5, false, 0},
        {"a frame count ends it", {1.5, 10, 60, 3}, {4, 4, 4, 4}, 3, true, 0},
    };
    for (const auto& c : cases) {
        Settler s;
        s.begin(c.params, 5'000'000);
        std::optional<SettleOutcome> done;
        int frame = 0;
        SettleProgress p;
        while (!done && frame < int(c.distances.size())) {
            const double d = c.distances[size_t(frame)];
            ++frame;
            done = s.onFrame(d == kDropped ? 0.3 : d, d != kDropped, 5'000'000 + frame * 1'200'000, p);
        }
        ASSERT_TRUE(done) << c.what;
        EXPECT_EQ(frame, c.endedAt) << c.what;
        EXPECT_EQ(done->settled, c.settled) << c.what;
        EXPECT_EQ(done->error, c.settled ? "" : Settler::kTimedOut) << c.what;
        EXPECT_EQ(done->totalFrames, c.endedAt) << c.what;
        EXPECT_EQ(done->droppedFrames, c.dropped) << c.what;
        EXPECT_FALSE(s.active()) << c.what;
    }
}

TEST(Settler, TimesOutWithoutFramesAndCancels)
{
    Settler s;
    s.begin({1.5, 10, 20}, 0);
    EXPECT_FALSE(s.onIdle(19'999'999));
    ASSERT_TRUE(s.onIdle(20'000'000));
    EXPECT_FALSE(s.onIdle(90'000'000)) << "one outcome a wait";

    s.begin({1.5, 10, 20}, 0);
    SettleProgress p;
    EXPECT_FALSE(s.onFrame(0.2, true, 1'000'000, p));
    EXPECT_FALSE(s.onFrame(0.2, true, 2'500'000, p));
    EXPECT_DOUBLE_EQ(p.timeInRangeSec, 1.5) << "the time since the first frame in range";
    EXPECT_DOUBLE_EQ(p.settleTimeSec, 10);
    EXPECT_FALSE(s.onFrame(0.2, false, 3'000'000, p));
    EXPECT_FALSE(p.starLocked);
    EXPECT_DOUBLE_EQ(p.timeInRangeSec, 0);
    const SettleOutcome c = s.cancel("guiding stopped");
    EXPECT_EQ(c.error, "guiding stopped");
    EXPECT_EQ(c.totalFrames, 3);
    EXPECT_EQ(c.droppedFrames, 1);
}
