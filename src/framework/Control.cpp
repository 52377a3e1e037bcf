#include "Control.h"

#include <windowsx.h>

#include <algorithm>

#include "Application.h"
#include "Form.h"

namespace zq::fw {

ShiftState KeyboardShiftState() {
  ShiftState s = 0;
  if (GetKeyState(VK_SHIFT) < 0) s |= kShift;
  if (GetKeyState(VK_CONTROL) < 0) s |= kCtrl;
  if (GetKeyState(VK_MENU) < 0) s |= kAlt;
  return s;
}

namespace {

const wchar_t kClassName[] = L"ZanQuilmoFrameworkWindow";

ShiftState MouseShiftState(WPARAM wp) {
  ShiftState s = 0;
  if (wp & MK_SHIFT) s |= kShift;
  if (wp & MK_CONTROL) s |= kCtrl;
  if (GetKeyState(VK_MENU) < 0) s |= kAlt;
  if (wp & MK_LBUTTON) s |= kLeftButton;
  if (wp & MK_RBUTTON) s |= kRightButton;
  if (wp & MK_MBUTTON) s |= kMiddleButton;
  return s;
}

RECT Union(const RECT& a, const RECT& b) {
  RECT r;
  UnionRect(&r, &a, &b);
  return r;
}

}  // namespace

// ---- Control ----

Control::Control(WinControl* parent, std::wstring name) : parent_(parent), name_(std::move(name)) {}

Control::~Control() {
  if (parent_ && parent_->captured_ == this) parent_->captured_ = nullptr;
}

Form* Control::GetForm() {
  Control* c = this;
  while (c->parent_) c = c->parent_;
  return dynamic_cast<Form*>(c);
}

void Control::SetBounds(int left, int top, int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  const RECT next{left, top, left + width, top + height};
  if (EqualRect(&next, &bounds_)) return;
  const RECT old = bounds_;
  bounds_ = next;
  BoundsChanged(old);
}

void Control::BoundsChanged(const RECT& old) {
  InvalidateInParent(Union(old, bounds_));
  if (parent_ && align_ != Align::None) parent_->AlignControls();
  if (parent_) parent_->ChildBoundsChanged(*this);
  if (Form* f = GetForm()) f->HintsChanged();
}

void Control::SetAlign(Align a) {
  if (a == align_) return;
  align_ = a;
  if (parent_) parent_->AlignControls();
}

void Control::SetVisible(bool v) {
  if (v == visible_) return;
  visible_ = v;
  VisibilityChanged();
}

void Control::VisibilityChanged() {
  InvalidateInParent(bounds_);
  if (parent_ && align_ != Align::None) parent_->AlignControls();
  if (parent_) parent_->ChildBoundsChanged(*this);
  if (Form* f = GetForm()) f->HintsChanged();
}

void Control::SetEnabled(bool e) {
  if (e == enabled_) return;
  enabled_ = e;
  EnabledChanged();
}

bool Control::Showing() const {
  if (!visible_) return false;
  return parent_ ? parent_->Showing() : true;
}

void Control::SetHint(std::wstring hint) {
  hint_ = std::move(hint);
  if (Form* f = GetForm()) f->HintsChanged();
}

void Control::SetShowHint(bool on) {
  showHint_ = on;
  if (Form* f = GetForm()) f->HintsChanged();
}

void Control::SetCursor(int cursor) {
  cursor_ = cursor;
  // Show the new cursor at once when the pointer is over this control.
  POINT p;
  if (GetCursorPos(&p)) SetCursorPos(p.x, p.y);
}

void Control::InvalidateInParent(const RECT& r) const {
  if (parent_ && parent_->HandleAllocated()) InvalidateRect(parent_->hwnd_, &r, FALSE);
}

void Control::Invalidate() { InvalidateInParent(bounds_); }

void Control::Repaint() {
  Invalidate();
  if (parent_ && parent_->HandleAllocated()) UpdateWindow(parent_->hwnd_);
}

POINT Control::ClientToScreen(POINT p) const {
  if (!parent_) return p;
  p.x += bounds_.left;
  p.y += bounds_.top;
  return parent_->ClientToScreen(p);
}

POINT Control::ScreenToClient(POINT p) const {
  const POINT origin = ClientToScreen({0, 0});
  return {p.x - origin.x, p.y - origin.y};
}

void Control::MouseDown(MouseButton b, ShiftState s, int x, int y) {
  if (b == MouseButton::Left) pressed_ = true;
  if (OnMouseDown) OnMouseDown(*this, b, s, x, y);
}

void Control::MouseMove(ShiftState s, int x, int y) {
  if (OnMouseMove) OnMouseMove(*this, s, x, y);
}

void Control::MouseUp(MouseButton b, ShiftState s, int x, int y) {
  if (b == MouseButton::Left && pressed_) {
    pressed_ = false;
    if (x >= 0 && y >= 0 && x < Width() && y < Height()) Click();
  }
  if (OnMouseUp) OnMouseUp(*this, b, s, x, y);
}

void Control::Click() {
  if (OnClick) OnClick(*this);
}

// ---- WinControl ----

WinControl::WinControl(WinControl* parent, std::wstring name) : Control(parent, std::move(name)) {}

WinControl::~WinControl() {
  DestroyHandle();
  controls_.clear();
}

void WinControl::AddControl(std::unique_ptr<Control> child) {
  Control* raw = child.get();
  controls_.push_back(std::move(child));
  if (raw->IsWindowed() && hwnd_) static_cast<WinControl*>(raw)->CreateHandle();
  else if (hwnd_) raw->ParentHandleCreated();
  if (raw->GetAlign() != Align::None) AlignControls();
}

void WinControl::RemoveControl(Control* child) {
  const auto it = std::find_if(controls_.begin(), controls_.end(), [&](const auto& c) { return c.get() == child; });
  if (it == controls_.end()) return;
  const RECT bounds = child->BoundsRect();
  std::unique_ptr<Control> gone = std::move(*it);
  controls_.erase(it);
  gone.reset();
  if (hwnd_) InvalidateRect(hwnd_, &bounds, TRUE);
  AlignControls();
  if (Form* f = GetForm()) f->HintsChanged();
}

Control* WinControl::FindControl(const std::wstring& name) const {
  for (const auto& c : controls_) {
    if (c->Name() == name) return c.get();
    if (c->IsWindowed())
      if (Control* found = static_cast<WinControl*>(c.get())->FindControl(name)) return found;
  }
  return nullptr;
}

void WinControl::RegisterClassOnce() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &WinControl::StaticWndProc;
  wc.hInstance = FrameworkModule();
  wc.hCursor = nullptr;  // set per control on WM_SETCURSOR
  wc.lpszClassName = kClassName;
  RegisterWindowClass(wc);
}

