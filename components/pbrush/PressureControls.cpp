#include "PressureControls.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "Application.h"

namespace zpb {

using zq::fw::ComPtr;
using zq::fw::Error;

const wchar_t kBrushProgId[] = L"ZANPBRUSH4Lib.ZanPBrushCtl4";
const wchar_t kEraserProgId[] = L"ZANPBRUSH4Lib.ZanPEraserCtl4";

namespace {

ITypeLib* TypeLib() {
  static ComPtr<ITypeLib> lib = zq::fw::LoadModuleTypeLib(zq::fw::FrameworkModule());
  return lib.get();
}

// A value outside [lo, hi] is refused: the controls are safe for untrusted callers.
long Checked(long v, long lo, long hi, const wchar_t* name) {
  if (v < lo || v > hi)
    throw Error(zq::fw::Narrow(std::wstring(name) + L" は " + std::to_wstring(lo) + L" から " +
                               std::to_wstring(hi) + L" の範囲で指定してください。"),
                E_INVALIDARG);
  return v;
}

HDC ToDC(long v) { return reinterpret_cast<HDC>(static_cast<LONG_PTR>(v)); }

// The pixels of a bitmap picture, top row first, 24 bits per pixel.
struct Pixels {
  std::vector<std::uint8_t> bgr;
  Surface surface;
};

bool ReadPicture(IPictureDisp* disp, Pixels& out) {
  ComPtr<IPicture> pic;
  if (!disp || FAILED(disp->QueryInterface(IID_IPicture, pic.put_void()))) return false;
  SHORT type = 0;
  OLE_HANDLE handle = 0;
  if (FAILED(pic->get_Type(&type)) || type != PICTYPE_BITMAP || FAILED(pic->get_Handle(&handle))) return false;
  auto bitmap = reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle));
  BITMAP bm{};
  if (GetObjectW(bitmap, sizeof bm, &bm) < static_cast<int>(sizeof bm) || bm.bmWidth <= 0 || bm.bmHeight == 0) return false;
  const int w = bm.bmWidth, h = std::abs(static_cast<int>(bm.bmHeight));
  if (!zq::ImageSizeAllowed(w, h)) return false;
  const std::size_t stride = zq::Bgr24Stride(w);
  out.bgr.assign(stride * h, 0);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  zq::fw::MemoryDC dc;
  if (GetDIBits(dc.get(), bitmap, 0, static_cast<UINT>(h), out.bgr.data(), &bi, DIB_RGB_COLORS) != h) return false;
  out.surface = {out.bgr.data(), static_cast<std::ptrdiff_t>(stride), w, h};
  return true;
}

