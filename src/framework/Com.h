// COM helpers: smart pointers, BSTR and VARIANT owners, the module's object count, table
// driven QueryInterface, class factories, COM error information, type libraries loaded from
// the module itself and IDispatch on a dual interface's type information.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <exception>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "Gdi.h"

namespace zq::fw {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(T* p) : p_(p) {  // NOLINT: takes a reference of its own
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ~ComPtr() { reset(); }
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }
  // For out parameters: releases what is held and hands out the slot.
  T** put() {
    reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T* detach() { return std::exchange(p_, nullptr); }
  // Takes over a reference without adding one.
  static ComPtr Attach(T* p) {
    ComPtr c;
    c.p_ = p;
    return c;
  }
  template <class U>
  HRESULT As(ComPtr<U>& out) const {
    return p_ ? p_->QueryInterface(__uuidof(U), out.put_void()) : E_NOINTERFACE;
  }

 private:
  T* p_ = nullptr;
};

// The reference an owner holds on an object it made for others to call back (a client
// site, an event sink), which may outlive the owner in their hands: when the owner lets go,
// the object is first told (Orphan) that the owner is gone.
template <class T>
class OrphaningRef {
 public:
  OrphaningRef() = default;
  explicit OrphaningRef(T* made) : p_(made) {}  // takes over the creator's reference
  ~OrphaningRef() { reset(); }
  OrphaningRef(const OrphaningRef&) = delete;
  OrphaningRef& operator=(const OrphaningRef&) = delete;
  // Lets the object go (and takes over `made`, the creator's reference, if given).
  void reset(T* made = nullptr) {
    if (T* old = std::exchange(p_, made)) {
      old->Orphan();
      old->Release();
    }
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }

