// Program clock and busy-wait.
#include "app/clock.h"

void Clock::pauseMs(int ms)
{
    const int64_t end = nowUs() + int64_t(ms) * 1000;
    while (nowUs() < end) {
    }
}

int64_t SteadyClock::nowUs() const
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now() - start_)
        .count();
}
