// Shrinking an image by area averaging, for an image too large for the drawing. Pure pixel
// arithmetic on 24-bit views (Pixels.h); no Win32.
#pragma once

#include "Pixels.h"

namespace zq {

// Writes every pixel of `dst` as the average of the block of `src` pixels it covers. With
// sx = dst width / src width and sy = dst height / src height (doubles), destination pixel
// (x, y) averages the source rows trunc(fy / sy) for fy = y, y + sy, y + 2 sy, ... while
// fy < y + 1 (fy summed up step by step), crossed with the columns trunc(fx / sx) for the
// same steps of sx from x; an index past the source's edge is its last row or column. The
// sums are divided with truncation. Meant for shrinking (sx, sy at most 1); an empty view
// on either side does nothing.
void ResampleBitmap(const Bgr24View& src, const Bgr24View& dst);

}  // namespace zq
