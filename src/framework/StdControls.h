// The standard controls: panel, scroll box, multi-line text box, status line (windowed);
// speed button, image and shape (graphic).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "Control.h"
#include "Graphics.h"

namespace zq::fw {

enum class Bevel { None, LoweredInner };

class Panel : public WinControl {
 public:
  Panel(WinControl* parent, std::wstring name) : WinControl(parent, std::move(name)) {}
  Bevel GetBevel() const { return bevel_; }
  void SetBevel(Bevel b);

 protected:
  void PaintBackground(HDC dc, const RECT& client) override;

 private:
  Bevel bevel_ = Bevel::None;
};

// Scroll bars appear when a child extends past the client area; scrolling moves the
// children, so their Left and Top are always relative to what is visible.
class ScrollBox : public WinControl {
 public:
  ScrollBox(WinControl* parent, std::wstring name) : WinControl(parent, std::move(name)) {}
  int HorzScrollPos() const { return pos_.x; }
  int VertScrollPos() const { return pos_.y; }
  void ScrollTo(int horz, int vert);
  void AlignControls() override;

 protected:
  void CreateParamsFor(CreateParams& p) override;
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;
  void Resized() override;
  void ChildBoundsChanged(Control&) override { UpdateScrollBars(); }

 private:
  void UpdateScrollBars();
  void OnScroll(int bar, int code);
  struct {
    int x = 0, y = 0;
  } pos_;
  bool updating_ = false;
  bool scrolling_ = false;
};

// A multi-line text box without word wrap and with a vertical scroll bar. Its OnKeyPress
// handler sees each typed character first and may replace it or discard it (set it to 0).
class Memo : public WinControl {
 public:
  Memo(WinControl* parent, std::wstring name);
  std::wstring Text() const;
  void SetText(const std::wstring& text);
  // The lines of the text; a final line break starts no line of its own.
  std::vector<std::wstring> Lines() const;
  FontState& Font() { return font_; }
  void FontChanged();

 protected:
  void CreateParamsFor(CreateParams& p) override;
  void HandleCreated() override;
  void HandleDestroying() override;

 private:
  FontState font_ = DefaultFont();
  GdiObject<HFONT> fontObj_;
  std::wstring savedText_;  // the text while the window does not exist
};

// The platform's status line, one text; aligned to the bottom of its parent, as high as
// the platform makes it.
class StatusBar : public WinControl {
 public:
  StatusBar(WinControl* parent, std::wstring name);
  const std::wstring& Text() const { return text_; }
  void SetText(std::wstring text);

 protected:
  void CreateParamsFor(CreateParams& p) override;
  void HandleCreated() override;

 private:
  std::wstring text_;
};

class GraphicControl : public Control {
 public:
  using Control::Control;
};

// A button with a glyph. In a group (GroupIndex > 0) exactly one button of the same parent
// and group is down; a click on a grouped button puts it down before its OnClick runs.
class SpeedButton : public GraphicControl {
 public:
  using GraphicControl::GraphicControl;
  int GroupIndex() const { return group_; }
  void SetGroupIndex(int g) { group_ = g; }
  bool Down() const { return down_; }
  void SetDown(bool down);
  // The glyph holds NumGlyphs images side by side: the first shown when enabled, the second
  // (if there is one) when disabled. Its bottom-left pixel's colour is transparent.
  Picture& Glyph() { return glyph_; }
  int NumGlyphs() const { return numGlyphs_; }
  void SetNumGlyphs(int n) { numGlyphs_ = n < 1 ? 1 : n; }

  void MouseDown(MouseButton b, ShiftState s, int x, int y) override;
  void MouseMove(ShiftState s, int x, int y) override;
  void MouseUp(MouseButton b, ShiftState s, int x, int y) override;
  void Paint(HDC dc) override;

 private:
  int group_ = 0;
  bool down_ = false;
  bool pushing_ = false;  // the left button went down on it and is still down
  bool inside_ = false;
  Picture glyph_;
  int numGlyphs_ = 1;
};

// Shows a picture at its top-left corner, unscaled. Its canvas is the canvas of the
// picture's bitmap (made empty when there is none).
class Image : public GraphicControl {
 public:
  using GraphicControl::GraphicControl;
  Picture& GetPicture() { return picture_; }
  Canvas& GetCanvas() { return picture_.GetBitmap().GetCanvas(); }
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool t) { transparent_ = t; }
  void Paint(HDC dc) override;

 private:
  Picture picture_;
  bool transparent_ = false;
};

// A rectangle drawn with a pen and a brush, the pen inside the bounds.
class Shape : public GraphicControl {
 public:
  using GraphicControl::GraphicControl;
  PenState& Pen() { return pen_; }
  BrushState& Brush() { return brush_; }
  void Paint(HDC dc) override;

 private:
  PenState pen_;
  BrushState brush_;
};

}  // namespace zq::fw
