// TZanQuilmoAx4: placing a loaded image on the drawing. The pointer handlers run the
// placement's state; loading images and placing them are not part of this version yet.
#include "ZanQuilmoImpl.h"

namespace zq {

const wchar_t kPasteError[] = L"画像の貼付中にエラーが発生しました。";

void TZanQuilmoAx4::PlacementMove(int x, int y) { DragLast = {x, y}; }

// Nothing can wait to be placed yet (images are not loaded in this version): a placement
// ends at once and back at the pen.
int TZanQuilmoAx4::PasteImage(int, int, int) {
  SelectPenTool();
  return -1;
}

}  // namespace zq
