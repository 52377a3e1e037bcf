// The control object through its COM interfaces, as containers and late-bound clients use
// it: the dual interface and IDispatch, errors with COM error information, border styles
// and the tablet, IObjectSafety, the event connection point, persistence in a property
// bag, a stream and a storage, and its picture through IViewObject and IDataObject.
#include <gtest/gtest.h>

#include <windows.h>
#include <objsafe.h>
#include <ocidl.h>
#include <olectl.h>
#include <urlmon.h>

#include <climits>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "BmpCorpus.h"
#include "ComSupport.h"
#include "Graphics.h"
#include "TestSupport.h"
#include "UiSupport.h"
#include "ZanQuilmo4_TLB.h"
#include "ZanTabletInject.h"

using zq::fw::ComPtr;

#define EXPECT_FAILED(expr) EXPECT_TRUE(FAILED(expr))

namespace {

ComPtr<IZanQuilmoAx4> NewControl() {
  static HMODULE m = zqtest::RegisterModule("ZQ_OCX");
  (void)m;
  ComPtr<IZanQuilmoAx4> c;
  EXPECT_EQ(S_OK, CoCreateInstance(CLSID_ZanQuilmoAx4, nullptr, CLSCTX_INPROC_SERVER, IID_IZanQuilmoAx4, c.put_void()));
  return c;
}

template <class I>
ComPtr<I> As(IUnknown* u, REFIID iid) {
  ComPtr<I> p;
  EXPECT_EQ(S_OK, u->QueryInterface(iid, p.put_void()));
  return p;
}

struct ErrorInfo {
  GUID guid{};
  std::wstring source, description;
};
ErrorInfo TakeErrorInfo() {
  ErrorInfo r;
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK) return r;
  BSTR s = nullptr;
  info->GetGUID(&r.guid);
  if (SUCCEEDED(info->GetSource(&s)) && s) r.source = s;
  SysFreeString(s);
  s = nullptr;
  if (SUCCEEDED(info->GetDescription(&s)) && s) r.description = s;
  SysFreeString(s);
  return r;
}

HRESULT InvokePut(IDispatch* d, DISPID id, VARIANT value, WORD flags, EXCEPINFO* e = nullptr) {
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS p{&value, &named, 1, 1};
  return d->Invoke(id, IID_NULL, 0, flags, &p, nullptr, e, nullptr);
}
VARIANT Long(long v) {
  VARIANT x;
  VariantInit(&x);
  x.vt = VT_I4;
  x.lVal = v;
  return x;
}

using zqtest::PicturePixels;
using zqtest::ReadPicture;
HBITMAP Dib(int w, int h, COLORREF c) {
  zq::fw::Bitmap b;
  b.SetSize(w, h);
  b.GetCanvas().Brush().color = c;
  b.GetCanvas().FillRect(RECT{0, 0, w, h});
  b.GetCanvas().SetPixel(w / 2, h / 3, RGB(1, 2, 3));
  return b.ReleaseHandle();
}

// ---- the Automation interface ----

TEST(Automation, DrawEnabledStoresMinusOneForAnyNonZeroValue) {
  ComPtr<IZanQuilmoAx4> c = NewControl();
  ASSERT_TRUE(c);
  LONG v = 0;
  ASSERT_EQ(S_OK, c->get_DrawEnabled(&v));
  EXPECT_EQ(-1, v);
  for (long put : {5L, 1L, -7L, 0x7FFFFFFFL, static_cast<long>(0x80000000UL)}) {
    ASSERT_EQ(S_OK, c->put_DrawEnabled(put));
    ASSERT_EQ(S_OK, c->get_DrawEnabled(&v));
    EXPECT_EQ(-1, v) << put;
  }
  ASSERT_EQ(S_OK, c->put_DrawEnabled(0));
  ASSERT_EQ(S_OK, c->get_DrawEnabled(&v));
  EXPECT_EQ(0, v);
  EXPECT_EQ(E_POINTER, c->get_DrawEnabled(nullptr));
}

TEST(Automation, IDispatchComesFromTheTypeLibrary) {
  ComPtr<IZanQuilmoAx4> c = NewControl();
  ASSERT_TRUE(c);
  struct Name {
    const wchar_t* name;
    DISPID id;
  };
  for (Name n : {Name{L"AxBorderStyle", 4}, Name{L"LoadFromFile", 18}, Name{L"SaveToFile", 19}, Name{L"DrawEnabled", 20},
                 Name{L"PngImageBase64", 21}, Name{L"DrawAreaAlign", 22}, Name{L"Picture", 23},
                 Name{L"DrawAreaWidth", 24}, Name{L"drawareaheight", 25}}) {
    LPOLESTR name = const_cast<LPOLESTR>(n.name);
    DISPID id = 0;
    EXPECT_EQ(S_OK, c->GetIDsOfNames(IID_NULL, &name, 1, 0, &id)) << zqtest::Narrow(n.name);
    EXPECT_EQ(n.id, id) << zqtest::Narrow(n.name);
  }
  for (const wchar_t* absent : {L"Enabled", L"Visible", L"DrawEnabled2", L"Picture2", L""}) {
    LPOLESTR name = const_cast<LPOLESTR>(absent);
    DISPID id = 0;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, c->GetIDsOfNames(IID_NULL, &name, 1, 0, &id)) << zqtest::Narrow(absent);
  }
  UINT count = 0;
  ASSERT_EQ(S_OK, c->GetTypeInfoCount(&count));
  EXPECT_EQ(1u, count);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(S_OK, c->GetTypeInfo(0, 0, info.put()));
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
  EXPECT_TRUE(IsEqualGUID(IID_IZanQuilmoAx4, attr->guid));
  info->ReleaseTypeAttr(attr);
}

TEST(Automation, PutAndPutByReferenceAreAlike) {
  ComPtr<IZanQuilmoAx4> c = NewControl();
  ASSERT_TRUE(c);
  ASSERT_EQ(S_OK, InvokePut(c.get(), 22, Long(1), DISPATCH_PROPERTYPUTREF));
  TxCtrlAlign a = alAutomatic;
  ASSERT_EQ(S_OK, c->get_DrawAreaAlign(&a));
  EXPECT_EQ(alManual, a);
  ASSERT_EQ(S_OK, InvokePut(c.get(), 24, Long(333), DISPATCH_PROPERTYPUTREF));
  ASSERT_EQ(S_OK, InvokePut(c.get(), 25, Long(222), DISPATCH_PROPERTYPUT));
  zqtest::Prop w = zqtest::GetProp(c.get(), 24), h = zqtest::GetProp(c.get(), 25);
  EXPECT_EQ(333, w.value);
  EXPECT_EQ(222, h.value);
  // A value of another type is converted as Automation converts it.
  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(L"0");
  EXPECT_EQ(S_OK, InvokePut(c.get(), 20, text, DISPATCH_PROPERTYPUT));
  VariantClear(&text);
  EXPECT_EQ(0, zqtest::GetProp(c.get(), 20).value);
}

TEST(Automation, AreaSizeSettersAreIgnoredInAutomaticModeAndForNonPositiveValues) {
  ComPtr<IZanQuilmoAx4> c = NewControl();
  ASSERT_TRUE(c);
  LONG w0 = 0, h0 = 0, v = 0;
  ASSERT_EQ(S_OK, c->get_DrawAreaWidth(&w0));
  ASSERT_EQ(S_OK, c->get_DrawAreaHeight(&h0));
  EXPECT_GT(w0, 0);
  EXPECT_GT(h0, 0);
  EXPECT_EQ(S_OK, c->put_DrawAreaWidth(500));
  EXPECT_EQ(S_OK, c->put_DrawAreaHeight(400));
  c->get_DrawAreaWidth(&v);
  EXPECT_EQ(w0, v) << "automatic alignment keeps the view's size";
  c->get_DrawAreaHeight(&v);
  EXPECT_EQ(h0, v);
  ASSERT_EQ(S_OK, c->put_DrawAreaAlign(alManual));
  for (long bad : {0L, -1L, static_cast<long>(0x80000000UL)}) {
    EXPECT_EQ(S_OK, c->put_DrawAreaWidth(bad));
    EXPECT_EQ(S_OK, c->put_DrawAreaHeight(bad));
  }
  c->get_DrawAreaWidth(&v);
  EXPECT_EQ(w0, v);
  ASSERT_EQ(S_OK, c->put_DrawAreaWidth(640));
  ASSERT_EQ(S_OK, c->put_DrawAreaHeight(480));
  c->get_DrawAreaWidth(&v);
  EXPECT_EQ(640, v);
  c->get_DrawAreaHeight(&v);
  EXPECT_EQ(480, v);
  // Anything but 1 is automatic again.
  ASSERT_EQ(S_OK, c->put_DrawAreaAlign(static_cast<TxCtrlAlign>(7)));
  TxCtrlAlign a = alManual;
  c->get_DrawAreaAlign(&a);
  EXPECT_EQ(7, a) << "the value is stored as given";
  EXPECT_EQ(S_OK, c->put_DrawAreaWidth(320));
  c->get_DrawAreaWidth(&v);
  EXPECT_EQ(w0, v) << "and the area fills the view again";
}

