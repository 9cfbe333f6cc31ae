// The area-averaging scale to 320 x 240.
#include <gtest/gtest.h>

#include <cstring>

#include "core/capture/areascale.h"

namespace {

uint8_t channelOf(uint32_t word, int c)
{
    return uint8_t(word >> (16 - 8 * c));
}

}  // namespace

TEST(AreaScale, HalvingAveragesEachTwoByTwoBlockToTheNearestLevel)
{
    // Every pixel different: each picture pixel is the rounded mean of its
    // block, on every channel.
    constexpr int W = 640, H = 480;
    std::vector<uint8_t> rgb(W * H * 3);
    uint32_t s = 12345;
    for (uint8_t& v : rgb) {
        s = s * 1103515245u + 12345u;
        v = uint8_t(s >> 23);
    }
    Picture picture;
    AreaScaler scaler;
    ASSERT_TRUE(scaler.scale({rgb.data(), W, H, W * 3, SourceLayout::Rgb24}, picture));
    for (int y = 0; y < Picture::height; ++y) {
        for (int x = 0; x < Picture::width; ++x) {
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (int dy = 0; dy < 2; ++dy)
                    for (int dx = 0; dx < 2; ++dx)
                        sum += rgb[((2 * y + dy) * W + 2 * x + dx) * 3 + c];
                ASSERT_EQ(channelOf(picture.bits[y * 320 + x], c), (sum + 2) / 4) << x << "," << y << " c" << c;
            }
            ASSERT_EQ(picture.bits[y * 320 + x] >> 24, 0xffu);
        }
    }
}

TEST(AreaScale, AFlatFieldStaysFlatAtAnySize)
{
    struct Case {
        int width, height, padBytes;
        SourceLayout layout;
    } cases[] = {
        {500, 375, 0, SourceLayout::Rgb24}, {333, 257, 7, SourceLayout::Rgb24},   {1920, 1080, 0, SourceLayout::Rgb24},
        {641, 479, 4, SourceLayout::Xrgb32}, {160, 120, 0, SourceLayout::Xrgb32}, {7, 5, 1, SourceLayout::Rgb24},
    };
    AreaScaler scaler;  // one scaler through every size
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height);
        const int bpp = c.layout == SourceLayout::Rgb24 ? 3 : 4;
        const int stride = c.width * bpp + c.padBytes;
        std::vector<uint8_t> data(size_t(stride) * c.height, 0xee);  // padding that must not be read
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                uint8_t* p = &data[size_t(y) * stride + x * bpp];
                if (bpp == 3) {
                    p[0] = 201, p[1] = 37, p[2] = 99;
                } else {
                    const uint32_t word = rgbWord(201, 37, 99);
                    std::memcpy(p, &word, 4);
                }
            }
        Picture picture;
        ASSERT_TRUE(scaler.scale({data.data(), c.width, c.height, stride, c.layout}, picture));
        for (uint32_t v : picture.bits)
            ASSERT_EQ(v, rgbWord(201, 37, 99));
    }
}

TEST(AreaScale, EdgesCutThroughSourcePixelsWeighByTheirPart)
{
    // 480 wide: each picture column covers one and a half source columns.
    // A lone bright column 1 gives a third of its level to columns 0 and 1.
    constexpr int W = 480, H = 240;
    std::vector<uint8_t> rgb(W * H * 3, 0);
    for (int y = 0; y < H; ++y)
        for (int c = 0; c < 3; ++c)
            rgb[(y * W + 1) * 3 + c] = 255;
    Picture picture;
    AreaScaler scaler;
    ASSERT_TRUE(scaler.scale({rgb.data(), W, H, W * 3, SourceLayout::Rgb24}, picture));
    EXPECT_EQ(picture.bits[50 * 320 + 0], rgbWord(85, 85, 85));
    EXPECT_EQ(picture.bits[50 * 320 + 1], rgbWord(85, 85, 85));
    EXPECT_EQ(picture.bits[50 * 320 + 2], rgbWord(0, 0, 0));

    // Enlarging: 160 x 120 pixels become 2 x 2 blocks.
    std::vector<uint8_t> small(160 * 120 * 3);
    for (size_t i = 0; i < small.size(); ++i)
        small[i] = uint8_t(i * 7);
    ASSERT_TRUE(scaler.scale({small.data(), 160, 120, 160 * 3, SourceLayout::Rgb24}, picture));
    for (int y = 0; y < 240; y += 37)
        for (int x = 0; x < 320; x += 13) {
            const uint8_t* p = &small[((y / 2) * 160 + x / 2) * 3];
            EXPECT_EQ(picture.bits[y * 320 + x], rgbWord(p[0], p[1], p[2]));
        }

    EXPECT_FALSE(scaler.scale({small.data(), 160, 120, 160 * 3 - 1, SourceLayout::Rgb24}, picture));
    EXPECT_FALSE(scaler.scale({nullptr, 160, 120, 480, SourceLayout::Rgb24}, picture));
}
