// Drawing with the mouse and the pen on the real form under Wine: the tool palette's
// state, mouse input through real window messages (SendInput), tablet packets injected
// through the tablet component's test entry, the stroke phases, pressure strokes through
// the brush and eraser, and the history timer around strokes.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "ComSupport.h"
#include "TestSupport.h"
#include "UiSupport.h"
#include "HostedControl.h"
#include "ZanQuilmoImpl.h"
#include "ZanTabletInject.h"

using namespace zq;
using zqtest::HostWindow;

// How many allocations this program has made (CountingNew.cpp).
long AllocationCount();

namespace {

// The control with its protected parts in reach, recording every stroke step.
class Probe : public TZanQuilmoAx4 {
 public:
  using TZanQuilmoAx4::TZanQuilmoAx4;
  using TZanQuilmoAx4::DrawBitmap;
  using TZanQuilmoAx4::FPenDetected;
  using TZanQuilmoAx4::FTabletContact;
  using TZanQuilmoAx4::FTabletReady;
  using TZanQuilmoAx4::TextureBitmap;
  using TZanQuilmoAx4::BeginPlacement;

  struct Step {
    long x, y, pressure, extra;
    bool first;
    int tool;
    std::uint8_t phase;
  };
  std::vector<Step> steps;
  bool failing = false;  // the component fails every call
  void DrawStrokePoint(long x, long y, long pressure, long extra, bool first) override {
    steps.push_back({x, y, pressure, extra, first, CurrentTool, StrokePhase});
    if (failing) throw fw::Error("the brush failed");
    TZanQuilmoAx4::DrawStrokePoint(x, y, pressure, extra, first);
  }
  int Strokes() const {
    int n = 0;
    for (const Step& s : steps) n += s.first;
    return n;
  }
};

using Hosted = zqtest::Hosted<Probe>;

fw::Color At(fw::Bitmap& b, int x, int y) { return b.GetCanvas().Pixel(x, y); }
int NonWhite(fw::Bitmap& b, const RECT& r) {
  int n = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) n += At(b, x, y) != fw::kWhite;
  return n;
}

// A click on a graphic control, where a user would click it: in the middle of it, on its
// parent's window.
void ClickOn(Control& c, bool right = false) {
  zqtest::Click(c.Parent()->Handle(), c.Left() + c.Width() / 2, c.Top() + c.Height() / 2, right);
  zqtest::Pump();
}

// Tablet packets into the component bound to the scroll box; positions in pixels of the
// scroll box's client area.
class Pen {
 public:
  explicit Pen(Probe& ax) : ax_(ax) {
    inject_ = reinterpret_cast<ZanTablet_InjectPacket_t>(reinterpret_cast<void*>(
        GetProcAddress(LoadLibraryW(zqtest::EnvDir("ZQ_TABLET_OCX").c_str()), "ZanTablet_InjectPacket")));
    // A machine with a tablet: input on.
    ax.FTabletReady = true;
    ax.ZanTCtl->EnableInput(1);
  }
  void Send(int kind, int buttons, int x, int y, long pressure = 0, int cursor = ZANTABLET_CURSOR_PEN, int inRange = 1) {
    HWND box = ax_.scrbxImg->Handle();
    POINT o{0, 0};
    ClientToScreen(box, &o);
    ZANTABLET_PACKET k{};
    k.size = sizeof k;
    k.kind = kind;
    k.cursor = cursor;
    k.buttons = buttons;
    k.inRange = inRange;
    k.x = (o.x + x) * 4;
    k.y = (o.y + y) * 4;
    k.pressure = pressure;
    k.time = time_ += 5;
    ASSERT_TRUE(inject_);
    ASSERT_EQ(1, inject_(box, &k));
  }
  void Near() { Send(ZANTABLET_PROXIMITY, 0, 0, 0); }
  void Down(int x, int y, long p, int buttons = ZANTABLET_TIP, int cursor = ZANTABLET_CURSOR_PEN) {
    Send(ZANTABLET_SAMPLE, buttons, x, y, p, cursor);
  }
  void Move(int x, int y, long p, int cursor = ZANTABLET_CURSOR_PEN) { Send(ZANTABLET_SAMPLE, ZANTABLET_TIP, x, y, p, cursor); }
  void Up(int x, int y, int cursor = ZANTABLET_CURSOR_PEN) { Send(ZANTABLET_SAMPLE, 0, x, y, 0, cursor); }
  // A whole stroke, delivered.
  void Stroke(int x0, int y0, int x1, int y1, long p) {
    Down(x0, y0, p);
    for (int i = 1; i <= 8; ++i) Move(x0 + (x1 - x0) * i / 8, y0 + (y1 - y0) * i / 8, p);
    Up(x1, y1);
    zqtest::Pump();
  }

 private:
  Probe& ax_;
  ZanTablet_InjectPacket_t inject_ = nullptr;
  DWORD time_ = 1000;
};

// The scroll box's client position of a point of the drawing panel.
POINT BoxPoint(Probe& ax, int x, int y) {
  POINT p{x, y};
  MapWindowPoints(ax.pnlImg->Handle(), ax.scrbxImg->Handle(), &p, 1);
  return p;
}

class DrawingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(zqtest::UseControlModules());
    fw::SetDialogService(&dialogs);
    fw::SetExceptionHandler([this](const std::wstring& m) { errors.push_back(m); });
  }
  void TearDown() override {
    fw::SetExceptionHandler(nullptr);
    fw::SetDialogService(nullptr);
  }
  zqtest::ScriptedDialogs dialogs;
  std::vector<std::wstring> errors;
};

// ---- the palette ----

TEST_F(DrawingTest, PenWidthSetsFollowTheMediumAndTheTool) {
  Hosted h;
  Probe& ax = *h.ax;
  auto shown = [&] {
    std::vector<int> tops;
    for (fw::Image* b : {ax.imgPen32, ax.imgPen22, ax.imgPen14, ax.imgPen08, ax.imgPen03, ax.imgPen02, ax.imgPen01})
      tops.push_back(b->Top());
    return tops;
  };
  // After set-up: set 1 (8, 3, 1), width 3, markers at the oil-based ink and width 3.
  EXPECT_EQ((std::vector<int>{150, 150, 150, 4, 39, 150, 74}), shown());
  EXPECT_EQ(3, ax.PenWidth);
  EXPECT_EQ(ax.imgPen03->Top() - 3, ax.shpPSSel->Top());
  EXPECT_EQ(ax.imgOikInk->Left() - 3, ax.shpPMSel->Left());

  ClickOn(*ax.imgWaterInk);  // set 2
  EXPECT_EQ((std::vector<int>{150, 150, 150, 4, 39, 74, 150}), shown());
  EXPECT_EQ(3, ax.PenWidth);
  ClickOn(*ax.imgPen08);
  EXPECT_EQ(8, ax.PenWidth);
  ClickOn(*ax.imgColoredPencil);  // set 2 again: the width stays
  EXPECT_EQ(8, ax.PenWidth);
  EXPECT_EQ(2, ax.PenMode);
  ClickOn(*ax.imgCrayon);  // set 3 selects 22
  EXPECT_EQ((std::vector<int>{4, 39, 74, 150, 150, 150, 150}), shown());
  EXPECT_EQ(22, ax.PenWidth);
  ClickOn(*ax.imgPen14);
  EXPECT_EQ(14, ax.PenWidth);
  ClickOn(*ax.sbtnErs);  // the eraser also uses set 3: the crayon's width stays
  EXPECT_EQ(kToolEraser, ax.CurrentTool);
  EXPECT_EQ(14, ax.PenWidth);
  EXPECT_EQ(kCursorEraser, ax.imgDraw->Cursor());
  EXPECT_FALSE(ax.pnlPenMode->Visible()) << "the eraser has no option panel";

  ClickOn(*ax.sbtnShape);  // set 4 selects 14
  EXPECT_EQ((std::vector<int>{150, 4, 39, 150, 74, 150, 150}), shown());
  EXPECT_EQ(14, ax.PenWidth);
  EXPECT_TRUE(ax.pnlShape1->Visible() && ax.pnlShape2->Visible());
  EXPECT_EQ(fw::kCursorCross, ax.imgDraw->Cursor());

  ClickOn(*ax.sbtnPen);  // back to the crayon's set 3, which selects 22
  EXPECT_EQ(22, ax.PenWidth);
  ClickOn(*ax.imgOikInk);
  EXPECT_EQ(3, ax.PenWidth) << "set 1 selects width 3";
  ClickOn(*ax.sbtnErs);  // from the oil-based ink: set 3 and width 22
  EXPECT_EQ(22, ax.PenWidth);
  ClickOn(*ax.sbtnPen);  // medium 0 again: set 1, width 3
  EXPECT_EQ(3, ax.PenWidth);
  EXPECT_EQ(1, ax.PenSizeSet);

  // A parked width button lies below the visible panel: a click there reaches nothing.
  const int before = ax.PenWidth;
  zqtest::Click(ax.pnlPenSize->Handle(), ax.imgPen32->Left() + 10, ax.pnlPenSize->Height() - 2);
  zqtest::Pump();
  EXPECT_EQ(before, ax.PenWidth);
}

TEST_F(DrawingTest, MediaReconfigureTheBrushEveryTime) {
  Hosted h;
  Probe& ax = *h.ax;
  constexpr DISPID kMagnification = 11, kVaryLineWidth = 21;
  for (int m = 0; m < 7; ++m) {
    fw::Image* buttons[] = {ax.imgOikInk,   ax.imgWaterInk, ax.imgColoredPencil, ax.imgCrayon,
                            ax.imgWaterPaint, ax.imgOilPaint, ax.imgAirBrush};
    ax.ZanPBrs->SetMagnification(160);
    ax.ZanPBrs->SetVaryLineWidth(m >= 4 ? 0 : 1);
    ClickOn(*buttons[m]);
    EXPECT_EQ(m, ax.PenMode);
    EXPECT_EQ(100, ax.ZanPBrs->GetLong(kMagnification)) << m;
    EXPECT_EQ(m >= 4 ? 1 : 0, ax.ZanPBrs->GetLong(kVaryLineWidth)) << m;
    EXPECT_EQ(buttons[m]->Left() - 3, ax.shpPMSel->Left());
  }
  // The current medium chosen again is set again.
  ax.ZanPBrs->SetMagnification(160);
  ClickOn(*ax.imgAirBrush);
  EXPECT_EQ(100, ax.ZanPBrs->GetLong(kMagnification));
  // Shape kinds and fill styles.
  ClickOn(*ax.sbtnShape);
  ClickOn(*ax.imgTri);
  EXPECT_EQ(5, ax.ShapeKind);
  EXPECT_EQ(ax.imgTri->Left() - 3, ax.shpS1Sel->Left());
  ClickOn(*ax.imgFrameTP);
  EXPECT_EQ(3, ax.FillStyle);
  EXPECT_EQ(ax.imgFrameTP->Left() - 3, ax.shpS2Sel->Left());
}

