// The serial line to the mount on Linux: "COMn" is a terminal device opened
// exclusively at 9600 8N1 in raw mode; every write is traced when asked. All
// calls come from the user-interface thread.
#include "core/serial/serialline.h"

#include "core/clock.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// I/O address of the UART of COM1..COM4, which the relay box is addressed by;
// 0 for a port number that has none.
int uartBaseFor(int n)
{
    switch (n) {
    case 1: return 0x3F8;
    case 2: return 0x2F8;
    case 3: return 0x3E8;
    case 4: return 0x2E8;
    default: return 0;
    }
}

void releaseLine(int fd, bool exclusive)
{
    // A pseudo-terminal keeps its exclusive flag after the last close of its
    // slave; clear it so that the line can be opened again.
    if (exclusive)
        ioctl(fd, TIOCNXCL);
    close(fd);  // also drops the flock
}

// Gives the line back and returns the errno of the step that failed, negated.
int failOpen(int fd, bool exclusive)
{
    const int err = errno;
    releaseLine(fd, exclusive);
    return -(err ? err : EIO);
}

// Opens and configures the device; -errno when it cannot be used as the line.
int openLine(const std::string& path)
{
    // Non-blocking, so that a modem line waiting for its carrier cannot hang
    // the open; no O_CREAT, so that only an existing device is opened.
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -(errno ? errno : EIO);

    termios tio{};
    if (tcgetattr(fd, &tio) != 0)  // not a terminal
        return failOpen(fd, false);
    // Not shared: the flock refuses the line to a second program even when it
    // runs as root (which TIOCEXCL does not stop). It comes before any change
    // to the line, so a refused open leaves the owner's settings alone.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            errno = EBUSY;
        return failOpen(fd, false);
    }
    if (ioctl(fd, TIOCEXCL) != 0)
        return failOpen(fd, false);

    // 9600 baud, 8 data bits, no parity, one stop bit, raw: the changes of
    // cfmakeraw (no output processing, so 0x0A and every other byte leave
    // unchanged; no input processing or echo) and nothing else. Flow control,
    // modem lines and special characters stay as the driver reported them.
    cfmakeraw(&tio);
    tio.c_cflag &= ~CSTOPB;
    if (cfsetispeed(&tio, B9600) != 0 || cfsetospeed(&tio, B9600) != 0
        || tcsetattr(fd, TCSANOW, &tio) != 0)
        return failOpen(fd, true);

    // Writes block until the driver has taken the bytes.
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return failOpen(fd, true);
    return fd;
}

// Errors after which the device is gone for good: the far end of a
// pseudo-terminal closed, a USB adapter unplugged.
bool lineIsGone(int err)
{
    return err == EIO || err == ENXIO || err == ENODEV || err == EPIPE || err == EBADF
           || err == ENOTTY;
}

// Appends one trace line with one write call. A trace that names a pipe whose
// reader went away must not kill the guider: SIGPIPE is held back for the
// write and the one it raised discarded.
void appendTraceLine(int fd, const std::string& line)
{
    sigset_t pipeSet;
    sigset_t oldSet;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSet, &oldSet);
    sigset_t pending;
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE) == 1;

    ssize_t w;
    do {
        w = write(fd, line.data(), line.size());
    } while (w < 0 && errno == EINTR);

    if (w < 0 && errno == EPIPE && !wasPending) {
        const timespec zero{0, 0};
        sigtimedwait(&pipeSet, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &oldSet, nullptr);
}

constexpr char kHex[] = "0123456789abcdef";

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string traceText(const uint8_t* bytes, size_t count)
{
    std::string text;
    text.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        if (b >= 0x20 && b <= 0x7E) {
            text += char(b);
        } else {
            text += "\\x";
            text += kHex[b >> 4];
            text += kHex[b & 15];
        }
    }
    return text;
}

} // namespace

SerialLine::SerialLine(Clock& clock) : clock_(clock)
{
    if (const char* path = std::getenv("QUORVEL_SERIAL_LOG"); path && *path)
        setTraceFile(path);
}

SerialLine::~SerialLine()
{
    closeLine();
    if (traceFd_ >= 0)
        close(traceFd_);
}

std::string SerialLine::devicePathFor(int n)
{
    if (uartBaseFor(n) == 0)
        return {};
    const std::string index = std::to_string(n);
    if (const char* named = std::getenv(("QUORVEL_COM" + index).c_str()); named && *named)
        return named;
    const std::string usb = "/dev/ttyUSB" + std::to_string(n - 1);
    struct stat st {};
    if (stat(usb.c_str(), &st) == 0)
        return usb;
    return "/dev/ttyS" + std::to_string(n - 1);
}

LineOpenResult SerialLine::openComPort(int n)
{
    // The relay box's address follows the port number even when the open fails.
    if (const int base = uartBaseFor(n); base != 0)
        comBase = base;
    LineOpenResult result;
    result.portName = "COM" + std::to_string(n);

    closeLine();
    gonePort_ = 0;

    result.device = devicePathFor(n);
    const int fd = result.device.empty() ? -ENODEV : openLine(result.device);
    if (fd < 0) {
        result.error = -fd;
        return result;
    }
    fd_ = fd;
    openPort_ = n;
    result.ok = true;
    return result;
}

int SerialLine::addLineListener(LineListener listener)
{
    lineListeners_.emplace_back(nextListenerId_, std::move(listener));
    return nextListenerId_++;
}

