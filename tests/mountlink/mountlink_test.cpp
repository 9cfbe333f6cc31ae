// The serial mount link against real pseudo-terminals: the bytes each mount
// operation puts on the line for every guiding output, raw 9600 8N1 settings,
// exclusive opening, the open-error message, a line that goes away, and the
// serial trace.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <limits>
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

#include "app/state.h"
#include "mountlink/lx200.h"
#include "mountlink/mountlink.h"
#include "mountlink/ptyline.h"
#include "testsupport.h"

namespace {

using Message = std::pair<std::string, std::string>;
using Strings = std::vector<std::string>;

struct Write {
    int64_t timeUs;
    std::string bytes;
    bool operator==(const Write&) const = default;
};

class MountLinkTest : public ::testing::Test {
protected:
    MountLinkTest()
    {
        state.notify = [this](const std::string& caption, const std::string& text) {
            messages.emplace_back(caption, text);
        };
    }

    void observe(MountLink& link)
    {
        link.setWriteObserver([this](int64_t t, const uint8_t* b, size_t n) {
            writes.push_back({t, std::string(reinterpret_cast<const char*>(b), n)});
        });
    }

    Strings writtenStrings() const
    {
        Strings s;
        for (const auto& w : writes)
            s.push_back(w.bytes);
        return s;
    }

    ScopedEnv noTrace{"QUORVEL_SERIAL_LOG", std::nullopt};
    FakeClock clock;
    SharedState state{clock};
    std::vector<Message> messages;
    std::vector<Write> writes;
};

const Message kOpenError1{"COM1", "Erreur d'ouverture"};

bool isExclusive(int fd)
{
    int excl = 0;
    return ioctl(fd, TIOCGEXCL, &excl) == 0 && excl != 0;
}

// Whether another program could take the lock on the device now.
bool lockIsFree(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return free;
}

std::string joined(const Strings& parts)
{
    std::string all;
    for (const auto& p : parts)
        all += p;
    return all;
}

} // namespace

