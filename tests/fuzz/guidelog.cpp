// The guide-log reader of `quorvel plot` (core/log/logreader.cpp) on any
// text, with the figures of every section it finds.
#include <cstdint>
#include <string_view>

#include "core/log/logreader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const GuideLogContents log = readGuideLog(std::string_view(reinterpret_cast<const char*>(data), size));
    for (const GuideLogSection& s : log.sections) {
        (void)sectionFigures(s);
        (void)unitPerPixel(s);
    }
    return 0;
}
