#include "PngBridge.h"

#include <cstdint>
#include <limits>
#include <mutex>
#include <string>
#include <utility>

#include "Com.h"
#include "Scope.h"
#include "ZANPngUt.h"

namespace zq {

namespace {

struct PngLibrary {
  ZanPng_Bitmap2Png_t bitmap2png = nullptr;
  ZanPng_FreePng_t freePng = nullptr;
  ZanPng_Png2Bitmap_t png2bitmap = nullptr;
};

// The library stays loaded for the life of the process once it was found.
const PngLibrary& Library(HINSTANCE module) {
  static std::once_flag once;
  static PngLibrary lib;
  static std::string failure;
  std::call_once(once, [&] {
    const std::wstring path = fw::ModulePath(module);
    const std::wstring dll = path.substr(0, path.find_last_of(L"\\/") + 1) + L"ZANPngUt.dll";
    HMODULE m = LoadLibraryExW(dll.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!m) {
      failure = "ZANPngUt.dll が見つかりません (" + fw::Narrow(dll) + ")。";
      return;
    }
    auto entry = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(m, name)); };
    lib.bitmap2png = reinterpret_cast<ZanPng_Bitmap2Png_t>(entry("ZanPng_Bitmap2Png"));
    lib.freePng = reinterpret_cast<ZanPng_FreePng_t>(entry("ZanPng_FreePng"));
    lib.png2bitmap = reinterpret_cast<ZanPng_Png2Bitmap_t>(entry("ZanPng_Png2Bitmap"));
    if (!lib.bitmap2png || !lib.freePng || !lib.png2bitmap) {
      lib = {};
      failure = "ZANPngUt.dll に必要な関数がありません。";
    }
  });
  if (!lib.bitmap2png) throw fw::Error(failure, E_FAIL);
  return lib;
}

// The size in a PNG's header (the IHDR chunk that must come first), or 0 x 0.
std::pair<std::int64_t, std::int64_t> HeaderSize(std::string_view b) {
  if (b.size() < 24 || b.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || b.compare(12, 4, "IHDR") != 0) return {0, 0};
  auto be = [&](std::size_t at) {
    return std::int64_t{static_cast<unsigned char>(b[at])} << 24 | std::int64_t{static_cast<unsigned char>(b[at + 1])} << 16 |
           std::int64_t{static_cast<unsigned char>(b[at + 2])} << 8 | std::int64_t{static_cast<unsigned char>(b[at + 3])};
  };
  return {be(16), be(20)};
}

}  // namespace

bool BitmapToPng(HINSTANCE module, fw::Bitmap& bitmap, ByteString& out) {
  if (bitmap.Empty()) return false;
  const PngLibrary& lib = Library(module);
  bitmap.Dormant();  // the library reads the section, which must not be selected meanwhile
  ZANPNG_BUFFER record{};
  const auto release = fw::Finally([&] { lib.freePng(&record); });
  if (lib.bitmap2png(bitmap.Handle(), &record) <= 0 || !record.Data) return false;
  out.assign(static_cast<const char*>(record.Data), record.Size);
  return true;
}

bool PngToBitmap(HINSTANCE module, std::string_view bytes, fw::Bitmap& target, std::int64_t maxPixels) {
  if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) return false;
  const auto [w, h] = HeaderSize(bytes);
  if (w < 1 || h < 1 || w > kMaxImageSide || h > kMaxImageSide || w * h > maxPixels) return false;
  const PngLibrary& lib = Library(module);
  HBITMAP decoded = nullptr;
  if (lib.png2bitmap(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &decoded) == 0 || !decoded) return false;
  fw::GdiObject<HBITMAP> owned(decoded);
  fw::Bitmap image;
  image.Adopt(owned.get());  // the bitmap owns it once this returns
  owned.release();
  target.Assign(image);
  return true;
}

}  // namespace zq
