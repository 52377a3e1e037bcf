// Whole files: reading one into memory with a size limit, and replacing one so that it is
// either complete or untouched.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zq::fw {

// The folder part of a name: everything before its last "\" or ":" ("C:" and "\" alone are
// roots and stay whole); empty when the name has none.
std::wstring FolderOf(const std::wstring& name);

// The bytes of the file when it can be read and holds at most `maxBytes`; otherwise nothing,
// with the reason in GetLastError (ERROR_FILE_TOO_LARGE for a file over the limit).
std::optional<std::string> ReadWholeFile(const std::wstring& path, std::uint64_t maxBytes);

// Writes `bytes` into a new file beside `path`, which replaces the old file only once every
// byte is written and flushed; false on any failure, with the old file (if any) as it was,
// no new file left behind and the reason in GetLastError.
bool ReplaceFileContents(const std::wstring& path, std::string_view bytes);

}  // namespace zq::fw
