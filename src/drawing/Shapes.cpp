// TZanQuilmoAx4: shapes and the rubber band. A figure is drawn between two points of the
// drawing with one of the pen set-ups; the rubber band is the same figure dotted and combined
// with the drawing by exclusive-or, so that drawing it again removes it. The band lives in
// the drawing bitmap itself while a drag lasts (the text box uses it too); whatever a figure
// changes is shown on the screen at once.
#include <algorithm>

#include "ZanQuilmoImpl.h"

namespace zq {

void TZanQuilmoAx4::SetupPen(int setup) {
  fw::Canvas& c = imgDraw->GetCanvas();
  fw::CanvasLock lock(c);
  fw::PenState& pen = c.Pen();
  fw::BrushState& brush = c.Brush();
  pen.style = fw::PenStyle::Solid;
  pen.mode = fw::PenMode::Copy;
  switch (setup) {
    case 1:  // filled
      pen.color = PenColor;
      pen.width = 1;
      brush.style = fw::BrushStyle::Solid;
      brush.color = PenColor;
      break;
    case 2:  // frame, white inside
      pen.color = PenColor;
      pen.width = PenWidth;
      brush.style = fw::BrushStyle::Solid;
      brush.color = BackColor;
      break;
    case 3:  // frame, the inside left alone
      pen.color = PenColor;
      pen.width = PenWidth;
      brush.style = fw::BrushStyle::Clear;
      break;
    case kSetupRubberBand:  // dotted, inverting
      pen.style = fw::PenStyle::Dot;
      pen.mode = fw::PenMode::Xor;
      pen.color = BackColor;
      pen.width = 1;
      brush.style = fw::BrushStyle::Clear;
      break;
    default:
      break;
  }
}

void TZanQuilmoAx4::DrawFigure(int kind, int setup, DragPoint a, DragPoint b) {
  if (kind < kKindRectangle || kind > kKindTriangle) return;
  SetupPen(setup);
  fw::Canvas& c = imgDraw->GetCanvas();
  fw::CanvasLock lock(c);
  RECT bounds{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
  switch (kind) {
    case kKindRectangle:
      c.Rectangle(a.x, a.y, b.x, b.y);
      break;
    case kKindRoundRect: {
      const int r = RoundRectCorner(a, b);
      c.RoundRect(a.x, a.y, b.x, b.y, r, r);
      break;
    }
    case kKindEllipse:
      c.Ellipse(a.x, a.y, b.x, b.y);
      break;
    case kKindLine:
      if (setup != kSetupRubberBand) c.Pen().width = PenWidth;  // a line always has the pen's width
      c.MoveTo(a.x, a.y);
      c.LineTo(b.x, b.y);
      break;
    case kKindTriangle: {
      IntPoint cc, dd;
      TriangleBase(a, b, cc, dd);
      // The band also shows the segment from the apex to the pointer.
      if (setup == kSetupRubberBand)
        c.Polygon({{a.x, a.y}, {cc.x, cc.y}, {dd.x, dd.y}, {a.x, a.y}, {b.x, b.y}});
      else
        c.Polygon({{a.x, a.y}, {cc.x, cc.y}, {dd.x, dd.y}});
      bounds = {std::min<LONG>({bounds.left, cc.x, dd.x}), std::min<LONG>({bounds.top, cc.y, dd.y}),
                std::max<LONG>({bounds.right, cc.x, dd.x}), std::max<LONG>({bounds.bottom, cc.y, dd.y})};
      break;
    }
  }
  c.Brush() = {fw::BrushStyle::Solid, BackColor};
  ShowDrawingChange(bounds, c.Pen().width);
}

void TZanQuilmoAx4::ShowDrawingChange(RECT r, int penWidth) {
  if (!pnlImg->HandleAllocated()) return;
  const int margin = std::clamp(penWidth, 1, 1000) + 2;
  r = {HeldCoordinate(r.left) - margin, HeldCoordinate(r.top) - margin, HeldCoordinate(r.right) + margin,
       HeldCoordinate(r.bottom) + margin};
  InvalidateRect(pnlImg->Handle(), &r, FALSE);
}

void TZanQuilmoAx4::MoveRubberBand(int kind, DragPoint p) {
  if (bandShown_) DrawFigure(kind, kSetupRubberBand, DragAnchor, DragLast);  // removes the old band
  DrawFigure(kind, kSetupRubberBand, DragAnchor, p);
  bandShown_ = true;
  bandKind_ = kind;
  DragLast = p;
}

// Each band in the drawing once more: out if it was in, in again if it was lifted.
void TZanQuilmoAx4::XorBands() {
  if (bandShown_) DrawFigure(bandKind_, kSetupRubberBand, DragAnchor, DragLast);
  if (placementBand_) XorPlacementBox(placementCentre_);
}

TZanQuilmoAx4::BandsLifted::BandsLifted(TZanQuilmoAx4& control) : control_(control) {
  if (control_.bandLifts_ == 0 && (control_.bandShown_ || control_.placementBand_)) {
    control_.XorBands();  // when this throws, nothing was lifted or counted
    lifted_ = true;
  }
  ++control_.bandLifts_;
}

TZanQuilmoAx4::BandsLifted::~BandsLifted() {
  --control_.bandLifts_;
  if (!lifted_) return;
  try {
    control_.XorBands();
  } catch (...) {  // the drawing is whole; only the screen lacks the band until it moves
  }
}

void TZanQuilmoAx4::EndRubberBand(int kind) {
  if (bandShown_) DrawFigure(kind, kSetupRubberBand, DragAnchor, DragLast);
  bandShown_ = false;
  if (pnlImg->HandleAllocated()) UpdateWindow(pnlImg->Handle());  // the drawing without the band, now
}

// Shift is read at every move and at the release: it may be pressed or let go mid-drag.
DragPoint TZanQuilmoAx4::ShapePoint(ShiftState shift, int x, int y) const {
  DragPoint p{x, y};
  if (shift & fw::kShift) ConstrainPoint(0, ShapeKind == kKindLine || ShapeKind == kKindTriangle, DragAnchor, 1.0, p);
  return p;
}

void TZanQuilmoAx4::ShapeDragMove(ShiftState shift, int x, int y) { MoveRubberBand(ShapeKind, ShapePoint(shift, x, y)); }

void TZanQuilmoAx4::FinishShapeDrag(ShiftState shift, int x, int y) {
  const DragPoint p = ShapePoint(shift, x, y);
  EndRubberBand(ShapeKind);
  DrawFigure(ShapeKind, FillStyle, DragAnchor, p);
  Modified();
}

}  // namespace zq