TEST(Automation, AnEscapingErrorCarriesTheInterfaceTheProgIdAndItsMessage) {
  ComPtr<IZanQuilmoAx4> c = NewControl();
  ASSERT_TRUE(c);
  ASSERT_EQ(S_OK, c->put_DrawAreaAlign(alManual));
  // A drawing too large for the process is refused by the width setter.
  EXPECT_FAILED(c->put_DrawAreaWidth(100000));
  ErrorInfo e = TakeErrorInfo();
  EXPECT_TRUE(IsEqualGUID(IID_IZanQuilmoAx4, e.guid));
  EXPECT_EQ(L"ZanQuilmo4.ZanQuilmoAx4", e.source);
  EXPECT_NE(std::wstring::npos, e.description.find(L"描画領域")) << zqtest::Narrow(e.description);
  // The height setter reports its refusal the same way (no message box).
  EXPECT_FAILED(c->put_DrawAreaHeight(100000));
  EXPECT_NE(std::wstring::npos, TakeErrorInfo().description.find(L"描画領域"));
  ComPtr<ISupportErrorInfo> support = As<ISupportErrorInfo>(c.get(), IID_ISupportErrorInfo);
  EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(IID_IZanQuilmoAx4));
  EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IOleObject));

  // Through Invoke the same error arrives as an exception with its texts.
  EXCEPINFO x{};
  EXPECT_EQ(DISP_E_EXCEPTION, InvokePut(c.get(), 4, Long(9), DISPATCH_PROPERTYPUT, &x));
  EXPECT_EQ(E_INVALIDARG, x.scode);
  EXPECT_EQ(std::wstring(L"ZanQuilmo4.ZanQuilmoAx4"), x.bstrSource ? x.bstrSource : L"");
  EXPECT_NE(std::wstring::npos, std::wstring(x.bstrDescription ? x.bstrDescription : L"").find(L"AxBorderStyle"));
  SysFreeString(x.bstrSource);
  SysFreeString(x.bstrDescription);
  SysFreeString(x.bstrHelpFile);
}

TEST(Picture, GetAndPutCopyPixelsAndRefusalsChangeNothing) {
  ComPtr<IZanQuilmoAx4> c = NewControl();
  ASSERT_TRUE(c);
  HBITMAP marked = Dib(120, 80, RGB(200, 30, 40));
  ASSERT_EQ(S_OK, c->putref_Picture(zqtest::PictureOf(marked).get()));
  DeleteObject(marked);
  LONG v = 0;
  c->get_DrawAreaAlign(reinterpret_cast<TxCtrlAlign*>(&v));
  EXPECT_EQ(1, v) << "manual alignment at the picture's size";
  c->get_DrawAreaWidth(&v);
  EXPECT_EQ(120, v);
  // Get, then put the same object: every pixel as it was; the object is the host's own copy.
  ComPtr<IPictureDisp> got;
  ASSERT_EQ(S_OK, c->get_Picture(got.put()));
  const PicturePixels first = ReadPicture(got.get());
  ASSERT_EQ(120, first.w);
  ASSERT_EQ(S_OK, c->putref_Picture(got.get()));
  ComPtr<IPictureDisp> again;
  ASSERT_EQ(S_OK, c->get_Picture(again.put()));
  EXPECT_EQ(first.bgr, ReadPicture(again.get()).bgr);
  // Through IDispatch, with put and putref alike: a picture of another size resizes the area.
  HBITMAP big = Dib(300, 200, RGB(10, 200, 90));
  ComPtr<IPictureDisp> bigPic = zqtest::PictureOf(big);
  DeleteObject(big);
  VARIANT arg;
  VariantInit(&arg);
  arg.vt = VT_DISPATCH;
  arg.pdispVal = bigPic.get();
  EXPECT_EQ(S_OK, InvokePut(c.get(), 23, arg, DISPATCH_PROPERTYPUT));
  c->get_DrawAreaHeight(&v);
  EXPECT_EQ(200, v);
  EXPECT_EQ(first.bgr, ReadPicture(got.get()).bgr) << "the object from the get keeps the old drawing";
  // A BMP file loaded by the platform comes in pixel for pixel.
  zq::fw::Bitmap fromFile;
  fromFile.SetSize(64, 48);
  fromFile.GetCanvas().SetPixel(5, 6, RGB(9, 8, 7));
  const std::vector<std::uint8_t> bmp = fromFile.ToBmp();
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bmp.size());
  std::memcpy(GlobalLock(mem), bmp.data(), bmp.size());
  GlobalUnlock(mem);
  ComPtr<IStream> stream;
  ASSERT_EQ(S_OK, CreateStreamOnHGlobal(mem, TRUE, stream.put()));
  ComPtr<IPictureDisp> loaded;
  ASSERT_EQ(S_OK, OleLoadPicture(stream.get(), static_cast<LONG>(bmp.size()), FALSE, IID_IPictureDisp, loaded.put_void()));
  ASSERT_EQ(S_OK, c->putref_Picture(loaded.get()));
  ComPtr<IPictureDisp> back;
  c->get_Picture(back.put());
  EXPECT_EQ(ReadPicture(loaded.get()).bgr, ReadPicture(back.get()).bgr);
  // An icon picture, or none, clears to white at the same size.
  PICTDESC icon{sizeof(PICTDESC), PICTYPE_ICON, {}};
  icon.icon.hicon = LoadIconW(nullptr, IDI_APPLICATION);
  ComPtr<IPictureDisp> iconPic;
  ASSERT_EQ(S_OK, OleCreatePictureIndirect(&icon, IID_IPictureDisp, FALSE, iconPic.put_void()));
  for (IPictureDisp* clearing : {iconPic.get(), static_cast<IPictureDisp*>(nullptr)}) {
    ASSERT_EQ(S_OK, c->putref_Picture(clearing));
    c->get_Picture(back.put());
    const PicturePixels white = ReadPicture(back.get());
    EXPECT_EQ(64, white.w);
    EXPECT_EQ(std::vector<std::uint8_t>(white.bgr.size(), 255), white.bgr);
  }
  // Refusals: no picture object, a deleted bitmap, a bitmap larger than a drawing may be.
  ASSERT_EQ(S_OK, c->putref_Picture(loaded.get()));
  BSTR before = nullptr;
  c->get_PngImageBase64(&before);
  HBITMAP gone = Dib(30, 30, RGB(1, 1, 1));
  PICTDESC dead{sizeof(PICTDESC), PICTYPE_BITMAP, {}};
  dead.bmp.hbitmap = gone;
  ComPtr<IPictureDisp> deadPic;
  OleCreatePictureIndirect(&dead, IID_IPictureDisp, FALSE, deadPic.put_void());
  DeleteObject(gone);
  HBITMAP huge = Dib(5000, 4000, RGB(1, 1, 1));
  ComPtr<IPictureDisp> hugePic = zqtest::PictureOf(huge);
  DeleteObject(huge);
  ComPtr<IPictureDisp> notAPicture = As<IPictureDisp>(c.get(), IID_IDispatch);  // the control itself
  const HRESULT expected[3] = {E_NOINTERFACE, E_INVALIDARG, E_INVALIDARG};
  IPictureDisp* refused[3] = {notAPicture.get(), deadPic.get(), hugePic.get()};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(expected[i], c->putref_Picture(refused[i])) << i;
    EXPECT_NE(std::wstring::npos, TakeErrorInfo().description.find(L"Picture")) << i;
    BSTR now = nullptr;
    c->get_PngImageBase64(&now);
    EXPECT_EQ(std::wstring(before), std::wstring(now)) << "the drawing as it was";
    SysFreeString(now);
  }
  SysFreeString(before);
}

