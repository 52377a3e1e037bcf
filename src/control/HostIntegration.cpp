// TZanQuilmoAx4: what ties the control to its host besides the picture: the border style,
// the drawing switch, the keys, the container's event sink and the class-level accessors.
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

// With the text tool Escape is the form's: neither the text box nor the host sees it.
void TZanQuilmoAx4::ActiveFormKeyDown(Control&, WORD& key, ShiftState) {
  if (CurrentTool == kToolText && key == VK_ESCAPE) key = 0;
}

// The text box takes typing only with the text tool; Enter is a line break there.
void TZanQuilmoAx4::memTextKeyPress(Control&, wchar_t& key) {
  if (CurrentTool != kToolText) key = 0;
  else if (key == L'\r') key = L'\n';
}

void TZanQuilmoAx4::EventSinkChanged(IUnknown* sink) {
  fw::ComPtr<IDispatch> events;
  if (sink) fw::ThrowIfFailed(sink->QueryInterface(DIID_IZanQuilmoAx4Events, events.put_void()), "IZanQuilmoAx4Events");
  FEvents = events;
}

void TZanQuilmoAx4::SetPicture2(const fw::Bitmap& picture) {
  DropKept();
  const BandsLifted clean(*this);
  fw::CanvasLock lock(imgDraw->GetCanvas());
  DrawBitmap().Assign(picture);
  DrawBitmap().SetPixelFormat24();
  if (pnlImg->HandleAllocated()) InvalidateRect(pnlImg->Handle(), nullptr, TRUE);
  Modified();
}

}  // namespace zq
