// V4L2 webcams through the device interface.
#include "core/capture/v4l2driver.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>

namespace {

std::string fixedString(const uint8_t* chars, size_t size)
{
    const char* s = reinterpret_cast<const char*>(chars);
    return std::string(s, strnlen(s, size));
}

std::string fourccText(uint32_t fourcc)
{
    std::string s;
    for (int i = 0; i < 4; ++i) {
        const char c = char((fourcc >> (8 * i)) & 0xff);
        s += (c >= 0x21 && c <= 0x7e) || c == ' ' ? c : '?';
    }
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

CaptureFormat makeFormat(int width, int height, uint32_t pixelFormat)
{
    CaptureFormat f;
    f.width = width;
    f.height = height;
    f.pixelFormat = pixelFormat;
    f.label = std::to_string(width) + " x " + std::to_string(height) + " " + fourccText(pixelFormat);
    return f;
}

// The sizes offered from a stepwise or continuous range: the usual webcam
// sizes that fit the range and its steps, or its two ends when none does.
std::vector<std::pair<int, int>> stepwiseSizes(const v4l2_frmsize_stepwise& s)
{
    static constexpr std::pair<int, int> usual[] = {{160, 120},  {320, 240},  {352, 288},
                                                    {640, 480},  {800, 600},  {1024, 768},
                                                    {1280, 720}, {1280, 960}, {1920, 1080}};
    const auto fits = [](uint32_t v, uint32_t lo, uint32_t hi, uint32_t step) {
        return v >= lo && v <= hi && (step <= 1 || (v - lo) % step == 0);
    };
    std::vector<std::pair<int, int>> out;
    for (auto [w, h] : usual) {
        if (fits(w, s.min_width, s.max_width, s.step_width) && fits(h, s.min_height, s.max_height, s.step_height))
            out.push_back({w, h});
    }
    if (out.empty()) {
        out.push_back({int(s.min_width), int(s.min_height)});
        if (s.max_width != s.min_width || s.max_height != s.min_height)
            out.push_back({int(s.max_width), int(s.max_height)});
    }
    return out;
}

bool lostCause(int err)
{
    return err != EAGAIN && err != EINTR;
}

}  // namespace

V4l2Probe probeV4l2(V4l2Device& device, const std::string& path)
{
    V4l2Probe probe;
    const int fd = device.open(path.c_str(), O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        probe.error = errno;
        return probe;
    }
    probe.opened = true;
    v4l2_capability cap{};
    if (device.ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0) {
        const uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
        probe.capture = (caps & V4L2_CAP_VIDEO_CAPTURE) != 0;
        probe.card = fixedString(cap.card, sizeof cap.card);
    } else {
        probe.error = errno;
    }
    device.close(fd);
    return probe;
}

V4l2Driver::V4l2Driver(std::shared_ptr<V4l2Device> device, std::string path, std::string card)
    : dev_(std::move(device)), path_(std::move(path)), card_(std::move(card))
{
}

V4l2Driver::~V4l2Driver()
{
    disconnect();
}

int V4l2Driver::xioctl(unsigned long request, void* arg)
{
    int r;
    do {
        r = dev_->ioctl(fd_, request, arg);
    } while (r < 0 && errno == EINTR);
    return r;
}

CaptureStatus V4l2Driver::failure(int err) const
{
    return CaptureStatus::failure(path_ + ": " + std::strerror(err), err);
}

CaptureStatus V4l2Driver::failure(const std::string& what) const
{
    return CaptureStatus::failure(path_ + ": " + what);
}

CaptureStatus V4l2Driver::connect()
{
    if (connected())
        return {};
    if (!dev_)
        return failure("this program was built without libv4l2");
    lostErr_ = 0;
    fd_ = dev_->open(path_.c_str(), O_RDWR | O_NONBLOCK);
    if (fd_ < 0)
        return failure(errno);

    CaptureStatus status;
    v4l2_capability cap{};
    if (xioctl(VIDIOC_QUERYCAP, &cap) < 0) {
        status = failure(errno);
    } else {
        const uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
        if (!(caps & V4L2_CAP_VIDEO_CAPTURE))
            status = failure("not a video capture device");
        else if (!(caps & V4L2_CAP_STREAMING))
            status = failure("the device cannot stream");
        if (const std::string card = fixedString(cap.card, sizeof cap.card); !card.empty())
            card_ = card;
    }
    if (status.ok) {
        formats_ = enumerateFormats();
        status = startStreaming();
    }
    if (!status.ok)
        closeDevice();
    return status;
}

std::vector<CaptureFormat> V4l2Driver::enumerateFormats()
{
    std::vector<CaptureFormat> out;
    for (uint32_t i = 0; i < 64; ++i) {
        v4l2_fmtdesc desc{};
        desc.index = i;
        desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (xioctl(VIDIOC_ENUM_FMT, &desc) < 0)
            break;
        if (desc.flags & V4L2_FMT_FLAG_EMULATED)
            continue;
        for (uint32_t k = 0; k < 256; ++k) {
            v4l2_frmsizeenum size{};
            size.index = k;
            size.pixel_format = desc.pixelformat;
            if (xioctl(VIDIOC_ENUM_FRAMESIZES, &size) < 0)
                break;
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                out.push_back(makeFormat(int(size.discrete.width), int(size.discrete.height), desc.pixelformat));
            } else {
                for (auto [w, h] : stepwiseSizes(size.stepwise))
                    out.push_back(makeFormat(w, h, desc.pixelformat));
                break;  // a range is the only entry
            }
        }
    }
    return out;
}

