// The measurement on any picture: the region's measurement with any corner,
// threshold, inversion, tracking gate and dark frame; the star's flux; the
// brightest star of the picture, with or without a camera's values; and the
// precise mode's star on the grey levels and on the values, a few frames
// in a row so that the mass test has a history.
//
// Input: a header of 20 bytes (32 with the corners in 32 bits) (sizes, corners, threshold, flags), then the
// pixels (0xffRRGGBB words, cycled when short) and the camera's values (raw
// float bits, NaN and infinities included).
#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/measure/findstar.h"
#include "core/measure/measure.h"
#include "core/measure/starflux.h"
#include "core/precise/precisestar.h"
#include "fuzzinput.h"

namespace {
constexpr int kMaxSide = 400;

// A corner near the picture most of the time, anywhere in 32 bits otherwise.
int32_t corner(FuzzInput& in, bool wide) { return wide ? in.i32() : int32_t(int16_t(in.u16())) % 600; }
// A corner moved by d, kept in 32 bits (a region never moves past them).
int32_t moved(int32_t c, int d)
{
    return int32_t(std::clamp<int64_t>(int64_t(c) + d, std::numeric_limits<int32_t>::min(),
                                       std::numeric_limits<int32_t>::max()));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const int width = in.u16() % (kMaxSide + 1);
    const int height = in.u16() % (kMaxSide + 1);
    const int stride = width + in.u8() % 4;
    const uint8_t flags = in.u8();
    const bool wide = flags & 1, invert = flags & 2, tracking = flags & 4, useDark = flags & 8;
    const bool withValues = flags & 16, autoThreshold = flags & 32, noPicture = flags & 64;
    const int32_t rx = corner(in, wide), ry = corner(in, wide);
    const int32_t refX = corner(in, wide), refY = corner(in, wide);
    const uint8_t threshold = in.u8();
    const int minContrast = int(int8_t(in.u8()));
    const float rawThreshold = in.f32();

    // The pixels, then the values, from what is left.
    const std::size_t count = std::size_t(stride) * std::size_t(height);
    std::vector<uint32_t> pixels(count, 0xff000000u);
    std::vector<float> values(count, 0.0f);
    const std::size_t words = in.left() / 4;
    if (words > 0) {
        const std::size_t pixelWords = withValues ? (words + 1) / 2 : words;
        FuzzInput pix(in.rest(), pixelWords * 4);
        for (std::size_t i = 0; i < count; ++i) {
            if (i % pixelWords == 0)
                pix = FuzzInput(in.rest(), pixelWords * 4);
            pixels[i] = pix.u32();
        }
        if (withValues && words > pixelWords) {
            const std::size_t valueWords = words - pixelWords;
            FuzzInput val(in.rest() + pixelWords * 4, valueWords * 4);
            for (std::size_t i = 0; i < count; ++i) {
                if (i % valueWords == 0)
                    val = FuzzInput(in.rest() + pixelWords * 4, valueWords * 4);
                values[i] = val.f32();
            }
        }
    }
    const PixelView view{noPicture || count == 0 ? nullptr : pixels.data(), width, height, stride};

    StarAnalysis analysis;
    if (useDark) {
        analysis.CaptureDark(view);
        analysis.useDarkFrame = true;
    }
    MeasureInputs mi;
    mi.regionX = rx;
    mi.regionY = ry;
    mi.threshold = threshold;
    mi.invert = invert;
    mi.trackingOn = tracking;
    mi.referenceX = refX;
    mi.referenceY = refY;
    const Measurement m = analysis.measure(view, mi);
    (void)chooseThreshold(autoThreshold, threshold, m.peakLevel);
    (void)starFlux(analysis.zoomFrame, m.centroidX, m.centroidY);

    (void)findBrightestStar(view, invert, withValues && view.bits ? values.data() : nullptr, minContrast);

    PreciseStarFinder finder;
    PreciseRegion region;
    const bool ownThreshold = flags & 128;
    const std::optional<double> chosen = autoThreshold  ? std::nullopt
                                         : ownThreshold ? std::optional<double>(rawThreshold)
                                                        : std::optional<double>(double(threshold) / 4.0);
    for (int frame = 0; frame < 6; ++frame) {
        readGreyRegion(view, moved(rx, frame), moved(ry, -frame), region);
        (void)finder.measure(region, chosen, int64_t(frame) * 1000);
    }
    if (withValues) {
        for (int frame = 0; frame < 6; ++frame) {
            readValueRegion(count ? values.data() : nullptr, width, height, moved(rx, -frame), moved(ry, frame),
                            region);
            const PreciseStar s = finder.measure(region, chosen, 10000 + int64_t(frame) * 1000);
            (void)starLossText(s.loss);
        }
    }
    return 0;
}
