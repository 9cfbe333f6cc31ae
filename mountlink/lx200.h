// The LX 200 command strings of the six mount operations, as pure functions:
// which strings an operation puts on the line for each guiding output. Nothing
// here touches the line; MountLink writes what these return.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

enum class MountOp { StartNorth, StartSouth, StartEast, StartWest, StopDec, StopRa };

// The two guided axes: right ascension ("AD", image x) and declination
// ("DEC", image y).
enum class GuideAxis { Ra, Dec };

// Sign conventions of a timed pulse (signed milliseconds; the magnitude is the
// length, the sign the direction):
//   AD,  length < 0: startEast  "#:Me#"  (left AD square)
//   AD,  length > 0: startWest  "#:Mw#"  (right AD square)
//   DEC, length < 0: startNorth "#:Mn#"  (left DEC square, "-" side)
//   DEC, length > 0: startSouth "#:Ms#"  (right DEC square, "+" side)
//   length 0: no start, the axis is only stopped.
// Stops: AD "#:Qe#" "#:Qw#", DEC "#:Qn#" "#:Qs#", or "#:Q#" on "Meade ETX".
// The guiding error (reference minus star) maps to a pulse of the opposite
// sign: an error below zero asks for a positive pulse (west, south).
std::optional<MountOp> startOpForPulse(GuideAxis axis, int pulseMs);
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
