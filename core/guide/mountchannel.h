// Everything the guide outputs send to the mount passes through one channel,
// in the order it is sent: LX 200 strings and relay-box bytes (which then go
// out on the serial line when one is open), the lamps of the LED window (the
// diodes a user may wire to the mount), and the pulses and motions handed to
// a mount that times them itself. Observers see each command as it is issued,
// whether or not a device is behind it: the simulated mount moves from them,
// and a log can record them.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "core/guide/lx200.h"
#include "core/guide/signs.h"

struct SharedState;
class SerialLine;

struct MountEvent {
    enum class Kind {
        Text,        // an LX 200 command string (text)
        RelayByte,   // one relay-box byte (byte)
        Lamp,        // an LED-window square lit (on, direction) or the axis darkened (!on)
        TimedPulse,  // a pulse the mount times itself (direction, lengthMs)
        Motion,      // a motion started (on, direction) or stopped (!on, axis)
    };
    Kind kind = Kind::Text;
    int64_t timeUs = 0;  // program clock when it was issued
    std::string_view text;
    uint8_t byte = 0;
    GuideAxis axis = GuideAxis::Ra;
    Direction direction = Direction::North;
    bool on = false;
    int lengthMs = 0;
};

using MountObserver = std::function<void(const MountEvent&)>;

class MountChannel {
public:
    // Stops the mount's moves on a serial line that comes back after it went
    // away (SerialLine::LineChange), before anything else goes out on it.
    MountChannel(SharedState& state, SerialLine& line);
    ~MountChannel();
    MountChannel(const MountChannel&) = delete;
    MountChannel& operator=(const MountChannel&) = delete;

    // Observers are called in the order they were added; the id removes one.
    int addObserver(MountObserver observer);
    void removeObserver(int id);

    // A string to the mount, then to the open line (nothing when none is open).
    void sendText(std::string_view text);
    // A relay-box byte, then to the open line (the box hangs on comBase).
    void sendRelayByte(uint8_t byte);
    // The six mount operations, with the strings of interfaceType read now,
    // or with those of the output given.
    void runMountOp(MountOp op);
    void runMountOp(MountOp op, int32_t interfaceType);
    int32_t interfaceType() const;
    // Events with no bytes of ours behind them.
    void lamp(GuideAxis axis, bool on, Direction direction);
    void timedPulse(Direction direction, int lengthMs);
    void motion(GuideAxis axis, bool on, Direction direction);

    // Blocks the thread on the program clock: the waits between relay bytes
    // and between the two axes of a correction.
    void pauseMs(int ms);

    SerialLine& line() { return line_; }
    SharedState& state() { return state_; }

private:
    void publish(MountEvent event);
    void axisEvent(MountEvent::Kind kind, GuideAxis axis, bool on, Direction direction);

    SharedState& state_;
    SerialLine& line_;
    struct Entry {
        int id;
        MountObserver observer;
    };
    std::vector<Entry> observers_;
    int nextId_ = 1;
    int lineListener_ = 0;
};
