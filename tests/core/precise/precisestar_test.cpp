// The precise star against stars drawn at known sub-pixel positions: the
// simulated sky's own saturated star over a whole pixel of positions, a
// second star beside it, and the tests that call the star lost.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/capture/simsky.h"
#include "core/corerig.h"
#include "core/precise/precisestar.h"

namespace {

// A Gaussian star of this peak (0..255 per channel) at (cx, cy) over a sky
// of 20, added to the picture.
void addStar(Picture& p, double cx, double cy, double peak, double sigma = 1.6)
{
    for (int y = 0; y < Picture::height; ++y) {
        for (int x = 0; x < Picture::width; ++x) {
            const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
            const int before = int(p.at(x, y) & 0xff);
            const int v = std::clamp(int(before + peak * std::exp(-r2 / (2 * sigma * sigma))), 0, 255);
            p.at(x, y) = rgbWord(v, v, v);
        }
    }
}

Picture sky()
{
    Picture p;
    p.fill(0x141414);
    return p;
}

// The star of the region at (110, 70) with the design's threshold: the
// manual one when given, else seven levels below the brightest pixel.
PreciseStar measureGrey(const Picture& p, PreciseStarFinder& finder, int64_t nowMs = 0, int manual = -1)
{
    PreciseRegion region;
    readGreyRegion(p.view(), 110, 70, region);
    float peak = 0;
    for (float v : region.values)
        peak = std::max(peak, v);
    return finder.measure(region, chooseThreshold(manual >= 0, manual, uint8_t(peak)), nowMs);
}

}  // namespace

TEST(PreciseStar, CentroidOfTheSimulatedSkysStarIsUnbiasedAcrossAPixel)
{
    // The sky's guide star (a Moffat profile whose core saturates), still
    // and noiseless, moved through a pixel in tenths on both axes.
    double worst = 0;
    for (int i = 0; i <= 10; ++i) {
        const double fx = 160 + 0.1 * i, fy = 120 + 0.07 * i;
        CoreRig rig;
        SimulatedSky simsky(rig.state, rig.core.channel,
                            "seeing=0,drift_x=0,drift_y=0,pe_amplitude=0,noise=0,hot_pixels=0,star_x=" +
                                std::to_string(fx) + ",star_y=" + std::to_string(fy));
        ASSERT_TRUE(simsky.connect().ok);
        std::string error;
        simsky.grab(rig.state.picture, error);
        const FieldOffset truth = simsky.target(rig.clock.nowUs(), false);
        PreciseStarFinder finder;
        const PreciseStar s = measureGrey(rig.state.picture, finder);
        ASSERT_TRUE(s.found()) << starLossText(s.loss);
        worst = std::max({worst, std::fabs(s.x - truth.x), std::fabs(s.y - truth.y)});
    }
    EXPECT_LT(worst, 0.05);
    RecordProperty("worst_bias_px", std::to_string(worst));
}

TEST(PreciseStar, FaintGaussianStarWithNoiseAndAnotherStarBesideIt)
{
    // A faint unsaturated star over a noisy sky, on a manual threshold of 12
    // levels (the automatic one suits saturated stars); with a dimmer star
    // 20 px away, then with a brighter one, which is then the star.
    const double cx = 160.37, cy = 119.81;
    Picture alone = sky();
    addStar(alone, cx, cy, 160);
    for (int y = 0; y < Picture::height; ++y)
        for (int x = 0; x < Picture::width; ++x) {
            const int v = int(alone.at(x, y) & 0xff) + ((x * 7 + y * 13) % 5) - 2;
            alone.at(x, y) = rgbWord(v, v, v);
        }
    PreciseStarFinder finder;
    const PreciseStar a = measureGrey(alone, finder, 0, 12);
    ASSERT_TRUE(a.found()) << starLossText(a.loss);
    EXPECT_NEAR(a.x, cx, 0.05);
    EXPECT_NEAR(a.y, cy, 0.05);
    EXPECT_NEAR(a.background, 5, 1);  // 20 / 4 levels
    EXPECT_GT(a.mass, 0);
    EXPECT_GT(a.snr, 10);

    // A dimmer star 20 px away: the centroid does not move.
    Picture pair = alone;
    addStar(pair, cx - 14, cy + 15, 90);
    finder.resetMassHistory();
    const PreciseStar b = measureGrey(pair, finder, 0, 12);
    ASSERT_TRUE(b.found());
    EXPECT_NEAR(b.x, a.x, 0.01);
    EXPECT_NEAR(b.y, a.y, 0.01);

    // A brighter one: it becomes the star, measured without the first.
    Picture bright = sky();
    addStar(bright, cx + 22, cy, 230);
    Picture both = bright;
    addStar(both, cx, cy, 160);
    finder.resetMassHistory();
    const PreciseStar c = measureGrey(both, finder, 0, 12);
    const PreciseStar d = measureGrey(bright, finder, 0, 12);
    ASSERT_TRUE(c.found() && d.found());
    EXPECT_NEAR(c.x, cx + 22, 0.05);
    EXPECT_NEAR(c.x, d.x, 0.01);
    EXPECT_NEAR(c.y, d.y, 0.01);
}

