// The track window: its readout pixels and the correction step's output on
// the relay box and on the LED window path.
#include <QImage>
#include <gtest/gtest.h>

#include "ui/optorig.h"
#include "ui/optowin.h"
#include "ui/trackwin.h"

namespace {

constexpr QRgb kAmber = 0xF0B000;
constexpr QRgb kRed = 0xFF0000;
const QRect kAdFigure(50, 10, 25, 14);
const QRect kDecFigure(50, 33, 25, 14);
const QRect kAdLabel(10, 10, 40, 14);
const QRect kAdPercent(75, 10, 28, 14);
const QRect kDecPercent(75, 33, 28, 14);
const QRect kWhole(-5, -5, 200, 200);  // the window and its border

// Pixels of this colour (or, with `other`, of any other colour) in a
// rectangle given in client coordinates.
int count(const QImage& img, QRect clientRect, QRgb colour, bool other = false)
{
    int n = 0;
    const QRect r = clientRect.translated(Trackwin::kBorder, Trackwin::kBorder).intersected(img.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += ((img.pixel(x, y) & 0xFFFFFF) == colour) != other;
    return n;
}

// A track window over an LED window on a pseudo-terminal line, with the
// optics of the worked example.
struct TrackRig : OptoRig<FakeClock> {
    TOptowin opto{state, link, drawing, nullptr};
    Trackwin track{state, link, opto, drawing, nullptr};

    explicit TrackRig(int interfaceType, int dx = 2, int dy = -1) : OptoRig<FakeClock>(interfaceType)
    {
        state.params->focalLength = 100;
        state.params->pixelSize = 10;
        state.params->raSpeed = 7.5;
        state.params->decSpeed = 7.5;
        state.centroidX = 40;
        state.centroidY = 50;
        state.referenceX = state.regionX + state.centroidX + dx;
        state.referenceY = state.regionY + state.centroidY + dy;
    }
    QImage shot() { return track.grab().toImage(); }
};

}  // namespace

TEST(TrackWindow, TrackingOffClearsAndSendsNothing)
{
    for (int output : {RelayBox, Lx200}) {
        TrackRig rig(output);
        EXPECT_EQ(count(rig.shot(), kWhole, 0, true), 0) << output;
        rig.track.Correct(true);
        EXPECT_GT(count(rig.shot(), kWhole, 0, true), 0) << output;
        rig.opto.EndPulseRa();
        rig.opto.EndPulseDec();
        rig.writes.clear();
        const int64_t before = rig.clock.nowUs();

        rig.track.Correct(false);
        EXPECT_EQ(count(rig.shot(), kWhole, 0, true), 0) << output;
        EXPECT_TRUE(rig.writes.empty()) << output;
        EXPECT_FALSE(rig.opto.anyPulseRunning()) << output;
        EXPECT_EQ(rig.clock.nowUs(), before) << output;  // no wait either
    }
}

TEST(TrackWindow, WorkedExampleOnTheRelayBox)
{
    TrackRig rig(RelayBox);
    rig.track.Correct(true);
    EXPECT_NEAR(rig.track.pixelScale, 2.0626, 1e-4);
    ASSERT_EQ(rig.writes.size(), 4u);
    const uint8_t bytes[] = {0x89, 0x00, 0x46, 0x03};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(rig.writes[i].text, std::string(1, char(bytes[i]))) << i;
        // 5 ms inside each pair and 5 ms between the axes.
        EXPECT_EQ(rig.writes[i].timeUs, 5000 * i) << i;
    }
    EXPECT_FALSE(rig.opto.anyPulseRunning());

    const QImage img = rig.shot();
    for (const QRect& r : {kAdFigure, kDecFigure, kAdLabel, kAdPercent})
        EXPECT_GT(count(img, r, kAmber), 0) << r.x() << "," << r.y();
    EXPECT_EQ(count(img, kAdPercent, kRed), 0);
    // The readout stays on show through a repaint.
    rig.track.repaint();
    EXPECT_EQ(rig.shot(), img);
}

