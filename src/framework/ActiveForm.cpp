#include "ActiveForm.h"

#include <olectl.h>

#include <algorithm>
#include <cstring>

#include "Application.h"
#include "ComEnum.h"
#include "OleHost.h"

namespace zq::fw {

namespace {

using VerbsEnum = Enumerator<IEnumOLEVERB, OLEVERB, &IID_IEnumOLEVERB>;
using FormatsEnum = Enumerator<IEnumFORMATETC, FORMATETC, &IID_IEnumFORMATETC>;
using PointsEnum = Enumerator<IEnumConnectionPoints, IConnectionPoint*, &IID_IEnumConnectionPoints>;

constexpr char kMagic[4] = {'Z', 'Q', 'D', 'P'};
constexpr std::uint16_t kVersion = 1;
constexpr std::uint16_t kKindNumber = 1, kKindBytes = 2;
constexpr std::size_t kMaxStream = 256u * 1024 * 1024;  // a drawing of the largest size fits

LRESULT CALLBACK ParkingProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcW(w, m, wp, lp); }


// ---- the stream format ----

void Append(std::vector<std::uint8_t>& out, const void* p, std::size_t n) {
  if (n == 0) return;
  const std::size_t at = out.size();
  out.resize(at + n);
  std::memcpy(out.data() + at, p, n);
}

std::vector<std::uint8_t> Encode(const std::vector<DesignProperty>& props) {
  std::vector<std::uint8_t> out;
  Append(out, kMagic, 4);
  const std::uint16_t head[2] = {kVersion, static_cast<std::uint16_t>(props.size())};
  Append(out, head, sizeof head);
  for (const DesignProperty& p : props) {
    const std::uint16_t len = static_cast<std::uint16_t>(p.name.size());
    Append(out, &len, 2);
    Append(out, p.name.data(), p.name.size() * 2);
    const std::uint16_t kind = p.isBytes ? kKindBytes : kKindNumber;
    Append(out, &kind, 2);
    const std::uint32_t size = p.isBytes ? static_cast<std::uint32_t>(p.bytes.size()) : 4u;
    Append(out, &size, 4);
    if (p.isBytes) Append(out, p.bytes.data(), p.bytes.size());
    else Append(out, &p.number, 4);
  }
  return out;
}

// Reads exactly n bytes; false when the stream ends first.
bool ReadAll(IStream* s, void* p, std::size_t n) {
  auto* b = static_cast<std::uint8_t*>(p);
  while (n > 0) {
    ULONG got = 0;
    const ULONG want = static_cast<ULONG>(std::min<std::size_t>(n, 1u << 20));
    if (FAILED(s->Read(b, want, &got)) || got == 0) return false;
    b += got;
    n -= got;
  }
  return true;
}

std::vector<DesignProperty> Decode(IStream* s) {
  auto bad = [] { return Error("not the stored properties of this control, or cut short", E_FAIL); };
  char magic[4];
  std::uint16_t head[2];
  if (!ReadAll(s, magic, 4) || std::memcmp(magic, kMagic, 4) != 0 || !ReadAll(s, head, sizeof head) ||
      head[0] != kVersion)
    throw bad();
  std::vector<DesignProperty> props;
  std::size_t total = 0;
  for (int i = 0; i < head[1]; ++i) {
    DesignProperty p;
    std::uint16_t len = 0, kind = 0;
    std::uint32_t size = 0;
    if (!ReadAll(s, &len, 2)) throw bad();
    p.name.resize(len);
    if (!ReadAll(s, p.name.data(), len * 2u) || !ReadAll(s, &kind, 2) || !ReadAll(s, &size, 4)) throw bad();
    total += size;
    if (total > kMaxStream || (kind != kKindNumber && kind != kKindBytes) || (kind == kKindNumber && size != 4))
      throw bad();
    p.isBytes = kind == kKindBytes;
    if (p.isBytes) {
      p.bytes.resize(size);
      if (size && !ReadAll(s, p.bytes.data(), size)) throw bad();
    } else if (!ReadAll(s, &p.number, 4)) {
      throw bad();
    }
    props.push_back(std::move(p));
  }
  return props;
}

}  // namespace

namespace {
// The thread's parking window and how many forms of the thread may stand on it: the window
// goes with the last of them, so that nothing of the module is left on a thread that
// unloads it.
thread_local HWND t_parking = nullptr;
thread_local int t_parkedForms = 0;
}  // namespace

