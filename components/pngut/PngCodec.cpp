// PNG codec on libpng. Pixel format of both directions: 24-bit rows, blue, green, red.
//
// Decoding normalises every PNG to 8-bit RGB or RGBA with libpng's own transformations
// (palette and low-bit greys expanded, tRNS turned into alpha, grey to RGB, 16-bit samples
// rounded to 8 with png_set_scale_16), then composites RGBA onto white here:
//   out = (c * a + 255 * (255 - a) + 127) / 255
// Gamma, sBIT and bKGD are not applied. Interlaced images need all rows at once; the others
// are converted row by row straight into the target.
//
// Most files are what this system and other programs write: 8-bit RGB or RGBA, not
// interlaced, no palette or transparency chunk. Those are read directly (DecodeDirect):
// every chunk's CRC checked, the image data inflated by libdeflate in one call, the rows
// unfiltered and converted as above. Whatever that path is not sure of (any other format, a
// damaged chunk, a stream that is not exactly the image) goes to libpng, which then decides
// as it always has; so both paths give the same pixels or the same refusal.
#include "PngCodec.h"
#include "RowDeflate.h"

#include <libdeflate.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
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

// ---- the direct path ----

constexpr std::uint32_t kMaxDirectChunk = 8 * 1024 * 1024;      // longer chunks: libpng decides
constexpr std::size_t kMaxDirectInflated = 64 * 1024 * 1024;    // larger images go row by row

