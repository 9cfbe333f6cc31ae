// `quorvel pulse` end to end: a settings file in a fresh directory, COM1 on a
// pseudo-terminal, and the exact bytes on the line and in the JSON report.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "core/state.h"
#include "ptyline.h"
#include "core/settings/paramsfile.h"
#include "testsupport.h"

namespace {

using Strings = std::vector<std::string>;

struct PulseRun {
    RunResult result;
    QJsonObject json;
    Strings sent;  // "text" of each write
    std::vector<double> times;
    std::string hex;  // "hex" of every write, joined
};

// Optics of 2.0626"/px (100 cm, 10 um pixels) and speeds of 7.5"/s on the
// given output, COM1.
void writeSettings(const TempDir& dir, int interfaceType, bool invertDec = false, double focal = 100)
{
    FakeClock clock;
    SharedState state(clock);
    state.params->focalLength = focal;
    state.params->pixelSize = 10;
    state.params->raSpeed = 7.5;
    state.params->decSpeed = 7.5;
    state.params->interfaceType = interfaceType;
    state.params->comPort = 0;
    state.params->invertDec = invertDec;
    saveParams(state, dir.file("qv185.dat"));
}

PulseRun runPulse(const TempDir& dir, std::vector<std::string> args, const std::string& com1,
                  std::vector<std::string> env = {})
{
    args.insert(args.begin(), "pulse");
    env.push_back("QUORVEL_COM1=" + com1);
    PulseRun r;
    r.result = runQuorvel(args, dir.path(), env);
    r.json = QJsonDocument::fromJson(QByteArray::fromStdString(r.result.out)).object();
    for (const QJsonValue& v : r.json.value("sent").toArray()) {
        const QJsonObject w = v.toObject();
        r.sent.push_back(w.value("text").toString().toStdString());
        r.times.push_back(w.value("t_ms").toDouble());
        r.hex += w.value("hex").toString().toStdString();
    }
    return r;
}

}  // namespace

TEST(PulseCommand, CorrectionOnLx200)
{
    TempDir dir;
    PtyLine pty;
    ASSERT_TRUE(pty.ok());
    writeSettings(dir, Lx200);
    const std::string settingsBefore = readFile(dir.file("qv185.dat"));

    const PulseRun r = runPulse(dir, {"--dx", "2", "--dy", "-1"}, pty.path());
    ASSERT_EQ(r.result.exitCode, 0) << r.result.err;
    EXPECT_EQ(r.json.value("ad_count").toInt(), 34);
    EXPECT_EQ(r.json.value("ad_percent").toInt(), 53);
    EXPECT_EQ(r.json.value("dec_count").toInt(), 17);
    EXPECT_EQ(r.json.value("dec_percent").toInt(), 26);
    // AD -510 ms (east), 5 ms, DEC +255 ms (south); DEC ends first.
    EXPECT_EQ(r.sent, (Strings{"#:Qe#", "#:Qw#", "#:RG#", "#:Me#", "#:Qn#", "#:Qs#", "#:RG#",
                               "#:Ms#", "#:Qn#", "#:Qs#", "#:Qe#", "#:Qw#"}));
    ASSERT_EQ(r.times.size(), 12u);
    EXPECT_GE(r.times[4] - r.times[3], 5.0);
    EXPECT_GE(r.times[9] - r.times[7], 255.0);
    EXPECT_GE(r.times[11] - r.times[3], 510.0);

    std::string joined;
    for (const std::string& s : r.sent)
        joined += s;
    EXPECT_EQ(pty.read(joined.size()), bytesOf(joined));
    EXPECT_EQ(r.hex.substr(0, 10), "233a516523");  // "#:Qe#"
    EXPECT_EQ(readFile(dir.file("qv185.dat")), settingsBefore);  // never saved
}

TEST(PulseCommand, CorrectionOnTheRelayBox)
{
    TempDir dir;
    PtyLine pty;
    writeSettings(dir, RelayBox);
    // No platform named and a display that cannot be reached: the command
    // still runs, on the offscreen platform.
    const PulseRun r = runPulse(dir, {"--dx", "2", "--dy", "-1", "--inhibit-dec-plus"}, pty.path(),
                                {"QT_QPA_PLATFORM=", "DISPLAY=:4242", "WAYLAND_DISPLAY="});
    ASSERT_EQ(r.result.exitCode, 0) << r.result.err;
    EXPECT_EQ(r.hex, "89004603");  // the inhibit plays no part here
    EXPECT_EQ(r.sent, (Strings{"\\x89", "\\x00", "F", "\\x03"}));
    ASSERT_EQ(r.times.size(), 4u);
    EXPECT_GE(r.times[1] - r.times[0], 5.0);
    EXPECT_GE(r.times[3] - r.times[2], 5.0);
    EXPECT_EQ(pty.read(4), (std::vector<uint8_t>{0x89, 0x00, 0x46, 0x03}));
}

