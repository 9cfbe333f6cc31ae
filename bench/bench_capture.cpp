// Cost of one capture frame: rendering the simulated sky (star field and
// sun), and turning a 640 x 480 YUYV webcam frame into the 320 x 240 picture
// (YUYV to RGB24 as libv4l2 does it, then the area-averaging scale).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include <linux/videodev2.h>

#include "core/capture/areascale.h"
#include "core/capture/simsky.h"
#include "core/guider.h"
#include "core/state.h"

#ifdef QUORVEL_HAVE_V4LCONVERT
#include <libv4l-plugin.h>
#include <libv4lconvert.h>

#include <cerrno>
#include <cstring>
#endif

namespace {

class NoTimer : public PulseTimerPort {
public:
    void arm(GuideAxis, int64_t) override {}
    void disarm(GuideAxis) override {}
};

void renderSky(benchmark::State& bs, bool sun)
{
    FakeClock clock;
    SharedState state(clock);
    NoTimer timer;
    GuiderCore core(state, timer);
    SimulatedSky sky(state, core.channel, std::string());
    sky.connect();
    for (auto _ : bs) {
        clock.advanceMs(200);
        sky.render(clock.nowUs(), sun, state.picture);
        benchmark::DoNotOptimize(state.picture.bits.data());
        benchmark::ClobberMemory();
    }
}

void BM_SkyStarField(benchmark::State& bs) { renderSky(bs, false); }
BENCHMARK(BM_SkyStarField)->Unit(benchmark::kMicrosecond);

void BM_SkySun(benchmark::State& bs) { renderSky(bs, true); }
BENCHMARK(BM_SkySun)->Unit(benchmark::kMicrosecond);

constexpr int kWidth = 640, kHeight = 480;

// A webcam frame: a soft gradient with some colour.
std::vector<uint8_t> yuyvFrame()
{
    std::vector<uint8_t> f(size_t(kWidth) * kHeight * 2);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; x += 2) {
            uint8_t* p = &f[(size_t(y) * kWidth + x) * 2];
            p[0] = uint8_t(16 + (x + y) % 220);
            p[1] = uint8_t(128 + (x % 64) - 32);
            p[2] = uint8_t(16 + (x + 1 + y) % 220);
            p[3] = uint8_t(128 + (y % 64) - 32);
        }
    return f;
}

#ifdef QUORVEL_HAVE_V4LCONVERT
// The converter wants a device to ask what it is: a capture device with no
// formats and no controls of its own.
int benchIoctl(void*, int, unsigned long request, void* arg)
{
    if (request == VIDIOC_QUERYCAP) {
        auto* cap = static_cast<v4l2_capability*>(arg);
        std::memset(cap, 0, sizeof *cap);
        cap->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
        return 0;
    }
    errno = EINVAL;
    return -1;
}
const libv4l_dev_ops kBenchDevice = {nullptr, nullptr, benchIoctl, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
#else
// BT.601 limited range, as libv4lconvert converts YUYV.
void yuyvToRgb24(const uint8_t* src, uint8_t* dst, int width, int height)
{
    const auto clip = [](int v) { return uint8_t(std::clamp(v, 0, 255)); };
    for (int i = 0; i < width * height / 2; ++i, src += 4, dst += 6) {
        const int u = src[1] - 128, v = src[3] - 128;
        const int rv = (1436 * v) >> 10, guv = (352 * u + 731 * v) >> 10, bu = (1814 * u) >> 10;
        for (int k = 0; k < 2; ++k) {
            const int yy = ((src[2 * k] - 16) * 1192) >> 10;
            dst[3 * k] = clip(yy + rv);
            dst[3 * k + 1] = clip(yy - guv);
            dst[3 * k + 2] = clip(yy + bu);
        }
    }
}
#endif

void BM_Yuyv640ToPicture(benchmark::State& bs)
{
    const std::vector<uint8_t> yuyv = yuyvFrame();
    std::vector<uint8_t> rgb(size_t(kWidth) * kHeight * 3);
    Picture picture;
    AreaScaler scaler;
#ifdef QUORVEL_HAVE_V4LCONVERT
    v4lconvert_data* convert = v4lconvert_create_with_dev_ops(-1, nullptr, &kBenchDevice);
    if (!convert) {
        bs.SkipWithError("v4lconvert_create failed");
        return;
    }
    v4l2_format src{}, dst{};
    src.type = dst.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    src.fmt.pix.width = dst.fmt.pix.width = kWidth;
    src.fmt.pix.height = dst.fmt.pix.height = kHeight;
    src.fmt.pix.field = dst.fmt.pix.field = V4L2_FIELD_NONE;
    src.fmt.pix.pixelformat = V4L2_PIX_FMT_YUYV;
    src.fmt.pix.bytesperline = kWidth * 2;
    src.fmt.pix.sizeimage = uint32_t(yuyv.size());
    dst.fmt.pix.pixelformat = V4L2_PIX_FMT_RGB24;
    dst.fmt.pix.bytesperline = kWidth * 3;
    dst.fmt.pix.sizeimage = uint32_t(rgb.size());
    bs.SetLabel("v4lconvert_convert");
#else
    bs.SetLabel("own YUYV conversion");
#endif
    for (auto _ : bs) {
#ifdef QUORVEL_HAVE_V4LCONVERT
        if (v4lconvert_convert(convert, &src, &dst, const_cast<uint8_t*>(yuyv.data()), int(yuyv.size()),
                               rgb.data(), int(rgb.size())) < 0) {
            bs.SkipWithError(v4lconvert_get_error_message(convert));
            break;
        }
#else
        yuyvToRgb24(yuyv.data(), rgb.data(), kWidth, kHeight);
#endif
        scaler.scale({rgb.data(), kWidth, kHeight, kWidth * 3, SourceLayout::Rgb24}, picture);
        benchmark::DoNotOptimize(picture.bits.data());
        benchmark::ClobberMemory();
    }
#ifdef QUORVEL_HAVE_V4LCONVERT
    v4lconvert_destroy(convert);
#endif
}
BENCHMARK(BM_Yuyv640ToPicture)->Unit(benchmark::kMicrosecond);

// The scale alone, from RGB24 already converted.
void BM_Scale640Rgb24(benchmark::State& bs)
{
    std::vector<uint8_t> rgb(size_t(kWidth) * kHeight * 3);
    for (size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = uint8_t(i * 13);
    Picture picture;
    AreaScaler scaler;
    for (auto _ : bs) {
        scaler.scale({rgb.data(), kWidth, kHeight, kWidth * 3, SourceLayout::Rgb24}, picture);
        benchmark::DoNotOptimize(picture.bits.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Scale640Rgb24)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
