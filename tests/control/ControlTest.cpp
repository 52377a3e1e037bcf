// The control object on its real form under Wine: state after set-up, the companions it
// hosts, the shared drawing state, the history timer, teardown, the undo history and the
// drawing area's geometry.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ComSupport.h"
#include "ConvCode.h"
#include "TestSupport.h"
#include "UiSupport.h"
#include "HostedControl.h"
#include "ZanQuilmoImpl.h"
#include "ZanTabletInject.h"

using namespace zq;
using zqtest::HostWindow;

namespace {

// The control with its protected parts in reach, recording the tablet events it receives.
class Probe : public TZanQuilmoAx4 {
 public:
  using TZanQuilmoAx4::TZanQuilmoAx4;
  using TZanQuilmoAx4::DrawBitmap;
  using TZanQuilmoAx4::FDrawAreaAlign;
  using TZanQuilmoAx4::FDrawEnabled;
  using TZanQuilmoAx4::FFirstTabletAttach;
  using TZanQuilmoAx4::FLastDrawBmp;
  using TZanQuilmoAx4::FLastTextureBmp;
  using TZanQuilmoAx4::FPasteBmp;
  using TZanQuilmoAx4::FPenDetected;
  using TZanQuilmoAx4::FTabletContact;
  using TZanQuilmoAx4::FTabletReady;
  using TZanQuilmoAx4::FUndoDrawBmp;
  using TZanQuilmoAx4::FUndoTextureBmp;
  using TZanQuilmoAx4::TextureBitmap;

  struct Pen {
    int kind;  // 1 down, 2 move, 3 up
    long x, y, sw, p;
  };
  std::vector<Pen> pens;
  std::vector<long> detected;
  int mouseDowns = 0;
  void ZanTCtl4PenDown(TZanTabletCtl4&, long x, long y, long sw, long p, long, short, short, short) override {
    pens.push_back({1, x, y, sw, p});
  }
  void ZanTCtl4PenMove(TZanTabletCtl4&, long x, long y, long sw, long p, long, short, short, short) override {
    pens.push_back({2, x, y, sw, p});
  }
  void ZanTCtl4PenUp(TZanTabletCtl4&, long x, long y, long sw, long p, long, short, short, short) override {
    pens.push_back({3, x, y, sw, p});
  }
  void ZanTCtl4PenDetected(TZanTabletCtl4&, long d, long, long) override { detected.push_back(d); }
  void imgDrawMouseDown(Control& c, fw::MouseButton b, fw::ShiftState s, int x, int y) override {
    ++mouseDowns;
    TZanQuilmoAx4::imgDrawMouseDown(c, b, s, x, y);
  }
};

using Hosted = zqtest::Hosted<Probe>;

// Paints a mark of colour c into a bitmap.
void Mark(fw::Bitmap& b, int x, int y, fw::Color c) {
  fw::CanvasLock lock(b.GetCanvas());
  b.GetCanvas().SetPixel(x, y, c);
}
fw::Color At(fw::Bitmap& b, int x, int y) { return b.GetCanvas().Pixel(x, y); }

// The tablet component as a registered module: needed to unregister it.
using ServerCall = HRESULT(STDAPICALLTYPE*)();
ServerCall ServerEntry(const char* variable, const char* name) {
  HMODULE m = LoadLibraryW(zqtest::EnvDir(variable).c_str());
  return m ? reinterpret_cast<ServerCall>(reinterpret_cast<void*>(GetProcAddress(m, name))) : nullptr;
}

// The tablet module's test entry that feeds packets to a bound window.
ZanTablet_InjectPacket_t Injector() {
  return reinterpret_cast<ZanTablet_InjectPacket_t>(reinterpret_cast<void*>(
      GetProcAddress(LoadLibraryW(zqtest::EnvDir("ZQ_TABLET_OCX").c_str()), "ZanTablet_InjectPacket")));
}

class ControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(zqtest::ControlModule(), nullptr) << "ZQ_OCX does not name the built module";
    for (const char* v : {"ZQ_PBRUSH_OCX", "ZQ_TABLET_OCX"}) {
      auto reg = ServerEntry(v, "DllRegisterServer");
      ASSERT_TRUE(reg);
      ASSERT_EQ(S_OK, reg());
    }
  }
};

// ---- creation and state ----