int V4l2Driver::defaultFormat() const
{
    // The largest size up to 640 x 480 (more is only averaged away, and costs
    // bandwidth and frame rate), else the smallest there is.
    int best = -1;
    for (int i = 0; i < int(formats_.size()); ++i) {
        const CaptureFormat& f = formats_[i];
        if (f.width > 640 || f.height > 480)
            continue;
        if (best < 0 || int64_t(f.width) * f.height > int64_t(formats_[best].width) * formats_[best].height)
            best = i;
    }
    if (best >= 0)
        return best;
    for (int i = 0; i < int(formats_.size()); ++i) {
        if (best < 0 || int64_t(formats_[i].width) * formats_[i].height <
                            int64_t(formats_[best].width) * formats_[best].height)
            best = i;
    }
    return best;
}

CaptureStatus V4l2Driver::startStreaming()
{
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    const int wanted = chosen_ >= 0 && chosen_ < int(formats_.size()) ? chosen_ : defaultFormat();
    if (wanted >= 0) {
        fmt.fmt.pix.width = uint32_t(formats_[wanted].width);
        fmt.fmt.pix.height = uint32_t(formats_[wanted].height);
    } else if (xioctl(VIDIOC_G_FMT, &fmt) < 0) {
        return failure(errno);
    }
    fmt.fmt.pix.pixelformat = V4L2_PIX_FMT_RGB24;
    fmt.fmt.pix.field = V4L2_FIELD_ANY;
    fmt.fmt.pix.bytesperline = 0;
    if (xioctl(VIDIOC_S_FMT, &fmt) < 0)
        return failure(errno);
    if (fmt.fmt.pix.pixelformat != V4L2_PIX_FMT_RGB24)
        return failure("the camera gives no RGB24 picture (" + fourccText(fmt.fmt.pix.pixelformat) + ")");
    width_ = int(fmt.fmt.pix.width);
    height_ = int(fmt.fmt.pix.height);
    stride_ = fmt.fmt.pix.bytesperline ? int(fmt.fmt.pix.bytesperline) : width_ * 3;
    if (width_ <= 0 || height_ <= 0 || width_ > 16384 || height_ > 16384 || stride_ < width_ * 3)
        return failure("unusable frame size " + std::to_string(width_) + " x " + std::to_string(height_));

    format_ = -1;
    for (int i = 0; i < int(formats_.size()); ++i) {
        if (formats_[i].width == width_ && formats_[i].height == height_ && (format_ < 0 || i == wanted))
            format_ = i;
    }

    v4l2_requestbuffers req{};
    req.count = kBufferCount;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    if (xioctl(VIDIOC_REQBUFS, &req) < 0)
        return failure(errno);
    buffersRequested_ = true;
    if (req.count < 2) {
        stopStreaming();
        return failure("the camera gives too few capture buffers");
    }
    for (uint32_t i = 0; i < req.count; ++i) {
        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        buf.index = i;
        if (xioctl(VIDIOC_QUERYBUF, &buf) < 0) {
            const int err = errno;
            stopStreaming();
            return failure(err);
        }
        void* start = dev_->mmap(buf.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, buf.m.offset);
        if (start == MAP_FAILED) {
            const int err = errno;
            stopStreaming();
            return failure(err);
        }
        buffers_.push_back({start, buf.length});
    }
    for (int i = 0; i < int(buffers_.size()); ++i) {
        if (!requeue(i)) {
            const int err = errno;
            stopStreaming();
            return failure(err);
        }
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(VIDIOC_STREAMON, &type) < 0) {
        const int err = errno;
        stopStreaming();
        return failure(err);
    }
    streaming_ = true;
    return {};
}