TEST_F(DrawingTest, ColoursAndTheToolsTheyKeep) {
  Hosted h;
  Probe& ax = *h.ax;
  ClickOn(*ax.shpCol[3], true);  // the right button picks as the left
  EXPECT_EQ(ax.shpCol[3]->Brush().color, ax.PenColor);
  EXPECT_EQ(ax.PenColor, ax.shpColL->Brush().color);
  ClickOn(*ax.sbtnErs);
  ClickOn(*ax.shpCol[5]);
  EXPECT_EQ(kToolPen, ax.CurrentTool) << "a colour while erasing returns to the pen";
  EXPECT_TRUE(ax.sbtnPen->Down());
  EXPECT_EQ(ax.shpCol[5]->Brush().color, ax.PenColor);
  for (fw::SpeedButton* tool : {ax.sbtnBuc, ax.sbtnText, ax.sbtnShape}) {
    ClickOn(*tool);
    const int chosen = ax.CurrentTool;
    ClickOn(*ax.shpCol[2]);
    EXPECT_EQ(chosen, ax.CurrentTool) << "the tool is kept";
  }
  // The colour square opens the dialog on the colour last chosen in it.
  dialogs.colorAnswers = {fw::Color{0x123456}, std::nullopt, fw::Color{0x00FF00}};
  ClickOn(*ax.shpColL);
  EXPECT_EQ(0x123456u, ax.PenColor);
  ClickOn(*ax.shpCol[1]);
  ClickOn(*ax.shpColL);  // cancelled: nothing changes
  EXPECT_EQ(ax.shpCol[1]->Brush().color, ax.PenColor);
  ClickOn(*ax.shpColL);
  ASSERT_EQ(3u, dialogs.colorInitials.size());
  EXPECT_EQ(fw::kBlack, dialogs.colorInitials[0]);
  EXPECT_EQ(0x123456u, dialogs.colorInitials[1]) << "not the swatch picked since";
  EXPECT_EQ(0x123456u, dialogs.colorInitials[2]);
  EXPECT_EQ(0x00FF00u, ax.PenColor);
}

TEST_F(DrawingTest, TheShapeToolSwitchesTabletInputOffAndPlacementRefusesTools) {
  Hosted h;
  Probe& ax = *h.ax;
  Pen pen(ax);
  ClickOn(*ax.sbtnShape);
  EXPECT_EQ(0, ax.ZanTCtl->InputEnabled());
  for (fw::SpeedButton* b : {ax.sbtnPen, ax.sbtnErs, ax.sbtnBuc, ax.sbtnText}) {
    ClickOn(*ax.sbtnShape);
    ClickOn(*b);
    EXPECT_EQ(1, ax.ZanTCtl->InputEnabled()) << fw::Narrow(b->Name());
  }
  ClickOn(*ax.sbtnShape);
  // While an image waits to be placed, tool buttons are refused, but the input switch has
  // already been made.
  ax.BeginPlacement();
  EXPECT_EQ(kToolPlacement, ax.CurrentTool);
  EXPECT_EQ(fw::kCursorDrag, ax.imgDraw->Cursor());
  ClickOn(*ax.sbtnPen);
  EXPECT_EQ(kToolPlacement, ax.CurrentTool);
  EXPECT_TRUE(ax.sbtnBGI->Down()) << "the placement button is pressed again";
  EXPECT_FALSE(ax.sbtnPen->Down());
  EXPECT_EQ(1, ax.ZanTCtl->InputEnabled());
  // The open-image button opens nothing while an image waits, and leaves input as it was.
  ClickOn(*ax.sbtnBGI);
  EXPECT_EQ(kToolPlacement, ax.CurrentTool);
  EXPECT_TRUE(ax.sbtnBGI->Down());
  EXPECT_EQ(1, ax.ZanTCtl->InputEnabled()) << "tablet input stays on";
  ax.SelectPenTool();
  EXPECT_EQ(kToolPen, ax.CurrentTool);
  EXPECT_TRUE(ax.sbtnPen->Down());
  // Nor with drawing off: the pen's button stays pressed, input as it was.
  ax.Set_DrawEnabled(0);
  const long input = ax.ZanTCtl->InputEnabled();
  ClickOn(*ax.sbtnBGI);
  EXPECT_EQ(kToolPen, ax.CurrentTool);
  EXPECT_TRUE(ax.sbtnPen->Down()) << "the button of the tool in use";
  EXPECT_FALSE(ax.sbtnBGI->Down());
  EXPECT_EQ(input, ax.ZanTCtl->InputEnabled());
  ax.Set_DrawEnabled(-1);
  EXPECT_EQ(1, ax.ZanTCtl->InputEnabled()) << "drawing on again: the pen takes input";
}

