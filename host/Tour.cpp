#include "Tour.h"

#include <windows.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include "DemoWindow.h"
#include "Input.h"
#include "ZANPngUt.h"

namespace zq::demo {

namespace {

std::atomic<int> g_exitCode{1};

// Where the palette's parts are, in the control's client coordinates.
constexpr POINT kPenTool{21, 24}, kShapeTool{157, 24}, kTextTool{123, 24};
constexpr POINT kCrayon{449, 25}, kWatercolour{493, 25}, kPencil{405, 25};
constexpr POINT kRectangle{316, 25}, kTransparentFrame{582, 25}, kTextBox{393, 23};
constexpr POINT kWidth8{22, 246}, kWidth3{22, 281};
POINT Swatch(int row) { return {13, 50 + 33 + 17 * row + 8}; }  // the left column of colours
constexpr int kRed = 2, kBlue = 6, kGreen = 4, kBlack = 0;

class Tour {
 public:
  Tour(DemoWindow& window, std::wstring folder) : window_(window), folder_(std::move(folder)) {
    log_ = _wfopen((folder_ + L"\\tour.log").c_str(), L"wb");
  }
  ~Tour() {
    if (log_) fclose(log_);
  }
  void Run();

 private:
  void Log(const std::wstring& line) {
    if (!log_) return;
    // UTF-8 text, one line per step.
    const int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), bytes.data(), n, nullptr, nullptr);
    bytes += '\n';
    fwrite(bytes.data(), 1, bytes.size(), log_);
    fflush(log_);
  }
  // Waits until the window's thread has handled what came before.
  void Settle(DWORD ms = 20) {
    Sleep(ms);
    DWORD_PTR r;
    SendMessageTimeoutW(main_, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &r);
  }
  void Mouse(POINT clientOfControl, DWORD flags) {
    fw::SendMouseAt(control_, clientOfControl, flags);
    Settle(8);
  }
  void Click(POINT p) {
    Mouse(p, 0);
    Mouse(p, MOUSEEVENTF_LEFTDOWN);
    Mouse(p, MOUSEEVENTF_LEFTUP);
    Settle();
  }
  // A drag through points given relative to the drawing area's corner.
  void Draw(const std::vector<POINT>& points) {
    auto at = [](POINT p) { return POINT{DemoWindow::kDrawingOrigin.x + p.x, DemoWindow::kDrawingOrigin.y + p.y}; };
    Mouse(at(points.front()), 0);
    Mouse(at(points.front()), MOUSEEVENTF_LEFTDOWN);
    for (const POINT& p : points) Mouse(at(p), 0);
    Mouse(at(points.back()), MOUSEEVENTF_LEFTUP);
    Settle(60);
  }
  void Type(const std::wstring& text) {
    for (wchar_t c : text) {
      // A line break is the Enter key, which reaches the text box through the control's
      // TranslateAccelerator (a dialog-like container would take it for itself otherwise).
      const WORD vk = c == L'\n' ? VK_RETURN : 0;
      const wchar_t ch = c == L'\n' ? 0 : c;
      fw::SendKeyInput(vk, false, ch);
      fw::SendKeyInput(vk, true, ch);
      Settle(5);
    }
    Settle();
  }
  // Runs `work` on the window's thread and returns what it said.
  bool OnWindowThread(const std::function<bool()>& work) {
    bool result = false;
    std::function<void()> call = [&] { result = work(); };
    SendMessageW(main_, kRunOnWindowThread, 0, reinterpret_cast<LPARAM>(&call));
    return result;
  }
  void DrawSample();
  bool SaveEverything();
  bool Screenshot(const std::wstring& name);

  DemoWindow& window_;
  std::wstring folder_;
  HWND main_ = nullptr;
  HWND control_ = nullptr;
  FILE* log_ = nullptr;
};

void Tour::Run() {
  main_ = window_.HandleIfAllocated();
  control_ = window_.ControlWindow();
  SetForegroundWindow(main_);
  Settle(300);
  Log(L"drawing the sample memo");
  DrawSample();
  const bool saved = SaveEverything();
  g_exitCode = saved ? 0 : 2;
  Log(saved ? L"done" : L"some files were not written");
  PostMessageW(main_, WM_CLOSE, 0, 0);
}

