// Arrow-key slewing: the key after the inversions, and what it sends.
#include "guiding/keyslew.h"

#include "guiding/relaybox.h"

ArrowKey effectiveArrowKey(ArrowKey key, bool invertRa, bool invertDec)
{
    switch (key) {
    case ArrowKey::Left: return invertDec ? ArrowKey::Right : ArrowKey::Left;
    case ArrowKey::Right: return invertDec ? ArrowKey::Left : ArrowKey::Right;
    case ArrowKey::Up: return invertRa ? ArrowKey::Down : ArrowKey::Up;
    case ArrowKey::Down: return invertRa ? ArrowKey::Up : ArrowKey::Down;
    }
    return key;
}

ArrowKeySlew arrowKeySlew(ArrowKey key, bool invertRa, bool invertDec)
{
    switch (effectiveArrowKey(key, invertRa, invertDec)) {
    case ArrowKey::Left: return {RelayWest, GuideAxis::Ra, -kArrowKeyPulseMs};
    case ArrowKey::Right: return {RelayEast, GuideAxis::Ra, kArrowKeyPulseMs};
    case ArrowKey::Up: return {RelayNorth, GuideAxis::Dec, kArrowKeyPulseMs};
    case ArrowKey::Down: return {RelaySouth, GuideAxis::Dec, -kArrowKeyPulseMs};
    }
    return {};
}
