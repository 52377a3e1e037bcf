// The memo control for the benchmarks that drive it: loaded from the built module, in a
// popup window of its own, with a manual drawing area of a given size.
#pragma once

#include <windows.h>

#include <cstdio>
#include <memory>

#include "ZanQuilmoImpl.h"

namespace bench {

template <class T>
struct BenchControl {
  HWND host = nullptr;
  std::unique_ptr<T> ax;
  ~BenchControl() {
    ax.reset();
    if (host) DestroyWindow(host);
  }
};

// Null `ax` (with the reason printed) when the module or the control cannot be made.
template <class T = zq::TZanQuilmoAx4>
void MakeControl(BenchControl<T>& out, const wchar_t* modulePath, int windowW, int windowH, int areaW, int areaH) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  HMODULE module = LoadLibraryW(modulePath);
  if (!module) {
    std::fprintf(stderr, "cannot load the control module\n");
    return;
  }
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"ZanQuilmoBench";
  RegisterClassW(&wc);
  out.host = CreateWindowExW(0, wc.lpszClassName, L"benchmark", WS_POPUP | WS_VISIBLE, 0, 0, windowW, windowH, nullptr,
                             nullptr, wc.hInstance, nullptr);
  try {
    out.ax = std::make_unique<T>(module);
    out.ax->SetParentWindow(out.host);
    out.ax->SetBorderStyle(zq::fw::BorderStyle::None);
    out.ax->SetBounds(0, 0, windowW, windowH);
    out.ax->Initialize();
    out.ax->Set_DrawAreaAlign(1);
    out.ax->Set_DrawAreaWidth(areaW);
    out.ax->Set_DrawAreaHeight(areaH);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "the control cannot be made: %s\n", e.what());
    out.ax.reset();
    return;
  }
  zq::fw::ProcessMessages();
}

}  // namespace bench
