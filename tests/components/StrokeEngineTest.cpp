// The stroke raster core on its own, built natively under AddressSanitizer and
// UndefinedBehaviorSanitizer: random strokes of every medium over bitmaps of every shape
// must change pixels only inside the rectangle each call reports (that is all the screen is
// shown), never touch row padding or memory beyond the rows, and refuse what is no surface.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "StrokeEngine.h"

namespace {

using zpb::Medium;
using zpb::Rect;
using zpb::Settings;
using zpb::StrokeEngine;
using zpb::Surface;

// A bitmap with padding after every row and guard bytes around it, seen top row first
// through a positive or a negative stride.
struct Canvas {
  static constexpr std::size_t kGuard = 64;
  static constexpr std::uint8_t kPad = 0xA5;
  int w, h;
  std::ptrdiff_t stride;
  bool bottomUp;
  std::vector<std::uint8_t> mem;

  Canvas(int width, int height, bool flip, std::uint8_t fill = 255)
      : w(width), h(height), stride(static_cast<std::ptrdiff_t>(width) * 3 + 5), bottomUp(flip) {
    mem.assign(kGuard * 2 + static_cast<std::size_t>(stride) * h, kPad);
    for (int y = 0; y < h; ++y) std::memset(Row(y), fill, static_cast<std::size_t>(w) * 3);
  }
  std::uint8_t* Row(int y) {
    const int stored = bottomUp ? h - 1 - y : y;
    return mem.data() + kGuard + static_cast<std::size_t>(stride) * stored;
  }
  Surface View() {
    Surface s;
    s.width = w;
    s.height = h;
    s.data = Row(0);
    s.stride = bottomUp ? -stride : stride;
    return s;
  }
  // Every byte that is not a pixel still holds the padding pattern.
  bool PaddingIntact() const {
    for (std::size_t i = 0; i < mem.size(); ++i) {
      if (i >= kGuard && i < mem.size() - kGuard) {
        const std::size_t inRow = (i - kGuard) % static_cast<std::size_t>(stride);
        if (inRow < static_cast<std::size_t>(w) * 3) continue;
      }
      if (mem[i] != kPad) return false;
    }
    return true;
  }
};

// Pixels that differ between two snapshots and lie outside `r`.
int ChangedOutside(Canvas& c, const std::vector<std::uint8_t>& before, const Rect& r) {
  int n = 0;
  for (int y = 0; y < c.h; ++y) {
    const std::uint8_t* now = c.Row(y);
    const std::uint8_t* was = before.data() + static_cast<std::size_t>(y) * c.w * 3;
    for (int x = 0; x < c.w; ++x) {
      if (std::memcmp(now + 3 * x, was + 3 * x, 3) == 0) continue;
      if (x < r.left || x >= r.right || y < r.top || y >= r.bottom) ++n;
    }
  }
  return n;
}

std::vector<std::uint8_t> Snapshot(Canvas& c) {
  std::vector<std::uint8_t> s;
  for (int y = 0; y < c.h; ++y) s.insert(s.end(), c.Row(y), c.Row(y) + static_cast<std::size_t>(c.w) * 3);
  return s;
}

TEST(StrokeEngineCore, ChangesStayInsideTheReportedRectangle) {
  std::mt19937 rng(20261208);
  std::uniform_real_distribution<double> unit(0, 1);
  const int sizes[][2] = {{1, 1}, {1, 40}, {37, 1}, {64, 64}, {65, 63}, {130, 90}};
  Canvas texture(23, 17, false, 0);
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 23 * 3; ++x) texture.Row(y)[x] = static_cast<std::uint8_t>(x * 7 + y * 13);
  Surface tex = texture.View();
  int strokes = 0, painted = 0;
  for (const auto& size : sizes) {
    for (bool flip : {false, true}) {
      Canvas c(size[0], size[1], flip);
      // Something under the stroke to pick up and to mix with.
      for (int y = 0; y < c.h; y += 3) std::memset(c.Row(y), 40 * (y % 5), static_cast<std::size_t>(c.w) * 3);
      StrokeEngine engine;
      for (int m = 0; m <= 7; ++m) {
        Settings st;
        st.medium = static_cast<Medium>(m);
        st.color = static_cast<std::uint32_t>(rng()) & 0xFFFFFF;
        st.maxWidth = 0.5 + unit(rng) * 60;
        st.minWidth = unit(rng) * st.maxWidth;
        st.varyWidth = rng() & 1;
        st.smooth = rng() & 1;
        st.soak = unit(rng) * 10;
        st.minMove = unit(rng) * 2;
        st.texture = m == 7 && (rng() & 1) ? &tex : nullptr;
        st.tileTexture = rng() & 1;
        st.paper = m < 4 && (rng() & 1) ? &tex : nullptr;
        auto coord = [&](int extent) { return static_cast<int>((unit(rng) * 1.6 - 0.3) * extent * 4); };
        auto before = Snapshot(c);
        Rect r = engine.Begin(c.View(), coord(c.w), coord(c.h), static_cast<int>(unit(rng) * 65535), st);
        ASSERT_EQ(0, ChangedOutside(c, before, r)) << "medium " << m << " begin, " << c.w << "x" << c.h;
        for (int i = 0; i < 25; ++i) {
          before = Snapshot(c);
          r = engine.Continue(c.View(), coord(c.w), coord(c.h), static_cast<int>(unit(rng) * 65535),
                              static_cast<int>(unit(rng) * 20));
          painted += !r.Empty();
          ASSERT_EQ(0, ChangedOutside(c, before, r)) << "medium " << m << " segment " << i << ", " << c.w << "x" << c.h;
          ASSERT_TRUE(r.Empty() || (r.left >= 0 && r.top >= 0 && r.right <= c.w && r.bottom <= c.h));
        }
        ++strokes;
      }
      EXPECT_TRUE(c.PaddingIntact()) << c.w << "x" << c.h << (flip ? " bottom-up" : "");
    }
  }
  EXPECT_EQ(96, strokes);
  EXPECT_GT(painted, 500);
}

