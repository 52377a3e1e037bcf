// Fuzz target: strokes of any medium and settings, from the input's bytes, over a small
// bitmap. Every call must change pixels only inside the rectangle it reports and never
// write beyond the rows (AddressSanitizer watches the rest).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "StrokeEngine.h"

namespace {

struct Reader {
  const std::uint8_t* p;
  std::size_t n;
  std::uint32_t Next(int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) {
      v = v << 8 | (n ? *p : 0);
      if (n) ++p, --n;
    }
    return v;
  }
  int Signed16() { return static_cast<std::int16_t>(Next(2)); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in{data, size};
  const int w = 1 + static_cast<int>(in.Next(1) % 96), h = 1 + static_cast<int>(in.Next(1) % 96);
  const bool flip = in.Next(1) & 1;
  const std::size_t stride = static_cast<std::size_t>(w) * 3 + (in.Next(1) & 7);
  std::vector<std::uint8_t> mem(stride * h);
  for (std::size_t i = 0; i < mem.size(); ++i) mem[i] = static_cast<std::uint8_t>(i * 31);
  zpb::Surface s;
  s.width = w;
  s.height = h;
  s.data = flip ? mem.data() + stride * (h - 1) : mem.data();
  s.stride = flip ? -static_cast<std::ptrdiff_t>(stride) : static_cast<std::ptrdiff_t>(stride);
  std::vector<std::uint8_t> texMem(7 * 5 * 3, 90);
  zpb::Surface tex{texMem.data(), 21, 7, 5};

  zpb::Settings st;
  st.medium = static_cast<zpb::Medium>(in.Next(1) % 8);
  st.color = in.Next(3);
  st.maxWidth = in.Next(2) / 64.0;
  st.minWidth = in.Next(2) / 64.0;
  st.varyWidth = in.Next(1) & 1;
  st.varyOpacity = in.Next(1) & 1;
  st.smooth = in.Next(1) & 1;
  st.minMove = in.Next(1) / 32.0;
  st.soak = in.Next(1) / 16.0;
  st.edge = in.Next(1) / 16.0;
  st.grain = 0.1 + in.Next(1) / 32.0;
  st.pressureCurve = 1 + static_cast<int>(in.Next(1) % 3);
  st.speckled = in.Next(1) & 1;
  st.texture = in.Next(1) & 1 ? &tex : nullptr;
  st.paper = in.Next(1) & 1 ? &tex : nullptr;
  st.tileTexture = in.Next(1) & 1;

  zpb::StrokeEngine engine;
  std::vector<std::uint8_t> before;
  auto check = [&](const zpb::Rect& r) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const std::size_t at = static_cast<std::size_t>(flip ? h - 1 - y : y) * stride + 3 * x;
        if (std::memcmp(&mem[at], &before[at], 3) != 0 && (x < r.left || x >= r.right || y < r.top || y >= r.bottom))
          std::abort();
      }
  };
  before = mem;
  check(engine.Begin(s, in.Signed16() * 4, in.Signed16() * 4, static_cast<int>(in.Next(2)), st));
  for (int i = 0; in.n > 0 && i < 64; ++i) {  // a short stroke: more strokes per second
    before = mem;
    check(engine.Continue(s, in.Signed16(), in.Signed16(), static_cast<int>(in.Next(2)) - 100,
                          static_cast<int>(in.Next(1)) - 10));
  }
  return 0;
}
