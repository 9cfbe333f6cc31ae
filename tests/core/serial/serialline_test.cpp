// The serial line against real pseudo-terminals: the bytes each mount
// operation puts on the line for every guiding output, raw 9600 8N1 settings,
// exclusive opening, open failures with their cause, a line that goes away,
// and the serial trace.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "core/state.h"
#include "core/guide/lx200.h"
#include "core/guide/mountchannel.h"
#include "core/serial/serialline.h"
#include "ptyline.h"
#include "testsupport.h"

namespace {

using Message = std::pair<std::string, std::string>;
using Write = std::pair<int64_t, std::string>;  // time in microseconds, bytes

class SerialLineTest : public ::testing::Test {
protected:
    // Opens COMn; a failure is recorded with the port's name, as the window
    // shows it, and must carry its cause.
    void openPort(SerialLine& link, int n)
    {
        const LineOpenResult r = link.openComPort(n);
        EXPECT_EQ(r.portName, "COM" + std::to_string(n));
        if (!r.ok) {
            EXPECT_NE(r.error, 0) << r.portName;
            messages.emplace_back(r.portName, "Erreur d'ouverture");
        }
    }

    void observe(SerialLine& link)
    {
        link.setWriteObserver([this](int64_t t, const uint8_t* b, size_t n) {
            writes.emplace_back(t, std::string(reinterpret_cast<const char*>(b), n));
        });
    }

    ScopedEnv noTrace{"QUORVEL_SERIAL_LOG", std::nullopt};
    FakeClock clock;
    SharedState state{clock};
    std::vector<Message> messages;
    std::vector<Write> writes;
};

std::vector<Message> openError(int n)
{
    return {{"COM" + std::to_string(n), "Erreur d'ouverture"}};
}

bool isExclusive(int fd)
{
    int excl = 0;
    return ioctl(fd, TIOCGEXCL, &excl) == 0 && excl != 0;
}

// Whether another program could take the lock on the device now.
bool lockIsFree(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const bool free = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (fd >= 0)
        close(fd);
    return free;
}

// Runs body in a child process that an alarm kills after 20 s: a link that
// hangs on a dead line fails the test instead of hanging it. Returns the
// failure body reported, "" when it passed.
std::string runBounded(const std::function<std::string()>& body)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(20);
        const std::string failure = body();
        _exit(write(fds[1], failure.data(), failure.size()) < 0 ? 1 : 0);
    }
    close(fds[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    std::string result;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        result.append(buf, size_t(n));
    close(fds[0]);
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM)
        return "the link hung";
    if (WIFSIGNALED(status))
        return "killed by signal " + std::to_string(WTERMSIG(status));
    return result.empty() && WEXITSTATUS(status) != 0 ? "the report was lost" : result;
}

} // namespace

