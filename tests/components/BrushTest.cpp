// The pressure brush and eraser through COM: created from the registered module, methods
// called through the interfaces' function tables, properties reached by DISPID, painting
// into real device contexts.
#include <gtest/gtest.h>

#include <windows.h>
#include <objsafe.h>
#include <olectl.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>
#include <vector>

#include "ComSupport.h"
#include "TestSupport.h"
#include "UiSupport.h"
#include "ZanPBrush4_TLB.h"

using zq::fw::ComPtr;
using zqtest::GetProp;
using zqtest::PutProp;

namespace {

constexpr double kPi = 3.14159265358979323846;

// Property DISPIDs of the two classes.
namespace brush {
enum : DISPID { BrLightShadeBmp = 1, BrTransparencyBmp, BrTxRatio, Color, Contrast, DelayControl, HotX = 8, HotY,
                Interpolation, Magnification, MaxLineWidth, MinLineWidth, Soak, SprayDencity, SprayType,
                ThrowErrorInfo, Transparency, TxLightShadeBmp, TxTransparencyBmp, VaryLineWidth, VaryTransparency };
}
namespace eraser {
enum : DISPID { Color = 1, DelayControl, Interpolation = 4, Magnification, MaxLineWidth, MinLineWidth, Soak,
                TextureBitmap, ThrowErrorInfo, TilingPaint, Transparency, VaryLineWidth, VaryTransparency };
}

HMODULE Module() {
  static HMODULE m = zqtest::RegisterModule("ZQ_PBRUSH_OCX");
  return m;
}

template <class I>
ComPtr<I> Create(REFCLSID clsid) {
  Module();
  ComPtr<I> p;
  const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), p.put_void());
  EXPECT_EQ(S_OK, hr) << "CoCreateInstance";
  return p;
}

ComPtr<IZanPBrushCtl> NewBrush() { return Create<IZanPBrushCtl>(CLSID_ZanPBrushCtl4); }
ComPtr<IZanPEraserCtl> NewEraser() { return Create<IZanPEraserCtl>(CLSID_ZanPEraserCtl4); }

long DcArg(HDC dc) { return static_cast<long>(reinterpret_cast<LONG_PTR>(dc)); }

enum class Kind { BottomUp24, TopDown24, Dib32, DeviceDependent };

// A drawing: a bitmap selected into a memory device context, as the control keeps one.
class Drawing {
 public:
  Drawing(int w, int h, Kind kind = Kind::BottomUp24, COLORREF fill = RGB(255, 255, 255)) : w_(w), h_(h) {
    HDC screen = GetDC(nullptr);
    dc_ = CreateCompatibleDC(screen);
    if (kind == Kind::DeviceDependent) {
      bitmap_ = CreateCompatibleBitmap(screen, w, h);
    } else {
      BITMAPINFO bi{};
      const int bits = kind == Kind::Dib32 ? 32 : 24;
      bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, kind == Kind::TopDown24 ? -h : h, 1, static_cast<WORD>(bits),
                      BI_RGB, 0, 0, 0, 0, 0};
      void* p = nullptr;
      bitmap_ = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &p, nullptr, 0);
    }
    ReleaseDC(nullptr, screen);
    old_ = SelectObject(dc_, bitmap_);
    Fill(fill);
  }
  ~Drawing() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  Drawing(const Drawing&) = delete;
  Drawing& operator=(const Drawing&) = delete;

  HDC dc() const { return dc_; }
  long arg() const { return DcArg(dc_); }
  HBITMAP bitmap() const { return bitmap_; }
  int width() const { return w_; }
  int height() const { return h_; }

  void Fill(COLORREF c, RECT r) {
    HBRUSH b = CreateSolidBrush(c);
    FillRect(dc_, &r, b);
    DeleteObject(b);
  }
  void Fill(COLORREF c) { Fill(c, RECT{0, 0, w_, h_}); }

  // The pixels, top row first, 3 bytes each (blue, green, red), no padding.
  std::vector<std::uint8_t> Read() const {
    GdiFlush();
    const std::size_t stride = ((static_cast<std::size_t>(w_) * 3 + 3) / 4) * 4;
    std::vector<std::uint8_t> raw(stride * h_), out;
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w_, -h_, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    HDC mem = CreateCompatibleDC(dc_);
    SelectObject(dc_, old_);  // GetDIBits wants the bitmap out of any device context
    GetDIBits(mem, bitmap_, 0, static_cast<UINT>(h_), raw.data(), &bi, DIB_RGB_COLORS);
    SelectObject(dc_, bitmap_);
    DeleteDC(mem);
    out.reserve(static_cast<std::size_t>(w_) * h_ * 3);
    for (int y = 0; y < h_; ++y) out.insert(out.end(), raw.begin() + stride * y, raw.begin() + stride * y + w_ * 3);
    return out;
  }

 private:
  int w_, h_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
};

struct Pixels {
  int w = 0, h = 0;
  std::vector<std::uint8_t> bgr;
  explicit Pixels(const Drawing& d) : w(d.width()), h(d.height()), bgr(d.Read()) {}
  const std::uint8_t* at(int x, int y) const { return &bgr[(static_cast<std::size_t>(y) * w + x) * 3]; }
  COLORREF Rgb(int x, int y) const { return RGB(at(x, y)[2], at(x, y)[1], at(x, y)[0]); }
  // 0 for white, 255 for black.
  int Dark(int x, int y) const { return 255 - (at(x, y)[0] + at(x, y)[1] + at(x, y)[2]) / 3; }
  bool White(int x, int y) const { return Rgb(x, y) == RGB(255, 255, 255); }
  // How many pixels of column x, rows y0..y1, are more than half dark.
  int Thickness(int x, int y0, int y1) const {
    int n = 0;
    for (int y = y0; y <= y1; ++y) n += Dark(x, y) > 127;
    return n;
  }
};

struct Pt {
  double x, y;  // pixels
  long pressure = 65535;
  long extra = 0;
};

// A stroke through the points, as the control hands one over: quarter pixels, the bitmap
// DC and the screen DC (which may be null).
template <class I>
void Stroke(I* tool, HDC bitmap, HDC screen, const std::vector<Pt>& pts) {
  ASSERT_FALSE(pts.empty());
  auto q = [](double v) { return static_cast<long>(std::lround(v * 4)); };
  ASSERT_EQ(S_OK, tool->BeginStroke(DcArg(screen), DcArg(bitmap), q(pts[0].x), q(pts[0].y), pts[0].pressure));
  for (std::size_t i = 1; i < pts.size(); ++i)
    ASSERT_EQ(S_OK, tool->ContinueStroke(DcArg(screen), DcArg(bitmap), q(pts[i].x), q(pts[i].y), pts[i].pressure,
                                         pts[i].extra));
}

