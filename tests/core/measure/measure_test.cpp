// The star measurement: threshold, pixel pass, dark frame, dark-spot mode,
// counts, centroid and tracking gate, and regions that leave the picture.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <random>

#include "core/measure/measure.h"
#include "core/corerig.h"

namespace {

// The palette grey of a level reads back as that level.
uint32_t grey(int level) { return rgbWord(4 * level + 3, 4 * level + 3, 4 * level + 3); }

class Measure : public ::testing::Test {
protected:
    std::unique_ptr<CoreRig> rig = std::make_unique<CoreRig>();
    SharedState& state = rig->state;
    StarAnalysis* analysis = &rig->core.session.analysis;

    // Sets a pixel by its position inside the region.
    void region(int cx, int cy, int level) { state.picture.at(state.regionX + cx, state.regionY + cy) = grey(level); }
    void measure() { rig->core.session.measureCycle(state.picture.view()); }
    void manual(int threshold)
    {
        state.manualThresholdOn = true;
        state.manualThreshold = threshold;
    }
};

}  // namespace

TEST_F(Measure, ThresholdFollowsPreviousPeakOrManualValue)
{
    const struct {
        bool manual;
        int manualValue, previousPeak, threshold;
    } cases[] = {
        {false, 32, 0, 0}, {false, 32, 7, 0}, {false, 32, 8, 1},  {false, 32, 63, 56},
        {true, 63, 0, 63}, {true, 0, 63, 0},  {true, 300, 10, 44},  // low byte of 300
    };
    state.picture.fill(0xffffff);  // level 63 everywhere
    for (const auto& c : cases) {
        state.manualThresholdOn = c.manual;
        state.manualThreshold = c.manualValue;
        state.peakLevel = uint8_t(c.previousPeak);
        measure();
        EXPECT_EQ(state.detectionThreshold, c.threshold) << c.previousPeak;
        EXPECT_EQ(state.peakLevel, 63);
        EXPECT_EQ(state.population, c.threshold == 63 ? 0 : 10000);
    }
}

TEST_F(Measure, BlackPictureHasNoStarAndCentroidAtRegionCentre)
{
    // Results of an earlier measurement must not survive.
    state.peakLevel = 20;
    state.greyHistogram[5] = 7;
    state.columnCounts[3] = 4;
    measure();
    EXPECT_EQ(state.population, 0);
    EXPECT_EQ(state.peakLevel, 0);
    EXPECT_EQ(state.greyHistogram[0], 10000);
    EXPECT_EQ(state.greyHistogram[5], 0);
    EXPECT_EQ(state.columnCounts, (std::array<uint8_t, 100>{}));
    EXPECT_EQ(std::make_pair(state.centroidX, state.centroidY), std::make_pair(50, 50));
}

TEST_F(Measure, ZoomFrameIsBottomUpAndCountsIndexTheRegion)
{
    state.regionX = 37;
    state.regionY = 11;
    region(0, 0, 20);    // top-left
    region(99, 99, 40);  // bottom-right
    region(5, 99, 30);
    state.picture.at(36, 11) = grey(63);   // just left of the region
    state.picture.at(37, 111) = grey(63);  // just below it
    manual(25);
    measure();
    EXPECT_EQ(analysis->zoomFrame[99 * 100 + 0], 20);
    EXPECT_EQ(analysis->zoomFrame[0 * 100 + 99], 40);
    EXPECT_EQ(analysis->zoomFrame[5], 30);
    EXPECT_EQ(state.peakLevel, 40);
    EXPECT_EQ(state.population, 2);
    EXPECT_EQ(state.columnCounts[99], 1);
    EXPECT_EQ(state.columnCounts[5], 1);
    EXPECT_EQ(state.rowCounts[99], 2);
    EXPECT_EQ(state.rowCounts[0], 0);
    EXPECT_EQ(state.greyHistogram[20], 1);
    EXPECT_EQ(state.greyHistogram[63], 0);
}

