// The OLE side of a control that is invisible at run time (a component hosted for its
// methods and events only): IOleObject, IOleControl, IPersistStreamInit, IProvideClassInfo2,
// ISupportErrorInfo and IObjectSafety, and an event connection point. The class that derives
// from InvisibleControl implements IUnknown (one reference count for all interfaces, table
// QueryInterface) and its own dual interface.
#pragma once

#include <windows.h>
#include <objsafe.h>
#include <ocidl.h>

#include <functional>
#include <utility>
#include <string>
#include <vector>

#include "Com.h"

namespace zq::fw {

// The connection point of one source interface. Its references are the owner's.
class ConnectionPoint final : public IConnectionPoint {
 public:
  ConnectionPoint(IConnectionPointContainer* owner, REFIID iid) : owner_(owner), iid_(iid) {}
  ~ConnectionPoint();
  ConnectionPoint(const ConnectionPoint&) = delete;
  ConnectionPoint& operator=(const ConnectionPoint&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }
  STDMETHODIMP GetConnectionInterface(IID* iid) override;
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** out) override;
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumConnections(IEnumConnections** out) override;

  // Calls every connected sink: `args` in the order of the event's parameters.
  void Fire(DISPID id, const std::vector<VARIANT>& args);
  void Fire(DISPID id, const VARIANT* args, UINT count);
  // Told of a sink that connects (it may refuse it with a failure) and of one that goes
  // (with null).
  std::function<HRESULT(IUnknown* sink)> onSinkChanged;
  std::size_t SinkCount() const;
  const IID& Iid() const { return iid_; }

 private:
  struct Sink {
    DWORD cookie;
    ComPtr<IDispatch> sink;
  };
  IConnectionPointContainer* owner_;
  IID iid_;
  std::vector<Sink> sinks_;
  DWORD nextCookie_ = 1;
};

// How a control answers IObjectSafety.
enum class SafetyRule {
  LastSet,    // safe for untrusted callers and data; the enabled options become mask AND
              // enabled, whatever was set before
  NotSafe,    // not for untrusted callers or data: no option is supported, enabling one fails
};

// What every control of the framework answers alike: in IOleObject and IOleControl its
// client site, the advise sinks, the misc status, the control information (no mnemonics),
// the freezing of events, and the calls a control without monikers, colour schemes or
// linked data answers at once; its class information, error information, IObjectSafety
// (safe for untrusted callers and data on every interface it has) and the connection point
// of its event interface. The derived class answers QueryInterface for all of them.
class OleControlCommon : public IOleObject,
                         public IOleControl,
                         public IProvideClassInfo2,
                         public ISupportErrorInfo,
                         public IObjectSafety,
                         public IConnectionPointContainer {
 public:
  // The class, its default interface, its event interface (or IID_NULL), its ProgID (the
  // source of its error information), what GetMiscStatus answers and its safety rule.
  struct Identity {
    CLSID clsid;
    IID dual;
    IID source;
    std::wstring progId;
    DWORD miscStatus;
    SafetyRule safety;
  };

  // IOleObject, IOleControl
  STDMETHODIMP GetClientSite(IOleClientSite** site) override;
  STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** m) override;
  STDMETHODIMP GetClipboardData(DWORD, IDataObject** d) override;
  STDMETHODIMP Advise(IAdviseSink* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumAdvise(IEnumSTATDATA** e) override;
  STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
  STDMETHODIMP GetUserClassID(CLSID* clsid) override;
  STDMETHODIMP GetUserType(DWORD form, LPOLESTR* type) override;
  STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
  STDMETHODIMP FreezeEvents(BOOL freeze) override;
  STDMETHODIMP Update() override { return S_OK; }
  STDMETHODIMP IsUpToDate() override { return S_OK; }
  STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }
  STDMETHODIMP OnMnemonic(MSG*) override { return E_NOTIMPL; }
  STDMETHODIMP OnAmbientPropertyChange(DISPID) override { return S_OK; }
  // IProvideClassInfo2
  STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
  STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;
  // ISupportErrorInfo: the default interface's methods leave error information.
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;
  // IObjectSafety
  STDMETHODIMP GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) override;
  STDMETHODIMP SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) override;
  // IConnectionPointContainer: the one point of the event interface, if the class has one.
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** e) override;
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** cp) override;

 protected:
  // `lib` describes the class and its default interface (or is null).
  OleControlCommon(Identity identity, ITypeLib* lib);
  ~OleControlCommon() = default;
  bool EventsFrozen() const { return freeze_ > 0; }
  bool HasSource() const { return !IsEqualIID(id_.source, IID_NULL); }
  // The IObjectSafety options the container enabled for an interface (0 when none).
  DWORD SafetyOptions(REFIID riid) const;
  // The container said the control is scripted by untrusted callers (a web page): it
  // enabled INTERFACESAFE_FOR_UNTRUSTED_CALLER for IDispatch or the default interface.
  bool UntrustedCaller() const;
  // The address of the document the control is in, as its container tells it: the display
  // name of the client site's moniker for its container, else the location of the browser
  // that the site's service provider offers; empty when the container tells none.
  std::wstring ContainerUrl() const;
  const Identity& Ident() const { return id_; }
  ConnectionPoint& EventPoint() { return cp_; }
  // The default interface's type information (for Invoke and the property lists).
  ITypeInfo* DualInfo() const { return dualInfo_.get(); }
  // Runs `work` at a COM boundary of the default interface (ComBoundary).
  template <class F>
  HRESULT Guarded(F&& work) noexcept {
    return ComBoundary(id_.dual, id_.progId.c_str(), work);
  }

  ComPtr<IOleClientSite> site_;
  ComPtr<IOleAdviseHolder> adviseHolder_;

 private:
  Identity id_;
  ComPtr<ITypeInfo> classInfo_;
  ComPtr<ITypeInfo> dualInfo_;
  ConnectionPoint cp_;
  // What the container enabled through IObjectSafety, interface by interface: a browser
  // sets the untrusted-caller option on the dispatch interface and the untrusted-data option
  // on the persistence ones, and one must not lift the other.
  std::vector<std::pair<IID, DWORD>> safety_;
  int freeze_ = 0;
};

