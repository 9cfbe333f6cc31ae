// The graph of a guiding section, checked by its pixels and its text: the
// curves where the rows put them (sign, proportion, time), a gap and a tick
// for a dropped frame, a pulse bar on the side of the error it corrects, and
// the figures of the title; the pictures written as a person asks for them.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>

#include <cmath>
#include <cstdlib>
#include <map>
#include <string>

#include "plot/guideplot.h"
#include "testsupport.h"

namespace {

// RA +2 px for t = 0..4 s, then -2 px to t = 19 s; DEC +1 px throughout; the
// frame at t = 12 s dropped; a 300 ms West pulse at t = 15 s. No image scale.
GuideLogSection stepSection()
{
    GuideLogSection s;
    s.begins = "2026-12-07 21:30:00";
    for (int t = 0; t < 20; ++t) {
        LoggedFrame f;
        f.frame = t + 1;
        f.timeS = t;
        f.dropped = t == 12;
        f.raPx = t < 5 ? 2.0 : -2.0;
        f.decPx = 1.0;
        if (t == 15) {
            f.raMs = 300;
            f.raDirection = 'W';
        }
        s.frames.push_back(f);
    }
    return s;
}

int distance(QRgb p, QRgb c)
{
    return std::abs(qRed(p) - qRed(c)) + std::abs(qGreen(p) - qGreen(c)) + std::abs(qBlue(p) - qBlue(c));
}

// Mean row of the pixels of colour c in each column that has any.
std::map<int, double> rowsOf(const QImage& img, QRgb c)
{
    std::map<int, double> rows;
    for (int x = 0; x < img.width(); ++x) {
        double sum = 0;
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            if (distance(img.pixel(x, y), c) < 40)
                sum += y, ++n;
        if (n > 0)
            rows[x] = sum / n;
    }
    return rows;
}

TEST(GuidePlot, CurvesPulsesAndDropsLieWhereTheRowsPutThem)
{
    TempDir dir;
    const GuideLogSection s = stepSection();
    const std::string png = dir.file("g.png");
    ASSERT_EQ(writeGuidePlot(png, s, guidePlotText(s, 1, 1)), "");
    const QImage img(QString::fromStdString(png));
    ASSERT_EQ(img.size(), QSize(1200, 600));

    const std::map<int, double> ra = rowsOf(img, qRgb(30, 90, 210));
    const std::map<int, double> dec = rowsOf(img, qRgb(210, 40, 30));
    ASSERT_GT(ra.size(), 500u);
    const int left = ra.begin()->first, right = ra.rbegin()->first;
    auto xAt = [&](double t) { return left + (right - left) * t / 19.0; };

    // RA +2 before t = 4.5 s, -2 after; the zero line halfway; DEC +1 halfway
    // between zero and +2, and above zero: positive is up.
    const double up = ra.at(int(xAt(2))), down = ra.at(int(xAt(8)));
    const double zero = (up + down) / 2;
    EXPECT_LT(up, down - 50);
    EXPECT_NEAR(dec.at(int(xAt(8))), (zero + up) / 2, 1.5);
    int crossing = left;
    for (const auto& [x, y] : ra)
        if (y < zero)
            crossing = x;
    EXPECT_NEAR(crossing, xAt(4.5), 3);

    // The dropped frame at t = 12: a gap in both curves, an orange tick.
    for (int x = int(xAt(11)) + 3; x < int(xAt(13)) - 3; ++x) {
        EXPECT_EQ(ra.count(x), 0u) << x;
        EXPECT_EQ(dec.count(x), 0u) << x;
    }
    const std::map<int, double> ticks = rowsOf(img, qRgb(240, 140, 0));
    const auto tick = ticks.lower_bound(int(xAt(12)) - 2);
    ASSERT_NE(tick, ticks.end());
    EXPECT_NEAR(tick->first, xAt(12), 3);
    EXPECT_GT(tick->second, down);  // at the bottom, under the curves

    // The West pulse at t = 15: a bar above the zero line, reaching no lower.
    int barTop = img.height(), barBottom = 0;
    for (int x = int(xAt(15)) - 12; x <= int(xAt(15)); ++x)
        for (int y = 0; y < img.height(); ++y)
            if (distance(img.pixel(x, y), qRgb(150, 185, 245)) < 20)
                barTop = std::min(barTop, y), barBottom = std::max(barBottom, y);
    EXPECT_LT(barTop, zero - 20);
    EXPECT_NEAR(barBottom, zero, 2);
}

TEST(GuidePlot, TitleCarriesTheSectionAndItsFigures)
{
    TempDir dir;
    GuideLogSection s = stepSection();
    // RA: 5 x +2 and 14 x -2 (one dropped): mean -18/19, RMS about it 1.76,
    // peak 2; DEC constant: RMS 0, peak 1. Pixels, the scale being unknown.
    const std::string svg = dir.file("g.svg");
    ASSERT_EQ(writeGuidePlot(svg, s, guidePlotText(s, 2, 3)), "");
    const std::string text = readFile(svg);
    EXPECT_NE(text.find("Guiding section 2 of 3, begun 2026-12-07 21:30:00: 20 frames, 1 dropped"), std::string::npos);
    EXPECT_NE(text.find("RA RMS 1.76 px, peak 2.00 px    DEC RMS 0.00 px, peak 1.00 px    total RMS 1.76 px"),
              std::string::npos);

    // With an image scale of 1.5"/px the same rows read in arcseconds.
    s.pixelScale = 1.5;
    const GuidePlotText t = guidePlotText(s, 1, 1);
    EXPECT_EQ(t.figures.toStdString(), "RA RMS 2.64\", peak 3.00\"    DEC RMS 0.00\", peak 1.50\"    total RMS 2.64\"");

    s.frames.clear();
    EXPECT_EQ(guidePlotText(s, 1, 1).figures.toStdString(), "no measured frame");
}

TEST(GuidePlot, WritesOnlyPicturesItCanAndNeverHalfAFile)
{
    TempDir dir;
    const GuideLogSection s = stepSection();
    const GuidePlotText t = guidePlotText(s, 1, 1);
    EXPECT_NE(writeGuidePlot(dir.file("g.jpg"), s, t).find(".png or .svg"), std::string::npos);
    const std::string missing = writeGuidePlot(dir.file("no/such/dir/g.png"), s, t);
    EXPECT_NE(missing.find("cannot write"), std::string::npos);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir.file("no/such/dir/g.png"))));

    EXPECT_EQ(numberedPlotPath("guide.png", 2), "guide-2.png");
    EXPECT_EQ(numberedPlotPath("night.v2/g.svg", 10), "night.v2/g-10.svg");
    EXPECT_EQ(numberedPlotPath("dir.d/plot", 3), "dir.d/plot-3");
}

// Found by fuzzing (tests/fuzz/corpus/plot/crash-*): a row at 1e20 s left
// the time axis without a span (a second is lost in the rounding of such a
// time), and its ticks stepped for ever; a distance that overflows with the
// image scale left the distance axis without a finite extent. Both graphs
// are drawn.
TEST(GuidePlot, TimesAndDistancesBeyondAnyNightAreStillDrawn)
{
    TempDir dir;
    GuideLogSection late = stepSection();
    late.frames.resize(1);
    late.frames[0].timeS = 1e20;
    ASSERT_EQ(writeGuidePlot(dir.file("late.png"), late, guidePlotText(late, 1, 1)), "");
    EXPECT_FALSE(QImage(QString::fromStdString(dir.file("late.png"))).isNull());

    GuideLogSection far = stepSection();
    far.pixelScale = 10;
    far.frames[3].raPx = 1e308;
    ASSERT_EQ(writeGuidePlot(dir.file("far.png"), far, guidePlotText(far, 1, 1)), "");
    EXPECT_FALSE(QImage(QString::fromStdString(dir.file("far.png"))).isNull());
}

}  // namespace
