// Fuzz target of the PNG decoder core (what ZanPng_Png2Bitmap runs on data a host hands in).
// Each input is decoded as it is and again with every chunk's CRC made right (so that the
// mutations reach the inflater and the filters), each time by both paths, which must agree.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "PngCodec.h"

namespace {

class Target final : public zanpng::Target {
 public:
  zanpng::Rows Allocate(int width, int height) override {
    if (!zq::LoadedImageSizeAllowed(width, height)) std::abort();
    stride_ = ((std::size_t(width) * 3 + 3) / 4) * 4;
    pixels_.assign(stride_ * std::size_t(height), 0);
    return {pixels_.data(), static_cast<std::ptrdiff_t>(stride_)};
  }
  const std::vector<std::uint8_t>& pixels() const { return pixels_; }

 private:
  std::size_t stride_ = 0;
  std::vector<std::uint8_t> pixels_;
};

bool Run(void (*decode)(const std::uint8_t*, std::size_t, zanpng::Target&), const std::uint8_t* data,
         std::size_t size, Target& t) {
  try {
    decode(data, size, t);
    return true;
  } catch (const zanpng::Error&) {
    return false;
  }
}

void BothPaths(const std::uint8_t* data, std::size_t size) {
  Target direct, libpng;
  const bool ok = Run(zanpng::Decode, data, size, direct);
  if (ok != Run(zanpng::DecodeWithLibpng, data, size, libpng)) std::abort();
  if (ok && direct.pixels() != libpng.pixels()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  BothPaths(data, size);
  std::vector<std::uint8_t> mended(data, data + size);
  for (std::size_t pos = 8; pos + 12 <= size;) {
    const std::size_t length = std::size_t{data[pos]} << 24 | std::size_t{data[pos + 1]} << 16 |
                               std::size_t{data[pos + 2]} << 8 | data[pos + 3];
    if (length > size - pos - 12) break;
    const auto crc = static_cast<std::uint32_t>(crc32(0, data + pos + 4, static_cast<uInt>(length + 4)));
    for (int i = 0; i < 4; ++i) mended[pos + 8 + length + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    pos += 12 + length;
  }
  BothPaths(mended.data(), mended.size());
  return 0;
}
