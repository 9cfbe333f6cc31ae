// The photograph file: every byte of a known picture, the right way up.
#include <gtest/gtest.h>

#include <sstream>

#include "core/photo/bmp.h"

namespace {

std::vector<uint8_t> hexBytes(const std::string& text)
{
    std::istringstream in(text);
    std::vector<uint8_t> out;
    unsigned b;
    while (in >> std::hex >> b)
        out.push_back(uint8_t(b));
    return out;
}

}  // namespace

TEST(PhotoBmp, BytesOfAKnownPicture)
{
    Picture picture;  // black
    for (int x = 0; x < Picture::width; ++x)
        picture.at(x, 0) = rgbWord(255, 255, 255);  // top row: level 63
    picture.at(0, 239) = rgbWord(20, 40, 60);       // bottom left: 220 / 20 = 11
    picture.at(5, 100) = rgbWord(19, 0, 0);         // 19 / 20 rounds down to 0
    picture.at(6, 100) = rgbWord(0, 10, 0);         // 1
    picture.at(319, 120) = rgbWord(100, 200, 50);   // 600 / 20 = 30

    const std::vector<uint8_t> bytes = photoBmp(greyCapture(picture.view()));
    ASSERT_EQ(bytes.size(), 77882u);

    const std::vector<uint8_t> header = hexBytes(
        "42 4d  3a 30 01 00  00 00  00 00  3a 04 00 00"
        "  28 00 00 00  40 01 00 00  f0 00 00 00  01 00  08 00"
        "  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00");
    ASSERT_EQ(header.size(), 54u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 54), header);

    // Colour table: the ramp of levels 0..63, then three more times.
    const struct { int entry; uint8_t grey; } table[] = {
        {0, 0}, {1, 4}, {63, 252}, {64, 0}, {65, 4}, {127, 252}, {128, 0}, {255, 252},
    };
    for (const auto& t : table) {
        const std::size_t at = 54 + 4 * std::size_t(t.entry);
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + 4),
                  (std::vector<uint8_t>{t.grey, t.grey, t.grey, 0}))
            << "entry " << t.entry;
    }
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 1078, bytes.begin() + 1082),
              std::vector<uint8_t>(4, 0));

    // Pixels from the bottom row up: the bright top row ends the file.
    std::vector<uint8_t> pixels(76800, 0);
    auto fileIndex = [](int x, int y) { return std::size_t(239 - y) * 320 + std::size_t(x); };
    for (int x = 0; x < 320; ++x)
        pixels[fileIndex(x, 0)] = 63;
    pixels[fileIndex(0, 239)] = 11;
    pixels[fileIndex(6, 100)] = 1;
    pixels[fileIndex(319, 120)] = 30;
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 1082, bytes.end()), pixels);
    EXPECT_EQ(bytes[1082], 11);
    EXPECT_EQ(bytes.back(), 63);
}
