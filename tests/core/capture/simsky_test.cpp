// The simulated sky as the guider sees it: commands move the star by what
// the speeds and the image scale say, the measurement finds it where the sky
// put it, and a guiding loop holds it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>

#include "core/capture/simsky.h"
#include "core/corerig.h"
#include "core/guide/correction.h"
#include "core/guide/relaybox.h"

namespace {

constexpr const char* kStill = "seeing=0,drift_x=0,drift_y=0,pe_amplitude=0";

struct SkyRig {
    CoreRig rig;
    SimulatedSky sky;
    std::string error;
    SkyRig(int interfaceType, std::string params) : rig(interfaceType), sky(rig.state, rig.core.channel, params)
    {
        const CaptureStatus s = sky.connect();
        EXPECT_TRUE(s.ok) << s.error;
    }
    FieldOffset star() const { return sky.target(rig.clock.nowUs(), sky.sunShown()); }
    // Grabs a frame and measures it as the guider does (the second cycle
    // with the threshold the first one settled); the star's picture position.
    FieldOffset measure()
    {
        EXPECT_EQ(sky.grab(rig.state.picture, error), GrabStatus::NewFrame);
        GuidingSession& session = rig.core.session;
        session.measureCycle(rig.state.picture.view());
        session.measureCycle(rig.state.picture.view());
        return {double(rig.state.regionX + rig.state.centroidX), double(rig.state.regionY + rig.state.centroidY)};
    }
};

// Pixels per second at guide rate 1 with the default settings.
double raPixelsPerSecond(const tparam& p)
{
    return p.raSpeed / correction::pixelScaleArcsecPerPixel(p.pixelSize, p.focalLength);
}
double decPixelsPerSecond(const tparam& p)
{
    return p.decSpeed / correction::pixelScaleArcsecPerPixel(p.pixelSize, p.focalLength);
}

}  // namespace

