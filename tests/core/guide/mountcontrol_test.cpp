// What reaches the mount for an arrow key and a slew button on every output,
// at every sign and inversion: the sign table as the channel's observers see
// it (the serial line itself is tested apart; a correction on every output is
// in the session's tests), and how the output is chosen and opened.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/corerig.h"
#include "core/guide/relaybox.h"
#include "ptyline.h"

#include <cerrno>
#include <climits>

namespace {
using Strings = std::vector<std::string>;
}

TEST(MountControl, ArrowKeysOnBothPathsWithBothInversions)
{
    struct Case {
        ArrowKey key;
        bool invertRa, invertDec;
        std::string move;  // timed path: a one-second pulse with this move string
        GuideAxis axis;
        uint8_t relayFirst, relayClosing;  // relay box, count 35
    } cases[] = {
        // "Inverse DEC" swaps left and right, "Inverse AD" up and down.
        {ArrowKey::Left, false, false, "#:Me#", GuideAxis::Ra, 0x8C, 0x01},
        {ArrowKey::Right, false, false, "#:Mw#", GuideAxis::Ra, 0x8D, 0x00},
        {ArrowKey::Up, false, false, "#:Ms#", GuideAxis::Dec, 0x8E, 0x03},
        {ArrowKey::Down, false, false, "#:Mn#", GuideAxis::Dec, 0x8F, 0x02},
        {ArrowKey::Left, false, true, "#:Mw#", GuideAxis::Ra, 0x8D, 0x00},
        {ArrowKey::Right, false, true, "#:Me#", GuideAxis::Ra, 0x8C, 0x01},
        {ArrowKey::Up, false, true, "#:Ms#", GuideAxis::Dec, 0x8E, 0x03},
        {ArrowKey::Left, true, false, "#:Me#", GuideAxis::Ra, 0x8C, 0x01},
        {ArrowKey::Up, true, false, "#:Mn#", GuideAxis::Dec, 0x8F, 0x02},
        {ArrowKey::Down, true, false, "#:Ms#", GuideAxis::Dec, 0x8E, 0x03},
        {ArrowKey::Down, true, true, "#:Ms#", GuideAxis::Dec, 0x8E, 0x03},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "key " << int(c.key) << " invert " << c.invertRa << c.invertDec);
        for (int output : {Lx200, RelayBox}) {
            CoreRig rig(output);
            rig.state.params->invertRa = c.invertRa;
            rig.state.params->invertDec = c.invertDec;
            rig.clock.advanceMs(3);
            rig.core.mount.arrowKey(c.key);
            if (output == Lx200) {
                ASSERT_FALSE(rig.texts().empty());
                EXPECT_EQ(rig.texts().back(), c.move);
                EXPECT_EQ(rig.timer.deadline(c.axis), 1003000);
                EXPECT_TRUE(rig.relayBytes().empty());
            } else {
                EXPECT_EQ(rig.relayBytes(), (std::string{char(c.relayFirst), char(c.relayClosing)}));
                EXPECT_EQ(rig.seen[1].timeUs - rig.seen[0].timeUs, 5000);
                EXPECT_TRUE(rig.texts().empty());
                EXPECT_FALSE(rig.core.pulses.anyPulsing());
            }
        }
    }
}

TEST(MountControl, SlewButtonsPressAndReleaseOnEveryOutput)
{
    struct Case {
        int interfaceType;
        bool invertRa, invertDec;
        SlewButton button;
        Strings press, release;
        std::string relay;
    };
    const Case cases[] = {
        {Lx200, false, false, SlewButton::West, {"#:RG#", "#:Mw#"}, {"#:Qw#"}, ""},
        {Lx200, true, true, SlewButton::North, {"#:RG#", "#:Mn#"}, {"#:Qn#"}, ""},  // strings never swapped
        {MeadeEtx, false, false, SlewButton::North, {"#:Mn#"}, {"#:Q#"}, ""},
        {MeadeEtx, false, true, SlewButton::East, {"#:Me#"}, {"#:Q#"}, ""},
        {RelayBox, false, true, SlewButton::East, {}, {}, "\xFC"},   // "E" with DEC inverted is code 0
        {RelayBox, true, false, SlewButton::South, {}, {}, "\xFE"},  // "S" with AD inverted is code 2
        {RelayBox, true, false, SlewButton::West, {}, {}, "\xFC"},   // AD inversion leaves W alone
        {RelayBox, false, false, SlewButton::North, {}, {}, "\xFE"},
        {VirtualLeds, false, false, SlewButton::East, {}, {}, ""},
        {99, false, false, SlewButton::East, {}, {}, ""},  // a crafted settings file
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "output " << c.interfaceType << " button " << int(c.button));
        CoreRig rig(c.interfaceType);
        rig.state.params->invertRa = c.invertRa;
        rig.state.params->invertDec = c.invertDec;
        rig.core.mount.slew(c.button, true);
        EXPECT_EQ(rig.takeTexts(), c.press);
        rig.core.mount.slew(c.button, false);
        EXPECT_EQ(rig.texts(), c.release);
        EXPECT_EQ(rig.relayBytes(), "");
        EXPECT_FALSE(rig.core.pulses.anyPulsing());
    }
    for (const Case& c : cases) {
        if (c.relay.empty())
            continue;
        CoreRig rig(c.interfaceType);
        rig.state.params->invertRa = c.invertRa;
        rig.state.params->invertDec = c.invertDec;
        rig.core.mount.slew(c.button, true);
        rig.core.mount.slew(c.button, false);
        EXPECT_EQ(rig.relayBytes(), c.relay) << int(c.button);
    }
}

