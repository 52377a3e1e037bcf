// ActiveFormControl: its picture, for containers that draw it (IViewObject2) or copy it
// (IDataObject, a bitmap of the form).
#include <algorithm>

#include "ActiveForm.h"
#include "ComEnum.h"
#include "Scope.h"

namespace zq::fw {

namespace {
using FormatsEnum = Enumerator<IEnumFORMATETC, FORMATETC, &IID_IEnumFORMATETC>;
}  // namespace

// ---- drawing ----

// Paints the form and its child windows into `dc`, scaled to `bounds`.
void ActiveFormControl::RenderForm(HDC dc, const RECT& bounds) {
  const int fw = std::max(1, form_->Width()), fh = std::max(1, form_->Height());
  MemoryDC mem(dc);
  GdiObject<HBITMAP> picture(CreateCompatibleBitmap(dc, fw, fh));
  CheckWin32(static_cast<bool>(picture), "CreateCompatibleBitmap");
  SelectGuard sel(mem.get(), picture.get());
  if (form_->OnPicture) form_->OnPicture(true);
  const auto after = Finally([this] {
    if (form_->OnPicture) form_->OnPicture(false);
  });
  const bool shown = form_->Visible();
  form_->SetVisible(true);  // a hidden form still has a picture
  form_->PaintTo(mem.get(), 0, 0);
  form_->SetVisible(shown);
  SetStretchBltMode(dc, COLORONCOLOR);
  StretchBlt(dc, bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, mem.get(), 0, 0, fw, fh,
             SRCCOPY);
}

STDMETHODIMP ActiveFormControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds, LPCRECTL,
                                     BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!dc || !bounds) return E_INVALIDARG;
  if (!form_) return E_UNEXPECTED;
  return Guarded([&] { RenderForm(dc, RECT{bounds->left, bounds->top, bounds->right, bounds->bottom}); });
}

STDMETHODIMP ActiveFormControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** set) {
  if (set) *set = nullptr;
  return S_FALSE;
}

STDMETHODIMP ActiveFormControl::Freeze(DWORD, LONG, void*, DWORD* cookie) {
  if (cookie) *cookie = 0;
  return E_NOTIMPL;
}

STDMETHODIMP ActiveFormControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
  viewAspects_ = aspects;
  viewFlags_ = flags;
  viewSink_ = sink;
  return S_OK;
}

STDMETHODIMP ActiveFormControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
  if (aspects) *aspects = viewAspects_;
  if (flags) *flags = viewFlags_;
  if (sink) {
    *sink = viewSink_.get();
    if (*sink) (*sink)->AddRef();
  }
  return S_OK;
}

STDMETHODIMP ActiveFormControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
  return GetExtent(aspect, size);
}

// ---- IDataObject ----

STDMETHODIMP ActiveFormControl::QueryGetData(FORMATETC* f) {
  if (!f) return E_POINTER;
  if (f->cfFormat != CF_BITMAP) return DV_E_FORMATETC;
  if (!(f->tymed & TYMED_GDI)) return DV_E_TYMED;
  if (f->dwAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  return S_OK;
}

STDMETHODIMP ActiveFormControl::GetData(FORMATETC* f, STGMEDIUM* medium) {
  if (!medium) return E_POINTER;
  const HRESULT ok = QueryGetData(f);
  if (FAILED(ok)) return ok;
  if (!form_) return E_UNEXPECTED;
  return Guarded([&] {
    GdiObject<HBITMAP> bitmap;
    {
      WindowDC screen(nullptr);
      MemoryDC mem(screen.get());
      bitmap.reset(CreateCompatibleBitmap(screen.get(), std::max(1, form_->Width()), std::max(1, form_->Height())));
      CheckWin32(static_cast<bool>(bitmap), "CreateCompatibleBitmap");
      SelectGuard sel(mem.get(), bitmap.get());
      RenderForm(mem.get(), RECT{0, 0, form_->Width(), form_->Height()});
    }
    medium->tymed = TYMED_GDI;
    medium->hBitmap = bitmap.release();
    medium->pUnkForRelease = nullptr;
  });
}

STDMETHODIMP ActiveFormControl::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) {
  if (out) out->ptd = nullptr;
  return DATA_S_SAMEFORMATETC;
}

STDMETHODIMP ActiveFormControl::EnumFormatEtc(DWORD direction, IEnumFORMATETC** e) {
  if (!e) return E_POINTER;
  *e = nullptr;
  return Guarded([&] {
    std::vector<FORMATETC> formats;
    if (direction == DATADIR_GET) formats.push_back({CF_BITMAP, nullptr, DVASPECT_CONTENT, -1, TYMED_GDI});
    *e = FormatsEnum::Make(formats);
  });
}

STDMETHODIMP ActiveFormControl::DAdvise(FORMATETC* f, DWORD flags, IAdviseSink* sink, DWORD* cookie) {
  if (!dataAdviseHolder_) return E_OUTOFMEMORY;
  return dataAdviseHolder_->Advise(static_cast<IDataObject*>(this), f, flags, sink, cookie);
}
STDMETHODIMP ActiveFormControl::DUnadvise(DWORD cookie) {
  return dataAdviseHolder_ ? dataAdviseHolder_->Unadvise(cookie) : OLE_E_NOCONNECTION;
}
STDMETHODIMP ActiveFormControl::EnumDAdvise(IEnumSTATDATA** e) {
  return dataAdviseHolder_ ? dataAdviseHolder_->EnumAdvise(e) : E_FAIL;
}

}  // namespace zq::fw
