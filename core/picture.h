// The screen picture: the 320 x 240 frame that the capture window shows.
// Pixels are 0xffRRGGBB words, row-major from the top row, the layout of a
// QImage in Format_RGB32, so the capture window can wrap the buffer without
// copying it. The measurement and the dark frame read it through PixelView.
#pragma once

#include <cstdint>
#include <vector>

struct PixelView {
    const uint32_t* bits = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;  // pixels from one row to the next

    bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
    uint32_t at(int x, int y) const { return bits[y * stride + x]; }
};

struct Picture {
    static constexpr int width = 320;
    static constexpr int height = 240;
    std::vector<uint32_t> bits = std::vector<uint32_t>(width * height, 0xff000000u);

    PixelView view() const { return {bits.data(), width, height, width}; }
    uint32_t& at(int x, int y) { return bits[y * width + x]; }
    uint32_t at(int x, int y) const { return bits[y * width + x]; }
    void fill(uint32_t rgb) { bits.assign(width * height, 0xff000000u | rgb); }
};

inline constexpr uint32_t rgbWord(int r, int g, int b)
{
    return 0xff000000u | (uint32_t(r & 0xff) << 16) | (uint32_t(g & 0xff) << 8) | uint32_t(b & 0xff);
}
