// PNG encoder settings measured on memo drawings and on photographs: size and time of each
// filter / zlib level / strategy, as ratios to libpng's defaults in the same run. Then the
// whole PngImageBase64 path through ZANPngUt.dll (bitmap to PNG to Base64, and back) on a
// 1920 x 1080 and a 3000 x 2000 memo, as ratios to libpng's defaults writing the same pixels,
// with Base64's share of it.
//
//   png_bench.exe <ZANPngUt.dll> <libjpeg-turbo testimages folder>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "ConvCode.h"
#include "JpegCodec.h"
#include <png.h>

#include "PngCodec.h"
#include "ZANPngUt.h"

namespace {

struct CountingSink final : zanpng::Sink {
  std::size_t bytes = 0;
  void Write(const std::uint8_t*, std::size_t size) override { bytes += size; }
};

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  std::vector<std::uint8_t> data;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    std::uint8_t buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) data.insert(data.end(), buf, buf + n);
    std::fclose(f);
  }
  return data;
}

// An uncompressed 24-bit bottom-up BMP, as libjpeg-turbo's test photos are stored.
bool ReadBmp(const std::string& path, bench::Picture& out) {
  const auto d = ReadFileBytes(path);
  if (d.size() < 54 || d[0] != 'B' || d[1] != 'M') return false;
  int w, h, off;
  std::memcpy(&off, &d[10], 4);
  std::memcpy(&w, &d[18], 4);
  std::memcpy(&h, &d[22], 4);
  if (d[28] != 24 || w <= 0 || h <= 0) return false;
  out = bench::Picture(w, h);
  for (int y = 0; y < h; ++y)
    std::memcpy(out.At(0, y), &d[std::size_t(off) + out.stride * std::size_t(h - 1 - y)], std::size_t(w) * 3);
  return true;
}

struct Case {
  const char* name;
  zanpng::EncodeOptions options;
};

struct Result {
  std::size_t bytes = 0;
  double seconds = 0;
};

Result Measure(std::vector<bench::Picture>& pictures, const zanpng::EncodeOptions& o) {
  Result r;
  for (auto& p : pictures) {
    CountingSink sink;
    zanpng::MemoryRows rows(p.bgr.data(), static_cast<std::ptrdiff_t>(p.stride), p.width, p.height);
    zanpng::Encode(rows, o, sink);
    r.bytes += sink.bytes;
    r.seconds += bench::Best([&] {
      CountingSink s;
      zanpng::MemoryRows again(p.bgr.data(), static_cast<std::ptrdiff_t>(p.stride), p.width, p.height);
      zanpng::Encode(again, o, s);
    }, 3);
  }
  return r;
}

std::size_t RawBytes(const std::vector<bench::Picture>& pictures) {
  std::size_t n = 0;
  for (const auto& p : pictures) n += std::size_t(p.width) * p.height * 3;
  return n;
}

using Set = std::vector<bench::Picture>;

void Row(const char* name, const zanpng::EncodeOptions& o, Set* sets[3], const Result base[3]) {
  std::printf("  %-30s", name);
  for (int i = 0; i < 3; ++i) {
    const Result r = Measure(*sets[i], o);
    std::printf(" %7.3f %6.2f", double(r.bytes) / base[i].bytes, r.seconds / base[i].seconds);
  }
  std::printf("\n");
}

// libpng's default read of a PNG into 24-bit rows (BGR, as the DLL gives them).
void LibpngRead(const std::vector<std::uint8_t>& png, std::vector<std::uint8_t>& pixels) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return;
  image.format = PNG_FORMAT_BGR;
  pixels.resize(PNG_IMAGE_SIZE(image));
  png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr);
}

// ZanPng_Png2Bitmap's decoder (without the section it puts the rows in) against libpng.
void DecodeTargets(Set& memos, Set& photos) {
  std::printf("\nPNG decoding against its target (time as a ratio to libpng's default read):\n");
  const char* names[2] = {"memos", "photos"};
  Set* sets[2] = {&memos, &photos};
  for (int i = 0; i < 2; ++i) {
    double ours = 0, theirs = 0;
    for (auto& p : *sets[i]) {
      std::vector<std::uint8_t> png;
      {
        struct Into final : zanpng::Sink {
          std::vector<std::uint8_t>& v;
          explicit Into(std::vector<std::uint8_t>& o) : v(o) {}
          void Write(const std::uint8_t* d, std::size_t n) override { v.insert(v.end(), d, d + n); }
        } sink(png);
        zanpng::MemoryRows rows(p.bgr.data(), static_cast<std::ptrdiff_t>(p.stride), p.width, p.height);
        zanpng::Encode(rows, zanpng::DefaultOptions(), sink);
      }
      std::vector<std::uint8_t> pixels;
      struct Target final : zanpng::Target {
        std::vector<std::uint8_t> buffer;
        zanpng::Rows Allocate(int w, int h) override {
          buffer.resize(std::size_t(w) * 3 * h);
          return {buffer.data(), static_cast<std::ptrdiff_t>(w) * 3, w, h};
        }
      } target;
      ours += bench::Best([&] { zanpng::Decode(png.data(), png.size(), target); }, 5);
      theirs += bench::Best([&] { LibpngRead(png, pixels); }, 5);
    }
    std::printf("  %-44s %7.3f   target <= 0.7   %s\n", names[i], ours / theirs, ours / theirs <= 0.7 ? "met" : "NOT MET");
  }
}