TEST(SimulatedSky, EveryOutputsCommandsMoveTheStarAtGuideSpeed)
{
    using Send = std::function<void(CoreRig&)>;
    struct Case {
        const char* what;
        int interfaceType;
        std::string params;
        Send send;
        double ra, dec;  // expected move in seconds at guide speed, picture axes
    };
    const auto text = [](std::initializer_list<const char*> list) {
        return [strings = std::vector<const char*>(list)](CoreRig& r) {
            for (const char* s : strings) {
                if (s[0] == '+')
                    r.advanceMs(std::atoi(s + 1));
                else
                    r.core.channel.sendText(s);
            }
        };
    };
    const auto relay = [](int code, int count) {
        return [code, count](CoreRig& r) {
            const RelayPair pair = relayCorrectionPair(code, count);
            r.core.channel.sendRelayByte(pair.command);
            r.advanceMs(5);
            r.core.channel.sendRelayByte(pair.closing);
        };
    };
    const auto lamp = [](GuideAxis axis, Direction d, int ms) {
        return [=](CoreRig& r) {
            r.core.channel.lamp(axis, true, d);
            r.advanceMs(ms);
            r.core.channel.lamp(axis, false, d);
        };
    };
    const auto all = [](std::initializer_list<Send> sends) {
        return [v = std::vector<Send>(sends)](CoreRig& r) {
            for (const Send& s : v) {
                s(r);
                r.advanceMs(3000);
            }
        };
    };
    const std::string still = kStill;
    const Case cases[] = {
        {"LX 200 east", Lx200, still, text({"#:RG#", "#:Me#", "+1000", "#:Qe#"}), +1, 0},
        {"LX 200 south", Lx200, still, text({"#:RG#", "#:Ms#", "+1000", "#:Qn#", "+2000"}), 0, -1},
        {"ETX west then north", MeadeEtx, still, text({"#:Mw#", "+500", "#:Mn#", "+500", "#:Q#", "+900"}), -1, +0.5},
        {"relay code 2", RelayBox, still, relay(2, 63), 0, -1},
        {"relay code 1 a third", RelayBox, still, relay(1, 21), +1.0 / 3, 0},
        {"relay codes 3 and 0", RelayBox, still, all({relay(3, 63), relay(0, 63)}), -1, +1},
        {"lamp west", VirtualLeds, still, lamp(GuideAxis::Ra, Direction::West, 1000), -1, 0},
        {"lamp north", VirtualLeds, still, lamp(GuideAxis::Dec, Direction::North, 250), 0, +0.25},
        {"lamp south at rate 2", VirtualLeds, still + ",rate=2", lamp(GuideAxis::Dec, Direction::South, 1000), 0, -2},
        {"timed mount", kTimedMountInterface, still,
         all({[](CoreRig& r) { r.core.channel.timedPulse(Direction::East, 500); },
              [](CoreRig& r) {
                  r.core.channel.motion(GuideAxis::Dec, true, Direction::South);
                  r.advanceMs(1000);
                  r.core.channel.motion(GuideAxis::Dec, false, Direction::South);
              }}),
         +0.5, -1},
        {"mirrored camera", Lx200, still + ",flip_x=1,flip_y=1", text({"#:Me#", "+1000", "#:Qe#", "#:Mn#", "+1000", "#:Qs#"}),
         -1, -1},
        // Commands of another output than the one chosen move nothing.
        {"text on the relay box", RelayBox, still, all({text({"#:Me#", "+1000", "#:Qe#"}), lamp(GuideAxis::Ra, Direction::East, 1000)}), 0, 0},
        {"relay and lamps on LX 200", Lx200, still, all({relay(1, 63), lamp(GuideAxis::Ra, Direction::East, 1000)}), 0, 0},
        {"an unknown output", 99, still, all({text({"#:Me#", "+1000"}), relay(1, 63), lamp(GuideAxis::Ra, Direction::East, 1000)}), 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SkyRig s(c.interfaceType, c.params);
        const FieldOffset before = s.star();
        s.rig.advanceMs(1);
        c.send(s.rig);
        s.rig.advanceMs(2000);
        const FieldOffset after = s.star();
        const tparam& p = *s.rig.state.params;
        // (1e-5: a relay count is timed to the microsecond)
        EXPECT_NEAR(after.x - before.x, c.ra * raPixelsPerSecond(p), 1e-5);
        EXPECT_NEAR(after.y - before.y, c.dec * decPixelsPerSecond(p), 1e-5);
    }

    // Optics with no usable scale move nothing.
    for (auto [focal, pixel] : {std::pair{0.0, 5.6}, {-50.0, 5.6}, {50.0, NAN}}) {
        SkyRig s(Lx200, still);
        s.rig.state.params->focalLength = focal;
        s.rig.state.params->pixelSize = pixel;
        const FieldOffset before = s.star();
        text({"#:Me#", "+1000", "#:Qe#"})(s.rig);
        EXPECT_EQ(s.star().x, before.x) << focal << " " << pixel;
    }
}

TEST(SimulatedSky, DriftAndPeriodicErrorOverTime)
{
    // Defaults: 3 and -2 pixels a minute, 1.5 px of periodic error on x over 120 s.
    struct Case {
        int64_t seconds;
        double x, y;
    } cases[] = {{0, 160, 120}, {30, 163, 119}, {60, 163, 118}, {90, 163, 117}, {120, 166, 116}};
    SkyRig s(VirtualLeds, "seeing=0");
    for (const Case& c : cases) {
        s.rig.clock.advanceMs(c.seconds * 1000 - s.rig.clock.nowMs());
        EXPECT_NEAR(s.star().x, c.x, 1e-9) << c.seconds;
        EXPECT_NEAR(s.star().y, c.y, 1e-9) << c.seconds;
    }
    // The seeing shakes each frame by its RMS around that.
    SkyRig shaky(VirtualLeds, "drift_x=0,drift_y=0,pe_amplitude=0,seeing=0.5");
    double sum2 = 0;
    for (int i = 0; i < 1000; ++i) {
        shaky.rig.clock.advanceMs(200);
        sum2 += std::pow(shaky.star().x - 160, 2) + std::pow(shaky.star().y - 120, 2);
    }
    EXPECT_NEAR(std::sqrt(sum2 / 2000), 0.5, 0.05);
}

TEST(SimulatedSky, TheMeasurementFindsTheStarWhereTheSkyPutIt)
{
    struct Case {
        std::string params;
        int64_t atMs;
    } cases[] = {
        {"", 0},
        {"star_x=131.3,star_y=150.7", 0},
        {"star_x=190.6,star_y=88.2,fwhm=3", 0},
        {"star_x=130,flip_x=1", 0},  // shown at 189
        {"", 75000},                 // drifted
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.params);
        SkyRig s(VirtualLeds, c.params);
        s.rig.clock.advanceMs(c.atMs);
        const FieldOffset at = s.measure();
        const FieldOffset star = s.star();
        EXPECT_NEAR(at.x, star.x, 1.0);
        EXPECT_NEAR(at.y, star.y, 1.0);
        EXPECT_GE(s.rig.state.population, 5);
        EXPECT_LE(s.rig.state.population, 200);
    }
}