// Points from (x0, y0) to (x1, y1) every `step` pixels, at one pressure.
std::vector<Pt> Line(double x0, double y0, double x1, double y1, long pressure = 65535, double step = 3) {
  std::vector<Pt> pts;
  const double len = std::hypot(x1 - x0, y1 - y0);
  const int n = std::max(1, static_cast<int>(std::ceil(len / step)));
  for (int i = 0; i <= n; ++i) pts.push_back({x0 + (x1 - x0) * i / n, y0 + (y1 - y0) * i / n, pressure});
  return pts;
}

// The settings the control gives the brush at start-up and for a medium.
void ControlSetUp(IZanPBrushCtl* b, short medium, long width, COLORREF color) {
  ASSERT_EQ(S_OK, b->SetBrushType(medium, 0, 0));
  ASSERT_EQ(S_OK, b->InitOptionB(400));
  ASSERT_EQ(S_OK, b->InitOptionC(1));
  ASSERT_EQ(S_OK, b->InitOptionD(2));
  ASSERT_EQ(S_OK, b->InitOptionA(-1));
  ASSERT_EQ(S_OK, b->put_Magnification(100));
  ASSERT_EQ(S_OK, b->put_VaryLineWidth(medium >= 4 ? 1 : 0));
  ASSERT_EQ(S_OK, b->put_Color(color));
  ASSERT_EQ(S_OK, b->put_MaxLineWidth(static_cast<short>(width)));
}

void ControlSetUp(IZanPEraserCtl* e, long width) {
  ASSERT_EQ(S_OK, e->InitOptionB(400));
  ASSERT_EQ(S_OK, e->InitOptionC(1));
  ASSERT_EQ(S_OK, e->InitOptionD(2));
  ASSERT_EQ(S_OK, e->InitOptionA(-1));
  ASSERT_EQ(S_OK, e->put_Magnification(100));
  ASSERT_EQ(S_OK, e->put_VaryLineWidth(0));
  ASSERT_EQ(S_OK, e->put_MaxLineWidth(static_cast<short>(width)));
}

// A picture of a pattern: every pixel different from its neighbours, so that misplaced
// texture pixels show.
ComPtr<IPictureDisp> PatternPicture(int w, int h) {
  Drawing d(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) SetPixel(d.dc(), x, y, RGB((x * 37 + y * 11) & 0xFF, (x * 5 + y * 29) & 0xFF, 60 + (x ^ y) % 150));
  SelectObject(d.dc(), GetStockObject(NULL_BRUSH));
  return zqtest::PictureOf(d.bitmap());
}

COLORREF PatternAt(int x, int y) { return RGB((x * 37 + y * 11) & 0xFF, (x * 5 + y * 29) & 0xFF, 60 + (x ^ y) % 150); }

// ---- the classes as a host sees them ----

TEST(PressureBrushCom, StoredDefaultsByDispid) {
  auto b = NewBrush();
  ASSERT_TRUE(b);
  struct Expect {
    DISPID id;
    VARTYPE vt;
    long long value;
  };
  const Expect brushDefaults[] = {
      {brush::BrTxRatio, VT_I2, 50},     {brush::Contrast, VT_I2, 0},        {brush::DelayControl, VT_I2, 4},
      {brush::HotX, VT_I2, 0},           {brush::HotY, VT_I2, 0},            {brush::Interpolation, VT_I2, 1},
      {brush::Magnification, VT_I2, 160}, {brush::MaxLineWidth, VT_I2, 1},   {brush::MinLineWidth, VT_I2, 1},
      {brush::Soak, VT_I2, 1},           {brush::SprayDencity, VT_I2, 0},    {brush::SprayType, VT_I2, 0},
      {brush::ThrowErrorInfo, VT_I4, 1}, {brush::Transparency, VT_I2, 0},    {brush::VaryLineWidth, VT_I4, 1},
      {brush::VaryTransparency, VT_I4, 1}};
  for (const Expect& e : brushDefaults) {
    const auto p = GetProp(b.get(), e.id);
    EXPECT_EQ(S_OK, p.hr) << "DISPID " << e.id;
    EXPECT_EQ(e.vt, p.vt) << "DISPID " << e.id;
    EXPECT_EQ(e.value, p.value) << "DISPID " << e.id;
  }
  const auto color = GetProp(b.get(), brush::Color);
  EXPECT_EQ(S_OK, color.hr);
  EXPECT_EQ(0, color.value);
  for (DISPID pic : {brush::BrLightShadeBmp, brush::BrTransparencyBmp, brush::TxLightShadeBmp, brush::TxTransparencyBmp}) {
    const auto p = GetProp(b.get(), pic);
    EXPECT_EQ(S_OK, p.hr);
    EXPECT_EQ(VT_DISPATCH, p.vt) << "DISPID " << pic;
    EXPECT_TRUE(p.nullObject) << "DISPID " << pic;
  }

  auto e = NewEraser();
  ASSERT_TRUE(e);
  const Expect eraserDefaults[] = {
      {eraser::DelayControl, VT_I2, 4},  {eraser::Interpolation, VT_I2, 1}, {eraser::Magnification, VT_I2, 160},
      {eraser::MaxLineWidth, VT_I2, 1},  {eraser::MinLineWidth, VT_I2, 1},  {eraser::Soak, VT_I2, 1},
      {eraser::ThrowErrorInfo, VT_I4, 1}, {eraser::TilingPaint, VT_I4, 1}, {eraser::Transparency, VT_I2, 0},
      {eraser::VaryLineWidth, VT_I4, 1}, {eraser::VaryTransparency, VT_I4, 1}};
  for (const Expect& x : eraserDefaults) {
    const auto p = GetProp(e.get(), x.id);
    EXPECT_EQ(S_OK, p.hr) << "DISPID " << x.id;
    EXPECT_EQ(x.vt, p.vt) << "DISPID " << x.id;
    EXPECT_EQ(x.value, p.value) << "DISPID " << x.id;
  }
  EXPECT_EQ(0xFFFFFF, GetProp(e.get(), eraser::Color).value);
  EXPECT_TRUE(GetProp(e.get(), eraser::TextureBitmap).nullObject);

  // Names resolve to the same DISPIDs for late-bound callers.
  const wchar_t* names[] = {L"MaxLineWidth", L"VaryLineWidth", L"SetBrushType"};
  const DISPID want[] = {12, 21, 40};
  for (int i = 0; i < 3; ++i) {
    DISPID id = 0;
    auto* name = const_cast<LPOLESTR>(names[i]);
    EXPECT_EQ(S_OK, b->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id));
    EXPECT_EQ(want[i], id);
  }
}

