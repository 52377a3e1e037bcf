// Stroke rendering. Pixel format: three bytes per pixel, blue, green, red (see the header).
#include "StrokeEngine.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <type_traits>

namespace zpb {

void Rect::Unite(const Rect& r) {
  if (r.Empty()) return;
  if (Empty()) {
    *this = r;
    return;
  }
  left = std::min(left, r.left);
  top = std::min(top, r.top);
  right = std::max(right, r.right);
  bottom = std::max(bottom, r.bottom);
}

namespace {

// ---- deterministic noise: the same pixel and seed always give the same value ----

inline std::uint32_t Hash(int x, int y, std::uint32_t seed) {
  std::uint32_t h = seed * 0x9E3779B1u ^ static_cast<std::uint32_t>(x) * 0x85EBCA77u ^
                    static_cast<std::uint32_t>(y) * 0xC2B2AE3Du;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  h *= 0x297A2D39u;
  h ^= h >> 15;
  return h;
}

// Four products of 32-bit lanes, their low halves (SSE2 multiplies two at a time).
inline __m128i MulLo(__m128i a, __m128i b) {
  const __m128i even = _mm_mul_epu32(a, b);
  const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
  return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)), _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}

// Hash's parts that depend on the seed and row, and on the column (the columns of four
// pixels x .. x + 3; the next four's are these plus Hash4Step).
inline __m128i Hash4Row(int y, std::uint32_t seed) {
  return _mm_set1_epi32(static_cast<int>(seed * 0x9E3779B1u ^ static_cast<std::uint32_t>(y) * 0xC2B2AE3Du));
}
inline __m128i Hash4Columns(int x) {
  return MulLo(_mm_add_epi32(_mm_set1_epi32(x), _mm_set_epi32(3, 2, 1, 0)), _mm_set1_epi32(static_cast<int>(0x85EBCA77u)));
}
inline __m128i Hash4Step() { return _mm_set1_epi32(static_cast<int>(4 * 0x85EBCA77u)); }

// Hash of four pixels of a row from those parts: the same numbers as Hash.
inline __m128i Hash4(__m128i row, __m128i columns) {
  __m128i h = _mm_xor_si128(row, columns);
  h = _mm_xor_si128(h, _mm_srli_epi32(h, 15));
  h = MulLo(h, _mm_set1_epi32(0x2C1B3C6D));
  h = _mm_xor_si128(h, _mm_srli_epi32(h, 12));
  h = MulLo(h, _mm_set1_epi32(0x297A2D39));
  return _mm_xor_si128(h, _mm_srli_epi32(h, 15));
}

// Hash of the four pixels x .. x + 3 of row y: the same numbers as Hash.
inline __m128i Hash4(int x, int y, std::uint32_t seed) { return Hash4(Hash4Row(y, seed), Hash4Columns(x)); }

// Four pixels' twelve bytes at p, each byte v made v + (target - v) a + 1/2 (truncated), a
// byte's target and weight being the lanes of t and a: bytes 0-3, 4-7 and 8-11. Reads and
// writes the twelve bytes alone.
inline void Blend12(std::uint8_t* p, const __m128 t[3], const __m128 a[3]) {
  std::int32_t last;
  std::memcpy(&last, p + 8, 4);
  const __m128i bytes = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_cvtsi32_si128(last));
  const __m128i zero = _mm_setzero_si128();
  const __m128i words0 = _mm_unpacklo_epi8(bytes, zero), words1 = _mm_unpackhi_epi8(bytes, zero);
  const __m128 v[3] = {_mm_cvtepi32_ps(_mm_unpacklo_epi16(words0, zero)), _mm_cvtepi32_ps(_mm_unpackhi_epi16(words0, zero)),
                       _mm_cvtepi32_ps(_mm_unpacklo_epi16(words1, zero))};
  __m128i out[3];
  for (int i = 0; i < 3; ++i)
    out[i] = _mm_cvttps_epi32(_mm_add_ps(_mm_add_ps(v[i], _mm_mul_ps(_mm_sub_ps(t[i], v[i]), a[i])), _mm_set1_ps(0.5f)));
  const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(out[0], out[1]), _mm_packs_epi32(out[2], zero));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), packed);
  last = _mm_cvtsi128_si32(_mm_srli_si128(packed, 8));
  std::memcpy(p + 8, &last, 4);
}

// A value per pixel (lanes 0-3) spread over its three bytes: bytes 0-3, 4-7, 8-11.
inline void PerByte(__m128 v, __m128 out[3]) {
  out[0] = _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 0, 0, 0));
  out[1] = _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 2, 1, 1));
  out[2] = _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 3, 2));
}

// One piece of a stroke against one row, in single precision relative to a corner: its
// start (ax, ay), its course (abx, aby), 1 / its squared length (or 0), its radius r0 and
// the radius's change dr along it; py, the row's centre.
struct PieceLanes {
  __m128 ax, abx, aby, dyRow, tRow, tStep, r0, dr;
  PieceLanes() = default;
  PieceLanes(float ax, float ay, float abx, float aby, float inv, float r0, float dr, float py)
      : ax(_mm_set1_ps(ax)), abx(_mm_set1_ps(abx)), aby(_mm_set1_ps(aby)), dyRow(_mm_set1_ps(py - ay)),
        tRow(_mm_set1_ps((py - ay) * aby * inv - ax * abx * inv)), tStep(_mm_set1_ps(abx * inv)), r0(_mm_set1_ps(r0)),
        dr(_mm_set1_ps(dr)) {}
  // For four pixel centres px of the row: the offset from the nearest point of the path,
  // the distance, and the radius there times the pixels' factor f.
  void At(__m128 px, __m128 f, __m128& dx, __m128& dy, __m128& d, __m128& r) const {
    const __m128 t = _mm_min_ps(_mm_max_ps(_mm_add_ps(tRow, _mm_mul_ps(px, tStep)), _mm_setzero_ps()), _mm_set1_ps(1));
    dx = _mm_sub_ps(_mm_sub_ps(px, ax), _mm_mul_ps(abx, t));
    dy = _mm_sub_ps(dyRow, _mm_mul_ps(aby, t));
    d = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)));
    r = _mm_mul_ps(_mm_add_ps(r0, _mm_mul_ps(dr, t)), f);
  }
};

// The same from a piece's single-precision form (its `local`).
template <class Local>
PieceLanes LanesOf(const Local& l, float py) {
  return PieceLanes(l.ax, l.ay, l.abx, l.aby, l.inv, l.r0, l.dr, py);
}

// Four eight-byte records at p: their first halves (known) and second halves (rest), a
// record a lane.
inline void SplitRecords(const void* p, __m128i& known, __m128i& rest) {
  const __m128i c01 = _mm_loadu_si128(static_cast<const __m128i*>(p));
  const __m128i c23 = _mm_loadu_si128(static_cast<const __m128i*>(p) + 1);
  const __m128i a01 = _mm_shuffle_epi32(c01, _MM_SHUFFLE(3, 1, 2, 0));
  const __m128i a23 = _mm_shuffle_epi32(c23, _MM_SHUFFLE(3, 1, 2, 0));
  known = _mm_unpacklo_epi64(a01, a23);
  rest = _mm_unpackhi_epi64(a01, a23);
}

inline double Rand01(int x, int y, std::uint32_t seed) { return (Hash(x, y, seed) & 0xFFFFFF) / 16777216.0; }

inline double Smooth(double t) { return t * t * (3 - 2 * t); }

inline double SmoothStep(double a, double b, double x) {
  if (x <= a) return 0;
  if (x >= b) return 1;
  return Smooth((x - a) / (b - a));
}

// The same in single precision, given a and 1 / (b - a).
inline float SoftStep(float a, float inverseWidth, float x) {
  const float t = std::clamp((x - a) * inverseWidth, 0.0f, 1.0f);
  return t * t * (3 - 2 * t);
}

// Value noise in [0, 1) at (x, y) with features about `scale` pixels apart.
double ValueNoise(double x, double y, double scale, std::uint32_t seed) {
  x /= scale;
  y /= scale;
  const double fx = std::floor(x), fy = std::floor(y);
  const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
  const double u = Smooth(x - fx), v = Smooth(y - fy);
  const double a = Rand01(ix, iy, seed), b = Rand01(ix + 1, iy, seed);
  const double c = Rand01(ix, iy + 1, seed), d = Rand01(ix + 1, iy + 1, seed);
  return (a + (b - a) * u) * (1 - v) + (c + (d - c) * u) * v;
}

// One-dimensional value noise from its lattice values (lattice[i] at i), 0 <= x < its last.
double LatticeNoise(const double* lattice, double x) {
  const double f = std::floor(x);
  const int i = static_cast<int>(f);
  const double u = Smooth(x - f);
  return lattice[i] * (1 - u) + lattice[i + 1] * u;
}

// std::lround for 0 <= v < 2^31, without the library call: v less its integer part is exact.
inline int RoundHalfAway(double v) {
  const int whole = static_cast<int>(v);
  return whole + (v - whole >= 0.5);
}

// The pixels of the drawing a piece spanning x0..x1 and y0..y1 may change when it reaches
// `reach` beyond that (empty when none).
Rect ReachBox(const Surface& s, double x0, double x1, double y0, double y1, double reach) {
  return {std::max(0, static_cast<int>(std::floor(x0 - reach))), std::max(0, static_cast<int>(std::floor(y0 - reach))),
          std::min(s.width - 1, static_cast<int>(std::ceil(x1 + reach))) + 1,
          std::min(s.height - 1, static_cast<int>(std::ceil(y1 + reach))) + 1};
}

void ColorBgr(std::uint32_t c, double out[3]) {
  out[0] = (c >> 16) & 0xFF;
  out[1] = (c >> 8) & 0xFF;
  out[2] = c & 0xFF;
}

