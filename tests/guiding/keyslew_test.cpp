// Arrow-key slewing: the key after the inversion options, and what it sends
// on the relay box and on the LED window path.
#include <Qt>
#include <gtest/gtest.h>

#include "guiding/keyslew_qt.h"
#include "guiding/optorig.h"
#include "guiding/optowin.h"

TEST(ArrowKeySlew, BothOutputsWithBothInversions)
{
    struct Case {
        int qtKey;
        bool invertRa, invertDec;
        std::string move;  // LED window path: a one-second pulse with this move string
        GuideAxis axis;
        uint8_t relayFirst, relayClosing;  // relay box, count 35
    } cases[] = {
        // "Inverse DEC" swaps left and right, "Inverse AD" up and down.
        {Qt::Key_Left, false, false, "#:Me#", GuideAxis::Ra, 0x8C, 0x01},
        {Qt::Key_Right, false, false, "#:Mw#", GuideAxis::Ra, 0x8D, 0x00},
        {Qt::Key_Up, false, false, "#:Ms#", GuideAxis::Dec, 0x8E, 0x03},
        {Qt::Key_Down, false, false, "#:Mn#", GuideAxis::Dec, 0x8F, 0x02},
        {Qt::Key_Left, false, true, "#:Mw#", GuideAxis::Ra, 0x8D, 0x00},
        {Qt::Key_Right, false, true, "#:Me#", GuideAxis::Ra, 0x8C, 0x01},
        {Qt::Key_Up, false, true, "#:Ms#", GuideAxis::Dec, 0x8E, 0x03},
        {Qt::Key_Left, true, false, "#:Me#", GuideAxis::Ra, 0x8C, 0x01},
        {Qt::Key_Up, true, false, "#:Mn#", GuideAxis::Dec, 0x8F, 0x02},
        {Qt::Key_Down, true, false, "#:Ms#", GuideAxis::Dec, 0x8E, 0x03},
        {Qt::Key_Down, true, true, "#:Ms#", GuideAxis::Dec, 0x8E, 0x03},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "key " << c.qtKey << " invert " << c.invertRa
                                          << c.invertDec);
        for (int output : {Lx200, RelayBox}) {
            OptoRig<FakeClock> rig(output);
            rig.state.params->invertRa = c.invertRa;
            rig.state.params->invertDec = c.invertDec;
            TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
            EXPECT_TRUE(slewForKey(rig.state, rig.link, w, c.qtKey));
            ASSERT_FALSE(rig.writes.empty());
            if (output == Lx200) {
                EXPECT_EQ(rig.writes.back().text, c.move);
                EXPECT_EQ(w.pulseTimer().deadlineUs(c.axis), 1000000);
            } else {
                EXPECT_EQ(rig.texts(), (Strings{std::string(1, char(c.relayFirst)),
                                                std::string(1, char(c.relayClosing))}));
                EXPECT_EQ(rig.writes[1].timeUs - rig.writes[0].timeUs, 5000);
                EXPECT_FALSE(w.anyPulseRunning());
            }
        }
    }
}

TEST(ArrowKeySlew, OtherKeysSendNothing)
{
    for (int output : {RelayBox, Lx200}) {
        OptoRig<FakeClock> rig(output);
        TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
        for (int key : {int(Qt::Key_A), int(Qt::Key_PageUp), 37, 38})
            EXPECT_FALSE(slewForKey(rig.state, rig.link, w, key)) << key;
        EXPECT_TRUE(rig.writes.empty());
        EXPECT_FALSE(w.anyPulseRunning());
    }
}
