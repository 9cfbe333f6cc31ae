// The guiding correction of one measurement cycle: from the guiding error in
// pixels to one pulse per axis, with no I/O. The track window draws the
// readout and hands the result to the relay box or to the LED window.
//
// Sign conventions (error = reference minus star, after "Inverse AD" on AD
// and "Inverse DEC" on DEC; an error of exactly zero counts as "zero or above"):
//
//   axis  error         relay box (first, closing)   LED window pulse   square lit        serial move
//   AD    below zero    code 0: n*4+0, 0x01          PulseRa  +15*n ms  right AD square   "#:Mw#"
//   AD    zero or above code 1: n*4+1, 0x00          PulseRa  -15*n ms  left AD square    "#:Me#"
//   DEC   below zero    code 2: n*4+2, 0x03          PulseDec +15*n ms  right DEC ("+")   "#:Ms#"
//   DEC   zero or above code 3: n*4+3, 0x02          PulseDec -15*n ms  left DEC ("-")    "#:Mn#"
//
// On the LED window path a DEC pulse below zero is dropped when "Inhibe DEC+"
// is ticked and one at zero or above when "Inhibe DEC-" is ticked; the relay
// box ignores both check boxes.
#pragma once

#include <string>

#include "mountlink/lx200.h"

namespace correction {

inline constexpr int kMaxCount = 63;        // a count fills the 6 high bits of a relay byte
inline constexpr int kMsPerCount = 15;      // LED window and serial path: 63 counts = 945 ms
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
    int relayCode = 0;          // 0..3, see the table above (bytes: relayCorrectionPair)
    int pulseMs = 0;            // signed LED window / serial pulse length
    bool ledPulse = true;       // false when an inhibit drops the LED window pulse (DEC only)
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
