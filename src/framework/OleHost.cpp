#include "OleHost.h"

#include <olectl.h>

#include <algorithm>
#include <iterator>
#include <utility>

#include "Application.h"

namespace zq::fw {

namespace {

// The screen's resolution in pixels per inch.
SIZE ScreenDpi() {
  try {
    WindowDC screen(nullptr);
    return {GetDeviceCaps(screen.get(), LOGPIXELSX), GetDeviceCaps(screen.get(), LOGPIXELSY)};
  } catch (const Error&) {
    return {96, 96};  // no screen to ask: the usual resolution
  }
}

}  // namespace

SIZEL PixelsToHimetric(int width, int height) {
  const SIZE dpi = ScreenDpi();
  return {MulDiv(width, 2540, dpi.cx), MulDiv(height, 2540, dpi.cy)};
}

POINT HimetricToPixels(LONG x, LONG y) {
  const SIZE dpi = ScreenDpi();
  return {MulDiv(x, dpi.cx, 2540), MulDiv(y, dpi.cy, 2540)};
}

namespace {

// The object of a class: from the registry, else from a module's own class factory.
ComPtr<IUnknown> CreateFrom(const CLSID& clsid, const std::wstring& module, bool& fromModule) {
  ComPtr<IUnknown> object;
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.put_void());
  fromModule = false;
  if (SUCCEEDED(hr)) return object;
  if (module.empty() || (hr != REGDB_E_CLASSNOTREG && hr != REGDB_E_READREGDB && hr != CO_E_DLLNOTFOUND &&
                         hr != REGDB_E_KEYMISSING))
    ThrowIfFailed(hr, "CoCreateInstance");
  // Loaded for good: a server's code may stay in use (window classes, hooks) after its
  // objects have gone.
  HMODULE m = LoadLibraryW(module.c_str());
  if (!m) throw Error("the class is not registered and its module " + Narrow(module) + " cannot be loaded", hr);
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(m, "DllGetClassObject")));
  if (!get) throw Error(Narrow(module) + " is not an in-process server", E_FAIL);
  ComPtr<IClassFactory> factory;
  ThrowIfFailed(get(clsid, IID_IClassFactory, factory.put_void()), "DllGetClassObject");
  ThrowIfFailed(factory->CreateInstance(nullptr, IID_IUnknown, object.put_void()), "IClassFactory::CreateInstance");
  fromModule = true;
  return object;
}

VARIANT BoolVariant(bool v) {
  VARIANT r;
  VariantInit(&r);
  r.vt = VT_BOOL;
  r.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
  return r;
}

}  // namespace