TEST_F(Measure, GreyLevelsOfColours)
{
    const struct {
        uint32_t rgb;
        int level;
    } cases[] = {{rgbWord(255, 255, 255), 63}, {rgbWord(19, 0, 0), 0}, {rgbWord(0, 10, 0), 1},
                 {rgbWord(0, 0, 30), 3},       {rgbWord(255, 0, 0), 12}, {rgbWord(100, 50, 200), 30}};
    for (const auto& c : cases) {
        state.picture.fill(c.rgb);
        measure();
        EXPECT_EQ(state.greyHistogram[c.level], 10000) << std::hex << c.rgb;
    }
    // Every pixel of a random picture, whole rows and clipped ones alike.
    std::mt19937 rng(7);
    for (auto& px : state.picture.bits)
        px = 0xff000000u | (rng() & 0xffffff);
    for (auto [x, y] : {std::pair{110, 70}, {250, 170}}) {
        state.regionX = x;
        state.regionY = y;
        measure();
        for (int r = 0; r < 100; ++r)
            for (int c = 0; c < 100; ++c) {
                const bool inside = x + c < 320 && y + r < 240;
                const int expected = inside ? greyLevel(state.picture.at(x + c, y + r)) : 0;
                ASSERT_EQ(analysis->zoomFrame[(99 - r) * 100 + c], expected) << c << "," << r;
            }
    }
}

TEST_F(Measure, DarkSpotModeInvertsTheLevels)
{
    state.picture.fill(0xffffff);
    region(40, 60, 0);
    state.params->darkSpotGuiding = 1;
    measure();
    EXPECT_EQ(state.greyHistogram[0], 9999);
    EXPECT_EQ(state.greyHistogram[63], 1);
    EXPECT_EQ(analysis->zoomFrame[(99 - 60) * 100 + 40], 63);
    measure();  // threshold 56 from the previous peak
    EXPECT_EQ(state.population, 1);
    EXPECT_EQ(std::make_pair(state.centroidX, state.centroidY), std::make_pair(40, 60));

    state.params->darkSpotGuiding = 2;  // only 1 means dark-spot guiding
    measure();
    EXPECT_EQ(state.greyHistogram[63], 9999);
}

TEST_F(Measure, DarkFrameSubtractsOnTheSamePicturePixels)
{
    // Dark frame: level 20 everywhere, a hot pixel of 45 at (150, 100).
    state.picture.fill(grey(20) & 0xffffff);
    state.picture.at(150, 100) = grey(45);
    analysis->CaptureDark(state.picture.view());
    analysis->useDarkFrame = true;

    // Live: the same, one pixel 10 above its dark level, one below it.
    state.picture.at(160, 110) = grey(30);
    state.picture.at(161, 110) = grey(5);
    for (auto [rx, ry] : {std::pair{110, 70}, {61, 11}, {150, 100}}) {
        state.regionX = rx;
        state.regionY = ry;
        measure();
        EXPECT_EQ(state.greyHistogram[10], 1) << rx;
        EXPECT_EQ(state.greyHistogram[0], 9999) << rx;
        EXPECT_EQ(state.peakLevel, 10);
        EXPECT_EQ(analysis->zoomFrame[(99 - (110 - ry)) * 100 + (160 - rx)], 10);
    }
}

TEST_F(Measure, CentroidOfTheTwelveCountsAroundThePeak)
{
    manual(10);
    const struct {
        const char* what;
        std::vector<std::pair<int, int>> columns;  // index, count of star pixels
        int centroid;
    } cases[] = {
        {"2,5,9,5,1 at 48..52", {{48, 2}, {49, 5}, {50, 9}, {51, 5}, {52, 1}}, 49},
        {"tie: the left column wins", {{30, 3}, {60, 3}}, 30},
        {"peak at 6: the peak itself", {{6, 5}, {5, 3}}, 6},
        {"peak at 7: twelve-term mean", {{7, 5}, {6, 3}}, 6},
        {"peak at 93: twelve-term mean", {{93, 5}, {92, 3}}, 92},
        {"peak at 94: the peak itself", {{94, 5}, {93, 3}}, 94},
        {"p-6 counts", {{50, 9}, {44, 3}}, 48},
        {"p+6 does not", {{50, 9}, {56, 3}}, 50},
        {"object 20 columns away", {{20, 4}, {40, 9}, {41, 6}}, 40},
    };
    for (const auto& c : cases) {
        state.picture.fill(0);
        int total = 0;
        for (auto [index, count] : c.columns) {
            for (int i = 0; i < count; ++i)
                region(index, 30 + i, 50);
            total += count;
        }
        measure();
        EXPECT_EQ(state.centroidX, c.centroid) << c.what;
        EXPECT_EQ(state.population, total) << c.what;
    }
    // Rows use the same rule: 9 star pixels on region row 50, 5 on row 49.
    state.picture.fill(0);
    for (int i = 0; i < 9; ++i) {
        region(10 + i, 50, 50);
        if (i < 5)
            region(10 + i, 49, 50);
    }
    measure();
    EXPECT_EQ(state.rowCounts[50], 9);
    EXPECT_EQ(state.centroidY, 49);  // (49*5 + 50*9) / 14 = 49.6
}

