// The shape, bucket and text tools on the real form under Wine, driven with real mouse and
// keyboard input (SendInput): the rubber band, the figures in the three fill styles, the
// surface fill, the text box and its keys, and the undo step each of them becomes.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "ComSupport.h"
#include "HostedControl.h"
#include "TestSupport.h"
#include "UiSupport.h"
#include "ZanQuilmoImpl.h"

using namespace zq;

namespace {

class Tool : public TZanQuilmoAx4 {
 public:
  using TZanQuilmoAx4::TZanQuilmoAx4;
  using TZanQuilmoAx4::DrawBitmap;
  using TZanQuilmoAx4::DrawFigure;
  using TZanQuilmoAx4::PasteImage;
  using TZanQuilmoAx4::FLastDrawBmp;
};
using Hosted = zqtest::Hosted<Tool>;

// The drawing's pixels, top row first, three bytes each.
std::vector<std::uint8_t> Pixels(fw::Bitmap& b) {
  const Bgr24View v = b.View();
  std::vector<std::uint8_t> out;
  for (int y = 0; y < v.height; ++y) out.insert(out.end(), v.Row(y), v.Row(y) + v.width * 3);
  return out;
}
std::vector<std::uint8_t> Pixels(Tool& ax) { return Pixels(ax.DrawBitmap()); }
void SetPixels(Tool& ax, const std::vector<std::uint8_t>& p) {
  const Bgr24View v = ax.DrawBitmap().View();
  for (int y = 0; y < v.height; ++y) std::memcpy(v.Row(y), p.data() + std::size_t(y) * v.width * 3, v.width * 3);
}
fw::Color At(Tool& ax, int x, int y) { return ax.DrawBitmap().GetCanvas().Pixel(x, y); }
// The rows and columns that hold pixels of a colour (or, with `other`, of any colour but it).
RECT Extent(Tool& ax, RECT r, fw::Color c, bool other = false) {
  RECT e{r.right, r.bottom, r.left - 1, r.top - 1};
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x)
      if ((At(ax, x, y) == c) != other) e = {std::min<LONG>(e.left, x), std::min<LONG>(e.top, y),
                                             std::max<LONG>(e.right, x), std::max<LONG>(e.bottom, y)};
  return e;
}
int Count(Tool& ax, RECT r, fw::Color c) {
  int n = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) n += At(ax, x, y) == c;
  return n;
}
void ClickOn(Control& c) {
  zqtest::Click(c.Parent()->Handle(), c.Left() + c.Width() / 2, c.Top() + c.Height() / 2);
  zqtest::Pump();
}
void DragOn(Hosted& h, POINT from, POINT to) {
  zqtest::Drag(h.panel(), from, {{(from.x + to.x) / 2, from.y}, {to.x, (from.y + to.y) / 2}, to});
  zqtest::Pump();
}
// The same drag with Shift held, as the window's messages say it on Windows. (Wine: mouse
// input made with SendInput carries no MK_SHIFT, whatever the keyboard holds.)
void ShiftDragOn(Hosted& h, POINT from, POINT to) {
  const auto at = [](int x, int y) { return MAKELPARAM(x, y); };
  SendMessageW(h.panel(), WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, at(from.x, from.y));
  SendMessageW(h.panel(), WM_MOUSEMOVE, MK_LBUTTON | MK_SHIFT, at((from.x + to.x) / 2, from.y));
  SendMessageW(h.panel(), WM_MOUSEMOVE, MK_LBUTTON, at(to.x, (from.y + to.y) / 2));  // let go meanwhile
  SendMessageW(h.panel(), WM_MOUSEMOVE, MK_LBUTTON | MK_SHIFT, at(to.x, to.y));
  SendMessageW(h.panel(), WM_LBUTTONUP, MK_SHIFT, at(to.x, to.y));
  zqtest::Pump();
}

class ToolsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(zqtest::UseControlModules());
    fw::SetDialogService(&dialogs);
  }
  void TearDown() override { fw::SetDialogService(nullptr); }
  zqtest::ScriptedDialogs dialogs;
};

