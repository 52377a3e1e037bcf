// The raster core of the pressure brush and eraser: paints stroke segments into a 24-bit
// pixel buffer and reports what it changed. No Win32 here.
//
// Pixels are three bytes, blue, green, red; rows are `stride` bytes apart (negative for a
// bottom-up bitmap seen top row first). Positions are quarter pixels; pressure is 0..65535.
//
// A stroke is a Begin and any number of Continues. Every call paints its segment at once,
// completely: nothing is held back for a later call, because no call ends a stroke.
//
// How it paints. Each segment is a curve (cubic Hermite, its start tangent the previous
// segment's end tangent, so joints are smooth; straight when interpolation is off or the
// stroke turns by more than a right angle), cut into short capsules whose radius follows the
// pressure. For the ink-like media and the eraser, every pixel the stroke touches keeps its
// colour from before the stroke and the nearest the stroke came to it; its colour is then a
// function of those alone, so overlapping pieces of one stroke never darken it twice and
// the edge stays antialiased and even, however the pieces fall. Oil paint and the airbrush
// build up on the pixels instead (thick paint drags and picks up colour; spray accumulates).
//
// How it keeps up with a pen. The pieces of a call are painted together (for the ink-like
// media the record makes that exact), row by row over the span they can reach, four pixels
// at a time in single precision (SSE2); four records at a time are passed over where
// nothing changes, and four changed pixels are mixed at once. Noise that depends on the
// pixel and the settings alone (paper grain, a ragged edge) is worked out at a pixel's first
// touch and kept in its tile for later calls and strokes; the water media's wandering edge,
// whose scale follows the pressure, is interpolated across each call's box. Results depend on
// nothing but the inputs: a stroke drawn again comes out the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Pixels.h"

namespace zpb {

using Surface = zq::Bgr24View;

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
  bool Empty() const { return right <= left || bottom <= top; }
  bool Holds(const Rect& r) const { return r.left >= left && r.right <= right && r.top >= top && r.bottom <= bottom; }
  void Unite(const Rect& r);
};

enum class Medium { OilInk = 0, WaterInk, ColoredPencil, Crayon, Watercolour, OilPaint, Airbrush, Eraser };

// Widths beyond this are painted this wide: a stroke must stay quick enough to follow a pen.
inline constexpr double kMaxWidth = 1000;

struct Settings {
  Medium medium = Medium::OilInk;
  std::uint32_t color = 0;   // 0x00BBGGRR: ink, or the eraser's colour without a texture
  double minWidth = 1;       // pixels
  double maxWidth = 1;
  bool varyWidth = true;     // width follows pressure between min and max
  bool varyOpacity = true;   // opacity follows pressure
  double transparency = 0;   // 0 opaque .. 1 invisible, on top of everything else
  bool smooth = true;        // curves between points (false: straight segments)
  double minMove = 1;        // pixels a point must move from the last painted one
  int pressureCurve = 1;     // 1 linear, 2 soft (light pressure counts more), 3 firm
  std::uint32_t seed = 0x5A4E;  // of the media's paper grain and spray
  double edge = 1;           // antialiasing width in pixels
  double grain = 1;          // scale of paper grain (1 = normal)
  double soak = 1;           // how far water-based media bleed (0 none, 1 normal)
  double contrast = 0;       // of the grain, -1 .. 1
  double sprayRate = 400;    // events per second assumed when a point has no time (mouse)
  double sprayDensity = 1;   // airbrush: how fast paint builds up
  bool speckled = false;     // airbrush: coarse droplets instead of a fine mist
  // A paper texture (tiled): where it is dark, ink media lay down less, `paperStrength`
  // (0 .. 1) strong. None when null.
  const Surface* paper = nullptr;
  double paperStrength = 0.5;
  // Eraser: the picture that erased pixels take (at the same position), or none.
  const Surface* texture = nullptr;
  bool tileTexture = true;   // a smaller texture repeats; otherwise pixels beyond it take `color`
};

class StrokeEngine {
 public:
  StrokeEngine();
  ~StrokeEngine();
  StrokeEngine(const StrokeEngine&) = delete;
  StrokeEngine& operator=(const StrokeEngine&) = delete;

  // Starts a stroke at (x, y) and paints its first dab. Settings stay fixed for the stroke.
  Rect Begin(const Surface& s, int x4, int y4, int pressure, const Settings& settings);
  // Paints the segment from the last point to (x, y). `elapsedMs` is the time since the
  // previous point when the input knows it (tablets), else 0.
  Rect Continue(const Surface& s, int x4, int y4, int pressure, int elapsedMs);

  bool InStroke() const { return inStroke_; }
  // Forgets the stroke in progress: Continue paints nothing until the next Begin.
  void Abandon() { inStroke_ = false; }
  // The last point painted to, in quarter pixels (a point that moved too little is not).
  int LastX4() const { return static_cast<int>(last_.x * 4); }
  int LastY4() const { return static_cast<int>(last_.y * 4); }

  // How far from the path through the points (curved between them) a stroke with these
  // settings may change pixels, in pixels.
  static double Reach(const Settings& st);