HWND ParkingWindow() {
  HWND& parking = t_parking;
  if (parking && IsWindow(parking)) return parking;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &ParkingProc;
  wc.hInstance = FrameworkModule();
  wc.lpszClassName = L"ZanQuilmoFrameworkParking";
  RegisterWindowClass(wc);
  parking = CreateWindowExW(WS_EX_TOOLWINDOW, wc.lpszClassName, L"", WS_POPUP | WS_CLIPCHILDREN, 0, 0, 0, 0, nullptr,
                            nullptr, FrameworkModule(), nullptr);
  CheckWin32(parking != nullptr, "CreateWindowEx (parking window)");
  return parking;
}

// ---- construction and IUnknown ----

ActiveFormControl::ActiveFormControl(Description d, ITypeLib* lib, IUnknown* outer)
    : OleControlCommon(d.miscStatus), d_(std::move(d)), inner_(*this), outer_(outer), cp_(this, d_.events) {
  if (lib) {
    lib->GetTypeInfoOfGuid(d_.clsid, classInfo_.put());
    lib->GetTypeInfoOfGuid(d_.dual, dispatchInfo_.put());
  }
  CreateDataAdviseHolder(dataAdviseHolder_.put());
  cp_.onSinkChanged = [this](IUnknown* sink) -> HRESULT {
    try {
      EventSinkChanged(sink);
      return S_OK;
    } catch (...) {
      return ErrorResult();
    }
  };
}

ActiveFormControl::~ActiveFormControl() {
  if (form_) {
    form_->OnFocusEnter = nullptr;
    form_.reset();
  }
  if (ownsParkingUse_ && --t_parkedForms == 0) {
    if (t_parking) DestroyWindow(t_parking);
    t_parking = nullptr;
    // The thread's last control is gone, and with it every timer and cursor it kept.
    ReleaseThreadState();
  }
}

void ActiveFormControl::CreateWindowedForm() {
  if (!ownsParkingUse_) {
    ownsParkingUse_ = true;
    ++t_parkedForms;
  }
  form_ = CreateForm();
  form_->OnFocusEnter = [this](Control&) { OnFocusEnter(); };
  form_->OnModified = [this](Control&) { SetDirty(); };
  if (!form_->ParentWindow()) form_->SetParentWindow(ParkingWindow());
  form_->Handle();
  const SIZEL s = PixelsToHimetric(form_->Width(), form_->Height());
  extent_ = s;
}

HRESULT ActiveFormControl::InnerQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  IUnknown* p = nullptr;
  if (IsEqualIID(riid, IID_IUnknown)) p = &inner_;
  else if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, d_.dual)) p = Automation();
  else if (IsEqualIID(riid, IID_IOleObject)) p = static_cast<IOleObject*>(this);
  else if (IsEqualIID(riid, IID_IOleControl)) p = static_cast<IOleControl*>(this);
  else if (IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IOleInPlaceObject))
    p = static_cast<IOleInPlaceObject*>(this);
  else if (IsEqualIID(riid, IID_IOleInPlaceActiveObject)) p = static_cast<IOleInPlaceActiveObject*>(this);
  else if (IsEqualIID(riid, IID_IViewObject) || IsEqualIID(riid, IID_IViewObject2)) p = static_cast<IViewObject2*>(this);
  else if (IsEqualIID(riid, IID_IDataObject)) p = static_cast<IDataObject*>(this);
  else if (IsEqualIID(riid, IID_IPersist) || IsEqualIID(riid, IID_IPersistStreamInit))
    p = static_cast<IPersistStreamInit*>(this);
  else if (IsEqualIID(riid, IID_IPersistStorage)) p = static_cast<IPersistStorage*>(this);
  else if (IsEqualIID(riid, IID_IPersistPropertyBag)) p = static_cast<IPersistPropertyBag*>(this);
  else if (IsEqualIID(riid, IID_IQuickActivate)) p = static_cast<IQuickActivate*>(this);
  else if (IsEqualIID(riid, IID_ISimpleFrameSite)) p = static_cast<ISimpleFrameSite*>(this);
  else if (IsEqualIID(riid, IID_ISpecifyPropertyPages)) p = static_cast<ISpecifyPropertyPages*>(this);
  else if (IsEqualIID(riid, IID_IPerPropertyBrowsing)) p = static_cast<IPerPropertyBrowsing*>(this);
  else if (IsEqualIID(riid, IID_IConnectionPointContainer)) p = static_cast<IConnectionPointContainer*>(this);
  else if (IsEqualIID(riid, IID_IObjectSafety)) p = static_cast<IObjectSafety*>(this);
  else if (IsEqualIID(riid, IID_IProvideClassInfo) || IsEqualIID(riid, IID_IProvideClassInfo2))
    p = static_cast<IProvideClassInfo2*>(this);
  else if (IsEqualIID(riid, IID_ISupportErrorInfo)) p = static_cast<ISupportErrorInfo*>(this);
  if (!p) return E_NOINTERFACE;
  p->AddRef();
  *ppv = p;
  return S_OK;
}

