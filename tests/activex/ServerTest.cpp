// ZanQuilmo4.ocx as an in-process server: registration through regsvr32 (every key and
// value, a folder with a blank, twice, after a partial registration), the class factory,
// DllCanUnloadNow and LockServer, aggregation, and 100 controls made and destroyed without
// leaving windows or GDI objects behind.
#include <gtest/gtest.h>

#include <windows.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "ComSupport.h"
#include "Process.h"
#include "TestSupport.h"
#include "UiSupport.h"
#include "ZanQuilmo4_TLB.h"

using zq::fw::ComPtr;

namespace {

const std::wstring kClsid = L"{08E7F4D1-F236-4B1D-98CA-8281C31ACC83}";
const std::wstring kClsKey = L"CLSID\\" + kClsid;
const std::wstring kLibKey = L"TypeLib\\{B9EA3171-993C-49E9-9696-1D998BE61C82}";

// A value under HKEY_CLASSES_ROOT; nullopt-like "\x01missing" when the key or value is absent.
const std::wstring kMissing = L"\x01missing";
std::wstring Value(const std::wstring& key, const wchar_t* name = nullptr) {
  wchar_t buf[1024];
  DWORD size = sizeof buf;
  DWORD type = 0;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_ANY, &type, buf, &size) != ERROR_SUCCESS)
    return kMissing;
  if (type != REG_SZ) return L"\x01not a string";
  return buf;
}
bool KeyExists(const std::wstring& key) {
  HKEY k = nullptr;
  const bool ok = RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &k) == ERROR_SUCCESS;
  if (k) RegCloseKey(k);
  return ok;
}

// The keys the class registers, children after parents.
std::vector<std::wstring> ClassKeys() {
  return {kClsKey, kClsKey + L"\\InprocServer32", L"ZanQuilmo4.ZanQuilmoAx4", L"ZanQuilmo4.ZanQuilmoAx4\\Clsid",
          kClsKey + L"\\ProgID", kClsKey + L"\\Version", kClsKey + L"\\TypeLib", kClsKey + L"\\MiscStatus",
          kClsKey + L"\\MiscStatus\\1", kClsKey + L"\\ToolboxBitmap32", kClsKey + L"\\Control", kClsKey + L"\\Verb",
          kClsKey + L"\\Verb\\0"};
}

int Regsvr32(const std::wstring& module, bool unregister) {
  const std::wstring cmd = L"\"" + zqtest::SystemProgram(L"regsvr32.exe") + L"\" /s " + (unregister ? L"/u " : L"") +
                           L"\"" + module + L"\"";
  const zqtest::ProcessResult r = zqtest::RunProcess(cmd);
  EXPECT_TRUE(r.started && r.finished) << zqtest::Narrow(cmd);
  return static_cast<int>(r.exitCode);
}

// Every entry of the class for a module at `path`.
void ExpectRegisteredAt(const std::wstring& path) {
  wchar_t shortPath[MAX_PATH] = L"";
  GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
  const bool blank = path.find(L' ') != std::wstring::npos;
  EXPECT_EQ(L"ZanQuilmo4 Control", Value(kClsKey));
  EXPECT_EQ(blank ? std::wstring(shortPath) : path, Value(kClsKey + L"\\InprocServer32"));
  if (blank) {
    EXPECT_EQ(std::wstring::npos, Value(kClsKey + L"\\InprocServer32").find(L' '));
  }
  EXPECT_EQ(L"Apartment", Value(kClsKey + L"\\InprocServer32", L"ThreadingModel"));
  EXPECT_EQ(L"ZanQuilmo4 Control", Value(L"ZanQuilmo4.ZanQuilmoAx4"));
  EXPECT_EQ(kClsid, Value(L"ZanQuilmo4.ZanQuilmoAx4\\Clsid"));
  EXPECT_EQ(L"ZanQuilmo4.ZanQuilmoAx4", Value(kClsKey + L"\\ProgID"));
  EXPECT_EQ(L"1.0", Value(kClsKey + L"\\Version"));
  EXPECT_EQ(L"{B9EA3171-993C-49E9-9696-1D998BE61C82}", Value(kClsKey + L"\\TypeLib"));
  EXPECT_EQ(L"0", Value(kClsKey + L"\\MiscStatus"));
  EXPECT_EQ(L"205201", Value(kClsKey + L"\\MiscStatus\\1"));
  EXPECT_EQ(path + L",1", Value(kClsKey + L"\\ToolboxBitmap32")) << "the long path, never shortened";
  EXPECT_EQ(L"", Value(kClsKey + L"\\Control"));
  EXPECT_EQ(L"", Value(kClsKey + L"\\Verb"));
  EXPECT_EQ(L"プロパティ,0,2", Value(kClsKey + L"\\Verb\\0"));
  // The type library, registered by the system from the module's own resource.
  EXPECT_TRUE(KeyExists(kLibKey + L"\\1.0"));
  // The library is described for 32-bit Windows (what the deliverable is); a 64-bit
  // process finds it under win32 too.
  std::wstring libPath = Value(kLibKey + L"\\1.0\\409\\win32");
  if (libPath == kMissing) libPath = Value(kLibKey + L"\\1.0\\409\\win64");
  EXPECT_EQ(0, lstrcmpiW(libPath.c_str(), path.c_str())) << zqtest::Narrow(libPath);
  DWORD misc = 0;
  CLSID clsid{};
  CLSIDFromString(kClsid.c_str(), &clsid);
  EXPECT_EQ(S_OK, OleRegGetMiscStatus(clsid, DVASPECT_CONTENT, &misc));
  EXPECT_EQ(0x32191u, misc);
}

