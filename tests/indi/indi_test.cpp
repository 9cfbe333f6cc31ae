// The INDI cameras and mount against indiserver with the CCD and telescope
// simulators (tests/indi/indi-bench.sh starts them; ctest runs test_indi
// through it). The simulated camera draws the stand-in catalogue's stars
// where the simulated mount points, so a pulse or a slew sent here moves the
// star in the frames that come back, and the guider's core can close the
// loop on them. The mount tracks at declination 0, an hour east of the
// meridian; the camera is turned 90 degrees so that right ascension runs
// along x. Guide rate: half sidereal, 7.52"/s, 12.6 pixels of 1.19" in 2 s.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <thread>

#include "core/corerig.h"
#include "core/indi/framing.h"
#include "core/indi/indicamera.h"
#include "core/indi/indiconnection.h"
#include "core/indi/indimount.h"
#include "core/settings/paramsfile.h"
#include "ptyline.h"
#include "testsupport.h"

extern char** environ;

namespace {

using Steady = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::string kCamera = "CCD Simulator", kScope = "Telescope Simulator";
constexpr double kGuideArcsecPerSec = 0.5 * 15.041;
constexpr double kTwoSecondPulsePx = 2 * kGuideArcsecPerSec / 1.19;

// Sets properties as another INDI client would.
bool setProperties(const std::string& assignments)
{
    return std::system(("indi_setprop -t 5 " + assignments + " >/dev/null 2>&1").c_str()) == 0;
}

// "On" or "Off": an element of a switch property, as another client reads it.
std::string switchState(const std::string& element)
{
    char state[8] = "";
    if (FILE* p = popen(("indi_getprop -1 -t 1 '" + element + "' 2>/dev/null").c_str(), "r")) {
        std::fscanf(p, "%7s", state);
        pclose(p);
    }
    return state;
}

// Polls `done` (which may grab a frame) until it holds or the time is up.
bool waitUntil(const std::function<bool()>& done, milliseconds limit = milliseconds(10000))
{
    for (const auto end = Steady::now() + limit; !done();) {
        if (Steady::now() >= end)
            return false;
        std::this_thread::sleep_for(milliseconds(20));
    }
    return true;
}

struct Star {
    double x = 0, y = 0;  // grey-weighted centroid, picture pixels
    int pixels = 0;       // of grey 128 or more
};

// The star whose bright pixels (grey 128 or more) come nearest (x, y):
// those within 12 px of the nearest one.
std::optional<Star> findStar(const Picture& p, double x, double y)
{
    constexpr int W = Picture::width, H = Picture::height;
    int seed = -1;
    for (int i = 0; i < W * H; ++i)
        if ((p.bits[i] & 0xff) >= 128 &&
            (seed < 0 || std::hypot(i % W - x, i / W - y) < std::hypot(seed % W - x, seed / W - y)))
            seed = i;
    if (seed < 0)
        return std::nullopt;
    Star s;
    double weight = 0;
    for (int j = std::max(0, seed / W - 12); j <= std::min(H - 1, seed / W + 12); ++j)
        for (int i = std::max(0, seed % W - 12); i <= std::min(W - 1, seed % W + 12); ++i)
            if (const double g = p.bits[j * W + i] & 0xff; g >= 128) {
                s.x += g * i;
                s.y += g * j;
                weight += g;
                ++s.pixels;
            }
    s.x /= weight;
    s.y /= weight;
    return s;
}

// Another indiserver with both simulators, which a test stops and restarts.
class OwnServer {
public:
    ~OwnServer() { stop(); }
    void start()
    {
        const char* argv[] = {"indiserver", "-p", "7625", "-u", "/tmp/quorvel-indiserver-7625",
                              "indi_simulator_ccd", "indi_simulator_telescope", nullptr};
        posix_spawn_file_actions_t quiet;
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
        ASSERT_EQ(posix_spawnp(&pid_, "indiserver", &quiet, nullptr, const_cast<char**>(argv), environ), 0);
        posix_spawn_file_actions_destroy(&quiet);
        waitUntil([] { return setProperties("-p 7625 'CCD Simulator.CONNECTION.CONNECT=On'"); });
    }
    void stop()
    {
        if (pid_ > 0 && kill(pid_, SIGTERM) == 0)
            waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

// Local sidereal time at the simulators' site (longitude 0), hours.
double siderealHours()
{
    return std::fmod(18.697374558 + 24.06570982441908 * (double(std::time(nullptr)) / 86400.0 - 10957.5), 24.0);
}

// How 2-second pulses moved the star at full resolution, and the inversions
// a user would tick from them: the guider pulses West for a star right of
// its lock and South for one below it.
struct PulseMoves {
    bool done = false;
    double eastDx = 0, eastDy = 0, northDx = 0, northDy = 0;
    double westBack = 0, southBack = 0;  // off the start after the opposite pulse
    bool invertRa() const { return eastDx < 0; }
    bool invertDec() const { return northDy < 0; }
};

class IndiBench : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        connection = new IndiConnection;
        serverStatus = connection->connect();
    }
    static void TearDownTestSuite()
    {
        camera.reset();
        mount.reset();
        rig.reset();
        delete connection;
    }
    void SetUp() override
    {
        ASSERT_TRUE(serverStatus.ok) << serverStatus.error
                                     << " -- test_indi needs the INDI simulators: ctest runs it through "
                                        "tests/indi/indi-bench.sh";
    }

