// Helpers shared by the tests: where the test data is, reading files, and the folder that
// tests write their screenshots and reports into. TestSupport.cpp serves the Windows tests
// under Wine; NativeSupport.cpp the same functions for the native build of the pure cores.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zqtest {

// A Unix path as the program sees it (under Wine, / is drive Z:).
std::wstring WinPath(const std::string& unixPath);

// The Windows path of the folder an environment variable names (set by CTest); empty when
// the variable is not set.
std::wstring EnvDir(const char* variable);

// The build's test-output folder (screenshots, reports).
std::wstring OutputDir();

std::wstring Join(const std::wstring& dir, const std::wstring& name);

// The bytes of a file; fails the current test (and returns empty) when it cannot be read.
std::vector<std::uint8_t> ReadBytes(const std::wstring& path);

// The names of the files in a folder that match a pattern such as L"*.png", sorted.
std::vector<std::wstring> ListFiles(const std::wstring& dir, const std::wstring& pattern);

std::string Narrow(const std::wstring& text);

}  // namespace zqtest