constexpr int kTileShift = 6;
constexpr int kTileSize = 1 << kTileShift;
constexpr int kTileMask = kTileSize - 1;
// Pieces of a call painted together: each pixel is then worked out once for all of them.
constexpr std::size_t kCapsulesAtOnce = 4;

constexpr bool Textured(Medium m) { return m == Medium::ColoredPencil || m == Medium::Crayon || m == Medium::Watercolour; }
// The media whose colour follows how near the stroke came, not only how far it covers.
constexpr bool ByNearness(Medium m) { return m == Medium::WaterInk || m == Medium::Watercolour; }

}  // namespace

// What a stroke has done to one pixel: the colour it had before the stroke, the closest the
// stroke came (n: distance over radius, in 1/16384) and the largest edge coverage and opacity.
struct StrokeEngine::Cell {
  std::uint16_t n;
  std::uint8_t cover;
  std::uint8_t opacity;
  std::uint8_t orig[3];
  std::uint8_t stroke;  // the stroke that made the record (0: none yet)
};

// The records of 64 x 64 pixels. The paper's grain and the dry media's ragged edge depend on
// the pixel and the settings alone: each is worked out at a pixel's first touch and kept for
// later calls and strokes with the same settings (negative: not yet). A stroke passes a pixel
// many times, and the noise is most of such a pixel's cost.
struct StrokeEngine::Tile {
  static_assert(sizeof(Cell) == 8, "the row loop reads four records as two vectors");
  Cell cells[kTileSize * kTileSize];
  std::unique_ptr<float[]> grain, ragged;
  GrainKey grainKey;
  std::uint32_t raggedSeed = 0;
};

StrokeEngine::StrokeEngine() = default;
StrokeEngine::~StrokeEngine() = default;

inline StrokeEngine::Tile& StrokeEngine::TileAt(int x, int y) {
  std::unique_ptr<Tile>& slot = tiles_[static_cast<std::size_t>(y >> kTileShift) * tilesX_ + (x >> kTileShift)];
  return slot ? *slot : MakeTile(slot);
}

// A tile is made when a stroke first reaches it, its records empty.
StrokeEngine::Tile& StrokeEngine::MakeTile(std::unique_ptr<Tile>& slot) {
  slot = std::make_unique<Tile>();
  return *slot;
}

float* StrokeEngine::GrainOf(Tile& t) {
  if (!t.grain || !(t.grainKey == grainKey_)) {
    if (!t.grain) t.grain = std::make_unique<float[]>(kTileSize * kTileSize);
    std::fill_n(t.grain.get(), kTileSize * kTileSize, -1.0f);
    t.grainKey = grainKey_;
  }
  return t.grain.get();
}

void StrokeEngine::SetBleed(int step) {
  bleedScale_ = 2.5 * std::exp2((step - 1) / 4.0);
}

float* StrokeEngine::RaggedOf(Tile& t) {
  if (!t.ragged || t.raggedSeed != st_.seed) {
    if (!t.ragged) t.ragged = std::make_unique<float[]>(kTileSize * kTileSize);
    std::fill_n(t.ragged.get(), kTileSize * kTileSize, -1.0f);
    t.raggedSeed = st_.seed;
  }
  return t.ragged.get();
}

double StrokeEngine::Radius(double pressure) const {
  double p = std::clamp(pressure / 65535.0, 0.0, 1.0);
  if (st_.pressureCurve == 2) p = std::pow(p, 0.6);
  if (st_.pressureCurve == 3) p = std::pow(p, 1.6);
  const double w = st_.varyWidth ? st_.minWidth + (st_.maxWidth - st_.minWidth) * p : st_.maxWidth;
  return std::clamp(w, 0.7, kMaxWidth) / 2;
}

double StrokeEngine::Opacity(double pressure) const {
  double p = std::clamp(pressure / 65535.0, 0.0, 1.0);
  if (st_.pressureCurve == 2) p = std::pow(p, 0.6);
  if (st_.pressureCurve == 3) p = std::pow(p, 1.6);
  double o = st_.varyOpacity ? 0.2 + 0.8 * p : 1.0;
  if (st_.medium == Medium::ColoredPencil) o *= 0.62;
  return o * (1 - std::clamp(st_.transparency, 0.0, 1.0));
}

// ---- the ink-like media and the eraser: colour from the per-pixel record ----

// The textured media's grain at a pixel (0 for the others).
float StrokeEngine::Grain(int x, int y) const {
  double g = 0;
  switch (st_.medium) {
    case Medium::ColoredPencil:
      g = 0.6 * ValueNoise(x, y, 1.2 * st_.grain, st_.seed) + 0.4 * ValueNoise(x, y, 3.3 * st_.grain, st_.seed + 1);
      break;
    case Medium::Crayon:
      g = 0.55 * ValueNoise(x, y, 2.2 * st_.grain, st_.seed + 2) + 0.45 * ValueNoise(x, y, 5.5 * st_.grain, st_.seed + 3);
      break;
    case Medium::Watercolour: g = ValueNoise(x, y, 2.5 * st_.grain, st_.seed + 4); break;
    default: break;
  }
  return static_cast<float>(g);
}

// ---- oil paint: opaque, dragged, with bristle streaks; it builds up on the pixels ----

// The mean colour of the paint around (cx, cy), and the share of the samples that are paint
// rather than bare (near-white) paper.
double StrokeEngine::SampleUnder(const Surface& s, double cx, double cy, double r, double bgr[3]) const {
  double sum[3] = {0, 0, 0};
  int n = 0, all = 0;
  const int x0 = std::max(0, static_cast<int>(cx - r)), x1 = std::min(s.width - 1, static_cast<int>(cx + r));
  const int y0 = std::max(0, static_cast<int>(cy - r)), y1 = std::min(s.height - 1, static_cast<int>(cy + r));
  const int step = std::max(1, static_cast<int>(r / 3));
  for (int y = y0; y <= y1; y += step)
    for (int x = x0; x <= x1; x += step) {
      const std::uint8_t* p = s.Px(x, y);
      ++all;
      if (p[0] >= 245 && p[1] >= 245 && p[2] >= 245) continue;
      for (int i = 0; i < 3; ++i) sum[i] += p[i];
      ++n;
    }
  for (int i = 0; i < 3; ++i) bgr[i] = n ? sum[i] / n : load_[i];
  return all ? static_cast<double>(n) / all : 0;
}

// ---- airbrush: a mist that builds up ----

void StrokeEngine::SprayDab(const Surface& s, double cx, double cy, double radius, double amount, Rect& dirty) {
  const double sigma = std::max(radius * 0.5, 0.6), reach = 2.2 * sigma;
  const int x0 = std::max(0, static_cast<int>(std::floor(cx - reach)));
  const int x1 = std::min(s.width - 1, static_cast<int>(std::ceil(cx + reach)));
  const int y0 = std::max(0, static_cast<int>(std::floor(cy - reach)));
  const int y1 = std::min(s.height - 1, static_cast<int>(std::ceil(cy + reach)));
  if (x0 > x1 || y0 > y1) return;
  const int* ink = ink_;
  const double op = Opacity(last_.pressure);
  const std::uint32_t mist = st_.seed + 11 + events_ * 7919u;
  // The mist's density falls off as a Gaussian, which is a column's factor times a row's.
  const double k = -1 / (2 * sigma * sigma);
  spray_.resize(static_cast<std::size_t>(x1 - x0 + 1) + 3);  // and a spare for the last four
  for (int x = x0; x <= x1; ++x) {
    const double dx = x + 0.5 - cx;
    spray_[x - x0] = static_cast<float>(std::exp(dx * dx * k));
  }
  const bool speckled = st_.speckled;
  const float inkF[3] = {static_cast<float>(ink[0]), static_cast<float>(ink[1]), static_cast<float>(ink[2])};
  const __m128 inks[3] = {_mm_set_ps(inkF[0], inkF[2], inkF[1], inkF[0]), _mm_set_ps(inkF[1], inkF[0], inkF[2], inkF[1]),
                          _mm_set_ps(inkF[2], inkF[1], inkF[0], inkF[2])};
  for (int y = y0; y <= y1; ++y) {
    const double dy = y + 0.5 - cy;
    if (dy * dy > reach * reach) continue;
    // The row's part of the dab's disc.
    const double half = std::sqrt(reach * reach - dy * dy);
    const int from = std::max(x0, static_cast<int>(std::ceil(cx - half - 0.5)));
    const int to = std::min(x1, static_cast<int>(std::floor(cx + half - 0.5)));
    const float rowAmount = static_cast<float>(std::max(amount, 0.0) * std::exp(dy * dy * k) * op);
    std::uint8_t* line = s.Row(y);
    // Four pixels at a time: each one's share of the mist (its own random droplet size) ...
    const __m128 amountV = _mm_set1_ps(rowAmount), one = _mm_set1_ps(1);
    alignas(16) float w[4];
    const __m128i row = Hash4Row(y, mist);
    __m128i columns = Hash4Columns(from);
    for (int x = from; x <= to; x += 4, columns = _mm_add_epi32(columns, Hash4Step())) {
      const __m128i h = Hash4(row, columns);
      const __m128 r = _mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(h, _mm_set1_epi32(0xFFFFFF))), _mm_set1_ps(1.0f / 16777216));
      const __m128 size =
          speckled ? _mm_or_ps(_mm_and_ps(_mm_cmpgt_ps(r, _mm_set1_ps(0.82f)), _mm_set1_ps(4.5f)),
                               _mm_andnot_ps(_mm_cmpgt_ps(r, _mm_set1_ps(0.82f)), _mm_set1_ps(0.05f)))
                   : _mm_add_ps(_mm_set1_ps(0.45f), _mm_mul_ps(_mm_set1_ps(1.1f), r));
      const __m128 a = _mm_min_ps(_mm_mul_ps(_mm_mul_ps(amountV, _mm_loadu_ps(spray_.data() + (x - x0))), size), one);
      // ... then its bytes.
      if (x + 3 <= to) {
        __m128 weights[3];
        PerByte(a, weights);
        Blend12(line + 3 * x, inks, weights);
        continue;
      }
      _mm_store_ps(w, a);
      for (int k = 0; x + k <= to; ++k) {
        std::uint8_t* px = line + 3 * (x + k);
        for (int i = 0; i < 3; ++i) px[i] = static_cast<std::uint8_t>(px[i] + (ink[i] - px[i]) * w[k] + 0.5f);
      }
    }
  }
  dirty.Unite({x0, y0, x1 + 1, y1 + 1});
}