// What the brush and the eraser have in common: the shared properties, the stroke calls,
// the COM plumbing. Iface is the control's dual interface.
template <class Iface>
class PressureControl : public zq::fw::DualDispatch<Iface>, public zq::fw::InvisibleControl, public zq::fw::RefCounted {
 public:
  PressureControl(REFCLSID clsid, const wchar_t* progId)
      : zq::fw::DualDispatch<Iface>(zq::fw::DualInterfaceInfo(TypeLib(), __uuidof(Iface))),
        zq::fw::InvisibleControl(clsid, __uuidof(Iface), IID_NULL, progId, kMiscStatus, TypeLib()) {}

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return QueryControl(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
  STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

  // Shared properties.
  STDMETHODIMP get_Color(OLE_COLOR* v) override { return Get(v, color_); }
  STDMETHODIMP put_Color(OLE_COLOR v) override {
    return Guard([&] {
      COLORREF c = 0;
      if (FAILED(OleTranslateColor(v, nullptr, &c))) throw Error("Color は色の値で指定してください。", E_INVALIDARG);
      color_ = v;
    });
  }
  STDMETHODIMP get_DelayControl(short* v) override { return Get(v, delay_); }
  STDMETHODIMP put_DelayControl(short v) override { return Set(delay_, v, 0, 400, L"DelayControl"); }
  STDMETHODIMP get_Interpolation(short* v) override { return Get(v, interpolation_); }
  STDMETHODIMP put_Interpolation(short v) override { return Set(interpolation_, v, 0, 1, L"Interpolation"); }
  STDMETHODIMP get_Magnification(short* v) override { return Get(v, magnification_); }
  STDMETHODIMP put_Magnification(short v) override { return Set(magnification_, v, 1, 1000, L"Magnification"); }
  STDMETHODIMP get_MaxLineWidth(short* v) override { return Get(v, maxWidth_); }
  STDMETHODIMP put_MaxLineWidth(short v) override { return Set(maxWidth_, v, 1, 500, L"MaxLineWidth"); }
  STDMETHODIMP get_MinLineWidth(short* v) override { return Get(v, minWidth_); }
  STDMETHODIMP put_MinLineWidth(short v) override { return Set(minWidth_, v, 0, 500, L"MinLineWidth"); }
  STDMETHODIMP get_Soak(short* v) override { return Get(v, soak_); }
  STDMETHODIMP put_Soak(short v) override { return Set(soak_, v, 0, 10, L"Soak"); }
  STDMETHODIMP get_ThrowErrorInfo(long* v) override { return Get(v, throwErrors_); }
  STDMETHODIMP put_ThrowErrorInfo(long v) override {
    throwErrors_ = v;
    return S_OK;
  }
  STDMETHODIMP get_Transparency(short* v) override { return Get(v, transparency_); }
  STDMETHODIMP put_Transparency(short v) override { return Set(transparency_, v, 0, 100, L"Transparency"); }
  STDMETHODIMP get_VaryLineWidth(long* v) override { return Get(v, varyWidth_); }
  STDMETHODIMP put_VaryLineWidth(long v) override {
    varyWidth_ = v;
    return S_OK;
  }
  STDMETHODIMP get_VaryTransparency(long* v) override { return Get(v, varyOpacity_); }
  STDMETHODIMP put_VaryTransparency(long v) override {
    varyOpacity_ = v;
    return S_OK;
  }

  // Strokes.
  STDMETHODIMP BeginStroke(long screenDC, long bitmapDC, long x, long y, long pressure) override {
    return Guard([&] {
      engine_.Abandon();  // a stroke that cannot begin leaves nothing to continue
      const HDC bdc = ToDC(bitmapDC), sdc = ToDC(screenDC);
      target_.Bind(bdc);
      const Settings st = StrokeSettings();
      const int px = Offset(x, true), py = Offset(y, false);
      const int p = static_cast<int>(std::clamp<long>(pressure, 0, 65535));
      reach_ = StrokeEngine::Reach(st);
      target_.Paint(bdc, sdc, Area(px, py, px, py), [&](const Surface& s) { return engine_.Begin(s, px, py, p, st); });
    });
  }

  STDMETHODIMP ContinueStroke(long screenDC, long bitmapDC, long x, long y, long pressure, long extra) override {
    return Guard([&] {
      if (!engine_.InStroke()) return;  // no stroke was begun: nothing to continue
      const HDC bdc = ToDC(bitmapDC), sdc = ToDC(screenDC);
      target_.Bind(bdc);
      const int px = Offset(x, true), py = Offset(y, false);
      const int p = static_cast<int>(std::clamp<long>(pressure, 0, 65535));
      const int ms = static_cast<int>(std::clamp<long>(extra, 0, 10000));
      target_.Paint(bdc, sdc, Area(engine_.LastX4(), engine_.LastY4(), px, py),
                    [&](const Surface& s) { return engine_.Continue(s, px, py, p, ms); });
    });
  }

  STDMETHODIMP InitOptionA(long v) override {
    seed_ = v == -1 ? 0x5A4E : static_cast<std::uint32_t>(v);
    return S_OK;
  }
  STDMETHODIMP InitOptionB(long v) override { return Set(reportRate_, v, 1, 100000, L"InitOptionB"); }
  STDMETHODIMP InitOptionC(long v) override { return Set(pressureCurve_, v, 1, 3, L"InitOptionC"); }
  STDMETHODIMP InitOptionD(long v) override { return Set(edgeHalfPixels_, v, 0, 8, L"InitOptionD"); }

 protected:
  template <class T, class V>
  HRESULT Get(T* out, const V& value) {
    if (!out) return E_POINTER;
    *out = static_cast<T>(value);
    return S_OK;
  }

  template <class T, class V>
  HRESULT Set(T& field, V v, long lo, long hi, const wchar_t* name) {
    return Guard([&] { field = static_cast<T>(Checked(static_cast<long>(v), lo, hi, name)); });
  }

  // The boundary of every method: a failure is its HRESULT; with ThrowErrorInfo 0 the
  // caller learns of it from that alone, without error information.
  template <class F>
  HRESULT Guard(F&& f) noexcept {
    const HRESULT hr = Guarded(f);
    if (FAILED(hr) && !throwErrors_) SetErrorInfo(0, nullptr);
    return hr;
  }

  // The settings of a stroke from the properties; the medium's part comes from the class.
  virtual Settings StrokeSettings() const {
    Settings st;
    COLORREF c = 0;
    OleTranslateColor(color_, nullptr, &c);
    st.color = c;
    const double mag = magnification_ / 100.0;
    st.maxWidth = std::max(1, static_cast<int>(maxWidth_)) * mag;
    st.minWidth = std::min(static_cast<double>(std::max<short>(minWidth_, 0)), static_cast<double>(maxWidth_)) * mag;
    st.varyWidth = varyWidth_ != 0;
    st.varyOpacity = varyOpacity_ != 0;
    st.transparency = transparency_ / 100.0;
    st.smooth = interpolation_ != 0;
    st.minMove = delay_ / 4.0;
    st.pressureCurve = static_cast<int>(pressureCurve_);
    st.seed = seed_;
    st.edge = std::max(0.5, edgeHalfPixels_ / 2.0);
    st.soak = soak_;
    st.sprayRate = static_cast<double>(reportRate_);
    return st;
  }
  virtual int Offset(long v, bool) const { return static_cast<int>(std::clamp<long>(v, -(1L << 29), 1L << 29)); }

  // The region a segment from (x0, y0) to (x1, y1) may touch, in pixels.
  // The curve between two points keeps well within half their distance of the chord.
  Rect Area(int x0, int y0, int x1, int y1) const {
    const double bulge = std::hypot((x1 - x0) / 4.0, (y1 - y0) / 4.0) * 0.5;
    const double m = reach_ + 1 + bulge;
    return {static_cast<int>(std::floor(std::min(x0, x1) / 4.0 - m)), static_cast<int>(std::floor(std::min(y0, y1) / 4.0 - m)),
            static_cast<int>(std::ceil(std::max(x0, x1) / 4.0 + m)) + 1, static_cast<int>(std::ceil(std::max(y0, y1) / 4.0 + m)) + 1};
  }

  void ResetShared() {
    delay_ = 4;
    interpolation_ = 1;
    magnification_ = 160;
    maxWidth_ = 1;
    minWidth_ = 1;
    soak_ = 1;
    throwErrors_ = 1;
    transparency_ = 0;
    varyWidth_ = 1;
    varyOpacity_ = 1;
  }
  IDispatch* Dispatch() override { return static_cast<Iface*>(this); }

  OLE_COLOR color_ = 0;
  short delay_ = 4, interpolation_ = 1, magnification_ = 160, maxWidth_ = 1, minWidth_ = 1, soak_ = 1, transparency_ = 0;
  long throwErrors_ = 1, varyWidth_ = 1, varyOpacity_ = 1;
  std::uint32_t seed_ = 0x5A4E;
  long reportRate_ = 400, pressureCurve_ = 1, edgeHalfPixels_ = 2;
  StrokeEngine engine_;
  StrokeTarget target_;
  double reach_ = 0;  // of the stroke in progress

 private:
  // One reference count for every interface of the object.
};

HRESULT GetPicture(IPictureDisp** out, const ComPtr<IPictureDisp>& p) {
  if (!out) return E_POINTER;
  *out = p.get();
  if (*out) (*out)->AddRef();
  return S_OK;
}

// ---- the brush ----

class Brush final : public PressureControl<IZanPBrushCtl> {
 public:
  Brush() : PressureControl(__uuidof(ZanPBrushCtl4), kBrushProgId) { ResetProperties(); }

