// The guider's state as imaging suites know it from PHD2 ("AppState"),
// worked out from what the guider is doing.
#pragma once

enum class AppState { Stopped, Looping, Selected, Guiding, LostLock, Paused, Calibrating };

// "Stopped", "Looping", "Selected", "Guiding", "LostLock", "Paused", "Calibrating".
const char* appStateName(AppState s);

struct AppStateInputs {
    bool capturing = false;     // a camera is connected and its frames are measured
    bool tracking = false;      // corrections go out (trackingOn)
    bool paused = false;        // tracking suspended with its lock kept
    bool starSelected = false;  // the region was placed on a star
    bool starLost = false;      // the tracking gate dropped the last frame
    bool calibrating = false;   // the precise mode calibrates the mount
};

// Without capture nothing else counts; then tracking (lost or not), the
// pause, a selected star, and plain looping, in that order.
AppState deriveAppState(const AppStateInputs& in);
