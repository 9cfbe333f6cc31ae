// The grey stretch: the manual line between black and white, and automatic
// levels that turn a star on a noisy sky into what the measurement tracks.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/indi/stretch.h"
#include "core/measure/measure.h"

namespace {

constexpr int W = Picture::width, H = Picture::height;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

int greyAt(const Picture& p, int i)
{
    return int(p.bits[size_t(i)] & 0xff);
}

// Sky at 1000 ADU with 0..9 ADU of noise (a fixed pseudo-random sequence), a
// Gaussian star of peak `peak` and FWHM 3 px at (starX, starY).
std::vector<float> starField(float peak, int starX, int starY)
{
    std::vector<float> v(size_t(W * H));
    uint32_t seed = 12345;
    const double sigma = 3.0 / 2.3548;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            seed = seed * 1103515245u + 12345u;
            const double r2 = double((x - starX) * (x - starX) + (y - starY) * (y - starY));
            v[size_t(y * W + x)] = float(1000 + (seed >> 16) % 10 + peak * std::exp(-r2 / (2 * sigma * sigma)));
        }
    return v;
}

}  // namespace

TEST(Stretch, ManualLevelsMapValuesOnAStraightLineClippedAtBothEnds)
{
    struct Case {
        float black, white, value;
        int grey;
    } cases[] = {
        {100, 200, 50, 0},   {100, 200, 100, 0},   {100, 200, 150, 128},  // 127.5 rounds up
        {100, 200, 125, 64}, {100, 200, 199, 252}, {100, 200, 200, 255},
        {100, 200, 1e9f, 255}, {100, 200, kNaN, 0},
        {0, 65535, 65535, 255}, {0, 65535, 257, 1},
        {200, 200, 201, 255}, {200, 200, 200, 0},  // no span: above black is white
        {300, 200, 250, 0},   {300, 200, 301, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.black << ".." << c.white << " value " << c.value);
        Picture p;
        stretchToPicture(std::vector<float>(size_t(W * H), c.value), {c.black, c.white}, p);
        EXPECT_EQ(p.bits[0], rgbWord(c.grey, c.grey, c.grey));
    }
}

TEST(Stretch, AutomaticLevelsShowAStarTheMeasurementCanTrack)
{
    // From a faint star to a bright one: the sky stays dark, the core
    // saturates over more than the 5 pixels the tracking gate asks for and
    // fewer than its 200, and the measurement finds it where it is.
    for (float peak : {200.0f, 1000.0f, 5000.0f, 60000.0f}) {
        SCOPED_TRACE(peak);
        const std::vector<float> values = starField(peak, 150, 100);
        const StretchLevels levels = autoStretchLevels(values);
        EXPECT_NEAR(levels.black, 1004.5f, 1.0f);                      // the sky's median
        EXPECT_NEAR(levels.white - levels.black, 16 * 1.4826f * 2.5f, 16 * 1.4826f * 0.6f);  // 16 sigma
        Picture p;
        stretchToPicture(values, levels, p);

        int brightestSky = 0;
        for (int i = 0; i < W * H; ++i)
            if (std::abs(i % W - 150) > 8 || std::abs(i / W - 100) > 8)
                brightestSky = std::max(brightestSky, greyAt(p, i));
        EXPECT_LT(greyLevel(rgbWord(brightestSky, brightestSky, brightestSky)), 20);

        StarAnalysis analysis;
        MeasureInputs in;
        in.regionX = 100;
        in.regionY = 50;
        Measurement m = analysis.measure(p.view(), in);
        in.threshold = chooseThreshold(false, 0, m.peakLevel);
        m = analysis.measure(p.view(), in);
        EXPECT_EQ(m.peakLevel, 63);
        EXPECT_GE(m.population, 5);
        EXPECT_LE(m.population, 200);
        EXPECT_NEAR(in.regionX + m.centroidX, 150, 1);
        EXPECT_NEAR(in.regionY + m.centroidY, 100, 1);
    }
}

TEST(Stretch, AutomaticLevelsIgnoreTheBandsAndSurviveFlatPictures)
{
    // Half the picture outside the frame (NaN) does not drag black down.
    std::vector<float> values = starField(1000, 150, 100);
    for (size_t i = 0; i < values.size(); i += 2)
        values[i] = kNaN;
    EXPECT_NEAR(autoStretchLevels(values).black, 1004.5f, 1.0f);

    struct Case {
        const char* what;
        std::vector<float> values;
        float black, white;
    } cases[] = {
        {"flat", std::vector<float>(size_t(W * H), 7.0f), 7, 8},
        {"nothing but bands", std::vector<float>(size_t(W * H), kNaN), 0, 1},
        {"no noise, one bright pixel", [] {
             std::vector<float> v(size_t(W * H), 50.0f);
             v[1000] = 90.0f;
             return v;
         }(), 50, 90},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const StretchLevels l = autoStretchLevels(c.values);
        EXPECT_EQ(l.black, c.black);
        EXPECT_EQ(l.white, c.white);
    }
}
