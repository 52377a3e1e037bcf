// The type library as hosts see it: loaded from the built module (its resource "TYPELIB" 1)
// through oleaut32, the 64-bit module and, as a data file, the 32-bit deliverable.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "ZanQuilmo4_TLB.h"

namespace {

const GUID kStdOle = {0x00020430, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const GUID kBorderStyle = {0x98FB9E19, 0x5B38, 0x4A1B, {0x86, 0xFA, 0x40, 0x85, 0x01, 0x79, 0x9E, 0x66}};
const GUID kMouseButton = {0x512C06A3, 0x3834, 0x42DD, {0xB9, 0x12, 0x68, 0x8C, 0x74, 0x91, 0x43, 0x2C}};
const GUID kCtrlAlign = {0x217A17DF, 0xE72C, 0x4B00, {0xBE, 0xF5, 0x73, 0x7B, 0xFD, 0xD1, 0x7E, 0xDE}};
const GUID kEvents = {0xA068F9B4, 0x3358, 0x4F41, {0xA5, 0x58, 0x02, 0x11, 0x80, 0x06, 0xDA, 0x3E}};
const GUID kClass = {0x08E7F4D1, 0xF236, 0x4B1D, {0x98, 0xCA, 0x82, 0x81, 0xC3, 0x1A, 0xCC, 0x83}};

template <class T>
struct Ref {
  T* p = nullptr;
  Ref() = default;
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() {
    if (p) p->Release();
  }
  T** put() {
    if (p) p->Release();
    p = nullptr;
    return &p;
  }
  T* operator->() const { return p; }
};

struct Bstr {
  BSTR s = nullptr;
  ~Bstr() { SysFreeString(s); }
  BSTR* put() {
    SysFreeString(s);
    s = nullptr;
    return &s;
  }
  std::wstring str() const { return s ? std::wstring(s, SysStringLen(s)) : std::wstring(); }
};

std::wstring Name(ITypeInfo* ti, MEMBERID id = MEMBERID_NIL) {
  Bstr n;
  ti->GetDocumentation(id, n.put(), nullptr, nullptr, nullptr);
  return n.str();
}

std::wstring Doc(ITypeInfo* ti, MEMBERID id = MEMBERID_NIL) {
  Bstr d;
  ti->GetDocumentation(id, nullptr, d.put(), nullptr, nullptr);
  return d.str();
}

std::vector<std::wstring> Names(ITypeInfo* ti, MEMBERID id) {
  BSTR names[16] = {};
  UINT n = 0;
  std::vector<std::wstring> out;
  if (SUCCEEDED(ti->GetNames(id, names, 16, &n)))
    for (UINT i = 0; i < n; ++i) {
      out.emplace_back(names[i], SysStringLen(names[i]));
      SysFreeString(names[i]);
    }
  return out;
}

struct Attr {
  ITypeInfo* ti;
  TYPEATTR* a = nullptr;
  explicit Attr(ITypeInfo* t) : ti(t) { EXPECT_EQ(ti->GetTypeAttr(&a), S_OK); }
  ~Attr() {
    if (a) ti->ReleaseTypeAttr(a);
  }
  Attr(const Attr&) = delete;
  Attr& operator=(const Attr&) = delete;
  TYPEATTR* operator->() const { return a; }
};

// "long", "BSTR", a user type by its library and name, with "*" for each pointer.
std::wstring TypeName(ITypeInfo* ti, const TYPEDESC& td) {
  switch (td.vt) {
    case VT_PTR:
      return TypeName(ti, *td.lptdesc) + L"*";
    case VT_I4:
      return L"long";
    case VT_BSTR:
      return L"BSTR";
    case VT_HRESULT:
      return L"HRESULT";
    case VT_USERDEFINED: {
      Ref<ITypeInfo> ref;
      if (FAILED(ti->GetRefTypeInfo(td.hreftype, ref.put()))) return L"?";
      Ref<ITypeLib> lib;
      UINT index = 0;
      ref->GetContainingTypeLib(lib.put(), &index);
      Bstr libName;
      lib->GetDocumentation(-1, libName.put(), nullptr, nullptr, nullptr);
      return libName.str() + L"." + Name(ref.p);
    }
    default:
      return L"vt" + std::to_wstring(td.vt);
  }
}

struct Member {
  MEMBERID id;
  INVOKEKIND kind;
  const wchar_t* name;
  std::vector<std::wstring> params;  // types
  WORD flags;
};

std::vector<Member> ExpectedMembers() {
  const INVOKEKIND get = INVOKE_PROPERTYGET, put = INVOKE_PROPERTYPUT, fn = INVOKE_FUNC;
  return {
      {4, get, L"AxBorderStyle", {L"ZanQuilmo4.TxActiveFormBorderStyle*"}, 0},
      {4, put, L"AxBorderStyle", {L"ZanQuilmo4.TxActiveFormBorderStyle"}, 0},
      {18, fn, L"LoadFromFile", {L"BSTR", L"long", L"long", L"long", L"long*"}, 0},
      {19, fn, L"SaveToFile", {L"BSTR", L"long*"}, 0},
      {20, get, L"DrawEnabled", {L"long*"}, 0},
      {20, put, L"DrawEnabled", {L"long"}, 0},
      {21, get, L"PngImageBase64", {L"BSTR*"}, FUNCFLAG_FNONBROWSABLE},
      {21, put, L"PngImageBase64", {L"BSTR"}, FUNCFLAG_FNONBROWSABLE},
      {23, get, L"Picture", {L"stdole.Picture**"}, 0},
      {23, INVOKE_PROPERTYPUTREF, L"Picture", {L"stdole.Picture*"}, 0},
      {22, get, L"DrawAreaAlign", {L"ZanQuilmo4.TxCtrlAlign*"}, 0},
      {22, put, L"DrawAreaAlign", {L"ZanQuilmo4.TxCtrlAlign"}, 0},
      {24, get, L"DrawAreaWidth", {L"long*"}, 0},
      {24, put, L"DrawAreaWidth", {L"long"}, 0},
      {25, get, L"DrawAreaHeight", {L"long*"}, 0},
      {25, put, L"DrawAreaHeight", {L"long"}, 0},
  };
}

// The dispatch view of IZanQuilmoAx4 and, behind it, its interface view.
void Views(ITypeLib* lib, Ref<ITypeInfo>& disp, Ref<ITypeInfo>& iface) {
  ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IZanQuilmoAx4, disp.put()), S_OK);
  HREFTYPE h = 0;
  ASSERT_EQ(disp->GetRefTypeOfImplType(static_cast<UINT>(-1), &h), S_OK);
  ASSERT_EQ(disp->GetRefTypeInfo(h, iface.put()), S_OK);
}

