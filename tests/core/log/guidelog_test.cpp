// The guide log as PHD2 Log Viewer reads it: the whole text of a short
// session, the signs and directions of the rows on every output, the ending
// lines however the log ends, and files that cannot be opened or written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/guide/relaybox.h"
#include "core/log/guidelog.h"
#include "core/log/logreader.h"
#include "starrig.h"
#include "testsupport.h"

namespace {

using Strings = std::vector<std::string>;

// 2024-03-09 at h:m:s, for the injected wall clock.
std::tm at(int h, int m, int s)
{
    std::tm t{};
    t.tm_year = 124, t.tm_mon = 2, t.tm_mday = 9, t.tm_hour = h, t.tm_min = m, t.tm_sec = s;
    return t;
}

std::unique_ptr<GuideLog> openLog(const std::string& path, const std::tm& wall)
{
    std::string error;
    auto log = GuideLog::open(path, [&wall] { return wall; }, error);
    EXPECT_TRUE(log) << error;
    return log;
}

Strings split(const std::string& text, char sep)
{
    Strings out;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, sep);)
        out.push_back(part);
    return out;
}

// The fields of the last guide row of a log.
Strings lastRow(const std::string& text)
{
    const Strings all = split(text, '\n');
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        if (!it->empty() && (*it)[0] >= '1' && (*it)[0] <= '9')
            return split(*it, ',');
    return {};
}

// The direction letters the mount was actually sent, AD first: the move
// strings on "LX 200" and "Meade ETX", the lamps of the LED window, the
// command bytes of a non-zero count on the relay box, read by the correction
// table of signs.h (code 2 is DEC below zero, the timed outputs' South).
std::string lettersSent(const CoreRig& rig)
{
    std::string moves, lamps, relay;
    for (const SeenCommand& c : rig.seen) {
        if (c.kind == MountEvent::Kind::Lamp && c.text.rfind("on ", 0) == 0)
            lamps += c.text[3];
        // A move sent again ("Meade ETX" after its stop of both axes) is the same pulse.
        if (c.kind == MountEvent::Kind::Text && c.text.size() == 5 && c.text.rfind("#:M", 0) == 0 &&
            moves.find(char(std::toupper(c.text[3]))) == std::string::npos)
            moves += char(std::toupper(c.text[3]));
    }
    const std::string bytes = rig.relayBytes();
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const RelayCommand cmd = decodeRelayByte(uint8_t(bytes[i]));
        if (cmd.count > 0)
            relay += "WESN"[cmd.code];
    }
    return !moves.empty() ? moves : !lamps.empty() ? lamps : relay;
}

}  // namespace

TEST(GuideLog, ShortSessionWholeText)
{
    TempDir dir;
    const std::string path = dir.file("guide.txt");
    writeFile(path, "an earlier night\n");  // appended to, never overwritten
    std::tm wall = at(22, 0, 0);
    StarRig rig;
    GuidingSession& session = rig.core.session;
    auto log = openLog(path, wall);
    log->attach(session, rig.state);

    rig.lockOn(160, 120);            // looping cycle: no row
    rig.star(163, 118);              // star right of and above the lock
    rig.cycle();
    rig.star(158, 121);
    rig.cycle(1250);                 // cycles start 5 ms later each: the LED output's axis gap
    rig.noStar();                    // lost: the gate drops the frame
    rig.cycle();
    session.moveLock(161, 119);
    log->dither(1, -1);
    log->settling(GuideLog::Settling::Started);
    rig.star(161, 119);              // on the lock: nothing to send
    rig.cycle();
    log->settling(GuideLog::Settling::Complete);
    session.suspend();
    rig.cycle();                     // not tracking: no row
    session.resume();
    rig.cycle();
    wall = at(22, 31, 0);
    session.stopTracking();
    rig.cycle();
    wall = at(22, 45, 30);
    log->close();

    EXPECT_EQ(readFile(path), "an earlier night\n"
              "Quorvel version 1.85, Log version 2.5. Log enabled at 2024-03-09 22:00:00\n"
              "\n"
              "Guiding Begins at 2024-03-09 22:00:00\n"
              "Pixel scale = 2.31 arc-sec/px, Binning = 1, Focal length = 500 mm\n"
              "Mount = Diodes virtuelles, connected, guiding enabled, xAngle = 0.0, xRate = 5.194, yAngle = 90.0, "
              "yRate = 6.060\n"
              "Frame,Time,mount,dx,dy,RARawDistance,DECRawDistance,RAGuideDistance,DECGuideDistance,"
              "RADuration,RADirection,DECDuration,DECDirection,XStep,YStep,StarMass,SNR,ErrorCode\n"
              "INFO: SET LOCK POSITION, new lock pos = 160.000, 120.000\n"
              "1,1.200,\"Mount\",3.000,-2.000,3.000,-2.000,3.000,-2.000,540,W,300,N,,,567,16.84,0\n"
              "2,2.455,\"Mount\",-2.000,1.000,-2.000,1.000,-2.000,1.000,360,E,150,S,,,567,16.84,0\n"
              "3,3.660,\"DROP\",,,,,,,,,,,,,0,0.00,2,\"Star lost\"\n"
              "INFO: SET LOCK POSITION, new lock pos = 161.000, 119.000\n"
              "INFO: DITHER by 1.000, -1.000, new lock pos = 161.000, 119.000\n"
              "INFO: SETTLING STATE CHANGE, Settling started\n"
              "4,4.865,\"Mount\",0.000,0.000,0.000,0.000,0.000,0.000,0,,0,,,,567,16.84,0\n"
              "INFO: SETTLING STATE CHANGE, Settling complete\n"
              "INFO: Guiding paused\n"
              "INFO: Guiding resumed\n"
              "5,7.270,\"Mount\",0.000,0.000,0.000,0.000,0.000,0.000,0,,0,,,,567,16.84,0\n"
              "Guiding Ends at 2024-03-09 22:31:00\n"
              "\n"
              "Log closed at 2024-03-09 22:45:30\n");
}

