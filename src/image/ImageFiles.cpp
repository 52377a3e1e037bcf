#include "ImageFiles.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <optional>
#include <vector>

#include "JpegCodec.h"
#include "PngBridge.h"
#include "Scope.h"

namespace zq {

namespace {

using OwnedFile = fw::OwnedHandle<HANDLE, &CloseHandle>;

OwnedFile Open(const std::wstring& path, DWORD access, DWORD creation) {
  HANDLE h = CreateFileW(path.c_str(), access, access == GENERIC_READ ? FILE_SHARE_READ : 0, nullptr, creation,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  return OwnedFile(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

// The whole file, when it can be read and is not larger than the limit.
std::optional<ByteString> ReadWholeFile(const std::wstring& path) {
  OwnedFile f = Open(path, GENERIC_READ, OPEN_EXISTING);
  LARGE_INTEGER size{};
  if (!f || !GetFileSizeEx(f.get(), &size) || size.QuadPart < 0 ||
      static_cast<std::uint64_t>(size.QuadPart) > kMaxImageFileBytes)
    return std::nullopt;
  ByteString bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD got = 0;
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
    if (!ReadFile(f.get(), bytes.data() + done, ask, &got, nullptr) || got == 0) return std::nullopt;
    done += got;
  }
  return bytes;
}

// The size a BMP file's header claims, or nothing for what is no BMP header.
std::optional<std::pair<std::int64_t, std::int64_t>> BmpSize(const ByteString& b) {
  if (b.size() < sizeof(BITMAPFILEHEADER) + sizeof(BITMAPCOREHEADER) || b[0] != 'B' || b[1] != 'M') return std::nullopt;
  DWORD headerSize = 0;
  std::memcpy(&headerSize, b.data() + sizeof(BITMAPFILEHEADER), 4);
  if (headerSize == sizeof(BITMAPCOREHEADER)) {
    BITMAPCOREHEADER h{};
    std::memcpy(&h, b.data() + sizeof(BITMAPFILEHEADER), sizeof h);
    return std::pair<std::int64_t, std::int64_t>{h.bcWidth, h.bcHeight};
  }
  if (headerSize < sizeof(BITMAPINFOHEADER) || b.size() < sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER))
    return std::nullopt;
  BITMAPINFOHEADER h{};
  std::memcpy(&h, b.data() + sizeof(BITMAPFILEHEADER), sizeof h);
  return std::pair<std::int64_t, std::int64_t>{h.biWidth, h.biHeight < 0 ? -std::int64_t{h.biHeight} : h.biHeight};
}

void CopyInto(const Bgr24Image& image, fw::Bitmap& bitmap) {
  fw::Bitmap made;
  made.SetSize(image.width(), image.height());
  const Bgr24View v = made.View();
  for (int y = 0; y < image.height(); ++y) std::memcpy(v.Row(y), image.Row(y), std::size_t(image.width()) * 3);
  bitmap.Assign(made);
}

// The folder part of a name: everything before its last "\" or ":" ("C:" and "\" alone are
// roots and stay whole).
std::wstring FolderOf(const std::wstring& name) {
  const std::size_t cut = name.find_last_of(L"\\/:");
  if (cut == std::wstring::npos) return {};
  if (name[cut] == L':') return name.substr(0, cut + 1) + L"\\";
  if (cut == 0 || name[cut - 1] == L':') return name.substr(0, cut + 1);
  return name.substr(0, cut);
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
    const std::optional<ByteString> bytes = ReadWholeFile(name);
    if (!bytes) return 0;
    switch (format) {
      case kFormatPng:
        return PngToBitmap(module, *bytes, bitmap, kMaxLoadedImagePixels) ? -1 : 0;
      case kFormatBmp: {
        const auto size = BmpSize(*bytes);
        if (!size || !LoadedImageSizeAllowed(size->first, size->second)) return 0;
        fw::Bitmap loaded;
        loaded.LoadFromFile(name);
        bitmap.Assign(loaded);
        return -1;
      }
      default: {
        const auto image = jpeg::Decode(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size());
        if (!image) return 0;
        CopyInto(*image, bitmap);
        return -1;
      }
    }
  } catch (...) {
    return 0;
  }
}

bool ReplaceFileContents(const std::wstring& path, std::string_view bytes) {
  // A new file beside the old one, in the same folder (so that it can take the old one's
  // place), whose name no other save uses at the same time.
  const std::wstring folder = FolderOf(path).empty() ? L"." : FolderOf(path);
  wchar_t temp[MAX_PATH + 16];
  if (folder.size() >= MAX_PATH - 14 || !GetTempFileNameW(folder.c_str(), L"zqs", 0, temp)) return false;
  bool kept = false;
  const auto cleanUp = fw::Finally([&] {
    if (!kept) DeleteFileW(temp);
  });
  {
    OwnedFile f = Open(temp, GENERIC_WRITE, CREATE_ALWAYS);
    if (!f) return false;
    for (std::size_t done = 0; done < bytes.size();) {
      DWORD wrote = 0;
      const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
      // A write that stops short (a full disk, a file-size limit) counts as failed.
      if (!WriteFile(f.get(), bytes.data() + done, ask, &wrote, nullptr) || wrote != ask) return false;
      done += wrote;
    }
    if (!FlushFileBuffers(f.get())) return false;
  }
  if (!MoveFileExW(temp, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return false;
  kept = true;
  return true;
}

int SaveImageFile(HINSTANCE module, fw::Bitmap& bitmap, const std::wstring& name) {
  if (Blank(name)) return 1;
  const std::wstring folder = FolderOf(name);
  const DWORD attributes = folder.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
  const int format = GetImageFormat(name);
  if (format == kFormatNone) return 1;
  try {
    const std::optional<ByteString> bytes = Encoded(module, bitmap, format);
    if (!bytes) return 0;  // nothing encoded: no file is written, and an old one stays
    return ReplaceFileContents(name, *bytes) ? -1 : 0;
  } catch (...) {
    return 0;
  }
}

}  // namespace zq
