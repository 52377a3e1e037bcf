#include "ZANPBRUSH4Lib_TLB.h"

#include <olectl.h>

namespace zq {

using fw::ComPtr;
using fw::ThrowIfFailed;

namespace {

// Property DISPIDs the control reaches.
namespace brush {
constexpr DISPID kColor = 4, kMagnification = 11, kMaxLineWidth = 12, kVaryLineWidth = 21;
}
namespace eraser {
constexpr DISPID kMagnification = 5, kMaxLineWidth = 6, kTextureBitmap = 9, kVaryLineWidth = 13;
}

void Put(IDispatch* d, DISPID id, VARTYPE vt, long value, const char* what) {
  if (!d) throw fw::Error(std::string(what) + ": the component has no IDispatch", E_NOINTERFACE);
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  if (vt == VT_I2) v.iVal = static_cast<SHORT>(value);
  else if (vt == VT_UI4) v.ulVal = static_cast<ULONG>(value);
  else v.lVal = value;
  ThrowIfFailed(fw::PutProperty(d, id, v), what);
}

long Get(IDispatch* d, DISPID id, const char* what) {
  if (!d) throw fw::Error(std::string(what) + ": the component has no IDispatch", E_NOINTERFACE);
  fw::Variant v;
  ThrowIfFailed(fw::GetProperty(d, id, v.get()), what);
  fw::Variant i4;
  ThrowIfFailed(VariantChangeType(i4.get(), v.get(), 0, VT_I4), what);
  return (*i4).lVal;
}

template <class I>
ComPtr<I> Interface(fw::OleControl& c, const char* name) {
  ComPtr<I> p = c.As<I>();
  if (!p) throw fw::Error(std::string("the component does not offer ") + name, E_NOINTERFACE);
  return p;
}

std::wstring ModuleIn(const std::wstring& folder) {
  if (folder.empty()) return {};
  return folder + L"\\" + kPBrushModule;
}

}  // namespace

// ---- brush ----

TZanPBrushCtl4::TZanPBrushCtl4(fw::WinControl* parent, std::wstring name, const std::wstring& folder)
    : OleControl(parent, std::move(name), CLSID_ZanPBrushCtl4, ModuleIn(folder)),
      brush_(Interface<IZanPBrushCtl>(*this, "IZanPBrushCtl")) {}

void TZanPBrushCtl4::SetBrushType(short medium, long a, long b) {
  ThrowIfFailed(brush_->SetBrushType(medium, a, b), "SetBrushType");
}
void TZanPBrushCtl4::ContinueStroke(HDC screen, HDC bitmap, long x, long y, long p, long extra) {
  ThrowIfFailed(brush_->ContinueStroke(DcArgument(screen), DcArgument(bitmap), x, y, p, extra), "ContinueStroke");
}
void TZanPBrushCtl4::BeginStroke(HDC screen, HDC bitmap, long x, long y, long p) {
  ThrowIfFailed(brush_->BeginStroke(DcArgument(screen), DcArgument(bitmap), x, y, p), "BeginStroke");
}
void TZanPBrushCtl4::InitOptionA(long v) { ThrowIfFailed(brush_->InitOptionA(v), "InitOptionA"); }
void TZanPBrushCtl4::InitOptionB(long v) { ThrowIfFailed(brush_->InitOptionB(v), "InitOptionB"); }
void TZanPBrushCtl4::InitOptionC(long v) { ThrowIfFailed(brush_->InitOptionC(v), "InitOptionC"); }
void TZanPBrushCtl4::InitOptionD(long v) { ThrowIfFailed(brush_->InitOptionD(v), "InitOptionD"); }
void TZanPBrushCtl4::SetColor(fw::Color c) { Put(Dispatch(), brush::kColor, VT_UI4, static_cast<long>(c), "Color"); }
void TZanPBrushCtl4::SetMaxLineWidth(short w) { Put(Dispatch(), brush::kMaxLineWidth, VT_I2, w, "MaxLineWidth"); }
void TZanPBrushCtl4::SetMagnification(short m) { Put(Dispatch(), brush::kMagnification, VT_I2, m, "Magnification"); }
void TZanPBrushCtl4::SetVaryLineWidth(long on) { Put(Dispatch(), brush::kVaryLineWidth, VT_I4, on, "VaryLineWidth"); }
long TZanPBrushCtl4::GetLong(DISPID id) { return Get(Dispatch(), id, "property"); }

// ---- eraser ----

TZanPEraserCtl4::TZanPEraserCtl4(fw::WinControl* parent, std::wstring name, const std::wstring& folder)
    : OleControl(parent, std::move(name), CLSID_ZanPEraserCtl4, ModuleIn(folder)),
      eraser_(Interface<IZanPEraserCtl>(*this, "IZanPEraserCtl")) {}

void TZanPEraserCtl4::ContinueStroke(HDC screen, HDC bitmap, long x, long y, long p, long extra) {
  ThrowIfFailed(eraser_->ContinueStroke(DcArgument(screen), DcArgument(bitmap), x, y, p, extra), "ContinueStroke");
}
void TZanPEraserCtl4::BeginStroke(HDC screen, HDC bitmap, long x, long y, long p) {
  ThrowIfFailed(eraser_->BeginStroke(DcArgument(screen), DcArgument(bitmap), x, y, p), "BeginStroke");
}
void TZanPEraserCtl4::InitOptionA(long v) { ThrowIfFailed(eraser_->InitOptionA(v), "InitOptionA"); }
void TZanPEraserCtl4::InitOptionB(long v) { ThrowIfFailed(eraser_->InitOptionB(v), "InitOptionB"); }
void TZanPEraserCtl4::InitOptionC(long v) { ThrowIfFailed(eraser_->InitOptionC(v), "InitOptionC"); }
void TZanPEraserCtl4::InitOptionD(long v) { ThrowIfFailed(eraser_->InitOptionD(v), "InitOptionD"); }
void TZanPEraserCtl4::SetMaxLineWidth(short w) { Put(Dispatch(), eraser::kMaxLineWidth, VT_I2, w, "MaxLineWidth"); }
void TZanPEraserCtl4::SetMagnification(short m) { Put(Dispatch(), eraser::kMagnification, VT_I2, m, "Magnification"); }
void TZanPEraserCtl4::SetVaryLineWidth(long on) { Put(Dispatch(), eraser::kVaryLineWidth, VT_I4, on, "VaryLineWidth"); }
long TZanPEraserCtl4::GetLong(DISPID id) { return Get(Dispatch(), id, "property"); }

void TZanPEraserCtl4::SetTextureBitmap(const fw::Bitmap* bitmap) {
  ComPtr<IPictureDisp> picture;
  if (bitmap && !bitmap->Empty()) {
    PICTDESC desc{};
    desc.cbSizeofstruct = sizeof desc;
    desc.picType = PICTYPE_BITMAP;
    fw::Bitmap copy;
    copy.Assign(*bitmap);
    fw::GdiObject<HBITMAP> owned(copy.ReleaseHandle());
    desc.bmp.hbitmap = owned.get();
    ThrowIfFailed(OleCreatePictureIndirect(&desc, IID_IPictureDisp, TRUE, picture.put_void()), "OleCreatePictureIndirect");
    owned.release();  // the picture owns the copy now
  }
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_DISPATCH;
  v.pdispVal = picture.get();
  ThrowIfFailed(fw::PutProperty(Dispatch(), eraser::kTextureBitmap, v, true), "TextureBitmap");
}

bool TZanPEraserCtl4::HasTextureBitmap() {
  fw::Variant v;
  ThrowIfFailed(fw::GetProperty(Dispatch(), eraser::kTextureBitmap, v.get()), "TextureBitmap");
  return (*v).vt == VT_DISPATCH && (*v).pdispVal != nullptr;
}

}  // namespace zq
