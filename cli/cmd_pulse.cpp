// `quorvel pulse`: one guiding correction (or one arrow-key slew) on the
// guiding output of the settings file in the current directory, as the guider
// would send it, and a JSON account of what the output said it sent and of
// every write on the serial line.
#include <QCoreApplication>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/cliutil.h"
#include "cli/commands.h"
#include "core/clock.h"
#include "core/settings/paramsfile.h"
#include "core/state.h"
#include "qt/guiderhost.h"

namespace {

const char* const kUsage =
    "quorvel pulse [--dx DX] [--dy DY] [--inhibit-dec-plus] [--inhibit-dec-minus] | "
    "quorvel pulse --key left|right|up|down   send one guiding correction for the error "
    "DX, DY pixels (or one arrow-key slew) on the output set in qv185.dat here, wait for "
    "its pulses to end and print the counts, the pulses sent and every write on the line as JSON";

// Errors beyond this are meaningless for a 320 x 240 picture; the limit keeps
// the reference position inside the integers.
constexpr int kMaxError = 100000;

struct Options {
    bool slew = false;
    ArrowKey key = ArrowKey::Left;
    int dx = 0;
    int dy = 0;
    bool inhibitDecPlus = false;
    bool inhibitDecMinus = false;
};

int usageError(const std::string& message)
{
    std::fprintf(stderr, "quorvel pulse: %s\nusage: %s\n", message.c_str(), kUsage);
    return 2;
}

bool parseError(const std::string& text, int& out)
{
    const char* first = text.data();
    const char* last = first + text.size();
    int v = 0;
    const auto [end, ec] = std::from_chars(first, last, v);
    if (ec != std::errc() || end != last || v < -kMaxError || v > kMaxError)
        return false;
    out = v;
    return true;
}

// Returns an empty string when the arguments are good, else what is wrong.
std::string parseOptions(const std::vector<std::string>& args, Options& o)
{
    bool correctionGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--dx" || a == "--dy") {
            if (!hasValue)
                return a + " needs a value";
            if (!parseError(args[++i], a == "--dx" ? o.dx : o.dy))
                return a + " takes a whole number of pixels between -" + std::to_string(kMaxError)
                       + " and " + std::to_string(kMaxError) + ", not '" + args[i] + "'";
            correctionGiven = true;
        } else if (a == "--inhibit-dec-plus") {
            o.inhibitDecPlus = correctionGiven = true;
        } else if (a == "--inhibit-dec-minus") {
            o.inhibitDecMinus = correctionGiven = true;
        } else if (a == "--key") {
            if (!hasValue)
                return "--key needs left, right, up or down";
            if (o.slew)
                return "--key given twice";
            const std::string& k = args[++i];
            if (k == "left")
                o.key = ArrowKey::Left;
            else if (k == "right")
                o.key = ArrowKey::Right;
            else if (k == "up")
                o.key = ArrowKey::Up;
            else if (k == "down")
                o.key = ArrowKey::Down;
            else
                return "--key takes left, right, up or down, not '" + k + "'";
            o.slew = true;
        } else {
            return "unknown argument '" + a + "'";
        }
    }
    if (o.slew && correctionGiven)
        return "--key cannot be combined with a correction (--dx, --dy, --inhibit-dec-*)";
    return {};
}

// Milliseconds since the command started, to the microsecond.
std::string msText(int64_t us, int64_t startUs)
{
    char t[32];
    std::snprintf(t, sizeof t, "%.3f", double(us - startUs) / 1000.0);
    return t;
}

struct Write {
    int64_t timeUs;
    std::string bytes;
};

std::string jsonWrite(const Write& w, int64_t startUs)
{
    static const char hex[] = "0123456789abcdef";
    std::string hexText;
    std::string text;
    for (unsigned char b : w.bytes) {
        hexText += hex[b >> 4];
        hexText += hex[b & 15];
        if (b == '"' || b == '\\') {
            text += '\\';
            text += char(b);
        } else if (b >= 0x20 && b <= 0x7E) {
            text += char(b);
        } else {
            // The trace's \xNN, with its backslash escaped for JSON.
            text += "\\\\x";
            text += hex[b >> 4];
            text += hex[b & 15];
        }
    }
    return "{\"t_ms\":" + msText(w.timeUs, startUs) + ",\"hex\":\"" + hexText + "\",\"text\":\"" + text + "\"}";
}

