// Dialogs: message boxes, the colour dialog and the open- and save-file dialogs. Every dialog goes
// through one service; the product uses the platform's dialogs, tests install a service
// that answers as scripted.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "Gdi.h"

namespace zq::fw {

enum class MsgButtons { Ok, OkCancel, YesNo };
enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgResult { Ok, Cancel, Yes, No };

class DialogService {
 public:
  virtual ~DialogService() = default;
  // A modal message box owned by `owner` (may be null).
  virtual MsgResult Message(HWND owner, const std::wstring& text, const std::wstring& caption,
                            MsgButtons buttons, MsgIcon icon) = 0;
  // The colour dialog opened on `initial`; empty when cancelled.
  virtual std::optional<Color> PickColor(HWND owner, Color initial) = 0;
  // The open-file dialog; `filter` is "text|pattern|text|pattern..."; empty when cancelled.
  virtual std::optional<std::wstring> PickFile(HWND owner, const std::wstring& filter,
                                               bool placesBar) = 0;
  // The save-file dialog, opened on `fileName` with the filter's `filterIndex`-th (from 1)
  // entry chosen; a name typed without an extension gets the chosen entry's, or `defaultExt`.
  // Asks before replacing a file. Returns the name, and the entry chosen in filterIndex;
  // empty when cancelled.
  virtual std::optional<std::wstring> PickSaveFile(HWND owner, const std::wstring& filter, int& filterIndex,
                                                   const std::wstring& defaultExt, const std::wstring& fileName) = 0;
};

// The service in use: the platform's unless SetDialogService installed another.
DialogService& Dialogs();
// Installs a service (not owned); null brings back the platform's.
void SetDialogService(DialogService* service);

// The platform's dialogs (MessageBoxW, ChooseColorW, GetOpenFileNameW).
class SystemDialogs final : public DialogService {
 public:
  MsgResult Message(HWND owner, const std::wstring& text, const std::wstring& caption,
                    MsgButtons buttons, MsgIcon icon) override;
  std::optional<Color> PickColor(HWND owner, Color initial) override;
  std::optional<std::wstring> PickFile(HWND owner, const std::wstring& filter, bool placesBar) override;
  std::optional<std::wstring> PickSaveFile(HWND owner, const std::wstring& filter, int& filterIndex,
                                           const std::wstring& defaultExt, const std::wstring& fileName) override;
};

// The colour dialog component: opens on the colour last chosen in it (black at first).
class ColorDialog {
 public:
  Color GetColor() const { return color_; }
  void SetColor(Color c) { color_ = c; }
  bool Execute(HWND owner);

 private:
  Color color_ = kBlack;
};

// The open-file dialog component.
class OpenDialog {
 public:
  std::wstring filter;
  bool placesBar = true;
  std::wstring fileName;
  bool Execute(HWND owner);
};

// The save-file dialog component.
class SaveDialog {
 public:
  std::wstring filter;
  int filterIndex = 1;
  std::wstring defaultExt;  // without the dot
  std::wstring fileName;
  bool Execute(HWND owner);
};

// The "a|b|c" filter as the platform wants it: NUL separated, two NULs at the end.
std::wstring FilterForPlatform(const std::wstring& filter);

}  // namespace zq::fw