void WinControl::CreateParamsFor(CreateParams&) {}

HWND WinControl::ParentHandle() { return Parent() ? Parent()->Handle() : nullptr; }

HWND WinControl::Handle() {
  if (!hwnd_) CreateHandle();
  return hwnd_;
}

void WinControl::CreateHandle() {
  if (hwnd_) return;
  RegisterClassOnce();
  CreateParams p;
  CreateParamsFor(p);
  HWND parentWnd = ParentHandle();
  // Making the parent's window made this one too (a parent creates its children's).
  if (hwnd_) return;
  DWORD style = p.style;
  if (Visible()) style |= WS_VISIBLE;
  if (!Enabled()) style |= WS_DISABLED;
  const RECT b = BoundsRect();
  const bool ownClass = p.className.empty();
  HWND h = CreateWindowExW(p.exStyle, ownClass ? kClassName : p.className.c_str(), p.caption.c_str(), style,
                           b.left, b.top, b.right - b.left, b.bottom - b.top, parentWnd, nullptr,
                           FrameworkModule(), ownClass ? this : nullptr);
  CheckWin32(h != nullptr, "CreateWindowEx");
  if (!ownClass) {
    // A standard control: subclass it so that its messages pass through WndProc first.
    hwnd_ = h;
    SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    defProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WinControl::StaticWndProc)));
  }
  lastClient_ = {-1, -1};
  HandleCreated();
  for (const auto& c : controls_)
    if (c->IsWindowed()) static_cast<WinControl*>(c.get())->CreateHandle();
    else c->ParentHandleCreated();
  Resized();
  if (Form* f = GetForm()) f->HintsChanged();
}

void WinControl::DestroyHandle() {
  if (!hwnd_) return;
  DestroyWindow(hwnd_);  // the children's windows go with it; WM_NCDESTROY clears hwnd_
  hwnd_ = nullptr;
}

void WinControl::RecreateWnd() {
  if (!hwnd_ || recreating_) return;
  recreating_ = true;
  const bool focused = Focused();
  DestroyHandle();
  CreateHandle();
  recreating_ = false;
  if (focused) SetFocus();
}

