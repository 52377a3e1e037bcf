// The control object on its real form, embedded in a host window as a container would
// embed it, for the tests of the control layer.
#pragma once

#include <windows.h>

#include <memory>

#include "ComSupport.h"
#include "TestSupport.h"
#include "UiSupport.h"
#include "ZanQuilmoImpl.h"

namespace zqtest {

// The built ZanQuilmo4.ocx (ZQ_OCX): the control's resources and, beside it, its companions.
inline HINSTANCE ControlModule() {
  EnsureCom();
  static HMODULE m = LoadLibraryW(EnvDir("ZQ_OCX").c_str());
  return m;
}

// The control module is there and its companions are registered (for a test's SetUp).
inline void UseControlModules() {
  ASSERT_NE(ControlModule(), nullptr) << "ZQ_OCX does not name the built module";
  RegisterModule("ZQ_PBRUSH_OCX");
  RegisterModule("ZQ_TABLET_OCX");
}

// A control of class P (TZanQuilmoAx4 or a test's subclass) in a host window at the
// given client size, set up as a container does; it follows the host's size.
template <class P>
struct Hosted {
  HostWindow host;
  std::unique_ptr<P> ax;
  explicit Hosted(int w = 609, int h = 406) : host(w, h) {
    ax = std::make_unique<P>(ControlModule());
    ax->SetParentWindow(host.hwnd());
    ax->SetBorderStyle(zq::fw::BorderStyle::None);
    ax->SetBounds(0, 0, w, h);
    ax->Initialize();
    host.onResize = [this](int cw, int ch) {
      if (ax) ax->SetBounds(0, 0, cw, ch);
    };
    Pump();
  }
  ~Hosted() {
    host.onResize = nullptr;
    ax.reset();
  }
  HWND panel() const { return ax->pnlImg->Handle(); }
};

}  // namespace zqtest
