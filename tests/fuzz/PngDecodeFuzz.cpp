// Fuzz target of the PNG decoder core (what ZanPng_Png2Bitmap runs on data a host hands in).
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

 private:
  std::size_t stride_ = 0;
  std::vector<std::uint8_t> pixels_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Target t;
  try {
    zanpng::Decode(data, size, t);
  } catch (const zanpng::Error&) {
  }
  return 0;
}
