// Driving real windows in the tests: a top-level host window, pumping messages until a
// condition holds, synthesised mouse and keyboard input (SendInput, as a user's would
// arrive), scripted dialogs and screenshots written as PNG files.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Dialogs.h"

namespace zqtest {

// A visible top-level window whose client area hosts what a test puts in it.
class HostWindow {
 public:
  HostWindow(int clientWidth, int clientHeight, const wchar_t* title = L"test host");
  ~HostWindow();
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;
  HWND hwnd() const { return hwnd_; }
  void SetClientSize(int width, int height);
  // Called when the host's client area changes size.
  std::function<void(int, int)> onResize;

 private:
  static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
  HWND hwnd_ = nullptr;
};

// Delivers waiting messages until done() holds (true) or timeoutMs passes (false).
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 3000);
// Delivers the waiting messages, including those that input just queued.
void Pump();

// Mouse input at a point in a window's client coordinates.
void MouseMoveTo(HWND wnd, int x, int y);
void MouseDown(HWND wnd, int x, int y, bool right = false);
void MouseUp(HWND wnd, int x, int y, bool right = false);
void Click(HWND wnd, int x, int y, bool right = false);
// Press at `from`, move through the points, release at the last one.
void Drag(HWND wnd, POINT from, const std::vector<POINT>& through);
// Key presses to the window with the focus.
void KeyDown(WORD vk);
void KeyUp(WORD vk);
void PressKey(WORD vk);
void TypeText(const std::wstring& text);

// A dialog service that answers from a script and records what it was asked.
class ScriptedDialogs final : public zq::fw::DialogService {
 public:
  ScriptedDialogs();
  ~ScriptedDialogs() override;
  struct Asked {
    std::wstring text, caption;
    zq::fw::MsgButtons buttons;
    zq::fw::MsgIcon icon;
  };
  std::deque<zq::fw::MsgResult> messageAnswers;  // empty: the dialog fails the test
  std::deque<std::optional<zq::fw::Color>> colorAnswers;
  std::deque<std::optional<std::wstring>> fileAnswers;
  std::vector<Asked> messages;
  std::vector<zq::fw::Color> colorInitials;
  std::vector<std::wstring> fileFilters;
  std::vector<bool> filePlacesBars;

  zq::fw::MsgResult Message(HWND, const std::wstring& text, const std::wstring& caption,
                            zq::fw::MsgButtons buttons, zq::fw::MsgIcon icon) override;
  std::optional<zq::fw::Color> PickColor(HWND, zq::fw::Color initial) override;
  std::optional<std::wstring> PickFile(HWND, const std::wstring& filter, bool placesBar) override;
  std::optional<std::wstring> PickSaveFile(HWND, const std::wstring&, int&, const std::wstring&,
                                           const std::wstring&) override;
};

// The real dialogs of this thread, answered while this object lives by a timer that their own
// message loop runs: a message box is read and answered with the next of boxAnswers (OK when
// none is left); an open-file dialog is given the next of fileNames and confirmed (left open
// when none is left). One at a time on a thread.
class AnsweredDialogs {
 public:
  explicit AnsweredDialogs(std::deque<int> boxAnswers = {}, std::deque<std::wstring> fileNames = {});
  ~AnsweredDialogs();
  AnsweredDialogs(const AnsweredDialogs&) = delete;
  AnsweredDialogs& operator=(const AnsweredDialogs&) = delete;
  std::deque<int> boxAnswers;
  std::deque<std::wstring> fileNames;
  std::vector<std::wstring> boxTexts;  // what the answered boxes said, in order

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
  static BOOL CALLBACK Answer(HWND w, LPARAM self);
  UINT_PTR timer_ = 0;
};

// What is on the screen inside a window's client area, as 24-bit rows (top-down).
struct Capture {
  int width = 0, height = 0;
  std::vector<std::uint8_t> bgr;  // 3 bytes a pixel, no padding
  COLORREF At(int x, int y) const;
  bool operator==(const Capture&) const = default;
};
Capture CaptureClient(HWND wnd);
// Writes a capture as a PNG file into the test-output folder; returns its path.
std::wstring SavePng(const Capture& c, const std::wstring& name);

}  // namespace zqtest
