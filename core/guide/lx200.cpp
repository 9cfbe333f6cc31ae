// LX 200 command strings of the mount operations.
#include "core/guide/lx200.h"

#include "core/settings/tparam.h"

namespace {


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
    return interfaceType == Lx200 ? two(kGuideRateString, move) : one(move);
}

MountStrings stop(std::string_view first, std::string_view second, int32_t interfaceType)
{
    return interfaceType == MeadeEtx ? one(kStopAllString) : two(first, second);
}

} // namespace

MountOp startOp(Direction d)
{
    switch (d) {
    case Direction::North: return MountOp::StartNorth;
    case Direction::South: return MountOp::StartSouth;
    case Direction::East: return MountOp::StartEast;
    case Direction::West: return MountOp::StartWest;
    }
    return MountOp::StartNorth;
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

bool stopHaltsBothAxes(int32_t interfaceType)
{
    return interfaceType == MeadeEtx;
}

std::string_view slewMoveString(SlewButton b)
{
    switch (b) {
    case SlewButton::North: return "#:Mn#";
    case SlewButton::South: return "#:Ms#";
    case SlewButton::East: return "#:Me#";
    case SlewButton::West: return "#:Mw#";
    }
    return {};
}

std::string_view slewLx200StopString(SlewButton b)
{
    switch (b) {
    case SlewButton::North: return "#:Qn#";
    case SlewButton::South: return "#:Qs#";
    case SlewButton::East: return "#:Qe#";
    case SlewButton::West: return "#:Qw#";
    }
    return {};
}
