// The acquisition loop on the simulated sky and the fake clock: connecting,
// the cycle once more than 1000 ms have passed, the armed dark frame, a
// camera lost while running, and locking on a star by itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/autolock.h"
#include "core/capture/simsky.h"
#include "core/corerig.h"
#include "core/measure/findstar.h"

namespace {

// A camera whose grabs the test scripts.
class ScriptedCamera : public CaptureDriver {
public:
    std::string name() const override { return "scripted"; }
    CaptureStatus connect() override
    {
        connected_ = refuse.empty();
        return connected_ ? CaptureStatus{} : CaptureStatus::failure(refuse, 16);
    }
    void disconnect() override { connected_ = false; }
    bool connected() const override { return connected_; }
    GrabStatus grab(Picture& picture, std::string& error) override
    {
        if (lost) {
            error = "/dev/video0: No such device";
            return GrabStatus::Lost;
        }
        if (++grabs % every != 0)
            return GrabStatus::NoFrame;
        ++delivered;
        picture.fill(0x101010);
        for (int j = -1; j <= 1; ++j)  // a small star at (161, 120)
            for (int i = -1; i <= 1; ++i)
                picture.at(161 + i, 120 + j) = 0xffffffff;
        return GrabStatus::NewFrame;
    }
    int64_t frameAgeUs() const override { return ageUs; }
    void holdExposuresUntil(int64_t clockUs) override { holds.push_back(clockUs); }
    std::vector<int64_t> holds;  // the ends of the moves it was told of
    std::string refuse;
    bool lost = false;
    int64_t ageUs = -1;
    int every = 1;      // a frame every that many grabs
    int grabs = 0;
    int delivered = 0;

private:
    bool connected_ = false;
};

CaptureDriverList skyAndCamera(CoreRig& rig, ScriptedCamera*& camera, const std::string& sky)
{
    CaptureDriverList list;
    list.push_back(std::make_unique<SimulatedSky>(rig.state, rig.core.channel, sky));
    auto cam = std::make_unique<ScriptedCamera>();
    camera = cam.get();
    list.push_back(std::move(cam));
    list.push_back(std::make_unique<NoDriver>());
    return list;
}

}  // namespace

TEST(AcquisitionLoop, ConnectTicksAndMeasurementCycles)
{
    CoreRig rig;
    ScriptedCamera* camera = nullptr;
    rig.core.acquisition.setScan([&] { return skyAndCamera(rig, camera, "noise=0,seeing=0"); });
    AcquisitionLoop& loop = rig.core.acquisition;

    // "(aucun)" and a refusing camera leave capture off, with the cause.
    EXPECT_FALSE(loop.connect(2).ok);
    EXPECT_FALSE(loop.connect(-1).ok);
    loop.drivers();
    camera->refuse = "/dev/video0: Device or resource busy";
    const CaptureStatus busy = loop.connect(1);
    EXPECT_FALSE(busy.ok);
    EXPECT_EQ(busy.error, camera->refuse);
    EXPECT_FALSE(rig.state.captureRunning);

    rig.clock.advanceMs(5000);
    ASSERT_TRUE(loop.connect(0).ok);
    EXPECT_TRUE(rig.state.captureRunning);
    EXPECT_EQ(rig.state.lastAnalysisTime, 5000);

    // Ticks of 200 ms: the first cycle on the first tick more than 1000 ms
    // after the connection, then every sixth tick.
    std::vector<int> cycleTicks;
    for (int i = 1; i <= 13; ++i) {
        rig.clock.advanceMs(200);
        const AcquisitionLoop::Tick t = loop.tick();
        EXPECT_EQ(t.grab, GrabStatus::NewFrame);
        if (t.cycle)
            cycleTicks.push_back(i);
    }
    EXPECT_EQ(cycleTicks, (std::vector<int>{6, 12}));
    // The sky's star lies where the measurement finds it.
    EXPECT_NEAR(rig.state.regionX + rig.state.centroidX, 160, 1);
    EXPECT_NEAR(rig.state.regionY + rig.state.centroidY, 120, 1);
    EXPECT_EQ(loop.lastFrame().bits, rig.state.picture.bits);

    // An armed dark frame is taken from the next frame.
    rig.state.darkPending = true;
    rig.clock.advanceMs(200);
    EXPECT_TRUE(loop.tick().darkTaken);
    EXPECT_FALSE(rig.state.darkPending);
    EXPECT_EQ(rig.core.session.analysis.darkFrame[120 * 320 + 160], 63);
}

