// The pressure brush (ZanPBrushCtl4) and pressure eraser (ZanPEraserCtl4) controls.
//
// Not for web pages: they take raw device-context handles as integers and paint into them,
// so they declare no safety for untrusted callers or data (IObjectSafety supports no option).
// The memo control hosts and drives them itself; nothing else needs to script them.
//
// Properties the memo control never sets, and what they do here:
//   Magnification       percent applied to both widths (the stored 160; the control sets 100)
//   DelayControl        quarter pixels a point must move before a segment is painted (4)
//   Interpolation       1 smooth curves between points, 0 straight segments
//   Soak                how far water-based media bleed into the paper, 0 to 10 (1)
//   Transparency        0 to 100 percent, over everything else
//   Contrast            of the paper grain, -100 to 100 (brush)
//   HotX, HotY          offset of the tip from the reported point, in pixels (brush)
//   SprayDencity        airbrush build-up, 1 to 100 tenths (0: 10); SprayType 0 mist, 1 droplets
//   TxTransparencyBmp   a paper texture: its grey levels thin the ink where they are dark,
//                       BrTxRatio percent strong (brush)
//   TxLightShadeBmp, BrLightShadeBmp, BrTransparencyBmp   kept and returned, not painted with
//   ThrowErrorInfo      1: a failing call returns its error (with COM error information);
//                       0: the failing HRESULT alone, without error information
//   TilingPaint         eraser: a texture smaller than the drawing repeats (1) or ends (0)
// Methods: SetBrushType(medium, grain scale percent or 0, seed offset); InitOptionA(seed, -1
// the standard one), InitOptionB(input points per second, for spraying mouse strokes),
// InitOptionC(pressure response 1 linear, 2 soft, 3 firm), InitOptionD(edge smoothing in half
// pixels).
#pragma once

#include "ComControl.h"
#include "StrokeEngine.h"
#include "StrokeTarget.h"
#include "ZanPBrush4_TLB.h"

namespace zpb {

HRESULT CreateBrush(REFIID riid, void** ppv);
HRESULT CreateEraser(REFIID riid, void** ppv);

// What registration and the module's exports need of the two classes.
extern const wchar_t kBrushProgId[];
extern const wchar_t kEraserProgId[];
// Invisible at run time, so that a host hides them.
inline constexpr DWORD kMiscStatus = OLEMISC_INVISIBLEATRUNTIME | OLEMISC_SETCLIENTSITEFIRST | OLEMISC_INSIDEOUT |
                                     OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE;

}  // namespace zpb
