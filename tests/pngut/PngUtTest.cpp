// ZANPngUt.dll through its exports, loaded as the control loads it: PngSuite against the
// independent reference decoder (tests/pngut/pngref.py), corrupt and truncated data, the
// buffer record, bitmaps of every kind, the size limits and GDI handle hygiene.
#include <gtest/gtest.h>

#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "PngSuite.h"
#include "TestSupport.h"
#include "ZANPngUt.h"

namespace {

using namespace pngsuite;

struct Library {
  HMODULE module = nullptr;
  ZanPng_Bitmap2Png_t Bitmap2Png = nullptr;
  ZanPng_FreePng_t FreePng = nullptr;
  ZanPng_Png2Bitmap_t Png2Bitmap = nullptr;
};

const Library& Lib() {
  static Library lib = [] {
    Library l;
    l.module = LoadLibraryW(zqtest::EnvDir("ZQ_PNGUT_DLL").c_str());
    if (l.module) {
      l.Bitmap2Png = reinterpret_cast<ZanPng_Bitmap2Png_t>(
          reinterpret_cast<void*>(GetProcAddress(l.module, "ZanPng_Bitmap2Png")));
      l.FreePng = reinterpret_cast<ZanPng_FreePng_t>(
          reinterpret_cast<void*>(GetProcAddress(l.module, "ZanPng_FreePng")));
      l.Png2Bitmap = reinterpret_cast<ZanPng_Png2Bitmap_t>(
          reinterpret_cast<void*>(GetProcAddress(l.module, "ZanPng_Png2Bitmap")));
    }
    return l;
  }();
  return lib;
}

// An owned bitmap handle.
struct Bitmap {
  HBITMAP h = nullptr;
  Bitmap() = default;
  explicit Bitmap(HBITMAP b) : h(b) {}
  ~Bitmap() {
    if (h) DeleteObject(h);
  }
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;
};

// Reads a decoded bitmap, checking that it is what the library promises: a bottom-up
// 24-bit DIB section.
Pixels ReadDib(HBITMAP bitmap) {
  Pixels p;
  DIBSECTION ds{};
  if (GetObjectW(bitmap, sizeof ds, &ds) != sizeof ds) {
    ADD_FAILURE() << "not a DIB section";
    return p;
  }
  EXPECT_EQ(ds.dsBmih.biBitCount, 24);
  EXPECT_GT(ds.dsBmih.biHeight, 0) << "bottom-up";
  p.width = ds.dsBm.bmWidth;
  p.height = ds.dsBm.bmHeight;
  const std::size_t stride = ((std::size_t(p.width) * 3 + 3) / 4) * 4;
  const auto* bits = static_cast<const std::uint8_t*>(ds.dsBm.bmBits);
  for (int y = 0; y < p.height; ++y) {
    const std::uint8_t* row = bits + stride * std::size_t(p.height - 1 - y);
    p.bgr.insert(p.bgr.end(), row, row + std::size_t(p.width) * 3);
  }
  return p;
}

// Decodes through the DLL; on success returns the pixels, on failure checks that the handle
// came back NULL.
bool Decode(const Bytes& png, Pixels* out = nullptr) {
  HBITMAP h = reinterpret_cast<HBITMAP>(1);
  const int r = Lib().Png2Bitmap(png.data(), static_cast<uint32_t>(png.size()), &h);
  if (!r) {
    EXPECT_EQ(h, nullptr);
    return false;
  }
  Bitmap owned(h);
  if (out) *out = ReadDib(h);
  return true;
}

Bytes Encode(HBITMAP bitmap) {
  ZANPNG_BUFFER rec;
  std::memset(&rec, 0xCD, sizeof rec);
  Bytes out;
  if (Lib().Bitmap2Png(bitmap, &rec) > 0) {
    EXPECT_NE(rec.Data, nullptr);
    out.assign(static_cast<const std::uint8_t*>(rec.Data),
               static_cast<const std::uint8_t*>(rec.Data) + rec.Size);
  } else {
    EXPECT_EQ(rec.Data, nullptr);
    EXPECT_EQ(rec.Size, 0u);
  }
  Lib().FreePng(&rec);
  return out;
}

BITMAPINFO Info(int w, int h, int bits) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = static_cast<WORD>(bits);
  bi.bmiHeader.biCompression = BI_RGB;
  return bi;
}

