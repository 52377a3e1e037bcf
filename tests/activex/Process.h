// Running another program of the Wine prefix (regsvr32, cscript) from a test, as a user's
// command line would, and reading what it printed.
#pragma once

#include <windows.h>

#include <string>

namespace zqtest {

struct ProcessResult {
  bool started = false;
  bool finished = false;  // false: it ran past the time allowed and was stopped
  DWORD exitCode = 0;
  std::string output;     // standard output and standard error, as bytes
};

// Runs a command line, waits up to timeoutMs, keeps what it writes. Window messages of
// the calling thread are delivered meanwhile (a child may broadcast to our windows).
ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs = 60000);

// The path of a program in the system folder (C:\windows\system32\<name>).
std::wstring SystemProgram(const wchar_t* name);

// Text printed by a console program of the prefix (its code page) as UTF-16.
std::wstring ConsoleText(const std::string& bytes);

}  // namespace zqtest
