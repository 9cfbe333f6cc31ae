// The FITS reader of the INDI camera (core/indi/fitsframe.cpp) on any bytes,
// then what the camera does with a frame it reads: the brightest patch,
// each of the three framings, the automatic stretch and the grey picture.
#include <cstdint>
#include <string>

#include "core/indi/fitsframe.h"
#include "core/indi/framing.h"
#include "core/indi/stretch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CameraFrame frame;
    std::string error;
    if (!decodeFits(data, size, frame, error))
        return 0;
    const CameraPoint star = brightestPatch(frame);
    Picture picture;
    for (int f = 0; f < kFramingCount; ++f) {
        const FramedPicture framed = framePicture(frame, Framing(f), star.x, star.y);
        stretchToPicture(framed.values, autoStretchLevels(framed.values), picture);
    }
    return 0;
}