TEST_F(ToolsTest, AShapeDragLeavesExactlyItsFigureInEveryKindAndStyleAndIsOneUndoStep) {
  Hosted h(700, 460);
  Tool& ax = *h.ax;
  for (int y = 30; y <= 380; y += 50) zqtest::Drag(h.panel(), {10, y}, {{600, y + 20}});
  zqtest::Pump();
  ClickOn(*ax.sbtnShape);
  ClickOn(*ax.shpCol[3]);  // red
  fw::Image* kinds[] = {ax.imgRect, ax.imgRRect, ax.imgEllipse, ax.imgLine, ax.imgTri};
  fw::Image* styles[] = {ax.imgFill, ax.imgFrame, ax.imgFrameTP};
  for (int k = 0; k < 5; ++k)
    for (int s = 0; s < 3; ++s) {
      SCOPED_TRACE(testing::Message() << "kind " << k + 1 << ", style " << s + 1);
      ClickOn(*kinds[k]);
      ClickOn(*styles[s]);
      const POINT from{30 + 120 * s, 20 + 75 * k}, to{from.x + 70 + 10 * k, from.y + 40 + 7 * s};
      const bool shift = (k + s) % 2 == 1;  // Shift held through the drag
      const std::vector<std::uint8_t> before = Pixels(ax);
      if (shift) ShiftDragOn(h, from, to);
      else DragOn(h, from, to);
      const std::vector<std::uint8_t> after = Pixels(ax);
      EXPECT_NE(before, after) << "a figure was drawn";
      // The same figure drawn straight onto the picture before the drag: nothing of the
      // rubber band is left besides it.
      SetPixels(ax, before);
      DragPoint end{to.x, to.y};
      if (shift) ConstrainPoint(0, k >= 3, {from.x, from.y}, 1.0, end);
      ax.DrawFigure(k + 1, s + 1, {from.x, from.y}, end);
      ASSERT_EQ(after, Pixels(ax));
    }
  // The last figure is one undo step, and undo takes back exactly it.
  ASSERT_TRUE(zqtest::PumpUntil([&] { return !ax.Timer.Enabled(); }));
  const std::vector<std::uint8_t> withFigure = Pixels(ax);
  ClickOn(*ax.imgRect);
  ClickOn(*ax.imgFill);
  DragOn(h, {560, 300}, {640, 360});
  ASSERT_TRUE(zqtest::PumpUntil([&] { return !ax.Timer.Enabled() && ax.sbtnUndo->Enabled(); }));
  ax.sbtnUndoClick(ax.sbtnUndo);
  EXPECT_EQ(withFigure, Pixels(ax));
}

TEST_F(ToolsTest, FillStylesOverStrokesAndLinesOfThePensWidth) {
  Hosted h(700, 460);
  Tool& ax = *h.ax;
  ClickOn(*ax.imgPen08);
  for (int y : {100, 300}) zqtest::Drag(h.panel(), {10, y}, {{600, y}});  // black bands under the figures
  zqtest::Pump();
  ClickOn(*ax.sbtnShape);
  ClickOn(*ax.shpCol[3]);  // red
  const fw::Color red = 0x0000FF;
  ClickOn(*ax.imgRect);
  fw::Image* styles[] = {ax.imgFill, ax.imgFrame, ax.imgFrameTP};
  for (int s = 0; s < 3; ++s) {
    ClickOn(*styles[s]);
    DragOn(h, {40 + 150 * s, 70}, {160 + 150 * s, 130});
  }
  EXPECT_EQ(red, At(ax, 100, 100)) << "filled: the inside takes the colour";
  EXPECT_EQ(red, At(ax, 40, 100)) << "with a one-pixel outline";
  EXPECT_NE(red, At(ax, 38, 100));
  EXPECT_EQ(fw::kWhite, At(ax, 250, 100)) << "framed: white inside, over the stroke";
  EXPECT_EQ(fw::kBlack, At(ax, 400, 100)) << "framed, transparent: the stroke shows inside";
  EXPECT_EQ(red, At(ax, 190, 80)) << "a frame of the pen's width";
  // A line is the pen's width thick whatever the fill style.
  ClickOn(*ax.imgLine);
  for (int s = 0; s < 3; ++s) {
    ClickOn(*styles[s]);
    DragOn(h, {40 + 150 * s, 200}, {160 + 150 * s, 200});
    const RECT ink = Extent(ax, RECT{90 + 150 * s, 170, 91 + 150 * s, 230}, red);
    EXPECT_NEAR(ax.PenWidth, ink.bottom - ink.top + 1, 1) << "style " << s + 1;
  }
  // After a transparent-inside figure the bucket still fills.
  ClickOn(*ax.imgRect);
  ClickOn(*ax.imgFrameTP);
  DragOn(h, {500, 150}, {600, 250});
  ClickOn(*ax.sbtnBuc);
  ClickOn(*ax.shpCol[14]);  // green
  zqtest::Click(h.panel(), 550, 200);
  zqtest::Pump();
  EXPECT_EQ(0x008000u, At(ax, 550, 200));
  EXPECT_EQ(fw::kWhite, At(ax, 620, 200)) << "only inside";
}

