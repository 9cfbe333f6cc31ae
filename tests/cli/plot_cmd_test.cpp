// Graphs from the command line: `quorvel guide --plot` draws the run it just
// guided (and only it, in a log that already held a night), `quorvel plot`
// draws every section of that log or the one asked for, and refuses what it
// cannot draw with a message; the status line a person sees at a terminal
// while the JSON lines stay as they are; `quorvel --version`.
#include <QImage>
#include <QJsonObject>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "testsupport.h"

namespace {

const char* const kEarlierNight =
    "PHD2 version 2.6.11, Log version 2.5. Log enabled at 2026-12-06 20:14:57\n\n"
    "Guiding Begins at 2026-12-06 20:20:00\n"
    "Pixel scale = 2.00 arc-sec/px, Binning = 1, Focal length = 400 mm\n"
    "Frame,Time,mount,dx,dy,RARawDistance,DECRawDistance,RAGuideDistance,DECGuideDistance,RADuration,RADirection,"
    "DECDuration,DECDirection,XStep,YStep,StarMass,SNR,ErrorCode\n"
    "1,2.0,\"Mount\",0,0,1.0,-0.5,1.0,-0.5,140,W,70,N,,,12345,40.12,0\n"
    "2,4.0,\"Mount\",0,0,-1.0,0.5,-1.0,0.5,140,E,70,S,,,12345,40.12,0\n"
    "Guiding Ends at 2026-12-06 20:20:05\n\n";

const std::vector<std::string> kSky = {"QT_QPA_PLATFORM=none", "QUORVEL_SKY=seed=3"};

std::string heading(const std::string& svg)
{
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("Guiding section [^<]*")).match(QString::fromStdString(svg));
    return m.captured(0).toStdString();
}

}  // namespace

TEST(PlotCommand, GuideRunDrawsItsOwnGraphAndPlotDrawsTheWholeLog)
{
    TempDir dir;
    writeFile(dir.file("night.log"), kEarlierNight);
    const RunResult r =
        runQuorvel({"guide", "--seconds", "4", "--log", "night.log", "--plot", "run.svg"}, dir.path(), kSky);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const int cycles = int(jsonLines(r.out).size()) - 1;
    ASSERT_GE(cycles, 3);
    EXPECT_NE(r.err.find("run.svg"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("\x1b[K"), std::string::npos);  // no status line off a terminal
    // The run alone: one section, with as many rows as cycles printed.
    const std::string run = readFile(dir.file("run.svg"));
    EXPECT_EQ(heading(run).rfind("Guiding section 1 of 1, begun ", 0), 0u) << heading(run);
    EXPECT_NE(heading(run).find(": " + std::to_string(cycles) + " frames, 0 dropped"), std::string::npos)
        << heading(run);

    // The whole log: the earlier night's section and the run's, numbered.
    const RunResult all = runQuorvel({"plot", "night.log"}, dir.path());
    ASSERT_EQ(all.exitCode, 0) << all.err;
    const QImage first(QString::fromStdString(dir.file("night-1.png")));
    const QImage second(QString::fromStdString(dir.file("night-2.png")));
    EXPECT_EQ(first.size(), QSize(1200, 600));
    EXPECT_EQ(second.size(), QSize(1200, 600));

    const RunResult one = runQuorvel({"plot", "night.log", "--section", "1", "-o", "s1.svg"}, dir.path());
    ASSERT_EQ(one.exitCode, 0) << one.err;
    EXPECT_EQ(heading(readFile(dir.file("s1.svg"))), "Guiding section 1 of 2, begun 2026-12-06 20:20:00: 2 frames, 0 dropped");
    EXPECT_NE(readFile(dir.file("s1.svg")).find("RA RMS 2.00&quot;"), std::string::npos);

    // A guide run with a graph and no log keeps no log behind.
    TempDir bare;
    const RunResult b = runQuorvel({"guide", "--seconds", "2", "--plot", "g.png"}, bare.path(), kSky);
    ASSERT_EQ(b.exitCode, 0) << b.err;
    EXPECT_EQ(QImage(QString::fromStdString(bare.file("g.png"))).size(), QSize(1200, 600));
}

TEST(PlotCommand, RefusesWhatItCannotDrawAndSaysWhy)
{
    TempDir dir;
    writeFile(dir.file("night.log"), kEarlierNight);
    writeFile(dir.file("notes.txt"), "clear sky, no guiding tonight\n");
    writeFile(dir.file("x.png"), kEarlierNight);
    ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0755), 0);
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const std::vector<Case> cases = {
        {{"plot"}, "which guide log?"},
        {{"plot", "missing.log"}, "cannot read missing.log: No such file or directory"},
        {{"plot", "folder"}, "cannot read folder: it is a directory"},
        {{"plot", "notes.txt"}, "notes.txt holds no guiding section"},
        {{"plot", "night.log", "--section", "2"}, "night.log has 1 guiding section: --section takes 1"},
        {{"plot", "night.log", "--section", "0"}, "--section takes the number of a guiding section"},
        {{"plot", "night.log", "-o", "night.jpg"}, "-o takes a file name ending in .png or .svg, not 'night.jpg'"},
        {{"plot", "night.log", "-o"}, "-o needs a value"},
        {{"plot", "night.log", "other.log"}, "one log at a time"},
        {{"plot", "x.png"}, "the graph would overwrite the log x.png"},
        {{"guide", "--plot", "run.gif"}, "--plot takes a file name ending in .png or .svg, not 'run.gif'"},
    };
    for (const Case& c : cases) {
        const RunResult r = runQuorvel(c.args, dir.path(), kSky);
        EXPECT_EQ(r.exitCode, 2) << c.args.back();
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args.back() << ": " << r.err;
    }
    EXPECT_EQ(readFile(dir.file("x.png")), kEarlierNight);  // the log is left whole

    // Damaged lines: named, left out, and the rest drawn.
    writeFile(dir.file("damaged.log"), std::string(kEarlierNight).insert(std::string(kEarlierNight).find("2,4.0"),
                                                                          "half a row,\n"));
    const RunResult d = runQuorvel({"plot", "damaged.log"}, dir.path());
    EXPECT_EQ(d.exitCode, 0) << d.err;
    EXPECT_NE(d.err.find("damaged.log line 7: not a row of the guiding table, left out"), std::string::npos) << d.err;
    EXPECT_EQ(QImage(QString::fromStdString(dir.file("damaged.png"))).size(), QSize(1200, 600));

    // Whatever cannot be written is said, with exit 1.
    const RunResult w = runQuorvel({"plot", "night.log", "-o", "folder/none/g.png"}, dir.path());
    EXPECT_EQ(w.exitCode, 1);
    EXPECT_NE(w.err.find("cannot write folder/none/g.png"), std::string::npos) << w.err;
}

