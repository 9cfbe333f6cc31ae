// `quorvel guide`: the guider without a display. The same acquisition loop,
// measurement cycle and correction as the window, on a QtCore event loop:
// connect a camera (the simulated sky on a machine without one), lock on the
// star, guide for a while, print one JSON line per cycle and a summary, save
// the settings as the window does. Ctrl-C ends it the same way.
#include <QCoreApplication>
#include <QTimer>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cliutil.h"
#include "cli/commands.h"
#include "cli/headless.h"
#include "cli/plotfile.h"
#include "cli/statusline.h"
#include "core/autolock.h"
#include "core/clock.h"
#include "core/log/guidelog.h"
#include "core/log/runstats.h"
#include "core/photo/photoseries.h"
#include "core/precise/precisemode.h"
#include "core/server/exposure.h"
#include "core/settings/paramsfile.h"
#include "core/state.h"
#include "plot/guideplot.h"
#include "qt/guiderhost.h"
#include "qt/looptimer.h"
#include "qt/signalwatch.h"

namespace {

const char* const kUsage =
    "quorvel guide [--seconds N] [--source I] [--format F] [--exposure MS] [--log FILE] [--unguided] "
    "[--photo BASE --photo-every SECONDS] [--plot FILE] [--precise [--calibrate]]   guide without a display on camera entry I (default 0; the "
    "simulated sky without a camera), in its format F as \"Format\" lists them, for N "
    "seconds (default 60) with the settings of qv185.dat here; --exposure: a camera's own exposure in ms "
    "(an INDI camera; one of PHD2's durations within its limits); one JSON line per measurement cycle, then "
    "a summary; --plot: the graph of the run in FILE (.png or .svg) at its end; --precise: guide in "
    "fractions of a pixel with a calibrated mount, calibrating first when the saved calibration does not fit "
    "(--calibrate: always), one JSON line per calibration step";

struct Options {
    int seconds = 60;
    int source = 0;
    std::optional<int> format;
    std::optional<int> exposureMs;
    std::string log;
    bool unguided = false;
    std::string photoBase;
    std::optional<int> photoEvery;
    std::string plot;
    bool precise = false;
    bool calibrate = false;
};

std::string fixed3(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    return buf;
}

int usageError(const std::string& why)
{
    std::fprintf(stderr, "quorvel guide: %s\nusage: %s\n", why.c_str(), kUsage);
    return 2;
}


std::string parseOptions(const std::vector<std::string>& args, Options& o)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool valued = a == "--seconds" || a == "--source" || a == "--log" || a == "--photo" ||
                            a == "--photo-every" || a == "--format" || a == "--plot" || a == "--exposure";
        if (valued && i + 1 >= args.size())
            return a + " needs a value";
        if (a == "--seconds") {
            const auto v = parseInt(args[++i], 1, 7 * 24 * 3600);
            if (!v)
                return "--seconds takes a whole number of seconds from 1 to 604800, not '" + args[i] + "'";
            o.seconds = *v;
        } else if (a == "--source") {
            const auto v = parseInt(args[++i], 0, kCaptureEntries - 1);
            if (!v)
                return "--source takes an entry from 0 to 8, not '" + args[i] + "'";
            o.source = *v;
        } else if (a == "--format") {
            const auto v = parseInt(args[++i], 0, 1000);
            if (!v)
                return "--format takes the number of a format (0 the first), not '" + args[i] + "'";
            o.format = *v;
        } else if (a == "--exposure") {
            const auto v = parseInt(args[++i], 1, 3600 * 1000);
            if (!v)
                return "--exposure takes a whole number of milliseconds from 1 to 3600000, not '" + args[i] + "'";
            o.exposureMs = *v;
        } else if (a == "--log") {
            o.log = args[++i];
            if (o.log.empty())
                return "--log needs a file name";
        } else if (a == "--plot") {
            o.plot = args[++i];
            if (!isPlotPath(o.plot))
                return "--plot takes a file name ending in .png or .svg, not '" + o.plot + "'";
        } else if (a == "--precise") {
            o.precise = true;
        } else if (a == "--calibrate") {
            o.calibrate = true;
        } else if (a == "--unguided") {
            o.unguided = true;
        } else if (a == "--photo") {
            o.photoBase = args[++i];
            if (o.photoBase.empty())
                return "--photo needs a base file name";
        } else if (a == "--photo-every") {
            const auto v = parseInt(args[++i], 0, 99999);
            if (!v)
                return "--photo-every takes a whole number of seconds from 0 to 99999, not '" + args[i] + "'";
            o.photoEvery = *v;
        } else {
            return "unknown argument '" + a + "'";
        }
    }
    if (o.photoBase.empty() != !o.photoEvery)
        return "--photo and --photo-every go together";
    if (o.calibrate && !o.precise)
        return "--calibrate goes with --precise";
    if (o.precise && o.unguided)
        return "--precise guides: it does not go with --unguided";
    return {};
}

