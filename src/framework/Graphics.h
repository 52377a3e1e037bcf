// Canvases, bitmaps and pictures.
//
// A Canvas draws with a pen, a brush and a font whose settings are plain values; the GDI
// objects behind them are made when a drawing call needs them and the settings changed.
// A Bitmap is a 24-bit device-independent section (bottom-up rows, blue, green, red, rows
// padded to four bytes) with a canvas of its own; resizing keeps the pixels at the top-left
// corner and fills what it adds with the canvas's brush colour. A Picture holds a bitmap or
// an icon and can be assigned and copied.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "Gdi.h"
#include "Pixels.h"

namespace zq::fw {

enum class PenStyle { Solid, Dot };
enum class PenMode { Copy, Xor };
enum class BrushStyle { Solid, Clear };

struct PenState {
  PenStyle style = PenStyle::Solid;
  PenMode mode = PenMode::Copy;
  int width = 1;
  Color color = kBlack;
  bool operator==(const PenState&) const = default;
};

struct BrushState {
  BrushStyle style = BrushStyle::Solid;
  Color color = kWhite;
  bool operator==(const BrushState&) const = default;
};

// height > 0: the character cell is that many pixels high; height < 0: the characters are.
struct FontState {
  std::wstring face;
  int height = 0;
  BYTE charset = DEFAULT_CHARSET;
  Color color = kBlack;
  bool operator==(const FontState&) const = default;
};

// The default font: "ＭＳ Ｐゴシック" 9 points in Shift-JIS on a Japanese system, else
// "MS Sans Serif" 8 points.
FontState DefaultFont();

class Bitmap;

class Canvas {
 public:
  // A canvas on a device context that someone else owns (a window's, say).
  explicit Canvas(HDC borrowed);
  // A canvas that only hands a borrowed device context on (and is locked around that):
  // made without allocating anything, with the system's font until one is set.
  enum PassThrough { kPassThrough };
  Canvas(HDC borrowed, PassThrough);
  virtual ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  // The device context, with the current pen, brush and font selected.
  HDC Handle();
  bool HandleAllocated() const { return dc_ != nullptr; }

  PenState& Pen() { return pen_; }
  BrushState& Brush() { return brush_; }
  FontState& Font() { return font_; }

  // The per-canvas lock. Reentrant: the thread that holds it may take it again.
  void Lock();
  void Unlock();
  int LockCount() const { return lockCount_; }
  // How many device contexts of bitmap canvases are open in the process now.
  static long OpenHandles();

  void MoveTo(int x, int y);
  void LineTo(int x, int y);
  void Rectangle(int left, int top, int right, int bottom);
  void RoundRect(int left, int top, int right, int bottom, int ellipseWidth, int ellipseHeight);
  void Ellipse(int left, int top, int right, int bottom);
  void Polygon(const std::vector<POINT>& points);
  void FillRect(const RECT& rect);  // with the brush
  void FillWhite(const RECT& rect);  // sets every pixel white, no brush
  // The pixel's colour, or CLR_INVALID (0xFFFFFFFF) outside the drawing surface.
  Color Pixel(int x, int y);
  void SetPixel(int x, int y, Color c);
  SIZE TextExtent(const std::wstring& text);
  // Draws text with its top-left corner at (x, y), without background when the brush is clear.
  void TextOut(int x, int y, const std::wstring& text);
  // Copies the whole of `source` one to one with its top-left corner at (x, y).
  void Draw(int x, int y, Bitmap& source);
  void CopyRect(const RECT& dest, Canvas& source, const RECT& sourceRect);

 protected:
  Canvas();
  // Bitmap canvases make their device context here; a borrowed one never needs it.
  virtual HDC CreateHandle() { return nullptr; }
  // Counts a device context that a bitmap canvas opened (+1) or closed (-1).
  static void CountHandle(int delta);
  // An empty bitmap has no pixels to read.
  virtual bool SurfaceEmpty() const { return false; }
  // Deselects our objects and forgets the device context (it is deleted by the caller).
  HDC DetachHandle();

 private:
  void Prepare();
  void RestoreSelection();

  HDC dc_ = nullptr;
  PenState pen_;
  BrushState brush_;
  FontState font_ = DefaultFont();
  // What is selected into dc_ now, and the objects made for it.
  PenState selPen_;
  BrushState selBrush_;
  FontState selFont_;
  GdiObject<HPEN> penObj_;
  GdiObject<HBRUSH> brushObj_;
  GdiObject<HFONT> fontObj_;
  HGDIOBJ oldPen_ = nullptr, oldBrush_ = nullptr, oldFont_ = nullptr;
  SRWLOCK lock_ = SRWLOCK_INIT;
  std::atomic<DWORD> owner_{0};  // the thread that holds the lock, or 0
  int lockCount_ = 0;
};

// Holds a canvas lock for a scope.
class CanvasLock {
 public:
  explicit CanvasLock(Canvas& c) : c_(c) { c_.Lock(); }
  ~CanvasLock() { c_.Unlock(); }
  CanvasLock(const CanvasLock&) = delete;
  CanvasLock& operator=(const CanvasLock&) = delete;

 private:
  Canvas& c_;
};

class Bitmap {
 public:
  // Width and height at most zq::kMaxImageSide (Pixels.h); larger sizes are refused with
  // Error.

