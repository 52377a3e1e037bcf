// Synthesised input, as the system delivers a person's: the mouse at a point of a window's
// client area, and keys or typed characters. For scripted tours and tests.
#pragma once

#include <windows.h>

namespace zq::fw {

// Moves the mouse to `client` (the window's client coordinates), with button flags such as
// MOUSEEVENTF_LEFTDOWN (0 for a move alone).
void SendMouseAt(HWND window, POINT client, DWORD buttonFlags);
// A key going down or up: a virtual key, or (with `unicode` set) a typed character.
void SendKeyInput(WORD vk, bool up, wchar_t unicode = 0);

}  // namespace zq::fw