TEST(Automation, PropertiesReadWithArgumentsAreRefusedCleanly) {
  ComPtr<IZanQuilmoAx4> c = NewControl();
  ASSERT_TRUE(c);
  EXPECT_EQ(7, zqtest::ExpectBadPropertyReadsRefused(c.get()));
  // A string member given what does not convert: the standard code, and which argument.
  VARIANT args[2];
  VariantInit(&args[0]);
  VariantInit(&args[1]);
  args[1].vt = VT_DISPATCH;  // FileName (arguments arrive last one first)
  args[1].pdispVal = c.get();
  args[0].vt = VT_I4;
  DISPPARAMS p{args + 1, nullptr, 1, 0};
  UINT bad = 99;
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(DISP_E_TYPEMISMATCH, c->Invoke(19, IID_NULL, 0, DISPATCH_METHOD, &p, &result, nullptr, &bad));
  EXPECT_EQ(0u, bad);
}

// ---- a hostile sweep ----

// Any message box that a call shows is answered (the first button) and counted.
int g_boxes = 0;
BOOL CALLBACK AnswerBox(HWND w, LPARAM) {
  wchar_t cls[16] = L"";
  GetClassNameW(w, cls, 16);
  if (std::wstring(cls) == L"#32770" && IsWindowVisible(w)) {
    ++g_boxes;
    PostMessageW(w, WM_COMMAND, IDYES, 0);
    PostMessageW(w, WM_COMMAND, IDOK, 0);
  }
  return TRUE;
}
void CALLBACK AnswerBoxes(HWND, UINT, UINT_PTR, DWORD) { EnumThreadWindows(GetCurrentThreadId(), &AnswerBox, 0); }

// Every member the type library lists, through IDispatch, with hostile values of every kind
// (huge, negative and empty numbers, empty, very long and odd texts, objects where texts go,
// missing and surplus arguments) and hostile files for the file members (damaged images, a
// folder, device names, a name longer than any path): each call returns, with error
// information when it fails; nothing crashes or hangs, and the control still works after.
TEST(Automation, AHostileSweepOfEveryMemberEndsWithTheControlWhole) {
  ComPtr<IZanQuilmoAx4> c = NewControl();
  ASSERT_TRUE(c);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(S_OK, c->GetTypeInfo(0, 0, info.put()));
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
  const std::wstring dir = zqtest::OutputDir();
  const std::wstring corpus = zqtest::EnvDir("ZQ_BMP_CORPUS");
  std::deque<zq::fw::Variant> values;  // (a Variant stays where it is made)
  auto add = [&](VARIANT v) {
    values.emplace_back();
    VariantCopy(values.back().get(), &v);
    VariantClear(&v);
  };
  for (long n : {LONG_MIN, -1L, 0L, 1L, 2L, 3L, 4097L, 40000L, LONG_MAX}) add(Long(n));
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R8;
  v.dblVal = 1e308;
  add(v);
  v.dblVal = std::numeric_limits<double>::quiet_NaN();
  add(v);
  v.vt = VT_BOOL;
  v.boolVal = VARIANT_TRUE;
  add(v);
  v.vt = VT_ERROR;
  v.scode = DISP_E_PARAMNOTFOUND;  // a missing optional argument
  add(v);
  v.vt = VT_DISPATCH;
  v.pdispVal = nullptr;
  add(v);
  v.vt = VT_UNKNOWN;
  v.punkVal = c.get();
  c->AddRef();
  add(v);
  std::vector<std::wstring> texts = {L"", std::wstring(1 << 20, L'A'), std::wstring(L"iVBORw0KGgo\0=\xFFFF", 14),
                                     L"CON", L"NUL.png", L"\\\\?\\C:\\", L"LPT1.bmp", dir,
                                     zqtest::Join(dir, std::wstring(40000, L'x') + L".png"),
                                     zqtest::Join(dir, L"sweep.png"), zqtest::Join(dir, L"sweep.jpg"),
                                     zqtest::Join(dir, L"no folder\\sweep.bmp")};
  for (const zqtest::BmpCase& b : zqtest::BmpCorpus())
    if (!b.readable) texts.push_back(b.path);
  for (const std::wstring& t : texts) {
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(t.data(), static_cast<UINT>(t.size()));
    add(v);
  }
  g_boxes = 0;
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, &AnswerBoxes);
  int calls = 0, failed = 0, withInfo = 0;
  const DWORD start = GetTickCount();
  for (UINT i = 0; i < attr->cFuncs; ++i) {
    FUNCDESC* f = nullptr;
    if (FAILED(info->GetFuncDesc(i, &f))) continue;
    const DISPID id = f->memid;
    const INVOKEKIND kind = f->invkind;
    const int params = f->cParams;
    info->ReleaseFuncDesc(f);
    const WORD flags = kind == INVOKE_PROPERTYGET ? DISPATCH_PROPERTYGET
                       : kind == INVOKE_PROPERTYPUT ? DISPATCH_PROPERTYPUT
                       : kind == INVOKE_PROPERTYPUTREF ? DISPATCH_PROPERTYPUTREF
                                                        : DISPATCH_METHOD;
    // Every argument position gets every value (the others the first value), then too few
    // and too many arguments.
    for (int count : {params, 0, params + 2}) {
      for (std::size_t k = 0; k < values.size(); ++k) {
        std::vector<VARIANT> args(std::max(count, 1));
        for (int a = 0; a < count; ++a) args[a] = *values[(a == 0 ? k : 0)].get();
        DISPID named = DISPID_PROPERTYPUT;
        const bool put = flags == DISPATCH_PROPERTYPUT || flags == DISPATCH_PROPERTYPUTREF;
        DISPPARAMS dp{count ? args.data() : nullptr, put && count ? &named : nullptr, static_cast<UINT>(count),
                      put && count ? 1u : 0u};
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO ex{};
        UINT bad = 0;
        SetErrorInfo(0, nullptr);
        const HRESULT hr = c->Invoke(id, IID_NULL, 0, flags, &dp, &result, &ex, &bad);
        ++calls;
        if (FAILED(hr)) {
          ++failed;
          if (hr == DISP_E_EXCEPTION ? ex.bstrDescription != nullptr : true) ++withInfo;
        }
        SysFreeString(ex.bstrDescription);
        SysFreeString(ex.bstrSource);
        SysFreeString(ex.bstrHelpFile);
        VariantClear(&result);
        if (count != params) break;  // one try of a wrong count is enough
      }
    }
  }
  KillTimer(nullptr, timer);
  info->ReleaseTypeAttr(attr);
  const DWORD ms = GetTickCount() - start;
  EXPECT_EQ(failed, withInfo) << "every failure says why";
  RecordProperty("sweep", std::to_string(calls) + " calls, " + std::to_string(failed) + " refused, " +
                              std::to_string(g_boxes) + " boxes answered, " + std::to_string(ms) + " ms");
  std::printf("hostile sweep: %d calls, %d refused, %d boxes answered, %lu ms\n", calls, failed, g_boxes,
              static_cast<unsigned long>(ms));
  // Still whole: it draws and gives its drawing.
  c->put_DrawEnabled(-1);
  BSTR text = nullptr;
  EXPECT_EQ(S_OK, c->get_PngImageBase64(&text));
  EXPECT_NE(nullptr, text);
  SysFreeString(text);
}

// A client site of a page at a URL: its moniker for the container is a URL moniker.
class UrlSite final : public IOleClientSite {
 public:
  explicit UrlSite(const wchar_t* url) : url_(url) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite) ? this : nullptr;
    return *ppv ? S_OK : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }  // lives on the test's stack
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD which, IMoniker** m) override {
    *m = nullptr;
    return which == OLEWHICHMK_CONTAINER ? CreateURLMonikerEx(nullptr, url_, m, URL_MK_UNIFORM) : E_NOTIMPL;
  }
  STDMETHODIMP GetContainer(IOleContainer** c) override {
    *c = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

 private:
  const wchar_t* url_;
};