void SerialLine::removeLineListener(int id)
{
    std::erase_if(lineListeners_, [id](const auto& l) { return l.first == id; });
}

void SerialLine::tell(const LineChange& change)
{
    // A copy: a listener may send, and so come back here.
    const auto listeners = lineListeners_;
    for (const auto& l : listeners)
        l.second(change);
}

void SerialLine::reopenGoneLine()
{
    const int64_t now = clock_.nowUs();
    if (now - lastReopenUs_ < 1'000'000)
        return;
    lastReopenUs_ = now;
    const std::string device = devicePathFor(gonePort_);
    const int fd = openLine(device);
    if (fd < 0)
        return;
    fd_ = fd;
    openPort_ = gonePort_;
    gonePort_ = 0;
    tell({true, "COM" + std::to_string(openPort_), device, 0});
}

void SerialLine::closeLine()
{
    if (fd_ < 0)
        return;
    releaseLine(fd_, true);
    fd_ = -1;
}

void SerialLine::sendText(std::string_view text)
{
    sendBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

void SerialLine::sendBytes(const uint8_t* bytes, size_t count)
{
    if (fd_ < 0 && gonePort_ != 0 && bytes != nullptr && count > 0)
        reopenGoneLine();
    if (fd_ < 0 || bytes == nullptr || count == 0)
        return;
    const int64_t timeUs = clock_.nowUs();
    if (observer_)
        observer_(timeUs, bytes, count);
    writeLine(bytes, count);
    if (traceFd_ >= 0)
        appendTraceLine(traceFd_, formatTraceLine(timeUs, bytes, count) + '\n');
}

void SerialLine::writeLine(const uint8_t* bytes, size_t count)
{
    // Unchecked as far as the caller is concerned; completing a write that a
    // signal cut short is not a retry.
    while (count > 0) {
        const ssize_t w = write(fd_, bytes, count);
        if (w > 0) {
            bytes += w;
            count -= size_t(w);
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && errno == EAGAIN) {
            pollfd p{fd_, POLLOUT, 0};
            if (poll(&p, 1, -1) >= 0 && (p.revents & POLLOUT))
                continue;
        }
        // The line went away: close it (releasing the device for the next
        // open); later writes try the same port again.
        if (w < 0 && lineIsGone(errno)) {
            const int err = errno;
            closeLine();
            gonePort_ = openPort_;
            lastReopenUs_ = clock_.nowUs();
            if (gonePort_ != 0)
                tell({false, "COM" + std::to_string(gonePort_), devicePathFor(gonePort_), err});
        }
        return;
    }
}

void SerialLine::WritePortByte(int port, uint8_t byte)
{
    // The relay box hangs on the open line, whose UART address is comBase; no
    // other address has a line behind it.
    if (port != comBase)
        return;
    sendBytes(&byte, 1);
}

int SerialLine::setTraceFile(const std::string& path)
{
    if (traceFd_ >= 0) {
        close(traceFd_);
        traceFd_ = -1;
    }
    tracePath_ = path;
    traceError_ = 0;
    if (path.empty())
        return 0;
    // Non-blocking: a pipe nobody drains loses trace lines rather than
    // stopping the guider. O_APPEND and one write per line let a reader follow
    // the file while the program runs.
    traceFd_ = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
    if (traceFd_ < 0)
        traceError_ = errno;
    return traceError_;
}

std::string formatTraceLine(int64_t timeUs, const uint8_t* bytes, size_t count)
{
    std::string line = std::to_string(timeUs);
    line += ' ';
    for (size_t i = 0; i < count; ++i) {
        line += kHex[bytes[i] >> 4];
        line += kHex[bytes[i] & 15];
    }
    line += ' ';
    line += traceText(bytes, count);
    return line;
}

bool parseTraceLine(const std::string& line, TraceRecord& out)
{
    std::string_view rest(line);
    while (!rest.empty() && (rest.back() == '\n' || rest.back() == '\r'))
        rest.remove_suffix(1);

    const size_t firstSpace = rest.find(' ');
    if (firstSpace == std::string_view::npos || firstSpace == 0)
        return false;
    const std::string_view timeField = rest.substr(0, firstSpace);
    size_t digitsFrom = timeField[0] == '-' ? 1 : 0;
    if (digitsFrom == timeField.size() || timeField.size() - digitsFrom > 18)
        return false;
    int64_t timeUs = 0;
    for (size_t i = digitsFrom; i < timeField.size(); ++i) {
        if (timeField[i] < '0' || timeField[i] > '9')
            return false;
        timeUs = timeUs * 10 + (timeField[i] - '0');
    }
    if (digitsFrom == 1)
        timeUs = -timeUs;

    rest.remove_prefix(firstSpace + 1);
    const size_t secondSpace = rest.find(' ');
    if (secondSpace == std::string_view::npos || secondSpace % 2 != 0)
        return false;
    std::string bytes;
    bytes.reserve(secondSpace / 2);
    for (size_t i = 0; i < secondSpace; i += 2) {
        const int hi = hexValue(rest[i]);
        const int lo = hexValue(rest[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        bytes += char(hi * 16 + lo);
    }

    // The text must be that of the bytes: a torn or mixed-up line is refused.
    rest.remove_prefix(secondSpace + 1);
    if (rest != traceText(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()))
        return false;

    out.timeUs = timeUs;
    out.bytes = std::move(bytes);
    return true;
}
