#include "Com.h"

#include <cstdio>
#include <new>

#include "Application.h"

namespace zq::fw {

HRESULT TableQueryInterface(void* object, const QiEntry* table, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (IsEqualIID(riid, IID_IUnknown)) {
    auto* p = reinterpret_cast<IUnknown*>(static_cast<char*>(object) + table[0].offset);
    p->AddRef();
    *ppv = p;
    return S_OK;
  }
  for (const QiEntry* e = table; e->iid; ++e) {
    if (IsEqualIID(riid, *e->iid)) {
      auto* p = reinterpret_cast<IUnknown*>(static_cast<char*>(object) + e->offset);
      p->AddRef();
      *ppv = p;
      return S_OK;
    }
  }
  return E_NOINTERFACE;
}

void SetComError(REFGUID iid, const std::wstring& source, const std::wstring& description, DWORD helpContext) {
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.put()))) return;
  create->SetGUID(iid);
  create->SetSource(const_cast<LPOLESTR>(source.c_str()));
  create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
  create->SetHelpContext(helpContext);
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create.As(info))) SetErrorInfo(0, info.get());
}

HRESULT ComErrorFromException(REFGUID iid, const wchar_t* source) noexcept {
  if (!source) source = L"";
  try {
    try {
      throw;
    } catch (const Error& e) {
      SetComError(iid, source, Widen(e.what()));
      return e.code() < 0 ? static_cast<HRESULT>(e.code()) : E_UNEXPECTED;
    } catch (const std::bad_alloc&) {
      SetComError(iid, source, L"out of memory");
      return E_OUTOFMEMORY;
    } catch (const std::exception& e) {
      SetComError(iid, source, Widen(e.what()));
      return E_UNEXPECTED;
    } catch (...) {
      SetComError(iid, source, L"unexpected error");
      return E_UNEXPECTED;
    }
  } catch (...) {
    return E_UNEXPECTED;
  }
}

void ThrowIfFailed(HRESULT hr, const char* what) {
  if (SUCCEEDED(hr)) return;
  ComPtr<IErrorInfo> info;
  std::wstring text;
  if (GetErrorInfo(0, info.put()) == S_OK && info) {
    BStr d;
    if (SUCCEEDED(info->GetDescription(d.put()))) text = d.str();
  }
  if (text.empty()) {
    char code[16];
    std::snprintf(code, sizeof code, "%08lX", static_cast<unsigned long>(hr));
    throw Error(std::string(what) + " failed (HRESULT " + code + ")", hr);
  }
  throw Error(Narrow(text), hr);
}

std::wstring ModulePath(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) throw Error("GetModuleFileName failed", static_cast<long>(GetLastError()));
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

ComPtr<ITypeLib> LoadModuleTypeLib(HMODULE module) {
  ComPtr<ITypeLib> lib;
  const HRESULT hr = LoadTypeLibEx(ModulePath(module).c_str(), REGKIND_NONE, lib.put());
  if (FAILED(hr)) throw Error("cannot load the type library of the module", hr);
  return lib;
}

HRESULT DispatchHelper::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = info_ ? 1 : 0;
  return S_OK;
}

HRESULT DispatchHelper::GetTypeInfo(UINT index, ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  if (!info_) return E_NOTIMPL;
  *out = info_.get();
  info_->AddRef();
  return S_OK;
}

HRESULT DispatchHelper::GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) {
  if (!info_) return E_NOTIMPL;
  return info_->GetIDsOfNames(names, count, ids);
}

namespace {

// The interface a parameter of an interface type asks for (IID_NULL for any other type).
IID InterfaceOf(ITypeInfo* info, const TYPEDESC& t) {
  if (t.vt != VT_PTR || !t.lptdesc || t.lptdesc->vt != VT_USERDEFINED) return IID_NULL;
  ComPtr<ITypeInfo> ref;
  TYPEATTR* attr = nullptr;
  if (FAILED(info->GetRefTypeInfo(t.lptdesc->hreftype, ref.put())) || FAILED(ref->GetTypeAttr(&attr))) return IID_NULL;
  const IID iid = attr->typekind == TKIND_INTERFACE || attr->typekind == TKIND_DISPATCH ? attr->guid : IID_NULL;
  ref->ReleaseTypeAttr(attr);
  return iid;
}

// Whether a call fits one description of the member: the number of arguments (a property
// put's value among them; optional parameters may be left out), the named arguments (only a
// put's DISPID_PROPERTYPUT, which a put must name), and arguments of simple types that convert
// to the parameter's type. The platform's dispatch would otherwise call the member with what
// it has, and with arguments on a property get it calls the default member of the result,
// null or not.
HRESULT FitsCall(ITypeInfo* info, const FUNCDESC& fd, WORD invkind, const DISPPARAMS& p, UINT* argErr) {
  int params = fd.cParams, required = 0;
  for (int i = 0; i < fd.cParams; ++i) {
    const USHORT f = fd.lprgelemdescParam[i].paramdesc.wParamFlags;
    if (f & PARAMFLAG_FRETVAL) --params;
    else if (!(f & PARAMFLAG_FOPT)) ++required;
  }
  const bool put = invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF);
  if (put ? p.cNamedArgs != 1 || p.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT : p.cNamedArgs != 0)
    return put ? DISP_E_PARAMNOTFOUND : DISP_E_NONAMEDARGS;
  if (static_cast<int>(p.cArgs) < (put ? params : required) || static_cast<int>(p.cArgs) > params)
    return DISP_E_BADPARAMCOUNT;
  for (UINT k = 0; k < p.cArgs; ++k) {  // parameter k is rgvarg[cArgs - 1 - k]
    const UINT at = p.cArgs - 1 - k;
    VARTYPE want = fd.lprgelemdescParam[k].tdesc.vt;
    if (want == VT_PTR) {  // an object: it must offer the interface (or be null)
      const IID iid = InterfaceOf(info, fd.lprgelemdescParam[k].tdesc);
      const VARIANT& a = p.rgvarg[at];
      IUnknown* object = a.vt == VT_DISPATCH || a.vt == VT_UNKNOWN ? a.punkVal : nullptr;
      if (IsEqualIID(iid, IID_NULL) || !object) continue;
      ComPtr<IUnknown> probe;
      if (SUCCEEDED(object->QueryInterface(iid, probe.put_void()))) continue;
      if (argErr) *argErr = at;
      return DISP_E_TYPEMISMATCH;
    }
    if (want == VT_USERDEFINED) want = VT_I4;  // the enumerations
    if (want != VT_BSTR && want != VT_I2 && want != VT_I4 && want != VT_BOOL) continue;
    const VARTYPE got = p.rgvarg[at].vt;
    if (got == VT_ERROR && (fd.lprgelemdescParam[k].paramdesc.wParamFlags & PARAMFLAG_FOPT)) continue;  // left out
    VARIANT probe;
    VariantInit(&probe);
    const HRESULT hr = VariantChangeType(&probe, &p.rgvarg[at], 0, want);
    VariantClear(&probe);
    if (FAILED(hr)) {
      if (argErr) *argErr = at;
      return DISP_E_TYPEMISMATCH;
    }
  }
  return S_OK;
}

