// The calibration's geometry and its state machine.
#include "core/precise/calibration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

constexpr double kPi = std::numbers::pi;

double degrees(double radians) { return radians * 180.0 / kPi; }

// An angle brought into (-pi, pi].
double normalised(double a)
{
    a = std::remainder(a, 2 * kPi);
    return a <= -kPi ? a + 2 * kPi : a;
}

double distance(PointPx a, PointPx b) { return std::hypot(b.x - a.x, b.y - a.y); }
// Direction from a to b.
double direction(PointPx from, PointPx to) { return std::atan2(to.y - from.y, to.x - from.x); }

std::string oneDecimal(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

}  // namespace

double Calibration::cameraAngleDegrees() const
{
    double a = degrees(normalised(xAngle));
    if (a > 90)
        a -= 180;
    else if (a <= -90)
        a += 180;
    return a;
}

bool Calibration::raFlipped() const
{
    return std::fabs(normalised(xAngle - cameraAngleDegrees() * kPi / 180)) > kPi / 2;
}

bool Calibration::decFlipped() const
{
    return std::fabs(normalised(yAngle - (cameraAngleDegrees() * kPi / 180 + kPi / 2))) > kPi / 2;
}

double Calibration::orthogonalityErrorDegrees() const
{
    return degrees(std::fabs(std::fabs(normalised(xAngle - yAngle)) - kPi / 2));
}

void Calibration::flip(bool decToo)
{
    xAngle = normalised(xAngle + kPi);
    if (decToo)
        yAngle = normalised(yAngle + kPi);
}

// PHD2's transform: the RA distance is the offset's projection on the RA
// direction, the DEC distance its projection on the RA direction turned a
// quarter turn toward DEC and by the axes' error of square; with axes off
// square each distance takes a little of the other.
PointPx Calibration::toMount(PointPx c) const
{
    const double skew = normalised(xAngle - yAngle + kPi / 2);  // 0 or pi when square
    const double phi = xAngle + skew;
    return {c.x * std::cos(xAngle) + c.y * std::sin(xAngle), -c.x * std::sin(phi) + c.y * std::cos(phi)};
}

PointPx Calibration::toCamera(PointPx m) const
{
    const double skew = normalised(xAngle - yAngle + kPi / 2);
    const double phi = xAngle + skew;
    const double a = std::cos(xAngle), b = std::sin(xAngle), c = -std::sin(phi), d = std::cos(phi);
    const double det = a * d - b * c;  // cos(skew): +-1 when square
    return {(d * m.x - b * m.y) / det, (a * m.y - c * m.x) / det};
}

int calibrationStepMs(double raSpeed, double decSpeed, double arcsecPerPixel, double distance, int steps)
{
    // The faster axis takes about `steps` steps, the slower one a few more.
    const double speed = std::max(raSpeed, decSpeed);
    if (!(speed > 0) || !(arcsecPerPixel > 0) || !std::isfinite(speed) || !std::isfinite(arcsecPerPixel) ||
        steps <= 0)
        return 0;
    const double ms = distance * arcsecPerPixel / (speed * steps) * 1000.0;
    return std::clamp(int(std::ceil(ms / 10.0)) * 10, 50, 5000);
}

const char* phaseName(CalibrationPhase p)
{
    switch (p) {
    case CalibrationPhase::West: return "West";
    case CalibrationPhase::East: return "East";
    case CalibrationPhase::Backlash: return "Backlash";
    case CalibrationPhase::North: return "North";
    case CalibrationPhase::South: return "South";
    case CalibrationPhase::Done: return "Done";
    case CalibrationPhase::Failed: return "Failed";
    }
    return "";
}

Calibrator::Calibrator(int stepMs, double distance, double decSpeedRatio)
    : stepMs_(std::max(stepMs, 1)), distance_(distance), decSpeedRatio_(decSpeedRatio > 0 ? decSpeedRatio : 1.0)
{
}

void Calibrator::record(CalibrationPhase p, int step, PointPx star)
{
    const PointPx from = start_.value_or(star);
    steps_.push_back({p, step, star.x - from.x, star.y - from.y, star, distance(from, star)});
}

CalibrationAction Calibrator::fail(std::string english, std::string french)
{
    phase_ = CalibrationPhase::Failed;
    error_ = std::move(english);
    errorFr_ = std::move(french);
    return {CalibrationAction::Kind::Failed};
}

CalibrationAction Calibrator::stepAway(Direction d, double moved, const char* axis, const char* dir,
                                        const char* axisFr, const char* dirFr)
{
    if (steps_n_ >= kMaxSteps)
        return fail(std::string(axis) + " calibration failed: the star moved " + oneDecimal(moved) + " px in " +
                        std::to_string(steps_n_) + " " + dir + " steps, not " + oneDecimal(distance_),
                    std::string("Calibration ") + axisFr + " impossible : l'étoile n'a bougé que de " +
                        oneDecimal(moved) + " px en " + std::to_string(steps_n_) + " pas " + dirFr);
    ++steps_n_;
    return pulse(d, stepMs_);
}

