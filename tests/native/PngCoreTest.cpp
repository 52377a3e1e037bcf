// The PNG codec core without Win32, built natively under AddressSanitizer and
// LeakSanitizer: every failure path (PngSuite's broken files, every truncation, damaged
// bytes, refused sizes) must release what libpng and the codec allocated.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

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

bool Decode(const Bytes& png, Pixels* out = nullptr) {
  VectorTarget t;
  try {
    zanpng::Decode(png.data(), png.size(), t);
  } catch (const zanpng::Error&) {
    return false;
  }
  if (out) *out = t.Take();
  return true;
}

}  // namespace

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

TEST(PngCore, EncodesWithEveryOptionToTheSamePixels) {
  const int w = 61, h = 23;
  const std::size_t stride = ((w * 3 + 3) / 4) * 4;
  Bytes pixels(stride * h);
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(i * 31 / 7);
  Pixels expected;
  expected.width = w;
  expected.height = h;
  for (int y = 0; y < h; ++y)
    expected.bgr.insert(expected.bgr.end(), pixels.begin() + std::ptrdiff_t(stride * y),
                        pixels.begin() + std::ptrdiff_t(stride * y + w * 3));
  for (const auto& options : {zanpng::DefaultOptions(), zanpng::LibpngDefaults(),
                              zanpng::EncodeOptions{0x08, 1, 0}, zanpng::EncodeOptions{0xF8, 9, 1}}) {
    zanpng::MemoryRows rows(pixels.data(), static_cast<std::ptrdiff_t>(stride), w, h);
    VectorSink sink;
    zanpng::Encode(rows, options, sink);
    Pixels back;
    ASSERT_TRUE(Decode(sink.bytes, &back));
    EXPECT_TRUE(back == expected);
  }
  zanpng::MemoryRows empty(pixels.data(), 0, 0, 0);
  VectorSink sink;
  EXPECT_THROW(zanpng::Encode(empty, zanpng::DefaultOptions(), sink), zanpng::Error);
}
