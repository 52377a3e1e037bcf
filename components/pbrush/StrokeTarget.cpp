#include "StrokeTarget.h"

#include <algorithm>
#include <cstring>

namespace zpb {

using zq::fw::Error;

namespace {


Rect Clip(Rect r, int w, int h) {
  r.left = std::max(r.left, 0);
  r.top = std::max(r.top, 0);
  r.right = std::min(r.right, w);
  r.bottom = std::min(r.bottom, h);
  return r;
}

}  // namespace

// A DIB section's rows may run either way, and GetObject does not tell which (it reports
// the height as positive for both). GDI does: compare what it reads at (0, 0) with the first
// and the last row of the memory, and where they look alike, change one bit and see which
// one GDI sees change.
bool StrokeTarget::OpenDirect(HBITMAP bitmap, HDC dc) {
  DIBSECTION ds{};
  if (GetObjectW(bitmap, sizeof ds, &ds) != sizeof ds || !ds.dsBm.bmBits || ds.dsBmih.biBitCount != 24 ||
      ds.dsBmih.biCompression != BI_RGB)
    return false;
  const int w = ds.dsBm.bmWidth, h = ds.dsBm.bmHeight < 0 ? -ds.dsBm.bmHeight : ds.dsBm.bmHeight;
  if (w <= 0 || h <= 0) return false;
  auto* bits = static_cast<std::uint8_t*>(ds.dsBm.bmBits);
  const std::size_t stride = zq::Bgr24Stride(w);
  std::uint8_t* first = bits;
  std::uint8_t* last = bits + stride * (h - 1);
  GdiFlush();
  auto rgb = [](const std::uint8_t* p) { return RGB(p[2], p[1], p[0]); };
  const COLORREF seen = GetPixel(dc, 0, 0);
  bool topDown;
  if (h == 1 || rgb(first) != rgb(last)) {
    topDown = seen == rgb(first);
    if (!topDown && seen != rgb(last)) return false;  // not the bitmap GDI draws on
  } else {
    first[0] ^= 1;
    GdiFlush();
    topDown = GetPixel(dc, 0, 0) != seen;
    first[0] ^= 1;
  }
  surface_.width = w;
  surface_.height = h;
  surface_.data = topDown ? first : last;
  surface_.stride = topDown ? static_cast<std::ptrdiff_t>(stride) : -static_cast<std::ptrdiff_t>(stride);
  direct_ = true;
  return true;
}

void StrokeTarget::OpenShadow(int w, int h) {
  if (!shadow_ || shadowW_ != w || shadowH_ != h) {
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    zq::fw::GdiObject<HBITMAP> dib(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!dib || !bits) throw std::bad_alloc();
    shadow_ = std::move(dib);
    shadowW_ = w;
    shadowH_ = h;
    surface_.data = static_cast<std::uint8_t*>(bits);
  }
  surface_.width = w;
  surface_.height = h;
  surface_.stride = static_cast<std::ptrdiff_t>(zq::Bgr24Stride(w));
  direct_ = false;
}

void StrokeTarget::Bind(HDC dc) {
  const DWORD type = dc ? GetObjectType(dc) : 0;
  if (type != OBJ_DC && type != OBJ_MEMDC) throw Error("the bitmap device context is not a device context", E_INVALIDARG);
  auto bitmap = static_cast<HBITMAP>(GetCurrentObject(dc, OBJ_BITMAP));
  DIBSECTION ds{};
  void* bits = bitmap && GetObjectW(bitmap, sizeof ds, &ds) == sizeof ds ? ds.dsBm.bmBits : nullptr;
  if (bitmap && bitmap == boundBitmap_ && bits == boundBits_ && direct_) return;  // as before
  boundBitmap_ = bitmap;
  boundBits_ = bits;
  if (bitmap && OpenDirect(bitmap, dc)) return;
  int w = 0, h = 0;
  BITMAP bm{};
  if (bitmap && GetObjectW(bitmap, sizeof bm, &bm) >= static_cast<int>(sizeof bm) && bm.bmWidth > 1) {
    w = bm.bmWidth;
    h = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
  } else {
    RECT clip{};
    GetClipBox(dc, &clip);
    w = clip.right;
    h = clip.bottom;
  }
  if (w <= 0 || h <= 0 || w > zq::kMaxImageSide || h > zq::kMaxImageSide) throw Error("the bitmap has no usable size", E_INVALIDARG);
  OpenShadow(w, h);
}

Rect StrokeTarget::Paint(HDC bitmapDC, HDC screenDC, Rect area, const std::function<Rect(const Surface&)>& paint) {
  area = Clip(area, surface_.width, surface_.height);
  Rect dirty;
  if (direct_) {
    GdiFlush();
    dirty = paint(surface_);
  } else {
    zq::fw::MemoryDC shadowDC(bitmapDC);
    zq::fw::SelectGuard sel(shadowDC.get(), shadow_.get());
    if (!area.Empty())
      BitBlt(shadowDC.get(), area.left, area.top, area.right - area.left, area.bottom - area.top, bitmapDC, area.left,
             area.top, SRCCOPY);
    GdiFlush();
    dirty = Clip(paint(surface_), surface_.width, surface_.height);
    if (!dirty.Empty())
      BitBlt(bitmapDC, dirty.left, dirty.top, dirty.right - dirty.left, dirty.bottom - dirty.top, shadowDC.get(),
             dirty.left, dirty.top, SRCCOPY);
  }
  dirty = Clip(dirty, surface_.width, surface_.height);
  if (screenDC && !dirty.Empty())
    BitBlt(screenDC, dirty.left, dirty.top, dirty.right - dirty.left, dirty.bottom - dirty.top, bitmapDC, dirty.left,
           dirty.top, SRCCOPY);
  return dirty;
}

}  // namespace zpb
