#include "DrawingState.h"

namespace zq {

std::uint8_t StrokePhase = 0;
bool ImageLoading = false;
bool HasBackground = false;
bool KeepUndoBackground = false;
bool UndoHasBackground = false;
int CurrentTool = 0;
int PenSizeSet = 0;
int SavedCursor = 0;
int SavedPenWidth = 0;
DragPoint DragAnchor;
DragPoint DragLast;
int PasteHalfWidth = 0;
int PasteHalfHeight = 0;
int PenMode = 0;
int PenWidth = 0;
fw::Color PenColor = 0;
fw::Color BackColor = 0;
int ShapeKind = 0;
int FillStyle = 0;
double TextAspect = 0.0;

}  // namespace zq
