// The control tree: controls with a name, a parent, bounds, alignment, visibility, an
// enabled state, a hint and a cursor. Windowed controls own a window; graphic controls have
// none and are painted and hit-tested by their parent, which also routes the mouse to them
// and keeps it captured for a graphic control from a button press until the buttons are up.
//
// Coordinates are pixels relative to the parent's client area. Children are kept in creation
// order; later ones lie on top of earlier ones, windowed children on top of graphic ones.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Gdi.h"

namespace zq::fw {

class WinControl;
class Form;

enum class Align { None, Top, Bottom, Left, Right, Client };
enum class MouseButton { Left, Right, Middle };

// Shift state of keys and mouse buttons.
using ShiftState = unsigned;
inline constexpr ShiftState kShift = 1, kAlt = 2, kCtrl = 4, kLeftButton = 8, kRightButton = 16,
                            kMiddleButton = 32;
ShiftState KeyboardShiftState();

// Cursors: the application's own by number (1, 2, ... installed with InstallCursor) and the
// system ones below.
inline constexpr int kCursorDefault = 0;
inline constexpr int kCursorArrow = -2;
inline constexpr int kCursorCross = -3;
inline constexpr int kCursorIBeam = -4;
inline constexpr int kCursorHourGlass = -11;
inline constexpr int kCursorDrag = -12;

using NotifyEvent = std::function<void(class Control&)>;
using MouseEvent = std::function<void(class Control&, MouseButton, ShiftState, int x, int y)>;
using MouseMoveEvent = std::function<void(class Control&, ShiftState, int x, int y)>;
using KeyEvent = std::function<void(class Control&, WORD& key, ShiftState)>;
using KeyPressEvent = std::function<void(class Control&, wchar_t& key)>;

class Control {
 public:
  Control(WinControl* parent, std::wstring name);
  virtual ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  const std::wstring& Name() const { return name_; }
  WinControl* Parent() const { return parent_; }
  Form* GetForm();
  virtual bool IsWindowed() const { return false; }

  int Left() const { return bounds_.left; }
  int Top() const { return bounds_.top; }
  int Width() const { return bounds_.right - bounds_.left; }
  int Height() const { return bounds_.bottom - bounds_.top; }
  RECT BoundsRect() const { return bounds_; }
  void SetBounds(int left, int top, int width, int height);
  void SetLeft(int v) { SetBounds(v, Top(), Width(), Height()); }
  void SetTop(int v) { SetBounds(Left(), v, Width(), Height()); }
  void SetWidth(int v) { SetBounds(Left(), Top(), v, Height()); }
  void SetHeight(int v) { SetBounds(Left(), Top(), Width(), v); }

  Align GetAlign() const { return align_; }
  void SetAlign(Align a);

  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool e);
  // Shown and in a shown parent chain.
  bool Showing() const;

  const std::wstring& Hint() const { return hint_; }
  void SetHint(std::wstring hint);
  bool ShowHint() const { return showHint_; }
  void SetShowHint(bool on);

  int Cursor() const { return cursor_; }
  void SetCursor(int cursor);

  // Repaints the control's area later (Invalidate) or now (Repaint).
  virtual void Invalidate();
  virtual void Repaint();
  POINT ClientToScreen(POINT p) const;
  POINT ScreenToClient(POINT p) const;

  NotifyEvent OnClick;
  MouseEvent OnMouseDown;
  MouseEvent OnMouseUp;
  MouseMoveEvent OnMouseMove;
  NotifyEvent OnResize;

  // Called by the parent (graphic controls) or the window procedure (windowed controls).
  virtual void MouseDown(MouseButton b, ShiftState s, int x, int y);
  virtual void MouseMove(ShiftState s, int x, int y);
  virtual void MouseUp(MouseButton b, ShiftState s, int x, int y);
  virtual void Click();
  // Graphic controls paint here; the device context's origin is the control's top-left.
  virtual void Paint(HDC) {}
  // The parent's window now exists, or is about to go (graphic controls).
  virtual void ParentHandleCreated() {}
  virtual void ParentHandleDestroying() {}

 protected:
  virtual void BoundsChanged(const RECT& old);
  virtual void VisibilityChanged();
  virtual void EnabledChanged() { Invalidate(); }
  // The parent's area of this control changed: repaint it (graphic controls).
  void InvalidateInParent(const RECT& r) const;

 private:
  WinControl* parent_;
  std::wstring name_;
  RECT bounds_{0, 0, 0, 0};
  Align align_ = Align::None;
  bool visible_ = true;
  bool enabled_ = true;
  bool showHint_ = false;
  std::wstring hint_;
  int cursor_ = kCursorDefault;
  bool pressed_ = false;  // a left press inside, for Click on the release
};