// The client site, and the in-place frame: what the object asks of its container.
class OleControl::Site final : public IOleClientSite,
                               public IOleInPlaceSite,
                               public IOleInPlaceFrame,
                               public IOleControlSite,
                               public IDispatch,
                               public RefCounted {
 public:
  explicit Site(OleControl* owner) : owner_(owner) {}
  void Orphan() { owner_ = nullptr; }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite))
      *ppv = static_cast<IOleClientSite*>(this);
    else if (IsEqualIID(riid, IID_IOleInPlaceSite) || IsEqualIID(riid, IID_IOleWindow))
      *ppv = static_cast<IOleInPlaceSite*>(this);
    else if (IsEqualIID(riid, IID_IOleInPlaceFrame) || IsEqualIID(riid, IID_IOleInPlaceUIWindow))
      *ppv = static_cast<IOleInPlaceFrame*>(this);
    else if (IsEqualIID(riid, IID_IOleControlSite))
      *ppv = static_cast<IOleControlSite*>(this);
    else if (IsEqualIID(riid, IID_IDispatch))
      *ppv = static_cast<IDispatch*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
  STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** m) override {
    if (m) *m = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetContainer(IOleContainer** c) override {
    if (c) *c = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (of the site and of the frame) / IOleInPlaceSite
  STDMETHODIMP GetWindow(HWND* w) override {
    if (!w) return E_POINTER;
    *w = owner_ && owner_->Parent() ? owner_->Parent()->HandleIfAllocated() : nullptr;
    return *w ? S_OK : E_FAIL;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP CanInPlaceActivate() override { return owner_ && owner_->Visible() ? S_OK : S_FALSE; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip,
                                LPOLEINPLACEFRAMEINFO info) override {
    if (!frame || !doc || !pos || !clip) return E_POINTER;
    *frame = nullptr;
    *doc = nullptr;
    if (!owner_) return E_UNEXPECTED;
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *pos = owner_->PositionInParent();
    *clip = *pos;
    if (info) {
      const HWND parent = owner_->Parent() ? owner_->Parent()->Handle() : nullptr;
      info->fMDIApp = FALSE;
      info->hwndFrame = parent ? GetAncestor(parent, GA_ROOT) : nullptr;
      info->haccel = nullptr;
      info->cAccelEntries = 0;
    }
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override {
    if (owner_) owner_->inPlace_.reset();
    return S_OK;
  }
  STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
  STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
  STDMETHODIMP OnPosRectChange(LPCRECT r) override {
    if (!owner_ || !r) return E_UNEXPECTED;
    if (owner_->inPlace_) owner_->inPlace_->SetObjectRects(r, r);
    return S_OK;
  }

  // IOleInPlaceUIWindow / IOleInPlaceFrame: no tool space and no menus to share.
  STDMETHODIMP GetBorder(LPRECT r) override {
    if (r) SetRectEmpty(r);
    return INPLACE_E_NOTOOLSPACE;
  }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS w) override {
    return !w || (w->left == 0 && w->top == 0 && w->right == 0 && w->bottom == 0) ? S_OK : OLE_E_INVALIDRECT;
  }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR) override {
    if (owner_) owner_->active_ = ComPtr<IOleInPlaceActiveObject>(active);
    return S_OK;
  }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS widths) override {
    if (widths) std::fill(std::begin(widths->width), std::end(widths->width), 0);
    return S_OK;
  }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return S_OK; }
  STDMETHODIMP SetStatusText(LPCOLESTR text) override {
    if (owner_ && owner_->OnStatusText) {
      try {
        owner_->OnStatusText(text ? std::wstring(text) : std::wstring());
      } catch (...) {
        HandleException();
      }
    }
    return S_OK;
  }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IOleControlSite
  STDMETHODIMP OnControlInfoChanged() override { return S_OK; }
  STDMETHODIMP LockInPlaceActive(BOOL) override { return S_OK; }
  STDMETHODIMP GetExtendedControl(IDispatch** d) override {
    if (d) *d = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP TransformCoords(POINTL* himetric, POINTF* container, DWORD flags) override {
    if (!himetric || !container) return E_POINTER;
    if (flags & XFORMCOORDS_HIMETRICTOCONTAINER) {
      const POINT p = HimetricToPixels(himetric->x, himetric->y);
      container->x = static_cast<float>(p.x);
      container->y = static_cast<float>(p.y);
    } else {
      const SIZEL s = PixelsToHimetric(static_cast<int>(container->x), static_cast<int>(container->y));
      himetric->x = s.cx;
      himetric->y = s.cy;
    }
    return S_OK;
  }
  STDMETHODIMP TranslateAccelerator(MSG*, DWORD) override { return S_FALSE; }
  STDMETHODIMP OnFocus(BOOL) override { return S_OK; }
  STDMETHODIMP ShowPropertyFrame() override { return E_NOTIMPL; }

  // IDispatch: the ambient properties.
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    if (n) *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** t) override {
    if (t) *t = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
    if (!(flags & DISPATCH_PROPERTYGET) || !result) return DISP_E_MEMBERNOTFOUND;
    VariantInit(result);
    switch (id) {
      case DISPID_AMBIENT_USERMODE: *result = BoolVariant(true); return S_OK;
      case DISPID_AMBIENT_UIDEAD:
      case DISPID_AMBIENT_SHOWHATCHING:
      case DISPID_AMBIENT_SHOWGRABHANDLES:
      case DISPID_AMBIENT_MESSAGEREFLECT:
      case DISPID_AMBIENT_SUPPORTSMNEMONICS: *result = BoolVariant(false); return S_OK;
      case DISPID_AMBIENT_BACKCOLOR:
      case DISPID_AMBIENT_FORECOLOR: {
        Color c = kBtnFace;
        if (id == DISPID_AMBIENT_FORECOLOR) c = kWindowText;
        else if (owner_ && owner_->Parent()) c = owner_->Parent()->GetColor();
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(Resolve(c));
        return S_OK;
      }
      case DISPID_AMBIENT_LOCALEID:
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(GetUserDefaultLCID());
        return S_OK;
      default: return DISP_E_MEMBERNOTFOUND;
    }
  }

 private:
  OleControl* owner_;
};

