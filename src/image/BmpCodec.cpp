#include "BmpCodec.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstring>

namespace zq::bmp {

namespace {

std::uint32_t U16(const std::uint8_t* p) { return p[0] | static_cast<std::uint32_t>(p[1]) << 8; }
std::uint32_t U32(const std::uint8_t* p) {
  return p[0] | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]) << 16 |
         static_cast<std::uint32_t>(p[3]) << 24;
}

constexpr std::size_t kFileHeader = 14;
constexpr std::uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3, kAlphaBitfields = 6;

// One colour of a masked 16- or 32-bit pixel: where its bits lie, widened to eight bits by
// repeating them (five bits abcde become abcdeabc), as the platform widens them.
class Channel {
 public:
  // False for a mask whose bits are not one run.
  bool Set(std::uint32_t mask) {
    mask_ = mask;
    bits_ = std::popcount(mask);
    shift_ = mask ? std::countr_zero(mask) : 0;
    if (mask && ((mask >> shift_) & ((mask >> shift_) + 1)) != 0) return false;
    widen_.fill(0);  // no bits: the colour is absent
    if (bits_ >= 1 && bits_ <= 8) {
      for (std::uint32_t v = 0; v < (1u << bits_); ++v) {
        std::uint32_t wide = 0;
        for (int s = 8 - bits_; s > -bits_; s -= bits_) wide |= s >= 0 ? v << s : v >> -s;
        widen_[v] = static_cast<std::uint8_t>(wide);
      }
    }
    return true;
  }
  std::uint8_t Of(std::uint32_t pixel) const {
    const std::uint32_t v = (pixel & mask_) >> shift_;
    return bits_ <= 8 ? widen_[v] : static_cast<std::uint8_t>(v >> (bits_ - 8));
  }

 private:
  std::uint32_t mask_ = 0;
  int bits_ = 0, shift_ = 0;
  std::array<std::uint8_t, 256> widen_{};
};

struct Layout {
  int width = 0, height = 0;
  bool topDown = false;
  int bits = 0;
  std::uint32_t compression = kRgb;
  std::array<std::uint8_t, 256 * 3> palette{};  // blue, green, red; entries not given are black
  Channel red, green, blue;
  std::size_t pixels = 0;  // where the pixel data starts
};

// The file's headers, each field checked against the bytes there are.
std::optional<Layout> ReadLayout(const std::uint8_t* data, std::size_t size) {
  if (size < kFileHeader + 12 || data[0] != 'B' || data[1] != 'M') return std::nullopt;
  const std::uint32_t offBits = U32(data + 10);
  const std::uint32_t headerSize = U32(data + kFileHeader);
  if (headerSize > size - kFileHeader) return std::nullopt;
  const std::uint8_t* h = data + kFileHeader;
  Layout l;
  std::int64_t width = 0, height = 0;
  std::uint32_t planes = 0, colours = 0;
  std::size_t entrySize = 4;
  if (headerSize == 12) {
    width = U16(h + 4);
    height = U16(h + 6);
    planes = U16(h + 8);
    l.bits = static_cast<int>(U16(h + 10));
    entrySize = 3;
  } else if (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 64 || headerSize == 108 ||
             headerSize == 124) {
    width = static_cast<std::int32_t>(U32(h + 4));
    const auto signedHeight = static_cast<std::int32_t>(U32(h + 8));
    if (signedHeight == INT32_MIN) return std::nullopt;
    l.topDown = signedHeight < 0;
    height = l.topDown ? -std::int64_t{signedHeight} : signedHeight;
    planes = U16(h + 12);
    l.bits = static_cast<int>(U16(h + 14));
    l.compression = U32(h + 16);
    colours = U32(h + 32);
    // OS/2's own codes 3 and 4 mean Huffman coding and 24-bit runs there.
    if (headerSize == 64 && l.compression > kRle4) return std::nullopt;
  } else {
    return std::nullopt;
  }
  if (planes != 1 || !LoadedImageSizeAllowed(width, height)) return std::nullopt;
  l.width = static_cast<int>(width);
  l.height = static_cast<int>(height);

  const bool masked = l.compression == kBitfields || l.compression == kAlphaBitfields;
  switch (l.bits) {
    case 1:
      if (l.compression != kRgb) return std::nullopt;
      break;
    case 4:
      if (l.compression != kRgb && l.compression != kRle4) return std::nullopt;
      break;
    case 8:
      if (l.compression != kRgb && l.compression != kRle8) return std::nullopt;
      break;
    case 16:
    case 32:
      if (l.compression != kRgb && !masked) return std::nullopt;
      break;
    case 24:
      if (l.compression != kRgb) return std::nullopt;
      break;
    default:
      return std::nullopt;
  }
  const bool runs = l.compression == kRle8 || l.compression == kRle4;
  if (runs && l.topDown) return std::nullopt;

  std::size_t after = kFileHeader + headerSize;
  if (masked) {
    std::uint32_t m[3];
    if (headerSize >= 52) {
      for (int i = 0; i < 3; ++i) m[i] = U32(h + 40 + 4 * i);
    } else {
      const std::size_t given = l.compression == kBitfields ? 12 : 16;
      if (size - after < given) return std::nullopt;
      for (int i = 0; i < 3; ++i) m[i] = U32(data + after + 4 * i);
      after += given;
    }
    if (!l.red.Set(m[0]) || !l.green.Set(m[1]) || !l.blue.Set(m[2])) return std::nullopt;
  } else if (l.bits == 16) {
    l.red.Set(0x7C00);
    l.green.Set(0x03E0);
    l.blue.Set(0x001F);
  } else if (l.bits == 32) {
    l.red.Set(0x00FF0000);
    l.green.Set(0x0000FF00);
    l.blue.Set(0x000000FF);
  }

  if (l.bits <= 8) {
    // Writers that claim more colours than the bits can index exist; the first 256 count.
    std::size_t count = colours ? colours : std::size_t{1} << l.bits;
    if (count > 256) count = 256;
    if ((size - after) / entrySize < count) return std::nullopt;
    for (std::size_t i = 0; i < count; ++i) std::memcpy(&l.palette[3 * i], data + after + entrySize * i, 3);
    after += entrySize * count;
  }
  // The pixels lie after the headers and masks; a zero offset (some writers) means right
  // after the palette.
  l.pixels = offBits ? offBits : after;
  if (l.pixels < kFileHeader + headerSize || l.pixels > size) return std::nullopt;
  if (!runs) {
    const std::uint64_t stride = (static_cast<std::uint64_t>(l.width) * l.bits + 31) / 32 * 4;
    if (stride * static_cast<std::uint64_t>(l.height) > size - l.pixels) return std::nullopt;
  }
  return l;
}

