// The drawing tools' geometry with the numbers the shape, text and triangle rules fix.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "Fill.h"
#include "Geometry.h"
#include "Resample.h"

using zq::ConstrainPoint;
using zq::IntPoint;
using zq::TriangleBase;

namespace {

IntPoint Constrained(int minHeight, bool snap, IntPoint anchor, double ratio, IntPoint p) {
  ConstrainPoint(minHeight, snap, anchor, ratio, p);
  return p;
}

TEST(Geometry, ConstraintSquaresSnapsAndKeepsTheDragsDirection) {
  // Figures without snapping: a square with the larger extent.
  EXPECT_EQ((IntPoint{60, 60}), Constrained(0, false, {10, 10}, 1.0, {60, 30}));
  EXPECT_EQ((IntPoint{20, 20}), Constrained(0, false, {50, 50}, 1.0, {20, 40})) << "up and to the left";
  EXPECT_EQ((IntPoint{10, 60}), Constrained(0, false, {60, 10}, 1.0, {10, 30}));
  EXPECT_EQ((IntPoint{60, 60}), Constrained(0, false, {10, 10}, 1.0, {30, 60})) << "a tall drag gets wider";
  // Lines and triangles: horizontal below 1:2, vertical above 2:1, the diagonal between.
  EXPECT_EQ((IntPoint{60, 10}), Constrained(0, true, {10, 10}, 1.0, {60, 30}));
  EXPECT_EQ((IntPoint{40, 40}), Constrained(0, true, {10, 10}, 1.0, {40, 30}));
  EXPECT_EQ((IntPoint{10, 60}), Constrained(0, true, {10, 10}, 1.0, {15, 60}));
  EXPECT_EQ((IntPoint{30, 30}), Constrained(0, true, {10, 10}, 1.0, {30, 20})) << "exactly 1:2 is diagonal";
  EXPECT_EQ((IntPoint{30, 30}), Constrained(0, true, {10, 10}, 1.0, {20, 30})) << "exactly 2:1 is diagonal";
  EXPECT_EQ((IntPoint{-20, 40}), Constrained(0, true, {10, 10}, 1.0, {-20, 35}));
  // Shift-click without moving: one pixel below for a figure, on the anchor for a line.
  EXPECT_EQ((IntPoint{10, 11}), Constrained(0, false, {10, 10}, 1.0, {10, 10}));
  EXPECT_EQ((IntPoint{10, 10}), Constrained(0, true, {10, 10}, 1.0, {10, 10}));
  // A text box: at least 13 pixels a line, then the text's proportions.
  EXPECT_EQ((IntPoint{360, 139}), Constrained(39, false, {100, 100}, 0.15, {300, 100}))
      << "a flat drag: 39 high, then wide enough for the text (39 / 0.15)";
  EXPECT_EQ((IntPoint{-160, 61}), Constrained(39, false, {100, 100}, 0.15, {0, 90})) << "upward and left";
  EXPECT_EQ((IntPoint{100 + 400, 100 + 2 * 400}), Constrained(13, false, {100, 100}, 2.0, {500, 110}))
      << "a tall text makes a flat drag taller";
}

TEST(Geometry, ConstraintFailuresCollapseOntoTheAnchor) {
  const int lo = std::numeric_limits<int>::min(), hi = std::numeric_limits<int>::max();
  EXPECT_EQ((IntPoint{5, 5}), Constrained(0, false, {5, 5}, 0.0, {50, 60})) << "a ratio of zero";
  EXPECT_EQ((IntPoint{5, 5}), Constrained(0, false, {5, 5}, std::nan(""), {50, 60}));
  EXPECT_EQ((IntPoint{hi, 0}), Constrained(0, false, {hi, 0}, 1.0, {lo, 10})) << "an extent beyond 32 bits";
  EXPECT_EQ((IntPoint{0, 0}), Constrained(0, false, {0, 0}, 1.0, {lo, 1}));
  EXPECT_EQ((IntPoint{hi - 10, 0}), Constrained(0, false, {hi - 10, 0}, 1.0, {hi, 100})) << "a result beyond 32 bits";
  EXPECT_EQ((IntPoint{0, 0}), Constrained(0, false, {0, 0}, 1e300, {1000, 0})) << "a huge ratio";
  IntPoint p{hi, hi};
  ConstrainPoint(hi, true, {lo, lo}, 1.0, p);
  EXPECT_EQ((IntPoint{lo, lo}), p);
}

TEST(Geometry, TrianglesAreEquilateralAtLeast15HighAndCollapseOnFailure) {
  IntPoint c, d;
  TriangleBase({100, 100}, {100, 160}, c, d);
  EXPECT_EQ((IntPoint{65, 160}), c);
  EXPECT_EQ((IntPoint{134, 160}), d);
  TriangleBase({100, 100}, {100, 105}, c, d);  // the base moves out to 15 below the apex
  EXPECT_EQ((IntPoint{91, 115}), c);
  EXPECT_EQ((IntPoint{108, 115}), d);
  TriangleBase({100, 100}, {100, 40}, c, d);  // upward
  EXPECT_EQ((IntPoint{65, 40}), c);
  EXPECT_EQ((IntPoint{134, 40}), d);
  TriangleBase({100, 100}, {160, 100}, c, d);  // horizontal axis
  EXPECT_EQ((IntPoint{160, 65}), c);
  EXPECT_EQ((IntPoint{160, 134}), d);
  TriangleBase({0, 0}, {30, 40}, c, d);  // slanted: the base is perpendicular, 50 / sqrt 3 each side
  const double cx = c.x - 30, cy = c.y - 40, dx = d.x - 30, dy = d.y - 40;
  EXPECT_NEAR(0, 30 * cx + 40 * cy, 60) << "C lies on the line through B across the axis";
  EXPECT_NEAR(0, 30 * dx + 40 * dy, 60);
  EXPECT_NEAR(50 / std::sqrt(3.0), std::hypot(cx, cy), 1.5);
  EXPECT_NEAR(50 / std::sqrt(3.0), std::hypot(dx, dy), 1.5);
  TriangleBase({100, 100}, {103, 104}, c, d);  // 5 from the apex: out to 15 along the ray
  EXPECT_NEAR(15, std::hypot((c.x + d.x) / 2.0 - 100, (c.y + d.y) / 2.0 - 100), 1.5);
  TriangleBase({7, 9}, {7, 9}, c, d);
  EXPECT_EQ((IntPoint{7, 9}), c);
  EXPECT_EQ((IntPoint{7, 9}), d);
  // The height's square must fit in 32 bits; beyond it the corners fall onto the apex.
  const int lo = std::numeric_limits<int>::min(), hi = std::numeric_limits<int>::max();
  for (IntPoint far : {IntPoint{lo, lo}, IntPoint{hi, 0}, IntPoint{50000, 0}, IntPoint{0, -46341}}) {
    TriangleBase({0, 0}, far, c, d);
    EXPECT_EQ((IntPoint{0, 0}), c) << far.x << "," << far.y;
    EXPECT_EQ((IntPoint{0, 0}), d);
  }
  TriangleBase({0, 0}, {32767, 32767}, c, d);  // the largest drawing's diagonal still fits
  EXPECT_NE((IntPoint{0, 0}), c);
}

TEST(Geometry, RoundedCornersAreAQuarterOfTheShorterSide) {
  EXPECT_EQ(10, zq::RoundRectCorner({0, 0}, {40, 100}));
  EXPECT_EQ(0, zq::RoundRectCorner({0, 0}, {3, 100}));
  EXPECT_EQ(10, zq::RoundRectCorner({40, 100}, {0, 0}));
  const int lo = std::numeric_limits<int>::min(), hi = std::numeric_limits<int>::max();
  EXPECT_EQ(1073741823, zq::RoundRectCorner({lo, lo}, {hi, hi})) << "no overflow at the extremes";
}

// A top-down 24-bit image of w x h in a vector, and its view.
struct Image {
  int w, h;
  std::vector<std::uint8_t> bytes;
  Image(int w_, int h_, std::uint8_t fill) : w(w_), h(h_), bytes(zq::Bgr24Stride(w_) * h_, fill) {}
  zq::Bgr24View View() { return {bytes.data(), static_cast<std::ptrdiff_t>(zq::Bgr24Stride(w)), w, h}; }
};

TEST(Resample, HalvingAveragesTwoByTwoWithTruncationAndThirdsTakeThreeByThree) {
  Image src(4, 2, 0), dst(2, 1, 99);
  const std::uint8_t samples[4][2] = {{1, 1}, {2, 2}, {10, 20}, {30, 40}};  // columns 0..3, rows 0..1
  for (int x = 0; x < 4; ++x)
    for (int y = 0; y < 2; ++y) src.View().Px(x, y)[0] = samples[x][y];
  zq::ResampleBitmap(src.View(), dst.View());
  EXPECT_EQ(1, dst.View().Px(0, 0)[0]) << "1, 1, 2, 2 average to 1";
  EXPECT_EQ(25, dst.View().Px(1, 0)[0]);
  // A 9 x 9 image of one value per 3 x 3 block shrunk to 3 x 3 gives the blocks back.
  Image nine(9, 9, 0), three(3, 3, 0);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 9; ++x) nine.View().Px(x, y)[1] = static_cast<std::uint8_t>((y / 3) * 3 + x / 3);
  zq::ResampleBitmap(nine.View(), three.View());
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(y * 3 + x, three.View().Px(x, y)[1]);
}

TEST(SurfaceFill, ExactColourFourWaysOnly) {
  Image img(5, 5, 255);
  for (int i = 0; i < 5; ++i) std::memcpy(img.View().Px(i, i), "\0\0\0", 3);  // a diagonal
  img.View().Px(4, 0)[0] = 254;  // one unit off white
  EXPECT_EQ(9, zq::SurfaceFill(img.View(), 4, 1, 0x0000FF)) << "the upper triangle but the odd pixel";
  EXPECT_EQ(255, img.View().Px(0, 4)[2]) << "the lower triangle is not reached across the diagonal";
  EXPECT_EQ(0, zq::SurfaceFill(img.View(), 4, 1, 0x0000FF)) << "already that colour";
  EXPECT_EQ(0, zq::SurfaceFill(img.View(), 5, 1, 0x0000FF)) << "outside";
}

}  // namespace