  STDMETHODIMP get_BrLightShadeBmp(IPictureDisp** v) override { return GetPicture(v, brLight_); }
  STDMETHODIMP put_BrLightShadeBmp(IPictureDisp* v) override { return Keep(brLight_, v); }
  STDMETHODIMP putref_BrLightShadeBmp(IPictureDisp* v) override { return Keep(brLight_, v); }
  STDMETHODIMP get_BrTransparencyBmp(IPictureDisp** v) override { return GetPicture(v, brTrans_); }
  STDMETHODIMP put_BrTransparencyBmp(IPictureDisp* v) override { return Keep(brTrans_, v); }
  STDMETHODIMP putref_BrTransparencyBmp(IPictureDisp* v) override { return Keep(brTrans_, v); }
  STDMETHODIMP get_TxLightShadeBmp(IPictureDisp** v) override { return GetPicture(v, txLight_); }
  STDMETHODIMP put_TxLightShadeBmp(IPictureDisp* v) override { return Keep(txLight_, v); }
  STDMETHODIMP putref_TxLightShadeBmp(IPictureDisp* v) override { return Keep(txLight_, v); }
  STDMETHODIMP get_TxTransparencyBmp(IPictureDisp** v) override { return GetPicture(v, txTrans_); }
  STDMETHODIMP put_TxTransparencyBmp(IPictureDisp* v) override { return SetPaper(v); }
  STDMETHODIMP putref_TxTransparencyBmp(IPictureDisp* v) override { return SetPaper(v); }
  STDMETHODIMP get_BrTxRatio(short* v) override { return Get(v, txRatio_); }
  STDMETHODIMP put_BrTxRatio(short v) override { return Set(txRatio_, v, 0, 100, L"BrTxRatio"); }
  STDMETHODIMP get_Contrast(short* v) override { return Get(v, contrast_); }
  STDMETHODIMP put_Contrast(short v) override { return Set(contrast_, v, -100, 100, L"Contrast"); }
  STDMETHODIMP get_HotX(short* v) override { return Get(v, hotX_); }
  STDMETHODIMP put_HotX(short v) override { return Set(hotX_, v, -1000, 1000, L"HotX"); }
  STDMETHODIMP get_HotY(short* v) override { return Get(v, hotY_); }
  STDMETHODIMP put_HotY(short v) override { return Set(hotY_, v, -1000, 1000, L"HotY"); }
  STDMETHODIMP get_SprayDencity(short* v) override { return Get(v, sprayDensity_); }
  STDMETHODIMP put_SprayDencity(short v) override { return Set(sprayDensity_, v, 0, 100, L"SprayDencity"); }
  STDMETHODIMP get_SprayType(short* v) override { return Get(v, sprayType_); }
  STDMETHODIMP put_SprayType(short v) override { return Set(sprayType_, v, 0, 1, L"SprayType"); }

