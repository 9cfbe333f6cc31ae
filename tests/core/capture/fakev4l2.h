// A fake V4L2 device node set behind the device interface: cameras with
// formats, sizes and controls, memory-mapped buffers that a test fills one
// frame at a time, and the failures of a real camera (busy, unplugged).
// It answers S_FMT for RGB24 the way libv4l2 does (the nearest size, RGB24).
#pragma once

#include <linux/videodev2.h>
#include <poll.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/capture/drivers.h"
#include "core/capture/v4l2device.h"

struct FakeCamera {
    struct Format {
        uint32_t fourcc = V4L2_PIX_FMT_YUYV;
        std::vector<std::pair<int, int>> sizes;
        std::optional<v4l2_frmsize_stepwise> stepwise;
        bool emulated = false;
    };
    struct Control {
        v4l2_queryctrl query{};
        int32_t value = 0;
        std::vector<std::string> menu;
    };
    std::string card = "UVC Camera (046d:0825)";
    uint32_t caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    int openError = 0;
    std::vector<Format> formats{{V4L2_PIX_FMT_YUYV, {{640, 480}, {320, 240}}, {}, false}};
    std::vector<Control> controls;
};

class FakeV4l2Device : public V4l2Device {
public:
    static constexpr int64_t kOffsetStep = 1 << 24;

    std::map<std::string, FakeCamera> nodes;
    std::map<unsigned long, int> failures;  // ioctl request -> errno, until erased
    int unplugged = 0;                     // errno of every call once the camera is gone
    int unplugAfterCalls = -1;             // >= 0: unplugged (ENODEV) at that many more calls
    int calls = 0;                         // open, ioctl, mmap and poll calls so far
    int stridePad = 0;                     // bytes past each row

    // What the driver did.
    std::optional<v4l2_format> askedFormat;  // the last S_FMT as asked
    v4l2_format format{};
    int openFds = 0;
    int mappings = 0;
    int streamOns = 0;
    bool streaming = false;

