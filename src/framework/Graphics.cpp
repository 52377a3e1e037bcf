// Canvas, Bitmap and Picture on GDI.
//
// Pixel format of Bitmap: a bottom-up 24-bit DIB section, three bytes per pixel (blue, green,
// red), rows padded to four bytes. A bitmap can be selected into one device context only, so
// everything that reads or writes a bitmap through GDI goes through its own canvas.
#include "Graphics.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace zq::fw {

void CheckWin32(bool ok, const char* what) {
  if (!ok) {
    const DWORD code = GetLastError();
    throw Error(std::string(what) + " failed (error " + std::to_string(code) + ")", static_cast<long>(code));
  }
}

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

FontState DefaultFont() {
  FontState f;
  if (GetACP() == 932) {
    f.face = L"ＭＳ Ｐゴシック";
    f.charset = SHIFTJIS_CHARSET;
    f.height = -12;  // 9 points at 96 dpi
  } else {
    f.face = L"MS Sans Serif";
    f.charset = DEFAULT_CHARSET;
    f.height = -11;  // 8 points
  }
  return f;
}

namespace {


BITMAPINFO Info24(int width, int height) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = height;  // bottom-up
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  bi.bmiHeader.biCompression = BI_RGB;
  return bi;
}

GdiObject<HBITMAP> NewSection(int width, int height, void** bits) {
  if (width < 0 || height < 0 || width > kMaxImageSide || height > kMaxImageSide)
    throw Error("bitmap size out of range");
  BITMAPINFO bi = Info24(width, height);
  GdiObject<HBITMAP> dib(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, bits, nullptr, 0));
  if (!dib || !*bits) throw std::bad_alloc();
  return dib;
}

}  // namespace

// ---- Canvas ----

namespace {
std::atomic<long> g_openCanvasHandles{0};
std::atomic<long> g_liveBitmaps{0};
}  // namespace

void Canvas::CountHandle(int delta) { g_openCanvasHandles += delta; }
long Canvas::OpenHandles() { return g_openCanvasHandles.load(); }
long Bitmap::LiveCount() { return g_liveBitmaps.load(); }

// Canvases are made per pointer event: making one allocates nothing and makes no system
// object (the lock is a slim reader/writer lock, which needs neither).
Canvas::Canvas() = default;

Canvas::Canvas(HDC borrowed) : dc_(borrowed) {}

Canvas::Canvas(HDC borrowed, PassThrough) : dc_(borrowed), font_{} {}

Canvas::~Canvas() { DetachHandle(); }

HDC Canvas::Handle() {
  if (!dc_) dc_ = CreateHandle();
  if (!dc_) throw Error("the canvas has no device context");
  Prepare();
  return dc_;
}

// Reentrant: the owning thread only counts; another thread waits for the lock.
void Canvas::Lock() {
  const DWORD me = GetCurrentThreadId();
  if (owner_.load(std::memory_order_relaxed) != me) {
    AcquireSRWLockExclusive(&lock_);
    owner_.store(me, std::memory_order_relaxed);
  }
  ++lockCount_;
}

void Canvas::Unlock() {
  if (--lockCount_ == 0) {
    owner_.store(0, std::memory_order_relaxed);
    ReleaseSRWLockExclusive(&lock_);
  }
}

HDC Canvas::DetachHandle() {
  HDC dc = dc_;
  if (dc) RestoreSelection();
  dc_ = nullptr;
  return dc;
}

void Canvas::RestoreSelection() {
  if (oldPen_) SelectObject(dc_, oldPen_);
  if (oldBrush_) SelectObject(dc_, oldBrush_);
  if (oldFont_) SelectObject(dc_, oldFont_);
  oldPen_ = oldBrush_ = oldFont_ = nullptr;
  penObj_.reset();
  brushObj_.reset();
  fontObj_.reset();
}

