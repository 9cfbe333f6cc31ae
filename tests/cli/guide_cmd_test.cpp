// `quorvel guide` as a user runs it: a short real-time session on the
// simulated sky, ended by its time or by a signal, with its JSON lines, its
// summary, its guide log and the settings saved; and the ways it refuses to
// start.
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <sys/stat.h>
#include <sstream>
#include <string>
#include <vector>

#include "core/settings/paramsfile.h"
#include "core/state.h"
#include "testsupport.h"

namespace {


void writeSettings(const TempDir& dir, double focal = 50)
{
    FakeClock clock;
    SharedState state(clock);
    state.params->focalLength = focal;
    saveParams(state, dir.file("qv185.dat"));
}

}  // namespace

TEST(GuideCommand, ShortSessionOnTheSimulatedSkyWithItsLog)
{
    TempDir dir;
    const RunResult r = runQuorvel({"guide", "--seconds", "13", "--log", "night.log"}, dir.path(),
                                   {"QT_QPA_PLATFORM=none", "QUORVEL_SKY=seed=2"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<QJsonObject> lines = jsonLines(r.out);
    ASSERT_GE(lines.size(), 3u) << r.out;
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].contains("t_s")) << i;
        EXPECT_FALSE(lines[i].value("dropped").toBool()) << i;
    }
    const QJsonObject summary = lines.back();
    EXPECT_TRUE(summary.value("summary").toBool());
    // The first ten seconds are left out (t_s is rounded to the millisecond,
    // so a cycle just before 10 s may print 10.000: the log's rows below
    // say exactly which).
    EXPECT_LT(summary.value("cycles").toInt(), int(lines.size()) - 1);
    EXPECT_LT(summary.value("max_px").toDouble(), 3.0);

    const std::string log = readFile(dir.file("night.log"));
    EXPECT_EQ(log.rfind("Quorvel version 1.85, Log version 2.5. Log enabled at ", 0), 0u) << log;
    EXPECT_NE(log.find("\nGuiding Begins at "), std::string::npos);
    EXPECT_NE(log.find("\nMount = Diodes virtuelles, connected, guiding enabled, xAngle = 0.0"), std::string::npos);
    // The first ten seconds are a settling to the viewer as to the summary:
    // the rows after it are the summary's cycles, with its RMS (the spread of
    // the RA distance, as the viewer reckons it).
    const size_t started = log.find("\nINFO: SETTLING STATE CHANGE, Settling started\n");
    const size_t settled = log.find("\nINFO: SETTLING STATE CHANGE, Settling complete\n");
    ASSERT_NE(started, std::string::npos);
    ASSERT_NE(settled, std::string::npos);
    std::vector<double> ra;
    std::istringstream rows(log.substr(settled + 1));
    for (std::string row; std::getline(rows, row) && !row.empty();) {
        if (row[0] < '1' || row[0] > '9' || row.find("\"DROP\"") != std::string::npos)
            continue;  // events, and dropped frames, which no figure counts
        std::vector<std::string> f;
        std::istringstream cells(row);
        for (std::string cell; std::getline(cells, cell, ',');)
            f.push_back(cell);
        ra.push_back(std::stod(f.at(5)));
    }
    ASSERT_EQ(int(ra.size()), summary.value("cycles").toInt());
    double mean = 0, sq = 0;
    for (double v : ra)
        mean += v / double(ra.size());
    for (double v : ra)
        sq += (v - mean) * (v - mean) / double(ra.size());
    EXPECT_NEAR(std::sqrt(sq), summary.value("rms_x_px").toDouble(), 0.0005);
    EXPECT_NE(log.find("\nGuiding Ends at "), std::string::npos);
    EXPECT_NE(log.find("\nLog closed at "), std::string::npos);
    EXPECT_EQ(readFile(dir.file("qv185.dat")).size(), 110u);
}

