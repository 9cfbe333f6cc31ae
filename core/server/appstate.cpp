// The guider's state in PHD2's terms.
#include "core/server/appstate.h"

const char* appStateName(AppState s)
{
    switch (s) {
    case AppState::Stopped: return "Stopped";
    case AppState::Looping: return "Looping";
    case AppState::Selected: return "Selected";
    case AppState::Guiding: return "Guiding";
    case AppState::LostLock: return "LostLock";
    case AppState::Paused: return "Paused";
    case AppState::Calibrating: return "Calibrating";
    }
    return "Stopped";
}

AppState deriveAppState(const AppStateInputs& in)
{
    if (!in.capturing)
        return AppState::Stopped;
    if (in.calibrating)
        return AppState::Calibrating;
    if (in.tracking)
        return in.starLost ? AppState::LostLock : AppState::Guiding;
    if (in.paused)
        return AppState::Paused;
    return in.starSelected ? AppState::Selected : AppState::Looping;
}
