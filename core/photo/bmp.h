// The file of one photograph: an uncompressed 8-bit Windows bitmap of the
// whole 320 x 240 picture in grey levels 0..63, with a 256-entry grey colour
// table (entry i is 4 i modulo 256 in blue, green and red, so levels 0..63 run
// from black to 252). The pixels start at byte 1082, four zero bytes after the
// table, rows bottom first. The layout is pure: bytes out of a grey frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/measure/measure.h"

inline constexpr std::size_t kPhotoPixelOffset = 1082;
inline constexpr std::size_t kPhotoFileSize = kPhotoPixelOffset + Picture::width * Picture::height;  // 77,882

// The 77,882 bytes of the file for this frame (top row first, as
// greyCapture() makes it). Pixel bytes are copied as they are.
std::vector<uint8_t> photoBmp(const GreyFrame& greyTopRowFirst);
