// The precise mode's calibration file and the guide log's calibration section.
#include "core/precise/calibfile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <limits>
#include <numbers>
#include <sstream>

#include "core/files/replacefile.h"

namespace {

constexpr double kDegree = std::numbers::pi / 180.0;

std::string formatted(const char* format, ...)
{
    char buf[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    return buf;
}

// Degrees in [0, 360), as the guide log writes angles.
double logDegrees(double radians)
{
    const double d = std::fmod(radians / kDegree, 360.0);
    return d < 0 ? d + 360.0 : d;
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

}  // namespace

std::string preciseCalibrationPath(const std::string& settingsPath)
{
    const std::size_t slash = settingsPath.rfind('/');
    return (slash == std::string::npos ? std::string() : settingsPath.substr(0, slash + 1)) +
           kPreciseCalibrationFileName;
}

std::string calibrationFileText(const StoredCalibration& s)
{
    const Calibration& c = s.calibration;
    std::string t = "# Quorvel: the precise mode's calibration\n";
    t += "output=" + std::to_string(s.output) + "\n";
    t += "camera=" + s.camera + "\n";
    t += formatted("image_scale=%.6g\n", s.imageScale);
    t += "step_ms=" + std::to_string(s.stepMs) + "\n";
    t += "date=" + s.date + "\n";
    t += formatted("x_angle_deg=%.6f\n", c.xAngle / kDegree);
    t += formatted("y_angle_deg=%.6f\n", c.yAngle / kDegree);
    t += formatted("x_rate_px_s=%.6f\n", c.xRate);
    t += formatted("y_rate_px_s=%.6f\n", c.yRate);
    return t;
}

std::optional<StoredCalibration> parseCalibrationFile(std::string_view text, std::string& error)
{
    StoredCalibration s;
    enum : unsigned { Output = 1, Camera = 2, Scale = 4, Step = 8, XAngle = 16, YAngle = 32, XRate = 64, YRate = 128 };
    unsigned seen = 0;
    int lineNo = 0;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, nl));
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        ++lineNo;
        if (line.empty() || line.front() == '#')
            continue;
        const std::size_t eq = line.find('=');
        const std::string where = "line " + std::to_string(lineNo);
        if (eq == std::string_view::npos) {
            error = where + ": not key=value";
            return std::nullopt;
        }
        const std::string_view key = trimmed(line.substr(0, eq)), value = trimmed(line.substr(eq + 1));
        const auto number = [&](double& out) {
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), out);
            return ec == std::errc() && end == value.data() + value.size() && std::isfinite(out);
        };
        static constexpr std::string_view kNumbers[] = {"output",      "image_scale", "step_ms",
                                                         "x_angle_deg", "y_angle_deg", "x_rate_px_s", "y_rate_px_s"};
        const bool numeric = std::find(std::begin(kNumbers), std::end(kNumbers), key) != std::end(kNumbers);
        double v = 0;
        if (key != "camera" && key != "date" && !numeric) {
            error = where + ": unknown key '" + std::string(key) + "'";
            return std::nullopt;
        }
        if (key == "camera") {
            s.camera = std::string(value);
            seen |= Camera;
        } else if (key == "date") {
            s.date = std::string(value);
        } else if (!number(v)) {
            error = where + ": " + std::string(key) + ": '" + std::string(value) + "' is not a number";
            return std::nullopt;
        } else if ((key == "output" || key == "step_ms") &&
                   !(v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max())) {
            // A whole number of the program's: beyond int it is no output or step.
            error = where + ": " + std::string(key) + ": '" + std::string(value) + "' is out of range";
            return std::nullopt;
        } else if (key == "output") {
            s.output = int(v);
            seen |= Output;
        } else if (key == "image_scale") {
            s.imageScale = v;
            seen |= Scale;
        } else if (key == "step_ms") {
            s.stepMs = int(v);
            seen |= Step;
        } else if (key == "x_angle_deg") {
            s.calibration.xAngle = v * kDegree;
            seen |= XAngle;
        } else if (key == "y_angle_deg") {
            s.calibration.yAngle = v * kDegree;
            seen |= YAngle;
        } else if (key == "x_rate_px_s") {
            s.calibration.xRate = v;
            seen |= XRate;
        } else {
            s.calibration.yRate = v;
            seen |= YRate;
        }
    }
    static constexpr std::pair<unsigned, const char*> kRequired[] = {
        {Output, "output"},        {Camera, "camera"},           {Scale, "image_scale"},      {Step, "step_ms"},
        {XAngle, "x_angle_deg"},   {YAngle, "y_angle_deg"},      {XRate, "x_rate_px_s"},      {YRate, "y_rate_px_s"}};
    for (const auto& [bit, name] : kRequired) {
        if (!(seen & bit)) {
            error = std::string("no ") + name;
            return std::nullopt;
        }
    }
    if (!(s.calibration.xRate > 0) || !(s.calibration.yRate > 0)) {
        error = "a rate is not above zero";
        return std::nullopt;
    }
    error.clear();
    return s;
}

