// How closely the whole loop holds the star on the simulated sky: the
// simulated mount's own pointing (not what the guider measured) sampled at
// every tick for 120 s of guiding on the program's fake clock, its spread
// (RMS about the mean) per mount axis in pixels, in the design's mode and
// the precise mode, with the camera square and turned 35 degrees. Then the
// CPU time of a tick that runs a precise cycle.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "core/capture/simsky.h"
#include "core/guider.h"
#include "core/state.h"

namespace {

// Deadlines of the pulse machine, expired as the fake clock reaches them.
class StepTimer : public PulseTimerPort {
public:
    void arm(GuideAxis a, int64_t deadlineUs) override { slots[index(a)] = deadlineUs; }
    void disarm(GuideAxis a) override { slots[index(a)].reset(); }
    static int index(GuideAxis a) { return a == GuideAxis::Ra ? 0 : 1; }
    std::array<std::optional<int64_t>, 2> slots;
    PulseMachine* machine = nullptr;
};

struct Rig {
    FakeClock clock;
    SharedState state{clock};
    StepTimer timer;
    GuiderCore core{state, timer};
    SimulatedSky* sky = nullptr;

    explicit Rig(const std::string& skyParams)
    {
        timer.machine = &core.pulses;
        state.params->interfaceType = VirtualLeds;
        core.precise.settingsPath = "/nonexistent-dir/qv185.dat";  // nothing saved or reused
        core.acquisition.setScan([this, skyParams] {
            CaptureDriverList list;
            auto s = std::make_unique<SimulatedSky>(state, core.channel, skyParams);
            sky = s.get();
            list.push_back(std::move(s));
            return list;
        });
        core.acquisition.connect(0);
    }

    // Lets time pass to `untilUs`, expiring pulses on the way.
    void runTo(int64_t untilUs)
    {
        for (;;) {
            std::optional<int64_t> next;
            for (int i = 0; i < 2; ++i)
                if (timer.slots[i] && *timer.slots[i] <= untilUs && (!next || *timer.slots[i] < *next))
                    next = timer.slots[i];
            if (!next)
                break;
            clock.advanceUs(std::max<int64_t>(0, *next - clock.nowUs()));
            for (GuideAxis a : {GuideAxis::Ra, GuideAxis::Dec}) {
                auto& slot = timer.slots[StepTimer::index(a)];
                if (slot && *slot <= clock.nowUs()) {
                    slot.reset();
                    timer.machine->expire(a);
                }
            }
        }
        clock.advanceUs(std::max<int64_t>(0, untilUs - clock.nowUs()));
    }
    void tick()
    {
        runTo(clock.nowUs() + AcquisitionLoop::kTickMs * 1000);
        core.acquisition.tick();
    }
};

struct Spread {
    double rmsX = 0, rmsY = 0;
    bool ok = false;
    std::string why;
};

Spread guide(const std::string& skyParams, bool precise)
{
    Rig r(skyParams);
    for (int i = 0; i < 13; ++i)
        r.tick();
    Spread out;
    if (precise) {
        r.core.precise.setOn(true);
        if (!r.core.precise.calibrate()) {
            out.why = r.core.precise.error();
            return out;
        }
        for (int i = 0; i < 3000 && r.core.precise.status().calib == PreciseStatus::Calib::Running; ++i)
            r.tick();
        if (r.core.precise.status().calib != PreciseStatus::Calib::Done) {
            out.why = "calibration: " + r.core.precise.error();
            return out;
        }
        r.tick();  // a cycle on the star where the calibration left it
        for (int i = 0; i < 5; ++i)
            r.tick();
    }
    r.core.session.startTracking();
    const int64_t start = r.clock.nowUs();
    const int64_t settle = start + 10'000'000, end = settle + 120'000'000;
    double n = 0, sx = 0, sy = 0, sxx = 0, syy = 0;
    while (r.clock.nowUs() < end) {
        r.tick();
        if (r.clock.nowUs() < settle)
            continue;
        const FieldOffset o = r.sky->mount().offset(r.clock.nowUs(), false);
        n += 1;
        sx += o.x;
        sy += o.y;
        sxx += o.x * o.x;
        syy += o.y * o.y;
    }
    out.rmsX = std::sqrt(std::max(0.0, sxx / n - (sx / n) * (sx / n)));
    out.rmsY = std::sqrt(std::max(0.0, syy / n - (sy / n) * (sy / n)));
    out.ok = true;
    return out;
}

void report()
{
    std::printf("Star's true position, RMS about its mean over 120 s of guiding (px, mount axes RA / DEC):\n");
    const struct {
        const char* name;
        const char* sky;
        bool precise;
    } runs[] = {
        {"design's mode, square camera", "", false},
        {"precise mode, square camera", "", true},
        {"design's mode, camera at 35 deg", "angle=35", false},
        {"precise mode, camera at 35 deg", "angle=35", true},
    };
    for (const auto& run : runs) {
        const Spread s = guide(run.sky, run.precise);
        if (s.ok)
            std::printf("  %-34s RA %.3f  DEC %.3f\n", run.name, s.rmsX, s.rmsY);
        else
            std::printf("  %-34s failed: %s\n", run.name, s.why.c_str());
    }
    std::fflush(stdout);
}

void BM_TickWithPreciseCycle(benchmark::State& bs)
{
    Rig r("");
    for (int i = 0; i < 13; ++i)
        r.tick();
    r.core.precise.setOn(true);
    r.core.precise.calibrate();
    for (int i = 0; i < 3000 && r.core.precise.status().calib == PreciseStatus::Calib::Running; ++i)
        r.tick();
    r.core.session.startTracking();
    for (auto _ : bs) {
        r.runTo(r.clock.nowUs() + 1'201'000);  // a cycle every time
        benchmark::DoNotOptimize(r.core.acquisition.tick());
    }
    bs.counters["precise"] = r.core.session.lastCycle().precise ? 1 : 0;
}
BENCHMARK(BM_TickWithPreciseCycle)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv)
{
    report();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
