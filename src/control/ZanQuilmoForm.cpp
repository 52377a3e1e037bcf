#include "ZanQuilmoForm.h"

#include "Com.h"

namespace zq {

using fw::Align;
using fw::Bevel;

const std::array<Swatch, 16> kSwatches = {{
    {1, 0, 0, 0x000000},  {2, 0, 1, 0xC0C0C0},  {3, 0, 2, 0x0000FF},  {4, 0, 3, 0x00FFFF},
    {5, 0, 4, 0x00FF00},  {6, 0, 5, 0xFFFF00},  {7, 0, 6, 0xFF0000},  {8, 0, 7, 0xFF00FF},
    {10, 1, 0, 0xFFFFFF}, {11, 1, 1, 0x808080}, {12, 1, 2, 0x000080}, {13, 1, 3, 0x008080},
    {14, 1, 4, 0x008000}, {15, 1, 5, 0x808000}, {16, 1, 6, 0x800000}, {17, 1, 7, 0x800080},
}};

namespace {

fw::Panel* AddPanel(fw::WinControl* parent, const wchar_t* name, int l, int t, int w, int h,
                    Bevel bevel = Bevel::None, fw::Color color = fw::kBtnFace) {
  auto* p = parent->Add<fw::Panel>(name);
  p->SetBounds(l, t, w, h);
  p->SetBevel(bevel);
  p->SetColor(color);
  return p;
}

fw::SpeedButton* AddToolButton(fw::WinControl* parent, HINSTANCE res, const wchar_t* name, int left,
                               const wchar_t* glyph, const wchar_t* hint, int group) {
  auto* b = parent->Add<fw::SpeedButton>(name);
  b->SetBounds(left, 6, 33, 33);
  b->SetGroupIndex(group);
  b->Glyph().LoadAlphaResource(res, glyph);
  b->SetHint(hint);
  return b;
}

fw::Image* AddPicture(fw::WinControl* parent, HINSTANCE res, const wchar_t* name, int l, int t,
                      const wchar_t* picture, const wchar_t* hint = L"") {
  auto* img = parent->Add<fw::Image>(name);
  img->SetBounds(l, t, 32, 32);
  img->GetPicture().LoadAlphaResource(res, picture);
  img->SetHint(hint);
  return img;
}

// A selection marker: a hollow square with a 3-pixel pen in the button-shadow colour.
fw::Shape* AddMarker(fw::WinControl* parent, const wchar_t* name, int l, int t, int w, int h) {
  auto* s = parent->Add<fw::Shape>(name);
  s->SetBounds(l, t, w, h);
  s->Pen() = {fw::PenStyle::Solid, fw::PenMode::Copy, 3, fw::kBtnShadow};
  s->Brush().style = fw::BrushStyle::Clear;
  return s;
}

}  // namespace

ZanQuilmoForm::ZanQuilmoForm(HINSTANCE resources) : fw::Form(L"ZanQuilmoAx4"), resources_(resources) {
  SetCaption(L"ZanQuilmoAx4");
  SetColor(fw::kAppWorkSpace);
  Font() = {L"ＭＳ Ｐゴシック", -12, SHIFTJIS_CHARSET, fw::kWindowText};
  SetKeyPreview(true);
  SetBounds(0, 0, 617, 433);
  SetClientSize(609, 406);
  BuildTopPalette();
  BuildOptionPanels();
  BuildLeftPalette();
  BuildDrawingArea();
  Timer.SetInterval(100);
  Timer.SetEnabled(false);
  Wire();
}

ZanQuilmoForm::~ZanQuilmoForm() {
  Timer.OnTimer = nullptr;
  ZanTCtl->OnPenDown = ZanTCtl->OnPenMove = ZanTCtl->OnPenUp = ZanTCtl->OnEraserDown = ZanTCtl->OnEraserUp = nullptr;
  ZanTCtl->OnPenDetected = nullptr;
}

void ZanQuilmoForm::BuildTopPalette() {
  HINSTANCE res = resources_;
  pnlPaletteT = AddPanel(this, L"pnlPaletteT", 0, 0, 609, 50);
  pnlPaletteT->SetAlign(Align::Top);
  pnlTool = AddPanel(pnlPaletteT, L"pnlTool", 1, 2, 288, 45, Bevel::LoweredInner);
  pnlTool->SetShowHint(true);
  sbtnPen = AddToolButton(pnlTool, res, L"sbtnPen", 4, L"GLYPH_PEN", L"ペン", 1);
  sbtnErs = AddToolButton(pnlTool, res, L"sbtnErs", 38, L"GLYPH_ERASER", L"消しゴム", 1);
  sbtnBuc = AddToolButton(pnlTool, res, L"sbtnBuc", 72, L"GLYPH_BUCKET", L"塗りつぶし", 1);
  sbtnText = AddToolButton(pnlTool, res, L"sbtnText", 106, L"GLYPH_TEXT", L"テキスト貼付", 1);
  sbtnShape = AddToolButton(pnlTool, res, L"sbtnShape", 140, L"GLYPH_SHAPE", L"基本図形描画", 1);
  sbtnBGI = AddToolButton(pnlTool, res, L"sbtnBGI", 178, L"GLYPH_OPEN", L"画像ファイルを開く", 1);
  sbtnUndo = AddToolButton(pnlTool, res, L"sbtnUndo", 216, L"GLYPH_UNDO", L"元に戻す", 0);
  sbtnUndo->SetNumGlyphs(2);
  sbtnClr = AddToolButton(pnlTool, res, L"sbtnClr", 250, L"GLYPH_CLEAR", L"画面クリア", 0);
  sbtnPen->SetDown(true);

  pnlPenMode = AddPanel(pnlPaletteT, L"pnlPenMode", 292, 2, 313, 45, Bevel::LoweredInner, fw::kWhite);
  pnlPenMode->SetShowHint(true);
  shpPMSel = AddMarker(pnlPenMode, L"shpPMSel", 6, 4, 38, 38);
  imgOikInk = AddPicture(pnlPenMode, res, L"imgOikInk", 9, 7, L"MEDIUM_OILINK", L"油性インクペン");
  imgWaterInk = AddPicture(pnlPenMode, res, L"imgWaterInk", 53, 7, L"MEDIUM_WATERINK", L"水性インクペン");
  imgColoredPencil = AddPicture(pnlPenMode, res, L"imgColoredPencil", 97, 7, L"MEDIUM_PENCIL", L"色鉛筆");
  imgCrayon = AddPicture(pnlPenMode, res, L"imgCrayon", 141, 7, L"MEDIUM_CRAYON", L"クレヨン");
  imgWaterPaint = AddPicture(pnlPenMode, res, L"imgWaterPaint", 185, 7, L"MEDIUM_WATERCOLOUR", L"水彩筆");
  imgOilPaint = AddPicture(pnlPenMode, res, L"imgOilPaint", 229, 7, L"MEDIUM_OILPAINT", L"油彩筆");
  imgAirBrush = AddPicture(pnlPenMode, res, L"imgAirBrush", 273, 7, L"MEDIUM_AIRBRUSH", L"エアブラシ");
}

void ZanQuilmoForm::BuildOptionPanels() {
  HINSTANCE res = resources_;
  pnlText = AddPanel(pnlPaletteT, L"pnlText", 292, 2, 313, 45, Bevel::LoweredInner);
  pnlText->SetVisible(false);
  memText = pnlText->Add<fw::Memo>(L"memText");
  memText->SetBounds(1, 1, 208, 43);
  memText->Font() = {L"ＭＳ Ｐゴシック", -13, SHIFTJIS_CHARSET, fw::kWindowText};
  memText->FontChanged();
  Image1 = pnlText->Add<fw::Image>(L"Image1");
  Image1->SetBounds(209, 4, 101, 37);
  Image1->GetPicture().LoadAlphaResource(res, L"TEXTCAPTION");
  Image1->SetTransparent(true);

  pnlShape1 = AddPanel(pnlPaletteT, L"pnlShape1", 292, 2, 191, 45, Bevel::LoweredInner);
  pnlShape1->SetVisible(false);
  shpS1Sel = AddMarker(pnlShape1, L"shpS1Sel", 5, 4, 38, 38);
  imgRect = AddPicture(pnlShape1, res, L"imgRect", 8, 7, L"SHAPE_RECT");
  imgRRect = AddPicture(pnlShape1, res, L"imgRRect", 44, 7, L"SHAPE_RRECT");
  imgEllipse = AddPicture(pnlShape1, res, L"imgEllipse", 80, 7, L"SHAPE_ELLIPSE");
  imgTri = AddPicture(pnlShape1, res, L"imgTri", 116, 7, L"SHAPE_TRI");
  imgLine = AddPicture(pnlShape1, res, L"imgLine", 152, 7, L"SHAPE_LINE");
  for (fw::Image* i : {imgRect, imgRRect, imgEllipse, imgTri, imgLine}) i->SetTransparent(true);

  pnlShape2 = AddPanel(pnlPaletteT, L"pnlShape2", 487, 2, 118, 45, Bevel::LoweredInner);
  pnlShape2->SetVisible(false);
  shpS2Sel = AddMarker(pnlShape2, L"shpS2Sel", 4, 4, 38, 38);
  const std::pair<fw::Image**, const wchar_t*> fills[] = {
      {&imgFill, L"FILL_FILL"}, {&imgFrame, L"FILL_FRAME"}, {&imgFrameTP, L"FILL_FRAMETP"}};
  const wchar_t* names[] = {L"imgFill", L"imgFrame", L"imgFrameTP"};
  for (int i = 0; i < 3; ++i) {
    fw::Image* img = pnlShape2->Add<fw::Image>(names[i]);
    img->SetBounds(7 + 36 * i, 7, 32, 32);
    img->GetPicture().LoadIconResource(res, fills[i].second, 32);
    *fills[i].first = img;
  }
}

void ZanQuilmoForm::BuildLeftPalette() {
  HINSTANCE res = resources_;
  pnlPaletteL = AddPanel(this, L"pnlPaletteL", 0, 50, 49, 353);
  pnlPaletteL->SetAlign(Align::Left);
  pnlCol = AddPanel(pnlPaletteL, L"pnlCol", 2, 0, 40, 173, Bevel::LoweredInner);
  shpColL = pnlCol->Add<fw::Shape>(L"shpColL");
  shpColL->SetBounds(8, 5, 24, 24);
  shpColL->Brush().color = fw::kBlack;
  for (const Swatch& s : kSwatches) {
    auto* shape = pnlCol->Add<fw::Shape>(L"shpCol" + std::to_wstring(s.number));
    shape->SetBounds(s.column == 0 ? 3 : 20, 33 + 17 * s.row, 16, 16);
    shape->Brush().color = s.color;
    shpCol[static_cast<std::size_t>(s.number)] = shape;
  }

  pnlPenSize = AddPanel(pnlPaletteL, L"pnlPenSize", 2, 176, 40, 109, Bevel::LoweredInner, fw::kWhite);
  shpPSSel = AddMarker(pnlPenSize, L"shpPSSel", 1, 36, 39, 38);
  imgPen08 = AddPicture(pnlPenSize, res, L"imgPen08", 4, 4, L"WIDTH_08");
  imgPen03 = AddPicture(pnlPenSize, res, L"imgPen03", 4, 39, L"WIDTH_03");
  imgPen01 = AddPicture(pnlPenSize, res, L"imgPen01", 4, 74, L"WIDTH_01");
  // The other widths wait below the panel's visible height.
  imgPen32 = AddPicture(pnlPenSize, res, L"imgPen32", 4, 150, L"WIDTH_32");
  imgPen22 = AddPicture(pnlPenSize, res, L"imgPen22", 4, 150, L"WIDTH_22");
  imgPen14 = AddPicture(pnlPenSize, res, L"imgPen14", 4, 150, L"WIDTH_14");
  imgPen02 = AddPicture(pnlPenSize, res, L"imgPen02", 4, 150, L"WIDTH_02");
}

void ZanQuilmoForm::BuildDrawingArea() {
  pnlPaletteB = AddPanel(this, L"pnlPaletteB", 0, 403, 609, 3);
  pnlPaletteB->SetAlign(Align::Bottom);
  pnlPaletteR = AddPanel(this, L"pnlPaletteR", 606, 50, 3, 353);
  pnlPaletteR->SetAlign(Align::Right);
  scrbxImg = Add<fw::ScrollBox>(L"scrbxImg");
  scrbxImg->SetBounds(49, 50, 557, 353);
  scrbxImg->SetColor(fw::kAppWorkSpace);
  scrbxImg->SetAlign(Align::Client);
  pnlImg = AddPanel(scrbxImg, L"pnlImg", 0, 0, 557, 353, Bevel::None, fw::kAppWorkSpace);
  pnlImg->SetAlign(Align::Client);
  imgTexture = pnlImg->Add<fw::Image>(L"imgTexture");
  imgTexture->SetAlign(Align::Client);
  imgDraw = pnlImg->Add<fw::Image>(L"imgDraw");
  imgDraw->SetAlign(Align::Client);
  // The companions, found beside this module when their classes are not registered.
  std::wstring path = fw::ModulePath(resources_);
  const std::wstring folder = path.substr(0, path.find_last_of(L"\\/"));
  ZanTCtl = pnlImg->Add<TZanTabletCtl4>(L"ZanTCtl", folder);
  ZanTCtl->SetBounds(40, 48, 16, 16);
  ZanPBrs = pnlImg->Add<TZanPBrushCtl4>(L"ZanPBrs", folder);
  ZanPBrs->SetBounds(72, 48, 16, 16);
  ZanPErs = pnlImg->Add<TZanPEraserCtl4>(L"ZanPErs", folder);
  ZanPErs->SetBounds(104, 48, 16, 16);
}

// Every component event goes to its handler slot.
void ZanQuilmoForm::Wire() {
  auto click = [this](void (ZanQuilmoForm::*slot)(Control&)) {
    return [this, slot](Control& c) { (this->*slot)(c); };
  };
  sbtnPen->OnClick = click(&ZanQuilmoForm::sbtnPenClick);
  sbtnErs->OnClick = click(&ZanQuilmoForm::sbtnErsClick);
  sbtnBuc->OnClick = click(&ZanQuilmoForm::sbtnBucClick);
  sbtnText->OnClick = click(&ZanQuilmoForm::sbtnTextClick);
  sbtnShape->OnClick = click(&ZanQuilmoForm::sbtnShapeClick);
  sbtnBGI->OnClick = click(&ZanQuilmoForm::sbtnBGIClick);
  sbtnUndo->OnClick = [this](Control& c) { sbtnUndoClick(&c); };
  sbtnClr->OnClick = click(&ZanQuilmoForm::sbtnClrClick);
  imgOikInk->OnClick = click(&ZanQuilmoForm::imgOikInkClick);
  imgWaterInk->OnClick = click(&ZanQuilmoForm::imgWaterInkClick);
  imgColoredPencil->OnClick = click(&ZanQuilmoForm::imgColoredPencilClick);
  imgCrayon->OnClick = click(&ZanQuilmoForm::imgCrayonClick);
  imgWaterPaint->OnClick = click(&ZanQuilmoForm::imgWaterPaintClick);
  imgOilPaint->OnClick = click(&ZanQuilmoForm::imgOilPaintClick);
  imgAirBrush->OnClick = click(&ZanQuilmoForm::imgAirBrushClick);
  imgRect->OnClick = click(&ZanQuilmoForm::imgRectClick);
  imgRRect->OnClick = click(&ZanQuilmoForm::imgRRectClick);
  imgEllipse->OnClick = click(&ZanQuilmoForm::imgEllipseClick);
  imgTri->OnClick = click(&ZanQuilmoForm::imgTriClick);
  imgLine->OnClick = click(&ZanQuilmoForm::imgLineClick);
  imgFill->OnClick = click(&ZanQuilmoForm::imgFillClick);
  imgFrame->OnClick = click(&ZanQuilmoForm::imgFrameClick);
  imgFrameTP->OnClick = click(&ZanQuilmoForm::imgFrameTPClick);
  imgPen32->OnClick = click(&ZanQuilmoForm::imgPen32Click);
  imgPen22->OnClick = click(&ZanQuilmoForm::imgPen22Click);
  imgPen14->OnClick = click(&ZanQuilmoForm::imgPen14Click);
  imgPen08->OnClick = click(&ZanQuilmoForm::imgPen08Click);
  imgPen03->OnClick = click(&ZanQuilmoForm::imgPen03Click);
  imgPen02->OnClick = click(&ZanQuilmoForm::imgPen02Click);
  imgPen01->OnClick = click(&ZanQuilmoForm::imgPen01Click);
  auto swatch = [this](Control& c, MouseButton b, ShiftState s, int x, int y) { shpCol1MouseDown(c, b, s, x, y); };
  for (fw::Shape* s : shpCol)
    if (s) s->OnMouseDown = swatch;
  shpColL->OnMouseDown = [this](Control& c, MouseButton b, ShiftState s, int x, int y) { shpColLMouseDown(c, b, s, x, y); };
  imgDraw->OnMouseDown = [this](Control& c, MouseButton b, ShiftState s, int x, int y) { imgDrawMouseDown(c, b, s, x, y); };
  imgDraw->OnMouseMove = [this](Control& c, ShiftState s, int x, int y) { imgDrawMouseMove(c, s, x, y); };
  imgDraw->OnMouseUp = [this](Control& c, MouseButton b, ShiftState s, int x, int y) { imgDrawMouseUp(c, b, s, x, y); };
  memText->OnKeyPress = [this](Control& c, wchar_t& key) { memTextKeyPress(c, key); };
  OnKeyDown = [this](Control& c, WORD& key, ShiftState s) { ActiveFormKeyDown(c, key, s); };
  OnKeyUp = [this](Control& c, WORD& key, ShiftState s) { ActiveFormKeyUp(c, key, s); };
  pnlImg->OnResize = click(&ZanQuilmoForm::pnlImgResize);
  scrbxImg->OnResize = click(&ZanQuilmoForm::scrbxImgResize);
  Timer.OnTimer = [this](fw::Timer& t) { TimerTimer(t); };
  ZanTCtl->OnPenDown = [this](TZanTabletCtl4& t, long x, long y, long sw, long p, long w, short az, short al, short tw) {
    ZanTCtl4PenDown(t, x, y, sw, p, w, az, al, tw);
  };
  ZanTCtl->OnPenMove = [this](TZanTabletCtl4& t, long x, long y, long sw, long p, long w, short az, short al, short tw) {
    ZanTCtl4PenMove(t, x, y, sw, p, w, az, al, tw);
  };
  ZanTCtl->OnPenUp = [this](TZanTabletCtl4& t, long x, long y, long sw, long p, long w, short az, short al, short tw) {
    ZanTCtl4PenUp(t, x, y, sw, p, w, az, al, tw);
  };
  ZanTCtl->OnPenDetected = [this](TZanTabletCtl4& t, long d, long type, long id) { ZanTCtl4PenDetected(t, d, type, id); };
  // The pen's eraser end erases, as tablet users expect.
  ZanTCtl->OnEraserDown = [this](TZanTabletCtl4& t, long x, long y, long sw, long p, long w, short az, short al, short tw) {
    ZanTCtl4EraserDown(t, x, y, sw, p, w, az, al, tw);
  };
  ZanTCtl->OnEraserUp = [this](TZanTabletCtl4& t, long x, long y, long sw, long p, long w, short az, short al, short tw) {
    ZanTCtl4EraserUp(t, x, y, sw, p, w, az, al, tw);
  };
}

}  // namespace zq