// Every operation on every guiding output, including values only a crafted
// settings file can hold: the strings in order, one write each, and exactly
// those bytes on the far end. The output is changed between calls on one open
// line, so it must be read at each call.
TEST_F(SerialLineTest, OperationsPutTheirStringsOnTheLine)
{
    PtyLine pty;
    ASSERT_TRUE(pty.ok());
    ScopedEnv com("QUORVEL_COM1", pty.path());
    SerialLine link(clock);
    observe(link);
    openPort(link, 1);
    ASSERT_TRUE(messages.empty());

    using Strings = std::vector<std::string>;
    const struct {
        const char* name;
        MountOp op;
        Strings lx200, etx, plain;
    } rows[] = {
        {"startNorth", MountOp::StartNorth, {"#:RG#", "#:Mn#"}, {"#:Mn#"}, {"#:Mn#"}},
        {"startSouth", MountOp::StartSouth, {"#:RG#", "#:Ms#"}, {"#:Ms#"}, {"#:Ms#"}},
        {"startEast", MountOp::StartEast, {"#:RG#", "#:Me#"}, {"#:Me#"}, {"#:Me#"}},
        {"startWest", MountOp::StartWest, {"#:RG#", "#:Mw#"}, {"#:Mw#"}, {"#:Mw#"}},
        {"stopDec", MountOp::StopDec, {"#:Qn#", "#:Qs#"}, {"#:Q#"}, {"#:Qn#", "#:Qs#"}},
        {"stopRa", MountOp::StopRa, {"#:Qe#", "#:Qw#"}, {"#:Q#"}, {"#:Qe#", "#:Qw#"}},
    };
    for (const auto& row : rows) {
        for (int32_t type : {0, 1, 2, 3, -1, 4, std::numeric_limits<int32_t>::max()}) {
            state.params->interfaceType = type;
            writes.clear();
            MountChannel(state, link).runMountOp(row.op);
            const Strings& expected = type == 1 ? row.lx200 : type == 2 ? row.etx : row.plain;
            Strings written;
            std::string wire;
            for (const auto& w : writes)
                written.push_back(w.second);
            for (const auto& s : expected)
                wire += s;
            EXPECT_EQ(written, expected) << row.name << " interfaceType " << type;
            EXPECT_EQ(pty.read(wire.size()), bytesOf(wire)) << row.name << " interfaceType " << type;
        }
    }
    EXPECT_TRUE(pty.drain().empty());
}

TEST_F(SerialLineTest, EveryByteValuePassesUnchanged)
{
    PtyLine pty;
    ScopedEnv com("QUORVEL_COM1", pty.path());
    SerialLine link(clock);
    openPort(link, 1);
    std::vector<uint8_t> all(256);
    for (int i = 0; i < 256; ++i)
        all[size_t(i)] = uint8_t(255 - i);
    link.sendBytes(all.data(), all.size());
    EXPECT_EQ(pty.read(all.size()), all);
    EXPECT_TRUE(pty.drain().empty());
}

