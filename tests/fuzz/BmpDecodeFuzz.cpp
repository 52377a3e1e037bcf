// Fuzz target of the BMP reader (what image files run through).
#include <cstddef>
#include <cstdint>

#include "BmpCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto image = zq::bmp::Decode(data, size);
  if (image && !zq::LoadedImageSizeAllowed(image->width(), image->height())) __builtin_trap();
  return 0;
}
