// The event server over a real socket, on the simulated sky and the fake
// clock: a night as N.I.N.A. has it, its guide steps checked against what
// the mount was sent; refusals with their reasons; the star, the mount and
// the exposure as a camera and an output give them; and the clients that
// must not disturb the guiding (one too many, one not reading, garbage).
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>
#include <string>
#include <vector>

#include "core/capture/simsky.h"
#include "core/corerig.h"
#include "core/log/guidelog.h"
#include "qt/looptimer.h"
#include "phdclient.h"
#include "qt/eventserver.h"
#include "qt/remoteguider.h"
#include "testsupport.h"

namespace {

// The server on a free port over the core rig; the simulated sky is capture
// entry 0 (a camera of the test's may be entry 1), ticked by the test as
// `quorvel serve`'s loop ticks it.
struct ServerRig {
    explicit ServerRig(std::unique_ptr<CaptureDriver> entry1 = nullptr)
    {
        auto held = std::make_shared<std::unique_ptr<CaptureDriver>>(std::move(entry1));
        rig.core.acquisition.setScan([this, held] {
            CaptureDriverList list;
            list.push_back(std::make_unique<SimulatedSky>(rig.state, rig.core.channel, "seed=3,drift_x=6,drift_y=-4"));
            if (*held)
                list.push_back(std::move(*held));  // scanned once
            while (list.size() < size_t(kCaptureEntries))
                list.push_back(std::make_unique<NoDriver>());
            return list;
        });
        QString error;
        EXPECT_TRUE(server.listen("127.0.0.1", 0, error)) << error.toStdString();
    }
    // A tick 200 ms after the last, the pulses ending on time in between.
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
    EventServer server{guider};
};

// A field as an INDI camera's whole frame reduced shows it: two stars that
// saturate the picture in 7 x 7 white squares, at (80, 60) and, eight times
// brighter by the camera's own values, at (240, 180); an exposure of its
// own, 5 ms to 20 s.
struct TwoStarCamera : NoDriver {
    CaptureStatus connect() override { return {}; }
    bool connected() const override { return true; }
    GrabStatus grab(Picture& p, std::string&) override
    {
        p.fill(0x101010);
        auto v = std::make_shared<std::vector<float>>(p.bits.size(), 100.0f);
        for (const auto& [cx, cy, peak] : {std::tuple{80, 60, 5e3f}, std::tuple{240, 180, 4e4f}})
            for (int i = 0; i < 49; ++i) {
                const int x = cx - 3 + i % 7, y = cy - 3 + i / 7;
                p.at(x, y) = 0xffffffff;
                (*v)[size_t(y * Picture::width + x)] = peak / (1.0f + float(std::hypot(x - cx, y - cy)));
            }
        values = std::move(v);
        return GrabStatus::NewFrame;
    }
    std::shared_ptr<const std::vector<float>> pictureValues() const override { return values; }
    std::string exposureControl() const override { return "exposure"; }
    std::vector<CaptureControl> controls() override
    {
        return {{"exposure", "Exposure (s)", CaptureControl::Kind::Integer, 5, 20000, 1, 1000, exposureMs, 0.001, {}}};
    }
    CaptureStatus setControl(const std::string&, int64_t ms) override { return exposureMs = ms, CaptureStatus{}; }
    int64_t exposureMs = 1000;
    std::shared_ptr<const std::vector<float>> values;
};

// The answer to one request line.
QJsonValue answer(ServerRig& s, const QByteArray& request)
{
    JsonRpcDispatcher d;
    s.guider.registerMethods(d);
    return QJsonDocument::fromJson(d.handleLine(request)).object();
}

std::function<double()> draws(std::vector<double> values)
{
    return [values, i = size_t(0)]() mutable { return values.at(i++ % values.size()); };
}

std::string compact(const QJsonValue& v)
{
    return v.isObject() ? QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact).toStdString()
                        : QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact).toStdString();
}

}  // namespace

