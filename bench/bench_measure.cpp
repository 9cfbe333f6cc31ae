// Cost of one star measurement over a 320 x 240 picture with a realistic
// star, against the floor of merely copying the region's 100 x 100 pixels.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>

#include "core/measure/measure.h"
#include "core/precise/precisestar.h"
#include "core/state.h"

namespace {

// Sky background with noise, a few hot pixels and a guide star with a
// Gaussian profile, its core saturated, near the region's centre.
void renderSky(Picture& picture)
{
    std::mt19937 rng(185);
    std::normal_distribution<double> noise(0.0, 3.0);
    for (int y = 0; y < Picture::height; ++y) {
        for (int x = 0; x < Picture::width; ++x) {
            const double dx = x - 161.3, dy = y - 118.6;
            double v = 18.0 + noise(rng) + 260.0 * std::exp(-(dx * dx + dy * dy) / (2 * 1.6 * 1.6));
            const int c = std::clamp(int(v), 0, 255);
            picture.at(x, y) = rgbWord(c, c, c);
        }
    }
    for (auto [x, y] : {std::pair{130, 90}, {190, 150}, {40, 200}})
        picture.at(x, y) = rgbWord(150, 150, 150);
}

struct Setup {
    FakeClock clock;
    SharedState state{clock};
    std::unique_ptr<StarAnalysis> analysis = std::make_unique<StarAnalysis>();
    MeasureInputs in;
    Setup()
    {
        renderSky(state.picture);
        // Settle the automatic threshold as in a running guider.
        in.regionX = state.regionX;
        in.regionY = state.regionY;
        in.threshold = chooseThreshold(false, 0, analysis->measure(state.picture.view(), in).peakLevel);
    }
};

void BM_MeasureStar(benchmark::State& bs)
{
    Setup s;
    const PixelView view = s.state.picture.view();
    Measurement m;
    for (auto _ : bs) {
        m = s.analysis->measure(view, s.in);
        benchmark::DoNotOptimize(m.centroidX);
        benchmark::ClobberMemory();
    }
    bs.counters["population"] = m.population;
    bs.counters["centroid_x"] = m.centroidX;
    bs.counters["centroid_y"] = m.centroidY;
}
BENCHMARK(BM_MeasureStar);

// The slowest configuration: dark frame subtracted and levels inverted.
void BM_MeasureStarDarkSpot(benchmark::State& bs)
{
    Setup s;
    s.analysis->CaptureDark(s.state.picture.view());
    s.analysis->useDarkFrame = true;
    s.in.invert = true;
    const PixelView view = s.state.picture.view();
    for (auto _ : bs) {
        const Measurement m = s.analysis->measure(view, s.in);
        benchmark::DoNotOptimize(m.centroidX);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MeasureStarDarkSpot);

// The precise mode's star: the region's grey levels read from the picture,
// the blob, the sub-pixel centroid, mass and SNR, and the mass test. The
// automatic threshold keeps the bench's small star (four pixels above the
// design's threshold, too few) found, so that every step is timed.
void BM_PreciseStar(benchmark::State& bs)
{
    Setup s;
    const PixelView view = s.state.picture.view();
    PreciseStarFinder finder;
    PreciseRegion region;
    PreciseStar star;
    int64_t nowMs = 0;
    for (auto _ : bs) {
        readGreyRegion(view, s.state.regionX, s.state.regionY, region);
        star = finder.measure(region, std::nullopt, nowMs += 1000);
        benchmark::DoNotOptimize(star);
        benchmark::ClobberMemory();
    }
    if (!star.found())
        bs.SkipWithError(starLossText(star.loss));
    bs.counters["population"] = star.population;
    bs.counters["star_x"] = star.x;
    bs.counters["star_y"] = star.y;
}
BENCHMARK(BM_PreciseStar);

// The floor: copy the region's 100 rows of 100 pixels, nothing else.
void BM_CopyRegion(benchmark::State& bs)
{
    Setup s;
    const PixelView view = s.state.picture.view();
    std::vector<uint32_t> copy(100 * 100);
    for (auto _ : bs) {
        for (int row = 0; row < 100; ++row)
            std::memcpy(copy.data() + row * 100,
                        view.bits + (s.state.regionY + row) * view.stride + s.state.regionX,
                        100 * sizeof(uint32_t));
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_CopyRegion);

}  // namespace

BENCHMARK_MAIN();
