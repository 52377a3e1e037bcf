#include "StdControls.h"

#include <commctrl.h>

#include <algorithm>

#include "Application.h"

namespace zq::fw {

namespace {

void Frame(HDC dc, const RECT& r, Color topLeft, Color bottomRight) {
  GdiObject<HPEN> tl(CreatePen(PS_SOLID, 1, Resolve(topLeft)));
  GdiObject<HPEN> br(CreatePen(PS_SOLID, 1, Resolve(bottomRight)));
  SelectGuard sel(dc, tl.get());
  MoveToEx(dc, r.left, r.bottom - 1, nullptr);
  LineTo(dc, r.left, r.top);
  LineTo(dc, r.right - 1, r.top);
  SelectObject(dc, br.get());
  LineTo(dc, r.right - 1, r.bottom - 1);
  LineTo(dc, r.left - 1, r.bottom - 1);
}

}  // namespace

// ---- Panel ----

void Panel::SetBevel(Bevel b) {
  bevel_ = b;
  Invalidate();
}

void Panel::PaintBackground(HDC dc, const RECT& client) {
  WinControl::PaintBackground(dc, client);
  if (bevel_ == Bevel::LoweredInner) Frame(dc, client, kBtnShadow, kBtnHighlight);
}

// ---- ScrollBox ----

void ScrollBox::CreateParamsFor(CreateParams&) {}  // bars are shown only when needed

void ScrollBox::AlignControls() {
  WinControl::AlignControls();
  UpdateScrollBars();
}

void ScrollBox::Resized() {
  WinControl::Resized();
  UpdateScrollBars();
}

// The range covers every visible child at its unscrolled place; a bar shows when the range
// is larger than the client area. Showing a bar narrows the client area, so this repeats
// until nothing changes.
void ScrollBox::UpdateScrollBars() {
  if (!HandleAllocated() || updating_ || scrolling_) return;
  updating_ = true;
  for (int pass = 0; pass < 3; ++pass) {
    int right = 0, bottom = 0;
    for (const auto& c : Controls()) {
      if (!c->Visible() || c->GetAlign() == Align::Client) continue;
      right = std::max(right, c->Left() + c->Width() + pos_.x);
      bottom = std::max(bottom, c->Top() + c->Height() + pos_.y);
    }
    const RECT before = ClientRect();
    for (int bar : {SB_HORZ, SB_VERT}) {
      const int extent = bar == SB_HORZ ? right : bottom;
      const int page = bar == SB_HORZ ? before.right : before.bottom;
      SCROLLINFO si{sizeof si, SIF_RANGE | SIF_PAGE | SIF_POS, 0, std::max(0, extent - 1),
                    static_cast<UINT>(std::max(0, page)), bar == SB_HORZ ? pos_.x : pos_.y, 0};
      ShowScrollBar(Handle(), bar, extent > page);
      SetScrollInfo(Handle(), bar, &si, TRUE);
    }
    // Keep the position within the new range.
    const RECT after = ClientRect();
    const int maxH = std::max(0, right - static_cast<int>(after.right));
    const int maxV = std::max(0, bottom - static_cast<int>(after.bottom));
    if (pos_.x > maxH || pos_.y > maxV) {
      updating_ = false;
      ScrollTo(std::min<int>(pos_.x, maxH), std::min<int>(pos_.y, maxV));
      updating_ = true;
    }
    if (EqualRect(&before, &after)) break;
  }
  updating_ = false;
}

void ScrollBox::ScrollTo(int horz, int vert) {
  horz = std::max(0, horz);
  vert = std::max(0, vert);
  const int dx = horz - pos_.x, dy = vert - pos_.y;
  if (dx == 0 && dy == 0) return;
  pos_ = {horz, vert};
  scrolling_ = true;
  for (const auto& c : Controls())
    if (c->GetAlign() == Align::None) c->SetBounds(c->Left() - dx, c->Top() - dy, c->Width(), c->Height());
  scrolling_ = false;
  if (HandleAllocated()) {
    SetScrollPos(Handle(), SB_HORZ, pos_.x, TRUE);
    SetScrollPos(Handle(), SB_VERT, pos_.y, TRUE);
    Invalidate();
  }
}

void ScrollBox::OnScroll(int bar, int code) {
  SCROLLINFO si{sizeof si, SIF_ALL, 0, 0, 0, 0, 0};
  GetScrollInfo(Handle(), bar, &si);
  int pos = si.nPos;
  const int line = 16;
  switch (code) {
    case SB_LINEUP: pos -= line; break;
    case SB_LINEDOWN: pos += line; break;
    case SB_PAGEUP: pos -= static_cast<int>(si.nPage); break;
    case SB_PAGEDOWN: pos += static_cast<int>(si.nPage); break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: pos = si.nTrackPos; break;
    case SB_TOP: pos = si.nMin; break;
    case SB_BOTTOM: pos = si.nMax; break;
    default: return;
  }
  pos = std::clamp(pos, 0, std::max(0, si.nMax - static_cast<int>(si.nPage) + 1));
  if (bar == SB_HORZ)
    ScrollTo(pos, pos_.y);
  else
    ScrollTo(pos_.x, pos);
}

LRESULT ScrollBox::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_HSCROLL:
      OnScroll(SB_HORZ, LOWORD(wp));
      return 0;
    case WM_VSCROLL:
      OnScroll(SB_VERT, LOWORD(wp));
      return 0;
    case WM_MOUSEWHEEL:
      ScrollTo(pos_.x, pos_.y - GET_WHEEL_DELTA_WPARAM(wp) / WHEEL_DELTA * 48);
      UpdateScrollBars();
      return 0;
    default:
      return WinControl::WndProc(msg, wp, lp);
  }
}