  STDMETHODIMP SetBrushType(short medium, long grainPercent, long seedOffset) override {
    return Guard([&] {
      medium_ = static_cast<short>(Checked(medium, 0, 6, L"SetBrushType の種類"));
      grainPercent_ = Checked(grainPercent, 0, 1000, L"SetBrushType の第 2 引数");
      seedOffset_ = static_cast<std::uint32_t>(seedOffset);
    });
  }

 protected:
  std::vector<DISPID> PersistedProperties() const override {
    return {3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 21, 22};
  }
  void ResetProperties() override {
    ResetShared();
    color_ = 0;
    txRatio_ = 50;
    contrast_ = hotX_ = hotY_ = sprayDensity_ = sprayType_ = 0;
    brLight_.reset();
    brTrans_.reset();
    txLight_.reset();
    txTrans_.reset();
    paper_ = {};
  }
  Settings StrokeSettings() const override {
    Settings st = PressureControl::StrokeSettings();
    st.medium = static_cast<Medium>(medium_);
    st.contrast = contrast_ / 100.0;
    st.grain = grainPercent_ == 0 ? 1.0 : grainPercent_ / 100.0;
    st.seed += seedOffset_;
    st.sprayDensity = sprayDensity_ == 0 ? 1.0 : sprayDensity_ / 10.0;
    st.speckled = sprayType_ == 1;
    if (!paper_.bgr.empty()) {
      st.paper = &paper_.surface;
      st.paperStrength = txRatio_ / 100.0;
    }
    return st;
  }
  int Offset(long v, bool horizontal) const override {
    return PressureControl::Offset(v + 4L * (horizontal ? hotX_ : hotY_), horizontal);
  }

