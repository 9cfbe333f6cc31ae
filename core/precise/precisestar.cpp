// The precise mode's star: the region's values, the star's blob, its
// centroid, and the tests that call it lost.
#include "core/precise/precisestar.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/measure/starflux.h"

namespace {

constexpr int kN = PreciseRegion::size;

// Calls visit(q, qx, qy) for pixel p and its eight neighbours inside the region.
template <class Visit>
inline void forNeighbourhood(int p, Visit&& visit)
{
    const int px = p % kN, py = p / kN;
    for (int qy = std::max(py - 1, 0); qy <= std::min(py + 1, kN - 1); ++qy)
        for (int qx = std::max(px - 1, 0); qx <= std::min(px + 1, kN - 1); ++qx)
            visit(qy * kN + qx, qx, qy);
}
constexpr int kBorder = 4 * kN - 4;
constexpr double kNoiseSigmas = 3.0;
// The automatic threshold on a camera's values: this far from the background
// to the peak. A tenth keeps five pixels or more of a star 1.6 px across at
// half its peak (a binned window), where a quarter keeps four.
constexpr double kAutoFraction = 0.10;

// Half-open range of region offsets whose picture coordinate origin + offset
// lies inside 0..limit-1.
struct Span {
    int begin = 0;
    int end = 0;
};
Span inside(int32_t origin, int limit)
{
    const int64_t lo = std::max<int64_t>(0, -int64_t(origin));
    const int64_t hi = std::min<int64_t>(kN, int64_t(limit) - int64_t(origin));
    return hi <= lo ? Span{} : Span{int(lo), int(hi)};
}

// The median of n values (reordered): the middle one, the upper of the two
// middle ones when n is even.
float median(float* v, std::size_t n)
{
    float* mid = v + n / 2;
    std::nth_element(v, mid, v + n);
    return *mid;
}

// The median of the border's values and the median of their distances from
// it. Whole values 0..255 (grey levels, 8-bit cameras) are counted in a
// histogram; others are selected.
struct Spread {
    float median;
    float deviation;
};
Spread borderSpread(float* b, std::size_t n)
{
    bool small = true;
    for (std::size_t i = 0; i < n; ++i)
        small = small && b[i] >= 0 && b[i] <= 255 && b[i] == float(int(b[i]));
    if (!small) {
        const float med = median(b, n);
        for (std::size_t i = 0; i < n; ++i)
            b[i] = std::fabs(b[i] - med);
        return {med, median(b, n)};
    }
    std::array<uint16_t, 256> count{};
    for (std::size_t i = 0; i < n; ++i)
        ++count[std::size_t(b[i])];
    const auto middle = [n](const std::array<uint16_t, 256>& c) {
        std::size_t seen = 0;
        int k = 0;
        while ((seen += c[std::size_t(k)]) <= n / 2)
            ++k;
        return k;
    };
    const int med = middle(count);
    std::array<uint16_t, 256> dev{};
    for (int k = 0; k < 256; ++k)
        dev[std::size_t(std::abs(k - med))] += count[std::size_t(k)];
    return {float(med), float(middle(dev))};
}

}  // namespace

void readGreyRegion(const PixelView& picture, int32_t x, int32_t y, PreciseRegion& out)
{
    out.originX = x;
    out.originY = y;
    const Span cols = picture.bits ? inside(x, picture.width) : Span{};
    const Span rows = picture.bits ? inside(y, picture.height) : Span{};
    if (cols.begin != 0 || cols.end != kN || rows.begin != 0 || rows.end != kN)
        out.values.fill(0.0f);
    if (cols.end <= cols.begin)
        return;
    // A whole row at a time through a buffer of exactly the region's width,
    // so that the compiler turns the loop into vector code; pixels off the
    // picture stay 0, whose grey level is 0.
    alignas(16) uint32_t row[kN] = {};
    const bool whole = cols.begin == 0 && cols.end == kN;
    for (int j = rows.begin; j < rows.end; ++j) {
        const uint32_t* src = picture.bits + std::size_t(y + j) * std::size_t(picture.stride) + x;
        if (!whole) {
            std::memcpy(row + cols.begin, src + cols.begin, std::size_t(cols.end - cols.begin) * sizeof(uint32_t));
            src = row;
        }
        float* dst = out.values.data() + std::size_t(j) * kN;
        // greyLevel: R + 2G + 2B (at most 1275) over 20, truncated, which
        // is exact in floats once half a unit is added.
        for (int i = 0; i < kN; ++i) {
            const uint32_t p = src[i];
            const uint32_t sum = ((p >> 16) & 0xff) + 2 * (((p >> 8) & 0xff) + (p & 0xff));
            dst[i] = float(int((float(int(sum)) + 0.5f) * 0.05f));
        }
    }
}