// The part [from, to] of the path from (ax, ay) along (dx, dy) (of length len) that comes
// within `margin` of the bitmap; from > to when none does.
void StrokeEngine::ClipToBounds(const Surface& s, double ax, double ay, double dx, double dy, double len, double margin,
                                double& from, double& to) {
  from = 0;
  to = len;
  if (len <= 0) return;
  const double ux = dx / len, uy = dy / len;
  auto clip = [&](double origin, double dir, double lo, double hi) {
    if (dir == 0) {
      if (origin < lo || origin > hi) from = to + 1;
      return;
    }
    double t0 = (lo - origin) / dir, t1 = (hi - origin) / dir;
    if (t0 > t1) std::swap(t0, t1);
    from = std::max(from, t0);
    to = std::min(to, t1);
  };
  clip(ax, ux, -margin, s.width + margin);
  clip(ay, uy, -margin, s.height + margin);
}

// How far the edge of the water-based media wanders, and of the dry ones, over the radius.
double StrokeEngine::Bleed(const Settings& st) {
  const double soak = std::sqrt(std::clamp(st.soak, 0.0, 10.0));
  return st.medium == Medium::WaterInk ? 0.12 * soak : st.medium == Medium::Watercolour ? 0.08 * soak : 0;
}

// How far beyond the path oil paint of radius r may change pixels, with a pixel to spare:
// the box of a piece, and of a segment's ragged edge, which must hold its pieces' boxes.
double StrokeEngine::OilReach(double r) const { return r * (1 + ragged_) + edge_ + 1; }

double StrokeEngine::Ragged(const Settings& st) {
  return st.medium == Medium::Crayon ? 0.1 : st.medium == Medium::OilPaint ? 0.06 : 0;
}

// How far apart the features of the water media's wandering edge lie for a radius: a good
// part of the width, in steps of a quarter of an octave from 2.5 pixels (step 1 is 2.5), so
// that the noise stays the same while the pressure changes a little.
int StrokeEngine::BleedStep(double radius) {
  const double scale = 0.45 * radius;
  if (!(scale > 2.5)) return 1;
  return 1 + static_cast<int>(std::min(200.0, std::round(std::log2(scale / 2.5) * 4)));
}

// Antialiasing width; ink soaking into the paper leaves a softer edge.
double StrokeEngine::EdgeWidth(const Settings& st) {
  const double e = std::max(st.edge, 0.5);
  return st.medium == Medium::WaterInk ? e * (1 + 0.6 * std::sqrt(std::clamp(st.soak, 0.0, 10.0))) : e;
}

double StrokeEngine::Reach(const Settings& st) {
  const double r = std::clamp(std::max(st.maxWidth, st.minWidth), 0.7, kMaxWidth) / 2;
  if (st.medium == Medium::Airbrush) return 1.1 * std::max(r, 0.6) + 2;
  return r * (1 + Bleed(st) + Ragged(st)) + EdgeWidth(st) + 2;
}

// ---- one capsule of the stroke: from a to b, the radius following the pressure ----

StrokeEngine::Capsule::Capsule(double ax, double ay, double abx, double aby, double r0, double r1, double reach,
                               float opacity, int top, int bottom)
    : ax(ax), ay(ay), abx(abx), aby(aby), r0(r0), r1(r1), reach(reach), opacity(opacity), top(top), bottom(bottom) {
  const double len = std::sqrt(abx * abx + aby * aby);
  if (len > 0) {
    nx = -aby / len * reach;
    ny = abx / len * reach;
  }
  invNy = ny != 0 ? 1 / ny : 0;
  invAby = aby != 0 && len > 0 ? 1 / aby : 0;
  // A short piece lies within a circle round its middle, whose rows are quicker to find:
  // the spans grow by at most half the piece on either side.
  if (len <= reach) {
    round = reach + len / 2;
    midX = ax + abx / 2;
    midY = ay + aby / 2;
  }
}

// Narrows [from, to] to the pixels of the row whose centres (y = py) lie within `reach` of
// the path; false when none do. The capsule is convex, so on a row it is one interval: the
// hull of where the row crosses the two end circles and the band between them
// (a + t (abx, aby) + s (nx, ny), 0 <= t <= 1, -1 <= s <= 1).
bool StrokeEngine::Capsule::RowSpan(double py, int& from, int& to) const {
  if (round > 0) {
    const double dy = py - midY;
    if (std::fabs(dy) > round) return false;
    const double half = std::sqrt(round * round - dy * dy);
    from = std::max(from, static_cast<int>(std::ceil(midX - half - 0.5)));
    to = std::min(to, static_cast<int>(std::floor(midX + half - 0.5)));
    return from <= to;
  }
  double lo = HUGE_VAL, hi = -HUGE_VAL;
  auto take = [&](double x) {
    lo = std::min(lo, x);
    hi = std::max(hi, x);
  };
  const double dy0 = py - ay, dy1 = dy0 - aby;
  for (const double t : {0.0, 1.0}) {  // the end circles
    const double dy = t == 0 ? dy0 : dy1;
    if (std::fabs(dy) > reach) continue;
    const double half = std::sqrt(reach * reach - dy * dy), cx = ax + abx * t;
    take(cx - half);
    take(cx + half);
  }
  if (invNy != 0)
    for (const double t : {0.0, 1.0}) {
      const double sv = (t == 0 ? dy0 : dy1) * invNy;
      if (std::fabs(sv) <= 1) take(ax + abx * t + nx * sv);
    }
  if (invAby != 0)
    for (const double sv : {-1.0, 1.0}) {
      const double t = (dy0 - ny * sv) * invAby;
      if (t >= 0 && t <= 1) take(ax + abx * t + nx * sv);
    }
  if (lo > hi) return false;
  from = std::max(from, static_cast<int>(std::ceil(lo - 0.5)));
  to = std::min(to, static_cast<int>(std::floor(hi - 0.5)));
  return from <= to;
}

void StrokeEngine::Capsule::Localise(int left, int top) {
  const double len2 = abx * abx + aby * aby;
  local = {static_cast<float>(ax - left), static_cast<float>(ay - top), static_cast<float>(abx), static_cast<float>(aby),
           len2 > 0 ? static_cast<float>(1 / len2) : 0.0f, static_cast<float>(r0), static_cast<float>(r1 - r0)};
}

