// The PNG codec behind ZANPngUt.dll, on plain pixel buffers (no Win32): encoding 24-bit
// rows and decoding any standard PNG to 24-bit rows. Both throw zanpng::Error on failure;
// libpng's error handler throws it through libpng's frames, so every object on the way out
// is destroyed (libpng is built with unwind tables for this).
//
// Pixels are three bytes per pixel, blue, green, red, as in 24-bit DIBs; a view's stride
// may be negative (a bottom-up DIB seen top row first).
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "Pixels.h"

namespace zanpng {

// Sizes beyond zq::ImageSizeAllowed are refused, on encoding and on decoding.

struct Error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Where the encoder takes its rows from. It asks for them top to bottom, and starts again
// from the top once when there is no memory to hold the whole image at once; a row stays
// readable until the next call.
class RowSource {
 public:
  virtual int width() const = 0;
  virtual int height() const = 0;
  virtual const std::uint8_t* Row(int y) = 0;

 protected:
  ~RowSource() = default;
};

// Rows that are all in memory already.
class MemoryRows final : public RowSource {
 public:
  MemoryRows(const std::uint8_t* top, std::ptrdiff_t stride, int width, int height)
      : top_(top), stride_(stride), width_(width), height_(height) {}
  int width() const override { return width_; }
  int height() const override { return height_; }
  const std::uint8_t* Row(int y) override { return top_ + stride_ * y; }

 private:
  const std::uint8_t* top_;
  std::ptrdiff_t stride_;
  int width_;
  int height_;
};

using Rows = zq::Bgr24View;

// Who compresses the image data: libpng (with zlib); or the codec itself over all the
// filtered rows at once, with libdeflate at the given level, or with its own run-aware
// deflater (RowDeflate.h) -- which with kFiltersByRow takes only drawings (at least half of
// the rows flat) and leaves photographs to libdeflate. The strategy is zlib's alone.
enum class Deflater { kZlib, kLibdeflate, kRows };

// Filter and compression settings of the encoder. Filters are libpng's PNG_FILTER_* mask, or
// kFiltersByRow: no filter for rows of flat drawing (at least half of their pixels equal to
// their left neighbour), libpng's adaptive choice among all filters for the others. Either
// deflater chooses filters the same way.
struct EncodeOptions {
  int filters;
  int level;
  int strategy;
  Deflater deflater = Deflater::kZlib;
};
inline constexpr int kFiltersByRow = -2;

// What ZANPngUt.dll writes with, chosen by measurement (bench/png_options).
EncodeOptions DefaultOptions();
// What libpng does when it is told nothing.
EncodeOptions LibpngDefaults();

class Sink {
 public:
  virtual void Write(const std::uint8_t* data, std::size_t size) = 0;

 protected:
  ~Sink() = default;
};

void Encode(RowSource& image, const EncodeOptions& options, Sink& out);

// Receives the decoded size and answers where the rows go; it owns that memory.
class Target {
 public:
  virtual Rows Allocate(int width, int height) = 0;

 protected:
  ~Target() = default;
};

// Plain 8-bit RGB and RGBA files are read directly (libdeflate), every other file through
// libpng; the pixels are the same either way.
void Decode(const std::uint8_t* data, std::size_t size, Target& target);
// The libpng path alone, for every file (the direct path is checked against it).
void DecodeWithLibpng(const std::uint8_t* data, std::size_t size, Target& target);

}  // namespace zanpng
