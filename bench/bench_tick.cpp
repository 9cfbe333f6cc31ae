// CPU time of the acquisition tick on the simulated sky: a plain tick (grab
// and render the frame) and a tick that also runs the measurement cycle and
// its correction, in the core as `quorvel guide` runs it, and in the main
// window with its marks and monitoring windows.
#include <benchmark/benchmark.h>

#include <QApplication>

#include <cstdlib>
#include <memory>

#include "core/capture/simsky.h"
#include "core/guider.h"
#include "core/state.h"
#include "ui/ravozuzwin.h"

namespace {

class NoTimer : public PulseTimerPort {
public:
    void arm(GuideAxis, int64_t) override {}
    void disarm(GuideAxis) override {}
};

struct Guider {
    FakeClock clock;
    SharedState state{clock};
    NoTimer timer;
    GuiderCore core{state, timer};
    Guider()
    {
        core.acquisition.setScan([this] {
            CaptureDriverList list;
            list.push_back(std::make_unique<SimulatedSky>(state, core.channel, std::string()));
            return list;
        });
        core.acquisition.connect(0);
        // Two cycles: the threshold is learned, then tracking.
        for (int i = 0; i < 13; ++i) {
            clock.advanceMs(200);
            core.acquisition.tick();
        }
        core.session.startTracking();
    }
};

void BM_CoreTick(benchmark::State& bs)
{
    Guider g;
    for (auto _ : bs) {
        g.clock.advanceMs(1);  // never a cycle
        g.state.lastAnalysisTime = g.clock.nowMs();
        benchmark::DoNotOptimize(g.core.acquisition.tick());
    }
}
BENCHMARK(BM_CoreTick)->Unit(benchmark::kMicrosecond);

void BM_CoreTickWithCycle(benchmark::State& bs)
{
    Guider g;
    for (auto _ : bs) {
        g.clock.advanceMs(1201);  // a cycle every time, correction sent
        benchmark::DoNotOptimize(g.core.acquisition.tick());
    }
}
BENCHMARK(BM_CoreTickWithCycle)->Unit(benchmark::kMicrosecond);

void BM_WindowTickWithCycle(benchmark::State& bs)
{
    Guider g;
    RavozuzWindow w(g.state, g.core);
    w.show();
    for (auto _ : bs) {
        g.clock.advanceMs(1201);
        w.AcquisitionTick();
        QCoreApplication::processEvents();  // the repaints it asked for
    }
}
BENCHMARK(BM_WindowTickWithCycle)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
