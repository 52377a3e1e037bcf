// TZanQuilmoAx4: pointer input. Mouse events of the drawing image and the tablet
// component's pen events become work for the current tool. A tablet pen draws its stroke
// once, through the pen events and with pressure: while it touches, the component holds
// back the mouse messages it would make, and those still waiting at pen-up meet the
// releasing phase and are dropped.
#include "ZanQuilmoImpl.h"

#include <cmath>

namespace zq {

namespace {
constexpr long kMousePressure = 0xFFFF;
}

// ---- the end of a stroke ----

void TZanQuilmoAx4::EndStroke(StrokeEnd::History history, StrokeEnd::Source source, StrokeEnd::Pen pen) noexcept {
  if (pen == StrokeEnd::kRestorePen) {
    PenWidth = SavedPenWidth;
    try {
      imgDraw->SetCursor(SavedCursor);
    } catch (...) {
    }
  }
  StrokePhase = kPhaseIdle;
  if (destroyed_) return;
  try {
    if (history == StrokeEnd::kSnapshot) TakeUndoSnapshot();
    else Timer.SetEnabled(true);
  } catch (...) {
    // A snapshot that cannot be taken now is tried again by the timer.
    try {
      Timer.SetEnabled(true);
    } catch (...) {
    }
  }
  if (source == StrokeEnd::kTablet && FTabletReady) {
    try {
      ZanTCtl->SetPreventMouseEvents(0);
    } catch (...) {
    }
  }
}

void TZanQuilmoAx4::ResetStrokePhase() {
  StrokePhase = kPhaseIdle;
  if (FTabletReady) ZanTCtl->SetPreventMouseEvents(0);
}

// ---- mouse ----

void TZanQuilmoAx4::imgDrawMouseDown(Control&, MouseButton, ShiftState, int x, int y) {
  if (destroyed_) return;
  // The tablet filter: with the pen driving the system cursor, a click that no pen
  // contact explains is the pen hovering, not the user pressing.
  const long cursorMode = ZanTCtl->CursorMode();
  if (cursorMode == 1 && FTabletReady && FPenDetected && !FTabletContact) return;
  FTabletContact = false;
  if (FDrawEnabled != -1 || StrokePhase != kPhaseIdle) return;
  // The framework holds the pointer for imgDraw until the button is released.
  switch (CurrentTool) {
    case kToolPen:
    case kToolEraser:
      StrokePhase = kPhaseMouseDrag;
      DrawStrokePoint(4L * x, 4L * y, kMousePressure, 0, true);
      break;
    case kToolBucket:
      // A fill that changed nothing is no step: the last real one stays the one undone.
      if (BucketFill(x, y)) TakeUndoSnapshot();
      break;
    case kToolText:
      if (BeginTextDrag(x, y)) StrokePhase = kPhaseMouseDrag;
      break;
    case kToolShape:
      StrokePhase = kPhaseMouseDrag;
      DragAnchor = DragLast = {x, y};
      bandShown_ = false;
      break;
    case kToolPlacement:
      if (PasteImage(x, y, 1) == 0)
        fw::Dialogs().Message(Handle(), kPasteError, Caption(), fw::MsgButtons::Ok, fw::MsgIcon::None);
      break;
    default:
      break;
  }
}

void TZanQuilmoAx4::imgDrawMouseMove(Control&, ShiftState shift, int x, int y) {
  if (destroyed_) return;
  if (StrokePhase != kPhaseMouseDrag && CurrentTool != kToolPlacement) return;
  switch (CurrentTool) {
    case kToolPen:
    case kToolEraser:
      DrawStrokePoint(4L * x, 4L * y, kMousePressure, 0, false);
      break;
    case kToolText:
      TextDragMove(x, y);
      break;
    case kToolShape:
      ShapeDragMove(shift, x, y);
      break;
    case kToolPlacement:
      PlacementMove(x, y);
      break;
    default:
      break;
  }
}

void TZanQuilmoAx4::imgDrawMouseUp(Control&, MouseButton, ShiftState shift, int x, int y) {
  if (destroyed_ || StrokePhase != kPhaseMouseDrag) return;
  StrokePhase = kPhaseReleasing;
  // Whatever the tool's last step does, the drag ends: idle again, and the timer armed.
  StrokeEnd end(*this, StrokeEnd::kArmTimer);
  switch (CurrentTool) {
    case kToolPen:
    case kToolEraser:
      DrawStrokePoint(4L * x, 4L * y, kMousePressure, 0, false);
      break;
    case kToolText:
      FinishTextDrag(x, y);
      break;
    case kToolShape:
      FinishShapeDrag(shift, x, y);
      break;
    default:
      break;
  }
  // The framework releases the pointer when the button goes up.
}

// ---- tablet ----

// A tablet point (quarter pixels of the scroll box) as a stroke step: scrolled into the
// drawing, with the PacketExtra of the event it came with.
void TZanQuilmoAx4::TabletStrokePoint(long x, long y, long pressure, bool first) {
  DrawStrokePoint(x + 4L * scrbxImg->HorzScrollPos(), y + 4L * scrbxImg->VertScrollPos(), pressure,
                  ZanTCtl->PacketExtra(), first);
}

bool TZanQuilmoAx4::TabletPointOnDrawing(long x, long y) {
  // Quarter pixels of the scroll box's client area, truncated towards zero.
  POINT p{static_cast<LONG>(std::trunc(x / 4.0)), static_cast<LONG>(std::trunc(y / 4.0))};
  ::ClientToScreen(scrbxImg->Handle(), &p);
  return pnlImg->HandleAllocated() && WindowFromPoint(p) == pnlImg->Handle();
}

void TZanQuilmoAx4::ZanTCtl4PenDown(TZanTabletCtl4&, long x, long y, long bfSw, long p, long, short, short, short) {
  if (destroyed_ || !TabletPointOnDrawing(x, y)) return;
  FTabletContact = true;
  if (FDrawEnabled != -1 || (CurrentTool != kToolPen && CurrentTool != kToolEraser) || bfSw != 1 ||
      StrokePhase != kPhaseIdle)
    return;  // the other tools take the pen through the mouse press that follows
  ZanTCtl->SetPreventMouseEvents(1);
  if (Timer.Enabled()) Timer.SetEnabled(false);
  StrokePhase = kPhaseTabletPen;
  TabletStrokePoint(x, y, p, true);
}

void TZanQuilmoAx4::ZanTCtl4PenMove(TZanTabletCtl4&, long x, long y, long, long p, long, short, short, short) {
  if (destroyed_) return;
  if (StrokePhase != kPhaseTabletPen && StrokePhase != kPhaseTabletEraser) return;
  // No hit test: a stroke that leaves the panel goes on.
  TabletStrokePoint(x, y, p, false);
}

void TZanQuilmoAx4::ZanTCtl4PenUp(TZanTabletCtl4&, long x, long y, long, long p, long, short, short, short) {
  FTabletContact = false;
  if (destroyed_ || StrokePhase != kPhaseTabletPen) return;
  StrokePhase = kPhaseReleasing;
  // Also when the last point fails or the delivery below destroys the form: the timer is
  // armed, the phase is idle and the pen's mouse events pass again.
  StrokeEnd end(*this, StrokeEnd::kArmTimer, StrokeEnd::kTablet);
  TabletStrokePoint(x, y, p, false);
  // Mouse messages the pen made meet the releasing phase and are dropped.
  DeliverWaitingMessages();
}

void TZanQuilmoAx4::ZanTCtl4PenDetected(TZanTabletCtl4&, long bDetected, long nType, long) {
  if (bDetected == 0) FPenDetected = false;
  else if (bDetected == 1 && (nType == 1 || nType == 2 || nType == 4 || nType == 5)) FPenDetected = true;
}

// The pen's eraser end erases whatever tool is chosen, 22 pixels wide, and is an undo step
// of its own at once.
void TZanQuilmoAx4::ZanTCtl4EraserDown(TZanTabletCtl4&, long x, long y, long, long p, long, short, short, short) {
  if (destroyed_ || !TabletPointOnDrawing(x, y)) return;
  FTabletContact = true;
  if (FDrawEnabled != -1 || PlacementPending() || StrokePhase != kPhaseIdle) return;
  StrokePhase = kPhaseTabletEraser;
  SavedCursor = imgDraw->Cursor();
  imgDraw->SetCursor(kCursorEraser);
  SavedPenWidth = PenWidth;
  PenWidth = 22;
  SetupPen(0);
  TabletStrokePoint(x, y, p, true);
}

void TZanQuilmoAx4::ZanTCtl4EraserUp(TZanTabletCtl4&, long x, long y, long, long p, long, short, short, short) {
  FTabletContact = false;
  if (destroyed_ || StrokePhase != kPhaseTabletEraser) return;
  StrokePhase = kPhaseReleasing;
  // The pen's width and cursor come back and the erasing is an undo step of its own, also
  // when the last point fails.
  StrokeEnd end(*this, StrokeEnd::kSnapshot, StrokeEnd::kTablet, StrokeEnd::kRestorePen);
  TabletStrokePoint(x, y, p, false);
  DeliverWaitingMessages();
}

}  // namespace zq