void V4l2Driver::stopStreaming()
{
    if (streaming_) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        xioctl(VIDIOC_STREAMOFF, &type);
        streaming_ = false;
    }
    for (const Buffer& b : buffers_)
        dev_->munmap(b.start, b.length);
    buffers_.clear();
    if (buffersRequested_) {
        v4l2_requestbuffers req{};
        req.count = 0;
        req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        req.memory = V4L2_MEMORY_MMAP;
        xioctl(VIDIOC_REQBUFS, &req);
        buffersRequested_ = false;
    }
}

void V4l2Driver::closeDevice()
{
    stopStreaming();
    if (fd_ >= 0)
        dev_->close(fd_);
    fd_ = -1;
    width_ = height_ = stride_ = 0;
}

void V4l2Driver::disconnect()
{
    closeDevice();
    lostErr_ = 0;
}

bool V4l2Driver::requeue(int index)
{
    v4l2_buffer buf{};
    buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buf.memory = V4L2_MEMORY_MMAP;
    buf.index = uint32_t(index);
    return xioctl(VIDIOC_QBUF, &buf) == 0;
}

GrabStatus V4l2Driver::lost(int err, std::string& error)
{
    closeDevice();
    lostErr_ = 0;
    error = err ? path_ + ": " + std::strerror(err) : path_ + ": the camera stopped answering";
    return GrabStatus::Lost;
}

GrabStatus V4l2Driver::grab(Picture& picture, std::string& error)
{
    if (!connected()) {
        error = "not connected";
        return GrabStatus::NoFrame;
    }
    if (lostErr_)
        return lost(lostErr_, error);

    const int events = dev_->poll(fd_, POLLIN, 0);
    if (events < 0)
        return errno == EINTR ? GrabStatus::NoFrame : lost(errno, error);
    if (events == 0)
        return GrabStatus::NoFrame;
    const bool pollError = (events & (POLLERR | POLLHUP | POLLNVAL)) != 0;

    // Take every frame that is ready; only the last complete one is kept,
    // each older one goes straight back to the camera.
    const size_t need = size_t(stride_) * size_t(height_ - 1) + size_t(width_) * 3;
    int newest = -1;
    for (;;) {
        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        if (xioctl(VIDIOC_DQBUF, &buf) < 0) {
            if (lostCause(errno))
                return lost(errno, error);
            break;
        }
        if (buf.index >= buffers_.size())
            return lost(EIO, error);
        const size_t used = buf.bytesused ? buf.bytesused : buf.length;
        const bool complete = !(buf.flags & V4L2_BUF_FLAG_ERROR) && used >= need &&
                              buffers_[buf.index].length >= need;
        const int older = complete ? newest : int(buf.index);
        if (complete)
            newest = int(buf.index);
        if (older >= 0 && !requeue(older))
            return lost(errno, error);
    }
    if (newest < 0) {
        if (pollError)
            return lost(0, error);
        return GrabStatus::NoFrame;
    }

    SourceFrame frame;
    frame.data = static_cast<const uint8_t*>(buffers_[newest].start);
    frame.width = width_;
    frame.height = height_;
    frame.strideBytes = stride_;
    frame.layout = SourceLayout::Rgb24;
    scaler_.scale(frame, picture);
    // The frame is in the picture: a camera that will not take its buffer
    // back is reported at the next grab.
    if (!requeue(newest))
        lostErr_ = errno ? errno : EIO;
    return GrabStatus::NewFrame;
}

