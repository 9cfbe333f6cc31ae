// The grey stretch of an INDI camera's picture: camera values (ADU) become
// the picture's grey (R = G = B) by a straight line from a black point
// (grey 0) to a white point (grey 255), clipped at both ends. The levels are
// chosen by hand in "Adjust" or, by default, from the picture itself so that
// a star shows as a webcam shows it: a bright, partly saturated spot on a
// dark sky, which is what the star measurement expects (a star pixel lies
// within seven of 64 levels of the peak; 5 to 200 of them keep tracking).
#pragma once

#include <vector>

#include "core/picture.h"

struct StretchLevels {
    float black = 0;
    float white = 1;
};

// How far above the sky the automatic white point lies, in noise sigmas:
// the noise then stays in the lowest grey levels (one sigma is 4 of 64) and
// anything that clearly stands out of it, a star's core, saturates.
inline constexpr float kAutoWhiteNoiseSigmas = 16.0f;

// Automatic levels from the values (NaN ignored), for a star field: black at
// the median (the sky), white kAutoWhiteNoiseSigmas noise sigmas above it
// (sigma from the median absolute deviation), or at the brightest value when
// that is lower. A star then shows as a webcam shows it, its core a
// saturated spot of several pixels. (The 99.9th percentile as white leaves a
// sharp star one saturated pixel when a few stars fill that thousandth: too
// few for the measurement.) A flat picture gets white one unit above black.
// A bright extended object (the solar disc) wants the levels set by hand.
StretchLevels autoStretchLevels(const std::vector<float>& values);

// Fills the picture from Picture::width * Picture::height values: value v
// gives grey round(255 * (v - black) / (white - black)) clipped to 0..255;
// NaN gives black. A white point at or below the black one makes every value
// above black white.
void stretchToPicture(const std::vector<float>& values, const StretchLevels& levels, Picture& picture);