void readValueRegion(const float* values, int width, int height, int32_t x, int32_t y, PreciseRegion& out)
{
    out.originX = x;
    out.originY = y;
    out.values.fill(0.0f);
    if (values) {
        const Span cols = inside(x, width), rows = inside(y, height);
        for (int j = rows.begin; j < rows.end; ++j) {
            const float* src = values + std::size_t(y + j) * std::size_t(width) + (x + cols.begin);
            float* dst = out.values.data() + std::size_t(j) * kN + cols.begin;
            for (int i = 0; i < cols.end - cols.begin; ++i)
                dst[i] = std::isnan(src[i]) ? 0.0f : src[i];
        }
    }
}

const char* starLossText(StarLoss loss)
{
    switch (loss) {
    case StarLoss::None: return "star found";
    case StarLoss::TooFewPixels: return "star lost: fewer than 5 pixels above the threshold";
    case StarLoss::TooManyPixels: return "star lost: more than 200 pixels above the threshold";
    case StarLoss::AtEdge: return "star lost: it touches the edge of the region";
    case StarLoss::MassChange: return "star lost: its mass changed suddenly";
    }
    return "star lost";
}

const char* starLossTextFr(StarLoss loss)
{
    switch (loss) {
    case StarLoss::None: return "étoile trouvée";
    case StarLoss::TooFewPixels: return "étoile perdue : moins de 5 pixels au-dessus du seuil";
    case StarLoss::TooManyPixels: return "étoile perdue : plus de 200 pixels au-dessus du seuil";
    case StarLoss::AtEdge: return "étoile perdue : elle touche le bord de la zone";
    case StarLoss::MassChange: return "étoile perdue : sa masse a changé brusquement";
    }
    return "étoile perdue";
}

bool MassChangeTest::rejects(double mass)
{
    if (history_.size() < 5)
        return false;
    scratch_.clear();
    for (const Entry& e : history_)
        scratch_.push_back(e.mass);
    const auto mid = scratch_.begin() + std::ptrdiff_t(scratch_.size() / 2);
    std::nth_element(scratch_.begin(), mid, scratch_.end());
    const double med = *mid;
    highMass_ = std::max(highMass_, med);
    lowMass_ = std::min(lowMass_, med);
    // The low-water mark creeps back up to the median, so that a spell of
    // thin cloud does not leave it low for the rest of the night.
    lowMass_ += 0.05 * (med - lowMass_);
    return mass < lowMass_ * (1 - threshold) || mass > highMass_ * (1 + threshold) || mass > med * (1 + 2 * threshold);
}

void MassChangeTest::add(double mass, int64_t nowMs)
{
    while (!history_.empty() && history_.front().timeMs < nowMs - kWindowMs)
        history_.pop_front();
    history_.push_back({nowMs, mass});
}

void MassChangeTest::reset()
{
    history_.clear();
    highMass_ = 0;
    lowMass_ = std::numeric_limits<double>::infinity();
}

