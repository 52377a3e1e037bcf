// The BMP reader on the corpus of readable and damaged files, and on every cut of a readable
// one: each readable file gives exactly the picture it was made of, nothing else is read.
#include <gtest/gtest.h>

#include <cstring>

#include "BmpCodec.h"
#include "BmpCorpus.h"

namespace {

std::vector<std::uint8_t> Unpadded(const zq::Bgr24Image& image) {
  std::vector<std::uint8_t> out;
  for (int y = 0; y < image.height(); ++y) out.insert(out.end(), image.Row(y), image.Row(y) + image.width() * 3);
  return out;
}

TEST(Bmp, ReadsEveryKindAndRefusesDamagedFilesFromTheirHeaders) {
  int readable = 0, refused = 0;
  for (const zqtest::BmpCase& c : zqtest::BmpCorpus()) {
    SCOPED_TRACE(c.name);
    const std::vector<std::uint8_t> bytes = zqtest::ReadBytes(c.path);
    const auto image = zq::bmp::Decode(bytes.data(), bytes.size());
    if (!c.readable) {
      EXPECT_FALSE(image) << "read although damaged";
      ++refused;
      continue;
    }
    ASSERT_TRUE(image) << "not read";
    EXPECT_EQ(c.width, image->width());
    EXPECT_EQ(c.height, image->height());
    EXPECT_EQ(c.pixels, Unpadded(*image));
    ++readable;
    // Every shorter cut of an uncompressed file is refused (its pixels are missing); a cut
    // run-length stream reads as far as it goes. None reads past what it was given.
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
      std::vector<std::uint8_t> part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
      const auto partial = zq::bmp::Decode(part.data(), part.size());
      if (c.name.find("rle") == std::string::npos) {
        EXPECT_FALSE(partial) << "cut to " << cut;
      }
    }
  }
  EXPECT_GE(readable, 14);
  EXPECT_GE(refused, 26);
  EXPECT_FALSE(zq::bmp::Decode(nullptr, 100));
}

}  // namespace
