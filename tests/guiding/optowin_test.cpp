// The virtual LED window: its geometry, its squares, and the serial strings
// of every pulse start and end on a pseudo-terminal line.
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "guiding/optorig.h"
#include "guiding/optowin.h"

namespace {

QRgb pixelAt(QWidget& w, int x, int y)
{
    return w.grab().toImage().pixel(x, y) & 0xFFFFFF;
}

constexpr QRgb kWhite = 0xFFFFFF;
constexpr QRgb kBlack = 0x000000;
constexpr QRgb kRed = 0xFF0000;

QSize screenSize()
{
    return QGuiApplication::primaryScreen()->geometry().size();
}

}  // namespace

TEST(OptoWindow, GeometryFromTheSavedSettings)
{
    const QSize screen = screenSize();
    struct Case {
        int x, y, width, height;
        QPoint pos;
        int cell;
        QSize frame;
    } cases[] = {
        {600, 40, 200, 120, {600, 40}, 11, {200, 120}},
        {-50, -7, 200, 120, {0, 0}, 11, {200, 120}},
        {INT_MAX, 100000, 200, 120, {screen.width() - 100, screen.height() - 100}, 11, {200, 120}},
        {10, 10, 30, 30, {10, 10}, 2, {38, 40}},      // raised to 40, then snapped
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
        EXPECT_EQ(w.top, c.cell);
        EXPECT_EQ(w.classicFrameSize(), c.frame);
        // The client area is the frame less the classic border and caption.
        EXPECT_EQ(w.size(), c.frame - QSize(2, 20));
        EXPECT_EQ(w.windowTitle(), "OPTO");
    }
}

TEST(OptoWindow, CraftedHugeSizeStaysWithinTheScreen)
{
    OptoRig<FakeClock> rig;
    rig.state.params->optoWidth = INT_MAX;
    rig.state.params->optoHeight = 1 << 28;
    TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
    EXPECT_LE(w.classicFrameSize().width(), screenSize().width());
    EXPECT_LE(w.classicFrameSize().height(), screenSize().height());
    EXPECT_GT(w.cell, 0);
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
    // The window itself keeps its size.
    EXPECT_EQ(w.classicFrameSize(), QSize(38, 40));
}

TEST(OptoWindow, SquaresLightWhiteForTheirDirection)
{
    OptoRig<FakeClock> rig;  // 200 x 120: cell 11, squares 22 wide at 23, 67, 111, 155
    TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
    ASSERT_EQ(w.cell, 11);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(w.squareLeft(i), 23 + 44 * i);
    const int midY = (w.top + w.bottom) / 2;

    // All dark: black inside, red outline on the left edge.
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(pixelAt(w, w.squareLeft(i) + 11, midY), kBlack) << i;
        EXPECT_EQ(pixelAt(w, w.squareLeft(i), midY), kRed) << i;
        EXPECT_EQ(pixelAt(w, w.squareLeft(i) + 21, midY), kRed) << i;
        EXPECT_EQ(pixelAt(w, w.squareLeft(i) + 22, midY), kBlack) << i;
    }

    struct Case {
        bool ra;
        int ms;
        int litSquare;
    } cases[] = {{true, -1000, 0}, {true, 1000, 1}, {false, -1000, 2}, {false, 945, 3}};
    for (const Case& c : cases) {
        c.ra ? w.PulseRa(c.ms) : w.PulseDec(c.ms);
        const QImage img = w.grab().toImage();
        for (int i = 0; i < 4; ++i) {
            const bool sameAxis = (i < 2) == c.ra;
            if (!sameAxis)
                continue;
            const bool lit = i == c.litSquare;
            EXPECT_EQ(img.pixel(w.squareLeft(i) + 11, midY) & 0xFFFFFF, lit ? kWhite : kBlack)
                << "square " << i << " after " << c.ms;
            EXPECT_EQ(img.pixel(w.squareLeft(i), midY) & 0xFFFFFF, lit ? kBlack : kRed) << i;
        }
    }
    // Painting does not end a pulse of its own accord.
    EXPECT_TRUE(w.pulseRunning(GuideAxis::Ra));
    EXPECT_TRUE(w.pulseRunning(GuideAxis::Dec));

    // The teal labels under the squares.
    const QImage img = w.grab().toImage();
    bool teal = false;
    for (int y = w.bottom; y < w.height() && !teal; ++y)
        for (int x = 4 * w.cell; x < 4 * w.cell + 20; ++x)
            teal = teal || (img.pixel(x, y) & 0xFFFFFF) == Colours::teal.rgb() % 0x1000000;
    EXPECT_TRUE(teal);
}

