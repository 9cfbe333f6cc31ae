// Framing a camera frame into the screen picture by area averaging.
#include "core/indi/framing.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The camera pixels one picture column (or row) covers and how much of each:
// picture pixel i spans [start + i * step, start + (i + 1) * step), cut to the
// frame. Empty when it lies wholly outside.
struct Taps {
    int first = 0;
    std::vector<float> weights;
};

std::vector<Taps> tapsFor(int outCount, double start, double step, int srcCount)
{
    std::vector<Taps> taps(static_cast<size_t>(outCount));
    for (int i = 0; i < outCount; ++i) {
        const double a = std::max(start + i * step, 0.0);
        const double b = std::min(start + (i + 1) * step, double(srcCount));
        if (b - a <= 1e-9)
            continue;
        Taps& t = taps[size_t(i)];
        t.first = int(std::floor(a));
        const int last = std::min(int(std::ceil(b)) - 1, srcCount - 1);
        const double total = b - a;
        for (int j = t.first; j <= last; ++j) {
            const double w = std::min(b, double(j + 1)) - std::max(a, double(j));
            t.weights.push_back(float(std::max(w, 0.0) / total));
        }
    }
    return taps;
}

// Area-average resampling: picture pixel (px, py) is the mean of the camera
// area [x0 + px * step, ...) x [y0 + py * step, ...) that lies in the frame.
std::vector<float> resample(const CameraFrame& frame, double x0, double y0, double step)
{
    constexpr int W = Picture::width, H = Picture::height;
    const std::vector<Taps> cols = tapsFor(W, x0, step, frame.width);
    const std::vector<Taps> rows = tapsFor(H, y0, step, frame.height);
    std::vector<float> out(size_t(W * H), std::numeric_limits<float>::quiet_NaN());

    // Columns first, for every camera row that some picture row reads.
    int rowLo = frame.height, rowHi = -1;
    for (const Taps& r : rows)
        if (!r.weights.empty()) {
            rowLo = std::min(rowLo, r.first);
            rowHi = std::max(rowHi, r.first + int(r.weights.size()) - 1);
        }
    if (rowHi < rowLo)
        return out;
    std::vector<float> across(size_t(rowHi - rowLo + 1) * W, 0.0f);
    for (int y = rowLo; y <= rowHi; ++y) {
        const float* src = frame.values.data() + size_t(y) * size_t(frame.width);
        float* dst = across.data() + size_t(y - rowLo) * W;
        for (int px = 0; px < W; ++px) {
            const Taps& c = cols[size_t(px)];
            float sum = 0.0f;
            for (size_t k = 0; k < c.weights.size(); ++k)
                sum += c.weights[k] * src[c.first + int(k)];
            dst[px] = sum;
        }
    }
    for (int py = 0; py < H; ++py) {
        const Taps& r = rows[size_t(py)];
        if (r.weights.empty())
            continue;
        for (int px = 0; px < W; ++px) {
            if (cols[size_t(px)].weights.empty())
                continue;
            float sum = 0.0f;
            for (size_t k = 0; k < r.weights.size(); ++k)
                sum += r.weights[k] * across[size_t(r.first - rowLo + int(k)) * W + size_t(px)];
            out[size_t(py) * W + size_t(px)] = sum;
        }
    }
    return out;
}

}  // namespace

double windowStart(int centre, int window, int frame)
{
    if (frame <= window)
        return -std::floor((window - frame) / 2.0);
    return std::clamp(centre - window / 2, 0, frame - window);
}

FramedPicture framePicture(const CameraFrame& frame, Framing framing, int centreX, int centreY)
{
    constexpr int W = Picture::width, H = Picture::height;
    FramedPicture f;
    if (frame.width <= 0 || frame.height <= 0) {
        f.values.assign(size_t(W * H), std::numeric_limits<float>::quiet_NaN());
        return f;
    }
    switch (framing) {
    case Framing::Whole: {
        f.scale = std::max(double(frame.width) / W, double(frame.height) / H);
        // The frame's extent in picture pixels, centred on whole pixels.
        const double shownW = frame.width / f.scale, shownH = frame.height / f.scale;
        f.originX = -std::floor((W - shownW) / 2.0 + 1e-9) * f.scale;
        f.originY = -std::floor((H - shownH) / 2.0 + 1e-9) * f.scale;
        break;
    }
    case Framing::Window:
    case Framing::WindowBinned:
        f.scale = framing == Framing::Window ? 1 : 2;
        f.originX = windowStart(centreX, int(W * f.scale), frame.width);
        f.originY = windowStart(centreY, int(H * f.scale), frame.height);
        break;
    }
    f.values = resample(frame, f.originX, f.originY, f.scale);
    return f;
}

CameraPoint brightestPatch(const CameraFrame& frame)
{
    CameraPoint best{frame.width / 2, frame.height / 2};
    constexpr int kEdge = 16;
    if (frame.width <= 2 * kEdge || frame.height <= 2 * kEdge)
        return best;
    // Column sums of five rows, moved down the frame a row at a time.
    std::vector<double> columns(size_t(frame.width), 0.0);
    for (int y = kEdge - 2; y < kEdge + 3; ++y)
        for (int x = 0; x < frame.width; ++x)
            columns[size_t(x)] += frame.at(x, y);
    double bestSum = -1e300;
    for (int y = kEdge; y < frame.height - kEdge; ++y) {
        double sum = 0;
        for (int x = kEdge - 2; x < kEdge + 3; ++x)
            sum += columns[size_t(x)];
        for (int x = kEdge; x < frame.width - kEdge; ++x) {
            if (sum > bestSum) {
                bestSum = sum;
                best = {x, y};
            }
            sum += columns[size_t(x + 3)] - columns[size_t(x - 2)];
        }
        if (y + 3 < frame.height)
            for (int x = 0; x < frame.width; ++x)
                columns[size_t(x)] += frame.at(x, y + 3) - frame.at(x, y - 2);
    }
    return best;
}
