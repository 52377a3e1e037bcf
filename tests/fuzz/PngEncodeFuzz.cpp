// Fuzz target of the PNG writers: any bytes are a drawing (the first one picks its width),
// written by each deflater and read back by libpng to exactly the same pixels.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "PngCodec.h"

namespace {

struct Into final : zanpng::Sink {
  std::vector<std::uint8_t> bytes;
  void Write(const std::uint8_t* d, std::size_t n) override { bytes.insert(bytes.end(), d, d + n); }
};

struct Rows final : zanpng::Target {
  std::vector<std::uint8_t> bgr;
  zanpng::Rows Allocate(int width, int height) override {
    bgr.assign(std::size_t(width) * 3 * std::size_t(height), 0);
    return {bgr.data(), static_cast<std::ptrdiff_t>(width) * 3};
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const int width = 1 + data[0] % 64;
  const int height = static_cast<int>((size - 1) / (std::size_t(width) * 3));
  if (height < 1) return 0;
  const std::vector<std::uint8_t> pixels(data + 1, data + 1 + std::size_t(width) * 3 * height);
  using zanpng::Deflater;
  for (const auto& options : {zanpng::DefaultOptions(), zanpng::EncodeOptions{0xF8, 1, 0, Deflater::kRows},
                              zanpng::EncodeOptions{zanpng::kFiltersByRow, 6, 0, Deflater::kLibdeflate}}) {
    zanpng::MemoryRows rows(pixels.data(), width * 3, width, height);
    Into png;
    zanpng::Encode(rows, options, png);
    Rows back;
    zanpng::DecodeWithLibpng(png.bytes.data(), png.bytes.size(), back);
    if (back.bgr != pixels) std::abort();
  }
  return 0;
}