void ExpectNothingRegistered() {
  for (const std::wstring& k : ClassKeys()) EXPECT_FALSE(KeyExists(k)) << zqtest::Narrow(k);
  EXPECT_FALSE(KeyExists(kLibKey + L"\\1.0")) << "the type library is unregistered too";
}

// A copy of the built module (and its companions) in a new folder under the temporary
// folder.
std::wstring CopyModuleInto(const std::wstring& folderName) {
  wchar_t temp[MAX_PATH] = L"";
  GetTempPathW(MAX_PATH, temp);
  const std::wstring dir = std::wstring(temp) + folderName;
  CreateDirectoryW(dir.c_str(), nullptr);
  const std::wstring target = dir + L"\\ZanQuilmo4.ocx";
  EXPECT_TRUE(CopyFileW(zqtest::EnvDir("ZQ_OCX").c_str(), target.c_str(), FALSE));
  return target;
}

class Registration : public ::testing::Test {
 protected:
  void TearDown() override {
    // Leave the build's own module registered for the tests that follow.
    Regsvr32(zqtest::EnvDir("ZQ_OCX"), false);
  }
};

TEST_F(Registration, Regsvr32WritesEveryEntryAndRemovesThemAgain) {
  const std::wstring path = zqtest::EnvDir("ZQ_OCX");
  ASSERT_EQ(0, Regsvr32(path, false));
  ExpectRegisteredAt(path);
  ASSERT_EQ(0, Regsvr32(path, true));
  ExpectNothingRegistered();
}

TEST_F(Registration, AFolderWithABlankGivesTheShortServerPathAndTheLongBitmapPath) {
  const std::wstring path = CopyModuleInto(L"zq blank folder");
  wchar_t shortPath[MAX_PATH] = L"";
  ASSERT_NE(0u, GetShortPathNameW(path.c_str(), shortPath, MAX_PATH));
  ASSERT_NE(path, std::wstring(shortPath)) << "the file system gives a short name";
  ASSERT_EQ(0, Regsvr32(path, false));
  ExpectRegisteredAt(path);
  ASSERT_EQ(0, Regsvr32(path, true));
  ExpectNothingRegistered();
}

TEST_F(Registration, RegisteringTwiceLeavesTheSameEntries) {
  const std::wstring path = zqtest::EnvDir("ZQ_OCX");
  ASSERT_EQ(0, Regsvr32(path, false));
  ASSERT_EQ(0, Regsvr32(path, false));
  ExpectRegisteredAt(path);
  HKEY k = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, (kClsKey + L"\\Verb").c_str(), 0, KEY_READ, &k));
  DWORD subkeys = 0;
  RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(k);
  EXPECT_EQ(1u, subkeys) << "one verb";
}

TEST_F(Registration, UnregisteringAfterAPartialRegistrationRemovesWhatIsThere) {
  const std::wstring path = zqtest::EnvDir("ZQ_OCX");
  ASSERT_EQ(0, Regsvr32(path, false));
  // Pieces missing, as after a registration that stopped half-way or a user's cleaning.
  RegDeleteTreeW(HKEY_CLASSES_ROOT, L"ZanQuilmo4.ZanQuilmoAx4");
  RegDeleteTreeW(HKEY_CLASSES_ROOT, (kClsKey + L"\\Verb").c_str());
  RegDeleteTreeW(HKEY_CLASSES_ROOT, (kClsKey + L"\\MiscStatus").c_str());
  EXPECT_EQ(0, Regsvr32(path, true)) << "missing keys are passed over";
  ExpectNothingRegistered();
  EXPECT_EQ(0, Regsvr32(path, true)) << "nothing left to remove is not an error";
}

