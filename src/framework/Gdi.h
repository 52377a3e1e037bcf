// Owning and borrowing wrappers for the GDI and USER handles the framework uses, colours,
// and the framework's error type.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>
#include <utility>

namespace zq::fw {

// A failure of the platform or of the framework. The message is for people (it may be shown
// by the default exception handler); code is the Win32 error or HRESULT when there is one.
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& what, long code = 0) : std::runtime_error(what), code_(code) {}
  long code() const { return code_; }

 private:
  long code_;
};

// Throws Error with GetLastError() when ok is false.
void CheckWin32(bool ok, const char* what);

// Colours are 0x00BBGGRR. A value with the top bit set names a system colour
// (0x80000000 | COLOR_xxx), resolved when it is used.
using Color = COLORREF;
inline constexpr Color SystemColor(int index) { return 0x80000000u | static_cast<Color>(index); }
inline constexpr Color kWhite = 0xFFFFFF;
inline constexpr Color kBlack = 0x000000;
inline constexpr Color kAppWorkSpace = SystemColor(COLOR_APPWORKSPACE);
inline constexpr Color kBtnFace = SystemColor(COLOR_BTNFACE);
inline constexpr Color kBtnShadow = SystemColor(COLOR_BTNSHADOW);
inline constexpr Color kBtnHighlight = SystemColor(COLOR_BTNHIGHLIGHT);
inline constexpr Color kWindow = SystemColor(COLOR_WINDOW);
inline constexpr Color kWindowText = SystemColor(COLOR_WINDOWTEXT);
inline Color Resolve(Color c) { return (c & 0x80000000u) ? GetSysColor(static_cast<int>(c & 0xFF)) : c; }

// An owned handle, freed by Free (DeleteObject, DestroyIcon, ...) when the owner goes.
template <class H, auto Free>
class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(H h) : h_(h) {}
  ~OwnedHandle() { reset(); }
  OwnedHandle(OwnedHandle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  OwnedHandle& operator=(OwnedHandle&& o) noexcept {
    if (this != &o) {
      reset();
      h_ = std::exchange(o.h_, nullptr);
    }
    return *this;
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  void reset(H h = nullptr) {
    if (h_) Free(h_);
    h_ = h;
  }
  H release() { return std::exchange(h_, nullptr); }
  H get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  H h_ = nullptr;
};

// An owned GDI object (pen, brush, font, bitmap, region): DeleteObject on destruction.
template <class H>
using GdiObject = OwnedHandle<H, &DeleteObject>;
// An owned icon or cursor made by the program: DestroyIcon on destruction.
using IconHandle = OwnedHandle<HICON, &DestroyIcon>;

// A memory device context (DeleteDC).
class MemoryDC {
 public:
  explicit MemoryDC(HDC compatible = nullptr) : dc_(CreateCompatibleDC(compatible)) {
    CheckWin32(dc_ != nullptr, "CreateCompatibleDC");
  }
  ~MemoryDC() { DeleteDC(dc_); }
  MemoryDC(const MemoryDC&) = delete;
  MemoryDC& operator=(const MemoryDC&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

// A window's device context (GetDC / ReleaseDC); a null window gives the screen's.
class WindowDC {
 public:
  explicit WindowDC(HWND wnd) : wnd_(wnd), dc_(GetDC(wnd)) { CheckWin32(dc_ != nullptr, "GetDC"); }
  ~WindowDC() { ReleaseDC(wnd_, dc_); }
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND wnd_;
  HDC dc_;
};

// Selects an object into a device context and selects the previous one back.
class SelectGuard {
 public:
  SelectGuard(HDC dc, HGDIOBJ obj) : dc_(dc), old_(SelectObject(dc, obj)) {}
  ~SelectGuard() { SelectObject(dc_, old_); }
  SelectGuard(const SelectGuard&) = delete;
  SelectGuard& operator=(const SelectGuard&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// Saves and restores a device context's whole state (SaveDC / RestoreDC).
class SavedDC {
 public:
  explicit SavedDC(HDC dc) : dc_(dc), id_(SaveDC(dc)) {}
  ~SavedDC() { RestoreDC(dc_, id_); }
  SavedDC(const SavedDC&) = delete;
  SavedDC& operator=(const SavedDC&) = delete;

 private:
  HDC dc_;
  int id_;
};

// Captures the mouse for a window until destroyed, unless another window took it meanwhile.
class ScopedCapture {
 public:
  explicit ScopedCapture(HWND wnd) : wnd_(wnd) { SetCapture(wnd); }
  ~ScopedCapture() {
    if (GetCapture() == wnd_) ReleaseCapture();
  }
  ScopedCapture(const ScopedCapture&) = delete;
  ScopedCapture& operator=(const ScopedCapture&) = delete;

 private:
  HWND wnd_;
};

// UTF-8 text to wide text, for messages that come from std::exception.
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& text);

}  // namespace zq::fw
