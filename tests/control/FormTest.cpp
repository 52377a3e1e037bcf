// The control's form as the framework builds it: every component where the control's logic
// expects it, the pictures from the module's resources, the palette layout at two sizes, and
// screenshots of the real window under Xvfb.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "ComSupport.h"
#include "TestSupport.h"
#include "UiSupport.h"
#include "ZanQuilmoForm.h"

using namespace zq;
using zqtest::HostWindow;

namespace {

HINSTANCE Module() {
  zqtest::EnsureCom();  // the form hosts the companion components
  static HMODULE m = LoadLibraryW(zqtest::EnvDir("ZQ_OCX").c_str());
  return m;
}

struct HostedForm {
  HostWindow host;
  ZanQuilmoForm form{Module()};
  HostedForm(int w, int h) : host(w, h) {
    form.SetParentWindow(host.hwnd());
    form.SetBorderStyle(fw::BorderStyle::None);
    form.SetBounds(0, 0, w, h);
    form.Handle();
    host.onResize = [this](int cw, int ch) { form.SetBounds(0, 0, cw, ch); };
    zqtest::Pump();
  }
};

struct Placed {
  const wchar_t* name;
  const wchar_t* parent;
  int left, top, width, height;
  bool visible;
};

// The form table: names, parents, places and sizes, visibility.
const Placed kTable[] = {
    {L"pnlPaletteT", L"ZanQuilmoAx4", 0, 0, 609, 50, true},
    {L"pnlTool", L"pnlPaletteT", 1, 2, 288, 45, true},
    {L"sbtnPen", L"pnlTool", 4, 6, 33, 33, true},
    {L"sbtnErs", L"pnlTool", 38, 6, 33, 33, true},
    {L"sbtnBuc", L"pnlTool", 72, 6, 33, 33, true},
    {L"sbtnText", L"pnlTool", 106, 6, 33, 33, true},
    {L"sbtnShape", L"pnlTool", 140, 6, 33, 33, true},
    {L"sbtnBGI", L"pnlTool", 178, 6, 33, 33, true},
    {L"sbtnUndo", L"pnlTool", 216, 6, 33, 33, true},
    {L"sbtnClr", L"pnlTool", 250, 6, 33, 33, true},
    {L"pnlPenMode", L"pnlPaletteT", 292, 2, 313, 45, true},
    {L"shpPMSel", L"pnlPenMode", 6, 4, 38, 38, true},
    {L"imgOikInk", L"pnlPenMode", 9, 7, 32, 32, true},
    {L"imgWaterInk", L"pnlPenMode", 53, 7, 32, 32, true},
    {L"imgColoredPencil", L"pnlPenMode", 97, 7, 32, 32, true},
    {L"imgCrayon", L"pnlPenMode", 141, 7, 32, 32, true},
    {L"imgWaterPaint", L"pnlPenMode", 185, 7, 32, 32, true},
    {L"imgOilPaint", L"pnlPenMode", 229, 7, 32, 32, true},
    {L"imgAirBrush", L"pnlPenMode", 273, 7, 32, 32, true},
    {L"pnlText", L"pnlPaletteT", 292, 2, 313, 45, false},
    {L"memText", L"pnlText", 1, 1, 208, 43, true},
    {L"Image1", L"pnlText", 209, 4, 101, 37, true},
    {L"pnlShape1", L"pnlPaletteT", 292, 2, 191, 45, false},
    {L"shpS1Sel", L"pnlShape1", 5, 4, 38, 38, true},
    {L"imgRect", L"pnlShape1", 8, 7, 32, 32, true},
    {L"imgRRect", L"pnlShape1", 44, 7, 32, 32, true},
    {L"imgEllipse", L"pnlShape1", 80, 7, 32, 32, true},
    {L"imgTri", L"pnlShape1", 116, 7, 32, 32, true},
    {L"imgLine", L"pnlShape1", 152, 7, 32, 32, true},
    {L"pnlShape2", L"pnlPaletteT", 487, 2, 118, 45, false},
    {L"shpS2Sel", L"pnlShape2", 4, 4, 38, 38, true},
    {L"imgFill", L"pnlShape2", 7, 7, 32, 32, true},
    {L"imgFrame", L"pnlShape2", 43, 7, 32, 32, true},
    {L"imgFrameTP", L"pnlShape2", 79, 7, 32, 32, true},
    {L"pnlPaletteL", L"ZanQuilmoAx4", 0, 50, 49, 353, true},
    {L"pnlCol", L"pnlPaletteL", 2, 0, 40, 173, true},
    {L"shpColL", L"pnlCol", 8, 5, 24, 24, true},
    {L"pnlPenSize", L"pnlPaletteL", 2, 176, 40, 109, true},
    {L"shpPSSel", L"pnlPenSize", 1, 36, 39, 38, true},
    {L"imgPen08", L"pnlPenSize", 4, 4, 32, 32, true},
    {L"imgPen03", L"pnlPenSize", 4, 39, 32, 32, true},
    {L"imgPen01", L"pnlPenSize", 4, 74, 32, 32, true},
    {L"imgPen32", L"pnlPenSize", 4, 150, 32, 32, true},
    {L"imgPen22", L"pnlPenSize", 4, 150, 32, 32, true},
    {L"imgPen14", L"pnlPenSize", 4, 150, 32, 32, true},
    {L"imgPen02", L"pnlPenSize", 4, 150, 32, 32, true},
    {L"pnlPaletteB", L"ZanQuilmoAx4", 0, 403, 609, 3, true},
    {L"pnlPaletteR", L"ZanQuilmoAx4", 606, 50, 3, 353, true},
    {L"scrbxImg", L"ZanQuilmoAx4", 49, 50, 557, 353, true},
    {L"pnlImg", L"scrbxImg", 0, 0, 557, 353, true},
    {L"imgTexture", L"pnlImg", 0, 0, 557, 353, true},
    {L"imgDraw", L"pnlImg", 0, 0, 557, 353, true},
    // The companions: invisible at run time, so their host hides them.
    {L"ZanTCtl", L"pnlImg", 40, 48, 16, 16, false},
    {L"ZanPBrs", L"pnlImg", 72, 48, 16, 16, false},
    {L"ZanPErs", L"pnlImg", 104, 48, 16, 16, false},
};

class TheForm : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(Module(), nullptr) << "ZQ_OCX does not name the built module"; }
};

}  // namespace

