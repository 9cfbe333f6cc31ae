// Commands to the mount on the chosen output.
#include "core/guide/mountcontrol.h"

#include <climits>

#include "core/guide/mountchannel.h"
#include "core/guide/pulsemachine.h"
#include "core/state.h"

MountControl::MountControl(SharedState& state, MountChannel& channel, PulseMachine& pulses)
    : state_(state), channel_(channel), pulses_(pulses), relay_(channel), timed_(state, channel, pulses)
{
}

InterfaceApplied MountControl::applyInterface()
{
    // A pulse of the output chosen before ends on it, on the line still
    // open: its stop strings would be commands to the next (a relay box
    // takes every byte for one).
    pulses_.endPulsesNotOn(state_.params->interfaceType);
    InterfaceApplied applied;
    auto openChosenPort = [this, &applied] {
        // A settings file may hold any port number: one outside COM1..COM4
        // makes the open fail, and the +1 must not overflow on the way.
        const int32_t comPort = state_.params->comPort;
        applied.port = channel_.line().openComPort(comPort < INT_MAX ? comPort + 1 : comPort);
    };
    switch (state_.params->interfaceType) {
    case RelayBox:
        openChosenPort();
        applied.ledWindow = InterfaceApplied::LedWindow::Hide;
        break;
    case Lx200:
    case MeadeEtx:
        openChosenPort();
        break;
    case VirtualLeds:
        applied.ledWindow = InterfaceApplied::LedWindow::Show;
        break;
    default:
        if (const auto it = others_.find(state_.params->interfaceType); it != others_.end())
            applied.output = it->second->open();
        break;
    }
    return applied;
}

GuideOutput& MountControl::output()
{
    const int32_t type = state_.params->interfaceType;
    if (type == RelayBox)
        return relay_;
    if (const auto it = others_.find(type); it != others_.end())
        return *it->second;
    return timed_;
}

void MountControl::setOutput(int32_t type, GuideOutput* output)
{
    if (output)
        others_[type] = output;
    else
        others_.erase(type);
}

SentCorrection MountControl::sendCorrection(const correction::Result& r)
{
    if (!r.valid)
        return {};
    auto axisPulse = [](GuideAxis axis, const correction::Axis& a) {
        return AxisPulse{axis, a.pulseMs, a.timedPulse, a.relayCode, a.count};
    };
    SentCorrection sent;
    sent.ra = output().pulse(axisPulse(GuideAxis::Ra, r.ra));
    channel_.pauseMs(correction::kAxisGapMs);
    sent.dec = output().pulse(axisPulse(GuideAxis::Dec, r.dec));
    return sent;
}

std::optional<SentPulse> MountControl::arrowKey(ArrowKey key)
{
    const tparam& p = *state_.params;
    const ArrowKeySense k = arrowKeySense(key, p.invertRa != 0, p.invertDec != 0);
    return output().pulse({k.axis, k.pulseMs, true, k.relayCode, kRelayArrowKeyCount});
}

void MountControl::slew(SlewButton b, bool held)
{
    const tparam& p = *state_.params;
    output().slew({b, slewButtonRelayCode(b, p.invertRa != 0, p.invertDec != 0), held});
}
