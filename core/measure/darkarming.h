// The "Acq Noir" button's two phases on the shared darkPending flag. The
// first press only arms the capture ("En cours"); the capture is made by the
// next timer tick, right after a fresh frame was grabbed, or at once by a
// second press, after which the button reads "Acq Noir" again.
#pragma once

inline constexpr const char* kAcquireDarkText = "Acq Noir";
inline constexpr const char* kDarkPendingText = "En cours";

struct DarkArmingStep {
    bool captureNow = false;          // read the picture into the dark frame now
    const char* buttonText = nullptr;  // what the button reads afterwards
};

// One press of the button (or one tick of the timer while armed); updates
// darkPending and says what to do.
DarkArmingStep advanceDarkArming(bool& darkPending);