TEST(ObjectSafety, AnUntrustedCallerGetsNoFileAccessAndEverythingElse) {
  ComPtr<IZanQuilmoAx4> c = NewControl();
  ASSERT_TRUE(c);
  const std::wstring dir = zqtest::Join(zqtest::OutputDir(), L"untrusted");
  CreateDirectoryW(dir.c_str(), nullptr);
  const std::wstring kept = zqtest::Join(dir, L"kept.png"), fresh = zqtest::Join(dir, L"fresh.png");
  DeleteFileW(fresh.c_str());
  BSTR keptName = SysAllocString(kept.c_str()), freshName = SysAllocString(fresh.c_str());
  LONG result = 0;
  ASSERT_EQ(S_OK, c->SaveToFile(keptName, &result)) << "a trusted host saves";
  ASSERT_EQ(-1, result);
  const auto keptBytes = zqtest::ReadBytes(kept);
  // A browser: untrusted callers on the dispatch interface, then untrusted data on the
  // persistence interfaces, which must not lift the first.
  ComPtr<IObjectSafety> safety = As<IObjectSafety>(c.get(), IID_IObjectSafety);
  const DWORD caller = INTERFACESAFE_FOR_UNTRUSTED_CALLER, data = INTERFACESAFE_FOR_UNTRUSTED_DATA;
  ASSERT_EQ(S_OK, safety->SetInterfaceSafetyOptions(IID_IDispatch, caller, caller));
  ASSERT_EQ(S_OK, safety->SetInterfaceSafetyOptions(IID_IPersistPropertyBag, data, data));
  result = 5;
  EXPECT_EQ(E_ACCESSDENIED, c->SaveToFile(freshName, &result));
  EXPECT_EQ(0, result);
  EXPECT_NE(std::wstring::npos, TakeErrorInfo().description.find(L"SaveToFile"));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(fresh.c_str())) << "no file made";
  EXPECT_EQ(E_ACCESSDENIED, c->SaveToFile(keptName, &result));
  EXPECT_EQ(keptBytes, zqtest::ReadBytes(kept)) << "an existing file untouched";
  EXPECT_EQ(E_ACCESSDENIED, c->LoadFromFile(keptName, 0, 0, 0, &result));
  EXPECT_EQ(0, result);
  BSTR text = nullptr;
  EXPECT_EQ(S_OK, c->get_PngImageBase64(&text)) << "the rest keeps working";
  EXPECT_EQ(S_OK, c->put_DrawEnabled(0));
  SysFreeString(text);
  // A page on a site the administrator listed may use them; another host, port or scheme
  // may not (the page's address is the client site's moniker for its container).
  UrlSite site(L"https://memo.example.com/notes/page.html");
  ComPtr<IOleObject> ole = As<IOleObject>(c.get(), IID_IOleObject);
  ASSERT_EQ(S_OK, ole->SetClientSite(&site));
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ZanQuilmo4\\AllowedSites", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  auto allow = [&](const wchar_t* sites) {
    RegDeleteValueW(key, L"site");
    if (sites) RegSetValueExW(key, L"site", 0, REG_SZ, reinterpret_cast<const BYTE*>(sites), (wcslen(sites) + 1) * 2);
    return c->SaveToFile(freshName, &result);
  };
  for (const wchar_t* other : {L"https://other.example.com", L"https://memo.example.com:8443", L"http://memo.example.com",
                               L"https://*.memo.example.com", static_cast<const wchar_t*>(nullptr)})
    EXPECT_EQ(E_ACCESSDENIED, allow(other)) << (other ? zqtest::Narrow(other) : "no list");
  EXPECT_EQ(S_OK, allow(L"https://MEMO.example.com"));
  EXPECT_EQ(-1, result);
  EXPECT_EQ(S_OK, allow(L"https://*.example.com:443")) << "a subdomain";
  RegCloseKey(key);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ZanQuilmo4\\AllowedSites");
  ole->SetClientSite(nullptr);
  // The container takes the option back: the files are reachable again.
  ASSERT_EQ(S_OK, safety->SetInterfaceSafetyOptions(IID_IDispatch, caller, 0));
  EXPECT_EQ(S_OK, c->SaveToFile(freshName, &result));
  EXPECT_EQ(-1, result);
  SysFreeString(keptName);
  SysFreeString(freshName);
}

BOOL CALLBACK CollectWindow(HWND w, LPARAM p) {
  reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
  return TRUE;
}

// The descendants of a window that the tablet component is bound to.
std::vector<HWND> TabletBoundWindows(HWND root) {
  auto inject = reinterpret_cast<ZanTablet_InjectPacket_t>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ZanTablet4.ocx"), "ZanTablet_InjectPacket")));
  std::vector<HWND> all{root};
  EnumChildWindows(root, &CollectWindow, reinterpret_cast<LPARAM>(&all));
  std::vector<HWND> bound;
  if (!inject) {
    ADD_FAILURE() << "the tablet module is not loaded";
    return bound;
  }
  for (HWND w : all) {
    ZANTABLET_PACKET p{};
    p.size = sizeof p;
    p.kind = ZANTABLET_PROXIMITY;
    p.cursor = ZANTABLET_CURSOR_PEN;
    p.inRange = 0;
    if (inject(w, &p) == 1) bound.push_back(w);
  }
  zqtest::Pump();
  return bound;
}

TEST(Automation, ABorderStyleChangeMakesTheWindowAnewAndRebindsTheTablet) {
  ComPtr<IZanQuilmoAx4> c = NewControl();
  ASSERT_TRUE(c);
  ComPtr<IOleWindow> ow = As<IOleWindow>(c.get(), IID_IOleWindow);
  HWND before = nullptr;
  ASSERT_EQ(S_OK, ow->GetWindow(&before));
  TxActiveFormBorderStyle s = afbSingle;
  ASSERT_EQ(S_OK, c->get_AxBorderStyle(&s));
  EXPECT_EQ(afbSingle, s) << "the style at creation";
  const std::vector<HWND> boundBefore = TabletBoundWindows(before);
  ASSERT_EQ(1u, boundBefore.size()) << "the tablet is bound to the scroll box";

  ASSERT_EQ(S_OK, c->put_AxBorderStyle(afbSunken));
  ASSERT_EQ(S_OK, c->get_AxBorderStyle(&s));
  EXPECT_EQ(afbSunken, s);
  HWND after = nullptr;
  ASSERT_EQ(S_OK, ow->GetWindow(&after));
  EXPECT_TRUE(GetWindowLongW(after, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
  EXPECT_FALSE(IsWindow(boundBefore[0])) << "the old scroll box window is gone";
  const std::vector<HWND> boundAfter = TabletBoundWindows(after);
  ASSERT_EQ(1u, boundAfter.size()) << "the tablet follows the new scroll box window";

  // The same style again makes nothing anew.
  ASSERT_EQ(S_OK, c->put_AxBorderStyle(afbSunken));
  HWND again = nullptr;
  ow->GetWindow(&again);
  EXPECT_EQ(after, again);
  EXPECT_EQ(boundAfter, TabletBoundWindows(again));

  for (long bad : {-1L, 4L, 0x7FFFFFFFL}) {
    EXPECT_EQ(E_INVALIDARG, c->put_AxBorderStyle(static_cast<TxActiveFormBorderStyle>(bad)));
    c->get_AxBorderStyle(&s);
    EXPECT_EQ(afbSunken, s) << "a refused style changes nothing";
  }
}

// ---- IObjectSafety and events ----

TEST(ObjectSafety, SafeForUntrustedCallersAndDataOnEverySupportedInterface) {
  ComPtr<IZanQuilmoAx4> c = NewControl();
  ASSERT_TRUE(c);
  ComPtr<IObjectSafety> safety = As<IObjectSafety>(c.get(), IID_IObjectSafety);
  const DWORD both = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
  for (const IID* iid : {&IID_IDispatch, &IID_IZanQuilmoAx4, &IID_IPersistPropertyBag, &IID_IPersistStreamInit}) {
    DWORD supported = 0, enabled = 99;
    ASSERT_EQ(S_OK, safety->GetInterfaceSafetyOptions(*iid, &supported, &enabled));
    EXPECT_EQ(both, supported);
    EXPECT_EQ(0u, enabled);
  }
  EXPECT_EQ(S_OK, safety->SetInterfaceSafetyOptions(IID_IDispatch, INTERFACESAFE_FOR_UNTRUSTED_CALLER, both));
  DWORD supported = 0, enabled = 0;
  safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
  EXPECT_EQ(static_cast<DWORD>(INTERFACESAFE_FOR_UNTRUSTED_CALLER), enabled) << "mask AND enabled";
  supported = enabled = 99;
  EXPECT_EQ(E_NOINTERFACE, safety->GetInterfaceSafetyOptions(IID_IClassFactory, &supported, &enabled));
  EXPECT_EQ(0u, supported);
  EXPECT_EQ(0u, enabled);
  EXPECT_EQ(E_NOINTERFACE, safety->SetInterfaceSafetyOptions(IID_IClassFactory, both, both));
  EXPECT_EQ(E_POINTER, safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, nullptr));
}

// An event sink that counts every call it gets.
class Sink final : public IDispatch {
 public:
  explicit Sink(bool isEvents) : isEvents_(isEvents) {}
  int calls = 0;
  long refs = 1;
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        (isEvents_ && IsEqualIID(riid, DIID_IZanQuilmoAx4Events))) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  STDMETHODIMP GetTypeInfoCount(UINT*) override { ++calls; return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { ++calls; return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { ++calls; return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    ++calls;
    return S_OK;
  }

 private:
  bool isEvents_;
};

TEST(Events, AConnectedSinkGetsAValidCookieAndNoCalls) {
  Sink sink(true), stranger(false);
  {
    ComPtr<IZanQuilmoAx4> c = NewControl();
    ASSERT_TRUE(c);
    ComPtr<IConnectionPointContainer> cpc = As<IConnectionPointContainer>(c.get(), IID_IConnectionPointContainer);
    ComPtr<IConnectionPoint> cp;
    EXPECT_EQ(CONNECT_E_NOCONNECTION, cpc->FindConnectionPoint(IID_IPropertyNotifySink, cp.put()));
    ASSERT_EQ(S_OK, cpc->FindConnectionPoint(DIID_IZanQuilmoAx4Events, cp.put()));
    IID iid{};
    cp->GetConnectionInterface(&iid);
    EXPECT_TRUE(IsEqualIID(DIID_IZanQuilmoAx4Events, iid));
    DWORD cookie = 0;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, cp->Advise(&stranger, &cookie)) << "a sink of another interface";
    ASSERT_EQ(S_OK, cp->Advise(&sink, &cookie));
    EXPECT_NE(0u, cookie);
    EXPECT_GT(sink.refs, 1) << "the sink is kept";
    // Work that would raise events in another control raises none here.
    c->put_DrawEnabled(0);
    c->put_DrawAreaAlign(alManual);
    c->put_DrawAreaWidth(200);
    c->put_AxBorderStyle(afbSingle);
    zqtest::Pump();
    EXPECT_EQ(0, sink.calls);
    ComPtr<IEnumConnections> conns;
    ASSERT_EQ(S_OK, cp->EnumConnections(conns.put()));
    CONNECTDATA cd{};
    ULONG got = 0;
    ASSERT_EQ(S_OK, conns->Next(1, &cd, &got));
    EXPECT_EQ(cookie, cd.dwCookie);
    if (cd.pUnk) cd.pUnk->Release();
    conns.reset();
    EXPECT_EQ(S_OK, cp->Unadvise(cookie));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, cp->Unadvise(cookie));
    ASSERT_EQ(S_OK, cp->Advise(&sink, &cookie));  // left connected: released with the control
  }
  EXPECT_EQ(1, sink.refs) << "the control let go of the sink";
  EXPECT_EQ(0, sink.calls);
}

