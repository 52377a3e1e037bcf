// The JPEG codec against libjpeg-turbo's own test images (testorig.ppm is the picture that
// testorig.jpg was compressed from) and against files made here with the IJG API.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

#include "JpegCodec.h"
#include "TestSupport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::wstring TestImage(const wchar_t* name) {
  return zqtest::Join(zqtest::EnvDir("ZQ_JPEG_TESTIMAGES"), name);
}

// A binary PPM ("P6", maxval 255) as a top-down BGR image.
zq::Bgr24Image ReadPpm(const Bytes& data) {
  int w = 0, h = 0, maxval = 0, consumed = 0;
  std::string head(reinterpret_cast<const char*>(data.data()), std::min<std::size_t>(data.size(), 64));
  if (std::sscanf(head.c_str(), "P6 %d %d %d%n", &w, &h, &maxval, &consumed) != 3 || maxval != 255)
    return {};
  const std::uint8_t* p = data.data() + consumed + 1;
  zq::Bgr24Image img(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x, p += 3) {
      img.Row(y)[3 * x] = p[2];
      img.Row(y)[3 * x + 1] = p[1];
      img.Row(y)[3 * x + 2] = p[0];
    }
  return img;
}

bool SamePixels(const zq::Bgr24Image& a, const zq::Bgr24Image& b) {
  if (a.width() != b.width() || a.height() != b.height()) return false;
  for (int y = 0; y < a.height(); ++y)
    if (std::memcmp(a.Row(y), b.Row(y), static_cast<std::size_t>(a.width()) * 3) != 0) return false;
  return true;
}

// Peak signal-to-noise ratio over the first `rows` rows (all when 0).
double Psnr(const zq::Bgr24Image& a, const zq::Bgr24Image& b, int rows = 0) {
  if (rows == 0) rows = a.height();
  double sum = 0;
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < a.width() * 3; ++x) {
      const double d = double(a.Row(y)[x]) - double(b.Row(y)[x]);
      sum += d * d;
    }
  const double mse = sum / (double(a.width()) * rows * 3);
  return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// Writes a JPEG with the IJG API, for the formats our encoder does not write.
struct TestEncoder {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  unsigned char* out = nullptr;
  unsigned long size = 0;

  TestEncoder(int w, int h, int components, J_COLOR_SPACE space) {
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = static_cast<JDIMENSION>(w);
    c.image_height = static_cast<JDIMENSION>(h);
    c.input_components = components;
    c.in_color_space = space;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
  }
  ~TestEncoder() {
    jpeg_destroy_compress(&c);
    free(out);
  }
  Bytes Write(const std::vector<std::uint8_t>& pixels) {
    jpeg_start_compress(&c, TRUE);
    const std::size_t rowBytes = c.image_width * static_cast<std::size_t>(c.input_components);
    while (c.next_scanline < c.image_height) {
      JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + rowBytes * c.next_scanline);
      jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    return Bytes(out, out + size);
  }
};

std::vector<std::uint8_t> PpmRgb(const zq::Bgr24Image& img) {
  std::vector<std::uint8_t> rgb;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      for (int c = 2; c >= 0; --c) rgb.push_back(img.Row(y)[3 * x + c]);
  return rgb;
}

bool HasMarker(const Bytes& jpeg, std::uint8_t marker) {
  for (std::size_t i = 0; i + 1 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == marker) return true;
  return false;
}

class JpegCodec : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(zqtest::EnvDir("ZQ_JPEG_TESTIMAGES").empty()) << "ZQ_JPEG_TESTIMAGES not set";
    reference_ = ReadPpm(zqtest::ReadBytes(TestImage(L"testorig.ppm")));
    ASSERT_EQ(reference_.width(), 227);
    ASSERT_EQ(reference_.height(), 149);
  }
  zq::Bgr24Image reference_;
};

}  // namespace

TEST_F(JpegCodec, DecodesBaselineToThePictureItWasMadeFrom) {
  // testorig.jpg is testorig.ppm at cjpeg's default quality 75: colours in the right order,
  // the right way up, at full scale.
  const Bytes jpeg = zqtest::ReadBytes(TestImage(L"testorig.jpg"));
  std::string error;
  auto img = zq::jpeg::Decode(jpeg.data(), jpeg.size(), &error);
  ASSERT_TRUE(img) << error;
  ASSERT_EQ(img->width(), 227);
  ASSERT_EQ(img->height(), 149);
  EXPECT_GT(Psnr(*img, reference_), 30.0);
  zq::Bgr24Image swapped = *img;
  for (int y = 0; y < swapped.height(); ++y)
    for (int x = 0; x < swapped.width(); ++x) std::swap(swapped.Row(y)[3 * x], swapped.Row(y)[3 * x + 2]);
  EXPECT_LT(Psnr(swapped, reference_), 25.0) << "blue and red must not be exchanged";
}

