// The tablet input component as the control drives it: a child ActiveX control of the
// drawing panel, methods through the interface's function table, properties by DISPID,
// and the events the control listens to (PenDown, PenMove, PenUp, PenDetected, and the
// pen's eraser end: EraserDown, EraserUp) through its connection point. A failing call throws fw::Error.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "OleHost.h"
#include "ZanTablet4_TLB.h"

namespace zq {

inline constexpr wchar_t kTabletModule[] = L"ZanTablet4.ocx";

class TZanTabletCtl4 : public fw::OleControl {
 public:
  TZanTabletCtl4(fw::WinControl* parent, std::wstring name, const std::wstring& moduleFolder);
  ~TZanTabletCtl4() override;

  // Pen events: x, y in quarter pixels of the attached window's client area; bfSw the
  // switches (1 the tip); p the pressure.
  using PenEvent = std::function<void(TZanTabletCtl4& sender, long x, long y, long bfSw, long p, long nWheel,
                                      short nAzimth, short nAltitude, short nTwist)>;
  using DetectEvent = std::function<void(TZanTabletCtl4& sender, long bDetected, long nType, long nID)>;
  PenEvent OnPenDown, OnPenMove, OnPenUp;
  // The eraser end of the pen touches or leaves (moves in between arrive as OnPenMove).
  PenEvent OnEraserDown, OnEraserUp;
  DetectEvent OnPenDetected;

  void EnableInput(long on);
  void AttachWindow(HWND window);
  void TabletOptionA(long v);
  void TabletOptionB(long v);
  void SetPenCursor(long shape);

  long InputEnabled();
  long DeviceStatus();
  long PacketExtra();
  long CursorMode();
  void SetPreventBehindWriting(long on);
  long PreventMouseEvents();
  void SetPreventMouseEvents(long on);

 private:
  class Sink;
  fw::ComPtr<IZanTabletCtl> tablet_;
  fw::OrphaningRef<Sink> sink_;  // the event sink the component holds
};

}  // namespace zq