TEST(PressureBrushCom, InvisibleAtRunTimeAndNotForWebPages) {
  Module();
  for (const CLSID& clsid : {CLSID_ZanPBrushCtl4, CLSID_ZanPEraserCtl4}) {
    DWORD registered = 0;
    EXPECT_EQ(S_OK, OleRegGetMiscStatus(clsid, DVASPECT_CONTENT, &registered));
    EXPECT_TRUE(registered & OLEMISC_INVISIBLEATRUNTIME);
    ComPtr<IOleObject> ole = Create<IOleObject>(clsid);
    ASSERT_TRUE(ole);
    DWORD status = 0;
    EXPECT_EQ(S_OK, ole->GetMiscStatus(DVASPECT_CONTENT, &status));
    EXPECT_TRUE(status & OLEMISC_INVISIBLEATRUNTIME);
    ComPtr<IObjectSafety> safety;
    ASSERT_EQ(S_OK, ole->QueryInterface(IID_IObjectSafety, safety.put_void()));
    // Components for the control's own code, not for web pages: no safety declared.
    const DWORD both = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
    DWORD supported = 99, enabled = 99;
    EXPECT_EQ(S_OK, safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled));
    EXPECT_EQ(0u, supported);
    EXPECT_EQ(0u, enabled);
    EXPECT_EQ(E_FAIL, safety->SetInterfaceSafetyOptions(IID_IDispatch, both, both));
    EXPECT_EQ(S_OK, safety->SetInterfaceSafetyOptions(IID_IDispatch, both, 0)) << "asking for nothing is fine";
    ComPtr<IProvideClassInfo> pci;
    EXPECT_EQ(S_OK, ole.As(pci));
  }
}

TEST(PressureBrushSafety, PropertiesReadWithArgumentsAreRefusedCleanly) {
  // b.BrLightShadeBmp(0) from a script used to crash the host: the platform's dispatch
  // called the default member of the null picture with the argument.
  auto b = NewBrush();
  auto e = NewEraser();
  EXPECT_GT(zqtest::ExpectBadPropertyReadsRefused(b.get()), 15);
  EXPECT_GT(zqtest::ExpectBadPropertyReadsRefused(e.get()), 10);
  // An object that is no picture given to a picture property: the standard dispatch code.
  VARIANT foreign;
  VariantInit(&foreign);
  foreign.vt = VT_DISPATCH;
  foreign.pdispVal = e.get();
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS p{&foreign, &put, 1, 1};
  UINT bad = 99;
  EXPECT_EQ(DISP_E_TYPEMISMATCH, b->Invoke(brush::BrLightShadeBmp, IID_NULL, 0, DISPATCH_PROPERTYPUTREF, &p, nullptr,
                                           nullptr, &bad));
  EXPECT_EQ(0u, bad);
}

TEST(PressureBrushCom, RegistersAndUnregistersItsClasses) {
  HMODULE m = Module();
  ASSERT_TRUE(m);
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(m, path, MAX_PATH);
  auto value = [](const std::wstring& key, const wchar_t* name) {
    wchar_t buf[MAX_PATH] = L"";
    DWORD size = sizeof buf;
    const LONG r = RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buf, &size);
    return r == ERROR_SUCCESS ? std::wstring(buf) : std::wstring(L"<missing>");
  };
  const std::wstring brushKey = L"CLSID\\{590BB028-A974-4A70-A31D-5BA53CD4874E}";
  EXPECT_EQ(0, _wcsicmp(path, value(brushKey + L"\\InprocServer32", nullptr).c_str()));
  EXPECT_EQ(L"Apartment", value(brushKey + L"\\InprocServer32", L"ThreadingModel"));
  EXPECT_EQ(L"{4C523E5C-9639-41DB-A3BC-4622AEF0F7FE}", value(brushKey + L"\\TypeLib", nullptr));
  CLSID byName{};
  EXPECT_EQ(S_OK, CLSIDFromProgID(L"ZANPBRUSH4Lib.ZanPEraserCtl4", &byName));
  EXPECT_TRUE(IsEqualCLSID(CLSID_ZanPEraserCtl4, byName));
  ComPtr<ITypeLib> lib;
  EXPECT_EQ(S_OK, LoadRegTypeLib(LIBID_ZANPBRUSH4Lib, 1, 0, 0, lib.put()));
  lib.reset();

  using Server = HRESULT(STDAPICALLTYPE*)();
  auto unreg = reinterpret_cast<Server>(reinterpret_cast<void*>(GetProcAddress(m, "DllUnregisterServer")));
  auto reg = reinterpret_cast<Server>(reinterpret_cast<void*>(GetProcAddress(m, "DllRegisterServer")));
  ASSERT_TRUE(unreg && reg);
  ASSERT_EQ(S_OK, unreg());
  EXPECT_EQ(L"<missing>", value(brushKey, nullptr));
  EXPECT_EQ(L"<missing>", value(L"ZANPBRUSH4Lib.ZanPBrushCtl4", nullptr));
  HKEY k = nullptr;
  EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, L"TypeLib\\{4C523E5C-9639-41DB-A3BC-4622AEF0F7FE}", 0,
                                         KEY_READ, &k))
      << "the type library is unregistered too";
  if (k) RegCloseKey(k);
  ComPtr<IUnknown> none;
  EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_ZanPBrushCtl4, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                  none.put_void()));
  ASSERT_EQ(S_OK, unreg()) << "unregistering twice is harmless";
  ASSERT_EQ(S_OK, reg());
  EXPECT_TRUE(NewBrush());
}

// ---- strokes ----

TEST(PressureBrushStroke, PaintsTheBitmapAndTheScreenAlike) {
  auto b = NewBrush();
  ControlSetUp(b.get(), 0, 6, RGB(200, 20, 40));
  Drawing drawing(200, 120), screen(200, 120);
  Stroke(b.get(), drawing.dc(), screen.dc(), Line(20, 60.25, 180, 60.25));
  const Pixels d(drawing), s(screen);
  EXPECT_EQ(d.bgr, s.bgr) << "the screen shows exactly what the drawing holds";
  EXPECT_EQ(RGB(200, 20, 40), d.Rgb(100, 60)) << "oil-based ink is opaque at full pressure";
  EXPECT_EQ(RGB(200, 20, 40), d.Rgb(21, 60));
  EXPECT_EQ(RGB(200, 20, 40), d.Rgb(179, 60));
  EXPECT_TRUE(d.White(100, 50)) << "nothing beyond the width";
  EXPECT_TRUE(d.White(10, 60));
  // Six pixels wide: the coverage across it adds up to six.
  double across = 0;
  for (int y = 40; y <= 80; ++y) across += d.Dark(100, y) / static_cast<double>(d.Dark(100, 60));
  EXPECT_NEAR(6.0, across, 0.1);
  // Antialiased: the edge rows, a quarter and three quarters covered, are partly dark.
  int partial = 0;
  for (int y = 50; y <= 70; ++y) {
    const int dark = d.Dark(100, y);
    partial += dark > 10 && dark < 100;
  }
  EXPECT_GE(partial, 1);

  // A later segment adds to the drawing without disturbing what was there.
  ASSERT_EQ(S_OK, b->ContinueStroke(screen.arg(), drawing.arg(), 180 * 4, 100 * 4, 65535, 0));
  const Pixels d2(drawing);
  EXPECT_EQ(RGB(200, 20, 40), d2.Rgb(180, 90));
  EXPECT_EQ(d.Rgb(100, 60), d2.Rgb(100, 60));
  // Without a screen DC only the drawing changes.
  ASSERT_EQ(S_OK, b->ContinueStroke(0, drawing.arg(), 100 * 4, 100 * 4, 65535, 0));
  EXPECT_EQ(RGB(200, 20, 40), Pixels(drawing).Rgb(140, 100));
  EXPECT_TRUE(Pixels(screen).White(140, 100));
}

