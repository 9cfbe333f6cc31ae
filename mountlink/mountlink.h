// The serial line to the mount: opening and configuring "COMn", the LX 200
// command strings of the six mount operations, the relay-box byte writes and
// the serial trace. The line only sends; nothing is ever read back, and a
// write that fails is ignored (the next successful open makes writes work
// again).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

struct SharedState;
enum class MountOp;

class MountLink {
public:
    // Reads QUORVEL_SERIAL_LOG from the environment for the serial trace.
    explicit MountLink(SharedState& state);
    ~MountLink();
    MountLink(const MountLink&) = delete;
    MountLink& operator=(const MountLink&) = delete;

    // Opens "COMn" (n = 1..4): sets comBase from n first, closes the line that
    // is open, opens the device exclusively at 9600 8N1 raw. A failure shows
    // "Erreur d'ouverture" captioned with the port name through state.notify.
    void openComPort(int n);

    // Writes the bytes of a string, without terminator, to the open line.
    void sendText(std::string_view text);
    void sendBytes(const uint8_t* bytes, size_t count);

    // The relay-box byte output: the byte goes out on the open serial line.
    void WritePortByte(int port, uint8_t byte);

    // Busy-wait on the program clock.
    void pauseMs(int ms);

    // The six mount operations; each reads interfaceType at the moment of the call.
    void startNorth();
    void startSouth();
    void startEast();
    void startWest();
    void stopDec();
    void stopRa();

    int comHandle() const { return fd_; }  // -1 when no usable line is open
    int comBase = 0;                        // 0x3F8, 0x2F8, 0x3E8, 0x2E8 for COM1..COM4

    // Device path that "COMn" maps to: QUORVEL_COMn, else /dev/ttyUSB<n-1>
    // when it exists, else /dev/ttyS<n-1>.
    static std::string devicePathFor(int n);

    // Called for every write on an open line, just before the write call, with
    // the program clock in microseconds. Used by the serial trace and `quorvel pulse`.
    using WriteObserver = std::function<void(int64_t timeUs, const uint8_t* bytes, size_t count)>;
    void setWriteObserver(WriteObserver observer) { observer_ = std::move(observer); }

    // Appends every write to this file ("" turns the trace off).
    void setTraceFile(const std::string& path);

private:
    void closeLine();
    void writeLine(const uint8_t* bytes, size_t count);
    void runOp(MountOp op);

    SharedState& state_;
    int fd_ = -1;
    WriteObserver observer_;
    std::string tracePath_;
    int traceFd_ = -1;
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
