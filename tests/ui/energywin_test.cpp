// The energy graph window: error bins and bar heights read back from the
// window's pixels, the guiding clock, and the Suspend / Re-start / Reset
// buttons pressed as a user would.
#include <QFontMetrics>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "core/corerig.h"

#include <climits>
#include <map>

#include "core/clock.h"
#include "ui/drawing.h"
#include "core/state.h"
#include "ui/graphscale.h"
#include "ui/energywin.h"

namespace {

const QColor kOrange(254, 120, 0);
constexpr int kAd = 170;  // baselines of the two graphs
constexpr int kDec = 350;
using Bars = std::map<int, int>;  // x -> height

TEST(GraphScale, ErrorBinsCoverMinus25ToPlus24)
{
    const std::pair<int, std::optional<int>> cases[] = {
        {-26, std::nullopt}, {-25, 0}, {0, 25}, {24, 49}, {25, std::nullopt},
        {INT_MIN, std::nullopt}, {INT_MAX, std::nullopt}};
    for (const auto& [error, bin] : cases)
        EXPECT_EQ(graphscale::errorBin(error), bin) << "error " << error;
}

TEST(GraphScale, LinearHeightTruncatesAndFullestIsFull)
{
    struct Case { int64_t count, largest; int height; };
    const Case cases[] = {{1, 7, 21}, {4, 7, 85}, {0, 7, 0}, {2, 3, 100}, {-4, 7, 0},
                          {4294967295LL, 4294967295LL, 150}, {1, 4294967295LL, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(graphscale::linearHeight(c.count, c.largest, 150), c.height)
            << c.count << "/" << c.largest;
    for (int m = 1; m <= 5000; ++m)
        ASSERT_EQ(graphscale::linearHeight(m, m, 150), 150) << m;
}

TEST(GraphScale, ClockReadsWholeHoursMinutesSeconds)
{
    const std::pair<int64_t, std::string> cases[] = {
        {999, "0h|0mn|0s"},     {59999, "0h|0mn|59s"},      {60000, "0h|1mn|0s"},
        {3725999, "1h|2mn|5s"}, {3599999, "0h|59mn|59s"}, {int64_t(100) * 3600000, "100h|0mn|0s"}};
    for (const auto& [ms, text] : cases) {
        const auto t = graphscale::clockText(ms);
        EXPECT_EQ(t.hours + "|" + t.minutes + "|" + t.seconds, text) << ms;
    }
}

class SpecwinTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        win = std::make_unique<specwin>(state, rig.core.session, drawing, &mainWindow);
        win->show();
        state.trackingOn = true;
        win->ResetGraph();
    }

    // Sets the star so that the guiding error is (dx, dy).
    void setError(int dx, int dy)
    {
        state.centroidX = 40;
        state.centroidY = 60;
        state.referenceX = state.regionX + 40 + dx;
        state.referenceY = state.regionY + 60 + dy;
    }

    QImage shot() { return win->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    // Heights of the bars standing on this baseline, read from the window;
    // fails the test when anything orange lies off the bars or a bar has gaps.
    Bars bars(const QImage& img, int baseline)
    {
        Bars out;
        for (int x = 0; x < 100; ++x) {
            int run = 0;
            while (run <= 160 && QColor(img.pixel(x, baseline - run)) == kOrange)
                ++run;
            for (int y = baseline - 170; y <= baseline + 4; ++y) {
                const bool inBar = y > baseline - run && y <= baseline;
                if ((QColor(img.pixel(x, y)) == kOrange) != inBar) {
                    ADD_FAILURE() << "stray pixel at " << x << "," << y;
                    break;
                }
            }
            if (run > 0)
                out[x] = run;
        }
        return out;
    }

    // Compares the clock band with these texts drawn independently.
    void expectClock(const QImage& img, const graphscale::ClockText& t)
    {
        QImage expected(100, 20, QImage::Format_RGB32);
        expected.fill(Qt::black);
        QPainter p(&expected);
        p.setFont(drawing.labelFont);
        p.setPen(QColor(240, 176, 0));
        const int base = 5 + QFontMetrics(drawing.labelFont).ascent();
        p.drawText(QPoint(10, base), QString::fromStdString(t.hours));
        p.drawText(QPoint(40, base), QString::fromStdString(t.minutes));
        p.drawText(QPoint(70, base), QString::fromStdString(t.seconds));
        EXPECT_EQ(img.copy(0, 435, 100, 20), expected) << t.hours << t.minutes << t.seconds;
    }

    // Buttons are found by their control id, as the user finds them by place.
    void press(int id)
    {
        auto* b = win->findChild<QPushButton*>(QString::number(id));
        ASSERT_TRUE(b);
        QTest::mouseClick(b, Qt::LeftButton);
    }
    QString suspendText() { return win->button(701)->text(); }

    CoreRig rig;
    FakeClock& clock = rig.clock;
    SharedState& state = rig.state;
    DrawingObjects drawing;
    QWidget mainWindow;
    std::unique_ptr<specwin> win;
};

TEST_F(SpecwinTest, BarsFollowTheErrorCounts)
{
    struct Step { int dx, dy; Bars ad, dec; };
    const Step steps[] = {
        // Right after a reset: one full bar at zero error.
        {30, 30, {{50, 150}}, {{50, 150}}},
        {0, 0, {{50, 150}}, {{50, 150}}},
        // Zero error now holds 2: a single count is half as high.
        {-25, 24, {{0, 75}, {50, 150}}, {{50, 150}, {98, 75}}},
        {-25, -26, {{0, 150}, {50, 150}}, {{50, 150}, {98, 75}}},
        {24, 25, {{0, 150}, {50, 150}, {98, 75}}, {{50, 150}, {98, 75}}},
        // Off the graph on both sides: counted nowhere, drawn unchanged.
        {30, -30, {{0, 150}, {50, 150}, {98, 75}}, {{50, 150}, {98, 75}}},
        {-3, 0, {{0, 150}, {44, 75}, {50, 150}, {98, 75}}, {{50, 150}, {98, 50}}},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        setError(steps[i].dx, steps[i].dy);
        win->Plot();
        const QImage img = shot();
        EXPECT_EQ(bars(img, kAd), steps[i].ad) << "step " << i;
        EXPECT_EQ(bars(img, kDec), steps[i].dec) << "step " << i;
    }
}

TEST_F(SpecwinTest, ClockRunsFromResetAndSuspendFreezesGuidingAndClock)
{
    clock.advanceMs(5000);
    win->ResetGraph();
    EXPECT_EQ(suspendText(), "Suspend");
    setError(0, 0);
    clock.advanceMs(3725000 + 400);
    win->Plot();
    expectClock(shot(), {"1h", "2mn", "5s"});

    press(701);
    EXPECT_EQ(suspendText(), "Re-start");
    EXPECT_FALSE(state.trackingOn);
    EXPECT_TRUE(state.graphSuspended);

    // Frozen: nothing counted, nothing drawn for ten minutes.
    const QImage frozen = shot();
    clock.advanceMs(10 * 60000);
    setError(-25, -25);
    win->Plot();
    EXPECT_EQ(win->binsX[0], 0u);
    EXPECT_EQ(shot(), frozen);

    press(701);
    EXPECT_EQ(suspendText(), "Suspend");
    EXPECT_TRUE(state.trackingOn);
    EXPECT_FALSE(state.graphSuspended);
    clock.advanceMs(63000);
    win->Plot();
    expectClock(shot(), {"1h", "3mn", "8s"});
}

TEST_F(SpecwinTest, ResetWhileSuspendedLeavesGuidingOff)
{
    setError(-25, 3);
    win->Plot();
    press(701);
    ASSERT_EQ(suspendText(), "Re-start");

    press(700);
    EXPECT_EQ(suspendText(), "Suspend");
    EXPECT_FALSE(state.graphSuspended);
    EXPECT_FALSE(state.trackingOn);
    std::array<uint32_t, 50> fresh{};
    fresh[25] = 1;
    EXPECT_EQ(win->binsX, fresh);
    EXPECT_EQ(win->binsY, fresh);
    press(701);
    EXPECT_EQ(suspendText(), "Re-start");
}

TEST_F(SpecwinTest, ShownAgainBlackUntilTheNextPlot)
{
    setError(0, 0);
    win->Plot();
    win->hide();
    win->show();
    QImage img = shot();
    EXPECT_TRUE(bars(img, kAd).empty());
    EXPECT_TRUE(bars(img, kDec).empty());
    expectClock(img, {"", "", ""});

    win->Plot();
    img = shot();
    EXPECT_EQ(bars(img, kAd), (Bars{{50, 150}}));
    EXPECT_EQ(bars(img, kDec), (Bars{{50, 150}}));
}

}  // namespace