TEST_F(TheForm, EveryComponentIsWhereTheLogicExpectsIt) {
  HostedForm h(609, 406);
  ZanQuilmoForm& f = h.form;
  EXPECT_EQ(f.ClientWidth(), 609);
  EXPECT_EQ(f.ClientHeight(), 406);
  for (const Placed& p : kTable) {
    SCOPED_TRACE(zqtest::Narrow(p.name));
    fw::Control* c = f.FindControl(p.name);
    ASSERT_NE(c, nullptr);
    ASSERT_NE(c->Parent(), nullptr);
    EXPECT_EQ(c->Parent()->Name(), p.parent);
    EXPECT_EQ(c->Left(), p.left);
    EXPECT_EQ(c->Top(), p.top);
    EXPECT_EQ(c->Width(), p.width);
    EXPECT_EQ(c->Height(), p.height);
    EXPECT_EQ(c->Visible(), p.visible);
  }
  // Graphic controls have no window of their own; the drawing panel has one.
  EXPECT_FALSE(f.imgDraw->IsWindowed());
  EXPECT_TRUE(f.pnlImg->IsWindowed());
  EXPECT_NE(f.pnlImg->Handle(), f.scrbxImg->Handle());
}

TEST_F(TheForm, InitialStatesHintsAndPictures) {
  HostedForm h(609, 406);
  ZanQuilmoForm& f = h.form;
  EXPECT_EQ(f.Caption(), L"ZanQuilmoAx4");
  EXPECT_TRUE(f.KeyPreview());
  EXPECT_EQ(f.GetColor(), fw::kAppWorkSpace);
  EXPECT_EQ(f.Font().face, L"ＭＳ Ｐゴシック");
  EXPECT_EQ(f.Font().height, -12);
  EXPECT_EQ(f.Font().charset, SHIFTJIS_CHARSET);
  EXPECT_TRUE(f.sbtnPen->Down());
  for (auto* b : {f.sbtnPen, f.sbtnErs, f.sbtnBuc, f.sbtnText, f.sbtnShape, f.sbtnBGI}) EXPECT_EQ(b->GroupIndex(), 1);
  EXPECT_EQ(f.sbtnUndo->GroupIndex(), 0);
  EXPECT_EQ(f.sbtnClr->GroupIndex(), 0);
  EXPECT_EQ(f.sbtnUndo->NumGlyphs(), 2);
  EXPECT_EQ(f.sbtnUndo->Glyph().Width(), 72);
  EXPECT_EQ(f.sbtnPen->Glyph().Width(), 36);
  EXPECT_TRUE(f.pnlTool->ShowHint());
  EXPECT_TRUE(f.pnlPenMode->ShowHint());
  const std::pair<fw::Control*, const wchar_t*> hints[] = {
      {f.sbtnPen, L"ペン"}, {f.sbtnErs, L"消しゴム"}, {f.sbtnBuc, L"塗りつぶし"}, {f.sbtnText, L"テキスト貼付"},
      {f.sbtnShape, L"基本図形描画"}, {f.sbtnBGI, L"画像ファイルを開く"}, {f.sbtnUndo, L"元に戻す"},
      {f.sbtnClr, L"画面クリア"}, {f.imgOikInk, L"油性インクペン"}, {f.imgWaterInk, L"水性インクペン"},
      {f.imgColoredPencil, L"色鉛筆"}, {f.imgCrayon, L"クレヨン"}, {f.imgWaterPaint, L"水彩筆"},
      {f.imgOilPaint, L"油彩筆"}, {f.imgAirBrush, L"エアブラシ"}};
  for (const auto& [c, text] : hints) EXPECT_EQ(c->Hint(), text) << zqtest::Narrow(c->Name());
  for (fw::Image* img : {f.imgOikInk, f.imgPen32, f.imgRect, f.imgFill, f.imgFrameTP}) {
    EXPECT_EQ(img->GetPicture().Width(), 32) << zqtest::Narrow(img->Name());
    EXPECT_EQ(img->GetPicture().Height(), 32);
  }
  EXPECT_TRUE(f.imgFill->GetPicture().HasIcon());
  EXPECT_EQ(f.Image1->GetPicture().Width(), 101);
  EXPECT_EQ(f.Image1->GetPicture().Height(), 37);
  EXPECT_TRUE(f.Image1->Transparent());
  EXPECT_EQ(f.memText->Font().height, -13);
  EXPECT_FALSE(f.Timer.Enabled());
  EXPECT_EQ(f.Timer.Interval(), 100u);
  // The markers are hollow squares with a 3-pixel pen in the button-shadow colour.
  for (fw::Shape* m : {f.shpPMSel, f.shpPSSel, f.shpS1Sel, f.shpS2Sel}) {
    EXPECT_EQ(m->Pen().width, 3);
    EXPECT_EQ(m->Pen().color, fw::kBtnShadow);
    EXPECT_EQ(m->Brush().style, fw::BrushStyle::Clear);
  }
  // Hints show as tooltips for the tool buttons and the pen media.
  ASSERT_TRUE(zqtest::PumpUntil([&] { return f.TooltipWindow() != nullptr; }));
  zqtest::Pump();
  EXPECT_EQ(SendMessageW(f.TooltipWindow(), TTM_GETTOOLCOUNT, 0, 0), 15);
}

