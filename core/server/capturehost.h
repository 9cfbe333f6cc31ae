// What the event server asks of the program it runs in, about the camera:
// the headless `quorvel serve` and the windowed program each provide it,
// since each ticks its acquisition loop its own way (a QTimer of its own, the
// main window's acquisition timer) and the window draws marks over the
// picture that must move with the region.
#pragma once

#include "core/capture/capturedriver.h"

class CaptureHost {
public:
    virtual ~CaptureHost() = default;

    // Connects capture entry driverIndex and starts ticking the acquisition
    // loop; the cause when the camera cannot be connected.
    virtual CaptureStatus startCapture() = 0;
    // Disconnects the camera and stops the ticks.
    virtual void stopCapture() = 0;
    // Centres the analysis region on a picture position
    // (GuidingSession::placeRegion), redrawing whatever shows the region.
    virtual void placeRegion(int x, int y) = 0;
};