TEST_F(ControlTest, StateRightAfterCreation) {
  Hosted h;
  Probe& ax = *h.ax;
  // The shared drawing state.
  EXPECT_EQ(kToolPen, ax.CurrentTool);
  EXPECT_EQ(3, ax.PenWidth);
  EXPECT_EQ(0, ax.PenMode);
  EXPECT_EQ(0x000000u, ax.PenColor);
  EXPECT_EQ(0xFFFFFFu, ax.BackColor);
  EXPECT_EQ(1, ax.ShapeKind);
  EXPECT_EQ(1, ax.FillStyle);
  EXPECT_EQ(1, ax.PenSizeSet);
  EXPECT_EQ(kPhaseIdle, ax.StrokePhase);
  EXPECT_EQ(kCursorPen, ax.SavedCursor);
  EXPECT_EQ(3, ax.SavedPenWidth);
  EXPECT_FALSE(ax.ImageLoading);
  EXPECT_FALSE(ax.HasBackground);
  EXPECT_FALSE(ax.KeepUndoBackground);
  EXPECT_FALSE(ax.UndoHasBackground);
  // The control's own.
  EXPECT_EQ(-1, ax.FDrawEnabled);
  EXPECT_EQ(0, ax.FDrawAreaAlign);
  EXPECT_EQ(0, ax.Get_DrawAreaAlign());
  EXPECT_FALSE(ax.FPenDetected);
  EXPECT_FALSE(ax.FTabletContact);
  EXPECT_FALSE(ax.FFirstTabletAttach) << "the tablet's one-time configuration is done";
  ASSERT_TRUE(ax.FUndoDrawBmp && ax.FUndoTextureBmp && ax.FLastDrawBmp && ax.FLastTextureBmp && ax.FPasteBmp);
  EXPECT_TRUE(ax.FPasteBmp->Empty());
  // Two snapshots were taken, and still nothing can be undone.
  EXPECT_EQ(2, ax.SnapshotCount());
  EXPECT_FALSE(ax.sbtnUndo->Enabled());
  EXPECT_FALSE(ax.Timer.Enabled());
  EXPECT_EQ(100u, ax.Timer.Interval());
  // The pen tool is active.
  EXPECT_TRUE(ax.sbtnPen->Down());
  EXPECT_TRUE(ax.pnlPenMode->Visible());
  EXPECT_EQ(kCursorPen, ax.imgDraw->Cursor());
  for (fw::Panel* p : {ax.pnlText, ax.pnlShape1, ax.pnlShape2}) EXPECT_EQ(2, p->Top());
  EXPECT_TRUE(ax.pnlImg->DoubleBuffered());
  // The cursors, by number.
  const wchar_t* names[] = {L"PEN_C", L"ERASER", L"BUCKET", L"TEXT"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(LoadCursorW(zqtest::ControlModule(), names[i]), fw::CursorHandle(i + 1)) << i + 1;
  // The drawing covers the area, white, 24 bits per pixel, and the history holds it.
  EXPECT_EQ(557, ax.Get_DrawAreaWidth());
  EXPECT_EQ(353, ax.Get_DrawAreaHeight());
  EXPECT_EQ(557, ax.DrawBitmap().Width());
  EXPECT_EQ(353, ax.DrawBitmap().Height());
  EXPECT_EQ(24, ax.DrawBitmap().BitsPerPixel());
  EXPECT_EQ(0xFFFFFFu, At(ax.DrawBitmap(), 100, 100));
  EXPECT_EQ(557, ax.FLastDrawBmp->Width());
  EXPECT_EQ(353, ax.FUndoTextureBmp->Height());
  // The companions: hidden, configured as set-up leaves them.
  for (fw::OleControl* c : {static_cast<fw::OleControl*>(ax.ZanTCtl), static_cast<fw::OleControl*>(ax.ZanPBrs),
                            static_cast<fw::OleControl*>(ax.ZanPErs)}) {
    EXPECT_TRUE(c->InvisibleAtRunTime()) << zqtest::Narrow(c->Name());
    EXPECT_FALSE(c->Visible()) << zqtest::Narrow(c->Name());
    EXPECT_FALSE(c->CreatedFromModule()) << "registered classes come from the registry";
  }
  EXPECT_EQ(100, ax.ZanPBrs->GetLong(11)) << "brush Magnification";
  EXPECT_EQ(0, ax.ZanPBrs->GetLong(21)) << "brush VaryLineWidth";
  EXPECT_EQ(100, ax.ZanPErs->GetLong(5)) << "eraser Magnification";
  EXPECT_EQ(0, ax.ZanPErs->GetLong(13)) << "eraser VaryLineWidth";
  EXPECT_EQ(1, ax.ZanTCtl->CursorMode()) << "TabletOptionB(0): the pen drives the system cursor";
}

TEST_F(ControlTest, WithoutATabletTheMouseStillDraws) {
  Hosted h;
  Probe& ax = *h.ax;
  // This machine has no tablet (Xvfb offers none): the control notes it and turns the
  // tablet's input off.
  EXPECT_NE(0, ax.ZanTCtl->DeviceStatus());
  EXPECT_FALSE(ax.FTabletReady);
  EXPECT_EQ(0, ax.ZanTCtl->InputEnabled());
  // The mouse reaches the drawing, and the brush paints into the drawing bitmap.
  zqtest::Click(ax.pnlImg->Handle(), 200, 150);
  EXPECT_EQ(1, ax.mouseDowns);
  {
    fw::CanvasLock lock(ax.imgDraw->GetCanvas());
    HDC screen = GetDC(ax.pnlImg->Handle());
    ax.ZanPBrs->SetColor(0x0000FF);
    ax.ZanPBrs->SetMaxLineWidth(5);
    ax.ZanPBrs->BeginStroke(screen, ax.imgDraw->GetCanvas().Handle(), 100 * 4, 100 * 4, 65535);
    ax.ZanPBrs->ContinueStroke(screen, ax.imgDraw->GetCanvas().Handle(), 200 * 4, 100 * 4, 65535, 0);
    ReleaseDC(ax.pnlImg->Handle(), screen);
  }
  EXPECT_EQ(0x0000FFu, At(ax.DrawBitmap(), 150, 100));
}

TEST_F(ControlTest, TabletEventsReachTheHandlersThroughTheConnectionPoint) {
  Hosted h;
  Probe& ax = *h.ax;
  const ZanTablet_InjectPacket_t inject = Injector();
  ASSERT_TRUE(inject);
  // Input is on here (a tablet-less machine turns it off at set-up).
  ax.ZanTCtl->EnableInput(1);
  HWND box = ax.scrbxImg->Handle();
  POINT o{0, 0};
  ClientToScreen(box, &o);
  auto packet = [&](int kind, int buttons, int x, int y, long p) {
    ZANTABLET_PACKET k{};
    k.size = sizeof k;
    k.kind = kind;
    k.cursor = ZANTABLET_CURSOR_PEN;
    k.buttons = buttons;
    k.inRange = 1;
    k.x = (o.x + x) * 4;
    k.y = (o.y + y) * 4;
    k.pressure = p;
    ASSERT_EQ(1, inject(box, &k)) << "the tablet is bound to the scroll box";
  };
  packet(ZANTABLET_PROXIMITY, 0, 0, 0, 0);
  packet(ZANTABLET_SAMPLE, ZANTABLET_TIP, 30, 40, 20000);
  packet(ZANTABLET_SAMPLE, ZANTABLET_TIP, 35, 42, 30000);
  packet(ZANTABLET_SAMPLE, 0, 35, 42, 0);
  ASSERT_TRUE(zqtest::PumpUntil([&] { return ax.pens.size() >= 3; }));
  EXPECT_EQ(std::vector<long>{1}, ax.detected);
  ASSERT_EQ(3u, ax.pens.size());
  EXPECT_EQ(1, ax.pens[0].kind);
  EXPECT_EQ(120, ax.pens[0].x);
  EXPECT_EQ(160, ax.pens[0].y);
  EXPECT_EQ(1, ax.pens[0].sw);
  EXPECT_EQ(20000, ax.pens[0].p);
  EXPECT_EQ(2, ax.pens[1].kind);
  EXPECT_EQ(140, ax.pens[1].x);
  EXPECT_EQ(3, ax.pens[2].kind);
}

TEST_F(ControlTest, UnregisteredCompanionsComeFromTheModulesBesideTheControl) {
  for (const char* v : {"ZQ_PBRUSH_OCX", "ZQ_TABLET_OCX"}) ASSERT_EQ(S_OK, ServerEntry(v, "DllUnregisterServer")());
  {
    Hosted h;
    for (fw::OleControl* c : {static_cast<fw::OleControl*>(h.ax->ZanTCtl), static_cast<fw::OleControl*>(h.ax->ZanPBrs),
                              static_cast<fw::OleControl*>(h.ax->ZanPErs)})
      EXPECT_TRUE(c->CreatedFromModule()) << zqtest::Narrow(c->Name());
    EXPECT_EQ(100, h.ax->ZanPBrs->GetLong(11)) << "and they work as well";
  }
  for (const char* v : {"ZQ_PBRUSH_OCX", "ZQ_TABLET_OCX"}) ASSERT_EQ(S_OK, ServerEntry(v, "DllRegisterServer")());
}

TEST_F(ControlTest, TheBorderStyleSetterBindsTheTabletAgainAlsoWhenTheStyleStays) {
  Hosted h;
  Probe& ax = *h.ax;
  const ZanTablet_InjectPacket_t inject = Injector();
  ASSERT_TRUE(inject);
  ZANTABLET_PACKET away{};
  away.size = sizeof away;
  away.kind = ZANTABLET_PROXIMITY;
  auto bound = [&](HWND w) { return inject(w, &away) == 1; };
  ASSERT_TRUE(bound(ax.scrbxImg->Handle()));
  ax.ZanTCtl->AttachWindow(h.host.hwnd());  // something took the tablet elsewhere
  ASSERT_FALSE(bound(ax.scrbxImg->Handle()));
  ax.Set_AxBorderStyle(ax.Get_AxBorderStyle());
  EXPECT_TRUE(bound(ax.scrbxImg->Handle())) << "bound to the scroll box again";
  zqtest::Pump();
}

TEST_F(ControlTest, AFailingComponentCallBecomesAnException) {
  Hosted h;
  try {
    h.ax->ZanPBrs->SetBrushType(9, 0, 0);
    FAIL() << "no exception";
  } catch (const fw::Error& e) {
    EXPECT_EQ(E_INVALIDARG, e.code());
    EXPECT_NE(std::string::npos, std::string(e.what()).find("SetBrushType")) << e.what();
  }
}

// Presses, moves and releases the left button on a control's drawing panel, through its
// window's messages.
void Press(Probe& ax, int x, int y) { SendMessageW(ax.pnlImg->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y)); }
void MoveTo(Probe& ax, int x, int y) { SendMessageW(ax.pnlImg->Handle(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y)); }
void Release(Probe& ax, int x, int y) { SendMessageW(ax.pnlImg->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(x, y)); }
void Stroke(Probe& ax, int x0, int x1, int y) {
  Press(ax, x0, y);
  for (int x = x0 + 10; x <= x1; x += 10) MoveTo(ax, x, y);
  Release(ax, x1, y);
}
// Chooses red, then the eraser, through the palette's handlers.
void RedThenEraser(Probe& ax) {
  ax.shpCol1MouseDown(*ax.shpCol[3], fw::MouseButton::Left, {}, 1, 1);
  ax.sbtnErs->SetDown(true);
  ax.sbtnErsClick(*ax.sbtnErs);
}

