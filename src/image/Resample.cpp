// Area averaging. Pixels are three bytes, blue, green, red; rows are `stride` bytes apart
// (negative for a bottom-up bitmap seen top row first). Source rows are read where they lie;
// nothing is copied.
#include "Resample.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace zq {

namespace {

// The source index of a position, held to the last one.
int SourceIndex(double position, double ratio, int count) {
  const double i = position * ratio;
  return i >= count ? count - 1 : static_cast<int>(i);
}

}  // namespace

void ResampleBitmap(const Bgr24View& src, const Bgr24View& dst) {
  if (!src.data || !dst.data || src.width <= 0 || src.height <= 0 || dst.width <= 0 || dst.height <= 0) return;
  const double sx = static_cast<double>(dst.width) / src.width, sy = static_cast<double>(dst.height) / src.height;
  const double rx = 1 / sx, ry = 1 / sy;
  // The source columns of each destination column, worked out once for all rows.
  std::vector<int> columns, firstColumn(static_cast<std::size_t>(dst.width) + 1);
  for (int x = 0; x < dst.width; ++x) {
    firstColumn[x] = static_cast<int>(columns.size());
    for (double fx = x; fx < x + 1; fx += sx) columns.push_back(SourceIndex(fx, rx, src.width));
  }
  firstColumn[dst.width] = static_cast<int>(columns.size());
  std::vector<const std::uint8_t*> rows;
  for (int y = 0; y < dst.height; ++y) {
    rows.clear();
    for (double fy = y; fy < y + 1; fy += sy) rows.push_back(src.Row(SourceIndex(fy, ry, src.height)));
    std::uint8_t* out = dst.Row(y);
    for (int x = 0; x < dst.width; ++x) {
      std::uint64_t b = 0, g = 0, r = 0, n = 0;
      for (const std::uint8_t* row : rows)
        for (int k = firstColumn[x]; k < firstColumn[x + 1]; ++k) {
          const std::uint8_t* p = row + 3 * columns[k];
          b += p[0];
          g += p[1];
          r += p[2];
          ++n;
        }
      if (n == 0) continue;
      out[3 * x] = static_cast<std::uint8_t>(b / n);
      out[3 * x + 1] = static_cast<std::uint8_t>(g / n);
      out[3 * x + 2] = static_cast<std::uint8_t>(r / n);
    }
  }
}

}  // namespace zq