// ---- the exports in this process ----

using ServerFn = HRESULT(STDAPICALLTYPE*)();
HMODULE Module();

HMODULE Module() {
  zqtest::EnsureCom();
  static HMODULE m = LoadLibraryW(zqtest::EnvDir("ZQ_OCX").c_str());
  return m;
}
template <class F>
F Export(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(Module(), name)));
}
using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();

ComPtr<IClassFactory> Factory() {
  ComPtr<IClassFactory> f;
  EXPECT_EQ(S_OK, Export<GetClassObjectFn>("DllGetClassObject")(CLSID_ZanQuilmoAx4, IID_IClassFactory, f.put_void()));
  return f;
}

// The windows of this thread: top-level ones and all their descendants.
BOOL CALLBACK CountWindow(HWND, LPARAM p) {
  ++*reinterpret_cast<int*>(p);
  return TRUE;
}
BOOL CALLBACK CountWindowTree(HWND w, LPARAM p) {
  ++*reinterpret_cast<int*>(p);
  EnumChildWindows(w, &CountWindow, p);
  return TRUE;
}
int ThreadWindows() {
  int n = 0;
  EnumThreadWindows(GetCurrentThreadId(), &CountWindowTree, reinterpret_cast<LPARAM>(&n));
  return n;
}

// How many more GDI objects the process could make: brushes are made until the system
// refuses one (a process's limit is 10,000 on Windows, the handle table on Wine), then
// freed. A leak shows as fewer free handles.
int FreeGdiHandles() {
  std::vector<HBRUSH> made;
  made.reserve(70000);
  for (int i = 0; i < 70000; ++i) {
    HBRUSH b = CreateSolidBrush(RGB(i & 255, (i >> 8) & 255, 7));
    if (!b) break;
    made.push_back(b);
  }
  for (HBRUSH b : made) DeleteObject(b);
  return static_cast<int>(made.size());
}

TEST_F(Registration, AKeyThatCannotBeWrittenStopsWithTheRegistryError) {
  const std::wstring path = zqtest::EnvDir("ZQ_OCX");
  ASSERT_EQ(0, Regsvr32(path, true));
  // The class key made volatile: the system refuses a lasting key beneath it, as it refuses
  // a key that a user may not write.
  HKEY k = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, kClsKey.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                           KEY_ALL_ACCESS, nullptr, &k, nullptr));
  RegCloseKey(k);
  auto reg = reinterpret_cast<ServerFn>(reinterpret_cast<void*>(GetProcAddress(Module(), "DllRegisterServer")));
  ASSERT_TRUE(reg);
  EXPECT_EQ(E_FAIL, reg());
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(S_OK, GetErrorInfo(0, info.put()));
  BSTR text = nullptr;
  info->GetDescription(&text);
  EXPECT_EQ(std::wstring(L"システム レジストリ に書き込めません"), text ? text : L"");
  SysFreeString(text);
  // It stopped there: what came before stays, nothing after was written.
  EXPECT_EQ(L"ZanQuilmo4 Control", Value(kClsKey));
  EXPECT_FALSE(KeyExists(kClsKey + L"\\InprocServer32"));
  EXPECT_FALSE(KeyExists(L"ZanQuilmo4.ZanQuilmoAx4"));
  RegDeleteTreeW(HKEY_CLASSES_ROOT, kClsKey.c_str());
  RegDeleteKeyW(HKEY_CLASSES_ROOT, kClsKey.c_str());
  EXPECT_EQ(0, Regsvr32(path, false));
  ExpectRegisteredAt(path);
}

TEST(ClassFactory, AnotherClassIsNotAvailable) {
  auto get = Export<GetClassObjectFn>("DllGetClassObject");
  ASSERT_TRUE(get);
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, get(CLSID_StdFont, IID_IClassFactory, &p));
  EXPECT_EQ(nullptr, p);
  p = reinterpret_cast<void*>(1);
  EXPECT_EQ(E_NOINTERFACE, get(CLSID_ZanQuilmoAx4, IID_IDispatch, &p)) << "the factory's own answer";
  EXPECT_EQ(nullptr, p);
}