 private:
  T* p_ = nullptr;
};

// The characters of a BSTR, which may be null (the empty text) and may hold null characters.
inline std::wstring_view BStrView(BSTR b) { return b ? std::wstring_view(b, SysStringLen(b)) : std::wstring_view(); }

class BStr {
 public:
  BStr() = default;
  explicit BStr(const wchar_t* s) : b_(s ? SysAllocString(s) : nullptr) {}
  explicit BStr(const std::wstring& s) : b_(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
  ~BStr() { SysFreeString(b_); }
  BStr(const BStr&) = delete;
  BStr& operator=(const BStr&) = delete;
  BStr(BStr&& o) noexcept : b_(std::exchange(o.b_, nullptr)) {}
  BStr& operator=(BStr&& o) noexcept {
    std::swap(b_, o.b_);
    return *this;
  }
  // Takes over a string the caller allocated.
  static BStr Attach(BSTR b) {
    BStr s;
    s.b_ = b;
    return s;
  }
  BSTR* put() {
    SysFreeString(b_);
    b_ = nullptr;
    return &b_;
  }
  BSTR get() const { return b_; }
  BSTR detach() { return std::exchange(b_, nullptr); }
  std::wstring str() const { return std::wstring(BStrView(b_)); }

 private:
  BSTR b_ = nullptr;
};

class Variant {
 public:
  Variant() { VariantInit(&v_); }
  ~Variant() { VariantClear(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* get() { return &v_; }
  VARIANT& operator*() { return v_; }

 private:
  VARIANT v_;
};

// The number of live objects and server locks of this module (for DllCanUnloadNow).
class ModuleCount {
 public:
  static void Add() { count_.fetch_add(1); }
  static void Remove() { count_.fetch_sub(1); }
  static long Value() { return count_.load(); }

 private:
  static inline std::atomic<long> count_{0};
};

// Counts an object in the module for as long as it lives.
class ModuleObject {
 public:
  ModuleObject() { ModuleCount::Add(); }
  ~ModuleObject() { ModuleCount::Remove(); }
  ModuleObject(const ModuleObject&) = delete;
  ModuleObject& operator=(const ModuleObject&) = delete;
};

// One entry of a QueryInterface table: an interface and where it lies in the object.
struct QiEntry {
  const IID* iid;
  std::ptrdiff_t offset;
};
template <class Base, class Derived>
std::ptrdiff_t QiOffset() {
  return reinterpret_cast<char*>(static_cast<Base*>(reinterpret_cast<Derived*>(8))) - reinterpret_cast<char*>(8);
}
// Answers QueryInterface from a table ending with a null iid; IUnknown is the first entry's.
HRESULT TableQueryInterface(void* object, const QiEntry* table, REFIID riid, void** ppv);

// The one reference count of the framework's COM objects: atomic, starting at 1 (the
// creator's reference), counting the object in the module while it lives, and deleting it
// through its virtual destructor at 0. (The class factories are the exception: they live as
// long as the module and count their references as module locks.)
class RefCounted {
 public:
  RefCounted() { ModuleCount::Add(); }
  virtual ~RefCounted() { ModuleCount::Remove(); }
  RefCounted(const RefCounted&) = delete;
  RefCounted& operator=(const RefCounted&) = delete;
  ULONG AddRefImpl() { return static_cast<ULONG>(refs_.fetch_add(1) + 1); }
  ULONG ReleaseImpl() {
    const long n = refs_.fetch_sub(1) - 1;
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }

 private:
  std::atomic<long> refs_{1};
};

// Sets the thread's COM error information: the interface, the source (a ProgID), the text.
void SetComError(REFGUID iid, const std::wstring& source, const std::wstring& description, DWORD helpContext = 0);
// The HRESULT of the exception being handled (an Error's negative code, or E_UNEXPECTED /
// E_OUTOFMEMORY), after setting the error information. Call from a catch block.
HRESULT ComErrorFromException(REFGUID iid, const wchar_t* source) noexcept;

// The boundary of every COM method of the framework and its controls: runs `work` and
// answers its HRESULT (S_OK for work that returns nothing); an exception becomes its
// HRESULT, with error information naming the interface `iid` and the source `source` (a
// ProgID). Nothing is allocated unless something fails, and no exception crosses it.
template <class F>
HRESULT ComBoundary(REFGUID iid, const wchar_t* source, F&& work) noexcept {
  try {
    if constexpr (std::is_void_v<std::invoke_result_t<F&>>) {
      work();
      return S_OK;
    } else {
      return work();
    }
  } catch (...) {
    return ComErrorFromException(iid, source);
  }
}

// Throws Error for a failed HRESULT, with the description of the thread's COM error
// information when the failing object left one (else `what`), as a caller of a COM method
// sees its failure.
void ThrowIfFailed(HRESULT hr, const char* what);

// The full path of a module.
std::wstring ModulePath(HMODULE module);
// The type library in a module's resource "TYPELIB" 1.
ComPtr<ITypeLib> LoadModuleTypeLib(HMODULE module);

// IDispatch through a type library's description of a dual interface: GetIDsOfNames and
// Invoke go to ITypeInfo, which calls the object's vtable. A put and a put-by-reference
// are treated alike, so that a caller may assign an object property with either.
class DispatchHelper {
 public:
  DispatchHelper() = default;
  DispatchHelper(ComPtr<ITypeInfo> info) : info_(std::move(info)) {}
  HRESULT GetTypeInfoCount(UINT* count);
  HRESULT GetTypeInfo(UINT index, ITypeInfo** out);
  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids);
  HRESULT Invoke(void* dualInterface, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excep, UINT* argErr);
  ITypeInfo* Info() const { return info_.get(); }

 private:
  ComPtr<ITypeInfo> info_;
};

// The type information of a dual interface's function table (what ITypeInfo::Invoke needs
// to call through it), or of the interface itself when it is not dual; null when the
// library does not hold it.
ComPtr<ITypeInfo> DualInterfaceInfo(ITypeLib* lib, REFIID iid);

// IDispatch for an object's dual interface Iface, through the interface's type information:
// the object derives from DualDispatch<Iface> instead of from Iface.
template <class Iface>
class DualDispatch : public Iface {
 public:
  explicit DualDispatch(ComPtr<ITypeInfo> info) : dispatch_(std::move(info)) {}
  STDMETHODIMP GetTypeInfoCount(UINT* n) override { return dispatch_.GetTypeInfoCount(n); }
  STDMETHODIMP GetTypeInfo(UINT i, LCID, ITypeInfo** t) override { return dispatch_.GetTypeInfo(i, t); }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT n, LCID, DISPID* ids) override {
    return dispatch_.GetIDsOfNames(names, n, ids);
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* p, VARIANT* r, EXCEPINFO* e, UINT* a) override {
    return dispatch_.Invoke(static_cast<Iface*>(this), id, flags, p, r, e, a);
  }

 private:
  DispatchHelper dispatch_;
};

// Calls a property getter or setter by DISPID on any IDispatch.
HRESULT GetProperty(IDispatch* d, DISPID id, VARIANT* result);
HRESULT PutProperty(IDispatch* d, DISPID id, const VARIANT& value, bool byRef = false);

// A class factory for one class: CreateInstance makes a new object through `create`.
using CreateFunction = HRESULT (*)(REFIID riid, void** ppv);
// A class that can be aggregated is made by an AggregatingCreateFunction; the factory then
// passes the outer object on (and refuses one with any interface but IUnknown).
using AggregatingCreateFunction = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);
class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(CreateFunction create) : create_(create) {}
  explicit ClassFactory(AggregatingCreateFunction create) : aggregating_(create) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  STDMETHODIMP LockServer(BOOL lock) override;

 private:
  CreateFunction create_ = nullptr;
  AggregatingCreateFunction aggregating_ = nullptr;
  std::atomic<long> refs_{0};
};

// Creates an object of class T (its constructor takes no arguments, its count starts at 1)
// and queries it; a failure leaves error information for `iid` and `source`.
template <class T>
HRESULT CreateObject(REFIID riid, void** ppv, REFGUID iid, const wchar_t* source) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  return ComBoundary(iid, source, [&] {
    T* object = new T();
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  });
}

}  // namespace zq::fw
