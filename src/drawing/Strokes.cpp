// TZanQuilmoAx4: pressure strokes. Every point of a stroke reaches the brush or the eraser
// through DrawStrokePoint, which hands the component the panel's window device context and
// the drawing bitmap's: the component paints the new piece into both, so it shows at once
// and the panel is never repainted during a stroke. Nothing here allocates: a point costs
// one window device context and one canvas on the stack.
#include "ZanQuilmoImpl.h"

namespace zq {

void TZanQuilmoAx4::DrawStrokePoint(long x, long y, long pressure, long extra, bool first) {
  fw::WindowDC window(pnlImg->Handle());
  fw::Canvas screen(window.get(), fw::Canvas::kPassThrough);
  fw::Canvas& drawing = imgDraw->GetCanvas();
  fw::CanvasLock drawingLock(drawing);
  fw::CanvasLock screenLock(screen);
  HDC bitmap = drawing.Handle();
  // The component is chosen at the first point and keeps the stroke to its last: the
  // release's phase must not send the pen's eraser end's last point to the brush.
  if (first) {
    strokeErases_ = CurrentTool == kToolEraser || StrokePhase == kPhaseTabletEraser;
    Modified();
  }
  if (strokeErases_) {
    fw::CanvasLock backgroundLock(imgTexture->GetCanvas());
    if (first) {
      ZanPErs->SetMaxLineWidth(static_cast<short>(PenWidth));
      ZanPErs->BeginStroke(window.get(), bitmap, x, y, pressure);
    } else {
      ZanPErs->ContinueStroke(window.get(), bitmap, x, y, pressure, extra);
    }
  } else if (first) {
    ZanPBrs->SetColor(PenColor);
    ZanPBrs->SetMaxLineWidth(static_cast<short>(PenWidth));
    ZanPBrs->BeginStroke(window.get(), bitmap, x, y, pressure);
  } else {
    ZanPBrs->ContinueStroke(window.get(), bitmap, x, y, pressure, extra);
  }
}

}  // namespace zq
