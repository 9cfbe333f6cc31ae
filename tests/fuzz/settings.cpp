// The settings file qv185.dat: the decoder on any bytes, as loadParams reads
// them (its 4096 first bytes), and what it decodes written back and read
// again unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/settings/paramsfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const DecodedParams decoded = decodeParams(data, size > 4096 ? 4096 : size);
    if (!decoded.found)
        return 0;
    // The working copies loadParams takes from the level fields.
    (void)uint16_t(uint32_t(decoded.record.spareLevel1));
    const std::vector<uint8_t> bytes = encodeParams(decoded.record);
    if (bytes.size() != kSettingsFileSize)
        std::abort();
    const DecodedParams again = decodeParams(bytes);
    if (!again.found || !again.intact || encodeParams(again.record) != bytes)
        std::abort();
    return 0;
}