TEST_F(TheForm, SixteenSwatchesInTwoColumns) {
  HostedForm h(609, 406);
  ZanQuilmoForm& f = h.form;
  EXPECT_EQ(f.shpCol[9], nullptr);
  EXPECT_EQ(f.FindControl(L"shpCol9"), nullptr);
  const std::pair<int, fw::Color> colours[] = {
      {1, 0x000000}, {2, 0xC0C0C0}, {3, 0x0000FF}, {4, 0x00FFFF}, {5, 0x00FF00}, {6, 0xFFFF00},
      {7, 0xFF0000}, {8, 0xFF00FF}, {10, 0xFFFFFF}, {11, 0x808080}, {12, 0x000080}, {13, 0x008080},
      {14, 0x008000}, {15, 0x808000}, {16, 0x800000}, {17, 0x800080}};
  for (const auto& [n, colour] : colours) {
    fw::Shape* s = f.shpCol[static_cast<std::size_t>(n)];
    ASSERT_NE(s, nullptr) << n;
    EXPECT_EQ(s->Name(), L"shpCol" + std::to_wstring(n));
    EXPECT_EQ(s->Brush().color, colour) << n;
    EXPECT_EQ(s->Left(), n < 9 ? 3 : 20) << n;
    EXPECT_EQ(s->Top(), 33 + 17 * ((n < 9 ? n : n - 9) - 1)) << n;
    EXPECT_EQ(s->Width(), 16);
    EXPECT_TRUE(s->OnMouseDown != nullptr);
  }
  EXPECT_EQ(f.shpColL->Brush().color, 0x000000u);
  // A swatch is painted in its colour on the screen.
  const fw::Shape* red = f.shpCol[3];
  const auto shot = zqtest::CaptureClient(f.pnlCol->Handle());
  EXPECT_EQ(shot.At(red->Left() + 8, red->Top() + 8), static_cast<COLORREF>(RGB(255, 0, 0)));
}