TEST_F(ControlTest, EveryControlKeepsItsOwnDrawingStateOnOneThreadAndOnTwo) {
  Hosted a;
  Probe& first = *a.ax;
  RedThenEraser(first);
  Press(first, 30, 30);  // a drag in progress in the first
  ASSERT_EQ(kPhaseMouseDrag, first.StrokePhase);
  Hosted b;
  Probe& second = *b.ax;
  // Making the second left the first's tool, colour, width and drag alone.
  EXPECT_EQ(kToolEraser, first.CurrentTool);
  EXPECT_EQ(0x0000FFu, first.PenColor);
  EXPECT_EQ(22, first.PenWidth);
  EXPECT_EQ(kPhaseMouseDrag, first.StrokePhase);
  EXPECT_EQ(kToolPen, second.CurrentTool);
  EXPECT_EQ(0u, second.PenColor);
  EXPECT_EQ(kPhaseIdle, second.StrokePhase);
  // The second draws while the first's drag goes on; each drag ends in its own control.
  const int firstSnapshots = first.SnapshotCount(), secondSnapshots = second.SnapshotCount();
  Stroke(second, 40, 200, 60);
  EXPECT_EQ(kPhaseIdle, second.StrokePhase);
  EXPECT_EQ(kPhaseMouseDrag, first.StrokePhase) << "the first is still dragging";
  Release(first, 60, 30);
  EXPECT_EQ(kPhaseIdle, first.StrokePhase);
  ASSERT_TRUE(zqtest::PumpUntil([&] {
    return first.SnapshotCount() > firstSnapshots && second.SnapshotCount() > secondSnapshots;
  })) << "each release armed its own control's timer";
  EXPECT_EQ(fw::kBlack, At(second.DrawBitmap(), 100, 60)) << "drawn in black, the second's colour";
  EXPECT_EQ(fw::kWhite, At(first.DrawBitmap(), 100, 60));
  // Undo and the background flags stay with their control.
  first.HasBackground = true;
  second.TakeUndoSnapshot();
  EXPECT_FALSE(second.UndoHasBackground);
  first.sbtnUndoClick(first.sbtnUndo);
  EXPECT_EQ(fw::kBlack, At(second.DrawBitmap(), 100, 60)) << "the first's undo left the second's drawing";
  EXPECT_TRUE(second.sbtnUndo->Enabled());
  first.HasBackground = false;

  // A control on a thread of its own (an apartment of its own, as the class is registered):
  // made, drawn with and timed there while this thread's control does the same.
  std::atomic<int> stage{0};
  struct Seen {
    int tool = 0, mode = 0, snapshotsGained = 0;
    fw::Color colour = 0, inked = 0;
    HCURSOR eraserCursor = nullptr;
  } seen;
  std::thread other([&] {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
      Hosted t;
      Probe& ax = *t.ax;
      ax.imgCrayonClick(*ax.imgCrayon);
      ax.shpCol1MouseDown(*ax.shpCol[5], fw::MouseButton::Left, {}, 1, 1);  // lime
      stage = 1;
      fw::PumpUntil([&] { return stage == 2; }, 5000);  // this thread's control is made
      const int before = ax.SnapshotCount();
      Stroke(ax, 40, 200, 80);
      fw::PumpUntil([&] { return ax.SnapshotCount() > before; }, 5000);
      seen = {ax.CurrentTool, ax.PenMode, ax.SnapshotCount() - before, ax.PenColor, At(ax.DrawBitmap(), 100, 80),
              fw::CursorHandle(kCursorEraser)};
      stage = 3;
      fw::PumpUntil([&] { return stage == 4; }, 5000);
    }
    CoUninitialize();
  });
  ASSERT_TRUE(zqtest::PumpUntil([&] { return stage == 1; }, 10000));
  Hosted c;
  Probe& mine = *c.ax;
  stage = 2;
  const int before = mine.SnapshotCount();
  Stroke(mine, 40, 200, 120);
  const bool done = zqtest::PumpUntil([&] { return stage == 3 && mine.SnapshotCount() > before; }, 10000);
  stage = 4;
  other.join();
  ASSERT_TRUE(done);
  EXPECT_EQ(kToolPen, seen.tool);
  EXPECT_EQ(3, seen.mode) << "crayon, chosen there";
  EXPECT_EQ(0x00FF00u, seen.colour);
  EXPECT_EQ(1, seen.snapshotsGained) << "that thread's timer took its snapshot";
  EXPECT_NE(fw::kWhite, seen.inked);
  EXPECT_EQ(LoadCursorW(zqtest::ControlModule(), L"ERASER"), seen.eraserCursor) << "that thread's cursors";
  EXPECT_EQ(0, mine.PenMode);
  EXPECT_EQ(0u, mine.PenColor);
  EXPECT_EQ(fw::kBlack, At(mine.DrawBitmap(), 100, 120));
}

