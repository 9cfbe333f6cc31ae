// A whole night of guiding on the program's fake clock, through the same
// objects the program runs: the simulated sky (QUORVEL_SKY as the user sets
// it), the acquisition loop ticked every 200 ms, the guiding session and its
// corrections, the guide log, the event server with an imaging suite's
// client on a loopback socket that starts the guiding, dithers now and then,
// pauses it for a focus run and reads every event, and a photograph every
// minute.
//
// The night is 28,800 measurement cycles in eight sections of 3,600, each on
// another output, in turn the relay box, "LX 200", "Meade ETX", the INDI
// mount and the LED window, then again from the start: one rig guiding all
// night the way a user who changes mounts would, rather than five rigs side
// by side, so that every output meets a session, a log and a server that
// have run for hours. The output changes as the settings dialog changes it
// while guiding: right after a cycle, its pulses still running. The serial
// outputs write to a pseudo-terminal that stands in for COM1, read back at
// its far end; the INDI mount talks to a real indiserver with the telescope
// simulator, through a relay that counts the pulses it asks for (without
// indiserver installed it runs with no server, its pulses counted as
// announced on the mount channel, and says so).
//
// The loop measures on the first tick more than 1000 ms after the last
// cycle: with the program's 200 ms ticks that is one cycle every 1.2 s, so
// the 28,800 cycles span 9 h 36 min of simulated sky.
//
// Goals, checked at the end (the exit status is 1 when one fails):
//   - resident memory grows by less than 1024 kB from the end of the first
//     section to the end of the night;
//   - no cycle late (defined at kLateBudgetUs below);
//   - the pulses the outputs reported equal the pulses the guide log holds,
//     and the pulses counted where the mount receives them, and those of the
//     client's GuideStep events;
//   - the guide log reads back whole: as many rows as tracking cycles, in
//     order, no line the reader leaves out, its dithers and pauses, its
//     last line whole; no torn line at the end of any section;
//   - the client saw no error, no malformed line, every guide step in
//     order and every pause; every photograph was written.
// Details go to standard error; standard output gets one JSON line:
//   {"cycles":N,"rss_growth_kb":K,"late_cycles":L,"pulses_sent":S,"pulses_logged":G}
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "bench/night/phdreader.h"
#include "bench/night/wire.h"
#include "core/capture/simsky.h"
#include "core/guider.h"
#include "core/log/guidelog.h"
#include "core/log/logreader.h"
#include "core/photo/photoseries.h"
#include "core/state.h"
#include "qt/eventserver.h"
#include "qt/looptimer.h"
#include "qt/remoteguider.h"

namespace {

constexpr int kCycles = 28'800;
constexpr int kSections = 8;
constexpr int kCyclesPerSection = kCycles / kSections;
constexpr std::array<int32_t, 5> kOutputs = {RelayBox, Lx200, MeadeEtx, IndiMount, VirtualLeds};
constexpr int kDitherEveryCycles = 1500;   // about every half hour, as a suite between frames
constexpr int kPauseEveryCycles = 2700;    // a focus run every 54 min: guiding paused,
constexpr int kPauseCycles = 50;           // then resumed a minute later
constexpr int kPhotoEverySeconds = 60;
constexpr int64_t kTickUs = AcquisitionLoop::kTickMs * 1000;

// A cycle is late when any of these holds, on the fake clock:
//   - it began more than kLateBudgetUs after the cycle before it: the loop
//     measures on the first tick more than kCycleMs after the last cycle,
//     so anything later means a tick went by without the measurement that
//     was due (no new frame, or pulses still running held it back);
//   - its tick's work (grab, measurement, correction, with the outputs'
//     waits between bytes and axes, which pass on the clock) ended after
//     the next tick was due: the loop could not keep its 200 ms;
//   - a pulse it sent ends after kLateBudgetUs from the cycle's start:
//     the mount would still be moving when the next cycle is due to measure.
constexpr int64_t kLateBudgetUs = int64_t(AcquisitionLoop::kCycleMs) * 1000 + kTickUs;

const char* outputName(int32_t type)
{
    switch (type) {
    case RelayBox: return "relay box";
    case Lx200: return "LX 200";
    case MeadeEtx: return "Meade ETX";
    case VirtualLeds: return "LED window";
    case IndiMount: return "INDI mount";
    default: return "?";
    }
}

// The pulse machine's deadlines, expired as the fake clock reaches them.
class StepTimer : public PulseTimerPort {
public:
    void arm(GuideAxis a, int64_t deadlineUs) override { deadlines[index(a)] = deadlineUs; }
    void disarm(GuideAxis a) override { deadlines[index(a)].reset(); }
    static int index(GuideAxis a) { return a == GuideAxis::Ra ? 0 : 1; }
    std::array<std::optional<int64_t>, 2> deadlines;
};

int64_t residentKb()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtoll(line.c_str() + 6, nullptr, 10);
    return -1;
}

