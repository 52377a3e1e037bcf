// TZanQuilmoAx4: the Picture property, the drawing layer as an OLE picture object. Reading
// hands out an independent copy, which the host owns; writing copies a bitmap picture's pixels
// in. A null or non-bitmap picture clears the drawing to white (hosts use that to clear); an
// object that is no picture, an unusable bitmap or one larger than a drawing may be is the
// host's error: it is refused with an Automation error and nothing changes.
#include <olectl.h>

#include "Com.h"
#include "Scope.h"
#include "ZanQuilmoImpl.h"

namespace zq {

const wchar_t kNotAPicture[] = L"Picture には画像オブジェクト (IPicture) を指定してください。";
const wchar_t kUnusableBitmap[] = L"Picture の画像のビットマップが使えません。";
const wchar_t kPictureTooLarge[] =
    L"Picture の画像が大きすぎます (幅、高さとも 32767 ピクセルまで、面積は 16777216 ピクセルまで)。";

namespace {

// The pixels of a bitmap picture, refused before anything is allocated when they cannot be
// read or are more than a drawing may hold.
void CopyBitmapPicture(IPicture* picture, fw::Bitmap& out) {
  OLE_HANDLE handle = 0;
  BITMAP bm{};
  if (FAILED(picture->get_Handle(&handle)) || !handle ||
      GetObjectW(reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle)), sizeof bm, &bm) != sizeof bm)
    throw fw::Error(fw::Narrow(kUnusableBitmap), E_INVALIDARG);
  const long long w = bm.bmWidth, h = bm.bmHeight < 0 ? -static_cast<long long>(bm.bmHeight) : bm.bmHeight;
  if (!ImageSizeAllowed(w, h)) throw fw::Error(fw::Narrow(kPictureTooLarge), E_INVALIDARG);
  out.SetSize(static_cast<int>(w), static_cast<int>(h));
  fw::WindowDC screen(nullptr);
  fw::MemoryDC source(screen.get());
  fw::SelectGuard select(source.get(), reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle)));
  fw::CanvasLock lock(out.GetCanvas());
  fw::CheckWin32(BitBlt(out.GetCanvas().Handle(), 0, 0, static_cast<int>(w), static_cast<int>(h), source.get(), 0, 0,
                        SRCCOPY) != FALSE,
                 "BitBlt");
}

}  // namespace

fw::ComPtr<IPictureDisp> TZanQuilmoAx4::Get_Picture() {
  const BandsLifted clean(*this);
  fw::CanvasLock lock(imgDraw->GetCanvas());
  DrawBitmap().SetPixelFormat24();
  PICTDESC desc{};
  desc.cbSizeofstruct = sizeof desc;
  desc.picType = PICTYPE_NONE;
  fw::GdiObject<HBITMAP> copy;
  if (!DrawBitmap().Empty()) {
    fw::Bitmap made;
    made.Assign(DrawBitmap());
    copy.reset(made.ReleaseHandle());
    desc.picType = PICTYPE_BITMAP;
    desc.bmp.hbitmap = copy.get();
  }
  fw::ComPtr<IPictureDisp> picture;
  fw::ThrowIfFailed(OleCreatePictureIndirect(&desc, IID_IPictureDisp, TRUE, picture.put_void()),
                    "OleCreatePictureIndirect");
  copy.release();  // the picture owns the copy now
  return picture;
}

void TZanQuilmoAx4::Set_Picture(IUnknown* value) {
  // Read whole before anything changes.
  fw::ComPtr<IPicture> picture;
  if (value && FAILED(value->QueryInterface(IID_IPicture, picture.put_void())))
    throw fw::Error(fw::Narrow(kNotAPicture), E_NOINTERFACE);
  SHORT type = PICTYPE_NONE;
  if (picture && FAILED(picture->get_Type(&type))) type = PICTYPE_NONE;
  fw::Bitmap incoming;
  if (type == PICTYPE_BITMAP) CopyBitmapPicture(picture.get(), incoming);
  ImageLoading = true;
  const auto done = fw::Finally([this] {
    ImageLoading = false;
    RefreshDrawImage();
  });
  {
    const BandsLifted clean(*this);
    fw::CanvasLock lock(imgDraw->GetCanvas());
    if (type == PICTYPE_BITMAP) {
      DrawBitmap().Assign(incoming);
    } else {  // no picture, or one without pixels: white at the drawing's size
      fw::Canvas& c = imgDraw->GetCanvas();
      c.FillWhite(RECT{0, 0, DrawBitmap().Width(), DrawBitmap().Height()});
    }
  }
  PictureTaken(true);
  Modified();
}

}  // namespace zq