TEST(EventServer, ANightAsNinaHasIt)
{
    TempDir dir;
    ServerRig s;
    s.guider.setRandom(draws({0.0, 0.99999}));
    std::string error;
    auto log = GuideLog::open(dir.file("guide.log"), [] { return std::tm{}; }, error);
    log->attach(s.rig.core.session, s.rig.state);
    s.guider.setGuideLog(log.get());
    struct Cycle {
        int64_t timeUs;
        int starMinusLockX, starMinusLockY;
    };
    std::vector<Cycle> cycles;  // the guide cycles, as the session ran them
    s.rig.core.session.addListener([&](const SessionEvent& e) {
        if (e.kind == SessionEvent::Kind::Cycle && e.cycle->tracking && !e.cycle->measurement.gated)
            cycles.push_back({e.cycle->timeUs, -e.cycle->dx, -e.cycle->dy});
    });
    const auto tick = [&] { s.tick(); };
    const auto state = [](const QJsonObject& e) { return e.value("State").toString(); };

    PhdClient nina(s.server.port());
    const QJsonObject version = nina.next("Version");
    EXPECT_EQ(version.value("PHDVersion").toString(), "Quorvel 1.85");
    EXPECT_EQ(version.value("MsgVersion").toInt(), 1);
    EXPECT_TRUE(version.value("OverlapSupport").toBool());
    EXPECT_EQ(version.value("Inst").toInt(), 1);
    EXPECT_GT(version.value("Timestamp").toDouble(), 1.6e9);
    EXPECT_EQ(state(nina.next("AppState")), "Stopped");
    EXPECT_EQ(nina.received.size(), 2u) << "the state last, nothing else when stopped";

    EXPECT_FALSE(nina.call("get_connected").toBool());
    EXPECT_EQ(nina.call("set_connected", QJsonArray{true}).toInt(-1), 0);
    EXPECT_EQ(state(nina.next("AppState")), "Looping");
    EXPECT_EQ(compact(nina.call("get_current_equipment")),
              R"({"camera":{"connected":true,"name":"Ciel simulé"},"mount":{"connected":true,"name":"Diodes virtuelles"}})");
    EXPECT_NEAR(nina.call("get_pixel_scale").toDouble(), 206.265 * 5.6 / 500, 0.01);
    EXPECT_TRUE(nina.call("get_lock_position").isNull());
    EXPECT_EQ(nina.call("loop").toInt(-1), 0);
    EXPECT_EQ(nina.next("LoopingExposures", tick).value("Frame").toInt(), 1);

    // find_star within a region of interest: the region goes to the star.
    const QJsonArray star = nina.call("find_star", QJsonObject{{"roi", QJsonArray{40, 30, 240, 180}}}).toArray();
    ASSERT_EQ(star.size(), 2);
    EXPECT_NEAR(star[0].toDouble(), 160, 4);
    EXPECT_NEAR(star[1].toDouble(), 120, 4);
    EXPECT_EQ(s.rig.state.regionX, star[0].toInt() - 50);
    EXPECT_EQ(nina.next("StarSelected").value("Y"), star[1]);
    EXPECT_EQ(state(nina.next("AppState")), "Selected");
    const QJsonObject image = nina.call("get_star_image").toObject();
    const QByteArray pixels = QByteArray::fromBase64(image.value("pixels").toString().toLatin1());
    ASSERT_EQ(pixels.size(), 100 * 100 * 2);
    const QJsonArray at = image.value("star_pos").toArray();
    const int i = (at[1].toInt() * 100 + at[0].toInt()) * 2;
    EXPECT_GE(uint8_t(pixels[i]), 40) << "the star, low byte first";
    EXPECT_EQ(pixels[i + 1], 0);

    // guide: answered at once, locked some cycles later, then settled.
    EXPECT_EQ(nina.call("guide", QJsonObject{{"settle", QJsonObject{{"pixels", 1.5}, {"time", 5}, {"timeout", 60}}},
                                             {"recalibrate", false}})
                  .toInt(-1),
              0);
    EXPECT_FALSE(nina.next("SettleBegin").isEmpty());
    const QJsonObject lock = nina.next("LockPositionSet", tick);
    EXPECT_FALSE(nina.next("StartGuiding").isEmpty());
    EXPECT_EQ(state(nina.next("AppState")), "Guiding");
    EXPECT_EQ(compact(nina.call("get_lock_position")), compact(QJsonArray{lock.value("X"), lock.value("Y")}));
    const size_t guiding = nina.cursor;
    const QJsonObject settled = nina.next("SettleDone", tick);
    EXPECT_EQ(settled.value("Status").toInt(-1), 0);
    const auto settling = nina.events("Settling", guiding);
    // A Settling event each frame but the one that ends the wait, as PHD2 sends them.
    EXPECT_EQ(settled.value("TotalFrames").toInt(), int(settling.size()) + 1);
    EXPECT_EQ(settling.back().value("SettleTime").toDouble(), 5.0);
    EXPECT_EQ(settling.back().value("Time").toDouble(), 4.0) << "in range for 4 whole seconds, not yet 5";

    // Dithers: the lock moves by the draws (on AD alone when asked), the
    // guide log says so, the star is brought there.
    const QJsonObject settle{{"pixels", 1.5}, {"time", 3}, {"timeout", 60}};
    const int lockX = lock.value("X").toInt(), lockY = lock.value("Y").toInt();
    nina.call("dither", QJsonArray{3, false, settle});
    EXPECT_EQ(compact(nina.next("GuidingDithered")).find(R"("dx":-3,"dy":3)") != std::string::npos, true);
    EXPECT_EQ(compact(nina.call("get_lock_position")), compact(QJsonArray{lockX - 3, lockY + 3}));
    // Judged against the new lock from the first frame: 3 px off on each axis.
    EXPECT_GT(nina.next("Settling", tick).value("Distance").toDouble(), 3.0);
    EXPECT_EQ(nina.next("SettleDone", tick).value("Status").toInt(-1), 0);
    nina.call("dither", QJsonObject{{"amount", 2}, {"raOnly", true}, {"settle", settle}});
    EXPECT_EQ(compact(nina.next("GuidingDithered")).find(R"("dx":-2,"dy":0)") != std::string::npos, true);
    EXPECT_EQ(nina.next("SettleDone", tick).value("Status").toInt(-1), 0);
    const std::string text = readFile(dir.file("guide.log"));
    const size_t dithered = text.find("INFO: DITHER by -3.000, 3.000, new lock pos = " + std::to_string(lockX - 3) +
                                      ".000, " + std::to_string(lockY + 3) + ".000");
    ASSERT_NE(dithered, std::string::npos);
    // The viewer leaves the settling out: the lines around the guide's and each dither's.
    const size_t started = text.find("INFO: SETTLING STATE CHANGE, Settling started\n", dithered);
    ASSERT_NE(started, std::string::npos);
    EXPECT_NE(text.find("INFO: SETTLING STATE CHANGE, Settling complete\n", started), std::string::npos);
    size_t lines = 0;
    for (size_t at = 0; (at = text.find("SETTLING STATE CHANGE", at)) != std::string::npos; ++at)
        ++lines;
    EXPECT_EQ(lines, 6u);

    // Paused as by "Suspend": no guide step, nor a LoopingExposures (which
    // N.I.N.A. takes for "Looping"), until resumed.
    nina.call("set_paused", QJsonArray{true});
    EXPECT_FALSE(nina.next("Paused").isEmpty());
    EXPECT_EQ(state(nina.next("AppState")), "Paused");
    EXPECT_TRUE(s.rig.state.graphSuspended);
    const size_t paused = nina.cursor;
    for (int n = 0; n < 15; ++n)
        s.tick();
    EXPECT_EQ(nina.call("get_app_state").toString(), "Paused");  // answered after all sent before
    EXPECT_TRUE(nina.events("GuideStep", paused).empty());
    EXPECT_TRUE(nina.events("LoopingExposures", paused).empty());
    nina.call("set_paused", QJsonArray{false});
    EXPECT_FALSE(nina.next("Resumed").isEmpty());
    EXPECT_FALSE(nina.next("GuideStep", tick).isEmpty());

    nina.call("stop_capture");
    EXPECT_FALSE(nina.next("GuidingStopped").isEmpty());
    EXPECT_FALSE(nina.next("LoopingExposuresStopped").isEmpty());
    EXPECT_EQ(nina.call("get_app_state").toString(), "Stopped");
    EXPECT_FALSE(s.rig.state.trackingOn || s.rig.state.captureRunning);

    // Every guide step against its cycle and the lamps the mount got until
    // the next one: frames from 1, star minus lock, the directions sent.
    const auto steps = nina.events("GuideStep", guiding);
    ASSERT_EQ(steps.size(), cycles.size());
    int pulses = 0;
    for (size_t n = 0; n < steps.size(); ++n) {
        const QJsonObject& g = steps[n];
        EXPECT_EQ(g.value("Frame").toInt(), int(n) + 1);
        EXPECT_EQ(g.value("dx").toInt(), cycles[n].starMinusLockX);
        EXPECT_EQ(g.value("DECDistanceRaw").toInt(), cycles[n].starMinusLockY);
        std::string said, lit;
        for (const char* axis : {"RADirection", "DECDirection"})
            if (g.contains(axis))
                said += g.value(axis).toString().left(1).toStdString();
        const int64_t end = n + 1 < cycles.size() ? cycles[n + 1].timeUs : INT64_MAX;
        for (const SeenCommand& c : s.rig.seen)
            if (c.kind == MountEvent::Kind::Lamp && c.text.rfind("on ", 0) == 0 && c.timeUs >= cycles[n].timeUs &&
                c.timeUs < end)
                lit += c.text.substr(3);
        std::sort(said.begin(), said.end());
        std::sort(lit.begin(), lit.end());
        EXPECT_EQ(said, lit) << "step " << n;
        pulses += int(said.size());
    }
    EXPECT_GT(pulses, 5);
    EXPECT_TRUE(nina.crLf);
}

