// Reading BMP files from their bytes, without the platform's image loader (which trusts the
// headers: a pixel-data offset past the end of the file ends the process). Every header field
// is checked against the bytes there are before a pixel is read:
//   headers: the core header (12 bytes) and the information headers of 40, 52, 56, 64 (OS/2
//            2.x, its first 40 bytes), 108 (version 4) and 124 bytes (version 5);
//   pixels:  1, 4 and 8 bits through a palette, uncompressed or run-length encoded (8 and 4
//            bits), 16 and 32 bits with the default or given colour masks, 24 bits;
//            bottom-up or top-down (a negative height; never run-length encoded).
// Alpha is dropped: the drawing has none. Pixels a run-length stream skips, or leaves
// unwritten when it ends early, are black, as the platform leaves them in a new bitmap.
// No Win32 here: the reader is also built natively, tested and fuzzed under sanitizers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "Bgr24.h"

namespace zq::bmp {

// The image of a BMP file's bytes, top-down; nothing for what is no BMP this reader takes,
// is damaged or cut short, or is outside LoadedImageSizeAllowed. Never throws.
std::optional<Bgr24Image> Decode(const std::uint8_t* data, std::size_t size) noexcept;

}  // namespace zq::bmp
