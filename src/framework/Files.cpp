#include "Files.h"

#include <windows.h>

#include <algorithm>

#include "Gdi.h"
#include "Scope.h"

namespace zq::fw {

namespace {

using OwnedFile = OwnedHandle<HANDLE, &CloseHandle>;

OwnedFile Open(const std::wstring& path, DWORD access, DWORD creation) {
  HANDLE h = CreateFileW(path.c_str(), access, access == GENERIC_READ ? FILE_SHARE_READ : 0, nullptr, creation,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  return OwnedFile(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

// Large files go in pieces: one ReadFile or WriteFile takes a DWORD count.
constexpr std::size_t kPiece = 1u << 24;

}  // namespace

std::wstring FolderOf(const std::wstring& name) {
  const std::size_t cut = name.find_last_of(L"\\/:");
  if (cut == std::wstring::npos) return {};
  if (name[cut] == L':') return name.substr(0, cut + 1) + L"\\";
  if (cut == 0 || name[cut - 1] == L':') return name.substr(0, cut + 1);
  return name.substr(0, cut);
}

std::optional<std::string> ReadWholeFile(const std::wstring& path, std::uint64_t maxBytes) {
  OwnedFile f = Open(path, GENERIC_READ, OPEN_EXISTING);
  LARGE_INTEGER size{};
  if (!f || !GetFileSizeEx(f.get(), &size)) return std::nullopt;
  if (size.QuadPart < 0 || static_cast<std::uint64_t>(size.QuadPart) > maxBytes) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return std::nullopt;
  }
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD got = 0;
    const DWORD ask = static_cast<DWORD>(std::min(bytes.size() - done, kPiece));
    if (!ReadFile(f.get(), bytes.data() + done, ask, &got, nullptr)) return std::nullopt;
    if (got == 0) {  // the file became shorter meanwhile
      SetLastError(ERROR_HANDLE_EOF);
      return std::nullopt;
    }
    done += got;
  }
  return bytes;
}

bool ReplaceFileContents(const std::wstring& path, std::string_view bytes) {
  // A new file beside the old one, in the same folder (so that it can take the old one's
  // place), whose name no other save uses at the same time.
  const std::wstring folder = FolderOf(path).empty() ? L"." : FolderOf(path);
  wchar_t temp[MAX_PATH + 16];
  if (folder.size() >= MAX_PATH - 14) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  if (!GetTempFileNameW(folder.c_str(), L"zqs", 0, temp)) return false;
  bool kept = false;
  const auto cleanUp = Finally([&] {
    if (kept) return;
    const DWORD error = GetLastError();
    DeleteFileW(temp);
    SetLastError(error);
  });
  {
    OwnedFile f = Open(temp, GENERIC_WRITE, CREATE_ALWAYS);
    if (!f) return false;
    for (std::size_t done = 0; done < bytes.size();) {
      DWORD wrote = 0;
      const DWORD ask = static_cast<DWORD>(std::min(bytes.size() - done, kPiece));
      // A write that stops short (a full disk, a file-size limit) counts as failed.
      if (!WriteFile(f.get(), bytes.data() + done, ask, &wrote, nullptr)) return false;
      if (wrote != ask) {
        SetLastError(ERROR_DISK_FULL);
        return false;
      }
      done += wrote;
    }
    if (!FlushFileBuffers(f.get())) return false;
  }
  if (!MoveFileExW(temp, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return false;
  kept = true;
  return true;
}

}  // namespace zq::fw