// The line is set to 9600 8N1 raw and taken exclusively: a second link is
// refused it and leaves the owner's settings alone.
TEST_F(SerialLineTest, LineIsSetTo9600EightNoneOneRawAndTakenExclusively)
{
    PtyLine pty;
    ScopedEnv com("QUORVEL_COM1", pty.path());
    // Start from a cooked line at another speed with odd settings of its own.
    termios t{};
    ASSERT_EQ(tcgetattr(pty.slave(), &t), 0);
    t.c_oflag |= OPOST | ONLCR;
    t.c_lflag |= ICANON | ECHO | ISIG;
    t.c_iflag |= ICRNL | IXOFF;
    t.c_cflag = (t.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | HUPCL;
    t.c_cc[VSTOP] = 0x1A;
    cfsetspeed(&t, B38400);
    ASSERT_EQ(tcsetattr(pty.slave(), TCSANOW, &t), 0);

    SerialLine first(clock);
    openPort(first, 1);
    ASSERT_TRUE(messages.empty());
    EXPECT_GE(first.comHandle(), 0);
    ASSERT_EQ(tcgetattr(pty.slave(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
    EXPECT_EQ(cfgetispeed(&t), speed_t(B9600));
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), tcflag_t(CS8));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(t.c_iflag & ICRNL);
    // Not part of raw mode: left as found.
    EXPECT_TRUE((t.c_iflag & IXOFF) && (t.c_cflag & HUPCL) && t.c_cc[VSTOP] == 0x1A);

    t.c_cflag |= CSTOPB;  // the owner's own change after its open
    ASSERT_EQ(tcsetattr(pty.slave(), TCSANOW, &t), 0);
    SerialLine second(clock);
    observe(second);
    openPort(second, 1);
    EXPECT_EQ(messages, openError(1));
    EXPECT_EQ(second.comHandle(), -1);
    MountChannel(state, second).runMountOp(MountOp::StopRa);
    EXPECT_TRUE(writes.empty());
    ASSERT_EQ(tcgetattr(pty.slave(), &t), 0);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(isExclusive(pty.slave()));
    EXPECT_FALSE(lockIsFree(pty.path()));
    first.sendText("#:Mn#");
    EXPECT_EQ(pty.drain(), bytesOf("#:Mn#"));
}

// A link never opened sends and reports nothing. Each port number then sets
// comBase first; a device that cannot be opened (absent, not a terminal, a
// port number with no device) is reported with the port's name and sends
// nothing; the open never creates a file.
TEST_F(SerialLineTest, OpenFailuresAreReportedAndSendNothing)
{
    SerialLine link(clock);
    observe(link);
    MountChannel(state, link).runMountOp(MountOp::StartNorth);
    link.sendText("#:RG#");
    link.WritePortByte(link.comBase, 0xFC);
    EXPECT_TRUE(writes.empty());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(link.comHandle(), -1);

    TempDir dir;
    writeFile(dir.file("plain"), "");
    const struct {
        int n;
        std::optional<std::string> device;
        int comBase;
    } cases[] = {
        {1, dir.file("absent"), 0x3F8},  {2, dir.file("plain"), 0x2F8}, {3, dir.file("absent3"), 0x3E8},
        {4, dir.path(), 0x2E8},          {1, "/dev/null", 0x3F8},
        {0, std::nullopt, 0x3F8},  // no device can be named: comBase unchanged
        {5, std::nullopt, 0x3F8},        {-2, std::nullopt, 0x3F8},
    };
    for (const auto& c : cases) {
        messages.clear();
        std::optional<ScopedEnv> env;
        if (c.device)
            env.emplace("QUORVEL_COM" + std::to_string(c.n), *c.device);
        openPort(link, c.n);
        EXPECT_EQ(messages, openError(c.n)) << "COM" << c.n;
        EXPECT_EQ(link.comBase, c.comBase) << "COM" << c.n;
        EXPECT_EQ(link.comHandle(), -1) << "COM" << c.n;
        MountChannel(state, link).runMountOp(MountOp::StartNorth);
        link.sendText("#:Q#");
        EXPECT_TRUE(writes.empty()) << "COM" << c.n;
    }
    EXPECT_EQ(readFile(dir.file("plain")), "");
    EXPECT_NE(access(dir.file("absent").c_str(), F_OK), 0);
}

// Applying the output again closes the line and opens the chosen one, even the
// same one; an open that fails still closes the line that was open.
TEST_F(SerialLineTest, ReopenClosesThePreviousLine)
{
    PtyLine a, b;
    TempDir dir;
    ScopedEnv com1("QUORVEL_COM1", a.path());
    ScopedEnv com2("QUORVEL_COM2", b.path());
    ScopedEnv com3("QUORVEL_COM3", dir.file("absent"));
    SerialLine link(clock);

    openPort(link, 1);
    openPort(link, 1);  // "Annuler" in the parameters dialog: same port again
    ASSERT_TRUE(messages.empty());
    link.sendText("#:Mn#");
    EXPECT_EQ(a.read(5), bytesOf("#:Mn#"));

    openPort(link, 2);
    ASSERT_TRUE(messages.empty());
    EXPECT_EQ(link.comBase, 0x2F8);
    EXPECT_FALSE(isExclusive(a.slave()));
    EXPECT_TRUE(lockIsFree(a.path()));
    EXPECT_TRUE(isExclusive(b.slave()));
    link.sendText("#:Ms#");
    EXPECT_EQ(b.read(5), bytesOf("#:Ms#"));
    EXPECT_TRUE(a.drain().empty());

    openPort(link, 3);
    EXPECT_EQ(messages, openError(3));
    EXPECT_EQ(link.comBase, 0x3E8);
    EXPECT_TRUE(lockIsFree(b.path()));
    link.sendText("#:Q#");
    EXPECT_TRUE(b.drain().empty());
}

// The far end goes away while the line is open, even in the middle of a write
// blocked on a full buffer: writes return, nothing crashes, the line counts as
// closed, a new open of another line works.
TEST_F(SerialLineTest, LineThatGoesAwayFailsSilently)
{
    EXPECT_EQ(runBounded([this]() -> std::string {
        PtyLine unplugged, spare;
        ScopedEnv com1("QUORVEL_COM1", unplugged.path());
        ScopedEnv com2("QUORVEL_COM2", spare.path());
        state.params->interfaceType = Lx200;
        SerialLine link(clock);
        openPort(link, 1);
        MountChannel(state, link).runMountOp(MountOp::StartNorth);
        if (!messages.empty() || unplugged.read(10) != bytesOf("#:RG##:Mn#"))
            return "nothing arrived before the unplug";

        // Nobody reads: the write fills the line and blocks until the far end goes away.
        std::thread unplug([&] {
            usleep(100000);
            unplugged.closeMaster();
        });
        std::vector<uint8_t> big(256 * 1024, 0x55);
        link.sendBytes(big.data(), big.size());
        unplug.join();

        MountChannel(state, link).runMountOp(MountOp::StopRa);
        link.WritePortByte(link.comBase, 0x8C);
        if (link.comHandle() != -1)
            return "the dead line still counts as open";
        openPort(link, 1);
        if (messages != openError(1))
            return "reopening the unplugged line was not reported";
        openPort(link, 2);
        MountChannel(state, link).runMountOp(MountOp::StopDec);
        if (messages.size() != 1 || spare.read(10) != bytesOf("#:Qn##:Qs#"))
            return "the new line does not carry the strings";
        return {};
    }), "");
}

TEST_F(SerialLineTest, TraceFileHasOneLinePerWriteWithItsTime)
{
    TempDir dir;
    const std::string trace = dir.file("serial.log");
    PtyLine pty, other;
    ScopedEnv com("QUORVEL_COM1", pty.path());
    ScopedEnv com2("QUORVEL_COM2", other.path());
    ScopedEnv log("QUORVEL_SERIAL_LOG", trace);
    state.params->interfaceType = Lx200;

    SerialLine link(clock);
    observe(link);
    link.sendText("#:Q#");  // no line yet: not a write, not traced
    clock.advanceUs(1500);
    openPort(link, 1);
    MountChannel(state, link).runMountOp(MountOp::StartWest);
    // Written through at once: a reader follows the file as it grows.
    const std::string start = "1500 233a524723 #:RG#\n1500 233a4d7723 #:Mw#\n";
    EXPECT_EQ(readFile(trace), start);

    clock.advanceMs(20);
    const uint8_t binary[] = {0x00, 0x0A, 0xFF, '\\', ' ', 0x7F};
    link.sendBytes(binary, sizeof binary);
    clock.advanceUs(7);
    link.WritePortByte(link.comBase, 0x8E);
    const std::string text = start + "21500 000aff5c207f \\x00\\x0a\\xff\\ \\x7f\n21507 8e \\x8e\n";
    EXPECT_EQ(readFile(trace), text);
    EXPECT_EQ(writes, (std::vector<Write>{{1500, "#:RG#"}, {1500, "#:Mw#"},
                                          {21500, std::string(binary, binary + sizeof binary)},
                                          {21507, "\x8E"}}));

    // Trace off: the file gets nothing.
    link.setTraceFile("");
    link.sendText("#:Q#");
    EXPECT_EQ(readFile(trace), text);

    // A second link (a later run) appends to the file, never truncates it.
    SerialLine again(clock);
    openPort(again, 2);
    clock.advanceMs(1);
    again.sendText("#:Q#");
    EXPECT_EQ(readFile(trace), text + "22507 233a5123 #:Q#\n");
}

TEST(SerialTrace, ParseReadsWhatFormatWritesAndRefusesTheRest)
{
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += char(i);
    for (int64_t t : {int64_t(0), int64_t(5000), int64_t(123456789012345)}) {
        const std::string line = formatTraceLine(t, reinterpret_cast<const uint8_t*>(all.data()), all.size());
        TraceRecord r;
        ASSERT_TRUE(parseTraceLine(line + "\n", r));
        EXPECT_EQ(r.timeUs, t);
        EXPECT_EQ(r.bytes, all);
    }
    const char* bad[] = {
        "", "1500", "1500 2341",  // no text
        "x1500 41 A",             // time not a number
        "1500 4 A", "1500 4g A",  // odd count, not hex
        "1500 41 B",              // text disagrees with the bytes
        "1500 4142 A",            // torn line
        " 41 A", "1500 00 \\x01",
    };
    TraceRecord r;
    for (const char* line : bad)
        EXPECT_FALSE(parseTraceLine(line, r)) << '"' << line << '"';
    EXPECT_TRUE(parseTraceLine("1500 4120 A ", r));
    EXPECT_EQ(r.bytes, "A ");
}

// A trace followed through a pipe whose reader quits must not kill the guider.
TEST_F(SerialLineTest, TracePipeReaderThatQuitsDoesNotStopTheLink)
{
    EXPECT_EQ(runBounded([this]() -> std::string {
        TempDir dir;
        const std::string fifo = dir.file("trace.fifo");
        if (mkfifo(fifo.c_str(), 0600) != 0)
            return "mkfifo failed";
        const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        PtyLine pty;
        ScopedEnv com("QUORVEL_COM1", pty.path());
        ScopedEnv log("QUORVEL_SERIAL_LOG", fifo);
        SerialLine link(clock);
        openPort(link, 1);
        link.sendText("#:Mn#");
        char buf[64];
        if (read(reader, buf, sizeof buf) <= 0)
            return "the trace did not reach the pipe";
        close(reader);
        link.sendText("#:Qn#");
        link.sendText("#:Qs#");
        if (pty.read(15) != bytesOf("#:Mn##:Qn##:Qs#"))
            return "the line lost bytes";
        return {};
    }), "");
}

TEST_F(SerialLineTest, LineThatComesBackIsOpenedAgainAndStopsTheMountFirst)
{
    // An adapter unplugged in the middle of a move, then plugged in again
    // under the same name: the guider says both, tries the port again at
    // most once a second, and stops both axes before the next command.
    EXPECT_EQ(runBounded([this]() -> std::string {
        TempDir dir;
        PtyLine first, second;
        const std::string name = dir.file("com1");
        symlink(first.path().c_str(), name.c_str());
        ScopedEnv com1("QUORVEL_COM1", name);
        state.params->interfaceType = Lx200;
        SerialLine link(clock);
        MountChannel channel(state, link);
        std::vector<std::string> heard;
        link.addLineListener([&](const SerialLine::LineChange& c) {
            heard.push_back((c.up ? "back " : "gone ") + c.portName + " " + std::strerror(c.error));
        });
        openPort(link, 1);
        channel.runMountOp(MountOp::StartWest);
        if (first.read(10) != bytesOf("#:RG##:Mw#"))
            return "nothing arrived before the unplug";
        first.closeMaster();
        channel.runMountOp(MountOp::StopRa);
        unlink(name.c_str());
        symlink(second.path().c_str(), name.c_str());
        channel.runMountOp(MountOp::StartNorth);
        if (!second.read(1, 200).empty())
            return "the port was tried again within the second";
        clock.pauseMs(1000);
        channel.runMountOp(MountOp::StartNorth);
        if (second.read(30) != bytesOf("#:Qe##:Qw##:Qn##:Qs##:RG##:Mn#"))
            return "the line back did not get the stops, then the move";
        if (heard != std::vector<std::string>{"gone COM1 Input/output error", "back COM1 Success"})
            return "heard: " + (heard.empty() ? std::string("nothing") : heard.front());
        return {};
    }), "");
}
