// The relay-box and timed guide outputs, and the record of what they sent.
#include "core/guide/guideoutput.h"

#include <algorithm>

#include "core/guide/lx200.h"
#include "core/guide/mountchannel.h"
#include "core/guide/pulsemachine.h"
#include "core/guide/relaybox.h"
#include "core/serial/serialline.h"
#include "core/state.h"

int SentPulse::lengthMs() const
{
    if (unit == Unit::Milliseconds)
        return length;
    return (length * 1000 + kRelayMaxCount / 2) / kRelayMaxCount;
}

int SentPulse::signedMs() const
{
    const bool positive = direction == Direction::West || direction == Direction::South;
    return positive ? lengthMs() : -lengthMs();
}

int64_t SentCorrection::endUs() const
{
    int64_t end = 0;
    for (const std::optional<SentPulse>& p : {ra, dec})
        if (p)
            end = std::max(end, p->endUs);
    return end;
}

bool RelayBoxOutput::ready() const { return channel_.line().comHandle() >= 0; }

std::optional<SentPulse> RelayBoxOutput::pulse(const AxisPulse& p)
{
    const RelayPair pair = relayCorrectionPair(p.relayCode, p.relayCount);
    SentPulse sent;
    sent.axis = p.axis;
    sent.direction = pulseDirection(p.axis, p.lengthMs);
    sent.unit = SentPulse::Unit::RelayCounts;
    sent.length = decodeRelayByte(pair.command).count;
    // The box times the pulse from its command byte on.
    sent.startUs = channel_.state().clock.nowUs();
    sent.endUs = sent.startUs + int64_t(sent.length) * 1000000 / kRelayMaxCount;
    channel_.sendRelayByte(pair.command);
    channel_.pauseMs(kRelayByteGapMs);
    channel_.sendRelayByte(pair.closing);
    return sent;
}

void RelayBoxOutput::slew(const SlewCommand& s)
{
    if (!s.held)
        return;
    channel_.sendRelayByte(relaySlewButtonByte(s.relayCode));
    channel_.pauseMs(kRelayByteGapMs);
}

bool TimedPulseOutput::ready() const
{
    const int32_t type = state_.params->interfaceType;
    return (type != Lx200 && type != MeadeEtx) || channel_.line().comHandle() >= 0;
}

std::optional<SentPulse> TimedPulseOutput::pulse(const AxisPulse& p)
{
    if (!p.timed)
        return std::nullopt;
    return pulses_.pulse(p.axis, p.lengthMs);
}

void TimedPulseOutput::slew(const SlewCommand& s)
{
    switch (state_.params->interfaceType) {
    case Lx200:
        if (s.held) {
            channel_.sendText(kGuideRateString);
            channel_.sendText(slewMoveString(s.button));
        } else {
            channel_.sendText(slewLx200StopString(s.button));
        }
        break;
    case MeadeEtx: channel_.sendText(s.held ? slewMoveString(s.button) : kStopAllString); break;
    default: break;
    }
}
