#include "ComSupport.h"

#include <gtest/gtest.h>
#include <olectl.h>

#include "TestSupport.h"

namespace zqtest {

void EnsureCom() {
  static HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  (void)hr;
}

HMODULE RegisterModule(const char* variable) {
  EnsureCom();
  const std::wstring path = EnvDir(variable);
  HMODULE m = LoadLibraryW(path.c_str());
  if (!m) {
    ADD_FAILURE() << variable << " does not name a loadable module: " << Narrow(path);
    return nullptr;
  }
  using Register = HRESULT(STDAPICALLTYPE*)();
  auto reg = reinterpret_cast<Register>(reinterpret_cast<void*>(GetProcAddress(m, "DllRegisterServer")));
  if (!reg || FAILED(reg())) ADD_FAILURE() << "DllRegisterServer failed for " << Narrow(path);
  return m;
}

Prop GetProp(IDispatch* d, DISPID id) {
  Prop p;
  VARIANT v;
  VariantInit(&v);
  p.hr = zq::fw::GetProperty(d, id, &v);
  p.vt = v.vt;
  switch (v.vt) {
    case VT_I2: p.value = v.iVal; break;
    case VT_I4: p.value = v.lVal; break;
    case VT_UI4: p.value = v.ulVal; break;
    case VT_BOOL: p.value = v.boolVal; break;
    case VT_DISPATCH: p.nullObject = v.pdispVal == nullptr; break;
    default: break;
  }
  VariantClear(&v);
  return p;
}

HRESULT PutProp(IDispatch* d, DISPID id, VARTYPE vt, long value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  if (vt == VT_I2) v.iVal = static_cast<SHORT>(value);
  else v.lVal = value;
  return zq::fw::PutProperty(d, id, v);
}

std::vector<std::uint8_t> SavedProperties(IUnknown* object) {
  zq::fw::ComPtr<IPersistStreamInit> persist;
  zq::fw::ComPtr<IStream> stream;
  if (!object || FAILED(object->QueryInterface(IID_IPersistStreamInit, persist.put_void())) ||
      FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.put())) || FAILED(persist->Save(stream.get(), TRUE))) {
    ADD_FAILURE() << "the object cannot save its properties";
    return {};
  }
  STATSTG stat{};
  stream->Stat(&stat, STATFLAG_NONAME);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stat.cbSize.QuadPart));
  LARGE_INTEGER zero{};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  ULONG read = 0;
  if (!bytes.empty()) stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
  bytes.resize(read);
  return bytes;
}

HRESULT LoadProperties(IUnknown* object, const std::vector<std::uint8_t>& bytes) {
  zq::fw::ComPtr<IPersistStreamInit> persist;
  zq::fw::ComPtr<IStream> stream;
  HRESULT hr = object ? object->QueryInterface(IID_IPersistStreamInit, persist.put_void()) : E_POINTER;
  if (SUCCEEDED(hr)) hr = CreateStreamOnHGlobal(nullptr, TRUE, stream.put());
  if (FAILED(hr)) return hr;
  if (!bytes.empty()) stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
  LARGE_INTEGER zero{};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  return persist->Load(stream.get());
}

int ExpectBadPropertyReadsRefused(IDispatch* object) {
  zq::fw::ComPtr<ITypeInfo> info;
  if (!object || FAILED(object->GetTypeInfo(0, 0, info.put()))) {
    ADD_FAILURE() << "no type information";
    return 0;
  }
  TYPEATTR* attr = nullptr;
  info->GetTypeAttr(&attr);
  const WORD count = attr->cFuncs;
  info->ReleaseTypeAttr(attr);
  int tried = 0;
  for (UINT i = 0; i < count; ++i) {
    FUNCDESC* fd = nullptr;
    if (FAILED(info->GetFuncDesc(i, &fd))) continue;
    const DISPID id = fd->memid;
    const bool get = fd->invkind == INVOKE_PROPERTYGET;
    info->ReleaseFuncDesc(fd);
    if (!get) continue;
    ++tried;
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_I4;
    arg.lVal = 0;
    DISPID named = 5;
    for (WORD flags : {WORD{DISPATCH_PROPERTYGET}, WORD{DISPATCH_METHOD | DISPATCH_PROPERTYGET}}) {
      VARIANT result;
      VariantInit(&result);
      DISPPARAMS extra{&arg, nullptr, 1, 0};
      EXPECT_EQ(DISP_E_BADPARAMCOUNT, object->Invoke(id, IID_NULL, 0, flags, &extra, &result, nullptr, nullptr))
          << "DISPID " << id << " read with an argument";
      VariantClear(&result);
      DISPPARAMS withName{&arg, &named, 1, 1};
      EXPECT_EQ(DISP_E_NONAMEDARGS, object->Invoke(id, IID_NULL, 0, flags, &withName, &result, nullptr, nullptr))
          << "DISPID " << id << " read with a named argument";
      VariantClear(&result);
    }
  }
  return tried;
}

std::wstring LastErrorDescription() {
  zq::fw::ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return {};
  zq::fw::BStr d;
  info->GetDescription(d.put());
  return d.str();
}

PicturePixels ReadPicture(IPictureDisp* disp) {
  PicturePixels out;
  zq::fw::ComPtr<IPicture> pic;
  OLE_HANDLE handle = 0;
  if (!disp || FAILED(disp->QueryInterface(IID_IPicture, pic.put_void())) || FAILED(pic->get_Handle(&handle))) return out;
  const HBITMAP b = reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle));
  BITMAP bm{};
  GetObjectW(b, sizeof bm, &bm);
  out.w = bm.bmWidth;
  out.h = bm.bmHeight;
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), out.w, -out.h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  std::vector<std::uint8_t> rows(((out.w * 3 + 3) & ~3) * std::size_t(out.h));
  HDC dc = GetDC(nullptr);
  GetDIBits(dc, b, 0, out.h, rows.data(), &bi, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  for (LONG y = 0; y < out.h; ++y)
    out.bgr.insert(out.bgr.end(), rows.begin() + ((out.w * 3 + 3) & ~3) * y, rows.begin() + ((out.w * 3 + 3) & ~3) * y + out.w * 3);
  return out;
}
zq::fw::ComPtr<IPictureDisp> PictureOf(HBITMAP bitmap) {
  PICTDESC desc{};
  desc.cbSizeofstruct = sizeof desc;
  desc.picType = PICTYPE_BITMAP;
  desc.bmp.hbitmap = static_cast<HBITMAP>(CopyImage(bitmap, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  zq::fw::ComPtr<IPictureDisp> pic;
  if (FAILED(OleCreatePictureIndirect(&desc, IID_IPictureDisp, TRUE, pic.put_void())))
    ADD_FAILURE() << "OleCreatePictureIndirect failed";
  return pic;
}

}  // namespace zqtest
