// Settling after a "guide" or a "dither": the imaging suite waits until the
// star has stayed closer to its lock than `pixels` for `time` seconds, or
// gives up after `timeout` seconds. One Settler follows one such wait, a
// guide frame at a time, on the program clock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct SettleParams {
    double pixels = 1.5;       // distance from the lock that counts as settled
    double timeSec = 10;       // how long it must stay so
    double timeoutSec = 60;    // when to give up, from the start
};

struct SettleProgress {
    double distance = 0;       // pixels from the lock (0 for a dropped frame)
    double timeSec = 0;        // since the wait began
    double settleTimeSec = 0;  // time spent within `pixels` so far (0 when outside)
    bool starLocked = false;   // this frame found the star
};

struct SettleOutcome {
    bool settled = false;      // false: gave up, error says why
    std::string error;
    int totalFrames = 0;
    int droppedFrames = 0;
};

class Settler {
public:
    static constexpr const char* kTimedOut = "timed-out waiting for guider to settle";

    // Starts a new wait (replacing any under way).
    void begin(const SettleParams& params, int64_t nowUs);
    bool active() const { return active_; }

    // A guide frame: the star's distance from its lock, or nothing when the
    // frame was dropped (which restarts the time within range). Returns the
    // progress, and the outcome when the wait ends with this frame.
    SettleProgress onFrame(std::optional<double> distance, int64_t nowUs, std::optional<SettleOutcome>& done);
    // Time passing without a guide frame (guiding paused): the outcome if the
    // timeout has come.
    std::optional<SettleOutcome> onIdle(int64_t nowUs);
    // Ends the wait for another reason (guiding stopped, no star).
    SettleOutcome cancel(std::string why);

private:
    SettleOutcome finish(bool settled, std::string error);

    SettleParams params_;
    bool active_ = false;
    int64_t startUs_ = 0;
    std::optional<int64_t> inRangeSinceUs_;
    int frames_ = 0;
    int dropped_ = 0;
};