// ---- the mouse ----

TEST_F(DrawingTest, AMouseStrokeDrawsWithFullPressureAndTheRightButtonDrawsAlike) {
  Hosted h;
  Probe& ax = *h.ax;
  auto drag = [&](int dy, bool right) {
    zqtest::MouseMoveTo(h.panel(), 40, 40 + dy);
    zqtest::MouseDown(h.panel(), 40, 40 + dy, right);
    for (POINT p : std::vector<POINT>{{60, 50}, {80, 60}, {100, 70}}) zqtest::MouseMoveTo(h.panel(), p.x, p.y + dy);
    zqtest::MouseUp(h.panel(), 100, 70 + dy, right);
    zqtest::Pump();
  };
  drag(0, false);
  const std::vector<Probe::Step> left = ax.steps;
  ASSERT_GE(left.size(), 3u);
  EXPECT_TRUE(left.front().first);
  EXPECT_EQ(160, left.front().x);
  EXPECT_EQ(160, left.front().y);
  for (std::size_t i = 0; i < left.size(); ++i) {
    EXPECT_EQ(0xFFFF, left[i].pressure);
    EXPECT_EQ(0, left[i].extra);
    EXPECT_EQ(i == 0, left[i].first);
  }
  EXPECT_EQ(400, left.back().x);
  EXPECT_EQ(kPhaseReleasing, left.back().phase) << "the release point ends the stroke";
  EXPECT_GT(NonWhite(ax.DrawBitmap(), RECT{35, 35, 105, 75}), 50);
  EXPECT_EQ(kPhaseIdle, ax.StrokePhase);

  ax.steps.clear();
  drag(100, true);
  ASSERT_EQ(left.size(), ax.steps.size());
  for (std::size_t i = 0; i < left.size(); ++i) {
    EXPECT_EQ(left[i].x, ax.steps[i].x);
    EXPECT_EQ(left[i].y + 400, ax.steps[i].y);
    EXPECT_EQ(left[i].first, ax.steps[i].first);
  }
  EXPECT_GT(NonWhite(ax.DrawBitmap(), RECT{35, 135, 105, 175}), 50);

  // A press and a release in one place: one first step and one more at the same point.
  ax.steps.clear();
  zqtest::Click(h.panel(), 200, 200);
  zqtest::Pump();
  ASSERT_EQ(2u, ax.steps.size());
  EXPECT_TRUE(ax.steps[0].first);
  EXPECT_FALSE(ax.steps[1].first);
  EXPECT_EQ(ax.steps[0].x, ax.steps[1].x);
  EXPECT_NE(fw::kWhite, At(ax.DrawBitmap(), 200, 200)) << "a dot";
}

TEST_F(DrawingTest, AStrokeDraggedOutsideThePanelGoesOnAndTheColourAndWidthStay) {
  Hosted h;
  Probe& ax = *h.ax;
  ClickOn(*ax.shpCol[3]);
  ClickOn(*ax.imgPen08);
  const fw::Color colour = ax.PenColor;
  zqtest::MouseDown(h.panel(), 100, 100);
  zqtest::MouseMoveTo(h.panel(), 60, 100);
  zqtest::MouseMoveTo(h.panel(), -30, 100);  // over the left palette
  zqtest::Pump();
  // The colour changed mid-stroke would reach only the next stroke.
  ax.PenColor = 0x00FF00;
  zqtest::MouseMoveTo(h.panel(), 50, 130);
  zqtest::MouseUp(h.panel(), 50, 130);
  zqtest::Pump();
  ASSERT_GE(ax.steps.size(), 4u);
  bool outside = false;
  for (const Probe::Step& s : ax.steps) outside |= s.x < 0;
  EXPECT_TRUE(outside) << "points outside the drawing are passed on";
  EXPECT_EQ(kPhaseIdle, ax.StrokePhase);
  EXPECT_EQ(colour, At(ax.DrawBitmap(), 80, 100)) << "drawn in the colour it started with";
  EXPECT_EQ(colour, At(ax.DrawBitmap(), 50, 128));
  // 8 pixels wide.
  EXPECT_EQ(colour, At(ax.DrawBitmap(), 80, 102));
  EXPECT_EQ(fw::kWhite, At(ax.DrawBitmap(), 80, 108));
}

// Counts the paint messages the drawing panel's window gets.
int g_paints = 0;
WNDPROC g_panelProc = nullptr;
LRESULT CALLBACK CountingProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_PAINT || m == WM_ERASEBKGND) ++g_paints;
  return CallWindowProcW(g_panelProc, w, m, wp, lp);
}