void WinControl::MoveWindowToBounds() {
  const RECT b = BoundsRect();
  SetWindowPos(hwnd_, nullptr, b.left, b.top, b.right - b.left, b.bottom - b.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void WinControl::BoundsChanged(const RECT& old) {
  if (hwnd_) {
    MoveWindowToBounds();  // WM_SIZE realigns the children
  } else if (old.right - old.left != Width() || old.bottom - old.top != Height()) {
    Resized();
  }
  if (Parent() && GetAlign() != Align::None) Parent()->AlignControls();
  if (Parent()) Parent()->ChildBoundsChanged(*this);
  if (Form* f = GetForm()) f->HintsChanged();
}

void WinControl::VisibilityChanged() {
  if (hwnd_) ShowWindow(hwnd_, Visible() ? SW_SHOWNA : SW_HIDE);
  if (Parent() && GetAlign() != Align::None) Parent()->AlignControls();
  if (Parent()) Parent()->ChildBoundsChanged(*this);
  if (Form* f = GetForm()) f->HintsChanged();
}

void WinControl::EnabledChanged() {
  if (hwnd_) EnableWindow(hwnd_, Enabled());
}

RECT WinControl::ClientRect() const {
  RECT r{0, 0, 0, 0};
  if (hwnd_) {
    GetClientRect(hwnd_, &r);
    return r;
  }
  // No window yet: the bounds less the frame that the window will have.
  CreateParams p;
  const_cast<WinControl*>(this)->CreateParamsFor(p);
  RECT frame{0, 0, 0, 0};
  AdjustWindowRectEx(&frame, p.style, FALSE, p.exStyle);
  r.right = std::max(0L, Width() - (frame.right - frame.left));
  r.bottom = std::max(0L, Height() - (frame.bottom - frame.top));
  return r;
}

int WinControl::ClientWidth() const {
  const RECT r = ClientRect();
  return r.right - r.left;
}

int WinControl::ClientHeight() const {
  const RECT r = ClientRect();
  return r.bottom - r.top;
}

void WinControl::SetColor(Color c) {
  color_ = c;
  Invalidate();
}

void WinControl::SetFocus() {
  if (Handle()) ::SetFocus(hwnd_);
}

bool WinControl::Focused() const { return hwnd_ && GetFocus() == hwnd_; }

void WinControl::Invalidate() {
  if (hwnd_) InvalidateRect(hwnd_, nullptr, TRUE);
}

void WinControl::Repaint() {
  if (!hwnd_) return;
  InvalidateRect(hwnd_, nullptr, TRUE);
  UpdateWindow(hwnd_);
}

void WinControl::Update() {
  if (hwnd_) UpdateWindow(hwnd_);
}

void WinControl::Resized() {
  const RECT r = ClientRect();
  const SIZE now{r.right - r.left, r.bottom - r.top};
  if (now.cx == lastClient_.cx && now.cy == lastClient_.cy) return;
  lastClient_ = now;
  AlignControls();
  if (OnResize) OnResize(*this);
}

void WinControl::AlignControls() {
  // Laying out a child can change this control's client area (a scroll bar comes or goes);
  // the layout then runs again, a few times at most.
  if (aligning_) {
    realignPending_ = true;
    return;
  }
  aligning_ = true;
  for (int round = 0; round < 4; ++round) {
    realignPending_ = false;
    AlignOnce();
    if (!realignPending_) break;
  }
  aligning_ = false;
}

void WinControl::AlignOnce() {
  RECT r = ClientRect();
  for (Align pass : {Align::Top, Align::Bottom, Align::Left, Align::Right, Align::Client}) {
    for (const auto& c : controls_) {
      if (c->GetAlign() != pass || !c->Visible()) continue;
      const int w = c->Width(), h = c->Height();
      switch (pass) {
        case Align::Top:
          c->SetBounds(r.left, r.top, r.right - r.left, h);
          r.top += h;
          break;
        case Align::Bottom:
          c->SetBounds(r.left, r.bottom - h, r.right - r.left, h);
          r.bottom -= h;
          break;
        case Align::Left:
          c->SetBounds(r.left, r.top, w, r.bottom - r.top);
          r.left += w;
          break;
        case Align::Right:
          c->SetBounds(r.right - w, r.top, w, r.bottom - r.top);
          r.right -= w;
          break;
        default:
          c->SetBounds(r.left, r.top, r.right - r.left, r.bottom - r.top);
          break;
      }
      r.bottom = std::max(r.bottom, r.top);
      r.right = std::max(r.right, r.left);
    }
  }
}

Control* WinControl::GraphicAt(int x, int y) const {
  for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
    Control* c = it->get();
    if (c->IsWindowed() || !c->Visible() || !c->Enabled()) continue;
    const RECT b = c->BoundsRect();
    if (x >= b.left && x < b.right && y >= b.top && y < b.bottom) return c;
  }
  return nullptr;
}

void WinControl::PaintBackground(HDC dc, const RECT& client) {
  GdiObject<HBRUSH> brush(CreateSolidBrush(Resolve(color_)));
  ::FillRect(dc, &client, brush.get());
}

void WinControl::PaintGraphicChildren(HDC dc, const RECT& update) {
  for (const auto& c : controls_) {
    if (c->IsWindowed() || !c->Visible()) continue;
    const RECT b = c->BoundsRect();
    RECT visible;
    if (!IntersectRect(&visible, &b, &update)) continue;
    SavedDC saved(dc);
    IntersectClipRect(dc, visible.left, visible.top, visible.right, visible.bottom);
    POINT old;
    OffsetViewportOrgEx(dc, b.left, b.top, &old);
    c->Paint(dc);
  }
}

void WinControl::PaintTo(HDC dc, int x, int y) {
  if (!Visible()) return;
  Handle();
  SavedDC saved(dc);
  POINT old;
  OffsetViewportOrgEx(dc, x, y, &old);
  // The frame (border and scroll bars) first, then the client area inside it.
  RECT window, client;
  GetWindowRect(hwnd_, &window);
  GetClientRect(hwnd_, &client);
  POINT origin{0, 0};
  ::ClientToScreen(hwnd_, &origin);
  const int cx = origin.x - window.left, cy = origin.y - window.top;
  SendMessageW(hwnd_, WM_PRINT, reinterpret_cast<WPARAM>(dc), PRF_NONCLIENT);
  OffsetViewportOrgEx(dc, cx, cy, nullptr);
  IntersectClipRect(dc, 0, 0, client.right, client.bottom);
  if (defProc_) SendMessageW(hwnd_, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
  else PaintWindow(dc, client);
  for (const auto& c : controls_)
    if (c->IsWindowed() && c->Visible()) static_cast<WinControl*>(c.get())->PaintTo(dc, c->Left(), c->Top());
}

void WinControl::PaintWindow(HDC dc, const RECT& update) {
  RECT client;
  GetClientRect(hwnd_, &client);
  PaintBackground(dc, client);
  PaintGraphicChildren(dc, update);
}

LRESULT WinControl::DefaultProc(UINT msg, WPARAM wp, LPARAM lp) {
  return defProc_ ? CallWindowProcW(defProc_, hwnd_, msg, wp, lp) : DefWindowProcW(hwnd_, msg, wp, lp);
}

bool WinControl::RouteMouse(UINT msg, WPARAM wp, LPARAM lp) {
  const int x = GET_X_LPARAM(lp), y = GET_Y_LPARAM(lp);
  const ShiftState s = MouseShiftState(wp);
  MouseButton b = MouseButton::Left;
  if (msg == WM_RBUTTONDOWN || msg == WM_RBUTTONUP) b = MouseButton::Right;
  if (msg == WM_MBUTTONDOWN || msg == WM_MBUTTONUP) b = MouseButton::Middle;
  auto relative = [&](Control* c, auto&& call) {
    if (c == this)
      call(this, x, y);
    else
      call(c, x - c->Left(), y - c->Top());
  };
  switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: {
      Control* target = captured_ ? captured_ : GraphicAt(x, y);
      if (!target) target = this;
      if (target != this) captured_ = target;
      SetCapture(hwnd_);
      relative(target, [&](Control* c, int cx, int cy) { c->MouseDown(b, s, cx, cy); });
      return true;
    }
    case WM_MOUSEMOVE: {
      Control* target = captured_ ? captured_ : GraphicAt(x, y);
      if (!target) target = this;
      relative(target, [&](Control* c, int cx, int cy) { c->MouseMove(s, cx, cy); });
      return true;
    }
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
      Control* target = captured_ ? captured_ : GraphicAt(x, y);
      if (!target) target = this;
      if (!(wp & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON))) {
        captured_ = nullptr;
        if (GetCapture() == hwnd_) ReleaseCapture();
      }
      relative(target, [&](Control* c, int cx, int cy) { c->MouseUp(b, s, cx, cy); });
      return true;
    }
    default:
      return false;
  }
}