TEST(StrokeEngineCore, NoSurfaceNoStrokeNoPixels) {
  StrokeEngine engine;
  Settings st;
  Canvas c(20, 20, false);
  const auto before = Snapshot(c);
  EXPECT_TRUE(engine.Continue(c.View(), 40, 40, 65535, 0).Empty()) << "no stroke was begun";
  Surface none;
  EXPECT_TRUE(engine.Begin(none, 40, 40, 65535, st).Empty());
  EXPECT_TRUE(engine.Continue(none, 80, 80, 65535, 0).Empty());
  // A stroke begun on one bitmap does not continue on one of another size.
  EXPECT_FALSE(engine.Begin(c.View(), 40, 40, 65535, st).Empty());
  Canvas other(30, 20, false);
  EXPECT_TRUE(engine.Continue(other.View(), 60, 60, 65535, 0).Empty());
  engine.Abandon();
  EXPECT_TRUE(engine.Continue(c.View(), 60, 60, 65535, 0).Empty());
  EXPECT_FALSE(engine.InStroke());
  EXPECT_NE(before, Snapshot(c));  // only the begun dab
}

// The ink-like media work most pixels out four at a time, and a pixel at a time where a
// texture or paper differs pixel by pixel: an eraser whose texture is one flat colour must
// erase exactly as an eraser of that colour, over a background that varies.
TEST(StrokeEngineCore, AFlatTextureErasesAsItsColour) {
  Canvas flat(5, 3, false);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) std::memcpy(flat.Row(y) + 3 * x, "\x1E\x8C\xDC", 3);  // blue, green, red
  const Surface texture = flat.View();
  std::vector<std::uint8_t> results[2];
  for (int textured = 0; textured < 2; ++textured) {
    Canvas c(150, 90, textured == 1);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w * 3; ++x) c.Row(y)[x] = static_cast<std::uint8_t>(x * 5 + y * 3);
    Settings st;
    st.medium = Medium::Eraser;
    st.maxWidth = 40;
    st.color = textured ? 0 : 0x1E8CDCu;  // 0x00BBGGRR
    st.texture = textured ? &texture : nullptr;
    StrokeEngine engine;
    engine.Begin(c.View(), 40, 160, 20000, st);
    for (int i = 1; i <= 40; ++i)
      engine.Continue(c.View(), 40 + i * 12, 160 + static_cast<int>(90 * std::sin(i * 0.3)), 20000 + i * 1100, 2);
    results[textured] = Snapshot(c);
  }
  EXPECT_EQ(results[0], results[1]);
}

TEST(StrokeEngineCore, ExtremeInputStaysBounded) {
  StrokeEngine engine;
  Canvas c(50, 50, true);
  for (int m = 0; m <= 7; ++m) {
    Settings st;
    st.medium = static_cast<Medium>(m);
    st.maxWidth = 1e9;  // painted as wide as the widest allowed
    st.minWidth = -5;
    st.soak = 1e6;
    st.edge = 1e-9;
    engine.Begin(c.View(), -(1 << 29), 100, 70000, st);
    engine.Continue(c.View(), 1 << 29, 1 << 29, -3, 1 << 30);
    engine.Continue(c.View(), -(1 << 29), 1 << 29, 65535, -7);
    EXPECT_TRUE(c.PaddingIntact()) << "medium " << m;
  }
  EXPECT_LE(StrokeEngine::Reach(Settings{Medium::OilInk, 0, 1, 1e12}), zpb::kMaxWidth);
}

}  // namespace
