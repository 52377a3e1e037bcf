#include "ComControl.h"

#include "ComEnum.h"

#include <exdisp.h>
#include <shlguid.h>

#include <algorithm>
#include <cstring>

namespace zq::fw {

// ---- enumerators ----

namespace {
using ConnectionsEnum = Enumerator<IEnumConnections, CONNECTDATA, &IID_IEnumConnections>;
using PointsEnum = Enumerator<IEnumConnectionPoints, IConnectionPoint*, &IID_IEnumConnectionPoints>;
}  // namespace

// ---- ConnectionPoint ----

ConnectionPoint::~ConnectionPoint() = default;

STDMETHODIMP ConnectionPoint::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IConnectionPoint)) return E_NOINTERFACE;
  *ppv = static_cast<IConnectionPoint*>(this);
  AddRef();
  return S_OK;
}

STDMETHODIMP ConnectionPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = iid_;
  return S_OK;
}

STDMETHODIMP ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
  if (!out) return E_POINTER;
  *out = owner_;
  owner_->AddRef();
  return S_OK;
}

STDMETHODIMP ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  ComPtr<IDispatch> d;
  if (FAILED(sink->QueryInterface(iid_, d.put_void())) && FAILED(sink->QueryInterface(IID_IDispatch, d.put_void())))
    return CONNECT_E_CANNOTCONNECT;
  if (onSinkChanged) {
    const HRESULT hr = onSinkChanged(sink);
    // A sink without the interface the owner needs is one that cannot connect.
    if (FAILED(hr)) return hr == E_NOINTERFACE ? CONNECT_E_CANNOTCONNECT : hr;
  }
  const HRESULT hr = ComBoundary(IID_IConnectionPoint, L"", [&] { sinks_.push_back({nextCookie_, std::move(d)}); });
  if (FAILED(hr)) return hr;
  *cookie = nextCookie_++;
  return S_OK;
}

STDMETHODIMP ConnectionPoint::Unadvise(DWORD cookie) {
  for (auto it = sinks_.begin(); it != sinks_.end(); ++it)
    if (it->cookie == cookie) {
      const ComPtr<IDispatch> going = std::move(it->sink);  // released after the list is right
      sinks_.erase(it);
      if (onSinkChanged) onSinkChanged(nullptr);
      return S_OK;
    }
  return CONNECT_E_NOCONNECTION;
}

STDMETHODIMP ConnectionPoint::EnumConnections(IEnumConnections** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return ComBoundary(IID_IEnumConnections, L"", [&] {
    std::vector<CONNECTDATA> items;
    for (const Sink& s : sinks_) items.push_back({s.sink.get(), s.cookie});
    *out = ConnectionsEnum::Make(items);
  });
}

std::size_t ConnectionPoint::SinkCount() const { return sinks_.size(); }

void ConnectionPoint::Fire(DISPID id, const std::vector<VARIANT>& args) {
  Fire(id, args.data(), static_cast<UINT>(args.size()));
}

void ConnectionPoint::Fire(DISPID id, const VARIANT* args, UINT count) {
  // Events may come at a device's report rate: up to kMaxInlineArgs arguments and sinks
  // are handled without allocating.
  constexpr UINT kMaxInline = 16;
  VARIANT inlineArgs[kMaxInline];
  std::vector<VARIANT> spill;
  VARIANT* reversed = inlineArgs;
  if (count > kMaxInline) {
    spill.resize(count);
    reversed = spill.data();
  }
  // IDispatch::Invoke takes the arguments last one first.
  for (UINT i = 0; i < count; ++i) reversed[i] = args[count - 1 - i];
  DISPPARAMS params{count ? reversed : nullptr, nullptr, count, 0};
  // A sink may disconnect while it is called: call a snapshot.
  const std::size_t n = sinks_.size();
  if (n <= kMaxInline) {
    IDispatch* snapshot[kMaxInline];
    for (std::size_t i = 0; i < n; ++i) (snapshot[i] = sinks_[i].sink.get())->AddRef();
    for (std::size_t i = 0; i < n; ++i) {
      snapshot[i]->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
      snapshot[i]->Release();
    }
    return;
  }
  std::vector<ComPtr<IDispatch>> snapshot;
  for (const Sink& s : sinks_) snapshot.push_back(s.sink);
  for (auto& s : snapshot) s->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

// ---- OleControlCommon ----

OleControlCommon::OleControlCommon(Identity identity, ITypeLib* lib)
    : id_(std::move(identity)), cp_(this, id_.source) {
  CreateOleAdviseHolder(adviseHolder_.put());
  if (lib) {
    lib->GetTypeInfoOfGuid(id_.clsid, classInfo_.put());
    lib->GetTypeInfoOfGuid(id_.dual, dualInfo_.put());
  }
}

STDMETHODIMP OleControlCommon::GetUserClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = id_.clsid;
  return S_OK;
}

