#include "Menus.h"

#include "Gdi.h"

namespace zq::fw {

MenuBar::MenuBar() : bar_(CreateMenu()) { CheckWin32(bar_ != nullptr, "CreateMenu"); }

MenuBar::~MenuBar() {
  if (table_) DestroyAcceleratorTable(table_);
  if (!attached_) DestroyMenu(bar_);  // a window destroys the menu it owns
}

HMENU MenuBar::AddMenu(const std::wstring& text, HMENU parent) {
  HMENU menu = CreatePopupMenu();
  CheckWin32(menu != nullptr, "CreatePopupMenu");
  if (!AppendMenuW(parent ? parent : bar_, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(menu), text.c_str())) {
    const DWORD error = GetLastError();
    DestroyMenu(menu);
    SetLastError(error);
    CheckWin32(false, "AppendMenuW");
  }
  return menu;
}

void MenuBar::AddItem(HMENU menu, UINT command, const std::wstring& text, Shortcut shortcut) {
  std::wstring shown = text;
  if (shortcut.key) shown += L"\t" + ShortcutText(shortcut);
  CheckWin32(AppendMenuW(menu, MF_STRING, command, shown.c_str()) != FALSE, "AppendMenuW");
  if (shortcut.key) {
    accels_.push_back({static_cast<BYTE>(shortcut.modifiers | FVIRTKEY), shortcut.key, static_cast<WORD>(command)});
    if (table_) {
      DestroyAcceleratorTable(table_);
      table_ = nullptr;
    }
  }
}

void MenuBar::AddSeparator(HMENU menu) {
  CheckWin32(AppendMenuW(menu, MF_SEPARATOR, 0, nullptr) != FALSE, "AppendMenuW");
}

void MenuBar::Attach(HWND window) {
  CheckWin32(SetMenu(window, bar_) != FALSE, "SetMenu");
  attached_ = true;
}

HACCEL MenuBar::Accelerators() {
  if (!table_ && !accels_.empty()) {
    table_ = CreateAcceleratorTableW(accels_.data(), static_cast<int>(accels_.size()));
    CheckWin32(table_ != nullptr, "CreateAcceleratorTableW");
  }
  return table_;
}

bool MenuBar::TranslateShortcut(HWND window, MSG& msg) {
  HACCEL table = Accelerators();
  return table && window && TranslateAcceleratorW(window, table, &msg) != 0;
}

void MenuBar::SetChecked(UINT command, bool on) {
  CheckMenuItem(bar_, command, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

void MenuBar::SetRadio(UINT first, UINT last, UINT chosen) {
  CheckMenuRadioItem(bar_, first, last, chosen, MF_BYCOMMAND);
}

void MenuBar::SetEnabled(UINT command, bool on) {
  EnableMenuItem(bar_, command, MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
}

std::wstring MenuBar::ShortcutText(Shortcut s) {
  std::wstring t;
  if (s.modifiers & FCONTROL) t += L"Ctrl+";
  if (s.modifiers & FSHIFT) t += L"Shift+";
  if (s.modifiers & FALT) t += L"Alt+";
  if ((s.key >= 'A' && s.key <= 'Z') || (s.key >= '0' && s.key <= '9')) t += static_cast<wchar_t>(s.key);
  else if (s.key >= VK_F1 && s.key <= VK_F24) t += L"F" + std::to_wstring(s.key - VK_F1 + 1);
  else if (s.key == VK_DELETE) t += L"Del";
  else if (s.key == VK_INSERT) t += L"Ins";
  else t += L"?";
  return t;
}

}  // namespace zq::fw