// Keys pass the form first when it previews them, then this control's handlers; a handler
// that sets the key to 0 consumes it. Returns true when the key was consumed.
bool WinControl::RouteKey(UINT msg, WPARAM& wp) {
  Form* form = GetForm();
  const bool preview = form && form != this && form->KeyPreview();
  const ShiftState s = KeyboardShiftState();
  if (msg == WM_CHAR) {
    wchar_t key = static_cast<wchar_t>(wp);
    if (preview && form->OnKeyPress) form->OnKeyPress(*form, key);
    if (key && OnKeyPress) OnKeyPress(*this, key);
    wp = key;
    return key == 0;
  }
  WORD key = static_cast<WORD>(wp);
  const bool down = msg == WM_KEYDOWN || msg == WM_SYSKEYDOWN;
  if (preview) {
    KeyEvent& formHandler = down ? form->OnKeyDown : form->OnKeyUp;
    if (formHandler) formHandler(*form, key, s);
  }
  KeyEvent& own = down ? OnKeyDown : OnKeyUp;
  if (key && own) own(*this, key, s);
  wp = key;
  return key == 0;
}

void WinControl::SetCursorFor(POINT client) {
  Control* c = GraphicAt(client.x, client.y);
  if (!c) c = this;
  int number = ScreenCursor() != kCursorDefault ? ScreenCursor() : c->Cursor();
  ::SetCursor(CursorHandle(number == kCursorDefault ? kCursorArrow : number));
}