TEST(PulseCommand, ArrowKeys)
{
    struct Case {
        int interfaceType;
        bool invertDec;
        std::string key, hex;
    } cases[] = {
        {RelayBox, false, "up", "8e03"},
        {RelayBox, true, "left", "8d00"},
        // "#:Qe#" "#:Qw#" "#:RG#" "#:Mw#", and the stops 1000 ms later.
        {Lx200, true, "left", "233a516523233a517723233a524723233a4d7723233a516523233a517723"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        PtyLine pty;
        writeSettings(dir, c.interfaceType, c.invertDec);
        const PulseRun r = runPulse(dir, {"--key", c.key}, pty.path());
        ASSERT_EQ(r.result.exitCode, 0) << r.result.err;
        EXPECT_EQ(r.hex, c.hex) << c.key;
        EXPECT_FALSE(r.json.contains("ad_count"));
        if (c.interfaceType == Lx200) {
            ASSERT_EQ(r.times.size(), 6u);
            EXPECT_GE(r.times[5] - r.times[3], 1000.0);
        }
    }
}

TEST(PulseCommand, MissingPortIsReportedAndNothingSent)
{
    TempDir dir;
    writeSettings(dir, Lx200);
    const PulseRun r = runPulse(dir, {"--dx", "1"}, "/nonexistent/tty");
    EXPECT_EQ(r.result.exitCode, 0);
    EXPECT_NE(r.result.err.find("cannot open COM1 (/nonexistent/tty)"), std::string::npos)
        << r.result.err;
    EXPECT_TRUE(r.sent.empty());
    EXPECT_EQ(r.json.value("ad_count").toInt(), 17);
}

TEST(PulseCommand, UnusableOpticsSendNothing)
{
    TempDir dir;
    PtyLine pty;
    writeSettings(dir, Lx200, false, 0);
    const PulseRun r = runPulse(dir, {"--dx", "3", "--dy", "3"}, pty.path());
    ASSERT_EQ(r.result.exitCode, 0) << r.result.err;
    EXPECT_TRUE(r.sent.empty());
    EXPECT_TRUE(r.json.value("ad_count").isNull());
    EXPECT_TRUE(r.json.contains("dec_percent"));
}

TEST(PulseCommand, BadArgumentsGiveUsage)
{
    TempDir dir;
    const std::vector<std::vector<std::string>> cases = {
        {"--dx"}, {"--dx", "abc"}, {"--dy", "1.5"}, {"--dx", "999999999999"},
        {"--key", "sideways"}, {"--key"}, {"--key", "up", "--dx", "1"},
        {"--key", "up", "--key", "down"}, {"--frobnicate"}, {"2"},
    };
    for (std::vector<std::string> args : cases) {
        args.insert(args.begin(), "pulse");
        const RunResult r = runQuorvel(args, dir.path());
        EXPECT_EQ(r.exitCode, 2) << args[1];
        EXPECT_NE(r.err.find("usage: quorvel pulse"), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    EXPECT_FALSE(std::ifstream(dir.file("qv185.dat")).good());
}

// No Qt platform plugin at all: every output still pulses and reports what
// it sent (AD 51 counts East, DEC 34 South; the relay box's counts of 1/63 s).
TEST(PulseCommand, WorksWithoutAnyQtPlatform)
{
    const struct {
        int interfaceType;
        size_t writes;
        bool lamps;
        std::string pulses;
    } cases[] = {{RelayBox, 4, false, "AD E 810 ms (51), DEC S 540 ms (34)"},
                 {Lx200, 12, true, "AD E 765 ms, DEC S 510 ms"},
                 {MeadeEtx, 8, true, "AD E 765 ms, DEC S 510 ms"},
                 {VirtualLeds, 0, true, "AD E 765 ms, DEC S 510 ms"}};
    for (const auto& c : cases) {
        TempDir dir;
        PtyLine pty;
        writeSettings(dir, c.interfaceType);
        const PulseRun r = runPulse(dir, {"--dx", "3", "--dy", "-2"}, pty.path(), {"QT_QPA_PLATFORM=none"});
        ASSERT_EQ(r.result.exitCode, 0) << c.interfaceType << r.result.err;
        EXPECT_EQ(r.json.value("ad_count").toInt(), 51) << c.interfaceType;
        EXPECT_EQ(r.sent.size(), c.writes) << c.interfaceType;
        EXPECT_EQ(r.json.contains("lamps"), c.lamps) << c.interfaceType;
        std::string pulses;
        for (const QJsonValue& v : r.json.value("pulses").toArray()) {
            const QJsonObject p = v.toObject();
            pulses += (pulses.empty() ? "" : ", ") + p.value("axis").toString().toStdString() + " "
                      + p.value("direction").toString().toStdString() + " " + std::to_string(p.value("ms").toInt())
                      + " ms" + (p.contains("relay_count") ? " (" + std::to_string(p.value("relay_count").toInt()) + ")" : "");
            EXPECT_NEAR(p.value("end_ms").toDouble() - p.value("start_ms").toDouble(), p.value("ms").toDouble(), 0.5);
        }
        EXPECT_EQ(pulses, c.pulses) << c.interfaceType;
    }
}
