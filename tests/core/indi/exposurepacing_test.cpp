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

TEST(ExposurePacing, AMoveAbortsTheExposureUnderWayAndTheNextBeginsWhenItEnds)
{
    FakeClock clock;
    clock.advanceMs(5000);
    ExposurePacing pacing(clock);

    // A 2 s exposure asked for, then a 400 ms pulse 100 ms later: the
    // exposure would show the move and is aborted.
    pacing.asked();
    clock.advanceMs(100);
    EXPECT_TRUE(pacing.holdUntil(clock.nowUs() + 400'000));
    EXPECT_FALSE(pacing.exposing());
    EXPECT_FALSE(pacing.mayAskNow());
    // The camera lets it go at once; nothing is asked before the move ends,
    // then at once, not after the second a failed exposure waits.
    pacing.settled();
    clock.advanceMs(399);
    EXPECT_FALSE(pacing.due(2000));
    clock.advanceMs(1);
    EXPECT_TRUE(pacing.due(2000));
    EXPECT_TRUE(pacing.mayAskNow());

    // Asked for after the move: a later hold that ends before it began
    // aborts nothing.
    pacing.asked();
    EXPECT_FALSE(pacing.holdUntil(clock.nowUs()));
    EXPECT_TRUE(pacing.exposing());

    // Aborted, but its frame comes anyway: dropped, and it releases the next.
    clock.advanceMs(50);
    EXPECT_TRUE(pacing.holdUntil(clock.nowUs() + 200'000));
    clock.advanceMs(300);
    EXPECT_FALSE(pacing.frameCame());
    EXPECT_TRUE(pacing.due(2000));
    pacing.asked();
    clock.advanceMs(2100);
    EXPECT_TRUE(pacing.frameCame());  // a frame of its own

    // A camera that never says it let the aborted exposure go is asked
    // again two seconds after the abort.
    pacing.asked();
    EXPECT_TRUE(pacing.holdUntil(clock.nowUs() + 100'000));
    clock.advanceMs(2000);
    EXPECT_FALSE(pacing.due(2000));
    clock.advanceUs(1);
    EXPECT_TRUE(pacing.due(2000));
}
