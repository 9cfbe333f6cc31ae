// The exposure an imaging suite reads and sets.
#include "core/server/exposure.h"

#include <algorithm>

#include "core/capture/acquisition.h"

namespace {

// PHD2's own list, which the suites know.
constexpr int kUsualMs[] = {10,   20,   50,   100,  200,  500,  1000, 1500,  2000,  2500,  3000,
                            3500, 4000, 4500, 5000, 6000, 7000, 8000, 9000, 10000, 15000, 30000};

const CaptureControl* findControl(const std::vector<CaptureControl>& controls, const std::string& id)
{
    const auto it = std::find_if(controls.begin(), controls.end(), [&](const CaptureControl& c) { return c.id == id; });
    return it == controls.end() ? nullptr : &*it;
}

std::string listText(const std::vector<int>& ms)
{
    std::string text;
    for (const int v : ms)
        text += (text.empty() ? "" : ", ") + std::to_string(v);
    return text + " ms";
}

}  // namespace

CameraExposure cameraExposure(CaptureDriver* camera)
{
    const std::string id = camera ? camera->exposureControl() : std::string();
    const std::vector<CaptureControl> controls = id.empty() ? std::vector<CaptureControl>{} : camera->controls();
    const CaptureControl* c = findControl(controls, id);
    if (!c)
        return {AcquisitionLoop::kCycleMs, {AcquisitionLoop::kCycleMs}, false};
    CameraExposure e{int(c->value), {}, true};
    for (const int ms : kUsualMs)
        if (ms >= c->minimum && ms <= c->maximum)
            e.choicesMs.push_back(ms);
    if (std::find(e.choicesMs.begin(), e.choicesMs.end(), e.ms) == e.choicesMs.end()) {
        e.choicesMs.push_back(e.ms);  // as "Adjust" set it
        std::sort(e.choicesMs.begin(), e.choicesMs.end());
    }
    return e;
}

CaptureStatus setCameraExposure(CaptureDriver* camera, int ms)
{
    const CameraExposure e = cameraExposure(camera);
    if (std::find(e.choicesMs.begin(), e.choicesMs.end(), ms) == e.choicesMs.end()) {
        if (!e.ownExposure)
            return CaptureStatus::failure((camera ? camera->name() : std::string("no camera")) +
                                          " has no exposure of its own: its frames are measured every " +
                                          std::to_string(e.ms) + " ms");
        return CaptureStatus::failure(std::to_string(ms) + " ms is not one of the exposures of " + camera->name() +
                                      ": " + listText(e.choicesMs));
    }
    if (!e.ownExposure || ms == e.ms)
        return {};
    return camera->setControl(camera->exposureControl(), ms);
}
