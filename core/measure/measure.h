// The star measurement: turns the 100 x 100 analysis region of the screen
// picture into grey levels, a histogram, column and row counts, population,
// peak level and centroid. Plain code over a PixelView; the guiding session
// owns one StarAnalysis and calls it once a measurement cycle.
#pragma once

#include <array>
#include <cstdint>

#include "core/picture.h"

// Grey level 0..63 of a 0xffRRGGBB pixel: (R + 2G + 2B) / 20, truncated.
inline uint8_t greyLevel(uint32_t rgb)
{
    const unsigned r = (rgb >> 16) & 0xff, g = (rgb >> 8) & 0xff, b = rgb & 0xff;
    return uint8_t((r + 2 * g + 2 * b) / 20);
}

inline constexpr int kRegionSize = 100;

// Grey levels of a whole 320 x 240 picture, index y * 320 + x (top row first).
using GreyFrame = std::array<uint8_t, Picture::width * Picture::height>;

// The grey level of every pixel of the picture; 0 where the view has no
// pixel (a smaller view, or none at all).
GreyFrame greyCapture(const PixelView& picture);

// What one measurement reads besides the picture.
struct MeasureInputs {
    int32_t regionX = 110;      // top-left corner of the region, picture pixels
    int32_t regionY = 70;
    uint8_t threshold = 0;      // a star pixel's level is strictly above it
    bool invert = false;        // dark-spot guiding: levels become 63 - level
    // The tracking gate: while tracking, a star of fewer than 5 or more than
    // 200 pixels is replaced by the reference (lock) position.
    bool trackingOn = false;
    int32_t referenceX = 0;
    int32_t referenceY = 0;
};

// The result of one measurement.
struct Measurement {
    std::array<int32_t, 64> greyHistogram{};
    std::array<uint8_t, kRegionSize> columnCounts{};  // star pixels per region column
    std::array<uint8_t, kRegionSize> rowCounts{};     // per region row, 0 = top
    int32_t population = 0;
    uint8_t peakLevel = 0;
    uint8_t threshold = 0;      // the threshold that was applied
    int32_t centroidX = 0;      // star position inside the region, after the gate
    int32_t centroidY = 0;
    bool gated = false;         // the tracking gate replaced the measured position
};

// The threshold of the next measurement: the manual one when ticked (its low
// byte), otherwise seven levels below the previous measurement's peak (0 when
// that peak was 7 or less).
uint8_t chooseThreshold(bool manualThresholdOn, int32_t manualThreshold, uint8_t previousPeak);

class StarAnalysis {
public:
    static constexpr int regionSize = kRegionSize;

    // The region's levels after dark subtraction and inversion, stored
    // bottom-up: first 100 bytes are the region's bottom row.
    std::array<uint8_t, regionSize * regionSize> zoomFrame{};
    // Grey levels of the whole 320 x 240 picture, index y * 320 + x; all zero
    // until the first capture, so "Util. noir" does nothing before one.
    GreyFrame darkFrame{};
    bool useDarkFrame = false;

    // One measurement of the region; fills zoomFrame.
    Measurement measure(const PixelView& picture, const MeasureInputs& in);
    // Reads the whole picture into darkFrame.
    void CaptureDark(const PixelView& picture);
};
