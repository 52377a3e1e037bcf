// Surface fill by spans. Pixels are three bytes, blue, green, red; rows are `stride` bytes
// apart (negative for a bottom-up bitmap seen top row first). The fill takes a span of the
// region's colour at a time, paints it, and remembers where the rows above and below it
// touch the region; every pixel is painted once, and a pixel of the new colour is never of
// the old one, so the work ends.
#include "Fill.h"

#include <cstring>
#include <vector>

namespace zq {

namespace {

struct Seed {
  int x, y;
};

bool Same(const std::uint8_t* p, const std::uint8_t (&c)[3]) { return p[0] == c[0] && p[1] == c[1] && p[2] == c[2]; }

// Pushes a seed for every run of region pixels in row y between x0 and x1 (inclusive).
void SeedRow(const Bgr24View& image, int y, int x0, int x1, const std::uint8_t (&old)[3], std::vector<Seed>& work) {
  if (y < 0 || y >= image.height) return;
  const std::uint8_t* row = image.Row(y);
  bool inRun = false;
  for (int x = x0; x <= x1; ++x) {
    const bool region = Same(row + 3 * x, old);
    if (region && !inRun) work.push_back({x, y});
    inRun = region;
  }
}

}  // namespace

std::int64_t SurfaceFill(const Bgr24View& image, int x, int y, std::uint32_t colour) {
  if (!image.data || x < 0 || y < 0 || x >= image.width || y >= image.height) return 0;
  std::uint8_t old[3];
  std::memcpy(old, image.Px(x, y), 3);
  const std::uint8_t now[3] = {static_cast<std::uint8_t>(colour >> 16), static_cast<std::uint8_t>(colour >> 8),
                               static_cast<std::uint8_t>(colour)};
  if (Same(now, old)) return 0;
  std::int64_t painted = 0;
  std::vector<Seed> work{{x, y}};
  while (!work.empty()) {
    const Seed s = work.back();
    work.pop_back();
    std::uint8_t* row = image.Row(s.y);
    if (!Same(row + 3 * s.x, old)) continue;  // painted since it was seeded
    int left = s.x, right = s.x;
    while (left > 0 && Same(row + 3 * (left - 1), old)) --left;
    while (right + 1 < image.width && Same(row + 3 * (right + 1), old)) ++right;
    for (int i = left; i <= right; ++i) std::memcpy(row + 3 * i, now, 3);
    painted += right - left + 1;
    SeedRow(image, s.y - 1, left, right, old, work);
    SeedRow(image, s.y + 1, left, right, old, work);
  }
  return painted;
}

}  // namespace zq
