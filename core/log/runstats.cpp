// `quorvel guide`'s cycle lines and summary.
#include "core/log/runstats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "core/guide/correction.h"
#include "core/session.h"
#include "core/settings/tparam.h"

namespace {

// Three decimals; null for what is missing or not finite; never "-0.000".
std::string number3(std::optional<double> v)
{
    if (!v || !std::isfinite(*v))
        return "null";
    char buf[400];
    const int n = std::snprintf(buf, sizeof buf, "%.3f", *v);
    const std::string_view s(buf, n > 0 && n < int(sizeof buf) ? std::size_t(n) : 0);
    return s == "-0.000" ? "0.000" : std::string(s);
}

std::string intOrNull(bool present, int v) { return present ? std::to_string(v) : "null"; }

}  // namespace

float usablePixelScale(const tparam& p)
{
    if (!(p.focalLength > 0) || !(p.pixelSize > 0))
        return 0;
    const float scale = correction::pixelScaleArcsecPerPixel(p.pixelSize, p.focalLength);
    return std::isfinite(scale) && scale > 0 ? scale : 0;
}

std::string cycleJson(const CycleResult& c, double tSeconds)
{
    // The signed length of a pulse the output timed in milliseconds; none
    // for the relay box's counts or a pulse held back.
    auto timedMs = [&c](GuideAxis axis) {
        const std::optional<SentPulse>& p = c.pulses.of(axis);
        const bool timed = p && p->unit == SentPulse::Unit::Milliseconds;
        return intOrNull(timed, timed ? p->signedMs() : 0);
    };
    std::string s = "{\"t_s\":" + number3(tSeconds);
    // The precise mode's errors in fractions of a pixel, the design's whole.
    s += ",\"dx\":" + (c.precise ? number3(c.precise->errX) : std::to_string(c.dx));
    s += ",\"dy\":" + (c.precise ? number3(c.precise->errY) : std::to_string(c.dy));
    s += ",\"population\":" + std::to_string(c.measurement.population);
    if (c.precise) {
        // The precise mode has counts only on the relay box.
        auto counts = [&c](GuideAxis axis) {
            const std::optional<SentPulse>& p = c.pulses.of(axis);
            const bool relay = p && p->unit == SentPulse::Unit::RelayCounts;
            return intOrNull(relay, relay ? p->length : 0);
        };
        s += ",\"ad_count\":" + counts(GuideAxis::Ra);
        s += ",\"dec_count\":" + counts(GuideAxis::Dec);
    } else {
        s += ",\"ad_count\":" + intOrNull(c.sent, c.correction.ra.count);
        s += ",\"dec_count\":" + intOrNull(c.sent, c.correction.dec.count);
    }
    s += ",\"ad_ms\":" + timedMs(GuideAxis::Ra);
    s += ",\"dec_ms\":" + timedMs(GuideAxis::Dec);
    s += c.measurement.gated ? ",\"dropped\":true}" : ",\"dropped\":false}";
    return s;
}

void GuideRunStats::Window::add(const CycleResult& c)
{
    if (c.measurement.gated) {
        ++dropped;
        return;
    }
    ++used;
    // Welford's running mean and squared deviations.
    auto step = [n = double(used)](double x, double& mean, double& sq) {
        const double d = x - mean;
        mean += d / n;
        sq += d * (x - mean);
    };
    const double ex = c.precise ? c.precise->errX : double(c.dx);
    const double ey = c.precise ? c.precise->errY : double(c.dy);
    step(ex, meanX, sqX);
    step(ey, meanY, sqY);
    maxAbs = std::max({maxAbs, std::fabs(ex), std::fabs(ey)});
}

void GuideRunStats::add(const CycleResult& c, double tSeconds)
{
    if (!c.tracking)
        return;
    all_.add(c);
    if (tSeconds >= kSettleSeconds)
        settled_.add(c);
}

GuideRunSummary GuideRunStats::summary() const
{
    const Window& w = settled_.used + settled_.dropped > 0 ? settled_ : all_;
    GuideRunSummary s;
    s.cycles = w.used;
    s.dropped = w.dropped;
    if (w.used > 0) {
        s.rmsX = std::sqrt(w.sqX / w.used);
        s.rmsY = std::sqrt(w.sqY / w.used);
        s.meanX = w.meanX;
        s.meanY = w.meanY;
        s.maxAbs = w.maxAbs;
    }
    return s;
}

std::string GuideRunStats::summaryJson(float pixelScale) const
{
    const GuideRunSummary s = summary();
    const bool scaleOk = std::isfinite(pixelScale) && pixelScale > 0;
    auto arcsec = [&](std::optional<double> px) -> std::optional<double> {
        if (!px || !scaleOk)
            return std::nullopt;
        return *px * double(pixelScale);
    };
    std::string j = "{\"summary\":true,\"cycles\":" + std::to_string(s.cycles);
    j += ",\"dropped\":" + std::to_string(s.dropped);
    j += ",\"rms_x_px\":" + number3(s.rmsX);
    j += ",\"rms_y_px\":" + number3(s.rmsY);
    j += ",\"mean_x_px\":" + number3(s.meanX);
    j += ",\"mean_y_px\":" + number3(s.meanY);
    j += ",\"rms_x_arcsec\":" + number3(arcsec(s.rmsX));
    j += ",\"rms_y_arcsec\":" + number3(arcsec(s.rmsY));
    j += ",\"max_px\":" + number3(s.maxAbs) + "}";
    return j;
}
