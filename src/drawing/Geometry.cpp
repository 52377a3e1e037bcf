// Geometry of the drawing tools. Coordinates are pixels of the drawing, 32-bit integers;
// intermediate values are extended-precision reals or 64-bit integers, and any value that
// leaves the 32-bit range counts as a failed step (the tools' arithmetic is 32-bit: a silent
// wrap-around would put a figure anywhere).
#include "Geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace zq {

namespace {

constexpr std::int64_t kLow = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kHigh = std::numeric_limits<std::int32_t>::max();

bool Fits(std::int64_t v) { return v >= kLow && v <= kHigh; }

// `v` truncated toward zero, when it is a number within 32 bits.
bool Truncated(long double v, std::int64_t& out) {
  if (!std::isfinite(v) || v <= static_cast<long double>(kLow) - 1 || v >= static_cast<long double>(kHigh) + 1)
    return false;
  out = static_cast<std::int64_t>(std::trunc(v));
  return true;
}

bool Constrained(int minHeight, bool snap, IntPoint anchor, long double ratio, IntPoint& p) {
  const std::int64_t ex = std::int64_t{p.x} - anchor.x, ey = std::int64_t{p.y} - anchor.y;
  std::int64_t dx = ex < 0 ? -ex : ex, dy = ey < 0 ? -ey : ey;
  if (!Fits(dx) || !Fits(dy)) return false;
  if (dx == 0) dx = 1;
  std::int64_t px = p.x, py = p.y;
  if (dy < minHeight) {
    dy = minHeight;
    py = anchor.y + SignOf(ey) * std::int64_t{minHeight};
  }
  const long double q = static_cast<long double>(dy) / static_cast<long double>(dx);
  std::int64_t t = 0;
  if (q < ratio) {  // flatter than the ratio
    if (snap && q < 0.5L) {
      py = anchor.y;
    } else {
      if (!Truncated(dx * ratio, t)) return false;
      py = anchor.y + SignOf(py - anchor.y) * t;
    }
  } else {
    if (snap && q > 2.0L) {
      px = anchor.x;
    } else {
      if (!Truncated(dy / ratio, t)) return false;
      px = anchor.x + SignOf(px - anchor.x) * t;
    }
  }
  if (!Fits(px) || !Fits(py)) return false;
  p = {static_cast<int>(px), static_cast<int>(py)};
  return true;
}

bool Corner(long double x, long double y, IntPoint& out) {
  std::int64_t tx = 0, ty = 0;
  if (!Truncated(x, tx) || !Truncated(y, ty)) return false;
  out = {static_cast<int>(tx), static_cast<int>(ty)};
  return true;
}

bool TriangleCorners(IntPoint a, IntPoint b, IntPoint& c, IntPoint& d) {
  const std::int64_t ax = a.x, ay = a.y;
  std::int64_t bx = b.x, by = b.y;
  // The height's square, in 32-bit integers as the construction defines it.
  const std::int64_t hx = ax - bx, hy = ay - by;
  if (!Fits(hx) || !Fits(hy) || hx * hx > kHigh || hy * hy > kHigh || hx * hx + hy * hy > kHigh) return false;
  const long double height = std::sqrt(static_cast<long double>(hx * hx + hy * hy));
  if (height < 15) {  // at least 15 high: B moves out along the ray from A
    if (bx == ax) {
      by = ay > by ? ay - 15 : ay + 15;
    } else {
      const long double slope = static_cast<long double>(ay - by) / static_cast<long double>(ax - bx);
      const long double q = 225.0L / (1 + slope * slope);
      const long double x = bx < ax ? ax - std::sqrt(q) : ax + std::sqrt(q);
      if (!Truncated(ay + slope * (x - ax), by) || !Truncated(x, bx)) return false;
    }
  }
  const long double root3 = std::sqrt(3.0L);
  if (bx == ax) {
    const long double k = static_cast<long double>(std::abs(ay - by)) / root3;
    return Corner(bx - k, by, c) && Corner(bx + k, by, d);
  }
  if (by == ay) {
    const long double k = static_cast<long double>(std::abs(ax - bx)) / root3;
    return Corner(bx, by - k, c) && Corner(bx, by + k, d);
  }
  const long double s = static_cast<long double>(bx - ax) / static_cast<long double>(ay - by);
  const long double e = static_cast<long double>(std::abs(ay - by)) / root3;
  const long double x1 = bx - e, x2 = bx + e;
  return Corner(x1, by + s * (x1 - bx), c) && Corner(x2, by + s * (x2 - bx), d);
}

}  // namespace

void ConstrainPoint(int minHeight, bool snap, IntPoint anchor, double ratio, IntPoint& p) {
  if (!Constrained(minHeight, snap, anchor, ratio, p)) p = anchor;
}

void TriangleBase(IntPoint a, IntPoint b, IntPoint& c, IntPoint& d) {
  if (a == b || !TriangleCorners(a, b, c, d)) c = d = a;
}

int RoundRectCorner(IntPoint a, IntPoint b) {
  const std::int64_t w = std::abs(std::int64_t{b.x} - a.x), h = std::abs(std::int64_t{b.y} - a.y);
  return static_cast<int>(std::min(w, h) / 4);
}

}  // namespace zq
