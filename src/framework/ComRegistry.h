// Registration of an in-process control class under HKEY_CLASSES_ROOT.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "Application.h"
#include "Com.h"

namespace zq::fw {

struct ControlRegistration {
  CLSID clsid;
  std::wstring description;  // default value of CLSID\{C} and of the ProgID key
  std::wstring progId;
  GUID libid;
  WORD major = 1, minor = 0;  // of the type library
  DWORD miscStatus = 0;
  int toolboxBitmap = 0;      // bitmap resource id, or 0 for none
  std::wstring verbName;      // name of verb 0 (OLEIVERB_PRIMARY), or empty for no verbs
};

// The message of a registry write that failed.
extern const wchar_t kRegistryWriteError[];

// Registers the module's type library and writes the class entries, in this order:
// type library; CLSID\{C}; InprocServer32 (the module's path, in its short form when it has
// a blank) with ThreadingModel Apartment; the ProgID and its Clsid; CLSID\{C}\ProgID; Version;
// TypeLib; MiscStatus and MiscStatus\1; ToolboxBitmap32 (long path); Control; Verb and Verb\0
// ("<name>,0,2"). Throws Error when a key or value cannot be written, leaving what was
// written so far.
void RegisterControl(HMODULE module, const ControlRegistration& r);

// Unregisters the module's type library with the library's own version, locale and system
// kind (its result ignored) and deletes the class's keys, children first; a key that cannot
// be deleted is passed over.
void UnregisterControl(HMODULE module, const ControlRegistration& r);

std::wstring GuidText(const GUID& g);

// What an in-process server module's exports do, for the classes it serves:
// DllGetClassObject hands out their factories, DllCanUnloadNow asks the module's object
// count, DllRegisterServer and DllUnregisterServer (S_OK, or E_FAIL when a step fails)
// register and unregister each class in turn.
class ServerModule {
 public:
  struct Class {
    ClassFactory* factory;
    ControlRegistration registration;
  };
  explicit ServerModule(std::vector<Class> classes) : classes_(std::move(classes)) {}
  HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
  HRESULT CanUnloadNow() const;
  HRESULT Register(HMODULE module) const;
  HRESULT Unregister(HMODULE module) const;

 private:
  HRESULT ForEachClass(HMODULE module, void (*step)(HMODULE, const ControlRegistration&)) const;
  std::vector<Class> classes_;
};

}  // namespace zq::fw

// The exports of an in-process server module whose classes `server()` (a function returning
// a ServerModule&) serves, and its DllMain. Used once, in the module's own source file.
#define ZQ_SERVER_EXPORTS(server)                                                              \
  extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) { \
    return server().GetClassObject(clsid, riid, ppv);                                          \
  }                                                                                            \
  extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return server().CanUnloadNow(); }       \
  extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {                                       \
    return server().Register(zq::fw::FrameworkModule());                                       \
  }                                                                                            \
  extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {                                     \
    return server().Unregister(zq::fw::FrameworkModule());                                     \
  }                                                                                            \
  BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {                     \
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);                     \
    if (reason == DLL_PROCESS_DETACH && !reserved) zq::fw::UnregisterWindowClasses();           \
    return TRUE;                                                                               \
  }