TEST(PressureBrushStroke, EveryKindOfBitmapGetsTheSamePixels) {
  auto paint = [](Kind kind) {
    auto b = NewBrush();
    ControlSetUp(b.get(), 1, 9, RGB(30, 60, 160));
    Drawing drawing(160, 100, kind), screen(160, 100);
    drawing.Fill(RGB(250, 240, 200), RECT{0, 0, 80, 100});  // different halves show a flipped bitmap
    screen.Fill(RGB(250, 240, 200), RECT{0, 0, 80, 100});
    std::vector<Pt> pts = Line(10, 20, 150, 30);
    auto more = Line(150, 30, 40, 90);
    pts.insert(pts.end(), more.begin() + 1, more.end());
    Stroke(b.get(), drawing.dc(), screen.dc(), pts);
    Pixels d(drawing), s(screen);
    EXPECT_EQ(d.bgr, s.bgr);
    return d.bgr;
  };
  const auto reference = paint(Kind::BottomUp24);
  EXPECT_EQ(reference, paint(Kind::TopDown24)) << "top-down DIB section";
  EXPECT_EQ(reference, paint(Kind::Dib32)) << "32-bit DIB section";
  EXPECT_EQ(reference, paint(Kind::DeviceDependent)) << "device-dependent bitmap";
}

TEST(PressureBrushStroke, WidthFollowsPressureOnlyWhenVarying) {
  auto b = NewBrush();
  ControlSetUp(b.get(), 0, 24, RGB(0, 0, 0));
  ASSERT_EQ(S_OK, b->put_MinLineWidth(2));
  ASSERT_EQ(S_OK, b->put_VaryLineWidth(1));
  ASSERT_EQ(S_OK, b->put_VaryTransparency(0));
  Drawing d(220, 200);
  const long pressures[] = {6000, 24000, 45000, 65535};
  for (int i = 0; i < 4; ++i) Stroke(b.get(), d.dc(), nullptr, Line(20, 30 + 45 * i, 200, 30 + 45 * i, pressures[i]));
  Pixels p(d);
  int previous = 0;
  for (int i = 0; i < 4; ++i) {
    const int t = p.Thickness(110, 30 + 45 * i - 22, 30 + 45 * i + 22);
    EXPECT_GT(t, previous) << "pressure " << pressures[i];
    previous = t;
  }
  EXPECT_EQ(24, previous) << "full pressure gives the maximum width";
  EXPECT_LE(p.Thickness(110, 8, 52), 4) << "light pressure comes near the minimum width";

  // Pressure changing within a stroke: the line swells smoothly from thin to thick.
  Drawing ramp(220, 60);
  std::vector<Pt> pts = Line(10, 30, 210, 30);
  for (std::size_t i = 0; i < pts.size(); ++i) pts[i].pressure = static_cast<long>(65535 * i / (pts.size() - 1));
  Stroke(b.get(), ramp.dc(), nullptr, pts);
  Pixels r(ramp);
  int last = 0;
  for (int x = 20; x <= 200; x += 20) {
    const int t = r.Thickness(x, 0, 59);
    EXPECT_GE(t, last) << "x " << x;
    last = t;
  }

  // Not varying: every pressure gives the maximum width.
  ASSERT_EQ(S_OK, b->put_VaryLineWidth(0));
  Drawing flat(220, 200);
  for (int i = 0; i < 4; ++i) Stroke(b.get(), flat.dc(), nullptr, Line(20, 30 + 45 * i, 200, 30 + 45 * i, pressures[i]));
  Pixels f(flat);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(24, f.Thickness(110, 30 + 45 * i - 22, 30 + 45 * i + 22)) << pressures[i];
}

TEST(PressureBrushStroke, OpacityFollowsPressureOnlyWhenVarying) {
  auto b = NewBrush();
  ControlSetUp(b.get(), 0, 10, RGB(0, 0, 0));
  Drawing d(200, 80);
  Stroke(b.get(), d.dc(), nullptr, Line(10, 20, 190, 20, 8000));
  Stroke(b.get(), d.dc(), nullptr, Line(10, 55, 190, 55, 65535));
  Pixels p(d);
  EXPECT_LT(p.Dark(100, 20), 160) << "light pressure lays down a lighter line";
  EXPECT_EQ(255, p.Dark(100, 55));
  ASSERT_EQ(S_OK, b->put_VaryTransparency(0));
  Drawing o(200, 40);
  Stroke(b.get(), o.dc(), nullptr, Line(10, 20, 190, 20, 8000));
  EXPECT_EQ(255, Pixels(o).Dark(100, 20));
  // Transparency applies over everything.
  ASSERT_EQ(S_OK, b->put_Transparency(50));
  Drawing t(200, 40);
  Stroke(b.get(), t.dc(), nullptr, Line(10, 20, 190, 20));
  EXPECT_NEAR(128, Pixels(t).Dark(100, 20), 3);
}

