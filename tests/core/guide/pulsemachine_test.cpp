// The timed pulses on a hand-driven timer: the strings of every start and end
// on each output, the lamps, a pulse replacing the running one, a pulse of
// length zero, and the stops at shutdown.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "core/corerig.h"

namespace {
using Strings = std::vector<std::string>;
using Lamp = PulseMachine::Lamp;
const Strings kStopRa{"#:Qe#", "#:Qw#"};
const Strings kStopDec{"#:Qn#", "#:Qs#"};
}  // namespace

TEST(PulseMachine, EveryStartAndEndSendsTheStringsOfTheOutput)
{
    struct Case { int interfaceType; GuideAxis axis; int ms; Strings atStart, atEnd; Lamp lamp; const char* lit; };
    const Case cases[] = {
        {Lx200, GuideAxis::Ra, -1000, {"#:Qe#", "#:Qw#", "#:RG#", "#:Me#"}, kStopRa, Lamp::Left, "on E"},
        {Lx200, GuideAxis::Ra, 255, {"#:Qe#", "#:Qw#", "#:RG#", "#:Mw#"}, kStopRa, Lamp::Right, "on W"},
        {Lx200, GuideAxis::Dec, -300, {"#:Qn#", "#:Qs#", "#:RG#", "#:Mn#"}, kStopDec, Lamp::Left, "on N"},
        {Lx200, GuideAxis::Dec, 945, {"#:Qn#", "#:Qs#", "#:RG#", "#:Ms#"}, kStopDec, Lamp::Right, "on S"},
        {MeadeEtx, GuideAxis::Ra, -15, {"#:Q#", "#:Me#"}, {"#:Q#"}, Lamp::Left, "on E"},
        {MeadeEtx, GuideAxis::Dec, 15, {"#:Q#", "#:Ms#"}, {"#:Q#"}, Lamp::Right, "on S"},
        // The LED window drives whatever port is open with the plain strings.
        {VirtualLeds, GuideAxis::Ra, 510, {"#:Qe#", "#:Qw#", "#:Mw#"}, kStopRa, Lamp::Right, "on W"},
        {RelayBox, GuideAxis::Dec, -15, {"#:Qn#", "#:Qs#", "#:Mn#"}, kStopDec, Lamp::Left, "on N"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "interface " << c.interfaceType << " ms " << c.ms);
        CoreRig rig(c.interfaceType);
        rig.clock.advanceMs(1000);
        rig.core.pulses.pulse(c.axis, c.ms);
        EXPECT_EQ(rig.texts(), c.atStart);
        EXPECT_EQ(rig.core.pulses.lamp(c.axis), c.lamp);
        EXPECT_EQ(rig.seen.back().text, c.lit);  // the lamp after its move
        const int64_t moveUs = rig.seen.back().timeUs;

        // One microsecond early nothing happens; at the length the stop goes out.
        rig.advanceMs(std::abs(c.ms) - 1);
        rig.clock.advanceUs(999);
        rig.timer.fireDue(rig.clock);
        EXPECT_EQ(rig.texts(), c.atStart);
        EXPECT_TRUE(rig.core.pulses.pulsing(c.axis));
        rig.advanceMs(0);
        rig.clock.advanceUs(1);
        rig.timer.fireDue(rig.clock);
        Strings all = c.atStart;
        all.insert(all.end(), c.atEnd.begin(), c.atEnd.end());
        EXPECT_EQ(rig.texts(), all);
        EXPECT_EQ(rig.core.pulses.lamp(c.axis), Lamp::Off);
        EXPECT_FALSE(rig.core.pulses.pulsing(c.axis));
        EXPECT_EQ(rig.seen.back().text, "off");
        EXPECT_EQ(rig.seen.back().timeUs - moveUs, std::abs(c.ms) * 1000);
    }
}

TEST(PulseMachine, NextPulseReplacesTheRunningOne)
{
    CoreRig rig(Lx200);
    rig.core.pulses.pulse(GuideAxis::Dec, 945);
    rig.advanceMs(100);
    rig.seen.clear();
    rig.core.pulses.pulse(GuideAxis::Dec, -300);
    EXPECT_EQ(rig.takeTexts(), (Strings{"#:Qn#", "#:Qs#", "#:RG#", "#:Mn#"}));
    EXPECT_EQ(rig.core.pulses.lamp(GuideAxis::Dec), Lamp::Left);
    rig.advanceMs(300);
    EXPECT_EQ(rig.takeTexts(), kStopDec);
    // Nothing at the first pulse's 945 ms mark.
    rig.advanceMs(600);
    EXPECT_TRUE(rig.seen.empty());
    EXPECT_FALSE(rig.core.pulses.anyPulsing());
}

