// Replacing a file in one step: the bytes go to a temporary file in the same
// directory, which a rename then puts in the file's place. A reader sees the
// old file or the new one, never half of one, and a failure leaves the old
// file as it was and no temporary file behind. The settings file and the
// photographs are written this way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct ReplaceOptions {
    // Start of the temporary file's name; the rest is "<pid>-<attempt>.tmp".
    const char* tempPrefix = ".quorvel-save-";
    // Flush the bytes to the disk before the rename, so that a power cut
    // cannot leave an empty file under the name. Costs a wait on the disk.
    bool sync = true;
};

// Writes these bytes to path. Returns 0 on success, otherwise the errno value
// of the step that failed, with path untouched. A path reached through a
// symbolic link is replaced where the link points. Only a regular file is
// replaced: a directory in its place gives EISDIR, a device, pipe or socket
// EEXIST (renaming over /dev/null would put a plain file there).
int replaceFile(const std::string& path, std::span<const uint8_t> bytes,
                const ReplaceOptions& options = {});

// replaceFile with the default options, telling only whether it worked.
bool replaceFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes);

// Length of the longest temporary name replaceFile can use with this prefix:
// a name in the same directory as the file, which must fit too.
std::size_t longestTempName(const char* tempPrefix);