TEST(EventServer, EkosStopsAndGuidesAgainWithoutReconnecting)
{
    ServerRig s;
    s.rig.state.params->invertDec = 1;  // the DEC distances turn round with the pulses
    const auto tick = [&] { s.tick(); };
    const QJsonObject settle{{"pixels", 1.5}, {"time", 2}, {"timeout", 60}};
    const auto statesFrom = [](const PhdClient& c, size_t from) {
        std::string out;
        for (const QJsonObject& e : c.events("AppState", from))
            out += e.value("State").toString().toStdString() + " ";
        return out;
    };
    PhdClient ekos(s.server.port());
    ekos.call("set_connected", QJsonArray{true});
    ekos.next("LoopingExposures", tick);

    // Stopped while the guide waits for its lock: the settle fails, and the
    // state goes straight to Stopped (a "Selected" on the way would start a calibration).
    ekos.call("find_star");
    ekos.call("guide", QJsonArray{settle, false});
    size_t from = ekos.received.size();
    ekos.call("stop_capture");
    EXPECT_EQ(ekos.next("SettleDone").value("Status").toInt(), 1);
    EXPECT_EQ(statesFrom(ekos, from), "Stopped ");
    EXPECT_TRUE(ekos.call("get_connected").toBool()) << "stopping is not unplugging";

    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        from = ekos.received.size();
        ekos.cursor = from;
        ekos.call("guide", QJsonArray{settle, false});
        EXPECT_EQ(ekos.next("SettleDone", tick).value("Status").toInt(-1), 0);
        for (int n = 0; n < 8; ++n)
            s.tick();
        from = ekos.received.size();
        ekos.call("stop_capture");
        EXPECT_FALSE(ekos.next("GuidingStopped").isEmpty());
        EXPECT_EQ(statesFrom(ekos, from), "Stopped ");
        EXPECT_TRUE(ekos.call("get_connected").toBool());
    }
    int south = 0, north = 0;
    for (const QJsonObject& g : ekos.events("GuideStep")) {
        EXPECT_GT(g.value("SNR").toDouble(), 3) << "the star's own SNR";
        EXPECT_GT(g.value("StarMass").toDouble(), g.value("SNR").toDouble());
        if (!g.contains("DECDirection"))
            continue;
        const bool isSouth = g.value("DECDirection").toString() == "South";
        (isSouth ? south : north)++;
        EXPECT_EQ(g.value("DECDistanceRaw").toDouble() > 0, isSouth) << "South corrects a positive DEC distance";
        EXPECT_EQ(g.value("DECDistanceRaw").toDouble(), -g.value("dy").toDouble()) << "inverted against the picture";
    }
    EXPECT_GT(south + north, 2);

    ekos.call("set_connected", QJsonArray{false});
    EXPECT_FALSE(ekos.call("get_connected").toBool());
}