TEST_F(ControlTest, TheHistoryTimerCoalescesQuickOperationsAndWaitsForOneInProgress) {
  Hosted h;
  Probe& ax = *h.ax;
  const int before = ax.SnapshotCount();
  Mark(ax.DrawBitmap(), 10, 10, 0x0000FF);
  ax.Timer.SetEnabled(true);
  zqtest::Pump();
  Mark(ax.DrawBitmap(), 20, 20, 0x00FF00);
  ax.Timer.SetEnabled(true);  // armed already: the interval runs on
  ASSERT_TRUE(zqtest::PumpUntil([&] { return ax.SnapshotCount() > before; }, 2000));
  EXPECT_EQ(before + 1, ax.SnapshotCount()) << "two arms within 100 ms: one snapshot";
  EXPECT_FALSE(ax.Timer.Enabled()) << "disarmed: no second snapshot follows";
  EXPECT_TRUE(ax.sbtnUndo->Enabled());
  EXPECT_EQ(0x00FF00u, At(*ax.FLastDrawBmp, 20, 20));
  EXPECT_EQ(0xFFFFFFu, At(*ax.FUndoDrawBmp, 10, 10)) << "the undo target is the picture before both";

  // A stroke begun while the timer runs: the timer fires during it and its snapshot waits
  // for the release, which arms it again.
  ax.Timer.SetEnabled(true);
  Press(ax, 40, 100);
  MoveTo(ax, 120, 100);
  ASSERT_TRUE(zqtest::PumpUntil([&] { return !ax.Timer.Enabled(); }, 2000)) << "the timer fired";
  EXPECT_EQ(before + 1, ax.SnapshotCount()) << "no picture of half a stroke";
  MoveTo(ax, 200, 100);
  Release(ax, 200, 100);
  ASSERT_TRUE(zqtest::PumpUntil([&] { return ax.SnapshotCount() == before + 2; }, 2000));
  EXPECT_EQ(fw::kBlack, At(*ax.FLastDrawBmp, 180, 100)) << "the whole stroke is the step";
  ax.sbtnUndoClick(ax.sbtnUndo);
  EXPECT_EQ(fw::kWhite, At(ax.DrawBitmap(), 80, 100)) << "undo takes the whole stroke away, never half";
}

TEST_F(ControlTest, TeardownFreesEveryBitmapOnceAndLateHandlersLeaveThemAlone) {
  const long bitmaps = fw::Bitmap::LiveCount();
  const long dcs = fw::Canvas::OpenHandles();
  {
    Hosted h;
    EXPECT_GT(fw::Bitmap::LiveCount(), bitmaps + 5);
    Probe& ax = *h.ax;
    // The destroy handler frees the five; handlers that run afterwards (a last resize of
    // the scroll box, say) find them gone and do nothing.
    ax.Destroying();
    EXPECT_FALSE(ax.FUndoDrawBmp || ax.FUndoTextureBmp || ax.FLastDrawBmp || ax.FLastTextureBmp || ax.FPasteBmp);
    const int snapshots = ax.SnapshotCount();
    ax.scrbxImg->SetBounds(0, 0, 300, 200);
    ax.pnlImg->SetBounds(0, 0, 100, 100);
    ax.TimerTimer(ax.Timer);
    ax.TakeUndoSnapshot();
    ax.sbtnUndoClick(nullptr);
    EXPECT_EQ(snapshots, ax.SnapshotCount());
  }
  EXPECT_EQ(bitmaps, fw::Bitmap::LiveCount()) << "every bitmap was freed, none twice";
  EXPECT_EQ(dcs, fw::Canvas::OpenHandles());
  // Many controls, one after another: nothing accumulates.
  for (int i = 0; i < 5; ++i) Hosted h;
  EXPECT_EQ(bitmaps, fw::Bitmap::LiveCount());
  EXPECT_EQ(dcs, fw::Canvas::OpenHandles());
}