TEST(OleControl, QuickActivationBrowsingVerbsAndClassInformation) {
  ComPtr<IZanQuilmoAx4> c = NewControl();
  ASSERT_TRUE(c);
  // What a form designer asks first: misc status and the event connection in one call.
  Sink sink(true);
  ComPtr<IQuickActivate> quick = As<IQuickActivate>(c.get(), IID_IQuickActivate);
  QACONTAINER qc{};
  qc.cbSize = sizeof qc;
  qc.pUnkEventSink = &sink;
  QACONTROL out{};
  out.cbSize = sizeof out;
  ASSERT_EQ(S_OK, quick->QuickActivate(&qc, &out));
  EXPECT_EQ(0x32191u, out.dwMiscStatus);
  EXPECT_NE(0u, out.dwEventCookie) << "the sink is connected";
  QACONTROL small{};
  small.cbSize = 4;
  EXPECT_EQ(E_INVALIDARG, quick->QuickActivate(&qc, &small));

  // The property browser lists an enumeration's names and sets their values.
  ComPtr<IPerPropertyBrowsing> browse = As<IPerPropertyBrowsing>(c.get(), IID_IPerPropertyBrowsing);
  CALPOLESTR names{};
  CADWORD cookies{};
  ASSERT_EQ(S_OK, browse->GetPredefinedStrings(4, &names, &cookies));
  std::vector<std::wstring> listed;
  for (ULONG i = 0; i < names.cElems; ++i) {
    listed.push_back(names.pElems[i]);
    CoTaskMemFree(names.pElems[i]);
  }
  ASSERT_EQ(4u, cookies.cElems);
  VARIANT v;
  ASSERT_EQ(S_OK, browse->GetPredefinedValue(4, cookies.pElems[2], &v));
  EXPECT_EQ(2, v.lVal);
  CoTaskMemFree(names.pElems);
  CoTaskMemFree(cookies.pElems);
  ASSERT_EQ(4u, listed.size());
  EXPECT_NE(std::wstring::npos, listed[0].find(L"afbNone"));
  EXPECT_NE(std::wstring::npos, listed[3].find(L"afbRaised"));
  BSTR shown = nullptr;
  ASSERT_EQ(S_OK, browse->GetDisplayString(4, &shown));
  EXPECT_EQ(std::wstring(L"1 - afbSingle"), shown ? shown : L"");
  SysFreeString(shown);
  EXPECT_EQ(E_NOTIMPL, browse->GetPredefinedStrings(20, &names, &cookies)) << "DrawEnabled is a number";
  EXPECT_EQ(E_NOTIMPL, browse->GetDisplayString(9999, &shown));
  CLSID page{};
  EXPECT_EQ(PERPROP_E_NOPAGEAVAILABLE, browse->MapPropertyToPage(4, &page));

  // One verb, named by the module's resource; the class information.
  ComPtr<IOleObject> ole = As<IOleObject>(c.get(), IID_IOleObject);
  ComPtr<IEnumOLEVERB> verbs;
  ASSERT_EQ(S_OK, ole->EnumVerbs(verbs.put()));
  OLEVERB verb{};
  ULONG got = 0;
  ASSERT_EQ(S_OK, verbs->Next(1, &verb, &got));
  EXPECT_EQ(OLEIVERB_PRIMARY, verb.lVerb);
  EXPECT_EQ(std::wstring(L"プロパティ"), verb.lpszVerbName);
  CoTaskMemFree(verb.lpszVerbName);
  EXPECT_EQ(S_FALSE, verbs->Next(1, &verb, &got));
  ComPtr<IProvideClassInfo2> classInfo = As<IProvideClassInfo2>(c.get(), IID_IProvideClassInfo2);
  GUID events{};
  ASSERT_EQ(S_OK, classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events));
  EXPECT_TRUE(IsEqualGUID(DIID_IZanQuilmoAx4Events, events));
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(S_OK, classInfo->GetClassInfo(info.put()));
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
  EXPECT_TRUE(IsEqualGUID(CLSID_ZanQuilmoAx4, attr->guid));
  info->ReleaseTypeAttr(attr);
}

// ---- persistence ----

// A property bag that records the order in which the control reads and writes.
class Bag final : public IPropertyBag {
 public:
  std::map<std::wstring, VARIANT> values;
  std::vector<std::wstring> reads, writes;
  std::wstring abortAt;
  bool textOnly = false;  // refuses objects, as bags that keep text do
  ~Bag() {
    for (auto& [k, v] : values) VariantClear(&v);
  }
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    *ppv = (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPropertyBag)) ? this : nullptr;
    return *ppv ? S_OK : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP Read(LPCOLESTR name, VARIANT* v, IErrorLog*) override {
    reads.push_back(name);
    if (abortAt == name) return E_ABORT;
    auto it = values.find(name);
    if (it == values.end()) return E_INVALIDARG;
    return VariantCopy(v, &it->second);
  }
  STDMETHODIMP Write(LPCOLESTR name, VARIANT* v) override {
    writes.push_back(name);
    if (textOnly && (v->vt == VT_DISPATCH || v->vt == VT_UNKNOWN)) return E_INVALIDARG;
    VARIANT copy;
    VariantInit(&copy);
    VariantCopy(&copy, v);
    VariantClear(&values[name]);
    values[name] = copy;
    return S_OK;
  }
  void Set(const wchar_t* name, long v) {
    VariantClear(&values[name]);
    values[name] = Long(v);
  }
};