TEST(ClassFactory, CreatesIndependentControlsAndRefusesBadRequests) {
  ComPtr<IClassFactory> f = Factory();
  ASSERT_TRUE(f);
  EXPECT_EQ(E_POINTER, f->CreateInstance(nullptr, IID_IUnknown, nullptr));
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(E_NOINTERFACE, f->CreateInstance(nullptr, IID_IClassFactory, &p));
  EXPECT_EQ(nullptr, p);
  ComPtr<IZanQuilmoAx4> a, b;
  ASSERT_EQ(S_OK, f->CreateInstance(nullptr, IID_IZanQuilmoAx4, a.put_void()));
  ASSERT_EQ(S_OK, f->CreateInstance(nullptr, IID_IZanQuilmoAx4, b.put_void()));
  EXPECT_NE(a.get(), b.get());
  ASSERT_EQ(S_OK, a->put_DrawEnabled(0));
  LONG v = 1;
  ASSERT_EQ(S_OK, b->get_DrawEnabled(&v));
  EXPECT_EQ(-1, v) << "each control has its own fields";
}

// A minimal outer object that aggregates the control.
class Outer final : public IUnknown {
 public:
  ComPtr<IUnknown> inner;
  long refs = 1;
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown)) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
};

TEST(ClassFactory, AggregationOnlyThroughTheInnerUnknown) {
  ComPtr<IClassFactory> f = Factory();
  ASSERT_TRUE(f);
  Outer outer;
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(CLASS_E_NOAGGREGATION, f->CreateInstance(&outer, IID_IDispatch, &p));
  EXPECT_EQ(nullptr, p);
  ASSERT_EQ(S_OK, f->CreateInstance(&outer, IID_IUnknown, outer.inner.put_void()));
  ASSERT_TRUE(outer.inner);
  ComPtr<IZanQuilmoAx4> ax;
  ASSERT_EQ(S_OK, outer.QueryInterface(IID_IZanQuilmoAx4, ax.put_void()));
  // The control's interfaces answer with the outer object's identity and count on it.
  ComPtr<IUnknown> identity;
  ASSERT_EQ(S_OK, ax->QueryInterface(IID_IUnknown, identity.put_void()));
  EXPECT_EQ(static_cast<IUnknown*>(&outer), identity.get());
  const long before = outer.refs;
  ax->AddRef();
  EXPECT_EQ(before + 1, outer.refs);
  ax->Release();
  LONG v = 0;
  EXPECT_EQ(S_OK, ax->get_DrawEnabled(&v));
  EXPECT_EQ(-1, v);
  identity.reset();
  ax.reset();
  outer.inner.reset();
}

TEST(ClassFactory, CanUnloadOnlyWithoutObjectsOrLocks) {
  auto canUnload = Export<CanUnloadFn>("DllCanUnloadNow");
  ASSERT_TRUE(canUnload);
  {
    ComPtr<IClassFactory> f = Factory();
    EXPECT_EQ(S_FALSE, canUnload()) << "a reference to the factory is alive";
    ComPtr<IUnknown> control;
    ASSERT_EQ(S_OK, f->CreateInstance(nullptr, IID_IUnknown, control.put_void()));
    f.reset();
    EXPECT_EQ(S_FALSE, canUnload()) << "a control is alive";
    control.reset();
    EXPECT_EQ(S_OK, canUnload());
  }
  {
    ComPtr<IClassFactory> f = Factory();
    ASSERT_EQ(S_OK, f->LockServer(TRUE));
    f.reset();
    EXPECT_EQ(S_FALSE, canUnload()) << "the server is locked";
    f = Factory();
    ASSERT_EQ(S_OK, f->LockServer(FALSE));
    f.reset();
    EXPECT_EQ(S_OK, canUnload());
  }
}

TEST(ClassFactory, AHundredControlsLeaveNoWindowsOrGdiObjects) {
  auto canUnload = Export<CanUnloadFn>("DllCanUnloadNow");
  ComPtr<IClassFactory> f = Factory();
  ASSERT_TRUE(f);
  {  // the first control loads what every control shares (cursors, type information)
    ComPtr<IUnknown> warm;
    ASSERT_EQ(S_OK, f->CreateInstance(nullptr, IID_IUnknown, warm.put_void()));
  }
  zqtest::Pump();
  const int windows = ThreadWindows();
  const int gdiFree = FreeGdiHandles();
  const DWORD gdiCount = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  const DWORD userCount = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
  for (int round = 0; round < 10; ++round) {
    std::vector<ComPtr<IZanQuilmoAx4>> controls(10);
    for (auto& c : controls) {
      ASSERT_EQ(S_OK, f->CreateInstance(nullptr, IID_IZanQuilmoAx4, c.put_void()));
      ASSERT_EQ(S_OK, c->put_DrawAreaAlign(alManual));
      ASSERT_EQ(S_OK, c->put_DrawAreaWidth(300 + round));
    }
    EXPECT_GT(ThreadWindows(), windows + 10) << "each control has its windows";
    zqtest::Pump();
  }
  zqtest::Pump();
  EXPECT_EQ(windows, ThreadWindows()) << "USER objects: every window of the controls is gone";
  EXPECT_EQ(gdiFree, FreeGdiHandles()) << "GDI objects: as many free handles as before";
  // Windows counts the process's objects directly; Wine answers 0 to both.
  EXPECT_EQ(gdiCount, GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS));
  EXPECT_EQ(userCount, GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS));
  f.reset();
  EXPECT_EQ(S_OK, canUnload());
}

}  // namespace