// The verdict on a call's shape: S_OK when some description of the member (of a kind the
// flags ask for) takes it, else why the first one does not; S_OK too for an unknown member,
// which the platform answers itself.
HRESULT CheckCall(ITypeInfo* info, DISPID id, WORD flags, const DISPPARAMS* p, UINT* argErr) {
  if (!p || (p->cArgs && !p->rgvarg) || (p->cNamedArgs && !p->rgdispidNamedArgs)) return E_INVALIDARG;
  TYPEATTR* attr = nullptr;
  if (FAILED(info->GetTypeAttr(&attr))) return S_OK;
  const WORD count = attr->cFuncs;
  info->ReleaseTypeAttr(attr);
  HRESULT verdict = S_OK;
  bool found = false;
  for (UINT i = 0; i < count; ++i) {
    FUNCDESC* fd = nullptr;
    if (FAILED(info->GetFuncDesc(i, &fd))) continue;
    if (fd->memid == id && (fd->invkind & flags)) {
      const HRESULT hr = FitsCall(info, *fd, static_cast<WORD>(fd->invkind), *p, argErr);
      if (SUCCEEDED(hr)) {
        info->ReleaseFuncDesc(fd);
        return S_OK;
      }
      if (!found) verdict = hr;
      found = true;
    }
    info->ReleaseFuncDesc(fd);
  }
  return verdict;
}

}  // namespace

HRESULT DispatchHelper::Invoke(void* dual, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO* excep, UINT* argErr) {
  if (!info_) return E_NOTIMPL;
  // Put and put-by-reference are alike here (below): either description may take the call.
  const WORD asked = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))
                         ? static_cast<WORD>(flags | DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)
                         : flags;
  if (const HRESULT shape = CheckCall(info_.get(), id, asked, params, argErr); FAILED(shape)) return shape;
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    // Try the flavour the caller named first, then the other one.
    const WORD asked = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
    const WORD rest = flags & ~(DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
    HRESULT hr = info_->Invoke(dual, id, static_cast<WORD>(rest | asked), params, result, excep, argErr);
    if (hr != DISP_E_MEMBERNOTFOUND || asked == (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return hr;
    const WORD other = asked == DISPATCH_PROPERTYPUT ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT;
    return info_->Invoke(dual, id, static_cast<WORD>(rest | other), params, result, excep, argErr);
  }
  return info_->Invoke(dual, id, flags, params, result, excep, argErr);
}

HRESULT GetProperty(IDispatch* d, DISPID id, VARIANT* result) {
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  return d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, result, nullptr, nullptr);
}

HRESULT PutProperty(IDispatch* d, DISPID id, const VARIANT& value, bool byRef) {
  VARIANT arg = value;
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&arg, &named, 1, 1};
  return d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, byRef ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT,
                   &params, nullptr, nullptr, nullptr);
}

STDMETHODIMP ClassFactory::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

// References to the factory count as live objects of the module; the factory itself is
// static and never deleted.
STDMETHODIMP_(ULONG) ClassFactory::AddRef() {
  ModuleCount::Add();
  return static_cast<ULONG>(refs_.fetch_add(1) + 1);
}

STDMETHODIMP_(ULONG) ClassFactory::Release() {
  ModuleCount::Remove();
  return static_cast<ULONG>(refs_.fetch_sub(1) - 1);
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (aggregating_) {
    if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    return aggregating_(outer, riid, ppv);
  }
  if (outer) return CLASS_E_NOAGGREGATION;  // no aggregation, whatever the interface
  return create_(riid, ppv);
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock) {
  if (lock) {
    ModuleCount::Add();
    CoLockObjectExternal(this, TRUE, TRUE);
  } else {
    CoLockObjectExternal(this, FALSE, TRUE);
    ModuleCount::Remove();
  }
  return S_OK;
}

ComPtr<ITypeInfo> DualInterfaceInfo(ITypeLib* lib, REFIID iid) {
  ComPtr<ITypeInfo> info, dual;
  if (!lib || FAILED(lib->GetTypeInfoOfGuid(iid, info.put()))) return {};
  HREFTYPE h = 0;
  if (SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &h)) && SUCCEEDED(info->GetRefTypeInfo(h, dual.put())))
    return dual;
  return info;
}

}  // namespace zq::fw