const std::vector<std::wstring> kBagOrder = {L"AxBorderStyle",  L"DrawEnabled",   L"PngImageBase64", L"Picture",
                                             L"DrawAreaAlign", L"DrawAreaWidth", L"DrawAreaHeight"};

TEST(Persistence, APropertyBagRoundTripsInTypeLibraryOrder) {
  ComPtr<IZanQuilmoAx4> a = NewControl();
  ASSERT_TRUE(a);
  HBITMAP drawing = Dib(400, 150, RGB(250, 120, 0));  // a drawing to carry
  ASSERT_EQ(S_OK, a->putref_Picture(zqtest::PictureOf(drawing).get()));
  DeleteObject(drawing);
  a->put_AxBorderStyle(afbRaised);
  a->put_DrawEnabled(0);
  a->put_DrawAreaAlign(alManual);
  a->put_DrawAreaWidth(345);
  a->put_DrawAreaHeight(123);
  Bag bag;
  ComPtr<IPersistPropertyBag> pa = As<IPersistPropertyBag>(a.get(), IID_IPersistPropertyBag);
  ASSERT_EQ(S_OK, pa->Save(&bag, TRUE, TRUE));
  // Every property with a get and a put, the drawing as PngImageBase64 and as Picture.
  EXPECT_EQ(kBagOrder, bag.writes);

  ComPtr<IZanQuilmoAx4> b = NewControl();
  ComPtr<IPersistPropertyBag> pb = As<IPersistPropertyBag>(b.get(), IID_IPersistPropertyBag);
  ASSERT_EQ(S_OK, pb->InitNew());
  ASSERT_EQ(S_OK, pb->Load(&bag, nullptr));
  EXPECT_EQ(kBagOrder, bag.reads) << "every name asked, in order";
  TxActiveFormBorderStyle s{};
  LONG v = 0;
  b->get_AxBorderStyle(&s);
  EXPECT_EQ(afbRaised, s);
  b->get_DrawEnabled(&v);
  EXPECT_EQ(0, v);
  b->get_DrawAreaWidth(&v);
  EXPECT_EQ(345, v);
  b->get_DrawAreaHeight(&v);
  EXPECT_EQ(123, v);
  BSTR pa64 = nullptr, pb64 = nullptr;
  ASSERT_EQ(S_OK, a->get_PngImageBase64(&pa64));
  ASSERT_EQ(S_OK, b->get_PngImageBase64(&pb64));
  EXPECT_EQ(std::wstring(pa64), std::wstring(pb64)) << "the drawing came back";
  SysFreeString(pa64);
  SysFreeString(pb64);
}

TEST(Persistence, APropertyBagLoadSkipsBadValuesStopsOnAbortAndRefusesNull) {
  ComPtr<IZanQuilmoAx4> c = NewControl();
  ASSERT_TRUE(c);
  ComPtr<IPersistPropertyBag> p = As<IPersistPropertyBag>(c.get(), IID_IPersistPropertyBag);
  EXPECT_EQ(E_POINTER, p->Load(nullptr, nullptr));
  EXPECT_EQ(E_POINTER, p->Save(nullptr, TRUE, TRUE));
  Bag bag;
  bag.Set(L"AxBorderStyle", 77);  // refused by the setter: skipped
  bag.values[L"PngImageBase64"] = Long(1);
  bag.Set(L"DrawAreaAlign", 1);
  bag.Set(L"DrawAreaWidth", -5);  // ignored by the setter
  bag.Set(L"DrawAreaHeight", 99);
  ASSERT_EQ(S_OK, p->Load(&bag, nullptr));
  TxActiveFormBorderStyle s{};
  LONG v = 0;
  c->get_AxBorderStyle(&s);
  EXPECT_EQ(afbSingle, s);
  c->get_DrawAreaHeight(&v);
  EXPECT_EQ(99, v) << "the values after a refused one still load";

  Bag aborting;
  aborting.Set(L"DrawAreaAlign", 0);
  aborting.Set(L"DrawAreaHeight", 50);
  aborting.abortAt = L"DrawAreaAlign";
  EXPECT_EQ(E_FAIL, p->Load(&aborting, nullptr));
  c->get_DrawAreaHeight(&v);
  EXPECT_EQ(99, v) << "nothing after the abort is applied";
  EXPECT_EQ(L"DrawAreaAlign", aborting.reads.back());
}

// A bag that refuses a value still gets every other one; the failure is reported after all of
// them were tried, and the control stays dirty (it was not saved whole).
TEST(Persistence, APropertyBagThatRefusesTheObjectStillGetsEveryOtherProperty) {
  ComPtr<IZanQuilmoAx4> a = NewControl();
  ASSERT_TRUE(a);
  a->put_DrawAreaAlign(alManual);
  a->put_DrawAreaWidth(345);
  a->put_DrawAreaHeight(123);
  Bag bag;
  bag.textOnly = true;
  ComPtr<IPersistPropertyBag> pa = As<IPersistPropertyBag>(a.get(), IID_IPersistPropertyBag);
  EXPECT_EQ(E_INVALIDARG, pa->Save(&bag, TRUE, TRUE));
  EXPECT_EQ(kBagOrder, bag.writes) << "every property tried";
  EXPECT_EQ(0u, bag.values.count(L"Picture"));
  for (const wchar_t* kept : {L"PngImageBase64", L"DrawAreaAlign", L"DrawAreaWidth", L"DrawAreaHeight"})
    EXPECT_EQ(1u, bag.values.count(kept)) << zqtest::Narrow(kept);
  EXPECT_EQ(345, bag.values[L"DrawAreaWidth"].lVal);
  ComPtr<IPersistStreamInit> ps = As<IPersistStreamInit>(a.get(), IID_IPersistStreamInit);
  EXPECT_EQ(S_OK, ps->IsDirty()) << "not saved whole: still dirty";
}

// A BMP file of a bitmap filled with one colour.
std::vector<std::uint8_t> SolidBmp(int w, int h, zq::fw::Color c) {
  zq::fw::Bitmap b;
  b.SetSize(w, h);
  b.GetCanvas().Brush().color = c;
  b.GetCanvas().FillRect(RECT{0, 0, w, h});
  return b.ToBmp();
}

// The stream records (name, bytes of the value) of a saved stream.
struct Record {
  std::wstring name;
  std::uint16_t kind;
  std::vector<std::uint8_t> value;
};
std::vector<Record> ParseRecords(const std::vector<std::uint8_t>& s) {
  std::vector<Record> out;
  if (s.size() < 8 || std::memcmp(s.data(), "ZQDP", 4) != 0) return out;
  std::size_t at = 8;
  const std::uint16_t count = static_cast<std::uint16_t>(s[6] | s[7] << 8);
  for (int i = 0; i < count && at + 2 <= s.size(); ++i) {
    Record r;
    const std::size_t len = s[at] | s[at + 1] << 8;
    at += 2;
    for (std::size_t k = 0; k < len; ++k, at += 2) r.name += static_cast<wchar_t>(s[at] | s[at + 1] << 8);
    r.kind = static_cast<std::uint16_t>(s[at] | s[at + 1] << 8);
    const std::uint32_t size = s[at + 2] | s[at + 3] << 8 | s[at + 4] << 16 | static_cast<std::uint32_t>(s[at + 5]) << 24;
    at += 6;
    r.value.assign(s.begin() + static_cast<long>(at), s.begin() + static_cast<long>(at + size));
    at += size;
    out.push_back(std::move(r));
  }
  return out;
}
std::vector<std::uint8_t> BuildStream(const std::vector<Record>& records) {
  std::vector<std::uint8_t> s = {'Z', 'Q', 'D', 'P', 1, 0, static_cast<std::uint8_t>(records.size()), 0};
  auto u16 = [&](std::size_t v) { s.push_back(v & 255); s.push_back((v >> 8) & 255); };
  for (const Record& r : records) {
    u16(r.name.size());
    for (wchar_t ch : r.name) u16(ch);
    u16(r.kind);
    const std::size_t n = r.value.size();
    u16(n & 0xFFFF);
    u16(n >> 16);
    s.insert(s.end(), r.value.begin(), r.value.end());
  }
  return s;
}