    // The camera finishes the oldest queued buffer: every byte of the frame
    // from fill(x, y, channel). Returns its index, -1 with none queued.
    template <class Fill>
    int produce(Fill fill, uint32_t flags = 0)
    {
        if (!streaming || queued_.empty())
            return -1;
        const int i = queued_.front();
        queued_.pop_front();
        std::vector<uint8_t>& b = buffers_[i];
        const int w = int(format.fmt.pix.width), h = int(format.fmt.pix.height);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c)
                    b[size_t(y) * format.fmt.pix.bytesperline + x * 3 + c] = fill(x, y, c);
        done_.push_back({i, flags});
        return i;
    }
    int produceGrey(uint8_t v, uint32_t flags = 0)
    {
        return produce([v](int, int, int) { return v; }, flags);
    }
    size_t queuedCount() const { return queued_.size(); }
    size_t doneCount() const { return done_.size(); }
    size_t bufferCount() const { return buffers_.size(); }

    int open(const char* path, int) override
    {
        countCall();
        auto it = nodes.find(path);
        if (it == nodes.end())
            return fail(ENOENT);
        if (it->second.openError)
            return fail(it->second.openError);
        if (unplugged)
            return fail(unplugged);
        camera_ = &it->second;
        ++openFds;
        return 40 + openFds;
    }
    int close(int) override
    {
        // The last close frees the buffers, as the kernel does.
        if (--openFds == 0) {
            buffers_.clear();
            queued_.clear();
            done_.clear();
            streaming = false;
        }
        return 0;
    }
    void* mmap(size_t length, int, int, int, int64_t offset) override
    {
        countCall();
        const size_t i = size_t(offset / kOffsetStep);
        if (unplugged || i >= buffers_.size() || length > buffers_[i].size()) {
            errno = unplugged ? unplugged : EINVAL;
            return MAP_FAILED;
        }
        ++mappings;
        return buffers_[i].data();
    }
    int munmap(void*, size_t) override
    {
        --mappings;
        return 0;
    }
    int poll(int, short, int) override
    {
        countCall();
        if (unplugged)
            return POLLERR | POLLHUP;
        return done_.empty() ? 0 : POLLIN;
    }

    int ioctl(int, unsigned long request, void* arg) override
    {
        countCall();
        if (auto f = failures.find(request); f != failures.end())
            return fail(f->second);
        if (unplugged)
            return fail(unplugged);
        switch (request) {
        case VIDIOC_QUERYCAP: {
            auto* cap = static_cast<v4l2_capability*>(arg);
            std::memset(cap, 0, sizeof *cap);
            std::memcpy(cap->card, camera_->card.c_str(), std::min(camera_->card.size(), sizeof cap->card));
            cap->device_caps = camera_->caps;
            cap->capabilities = camera_->caps | V4L2_CAP_DEVICE_CAPS;
            return 0;
        }
        case VIDIOC_ENUM_FMT: {
            auto* d = static_cast<v4l2_fmtdesc*>(arg);
            if (d->index >= camera_->formats.size())
                return fail(EINVAL);
            d->pixelformat = camera_->formats[d->index].fourcc;
            d->flags = camera_->formats[d->index].emulated ? V4L2_FMT_FLAG_EMULATED : 0;
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            auto* s = static_cast<v4l2_frmsizeenum*>(arg);
            for (const FakeCamera::Format& f : camera_->formats) {
                if (f.fourcc != s->pixel_format)
                    continue;
                if (f.stepwise && s->index == 0) {
                    s->type = V4L2_FRMSIZE_TYPE_STEPWISE;
                    s->stepwise = *f.stepwise;
                    return 0;
                }
                if (f.stepwise || s->index >= f.sizes.size())
                    return fail(EINVAL);
                s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
                s->discrete.width = uint32_t(f.sizes[s->index].first);
                s->discrete.height = uint32_t(f.sizes[s->index].second);
                return 0;
            }
            return fail(EINVAL);
        }
        case VIDIOC_G_FMT: *static_cast<v4l2_format*>(arg) = format; return 0;
        case VIDIOC_S_FMT: return setFormat(*static_cast<v4l2_format*>(arg));
        case VIDIOC_REQBUFS: {
            auto* r = static_cast<v4l2_requestbuffers*>(arg);
            if (streaming)
                return fail(EBUSY);
            buffers_.clear();
            queued_.clear();
            done_.clear();
            r->count = std::min(r->count, 8u);
            buffers_.assign(r->count, std::vector<uint8_t>(format.fmt.pix.sizeimage));
            return 0;
        }
        case VIDIOC_QUERYBUF: {
            auto* b = static_cast<v4l2_buffer*>(arg);
            if (b->index >= buffers_.size())
                return fail(EINVAL);
            b->length = uint32_t(buffers_[b->index].size());
            b->m.offset = uint32_t(b->index * kOffsetStep);
            return 0;
        }
        case VIDIOC_QBUF: {
            auto* b = static_cast<v4l2_buffer*>(arg);
            if (b->index >= buffers_.size() || owned(int(b->index)))
                return fail(EINVAL);
            queued_.push_back(int(b->index));
            return 0;
        }
        case VIDIOC_DQBUF: {
            if (done_.empty())
                return fail(EAGAIN);
            auto* b = static_cast<v4l2_buffer*>(arg);
            b->index = uint32_t(done_.front().first);
            b->flags = done_.front().second;
            b->bytesused = format.fmt.pix.sizeimage;
            done_.pop_front();
            return 0;
        }
        case VIDIOC_STREAMON:
            streaming = true;
            ++streamOns;
            return 0;
        case VIDIOC_STREAMOFF:
            streaming = false;
            queued_.clear();
            done_.clear();
            return 0;
        case VIDIOC_QUERYCTRL: return queryControl(*static_cast<v4l2_queryctrl*>(arg));
        case VIDIOC_QUERYMENU: {
            auto* m = static_cast<v4l2_querymenu*>(arg);
            const FakeCamera::Control* c = control(m->id);
            if (!c || m->index >= c->menu.size() || c->menu[m->index].empty())
                return fail(EINVAL);
            std::strncpy(reinterpret_cast<char*>(m->name), c->menu[m->index].c_str(), sizeof m->name);
            return 0;
        }
        case VIDIOC_G_CTRL:
        case VIDIOC_S_CTRL: {
            auto* v = static_cast<v4l2_control*>(arg);
            FakeCamera::Control* c = control(v->id);
            if (!c)
                return fail(EINVAL);
            if (request == VIDIOC_G_CTRL) {
                v->value = c->value;
                return 0;
            }
            if (v->value < c->query.minimum || v->value > c->query.maximum)
                return fail(ERANGE);
            c->value = v->value;
            return 0;
        }
        default: return fail(ENOTTY);
        }
    }

    FakeCamera::Control* control(uint32_t id)
    {
        for (FakeCamera::Control& c : camera_->controls)
            if (c.query.id == id)
                return &c;
        return nullptr;
    }

