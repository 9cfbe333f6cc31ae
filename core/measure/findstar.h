// Finding the guide star in the whole picture: the brightest 5 x 5 patch of
// grey levels (in dark-spot mode the darkest, the sunspot), so that a single
// hot pixel does not win over a star. Used to place the analysis region on
// the star when it is not inside it (the headless guider, the event server's
// find_star).
#pragma once

#include <optional>

#include "core/picture.h"

struct StarPosition {
    int x = 0;  // picture pixels
    int y = 0;
};

// Nothing when the picture holds no patch standing out from its median by at
// least minContrast grey levels (of 64) on average.
std::optional<StarPosition> findBrightestStar(const PixelView& picture, bool darkSpot, int minContrast = 4);