// Counts the pixels of a colour in what IViewObject::Draw paints.
int DrawnPixelsOf(IUnknown* control, int w, int h, COLORREF colour) {
  ComPtr<IViewObject> view = As<IViewObject>(control, IID_IViewObject);
  zq::fw::Bitmap target;
  target.SetSize(w, h);
  HDC dc = target.GetCanvas().Handle();
  RECTL bounds{0, 0, w, h};
  EXPECT_EQ(S_OK, view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0));
  int n = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) n += target.GetCanvas().Pixel(x, y) == colour;
  return n;
}

TEST(Persistence, AStreamRoundTripsTheDesignPropertiesInOrder) {
  ComPtr<IZanQuilmoAx4> a = NewControl();
  ASSERT_TRUE(a);
  a->put_AxBorderStyle(afbSunken);
  a->put_DrawEnabled(0);
  a->put_DrawAreaAlign(alManual);
  a->put_DrawAreaWidth(80);
  a->put_DrawAreaHeight(60);
  const std::vector<std::uint8_t> saved = zqtest::SavedProperties(a.get());
  std::vector<Record> records = ParseRecords(saved);
  std::vector<std::wstring> names;
  for (const Record& r : records) names.push_back(r.name);
  EXPECT_EQ((std::vector<std::wstring>{L"Width", L"Height", L"AxBorderStyle2", L"Visible2", L"Enabled2",
                                       L"DrawEnabled2", L"Picture2", L"DrawAreaAlign2", L"DrawAreaHeight2",
                                       L"DrawAreaWidth2"}),
            names);
  ASSERT_EQ(10u, records.size());
  // The drawing travels as a bitmap: a red one loads into the drawing.
  records[6].value = SolidBmp(80, 60, 0x0000FF);
  ComPtr<IZanQuilmoAx4> b = NewControl();
  HWND wnd = nullptr;
  As<IOleWindow>(b.get(), IID_IOleWindow)->GetWindow(&wnd);
  RECT r{};
  GetWindowRect(wnd, &r);
  // Red elsewhere on the control (a colour swatch) is counted before the picture loads.
  const int redBefore = DrawnPixelsOf(b.get(), r.right - r.left, r.bottom - r.top, RGB(255, 0, 0));
  ASSERT_EQ(S_OK, zqtest::LoadProperties(b.get(), BuildStream(records)));
  TxActiveFormBorderStyle s{};
  LONG v = 0;
  b->get_AxBorderStyle(&s);
  EXPECT_EQ(afbSunken, s);
  b->get_DrawEnabled(&v);
  EXPECT_EQ(0, v);
  b->get_DrawAreaAlign(reinterpret_cast<TxCtrlAlign*>(&v));
  EXPECT_EQ(1, v);
  b->get_DrawAreaWidth(&v);
  EXPECT_EQ(80, v);
  b->get_DrawAreaHeight(&v);
  EXPECT_EQ(60, v);
  GetWindowRect(wnd, &r);
  EXPECT_EQ(redBefore + 80 * 60, DrawnPixelsOf(b.get(), r.right - r.left, r.bottom - r.top, RGB(255, 0, 0)))
      << "the picture shows in the drawing area, and nowhere else";
  // Saved again, the same properties come out.
  const std::vector<Record> again = ParseRecords(zqtest::SavedProperties(b.get()));
  ASSERT_EQ(10u, again.size());
  for (std::size_t i = 0; i < again.size(); ++i)
    if (i != 6) {
      EXPECT_EQ(records[i].value, again[i].value) << zqtest::Narrow(records[i].name);
    }
  EXPECT_EQ(records[6].value.size(), again[6].value.size());
}

TEST(Persistence, ForeignOrCutOffStreamsAreRefusedAndChangeNothing) {
  ComPtr<IZanQuilmoAx4> a = NewControl();
  ASSERT_TRUE(a);
  a->put_DrawAreaAlign(alManual);
  a->put_DrawAreaWidth(90);
  a->put_DrawAreaHeight(70);
  a->put_DrawEnabled(0);
  const std::vector<std::uint8_t> saved = zqtest::SavedProperties(a.get());
  ASSERT_GT(saved.size(), 40u);

  ComPtr<IZanQuilmoAx4> b = NewControl();
  const std::vector<std::uint8_t> fresh = zqtest::SavedProperties(b.get());
  auto expectUnchanged = [&](const char* what) {
    EXPECT_EQ(fresh, zqtest::SavedProperties(b.get())) << what;
  };
  for (std::size_t cut = 0; cut < saved.size(); cut += (cut < 64 ? 1 : 97)) {
    std::vector<std::uint8_t> part(saved.begin(), saved.begin() + static_cast<long>(cut));
    EXPECT_FAILED(zqtest::LoadProperties(b.get(), part)) << "cut at " << cut;
  }
  expectUnchanged("after truncated streams");
  std::vector<std::uint8_t> foreign = saved;
  foreign[0] = 'X';
  EXPECT_FAILED(zqtest::LoadProperties(b.get(), foreign));
  EXPECT_FALSE(zqtest::LastErrorDescription().empty()) << "the refusal says why";
  std::vector<std::uint8_t> newer = saved;
  newer[4] = 2;
  EXPECT_FAILED(zqtest::LoadProperties(b.get(), newer));
  std::vector<std::uint8_t> hugeRecord = saved;
  // The first record's size claims 2 GiB.
  const std::size_t sizeAt = 8 + 2 + 2 * 5 + 2;
  hugeRecord[sizeAt + 3] = 0x7F;
  EXPECT_FAILED(zqtest::LoadProperties(b.get(), hugeRecord));
  std::vector<std::uint8_t> garbage(5000);
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<std::uint8_t>(i * 7919 >> 3);
  EXPECT_FAILED(zqtest::LoadProperties(b.get(), garbage));
  expectUnchanged("after foreign streams");
}

TEST(Persistence, HostileValuesInAStreamAreRefusedOrBounded) {
  ComPtr<IZanQuilmoAx4> a = NewControl();
  ASSERT_TRUE(a);
  std::vector<Record> records = ParseRecords(zqtest::SavedProperties(a.get()));
  ASSERT_EQ(10u, records.size());
  auto number = [](std::int32_t v) {
    std::vector<std::uint8_t> b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
  };
  records[0].value = number(0x7FFFFFFF);  // Width
  records[1].value = number(-5);          // Height
  records[2].value = number(99);          // AxBorderStyle2
  records[6].value = {'B', 'M', 1, 2, 3};  // Picture2: not a bitmap
  records[7].value = number(1);           // DrawAreaAlign2
  records[8].value = number(0x7FFFFFFF);  // DrawAreaHeight2
  records[9].value = number(-1);          // DrawAreaWidth2
  ComPtr<IZanQuilmoAx4> b = NewControl();
  LONG w0 = 0, h0 = 0;
  b->get_DrawAreaWidth(&w0);
  b->get_DrawAreaHeight(&h0);
  const ULONGLONG start = GetTickCount64();
  {
    zqtest::AnsweredDialogs boxes;
    EXPECT_EQ(S_OK, zqtest::LoadProperties(b.get(), BuildStream(records))) << "a well-formed stream loads";
    EXPECT_LT(GetTickCount64() - start, 5000u);
    // The refused height is passed over like the other refusals: no box appears in a load.
    EXPECT_TRUE(boxes.boxTexts.empty());
  }
  TxActiveFormBorderStyle s{};
  LONG v = 0;
  b->get_AxBorderStyle(&s);
  EXPECT_EQ(afbSingle, s) << "a refused style is passed over";
  b->get_DrawAreaAlign(reinterpret_cast<TxCtrlAlign*>(&v));
  EXPECT_EQ(1, v) << "the values after refused ones still load";
  b->get_DrawAreaHeight(&v);
  EXPECT_EQ(h0, v) << "a height beyond the limit is refused";
  b->get_DrawAreaWidth(&v);
  EXPECT_EQ(w0, v) << "a negative width is ignored";
  // Still a working control.
  EXPECT_EQ(S_OK, b->put_DrawAreaWidth(300));
  b->get_DrawAreaWidth(&v);
  EXPECT_EQ(300, v);
  HWND wnd = nullptr;
  As<IOleWindow>(b.get(), IID_IOleWindow)->GetWindow(&wnd);
  RECT r{};
  GetWindowRect(wnd, &r);
  EXPECT_LE(r.right - r.left, 65535) << "the window's width is the system's largest at most";
}