// A 24-bit DIB section (bottom-up for positive height) filled with a pattern whose every
// pixel differs from its neighbours.
HBITMAP PatternDib(int w, int h, Pixels* expected) {
  BITMAPINFO bi = Info(w, h, 24);
  void* bits = nullptr;
  HBITMAP b = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  const int rows = h < 0 ? -h : h;
  const std::size_t stride = ((std::size_t(w) * 3 + 3) / 4) * 4;
  expected->width = w;
  expected->height = rows;
  expected->bgr.clear();
  for (int y = 0; y < rows; ++y) {
    std::uint8_t* row = static_cast<std::uint8_t*>(bits) + stride * std::size_t(h < 0 ? y : rows - 1 - y);
    for (int x = 0; x < w; ++x) {
      const std::uint8_t px[3] = {std::uint8_t(x * 7 + y), std::uint8_t(y * 5), std::uint8_t(x ^ y)};
      std::memcpy(row + 3 * x, px, 3);
      expected->bgr.insert(expected->bgr.end(), px, px + 3);
    }
  }
  return b;
}

class PngUt : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Lib().module, nullptr) << "ZQ_PNGUT_DLL does not name a loadable ZANPngUt.dll";
    ASSERT_TRUE(Lib().Bitmap2Png && Lib().FreePng && Lib().Png2Bitmap) << "missing exports";
  }
};

}  // namespace

TEST_F(PngUt, DecodesPngSuiteAsTheReferenceDoes) {
  const auto entries = Manifest();
  ASSERT_GT(entries.size(), 150u);
  int decoded = 0, refused = 0;
  for (const auto& e : entries) {
    SCOPED_TRACE(e.path);
    const Bytes png = zqtest::ReadBytes(SuiteFile(e.path));
    Pixels got;
    const bool ok = Decode(png, &got);
    if (e.ok) {
      ASSERT_TRUE(ok) << "the reference decodes it";
      EXPECT_TRUE(got == ReadReference(ReferenceFile(e.path))) << "pixels differ";
      ++decoded;
    } else {
      EXPECT_FALSE(ok) << "the reference refuses it";
      ++refused;
    }
  }
  std::cout << "PngSuite: " << decoded << " decoded as the reference, " << refused << " refused\n";
  RecordProperty("decoded", decoded);
  RecordProperty("refused", refused);
}

TEST_F(PngUt, RefusesEveryTruncationAndSurvivesDamage) {
  int truncations = 0, damaged = 0, damagedDecoded = 0;
  for (const auto& e : Manifest()) {
    if (!e.ok) continue;
    SCOPED_TRACE(e.path);
    const Bytes png = zqtest::ReadBytes(SuiteFile(e.path));
    const Pixels reference = ReadReference(ReferenceFile(e.path));
    for (std::size_t cut : {std::size_t(1), std::size_t(8), std::size_t(33), png.size() / 2,
                            png.size() - 13, png.size() - 1}) {
      if (cut >= png.size()) continue;
      EXPECT_FALSE(Decode(Bytes(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(cut)))) << cut;
      ++truncations;
    }
    // Damage to a critical chunk (caught by its CRC) makes the file fail. A damaged
    // ancillary chunk is dropped: the picture stays the same, except that without its tRNS
    // chunk an image loses its transparency.
    for (std::size_t at = 8; at < png.size(); at += 37) {
      Bytes bad = png;
      bad[at] ^= 0x5A;
      const std::string chunk = ChunkAt(png, at);
      const bool critical = chunk.empty() || !(chunk[0] & 0x20);
      Pixels got;
      const bool ok = Decode(bad, &got);
      if (critical) {
        EXPECT_FALSE(ok) << "damage in " << chunk << " at " << at;
      } else if (ok) {
        if (chunk != "tRNS") {
          EXPECT_TRUE(got == reference) << "damage in " << chunk << " at " << at;
        }
        EXPECT_EQ(got.width, reference.width);
        EXPECT_EQ(got.height, reference.height);
        ++damagedDecoded;
      }
      ++damaged;
    }
  }
  std::cout << "truncated " << truncations << " times, all refused; damaged " << damaged
            << " times, " << damagedDecoded << " of them in dropped ancillary chunks\n";
}