TEST(PressureBrushStroke, CurvesWithoutCornersOrGaps) {
  auto b = NewBrush();
  ControlSetUp(b.get(), 0, 4, RGB(0, 0, 0));
  // Sparse points on a circle (a fast mouse): the stroke is a closed, even ring.
  Drawing d(200, 200);
  std::vector<Pt> pts;
  for (int i = -1; i <= 12; ++i) pts.push_back({100 + 70 * std::cos(i * kPi / 6), 100 + 70 * std::sin(i * kPi / 6)});
  Stroke(b.get(), d.dc(), nullptr, pts);
  Pixels p(d);
  // Every direction from the centre crosses the ring once, near radius 70 (a polygon's
  // chords would fall to 70 * cos(15°) = 67.6 between the points). The first segment has
  // no direction to follow yet and is straight: it lies at -30° to 0°, and the ring's
  // last segment over it is left out.
  for (int deg = 0; deg < 330; deg += 3) {
    const double a = deg * kPi / 180;
    double first = -1, lastDark = -1;
    for (double r = 40; r < 90; r += 0.25) {
      const int x = static_cast<int>(100 + r * std::cos(a)), y = static_cast<int>(100 + r * std::sin(a));
      if (p.Dark(x, y) > 127) {
        if (first < 0) first = r;
        lastDark = r;
      }
    }
    ASSERT_GE(first, 0) << "a gap at " << deg << " degrees";
    EXPECT_NEAR(70, (first + lastDark) / 2, 1.6) << deg << " degrees";
  }
  // With interpolation off the same points give the polygon.
  ASSERT_EQ(S_OK, PutProp(b.get(), brush::Interpolation, VT_I2, 0));
  Drawing poly(200, 200);
  Stroke(b.get(), poly.dc(), nullptr, pts);
  Pixels q(poly);
  const double a = 15 * kPi / 180;  // halfway between two points
  double centre = 0;
  int n = 0;
  for (double r = 55; r < 80; r += 0.25) {
    const int x = static_cast<int>(100 + r * std::cos(a)), y = static_cast<int>(100 + r * std::sin(a));
    if (q.Dark(x, y) > 127) centre += r, ++n;
  }
  ASSERT_GT(n, 0);
  EXPECT_NEAR(67.6, centre / n, 1.2);
}

TEST(PressureBrushStroke, PointsOutsideTheBitmapAreClipped) {
  auto b = NewBrush();
  ControlSetUp(b.get(), 0, 8, RGB(0, 0, 0));
  ASSERT_EQ(S_OK, b->put_Interpolation(0));
  Drawing d(100, 80), screen(100, 80);
  // From far left of the bitmap, through it, to far right.
  Stroke(b.get(), d.dc(), screen.dc(), {{-500, 40}, {600, 40}});
  Pixels p(d);
  EXPECT_EQ(255, p.Dark(0, 40));
  EXPECT_EQ(255, p.Dark(99, 40));
  EXPECT_TRUE(p.White(50, 10));
  EXPECT_EQ(p.bgr, Pixels(screen).bgr);
  // Wholly outside: nothing changes, nothing fails.
  Drawing e(100, 80);
  const auto before = Pixels(e).bgr;
  Stroke(b.get(), e.dc(), nullptr, {{-50, -50}, {-20, -60}, {150, -30}, {300, 300}, {-40, 200}});
  EXPECT_EQ(before, Pixels(e).bgr);
  // Extreme coordinates return at once and paint only where the line crosses the bitmap.
  ASSERT_EQ(S_OK, b->put_Interpolation(1));
  ASSERT_EQ(S_OK, b->BeginStroke(0, e.arg(), -2147483647L - 1, 40 * 4, 65535));
  ASSERT_EQ(S_OK, b->ContinueStroke(0, e.arg(), 2147483647L, 40 * 4, 65535, 0));
  ASSERT_EQ(S_OK, b->ContinueStroke(0, e.arg(), 2147483647L, 2147483647L, 65535, 0));
  ASSERT_EQ(S_OK, b->ContinueStroke(0, e.arg(), -2147483647L, 2147483647L, -5, 2147483647L));
  Pixels x(e);
  EXPECT_EQ(255, x.Dark(50, 40));
}

TEST(PressureBrushStroke, SameInputSamePixelsAndEachMediumItsOwn) {
  std::vector<std::vector<std::uint8_t>> looks;
  for (short medium = 0; medium <= 6; ++medium) {
    std::vector<std::uint8_t> first;
    for (int run = 0; run < 2; ++run) {
      auto b = NewBrush();
      ControlSetUp(b.get(), medium, 14, RGB(40, 90, 180));
      Drawing d(160, 90);
      d.Fill(RGB(240, 200, 40), RECT{60, 0, 100, 90});
      std::vector<Pt> pts;
      for (int i = 0; i <= 40; ++i) pts.push_back({10 + i * 3.5, 45 + 25 * std::sin(i * 0.25), 20000 + 1000L * i, 8});
      Stroke(b.get(), d.dc(), nullptr, pts);
      auto px = Pixels(d).bgr;
      if (run == 0) first = px;
      else EXPECT_EQ(first, px) << "medium " << medium << " is not deterministic";
    }
    for (std::size_t other = 0; other < looks.size(); ++other)
      EXPECT_FALSE(looks[other] == first) << "media " << other << " and " << medium << " paint alike";
    looks.push_back(first);
  }
}

// ---- what each medium is known by ----

struct Stats {
  double mean = 0, sd = 0, minDark = 255, maxDark = 0;
};

Stats DarkStats(const Pixels& p, RECT r) {
  Stats s;
  std::vector<int> v;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) v.push_back(p.Dark(x, y));
  for (int d : v) s.mean += d;
  s.mean /= v.size();
  for (int d : v) {
    s.sd += (d - s.mean) * (d - s.mean);
    s.minDark = std::min<double>(s.minDark, d);
    s.maxDark = std::max<double>(s.maxDark, d);
  }
  s.sd = std::sqrt(s.sd / v.size());
  return s;
}

TEST(PressureBrushMedia, PencilIsGrainyTranslucentAndBuildsUp) {
  auto b = NewBrush();
  ControlSetUp(b.get(), 2, 16, RGB(0, 0, 0));
  Drawing d(200, 60);
  Stroke(b.get(), d.dc(), nullptr, Line(10, 30, 190, 30));
  const RECT core{40, 25, 160, 35};
  const Stats once = DarkStats(Pixels(d), core);
  EXPECT_GT(once.mean, 40);
  EXPECT_LT(once.mean, 200) << "translucent";
  EXPECT_GT(once.sd, 15) << "paper grain";
  Stroke(b.get(), d.dc(), nullptr, Line(10, 30, 190, 30));
  EXPECT_GT(DarkStats(Pixels(d), core).mean, once.mean + 15) << "a second pass builds up";
}

TEST(PressureBrushMedia, CrayonLeavesGapsAndOilInkIsEven) {
  auto crayon = NewBrush();
  ControlSetUp(crayon.get(), 3, 16, RGB(0, 0, 0));
  Drawing d(200, 60);
  Stroke(crayon.get(), d.dc(), nullptr, Line(10, 30, 190, 30));
  const Stats c = DarkStats(Pixels(d), RECT{40, 25, 160, 35});
  EXPECT_LT(c.minDark, 40) << "paper shows through";
  EXPECT_GT(c.maxDark, 200) << "wax lies thick elsewhere";

  auto ink = NewBrush();
  ControlSetUp(ink.get(), 0, 16, RGB(0, 0, 0));
  Drawing e(200, 60);
  Stroke(ink.get(), e.dc(), nullptr, Line(10, 30, 190, 30));
  const Stats i = DarkStats(Pixels(e), RECT{40, 25, 160, 35});
  EXPECT_EQ(255, i.minDark);
}

