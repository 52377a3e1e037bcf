// The control in a real container: an AtlAxWin window of the system's atl.dll creates it
// by its ProgID, activates it in place in its own window, resizes it with the window and
// releases it when the window goes; a screenshot of the container goes to the test output.
#include <gtest/gtest.h>

#include <windows.h>
#include <ocidl.h>

#include "ComSupport.h"
#include "TestSupport.h"
#include "UiSupport.h"
#include "ZanQuilmo4_TLB.h"

using zq::fw::ComPtr;

namespace {

using AtlAxWinInitFn = BOOL(WINAPI*)();
using AtlAxGetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);

struct Atl {
  HMODULE module = LoadLibraryW(L"atl.dll");
  AtlAxWinInitFn init = module ? reinterpret_cast<AtlAxWinInitFn>(
                                     reinterpret_cast<void*>(GetProcAddress(module, "AtlAxWinInit")))
                               : nullptr;
  AtlAxGetControlFn getControl =
      module ? reinterpret_cast<AtlAxGetControlFn>(reinterpret_cast<void*>(GetProcAddress(module, "AtlAxGetControl")))
             : nullptr;
};

SIZE ClientSize(HWND w) {
  RECT r{};
  GetClientRect(w, &r);
  return {r.right, r.bottom};
}
SIZE WindowSize(HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  return {r.right - r.left, r.bottom - r.top};
}

TEST(Container, AtlAxWinHostsTheControlInPlaceAndResizesIt) {
  static HMODULE registered = zqtest::RegisterModule("ZQ_OCX");
  ASSERT_NE(nullptr, registered);
  Atl atl;
  ASSERT_TRUE(atl.init && atl.getControl) << "atl.dll with AtlAxWinInit and AtlAxGetControl";
  ASSERT_TRUE(atl.init());

  HWND form = nullptr;
  {
    zqtest::HostWindow host(660, 460, L"ZanQuilmo4 in AtlAxWin");
    HWND ax = CreateWindowExW(0, L"AtlAxWin", L"ZanQuilmo4.ZanQuilmoAx4", WS_CHILD | WS_VISIBLE, 10, 10, 640, 440,
                              host.hwnd(), nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, ax) << "the container window made the control";
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(S_OK, atl.getControl(ax, unknown.put()));
    ComPtr<IZanQuilmoAx4> control;
    ASSERT_EQ(S_OK, unknown->QueryInterface(IID_IZanQuilmoAx4, control.put_void()));
    ComPtr<IOleInPlaceObject> inPlace;
    ASSERT_EQ(S_OK, unknown->QueryInterface(IID_IOleInPlaceObject, inPlace.put_void()));
    ASSERT_EQ(S_OK, inPlace->GetWindow(&form));
    zqtest::Pump();

    // In place: the form is a visible child of the container's window, at its size.
    EXPECT_EQ(ax, GetParent(form));
    EXPECT_TRUE(IsWindowVisible(form));
    EXPECT_EQ(ClientSize(ax).cx, WindowSize(form).cx);
    EXPECT_EQ(ClientSize(ax).cy, WindowSize(form).cy);
    LONG w = 0;
    control->get_DrawAreaWidth(&w);
    EXPECT_GT(w, 300) << "the drawing fills the view";

    // The container resizes it with its window.
    MoveWindow(ax, 10, 10, 520, 360, TRUE);
    EXPECT_TRUE(zqtest::PumpUntil([&] { return WindowSize(form).cx == 520 && WindowSize(form).cy == 360; }))
        << WindowSize(form).cx << "x" << WindowSize(form).cy;
    LONG w2 = 0;
    control->get_DrawAreaWidth(&w2);
    EXPECT_EQ(w - 120, w2) << "the drawing follows in automatic alignment";

    // What a user sees in the container.
    MoveWindow(ax, 10, 10, 640, 440, TRUE);
    zqtest::PumpUntil([&] { return WindowSize(form).cx == 640; });
    RedrawWindow(host.hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_ERASE);
    zqtest::Pump();
    const zqtest::Capture shot = zqtest::CaptureClient(host.hwnd());
    zqtest::SavePng(shot, L"container-atlaxwin.png");
    EXPECT_EQ(RGB(255, 255, 255), shot.At(10 + 640 - 40, 10 + 440 - 40)) << "the white drawing at the lower right";

    inPlace.reset();
    control.reset();
    unknown.reset();
    DestroyWindow(ax);
    zqtest::Pump();
    EXPECT_FALSE(IsWindow(form)) << "closing the container releases the control and its windows";
  }
}

}  // namespace
