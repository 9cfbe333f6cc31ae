// Program clock and the wait between serial bytes.
#include "core/clock.h"

#include <thread>

namespace {
// The last stretch of a wait is spent spinning: a sleep may overshoot by the
// kernel's timer slack.
constexpr int64_t kSpinUs = 300;
}  // namespace

void Clock::pauseMs(int ms)
{
    // Blocks the calling thread without running its event loop. Sleeping
    // through most of the wait, rather than spinning all of it, keeps the
    // thread from being preempted for using up its time slice when every
    // core is busy: the wait then ends later than asked by milliseconds.
    const int64_t end = nowUs() + int64_t(ms) * 1000;
    for (;;) {
        const int64_t left = end - nowUs();
        if (left <= 0)
            return;
        if (left > kSpinUs)
            std::this_thread::sleep_for(std::chrono::microseconds(left - kSpinUs));
    }
}

int64_t SteadyClock::nowUs() const
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now() - start_)
        .count();
}
