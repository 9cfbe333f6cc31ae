// `quorvel sources`: the nine entries of "Video Source" on this machine, and
// `quorvel grab`: frames of one of them, as the capture window receives them,
// written as images.
#include <QImage>
#include <QImageWriter>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/cliutil.h"
#include "cli/commands.h"
#include "core/clock.h"
#include "core/guider.h"
#include "core/settings/paramsfile.h"
#include "core/state.h"

namespace {

const char* const kSourcesUsage =
    "quorvel sources   list the nine entries of \"Video Source\" as JSON lines";
const char* const kGrabUsage =
    "quorvel grab [--source I] [--count N] [--every MS] OUT   grab N frames (default 1) of entry I "
    "(default 0) every MS milliseconds (default 200) as the capture window receives them, 320 x 240, "
    "into OUT (a %d in it is the frame number; its extension chooses PNG, BMP, PPM...)";

int runSources(const std::vector<std::string>& args)
{
    if (!args.empty()) {
        std::fprintf(stderr, "quorvel sources: no argument expected\nusage: %s\n", kSourcesUsage);
        return 2;
    }
    SteadyClock clock;
    SharedState state(clock);
    loadParams(state);  // the simulated sky follows the dark-spot setting
    NoPulseTimer noTimer;
    GuiderCore core(state, noTimer);
    int index = 0;
    for (const auto& driver : core.acquisition.drivers()) {
        const std::string device = driver->device();
        printLine("{\"index\":" + std::to_string(index++) + ",\"name\":" + jsonString(driver->name()) +
                  ",\"device\":" + (device.empty() ? std::string("null") : jsonString(device)) + "}");
    }
    return 0;
}

int grabUsage(const std::string& why)
{
    std::fprintf(stderr, "quorvel grab: %s\nusage: %s\n", why.c_str(), kGrabUsage);
    return 2;
}


// OUT with its first %d replaced by the frame number.
std::string frameName(const std::string& out, int n)
{
    const size_t at = out.find("%d");
    if (at == std::string::npos)
        return out;
    return out.substr(0, at) + std::to_string(n) + out.substr(at + 2);
}

int runGrab(const std::vector<std::string>& args)
{
    int source = 0, count = 1, every = 200;
    std::string out;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--source" || a == "--count" || a == "--every") {
            if (i + 1 >= args.size())
                return grabUsage(a + " needs a value");
            const std::string& v = args[++i];
            const auto n = a == "--source" ? parseInt(v, 0, kCaptureEntries - 1)
                           : a == "--count" ? parseInt(v, 1, 100000)
                                            : parseInt(v, 0, 3600000);
            if (!n)
                return grabUsage(a + " does not take '" + v + "'");
            (a == "--source" ? source : a == "--count" ? count : every) = *n;
        } else if (a.size() > 1 && a[0] == '-') {
            return grabUsage("unknown option '" + a + "'");
        } else if (out.empty()) {
            out = a;
        } else {
            return grabUsage("one OUT only");
        }
    }
    if (out.empty())
        return grabUsage("no OUT file name");
    if (count > 1 && out.find("%d") == std::string::npos)
        return grabUsage("OUT needs a %d to hold " + std::to_string(count) + " frames");
    const QByteArray suffix = QString::fromStdString(frameName(out, 0)).section('.', -1).toLower().toLatin1();
    if (!out.ends_with("." + suffix.toStdString()) || !QImageWriter::supportedImageFormats().contains(suffix))
        return grabUsage("cannot tell an image format from the name '" + out + "' (use .png, .bmp, .ppm...)");

    SteadyClock clock;
    SharedState state(clock);
    loadParams(state);
    NoPulseTimer noTimer;
    GuiderCore core(state, noTimer);
    const auto& drivers = core.acquisition.drivers();
    const CaptureStatus status = core.acquisition.connect(source);
    if (!status.ok) {
        std::fprintf(stderr, "quorvel grab: entry %d (%s) does not connect: %s\n", source,
                     drivers[size_t(source)]->name().c_str(), status.error.c_str());
        return 1;
    }
    CaptureDriver& driver = *core.acquisition.connected();
    const int64_t startMs = clock.nowMs();
    int exitCode = 0;
    for (int n = 0; n < count; ++n) {
        if (n > 0)
            std::this_thread::sleep_until(std::chrono::steady_clock::now() +
                                          std::chrono::milliseconds(startMs + int64_t(n) * every - clock.nowMs()));
        // A camera's first frame may take a moment to come.
        std::string error;
        int64_t grabbedUs = clock.nowUs();
        GrabStatus g = driver.grab(state.picture, error);
        for (int waited = 0; g == GrabStatus::NoFrame && waited < 5000; waited += 10) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            grabbedUs = clock.nowUs();
            g = driver.grab(state.picture, error);
        }
        if (g != GrabStatus::NewFrame) {
            std::fprintf(stderr, "quorvel grab: entry %d gave no frame: %s\n", source,
                         error.empty() ? "nothing within 5 s" : error.c_str());
            exitCode = 1;
            break;
        }
        const QImage image(reinterpret_cast<const uchar*>(state.picture.bits.data()), Picture::width,
                           Picture::height, Picture::width * 4, QImage::Format_RGB32);
        const std::string file = frameName(out, n);
        QImageWriter writer(QString::fromStdString(file), suffix);
        if (!writer.write(image)) {
            std::fprintf(stderr, "quorvel grab: cannot write %s: %s\n", file.c_str(),
                         writer.errorString().toStdString().c_str());
            exitCode = 1;
            break;
        }
        char t[32];
        std::snprintf(t, sizeof t, "%.3f", double(grabbedUs) / 1000.0 - double(startMs));
        printLine("{\"file\":" + jsonString(file) + ",\"t_ms\":" + t + "}");
    }
    core.acquisition.disconnect();
    return exitCode;
}

CommandRegistration sourcesReg("sources", kSourcesUsage, runSources);
CommandRegistration grabReg("grab", kGrabUsage, runGrab);

}  // namespace
