// Arrow-key slewing: the key after the inversion options, and what it sends
// on each output.
#include <Qt>
#include <gtest/gtest.h>

#include "guiding/keyslew_qt.h"
#include "guiding/optorig.h"
#include "guiding/optowin.h"

namespace {

struct KeyCase {
    int qtKey;
    bool invertRa, invertDec;
    Strings lx200;        // LED window pulse of 1000 ms, seen on "LX 200"
    GuideAxis axis;
    int pulseMs;
    uint8_t relayFirst;   // relay box, count 35
    uint8_t relayClosing;
};

const Strings kEast{"#:Qe#", "#:Qw#", "#:RG#", "#:Me#"};
const Strings kWest{"#:Qe#", "#:Qw#", "#:RG#", "#:Mw#"};
const Strings kNorth{"#:Qn#", "#:Qs#", "#:RG#", "#:Mn#"};
const Strings kSouth{"#:Qn#", "#:Qs#", "#:RG#", "#:Ms#"};

// "Inverse DEC" swaps left and right, "Inverse AD" up and down.
const KeyCase kCases[] = {
    {Qt::Key_Left, false, false, kEast, GuideAxis::Ra, -1000, 0x8C, 0x01},
    {Qt::Key_Right, false, false, kWest, GuideAxis::Ra, 1000, 0x8D, 0x00},
    {Qt::Key_Up, false, false, kSouth, GuideAxis::Dec, 1000, 0x8E, 0x03},
    {Qt::Key_Down, false, false, kNorth, GuideAxis::Dec, -1000, 0x8F, 0x02},
    {Qt::Key_Left, false, true, kWest, GuideAxis::Ra, 1000, 0x8D, 0x00},
    {Qt::Key_Right, false, true, kEast, GuideAxis::Ra, -1000, 0x8C, 0x01},
    {Qt::Key_Up, false, true, kSouth, GuideAxis::Dec, 1000, 0x8E, 0x03},
    {Qt::Key_Left, true, false, kEast, GuideAxis::Ra, -1000, 0x8C, 0x01},
    {Qt::Key_Up, true, false, kNorth, GuideAxis::Dec, -1000, 0x8F, 0x02},
    {Qt::Key_Down, true, false, kSouth, GuideAxis::Dec, 1000, 0x8E, 0x03},
    {Qt::Key_Down, true, true, kSouth, GuideAxis::Dec, 1000, 0x8E, 0x03},
};

}  // namespace

TEST(ArrowKeySlew, LedWindowPulsesOfOneSecond)
{
    for (const KeyCase& c : kCases) {
        OptoRig<FakeClock> rig(Lx200);
        rig.state.params->invertRa = c.invertRa;
        rig.state.params->invertDec = c.invertDec;
        TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
        SCOPED_TRACE(::testing::Message() << "key " << c.qtKey << " invertRa " << c.invertRa
                                          << " invertDec " << c.invertDec);
        EXPECT_TRUE(slewForKey(rig.state, rig.link, w, c.qtKey));
        EXPECT_EQ(rig.takeTexts(), c.lx200);
        EXPECT_TRUE(w.pulseRunning(c.axis));
        EXPECT_EQ(w.pulseTimer().deadlineUs(c.axis), 1000000);
        EXPECT_EQ(w.lamp(c.axis), c.pulseMs < 0 ? TOptowin::Lamp::Left : TOptowin::Lamp::Right);
    }
}

TEST(ArrowKeySlew, RelayBoxPairWithItsWait)
{
    for (const KeyCase& c : kCases) {
        OptoRig<FakeClock> rig(RelayBox);
        rig.state.params->invertRa = c.invertRa;
        rig.state.params->invertDec = c.invertDec;
        TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
        SCOPED_TRACE(::testing::Message() << "key " << c.qtKey << " invertRa " << c.invertRa
                                          << " invertDec " << c.invertDec);
        EXPECT_TRUE(slewForKey(rig.state, rig.link, w, c.qtKey));
        ASSERT_EQ(rig.writes.size(), 2u);
        EXPECT_EQ(rig.writes[0].text, std::string(1, char(c.relayFirst)));
        EXPECT_EQ(rig.writes[1].text, std::string(1, char(c.relayClosing)));
        EXPECT_EQ(rig.writes[1].timeUs - rig.writes[0].timeUs, 5000);
        EXPECT_FALSE(w.anyPulseRunning());
    }
}

TEST(ArrowKeySlew, OtherKeysSendNothing)
{
    for (int output : {RelayBox, Lx200, VirtualLeds}) {
        OptoRig<FakeClock> rig(output);
        TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
        for (int key : {int(Qt::Key_A), int(Qt::Key_Return), int(Qt::Key_PageUp), 37, 38})
            EXPECT_FALSE(slewForKey(rig.state, rig.link, w, key)) << key;
        EXPECT_TRUE(rig.writes.empty());
        EXPECT_FALSE(w.anyPulseRunning());
    }
}
