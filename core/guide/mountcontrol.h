// Commands to the mount from the guider and from the user: the correction of
// a measurement cycle, the arrow keys and the slew buttons, each sent on the
// output that interfaceType chooses at the moment of the command. The
// inversion options and the DEC inhibits are applied here, once (signs.h);
// the outputs below only encode, and say what they sent.
#pragma once

#include <map>
#include <optional>

#include "core/guide/correction.h"
#include "core/guide/guideoutput.h"
#include "core/serial/serialline.h"

struct SharedState;
class MountChannel;
class PulseMachine;

// What applying the chosen output did: the port it opened (with the cause
// when the open failed), and what becomes of the LED window.
struct InterfaceApplied {
    std::optional<LineOpenResult> port;
    // The link of an output given to setOutput, opened (the INDI mount).
    std::optional<OutputStatus> output;
    enum class LedWindow { Leave, Show, Hide } ledWindow = LedWindow::Leave;
};

class MountControl {
public:
    MountControl(SharedState& state, MountChannel& channel, PulseMachine& pulses);
    MountControl(const MountControl&) = delete;
    MountControl& operator=(const MountControl&) = delete;

    // First ends the timed pulses still running on another output than
    // interfaceType chooses now, with that output's stop strings. Then:
    // interfaceType 0 (relay box): open COM(comPort+1), hide the LED window;
    // 1 and 2 ("LX 200", "Meade ETX"): open COM(comPort+1), leave the window;
    // 3 (LED window): show it, open nothing (an open port stays open); an
    // output given to setOutput for the value (4, the INDI mount): its own
    // link opened, with the outcome in `output`; any other value: nothing.
    InterfaceApplied applyInterface();

    // The output interfaceType chooses now: the relay box for 0, an output
    // given to setOutput for its type, the timed pulses for every other value.
    GuideOutput& output();
    // Another kind of output, for interfaceType `type` (nullptr removes it).
    void setOutput(int32_t type, GuideOutput* output);

    // One correction: AD, 5 ms, DEC; nothing when the optics are unusable.
    // Returns what the output sent on each axis.
    SentCorrection sendCorrection(const correction::Result& r);
    // One arrow key (its one-second pulse, or count 35 on the relay box).
    std::optional<SentPulse> arrowKey(ArrowKey key);
    // A slew button pressed (held true) or let go.
    void slew(SlewButton b, bool held);

    MountChannel& channel() { return channel_; }
    PulseMachine& pulses() { return pulses_; }

private:
    SharedState& state_;
    MountChannel& channel_;
    PulseMachine& pulses_;
    RelayBoxOutput relay_;
    TimedPulseOutput timed_;
    std::map<int32_t, GuideOutput*> others_;
};
