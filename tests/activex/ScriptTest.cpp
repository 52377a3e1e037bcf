// The control in the script hosts: cscript runs JScript and VBScript files that create it
// by its ProgID, read and write its properties and catch its errors as script exceptions.
// The scripts print what they saw; the test compares it line by line.
#include <gtest/gtest.h>

#include <windows.h>

#include <sstream>
#include <string>
#include <vector>

#include "ComSupport.h"
#include "Process.h"
#include "TestSupport.h"

namespace {

// Writes a script (ASCII: a script file is read in the system's code page) and runs it;
// returns the lines it printed.
std::vector<std::string> RunScript(const wchar_t* fileName, const std::wstring& source) {
  wchar_t temp[MAX_PATH] = L"";
  GetTempPathW(MAX_PATH, temp);
  const std::wstring path = std::wstring(temp) + fileName;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, f);
  std::string bytes;
  for (wchar_t ch : source) {
    EXPECT_LT(ch, 128) << "scripts are written in ASCII";
    bytes += static_cast<char>(ch);
  }
  DWORD written = 0;
  WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(f);
  const zqtest::ProcessResult r =
      zqtest::RunProcess(L"\"" + zqtest::SystemProgram(L"cscript.exe") + L"\" //NoLogo \"" + path + L"\"");
  EXPECT_TRUE(r.started && r.finished);
  EXPECT_EQ(0u, r.exitCode) << r.output;
  std::vector<std::string> lines;
  std::istringstream in(r.output);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Wine's own diagnostics may share the stream.
    if (line.rfind("fixme:", 0) == 0 || line.rfind("err:", 0) == 0 || line.rfind("warn:", 0) == 0) continue;
    lines.push_back(line);
  }
  return lines;
}

class Scripts : public ::testing::Test {
 protected:
  void SetUp() override {
    // The script host finds the control through the registry, and its companions beside it.
    static HMODULE m = zqtest::RegisterModule("ZQ_OCX");
    ASSERT_NE(nullptr, m);
  }
};

// Texts printed by the scripts are ASCII: the error descriptions are printed as their
// character codes, so that the console's code page cannot change them.
TEST_F(Scripts, JScriptReadsWritesAndCatchesErrors) {
  const std::vector<std::string> out = RunScript(L"zq-test.js", LR"(
function codes(s) { var r = []; for (var i = 0; i < s.length; i++) r.push(s.charCodeAt(i).toString(16)); return r.join(" "); }
function hex(n) { return (n < 0 ? n + 0x100000000 : n).toString(16).toUpperCase(); }
var c = new ActiveXObject("ZanQuilmo4.ZanQuilmoAx4");
WScript.Echo("DrawEnabled " + c.DrawEnabled);
c.DrawEnabled = 5;
WScript.Echo("DrawEnabled " + c.DrawEnabled);
c.DrawEnabled = 0;
WScript.Echo("DrawEnabled " + c.DrawEnabled);
var w = c.DrawAreaWidth, h = c.DrawAreaHeight;
WScript.Echo("Align " + c.DrawAreaAlign);
c.DrawAreaWidth = 400; c.DrawAreaHeight = 300;
WScript.Echo("automatic keeps " + (c.DrawAreaWidth == w && c.DrawAreaHeight == h));
c.DrawAreaAlign = 1;
c.DrawAreaWidth = 400; c.DrawAreaHeight = 300;
WScript.Echo("Align " + c.DrawAreaAlign + " size " + c.DrawAreaWidth + "x" + c.DrawAreaHeight);
c.DrawAreaWidth = -3;
WScript.Echo("negative ignored " + c.DrawAreaWidth);
WScript.Echo("AxBorderStyle " + c.AxBorderStyle);
c.AxBorderStyle = 2;
WScript.Echo("AxBorderStyle " + c.AxBorderStyle);
try { c.AxBorderStyle = 9; WScript.Echo("no error"); }
catch (e) { WScript.Echo("error " + hex(e.number) + " " + (e.description.length > 10)); }
WScript.Echo("AxBorderStyle " + c.AxBorderStyle);
try { c.DrawAreaWidth = 100000; WScript.Echo("no error"); }
catch (e) { WScript.Echo("error " + hex(e.number) + " " + codes(e.description).substr(0, 14)); }
var png = c.PngImageBase64;
c.PngImageBase64 = png;
WScript.Echo("PngImageBase64 " + (png.length > 100) + " " + (c.PngImageBase64 == png) + " align " + c.DrawAreaAlign);
var pic = c.Picture;
c.Picture = pic;
WScript.Echo("Picture " + (pic.Width > 0) + " " + (c.PngImageBase64 == png) + " align " + c.DrawAreaAlign);
try { c.PngImageBase64 = "no picture"; WScript.Echo("no error"); }
catch (e) { WScript.Echo("error " + hex(e.number) + " " + codes(e.description).substr(0, 5)); }
try { c.Enabled = 0; WScript.Echo("Enabled reached"); }
catch (e) { WScript.Echo("error " + (hex(e.number) == "800A01B6" || hex(e.number) == "80020006" ? "unknown name" : hex(e.number))); }
WScript.Echo("done");
)");
  const std::vector<std::string> expected = {
      "DrawEnabled -1", "DrawEnabled -1", "DrawEnabled 0", "Align 0", "automatic keeps true",
      "Align 1 size 400x300", "negative ignored 400", "AxBorderStyle 1", "AxBorderStyle 2",
      "error 80070057 true", "AxBorderStyle 2",
      // "描画" (U+63CF U+753B) begins the size refusal
      "error 80070057 63cf 753b 9818", "PngImageBase64 true true align 1", "Picture true true align 1",
      // "Pn" begins the refusal of a text that holds no PNG
      "error 80070057 50 6e",
      // A name outside the library: JScript on Windows reports 800A01B6 ("does not support
      // this property"), Wine's passes on DISP_E_UNKNOWNNAME (80020006).
      "error unknown name", "done"};
  EXPECT_EQ(expected, out);
}