TEST_F(DrawingTest, AStrokeShowsAtOnceWithoutRepaintingThePanel) {
  Hosted h;
  Probe& ax = *h.ax;
  ClickOn(*ax.imgPen08);
  RedrawWindow(h.panel(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  g_panelProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(h.panel(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountingProc)));
  g_paints = 0;
  zqtest::MouseDown(h.panel(), 30, 200);
  for (int i = 1; i <= 20; ++i) zqtest::MouseMoveTo(h.panel(), 30 + i * 10, 200 + (i % 5) * 6);
  zqtest::Pump();
  EXPECT_EQ(0, g_paints) << "no repaint during the stroke";
  const zqtest::Capture screen = zqtest::CaptureClient(h.panel());
  int shown = 0;
  for (int x = 30; x < 230; x += 2) shown += screen.At(x, 200 + ((x - 30) / 10 % 5) * 6) != RGB(255, 255, 255);
  EXPECT_GT(shown, 80) << "the stroke is on the screen";
  zqtest::MouseUp(h.panel(), 230, 200);
  zqtest::Pump();
  SetWindowLongPtrW(h.panel(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_panelProc));
}

TEST_F(DrawingTest, StrokeMovesAllocateNothingInTheControl) {
  Hosted h;
  Probe& ax = *h.ax;
  ax.steps.reserve(1000);
  HWND panel = h.panel();
  SendMessageW(panel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 20));
  ASSERT_EQ(kPhaseMouseDrag, ax.StrokePhase);
  const long before = AllocationCount();
  for (int i = 1; i <= 300; ++i) SendMessageW(panel, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(20 + i, 20 + (i % 40)));
  const long after = AllocationCount();
  SendMessageW(panel, WM_LBUTTONUP, 0, MAKELPARAM(320, 20));
  EXPECT_EQ(302u, ax.steps.size()) << "the press, 300 moves and the release";
  EXPECT_EQ(before, after) << "300 moves of a mouse stroke";

  // Tablet moves: the events from the component through the connection point to the stroke.
  Pen pen(ax);
  pen.Near();
  const POINT a = BoxPoint(ax, 30, 120);
  pen.Down(a.x, a.y, 30000);
  ASSERT_TRUE(zqtest::PumpUntil([&] { return ax.StrokePhase == kPhaseTabletPen; }));
  for (int i = 1; i <= 200; ++i) pen.Move(a.x + i, a.y + (i % 30), 30000 + i * 100);
  const long tabletBefore = AllocationCount();
  const std::size_t stepsBefore = ax.steps.size();
  // The packets wait in the component's queue: deliver them, and nothing else.
  MSG m;
  while (ax.steps.size() < stepsBefore + 200 && GetMessageW(&m, nullptr, 0, 0)) DispatchMessageW(&m);
  const long tabletAfter = AllocationCount();
  pen.Up(a.x + 200, a.y);
  zqtest::Pump();
  EXPECT_EQ(tabletBefore, tabletAfter) << "200 pen moves";
}

TEST_F(DrawingTest, AFailingComponentStillEndsEveryStroke) {
  Hosted h;
  Probe& ax = *h.ax;
  ax.failing = true;
  zqtest::Click(h.panel(), 50, 50);
  zqtest::Pump();
  // The press and the release both failed and reached the handler of exceptions (and so
  // did any move the display reported between them); the release ended the drag all the
  // same, and armed the timer.
  ASSERT_GE(errors.size(), 2u);
  EXPECT_EQ(kPhaseIdle, ax.StrokePhase);
  EXPECT_TRUE(ax.Timer.Enabled());
  EXPECT_EQ(0, ax.imgDraw->GetCanvas().LockCount()) << "no canvas stays locked";
  // A tablet stroke whose every point fails: its pen-up ends it too, and the pen's mouse
  // events pass again (clicks would be swallowed otherwise).
  Pen pen(ax);
  pen.Near();
  const POINT a = BoxPoint(ax, 60, 60);
  pen.Down(a.x, a.y, 30000);
  ASSERT_TRUE(zqtest::PumpUntil([&] { return ax.StrokePhase == kPhaseTabletPen; }));
  EXPECT_EQ(1, ax.ZanTCtl->PreventMouseEvents());
  pen.Move(a.x + 20, a.y, 30000);
  pen.Up(a.x + 20, a.y);
  ASSERT_TRUE(zqtest::PumpUntil([&] { return ax.StrokePhase == kPhaseIdle; }));
  EXPECT_EQ(0, ax.ZanTCtl->PreventMouseEvents());
  // The next stroke draws.
  ax.failing = false;
  ax.steps.clear();
  pen.Stroke(a.x, a.y + 40, a.x + 80, a.y + 40, 30000);
  ASSERT_TRUE(zqtest::PumpUntil([&] { return ax.StrokePhase == kPhaseIdle && !ax.steps.empty(); }));
  EXPECT_EQ(1, ax.Strokes());
  // A tool button also lets the pen's mouse events through, whatever a stroke left.
  ax.ZanTCtl->SetPreventMouseEvents(1);
  ClickOn(*ax.sbtnPen);
  EXPECT_EQ(0, ax.ZanTCtl->PreventMouseEvents());
}

TEST_F(DrawingTest, DrawingDisabledRefusesPressesButNotTheFilter) {
  Hosted h;
  Probe& ax = *h.ax;
  ax.Set_DrawEnabled(0);
  ax.FTabletContact = true;
  zqtest::Click(h.panel(), 50, 50);
  zqtest::Pump();
  EXPECT_TRUE(ax.steps.empty());
  EXPECT_FALSE(ax.FTabletContact) << "the press passed the filter and consumed the contact";
  // A release without an accepted press does nothing.
  zqtest::MouseUp(h.panel(), 50, 50);
  zqtest::Pump();
  EXPECT_TRUE(ax.steps.empty());
}

// ---- the tablet ----

