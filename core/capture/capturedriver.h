// The capture drivers: where the live picture comes from. One small interface
// for every kind of camera (V4L2 webcams, INDI cameras, the simulated sky):
// describe, connect, grab the freshest frame scaled to exactly 320 x 240,
// disconnect, and the formats and controls that "Format" and "Adjust" show.
// Failures come back with their cause, in English, for the command line and
// standard error; the windows show their own French texts, and their own
// names for the formats and controls that the program itself defines.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/picture.h"

struct CaptureStatus {
    bool ok = true;
    std::string error;  // what went wrong, in English ("/dev/video0: Device or resource busy")
    int errnum = 0;     // errno behind it, when there is one
    static CaptureStatus failure(std::string why, int err = 0) { return {false, std::move(why), err}; }
};

// One choice of "Format": a frame size and pixel format the camera offers.
struct CaptureFormat {
    std::string label;  // "640 x 480 YUYV"
    int width = 0;
    int height = 0;
    uint32_t pixelFormat = 0;  // a V4L2 fourcc, or 0
    // A format of the program's own, which the windows name themselves:
    // "whole" (the frame reduced, width x height when known), "window" and
    // "window_binned" (an INDI camera's framings); "" for a device's format,
    // shown by its label.
    std::string id;
};

// One setting of "Adjust".
struct CaptureControl {
    enum class Kind { Integer, Boolean, Menu, Button };
    // Stable key for setControl. The program's own controls (an INDI
    // camera's) have word ids that the windows name themselves: "exposure",
    // "gain", "binning", "window_x", "window_y", "auto_levels", "black",
    // "white".
    std::string id;
    std::string name;    // the device's name for it, or an English one ("Brightness", "fwhm", "Exposure (s)")
    Kind kind = Kind::Integer;
    int64_t minimum = 0;
    int64_t maximum = 0;
    int64_t step = 1;
    int64_t defaultValue = 0;
    int64_t value = 0;
    double scale = 1.0;  // shown value = value * scale (the sky's real-valued parameters)
    std::vector<std::pair<int64_t, std::string>> menu;  // Menu: value and label
};

enum class GrabStatus {
    NewFrame,  // the picture holds a new frame
    NoFrame,   // nothing new yet: the picture is left as it was
    Lost,      // the device went away: the picture is left as it was; error says why
};

class CaptureDriver {
public:
    virtual ~CaptureDriver() = default;

    // The "Video Source" entry, and the device behind it ("" when none).
    virtual std::string name() const = 0;
    virtual std::string device() const { return {}; }

    virtual CaptureStatus connect() = 0;
    virtual void disconnect() = 0;
    virtual bool connected() const = 0;

    // The freshest frame, never a stale queued one, scaled to 320 x 240 by
    // area averaging into picture. Never blocks for a frame.
    virtual GrabStatus grab(Picture& picture, std::string& error) = 0;

    // How long ago the exposure of the frame last grabbed began, in
    // microseconds; -1 when the frame shows the moment of the grab (a
    // webcam's stream, the simulated sky). A camera with long exposures
    // (INDI) says it, so that no measurement is made on a frame exposed
    // while the mount was still moving from the last correction.
    virtual int64_t frameAgeUs() const { return -1; }

    // The mount moves until clockUs (program clock, microseconds). A camera
    // that makes its own exposures drops the one under way, which the move
    // would spoil and no cycle would measure, and begins the next once the
    // move is over: a correction then costs its pulse, not a whole exposure
    // more. A webcam's stream goes on.
    virtual void holdExposuresUntil(int64_t /*clockUs*/) {}

    // The camera's own values of the picture last grabbed, before they
    // were turned into grey levels (an INDI camera's ADUs, averaged over the
    // camera pixels each picture pixel covers): Picture::width *
    // Picture::height of them, top row first, NaN where no camera pixel
    // falls. Null when the grey picture is all the camera gives (a webcam,
    // the simulated sky). They tell a bright star from a faint one when the
    // picture saturates both.
    virtual std::shared_ptr<const std::vector<float>> pictureValues() const { return nullptr; }

    // The id of the control (controls(), setControl) that is the exposure
    // of every frame, in milliseconds; "" when frames come at the pace of
    // the camera's own stream (a webcam, whose exposure control only makes
    // the picture brighter, and the simulated sky).
    virtual std::string exposureControl() const { return {}; }

    virtual std::vector<CaptureFormat> formats() { return {}; }
    virtual int currentFormat() const { return -1; }
    virtual CaptureStatus setFormat(int /*index*/) { return CaptureStatus::failure("no format to choose"); }

    virtual std::vector<CaptureControl> controls() { return {}; }
    virtual CaptureStatus setControl(const std::string& /*id*/, int64_t /*value*/)
    {
        return CaptureStatus::failure("no such control");
    }
};

// The entry that pads "Video Source" to nine: visible, and refuses to connect.
class NoDriver : public CaptureDriver {
public:
    std::string name() const override { return "(aucun)"; }
    CaptureStatus connect() override { return CaptureStatus::failure("no capture driver at this entry"); }
    void disconnect() override {}
    bool connected() const override { return false; }
    GrabStatus grab(Picture&, std::string& error) override
    {
        error = "not connected";
        return GrabStatus::NoFrame;
    }
};

inline constexpr int kCaptureEntries = 9;
