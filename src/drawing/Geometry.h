// The geometry of the drawing tools: how a drag's end point is held to a shape (a square, a
// 45-degree line, the proportions of a text block) and how an equilateral triangle is built
// from its apex and the middle of its base. Pure arithmetic on pixel positions of the
// drawing: no Win32 here, so it is built and tested natively too.
//
// Failures collapse instead of throwing: a step that cannot be computed (a ratio of zero, a
// value beyond 32 bits) puts the point back on the anchor, or the triangle's corners on its
// apex, as the tools expect.
#pragma once

#include <cstdint>

namespace zq {

struct IntPoint {
  int x = 0, y = 0;
  friend bool operator==(const IntPoint&, const IntPoint&) = default;
};

// -1 for a negative number, +1 otherwise (the sign of 0 is +1).
inline int SignOf(std::int64_t n) { return n < 0 ? -1 : 1; }

// Holds `p` to the shape of a figure dragged from `anchor`. The vertical extent is first
// raised to at least `minHeight`; then, with dx the horizontal extent (1 if 0) and dy the
// vertical one, a drag flatter than `ratio` (dy / dx < ratio) is made taller and a steeper
// one wider, keeping the drag's direction. With `snap`, a drag flatter than 1:2 becomes
// horizontal and one steeper than 2:1 vertical instead (1:2 and 2:1 themselves give the
// diagonal).
void ConstrainPoint(int minHeight, bool snap, IntPoint anchor, double ratio, IntPoint& p);

// The two corners of the base of the equilateral triangle whose apex is `a` and whose base
// has its middle at `b`: the base is perpendicular to a-b and half as long as the height
// divided by the square root of 3. A triangle is at least 15 pixels high (a nearer `b` is
// moved out along its ray). Coordinates are truncated toward zero.
void TriangleBase(IntPoint a, IntPoint b, IntPoint& c, IntPoint& d);

// The side of the corner ellipse of a rounded rectangle with corners a and b: a quarter of
// its shorter side, truncated.
int RoundRectCorner(IntPoint a, IntPoint b);

}  // namespace zq
