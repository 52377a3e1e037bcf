#include "ZANTABLET4Lib_TLB.h"

#include <atomic>
#include <vector>

#include "Application.h"

namespace zq {

using fw::ComPtr;
using fw::ThrowIfFailed;

namespace {

constexpr DISPID kInputEnabled = 1, kDeviceStatus = 2, kPreventBehindWriting = 4, kPreventMouseEvents = 5,
                 kPacketExtra = 6, kCursorMode = 19;
constexpr DISPID kEraserDown = 1, kEraserUp = 2, kPenDown = 4, kPenMove = 5, kPenUp = 6, kPenDetected = 11;

long GetLong(IDispatch* d, DISPID id, const char* what) {
  fw::Variant v;
  ThrowIfFailed(fw::GetProperty(d, id, v.get()), what);
  fw::Variant i4;
  ThrowIfFailed(VariantChangeType(i4.get(), v.get(), 0, VT_I4), what);
  return (*i4).lVal;
}

void PutLong(IDispatch* d, DISPID id, long value, const char* what) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  ThrowIfFailed(fw::PutProperty(d, id, v), what);
}

std::wstring ModuleIn(const std::wstring& folder) { return folder.empty() ? std::wstring() : folder + L"\\" + kTabletModule; }

}  // namespace

// Receives the component's events and hands the four the control uses to the handlers.
class TZanTabletCtl4::Sink final : public IDispatch, public fw::RefCounted {
 public:
  explicit Sink(TZanTabletCtl4* owner) : owner_(owner) {}
  void Orphan() { owner_ = nullptr; }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) && !IsEqualIID(riid, DIID__IZanTabletCtlEvents))
      return E_NOINTERFACE;
    *ppv = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
  STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    if (n) *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
    if (!owner_ || !params) return S_OK;
    // The arguments arrive last one first. No event has more than eight, and nothing is
    // allocated on the way: pen moves arrive at the tablet's report rate.
    long a[8] = {};
    const UINT n = params->cArgs;
    if (n > 8) return S_OK;
    for (UINT i = 0; i < n; ++i) {
      VARIANT v;
      VariantInit(&v);
      if (FAILED(VariantChangeType(&v, &params->rgvarg[n - 1 - i], 0, VT_I4))) return DISP_E_TYPEMISMATCH;
      a[i] = v.lVal;
    }
    try {
      TZanTabletCtl4& t = *owner_;
      const PenEvent* pen = id == kPenDown     ? &t.OnPenDown
                            : id == kPenMove   ? &t.OnPenMove
                            : id == kPenUp     ? &t.OnPenUp
                            : id == kEraserDown ? &t.OnEraserDown
                            : id == kEraserUp  ? &t.OnEraserUp
                                               : nullptr;
      if (pen && n == 8 && *pen)
        (*pen)(t, a[0], a[1], a[2], a[3], a[4], static_cast<short>(a[5]), static_cast<short>(a[6]), static_cast<short>(a[7]));
      else if (id == kPenDetected && n == 3 && t.OnPenDetected)
        t.OnPenDetected(t, a[0], a[1], a[2]);
    } catch (...) {
      fw::HandleException();
    }
    return S_OK;
  }

 private:
  TZanTabletCtl4* owner_;
};

TZanTabletCtl4::TZanTabletCtl4(fw::WinControl* parent, std::wstring name, const std::wstring& folder)
    : OleControl(parent, std::move(name), CLSID_ZanTabletCtl4, ModuleIn(folder)) {
  tablet_ = As<IZanTabletCtl>();
  if (!tablet_) throw fw::Error("the tablet component does not offer IZanTabletCtl", E_NOINTERFACE);
  sink_.reset(new Sink(this));
  Connect(DIID__IZanTabletCtlEvents, sink_.get());  // a failure lets the sink go with the member
}

TZanTabletCtl4::~TZanTabletCtl4() {
  OnPenDown = OnPenMove = OnPenUp = OnEraserDown = OnEraserUp = nullptr;
  OnPenDetected = nullptr;
  sink_.reset();
}

void TZanTabletCtl4::EnableInput(long on) { ThrowIfFailed(tablet_->EnableInput(on), "EnableInput"); }
void TZanTabletCtl4::AttachWindow(HWND w) {
  ThrowIfFailed(tablet_->AttachWindow(static_cast<long>(reinterpret_cast<LONG_PTR>(w))), "AttachWindow");
}
void TZanTabletCtl4::TabletOptionA(long v) { ThrowIfFailed(tablet_->TabletOptionA(v), "TabletOptionA"); }
void TZanTabletCtl4::TabletOptionB(long v) { ThrowIfFailed(tablet_->TabletOptionB(v), "TabletOptionB"); }
void TZanTabletCtl4::SetPenCursor(long s) { ThrowIfFailed(tablet_->SetPenCursor(s), "SetPenCursor"); }
long TZanTabletCtl4::InputEnabled() { return GetLong(Dispatch(), kInputEnabled, "InputEnabled"); }
long TZanTabletCtl4::DeviceStatus() { return GetLong(Dispatch(), kDeviceStatus, "DeviceStatus"); }
long TZanTabletCtl4::PacketExtra() { return GetLong(Dispatch(), kPacketExtra, "PacketExtra"); }
long TZanTabletCtl4::CursorMode() { return GetLong(Dispatch(), kCursorMode, "CursorMode"); }
void TZanTabletCtl4::SetPreventBehindWriting(long on) { PutLong(Dispatch(), kPreventBehindWriting, on, "PreventBehindWriting"); }
long TZanTabletCtl4::PreventMouseEvents() { return GetLong(Dispatch(), kPreventMouseEvents, "PreventMouseEvents"); }
void TZanTabletCtl4::SetPreventMouseEvents(long on) { PutLong(Dispatch(), kPreventMouseEvents, on, "PreventMouseEvents"); }

}  // namespace zq
