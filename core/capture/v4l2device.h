// The calls a V4L2 webcam is driven through, as one small interface: libv4l2
// in the program (which converts every camera format to the RGB24 we ask
// for), a fake device in the tests. Each call has the meaning and the error
// convention of the system call it stands for: -1 (MAP_FAILED for mmap) with
// errno set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class V4l2Device {
public:
    virtual ~V4l2Device() = default;
    virtual int open(const char* path, int flags) = 0;
    virtual int close(int fd) = 0;
    virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual void* mmap(size_t length, int prot, int flags, int fd, int64_t offset) = 0;
    virtual int munmap(void* address, size_t length) = 0;
    // poll(2) on the one descriptor: the events that occurred, 0 when none
    // did within timeoutMs, -1 on failure.
    virtual int poll(int fd, short events, int timeoutMs) = 0;
};

// libv4l2, or nullptr when the program was built without it.
std::shared_ptr<V4l2Device> libv4l2Device();