ULONG ActiveFormControl::InnerAddRef() { return static_cast<ULONG>(++refs_); }

ULONG ActiveFormControl::InnerRelease() {
  const long n = --refs_;
  if (n == 0) delete this;
  return static_cast<ULONG>(n);
}

HRESULT ActiveFormControl::OuterQueryInterface(REFIID riid, void** ppv) { return Controlling()->QueryInterface(riid, ppv); }
ULONG ActiveFormControl::OuterAddRef() { return Controlling()->AddRef(); }
ULONG ActiveFormControl::OuterRelease() { return Controlling()->Release(); }

HRESULT ActiveFormControl::ErrorResult() noexcept { return ComErrorFromException(d_.dual, d_.progId); }

// ---- IOleObject ----

STDMETHODIMP ActiveFormControl::SetClientSite(IOleClientSite* site) {
  site_ = site;
  return S_OK;
}

STDMETHODIMP ActiveFormControl::Close(DWORD save) {
  InPlaceDeactivate();
  // A modified control is saved through its site before it closes (without a question:
  // the control has no user interface of its own for it). A failing save is the caller's
  // to know.
  if ((save == OLECLOSE_SAVEIFDIRTY || save == OLECLOSE_PROMPTSAVE) && dirty_ && site_) {
    const HRESULT hr = site_->SaveObject();
    if (FAILED(hr)) return hr;
    if (adviseHolder_) adviseHolder_->SendOnSave();
  }
  if (adviseHolder_) adviseHolder_->SendOnClose();
  return S_OK;
}

STDMETHODIMP ActiveFormControl::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND, LPCRECT pos) {
  if (site && !site_) site_ = site;
  try {
    switch (verb) {
      case OLEIVERB_PRIMARY:
      case OLEIVERB_PROPERTIES: {
        // No property pages of our own: the container may show its property frame.
        ComPtr<IOleControlSite> controlSite;
        if (site_ && SUCCEEDED(site_.As(controlSite))) controlSite->ShowPropertyFrame();
        return S_OK;
      }
      case OLEIVERB_SHOW:
      case OLEIVERB_UIACTIVATE:
      case OLEIVERB_OPEN:
        return InPlaceActivate(true);
      case OLEIVERB_INPLACEACTIVATE: {
        const HRESULT hr = InPlaceActivate(false);
        if (SUCCEEDED(hr) && pos) SetObjectRects(pos, pos);
        return hr;
      }
      case OLEIVERB_HIDE:
        UIDeactivate();
        if (form_) form_->SetVisible(false);
        return S_OK;
      case OLEIVERB_DISCARDUNDOSTATE:
        return S_OK;
      default:
        return verb < 0 ? E_NOTIMPL : OLEOBJ_S_INVALIDVERB;
    }
  } catch (...) {
    return ErrorResult();
  }
}

STDMETHODIMP ActiveFormControl::EnumVerbs(IEnumOLEVERB** e) {
  if (!e) return E_POINTER;
  *e = nullptr;
  std::vector<OLEVERB> verbs;
  for (const Verb& v : d_.verbs) {
    OLEVERB o{v.number, const_cast<LPOLESTR>(v.name.c_str()), 0, OLEVERBATTRIB_ONCONTAINERMENU};
    verbs.push_back(EnumCopy(o));
  }
  *e = new (std::nothrow) VerbsEnum(std::move(verbs));
  return *e ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP ActiveFormControl::GetUserClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = d_.clsid;
  return S_OK;
}

