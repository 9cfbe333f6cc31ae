// Test rig for the guiding core: a fake clock, a fresh shared state, a pulse
// timer driven by hand, the core objects, and a record of every command that
// reached the mount channel.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/guider.h"
#include "core/state.h"

// Deadlines the pulse machine armed; fireDue() plays the event loop's timer.
class FakePulseTimer : public PulseTimerPort {
public:
    void arm(GuideAxis axis, int64_t deadlineUs) override { slot(axis) = deadlineUs; }
    void disarm(GuideAxis axis) override { slot(axis).reset(); }
    std::optional<int64_t> deadline(GuideAxis axis) const { return slots_[axis == GuideAxis::Ra ? 0 : 1]; }

    // Expires, in deadline order, every armed axis whose deadline has come.
    void fireDue(const Clock& clock)
    {
        for (;;) {
            std::optional<GuideAxis> due;
            for (GuideAxis a : {GuideAxis::Ra, GuideAxis::Dec}) {
                const auto d = deadline(a);
                if (d && *d <= clock.nowUs() && (!due || *d < *deadline(*due)))
                    due = a;
            }
            if (!due)
                return;
            slot(*due).reset();
            machine->expire(*due);
        }
    }
    PulseMachine* machine = nullptr;

private:
    std::optional<int64_t>& slot(GuideAxis axis) { return slots_[axis == GuideAxis::Ra ? 0 : 1]; }
    std::array<std::optional<int64_t>, 2> slots_;
};

// One command as the channel's observers saw it, with its text owned.
struct SeenCommand {
    MountEvent::Kind kind;
    int64_t timeUs;
    std::string text;  // Text: the string; RelayByte: the byte; Lamp: "on W" / "off"
};

struct CoreRig {
    FakeClock clock;
    SharedState state{clock};
    FakePulseTimer timer;
    std::vector<SeenCommand> seen;  // before the core, which may still send as it goes
    GuiderCore core{state, timer};

    explicit CoreRig(int interfaceType = VirtualLeds)
    {
        state.params->interfaceType = interfaceType;
        timer.machine = &core.pulses;
        core.channel.addObserver([this](const MountEvent& e) {
            std::string text;
            switch (e.kind) {
            case MountEvent::Kind::Text: text = std::string(e.text); break;
            case MountEvent::Kind::RelayByte: text = std::string(1, char(e.byte)); break;
            case MountEvent::Kind::Lamp:
                text = e.on ? std::string("on ") + directionLetter(e.direction) : "off";
                break;
            default: break;
            }
            seen.push_back({e.kind, e.timeUs, text});
        });
    }

    // The LX 200 strings seen, in order (lamps and bytes left out).
    std::vector<std::string> texts() const
    {
        std::vector<std::string> out;
        for (const SeenCommand& c : seen)
            if (c.kind == MountEvent::Kind::Text)
                out.push_back(c.text);
        return out;
    }
    std::vector<std::string> takeTexts()
    {
        auto out = texts();
        seen.clear();
        return out;
    }
    std::string relayBytes() const
    {
        std::string out;
        for (const SeenCommand& c : seen)
            if (c.kind == MountEvent::Kind::RelayByte)
                out += c.text;
        return out;
    }
    // Lets time pass and the pulse timer fire.
    void advanceMs(int64_t ms)
    {
        clock.advanceMs(ms);
        timer.fireDue(clock);
    }
};