TEST(GuideCommand, SignalsEndTheRunAsItsTimeDoes)
{
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        TempDir dir;
        writeSettings(dir, 77);
        const RunResult r = runQuorvelAndSignal({"guide", "--seconds", "600", "--log", "night.log"}, dir.path(),
                                                {"QT_QPA_PLATFORM=none"}, "\"t_s\"", sig);
        ASSERT_EQ(r.exitCode, 0) << sig << r.err;
        const std::vector<QJsonObject> lines = jsonLines(r.out);
        ASSERT_FALSE(lines.empty());
        EXPECT_TRUE(lines.back().value("summary").toBool()) << sig;
        const std::string log = readFile(dir.file("night.log"));
        EXPECT_NE(log.find("\nGuiding Ends at "), std::string::npos) << sig;
        EXPECT_NE(log.find("\nLog closed at "), std::string::npos) << sig;
        const std::string settings = readFile(dir.file("qv185.dat"));
        ASSERT_EQ(settings.size(), 110u);
        EXPECT_EQ(decodeParams(reinterpret_cast<const uint8_t*>(settings.data()), settings.size()).record.focalLength,
                  77.0);
    }
}

TEST(GuideCommand, RefusesToStartWithAClearMessage)
{
    TempDir dir;
    // "(aucun)" at entry 8 on any machine.
    RunResult r = runQuorvel({"guide", "--source", "8", "--seconds", "2"}, dir.path(), {"QT_QPA_PLATFORM=none"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("no camera at entry 8 ((aucun))"), std::string::npos) << r.err;
    // The simulated sky is measured every second and has no exposure to set.
    r = runQuorvel({"guide", "--exposure", "2000", "--seconds", "2"}, dir.path(), {"QT_QPA_PLATFORM=none"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("has no exposure of its own"), std::string::npos) << r.err;

    writeSettings(dir, 0);
    r = runQuorvel({"guide", "--seconds", "2"}, dir.path(), {"QT_QPA_PLATFORM=none"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("no usable correction"), std::string::npos) << r.err;

    r = runQuorvel({"guide", "--seconds", "2"}, dir.path(), {"QT_QPA_PLATFORM=none", "QUORVEL_SKY=fwhm=x"});
    EXPECT_EQ(r.exitCode, 1);

    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"guide", "--seconds", "0"}, {"guide", "--source", "9"}, {"guide", "--frob"},
             {"guide", "--photo", "x.bmp"}, {"guide", "--log"}}) {
        r = runQuorvel(args, dir.path(), {"QT_QPA_PLATFORM=none"});
        EXPECT_EQ(r.exitCode, 2) << args[1];
        EXPECT_NE(r.err.find("usage: quorvel guide"), std::string::npos) << r.err;
    }
}

// The windowed program ended by a signal shuts down as when its window is
// closed: the settings are saved and the guide log ends.
TEST(WindowedProgram, SignalRunsTheShutdownOfClosingTheWindow)
{
    TempDir dir;
    writeSettings(dir, 66);
    const RunResult r = runQuorvelAndSignal({"--log", "night.log"}, dir.path(), {}, "", SIGTERM);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string settings = readFile(dir.file("qv185.dat"));
    ASSERT_EQ(settings.size(), 110u);
    EXPECT_EQ(decodeParams(reinterpret_cast<const uint8_t*>(settings.data()), settings.size()).record.focalLength, 66.0);
    EXPECT_NE(readFile(dir.file("night.log")).find("\nLog closed at "), std::string::npos);
}

