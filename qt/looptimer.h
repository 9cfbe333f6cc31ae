// The guider's one loop on a QtCore event loop: a tick of the acquisition
// loop every 200 ms while a camera is connected. The window, `quorvel guide`
// and `quorvel serve` each run one; what differs between them listens to the
// acquisition loop's ticks. A camera lost stops the ticks in all three:
// nothing comes until a camera is connected again.
#pragma once

#include <QTimer>

#include <optional>

#include "core/capture/acquisition.h"

class LoopTimer {
public:
    explicit LoopTimer(AcquisitionLoop& loop);
    ~LoopTimer();
    LoopTimer(const LoopTimer&) = delete;
    LoopTimer& operator=(const LoopTimer&) = delete;

    // Every connection puts the camera in this format first (nothing: the
    // camera keeps the format it has).
    void setFormat(std::optional<int> format) { format_ = format; }

    // Connects capture entry `index` and starts the ticks; the cause when
    // the camera cannot be connected (or put in its format).
    CaptureStatus connect(int index);
    // Starts the ticks of a camera already connected.
    void start() { timer_.start(); }
    // Stops the ticks and disconnects the camera.
    void disconnect();

    bool active() const { return timer_.isActive(); }
    int intervalMs() const { return timer_.interval(); }
    // One tick now, as the timer gives them.
    AcquisitionLoop::Tick tick();

private:
    AcquisitionLoop& loop_;
    QTimer timer_;
    std::optional<int> format_;
    int listener_ = 0;
};