// Checks every fact of the library; `kind` is the system kind the module was built for.
void CheckLibrary(ITypeLib* lib, SYSKIND kind) {
  TLIBATTR* la = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&la), S_OK);
  EXPECT_TRUE(IsEqualGUID(la->guid, LIBID_ZanQuilmo4));
  EXPECT_EQ(la->wMajorVerNum, 1);
  EXPECT_EQ(la->wMinorVerNum, 0);
  EXPECT_EQ(la->lcid, 0x0409u);
  EXPECT_EQ(la->syskind, kind);
  EXPECT_TRUE(la->wLibFlags & LIBFLAG_FCONTROL);
  EXPECT_FALSE(la->wLibFlags & (LIBFLAG_FRESTRICTED | LIBFLAG_FHIDDEN));
  lib->ReleaseTLibAttr(la);
  Bstr libName, libDoc, helpFile;
  lib->GetDocumentation(-1, libName.put(), libDoc.put(), nullptr, helpFile.put());
  EXPECT_EQ(libName.str(), L"ZanQuilmo4");
  EXPECT_FALSE(libDoc.str().empty());
  EXPECT_TRUE(helpFile.str().empty()) << "no help file";
}

void CheckInterface(ITypeLib* lib) {
  Ref<ITypeInfo> disp, iface;
  Views(lib, disp, iface);
  EXPECT_EQ(Name(disp.p), L"IZanQuilmoAx4");
  EXPECT_EQ(Doc(disp.p), L"ZanQuilmo4 DispatchInterface");
  {
    Attr a(disp.p);
    EXPECT_EQ(a->typekind, TKIND_DISPATCH);
    EXPECT_TRUE(a->wTypeFlags & TYPEFLAG_FDUAL);
    EXPECT_TRUE(a->wTypeFlags & TYPEFLAG_FDISPATCHABLE);
  }
  Attr a(iface.p);
  EXPECT_EQ(a->typekind, TKIND_INTERFACE);
  EXPECT_EQ(a->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
  EXPECT_EQ(a->wMajorVerNum, 1);
  EXPECT_EQ(a->wMinorVerNum, 0);
  ASSERT_EQ(a->cImplTypes, 1);
  HREFTYPE base = 0;
  ASSERT_EQ(iface->GetRefTypeOfImplType(0, &base), S_OK);
  Ref<ITypeInfo> dispatch;
  ASSERT_EQ(iface->GetRefTypeInfo(base, dispatch.put()), S_OK);
  EXPECT_EQ(Name(dispatch.p), L"IDispatch");
  Ref<ITypeLib> stdole;
  UINT index = 0;
  ASSERT_EQ(dispatch->GetContainingTypeLib(stdole.put(), &index), S_OK);
  TLIBATTR* sa = nullptr;
  ASSERT_EQ(stdole->GetLibAttr(&sa), S_OK);
  EXPECT_TRUE(IsEqualGUID(sa->guid, kStdOle));
  EXPECT_EQ(sa->wMajorVerNum, 2);
  EXPECT_EQ(sa->wMinorVerNum, 0);
  stdole->ReleaseTLibAttr(sa);

  const auto expected = ExpectedMembers();
  ASSERT_EQ(a->cFuncs, expected.size());
  // oleaut32 reports vtable offsets for the process that loaded the library, whatever system
  // kind the file was written for (the file's own offsets are checked by check_typelib.py).
  const SHORT ptr = sizeof(void*);
  for (UINT i = 0; i < a->cFuncs; ++i) {
    const Member& m = expected[i];
    SCOPED_TRACE(testing::Message() << "member " << i + 1 << " " << zqtest::Narrow(m.name));
    FUNCDESC* f = nullptr;
    ASSERT_EQ(iface->GetFuncDesc(i, &f), S_OK);
    EXPECT_EQ(f->memid, m.id);
    EXPECT_EQ(f->invkind, m.kind);
    EXPECT_EQ(f->funckind, FUNC_PUREVIRTUAL);
    EXPECT_EQ(f->callconv, CC_STDCALL);
    EXPECT_EQ(f->oVft, static_cast<SHORT>((7 + i) * ptr)) << "vtable order";
    EXPECT_EQ(f->wFuncFlags, m.flags);
    EXPECT_EQ(TypeName(iface.p, f->elemdescFunc.tdesc), L"HRESULT");
    ASSERT_EQ(f->cParams, static_cast<SHORT>(m.params.size()));
    for (SHORT p = 0; p < f->cParams; ++p)
      EXPECT_EQ(TypeName(iface.p, f->lprgelemdescParam[p].tdesc), m.params[p]) << "parameter " << p;
    const USHORT last = f->lprgelemdescParam[f->cParams - 1].paramdesc.wParamFlags;
    if (m.kind == INVOKE_FUNC || m.kind == INVOKE_PROPERTYGET)
      EXPECT_EQ(last, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    else
      EXPECT_EQ(last, PARAMFLAG_FIN);
    Bstr name;
    iface->GetDocumentation(f->memid, name.put(), nullptr, nullptr, nullptr);
    EXPECT_EQ(name.str(), m.name);
    iface->ReleaseFuncDesc(f);
  }
}

}  // namespace

// The system kind of the libraries this build makes (widl writes one for its target).
constexpr SYSKIND kThisBuild = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;

class TypeLib : public ::testing::Test {
 protected:
  void Load(const char* variable, SYSKIND kind) {
    const std::wstring path = zqtest::EnvDir(variable);
    ASSERT_FALSE(path.empty()) << variable << " is not set";
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
      if (std::getenv("ZQ_REQUIRE_I686")) FAIL() << zqtest::Narrow(path) << " is missing";
      GTEST_SKIP() << zqtest::Narrow(path) << " not built";
    }
    ASSERT_EQ(LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib_.put()), S_OK) << zqtest::Narrow(path);
    kind_ = kind;
  }
  Ref<ITypeLib> lib_;
  SYSKIND kind_ = kThisBuild;
};