 private:
  HRESULT Keep(ComPtr<IPictureDisp>& field, IPictureDisp* v) {
    field = v;
    return S_OK;
  }
  HRESULT SetPaper(IPictureDisp* v) {
    return Guard([&] {
      Pixels p;
      if (v && !ReadPicture(v, p)) throw Error("TxTransparencyBmp にはビットマップの画像を指定してください。", E_INVALIDARG);
      txTrans_ = v;
      paper_ = std::move(p);
    });
  }

  short medium_ = 0, txRatio_ = 50, contrast_ = 0, hotX_ = 0, hotY_ = 0, sprayDensity_ = 0, sprayType_ = 0;
  long grainPercent_ = 0;
  std::uint32_t seedOffset_ = 0;
  ComPtr<IPictureDisp> brLight_, brTrans_, txLight_, txTrans_;
  Pixels paper_;
};

// ---- the eraser ----

class Eraser final : public PressureControl<IZanPEraserCtl> {
 public:
  Eraser() : PressureControl(__uuidof(ZanPEraserCtl4), kEraserProgId) { ResetProperties(); }

  STDMETHODIMP get_TextureBitmap(IPictureDisp** v) override { return GetPicture(v, texturePicture_); }
  STDMETHODIMP put_TextureBitmap(IPictureDisp* v) override { return SetTexture(v); }
  STDMETHODIMP putref_TextureBitmap(IPictureDisp* v) override { return SetTexture(v); }
  STDMETHODIMP get_TilingPaint(long* v) override { return Get(v, tiling_); }
  STDMETHODIMP put_TilingPaint(long v) override {
    tiling_ = v;
    return S_OK;
  }

 protected:
  std::vector<DISPID> PersistedProperties() const override { return {1, 2, 4, 5, 6, 7, 8, 10, 11, 12, 13, 14}; }
  void ResetProperties() override {
    ResetShared();
    color_ = 0xFFFFFF;
    tiling_ = 1;
    texturePicture_.reset();
    texture_ = {};
  }
  Settings StrokeSettings() const override {
    Settings st = PressureControl::StrokeSettings();
    st.medium = Medium::Eraser;
    st.texture = texture_.bgr.empty() ? nullptr : &texture_.surface;
    st.tileTexture = tiling_ != 0;
    return st;
  }

 private:
  // The picture's pixels are read when it is given, so that erasing reads plain memory.
  HRESULT SetTexture(IPictureDisp* v) {
    return Guard([&] {
      Pixels p;
      if (v && !ReadPicture(v, p)) throw Error("TextureBitmap にはビットマップの画像を指定してください。", E_INVALIDARG);
      texturePicture_ = v;
      texture_ = std::move(p);
    });
  }

  long tiling_ = 1;
  ComPtr<IPictureDisp> texturePicture_;
  Pixels texture_;
};

}  // namespace

HRESULT CreateBrush(REFIID riid, void** ppv) {
  return zq::fw::CreateObject<Brush>(riid, ppv, __uuidof(IZanPBrushCtl), kBrushProgId);
}
HRESULT CreateEraser(REFIID riid, void** ppv) {
  return zq::fw::CreateObject<Eraser>(riid, ppv, __uuidof(IZanPEraserCtl), kEraserProgId);
}

}  // namespace zpb