TEST_F(TheForm, LayoutFollowsTheControlsSize) {
  HostedForm h(609, 406);
  ZanQuilmoForm& f = h.form;
  EXPECT_EQ(f.scrbxImg->Left(), 49);
  EXPECT_EQ(f.scrbxImg->Top(), 50);
  EXPECT_EQ(f.scrbxImg->Width(), 557);
  EXPECT_EQ(f.scrbxImg->Height(), 353);
  for (const auto& [w, hgt] : {std::pair{900, 600}, std::pair{700, 300}, std::pair{609, 406}}) {
    h.host.SetClientSize(w, hgt);
    EXPECT_EQ(f.ClientWidth(), w);
    EXPECT_EQ(f.scrbxImg->Width(), w - 52) << w;
    EXPECT_EQ(f.scrbxImg->Height(), hgt - 53) << hgt;
    EXPECT_EQ(f.pnlImg->Width(), w - 52);
    EXPECT_EQ(f.imgDraw->Width(), w - 52);
    EXPECT_EQ(f.imgDraw->Height(), hgt - 53);
    EXPECT_EQ(f.pnlPaletteT->Width(), w);
    EXPECT_EQ(f.pnlPaletteR->Left(), w - 3);
    EXPECT_EQ(f.pnlPaletteB->Top(), hgt - 3);
  }
}