TEST(PulseMachine, ZeroLengthEndsTheAxisTwiceAndLightsNothing)
{
    CoreRig rig(Lx200);
    rig.core.pulses.pulse(GuideAxis::Ra, -1000);
    rig.seen.clear();
    rig.core.pulses.pulse(GuideAxis::Ra, 0);
    EXPECT_EQ(rig.takeTexts(), kStopRa);
    EXPECT_EQ(rig.core.pulses.lamp(GuideAxis::Ra), Lamp::Off);
    // The end runs once more at the next timer turn.
    EXPECT_TRUE(rig.core.pulses.pulsing(GuideAxis::Ra));
    EXPECT_EQ(rig.timer.deadline(GuideAxis::Ra), rig.clock.nowUs());
    rig.advanceMs(0);
    EXPECT_EQ(rig.takeTexts(), kStopRa);
    EXPECT_FALSE(rig.core.pulses.anyPulsing());
}

TEST(PulseMachine, LongestLengthsAndShutdownStops)
{
    CoreRig rig(Lx200);
    rig.core.pulses.pulse(GuideAxis::Ra, INT_MIN);  // no overflow on the magnitude
    EXPECT_EQ(rig.core.pulses.deadlineUs(GuideAxis::Ra), int64_t(INT_MAX) * 1000);
    rig.core.pulses.pulse(GuideAxis::Dec, INT_MAX);
    rig.seen.clear();
    rig.core.pulses.stopRunning();
    EXPECT_EQ(rig.takeTexts(), (Strings{"#:Qe#", "#:Qw#", "#:Qn#", "#:Qs#"}));
    rig.core.pulses.stopRunning();  // idle axes are left alone
    EXPECT_TRUE(rig.seen.empty());

    // The core going away (the program closing) stops a pulse still running.
    FakeClock clock;
    SharedState state(clock);
    state.params->interfaceType = MeadeEtx;
    FakePulseTimer timer;
    auto core = std::make_unique<GuiderCore>(state, timer);
    timer.machine = &core->pulses;
    Strings sent;
    core->channel.addObserver([&sent](const MountEvent& e) {
        if (e.kind == MountEvent::Kind::Text)
            sent.emplace_back(e.text);
    });
    core->pulses.pulse(GuideAxis::Ra, 300);
    sent.clear();
    core.reset();
    EXPECT_EQ(sent, (Strings{"#:Q#"}));
}

// On "Meade ETX" the one stop "#:Q#" halts both axes: a pulse still running
// on the other axis gets its move again, so it lasts its whole length.
TEST(PulseMachine, MeadeEtxStopDoesNotCutTheOtherAxisShort)
{
    CoreRig rig(MeadeEtx);
    rig.core.pulses.pulse(GuideAxis::Ra, -510);
    rig.advanceMs(5);
    rig.core.pulses.pulse(GuideAxis::Dec, 255);
    EXPECT_EQ(rig.takeTexts(), (Strings{"#:Q#", "#:Me#", "#:Q#", "#:Me#", "#:Ms#"}));
    rig.advanceMs(255);
    EXPECT_EQ(rig.takeTexts(), (Strings{"#:Q#", "#:Me#"}));
    rig.advanceMs(250);
    EXPECT_EQ(rig.takeTexts(), (Strings{"#:Q#"}));
    EXPECT_FALSE(rig.core.pulses.anyPulsing());

    // "LX 200" stops each axis by itself: nothing is sent again.
    CoreRig lx(Lx200);
    lx.core.pulses.pulse(GuideAxis::Ra, -510);
    lx.core.pulses.pulse(GuideAxis::Dec, 255);
    EXPECT_EQ(lx.takeTexts(), (Strings{"#:Qe#", "#:Qw#", "#:RG#", "#:Me#", "#:Qn#", "#:Qs#", "#:RG#", "#:Ms#"}));
}
