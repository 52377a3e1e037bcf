// COM in the tests: the apartment, registering a built module, creating its classes, and
// reading properties by DISPID.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Com.h"

namespace zqtest {

// Initialises COM (single-threaded apartment) for the test program.
void EnsureCom();

// Loads a built module (path in an environment variable) and runs its DllRegisterServer.
// Returns the module, or null (with a test failure).
HMODULE RegisterModule(const char* pathVariable);

// A property by DISPID as a variant.
struct Prop {
  VARTYPE vt = VT_EMPTY;
  long long value = 0;
  bool nullObject = false;
  HRESULT hr = S_OK;
};
Prop GetProp(IDispatch* d, DISPID id);
HRESULT PutProp(IDispatch* d, DISPID id, VARTYPE vt, long value);

// What an object's IPersistStreamInit::Save writes (empty, with a test failure, when it
// cannot), and loading such bytes into an object (its Load's result).
std::vector<std::uint8_t> SavedProperties(IUnknown* object);
HRESULT LoadProperties(IUnknown* object, const std::vector<std::uint8_t>& bytes);

// Reads every property of an object through IDispatch::Invoke the ways a hostile script
// might (an extra argument, a named argument, as a property get and as a method call) and
// checks that each is refused cleanly with the standard dispatch code. Returns how many
// properties it tried.
int ExpectBadPropertyReadsRefused(IDispatch* object);

// The description of the thread's current COM error information, or empty.
std::wstring LastErrorDescription();

// A COM picture (PICTYPE_BITMAP) of a copy of a bitmap; the picture owns the copy.
zq::fw::ComPtr<IPictureDisp> PictureOf(HBITMAP bitmap);

// The pixels of a bitmap picture (top-down, three bytes each), and its size.
struct PicturePixels {
  LONG w = 0, h = 0;
  std::vector<std::uint8_t> bgr;
  bool operator==(const PicturePixels&) const = default;
};
PicturePixels ReadPicture(IPictureDisp* disp);

}  // namespace zqtest
