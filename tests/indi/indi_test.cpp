// The INDI cameras and mount against the real thing: indiserver with the CCD
// and telescope simulators, started by tests/indi/indi-bench.sh (ctest runs
// test_indi through it). The simulated camera draws the stars of the stand-in
// catalogue where the simulated mount points, so a pulse or a slew sent here
// moves the star in the frames that come back, and the guider's core can
// close the loop on them.
//
// The mount is synced at declination 0, an hour east of the meridian,
// tracking; the camera is turned 90 degrees so that right ascension runs
// along the picture's x, as the guider expects. The guide rate is half the
// sidereal rate: 7.52"/s, or 12.6 camera pixels of 1.19" in two seconds.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/corerig.h"
#include "core/indi/framing.h"
#include "core/indi/indicamera.h"
#include "core/indi/indiconnection.h"
#include "core/indi/indimount.h"
#include "ptyline.h"

extern char** environ;

namespace {

using Steady = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::string kCamera = "CCD Simulator";
const std::string kScope = "Telescope Simulator";
constexpr double kArcsecPerPixel = 1.19;          // 5.2 um at 900 mm
constexpr double kGuideArcsecPerSec = 0.5 * 15.041;
constexpr int kExposureMs = 500;

// Sets properties as any INDI client would (indi_setprop), outside our code.
bool setProperties(const std::string& assignments)
{
    const std::string command = "indi_setprop -t 5 " + assignments + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

struct Star {
    double x = 0, y = 0;  // grey-weighted centroid, picture pixels
    int pixels = 0;       // above half grey
};

// The star in the picture: the blob of pixels of grey 128 or more that is
// nearest `near` (within 60 px), or the largest one.
std::optional<Star> findStar(const Picture& p, std::optional<Star> near = std::nullopt)
{
    constexpr int W = Picture::width, H = Picture::height;
    std::vector<int> label(W * H, 0);
    std::optional<Star> best;
    double bestScore = 0;
    int next = 0;
    for (int start = 0; start < W * H; ++start) {
        if (label[start] || (p.bits[start] & 0xff) < 128)
            continue;
        ++next;
        Star s;
        double weight = 0;
        std::vector<int> todo{start};
        label[start] = next;
        while (!todo.empty()) {
            const int i = todo.back();
            todo.pop_back();
            const double g = p.bits[i] & 0xff;
            s.x += g * (i % W);
            s.y += g * (i / W);
            weight += g;
            ++s.pixels;
            const int x = i % W, y = i / W;
            for (auto [nx, ny] : {std::pair{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}}) {
                const int j = ny * W + nx;
                if (nx >= 0 && ny >= 0 && nx < W && ny < H && !label[j] && (p.bits[j] & 0xff) >= 128) {
                    label[j] = next;
                    todo.push_back(j);
                }
            }
        }
        s.x /= weight;
        s.y /= weight;
        const double score = near ? -std::hypot(s.x - near->x, s.y - near->y) : s.pixels;
        if (near && -score > 60)
            continue;
        if (!best || score > bestScore) {
            best = s;
            bestScore = score;
        }
    }
    return best;
}

// Local sidereal time at longitude 0 (the simulators' site), in hours.
double siderealHours()
{
    const double days = double(std::time(nullptr)) / 86400.0 - 10957.5;  // since J2000
    return std::fmod(18.697374558 + 24.06570982441908 * days, 24.0);
}

// A second indiserver of our own, with the CCD simulator alone, that a test
// can stop and start again.
class OwnServer {
public:
    explicit OwnServer(int port) : port_(port) {}
    ~OwnServer() { stop(); }

    void start()
    {
        const std::string port = std::to_string(port_);
        const std::string local = "/tmp/quorvel-indiserver-" + port;  // the bench's server has the default one
        const char* argv[] = {"indiserver", "-p", port.c_str(), "-u", local.c_str(), "indi_simulator_ccd", nullptr};
        posix_spawn_file_actions_t quiet;
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
        ASSERT_EQ(posix_spawnp(&pid_, "indiserver", &quiet, nullptr, const_cast<char**>(argv), environ), 0);
        posix_spawn_file_actions_destroy(&quiet);
        // Ready when the driver answers.
        const std::string probe = "indi_getprop -t 1 -p " + port + " 'CCD Simulator.CONNECTION.CONNECT' >/dev/null 2>&1";
        for (int i = 0; i < 40 && std::system(probe.c_str()) != 0; ++i)
            std::this_thread::sleep_for(milliseconds(250));
    }

    void stop()
    {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    int port_;
    pid_t pid_ = -1;
};

// What a two-second pulse in each direction did to the star, full resolution.
struct Calibration {
    bool done = false;
    double eastDx = 0, eastDy = 0, northDx = 0, northDy = 0;
    double westBackX = 0, southBackY = 0;  // distance from the start after the return pulse
    bool invertRa = false, invertDec = false;
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
        delete mount;
        mount = nullptr;
        delete channelRig;
        channelRig = nullptr;
        delete connection;
        connection = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(serverStatus.ok) << serverStatus.error
                                     << " -- test_indi needs the INDI simulators: run it through "
                                        "tests/indi/indi-bench.sh (ctest does)";
    }

    // The camera connected and exposing, the mount connected, tracking and
    // synced, the picture turned: once for the suite.
    static void prepareSky()
    {
        if (skyReady)
            return;
        camera = std::make_unique<IndiCamera>(*connection, kCamera);
        const auto start = Steady::now();
        const CaptureStatus c = camera->connect();
        const double connected = std::chrono::duration<double>(Steady::now() - start).count();
        ASSERT_TRUE(c.ok) << c.error;
        ASSERT_TRUE(camera->setControl("exposure", kExposureMs).ok);
        Picture first;
        ASSERT_TRUE(frames(first, 1, milliseconds(10000))) << "no frame within 10 s of connecting";
        std::printf("connected in %.2f s, first frame (1 s exposure) after %.2f s\n", connected,
                    std::chrono::duration<double>(Steady::now() - start).count());
        channelRig = new CoreRig(IndiMount);
        mount = new IndiMountOutput(*connection, channelRig->core.channel);
        const OutputStatus m = mount->connect();
        ASSERT_TRUE(m.ok) << m.error;
        char radec[64];
        std::snprintf(radec, sizeof radec, "%.6f;0", std::fmod(siderealHours() + 1.0, 24.0));
        ASSERT_TRUE(setProperties("'" + kCamera + ".SIMULATOR_SETTINGS.SIM_ROTATION=90'"));
        ASSERT_TRUE(setProperties("'" + kScope + ".TELESCOPE_TRACK_STATE.TRACK_ON=On'"));
        ASSERT_TRUE(setProperties("'" + kScope + ".ON_COORD_SET.SYNC=On'"));
        ASSERT_TRUE(setProperties("'" + kScope + ".EQUATORIAL_EOD_COORD.RA;DEC=" + radec + "'"));
        // The mount polls its position (and turns the picture with its pier
        // side) four times a second.
        std::this_thread::sleep_for(milliseconds(1500));
        skyReady = true;
    }

    // Waits for n new frames (at most `limit`); false when they did not come.
    static bool frames(Picture& picture, int n, milliseconds limit = milliseconds(15000))
    {
        const auto end = Steady::now() + limit;
        std::string error;
        while (n > 0 && Steady::now() < end) {
            const GrabStatus g = camera->grab(picture, error);
            if (g == GrabStatus::Lost) {
                ADD_FAILURE() << error;
                return false;
            }
            if (g == GrabStatus::NewFrame)
                --n;
            else
                std::this_thread::sleep_for(milliseconds(20));
        }
        return n == 0;
    }

    // A frame whose whole exposure began after now: the one in progress is
    // let go by.
    static std::optional<Star> starAfterNow(std::optional<Star> near)
    {
        Picture p;
        std::string error;
        camera->grab(p, error);  // whatever had already come
        if (!frames(p, 2))
            return std::nullopt;
        return findStar(p, near);
    }

    // The window at full resolution on the brightest star: found in the
    // whole frame first, then brought to the picture's centre.
    static std::optional<Star> windowOnGuideStar(Framing framing)
    {
        Picture p;
        EXPECT_TRUE(camera->setFormat(int(Framing::Whole)).ok);
        if (!frames(p, 2))
            return std::nullopt;
        // The catalogue puts the guide star near where the mount points.
        const auto whole = findStar(p, Star{Picture::width / 2.0, Picture::height / 2.0});
        if (!whole)
            return std::nullopt;
        const PictureOnCamera at = camera->pictureOnCamera();
        EXPECT_TRUE(camera->setControl("window_x", std::lround(at.originX + (whole->x + 0.5) * at.scale)).ok);
        EXPECT_TRUE(camera->setControl("window_y", std::lround(at.originY + (whole->y + 0.5) * at.scale)).ok);
        EXPECT_TRUE(camera->setFormat(int(framing)).ok);
        if (!frames(p, 2))
            return std::nullopt;
        return findStar(p);
    }

    // A timed pulse through our mount output, waited out.
    static void pulseAndWait(GuideAxis axis, int ms)
    {
        mount->pulse({axis, ms, true, 0, 0});
        std::this_thread::sleep_for(milliseconds(std::abs(ms) + 300));
    }

    static const Calibration& calibrate()
    {
        if (calibration.done)
            return calibration;
        prepareSky();
        const auto start = windowOnGuideStar(Framing::Window);
        if (!start)
            return calibration;
        pulseAndWait(GuideAxis::Ra, -2000);  // East
        const auto east = starAfterNow(start);
        pulseAndWait(GuideAxis::Ra, 2000);   // West
        const auto west = starAfterNow(start);
        pulseAndWait(GuideAxis::Dec, -2000);  // North
        const auto north = starAfterNow(start);
        pulseAndWait(GuideAxis::Dec, 2000);   // South
        const auto south = starAfterNow(start);
        if (!east || !west || !north || !south)
            return calibration;
        calibration.eastDx = east->x - start->x;
        calibration.eastDy = east->y - start->y;
        calibration.westBackX = west->x - start->x;
        calibration.northDx = north->x - west->x;
        calibration.northDy = north->y - west->y;
        calibration.southBackY = south->y - start->y;
        // The guider pulses West for a star right of its lock and South for
        // one below it: West must move the star left, South up. The user
        // ticks "Inverse AD" / "Inverse DEC" when it goes the other way.
        calibration.invertRa = calibration.eastDx < 0;   // West moves it right
        calibration.invertDec = calibration.northDy < 0;  // South moves it down
        calibration.done = true;
        std::printf("pulses of 2 s, full resolution: East dx %+.2f dy %+.2f px, North dx %+.2f dy %+.2f px; "
                    "after West back by %+.2f, after South back by %+.2f\n",
                    calibration.eastDx, calibration.eastDy, calibration.northDx, calibration.northDy,
                    calibration.westBackX, calibration.southBackY);
        return calibration;
    }

    static inline IndiConnection* connection = nullptr;
    static inline IndiStatus serverStatus;
    static inline std::unique_ptr<IndiCamera> camera;
    static inline CoreRig* channelRig = nullptr;  // the channel the mount output announces on
    static inline IndiMountOutput* mount = nullptr;
    static inline bool skyReady = false;
    static inline Calibration calibration;
};

}  // namespace

TEST_F(IndiBench, TheSimulatorsAreFoundAsACameraAndAMount)
{
    EXPECT_EQ(connection->devices(IndiDeviceKind::Camera), std::vector<std::string>{kCamera});
    EXPECT_EQ(connection->devices(IndiDeviceKind::Mount), std::vector<std::string>{kScope});
    const auto cameras = makeIndiCameras(*connection);
    ASSERT_EQ(cameras.size(), 1u);
    EXPECT_EQ(cameras[0]->name(), kCamera);
    EXPECT_EQ(cameras[0]->device(), "indi://localhost:7624/CCD Simulator");
    EXPECT_FALSE(cameras[0]->connected());

    // Devices that are not there, or not a mount: named in the message.
    struct Case {
        std::string mountName;
        std::string error;
    } cases[] = {
        {"", ""},
        {kScope, ""},
        {"EQMod Mount", "no INDI device \"EQMod Mount\" on the server at localhost:7624 (mounts: \"Telescope Simulator\")"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mountName);
        ScopedEnv named(kIndiMountVariable, c.mountName.empty() ? std::nullopt : std::optional(c.mountName));
        CoreRig rig(IndiMount);
        IndiMountOutput output(*connection, rig.core.channel);
        const OutputStatus s = output.connect();
        EXPECT_EQ(s.error, c.error);
        EXPECT_EQ(output.ready(), c.error.empty());
        if (s.ok) {
            EXPECT_EQ(output.mountName(), kScope);
        }
    }
    IndiCamera missing(*connection, "QHY CCD");
    EXPECT_EQ(missing.connect().error, "no INDI device \"QHY CCD\" on the server at localhost:7624");
}

TEST_F(IndiBench, TheCameraSendsFramesThatShowStarsWhereTheWindowIsPut)
{
    prepareSky();
    ASSERT_TRUE(camera->connected());
    Picture picture;
    ASSERT_TRUE(frames(picture, 1, milliseconds(5000))) << "no frame within 5 s";

    // What "Adjust" offers: the simulator has a gain and binning.
    std::vector<std::string> ids;
    for (const CaptureControl& c : camera->controls())
        ids.push_back(c.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"exposure", "gain", "binning", "window_x", "window_y", "auto_levels",
                                             "black", "white"}));
    EXPECT_EQ(camera->setControl("window_x", 1280).error, "Window x: 1280 is outside 0 to 1279");
    EXPECT_EQ(camera->setControl("focus", 1).error, "no such control: focus");
    EXPECT_EQ(camera->setFormat(3).error, "no format 3: choose 0 to 2");
    ASSERT_EQ(camera->formats().size(), 3u);
    EXPECT_EQ(camera->formats()[0].label, "1280 x 1024 whole, reduced");

    // The whole frame: a dark sky, stars saturated, the 5:4 frame between
    // two black bands.
    ASSERT_TRUE(camera->setFormat(int(Framing::Whole)).ok);
    ASSERT_TRUE(frames(picture, 2));
    const PictureOnCamera whole = camera->pictureOnCamera();
    EXPECT_EQ(whole.frameWidth, 1280);
    EXPECT_EQ(whole.frameHeight, 1024);
    std::vector<int> greys;
    for (uint32_t px : picture.bits)
        greys.push_back(int(px & 0xff));
    std::nth_element(greys.begin(), greys.begin() + greys.size() / 2, greys.end());
    EXPECT_LT(greys[greys.size() / 2], 20) << "the sky is not dark";
    const auto star = findStar(picture);
    ASSERT_TRUE(star) << "no star in the whole frame";

    // The windows put on that star bring it to the picture's centre.
    for (Framing f : {Framing::Window, Framing::WindowBinned}) {
        SCOPED_TRACE(int(f));
        const auto centred = windowOnGuideStar(f);
        ASSERT_TRUE(centred);
        EXPECT_NEAR(centred->x, 160, 4);
        EXPECT_NEAR(centred->y, 120, 4);
        EXPECT_EQ(camera->pictureOnCamera().scale, f == Framing::Window ? 1 : 2);
        // Larger than in the whole frame: the resolution guiding needs.
        EXPECT_GT(centred->pixels, star->pixels);
    }
}

