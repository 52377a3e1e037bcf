// Fuzz target of the JPEG decoder (what image files run through).
#include <cstddef>
#include <cstdint>

#include "JpegCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto image = zq::jpeg::Decode(data, size);
  if (image && !zq::LoadedImageSizeAllowed(image->width(), image->height())) __builtin_trap();
  return 0;
}
