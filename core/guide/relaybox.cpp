// Relay-box command bytes.
#include "core/guide/relaybox.h"

#include <algorithm>

uint8_t relayCommandByte(int code, int count)
{
    const int n = std::clamp(count, 0, kRelayMaxCount);
    return uint8_t(n * 4 + (code & 3));
}

uint8_t relayClosingByte(int code)
{
    return uint8_t((code & 3) ^ 1);
}

RelayPair relayCorrectionPair(int code, int count)
{
    return {relayCommandByte(code, count), relayClosingByte(code)};
}

RelayPair relayArrowKeyPair(int code)
{
    return relayCorrectionPair(code, kRelayArrowKeyCount);
}

uint8_t relaySlewButtonByte(int code)
{
    return relayCommandByte(code, kRelaySlewButtonCount);
}

RelayCommand decodeRelayByte(uint8_t byte)
{
    return {byte >> 2, byte & 3};
}