TEST_F(IndiBench, ATimedPulseMovesTheStarByTheGuideRateAlongItsAxis)
{
    const Calibration& c = calibrate();
    ASSERT_TRUE(c.done) << "the star was lost during the pulses";
    const double expected = 2.0 * kGuideArcsecPerSec / kArcsecPerPixel;  // 12.6 px
    EXPECT_NEAR(std::fabs(c.eastDx), expected, 2.5);
    EXPECT_NEAR(c.eastDy, 0, 1.5);
    EXPECT_NEAR(std::fabs(c.northDy), expected, 2.5);
    EXPECT_NEAR(c.northDx, 0, 1.5);
    // The opposite pulse brings it back.
    EXPECT_NEAR(c.westBackX, 0, 1.5);
    EXPECT_NEAR(c.southBackY, 0, 1.5);
}

TEST_F(IndiBench, ASlewButtonMovesTheMountWhileHeldAndStopsItOnRelease)
{
    const Calibration& c = calibrate();
    ASSERT_TRUE(c.done);
    ASSERT_TRUE(setProperties("'" + kScope + ".TELESCOPE_SLEW_RATE.1x=On'"));  // sidereal: 12.6 px/s
    const auto start = starAfterNow(std::nullopt);
    ASSERT_TRUE(start);
    struct Case {
        SlewButton button;
        double dx, dy;  // expected move in 1 s, full resolution
    } cases[] = {
        {SlewButton::West, -std::copysign(12.6, c.eastDx), 0},
        {SlewButton::East, std::copysign(12.6, c.eastDx), 0},
        {SlewButton::North, 0, std::copysign(12.6, c.northDy)},
        {SlewButton::South, 0, -std::copysign(12.6, c.northDy)},
    };
    std::vector<std::string> motions;
    const int observer = channelRig->core.channel.addObserver([&motions](const MountEvent& e) {
        if (e.kind == MountEvent::Kind::Motion)
            motions.push_back(std::string(e.on ? "+" : "-") + directionLetter(e.direction));
    });
    std::optional<Star> before = start;
    for (const Case& k : cases) {
        SCOPED_TRACE(int(k.button));
        mount->slewStart({k.button, 0});
        std::this_thread::sleep_for(milliseconds(1000));
        mount->slewStop({k.button, 0});
        std::this_thread::sleep_for(milliseconds(300));
        const auto moved = starAfterNow(before);
        ASSERT_TRUE(moved);
        const auto still = starAfterNow(moved);  // a second later: stopped
        ASSERT_TRUE(still);
        std::printf("slew %s held 1 s: dx %+.2f dy %+.2f px, then %+.2f %+.2f px\n",
                    directionName(slewButtonDirection(k.button)), moved->x - before->x, moved->y - before->y,
                    still->x - moved->x, still->y - moved->y);
        EXPECT_NEAR(moved->x - before->x, k.dx, 3.0);
        EXPECT_NEAR(moved->y - before->y, k.dy, 3.0);
        EXPECT_NEAR(still->x, moved->x, 1.0);
        EXPECT_NEAR(still->y, moved->y, 1.0);
        before = still;
    }
    channelRig->core.channel.removeObserver(observer);
    // Each motion was announced on the channel as it started and stopped.
    EXPECT_EQ(motions, (std::vector<std::string>{"+W", "-W", "+E", "-E", "+N", "-N", "+S", "-S"}));
}