TEST(AcquisitionLoop, CameraLostKeepsThePictureAndCanReconnect)
{
    CoreRig rig;
    ScriptedCamera* camera = nullptr;
    rig.core.acquisition.setScan([&] { return skyAndCamera(rig, camera, ""); });
    AcquisitionLoop& loop = rig.core.acquisition;
    ASSERT_TRUE(loop.connect(1).ok);
    loop.tick();
    rig.core.session.startTracking();
    const std::vector<uint32_t> before = rig.state.picture.bits;
    camera->lost = true;
    std::vector<GrabStatus> heard;
    loop.addTickListener([&](const AcquisitionLoop::Tick& t) { heard.push_back(t.grab); });
    const AcquisitionLoop::Tick t = loop.tick();
    EXPECT_EQ(heard, std::vector<GrabStatus>{GrabStatus::Lost}) << "every listener hears of it";
    EXPECT_FALSE(rig.state.trackingOn) << "nothing can be measured: the guiding ends";
    EXPECT_EQ(t.grab, GrabStatus::Lost);
    EXPECT_EQ(t.error, "/dev/video0: No such device");
    EXPECT_FALSE(rig.state.captureRunning);
    EXPECT_FALSE(camera->connected());
    EXPECT_EQ(rig.state.picture.bits, before);
    // Ticked again: nothing is grabbed.
    EXPECT_EQ(loop.tick().grab, GrabStatus::NoFrame);
    camera->lost = false;
    EXPECT_TRUE(loop.connect(1).ok);
    EXPECT_EQ(loop.tick().grab, GrabStatus::NewFrame);
}

// A camera slower than the cycle (an INDI camera exposing for 2 s, a
// webcam skipping frames): each cycle measures a frame no cycle measured,
// and none runs before the first frame or once the camera is gone.
TEST(AcquisitionLoop, NeverMeasuresTheSameFrameTwice)
{
    for (const int every : {3, 10}) {
        SCOPED_TRACE(every);
        CoreRig rig;
        ScriptedCamera* camera = nullptr;
        rig.core.acquisition.setScan([&] { return skyAndCamera(rig, camera, ""); });
        ASSERT_TRUE(rig.core.acquisition.connect(1).ok);
        camera->every = every;
        std::vector<int> measured;  // the frame each cycle measured
        for (int i = 1; i <= 60; ++i) {
            rig.advanceMs(200);
            if (rig.core.acquisition.tick().cycle)
                measured.push_back(camera->delivered);
        }
        ASSERT_GE(measured.size(), 60u / std::max(every, 6) - 1);
        EXPECT_GE(measured.front(), 1);
        for (size_t i = 1; i < measured.size(); ++i)
            EXPECT_GT(measured[i], measured[i - 1]) << i;
        camera->lost = true;
        rig.advanceMs(2000);
        EXPECT_FALSE(rig.core.acquisition.tick().cycle);
        rig.advanceMs(2000);
        EXPECT_FALSE(rig.core.acquisition.tick().cycle) << "no camera: the last picture is not measured again";
    }
}

TEST(StarAcquirer, FindsTheStarMovesTheRegionAndLocksOnceTheThresholdIsLearned)
{
    struct Case { const char* sky; int starX, starY; bool moves; };
    const Case cases[] = {
        {"noise=0,seeing=0", 160, 120, false},                 // already in the default region
        {"noise=0,seeing=0,star_x=60,star_y=200", 60, 200, true},  // elsewhere
        {"noise=0,seeing=0,star_x=290,star_y=30", 290, 30, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sky);
        CoreRig rig;
        ScriptedCamera* camera = nullptr;
        rig.core.acquisition.setScan([&] { return skyAndCamera(rig, camera, c.sky); });
        ASSERT_TRUE(rig.core.acquisition.connect(0).ok);
        StarAcquirer acquirer(rig.state, rig.core.session);
        acquirer.begin();
        int cycles = 0;
        StarAcquirer::Step step = StarAcquirer::Step::Looking;
        while (step == StarAcquirer::Step::Looking && cycles < 20) {
            rig.clock.advanceMs(200);
            const AcquisitionLoop::Tick t = rig.core.acquisition.tick();
            if (t.cycle) {
                ++cycles;
                step = acquirer.onCycle(*t.cycle, rig.state.picture.view());
            }
        }
        ASSERT_EQ(step, StarAcquirer::Step::Locked);
        EXPECT_TRUE(rig.state.trackingOn);
        EXPECT_NEAR(rig.state.referenceX, c.starX, 1.5);
        EXPECT_NEAR(rig.state.referenceY, c.starY, 1.5);
        // The very first cycle never locks: its threshold was not learned.
        EXPECT_GE(cycles, 2);
        EXPECT_LE(cycles, 3);
        if (!c.moves) {
            EXPECT_EQ(rig.state.regionX, 110);
            EXPECT_EQ(rig.state.regionY, 70);
        }
    }

    // A picture with no star: nothing to lock on.
    CoreRig rig;
    rig.state.picture.fill(0x141414);
    StarAcquirer acquirer(rig.state, rig.core.session);
    acquirer.begin(4);
    StarAcquirer::Step step = StarAcquirer::Step::Looking;
    for (int i = 0; i < 4; ++i)
        step = acquirer.onCycle(rig.core.session.measureCycle(rig.state.picture.view()), rig.state.picture.view());
    EXPECT_EQ(step, StarAcquirer::Step::NotFound);
    EXPECT_FALSE(rig.state.trackingOn);
    EXPECT_FALSE(findBrightestStar(rig.state.picture.view(), false));
}