TEST_F(PngUt, RefusesImagesBeyondTheLimits) {
  EXPECT_TRUE(Decode(BlackPng(1, 1)));
  EXPECT_FALSE(Decode(BlackPng(ZANPNG_MAX_SIDE + 1, 1)));
  EXPECT_FALSE(Decode(BlackPng(1, ZANPNG_MAX_SIDE + 1)));
  EXPECT_FALSE(Decode(BlackPng(5000, 5000)));  // 25 million pixels
  EXPECT_FALSE(Decode(BlackPng(0x7FFFFFFF, 0x7FFFFFFF)));
  EXPECT_FALSE(Decode(BlackPng(0, 10)));
}

TEST_F(PngUt, Png2BitmapRejectsBadArguments) {
  const Bytes png = BlackPng(1, 1);
  EXPECT_EQ(Lib().Png2Bitmap(png.data(), static_cast<uint32_t>(png.size()), nullptr), 0);
  HBITMAP h = reinterpret_cast<HBITMAP>(1);
  EXPECT_EQ(Lib().Png2Bitmap(nullptr, 100, &h), 0);
  EXPECT_EQ(h, nullptr);
  h = reinterpret_cast<HBITMAP>(1);
  EXPECT_EQ(Lib().Png2Bitmap(png.data(), 0, &h), 0);
  EXPECT_EQ(h, nullptr);
  const Bytes notPng(300, 'x');
  EXPECT_FALSE(Decode(notPng));
}

TEST_F(PngUt, EncodesDibSectionsBothWaysUp) {
  for (int h : {37, -37}) {
    Pixels expected;
    Bitmap dib(PatternDib(53, h, &expected));
    const Bytes png = Encode(dib.h);
    ASSERT_GT(png.size(), 33u);
    // IHDR: 53 x 37, 8-bit RGB, not interlaced.
    EXPECT_EQ(BigEndian(&png[16]), 53u);
    EXPECT_EQ(BigEndian(&png[20]), 37u);
    EXPECT_EQ(png[24], 8);
    EXPECT_EQ(png[25], 2);
    EXPECT_EQ(png[28], 0);
    Pixels back;
    ASSERT_TRUE(Decode(png, &back));
    EXPECT_TRUE(back == expected) << "height " << h;
  }
}

