// The bottom layer of every module: the one limit of image sizes and the one view of 24-bit
// pixels, shared by the framework's bitmaps, the control, the codecs and the brush's raster
// core. No Win32 here: the pure cores include it natively too.
//
// Pixels are three bytes each in the order blue, green, red, as the platform's 24-bit
// device-independent bitmaps hold them; rows are padded to a multiple of four bytes. A
// view's stride may be negative, so that a bottom-up bitmap is seen top row first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zq {

// Limits of every image this system creates, loads or decodes. A side stays within what
// window and mouse coordinates can address (signed 16 bits); the pixel count keeps one
// 24-bit bitmap at 48 MiB, so that the drawing, its background and the four history bitmaps
// fit in the address space of a 32-bit process together with a decoder's working memory.
inline constexpr int kMaxImageSide = 32767;
inline constexpr std::int64_t kMaxImagePixels = 16 * 1024 * 1024;

// True when width x height is a size this system accepts (both sides at least 1).
constexpr bool ImageSizeAllowed(std::int64_t width, std::int64_t height) {
  return width >= 1 && height >= 1 && width <= kMaxImageSide && height <= kMaxImageSide &&
         width * height <= kMaxImagePixels;
}

// Images read from files and decoded from PNG or JPEG bytes may be larger than a drawing
// (the user may shrink them to fit when placing them): up to 50 Mi pixels, the photo of a
// 50-megapixel camera (150 MiB as a 24-bit bitmap). Whatever takes a drawing's place keeps to
// ImageSizeAllowed.
inline constexpr std::int64_t kMaxLoadedImagePixels = 50LL * 1024 * 1024;
constexpr bool LoadedImageSizeAllowed(std::int64_t width, std::int64_t height) {
  return width >= 1 && height >= 1 && width <= kMaxImageSide && height <= kMaxImageSide &&
         width * height <= kMaxLoadedImagePixels;
}

// Bytes in one row of a 24-bit bitmap of this width (padded to four).
constexpr std::size_t Bgr24Stride(int width) { return ((static_cast<std::size_t>(width) * 3 + 3) / 4) * 4; }

// Borrowed 24-bit pixels.
struct Bgr24View {
  std::uint8_t* data = nullptr;  // first byte of the top row
  std::ptrdiff_t stride = 0;     // bytes from one row to the next one below
  int width = 0;
  int height = 0;

  std::uint8_t* Row(int y) const { return data + stride * y; }
  std::uint8_t* Px(int x, int y) const { return data + stride * y + 3 * x; }
};

}  // namespace zq
