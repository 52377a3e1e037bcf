// The demo container as a person uses it: started as a process of its own, drawn in with
// real mouse input, driven through its menu commands, answered through its real dialogs.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ConvCode.h"
#include "DemoWindow.h"
#include "PngCodec.h"
#include "TestSupport.h"
#include "UiSupport.h"

namespace {

using namespace zq::demo;

// Pictures as the tests' captures hold them: top-down BGR rows without padding.
using Image = zqtest::Capture;

Image DecodePng(const std::vector<std::uint8_t>& bytes) {
  struct Into final : zanpng::Target {
    Image& image;
    explicit Into(Image& i) : image(i) {}
    zanpng::Rows Allocate(int w, int h) override {
      image.width = w;
      image.height = h;
      image.bgr.assign(static_cast<std::size_t>(w) * h * 3, 0);
      return {image.bgr.data(), static_cast<std::ptrdiff_t>(w) * 3, w, h};
    }
  };
  Image image;
  Into into(image);
  zanpng::Decode(bytes.data(), bytes.size(), into);
  return image;
}

// The screen's pixels of a rectangle, top-down BGR.
Image CaptureScreen(POINT origin, int w, int h) {
  Image image{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h * 3)};
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, dib);
  BitBlt(dc, 0, 0, w, h, screen, origin.x, origin.y, SRCCOPY);
  GdiFlush();
  const int stride = (w * 3 + 3) & ~3;
  for (int y = 0; y < h; ++y)
    std::copy_n(static_cast<std::uint8_t*>(bits) + static_cast<std::ptrdiff_t>(y) * stride, w * 3,
                image.bgr.begin() + static_cast<std::ptrdiff_t>(y) * w * 3);
  SelectObject(dc, old);
  DeleteObject(dib);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return image;
}

// The bitmap on the clipboard, as 24-bit rows.
Image ClipboardPicture() {
  Image image;
  if (!OpenClipboard(nullptr)) return image;
  if (HBITMAP b = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP))) {
    BITMAP bm{};
    GetObjectW(b, sizeof bm, &bm);
    image.width = bm.bmWidth;
    image.height = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = image.width;
    bi.bmiHeader.biHeight = -image.height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    const int stride = (image.width * 3 + 3) & ~3;
    std::vector<std::uint8_t> rows(static_cast<std::size_t>(stride) * image.height);
    HDC screen = GetDC(nullptr);
    GetDIBits(screen, b, 0, static_cast<UINT>(image.height), rows.data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    for (int y = 0; y < image.height; ++y)
      image.bgr.insert(image.bgr.end(), rows.begin() + static_cast<std::ptrdiff_t>(y) * stride,
                       rows.begin() + static_cast<std::ptrdiff_t>(y) * stride + image.width * 3);
  }
  CloseClipboard();
  return image;
}

std::wstring ClipboardText() {
  std::wstring text;
  if (!OpenClipboard(nullptr)) return text;
  if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
    if (const wchar_t* p = static_cast<const wchar_t*>(GlobalLock(h))) {
      text = p;
      GlobalUnlock(h);
    }
  }
  CloseClipboard();
  return text;
}

// A search of the top-level windows for one of a process.
struct Search {
  DWORD pid;
  const std::function<bool(HWND)>* match;
  HWND found;
  static BOOL CALLBACK Visit(HWND w, LPARAM p) {
    auto& s = *reinterpret_cast<Search*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != s.pid || !IsWindowVisible(w) || !(*s.match)(w)) return TRUE;
    s.found = w;
    return FALSE;
  }
};

