// The virtual LED window: its geometry, its squares, and the serial strings
// of every pulse start and end on a pseudo-terminal line.
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <string>

#include "ui/optorig.h"
#include "ui/optowin.h"

namespace {

constexpr QRgb kWhite = 0xFFFFFF;
constexpr QRgb kBlack = 0x000000;
constexpr QRgb kRed = 0xFF0000;

QRgb rgbAt(const QImage& img, int x, int y) { return img.pixel(x, y) & 0xFFFFFF; }

const Strings kStopRa{"#:Qe#", "#:Qw#"};
const Strings kStopDec{"#:Qn#", "#:Qs#"};

}  // namespace

TEST(OptoWindow, GeometryFromTheSavedSettings)
{
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    struct Case { int x, y, width, height; QPoint pos; int cell; QSize frame; } cases[] = {
        {600, 40, 200, 120, {600, 40}, 11, {200, 120}},
        {-50, -7, 200, 120, {0, 0}, 11, {200, 120}},
        {INT_MAX, 100000, 200, 120, {screen.width() - 100, screen.height() - 100}, 11, {200, 120}},
        {10, 10, 30, 30, {10, 10}, 2, {38, 40}},  // raised to 40, then snapped
        {10, 10, 201, 45, {10, 10}, 11, {200, 45}},
        {10, 10, -5, INT_MIN, {10, 10}, 2, {38, 40}},
    };
    for (const Case& c : cases) {
        OptoRig<FakeClock> rig;
        rig.state.params->optoX = c.x;
        rig.state.params->optoY = c.y;
        rig.state.params->optoWidth = c.width;
        rig.state.params->optoHeight = c.height;
        TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
        SCOPED_TRACE(::testing::Message() << c.x << "," << c.y << " " << c.width << "x" << c.height);
        EXPECT_EQ(w.pos(), c.pos);
        EXPECT_EQ(w.cell, c.cell);
        EXPECT_EQ(w.classicFrameSize(), c.frame);
    }

    // A crafted huge size stays within the screen.
    OptoRig<FakeClock> rig;
    rig.state.params->optoWidth = INT_MAX;
    rig.state.params->optoHeight = 1 << 28;
    TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
    EXPECT_LE(w.classicFrameSize().width(), screen.width());
    EXPECT_LE(w.classicFrameSize().height(), screen.height());
}

TEST(OptoWindow, FirstPaintStoresTheLaidOutSize)
{
    OptoRig<FakeClock> rig;
    rig.state.params->optoWidth = 30;
    rig.state.params->optoHeight = 30;
    TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
    EXPECT_EQ(rig.state.params->optoHeight, 30);
    w.grab();
    EXPECT_EQ(rig.state.params->optoWidth, 38);
    EXPECT_EQ(rig.state.params->optoHeight, 100);
    EXPECT_EQ(w.bottom, 100 - 18 - 25);
    EXPECT_EQ(w.classicFrameSize(), QSize(38, 40));  // the window itself keeps its size
}

TEST(OptoWindow, SquaresLightWhiteForTheirDirection)
{
    OptoRig<FakeClock> rig;  // 200 x 120: cell 11, squares 22 wide
    TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
    const int squareLeft[] = {23, 67, 111, 155};
    const int midY = 40;
    // Dark is black with a red outline, lit is white with a black one.
    auto expectLit = [&](std::array<bool, 4> lit) {
        const QImage img = w.grab().toImage();
        for (int i = 0; i < 4; ++i) {
            const int x = squareLeft[i];
            EXPECT_EQ(rgbAt(img, x + 11, midY), lit[i] ? kWhite : kBlack) << "square " << i;
            EXPECT_EQ(rgbAt(img, x, midY), lit[i] ? kBlack : kRed) << "square " << i;
            EXPECT_EQ(rgbAt(img, x + 21, midY), lit[i] ? kBlack : kRed) << "square " << i;
            EXPECT_EQ(rgbAt(img, x + 22, midY), kBlack) << "square " << i;
        }
    };
    expectLit({false, false, false, false});
    w.PulseRa(-1000);
    expectLit({true, false, false, false});
    w.PulseRa(1000);
    expectLit({false, true, false, false});
    w.PulseDec(-1000);
    expectLit({false, true, true, false});
    w.PulseDec(945);
    expectLit({false, true, false, true});
    // Painting does not end a pulse of its own accord.
    EXPECT_TRUE(w.pulseRunning(GuideAxis::Ra));
    EXPECT_TRUE(w.pulseRunning(GuideAxis::Dec));

    // The teal labels under the squares.
    const QImage img = w.grab().toImage();
    bool teal = false;
    for (int y = w.bottom; y < w.height() && !teal; ++y)
        for (int x = 44; x < 64; ++x)
            teal = teal || rgbAt(img, x, y) == (Colours::teal.rgb() & 0xFFFFFF);
    EXPECT_TRUE(teal);
}

