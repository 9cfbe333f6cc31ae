// `quorvel serve`: the guider without a display, driven by an imaging suite
// (N.I.N.A., KStars Ekos, CCDciel, SGP) through PHD2's event server. The
// set-up and the shutdown are `quorvel guide`'s: the same acquisition loop
// ticked every 200 ms, the settings of qv185.dat here, pulses stopped,
// settings saved and the log closed at the end; but the camera, the star and
// the tracking wait for the client's requests.
#include <QCoreApplication>
#include <QHostAddress>
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
#include "core/clock.h"
#include "core/log/guidelog.h"
#include "core/settings/paramsfile.h"
#include "core/state.h"
#include "qt/eventserver.h"
#include "qt/guiderhost.h"
#include "qt/looptimer.h"
#include "qt/remoteguider.h"
#include "qt/signalwatch.h"

namespace {

const char* const kUsage =
    "quorvel serve [--port P] [--listen ADDR] [--source I] [--format F] [--log FILE] [--precise]"
    "   wait for an imaging suite speaking PHD2's protocol on ADDR:P (default 127.0.0.1:4400; port 0 takes "
    "any free one) and guide as it asks, on camera entry I (default 0) in its format F as \"Format\" lists "
    "them, with the settings of qv185.dat here; --precise: guide in fractions of a pixel with a calibrated mount, "
    "calibrating as PHD2 does when a guide asks for it";

struct Options {
    int port = EventServer::kDefaultPort;
    std::string listen = "127.0.0.1";
    int source = 0;
    std::optional<int> format;
    std::string log;
    bool precise = false;
};

int usageError(const std::string& why)
{
    std::fprintf(stderr, "quorvel serve: %s\nusage: %s\n", why.c_str(), kUsage);
    return 2;
}


std::string parseOptions(const std::vector<std::string>& args, Options& o)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool valued = a == "--port" || a == "--listen" || a == "--source" || a == "--format" || a == "--log";
        if (valued && i + 1 >= args.size())
            return a + " needs a value";
        if (a == "--port") {
            const auto v = parseInt(args[++i], 0, 65535);
            if (!v)
                return "--port takes a port number from 0 to 65535, not '" + args[i] + "'";
            o.port = *v;
        } else if (a == "--listen") {
            o.listen = args[++i];
            if (o.listen != "localhost" && QHostAddress(QString::fromStdString(o.listen)).isNull())
                return "--listen takes the IP address of one of this machine's interfaces (127.0.0.1, 0.0.0.0 "
                       "for all, ::1...), not '" + o.listen + "'";
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
        } else if (a == "--log") {
            o.log = args[++i];
            if (o.log.empty())
                return "--log needs a file name";
        } else if (a == "--precise") {
            o.precise = true;
        } else {
            return "unknown argument '" + a + "'";
        }
    }
    return {};
}

int runServe(const std::vector<std::string>& args)
{
    Options o;
    if (const std::string problem = parseOptions(args, o); !problem.empty())
        return usageError(problem);

    HeadlessRun run("quorvel serve", false);
    SharedState& state = run.state;
    QCoreApplication& app = run.loop.app;
    GuiderCore& core = run.core;
    state.driverIndex = o.source;
    // A missing mount or unusable optics are said now; the client hears of
    // them when it asks to guide.
    run.applyOutput("; guiding will send nothing", "; guiding will send nothing");
    run.checkOptics("guide requests will be refused");

    std::unique_ptr<GuideLog> log;
    if (!o.log.empty()) {
        std::string error;
        log = GuideLog::openFor(o.log, core.session, state, error);
        if (!log) {
            std::fprintf(stderr, "quorvel serve: %s\n", error.c_str());
            return 1;
        }
        // A full disk is said when it happens, and again when the log goes on.
        log->setWritingListener([](bool writing, const std::string& m) {
            std::fprintf(stderr, "%s: %s%s\n", "quorvel serve", m.c_str(), writing ? "" : " (the guiding goes on)");
        });
    }

    // A format the camera does not have is said now, not at the client's
    // first request (the drivers take their format before connecting).
    if (o.format) {
        const auto& drivers = core.acquisition.drivers();
        const CaptureStatus formatted = drivers[size_t(o.source)]->setFormat(*o.format);
        if (!formatted.ok) {
            std::fprintf(stderr, "quorvel serve: format %d of entry %d (%s): %s\n", *o.format, o.source,
                         drivers[size_t(o.source)]->name().c_str(), formatted.error.c_str());
            return 1;
        }
    }

    // The loop ticks while a client has the camera connected, in the format
    // of --format each time it connects it.
    LoopTimer ticks(core.acquisition);
    ticks.setFormat(o.format);
    const int lostListener = core.acquisition.addTickListener([](const AcquisitionLoop::Tick& t) {
        if (t.grab == GrabStatus::Lost)
            std::fprintf(stderr, "quorvel serve: camera lost: %s\n", t.error.c_str());
    });
    RemoteGuider guider(state, core, ticks);
    guider.setGuideLog(log.get());
    guider.setPrecise(o.precise);
    EventServer server(guider);
    QString error;
    if (!server.listen(QString::fromStdString(o.listen), quint16(o.port), error)) {
        std::fprintf(stderr, "quorvel serve: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    std::printf("quorvel serve: listening on %s:%u\n", o.listen.c_str(), unsigned(server.port()));
    std::fflush(stdout);

    SignalWatch watch([&](int sig) {
        std::fprintf(stderr, "quorvel serve: %s, ending\n", strsignal(sig));
        app.exit(0);
    });
    const int exitCode = app.exec();

    // As the window does when it closes: guiding ended, pulses stopped,
    // settings saved, the log closed.
    ticks.disconnect();
    core.acquisition.removeTickListener(lostListener);
    endHeadlessRun("quorvel serve", state, core, log.get(), o.log);
    return exitCode;
}

CommandRegistration reg("serve", kUsage, runServe);

}  // namespace
