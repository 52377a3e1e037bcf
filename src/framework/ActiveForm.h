// Serving a form as an ActiveX control.
//
// ActiveFormControl is one COM object with the standard OLE control interfaces; its window
// is the form's. A control class derives from it and from DualDispatch<its interface>,
// implements IUnknown by forwarding to OuterQueryInterface / OuterAddRef / OuterRelease,
// makes its form in CreateForm and names its design-time properties in SaveDesign /
// LoadDesign.
//
// Windows. Until a container activates the control in place, and after it deactivates it,
// the form lives on a hidden parking window of the thread, so that a control created
// without any container (a script host) still has all its windows and works. In-place
// activation moves the form into the container's window at the position the container
// gives (SetObjectRects moves and sizes it); UI activation also tells the container's frame
// and document. When one of the form's windows gets the focus, the control asks to be UI
// active. Enter and Escape are given to the focused window of the form before the container
// can take them as dialog keys.
//
// Persistence. A property bag holds the Automation properties that have both a get and a
// put (or putref) entry, in type-library order, each DISPID once, by name; loading applies
// each value the bag has through the property's put, skips what fails, and stops with
// E_FAIL when the bag asks to abort. Streams (and the "CONTROLSAVESTREAM" stream of a
// storage) hold the design-time properties in this format, all integers little-endian:
//   "ZQDP"            4 bytes
//   version           16 bits, 1
//   count             16 bits: the number of records
//   records           per property: name length in characters (16 bits), the name
//                     (UTF-16, no terminator), kind (16 bits: 1 a 32-bit integer, 2 bytes),
//                     size in bytes (32 bits), the value
// Loading reads and checks the whole stream before it applies a single property, so a
// foreign or cut-off stream is refused (E_FAIL with error information) and changes nothing.
//
// Aggregation: the object may be aggregated; its identity is then the outer object's, and
// OuterQueryInterface and the reference count go through the outer object.
#pragma once

#include <windows.h>
#include <objsafe.h>
#include <ocidl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Com.h"
#include "ComControl.h"
#include "Form.h"