TEST_F(IndiBench, TheGuiderBringsADisplacedStarBackThroughTheIndiMount)
{
    const Calibration& c = calibrate();
    ASSERT_TRUE(c.done);
    const auto star = windowOnGuideStar(Framing::Window);
    ASSERT_TRUE(star);

    // The guider's core as the program builds it, on the INDI mount, with the
    // optics of the simulators (1.19"/px) and their guide rate, and the
    // inversions a user would tick from the pulses above.
    CoreRig rig(IndiMount);
    tparam& p = *rig.state.params;
    p.focalLength = 90.0;
    p.pixelSize = 5.2;
    p.raSpeed = kGuideArcsecPerSec;
    p.decSpeed = kGuideArcsecPerSec;
    p.invertRa = c.invertRa;
    p.invertDec = c.invertDec;
    IndiMountOutput output(*connection, rig.core.channel);
    rig.core.mount.setOutput(IndiMount, &output);
    const InterfaceApplied applied = rig.core.mount.applyInterface();
    ASSERT_TRUE(applied.output && applied.output->ok) << (applied.output ? applied.output->error : "not opened");
    std::vector<std::string> pulses;
    rig.core.channel.addObserver([&pulses](const MountEvent& e) {
        if (e.kind == MountEvent::Kind::TimedPulse)
            pulses.push_back(std::string(1, directionLetter(e.direction)) + std::to_string(e.lengthMs));
    });
    rig.state.regionX = int(std::lround(star->x)) - 50;
    rig.state.regionY = int(std::lround(star->y)) - 50;

    // One measurement cycle every 1.2 s on the newest frame, as the program runs.
    Picture picture;
    auto cycle = [&]() -> const CycleResult& {
        std::this_thread::sleep_for(milliseconds(1200));
        std::string error;
        EXPECT_NE(camera->grab(picture, error), GrabStatus::Lost) << error;
        rig.clock.advanceMs(1200);
        return rig.core.session.measureCycle(picture.view());
    };
    for (int i = 0; i < 3; ++i)
        cycle();  // the threshold follows the star's peak
    ASSERT_GE(rig.state.population, 5);
    ASSERT_LE(rig.state.population, 200);
    rig.core.session.startTracking();
    const CycleResult& locked = cycle();
    EXPECT_LE(std::abs(locked.dx), 1);
    EXPECT_LE(std::abs(locked.dy), 1);

    // Knocked aside behind the guider's back (another client's pulses):
    // 1.5 s East and 1.2 s South, some 10 and 8 px.
    ASSERT_TRUE(setProperties("'" + kScope + ".TELESCOPE_TIMED_GUIDE_WE.TIMED_GUIDE_W;TIMED_GUIDE_E=0;1500'"));
    ASSERT_TRUE(setProperties("'" + kScope + ".TELESCOPE_TIMED_GUIDE_NS.TIMED_GUIDE_N;TIMED_GUIDE_S=0;1200'"));
    std::this_thread::sleep_for(milliseconds(1800));
    pulses.clear();
    std::vector<std::pair<int, int>> errors;
    for (int i = 0; i < 15; ++i) {
        const CycleResult& r = cycle();
        EXPECT_FALSE(r.measurement.gated) << "star lost at cycle " << i;
        errors.emplace_back(r.dx, r.dy);
    }
    std::string trace;
    for (const auto& [dx, dy] : errors)
        trace += " (" + std::to_string(dx) + "," + std::to_string(dy) + ")";
    std::printf("guiding errors after the knock, px:%s\n", trace.c_str());
    std::string sent;
    for (const std::string& s : pulses)
        sent += " " + s;
    std::printf("pulses:%s\n", sent.c_str());

    // The knock was seen, the first corrections undo it (West and North),
    // and the star is back on its lock at the end.
    EXPECT_GE(std::abs(errors.front().first), 6);
    EXPECT_GE(std::abs(errors.front().second), 5);
    ASSERT_GE(pulses.size(), 2u);
    EXPECT_EQ(pulses[0][0], 'W');
    EXPECT_EQ(pulses[1][0], 'N');
    for (size_t i = errors.size() - 3; i < errors.size(); ++i) {
        EXPECT_LE(std::abs(errors[i].first), 1) << "cycle " << i;
        EXPECT_LE(std::abs(errors[i].second), 1) << "cycle " << i;
    }
    const auto back = starAfterNow(star);
    ASSERT_TRUE(back);
    EXPECT_NEAR(back->x, rig.state.referenceX, 1.5);
    EXPECT_NEAR(back->y, rig.state.referenceY, 1.5);
}

