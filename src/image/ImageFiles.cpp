#include "ImageFiles.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <optional>
#include <vector>

#include "BmpCodec.h"
#include "Files.h"
#include "JpegCodec.h"
#include "PngBridge.h"
#include "Scope.h"

namespace zq {

namespace {

void CopyInto(const Bgr24Image& image, fw::Bitmap& bitmap) {
  fw::Bitmap made;
  made.SetSize(image.width(), image.height());
  const Bgr24View v = made.View();
  for (int y = 0; y < image.height(); ++y) std::memcpy(v.Row(y), image.Row(y), std::size_t(image.width()) * 3);
  bitmap.Assign(made);
}

bool Blank(const std::wstring& name) {
  return std::all_of(name.begin(), name.end(), [](wchar_t c) { return c <= L' ' || std::iswspace(c); });
}

// The drawing in a format's bytes; nothing when it cannot be encoded.
std::optional<ByteString> Encoded(HINSTANCE module, fw::Bitmap& bitmap, int format) {
  if (bitmap.Empty()) return std::nullopt;
  if (format == kFormatPng) {
    ByteString png;
    if (!BitmapToPng(module, bitmap, png)) return std::nullopt;
    return png;
  }
  if (format == kFormatBmp) {
    const std::vector<std::uint8_t> bmp = bitmap.ToBmp();
    return ByteString(bmp.begin(), bmp.end());
  }
  const auto jpeg = jpeg::Encode(bitmap.View());
  if (!jpeg) return std::nullopt;
  return ByteString(jpeg->begin(), jpeg->end());
}

}  // namespace

int GetImageFormat(std::wstring_view name) {
  const std::size_t dot = name.find_last_of(L'.');
  const std::size_t sep = name.find_last_of(L"\\:");
  if (dot == std::wstring_view::npos || (sep != std::wstring_view::npos && sep > dot)) return kFormatNone;
  std::wstring ext(name.substr(dot));
  for (wchar_t& c : ext)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  if (ext == L".png") return kFormatPng;
  if (ext == L".bmp") return kFormatBmp;
  if (ext == L".jpg" || ext == L".jpeg") return kFormatJpeg;
  return kFormatNone;
}

int LoadBitmapFile(HINSTANCE module, fw::Bitmap& bitmap, const std::wstring& name) {
  const int format = GetImageFormat(name);
  if (format == kFormatNone) return 1;
  try {
    std::optional<ByteString> bytes = fw::ReadWholeFile(name, kMaxImageFileBytes);
    if (!bytes) return 0;
    if (format == kFormatPng) return PngToBitmap(module, *bytes, bitmap, kMaxLoadedImagePixels) ? -1 : 0;
    // BMP files are read from the bytes already read, never by the platform's loader, which
    // trusts their headers.
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes->data());
    const auto image = format == kFormatBmp ? bmp::Decode(data, bytes->size()) : jpeg::Decode(data, bytes->size());
    bytes.reset();  // the file's bytes go before the bitmap is made: a 32-bit host has little room
    if (!image) return 0;
    CopyInto(*image, bitmap);
    return -1;
  } catch (...) {
    return 0;
  }
}

int SaveImageFile(HINSTANCE module, fw::Bitmap& bitmap, const std::wstring& name) {
  if (Blank(name)) return 1;
  const std::wstring folder = fw::FolderOf(name);
  const DWORD attributes = folder.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
  const int format = GetImageFormat(name);
  if (format == kFormatNone) return 1;
  try {
    const std::optional<ByteString> bytes = Encoded(module, bitmap, format);
    if (!bytes) return 0;  // nothing encoded: no file is written, and an old one stays
    return fw::ReplaceFileContents(name, *bytes) ? -1 : 0;
  } catch (...) {
    return 0;
  }
}

}  // namespace zq