    // Once for the suite: the camera exposing, the mount tracking at Dec 0.
    static void prepareSky()
    {
        if (camera)
            return;
        camera = std::make_unique<IndiCamera>(*connection, clock, kCamera);
        const auto start = Steady::now();
        const CaptureStatus c = camera->connect();
        ASSERT_TRUE(c.ok) << c.error;
        Picture first;
        ASSERT_TRUE(frames(first, 1)) << "no frame within 10 s of connecting";
        std::printf("first frame (1 s exposure) %.2f s after connecting\n",
                    std::chrono::duration<double>(Steady::now() - start).count());
        ASSERT_TRUE(camera->setControl("exposure", 500).ok);
        rig = std::make_unique<CoreRig>(IndiMount);
        mount = std::make_unique<IndiMountOutput>(*connection, rig->core.channel);
        ASSERT_TRUE(mount->connect().ok);
        char radec[40];
        std::snprintf(radec, sizeof radec, "%.6f;0", std::fmod(siderealHours() + 1.0, 24.0));
        ASSERT_TRUE(setProperties("'" + kCamera + ".SIMULATOR_SETTINGS.SIM_ROTATION=90' '" + kScope +
                                  ".TELESCOPE_TRACK_STATE.TRACK_ON=On' '" + kScope + ".ON_COORD_SET.SYNC=On'"));
        ASSERT_TRUE(setProperties("'" + kScope + ".EQUATORIAL_EOD_COORD.RA;DEC=" + radec + "'"));
        std::this_thread::sleep_for(milliseconds(1500));  // the pier side turns the picture
    }

    // n new frames within `limit`.
    static bool frames(Picture& picture, int n, milliseconds limit = milliseconds(10000))
    {
        std::string error;
        return waitUntil([&] {
            const GrabStatus g = camera->grab(picture, error);
            EXPECT_NE(g, GrabStatus::Lost) << error;
            n -= g == GrabStatus::NewFrame;
            return n <= 0 || g == GrabStatus::Lost;
        }, limit) && n <= 0;
    }

    // The star in a frame exposed wholly after now.
    static std::optional<Star> starAfterNow(const Star& near)
    {
        Picture p;
        std::string error;
        camera->grab(p, error);  // what had already come
        return frames(p, 2) ? findStar(p, near.x, near.y) : std::nullopt;
    }

