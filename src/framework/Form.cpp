#include "Form.h"

#include <commctrl.h>

#include "Application.h"

namespace zq::fw {

namespace {
const UINT kUpdateHints = WM_APP + 0x101;
}

Form::Form(std::wstring name) : WinControl(nullptr, std::move(name)) {}

Form::~Form() { Destroying(); }

void Form::Destroying() {
  if (destroying_) return;
  destroying_ = true;
  if (OnDestroy) {
    try {
      OnDestroy(*this);
    } catch (...) {
      HandleException();
    }
  }
  OnDestroy = nullptr;
  DestroyHandle();
}

void Form::FocusEntered() {
  if (OnFocusEnter) OnFocusEnter(*this);
}

void Form::SetCaption(std::wstring caption) {
  caption_ = std::move(caption);
  if (HandleAllocated()) SetWindowTextW(Handle(), caption_.c_str());
}

void Form::SetBorderStyle(BorderStyle style) {
  if (style == border_) return;
  border_ = style;
  RecreateWnd();
}

void Form::SetParentWindow(HWND parent) {
  if (parent == parentWindow_) return;
  const bool wasChild = parentWindow_ != nullptr;
  parentWindow_ = parent;
  if (!HandleAllocated()) return;
  if (wasChild != (parent != nullptr))
    RecreateWnd();  // child and top-level windows differ in style
  else
    ::SetParent(Handle(), parent);
}

HWND Form::ParentHandle() { return parentWindow_; }

void Form::SetClientSize(int width, int height) {
  CreateParams p;
  CreateParamsFor(p);
  RECT r{0, 0, width, height};
  const bool menu = !parentWindow_ && HandleAllocated() && GetMenu(Handle());
  AdjustWindowRectEx(&r, p.style, menu, p.exStyle);
  SetBounds(Left(), Top(), r.right - r.left, r.bottom - r.top);
}

void Form::CreateParamsFor(CreateParams& p) {
  p.caption = caption_;
  if (parentWindow_) {
    p.style = WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | WS_TABSTOP;
    switch (border_) {
      case BorderStyle::Single:
        p.style |= WS_BORDER;
        break;
      case BorderStyle::Sunken:
        p.exStyle |= WS_EX_CLIENTEDGE;
        break;
      case BorderStyle::Raised:
        p.style |= WS_DLGFRAME;
        p.exStyle |= WS_EX_WINDOWEDGE;
        break;
      case BorderStyle::None:
        break;
    }
  } else {
    p.style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    if (sizeable_) p.style |= WS_THICKFRAME | WS_MAXIMIZEBOX;
    if (border_ == BorderStyle::Sunken) p.exStyle |= WS_EX_CLIENTEDGE;
  }
}

void Form::HandleCreated() {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Handle(), nullptr,
                             FrameworkModule(), nullptr);
  if (tooltip_) SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 400);
  hintsPending_ = false;
}

void Form::HandleDestroying() {
  if (tooltip_) DestroyWindow(tooltip_);
  tooltip_ = nullptr;
}

void Form::HintsChanged() {
  if (hintsPending_ || !HandleAllocated()) return;
  hintsPending_ = true;
  PostMessageW(Handle(), kUpdateHints, 0, 0);
}

// A control shows its hint when its own ShowHint is on or its parent's is.
void Form::AddHintTools(WinControl& owner, bool parentShowsHints) {
  for (const auto& c : owner.Controls()) {
    const bool shows = c->ShowHint() || parentShowsHints;
    if (!c->Hint().empty() && shows && c->Visible()) {
      TTTOOLINFOW ti{};
      ti.cbSize = TTTOOLINFOW_V2_SIZE;
      ti.uFlags = TTF_SUBCLASS;
      hintTexts_.push_back(c->Hint());
      ti.lpszText = hintTexts_.back().data();
      if (c->IsWindowed()) {
        ti.uFlags |= TTF_IDISHWND;
        ti.hwnd = owner.Handle();
        ti.uId = reinterpret_cast<UINT_PTR>(static_cast<WinControl*>(c.get())->Handle());
      } else {
        ti.hwnd = owner.Handle();
        ti.uId = reinterpret_cast<UINT_PTR>(c.get());
        ti.rect = c->BoundsRect();
      }
      SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    }
    if (c->IsWindowed()) AddHintTools(*static_cast<WinControl*>(c.get()), c->ShowHint());
  }
}

void Form::UpdateHints() {
  hintsPending_ = false;
  if (!tooltip_) return;
  // Start from no tools: the set of controls and their places may all have changed.
  while (SendMessageW(tooltip_, TTM_GETTOOLCOUNT, 0, 0) > 0) {
    TTTOOLINFOW ti{};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    if (!SendMessageW(tooltip_, TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(&ti))) break;
    SendMessageW(tooltip_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  }
  hintTexts_.clear();
  AddHintTools(*this, ShowHint());
}

LRESULT Form::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kUpdateHints) {
    UpdateHints();
    return 0;
  }
  return WinControl::WndProc(msg, wp, lp);
}

}  // namespace zq::fw
