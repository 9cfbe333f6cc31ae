// Settling: strictly within `pixels` for `time` seconds, started again by a
// frame out of range or dropped, failed `timeout` seconds after the start.
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
        {"the tolerance itself is out", tight, {1.5, 1.5, 1.5, 1.5, 0, 0, 0}, 7, true, 0},
        {"an excursion starts again", tight, {1, 1, 3, 1, 1, 1}, 6, true, 0},
        {"a dropped frame starts again", tight, {1, kDropped, 1, 1, 1}, 5, true, 1},
        {"time 0: the first frame in range", {2, 0, 30}, {5, 1.9}, 2, true, 0},
        {"never in range", tight, std::vector<double>(40, 4.0), 25, false, 0},
        {"in range too briefly", {1.5, 10, 6}, {0, 0, 0, 0, 0, 0}, 5, false, 0},
    };
    for (const auto& c : cases) {
        Settler s;
        s.begin(c.params, 5'000'000);
        std::optional<SettleOutcome> done;
        int frame = 0;
        while (!done && frame < int(c.distances.size())) {
            const double d = c.distances[size_t(frame)];
            ++frame;
            s.onFrame(d == kDropped ? std::nullopt : std::optional<double>(d), 5'000'000 + frame * 1'200'000, done);
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
    std::optional<SettleOutcome> done;
    s.onFrame(std::nullopt, 1'000'000, done);
    const SettleOutcome c = s.cancel("guiding stopped");
    EXPECT_EQ(c.error, "guiding stopped");
    EXPECT_EQ(c.totalFrames, 1);
    EXPECT_EQ(c.droppedFrames, 1);
}
