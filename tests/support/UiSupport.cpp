#include "UiSupport.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "Application.h"
#include "Input.h"
#include "PngCodec.h"
#include "TestSupport.h"

namespace zqtest {

// ---- host window ----

HostWindow::HostWindow(int w, int h, const wchar_t* title) {
  static bool registered = false;
  if (!registered) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &HostWindow::Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"ZqTestHost";
    RegisterClassW(&wc);
    registered = true;
  }
  RECT r{0, 0, w, h};
  const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
  AdjustWindowRect(&r, style, FALSE);
  hwnd_ = CreateWindowExW(0, L"ZqTestHost", title, style, 0, 0, r.right - r.left, r.bottom - r.top,
                          nullptr, nullptr, GetModuleHandleW(nullptr), this);
  ShowWindow(hwnd_, SW_SHOW);
  SetForegroundWindow(hwnd_);
  Pump();
}

HostWindow::~HostWindow() {
  if (hwnd_) DestroyWindow(hwnd_);
  Pump();
}

void HostWindow::SetClientSize(int w, int h) {
  RECT r{0, 0, w, h};
  AdjustWindowRect(&r, static_cast<DWORD>(GetWindowLongW(hwnd_, GWL_STYLE)), FALSE);
  SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER);
  Pump();
}

LRESULT CALLBACK HostWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE)
    SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
  auto* self = reinterpret_cast<HostWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (msg == WM_SIZE && self && self->onResize) self->onResize(LOWORD(lp), HIWORD(lp));
  return DefWindowProcW(hwnd, msg, wp, lp);
}

// ---- messages and input ----