namespace {

// ---- a control that cannot be made ----

// Any message box that appears is read and closed by a timer that the box's own message loop
// runs (none may: an unattended host would wait on it for ever).
std::wstring g_boxText;
void CALLBACK CloseBox(HWND, UINT, UINT_PTR, DWORD) {
  HWND box = FindWindowW(L"#32770", nullptr);
  if (!box || !IsWindowVisible(box) || GetWindowThreadProcessId(box, nullptr) != GetCurrentThreadId()) return;
  wchar_t text[512] = L"";
  GetDlgItemTextW(box, 0xFFFF, text, 512);
  g_boxText = text[0] ? text : L"(a box)";
  PostMessageW(box, WM_COMMAND, IDOK, 0);
}

using ServerCall = HRESULT(STDAPICALLTYPE*)();
HRESULT CallServer(const char* variable, const char* name) {
  HMODULE m = LoadLibraryW(zqtest::EnvDir(variable).c_str());
  auto f = m ? reinterpret_cast<ServerCall>(reinterpret_cast<void*>(GetProcAddress(m, name))) : nullptr;
  return f ? f() : E_FAIL;
}

TEST(ClassFactory, AControlThatCannotBeMadeFailsWithErrorInformationAndNoBox) {
  // A copy of the control alone in a folder, with its companions neither registered nor
  // beside it: the form cannot host them.
  zqtest::EnsureCom();
  const std::wstring lone = CopyModuleInto(L"zq lone control");
  ASSERT_EQ(S_OK, CallServer("ZQ_PBRUSH_OCX", "DllUnregisterServer"));
  ASSERT_EQ(S_OK, CallServer("ZQ_TABLET_OCX", "DllUnregisterServer"));
  HMODULE m = LoadLibraryW(lone.c_str());
  ASSERT_NE(nullptr, m);
  auto get = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(m, "DllGetClassObject")));
  ComPtr<IClassFactory> f;
  ASSERT_EQ(S_OK, get(CLSID_ZanQuilmoAx4, IID_IClassFactory, f.put_void()));
  const int windows = ThreadWindows();
  g_boxText.clear();
  const UINT_PTR timer = SetTimer(nullptr, 0, 30, &CloseBox);
  void* p = reinterpret_cast<void*>(1);
  const HRESULT hr = f->CreateInstance(nullptr, IID_IUnknown, &p);
  KillTimer(nullptr, timer);
  EXPECT_EQ(E_UNEXPECTED, hr);
  EXPECT_EQ(nullptr, p);
  EXPECT_EQ(L"", g_boxText) << "no box stops an unattended host";
  // The caller learns why, from the error information: the message of the "DAX エラー" box.
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(S_OK, GetErrorInfo(0, info.put()));
  BSTR text = nullptr, source = nullptr;
  info->GetDescription(&text);
  info->GetSource(&source);
  const std::wstring said = text ? text : L"";
  EXPECT_EQ(std::wstring(L"ZanQuilmo4.ZanQuilmoAx4"), source ? source : L"");
  SysFreeString(text);
  SysFreeString(source);
  EXPECT_NE(std::wstring::npos, said.find(L".ocx")) << "names the missing module: " << zqtest::Narrow(said);
  // A full stop follows a message whose last character sorts after ".".
  ASSERT_GE(said.size(), 2u);
  const wchar_t last = said.back(), before = said[said.size() - 2];
  EXPECT_TRUE(last < L'.' || (last == L'.' && before > L'.')) << zqtest::Narrow(said);
  zqtest::Pump();
  EXPECT_EQ(windows, ThreadWindows()) << "the half-made control left no window";
  f.reset();
  auto canUnload = reinterpret_cast<CanUnloadFn>(reinterpret_cast<void*>(GetProcAddress(m, "DllCanUnloadNow")));
  EXPECT_EQ(S_OK, canUnload());
  EXPECT_EQ(S_OK, CallServer("ZQ_PBRUSH_OCX", "DllRegisterServer"));
  EXPECT_EQ(S_OK, CallServer("ZQ_TABLET_OCX", "DllRegisterServer"));
}

}  // namespace