// ---- the undo history ----

TEST_F(ControlTest, UndoGoesBackOneSnapshotThenHasNothingLeft) {
  Hosted h;
  Probe& ax = *h.ax;
  // Right after set-up there is nothing to undo.
  ax.sbtnUndoClick(ax.sbtnUndo);
  EXPECT_EQ(0xFFFFFFu, At(ax.DrawBitmap(), 5, 5));
  EXPECT_FALSE(ax.sbtnUndo->Enabled());

  Mark(ax.DrawBitmap(), 5, 5, 0x0000FF);
  ax.TakeUndoSnapshot();
  EXPECT_TRUE(ax.sbtnUndo->Enabled()) << "a snapshot enables undo";
  Mark(ax.DrawBitmap(), 6, 6, 0x00FF00);
  ax.TakeUndoSnapshot();
  int modified = 0;
  ax.OnModified = [&](fw::Control&) { ++modified; };
  ax.sbtnUndoClick(ax.sbtnUndo);
  EXPECT_EQ(1, modified) << "undo changes the drawing: the control is modified";
  ax.OnModified = nullptr;
  EXPECT_EQ(0x0000FFu, At(ax.DrawBitmap(), 5, 5));
  EXPECT_EQ(0xFFFFFFu, At(ax.DrawBitmap(), 6, 6)) << "the last step is undone";
  EXPECT_FALSE(ax.sbtnUndo->Enabled());
  EXPECT_EQ(24, ax.DrawBitmap().BitsPerPixel());
  // Undo again (the handler, though the button is disabled): the same picture again.
  ax.sbtnUndoClick(ax.sbtnUndo);
  EXPECT_EQ(0x0000FFu, At(ax.DrawBitmap(), 5, 5));
  EXPECT_EQ(0xFFFFFFu, At(ax.DrawBitmap(), 6, 6));

  // Undo does nothing while drawing is disabled or an image waits to be placed.
  Mark(ax.DrawBitmap(), 7, 7, 0x00FF00);
  ax.TakeUndoSnapshot();
  ax.FDrawEnabled = 0;
  ax.sbtnUndoClick(ax.sbtnUndo);
  EXPECT_EQ(0x00FF00u, At(ax.DrawBitmap(), 7, 7));
  ax.FDrawEnabled = -1;
  ax.CurrentTool = kToolPlacement;
  ax.sbtnUndoClick(ax.sbtnUndo);
  EXPECT_EQ(0x00FF00u, At(ax.DrawBitmap(), 7, 7));
  ax.CurrentTool = kToolPen;
  ax.sbtnUndoClick(ax.sbtnUndo);
  EXPECT_EQ(0xFFFFFFu, At(ax.DrawBitmap(), 7, 7));
}

TEST_F(ControlTest, UndoRestoresTheBackgroundAndItsFlag) {
  Hosted h;
  Probe& ax = *h.ax;
  // A background appears (as a placement makes one) and is recorded.
  Mark(ax.TextureBitmap(), 3, 3, 0x123456);
  ax.HasBackground = true;
  ax.TakeUndoSnapshot();
  EXPECT_TRUE(ax.UndoHasBackground) << "a snapshot copies HasBackground";
  // A placement keeps the undo flag for one snapshot.
  ax.KeepUndoBackground = true;
  ax.HasBackground = false;
  ax.TakeUndoSnapshot();
  EXPECT_FALSE(ax.KeepUndoBackground) << "and the snapshot clears it";
  EXPECT_TRUE(ax.UndoHasBackground) << "left alone while ax.KeepUndoBackground was set";
  EXPECT_FALSE(ax.HasBackground);
  // Undo with a texture snapshot: the layer and HasBackground come back, and the eraser
  // gets the background to uncover.
  Mark(ax.TextureBitmap(), 3, 3, 0xFFFFFF);
  ax.sbtnUndoClick(ax.sbtnUndo);
  EXPECT_EQ(0x123456u, At(ax.TextureBitmap(), 3, 3));
  EXPECT_TRUE(ax.HasBackground) << "set to UndoHasBackground";
  EXPECT_TRUE(ax.ZanPErs->HasTextureBitmap());
  ax.HasBackground = ax.UndoHasBackground = false;
}

TEST_F(ControlTest, UndoAvailabilityFollowsEachKindOfEvent) {
  Hosted h;
  Probe& ax = *h.ax;
  EXPECT_FALSE(ax.sbtnUndo->Enabled()) << "set-up";
  ax.TakeUndoSnapshot();
  EXPECT_TRUE(ax.sbtnUndo->Enabled()) << "a snapshot (a stroke, a clear, a placement)";
  ax.sbtnUndoClick(ax.sbtnUndo);
  EXPECT_FALSE(ax.sbtnUndo->Enabled()) << "an undo";
  ax.TakeUndoSnapshot();
  h.host.SetClientSize(640, 420);
  EXPECT_FALSE(ax.sbtnUndo->Enabled()) << "a resize of the scroll box in automatic alignment";
  ax.TakeUndoSnapshot();
  ax.Set_DrawAreaAlign(1);
  ax.Set_DrawAreaWidth(300);
  EXPECT_FALSE(ax.sbtnUndo->Enabled()) << "a resize of the drawing panel";
  ax.TakeUndoSnapshot();
  h.host.SetClientSize(600, 400);
  EXPECT_TRUE(ax.sbtnUndo->Enabled()) << "resizing the control in manual alignment changes nothing";
}

// ---- the drawing area ----