// Makes and selects the GDI objects of settings that changed since the last call.
void Canvas::Prepare() {
  if (!penObj_ || !(pen_ == selPen_)) {
    // A dotted pen wider than one pixel would be drawn solid: dots are always one pixel.
    const bool dotted = pen_.style == PenStyle::Dot;
    HPEN p = CreatePen(dotted ? PS_DOT : PS_SOLID, dotted ? 1 : std::max(pen_.width, 0), Resolve(pen_.color));
    CheckWin32(p != nullptr, "CreatePen");
    HGDIOBJ old = SelectObject(dc_, p);
    if (!oldPen_) oldPen_ = old;
    penObj_.reset(p);
    selPen_ = pen_;
  }
  SetROP2(dc_, pen_.mode == PenMode::Xor ? R2_XORPEN : R2_COPYPEN);
  if (!brushObj_ || !(brush_ == selBrush_)) {
    HBRUSH b = brush_.style == BrushStyle::Clear ? static_cast<HBRUSH>(GetStockObject(NULL_BRUSH))
                                                 : CreateSolidBrush(Resolve(brush_.color));
    CheckWin32(b != nullptr, "CreateSolidBrush");
    HGDIOBJ old = SelectObject(dc_, b);
    if (!oldBrush_) oldBrush_ = old;
    // Stock objects need no deleting; DeleteObject ignores them.
    brushObj_.reset(b);
    selBrush_ = brush_;
  }
  SetBkMode(dc_, brush_.style == BrushStyle::Clear ? TRANSPARENT : OPAQUE);
  SetBkColor(dc_, Resolve(brush_.color));
  if (!fontObj_ || !(font_ == selFont_)) {
    LOGFONTW lf{};
    lf.lfHeight = font_.height;
    lf.lfCharSet = font_.charset;
    lf.lfQuality = DEFAULT_QUALITY;
    wcsncpy(lf.lfFaceName, font_.face.c_str(), LF_FACESIZE - 1);
    HFONT f = CreateFontIndirectW(&lf);
    CheckWin32(f != nullptr, "CreateFontIndirect");
    HGDIOBJ old = SelectObject(dc_, f);
    if (!oldFont_) oldFont_ = old;
    fontObj_.reset(f);
    selFont_ = font_;
  }
  SetTextColor(dc_, Resolve(font_.color));
}

void Canvas::MoveTo(int x, int y) { MoveToEx(Handle(), x, y, nullptr); }
void Canvas::LineTo(int x, int y) { ::LineTo(Handle(), x, y); }
void Canvas::Rectangle(int l, int t, int r, int b) { ::Rectangle(Handle(), l, t, r, b); }
void Canvas::RoundRect(int l, int t, int r, int b, int w, int h) { ::RoundRect(Handle(), l, t, r, b, w, h); }
void Canvas::Ellipse(int l, int t, int r, int b) { ::Ellipse(Handle(), l, t, r, b); }

void Canvas::Polygon(const std::vector<POINT>& points) {
  if (!points.empty()) ::Polygon(Handle(), points.data(), static_cast<int>(points.size()));
}

void Canvas::FillRect(const RECT& rect) {
  HDC dc = Handle();
  if (brush_.style == BrushStyle::Clear) return;
  ::FillRect(dc, &rect, brushObj_.get());
}

void Canvas::FillWhite(const RECT& r) {
  PatBlt(Handle(), r.left, r.top, r.right - r.left, r.bottom - r.top, WHITENESS);
}

Color Canvas::Pixel(int x, int y) { return SurfaceEmpty() ? CLR_INVALID : GetPixel(Handle(), x, y); }
void Canvas::SetPixel(int x, int y, Color c) { SetPixelV(Handle(), x, y, Resolve(c)); }

SIZE Canvas::TextExtent(const std::wstring& text) {
  SIZE s{};
  GetTextExtentPoint32W(Handle(), text.c_str(), static_cast<int>(text.size()), &s);
  return s;
}

void Canvas::TextOut(int x, int y, const std::wstring& text) {
  ExtTextOutW(Handle(), x, y, 0, nullptr, text.c_str(), static_cast<UINT>(text.size()), nullptr);
}