TEST(GuideLog, SettlingOpensTheSectionWhenAnnouncedBeforeOrAfterStart)
{
    for (const bool announced : {true, false}) {
        SCOPED_TRACE(announced);
        TempDir dir;
        std::tm wall = at(22, 0, 0);
        StarRig rig;
        auto log = openLog(dir.file("g.txt"), wall);
        log->attach(rig.core.session, rig.state);
        if (announced)
            log->settling(GuideLog::Settling::Started);  // a guide waiting for its lock: no section yet
        else
            log->settleAfterStart(2.0);                  // `quorvel guide`'s opening seconds
        rig.lockOn(160, 120);
        for (int i = 0; i < 3; ++i)
            rig.cycle(1000);
        if (announced)
            log->settling(GuideLog::Settling::Failed);
        log->close();
        const std::string text = readFile(dir.file("g.txt"));
        const std::size_t lock = text.find("INFO: SET LOCK POSITION"), started = text.find("Settling started");
        const std::size_t ended = text.find(announced ? "Settling failed" : "Settling complete");
        ASSERT_NE(started, std::string::npos);
        ASSERT_NE(ended, std::string::npos);
        EXPECT_LT(lock, started);
        EXPECT_EQ(text.find("Settling started", started + 1), std::string::npos) << "written once";
        // Opening seconds: the rows at 1 s and 2 s after the lock's cycle lie on either side.
        if (!announced) {
            EXPECT_LT(text.find("\n1,", started), ended);
            EXPECT_LT(ended, text.find("\n2,", started));
        }
    }
}