CalibrationAction Calibrator::starLost()
{
    if (phase_ == CalibrationPhase::Done || phase_ == CalibrationPhase::Failed)
        return {phase_ == CalibrationPhase::Done ? CalibrationAction::Kind::Done : CalibrationAction::Kind::Failed};
    return fail(std::string("Calibration failed: the star was lost during the ") + phaseName(phase_) + " steps",
                "Calibration impossible : étoile perdue pendant les pas " + std::string(phaseName(phase_)));
}

CalibrationAction Calibrator::update(PointPx star)
{
    if (phase_ == CalibrationPhase::Done)
        return {CalibrationAction::Kind::Done};
    if (phase_ == CalibrationPhase::Failed)
        return {CalibrationAction::Kind::Failed};
    if (!start_) {
        start_ = star;
        steps_n_ = 0;
    }

    if (phase_ == CalibrationPhase::West) {
        record(phase_, steps_n_, star);
        const double moved = distance(*start_, star);
        if (moved < distance_)
            return stepAway(Direction::West, moved, "RA", "West", "AD", "Ouest");
        // West pulses moved the star away from where West corrections push.
        cal_.xAngle = direction(star, *start_);
        cal_.xRate = moved / (double(steps_n_) * stepMs_) * 1000.0;
        // As many steps East, back to the start.
        remaining_ = steps_n_ - 1;
        phase_ = CalibrationPhase::East;
        start_ = star;
        return pulse(Direction::East, stepMs_);
    }

    if (phase_ == CalibrationPhase::East) {
        record(phase_, remaining_, star);
        if (remaining_ > 0) {
            --remaining_;
            return pulse(Direction::East, stepMs_);
        }
        // DEC: first take up the backlash with North pulses.
        phase_ = CalibrationPhase::Backlash;
        start_ = star;
        marker_ = star;
        steps_n_ = 0;
        accepted_ = 0;
        lastCumulative_ = 0;
        expectedMove_ = cal_.xRate * stepMs_ / 1000.0 * 0.6 * decSpeedRatio_;
        maxClearing_ = std::max(8, kBacklashTimeMs / stepMs_);
        record(phase_, 0, star);
        steps_n_ = 1;
        return pulse(Direction::North, stepMs_);
    }

    if (phase_ == CalibrationPhase::Backlash) {
        record(phase_, steps_n_, star);
        const double move = distance(marker_, star);
        const double cumulative = distance(*start_, star);
        if (move >= expectedMove_) {
            // A full move, counted while it carries on the same way.
            accepted_ = (accepted_ == 0 || cumulative > lastCumulative_) ? accepted_ + 1 : 0;
        } else if (cumulative < lastCumulative_) {
            accepted_ = 0;
        }
        if (accepted_ < kBacklashMoves) {
            if (steps_n_ < maxClearing_ && cumulative < distance_) {
                ++steps_n_;
                marker_ = star;
                lastCumulative_ = cumulative;
                return pulse(Direction::North, stepMs_);
            }
            if (cumulative < kBacklashMinPx)
                return fail("DEC backlash clearing failed: the star moved " + oneDecimal(cumulative) + " px in " +
                                std::to_string(steps_n_) + " North steps",
                            "Rattrapage du jeu DEC impossible : l'étoile n'a bougé que de " + oneDecimal(cumulative) +
                                " px en " + std::to_string(steps_n_) + " pas Nord");
            // Out of clearing pulses, but the mount moves: North starts here.
            phase_ = CalibrationPhase::North;
            start_ = star;
            steps_n_ = 0;
        } else {
            // The backlash is taken up: the last move is North's first step.
            phase_ = CalibrationPhase::North;
            start_ = marker_;
            steps_n_ = 1;
        }
        return update(star);
    }

    if (phase_ == CalibrationPhase::North) {
        record(phase_, steps_n_, star);
        const double moved = distance(*start_, star);
        if (moved < distance_)
            return stepAway(Direction::North, moved, "DEC", "North", "DEC", "Nord");
        cal_.yAngle = direction(*start_, star);
        cal_.yRate = moved / (double(steps_n_) * stepMs_) * 1000.0;
        remaining_ = steps_n_ - 1;
        phase_ = CalibrationPhase::South;
        start_ = star;
        return pulse(Direction::South, stepMs_);
    }

    // South: back to where North started.
    record(phase_, remaining_, star);
    if (remaining_ > 0) {
        --remaining_;
        return pulse(Direction::South, stepMs_);
    }
    const double ortho = cal_.orthogonalityErrorDegrees();
    if (ortho > kMaxOrthogonalityDeg)
        return fail("Calibration refused: the RA and DEC axes are " + oneDecimal(ortho) +
                        " degrees from square (at most " + oneDecimal(kMaxOrthogonalityDeg) + ")",
                    "Calibration refusée : les axes AD et DEC sont à " + oneDecimal(ortho) +
                        " degrés de l'équerre (au plus " + oneDecimal(kMaxOrthogonalityDeg) + ")");
    phase_ = CalibrationPhase::Done;
    return {CalibrationAction::Kind::Done};
}
