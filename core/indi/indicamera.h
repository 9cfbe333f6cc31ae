// INDI cameras as capture drivers: every device with the CCD interface on
// the INDI server is one "Video Source" entry, named after the device.
// Connecting connects the device, has its frames sent to us and exposes
// continuously, the next exposure starting as each frame arrives; grab()
// hands over the newest frame, framed (framing.h) and stretched to grey
// (stretch.h) as "Format" and "Adjust" say, and never waits for one.
//
// Threads: frames arrive and are decoded on INDI's thread; the driver's
// calls come from the program's thread and take only a short lock. Times
// (the exposures' pace, a frame's age) are the program clock's.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/capture/capturedriver.h"

class Clock;
class IndiConnection;

// Where the last picture lies on the camera: picture pixel (x, y) covers the
// camera pixels from (originX + x * scale, originY + y * scale); what the
// windows need to put the window on a star the user points at.
struct PictureOnCamera {
    double originX = 0;
    double originY = 0;
    double scale = 1;
    int frameWidth = 0;   // the camera frame, 0 before the first
    int frameHeight = 0;
};

class IndiCamera : public CaptureDriver {
public:
    // The connection and the clock must outlive the camera.
    IndiCamera(IndiConnection& connection, const Clock& clock, std::string deviceName);
    ~IndiCamera() override;

    std::string name() const override;
    std::string device() const override;  // "indi://localhost:7624/CCD Simulator"

    // Connects the server if needed and the device, asks for its frames
    // (BLOBs on, uncompressed FITS, uploaded to the client: a device that
    // saves them locally keeps doing so and sends them too, see
    // uploadModeFor) and starts the first exposure. Waits at most a few
    // seconds for the device.
    CaptureStatus connect() override;
    // Stops exposing and receiving frames; the device itself stays connected
    // for whoever else uses it.
    void disconnect() override;
    bool connected() const override;

    // NewFrame with the newest frame; NoFrame until one arrives; Lost with
    // the reason when the server or the device went away (the picture is
    // left as it was; connect() starts again).
    GrabStatus grab(Picture& picture, std::string& error) override;
    int64_t frameAgeUs() const override;

    // 0 the whole frame reduced, 1 a 320 x 240 window at full resolution,
    // 2 a 320 x 240 window at 2 x 2 binning (framing.h).
    std::vector<CaptureFormat> formats() override;
    int currentFormat() const override;
    CaptureStatus setFormat(int index) override;

    // "exposure" (ms, shown in seconds, default 1 s); "gain" and "binning"
    // when the camera offers them; "window_x", "window_y" (the window's
    // centre in camera pixels); "auto_levels" (on by default), "black" and
    // "white" (camera units; setting either turns the automatic levels off).
    std::vector<CaptureControl> controls() override;
    CaptureStatus setControl(const std::string& id, int64_t value) override;
    std::string exposureControl() const override { return "exposure"; }
    void holdExposuresUntil(int64_t clockUs) override;

    // The framed values of the last picture, before the grey stretch.
    std::shared_ptr<const std::vector<float>> pictureValues() const override;

    PictureOnCamera pictureOnCamera() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// The UPLOAD_MODE switch to turn on so that frames come to the client, given
// the one on now: a device that only saves them (UPLOAD_LOCAL) saves and
// sends them (UPLOAD_BOTH); one that sends them already (UPLOAD_CLIENT,
// UPLOAD_BOTH) is left as it is (""); anything else is asked for
// UPLOAD_CLIENT.
std::string uploadModeFor(const std::string& current);

// One IndiCamera for each device with the CCD interface on the connection's
// server, in the order the server lists them; none when no server answers
// within half a second (the connection is tried here).
std::vector<std::unique_ptr<CaptureDriver>> makeIndiCameras(IndiConnection& connection, const Clock& clock);