STDMETHODIMP OleControlCommon::GetUserType(DWORD form, LPOLESTR* type) {
  return OleRegGetUserType(id_.clsid, form, type);
}

STDMETHODIMP OleControlCommon::GetClientSite(IOleClientSite** site) {
  if (!site) return E_POINTER;
  *site = site_.get();
  if (*site) (*site)->AddRef();
  return S_OK;
}

STDMETHODIMP OleControlCommon::GetMoniker(DWORD, DWORD, IMoniker** m) {
  if (m) *m = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP OleControlCommon::GetClipboardData(DWORD, IDataObject** d) {
  if (d) *d = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP OleControlCommon::Advise(IAdviseSink* sink, DWORD* cookie) {
  return adviseHolder_ ? adviseHolder_->Advise(sink, cookie) : E_OUTOFMEMORY;
}

STDMETHODIMP OleControlCommon::Unadvise(DWORD cookie) {
  return adviseHolder_ ? adviseHolder_->Unadvise(cookie) : E_FAIL;
}

STDMETHODIMP OleControlCommon::EnumAdvise(IEnumSTATDATA** e) {
  return adviseHolder_ ? adviseHolder_->EnumAdvise(e) : E_FAIL;
}

STDMETHODIMP OleControlCommon::GetMiscStatus(DWORD aspect, DWORD* status) {
  if (!status) return E_POINTER;
  *status = aspect == DVASPECT_CONTENT ? id_.miscStatus : 0;
  return S_OK;
}

STDMETHODIMP OleControlCommon::GetControlInfo(CONTROLINFO* info) {
  if (!info) return E_POINTER;
  info->cb = sizeof *info;
  info->hAccel = nullptr;
  info->cAccel = 0;
  info->dwFlags = 0;
  return S_OK;
}

STDMETHODIMP OleControlCommon::FreezeEvents(BOOL freeze) {
  freeze_ += freeze ? 1 : -1;
  if (freeze_ < 0) freeze_ = 0;
  return S_OK;
}

STDMETHODIMP OleControlCommon::GetClassInfo(ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = classInfo_.get();
  if (!*info) return E_FAIL;
  (*info)->AddRef();
  return S_OK;
}

STDMETHODIMP OleControlCommon::GetGUID(DWORD kind, GUID* guid) {
  if (!guid) return E_POINTER;
  *guid = GUID_NULL;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
  if (!HasSource()) return E_FAIL;
  *guid = id_.source;
  return S_OK;
}

STDMETHODIMP OleControlCommon::InterfaceSupportsErrorInfo(REFIID riid) {
  return IsEqualIID(riid, id_.dual) ? S_OK : S_FALSE;
}

// Safe for untrusted callers and data on the interfaces the object has (asked through its
// identity, the outer object's when aggregated).
STDMETHODIMP OleControlCommon::GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) {
  if (!supported || !enabled) return E_POINTER;
  ComPtr<IUnknown> probe;
  if (FAILED(static_cast<IOleObject*>(this)->QueryInterface(riid, probe.put_void()))) {
    *supported = *enabled = 0;
    return E_NOINTERFACE;
  }
  *supported = id_.safety == SafetyRule::NotSafe ? 0 : INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
  *enabled = SafetyOptions(riid);
  return S_OK;
}

DWORD OleControlCommon::SafetyOptions(REFIID riid) const {
  for (const auto& [iid, options] : safety_)
    if (IsEqualIID(iid, riid)) return options;
  return 0;
}

std::wstring OleControlCommon::ContainerUrl() const {
  if (!site_) return {};
  ComPtr<IMoniker> moniker;
  if (SUCCEEDED(site_->GetMoniker(OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_CONTAINER, moniker.put())) && moniker) {
    ComPtr<IBindCtx> bind;
    LPOLESTR name = nullptr;
    if (SUCCEEDED(CreateBindCtx(0, bind.put())) && SUCCEEDED(moniker->GetDisplayName(bind.get(), nullptr, &name)) && name) {
      std::wstring url(name);
      CoTaskMemFree(name);
      return url;
    }
  }
  ComPtr<IServiceProvider> services;
  ComPtr<IWebBrowser2> browser;
  BStr location;
  if (SUCCEEDED(site_.As(services)) &&
      SUCCEEDED(services->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2, browser.put_void())) && browser &&
      SUCCEEDED(browser->get_LocationURL(location.put())))
    return location.str();
  return {};
}