TEST_F(Scripts, VBScriptReadsWritesAndCatchesErrors) {
  const std::vector<std::string> out = RunScript(L"zq-test.vbs", LR"(
Set c = CreateObject("ZanQuilmo4.ZanQuilmoAx4")
WScript.Echo "DrawEnabled " & c.DrawEnabled
c.DrawEnabled = 5
WScript.Echo "DrawEnabled " & c.DrawEnabled
c.DrawAreaAlign = 1
c.DrawAreaWidth = 250
c.DrawAreaHeight = 125
WScript.Echo "size " & c.DrawAreaWidth & "x" & c.DrawAreaHeight
c.DrawAreaAlign = 0
c.DrawAreaWidth = 999
WScript.Echo "automatic ignores " & (c.DrawAreaWidth <> 999)
c.AxBorderStyle = 3
WScript.Echo "AxBorderStyle " & c.AxBorderStyle
On Error Resume Next
c.AxBorderStyle = -1
WScript.Echo "error " & Hex(Err.Number) & " " & Err.Source & " " & (Len(Err.Description) > 10)
Err.Clear
Set pic = c.Picture
Set c.Picture = pic
c.Picture = Nothing
WScript.Echo "Picture " & pic.Width & " error " & Hex(Err.Number) & " align " & c.DrawAreaAlign
Err.Clear
Set c.Picture = CreateObject("Scripting.Dictionary")
WScript.Echo "no picture refused " & (Err.Number <> 0)
Err.Clear
p = c.PngImageBase64
c.PngImageBase64 = p
WScript.Echo "PngImageBase64 " & (Len(p) > 100) & " " & (c.PngImageBase64 = p)
c.PngImageBase64 = "not a picture"
WScript.Echo "error " & Hex(Err.Number)
Err.Clear
r = c.SaveToFile("C:\x.gif")
WScript.Echo "SaveToFile " & r & " error " & Hex(Err.Number)
Err.Clear
v = c.Visible
WScript.Echo "error " & Hex(Err.Number)
On Error GoTo 0
Set c = Nothing
WScript.Echo "done"
)");
  const std::vector<std::string> expected = {"DrawEnabled -1",
                                             "DrawEnabled -1",
                                             "size 250x125",
                                             "automatic ignores True",
                                             "AxBorderStyle 3",
                                             "error 80070057 ZanQuilmo4.ZanQuilmoAx4 True",
                                             "Picture 14737 error 0 align 1",
                                             "no picture refused True",
                                             "PngImageBase64 True True",
                                             "error 80070057",
                                             "SaveToFile 1 error 0",
                                             "error 1B6",
                                             "done"};
  EXPECT_EQ(expected, out);
}

}  // namespace