STDMETHODIMP ActiveFormControl::GetUserType(DWORD form, LPOLESTR* type) { return OleRegGetUserType(d_.clsid, form, type); }

STDMETHODIMP ActiveFormControl::SetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  extent_ = *size;
  // Not in place: the form takes the size (in place, SetObjectRects decides).
  if (form_ && !inPlaceActive_) {
    try {
      const POINT px = HimetricToPixels(size->cx, size->cy);
      form_->SetBounds(form_->Left(), form_->Top(), px.x, px.y);
    } catch (...) {
      return ErrorResult();
    }
  }
  return S_OK;
}

STDMETHODIMP ActiveFormControl::GetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  *size = form_ ? PixelsToHimetric(form_->Width(), form_->Height()) : extent_;
  return S_OK;
}

// ---- IOleControl ----

// ---- in place ----

STDMETHODIMP ActiveFormControl::GetWindow(HWND* w) {
  if (!w) return E_POINTER;
  *w = form_ && form_->HandleAllocated() ? form_->Handle() : nullptr;
  return *w ? S_OK : E_FAIL;
}

HRESULT ActiveFormControl::InPlaceActivate(bool uiActivate) {
  if (!site_ || !form_) return E_UNEXPECTED;
  if (!inPlaceActive_) {
    ComPtr<IOleInPlaceSite> ips;
    if (FAILED(site_.As(ips))) return E_NOINTERFACE;
    if (ips->CanInPlaceActivate() != S_OK) return E_FAIL;
    ips->OnInPlaceActivate();
    HWND parent = nullptr;
    if (FAILED(ips->GetWindow(&parent)) || !parent) {
      ips->OnInPlaceDeactivate();
      return E_FAIL;
    }
    RECT pos{0, 0, form_->Width(), form_->Height()}, clip = pos;
    OLEINPLACEFRAMEINFO info{};
    info.cb = sizeof info;
    frame_.reset();
    document_.reset();
    ips->GetWindowContext(frame_.put(), document_.put(), &pos, &clip, &info);
    inPlaceSite_ = ips;
    inPlaceActive_ = true;
    form_->SetParentWindow(parent);
    form_->SetBounds(pos.left, pos.top, pos.right - pos.left, pos.bottom - pos.top);
    form_->SetVisible(true);
    ShowWindow(form_->Handle(), SW_SHOWNA);
    FormReparented();
    site_->ShowObject();
  }
  if (uiActivate && !uiActive_) {
    uiActive_ = true;
    inPlaceSite_->OnUIActivate();
    if (frame_) frame_->SetActiveObject(static_cast<IOleInPlaceActiveObject*>(this), nullptr);
    if (document_) document_->SetActiveObject(static_cast<IOleInPlaceActiveObject*>(this), nullptr);
    HWND focus = GetFocus();
    if (!focus || !IsChild(form_->Handle(), focus)) SetFocus(form_->Handle());
  }
  return S_OK;
}

STDMETHODIMP ActiveFormControl::UIDeactivate() {
  if (!uiActive_) return S_OK;
  uiActive_ = false;
  if (frame_) frame_->SetActiveObject(nullptr, nullptr);
  if (document_) document_->SetActiveObject(nullptr, nullptr);
  if (inPlaceSite_) inPlaceSite_->OnUIDeactivate(FALSE);
  return S_OK;
}

STDMETHODIMP ActiveFormControl::InPlaceDeactivate() {
  if (!inPlaceActive_) return S_OK;
  UIDeactivate();
  inPlaceActive_ = false;
  try {
    ParkForm();
  } catch (...) {
  }
  ComPtr<IOleInPlaceSite> ips = std::move(inPlaceSite_);
  frame_.reset();
  document_.reset();
  if (ips) ips->OnInPlaceDeactivate();
  return S_OK;
}

void ActiveFormControl::ParkForm() {
  if (!form_) return;
  form_->SetVisible(false);
  form_->SetParentWindow(ParkingWindow());
  FormReparented();
}

STDMETHODIMP ActiveFormControl::SetObjectRects(LPCRECT pos, LPCRECT) {
  if (!pos) return E_POINTER;
  if (!form_) return E_UNEXPECTED;
  try {
    form_->SetBounds(pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top);
    extent_ = PixelsToHimetric(form_->Width(), form_->Height());
    return S_OK;
  } catch (...) {
    return ErrorResult();
  }
}