// ---- Memo ----

Memo::Memo(WinControl* parent, std::wstring name) : WinControl(parent, std::move(name)) { SetColor(kWindow); }

void Memo::CreateParamsFor(CreateParams& p) {
  p.className = L"EDIT";
  // No word wrap (the text scrolls sideways instead), a vertical bar, a flat one-pixel border.
  p.style = WS_CHILD | WS_CLIPSIBLINGS | WS_TABSTOP | WS_VSCROLL | WS_BORDER | ES_MULTILINE |
            ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_WANTRETURN | ES_NOHIDESEL;
}

void Memo::HandleCreated() {
  FontChanged();
  SetWindowTextW(Handle(), savedText_.c_str());
}

void Memo::HandleDestroying() { savedText_ = Text(); }

void Memo::FontChanged() {
  LOGFONTW lf{};
  lf.lfHeight = font_.height;
  lf.lfCharSet = font_.charset;
  wcsncpy(lf.lfFaceName, font_.face.c_str(), LF_FACESIZE - 1);
  fontObj_.reset(CreateFontIndirectW(&lf));
  if (HandleAllocated()) SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(fontObj_.get()), TRUE);
}

StatusBar::StatusBar(WinControl* parent, std::wstring name) : WinControl(parent, std::move(name)) {
  SetAlign(Align::Bottom);
  SetHeight(22);  // until the window tells its own height
}

void StatusBar::CreateParamsFor(CreateParams& p) {
  p.className = STATUSCLASSNAMEW;
  p.style = WS_CHILD | WS_CLIPSIBLINGS | CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER;
}

void StatusBar::HandleCreated() {
  // The height the platform gives a status line with its font.
  const HDC dc = GetDC(Handle());
  if (dc) {
    const HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageW(Handle(), WM_GETFONT, 0, 0));
    const HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
    TEXTMETRICW tm{};
    if (GetTextMetricsW(dc, &tm)) SetHeight(tm.tmHeight + 2 * GetSystemMetrics(SM_CYBORDER) + 6);
    if (old) SelectObject(dc, old);
    ReleaseDC(Handle(), dc);
  }
  SendMessageW(Handle(), SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text_.c_str()));
}

void StatusBar::SetText(std::wstring text) {
  text_ = std::move(text);
  if (HandleAllocated()) SendMessageW(Handle(), SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text_.c_str()));
}

std::wstring Memo::Text() const {
  if (!HandleAllocated()) return savedText_;
  HWND h = const_cast<Memo*>(this)->Handle();
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(h)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(h, text.data(), static_cast<int>(text.size()))));
  return text;
}

void Memo::SetText(const std::wstring& text) {
  savedText_ = text;
  if (HandleAllocated()) SetWindowTextW(Handle(), text.c_str());
}

