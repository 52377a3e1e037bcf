// The part of the WinTab interface (wintab32.dll, the tablet drivers' API) that the tablet
// component uses, declared from the published WinTab 1.4 interface. The library is
// loaded at run time; without it there is no WinTab device.
#pragma once

#include <windows.h>

namespace wintab {

using HCTX = HANDLE;
using FIX32 = DWORD;

inline constexpr UINT WT_DEFBASE = 0x7FF0;
inline constexpr UINT WT_PACKET = WT_DEFBASE + 0;
inline constexpr UINT WT_PROXIMITY = WT_DEFBASE + 5;
inline constexpr UINT WT_CSRCHANGE = WT_DEFBASE + 7;

inline constexpr UINT WTI_DEFSYSCTX = 4;
inline constexpr UINT WTI_DEVICES = 100;
inline constexpr UINT WTI_INTERFACE = 1;
inline constexpr UINT IFC_NDEVICES = 4;
inline constexpr UINT DVC_NPRESSURE = 15;

inline constexpr DWORD CXO_SYSTEM = 0x0001;
inline constexpr DWORD CXO_MESSAGES = 0x0004;
inline constexpr DWORD CXO_CSRMESSAGES = 0x0008;

inline constexpr DWORD PK_STATUS = 0x0002;
inline constexpr DWORD PK_TIME = 0x0004;
inline constexpr DWORD PK_CURSOR = 0x0020;
inline constexpr DWORD PK_BUTTONS = 0x0040;
inline constexpr DWORD PK_X = 0x0080;
inline constexpr DWORD PK_Y = 0x0100;
inline constexpr DWORD PK_NORMAL_PRESSURE = 0x0400;
inline constexpr DWORD PK_ORIENTATION = 0x1000;
inline constexpr DWORD TPS_PROXIMITY = 0x0001;

struct AXIS {
  LONG axMin;
  LONG axMax;
  UINT axUnits;
  FIX32 axResolution;
};

struct ORIENTATION {
  int orAzimuth;
  int orAltitude;
  int orTwist;
};

struct LOGCONTEXTW {
  WCHAR lcName[40];
  UINT lcOptions, lcStatus, lcLocks, lcMsgBase, lcDevice, lcPktRate;
  DWORD lcPktData, lcPktMode, lcMoveMask, lcBtnDnMask, lcBtnUpMask;
  LONG lcInOrgX, lcInOrgY, lcInOrgZ, lcInExtX, lcInExtY, lcInExtZ;
  LONG lcOutOrgX, lcOutOrgY, lcOutOrgZ, lcOutExtX, lcOutExtY, lcOutExtZ;
  FIX32 lcSensX, lcSensY, lcSensZ;
  BOOL lcSysMode;
  int lcSysOrgX, lcSysOrgY, lcSysExtX, lcSysExtY;
  FIX32 lcSysSensX, lcSysSensY;
};

// The packet layout that follows from the lcPktData above: the fields in WinTab's order.
struct PACKET {
  UINT pkStatus;
  DWORD pkTime;
  UINT pkCursor;
  DWORD pkButtons;
  LONG pkX;
  LONG pkY;
  UINT pkNormalPressure;
  ORIENTATION pkOrientation;
};
inline constexpr DWORD kPacketData = PK_STATUS | PK_TIME | PK_CURSOR | PK_BUTTONS | PK_X | PK_Y | PK_NORMAL_PRESSURE | PK_ORIENTATION;

struct Api {
  UINT(WINAPI* Info)(UINT, UINT, LPVOID) = nullptr;
  HCTX(WINAPI* Open)(HWND, LOGCONTEXTW*, BOOL) = nullptr;
  BOOL(WINAPI* Close)(HCTX) = nullptr;
  BOOL(WINAPI* Packet)(HCTX, UINT, LPVOID) = nullptr;
  BOOL(WINAPI* Enable)(HCTX, BOOL) = nullptr;
  BOOL(WINAPI* QueueSizeSet)(HCTX, int) = nullptr;

  // Loads wintab32.dll once; false when it or a function is missing.
  bool Load();
};

}  // namespace wintab