TEST(PressureBrushMedia, WaterInkBleedsSoftly) {
  auto b = NewBrush();
  ControlSetUp(b.get(), 1, 16, RGB(0, 0, 0));
  Drawing d(200, 60);
  Stroke(b.get(), d.dc(), nullptr, Line(10, 30, 190, 30));
  Pixels p(d);
  // Its edge wanders along the stroke, where oil-based ink's is straight: the ink across
  // each column varies.
  auto spread = [](const Pixels& px) {
    std::vector<double> sums;
    for (int x = 30; x < 170; ++x) {
      double sum = 0;
      for (int y = 0; y < px.h; ++y) sum += px.Dark(x, y) / 255.0;
      sums.push_back(sum);
    }
    double mean = 0, var = 0;
    for (double v : sums) mean += v / sums.size();
    for (double v : sums) var += (v - mean) * (v - mean) / sums.size();
    return std::sqrt(var);
  };
  EXPECT_GT(spread(p), 0.3);
  EXPECT_GT(p.Dark(100, 30), 200) << "a dense core";
  EXPECT_LT(p.Dark(100, 30), 255) << "not quite opaque";
  auto ink = NewBrush();
  ControlSetUp(ink.get(), 0, 16, RGB(0, 0, 0));
  Drawing e(200, 60);
  Stroke(ink.get(), e.dc(), nullptr, Line(10, 30, 190, 30));
  EXPECT_LT(spread(Pixels(e)), 0.05);
}

TEST(PressureBrushMedia, WatercolourWashesMixAndHaveAWetEdge) {
  auto b = NewBrush();
  ControlSetUp(b.get(), 4, 30, RGB(250, 210, 0));  // yellow
  ASSERT_EQ(S_OK, b->put_VaryTransparency(0));
  Drawing d(220, 120);
  Stroke(b.get(), d.dc(), nullptr, Line(10, 40, 210, 40));
  ASSERT_EQ(S_OK, b->put_Color(RGB(0, 90, 230)));  // blue across it
  Stroke(b.get(), d.dc(), nullptr, Line(110, 5, 110, 115));
  Pixels p(d);
  const COLORREF yellow = p.Rgb(40, 40), blue = p.Rgb(110, 90), both = p.Rgb(110, 40);
  EXPECT_GT(GetRValue(yellow), 200) << "a translucent wash";
  EXPECT_LT(GetBValue(yellow), 220);
  EXPECT_GT(GetBValue(blue), 200);
  EXPECT_LT(GetRValue(blue), 240);
  // Where they cross, the washes multiply: blue over yellow loses red as blue alone does
  // and keeps yellow's lack of blue, which leaves green.
  EXPECT_LT(GetRValue(both), GetRValue(yellow) - 30) << std::hex << both;
  EXPECT_LT(GetBValue(both), GetBValue(blue) - 30) << std::hex << both;
  EXPECT_GT(GetGValue(both), GetRValue(both)) << std::hex << both;
  EXPECT_GT(GetGValue(both), GetBValue(both)) << std::hex << both;
  // The pigment gathers at the edge as the wash dries.
  const Stats centre = DarkStats(p, RECT{150, 37, 200, 43}), rim = DarkStats(p, RECT{150, 27, 200, 29});
  EXPECT_GT(rim.mean, centre.mean + 4);
}

TEST(PressureBrushMedia, OilPaintPicksUpTheColourBeneath) {
  auto b = NewBrush();
  ControlSetUp(b.get(), 5, 16, RGB(220, 20, 20));  // red
  Drawing d(240, 60);
  d.Fill(RGB(20, 40, 230), RECT{0, 0, 80, 60});  // the stroke starts in blue paint
  Stroke(b.get(), d.dc(), nullptr, Line(10, 30, 230, 30));
  Pixels p(d);
  // Just past the blue, the brush carries blue into the red; far on, it is red again.
  const COLORREF close = p.Rgb(95, 30), distant = p.Rgb(225, 30);
  EXPECT_GT(GetBValue(close), 70);
  EXPECT_GT(GetBValue(close), GetBValue(distant) + 30);
  EXPECT_GT(GetRValue(distant), 150);
  // Opaque and streaked along the stroke: rows across it differ, columns along it less so.
  const Stats across = DarkStats(p, RECT{180, 24, 181, 37});
  EXPECT_GT(across.sd, 3);
}

TEST(PressureBrushMedia, AirbrushAccumulatesWhileHeld) {
  auto b = NewBrush();
  ControlSetUp(b.get(), 6, 30, RGB(0, 0, 0));
  Drawing d(100, 100);
  ASSERT_EQ(S_OK, b->BeginStroke(0, d.arg(), 200, 200, 65535));
  const int start = Pixels(d).Dark(50, 50);
  std::vector<int> darkness;
  for (int i = 0; i < 6; ++i) {
    for (int k = 0; k < 10; ++k) ASSERT_EQ(S_OK, b->ContinueStroke(0, d.arg(), 200, 200, 65535, 10));
    darkness.push_back(Pixels(d).Dark(50, 50));
  }
  EXPECT_GT(darkness[0], start);
  for (int i = 1; i < 6; ++i) EXPECT_GE(darkness[i], darkness[i - 1]);
  EXPECT_GT(darkness.back(), darkness[0] + 20);
  // Soft: the spray fades out from the centre, without a hard edge.
  Pixels p(d);
  EXPECT_GT(p.Dark(50, 50), p.Dark(50 + 10, 50));
  EXPECT_GT(p.Dark(50 + 10, 50), p.Dark(50 + 20, 50));
}

// ---- the eraser ----