std::vector<CaptureFormat> V4l2Driver::formats()
{
    if (connected() || !dev_)
        return formats_;
    fd_ = dev_->open(path_.c_str(), O_RDWR | O_NONBLOCK);
    if (fd_ < 0)
        return formats_;
    formats_ = enumerateFormats();
    closeDevice();
    return formats_;
}

CaptureStatus V4l2Driver::setFormat(int index)
{
    const std::vector<CaptureFormat> list = formats();
    if (index < 0 || index >= int(list.size()))
        return CaptureStatus::failure("no format " + std::to_string(index));
    chosen_ = index;
    if (!connected()) {
        format_ = index;
        return {};
    }
    stopStreaming();
    const CaptureStatus status = startStreaming();
    if (!status.ok)
        closeDevice();
    return status;
}

std::vector<CaptureControl> V4l2Driver::controls()
{
    std::vector<CaptureControl> out;
    if (!connected())
        return out;
    uint32_t next = V4L2_CTRL_FLAG_NEXT_CTRL;
    for (int guard = 0; guard < 1024; ++guard) {
        v4l2_queryctrl q{};
        q.id = next;
        if (xioctl(VIDIOC_QUERYCTRL, &q) < 0)
            break;
        if ((q.id & ~V4L2_CTRL_FLAG_NEXT_CTRL) <= (next & ~V4L2_CTRL_FLAG_NEXT_CTRL) && guard > 0)
            break;  // a driver that does not move on
        next = q.id | V4L2_CTRL_FLAG_NEXT_CTRL;
        if (q.flags & V4L2_CTRL_FLAG_DISABLED)
            continue;

        CaptureControl c;
        switch (q.type) {
        case V4L2_CTRL_TYPE_INTEGER: c.kind = CaptureControl::Kind::Integer; break;
        case V4L2_CTRL_TYPE_BOOLEAN: c.kind = CaptureControl::Kind::Boolean; break;
        case V4L2_CTRL_TYPE_MENU:
        case V4L2_CTRL_TYPE_INTEGER_MENU: c.kind = CaptureControl::Kind::Menu; break;
        case V4L2_CTRL_TYPE_BUTTON: c.kind = CaptureControl::Kind::Button; break;
        default: continue;  // classes, strings, 64-bit and compound controls
        }
        c.id = std::to_string(q.id);
        c.name = fixedString(q.name, sizeof q.name);
        c.minimum = q.minimum;
        c.maximum = q.maximum;
        c.step = q.step;
        c.defaultValue = q.default_value;
        c.value = q.default_value;
        if (c.kind != CaptureControl::Kind::Button && !(q.flags & V4L2_CTRL_FLAG_WRITE_ONLY)) {
            v4l2_control value{};
            value.id = q.id;
            if (xioctl(VIDIOC_G_CTRL, &value) == 0)
                c.value = value.value;
        }
        if (c.kind == CaptureControl::Kind::Menu) {
            for (int64_t i = std::max<int64_t>(q.minimum, 0); i <= q.maximum && i - q.minimum < 256; ++i) {
                v4l2_querymenu m{};
                m.id = q.id;
                m.index = uint32_t(i);
                if (xioctl(VIDIOC_QUERYMENU, &m) < 0)
                    continue;  // a gap in the menu
                c.menu.push_back({i, q.type == V4L2_CTRL_TYPE_MENU ? fixedString(m.name, sizeof m.name)
                                                                     : std::to_string(m.value)});
            }
        }
        out.push_back(std::move(c));
    }
    return out;
}

CaptureStatus V4l2Driver::setControl(const std::string& id, int64_t value)
{
    if (!connected())
        return failure("not connected");
    uint32_t ctrl = 0;
    const auto [end, ec] = std::from_chars(id.data(), id.data() + id.size(), ctrl);
    if (ec != std::errc() || end != id.data() + id.size() || id.empty())
        return failure("no control '" + id + "'");
    if (value < INT32_MIN || value > INT32_MAX)
        return failure("value " + std::to_string(value) + " out of range for control " + id);
    v4l2_control c{};
    c.id = ctrl;
    c.value = int32_t(value);
    if (xioctl(VIDIOC_S_CTRL, &c) < 0)
        return failure(errno);
    return {};
}
