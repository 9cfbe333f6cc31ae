// The precise mode's calibration: how the mount's guide pulses move the star
// in the picture, measured as PHD2 measures it, and the transform it gives
// between the camera's frame and the mount's axes.
//
// Angles are in the picture, x to the right and y down, in radians, as PHD2
// keeps them: xAngle is the direction of a star displacement that West
// pulses correct (the star moves the other way under West pulses), yAngle
// the direction the star moves under North pulses (a displacement that South
// pulses correct). With the design's wiring on an unturned camera they are 0
// and 90 degrees, as signs.h's axisAngleDegrees says with no inversion.
//
// The Calibrator is a state machine with no I/O. The loop feeds it the
// star's position once a cycle (after the last pulse it asked for is over),
// sends the pulse it answers with, and stops when it answers Done or Failed:
//
//   West pulses until the star has moved calibrationDistance px (at most
//   kMaxSteps), East the same number back; North pulses until the star has
//   moved steadily three times (DEC backlash cleared; bounded), North until
//   calibrationDistance px, South the same number back.
//
// The loop keeps the analysis region on the star meanwhile (it moves 25 px).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/guide/signs.h"

struct PointPx {
    double x = 0;
    double y = 0;
};

struct Calibration {
    double xAngle = 0;  // radians, see above
    double yAngle = 0;
    double xRate = 0;   // px/s at guide speed, RA
    double yRate = 0;   // px/s, DEC

    // The camera angle: the RA axis's direction folded into (-90, 90]
    // degrees; raFlipped when West corrections point the other way along
    // it (xAngle = angle + 180), decFlipped when North moves the star at
    // angle - 90 rather than angle + 90. A mirrored camera flips one axis, a
    // camera turned half a turn both: no "Inverse" option is needed.
    double cameraAngleDegrees() const;
    bool raFlipped() const;
    bool decFlipped() const;
    // How far the two axes are from square, degrees.
    double orthogonalityErrorDegrees() const;

    // A meridian flip: the RA axis turns half a turn in the picture; DEC too
    // when the mount reverses its DEC pulses after a flip.
    void flip(bool decToo = false);

    // Camera frame to mount axes (PHD2's transform): the star's offset from
    // its lock (star minus lock, px) as distances along RA and DEC; a
    // positive RA distance is corrected by West pulses, a positive DEC
    // distance by South pulses (the sense of the guide log and the server).
    PointPx toMount(PointPx cameraOffset) const;
    // Its inverse: a displacement along the axes as a camera-frame offset.
    PointPx toCamera(PointPx mountOffset) const;
};

// Pulse length of one calibration step: long enough that the star moves
// `distance` px in about `steps` steps at the faster axis's guide speed
// (arcseconds per second) and this image scale (arcseconds per pixel);
// rounded up to 10 ms, between 50 ms and 5 s. 0 when speed or scale is unusable.
int calibrationStepMs(double raSpeed, double decSpeed, double arcsecPerPixel, double distance = 25.0,
                      int steps = 12);

enum class CalibrationPhase { West, East, Backlash, North, South, Done, Failed };
const char* phaseName(CalibrationPhase p);  // "West", "East", "Backlash", "North", "South"

// One position the calibrator was given: the step that just finished.
struct CalibrationStep {
    CalibrationPhase phase = CalibrationPhase::West;
    int step = 0;
    double dx = 0;  // star minus the phase's starting position, px
    double dy = 0;
    PointPx star;
    double distance = 0;
};

// What the loop does next.
struct CalibrationAction {
    enum class Kind { Pulse, Done, Failed };
    Kind kind = Kind::Pulse;
    Direction direction = Direction::West;  // Pulse
    int ms = 0;
};

class Calibrator {
public:
    static constexpr int kMaxSteps = 60;                 // a direction gives up after this many
    static constexpr double kMaxOrthogonalityDeg = 12.5;  // refused beyond
    static constexpr int kBacklashMoves = 3;              // steady moves that show the backlash cleared
    static constexpr double kBacklashMinPx = 3.0;         // least total move when the pulses run out
    static constexpr int kBacklashTimeMs = 60000;         // clearing pulses last at most this long in all

    // stepMs: calibrationStepMs; decSpeedRatio: DEC guide speed over RA's,
    // so that the backlash test expects the DEC axis's own moves.
    explicit Calibrator(int stepMs, double distance = 25.0, double decSpeedRatio = 1.0);

    // The star's position this cycle.
    CalibrationAction update(PointPx star);
    // The star was lost this cycle: calibration fails.
    CalibrationAction starLost();

    CalibrationPhase phase() const { return phase_; }
    const std::vector<CalibrationStep>& steps() const { return steps_; }
    // Once Done.
    const Calibration& result() const { return cal_; }
    // Once Failed: why, in English and in French.
    const std::string& error() const { return error_; }
    const std::string& errorFr() const { return errorFr_; }
    int stepMs() const { return stepMs_; }

private:
    CalibrationAction fail(std::string english, std::string french);
    // The next step away from the start on an axis, or its failure once
    // kMaxSteps have not moved the star far enough.
    CalibrationAction stepAway(Direction d, double moved, const char* axis, const char* dir, const char* axisFr,
                               const char* dirFr);
    CalibrationAction pulse(Direction d, int ms) { return {CalibrationAction::Kind::Pulse, d, ms}; }
    void record(CalibrationPhase p, int step, PointPx star);

    int stepMs_;
    double distance_;
    double decSpeedRatio_;
    CalibrationPhase phase_ = CalibrationPhase::West;
    std::optional<PointPx> start_;  // the phase's starting position
    int steps_n_ = 0;                // steps of the phase so far
    int remaining_ = 0;              // East or South steps still to send
    // Backlash clearing.
    PointPx marker_;
    double expectedMove_ = 0;
    int maxClearing_ = 0;
    int accepted_ = 0;
    double lastCumulative_ = 0;
    Calibration cal_;
    std::vector<CalibrationStep> steps_;
    std::string error_;
    std::string errorFr_;
};
