// The form: the windowed control at the root of a control tree. It has a caption, a colour,
// a font, key preview (it sees key events before the focused control) and a border style,
// and shows the hints of its controls as tooltips. Its window is either a child of another
// window (the way a container embeds it) or a top-level window.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <string>

#include "Control.h"
#include "Graphics.h"

namespace zq::fw {

enum class BorderStyle { None, Single, Sunken, Raised };

class Form : public WinControl {
 public:
  explicit Form(std::wstring name);
  ~Form() override;

  const std::wstring& Caption() const { return caption_; }
  void SetCaption(std::wstring caption);
  FontState& Font() { return font_; }
  bool KeyPreview() const { return keyPreview_; }
  void SetKeyPreview(bool on) { keyPreview_ = on; }

  BorderStyle GetBorderStyle() const { return border_; }
  // Gives the window the style; a changed style creates the window anew (its child windows
  // too, which get new handles).
  void SetBorderStyle(BorderStyle style);

  // A top-level form the person may resize and maximise (the default is a fixed size).
  bool Sizeable() const { return sizeable_; }
  void SetSizeable(bool on) { sizeable_ = on; }

  // The window the form's window is a child of; null for a top-level form. Changing it
  // moves an existing window there.
  HWND ParentWindow() const { return parentWindow_; }
  void SetParentWindow(HWND parent);
  void SetClientSize(int width, int height);

  // Runs when the form is destroyed, before its controls go. A derived form calls
  // Destroying() first thing in its destructor, so that the handler still finds it whole.
  NotifyEvent OnDestroy;
  // Runs OnDestroy (once) and destroys the window.
  void Destroying();
  // Runs when what the form holds changed in a way its owner keeps (a drawing, a stored
  // property): the ActiveX serving marks the object modified then.
  NotifyEvent OnModified;
  void Modified() {
    if (OnModified) OnModified(*this);
  }
  // Whether the form takes a key itself now (Enter or Escape, say) rather than leave it to a
  // dialog-style host: asked for a key down or character the host's IsDialogMessage or
  // TranslateAccelerator would handle. Without a handler the host has every such key.
  std::function<bool(WORD key)> OnWantsKey;
  bool WantsKey(WORD key) const { return OnWantsKey && OnWantsKey(key); }
  // Runs before (true) and after (false) the form paints a picture of itself for others than
  // the screen (a container's view or data object): what is shown only on the screen is
  // taken out meanwhile.
  std::function<void(bool before)> OnPicture;
  // Runs when a window of the form gets the keyboard focus (a container activates the
  // control then).
  NotifyEvent OnFocusEnter;
  void FocusEntered();

  // The hint of some control changed, or where it is: the tooltips are brought up to date
  // when the messages waiting now have been handled.
  void HintsChanged();
  // Brings the tooltips up to date now.
  void UpdateHints();
  HWND TooltipWindow() const { return tooltip_; }

 protected:
  void CreateParamsFor(CreateParams& p) override;
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;
  void HandleCreated() override;
  void HandleDestroying() override;
  HWND ParentHandle() override;

 private:
  void AddHintTools(WinControl& owner, bool parentShowsHints);

  std::wstring caption_;
  FontState font_ = DefaultFont();
  bool keyPreview_ = false;
  bool sizeable_ = false;
  bool destroying_ = false;
  BorderStyle border_ = BorderStyle::Single;
  HWND parentWindow_ = nullptr;
  HWND tooltip_ = nullptr;
  bool hintsPending_ = false;
  std::deque<std::wstring> hintTexts_;  // the tooltip keeps pointers into these
};

}  // namespace zq::fw
