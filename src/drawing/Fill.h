// The bucket's surface fill on 24-bit pixels (Pixels.h: blue, green, red bytes; any stride).
// No Win32 here.
#pragma once

#include <cstdint>

#include "Pixels.h"

namespace zq {

// Gives every pixel connected to (x, y) that has exactly the colour of (x, y) the colour
// `colour` (0x00BBGGRR). Connected means through a chain of such pixels each beside, above
// or below the next: pixels that touch only at a corner are not joined, so a diagonal line
// of one pixel's width closes a region. A pixel differing in any byte bounds the fill.
// Returns the number of pixels changed (0 for a point outside the image or a region that
// has the colour already). Allocates only for its work list.
std::int64_t SurfaceFill(const Bgr24View& image, int x, int y, std::uint32_t colour);

}  // namespace zq