void StrokeEngine::Piece(const Surface& s, const Point& a, const Point& b, Rect& dirty) {
  const double r0 = Radius(a.pressure), r1 = Radius(b.pressure);
  const double ax = a.x, ay = a.y, abx = b.x - a.x, aby = b.y - a.y;
  const double len2 = abx * abx + aby * aby;
  const double len = std::sqrt(len2);
  if (st_.medium == Medium::Airbrush) {
    // Dabs along the path at a fixed spacing, so the mist is as dense fast as slow.
    const double r = std::max(r0, r1), spacing = std::max(0.5, r * 0.25);
    double pos = std::max(0.0, spacing - pendingSpray_);  // where along this piece the next dab falls
    double lastDab = -pendingSpray_;
    // Only the part of the path near the drawing gets dabs: a far point costs nothing.
    double from = 0, to = len;
    ClipToBounds(s, ax, ay, abx, aby, len, 2.5 * std::max(r, 1.0) + 2, from, to);
    if (from > pos) {
      const double skip = std::floor((from - pos) / spacing);
      pos += skip * spacing;
      lastDab = pos - spacing;
    }
    for (; pos <= std::min(len, to + spacing); pos += spacing) {
      const double t = len > 0 ? pos / len : 1;
      SprayDab(s, ax + abx * t, ay + aby * t, r0 + (r1 - r0) * t, 0.11 * st_.sprayDensity, dirty);
      lastDab = pos;
    }
    pendingSpray_ = std::fmod(len - lastDab, spacing);
    return;
  }
  if (st_.medium != Medium::OilPaint) {
    AddCapsule(s, a, b, dirty);
    if (capsules_.size() == kCapsulesAtOnce) InkCapsules(s);
    return;
  }
  // Oil paint. The brush takes up some of the colour it passes over and keeps some of its
  // own. It meets the paint at its leading edge. Bare paper gives no colour, and there the
  // brush's own paint comes through sooner.
  double under[3], own[3];
  const double ahead = len > 0 ? 0.6 * r1 / len : 0;
  const double wet = SampleUnder(s, b.x + abx * ahead, b.y + aby * ahead, std::max(r1 * 0.6, 1.0), under);
  ColorBgr(st_.color, own);
  const double k = std::min(1.0, len / std::max(r1, 1.0));
  const double pickup = 0.3 * wet, refill = 0.06 + 0.06 * (1 - wet);
  for (int i = 0; i < 3; ++i) load_[i] += ((under[i] - load_[i]) * pickup + (own[i] - load_[i]) * refill) * k;
  const double edge = edge_, ragged = ragged_;
  const float opacity = static_cast<float>(Opacity(last_.pressure));
  const Rect box = ReachBox(s, std::min(ax, b.x), std::max(ax, b.x), std::min(ay, b.y), std::max(ay, b.y),
                           OilReach(std::max(r0, r1)));
  if (box.Empty()) return;  // wholly outside the bitmap
  const int x0 = box.left, x1 = box.right - 1, y0 = box.top, y1 = box.bottom - 1;
  dirty.Unite(box);
  // No pixel farther than this from the path is touched, whatever the noise makes of the
  // radius below (a pixel is covered less than half the edge beyond the radius; a quarter
  // pixel more for rounding).
  const double farthest = std::max(r0, r1) * (1 + ragged) + edge / 2 + 0.25;
  Capsule c(ax, ay, abx, aby, r0, r1, farthest, 0, y0, y1);
  if (!NearPart(s, c)) return;
  // Four pixels at a time, relative to the box's corner: how far the piece covers each and
  // where across the brush it lies (the bristles run along the stroke, also round its ends);
  // then, where it covers, the paint. Each bristle leaves its own shade along the stroke; the
  // outer ones leave gaps.
  c.Localise(x0, y0);
  const double clen = std::sqrt(c.abx * c.abx + c.aby * c.aby);
  const __m128 ux = _mm_set1_ps(clen > 0 ? static_cast<float>(c.abx / clen) : 0.0f);
  const __m128 uy = _mm_set1_ps(clen > 0 ? static_cast<float>(c.aby / clen) : -1.0f);
  const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1), half = _mm_set1_ps(0.5f), none = _mm_set1_ps(-1);
  const __m128 invEdge = _mm_set1_ps(static_cast<float>(1 / edge)), halfShades = _mm_set1_ps(kShades / 2);
  const float load[3] = {static_cast<float>(load_[0]), static_cast<float>(load_[1]), static_cast<float>(load_[2])};
  // The brush's colour byte by byte over four pixels.
  const __m128 loads[3] = {_mm_set_ps(load[0], load[2], load[1], load[0]), _mm_set_ps(load[1], load[0], load[2], load[1]),
                           _mm_set_ps(load[2], load[1], load[0], load[2])};
  alignas(16) float shade[4], weight[4];
  alignas(16) std::int32_t j[4];
  const float* factor = nullptr;
  // The segment's ragged edge, when it was worked out and holds this piece (it always does
  // but for rounding).
  const bool mapped = !oilFactors_.empty() && oilBox_.Holds(box);
  float* covers = rowCover_.data();
  float* sides = rowAcross_.data();
  for (int y = y0; y <= y1; ++y) {
    int from = x0, to = x1;
    if (!c.RowSpan(y + 0.5, from, to)) continue;
    const int count = to - from + 1, padded = (count + 3) & ~3;
    // Thick paint is ragged at the paper's tooth.
    if (mapped) {
      factor = oilFactors_.data() + static_cast<std::size_t>(y - oilBox_.top) * oilFactorsW_ + (from - oilBox_.left);
    } else {
      float* own = rowFactor_.data();
      RaggedRow(y, from, to, static_cast<float>(ragged), own);
      std::fill(own + count, own + padded, 1.0f);
      factor = own;
    }
    const PieceLanes lanes = LanesOf(c.local, static_cast<float>(y + 0.5 - y0));
    const float px0 = static_cast<float>(from - x0) + 0.5f;
    for (int i = 0; i < padded; i += 4) {
      const __m128 px = _mm_add_ps(_mm_set1_ps(px0 + i), _mm_set_ps(3, 2, 1, 0));
      __m128 dx, dy, d, r;
      lanes.At(px, _mm_loadu_ps(factor + i), dx, dy, d, r);
      _mm_storeu_ps(covers + i, _mm_add_ps(_mm_mul_ps(_mm_sub_ps(r, d), invEdge), half));  // > 0: covered
      const __m128 cross = _mm_sub_ps(_mm_mul_ps(ux, dy), _mm_mul_ps(uy, dx));
      _mm_storeu_ps(sides + i, _mm_min_ps(_mm_max_ps(_mm_div_ps(cross, _mm_max_ps(r, half)), none), one));
    }
    std::uint8_t* line = s.Row(y) + 3 * from;
    for (int i = 0; i < padded; i += 4) {
      const __m128 u = _mm_loadu_ps(covers + i);
      const int covered = _mm_movemask_ps(_mm_cmpgt_ps(u, zero)) & (count - i >= 4 ? 15 : (1 << (count - i)) - 1);
      if (!covered) continue;
      // Each place's entry of the table holds both shades it lies between and both gaps it
      // may round to.
      const __m128 at = _mm_mul_ps(_mm_add_ps(_mm_loadu_ps(sides + i), one), halfShades);
      const __m128i whole = _mm_min_epi16(_mm_cvttps_epi32(at), _mm_set1_epi32(kShades - 1));  // 0 .. kShades - 1
      const __m128i nearest = _mm_cvttps_epi32(_mm_add_ps(at, half));
      _mm_store_si128(reinterpret_cast<__m128i*>(j), whole);
      __m128 lo = _mm_loadu_ps(shades_[j[0]]), hi = _mm_loadu_ps(shades_[j[1]]);
      __m128 gapLo = _mm_loadu_ps(shades_[j[2]]), gapHi = _mm_loadu_ps(shades_[j[3]]);
      _MM_TRANSPOSE4_PS(lo, hi, gapLo, gapHi);
      const __m128 shadeV = _mm_add_ps(lo, _mm_mul_ps(_mm_sub_ps(hi, lo), _mm_sub_ps(at, _mm_cvtepi32_ps(whole))));
      const __m128 up = _mm_castsi128_ps(_mm_cmpgt_epi32(nearest, whole));
      const __m128 gaps = _mm_or_ps(_mm_and_ps(up, gapHi), _mm_andnot_ps(up, gapLo));
      // 0 where the piece does not reach.
      const __m128 aV = _mm_mul_ps(_mm_mul_ps(_mm_min_ps(_mm_max_ps(u, zero), one), _mm_set1_ps(opacity)), gaps);
      if (count - i >= 4) {  // a within 0..1 keeps the colour within the bytes' range
        __m128 t[3], w[3];
        PerByte(shadeV, t);
        PerByte(aV, w);
        for (int b = 0; b < 3; ++b) t[b] = _mm_min_ps(_mm_mul_ps(loads[b], t[b]), _mm_set1_ps(255));
        Blend12(line + 3 * i, t, w);
        continue;
      }
      _mm_store_ps(shade, shadeV);
      _mm_store_ps(weight, aV);
      for (int k = 0; k < 4; ++k) {
        if (!(covered & (1 << k))) continue;
        std::uint8_t* p = line + 3 * (i + k);
        for (int ch = 0; ch < 3; ++ch) {
          const float paint = std::min(255.0f, load[ch] * shade[k]);
          p[ch] = static_cast<std::uint8_t>(p[ch] + (paint - p[ch]) * weight[k] + 0.5f);
        }
      }
    }
  }
}

// Oil paint's ragged edge under a whole segment (from a to b, leaving a along (m0x, m0y)),
// worked out once for its pieces, which pass the same rows in turn; none when the segment
// reaches over too much of the drawing (its pieces then work out their own rows).
void StrokeEngine::OilFactors(const Surface& s, const Point& a, const Point& b, double m0x, double m0y) {
  oilFactors_.clear();
  // The curve lies within the hull of its control points.
  const double xs[4] = {a.x, a.x + m0x / 3, b.x - (b.x - a.x) / 3, b.x};
  const double ys[4] = {a.y, a.y + m0y / 3, b.y - (b.y - a.y) / 3, b.y};
  const Rect box = ReachBox(s, *std::min_element(xs, xs + 4), *std::max_element(xs, xs + 4), *std::min_element(ys, ys + 4),
                           *std::max_element(ys, ys + 4), OilReach(std::max(Radius(a.pressure), Radius(b.pressure))));
  if (box.Empty() || static_cast<double>(box.right - box.left) * (box.bottom - box.top) > 128.0 * 128) return;
  oilBox_ = box;
  const int x0 = box.left, x1 = box.right - 1, y0 = box.top, y1 = box.bottom - 1;
  oilFactorsW_ = x1 - x0 + 1 + 4;  // and a padding of ones, for the rows' last four
  oilFactors_.assign(static_cast<std::size_t>(oilFactorsW_) * (y1 - y0 + 1), 1.0f);
  for (int y = y0; y <= y1; ++y)
    RaggedRow(y, x0, x1, static_cast<float>(ragged_), oilFactors_.data() + static_cast<std::size_t>(y - y0) * oilFactorsW_);
}

// Keeps of a capsule that reaches far beyond the drawing only its part near it, so that the
// rows can work in single precision relative to a corner nearby (the nearest point of the
// path to a pixel in reach lies in that part; the radius along it is as before). False when
// no part is near.
bool StrokeEngine::NearPart(const Surface& s, Capsule& c) {
  const double m = c.reach + 2;
  auto far = [&](double x, double y) { return x < -m || y < -m || x > s.width + m || y > s.height + m; };
  if (!far(c.ax, c.ay) && !far(c.ax + c.abx, c.ay + c.aby)) return true;
  const double len = std::sqrt(c.abx * c.abx + c.aby * c.aby);
  double from = 0, to = len;
  ClipToBounds(s, c.ax, c.ay, c.abx, c.aby, len, m, from, to);
  if (from > to || len <= 0) return false;
  const double u0 = from / len, u1 = to / len, dr = c.r1 - c.r0;
  c = Capsule(c.ax + c.abx * u0, c.ay + c.aby * u0, c.abx * (u1 - u0), c.aby * (u1 - u0), c.r0 + dr * u0,
              c.r0 + dr * u1, c.reach, c.opacity, c.top, c.bottom);
  return true;
}

