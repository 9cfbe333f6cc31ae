// What reached the mount, counted where the mount would see it: the bytes
// and strings of the serial outputs read back from the far end of a
// pseudo-terminal that stands in for "COM1", and the guide pulses an INDI
// mount is asked for, counted on the socket between the guider and the INDI
// server. Each counter turns the stream back into pulses that move the
// mount, so that the night can hold them against what the outputs reported.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>

#include "core/guide/signs.h"

// The relay box's bytes: a command byte and its closing byte for every
// pulse (the night presses no slew button, so nothing else goes out).
class RelayWire {
public:
    void feed(uint8_t byte);
    int pulses() const { return pulses_; }        // command bytes with a count above zero
    int zeroPulses() const { return zero_; }      // command bytes with count 0 (the box does nothing)
    int badClosings() const { return bad_; }      // a closing byte that does not match its command
    bool midPair() const { return pending_.has_value(); }

private:
    std::optional<uint8_t> pending_;
    int pulses_ = 0, zero_ = 0, bad_ = 0;
};

// The strings of "LX 200" and "Meade ETX": "#:Mn#" starts a move, "#:Qn#"
// stops an axis, "#:Q#" (ETX) stops both, "#:RG#" sets the guiding rate.
// On the ETX the guider starts again, at once, the move of the axis that
// the one stop interrupted; such a restart continues a pulse and is not
// counted as another.
class MountStringWire {
public:
    void feed(char c);
    int pulses() const { return pulses_; }
    int restarts() const { return restarts_; }
    int rateCommands() const { return rates_; }
    int unknown() const { return unknown_; }      // strings that are none of the above
    bool midString() const { return !text_.empty(); }

private:
    void command(const std::string& body);

    std::string text_;
    std::array<std::optional<Direction>, 2> moving_{};       // per axis, as the mount runs it
    std::array<std::optional<Direction>, 2> interrupted_{};  // stopped by the last "#:Q#"
    int pulses_ = 0, restarts_ = 0, rates_ = 0, unknown_ = 0;
};

// A pseudo-terminal whose slave end the guider opens as "COM1"; the master
// end is read without blocking after every tick.
class PtyWire {
public:
    PtyWire();
    ~PtyWire();
    PtyWire(const PtyWire&) = delete;
    PtyWire& operator=(const PtyWire&) = delete;

    bool ok() const { return master_ >= 0; }
    const std::string& path() const { return path_; }
    // Reads what is there; waits up to quietMs for more while bytes keep
    // coming (0: only what is there now). Calls `sink` with every byte.
    template <class Sink>
    int64_t read(Sink&& sink, int quietMs = 0)
    {
        uint8_t buf[4096];
        int64_t n = 0;
        for (;;) {
            const long got = readSome(buf, sizeof buf, quietMs);
            if (got <= 0)
                return n;
            for (long i = 0; i < got; ++i)
                sink(buf[i]);
            n += got;
        }
    }

private:
    long readSome(uint8_t* buf, size_t size, int waitMs);
    int master_ = -1;
    int slave_ = -1;  // held open so the pair stays up while the guider reopens its end
    std::string path_;
};

// A relay on loopback between the guider and an INDI server, counting the
// timed guide pulses asked of the mount (newNumberVector of
// TELESCOPE_TIMED_GUIDE_NS or _WE with a length above zero). One client at
// a time; runs on its own thread.
class IndiPulseTap {
public:
    // Relays to the server at 127.0.0.1:serverPort; port() is where to connect.
    explicit IndiPulseTap(int serverPort);
    ~IndiPulseTap();
    IndiPulseTap(const IndiPulseTap&) = delete;
    IndiPulseTap& operator=(const IndiPulseTap&) = delete;

    bool ok() const { return listen_ >= 0; }
    int port() const { return port_; }
    int pulses() const { return pulses_.load(); }
    int64_t bytesUp() const { return bytesUp_.load(); }
    // Waits until nothing has come from the guider for quietMs.
    void settle(int quietMs);

private:
    void run();
    void scanUp(const char* data, size_t n);

    int serverPort_;
    int listen_ = -1;
    int port_ = 0;
    int wake_[2] = {-1, -1};
    std::string up_;  // the guider's text not yet scanned
    std::atomic<int> pulses_{0};
    std::atomic<int64_t> bytesUp_{0};
    std::thread thread_;
};

// An INDI server with the telescope simulator, started for the night on a
// free loopback port when indiserver and the driver are installed, and
// ended with it (its process group, which it leads).
class IndiServerProcess {
public:
    IndiServerProcess(const std::string& workDir);
    ~IndiServerProcess();
    IndiServerProcess(const IndiServerProcess&) = delete;
    IndiServerProcess& operator=(const IndiServerProcess&) = delete;

    bool ok() const { return port_ > 0; }
    int port() const { return port_; }
    const std::string& why() const { return why_; }  // why there is none

private:
    int pid_ = -1;
    int port_ = 0;
    std::string why_;
};