TEST_F(TypeLib, LibraryOfTheModule) {
  Load("ZQ_OCX", kThisBuild);
  CheckLibrary(lib_.p, kind_);
}

TEST_F(TypeLib, LibraryOfThe32BitModule) {
  Load("ZQ_I686_OCX", SYS_WIN32);
  if (IsSkipped()) return;
  CheckLibrary(lib_.p, kind_);
  CheckInterface(lib_.p);
}

TEST_F(TypeLib, DualInterfaceInVtableOrder) {
  Load("ZQ_OCX", kThisBuild);
  CheckInterface(lib_.p);
}

TEST_F(TypeLib, NamesAndDefaults) {
  Load("ZQ_OCX", kThisBuild);
  Ref<ITypeInfo> disp, iface;
  Views(lib_.p, disp, iface);
  using V = std::vector<std::wstring>;
  // In the interface view, get entries name their parameter Value; a put's value is unnamed,
  // so a property's names are those of its get entry. (The dispatch view leaves the retval
  // parameters out.)
  for (const auto& [id, name] : std::vector<std::pair<MEMBERID, const wchar_t*>>{
           {4, L"AxBorderStyle"}, {20, L"DrawEnabled"}, {21, L"PngImageBase64"}, {23, L"Picture"},
           {22, L"DrawAreaAlign"}, {24, L"DrawAreaWidth"}, {25, L"DrawAreaHeight"}})
    EXPECT_EQ(Names(iface.p, id), (V{name, L"Value"}));
  EXPECT_EQ(Names(iface.p, 18), (V{L"LoadFromFile", L"FileName", L"Manual", L"x", L"y", L"Result"}));
  EXPECT_EQ(Names(iface.p, 19), (V{L"SaveToFile", L"FileName", L"Result"}));
  EXPECT_EQ(Names(disp.p, 19), (V{L"SaveToFile", L"FileName"}));

  FUNCDESC* f = nullptr;
  ASSERT_EQ(iface->GetFuncDesc(2, &f), S_OK);  // LoadFromFile
  EXPECT_EQ(f->lprgelemdescParam[0].paramdesc.wParamFlags, PARAMFLAG_FIN);
  for (int p = 1; p <= 3; ++p) {
    const PARAMDESC& pd = f->lprgelemdescParam[p].paramdesc;
    EXPECT_EQ(pd.wParamFlags, PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT) << p;
    ASSERT_NE(pd.pparamdescex, nullptr);
    VARIANT v;
    VariantInit(&v);
    ASSERT_EQ(VariantChangeType(&v, &pd.pparamdescex->varDefaultValue, 0, VT_I4), S_OK);
    EXPECT_EQ(v.lVal, 0) << p;
  }
  iface->ReleaseFuncDesc(f);
}

