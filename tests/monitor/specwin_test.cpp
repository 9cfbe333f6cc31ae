// The energy graph window: error bins and bar heights read back from the
// window's pixels, the guiding clock, and the Suspend / Re-start / Reset
// buttons pressed as a user would.
#include <QFontMetrics>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <climits>
#include <map>

#include "app/clock.h"
#include "app/drawing.h"
#include "app/state.h"
#include "monitor/graphscale.h"
#include "monitor/specwin.h"

namespace {

const QColor kOrange(254, 120, 0);
constexpr int kAd = 170;   // baselines of the two graphs
constexpr int kDec = 350;

TEST(GraphScale, ErrorBinsCoverMinus25ToPlus24)
{
    const std::vector<std::pair<int, std::optional<int>>> cases = {
        {-26, std::nullopt}, {-25, 0}, {-1, 24}, {0, 25}, {24, 49}, {25, std::nullopt},
        {30, std::nullopt}, {INT_MIN, std::nullopt}, {INT_MAX, std::nullopt}};
    for (const auto& [error, bin] : cases)
        EXPECT_EQ(graphscale::errorBin(error), bin) << "error " << error;
}

TEST(GraphScale, LinearHeightTruncatesAndFullestIsFull)
{
    struct Case { int64_t count, largest; int full, height; };
    const Case cases[] = {
        {1, 7, 150, 21},  {7, 7, 150, 150}, {3, 7, 150, 64}, {0, 7, 150, 0},
        {1, 1, 150, 150}, {2, 3, 150, 100}, {-4, 7, 150, 0},
        {4294967295LL, 4294967295LL, 150, 150}, {1, 4294967295LL, 150, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(graphscale::linearHeight(c.count, c.largest, c.full), c.height)
            << c.count << "/" << c.largest;
    for (int m = 1; m <= 5000; ++m)
        ASSERT_EQ(graphscale::linearHeight(m, m, 150), 150) << m;
}

TEST(GraphScale, ClockReadsWholeHoursMinutesSeconds)
{
    struct Case { int64_t ms; const char *h, *mn, *s; };
    const Case cases[] = {
        {0, "0h", "0mn", "0s"},          {999, "0h", "0mn", "0s"},
        {59999, "0h", "0mn", "59s"},     {60000, "0h", "1mn", "0s"},
        {3725000, "1h", "2mn", "5s"},    {3725999, "1h", "2mn", "5s"},
        {3599999, "0h", "59mn", "59s"},  {36000000 + 61000, "10h", "1mn", "1s"},
        {int64_t(100) * 3600000, "100h", "0mn", "0s"}};
    for (const auto& c : cases) {
        const auto t = graphscale::clockText(c.ms);
        EXPECT_EQ(t.hours, c.h) << c.ms;
        EXPECT_EQ(t.minutes, c.mn) << c.ms;
        EXPECT_EQ(t.seconds, c.s) << c.ms;
    }
}

class SpecwinTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        state.mainX = 30;
        state.mainY = 40;
        win = std::make_unique<specwin>(state, drawing, &mainWindow);
    }

    // Sets the star so that the guiding error is (dx, dy).
    void setError(int dx, int dy)
    {
        state.regionX = 110;
        state.regionY = 70;
        state.centroidX = 40;
        state.centroidY = 60;
        state.referenceX = 150 + dx;
        state.referenceY = 130 + dy;
    }

    QImage shot() { return win->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    // Heights of the 50 bars standing on this baseline, read from the
    // window; fails the test when anything orange lies off the bar columns
    // or a bar has gaps.
    std::map<int, int> bars(const QImage& img, int baseline)
    {
        std::map<int, int> out;
        for (int x = 0; x < 100; ++x) {
            int run = 0;
            while (run <= 160 && QColor(img.pixel(x, baseline - run)) == kOrange)
                ++run;
            for (int y = baseline - 170; y <= baseline + 4; ++y) {
                const bool inBar = y > baseline - run && y <= baseline;
                EXPECT_EQ(QColor(img.pixel(x, y)) == kOrange, inBar)
                    << "stray pixel at " << x << "," << y;
                if (!inBar && QColor(img.pixel(x, y)) == kOrange)
                    break;
            }
            if (run > 0)
                out[x] = run;
        }
        return out;
    }

    // The clock band as the window should show it, drawn independently.
    QImage expectedClock(const graphscale::ClockText& t)
    {
        QImage img(100, 20, QImage::Format_RGB32);
        img.fill(Qt::black);
        QPainter p(&img);
        p.setFont(drawing.labelFont);
        p.setPen(QColor(240, 176, 0));
        const int base = 5 + QFontMetrics(drawing.labelFont).ascent();
        p.drawText(QPoint(10, base), QString::fromStdString(t.hours));
        p.drawText(QPoint(40, base), QString::fromStdString(t.minutes));
        p.drawText(QPoint(70, base), QString::fromStdString(t.seconds));
        return img;
    }

    QImage clockShown(const QImage& img) { return img.copy(0, 435, 100, 20); }

    // Buttons are found by their control id, as the user finds them by place.
    void press(int id)
    {
        auto* b = win->findChild<QPushButton*>(QString::number(id));
        ASSERT_TRUE(b);
        QTest::mouseClick(b, Qt::LeftButton);
    }

    FakeClock clock;
    SharedState state{clock};
    DrawingObjects drawing;
    QWidget mainWindow;
    std::unique_ptr<specwin> win;
};

TEST_F(SpecwinTest, BarsFollowTheErrorCounts)
{
    EXPECT_FALSE(win->isVisible());
    EXPECT_EQ(win->pos(), QPoint(30 + 541, 40));
    win->show();
    win->ResetGraph();
    struct Step { int dx, dy; std::map<int, int> ad, dec; };
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
    EXPECT_EQ(win->binsX[0], 2u);
    EXPECT_EQ(win->binsX[49], 1u);
    EXPECT_EQ(win->binsY[25], 3u);
}

TEST_F(SpecwinTest, ClockShowsGuidingTimeSinceReset)
{
    win->show();
    clock.advanceMs(5000);
    win->ResetGraph();
    clock.advanceMs(3725000 + 400);
    setError(0, 0);
    win->Plot();
    const QImage img = shot();
    EXPECT_EQ(clockShown(img), expectedClock({"1h", "2mn", "5s"}));
    EXPECT_NE(clockShown(img), expectedClock({"1h", "2mn", "6s"}));
}

TEST_F(SpecwinTest, SuspendFreezesGuidingAndClockRestartResumesThem)
{
    win->show();
    state.trackingOn = true;
    win->ResetGraph();
    EXPECT_EQ(win->button(701)->text(), "Suspend");
    setError(0, 0);
    clock.advanceMs(5 * 60000);
    win->Plot();

    press(701);
    EXPECT_EQ(win->button(701)->text(), "Re-start");
    EXPECT_FALSE(state.trackingOn);
    EXPECT_TRUE(state.graphSuspended);

    // Frozen: nothing counted, nothing drawn for ten minutes.
    const QImage frozen = shot();
    clock.advanceMs(10 * 60000);
    setError(-25, -25);
    win->Plot();
    EXPECT_EQ(win->binsX[0], 0u);
    EXPECT_EQ(shot(), frozen);
    EXPECT_EQ(clockShown(frozen), expectedClock({"0h", "5mn", "0s"}));

    press(701);
    EXPECT_EQ(win->button(701)->text(), "Suspend");
    EXPECT_TRUE(state.trackingOn);
    EXPECT_FALSE(state.graphSuspended);
    clock.advanceMs(63000);
    win->Plot();
    EXPECT_EQ(clockShown(shot()), expectedClock({"0h", "6mn", "3s"}));
}

TEST_F(SpecwinTest, ResetWhileSuspendedLeavesGuidingOff)
{
    win->show();
    state.trackingOn = true;
    win->ResetGraph();
    setError(-25, 3);
    win->Plot();
    press(701);
    ASSERT_EQ(win->button(701)->text(), "Re-start");

    press(700);
    EXPECT_EQ(win->button(701)->text(), "Suspend");
    EXPECT_FALSE(state.graphSuspended);
    EXPECT_FALSE(state.trackingOn);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(win->binsX[i], i == 25 ? 1u : 0u) << i;
        EXPECT_EQ(win->binsY[i], i == 25 ? 1u : 0u) << i;
    }

    press(701);
    EXPECT_EQ(win->button(701)->text(), "Re-start");
    EXPECT_FALSE(state.trackingOn);
    press(701);
    EXPECT_EQ(win->button(701)->text(), "Suspend");
    EXPECT_TRUE(state.trackingOn);
}

TEST_F(SpecwinTest, ShownAgainBlackUntilTheNextPlot)
{
    win->show();
    win->ResetGraph();
    setError(0, 0);
    win->Plot();
    ASSERT_EQ(bars(shot(), kAd), (std::map<int, int>{{50, 150}}));

    win->hide();
    win->show();
    QImage img = shot();
    EXPECT_TRUE(bars(img, kAd).empty());
    EXPECT_TRUE(bars(img, kDec).empty());
    EXPECT_EQ(clockShown(img), expectedClock({"", "", ""}));

    win->Plot();
    img = shot();
    EXPECT_EQ(bars(img, kAd), (std::map<int, int>{{50, 150}}));
    EXPECT_EQ(bars(img, kDec), (std::map<int, int>{{50, 150}}));
}

}  // namespace
