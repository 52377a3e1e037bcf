#include "TestSupport.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "Gdi.h"

#include <algorithm>
#include <cstdlib>

namespace zqtest {

std::wstring WinPath(const std::string& unixPath) {
  std::wstring out = L"Z:";
  for (char c : unixPath) out += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
  return out;
}

std::wstring EnvDir(const char* variable) {
  const char* value = std::getenv(variable);
  if (!value || !*value) return {};
  return WinPath(value);
}

std::wstring OutputDir() {
  std::wstring dir = EnvDir("ZQ_TEST_OUTPUT_DIR");
  if (dir.empty()) dir = L".";
  CreateDirectoryW(dir.c_str(), nullptr);
  return dir;
}

std::wstring Join(const std::wstring& dir, const std::wstring& name) {
  if (dir.empty()) return name;
  const wchar_t last = dir.back();
  return last == L'\\' || last == L'/' ? dir + name : dir + L"\\" + name;
}

std::vector<std::uint8_t> ReadBytes(const std::wstring& path) {
  std::vector<std::uint8_t> bytes;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << "cannot open " << Narrow(path);
    return bytes;
  }
  LARGE_INTEGER size{};
  GetFileSizeEx(f, &size);
  bytes.resize(static_cast<std::size_t>(size.QuadPart));
  DWORD got = 0;
  if (!bytes.empty() && (!ReadFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
                         got != bytes.size())) {
    ADD_FAILURE() << "cannot read " << Narrow(path);
    bytes.clear();
  }
  CloseHandle(f);
  return bytes;
}

std::vector<std::wstring> ListFiles(const std::wstring& dir, const std::wstring& pattern) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(Join(dir, pattern).c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(fd.cFileName);
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  std::sort(names.begin(), names.end());
  return names;
}

std::string Narrow(const std::wstring& text) { return zq::fw::Narrow(text); }

}  // namespace zqtest
