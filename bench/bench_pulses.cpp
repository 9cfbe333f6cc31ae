// Pulse timing on a pseudo-terminal: drives real timed pulses (the pulse
// machine on its QtCore timer) on the "LX 200" output and relay-box pairs, then reads the serial trace and
// reports how far the time from each move string to the stop string that
// ends it lies from the length asked for, and how far each relay pair's
// closing byte lies from its 5 ms. It measures; it asserts nothing.
//
//   bench_pulses [--pulses N]     N pulses per length (default 20, at least 20)
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <pty.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/clock.h"
#include "core/guide/relaybox.h"
#include "core/state.h"
#include "qt/guiderhost.h"

namespace {

struct Stats {
    std::string what;
    int requestedMs = 0;
    std::vector<double> errorsMs;
};

void printRow(const Stats& s)
{
    double sum = 0;
    double worst = 0;
    for (double e : s.errorsMs) {
        sum += e;
        if (std::fabs(e) > std::fabs(worst))
            worst = e;
    }
    const double mean = s.errorsMs.empty() ? 0 : sum / double(s.errorsMs.size());
    std::printf("%-28s %6d ms %5zu %+10.3f ms %+10.3f ms\n", s.what.c_str(), s.requestedMs,
                s.errorsMs.size(), mean, worst);
}

void idleFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void waitForPulses(PulseMachine& pulses)
{
    while (pulses.anyPulsing())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// The stop string that ends a move, on "LX 200".
std::string stopFor(const std::string& move)
{
    return "#:Q" + move.substr(3);
}

bool isMove(const std::string& s)
{
    return s == "#:Me#" || s == "#:Mw#" || s == "#:Mn#" || s == "#:Ms#";
}

}  // namespace

int main(int argc, char** argv)
{
    int pulsesPerLength = 20;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--pulses") == 0 && i + 1 < argc)
            pulsesPerLength = std::max(20, std::atoi(argv[++i]));
    }

    int master = -1;
    int slave = -1;
    char slaveName[256] = {};
    if (openpty(&master, &slave, slaveName, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    char logPath[] = "/tmp/quorvel-bench-trace-XXXXXX";
    const int logFd = mkstemp(logPath);
    if (logFd < 0) {
        std::perror("mkstemp");
        return 1;
    }
    close(logFd);
    setenv("QUORVEL_COM1", slaveName, 1);
    setenv("QUORVEL_SERIAL_LOG", logPath, 1);

    // The far end reads everything, as a mount would.
    std::atomic<bool> draining{true};
    std::thread drain([&] {
        char buf[4096];
        while (draining) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 50) > 0 && read(master, buf, sizeof buf) < 0)
                break;
        }
    });

    QCoreApplication app(argc, argv);
    SteadyClock clock;
    SharedState state(clock);
    state.params->interfaceType = Lx200;
    state.params->comPort = 0;
    GuiderHost host(state);
    GuiderCore& core = host.core;
    if (const LineOpenResult r = core.line.openComPort(1); !r.ok) {
        std::fprintf(stderr, "%s (%s): %s\n", r.portName.c_str(), r.device.c_str(), std::strerror(r.error));
        // Let the reader go before leaving: a running thread must be joined.
        draining = false;
        drain.join();
        std::remove(logPath);
        return 1;
    }

    // Pulses as the correction sends them: AD, 5 ms, DEC, alternating signs.
    const int lengths[] = {15, 255, 945};
    std::vector<int> requested;  // one per move string, in order
    for (int length : lengths) {
        for (int i = 0; i < pulsesPerLength; i += 2) {
            const int sign = (i / 2) % 2 ? -1 : 1;
            core.pulses.pulse(GuideAxis::Ra, sign * length);
            requested.push_back(length);
            clock.pauseMs(5);
            core.pulses.pulse(GuideAxis::Dec, -sign * length);
            requested.push_back(length);
            waitForPulses(core.pulses);
            idleFor(20);
        }
    }

    // Relay-box pairs: first byte, 5 ms, closing byte.
    state.params->interfaceType = RelayBox;
    const int relayPairs = pulsesPerLength;
    for (int i = 0; i < relayPairs; ++i) {
        core.mount.output().pulse({GuideAxis::Ra, 0, true, i % 4, 20});
        idleFor(10);
    }

    draining = false;
    drain.join();

    std::vector<TraceRecord> records;
    std::ifstream trace(logPath);
    for (std::string line; std::getline(trace, line);) {
        TraceRecord r;
        if (parseTraceLine(line, r))
            records.push_back(r);
    }
    std::remove(logPath);

    std::vector<Stats> pulses;
    for (int length : lengths)
        pulses.push_back({"LX 200 move to stop", length, {}});
    size_t moveIndex = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        if (!isMove(records[i].bytes) || moveIndex >= requested.size())
            continue;
        const int length = requested[moveIndex++];
        const std::string stop = stopFor(records[i].bytes);
        for (size_t j = i + 1; j < records.size(); ++j) {
            if (records[j].bytes == stop) {
                const double ms = double(records[j].timeUs - records[i].timeUs) / 1000.0;
                for (Stats& s : pulses) {
                    if (s.requestedMs == length)
                        s.errorsMs.push_back(ms - length);
                }
                break;
            }
        }
    }

    Stats relay{"relay pair first to closing", kRelayByteGapMs, {}};
    for (size_t i = 0; i + 1 < records.size(); ++i) {
        const std::string& first = records[i].bytes;
        if (first.size() == 1 && (uint8_t(first[0]) >> 2) == 20 && records[i + 1].bytes.size() == 1)
            relay.errorsMs.push_back(double(records[i + 1].timeUs - records[i].timeUs) / 1000.0
                                     - kRelayByteGapMs);
    }

    std::printf("%-28s %9s %5s %13s %13s\n", "what", "requested", "n", "mean error", "worst error");
    for (const Stats& s : pulses)
        printRow(s);
    printRow(relay);
    close(slave);
    close(master);
    return 0;
}
