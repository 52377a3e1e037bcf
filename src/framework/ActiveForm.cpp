// ActiveFormControl: construction, identity and IUnknown, IOleObject, and in-place
// activation (IOleInPlaceObject, IOleInPlaceActiveObject). The other interface groups are in
// ActiveFormView.cpp (IViewObject2, IDataObject), ActiveFormPersist.cpp (streams, storages,
// property bags) and ActiveFormBrowse.cpp (IQuickActivate, property pages and browsing);
// what every framework control answers alike is OleControlCommon's (ComControl.cpp).
#include "ActiveForm.h"

#include <olectl.h>

#include <algorithm>

#include "Application.h"
#include "ComEnum.h"
#include "OleHost.h"

namespace zq::fw {

namespace {
using VerbsEnum = Enumerator<IEnumOLEVERB, OLEVERB, &IID_IEnumOLEVERB>;
LRESULT CALLBACK ParkingProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcW(w, m, wp, lp); }
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
    : OleControlCommon({d.clsid, d.dual, d.events, d.progId, d.miscStatus, SafetyRule::LastSet}, lib),
      d_(std::move(d)),
      inner_(*this),
      outer_(outer) {
  CreateDataAdviseHolder(dataAdviseHolder_.put());
  EventPoint().onSinkChanged = [this](IUnknown* sink) { return Guarded([&] { EventSinkChanged(sink); }); };
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

ULONG ActiveFormControl::InnerAddRef() { return AddRefImpl(); }
ULONG ActiveFormControl::InnerRelease() { return ReleaseImpl(); }

HRESULT ActiveFormControl::OuterQueryInterface(REFIID riid, void** ppv) { return Controlling()->QueryInterface(riid, ppv); }
ULONG ActiveFormControl::OuterAddRef() { return Controlling()->AddRef(); }
ULONG ActiveFormControl::OuterRelease() { return Controlling()->Release(); }


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
  return Guarded([&]() -> HRESULT {
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
  });
}

STDMETHODIMP ActiveFormControl::EnumVerbs(IEnumOLEVERB** e) {
  if (!e) return E_POINTER;
  *e = nullptr;
  return Guarded([&] {
    std::vector<OLEVERB> verbs;  // borrowing the names; the enumerator copies them
    for (const Verb& v : d_.verbs)
      verbs.push_back({v.number, const_cast<LPOLESTR>(v.name.c_str()), 0, OLEVERBATTRIB_ONCONTAINERMENU});
    *e = VerbsEnum::Make(verbs);
  });
}

STDMETHODIMP ActiveFormControl::SetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  extent_ = *size;
  // Not in place: the form takes the size (in place, SetObjectRects decides).
  if (form_ && !inPlaceActive_) {
    return Guarded([&] {
      const POINT px = HimetricToPixels(size->cx, size->cy);
      form_->SetBounds(form_->Left(), form_->Top(), px.x, px.y);
    });
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
  *w = form_ ? form_->HandleIfAllocated() : nullptr;
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
    // The container takes the form's window away with its own; nothing to report.
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
  return Guarded([&] {
    form_->SetBounds(pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top);
    extent_ = PixelsToHimetric(form_->Width(), form_->Height());
  });
}

// Enter and Escape go to the focused window of the form while the form uses them
// (Form::WantsKey): a container would otherwise take them for its default and cancel buttons.
// Otherwise they are the container's.
STDMETHODIMP ActiveFormControl::TranslateAccelerator(LPMSG msg) {
  if (!msg || !form_ || !form_->HandleAllocated()) return S_FALSE;
  const bool key = msg->message == WM_KEYDOWN || msg->message == WM_KEYUP || msg->message == WM_CHAR;
  if (!key || (msg->wParam != VK_RETURN && msg->wParam != VK_ESCAPE && msg->wParam != '\n')) return S_FALSE;
  if (!form_->WantsKey(msg->wParam == VK_ESCAPE ? VK_ESCAPE : VK_RETURN)) return S_FALSE;
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

}  // namespace zq::fw
