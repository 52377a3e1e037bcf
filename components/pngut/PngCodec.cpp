// PNG codec on libpng. Pixel format of both directions: 24-bit rows, blue, green, red.
//
// Decoding normalises every PNG to 8-bit RGB or RGBA with libpng's own transformations
// (palette and low-bit greys expanded, tRNS turned into alpha, grey to RGB, 16-bit samples
// rounded to 8 with png_set_scale_16), then composites RGBA onto white here:
//   out = (c * a + 255 * (255 - a) + 127) / 255
// Gamma, sBIT and bKGD are not applied. Interlaced images need all rows at once; the others
// are converted row by row straight into the target.
#include "PngCodec.h"

#include <png.h>
#include <zlib.h>

#include <cstring>
#include <vector>

namespace zanpng {
namespace {

[[noreturn]] void OnError(png_structp, png_const_charp message) { throw Error(message); }
void OnWarning(png_structp, png_const_charp) {}

constexpr int kLeaveDefault = -1;
constexpr png_alloc_size_t kMaxAncillaryChunk = 8 * 1024 * 1024;
constexpr png_uint_32 kMaxCachedChunks = 1000;

// ---- encoding ----

class WriteStruct {
 public:
  WriteStruct() {
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (!png_) throw Error("png_create_write_struct failed");
    info_ = png_create_info_struct(png_);
    if (!info_) {
      png_destroy_write_struct(&png_, nullptr);
      throw Error("png_create_info_struct failed");
    }
  }
  ~WriteStruct() { png_destroy_write_struct(&png_, &info_); }
  WriteStruct(const WriteStruct&) = delete;
  WriteStruct& operator=(const WriteStruct&) = delete;
  png_structp png() const { return png_; }
  png_infop info() const { return info_; }

 private:
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

void WriteToSink(png_structp png, png_bytep data, png_size_t size) {
  static_cast<Sink*>(png_get_io_ptr(png))->Write(data, size);
}
void FlushNothing(png_structp) {}

void ApplyOptions(png_structp png, const EncodeOptions& o) {
  // Choosing by row starts with every filter, so that libpng keeps the previous row that
  // the up, average and Paeth filters need when a later row turns them back on.
  if (o.filters == kFiltersByRow)
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_ALL_FILTERS);
  else if (o.filters != kLeaveDefault)
    png_set_filter(png, PNG_FILTER_TYPE_BASE, o.filters);
  if (o.level != kLeaveDefault) png_set_compression_level(png, o.level);
  if (o.strategy != kLeaveDefault) png_set_compression_strategy(png, o.strategy);
}

// Rows of flat drawing (white paper, strokes of one colour) compress best unfiltered: zlib
// finds their runs and repeats as they are, while the differences that filters make of the
// antialiased edges are harder to match. Continuous-tone rows (photographs) need filters.
bool FlatRow(const std::uint8_t* row, int width) {
  int same = 0;
  for (int x = 1; x < width; ++x, row += 3)
    same += row[0] == row[3] && row[1] == row[4] && row[2] == row[5];
  return 2 * same >= width - 1;
}

// ---- decoding ----

// The whole file is in memory, so a chunk that claims more bytes than follow it is known to
// be broken before libpng sees it. Refusing it here matters: libpng would first allocate
// the claimed length (up to 2 GiB) for some ancillary chunks.
void CheckChunkLengths(const std::uint8_t* data, std::size_t size) {
  std::size_t pos = 8;
  while (pos + 12 <= size) {
    const std::uint32_t length = png_get_uint_32(data + pos);
    if (length > size - pos - 12) throw Error("a chunk runs past the end of the data");
    if (std::memcmp(data + pos + 4, "IEND", 4) == 0) return;
    pos += 12 + std::size_t{length};
  }
  throw Error("PNG data ends early");
}

class ReadStruct {
 public:
  ReadStruct() {
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (!png_) throw Error("png_create_read_struct failed");
    info_ = png_create_info_struct(png_);
    if (!info_) {
      png_destroy_read_struct(&png_, nullptr, nullptr);
      throw Error("png_create_info_struct failed");
    }
  }
  ~ReadStruct() { png_destroy_read_struct(&png_, &info_, nullptr); }
  ReadStruct(const ReadStruct&) = delete;
  ReadStruct& operator=(const ReadStruct&) = delete;
  png_structp png() const { return png_; }
  png_infop info() const { return info_; }