TEST(OptoWindow, EveryStartAndEndWritesTheStringsOfTheOutput)
{
    struct Case {
        int interfaceType;
        bool ra;
        int ms;
        Strings atStart;
        Strings atEnd;
        TOptowin::Lamp lamp;
    } cases[] = {
        {Lx200, true, -1000, {"#:Qe#", "#:Qw#", "#:RG#", "#:Me#"}, {"#:Qe#", "#:Qw#"}, TOptowin::Lamp::Left},
        {Lx200, true, 255, {"#:Qe#", "#:Qw#", "#:RG#", "#:Mw#"}, {"#:Qe#", "#:Qw#"}, TOptowin::Lamp::Right},
        {Lx200, false, -300, {"#:Qn#", "#:Qs#", "#:RG#", "#:Mn#"}, {"#:Qn#", "#:Qs#"}, TOptowin::Lamp::Left},
        {Lx200, false, 945, {"#:Qn#", "#:Qs#", "#:RG#", "#:Ms#"}, {"#:Qn#", "#:Qs#"}, TOptowin::Lamp::Right},
        {MeadeEtx, true, -15, {"#:Q#", "#:Me#"}, {"#:Q#"}, TOptowin::Lamp::Left},
        {MeadeEtx, false, 15, {"#:Q#", "#:Ms#"}, {"#:Q#"}, TOptowin::Lamp::Right},
        // The virtual LEDs drive whatever port is open with the plain strings.
        {VirtualLeds, true, 510, {"#:Qe#", "#:Qw#", "#:Mw#"}, {"#:Qe#", "#:Qw#"}, TOptowin::Lamp::Right},
        {RelayBox, false, -15, {"#:Qn#", "#:Qs#", "#:Mn#"}, {"#:Qn#", "#:Qs#"}, TOptowin::Lamp::Left},
    };
    for (const Case& c : cases) {
        OptoRig<FakeClock> rig(c.interfaceType);
        TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
        const GuideAxis axis = c.ra ? GuideAxis::Ra : GuideAxis::Dec;
        SCOPED_TRACE(::testing::Message() << "interface " << c.interfaceType << " ra " << c.ra
                                          << " ms " << c.ms);
        c.ra ? w.PulseRa(c.ms) : w.PulseDec(c.ms);
        EXPECT_EQ(rig.takeTexts(), c.atStart);
        EXPECT_EQ(w.lamp(axis), c.lamp);
        EXPECT_TRUE(w.pulseRunning(axis));

        // Well before the end the timer does nothing.
        rig.clock.advanceMs(std::abs(c.ms) / 2 - 9);
        w.pulseTimer().service();
        EXPECT_TRUE(rig.writes.empty());

        rig.clock.advanceMs(std::abs(c.ms) - (std::abs(c.ms) / 2 - 9));
        w.pulseTimer().service();
        EXPECT_EQ(rig.takeTexts(), c.atEnd);
        EXPECT_EQ(w.lamp(axis), TOptowin::Lamp::Off);
        EXPECT_FALSE(w.pulseRunning(axis));
    }
}

TEST(OptoWindow, WestPulseOnLx200PutsThirtyBytesOnTheWireTimedFromTheMove)
{
    OptoRig<FakeClock> rig(Lx200);
    TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
    rig.clock.advanceMs(1000);
    w.PulseRa(255);
    rig.clock.advanceMs(255);
    w.pulseTimer().service();

    ASSERT_EQ(rig.writes.size(), 6u);
    EXPECT_EQ(rig.writes[5].timeUs - rig.writes[3].timeUs, 255000);  // "#:Mw#" to "#:Qw#"
    const std::string expected = "#:Qe##:Qw##:RG##:Mw##:Qe##:Qw#";
    EXPECT_EQ(rig.pty.read(expected.size()), bytesOf(expected));
    EXPECT_TRUE(rig.pty.drain(50).empty());
}

TEST(OptoWindow, NextPulseReplacesTheRunningOne)
{
    OptoRig<FakeClock> rig(Lx200);
    TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
    w.PulseDec(945);
    EXPECT_EQ(w.lamp(GuideAxis::Dec), TOptowin::Lamp::Right);
    rig.clock.advanceMs(100);
    rig.writes.clear();
    w.PulseDec(-300);
    EXPECT_EQ(rig.takeTexts(), (Strings{"#:Qn#", "#:Qs#", "#:RG#", "#:Mn#"}));
    EXPECT_EQ(w.lamp(GuideAxis::Dec), TOptowin::Lamp::Left);

    rig.clock.advanceMs(300);
    w.pulseTimer().service();
    EXPECT_EQ(rig.takeTexts(), (Strings{"#:Qn#", "#:Qs#"}));
    EXPECT_EQ(w.lamp(GuideAxis::Dec), TOptowin::Lamp::Off);

    // Nothing at the first pulse's 945 ms mark.
    rig.clock.advanceMs(600);
    w.pulseTimer().service();
    EXPECT_TRUE(rig.writes.empty());
    EXPECT_FALSE(w.anyPulseRunning());
}

