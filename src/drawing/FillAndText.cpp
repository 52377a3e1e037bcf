// TZanQuilmoAx4: the bucket and the text tool, which draw into the drawing bitmap without the
// brush component, holding the drawing canvas's lock while they do.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "Fill.h"
#include "ZanQuilmoImpl.h"

namespace zq {

namespace {

constexpr int kTextLinePixels = 13;  // the smallest height of a placed line

// The smallest height of a box for n lines (held within 32 bits for a huge memo).
int MinimumTextHeight(std::size_t lines) {
  return static_cast<int>(std::min<std::size_t>(lines, 0x7FFFFFFF / kTextLinePixels) * kTextLinePixels);
}

}  // namespace

// ---- the bucket ----

// Fills the region of exactly the clicked colour around (x, y) with PenColor; the region is
// joined through pixels beside, above and below each other, never across a corner (Fill.h).
// False when no pixel changed (outside the drawing, or the region has the colour already).
bool TZanQuilmoAx4::BucketFill(int x, int y) {
  fw::Canvas& c = imgDraw->GetCanvas();
  fw::CanvasLock lock(c);
  const std::int64_t painted = SurfaceFill(DrawBitmap().View(), x, y, PenColor);
  c.Brush() = {fw::BrushStyle::Solid, BackColor};
  if (painted == 0) return false;
  if (pnlImg->HandleAllocated()) InvalidateRect(pnlImg->Handle(), nullptr, FALSE);
  Modified();
  return true;
}

// ---- the text ----

// Measures the memo's text with the drawing canvas's font: TextAspect is the block's height
// (the line height times the number of lines) over its widest line. Without any text to
// place (no lines, or only empty ones) there is nothing to measure or to draw: no drag
// starts, and the text box gets the focus so that the user can type there.
bool TZanQuilmoAx4::BeginTextDrag(int x, int y) {
  const std::vector<std::wstring> lines = memText->Lines();
  int widest = 0, lineHeight = 0;
  {
    fw::Canvas& c = imgDraw->GetCanvas();
    fw::CanvasLock lock(c);
    for (const std::wstring& line : lines) {
      if (line.empty()) continue;
      const SIZE s = c.TextExtent(line);
      widest = std::max<int>(widest, s.cx);
      if (lineHeight == 0) lineHeight = s.cy;
    }
  }
  if (widest <= 0 || lineHeight <= 0) {
    if (memText->Visible()) memText->SetFocus();
    return false;
  }
  TextAspect = static_cast<double>(lineHeight) * static_cast<double>(lines.size()) / widest;
  DragAnchor = DragLast = {x, y};
  bandShown_ = false;
  return true;
}

DragPoint TZanQuilmoAx4::TextBoxPoint(std::size_t lines, int x, int y) const {
  DragPoint p{x, y};
  ConstrainPoint(MinimumTextHeight(lines), false, DragAnchor, TextAspect, p);
  return p;
}

void TZanQuilmoAx4::TextDragMove(int x, int y) {
  MoveRubberBand(kKindRectangle, TextBoxPoint(memText->Lines().size(), x, y));
}

void TZanQuilmoAx4::FinishTextDrag(int x, int y) {
  const std::vector<std::wstring> lines = memText->Lines();
  const DragPoint p = TextBoxPoint(lines.size(), x, y);
  EndRubberBand(kKindRectangle);
  const long long height = std::llabs(static_cast<long long>(p.y) - DragAnchor.y);
  DrawTextBlock(std::min(p.x, DragAnchor.x), std::min(p.y, DragAnchor.y), static_cast<int>(std::min(height, 0x7FFFFFFFLL)),
                lines);
}

// The lines fill the box's height, one line height each, from its top-left corner, in
// PenColor without a background; the font keeps its face and takes the line height as its
// cell height. A box too low for one pixel a line draws nothing.
void TZanQuilmoAx4::DrawTextBlock(int left, int top, int height, const std::vector<std::wstring>& lines) {
  if (lines.empty()) return;
  const int lineHeight = static_cast<int>(std::trunc(static_cast<double>(height) / static_cast<double>(lines.size())));
  if (lineHeight < 1) return;
  fw::Canvas& c = imgDraw->GetCanvas();
  fw::CanvasLock lock(c);
  c.Font().color = PenColor;
  c.Font().height = lineHeight;
  c.Brush().style = fw::BrushStyle::Clear;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const long long y = top + static_cast<long long>(i) * lineHeight;
    if (y > 0x7FFFFFFF) break;
    c.TextOut(left, static_cast<int>(y), lines[i]);
  }
  c.Brush().style = fw::BrushStyle::Solid;
  if (pnlImg->HandleAllocated()) InvalidateRect(pnlImg->Handle(), nullptr, FALSE);
  Modified();
}

}  // namespace zq
