// ZanQuilmo4.ocx: the in-process server of the memo control ZanQuilmoAx4.
#include <windows.h>

#include "Application.h"
#include "ComRegistry.h"
#include "ZanQuilmo4_TLB.h"
#include "ZanQuilmoAx4Object.h"

using namespace zq::fw;

namespace {

// Made when the module is loaded; lives until it is unloaded.
ClassFactory g_factory(&zq::CreateZanQuilmoAx4);

ControlRegistration Registration() {
  ControlRegistration r{};
  r.clsid = CLSID_ZanQuilmoAx4;
  r.description = L"ZanQuilmo4 Control";
  r.progId = zq::kProgId;
  r.libid = LIBID_ZanQuilmo4;
  r.miscStatus = zq::kMiscStatus;
  r.toolboxBitmap = 1;
  wchar_t verb[64] = L"";
  LoadStringW(FrameworkModule(), zq::kVerbStringId, verb, 64);
  r.verbName = verb;
  return r;
}

ServerModule& Server() {
  static ServerModule server({{&g_factory, Registration()}});
  return server;
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (ppv) *ppv = nullptr;
  if (IsEqualCLSID(clsid, CLSID_ZanQuilmoAx4) && !zq::ControlTypeInfoPresent()) {
    SetComError(IID_IClassFactory, zq::kProgId, L"TZanQuilmoAx4 クラスのタイプ情報がありません");
    return E_UNEXPECTED;
  }
  return Server().GetClassObject(clsid, riid, ppv);
}
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return Server().CanUnloadNow(); }
extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return Server().Register(FrameworkModule()); }
extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return Server().Unregister(FrameworkModule()); }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    zq::SetControlModule(instance);
  }
  if (reason == DLL_PROCESS_DETACH && !reserved) UnregisterWindowClasses();
  return TRUE;
}