TEST_F(TheForm, Screenshots) {
  for (const auto& [w, hgt, file] : {std::tuple{609, 406, L"form-609x406.png"}, std::tuple{900, 600, L"form-900x600.png"}}) {
    HostedForm h(w, hgt);
    ZanQuilmoForm& f = h.form;
    // The control gives the drawing a white bitmap of the panel's size when it is set up;
    // here the test does, to show the form as a user sees it.
    f.imgDraw->GetPicture().GetBitmap().SetSize(f.pnlImg->Width(), f.pnlImg->Height());
    f.imgDraw->Invalidate();
    f.Repaint();
    zqtest::Pump();
    RedrawWindow(f.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    const auto shot = zqtest::CaptureClient(f.Handle());
    ASSERT_EQ(shot.width, w);
    ASSERT_EQ(shot.height, hgt);
    zqtest::SavePng(shot, file);
    // The drawing area is white paper; the pen button is down (its face is not plain).
    EXPECT_EQ(shot.At(49 + 100, 50 + 100), static_cast<COLORREF>(RGB(255, 255, 255)));
    EXPECT_EQ(shot.At(292 + 48, 2 + 20), static_cast<COLORREF>(RGB(255, 255, 255))) << "pen media panel is white";
    // The marker stands around the first medium: its 3-pixel frame, not white.
    EXPECT_NE(shot.At(292 + 7, 2 + 20), static_cast<COLORREF>(RGB(255, 255, 255)));
  }
}

TEST_F(TheForm, ScreenshotsOfTheOptionPanels) {
  HostedForm h(609, 406);
  ZanQuilmoForm& f = h.form;
  f.pnlPenMode->SetVisible(false);
  f.pnlText->SetVisible(true);
  f.memText->SetText(L"手書きメモ\r\nZanQuilmo");
  f.Repaint();
  zqtest::Pump();
  RedrawWindow(f.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  zqtest::SavePng(zqtest::CaptureClient(f.pnlPaletteT->Handle()), L"form-text-panel.png");
  f.pnlText->SetVisible(false);
  f.pnlShape1->SetVisible(true);
  f.pnlShape2->SetVisible(true);
  f.sbtnShape->SetDown(true);
  RedrawWindow(f.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  const auto shot = zqtest::CaptureClient(f.pnlPaletteT->Handle());
  zqtest::SavePng(shot, L"form-shape-panels.png");
  EXPECT_FALSE(f.sbtnPen->Down());
  // The fill-style icon shows its colour inside the frame.
  EXPECT_EQ(shot.At(487 + 7 + 16, 2 + 7 + 16), static_cast<COLORREF>(RGB(60, 120, 220)));
}

TEST_F(TheForm, TheUndoButtonShowsItsDisabledGlyphWhenDisabled) {
  HostedForm h(609, 406);
  ZanQuilmoForm& f = h.form;
  auto blueIn = [&](const zqtest::Capture& c) {
    int blue = 0;
    for (int y = 6; y < 39; ++y)
      for (int x = 216; x < 249; ++x) {
        const COLORREF p = c.At(x, y);
        blue += GetBValue(p) > 150 && GetRValue(p) < 100;
      }
    return blue;
  };
  RedrawWindow(f.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  const int enabled = blueIn(zqtest::CaptureClient(f.pnlTool->Handle()));
  f.sbtnUndo->SetEnabled(false);
  RedrawWindow(f.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  const auto shot = zqtest::CaptureClient(f.pnlTool->Handle());
  EXPECT_GT(enabled, 40) << "the enabled arrow is blue";
  EXPECT_EQ(blueIn(shot), 0) << "the disabled arrow is grey";
  zqtest::SavePng(shot, L"form-undo-disabled.png");
}

TEST_F(TheForm, TheModuleHoldsTheCursorsWithTheirHotSpots) {
  const std::tuple<const wchar_t*, DWORD, DWORD> cursors[] = {
      {L"PEN_C", 10, 24}, {L"ERASER", 8, 26}, {L"BUCKET", 9, 28}, {L"TEXT", 4, 4}, {L"PEN_A", 1, 30}, {L"PEN_B", 4, 27}};
  for (const auto& [name, x, y] : cursors) {
    SCOPED_TRACE(zqtest::Narrow(name));
    HCURSOR c = static_cast<HCURSOR>(LoadImageW(Module(), name, IMAGE_CURSOR, 0, 0, LR_DEFAULTSIZE));
    ASSERT_NE(c, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(c, &info));
    EXPECT_FALSE(info.fIcon);
    EXPECT_EQ(info.xHotspot, x);
    EXPECT_EQ(info.yHotspot, y);
    BITMAP mask{};
    GetObjectW(info.hbmMask, sizeof mask, &mask);
    EXPECT_EQ(mask.bmWidth, 32);
    EXPECT_EQ(mask.bmHeight, 64) << "monochrome: AND and XOR masks in one bitmap";
    EXPECT_EQ(info.hbmColor, nullptr);
    DeleteObject(info.hbmMask);
    DestroyCursor(c);
  }
  // The toolbox bitmap: 16 x 16, 4 bits per pixel.
  HRSRC res = FindResourceW(Module(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(2));
  ASSERT_NE(res, nullptr);
  const auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(Module(), res)));
  EXPECT_EQ(header->biWidth, 16);
  EXPECT_EQ(header->biHeight, 16);
  EXPECT_EQ(header->biBitCount, 4);
}
