// The settings file "qv185.dat": one tparam in a persistent-object stream,
// 110 bytes, read once when the zoom window is built and written once when
// the main window closes. The byte codec is apart from the file handling so
// that every rule of the format can be checked on bytes directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/files/replacefile.h"
#include "core/settings/tparam.h"

struct SharedState;

// Size of the file that the writer produces.
inline constexpr std::size_t kSettingsFileSize = 110;

// The 110 bytes of a settings file holding this record: marker ":", stream
// version 257, tag 0x02, "[", the class name "tparam", class version 1, the
// 18 fields in file order (little-endian, flags as 32-bit 0 or 1), "]".
std::vector<uint8_t> encodeParams(const tparam& record);

struct DecodedParams {
    // The stream held a tparam object; record then holds what was read,
    // otherwise it holds the defaults.
    bool found = false;
    // Everything up to and including the "]" suffix was read as expected.
    // A damaged object is still used (found stays true): this only says so.
    bool intact = false;
    tparam record;
};

// Reads a settings stream as the program always has: version-0 streams (no
// ":" marker) included, a short stream leaving later integers and flags at 0
// and later doubles at their defaults, bytes after the suffix ignored.
DecodedParams decodeParams(const uint8_t* data, std::size_t size);
inline DecodedParams decodeParams(const std::vector<uint8_t>& bytes)
{
    return decodeParams(bytes.data(), bytes.size());
}

// Replaces state.params with the record found in the file at path (or a
// default record when the file is missing or holds none), then fills the
// three 16-bit working copies from the level fields. Reports nothing.
void loadParams(SharedState& state, const std::string& path = kSettingsFileName);

// Puts the working copies back into the level fields and writes the record
// to path. The bytes go to a temporary file in the same directory that then
// replaces path, so a failed save leaves the previous file whole. Reports
// nothing; the record stays in state.
void saveParams(SharedState& state, const std::string& path = kSettingsFileName);

// saveParams, telling whether the file was written (for the command line).
bool trySaveParams(SharedState& state, const std::string& path = kSettingsFileName);
// saveParams, returning 0 when the file was written, otherwise the errno of
// the step that failed (the previous file is then as it was).
int storeParams(SharedState& state, const std::string& path = kSettingsFileName);
// What the command line and the windows print on standard error when a save
// failed with this errno.
std::string saveFailureText(int error, const std::string& path = kSettingsFileName);