bool OleControlCommon::UntrustedCaller() const {
  return ((SafetyOptions(IID_IDispatch) | SafetyOptions(id_.dual)) & INTERFACESAFE_FOR_UNTRUSTED_CALLER) != 0;
}

STDMETHODIMP OleControlCommon::SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) {
  ComPtr<IUnknown> probe;
  if (FAILED(static_cast<IOleObject*>(this)->QueryInterface(riid, probe.put_void()))) return E_NOINTERFACE;
  const DWORD now = mask & enabled;
  if (id_.safety == SafetyRule::NotSafe) return now ? E_FAIL : S_OK;
  return Guarded([&] {
    for (auto& [iid, options] : safety_)
      if (IsEqualIID(iid, riid)) {
        options = now;
        return;
      }
    safety_.emplace_back(riid, now);
  });
}

STDMETHODIMP OleControlCommon::EnumConnectionPoints(IEnumConnectionPoints** e) {
  if (!e) return E_POINTER;
  *e = nullptr;
  return Guarded([&] {
    std::vector<IConnectionPoint*> points;
    if (HasSource()) points.push_back(&cp_);
    *e = PointsEnum::Make(points);
  });
}

STDMETHODIMP OleControlCommon::FindConnectionPoint(REFIID riid, IConnectionPoint** cp) {
  if (!cp) return E_POINTER;
  *cp = nullptr;
  if (!HasSource() || !IsEqualIID(riid, id_.source)) return CONNECT_E_NOCONNECTION;
  *cp = &cp_;
  cp_.AddRef();
  return S_OK;
}


// ---- InvisibleControl ----

InvisibleControl::InvisibleControl(REFCLSID clsid, REFIID dual, REFIID source, const wchar_t* progId, DWORD misc,
                                   ITypeLib* lib)
    : OleControlCommon({clsid, dual, source, progId, misc, SafetyRule::NotSafe}, lib) {}

InvisibleControl::~InvisibleControl() = default;

STDMETHODIMP InvisibleControl::SetClientSite(IOleClientSite* site) {
  site_ = site;
  return S_OK;
}

STDMETHODIMP InvisibleControl::Close(DWORD) {
  if (adviseHolder_) adviseHolder_->SendOnClose();
  return S_OK;
}

// Invisible at run time: every verb is done at once, nothing is shown.
STDMETHODIMP InvisibleControl::DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) {
  return verb <= 0 ? S_OK : OLEOBJ_S_INVALIDVERB;
}

STDMETHODIMP InvisibleControl::EnumVerbs(IEnumOLEVERB** e) { return OleRegEnumVerbs(Clsid(), e); }

STDMETHODIMP InvisibleControl::SetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  extent_ = *size;
  return S_OK;
}

STDMETHODIMP InvisibleControl::GetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  *size = extent_;
  return S_OK;
}

HRESULT InvisibleControl::QueryControl(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  IUnknown* p = nullptr;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, Ident().dual)) p = Dispatch();
  else if (IsEqualIID(riid, IID_IOleObject)) p = static_cast<IOleObject*>(this);
  else if (IsEqualIID(riid, IID_IOleControl)) p = static_cast<IOleControl*>(this);
  else if (IsEqualIID(riid, IID_IPersistStreamInit) || IsEqualIID(riid, IID_IPersist)) p = static_cast<IPersistStreamInit*>(this);
  else if (IsEqualIID(riid, IID_IProvideClassInfo) || IsEqualIID(riid, IID_IProvideClassInfo2))
    p = static_cast<IProvideClassInfo2*>(this);
  else if (IsEqualIID(riid, IID_ISupportErrorInfo)) p = static_cast<ISupportErrorInfo*>(this);
  else if (IsEqualIID(riid, IID_IObjectSafety)) p = static_cast<IObjectSafety*>(this);
  else if (IsEqualIID(riid, IID_IConnectionPointContainer) && HasSource()) p = static_cast<IConnectionPointContainer*>(this);
  if (!p) return E_NOINTERFACE;
  p->AddRef();
  *ppv = p;
  return S_OK;
}

void InvisibleControl::FireEvent(DISPID id, const std::vector<VARIANT>& args) {
  FireEvent(id, args.data(), static_cast<UINT>(args.size()));
}

