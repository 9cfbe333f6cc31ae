// Applying the guiding output.
#include "ui/interface_qt.h"

#include <climits>

#include "core/state.h"
#include "ui/optowin.h"
#include "core/serial/serialline.h"

namespace {

void openChosenPort(const SharedState& state, MountLink& link)
{
    // A settings file may hold any port number: one outside COM1..COM4 makes
    // the open fail with its message, and the +1 must not overflow on the way.
    const int32_t comPort = state.params->comPort;
    link.openComPort(comPort < INT_MAX ? comPort + 1 : comPort);
}

}  // namespace

void applyInterface(SharedState& state, MountLink& link, TOptowin& optoWindow)
{
    switch (state.params->interfaceType) {
    case RelayBox:
        openChosenPort(state, link);
        optoWindow.hide();
        break;
    case Lx200:
    case MeadeEtx:
        openChosenPort(state, link);
        break;
    case VirtualLeds:
        optoWindow.show();
        break;
    default:
        break;
    }
}
