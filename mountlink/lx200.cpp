// LX 200 command strings of the mount operations.
#include "mountlink/lx200.h"

#include "settings/tparam.h"

namespace {

constexpr std::string_view kGuideRate = "#:RG#";
constexpr std::string_view kStopAll = "#:Q#";

MountStrings one(std::string_view a)
{
    MountStrings s;
    s.items = {a, {}};
    s.count = 1;
    return s;
}

MountStrings two(std::string_view a, std::string_view b)
{
    MountStrings s;
    s.items = {a, b};
    s.count = 2;
    return s;
}

MountStrings start(std::string_view move, int32_t interfaceType)
{
    return interfaceType == Lx200 ? two(kGuideRate, move) : one(move);
}

MountStrings stop(std::string_view first, std::string_view second, int32_t interfaceType)
{
    return interfaceType == MeadeEtx ? one(kStopAll) : two(first, second);
}

} // namespace

std::optional<MountOp> startOpForPulse(GuideAxis axis, int pulseMs)
{
    if (pulseMs == 0)
        return std::nullopt;
    if (axis == GuideAxis::Ra)
        return pulseMs < 0 ? MountOp::StartEast : MountOp::StartWest;
    return pulseMs < 0 ? MountOp::StartNorth : MountOp::StartSouth;
}

MountOp stopOpFor(GuideAxis axis)
{
    return axis == GuideAxis::Ra ? MountOp::StopRa : MountOp::StopDec;
}

MountStrings mountStrings(MountOp op, int32_t interfaceType)
{
    switch (op) {
    case MountOp::StartNorth: return start("#:Mn#", interfaceType);
    case MountOp::StartSouth: return start("#:Ms#", interfaceType);
    case MountOp::StartEast: return start("#:Me#", interfaceType);
    case MountOp::StartWest: return start("#:Mw#", interfaceType);
    case MountOp::StopDec: return stop("#:Qn#", "#:Qs#", interfaceType);
    case MountOp::StopRa: return stop("#:Qe#", "#:Qw#", interfaceType);
    }
    return {};
}