TEST(EventServer, DecGuideModeIsWhatTheInhibitsLeave)
{
    const struct {
        int interfaceType;
        bool inhibitPlus, inhibitMinus;
        const char* mode;
    } cases[] = {
        {Lx200, false, false, "Auto"}, {Lx200, true, false, "North"},      {Lx200, false, true, "South"},
        {Lx200, true, true, "Off"},    {VirtualLeds, false, true, "South"}, {RelayBox, true, false, "Auto"},
    };
    for (const auto& c : cases) {
        ServerRig s;
        s.rig.state.params->interfaceType = c.interfaceType;
        s.rig.state.inhibitDecPlus = c.inhibitPlus;
        s.rig.state.inhibitDecMinus = c.inhibitMinus;
        JsonRpcDispatcher d;
        s.guider.registerMethods(d);
        const QString mode =
            QJsonDocument::fromJson(d.handleLine(R"({"method":"get_dec_guide_mode","id":1})")).object().value("result").toString();
        EXPECT_EQ(mode, c.mode) << c.interfaceType << c.inhibitPlus << c.inhibitMinus;
        if (c.interfaceType == RelayBox)
            continue;  // which ignores the inhibits
        // The mode names the DEC pulses the timed outputs still send.
        for (const int dy : {-10, 10}) {
            const correction::Result r = correction::compute(correctionInputs(s.rig.state, 0, dy));
            const bool allowed = mode == "Auto" || mode == directionName(pulseDirection(GuideAxis::Dec, r.dec.pulseMs));
            EXPECT_EQ(r.dec.timedPulse, allowed) << c.mode << " dy " << dy;
        }
    }
}

