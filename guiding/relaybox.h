// The relay box ("Rereridu standard"): its command bytes, as pure functions,
// and the sequences that send them on the serial line. Every command is one
// byte naming an axis, a direction and a duration; the box times the pulse
// itself, and a closing byte ends each command except a slew button's.
#pragma once

#include <cstdint>

#include "mountlink/lx200.h"

class MountLink;

// Command byte: count in bits 7..2 (units of 1/63 s, 63 = one second), code in
// bits 1..0 (axis in bit 1: 0 AD, 1 DEC; direction in bit 0).
//
// Codes and who sends them:
//   code  axis  slew button  arrow key  automatic correction
//   0     AD    "W"          left       AD error after inversion below zero
//   1     AD    "E"          right      AD error after inversion zero or above
//   2     DEC   "N"          up         DEC error after inversion below zero
//   3     DEC   "S"          down       DEC error after inversion zero or above
// Closing byte: the code with bit 0 inverted and no count (0x01, 0x00, 0x03,
// 0x02 for codes 0..3).
enum RelayCode : int { RelayWest = 0, RelayEast = 1, RelayNorth = 2, RelaySouth = 3 };

inline constexpr int kRelayMaxCount = 63;
inline constexpr int kRelayArrowKeyCount = 35;
inline constexpr int kRelaySlewButtonCount = 63;
inline constexpr int kRelayByteGapMs = 5;  // between the bytes of a sequence

struct RelayPair {
    uint8_t command = 0;
    uint8_t closing = 0;
    bool operator==(const RelayPair&) const = default;
};

// Only the two low bits of a code are used; a count outside 0..63 is
// saturated (below 0 to 0, above 63 to 63).
uint8_t relayCommandByte(int code, int count);
uint8_t relayClosingByte(int code);

// The code the automatic correction sends for an error (after inversion);
// an error of zero counts as not below zero.
int relayCorrectionCode(GuideAxis axis, int error);

RelayPair relayCorrectionPair(int code, int count);
RelayPair relayArrowKeyPair(int code);   // count 35: 0x8C..0x8F
uint8_t relaySlewButtonByte(int code);   // count 63: 0xFC..0xFF, no closing byte

// Each writes its bytes to link.comBase with link.pauseMs(5) after the first
// byte, so a sequence runs to its end before the caller goes on.
void sendRelayCorrection(MountLink& link, int code, int count);
void sendRelayArrowKey(MountLink& link, int code);
void sendRelaySlewButton(MountLink& link, int code);