// Enter and Escape go to the focused window of the form: a container would otherwise take
// them for its default and cancel buttons.
STDMETHODIMP ActiveFormControl::TranslateAccelerator(LPMSG msg) {
  if (!msg || !form_ || !form_->HandleAllocated()) return S_FALSE;
  const bool key = msg->message == WM_KEYDOWN || msg->message == WM_KEYUP || msg->message == WM_CHAR;
  if (!key || (msg->wParam != VK_RETURN && msg->wParam != VK_ESCAPE && msg->wParam != '\n')) return S_FALSE;
  HWND focus = GetFocus();
  if (!focus || (focus != form_->Handle() && !IsChild(form_->Handle(), focus))) return S_FALSE;
  TranslateMessage(msg);
  DispatchMessageW(msg);
  return S_OK;
}

void ActiveFormControl::OnFocusEnter() {
  if (inPlaceActive_ && !uiActive_) InPlaceActivate(true);
  ComPtr<IOleControlSite> controlSite;
  if (site_ && SUCCEEDED(site_.As(controlSite))) controlSite->OnFocus(TRUE);
}

// ---- drawing ----

// Paints the form and its child windows into `dc`, scaled to `bounds`.
void ActiveFormControl::RenderForm(HDC dc, const RECT& bounds) {
  const int fw = std::max(1, form_->Width()), fh = std::max(1, form_->Height());
  MemoryDC mem(dc);
  GdiObject<HBITMAP> picture(CreateCompatibleBitmap(dc, fw, fh));
  CheckWin32(static_cast<bool>(picture), "CreateCompatibleBitmap");
  SelectGuard sel(mem.get(), picture.get());
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
  try {
    RenderForm(dc, RECT{bounds->left, bounds->top, bounds->right, bounds->bottom});
    return S_OK;
  } catch (...) {
    return ErrorResult();
  }
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
  try {
    HDC screen = GetDC(nullptr);
    MemoryDC mem(screen);
    GdiObject<HBITMAP> bitmap(CreateCompatibleBitmap(screen, std::max(1, form_->Width()), std::max(1, form_->Height())));
    ReleaseDC(nullptr, screen);
    CheckWin32(static_cast<bool>(bitmap), "CreateCompatibleBitmap");
    {
      SelectGuard sel(mem.get(), bitmap.get());
      RenderForm(mem.get(), RECT{0, 0, form_->Width(), form_->Height()});
    }
    medium->tymed = TYMED_GDI;
    medium->hBitmap = bitmap.release();
    medium->pUnkForRelease = nullptr;
    return S_OK;
  } catch (...) {
    return ErrorResult();
  }
}

STDMETHODIMP ActiveFormControl::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) {
  if (out) out->ptd = nullptr;
  return DATA_S_SAMEFORMATETC;
}

STDMETHODIMP ActiveFormControl::EnumFormatEtc(DWORD direction, IEnumFORMATETC** e) {
  if (!e) return E_POINTER;
  *e = nullptr;
  std::vector<FORMATETC> formats;
  if (direction == DATADIR_GET) formats.push_back({CF_BITMAP, nullptr, DVASPECT_CONTENT, -1, TYMED_GDI});
  *e = new (std::nothrow) FormatsEnum(std::move(formats));
  return *e ? S_OK : E_OUTOFMEMORY;
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

// ---- persistence ----

STDMETHODIMP ActiveFormControl::GetClassID(CLSID* clsid) { return GetUserClassID(clsid); }

STDMETHODIMP ActiveFormControl::Load(LPSTREAM stream) {
  if (!stream) return E_POINTER;
  try {
    LoadDesign(Decode(stream));
    dirty_ = false;
    return S_OK;
  } catch (...) {
    return ErrorResult();
  }
}

STDMETHODIMP ActiveFormControl::Save(LPSTREAM stream, BOOL clearDirty) {
  if (!stream) return E_POINTER;
  try {
    const std::vector<std::uint8_t> bytes = Encode(SaveDesign());
    for (std::size_t done = 0; done < bytes.size();) {
      ULONG wrote = 0;
      const ULONG n = static_cast<ULONG>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
      const HRESULT hr = stream->Write(bytes.data() + done, n, &wrote);
      if (FAILED(hr)) return hr;
      if (wrote == 0) return STG_E_MEDIUMFULL;
      done += wrote;
    }
    if (clearDirty) dirty_ = false;
    return S_OK;
  } catch (...) {
    return ErrorResult();
  }
}

STDMETHODIMP ActiveFormControl::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  try {
    size->QuadPart = Encode(SaveDesign()).size();
    return S_OK;
  } catch (...) {
    return ErrorResult();
  }
}