TEST(EventServer, RequestsRefusedWithTheirReason)
{
    enum Setup { Stopped, Looping, NoCamera, NoOptics };
    const struct {
        Setup setup;
        QByteArray request;
        int code;
        const char* message;
    } cases[] = {
        {Stopped, R"({"method":"find_star","id":1})", 1, "could not find star: the camera is not running"},
        {Looping, R"({"method":"dither","params":[3,false,{"pixels":1,"time":1,"timeout":9}],"id":1})", 1,
         "cannot dither when not guiding"},
        {Looping, R"({"method":"get_star_image","id":1})", 1, "no star selected"},
        {Looping, R"({"method":"guide","params":[{"pixels":1,"time":2}],"id":1})", -32602,
         "expected settle object param with pixels, time and timeout"},
        {Looping, R"({"method":"guide","params":[{"pixels":-1,"time":2,"timeout":9}],"id":1})", -32602,
         "settle pixels must be above zero, time and timeout not below zero"},
        {Stopped, R"({"method":"set_profile","params":[2],"id":1})", 1, "no profile with id 2: the only one is 1 (qv185.dat)"},
        {Looping, R"({"method":"find_star","params":{"roi":[400,10,20,20]},"id":1})", -32602,
         "expected roi [x, y, width, height] inside the 320 x 240 frame"},
        {NoCamera, R"({"method":"loop","id":1})", 1,
         "could not start looping: no camera at entry 4: no capture driver at this entry"},
        {NoOptics, R"({"method":"guide","params":[{"pixels":1,"time":2,"timeout":9}],"id":1})", 1,
         "the settings give no usable correction: set the focal length, pixel size and guide speeds"},
    };
    for (const auto& c : cases) {
        ServerRig s;
        JsonRpcDispatcher d;
        s.guider.registerMethods(d);
        if (c.setup == Looping)
            d.handleLine(R"({"method":"loop","id":0})");
        s.rig.state.driverIndex = c.setup == NoCamera ? 4 : 0;  // "(aucun)"
        if (c.setup == NoOptics)
            s.rig.state.params->focalLength = 0;
        const QJsonObject e = QJsonDocument::fromJson(d.handleLine(c.request)).object().value("error").toObject();
        EXPECT_EQ(e.value("code").toInt(), c.code) << c.request.toStdString();
        EXPECT_EQ(e.value("message").toString(), c.message) << c.request.toStdString();
        EXPECT_EQ(s.rig.state.captureRunning, c.setup == Looping) << c.request.toStdString();
    }
}

