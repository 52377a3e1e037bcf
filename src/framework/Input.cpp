#include "Input.h"

namespace zq::fw {

void SendMouseAt(HWND window, POINT client, DWORD buttonFlags) {
  POINT p = client;
  ClientToScreen(window, &p);
  // Absolute coordinates run from 0 to 65535 across the primary screen.
  const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dx = static_cast<LONG>((p.x * 65535 + sw / 2) / (sw - 1));
  in.mi.dy = static_cast<LONG>((p.y * 65535 + sh / 2) / (sh - 1));
  in.mi.dwFlags = buttonFlags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
  SendInput(1, &in, sizeof in);
}

void SendKeyInput(WORD vk, bool up, wchar_t unicode) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = unicode ? 0 : vk;
  in.ki.wScan = unicode;
  in.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (unicode ? KEYEVENTF_UNICODE : 0);
  SendInput(1, &in, sizeof in);
}

}  // namespace zq::fw