 private:
  struct Cell;
  struct Tile;
  // What the paper grain's noise depends on besides the pixel.
  struct GrainKey {
    int medium = -1;
    std::uint32_t seed = 0;
    double scale = 0;
    bool operator==(const GrainKey& o) const { return medium == o.medium && seed == o.seed && scale == o.scale; }
  };
  struct Point {
    double x, y, pressure;
  };
  // One piece of a segment for the ink-like media, waiting to be painted with the others
  // of its call: from (ax, ay) along (abx, aby), the radius from r0 to r1.
  struct Capsule {
    double ax, ay, abx, aby, r0, r1;
    double reach;      // the farthest from the path it may change pixels
    float opacity;     // 0..255, whole
    int top, bottom;   // the rows it may reach
    double nx = 0, ny = 0;  // the normal, `reach` long (0 for a dab)
    double invNy = 0, invAby = 0;  // their inverses where the row spans need them
    double round = 0, midX = 0, midY = 0;  // a circle holding a short piece (round > 0)
    struct Local {  // for the rows: single precision, relative to a corner near the piece
      float ax, ay, abx, aby, inv, r0, dr;  // inv: 1 / the squared length, or 0
    } local{};
    void Localise(int left, int top);  // makes `local` relative to (left, top)
    Capsule(double ax, double ay, double abx, double aby, double r0, double r1, double reach, float opacity = 0,
            int top = 0, int bottom = 0);
    bool RowSpan(double py, int& from, int& to) const;
  };
  Rect Segment(const Surface& s, const Point& a, const Point& b, double elapsedMs);
  void Piece(const Surface& s, const Point& a, const Point& b, Rect& dirty);
  void AddCapsule(const Surface& s, const Point& a, const Point& b, Rect& dirty);
  void OilFactors(const Surface& s, const Point& a, const Point& b, double m0x, double m0y);
  void InkCapsules(const Surface& s);
  bool NearPart(const Surface& s, Capsule& c);
  void RaggedRow(int y, int from, int to, float ragged, float* factor);
  void InkRow(const Surface& s, int y, int from, int to, const Rect& box);
  void MakeBleed(const Rect& box);
  void BleedRow(int y, int from, int count, const Rect& box, float* out);
  template <Medium kMedium>
  void InkRecords(const Surface& s, int y, int from, int to);
  template <Medium kMedium>
  void PaintFour(std::uint8_t* px, Cell* c, const std::uint32_t* packed, int todo, int fresh, float* grain, int x, int y);
  void SprayDab(const Surface& s, double cx, double cy, double radius, double amount, Rect& dirty);
  float Grain(int x, int y) const;
  static double Bleed(const Settings& st);
  static double EdgeWidth(const Settings& st);
  static int BleedStep(double radius);
  void SetBleed(int step);
  static double Ragged(const Settings& st);
  double OilReach(double r) const;
  static void ClipToBounds(const Surface& s, double ax, double ay, double dx, double dy, double len, double margin,
                           double& from, double& to);
  double Radius(double pressure) const;
  double Opacity(double pressure) const;
  Tile& TileAt(int x, int y);
  [[gnu::noinline]] Tile& MakeTile(std::unique_ptr<Tile>& slot);
  float* GrainOf(Tile& t);
  float* RaggedOf(Tile& t);
  double SampleUnder(const Surface& s, double cx, double cy, double r, double bgr[3]) const;

  Settings st_;
  bool inStroke_ = false;
  Point last_{};
  double tx_ = 0, ty_ = 0;  // unit tangent at the last point, or (0, 0)
  double travelled_ = 0;    // length of the stroke so far, in pixels
  double load_[3] = {};     // oil paint: the colour on the brush (blue, green, red)
  int ink_[3] = {};         // the ink's colour (blue, green, red)
  // Oil paint across the brush: the bristles' shade at kShades + 1 places from one side to
  // the other (between them it is a straight step).
  static constexpr int kShades = 2048;
  // Entry j holds the shades at j and j + 1 and where an outer bristle leaves a gap there
  // (0.25, else 1), so that one read gives all a place between them needs.
  float shades_[kShades][4] = {};
  bool shadesMade_ = false;
  std::uint32_t shadesSeed_ = 0;  // the seed they were made for
  std::uint32_t events_ = 0;
  double pendingSpray_ = 0;  // airbrush: path length not yet sprayed
  int width_ = 0, height_ = 0;
  int tilesX_ = 0;
  std::uint8_t stroke_ = 0;   // marks the records the current stroke has made
  GrainKey grainKey_;
  float contrast_ = 1, waxFrom_ = 0.34f, waxInverse_ = 1 / 0.22f;  // see Begin
  double edge_ = 1, bleed_ = 0, ragged_ = 0;  // EdgeWidth, Bleed and Ragged of the stroke  // of the current stroke (none for the media without grain)
  std::vector<std::unique_ptr<Tile>> tiles_;
  // The pieces of a call waiting to be painted together, and the rows' working buffers.
  std::vector<Capsule> capsules_;
  Rect capsuleBox_;
  double bleedScale_ = 2.5;  // of the water media's wandering edge, in pixels (see BleedStep)
  // The radius's factor along a row (ragged or wandering edge); oil paint's cover and where
  // across the brush a pixel lies.
  std::vector<float> rowFactor_, rowCover_, rowAcross_;
  // Oil paint's ragged edge under the segment being painted (see OilFactors): oilBox_'s
  // rows, oilFactorsW_ apart; empty when its pieces work out their own.
  std::vector<float> oilFactors_;
  Rect oilBox_;
  int oilFactorsW_ = 0;
  // The water media's wandering edge under the waiting pieces (see MakeBleed): the noise
  // lattice from (latticeX_, latticeY_), each box pixel's column of it and where between
  // two columns it lies, and each lattice row across the box (bleedW_ long).
  std::vector<float> lattice_, bleedSmooth_, bleedRows_;
  std::vector<std::int32_t> bleedCells_;
  int latticeX_ = 0, latticeY_ = 0, bleedW_ = 0;
  std::vector<std::uint32_t> rowPacked_;
  std::vector<float> spray_;  // the airbrush's falloff along a dab's columns
};

}  // namespace zpb