// Both stars saturate the picture: the brighter by the camera's values is
// the one guide locks on (as Ekos starts it) and find_star gives, unless a
// region of interest holds only the other.
TEST(EventServer, TheStarChosenIsTheBrightestByTheCamerasValues)
{
    const struct {
        QByteArray request;
        int x, y;
    } cases[] = {
        {R"({"method":"guide","params":[{"pixels":1.5,"time":1,"timeout":30}],"id":1})", 240, 180},
        {R"({"method":"find_star","id":1})", 240, 180},
        {R"({"method":"find_star","params":{"roi":[20,20,120,100]},"id":1})", 80, 60},
    };
    for (const auto& c : cases) {
        ServerRig s(std::make_unique<TwoStarCamera>());
        s.rig.state.driverIndex = 1;
        answer(s, R"({"method":"loop","id":0})");
        for (int i = 0; i < 6; ++i)
            s.tick();
        EXPECT_TRUE(answer(s, c.request)["error"].isUndefined());
        for (int i = 0; i < 18; ++i)
            s.tick();
        EXPECT_EQ(s.rig.state.regionX + 50, c.x) << c.request.toStdString();
        EXPECT_EQ(s.rig.state.regionY + 50, c.y) << c.request.toStdString();
    }
}

// The mount output as it is: an INDI mount connected while its link is up.
TEST(EventServer, EquipmentSaysWhetherTheIndiMountIsConnected)
{
    struct : GuideOutput {
        std::optional<SentPulse> pulse(const AxisPulse&) override { return std::nullopt; }
        void slew(const SlewCommand&) override {}
        bool ready() const override { return up; }
        bool up = false;
    } indi;
    ServerRig s;
    s.rig.state.params->interfaceType = IndiMount;
    s.rig.core.mount.setOutput(IndiMount, &indi);
    const QByteArray request = R"({"method":"get_current_equipment","id":1})";
    EXPECT_EQ(answer(s, request)["result"]["mount"]["connected"], false);
    indi.up = true;
    EXPECT_EQ(answer(s, request)["result"]["mount"]["connected"], true);
}

