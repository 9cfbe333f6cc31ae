// The virtual LED window: its geometry, its squares as the pulse machine
// lights them, its arrow keys, and the exposures that end pulses. (The strings
// and timing of the pulses are the pulse machine's, tested in the core.)
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
        OptoRig rig;
        rig.state.params->optoX = c.x;
        rig.state.params->optoY = c.y;
        rig.state.params->optoWidth = c.width;
        rig.state.params->optoHeight = c.height;
        TOptowin w(rig.state, rig.core.pulses, rig.drawing, nullptr);
        SCOPED_TRACE(::testing::Message() << c.x << "," << c.y << " " << c.width << "x" << c.height);
        EXPECT_EQ(w.pos(), c.pos);
        EXPECT_EQ(w.cell, c.cell);
        EXPECT_EQ(w.classicFrameSize(), c.frame);
    }

    // A crafted huge size stays within the screen.
    OptoRig rig;
    rig.state.params->optoWidth = INT_MAX;
    rig.state.params->optoHeight = 1 << 28;
    TOptowin w(rig.state, rig.core.pulses, rig.drawing, nullptr);
    EXPECT_LE(w.classicFrameSize().width(), screen.width());
    EXPECT_LE(w.classicFrameSize().height(), screen.height());
}

TEST(OptoWindow, FirstPaintStoresTheLaidOutSize)
{
    OptoRig rig;
    rig.state.params->optoWidth = 30;
    rig.state.params->optoHeight = 30;
    TOptowin w(rig.state, rig.core.pulses, rig.drawing, nullptr);
    EXPECT_EQ(rig.state.params->optoHeight, 30);
    w.grab();
    EXPECT_EQ(rig.state.params->optoWidth, 38);
    EXPECT_EQ(rig.state.params->optoHeight, 100);
    EXPECT_EQ(w.bottom, 100 - 18 - 25);
    EXPECT_EQ(w.classicFrameSize(), QSize(38, 40));  // the window itself keeps its size
}

TEST(OptoWindow, SquaresLightWhiteForTheirDirection)
{
    OptoRig rig;  // 200 x 120: cell 11, squares 22 wide
    TOptowin w(rig.state, rig.core.pulses, rig.drawing, nullptr);
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
    EXPECT_TRUE(rig.core.pulses.pulsing(GuideAxis::Ra));
    EXPECT_TRUE(rig.core.pulses.pulsing(GuideAxis::Dec));

    // The teal labels under the squares.
    const QImage img = w.grab().toImage();
    bool teal = false;
    for (int y = w.bottom; y < w.height() && !teal; ++y)
        for (int x = 44; x < 64; ++x)
            teal = teal || rgbAt(img, x, y) == (Colours::teal.rgb() & 0xFFFFFF);
    EXPECT_TRUE(teal);
}

TEST(OptoWindow, ArrowKeysPulseForOneSecondWithoutInversion)
{
    OptoRig rig(Lx200);
    rig.state.params->invertRa = 1;  // no inversion applies in this window
    rig.state.params->invertDec = 1;
    TOptowin w(rig.state, rig.core.pulses, rig.drawing, nullptr);
    struct Case { Qt::Key key; std::string move; GuideAxis axis; } cases[] = {
        {Qt::Key_Left, "#:Me#", GuideAxis::Ra}, {Qt::Key_Right, "#:Mw#", GuideAxis::Ra},
        {Qt::Key_Up, "#:Ms#", GuideAxis::Dec}, {Qt::Key_Down, "#:Mn#", GuideAxis::Dec}};
    for (const Case& c : cases) {
        rig.seen.clear();
        QTest::keyClick(&w, c.key);
        const Strings texts = rig.texts();
        ASSERT_EQ(texts.size(), 4u) << c.key;
        EXPECT_EQ(texts[3], c.move) << c.key;
        EXPECT_EQ(rig.core.pulses.deadlineUs(c.axis), 1000000) << c.key;
    }
    rig.seen.clear();
    QTest::keyClick(&w, Qt::Key_A);
    QTest::keyClick(&w, Qt::Key_Space);
    EXPECT_TRUE(rig.seen.empty());
}

TEST(OptoWindow, ShowingStoresThePositionAndExposureEndsPulses)
{
    OptoRig rig(Lx200);
    rig.state.params->optoX = -50;
    rig.state.params->optoY = 30;
    TOptowin w(rig.state, rig.core.pulses, rig.drawing, nullptr);
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
    rig.seen.clear();
    w.hide();
    w.show();  // uncovered: the window system asks for a redraw
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.takeTexts(), (Strings{"#:Qe#", "#:Qw#", "#:Qn#", "#:Qs#"}));
    EXPECT_FALSE(rig.core.pulses.anyPulsing());
}