TEST(OptoWindow, ClosingDuringAPulseStopsTheMount)
{
    OptoRig<FakeClock> rig(Lx200);
    {
        TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
        w.PulseDec(1000);
        w.PulseRa(300);
        rig.clock.advanceMs(300);
        w.pulseTimer().service();
        rig.writes.clear();
    }
    // Only the axis still moving is stopped.
    EXPECT_EQ(rig.takeTexts(), (Strings{"#:Qn#", "#:Qs#"}));
}

TEST(OptoWindow, ZeroLengthEndsTheAxisTwiceAndLightsNothing)
{
    OptoRig<FakeClock> rig(Lx200);
    TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
    w.PulseRa(-1000);
    rig.writes.clear();
    w.PulseRa(0);
    EXPECT_EQ(rig.takeTexts(), (Strings{"#:Qe#", "#:Qw#"}));
    EXPECT_EQ(w.lamp(GuideAxis::Ra), TOptowin::Lamp::Off);
    // The end runs once more at the next pass of the event loop.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.anyPulseRunning(); }, 1000));
    EXPECT_EQ(rig.takeTexts(), (Strings{"#:Qe#", "#:Qw#"}));
}

TEST(OptoWindow, ArrowKeysPulseForOneSecond)
{
    struct Case {
        Qt::Key key;
        Strings move;
        GuideAxis axis;
        TOptowin::Lamp lamp;
    } cases[] = {
        {Qt::Key_Left, {"#:Qe#", "#:Qw#", "#:RG#", "#:Me#"}, GuideAxis::Ra, TOptowin::Lamp::Left},
        {Qt::Key_Right, {"#:Qe#", "#:Qw#", "#:RG#", "#:Mw#"}, GuideAxis::Ra, TOptowin::Lamp::Right},
        {Qt::Key_Up, {"#:Qn#", "#:Qs#", "#:RG#", "#:Ms#"}, GuideAxis::Dec, TOptowin::Lamp::Right},
        {Qt::Key_Down, {"#:Qn#", "#:Qs#", "#:RG#", "#:Mn#"}, GuideAxis::Dec, TOptowin::Lamp::Left},
    };
    for (const Case& c : cases) {
        OptoRig<FakeClock> rig(Lx200);
        rig.state.params->invertRa = 1;   // no inversion applies in this window
        rig.state.params->invertDec = 1;
        TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
        QTest::keyClick(&w, c.key);
        EXPECT_EQ(rig.takeTexts(), c.move) << c.key;
        EXPECT_EQ(w.lamp(c.axis), c.lamp) << c.key;
        EXPECT_EQ(w.pulseTimer().deadlineUs(c.axis), 1000000) << c.key;
    }
    OptoRig<FakeClock> rig(Lx200);
    TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
    QTest::keyClick(&w, Qt::Key_A);
    QTest::keyClick(&w, Qt::Key_Space);
    EXPECT_TRUE(rig.writes.empty());
}

TEST(OptoWindow, ShowingAndMovingStoreThePosition)
{
    OptoRig<FakeClock> rig;
    rig.state.params->optoX = -50;
    rig.state.params->optoY = 30;
    TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_EQ(rig.state.params->optoX, 0);
    EXPECT_EQ(rig.state.params->optoY, 30);
    w.move(123, 45);
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.state.params->optoX, 123);
    EXPECT_EQ(rig.state.params->optoY, 45);
}

TEST(OptoWindow, UncoveringTheWindowEndsRunningPulses)
{
    OptoRig<FakeClock> rig(Lx200);
    TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QCoreApplication::processEvents();
    w.PulseRa(-1000);
    w.PulseDec(1000);
    rig.writes.clear();

    w.hide();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.takeTexts(), (Strings{"#:Qe#", "#:Qw#", "#:Qn#", "#:Qs#"}));
    EXPECT_FALSE(w.anyPulseRunning());
    EXPECT_EQ(w.lamp(GuideAxis::Ra), TOptowin::Lamp::Off);
    EXPECT_EQ(w.lamp(GuideAxis::Dec), TOptowin::Lamp::Off);
}

TEST(OptoWindow, RealTimersEndBothAxesNeverEarly)
{
    OptoRig<SteadyClock> rig(Lx200);
    TOptowin w(rig.state, rig.link, rig.drawing, nullptr);
    w.PulseRa(30);
    w.PulseDec(-12);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.anyPulseRunning(); }, 2000));
    const Strings texts = rig.texts();
    ASSERT_EQ(texts.size(), 12u);
    // Moves at 3 and 7; the DEC pulse is the shorter and ends first.
    EXPECT_EQ(texts[3], "#:Mw#");
    EXPECT_EQ(texts[7], "#:Mn#");
    EXPECT_EQ(Strings(texts.begin() + 8, texts.end()),
              (Strings{"#:Qn#", "#:Qs#", "#:Qe#", "#:Qw#"}));
    EXPECT_GE(rig.writes[8].timeUs - rig.writes[7].timeUs, 12000);
    EXPECT_GE(rig.writes[11].timeUs - rig.writes[3].timeUs, 30000);
}
