// The LX 200 command strings of the six mount operations and of the slew
// buttons, as pure functions: which strings an operation puts on the line for
// each guiding output. Nothing here touches the line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/guide/signs.h"

enum class MountOp { StartNorth, StartSouth, StartEast, StartWest, StopDec, StopRa };

// The start of a motion in a direction, and the stop of an axis. Stops: AD
// "#:Qe#" "#:Qw#", DEC "#:Qn#" "#:Qs#", or "#:Q#" on "Meade ETX".
MountOp startOp(Direction d);
MountOp stopOpFor(GuideAxis axis);

// At most two strings, in the order they are written, each one write on the
// line and each without terminator. Fixed storage: no allocation per pulse.
struct MountStrings {
    std::array<std::string_view, 2> items{};
    size_t count = 0;
    const std::string_view* begin() const { return items.data(); }
    const std::string_view* end() const { return items.data() + count; }
    size_t size() const { return count; }
    std::string_view operator[](size_t i) const { return items[i]; }
};

// The strings of one operation for an interfaceType, chosen on that value
// alone: 1 ("LX 200") sends "#:RG#" (guiding rate) before every start, 2
// ("Meade ETX") replaces the pair of stops by "#:Q#", and every other value
// (0, 3, or anything a crafted settings file holds) sends the plain move or
// the pair of stops.
MountStrings mountStrings(MountOp op, int32_t interfaceType);

// Whether an axis's stop on this output stops the other axis too ("#:Q#" on
// "Meade ETX").
bool stopHaltsBothAxes(int32_t interfaceType);

// A slew button's own strings: its move ("#:Mn#" for "N") and, on "LX 200",
// its one stop ("#:Qn#"); "Meade ETX" stops every button with "#:Q#".
std::string_view slewMoveString(SlewButton b);
std::string_view slewLx200StopString(SlewButton b);
inline constexpr std::string_view kGuideRateString = "#:RG#";
inline constexpr std::string_view kStopAllString = "#:Q#";
