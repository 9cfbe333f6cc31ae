// Pulse-end timers: a precise wake-up a little early, then a wait on the
// program clock up to the exact deadline.
#include "qt/pulsetimer.h"

#include <chrono>
#include <thread>

namespace {
// The last stretch of a wait is spent spinning: a sleep may overshoot by a
// timer slack's worth.
constexpr int64_t kSpinUs = 300;
}  // namespace

PulseTimer::PulseTimer(Clock& clock, QObject* parent) : QObject(parent), clock_(clock)
{
    for (Slot& s : slots_) {
        s.timer.setSingleShot(true);
        s.timer.setTimerType(Qt::PreciseTimer);
        connect(&s.timer, &QTimer::timeout, this, &PulseTimer::service);
    }
}

void PulseTimer::arm(GuideAxis axis, int64_t deadlineUs)
{
    Slot& s = slot(axis);
    s.armed = true;
    s.deadlineUs = deadlineUs;
    armWakeUp(s, clock_.nowUs());
}

void PulseTimer::disarm(GuideAxis axis)
{
    Slot& s = slot(axis);
    s.armed = false;
    s.timer.stop();
}

void PulseTimer::armWakeUp(Slot& s, int64_t nowUs)
{
    const int64_t wakeUs = s.deadlineUs - kWakeEarlyUs - nowUs;
    s.timer.start(wakeUs > 0 ? int(wakeUs / 1000) : 0);
}

void PulseTimer::waitUntil(int64_t deadlineUs)
{
    // The clock is the program's; should it stand still (a test's fake clock)
    // the wait still ends once the early margin has passed in real time.
    using std::chrono::steady_clock;
    const auto giveUp = steady_clock::now() + std::chrono::microseconds(kWakeEarlyUs + 1000);
    for (;;) {
        const int64_t remaining = deadlineUs - clock_.nowUs();
        if (remaining <= 0 || steady_clock::now() >= giveUp)
            return;
        if (remaining > kSpinUs)
            std::this_thread::sleep_for(std::chrono::microseconds(remaining - kSpinUs));
    }
}

void PulseTimer::service()
{
    for (;;) {
        Slot* due = nullptr;
        GuideAxis dueAxis = GuideAxis::Ra;
        for (GuideAxis axis : {GuideAxis::Ra, GuideAxis::Dec}) {
            Slot& s = slot(axis);
            if (s.armed && (!due || s.deadlineUs < due->deadlineUs)) {
                due = &s;
                dueAxis = axis;
            }
        }
        if (!due || due->deadlineUs - clock_.nowUs() > kWakeEarlyUs)
            break;
        waitUntil(due->deadlineUs);
        due->armed = false;
        due->timer.stop();
        if (onExpiry_)
            onExpiry_(dueAxis);
    }
    const int64_t now = clock_.nowUs();
    for (Slot& s : slots_) {
        if (s.armed && !s.timer.isActive())
            armWakeUp(s, now);
    }
}