TEST_F(ControlTest, AutomaticAlignmentFollowsTheControl) {
  Hosted h;
  Probe& ax = *h.ax;
  // The scroll box fills what the palettes leave: (W - 52) x (H - 53).
  EXPECT_EQ(49, ax.scrbxImg->Left());
  EXPECT_EQ(50, ax.scrbxImg->Top());
  Mark(ax.DrawBitmap(), 500, 300, 0x0000FF);
  const int before = ax.SnapshotCount();
  h.host.SetClientSize(800, 600);
  EXPECT_EQ(748, ax.Get_DrawAreaWidth());
  EXPECT_EQ(547, ax.Get_DrawAreaHeight());
  EXPECT_EQ(748, ax.DrawBitmap().Width());
  EXPECT_EQ(547, ax.DrawBitmap().Height());
  EXPECT_EQ(0x0000FFu, At(ax.DrawBitmap(), 500, 300)) << "pixels stay at their place";
  EXPECT_EQ(0xFFFFFFu, At(ax.DrawBitmap(), 700, 500)) << "the new part is white";
  EXPECT_EQ(0xFFFFFFu, At(ax.TextureBitmap(), 700, 500));
  EXPECT_EQ(before + 1, ax.SnapshotCount()) << "one snapshot per resize of the scroll box";
  EXPECT_EQ(748, ax.FUndoDrawBmp->Width()) << "the history follows";
  EXPECT_EQ(547, ax.FLastTextureBmp->Height());
  EXPECT_FALSE(ax.sbtnUndo->Enabled());
  // In automatic alignment the size setters change nothing and raise nothing.
  ax.Set_DrawAreaWidth(300);
  ax.Set_DrawAreaHeight(200);
  EXPECT_EQ(748, ax.Get_DrawAreaWidth());
  EXPECT_EQ(547, ax.Get_DrawAreaHeight());
  // Any value but 1 aligns automatically, in every respect: the resize snapshot too.
  ax.Set_DrawAreaAlign(7);
  const int snapshots = ax.SnapshotCount();
  h.host.SetClientSize(700, 500);
  EXPECT_EQ(648, ax.Get_DrawAreaWidth());
  EXPECT_EQ(snapshots + 1, ax.SnapshotCount());
  EXPECT_EQ(648, ax.FUndoDrawBmp->Width());
  EXPECT_EQ(7, ax.Get_DrawAreaAlign());
}

TEST_F(ControlTest, ManualAlignmentHasASizeOfItsOwn) {
  Hosted h;
  Probe& ax = *h.ax;
  Mark(ax.DrawBitmap(), 556, 10, 0x0000FF);
  ax.Set_DrawAreaAlign(1);
  EXPECT_EQ(1, ax.Get_DrawAreaAlign());
  ax.TakeUndoSnapshot();
  ax.Set_DrawAreaWidth(800);
  EXPECT_EQ(800, ax.Get_DrawAreaWidth());
  EXPECT_EQ(800, ax.DrawBitmap().Width());
  EXPECT_EQ(353, ax.DrawBitmap().Height());
  EXPECT_EQ(0x0000FFu, At(ax.DrawBitmap(), 556, 10));
  EXPECT_EQ(0xFFFFFFu, At(ax.DrawBitmap(), 557, 10));
  EXPECT_EQ(0xFFFFFFu, At(ax.DrawBitmap(), 799, 352));
  for (fw::Bitmap* b : {ax.FUndoDrawBmp.get(), ax.FLastDrawBmp.get(), ax.FUndoTextureBmp.get(), ax.FLastTextureBmp.get()})
    EXPECT_EQ(800, b->Width());
  EXPECT_EQ(800, ax.TextureBitmap().Width());
  EXPECT_FALSE(ax.sbtnUndo->Enabled());
  SCROLLINFO si{};
  si.cbSize = sizeof si;
  si.fMask = SIF_RANGE | SIF_PAGE;
  ASSERT_TRUE(GetScrollInfo(ax.scrbxImg->Handle(), SB_HORZ, &si));
  EXPECT_GE(si.nMax + 1, 800) << "the scroll box scrolls to the whole width";
  EXPECT_LT(static_cast<int>(si.nPage), 800);

  // Height: cropped, then grown back white.
  Mark(ax.DrawBitmap(), 50, 150, 0x00FF00);
  ax.Set_DrawAreaHeight(100);
  EXPECT_EQ(100, ax.DrawBitmap().Height());
  EXPECT_EQ(100, ax.FLastTextureBmp->Height());
  ax.Set_DrawAreaHeight(353);
  EXPECT_EQ(0xFFFFFFu, At(ax.DrawBitmap(), 50, 150)) << "lost rows come back white";
  EXPECT_EQ(0x0000FFu, At(ax.DrawBitmap(), 556, 10));
  // Zero and negative sizes are ignored.
  ax.Set_DrawAreaWidth(0);
  ax.Set_DrawAreaWidth(-5);
  ax.Set_DrawAreaHeight(0);
  EXPECT_EQ(800, ax.Get_DrawAreaWidth());
  EXPECT_EQ(353, ax.Get_DrawAreaHeight());
  // Resizing the control only changes how much of the drawing shows.
  h.host.SetClientSize(500, 300);
  EXPECT_EQ(800, ax.DrawBitmap().Width());
  EXPECT_EQ(353, ax.DrawBitmap().Height());
  // Back to automatic: the drawing takes the scroll box's size, cropped or extended.
  ax.Set_DrawAreaAlign(0);
  EXPECT_EQ(448, ax.Get_DrawAreaWidth());
  EXPECT_EQ(247, ax.Get_DrawAreaHeight());
  EXPECT_EQ(448, ax.DrawBitmap().Width());
  EXPECT_EQ(247, ax.DrawBitmap().Height());
  EXPECT_FALSE(ax.sbtnUndo->Enabled());
}

TEST_F(ControlTest, FittingToAPictureMakesTheAreaManualAndThatSize) {
  Hosted h;
  Probe& ax = *h.ax;
  ax.ImageLoading = true;  // as the picture setters load
  ax.DrawBitmap().SetSize(1024, 768);
  ax.FitAreaToPicture();
  ax.ImageLoading = false;
  EXPECT_EQ(1, ax.Get_DrawAreaAlign());
  EXPECT_EQ(1024, ax.Get_DrawAreaWidth());
  EXPECT_EQ(768, ax.Get_DrawAreaHeight());
  EXPECT_EQ(1024, ax.TextureBitmap().Width());
  // An empty picture leaves mode and size alone.
  ax.Set_DrawAreaAlign(0);
  const long w = ax.Get_DrawAreaWidth();
  ax.DrawBitmap().SetSize(0, 0);
  ax.FitAreaToPicture();
  EXPECT_EQ(0, ax.Get_DrawAreaAlign());
  EXPECT_EQ(w, ax.Get_DrawAreaWidth());
}