void Canvas::Draw(int x, int y, Bitmap& source) {
  if (source.Empty()) return;
  HDC dest = Handle();
  BitBlt(dest, x, y, source.Width(), source.Height(), source.GetCanvas().Handle(), 0, 0, SRCCOPY);
}

void Canvas::CopyRect(const RECT& d, Canvas& source, const RECT& s) {
  HDC dest = Handle();
  HDC src = source.Handle();
  SetStretchBltMode(dest, COLORONCOLOR);
  StretchBlt(dest, d.left, d.top, d.right - d.left, d.bottom - d.top, src, s.left, s.top,
             s.right - s.left, s.bottom - s.top, SRCCOPY);
}

// ---- Bitmap ----

// The canvas of a bitmap: a memory device context made on demand with the section selected.
class Bitmap::BitmapCanvas final : public Canvas {
 public:
  explicit BitmapCanvas(Bitmap& owner) : owner_(owner) {}
  ~BitmapCanvas() override { FreeHandle(); }
  BitmapCanvas(const BitmapCanvas&) = delete;
  BitmapCanvas& operator=(const BitmapCanvas&) = delete;

  void FreeHandle() {
    HDC dc = DetachHandle();
    if (!dc) return;
    if (oldBitmap_) SelectObject(dc, oldBitmap_);
    oldBitmap_ = nullptr;
    memoryDc_.reset();
    CountHandle(-1);
  }
  // The section changed: select the new one if there is a device context.
  void Reselect(HDC dc) {
    if (!dc) return;
    HGDIOBJ old = SelectObject(dc, owner_.dib_ ? static_cast<HGDIOBJ>(owner_.dib_.get()) : oldBitmap_);
    if (!oldBitmap_) oldBitmap_ = old;
  }

 protected:
  bool SurfaceEmpty() const override { return owner_.Empty(); }
  HDC CreateHandle() override {
    memoryDc_.reset(CreateCompatibleDC(nullptr));
    CheckWin32(static_cast<bool>(memoryDc_), "CreateCompatibleDC");
    CountHandle(1);
    if (owner_.dib_) oldBitmap_ = SelectObject(memoryDc_.get(), owner_.dib_.get());
    return memoryDc_.get();
  }

 private:
  Bitmap& owner_;
  OwnedHandle<HDC, &DeleteDC> memoryDc_;  // the canvas's handle while it has one
  HGDIOBJ oldBitmap_ = nullptr;
};

Bitmap::Bitmap() : canvas_(std::make_unique<BitmapCanvas>(*this)) { ++g_liveBitmaps; }

Bitmap::Bitmap(int width, int height) : Bitmap() { SetSize(width, height); }

Bitmap::~Bitmap() {
  canvas_.reset();
  --g_liveBitmaps;
}

Canvas& Bitmap::GetCanvas() { return *canvas_; }

int Bitmap::BitsPerPixel() const {
  if (!dib_) return 0;
  BITMAP bm{};
  GetObjectW(dib_.get(), sizeof bm, &bm);
  return bm.bmBitsPixel;
}

void Bitmap::Replace(GdiObject<HBITMAP> dib, void* bits, int w, int h) {
  // The canvas's device context may hold the old section, which cannot be deleted while it
  // is selected: select the new one first, then let the old one go.
  HDC dc = canvas_->HandleAllocated() ? canvas_->Handle() : nullptr;
  GdiObject<HBITMAP> old = std::move(dib_);
  dib_ = std::move(dib);
  bits_ = bits;
  width_ = w;
  height_ = h;
  canvas_->Reselect(dc);
}

void Bitmap::SetSize(int w, int h) { Apply(PrepareSize(w, h)); }

