// The exposure an imaging suite reads and sets through the event server
// (get_exposure, set_exposure, get_exposure_durations): the camera's own
// exposure when its driver has one (CaptureDriver::exposureControl, an INDI
// camera), else the measurement cycle, the pace at which a webcam's or the
// simulated sky's frames are measured. The suites choose among a list, as
// they do in PHD2.
#pragma once

#include <vector>

#include "core/capture/capturedriver.h"

struct CameraExposure {
    int ms = 0;                   // now
    std::vector<int> choicesMs;   // ascending, ms among them
    bool ownExposure = false;     // the camera's, not the measurement cycle
};

// What camera (nullptr: none) offers: a camera with an exposure of its own
// has the usual guiding exposures (10 ms to 30 s) within the limits of its
// control, and its exposure now; any other the measurement cycle alone.
CameraExposure cameraExposure(CaptureDriver* camera);

// Sets the camera's exposure to one of its choices (for the measurement
// cycle, the one it is); the reason, in English, when it cannot be.
CaptureStatus setCameraExposure(CaptureDriver* camera, int ms);