TEST_F(IndiBench, AServerOrCameraThatGoesAwayIsLostUntilConnectedAgain)
{
    OwnServer server(7625);
    server.start();
    IndiConnection own(IndiServerAddress{"localhost", 7625});
    IndiCamera ccd(own, kCamera);
    const CaptureStatus first = ccd.connect();
    ASSERT_TRUE(first.ok) << first.error;
    ASSERT_TRUE(ccd.setControl("exposure", 100).ok);
    Picture picture;
    std::string error;
    auto waitFor = [&](GrabStatus wanted) {
        const auto end = Steady::now() + milliseconds(10000);
        GrabStatus g = GrabStatus::NoFrame;
        while (Steady::now() < end && (g = ccd.grab(picture, error)) != wanted)
            std::this_thread::sleep_for(milliseconds(20));
        return g;
    };
    ASSERT_EQ(waitFor(GrabStatus::NewFrame), GrabStatus::NewFrame);

    struct Case {
        const char* what;
        std::function<void()> takeAway;
        std::string message;
    } cases[] = {
        {"another client disconnects the camera",
         [] { EXPECT_TRUE(setProperties("-p 7625 'CCD Simulator.CONNECTION.DISCONNECT=On'")); },
         "CCD Simulator: the device was disconnected"},
        {"the server stops", [&] { server.stop(); }, "CCD Simulator: the INDI server at localhost:7625 went away"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Picture last = picture;
        c.takeAway();
        EXPECT_EQ(waitFor(GrabStatus::Lost), GrabStatus::Lost);
        EXPECT_EQ(error, c.message);
        EXPECT_FALSE(ccd.connected());
        EXPECT_EQ(ccd.grab(picture, error), GrabStatus::Lost);  // until connected again
        EXPECT_EQ(picture.bits, last.bits);                     // the last picture stays

        if (!own.connected())
            server.start();
        const CaptureStatus again = ccd.connect();
        ASSERT_TRUE(again.ok) << again.error;
        EXPECT_EQ(waitFor(GrabStatus::NewFrame), GrabStatus::NewFrame);
    }
}