TEST(PreciseStar, CameraValuesAreMeasuredWithTheAutomaticThreshold)
{
    // A 16-bit camera's star, far brighter than any grey level, given as the
    // camera's values of the picture; a NaN column (off the camera) reads 0.
    // The narrow one is an INDI camera's star in a 2 x 2 binned window (1.6 px
    // across at half its peak): four pixels over a quarter of its peak.
    for (const double sigma : {1.3, 0.68}) {
        std::vector<float> values(Picture::width * Picture::height, 900.0f);
        const double cx = 171.62, cy = 101.28;
        for (int y = 0; y < Picture::height; ++y)
            for (int x = 0; x < Picture::width; ++x) {
                const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                values[std::size_t(y * Picture::width + x)] += float(30000 * std::exp(-r2 / (2 * sigma * sigma)));
            }
        for (int y = 0; y < Picture::height; ++y)
            values[std::size_t(y * Picture::width + 300)] = NAN;
        PreciseRegion region;
        readValueRegion(values.data(), Picture::width, Picture::height, 120, 50, region);
        PreciseStarFinder finder;
        const PreciseStar s = finder.measure(region, std::nullopt, 0);
        ASSERT_TRUE(s.found()) << "sigma " << sigma << ": " << starLossText(s.loss);
        EXPECT_NEAR(s.x, cx, 0.03) << sigma;
        EXPECT_NEAR(s.y, cy, 0.03) << sigma;
        EXPECT_FLOAT_EQ(float(s.background), 900.0f);
        EXPECT_GE(s.population, 5);
    }
}

TEST(PreciseStar, LostWhenTooSmallTooLargeAtTheEdgeOrItsMassJumps)
{
    PreciseStarFinder finder;
    struct Case {
        const char* what;
        double x, y, peak, sigma;
        StarLoss loss;
    };
    const Case cases[] = {
        {"a hot pixel", 160, 120, 0, 0, StarLoss::TooFewPixels},
        {"a blob of over 200 pixels", 160, 120, 400, 12, StarLoss::TooManyPixels},
        {"a star on the region's left edge", 111, 120, 400, 1.6, StarLoss::AtEdge},
        {"a star just inside", 116, 120, 400, 1.6, StarLoss::None},
    };
    for (const Case& c : cases) {
        Picture p = sky();
        if (c.peak > 0)
            addStar(p, c.x, c.y, c.peak, c.sigma);
        else
            p.at(int(c.x), int(c.y)) = rgbWord(255, 255, 255);
        finder.resetMassHistory();
        EXPECT_EQ(measureGrey(p, finder).loss, c.loss) << c.what;
    }

    // The mass test: steady masses pass; half the flux or twice and a half
    // is another star or a cloud; the test needs five masses first.
    Picture steady = sky(), dim = sky(), bright = sky();
    addStar(steady, 160, 120, 120, 2.0);
    addStar(dim, 160, 120, 40, 2.0);
    addStar(bright, 160, 120, 250, 3.2);
    finder.resetMassHistory();
    EXPECT_TRUE(measureGrey(dim, finder, 0).found()) << "no history yet";
    finder.resetMassHistory();
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(measureGrey(steady, finder, i * 1000).found());
    EXPECT_EQ(measureGrey(dim, finder, 5000).loss, StarLoss::MassChange);
    EXPECT_EQ(measureGrey(bright, finder, 6000).loss, StarLoss::MassChange);
    EXPECT_TRUE(measureGrey(steady, finder, 7000).found());
    // Masses older than the window are forgotten.
    finder.massTest.add(1, 7000);
    EXPECT_EQ(finder.massTest.size(), 9u);
    finder.massTest.add(1, 5000 + MassChangeTest::kWindowMs);  // the first five drop out
    EXPECT_EQ(finder.massTest.size(), 5u);
}