class InvisibleControl : public OleControlCommon, public IPersistStreamInit {
 public:
  // Invisible controls are components for their host's code, not for web pages: they
  // declare no safety for untrusted callers or data (SafetyRule::NotSafe).
  InvisibleControl(REFCLSID clsid, REFIID dual, REFIID source, const wchar_t* progId, DWORD misc, ITypeLib* lib);
  virtual ~InvisibleControl();

  // IOleObject
  STDMETHODIMP SetClientSite(IOleClientSite* site) override;
  STDMETHODIMP Close(DWORD) override;
  STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override;
  STDMETHODIMP EnumVerbs(IEnumOLEVERB** e) override;
  STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
  // IPersistStreamInit
  STDMETHODIMP GetClassID(CLSID* clsid) override;
  STDMETHODIMP IsDirty() override { return dirty_ ? S_OK : S_FALSE; }
  STDMETHODIMP Load(LPSTREAM stream) override;
  STDMETHODIMP Save(LPSTREAM stream, BOOL clearDirty) override;
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
  STDMETHODIMP InitNew() override;

 protected:
  // The properties that persistence writes and reads, by DISPID (16 and 32-bit values).
  virtual std::vector<DISPID> PersistedProperties() const = 0;
  // Gives every property its stored default value.
  virtual void ResetProperties() = 0;
  virtual IDispatch* Dispatch() = 0;
  // QueryInterface for everything the control implements: IUnknown, IDispatch and its dual
  // interface (as Dispatch()), the OLE interfaces here, and IConnectionPointContainer when
  // it has events. The caller's reference count is incremented through the interface.
  HRESULT QueryControl(REFIID riid, void** ppv);
  // Fires an event unless events are frozen.
  void FireEvent(DISPID id, const std::vector<VARIANT>& args);
  void FireEvent(DISPID id, const VARIANT* args, UINT count);
  IOleClientSite* Site() const { return site_.get(); }
  ITypeInfo* InterfaceInfo() const { return DualInfo(); }
  const CLSID& Clsid() const { return Ident().clsid; }

 private:
  HRESULT LoadFrom(IStream* stream);
  HRESULT SaveTo(IStream* stream, BOOL clearDirty);

  SIZEL extent_{423, 423};  // 16 pixels in HIMETRIC
  bool dirty_ = false;
};

}  // namespace zq::fw
