// A COM enumerator over a copied list of items (IEnumConnections, IEnumConnectionPoints,
// IEnumOLEVERB, IEnumFORMATETC): it owns copies of the items it was made from, and every
// item it hands out is a copy its receiver owns.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <vector>

#include "Com.h"

namespace zq::fw {

// What copying and freeing an item means for each kind.
inline CONNECTDATA EnumCopy(const CONNECTDATA& c) {
  if (c.pUnk) c.pUnk->AddRef();
  return c;
}
inline void EnumFree(CONNECTDATA& c) {
  if (c.pUnk) c.pUnk->Release();
}
inline IConnectionPoint* EnumCopy(IConnectionPoint* p) {
  p->AddRef();
  return p;
}
inline void EnumFree(IConnectionPoint* p) { p->Release(); }
inline OLEVERB EnumCopy(const OLEVERB& v) {
  OLEVERB c = v;
  if (v.lpszVerbName) {
    const std::size_t n = wcslen(v.lpszVerbName) + 1;
    c.lpszVerbName = static_cast<LPOLESTR>(CoTaskMemAlloc(n * sizeof(wchar_t)));
    if (c.lpszVerbName) wmemcpy(c.lpszVerbName, v.lpszVerbName, n);
  }
  return c;
}
inline void EnumFree(OLEVERB& v) {
  CoTaskMemFree(v.lpszVerbName);
  v.lpszVerbName = nullptr;
}
inline FORMATETC EnumCopy(const FORMATETC& f) {
  FORMATETC c = f;
  c.ptd = nullptr;  // no target devices in our lists
  return c;
}
inline void EnumFree(FORMATETC&) {}

template <class Enum, class Item, const IID* kIid>
class Enumerator final : public Enum, public RefCounted {
 public:
  // An enumerator (one reference) over copies of `items`, each copied as its kind says (a
  // reference, a string); throws when it cannot be made, leaving nothing behind.
  static Enumerator* Make(const std::vector<Item>& items) {
    auto* e = new Enumerator();
    try {
      e->items_.reserve(items.size());  // then no copy below can be lost
    } catch (...) {
      e->Release();
      throw;
    }
    for (const Item& i : items) e->items_.push_back(EnumCopy(i));
    return e;
  }
  ~Enumerator() override {
    for (Item& i : items_) EnumFree(i);
  }
  Enumerator(const Enumerator&) = delete;
  Enumerator& operator=(const Enumerator&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, *kIid)) return E_NOINTERFACE;
    *ppv = static_cast<Enum*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
  STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }
  STDMETHODIMP Next(ULONG count, Item* out, ULONG* fetched) override {
    if (!out || (count > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    for (; n < count && pos_ < items_.size(); ++n, ++pos_) out[n] = EnumCopy(items_[pos_]);
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    pos_ += count;
    if (pos_ > items_.size()) {
      pos_ = items_.size();
      return S_FALSE;
    }
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    pos_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(Enum** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return ComBoundary(*kIid, L"", [&] {
      Enumerator* e = Make(items_);
      e->pos_ = pos_;
      *out = e;
    });
  }

 private:
  Enumerator() = default;
  std::vector<Item> items_;
  std::size_t pos_ = 0;
};

}  // namespace zq::fw