TEST_F(ToolsTest, TheBucketFillsExactlyTheClickedColourFourWaysAndIsAnUndoStep) {
  Hosted h(500, 300);
  Tool& ax = *h.ax;
  // A closed pen stroke around (100, 100).
  ClickOn(*ax.imgPen08);
  zqtest::Drag(h.panel(), {50, 50}, {{150, 50}, {150, 150}, {50, 150}, {50, 50}});
  ASSERT_TRUE(zqtest::PumpUntil([&] { return !ax.Timer.Enabled(); })) << "the stroke's undo step is taken";
  {
    fw::Canvas& c = ax.DrawBitmap().GetCanvas();
    fw::CanvasLock lock(c);
    for (int i = 0; i <= 60; ++i) {  // a square off white by one unit of blue around (250, 100)
      c.SetPixel(220 + i, 70, 0xFEFFFF);
      c.SetPixel(220 + i, 130, 0xFEFFFF);
      c.SetPixel(220, 70 + i, 0xFEFFFF);
      c.SetPixel(280, 70 + i, 0xFEFFFF);
    }
    for (int i = 0; i <= 40; ++i) {  // a diamond of one-pixel diagonals around (380, 100)
      c.SetPixel(380 - i, 60 + i, 0);
      c.SetPixel(380 + i, 60 + i, 0);
      c.SetPixel(380 - i, 140 - i, 0);
      c.SetPixel(380 + i, 140 - i, 0);
    }
  }
  ClickOn(*ax.sbtnBuc);
  ClickOn(*ax.shpCol[7]);  // blue
  const int snapshots = ax.SnapshotCount();
  for (POINT p : {POINT{100, 100}, POINT{250, 100}, POINT{380, 100}}) zqtest::Click(h.panel(), p.x, p.y);
  zqtest::Pump();
  const fw::Color blue = 0xFF0000;
  EXPECT_EQ(blue, At(ax, 100, 100));
  EXPECT_EQ(blue, At(ax, 250, 100));
  EXPECT_EQ(blue, At(ax, 380, 100));
  EXPECT_EQ(blue, At(ax, 380, 62)) << "up to the diamond's top";
  EXPECT_EQ(fw::kWhite, At(ax, 20, 20)) << "the outside is untouched: a one-unit edge and corner-touching pixels hold";
  EXPECT_EQ(fw::kWhite, At(ax, 250, 160));
  EXPECT_EQ(fw::kWhite, At(ax, 380, 20));
  EXPECT_EQ(snapshots + 3, ax.SnapshotCount()) << "each click is an undo step at once";
  EXPECT_EQ(fw::BrushStyle::Solid, ax.imgDraw->GetCanvas().Brush().style);
  EXPECT_EQ(fw::kWhite, ax.imgDraw->GetCanvas().Brush().color);
  // A click into a region that has the colour already changes nothing and is no step: the
  // last real one can still be taken back.
  zqtest::Click(h.panel(), 100, 100);
  zqtest::Pump();
  EXPECT_EQ(snapshots + 3, ax.SnapshotCount()) << "no step for a fill that changed nothing";
  ax.sbtnUndoClick(ax.sbtnUndo);
  EXPECT_EQ(fw::kWhite, At(ax, 380, 100)) << "undo takes back the last fill";
  EXPECT_EQ(blue, At(ax, 250, 100));
}