 private:
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

struct MemorySource {
  const std::uint8_t* next;
  std::size_t left;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t size) {
  auto* src = static_cast<MemorySource*>(png_get_io_ptr(png));
  if (size > src->left) png_error(png, "PNG data ends early");
  std::memcpy(out, src->next, size);
  src->next += size;
  src->left -= size;
}

inline std::uint8_t OverWhite(unsigned c, unsigned a) {
  return static_cast<std::uint8_t>((c * a + 255u * (255u - a) + 127u) / 255u);
}

void ConvertRow(const std::uint8_t* in, int channels, int width, std::uint8_t* out) {
  if (channels == 3) {
    for (int x = 0; x < width; ++x, in += 3, out += 3) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
    }
    return;
  }
  for (int x = 0; x < width; ++x, in += 4, out += 3) {
    const unsigned a = in[3];
    if (a == 255) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
    } else {
      out[0] = OverWhite(in[2], a);
      out[1] = OverWhite(in[1], a);
      out[2] = OverWhite(in[0], a);
    }
  }
}

void LimitResources(png_structp png) {
  png_set_user_limits(png, zq::kMaxImageSide, zq::kMaxImageSide);
  png_set_chunk_cache_max(png, kMaxCachedChunks);
  png_set_chunk_malloc_max(png, kMaxAncillaryChunk);
}

// Asks libpng for 8-bit RGB or RGBA, whatever the file holds.
int NormaliseFormat(png_structp png, png_infop info) {
  png_set_expand(png);
  png_set_gray_to_rgb(png);
  png_set_scale_16(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const int channels = png_get_channels(png, info);
  if (png_get_bit_depth(png, info) != 8 || (channels != 3 && channels != 4))
    throw Error("unexpected pixel format after conversion");
  return passes;
}

}  // namespace

EncodeOptions LibpngDefaults() { return {kLeaveDefault, kLeaveDefault, kLeaveDefault}; }

EncodeOptions DefaultOptions() {
  // Measured with bench/PngBench.cpp (figures in bench/README.md): against libpng's defaults,
  // memo drawings come out 16% smaller in 0.31 of the time, photographs 9% larger in 0.21 of
  // it. zlib's fastest level is where the time goes least; level 6 saves a further 7% of a
  // memo's size for twice the time.
  return {kFiltersByRow, 1, Z_DEFAULT_STRATEGY};
}

void Encode(RowSource& image, const EncodeOptions& options, Sink& out) {
  if (!zq::ImageSizeAllowed(image.width(), image.height()))
    throw Error("image size outside the supported range");
  WriteStruct w;
  png_set_write_fn(w.png(), &out, WriteToSink, FlushNothing);
  png_set_IHDR(w.png(), w.info(), static_cast<png_uint_32>(image.width()),
               static_cast<png_uint_32>(image.height()), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  ApplyOptions(w.png(), options);
  png_write_info(w.png(), w.info());
  png_set_bgr(w.png());
  int current = PNG_ALL_FILTERS;
  for (int y = 0; y < image.height(); ++y) {
    const std::uint8_t* row = image.Row(y);
    if (options.filters == kFiltersByRow) {
      const int wanted = FlatRow(row, image.width()) ? PNG_FILTER_NONE : PNG_ALL_FILTERS;
      if (wanted != current) png_set_filter(w.png(), PNG_FILTER_TYPE_BASE, wanted);
      current = wanted;
    }
    png_write_row(w.png(), const_cast<png_bytep>(row));
  }
  png_write_end(w.png(), w.info());
}

void Decode(const std::uint8_t* data, std::size_t size, Target& target) {
  if (!data || size < 8 || png_sig_cmp(data, 0, 8) != 0) throw Error("not PNG data");
  CheckChunkLengths(data, size);
  ReadStruct r;
  MemorySource src{data, size};
  png_set_read_fn(r.png(), &src, ReadFromMemory);
  LimitResources(r.png());
  png_read_info(r.png(), r.info());
  const png_uint_32 w = png_get_image_width(r.png(), r.info());
  const png_uint_32 h = png_get_image_height(r.png(), r.info());
  if (!zq::LoadedImageSizeAllowed(w, h)) throw Error("image size outside the supported range");
  const int passes = NormaliseFormat(r.png(), r.info());
  const int channels = png_get_channels(r.png(), r.info());
  const std::size_t rowBytes = png_get_rowbytes(r.png(), r.info());
  const int width = static_cast<int>(w), height = static_cast<int>(h);

  if (passes == 1) {
    std::vector<std::uint8_t> row(rowBytes);
    const Rows out = target.Allocate(width, height);
    for (int y = 0; y < height; ++y) {
      png_read_row(r.png(), row.data(), nullptr);
      ConvertRow(row.data(), channels, width, out.Row(y));
    }
  } else {
    std::vector<std::uint8_t> pixels(rowBytes * h);
    std::vector<png_bytep> rows(h);
    for (png_uint_32 y = 0; y < h; ++y) rows[y] = pixels.data() + rowBytes * y;
    png_read_image(r.png(), rows.data());
    const Rows out = target.Allocate(width, height);
    for (int y = 0; y < height; ++y) ConvertRow(rows[y], channels, width, out.Row(y));
  }
  // The rest of the datastream must be there and intact too: a file that ends early or
  // carries a damaged chunk after the image data is refused.
  png_read_end(r.png(), nullptr);
}

}  // namespace zanpng