TEST(PressureEraser, UncoversTheTextureOrItsColour) {
  auto e = NewEraser();
  ControlSetUp(e.get(), 12);
  auto texture = PatternPicture(50, 40);
  ASSERT_EQ(S_OK, e->putref_TextureBitmap(texture.get()));
  ComPtr<IPictureDisp> back;
  ASSERT_EQ(S_OK, e->get_TextureBitmap(back.put()));
  EXPECT_EQ(texture.get(), back.get());

  Drawing d(200, 100, Kind::BottomUp24, RGB(0, 0, 0)), screen(200, 100);
  Stroke(e.get(), d.dc(), screen.dc(), Line(10, 50, 190, 50));
  Pixels p(d);
  // The fully erased rows take the texture's pixels at the same place, repeated beyond its size.
  for (int y = 46; y <= 54; ++y)
    for (int x = 20; x <= 180; ++x) ASSERT_EQ(PatternAt(x % 50, y % 40), p.Rgb(x, y)) << x << ", " << y;
  EXPECT_EQ(RGB(0, 0, 0), p.Rgb(100, 20)) << "outside the stroke the drawing stays";
  for (int y = 46; y <= 54; ++y) EXPECT_EQ(p.Rgb(100, y), Pixels(screen).Rgb(100, y));

  // Not tiling: beyond the texture the eraser takes its colour.
  ASSERT_EQ(S_OK, e->put_TilingPaint(0));
  ASSERT_EQ(S_OK, e->put_Color(RGB(10, 200, 30)));
  Drawing t(200, 100, Kind::BottomUp24, RGB(0, 0, 0));
  Stroke(e.get(), t.dc(), nullptr, Line(10, 30, 190, 30));
  Pixels q(t);
  EXPECT_EQ(PatternAt(20, 30), q.Rgb(20, 30));
  EXPECT_EQ(RGB(10, 200, 30), q.Rgb(100, 30));

  // No texture: the colour.
  ASSERT_EQ(S_OK, e->putref_TextureBitmap(nullptr));
  Drawing c(200, 100, Kind::BottomUp24, RGB(0, 0, 0));
  Stroke(e.get(), c.dc(), nullptr, Line(10, 30, 190, 30));
  EXPECT_EQ(RGB(10, 200, 30), Pixels(c).Rgb(20, 30));
  EXPECT_EQ(RGB(10, 200, 30), Pixels(c).Rgb(100, 30));
}

TEST(PressureEraser, FollowsWidthAndPressureLikeTheBrush) {
  auto e = NewEraser();
  ControlSetUp(e.get(), 20);
  ASSERT_EQ(S_OK, e->put_MinLineWidth(2));
  ASSERT_EQ(S_OK, e->put_VaryLineWidth(1));
  ASSERT_EQ(S_OK, e->put_VaryTransparency(0));
  Drawing d(200, 100, Kind::BottomUp24, RGB(0, 0, 0));
  Stroke(e.get(), d.dc(), nullptr, Line(10, 25, 190, 25, 8000));
  Stroke(e.get(), d.dc(), nullptr, Line(10, 70, 190, 70, 65535));
  Pixels p(d);
  auto light = [&](int x, int y0, int y1) {
    int n = 0;
    for (int y = y0; y <= y1; ++y) n += p.Dark(x, y) < 128;
    return n;
  };
  EXPECT_LT(light(100, 5, 45), light(100, 50, 90));
  EXPECT_EQ(20, light(100, 50, 90));
}

TEST(PressureEraser, RefusesPicturesThatAreNotBitmaps) {
  auto e = NewEraser();
  PICTDESC desc{};
  desc.cbSizeofstruct = sizeof desc;
  desc.picType = PICTYPE_ICON;
  desc.icon.hicon = LoadIconW(nullptr, IDI_APPLICATION);
  ComPtr<IPictureDisp> icon;
  ASSERT_EQ(S_OK, OleCreatePictureIndirect(&desc, IID_IPictureDisp, FALSE, icon.put_void()));
  auto texture = PatternPicture(8, 8);
  ASSERT_EQ(S_OK, e->putref_TextureBitmap(texture.get()));
  EXPECT_EQ(E_INVALIDARG, e->putref_TextureBitmap(icon.get()));
  EXPECT_NE(std::wstring::npos, zqtest::LastErrorDescription().find(L"TextureBitmap"));
  ComPtr<IPictureDisp> kept;
  ASSERT_EQ(S_OK, e->get_TextureBitmap(kept.put()));
  EXPECT_EQ(texture.get(), kept.get()) << "a refused picture leaves the texture as it was";
}

// ---- hostile callers ----

TEST(PressureBrushSafety, OutOfRangeValuesFailClearlyAndChangeNothing) {
  auto b = NewBrush();
  struct Bad {
    DISPID id;
    long value;
  };
  const Bad bad[] = {{brush::MaxLineWidth, 0},    {brush::MaxLineWidth, -5},   {brush::MaxLineWidth, 32767},
                     {brush::MinLineWidth, -1},   {brush::Magnification, 0},   {brush::Magnification, -32768},
                     {brush::Transparency, 101},  {brush::BrTxRatio, -1},      {brush::Interpolation, 2},
                     {brush::DelayControl, -4},   {brush::Soak, 11},           {brush::Contrast, 200},
                     {brush::SprayType, 7},       {brush::SprayDencity, -1},   {brush::HotX, 30000}};
  for (const Bad& x : bad) {
    const auto before = GetProp(b.get(), x.id).value;
    EXPECT_EQ(DISP_E_EXCEPTION, PutProp(b.get(), x.id, VT_I2, x.value)) << "DISPID " << x.id << " = " << x.value;
    EXPECT_EQ(before, GetProp(b.get(), x.id).value);
  }
  // Through the function table the error comes with its description.
  EXPECT_EQ(E_INVALIDARG, b->put_MaxLineWidth(-5));
  const std::wstring text = zqtest::LastErrorDescription();
  EXPECT_NE(std::wstring::npos, text.find(L"MaxLineWidth")) << zqtest::Narrow(text);
  EXPECT_NE(std::wstring::npos, text.find(L"範囲")) << zqtest::Narrow(text);
  EXPECT_EQ(E_INVALIDARG, b->SetBrushType(7, 0, 0));
  EXPECT_EQ(E_INVALIDARG, b->SetBrushType(-1, 0, 0));
  EXPECT_EQ(E_INVALIDARG, b->InitOptionC(0));
  EXPECT_EQ(E_INVALIDARG, b->InitOptionD(100));
  EXPECT_EQ(E_INVALIDARG, b->put_Color(0x7F000000));
  EXPECT_EQ(0, GetProp(b.get(), brush::Color).value);

  // A device context that is none: a clear error, and no stroke to continue.
  Drawing d(50, 50);
  EXPECT_EQ(E_INVALIDARG, b->BeginStroke(0, 0x1234, 40, 40, 65535));
  EXPECT_FALSE(zqtest::LastErrorDescription().empty());
  EXPECT_EQ(S_OK, b->ContinueStroke(0, d.arg(), 100, 100, 65535, 0));
  EXPECT_EQ(Pixels(Drawing(50, 50)).bgr, Pixels(d).bgr);

  // ThrowErrorInfo 0: failures still return their HRESULT (a caller must learn of them),
  // without error information, and change nothing.
  ASSERT_EQ(S_OK, b->put_ThrowErrorInfo(0));
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(E_INVALIDARG, b->put_MaxLineWidth(-5));
  EXPECT_TRUE(zqtest::LastErrorDescription().empty());
  EXPECT_EQ(1, GetProp(b.get(), brush::MaxLineWidth).value);
  EXPECT_EQ(E_INVALIDARG, b->BeginStroke(0, 0x1234, 40, 40, 65535));
  EXPECT_TRUE(zqtest::LastErrorDescription().empty());
}

