// The hot paths against their targets: Base64 of 1.5 MiB both ways, and the undo snapshot's
// copy of one 1920 x 1080 layer, each as a ratio to memcpy of the same bytes in this run.
// Every row prints the measured ratio beside its target.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include <jpeglib.h>

#include "BenchSupport.h"
#include "ConvCode.h"
#include "Graphics.h"
#include "JpegCodec.h"

namespace {

void Row(const char* name, double measured, const char* target, bool met) {
  std::printf("  %-44s %7.3f   target %-10s %s\n", name, measured, target, met ? "met" : "NOT MET");
}

void Base64Rows() {
  const std::size_t n = 3 << 19;  // 1.5 MiB, about what a memo's PNG is
  std::string bytes(n, '\0');
  std::mt19937 rng(7);
  for (auto& c : bytes) c = static_cast<char>(rng());
  std::string copy(n, '\0');
  const std::string text = zq::EncodeBase64(bytes);
  std::string textCopy(text.size(), '\0');
  std::wstring wide(text.size(), L'\0');
  volatile std::size_t sink = 0;
  std::string narrow(text.size(), '\0');
  zq::ByteString decoded;
  // Throughput is bytes of data per second; memcpy of the data, and of the text, is the scale.
  // Each is measured with its scale in turn, five times (see bench::Ratios).
  bench::Ratios encChars, enc, dec;
  double tCopy = 0, tCopyText = 0, tDec = 0;
  for (int round = 0; round < 5; ++round) {
    tCopy = bench::Best([&] {
      std::memcpy(copy.data(), bytes.data(), n);
      sink = sink + static_cast<unsigned char>(copy[n / 2]);
    }, 50);
    tCopyText = bench::Best([&] {
      std::memcpy(textCopy.data(), text.data(), text.size());
      sink = sink + static_cast<unsigned char>(textCopy[n / 2]);
    }, 50);
    encChars.Add(tCopy / bench::Best([&] { zq::EncodeBase64To(bytes, narrow.data()); sink = sink + narrow[7]; }, 30));
    enc.Add(tCopy / bench::Best([&] { zq::EncodeBase64To(bytes, wide.data()); sink = sink + wide[7]; }, 30));
    tDec = bench::Best([&] {
      zq::DecodeBase64Into(text, decoded);
      sink = sink + decoded.size();
    }, 30);
    dec.Add(tCopyText / tDec);
  }
  const double tDecFresh = bench::Best([&] { sink = sink + zq::DecodeBase64(text).size(); }, 30);
  if (zq::DecodeBase64(text) != bytes) std::printf("DECODE MISMATCH\n");
  std::printf("Base64 of 1.5 MiB of random bytes: memcpy %.3f ms (data), %.3f ms (text)\n", tCopy * 1e3,
              tCopyText * 1e3);
  std::printf("  %-44s %7s\n", "", "throughput as a share of memcpy's (median of 5, lowest-highest)");
  auto row = [](const char* name, const bench::Ratios& r) {
    std::printf("  %-44s %7.3f   target >= 0.25     %-8s (%.3f-%.3f)\n", name, r.Median(), r.Median() >= 0.25 ? "met" : "NOT MET",
                r.Lowest(), r.Highest());
  };
  row("encode into 8-bit characters", encChars);
  row("encode into a BSTR's 16-bit characters", enc);
  row("decode into a buffer used again", dec);
  std::printf("  %-44s %7.3f   (for comparison: the new memory's first touch is %.3f of its %.3f ms)\n",
              "decode into a new result", tCopyText / tDecFresh, tDecFresh * 1e3 - tDec * 1e3, tDecFresh * 1e3);
}

void UndoRow() {
  using zq::fw::Bitmap;
  Bitmap layer(1920, 1080), snapshot(1920, 1080);
  {
    auto v = layer.View();
    std::mt19937 rng(3);
    for (int y = 0; y < v.height; ++y)
      for (int x = 0; x < v.width * 3; ++x) v.Row(y)[x] = static_cast<std::uint8_t>(rng());
  }
  snapshot.CopyPixels(layer);
  const std::size_t bytes = layer.ByteSize();
  std::vector<std::uint8_t> a(bytes, 1), b(bytes, 2);
  volatile std::size_t sink = 0;
  const double tCopy = bench::Best([&] {
    std::memcpy(b.data(), a.data(), bytes);
    sink = sink + b[bytes / 2];
  }, 30);
  const double tSnap = bench::Best([&] {
    snapshot.CopyPixels(layer);
    snapshot.Dormant();
  }, 30);
  // The way it was: a device context for each, and a BitBlt.
  const double tBlt = bench::Best([&] {
    snapshot.GetCanvas().Draw(0, 0, layer);
    snapshot.Dormant();
  }, 30);
  std::printf("\nUndo snapshot of one 1920 x 1080 layer (%.1f MiB): memcpy %.3f ms\n", bytes / 1048576.0, tCopy * 1e3);
  std::printf("  %-44s %7s\n", "", "time as a multiple of memcpy's");
  Row("copy of the section's memory (what undo does)", tSnap / tCopy, "<= 1.1", tSnap / tCopy <= 1.1);
  std::printf("  %-44s %7.3f   (for comparison)\n", "BitBlt through two device contexts", tBlt / tCopy);
}

// libjpeg-turbo on its own writing the same picture with the wrapper's settings.
std::size_t BareJpeg(const bench::Picture& p) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = static_cast<JDIMENSION>(p.width);
  c.image_height = static_cast<JDIMENSION>(p.height);
  c.input_components = 3;
  c.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&c);
  jpeg_set_colorspace(&c, JCS_YCbCr);
  jpeg_set_quality(&c, zq::jpeg::kWriteQuality, TRUE);
  c.dct_method = JDCT_ISLOW;
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(p.bgr.data() + p.stride * c.next_scanline);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  free(out);
  return size;
}

void JpegRow() {
  bench::Picture p = bench::Memo(1920, 1080, 5);
  // A photograph's kind of content over half of it: gradients and noise.
  std::mt19937 rng(11);
  for (int y = 0; y < p.height; ++y)
    for (int x = p.width / 2; x < p.width; ++x)
      for (int k = 0; k < 3; ++k)
        p.At(x, y)[k] = static_cast<std::uint8_t>((x * (k + 1) / 9 + y / 5 + static_cast<int>(rng() % 24)) & 255);
  const zq::Bgr24View view{p.bgr.data(), static_cast<std::ptrdiff_t>(p.stride), p.width, p.height};
  volatile std::size_t sink = 0;
  // Interleaved, so that both sides meet the same moments of a noisy machine.
  double tBare = 1e9, tOurs = 1e9;
  for (int i = 0; i < 15; ++i) {
    tBare = std::min(tBare, bench::Best([&] { sink = sink + BareJpeg(p); }, 1));
    tOurs = std::min(tOurs, bench::Best([&] { sink = sink + zq::jpeg::Encode(view)->size(); }, 1));
  }
  std::printf("\nJPEG quality 90 of a 1920 x 1080 memo with a photographic half: bare libjpeg-turbo %.2f ms\n",
              tBare * 1e3);
  Row("through the wrapper, as a multiple of bare", tOurs / tBare, "<= 1.1", tOurs / tBare <= 1.1);
}

}  // namespace

int main() {
  Base64Rows();
  UndoRow();
  JpegRow();
  return 0;
}
