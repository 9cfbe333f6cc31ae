// The relay-box and timed guide outputs.
#include "core/guide/guideoutput.h"

#include "core/guide/lx200.h"
#include "core/guide/mountchannel.h"
#include "core/guide/pulsemachine.h"
#include "core/guide/relaybox.h"
#include "core/state.h"

void RelayBoxOutput::pulse(const AxisPulse& p)
{
    const RelayPair pair = relayCorrectionPair(p.relayCode, p.relayCount);
    channel_.sendRelayByte(pair.command);
    channel_.pauseMs(kRelayByteGapMs);
    channel_.sendRelayByte(pair.closing);
}

void RelayBoxOutput::slewStart(const SlewCommand& s)
{
    channel_.sendRelayByte(relaySlewButtonByte(s.relayCode));
    channel_.pauseMs(kRelayByteGapMs);
}

void TimedPulseOutput::pulse(const AxisPulse& p)
{
    if (p.timed)
        pulses_.pulse(p.axis, p.lengthMs);
}

void TimedPulseOutput::slewStart(const SlewCommand& s)
{
    switch (state_.params->interfaceType) {
    case Lx200:
        channel_.sendText(kGuideRateString);
        channel_.sendText(slewMoveString(s.button));
        break;
    case MeadeEtx:
        channel_.sendText(slewMoveString(s.button));
        break;
    default:
        break;
    }
}

void TimedPulseOutput::slewStop(const SlewCommand& s)
{
    switch (state_.params->interfaceType) {
    case Lx200: channel_.sendText(slewLx200StopString(s.button)); break;
    case MeadeEtx: channel_.sendText(kStopAllString); break;
    default: break;
    }
}
