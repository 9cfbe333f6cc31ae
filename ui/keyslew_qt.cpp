// Arrow-key slewing on the chosen output.
#include "ui/keyslew_qt.h"

#include <Qt>

#include "core/state.h"
#include "ui/optowin.h"
#include "core/guide/relaybox.h"

void slewArrowKey(SharedState& state, MountLink& link, TOptowin& optoWindow, ArrowKey key)
{
    const tparam& p = *state.params;
    const ArrowKeySlew slew = arrowKeySlew(key, p.invertRa != 0, p.invertDec != 0);
    if (p.interfaceType == RelayBox) {
        sendRelayArrowKey(link, slew.relayCode);
    } else if (slew.axis == GuideAxis::Ra) {
        optoWindow.PulseRa(slew.pulseMs);
    } else {
        optoWindow.PulseDec(slew.pulseMs);
    }
}

bool slewForKey(SharedState& state, MountLink& link, TOptowin& optoWindow, int qtKey)
{
    ArrowKey key;
    switch (qtKey) {
    case Qt::Key_Left: key = ArrowKey::Left; break;
    case Qt::Key_Up: key = ArrowKey::Up; break;
    case Qt::Key_Right: key = ArrowKey::Right; break;
    case Qt::Key_Down: key = ArrowKey::Down; break;
    default: return false;
    }
    slewArrowKey(state, link, optoWindow, key);
    return true;
}