STDMETHODIMP ActiveFormControl::InitNew() { return S_OK; }

STDMETHODIMP ActiveFormControl::InitNew(IStorage* storage) { return storage ? S_OK : E_POINTER; }

STDMETHODIMP ActiveFormControl::Load(IStorage* storage) {
  if (!storage) return E_POINTER;
  ComPtr<IStream> s;
  const HRESULT hr =
      storage->OpenStream(L"CONTROLSAVESTREAM", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, s.put());
  if (FAILED(hr)) return hr;
  return Load(s.get());
}

STDMETHODIMP ActiveFormControl::Save(IStorage* storage, BOOL) {
  if (!storage) return E_POINTER;
  ComPtr<IStream> s;
  const HRESULT hr = storage->CreateStream(L"CONTROLSAVESTREAM", STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                           s.put());
  if (FAILED(hr)) return hr;
  return Save(s.get(), TRUE);
}

std::vector<ActiveFormControl::BagProperty> ActiveFormControl::BagProperties() const {
  std::vector<BagProperty> out;
  if (!dispatchInfo_) return out;
  TYPEATTR* attr = nullptr;
  if (FAILED(dispatchInfo_->GetTypeAttr(&attr))) return out;
  const WORD count = attr->cFuncs;
  dispatchInfo_->ReleaseTypeAttr(attr);
  struct Entry {
    DISPID id;
    bool get = false, put = false, putRef = false;
  };
  std::vector<Entry> entries;  // in type-library order
  for (UINT i = 0; i < count; ++i) {
    FUNCDESC* fd = nullptr;
    if (FAILED(dispatchInfo_->GetFuncDesc(i, &fd))) continue;
    auto it = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.id == fd->memid; });
    if (it == entries.end()) {
      entries.push_back({fd->memid});
      it = entries.end() - 1;
    }
    if (fd->invkind == INVOKE_PROPERTYGET) it->get = true;
    if (fd->invkind == INVOKE_PROPERTYPUT) it->put = true;
    if (fd->invkind == INVOKE_PROPERTYPUTREF) it->putRef = true;
    dispatchInfo_->ReleaseFuncDesc(fd);
  }
  for (const Entry& e : entries) {
    if (!e.get || !(e.put || e.putRef)) continue;
    BStr name;
    UINT n = 0;
    if (FAILED(dispatchInfo_->GetNames(e.id, name.put(), 1, &n)) || n == 0) continue;
    out.push_back({name.str(), e.id, e.putRef && !e.put});
  }
  return out;
}

STDMETHODIMP ActiveFormControl::Load(IPropertyBag* bag, IErrorLog* log) {
  if (!bag) return E_POINTER;
  for (const BagProperty& p : BagProperties()) {
    Variant v;
    const HRESULT hr = bag->Read(p.name.c_str(), v.get(), log);
    if (hr == E_ABORT) return E_FAIL;
    if (FAILED(hr)) continue;
    PutProperty(Automation(), p.id, *v, p.byRef || (*v).vt == VT_DISPATCH);  // a failing put is skipped
  }
  dirty_ = false;
  return S_OK;
}

STDMETHODIMP ActiveFormControl::Save(IPropertyBag* bag, BOOL clearDirty, BOOL) {
  if (!bag) return E_POINTER;
  for (const BagProperty& p : BagProperties()) {
    Variant v;
    if (FAILED(GetProperty(Automation(), p.id, v.get()))) continue;
    const HRESULT hr = bag->Write(p.name.c_str(), v.get());
    if (FAILED(hr)) return hr;
  }
  if (clearDirty) dirty_ = false;
  return S_OK;
}

// ---- IQuickActivate ----

