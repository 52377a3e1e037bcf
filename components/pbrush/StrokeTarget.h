// Where a stroke paints: the bitmap selected into the caller's bitmap device context, and
// the caller's screen device context, which shows the same pixels at once.
//
// A 24-bit DIB section is painted in place. Anything else (a device-dependent bitmap, a DIB
// of another depth, a device context without a bitmap) is painted through a 24-bit shadow of
// the same size: the region a segment may touch is copied in first and what changed is
// copied back. Either way the changed rectangle is then copied to the screen context.
#pragma once

#include <windows.h>

#include <functional>

#include "Gdi.h"
#include "StrokeEngine.h"

namespace zpb {

class StrokeTarget {
 public:
  StrokeTarget() = default;
  StrokeTarget(const StrokeTarget&) = delete;
  StrokeTarget& operator=(const StrokeTarget&) = delete;

  // Binds to the bitmap behind `bitmapDC` (throws zq::fw::Error when it is no device
  // context). `reach` bounds how far from the segment's end points painting may go.
  void Bind(HDC bitmapDC);
  // Paints with `paint` (which gets the surface and returns what it changed) and shows the
  // change on `screenDC` (may be null). `area` is the rectangle the paint may touch.
  Rect Paint(HDC bitmapDC, HDC screenDC, Rect area, const std::function<Rect(const Surface&)>& paint);
  const Surface& surface() const { return surface_; }
  bool Direct() const { return direct_; }

 private:
  bool OpenDirect(HBITMAP bitmap, HDC dc);
  void OpenShadow(int width, int height);

  Surface surface_;
  bool direct_ = false;
  HBITMAP boundBitmap_ = nullptr;
  void* boundBits_ = nullptr;
  zq::fw::GdiObject<HBITMAP> shadow_;
  int shadowW_ = 0, shadowH_ = 0;
};

}  // namespace zpb