TEST_F(PngUt, EncodesOtherBitmapsThroughGetDIBits) {
  // A 32-bit DIB section and a device-dependent bitmap, both drawn with GDI.
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  BITMAPINFO bi = Info(40, 30, 32);
  void* bits = nullptr;
  Bitmap dib32(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  Bitmap ddb(CreateCompatibleBitmap(screen, 40, 30));
  ReleaseDC(nullptr, screen);
  for (HBITMAP b : {dib32.h, ddb.h}) {
    ASSERT_NE(b, nullptr);
    HGDIOBJ old = SelectObject(dc, b);
    RECT all{0, 0, 40, 30}, red{10, 5, 20, 15};
    HBRUSH white = CreateSolidBrush(RGB(255, 255, 255)), r = CreateSolidBrush(RGB(255, 0, 0));
    FillRect(dc, &all, white);
    FillRect(dc, &red, r);
    DeleteObject(white);
    DeleteObject(r);
    GdiFlush();
    SelectObject(dc, old);
    Pixels back;
    ASSERT_TRUE(Decode(Encode(b), &back));
    ASSERT_EQ(back.width, 40);
    ASSERT_EQ(back.height, 30);
    auto at = [&](int x, int y) { return &back.bgr[(std::size_t(y) * 40 + x) * 3]; };
    EXPECT_EQ(at(0, 0)[0], 255);
    EXPECT_EQ(at(0, 0)[2], 255);
    EXPECT_EQ(at(12, 7)[0], 0);
    EXPECT_EQ(at(12, 7)[1], 0);
    EXPECT_EQ(at(12, 7)[2], 255);
    EXPECT_EQ(at(20, 15)[1], 255) << "the fill stops at the rectangle's edge";
  }
  DeleteDC(dc);
}

TEST_F(PngUt, RecordContract) {
  ZANPNG_BUFFER rec;
  std::memset(&rec, 0xCD, sizeof rec);
  EXPECT_EQ(Lib().Bitmap2Png(nullptr, &rec), 0);
  EXPECT_EQ(rec.Data, nullptr);
  EXPECT_EQ(rec.Size, 0u);
  EXPECT_EQ(rec.Reserved[0], ZANPNG_RECORD_TAG);
  EXPECT_EQ(Lib().FreePng(&rec), 0);  // nothing to release
  EXPECT_EQ(Lib().Bitmap2Png(reinterpret_cast<HBITMAP>(GetStockObject(WHITE_BRUSH)), &rec), 0);
  EXPECT_EQ(Lib().Bitmap2Png(nullptr, nullptr), 0);
  EXPECT_EQ(Lib().FreePng(nullptr), 0);

  Pixels expected;
  Bitmap dib(PatternDib(8, 8, &expected));
  ASSERT_GT(Lib().Bitmap2Png(dib.h, &rec), 0);
  // The first two pointer-sized and 32-bit fields are what the control reads.
  EXPECT_EQ(std::memcmp(rec.Data, "\x89PNG", 4), 0);
  EXPECT_GT(rec.Size, 40u);
  EXPECT_EQ(Lib().FreePng(&rec), 1);
  EXPECT_EQ(rec.Data, nullptr);
  EXPECT_EQ(Lib().FreePng(&rec), 0) << "a second call does nothing";

  // A record the library never filled is left alone.
  ZANPNG_BUFFER foreign{};
  foreign.Data = &foreign;
  foreign.Size = 5;
  EXPECT_EQ(Lib().FreePng(&foreign), 0);
  EXPECT_EQ(foreign.Data, &foreign);
}

TEST_F(PngUt, GdiHandlesDoNotLeak) {
  // More calls than a process may hold GDI handles (10,000 on Windows, about 65,000 under
  // Wine): a handle lost on any of these paths would make the last calls fail.
  Pixels expected;
  Bitmap dib(PatternDib(16, 16, &expected));
  const Bytes good = Encode(dib.h);
  ASSERT_FALSE(good.empty());
  // Cut inside the image data: the bitmap has been created when the decoder fails.
  Bytes cut = good;
  cut.resize(good.size() - 20);
  HDC screen = GetDC(nullptr);
  Bitmap ddb(CreateCompatibleBitmap(screen, 4, 4));
  ReleaseDC(nullptr, screen);
  for (int i = 0; i < 70000; ++i) {
    HBITMAP h = nullptr;
    if (Lib().Png2Bitmap(cut.data(), static_cast<uint32_t>(cut.size()), &h)) {
      ADD_FAILURE() << "decoded a cut file";
      DeleteObject(h);
      break;
    }
  }
  for (int i = 0; i < 70000; ++i) {
    ZANPNG_BUFFER rec;
    const int r = Lib().Bitmap2Png(ddb.h, &rec);  // through GetDIBits and a memory DC
    Lib().FreePng(&rec);
    if (!r) {
      ADD_FAILURE() << "encoding failed after " << i << " calls";
      break;
    }
  }
  Pixels back;
  EXPECT_TRUE(Decode(good, &back));
  EXPECT_TRUE(back == expected);
}
