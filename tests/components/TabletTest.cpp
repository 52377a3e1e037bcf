// The tablet input component through COM: created from the registered module, attached to
// a real window, fed packets through its test entry point (the same queue and events a
// device uses), and heard through its connection point.
#include <gtest/gtest.h>

#include <windows.h>
#include <olectl.h>

#include <thread>
#include <vector>

#include "ComSupport.h"
#include "TestSupport.h"
#include "UiSupport.h"
#include "ZanTablet4_TLB.h"
#include "ZanTabletInject.h"

using zq::fw::ComPtr;
using zqtest::GetProp;
using zqtest::PutProp;

namespace {

enum : DISPID { kInputEnabled = 1, kDeviceStatus, kIgnoreAerialPoints, kPreventBehindWriting, kPreventMouseEvents,
                kPacketExtra, kQueueSize, kCursorMode = 19 };
enum : DISPID { kEraserDown = 1, kEraserUp, kError, kPenDown, kPenMove, kPenUp, kSide1Down, kSide1Up, kSide2Down,
                kSide2Up, kPenDetected };

HMODULE Module() {
  static HMODULE m = zqtest::RegisterModule("ZQ_TABLET_OCX");
  return m;
}

ZanTablet_InjectPacket_t Inject() {
  static auto f = reinterpret_cast<ZanTablet_InjectPacket_t>(
      reinterpret_cast<void*>(GetProcAddress(Module(), "ZanTablet_InjectPacket")));
  return f;
}

ComPtr<IZanTabletCtl> NewTablet() {
  Module();
  ComPtr<IZanTabletCtl> t;
  EXPECT_EQ(S_OK, CoCreateInstance(CLSID_ZanTabletCtl4, nullptr, CLSCTX_INPROC_SERVER, IID_IZanTabletCtl, t.put_void()));
  return t;
}

// An event sink that records what arrives, on which thread, and the PacketExtra of the
// moment.
class Sink final : public IDispatch {
 public:
  struct Event {
    DISPID id;
    std::vector<long> args;
    std::vector<VARTYPE> types;
    DWORD thread;
    long extra;
  };
  std::vector<Event> events;
  IZanTabletCtl* tablet = nullptr;
  std::function<void(const Event&)> onEvent;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, DIID__IZanTabletCtlEvents)) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }  // lives on the test's stack
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override {
    Event e{id, {}, {}, GetCurrentThreadId(), -1};
    for (UINT i = p->cArgs; i-- > 0;) {  // arguments come last first
      VARIANT v;
      VariantInit(&v);
      VariantChangeType(&v, &p->rgvarg[i], 0, VT_I4);
      e.args.push_back(v.lVal);
      e.types.push_back(p->rgvarg[i].vt);
    }
    if (tablet) tablet->get_PacketExtra(&e.extra);
    events.push_back(e);
    if (onEvent) onEvent(events.back());
    return S_OK;
  }
  ULONG refs() const { return refs_; }

  std::vector<DISPID> Ids() const {
    std::vector<DISPID> ids;
    for (const Event& e : events) ids.push_back(e.id);
    return ids;
  }

 private:
  ULONG refs_ = 0;
};

// A window that counts the mouse button presses it receives.
class Target {
 public:
  Target(HWND parent, int x, int y, int w, int h) {
    static bool registered = false;
    if (!registered) {
      WNDCLASSW wc{};
      wc.lpfnWndProc = &Target::Proc;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
      wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
      wc.lpszClassName = L"ZqTabletTarget";
      RegisterClassW(&wc);
      registered = true;
    }
    hwnd_ = CreateWindowExW(0, L"ZqTabletTarget", L"", WS_CHILD | WS_VISIBLE, x, y, w, h, parent, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~Target() { DestroyWindow(hwnd_); }
  HWND hwnd() const { return hwnd_; }
  long arg() const { return static_cast<long>(reinterpret_cast<LONG_PTR>(hwnd_)); }
  int presses = 0, moves = 0;

 private:
  static LRESULT CALLBACK Proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<Target*>(GetWindowLongPtrW(w, GWLP_USERDATA));
    if (self && msg == WM_LBUTTONDOWN) ++self->presses;
    if (self && msg == WM_MOUSEMOVE) ++self->moves;
    return DefWindowProcW(w, msg, wp, lp);
  }
  HWND hwnd_ = nullptr;
};

// A tablet attached to a child window of a host, with a sink connected.
struct Rig {
  zqtest::HostWindow host{320, 240, L"tablet test"};
  Target target{host.hwnd(), 30, 20, 240, 180};
  ComPtr<IZanTabletCtl> tablet = NewTablet();
  Sink sink;
  ComPtr<IConnectionPoint> point;
  DWORD cookie = 0;
  POINT origin{0, 0};  // the target's client origin on the screen

