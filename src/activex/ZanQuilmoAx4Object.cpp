// The control class ZanQuilmoAx4: the ActiveX object around a TZanQuilmoAx4 form. Its
// dual interface IZanQuilmoAx4 is a thin layer of entry points over the form's own
// behaviour; every entry catches what its work throws and returns it as an HRESULT with
// COM error information (the interface, the ProgID as source, the message).
#include "ZanQuilmoAx4Object.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "ActiveForm.h"
#include "SiteLock.h"
#include "ZanQuilmo4_TLB.h"
#include "ZanQuilmoImpl.h"

namespace zq {

const wchar_t kProgId[] = L"ZanQuilmo4.ZanQuilmoAx4";

namespace {

HINSTANCE g_module = nullptr;

ITypeLib* TypeLib() {
  static fw::ComPtr<ITypeLib> lib = fw::LoadModuleTypeLib(g_module);
  return lib.get();
}

std::wstring VerbName() {
  wchar_t text[64] = L"";
  LoadStringW(g_module, kVerbStringId, text, 64);
  return text;
}

// A window size from a stream: 0 to the largest side a drawing may have (beyond it a window
// is of no use, and GDI's coordinates end near there).
long WindowExtent(long v) {
  if (v < 0 || v > kMaxImageSide) throw fw::Error("the stored window size is out of range", E_INVALIDARG);
  return v;
}

class ZanQuilmoAx4Object final : public fw::DualDispatch<IZanQuilmoAx4>, public fw::ActiveFormControl {
 public:
  explicit ZanQuilmoAx4Object(IUnknown* outer)
      : DualDispatch(fw::DualInterfaceInfo(TypeLib(), IID_IZanQuilmoAx4)),
        ActiveFormControl({CLSID_ZanQuilmoAx4, IID_IZanQuilmoAx4, DIID_IZanQuilmoAx4Events, kMiscStatus, kProgId,
                           {{OLEIVERB_PRIMARY, VerbName()}}},
                          TypeLib(), outer) {}

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return OuterQueryInterface(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return OuterAddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return OuterRelease(); }

  // IZanQuilmoAx4
  STDMETHODIMP get_AxBorderStyle(TxActiveFormBorderStyle* v) override {
    return Get(v, [&] { return static_cast<TxActiveFormBorderStyle>(Control().Get_AxBorderStyle()); });
  }
  STDMETHODIMP put_AxBorderStyle(TxActiveFormBorderStyle v) override {
    return Guarded([&] { Control().Set_AxBorderStyle(static_cast<long>(v)); });
  }
  STDMETHODIMP LoadFromFile(BSTR name, LONG manual, LONG x, LONG y, LONG* result) override {
    if (!result) return E_POINTER;
    *result = 0;
    return Guarded([&] {
      RefuseFilesToUntrustedCallers(L"LoadFromFile");
      *result = Control().LoadFromFile(std::wstring(fw::BStrView(name)), manual, x, y);
    });
  }
  STDMETHODIMP SaveToFile(BSTR name, LONG* result) override {
    if (!result) return E_POINTER;
    *result = 0;
    return Guarded([&] {
      RefuseFilesToUntrustedCallers(L"SaveToFile");
      *result = Control().SaveToFile(std::wstring(fw::BStrView(name)));
    });
  }
  STDMETHODIMP get_DrawEnabled(LONG* v) override { return Get(v, [&] { return Control().Get_DrawEnabled(); }); }
  STDMETHODIMP put_DrawEnabled(LONG v) override { return Guarded([&] { Control().Set_DrawEnabled(v); }); }
  STDMETHODIMP get_PngImageBase64(BSTR* v) override {
    if (!v) return E_POINTER;
    *v = nullptr;
    return Guarded([&] { *v = Control().Get_PngImageBase64().detach(); });
  }
  STDMETHODIMP put_PngImageBase64(BSTR v) override {
    return Guarded([&] { Control().Set_PngImageBase64(fw::BStrView(v)); });
  }
  STDMETHODIMP get_Picture(IPictureDisp** v) override {
    if (!v) return E_POINTER;
    *v = nullptr;
    return Guarded([&] { *v = Control().Get_Picture().detach(); });
  }
  STDMETHODIMP putref_Picture(IPictureDisp* v) override { return Guarded([&] { Control().Set_Picture(v); }); }
  STDMETHODIMP get_DrawAreaAlign(TxCtrlAlign* v) override {
    return Get(v, [&] { return static_cast<TxCtrlAlign>(Control().Get_DrawAreaAlign()); });
  }
  STDMETHODIMP put_DrawAreaAlign(TxCtrlAlign v) override { return Guarded([&] { Control().Set_DrawAreaAlign(v); }); }
  STDMETHODIMP get_DrawAreaWidth(LONG* v) override { return Get(v, [&] { return Control().Get_DrawAreaWidth(); }); }
  STDMETHODIMP put_DrawAreaWidth(LONG v) override { return Guarded([&] { Control().Set_DrawAreaWidth(v); }); }
  STDMETHODIMP get_DrawAreaHeight(LONG* v) override { return Get(v, [&] { return Control().Get_DrawAreaHeight(); }); }
  STDMETHODIMP put_DrawAreaHeight(LONG v) override { return Guarded([&] { Control().Set_DrawAreaHeight(v); }); }

