// TZanQuilmoAx4: the tool palette. The tool buttons, pen media, widths, shape kinds, fill
// styles and colours, what each choice changes in the drawing state and in the brush and
// tablet components, and the rearranging of the pen-width buttons.
#include "ZanQuilmoImpl.h"

namespace zq {

namespace {

// The three widths each pen-width set shows (tops 4, 39, 74), the rest parked at top 150
// below the panel's visible part, and the width selected when the set is shown.
struct PenSizeLayout {
  int shown[3];
  int parked[4];
  int selected;
};
constexpr PenSizeLayout kPenSizeSets[4] = {
    {{8, 3, 1}, {32, 22, 14, 2}, 3},
    {{8, 3, 2}, {32, 22, 14, 1}, 3},
    {{32, 22, 14}, {8, 3, 2, 1}, 22},
    {{22, 14, 3}, {32, 8, 2, 1}, 14},
};
constexpr int kShownTops[3] = {4, 39, 74};
constexpr int kParkedTop = 150;

// The pen-width set of a medium.
int PenSizeSetOf(int medium) { return medium == 0 ? 1 : medium <= 2 ? 2 : 3; }

}  // namespace

fw::Image* TZanQuilmoAx4::PenWidthButton(int width) const {
  switch (width) {
    case 32: return imgPen32;
    case 22: return imgPen22;
    case 14: return imgPen14;
    case 8: return imgPen08;
    case 3: return imgPen03;
    case 2: return imgPen02;
    case 1: return imgPen01;
    default: return nullptr;
  }
}

bool TZanQuilmoAx4::PlacementPending() {
  if (CurrentTool != kToolPlacement) return false;
  sbtnBGI->SetDown(true);
  return true;
}

// ---- tools ----

void TZanQuilmoAx4::SwitchTabletInput(long on) {
  if (!FTabletReady) return;
  if (ZanTCtl->InputEnabled() != on) ZanTCtl->EnableInput(on);
}

void TZanQuilmoAx4::sbtnPenClick(Control&) {
  SwitchTabletInput(1);
  if (PlacementPending() || !sbtnPen->Down()) return;
  CurrentTool = kToolPen;
  ShowToolPanels(CurrentTool);
  SetupPen(0);
  imgDraw->SetCursor(kCursorPen);
  ArrangePenSizes(PenSizeSetOf(PenMode));
  ResetStrokePhase();
}

void TZanQuilmoAx4::sbtnErsClick(Control&) {
  SwitchTabletInput(1);
  if (PlacementPending() || !sbtnErs->Down()) return;
  CurrentTool = kToolEraser;
  ShowToolPanels(CurrentTool);
  SetupPen(0);
  ArrangePenSizes(3);
  imgDraw->SetCursor(kCursorEraser);
  ResetStrokePhase();
}

void TZanQuilmoAx4::sbtnBucClick(Control&) {
  SwitchTabletInput(1);
  if (PlacementPending() || !sbtnBuc->Down()) return;
  CurrentTool = kToolBucket;
  ShowToolPanels(CurrentTool);
  SetupPen(0);
  imgDraw->SetCursor(kCursorBucket);
  ResetStrokePhase();
}

void TZanQuilmoAx4::sbtnTextClick(Control&) {
  SwitchTabletInput(1);
  if (PlacementPending() || !sbtnText->Down()) return;
  CurrentTool = kToolText;
  ShowToolPanels(CurrentTool);
  memText->SetFocus();
  ResetStrokePhase();
  imgDraw->SetCursor(kCursorText);
}

void TZanQuilmoAx4::sbtnShapeClick(Control&) {
  SwitchTabletInput(0);
  if (PlacementPending() || !sbtnShape->Down()) return;
  CurrentTool = kToolShape;
  ShowToolPanels(CurrentTool);
  imgDraw->SetCursor(fw::kCursorCross);
  if (ZanTCtl->CursorMode() == 2) ZanTCtl->SetPenCursor(2);
  ArrangePenSizes(4);
  ResetStrokePhase();
}

void TZanQuilmoAx4::ShowToolPanels(int tool) {
  pnlPenMode->SetVisible(false);
  pnlText->SetVisible(false);
  pnlShape1->SetVisible(false);
  pnlShape2->SetVisible(false);
  if (tool == kToolPen) pnlPenMode->SetVisible(true);
  else if (tool == kToolText) pnlText->SetVisible(true);
  else if (tool == kToolShape) {
    pnlShape1->SetVisible(true);
    pnlShape2->SetVisible(true);
  }
}

void TZanQuilmoAx4::BeginPlacement() {
  CurrentTool = kToolPlacement;
  ShowToolPanels(CurrentTool);
  SetFocus();
  imgDraw->SetCursor(fw::kCursorDrag);
  if (ZanTCtl->CursorMode() == 2) ZanTCtl->SetPenCursor(1);
}

void TZanQuilmoAx4::SelectPenTool() {
  CurrentTool = kToolPen;
  sbtnPen->SetDown(true);
  sbtnPenClick(*sbtnPen);
}

// ---- pen media ----

void TZanQuilmoAx4::ChooseMedium(int medium, Control& button) {
  ZanPBrs->SetBrushType(static_cast<short>(medium), 0, 0);
  ZanPBrs->SetMagnification(100);
  ZanPBrs->SetVaryLineWidth(medium >= 4 ? 1 : 0);
  PenMode = medium;
  shpPMSel->SetLeft(button.Left() - 3);
  ArrangePenSizes(PenSizeSetOf(medium));
}

void TZanQuilmoAx4::imgOikInkClick(Control& c) { ChooseMedium(0, c); }
void TZanQuilmoAx4::imgWaterInkClick(Control& c) { ChooseMedium(1, c); }
void TZanQuilmoAx4::imgColoredPencilClick(Control& c) { ChooseMedium(2, c); }
void TZanQuilmoAx4::imgCrayonClick(Control& c) { ChooseMedium(3, c); }
void TZanQuilmoAx4::imgWaterPaintClick(Control& c) { ChooseMedium(4, c); }
void TZanQuilmoAx4::imgOilPaintClick(Control& c) { ChooseMedium(5, c); }
void TZanQuilmoAx4::imgAirBrushClick(Control& c) { ChooseMedium(6, c); }

// ---- pen widths ----

void TZanQuilmoAx4::ChooseWidth(int width, Control& button) {
  PenWidth = width;
  shpPSSel->SetTop(button.Top() - 3);
}

void TZanQuilmoAx4::imgPen32Click(Control& c) { ChooseWidth(32, c); }
void TZanQuilmoAx4::imgPen22Click(Control& c) { ChooseWidth(22, c); }
void TZanQuilmoAx4::imgPen14Click(Control& c) { ChooseWidth(14, c); }
void TZanQuilmoAx4::imgPen08Click(Control& c) { ChooseWidth(8, c); }
void TZanQuilmoAx4::imgPen03Click(Control& c) { ChooseWidth(3, c); }
void TZanQuilmoAx4::imgPen02Click(Control& c) { ChooseWidth(2, c); }
void TZanQuilmoAx4::imgPen01Click(Control& c) { ChooseWidth(1, c); }

void TZanQuilmoAx4::ArrangePenSizes(int setNo) {
  if (setNo == PenSizeSet) return;  // the chosen width stays
  if (setNo >= 1 && setNo <= 4) {
    const PenSizeLayout& layout = kPenSizeSets[setNo - 1];
    for (int i = 0; i < 3; ++i) PenWidthButton(layout.shown[i])->SetTop(kShownTops[i]);
    for (int w : layout.parked) PenWidthButton(w)->SetTop(kParkedTop);
    fw::Image* selected = PenWidthButton(layout.selected);
    selected->OnClick(*selected);  // as if it had been clicked
  }
  PenSizeSet = setNo;
}

// ---- shape kinds and fill styles ----

void TZanQuilmoAx4::ChooseShapeKind(int kind, Control& button) {
  ShapeKind = kind;
  shpS1Sel->SetLeft(button.Left() - 3);
}
void TZanQuilmoAx4::ChooseFillStyle(int style, Control& button) {
  FillStyle = style;
  shpS2Sel->SetLeft(button.Left() - 3);
}

void TZanQuilmoAx4::imgRectClick(Control& c) { ChooseShapeKind(1, c); }
void TZanQuilmoAx4::imgRRectClick(Control& c) { ChooseShapeKind(2, c); }
void TZanQuilmoAx4::imgEllipseClick(Control& c) { ChooseShapeKind(3, c); }
void TZanQuilmoAx4::imgLineClick(Control& c) { ChooseShapeKind(4, c); }
void TZanQuilmoAx4::imgTriClick(Control& c) { ChooseShapeKind(5, c); }
void TZanQuilmoAx4::imgFillClick(Control& c) { ChooseFillStyle(1, c); }
void TZanQuilmoAx4::imgFrameClick(Control& c) { ChooseFillStyle(2, c); }
void TZanQuilmoAx4::imgFrameTPClick(Control& c) { ChooseFillStyle(3, c); }

// ---- colours ----

void TZanQuilmoAx4::shpCol1MouseDown(Control& sender, MouseButton, ShiftState, int, int) {
  const fw::Color c = static_cast<fw::Shape&>(sender).Brush().color;
  shpColL->Brush().color = c;
  shpColL->Invalidate();
  PenColor = c;
  AfterColourChoice();
}

void TZanQuilmoAx4::shpColLMouseDown(Control&, MouseButton, ShiftState, int, int) {
  // The dialog keeps the colour last chosen in it and opens on that one.
  if (!dlgColor.Execute(Handle())) return;  // cancelled: nothing changes
  PenColor = dlgColor.GetColor();
  shpColL->Brush().color = PenColor;
  shpColL->Invalidate();
  AfterColourChoice();
}

void TZanQuilmoAx4::AfterColourChoice() {
  // Choosing a colour while erasing goes back to the pen.
  if (!PlacementPending() && CurrentTool == kToolEraser) SelectPenTool();
}

}  // namespace zq