STDMETHODIMP ActiveFormControl::QuickActivate(QACONTAINER* c, QACONTROL* out) {
  if (!c || !out) return E_POINTER;
  if (c->cbSize < sizeof(QACONTAINER) || out->cbSize < sizeof(QACONTROL)) return E_INVALIDARG;
  SetClientSite(c->pClientSite);
  if (c->pAdviseSink) SetAdvise(DVASPECT_CONTENT, 0, c->pAdviseSink);
  out->dwMiscStatus = d_.miscStatus;
  out->dwViewStatus = VIEWSTATUS_OPAQUE;
  out->dwEventCookie = 0;
  out->dwPropNotifyCookie = 0;
  out->dwPointerActivationPolicy = 0;
  if (c->pUnkEventSink) cp_.Advise(c->pUnkEventSink, &out->dwEventCookie);
  return S_OK;
}

// ---- property pages and browsing ----

STDMETHODIMP ActiveFormControl::GetPages(CAUUID* pages) {
  if (!pages) return E_POINTER;
  pages->cElems = 0;
  pages->pElems = nullptr;
  return S_OK;
}

ComPtr<ITypeInfo> ActiveFormControl::EnumTypeOf(DISPID id) const {
  if (!dispatchInfo_) return {};
  TYPEATTR* attr = nullptr;
  if (FAILED(dispatchInfo_->GetTypeAttr(&attr))) return {};
  const WORD count = attr->cFuncs;
  dispatchInfo_->ReleaseTypeAttr(attr);
  for (UINT i = 0; i < count; ++i) {
    FUNCDESC* fd = nullptr;
    if (FAILED(dispatchInfo_->GetFuncDesc(i, &fd))) continue;
    ComPtr<ITypeInfo> result;
    if (fd->memid == id && fd->invkind == INVOKE_PROPERTYGET && fd->elemdescFunc.tdesc.vt == VT_USERDEFINED) {
      ComPtr<ITypeInfo> t;
      TYPEATTR* ta = nullptr;
      if (SUCCEEDED(dispatchInfo_->GetRefTypeInfo(fd->elemdescFunc.tdesc.hreftype, t.put())) &&
          SUCCEEDED(t->GetTypeAttr(&ta))) {
        if (ta->typekind == TKIND_ENUM) result = t;
        t->ReleaseTypeAttr(ta);
      }
    }
    dispatchInfo_->ReleaseFuncDesc(fd);
    if (result) return result;
  }
  return {};
}

STDMETHODIMP ActiveFormControl::GetDisplayString(DISPID id, BSTR* text) {
  if (!text) return E_POINTER;
  *text = nullptr;
  ComPtr<ITypeInfo> e = EnumTypeOf(id);
  if (!e) return E_NOTIMPL;
  Variant v;
  if (FAILED(GetProperty(Automation(), id, v.get())) || FAILED(VariantChangeType(v.get(), v.get(), 0, VT_I4)))
    return E_FAIL;
  TYPEATTR* ta = nullptr;
  if (FAILED(e->GetTypeAttr(&ta))) return E_FAIL;
  const WORD n = ta->cVars;
  e->ReleaseTypeAttr(ta);
  for (UINT i = 0; i < n; ++i) {
    VARDESC* vd = nullptr;
    if (FAILED(e->GetVarDesc(i, &vd))) continue;
    const bool match = vd->varkind == VAR_CONST && vd->lpvarValue && vd->lpvarValue->lVal == (*v).lVal;
    const MEMBERID member = vd->memid;
    e->ReleaseVarDesc(vd);
    if (!match) continue;
    BStr name;
    UINT got = 0;
    if (SUCCEEDED(e->GetNames(member, name.put(), 1, &got)) && got) {
      *text = SysAllocString((std::to_wstring((*v).lVal) + L" - " + name.str()).c_str());
      return *text ? S_OK : E_OUTOFMEMORY;
    }
  }
  return E_FAIL;
}

STDMETHODIMP ActiveFormControl::MapPropertyToPage(DISPID, CLSID* clsid) {
  if (clsid) *clsid = CLSID_NULL;
  return PERPROP_E_NOPAGEAVAILABLE;
}

