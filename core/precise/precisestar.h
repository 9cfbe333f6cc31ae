// The precise mode's star: where the guide star lies in the 100 x 100
// analysis region, in fractions of a pixel, from the star's own pixels only.
//
// The star is the blob of pixels above the threshold that are connected
// (8-connectivity) to the brightest pixel of the region; any other star in
// the region is left out. The background is the median of the region's
// border pixels, its noise their median absolute deviation. The position is
// the centroid of the star's pixels weighted by their value above the
// background, taken over the blob grown down to three noise sigmas above the
// background (so that no pixel enters the sum with a large weight at once
// as the star moves, which would pull the centroid toward whole pixels).
// Mass and SNR are reckoned as PHD2 reckons them (core/measure/starflux.h).
//
// The star is lost when the blob has fewer than 5 or more than 200 pixels
// (the design's gate), when it touches the region's edge, or when its mass
// changes suddenly (PHD2's test: against the median of the last 45 seconds,
// with a threshold of 50 %).
//
// Plain code over a region of values, no I/O. The loop reads the region
// once a cycle (readGreyRegion, or readValueRegion when the camera gives its
// own values: AcquisitionLoop::lastValues), then calls
// PreciseStarFinder::measure; it calls resetMassHistory when a new star is
// chosen or the exposure changes.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <limits>
#include <optional>
#include <vector>

#include "core/measure/measure.h"
#include "core/picture.h"

// The region's values, top row first: grey levels 0..63 or a camera's own.
struct PreciseRegion {
    static constexpr int size = kRegionSize;
    int32_t originX = 0;  // picture pixel of the region's top-left corner
    int32_t originY = 0;
    std::array<float, size * size> values{};
    float at(int x, int y) const { return values[std::size_t(y) * size + std::size_t(x)]; }
};

// The grey levels (greyLevel) of the picture under the region whose top-left
// corner is (x, y); pixels off the picture read 0.
void readGreyRegion(const PixelView& picture, int32_t x, int32_t y, PreciseRegion& out);
// The camera's own values under the region: values laid out as a picture
// of width x height (row after row, top first); off the picture or NaN
// (no camera pixel there) reads 0.
void readValueRegion(const float* values, int width, int height, int32_t x, int32_t y, PreciseRegion& out);

// Why a measurement holds no star.
enum class StarLoss {
    None,
    TooFewPixels,   // fewer than 5 pixels above the threshold
    TooManyPixels,  // more than 200
    AtEdge,         // the blob touches the region's edge
    MassChange,     // the mass jumped away from its recent median
};
// What to tell the user: English for the command line and the server,
// French for the windows.
const char* starLossText(StarLoss loss);
const char* starLossTextFr(StarLoss loss);

struct PreciseStar {
    StarLoss loss = StarLoss::TooFewPixels;
    bool found() const { return loss == StarLoss::None; }
    double x = 0;            // picture pixels, fractions; the region's (x, y) pixel centre is origin + (x, y)
    double y = 0;
    int population = 0;      // pixels of the blob above the threshold
    double background = 0;   // median of the border
    double noise = 0;        // the border's spread, one sigma
    double threshold = 0;    // the threshold that was applied
    float peak = 0;          // the brightest value
    double mass = 0;         // PHD2's mass and SNR (0 when no star)
    double snr = 0;
};

// PHD2's mass-change test: a star whose mass falls below the low-water mark
// of the recent medians by more than the threshold, or rises above the
// high-water mark or twice the threshold above the median, is taken for
// another star or a cloud. Needs five masses of the last 45 seconds.
class MassChangeTest {
public:
    static constexpr double kDefaultThreshold = 0.5;
    static constexpr int64_t kWindowMs = 45000;

    double threshold = kDefaultThreshold;

    // Whether this mass is rejected. Every mass measured, rejected or not,
    // is added to the history afterwards (add).
    bool rejects(double mass);
    void add(double mass, int64_t nowMs);
    void reset();
    std::size_t size() const { return history_.size(); }

private:
    struct Entry {
        int64_t timeMs;
        double mass;
    };
    std::deque<Entry> history_;
    std::vector<double> scratch_;
    double highMass_ = 0;  // the highest median seen
    double lowMass_ = std::numeric_limits<double>::infinity();  // the lowest, creeping back up
};

class PreciseStarFinder {
public:
    static constexpr int kMinPixels = 5;
    static constexpr int kMaxPixels = 200;

    bool massTestOn = true;
    MassChangeTest massTest;

    // The star of the region. threshold: a star pixel lies strictly above it
    // (the design's detection threshold on grey levels); none chooses it: a
    // quarter of the way from the background to the brightest pixel. The
    // noise floor (three sigmas above the background) applies in both cases.
    PreciseStar measure(const PreciseRegion& region, std::optional<double> threshold, int64_t nowMs);
    // Forgets the masses (a new star, a new exposure).
    void resetMassHistory() { massTest.reset(); }

private:
    std::array<uint8_t, PreciseRegion::size * PreciseRegion::size> mark_{};
    std::vector<int16_t> stack_;
    std::vector<int16_t> blob_;
    std::vector<int16_t> touched_;  // the pixels marked, cleared at the next measurement
    std::vector<float> border_;
};