bool endsWithNewline(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const auto size = in.tellg();
    if (!in || size <= 0)
        return false;
    in.seekg(-1, std::ios::end);
    return in.get() == '\n';
}

struct Section {
    explicit Section(int32_t type) : output(type) {}
    int32_t output = 0;
    int cycles = 0;
    int sent = 0;      // pulses the output reported (a length above zero)
    int received = 0;  // counted where the mount receives them
    std::string where; // how they were counted
    std::string problem;
    int64_t rssKb = 0;   // resident memory at its end
};

struct Night {
    FakeClock clock;
    SharedState state{clock};
    StepTimer timer;
    GuiderCore core{state, timer};

    Night()
    {
        core.acquisition.setScan([this] {
            CaptureDriverList list;
            list.push_back(std::make_unique<SimulatedSky>(state, core.channel));  // reads QUORVEL_SKY
            return list;
        });
    }

    // Lets time pass to untilUs, ending pulses at their deadlines.
    void runTo(int64_t untilUs)
    {
        for (;;) {
            std::optional<int64_t> next;
            for (const auto& s : timer.deadlines)
                if (s && *s <= untilUs && (!next || *s < *next))
                    next = s;
            if (!next)
                break;
            clock.advanceUs(std::max<int64_t>(0, *next - clock.nowUs()));
            for (GuideAxis a : {GuideAxis::Ra, GuideAxis::Dec}) {
                auto& slot = timer.deadlines[size_t(StepTimer::index(a))];
                if (slot && *slot <= clock.nowUs()) {
                    slot.reset();
                    core.pulses.expire(a);
                }
            }
        }
        clock.advanceUs(std::max<int64_t>(0, untilUs - clock.nowUs()));
    }
};

}  // namespace