 protected:
  std::unique_ptr<fw::Form> CreateForm() override {
    auto form = std::make_unique<TZanQuilmoAx4>(g_module);
    form->SetParentWindow(fw::ParkingWindow());
    form->Initialize();
    return form;
  }
  IDispatch* Automation() override { return static_cast<IZanQuilmoAx4*>(this); }
  void EventSinkChanged(IUnknown* sink) override { Control().EventSinkChanged(sink); }

  // The form's window size, then the control's own, in this order.
  std::vector<fw::DesignProperty> SaveDesign() override {
    TZanQuilmoAx4& c = Control();
    auto number = [](const wchar_t* name, long v) { return fw::DesignProperty{name, false, static_cast<std::int32_t>(v), {}}; };
    std::vector<fw::DesignProperty> p;
    p.push_back(number(L"Width", c.Width()));
    p.push_back(number(L"Height", c.Height()));
    p.push_back(number(L"AxBorderStyle2", c.AxBorderStyle2()));
    p.push_back(number(L"Visible2", c.Visible2()));
    p.push_back(number(L"Enabled2", c.Enabled2()));
    p.push_back(number(L"DrawEnabled2", c.DrawEnabled2()));
    fw::DesignProperty picture{L"Picture2", true, 0, {}};
    {
      const TZanQuilmoAx4::BandsLifted clean(c);
      if (!c.Picture2().Empty()) picture.bytes = c.Picture2().ToBmp();
    }
    p.push_back(std::move(picture));
    p.push_back(number(L"DrawAreaAlign2", c.DrawAreaAlign2()));
    p.push_back(number(L"DrawAreaHeight2", c.DrawAreaHeight2()));
    p.push_back(number(L"DrawAreaWidth2", c.DrawAreaWidth2()));
    return p;
  }

  // In stream order; a property whose value its setter refuses is passed over.
  void LoadDesign(const std::vector<fw::DesignProperty>& props) override {
    TZanQuilmoAx4& c = Control();
    for (const fw::DesignProperty& p : props) {
      try {
        const long v = p.number;
        if (p.name == L"Width") c.SetWidth(WindowExtent(v));
        else if (p.name == L"Height") c.SetHeight(WindowExtent(v));
        else if (p.name == L"AxBorderStyle2") c.SetAxBorderStyle2(v);
        else if (p.name == L"Visible2") c.SetVisible2(static_cast<short>(v));
        else if (p.name == L"Enabled2") c.SetEnabled2(static_cast<short>(v));
        else if (p.name == L"DrawEnabled2") c.SetDrawEnabled2(v);
        else if (p.name == L"Picture2" && p.isBytes && !p.bytes.empty()) {
          fw::Bitmap picture;
          picture.FromBmp(p.bytes);
          c.SetPicture2(picture);
        } else if (p.name == L"DrawAreaAlign2") c.SetDrawAreaAlign2(v);
        else if (p.name == L"DrawAreaHeight2") c.SetDrawAreaHeight2(v);
        else if (p.name == L"DrawAreaWidth2") c.SetDrawAreaWidth2(v);
      } catch (...) {
      }
    }
  }

 private:
  TZanQuilmoAx4& Control() {
    auto* c = static_cast<TZanQuilmoAx4*>(GetForm());
    if (!c) throw fw::Error("the control has no form", E_UNEXPECTED);
    return *c;
  }

  template <class T, class F>
  HRESULT Get(T* out, F&& f) noexcept {
    if (!out) return E_POINTER;
    return Guarded([&] { *out = f(); });
  }
  // A web page scripts the control as an untrusted caller (its container said so through
  // IObjectSafety): it may use everything but the file members, which would let any page
  // overwrite the person's files or read their pictures, unless the administrator listed its
  // site (SiteLock.h).
  void RefuseFilesToUntrustedCallers(const wchar_t* member) const {
    if (UntrustedCaller() && !SiteAllowedBy(AllowedSites(), ContainerUrl()))
      throw fw::Error(fw::Narrow(std::wstring(member) + L" は Web ページなど信頼されない呼び出し元からは使えません。"),
                      E_ACCESSDENIED);
  }

};

// The text of the creation failure box: a full stop is added when the message's last
// character sorts after ".".
std::wstring DaxMessage(const std::wstring& message) {
  std::wstring m = message;
  if (!m.empty() && m.back() > L'.') m += L'.';
  return m;
}

}  // namespace

void SetControlModule(HINSTANCE module) { g_module = module; }

bool ControlTypeInfoPresent() {
  fw::ComPtr<ITypeInfo> info;
  ITypeLib* lib = nullptr;
  try {
    lib = TypeLib();
  } catch (...) {
    return false;
  }
  return lib && SUCCEEDED(lib->GetTypeInfoOfGuid(CLSID_ZanQuilmoAx4, info.put()));
}

HRESULT CreateZanQuilmoAx4(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  ZanQuilmoAx4Object* object = nullptr;
  try {
    object = new ZanQuilmoAx4Object(outer);  // its one reference is released below
    object->CreateWindowedForm();
  } catch (...) {
    if (object) object->Inner()->Release();
    std::wstring message = L"unexpected error";
    try {
      throw;
    } catch (const std::exception& e) {
      message = fw::Widen(e.what());
    } catch (...) {
    }
    // The caller learns it from the error information; a modal box here would stop an
    // unattended host (a service, a converter, a test runner) until someone clicks.
    fw::SetComError(IID_IClassFactory, kProgId, DaxMessage(message));
    return E_UNEXPECTED;
  }
  const HRESULT hr = object->Inner()->QueryInterface(riid, ppv);
  object->Inner()->Release();  // the caller's reference, if any, keeps it
  return hr;
}

}  // namespace zq
