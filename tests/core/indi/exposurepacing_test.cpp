// The pace of an INDI camera's exposures on the program clock: a lost frame
// is asked for again once overdue, a failed exposure a second after it failed.
#include <gtest/gtest.h>

#include "core/indi/exposurepacing.h"

TEST(ExposurePacing, ALostFrameIsAskedAgainWhenOverdueAndAFailedExposureAfterASecond)
{
    FakeClock clock;
    clock.advanceMs(5000);
    ExposurePacing pacing(clock);

    // A 2 s exposure whose frame never comes: its frame may come until 30 s
    // after its end, by the length of exposure asked for now.
    pacing.asked();
    EXPECT_EQ(pacing.askedUs(), 5'000'000);
    clock.advanceMs(2000 + 30000);
    EXPECT_FALSE(pacing.due(2000));
    clock.advanceUs(1);
    EXPECT_TRUE(pacing.due(2000));
    EXPECT_FALSE(pacing.due(3000));

    // Asked again, then failed: the next waits one second from the failure.
    pacing.asked();
    clock.advanceMs(700);
    pacing.ended();
    EXPECT_FALSE(pacing.exposing());
    clock.advanceMs(1000);
    EXPECT_FALSE(pacing.due(2000));
    clock.advanceUs(1);
    EXPECT_TRUE(pacing.due(2000));

}
