// The tablet input control (ZanTabletCtl4): reports a pen over the window it is attached to
// as events, in quarter pixels of that window's client area.
//
// Not for web pages: it hooks its thread's messages and binds itself to any window handle it
// is given, so it declares no safety for untrusted callers or data (IObjectSafety supports no
// option). The memo control hosts and drives it itself.
//
// Where packets come from: WinTab (wintab32.dll, when a tablet driver provides one), Windows
// pointer input of a pen (Windows 8 and later), or ZanTablet_InjectPacket (tests). All go
// into one queue and come out, on the attaching thread's message loop, as events in order:
// a pen-down (or eraser-down) first, moves, side-switch changes, the pen-up last. A stroke
// that input switching or re-attaching cuts short still ends with its pen-up.
//
// Properties the memo control relies on or never sets:
//   DeviceStatus        0 when a device was found for the attached window; 1 not attached,
//                       2 no tablet on this system
//   PreventMouseEvents  1: mouse messages to the attached window and its children are held
//                       back while the pen touches, and those the pen makes at any time
//   PacketExtra         of the packet being reported: milliseconds since the previous
//                       packet of the stroke (0 for its first)
//   IgnoreAerialPoints  1: a pen in the air (not touching) reports no moves
//   PreventBehindWriting 1: a pen touching where another window covers the attached one
//                       starts no stroke
//   QueueSize           packets kept when the message loop falls behind (older ones are
//                       merged into the newer: moves only, never downs or ups)
//   CursorMode          1 the pen moves the system cursor (TabletOptionB(0)); 2 the
//                       component sets the cursor of SetPenCursor over the window
//                       (TabletOptionB(1)): 1 arrow, 2 cross, 9 busy
//   TabletOptionA       the report rate asked of a WinTab device, packets per second
// Events PenDetected(bDetected, nType, nID): nType 1 pen, 2 eraser end, 3 puck (mouse).
#pragma once

#include <windows.h>

namespace ztab {

HRESULT CreateTablet(REFIID riid, void** ppv);
extern const wchar_t kProgId[];
inline constexpr DWORD kMiscStatus = OLEMISC_INVISIBLEATRUNTIME | OLEMISC_SETCLIENTSITEFIRST | OLEMISC_INSIDEOUT |
                                     OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE;

}  // namespace ztab
