// The correction computation: scale, counts, percentages and the sign
// conventions of both output paths.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "core/guide/correction.h"
#include "core/guide/relaybox.h"

namespace {

using correction::Inputs;
using correction::Result;

// By default 100 cm focal length, 10 um pixels: one pixel of error at
// 7.5"/s is 17 counts.
Inputs optics(double raSpeed, double decSpeed, int dx, int dy, double focal = 100, double pixel = 10)
{
    Inputs in;
    in.focalLengthCm = focal;
    in.pixelSizeUm = pixel;
    in.raSpeedArcsecPerSec = raSpeed;
    in.decSpeedArcsecPerSec = decSpeed;
    in.dx = dx;
    in.dy = dy;
    return in;
}

TEST(Correction, CountsAndPercentagesOfAnErrorOfTwoAndMinusOnePixels)
{
    const Result r = correction::compute(optics(7.5, 7.5, 2, -1));
    ASSERT_TRUE(r.valid);
    EXPECT_NEAR(r.pixelScale, 2.0626, 1e-4);
    EXPECT_EQ(r.ra.count, 34);
    EXPECT_EQ(correction::percentText(r, r.ra), "53%");
    EXPECT_EQ(r.dec.count, 17);
    EXPECT_EQ(correction::percentText(r, r.dec), "26%");
}

TEST(Correction, EverySignOnBothAxesGivesRelayBytesAndPulses)
{
    struct Case { int dx, dy; bool invertRa, invertDec; RelayPair ra; int raPulse;
                  RelayPair dec; int decPulse; };
    const Case cases[] = {
        {2, -1, false, false, {0x89, 0x00}, -510, {0x46, 0x03}, 255},  // counts 34 and 17
        {-2, 1, false, false, {0x88, 0x01}, 510, {0x47, 0x02}, -255},
        {0, 0, false, false, {0x01, 0x00}, 0, {0x03, 0x02}, 0},
        // Inversion turns the direction round; the count stays.
        {2, -1, true, true, {0x88, 0x01}, 510, {0x47, 0x02}, -255},
        {-2, 1, true, true, {0x89, 0x00}, -510, {0x46, 0x03}, 255},
        {0, 0, true, true, {0x01, 0x00}, 0, {0x03, 0x02}, 0},
        // Each option acts on its own axis only.
        {-2, -1, true, false, {0x89, 0x00}, -510, {0x46, 0x03}, 255},
        {-2, -1, false, true, {0x88, 0x01}, 510, {0x47, 0x02}, -255},
    };
    for (const Case& c : cases) {
        Inputs in = optics(7.5, 7.5, c.dx, c.dy);
        in.invertRa = c.invertRa;
        in.invertDec = c.invertDec;
        const Result r = correction::compute(in);
        SCOPED_TRACE(::testing::Message() << "dx " << c.dx << " dy " << c.dy << " invert "
                                          << c.invertRa << c.invertDec);
        EXPECT_EQ(relayCorrectionPair(r.ra.relayCode, r.ra.count), c.ra);
        EXPECT_EQ(r.ra.pulseMs, c.raPulse);
        EXPECT_EQ(relayCorrectionPair(r.dec.relayCode, r.dec.count), c.dec);
        EXPECT_EQ(r.dec.pulseMs, c.decPulse);
    }
}

TEST(Correction, DefaultSpeedsCountsAndSaturation)
{
    // The settings' default speeds: 12"/s for AD, 14"/s for DEC.
    struct Case { int dx, dy, raCount, decCount; bool raSaturated; } cases[] = {
        {3, 3, 32, 27, false},
        {6, 0, 63, 0, true},  // 64.97 counts clamped
        {100000, -100000, 63, 63, true},
        {INT_MIN, INT_MAX, 63, 63, true},
    };
    for (const Case& c : cases) {
        const Result r = correction::compute(optics(12, 14, c.dx, c.dy));
        SCOPED_TRACE(::testing::Message() << "dx " << c.dx << " dy " << c.dy);
        EXPECT_EQ(r.ra.count, c.raCount);
        EXPECT_EQ(r.dec.count, c.decCount);
        EXPECT_EQ(r.ra.saturated, c.raSaturated);
        EXPECT_EQ(correction::percentText(r, r.ra), c.raSaturated ? "100%" : "50%");
        if (c.raSaturated) {
            EXPECT_EQ(std::abs(r.ra.pulseMs), 945);
        }
    }
}

TEST(Correction, CountsSaturateAt63AndPercentagesTruncate)
{
    EXPECT_EQ(correction::pulseCount(1, 62.5f), 62);
    EXPECT_EQ(correction::pulseCount(-1, 63.0f), 63);
    EXPECT_EQ(correction::pulseCount(0, 1e30f), 0);
    EXPECT_EQ(correction::pulseCount(2, std::numeric_limits<float>::infinity()), 63);
    EXPECT_EQ(correction::countPercent(16), 25);
    EXPECT_EQ(correction::countPercent(62), 98);
}

TEST(Correction, InhibitsHoldBackOnlyTheLedPulseOfTheirDirection)
{
    struct Case { int dy; bool invertDec, plus, minus, timedPulse; } cases[] = {
        {-1, false, true, false, false},  // DEC+ (error below zero) inhibited
        {-1, false, false, true, true},
        {1, false, false, true, false},   // DEC- inhibited
        {0, false, false, true, false},   // zero counts as DEC-
        {1, false, true, false, true},
        {1, true, true, false, false},    // after inversion the error is below zero
        {-1, true, false, true, false},
    };
    for (const Case& c : cases) {
        Inputs in = optics(7.5, 7.5, 0, c.dy);
        in.invertDec = c.invertDec;
        in.inhibitDecPlus = c.plus;
        in.inhibitDecMinus = c.minus;
        const Result r = correction::compute(in);
        SCOPED_TRACE(::testing::Message() << "dy " << c.dy << " invertDec " << c.invertDec
                                          << " plus " << c.plus << " minus " << c.minus);
        EXPECT_EQ(r.dec.timedPulse, c.timedPulse);
        EXPECT_TRUE(r.ra.timedPulse);
    }
}

TEST(Correction, UnusableOpticsSendNothingOnEitherAxis)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case { double focal, pixel, ra, dec; } cases[] = {
        {0, 10, 7.5, 7.5},    {-100, 10, 7.5, 7.5}, {nan, 10, 7.5, 7.5},
        {100, 10, 0, 7.5},    {100, 10, -7.5, 7.5}, {100, 10, nan, 7.5},
        {100, 10, 7.5, 0},    {100, 10, 7.5, -1},   {100, 10, 7.5, nan},
        {100, nan, 7.5, 7.5}, {100, -10, 7.5, 7.5},
        {100, 10, 1e-300, 7.5}, {100, 10, 7.5, 1e-300},  // gains beyond any float
    };
    for (const Case& c : cases) {
        const Result r = correction::compute(optics(c.ra, c.dec, 2, -1, c.focal, c.pixel));
        SCOPED_TRACE(::testing::Message() << c.focal << " " << c.pixel << " " << c.ra << " " << c.dec);
        EXPECT_FALSE(r.valid);
        EXPECT_FALSE(r.ra.timedPulse);
        EXPECT_FALSE(r.dec.timedPulse);
        EXPECT_EQ(r.ra.count + r.dec.count, 0);
        EXPECT_EQ(correction::percentText(r, r.ra), "--");
        EXPECT_EQ(correction::percentText(r, r.dec), "--");
    }
}

}  // namespace
