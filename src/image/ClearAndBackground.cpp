// TZanQuilmoAx4: the clear button and the open-image button. Clearing whitens the drawing,
// and on request the background too, as one undo step; opening an image loads it as the image
// waiting to be placed. Tablet input is off while either runs; clearing turns it on again on
// every path.
#include "Dialogs.h"
#include "Scope.h"
#include "ZanQuilmoImpl.h"

namespace zq {

const wchar_t kClearQuestion[] = L"消去しますか？";
const wchar_t kClearBackgroundQuestion[] = L"背景画像も消去しますか？";
const wchar_t kLoadError[] = L"イメージのロード中にエラーが発生しました。";
const wchar_t kFormatsMessage[] = L"読み込み可能なファイル形式は(PNG/BMP/JPG,JPEG)です。";
// The patterns "*bmp" and "*jpg" stand without a dot, as the control has always offered them.
const wchar_t kOpenFilter[] =
    L"全てのファイル（*.png;*.jpeg;*.jpg;*bmp）|*.png;*.jpeg;*.jpg;*bmp|PNGファイル（*.png）|*.png|"
    L"JPEGイメージファイル（*.jpeg;*jpg）|*.jpeg;*jpg|ビットマップ（*.bmp）|*.bmp";

namespace {

bool Yes(HWND owner, const wchar_t* question, const std::wstring& caption) {
  return fw::Dialogs().Message(owner, question, caption, fw::MsgButtons::YesNo, fw::MsgIcon::Question) ==
         fw::MsgResult::Yes;
}

}  // namespace

void TZanQuilmoAx4::sbtnClrClick(Control&) {
  if (PlacementPending()) return;
  SwitchTabletInput(0);
  const auto inputOn = fw::Finally([this] { SwitchTabletInput(1); });
  if (FDrawEnabled != -1 || !Yes(Handle(), kClearQuestion, Caption())) return;
  // A change still waiting for the timer becomes the step before the clear.
  const bool undoBackground = UndoHasBackground, background = HasBackground;
  TakeUndoSnapshot();
  DropKept();  // cleared: nothing comes back when the area grows
  UndoHasBackground = undoBackground;
  HasBackground = background;
  ResizeImage(*imgDraw, pnlImg->Width(), pnlImg->Height());
  FillImageWhite(*imgDraw);
  if (HasBackground) {
    if (Yes(Handle(), kClearBackgroundQuestion, Caption())) {
      ZanPErs->SetTextureBitmap(nullptr);
      ResizeImage(*imgTexture, pnlImg->Width(), pnlImg->Height());
      FillImageWhite(*imgTexture);
      HasBackground = false;
    } else {  // the drawing shows the background image alone again
      fw::CanvasLock lock(imgDraw->GetCanvas());
      DrawBitmap().Assign(TextureBitmap());
    }
  }
  RefreshDrawImage();
  TakeUndoSnapshot();
  UndoHasBackground = background;  // undo brings the background flag back with the picture
  Modified();
}

void TZanQuilmoAx4::sbtnBGIClick(Control&) {
  // With an image already waiting, or drawing off, nothing opens: tablet input and the
  // pressed tool button stay as they were.
  if (PlacementPending()) return;
  if (FDrawEnabled != -1) {
    fw::SpeedButton* pressed = CurrentTool == kToolEraser  ? sbtnErs
                               : CurrentTool == kToolBucket ? sbtnBuc
                               : CurrentTool == kToolText   ? sbtnText
                               : CurrentTool == kToolShape  ? sbtnShape
                                                            : sbtnPen;
    pressed->SetDown(true);
    return;
  }
  SwitchTabletInput(0);
  dlgOpen.filter = kOpenFilter;
  dlgOpen.placesBar = false;
  if (!dlgOpen.Execute(HandleIfAllocated())) {
    SelectPenTool();
    return;
  }
  if (FTabletReady) ZanTCtl->SetPreventMouseEvents(0);
  const int r = LoadImageFile(dlgOpen.fileName, 1);
  if (r == -1) return;  // the image waits to be placed
  fw::Dialogs().Message(Handle(), r == 1 ? kFormatsMessage : kLoadError, Caption(), fw::MsgButtons::Ok,
                        fw::MsgIcon::None);
  SelectPenTool();
}

}  // namespace zq