TEST_F(TypeLib, DispatchNamesOfTheLibraryOnly) {
  Load("ZQ_OCX", kThisBuild);
  Ref<ITypeInfo> disp;
  ASSERT_EQ(lib_->GetTypeInfoOfGuid(IID_IZanQuilmoAx4, disp.put()), S_OK);
  for (const auto& [name, want] : std::vector<std::pair<const wchar_t*, MEMBERID>>{
           {L"AxBorderStyle", 4}, {L"LoadFromFile", 18}, {L"SaveToFile", 19}, {L"DrawEnabled", 20},
           {L"PngImageBase64", 21}, {L"DrawAreaAlign", 22}, {L"Picture", 23},
           {L"DrawAreaWidth", 24}, {L"DrawAreaHeight", 25}}) {
    LPOLESTR n = const_cast<LPOLESTR>(name);
    MEMBERID id = 0;
    EXPECT_EQ(disp->GetIDsOfNames(&n, 1, &id), S_OK) << zqtest::Narrow(name);
    EXPECT_EQ(id, want);
  }
  for (const wchar_t* name : {L"Enabled", L"Visible", L"Enabled2", L"Picture2"}) {
    LPOLESTR n = const_cast<LPOLESTR>(name);
    MEMBERID id = 0;
    EXPECT_EQ(disp->GetIDsOfNames(&n, 1, &id), DISP_E_UNKNOWNNAME) << zqtest::Narrow(name);
  }
}

TEST_F(TypeLib, EmptyEventInterface) {
  Load("ZQ_OCX", kThisBuild);
  Ref<ITypeInfo> ev;
  ASSERT_EQ(lib_->GetTypeInfoOfGuid(kEvents, ev.put()), S_OK);
  EXPECT_EQ(Name(ev.p), L"IZanQuilmoAx4Events");
  EXPECT_EQ(Doc(ev.p), L"ZanQuilmo4 EventsInterface");
  Attr a(ev.p);
  EXPECT_EQ(a->typekind, TKIND_DISPATCH);
  EXPECT_FALSE(a->wTypeFlags & TYPEFLAG_FDUAL);
  EXPECT_EQ(a->cFuncs, 0);
  EXPECT_EQ(a->cVars, 0);
}

