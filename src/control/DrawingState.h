// The drawing state of one control: the tool, the pen, the colour, the phase of a stroke in
// progress, the background flags and the anchors of a drag. Every control has its own, so
// two controls on one form (or on two threads) never see each other's choices, drags or
// undo flags. A control's set-up gives it its starting values (SetupControl); the fields it
// leaves alone start at zero.
#pragma once

#include <algorithm>
#include <cstdint>

#include "Gdi.h"
#include "Geometry.h"

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

// Figures (ShapeKind, DrawFigure) and the pen set-up of the rubber band (SetupPen).
inline constexpr int kKindRectangle = 1;
inline constexpr int kKindRoundRect = 2;
inline constexpr int kKindEllipse = 3;
inline constexpr int kKindLine = 4;
inline constexpr int kKindTriangle = 5;
inline constexpr int kSetupRubberBand = 4;

// A position in the drawing (pixels).
using DragPoint = IntPoint;

// A coordinate a caller gives, held far outside any drawing but where adding a margin or half
// an image's size to it cannot overflow (GDI clips at far smaller values anyway).
inline int HeldCoordinate(long long v) { return static_cast<int>(std::clamp<long long>(v, -(1LL << 28), 1LL << 28)); }

struct DrawingState {
  std::uint8_t StrokePhase = 0;   // 0 idle, 1 a release is handled, 2 / 3 tablet pen / eraser, 4 mouse drag
  bool ImageLoading = false;      // an image is being loaded into the drawing
  bool HasBackground = false;     // the background layer holds a placed image
  bool KeepUndoBackground = false;  // the next snapshot leaves UndoHasBackground alone
  bool UndoHasBackground = false;   // HasBackground as it belongs to the undo snapshot
  int CurrentTool = 0;            // kToolPen ... kToolPlacement
  int PenSizeSet = 0;             // which three pen widths are shown, 1 to 4
  int SavedCursor = 0;            // cursor of imgDraw kept over a tablet eraser stroke
  int SavedPenWidth = 0;          // PenWidth kept over a tablet eraser stroke
  DragPoint DragAnchor;           // where a shape or text drag began
  DragPoint DragLast;             // the rubber band's last end; the placement's centre
  int PasteHalfWidth = 0;         // half the size of the image waiting to be placed
  int PasteHalfHeight = 0;
  int PenMode = 0;                // pen medium 0 to 6
  int PenWidth = 0;               // pixels: 1, 2, 3, 8, 14, 22 or 32
  fw::Color PenColor = 0;         // 0x00BBGGRR
  fw::Color BackColor = 0;        // white
  int ShapeKind = 0;              // 1 rectangle ... 5 triangle
  int FillStyle = 0;              // 1 filled, 2 frame on white, 3 frame only
  double TextAspect = 0.0;        // height of a text block over its widest line
};

}  // namespace zq