Bitmap::PreparedSize Bitmap::PrepareSize(int w, int h) const {
  PreparedSize p;
  if (w == width_ && h == height_) return p;
  if (w < 0 || h < 0 || w > kMaxImageSide || h > kMaxImageSide) throw Error("bitmap size out of range");
  p.change_ = true;
  p.width_ = w;
  p.height_ = h;
  if (w == 0 || h == 0) return p;
  p.dib_ = NewSection(w, h, &p.bits_);
  MemoryDC dc;
  SelectGuard sel(dc.get(), p.dib_.get());
  GdiObject<HBRUSH> fill(CreateSolidBrush(Resolve(canvas_->Brush().color)));
  RECT all{0, 0, w, h};
  ::FillRect(dc.get(), &all, fill.get());
  if (dib_) BitBlt(dc.get(), 0, 0, std::min(w, width_), std::min(h, height_), canvas_->Handle(), 0, 0, SRCCOPY);
  return p;
}

void Bitmap::Apply(PreparedSize&& p) noexcept {
  if (!p.change_) return;
  if (!p.dib_) {
    canvas_->FreeHandle();
    dib_.reset();
    bits_ = nullptr;
    width_ = p.width_;
    height_ = p.height_;
    return;
  }
  Replace(std::move(p.dib_), p.bits_, p.width_, p.height_);
  p.change_ = false;
}

std::size_t Bitmap::ByteSize() const {
  if (!dib_) return 0;
  DIBSECTION ds{};
  if (GetObjectW(dib_.get(), sizeof ds, &ds) != sizeof ds) return 0;
  return static_cast<std::size_t>(ds.dsBm.bmWidthBytes) * static_cast<std::size_t>(std::abs(ds.dsBm.bmHeight));
}

void Bitmap::SetPixelFormat24() {
  if (!dib_ || BitsPerPixel() == 24) return;
  void* bits = nullptr;
  GdiObject<HBITMAP> dib = NewSection(width_, height_, &bits);
  {
    MemoryDC dc;
    SelectGuard sel(dc.get(), dib.get());
    BitBlt(dc.get(), 0, 0, width_, height_, canvas_->Handle(), 0, 0, SRCCOPY);
  }
  Replace(std::move(dib), bits, width_, height_);
}

HBITMAP Bitmap::ReleaseHandle() {
  canvas_->FreeHandle();
  HBITMAP h = dib_.release();
  bits_ = nullptr;
  width_ = height_ = 0;
  return h;
}

void Bitmap::Adopt(HBITMAP bitmap) {
  BITMAP bm{};
  CheckWin32(bitmap && GetObjectW(bitmap, sizeof bm, &bm) >= static_cast<int>(sizeof bm), "GetObject");
  DIBSECTION ds{};
  void* bits = GetObjectW(bitmap, sizeof ds, &ds) == sizeof ds ? ds.dsBm.bmBits : nullptr;
  Replace(GdiObject<HBITMAP>(bitmap), bits, bm.bmWidth, bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight);
}

void Bitmap::Dormant() { canvas_->FreeHandle(); }

zq::Bgr24View Bitmap::View() {
  if (!bits_ || width_ <= 0 || height_ <= 0) return {};
  GdiFlush();  // what GDI drew is in the bits
  const auto stride = static_cast<std::ptrdiff_t>(zq::Bgr24Stride(width_));
  return {static_cast<std::uint8_t*>(bits_) + stride * (height_ - 1), -stride, width_, height_};
}

void Bitmap::Assign(const Bitmap& other) {
  if (&other == this) return;
  if (other.Empty()) {
    SetSize(0, 0);
    return;
  }
  void* bits = nullptr;
  GdiObject<HBITMAP> dib = NewSection(other.width_, other.height_, &bits);
  {
    MemoryDC dc;
    SelectGuard sel(dc.get(), dib.get());
    BitBlt(dc.get(), 0, 0, other.width_, other.height_, other.canvas_->Handle(), 0, 0, SRCCOPY);
  }
  Replace(std::move(dib), bits, other.width_, other.height_);
}

