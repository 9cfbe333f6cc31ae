// The nine entries of "Video Source": every V4L2 capture device in the order
// of its number (video2 before video10), then the cameras of other kinds
// (INDI cameras go there), then "Ciel simulé", then "(aucun)" up to nine.
// With more than eight cameras the first eight are kept: the simulated sky
// is always among the nine.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/capture/capturedriver.h"
#include "core/capture/v4l2device.h"

struct SharedState;
class MountChannel;

// Where the V4L2 devices are looked for: the system's /dev, or a fake one.
class VideoDeviceScanner {
public:
    virtual ~VideoDeviceScanner() = default;
    // Every /dev/video* node, in any order.
    virtual std::vector<std::string> videoNodes() = 0;
    // What they are opened through (nullptr: no V4L2 at all).
    virtual std::shared_ptr<V4l2Device> device() = 0;
};

// /dev through libv4l2; finds nothing when the program has no libv4l2.
std::unique_ptr<VideoDeviceScanner> systemVideoScanner();

// The V4L2 capture devices, in numeric order. A node that another program
// holds so that it cannot even be opened is listed under its path, so that
// choosing it says why it cannot be used; nodes that are not capture
// devices (metadata, codecs) are left out.
std::vector<std::unique_ptr<CaptureDriver>> v4l2Drivers(VideoDeviceScanner& scanner);

// The nine entries from the cameras (V4L2 first, then the others) and the sky.
std::vector<std::unique_ptr<CaptureDriver>> assembleCaptureEntries(
    std::vector<std::unique_ptr<CaptureDriver>> cameras, std::unique_ptr<CaptureDriver> sky);

// "Video Source" on this machine: the V4L2 devices the scanner finds, then
// extra (the INDI cameras), then a SimulatedSky on state and channel,
// padded with NoDriver. The drivers must go before state and channel.
std::vector<std::unique_ptr<CaptureDriver>> captureDrivers(
    SharedState& state, MountChannel& channel, VideoDeviceScanner& scanner,
    std::vector<std::unique_ptr<CaptureDriver>> extra = {});
