// A V4L2 webcam: memory-mapped streaming through the device interface
// (libv4l2 in the program), RGB24 asked of the library whatever the camera
// sends, the newest complete frame area-averaged to 320 x 240.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/capture/areascale.h"
#include "core/capture/capturedriver.h"
#include "core/capture/v4l2device.h"

// What a /dev/video node says of itself.
struct V4l2Probe {
    bool opened = false;   // false: error holds the open's errno
    int error = 0;
    bool capture = false;  // its device caps report VIDEO_CAPTURE
    std::string card;      // "UVC Camera (046d:0825)"
};
V4l2Probe probeV4l2(V4l2Device& device, const std::string& path);

class V4l2Driver : public CaptureDriver {
public:
    static constexpr int kBufferCount = 4;

    // card is the name shown until connect() reads it again ("" shows the path).
    V4l2Driver(std::shared_ptr<V4l2Device> device, std::string path, std::string card = {});
    ~V4l2Driver() override;
    V4l2Driver(const V4l2Driver&) = delete;
    V4l2Driver& operator=(const V4l2Driver&) = delete;

    std::string name() const override { return card_.empty() ? path_ : card_; }
    std::string device() const override { return path_; }

    CaptureStatus connect() override;
    void disconnect() override;
    bool connected() const override { return fd_ >= 0; }
    GrabStatus grab(Picture& picture, std::string& error) override;

    // Every frame size of every camera format (formats libv4l2 makes up by
    // conversion left out). The library converts from the camera format it
    // finds best for the chosen size, so the size is what a choice sets.
    std::vector<CaptureFormat> formats() override;
    int currentFormat() const override { return format_; }
    CaptureStatus setFormat(int index) override;

    // id is the V4L2 control id in decimal.
    std::vector<CaptureControl> controls() override;
    CaptureStatus setControl(const std::string& id, int64_t value) override;

    // The negotiated RGB24 frame, while connected.
    int frameWidth() const { return width_; }
    int frameHeight() const { return height_; }

private:
    struct Buffer {
        void* start = nullptr;
        size_t length = 0;
    };
    int xioctl(unsigned long request, void* arg);
    CaptureStatus failure(int err) const;
    CaptureStatus failure(const std::string& what) const;
    std::vector<CaptureFormat> enumerateFormats();
    int defaultFormat() const;
    CaptureStatus startStreaming();
    void stopStreaming();
    void closeDevice();
    bool requeue(int index);
    GrabStatus lost(int err, std::string& error);

    std::shared_ptr<V4l2Device> dev_;
    std::string path_;
    std::string card_;
    int fd_ = -1;
    std::vector<CaptureFormat> formats_;
    int chosen_ = -1;   // the user's choice, kept across connections
    int format_ = -1;   // the entry matching the negotiated size
    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;
    bool buffersRequested_ = false;
    bool streaming_ = false;
    std::vector<Buffer> buffers_;
    int lostErr_ = 0;   // a requeue failed after a frame was delivered
    AreaScaler scaler_;
};
