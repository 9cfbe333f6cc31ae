// The QtCore timer that drives the pulse machine's ends, one deadline for AD
// and one for DEC. A pulse must end within a millisecond of its length, counted
// from the moment its move string was written; a plain timer can wake a few
// milliseconds late, so each axis wakes on a precise timer a little before
// its deadline and then waits out the rest on the program clock, on the
// user-interface thread. Both axes are served from one wait, so an AD end
// never delays a DEC end due a moment later.
#pragma once

#include <QObject>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>

#include "core/clock.h"
#include "core/guide/pulsemachine.h"

class PulseTimer : public QObject, public PulseTimerPort {
    Q_OBJECT
public:
    // Called on the thread of the event loop when an axis's pulse is due to end.
    using Expiry = std::function<void(GuideAxis)>;

    explicit PulseTimer(Clock& clock, QObject* parent = nullptr);
    void setExpiry(Expiry onExpiry) { onExpiry_ = std::move(onExpiry); }

    // Arms the axis to end at deadlineUs on the program clock (at the next
    // pass of the event loop when that has passed). Replaces an armed deadline.
    void arm(GuideAxis axis, int64_t deadlineUs) override;
    void disarm(GuideAxis axis) override;

    bool running(GuideAxis axis) const { return slot(axis).armed; }
    bool anyRunning() const { return running(GuideAxis::Ra) || running(GuideAxis::Dec); }
    int64_t deadlineUs(GuideAxis axis) const { return slot(axis).deadlineUs; }
    // Whether the axis's wake-up timer is waiting (for tests).
    bool wakeTimerActive(GuideAxis axis) const { return slot(axis).timer.isActive(); }

    // Ends, in deadline order, every armed axis whose deadline is at most
    // kWakeEarlyUs away, waiting for each deadline; re-arms the wake-up of the
    // others. The wake-up timers call it.
    void service();

    // How long before its deadline an axis wakes. A precise timer was seen
    // to fire up to about 3.5 ms late on a busy machine (and far later when
    // every core is taken); the rest of the margin is slept through, so it
    // costs the event loop that much of a pause at each pulse end, not CPU.
    static constexpr int64_t kWakeEarlyUs = 8000;

private:
    struct Slot {
        QTimer timer;
        bool armed = false;
        int64_t deadlineUs = 0;
    };
    Slot& slot(GuideAxis axis) { return slots_[axis == GuideAxis::Ra ? 0 : 1]; }
    const Slot& slot(GuideAxis axis) const { return slots_[axis == GuideAxis::Ra ? 0 : 1]; }
    void armWakeUp(Slot& s, int64_t nowUs);
    void waitUntil(int64_t deadlineUs);

    Clock& clock_;
    Expiry onExpiry_;
    std::array<Slot, 2> slots_;
};