  Bitmap();
  Bitmap(int width, int height);
  ~Bitmap();
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }
  // Changes the size, keeping the pixels at the top-left corner; what is added takes the
  // canvas's brush colour. On failure (no memory, a size out of range) nothing changes.
  void SetWidth(int w) { SetSize(w, height_); }
  void SetHeight(int h) { SetSize(width_, h); }
  void SetSize(int w, int h);

  // A change of size made in two steps, for changing several bitmaps together: Prepare
  // makes the new section with the pixels it will hold (and may fail, changing nothing);
  // Apply puts it in place and cannot fail. Drawing on the bitmap in between is lost.
  class PreparedSize {
   public:
    PreparedSize() = default;
    PreparedSize(PreparedSize&&) noexcept = default;
    PreparedSize& operator=(PreparedSize&&) noexcept = default;

   private:
    friend class Bitmap;
    GdiObject<HBITMAP> dib_;
    void* bits_ = nullptr;
    int width_ = 0, height_ = 0;
    bool change_ = false;
  };
  PreparedSize PrepareSize(int w, int h) const;
  void Apply(PreparedSize&& prepared) noexcept;
  // Bytes of pixel memory the section holds (rows padded to four bytes).
  std::size_t ByteSize() const;
  // How many bitmaps exist in the process now.
  static long LiveCount();

  // Bits per pixel of the section (24 unless a foreign section was adopted); 0 when empty.
  int BitsPerPixel() const;
  // Makes the bitmap 24 bits per pixel, converting a foreign section.
  void SetPixelFormat24();

  Canvas& GetCanvas();
  // The section's handle; null when empty. The bitmap keeps owning it.
  HBITMAP Handle() const { return dib_.get(); }
  // Hands the section to the caller, who then owns it; the bitmap becomes empty.
  HBITMAP ReleaseHandle();
  // Takes over a bitmap handle (any kind); the bitmap owns it from now on.
  void Adopt(HBITMAP bitmap);
  // Releases the device context, keeping the pixels.
  void Dormant();

  // The pixels, rows top to bottom (the section is bottom-up, so the stride is negative);
  // empty for an empty bitmap. Valid until the bitmap changes size.
  zq::Bgr24View View();

  // Becomes a copy of `other` (size and pixels).
  void Assign(const Bitmap& other);
  // Takes the size and pixels of `other` by copying the section's memory (both 24 bits per
  // pixel), keeping its own section when the size is already the same: no device context is
  // made or kept. A bitmap of another pixel format is copied as Assign does.
  void CopyPixels(const Bitmap& other);
  // Reads a BMP file in any variant the platform reads, as 24 bits per pixel. Throws Error.
  void LoadFromFile(const std::wstring& path);
  // Writes a 24-bit uncompressed BMP file. Throws Error.
  void SaveToFile(const std::wstring& path) const;
  // The same BMP file in memory, and back: reading takes only a 24-bit uncompressed BMP of
  // an allowed size whose parts all agree (else Error, and nothing changes).
  std::vector<std::uint8_t> ToBmp() const;
  void FromBmp(const std::vector<std::uint8_t>& bmp);
  void LoadFromResource(HINSTANCE module, const wchar_t* name);

 private:
  class BitmapCanvas;
  friend class BitmapCanvas;
  void Replace(GdiObject<HBITMAP> dib, void* bits, int w, int h);

  GdiObject<HBITMAP> dib_;
  void* bits_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  std::unique_ptr<BitmapCanvas> canvas_;
};

// A bitmap, an icon or a picture with per-pixel alpha (a 32-bit premultiplied section, for
// the control's own antialiased glyphs), as an image control shows it.
class Picture {
 public:
  Picture() = default;
  ~Picture();
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;

  // The bitmap, made (empty) when the picture holds none.
  Bitmap& GetBitmap();
  bool HasBitmap() const { return bitmap_ != nullptr; }
  bool HasIcon() const { return static_cast<bool>(icon_); }
  bool HasAlpha() const { return static_cast<bool>(alpha_); }
  bool Empty() const { return !icon_ && !alpha_ && (!bitmap_ || bitmap_->Empty()); }
  int Width() const;
  int Height() const;

  // Copies the other picture's bitmap or icon.
  void Assign(const Picture& other);
  void AssignBitmap(const Bitmap& bitmap);
  void Clear();
  void LoadIconResource(HINSTANCE module, const wchar_t* name, int size);
  // A 32-bit bitmap resource whose pixels are premultiplied blue, green, red and alpha.
  void LoadAlphaResource(HINSTANCE module, const wchar_t* name);

  // Draws at (x, y). Transparent: the colour of the bitmap's bottom-left pixel is not drawn.
  void Draw(HDC dc, int x, int y, bool transparent) const;
  // Draws the part (sx, sy, w, h) of the picture at (x, y), blending alpha pictures.
  void DrawPart(HDC dc, int x, int y, int sx, int sy, int w, int h, bool transparent) const;

 private:
  std::unique_ptr<Bitmap> bitmap_;
  IconHandle icon_;
  int iconSize_ = 0;
  GdiObject<HBITMAP> alpha_;
  SIZE alphaSize_{0, 0};
};

// Draws `bitmap` at (x, y) leaving out the pixels of colour `key`.
void DrawTransparent(HDC dc, int x, int y, Bitmap& bitmap, Color key);

}  // namespace zq::fw
