// JPEG codec. libjpeg reports fatal errors through error_exit, which must not return; ours
// throws a C++ exception, which unwinds through libjpeg's frames (built with unwind tables)
// into Decode or Encode, where the RAII owners release the codec object and the buffers.
// Nothing of libjpeg's is ever left allocated and nothing is printed.
//
// Pixels: the decoder writes 24-bit rows in blue, green, red order directly (libjpeg-turbo's
// JCS_EXT_BGR); CMYK and YCCK files are decoded to CMYK and converted here.
#include "JpegCodec.h"

#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <cstring>
#include <memory>
#include <stdexcept>
#include <type_traits>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

#ifndef JCS_EXTENSIONS
#error "libjpeg-turbo's colour space extensions are required"
#endif

namespace zq::jpeg {
namespace {

struct JpegError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  char message[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, message);
  throw JpegError(message);
}

void OutputMessage(j_common_ptr) {}  // warnings and traces are not printed anywhere

void LimitScans(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > kMaxScans) throw JpegError("too many scans in a progressive JPEG");
}

struct ErrorManager {
  jpeg_error_mgr mgr{};
  ErrorManager() {
    jpeg_std_error(&mgr);
    mgr.error_exit = ErrorExit;
    mgr.output_message = OutputMessage;
  }
};

class Decompressor {
 public:
  Decompressor() {
    info_.err = &err_.mgr;
    try {
      jpeg_create_decompress(&info_);
    } catch (...) {
      jpeg_destroy_decompress(&info_);
      throw;
    }
    progress_.progress_monitor = LimitScans;
    info_.progress = &progress_;
  }
  ~Decompressor() { jpeg_destroy_decompress(&info_); }
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;
  jpeg_decompress_struct* operator->() { return &info_; }
  jpeg_decompress_struct* get() { return &info_; }

 private:
  ErrorManager err_;
  jpeg_progress_mgr progress_{};
  jpeg_decompress_struct info_{};
};

class Compressor {
 public:
  Compressor() {
    info_.err = &err_.mgr;
    try {
      jpeg_create_compress(&info_);
    } catch (...) {
      jpeg_destroy_compress(&info_);
      throw;
    }
  }
  ~Compressor() { jpeg_destroy_compress(&info_); }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;
  jpeg_compress_struct* operator->() { return &info_; }
  jpeg_compress_struct* get() { return &info_; }

 private:
  ErrorManager err_;
  jpeg_compress_struct info_{};
};