TEST(SimulatedSky, TheSunsSpotIsFoundInDarkSpotMode)
{
    SkyRig s(VirtualLeds, "");
    s.rig.state.params->darkSpotGuiding = 1;
    s.rig.clock.advanceMs(20000);
    const FieldOffset at = s.measure();
    const FieldOffset spot = s.star();
    EXPECT_GE(spot.x, 110);
    EXPECT_LE(spot.x, 209);
    EXPECT_NEAR(at.x, spot.x, 1.0);
    EXPECT_NEAR(at.y, spot.y, 1.0);
    EXPECT_GE(s.rig.state.population, 5);
    EXPECT_LE(s.rig.state.population, 200);

    // A disc wider than the picture is high, darker towards its limb.
    const auto grey = [&s](int x, int y) { return int(s.rig.state.picture.bits[y * 320 + x] & 0xff); };
    EXPECT_GT(grey(160, 2), 100);
    EXPECT_GT(grey(160, 237), 100);
    EXPECT_LT(grey(0, 0), 40);
    EXPECT_GT(grey(150, 120) - grey(25, 120), 30);

    // Forced off, the same settings show stars.
    SkyRig stars(VirtualLeds, "sun=0");
    stars.rig.state.params->darkSpotGuiding = 1;
    EXPECT_FALSE(stars.sky.sunShown());
}

TEST(SimulatedSky, SameSeedAndClockGiveTheSameFrame)
{
    const auto frame = [](const std::string& params, int64_t ms) {
        SkyRig s(VirtualLeds, params);
        s.rig.clock.advanceMs(ms);
        s.sky.grab(s.rig.state.picture, s.error);
        return s.rig.state.picture.bits;
    };
    EXPECT_EQ(frame("seed=5", 4000), frame("seed=5", 4000));
    EXPECT_NE(frame("seed=5", 4000), frame("seed=6", 4000));
    EXPECT_NE(frame("seed=5", 4000), frame("seed=5", 4200));
}

TEST(SimulatedSky, BadParametersAreRefusedByName)
{
    struct Case {
        const char* text;
        const char* named;
    } cases[] = {
        {"fwhm=abc", "fwhm"},   {"bogus=1", "bogus"},      {"seed=1.5", "seed"},   {"flip_x=2", "flip_x"},
        {"noise=-1", "noise"},  {"star_x", "star_x"},       {"fwhm=nan", "fwhm"},   {"peak=", "peak"},
        {"seed=1,seed=2", "seed"}, {"sun=yes", "sun"},      {"pe_period=0", "pe_period"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const SkyParamsResult r = parseSkyParams(c.text);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.error.find(c.named), std::string::npos) << r.error;
        CoreRig rig;
        SimulatedSky sky(rig.state, rig.core.channel, std::string(c.text));
        const CaptureStatus s = sky.connect();
        EXPECT_FALSE(s.ok);
        EXPECT_EQ(s.error, r.error);
        EXPECT_FALSE(sky.connected());
    }
    const SkyParamsResult good = parseSkyParams(" seed = 7, fwhm=3.5,,sun=1 ");
    ASSERT_TRUE(good.ok) << good.error;
    EXPECT_EQ(good.params.seed, 7);
    EXPECT_EQ(good.params.fwhm, 3.5);
    EXPECT_EQ(good.params.sun, 1);
    EXPECT_EQ(good.params.peak, 600);

    // With no text given, the variable is read at each connect.
    CoreRig rig;
    SimulatedSky sky(rig.state, rig.core.channel);
    ::setenv("QUORVEL_SKY", "peak=lots", 1);
    const CaptureStatus s = sky.connect();
    ::unsetenv("QUORVEL_SKY");
    EXPECT_NE(s.error.find("peak"), std::string::npos);
    EXPECT_TRUE(sky.connect().ok);
}

