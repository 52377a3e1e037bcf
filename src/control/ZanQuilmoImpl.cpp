// TZanQuilmoAx4: set-up, tablet attachment, the one-shot history timer and teardown.
#include "ZanQuilmoImpl.h"

namespace zq {

TZanQuilmoAx4::TZanQuilmoAx4(HINSTANCE module) : ZanQuilmoForm(module) {}

TZanQuilmoAx4::~TZanQuilmoAx4() {
  // The destroy handler runs while the whole object still exists; handlers that the window's
  // destruction still raises find the bitmaps gone and leave them alone.
  Destroying();
  destroyed_ = true;
  *alive_ = false;
  Timer.SetEnabled(false);
}

bool TZanQuilmoAx4::DeliverWaitingMessages() {
  const std::shared_ptr<bool> alive = alive_;
  fw::ProcessMessages();
  return *alive && !destroyed_;
}

void TZanQuilmoAx4::Initialize() {
  OnDestroy = [this](Control& sender) { ActiveFormDestroy(sender); };
  // Enter and Escape are the control's while an image waits to be placed and while the text
  // box has the focus, and Escape with the text tool (the form swallows it then); otherwise a
  // dialog-style host's default and cancel buttons have them.
  OnWantsKey = [this](WORD key) {
    if (key != VK_RETURN && key != VK_ESCAPE) return false;
    if (CurrentTool == kToolPlacement || (CurrentTool == kToolText && key == VK_ESCAPE)) return true;
    return memText->HandleAllocated() && GetFocus() == memText->Handle();
  };
  // A container's picture of the control shows the drawing without its rubber bands.
  OnPicture = [this](bool before) {
    if (before) pictureLift_.emplace(*this);
    else pictureLift_.reset();
  };
  SetupControl();
}

void TZanQuilmoAx4::ActiveFormDestroy(Control&) {
  destroyed_ = true;
  FreeHistoryBitmaps();
}

void TZanQuilmoAx4::SetupControl() {
  // 1. The tablet.
  FFirstTabletAttach = true;
  FTabletReady = AttachTablet();
  // 2, 3. The brush and the eraser.
  ZanPBrs->SetBrushType(0, 0, 0);
  ZanPBrs->InitOptionB(400);
  ZanPBrs->InitOptionC(1);
  ZanPBrs->InitOptionD(2);
  ZanPBrs->InitOptionA(-1);
  ZanPBrs->SetMagnification(100);
  ZanPBrs->SetVaryLineWidth(0);
  ZanPErs->InitOptionB(400);
  ZanPErs->InitOptionC(1);
  ZanPErs->InitOptionD(2);
  ZanPErs->InitOptionA(-1);
  ZanPErs->SetMagnification(100);
  ZanPErs->SetVaryLineWidth(0);
  // 4. The background flags.
  HasBackground = KeepUndoBackground = UndoHasBackground = false;
  // 5, 6. The bitmaps the control owns (a new bitmap is empty, 24 bits per pixel).
  FPasteBmp = std::make_unique<fw::Bitmap>();
  FUndoDrawBmp = std::make_unique<fw::Bitmap>();
  FUndoTextureBmp = std::make_unique<fw::Bitmap>();
  FLastDrawBmp = std::make_unique<fw::Bitmap>();
  FLastTextureBmp = std::make_unique<fw::Bitmap>();
  // 7. The history starts from the layers as they are.
  for (fw::Bitmap* b : {FUndoDrawBmp.get(), FLastDrawBmp.get()}) {
    b->SetSize(imgDraw->Width(), imgDraw->Height());
    b->GetCanvas().Draw(0, 0, DrawBitmap());
  }
  for (fw::Bitmap* b : {FUndoTextureBmp.get(), FLastTextureBmp.get()}) {
    b->SetSize(imgTexture->Width(), imgTexture->Height());
    b->GetCanvas().Draw(0, 0, TextureBitmap());
  }
  // 8. Both pairs hold the starting picture: nothing to undo.
  TakeUndoSnapshot();
  TakeUndoSnapshot();
  sbtnUndo->SetEnabled(false);
  // 9. The control's own state.
  FDrawEnabled = -1;
  FDrawAreaAlign = 0;
  FPenDetected = false;
  FTabletContact = false;
  StrokePhase = kPhaseIdle;
  ImageLoading = false;
  // 10. The cursors.
  const wchar_t* cursors[] = {L"PEN_C", L"ERASER", L"BUCKET", L"TEXT"};
  for (int i = 0; i < 4; ++i) {
    HCURSOR c = LoadCursorW(Resources(), cursors[i]);
    if (!c) throw fw::Error("the cursor resource " + fw::Narrow(cursors[i]) + " is missing");
    fw::InstallCursor(i + 1, c);
  }
  // 11. The option panels share the row of the pen media.
  pnlText->SetTop(2);
  pnlShape1->SetTop(2);
  pnlShape2->SetTop(2);
  // 12. The drawing state.
  CurrentTool = kToolPen;
  imgDraw->SetCursor(kCursorPen);
  SavedCursor = imgDraw->Cursor();
  PenSizeSet = 1;
  ShapeKind = 1;
  FillStyle = 1;
  PenColor = 0x000000;
  BackColor = 0xFFFFFF;
  PenWidth = 3;
  PenMode = 0;
  SavedPenWidth = PenWidth;
  // 13, 14.
  RefreshDrawImage();
  pnlImg->SetDoubleBuffered(true);
}

bool TZanQuilmoAx4::AttachTablet() {
  HWND window = scrbxImg->Handle();
  bool result = true;
  try {
    if (FFirstTabletAttach) {
      ZanTCtl->TabletOptionB(0);
      ZanTCtl->TabletOptionA(400);
      FFirstTabletAttach = false;
      ZanTCtl->SetPreventBehindWriting(0);
    }
    ZanTCtl->AttachWindow(window);
    if (ZanTCtl->DeviceStatus() != 0) {
      ZanTCtl->EnableInput(0);
      result = false;
    }
  } catch (...) {
    // A tablet that cannot be attached is no tablet: the mouse still draws.
    result = false;
  }
  return result;
}

// The history timer never photographs an operation half done: while a stroke, a drag or a
// placement is in progress the snapshot waits, and the end of that operation arms the
// timer again (StrokeEnd; whatever ends a placement does the same).
void TZanQuilmoAx4::TimerTimer(fw::Timer&) {
  Timer.SetEnabled(false);
  if (destroyed_ || StrokePhase != kPhaseIdle || CurrentTool == kToolPlacement) return;
  TakeUndoSnapshot();
}

}  // namespace zq
