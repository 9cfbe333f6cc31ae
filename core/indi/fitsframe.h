// A camera frame as numbers, and its decoding from the FITS file an INDI
// camera sends. Plain code over CFITSIO's in-memory files: no device, no
// thread; the INDI camera calls it on each frame it receives.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// One frame in the camera's own units (ADU), one value a pixel, row-major
// with the top row first. A colour frame is already reduced to one value a
// pixel (the mean of its planes): the guider shows grey.
struct CameraFrame {
    int width = 0;
    int height = 0;
    std::vector<float> values;

    float at(int x, int y) const { return values[size_t(y) * size_t(width) + size_t(x)]; }
};

// Decodes a FITS image held in memory into frame: 8, 16 or 32-bit integers
// or floating point, with BZERO and BSCALE applied; two axes (mono) or three
// with NAXIS3 = 3 (colour planes, averaged). Rows are kept in file order, top
// row first, as INDI cameras write them; a header that says
// ROWORDER = 'BOTTOM-UP' has its rows turned over. False with a message
// ("FITS: NAXIS = 1, a frame needs 2 axes or 3 colour planes") when the data
// is not such an image; frame is then left as it was.
bool decodeFits(const void* data, size_t size, CameraFrame& frame, std::string& error);