TEST(MountControl, ReleaseSendsTheStopOfTheOutputChosenThen)
{
    CoreRig rig(Lx200);
    rig.core.mount.slew(SlewButton::East, true);
    EXPECT_EQ(rig.takeTexts(), (Strings{"#:RG#", "#:Me#"}));
    rig.state.params->interfaceType = MeadeEtx;
    rig.core.mount.slew(SlewButton::East, false);
    EXPECT_EQ(rig.takeTexts(), (Strings{"#:Q#"}));
    rig.state.params->interfaceType = RelayBox;
    rig.core.mount.slew(SlewButton::East, false);
    EXPECT_TRUE(rig.seen.empty());
}

TEST(MountControl, ApplyingTheOutputOpensThePortOrShowsTheLeds)
{
    ScopedEnv noPort("QUORVEL_COM1", "/nonexistent/quorvel-test");
    struct Case { int type; bool opens; InterfaceApplied::LedWindow led; } cases[] = {
        {RelayBox, true, InterfaceApplied::LedWindow::Hide},
        {Lx200, true, InterfaceApplied::LedWindow::Leave},
        {MeadeEtx, true, InterfaceApplied::LedWindow::Leave},
        {VirtualLeds, false, InterfaceApplied::LedWindow::Show},
        {-1, false, InterfaceApplied::LedWindow::Leave},
    };
    for (const Case& c : cases) {
        CoreRig rig(c.type);
        const InterfaceApplied a = rig.core.mount.applyInterface();
        EXPECT_EQ(a.port.has_value(), c.opens) << c.type;
        EXPECT_EQ(a.ledWindow, c.led) << c.type;
        if (a.port) {
            EXPECT_FALSE(a.port->ok);
            EXPECT_EQ(a.port->portName, "COM1");
            EXPECT_EQ(a.port->device, "/nonexistent/quorvel-test");
            EXPECT_EQ(a.port->error, ENOENT);
        }
    }
    // A port number no device can have: the name says it, the +1 never overflows.
    CoreRig rig(Lx200);
    rig.state.params->comPort = INT_MAX;
    const InterfaceApplied a = rig.core.mount.applyInterface();
    ASSERT_TRUE(a.port);
    EXPECT_FALSE(a.port->ok);
    EXPECT_EQ(a.port->portName, "COM" + std::to_string(INT_MAX));
    EXPECT_TRUE(a.port->device.empty());
}

TEST(MountControl, LedWindowChoiceKeepsAnOpenPortAndBadPortNumbersOpenNothing)
{
    PtyLine pty;
    ASSERT_TRUE(pty.ok());
    ScopedEnv com1("QUORVEL_COM1", pty.path());
    ScopedEnv noTrace("QUORVEL_SERIAL_LOG", std::nullopt);
    CoreRig rig(Lx200);
    ASSERT_TRUE(rig.core.mount.applyInterface().port->ok);
    rig.state.params->interfaceType = VirtualLeds;
    EXPECT_FALSE(rig.core.mount.applyInterface().port);
    rig.core.pulses.pulse(GuideAxis::Ra, 15);
    EXPECT_EQ(pty.read(15), bytesOf("#:Qe##:Qw##:Mw#"));

    for (int comPort : {4, -1, INT_MAX, INT_MIN}) {
        CoreRig bad(Lx200);
        bad.state.params->comPort = comPort;
        const InterfaceApplied a = bad.core.mount.applyInterface();
        ASSERT_TRUE(a.port) << comPort;
        EXPECT_FALSE(a.port->ok) << comPort;
        EXPECT_EQ(bad.core.line.comBase, 0) << comPort;  // no such UART: unchanged
        EXPECT_EQ(a.port->portName.rfind("COM", 0), 0u) << a.port->portName;
    }
}

TEST(MountControl, ChangingTheOutputEndsItsRunningPulseOnItFirst)
{
    // A pulse still running when another output is applied ends at once,
    // with the stop of the output it started on, on the line still open:
    // left to its timer, the LED window's stop strings would reach a relay
    // box as commands, and an ETX would get the LX 200's pair of stops.
    PtyLine pty;
    ASSERT_TRUE(pty.ok());
    ScopedEnv com1("QUORVEL_COM1", pty.path());
    ScopedEnv noTrace("QUORVEL_SERIAL_LOG", std::nullopt);
    struct Case { int32_t from, to; std::string stop; } cases[] = {
        {VirtualLeds, RelayBox, "#:Qe##:Qw#"},
        {MeadeEtx, Lx200, "#:Q#"},
        {Lx200, MeadeEtx, "#:Qe##:Qw#"},
    };
    for (const Case& c : cases) {
        CoreRig rig(Lx200);
        ASSERT_TRUE(rig.core.mount.applyInterface().port->ok);
        rig.state.params->interfaceType = c.from;
        rig.core.mount.applyInterface();
        rig.core.pulses.pulse(GuideAxis::Ra, 500);
        pty.drain(20);
        rig.state.params->interfaceType = c.to;
        rig.core.mount.applyInterface();
        EXPECT_FALSE(rig.core.pulses.pulsing(GuideAxis::Ra)) << c.from;
        EXPECT_EQ(pty.drain(20), bytesOf(c.stop)) << c.from;
        rig.advanceMs(600);
        EXPECT_TRUE(pty.drain(20).empty()) << c.from << ": nothing more when its time is up";
    }
}