// The 1000 ms cycle of the simulated sky, or a camera's own exposure among
// PHD2's durations; every choice in what Ekos lists (all but the first,
// which it takes for PHD2's "Auto").
TEST(EventServer, ExposureIsTheCamerasOwnOrTheMeasurementCycle)
{
    const auto listed = [](ServerRig& s) {
        QJsonArray a = answer(s, R"({"method":"get_exposure_durations","id":1})")["result"].toArray();
        a.removeFirst();
        return a;
    };
    ServerRig sky;
    EXPECT_EQ(listed(sky), QJsonArray{1000});
    EXPECT_EQ(answer(sky, R"({"method":"set_exposure","params":[2000],"id":1})")["error"]["message"],
              "could not set exposure duration: Ciel simulé has no exposure of its own: its frames are measured "
              "every 1000 ms");

    auto owned = std::make_unique<TwoStarCamera>();
    TwoStarCamera& camera = *owned;
    ServerRig s(std::move(owned));
    s.rig.state.driverIndex = 1;
    EXPECT_EQ(listed(s), (QJsonArray{10, 20, 50, 100, 200, 500, 1000, 1500, 2000, 2500, 3000, 3500, 4000, 4500, 5000,
                                     6000, 7000, 8000, 9000, 10000, 15000}));
    EXPECT_EQ(answer(s, R"({"method":"set_exposure","params":[1500],"id":1})")["result"], 0);
    EXPECT_EQ(camera.exposureMs, 1500);
    EXPECT_EQ(answer(s, R"({"method":"get_exposure","id":1})")["result"], 1500);
    EXPECT_EQ(answer(s, R"({"method":"set_exposure","params":[1502],"id":1})")["error"]["code"], 1);
    EXPECT_EQ(answer(s, R"({"method":"set_exposure","params":["1s"],"id":1})")["error"]["code"], -32602);
    EXPECT_EQ(camera.exposureMs, 1500);
}

namespace {

// A socket the test reads only when it wants to: a client that may never read.
struct RawClient {
    explicit RawClient(quint16 port)
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    }
    ~RawClient() { ::close(fd); }
    // Sends what the socket takes now of data from offset on.
    void push(std::string_view data, size_t& offset)
    {
        for (ssize_t n = 1; offset < data.size() && n > 0; offset += size_t(std::max<ssize_t>(n, 0)))
            n = ::send(fd, data.data() + offset, data.size() - offset, MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    std::string drain()
    {
        std::string out;
        char buf[65536];
        for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0;)
            out.append(buf, size_t(n));
        return out;
    }
    int fd = -1;
};

}  // namespace

TEST(EventServer, ClientsThatWouldStallTheGuidingAreRefusedOrDropped)
{
    ServerRig s;
    const auto tick = [&] { s.tick(); };
    std::vector<std::unique_ptr<PhdClient>> clients;
    for (int i = 0; i < EventServer::kMaxClients; ++i) {
        clients.push_back(std::make_unique<PhdClient>(s.server.port()));
        clients.back()->next("AppState");
    }
    PhdClient extra(s.server.port());
    ASSERT_TRUE(QTest::qWaitFor([&] { return extra.socket.state() == QAbstractSocket::UnconnectedState; }, 10000));
    EXPECT_EQ(QJsonDocument::fromJson(extra.socket.readAll()).object().value("error").toObject().value("message"),
              "too many clients: 16 are connected already");
    clients.resize(1);  // fifteen leave
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.server.clientCount() == 1; }, 10000));

    PhdClient& nina = *clients[0];
    nina.call("guide", QJsonArray{QJsonObject{{"pixels", 1.5}, {"time", 1}, {"timeout", 60}}});
    ASSERT_FALSE(nina.next("StartGuiding", tick).isEmpty());

    // One asks for 2000 star images (50 MB) and reads none; one leaves half
    // way through a request. Neither is waited for.
    RawClient sloth(s.server.port());
    std::string requests;
    for (int i = 0; i < 2000; ++i)
        requests += R"({"method":"get_star_image","id":)" + std::to_string(i) + "}\n";
    size_t sent = 0;
    ASSERT_TRUE(QTest::qWaitFor([&] { return sloth.push(requests, sent), s.server.dropped() == 1; }, 20000));
    {
        RawClient quitter(s.server.port());
        size_t half = 0;
        quitter.push(R"({"method":"stop_cap)", half);
        QTest::qWait(20);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.server.clientCount() == 1; }, 10000));
    nina.cursor = nina.received.size();
    EXPECT_FALSE(nina.next("GuideStep", tick).isEmpty());
    EXPECT_EQ(nina.call("get_app_state").toString(), "Guiding");
}