int saveCalibration(const std::string& path, const StoredCalibration& stored)
{
    const std::string text = calibrationFileText(stored);
    return replaceFile(path, {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

std::optional<StoredCalibration> loadCalibration(const std::string& path, std::string& error)
{
    error.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno != ENOENT)
            error = path + ": cannot be read";
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::optional<StoredCalibration> s = parseCalibrationFile(text.str(), error);
    if (!s)
        error = path + ": " + error;
    return s;
}

bool calibrationFits(const StoredCalibration& stored, int output, const std::string& camera, double imageScale)
{
    return stored.output == output && stored.camera == camera && imageScale > 0 &&
           std::fabs(stored.imageScale - imageScale) <= 0.01 * imageScale;
}

std::vector<std::string> calibrationLogLines(const CalibrationLogHeader& h, const Calibrator& cal)
{
    std::vector<std::string> out;
    char date[64];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &h.begins);
    out.push_back(std::string("Calibration Begins at ") + date);
    out.push_back(formatted("Pixel scale = %.2f arc-sec/px, Binning = 1, Focal length = %d mm", h.imageScale,
                            h.focalLengthMm));
    out.push_back("Camera = " + h.camera);
    out.push_back(formatted("Mount = %s, Calibration Step = %d ms, Calibration Distance = 25 px", h.mount.c_str(),
                            cal.stepMs()));
    out.push_back("Direction,Step,dx,dy,x,y,Dist");

    const Calibration& r = cal.result();
    const bool done = cal.phase() == CalibrationPhase::Done;
    const auto& steps = cal.steps();
    // An axis's result follows its last step, once it has one.
    const bool raKnown = r.xRate > 0, decKnown = r.yRate > 0;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const CalibrationStep& s = steps[i];
        out.push_back(formatted("%s,%d,%.3f,%.3f,%.3f,%.3f,%.3f", phaseName(s.phase), s.step, s.dx, s.dy, s.star.x,
                                s.star.y, s.distance));
        const bool lastOfPhase = i + 1 == steps.size() || steps[i + 1].phase != s.phase;
        if (lastOfPhase && s.phase == CalibrationPhase::West && raKnown)
            out.push_back(formatted("West calibration complete. Angle = %.1f deg, Rate = %.3f px/sec, Parity = %s",
                                    logDegrees(r.xAngle), r.xRate, r.raFlipped() ? "-" : "+"));
        if (lastOfPhase && s.phase == CalibrationPhase::North && decKnown)
            out.push_back(formatted("North calibration complete. Angle = %.1f deg, Rate = %.3f px/sec, Parity = %s",
                                    logDegrees(r.yAngle), r.yRate, r.decFlipped() ? "-" : "+"));
    }
    if (done) {
        out.push_back(formatted("Calibration guide speeds: RA = %.1f a-s/s, Dec = %.1f a-s/s", r.xRate * h.imageScale,
                                r.yRate * h.imageScale));
        out.push_back(formatted("Orthogonality error = %.1f deg", r.orthogonalityErrorDegrees()));
        out.push_back("Calibration complete");
    } else if (cal.phase() == CalibrationPhase::Failed) {
        out.push_back("Calibration failed: " + cal.error());
    }
    return out;
}
