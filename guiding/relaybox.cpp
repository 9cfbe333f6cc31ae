// Relay-box command bytes and the sequences that send them.
#include "guiding/relaybox.h"

#include <algorithm>

#include "mountlink/mountlink.h"

uint8_t relayCommandByte(int code, int count)
{
    const int n = std::clamp(count, 0, kRelayMaxCount);
    return uint8_t(n * 4 + (code & 3));
}

uint8_t relayClosingByte(int code)
{
    return uint8_t((code & 3) ^ 1);
}

int relayCorrectionCode(GuideAxis axis, int error)
{
    const int direction = error < 0 ? 0 : 1;
    return (axis == GuideAxis::Ra ? RelayWest : RelayNorth) + direction;
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

namespace {

void sendPair(MountLink& link, RelayPair pair)
{
    link.WritePortByte(link.comBase, pair.command);
    link.pauseMs(kRelayByteGapMs);
    link.WritePortByte(link.comBase, pair.closing);
}

} // namespace

void sendRelayCorrection(MountLink& link, int code, int count)
{
    sendPair(link, relayCorrectionPair(code, count));
}

void sendRelayArrowKey(MountLink& link, int code)
{
    sendPair(link, relayArrowKeyPair(code));
}

void sendRelaySlewButton(MountLink& link, int code)
{
    link.WritePortByte(link.comBase, relaySlewButtonByte(code));
    link.pauseMs(kRelayByteGapMs);
}