// The radius's factor at the pixels from..to of row y (from `factor` on): the dry media's
// ragged edge.
void StrokeEngine::RaggedRow(int y, int from, int to, float ragged, float* factor) {
  const __m128 base = _mm_set1_ps(1 - ragged), scale = _mm_set1_ps(2 * ragged), zero = _mm_setzero_ps();
  for (int x = from; x <= to;) {
    float* noise = RaggedOf(TileAt(x, y)) + ((y & kTileMask) << kTileShift);
    const int end = std::min(to, x | kTileMask);
    auto one = [&](int at) {
      float& v = noise[at & kTileMask];
      if (v < 0) v = static_cast<float>(ValueNoise(at + 0.5, y + 0.5, 1.7, st_.seed + 6));
      return v;
    };
    for (; x + 3 <= end; x += 4) {  // four at a time where all four are known
      __m128 v = _mm_loadu_ps(noise + (x & kTileMask));
      if (_mm_movemask_ps(_mm_cmplt_ps(v, zero))) {
        for (int k = 0; k < 4; ++k) one(x + k);
        v = _mm_loadu_ps(noise + (x & kTileMask));
      }
      _mm_storeu_ps(factor + (x - from), _mm_add_ps(base, _mm_mul_ps(scale, v)));
    }
    for (; x <= end; ++x) factor[x - from] = (1 - ragged) + 2 * ragged * one(x);
  }
}

// ---- the ink-like media and the eraser: the pieces of a call together ----

void StrokeEngine::AddCapsule(const Surface& s, const Point& a, const Point& b, Rect& dirty) {
  double r0 = Radius(a.pressure), r1 = Radius(b.pressure);
  double ax = a.x, ay = a.y, abx = b.x - a.x, aby = b.y - a.y;
  const double edge = edge_, bleed = bleed_, ragged = ragged_;
  const Rect box = ReachBox(s, std::min(ax, b.x), std::max(ax, b.x), std::min(ay, b.y), std::max(ay, b.y),
                           std::max(r0, r1) * (1 + bleed + ragged) + edge + 1);
  if (box.Empty()) return;  // wholly outside the bitmap
  // No pixel farther than this from the path is touched, whatever the noise makes of the
  // radius (a pixel is covered less than half the edge beyond the radius; a quarter pixel
  // more for rounding).
  const double farthest = std::max(r0, r1) * (1 + bleed) * (1 + ragged) + edge / 2 + 0.25;
  dirty.Unite(box);
  const double opacity = Opacity((a.pressure + b.pressure) / 2);
  Capsule c(ax, ay, abx, aby, r0, r1, farthest, static_cast<float>(RoundHalfAway(opacity * 255)), box.top,
            box.bottom - 1);
  if (!NearPart(s, c)) return;
  capsules_.push_back(c);
  capsuleBox_.Unite(box);
}

void StrokeEngine::InkCapsules(const Surface& s) {
  const Rect box = capsuleBox_;
  if (bleed_ > 0 && !box.Empty()) MakeBleed(box);
  for (Capsule& c : capsules_) c.Localise(box.left, box.top);
  for (int y = box.top; y < box.bottom; ++y) {
    int from = box.right, to = box.left - 1;
    for (const Capsule& c : capsules_) {
      int f = box.left, t = box.right - 1;
      if (y >= c.top && y <= c.bottom && c.RowSpan(y + 0.5, f, t)) {
        from = std::min(from, f);
        to = std::max(to, t);
      }
    }
    if (from <= to) InkRow(s, y, from, to, box);
  }
  capsules_.clear();
  capsuleBox_ = {};
}

// The water media's wandering edge under the box of the waiting pieces, as the radius's
// factor: value noise, features bleedScale_ apart. Along a row the noise steps between the
// lattice's columns the same way on every row, so each lattice row is interpolated across
// the box once here (bleedRows_), and a pixel row only blends its two (BleedRow). A pixel's
// value depends on the pixel alone, not on the box. Cheap enough to make for every call: the
// scale follows the pressure, so values kept from an earlier call would seldom fit.
void StrokeEngine::MakeBleed(const Rect& box) {
  const double inv = 1 / bleedScale_;
  // The lattice, a little beyond the box for the rounding of single precision below.
  latticeX_ = static_cast<int>(std::floor((box.left + 0.5) * inv)) - 2;
  latticeY_ = static_cast<int>(std::floor((box.top + 0.5) * inv));
  const int columns = static_cast<int>(std::floor((box.right - 0.5) * inv)) + 6 - latticeX_;
  const int rows = static_cast<int>(std::floor((box.bottom - 0.5) * inv)) + 2 - latticeY_;
  const int paddedColumns = (columns + 3) & ~3;
  lattice_.resize(static_cast<std::size_t>(paddedColumns) * rows);
  const std::uint32_t seed = st_.seed + 5;
  for (int j = 0; j < rows; ++j)
    for (int i = 0; i < paddedColumns; i += 4) {
      const __m128i h = _mm_and_si128(Hash4(latticeX_ + i, latticeY_ + j, seed), _mm_set1_epi32(0xFFFFFF));
      _mm_storeu_ps(lattice_.data() + static_cast<std::size_t>(j) * paddedColumns + i,
                    _mm_mul_ps(_mm_cvtepi32_ps(h), _mm_set1_ps(1.0f / 16777216)));
    }
  // Where each pixel of the box (and four more) lies between the lattice's columns.
  bleedW_ = box.right - box.left + 4;
  const int width = (bleedW_ + 3) & ~3;
  bleedCells_.resize(width);
  bleedSmooth_.resize(width);
  const __m128 invF = _mm_set1_ps(static_cast<float>(inv)), zero = _mm_setzero_ps(), one = _mm_set1_ps(1);
  for (int k = 0; k < width; k += 4) {
    const __m128 x =
        _mm_mul_ps(_mm_add_ps(_mm_set1_ps(static_cast<float>(box.left + k) + 0.5f), _mm_set_ps(3, 2, 1, 0)), invF);
    const __m128i whole = _mm_cvttps_epi32(x);  // x > 0: its floor
    const __m128 u = _mm_min_ps(_mm_max_ps(_mm_sub_ps(x, _mm_cvtepi32_ps(whole)), zero), one);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bleedCells_.data() + k), _mm_sub_epi32(whole, _mm_set1_epi32(latticeX_)));
    _mm_storeu_ps(bleedSmooth_.data() + k, _mm_mul_ps(_mm_mul_ps(u, u), _mm_sub_ps(_mm_set1_ps(3), _mm_add_ps(u, u))));
  }
  // Each lattice row across the box, made the radius's factor (the blend of two rows keeps
  // that form).
  const float base = static_cast<float>(1 - bleed_), spread = static_cast<float>(2 * bleed_);
  bleedRows_.resize(static_cast<std::size_t>(bleedW_) * rows);
  for (int j = 0; j < rows; ++j) {
    const float* lattice = lattice_.data() + static_cast<std::size_t>(j) * paddedColumns;
    float* out = bleedRows_.data() + static_cast<std::size_t>(j) * bleedW_;
    for (int k = 0; k < bleedW_; ++k) {
      const float left = lattice[bleedCells_[k]], right = lattice[bleedCells_[k] + 1];
      out[k] = base + spread * (left + (right - left) * bleedSmooth_[k]);
    }
  }
}

// The wandering edge's factor at the pixels from .. from + count - 1 of row y (and up to
// three more), from the rows MakeBleed made for the box.
void StrokeEngine::BleedRow(int y, int from, int count, const Rect& box, float* out) {
  const double fy = (y + 0.5) * (1 / bleedScale_), iy = std::floor(fy);
  const __m128 v = _mm_set1_ps(static_cast<float>(Smooth(fy - iy)));
  const float* top = bleedRows_.data() + static_cast<std::size_t>(static_cast<int>(iy) - latticeY_) * bleedW_ +
                     (from - box.left);
  const float* bottom = top + bleedW_;
  for (int k = 0; k < count; k += 4) {
    const __m128 a = _mm_loadu_ps(top + k);
    _mm_storeu_ps(out + k, _mm_add_ps(a, _mm_mul_ps(_mm_sub_ps(_mm_loadu_ps(bottom + k), a), v)));
  }
}

