// ActiveFormControl: persistence in streams (the format is described in ActiveForm.h),
// storages and property bags.
#include <algorithm>
#include <cstring>

#include "ActiveForm.h"

namespace zq::fw {

namespace {

constexpr char kMagic[4] = {'Z', 'Q', 'D', 'P'};
constexpr std::uint16_t kVersion = 1;
constexpr std::uint16_t kKindNumber = 1, kKindBytes = 2;
constexpr std::size_t kMaxStream = 256u * 1024 * 1024;  // a drawing of the largest size fits

// ---- the stream format ----

void Append(std::vector<std::uint8_t>& out, const void* p, std::size_t n) {
  if (n == 0) return;
  const std::size_t at = out.size();
  out.resize(at + n);
  std::memcpy(out.data() + at, p, n);
}

std::vector<std::uint8_t> Encode(const std::vector<DesignProperty>& props) {
  std::vector<std::uint8_t> out;
  Append(out, kMagic, 4);
  const std::uint16_t head[2] = {kVersion, static_cast<std::uint16_t>(props.size())};
  Append(out, head, sizeof head);
  for (const DesignProperty& p : props) {
    const std::uint16_t len = static_cast<std::uint16_t>(p.name.size());
    Append(out, &len, 2);
    Append(out, p.name.data(), p.name.size() * 2);
    const std::uint16_t kind = p.isBytes ? kKindBytes : kKindNumber;
    Append(out, &kind, 2);
    const std::uint32_t size = p.isBytes ? static_cast<std::uint32_t>(p.bytes.size()) : 4u;
    Append(out, &size, 4);
    if (p.isBytes) Append(out, p.bytes.data(), p.bytes.size());
    else Append(out, &p.number, 4);
  }
  return out;
}

// Reads exactly n bytes; false when the stream ends first.
bool ReadAll(IStream* s, void* p, std::size_t n) {
  auto* b = static_cast<std::uint8_t*>(p);
  while (n > 0) {
    ULONG got = 0;
    const ULONG want = static_cast<ULONG>(std::min<std::size_t>(n, 1u << 20));
    if (FAILED(s->Read(b, want, &got)) || got == 0) return false;
    b += got;
    n -= got;
  }
  return true;
}

std::vector<DesignProperty> Decode(IStream* s) {
  auto bad = [] { return Error("not the stored properties of this control, or cut short", E_FAIL); };
  char magic[4];
  std::uint16_t head[2];
  if (!ReadAll(s, magic, 4) || std::memcmp(magic, kMagic, 4) != 0 || !ReadAll(s, head, sizeof head) ||
      head[0] != kVersion)
    throw bad();
  std::vector<DesignProperty> props;
  std::size_t total = 0;
  for (int i = 0; i < head[1]; ++i) {
    DesignProperty p;
    std::uint16_t len = 0, kind = 0;
    std::uint32_t size = 0;
    if (!ReadAll(s, &len, 2)) throw bad();
    p.name.resize(len);
    if (!ReadAll(s, p.name.data(), len * 2u) || !ReadAll(s, &kind, 2) || !ReadAll(s, &size, 4)) throw bad();
    total += size;
    if (total > kMaxStream || (kind != kKindNumber && kind != kKindBytes) || (kind == kKindNumber && size != 4))
      throw bad();
    p.isBytes = kind == kKindBytes;
    if (p.isBytes) {
      p.bytes.resize(size);
      if (size && !ReadAll(s, p.bytes.data(), size)) throw bad();
    } else if (!ReadAll(s, &p.number, 4)) {
      throw bad();
    }
    props.push_back(std::move(p));
  }
  return props;
}

}  // namespace

// ---- persistence ----

STDMETHODIMP ActiveFormControl::GetClassID(CLSID* clsid) { return GetUserClassID(clsid); }

STDMETHODIMP ActiveFormControl::Load(LPSTREAM stream) {
  if (!stream) return E_POINTER;
  return Guarded([&] {
    LoadDesign(Decode(stream));
    dirty_ = false;
  });
}

STDMETHODIMP ActiveFormControl::Save(LPSTREAM stream, BOOL clearDirty) {
  if (!stream) return E_POINTER;
  return Guarded([&]() -> HRESULT {
    const std::vector<std::uint8_t> bytes = Encode(SaveDesign());
    for (std::size_t done = 0; done < bytes.size();) {
      ULONG wrote = 0;
      const ULONG n = static_cast<ULONG>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
      const HRESULT hr = stream->Write(bytes.data() + done, n, &wrote);
      if (FAILED(hr)) return hr;
      if (wrote == 0) return STG_E_MEDIUMFULL;
      done += wrote;
    }
    if (clearDirty) dirty_ = false;
    return S_OK;
  });
}

STDMETHODIMP ActiveFormControl::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  return Guarded([&] { size->QuadPart = Encode(SaveDesign()).size(); });
}

