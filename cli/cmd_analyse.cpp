// `quorvel analyse`: measures saved 320 x 240 frames exactly as the guider
// measures its live picture, one JSON line per frame. It never touches the
// settings file.
#include <QString>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cli/cliutil.h"
#include "cli/commands.h"
#include "cli/framefile.h"
#include "core/clock.h"
#include "core/guider.h"
#include "core/state.h"

namespace {

const char* const kUsage =
    "quorvel analyse [--region X,Y] [--manual N] [--dark FILE] [--dark-spot] [--track X,Y] "
    "FRAME...   measure 320 x 240 frames (BMP, PNG, PPM...) as the guider does, one JSON "
    "line per frame";

// Region corners and references far beyond the picture make no sense; the
// bound keeps every difference of coordinates well inside 32 bits.
constexpr int kMaxCoordinate = 100000;

int usageError(const std::string& why)
{
    std::fprintf(stderr, "quorvel analyse: %s\nusage: %s\n", why.c_str(), kUsage);
    return 2;
}


bool parsePair(const std::string& s, int& x, int& y)
{
    const auto comma = s.find(',');
    if (comma == std::string::npos)
        return false;
    const auto a = parseInt(s.substr(0, comma), -kMaxCoordinate, kMaxCoordinate);
    const auto b = parseInt(s.substr(comma + 1), -kMaxCoordinate, kMaxCoordinate);
    if (!a || !b)
        return false;
    x = *a;
    y = *b;
    return true;
}

// A JSON string. File names are bytes: Qt's decoder turns whatever is not
// UTF-8 into U+FFFD, so the line stays valid JSON.
std::string jsonFileName(const std::string& s)
{
    return jsonString(QString::fromUtf8(s.data(), qsizetype(s.size())).toStdString());
}

template <typename Container>
std::string jsonArray(const Container& values)
{
    std::string out = "[";
    for (const auto& v : values) {
        if (out.size() > 1)
            out += ",";
        out += std::to_string(int(v));
    }
    return out + "]";
}

std::string measurementJson(const std::string& file, const SharedState& s)
{
    return "{\"file\":" + jsonFileName(file) +
           ",\"threshold\":" + std::to_string(int(s.detectionThreshold)) +
           ",\"peak\":" + std::to_string(int(s.peakLevel)) +
           ",\"population\":" + std::to_string(s.population) +
           ",\"centroid_x\":" + std::to_string(s.centroidX) +
           ",\"centroid_y\":" + std::to_string(s.centroidY) +
           ",\"histogram\":" + jsonArray(s.greyHistogram) +
           ",\"columns\":" + jsonArray(s.columnCounts) + ",\"rows\":" + jsonArray(s.rowCounts) +
           "}";
}

int runAnalyse(const std::vector<std::string>& args)
{
    SteadyClock clock;
    SharedState state(clock);
    // A default record only: the measurement reads darkSpotGuiding from it.
    NoPulseTimer noTimer;  // nothing is sent to a mount here
    GuiderCore core(state, noTimer);
    core.session.sendsCorrections = false;
    GuidingSession& session = core.session;
    std::string darkPath;
    std::vector<std::string> frames;

    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool takesValue = a == "--region" || a == "--manual" || a == "--dark" || a == "--track";
        if (!optionsEnded && takesValue) {
            if (i + 1 >= args.size())
                return usageError(a + " needs a value");
            const std::string& v = args[++i];
            if (a == "--region") {
                int32_t x = 0, y = 0;
                if (!parsePair(v, x, y))
                    return usageError("--region needs X,Y (whole pixels), not '" + v + "'");
                session.setRegionCorner(x, y);
            } else if (a == "--track") {
                int32_t x = 0, y = 0;
                if (!parsePair(v, x, y))
                    return usageError("--track needs X,Y (whole pixels), not '" + v + "'");
                session.trackAt(x, y);
            } else if (a == "--manual") {
                const auto n = parseInt(v, 0, 63);
                if (!n)
                    return usageError("--manual needs a threshold from 0 to 63, not '" + v + "'");
                state.manualThresholdOn = true;
                state.manualThreshold = *n;
            } else {
                if (v.empty())
                    return usageError("--dark needs a file name");
                darkPath = v;
            }
        } else if (!optionsEnded && a == "--dark-spot") {
            state.params->darkSpotGuiding = 1;
        } else if (!optionsEnded && a == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && a.size() > 1 && a[0] == '-') {
            return usageError("unknown option '" + a + "'");
        } else if (a.empty()) {
            return usageError("empty frame name");
        } else {
            frames.push_back(a);
        }
    }
    if (frames.empty())
        return usageError("no frame given");

    if (!darkPath.empty()) {
        std::string error;
        const QImage dark = readFrameFile(darkPath, error);
        if (dark.isNull()) {
            std::fprintf(stderr, "quorvel analyse: dark frame %s\n", error.c_str());
            return 2;
        }
        session.analysis.CaptureDark(viewOf(dark));
        session.setUseDarkFrame(true);
    }

    // One session for the whole series: as in the guider,
    // each frame's peak level sets the next frame's automatic threshold.
    bool allMeasured = true;
    for (const auto& frame : frames) {
        std::string error;
        const QImage image = readFrameFile(frame, error);
        if (image.isNull()) {
            std::fprintf(stderr, "quorvel analyse: %s\n", error.c_str());
            allMeasured = false;
            continue;
        }
        session.measureCycle(viewOf(image));
        std::printf("%s\n", measurementJson(frame, state).c_str());
        std::fflush(stdout);
    }
    return allMeasured ? 0 : 2;
}

CommandRegistration reg("analyse", kUsage, runAnalyse);

}  // namespace
