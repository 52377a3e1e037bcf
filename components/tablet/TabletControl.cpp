// Pointer input (pen pressure through WM_POINTER) is declared for Windows 8 and later; its
// functions are looked up at run time, so the module still runs on Windows 7.
#undef _WIN32_WINNT
#undef WINVER
#define WINVER 0x0602
#define _WIN32_WINNT 0x0602
#include "TabletControl.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

#include "Application.h"
#include "ComControl.h"
#include "Scope.h"
#include "WinTab.h"
#include "ZanTablet4_TLB.h"
#include "ZanTabletInject.h"

bool wintab::Api::Load() {
  static bool tried = false, ok = false;
  if (tried) return ok;
  tried = true;
  HMODULE m = LoadLibraryW(L"wintab32.dll");
  if (!m) return false;
  auto get = [m](const char* name) { return reinterpret_cast<void*>(GetProcAddress(m, name)); };
  Info = reinterpret_cast<decltype(Info)>(get("WTInfoW"));
  Open = reinterpret_cast<decltype(Open)>(get("WTOpenW"));
  Close = reinterpret_cast<decltype(Close)>(get("WTClose"));
  Packet = reinterpret_cast<decltype(Packet)>(get("WTPacket"));
  Enable = reinterpret_cast<decltype(Enable)>(get("WTEnable"));
  QueueSizeSet = reinterpret_cast<decltype(QueueSizeSet)>(get("WTQueueSizeSet"));
  ok = Info && Open && Close && Packet && Enable && QueueSizeSet;
  return ok;
}

namespace ztab {

using zq::fw::ComPtr;
using zq::fw::Error;

const wchar_t kProgId[] = L"ZANTABLET4Lib.ZanTabletCtl4";

namespace {

enum Event : DISPID {
  kEraserDown = 1, kEraserUp = 2, kError = 3, kPenDown = 4, kPenMove = 5, kPenUp = 6,
  kSide1Down = 7, kSide1Up = 8, kSide2Down = 9, kSide2Up = 10, kPenDetected = 11
};

constexpr long kStatusNotAttached = 1;
constexpr long kStatusNoDevice = 2;
constexpr UINT kDrain = WM_APP + 1;
// Mouse messages that a pen or touch makes carry this signature (GetMessageExtraInfo).
constexpr ULONG_PTR kPenSignatureMask = 0xFFFFFF00;
constexpr ULONG_PTR kPenSignature = 0xFF515700;

ITypeLib* TypeLib() {
  static ComPtr<ITypeLib> lib = zq::fw::LoadModuleTypeLib(zq::fw::FrameworkModule());
  return lib.get();
}

// ---- WinTab ----

wintab::Api& WinTab() {
  static wintab::Api api;
  return api;
}

// ---- pointer input (Windows 8 and later), looked up at run time ----

struct PointerApi {
  BOOL(WINAPI* GetType)(UINT32, DWORD*) = nullptr;
  BOOL(WINAPI* GetPenInfo)(UINT32, void*) = nullptr;
  BOOL(WINAPI* GetDevices)(UINT32*, void*) = nullptr;
  PointerApi() {
    HMODULE u = GetModuleHandleW(L"user32.dll");
    GetType = reinterpret_cast<decltype(GetType)>(reinterpret_cast<void*>(GetProcAddress(u, "GetPointerType")));
    GetPenInfo = reinterpret_cast<decltype(GetPenInfo)>(reinterpret_cast<void*>(GetProcAddress(u, "GetPointerPenInfo")));
    GetDevices = reinterpret_cast<decltype(GetDevices)>(reinterpret_cast<void*>(GetProcAddress(u, "GetPointerDevices")));
  }
  bool HasPen() const {
    if (!GetDevices) return false;
    UINT32 count = 0;
    if (!GetDevices(&count, nullptr) || count == 0) return false;
    std::vector<POINTER_DEVICE_INFO> devices(count);
    if (!GetDevices(&count, devices.data())) return false;
    for (UINT32 i = 0; i < count; ++i)
      if (devices[i].pointerDeviceType == POINTER_DEVICE_TYPE_INTEGRATED_PEN ||
          devices[i].pointerDeviceType == POINTER_DEVICE_TYPE_EXTERNAL_PEN)
        return true;
    return false;
  }
};

const PointerApi& Pointers() {
  static PointerApi api;
  return api;
}

class Tablet;

// Attached windows and their components (the injection and the message hook find them).
std::mutex g_lock;
std::map<HWND, Tablet*>& Attached() {
  static std::map<HWND, Tablet*> m;
  return m;
}

struct ThreadHook {
  HHOOK hook = nullptr;
  int users = 0;
};
thread_local ThreadHook t_hook;

LRESULT CALLBACK GetMessageHook(int code, WPARAM wp, LPARAM lp);

Tablet* TabletFor(HWND w) {
  std::lock_guard<std::mutex> g(g_lock);
  for (int depth = 0; w && depth < 16; ++depth, w = GetParent(w)) {
    auto it = Attached().find(w);
    if (it != Attached().end()) return it->second;
  }
  return nullptr;
}

// The packets waiting for the message loop: a ring that grows only when it is full (a
// loop far behind with downs and ups that are never merged away), so that packets arriving
// at the device's report rate allocate nothing.
class PacketQueue {
 public:
  PacketQueue() : ring_(512) {}
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  ZANTABLET_PACKET& operator[](std::size_t i) { return ring_[(head_ + i) % ring_.size()]; }
  ZANTABLET_PACKET& front() { return (*this)[0]; }
  ZANTABLET_PACKET& back() { return (*this)[count_ - 1]; }
  void push_back(const ZANTABLET_PACKET& p) {
    if (count_ == ring_.size()) Grow();
    ring_[(head_ + count_) % ring_.size()] = p;
    ++count_;
  }
  void pop_front() {
    head_ = (head_ + 1) % ring_.size();
    --count_;
  }
  void clear() { head_ = count_ = 0; }

