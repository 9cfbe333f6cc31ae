// The precise mode's server over a real socket, on the simulated sky turned
// 35 degrees: `guide` calibrates as PHD2 does (its events and state), then
// guides in fractions of a pixel; the calibration methods.
#include <QJsonArray>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <cmath>

#include "core/capture/simsky.h"
#include "core/corerig.h"
#include "phdclient.h"
#include "qt/eventserver.h"
#include "qt/looptimer.h"
#include "qt/remoteguider.h"
#include "testsupport.h"

namespace {

struct PreciseServerRig {
    explicit PreciseServerRig(const std::string& settingsPath)
    {
        rig.core.precise.settingsPath = settingsPath;
        rig.core.acquisition.setScan([this] {
            CaptureDriverList list;
            list.push_back(std::make_unique<SimulatedSky>(rig.state, rig.core.channel, "seed=9,angle=35"));
            while (list.size() < size_t(kCaptureEntries))
                list.push_back(std::make_unique<NoDriver>());
            return list;
        });
        guider.setPrecise(true);
        server = std::make_unique<EventServer>(guider);
        QString error;
        EXPECT_TRUE(server->listen("127.0.0.1", 0, error)) << error.toStdString();
    }
    void tick()
    {
        for (int i = 0; i < 20; ++i)
            rig.advanceMs(10);
        if (loop.active())
            loop.tick();
    }
    CoreRig rig;
    LoopTimer loop{rig.core.acquisition};
    RemoteGuider guider{rig.state, rig.core, loop};
    std::unique_ptr<EventServer> server;
};

}  // namespace

TEST(PreciseServer, GuideCalibratesFirstThenTheCalibrationMethods)
{
    TempDir dir;
    PreciseServerRig s(dir.file("qv185.dat"));
    const auto tick = [&] { s.tick(); };
    PhdClient c(s.server->port());
    EXPECT_FALSE(c.call("get_calibrated").toBool());
    EXPECT_FALSE(c.call("get_calibration_data").toObject().value("calibrated").toBool(true));
    EXPECT_EQ(c.answer("flip_calibration").value("error").toObject().value("message").toString(), "Not calibrated");
    c.call("set_connected", QJsonArray{true});
    c.call("loop");
    c.next("LoopingExposures", tick);
    const QJsonArray star = c.call("find_star").toArray();
    ASSERT_EQ(star.size(), 2);
    EXPECT_NE(star[0].toDouble(), std::round(star[0].toDouble())) << "in fractions of a pixel";

    const QJsonObject settle{{"pixels", 1.5}, {"time", 5}, {"timeout", 60}};
    EXPECT_EQ(c.call("guide", QJsonObject{{"settle", settle}}).toInt(-1), 0);
    EXPECT_EQ(c.next("StartCalibration").value("Mount").toString(), "Diodes virtuelles");
    const size_t from = c.cursor;
    const QJsonObject done = c.next("CalibrationComplete", tick, 5000);
    ASSERT_FALSE(done.isEmpty()) << "calibration did not end";
    const auto steps = c.events("Calibrating", from);
    ASSERT_GT(steps.size(), 20u);
    EXPECT_EQ(steps.front().value("dir").toString(), "West");
    EXPECT_EQ(steps.back().value("dir").toString(), "South");
    EXPECT_EQ(steps.front().value("pos").toArray().size(), 2);
    bool sawCalibratingState = false;
    for (const QJsonObject& e : c.events("AppState", from))
        sawCalibratingState |= e.value("State").toString() == "Calibrating";
    EXPECT_TRUE(sawCalibratingState);
    EXPECT_FALSE(c.next("StartGuiding", tick).isEmpty());
    EXPECT_EQ(c.next("SettleDone", tick, 1000).value("Status").toInt(-1), 0);
    const QJsonObject step = c.next("GuideStep", tick);
    EXPECT_LT(std::hypot(step.value("dx").toDouble(), step.value("dy").toDouble()), 1.5);

    EXPECT_TRUE(c.call("get_calibrated").toBool());
    const QJsonObject data = c.call("get_calibration_data").toObject();
    EXPECT_NEAR(data.value("xAngle").toDouble(), 35, 3);
    EXPECT_GT(data.value("xRate").toDouble(), 1);
    EXPECT_EQ(data.value("xParity").toString(), "+");
    EXPECT_EQ(c.call("flip_calibration").toInt(-1), 0);
    EXPECT_NEAR(c.call("get_calibration_data").toObject().value("xAngle").toDouble(), -145, 3);
    c.call("flip_calibration");

    // The lock in fractions, as given.
    const QJsonArray lock = c.call("get_lock_position").toArray();
    c.call("set_lock_position", QJsonArray{lock[0].toDouble() + 0.25, lock[1].toDouble(), true});
    EXPECT_NEAR(c.call("get_lock_position").toArray()[0].toDouble(), lock[0].toDouble() + 0.25, 1e-9);
    EXPECT_NEAR(c.next("LockPositionSet").value("X").toDouble(), lock[0].toDouble() + 0.25, 1e-9);

    // A dither along the calibrated axes, in fractions of a pixel, settled.
    c.next("GuideStep", tick);
    c.call("dither", QJsonArray{2, false, QJsonObject{{"pixels", 1.5}, {"time", 2}, {"timeout", 60}}});
    const QJsonObject dithered = c.next("GuidingDithered");
    const double ddx = dithered.value("dx").toDouble(), ddy = dithered.value("dy").toDouble();
    EXPECT_TRUE(ddx != std::round(ddx) || ddy != std::round(ddy)) << "along the turned axes, not whole pixels";
    EXPECT_LE(std::hypot(ddx, ddy), 2 * std::sqrt(2.0) + 1e-9);
    EXPECT_EQ(c.next("SettleDone", tick, 1000).value("Status").toInt(-1), 0);

    EXPECT_EQ(c.call("clear_calibration", QJsonObject{{"which", "mount"}}).toInt(-1), 0);
    EXPECT_FALSE(c.call("get_calibrated").toBool());
    EXPECT_TRUE(c.answer("clear_calibration", QJsonObject{{"which", "scope"}}).contains("error"));
}
