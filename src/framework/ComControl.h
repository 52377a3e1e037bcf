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
    IDispatch* sink;
  };
  IConnectionPointContainer* owner_;
  IID iid_;
  std::vector<Sink> sinks_;
  DWORD nextCookie_ = 1;
};

// What every control of the framework answers alike in IOleObject and IOleControl: its
// client site, the advise sinks, the misc status, the control information (no mnemonics),
// the freezing of events, and the calls a control without monikers, colour schemes or
// linked data answers at once.
class OleControlCommon : public IOleObject, public IOleControl {
 public:
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
  STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
  STDMETHODIMP FreezeEvents(BOOL freeze) override;
  STDMETHODIMP Update() override { return S_OK; }
  STDMETHODIMP IsUpToDate() override { return S_OK; }
  STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }
  STDMETHODIMP OnMnemonic(MSG*) override { return E_NOTIMPL; }
  STDMETHODIMP OnAmbientPropertyChange(DISPID) override { return S_OK; }

 protected:
  explicit OleControlCommon(DWORD miscStatus);
  ~OleControlCommon() = default;
  bool EventsFrozen() const { return freeze_ > 0; }

  ComPtr<IOleClientSite> site_;
  ComPtr<IOleAdviseHolder> adviseHolder_;

 private:
  DWORD misc_;
  int freeze_ = 0;
};

class InvisibleControl : public OleControlCommon,
                         public IPersistStreamInit,
                         public IProvideClassInfo2,
                         public ISupportErrorInfo,
                         public IObjectSafety,
                         public IConnectionPointContainer {
 public:
  // clsid: the class; dual: its default interface; source: its event interface or
  // IID_NULL; misc: what GetMiscStatus answers.
  InvisibleControl(REFCLSID clsid, REFIID dual, REFIID source, DWORD misc, ITypeLib* lib);
  virtual ~InvisibleControl();

  // IOleObject
  STDMETHODIMP SetClientSite(IOleClientSite* site) override;
  STDMETHODIMP Close(DWORD) override;
  STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override;
  STDMETHODIMP EnumVerbs(IEnumOLEVERB** e) override;
  STDMETHODIMP GetUserClassID(CLSID* clsid) override;
  STDMETHODIMP GetUserType(DWORD form, LPOLESTR* type) override;
  STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
  // IPersistStreamInit
  STDMETHODIMP GetClassID(CLSID* clsid) override;
  STDMETHODIMP IsDirty() override { return dirty_ ? S_OK : S_FALSE; }
  STDMETHODIMP Load(LPSTREAM stream) override;
  STDMETHODIMP Save(LPSTREAM stream, BOOL clearDirty) override;
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
  STDMETHODIMP InitNew() override;
  // IProvideClassInfo2
  STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
  STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;
  // ISupportErrorInfo
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;
  // IObjectSafety
  STDMETHODIMP GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) override;
  STDMETHODIMP SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) override;
  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** e) override;
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** cp) override;

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
  bool HasSource() const { return !IsEqualIID(source_, IID_NULL); }
  IOleClientSite* Site() const { return site_.get(); }
  ITypeInfo* InterfaceInfo() const { return ifaceInfo_.get(); }
  const CLSID& Clsid() const { return clsid_; }

 private:
  CLSID clsid_;
  IID dual_;
  IID source_;
  ComPtr<ITypeInfo> classInfo_;
  ComPtr<ITypeInfo> ifaceInfo_;
  SIZEL extent_{423, 423};  // 16 pixels in HIMETRIC
  DWORD safetyEnabled_ = 0;
  bool dirty_ = false;
  ConnectionPoint cp_;
};

}  // namespace zq::fw
