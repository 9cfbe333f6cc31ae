// The timed pulses of the LED window, "LX 200" and "Meade ETX": per axis,
// idle or pulsing. A pulse first ends the axis's running one (stop strings,
// squares dark), then starts the move of its direction, lights its square and
// arms the axis's timer for its length, counted from the move just written;
// the record of the pulse it returns is what the axis runs, and its squares
// are drawn from it.
// The timer's expiry, another pulse on the axis, or the window system
// exposing the LED window ends it, with the stop strings each time: those
// of the output the pulse started on, so that a pulse still running when
// the user chooses another output ends on its own (MountControl ends it
// before the new output is applied). A pulse of length zero lights nothing
// and ends once more at the next timer turn.
// All calls come from one thread (the user-interface thread, or the command
// line's event loop); the timer is an interface, so tests drive it by hand.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include <optional>

#include "core/guide/guideoutput.h"
#include "core/guide/signs.h"

class Clock;
class MountChannel;

class PulseTimerPort {
public:
    virtual ~PulseTimerPort() = default;
    // The machine's expire(axis) is to be called once the program clock has
    // reached deadlineUs (at the next turn of the event loop when that time
    // has passed). Arming an armed axis replaces its deadline.
    virtual void arm(GuideAxis axis, int64_t deadlineUs) = 0;
    virtual void disarm(GuideAxis axis) = 0;
};

class PulseMachine {
public:
    enum class Lamp { Off, Left, Right };

    PulseMachine(MountChannel& channel, Clock& clock, PulseTimerPort& timer);
    PulseMachine(const PulseMachine&) = delete;
    PulseMachine& operator=(const PulseMachine&) = delete;

    // A pulse of signed length (signs.h: AD below zero east and the left
    // square, above zero west and the right one; DEC below zero north and the
    // left ("-") square, above zero south and the right ("+") one). Returns
    // the pulse as it runs: from the move written to the timer's deadline.
    SentPulse pulse(GuideAxis axis, int signedMs);
    // Stop the axis on the mount, darken its squares, disarm its timer.
    void endPulse(GuideAxis axis);
    // The timer's call at an axis's deadline.
    void expire(GuideAxis axis);
    // Ends every axis still pulsing (the program is closing: a serial move
    // must not go on without us).
    void stopRunning();
    // Ends the pulses started on another output than interfaceType, with
    // that output's stop strings (the output is about to change).
    void endPulsesNotOn(int32_t interfaceType);

    // The pulse an axis runs, until it ends.
    const std::optional<SentPulse>& running(GuideAxis axis) const { return slot(axis); }
    bool pulsing(GuideAxis axis) const { return running(axis).has_value(); }
    bool anyPulsing() const { return pulsing(GuideAxis::Ra) || pulsing(GuideAxis::Dec); }
    // The axis's lit square, from the pulse it runs: left for East and North,
    // right for West and South, none for a pulse of length zero.
    Lamp lamp(GuideAxis axis) const;
    int64_t deadlineUs(GuideAxis axis) const { return pulsing(axis) ? running(axis)->endUs : 0; }

    // Called after every change of a lamp (the LED window repaints).
    void setLampsChanged(std::function<void()> f) { lampsChanged_ = std::move(f); }

private:
    using Slot = std::optional<SentPulse>;
    Slot& slot(GuideAxis axis) { return slots_[axis == GuideAxis::Ra ? 0 : 1]; }
    const Slot& slot(GuideAxis axis) const { return slots_[axis == GuideAxis::Ra ? 0 : 1]; }
    void lampsChanged();

    MountChannel& channel_;
    Clock& clock_;
    PulseTimerPort& timer_;
    std::array<Slot, 2> slots_{};
    std::array<int32_t, 2> outputs_{};  // the interfaceType each running pulse started on
    std::function<void()> lampsChanged_;
};