void InvisibleControl::FireEvent(DISPID id, const VARIANT* args, UINT count) {
  if (!EventsFrozen() && HasSource()) EventPoint().Fire(id, args, count);
}

STDMETHODIMP InvisibleControl::GetClassID(CLSID* clsid) { return GetUserClassID(clsid); }

// The stream: "ZQCP", format version 1 (16-bit), a count (16-bit), then per property its
// DISPID (32-bit), its variant type (16-bit) and a 32-bit value. A stream that does not
// start so, or ends early, is refused and nothing is changed.
namespace {
constexpr char kMagic[4] = {'Z', 'Q', 'C', 'P'};
constexpr WORD kVersion = 1;
#pragma pack(push, 1)
struct StoredProperty {
  DISPID id;
  VARTYPE vt;
  LONG value;
};
#pragma pack(pop)

HRESULT ReadExactly(IStream* s, void* buf, ULONG size) {
  ULONG got = 0;
  const HRESULT hr = s->Read(buf, size, &got);
  if (FAILED(hr)) return hr;
  return got == size ? S_OK : E_FAIL;
}
}  // namespace

STDMETHODIMP InvisibleControl::Load(LPSTREAM stream) {
  if (!stream) return E_POINTER;
  return Guarded([&] { return LoadFrom(stream); });
}

HRESULT InvisibleControl::LoadFrom(IStream* stream) {
  char magic[4];
  WORD header[2];
  if (FAILED(ReadExactly(stream, magic, 4)) || std::memcmp(magic, kMagic, 4) != 0 ||
      FAILED(ReadExactly(stream, header, sizeof header)) || header[0] != kVersion)
    return E_FAIL;
  std::vector<StoredProperty> props(header[1]);
  if (!props.empty() && FAILED(ReadExactly(stream, props.data(), static_cast<ULONG>(props.size() * sizeof(StoredProperty)))))
    return E_FAIL;
  const auto known = PersistedProperties();
  for (const StoredProperty& p : props) {
    if (std::find(known.begin(), known.end(), p.id) == known.end()) continue;
    if (p.vt != VT_I2 && p.vt != VT_I4 && p.vt != VT_BOOL) continue;
    VARIANT v;
    VariantInit(&v);
    v.vt = p.vt;
    if (p.vt == VT_I2) v.iVal = static_cast<SHORT>(p.value);
    else if (p.vt == VT_BOOL) v.boolVal = p.value ? VARIANT_TRUE : VARIANT_FALSE;
    else v.lVal = p.value;
    PutProperty(Dispatch(), p.id, v);
  }
  dirty_ = false;
  return S_OK;
}

STDMETHODIMP InvisibleControl::Save(LPSTREAM stream, BOOL clearDirty) {
  if (!stream) return E_POINTER;
  return Guarded([&] { return SaveTo(stream, clearDirty); });
}

HRESULT InvisibleControl::SaveTo(IStream* stream, BOOL clearDirty) {
  std::vector<StoredProperty> props;
  for (DISPID id : PersistedProperties()) {
    Variant v;
    if (FAILED(GetProperty(Dispatch(), id, v.get()))) continue;
    Variant i4;
    const VARTYPE vt = (*v).vt;
    if (vt != VT_I2 && vt != VT_I4 && vt != VT_UI4 && vt != VT_BOOL) continue;
    if (FAILED(VariantChangeType(i4.get(), v.get(), 0, VT_I4))) continue;
    props.push_back({id, vt == VT_UI4 ? static_cast<VARTYPE>(VT_I4) : vt, (*i4).lVal});
  }
  const WORD header[2] = {kVersion, static_cast<WORD>(props.size())};
  ULONG done = 0;
  HRESULT hr = stream->Write(kMagic, 4, &done);
  if (SUCCEEDED(hr)) hr = stream->Write(header, sizeof header, &done);
  if (SUCCEEDED(hr) && !props.empty())
    hr = stream->Write(props.data(), static_cast<ULONG>(props.size() * sizeof(StoredProperty)), &done);
  if (SUCCEEDED(hr) && clearDirty) dirty_ = false;
  return hr;
}

STDMETHODIMP InvisibleControl::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  size->QuadPart = 8 + PersistedProperties().size() * sizeof(StoredProperty);
  return S_OK;
}

STDMETHODIMP InvisibleControl::InitNew() {
  ResetProperties();
  dirty_ = false;
  return S_OK;
}

}  // namespace zq::fw
