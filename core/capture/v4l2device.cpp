// libv4l2 behind the device interface.
#include "core/capture/v4l2device.h"

#ifdef QUORVEL_HAVE_V4L2

#include <libv4l2.h>
#include <poll.h>
#include <sys/mman.h>

namespace {

class LibV4l2Device : public V4l2Device {
public:
    int open(const char* path, int flags) override { return v4l2_open(path, flags); }
    int close(int fd) override { return v4l2_close(fd); }
    int ioctl(int fd, unsigned long request, void* arg) override { return v4l2_ioctl(fd, request, arg); }
    void* mmap(size_t length, int prot, int flags, int fd, int64_t offset) override
    {
        return v4l2_mmap(nullptr, length, prot, flags, fd, offset);
    }
    int munmap(void* address, size_t length) override { return v4l2_munmap(address, length); }
    int poll(int fd, short events, int timeoutMs) override
    {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, timeoutMs);
        return n <= 0 ? n : p.revents;
    }
};

}  // namespace

std::shared_ptr<V4l2Device> libv4l2Device()
{
    return std::make_shared<LibV4l2Device>();
}

#else

std::shared_ptr<V4l2Device> libv4l2Device()
{
    return nullptr;
}

#endif