TEST_F(JpegCodec, DecodesArithmeticCodingLikeTheSameHuffmanFile) {
  const Bytes huff = zqtest::ReadBytes(TestImage(L"testimgint.jpg"));
  const Bytes arith = zqtest::ReadBytes(TestImage(L"testimgari.jpg"));
  auto a = zq::jpeg::Decode(huff.data(), huff.size());
  auto b = zq::jpeg::Decode(arith.data(), arith.size());
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(SamePixels(*a, *b));
}

TEST_F(JpegCodec, DecodesProgressiveLikeBaselineOfTheSameCoefficients) {
  const auto rgb = PpmRgb(reference_);
  TestEncoder base(227, 149, 3, JCS_RGB);
  const Bytes baseline = base.Write(rgb);
  TestEncoder prog(227, 149, 3, JCS_RGB);
  jpeg_simple_progression(&prog.c);
  const Bytes progressive = prog.Write(rgb);
  ASSERT_TRUE(HasMarker(progressive, 0xC2));
  auto a = zq::jpeg::Decode(baseline.data(), baseline.size());
  auto b = zq::jpeg::Decode(progressive.data(), progressive.size());
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(SamePixels(*a, *b));
  EXPECT_GT(Psnr(*b, reference_), 34.0);
}

TEST_F(JpegCodec, DecodesGreyscaleToEqualChannels) {
  std::vector<std::uint8_t> grey(64 * 48);
  for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<std::uint8_t>((i % 64) * 4);
  TestEncoder enc(64, 48, 1, JCS_GRAYSCALE);
  const Bytes jpeg = enc.Write(grey);
  auto img = zq::jpeg::Decode(jpeg.data(), jpeg.size());
  ASSERT_TRUE(img);
  ASSERT_EQ(img->width(), 64);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      const std::uint8_t* p = img->Row(y) + 3 * x;
      EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]);
      EXPECT_NEAR(p[0], x * 4, 3);
    }
}

TEST_F(JpegCodec, DecodesAdobeCmykToItsColours) {
  // Inverted CMYK as Adobe applications write it: pure red is C'=255, M'=0, Y'=0, K'=255.
  std::vector<std::uint8_t> cmyk;
  for (int i = 0; i < 32 * 16; ++i) {
    const bool red = (i % 32) < 16;
    const std::uint8_t px[4] = {255, static_cast<std::uint8_t>(red ? 0 : 255),
                                static_cast<std::uint8_t>(red ? 0 : 255), 255};
    cmyk.insert(cmyk.end(), px, px + 4);
  }
  TestEncoder enc(32, 16, 4, JCS_CMYK);
  const Bytes jpeg = enc.Write(cmyk);
  auto img = zq::jpeg::Decode(jpeg.data(), jpeg.size());
  ASSERT_TRUE(img);
  const std::uint8_t* left = img->Row(8) + 3 * 2;
  const std::uint8_t* right = img->Row(8) + 3 * 28;
  EXPECT_NEAR(left[2], 255, 3);  // red
  EXPECT_NEAR(left[1], 0, 3);
  EXPECT_NEAR(left[0], 0, 3);
  EXPECT_NEAR(right[0], 255, 3);  // white
  EXPECT_NEAR(right[1], 255, 3);
  EXPECT_NEAR(right[2], 255, 3);
}

TEST_F(JpegCodec, WritesBaselineColourAtQuality90) {
  auto jpeg = zq::jpeg::Encode(reference_.view());
  ASSERT_TRUE(jpeg);
  EXPECT_TRUE(HasMarker(*jpeg, 0xC0));   // baseline frame
  EXPECT_FALSE(HasMarker(*jpeg, 0xC2));  // not progressive
  EXPECT_TRUE(HasMarker(*jpeg, 0xE0));   // JFIF
  // Frame header: three components.
  for (std::size_t i = 0; i + 10 < jpeg->size(); ++i)
    if ((*jpeg)[i] == 0xFF && (*jpeg)[i + 1] == 0xC0) {
      EXPECT_EQ((*jpeg)[i + 9], 3);
      break;
    }
  // The luminance table at quality 90: the standard table scaled by 20%; its first entry 16
  // becomes (16 * 20 + 50) / 100 = 3.
  for (std::size_t i = 0; i + 5 < jpeg->size(); ++i)
    if ((*jpeg)[i] == 0xFF && (*jpeg)[i + 1] == 0xDB) {
      EXPECT_EQ((*jpeg)[i + 4], 0);  // table 0, 8-bit
      EXPECT_EQ((*jpeg)[i + 5], 3);
      break;
    }
  auto back = zq::jpeg::Decode(jpeg->data(), jpeg->size());
  ASSERT_TRUE(back);
  EXPECT_GT(Psnr(*back, reference_), 34.0);
}