const char* lampText(const MountEvent& e)
{
    if (!e.on)
        return "null";
    switch (e.direction) {
    case Direction::North: return "\"N\"";
    case Direction::South: return "\"S\"";
    case Direction::East: return "\"E\"";
    case Direction::West: return "\"W\"";
    }
    return "null";
}

// A pulse as the output reported it: its axis, direction, length (and the
// relay box's count), and when it started and ends.
std::string jsonPulse(const SentPulse& p, int64_t startUs)
{
    std::string s = std::string("{\"axis\":\"") + (p.axis == GuideAxis::Ra ? "AD" : "DEC") + "\",\"direction\":\""
                    + directionLetter(p.direction) + "\",\"ms\":" + std::to_string(p.lengthMs());
    if (p.unit == SentPulse::Unit::RelayCounts)
        s += ",\"relay_count\":" + std::to_string(p.length);
    return s + ",\"start_ms\":" + msText(p.startUs, startUs) + ",\"end_ms\":" + msText(p.endUs, startUs) + "}";
}

int runPulse(const std::vector<std::string>& args)
{
    Options o;
    if (const std::string problem = parseOptions(args, o); !problem.empty())
        return usageError(problem);

    SteadyClock clock;
    const int64_t startUs = clock.nowUs();
    SharedState state(clock);
    loadParams(state);

    // QtCore only: the pulse timer needs an event loop, never a display.
    const CommandLoop loop;
    GuiderHost host(state);
    GuiderCore& core = host.core;
    host.warnAboutTrace("quorvel pulse");
    std::vector<Write> sent;
    core.line.setWriteObserver([&sent](int64_t timeUs, const uint8_t* bytes, size_t count) {
        sent.push_back({timeUs, std::string(reinterpret_cast<const char*>(bytes), count)});
    });
    // The LED window's squares, as the diodes wired to a mount would see them.
    std::string lamps;
    core.channel.addObserver([&lamps, startUs](const MountEvent& e) {
        if (e.kind != MountEvent::Kind::Lamp)
            return;
        lamps += std::string(lamps.empty() ? "" : ",") + "{\"t_ms\":" + msText(e.timeUs, startUs) + ",\"axis\":\"" +
                 (e.axis == GuideAxis::Ra ? "AD" : "DEC") + "\",\"lit\":" + lampText(e) + "}";
    });

    const InterfaceApplied applied = core.mount.applyInterface();
    if (applied.port && !applied.port->ok)
        std::fprintf(stderr, "%s\n", openFailureText(*applied.port).c_str());
    if (applied.output && !applied.output->ok)
        std::fprintf(stderr, "%s\n", applied.output->error.c_str());

    std::string counts;
    SentCorrection pulses;
    if (o.slew) {
        const std::optional<SentPulse> p = core.mount.arrowKey(o.key);
        (p && p->axis == GuideAxis::Dec ? pulses.dec : pulses.ra) = p;
    } else {
        state.inhibitDecPlus = o.inhibitDecPlus;
        state.inhibitDecMinus = o.inhibitDecMinus;
        const correction::Result& r = core.session.correct(o.dx, o.dy);
        auto value = [&r](int v) { return r.valid ? std::to_string(v) : std::string("null"); };
        counts = "\"ad_count\":" + value(r.ra.count) + ",\"ad_percent\":" + value(r.ra.percent)
                 + ",\"dec_count\":" + value(r.dec.count) + ",\"dec_percent\":"
                 + value(r.dec.percent) + ",";
        pulses = core.session.lastCycle().pulses;
    }

    // Every pulse started ends on its timer, stop strings included; the
    // relay box and an INDI mount time theirs themselves.
    while (core.pulses.anyPulsing())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (const int64_t leftUs = pulses.endUs() - clock.nowUs(); leftUs > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(leftUs));

    std::string json = "{" + counts + "\"pulses\":[";
    for (const std::optional<SentPulse>& p : {pulses.ra, pulses.dec})
        if (p)
            json += (json.back() == '[' ? "" : ",") + jsonPulse(*p, startUs);
    json += "],\"sent\":[";
    for (size_t i = 0; i < sent.size(); ++i) {
        if (i > 0)
            json += ",";
        json += jsonWrite(sent[i], startUs);
    }
    json += "]";
    if (!lamps.empty())
        json += ",\"lamps\":[" + lamps + "]";
    json += "}";
    std::printf("%s\n", json.c_str());
    return 0;
}

CommandRegistration reg("pulse", kUsage, runPulse);

}  // namespace
