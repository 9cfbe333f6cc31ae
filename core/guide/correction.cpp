// Guiding correction: pixel scale, gains, counts, relay codes and LED pulses.
#include "core/guide/correction.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>


namespace correction {

float pixelScaleArcsecPerPixel(double pixelSizeUm, double focalLengthCm)
{
    // Half the pixel (micrometres to centimetres) over the focal length, the
    // arctangent doubled, radians to degrees to arcseconds.
    const double radians = 2.0 * std::atan(pixelSizeUm * 0.5 * 0.0001 / focalLengthCm);
    return float(radians * (1.0 / std::numbers::pi) * 180.0 * 3600.0);
}

float gainCountsPerPixel(float pixelScale, double guideSpeed)
{
    // One count stands for 1/63 s at the guiding speed.
    return float(double(pixelScale) / guideSpeed * double(kMaxCount));
}

int pulseCount(int errorPixels, float gain)
{
    const double magnitude = double(std::llabs(int64_t(errorPixels))) * double(gain);
    // Compare before converting: a product of 63 or more (however large) is 63.
    if (!(magnitude < double(kMaxCount)))
        return kMaxCount;
    return magnitude > 0 ? int(magnitude) : 0;
}

int countPercent(int count) { return count * 100 / kMaxCount; }

namespace {

bool usableSetting(double v) { return v > 0 && !std::isnan(v); }

Axis axisFor(GuideAxis axis, int error, bool invert, float gain)
{
    Axis a;
    a.count = pulseCount(error, gain);
    a.saturated = a.count == kMaxCount;  // reached 63, whether clamped or exact
    a.percent = countPercent(a.count);
    // Inversion only changes the direction; |error| and the count stay.
    const CorrectionSense sense = correctionSense(axis, error, invert, a.count);
    a.errorBelowZero = sense.belowZero;
    a.relayCode = sense.relayCode;
    a.pulseMs = sense.pulseMs;
    return a;
}

}  // namespace

Result compute(const Inputs& in)
{
    Result r;
    r.pixelScale = pixelScaleArcsecPerPixel(in.pixelSizeUm, in.focalLengthCm);
    r.decGain = gainCountsPerPixel(r.pixelScale, in.decSpeedArcsecPerSec);
    r.raGain = gainCountsPerPixel(r.pixelScale, in.raSpeedArcsecPerSec);

    r.valid = usableSetting(in.focalLengthCm) && usableSetting(in.raSpeedArcsecPerSec) &&
              usableSetting(in.decSpeedArcsecPerSec) && std::isfinite(r.pixelScale) &&
              r.pixelScale >= 0 && std::isfinite(r.raGain) && std::isfinite(r.decGain);
    if (!r.valid) {
        // Nothing to send: leave both axes at count 0 and mark the timed pulses off
        // so that no caller can mistake them for a zero-length stop.
        r.ra.timedPulse = false;
        r.dec.timedPulse = false;
        return r;
    }

    r.ra = axisFor(GuideAxis::Ra, in.dx, in.invertRa, r.raGain);
    r.dec = axisFor(GuideAxis::Dec, in.dy, in.invertDec, r.decGain);
    // A DEC error below zero asks for the "+" direction (a positive pulse).
    r.dec.timedPulse = r.dec.errorBelowZero ? !in.inhibitDecPlus : !in.inhibitDecMinus;
    return r;
}

std::string percentText(const Result& r, const Axis& axis)
{
    if (!r.valid)
        return "--";
    return std::to_string(axis.percent) + "%";
}

}  // namespace correction
