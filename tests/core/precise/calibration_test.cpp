// Calibration on the simulated sky, its camera turned and mirrored, driven
// through the mount channel on the fake clock; its refusals on a mount
// model; the camera-to-mount transform it gives.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "core/capture/simsky.h"
#include "core/corerig.h"
#include "core/guide/correction.h"
#include "core/precise/calibration.h"
#include "core/precise/precisestar.h"

namespace {

struct SkyCalibration {
    CoreRig rig{kTimedMountInterface};
    SimulatedSky sky;
    PreciseStarFinder finder;
    PointPx star;
    bool followStar = true;  // the region follows the star, as the loop keeps it
    int32_t regionX = 110, regionY = 70;
    std::vector<std::string> pulses;

    explicit SkyCalibration(const std::string& params) : sky(rig.state, rig.core.channel, params)
    {
        EXPECT_TRUE(sky.connect().ok);
        const FieldOffset t = sky.target(0, false);
        regionX = int32_t(std::lround(t.x)) - 50;
        regionY = int32_t(std::lround(t.y)) - 50;
    }
    double scale() const
    {
        return correction::pixelScaleArcsecPerPixel(rig.state.params->pixelSize, rig.state.params->focalLength);
    }
    PreciseStar measure()
    {
        std::string error;
        sky.grab(rig.state.picture, error);
        PreciseRegion region;
        readGreyRegion(rig.state.picture.view(), regionX, regionY, region);
        float peak = 0;
        for (float v : region.values)
            peak = std::max(peak, v);
        const PreciseStar s = finder.measure(region, chooseThreshold(false, 0, uint8_t(peak)), rig.clock.nowMs());
        if (s.found() && followStar) {
            regionX = int32_t(std::lround(s.x)) - 50;
            regionY = int32_t(std::lround(s.y)) - 50;
        }
        return s;
    }
    // Runs the calibrator a cycle a second until it ends.
    CalibrationAction run(Calibrator& cal)
    {
        for (int cycle = 0; cycle < 400; ++cycle) {
            const PreciseStar s = measure();
            const CalibrationAction a = s.found() ? cal.update({s.x, s.y}) : cal.starLost();
            if (a.kind != CalibrationAction::Kind::Pulse)
                return a;
            pulses.push_back(directionName(a.direction));
            rig.core.channel.timedPulse(a.direction, a.ms);
            rig.advanceMs(std::max(1000, a.ms + 100));
        }
        ADD_FAILURE() << "calibration did not end";
        return {};
    }
};

// A mount that moves the star by these picture vectors a millisecond of
// pulse, with a DEC backlash of so many milliseconds after any reversal.
struct ModelMount {
    PointPx star{100, 100};
    PointPx west{-0.005, 0}, north{0, 0.005};
    int backlashMs = 0;
    int decSlack = 0;

    CalibrationAction run(Calibrator& cal, std::function<bool(int)> lost = nullptr)
    {
        for (int cycle = 0; cycle < 400; ++cycle) {
            const CalibrationAction a = lost && lost(cycle) ? cal.starLost() : cal.update(star);
            if (a.kind != CalibrationAction::Kind::Pulse)
                return a;
            double ms = a.ms;
            const double sign = a.direction == Direction::West || a.direction == Direction::North ? 1 : -1;
            if (axisOf(a.direction) == GuideAxis::Dec) {
                const double taken = std::min<double>(ms, decSlack);
                decSlack -= int(taken);
                ms -= taken;
            }
            const PointPx v = axisOf(a.direction) == GuideAxis::Ra ? west : north;
            star.x += sign * v.x * ms;
            star.y += sign * v.y * ms;
        }
        return {};
    }
};

}  // namespace

TEST(PreciseCalibration, OnTheSimulatedSkyAtSeveralAnglesAndParities)
{
    struct Case {
        std::string sky;
        double angle;  // the camera angle expected, folded into (-90, 90]
        bool raFlipped, decFlipped;
    };
    const Case cases[] = {
        {"", 0, false, false},
        {"angle=35", 35, false, false},
        {"angle=-60", -60, false, false},
        {"angle=200", 20, true, true},        // half a turn and more: both axes run backwards
        {"angle=35,flip_x=1", -35, true, false},  // mirrored: one axis does
        {"flip_y=1", 0, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sky);
        SkyCalibration s("seeing=0.1,drift_x=0,drift_y=0,pe_amplitude=0" + (c.sky.empty() ? "" : "," + c.sky));
        const tparam& p = *s.rig.state.params;
        const int stepMs = calibrationStepMs(p.raSpeed, p.decSpeed, s.scale());
        Calibrator cal(stepMs, 25.0, p.decSpeed / p.raSpeed);
        ASSERT_EQ(s.run(cal).kind, CalibrationAction::Kind::Done) << cal.error();

        const Calibration& r = cal.result();
        EXPECT_NEAR(r.cameraAngleDegrees(), c.angle, 1.0);
        EXPECT_EQ(r.raFlipped(), c.raFlipped);
        EXPECT_EQ(r.decFlipped(), c.decFlipped);
        EXPECT_NEAR(r.xRate, p.raSpeed / s.scale(), 0.05 * p.raSpeed / s.scale());
        EXPECT_NEAR(r.yRate, p.decSpeed / s.scale(), 0.05 * p.decSpeed / s.scale());
        EXPECT_LT(r.orthogonalityErrorDegrees(), 1.5);
        // About a dozen steps each way.
        const auto count = [&](const char* d) { return std::count(s.pulses.begin(), s.pulses.end(), d); };
        EXPECT_GE(count("West"), 10);
        EXPECT_LE(count("West"), 16);
        EXPECT_EQ(count("East"), count("West"));

        // The transform reads the mount's own moves back: a second of East
        // moves the star by +xRate along RA, a second of North by -yRate
        // along DEC (South corrects a positive DEC distance).
        const PreciseStar before = s.measure();
        s.rig.core.channel.timedPulse(Direction::East, 1000);
        s.rig.advanceMs(1200);
        const PreciseStar east = s.measure();
        s.rig.core.channel.timedPulse(Direction::North, 1000);
        s.rig.advanceMs(1200);
        const PreciseStar north = s.measure();
        const PointPx e = r.toMount({east.x - before.x, east.y - before.y});
        const PointPx n = r.toMount({north.x - east.x, north.y - east.y});
        EXPECT_NEAR(e.x, r.xRate, 0.4);
        EXPECT_NEAR(e.y, 0, 0.4);
        EXPECT_NEAR(n.x, 0, 0.4);
        EXPECT_NEAR(n.y, r.yRate, 0.4);
    }
}