void OptionsTable(Set& memos, Set& photos, Set& mixed) {
  Set* sets[3] = {&memos, &photos, &mixed};
  Result base[3];
  for (int i = 0; i < 3; ++i) base[i] = Measure(*sets[i], zanpng::LibpngDefaults());
  std::printf("PNG encoder settings, size and time as ratios to libpng's defaults (all filters,\n"
              "adaptive; zlib level 6; filtered strategy), measured in this run:\n");
  const char* setNames[3] = {"memos", "photos", "memo+photos"};
  for (int i = 0; i < 3; ++i)
    std::printf("  %-12s %6zu KiB raw -> %6zu KiB in %6.1f ms with libpng's defaults\n", setNames[i],
                RawBytes(*sets[i]) / 1024, base[i].bytes / 1024, base[i].seconds * 1e3);
  std::printf("  %-30s %14s %14s %14s\n", "", "memos", "photos", "memo+photos");
  std::printf("  %-30s %7s %6s %7s %6s %7s %6s\n", "filters, zlib level", "size", "time", "size",
              "time", "size", "time");
  Row("libpng defaults", zanpng::LibpngDefaults(), sets, base);
  const std::pair<const char*, int> filters[] = {{"none", 0x08}, {"sub", 0x10}, {"up", 0x20},
                                                 {"paeth", 0x80}, {"all", 0xF8},
                                                 {"by row", zanpng::kFiltersByRow}};
  for (const auto& [fname, fmask] : filters)
    for (int level : {1, 3, 6, 9}) {
      const std::string name = std::string(fname) + ", level " + std::to_string(level);
      Row(name.c_str(), {fmask, level, 0}, sets, base);
    }
  Row("by row, level 1, RLE strategy", {zanpng::kFiltersByRow, 1, 3}, sets, base);
  for (int level : {1, 2, 3, 4, 6}) {
    const std::string name = "by row, libdeflate level " + std::to_string(level);
    Row(name.c_str(), {zanpng::kFiltersByRow, level, 0, zanpng::Deflater::kLibdeflate}, sets, base);
  }
  Row("all, libdeflate level 1", {0xF8, 1, 0, zanpng::Deflater::kLibdeflate}, sets, base);
  Row("by row, run-aware deflater", {zanpng::kFiltersByRow, 1, 0, zanpng::Deflater::kRows}, sets, base);
  Row("all, run-aware deflater", {0xF8, 1, 0, zanpng::Deflater::kRows}, sets, base);
  Row("ZANPngUt.dll's choice", zanpng::DefaultOptions(), sets, base);

  // The encoder's targets, as ratios to libpng's defaults.
  const Result memo = Measure(memos, zanpng::DefaultOptions()), photo = Measure(photos, zanpng::DefaultOptions());
  auto target = [](const char* what, double measured, double limit) {
    std::printf("  %-44s %7.3f   target <= %-5.2f %s\n", what, measured, limit, measured <= limit ? "met" : "NOT MET");
  };
  std::printf("\nPNG encoding against its targets (ratios to libpng's defaults, this run):\n");
  target("memos: time", memo.seconds / base[0].seconds, 0.25);
  target("memos: size", double(memo.bytes) / base[0].bytes, 1.10);
  target("photos: time", photo.seconds / base[1].seconds, 0.5);
  target("photos: size", double(photo.bytes) / base[1].bytes, 1.10);
  DecodeTargets(memos, photos);
}