namespace zq::fw {

// A design-time property as the stream holds it.
struct DesignProperty {
  std::wstring name;
  bool isBytes = false;
  std::int32_t number = 0;
  std::vector<std::uint8_t> bytes;
};

class ActiveFormControl : public OleControlCommon,
                          public RefCounted,
                          public IOleInPlaceObject,
                          public IOleInPlaceActiveObject,
                          public IViewObject2,
                          public IDataObject,
                          public IPersistStreamInit,
                          public IPersistStorage,
                          public IPersistPropertyBag,
                          public IQuickActivate,
                          public ISimpleFrameSite,
                          public ISpecifyPropertyPages,
                          public IPerPropertyBrowsing {
 public:
  struct Verb {
    LONG number;
    std::wstring name;
  };
  struct Description {
    CLSID clsid;
    IID dual;           // the default interface
    IID events;         // the default source interface
    DWORD miscStatus;   // what GetMiscStatus answers
    std::wstring progId;
    std::vector<Verb> verbs;
  };

  // `lib` holds the class and its interfaces; `outer` aggregates the object (or null).
  ActiveFormControl(Description d, ITypeLib* lib, IUnknown* outer);
  virtual ~ActiveFormControl();
  ActiveFormControl(const ActiveFormControl&) = delete;
  ActiveFormControl& operator=(const ActiveFormControl&) = delete;

  // Makes the form (CreateForm) on the parking window. Throws what the form throws.
  void CreateWindowedForm();
  // The non-delegating IUnknown: what a class factory hands out.
  IUnknown* Inner() { return &inner_; }
  Form* GetForm() const { return form_.get(); }

  // IUnknown of every interface: through the outer object when aggregated.
  HRESULT OuterQueryInterface(REFIID riid, void** ppv);
  ULONG OuterAddRef();
  ULONG OuterRelease();

  // IOleObject
  STDMETHODIMP SetClientSite(IOleClientSite* site) override;
  STDMETHODIMP Close(DWORD save) override;
  STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT pos) override;
  STDMETHODIMP EnumVerbs(IEnumOLEVERB** e) override;
  STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
  // IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject
  STDMETHODIMP GetWindow(HWND* w) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP InPlaceDeactivate() override;
  STDMETHODIMP UIDeactivate() override;
  STDMETHODIMP SetObjectRects(LPCRECT pos, LPCRECT clip) override;
  STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }
  STDMETHODIMP TranslateAccelerator(LPMSG msg) override;
  STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  // IViewObject2
  STDMETHODIMP Draw(DWORD aspect, LONG index, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds, LPCRECTL,
                    BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) override;
  STDMETHODIMP GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** set) override;
  STDMETHODIMP Freeze(DWORD, LONG, void*, DWORD* cookie) override;
  STDMETHODIMP Unfreeze(DWORD) override { return S_OK; }
  STDMETHODIMP SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
  STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
  STDMETHODIMP GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) override;
  // IDataObject: the control's picture as a bitmap (CF_BITMAP in TYMED_GDI).
  STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
  STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryGetData(FORMATETC* format) override;
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override;
  STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** e) override;
  STDMETHODIMP DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink, DWORD* cookie) override;
  STDMETHODIMP DUnadvise(DWORD cookie) override;
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA** e) override;
  // IPersist, IPersistStreamInit, IPersistStorage, IPersistPropertyBag
  STDMETHODIMP GetClassID(CLSID* clsid) override;
  STDMETHODIMP IsDirty() override { return dirty_ ? S_OK : S_FALSE; }
  STDMETHODIMP Load(LPSTREAM stream) override;
  STDMETHODIMP Save(LPSTREAM stream, BOOL clearDirty) override;
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
  STDMETHODIMP InitNew() override;
  STDMETHODIMP InitNew(IStorage* storage) override;
  STDMETHODIMP Load(IStorage* storage) override;
  STDMETHODIMP Save(IStorage* storage, BOOL sameAsLoad) override;
  STDMETHODIMP SaveCompleted(IStorage*) override { return S_OK; }
  STDMETHODIMP HandsOffStorage() override { return S_OK; }
  STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
  STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;
  // IQuickActivate
  STDMETHODIMP QuickActivate(QACONTAINER* container, QACONTROL* control) override;
  STDMETHODIMP SetContentExtent(LPSIZEL size) override { return SetExtent(DVASPECT_CONTENT, size); }
  STDMETHODIMP GetContentExtent(LPSIZEL size) override { return GetExtent(DVASPECT_CONTENT, size); }
  // ISimpleFrameSite: messages pass as they come.
  STDMETHODIMP PreMessageFilter(HWND, UINT, WPARAM, LPARAM, LRESULT*, DWORD*) override { return S_OK; }
  STDMETHODIMP PostMessageFilter(HWND, UINT, WPARAM, LPARAM, LRESULT*, DWORD) override { return S_OK; }
  // ISpecifyPropertyPages: none.
  STDMETHODIMP GetPages(CAUUID* pages) override;
  // IPerPropertyBrowsing: the names of an enumeration property's values.
  STDMETHODIMP GetDisplayString(DISPID id, BSTR* text) override;
  STDMETHODIMP MapPropertyToPage(DISPID, CLSID* clsid) override;
  STDMETHODIMP GetPredefinedStrings(DISPID id, CALPOLESTR* strings, CADWORD* cookies) override;
  STDMETHODIMP GetPredefinedValue(DISPID id, DWORD cookie, VARIANT* value) override;

 protected:
  virtual std::unique_ptr<Form> CreateForm() = 0;
  // The control's dual interface (as IDispatch).
  virtual IDispatch* Automation() = 0;
  // A container connected its event sink to the source interface (null: disconnected).
  // Throwing refuses the connection.
  virtual void EventSinkChanged(IUnknown*) {}
  // The design-time properties, in the order the stream keeps them; loading applies them
  // in stream order.
  virtual std::vector<DesignProperty> SaveDesign() = 0;
  virtual void LoadDesign(const std::vector<DesignProperty>& properties) = 0;
  // The form was moved into a container's window (true) or back to the parking window.
  virtual void FormReparented() {}
  const Description& Describe() const { return d_; }
  void SetDirty() { dirty_ = true; }

 private:
  class InnerUnknown final : public IUnknown {
   public:
    explicit InnerUnknown(ActiveFormControl& o) : o_(o) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return o_.InnerQueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return o_.InnerAddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return o_.InnerRelease(); }

   private:
    ActiveFormControl& o_;
  };

  HRESULT InnerQueryInterface(REFIID riid, void** ppv);
  ULONG InnerAddRef();
  ULONG InnerRelease();
  IUnknown* Controlling() { return outer_ ? outer_ : &inner_; }

  HRESULT InPlaceActivate(bool uiActivate);
  void ParkForm();
  void RenderForm(HDC dc, const RECT& bounds);
  void OnFocusEnter();
  // The property bag's list: name, DISPID and whether its setter takes a reference.
  struct BagProperty {
    std::wstring name;
    DISPID id;
    bool byRef;
  };
  std::vector<BagProperty> BagProperties() const;
  // The enumeration type of a property, or null.
  ComPtr<ITypeInfo> EnumTypeOf(DISPID id) const;

  Description d_;
  InnerUnknown inner_;
  IUnknown* outer_;
  std::unique_ptr<Form> form_;
  ComPtr<IOleInPlaceSite> inPlaceSite_;
  ComPtr<IOleInPlaceFrame> frame_;
  ComPtr<IOleInPlaceUIWindow> document_;
  ComPtr<IDataAdviseHolder> dataAdviseHolder_;
  ComPtr<IAdviseSink> viewSink_;
  DWORD viewAspects_ = 0, viewFlags_ = 0;
  SIZEL extent_{0, 0};
  bool dirty_ = false;
  bool inPlaceActive_ = false;
  bool uiActive_ = false;
  bool ownsParkingUse_ = false;
};

// A hidden window of the thread that forms live on while no container shows them; it is
// destroyed with the thread's last control object.
HWND ParkingWindow();

}  // namespace zq::fw