// One row of the waiting pieces: first, four pixels at a time, how near each pixel came to
// any of them and how far they cover it; then each pixel's record, and its colour where
// the record changed.
void StrokeEngine::InkRow(const Surface& s, int y, int from, int to, const Rect& box) {
  const int count = to - from + 1, padded = (count + 3) & ~3;
  float* factor = rowFactor_.data();
  std::uint32_t* packed = rowPacked_.data();
  // The radius's factor at each pixel: water-based media wander gently (features a good
  // part of the width apart); dry ones are ragged at the scale of the paper's tooth.
  const float bleed = static_cast<float>(bleed_), ragged = static_cast<float>(ragged_);
  if (bleed > 0)
    BleedRow(y, from, count, box, factor);
  else if (ragged > 0)
    RaggedRow(y, from, to, ragged, factor);
  else
    std::fill_n(factor, count, 1.0f);
  std::fill(factor + count, factor + padded, 1.0f);

  // The pieces that reach this row, relative to the box's corner.
  struct Row {
    PieceLanes lanes;
    __m128 opacity;
  };
  Row rows[kCapsulesAtOnce];
  int n = 0;
  const float py = static_cast<float>(y + 0.5 - box.top);
  for (const Capsule& c : capsules_)
    if (y >= c.top && y <= c.bottom) rows[n++] = {LanesOf(c.local, py), _mm_set1_ps(c.opacity)};
  const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1), half = _mm_set1_ps(0.5f), none = _mm_set1_ps(-1);
  const __m128 invEdge = _mm_set1_ps(static_cast<float>(1 / edge_));
  const __m128 minR = _mm_set1_ps(0.25f), farN = _mm_set1_ps(1e9f);
  const float x0 = static_cast<float>(from - box.left) + 0.5f;
  // Nearness matters to the colour only between where the media's soft step begins and
  // ends: kept within those, a pixel is not painted again for coming nearer inside them.
  const bool water = st_.medium == Medium::WaterInk;
  const __m128 nearLo = _mm_set1_ps(water ? 9011 : 11141);  // 0.55 and 0.68, rounded down
  const __m128 nearHi = _mm_set1_ps(water ? 18023 : 16384);  // 1.1 (up) and 1.0
  auto coverRow = [&](auto byNearness) {
    for (int i = 0; i < padded; i += 4) {
      const __m128 px = _mm_add_ps(_mm_set1_ps(x0 + i), _mm_set_ps(3, 2, 1, 0));
      const __m128 f = _mm_loadu_ps(factor + i);
      // (Nearness only for the media whose colour follows it; the others keep a constant.)
      __m128 bestCover = none, bestN = decltype(byNearness)::value ? farN : zero, bestOpacity = none;
      for (int k = 0; k < n; ++k) {
        const Row& c = rows[k];
        __m128 dx, dy, d, r;
        c.lanes.At(px, f, dx, dy, d, r);
        const __m128 u = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(r, d), invEdge), half);
        const __m128 covered = _mm_cmpgt_ps(u, zero);
        const __m128 cover = _mm_min_ps(u, one);
        bestCover = _mm_max_ps(bestCover, _mm_or_ps(_mm_and_ps(covered, cover), _mm_andnot_ps(covered, none)));
        if constexpr (decltype(byNearness)::value) {
          const __m128 nearness = _mm_div_ps(d, _mm_max_ps(r, minR));
          bestN = _mm_min_ps(bestN, _mm_or_ps(_mm_and_ps(covered, nearness), _mm_andnot_ps(covered, farN)));
        }
        bestOpacity = _mm_max_ps(bestOpacity, _mm_or_ps(_mm_and_ps(covered, c.opacity), _mm_andnot_ps(covered, none)));
      }
      // As the record keeps them: nearness (1/16384), cover and opacity (1/255) in one word
      // laid out as the record's first half; all ones where no piece covers the pixel (a
      // covered pixel never has that: full cover means nearer than the radius).
      const __m128i cq = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(bestCover, _mm_set1_ps(255)), half));
      const __m128i nq = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(_mm_mul_ps(bestN, _mm_set1_ps(16384)), nearLo), nearHi));
      const __m128i oq = _mm_cvttps_epi32(bestOpacity);
      const __m128i word = _mm_or_si128(_mm_or_si128(nq, _mm_slli_epi32(cq, 16)), _mm_slli_epi32(oq, 24));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(packed + i),
                       _mm_or_si128(word, _mm_castps_si128(_mm_cmplt_ps(bestOpacity, zero))));
    }
  };
  if (ByNearness(st_.medium))
    coverRow(std::true_type());
  else
    coverRow(std::false_type());

  switch (st_.medium) {
    case Medium::WaterInk: InkRecords<Medium::WaterInk>(s, y, from, to); break;
    case Medium::ColoredPencil: InkRecords<Medium::ColoredPencil>(s, y, from, to); break;
    case Medium::Crayon: InkRecords<Medium::Crayon>(s, y, from, to); break;
    case Medium::Watercolour: InkRecords<Medium::Watercolour>(s, y, from, to); break;
    case Medium::Eraser: InkRecords<Medium::Eraser>(s, y, from, to); break;
    default: InkRecords<Medium::OilInk>(s, y, from, to); break;
  }
}

// The records of the pixels from..to of row y (their new nearness, cover and opacity in
// rowPacked_), a tile's run of the row at a time, and the colour of each pixel whose record
// changed; four records at once are passed over when none of them changes.
template <Medium kMedium>
void StrokeEngine::InkRecords(const Surface& s, int y, int from, int to) {
  constexpr bool byNearness = ByNearness(kMedium);
  const std::uint32_t* packed = rowPacked_.data();
  const bool paper = st_.paper && st_.paper->data && kMedium != Medium::Eraser;
  const bool texture = kMedium == Medium::Eraser && st_.texture && st_.texture->data;
  const float gc = contrast_, waxFrom = waxFrom_, waxInverse = waxInverse_;
  std::uint8_t* line = s.Row(y);
  float* grain = nullptr;
  auto paint = [&](int x, std::uint32_t v, Cell& c) {
    std::uint8_t* px = line + 3 * x;
    if (c.stroke != stroke_) c = {0xFFFF, 0, 0, {px[0], px[1], px[2]}, stroke_};
    const auto nq = static_cast<std::uint16_t>(v);
    const auto cq = static_cast<std::uint8_t>(v >> 16), oq = static_cast<std::uint8_t>(v >> 24);
    const bool nearer = nq < c.n;
    if (nearer) c.n = nq;
    // Nothing new for this pixel (nearness alone changes nothing for the media whose
    // colour ignores it).
    if (cq <= c.cover && oq <= c.opacity && !(nearer && byNearness)) return;
    c.cover = std::max(c.cover, cq);
    c.opacity = std::max(c.opacity, oq);
    // The same steps as PaintFour's, so that a pixel comes out the same either way.
    const float op = c.opacity * (1.0f / 255);
    float a = c.cover * (1.0f / 255) * op;
    int target[3] = {ink_[0], ink_[1], ink_[2]};
    if (paper) {
      const std::uint8_t* pp = st_.paper->Px(x % st_.paper->width, y % st_.paper->height);
      a *= 1 - static_cast<float>(st_.paperStrength) * (1 - pp[1] * (1.0f / 255));
    }
    float g = 0;
    if constexpr (Textured(kMedium)) {
      g = grain[x & kTileMask];
      if (g < 0) g = grain[x & kTileMask] = Grain(x, y);
    }
    if constexpr (kMedium == Medium::WaterInk) {
      // Ink soaks into the paper: a softer, slightly lighter rim around a dense core.
      a *= 0.95f - 0.3f * SoftStep(0.55f, 1 / 0.55f, c.n * (1.0f / 16384));
    } else if constexpr (kMedium == Medium::ColoredPencil) {
      a *= std::clamp(0.5f + (g - 0.42f) * (2.2f * gc), 0.0f, 1.0f);
    } else if constexpr (kMedium == Medium::Crayon) {
      a *= 0.96f * SoftStep(waxFrom, waxInverse, g + 0.2f * op);
      for (int& t : target) t = std::min(255, static_cast<int>(t * (0.92f + 0.16f * g) + 14 * g + 0.5f));  // waxy sheen
    } else if constexpr (kMedium == Medium::Watercolour) {
      a *= (0.26f + 0.34f * SoftStep(0.68f, 1 / 0.32f, c.n * (1.0f / 16384))) * (0.88f + 0.24f * g);
      // Pigment over pigment: the colours multiply, as washes do.
      for (int k = 0; k < 3; ++k) {
        const int x = c.orig[k] * target[k] + 128;
        target[k] = (x + (x >> 8)) >> 8;
      }
    } else if constexpr (kMedium == Medium::Eraser) {
      if (texture && (st_.tileTexture || (x < st_.texture->width && y < st_.texture->height))) {
        const Surface& t = *st_.texture;
        const std::uint8_t* tp = t.Px(x % t.width, y % t.height);
        for (int k = 0; k < 3; ++k) target[k] = tp[k];
      }
    }
    const int w = static_cast<int>(std::clamp(a, 0.0f, 1.0f) * 16384 + 0.5f);
    for (int k = 0; k < 3; ++k) px[k] = static_cast<std::uint8_t>((c.orig[k] * (16384 - w) + target[k] * w + 8192) >> 14);
  };
  const __m128i ones = _mm_set1_epi32(-1), mark = _mm_set1_epi32(stroke_);
  // Bytes of the record's first half that say something new: cover and opacity, and for the
  // media whose colour follows it, nearness.
  const __m128i nearnessIgnored = byNearness ? _mm_setzero_si128() : _mm_set1_epi32(0xFFFF);
  for (int x = from; x <= to;) {
    Tile& tile = TileAt(x, y);
    if constexpr (Textured(kMedium)) grain = GrainOf(tile) + ((y & kTileMask) << kTileShift);
    Cell* cells = tile.cells + ((y & kTileMask) << kTileShift);
    const int end = std::min(to, x | kTileMask);
    for (; x + 3 <= end; x += 4) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(packed + (x - from)));
      Cell* c = cells + (x & kTileMask);
      __m128i known, rest;  // nearness, cover, opacity; the colour before and the stroke's mark
      SplitRecords(c, known, rest);
      const __m128i same = _mm_cmpeq_epi32(_mm_srli_epi32(rest, 24), mark);
      __m128i notNew = _mm_or_si128(_mm_cmpeq_epi8(_mm_max_epu8(v, known), known), _mm_set1_epi32(0xFFFF));
      notNew = _mm_and_si128(notNew, _mm_or_si128(_mm_cmpeq_epi16(_mm_subs_epu16(known, v), _mm_setzero_si128()),
                                                  _mm_or_si128(nearnessIgnored, _mm_set1_epi32(-65536))));
      const __m128i skip = _mm_or_si128(_mm_cmpeq_epi32(v, ones), _mm_and_si128(_mm_cmpeq_epi32(notNew, ones), same));
      const int todo = ~_mm_movemask_ps(_mm_castsi128_ps(skip)) & 15;
      if (!todo) continue;
      if (paper || texture) {  // colours that differ pixel by pixel: one at a time
        for (int k = 0; k < 4; ++k)
          if (todo & (1 << k)) paint(x + k, packed[x + k - from], c[k]);
        continue;
      }
      const int fresh = todo & ~_mm_movemask_ps(_mm_castsi128_ps(same));
      PaintFour<kMedium>(line + 3 * x, c, packed + (x - from), todo, fresh, grain ? grain + (x & kTileMask) : nullptr, x,
                         y);
    }
    for (; x <= end; ++x)
      if (packed[x - from] != ~0u) paint(x, packed[x - from], cells[x & kTileMask]);
  }
}