TEST(GuidingSessionRegion, PlacedOnAPointWithTheClampsOfEachMode)
{
    struct Case { bool tracking; int refX, refY, x, y, regionX, regionY; };
    const Case cases[] = {
        {false, 0, 0, 10, 10, 2, 2},
        {false, 0, 0, 310, 230, 218, 138},
        {false, 0, 0, 160, 120, 110, 70},
        // While tracking, the lock stays 10 to 90 pixels inside the region.
        {true, 150, 100, 300, 200, 140, 90},
        {true, 150, 100, 0, 0, 60, 10},
        {true, 150, 100, 190, 140, 140, 90},
        {true, 300, 230, 319, 239, 269, 189},  // the region may leave the picture
    };
    for (const Case& c : cases) {
        CoreRig rig;
        rig.state.trackingOn = c.tracking;
        rig.state.referenceX = c.refX;
        rig.state.referenceY = c.refY;
        rig.core.session.placeRegion(c.x, c.y);
        EXPECT_EQ(rig.state.regionX, c.regionX) << c.x << "," << c.y;
        EXPECT_EQ(rig.state.regionY, c.regionY) << c.x << "," << c.y;
    }
}

// A camera with long exposures: no cycle measures a frame whose exposure
// began before the last correction's pulses were over.
TEST(AcquisitionLoop, WaitsForAFrameExposedAfterTheLastCorrection)
{
    CoreRig rig(Lx200);
    rig.state.params->focalLength = 100;  // a 1 px error is 17 counts: 255 ms
    rig.state.params->pixelSize = 10;
    rig.state.params->raSpeed = rig.state.params->decSpeed = 7.5;
    ScriptedCamera* camera = nullptr;
    rig.core.acquisition.setScan([&] { return skyAndCamera(rig, camera, ""); });
    ASSERT_TRUE(rig.core.acquisition.connect(1).ok);
    // Locked one pixel left of the star: every correction is a 255 ms pulse.
    rig.state.trackingOn = true;
    rig.state.referenceX = 160;
    rig.state.referenceY = 120;
    rig.state.peakLevel = 63;

    for (const int64_t ageMs : {1000, 2000}) {
        SCOPED_TRACE(ageMs);
        camera->ageUs = ageMs * 1000;  // each frame's exposure began that long before it came
        std::vector<int64_t> cycles;
        camera->holds.clear();
        for (int i = 1; i <= 60; ++i) {
            rig.advanceMs(200);
            const int64_t now = rig.clock.nowMs();
            if (rig.core.acquisition.tick().cycle) {
                cycles.push_back(now);
                // The camera hears of each correction's end, once.
                ASSERT_EQ(camera->holds.size(), cycles.size());
                EXPECT_EQ(camera->holds.back(), rig.core.session.correctionEndsUs());
                EXPECT_NEAR(double(camera->holds.back() - now * 1000), 255'000.0, 5'000.0);
            }
        }
        ASSERT_GE(cycles.size(), 3u);
        // Each frame measured began after the pulses of the cycle before
        // were over: never sooner than age + 255 ms after that cycle, and at
        // the first tick that may.
        for (size_t i = 1; i < cycles.size(); ++i) {
            EXPECT_GE(cycles[i] - cycles[i - 1], ageMs + 255) << i;
            EXPECT_LE(cycles[i] - cycles[i - 1], ageMs + 255 + 200 + 5) << i;
        }
    }
}