TEST(PressureBrushSafety, HugeWidthsStayBoundedAndPaint) {
  auto b = NewBrush();
  ControlSetUp(b.get(), 0, 500, RGB(0, 0, 0));
  ASSERT_EQ(S_OK, b->put_Magnification(1000));
  Drawing d(300, 200);
  Stroke(b.get(), d.dc(), nullptr, Line(0, 100, 300, 100, 65535, 1));
  Pixels p(d);
  EXPECT_EQ(255, p.Dark(0, 0));
  EXPECT_EQ(255, p.Dark(299, 199));
}

TEST(PressureBrushSafety, PropertiesPersistAndBadStreamsChangeNothing) {
  auto b = NewBrush();
  ASSERT_EQ(S_OK, b->put_MaxLineWidth(17));
  ASSERT_EQ(S_OK, b->put_Transparency(30));
  ASSERT_EQ(S_OK, b->put_Color(RGB(1, 2, 3)));
  const auto bytes = zqtest::SavedProperties(b.get());
  ASSERT_FALSE(bytes.empty());
  auto c = NewBrush();
  ASSERT_EQ(S_OK, zqtest::LoadProperties(c.get(), bytes));
  EXPECT_EQ(17, GetProp(c.get(), brush::MaxLineWidth).value);
  EXPECT_EQ(30, GetProp(c.get(), brush::Transparency).value);
  EXPECT_EQ(RGB(1, 2, 3), GetProp(c.get(), brush::Color).value);

  // Every truncation of the stream is refused and leaves the defaults.
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
    auto fresh = NewBrush();
    EXPECT_NE(S_OK, zqtest::LoadProperties(fresh.get(), {bytes.begin(), bytes.begin() + cut})) << "cut at " << cut;
    EXPECT_EQ(1, GetProp(fresh.get(), brush::MaxLineWidth).value) << "cut at " << cut;
  }
}

// ---- what a user sees ----

// All seven media at three pressures and three widths, a pressure ramp, and the eraser
// uncovering a texture, painted into a real window; the capture goes to the test output.
TEST(PressureBrushScreenshot, MediaPressuresWidthsAndTheEraser) {
  const int cellW = 84, cellH = 56, labelW = 110, top = 22;
  const int cols = 10, rows = 8;
  const int w = labelW + cols * cellW, h = top + rows * cellH;
  zqtest::HostWindow host(w, h, L"pressure brush media");
  Drawing d(w, h);
  // A pale band under every row shows how each medium covers a colour.
  for (int r = 0; r < rows; ++r) d.Fill(RGB(255, 236, 170), RECT{labelW, top + r * cellH + 20, w, top + r * cellH + 36});
  SetBkMode(d.dc(), TRANSPARENT);
  const wchar_t* names[] = {L"0 oil ink", L"1 water ink", L"2 pencil", L"3 crayon", L"4 watercolour",
                            L"5 oil paint", L"6 airbrush", L"eraser"};
  const COLORREF colors[] = {RGB(20, 20, 30), RGB(20, 50, 160), RGB(180, 30, 40), RGB(30, 130, 50),
                             RGB(30, 90, 220), RGB(200, 60, 20), RGB(110, 20, 150)};
  const long pressures[] = {16000, 40000, 65535};
  const long widths[] = {2, 8, 24};
  for (int c = 0; c < 9; ++c) {
    wchar_t label[32];
    swprintf(label, 32, L"w%ld p%ld", widths[c / 3], pressures[c % 3] * 100 / 65535);
    TextOutW(d.dc(), labelW + c * cellW + 4, 4, label, static_cast<int>(wcslen(label)));
  }
  TextOutW(d.dc(), labelW + 9 * cellW + 4, 4, L"w24 ramp", 8);
  for (int r = 0; r < rows; ++r) TextOutW(d.dc(), 6, top + r * cellH + 20, names[r], static_cast<int>(wcslen(names[r])));

  HDC screen = GetDC(host.hwnd());
  BitBlt(screen, 0, 0, w, h, d.dc(), 0, 0, SRCCOPY);
  auto wave = [&](int col, int row, long pressure, bool ramp) {
    std::vector<Pt> pts;
    const double x0 = labelW + col * cellW + 10, y0 = top + row * cellH + cellH / 2.0;
    for (int i = 0; i <= 32; ++i) {
      const long p = ramp ? 2000 + 63535L * i / 32 : pressure;
      pts.push_back({x0 + i * 2.0, y0 + 14 * std::sin(i * 0.2), p, 3});
    }
    return pts;
  };
  for (short m = 0; m < 7; ++m) {
    auto b = NewBrush();
    ControlSetUp(b.get(), m, 2, colors[m]);
    ASSERT_EQ(S_OK, b->put_MinLineWidth(1));
    for (int c = 0; c < 10; ++c) {
      const long width = c == 9 ? 24 : widths[c / 3];
      ASSERT_EQ(S_OK, b->put_MaxLineWidth(static_cast<short>(width)));
      if (c == 9) {
        ASSERT_EQ(S_OK, b->put_VaryLineWidth(1));
      }
      Stroke(b.get(), d.dc(), screen, wave(c, m, pressures[c % 3], c == 9));
    }
  }
  // The eraser row: ink laid over the row, then erased back to a texture.
  const int er = 7;
  d.Fill(RGB(40, 40, 40), RECT{labelW, top + er * cellH + 4, w, top + er * cellH + cellH - 4});
  BitBlt(screen, 0, top + er * cellH, w, cellH, d.dc(), 0, top + er * cellH, SRCCOPY);
  auto e = NewEraser();
  ControlSetUp(e.get(), 8);
  auto texture = PatternPicture(64, 64);
  ASSERT_EQ(S_OK, e->putref_TextureBitmap(texture.get()));
  ASSERT_EQ(S_OK, e->put_MinLineWidth(1));
  for (int c = 0; c < 10; ++c) {
    ASSERT_EQ(S_OK, e->put_MaxLineWidth(static_cast<short>(c == 9 ? 24 : widths[c / 3])));
    if (c == 9) {
      ASSERT_EQ(S_OK, e->put_VaryLineWidth(1));
    }
    Stroke(e.get(), d.dc(), screen, wave(c, er, pressures[c % 3], c == 9));
  }
  ReleaseDC(host.hwnd(), screen);

  // The window shows what the drawing holds, without a repaint.
  const zqtest::Capture shot = zqtest::CaptureClient(host.hwnd());
  zqtest::SavePng(shot, L"brush-media.png");
  const Pixels p(d);
  ASSERT_EQ(w, shot.width);
  int differ = 0;
  for (int y = top; y < h; y += 3)
    for (int x = labelW; x < w; x += 3) differ += shot.At(x, y) != p.Rgb(x, y);
  EXPECT_EQ(0, differ);
}

}  // namespace