// The colour of four neighbouring pixels of a row (px, records c) whose records take the new
// values v (packed as the records' first halves) in the lanes of the bit mask `todo`. The
// media without paper or texture: their colour is the record's and the pixel's grain alone.
template <Medium kMedium>
void StrokeEngine::PaintFour(std::uint8_t* px, Cell* c, const std::uint32_t* packed, int todo, int fresh, float* grain,
                             int x, int y) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(packed));
  const __m128i bits = _mm_set_epi32(8, 4, 2, 1);
  const __m128i lanes = _mm_cmpeq_epi32(_mm_and_si128(_mm_set1_epi32(todo), bits), bits);
  __m128i known, rest;
  SplitRecords(c, known, rest);
  // First touches in this stroke: the record starts from the pixel as it is (nearness none,
  // cover and opacity 0).
  if (fresh) {
    std::uint64_t first;
    std::uint32_t last;
    std::memcpy(&first, px, 8);
    std::memcpy(&last, px + 8, 4);
    const auto mark = static_cast<std::uint32_t>(stroke_) << 24;
    const __m128i pixels = _mm_set_epi32(static_cast<int>(last >> 8 | mark),
                                         static_cast<int>(((first >> 48 | last << 16) & 0xFFFFFF) | mark),
                                         static_cast<int>(((first >> 24) & 0xFFFFFF) | mark),
                                         static_cast<int>((first & 0xFFFFFF) | mark));
    const __m128i isFresh = _mm_cmpeq_epi32(_mm_and_si128(_mm_set1_epi32(fresh), bits), bits);
    known = _mm_or_si128(_mm_and_si128(isFresh, _mm_set1_epi32(0xFFFF)), _mm_andnot_si128(isFresh, known));
    rest = _mm_or_si128(_mm_and_si128(isFresh, pixels), _mm_andnot_si128(isFresh, rest));
  }
  // The records: nearest, largest cover and opacity (unsigned minimum of words: a - (a -sat b)).
  const __m128i nearest = _mm_sub_epi16(known, _mm_subs_epu16(known, v));
  const __m128i low = _mm_set1_epi32(0xFFFF);
  const __m128i merged = _mm_or_si128(_mm_and_si128(nearest, low), _mm_andnot_si128(low, _mm_max_epu8(known, v)));
  const __m128i record = _mm_or_si128(_mm_and_si128(lanes, merged), _mm_andnot_si128(lanes, known));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(c), _mm_unpacklo_epi32(record, rest));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(c + 2), _mm_unpackhi_epi32(record, rest));

  const __m128i byte = _mm_set1_epi32(0xFF);
  const __m128 opacity = _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(record, 24)), _mm_set1_ps(1.0f / 255));
  __m128 a = _mm_mul_ps(_mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(record, 16), byte)), _mm_set1_ps(1.0f / 255)),
                        opacity);
  const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1);
  auto smoothStep = [&](float from, float inverseWidth, __m128 t) {
    t = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_sub_ps(t, _mm_set1_ps(from)), _mm_set1_ps(inverseWidth)), zero), one);
    return _mm_mul_ps(_mm_mul_ps(t, t), _mm_sub_ps(_mm_set1_ps(3), _mm_add_ps(t, t)));
  };
  __m128 g = zero;
  if constexpr (Textured(kMedium)) {
    g = _mm_loadu_ps(grain);
    if (const int unknown = _mm_movemask_ps(_mm_cmplt_ps(g, zero)) & todo) {
      for (int k = 0; k < 4; ++k)
        if (unknown & (1 << k)) grain[k] = Grain(x + k, y);
      g = _mm_loadu_ps(grain);
    }
  }
  const __m128 nearness = _mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(record, low)), _mm_set1_ps(1.0f / 16384));
  // Per pixel and channel, as 16-bit lanes of two vectors (pixels 0 and 1, 2 and 3; the
  // fourth lane of each pixel is spare): the colour before the stroke, and what to mix in.
  const __m128i zeroI = _mm_setzero_si128();
  const __m128i orig01 = _mm_unpacklo_epi8(rest, zeroI), orig23 = _mm_unpackhi_epi8(rest, zeroI);
  auto words = [&](__m128i c0, __m128i c1, __m128i c2, __m128i& lo, __m128i& hi) {  // 32-bit lanes, 0..255
    const __m128i bg = _mm_packs_epi32(c0, c1);  // b0 b1 b2 b3 g0 g1 g2 g3
    const __m128i pairs = _mm_unpacklo_epi16(bg, _mm_srli_si128(bg, 8));  // b0 g0 b1 g1 ...
    const __m128i reds = _mm_unpacklo_epi16(_mm_packs_epi32(c2, zeroI), zeroI);  // r0 0 r1 0 ...
    lo = _mm_unpacklo_epi32(pairs, reds);
    hi = _mm_unpackhi_epi32(pairs, reds);
  };
  __m128i target01, target23;
  if constexpr (kMedium == Medium::Watercolour) {
    a = _mm_mul_ps(a, _mm_mul_ps(_mm_add_ps(_mm_set1_ps(0.26f), _mm_mul_ps(_mm_set1_ps(0.34f), smoothStep(0.68f, 1 / 0.32f, nearness))),
                                 _mm_add_ps(_mm_set1_ps(0.88f), _mm_mul_ps(_mm_set1_ps(0.24f), g))));
    // Pigment over pigment: the colours multiply, as washes do (the paper's colour times the
    // pigment's, rounded, is what the wash tends to).
    const __m128i ink = _mm_set_epi16(0, static_cast<short>(ink_[2]), static_cast<short>(ink_[1]), static_cast<short>(ink_[0]),
                                      0, static_cast<short>(ink_[2]), static_cast<short>(ink_[1]), static_cast<short>(ink_[0]));
    auto over255 = [](__m128i x) {  // x / 255, rounded, for x <= 65025
      x = _mm_add_epi16(x, _mm_set1_epi16(128));
      return _mm_srli_epi16(_mm_add_epi16(x, _mm_srli_epi16(x, 8)), 8);
    };
    target01 = over255(_mm_mullo_epi16(orig01, ink));
    target23 = over255(_mm_mullo_epi16(orig23, ink));
  } else {
    if constexpr (kMedium == Medium::WaterInk) {
      // Ink soaks into the paper: a softer, slightly lighter rim around a dense core.
      a = _mm_mul_ps(a, _mm_sub_ps(_mm_set1_ps(0.95f), _mm_mul_ps(_mm_set1_ps(0.3f), smoothStep(0.55f, 1 / 0.55f, nearness))));
    } else if constexpr (kMedium == Medium::ColoredPencil) {
      a = _mm_mul_ps(a, _mm_min_ps(_mm_max_ps(_mm_add_ps(_mm_set1_ps(0.5f), _mm_mul_ps(_mm_sub_ps(g, _mm_set1_ps(0.42f)),
                                                                                       _mm_set1_ps(2.2f * contrast_))),
                                              zero),
                                   one));
    } else if constexpr (kMedium == Medium::Crayon) {
      a = _mm_mul_ps(a, _mm_mul_ps(_mm_set1_ps(0.96f),
                                   smoothStep(waxFrom_, waxInverse_, _mm_add_ps(g, _mm_mul_ps(_mm_set1_ps(0.2f), opacity)))));
    }
    if constexpr (kMedium == Medium::Crayon) {  // a waxy sheen
      __m128i t[3];
      for (int k = 0; k < 3; ++k) {
        const __m128 ink = _mm_set1_ps(static_cast<float>(ink_[k]));
        t[k] = _mm_cvttps_epi32(_mm_min_ps(
            _mm_add_ps(_mm_add_ps(_mm_mul_ps(ink, _mm_add_ps(_mm_set1_ps(0.92f), _mm_mul_ps(_mm_set1_ps(0.16f), g))),
                                  _mm_mul_ps(_mm_set1_ps(14), g)),
                       _mm_set1_ps(0.5f)),
            _mm_set1_ps(255)));
      }
      words(t[0], t[1], t[2], target01, target23);
    } else {
      target01 = target23 = _mm_set_epi16(0, static_cast<short>(ink_[2]), static_cast<short>(ink_[1]),
                                          static_cast<short>(ink_[0]), 0, static_cast<short>(ink_[2]),
                                          static_cast<short>(ink_[1]), static_cast<short>(ink_[0]));
    }
  }
  // The mix: (before (16384 - w) + target w + 8192) / 16384 for a weight w of 0..16384 (a
  // pair of products a lane, so that both ends are exact).
  const __m128i w = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_min_ps(_mm_max_ps(a, zero), one), _mm_set1_ps(16384)),
                                                _mm_set1_ps(0.5f)));
  const __m128i pair = _mm_or_si128(_mm_slli_epi32(w, 16), _mm_sub_epi32(_mm_set1_epi32(16384), w));
  const __m128i half = _mm_set1_epi32(8192);
  auto mix = [&](__m128i before, int lane) {  // before: (before, target) pairs of one pixel
    const __m128i weights = lane == 0   ? _mm_shuffle_epi32(pair, _MM_SHUFFLE(0, 0, 0, 0))
                            : lane == 1 ? _mm_shuffle_epi32(pair, _MM_SHUFFLE(1, 1, 1, 1))
                            : lane == 2 ? _mm_shuffle_epi32(pair, _MM_SHUFFLE(2, 2, 2, 2))
                                        : _mm_shuffle_epi32(pair, _MM_SHUFFLE(3, 3, 3, 3));
    return _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(before, weights), half), 14);
  };
  const __m128i out01 = _mm_packs_epi32(mix(_mm_unpacklo_epi16(orig01, target01), 0),
                                        mix(_mm_unpackhi_epi16(orig01, target01), 1));
  const __m128i out23 = _mm_packs_epi32(mix(_mm_unpacklo_epi16(orig23, target23), 2),
                                        mix(_mm_unpackhi_epi16(orig23, target23), 3));
  alignas(16) std::uint8_t bytes[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(bytes), _mm_packus_epi16(out01, out23));
  if (todo == 15) {  // the four pixels' twelve bytes at once
    std::uint32_t p[4];
    std::memcpy(p, bytes, 16);
    const std::uint64_t first = (p[0] & 0xFFFFFF) | static_cast<std::uint64_t>(p[1] & 0xFFFFFF) << 24 |
                                static_cast<std::uint64_t>(p[2]) << 48;
    const std::uint32_t last = (p[2] >> 16 & 0xFF) | p[3] << 8;
    std::memcpy(px, &first, 8);
    std::memcpy(px + 8, &last, 4);
    return;
  }
  for (int k = 0; k < 4; ++k)
    if (todo & (1 << k)) std::memcpy(px + 3 * k, bytes + 4 * k, 3);
}