    // A window on the guide star (near the middle of the whole frame).
    static std::optional<Star> windowOnGuideStar(Framing framing)
    {
        Picture p;
        EXPECT_TRUE(camera->setFormat(int(Framing::Whole)).ok);
        const auto whole = frames(p, 2) ? findStar(p, 160, 120) : std::nullopt;
        if (!whole)
            return std::nullopt;
        const PictureOnCamera at = camera->pictureOnCamera();
        EXPECT_TRUE(camera->setControl("window_x", std::lround(at.originX + (whole->x + 0.5) * at.scale)).ok);
        EXPECT_TRUE(camera->setControl("window_y", std::lround(at.originY + (whole->y + 0.5) * at.scale)).ok);
        EXPECT_TRUE(camera->setFormat(int(framing)).ok);
        return frames(p, 2) ? findStar(p, 160, 120) : std::nullopt;
    }

    static std::optional<Star> afterPulse(GuideAxis axis, int ms, const Star& near)
    {
        mount->pulse({axis, ms, true, 0, 0});
        std::this_thread::sleep_for(milliseconds(std::abs(ms) + 300));
        return starAfterNow(near);
    }

    static const PulseMoves& calibrate()
    {
        if (calibration.done)
            return calibration;
        prepareSky();
        const auto start = windowOnGuideStar(Framing::Window);
        if (!start)
            return calibration;
        const auto east = afterPulse(GuideAxis::Ra, -2000, *start);
        const auto west = east ? afterPulse(GuideAxis::Ra, 2000, *east) : std::nullopt;
        const auto north = west ? afterPulse(GuideAxis::Dec, -2000, *west) : std::nullopt;
        const auto south = north ? afterPulse(GuideAxis::Dec, 2000, *north) : std::nullopt;
        if (!south)
            return calibration;
        calibration = {true, east->x - start->x, east->y - start->y, north->x - west->x, north->y - west->y,
                       west->x - start->x, south->y - west->y};
        std::printf("2 s pulses, full resolution: East dx %+.2f dy %+.2f px, North dx %+.2f dy %+.2f px\n",
                    calibration.eastDx, calibration.eastDy, calibration.northDx, calibration.northDy);
        return calibration;
    }

    static inline SteadyClock clock;
    static inline IndiConnection* connection = nullptr;
    static inline IndiStatus serverStatus;
    static inline std::unique_ptr<IndiCamera> camera;
    static inline std::unique_ptr<CoreRig> rig;  // whose channel the mount announces on
    static inline std::unique_ptr<IndiMountOutput> mount;
    static inline PulseMoves calibration;
};

}  // namespace

TEST_F(IndiBench, TheSimulatorsAreACameraAndAMount)
{
    EXPECT_EQ(connection->devices(IndiDeviceKind::Camera), std::vector<std::string>{kCamera});
    EXPECT_EQ(connection->devices(IndiDeviceKind::Mount), std::vector<std::string>{kScope});
    const auto cameras = makeIndiCameras(*connection, clock);
    ASSERT_EQ(cameras.size(), 1u);
    EXPECT_EQ(cameras[0]->name(), kCamera);
    EXPECT_EQ(cameras[0]->device(), "indi://localhost:7624/CCD Simulator");
    EXPECT_EQ(IndiCamera(*connection, clock, "QHY CCD").connect().error,
              "no INDI device \"QHY CCD\" on the server at localhost:7624");

    struct Case {
        std::optional<std::string> mountVariable;
        std::string error;
    } cases[] = {
        {std::nullopt, ""},
        {kScope, ""},
        {"EQMod Mount", "no INDI device \"EQMod Mount\" on the server at localhost:7624 (mounts: \"Telescope Simulator\")"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mountVariable.value_or("(unset)"));
        ScopedEnv named(kIndiMountVariable, c.mountVariable);
        CoreRig r(IndiMount);
        IndiMountOutput output(*connection, r.core.channel);
        EXPECT_EQ(output.connect().error, c.error);
        EXPECT_EQ(output.ready(), c.error.empty());
        EXPECT_EQ(output.mountName(), c.mountVariable.value_or(kScope));
    }
}

