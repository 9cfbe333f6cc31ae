// QUORVEL_SKY (core/capture/simsky.cpp): the parser on any text, and a sky
// it accepts connected and rendered at its start, a minute later, with the
// sun, and through each of its "Adjust" controls.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/capture/simsky.h"
#include "core/corerig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const SkyParamsResult parsed = parseSkyParams(text);
    if (!parsed.ok)
        return 0;
    CoreRig rig;
    SimulatedSky sky(rig.state, rig.core.channel, std::string(text));
    if (!sky.connect().ok)
        __builtin_trap();  // what the parser took, the sky takes
    Picture picture;
    std::string error;
    sky.grab(picture, error);
    rig.advanceMs(60000);
    sky.render(rig.clock.nowUs(), !sky.sunShown(), picture);
    for (const CaptureControl& c : sky.controls())
        sky.setControl(c.id, c.value);
    sky.grab(picture, error);
    return 0;
}