// A person at a terminal: standard error on a pseudo-terminal gets one line
// kept up to date; standard output, a pipe, gets the same JSON lines.
TEST(PlotCommand, StatusLineAtATerminalLeavesTheJsonAlone)
{
    TempDir dir;
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (chdir(dir.path().c_str()) != 0)
            _exit(127);
        dup2(out[1], 1);
        dup2(slave, 2);
        setenv("QT_QPA_PLATFORM", "none", 1);
        setenv("QUORVEL_SKY", "seed=3", 1);
        execl(QUORVEL_BIN, QUORVEL_BIN, "guide", "--seconds", "3", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(slave);
    close(out[1]);
    std::string stdoutText, terminal;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {master, POLLIN, 0}};
    for (int open = 2; open > 0 && poll(fds, 2, 30000) > 0;) {
        for (pollfd& f : fds) {
            if (f.fd < 0 || !(f.revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buf[4096];
            const ssize_t n = read(f.fd, buf, sizeof buf);
            if (n <= 0) {
                f.fd = -1;
                --open;
                continue;
            }
            (f.fd == master ? terminal : stdoutText).append(buf, size_t(n));
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(out[0]);
    close(master);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << terminal;

    const std::vector<QJsonObject> lines = jsonLines(stdoutText);
    ASSERT_GE(lines.size(), 3u) << stdoutText;
    for (size_t i = 0; i + 1 < lines.size(); ++i)
        EXPECT_TRUE(lines[i].contains("t_s")) << i;
    EXPECT_TRUE(lines.back().value("summary").toBool());
    // One update per cycle, each rewriting the line, ended by a newline.
    int updates = 0;
    for (size_t p = 0; (p = terminal.find("\r", p)) != std::string::npos; ++p)
        updates += terminal.compare(p, 2, "\r\n") != 0 ? 1 : 0;
    EXPECT_EQ(updates, int(lines.size()) - 1) << terminal;
    EXPECT_NE(terminal.find(" s  error "), std::string::npos) << terminal;
    EXPECT_NE(terminal.find("pulses RA "), std::string::npos) << terminal;
}

TEST(PlotCommand, VersionNamesTheBuild)
{
    TempDir dir;
    const RunResult r = runQuorvel({"--version"}, dir.path());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^quorvel 1\\.85 \\(build ([0-9a-f]{12}(-modified)?|unknown)\\)\n$"))
                    .match(QString::fromStdString(r.out))
                    .hasMatch())
        << r.out;
}