void Bitmap::CopyPixels(const Bitmap& other) {
  if (&other == this) return;
  if (other.Empty() || other.BitsPerPixel() != 24 || (!Empty() && BitsPerPixel() != 24)) {
    Assign(other);
    return;
  }
  if (width_ != other.width_ || height_ != other.height_) {
    void* bits = nullptr;
    GdiObject<HBITMAP> dib = NewSection(other.width_, other.height_, &bits);
    Replace(std::move(dib), bits, other.width_, other.height_);
  }
  GdiFlush();  // what GDI drew on either is in their memory
  std::memcpy(bits_, other.bits_, ByteSize());
}

void Bitmap::LoadFromFile(const std::wstring& path) {
  GdiObject<HBITMAP> loaded(static_cast<HBITMAP>(
      LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION)));
  if (!loaded) throw Error("cannot read the bitmap file " + Narrow(path), static_cast<long>(GetLastError()));
  BITMAP bm{};
  GetObjectW(loaded.get(), sizeof bm, &bm);
  const int w = bm.bmWidth, h = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
  void* bits = nullptr;
  GdiObject<HBITMAP> dib = NewSection(w, h, &bits);
  {
    MemoryDC src, dst;
    SelectGuard s(src.get(), loaded.get());
    SelectGuard d(dst.get(), dib.get());
    BitBlt(dst.get(), 0, 0, w, h, src.get(), 0, 0, SRCCOPY);
  }
  Replace(std::move(dib), bits, w, h);
}

