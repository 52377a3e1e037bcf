// TZanQuilmoAx4: what the bucket, text, shape and placement tools do on the drawing. The
// pointer handlers run these tools' state (phases, drag anchors, undo steps); painting
// fills, text blocks and figures, and placing a loaded image, are not part of this version:
// these entry points change nothing on the drawing yet.
#include "ZanQuilmoImpl.h"

namespace zq {

const wchar_t kPasteError[] = L"画像の貼付中にエラーが発生しました。";

void TZanQuilmoAx4::BucketFill(int, int) {}

void TZanQuilmoAx4::BeginTextDrag(int, int) {}
void TZanQuilmoAx4::TextDragMove(int x, int y) { DragLast = {x, y}; }
void TZanQuilmoAx4::FinishTextDrag(int, int) {}

void TZanQuilmoAx4::ShapeDragMove(ShiftState, int x, int y) { DragLast = {x, y}; }
void TZanQuilmoAx4::FinishShapeDrag(ShiftState, int, int) {}

void TZanQuilmoAx4::PlacementMove(int x, int y) { DragLast = {x, y}; }

// Nothing can wait to be placed yet (images are not loaded in this version): a placement
// ends at once and back at the pen.
int TZanQuilmoAx4::PasteImage(int, int, int) {
  SelectPenTool();
  return -1;
}

}  // namespace zq
