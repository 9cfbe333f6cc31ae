// The acquisition loop: the one loop of the guider. Every tick grabs the
// freshest frame of the connected capture driver into the screen picture,
// takes an armed dark frame from it, and runs a measurement cycle when more
// than 1000 ms have passed since the last one, on a frame no cycle measured
// yet. The screen picture holds only what the camera gave: the window paints
// its marks over it when it shows it. The main window's 200 ms timer and the
// headless guider drive the same object. Connecting a driver ("Source") is here too, so the windows and
// the command line choose and connect cameras the same way.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/capture/capturedriver.h"

struct SharedState;
class GuidingSession;
struct CycleResult;

using CaptureDriverList = std::vector<std::unique_ptr<CaptureDriver>>;

class AcquisitionLoop {
public:
    static constexpr int kTickMs = 200;
    static constexpr int kCycleMs = 1000;

    // scan builds the entries of "Video Source" (nine, padded with "(aucun)").
    AcquisitionLoop(SharedState& state, GuidingSession& session, std::function<CaptureDriverList()> scan);
    ~AcquisitionLoop();
    AcquisitionLoop(const AcquisitionLoop&) = delete;
    AcquisitionLoop& operator=(const AcquisitionLoop&) = delete;

    // Another way to find the entries (tests); rescanned at the next use.
    void setScan(std::function<CaptureDriverList()> scan);

    // The entries as last scanned (scanned on first use).
    const CaptureDriverList& drivers();
    // Looks for cameras again; only while nothing is connected.
    void rescan();

    // Connects entry `index` (driverIndex): on success lastAnalysisTime is
    // the clock and captureRunning is set, so the first cycle comes on the
    // first tick more than 1000 ms later; on failure captureRunning is false
    // and the cause is returned.
    CaptureStatus connect(int index);
    // Disconnects the driver that is connected, if any; captureRunning false.
    void disconnect();
    CaptureDriver* connected() const { return current_; }

    struct Tick {
        GrabStatus grab = GrabStatus::NoFrame;
        std::string error;             // why the camera was lost (grab == Lost)
        bool darkTaken = false;        // the armed dark frame was taken from this frame
        const CycleResult* cycle = nullptr;  // a measurement cycle ran
    };
    // One tick, then every tick listener with it: grab, the armed dark
    // frame, the measurement cycle when due:
    // more than 1000 ms after the last one, on a frame that came since the
    // last cycle (a camera exposing for seconds gives one every few ticks),
    // and whose exposure began after the last correction's pulses were over
    // (a camera with long exposures may have to wait a tick or more for one).
    // A camera lost while running is disconnected (captureRunning false) and
    // ends the guiding (nothing can be measured any more); the picture keeps
    // its last frame.
    Tick tick();

    // Called after every tick, in the order added: what the windows, the
    // event server and the headless commands each do with a tick (showing
    // it, its events, photographs, placing the region on a star).
    int addTickListener(std::function<void(const Tick&)> listener);
    void removeTickListener(int id);

    // The frame as the camera gave it.
    const Picture& lastFrame() const;
    // The camera's own values of that frame (CaptureDriver::pictureValues),
    // laid out as the picture; nullptr when the camera gives none.
    const float* lastValues() const { return lastValues_ ? lastValues_->data() : nullptr; }
    // Program clock, microseconds: when the exposure of that frame began.
    int64_t frameExposedUs() const { return frameExposedUs_; }

private:
    SharedState& state_;
    GuidingSession& session_;
    std::function<CaptureDriverList()> scan_;
    CaptureDriverList drivers_;
    bool scanned_ = false;
    CaptureDriver* current_ = nullptr;
    std::shared_ptr<const std::vector<float>> lastValues_;
    struct Listener {
        int id;
        std::function<void(const Tick&)> call;
    };
    std::vector<Listener> listeners_;
    int nextListener_ = 1;
    int64_t frameExposedUs_ = 0;  // program clock: when the picture's exposure began
    uint64_t frames_ = 0;         // frames grabbed since the connection
    uint64_t measuredFrame_ = 0;  // the frame the last cycle measured
    int64_t heldUntilUs_ = 0;     // the end of the last move the camera was told of

    void holdForMove();
};