void Uncompressed(const Layout& l, const std::uint8_t* data, Bgr24Image& image) {
  const std::size_t stride = (static_cast<std::size_t>(l.width) * l.bits + 31) / 32 * 4;
  for (int y = 0; y < l.height; ++y) {
    const std::uint8_t* src = data + l.pixels + stride * static_cast<std::size_t>(l.topDown ? y : l.height - 1 - y);
    std::uint8_t* dst = image.Row(y);
    switch (l.bits) {
      case 24:
        std::memcpy(dst, src, std::size_t(l.width) * 3);
        break;
      case 16:
      case 32:
        for (int x = 0; x < l.width; ++x, dst += 3) {
          const std::uint32_t px = l.bits == 16 ? U16(src + 2 * x) : U32(src + 4 * x);
          dst[0] = l.blue.Of(px);
          dst[1] = l.green.Of(px);
          dst[2] = l.red.Of(px);
        }
        break;
      default: {
        const int perByte = 8 / l.bits, mask = (1 << l.bits) - 1;
        for (int x = 0; x < l.width; ++x, dst += 3) {
          const int shift = 8 - l.bits * (x % perByte + 1);
          std::memcpy(dst, &l.palette[3 * ((src[x / perByte] >> shift) & mask)], 3);
        }
      }
    }
  }
}

// Run-length encoded 8- or 4-bit pixels, bottom-up. What lies outside the image is clipped;
// a stream that ends early leaves the rest black.
void RunLength(const Layout& l, const std::uint8_t* data, std::size_t size, Bgr24Image& image) {
  const bool eight = l.compression == kRle8;
  std::int64_t x = 0, row = 0;
  auto put = [&](int index) {
    if (x < l.width && row < l.height) std::memcpy(image.Row(l.height - 1 - int(row)) + 3 * x, &l.palette[3 * index], 3);
    ++x;
  };
  std::size_t p = l.pixels;
  while (size - p >= 2 && row < l.height) {
    const int count = data[p], code = data[p + 1];
    p += 2;
    if (count > 0) {
      for (int i = 0; i < count && x < l.width; ++i) put(eight ? code : (i & 1) ? code & 15 : code >> 4);
      x = std::min<std::int64_t>(x, l.width);
    } else if (code == 0) {
      x = 0;
      ++row;
    } else if (code == 1) {
      break;
    } else if (code == 2) {
      if (size - p < 2) break;
      x += data[p];
      row += data[p + 1];
      p += 2;
    } else {
      const std::size_t bytes = eight ? code : (code + 1) / 2;
      if (size - p < bytes) break;
      for (int i = 0; i < code && x < l.width; ++i)
        put(eight ? data[p + i] : (i & 1) ? data[p + i / 2] & 15 : data[p + i / 2] >> 4);
      x = std::min<std::int64_t>(x, l.width);
      p += std::min(size - p, (bytes + 1) & ~std::size_t{1});
    }
  }
}

}  // namespace

std::optional<Bgr24Image> Decode(const std::uint8_t* data, std::size_t size) noexcept {
  try {
    if (!data) return std::nullopt;
    const std::optional<Layout> l = ReadLayout(data, size);
    if (!l) return std::nullopt;
    Bgr24Image image(l->width, l->height);
    if (l->compression == kRle8 || l->compression == kRle4) {
      RunLength(*l, data, size, image);
    } else {
      Uncompressed(*l, data, image);
    }
    return image;
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace zq::bmp
