// Settling after a "guide" or a "dither", as PHD2 settles: the imaging suite
// waits until the guider's distance from the lock (its smoothed AvgDist) has
// stayed at `pixels` or less for `time` whole seconds, or gives up after
// `timeout` whole seconds, or is done after `frames` guide frames. One Settler
// follows one such wait, a guide frame at a time, on the program clock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct SettleParams {
    static constexpr int kNoFrameLimit = 99999;
    double pixels = 1.5;       // distance from the lock that counts as settled
    double timeSec = 10;       // how long it must stay so (whole seconds count)
    double timeoutSec = 60;    // when to give up, from the start
    int frames = kNoFrameLimit; // settled after this many guide frames whatever the distance
};

struct SettleProgress {
    double distance = 0;       // pixels from the lock
    double timeInRangeSec = 0; // time spent within `pixels` so far (0 when outside)
    double settleTimeSec = 0;  // the time asked for
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

    // A guide frame: the distance from the lock and whether the frame found
    // the star (a dropped frame is never in range and starts the time in
    // range again). Returns the outcome when the wait ends with this frame;
    // otherwise the progress to report.
    std::optional<SettleOutcome> onFrame(double distance, bool starLocked, int64_t nowUs, SettleProgress& progress);
    // Time passing without a guide frame (guiding paused): the outcome if the
    // timeout has come.
    std::optional<SettleOutcome> onIdle(int64_t nowUs);
    // Ends the wait for another reason (guiding stopped, no star).
    SettleOutcome cancel(std::string why);

private:
    SettleOutcome finish(bool settled, std::string error);
    bool timedOut(int64_t nowUs) const;

    SettleParams params_;
    bool active_ = false;
    int64_t startUs_ = 0;
    bool priorInRange_ = false;
    int64_t inRangeSinceUs_ = 0;
    int frames_ = 0;
    int dropped_ = 0;
};