void Tour::DrawSample() {
  // Handwriting in black oil-based ink: a signature-like wave.
  Click(kPenTool);
  Click(Swatch(kBlack));
  Click(kWidth3);
  std::vector<POINT> wave;
  for (int i = 0; i <= 60; ++i)
    wave.push_back({30 + i * 5, 60 + static_cast<LONG>(22 * std::sin(i * 0.45) + 6 * std::sin(i * 1.7))});
  Draw(wave);
  // A red crayon loop.
  Click(kCrayon);
  Click(Swatch(kRed));
  Click(kWidth8);
  std::vector<POINT> loop;
  for (int i = 0; i <= 48; ++i) {
    const double a = i * 2 * 3.14159265 / 48;
    loop.push_back({110 + static_cast<LONG>(70 * std::cos(a)), 170 + static_cast<LONG>(45 * std::sin(a))});
  }
  Draw(loop);
  // A blue watercolour stroke and a green pencil underline.
  Click(kWatercolour);
  Click(Swatch(kBlue));
  std::vector<POINT> brush;
  for (int i = 0; i <= 40; ++i) brush.push_back({220 + i * 6, 150 + static_cast<LONG>(30 * std::sin(i * 0.3))});
  Draw(brush);
  Click(kPencil);
  Click(Swatch(kGreen));
  Click(kWidth3);
  Draw({{30, 240}, {150, 236}, {300, 244}, {460, 238}});
  // A frame round the loop, which shows through.
  Click(kShapeTool);
  Click(kRectangle);
  Click(kTransparentFrame);
  Click(Swatch(kBlue));
  Draw({{30, 112}, {120, 170}, {195, 228}});
  // A text, typed into the text box and placed with a drag.
  Click(kTextTool);
  Click(kTextBox);
  Type(L"ZanQuilmo4 の\n手書きメモ");
  Click(Swatch(kBlack));
  Draw({{220, 262}, {300, 300}, {360, 330}});
  Click(kPenTool);
}

bool Tour::SaveEverything() {
  bool ok = true;
  for (const wchar_t* name : {L"memo.png", L"memo.bmp", L"memo.jpg", L"memo.zqm"}) {
    const std::wstring path = folder_ + L"\\" + name;
    const bool memo = std::wstring(name).ends_with(L".zqm");
    const bool done = OnWindowThread([&] { return memo ? window_.SaveMemo(path) : window_.SaveImage(path); });
    Log((done ? L"wrote " : L"FAILED ") + path);
    ok = ok && done;
  }
  const std::wstring textPath = folder_ + L"\\memo.base64.txt";
  const bool text = OnWindowThread([&] { return window_.CopyBase64(); }) && OnWindowThread([&] {
    // The clipboard now holds the text; it goes to a file as ASCII.
    bool written = false;
    if (OpenClipboard(main_)) {
      if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
        if (const wchar_t* p = static_cast<const wchar_t*>(GlobalLock(h))) {
          std::string ascii;
          for (; *p; ++p) ascii += static_cast<char>(*p);
          GlobalUnlock(h);
          if (FILE* f = _wfopen(textPath.c_str(), L"wb")) {
            written = fwrite(ascii.data(), 1, ascii.size(), f) == ascii.size();
            written = fclose(f) == 0 && written;
          }
        }
      }
      CloseClipboard();
    }
    return written;
  });
  Log((text ? L"wrote " : L"FAILED ") + textPath);
  const std::wstring shot = folder_ + L"\\screenshot.png";
  const bool photographed = Screenshot(shot);
  Log((photographed ? L"wrote " : L"FAILED ") + shot);
  return ok && text && photographed;
}

// The window as the screen shows it, encoded by the control's own PNG library.
bool Tour::Screenshot(const std::wstring& name) {
  Settle(200);
  RECT r;
  GetWindowRect(main_, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(dc, bitmap);
  BitBlt(dc, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(dc, old);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  bool ok = false;
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring dll = exe;
  dll = dll.substr(0, dll.find_last_of(L"\\/")) + L"\\ZANPngUt.dll";
  if (HMODULE png = LoadLibraryW(dll.c_str())) {
    auto encode = reinterpret_cast<ZanPng_Bitmap2Png_t>(reinterpret_cast<void*>(GetProcAddress(png, "ZanPng_Bitmap2Png")));
    auto release = reinterpret_cast<ZanPng_FreePng_t>(reinterpret_cast<void*>(GetProcAddress(png, "ZanPng_FreePng")));
    ZANPNG_BUFFER buffer{};
    if (encode && release) {
      if (encode(bitmap, &buffer)) {
        if (FILE* f = _wfopen(name.c_str(), L"wb")) {
          ok = fwrite(buffer.Data, 1, buffer.Size, f) == buffer.Size;
          ok = fclose(f) == 0 && ok;
        }
      }
      release(&buffer);
    }
    FreeLibrary(png);
  }
  DeleteObject(bitmap);
  return ok;
}

}  // namespace

std::thread StartTour(DemoWindow& window, std::wstring folder) {
  CreateDirectoryW(folder.c_str(), nullptr);
  return std::thread([&window, folder] {
    Tour tour(window, folder);
    tour.Run();
  });
}

int TourExitCode() { return g_exitCode; }

}  // namespace zq::demo