TEST_F(ControlTest, SizesTooLargeFailCleanlyAndChangeNothing) {
  zqtest::ScriptedDialogs dialogs;
  Hosted h;
  Probe& ax = *h.ax;
  ax.Set_DrawAreaAlign(1);
  ax.Set_DrawAreaWidth(600);
  Mark(ax.DrawBitmap(), 10, 10, 0x0000FF);
  auto sizes = [&] {
    std::vector<int> s;
    for (fw::Bitmap* b : {&ax.DrawBitmap(), &ax.TextureBitmap(), ax.FUndoDrawBmp.get(), ax.FLastDrawBmp.get(),
                          ax.FUndoTextureBmp.get(), ax.FLastTextureBmp.get()}) {
      s.push_back(b->Width());
      s.push_back(b->Height());
    }
    s.push_back(ax.Get_DrawAreaWidth());
    s.push_back(ax.Get_DrawAreaHeight());
    return s;
  };
  const auto before = sizes();
  // Both setters refuse a size beyond the limits to the caller, with the text that says
  // the limits, and without a message box (the scripted dialogs fail the test if one is
  // shown).
  auto refused = [&](void (Probe::*set)(long), long bad) {
    try {
      (ax.*set)(bad);
      ADD_FAILURE() << "no error for " << bad;
    } catch (const fw::Error& e) {
      EXPECT_EQ(E_INVALIDARG, e.code());
      EXPECT_EQ(fw::Narrow(kAreaTooLarge), e.what());
    }
  };
  for (long bad : {40000L, 2147483647L, 50000L}) {
    refused(&Probe::Set_DrawAreaWidth, bad);
    EXPECT_EQ(before, sizes());
  }
  // Within a side's limit but too many pixels for the history: refused up front.
  ax.Set_DrawAreaHeight(4000);
  EXPECT_EQ(4000, ax.Get_DrawAreaHeight());
  EXPECT_THROW(ax.Set_DrawAreaWidth(5000), fw::Error);
  EXPECT_EQ(600, ax.DrawBitmap().Width());
  EXPECT_EQ(4000, ax.FUndoDrawBmp->Height());
  ax.Set_DrawAreaHeight(353);
  ax.Set_DrawAreaWidth(4096);
  for (long bad : {40000L, 4097L}) refused(&Probe::Set_DrawAreaHeight, bad);
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(353, ax.Get_DrawAreaHeight());
  EXPECT_EQ(353, ax.FLastDrawBmp->Height());
  EXPECT_EQ(0x0000FFu, At(ax.DrawBitmap(), 10, 10));
}

// The drawing's pixels, top row first, three bytes each.
std::vector<std::uint8_t> Pixels(fw::Bitmap& b) {
  const Bgr24View v = b.View();
  std::vector<std::uint8_t> out;
  for (int y = 0; y < v.height; ++y) out.insert(out.end(), v.Row(y), v.Row(y) + std::size_t(v.width) * 3);
  return out;
}
void WriteFile(const std::wstring& path, const void* data, std::size_t size) {
  FILE* f = _wfopen(path.c_str(), L"wb");
  ASSERT_TRUE(f);
  fwrite(data, 1, size, f);
  fclose(f);
}
// A PNG of nothing but a header claiming a picture of w x h (CRCs right).
std::string PngHeaderOnly(std::uint32_t w, std::uint32_t h) {
  auto crc = [](const std::string& s) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : s) {
      c ^= b;
      for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
  };
  auto be = [](std::uint32_t v) {
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  };
  const std::string ihdr = "IHDR" + be(w) + be(h) + std::string{8, 2, 0, 0, 0};
  return std::string("\x89PNG\r\n\x1a\n", 8) + be(13) + ihdr + be(crc(ihdr)) + be(0) + "IEND" + be(crc("IEND"));
}

TEST_F(ControlTest, PngImageBase64RoundTripsTheDrawingAndRefusesTextThatHoldsNoPng) {
  Hosted a;
  Probe& ax = *a.ax;
  {
    fw::Canvas& c = ax.DrawBitmap().GetCanvas();
    fw::CanvasLock lock(c);
    for (int i = 0; i < 200; ++i) c.SetPixel((i * 37) % 557, (i * 53) % 353, 0x102030 * (i % 7) + i);
    c.Brush() = {fw::BrushStyle::Solid, 0x00C0FF};
    c.FillRect(RECT{100, 100, 300, 160});
  }
  const std::string text = zqtest::Narrow(ax.Get_PngImageBase64().str());
  ASSERT_GT(text.size(), 100u);
  // For the independent decoder of the test set-up (check_png_decode.py): the PNG, and the
  // pixels it must hold (width, height, then rows of blue, green, red).
  const ByteString png = DecodeBase64(text);
  WriteFile(zqtest::Join(zqtest::OutputDir(), L"pngimagebase64.png"), png.data(), png.size());
  std::vector<std::uint8_t> raw = Pixels(ax.DrawBitmap());
  const std::uint32_t size[2] = {557, 353};
  raw.insert(raw.begin(), reinterpret_cast<const std::uint8_t*>(size), reinterpret_cast<const std::uint8_t*>(size) + 8);
  WriteFile(zqtest::Join(zqtest::OutputDir(), L"pngimagebase64.bgr"), raw.data(), raw.size());

  // Into another control: the same pixels, manual alignment at the image's size, undo off.
  Hosted b(800, 600);
  Probe& bx = *b.ax;
  bx.TakeUndoSnapshot();
  ASSERT_TRUE(bx.sbtnUndo->Enabled());
  bx.Set_PngImageBase64(std::wstring(text.begin(), text.end()));
  EXPECT_EQ(1, bx.Get_DrawAreaAlign());
  EXPECT_EQ(557, bx.Get_DrawAreaWidth());
  EXPECT_EQ(353, bx.Get_DrawAreaHeight());
  EXPECT_EQ(Pixels(ax.DrawBitmap()), Pixels(bx.DrawBitmap()));
  EXPECT_EQ(557, bx.FLastDrawBmp->Width()) << "the history holds the new picture";
  EXPECT_FALSE(bx.sbtnUndo->Enabled());
  EXPECT_FALSE(bx.ImageLoading);
  EXPECT_EQ(text, zqtest::Narrow(bx.Get_PngImageBase64().str())) << "get after put gives the same text";

  // Text that holds no PNG changes nothing: drawing, area, history, undo.
  bx.Set_DrawAreaWidth(500);
  bx.TakeUndoSnapshot();
  const auto pixels = Pixels(bx.DrawBitmap());
  const int snapshots = bx.SnapshotCount();
  const std::string huge = EncodeBase64(PngHeaderOnly(100000, 100000));
  const std::string over = EncodeBase64(PngHeaderOnly(5000, 4000));  // beyond the drawing's 16 Mi pixels
  for (const std::string& bad : {std::string("not a picture at all"), huge, over, text.substr(0, text.size() / 2)}) {
    try {
      bx.Set_PngImageBase64(std::wstring(bad.begin(), bad.end()));
      ADD_FAILURE() << "no error for " << bad.substr(0, 20);
    } catch (const fw::Error& e) {
      EXPECT_EQ(E_INVALIDARG, e.code());
      EXPECT_EQ(fw::Narrow(kNotPngText), e.what());
    }
    EXPECT_EQ(pixels, Pixels(bx.DrawBitmap()));
    EXPECT_EQ(500, bx.Get_DrawAreaWidth());
    EXPECT_EQ(snapshots, bx.SnapshotCount());
    EXPECT_TRUE(bx.sbtnUndo->Enabled());
    EXPECT_FALSE(bx.ImageLoading);
  }
  // The empty text, as older property bags hold it: the drawing stays, the history restarts.
  bx.Set_PngImageBase64(L"");
  EXPECT_EQ(pixels, Pixels(bx.DrawBitmap()));
  EXPECT_FALSE(bx.sbtnUndo->Enabled());
}