inline bool IsLetter(std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

struct PlainImage {
  int width = 0, height = 0, channels = 0;
  std::vector<std::pair<const std::uint8_t*, std::size_t>> data;  // the IDAT chunks' contents
  std::size_t compressed = 0;
};

// Walks the chunks up to IEND and answers whether the file is one the direct path reads:
// IHDR first (8-bit RGB or RGBA, not interlaced), one run of IDAT, then IEND; any ancillary
// chunk but tRNS in between; every name made of letters, every CRC right.
bool Survey(const std::uint8_t* data, std::size_t size, PlainImage& img) {
  std::size_t pos = 8;
  bool afterData = false;
  for (bool first = true; pos + 12 <= size; first = false) {
    const std::uint32_t length = png_get_uint_32(data + pos);
    const std::uint8_t* name = data + pos + 4;
    if (length > kMaxDirectChunk || length > size - pos - 12) return false;
    if (!IsLetter(name[0]) || !IsLetter(name[1]) || !IsLetter(name[2]) || !IsLetter(name[3])) return false;
    if (libdeflate_crc32(0, name, std::size_t{length} + 4) != png_get_uint_32(name + 4 + length)) return false;
    const std::uint8_t* body = name + 4;
    if (first) {
      if (std::memcmp(name, "IHDR", 4) != 0 || length != 13) return false;
      const std::uint32_t w = png_get_uint_32(body), h = png_get_uint_32(body + 4);
      const int depth = body[8], colour = body[9];
      if (depth != 8 || (colour != 2 && colour != 6) || body[10] != 0 || body[11] != 0 || body[12] != 0)
        return false;
      if (!zq::LoadedImageSizeAllowed(w, h)) return false;
      img.width = static_cast<int>(w);
      img.height = static_cast<int>(h);
      img.channels = colour == 2 ? 3 : 4;
    } else if (std::memcmp(name, "IDAT", 4) == 0) {
      if (afterData) return false;
      img.data.emplace_back(body, length);
      img.compressed += length;
    } else if (std::memcmp(name, "IEND", 4) == 0) {
      return length == 0 && !img.data.empty();
    } else {
      const bool critical = name[0] < 'a';
      if (critical || std::memcmp(name, "tRNS", 4) == 0) return false;
      afterData = !img.data.empty();
    }
    pos += 12 + std::size_t{length};
  }
  return false;
}

inline std::uint8_t Paeth(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
  const int pa = std::abs(int{b} - c), pb = std::abs(int{a} - c), pc = std::abs(int{a} + b - 2 * c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Undoes one row's filter in place; prev is the row above, already unfiltered (zeros for the
// first row).
template <int B>
void Unfilter(int filter, std::uint8_t* cur, const std::uint8_t* prev, std::size_t n) {
  switch (filter) {
    case 1:
      for (std::size_t i = B; i < n; ++i) cur[i] = static_cast<std::uint8_t>(cur[i] + cur[i - B]);
      break;
    case 2:
      for (std::size_t i = 0; i < n; ++i) cur[i] = static_cast<std::uint8_t>(cur[i] + prev[i]);
      break;
    case 3:
      for (std::size_t i = 0; i < B; ++i) cur[i] = static_cast<std::uint8_t>(cur[i] + (prev[i] >> 1));
      for (std::size_t i = B; i < n; ++i)
        cur[i] = static_cast<std::uint8_t>(cur[i] + ((cur[i - B] + prev[i]) >> 1));
      break;
    case 4:
      for (std::size_t i = 0; i < B; ++i) cur[i] = static_cast<std::uint8_t>(cur[i] + prev[i]);
      for (std::size_t i = B; i < n; ++i)
        cur[i] = static_cast<std::uint8_t>(cur[i] + Paeth(cur[i - B], prev[i], prev[i - B]));
      break;
    default:
      break;
  }
}

struct Decompressor {
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  ~Decompressor() {
    if (d) libdeflate_free_decompressor(d);
  }
};

// The inflated rows (and the joined image data) go into a block that is kept for the next
// image (see TakeBlock): a fresh block of an image's size costs more in first touches of its
// pages than the inflating itself (under Wine ten times more).

bool DecodeDirect(const std::uint8_t* data, std::size_t size, Target& target) {
  PlainImage img;
  if (!Survey(data, size, img)) return false;
  const std::size_t rowBytes = std::size_t(img.width) * img.channels;
  const std::size_t inflatedSize = (rowBytes + 1) * std::size_t(img.height);
  if (inflatedSize > kMaxDirectInflated || img.compressed < 2) return false;

  Block block = TakeBlock(inflatedSize + (img.data.size() > 1 ? img.compressed : 0));
  if (!block.bytes) return false;
  std::uint8_t* const rows = block.bytes.get();
  const std::uint8_t* stream = img.data.front().first;
  if (img.data.size() > 1) {
    std::uint8_t* joined = rows + inflatedSize;
    stream = joined;
    for (const auto& [p, n] : img.data) joined = std::copy(p, p + n, joined);
  }
  // zlib keeps to the window the stream's header names (libpng names a small one for small
  // images), libdeflate always allows 32 KiB: the two read a stream the same when its window
  // is 32 KiB or holds the whole image.
  const int windowBits = (stream[0] >> 4) + 8;
  const bool sameWindow = windowBits == 15 || (windowBits < 15 && inflatedSize <= (std::size_t{1} << windowBits));

  Decompressor inflater;
  std::size_t usedIn = 0, usedOut = 0;
  bool plain = sameWindow && inflater.d &&
               libdeflate_zlib_decompress_ex(inflater.d, stream, img.compressed, rows, inflatedSize, &usedIn,
                                             &usedOut) == LIBDEFLATE_SUCCESS &&
               usedIn == img.compressed && usedOut == inflatedSize;
  for (std::size_t y = 0; plain && y < std::size_t(img.height); ++y) plain = rows[y * (rowBytes + 1)] <= 4;
  if (plain) {
    std::vector<std::uint8_t> zeros(rowBytes, 0);
    const std::uint8_t* prev = zeros.data();
    const Rows out = target.Allocate(img.width, img.height);
    for (int y = 0; y < img.height; ++y) {
      std::uint8_t* row = rows + std::size_t(y) * (rowBytes + 1);
      if (img.channels == 3)
        Unfilter<3>(row[0], row + 1, prev, rowBytes);
      else
        Unfilter<4>(row[0], row + 1, prev, rowBytes);
      ConvertRow(row + 1, img.channels, img.width, out.Row(y));
      prev = row + 1;
    }
  }
  KeepBlock(std::move(block));
  return plain;
}

// ---- the direct writer ----

void WriteChunk(Sink& out, const char* type, const std::uint8_t* body, std::size_t length) {
  std::uint8_t head[8], tail[4];
  png_save_uint_32(head, static_cast<std::uint32_t>(length));
  std::memcpy(head + 4, type, 4);
  // libdeflate_crc32 answers its initial value for a null buffer, whatever CRC it is given.
  std::uint32_t crc = libdeflate_crc32(0, head + 4, 4);
  if (length) crc = libdeflate_crc32(crc, body, length);
  png_save_uint_32(tail, crc);
  out.Write(head, 8);
  if (length) out.Write(body, length);
  out.Write(tail, 4);
}

// A filtered byte's weight in libpng's adaptive choice: its distance from zero as a signed byte.
inline unsigned Weight(unsigned v) { return v < 128 ? v : 256 - v; }

// Filters one row of RGB bytes into out (the filter's number first) as libpng's adaptive
// choice does: of the filters in `allowed`, the one whose bytes weigh least, the first on a
// tie. prev is the row above (zeros for the first row).
void FilterRow(const std::uint8_t* cur, const std::uint8_t* prev, std::size_t n, int allowed, std::uint8_t* out) {
  constexpr int kMasks[5] = {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH};
  int filter = 0;
  if ((allowed & (allowed - 1)) != 0) {
    std::size_t sums[5] = {};
    for (std::size_t i = 0; i < n; ++i) {
      const unsigned a = i >= 3 ? cur[i - 3] : 0, b = prev[i], c = i >= 3 ? prev[i - 3] : 0, x = cur[i];
      sums[0] += Weight(x);
      sums[1] += Weight((x - a) & 0xFF);
      sums[2] += Weight((x - b) & 0xFF);
      sums[3] += Weight((x - ((a + b) >> 1)) & 0xFF);
      sums[4] += Weight((x - Paeth(static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b),
                                   static_cast<std::uint8_t>(c))) & 0xFF);
    }
    std::size_t best = SIZE_MAX;
    for (int f = 0; f < 5; ++f)
      if ((allowed & kMasks[f]) && sums[f] < best) best = sums[f], filter = f;
  } else {
    while (filter < 4 && !(allowed & kMasks[filter])) ++filter;
  }
  out[0] = static_cast<std::uint8_t>(filter);
  ++out;
  switch (filter) {
    case 0:
      std::memcpy(out, cur, n);
      break;
    case 1:
      for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(cur[i] - (i >= 3 ? cur[i - 3] : 0));
      break;
    case 2:
      for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(cur[i] - prev[i]);
      break;
    case 3:
      for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(cur[i] - (((i >= 3 ? cur[i - 3] : 0) + prev[i]) >> 1));
      break;
    default:
      for (std::size_t i = 0; i < 3 && i < n; ++i) out[i] = static_cast<std::uint8_t>(cur[i] - prev[i]);
      for (std::size_t i = 3; i < n; ++i) out[i] = static_cast<std::uint8_t>(cur[i] - Paeth(cur[i - 3], prev[i], prev[i - 3]));
      break;
  }
}

struct Compressor {
  libdeflate_compressor* c;
  explicit Compressor(int level) : c(libdeflate_alloc_compressor(level)) {}
  ~Compressor() {
    if (c) libdeflate_free_compressor(c);
  }
};

Packed DeflateWithLibdeflate(const std::uint8_t* data, std::size_t size, int level) {
  Compressor deflater(std::clamp(level, 0, 12));
  if (!deflater.c) throw std::bad_alloc();
  Packed packed;
  const std::size_t bound = libdeflate_zlib_compress_bound(deflater.c, size);
  packed.block = TakeBlock(bound);
  if (!packed.block.bytes) throw std::bad_alloc();
  packed.size = libdeflate_zlib_compress(deflater.c, data, size, packed.block.bytes.get(), bound);
  if (packed.size == 0) throw Error("the image data could not be compressed");
  return packed;
}

// Filters every row into one block, compresses it in one call and writes the datastream:
// IHDR, the data in IDAT chunks of up to 1 MiB, IEND. False, with nothing written, when the
// memory for the whole image at once is not there (a large drawing in a 32-bit host):
// libpng then writes it row by row.
bool EncodeDirect(RowSource& image, const EncodeOptions& options, Sink& out) {
  const int width = image.width(), height = image.height();
  const std::size_t rowBytes = std::size_t(width) * 3, filteredSize = (rowBytes + 1) * std::size_t(height);
  Block block = TakeBlock(filteredSize + 2 * rowBytes);
  if (!block.bytes) return false;
  std::uint8_t* const filtered = block.bytes.get();
  std::uint8_t* cur = filtered + filteredSize;
  std::uint8_t* prev = cur + rowBytes;
  std::memset(prev, 0, rowBytes);
  int flatRows = 0;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* bgr = image.Row(y);
    for (std::size_t i = 0; i < rowBytes; i += 3) {
      cur[i] = bgr[i + 2];
      cur[i + 1] = bgr[i + 1];
      cur[i + 2] = bgr[i];
    }
    int allowed = options.filters;
    if (allowed == kFiltersByRow) {
      const bool flat = FlatRow(bgr, width);
      flatRows += flat;
      allowed = flat ? PNG_FILTER_NONE : PNG_ALL_FILTERS;
    }
    allowed &= PNG_ALL_FILTERS;
    FilterRow(cur, prev, rowBytes, allowed ? allowed : PNG_FILTER_NONE, filtered + std::size_t(y) * (rowBytes + 1));
    std::swap(cur, prev);
  }

  Packed packed;
  try {
    // The run-aware deflater is for drawings; photographs (few flat rows) compress better
    // and as fast with libdeflate.
    const bool drawing = options.filters != kFiltersByRow || 2 * flatRows >= height;
    packed = options.deflater == Deflater::kRows && drawing
                 ? DeflateRows(filtered, filteredSize, rowBytes + 1, 3)
                 : DeflateWithLibdeflate(filtered, filteredSize, options.level);
  } catch (const std::bad_alloc&) {
    return false;
  }
  KeepBlock(std::move(block));

  static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  out.Write(kSignature, 8);
  std::uint8_t ihdr[13];
  png_save_uint_32(ihdr, static_cast<std::uint32_t>(width));
  png_save_uint_32(ihdr + 4, static_cast<std::uint32_t>(height));
  ihdr[8] = 8;
  ihdr[9] = PNG_COLOR_TYPE_RGB;
  ihdr[10] = ihdr[11] = ihdr[12] = 0;
  WriteChunk(out, "IHDR", ihdr, sizeof ihdr);
  constexpr std::size_t kMaxIdat = 1024 * 1024;
  for (std::size_t at = 0; at < packed.size; at += kMaxIdat)
    WriteChunk(out, "IDAT", packed.data() + at, std::min(kMaxIdat, packed.size - at));
  WriteChunk(out, "IEND", nullptr, 0);
  KeepBlock(std::move(packed.block));
  return true;
}

constexpr std::size_t kMaxKeptBlock = 16 * 1024 * 1024, kMaxKeptBytes = 24 * 1024 * 1024;
// An encoding uses five at once: the filtered rows, a bitmap's band, the compressed stream
// and the deflater's two tables.
constexpr int kKeptBlocks = 6;
std::mutex keptLock;
Block kept[kKeptBlocks];

}  // namespace