TEST(GuideLog, RowSignsAndDirectionsFollowWhatWasSent)
{
    // Star offsets from the lock (160, 120): A right of and below it, B left
    // of and above it (picture y grows downwards). A positive RA distance is
    // corrected West, a positive DEC distance South, unless an inversion
    // option turns the pulse round: the letter is what the mount received.
    struct Case {
        int output;
        bool invertRa, invertDec, inhibitDecPlus, sends;
        int sx, sy;
        const char *raMs, *raDir, *decMs, *decDir;
    } cases[] = {
        {VirtualLeds, false, false, false, true, 3, 2, "540", "W", "300", "S"},
        {VirtualLeds, false, false, false, true, -3, -2, "540", "E", "300", "N"},
        {VirtualLeds, true, false, false, true, 3, 2, "540", "E", "300", "S"},
        {VirtualLeds, false, true, false, true, 3, 2, "540", "W", "300", "N"},
        {VirtualLeds, true, true, false, true, -3, -2, "540", "W", "300", "S"},
        {Lx200, false, false, false, true, 3, -2, "540", "W", "300", "N"},
        {MeadeEtx, false, false, false, true, -3, 2, "540", "E", "300", "S"},
        // The relay box times 1/63 s a count: 36 and 20 counts.
        {RelayBox, false, false, false, true, -3, -2, "571", "E", "317", "N"},
        {RelayBox, true, true, false, true, 3, 2, "571", "E", "317", "N"},
        // "Inhibe DEC+" holds back the South pulse on the timed outputs only.
        {VirtualLeds, false, false, true, true, 3, 2, "540", "W", "0", ""},
        {RelayBox, false, false, true, true, 3, 2, "571", "W", "317", "S"},
        // A run that sends nothing, and a star one pixel off (0 counts).
        {VirtualLeds, false, false, false, false, 3, 2, "0", "", "0", ""},
        {RelayBox, false, false, false, true, 0, 0, "0", "", "0", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "output " << c.output << " invert " << c.invertRa << c.invertDec
                                          << " inhibit " << c.inhibitDecPlus << " star " << c.sx << "," << c.sy);
        TempDir dir;
        std::tm wall = at(22, 0, 0);
        StarRig rig(c.output);
        rig.state.params->invertRa = c.invertRa;
        rig.state.params->invertDec = c.invertDec;
        rig.state.inhibitDecPlus = c.inhibitDecPlus;
        rig.core.session.sendsCorrections = c.sends;
        auto log = openLog(dir.file("g.txt"), wall);
        log->attach(rig.core.session, rig.state);
        rig.lockOn(160, 120);
        rig.star(160 + c.sx, 120 + c.sy);
        rig.seen.clear();
        rig.cycle();
        log->close();

        const Strings row = lastRow(readFile(dir.file("g.txt")));
        ASSERT_EQ(row.size(), 18u);
        auto text = [](int v) { return std::to_string(v) + ".000"; };
        const std::string sx = text(c.sx), sy = text(c.sy);
        // The RA and DEC distances are in the mount's frame: an inversion turns them round.
        const std::string ra = text(c.invertRa ? -c.sx : c.sx), dec = text(c.invertDec ? -c.sy : c.sy);
        EXPECT_EQ(Strings(row.begin() + 3, row.begin() + 7), (Strings{sx, sy, ra, dec}));
        EXPECT_EQ(row[7], *c.raDir ? ra : "0.000");   // guide distance: only what was sent
        EXPECT_EQ(row[8], *c.decDir ? dec : "0.000");
        // As the viewer draws them: West against a positive RA distance, South against a positive DEC one.
        if (*c.raDir) {
            EXPECT_EQ(std::stod(row[5]) > 0, std::string(c.raDir) == "W");
        }
        if (*c.decDir) {
            EXPECT_EQ(std::stod(row[6]) > 0, std::string(c.decDir) == "S");
        }
        const std::string mount = "guiding " + std::string(c.sends ? "enabled" : "disabled") +
                                  ", xAngle = " + (c.invertRa ? "180.0" : "0.0");
        EXPECT_NE(readFile(dir.file("g.txt")).find(mount), std::string::npos) << mount;
        EXPECT_NE(readFile(dir.file("g.txt")).find(c.invertDec ? "yAngle = -90.0" : "yAngle = 90.0"), std::string::npos);
        EXPECT_EQ(Strings(row.begin() + 9, row.begin() + 13), (Strings{c.raMs, c.raDir, c.decMs, c.decDir}));
        EXPECT_EQ(lettersSent(rig), std::string(c.raDir) + c.decDir);
    }
}

TEST(GuideLog, EndingLinesHoweverTheLogEnds)
{
    enum class End { Close, CloseTwice, Destroy, DestroySuspended };
    for (End end : {End::Close, End::CloseTwice, End::Destroy, End::DestroySuspended}) {
        SCOPED_TRACE(int(end));
        TempDir dir;
        std::tm wall = at(22, 0, 0);
        StarRig rig;
        auto log = openLog(dir.file("g.txt"), wall);
        log->attach(rig.core.session, rig.state);
        rig.lockOn(160, 120);
        rig.cycle();
        if (end == End::DestroySuspended)
            rig.core.session.suspend();
        wall = at(23, 0, 0);
        if (end == End::Close || end == End::CloseTwice)
            log->close();
        if (end == End::CloseTwice)
            log->close();
        else
            log.reset();
        rig.cycle();  // the session goes on without the log
        rig.core.session.stopTracking();

        const std::string text = readFile(dir.file("g.txt"));
        const std::string ending = "Guiding Ends at 2024-03-09 23:00:00\n\nLog closed at 2024-03-09 23:00:00\n";
        ASSERT_GE(text.size(), ending.size());
        EXPECT_EQ(text.substr(text.size() - ending.size()), ending);
        EXPECT_EQ(text.find("Log closed"), text.rfind("Log closed"));
    }
}

