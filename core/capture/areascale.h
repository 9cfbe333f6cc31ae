// Any camera frame to the 320 x 240 screen picture by area averaging: each
// picture pixel is the mean of the source area it covers, with fractional
// weights for the source pixels cut by its edges. The aspect is stretched to
// fill the picture. A source smaller than the picture is enlarged with the
// same area weights: a picture pixel inside one source pixel takes its value,
// one that straddles two takes their mean weighted by the parts it covers.
#pragma once

#include <cstdint>
#include <vector>

#include "core/picture.h"

enum class SourceLayout {
    Rgb24,   // 3 bytes a pixel: R, G, B
    Xrgb32,  // one 0xffRRGGBB word a pixel, in the machine's byte order
};

struct SourceFrame {
    const uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    int strideBytes = 0;  // bytes from one row to the next
    SourceLayout layout = SourceLayout::Rgb24;
};

class AreaScaler {
public:
    // False (and the picture untouched) for an empty frame, or a stride
    // shorter than a row.
    bool scale(const SourceFrame& source, Picture& picture);

private:
    // Per picture column (or row): the first source pixel it covers and the
    // weights of the pixels it covers, in 2^-weightBits, summing to exactly one.
    struct Axis {
        int source = 0;
        std::vector<int> first;
        std::vector<int> count;
        std::vector<int> offset;  // into weights
        std::vector<uint32_t> weights;
    };
    static void build(Axis& axis, int sourceLength, int pictureLength, int weightBits);
    void horizontal(const SourceFrame& source, int row);

    Axis columns_;
    Axis rows_;
    std::vector<uint32_t> rowSums_;    // one source row across the picture: R, G, B
    std::vector<uint32_t> accumulator_;
};