TEST_F(IndiBench, FramesShowTheStarsAndTheWindowsCentreTheOneTheyAreOn)
{
    prepareSky();
    std::vector<std::string> ids;
    for (const CaptureControl& c : camera->controls())
        ids.push_back(c.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"exposure", "gain", "binning", "window_x", "window_y", "auto_levels",
                                             "black", "white"}));
    EXPECT_EQ(camera->setControl("window_x", 1280).error, "Window x: 1280 is outside 0 to 1279");

    // The whole 5:4 frame: a dark sky and stars; then windows on the star
    // near the middle bring it to the centre, larger.
    Picture picture;
    ASSERT_TRUE(camera->setFormat(int(Framing::Whole)).ok);
    ASSERT_TRUE(frames(picture, 2));
    EXPECT_EQ(camera->formats()[0].label, "1280 x 1024 whole, reduced");
    std::vector<uint32_t> sorted = picture.bits;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    EXPECT_LT(sorted[sorted.size() / 2] & 0xff, 20u) << "the sky is not dark";
    const auto star = findStar(picture, 160, 120);
    ASSERT_TRUE(star);
    for (Framing f : {Framing::Window, Framing::WindowBinned}) {
        SCOPED_TRACE(int(f));
        const auto centred = windowOnGuideStar(f);
        ASSERT_TRUE(centred);
        EXPECT_NEAR(centred->x, 160, 4);
        EXPECT_NEAR(centred->y, 120, 4);
        EXPECT_GT(centred->pixels, star->pixels);
    }
}

TEST_F(IndiBench, ATimedPulseMovesTheStarByTheGuideRateAlongItsAxis)
{
    const PulseMoves& c = calibrate();
    ASSERT_TRUE(c.done) << "the star was lost during the pulses";
    EXPECT_NEAR(std::fabs(c.eastDx), kTwoSecondPulsePx, 2.5);
    EXPECT_NEAR(c.eastDy, 0, 1.5);
    EXPECT_NEAR(std::fabs(c.northDy), kTwoSecondPulsePx, 2.5);
    EXPECT_NEAR(c.northDx, 0, 1.5);
    EXPECT_NEAR(c.westBack, 0, 1.5);  // the opposite pulse brings it back
    EXPECT_NEAR(c.southBack, 0, 1.5);
}

TEST_F(IndiBench, ASlewButtonMovesTheMountWhileHeldAndStopsItOnRelease)
{
    const PulseMoves& c = calibrate();
    ASSERT_TRUE(c.done);
    ASSERT_TRUE(setProperties("'" + kScope + ".TELESCOPE_SLEW_RATE.1x=On'"));  // sidereal, 12.6 px/s
    std::vector<std::string> motions;
    const int observer = rig->core.channel.addObserver([&motions](const MountEvent& e) {
        if (e.kind == MountEvent::Kind::Motion)
            motions.push_back(std::string(e.on ? "+" : "-") + directionLetter(e.direction));
    });
    const double x = std::copysign(12.6, c.eastDx), y = std::copysign(12.6, c.northDy);
    struct Case {
        SlewButton button;
        double dx, dy;  // in one second, the same way as a pulse
    } cases[] = {{SlewButton::West, -x, 0}, {SlewButton::East, x, 0}, {SlewButton::North, 0, y}, {SlewButton::South, 0, -y}};
    std::optional<Star> before = starAfterNow({160, 120});
    for (const Case& k : cases) {
        SCOPED_TRACE(int(k.button));
        ASSERT_TRUE(before);
        mount->slew({k.button, 0, true});
        std::this_thread::sleep_for(milliseconds(1000));
        mount->slew({k.button, 0, false});
        std::this_thread::sleep_for(milliseconds(300));
        const auto moved = starAfterNow(*before);
        ASSERT_TRUE(moved);
        const auto still = starAfterNow(*moved);  // a second later: stopped
        ASSERT_TRUE(still);
        // The simulator moves the mount on its 250 ms polls: +-3 px.
        EXPECT_NEAR(moved->x - before->x, k.dx, 4.5);
        EXPECT_NEAR(moved->y - before->y, k.dy, 4.5);
        EXPECT_NEAR(std::hypot(still->x - moved->x, still->y - moved->y), 0, 1.0);
        before = still;
    }
    rig->core.channel.removeObserver(observer);
    EXPECT_EQ(motions, (std::vector<std::string>{"+W", "-W", "+E", "-E", "+N", "-N", "+S", "-S"}));
}