// The demo process and its windows.
class Demo {
 public:
  Demo() {
    const std::wstring exe = zqtest::EnvDir("ZQ_DEMO");
    std::wstring cmd = L"\"" + exe + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    EXPECT_TRUE(CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_));
    WaitForInputIdle(pi_.hProcess, 20000);
    main_ = WaitForWindow([&](HWND w) {
      wchar_t title[64] = L"";
      GetWindowTextW(w, title, 64);
      return std::wstring(title).starts_with(L"ZanQuilmo4");
    });
    FindChildren();
    SetForegroundWindow(main_);
    Settle();
  }
  ~Demo() {
    if (main_) PostMessageW(main_, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(pi_.hProcess, 10000) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "the demo did not close";
      TerminateProcess(pi_.hProcess, 1);
    }
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
  }
  HWND Main() const { return main_; }
  // The status line and the control's window (a new memo is a new control).
  void FindChildren() {
    for (HWND c = main_ ? GetWindow(main_, GW_CHILD) : nullptr; c; c = GetWindow(c, GW_HWNDNEXT)) {
      wchar_t cls[32] = L"";
      GetClassNameW(c, cls, 32);
      if (std::wstring(cls) == L"msctls_statusbar32") status_ = c;
      else control_ = c;
    }
  }

  // A visible top-level window of the demo's process for which `match` holds.
  HWND WaitForWindow(const std::function<bool(HWND)>& match, DWORD timeoutMs = 15000) {
    HWND found = nullptr;
    zqtest::PumpUntil(
        [&] {
          Search s{pi_.dwProcessId, &match, nullptr};
          EnumWindows(&Search::Visit, reinterpret_cast<LPARAM>(&s));
          found = s.found;
          return found != nullptr;
        },
        timeoutMs);
    return found;
  }
  HWND WaitForDialog(bool fileDialog) {
    return WaitForWindow([&](HWND w) {
      wchar_t cls[16] = L"";
      GetClassNameW(w, cls, 16);
      const bool nameBox = GetDlgItem(w, 0x47C) || GetDlgItem(w, 0x480);
      return std::wstring(cls) == L"#32770" && nameBox == fileDialog;
    });
  }
  // Waits until the demo's window thread has handled what was sent before.
  void Settle(DWORD ms = 50) {
    Sleep(ms);
    DWORD_PTR r;
    SendMessageTimeoutW(main_, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &r);
    zqtest::Pump();
  }
  void Command(UINT id) { PostMessageW(main_, WM_COMMAND, id, 0); }
  // A menu command that opens the save dialog, answered with `name`.
  void SaveAs(UINT id, const std::wstring& name) {
    Command(id);
    HWND dlg = WaitForDialog(true);
    ASSERT_NE(nullptr, dlg) << "no save dialog";
    SetDlgItemTextW(dlg, GetDlgItem(dlg, 0x47C) ? 0x47C : 0x480, name.c_str());
    PostMessageW(dlg, WM_COMMAND, IDOK, 0);
    zqtest::PumpUntil([&] { return !IsWindow(dlg); }, 10000);
    Settle();
  }
  // A drag through points relative to the drawing area's corner.
  void Draw(const std::vector<POINT>& points) {
    std::vector<POINT> through;
    for (const POINT& p : points) through.push_back(At(p));
    zqtest::Drag(control_, through.front(), through);
    Settle(150);
  }
  // The drawing's size, as the status line tells it: "描画領域 W × H ピクセル".
  SIZE AreaSize() {
    wchar_t text[256] = L"";
    // WM_GETTEXT (which crosses processes) reads a status line's first part.
    SendMessageW(status_, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
    SIZE s{};
    swscanf(text, L"描画領域 %ld × %ld", &s.cx, &s.cy);
    return s;
  }
  Image Screen() {
    Settle(200);
    FindChildren();
    POINT origin = DemoWindow::kDrawingOrigin;
    ClientToScreen(control_, &origin);
    const SIZE s = AreaSize();
    return CaptureScreen(origin, s.cx, s.cy);
  }

 private:
  POINT At(POINT p) const { return {DemoWindow::kDrawingOrigin.x + p.x, DemoWindow::kDrawingOrigin.y + p.y}; }
  PROCESS_INFORMATION pi_{};
  HWND main_ = nullptr, control_ = nullptr, status_ = nullptr;
};

