// A dither: the lock moved by a random whole number of pixels, at most the
// amount asked on each axis (on AD alone when asked), and kept where the
// measurement can still follow the star: 10 to 90 pixels inside the region,
// as GuidingSession::placeRegion keeps it while tracking.
#pragma once

#include <functional>

struct DitherTarget {
    int lockX = 0;  // the new lock
    int lockY = 0;
    int dx = 0;     // the move actually made
    int dy = 0;
};

// uniform01 gives numbers in [0, 1): std::uniform_real_distribution in the
// program, a fixed sequence in tests. A negative, huge or not-a-number
// amount counts as its size, at most 100, or 0.
DitherTarget ditherLock(int lockX, int lockY, int regionX, int regionY, double amount, bool raOnly,
                        const std::function<double()>& uniform01);