STDMETHODIMP ActiveFormControl::GetPredefinedStrings(DISPID id, CALPOLESTR* strings, CADWORD* cookies) {
  if (!strings || !cookies) return E_POINTER;
  strings->cElems = cookies->cElems = 0;
  strings->pElems = nullptr;
  cookies->pElems = nullptr;
  ComPtr<ITypeInfo> e = EnumTypeOf(id);
  if (!e) return E_NOTIMPL;
  TYPEATTR* ta = nullptr;
  if (FAILED(e->GetTypeAttr(&ta))) return E_FAIL;
  const WORD n = ta->cVars;
  e->ReleaseTypeAttr(ta);
  strings->pElems = static_cast<LPOLESTR*>(CoTaskMemAlloc(sizeof(LPOLESTR) * std::max<WORD>(n, 1)));
  cookies->pElems = static_cast<DWORD*>(CoTaskMemAlloc(sizeof(DWORD) * std::max<WORD>(n, 1)));
  if (!strings->pElems || !cookies->pElems) {
    CoTaskMemFree(strings->pElems);
    CoTaskMemFree(cookies->pElems);
    strings->pElems = nullptr;
    cookies->pElems = nullptr;
    return E_OUTOFMEMORY;
  }
  for (UINT i = 0; i < n; ++i) {
    VARDESC* vd = nullptr;
    if (FAILED(e->GetVarDesc(i, &vd))) continue;
    const LONG value = vd->lpvarValue ? vd->lpvarValue->lVal : 0;
    const MEMBERID member = vd->memid;
    e->ReleaseVarDesc(vd);
    BStr name;
    UINT got = 0;
    e->GetNames(member, name.put(), 1, &got);
    const std::wstring text = std::to_wstring(value) + L" - " + name.str();
    auto* s = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    if (!s) continue;
    wmemcpy(s, text.c_str(), text.size() + 1);
    strings->pElems[strings->cElems++] = s;
    cookies->pElems[cookies->cElems++] = static_cast<DWORD>(value);
  }
  return S_OK;
}

STDMETHODIMP ActiveFormControl::GetPredefinedValue(DISPID id, DWORD cookie, VARIANT* value) {
  if (!value) return E_POINTER;
  if (!EnumTypeOf(id)) return E_NOTIMPL;
  VariantInit(value);
  value->vt = VT_I4;
  value->lVal = static_cast<LONG>(cookie);
  return S_OK;
}

// ---- connection points ----

STDMETHODIMP ActiveFormControl::EnumConnectionPoints(IEnumConnectionPoints** e) {
  if (!e) return E_POINTER;
  std::vector<IConnectionPoint*> points{&cp_};
  cp_.AddRef();
  *e = new (std::nothrow) PointsEnum(std::move(points));
  if (!*e) {
    cp_.Release();
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

STDMETHODIMP ActiveFormControl::FindConnectionPoint(REFIID riid, IConnectionPoint** cp) {
  if (!cp) return E_POINTER;
  *cp = nullptr;
  if (!IsEqualIID(riid, d_.events)) return CONNECT_E_NOCONNECTION;
  *cp = &cp_;
  cp_.AddRef();
  return S_OK;
}

// ---- IObjectSafety ----

STDMETHODIMP ActiveFormControl::GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) {
  if (!supported || !enabled) return E_POINTER;
  ComPtr<IUnknown> probe;
  if (FAILED(OuterQueryInterface(riid, probe.put_void()))) {
    *supported = *enabled = 0;
    return E_NOINTERFACE;
  }
  *supported = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
  *enabled = safetyEnabled_;
  return S_OK;
}

STDMETHODIMP ActiveFormControl::SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) {
  ComPtr<IUnknown> probe;
  if (FAILED(OuterQueryInterface(riid, probe.put_void()))) return E_NOINTERFACE;
  safetyEnabled_ = mask & enabled;
  return S_OK;
}

// ---- class information and errors ----

STDMETHODIMP ActiveFormControl::GetClassInfo(ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = classInfo_.get();
  if (!*info) return E_FAIL;
  (*info)->AddRef();
  return S_OK;
}

STDMETHODIMP ActiveFormControl::GetGUID(DWORD kind, GUID* guid) {
  if (!guid) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
    *guid = GUID_NULL;
    return E_INVALIDARG;
  }
  *guid = d_.events;
  return S_OK;
}

STDMETHODIMP ActiveFormControl::InterfaceSupportsErrorInfo(REFIID riid) {
  return IsEqualIID(riid, d_.dual) ? S_OK : S_FALSE;
}

}  // namespace zq::fw