// ---- a segment: a smooth curve from a to b, cut into capsules ----

Rect StrokeEngine::Segment(const Surface& s, const Point& a, const Point& b, double elapsedMs) {
  Rect dirty;
  const double cx = b.x - a.x, cy = b.y - a.y, len = std::hypot(cx, cy);
  ++events_;
  if (st_.medium == Medium::Airbrush) {
    // Held still, the spray keeps coming: paint in proportion to the time.
    const double ms = elapsedMs > 0 ? elapsedMs : 1000.0 / std::max(st_.sprayRate, 1.0);
    SprayDab(s, b.x, b.y, Radius(b.pressure), 0.0045 * ms * st_.sprayDensity, dirty);
  }
  if (len <= 0) return dirty;
  const double ux = cx / len, uy = cy / len;
  // Start tangent: the previous end tangent, unless the stroke turns sharply there.
  double m0x = cx, m0y = cy;
  if (st_.smooth && (tx_ != 0 || ty_ != 0) && tx_ * ux + ty_ * uy > 0) {
    m0x = tx_ * len;
    m0y = ty_ * len;
  }
  const bool straight = m0x == cx && m0y == cy;
  // Pieces short against the curve's bend, longer for wide brushes (whose edge hides it),
  // and never so many that a point far outside the drawing stalls the caller.
  const double pieceLength = std::max(2.0, std::max(Radius(a.pressure), Radius(b.pressure)) / 4);
  int pieces = straight ? 1 : static_cast<int>(std::clamp(std::ceil(len / pieceLength), 1.0, 4096.0));
  if (st_.medium != Medium::OilPaint && st_.medium != Medium::Airbrush && pieces > 1) {
    // The ink-like media look the same however the curve is cut: no more pieces than keep
    // the chords within a tenth of a pixel of it (the curve strays from the straight line
    // by at most 4/27 of how far its start tangent differs from it; n chords by 1/n^2 of
    // that). Paint that builds up keeps its pieces: each is a pass of the brush.
    const double stray = 4.0 / 27 * std::hypot(m0x - cx, m0y - cy);
    pieces = std::min(pieces, std::max(1, static_cast<int>(std::ceil(std::sqrt(stray / 0.1)))));
  }
  SetBleed(BleedStep(std::max(Radius(a.pressure), Radius(b.pressure))));
  if (st_.medium == Medium::OilPaint) OilFactors(s, a, b, m0x, m0y);
  Point prev = a;
  for (int i = 1; i <= pieces; ++i) {
    const double t = static_cast<double>(i) / pieces, t2 = t * t, t3 = t2 * t;
    const double h00 = 2 * t3 - 3 * t2 + 1, h10 = t3 - 2 * t2 + t, h01 = -2 * t3 + 3 * t2, h11 = t3 - t2;
    Point p{h00 * a.x + h10 * m0x + h01 * b.x + h11 * cx, h00 * a.y + h10 * m0y + h01 * b.y + h11 * cy,
            a.pressure + (b.pressure - a.pressure) * t};
    Piece(s, prev, p, dirty);
    prev = p;
  }
  InkCapsules(s);
  oilFactors_.clear();
  tx_ = ux;
  ty_ = uy;
  travelled_ += len;
  return dirty;
}

Rect StrokeEngine::Begin(const Surface& s, int x4, int y4, int pressure, const Settings& settings) {
  st_ = settings;
  inStroke_ = true;
  tx_ = ty_ = 0;
  travelled_ = 0;
  events_ = 0;
  pendingSpray_ = 0;
  ColorBgr(st_.color, load_);
  ink_[0] = static_cast<int>(load_[0]);
  ink_[1] = static_cast<int>(load_[1]);
  ink_[2] = static_cast<int>(load_[2]);
  capsules_.clear();
  capsuleBox_ = {};
  if (s.width != width_ || s.height != height_) {
    width_ = s.width;
    height_ = s.height;
    tilesX_ = (std::max(width_, 0) + kTileSize - 1) >> kTileShift;
    const int tilesY = (std::max(height_, 0) + kTileSize - 1) >> kTileShift;
    tiles_.clear();
    tiles_.resize(static_cast<std::size_t>(tilesX_) * tilesY);
    const std::size_t row = static_cast<std::size_t>(std::max(width_, 0)) + 4;
    for (auto* v : {&rowFactor_, &rowCover_, &rowAcross_}) v->assign(row, 0.0f);
    rowPacked_.assign(row, 0);
  }
  // A new mark for this stroke's records; when the marks run out, every record is cleared.
  if (++stroke_ == 0) {
    for (auto& t : tiles_)
      if (t)
        for (Cell& c : t->cells) c.stroke = 0;
    stroke_ = 1;
  }
  // Oil paint's bristles: their shades and gaps across the brush (noise lattices across it),
  // fixed for the seed.
  if (st_.medium == Medium::OilPaint && (!shadesMade_ || shadesSeed_ != st_.seed)) {
    double bristles[21], gaps[48];
    for (int i = 0; i < static_cast<int>(std::size(bristles)); ++i) bristles[i] = Rand01(i, 0, st_.seed + 7);
    for (int i = 0; i < static_cast<int>(std::size(gaps)); ++i) gaps[i] = Rand01(i, 0, st_.seed + 8);
    float shade = 0, gap = 0;
    for (int j = 0; j <= kShades; ++j) {
      const double side = 2.0 * j / kShades - 1;
      const float nextShade = static_cast<float>((0.78 + 0.4 * LatticeNoise(bristles, (side + 1) * 9.5)) *
                                                 (1 + 0.1 * SmoothStep(0.55, 0.95, -side) - 0.1 * SmoothStep(0.55, 0.95, side)));
      const float nextGap = std::fabs(side) > 0.72 && LatticeNoise(gaps, (side + 1) * 23) < 0.4 ? 0.25f : 1.0f;
      if (j > 0) {
        float* entry = shades_[j - 1];
        entry[0] = shade;
        entry[1] = nextShade;
        entry[2] = gap;
        entry[3] = nextGap;
      }
      shade = nextShade;
      gap = nextGap;
    }
    shadesMade_ = true;
    shadesSeed_ = st_.seed;
  }
  edge_ = EdgeWidth(st_);
  bleed_ = Bleed(st_);
  ragged_ = Ragged(st_);
  // The grain's contrast; crayon: where wax takes, by grain (the contrast narrows or widens
  // the step).
  contrast_ = static_cast<float>(1 + st_.contrast);
  waxFrom_ = 0.40f - 0.06f * contrast_;
  waxInverse_ = 1 / std::max(0.10f + 0.12f * contrast_, 1e-6f);
  grainKey_ = Textured(st_.medium) ? GrainKey{static_cast<int>(st_.medium), st_.seed, st_.grain} : GrainKey{};
  last_ = {x4 / 4.0, y4 / 4.0, static_cast<double>(pressure)};
  Rect dirty;
  if (!s.data || s.width <= 0 || s.height <= 0) return dirty;
  if (st_.medium == Medium::Airbrush) {
    SprayDab(s, last_.x, last_.y, Radius(last_.pressure), 0.06 * st_.sprayDensity, dirty);
  } else {
    SetBleed(BleedStep(Radius(last_.pressure)));
    Piece(s, last_, last_, dirty);
    InkCapsules(s);
  }
  return dirty;
}

Rect StrokeEngine::Continue(const Surface& s, int x4, int y4, int pressure, int elapsedMs) {
  if (!inStroke_ || !s.data || s.width != width_ || s.height != height_) return {};
  const Point next{x4 / 4.0, y4 / 4.0, static_cast<double>(pressure)};
  // Tiny moves wait until they add up (tablet jitter), but the pressure follows at once.
  if (std::hypot(next.x - last_.x, next.y - last_.y) < st_.minMove && st_.medium != Medium::Airbrush) {
    last_.pressure = next.pressure;
    return {};
  }
  const Rect dirty = Segment(s, last_, next, elapsedMs);
  last_ = next;
  return dirty;
}

}  // namespace zpb
