// The precise mode on the session's cycles, on the simulated sky.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>

#include "core/capture/simsky.h"
#include "core/corerig.h"
#include "testsupport.h"

namespace {

struct SkyRig : CoreRig {
    SimulatedSky* sky = nullptr;
    explicit SkyRig(const std::string& params, const std::string& settingsPath)
    {
        core.precise.settingsPath = settingsPath;
        core.acquisition.setScan([this, params] {
            CaptureDriverList list;
            auto s = std::make_unique<SimulatedSky>(state, core.channel, params);
            sky = s.get();
            list.push_back(std::move(s));
            return list;
        });
        core.acquisition.connect(0);
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i) {
            for (int ms = 0; ms < AcquisitionLoop::kTickMs; ms += 10)
                advanceMs(10);
            core.acquisition.tick();
        }
    }
    bool calibrate()
    {
        if (!core.precise.calibrate())
            return false;
        for (int i = 0; i < 3000 && core.precise.status().calib == PreciseStatus::Calib::Running; ++i)
            ticks(1);
        return core.precise.status().calib == PreciseStatus::Calib::Done;
    }
};

TEST(PreciseMode, OffLeavesTheDesignsCommandsAsTheyWere)
{
    TempDir dir;
    auto run = [&](bool toggled) {
        SkyRig r("seed=4", dir.file("qv185.dat"));
        if (toggled) {
            r.core.precise.setOn(true);
            r.core.precise.setOn(false);
        }
        r.ticks(13);
        r.core.session.startTracking();
        r.ticks(100);
        std::string commands;  // every command to the mount, with its time
        for (const SeenCommand& c : r.seen)
            commands += std::to_string(int(c.kind)) + " " + std::to_string(c.timeUs) + " " + c.text + "\n";
        return commands;
    };
    const std::string plain = run(false);
    EXPECT_NE(plain.find("on "), std::string::npos) << "the LED window lit";
    EXPECT_EQ(plain, run(true));
}

TEST(PreciseMode, CalibratesATurnedMirroredCameraThenHoldsTheStar)
{
    TempDir dir;
    for (const char* sky : {"seed=5,angle=35", "seed=6,angle=-120,flip_x=1"}) {
        SCOPED_TRACE(sky);
        SkyRig r(sky, dir.file("qv185.dat"));
        r.ticks(13);
        std::vector<std::string> phases;
        r.core.precise.addStepListener([&](const CalibrationStep* s) {
            if (s && (phases.empty() || phases.back() != phaseName(s->phase)))
                phases.push_back(phaseName(s->phase));
        });
        ASSERT_TRUE(r.calibrate()) << r.core.precise.error();
        EXPECT_EQ(phases, (std::vector<std::string>{"West", "East", "Backlash", "North", "South"}));
        const PreciseStatus& st = r.core.precise.status();
        EXPECT_TRUE(st.calibrated);
        const Calibration& c = r.core.precise.guider.calibration;
        const double expectedRaDeg = std::string(sky).find("flip") != std::string::npos ? 180 - (-120) : 35;
        EXPECT_NEAR(std::remainder(c.xAngle * 180 / M_PI - expectedRaDeg, 360.0), 0, 3.0);
        EXPECT_LT(st.orthoErrDeg, 5);

        r.ticks(6);
        r.core.session.startTracking();
        double n = 0, sx = 0, sy = 0, sxx = 0, syy = 0;
        for (int i = 0; i < 300; ++i) {
            r.ticks(1);
            if (i < 50)
                continue;
            const FieldOffset o = r.sky->mount().offset(r.clock.nowUs(), false);
            n += 1, sx += o.x, sy += o.y, sxx += o.x * o.x, syy += o.y * o.y;
        }
        EXPECT_LT(std::sqrt(sxx / n - sx * sx / n / n), 0.2);
        EXPECT_LT(std::sqrt(syy / n - sy * sy / n / n), 0.2);
        const CycleResult& last = r.core.session.lastCycle();
        ASSERT_TRUE(last.precise.has_value());
        EXPECT_LT(std::hypot(last.precise->errX, last.precise->errY), 1.5);
    }
}

TEST(PreciseMode, SavedCalibrationIsReusedUntilTheCameraChangesAndRefusalsSayWhy)
{
    TempDir dir;
    {
        SkyRig r("seed=7", dir.file("qv185.dat"));
        r.ticks(13);
        ASSERT_TRUE(r.calibrate());
    }
    SkyRig again("seed=7", dir.file("qv185.dat"));
    EXPECT_TRUE(again.core.precise.calibrationValid());
    again.state.params->interfaceType = RelayBox;
    EXPECT_FALSE(again.core.precise.calibrationValid());
    again.state.params->interfaceType = VirtualLeds;
    again.core.precise.flipCalibration();
    EXPECT_TRUE(again.core.precise.status().raFlipped);
    again.core.precise.clearCalibration();
    EXPECT_FALSE(again.core.precise.calibrationValid());

    // Refused while guiding, with the reason in both languages.
    again.ticks(13);
    again.core.session.startTracking();
    EXPECT_FALSE(again.core.precise.calibrate());
    EXPECT_EQ(again.core.precise.status().calib, PreciseStatus::Calib::Failed);
    EXPECT_FALSE(again.core.precise.status().errorFr.empty());
    EXPECT_NE(again.core.precise.error().find("stop guiding"), std::string::npos);
}

}  // namespace