TEST_F(IndiBench, TheGuiderBringsADisplacedStarBackThroughTheIndiMount)
{
    const PulseMoves& c = calibrate();
    ASSERT_TRUE(c.done);
    ASSERT_TRUE(camera->setControl("exposure", 200).ok);
    const auto star = windowOnGuideStar(Framing::Window);
    ASSERT_TRUE(star);

    // The guider's core as the program builds it, on the INDI mount, with
    // the simulators' optics (5.2 um at 90 cm) and guide rate, and the
    // inversions from the pulses.
    CoreRig guider(IndiMount);
    tparam& p = *guider.state.params;
    p.focalLength = 90.0;
    p.pixelSize = 5.2;
    p.raSpeed = p.decSpeed = kGuideArcsecPerSec;
    p.invertRa = c.invertRa();
    p.invertDec = c.invertDec();
    IndiMountOutput output(*connection, guider.core.channel);
    guider.core.mount.setOutput(IndiMount, &output);
    const InterfaceApplied applied = guider.core.mount.applyInterface();
    ASSERT_TRUE(applied.output && applied.output->ok);
    std::string pulses;
    int longestMs = 0;  // of the last correction
    guider.core.channel.addObserver([&](const MountEvent& e) {
        if (e.kind == MountEvent::Kind::TimedPulse) {
            pulses += directionLetter(e.direction);
            longestMs = std::max(longestMs, e.lengthMs);
        }
    });
    guider.state.regionX = int(std::lround(star->x)) - 50;
    guider.state.regionY = int(std::lround(star->y)) - 50;

    // A measurement cycle every 1.2 s at the most often, each on a frame
    // exposed after the last correction was over: a frame exposed while the
    // mount was still moving would be corrected again (the simulated mount
    // moves on its 250 ms polls, and frames come a few tenths of a second
    // after their exposure), and the loop would overshoot and ring.
    auto cycle = [&]() -> const CycleResult& {
        const auto start = Steady::now();
        std::this_thread::sleep_for(milliseconds(longestMs + 300));
        longestMs = 0;
        Picture picture;
        std::string error;
        camera->grab(picture, error);  // what was exposed before
        EXPECT_TRUE(frames(picture, 2));
        std::this_thread::sleep_until(start + milliseconds(1200));
        guider.clock.advanceMs(1200);
        return guider.core.session.measureCycle(picture.view());
    };
    for (int i = 0; i < 3; ++i)
        cycle();  // the threshold settles on the star's peak
    guider.core.session.startTracking();
    const CycleResult& locked = cycle();
    EXPECT_LE(std::abs(locked.dx) + std::abs(locked.dy), 2);  // a pixel each way from the frame of the lock

    // Knocked aside behind the guider's back, 1.5 s East and 1.2 s South
    // (some 10 and 8 px), by another client.
    ASSERT_TRUE(setProperties("'" + kScope + ".TELESCOPE_TIMED_GUIDE_WE.TIMED_GUIDE_W;TIMED_GUIDE_E=0;1500' '" +
                              kScope + ".TELESCOPE_TIMED_GUIDE_NS.TIMED_GUIDE_N;TIMED_GUIDE_S=0;1200'"));
    std::this_thread::sleep_for(milliseconds(1800));
    pulses.clear();
    std::string trace;
    int knockX = 0, knockY = 0;
    for (int i = 0; i < 10; ++i) {
        const CycleResult& r = cycle();
        EXPECT_FALSE(r.measurement.gated) << "star lost at cycle " << i;
        trace += " (" + std::to_string(r.dx) + "," + std::to_string(r.dy) + ")";
        if (i == 0)
            knockX = r.dx, knockY = r.dy;
        // Back on the lock after five cycles, within the one-pixel steps of
        // the measurement and of the simulator (it draws stars on whole
        // pixels): no ringing.
        if (i >= 5) {
            EXPECT_LE(std::abs(r.dx), 3) << "cycle " << i;
            EXPECT_LE(std::abs(r.dy), 3) << "cycle " << i;
        }
    }
    std::printf("guiding errors after the knock, px:%s; pulses %s\n", trace.c_str(), pulses.c_str());
    EXPECT_GE(std::abs(knockX), 6);
    EXPECT_GE(std::abs(knockY), 5);
    EXPECT_EQ(pulses.substr(0, 2), "WN");  // the first correction undoes the knock
    const auto back = starAfterNow(*star);
    ASSERT_TRUE(back);
    EXPECT_NEAR(back->x, guider.state.referenceX, 2.5);
    EXPECT_NEAR(back->y, guider.state.referenceY, 2.5);
    ASSERT_TRUE(camera->setControl("exposure", 500).ok);
}

