// The photograph file: every byte of a known picture, the right way up.
#include <gtest/gtest.h>

#include "core/photo/bmp.h"

TEST(PhotoBmp, BytesOfAKnownPicture)
{
    Picture picture;  // black
    for (int x = 0; x < Picture::width; ++x)
        picture.at(x, 0) = rgbWord(255, 255, 255);  // top row: level 63
    picture.at(0, 239) = rgbWord(20, 40, 60);       // bottom left: 220 / 20 = 11
    picture.at(319, 120) = rgbWord(100, 200, 50);   // 600 / 20 = 30

    const std::vector<uint8_t> bytes = photoBmp(greyCapture(picture.view()));
    const std::string file(bytes.begin(), bytes.end());
    ASSERT_EQ(file.size(), 77882u);
    EXPECT_EQ(file.substr(0, 54),
              std::string("BM" "\x3a\x30\x01\x00" "\0\0\0\0" "\x3a\x04\0\0"
                          "\x28\0\0\0" "\x40\x01\0\0" "\xf0\0\0\0" "\x01\0" "\x08\0"
                          "\0\0\0\0" "\0\0\0\0" "\0\0\0\0" "\0\0\0\0" "\0\0\0\0" "\0\0\0\0",
                          54));

    // Colour table: the ramp of levels 0..63, then three more times; then
    // four zero bytes.
    const struct { int entry; char grey; } table[] = {
        {0, 0}, {1, 4}, {63, char(252)}, {64, 0}, {65, 4}, {127, char(252)}, {255, char(252)},
    };
    for (const auto& t : table)
        EXPECT_EQ(file.substr(54 + 4 * t.entry, 4), std::string({t.grey, t.grey, t.grey, 0})) << t.entry;
    EXPECT_EQ(file.substr(1078, 4), std::string(4, '\0'));

    // Pixels from the bottom row up: the bright top row ends the file.
    std::string pixels(76800, '\0');
    auto at = [&](int x, int y) -> char& { return pixels[std::size_t(239 - y) * 320 + std::size_t(x)]; };
    for (int x = 0; x < 320; ++x)
        at(x, 0) = 63;
    at(0, 239) = 11;
    at(319, 120) = 30;
    EXPECT_EQ(file.substr(1082), pixels);
}
