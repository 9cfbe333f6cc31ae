// The precise mode's calibration file, qv185-precise.txt
// (core/precise/calibfile.cpp): the parser on any text; what it takes is
// written back (as the mode saves it) reads again, to the same output,
// camera and step.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/precise/calibfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string error;
    const auto stored = parseCalibrationFile(std::string_view(reinterpret_cast<const char*>(data), size), error);
    if (!stored)
        return 0;
    const std::string text = calibrationFileText(*stored);
    const auto again = parseCalibrationFile(text, error);
    if (!again || again->output != stored->output || again->camera != stored->camera || again->stepMs != stored->stepMs)
        std::abort();
    return 0;
}
