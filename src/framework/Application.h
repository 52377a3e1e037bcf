// Application services: delivering waiting messages, cursors, timers and the handler of
// exceptions that reach a window procedure or a timer.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace zq::fw {

// The module whose code this framework is linked into (for window classes).
HINSTANCE FrameworkModule();

// Registers a window class of this module once (a class that exists already is fine) and
// remembers it, so that UnregisterWindowClasses can remove it when the module is unloaded.
void RegisterWindowClass(const WNDCLASSEXW& wc);
// Removes the classes RegisterWindowClass registered; for DLL_PROCESS_DETACH.
void UnregisterWindowClasses() noexcept;

// Delivers every message waiting in this thread's queue, then returns.
void ProcessMessages();

// An application's message loop: runs until WM_QUIT and returns its exit code. Each message
// is first offered to `preTranslate` (accelerators, an embedded object's keys); a message it
// takes (returns true for) is not translated or dispatched.
int RunMessageLoop(const std::function<bool(MSG&)>& preTranslate);

// Pumps messages until done() is true or `timeoutMs` passed; true when done() held.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);

// The cursors, the screen cursor and the timers below belong to the calling thread: each
// apartment's controls have their own. ReleaseThreadState frees what a thread kept (call it
// when the thread detaches from the module; its timers must be gone by then).
void ReleaseThreadState() noexcept;

// The application's own cursors, by number (1, 2, ...). The framework does not destroy them.
void InstallCursor(int number, HCURSOR cursor);
// The cursor for a number: an installed one, or a system one (kCursorCross ...); never null.
HCURSOR CursorHandle(int number);
// A cursor that every control shows while it is not kCursorDefault (the busy hourglass).
void SetScreenCursor(int number);
int ScreenCursor();

// What happens to an exception that reaches a window procedure, a timer or another
// boundary of the framework: by default a message box with its text.
using ExceptionHandler = std::function<void(const std::wstring& message)>;
void SetExceptionHandler(ExceptionHandler handler);
// Call from a catch block: reports the current exception.
void HandleException() noexcept;

// A timer of the thread that creates it. Enabling it while enabled does not restart the
// interval; OnTimer runs from the message loop.
class Timer {
 public:
  Timer() = default;
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  UINT Interval() const { return interval_; }
  void SetInterval(UINT ms);
  bool Enabled() const { return id_ != 0; }
  void SetEnabled(bool on);

  std::function<void(Timer&)> OnTimer;

 private:
  static void CALLBACK Proc(HWND, UINT, UINT_PTR id, DWORD);
  UINT interval_ = 1000;
  UINT_PTR id_ = 0;
};

}  // namespace zq::fw
