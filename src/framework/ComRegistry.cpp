#include "ComRegistry.h"

#include <oleauto.h>

#include <cwchar>
#include <vector>

#include "Com.h"
#include "Gdi.h"

namespace zq::fw {

const wchar_t kRegistryWriteError[] = L"システム レジストリ に書き込めません";

std::wstring GuidText(const GUID& g) {
  wchar_t buf[40];
  StringFromGUID2(g, buf, 40);
  return buf;
}

namespace {

// Creates HKCR\<key> when missing and sets its value `name` (default when empty).
void WriteValue(const std::wstring& key, const std::wstring& name, const std::wstring& value) {
  HKEY k = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) != ERROR_SUCCESS)
    throw Error(Narrow(kRegistryWriteError));
  const LONG r = RegSetValueExW(k, name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(k);
  if (r != ERROR_SUCCESS) throw Error(Narrow(kRegistryWriteError));
}

void Write(const std::wstring& key, const std::wstring& value) { WriteValue(key, L"", value); }

std::wstring ShortIfBlank(const std::wstring& path) {
  if (path.find(L' ') == std::wstring::npos) return path;
  std::vector<wchar_t> buf(path.size() + 1);
  const DWORD n = GetShortPathNameW(path.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
  if (n == 0 || n >= buf.size()) return path;
  return std::wstring(buf.data(), n);
}

// The type library as the module holds it: its identity, version, locale and system kind,
// or the registration's when the library cannot be read.
struct LibraryAttributes {
  GUID libid;
  WORD major, minor;
  LCID lcid = LOCALE_NEUTRAL;
  SYSKIND kind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
};
LibraryAttributes AttributesOf(ITypeLib* lib, const ControlRegistration& r) {
  LibraryAttributes a{r.libid, r.major, r.minor};
  TLIBATTR* attr = nullptr;
  if (lib && SUCCEEDED(lib->GetLibAttr(&attr)) && attr) {
    a = {attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind};
    lib->ReleaseTLibAttr(attr);
  }
  return a;
}

}  // namespace

void RegisterControl(HMODULE module, const ControlRegistration& r) {
  const std::wstring path = ModulePath(module);
  // The class's Version and TypeLib entries name the library the module holds.
  LibraryAttributes lib;
  {
    ComPtr<ITypeLib> loaded = LoadModuleTypeLib(module);
    // The help folder with its final separator, as an installer writes a folder.
    std::wstring dir = path.substr(0, path.find_last_of(L"\\/") + 1);
    const HRESULT hr =
        RegisterTypeLib(loaded.get(), const_cast<LPOLESTR>(path.c_str()), const_cast<LPOLESTR>(dir.c_str()));
    if (FAILED(hr)) throw Error("RegisterTypeLib failed", hr);
    lib = AttributesOf(loaded.get(), r);
  }
  const std::wstring c = L"CLSID\\" + GuidText(r.clsid);
  Write(c, r.description);
  Write(c + L"\\InprocServer32", ShortIfBlank(path));
  WriteValue(c + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
  Write(r.progId, r.description);
  Write(r.progId + L"\\Clsid", GuidText(r.clsid));
  Write(c + L"\\ProgID", r.progId);
  wchar_t version[32];
  swprintf(version, 32, L"%d.%d", lib.major, lib.minor);
  Write(c + L"\\Version", version);
  Write(c + L"\\TypeLib", GuidText(lib.libid));
  Write(c + L"\\MiscStatus", L"0");
  Write(c + L"\\MiscStatus\\1", std::to_wstring(r.miscStatus));
  if (r.toolboxBitmap) Write(c + L"\\ToolboxBitmap32", path + L"," + std::to_wstring(r.toolboxBitmap));
  Write(c + L"\\Control", L"");
  if (!r.verbName.empty()) {
    Write(c + L"\\Verb", L"");
    Write(c + L"\\Verb\\0", r.verbName + L",0,2");
  }
}

void UnregisterControl(HMODULE module, const ControlRegistration& r) {
  // The type library as it was registered: its own version, locale and system kind.
  LibraryAttributes lib{r.libid, r.major, r.minor};
  try {
    lib = AttributesOf(LoadModuleTypeLib(module).get(), r);
  } catch (...) {
    // Without the library's own attributes, the registration's are used.
  }
  using UnRegister = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
  if (HMODULE oleaut = GetModuleHandleW(L"OLEAUT32.DLL")) {
    if (auto fn = reinterpret_cast<UnRegister>(reinterpret_cast<void*>(GetProcAddress(oleaut, "UnRegisterTypeLib"))))
      fn(lib.libid, lib.major, lib.minor, lib.lcid, lib.kind);
  }
  const std::wstring c = L"CLSID\\" + GuidText(r.clsid);
  const std::wstring keys[] = {c + L"\\Verb\\0", c + L"\\Verb", c + L"\\Control", c + L"\\ToolboxBitmap32",
                               c + L"\\MiscStatus\\1", c + L"\\MiscStatus", c + L"\\TypeLib", c + L"\\Version",
                               c + L"\\ProgID", r.progId + L"\\Clsid", r.progId, c + L"\\InprocServer32", c};
  for (const auto& k : keys) RegDeleteKeyW(HKEY_CLASSES_ROOT, k.c_str());
}

HRESULT ServerModule::GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  for (const Class& c : classes_)
    if (IsEqualCLSID(clsid, c.registration.clsid)) return c.factory->QueryInterface(riid, ppv);
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ServerModule::CanUnloadNow() const { return ModuleCount::Value() == 0 ? S_OK : S_FALSE; }

// Runs a registration step for every class: E_FAIL when one fails, its text (such as the
// registry write error) left in the thread's error information for the caller to show.
HRESULT ServerModule::ForEachClass(HMODULE module, void (*step)(HMODULE, const ControlRegistration&)) const {
  // The registration exports answer E_FAIL whatever failed; the error information says
  // what, with the class's ProgID as its source.
  for (const Class& c : classes_)
    if (FAILED(ComBoundary(IID_NULL, c.registration.progId.c_str(), [&] { step(module, c.registration); })))
      return E_FAIL;
  return S_OK;
}

HRESULT ServerModule::Register(HMODULE module) const { return ForEachClass(module, &RegisterControl); }
HRESULT ServerModule::Unregister(HMODULE module) const { return ForEachClass(module, &UnregisterControl); }

}  // namespace zq::fw
