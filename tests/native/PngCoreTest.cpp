// The PNG codec core without Win32, built natively under AddressSanitizer and
// LeakSanitizer: every failure path (PngSuite's broken files, every truncation, damaged
// bytes, refused sizes) must release what libpng and the codec allocated.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <png.h>
#include <zlib.h>

#include "PngCodec.h"
#include "PngSuite.h"

namespace {

using namespace pngsuite;

class VectorTarget final : public zanpng::Target {
 public:
  zanpng::Rows Allocate(int width, int height) override {
    width_ = width;
    height_ = height;
    stride_ = ((std::size_t(width) * 3 + 3) / 4) * 4;
    pixels_.assign(stride_ * std::size_t(height), 0);
    return {pixels_.data(), static_cast<std::ptrdiff_t>(stride_)};
  }
  Pixels Take() const {
    Pixels p;
    p.width = width_;
    p.height = height_;
    for (int y = 0; y < height_; ++y)
      p.bgr.insert(p.bgr.end(), pixels_.begin() + std::ptrdiff_t(stride_ * y),
                   pixels_.begin() + std::ptrdiff_t(stride_ * y + std::size_t(width_) * 3));
    return p;
  }

 private:
  int width_ = 0, height_ = 0;
  std::size_t stride_ = 0;
  std::vector<std::uint8_t> pixels_;
};

class VectorSink final : public zanpng::Sink {
 public:
  void Write(const std::uint8_t* data, std::size_t size) override { bytes.insert(bytes.end(), data, data + size); }
  Bytes bytes;
};

using DecodeFn = void (*)(const std::uint8_t*, std::size_t, zanpng::Target&);

bool Decode(const Bytes& png, Pixels* out = nullptr, DecodeFn decode = zanpng::Decode) {
  VectorTarget t;
  try {
    decode(png.data(), png.size(), t);
  } catch (const zanpng::Error&) {
    return false;
  }
  if (out) *out = t.Take();
  return true;
}

// The same file through both decoding paths: the same pixels, or a refusal from both.
void ExpectPathsAgree(const Bytes& png) {
  Pixels direct, libpng;
  const bool ok = Decode(png, &direct);
  ASSERT_EQ(ok, Decode(png, &libpng, zanpng::DecodeWithLibpng));
  if (ok) EXPECT_TRUE(direct == libpng);
}

// Damage that a CRC would catch must reach the inflater and the filters too: the chunks'
// CRCs are made right again after the change.
void RewriteCrcs(Bytes& png) {
  for (std::size_t pos = 8; pos + 12 <= png.size();) {
    const std::size_t length = BigEndian(&png[pos]);
    if (length > png.size() - pos - 12) return;
    const auto crc = static_cast<std::uint32_t>(crc32(0, &png[pos + 4], static_cast<uInt>(length + 4)));
    for (int i = 0; i < 4; ++i) png[pos + 8 + length + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    pos += 12 + length;
  }
}

}  // namespace

// Plain RGB and RGBA files are read without libpng. Whatever they hold -- any filter, many
// IDAT chunks, damaged image data, trailing or missing stream bytes -- the result is the
// libpng path's.
TEST(PngCore, DirectPathAgreesWithLibpng) {
  std::vector<Bytes> files;
  for (const auto& e : Manifest()) files.push_back(zqtest::ReadBytes(SuiteFile(e.path)));
  const int w = 97, h = 41;
  Bytes rgba(std::size_t(w) * h * 4);
  for (std::size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<std::uint8_t>((i * i) >> 3 ^ i);
  for (std::uint32_t format : {PNG_FORMAT_RGBA, PNG_FORMAT_RGB}) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = w;
    image.height = h;
    image.format = format;
    png_alloc_size_t size = 0;
    ASSERT_TRUE(png_image_write_get_memory_size(image, size, 0, rgba.data(), 0, nullptr));
    Bytes png(size);
    ASSERT_TRUE(png_image_write_to_memory(&image, png.data(), &size, 0, rgba.data(), 0, nullptr));
    png.resize(size);
    files.push_back(png);
  }
  for (const auto& options : {zanpng::DefaultOptions(), zanpng::EncodeOptions{0xF8, 9, 1}}) {
    zanpng::MemoryRows rows(rgba.data(), w * 3, w, h);
    VectorSink sink;
    zanpng::Encode(rows, options, sink);
    files.push_back(sink.bytes);
  }
  const std::size_t made = files.size() - 4;
  for (std::size_t f = 0; f < files.size(); ++f) {
    const Bytes& png = files[f];
    SCOPED_TRACE(f);
    ExpectPathsAgree(png);
    if (f < made) continue;
    for (std::size_t at = 33; at < png.size(); at += 1 + (at % 7)) {
      Bytes bad = png;
      bad[at] ^= static_cast<std::uint8_t>(0x5A + at);
      RewriteCrcs(bad);
      ExpectPathsAgree(bad);
    }
  }
}

TEST(PngCore, DecodesPngSuiteAndFailsCleanlyOnEverythingBroken) {
  const auto entries = Manifest();
  ASSERT_GT(entries.size(), 150u);
  for (const auto& e : entries) {
    SCOPED_TRACE(e.path);
    const Bytes png = zqtest::ReadBytes(SuiteFile(e.path));
    Pixels got;
    ASSERT_EQ(Decode(png, &got), e.ok);
    if (!e.ok) continue;
    EXPECT_TRUE(got == ReadReference(ReferenceFile(e.path)));
    for (std::size_t cut = 1; cut < png.size(); cut += 1 + png.size() / 40)
      EXPECT_FALSE(Decode(Bytes(png.begin(), png.begin() + std::ptrdiff_t(cut)))) << cut;
    for (std::size_t at = 8; at < png.size(); at += 11) {
      Bytes bad = png;
      bad[at] ^= 0xA5;
      Decode(bad);
    }
  }
}

TEST(PngCore, RefusesSizesBeyondTheLimits) {
  EXPECT_TRUE(Decode(BlackPng(3, 2)));
  EXPECT_FALSE(Decode(BlackPng(zq::kMaxImageSide + 1, 1)));
  EXPECT_FALSE(Decode(BlackPng(4097, 4097)));
  EXPECT_FALSE(Decode(BlackPng(0xFFFFFFFF, 1)));
}

// Every writer gives back the same pixels through libpng: a small pattern, a drawing of
// runs and noise long enough for several deflate blocks, rows too wide for a match one row
// up, a single pixel.
TEST(PngCore, EncodesWithEveryOptionToTheSamePixels) {
  struct Image {
    int w, h;
    Bytes bgr;
  };
  std::vector<Image> images;
  auto add = [&](int w, int h, auto pixel) {
    Image img{w, h, Bytes(std::size_t(w) * h * 3)};
    for (std::size_t i = 0; i < img.bgr.size(); ++i) img.bgr[i] = pixel(i, std::size_t(w) * 3);
    images.push_back(std::move(img));
  };
  add(61, 23, [](std::size_t i, std::size_t) { return static_cast<std::uint8_t>(i * 31 / 7); });
  add(500, 400, [](std::size_t i, std::size_t row) {
    const std::size_t x = i % row, y = i / row;
    return static_cast<std::uint8_t>((x / 3 + y) % 97 < 40 ? (x * y * 2654435761u) >> 13 : 255 - (y / 50));
  });
  add(11001, 3, [](std::size_t i, std::size_t) { return static_cast<std::uint8_t>(i % 300 < 200 ? 255 : i); });
  add(1, 1, [](std::size_t, std::size_t) { return std::uint8_t{7}; });
  using zanpng::Deflater;
  for (const auto& img : images)
    for (const auto& options :
         {zanpng::DefaultOptions(), zanpng::LibpngDefaults(), zanpng::EncodeOptions{0x08, 1, 0},
          zanpng::EncodeOptions{0xF8, 9, 1}, zanpng::EncodeOptions{0xF8, 1, 0, Deflater::kRows},
          zanpng::EncodeOptions{zanpng::kFiltersByRow, 12, 0, Deflater::kLibdeflate}}) {
      SCOPED_TRACE(testing::Message() << img.w << "x" << img.h << " deflater " << int(options.deflater));
      zanpng::MemoryRows rows(img.bgr.data(), img.w * 3, img.w, img.h);
      VectorSink sink;
      zanpng::Encode(rows, options, sink);
      Pixels back;
      ASSERT_TRUE(Decode(sink.bytes, &back, zanpng::DecodeWithLibpng));
      EXPECT_EQ(back.bgr, img.bgr);
      ExpectPathsAgree(sink.bytes);
    }
  zanpng::MemoryRows empty(nullptr, 0, 0, 0);
  VectorSink sink;
  EXPECT_THROW(zanpng::Encode(empty, zanpng::DefaultOptions(), sink), zanpng::Error);
}