TEST(Demo, DrawsSavesCopiesStopsDrawingAndSaysWhenASaveFails) {
  const std::wstring dir = zqtest::OutputDir();
  const std::wstring png = zqtest::Join(dir, L"demo メモ.png");
  DeleteFileW(png.c_str());
  Demo demo;
  ASSERT_NE(nullptr, demo.Main()) << "the demo's window did not appear";
  ASSERT_GT(demo.AreaSize().cx, 300) << "the status line shows no drawing size";

  demo.Draw({{40, 60}, {90, 20}, {140, 90}, {200, 30}, {260, 80}});
  demo.SaveAs(kCmdSavePng, png);
  const Image saved = DecodePng(zqtest::ReadBytes(png));
  EXPECT_EQ(demo.AreaSize().cx, saved.width);
  const Image screen = demo.Screen();
  EXPECT_TRUE(saved == screen) << "the saved PNG differs from the drawing on screen";
  std::size_t ink = 0;
  for (std::size_t i = 0; i < saved.bgr.size(); i += 3) ink += saved.bgr[i] < 128;
  EXPECT_GT(ink, 200u) << "the stroke did not reach the drawing";

  // The Base64 text on the clipboard is the same PNG.
  demo.Command(kCmdCopyBase64);
  demo.Settle();
  const std::wstring text = ClipboardText();
  const auto bytes = zq::DecodeBase64(std::string(text.begin(), text.end()));
  EXPECT_TRUE(saved == DecodePng(std::vector<std::uint8_t>(bytes.begin(), bytes.end())));

  // With drawing off a drag leaves the drawing as it was.
  demo.Command(kCmdDrawEnabled);
  demo.Settle();
  demo.Draw({{60, 200}, {160, 260}, {260, 200}});
  EXPECT_TRUE(saved == demo.Screen()) << "a stroke was drawn with drawing off";

  // A folder that does not exist: the person is told, and nothing is written.
  const std::wstring missing = zqtest::Join(dir, L"no such folder\\memo.png");
  demo.SaveAs(kCmdSavePng, missing);
  HWND box = demo.WaitForDialog(false);
  ASSERT_NE(nullptr, box) << "a failing save showed nothing";
  wchar_t said[512] = L"";
  GetDlgItemTextW(box, 0xFFFF, said, 512);
  EXPECT_NE(std::wstring::npos, std::wstring(said).find(L"画像を保存できませんでした。")) << zqtest::Narrow(said);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(missing.c_str()));
  zqtest::PumpUntil([&] { return !IsWindow(box); }, 5000);

  // Unsaved strokes are not thrown away unasked: closing asks, and "no" keeps the memo.
  demo.Command(kCmdDrawEnabled);
  demo.Draw({{60, 200}, {160, 260}, {260, 200}});
  const Image unsaved = demo.Screen();
  EXPECT_FALSE(saved == unsaved);
  auto answer = [&](UINT posted, int button) {
    PostMessageW(demo.Main(), posted == WM_CLOSE ? WM_CLOSE : WM_COMMAND, posted == WM_CLOSE ? 0 : posted, 0);
    HWND question = demo.WaitForDialog(false);
    if (!question) return false;
    GetDlgItemTextW(question, 0xFFFF, said, 512);
    PostMessageW(question, WM_COMMAND, button, 0);
    zqtest::PumpUntil([&] { return !IsWindow(question); }, 5000);
    demo.Settle();
    return std::wstring(said).find(L"保存されていません") != std::wstring::npos;
  };
  EXPECT_TRUE(answer(WM_CLOSE, IDNO)) << "closing with unsaved strokes did not ask";
  ASSERT_TRUE(IsWindow(demo.Main()));
  EXPECT_TRUE(unsaved == demo.Screen());
  demo.Command(kCmdCopyPicture);
  demo.Settle();
  EXPECT_TRUE(unsaved == ClipboardPicture()) << "the copied picture is not the drawing";
  EXPECT_TRUE(answer(kCmdNew, IDYES)) << "a new memo did not ask";
  const Image fresh = demo.Screen();
  EXPECT_TRUE(std::all_of(fresh.bgr.begin(), fresh.bgr.end(), [](std::uint8_t b) { return b == 255; }))
      << "the new memo is not white";

  // The picture copied before the new memo, pasted into it, is that drawing again.
  demo.Command(kCmdPastePicture);
  EXPECT_TRUE(unsaved == demo.Screen()) << "the pasted picture is not the copied drawing";
  EXPECT_TRUE(answer(WM_CLOSE, IDYES)) << "closing with a pasted picture did not ask";
}

}  // namespace