Block TakeBlock(std::size_t size) {
  {
    const std::lock_guard<std::mutex> hold(keptLock);
    Block* best = nullptr;
    for (Block& b : kept)
      if (b.bytes && b.size >= size && (!best || b.size < best->size)) best = &b;
    if (best) return std::exchange(*best, Block{});
  }
  Block fresh;
  fresh.bytes.reset(new (std::nothrow) std::uint8_t[size]);
  fresh.size = fresh.bytes ? size : 0;
  return fresh;
}

void KeepBlock(Block block) {
  if (!block.bytes || block.size > kMaxKeptBlock) return;
  const std::lock_guard<std::mutex> hold(keptLock);
  // Into a free place, or over the smallest kept block when this one is larger; never more
  // than kMaxKeptBytes in all.
  Block* place = nullptr;
  std::size_t total = 0;
  for (Block& b : kept) {
    total += b.size;
    if (!place || (place->bytes && (!b.bytes || b.size < place->size))) place = &b;
  }
  if (place->bytes && block.size <= place->size) return;
  if (total - place->size + block.size > kMaxKeptBytes) return;
  *place = std::move(block);
}

EncodeOptions LibpngDefaults() { return {kLeaveDefault, kLeaveDefault, kLeaveDefault}; }

EncodeOptions DefaultOptions() {
  // Measured with bench/PngBench.cpp (figures in bench/README.md): against libpng's defaults,
  // memo drawings come out 20% smaller in a fifth of the time (zlib's fastest level: 16%
  // smaller in 0.3 of it), photographs (libdeflate's fastest level) 6% larger in 0.15 of it.
  return {kFiltersByRow, 1, Z_DEFAULT_STRATEGY, Deflater::kRows};
}

void Encode(RowSource& image, const EncodeOptions& options, Sink& out) {
  if (!zq::ImageSizeAllowed(image.width(), image.height()))
    throw Error("image size outside the supported range");
  if (options.deflater != Deflater::kZlib && EncodeDirect(image, options, out)) return;
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
  if (!DecodeDirect(data, size, target)) DecodeWithLibpng(data, size, target);
}

void DecodeWithLibpng(const std::uint8_t* data, std::size_t size, Target& target) {
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
