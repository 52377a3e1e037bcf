// The form of the memo control: its components, named and placed as the control's logic
// expects them, with their pictures, hints, colours and initial states, and the event
// handler slots wired to the components. The slots do nothing here; the control object
// (TZanQuilmoAx4) derives from this form and gives them their behaviour.
#pragma once

#include <array>

#include "Application.h"
#include "Dialogs.h"
#include "Form.h"
#include "StdControls.h"
#include "ZANPBRUSH4Lib_TLB.h"
#include "ZANTABLET4Lib_TLB.h"

namespace zq {

using fw::Control;
using fw::MouseButton;
using fw::ShiftState;

// The sixteen swatch colours (0x00BBGGRR), by swatch number; there is no ninth swatch.
struct Swatch {
  int number;
  int column;  // 0 left, 1 right
  int row;     // 0 .. 7
  fw::Color color;
};
extern const std::array<Swatch, 16> kSwatches;

// The control's cursors, installed under these numbers at set-up.
inline constexpr int kCursorPen = 1;
inline constexpr int kCursorEraser = 2;
inline constexpr int kCursorBucket = 3;
inline constexpr int kCursorText = 4;

class ZanQuilmoForm : public fw::Form {
 public:
  // Builds the whole component tree; pictures come from the resources of `resources`, and
  // the companion components, when their classes are not registered, from the modules
  // beside that module. Throws fw::Error when a component cannot be created.
  explicit ZanQuilmoForm(HINSTANCE resources);
  ~ZanQuilmoForm() override;

  HINSTANCE Resources() const { return resources_; }

  // Top palette.
  fw::Panel* pnlPaletteT;
  fw::Panel* pnlTool;
  fw::SpeedButton *sbtnPen, *sbtnErs, *sbtnBuc, *sbtnText, *sbtnShape, *sbtnBGI, *sbtnUndo, *sbtnClr;
  fw::Panel* pnlPenMode;
  fw::Shape* shpPMSel;
  fw::Image *imgOikInk, *imgWaterInk, *imgColoredPencil, *imgCrayon, *imgWaterPaint, *imgOilPaint, *imgAirBrush;
  fw::Panel* pnlText;
  fw::Memo* memText;
  fw::Image* Image1;
  fw::Panel* pnlShape1;
  fw::Shape* shpS1Sel;
  fw::Image *imgRect, *imgRRect, *imgEllipse, *imgTri, *imgLine;
  fw::Panel* pnlShape2;
  fw::Shape* shpS2Sel;
  fw::Image *imgFill, *imgFrame, *imgFrameTP;
  // Left palette.
  fw::Panel* pnlPaletteL;
  fw::Panel* pnlCol;
  fw::Shape* shpColL;
  std::array<fw::Shape*, 18> shpCol{};  // shpCol[1] .. shpCol[17]; shpCol[0] and shpCol[9] stay null
  fw::Panel* pnlPenSize;
  fw::Shape* shpPSSel;
  fw::Image *imgPen08, *imgPen03, *imgPen01, *imgPen32, *imgPen22, *imgPen14, *imgPen02;
  // Margins and the drawing area.
  fw::Panel* pnlPaletteB;
  fw::Panel* pnlPaletteR;
  fw::ScrollBox* scrbxImg;
  fw::Panel* pnlImg;
  fw::Image* imgTexture;
  fw::Image* imgDraw;
  TZanTabletCtl4* ZanTCtl;
  TZanPBrushCtl4* ZanPBrs;
  TZanPEraserCtl4* ZanPErs;
  // Non-visual components.
  fw::ColorDialog dlgColor;
  fw::OpenDialog dlgOpen;
  fw::Timer Timer;

  // Event handler slots.
  virtual void sbtnPenClick(Control&) {}
  virtual void sbtnErsClick(Control&) {}
  virtual void sbtnBucClick(Control&) {}
  virtual void sbtnTextClick(Control&) {}
  virtual void sbtnShapeClick(Control&) {}
  virtual void sbtnBGIClick(Control&) {}
  virtual void sbtnUndoClick(Control*) {}
  virtual void sbtnClrClick(Control&) {}
  virtual void imgOikInkClick(Control&) {}
  virtual void imgWaterInkClick(Control&) {}
  virtual void imgColoredPencilClick(Control&) {}
  virtual void imgCrayonClick(Control&) {}
  virtual void imgWaterPaintClick(Control&) {}
  virtual void imgOilPaintClick(Control&) {}
  virtual void imgAirBrushClick(Control&) {}
  virtual void imgRectClick(Control&) {}
  virtual void imgRRectClick(Control&) {}
  virtual void imgEllipseClick(Control&) {}
  virtual void imgTriClick(Control&) {}
  virtual void imgLineClick(Control&) {}
  virtual void imgFillClick(Control&) {}
  virtual void imgFrameClick(Control&) {}
  virtual void imgFrameTPClick(Control&) {}
  virtual void imgPen32Click(Control&) {}
  virtual void imgPen22Click(Control&) {}
  virtual void imgPen14Click(Control&) {}
  virtual void imgPen08Click(Control&) {}
  virtual void imgPen03Click(Control&) {}
  virtual void imgPen02Click(Control&) {}
  virtual void imgPen01Click(Control&) {}
  virtual void shpCol1MouseDown(Control&, MouseButton, ShiftState, int, int) {}
  virtual void shpColLMouseDown(Control&, MouseButton, ShiftState, int, int) {}
  virtual void imgDrawMouseDown(Control&, MouseButton, ShiftState, int, int) {}
  virtual void imgDrawMouseMove(Control&, ShiftState, int, int) {}
  virtual void imgDrawMouseUp(Control&, MouseButton, ShiftState, int, int) {}
  virtual void memTextKeyPress(Control&, wchar_t&) {}
  virtual void ActiveFormKeyDown(Control&, WORD&, ShiftState) {}
  virtual void ActiveFormKeyUp(Control&, WORD&, ShiftState) {}
  virtual void pnlImgResize(Control&) {}
  virtual void scrbxImgResize(Control&) {}
  virtual void TimerTimer(fw::Timer&) {}
  virtual void ZanTCtl4PenDown(TZanTabletCtl4&, long, long, long, long, long, short, short, short) {}
  virtual void ZanTCtl4PenMove(TZanTabletCtl4&, long, long, long, long, long, short, short, short) {}
  virtual void ZanTCtl4PenUp(TZanTabletCtl4&, long, long, long, long, long, short, short, short) {}
  virtual void ZanTCtl4PenDetected(TZanTabletCtl4&, long, long, long) {}
  virtual void ZanTCtl4EraserDown(TZanTabletCtl4&, long, long, long, long, long, short, short, short) {}
  virtual void ZanTCtl4EraserUp(TZanTabletCtl4&, long, long, long, long, long, short, short, short) {}

 private:
  void BuildTopPalette();
  void BuildOptionPanels();
  void BuildLeftPalette();
  void BuildDrawingArea();
  void Wire();

  HINSTANCE resources_;
};

}  // namespace zq