STDMETHODIMP ActiveFormControl::InitNew() { return S_OK; }

STDMETHODIMP ActiveFormControl::InitNew(IStorage* storage) { return storage ? S_OK : E_POINTER; }

STDMETHODIMP ActiveFormControl::Load(IStorage* storage) {
  if (!storage) return E_POINTER;
  ComPtr<IStream> s;
  const HRESULT hr =
      storage->OpenStream(L"CONTROLSAVESTREAM", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, s.put());
  if (FAILED(hr)) return hr;
  return Load(s.get());
}

STDMETHODIMP ActiveFormControl::Save(IStorage* storage, BOOL) {
  if (!storage) return E_POINTER;
  ComPtr<IStream> s;
  const HRESULT hr = storage->CreateStream(L"CONTROLSAVESTREAM", STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                           s.put());
  if (FAILED(hr)) return hr;
  return Save(s.get(), TRUE);
}

std::vector<ActiveFormControl::BagProperty> ActiveFormControl::BagProperties() const {
  std::vector<BagProperty> out;
  if (!DualInfo()) return out;
  TYPEATTR* attr = nullptr;
  if (FAILED(DualInfo()->GetTypeAttr(&attr))) return out;
  const WORD count = attr->cFuncs;
  DualInfo()->ReleaseTypeAttr(attr);
  struct Entry {
    DISPID id;
    bool get = false, put = false, putRef = false;
  };
  std::vector<Entry> entries;  // in type-library order
  for (UINT i = 0; i < count; ++i) {
    FUNCDESC* fd = nullptr;
    if (FAILED(DualInfo()->GetFuncDesc(i, &fd))) continue;
    auto it = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.id == fd->memid; });
    if (it == entries.end()) {
      entries.push_back({fd->memid});
      it = entries.end() - 1;
    }
    if (fd->invkind == INVOKE_PROPERTYGET) it->get = true;
    if (fd->invkind == INVOKE_PROPERTYPUT) it->put = true;
    if (fd->invkind == INVOKE_PROPERTYPUTREF) it->putRef = true;
    DualInfo()->ReleaseFuncDesc(fd);
  }
  for (const Entry& e : entries) {
    if (!e.get || !(e.put || e.putRef)) continue;
    BStr name;
    UINT n = 0;
    if (FAILED(DualInfo()->GetNames(e.id, name.put(), 1, &n)) || n == 0) continue;
    out.push_back({name.str(), e.id, e.putRef && !e.put});
  }
  return out;
}

STDMETHODIMP ActiveFormControl::Load(IPropertyBag* bag, IErrorLog* log) {
  if (!bag) return E_POINTER;
  for (const BagProperty& p : BagProperties()) {
    Variant v;
    const HRESULT hr = bag->Read(p.name.c_str(), v.get(), log);
    if (hr == E_ABORT) return E_FAIL;
    if (FAILED(hr)) continue;
    PutProperty(Automation(), p.id, *v, p.byRef || (*v).vt == VT_DISPATCH);  // a failing put is skipped
  }
  dirty_ = false;
  return S_OK;
}

STDMETHODIMP ActiveFormControl::Save(IPropertyBag* bag, BOOL clearDirty, BOOL) {
  if (!bag) return E_POINTER;
  // A bag may refuse a value (bags that keep text refuse objects): every other property is
  // still written, and the first refusal is reported once all were tried.
  HRESULT refused = S_OK;
  for (const BagProperty& p : BagProperties()) {
    Variant v;
    if (FAILED(GetProperty(Automation(), p.id, v.get()))) continue;
    const HRESULT hr = bag->Write(p.name.c_str(), v.get());
    if (FAILED(hr) && SUCCEEDED(refused)) refused = hr;
  }
  if (FAILED(refused)) return refused;
  if (clearDirty) dirty_ = false;
  return S_OK;
}

}  // namespace zq::fw
