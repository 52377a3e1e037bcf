#include "Dialogs.h"

#include <commdlg.h>

#include <algorithm>
#include <vector>

namespace zq::fw {

namespace {

DialogService* g_service = nullptr;

SystemDialogs& System() {
  static SystemDialogs system;
  return system;
}

}  // namespace

DialogService& Dialogs() { return g_service ? *g_service : System(); }

void SetDialogService(DialogService* service) { g_service = service; }

MsgResult SystemDialogs::Message(HWND owner, const std::wstring& text, const std::wstring& caption,
                                 MsgButtons buttons, MsgIcon icon) {
  UINT type = buttons == MsgButtons::YesNo ? MB_YESNO : buttons == MsgButtons::OkCancel ? MB_OKCANCEL : MB_OK;
  switch (icon) {
    case MsgIcon::Information: type |= MB_ICONINFORMATION; break;
    case MsgIcon::Warning: type |= MB_ICONWARNING; break;
    case MsgIcon::Error: type |= MB_ICONERROR; break;
    case MsgIcon::Question: type |= MB_ICONQUESTION; break;
    case MsgIcon::None: break;
  }
  if (!owner) type |= MB_TASKMODAL | MB_SETFOREGROUND;  // a box of nobody's comes to the front
  switch (MessageBoxW(owner, text.c_str(), caption.empty() ? nullptr : caption.c_str(), type)) {
    case IDYES: return MsgResult::Yes;
    case IDNO: return MsgResult::No;
    case IDOK: return MsgResult::Ok;
    default: return MsgResult::Cancel;
  }
}

std::optional<Color> SystemDialogs::PickColor(HWND owner, Color initial) {
  static COLORREF custom[16] = {};
  CHOOSECOLORW cc{};
  cc.lStructSize = sizeof cc;
  cc.hwndOwner = owner;
  cc.rgbResult = Resolve(initial);
  cc.lpCustColors = custom;
  cc.Flags = CC_RGBINIT | CC_FULLOPEN | CC_ANYCOLOR;
  if (!ChooseColorW(&cc)) return std::nullopt;
  return cc.rgbResult;
}

std::wstring FilterForPlatform(const std::wstring& filter) {
  std::wstring out = filter;
  for (auto& c : out)
    if (c == L'|') c = L'\0';
  out.push_back(L'\0');
  out.push_back(L'\0');
  return out;
}

std::optional<std::wstring> SystemDialogs::PickFile(HWND owner, const std::wstring& filter, bool placesBar) {
  const std::wstring f = FilterForPlatform(filter);
  wchar_t name[MAX_PATH * 4] = {};
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = f.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = name;
  ofn.nMaxFile = static_cast<DWORD>(std::size(name));
  ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_ENABLESIZING;
  if (!placesBar) ofn.FlagsEx = OFN_EX_NOPLACESBAR;
  if (!GetOpenFileNameW(&ofn)) return std::nullopt;
  return std::wstring(name);
}

std::optional<std::wstring> SystemDialogs::PickSaveFile(HWND owner, const std::wstring& filter, int& filterIndex,
                                                        const std::wstring& defaultExt,
                                                        const std::wstring& fileName) {
  const std::wstring f = FilterForPlatform(filter);
  std::vector<wchar_t> name(MAX_PATH * 4, L'\0');
  fileName.copy(name.data(), std::min(fileName.size(), name.size() - 1));
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = f.c_str();
  ofn.nFilterIndex = static_cast<DWORD>(std::max(filterIndex, 1));
  ofn.lpstrFile = name.data();
  ofn.nMaxFile = static_cast<DWORD>(name.size());
  ofn.lpstrDefExt = defaultExt.empty() ? nullptr : defaultExt.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOREADONLYRETURN;
  if (!GetSaveFileNameW(&ofn)) return std::nullopt;
  filterIndex = static_cast<int>(ofn.nFilterIndex);
  return std::wstring(name.data());
}

bool ColorDialog::Execute(HWND owner) {
  const auto chosen = Dialogs().PickColor(owner, color_);
  if (!chosen) return false;
  color_ = *chosen;
  return true;
}

bool OpenDialog::Execute(HWND owner) {
  const auto chosen = Dialogs().PickFile(owner, filter, placesBar);
  if (!chosen) return false;
  fileName = *chosen;
  return true;
}

bool SaveDialog::Execute(HWND owner) {
  const auto chosen = Dialogs().PickSaveFile(owner, filter, filterIndex, defaultExt, fileName);
  if (!chosen) return false;
  fileName = *chosen;
  return true;
}

}  // namespace zq::fw
