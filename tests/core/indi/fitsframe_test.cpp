// FITS decoding: small images written here with CFITSIO into memory, as an
// INDI camera would send them, read back value for value.
#include <gtest/gtest.h>

#include <fitsio.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/indi/fitsframe.h"

namespace {

// A FITS file in memory: an image of bitpix with these axes and values
// (written as doubles, CFITSIO scales them), and optional string keywords.
std::vector<unsigned char> makeFits(int bitpix, std::vector<long> axes, const std::vector<double>& values,
                                    const std::vector<std::pair<std::string, std::string>>& keys = {})
{
    size_t size = 2880;
    void* memory = std::malloc(size);
    fitsfile* f = nullptr;
    int status = 0;
    fits_create_memfile(&f, &memory, &size, 2880, std::realloc, &status);
    fits_create_img(f, bitpix, int(axes.size()), axes.data(), &status);
    for (const auto& [k, v] : keys)
        fits_update_key(f, TSTRING, k.c_str(), const_cast<char*>(v.c_str()), nullptr, &status);
    if (!values.empty())
        fits_write_img(f, TDOUBLE, 1, long(values.size()), const_cast<double*>(values.data()), &status);
    fits_close_file(f, &status);
    EXPECT_EQ(status, 0);
    std::vector<unsigned char> bytes(static_cast<unsigned char*>(memory), static_cast<unsigned char*>(memory) + size);
    std::free(memory);
    return bytes;
}

}  // namespace

TEST(FitsFrame, ImagesDecodeToTheirValuesTopRowFirst)
{
    struct Case {
        const char* what;
        int bitpix;
        std::vector<long> axes;
        std::vector<double> written;
        std::vector<std::pair<std::string, std::string>> keys;
        std::vector<float> expected;  // 3 x 2, top row first
    } cases[] = {
        {"8-bit", BYTE_IMG, {3, 2}, {0, 1, 2, 253, 254, 255}, {}, {0, 1, 2, 253, 254, 255}},
        // Unsigned 16-bit: BITPIX 16 with BZERO 32768, both ends of the range.
        {"16-bit, BZERO 32768", USHORT_IMG, {3, 2}, {0, 1, 32767, 32768, 40000, 65535}, {},
         {0, 1, 32767, 32768, 40000, 65535}},
        {"signed 16-bit", SHORT_IMG, {3, 2}, {-5, 0, 5, 100, 200, 300}, {}, {-5, 0, 5, 100, 200, 300}},
        {"32-bit float", FLOAT_IMG, {3, 2}, {0.5, 1.5, 2.5, 3.5, 4.5, 5.5}, {}, {0.5, 1.5, 2.5, 3.5, 4.5, 5.5}},
        // Colour: three planes R, G, B; a pixel is their mean.
        {"colour planes", USHORT_IMG, {3, 2, 3},
         {30, 0, 300, 0, 0, 0,     // R
          0, 60, 300, 0, 3, 0,     // G
          0, 0, 300, 90, 3, 6},    // B
         {}, {10, 20, 300, 30, 2, 2}},
        {"a single plane", USHORT_IMG, {3, 2, 1}, {1, 2, 3, 4, 5, 6}, {}, {1, 2, 3, 4, 5, 6}},
        {"rows stored bottom-up", USHORT_IMG, {3, 2}, {1, 2, 3, 4, 5, 6}, {{"ROWORDER", "BOTTOM-UP"}},
         {4, 5, 6, 1, 2, 3}},
        {"rows stored top-down", USHORT_IMG, {3, 2}, {1, 2, 3, 4, 5, 6}, {{"ROWORDER", "TOP-DOWN"}},
         {1, 2, 3, 4, 5, 6}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto bytes = makeFits(c.bitpix, c.axes, c.written, c.keys);
        CameraFrame frame;
        std::string error;
        ASSERT_TRUE(decodeFits(bytes.data(), bytes.size(), frame, error)) << error;
        EXPECT_EQ(frame.width, 3);
        EXPECT_EQ(frame.height, 2);
        EXPECT_EQ(frame.values, c.expected);
    }
}

TEST(FitsFrame, WhatIsNotAFrameIsRefusedWithItsCause)
{
    const std::vector<unsigned char> garbage(4000, 'x');
    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
        const char* message;  // part of the error
    } cases[] = {
        {"nothing", {}, "FITS: empty frame"},
        {"not FITS", garbage, "FITS: "},
        {"one axis", makeFits(USHORT_IMG, {6}, {1, 2, 3, 4, 5, 6}), "NAXIS = 1, a frame needs 2 axes or 3 colour planes"},
        {"two planes", makeFits(USHORT_IMG, {2, 2, 2}, std::vector<double>(8, 1)), "NAXIS = 3 with NAXIS3 = 2"},
        {"no data", makeFits(USHORT_IMG, {}, {}), "NAXIS = 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CameraFrame frame{1, 1, {42.0f}};
        std::string error;
        EXPECT_FALSE(decodeFits(c.bytes.data(), c.bytes.size(), frame, error));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_EQ(frame.values, std::vector<float>{42.0f});  // left as it was
    }
}

// Found by fuzzing (tests/fuzz/corpus/fits/crash-*): CFITSIO reads an
// in-memory file as far as its header says, in whole 2880-byte records, so
// a frame cut short, or one without its last record's padding, was read
// past its end; and axes of 2^32 overflowed their product.
TEST(FitsFrame, NoByteIsReadPastTheFrame)
{
    const std::vector<double> values(20 * 10, 7.0);
    const auto whole = makeFits(USHORT_IMG, {20, 10}, values);  // 2880 of header, 2880 of data
    ASSERT_EQ(whole.size(), 5760u);

    // Cut inside the data: refused, saying how much there is.
    {
        const std::vector<unsigned char> cut(whole.begin(), whole.begin() + 2880 + 100);
        CameraFrame frame;
        std::string error;
        EXPECT_FALSE(decodeFits(cut.data(), cut.size(), frame, error));
        EXPECT_NE(error.find("announces 400 bytes of data, the frame holds 100"), std::string::npos) << error;
    }
    // The data whole, the padding of its record left out: read as it is.
    {
        const std::vector<unsigned char> unpadded(whole.begin(), whole.begin() + 2880 + 400);
        CameraFrame frame;
        std::string error;
        ASSERT_TRUE(decodeFits(unpadded.data(), unpadded.size(), frame, error)) << error;
        EXPECT_EQ(frame.values, std::vector<float>(200, 7.0f));
    }
    // Axes whose product leaves 64 bits: refused by their size.
    {
        std::string header;
        for (const char* card : {"SIMPLE  =                    T", "BITPIX  =                    8",
                                 "NAXIS   =                    2", "NAXIS1  =           4294967296",
                                 "NAXIS2  =           4294967296", "END"})
            header += std::string(card).append(80 - std::string(card).size(), ' ');
        header.append(2880 - header.size(), ' ');
        CameraFrame frame;
        std::string error;
        EXPECT_FALSE(decodeFits(header.data(), header.size(), frame, error));
        EXPECT_NE(error.find("a frame of 4294967296 x 4294967296 pixels"), std::string::npos) << error;
    }
}