TEST_F(DrawingTest, ATabletStrokeDrawsOnceWithPressureAndThePensMouseMessagesAreDropped) {
  Hosted h;
  Probe& ax = *h.ax;
  Pen pen(ax);
  const POINT a = BoxPoint(ax, 60, 80);
  pen.Near();
  pen.Down(a.x, a.y, 12000);
  ASSERT_TRUE(zqtest::PumpUntil([&] { return ax.StrokePhase == kPhaseTabletPen; }));
  constexpr DISPID kPreventMouseEvents = 5;
  EXPECT_EQ(1, zqtest::GetProp(ax.ZanTCtl->Dispatch(), kPreventMouseEvents).value);
  // The pen's own mouse messages, as the system would make them.
  zqtest::MouseDown(h.panel(), 60, 80);
  for (int i = 1; i <= 6; ++i) {
    pen.Move(a.x + i * 8, a.y + i * 3, 12000 + i * 7000);
    zqtest::MouseMoveTo(h.panel(), 60 + i * 8, 80 + i * 3);
  }
  pen.Up(a.x + 48, a.y + 18);
  zqtest::MouseUp(h.panel(), 60 + 48, 80 + 18);
  ASSERT_TRUE(zqtest::PumpUntil([&] { return ax.StrokePhase == kPhaseIdle; }));
  zqtest::Pump();
  EXPECT_EQ(1, ax.Strokes()) << "one stroke, from the pen";
  ASSERT_GE(ax.steps.size(), 8u);
  EXPECT_EQ(12000, ax.steps[0].pressure);
  EXPECT_EQ(kPhaseTabletPen, ax.steps[0].phase);
  EXPECT_EQ(4 * a.x, ax.steps[0].x) << "quarter pixels of the scroll box, not scrolled";
  EXPECT_EQ(12000 + 6 * 7000, ax.steps[6].pressure);
  EXPECT_EQ(5, ax.steps[3].extra) << "the tablet's PacketExtra: milliseconds since the last packet";
  for (const Probe::Step& s : ax.steps) EXPECT_NE(0xFFFF, s.pressure) << "no mouse point";
  EXPECT_EQ(0, zqtest::GetProp(ax.ZanTCtl->Dispatch(), kPreventMouseEvents).value);
  EXPECT_GT(NonWhite(ax.DrawBitmap(), RECT{55, 75, 115, 105}), 30);
  EXPECT_FALSE(ax.FTabletContact);
}

TEST_F(DrawingTest, TheCursorModeFilterAcceptsOneClickAfterAPenDown) {
  Hosted h;
  Probe& ax = *h.ax;
  Pen pen(ax);
  ClickOn(*ax.sbtnBuc);  // a tool that takes the pen through its clicks
  pen.Near();
  zqtest::Pump();
  ASSERT_TRUE(ax.FPenDetected);
  const int snapshots = ax.SnapshotCount();
  zqtest::Click(h.panel(), 50, 50);
  zqtest::Pump();
  EXPECT_EQ(snapshots, ax.SnapshotCount()) << "a hovering pen's click is refused";
  const POINT a = BoxPoint(ax, 50, 50);
  pen.Down(a.x, a.y, 20000);
  zqtest::Pump();
  EXPECT_TRUE(ax.FTabletContact);
  EXPECT_EQ(kPhaseIdle, ax.StrokePhase) << "the bucket starts no tablet stroke";
  zqtest::Click(h.panel(), 50, 50);
  zqtest::Pump();
  EXPECT_EQ(snapshots + 1, ax.SnapshotCount()) << "one click accepted: the fill is an undo step at once";
  EXPECT_FALSE(ax.Timer.Enabled()) << "a bucket fill starts no timer";
  zqtest::Click(h.panel(), 52, 52);
  zqtest::Pump();
  EXPECT_EQ(snapshots + 1, ax.SnapshotCount()) << "the next one is refused";
  pen.Up(a.x, a.y);
  zqtest::Pump();
  // A pen that went away does not filter.
  pen.Send(ZANTABLET_PROXIMITY, 0, 0, 0, 0, ZANTABLET_CURSOR_PEN, 0);
  zqtest::Pump();
  EXPECT_FALSE(ax.FPenDetected);
  ax.PenColor = 0x0000FF;  // a colour the region has not: the fill changes it
  zqtest::Click(h.panel(), 52, 52);
  zqtest::Pump();
  EXPECT_EQ(snapshots + 2, ax.SnapshotCount());
}

TEST_F(DrawingTest, PenDownsOverThePaletteOrWithASideSwitchStartNoStroke) {
  Hosted h;
  Probe& ax = *h.ax;
  Pen pen(ax);
  pen.Near();
  // Over the left palette, outside the scroll box.
  pen.Down(-20, 30, 30000);
  pen.Up(-20, 30);
  zqtest::Pump();
  EXPECT_TRUE(ax.steps.empty());
  EXPECT_FALSE(ax.FTabletContact);
  // The first side switch held: no tablet stroke, but the mouse press that follows counts.
  const POINT a = BoxPoint(ax, 70, 70);
  pen.Down(a.x, a.y, 30000, ZANTABLET_TIP | ZANTABLET_SIDE1);
  zqtest::Pump();
  EXPECT_TRUE(ax.steps.empty());
  EXPECT_TRUE(ax.FTabletContact);
  EXPECT_EQ(kPhaseIdle, ax.StrokePhase);
  zqtest::Click(h.panel(), 70, 70);
  zqtest::Pump();
  EXPECT_EQ(1, ax.Strokes()) << "the click draws";
  EXPECT_EQ(0xFFFF, ax.steps[0].pressure);
  pen.Up(a.x, a.y);
  zqtest::Pump();
}

