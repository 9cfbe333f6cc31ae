// Arrow-key slewing from the main window: which relay-box code or which timed
// pulse a key press sends, with the pairing of the inversion options that the
// slew buttons share ("Inverse DEC" swaps left and right, "Inverse AD" swaps
// up and down: the opposite of the automatic correction's pairing).
#pragma once

#include <cstdint>

#include "mountlink/lx200.h"

enum class ArrowKey { Left, Up, Right, Down };

// The key as the mount sees it after the inversion options.
ArrowKey effectiveArrowKey(ArrowKey key, bool invertRa, bool invertDec);

struct ArrowKeySlew {
    int relayCode = 0;       // relay box: left 0, right 1, up 2, down 3 (count 35)
    GuideAxis axis = GuideAxis::Ra;
    int pulseMs = 0;         // other outputs: left -1000, right +1000 on AD; up +1000, down -1000 on DEC
};

inline constexpr int kArrowKeyPulseMs = 1000;

ArrowKeySlew arrowKeySlew(ArrowKey key, bool invertRa, bool invertDec);
