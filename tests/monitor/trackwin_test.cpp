// The track window: its readout pixels and the correction step's output on
// the relay box and on the LED window path.
#include <QImage>
#include <QTest>
#include <gtest/gtest.h>

#include "guiding/optorig.h"
#include "guiding/optowin.h"
#include "monitor/trackwin.h"

namespace {

constexpr QRgb kAmber = 0xF0B000;
constexpr QRgb kRed = 0xFF0000;

// Pixels of one colour in a rectangle given in client coordinates.
int countColour(const QImage& img, QRect clientRect, QRgb colour)
{
    int n = 0;
    const QRect r = clientRect.translated(Trackwin::kBorder, Trackwin::kBorder).intersected(img.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += (img.pixel(x, y) & 0xFFFFFF) == colour;
    return n;
}

int countNotBlack(const QImage& img)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += (img.pixel(x, y) & 0xFFFFFF) != 0;
    return n;
}

const QRect kAdFigure(50, 10, 25, 14);
const QRect kDecFigure(50, 33, 25, 14);
const QRect kAdLabel(10, 10, 40, 14);
const QRect kAdPercent(75, 10, 28, 14);
const QRect kDecPercent(75, 33, 28, 14);

// A track window over an LED window on a pseudo-terminal line, with the
// optics of the worked example unless told otherwise.
struct TrackRig : OptoRig<FakeClock> {
    TOptowin opto{state, link, drawing, nullptr};
    Trackwin track{state, link, opto, drawing, nullptr};

    explicit TrackRig(int interfaceType) : OptoRig<FakeClock>(interfaceType)
    {
        state.params->focalLength = 100;
        state.params->pixelSize = 10;
        state.params->raSpeed = 7.5;
        state.params->decSpeed = 7.5;
    }
    void setError(int dx, int dy)
    {
        state.centroidX = 40;
        state.centroidY = 50;
        state.referenceX = state.regionX + state.centroidX + dx;
        state.referenceY = state.regionY + state.centroidY + dy;
    }
    QImage shot() { return track.grab().toImage(); }
};

}  // namespace

TEST(TrackWindow, SitsInTheLowerLeftOfItsParent)
{
    TrackRig rig(Lx200);
    EXPECT_EQ(rig.track.geometry(), QRect(2, 406, 105, 70));
    EXPECT_EQ(countNotBlack(rig.shot()), 0);
}

TEST(TrackWindow, TrackingOffClearsAndSendsNothing)
{
    for (int output : {RelayBox, Lx200, VirtualLeds}) {
        TrackRig rig(output);
        rig.setError(2, -1);
        rig.track.Correct(true);
        EXPECT_GT(countNotBlack(rig.shot()), 0);
        rig.opto.EndPulseRa();
        rig.opto.EndPulseDec();
        rig.writes.clear();
        const int64_t before = rig.clock.nowUs();

        rig.track.Correct(false);
        EXPECT_EQ(countNotBlack(rig.shot()), 0) << output;
        EXPECT_TRUE(rig.writes.empty()) << output;
        EXPECT_FALSE(rig.opto.anyPulseRunning()) << output;
        EXPECT_EQ(rig.clock.nowUs(), before) << output;  // no wait either
    }
}

TEST(TrackWindow, WorkedExampleOnTheRelayBox)
{
    TrackRig rig(RelayBox);
    rig.setError(2, -1);
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
    EXPECT_GT(countColour(img, kAdFigure, kAmber), 0);
    EXPECT_GT(countColour(img, kDecFigure, kAmber), 0);
    EXPECT_GT(countColour(img, kAdLabel, kAmber), 0);
    EXPECT_GT(countColour(img, kAdPercent, kAmber), 0);
    EXPECT_EQ(countColour(img, kAdPercent, kRed), 0);
}

TEST(TrackWindow, WorkedExampleOnTheLedWindowPath)
{
    TrackRig rig(Lx200);
    rig.setError(2, -1);
    rig.track.Correct(true);
    EXPECT_EQ(rig.texts(), (Strings{"#:Qe#", "#:Qw#", "#:RG#", "#:Me#",
                                    "#:Qn#", "#:Qs#", "#:RG#", "#:Ms#"}));
    EXPECT_EQ(rig.writes[4].timeUs - rig.writes[3].timeUs, 5000);
    EXPECT_EQ(rig.opto.lamp(GuideAxis::Ra), TOptowin::Lamp::Left);
    EXPECT_EQ(rig.opto.lamp(GuideAxis::Dec), TOptowin::Lamp::Right);
    EXPECT_EQ(rig.opto.pulseTimer().deadlineUs(GuideAxis::Ra), 510000);
    EXPECT_EQ(rig.opto.pulseTimer().deadlineUs(GuideAxis::Dec), 5000 + 255000);
}