namespace {

// Guides a while (loop, guide, a dither) with `garbage` before every tick;
// every command the mount got, with its time, and the guide steps.
std::pair<std::vector<std::string>, size_t> guideAWhile(const std::function<void(ServerRig&)>& garbage)
{
    ServerRig s;
    s.guider.setRandom(draws({0.2, 0.9}));
    PhdClient nina(s.server.port());
    const auto tick = [&] {
        if (garbage)
            garbage(s);
        s.tick();
    };
    const QJsonObject settle{{"pixels", 1.5}, {"time", 2}, {"timeout", 60}};
    nina.call("guide", QJsonArray{settle});
    EXPECT_EQ(nina.next("SettleDone", tick).value("Status").toInt(-1), 0);
    nina.call("dither", QJsonArray{4, false, settle});
    EXPECT_EQ(nina.next("SettleDone", tick).value("Status").toInt(-1), 0);
    for (int i = 0; i < 100; ++i)
        tick();
    nina.call("stop_capture");
    std::vector<std::string> commands;
    for (const SeenCommand& c : s.rig.seen)
        commands.push_back(std::to_string(c.timeUs) + " " + std::to_string(int(c.kind)) + " " + c.text);
    return {commands, nina.events("GuideStep").size()};
}

}  // namespace

TEST(EventServer, GarbageFromAnotherClientChangesNoPulse)
{
    const auto quiet = guideAWhile({});
    ASSERT_GT(quiet.second, 20u);

    // Random bytes, invalid UTF-8, lines over the bound, half requests and
    // requests of the wrong shape; after 30 ticks a 100 MB line, 4 MB a
    // tick; the client reads its answers now and then.
    std::mt19937 rng(77);
    std::unique_ptr<RawClient> fuzz;
    std::string piece, answers;
    size_t offset = 0, huge = 0, ticks = 0;
    const size_t hugeSize = size_t(100) << 20;
    const std::string x(1 << 16, 'x');
    const auto fuzzed = guideAWhile([&](ServerRig& s) {
        if (!fuzz)
            fuzz = std::make_unique<RawClient>(s.server.port());
        if (++ticks > 30 && huge < hugeSize) {
            for (const size_t target = std::min(hugeSize, huge + (size_t(4) << 20)); huge < target;) {
                size_t at = 0;
                fuzz->push(std::string_view(x).substr(0, target - huge), at);
                huge += at;
                QCoreApplication::processEvents();  // the server takes 64 KB
            }
            piece = huge == hugeSize ? "\n" : "";  // its end, once all of it went
            offset = 0;
        } else if (offset >= piece.size()) {
            const std::string kinds[] = {
                std::string(20000 + rng() % 5000, '[') + "\n",
                "{\"method\":\"get_app_state\",\"id\":\"\xff\xfe\xc3\x28\"}\r\n",
                "{\"method\":\"gui",  // the rest never comes
                "\n[1,\"two\",{\"id\":3}]\n{\"method\":42}\n\"x\"\n{\"method\":\"guide\",\"params\":7,\"id\":1}\n",
            };
            piece = kinds[rng() % 4];
            for (int i = int(rng() % 3000); i > 0; --i)
                piece += char(rng());
            offset = 0;
        }
        fuzz->push(piece, offset);
        answers += fuzz->drain();
    });
    EXPECT_EQ(huge, hugeSize);
    EXPECT_EQ(fuzzed.second, quiet.second);
    EXPECT_EQ(fuzzed.first, quiet.first);
    for (const char* error : {"-32700", "-32600", "-32602", "longer than 10000 bytes"})
        EXPECT_NE(answers.find(error), std::string::npos) << error;
}
