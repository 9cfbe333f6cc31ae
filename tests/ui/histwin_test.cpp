// The histogram panel: bar heights, threshold marker, texts and profiles read
// back from the panel's pixels after a measurement.
#include <QFontMetrics>
#include <QPainter>
#include <gtest/gtest.h>

#include "core/clock.h"
#include "ui/drawing.h"
#include "core/state.h"
#include "ui/graphscale.h"
#include "ui/histwin.h"

namespace {

const QColor kOrange(254, 120, 0);
const QColor kRed(255, 0, 0);
const QColor kGrey(100, 100, 100);
const QColor kAmber(240, 176, 0);
const QColor kYellow(240, 240, 0);

TEST(GraphScale, SquareRootHeights)
{
    // The panel's bars show more of them (100 of 400 -> 45 px among them).
    struct Case { int64_t count, largest; int height; };
    const Case cases[] = {{0, 400, 0}, {1, 10000, 0}, {2, 10000, 1}, {-3, 400, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(graphscale::sqrtHeight(c.count, c.largest, 90), c.height)
            << c.count << "/" << c.largest;
    for (int m = 1; m <= 10000; ++m)
        ASSERT_EQ(graphscale::sqrtHeight(m, m, 90), 90) << m;
}

class HistwinTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mainWindow.resize(539, 464);
        hist = std::make_unique<THistwin>(state, drawing, &mainWindow);
    }

    QImage shot() { return hist->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    // Colour at a picture position (inside the thin border).
    static QColor at(const QImage& img, int x, int y)
    {
        return QColor(img.pixel(x + THistwin::kBorder, y + THistwin::kBorder));
    }

    // Pixels of this colour in a run from (x, y), stepping by (dx, dy).
    static int run(const QImage& img, int x, int y, int dx, int dy, const QColor& c)
    {
        int n = 0;
        while (x + dx * n >= 0 && y + dy * n >= 0 && x + dx * n < 208 && y + dy * n < 240 &&
               at(img, x + dx * n, y + dy * n) == c)
            ++n;
        return n;
    }

    static int count(const QImage& img, const QRect& area, const QColor& c)
    {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                n += at(img, x, y) == c;
        return n;
    }

    // A 208-pixel strip as it should look: these texts at these positions
    // (top-left of the cell, relative to the strip), drawn independently in
    // the label font on black.
    QImage expectedStrip(int height, const std::vector<std::tuple<int, int, QString, QColor>>& texts)
    {
        QImage img(208, height, QImage::Format_RGB32);
        img.fill(Qt::black);
        QPainter p(&img);
        p.setFont(drawing.labelFont);
        const int ascent = QFontMetrics(drawing.labelFont).ascent();
        for (const auto& [x, y, text, colour] : texts) {
            p.setPen(colour);
            p.drawText(QPoint(x, y + ascent), text);
        }
        return img;
    }

    QImage strip(const QImage& img, int y, int height)
    {
        return img.copy(THistwin::kBorder, y + THistwin::kBorder, 208, height);
    }

    FakeClock clock;
    SharedState state{clock};
    DrawingObjects drawing;
    QWidget mainWindow;
    std::unique_ptr<THistwin> hist;
};

TEST_F(HistwinTest, BlackRegionShowsOneFullBarAndNoProfiles)
{
    state.greyHistogram.fill(0);
    state.greyHistogram[0] = 10000;
    state.peakLevel = 0;
    state.population = 0;
    hist->Plot();
    const QImage img = shot();

    // Level 0 rises 90 pixels above the baseline; every other level marks
    // only the baseline.
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(run(img, 3 * i + 10, 120, 0, -1, kOrange), i == 0 ? 91 : 1) << "level " << i;
    EXPECT_EQ(count(img, QRect(0, 20, 208, 101), kOrange), 91 + 63);
    // The marker, at x = -8, is off the panel: nothing under the bars.
    EXPECT_EQ(strip(img, 121, 10), expectedStrip(10, {}));
    EXPECT_EQ(count(img, QRect(0, 121, 208, 119), kRed), 0);
}

TEST_F(HistwinTest, HistogramBarsOnASquareRootScale)
{
    state.greyHistogram.fill(0);
    const std::vector<std::pair<int, int>> levels = {{5, 400}, {6, 100}, {7, 1}, {8, 399}, {63, 25}};
    for (const auto& [level, pixels] : levels)
        state.greyHistogram[level] = pixels;
    hist->Plot();
    const QImage img = shot();
    const std::vector<std::pair<int, int>> heights = {{5, 90}, {6, 45}, {7, 4}, {8, 89},
                                                      {63, 22}, {0, 0}, {40, 0}};
    for (const auto& [level, height] : heights) {
        EXPECT_EQ(run(img, 3 * level + 10, 120, 0, -1, kOrange), height + 1) << "level " << level;
        EXPECT_EQ(at(img, 3 * level + 10, 119 - height), QColor(Qt::black)) << "level " << level;
    }
}

TEST_F(HistwinTest, ThresholdMarkerUnderItsLevel)
{
    struct Case { bool manualOn; int manual, peak, x; };
    const Case cases[] = {
        {true, 32, 0, 103},   // "Manuel" at 32
        {false, 32, 20, 52},  // automatic: five below the brightest level
        {false, 0, 63, 181},
        {true, 0, 63, 7},
        {true, 63, 10, 196}};
    for (const auto& c : cases) {
        state.manualThresholdOn = c.manualOn;
        state.manualThreshold = c.manual;
        state.peakLevel = uint8_t(c.peak);
        hist->Plot();
        const QImage expected = expectedStrip(10, {{c.x, 0, "^", kYellow}});
        ASSERT_NE(expected, expectedStrip(10, {})) << "the marker must show at " << c.x;
        EXPECT_EQ(strip(shot(), 121, 10), expected) << "marker expected at " << c.x;
    }
}

TEST_F(HistwinTest, BrightestLevelAndPopulationTexts)
{
    state.peakLevel = 63;
    state.population = 123;
    hist->Plot();
    const int h = QFontMetrics(drawing.labelFont).height() + 3;
    EXPECT_EQ(strip(shot(), 0, h),
              expectedStrip(h, {{15, 3, "max :", kAmber}, {42, 3, "63", kAmber},
                                {90, 3, "Population :", kAmber}, {150, 3, "123", kAmber}}));
}

TEST_F(HistwinTest, ColumnAndRowProfilesOnALinearScaleBesideTheirAxes)
{
    state.columnCounts.fill(0);
    state.rowCounts.fill(0);
    const std::vector<std::pair<int, int>> cols = {{0, 10}, {50, 20}, {99, 5}, {20, 1}};
    const std::vector<std::pair<int, int>> rows = {{0, 3}, {99, 6}, {40, 1}};
    for (const auto& [i, n] : cols)
        state.columnCounts[i] = uint8_t(n);
    for (const auto& [i, n] : rows)
        state.rowCounts[i] = uint8_t(n);
    hist->Plot();
    const QImage img = shot();

    const std::vector<std::pair<int, int>> colHeights = {{0, 45}, {50, 90}, {99, 22}, {20, 4}, {1, 0}};
    for (const auto& [i, h] : colHeights)
        EXPECT_EQ(run(img, 105 + i, 231, 0, -1, kRed), h) << "column " << i;
    const std::vector<std::pair<int, int>> rowHeights = {{0, 45}, {99, 90}, {40, 15}, {50, 0}};
    for (const auto& [i, h] : rowHeights)
        EXPECT_EQ(run(img, 5, 131 + i, 1, 0, kRed), h) << "row " << i;
    EXPECT_EQ(count(img, QRect(0, 121, 208, 119), kRed), 45 + 90 + 22 + 4 + 45 + 90 + 15);
    // Axes of 100 pixels, their end points left out.
    EXPECT_EQ(run(img, 105, 232, 1, 0, kGrey), 100);
    EXPECT_EQ(run(img, 4, 131, 0, 1, kGrey), 100);
    EXPECT_EQ(at(img, 104, 232), QColor(Qt::black));
    EXPECT_EQ(at(img, 4, 130), QColor(Qt::black));
}

TEST_F(HistwinTest, UncoveredPanelRedrawsTheLastMeasurement)
{
    state.peakLevel = 20;
    state.greyHistogram.fill(0);
    state.greyHistogram[20] = 9;
    // No Plot: the window's own paint request composes the picture.
    const QImage img = shot();
    EXPECT_EQ(run(img, 70, 120, 0, -1, kOrange), 91);
    EXPECT_EQ(strip(img, 121, 10), expectedStrip(10, {{52, 0, "^", kYellow}}));
}

}  // namespace
