// Applying the guiding output: which port opens, whether the LED window shows.
#include <gtest/gtest.h>

#include <climits>

#include "ui/interface_qt.h"
#include "ui/optorig.h"
#include "ui/optowin.h"

TEST(ApplyInterface, OpensThePortOrShowsTheLedWindow)
{
    struct Case {
        int interfaceType;
        bool startVisible, opensPort, visibleAfter;
    } cases[] = {
        {RelayBox, true, true, false},
        {Lx200, true, true, true},
        {Lx200, false, true, false},
        {MeadeEtx, true, true, true},
        {VirtualLeds, false, false, true},
        {7, true, false, true},  // a crafted file: nothing at all
        {-1, false, false, false},
    };
    for (const Case& c : cases) {
        OptoRig<FakeClock> rig(c.interfaceType, false);
        TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
        w.setVisible(c.startVisible);
        applyInterface(rig.state, rig.link, w);
        SCOPED_TRACE(::testing::Message() << "interface " << c.interfaceType);
        EXPECT_EQ(rig.link.comHandle() >= 0, c.opensPort);
        EXPECT_EQ(rig.link.comBase, c.opensPort ? 0x3F8 : 0);  // COM1
        EXPECT_EQ(w.isVisible(), c.visibleAfter);
        EXPECT_TRUE(rig.notices.empty());
    }
}

TEST(ApplyInterface, LedWindowChoiceKeepsAnOpenPort)
{
    OptoRig<FakeClock> rig(Lx200, false);
    TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
    applyInterface(rig.state, rig.link, w);
    rig.state.params->interfaceType = VirtualLeds;
    applyInterface(rig.state, rig.link, w);
    w.PulseRa(15);
    EXPECT_EQ(rig.takeTexts(), (Strings{"#:Qe#", "#:Qw#", "#:Mw#"}));
}

TEST(ApplyInterface, PortNumberOutOfRangeOnlyFailsWithItsMessage)
{
    for (int comPort : {4, -1, INT_MAX, INT_MIN}) {
        OptoRig<FakeClock> rig(Lx200, false);
        rig.state.params->comPort = comPort;
        TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
        applyInterface(rig.state, rig.link, w);
        EXPECT_LT(rig.link.comHandle(), 0) << comPort;
        EXPECT_EQ(rig.link.comBase, 0) << comPort;
        ASSERT_EQ(rig.notices.size(), 1u) << comPort;
        EXPECT_EQ(rig.notices[0].rfind("COM", 0), 0u) << rig.notices[0];
    }
}
