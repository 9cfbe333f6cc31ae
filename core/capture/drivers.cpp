// The entries of "Video Source".
#include "core/capture/drivers.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "core/capture/simsky.h"
#include "core/capture/v4l2driver.h"

namespace {

class SystemVideoScanner : public VideoDeviceScanner {
public:
    std::vector<std::string> videoNodes() override
    {
        std::vector<std::string> out;
        if (!device_)
            return out;
        std::error_code ec;
        for (std::filesystem::directory_iterator it("/dev", ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.rfind("video", 0) == 0)
                out.push_back(it->path().string());
        }
        return out;
    }
    std::shared_ptr<V4l2Device> device() override { return device_; }

private:
    std::shared_ptr<V4l2Device> device_ = libv4l2Device();
};

// The number after "video" (video2 -> 2); -1 when the name has none.
long nodeNumber(const std::string& path)
{
    const size_t at = path.rfind("video");
    if (at == std::string::npos || at + 5 >= path.size() || path.size() - at - 5 > 9)
        return -1;
    long n = 0;
    for (size_t i = at + 5; i < path.size(); ++i) {
        if (path[i] < '0' || path[i] > '9')
            return -1;
        n = n * 10 + (path[i] - '0');
    }
    return n;
}

}  // namespace

std::unique_ptr<VideoDeviceScanner> systemVideoScanner()
{
    return std::make_unique<SystemVideoScanner>();
}

std::vector<std::unique_ptr<CaptureDriver>> v4l2Drivers(VideoDeviceScanner& scanner)
{
    std::vector<std::unique_ptr<CaptureDriver>> out;
    const std::shared_ptr<V4l2Device> device = scanner.device();
    if (!device)
        return out;
    std::vector<std::pair<long, std::string>> nodes;
    for (const std::string& path : scanner.videoNodes()) {
        if (const long n = nodeNumber(path); n >= 0)
            nodes.push_back({n, path});
    }
    std::sort(nodes.begin(), nodes.end());
    for (const auto& [number, path] : nodes) {
        const V4l2Probe probe = probeV4l2(*device, path);
        if (probe.capture || (!probe.opened && probe.error == EBUSY))
            out.push_back(std::make_unique<V4l2Driver>(device, path, probe.card));
    }
    return out;
}

std::vector<std::unique_ptr<CaptureDriver>> assembleCaptureEntries(
    std::vector<std::unique_ptr<CaptureDriver>> cameras, std::unique_ptr<CaptureDriver> sky)
{
    std::vector<std::unique_ptr<CaptureDriver>> entries;
    for (auto& camera : cameras) {
        if (camera && int(entries.size()) < kCaptureEntries - (sky ? 1 : 0))
            entries.push_back(std::move(camera));
    }
    if (sky)
        entries.push_back(std::move(sky));
    while (int(entries.size()) < kCaptureEntries)
        entries.push_back(std::make_unique<NoDriver>());
    return entries;
}

std::vector<std::unique_ptr<CaptureDriver>> captureDrivers(SharedState& state, MountChannel& channel,
                                                           VideoDeviceScanner& scanner,
                                                           std::vector<std::unique_ptr<CaptureDriver>> extra)
{
    std::vector<std::unique_ptr<CaptureDriver>> cameras = v4l2Drivers(scanner);
    // Cameras of other kinds come after the V4L2 devices, before the sky.
    for (auto& camera : extra)
        cameras.push_back(std::move(camera));
    return assembleCaptureEntries(std::move(cameras), std::make_unique<SimulatedSky>(state, channel));
}