TEST_F(TypeLib, ControlClass) {
  Load("ZQ_OCX", kThisBuild);
  Ref<ITypeInfo> cls;
  ASSERT_EQ(lib_->GetTypeInfoOfGuid(kClass, cls.put()), S_OK);
  EXPECT_EQ(Name(cls.p), L"ZanQuilmoAx4");
  EXPECT_EQ(Doc(cls.p), L"ZanQuilmo4 Control");
  Attr a(cls.p);
  EXPECT_EQ(a->typekind, TKIND_COCLASS);
  EXPECT_EQ(a->wTypeFlags, TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL);
  ASSERT_EQ(a->cImplTypes, 2);
  const std::pair<const wchar_t*, INT> impls[] = {
      {L"IZanQuilmoAx4", IMPLTYPEFLAG_FDEFAULT},
      {L"IZanQuilmoAx4Events", IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}};
  for (UINT i = 0; i < 2; ++i) {
    HREFTYPE h = 0;
    Ref<ITypeInfo> t;
    INT flags = 0;
    ASSERT_EQ(cls->GetRefTypeOfImplType(i, &h), S_OK);
    ASSERT_EQ(cls->GetRefTypeInfo(h, t.put()), S_OK);
    ASSERT_EQ(cls->GetImplTypeFlags(i, &flags), S_OK);
    EXPECT_EQ(Name(t.p), impls[i].first);
    EXPECT_EQ(flags, impls[i].second);
  }
}

TEST_F(TypeLib, Enumerations) {
  Load("ZQ_OCX", kThisBuild);
  struct Enum {
    GUID guid;
    const wchar_t* name;
    std::vector<const wchar_t*> members;
    bool namesAsHelp;
  };
  const Enum enums[] = {
      {kBorderStyle, L"TxActiveFormBorderStyle", {L"afbNone", L"afbSingle", L"afbSunken", L"afbRaised"}, true},
      {kMouseButton, L"TxMouseButton", {L"mbLeft", L"mbRight", L"mbMiddle"}, true},
      {kCtrlAlign, L"TxCtrlAlign", {L"alAutomatic", L"alManual"}, false}};
  for (const Enum& e : enums) {
    SCOPED_TRACE(zqtest::Narrow(e.name));
    Ref<ITypeInfo> ti;
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(e.guid, ti.put()), S_OK);
    EXPECT_EQ(Name(ti.p), e.name);
    Attr a(ti.p);
    EXPECT_EQ(a->typekind, TKIND_ENUM);
    EXPECT_EQ(a->cbSizeInstance, 4u) << "32-bit";
    ASSERT_EQ(a->cVars, e.members.size());
    for (UINT i = 0; i < a->cVars; ++i) {
      VARDESC* v = nullptr;
      ASSERT_EQ(ti->GetVarDesc(i, &v), S_OK);
      EXPECT_EQ(v->varkind, VAR_CONST);
      VARIANT value;
      VariantInit(&value);
      ASSERT_EQ(VariantChangeType(&value, v->lpvarValue, 0, VT_I4), S_OK);
      EXPECT_EQ(value.lVal, static_cast<LONG>(i));
      EXPECT_EQ(Name(ti.p, v->memid), e.members[i]);
      EXPECT_EQ(Doc(ti.p, v->memid), e.namesAsHelp ? e.members[i] : L"");
      ti->ReleaseVarDesc(v);
    }
  }
}

TEST_F(TypeLib, NoMemberUsesTheMouseButtonEnumeration) {
  Load("ZQ_OCX", kThisBuild);
  Ref<ITypeInfo> disp, iface;
  Views(lib_.p, disp, iface);
  Attr a(iface.p);
  for (UINT i = 0; i < a->cFuncs; ++i) {
    FUNCDESC* f = nullptr;
    ASSERT_EQ(iface->GetFuncDesc(i, &f), S_OK);
    for (SHORT p = 0; p < f->cParams; ++p)
      EXPECT_EQ(TypeName(iface.p, f->lprgelemdescParam[p].tdesc).find(L"TxMouseButton"), std::wstring::npos);
    iface->ReleaseFuncDesc(f);
  }
}