TEST_F(JpegCodec, RefusesWhatIsNotADecodableJpeg) {
  const Bytes good = zqtest::ReadBytes(TestImage(L"testorig.jpg"));
  std::string error;
  EXPECT_FALSE(zq::jpeg::Decode(nullptr, 0, &error));
  EXPECT_FALSE(zq::jpeg::Decode(good.data(), 0));
  const Bytes garbage(5000, 0x5A);
  EXPECT_FALSE(zq::jpeg::Decode(garbage.data(), garbage.size(), &error));
  EXPECT_FALSE(error.empty());
  // Cut inside the headers.
  EXPECT_FALSE(zq::jpeg::Decode(good.data(), 100));
  // 12-bit samples are outside this build.
  const Bytes twelve = zqtest::ReadBytes(TestImage(L"testorig12.jpg"));
  EXPECT_FALSE(zq::jpeg::Decode(twelve.data(), twelve.size()));
}

TEST_F(JpegCodec, RefusesSizesBeyondTheLimit) {
  Bytes jpeg = zqtest::ReadBytes(TestImage(L"testorig.jpg"));
  for (std::size_t i = 0; i + 8 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 7] = 0x9C;  // width 40000
      jpeg[i + 8] = 0x40;
      break;
    }
  std::string error;
  EXPECT_FALSE(zq::jpeg::Decode(jpeg.data(), jpeg.size(), &error));
  EXPECT_NE(error.find("size"), std::string::npos) << error;
}

TEST_F(JpegCodec, ShowsWhatThereIsOfAFileThatEndsEarly) {
  const Bytes good = zqtest::ReadBytes(TestImage(L"testorig.jpg"));
  auto img = zq::jpeg::Decode(good.data(), good.size() * 2 / 3);
  ASSERT_TRUE(img);
  EXPECT_EQ(img->width(), 227);
  EXPECT_EQ(img->height(), 149);
  // The top rows are the picture.
  EXPECT_GT(Psnr(*img, reference_, 40), 30.0);
}

TEST_F(JpegCodec, RefusesEndlessProgressiveScans) {
  const auto rgb = PpmRgb(reference_);
  TestEncoder prog(227, 149, 3, JCS_RGB);
  jpeg_simple_progression(&prog.c);
  Bytes jpeg = prog.Write(rgb);
  // Repeat the last scan (from its SOS marker to EOI) far beyond the limit.
  std::size_t sos = 0;
  for (std::size_t i = 0; i + 1 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) sos = i;
  ASSERT_GT(sos, 0u);
  const Bytes scan(jpeg.begin() + static_cast<std::ptrdiff_t>(sos), jpeg.end() - 2);
  Bytes crafted(jpeg.begin(), jpeg.end() - 2);
  for (int i = 0; i < zq::jpeg::kMaxScans + 10; ++i) crafted.insert(crafted.end(), scan.begin(), scan.end());
  crafted.push_back(0xFF);
  crafted.push_back(0xD9);
  std::string error;
  EXPECT_FALSE(zq::jpeg::Decode(crafted.data(), crafted.size(), &error));
  EXPECT_NE(error.find("scans"), std::string::npos) << error;
}

// Output larger than the writer's pieces: a grainy 1200 x 900 picture (over 512 KiB at
// quality 90) comes back whole.
TEST(JpegEncode, LargeOutputComesBackWhole) {
  zq::Bgr24Image grainy(1200, 900);
  std::uint32_t seed = 1;
  for (int y = 0; y < grainy.height(); ++y)
    for (int x = 0; x < grainy.width() * 3; ++x) {
      seed = seed * 1664525u + 1013904223u;
      grainy.Row(y)[x] = static_cast<std::uint8_t>((x / 5 + y / 4) % 190 + (seed >> 26));
    }
  auto jpeg = zq::jpeg::Encode(grainy.view());
  ASSERT_TRUE(jpeg);
  EXPECT_GT(jpeg->size(), 512u * 1024);  // three pieces
  auto back = zq::jpeg::Decode(jpeg->data(), jpeg->size());
  ASSERT_TRUE(back);
  EXPECT_GT(Psnr(*back, grainy), 20.0);  // the grain is what quality 90 loses; a bad join is noise
}

TEST(JpegEncode, RefusesAnEmptyImage) {
  EXPECT_FALSE(zq::jpeg::Encode(zq::Bgr24View{}));
}