// `quorvel guide` as a user runs it on the INDI camera (its window on the
// star) and the INDI mount: the star is held and the log names the mount.
TEST_F(IndiBench, QuorvelGuideHoldsTheStarOnTheIndiCameraAndMount)
{
    const PulseMoves& c = calibrate();
    ASSERT_TRUE(c.done);
    camera->disconnect();  // the command takes the camera over
    TempDir dir;
    {
        FakeClock clock;
        SharedState s(clock);
        tparam& p = *s.params;
        p.interfaceType = IndiMount;
        p.focalLength = 90.0;
        p.pixelSize = 5.2;
        p.raSpeed = p.decSpeed = kGuideArcsecPerSec;
        p.invertRa = c.invertRa();
        p.invertDec = c.invertDec();
        saveParams(s, dir.file("qv185.dat"));
    }
    const RunResult listed = runQuorvel({"sources"}, dir.path(), {"QT_QPA_PLATFORM=none"});
    int entry = -1;
    for (const QJsonObject& line : jsonLines(listed.out))
        if (line.value("name").toString().toStdString() == kCamera)
            entry = line.value("index").toInt();
    ASSERT_GE(entry, 0) << listed.out;

    const RunResult r = runQuorvel({"guide", "--source", std::to_string(entry), "--format", "1", "--seconds", "30",
                                    "--log", "night.log"},
                                   dir.path(), {"QT_QPA_PLATFORM=none"}, 120000);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<QJsonObject> lines = jsonLines(r.out);
    ASSERT_FALSE(lines.empty());
    const QJsonObject summary = lines.back();
    std::printf("quorvel guide on INDI: %s\n", r.out.substr(r.out.rfind("{\"summary")).c_str());
    EXPECT_TRUE(summary.value("summary").toBool());
    EXPECT_GE(summary.value("cycles").toInt(), 4);
    EXPECT_LE(summary.value("max_px").toDouble(), 3.0);
    EXPECT_NE(readFile(dir.file("night.log")).find("Mount = INDI (monture)"), std::string::npos);
    ASSERT_TRUE(camera->connect().ok);  // back for the tests after this one
}