  Rig() {
    zqtest::EnsureCom();
    ComPtr<IConnectionPointContainer> cpc;
    EXPECT_EQ(S_OK, tablet.As(cpc));
    EXPECT_EQ(S_OK, cpc->FindConnectionPoint(DIID__IZanTabletCtlEvents, point.put()));
    EXPECT_EQ(S_OK, point->Advise(static_cast<IDispatch*>(&sink), &cookie));
    sink.tablet = tablet.get();
    EXPECT_EQ(S_OK, tablet->AttachWindow(target.arg()));
    ClientToScreen(target.hwnd(), &origin);
  }
  ~Rig() {
    if (point) point->Unadvise(cookie);
  }

  // A packet at (x, y) pixels of the target's client area (fractions allowed).
  ZANTABLET_PACKET Sample(double x, double y, int buttons, long pressure = 0, DWORD time = 0,
                          int cursor = ZANTABLET_CURSOR_PEN) const {
    ZANTABLET_PACKET p{};
    p.size = sizeof p;
    p.kind = ZANTABLET_SAMPLE;
    p.cursor = cursor;
    p.buttons = buttons;
    p.x = static_cast<LONG>(origin.x * 4 + x * 4);
    p.y = static_cast<LONG>(origin.y * 4 + y * 4);
    p.pressure = pressure;
    p.wheel = 3;
    p.azimuth = 900;
    p.altitude = 450;
    p.twist = -7;
    p.time = time;
    p.deviceId = 5;
    return p;
  }
  ZANTABLET_PACKET Proximity(bool in, int cursor = ZANTABLET_CURSOR_PEN) const {
    ZANTABLET_PACKET p{};
    p.size = sizeof p;
    p.kind = ZANTABLET_PROXIMITY;
    p.cursor = cursor;
    p.inRange = in ? 1 : 0;
    p.deviceId = 5;
    return p;
  }
  void Send(const ZANTABLET_PACKET& p) { ASSERT_EQ(1, Inject()(target.hwnd(), &p)); }
  bool WaitFor(std::size_t count) {
    return zqtest::PumpUntil([&] { return sink.events.size() >= count; }, 3000);
  }
};

TEST(TabletCom, StoredDefaultsAndReadOnlyState) {
  auto t = NewTablet();
  ASSERT_TRUE(t);
  EXPECT_EQ(1, GetProp(t.get(), kInputEnabled).value);
  EXPECT_NE(0, GetProp(t.get(), kDeviceStatus).value) << "not attached";
  EXPECT_EQ(0, GetProp(t.get(), kIgnoreAerialPoints).value);
  EXPECT_EQ(1, GetProp(t.get(), kPreventBehindWriting).value);
  EXPECT_EQ(0, GetProp(t.get(), kPreventMouseEvents).value);
  EXPECT_EQ(256, GetProp(t.get(), kQueueSize).value);
  EXPECT_EQ(0, GetProp(t.get(), kPacketExtra).value);
  for (DISPID id : {kInputEnabled, kIgnoreAerialPoints, kPreventBehindWriting, kPreventMouseEvents, kQueueSize})
    EXPECT_EQ(VT_I4, GetProp(t.get(), id).vt) << "DISPID " << id;
  EXPECT_EQ(1, GetProp(t.get(), kCursorMode).value);
  EXPECT_EQ(S_OK, t->TabletOptionB(1));
  EXPECT_EQ(2, GetProp(t.get(), kCursorMode).value);
  EXPECT_EQ(S_OK, t->TabletOptionB(0));
  EXPECT_EQ(1, GetProp(t.get(), kCursorMode).value);
  // DeviceStatus and PacketExtra are not for writing.
  EXPECT_NE(S_OK, PutProp(t.get(), kDeviceStatus, VT_I4, 0));

  DWORD misc = 0;
  EXPECT_EQ(S_OK, OleRegGetMiscStatus(CLSID_ZanTabletCtl4, DVASPECT_CONTENT, &misc));
  EXPECT_TRUE(misc & OLEMISC_INVISIBLEATRUNTIME);

  // Properties persist.
  ASSERT_EQ(S_OK, PutProp(t.get(), kQueueSize, VT_I4, 64));
  ASSERT_EQ(S_OK, PutProp(t.get(), kPreventBehindWriting, VT_I4, 0));
  auto u = NewTablet();
  ASSERT_EQ(S_OK, zqtest::LoadProperties(u.get(), zqtest::SavedProperties(t.get())));
  EXPECT_EQ(64, GetProp(u.get(), kQueueSize).value);
  EXPECT_EQ(0, GetProp(u.get(), kPreventBehindWriting).value);
}

TEST(TabletCom, PropertiesReadWithArgumentsAreRefusedCleanly) {
  EXPECT_GT(zqtest::ExpectBadPropertyReadsRefused(NewTablet().get()), 5);
}

TEST(TabletCom, WithoutADeviceAttachingWorksAndReportsIt) {
  Rig rig;
  // This test machine has no tablet (Xvfb offers none): DeviceStatus says so, and input
  // can be switched as the control does, without anything else failing. On a machine with
  // a tablet the status is 0.
  long status = -1;
  ASSERT_EQ(S_OK, rig.tablet->get_DeviceStatus(&status));
  EXPECT_EQ(2, status);
  EXPECT_EQ(S_OK, rig.tablet->EnableInput(0));
  EXPECT_EQ(0, GetProp(rig.tablet.get(), kInputEnabled).value);
  EXPECT_EQ(S_OK, rig.tablet->EnableInput(1));
  EXPECT_EQ(1, GetProp(rig.tablet.get(), kInputEnabled).value);
  EXPECT_EQ(S_OK, rig.tablet->TabletOptionA(400));
  EXPECT_EQ(S_OK, rig.tablet->SetPenCursor(9));
}

TEST(TabletEvents, AStrokeArrivesInOrderWithItsArguments) {
  Rig rig;
  rig.Send(rig.Proximity(true));
  rig.Send(rig.Sample(10.25, 20.5, 0));                               // hovering
  rig.Send(rig.Sample(12, 22, ZANTABLET_TIP, 30000, 1000));           // touches
  rig.Send(rig.Sample(15.5, 23, ZANTABLET_TIP, 42000, 1007));
  rig.Send(rig.Sample(19, 25.75, ZANTABLET_TIP, 50000, 1015));
  rig.Send(rig.Sample(19, 26, 0, 0, 1020));                           // lifts
  rig.Send(rig.Proximity(false));
  ASSERT_TRUE(rig.WaitFor(7));
  zqtest::Pump();
  const auto& ev = rig.sink.events;
  ASSERT_EQ((std::vector<DISPID>{kPenDetected, kPenMove, kPenDown, kPenMove, kPenMove, kPenUp, kPenDetected}),
            rig.sink.Ids());
  EXPECT_EQ((std::vector<long>{1, 1, 5}), ev[0].args) << "a pen came near, device 5";
  EXPECT_EQ((std::vector<long>{0, 1, 5}), ev[6].args) << "and went away";
  // Quarter pixels of the attached window's client area; switches; pressure; the rest.
  EXPECT_EQ((std::vector<long>{41, 82, 0, 0, 3, 900, 450, -7}), ev[1].args);
  EXPECT_EQ((std::vector<long>{48, 88, 1, 30000, 3, 900, 450, -7}), ev[2].args);
  EXPECT_EQ((std::vector<long>{62, 92, 1, 42000, 3, 900, 450, -7}), ev[3].args);
  EXPECT_EQ((std::vector<long>{76, 103, 1, 50000, 3, 900, 450, -7}), ev[4].args);
  EXPECT_EQ(76, ev[5].args[0]);
  EXPECT_EQ(104, ev[5].args[1]);
  EXPECT_EQ(0, ev[5].args[2]);
  EXPECT_EQ((std::vector<VARTYPE>{VT_I4, VT_I4, VT_I4, VT_I4, VT_I4, VT_I2, VT_I2, VT_I2}), ev[2].types);
  // PacketExtra: milliseconds since the stroke's previous packet, read during each event.
  EXPECT_EQ(0, ev[2].extra);
  EXPECT_EQ(7, ev[3].extra);
  EXPECT_EQ(8, ev[4].extra);
  EXPECT_EQ(5, ev[5].extra);
  for (const auto& e : ev) EXPECT_EQ(GetCurrentThreadId(), e.thread);
}

TEST(TabletEvents, AerialPointsEraserAndSideSwitches) {
  Rig rig;
  ASSERT_EQ(S_OK, PutProp(rig.tablet.get(), kIgnoreAerialPoints, VT_I4, 1));
  rig.Send(rig.Sample(5, 5, 0));
  rig.Send(rig.Sample(6, 5, ZANTABLET_SIDE1));           // the first switch, in the air
  rig.Send(rig.Sample(7, 5, ZANTABLET_SIDE1 | ZANTABLET_TIP, 20000));
  rig.Send(rig.Sample(8, 5, ZANTABLET_SIDE2 | ZANTABLET_TIP, 20000));
  rig.Send(rig.Sample(9, 5, 0));
  // The other end of the pen erases.
  rig.Send(rig.Sample(20, 20, ZANTABLET_TIP, 10000, 0, ZANTABLET_CURSOR_ERASER));
  rig.Send(rig.Sample(21, 20, ZANTABLET_TIP, 10000, 0, ZANTABLET_CURSOR_ERASER));
  rig.Send(rig.Sample(22, 20, 0, 0, 0, ZANTABLET_CURSOR_ERASER));
  ASSERT_TRUE(rig.WaitFor(10));
  zqtest::Pump();
  EXPECT_EQ((std::vector<DISPID>{kSide1Down, kPenDown, kSide1Up, kSide2Down, kPenMove, kSide2Up, kPenUp,
                                 kEraserDown, kPenMove, kEraserUp}),
            rig.sink.Ids())
      << "no moves in the air while aerial points are ignored";
  EXPECT_EQ(3, rig.sink.events[1].args[2]) << "bfSw: the tip and the first switch";
  EXPECT_EQ(5, rig.sink.events[4].args[2]) << "bfSw: the tip and the second switch";
  EXPECT_EQ(80, rig.sink.events[7].args[0]);
}

TEST(TabletEvents, SwitchingInputOffEndsTheStrokeAndDropsPackets) {
  Rig rig;
  rig.Send(rig.Sample(10, 10, ZANTABLET_TIP, 30000));
  rig.Send(rig.Sample(11, 10, ZANTABLET_TIP, 30000));
  ASSERT_TRUE(rig.WaitFor(2));
  ASSERT_EQ(S_OK, rig.tablet->EnableInput(0));
  ASSERT_EQ((std::vector<DISPID>{kPenDown, kPenMove, kPenUp}), rig.sink.Ids()) << "the stroke ends at once";
  EXPECT_EQ(44, rig.sink.events[2].args[0]);
  rig.Send(rig.Sample(12, 10, ZANTABLET_TIP, 30000));
  rig.Send(rig.Sample(13, 10, 0));
  zqtest::PumpUntil([] { return false; }, 100);
  EXPECT_EQ(3u, rig.sink.events.size()) << "nothing while input is off";
  ASSERT_EQ(S_OK, rig.tablet->EnableInput(1));
  rig.Send(rig.Sample(14, 10, ZANTABLET_TIP, 30000));
  rig.Send(rig.Sample(15, 10, 0));
  ASSERT_TRUE(rig.WaitFor(5));
  EXPECT_EQ(kPenDown, rig.sink.events[3].id) << "a new stroke begins with its pen-down";
  EXPECT_EQ(kPenUp, rig.sink.events[4].id);
}

TEST(TabletEvents, ReattachingEndsTheStrokeAndMovesToTheNewWindow) {
  Rig rig;
  Target other(rig.host.hwnd(), 0, 0, 20, 20);
  rig.Send(rig.Sample(10, 10, ZANTABLET_TIP, 30000));
  ASSERT_TRUE(rig.WaitFor(1));
  ASSERT_EQ(S_OK, rig.tablet->AttachWindow(other.arg()));
  ASSERT_EQ((std::vector<DISPID>{kPenDown, kPenUp}), rig.sink.Ids());
  const ZANTABLET_PACKET p = rig.Sample(1, 1, ZANTABLET_TIP, 100);
  EXPECT_EQ(0, Inject()(rig.target.hwnd(), &p)) << "the old window has no component any more";
  POINT o{0, 0};
  ClientToScreen(other.hwnd(), &o);
  ZANTABLET_PACKET q = p;
  q.x = o.x * 4 + 8;
  q.y = o.y * 4 + 12;
  EXPECT_EQ(1, Inject()(other.hwnd(), &q));
  ASSERT_TRUE(rig.WaitFor(3));
  EXPECT_EQ(kPenDown, rig.sink.events[2].id);
  EXPECT_EQ(8, rig.sink.events[2].args[0]);
  EXPECT_EQ(12, rig.sink.events[2].args[1]);
}

TEST(TabletEvents, PacketsFromAnotherThreadArriveOnTheAttachingThread) {
  Rig rig;
  const ZANTABLET_PACKET down = rig.Sample(3, 3, ZANTABLET_TIP, 1000), up = rig.Sample(4, 3, 0);
  HWND target = rig.target.hwnd();
  std::thread device([&] {
    for (int i = 0; i < 20; ++i) {
      ZANTABLET_PACKET m = down;
      m.x += i * 4;
      Inject()(target, i == 19 ? &up : &m);
    }
  });
  device.join();
  ASSERT_TRUE(rig.WaitFor(20));
  for (const auto& e : rig.sink.events) EXPECT_EQ(GetCurrentThreadId(), e.thread);
  EXPECT_EQ(kPenDown, rig.sink.events.front().id);
  EXPECT_EQ(kPenUp, rig.sink.events.back().id);
}

TEST(TabletEvents, AFullQueueMergesMovesButKeepsDownAndUp) {
  Rig rig;
  ASSERT_EQ(S_OK, PutProp(rig.tablet.get(), kQueueSize, VT_I4, 4));
  rig.Send(rig.Sample(1, 1, ZANTABLET_TIP, 500));
  for (int i = 0; i < 50; ++i) rig.Send(rig.Sample(2 + i, 1, ZANTABLET_TIP, 500 + i));
  rig.Send(rig.Sample(60, 1, 0));
  ASSERT_TRUE(rig.WaitFor(3));
  zqtest::Pump();
  const auto& ev = rig.sink.events;
  EXPECT_LE(ev.size(), 6u);
  EXPECT_EQ(kPenDown, ev.front().id);
  EXPECT_EQ(4, ev.front().args[0]) << "the pen-down keeps its place";
  EXPECT_EQ(kPenUp, ev.back().id);
  ASSERT_GE(ev.size(), 3u);
  EXPECT_EQ(kPenMove, ev[ev.size() - 2].id);
  EXPECT_EQ(51 * 4, ev[ev.size() - 2].args[0]) << "the latest move survives";
}

TEST(TabletEvents, ACoveredWindowStartsNoStrokeThere) {
  Rig rig;
  // A window over the left part of the target.
  POINT o = rig.origin;
  HWND cover = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"ZqTabletTarget", L"", WS_POPUP | WS_VISIBLE, o.x,
                               o.y, 60, 60, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  zqtest::Pump();
  rig.Send(rig.Sample(20, 20, ZANTABLET_TIP, 1000));
  rig.Send(rig.Sample(21, 20, 0));
  rig.Send(rig.Sample(120, 100, ZANTABLET_TIP, 1000));
  rig.Send(rig.Sample(121, 100, 0));
  ASSERT_TRUE(rig.WaitFor(3));
  zqtest::Pump();
  EXPECT_EQ((std::vector<DISPID>{kPenMove, kPenDown, kPenUp}), rig.sink.Ids());
  ASSERT_EQ(S_OK, PutProp(rig.tablet.get(), kPreventBehindWriting, VT_I4, 0));
  rig.Send(rig.Sample(20, 20, ZANTABLET_TIP, 1000));
  rig.Send(rig.Sample(21, 20, 0));
  ASSERT_TRUE(rig.WaitFor(5));
  EXPECT_EQ(kPenDown, rig.sink.events[3].id);
  DestroyWindow(cover);
}

// Mouse input as the system makes it for a pen: tagged with the pen signature.
void PenMouseClick(HWND wnd, int x, int y, ULONG_PTR extra) {
  POINT p{x, y};
  ClientToScreen(wnd, &p);
  const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  INPUT in[2]{};
  for (INPUT& i : in) {
    i.type = INPUT_MOUSE;
    i.mi.dx = static_cast<LONG>((p.x * 65535 + sw / 2) / (sw - 1));
    i.mi.dy = static_cast<LONG>((p.y * 65535 + sh / 2) / (sh - 1));
    i.mi.dwExtraInfo = extra;
  }
  in[0].mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTDOWN;
  in[1].mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTUP;
  SendInput(2, in, sizeof(INPUT));
  zqtest::PumpUntil([] { return false; }, 60);
}

TEST(TabletEvents, PreventMouseEventsHoldsBackThePensMouseMessages) {
  Rig rig;
  constexpr ULONG_PTR kPen = 0xFF515700;
  PenMouseClick(rig.target.hwnd(), 50, 50, kPen);
  EXPECT_EQ(1, rig.target.presses) << "held back only when asked";
  ASSERT_EQ(S_OK, PutProp(rig.tablet.get(), kPreventMouseEvents, VT_I4, 1));
  PenMouseClick(rig.target.hwnd(), 50, 50, kPen);
  EXPECT_EQ(1, rig.target.presses) << "a pen's click does not reach the window";
  PenMouseClick(rig.target.hwnd(), 50, 50, 0);
  EXPECT_EQ(2, rig.target.presses) << "the mouse still works";
  // While the pen touches, the mouse messages it drives the cursor with stay away too.
  rig.Send(rig.Sample(10, 10, ZANTABLET_TIP, 1000));
  ASSERT_TRUE(rig.WaitFor(1));
  PenMouseClick(rig.target.hwnd(), 50, 50, 0);
  EXPECT_EQ(2, rig.target.presses);
  rig.Send(rig.Sample(10, 10, 0));
  ASSERT_TRUE(rig.WaitFor(2));
  ASSERT_EQ(S_OK, PutProp(rig.tablet.get(), kPreventMouseEvents, VT_I4, 0));
  PenMouseClick(rig.target.hwnd(), 50, 50, kPen);
  EXPECT_EQ(3, rig.target.presses);
}

TEST(TabletEvents, PenCursorModeShowsTheChosenCursor) {
  Rig rig;
  ASSERT_EQ(S_OK, rig.tablet->TabletOptionB(1));
  ASSERT_EQ(S_OK, rig.tablet->SetPenCursor(2));
  rig.Send(rig.Sample(40, 40, 0));
  ASSERT_TRUE(rig.WaitFor(1));
  EXPECT_EQ(LoadCursorW(nullptr, IDC_CROSS), GetCursor());
  ASSERT_EQ(S_OK, rig.tablet->SetPenCursor(9));
  rig.Send(rig.Sample(41, 40, 0));
  ASSERT_TRUE(rig.WaitFor(2));
  EXPECT_EQ(LoadCursorW(nullptr, IDC_WAIT), GetCursor());
}

TEST(TabletEvents, AHostMayLetGoOfTheComponentInsideAnEvent) {
  Rig rig;
  rig.sink.onEvent = [&](const Sink::Event& e) {
    if (e.id == kPenDown) {
      rig.point->Unadvise(rig.cookie);
      rig.point.reset();
      rig.sink.tablet = nullptr;
      rig.tablet.reset();
    }
  };
  rig.Send(rig.Sample(10, 10, ZANTABLET_TIP, 1000));
  rig.Send(rig.Sample(11, 10, ZANTABLET_TIP, 1000));
  rig.Send(rig.Sample(12, 10, 0));
  ASSERT_TRUE(rig.WaitFor(1));
  zqtest::PumpUntil([] { return false; }, 100);
  EXPECT_EQ(1u, rig.sink.events.size());
  EXPECT_EQ(0u, rig.sink.refs()) << "the component let go of the sink";
  const ZANTABLET_PACKET p = rig.Sample(1, 1, ZANTABLET_TIP);
  EXPECT_EQ(0, Inject()(rig.target.hwnd(), &p));
}

TEST(TabletEvents, AStrokeArrivingWhileThePenUpIsHandledWaitsForItsEnd) {
  Rig rig;
  // The host delivers waiting messages inside its pen-up handler (the control does), and
  // the next stroke's packets arrive meanwhile: they must not be delivered inside it.
  bool inPenUp = false;
  int deliveredInside = 0;
  rig.sink.onEvent = [&](const Sink::Event& e) {
    if (inPenUp) ++deliveredInside;
    if (e.id != kPenUp || rig.sink.events.size() != 3) return;
    rig.Send(rig.Sample(40, 40, ZANTABLET_TIP, 20000));
    rig.Send(rig.Sample(45, 40, ZANTABLET_TIP, 20000));
    rig.Send(rig.Sample(50, 40, 0));
    inPenUp = true;
    zqtest::Pump();
    inPenUp = false;
  };
  rig.Send(rig.Sample(10, 10, ZANTABLET_TIP, 20000));
  rig.Send(rig.Sample(15, 10, ZANTABLET_TIP, 20000));
  rig.Send(rig.Sample(20, 10, 0));
  ASSERT_TRUE(rig.WaitFor(6));
  EXPECT_EQ(0, deliveredInside);
  EXPECT_EQ((std::vector<DISPID>{kPenDown, kPenMove, kPenUp, kPenDown, kPenMove, kPenUp}), rig.sink.Ids());
}

TEST(TabletSafety, BadValuesFailClearlyAndChangeNothing) {
  Rig rig;
  for (long bad : {0L, -1L, 4097L, 2147483647L}) {
    EXPECT_EQ(E_INVALIDARG, rig.tablet->put_QueueSize(bad)) << bad;
    EXPECT_EQ(DISP_E_EXCEPTION, PutProp(rig.tablet.get(), kQueueSize, VT_I4, bad));
  }
  EXPECT_EQ(256, GetProp(rig.tablet.get(), kQueueSize).value);
  EXPECT_NE(std::wstring::npos, (rig.tablet->put_QueueSize(0), zqtest::LastErrorDescription()).find(L"QueueSize"));
  EXPECT_EQ(E_INVALIDARG, rig.tablet->AttachWindow(0));
  EXPECT_FALSE(zqtest::LastErrorDescription().empty());
  EXPECT_EQ(E_INVALIDARG, rig.tablet->AttachWindow(0x7FFFFFF0));
  EXPECT_EQ(E_INVALIDARG, rig.tablet->AttachWindow(-1));
  EXPECT_EQ(E_INVALIDARG, rig.tablet->TabletOptionA(-1));
  EXPECT_EQ(E_INVALIDARG, rig.tablet->TabletOptionB(2));
  EXPECT_EQ(E_INVALIDARG, rig.tablet->SetPenCursor(3));
  EXPECT_EQ(1, GetProp(rig.tablet.get(), kCursorMode).value);
  // Still attached to its window after the refusals.
  rig.Send(rig.Sample(10, 10, ZANTABLET_TIP, 1000));
  ASSERT_TRUE(rig.WaitFor(1));
  EXPECT_EQ(kPenDown, rig.sink.events[0].id);

  // The injection entry refuses what is not a packet for an attached window.
  ZANTABLET_PACKET p = rig.Sample(1, 1, 0);
  EXPECT_EQ(0, Inject()(rig.target.hwnd(), nullptr));
  p.size = 3;
  EXPECT_EQ(0, Inject()(rig.target.hwnd(), &p));
  p.size = sizeof p;
  EXPECT_EQ(0, Inject()(rig.host.hwnd(), &p));
  EXPECT_EQ(0, Inject()(nullptr, &p));
  // Odd packet contents are reported as they come, without harm.
  p.buttons = -1;
  p.cursor = 77;
  p.pressure = -5;
  EXPECT_EQ(1, Inject()(rig.target.hwnd(), &p));
  zqtest::PumpUntil([] { return false; }, 50);
}

}  // namespace