LRESULT WinControl::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_SETFOCUS:
      if (Form* f = GetForm()) f->FocusEntered();
      break;
    case WM_PRINTCLIENT: {
      if (defProc_) break;
      RECT client;
      GetClientRect(hwnd_, &client);
      PaintWindow(reinterpret_cast<HDC>(wp), client);
      return 0;
    }
    case WM_PAINT: {
      if (defProc_) break;
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd_, &ps);
      if (doubleBuffered_) {
        RECT client;
        GetClientRect(hwnd_, &client);
        MemoryDC mem(dc);
        GdiObject<HBITMAP> buffer(CreateCompatibleBitmap(dc, std::max(1L, client.right), std::max(1L, client.bottom)));
        {
          SelectGuard sel(mem.get(), buffer.get());
          PaintWindow(mem.get(), ps.rcPaint);
          BitBlt(dc, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right - ps.rcPaint.left,
                 ps.rcPaint.bottom - ps.rcPaint.top, mem.get(), ps.rcPaint.left, ps.rcPaint.top, SRCCOPY);
        }
      } else {
        PaintWindow(dc, ps.rcPaint);
      }
      EndPaint(hwnd_, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      if (defProc_) break;
      return 1;  // WM_PAINT paints the background, so nothing flickers
    case WM_SIZE: {
      const LRESULT r = DefaultProc(msg, wp, lp);
      Resized();
      return r;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
      if (defProc_) {
        const LRESULT r = DefaultProc(msg, wp, lp);
        RouteMouse(msg, wp, lp);
        return r;
      }
      RouteMouse(msg, wp, lp);
      return 0;
    case WM_CAPTURECHANGED:
      if (reinterpret_cast<HWND>(lp) != hwnd_) captured_ = nullptr;
      break;
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wp) == hwnd_ && LOWORD(lp) == HTCLIENT && !defProc_) {
        POINT p;
        GetCursorPos(&p);
        ::ScreenToClient(hwnd_, &p);
        SetCursorFor(p);
        return TRUE;
      }
      break;
    case WM_GETDLGCODE: {
      // A dialog-style host (IsDialogMessage) asks before it takes Enter or Escape for its
      // default or cancel button: the form keeps the keys it uses now.
      const LRESULT code = DefaultProc(msg, wp, lp);
      const MSG* m = reinterpret_cast<const MSG*>(lp);
      const Form* form = GetForm();
      // (Enter and Escape have the same codes as keys and as characters.)
      if (m && form && (m->message == WM_KEYDOWN || m->message == WM_CHAR) && form->WantsKey(static_cast<WORD>(m->wParam)))
        return code | DLGC_WANTMESSAGE;
      return code;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP:
    case WM_CHAR:
      if (RouteKey(msg, wp)) return 0;
      break;
    case WM_DESTROY:
      for (const auto& c : controls_)
        if (!c->IsWindowed()) c->ParentHandleDestroying();
      HandleDestroying();
      break;
    case WM_NCDESTROY: {
      const LRESULT r = DefaultProc(msg, wp, lp);
      if (defProc_) SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(defProc_));
      SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      hwnd_ = nullptr;
      defProc_ = nullptr;
      captured_ = nullptr;
      return r;
    }
    default:
      break;
  }
  return DefaultProc(msg, wp, lp);
}

LRESULT CALLBACK WinControl::StaticWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<WinControl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (msg == WM_NCCREATE && !self) {
    self = static_cast<WinControl*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    if (self) {
      self->hwnd_ = hwnd;
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
  }
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  try {
    return self->WndProc(msg, wp, lp);
  } catch (...) {
    HandleException();
    return 0;
  }
}

}  // namespace zq::fw