TEST(OptoWindow, EveryStartAndEndWritesTheStringsOfTheOutput)
{
    struct Case { int interfaceType; bool ra; int ms; Strings atStart, atEnd; TOptowin::Lamp lamp; };
    const Case cases[] = {
        {Lx200, true, -1000, {"#:Qe#", "#:Qw#", "#:RG#", "#:Me#"}, kStopRa, TOptowin::Lamp::Left},
        {Lx200, true, 255, {"#:Qe#", "#:Qw#", "#:RG#", "#:Mw#"}, kStopRa, TOptowin::Lamp::Right},
        {Lx200, false, -300, {"#:Qn#", "#:Qs#", "#:RG#", "#:Mn#"}, kStopDec, TOptowin::Lamp::Left},
        {Lx200, false, 945, {"#:Qn#", "#:Qs#", "#:RG#", "#:Ms#"}, kStopDec, TOptowin::Lamp::Right},
        {MeadeEtx, true, -15, {"#:Q#", "#:Me#"}, {"#:Q#"}, TOptowin::Lamp::Left},
        {MeadeEtx, false, 15, {"#:Q#", "#:Ms#"}, {"#:Q#"}, TOptowin::Lamp::Right},
        // The virtual LEDs drive whatever port is open with the plain strings.
        {VirtualLeds, true, 510, {"#:Qe#", "#:Qw#", "#:Mw#"}, kStopRa, TOptowin::Lamp::Right},
        {RelayBox, false, -15, {"#:Qn#", "#:Qs#", "#:Mn#"}, kStopDec, TOptowin::Lamp::Left},
    };
    for (const Case& c : cases) {
        OptoRig<FakeClock> rig(c.interfaceType);
        TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
        const GuideAxis axis = c.ra ? GuideAxis::Ra : GuideAxis::Dec;
        SCOPED_TRACE(::testing::Message() << "interface " << c.interfaceType << " ms " << c.ms);
        rig.clock.advanceMs(1000);
        c.ra ? w.PulseRa(c.ms) : w.PulseDec(c.ms);
        EXPECT_EQ(rig.texts(), c.atStart);
        EXPECT_EQ(w.lamp(axis), c.lamp);

        // Well before the end the timer does nothing.
        const int early = std::abs(c.ms) / 2 - 9;
        rig.clock.advanceMs(early);
        w.pulseTimer().service();
        EXPECT_EQ(rig.writes.size(), c.atStart.size());
        EXPECT_TRUE(w.pulseRunning(axis));

        rig.clock.advanceMs(std::abs(c.ms) - early);
        w.pulseTimer().service();
        Strings all = c.atStart;
        all.insert(all.end(), c.atEnd.begin(), c.atEnd.end());
        ASSERT_EQ(rig.texts(), all);
        EXPECT_EQ(w.lamp(axis), TOptowin::Lamp::Off);
        EXPECT_FALSE(w.pulseRunning(axis));
        // Timed from the move string; on the wire exactly these bytes
        // (30 for a west pulse on "LX 200").
        EXPECT_EQ(rig.writes.back().timeUs - rig.writes[c.atStart.size() - 1].timeUs,
                  std::abs(c.ms) * 1000);
        std::string wire;
        for (const std::string& s : all)
            wire += s;
        EXPECT_EQ(rig.pty.read(wire.size()), bytesOf(wire));
        EXPECT_TRUE(rig.pty.drain(20).empty());
    }
}