PreciseStar PreciseStarFinder::measure(const PreciseRegion& region, std::optional<double> threshold, int64_t nowMs)
{
    PreciseStar s;
    const float* v = region.values.data();

    // The background and its noise from the border.
    border_.resize(kBorder);
    float* b = border_.data();
    std::memcpy(b, v, kN * sizeof(float));
    std::memcpy(b + kN, v + (kN - 1) * kN, kN * sizeof(float));
    for (int j = 1; j < kN - 1; ++j) {
        b[2 * kN + 2 * (j - 1)] = v[j * kN];
        b[2 * kN + 2 * (j - 1) + 1] = v[j * kN + kN - 1];
    }
    const Spread spread = borderSpread(b, kBorder);
    const float bg = spread.median;
    s.background = bg;
    s.noise = 1.4826 * spread.deviation;

    // The brightest pixel: the first of the highest in reading order.
    float rowMax[kN];
    for (int row = 0; row < kN; ++row) {
        // Four running maxima, independent, so that they go a vector at a time.
        const float* r = v + row * kN;
        float m[4] = {r[0], r[1], r[2], r[3]};
        for (int i = 4; i < kN; i += 4)
            for (int k = 0; k < 4; ++k)
                m[k] = r[i + k] > m[k] ? r[i + k] : m[k];
        rowMax[row] = std::max(std::max(m[0], m[1]), std::max(m[2], m[3]));
    }
    const int peakRow = int(std::max_element(rowMax, rowMax + kN) - rowMax);
    const float peak = rowMax[peakRow];
    const int brightest = peakRow * kN + int(std::find(v + peakRow * kN, v + (peakRow + 1) * kN, peak) - (v + peakRow * kN));
    s.peak = peak;

    const double floor = bg + kNoiseSigmas * s.noise;
    const double chosen = threshold ? *threshold : bg + kAutoFraction * (peak - bg);
    s.threshold = std::max(chosen, floor);
    if (!(peak > s.threshold))
        return s;

    // The blob: pixels above the threshold connected to the brightest one.
    // mark_: 1 in the blob or grown around it.
    // Only the pixels the last measurement marked are cleared.
    for (const int16_t p : touched_)
        mark_[std::size_t(p)] = 0;
    touched_.clear();
    const auto markPixel = [this](int q) {
        mark_[std::size_t(q)] = 1;
        touched_.push_back(int16_t(q));
        stack_.push_back(int16_t(q));
    };
    stack_.clear();
    blob_.clear();
    markPixel(brightest);
    int count = 0;
    bool edge = false;
    const float thr = float(s.threshold);
    while (!stack_.empty()) {
        const int p = stack_.back();
        stack_.pop_back();
        blob_.push_back(int16_t(p));
        ++count;
        const int px = p % kN, py = p / kN;
        edge = edge || px == 0 || py == 0 || px == kN - 1 || py == kN - 1;
        if (count > kMaxPixels)
            break;
        forNeighbourhood(p, [&](int q, int, int) {
            if (!mark_[std::size_t(q)] && v[q] > thr)
                markPixel(q);
        });
    }
    s.population = count;
    if (count < kMinPixels) {
        s.loss = StarLoss::TooFewPixels;
        return s;
    }
    if (count > kMaxPixels) {
        s.loss = StarLoss::TooManyPixels;
        return s;
    }
    if (edge) {
        s.loss = StarLoss::AtEdge;
        return s;
    }

    // The centroid: the blob grown through its neighbours down to the noise
    // floor, so that the wings count, but no farther than three times the
    // blob's radius (plus a margin) from the blob's own centroid, so that
    // another star whose wings touch them does not.
    double bw = 0, bx = 0, by = 0;
    for (const int16_t p : blob_) {
        const double w = double(v[p]) - bg;
        bw += w;
        bx += w * (p % kN);
        by += w * (p / kN);
    }
    bx /= bw;
    by /= bw;
    const double reach = 3.0 * std::sqrt(count / 3.14159265358979) + 4.0;
    const double reach2 = reach * reach;
    const float low = float(floor);
    double sw = 0, sx = 0, sy = 0;
    stack_.assign(blob_.begin(), blob_.end());
    while (!stack_.empty()) {
        const int p = stack_.back();
        stack_.pop_back();
        const double w = double(v[p]) - bg;
        sw += w;
        sx += w * (p % kN);
        sy += w * (p / kN);
        forNeighbourhood(p, [&](int q, int qx, int qy) {
            if (!mark_[std::size_t(q)] && v[q] > low &&
                (qx - bx) * (qx - bx) + (qy - by) * (qy - by) <= reach2)
                markPixel(q);
        });
    }
    if (!(sw > 0)) {
        s.loss = StarLoss::TooFewPixels;
        return s;
    }
    const double cx = sx / sw, cy = sy / sw;
    s.x = region.originX + cx;
    s.y = region.originY + cy;

    const StarFlux flux =
        starFluxTopDown(v, std::clamp(int(std::lround(cx)), 0, kN - 1), std::clamp(int(std::lround(cy)), 0, kN - 1));
    s.mass = flux.mass;
    s.snr = flux.snr;

    s.loss = StarLoss::None;
    if (massTestOn) {
        if (massTest.rejects(s.mass))
            s.loss = StarLoss::MassChange;
        massTest.add(s.mass, nowMs);
    }
    return s;
}
