// TZanQuilmoAx4: the undo history. Two snapshots of both layers (the drawing and the
// background it was drawn on): the latest, and the one before it, which undo returns to.
#include <deque>

#include "Scope.h"
#include "ZanQuilmoImpl.h"

namespace zq {

namespace {

// Gives `target` the size of `like` and the pixels of `source` at (0, 0). The layers are
// same-size 24-bit sections, so this is one copy of their memory; the target holds no
// device context afterwards (four full-size copies must hold no display resources).
void CopyLayer(fw::Bitmap& target, const fw::Bitmap& like, fw::Bitmap& source) {
  if (source.Width() == like.Width() && source.Height() == like.Height()) {
    target.CopyPixels(source);
  } else {
    target.SetHeight(like.Height());
    target.SetWidth(like.Width());
    target.GetCanvas().Draw(0, 0, source);
  }
  target.Dormant();
}

}  // namespace

void TZanQuilmoAx4::TakeUndoSnapshot() {
  if (!HistoryReady()) return;
  {
    const BandsLifted clean(*this);
    std::deque<fw::CanvasLock> locks;
    for (fw::Canvas* c : {&imgDraw->GetCanvas(), &imgTexture->GetCanvas(), &FUndoDrawBmp->GetCanvas(),
                          &FUndoTextureBmp->GetCanvas(), &FLastDrawBmp->GetCanvas(), &FLastTextureBmp->GetCanvas()})
      locks.emplace_back(*c);
    CopyLayer(*FUndoDrawBmp, DrawBitmap(), *FLastDrawBmp);
    CopyLayer(*FUndoTextureBmp, TextureBitmap(), *FLastTextureBmp);
    CopyLayer(*FLastDrawBmp, DrawBitmap(), DrawBitmap());
    CopyLayer(*FLastTextureBmp, TextureBitmap(), TextureBitmap());
  }
  if (KeepUndoBackground) KeepUndoBackground = false;
  else UndoHasBackground = HasBackground;
  sbtnUndo->SetEnabled(true);
  ++snapshots_;
}

void TZanQuilmoAx4::sbtnUndoClick(Control*) {
  if (PlacementPending() || destroyed_) return;
  if (FTabletReady && ZanTCtl->InputEnabled() != 0) ZanTCtl->EnableInput(0);
  // Tablet input comes back on every path, also when the restore fails.
  const auto restoreInput = fw::Finally([this] {
    if (FTabletReady) ZanTCtl->EnableInput(1);
  });
  if (FDrawEnabled == -1 && FUndoDrawBmp && !FUndoDrawBmp->Empty()) {
    DrawBitmap().Assign(*FUndoDrawBmp);
    if (FUndoTextureBmp && !FUndoTextureBmp->Empty()) {
      TextureBitmap().Assign(*FUndoTextureBmp);
      ZanPErs->SetTextureBitmap(&TextureBitmap());
      HasBackground = UndoHasBackground;
    }
    // Both pairs now hold the restored state: a second undo has nothing to go back to.
    for (fw::Bitmap* b : {FUndoDrawBmp.get(), FLastDrawBmp.get()}) {
      b->GetCanvas().Draw(0, 0, DrawBitmap());
      b->Dormant();
    }
    for (fw::Bitmap* b : {FUndoTextureBmp.get(), FLastTextureBmp.get()}) {
      b->GetCanvas().Draw(0, 0, TextureBitmap());
      b->Dormant();
    }
    RefreshDrawImage();
    sbtnUndo->SetEnabled(false);
    Modified();
  }
}

void TZanQuilmoAx4::RefreshDrawImage() {
  fw::CanvasLock lock(imgDraw->GetCanvas());
  imgDraw->GetCanvas().Pen().width = PenWidth;
  if (pnlImg->HandleAllocated()) InvalidateRect(pnlImg->Handle(), nullptr, TRUE);
  DrawBitmap().SetPixelFormat24();
}

void TZanQuilmoAx4::FillImageWhite(fw::Image& image) {
  fw::CanvasLock lock(image.GetCanvas());
  image.GetCanvas().FillWhite(RECT{0, 0, image.Width(), image.Height()});
}

void TZanQuilmoAx4::FreeHistoryBitmaps() {
  FUndoTextureBmp.reset();
  FUndoDrawBmp.reset();
  FLastTextureBmp.reset();
  FLastDrawBmp.reset();
  FPasteBmp.reset();
}

}  // namespace zq
