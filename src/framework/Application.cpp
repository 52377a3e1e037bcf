#include "Application.h"

#include <algorithm>
#include <exception>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Control.h"
#include "Gdi.h"

namespace zq::fw {

HINSTANCE FrameworkModule() {
  HMODULE m = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&FrameworkModule), &m);
  return m;
}

namespace {
std::mutex g_classLock;
std::vector<std::wstring>& RegisteredClasses() {
  static std::vector<std::wstring> names;
  return names;
}
}  // namespace

void RegisterWindowClass(const WNDCLASSEXW& wc) {
  std::lock_guard<std::mutex> g(g_classLock);
  for (const auto& n : RegisteredClasses())
    if (n == wc.lpszClassName) return;
  CheckWin32(RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS, "RegisterClassEx");
  RegisteredClasses().emplace_back(wc.lpszClassName);
}

void UnregisterWindowClasses() noexcept {
  std::lock_guard<std::mutex> g(g_classLock);
  for (const auto& n : RegisteredClasses()) UnregisterClassW(n.c_str(), FrameworkModule());
  RegisteredClasses().clear();
}

void ProcessMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

int RunMessageLoop(const std::function<bool(MSG&)>& preTranslate) {
  MSG msg;
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(msg.wParam);
    if (got == -1) return -1;
    bool taken = false;
    try {
      taken = preTranslate && preTranslate(msg);
    } catch (...) {
      HandleException();
    }
    if (taken) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  // The condition may also change without a message (another thread, a timer's work): the
  // wait wakes at least every few milliseconds to look at it again.
  constexpr DWORD kLookAgainMs = 5;
  const DWORD start = GetTickCount();
  while (!done()) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min(timeoutMs - elapsed, kLookAgainMs), QS_ALLINPUT);
    ProcessMessages();
  }
  return true;
}

namespace {

// What the framework keeps for each thread: the application's cursors, the screen cursor
// and the thread's timers. Controls of two apartments never see each other's, and need no
// lock. Made on first use, freed by ReleaseThreadState (the module's thread detach).
struct ThreadState {
  std::map<int, HCURSOR> cursors;
  int screenCursor = kCursorDefault;
  std::map<UINT_PTR, Timer*> timers;
};
thread_local ThreadState* t_state = nullptr;

ThreadState& ThisThread() {
  if (!t_state) t_state = new ThreadState;
  return *t_state;
}

// The drag cursor: an arrow with a small dotted sheet under it (made once, in code).
HCURSOR DragCursor() {
  static HCURSOR cursor = [] {
    const int w = GetSystemMetrics(SM_CXCURSOR), h = GetSystemMetrics(SM_CYCURSOR);
    const int stride = ((w + 15) / 16) * 2;
    std::vector<BYTE> andMask(static_cast<std::size_t>(stride) * h, 0xFF), xorMask(andMask.size(), 0);
    auto set = [&](int x, int y, bool white) {
      if (x < 0 || y < 0 || x >= w || y >= h) return;
      const std::size_t i = static_cast<std::size_t>(y) * stride + x / 8;
      const BYTE bit = static_cast<BYTE>(0x80 >> (x % 8));
      andMask[i] &= static_cast<BYTE>(~bit);
      if (white) xorMask[i] |= bit; else xorMask[i] &= static_cast<BYTE>(~bit);
    };
    // Arrow: outline black, inside white.
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x <= y && x < 11; ++x) set(x, y, !(x == 0 || x == y || y == 15 || x == 10));
    // Sheet: a dotted rectangle below the arrow's tip.
    for (int x = 8; x <= 20; ++x) {
      set(x, 17, x % 2 == 0 ? false : true);
      set(x, 25, x % 2 == 0 ? false : true);
    }
    for (int y = 17; y <= 25; ++y) {
      set(8, y, y % 2 == 1 ? false : true);
      set(20, y, y % 2 == 1 ? false : true);
    }
    return CreateCursor(FrameworkModule(), 0, 0, w, h, andMask.data(), xorMask.data());
  }();
  return cursor;
}

ExceptionHandler& Handler() {
  static ExceptionHandler handler;
  return handler;
}

std::map<UINT_PTR, Timer*>& Timers() { return ThisThread().timers; }

}  // namespace

void ReleaseThreadState() noexcept {
  delete t_state;
  t_state = nullptr;
}

void InstallCursor(int number, HCURSOR cursor) { ThisThread().cursors[number] = cursor; }

HCURSOR CursorHandle(int number) {
  if (number > 0 && t_state) {
    auto it = t_state->cursors.find(number);
    if (it != t_state->cursors.end() && it->second) return it->second;
  }
  switch (number) {
    case kCursorCross:
      return LoadCursorW(nullptr, IDC_CROSS);
    case kCursorIBeam:
      return LoadCursorW(nullptr, IDC_IBEAM);
    case kCursorHourGlass:
      return LoadCursorW(nullptr, IDC_WAIT);
    case kCursorDrag:
      if (HCURSOR c = DragCursor()) return c;
      return LoadCursorW(nullptr, IDC_SIZEALL);
    default:
      return LoadCursorW(nullptr, IDC_ARROW);
  }
}

void SetScreenCursor(int number) {
  ThisThread().screenCursor = number;
  POINT p;
  GetCursorPos(&p);
  // Let the window under the pointer set its cursor again now.
  SetCursorPos(p.x, p.y);
  if (number != kCursorDefault) ::SetCursor(CursorHandle(number));
}

int ScreenCursor() { return t_state ? t_state->screenCursor : kCursorDefault; }

void SetExceptionHandler(ExceptionHandler handler) { Handler() = std::move(handler); }

void HandleException() noexcept {
  try {
    std::wstring message = L"unknown error";
    try {
      throw;
    } catch (const std::exception& e) {
      message = Widen(e.what());
    } catch (...) {
    }
    if (Handler())
      Handler()(message);
    else
      MessageBoxW(nullptr, message.c_str(), nullptr, MB_OK | MB_ICONSTOP | MB_TASKMODAL);
  } catch (...) {
  }
}

Timer::~Timer() { SetEnabled(false); }

void Timer::SetInterval(UINT ms) {
  if (ms == interval_) return;
  interval_ = ms;
  if (Enabled()) {
    SetEnabled(false);
    SetEnabled(true);
  }
}

void Timer::SetEnabled(bool on) {
  if (on == Enabled()) return;
  if (on) {
    id_ = SetTimer(nullptr, 0, interval_, &Timer::Proc);
    CheckWin32(id_ != 0, "SetTimer");
    Timers()[id_] = this;
  } else {
    KillTimer(nullptr, id_);
    Timers().erase(id_);
    id_ = 0;
  }
}

void CALLBACK Timer::Proc(HWND, UINT, UINT_PTR id, DWORD) {
  auto it = Timers().find(id);
  if (it == Timers().end()) return;
  Timer* t = it->second;
  try {
    if (t->OnTimer) t->OnTimer(*t);
  } catch (...) {
    HandleException();
  }
}

}  // namespace zq::fw
