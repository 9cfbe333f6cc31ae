// The relay box ("Rereridu standard"): its command bytes, as pure functions.
// Every command is one byte naming an axis, a direction and a duration; the
// box times the pulse itself, and a closing byte ends each command except a
// slew button's. Which code each error, key and button sends is in signs.h.
#pragma once

#include <cstdint>

#include "core/guide/signs.h"

// Command byte: count in bits 7..2 (units of 1/63 s, 63 = one second), code in
// bits 1..0. Closing byte: the code with bit 0 inverted and no count (0x01,
// 0x00, 0x03, 0x02 for codes 0..3).
inline constexpr int kRelayMaxCount = 63;
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
RelayPair relayCorrectionPair(int code, int count);
RelayPair relayArrowKeyPair(int code);   // count 35: 0x8C..0x8F
uint8_t relaySlewButtonByte(int code);   // count 63: 0xFC..0xFF, no closing byte

// What a byte asks of the box: the count (duration in 1/63 s) and the code.
struct RelayCommand {
    int count = 0;
    int code = 0;
};
RelayCommand decodeRelayByte(uint8_t byte);
