#include "Bgr24.h"

#include <stdexcept>

namespace zq {

Bgr24Image::Bgr24Image(int width, int height) {
  if (!LoadedImageSizeAllowed(width, height)) throw std::length_error("image size out of range");
  pixels_.assign(Bgr24Stride(width) * static_cast<std::size_t>(height), 0);
  width_ = width;
  height_ = height;
}

}  // namespace zq
