// A window's menu bar with keyboard shortcuts. Items carry command numbers that reach the
// window as WM_COMMAND (from the menu or from a shortcut alike); the shortcuts are shown
// beside the items' texts and become an accelerator table for the message loop.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zq::fw {

struct Shortcut {
  BYTE modifiers = 0;  // FCONTROL, FSHIFT, FALT
  WORD key = 0;        // a virtual key; 0 for none
};

class MenuBar {
 public:
  MenuBar();
  ~MenuBar();
  MenuBar(const MenuBar&) = delete;
  MenuBar& operator=(const MenuBar&) = delete;

  // A drop-down menu with `text`, on the bar or (given `parent`) as a submenu of another.
  HMENU AddMenu(const std::wstring& text, HMENU parent = nullptr);
  void AddItem(HMENU menu, UINT command, const std::wstring& text, Shortcut shortcut = {});
  void AddSeparator(HMENU menu);

  // Puts the bar on a top-level window, which owns it from then on.
  void Attach(HWND window);
  HMENU Handle() const { return bar_; }
  // The shortcuts of every item added so far.
  HACCEL Accelerators();
  // Offers a key message to the shortcuts: true when it became a command of `window`.
  bool TranslateShortcut(HWND window, MSG& msg);

  void SetChecked(UINT command, bool on);
  // Marks `chosen` with a bullet among the commands first..last.
  void SetRadio(UINT first, UINT last, UINT chosen);
  void SetEnabled(UINT command, bool on);

  // The text shown for a shortcut: "Ctrl+S", "Ctrl+Shift+C", "F5", "Del".
  static std::wstring ShortcutText(Shortcut shortcut);

 private:
  HMENU bar_;
  bool attached_ = false;
  std::vector<ACCEL> accels_;
  HACCEL table_ = nullptr;
};

}  // namespace zq::fw