// CMYK as Adobe writes it (inverted, APP14 marker) or plain, to blue, green, red.
void CmykRowToBgr(const JSAMPLE* cmyk, std::uint8_t* bgr, int width, bool inverted) {
  for (int x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
    int c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    // Now each value is the amount of light the ink lets through.
    bgr[0] = static_cast<std::uint8_t>((y * k + 127) / 255);
    bgr[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
    bgr[2] = static_cast<std::uint8_t>((c * k + 127) / 255);
  }
}

Bgr24Image DecodeOrThrow(const std::uint8_t* data, std::size_t size) {
  if (!data || size == 0) throw JpegError("no data");
  Decompressor d;
  jpeg_mem_src(d.get(), data, static_cast<unsigned long>(size));
  jpeg_read_header(d.get(), TRUE);
  if (!LoadedImageSizeAllowed(d->image_width, d->image_height))
    throw JpegError("image size outside the supported range");
  const bool cmyk = d->jpeg_color_space == JCS_CMYK || d->jpeg_color_space == JCS_YCCK;
  d->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
  d->scale_num = 1;
  d->scale_denom = 1;
  d->dct_method = JDCT_ISLOW;
  d->do_fancy_upsampling = TRUE;
  d->do_block_smoothing = TRUE;
  d->quantize_colors = FALSE;
  jpeg_start_decompress(d.get());

  Bgr24Image image(static_cast<int>(d->output_width), static_cast<int>(d->output_height));
  std::vector<JSAMPLE> cmykRow(cmyk ? static_cast<std::size_t>(d->output_width) * 4 : 0);
  const bool inverted = d->saw_Adobe_marker != 0;
  while (d->output_scanline < d->output_height) {
    const int y = static_cast<int>(d->output_scanline);
    JSAMPROW row = cmyk ? cmykRow.data() : image.Row(y);
    if (jpeg_read_scanlines(d.get(), &row, 1) != 1) throw JpegError("no scanline");
    if (cmyk) CmykRowToBgr(cmykRow.data(), image.Row(y), image.width(), inverted);
  }
  jpeg_finish_decompress(d.get());
  return image;
}

// A destination manager that collects the output in pieces and joins them into a byte
// vector at the end. Growing one vector by doubling would fill each new block with zeros
// first: pages touched twice, and up to twice the output's size of them. The manager is the
// first member of a standard-layout record, so libjpeg's pointer to it is a pointer to the
// record.
struct VectorDestination {
  static constexpr std::size_t kPiece = 256 * 1024;
  jpeg_destination_mgr mgr{};
  std::vector<std::uint8_t>* bytes = nullptr;
  std::vector<std::unique_ptr<std::uint8_t[]>>* pieces = nullptr;

  VectorDestination(j_compress_ptr c, std::vector<std::uint8_t>& out, std::vector<std::unique_ptr<std::uint8_t[]>>& parts)
      : bytes(&out), pieces(&parts) {
    mgr.init_destination = Init;
    mgr.empty_output_buffer = Empty;
    mgr.term_destination = Term;
    c->dest = &mgr;
  }

  static VectorDestination* Self(j_compress_ptr c) {
    return reinterpret_cast<VectorDestination*>(c->dest);
  }
  static void NextPiece(VectorDestination* self) {
    self->pieces->emplace_back(new std::uint8_t[kPiece]);
    self->mgr.next_output_byte = self->pieces->back().get();
    self->mgr.free_in_buffer = kPiece;
  }
  static void Init(j_compress_ptr c) { NextPiece(Self(c)); }
  static boolean Empty(j_compress_ptr c) {
    NextPiece(Self(c));
    return TRUE;
  }
  static void Term(j_compress_ptr c) {
    auto* self = Self(c);
    const std::size_t full = self->pieces->size() - 1, last = kPiece - self->mgr.free_in_buffer;
    self->bytes->resize(full * kPiece + last);
    std::uint8_t* to = self->bytes->data();
    for (std::size_t i = 0; i <= full; ++i, to += kPiece)
      std::memcpy(to, (*self->pieces)[i].get(), i < full ? kPiece : last);
  }
};
static_assert(std::is_standard_layout_v<VectorDestination>);

std::vector<std::uint8_t> EncodeOrThrow(const Bgr24View& image) {
  if (!image.data || !ImageSizeAllowed(image.width, image.height))
    throw JpegError("image size outside the supported range");
  std::vector<std::uint8_t> bytes;
  std::vector<std::unique_ptr<std::uint8_t[]>> pieces;
  Compressor c;
  VectorDestination dest(c.get(), bytes, pieces);
  c->image_width = static_cast<JDIMENSION>(image.width);
  c->image_height = static_cast<JDIMENSION>(image.height);
  c->input_components = 3;
  c->in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(c.get());
  jpeg_set_colorspace(c.get(), JCS_YCbCr);
  jpeg_set_quality(c.get(), kWriteQuality, TRUE);
  c->dct_method = JDCT_ISLOW;
  c->optimize_coding = FALSE;
  jpeg_start_compress(c.get(), TRUE);
  while (c->next_scanline < c->image_height) {
    JSAMPROW row = image.Row(static_cast<int>(c->next_scanline));
    jpeg_write_scanlines(c.get(), &row, 1);
  }
  jpeg_finish_compress(c.get());
  return bytes;
}

void Report(std::string* error, const char* what) {
  if (!error) return;
  try {
    *error = what;
  } catch (...) {
  }
}

}  // namespace

std::optional<Bgr24Image> Decode(const std::uint8_t* data, std::size_t size,
                                 std::string* error) noexcept {
  try {
    return DecodeOrThrow(data, size);
  } catch (const std::exception& e) {
    Report(error, e.what());
  } catch (...) {
    Report(error, "unknown failure");
  }
  return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> Encode(const Bgr24View& image, std::string* error) noexcept {
  try {
    return EncodeOrThrow(image);
  } catch (const std::exception& e) {
    Report(error, e.what());
  } catch (...) {
    Report(error, "unknown failure");
  }
  return std::nullopt;
}

}  // namespace zq::jpeg
