// The demo container's main window: the memo control in place, with a menu bar, keyboard
// shortcuts and a status line that shows the drawing's size. Every command goes through the
// control's Automation interface or its persistence and tells the person when it failed.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "Application.h"
#include "Form.h"
#include "Menus.h"
#include "OleHost.h"
#include "StdControls.h"
#include "ZanQuilmo4_TLB.h"

namespace zq::demo {

// The menu commands; WM_COMMAND carries them (tests and the tour post them too).
enum Command : UINT {
  kCmdNew = 101,
  kCmdOpenImage,
  kCmdSavePng,
  kCmdSaveBmp,
  kCmdSaveJpeg,
  kCmdOpenMemo,
  kCmdSaveMemo,
  kCmdExit,
  kCmdCopyPicture = 201,
  kCmdPastePicture,
  kCmdCopyBase64,
  kCmdPasteBase64,
  kCmdDrawEnabled = 301,
  kCmdBorderNone = 311,  // .. kCmdBorderRaised, in the order of the border style's values
  kCmdBorderSingle,
  kCmdBorderSunken,
  kCmdBorderRaised,
  kCmdAreaAutomatic = 321,
  kCmdAreaFixed,
  kCmdAbout = 401,
};

// Runs the std::function<void()> at lParam on the window's thread (for the tour).
inline constexpr UINT kRunOnWindowThread = WM_APP + 1;

// How the control's class was found.
enum class Activation { Registered, Manifest, Module };

class DemoWindow final : public fw::Form {
 public:
  // `folder` holds the control's modules (the demo's own folder).
  explicit DemoWindow(std::wstring folder);
  ~DemoWindow() override;

  // The message loop's first look at a message: the control's keys, then the shortcuts.
  bool PreTranslate(MSG& msg);
  // Opens a file named on the command line: a memo file or an image.
  void OpenFromCommandLine(const std::wstring& name);

  // The work of the commands, also for the tour (no dialogs). Each shows a message and
  // returns false when it fails.
  bool SaveImage(const std::wstring& name);
  bool SaveMemo(const std::wstring& name);
  bool OpenMemo(const std::wstring& name);
  bool OpenImage(const std::wstring& name, bool manual);
  bool CopyBase64();
  // The control's window (a child of this one), and its drawing area's origin in it.
  HWND ControlWindow() const;
  static constexpr POINT kDrawingOrigin{49, 50};

 protected:
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;
  void HandleCreated() override;

 private:
  void BuildMenu();
  void CreateMemo();
  void ApplySettings();
  void RunCommand(UINT command);
  void SaveImageAs(UINT command);
  void SaveMemoAs();
  void AskOpenMemo();
  void AskOpenImage();
  void CopyPicture();
  void PastePicture();
  void PasteBase64();
  void SetDrawEnabled(bool on);
  void SetBorder(UINT command);
  void SetAutomaticArea();
  void AskFixedArea();
  void ShowAbout();
  // True when the memo holds nothing unsaved, or the person agrees to let it go.
  bool ConfirmDiscard();
  // The memo counts as saved from now on.
  void MarkSaved();
  void UpdateStatus();
  // Shows why a member failed: its error description, or `what` alone.
  void ShowFailure(const std::wstring& what, HRESULT hr);
  void ShowMessage(const std::wstring& text, UINT icon);

  std::wstring folder_;
  fw::MenuBar menu_;
  fw::StatusBar* status_ = nullptr;
  fw::OleControl* memo_ = nullptr;
  fw::ComPtr<IZanQuilmoAx4> api_;
  Activation activation_ = Activation::Module;
  fw::Timer statusTimer_;
  // The settings the person chose, given again to a new memo.
  bool drawEnabled_ = true;
  UINT border_ = kCmdBorderSingle;
  bool fixedArea_ = false;
  int areaWidth_ = 640, areaHeight_ = 480;
  std::wstring lastFolder_;
};

}  // namespace zq::demo