TEST(Persistence, AStorageKeepsTheStreamUnderItsName) {
  ComPtr<IZanQuilmoAx4> a = NewControl();
  ASSERT_TRUE(a);
  a->put_DrawAreaAlign(alManual);
  a->put_DrawAreaWidth(111);
  ComPtr<ILockBytes> bytes;
  ComPtr<IStorage> storage;
  ASSERT_EQ(S_OK, CreateILockBytesOnHGlobal(nullptr, TRUE, bytes.put()));
  ASSERT_EQ(S_OK, StgCreateDocfileOnILockBytes(bytes.get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                               storage.put()));
  ComPtr<IPersistStorage> pa = As<IPersistStorage>(a.get(), IID_IPersistStorage);
  ASSERT_EQ(S_OK, pa->Save(storage.get(), FALSE));
  ASSERT_EQ(S_OK, pa->SaveCompleted(nullptr));
  ComPtr<IStream> stream;
  ASSERT_EQ(S_OK, storage->OpenStream(L"CONTROLSAVESTREAM", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.put()));
  stream.reset();
  ComPtr<IZanQuilmoAx4> b = NewControl();
  ComPtr<IPersistStorage> pb = As<IPersistStorage>(b.get(), IID_IPersistStorage);
  ASSERT_EQ(S_OK, pb->Load(storage.get()));
  LONG v = 0;
  b->get_DrawAreaWidth(&v);
  EXPECT_EQ(111, v);
  CLSID clsid{};
  ASSERT_EQ(S_OK, pb->GetClassID(&clsid));
  EXPECT_TRUE(IsEqualCLSID(CLSID_ZanQuilmoAx4, clsid));
}

// A container's client site that saves the object when asked, as a container does: into a
// stream through IPersistStreamInit, clearing the modified flag.
class SavingSite final : public IOleClientSite {
 public:
  explicit SavingSite(IUnknown* object) : object_(object) {}
  int saves = 0;
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite) ? this : nullptr;
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }  // lives on the test's stack
  STDMETHODIMP SaveObject() override {
    ++saves;
    return zqtest::SavedProperties(object_).empty() ? E_FAIL : S_OK;
  }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP GetContainer(IOleContainer**) override { return E_NOINTERFACE; }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

 private:
  IUnknown* object_;
  ULONG refs_ = 1;
};

// The drawing panel's window of a control's form: the deepest window under a point of the
// drawing area.
HWND DrawingPanel(IUnknown* control) {
  HWND w = nullptr;
  As<IOleWindow>(control, IID_IOleWindow)->GetWindow(&w);
  POINT p{49 + 60, 50 + 60};
  for (HWND child; (child = ChildWindowFromPointEx(w, p, CWP_SKIPINVISIBLE)) && child != w;) {
    MapWindowPoints(w, child, &p, 1);
    w = child;
  }
  return w;
}

TEST(Persistence, EveryChangeMarksTheControlModifiedAndCloseSavesIt) {
  ComPtr<IZanQuilmoAx4> c = NewControl();
  ASSERT_TRUE(c);
  ComPtr<IPersistStreamInit> stream = As<IPersistStreamInit>(c.get(), IID_IPersistStreamInit);
  ComPtr<IPersistStorage> storage = As<IPersistStorage>(c.get(), IID_IPersistStorage);
  ComPtr<IOleObject> ole = As<IOleObject>(c.get(), IID_IOleObject);
  EXPECT_EQ(S_FALSE, stream->IsDirty()) << "a new control";
  // A stored property: modified until a save that clears the flag.
  c->put_DrawEnabled(0);
  EXPECT_EQ(S_OK, stream->IsDirty());
  ComPtr<IStream> memory;
  ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, memory.put()));
  ASSERT_EQ(S_OK, stream->Save(memory.get(), FALSE));
  EXPECT_EQ(S_OK, stream->IsDirty()) << "a save that keeps the flag";
  ASSERT_EQ(S_OK, stream->Save(memory.get(), TRUE));
  EXPECT_EQ(S_FALSE, stream->IsDirty());
  c->put_DrawEnabled(0);
  EXPECT_EQ(S_FALSE, stream->IsDirty()) << "the same value changes nothing";
  c->put_DrawEnabled(-1);
  // A storage save clears it too.
  EXPECT_EQ(S_OK, storage->IsDirty());
  ComPtr<ILockBytes> bytes;
  ComPtr<IStorage> docfile;
  ASSERT_EQ(S_OK, CreateILockBytesOnHGlobal(nullptr, TRUE, bytes.put()));
  ASSERT_EQ(S_OK, StgCreateDocfileOnILockBytes(bytes.get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                               docfile.put()));
  ASSERT_EQ(S_OK, storage->Save(docfile.get(), FALSE));
  ASSERT_EQ(S_OK, storage->SaveCompleted(nullptr));
  EXPECT_EQ(S_FALSE, storage->IsDirty());

  // A stroke: Close with save-if-dirty saves through the client site, once.
  SavingSite site(c.get());
  ASSERT_EQ(S_OK, ole->SetClientSite(&site));
  HWND panel = DrawingPanel(c.get());
  SendMessageW(panel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 20));
  SendMessageW(panel, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(80, 40));
  SendMessageW(panel, WM_LBUTTONUP, 0, MAKELPARAM(80, 40));
  EXPECT_EQ(S_OK, stream->IsDirty()) << "a stroke modifies the drawing";
  EXPECT_EQ(S_OK, ole->Close(OLECLOSE_NOSAVE));
  EXPECT_EQ(0, site.saves);
  EXPECT_EQ(S_OK, ole->Close(OLECLOSE_SAVEIFDIRTY));
  EXPECT_EQ(1, site.saves);
  EXPECT_EQ(S_FALSE, stream->IsDirty());
  EXPECT_EQ(S_OK, ole->Close(OLECLOSE_SAVEIFDIRTY));
  EXPECT_EQ(1, site.saves) << "nothing changed since: no second save";
  // Loading leaves the control unmodified, whatever the load put.
  ASSERT_EQ(S_OK, zqtest::LoadProperties(c.get(), zqtest::SavedProperties(c.get())));
  EXPECT_EQ(S_FALSE, stream->IsDirty());
  ole->SetClientSite(nullptr);
}

// ---- its picture ----

TEST(Picture, ViewAndDataObjectsShowTheControl) {
  ComPtr<IZanQuilmoAx4> c = NewControl();
  ASSERT_TRUE(c);
  c->put_DrawAreaAlign(alManual);
  c->put_DrawAreaWidth(100);
  c->put_DrawAreaHeight(50);
  HWND wnd = nullptr;
  As<IOleWindow>(c.get(), IID_IOleWindow)->GetWindow(&wnd);
  RECT r{};
  GetWindowRect(wnd, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  EXPECT_GE(DrawnPixelsOf(c.get(), w, h, RGB(255, 255, 255)), 100 * 50) << "the white drawing";

  ComPtr<IDataObject> data = As<IDataObject>(c.get(), IID_IDataObject);
  FORMATETC f{CF_BITMAP, nullptr, DVASPECT_CONTENT, -1, TYMED_GDI};
  EXPECT_EQ(S_OK, data->QueryGetData(&f));
  STGMEDIUM m{};
  ASSERT_EQ(S_OK, data->GetData(&f, &m));
  BITMAP bm{};
  ASSERT_TRUE(GetObjectW(m.hBitmap, sizeof bm, &bm));
  EXPECT_EQ(w, bm.bmWidth);
  EXPECT_EQ(h, bm.bmHeight);
  ReleaseStgMedium(&m);
  FORMATETC text{CF_UNICODETEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  EXPECT_EQ(DV_E_FORMATETC, data->QueryGetData(&text));
  EXPECT_FAILED(data->GetData(&text, &m));

  DWORD misc = 0;
  ASSERT_EQ(S_OK, As<IOleObject>(c.get(), IID_IOleObject)->GetMiscStatus(DVASPECT_CONTENT, &misc));
  EXPECT_EQ(0x32191u, misc);
  ComPtr<ISpecifyPropertyPages> pages = As<ISpecifyPropertyPages>(c.get(), IID_ISpecifyPropertyPages);
  CAUUID list{5, reinterpret_cast<GUID*>(1)};
  ASSERT_EQ(S_OK, pages->GetPages(&list));
  EXPECT_EQ(0u, list.cElems);
  CoTaskMemFree(list.pElems);
}

}  // namespace
