// The drawing state: held once per loaded module and shared by every control in the
// process (a stroke in progress in one control is in progress for all of them). Everything
// runs on the thread of the apartment that created the controls, so there are no locks.
// All of it is zero when the module loads; each control's set-up gives it its starting
// values (SetupControl).
#pragma once

#include <cstdint>

#include "Gdi.h"

namespace zq {

// Tools (CurrentTool).
inline constexpr int kToolPen = 1;
inline constexpr int kToolEraser = 2;
inline constexpr int kToolBucket = 3;
inline constexpr int kToolText = 4;
inline constexpr int kToolShape = 5;
inline constexpr int kToolPlacement = 6;

// Stroke phases (StrokePhase).
inline constexpr std::uint8_t kPhaseIdle = 0;
inline constexpr std::uint8_t kPhaseReleasing = 1;
inline constexpr std::uint8_t kPhaseTabletPen = 2;
inline constexpr std::uint8_t kPhaseTabletEraser = 3;
inline constexpr std::uint8_t kPhaseMouseDrag = 4;

struct DragPoint {
  int x = 0, y = 0;
};

extern std::uint8_t StrokePhase;   // 0 idle, 1 a release is handled, 2 / 3 tablet pen / eraser, 4 mouse drag
extern bool ImageLoading;          // an image is being loaded into the drawing
extern bool HasBackground;         // the background layer holds a placed image
extern bool KeepUndoBackground;    // the next snapshot leaves UndoHasBackground alone
extern bool UndoHasBackground;     // HasBackground as it belongs to the undo snapshot
extern int CurrentTool;            // kToolPen ... kToolPlacement
extern int PenSizeSet;             // which three pen widths are shown, 1 to 4
extern int SavedCursor;            // cursor of imgDraw kept over a tablet eraser stroke
extern int SavedPenWidth;          // PenWidth kept over a tablet eraser stroke
extern DragPoint DragAnchor;       // where a shape or text drag began
extern DragPoint DragLast;         // the rubber band's last end; the placement's centre
extern int PasteHalfWidth;         // half the size of the image waiting to be placed
extern int PasteHalfHeight;
extern int PenMode;                // pen medium 0 to 6
extern int PenWidth;               // pixels: 1, 2, 3, 8, 14, 22 or 32
extern fw::Color PenColor;         // 0x00BBGGRR
extern fw::Color BackColor;        // white
extern int ShapeKind;              // 1 rectangle ... 5 triangle
extern int FillStyle;              // 1 filled, 2 frame on white, 3 frame only
extern double TextAspect;          // height of a text block over its widest line

// An image is waiting to be placed (the placement tool is active).
inline bool PlacementPending() { return CurrentTool == kToolPlacement; }

}  // namespace zq
