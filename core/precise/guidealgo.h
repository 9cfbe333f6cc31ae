// The precise mode's guiding: the star's offset from its lock turned into
// RA and DEC distances with the calibration, PHD2's default algorithm on
// each axis (hysteresis on RA, resist-switch on DEC), and a pulse per axis
// from the calibrated rates. No I/O: the loop sends what it returns.
//
// Once a cycle the loop calls PreciseGuider::step with the star and the
// lock (picture pixels, fractions); it sends step.ra and step.dec on the
// output: timed outputs take direction and ms, the relay box counts (1/63 s).
// reset() when guiding starts or the lock moves far (a dither).
#pragma once

#include <array>

#include "core/guide/signs.h"
#include "core/precise/calibration.h"

// RA: a share of the last move carried over (hysteresis), the result scaled
// by the aggressiveness; nothing below the minimum move.
class HysteresisAlgorithm {
public:
    double hysteresis = 0.10;
    double aggressiveness = 0.70;
    double minMove = 0.15;  // px

    double result(double distance);
    void reset() { lastMove_ = 0; }

private:
    double lastMove_ = 0;
};

// DEC: corrects one way only and resists switching to the other until the
// recent distances make a compelling case: most of the last ten beyond the
// minimum move on the new side, and the newest three larger than the
// oldest three. A large excursion (three minimum moves) switches at once.
class ResistSwitchAlgorithm {
public:
    static constexpr int kHistory = 10;
    double minMove = 0.15;  // px
    double aggressiveness = 1.0;
    bool fastSwitch = true;

    double result(double distance);
    void reset();
    int side() const { return side_; }  // -1, 0 (none yet), +1

private:
    std::array<double, kHistory> history_{};
    int side_ = 0;
};

// One axis's correction.
struct PreciseAxisPulse {
    double distance = 0;  // px along the axis (positive: West, or South, corrects it)
    double guide = 0;     // what the algorithm made of it
    Direction direction = Direction::West;
    int ms = 0;           // 0: nothing to send
    int relayCount = 0;   // the same pulse in 1/63 s, 0..63
    bool limited = false; // the maximum pulse cut it short
};

struct GuideStep {
    PointPx offset;       // star minus lock, camera px
    PreciseAxisPulse ra;
    PreciseAxisPulse dec;
};

class PreciseGuider {
public:
    Calibration calibration;
    HysteresisAlgorithm raAlgorithm;
    ResistSwitchAlgorithm decAlgorithm;
    int maxRaMs = 1000;
    int maxDecMs = 1000;

    GuideStep step(PointPx star, PointPx lock);
    void reset();

    // A dither: the lock moved by ra and dec pixels along the calibrated
    // axes (dec 0 with raOnly), as a camera-frame offset to add to it.
    PointPx ditherOffset(double ra, double dec, bool raOnly = false) const;
};

// A pulse of this many ms as relay-box counts of 1/63 s, rounded, 0..63.
int relayCountForMs(int ms);
