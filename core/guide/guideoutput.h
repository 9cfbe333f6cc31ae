// The guide outputs: what the mount receives for a correction or key pulse on
// one axis, and for a slew button held down and let go. One interface for the
// relay box, the timed outputs ("LX 200", "Meade ETX", the LED window) and
// the INDI mount (indimount.h); the directions and the inhibits are settled
// above it (signs.h, MountControl), so an output only turns a command into its
// own bytes, strings or pulses, all through the MountChannel, and says what it
// sent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/guide/signs.h"

class MountChannel;
class PulseMachine;
struct SharedState;

// One pulse on one axis, in the two forms the outputs read: a signed length
// for the outputs that time a pulse (or have it timed), and a relay code with
// a count for the relay box, which times its pulses itself.
struct AxisPulse {
    GuideAxis axis = GuideAxis::Ra;
    int lengthMs = 0;        // signed, signs.h
    bool timed = true;       // false: an inhibit holds back the timed pulse
    int relayCode = 0;       // 0..3
    int relayCount = 0;      // 0..63
};

// What an output sent on one axis, as the mount received it: the record a
// pulse returns. The guide log, `quorvel guide`'s lines, the event server's
// GuideStep, the LED window's squares and the wait for a frame exposed after
// the correction all read it; none works the pulse out again.
struct SentPulse {
    enum class Unit {
        Milliseconds,  // a pulse timed by us or by the mount
        RelayCounts,   // the relay box's own count of 1/63 s
    };
    GuideAxis axis = GuideAxis::Ra;
    Direction direction = Direction::West;  // the pulse's sign, signs.h (West or South for no length)
    Unit unit = Unit::Milliseconds;
    int length = 0;          // in `unit`, never below zero; 0: nothing moves
    int64_t startUs = 0;     // program clock: the move or command byte written
    int64_t endUs = 0;       // program clock: the pulse over
    // The length in milliseconds: a relay count is 1/63 s, to the nearest ms.
    int lengthMs() const;
    // lengthMs() with the sign of a timed pulse: West and South positive.
    int signedMs() const;
    bool operator==(const SentPulse&) const = default;
};

// What a correction sent, per axis; nothing on an axis that an inhibit held
// back, or when no correction went out.
struct SentCorrection {
    std::optional<SentPulse> ra;
    std::optional<SentPulse> dec;
    const std::optional<SentPulse>& of(GuideAxis axis) const { return axis == GuideAxis::Ra ? ra : dec; }
    // When the last pulse is over (program clock; 0 when nothing went out).
    int64_t endUs() const;
};

// A slew button pressed (held) or let go, with its relay code after the
// inversion options.
struct SlewCommand {
    SlewButton button = SlewButton::North;
    int relayCode = 0;
    bool held = true;
};

// Whether an output's own link to the mount is up, with the cause when not.
struct OutputStatus {
    bool ok = true;
    std::string error;  // in English, naming the server or device
    static OutputStatus failure(std::string why) { return {false, std::move(why)}; }
};

class GuideOutput {
public:
    virtual ~GuideOutput() = default;
    // Makes the output's own link to the mount (an INDI mount's server and
    // device) when interfaceType chooses it; the outputs on the serial line
    // or the LED window have none.
    virtual OutputStatus open() { return {}; }
    // Whether the mount can be reached now: the serial outputs while their
    // port is open, an INDI mount while its link is up, the LED window always.
    virtual bool ready() const { return true; }
    // Whether "Inhibe DEC+" and "Inhibe DEC-" hold pulses back on this output.
    virtual bool honoursDecInhibits() const { return true; }
    // Sends one axis's pulse and returns what went out; nothing when the
    // output held it back (an inhibit). A pulse of length 0 is reported too.
    virtual std::optional<SentPulse> pulse(const AxisPulse& p) = 0;
    // A slew button pressed or let go.
    virtual void slew(const SlewCommand& s) = 0;
};

// "Rereridu standard": a command byte, 5 ms, the closing byte; a slew button's
// byte and 5 ms on press, nothing on release. The box times each pulse itself
// from its command byte, and knows nothing of the DEC inhibits.
class RelayBoxOutput : public GuideOutput {
public:
    explicit RelayBoxOutput(MountChannel& channel) : channel_(channel) {}
    bool ready() const override;
    bool honoursDecInhibits() const override { return false; }
    std::optional<SentPulse> pulse(const AxisPulse& p) override;
    void slew(const SlewCommand& s) override;

private:
    MountChannel& channel_;
};

// "LX 200", "Meade ETX", "Diodes virtuelles" (and any unknown output, which
// the correction treats as the LED window): pulses on the pulse machine; the
// slew buttons send their strings on "LX 200" and "Meade ETX", which of the
// two read from interfaceType at the moment of the press or release.
class TimedPulseOutput : public GuideOutput {
public:
    TimedPulseOutput(SharedState& state, MountChannel& channel, PulseMachine& pulses)
        : state_(state), channel_(channel), pulses_(pulses)
    {
    }
    bool ready() const override;
    std::optional<SentPulse> pulse(const AxisPulse& p) override;
    void slew(const SlewCommand& s) override;

private:
    SharedState& state_;
    MountChannel& channel_;
    PulseMachine& pulses_;
};
