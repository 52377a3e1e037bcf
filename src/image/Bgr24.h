// 24-bit pixel buffers as the platform's device-independent bitmaps hold them: three bytes
// per pixel in the order blue, green, red; rows padded to a multiple of four bytes. A view's
// stride may be negative, so a bottom-up bitmap is seen top row first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zq {

// Limits of every image this system creates or decodes. A side stays within what window
// and mouse coordinates can address (signed 16 bits); the pixel count keeps one 24-bit
// bitmap at 48 MiB, so that the drawing, its background and the four history bitmaps fit
// in the address space of a 32-bit process together with a decoder's working memory.
inline constexpr int kMaxImageSide = 32767;
inline constexpr std::int64_t kMaxImagePixels = 16 * 1024 * 1024;

// True when width x height is a size this system accepts (both sides at least 1).
constexpr bool ImageSizeAllowed(std::int64_t width, std::int64_t height) {
  return width >= 1 && height >= 1 && width <= kMaxImageSide && height <= kMaxImageSide &&
         width * height <= kMaxImagePixels;
}

// Bytes in one row of a 24-bit bitmap of this width (padded to four).
constexpr std::size_t Bgr24Stride(int width) {
  return ((static_cast<std::size_t>(width) * 3 + 3) / 4) * 4;
}

struct Bgr24View {
  std::uint8_t* data = nullptr;  // first byte of the top row
  std::ptrdiff_t stride = 0;     // bytes from one row to the next one below
  int width = 0;
  int height = 0;

  std::uint8_t* Row(int y) const { return data + stride * y; }
};

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
