// TZanQuilmoAx4: image files in and out of the drawing. A loaded image does not replace the
// drawing: it waits to be placed (FPasteBmp), shrunk to the drawing area when the user wants,
// and is copied onto both layers where the user clicks, presses Enter, or where the host says.
// While it waits, a rectangle of its size follows the pointer (the exclusive-or rubber band).
#include <algorithm>
#include <cmath>

#include "Dialogs.h"
#include "ImageFiles.h"
#include "Resample.h"
#include "Scope.h"
#include "ZanQuilmoImpl.h"

namespace zq {

const wchar_t kPasteError[] = L"画像の貼付中にエラーが発生しました。";
const wchar_t kShrinkQuestion[] =
    L"描画領域より大きな画像を表示しようとしています。\r\n\r\n描画領域に合わせて画像を縮小しますか？";
const wchar_t kPasteQuestion[] = L"画像を貼り付けます。";

// ---- files ----

long TZanQuilmoAx4::SaveToFile(const std::wstring& name) {
  try {
    const BandsLifted clean(*this);
    fw::CanvasLock lock(imgDraw->GetCanvas());
    return SaveImageFile(Resources(), DrawBitmap(), name);
  } catch (...) {
    return 0;
  }
}

long TZanQuilmoAx4::LoadFromFile(const std::wstring& name, long manual, long x, long y) {
  try {
    const int asked = manual != 0 ? 1 : 0;
    int r = LoadImageFile(name, asked);
    if (r == -1 && asked == 0) {
      // Right after loading, DragLast is the image's half size: its top-left lands at (x, y).
      r = PasteImage(HeldCoordinate(x) + DragLast.x, HeldCoordinate(y) + DragLast.y, 0);
      Timer.SetEnabled(true);
      AttachTablet();
    }
    return r;
  } catch (...) {
    return 0;
  }
}

int TZanQuilmoAx4::LoadImageFile(const std::wstring& name, int manual) {
  // A placement still waiting is given up first: its rectangle must not stay in the drawing.
  if (CurrentTool == kToolPlacement) PasteImage(0, 0, 2);
  ImageLoading = true;
  const auto loaded = fw::Finally([this] { ImageLoading = false; });
  try {
    fw::Bitmap working;
    int r = LoadBitmapFile(Resources(), working, name);
    if (r == -1) r = FitPasteImage(working, manual);
    if (r != -1) return r;
    PasteHalfWidth = FPasteBmp->Width() / 2;
    PasteHalfHeight = FPasteBmp->Height() / 2;
    if (!DeliverWaitingMessages()) return 0;
    PlacementAtCorner();
    if (manual == 1) BeginPlacement();
    return -1;
  } catch (...) {
    return 0;
  }
}

// ---- fitting ----

// The codes read as bits: 1 taller than the area, 2 wider, 4 the width decides; 0 fits; -1
// an empty image. An area of no size takes any image as it is.
int TZanQuilmoAx4::ClassifyImageSize(const fw::Bitmap& image) const {
  const long long h = image.Height(), w = image.Width();
  if (h * w <= 0) return -1;
  const long long H = pnlImg->Height(), W = pnlImg->Width();
  if (H <= 0 || W <= 0) return 0;
  const double a = static_cast<double>(H) / static_cast<double>(W), b = static_cast<double>(h) / static_cast<double>(w);
  if (a > b && W < w) return H < h ? 7 : 6;
  if (a > b || H >= h) return 0;
  return W < w ? 3 : 1;
}

int TZanQuilmoAx4::FitPasteImage(fw::Bitmap& image, int manual) {
  try {
    const int W = pnlImg->Width(), H = pnlImg->Height();
    const int c = ClassifyImageSize(image);
    if (c < 0) return 0;
    if (c > 0 && manual == 1 &&
        fw::Dialogs().Message(HandleIfAllocated(), kShrinkQuestion, Caption(), fw::MsgButtons::YesNo,
                              fw::MsgIcon::Question) == fw::MsgResult::Yes) {
      ShrinkImage(image, c, W, H);
    }
    FPasteBmp->Assign(image);
    return -1;
  } catch (...) {
    return 0;
  }
}

void TZanQuilmoAx4::ShrinkImage(fw::Bitmap& image, int fit, int areaWidth, int areaHeight) {
  const bool penCursor = ZanTCtl->CursorMode() != 1;
  if (penCursor) ZanTCtl->SetPenCursor(9);
  else fw::SetScreenCursor(fw::kCursorHourGlass);
  const auto restore = fw::Finally([&] {
    if (penCursor) ZanTCtl->SetPenCursor(1);
    else fw::SetScreenCursor(fw::kCursorDefault);
  });
  const double w = image.Width(), h = image.Height();
  const bool byWidth = fit == 6 || fit == 7;
  // A sliver of an image keeps at least one pixel across.
  const int tw = byWidth ? areaWidth : std::max(1, static_cast<int>(std::trunc(areaHeight / h * w)));
  const int th = byWidth ? std::max(1, static_cast<int>(std::trunc(areaWidth / w * h))) : areaHeight;
  fw::Bitmap target;
  target.SetSize(tw, th);
  ResampleBitmap(image.View(), target.View());
  image.Assign(target);
}

// ---- placing ----

// The waiting image's rectangle around `centre`, by exclusive-or (drawn again, it is gone).
void TZanQuilmoAx4::XorPlacementBox(DragPoint centre) {
  DrawFigure(kKindRectangle, kSetupRubberBand, {centre.x - PasteHalfWidth, centre.y - PasteHalfHeight},
             {centre.x + PasteHalfWidth, centre.y + PasteHalfHeight});
}

// Draws or removes the waiting image's rectangle around `centre`, and remembers which.
void TZanQuilmoAx4::PlacementRectangle(DragPoint centre) {
  XorPlacementBox(centre);
  placementBand_ = !placementBand_;
  placementCentre_ = centre;
}

// The waiting image's rectangle with its top-left at the drawing's corner (moved there when
// it is shown elsewhere).
void TZanQuilmoAx4::PlacementAtCorner() {
  if (placementBand_) PlacementRectangle(placementCentre_);
  DragLast = {PasteHalfWidth, PasteHalfHeight};
  PlacementRectangle(DragLast);
}

void TZanQuilmoAx4::PlacementMove(int x, int y) {
  PlacementRectangle(DragLast);  // removes the old one
  PlacementRectangle({x, y});
  DragLast = {x, y};
}

int TZanQuilmoAx4::PasteImage(int x, int y, int mode) {
  const bool confirmed =
      mode != 1 || fw::Dialogs().Message(HandleIfAllocated(), kPasteQuestion, Caption(),
                                         fw::MsgButtons::OkCancel, fw::MsgIcon::Question) == fw::MsgResult::Ok;
  PlacementRectangle(DragLast);
  if (pnlImg->HandleAllocated()) UpdateWindow(pnlImg->Handle());
  if (mode == 2 || !confirmed) {
    SelectPenTool();
    return -1;
  }
  int result = -1;
  try {
    const int left = x - PasteHalfWidth, top = y - PasteHalfHeight;
    {
      fw::CanvasLock target(imgDraw->GetCanvas()), source(FPasteBmp->GetCanvas());
      imgDraw->GetCanvas().Draw(left, top, *FPasteBmp);
    }
    {
      fw::CanvasLock target(imgTexture->GetCanvas()), source(FPasteBmp->GetCanvas());
      imgTexture->GetCanvas().Draw(left, top, *FPasteBmp);
    }
    ZanPErs->SetTextureBitmap(&TextureBitmap());
    if (HasBackground) UndoHasBackground = true;
    KeepUndoBackground = true;
    HasBackground = true;
    Modified();
  } catch (...) {
    result = 0;
    sbtnUndoClick(nullptr);
  }
  RefreshDrawImage();
  Timer.SetEnabled(true);
  SelectPenTool();
  return result;
}

// Keys while an image waits to be placed: Escape gives it up, Enter places it where the
// rectangle is, Shift+Enter at the drawing's top-left corner (both after the question).
void TZanQuilmoAx4::ActiveFormKeyUp(Control&, WORD& key, ShiftState shift) {
  if (!PlacementPending()) return;
  if (key == VK_ESCAPE) {
    PasteImage(0, 0, 2);
  } else if (key == VK_RETURN) {
    const DragPoint centre = (shift & fw::kShift) ? DragPoint{PasteHalfWidth, PasteHalfHeight} : DragLast;
    if (PasteImage(centre.x, centre.y, 1) == 0)
      fw::Dialogs().Message(Handle(), kPasteError, Caption(), fw::MsgButtons::Ok, fw::MsgIcon::None);
  }
}

}  // namespace zq