TEST(TrackWindow, SaturatedPercentageIsRed)
{
    TrackRig rig(Lx200);
    rig.state.params->raSpeed = 12;
    rig.state.params->decSpeed = 14;
    rig.setError(-12, 0);
    rig.track.Correct(true);
    EXPECT_EQ(rig.track.lastCorrection().ra.count, 63);
    EXPECT_EQ(rig.opto.pulseTimer().deadlineUs(GuideAxis::Ra), 945000);

    const QImage img = rig.shot();
    EXPECT_GT(countColour(img, kAdFigure, kAmber), 0);      // "-12"
    EXPECT_GT(countColour(img, kAdPercent, kRed), 0);       // "100%"
    EXPECT_EQ(countColour(img, kAdPercent, kAmber), 0);
    EXPECT_GT(countColour(img, kDecPercent, kAmber), 0);    // "0%"
    EXPECT_EQ(countColour(img, kDecPercent, kRed), 0);
}

TEST(TrackWindow, InhibitsHoldBackOnlyLedPulses)
{
    // LED path, DEC error below zero with "Inhibe DEC+": no DEC call at all,
    // and the DEC pulse already running is left alone.
    TrackRig led(Lx200);
    led.state.inhibitDecPlus = true;
    led.opto.PulseDec(-900);
    led.writes.clear();
    led.setError(2, -1);
    led.track.Correct(true);
    EXPECT_EQ(led.texts(), (Strings{"#:Qe#", "#:Qw#", "#:RG#", "#:Me#"}));
    EXPECT_EQ(led.opto.lamp(GuideAxis::Dec), TOptowin::Lamp::Left);
    EXPECT_TRUE(led.opto.pulseRunning(GuideAxis::Dec));

    // "Inhibe DEC-" does not hold back a DEC+ pulse.
    TrackRig other(Lx200);
    other.state.inhibitDecMinus = true;
    other.setError(2, -1);
    other.track.Correct(true);
    EXPECT_EQ(other.writes.size(), 8u);

    // The relay box ignores both check boxes.
    TrackRig relay(RelayBox);
    relay.state.inhibitDecPlus = true;
    relay.state.inhibitDecMinus = true;
    relay.setError(2, -1);
    relay.track.Correct(true);
    ASSERT_EQ(relay.writes.size(), 4u);
    EXPECT_EQ(relay.writes[2].text, "\x46");
}

TEST(TrackWindow, ZeroErrorOnTheLedPathOnlyStopsBothAxes)
{
    TrackRig rig(Lx200);
    rig.setError(0, 0);
    rig.track.Correct(true);
    EXPECT_EQ(rig.takeTexts(), (Strings{"#:Qe#", "#:Qw#", "#:Qn#", "#:Qs#"}));
    EXPECT_EQ(rig.opto.lamp(GuideAxis::Ra), TOptowin::Lamp::Off);
    EXPECT_EQ(rig.opto.lamp(GuideAxis::Dec), TOptowin::Lamp::Off);
    // The zero-length pulses end once more, stops included.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !rig.opto.anyPulseRunning(); }, 1000));
    EXPECT_EQ(rig.takeTexts(), (Strings{"#:Qe#", "#:Qw#", "#:Qn#", "#:Qs#"}));
    EXPECT_GT(countColour(rig.shot(), kAdPercent, kAmber), 0);  // "0%"
}

TEST(TrackWindow, UnusableOpticsShowTheErrorsAndSendNothing)
{
    for (int output : {RelayBox, Lx200}) {
        TrackRig rig(output);
        rig.state.params->focalLength = 0;
        rig.setError(2, -1);
        rig.track.Correct(true);
        EXPECT_TRUE(rig.writes.empty()) << output;
        EXPECT_FALSE(rig.opto.anyPulseRunning()) << output;
        const QImage img = rig.shot();
        EXPECT_GT(countColour(img, kAdFigure, kAmber), 0) << output;
        EXPECT_GT(countColour(img, kAdPercent, kAmber), 0) << output;  // "--"
    }
}

TEST(TrackWindow, ReadoutSurvivesARepaint)
{
    TrackRig rig(Lx200);
    rig.setError(2, -1);
    rig.track.Correct(true);
    const QImage first = rig.shot();
    rig.track.repaint();
    EXPECT_EQ(rig.shot(), first);
}