void Pump() {
  MSG msg;
  for (int i = 0; i < 10000 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) { return zq::fw::PumpUntil(done, timeoutMs); }

namespace {

void SendMouse(HWND wnd, int x, int y, DWORD flags) {
  zq::fw::SendMouseAt(wnd, POINT{x, y}, flags);
  Pump();
}

void SendKey(WORD vk, bool up, wchar_t unicode = 0) {
  zq::fw::SendKeyInput(vk, up, unicode);
  Pump();
}

}  // namespace

void MouseMoveTo(HWND wnd, int x, int y) { SendMouse(wnd, x, y, 0); }
void MouseDown(HWND wnd, int x, int y, bool right) {
  SendMouse(wnd, x, y, right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN);
}
void MouseUp(HWND wnd, int x, int y, bool right) {
  SendMouse(wnd, x, y, right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP);
}

void Click(HWND wnd, int x, int y, bool right) {
  MouseMoveTo(wnd, x, y);
  MouseDown(wnd, x, y, right);
  MouseUp(wnd, x, y, right);
}

void Drag(HWND wnd, POINT from, const std::vector<POINT>& through) {
  MouseMoveTo(wnd, from.x, from.y);
  MouseDown(wnd, from.x, from.y);
  for (const POINT& p : through) MouseMoveTo(wnd, p.x, p.y);
  const POINT last = through.empty() ? from : through.back();
  MouseUp(wnd, last.x, last.y);
}

void KeyDown(WORD vk) { SendKey(vk, false); }
void KeyUp(WORD vk) { SendKey(vk, true); }
void PressKey(WORD vk) {
  KeyDown(vk);
  KeyUp(vk);
}

void TypeText(const std::wstring& text) {
  for (wchar_t c : text) {
    SendKey(0, false, c);
    SendKey(0, true, c);
  }
}

// ---- scripted dialogs ----

ScriptedDialogs::ScriptedDialogs() { zq::fw::SetDialogService(this); }
ScriptedDialogs::~ScriptedDialogs() { zq::fw::SetDialogService(nullptr); }

zq::fw::MsgResult ScriptedDialogs::Message(HWND, const std::wstring& text, const std::wstring& caption,
                                           zq::fw::MsgButtons buttons, zq::fw::MsgIcon icon) {
  messages.push_back({text, caption, buttons, icon});
  if (messageAnswers.empty()) {
    ADD_FAILURE() << "unexpected message box: " << Narrow(text);
    return buttons == zq::fw::MsgButtons::YesNo ? zq::fw::MsgResult::No : zq::fw::MsgResult::Cancel;
  }
  const auto answer = messageAnswers.front();
  messageAnswers.pop_front();
  return answer;
}

std::optional<zq::fw::Color> ScriptedDialogs::PickColor(HWND, zq::fw::Color initial) {
  colorInitials.push_back(initial);
  if (colorAnswers.empty()) {
    ADD_FAILURE() << "unexpected colour dialog";
    return std::nullopt;
  }
  const auto answer = colorAnswers.front();
  colorAnswers.pop_front();
  return answer;
}

std::optional<std::wstring> ScriptedDialogs::PickFile(HWND, const std::wstring& filter, bool placesBar) {
  fileFilters.push_back(filter);
  filePlacesBars.push_back(placesBar);
  if (fileAnswers.empty()) {
    ADD_FAILURE() << "unexpected open dialog";
    return std::nullopt;
  }
  const auto answer = fileAnswers.front();
  fileAnswers.pop_front();
  return answer;
}

std::optional<std::wstring> ScriptedDialogs::PickSaveFile(HWND, const std::wstring&, int&, const std::wstring&,
                                                          const std::wstring&) {
  ADD_FAILURE() << "unexpected save dialog";  // the control never asks for a name to save under
  return std::nullopt;
}

// ---- screenshots ----

namespace {
thread_local AnsweredDialogs* t_answering = nullptr;
}  // namespace

AnsweredDialogs::AnsweredDialogs(std::deque<int> boxes, std::deque<std::wstring> files)
    : boxAnswers(std::move(boxes)), fileNames(std::move(files)) {
  EXPECT_EQ(nullptr, t_answering) << "one AnsweredDialogs at a time";
  t_answering = this;
  timer_ = SetTimer(nullptr, 0, 20, &Tick);
}

AnsweredDialogs::~AnsweredDialogs() {
  KillTimer(nullptr, timer_);
  t_answering = nullptr;
}

void CALLBACK AnsweredDialogs::Tick(HWND, UINT, UINT_PTR, DWORD) {
  if (t_answering) EnumThreadWindows(GetCurrentThreadId(), &Answer, reinterpret_cast<LPARAM>(t_answering));
}

BOOL CALLBACK AnsweredDialogs::Answer(HWND w, LPARAM self) {
  auto& d = *reinterpret_cast<AnsweredDialogs*>(self);
  wchar_t cls[16] = L"";
  GetClassNameW(w, cls, 16);
  if (std::wstring(cls) != L"#32770" || !IsWindowVisible(w)) return TRUE;
  const int nameBox = GetDlgItem(w, 0x47C) ? 0x47C : GetDlgItem(w, 0x480) ? 0x480 : 0;  // an open-file dialog's
  if (nameBox) {
    if (d.fileNames.empty()) return TRUE;
    SetDlgItemTextW(w, nameBox, d.fileNames.front().c_str());
    d.fileNames.pop_front();
    PostMessageW(w, WM_COMMAND, IDOK, 0);
    return TRUE;
  }
  wchar_t text[512] = L"";
  GetDlgItemTextW(w, 0xFFFF, text, 512);
  d.boxTexts.push_back(text);
  int answer = IDOK;
  if (!d.boxAnswers.empty()) {
    answer = d.boxAnswers.front();
    d.boxAnswers.pop_front();
  }
  PostMessageW(w, WM_COMMAND, answer, 0);
  return TRUE;
}

COLORREF Capture::At(int x, int y) const {
  const std::uint8_t* p = &bgr[(static_cast<std::size_t>(y) * width + x) * 3];
  return RGB(p[2], p[1], p[0]);
}

Capture CaptureClient(HWND wnd) {
  Capture c;
  RECT r;
  GetClientRect(wnd, &r);
  c.width = r.right;
  c.height = r.bottom;
  if (c.width <= 0 || c.height <= 0) return c;
  // Read through the window's own device context: what was painted there, children
  // included, without waiting for it to reach the X server.
  HDC screen = GetDC(wnd);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), c.width, -c.height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, dib);
  BitBlt(mem, 0, 0, c.width, c.height, screen, 0, 0, SRCCOPY);
  GdiFlush();
  const std::size_t stride = ((static_cast<std::size_t>(c.width) * 3 + 3) / 4) * 4;
  for (int y = 0; y < c.height; ++y) {
    const auto* row = static_cast<const std::uint8_t*>(bits) + stride * y;
    c.bgr.insert(c.bgr.end(), row, row + static_cast<std::size_t>(c.width) * 3);
  }
  SelectObject(mem, old);
  DeleteObject(dib);
  DeleteDC(mem);
  ReleaseDC(wnd, screen);
  return c;
}

namespace {
struct FileSink final : zanpng::Sink {
  FILE* f;
  void Write(const std::uint8_t* data, std::size_t size) override { fwrite(data, 1, size, f); }
};
}  // namespace

std::wstring SavePng(const Capture& c, const std::wstring& name) {
  const std::wstring path = Join(OutputDir(), name);
  FILE* f = _wfopen(path.c_str(), L"wb");
  if (!f) {
    ADD_FAILURE() << "cannot write " << Narrow(path);
    return path;
  }
  FileSink sink;
  sink.f = f;
  zanpng::MemoryRows rows(c.bgr.data(), static_cast<std::ptrdiff_t>(c.width) * 3, c.width, c.height);
  zanpng::Encode(rows, zanpng::DefaultOptions(), sink);
  fclose(f);
  return path;
}

}  // namespace zqtest
