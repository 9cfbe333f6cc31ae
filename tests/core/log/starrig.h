// The core rig with a star drawn by hand: a 3 x 3 white square on black,
// whose centroid is its centre pixel, so a test places the star to the pixel.
#pragma once

#include "core/corerig.h"

struct StarRig : CoreRig {
    using CoreRig::CoreRig;

    void star(int x, int y)
    {
        state.picture.fill(0);
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                state.picture.at(x + dx, y + dy) = rgbWord(255, 255, 255);
    }
    void noStar() { state.picture.fill(0); }

    // One measurement cycle, ms after the last one.
    const CycleResult& cycle(int ms = 1200)
    {
        advanceMs(ms);
        return core.session.measureCycle(state.picture.view());
    }
    // A star at (x, y), measured, and tracking started on it.
    void lockOn(int x, int y)
    {
        star(x, y);
        cycle();
        core.session.startTracking();
    }
};