void Bitmap::LoadFromResource(HINSTANCE module, const wchar_t* name) {
  GdiObject<HBITMAP> loaded(static_cast<HBITMAP>(LoadImageW(module, name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  if (!loaded) throw Error("missing bitmap resource " + Narrow(name));
  BITMAP bm{};
  GetObjectW(loaded.get(), sizeof bm, &bm);
  void* bits = nullptr;
  GdiObject<HBITMAP> dib = NewSection(bm.bmWidth, bm.bmHeight, &bits);
  {
    MemoryDC src, dst;
    SelectGuard s(src.get(), loaded.get());
    SelectGuard d(dst.get(), dib.get());
    BitBlt(dst.get(), 0, 0, bm.bmWidth, bm.bmHeight, src.get(), 0, 0, SRCCOPY);
  }
  Replace(std::move(dib), bits, bm.bmWidth, bm.bmHeight);
}

std::vector<std::uint8_t> Bitmap::ToBmp() const {
  const std::size_t stride = zq::Bgr24Stride(width_);
  const std::size_t image = stride * static_cast<std::size_t>(height_);
  BITMAPFILEHEADER fh{};
  BITMAPINFOHEADER ih = Info24(width_, height_).bmiHeader;
  ih.biSizeImage = static_cast<DWORD>(image);
  fh.bfType = 0x4D42;  // "BM"
  fh.bfOffBits = sizeof fh + sizeof ih;
  fh.bfSize = static_cast<DWORD>(fh.bfOffBits + image);
  std::vector<std::uint8_t> out(fh.bfOffBits + image);
  std::memcpy(out.data(), &fh, sizeof fh);
  std::memcpy(out.data() + sizeof fh, &ih, sizeof ih);
  GdiFlush();
  if (image) std::memcpy(out.data() + fh.bfOffBits, bits_, image);
  return out;
}

void Bitmap::FromBmp(const std::vector<std::uint8_t>& bmp) {
  BITMAPFILEHEADER fh{};
  BITMAPINFOHEADER ih{};
  if (bmp.size() < sizeof fh + sizeof ih) throw Error("not a bitmap");
  std::memcpy(&fh, bmp.data(), sizeof fh);
  std::memcpy(&ih, bmp.data() + sizeof fh, sizeof ih);
  if (fh.bfType != 0x4D42 || ih.biSize < sizeof ih || ih.biBitCount != 24 || ih.biCompression != BI_RGB ||
      ih.biPlanes != 1 || ih.biWidth < 0 || ih.biWidth > kMaxImageSide || ih.biHeight < -kMaxImageSide ||
      ih.biHeight > kMaxImageSide)
    throw Error("not a 24-bit bitmap of an allowed size");
  const int w = ih.biWidth, h = ih.biHeight < 0 ? -ih.biHeight : ih.biHeight;
  if (w > 0 && h > 0 && !ImageSizeAllowed(w, h)) throw Error("the bitmap is too large");
  const std::size_t stride = zq::Bgr24Stride(w), image = stride * static_cast<std::size_t>(h);
  if (fh.bfOffBits < sizeof fh + ih.biSize || fh.bfOffBits > bmp.size() || bmp.size() - fh.bfOffBits < image)
    throw Error("the bitmap is cut short");
  if (w == 0 || h == 0) {
    SetSize(0, 0);
    return;
  }
  void* bits = nullptr;
  GdiObject<HBITMAP> dib = NewSection(w, h, &bits);
  const std::uint8_t* src = bmp.data() + fh.bfOffBits;
  if (ih.biHeight > 0) {
    std::memcpy(bits, src, image);  // bottom-up, as the section is
  } else {
    for (int y = 0; y < h; ++y)
      std::memcpy(static_cast<std::uint8_t*>(bits) + stride * static_cast<std::size_t>(h - 1 - y), src + stride * y, stride);
  }
  Replace(std::move(dib), bits, w, h);
}

void Bitmap::SaveToFile(const std::wstring& path) const {
  const std::vector<std::uint8_t> bmp = ToBmp();
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) throw Error("cannot create " + Narrow(path), static_cast<long>(GetLastError()));
  DWORD done = 0;
  const bool ok = WriteFile(f, bmp.data(), static_cast<DWORD>(bmp.size()), &done, nullptr) && done == bmp.size();
  CloseHandle(f);
  if (!ok) throw Error("cannot write " + Narrow(path));
}

// ---- Picture ----

Picture::~Picture() { Clear(); }

Bitmap& Picture::GetBitmap() {
  if (!bitmap_) {
    Clear();
    bitmap_ = std::make_unique<Bitmap>();
  }
  return *bitmap_;
}

int Picture::Width() const {
  return icon_ ? iconSize_ : alpha_ ? alphaSize_.cx : bitmap_ ? bitmap_->Width() : 0;
}
int Picture::Height() const {
  return icon_ ? iconSize_ : alpha_ ? alphaSize_.cy : bitmap_ ? bitmap_->Height() : 0;
}

void Picture::Clear() {
  bitmap_.reset();
  alpha_.reset();
  alphaSize_ = {0, 0};
  icon_.reset();
  iconSize_ = 0;
}

void Picture::Assign(const Picture& other) {
  if (&other == this) return;
  if (other.alpha_) {
    GdiObject<HBITMAP> copy(static_cast<HBITMAP>(CopyImage(other.alpha_.get(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    CheckWin32(static_cast<bool>(copy), "CopyImage");
    Clear();
    alpha_ = std::move(copy);
    alphaSize_ = other.alphaSize_;
  } else if (other.icon_) {
    IconHandle copy(CopyIcon(other.icon_.get()));
    CheckWin32(static_cast<bool>(copy), "CopyIcon");
    Clear();
    icon_ = std::move(copy);
    iconSize_ = other.iconSize_;
  } else if (other.bitmap_) {
    AssignBitmap(*other.bitmap_);
  } else {
    Clear();
  }
}

void Picture::AssignBitmap(const Bitmap& bitmap) {
  auto copy = std::make_unique<Bitmap>();
  copy->Assign(bitmap);
  Clear();
  bitmap_ = std::move(copy);
}

void Picture::LoadIconResource(HINSTANCE module, const wchar_t* name, int size) {
  IconHandle icon(static_cast<HICON>(LoadImageW(module, name, IMAGE_ICON, size, size, 0)));
  if (!icon) throw Error("missing icon resource " + Narrow(name));
  Clear();
  icon_ = std::move(icon);
  iconSize_ = size;
}

void Picture::LoadAlphaResource(HINSTANCE module, const wchar_t* name) {
  GdiObject<HBITMAP> b(static_cast<HBITMAP>(LoadImageW(module, name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  if (!b) throw Error("missing bitmap resource " + Narrow(name));
  BITMAP bm{};
  GetObjectW(b.get(), sizeof bm, &bm);
  if (bm.bmBitsPixel != 32) throw Error("bitmap resource " + Narrow(name) + " has no alpha");
  Clear();
  alpha_ = std::move(b);
  alphaSize_ = {bm.bmWidth, bm.bmHeight};
}

void Picture::DrawPart(HDC dc, int x, int y, int sx, int sy, int w, int h, bool transparent) const {
  if (alpha_) {
    MemoryDC src;
    SelectGuard sel(src.get(), alpha_.get());
    const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    GdiAlphaBlend(dc, x, y, w, h, src.get(), sx, sy, w, h, blend);
  } else if (bitmap_ && !bitmap_->Empty()) {
    Bitmap part(w, h);
    BitBlt(part.GetCanvas().Handle(), 0, 0, w, h, bitmap_->GetCanvas().Handle(), sx, sy, SRCCOPY);
    if (transparent)
      DrawTransparent(dc, x, y, part, bitmap_->GetCanvas().Pixel(0, bitmap_->Height() - 1));
    else
      BitBlt(dc, x, y, w, h, part.GetCanvas().Handle(), 0, 0, SRCCOPY);
  } else if (icon_) {
    Draw(dc, x - sx, y - sy, transparent);
  }
}

void Picture::Draw(HDC dc, int x, int y, bool transparent) const {
  if (alpha_) {
    DrawPart(dc, x, y, 0, 0, alphaSize_.cx, alphaSize_.cy, transparent);
  } else if (icon_) {
    DrawIconEx(dc, x, y, icon_.get(), iconSize_, iconSize_, 0, nullptr, DI_NORMAL);
  } else if (bitmap_ && !bitmap_->Empty()) {
    Bitmap& b = *bitmap_;
    if (transparent)
      DrawTransparent(dc, x, y, b, b.GetCanvas().Pixel(0, b.Height() - 1));
    else
      BitBlt(dc, x, y, b.Width(), b.Height(), b.GetCanvas().Handle(), 0, 0, SRCCOPY);
  }
}

void DrawTransparent(HDC dc, int x, int y, Bitmap& bitmap, Color key) {
  // A monochrome mask (1 where the key colour is) built by GDI's colour-to-mono conversion.
  const int w = bitmap.Width(), h = bitmap.Height();
  HDC src = bitmap.GetCanvas().Handle();
  MemoryDC maskDC;
  GdiObject<HBITMAP> mask(CreateBitmap(w, h, 1, 1, nullptr));
  SelectGuard sel(maskDC.get(), mask.get());
  const COLORREF oldBk = SetBkColor(src, key);
  BitBlt(maskDC.get(), 0, 0, w, h, src, 0, 0, SRCCOPY);
  SetBkColor(src, oldBk);
  const COLORREF oldText = SetTextColor(dc, RGB(0, 0, 0));
  const COLORREF oldDestBk = SetBkColor(dc, RGB(255, 255, 255));
  // dest = (dest AND mask) OR (src AND NOT mask)
  MemoryDC tmpDC;
  GdiObject<HBITMAP> tmp(CreateCompatibleBitmap(dc, w, h));
  SelectGuard tsel(tmpDC.get(), tmp.get());
  BitBlt(tmpDC.get(), 0, 0, w, h, src, 0, 0, SRCCOPY);
  SetTextColor(tmpDC.get(), RGB(255, 255, 255));
  SetBkColor(tmpDC.get(), RGB(0, 0, 0));
  BitBlt(tmpDC.get(), 0, 0, w, h, maskDC.get(), 0, 0, SRCAND);  // key pixels become black
  BitBlt(dc, x, y, w, h, maskDC.get(), 0, 0, SRCAND);           // keep dest where key
  BitBlt(dc, x, y, w, h, tmpDC.get(), 0, 0, SRCPAINT);
  SetTextColor(dc, oldText);
  SetBkColor(dc, oldDestBk);
}

}  // namespace zq::fw