std::vector<std::wstring> Memo::Lines() const {
  const std::wstring text = Text();
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of(L"\r\n", start);
    if (end == std::wstring::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + (text.compare(end, 2, L"\r\n") == 0 ? 2 : 1);
  }
  return lines;
}

// ---- SpeedButton ----

void SpeedButton::SetDown(bool down) {
  if (down == down_) return;
  down_ = down;
  if (down_ && group_ != 0 && Parent())
    for (const auto& c : Parent()->Controls())
      if (auto* b = dynamic_cast<SpeedButton*>(c.get()); b && b != this && b->group_ == group_ && b->down_) {
        b->down_ = false;
        b->Invalidate();
      }
  Invalidate();
}

void SpeedButton::MouseDown(MouseButton b, ShiftState s, int x, int y) {
  if (b == MouseButton::Left) {
    pushing_ = true;
    inside_ = true;
    Repaint();
  }
  Control::MouseDown(b, s, x, y);
}

void SpeedButton::MouseMove(ShiftState s, int x, int y) {
  if (pushing_) {
    const bool inside = x >= 0 && y >= 0 && x < Width() && y < Height();
    if (inside != inside_) {
      inside_ = inside;
      Repaint();
    }
  }
  Control::MouseMove(s, x, y);
}

void SpeedButton::MouseUp(MouseButton b, ShiftState s, int x, int y) {
  if (b == MouseButton::Left && pushing_) {
    pushing_ = false;
    const bool inside = x >= 0 && y >= 0 && x < Width() && y < Height();
    if (inside && group_ != 0) SetDown(true);
    Invalidate();
  }
  Control::MouseUp(b, s, x, y);
}

void SpeedButton::Paint(HDC dc) {
  RECT r{0, 0, Width(), Height()};
  const bool sunken = down_ || (pushing_ && inside_);
  GdiObject<HBRUSH> face(CreateSolidBrush(Resolve(kBtnFace)));
  if (down_ && !(pushing_ && inside_)) {
    // A button that stays down shows a lighter, checkered face.
    const WORD bits[8] = {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55};
    GdiObject<HBITMAP> pattern(CreateBitmap(8, 8, 1, 1, bits));
    GdiObject<HBRUSH> checker(CreatePatternBrush(pattern.get()));
    const COLORREF oldText = SetTextColor(dc, Resolve(kBtnFace));
    const COLORREF oldBk = SetBkColor(dc, Resolve(kBtnHighlight));
    ::FillRect(dc, &r, checker.get());
    SetTextColor(dc, oldText);
    SetBkColor(dc, oldBk);
  } else {
    ::FillRect(dc, &r, face.get());
  }
  DrawEdge(dc, &r, sunken ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
  if (glyph_.Empty()) return;
  const int gw = glyph_.Width() / numGlyphs_, gh = glyph_.Height();
  const int index = !Enabled() && numGlyphs_ >= 2 ? 1 : 0;
  const int gx = (Width() - gw) / 2 + (sunken ? 1 : 0), gy = (Height() - gh) / 2 + (sunken ? 1 : 0);
  // Only the inside of the frame shows the glyph.
  SavedDC saved(dc);
  IntersectClipRect(dc, 2, 2, Width() - 2, Height() - 2);
  glyph_.DrawPart(dc, gx, gy, index * gw, 0, gw, gh, true);
}

// ---- Image ----

void Image::Paint(HDC dc) { picture_.Draw(dc, 0, 0, transparent_); }

// ---- Shape ----

void Shape::Paint(HDC dc) {
  const int pw = std::max(pen_.width, 1);
  GdiObject<HPEN> pen(CreatePen(pen_.style == PenStyle::Dot ? PS_DOT : PS_SOLID, pw, Resolve(pen_.color)));
  GdiObject<HBRUSH> brush(brush_.style == BrushStyle::Clear ? nullptr : CreateSolidBrush(Resolve(brush_.color)));
  SelectGuard p(dc, pen.get());
  SelectGuard b(dc, brush ? static_cast<HGDIOBJ>(brush.get()) : GetStockObject(NULL_BRUSH));
  // The pen lies inside the bounds: its centre line is half a pen width in.
  const int x = pw / 2, y = pw / 2;
  ::Rectangle(dc, x, y, x + Width() - pw + 1, y + Height() - pw + 1);
}

}  // namespace zq::fw
