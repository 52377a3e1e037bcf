// TZanQuilmoAx4: the drawing area. The scroll box fills what the palettes leave; the panel in
// it either fills the box (automatic alignment) or has a size of its own (manual), and the
// drawing, the background and the four history bitmaps follow the area's size.
#include <algorithm>
#include <deque>
#include <vector>

#include "ZanQuilmoImpl.h"

namespace zq {

const wchar_t kAreaSizeError[] = L"描画領域サイズの変更でエラーが発生しました。";
const wchar_t kAreaTooLarge[] =
    L"描画領域の大きさは幅、高さとも 32767 ピクセルまで、面積は 16777216 ピクセル (4096 × 4096) までです。";

namespace {

// A drawing may also be empty (0 wide or high), as it is before the host sizes it.
bool AreaAllowed(long long w, long long h) { return w == 0 || h == 0 ? w >= 0 && h >= 0 : ImageSizeAllowed(w, h); }

// The largest part of a w x h panel that a drawing may cover (from its top-left corner).
SIZE AllowedArea(int w, int h) {
  w = std::clamp(w, 0, kMaxImageSide);
  h = std::clamp(h, 0, kMaxImageSide);
  if (w > 0 && static_cast<long long>(w) * h > kMaxImagePixels) h = static_cast<int>(kMaxImagePixels / w);
  return {w, h};
}

// Copies the pixels of `r` (in both bitmaps' coordinates, within both) from one to the other.
void CopyRect(fw::Bitmap& from, fw::Bitmap& to, const RECT& r) {
  if (r.right <= r.left || r.bottom <= r.top) return;
  fw::CanvasLock a(from.GetCanvas()), b(to.GetCanvas());
  to.GetCanvas().CopyRect(r, from.GetCanvas(), r);
}

}  // namespace

void TZanQuilmoAx4::ResizeImage(fw::Image& image, int width, int height) {
  const SIZE s = AllowedArea(width, height);
  const BandsLifted clean(*this);  // a band cut by the new size could not be taken out whole
  fw::CanvasLock lock(image.GetCanvas());
  fw::Bitmap& b = image.GetPicture().GetBitmap();
  b.SetHeight(s.cy);
  b.SetWidth(s.cx);
}

// Every bitmap of the area takes the new width (or height; -1 keeps a bitmap's own), or,
// when one of them cannot, none does: the new pixels are all prepared before any is put in
// place.
void TZanQuilmoAx4::ResizeAreaBitmaps(int width, int height) {
  std::vector<fw::Bitmap*> all = {&DrawBitmap(), &TextureBitmap()};
  for (fw::Bitmap* h : {FUndoDrawBmp.get(), FLastDrawBmp.get(), FUndoTextureBmp.get(), FLastTextureBmp.get()})
    if (h) all.push_back(h);
  for (fw::Bitmap* b : all)
    if (!AreaAllowed(width < 0 ? b->Width() : width, height < 0 ? b->Height() : height))
      throw fw::Error(fw::Narrow(kAreaTooLarge), E_INVALIDARG);
  const BandsLifted clean(*this);  // a band cut by the new size could not be taken out whole
  std::deque<fw::CanvasLock> locks;
  for (fw::Bitmap* b : all) locks.emplace_back(b->GetCanvas());
  std::vector<fw::Bitmap::PreparedSize> prepared;
  prepared.reserve(all.size());
  for (fw::Bitmap* b : all) prepared.push_back(b->PrepareSize(width < 0 ? b->Width() : width, height < 0 ? b->Height() : height));
  for (std::size_t i = 0; i < all.size(); ++i) all[i]->Apply(std::move(prepared[i]));
}

void TZanQuilmoAx4::Set_DrawAreaAlign(long value) {
  if (value != FDrawAreaAlign) Modified();
  FDrawAreaAlign = value;
  // Manual: the panel stays where it is with its size. Any other value fills the box again,
  // and the panel's resize handling follows when that changes its size.
  pnlImg->SetAlign(ManualArea() ? fw::Align::None : fw::Align::Client);
}

long TZanQuilmoAx4::Get_DrawAreaWidth() const { return imgDraw->Width(); }
long TZanQuilmoAx4::Get_DrawAreaHeight() const { return imgDraw->Height(); }

// Both setters report a refusal to the caller: a size beyond the limits with its own text,
// any other failure (memory, say) with the area-size message. Nothing changed then.
void TZanQuilmoAx4::SetAreaSide(long value, bool width) {
  if (!ManualArea() || value <= 0) return;
  if (value > kMaxImageSide) throw fw::Error(fw::Narrow(kAreaTooLarge), E_INVALIDARG);
  const int v = static_cast<int>(value);
  if (v == (width ? Get_DrawAreaWidth() : Get_DrawAreaHeight()) &&
      v == (width ? DrawBitmap().Width() : DrawBitmap().Height()))
    return;
  try {
    ResizeAreaBitmaps(width ? v : -1, width ? -1 : v);
    DropKept();  // the host asked for this size: what it cuts off goes
  } catch (const fw::Error&) {
    throw;
  } catch (...) {
    throw fw::Error(fw::Narrow(kAreaSizeError), E_OUTOFMEMORY);
  }
  if (width) pnlImg->SetWidth(v);
  else pnlImg->SetHeight(v);
  Modified();
}

void TZanQuilmoAx4::Set_DrawAreaWidth(long value) { SetAreaSide(value, true); }
void TZanQuilmoAx4::Set_DrawAreaHeight(long value) { SetAreaSide(value, false); }

// In automatic alignment the area follows the host's size. What a smaller size cuts off is
// kept (up to the drawing's size limit) and comes back when the area grows again: a window
// edge dragged by mistake costs nothing. The kept pixels go with the drawing's whole
// replacement, a clear, or an explicit area size.
void TZanQuilmoAx4::KeepOutside(int width, int height) {
  fw::Bitmap& draw = DrawBitmap();
  const int w = draw.Width(), h = draw.Height();
  if (w <= 0 || h <= 0 || (width >= w && height >= h)) return;
  const int kw = std::max(w, keptDraw_ ? keptDraw_->Width() : 0), kh = std::max(h, keptDraw_ ? keptDraw_->Height() : 0);
  if (!AreaAllowed(kw, kh)) return;  // nothing beyond the limit is kept
  auto keep = [&](std::unique_ptr<fw::Bitmap>& kept, fw::Bitmap& layer) {
    if (!kept) kept = std::make_unique<fw::Bitmap>();
    kept->SetSize(kw, kh);
    CopyRect(layer, *kept, RECT{0, 0, w, h});
    kept->Dormant();  // kept memory holds no display resources
  };
  keep(keptDraw_, draw);
  if (HasBackground) keep(keptTexture_, TextureBitmap());
  else keptTexture_.reset();
}

// After the area grew from `oldWidth` x `oldHeight`: the kept pixels fill what came into view.
void TZanQuilmoAx4::BringBackKept(int oldWidth, int oldHeight) {
  if (!keptDraw_) return;
  const int w = DrawBitmap().Width(), h = DrawBitmap().Height();
  const int kw = std::min(w, keptDraw_->Width()), kh = std::min(h, keptDraw_->Height());
  const RECT right{std::min(oldWidth, kw), 0, kw, kh}, below{0, std::min(oldHeight, kh), std::min(oldWidth, kw), kh};
  for (const RECT& r : {right, below}) {
    CopyRect(*keptDraw_, DrawBitmap(), r);
    if (keptTexture_ && HasBackground) CopyRect(*keptTexture_, TextureBitmap(), r);
  }
  keptDraw_->Dormant();
  if (keptTexture_) keptTexture_->Dormant();
}

void TZanQuilmoAx4::DropKept() {
  keptDraw_.reset();
  keptTexture_.reset();
}

void TZanQuilmoAx4::pnlImgResize(Control&) {
  if (ImageLoading || destroyed_) return;
  const int w = pnlImg->Width(), h = pnlImg->Height();
  // An area of no size shows nothing and holds nothing: the bitmaps keep what they have.
  // Containers pass through 0 x 0 while they put a control in place (after a load, say),
  // and a collapsed view must not cost the user the drawing; the next real size crops or
  // extends it from the top-left as any resize does.
  if (w <= 0 || h <= 0) return;
  pnlImg->SetBounds(pnlImg->Left(), pnlImg->Top(), w, h);
  if (pnlImg->Width() != w || pnlImg->Height() != h) pnlImg->SetBounds(pnlImg->Left(), pnlImg->Top(), w, h);
  const bool keep = !ManualArea();
  const int oldWidth = DrawBitmap().Width(), oldHeight = DrawBitmap().Height();
  {
    const BandsLifted clean(*this);  // the kept pixels hold no band
    if (keep) KeepOutside(pnlImg->Width(), pnlImg->Height());
    ResizeImage(*imgDraw, pnlImg->Width(), pnlImg->Height());
    ResizeImage(*imgTexture, pnlImg->Width(), pnlImg->Height());
    if (keep) BringBackKept(oldWidth, oldHeight);
  }
  RefreshDrawImage();
  AttachTablet();
  if (HasBackground) ZanPErs->SetTextureBitmap(&TextureBitmap());
  sbtnUndo->SetEnabled(false);
}

void TZanQuilmoAx4::scrbxImgResize(Control&) {
  if (destroyed_ || ManualArea() || !HistoryReady()) return;
  TakeUndoSnapshot();
  sbtnUndo->SetEnabled(false);
}

void TZanQuilmoAx4::FitAreaToPicture() {
  const int w = DrawBitmap().Width(), h = DrawBitmap().Height();
  if (w <= 0 || h <= 0) return;
  DropKept();  // a new picture: nothing of the old one comes back
  Set_DrawAreaAlign(1);
  ResizeImage(*imgDraw, w, h);
  ResizeImage(*imgTexture, w, h);
  pnlImg->SetBounds(pnlImg->Left(), pnlImg->Top(), w, h);
}

// After a picture was put into the drawing wholesale (Picture, PngImageBase64): the area fits
// it and the history starts anew with it. A waiting image's rectangle went with the old
// pixels, so it starts again at the corner; where the pixels stayed, so did the rectangle.
void TZanQuilmoAx4::PictureTaken(bool pixelsReplaced) {
  FitAreaToPicture();
  TakeUndoSnapshot();
  sbtnUndo->SetEnabled(false);
  if (pixelsReplaced && CurrentTool == kToolPlacement) PlacementAtCorner();
}

}  // namespace zq
