// TZanQuilmoAx4: what ties the control to its host besides the picture: the border style,
// the drawing switch, the container's event sink and the class-level accessors.
#include "ZanQuilmo4_TLB.h"
#include "ZanQuilmoImpl.h"

namespace zq {

void TZanQuilmoAx4::Set_DrawEnabled(long value) {
  const long v = value != 0 ? -1 : 0;
  if (v == FDrawEnabled) return;
  FDrawEnabled = v;
  Modified();
}

void TZanQuilmoAx4::SetVisible2(short v) {
  if ((v != 0) == Visible()) return;
  SetVisible(v != 0);
  Modified();
}

void TZanQuilmoAx4::SetEnabled2(short v) {
  if ((v != 0) == Enabled()) return;
  SetEnabled(v != 0);
  Modified();
}

void TZanQuilmoAx4::Set_AxBorderStyle(long value) {
  if (value < 0 || value > 3)
    throw fw::Error("AxBorderStyle は 0 (afbNone) から 3 (afbRaised) の値で指定してください。", E_INVALIDARG);
  const auto style = static_cast<fw::BorderStyle>(value);
  if (style != GetBorderStyle()) Modified();
  // A changed style creates the window anew, and with it the scroll box's: the tablet is
  // bound to the new one (also when the style stays, as a host may call this to rebind).
  SetBorderStyle(style);
  AttachTablet();
}

void TZanQuilmoAx4::EventSinkChanged(IUnknown* sink) {
  fw::ComPtr<IDispatch> events;
  if (sink) fw::ThrowIfFailed(sink->QueryInterface(DIID_IZanQuilmoAx4Events, events.put_void()), "IZanQuilmoAx4Events");
  FEvents = events;
}

void TZanQuilmoAx4::SetPicture2(const fw::Bitmap& picture) {
  fw::CanvasLock lock(imgDraw->GetCanvas());
  DrawBitmap().Assign(picture);
  DrawBitmap().SetPixelFormat24();
  if (pnlImg->HandleAllocated()) InvalidateRect(pnlImg->Handle(), nullptr, TRUE);
  Modified();
}

}  // namespace zq