TEST(OptoWindow, NextPulseReplacesTheRunningOneAndClosingStopsAnAxisStillMoving)
{
    OptoRig<FakeClock> rig(Lx200);
    {
        TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
        w.PulseDec(945);
        rig.clock.advanceMs(100);
        rig.writes.clear();
        w.PulseDec(-300);
        EXPECT_EQ(rig.takeTexts(), (Strings{"#:Qn#", "#:Qs#", "#:RG#", "#:Mn#"}));
        EXPECT_EQ(w.lamp(GuideAxis::Dec), TOptowin::Lamp::Left);

        rig.clock.advanceMs(300);
        w.pulseTimer().service();
        EXPECT_EQ(rig.takeTexts(), kStopDec);
        // Nothing at the first pulse's 945 ms mark.
        rig.clock.advanceMs(600);
        w.pulseTimer().service();
        EXPECT_TRUE(rig.writes.empty());
        EXPECT_FALSE(w.anyPulseRunning());

        w.PulseRa(300);
        rig.writes.clear();
    }
    EXPECT_EQ(rig.takeTexts(), kStopRa);  // the window went away mid-pulse
}

TEST(OptoWindow, ZeroLengthEndsTheAxisTwiceAndLightsNothing)
{
    OptoRig<FakeClock> rig(Lx200);
    TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
    w.PulseRa(-1000);
    rig.writes.clear();
    w.PulseRa(0);
    EXPECT_EQ(rig.takeTexts(), kStopRa);
    EXPECT_EQ(w.lamp(GuideAxis::Ra), TOptowin::Lamp::Off);
    // The end runs once more at the next pass of the event loop.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.anyPulseRunning(); }, 1000));
    EXPECT_EQ(rig.takeTexts(), kStopRa);
}

TEST(OptoWindow, ArrowKeysPulseForOneSecondWithoutInversion)
{
    OptoRig<FakeClock> rig(Lx200);
    rig.state.params->invertRa = 1;  // no inversion applies in this window
    rig.state.params->invertDec = 1;
    TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
    struct Case { Qt::Key key; std::string move; GuideAxis axis; } cases[] = {
        {Qt::Key_Left, "#:Me#", GuideAxis::Ra}, {Qt::Key_Right, "#:Mw#", GuideAxis::Ra},
        {Qt::Key_Up, "#:Ms#", GuideAxis::Dec}, {Qt::Key_Down, "#:Mn#", GuideAxis::Dec}};
    for (const Case& c : cases) {
        rig.writes.clear();
        QTest::keyClick(&w, c.key);
        ASSERT_EQ(rig.writes.size(), 4u) << c.key;
        EXPECT_EQ(rig.writes[3].text, c.move) << c.key;
        EXPECT_EQ(w.pulseTimer().deadlineUs(c.axis), 1000000) << c.key;
    }
    rig.writes.clear();
    QTest::keyClick(&w, Qt::Key_A);
    QTest::keyClick(&w, Qt::Key_Space);
    EXPECT_TRUE(rig.writes.empty());
}

TEST(OptoWindow, ShowingStoresThePositionAndExposureEndsPulses)
{
    OptoRig<FakeClock> rig(Lx200);
    rig.state.params->optoX = -50;
    rig.state.params->optoY = 30;
    TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.state.params->optoX, 0);
    EXPECT_EQ(rig.state.params->optoY, 30);
    w.move(123, 45);
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.state.params->optoX, 123);
    EXPECT_EQ(rig.state.params->optoY, 45);

    w.PulseRa(-1000);
    w.PulseDec(1000);
    rig.writes.clear();
    w.hide();
    w.show();  // uncovered: the window system asks for a redraw
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.takeTexts(), (Strings{"#:Qe#", "#:Qw#", "#:Qn#", "#:Qs#"}));
    EXPECT_FALSE(w.anyPulseRunning());
}