TEST_F(IndiBench, ADeviceOrServerThatGoesAwayIsLostUntilConnectedAgain)
{
    OwnServer server;
    server.start();
    IndiConnection own(IndiServerAddress{"localhost", 7625});
    IndiCamera ccd(own, clock, kCamera);
    ASSERT_TRUE(ccd.connect().ok);
    ASSERT_TRUE(ccd.setControl("exposure", 100).ok);
    CoreRig r(IndiMount);
    IndiMountOutput scope(own, r.core.channel);
    ASSERT_TRUE(scope.connect().ok);
    Picture picture;
    std::string error;
    auto comes = [&](GrabStatus wanted) { return waitUntil([&] { return ccd.grab(picture, error) == wanted; }); };
    ASSERT_TRUE(comes(GrabStatus::NewFrame));

    struct Case {
        const char* what;
        std::function<void()> takeAway;
        std::string cameraLost;  // the message; "" when the camera goes on
        bool mountLost;
    } cases[] = {
        {"another client disconnects the camera",
         [] { EXPECT_TRUE(setProperties("-p 7625 'CCD Simulator.CONNECTION.DISCONNECT=On'")); },
         "CCD Simulator: the device was disconnected", false},
        {"another client disconnects the mount",
         [] { EXPECT_TRUE(setProperties("-p 7625 'Telescope Simulator.CONNECTION.DISCONNECT=On'")); }, "", true},
        {"the server stops", [&] { server.stop(); }, "CCD Simulator: the INDI server at localhost:7625 went away",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Picture last = picture;
        c.takeAway();
        if (c.mountLost) {
            EXPECT_TRUE(waitUntil([&] { return !scope.ready(); }));
        }
        scope.pulse({GuideAxis::Ra, 300, true, 0, 20});  // announced, and sent or dropped
        EXPECT_EQ(r.seen.back().kind, MountEvent::Kind::TimedPulse);
        if (c.cameraLost.empty()) {
            EXPECT_TRUE(comes(GrabStatus::NewFrame));
        } else {
            EXPECT_TRUE(comes(GrabStatus::Lost));
            EXPECT_EQ(error, c.cameraLost);
            EXPECT_FALSE(ccd.connected());
            EXPECT_EQ(picture.bits, last.bits);  // the last picture stays
        }
        EXPECT_EQ(scope.ready(), !c.mountLost);
        if (!own.connected())
            server.start();
        const CaptureStatus camera = ccd.connect();
        EXPECT_TRUE(camera.ok) << camera.error;
        EXPECT_TRUE(comes(GrabStatus::NewFrame));
        const OutputStatus mountAgain = scope.connect();
        EXPECT_TRUE(mountAgain.ok) << mountAgain.error;
    }
}

TEST_F(IndiBench, AMountLostWithItsServerIsConnectedAgainByTheNextPulses)
{
    // The server dies under a guiding mount and comes back: the next pulse
    // says it was lost, and a pulse five seconds on connects it again.
    OwnServer server;
    server.start();
    IndiConnection own(IndiServerAddress{"localhost", 7625});
    CoreRig r(IndiMount);
    IndiMountOutput scope(own, r.core.channel);
    std::vector<std::string> heard;
    scope.setLinkListener([&](bool up, const std::string& m) { heard.push_back((up ? "+" : "-") + m); });
    ASSERT_TRUE(scope.connect().ok);
    server.stop();
    ASSERT_TRUE(waitUntil([&] { return !scope.ready(); }));
    scope.pulse({GuideAxis::Ra, 300, true, 0, 20});
    server.start();
    scope.pulse({GuideAxis::Ra, 300, true, 0, 20});
    EXPECT_FALSE(scope.ready());  // tried again only after five seconds
    r.clock.pauseMs(5000);
    scope.pulse({GuideAxis::Dec, 300, true, 0, 20});
    EXPECT_TRUE(scope.ready());
    EXPECT_EQ(heard, (std::vector<std::string>{
                         "-the INDI mount Telescope Simulator was lost: guide pulses reach nothing until it is back",
                         "+the INDI mount Telescope Simulator is connected again"}));
}

// Connecting has the frames sent to us without taking away a copy the user
// asked the device to save: "local" becomes "both", the others stay.
TEST_F(IndiBench, ConnectingSendsUsTheFramesAndKeepsTheLocalCopy)
{
    prepareSky();
    camera->disconnect();
    const struct {
        std::string before, after;
    } cases[] = {{"UPLOAD_LOCAL", "UPLOAD_BOTH"}, {"UPLOAD_BOTH", "UPLOAD_BOTH"}, {"UPLOAD_CLIENT", "UPLOAD_CLIENT"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        const std::string mode = kCamera + ".UPLOAD_MODE.";
        ASSERT_TRUE(setProperties("'" + mode + c.before + "=On'"));
        ASSERT_TRUE(waitUntil([&] { return switchState(mode + c.before) == "On"; }));
        ASSERT_TRUE(camera->connect().ok);
        Picture p;
        EXPECT_TRUE(frames(p, 2));
        EXPECT_EQ(switchState(mode + c.after), "On");
        camera->disconnect();
    }
    ASSERT_TRUE(camera->connect().ok);  // back for the tests after this one, in "client"
}
