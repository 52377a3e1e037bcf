// ZanQuilmo4.ocx: the module of the memo control.
#include <windows.h>

namespace zq {
HINSTANCE g_module = nullptr;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    zq::g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}