// The PngImageBase64 get path on a large memo, through the DLL.
void DllPath(const wchar_t* dllPath) {
  HMODULE dll = LoadLibraryW(dllPath);
  if (!dll) {
    std::printf("cannot load ZANPngUt.dll\n");
    return;
  }
  auto toPng = reinterpret_cast<ZanPng_Bitmap2Png_t>(reinterpret_cast<void*>(GetProcAddress(dll, "ZanPng_Bitmap2Png")));
  auto freePng = reinterpret_cast<ZanPng_FreePng_t>(reinterpret_cast<void*>(GetProcAddress(dll, "ZanPng_FreePng")));
  auto toBitmap = reinterpret_cast<ZanPng_Png2Bitmap_t>(reinterpret_cast<void*>(GetProcAddress(dll, "ZanPng_Png2Bitmap")));
  for (const auto& [w, h] : {std::pair{1920, 1080}, std::pair{3000, 2000}}) {
    bench::Picture memo = bench::Memo(w, h, 11);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::memcpy(bits, memo.bgr.data(), memo.bgr.size());
    // Baseline: libpng with its default settings writing the same pixels.
    CountingSink libpngSink;
    const double tLibpng = bench::Best([&] {
      libpngSink.bytes = 0;
      zanpng::MemoryRows rows(memo.bgr.data(), static_cast<std::ptrdiff_t>(memo.stride), w, h);
      zanpng::Encode(rows, zanpng::LibpngDefaults(), libpngSink);
    }, 3);
    std::string text;
    std::string png;
    const double tGet = bench::Best([&] {
      ZANPNG_BUFFER rec;
      if (toPng(dib, &rec) > 0) png.assign(static_cast<const char*>(rec.Data), rec.Size);
      freePng(&rec);
      text = zq::EncodeBase64(png);
    }, 3);
    const double tBase64 = bench::Best([&] { text = zq::EncodeBase64(png); }, 5);
    const double tPut = bench::Best([&] {
      const std::string bytes = zq::DecodeBase64(text);
      HBITMAP out = nullptr;
      if (toBitmap(bytes.data(), static_cast<uint32_t>(bytes.size()), &out)) DeleteObject(out);
    }, 3);
    std::printf("PngImageBase64 path, %dx%d memo (%zu KiB bitmap): PNG %zu KiB, text %zu KiB\n", w, h,
                memo.bgr.size() / 1024, png.size() / 1024, text.size() / 1024);
    std::printf("  libpng defaults (baseline)   %8.2f ms, %zu KiB\n", tLibpng * 1e3, libpngSink.bytes / 1024);
    const double getRatio = tGet / tLibpng, sizeRatio = double(png.size()) / double(libpngSink.bytes);
    std::printf("  get: bitmap -> PNG -> Base64 %8.2f ms  (%.2f x libpng; PNG %.2f x its size)", tGet * 1e3, getRatio,
                sizeRatio);
    if (w == 1920)  // the memo the targets are set for
      std::printf("  targets <= 0.25 %s, size <= 1.10 %s", getRatio <= 0.25 ? "met" : "NOT MET",
                  sizeRatio <= 1.10 ? "met" : "NOT MET");
    std::printf("\n");
    std::printf("    of which Base64            %8.2f ms  (%.0f %% of the get)\n", tBase64 * 1e3, 100 * tBase64 / tGet);
    std::printf("  put: Base64 -> PNG -> bitmap %8.2f ms  (%.2f x libpng's write)\n", tPut * 1e3, tPut / tLibpng);
    DeleteObject(dib);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::printf("usage: png_bench <ZANPngUt.dll> <testimages folder>\n");
    return 2;
  }
  char dir[MAX_PATH];
  WideCharToMultiByte(CP_ACP, 0, argv[2], -1, dir, MAX_PATH, nullptr, nullptr);
  std::vector<bench::Picture> memos = {bench::Memo(1600, 1200, 1), bench::Memo(800, 600, 2)};
  std::vector<bench::Picture> photos;
  for (const char* bmp : {"nightshot_iso_100.bmp", "vgl_5674_0098.bmp", "vgl_6434_0018a.bmp", "vgl_6548_0026a.bmp"}) {
    bench::Picture p(1, 1);
    if (ReadBmp(std::string(dir) + "\\" + bmp, p)) photos.push_back(std::move(p));
  }
  const auto jpeg = ReadFileBytes(std::string(dir) + "\\testorig.jpg");
  if (auto img = zq::jpeg::Decode(jpeg.data(), jpeg.size())) {
    bench::Picture p(img->width(), img->height());
    for (int y = 0; y < p.height; ++y) std::memcpy(p.At(0, y), img->Row(y), std::size_t(p.width) * 3);
    photos.push_back(std::move(p));
  }
  if (photos.empty()) {
    std::printf("no test photos in %s\n", dir);
    return 1;
  }
  // A memo with the photos pasted into it, as a background image or a placed picture is.
  std::vector<bench::Picture> mixed = {bench::Memo(1200, 900, 3)};
  for (std::size_t i = 0; i < photos.size(); ++i) {
    const bench::Picture& p = photos[i];
    const int x0 = 40 + int(i % 3) * 380, y0 = 60 + int(i / 3) * 420;
    for (int y = 0; y < p.height && y0 + y < mixed[0].height; ++y)
      std::memcpy(mixed[0].At(x0, y0 + y), p.bgr.data() + p.stride * y,
                  std::size_t(std::min(p.width, mixed[0].width - x0)) * 3);
  }
  OptionsTable(memos, photos, mixed);
  DllPath(argv[1]);
  return 0;
}