private:
    void countCall()
    {
        ++calls;
        if (unplugAfterCalls >= 0 && unplugAfterCalls-- == 0)
            unplugged = ENODEV;
    }
    static int fail(int err)
    {
        errno = err;
        return -1;
    }
    bool owned(int i) const
    {
        for (int q : queued_)
            if (q == i)
                return true;
        for (auto d : done_)
            if (d.first == i)
                return true;
        return false;
    }
    int setFormat(v4l2_format& f)
    {
        askedFormat = f;
        if (!buffers_.empty())
            return fail(EBUSY);
        // The nearest size the camera has, converted to RGB24.
        int bestW = int(f.fmt.pix.width), bestH = int(f.fmt.pix.height);
        long best = -1;
        for (const FakeCamera::Format& fmt : camera_->formats)
            for (auto [w, h] : fmt.sizes) {
                const long d = std::labs(long(w) - long(f.fmt.pix.width)) + std::labs(long(h) - long(f.fmt.pix.height));
                if (best < 0 || d < best) {
                    best = d;
                    bestW = w;
                    bestH = h;
                }
            }
        f.fmt.pix.width = uint32_t(bestW);
        f.fmt.pix.height = uint32_t(bestH);
        f.fmt.pix.pixelformat = V4L2_PIX_FMT_RGB24;
        f.fmt.pix.bytesperline = uint32_t(bestW * 3 + stridePad);
        f.fmt.pix.sizeimage = f.fmt.pix.bytesperline * uint32_t(bestH);
        format = f;
        return 0;
    }
    int queryControl(v4l2_queryctrl& q)
    {
        const bool next = q.id & V4L2_CTRL_FLAG_NEXT_CTRL;
        const uint32_t id = q.id & ~V4L2_CTRL_FLAG_NEXT_CTRL;
        const FakeCamera::Control* found = nullptr;
        for (const FakeCamera::Control& c : camera_->controls) {
            if (next ? c.query.id > id && (!found || c.query.id < found->query.id) : c.query.id == id)
                found = &c;
        }
        if (!found)
            return fail(EINVAL);
        q = found->query;
        return 0;
    }

    FakeCamera* camera_ = nullptr;
    std::vector<std::vector<uint8_t>> buffers_;
    std::deque<int> queued_;
    std::deque<std::pair<int, uint32_t>> done_;
};

// The nodes of a fake /dev, opened through a fake device.
class FakeScanner : public VideoDeviceScanner {
public:
    explicit FakeScanner(std::shared_ptr<FakeV4l2Device> d) : device_(std::move(d)) {}
    std::vector<std::string> videoNodes() override
    {
        std::vector<std::string> out;
        for (const auto& [path, camera] : device_->nodes)
            out.push_back(path);
        return out;  // lexical: video10 before video2
    }
    std::shared_ptr<V4l2Device> device() override { return device_; }

private:
    std::shared_ptr<FakeV4l2Device> device_;
};
