// The test helpers for the native build: plain paths and std::filesystem.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "TestSupport.h"

namespace zqtest {

namespace fs = std::filesystem;

std::wstring WinPath(const std::string& unixPath) { return fs::path(unixPath).wstring(); }

std::wstring EnvDir(const char* variable) {
  const char* value = std::getenv(variable);
  return value && *value ? WinPath(value) : std::wstring();
}

std::wstring OutputDir() {
  std::wstring dir = EnvDir("ZQ_TEST_OUTPUT_DIR");
  if (dir.empty()) dir = L".";
  fs::create_directories(dir);
  return dir;
}

std::wstring Join(const std::wstring& dir, const std::wstring& name) {
  return dir.empty() ? name : (fs::path(dir) / name).wstring();
}

std::vector<std::uint8_t> ReadBytes(const std::wstring& path) {
  std::ifstream in(fs::path(path), std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot open " << Narrow(path);
    return {};
  }
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::wstring> ListFiles(const std::wstring& dir, const std::wstring& pattern) {
  // Only "*.ext" patterns are needed.
  const std::wstring ext = pattern.substr(pattern.find(L'.'));
  std::vector<std::wstring> names;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.is_regular_file() && e.path().extension().wstring() == ext)
      names.push_back(e.path().filename().wstring());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Narrow(const std::wstring& text) { return fs::path(text).string(); }

}  // namespace zqtest
