// Timing and test pictures for the benchmarks. Every figure a benchmark prints is a ratio to
// a baseline measured in the same run, so that the machine's speed cancels out.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

namespace bench {

// Seconds of the fastest of `runs` runs of f (at least `runs`, and at least 0.2 s in all),
// each after `setup`, which is not timed.
inline double Best(const std::function<void()>& setup, const std::function<void()>& f, int runs) {
  LARGE_INTEGER freq, a, b;
  QueryPerformanceFrequency(&freq);
  double best = 1e30, total = 0;
  for (int i = 0; i < runs || total < 0.2; ++i) {
    setup();
    QueryPerformanceCounter(&a);
    f();
    QueryPerformanceCounter(&b);
    const double s = double(b.QuadPart - a.QuadPart) / double(freq.QuadPart);
    best = std::min(best, s);
    total += s;
    if (i > 10000) break;
  }
  return best;
}

inline double Best(const std::function<void()>& f, int runs = 5) {
  return Best([] {}, f, runs);
}

// The middle of some measurements (the upper middle of an even number).
inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Ratios measured in turn several times against their baseline: their median, and how far
// they ranged, so that a passing disturbance of the machine moves one pair, not the verdict.
struct Ratios {
  std::vector<double> v;
  void Add(double r) { v.push_back(r); }
  double Median() const { return bench::Median(v); }
  double Lowest() const { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }
  double Highest() const { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }
};

// A top-down 24-bit picture (blue, green, red; rows padded to four bytes).
struct Picture {
  int width = 0;
  int height = 0;
  std::size_t stride = 0;
  std::vector<std::uint8_t> bgr;
  Picture(int w, int h) : width(w), height(h), stride(((std::size_t(w) * 3 + 3) / 4) * 4), bgr(stride * h, 255) {}
  std::uint8_t* At(int x, int y) { return bgr.data() + stride * y + 3 * x; }
};

// Blends a round pen tip of the given radius into the picture, antialiased by coverage.
inline void Dab(Picture& p, double cx, double cy, double r, const std::uint8_t bgr[3]) {
  const int x0 = std::max(0, int(cx - r - 1)), x1 = std::min(p.width - 1, int(cx + r + 1));
  const int y0 = std::max(0, int(cy - r - 1)), y1 = std::min(p.height - 1, int(cy + r + 1));
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) {
      const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
      const double cover = std::clamp(r + 0.5 - d, 0.0, 1.0);
      if (cover <= 0) continue;
      std::uint8_t* px = p.At(x, y);
      for (int c = 0; c < 3; ++c) px[c] = std::uint8_t(std::lround(px[c] + (bgr[c] - px[c]) * cover));
    }
}

// A handwritten memo: white paper with lines of "writing" (short wavy strokes in a few pen
// colours and widths) and a few long strokes across; about 3 to 6 percent of it is ink.
inline Picture Memo(int w, int h, unsigned seed) {
  Picture p(w, h);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0, 1);
  const std::uint8_t inks[][3] = {{0, 0, 0}, {0, 0, 0}, {160, 40, 20}, {30, 30, 200}};
  for (int line = 60; line + 40 < h; line += 70) {
    double x = 40 + 30 * u(rng);
    while (x < w - 80) {
      const auto& ink = inks[rng() % 4];
      const double r = 0.8 + 1.6 * u(rng);
      const double len = 20 + 60 * u(rng);
      const double f = 0.1 + 0.2 * u(rng), ph = 6.28 * u(rng);
      for (double t = 0; t < len; t += 0.5)
        Dab(p, x + t, line + 12 * std::sin(f * t + ph) + 4 * std::sin(3.1 * f * t), r, ink);
      x += len + 15 + 25 * u(rng);
    }
  }
  for (int i = 0; i < 4; ++i) {
    const std::uint8_t red[3] = {20, 20, 220};
    const double y = h * u(rng), a = u(rng) * 0.4 - 0.2;
    for (double t = 0; t < w * 0.8; t += 0.7) Dab(p, w * 0.1 + t, y + a * t, 3.5, red);
  }
  return p;
}

}  // namespace bench