TEST(GuideLog, UnusableFilesGiveAnErrorAndNeverStopTheGuiding)
{
    TempDir dir;
    const std::string lonely = dir.file("fifo"), watched = dir.file("fifo2");
    ASSERT_EQ(mkfifo(lonely.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(watched.c_str(), 0600), 0);
    const int reader = ::open(watched.c_str(), O_RDONLY | O_NONBLOCK);
    // A FIFO without a reader must not hold the guider up; one with a reader
    // is refused (its reader going away would kill us with SIGPIPE).
    for (const std::string& path : {dir.file("no/such/dir/g.txt"), dir.path(), lonely, watched}) {
        std::string error;
        EXPECT_EQ(GuideLog::open(path, [] { return at(0, 0, 0); }, error), nullptr) << path;
        EXPECT_EQ(error.rfind("cannot open the guide log " + path + ": ", 0), 0u) << error;
    }
    ::close(reader);

    const std::tm wall = at(22, 0, 0);
    StarRig rig(Lx200);
    auto log = openLog("/dev/full", wall);
    ASSERT_TRUE(log);
    log->attach(rig.core.session, rig.state);
    rig.lockOn(160, 120);
    rig.star(163, 118);
    rig.seen.clear();
    rig.cycle();
    EXPECT_EQ(lettersSent(rig), "WN");
    EXPECT_EQ(log->writeError(), "cannot write the guide log /dev/full: No space left on device");
    EXPECT_EQ(log->linesLost(), 8);  // first line, blank, four of header, lock, one row
}

TEST(GuideLog, KilledAfterAFailedWriteLeavesOnlyWholeLines)
{
    // Twenty cycles in a log that may not grow past 1000 bytes: a row is cut
    // at the limit, later lines may fit again; then the process is killed.
    const auto guide = [](const std::string& path, void (*then)(GuideLog&)) {
        const std::tm wall = at(22, 0, 0);
        StarRig rig;
        auto log = openLog(path, wall);
        log->attach(rig.core.session, rig.state);
        rig.lockOn(160, 120);
        for (int i = 0; i < 20; ++i) {
            rig.star(160 + i % 5 - 2, 120 + i % 3 - 1);
            rig.cycle();
        }
        then(*log);
    };
    TempDir dir;
    guide(dir.file("whole.txt"), [](GuideLog&) {});
    const Strings whole = split(readFile(dir.file("whole.txt")), '\n');
    const std::set<std::string> known(whole.begin(), whole.end());
    const pid_t pid = fork();
    if (pid == 0) {
        const rlimit limit{1000, 1000};
        setrlimit(RLIMIT_FSIZE, &limit);
        signal(SIGXFSZ, SIG_IGN);
        guide(dir.file("cut.txt"), [](GuideLog& log) {
            if (log.writeError().find("File too large") == std::string::npos)
                _exit(1);
            raise(SIGKILL);
        });
        _exit(2);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the size limit was never reached";
    const std::string text = readFile(dir.file("cut.txt"));
    ASSERT_GT(text.size(), 900u);  // unbuffered: everything written before the kill is there
    EXPECT_EQ(text.back(), '\n');
    for (const std::string& line : split(text, '\n'))
        EXPECT_TRUE(known.count(line)) << line;
}

TEST(GuideLog, FullDiskWhenASectionStartsKeepsItsHeaderForLater)
{
    // The disk is full when tracking starts and for three cycles; then there
    // is room again. The rows after it sit under the section's header, and
    // the program is told when writing stops and when it works again.
    TempDir dir;
    const std::string path = dir.file("night.txt");
    const std::tm wall = at(22, 0, 0);
    StarRig rig;
    auto log = openLog(path, wall);
    std::vector<std::string> told;
    log->setWritingListener([&](bool writing, const std::string& m) { told.push_back((writing ? "+" : "-") + m); });
    log->attach(rig.core.session, rig.state);
    withFileSizeLimit(readFile(path).size(), [&] {
        rig.lockOn(160, 120);
        for (int i = 0; i < 3; ++i) {
            rig.star(161, 120);
            rig.cycle();
        }
    });
    for (int i = 0; i < 4; ++i) {
        rig.star(160, 121);
        rig.cycle();
    }
    log->close();
    const std::string text = readFile(path);
    const GuideLogContents read = readGuideLog(text);
    EXPECT_TRUE(read.problems.empty());
    ASSERT_EQ(read.sections.size(), 1u) << text;
    EXPECT_EQ(read.sections[0].frames.size(), 4u) << text;
    EXPECT_EQ(text.find("Guiding Begins"), text.rfind("Guiding Begins"));
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(told[0], "-cannot write the guide log " + path + ": File too large");
    EXPECT_EQ(told[1].rfind("+the guide log " + path + " is written again", 0), 0u) << told[1];

    // A section that ends before any of it could be written is left out.
    const std::string second = dir.file("second.txt");
    StarRig rig2;
    auto log2 = openLog(second, wall);
    log2->attach(rig2.core.session, rig2.state);
    const std::size_t before = readFile(second).size();
    withFileSizeLimit(before, [&] {
        rig2.lockOn(160, 120);
        rig2.cycle();
        rig2.core.session.stopTracking();
    });
    log2->close();
    EXPECT_EQ(readFile(second).find("Guiding"), std::string::npos) << readFile(second);

    // A log that could not write its first line says so to a listener set later.
    auto full = openLog("/dev/full", wall);
    told.clear();
    full->setWritingListener([&](bool writing, const std::string& m) { told.push_back((writing ? "+" : "-") + m); });
    EXPECT_EQ(told, std::vector<std::string>{"-cannot write the guide log /dev/full: No space left on device"});
}