TEST_F(Measure, TrackingGateAtFiveAndTwoHundred)
{
    manual(10);
    state.referenceX = state.regionX + 70;
    state.referenceY = state.regionY + 80;
    for (const auto& [population, tracking, replaced] : std::vector<std::tuple<int, bool, bool>>{
             {0, true, true}, {4, true, true}, {5, true, false}, {200, true, false},
             {201, true, true}, {201, false, false}, {4, false, false}}) {
        state.trackingOn = tracking;
        state.picture.fill(0);
        for (int i = 0; i < population; ++i)
            region(20 + i % 40, 10 + i / 40, 50);
        measure();
        ASSERT_EQ(state.population, population);
        EXPECT_EQ(state.centroidX == 70 && state.centroidY == 80, replaced) << population << tracking;
    }
}

TEST_F(Measure, RegionOutsideThePictureReadsLevelZero)
{
    // White picture and dark frame of level 10: inside pixels measure 53,
    // pixels off the picture 0 (63 in dark-spot mode, where subtraction
    // comes before inversion: 63 - 53 = 10 inside).
    state.picture.fill(grey(10) & 0xffffff);
    analysis->CaptureDark(state.picture.view());
    state.picture.fill(0xffffff);
    const struct {
        int x, y;
        int inside;
    } cases[] = {{270, 190, 50 * 50}, {-50, -30, 50 * 70}, {-99, 239, 1},    {319, -99, 1},
                 {-100, 70, 0},       {320, 70, 0},        {1000, 1000, 0}, {INT_MIN, INT_MIN, 0},
                 {INT_MAX, 0, 0},     {0, INT_MAX, 0},     {220, 140, 10000}};
    for (int mode = 0; mode < 4; ++mode) {
        analysis->useDarkFrame = mode & 1;
        state.params->darkSpotGuiding = mode >> 1;
        const int insideLevel = analysis->useDarkFrame ? 53 : 63;
        const int in = state.params->darkSpotGuiding ? 63 - insideLevel : insideLevel;
        const int out = state.params->darkSpotGuiding ? 63 : 0;
        for (const auto& c : cases) {
            state.regionX = c.x;
            state.regionY = c.y;
            measure();
            EXPECT_EQ(state.greyHistogram[in], c.inside) << c.x << "," << c.y << " mode " << mode;
            EXPECT_EQ(state.greyHistogram[out], 10000 - c.inside) << c.x << "," << c.y << " mode " << mode;
        }
    }
    // Region at (-50, -30): zoom column 49 is off the picture, 50 is x = 0.
    state.regionX = -50;
    state.regionY = -30;
    measure();
    EXPECT_EQ(analysis->zoomFrame[0 * 100 + 49], 63);
    EXPECT_EQ(analysis->zoomFrame[0 * 100 + 50], 10);
    EXPECT_EQ(analysis->zoomFrame[70 * 100 + 50], 63);  // row y = -1
}

TEST_F(Measure, ReadsThroughTheRowStride)
{
    // A 320 x 240 view over a wider buffer, and a smaller view for the dark
    // frame: nothing is read beyond either.
    std::vector<uint32_t> wide(400 * 240, grey(0));
    wide[100 * 400 + 300] = grey(40);
    wide[100 * 400 + 330] = grey(60);  // beyond the view's width
    state.regionX = 250;
    rig->core.session.measureCycle(PixelView{wide.data(), 320, 240, 400});
    EXPECT_EQ(state.peakLevel, 40);
    EXPECT_EQ(analysis->zoomFrame[(99 - 30) * 100 + 50], 40);
    EXPECT_EQ(state.greyHistogram[0], 9999);

    std::vector<uint32_t> small(20 * 10, grey(7));
    analysis->darkFrame.fill(99);
    analysis->CaptureDark(PixelView{small.data(), 20, 10, 20});
    EXPECT_EQ(analysis->darkFrame[9 * 320 + 19], 7);
    EXPECT_EQ(analysis->darkFrame[9 * 320 + 20], 0);
    EXPECT_EQ(analysis->darkFrame[239 * 320 + 319], 0);
}