OleControl::OleControl(WinControl* parent, std::wstring name, const CLSID& clsid, std::wstring fallbackModule)
    : Control(parent, std::move(name)) {
  object_ = CreateFrom(clsid, fallbackModule, fromModule_);
  object_.As(ole_);
  object_.As(dispatch_);
  site_.reset(new Site(this));
  try {
    if (ole_) ThrowIfFailed(ole_->GetMiscStatus(DVASPECT_CONTENT, &misc_), "IOleObject::GetMiscStatus");
    const bool siteFirst = (misc_ & OLEMISC_SETCLIENTSITEFIRST) != 0;
    if (ole_ && siteFirst) ThrowIfFailed(ole_->SetClientSite(site_.get()), "IOleObject::SetClientSite");
    ComPtr<IPersistStreamInit> persist;
    if (SUCCEEDED(object_.As(persist))) ThrowIfFailed(persist->InitNew(), "IPersistStreamInit::InitNew");
    if (ole_ && !siteFirst) ThrowIfFailed(ole_->SetClientSite(site_.get()), "IOleObject::SetClientSite");
    if (ole_) {
      SIZEL extent = PixelsToHimetric(16, 16);
      ole_->SetExtent(DVASPECT_CONTENT, &extent);
    }
  } catch (...) {
    if (ole_) {
      ole_->Close(OLECLOSE_NOSAVE);
      ole_->SetClientSite(nullptr);
    }
    throw;  // the site goes with the member
  }
  // A component that is invisible at run time stays out of sight.
  if (InvisibleAtRunTime()) SetVisible(false);
}

OleControl::~OleControl() {
  for (Connection& c : connections_) c.point->Unadvise(c.cookie);
  connections_.clear();
  Deactivate();
  if (ole_) {
    ole_->Close(OLECLOSE_NOSAVE);
    ole_->SetClientSite(nullptr);
  }
  site_.reset();
  active_.reset();
  inPlace_.reset();
  dispatch_.reset();
  ole_.reset();
  object_.reset();
}

void OleControl::Connect(REFIID events, IDispatch* sink) {
  ComPtr<IConnectionPointContainer> cpc;
  ThrowIfFailed(object_.As(cpc), "IConnectionPointContainer");
  Connection c{};
  ThrowIfFailed(cpc->FindConnectionPoint(events, c.point.put()), "FindConnectionPoint");
  ThrowIfFailed(c.point->Advise(sink, &c.cookie), "IConnectionPoint::Advise");
  connections_.push_back(std::move(c));
}

RECT OleControl::PositionInParent() const { return BoundsRect(); }

void OleControl::Activate() {
  if (!ole_ || InvisibleAtRunTime() || !Visible() || inPlace_ || !Parent() || !Parent()->HandleAllocated()) return;
  RECT r = PositionInParent();
  const HRESULT hr = ole_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_.get(), 0, Parent()->Handle(), &r);
  if (FAILED(hr)) return;  // shown as it can be; nothing else depends on activation
  object_.As(inPlace_);
  if (inPlace_) inPlace_->SetObjectRects(&r, &r);
}

bool OleControl::TranslateAccelerator(MSG& msg) {
  if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST || !inPlace_) return false;
  ComPtr<IOleInPlaceActiveObject> active = active_;
  if (!active) object_.As(active);  // an object that never named its active part
  return active && active->TranslateAccelerator(&msg) == S_OK;
}

void OleControl::Focus() {
  if (!ole_ || !inPlace_ || !Parent() || !Parent()->HandleAllocated()) return;
  RECT r = PositionInParent();
  ole_->DoVerb(OLEIVERB_UIACTIVATE, nullptr, site_.get(), 0, Parent()->Handle(), &r);
}

void OleControl::Deactivate() noexcept {
  active_.reset();
  if (inPlace_) {
    ComPtr<IOleInPlaceObject> p = inPlace_;
    p->InPlaceDeactivate();
    inPlace_.reset();
  }
}

void OleControl::ParentHandleCreated() { Activate(); }
void OleControl::ParentHandleDestroying() { Deactivate(); }

void OleControl::BoundsChanged(const RECT& old) {
  Control::BoundsChanged(old);
  if (ole_) {
    SIZEL extent = PixelsToHimetric(Width(), Height());
    ole_->SetExtent(DVASPECT_CONTENT, &extent);
  }
  if (inPlace_) {
    const RECT r = PositionInParent();
    inPlace_->SetObjectRects(&r, &r);
  }
}

void OleControl::VisibilityChanged() {
  Control::VisibilityChanged();
  if (Visible()) Activate();
  else Deactivate();
}

}  // namespace zq::fw
