// Finding the guide star in the whole picture: the brightest 5 x 5 patch of
// grey levels (in dark-spot mode the darkest, the sunspot), so that a single
// hot pixel does not win over a star. Used to place the analysis region on
// the star when it is not inside it (the headless guider, the event server's
// find_star).
//
// A camera that gives its own values of the picture (an INDI camera's ADUs,
// CaptureDriver::pictureValues) has them decide between the patches that
// stand out in grey: stretched to 64 grey levels every star of a field
// saturates, and the sums of grey levels no longer tell a bright star from
// a faint one.
#pragma once

#include <optional>

#include "core/picture.h"

struct StarPosition {
    int x = 0;  // picture pixels
    int y = 0;
};

// Nothing when the picture holds no patch standing out from its median by at
// least minContrast grey levels (of 64) on average. values, when given, are
// the camera's values at the picture's pixels, laid out as the picture
// (values[y * picture.stride + x]); among the patches that stand out so,
// the one with the largest sum of them (the smallest in dark-spot mode) is
// the star, and a patch with a NaN value (off the camera) is never chosen.
std::optional<StarPosition> findBrightestStar(const PixelView& picture, bool darkSpot, const float* values = nullptr,
                                              int minContrast = 4);