TEST(GuideCommand, TakesAPhotoSeriesWhileGuiding)
{
    TempDir dir;
    const RunResult r = runQuorvel({"guide", "--seconds", "3", "--photo", "shots/Night.bmp", "--photo-every", "1"},
                                   dir.path(), {"QT_QPA_PLATFORM=none"});
    EXPECT_EQ(r.exitCode, 2);  // the directory does not exist yet
    EXPECT_NE(r.err.find("--photo shots/Night.bmp"), std::string::npos) << r.err;

    ASSERT_EQ(mkdir(dir.file("shots").c_str(), 0755), 0);
    const RunResult ok = runQuorvel({"guide", "--seconds", "3", "--photo", "shots/Night.bmp", "--photo-every", "1"},
                                    dir.path(), {"QT_QPA_PLATFORM=none"});
    ASSERT_EQ(ok.exitCode, 0) << ok.err;
    int shots = 0;
    for (const QJsonObject& line : jsonLines(ok.out)) {
        if (!line.contains("photo"))
            continue;
        EXPECT_EQ(line.value("n").toInt(), shots);
        EXPECT_TRUE(line.value("photo").toString().endsWith(QString::asprintf("shots/Night %04d.bmp", shots)));
        EXPECT_EQ(readFile(line.value("photo").toString().toStdString()).size(), 77882u);
        ++shots;
    }
    EXPECT_GE(shots, 4);  // one a second from the start, for about five seconds
}

TEST(GuideCommand, PreciseCalibratesOnceThenReusesTheCalibration)
{
    TempDir dir;
    // The mount three times faster than the settings say: a short calibration.
    const std::vector<std::string> env = {"QT_QPA_PLATFORM=none", "QUORVEL_SKY=seed=2,angle=35,rate=3"};
    RunResult r = runQuorvel({"guide", "--precise", "--seconds", "3", "--log", "p.log"}, dir.path(), env, 150000);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<QJsonObject> lines = jsonLines(r.out);
    std::vector<std::string> phases;
    size_t i = 0;
    for (; i < lines.size() && lines[i].contains("calibration"); ++i) {
        const std::string phase = lines[i].value("calibration").toString().toStdString();
        if (phases.empty() || phases.back() != phase)
            phases.push_back(phase);
        EXPECT_TRUE(lines[i].value("x").isDouble() && lines[i].value("y").isDouble()) << i;
    }
    EXPECT_EQ(phases, (std::vector<std::string>{"West", "East", "Backlash", "North", "South"}));
    ASSERT_LT(i, lines.size()) << r.out;
    const QJsonObject done = lines[i];
    EXPECT_TRUE(done.value("calibrated").toBool()) << r.out;
    EXPECT_NEAR(done.value("angle_deg").toDouble(), 35, 3);
    EXPECT_FALSE(done.value("ra_flipped").toBool());
    EXPECT_FALSE(done.value("dec_flipped").toBool());
    EXPECT_GT(done.value("ra_rate_px_s").toDouble(), 10);
    ASSERT_GT(lines.size(), i + 2);
    EXPECT_TRUE(lines[i + 1].contains("t_s"));
    EXPECT_TRUE(lines.back().value("summary").toBool());
    const std::string log = readFile(dir.file("p.log"));
    EXPECT_NE(log.find("\nCalibration Begins at "), std::string::npos);
    EXPECT_NE(log.find("\nCalibration complete"), std::string::npos);

    // Again: the saved calibration fits, guiding starts at once; --calibrate
    // without --precise is refused.
    r = runQuorvel({"guide", "--precise", "--seconds", "2"}, dir.path(), env);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    lines = jsonLines(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines.front().contains("t_s")) << r.out;
    r = runQuorvel({"guide", "--calibrate"}, dir.path(), env);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("--calibrate goes with --precise"), std::string::npos) << r.err;
}

TEST(WindowedProgram, ASettingsSaveThatFailsIsSaidByTheWindowAndTheGuider)
{
    // A directory where qv185.dat goes: the save at the end fails, and says so.
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"guide", "--seconds", "600"}}) {
        TempDir dir;
        ASSERT_EQ(mkdir(dir.file("qv185.dat").c_str(), 0755), 0);
        const RunResult r = runQuorvelAndSignal(args, dir.path(), {}, "", SIGTERM);
        const std::string who = args.empty() ? "quorvel" : "quorvel guide";
        EXPECT_NE(r.err.find(who + ": could not write qv185.dat (Is a directory); the previous file is kept"),
                  std::string::npos)
            << r.err;
    }
}
