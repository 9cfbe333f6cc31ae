// The guide outputs: what the mount receives for a correction or key pulse on
// one axis, and for a slew button held down and let go. One interface for the
// relay box, the timed outputs ("LX 200", "Meade ETX", the LED window) and
// the INDI mount (indimount.h); the directions and the inhibits are settled
// above it (signs.h, MountControl), so an output only turns a command into its
// own bytes, strings or pulses, all through the MountChannel.
#pragma once

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

// A slew button, with its relay code after the inversion options.
struct SlewCommand {
    SlewButton button = SlewButton::North;
    int relayCode = 0;
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
    // Whether that link is up now (an output without one always is).
    virtual bool ready() const { return true; }
    virtual void pulse(const AxisPulse& p) = 0;
    virtual void slewStart(const SlewCommand& s) = 0;
    virtual void slewStop(const SlewCommand& s) = 0;
};

// "Rereridu standard": a command byte, 5 ms, the closing byte; a slew button's
// byte and 5 ms on press, nothing on release.
class RelayBoxOutput : public GuideOutput {
public:
    explicit RelayBoxOutput(MountChannel& channel) : channel_(channel) {}
    void pulse(const AxisPulse& p) override;
    void slewStart(const SlewCommand& s) override;
    void slewStop(const SlewCommand&) override {}

private:
    MountChannel& channel_;
};

// "LX 200", "Meade ETX", "Diodes virtuelles" (and any unknown output, which
// the correction treats as the LED window): pulses on the pulse machine; the
// slew buttons send their strings on "LX 200" and "Meade ETX", read from
// interfaceType at the moment of the press or release.
class TimedPulseOutput : public GuideOutput {
public:
    TimedPulseOutput(SharedState& state, MountChannel& channel, PulseMachine& pulses)
        : state_(state), channel_(channel), pulses_(pulses)
    {
    }
    void pulse(const AxisPulse& p) override;
    void slewStart(const SlewCommand& s) override;
    void slewStop(const SlewCommand& s) override;

private:
    SharedState& state_;
    MountChannel& channel_;
    PulseMachine& pulses_;
};