struct CreateParams {
  std::wstring className;  // empty: the framework's own window class
  std::wstring caption;
  DWORD style = WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  DWORD exStyle = 0;
};

class WinControl : public Control {
 public:
  WinControl(WinControl* parent, std::wstring name);
  ~WinControl() override;
  bool IsWindowed() const override { return true; }

  // Creates a child control owned by this one.
  template <class T, class... Args>
  T* Add(std::wstring name, Args&&... args) {
    auto child = std::make_unique<T>(this, std::move(name), std::forward<Args>(args)...);
    T* raw = child.get();
    AddControl(std::move(child));
    return raw;
  }
  // Destroys a child of this control (with its window and children); the others close up.
  void RemoveControl(Control* child);
  const std::vector<std::unique_ptr<Control>>& Controls() const { return controls_; }
  // A control of this name in the subtree (depth first), or null.
  Control* FindControl(const std::wstring& name) const;

  // The window, created (with the parents' windows) when it does not exist yet.
  HWND Handle();
  bool HandleAllocated() const { return hwnd_ != nullptr; }
  // The window if it exists, else null; never creates it (an owner for a dialog, say).
  HWND HandleIfAllocated() const { return hwnd_; }
  // Destroys the window and creates it anew with the current parameters (and the children's).
  void RecreateWnd();

  Color GetColor() const { return color_; }
  void SetColor(Color c);
  bool DoubleBuffered() const { return doubleBuffered_; }
  void SetDoubleBuffered(bool on) { doubleBuffered_ = on; }

  virtual RECT ClientRect() const;
  int ClientWidth() const;
  int ClientHeight() const;

  void SetFocus();
  bool Focused() const;
  void Invalidate() override;
  void Repaint() override;
  // Repaints now the part of the window that waits for painting.
  void Update();
  // Paints the control and its child windows into `dc` with the control's top-left corner
  // at (x, y), as the screen would show them (for pictures and printing).
  void PaintTo(HDC dc, int x, int y);

  KeyEvent OnKeyDown;
  KeyEvent OnKeyUp;
  KeyPressEvent OnKeyPress;

  // Lays out the aligned children: top ones in creation order from the top edge, then the
  // bottom ones, then left and right ones in the band between, then client ones in the rest.
  virtual void AlignControls();
  // The graphic child at a client point that receives the mouse there, or null.
  Control* GraphicAt(int x, int y) const;

 protected:
  friend class Control;
  virtual void CreateParamsFor(CreateParams& p);
  virtual LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp);
  LRESULT DefaultProc(UINT msg, WPARAM wp, LPARAM lp);
  // Paints the background (the colour) and then the graphic children.
  virtual void PaintWindow(HDC dc, const RECT& update);
  virtual void PaintBackground(HDC dc, const RECT& client);
  void PaintGraphicChildren(HDC dc, const RECT& update);
  // The window exists now (after creation or re-creation).
  virtual void HandleCreated() {}
  // The window is about to go (state kept in the window must be saved here).
  virtual void HandleDestroying() {}
  // The client area changed size: align the children, then run OnResize.
  virtual void Resized();
  void BoundsChanged(const RECT& old) override;
  void VisibilityChanged() override;
  void EnabledChanged() override;
  // A child moved, changed size or was shown or hidden.
  virtual void ChildBoundsChanged(Control&) {}
  void CreateHandle();
  void DestroyHandle();
  virtual HWND ParentHandle();

 private:
  void AddControl(std::unique_ptr<Control> child);
  void MoveWindowToBounds();
  bool RouteMouse(UINT msg, WPARAM wp, LPARAM lp);
  bool RouteKey(UINT msg, WPARAM& wp);
  void SetCursorFor(POINT client);
  static LRESULT CALLBACK StaticWndProc(HWND, UINT, WPARAM, LPARAM);
  static void RegisterClassOnce();

  HWND hwnd_ = nullptr;
  WNDPROC defProc_ = nullptr;  // the standard control's procedure when subclassing one
  std::vector<std::unique_ptr<Control>> controls_;
  Color color_ = kBtnFace;
  bool doubleBuffered_ = false;
  Control* captured_ = nullptr;  // graphic child that got the last button press
  void AlignOnce();
  bool aligning_ = false;
  bool realignPending_ = false;
  bool recreating_ = false;
  SIZE lastClient_{-1, -1};
};

}  // namespace zq::fw
