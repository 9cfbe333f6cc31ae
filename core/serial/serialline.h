// The serial line to the mount: opening and configuring "COMn", writing
// bytes, and the serial trace. The line only sends; nothing is ever read back,
// and a write that fails is ignored. A line that goes away (an adapter
// unplugged) is closed, and opened again on the same port, at most once a
// second, when bytes are to be sent; its listeners hear both. What the bytes
// mean is decided above it (lx200.h, relaybox.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class Clock;

// The outcome of opening "COMn", with its cause when it failed.
struct LineOpenResult {
    bool ok = false;
    std::string portName;  // "COM2": the name the user chose
    std::string device;    // the device it maps to; empty for a number outside 1..4
    int error = 0;         // errno of the step that failed (0 when ok)
};

class SerialLine {
public:
    // Reads QUORVEL_SERIAL_LOG from the environment for the serial trace.
    explicit SerialLine(Clock& clock);
    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    // Opens "COMn" (n = 1..4): sets comBase from n first, closes the line that
    // is open, opens the device exclusively at 9600 8N1 raw.
    LineOpenResult openComPort(int n);

    // Writes the bytes of a string, without terminator, to the open line.
    void sendText(std::string_view text);
    void sendBytes(const uint8_t* bytes, size_t count);

    // The relay-box byte output: the byte goes out on the open serial line.
    void WritePortByte(int port, uint8_t byte);

    // The open line went away, or came back on the same port. A listener told
    // of the return may send bytes at once: they go out before the ones that
    // found the line back.
    struct LineChange {
        bool up = false;
        std::string portName;  // "COM1"
        std::string device;
        int error = 0;         // errno of the write that failed, when !up
    };
    using LineListener = std::function<void(const LineChange&)>;
    // The id removes the listener.
    int addLineListener(LineListener listener);
    void removeLineListener(int id);
    bool lineGone() const { return gonePort_ != 0; }

    int comHandle() const { return fd_; }  // -1 when no usable line is open
    int comBase = 0;                        // 0x3F8, 0x2F8, 0x3E8, 0x2E8 for COM1..COM4

    // Device path that "COMn" maps to: QUORVEL_COMn, else /dev/ttyUSB<n-1>
    // when it exists, else /dev/ttyS<n-1>.
    static std::string devicePathFor(int n);

    // Called for every write on an open line, just before the write call, with
    // the program clock in microseconds. Used by `quorvel pulse` and the tests.
    using WriteObserver = std::function<void(int64_t timeUs, const uint8_t* bytes, size_t count)>;
    void setWriteObserver(WriteObserver observer) { observer_ = std::move(observer); }

    // Appends every write to this file ("" turns the trace off); the errno
    // when the file cannot be opened, else 0.
    int setTraceFile(const std::string& path);
    const std::string& traceFile() const { return tracePath_; }
    int traceError() const { return traceError_; }

private:
    void closeLine();
    void writeLine(const uint8_t* bytes, size_t count);
    void reopenGoneLine();
    void tell(const LineChange& change);

    Clock& clock_;
    int fd_ = -1;
    int openPort_ = 0;         // n of the open "COMn"
    int gonePort_ = 0;         // n of the line that went away, 0 when none did
    int64_t lastReopenUs_ = 0;
    std::vector<std::pair<int, LineListener>> lineListeners_;
    int nextListenerId_ = 1;
    WriteObserver observer_;
    std::string tracePath_;
    int traceFd_ = -1;
    int traceError_ = 0;
};

// One line of the serial trace file, as written and as read back by tests and
// benchmarks: "<microseconds> <hex bytes, two digits each, no spaces> <text>",
// the text with every byte outside 0x20..0x7E written as \xNN.
struct TraceRecord {
    int64_t timeUs = 0;
    std::string bytes;
};
std::string formatTraceLine(int64_t timeUs, const uint8_t* bytes, size_t count);
bool parseTraceLine(const std::string& line, TraceRecord& out);