int runGuide(const std::vector<std::string>& args)
{
    Options o;
    if (const std::string problem = parseOptions(args, o); !problem.empty())
        return usageError(problem);

    HeadlessRun run("quorvel guide", !o.plot.empty());
    SteadyClock& clock = run.clock;
    SharedState& state = run.state;
    QCoreApplication& app = run.loop.app;
    GuiderCore& core = run.core;

    // Guiding needs optics that give a correction and an output that opens.
    core.session.sendsCorrections = !o.unguided;
    if (!o.unguided && !run.checkOptics("set them in the parameters dialog"))
        return 1;
    if (!run.applyOutput(" (\"Erreur d'ouverture\" in the window)", "") && !o.unguided)
        return 1;

    PhotoSeries photos;
    if (o.photoEvery) {
        const BaseCheck check = photos.start(*o.photoEvery, 0, o.photoBase);
        if (!check.ok())
            return usageError("--photo " + o.photoBase + ": " + baseCheckMessage(check, Language::English));
    }

    // The graph is drawn from the run's guide log: the one asked for, from
    // where this run starts in it, or one of its own.
    RunLogForPlot plotLog(o.plot, o.log);
    if (!plotLog.error().empty()) {
        std::fprintf(stderr, "quorvel guide: %s\n", plotLog.error().c_str());
        return 1;
    }
    std::unique_ptr<GuideLog> log;
    if (!plotLog.path().empty()) {
        std::string error;
        log = GuideLog::openFor(plotLog.path(), core.session, state, error);
        if (!log) {
            std::fprintf(stderr, "quorvel guide: %s\n", error.c_str());
            return 1;
        }
        // A full disk is said when it happens, and again when the log goes on.
        log->setWritingListener([](bool writing, const std::string& m) {
            std::fprintf(stderr, "%s: %s%s\n", "quorvel guide", m.c_str(), writing ? "" : " (the guiding goes on)");
        });
        // The seconds the summary leaves out are a settling to the viewer too.
        log->settleAfterStart(GuideRunStats::kSettleSeconds);
    }

    state.driverIndex = o.source;
    const CaptureStatus connected = core.acquisition.connect(o.source);
    if (!connected.ok) {
        const auto& drivers = core.acquisition.drivers();
        std::fprintf(stderr, "quorvel guide: no camera at entry %d (%s): %s\n", o.source,
                     drivers[size_t(o.source)]->name().c_str(), connected.error.c_str());
        return 1;
    }
    if (o.format) {
        const CaptureStatus formatted = core.acquisition.connected()->setFormat(*o.format);
        if (!formatted.ok) {
            std::fprintf(stderr, "quorvel guide: format %d of entry %d: %s\n", *o.format, o.source,
                         formatted.error.c_str());
            return 1;
        }
    }

    if (o.exposureMs) {
        const CaptureStatus exposed = setCameraExposure(core.acquisition.connected(), *o.exposureMs);
        if (!exposed.ok) {
            std::fprintf(stderr, "quorvel guide: exposure of entry %d: %s\n", o.source, exposed.error.c_str());
            return 1;
        }
    }

    PreciseMode& precise = core.precise;
    if (o.precise)
        precise.setOn(true);
    // Calibration first, on the star found at the first cycle, when the
    // saved one does not fit (or when asked); the lock comes after it.
    // (Two cycles: the region is placed on the star, then measured there.)
    int calibrateFirst = o.precise && (o.calibrate || !precise.calibrationValid()) ? 2 : 0;
    if (log && o.precise)
        log->setMountAxes(precise.logAxes());
    StarAcquirer acquirer(state, core.session);
    if (!calibrateFirst)
        acquirer.begin();
    GuideRunStats stats;
    StatusLine status(stderr);
    int64_t trackingStartUs = 0;
    int64_t endMs = 0;
    int exitCode = 0;
    bool finished = false;

    LoopTimer ticks(core.acquisition);
    auto finish = [&](int code) {
        if (finished)
            return;
        finished = true;
        exitCode = code;
        ticks.disconnect();
        status.end();
        if (state.trackingOn || state.graphSuspended)
            core.session.stopTracking();
        if (trackingStartUs != 0 || code == 0)
            printLine(stats.summaryJson(usablePixelScale(*state.params)));
        app.exit(code);
    };
    SignalWatch watch([&](int sig) {
        status.end();
        std::fprintf(stderr, "quorvel guide: %s, ending the run\n", strsignal(sig));
        finish(0);
    });

    // The calibration's steps, then its outcome; guiding starts once it is done.
    const int stepListener = precise.addStepListener([&](const CalibrationStep* step) {
        if (step) {
            printLine("{\"calibration\":\"" + std::string(phaseName(step->phase)) + "\",\"step\":" +
                      std::to_string(step->step) + ",\"x\":" + fixed3(step->star.x) + ",\"y\":" +
                      fixed3(step->star.y) + "}");
            return;
        }
        if (log)
            log->calibration(precise.calibrationLog());
        const PreciseStatus& st = precise.status();
        if (st.calib != PreciseStatus::Calib::Done) {
            printLine("{\"calibrated\":false,\"error\":" + jsonString(precise.error()) + "}");
            std::fprintf(stderr, "quorvel guide: calibration failed: %s\n", precise.error().c_str());
            finish(1);
            return;
        }
        if (log)
            log->setMountAxes(precise.logAxes());
        auto flag = [](bool b) { return std::string(b ? "true" : "false"); };
        printLine("{\"calibrated\":true,\"angle_deg\":" + fixed3(st.angleDeg) + ",\"ra_rate_px_s\":" +
                  fixed3(st.raRatePxS) + ",\"dec_rate_px_s\":" + fixed3(st.decRatePxS) +
                  ",\"ra_flipped\":" + flag(st.raFlipped) + ",\"dec_flipped\":" + flag(st.decFlipped) +
                  ",\"ortho_err_deg\":" + fixed3(st.orthoErrDeg) + "}");
        acquirer.begin(15, false);  // the lock on the star where the calibration left it
    });

    const int listener = core.acquisition.addTickListener([&](const AcquisitionLoop::Tick& t) {
        if (finished)
            return;
        if (t.grab == GrabStatus::Lost) {
            std::fprintf(stderr, "quorvel guide: camera lost: %s\n", t.error.c_str());
            finish(1);
            return;
        }
        if (const auto shot = photos.tick(clock.nowMs(), core.acquisition.lastFrame().view())) {
            if (shot->ok) {
                printLine("{\"photo\":" + jsonString(shot->file) + ",\"n\":" + std::to_string(shot->n) + "}");
            } else {
                std::fprintf(stderr, "quorvel guide: %s\n", shot->message().c_str());
                printLine("{\"photo_failed\":" + jsonString(shot->file) + ",\"n\":" + std::to_string(shot->n) +
                          ",\"error\":" + jsonString(shot->errorText) + "}");
            }
        }
        if (t.cycle && calibrateFirst == 2) {
            calibrateFirst = 1;
            if (!acquirer.placeRegionOnStar(state.picture.view(), core.acquisition.lastValues())) {
                std::fprintf(stderr, "quorvel guide: no star found in the picture of entry %d\n", o.source);
                finish(1);
            }
            return;
        }
        if (t.cycle && calibrateFirst == 1) {
            calibrateFirst = 0;
            if (!precise.calibrate()) {
                printLine("{\"calibrated\":false,\"error\":" + jsonString(precise.error()) + "}");
                std::fprintf(stderr, "quorvel guide: cannot calibrate: %s\n", precise.error().c_str());
                finish(1);
            }
            return;
        }
        if (t.cycle) {
            if (acquirer.looking()) {
                const StarAcquirer::Step step = acquirer.onCycle(*t.cycle, state.picture.view(), core.acquisition.lastValues());
                if (step == StarAcquirer::Step::NotFound) {
                    std::fprintf(stderr, "quorvel guide: no star found in the picture of entry %d\n", o.source);
                    finish(1);
                    return;
                }
                if (step == StarAcquirer::Step::Locked) {
                    trackingStartUs = t.cycle->timeUs;
                    endMs = clock.nowMs() + int64_t(o.seconds) * 1000;
                }
            } else if (t.cycle->tracking) {
                const double tS = double(t.cycle->timeUs - trackingStartUs) / 1e6;
                printLine(cycleJson(*t.cycle, tS));
                stats.add(*t.cycle, tS);
                status.cycle(*t.cycle, tS, stats.summary(), *state.params,
                             usablePixelScale(*state.params));
            }
        }
        if (endMs != 0 && clock.nowMs() >= endMs)
            finish(0);
    });
    ticks.start();
    app.exec();
    core.acquisition.removeTickListener(listener);
    precise.removeStepListener(stepListener);

    endHeadlessRun("quorvel guide", state, core, log.get(), plotLog.path());
    if (!o.plot.empty() && trackingStartUs != 0) {
        const int plotted = writeLogPlots("quorvel guide", plotLog.text(), "the run", o.plot, std::nullopt);
        if (exitCode == 0 && plotted != 0)
            exitCode = 1;
    }
    return exitCode;
}

CommandRegistration reg("guide", kUsage, runGuide);

}  // namespace
