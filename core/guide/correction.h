// The guiding correction of one measurement cycle: from the guiding error in
// pixels to one pulse per axis, with no I/O. The guiding session computes it
// and hands it to the guide output; the track window shows it. Which
// direction each sign of the error gives, on every output, is in signs.h.
#pragma once

#include <string>

#include "core/guide/signs.h"

namespace correction {

inline constexpr int kMaxCount = 63;        // a count fills the 6 high bits of a relay byte
inline constexpr int kAxisGapMs = 5;        // wait between the AD and the DEC half of a step

// Image scale in arcseconds per pixel, from the pixel size (micrometres) and
// the focal length (centimetres). Single precision, as the readout keeps it.
float pixelScaleArcsecPerPixel(double pixelSizeUm, double focalLengthCm);

// Counts per pixel of error for a guiding speed in arcseconds per second:
// computed in double, stored in single precision.
float gainCountsPerPixel(float pixelScaleArcsecPerPixel, double guideSpeedArcsecPerSec);

// Pulse count for an error of that many pixels: |error| * gain truncated,
// saturated at 63. The gain must be finite and not negative.
int pulseCount(int errorPixels, float gainCountsPerPixel);

// Percentage of the largest pulse shown in the readout: trunc(count * 100 / 63).
int countPercent(int count);

struct Inputs {
    int dx = 0;                 // pixels, reference minus star
    int dy = 0;
    double focalLengthCm = 0;
    double pixelSizeUm = 0;
    double raSpeedArcsecPerSec = 0;
    double decSpeedArcsecPerSec = 0;
    bool invertRa = false;
    bool invertDec = false;
    bool inhibitDecPlus = false;
    bool inhibitDecMinus = false;
};

struct Axis {
    int count = 0;              // 0..63
    bool saturated = false;     // |error| * gain reached 63: the readout shows it in red
    int percent = 0;            // countPercent(count)
    bool errorBelowZero = false; // direction: the error after inversion is below zero
    int relayCode = 0;          // 0..3 (bytes: relayCorrectionPair)
    int pulseMs = 0;            // signed length on the timed outputs
    bool timedPulse = true;     // false when an inhibit drops the timed pulse (DEC only)
};

struct Result {
    // False when the optics or a speed give no usable scale or gain (zero,
    // negative or not-a-number focal length or speed, a negative pixel size,
    // a scale or gain that is not finite): then no pulse is sent on either
    // axis and the percentages read "--"; the counts below are then 0.
    bool valid = false;
    float pixelScale = 0;       // arcsec per pixel (as computed, possibly not finite)
    float raGain = 0;           // counts per pixel
    float decGain = 0;
    Axis ra;
    Axis dec;
};

Result compute(const Inputs& in);

// What the readout shows for an axis's pulse size: "53%", or "--" when the
// correction is not valid.
std::string percentText(const Result& r, const Axis& axis);

}  // namespace correction
