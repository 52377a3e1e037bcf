// An owning 24-bit image (the pixel format and the view are Pixels.h's).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "Pixels.h"

namespace zq {

// An owning, top-down 24-bit image.
class Bgr24Image {
 public:
  Bgr24Image() = default;
  // Throws std::length_error for a size outside the limits, std::bad_alloc without memory.
  Bgr24Image(int width, int height);

  int width() const { return width_; }
  int height() const { return height_; }
  std::size_t stride() const { return Bgr24Stride(width_); }
  bool empty() const { return width_ == 0; }
  Bgr24View view() {
    return {pixels_.data(), static_cast<std::ptrdiff_t>(stride()), width_, height_};
  }
  const std::uint8_t* Row(int y) const { return pixels_.data() + stride() * y; }
  std::uint8_t* Row(int y) { return pixels_.data() + stride() * y; }

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<std::uint8_t> pixels_;
};

}  // namespace zq
