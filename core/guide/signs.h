// The sign conventions of the guider, written once: which way each guiding
// error, arrow key and slew button sends the mount, on each output. Every
// other file asks these functions; none works a direction out again.
//
// The guiding error is reference minus star, in pixels (positive: the star
// lies left of or above its lock). After "Inverse AD" (AD) or "Inverse DEC"
// (DEC) has flipped its sign, an error of exactly zero counts as "zero or
// above".
//
// Automatic correction, n = pulse count:
//
//   axis  error after inversion  relay box (code)   timed pulse     square lit         serial move  log
//   AD    below zero             n*4+0, 0x01 (0)    +15n ms         right AD square    "#:Mw#"      W
//   AD    zero or above          n*4+1, 0x00 (1)    -15n ms         left AD square     "#:Me#"      E
//   DEC   below zero             n*4+2, 0x03 (2)    +15n ms         right DEC ("+")    "#:Ms#"      S
//   DEC   zero or above          n*4+3, 0x02 (3)    -15n ms         left DEC ("-")     "#:Mn#"      N
//
// A timed pulse (LED window, "LX 200", "Meade ETX", an INDI mount) is a signed
// length: AD positive is West, negative East; DEC positive is South, negative
// North. The guide log and the event server name a pulse by these directions.
// On the timed outputs "Inhibe DEC+" drops a DEC pulse of positive length and
// "Inhibe DEC-" one of negative length; the relay box ignores both.
//
// Arrow keys and slew buttons pair the inversion options the other way round
// from the correction: "Inverse DEC" swaps left/right and W/E, "Inverse AD"
// swaps up/down and N/S.
//
//   key (after inversion)  relay box, count 35   timed pulse
//   left                   code 0: 0x8C, 0x01    AD   -1000 ms ("#:Me#")
//   right                  code 1: 0x8D, 0x00    AD   +1000 ms ("#:Mw#")
//   up                     code 2: 0x8E, 0x03    DEC  +1000 ms ("#:Ms#")
//   down                   code 3: 0x8F, 0x02    DEC  -1000 ms ("#:Mn#")
//
//   button  relay code (inversion applies)  "LX 200" press, release   "Meade ETX" press, release
//   "W"     0 (1 with "Inverse DEC")        "#:RG#" "#:Mw#", "#:Qw#"   "#:Mw#", "#:Q#"
//   "E"     1 (0 with "Inverse DEC")        "#:RG#" "#:Me#", "#:Qe#"   "#:Me#", "#:Q#"
//   "N"     2 (3 with "Inverse AD")         "#:RG#" "#:Mn#", "#:Qn#"   "#:Mn#", "#:Q#"
//   "S"     3 (2 with "Inverse AD")         "#:RG#" "#:Ms#", "#:Qs#"   "#:Ms#", "#:Q#"
//
// A slew button's relay byte is 0xFC + code with no closing byte; its serial
// strings are those of the button as pressed, never swapped.
#pragma once

#include <cstdint>

// The two guided axes: right ascension ("AD", image x) and declination
// ("DEC", image y).
enum class GuideAxis { Ra, Dec };

// The directions of the mount's commands.
enum class Direction { North, South, East, West };

inline constexpr int kPulseMsPerCount = 15;   // timed outputs: 63 counts = 945 ms
inline constexpr int kRelayArrowKeyCount = 35;
inline constexpr int kRelaySlewButtonCount = 63;
inline constexpr int kArrowKeyPulseMs = 1000;

// Relay-box codes: axis in bit 1 (0 AD, 1 DEC), direction in bit 0.
enum RelayCode : int { RelayWest = 0, RelayEast = 1, RelayNorth = 2, RelaySouth = 3 };

// -1, 0 or +1 for the error's sign after the inversion option.
int directedSign(int error, bool invert);

// The correction of one axis for an error (before inversion) and its count.
struct CorrectionSense {
    bool belowZero = false;  // the error after inversion is below zero
    int relayCode = 0;       // 0..3
    int pulseMs = 0;         // signed timed length, +-15 ms a count
};
CorrectionSense correctionSense(GuideAxis axis, int error, bool invert, int count);

// The direction a timed pulse of this signed length moves the mount in.
Direction pulseDirection(GuideAxis axis, int signedMs);

// The star's distance from its lock along an axis, in the mount's frame, as
// guide logs and imaging suites read it: a positive RA distance is corrected
// by a West pulse, a positive DEC distance by a South one. Without inversion
// it is the star minus the lock in pixels (the error negated); "Inverse AD"
// or "Inverse DEC" turns that axis round, as it turns the pulses round.
double mountDistance(int error, bool invert);
// The angle, in the picture, along which a positive distance of the axis
// lies (x to the right, y down, degrees as PHD2 writes them): RA 0 or 180,
// DEC 90 or -90 with its inversion.
double axisAngleDegrees(GuideAxis axis, bool invert);
// The axis a direction belongs to.
GuideAxis axisOf(Direction d);
// One letter for the guide log: 'N', 'S', 'E', 'W'.
char directionLetter(Direction d);
const char* directionName(Direction d);  // "North", "South", "East", "West"

// Arrow keys.
enum class ArrowKey { Left, Up, Right, Down };
ArrowKey effectiveArrowKey(ArrowKey key, bool invertRa, bool invertDec);
struct ArrowKeySense {
    int relayCode = 0;  // relay box, count 35
    GuideAxis axis = GuideAxis::Ra;
    int pulseMs = 0;    // timed outputs
};
// What a key sends, the inversion options applied.
ArrowKeySense arrowKeySense(ArrowKey key, bool invertRa, bool invertDec);

// Slew buttons "N", "S", "W", "E".
enum class SlewButton { North, South, West, East };
int slewButtonCode(SlewButton b);  // relay code of the button as pressed: W 0, E 1, N 2, S 3
int slewButtonRelayCode(SlewButton b, bool invertRa, bool invertDec);
Direction slewButtonDirection(SlewButton b);