TEST_F(DrawingTest, ATabletStrokeLeavingThePanelGoesOnAndScrollingShiftsItsPoints) {
  Hosted h(400, 300);
  Probe& ax = *h.ax;
  ax.Set_DrawAreaAlign(1);
  ax.Set_DrawAreaWidth(1200);
  ax.Set_DrawAreaHeight(900);
  zqtest::Pump();
  ax.scrbxImg->ScrollTo(300, 200);
  zqtest::Pump();
  const int H = ax.scrbxImg->HorzScrollPos(), V = ax.scrbxImg->VertScrollPos();
  ASSERT_GT(H, 0);
  ASSERT_GT(V, 0);
  Pen pen(ax);
  pen.Near();
  pen.Down(40, 50, 40000);
  pen.Move(41, 50, 40000);
  pen.Move(-30, 60, 40000);  // out of the scroll box
  pen.Up(-30, 60);
  zqtest::Pump();
  ASSERT_EQ(4u, ax.steps.size());
  EXPECT_EQ(4 * 40 + 4 * H, ax.steps[0].x);
  EXPECT_EQ(4 * 50 + 4 * V, ax.steps[0].y);
  EXPECT_EQ(4 * -30 + 4 * H, ax.steps[3].x) << "the stroke went on outside";
  EXPECT_NE(fw::kWhite, At(ax.DrawBitmap(), 40 + H, 50 + V)) << "drawn at the image pixel under the pen";
}

TEST_F(DrawingTest, TabletStrokesWithin100msAreOneUndoStepAndNoSnapshotHoldsHalfADrag) {
  Hosted h;
  Probe& ax = *h.ax;
  Pen pen(ax);
  pen.Near();
  const POINT a = BoxPoint(ax, 40, 40), b = BoxPoint(ax, 40, 90);
  const int start = ax.SnapshotCount();
  pen.Stroke(a.x, a.y, a.x + 80, a.y, 30000);
  ASSERT_TRUE(ax.Timer.Enabled()) << "the release arms the timer";
  pen.Stroke(b.x, b.y, b.x + 80, b.y, 30000);  // within 100 ms: stops the pending snapshot
  EXPECT_EQ(start, ax.SnapshotCount());
  ASSERT_TRUE(zqtest::PumpUntil([&] { return ax.SnapshotCount() > start; }, 1000));
  EXPECT_EQ(start + 1, ax.SnapshotCount()) << "both strokes are one undo step";
  EXPECT_FALSE(ax.Timer.Enabled()) << "and nothing more is pending";
  EXPECT_TRUE(ax.sbtnUndo->Enabled());

  // A mouse stroke started within 100 ms does not stop the timer (the pen is away, so the
  // clicks pass the tablet filter), but the snapshot waits for its release: it never holds
  // half a stroke.
  pen.Send(ZANTABLET_PROXIMITY, 0, 0, 0, 0, ZANTABLET_CURSOR_PEN, 0);
  zqtest::Pump();
  const int before = ax.SnapshotCount();
  zqtest::Drag(h.panel(), {40, 150}, {{80, 150}});
  zqtest::Pump();
  ASSERT_TRUE(ax.Timer.Enabled());
  zqtest::MouseDown(h.panel(), 40, 200);
  zqtest::MouseMoveTo(h.panel(), 60, 200);
  zqtest::Pump();
  ASSERT_TRUE(zqtest::PumpUntil([&] { return !ax.Timer.Enabled(); }, 1000)) << "the timer fired during the drag";
  EXPECT_EQ(before, ax.SnapshotCount()) << "and took no snapshot";
  EXPECT_EQ(kPhaseMouseDrag, ax.StrokePhase);
  zqtest::MouseUp(h.panel(), 80, 200);
  ASSERT_TRUE(zqtest::PumpUntil([&] { return ax.SnapshotCount() == before + 1; }, 1000)) << "one after it";
}

