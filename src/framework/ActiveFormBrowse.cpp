// ActiveFormControl: quick activation, property pages (none) and property browsing (the
// names of an enumeration property's values, from the type library).
#include "ActiveForm.h"

namespace zq::fw {

// ---- IQuickActivate ----

STDMETHODIMP ActiveFormControl::QuickActivate(QACONTAINER* c, QACONTROL* out) {
  if (!c || !out) return E_POINTER;
  if (c->cbSize < sizeof(QACONTAINER) || out->cbSize < sizeof(QACONTROL)) return E_INVALIDARG;
  SetClientSite(c->pClientSite);
  if (c->pAdviseSink) SetAdvise(DVASPECT_CONTENT, 0, c->pAdviseSink);
  out->dwMiscStatus = d_.miscStatus;
  out->dwViewStatus = VIEWSTATUS_OPAQUE;
  out->dwEventCookie = 0;
  out->dwPropNotifyCookie = 0;
  out->dwPointerActivationPolicy = 0;
  if (c->pUnkEventSink) EventPoint().Advise(c->pUnkEventSink, &out->dwEventCookie);
  return S_OK;
}

// ---- property pages and browsing ----

STDMETHODIMP ActiveFormControl::GetPages(CAUUID* pages) {
  if (!pages) return E_POINTER;
  pages->cElems = 0;
  pages->pElems = nullptr;
  return S_OK;
}

ComPtr<ITypeInfo> ActiveFormControl::EnumTypeOf(DISPID id) const {
  if (!DualInfo()) return {};
  TYPEATTR* attr = nullptr;
  if (FAILED(DualInfo()->GetTypeAttr(&attr))) return {};
  const WORD count = attr->cFuncs;
  DualInfo()->ReleaseTypeAttr(attr);
  for (UINT i = 0; i < count; ++i) {
    FUNCDESC* fd = nullptr;
    if (FAILED(DualInfo()->GetFuncDesc(i, &fd))) continue;
    ComPtr<ITypeInfo> result;
    if (fd->memid == id && fd->invkind == INVOKE_PROPERTYGET && fd->elemdescFunc.tdesc.vt == VT_USERDEFINED) {
      ComPtr<ITypeInfo> t;
      TYPEATTR* ta = nullptr;
      if (SUCCEEDED(DualInfo()->GetRefTypeInfo(fd->elemdescFunc.tdesc.hreftype, t.put())) &&
          SUCCEEDED(t->GetTypeAttr(&ta))) {
        if (ta->typekind == TKIND_ENUM) result = t;
        t->ReleaseTypeAttr(ta);
      }
    }
    DualInfo()->ReleaseFuncDesc(fd);
    if (result) return result;
  }
  return {};
}

STDMETHODIMP ActiveFormControl::GetDisplayString(DISPID id, BSTR* text) {
  if (!text) return E_POINTER;
  *text = nullptr;
  ComPtr<ITypeInfo> e = EnumTypeOf(id);
  if (!e) return E_NOTIMPL;
  Variant v;
  if (FAILED(GetProperty(Automation(), id, v.get())) || FAILED(VariantChangeType(v.get(), v.get(), 0, VT_I4)))
    return E_FAIL;
  TYPEATTR* ta = nullptr;
  if (FAILED(e->GetTypeAttr(&ta))) return E_FAIL;
  const WORD n = ta->cVars;
  e->ReleaseTypeAttr(ta);
  for (UINT i = 0; i < n; ++i) {
    VARDESC* vd = nullptr;
    if (FAILED(e->GetVarDesc(i, &vd))) continue;
    const bool match = vd->varkind == VAR_CONST && vd->lpvarValue && vd->lpvarValue->lVal == (*v).lVal;
    const MEMBERID member = vd->memid;
    e->ReleaseVarDesc(vd);
    if (!match) continue;
    BStr name;
    UINT got = 0;
    if (SUCCEEDED(e->GetNames(member, name.put(), 1, &got)) && got) {
      *text = SysAllocString((std::to_wstring((*v).lVal) + L" - " + name.str()).c_str());
      return *text ? S_OK : E_OUTOFMEMORY;
    }
  }
  return E_FAIL;
}

STDMETHODIMP ActiveFormControl::MapPropertyToPage(DISPID, CLSID* clsid) {
  if (clsid) *clsid = CLSID_NULL;
  return PERPROP_E_NOPAGEAVAILABLE;
}

STDMETHODIMP ActiveFormControl::GetPredefinedStrings(DISPID id, CALPOLESTR* strings, CADWORD* cookies) {
  if (!strings || !cookies) return E_POINTER;
  strings->cElems = cookies->cElems = 0;
  strings->pElems = nullptr;
  cookies->pElems = nullptr;
  ComPtr<ITypeInfo> e = EnumTypeOf(id);
  if (!e) return E_NOTIMPL;
  TYPEATTR* ta = nullptr;
  if (FAILED(e->GetTypeAttr(&ta))) return E_FAIL;
  const WORD n = ta->cVars;
  e->ReleaseTypeAttr(ta);
  strings->pElems = static_cast<LPOLESTR*>(CoTaskMemAlloc(sizeof(LPOLESTR) * std::max<WORD>(n, 1)));
  cookies->pElems = static_cast<DWORD*>(CoTaskMemAlloc(sizeof(DWORD) * std::max<WORD>(n, 1)));
  if (!strings->pElems || !cookies->pElems) {
    CoTaskMemFree(strings->pElems);
    CoTaskMemFree(cookies->pElems);
    strings->pElems = nullptr;
    cookies->pElems = nullptr;
    return E_OUTOFMEMORY;
  }
  for (UINT i = 0; i < n; ++i) {
    VARDESC* vd = nullptr;
    if (FAILED(e->GetVarDesc(i, &vd))) continue;
    const LONG value = vd->lpvarValue ? vd->lpvarValue->lVal : 0;
    const MEMBERID member = vd->memid;
    e->ReleaseVarDesc(vd);
    BStr name;
    UINT got = 0;
    e->GetNames(member, name.put(), 1, &got);
    const std::wstring text = std::to_wstring(value) + L" - " + name.str();
    auto* s = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    if (!s) continue;
    wmemcpy(s, text.c_str(), text.size() + 1);
    strings->pElems[strings->cElems++] = s;
    cookies->pElems[cookies->cElems++] = static_cast<DWORD>(value);
  }
  return S_OK;
}

STDMETHODIMP ActiveFormControl::GetPredefinedValue(DISPID id, DWORD cookie, VARIANT* value) {
  if (!value) return E_POINTER;
  if (!EnumTypeOf(id)) return E_NOTIMPL;
  VariantInit(value);
  value->vt = VT_I4;
  value->lVal = static_cast<LONG>(cookie);
  return S_OK;
}

}  // namespace zq::fw
