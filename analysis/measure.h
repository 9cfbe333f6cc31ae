// The star measurement: turns the 100 x 100 analysis region of the screen
// picture into grey levels, a histogram, column and row counts, population,
// peak level and centroid. Plain code over a PixelView; the zoom window owns
// one StarAnalysis and calls it once a measurement cycle.
#pragma once

#include <array>
#include <cstdint>

#include "app/picture.h"

struct SharedState;

// Grey level 0..63 of a 0xffRRGGBB pixel: (R + 2G + 2B) / 20, truncated.
inline uint8_t greyLevel(uint32_t rgb)
{
    const unsigned r = (rgb >> 16) & 0xff, g = (rgb >> 8) & 0xff, b = rgb & 0xff;
    return uint8_t((r + 2 * g + 2 * b) / 20);
}

class StarAnalysis {
public:
    static constexpr int regionSize = 100;

    // The region's levels after dark subtraction and inversion, stored
    // bottom-up: first 100 bytes are the region's bottom row.
    std::array<uint8_t, regionSize * regionSize> zoomFrame{};
    // Grey levels of the whole 320 x 240 picture, index y * 320 + x; all zero
    // until the first capture, so "Util. noir" does nothing before one.
    std::array<uint8_t, Picture::width * Picture::height> darkFrame{};
    bool useDarkFrame = false;

    // One measurement of the region at (state.regionX, state.regionY).
    void MeasureStar(SharedState& state, const PixelView& picture);
    // Reads the whole picture into darkFrame.
    void CaptureDark(const PixelView& picture);
};
