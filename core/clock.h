// The program clock: a steady clock counted from program start, and the
// blocking wait that the serial and relay-box sequences use between their bytes.
// Tests hand in a FakeClock so that time passes without sleeping.
#pragma once

#include <chrono>
#include <cstdint>

class Clock {
public:
    virtual ~Clock() = default;
    // Microseconds since the clock was created.
    virtual int64_t nowUs() const = 0;
    int64_t nowMs() const { return nowUs() / 1000; }
    // Blocks the calling thread, without running any event loop, until the
    // clock has advanced by at least ms milliseconds since the call.
    virtual void pauseMs(int ms);
};

class SteadyClock : public Clock {
public:
    SteadyClock() : start_(std::chrono::steady_clock::now()) {}
    int64_t nowUs() const override;

private:
    std::chrono::steady_clock::time_point start_;
};

// A clock that only moves when told to; pauseMs advances it at once.
class FakeClock : public Clock {
public:
    int64_t nowUs() const override { return now_; }
    void pauseMs(int ms) override { if (ms > 0) now_ += int64_t(ms) * 1000; }
    void advanceMs(int64_t ms) { now_ += ms * 1000; }
    void advanceUs(int64_t us) { now_ += us; }

private:
    int64_t now_ = 0;
};
