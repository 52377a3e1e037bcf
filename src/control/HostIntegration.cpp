// TZanQuilmoAx4: what ties the control to its host besides the picture: the border style,
// the drawing switch, the container's event sink and the class-level accessors.
#include "ZanQuilmo4_TLB.h"
#include "ZanQuilmoImpl.h"

namespace zq {

void TZanQuilmoAx4::Set_AxBorderStyle(long value) {
  if (value < 0 || value > 3)
    throw fw::Error("AxBorderStyle は 0 (afbNone) から 3 (afbRaised) の値で指定してください。", E_INVALIDARG);
  // A changed style creates the window anew, and with it the scroll box's: the tablet is
  // bound to the new one.
  SetBorderStyle(static_cast<fw::BorderStyle>(value));
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
}

}  // namespace zq