TEST_F(DrawingTest, TheEraserUncoversTheBackgroundAndThePensEraserEndErasesToo) {
  Hosted h;
  Probe& ax = *h.ax;
  // A background layer with a pattern, given to the eraser as its texture.
  fw::Bitmap& texture = ax.TextureBitmap();
  {
    fw::CanvasLock lock(texture.GetCanvas());
    for (int y = 0; y < texture.Height(); ++y)
      for (int x = 0; x < texture.Width(); x += 1) texture.GetCanvas().SetPixel(x, y, ((x / 8 + y / 8) & 1) ? 0x00C0FF : 0xFF8000);
  }
  ax.ZanPErs->SetTextureBitmap(&texture);
  ClickOn(*ax.imgPen32);
  ClickOn(*ax.imgCrayon);
  ClickOn(*ax.imgOikInk);
  ClickOn(*ax.imgPen08);
  // Ink, then the eraser over it.
  for (int y = 60; y <= 160; y += 4) zqtest::Drag(h.panel(), {40, y}, {{240, y}});
  zqtest::Pump();
  EXPECT_EQ(fw::kBlack, At(ax.DrawBitmap(), 100, 100));
  ClickOn(*ax.sbtnErs);
  EXPECT_EQ(22, ax.PenWidth);
  zqtest::Drag(h.panel(), {60, 100}, {{120, 100}, {180, 100}});
  zqtest::Pump();
  for (int x : {70, 100, 150})
    EXPECT_EQ(At(texture, x, 100), At(ax.DrawBitmap(), x, 100)) << "the background shows where the eraser went";
  EXPECT_EQ(fw::kBlack, At(ax.DrawBitmap(), 100, 140)) << "ink away from the eraser stays";

  // The pen's eraser end, with the pen tool chosen: 22 pixels wide, an undo step at once.
  // A pen stroke ends far from it first: the eraser's last point must not reach the brush,
  // which would join the two with a line of ink.
  ClickOn(*ax.sbtnPen);
  Pen pen(ax);
  pen.Near();
  const POINT inkFrom = BoxPoint(ax, 300, 280), inkTo = BoxPoint(ax, 340, 280);
  pen.Stroke(inkFrom.x, inkFrom.y, inkTo.x, inkTo.y, 0xFFFF);
  ASSERT_TRUE(zqtest::PumpUntil([&] { return ax.StrokePhase == kPhaseIdle; }));
  ASSERT_TRUE(zqtest::PumpUntil([&] { return !ax.Timer.Enabled(); }));
  const POINT a = BoxPoint(ax, 60, 140);
  const int snapshots = ax.SnapshotCount();
  const int width = ax.PenWidth;
  pen.Down(a.x, a.y, 0xFFFF, ZANTABLET_TIP, ZANTABLET_CURSOR_ERASER);
  ASSERT_TRUE(zqtest::PumpUntil([&] { return ax.StrokePhase == kPhaseTabletEraser; }));
  EXPECT_EQ(22, ax.PenWidth);
  EXPECT_EQ(kCursorEraser, ax.imgDraw->Cursor());
  pen.Move(a.x + 60, a.y, 0xFFFF, ZANTABLET_CURSOR_ERASER);
  pen.Move(a.x + 120, a.y, 0xFFFF, ZANTABLET_CURSOR_ERASER);
  pen.Up(a.x + 120, a.y, ZANTABLET_CURSOR_ERASER);
  ASSERT_TRUE(zqtest::PumpUntil([&] { return ax.StrokePhase == kPhaseIdle; }));
  EXPECT_EQ(At(texture, 120, 140), At(ax.DrawBitmap(), 120, 140));
  EXPECT_EQ(At(texture, 175, 140), At(ax.DrawBitmap(), 175, 140)) << "the eraser's own last segment";
  // Between the pen stroke's end (340, 280) and the eraser's lift (180, 140): untouched.
  EXPECT_EQ(0, NonWhite(ax.DrawBitmap(), RECT{250, 170, 330, 265})) << "no stray ink between the two";
  EXPECT_EQ(width, ax.PenWidth) << "the pen's width comes back";
  EXPECT_EQ(kCursorPen, ax.imgDraw->Cursor());
  EXPECT_EQ(snapshots + 1, ax.SnapshotCount());
  EXPECT_EQ(kToolPen, ax.CurrentTool);
  ax.ZanPErs->SetTextureBitmap(nullptr);
}

TEST_F(DrawingTest, ThePenCursorOfTheShapeToolStaysUntilAPlacement) {
  Hosted h;
  Probe& ax = *h.ax;
  Pen pen(ax);
  ax.ZanTCtl->TabletOptionB(1);  // the pen shows a cursor of its own
  ASSERT_EQ(2, ax.ZanTCtl->CursorMode());
  const POINT a = BoxPoint(ax, 100, 100);
  // The component shows the pen's cursor when a packet arrives over the window.
  auto cursorAfterAPacket = [&] {
    SetCursor(nullptr);
    pen.Send(ZANTABLET_SAMPLE, 0, a.x, a.y);
    zqtest::Pump();
    return GetCursor();
  };
  const HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW), cross = LoadCursorW(nullptr, IDC_CROSS);
  EXPECT_EQ(arrow, cursorAfterAPacket());
  ClickOn(*ax.sbtnShape);  // sets the cross (and switches the tablet's input off)
  ClickOn(*ax.sbtnPen);
  EXPECT_EQ(cross, cursorAfterAPacket()) << "another tool keeps it";
  ax.BeginPlacement();
  EXPECT_EQ(arrow, cursorAfterAPacket()) << "a placement sets it back";
  ax.SelectPenTool();
}

TEST_F(DrawingTest, PenDetectionFollowsSupportedDevices) {
  Hosted h;
  Probe& ax = *h.ax;
  struct Case {
    long detected, type;
    bool before, after;
  };
  for (Case c : {Case{1, 1, false, true}, Case{1, 3, false, false}, Case{1, 0, true, true}, Case{0, 1, true, false},
                 Case{1, 5, false, true}, Case{2, 1, false, false}, Case{1, 6, true, true}}) {
    ax.FPenDetected = c.before;
    ax.ZanTCtl4PenDetected(*ax.ZanTCtl, c.detected, c.type, 7);
    EXPECT_EQ(c.after, ax.FPenDetected) << c.detected << "/" << c.type;
  }
}

}  // namespace
