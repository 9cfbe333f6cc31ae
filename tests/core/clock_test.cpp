// The wait between serial bytes never ends early, whatever the length.
#include <gtest/gtest.h>

#include "core/clock.h"

TEST(ProgramClock, PauseNeverEndsBeforeItsLength)
{
    SteadyClock clock;
    for (int ms : {0, 1, 5, 15}) {
        const int64_t start = clock.nowUs();
        clock.pauseMs(ms);
        EXPECT_GE(clock.nowUs() - start, int64_t(ms) * 1000) << ms << " ms";
    }
}