TEST(PreciseCalibration, RefusedWhenTheStarIsLostMovesTooLittleOrTheAxesAreNotSquare)
{
    // On the sky: a region that stays where it was loses the star as it moves.
    SkyCalibration lost("seeing=0,drift_x=0,drift_y=0,pe_amplitude=0");
    lost.followStar = false;
    lost.regionX += 30;  // the star 20 px from the region's left edge, West moving it left
    Calibrator a(350);
    EXPECT_EQ(lost.run(a).kind, CalibrationAction::Kind::Failed);
    EXPECT_EQ(a.error(), "Calibration failed: the star was lost during the West steps");
    EXPECT_FALSE(a.errorFr().empty());

    struct Case {
        const char* what;
        PointPx west, north;
        int backlashMs;
        const char* error;  // the start of the message; nullptr: calibrated
    };
    const double c70 = std::cos(70 * M_PI / 180) * 0.005, s70 = std::sin(70 * M_PI / 180) * 0.005;
    const Case cases[] = {
        {"square axes", {-0.005, 0}, {0, 0.005}, 0, nullptr},
        {"square axes and 3 s of DEC backlash", {-0.005, 0}, {0, 0.005}, 3000, nullptr},
        {"RA does not move", {0, 0}, {0, 0.005}, 0, "RA calibration failed: the star moved 0.0 px in 60 West steps"},
        {"DEC does not move", {-0.005, 0}, {0, 0}, 0, "DEC backlash clearing failed"},
        {"DEC barely moves", {-0.005, 0}, {0, 0.00012}, 0, "DEC calibration failed"},
        {"axes 20 degrees from square", {-0.005, 0}, {c70, s70}, 0,
         "Calibration refused: the RA and DEC axes are 20.0 degrees from square"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ModelMount m;
        m.west = c.west;
        m.north = c.north;
        m.decSlack = c.backlashMs;
        Calibrator cal(400);
        const CalibrationAction end = m.run(cal);
        if (!c.error) {
            ASSERT_EQ(end.kind, CalibrationAction::Kind::Done) << cal.error();
            EXPECT_NEAR(cal.result().xRate, 5.0, 0.01);
            EXPECT_NEAR(cal.result().yRate, 5.0, 0.01) << "the backlash is not counted in the rate";
            EXPECT_NEAR(cal.result().cameraAngleDegrees(), 0, 1e-9);
            // West 13 steps and East 13: the star is back where it started.
            EXPECT_NEAR(m.star.x, 100, 1e-9);
        } else {
            ASSERT_EQ(end.kind, CalibrationAction::Kind::Failed);
            EXPECT_EQ(cal.error().rfind(c.error, 0), 0u) << cal.error();
        }
    }
}

TEST(PreciseCalibration, TransformAndFlip)
{
    // Axes a little off square and mirrored: to the mount and back is the
    // identity; a pixel along each axis reads about a pixel of it.
    Calibration c;
    c.xAngle = 30 * M_PI / 180;
    c.yAngle = -63 * M_PI / 180;
    for (const PointPx v : {PointPx{1, 0}, PointPx{0, 1}, PointPx{-2.5, 0.7}}) {
        const PointPx back = c.toCamera(c.toMount(v));
        EXPECT_NEAR(back.x, v.x, 1e-12);
        EXPECT_NEAR(back.y, v.y, 1e-12);
    }
    EXPECT_NEAR(c.toMount({std::cos(c.yAngle), std::sin(c.yAngle)}).y, 1, 0.01) << "along North: DEC distance +1";
    EXPECT_NEAR(c.orthogonalityErrorDegrees(), 3, 1e-9);
    EXPECT_TRUE(c.decFlipped());
    EXPECT_FALSE(c.raFlipped());

    // A meridian flip turns RA round and leaves DEC, unless asked.
    Calibration f = c;
    f.flip();
    EXPECT_TRUE(f.raFlipped() != c.raFlipped() || f.decFlipped() != c.decFlipped());
    EXPECT_NEAR(f.toMount({1, 0}).x, -c.toMount({1, 0}).x, 1e-12);
    EXPECT_NEAR(f.toMount({0, 1}).y, c.toMount({0, 1}).y, 1e-12);
    f = c;
    f.flip(true);
    EXPECT_NEAR(f.toMount({0.3, 1}).y, -c.toMount({0.3, 1}).y, 1e-12);

    // Step lengths: about 12 steps to 25 px; nothing without a scale.
    EXPECT_EQ(calibrationStepMs(12, 14, 2.31), 350);
    EXPECT_EQ(calibrationStepMs(0, 0, 2.31), 0);
    EXPECT_EQ(calibrationStepMs(15, 15, 0.01), 50);
}