// The rubber band is for the screen only. While an image waits to be placed, and while a
// rectangle is dragged, the PNG text, a saved file and the picture are the drawing without
// it, and so is the history's copy; the screen shows the band. Making the host smaller and
// larger again while the image waits leaves nothing dotted behind once it is given up.
TEST_F(ToolsTest, RubberBandsShowOnTheScreenButNeverInWhatTheDrawingGives) {
  Hosted h(500, 300);
  Tool& ax = *h.ax;
  const std::wstring saved = zqtest::Join(zqtest::OutputDir(), L"band.bmp");
  auto gives = [&] {  // what the drawing gives a host, three ways
    EXPECT_EQ(-1, ax.SaveToFile(saved));
    const std::vector<std::uint8_t> file = zqtest::ReadBytes(saved);
    return std::make_tuple(ax.Get_PngImageBase64().str(), file, zqtest::ReadPicture(ax.Get_Picture().get()));
  };
  auto screenDots = [&] {  // the band's dotted pixels on the screen (the drawing is white)
    const zqtest::Capture shot = zqtest::CaptureClient(h.panel());
    return static_cast<int>(std::count_if(shot.bgr.begin(), shot.bgr.end(), [](std::uint8_t b) { return b != 255; }));
  };
  const auto white = Pixels(ax);
  const auto clean = gives();
  fw::Bitmap image;
  image.SetSize(120, 80);
  {
    fw::CanvasLock lock(image.GetCanvas());
    image.GetCanvas().FillWhite(RECT{0, 0, 120, 80});
  }
  const std::wstring file = zqtest::Join(zqtest::OutputDir(), L"band image.bmp");
  image.SaveToFile(file);
  ASSERT_EQ(-1, ax.LoadFromFile(file, 1, 0, 0));
  zqtest::Pump();
  EXPECT_GT(screenDots(), 0) << "the waiting image's rectangle is on the screen";
  EXPECT_EQ(clean, gives()) << "while an image waits";
  h.host.SetClientSize(300, 200);
  zqtest::Pump();
  h.host.SetClientSize(500, 300);
  zqtest::Pump();
  EXPECT_EQ(white, Pixels(*ax.FLastDrawBmp)) << "no snapshot with the band in it";
  ax.PasteImage(0, 0, 2);  // given up
  EXPECT_EQ(white, Pixels(ax)) << "nothing dotted remains";
  // A rectangle dragged and not yet let go.
  ClickOn(*ax.sbtnShape);
  SendMessageW(h.panel(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(0, 0));
  SendMessageW(h.panel(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(200, 150));
  zqtest::Pump();
  EXPECT_GT(screenDots(), 0) << "the band is on the screen";
  EXPECT_EQ(clean, gives()) << "during a drag";
  SendMessageW(h.panel(), WM_LBUTTONUP, 0, MAKELPARAM(200, 150));
  zqtest::Pump();
}

// Making the host smaller and larger again in automatic alignment loses nothing: what the
// smaller area cut off was kept and comes back, while the drawing the control hands out has
// the visible size. A clear lets the kept pixels go.
TEST_F(ToolsTest, AHostMadeSmallerAndLargerAgainLosesNoPixels) {
  Hosted h(500, 300);
  Tool& ax = *h.ax;
  const int W = ax.Get_DrawAreaWidth(), H = ax.Get_DrawAreaHeight();
  {
    fw::Canvas& c = ax.DrawBitmap().GetCanvas();
    fw::CanvasLock lock(c);
    c.Brush() = {fw::BrushStyle::Solid, 0x0000FF};
    c.FillRect(RECT{W - 60, H - 40, W - 10, H - 10});  // a mark near the far corner
    c.FillRect(RECT{10, H - 40, 40, H - 10});          // and one below
    c.Brush() = {fw::BrushStyle::Solid, fw::kWhite};
  }
  const auto drawn = Pixels(ax);
  h.host.SetClientSize(300, 200);
  zqtest::Pump();
  ASSERT_LT(ax.Get_DrawAreaWidth(), W - 60);
  ASSERT_LT(ax.Get_DrawAreaHeight(), H - 40);
  EXPECT_EQ(ax.Get_DrawAreaWidth(), ax.DrawBitmap().Width()) << "the drawing has the visible size";
  h.host.SetClientSize(400, 300);  // wider only, then the rest
  zqtest::Pump();
  h.host.SetClientSize(500, 300);
  zqtest::Pump();
  ASSERT_EQ(W, ax.Get_DrawAreaWidth());
  EXPECT_EQ(drawn, Pixels(ax)) << "everything came back";
  // Cleared while small: nothing comes back.
  h.host.SetClientSize(300, 200);
  zqtest::Pump();
  dialogs.messageAnswers = {fw::MsgResult::Yes};
  ax.sbtnClrClick(*ax.sbtnClr);
  h.host.SetClientSize(500, 300);
  zqtest::Pump();
  EXPECT_EQ(std::vector<std::uint8_t>(drawn.size(), 255), Pixels(ax));
}

TEST_F(ToolsTest, TextIsPlacedInABoxOfItsProportionsAndAtLeast13PixelsALine) {
  Hosted h(700, 460);
  Tool& ax = *h.ax;
  ClickOn(*ax.sbtnText);
  // Nothing to place: no box, no undo step, the text box gets the focus.
  const std::vector<std::uint8_t> blank = Pixels(ax);
  DragOn(h, {40, 40}, {200, 60});
  EXPECT_EQ(blank, Pixels(ax));
  EXPECT_EQ(kPhaseIdle, ax.StrokePhase);
  EXPECT_TRUE(ax.memText->Focused());
  // Three long lines dragged flat: the box is 39 high (13 a line) and as wide as the text.
  ax.memText->SetText(L"WWWWWWWWWWWWWWWWWWWW\r\nWWWWWWWWWWWWWWWWWWWW\r\nWWWWWWWWWWWWWWWWWWWW");
  DragOn(h, {40, 60}, {140, 60});
  const RECT ink = Extent(ax, RECT{0, 0, 640, 200}, fw::kWhite, true);
  EXPECT_GE(ink.top, 60);
  EXPECT_LT(ink.bottom, 60 + 39) << "the box is 39 high";
  EXPECT_GE(ink.left, 40);
  for (int line = 0; line < 3; ++line)
    EXPECT_GT(Count(ax, RECT{40, 60 + 13 * line, 640, 73 + 13 * line}, fw::kBlack), 20) << "line " << line;
  // Dragged up and to the left: the text lands at the box's top-left, above-left of the anchor.
  ax.memText->SetText(L"Ab");
  ClickOn(*ax.shpCol[3]);
  DragOn(h, {400, 300}, {320, 250});
  const RECT up = Extent(ax, RECT{0, 150, 640, 400}, 0x0000FF);
  EXPECT_LE(up.right, 400);
  EXPECT_LE(up.bottom, 300);
  EXPECT_LT(up.top, 300 - 13);
  // The same text again in a larger box: a larger font.
  ASSERT_TRUE(zqtest::PumpUntil([&] { return !ax.Timer.Enabled(); }));
  const std::vector<std::uint8_t> beforeBig = Pixels(ax);
  ClickOn(*ax.shpCol[5]);  // lime
  DragOn(h, {450, 180}, {630, 380});
  const RECT big = Extent(ax, RECT{440, 150, 640, 400}, 0x00FF00);
  EXPECT_GT(big.bottom - big.top, 2 * (up.bottom - up.top)) << "the font follows the box";
  // It is one undo step.
  ASSERT_TRUE(zqtest::PumpUntil([&] { return !ax.Timer.Enabled() && ax.sbtnUndo->Enabled(); }));
  ax.sbtnUndoClick(ax.sbtnUndo);
  EXPECT_EQ(beforeBig, Pixels(ax));
}

TEST_F(ToolsTest, TheTextToolsKeysEscapeAndEnter) {
  Hosted h;
  Tool& ax = *h.ax;
  std::vector<WORD> memoKeys;
  ax.memText->OnKeyDown = [&](Control&, WORD& key, fw::ShiftState) { memoKeys.push_back(key); };
  ClickOn(*ax.sbtnText);
  ASSERT_TRUE(zqtest::PumpUntil([&] { return ax.memText->Focused(); }));
  zqtest::TypeText(L"ab");
  zqtest::PressKey(VK_RETURN);
  zqtest::TypeText(L"c");
  zqtest::PressKey(VK_ESCAPE);
  zqtest::Pump();
  EXPECT_EQ((std::vector<std::wstring>{L"ab", L"c"}), ax.memText->Lines()) << "Enter is a line break";
  EXPECT_EQ(memoKeys.end(), std::find(memoKeys.begin(), memoKeys.end(), VK_ESCAPE)) << "Escape is swallowed";
  // Another tool: typing changes nothing, and Escape reaches the focused control.
  ax.CurrentTool = kToolPen;
  zqtest::TypeText(L"xyz");
  zqtest::PressKey(VK_ESCAPE);
  zqtest::Pump();
  EXPECT_EQ((std::vector<std::wstring>{L"ab", L"c"}), ax.memText->Lines());
  EXPECT_NE(memoKeys.end(), std::find(memoKeys.begin(), memoKeys.end(), VK_ESCAPE));
  ax.memText->OnKeyDown = nullptr;
}

}  // namespace