 private:
  void Grow() {
    std::vector<ZANTABLET_PACKET> bigger(ring_.size() * 2);
    for (std::size_t i = 0; i < count_; ++i) bigger[i] = (*this)[i];
    ring_.swap(bigger);
    head_ = 0;
  }
  std::vector<ZANTABLET_PACKET> ring_;
  std::size_t head_ = 0, count_ = 0;
};

VARIANT Long(long v) {
  VARIANT r;
  VariantInit(&r);
  r.vt = VT_I4;
  r.lVal = v;
  return r;
}

VARIANT Short(int v) {
  VARIANT r;
  VariantInit(&r);
  r.vt = VT_I2;
  r.iVal = static_cast<SHORT>(v);
  return r;
}

class Tablet final : public zq::fw::DualDispatch<IZanTabletCtl>,
                     public zq::fw::InvisibleControl,
                     public zq::fw::RefCounted {
 public:
  Tablet()
      : DualDispatch(zq::fw::DualInterfaceInfo(TypeLib(), __uuidof(IZanTabletCtl))),
        zq::fw::InvisibleControl(__uuidof(ZanTabletCtl4), __uuidof(IZanTabletCtl), DIID__IZanTabletCtlEvents,
                                 kProgId, kMiscStatus, TypeLib()) {
    ResetProperties();
  }

  ~Tablet() override {
    contact_ = false;  // nobody is listening for the end of a stroke any more
    Detach();
    if (notify_) {
      SetWindowLongPtrW(notify_, GWLP_USERDATA, 0);
      DestroyWindow(notify_);
    }
  }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return QueryControl(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
  STDMETHODIMP_(ULONG) Release() override { return ReleaseImpl(); }

  // Properties
  STDMETHODIMP get_InputEnabled(long* v) override { return Get(v, enabled_ ? 1 : 0); }
  STDMETHODIMP get_DeviceStatus(long* v) override { return Get(v, status_); }
  STDMETHODIMP get_IgnoreAerialPoints(long* v) override { return Get(v, ignoreAerial_); }
  STDMETHODIMP put_IgnoreAerialPoints(long v) override { return Put(ignoreAerial_, v); }
  STDMETHODIMP get_PreventBehindWriting(long* v) override { return Get(v, preventBehind_); }
  STDMETHODIMP put_PreventBehindWriting(long v) override { return Put(preventBehind_, v); }
  STDMETHODIMP get_PreventMouseEvents(long* v) override { return Get(v, preventMouse_); }
  STDMETHODIMP put_PreventMouseEvents(long v) override { return Put(preventMouse_, v); }
  STDMETHODIMP get_PacketExtra(long* v) override { return Get(v, packetExtra_); }
  STDMETHODIMP get_QueueSize(long* v) override { return Get(v, queueSize_); }
  STDMETHODIMP put_QueueSize(long v) override {
    return Guarded([&] {
      Require(v >= 1 && v <= 4096, "QueueSize は 1 から 4096 の範囲で指定してください。");
      queueSize_ = v;
      if (ctx_ && WinTab().QueueSizeSet) WinTab().QueueSizeSet(ctx_, static_cast<int>(v));
    });
  }
  STDMETHODIMP get_CursorMode(enum TxCursorMode* v) override {
    if (!v) return E_POINTER;
    *v = penCursorMode_ ? cmPenCursor : cmSystemCursor;
    return S_OK;
  }

  // Methods
  STDMETHODIMP EnableInput(long on) override {
    const bool enable = on != 0;
    if (!enable) EndContact();
    enabled_ = enable;
    if (ctx_) WinTab().Enable(ctx_, enable);
    return S_OK;
  }

  STDMETHODIMP AttachWindow(long window) override {
    const HWND w = reinterpret_cast<HWND>(static_cast<LONG_PTR>(window));
    return Guarded([&] {
      Require(w && IsWindow(w), "AttachWindow にはウィンドウのハンドルを指定してください。");
      Require(GetWindowThreadProcessId(w, nullptr) == GetCurrentThreadId(),
              "AttachWindow のウィンドウはこのスレッドのものではありません。");
      Detach();
      Attach(w);
    });
  }

  STDMETHODIMP TabletOptionA(long rate) override {
    return Guarded([&] {
      Require(rate >= 0 && rate <= 10000, "TabletOptionA は 0 から 10000 の範囲で指定してください。");
      rate_ = rate;
    });
  }
  STDMETHODIMP TabletOptionB(long mode) override {
    return Guarded([&] {
      Require(mode == 0 || mode == 1, "TabletOptionB は 0 か 1 で指定してください。");
      penCursorMode_ = mode == 1;
    });
  }
  STDMETHODIMP SetPenCursor(long shape) override {
    return Guarded([&] {
      Require(shape == 1 || shape == 2 || shape == 9, "SetPenCursor は 1、2、9 のどれかで指定してください。");
      penCursor_ = shape;
    });
  }

  // ---- packets ----

  // From a device, the hook or an injection: queued, then delivered from the message loop.
  void Enqueue(const ZANTABLET_PACKET& p) {
    {
      std::lock_guard<std::mutex> g(queueLock_);
      // When the loop falls behind, a move replaces the move before it; downs, ups and
      // switch changes are never merged away.
      if (static_cast<long>(queue_.size()) >= queueSize_ && queue_.size() >= 2) {
        const ZANTABLET_PACKET& back = queue_.back();
        const ZANTABLET_PACKET& before = queue_[queue_.size() - 2];
        auto same = [](const ZANTABLET_PACKET& a, const ZANTABLET_PACKET& b) {
          return a.kind == ZANTABLET_SAMPLE && b.kind == ZANTABLET_SAMPLE && a.buttons == b.buttons && a.cursor == b.cursor;
        };
        // The last one is a move (not a change of buttons) and so is the new one.
        if (same(before, back) && same(back, p)) {
          queue_.back() = p;
          PostDrain();
          return;
        }
      }
      queue_.push_back(p);
    }
    PostDrain();
  }

  // The message hook: pen pointer messages become packets; held-back mouse messages vanish.
  void Filter(MSG* m) {
    if (m->message >= WM_POINTERUPDATE && m->message <= WM_POINTERLEAVE) {
      PointerMessage(*m);
      return;
    }
    if (preventMouse_ == 1 && m->message >= WM_MOUSEFIRST && m->message <= WM_MOUSELAST) {
      const bool fromPen = (GetMessageExtraInfo() & kPenSignatureMask) == kPenSignature;
      if (contact_ || fromPen) m->message = WM_NULL;
    }
  }

 protected:
  std::vector<DISPID> PersistedProperties() const override { return {3, 4, 5, 7}; }
  void ResetProperties() override {
    ignoreAerial_ = 0;
    preventBehind_ = 1;
    preventMouse_ = 0;
    queueSize_ = 256;
  }
  IDispatch* Dispatch() override { return static_cast<IZanTabletCtl*>(this); }

 private:
  template <class T>
  HRESULT Get(long* out, T v) {
    if (!out) return E_POINTER;
    *out = static_cast<long>(v);
    return S_OK;
  }
  HRESULT Put(long& field, long v) {
    field = v;
    return S_OK;
  }
  // A refused argument: E_INVALIDARG with the message, at the method's boundary.
  static void Require(bool ok, const char* message) {
    if (!ok) throw zq::fw::Error(message, E_INVALIDARG);
  }

  void PostDrain() {
    if (notify_ && !drainPosted_.exchange(true)) PostMessageW(notify_, kDrain, 0, 0);
  }

  static LRESULT CALLBACK NotifyProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<Tablet*>(GetWindowLongPtrW(w, GWLP_USERDATA));
    if (!self) return DefWindowProcW(w, msg, wp, lp);
    try {
      if (msg == kDrain) {
        // A host may let the component go from inside an event.
        ComPtr<IZanTabletCtl> keep(self);
        self->drainPosted_ = false;
        self->Drain();
        return 0;
      }
      if (msg == wintab::WT_PACKET) {
        self->WinTabPacket(static_cast<UINT>(wp));
        return 0;
      }
      if (msg == wintab::WT_PROXIMITY) {
        ZANTABLET_PACKET p = self->Blank(ZANTABLET_PROXIMITY);
        p.inRange = LOWORD(lp) ? 1 : 0;
        p.cursor = self->lastCursor_;
        self->Enqueue(p);
        return 0;
      }
    } catch (...) {
      zq::fw::HandleException();
    }
    return DefWindowProcW(w, msg, wp, lp);
  }

  ZANTABLET_PACKET Blank(int kind) const {
    ZANTABLET_PACKET p{};
    p.size = sizeof p;
    p.kind = kind;
    p.time = GetTickCount();
    return p;
  }

  void CreateNotifyWindow() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &Tablet::NotifyProc;
    wc.hInstance = zq::fw::FrameworkModule();
    wc.lpszClassName = L"ZanTabletNotify";
    zq::fw::RegisterWindowClass(wc);
    notify_ = CreateWindowExW(WS_EX_TOOLWINDOW, L"ZanTabletNotify", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                              zq::fw::FrameworkModule(), nullptr);
    if (!notify_) throw Error("cannot create the tablet's message window", static_cast<long>(GetLastError()));
    SetWindowLongPtrW(notify_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }

  void Attach(HWND w) {
    if (!notify_) CreateNotifyWindow();
    attached_ = w;
    {
      std::lock_guard<std::mutex> g(g_lock);
      Attached()[w] = this;
    }
    if (t_hook.users++ == 0) t_hook.hook = SetWindowsHookExW(WH_GETMESSAGE, &GetMessageHook, nullptr, GetCurrentThreadId());
    hooked_ = true;
    status_ = OpenWinTab() || Pointers().HasPen() ? 0 : kStatusNoDevice;
  }

  void Detach() {
    EndContact();
    if (ctx_) WinTab().Close(ctx_);
    ctx_ = nullptr;
    if (attached_) {
      std::lock_guard<std::mutex> g(g_lock);
      auto it = Attached().find(attached_);
      if (it != Attached().end() && it->second == this) Attached().erase(it);
    }
    attached_ = nullptr;
    if (hooked_ && --t_hook.users == 0 && t_hook.hook) {
      UnhookWindowsHookEx(t_hook.hook);
      t_hook.hook = nullptr;
    }
    hooked_ = false;
    status_ = kStatusNotAttached;
    // Pending packets of the old window are of no use to a new one.
    std::lock_guard<std::mutex> g(queueLock_);
    queue_.clear();
  }

  // A system context: the pen keeps moving the cursor; packets come to the notify window.
  bool OpenWinTab() {
    wintab::Api& wt = WinTab();
    if (!wt.Load()) return false;
    UINT devices = 0;
    if (!wt.Info(wintab::WTI_INTERFACE, wintab::IFC_NDEVICES, &devices) || devices == 0) return false;
    wintab::LOGCONTEXTW lc{};
    if (!wt.Info(wintab::WTI_DEFSYSCTX, 0, &lc)) return false;
    lc.lcOptions |= wintab::CXO_MESSAGES | wintab::CXO_SYSTEM;
    lc.lcPktData = wintab::kPacketData;
    lc.lcPktMode = 0;
    lc.lcMoveMask = wintab::kPacketData;
    lc.lcBtnUpMask = lc.lcBtnDnMask;
    if (rate_ > 0) lc.lcPktRate = static_cast<UINT>(rate_);
    // Screen coordinates in quarter pixels, y growing downwards.
    lc.lcOutOrgX = GetSystemMetrics(SM_XVIRTUALSCREEN) * 4;
    lc.lcOutOrgY = GetSystemMetrics(SM_YVIRTUALSCREEN) * 4;
    lc.lcOutExtX = GetSystemMetrics(SM_CXVIRTUALSCREEN) * 4;
    lc.lcOutExtY = -GetSystemMetrics(SM_CYVIRTUALSCREEN) * 4;
    wintab::AXIS pressure{};
    if (wt.Info(wintab::WTI_DEVICES, wintab::DVC_NPRESSURE, &pressure) && pressure.axMax > 0) maxPressure_ = pressure.axMax;
    ctx_ = wt.Open(notify_, &lc, enabled_);
    if (!ctx_) return false;
    wt.QueueSizeSet(ctx_, static_cast<int>(queueSize_));
    return true;
  }

  void WinTabPacket(UINT serial) {
    wintab::PACKET pk{};
    if (!ctx_ || !WinTab().Packet(ctx_, serial, &pk)) return;
    ZANTABLET_PACKET p = Blank(ZANTABLET_SAMPLE);
    // Cursor numbers run pen, eraser, puck, pen, eraser, puck... (one set per device).
    const int c = static_cast<int>(pk.pkCursor % 3);
    p.cursor = c == 1 ? ZANTABLET_CURSOR_PEN : c == 2 ? ZANTABLET_CURSOR_ERASER : ZANTABLET_CURSOR_PUCK;
    p.buttons = static_cast<int>((pk.pkButtons & 1 ? ZANTABLET_TIP : 0) | (pk.pkButtons & 2 ? ZANTABLET_SIDE1 : 0) |
                                 (pk.pkButtons & 4 ? ZANTABLET_SIDE2 : 0));
    if (pk.pkNormalPressure > 0) p.buttons |= ZANTABLET_TIP;
    p.x = pk.pkX;
    p.y = pk.pkY;
    p.pressure = static_cast<LONG>(std::min<long long>(65535, static_cast<long long>(pk.pkNormalPressure) * 65535 / maxPressure_));
    p.azimuth = static_cast<SHORT>(pk.pkOrientation.orAzimuth);
    p.altitude = static_cast<SHORT>(pk.pkOrientation.orAltitude);
    p.twist = static_cast<SHORT>(pk.pkOrientation.orTwist);
    p.time = pk.pkTime;
    lastCursor_ = p.cursor;
    Enqueue(p);
  }

  void PointerMessage(const MSG& m) {
    const PointerApi& api = Pointers();
    const UINT32 id = GET_POINTERID_WPARAM(m.wParam);
    DWORD type = 0;
    if (!api.GetType || !api.GetPenInfo || !api.GetType(id, &type) || type != PT_PEN) return;
    POINTER_PEN_INFO info{};
    if (!api.GetPenInfo(id, &info)) return;
    ZANTABLET_PACKET p = Blank(ZANTABLET_SAMPLE);
    const bool eraser = info.penFlags & (PEN_FLAG_ERASER | PEN_FLAG_INVERTED);
    p.cursor = eraser ? ZANTABLET_CURSOR_ERASER : ZANTABLET_CURSOR_PEN;
    if (m.message == WM_POINTERLEAVE) {
      ZANTABLET_PACKET away = Blank(ZANTABLET_PROXIMITY);
      away.cursor = p.cursor;
      Enqueue(away);
      return;
    }
    if (info.pointerInfo.pointerFlags & POINTER_FLAG_INCONTACT) p.buttons |= ZANTABLET_TIP;
    if (info.penFlags & PEN_FLAG_BARREL) p.buttons |= ZANTABLET_SIDE1;
    p.x = info.pointerInfo.ptPixelLocation.x * 4;
    p.y = info.pointerInfo.ptPixelLocation.y * 4;
    p.pressure = static_cast<LONG>(std::min<long long>(65535, static_cast<long long>(info.pressure) * 65535 / 1024));
    p.twist = static_cast<SHORT>(info.rotation);
    p.azimuth = static_cast<SHORT>(info.tiltX);
    p.altitude = static_cast<SHORT>(info.tiltY);
    p.time = info.pointerInfo.dwTime;
    if (m.message == WM_POINTERENTER) {
      ZANTABLET_PACKET arrived = Blank(ZANTABLET_PROXIMITY);
      arrived.cursor = p.cursor;
      arrived.inRange = 1;
      Enqueue(arrived);
    }
    Enqueue(p);
  }

  // ---- from packets to events ----

  // One drain at a time. A host that delivers waiting messages inside an event (the control
  // does so at pen-up) would otherwise run a nested drain, whose pen-down would reach it
  // while the previous stroke is still ending, to be refused there: the whole next stroke
  // would be lost. A nested drain returns at once; the running one goes on with the packets.
  void Drain() {
    if (draining_) return;
    draining_ = true;
    const auto done = zq::fw::Finally([this] { draining_ = false; });
    for (;;) {
      ZANTABLET_PACKET p;
      {
        std::lock_guard<std::mutex> g(queueLock_);
        if (queue_.empty()) return;
        p = queue_.front();
        queue_.pop_front();
      }
      if (attached_ && enabled_) Deliver(p);
    }
  }

  POINT ClientQuarter(const ZANTABLET_PACKET& p) const {
    POINT origin{0, 0};
    ClientToScreen(attached_, &origin);
    return {p.x - origin.x * 4, p.y - origin.y * 4};
  }

  struct PenArgs {
    VARIANT v[8];
  };
  PenArgs Args(const ZANTABLET_PACKET& p, int bfSw) const {
    const POINT q = ClientQuarter(p);
    return {{Long(q.x), Long(q.y), Long(bfSw), Long(p.pressure), Long(p.wheel), Short(p.azimuth), Short(p.altitude),
             Short(p.twist)}};
  }

  static int Switches(int buttons) {
    return (buttons & ZANTABLET_TIP ? 1 : 0) | (buttons & ZANTABLET_SIDE1 ? 2 : 0) | (buttons & ZANTABLET_SIDE2 ? 4 : 0);
  }

  bool Covered(const ZANTABLET_PACKET& p) const {
    const POINT screen{p.x / 4, p.y / 4};
    HWND under = WindowFromPoint(screen);
    return under != attached_ && !IsChild(attached_, under);
  }

  void Deliver(const ZANTABLET_PACKET& p) {
    if (p.kind == ZANTABLET_PROXIMITY) {
      const int type = p.cursor == ZANTABLET_CURSOR_ERASER ? 2 : p.cursor == ZANTABLET_CURSOR_PUCK ? 3 : 1;
      if (!p.inRange) EndContact();
      FireEvent(kPenDetected, {Long(p.inRange ? 1 : 0), Long(type), Long(p.deviceId)});
      return;
    }
    lastSample_ = p;
    const bool touching = (p.buttons & ZANTABLET_TIP) != 0;
    const bool eraser = p.cursor == ZANTABLET_CURSOR_ERASER;
    // Side switches, reported whenever they change.
    const int changed = (p.buttons ^ buttons_) & (ZANTABLET_SIDE1 | ZANTABLET_SIDE2);
    buttons_ = p.buttons;
    if (changed & ZANTABLET_SIDE1) Fire(p.buttons & ZANTABLET_SIDE1 ? kSide1Down : kSide1Up, p);
    if (changed & ZANTABLET_SIDE2) Fire(p.buttons & ZANTABLET_SIDE2 ? kSide2Down : kSide2Up, p);
    if (touching && !contact_) {
      if (preventBehind_ == 1 && Covered(p)) return;
      contact_ = true;
      eraserContact_ = eraser;
      strokeTime_ = p.time;
      packetExtra_ = 0;
      Fire(eraser ? kEraserDown : kPenDown, p);
    } else if (touching) {
      packetExtra_ = static_cast<long>(p.time - strokeTime_);
      strokeTime_ = p.time;
      Fire(kPenMove, p);
    } else if (contact_) {
      packetExtra_ = static_cast<long>(p.time - strokeTime_);
      contact_ = false;
      Fire(eraserContact_ ? kEraserUp : kPenUp, p);
    } else if (ignoreAerial_ != 1) {
      packetExtra_ = 0;
      Fire(kPenMove, p);
    }
    if (penCursorMode_ && !Covered(p)) {
      const wchar_t* shape = penCursor_ == 2 ? IDC_CROSS : penCursor_ == 9 ? IDC_WAIT : IDC_ARROW;
      ::SetCursor(LoadCursorW(nullptr, shape));
    }
  }

  // Pen events go out without allocating anything: they come at the device's report rate.
  void Fire(DISPID id, const ZANTABLET_PACKET& p) {
    const PenArgs a = Args(p, Switches(p.buttons));
    FireEvent(id, a.v, 8);
  }

  // Ends a stroke in progress with its up event at the last position.
  void EndContact() {
    if (!contact_) return;
    contact_ = false;
    ZANTABLET_PACKET p = lastSample_;
    p.buttons &= ~ZANTABLET_TIP;
    if (attached_) Fire(eraserContact_ ? kEraserUp : kPenUp, p);
  }

  long ignoreAerial_ = 0, preventBehind_ = 1, preventMouse_ = 0, queueSize_ = 256, packetExtra_ = 0, rate_ = 0;
  long status_ = kStatusNotAttached, penCursor_ = 1;
  bool enabled_ = true, penCursorMode_ = false, contact_ = false, eraserContact_ = false, hooked_ = false;
  int buttons_ = 0, lastCursor_ = ZANTABLET_CURSOR_PEN;
  long maxPressure_ = 1023;
  DWORD strokeTime_ = 0;
  ZANTABLET_PACKET lastSample_{};
  HWND attached_ = nullptr;
  HWND notify_ = nullptr;
  wintab::HCTX ctx_ = nullptr;
  std::mutex queueLock_;
  PacketQueue queue_;
  std::atomic<bool> drainPosted_{false};
  bool draining_ = false;  // on the attaching thread only
};

LRESULT CALLBACK GetMessageHook(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION && wp == PM_REMOVE) {
    auto* m = reinterpret_cast<MSG*>(lp);
    if (Tablet* t = TabletFor(m->hwnd)) {
      try {
        t->Filter(m);
      } catch (...) {
      }
    }
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

}  // namespace

HRESULT CreateTablet(REFIID riid, void** ppv) {
  return zq::fw::CreateObject<Tablet>(riid, ppv, __uuidof(IZanTabletCtl), kProgId);
}

}  // namespace ztab

extern "C" int WINAPI ZanTablet_InjectPacket(HWND attached, const ZANTABLET_PACKET* packet) {
  if (!packet || packet->size != sizeof(ZANTABLET_PACKET)) return 0;
  // Held while queueing, so that the component cannot detach (or go) meanwhile.
  std::lock_guard<std::mutex> g(ztab::g_lock);
  auto it = ztab::Attached().find(attached);
  if (it == ztab::Attached().end()) return 0;
  try {
    it->second->Enqueue(*packet);
    return 1;
  } catch (...) {
    return 0;
  }
}
