// How a camera frame of any size becomes the 320 x 240 screen picture, in
// the three ways "Format" offers for an INDI camera: the whole frame reduced
// by area averaging, or a 320 x 240 window cut from it at full resolution or
// at 2 x 2 binning, placed by its centre in camera pixels (the user puts it
// on the guide star: a large sensor reduced whole loses the resolution that
// guiding needs). Plain code, no device.
#pragma once

#include <vector>

#include "core/indi/fitsframe.h"
#include "core/picture.h"

enum class Framing {
    Whole = 0,         // the whole frame, reduced (or enlarged) to fit, square pixels kept
    Window = 1,        // a 320 x 240 window at full resolution
    WindowBinned = 2,  // a 640 x 480 window averaged 2 x 2
};
inline constexpr int kFramingCount = 3;

// The picture's values before the grey stretch, and where it lies on the
// camera: picture pixel (px, py) covers camera pixels from
// (originX + px * scale, originY + py * scale), scale wide and high.
struct FramedPicture {
    std::vector<float> values;  // Picture::width * Picture::height, top row first;
                                // NaN where no camera pixel falls (the bands
                                // around a frame of another shape)
    double originX = 0;
    double originY = 0;
    double scale = 1;           // camera pixels per picture pixel
};

// Whole: scaled by the larger of width / 320 and height / 240 and centred, so
// a 1280 x 1024 frame fills 300 x 240 between two black bands and a 640 x 480
// frame is its exact 2 x 2 means. Window and WindowBinned: the window is
// centred on (centreX, centreY) and moved inside the frame where it would
// overhang it; a frame narrower or lower than the window is centred in it.
FramedPicture framePicture(const CameraFrame& frame, Framing framing, int centreX, int centreY);

// The brightest 5 x 5 patch of the frame (sums of camera values), kept 16
// pixels from its edges: where a window is first centred when the user has
// not placed it, so that it opens on the guide star.
struct CameraPoint {
    int x = 0;
    int y = 0;
};
CameraPoint brightestPatch(const CameraFrame& frame);

// The top-left camera pixel of a window of that width centred on centre,
// kept inside a frame of that size (centred when the frame is smaller).
double windowStart(int centre, int window, int frame);