int main(int argc, char** argv)
{
    const auto wallStart = std::chrono::steady_clock::now();
    QCoreApplication app(argc, argv);
    std::vector<std::string> failures;

    char dirTemplate[] = "/tmp/quorvel-night.XXXXXX";
    if (!mkdtemp(dirTemplate)) {
        std::perror("night: mkdtemp");
        return 1;
    }
    const std::string dir = dirTemplate;

    // COM1 is the pseudo-terminal; the INDI server, when there is one, is
    // reached through the counting relay.
    PtyWire pty;
    if (!pty.ok()) {
        std::fprintf(stderr, "night: no pseudo-terminal for COM1\n");
        return 1;
    }
    setenv("QUORVEL_COM1", pty.path().c_str(), 1);
    unsetenv("QUORVEL_INDI_MOUNT");
    IndiServerProcess indiServer(dir);
    std::optional<IndiPulseTap> tap;
    if (indiServer.ok())
        tap.emplace(indiServer.port());
    if (tap && tap->ok()) {
        setenv("QUORVEL_INDI", ("127.0.0.1:" + std::to_string(tap->port())).c_str(), 1);
    } else {
        // A port nothing listens on: the mount is plainly not there.
        int free = 0;
        {
            IndiPulseTap probe(1);
            free = probe.port();
        }
        setenv("QUORVEL_INDI", ("127.0.0.1:" + std::to_string(free)).c_str(), 1);
        std::fprintf(stderr, "night: no INDI server (%s): the INDI mount runs without one\n",
                     indiServer.ok() ? "no relay port" : indiServer.why().c_str());
        tap.reset();
    }

    Night n;
    SharedState& state = n.state;
    GuiderCore& core = n.core;
    state.params->comPort = 0;  // COM1

    LoopTimer loop(core.acquisition);  // a client's camera requests would start it; the night ticks itself
    RemoteGuider guider(state, core, loop);
    EventServer server(guider);
    QString listenError;
    if (!server.listen("127.0.0.1", 0, listenError)) {
        std::fprintf(stderr, "night: event server: %s\n", listenError.toLocal8Bit().constData());
        return 1;
    }
    std::string error;
    const std::string logPath = dir + "/guide.log";
    std::unique_ptr<GuideLog> log = GuideLog::open(logPath, localWallClock(), error);
    if (!log) {
        std::fprintf(stderr, "night: guide log: %s\n", error.c_str());
        return 1;
    }
    log->attach(core.session, state);
    guider.setGuideLog(log.get());

    PhotoSeries photos(dir);
    if (const BaseCheck check = photos.start(kPhotoEverySeconds, 0, dir + "/night.bmp"); !check.ok()) {
        std::fprintf(stderr, "night: photos: %s\n", baseCheckMessage(check, Language::English).c_str());
        return 1;
    }
    int photosTaken = 0, photosFailed = 0;
    std::string lastPhoto;
    const int photoListener = core.acquisition.addTickListener([&](const AcquisitionLoop::Tick&) {
        if (const auto shot = photos.tick(n.clock.nowMs(), core.acquisition.lastFrame().view())) {
            if (shot->ok) {
                ++photosTaken;
                lastPhoto = shot->file;
            } else {
                ++photosFailed;
                std::fprintf(stderr, "night: %s\n", shot->message().c_str());
            }
        }
    });

    // What reached the mount in the current section.
    RelayWire relayWire;
    MountStringWire stringWire;
    int lamps = 0, announced = 0;
    int64_t wireBytes = 0;
    core.channel.addObserver([&](const MountEvent& e) {
        if (e.kind == MountEvent::Kind::Lamp && e.on)
            ++lamps;
        else if (e.kind == MountEvent::Kind::TimedPulse)
            ++announced;
    });
    int32_t output = kOutputs[0];
    auto readWire = [&](int quietMs) {
        pty.read(
            [&](uint8_t b) {
                ++wireBytes;
                if (output == RelayBox)
                    relayWire.feed(b);
                else
                    stringWire.feed(char(b));
            },
            quietMs);
    };

    // Every cycle, as the session ran it.
    int cycles = 0, trackingCycles = 0, lateCycles = 0, pulsesSent = 0;
    int64_t previousCycleUs = -1, tickStartUs = 0;
    bool cycleThisTick = false;
    bool lateThisTick = false;
    std::vector<Section> sections;
    sections.reserve(kSections + 1);  // nothing of the night's own grows while it runs
    sections.emplace_back(output);
    core.session.addListener([&](const SessionEvent& e) {
        if (e.kind != SessionEvent::Kind::Cycle)
            return;
        const CycleResult& c = *e.cycle;
        ++cycles;
        ++sections.back().cycles;
        cycleThisTick = true;
        if (c.tracking)
            ++trackingCycles;
        for (const auto& p : {c.pulses.ra, c.pulses.dec})
            if (p && p->length > 0) {
                ++pulsesSent;
                ++sections.back().sent;
            }
        bool late = previousCycleUs >= 0 && c.timeUs - previousCycleUs > kLateBudgetUs;
        late = late || c.pulses.endUs() > c.timeUs + kLateBudgetUs;
        if (late && lateCycles < 5)
            std::fprintf(stderr, "night: cycle %d late: %.3f s after the last, pulses until +%.3f s\n", cycles,
                         double(c.timeUs - previousCycleUs) / 1e6, double(c.pulses.endUs() - c.timeUs) / 1e6);
        lateThisTick = lateThisTick || late;
        previousCycleUs = c.timeUs;
    });

    // The output chosen and applied, as the settings dialog does it.
    auto applyOutput = [&](int32_t type) {
        state.params->interfaceType = type;
        const InterfaceApplied applied = core.mount.applyInterface();
        if (applied.port && !applied.port->ok)
            failures.push_back(std::string(outputName(type)) + ": COM1 did not open");
        if (applied.output && !applied.output->ok)
            std::fprintf(stderr, "night: %s: %s; its pulses go no further than the mount channel\n", outputName(type),
                         applied.output->error.c_str());
    };
    // The section's pulses as the mount received them.
    auto closeSection = [&] {
        Section& s = sections.back();
        s.rssKb = residentKb();
        readWire(100);
        switch (s.output) {
        case RelayBox:
            s.received = relayWire.pulses();
            s.where = "command bytes on COM1";
            if (relayWire.badClosings() || relayWire.midPair())
                s.problem = "relay bytes out of pairs";
            break;
        case Lx200:
        case MeadeEtx:
            s.received = stringWire.pulses();
            s.where = "move strings on COM1";
            if (stringWire.unknown() || stringWire.midString())
                s.problem = "unknown strings on COM1";
            if (s.output == Lx200 && stringWire.rateCommands() != stringWire.pulses())
                s.problem = "a move without its guiding rate";
            break;
        case VirtualLeds:
            s.received = lamps;
            s.where = "squares lit";
            // A port a serial output left open gets the plain moves too.
            if (core.line.comHandle() >= 0 && (stringWire.pulses() != lamps || stringWire.unknown()))
                s.problem = std::to_string(stringWire.pulses()) + " move strings on COM1 for " + std::to_string(lamps) +
                            " squares lit";
            break;
        case IndiMount:
            if (tap && core.indiMount.ready()) {
                const int before = s.received;  // the tap's count when the section began
                tap->settle(100);
                s.received = tap->pulses() - before;
                s.where = "guide pulses on the INDI socket";
            } else {
                s.received = announced;
                s.where = "pulses announced (no INDI server)";
            }
            if (wireBytes != 0)
                s.problem = std::to_string(wireBytes) + " bytes on COM1 while the INDI mount guided";
            break;
        }
        if (s.received != s.sent && s.problem.empty())
            s.problem = "received " + std::to_string(s.received) + " pulses, sent " + std::to_string(s.sent);
        if (!endsWithNewline(logPath))
            s.problem += (s.problem.empty() ? "" : "; ") + std::string("the guide log ends in a torn line");
    };

    applyOutput(output);
    state.driverIndex = 0;
    if (const CaptureStatus c = core.acquisition.connect(0); !c.ok) {
        std::fprintf(stderr, "night: the simulated sky did not connect: %s\n", c.error.c_str());
        return 1;
    }

    // The client: connected, looping, a star, guiding; then dithers and pauses.
    PhdReader client(server.port());
    if (!client.connected()) {
        std::fprintf(stderr, "night: the client could not connect to the event server\n");
        return 1;
    }
    const QJsonObject settle{{"pixels", 1.5}, {"time", 8}, {"timeout", 60}};
    enum class Step { Connect, Loop, FindStar, Guide, Guiding } step = Step::Connect;
    int waiting = 0;             // a request not answered yet (ids start at 1)
    int stepCycle = 0;           // the cycle the step began at
    int dithers = 0, pauses = 0;
    int lastDither = 0, lastPause = 0;  // cycles
    bool paused = false;
    int64_t rssFirstHour = -1;

    int64_t tickN = 0;
    while (cycles < kCycles) {
        tickStartUs = (++tickN) * kTickUs;
        n.runTo(tickStartUs);
        cycleThisTick = lateThisTick = false;
        core.acquisition.tick();
        if (cycleThisTick && n.clock.nowUs() - tickStartUs > kTickUs) {
            if (!lateThisTick && lateCycles < 5)
                std::fprintf(stderr, "night: cycle %d ran %.3f s past its tick\n", cycles,
                             double(n.clock.nowUs() - tickStartUs) / 1e6);
            lateThisTick = true;
        }
        lateCycles += lateThisTick ? 1 : 0;
        // A new section right after the last cycle of the one before.
        if (cycles >= int(sections.size()) * kCyclesPerSection && cycles < kCycles) {
            const int32_t next = kOutputs[sections.size() % kOutputs.size()];
            applyOutput(next);
            closeSection();  // what the change itself sent is the old output's
            if (sections.size() == 1)
                rssFirstHour = residentKb();
            sections.emplace_back(next);
            if (next == IndiMount && tap)
                sections.back().received = tap->pulses();
            output = next;
            relayWire = {};
            stringWire = {};
            lamps = announced = 0;
            wireBytes = 0;
        }
        readWire(0);
        QCoreApplication::processEvents();
        client.read();

        if (waiting) {
            const auto a = client.answered(waiting);
            if (!a)
                continue;
            waiting = 0;
            if (!*a)
                break;  // said below with the client's error
        }
        switch (step) {
        case Step::Connect:
            waiting = client.request("set_connected", QJsonArray{true});
            step = Step::Loop;
            break;
        case Step::Loop:
            waiting = client.request("loop");
            step = Step::FindStar;
            stepCycle = cycles;
            break;
        case Step::FindStar:
            if (cycles >= stepCycle + 2) {
                waiting = client.request("find_star");
                step = Step::Guide;
            }
            break;
        case Step::Guide:
            waiting = client.request("guide", QJsonObject{{"settle", settle}, {"recalibrate", false}});
            step = Step::Guiding;
            lastDither = lastPause = cycles;
            break;
        case Step::Guiding: {
            if (paused) {
                if (cycles - lastPause >= kPauseCycles) {
                    waiting = client.request("set_paused", QJsonArray{false});
                    paused = false;
                }
                break;
            }
            const bool settled = state.trackingOn && client.count("SettleDone") == dithers + 1;
            if (settled && cycles - lastPause >= kPauseEveryCycles) {
                waiting = client.request("set_paused", QJsonArray{true});
                paused = true;
                ++pauses;
                lastPause = cycles;
            } else if (settled && cycles - lastDither >= kDitherEveryCycles) {
                waiting = client.request("dither", QJsonObject{{"amount", 3}, {"raOnly", false}, {"settle", settle}});
                ++dithers;
                lastDither = cycles;
            }
            break;
        }
        }
    }
    const int64_t rssEnd = residentKb();
    closeSection();

    // The end of the night, as the program ends it: guiding stopped, the
    // camera let go, the log closed; the client reads what is left.
    client.request("stop_capture");
    for (int i = 0; i < 50; ++i) {
        QCoreApplication::processEvents();
        client.read();
        usleep(2000);
    }
    if (state.trackingOn || state.graphSuspended)
        core.session.stopTracking();
    core.pulses.stopRunning();
    core.acquisition.removeTickListener(photoListener);
    core.acquisition.disconnect();
    log->close();
    if (!log->writeError().empty())
        failures.push_back("guide log: " + log->writeError());

    // The log read back.
    std::string text;
    {
        std::ifstream in(logPath, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        text = ss.str();
    }
    const GuideLogContents contents = readGuideLog(text);
    int rows = 0, pulsesLogged = 0, rowsOutOfOrder = 0, loggedDithers = 0, loggedPauses = 0, loggedResumes = 0;
    for (const GuideLogSection& s : contents.sections) {
        for (const LoggedFrame& f : s.frames) {
            // Frames numbered from 1, their times going forward.
            if (f.frame != (rows ? s.frames[size_t(rows - 1)].frame + 1 : 1) ||
                (rows && f.timeS <= s.frames[size_t(rows - 1)].timeS))
                ++rowsOutOfOrder;
            ++rows;
            pulsesLogged += (f.raDirection ? 1 : 0) + (f.decDirection ? 1 : 0);
        }
        for (const LoggedEvent& e : s.events) {
            loggedDithers += e.kind == LoggedEvent::Kind::Dither;
            loggedPauses += e.kind == LoggedEvent::Kind::Paused;
            loggedResumes += e.kind == LoggedEvent::Kind::Resumed;
        }
    }
    const size_t lastStart = text.size() > 1 ? text.rfind('\n', text.size() - 2) : std::string::npos;
    const std::string lastLine = lastStart == std::string::npos ? text : text.substr(lastStart + 1);
    bool logReadable = !text.empty() && text.back() == '\n' && lastLine.rfind("Log closed at ", 0) == 0 &&
                       contents.problems.empty() && rows == trackingCycles && contents.sections.size() == 1;
    if (rowsOutOfOrder || loggedDithers != dithers || loggedPauses != pauses ||
        loggedResumes != pauses - (paused ? 1 : 0)) {
        std::fprintf(stderr, "night: guide log: %d rows out of order, %d dithers, %d pauses, %d resumes logged\n",
                     rowsOutOfOrder, loggedDithers, loggedPauses, loggedResumes);
        logReadable = false;
    }
    if (!contents.problems.empty())
        std::fprintf(stderr, "night: guide log line %d: %s\n", contents.problems.front().line,
                     contents.problems.front().what.c_str());

    // The report.
    std::fprintf(stderr, "night: %d cycles (%d tracking) over %.2f h on the fake clock; %d dithers, %d pauses\n",
                 cycles, trackingCycles, double(n.clock.nowUs()) / 3.6e9, dithers, pauses);
    for (size_t i = 0; i < sections.size(); ++i) {
        const Section& s = sections[i];
        std::fprintf(stderr, "night: section %zu %-10s %5d cycles, %5d pulses sent, %5d %s (memory %lld kB)%s%s\n",
                     i + 1, outputName(s.output), s.cycles, s.sent, s.received, s.where.c_str(), (long long)s.rssKb,
                     s.problem.empty() ? "" : ": ", s.problem.c_str());
        if (!s.problem.empty())
            failures.push_back("section " + std::to_string(i + 1) + " (" + outputName(s.output) + "): " + s.problem);
    }
    std::fprintf(stderr, "night: guide log %s: %d rows in %zu section(s), %d pulses, last line \"%s\"\n",
                 logReadable ? "whole" : "NOT READABLE", rows, contents.sections.size(), pulsesLogged,
                 lastLine.substr(0, lastLine.size() ? lastLine.size() - 1 : 0).c_str());
    const int steps = client.count("GuideStep") + client.count("StarLost");
    std::fprintf(stderr, "night: client read %d lines: %d GuideStep, %d StarLost, %d pulses, %d SettleDone\n",
                 client.lines(), client.count("GuideStep"), client.count("StarLost"), client.pulses(),
                 client.count("SettleDone"));
    if (client.badLines() || client.errors())
        failures.push_back("client: " + std::to_string(client.badLines()) + " bad lines, " +
                           std::to_string(client.errors()) + " errors (" + client.lastError().toStdString() + ")");
    // A sky of bad seeing or a faint star may never settle: said, not a fault.
    if (client.settleFailures())
        std::fprintf(stderr, "night: %d settles failed (%s)\n", client.settleFailures(),
                     client.lastSettleFailure().toStdString().c_str());
    if (client.count("Paused") != pauses || client.count("Resumed") != pauses - (paused ? 1 : 0))
        failures.push_back("client: " + std::to_string(client.count("Paused")) + " Paused and " +
                           std::to_string(client.count("Resumed")) + " Resumed events for " + std::to_string(pauses) +
                           " pauses");
    if (steps != trackingCycles)
        failures.push_back("client: " + std::to_string(steps) + " guide steps for " + std::to_string(trackingCycles) +
                           " tracking cycles");
    if (client.outOfOrder())
        failures.push_back("client: " + std::to_string(client.outOfOrder()) + " guide steps out of order");
    if (client.pulses() != pulsesSent)
        failures.push_back("client: " + std::to_string(client.pulses()) + " pulses in GuideStep events, " +
                           std::to_string(pulsesSent) + " sent");
    if (server.dropped())
        failures.push_back("the event server dropped the client");
    const int photosDue = int(n.clock.nowMs() / 1000 / kPhotoEverySeconds);
    std::fprintf(stderr, "night: %d photographs (last %s), %d failed\n", photosTaken, lastPhoto.c_str(), photosFailed);
    if (photosFailed || photosTaken < photosDue - 1)
        failures.push_back("photographs: " + std::to_string(photosTaken) + " written of " + std::to_string(photosDue));
    if (cycles < kCycles || trackingCycles == 0)
        failures.push_back("the guiding did not run all night");

    const int64_t growth = rssEnd - rssFirstHour;
    std::fprintf(stderr, "night: resident memory %lld kB after the first section, %lld kB at the end\n",
                 (long long)rssFirstHour, (long long)rssEnd);
    if (rssFirstHour < 0 || growth >= 1024)
        failures.push_back("resident memory grew by " + std::to_string(growth) + " kB");
    if (lateCycles > 0)
        failures.push_back(std::to_string(lateCycles) + " late cycles");
    if (pulsesSent != pulsesLogged)
        failures.push_back("pulses sent " + std::to_string(pulsesSent) + ", logged " + std::to_string(pulsesLogged));
    if (!logReadable)
        failures.push_back("guide log not readable to its end");

    const double wallS = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    std::fprintf(stderr, "night: %.1f s of wall time\n", wallS);
    for (const std::string& f : failures)
        std::fprintf(stderr, "night: FAILED: %s\n", f.c_str());
    if (failures.empty())
        std::filesystem::remove_all(dir);
    else
        std::fprintf(stderr, "night: files kept in %s\n", dir.c_str());

    std::printf("{\"cycles\":%d,\"rss_growth_kb\":%lld,\"late_cycles\":%d,\"pulses_sent\":%d,\"pulses_logged\":%d}\n",
                cycles, (long long)growth, lateCycles, pulsesSent, pulsesLogged);
    return failures.empty() ? 0 : 1;
}