TEST(MountSigns, PulseSignSelectsTheMove)
{
    const struct {
        GuideAxis axis;
        int pulseMs;
        std::optional<MountOp> start;
    } cases[] = {
        {GuideAxis::Ra, -1000, MountOp::StartEast},  {GuideAxis::Ra, -15, MountOp::StartEast},
        {GuideAxis::Ra, 1, MountOp::StartWest},      {GuideAxis::Ra, 945, MountOp::StartWest},
        {GuideAxis::Ra, 0, std::nullopt},            {GuideAxis::Dec, -300, MountOp::StartNorth},
        {GuideAxis::Dec, 255, MountOp::StartSouth},  {GuideAxis::Dec, 0, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(startOpForPulse(c.axis, c.pulseMs), c.start) << int(c.axis) << " " << c.pulseMs;
    EXPECT_EQ(stopOpFor(GuideAxis::Ra), MountOp::StopRa);
    EXPECT_EQ(stopOpFor(GuideAxis::Dec), MountOp::StopDec);
}

// Every operation on every guiding output, including values only a crafted
// settings file can hold: the strings in order, one write each, and exactly
// those bytes on the far end of the line.
TEST_F(MountLinkTest, OperationsPutTheirStringsOnTheLine)
{
    PtyLine pty;
    ASSERT_TRUE(pty.ok());
    ScopedEnv com("QUORVEL_COM1", pty.path());
    MountLink link(state);
    observe(link);
    link.openComPort(1);
    ASSERT_TRUE(messages.empty());

    const struct {
        const char* name;
        void (MountLink::*op)();
        Strings lx200, etx, plain;
    } rows[] = {
        {"startNorth", &MountLink::startNorth, {"#:RG#", "#:Mn#"}, {"#:Mn#"}, {"#:Mn#"}},
        {"startSouth", &MountLink::startSouth, {"#:RG#", "#:Ms#"}, {"#:Ms#"}, {"#:Ms#"}},
        {"startEast", &MountLink::startEast, {"#:RG#", "#:Me#"}, {"#:Me#"}, {"#:Me#"}},
        {"startWest", &MountLink::startWest, {"#:RG#", "#:Mw#"}, {"#:Mw#"}, {"#:Mw#"}},
        {"stopDec", &MountLink::stopDec, {"#:Qn#", "#:Qs#"}, {"#:Q#"}, {"#:Qn#", "#:Qs#"}},
        {"stopRa", &MountLink::stopRa, {"#:Qe#", "#:Qw#"}, {"#:Q#"}, {"#:Qe#", "#:Qw#"}},
    };
    const int32_t types[] = {0, 1, 2, 3, -1, 4, std::numeric_limits<int32_t>::max()};

    for (const auto& row : rows) {
        for (int32_t type : types) {
            state.params->interfaceType = type;
            writes.clear();
            (link.*row.op)();
            const Strings& expected = type == 1 ? row.lx200 : type == 2 ? row.etx : row.plain;
            EXPECT_EQ(writtenStrings(), expected) << row.name << " interfaceType " << type;
            const std::string wire = joined(expected);
            EXPECT_EQ(pty.read(wire.size()), bytesOf(wire)) << row.name << " interfaceType " << type;
        }
    }
    EXPECT_TRUE(pty.drain().empty());
}

// The output choice is read at each call, not when the line was opened.
TEST_F(MountLinkTest, InterfaceChangeTakesEffectAtTheNextCall)
{
    PtyLine pty;
    ScopedEnv com("QUORVEL_COM2", pty.path());
    state.params->interfaceType = Lx200;
    MountLink link(state);
    link.openComPort(2);
    link.stopRa();
    state.params->interfaceType = MeadeEtx;
    link.stopRa();
    state.params->interfaceType = VirtualLeds;
    link.startWest();
    const std::string wire = "#:Qe##:Qw##:Q##:Mw#";
    EXPECT_EQ(pty.read(wire.size()), bytesOf(wire));
}

TEST_F(MountLinkTest, EveryByteValuePassesUnchanged)
{
    PtyLine pty;
    ScopedEnv com("QUORVEL_COM1", pty.path());
    MountLink link(state);
    link.openComPort(1);

    // Bytes a cooked line would rewrite, swallow or act on: newline, return,
    // XON/XOFF, interrupt, end of file, delete, and the top of the range.
    const std::vector<uint8_t> awkward = {0x0A, 0x0D, 0x11, 0x13, 0x03, 0x04, 0x1A, 0x7F, 0xFF, 0x00};
    for (uint8_t b : awkward)
        link.sendBytes(&b, 1);
    EXPECT_EQ(pty.read(awkward.size()), awkward);

    std::vector<uint8_t> all(256);
    for (int i = 0; i < 256; ++i)
        all[size_t(i)] = uint8_t(255 - i);
    link.sendBytes(all.data(), all.size());
    EXPECT_EQ(pty.read(all.size()), all);
    EXPECT_TRUE(pty.drain().empty());
}

TEST_F(MountLinkTest, LineIsSetTo9600EightNoneOneRawAndKeepsTheRest)
{
    PtyLine pty;
    ScopedEnv com("QUORVEL_COM1", pty.path());

    // Start from a cooked line at another speed with odd settings of its own.
    termios before{};
    ASSERT_EQ(tcgetattr(pty.slave(), &before), 0);
    before.c_oflag |= OPOST | ONLCR;
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_iflag |= ICRNL | IXOFF;
    before.c_cflag |= PARENB | CSTOPB | HUPCL;
    before.c_cflag = (before.c_cflag & ~CSIZE) | CS7;
    before.c_cc[VSTOP] = 0x1A;
    cfsetispeed(&before, B38400);
    cfsetospeed(&before, B38400);
    ASSERT_EQ(tcsetattr(pty.slave(), TCSANOW, &before), 0);

    MountLink link(state);
    link.openComPort(1);
    ASSERT_TRUE(messages.empty());
    EXPECT_GE(link.comHandle(), 0);

    termios after{};
    ASSERT_EQ(tcgetattr(pty.slave(), &after), 0);
    EXPECT_EQ(cfgetospeed(&after), speed_t(B9600));
    EXPECT_EQ(cfgetispeed(&after), speed_t(B9600));
    EXPECT_EQ(after.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_FALSE(after.c_cflag & PARENB);
    EXPECT_FALSE(after.c_cflag & CSTOPB);
    EXPECT_FALSE(after.c_oflag & OPOST);
    EXPECT_FALSE(after.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(after.c_iflag & ICRNL);
    // Not part of raw mode: left as found.
    EXPECT_TRUE(after.c_iflag & IXOFF);
    EXPECT_TRUE(after.c_cflag & HUPCL);
    EXPECT_EQ(after.c_cc[VSTOP], 0x1A);
    EXPECT_TRUE(isExclusive(pty.slave()));
}

TEST_F(MountLinkTest, SecondLinkIsRefusedTheLineAndLeavesItAlone)
{
    PtyLine pty;
    ScopedEnv com("QUORVEL_COM1", pty.path());
    MountLink first(state);
    first.openComPort(1);
    ASSERT_TRUE(messages.empty());

    // The owner's line settings, changed after its open, must survive the
    // refused attempt.
    termios owner{};
    ASSERT_EQ(tcgetattr(pty.slave(), &owner), 0);
    owner.c_cflag |= CSTOPB;
    ASSERT_EQ(tcsetattr(pty.slave(), TCSANOW, &owner), 0);

    MountLink second(state);
    observe(second);
    second.openComPort(1);
    EXPECT_EQ(messages, std::vector<Message>{kOpenError1});
    EXPECT_EQ(second.comHandle(), -1);
    second.stopRa();
    EXPECT_TRUE(writes.empty());

    termios now{};
    ASSERT_EQ(tcgetattr(pty.slave(), &now), 0);
    EXPECT_TRUE(now.c_cflag & CSTOPB);
    EXPECT_TRUE(isExclusive(pty.slave()));
    EXPECT_FALSE(lockIsFree(pty.path()));

    first.sendText("#:Mn#");
    EXPECT_EQ(pty.drain(), bytesOf("#:Mn#"));
}

// Each port number sets comBase first; a device that cannot be opened (absent,
// not a terminal, a port number with no device) is reported with the port's
// name and sends nothing; the open never creates a file.
TEST_F(MountLinkTest, OpenFailuresAreReportedAndSendNothing)
{
    TempDir dir;
    writeFile(dir.file("plain"), "");
    const struct {
        int n;
        std::optional<std::string> device;
        int comBase;
    } cases[] = {
        {1, dir.file("absent"), 0x3F8},
        {2, dir.file("plain"), 0x2F8},
        {3, dir.file("absent3"), 0x3E8},
        {4, dir.path(), 0x2E8},
        {1, std::string("/dev/null"), 0x3F8},
        {0, std::nullopt, 0x3F8},   // no device can be named: comBase unchanged
        {5, std::nullopt, 0x3F8},
        {-2, std::nullopt, 0x3F8},
    };
    MountLink link(state);
    observe(link);
    for (const auto& c : cases) {
        messages.clear();
        writes.clear();
        std::optional<ScopedEnv> env;
        if (c.device)
            env.emplace("QUORVEL_COM" + std::to_string(c.n), *c.device);
        link.openComPort(c.n);
        const Message expected{"COM" + std::to_string(c.n), "Erreur d'ouverture"};
        EXPECT_EQ(messages, std::vector<Message>{expected}) << "COM" << c.n;
        EXPECT_EQ(link.comBase, c.comBase) << "COM" << c.n;
        EXPECT_EQ(link.comHandle(), -1) << "COM" << c.n;
        link.startNorth();
        link.sendText("#:Q#");
        EXPECT_TRUE(writes.empty()) << "COM" << c.n;
    }
    EXPECT_EQ(readFile(dir.file("plain")), "");
    EXPECT_NE(access(dir.file("absent").c_str(), F_OK), 0);
    EXPECT_NE(access(dir.file("absent3").c_str(), F_OK), 0);
}

TEST_F(MountLinkTest, NoLineEverOpenedSendsAndReportsNothing)
{
    MountLink link(state);
    observe(link);
    for (int32_t type : {0, 1, 2, 3}) {
        state.params->interfaceType = type;
        link.startNorth();
        link.stopDec();
        link.sendText("#:RG#");
        link.WritePortByte(link.comBase, 0xFC);
    }
    EXPECT_TRUE(writes.empty());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(link.comHandle(), -1);
}

// Applying the output again closes the line and opens the chosen one, even the
// same one; an open that fails still closes the line that was open.
TEST_F(MountLinkTest, ReopenClosesThePreviousLine)
{
    PtyLine a;
    PtyLine b;
    ScopedEnv com1("QUORVEL_COM1", a.path());
    ScopedEnv com2("QUORVEL_COM2", b.path());
    TempDir dir;
    ScopedEnv com3("QUORVEL_COM3", dir.file("absent"));
    MountLink link(state);

    link.openComPort(1);
    link.openComPort(1);  // "Annuler" in the parameters dialog: same port again
    ASSERT_TRUE(messages.empty());
    link.sendText("#:Mn#");
    EXPECT_EQ(a.read(5), bytesOf("#:Mn#"));

    link.openComPort(2);
    ASSERT_TRUE(messages.empty());
    EXPECT_EQ(link.comBase, 0x2F8);
    EXPECT_FALSE(isExclusive(a.slave()));
    EXPECT_TRUE(lockIsFree(a.path()));
    EXPECT_TRUE(isExclusive(b.slave()));
    link.sendText("#:Ms#");
    EXPECT_EQ(b.read(5), bytesOf("#:Ms#"));
    EXPECT_TRUE(a.drain().empty());

    link.openComPort(3);
    EXPECT_EQ(messages, (std::vector<Message>{{"COM3", "Erreur d'ouverture"}}));
    EXPECT_EQ(link.comBase, 0x3E8);
    EXPECT_TRUE(lockIsFree(b.path()));
    link.sendText("#:Q#");
    EXPECT_TRUE(b.drain().empty());
}

namespace {

// Runs body in a child process and waits for it at most timeoutMs: a link
// that hangs on a dead line fails the test instead of hanging it.
std::string runBounded(const std::function<std::string()>& body, int timeoutMs)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        const std::string failure = body();
        if (write(pipeFds[1], failure.data(), failure.size()) < 0) {
        }
        _exit(failure.empty() ? 0 : 1);
    }
    close(pipeFds[1]);
    int status = 0;
    bool done = false;
    for (int waited = 0; waited < timeoutMs && !done; waited += 10) {
        done = waitpid(pid, &status, WNOHANG) == pid;
        if (!done)
            usleep(10000);
    }
    std::string result;
    if (!done) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        result = "the link hung";
    } else if (WIFSIGNALED(status)) {
        result = "killed by signal " + std::to_string(WTERMSIG(status));
    } else {
        char buf[512];
        ssize_t n;
        while ((n = read(pipeFds[0], buf, sizeof buf)) > 0)
            result.append(buf, size_t(n));
        if (result.empty() && WEXITSTATUS(status) != 0)
            result = "exit status " + std::to_string(WEXITSTATUS(status));
    }
    close(pipeFds[0]);
    return result;
}

} // namespace

// The far end goes away while the line is open, even in the middle of a write
// blocked on a full buffer: writes return, nothing crashes, the line counts as
// closed, a new open of another line works.
TEST_F(MountLinkTest, LineThatGoesAwayFailsSilently)
{
    const std::string failure = runBounded(
        [this]() -> std::string {
            PtyLine unplugged;
            PtyLine spare;
            ScopedEnv com1("QUORVEL_COM1", unplugged.path());
            ScopedEnv com2("QUORVEL_COM2", spare.path());
            state.params->interfaceType = Lx200;
            MountLink link(state);
            link.openComPort(1);
            if (!messages.empty())
                return "first open failed";
            link.startNorth();
            if (unplugged.read(10) != bytesOf("#:RG##:Mn#"))
                return "nothing arrived before the unplug";

            // Nobody reads: the write fills the line and blocks until the far
            // end goes away.
            std::thread unplug([&] {
                usleep(100000);
                unplugged.closeMaster();
            });
            std::vector<uint8_t> big(256 * 1024, 0x55);
            link.sendBytes(big.data(), big.size());
            unplug.join();

            link.stopRa();
            link.WritePortByte(link.comBase, 0x8C);
            link.sendText("#:Q#");
            if (link.comHandle() != -1)
                return "the dead line still counts as open";

            link.openComPort(1);
            if (messages != std::vector<Message>{kOpenError1})
                return "reopening the unplugged line was not reported";
            link.openComPort(2);
            if (messages.size() != 1)
                return "opening a new line failed";
            link.stopDec();
            if (spare.read(10) != bytesOf("#:Qn##:Qs#"))
                return "the new line does not carry the strings";
            return {};
        },
        20000);
    EXPECT_EQ(failure, "");
}

TEST_F(MountLinkTest, TraceFileHasOneLinePerWriteWithItsTime)
{
    TempDir dir;
    const std::string tracePath = dir.file("serial.log");
    PtyLine pty;
    ScopedEnv com("QUORVEL_COM1", pty.path());
    ScopedEnv log("QUORVEL_SERIAL_LOG", tracePath);
    state.params->interfaceType = Lx200;

    MountLink link(state);
    observe(link);
    link.sendText("#:Q#");  // no line yet: not a write, not traced
    clock.advanceUs(1500);
    link.openComPort(1);
    link.startWest();

    // Written through at once: a reader follows the file as it grows.
    EXPECT_EQ(readFile(tracePath), "1500 233a524723 #:RG#\n1500 233a4d7723 #:Mw#\n");

    clock.advanceMs(20);
    const uint8_t binary[] = {0x00, 0x0A, 0xFF, '\\', ' ', 0x7F};
    link.sendBytes(binary, sizeof binary);
    clock.advanceUs(7);
    link.WritePortByte(link.comBase, 0x8E);

    const std::vector<Write> expected = {
        {1500, "#:RG#"},
        {1500, "#:Mw#"},
        {21500, std::string(reinterpret_cast<const char*>(binary), sizeof binary)},
        {21507, "\x8E"},
    };
    EXPECT_EQ(writes, expected);

    std::vector<Write> traced;
    std::string text = readFile(tracePath);
    size_t from = 0;
    for (size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1) {
        TraceRecord r;
        ASSERT_TRUE(parseTraceLine(text.substr(from, nl - from), r)) << text.substr(from, nl - from);
        traced.push_back({r.timeUs, r.bytes});
    }
    EXPECT_EQ(from, text.size()) << "unterminated last line";
    EXPECT_EQ(traced, expected);
    EXPECT_NE(text.find("21500 000aff5c207f \\x00\\x0a\\xff\\ \\x7f\n"), std::string::npos) << text;

    // Trace off: the line still carries the bytes, the file gets nothing.
    link.setTraceFile("");
    link.sendText("#:Q#");
    EXPECT_EQ(readFile(tracePath), text);

    // A second link (a later run) appends to the file, never truncates it.
    PtyLine other;
    ScopedEnv com2("QUORVEL_COM2", other.path());
    MountLink again(state);
    again.openComPort(2);
    clock.advanceMs(1);
    again.sendText("#:Q#");
    EXPECT_EQ(readFile(tracePath), text + "22507 233a5123 #:Q#\n");
}

TEST(SerialTrace, FormatAndParseAgree)
{
    std::vector<uint8_t> all(256);
    for (int i = 0; i < 256; ++i)
        all[size_t(i)] = uint8_t(i);
    const int64_t times[] = {0, 5000, 123456789012345};
    for (int64_t t : times) {
        const std::string line = formatTraceLine(t, all.data(), all.size());
        TraceRecord r;
        ASSERT_TRUE(parseTraceLine(line, r));
        EXPECT_EQ(r.timeUs, t);
        EXPECT_EQ(r.bytes, std::string(all.begin(), all.end()));
        ASSERT_TRUE(parseTraceLine(line + "\n", r));
    }
}

TEST(SerialTrace, MalformedLinesAreRefused)
{
    const char* bad[] = {
        "",
        "1500",
        "1500 2341",          // no text
        "x1500 41 A",         // time not a number
        "1500 4 A",           // odd number of hex digits
        "1500 4g A",          // not hex
        "1500 41 B",          // text disagrees with the bytes
        "1500 4142 A",        // torn line
        " 41 A",
        "1500 00 \\x01",
    };
    for (const char* line : bad) {
        TraceRecord r;
        EXPECT_FALSE(parseTraceLine(line, r)) << '"' << line << '"';
    }
    TraceRecord r;
    EXPECT_TRUE(parseTraceLine("1500 4120 A ", r));
    EXPECT_EQ(r.bytes, "A ");
}

// A trace followed through a pipe whose reader quits must not kill the guider.
TEST_F(MountLinkTest, TracePipeReaderThatQuitsDoesNotStopTheLink)
{
    const std::string failure = runBounded(
        [this]() -> std::string {
            TempDir dir;
            const std::string fifo = dir.file("trace.fifo");
            if (mkfifo(fifo.c_str(), 0600) != 0)
                return "mkfifo failed";
            const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
            PtyLine pty;
            ScopedEnv com("QUORVEL_COM1", pty.path());
            ScopedEnv log("QUORVEL_SERIAL_LOG", fifo);
            MountLink link(state);
            link.openComPort(1);
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
        },
        20000);
    EXPECT_EQ(failure, "");
}