TEST(SimulatedSky, AdjustChangesTheParametersLive)
{
    SkyRig s(VirtualLeds, "fwhm=4.5");
    const std::vector<CaptureControl> list = s.sky.controls();
    ASSERT_EQ(list.size(), 18u);
    EXPECT_EQ(list[3].id, "fwhm");
    EXPECT_EQ(list[3].value, 45);
    EXPECT_DOUBLE_EQ(list[3].scale, 0.1);
    EXPECT_TRUE(s.sky.setControl("fwhm", 30).ok);
    EXPECT_DOUBLE_EQ(s.sky.params().fwhm, 3.0);
    EXPECT_TRUE(s.sky.setControl("sun", 1).ok);
    EXPECT_TRUE(s.sky.sunShown());
    EXPECT_FALSE(s.sky.setControl("fwhm", 0).ok);
    EXPECT_FALSE(s.sky.setControl("nope", 1).ok);
    // Moving the start moves the star at once.
    EXPECT_TRUE(s.sky.setControl("sun", 0).ok);
    EXPECT_TRUE(s.sky.setControl("star_x", 14050).ok);
    EXPECT_NEAR(s.star().x, 140.5, 1.0);
}

namespace {

// Guides for a few simulated minutes as the program does: a frame every
// 200 ms, a measurement cycle every 1200 ms. How far the star, where the
// mount points it (the seeing aside), strays from its lock. The measured
// position is the star's pixel, truncated: a star held on its lock lies
// half a pixel right of and below the lock's corner on average.
struct Wander {
    double worst = 0;
    double rms = 0;
};

Wander wander(int interfaceType, bool guiding)
{
    SkyRig s(interfaceType, "");
    GuidingSession& session = s.rig.core.session;
    session.sendsCorrections = guiding;
    s.measure();
    session.startTracking();
    const double lockX = s.rig.state.referenceX + 0.5, lockY = s.rig.state.referenceY + 0.5;

    Wander w;
    double sum2 = 0;
    int64_t nextFrameUs = s.rig.clock.nowUs();
    int frames = 0;
    const int64_t endUs = s.rig.clock.nowUs() + 300 * 1000000ll;
    while (s.rig.clock.nowUs() < endUs) {
        // Up to the next frame, stopping at each pulse's end on the way.
        int64_t next = nextFrameUs;
        for (GuideAxis a : {GuideAxis::Ra, GuideAxis::Dec})
            if (auto d = s.rig.timer.deadline(a))
                next = std::min(next, *d);
        s.rig.clock.advanceUs(std::max<int64_t>(0, next - s.rig.clock.nowUs()));
        s.rig.timer.fireDue(s.rig.clock);
        if (s.rig.clock.nowUs() < nextFrameUs)
            continue;
        nextFrameUs += 200000;
        s.sky.grab(s.rig.state.picture, s.error);
        if (++frames % 6 == 0)
            session.measureCycle(s.rig.state.picture.view());
        const FieldOffset p = s.sky.mount().offset(s.rig.clock.nowUs(), false);
        const double d = std::hypot(s.sky.params().starX + p.x - lockX, s.sky.params().starY + p.y - lockY);
        w.worst = std::max(w.worst, d);
        sum2 += d * d;
    }
    w.rms = std::sqrt(sum2 / frames);
    return w;
}

}  // namespace

TEST(SimulatedSky, AGuidingLoopHoldsTheStarOnEveryKindOfOutput)
{
    for (int output : {VirtualLeds, RelayBox, Lx200}) {
        SCOPED_TRACE(output);
        const Wander w = wander(output, true);
        EXPECT_LT(w.worst, 1.5);
        EXPECT_LT(w.rms, 0.75);
    }
    // Left alone, the drift takes it far away.
    EXPECT_GT(wander(VirtualLeds, false).worst, 10);
}
