// The correction computation: scale, gains, counts, percentages and the sign
// conventions of both output paths.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "guiding/correction.h"
#include "guiding/relaybox.h"

namespace {

using correction::Inputs;
using correction::Result;

// The optics of the worked example: 100 cm focal length, 10 um pixels.
Inputs optics(double raSpeed, double decSpeed, int dx, int dy)
{
    Inputs in;
    in.focalLengthCm = 100;
    in.pixelSizeUm = 10;
    in.raSpeedArcsecPerSec = raSpeed;
    in.decSpeedArcsecPerSec = decSpeed;
    in.dx = dx;
    in.dy = dy;
    return in;
}

TEST(Correction, WorkedExampleGivesCountsBytesAndPulses)
{
    const Result r = correction::compute(optics(7.5, 7.5, 2, -1));
    ASSERT_TRUE(r.valid);
    EXPECT_NEAR(r.pixelScale, 2.0626, 1e-4);
    EXPECT_NEAR(r.raGain, 17.326, 1e-3);
    EXPECT_NEAR(r.decGain, 17.326, 1e-3);

    EXPECT_EQ(r.ra.count, 34);
    EXPECT_EQ(correction::percentText(r, r.ra), "53%");
    EXPECT_EQ(r.dec.count, 17);
    EXPECT_EQ(correction::percentText(r, r.dec), "26%");

    EXPECT_EQ(relayCorrectionPair(r.ra.relayCode, r.ra.count), (RelayPair{0x89, 0x00}));
    EXPECT_EQ(relayCorrectionPair(r.dec.relayCode, r.dec.count), (RelayPair{0x46, 0x03}));
    EXPECT_EQ(r.ra.pulseMs, -510);
    EXPECT_EQ(r.dec.pulseMs, 255);
    EXPECT_TRUE(r.ra.ledPulse);
    EXPECT_TRUE(r.dec.ledPulse);
}

TEST(Correction, EverySignOnBothAxesWithAndWithoutInversion)
{
    // One pixel of error is 17 counts with these optics.
    struct Case {
        int dx, dy;
        bool invertRa, invertDec;
        int raCode, raPulse, decCode, decPulse;
    } cases[] = {
        {2, -1, false, false, RelayEast, -510, RelayNorth, 255},
        {-2, 1, false, false, RelayWest, 510, RelaySouth, -255},
        {0, 0, false, false, RelayEast, 0, RelaySouth, 0},
        // Inversion turns the direction round; the count stays.
        {2, -1, true, true, RelayWest, 510, RelaySouth, -255},
        {-2, 1, true, true, RelayEast, -510, RelayNorth, 255},
        {0, 0, true, true, RelayEast, 0, RelaySouth, 0},
        // Each option acts on its own axis only.
        {-2, -1, true, false, RelayEast, -510, RelayNorth, 255},
        {-2, -1, false, true, RelayWest, 510, RelaySouth, -255},
    };
    for (const Case& c : cases) {
        Inputs in = optics(7.5, 7.5, c.dx, c.dy);
        in.invertRa = c.invertRa;
        in.invertDec = c.invertDec;
        const Result r = correction::compute(in);
        SCOPED_TRACE(::testing::Message() << "dx " << c.dx << " dy " << c.dy << " invertRa "
                                          << c.invertRa << " invertDec " << c.invertDec);
        EXPECT_EQ(r.ra.relayCode, c.raCode);
        EXPECT_EQ(r.ra.pulseMs, c.raPulse);
        EXPECT_EQ(r.dec.relayCode, c.decCode);
        EXPECT_EQ(r.dec.pulseMs, c.decPulse);
    }
}

TEST(Correction, ZeroErrorSendsClosingPairsAndZeroPercent)
{
    const Result r = correction::compute(optics(7.5, 7.5, 0, 0));
    EXPECT_EQ(relayCorrectionPair(r.ra.relayCode, r.ra.count), (RelayPair{0x01, 0x00}));
    EXPECT_EQ(relayCorrectionPair(r.dec.relayCode, r.dec.count), (RelayPair{0x03, 0x02}));
    EXPECT_EQ(correction::percentText(r, r.ra), "0%");
    EXPECT_EQ(correction::percentText(r, r.dec), "0%");
    EXPECT_FALSE(r.ra.saturated);
}

TEST(Correction, DefaultSpeedsCountsAndSaturation)
{
    // The settings' default speeds: 12"/s for AD, 14"/s for DEC.
    struct Case {
        int dx, dy;
        int raCount, decCount;
        bool raSaturated;
    } cases[] = {
        {3, 3, 32, 27, false},
        {6, 0, 63, 0, true},          // 64.97 counts clamped
        {-6, 0, 63, 0, true},
        {100000, -100000, 63, 63, true},
        {INT_MIN, INT_MAX, 63, 63, true},
    };
    for (const Case& c : cases) {
        const Result r = correction::compute(optics(12, 14, c.dx, c.dy));
        SCOPED_TRACE(::testing::Message() << "dx " << c.dx << " dy " << c.dy);
        EXPECT_NEAR(r.raGain, 10.829, 1e-3);
        EXPECT_NEAR(r.decGain, 9.282, 1e-3);
        EXPECT_EQ(r.ra.count, c.raCount);
        EXPECT_EQ(r.dec.count, c.decCount);
        EXPECT_EQ(r.ra.saturated, c.raSaturated);
        if (c.raSaturated) {
            EXPECT_EQ(correction::percentText(r, r.ra), "100%");
            EXPECT_EQ(std::abs(r.ra.pulseMs), 945);
            EXPECT_EQ(relayCorrectionPair(r.ra.relayCode, r.ra.count).command & 0xFC, 0xFC);
        }
    }
}

TEST(Correction, CountJustBelowTheLimitIsNotSaturated)
{
    // 1 px of error at a gain of 62.5 counts per pixel: 62 counts.
    EXPECT_EQ(correction::pulseCount(1, 62.5f), 62);
    EXPECT_EQ(correction::pulseCount(-1, 63.0f), 63);
    EXPECT_EQ(correction::pulseCount(0, 1e30f), 0);
    EXPECT_EQ(correction::pulseCount(2, std::numeric_limits<float>::infinity()), 63);

    // Percentages are truncated.
    EXPECT_EQ(correction::countPercent(16), 25);
    EXPECT_EQ(correction::countPercent(62), 98);
    EXPECT_EQ(correction::countPercent(63), 100);
}

TEST(Correction, InhibitsHoldBackOnlyTheLedPulseOfTheirDirection)
{
    struct Case {
        int dy;
        bool invertDec, plus, minus;
        bool ledPulse;
    } cases[] = {
        {-1, false, true, false, false},   // DEC+ (error below zero) inhibited
        {-1, false, false, true, true},
        {1, false, false, true, false},    // DEC- inhibited
        {0, false, false, true, false},    // zero counts as DEC-
        {1, false, true, false, true},
        {1, true, true, false, false},     // after inversion the error is below zero
        {-1, true, false, true, false},
        {-1, false, false, false, true},
    };
    for (const Case& c : cases) {
        Inputs in = optics(7.5, 7.5, 0, c.dy);
        in.invertDec = c.invertDec;
        in.inhibitDecPlus = c.plus;
        in.inhibitDecMinus = c.minus;
        const Result r = correction::compute(in);
        SCOPED_TRACE(::testing::Message() << "dy " << c.dy << " invertDec " << c.invertDec
                                          << " plus " << c.plus << " minus " << c.minus);
        EXPECT_EQ(r.dec.ledPulse, c.ledPulse);
        EXPECT_TRUE(r.ra.ledPulse);
        // The relay box still gets its pair with the full count.
        EXPECT_EQ(r.dec.count, c.dy == 0 ? 0 : 17);
        EXPECT_EQ(r.dec.relayCode, r.dec.errorBelowZero ? RelayNorth : RelaySouth);
    }
}

TEST(Correction, UnusableOpticsSendNothingOnEitherAxis)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        double focal, pixel, ra, dec;
    } cases[] = {
        {0, 10, 7.5, 7.5},   {-100, 10, 7.5, 7.5}, {nan, 10, 7.5, 7.5},
        {100, 10, 0, 7.5},   {100, 10, -7.5, 7.5}, {100, 10, nan, 7.5},
        {100, 10, 7.5, 0},   {100, 10, 7.5, -1},   {100, 10, 7.5, nan},
        {100, nan, 7.5, 7.5}, {100, -10, 7.5, 7.5},
        {100, 10, 1e-300, 7.5},  // a gain beyond any float
    };
    for (const Case& c : cases) {
        Inputs in;
        in.focalLengthCm = c.focal;
        in.pixelSizeUm = c.pixel;
        in.raSpeedArcsecPerSec = c.ra;
        in.decSpeedArcsecPerSec = c.dec;
        in.dx = 2;
        in.dy = -1;
        const Result r = correction::compute(in);
        SCOPED_TRACE(::testing::Message() << c.focal << " " << c.pixel << " " << c.ra << " " << c.dec);
        EXPECT_FALSE(r.valid);
        EXPECT_FALSE(r.ra.ledPulse);
        EXPECT_FALSE(r.dec.ledPulse);
        EXPECT_EQ(r.ra.count, 0);
        EXPECT_EQ(r.dec.count, 0);
        EXPECT_EQ(correction::percentText(r, r.ra), "--");
        EXPECT_EQ(correction::percentText(r, r.dec), "--");
    }
}

TEST(Correction, DegenerateButFiniteOpticsStillGuide)
{
    // A zero pixel size or an endless focal length is a zero scale: every
    // count is 0, and the zero pulses still stop the axes.
    Inputs in = optics(7.5, 7.5, 5, -5);
    in.pixelSizeUm = 0;
    Result r = correction::compute(in);
    EXPECT_TRUE(r.valid);
    EXPECT_EQ(r.ra.count, 0);
    EXPECT_TRUE(r.ra.ledPulse);

    in = optics(7.5, 7.5, 5, -5);
    in.focalLengthCm = std::numeric_limits<double>::infinity();
    r = correction::compute(in);
    EXPECT_TRUE(r.valid);
    EXPECT_EQ(r.dec.count, 0);
}

}  // namespace