// Every output but the relay box, values only a crafted settings file holds
// included, takes the LED window path with the strings of that output.
TEST(TrackWindow, WorkedExampleOnTheLedWindowPath)
{
    const Strings plain{"#:Qe#", "#:Qw#", "#:Me#", "#:Qn#", "#:Qs#", "#:Ms#"};
    const struct {
        int interfaceType;
        Strings sent;
    } cases[] = {
        {Lx200, {"#:Qe#", "#:Qw#", "#:RG#", "#:Me#", "#:Qn#", "#:Qs#", "#:RG#", "#:Ms#"}},
        {MeadeEtx, {"#:Q#", "#:Me#", "#:Q#", "#:Ms#"}},
        {VirtualLeds, plain},
        {7, plain},
        {-1, plain},
    };
    for (const auto& c : cases) {
        TrackRig rig(c.interfaceType);
        rig.track.Correct(true);
        SCOPED_TRACE(::testing::Message() << "interface " << c.interfaceType);
        ASSERT_EQ(rig.texts(), c.sent);
        // 5 ms from the AD move to the DEC half.
        const size_t adMove = c.sent.size() / 2 - 1;
        EXPECT_EQ(rig.writes[adMove + 1].timeUs - rig.writes[adMove].timeUs, 5000);
        EXPECT_EQ(rig.opto.pulseTimer().deadlineUs(GuideAxis::Ra), 510000);
        EXPECT_EQ(rig.opto.pulseTimer().deadlineUs(GuideAxis::Dec), 5000 + 255000);
        EXPECT_EQ(rig.opto.lamp(GuideAxis::Ra), TOptowin::Lamp::Left);
        EXPECT_EQ(rig.opto.lamp(GuideAxis::Dec), TOptowin::Lamp::Right);
    }
}

TEST(TrackWindow, SaturatedPercentageIsRed)
{
    TrackRig rig(Lx200, -12, 0);
    rig.state.params->raSpeed = 12;
    rig.state.params->decSpeed = 14;
    rig.track.Correct(true);
    EXPECT_EQ(rig.opto.pulseTimer().deadlineUs(GuideAxis::Ra), 945000);

    const QImage img = rig.shot();
    EXPECT_GT(count(img, kAdFigure, kAmber), 0);   // "-12"
    EXPECT_GT(count(img, kAdPercent, kRed), 0);    // "100%"
    EXPECT_EQ(count(img, kAdPercent, kAmber), 0);
    EXPECT_GT(count(img, kDecPercent, kAmber), 0); // "0%"
    EXPECT_EQ(count(img, kDecPercent, kRed), 0);
}

TEST(TrackWindow, InhibitsHoldBackOnlyLedPulses)
{
    // LED path, DEC error below zero with "Inhibe DEC+": no DEC call at all,
    // and the DEC pulse already running is left alone.
    TrackRig led(Lx200);
    led.state.inhibitDecPlus = true;
    led.opto.PulseDec(-900);
    led.writes.clear();
    led.track.Correct(true);
    EXPECT_EQ(led.texts(), (Strings{"#:Qe#", "#:Qw#", "#:RG#", "#:Me#"}));
    EXPECT_EQ(led.opto.lamp(GuideAxis::Dec), TOptowin::Lamp::Left);

    // The relay box ignores both check boxes.
    TrackRig relay(RelayBox);
    relay.state.inhibitDecPlus = true;
    relay.state.inhibitDecMinus = true;
    relay.track.Correct(true);
    ASSERT_EQ(relay.writes.size(), 4u);
    EXPECT_EQ(relay.writes[2].text, "\x46");
}

TEST(TrackWindow, ZeroErrorOnTheLedPathOnlyStopsBothAxes)
{
    TrackRig rig(Lx200, 0, 0);
    rig.track.Correct(true);
    EXPECT_EQ(rig.texts(), (Strings{"#:Qe#", "#:Qw#", "#:Qn#", "#:Qs#"}));
    EXPECT_EQ(rig.opto.lamp(GuideAxis::Ra), TOptowin::Lamp::Off);
    EXPECT_EQ(rig.opto.lamp(GuideAxis::Dec), TOptowin::Lamp::Off);
    EXPECT_GT(count(rig.shot(), kAdPercent, kAmber), 0);  // "0%"
}

TEST(TrackWindow, UnusableOpticsShowTheErrorsAndSendNothing)
{
    for (int output : {RelayBox, Lx200}) {
        TrackRig rig(output);
        rig.state.params->focalLength = 0;
        rig.track.Correct(true);
        EXPECT_TRUE(rig.writes.empty()) << output;
        EXPECT_FALSE(rig.opto.anyPulseRunning()) << output;
        const QImage img = rig.shot();
        EXPECT_GT(count(img, kAdFigure, kAmber), 0) << output;
        EXPECT_GT(count(img, kAdPercent, kAmber), 0) << output;  // "--"
    }
}