TEST_F(ControlTest, TheHistoryOfALargeAreaHoldsPixelsButNoDeviceContexts) {
  Hosted h;
  Probe& ax = *h.ax;
  ax.Set_DrawAreaAlign(1);
  ax.Set_DrawAreaWidth(1920);
  ax.Set_DrawAreaHeight(1080);
  ax.TakeUndoSnapshot();
  const long dcs = fw::Canvas::OpenHandles();
  const DWORD gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  for (int i = 0; i < 10; ++i) ax.TakeUndoSnapshot();
  std::size_t bytes = 0;
  for (fw::Bitmap* b : {ax.FUndoDrawBmp.get(), ax.FLastDrawBmp.get(), ax.FUndoTextureBmp.get(), ax.FLastTextureBmp.get()}) {
    EXPECT_FALSE(b->GetCanvas().HandleAllocated()) << "a history bitmap holds no device context";
    bytes += b->ByteSize();
  }
  EXPECT_EQ(4u * 1920 * 3 * 1080, bytes) << "four bitmaps of 3 bytes a pixel";
  EXPECT_EQ(dcs, fw::Canvas::OpenHandles()) << "snapshots leave no device context open";
  // Wine's GetGuiResources always answers 0; on Windows it counts the process's GDI objects.
  EXPECT_EQ(gdi, GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS));
}

}  // namespace

namespace {

// ---- what a user sees ----

// Strokes through the brush land on the screen at once and stay there when the area is
// repainted from the drawing; the capture goes to the test output.
TEST_F(ControlTest, StrokesShowAtOnceAndSurviveARepaint) {
  Hosted h(800, 560);
  Probe& ax = *h.ax;
  const fw::Color colors[] = {0x202020, 0xC04010, 0x1060C0, 0x30A040, 0x8020A0, 0x0080FF, 0x606060};
  for (int m = 0; m < 7; ++m) {
    ax.ZanPBrs->SetBrushType(static_cast<short>(m), 0, 0);
    ax.ZanPBrs->SetVaryLineWidth(m >= 4 ? 1 : 0);
    ax.ZanPBrs->SetColor(colors[m]);
    ax.ZanPBrs->SetMaxLineWidth(static_cast<short>(m == 0 ? 3 : 14));
    fw::CanvasLock lock(ax.imgDraw->GetCanvas());
    HDC screen = GetDC(ax.pnlImg->Handle());
    HDC bitmap = ax.imgDraw->GetCanvas().Handle();
    const int y0 = 40 + m * 68;
    ax.ZanPBrs->BeginStroke(screen, bitmap, 30 * 4, y0 * 4, 30000);
    for (int i = 1; i <= 100; ++i)
      ax.ZanPBrs->ContinueStroke(screen, bitmap, (30 + i * 6) * 4, static_cast<long>((y0 + 18 * std::sin(i * 0.12)) * 4),
                                 30000 + 350 * i, 8);
    ReleaseDC(ax.pnlImg->Handle(), screen);
  }
  // On the screen now, before any repaint.
  HWND panel = ax.pnlImg->Handle();
  const zqtest::Capture before = zqtest::CaptureClient(panel);
  const int x = 30 + 50 * 6, y = static_cast<int>(40 + 18 * std::sin(50 * 0.12));
  EXPECT_NE(0xFFFFFFu, At(ax.DrawBitmap(), x, y)) << "the oil-based ink stroke";
  int differ = 0;
  for (int yy = 0; yy < before.height; yy += 2)
    for (int xx = 0; xx < before.width; xx += 2) differ += before.At(xx, yy) != At(ax.DrawBitmap(), xx, yy);
  EXPECT_EQ(0, differ) << "the screen shows what the drawing holds";
  // Repainted from the drawing bitmap.
  RedrawWindow(panel, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  const zqtest::Capture after = zqtest::CaptureClient(panel);
  ASSERT_EQ(before.width, after.width);
  EXPECT_EQ(before.bgr, after.bgr) << "the repaint shows exactly what the strokes showed";
  zqtest::SavePng(zqtest::CaptureClient(h.host.hwnd()), L"control-strokes.png");
}

}  // namespace
