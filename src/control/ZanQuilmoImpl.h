// The control object TZanQuilmoAx4: the form the host embeds, its state, its set-up and
// teardown, the drawing area's geometry and the undo history. Its drawing state (tool, pen,
// colour, stroke phase, background flags) is the record of DrawingState.h, one per control.
//
// One class, its concerns in files of their own:
//   ZanQuilmoImpl.cpp            set-up, tablet attachment, the history timer, teardown
//   DrawingArea.cpp              layout, alignment modes, resizing the area and its bitmaps
//   HostIntegration.cpp          border style, keys, event sink, the drawing as Picture2
//   ../drawing/Palette.cpp       tools, pen media and widths, shape kinds, fill styles, colours
//   ../drawing/PointerInput.cpp  mouse and tablet input, the stroke phases
//   ../drawing/Strokes.cpp       stroke steps through the brush and eraser
//   ../drawing/Shapes.cpp        pen set-ups, figures and the rubber band
//   ../drawing/FillAndText.cpp   the bucket and the text tool
//   ../image/UndoHistory.cpp     snapshots, undo, refreshing and whitening the layers
//   ../image/PngImage.cpp        PngImageBase64
//   ../image/ImagePlacement.cpp  image files, loading, shrinking and placing an image
//
// Drawing size. A drawing area is at most the system's image size (Pixels.h: 32767 pixels a
// side, 4096 x 4096 in all): the drawing, the background, four history bitmaps and, while
// the area changes size, a second copy of each must fit into a 32-bit process. At the
// largest size that is 6 x 48 MiB held and as much again for a moment.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Com.h"
#include "DrawingState.h"
#include "ZanQuilmoForm.h"

namespace zq {

// The message of a failed drawing-area height change.
extern const wchar_t kAreaSizeError[];
// The error text of a drawing-area size beyond the limits.
extern const wchar_t kAreaTooLarge[];
// The message of a failed image placement.
extern const wchar_t kPasteError[];
extern const wchar_t kShrinkQuestion[];
extern const wchar_t kClearQuestion[];
extern const wchar_t kClearBackgroundQuestion[];
extern const wchar_t kLoadError[];
extern const wchar_t kFormatsMessage[];
extern const wchar_t kOpenFilter[];
extern const wchar_t kPasteQuestion[];
// The messages of PngImageBase64.
extern const wchar_t kImageGetError[];
extern const wchar_t kImageSetError[];
extern const wchar_t kNotPngText[];

class TZanQuilmoAx4 : public ZanQuilmoForm, public DrawingState {
 public:
  // Builds the form; pictures, cursors and the companions' fallback folder come from
  // `module` (ZanQuilmo4.ocx). Initialize must follow before the host uses the control.
  explicit TZanQuilmoAx4(HINSTANCE module);
  ~TZanQuilmoAx4() override;

  // The ActiveX form's initialisation hook: the destroy handler, then SetupControl.
  void Initialize();

  // Host integration.
  long Get_DrawEnabled() const { return FDrawEnabled; }
  void Set_DrawEnabled(long value);
  long Get_AxBorderStyle() const { return static_cast<long>(GetBorderStyle()); }
  void Set_AxBorderStyle(long value);
  // The container connected its event sink (null: disconnected). A sink without the
  // control's event interface is refused (fw::Error).
  void EventSinkChanged(IUnknown* sink);
  // The control has no property pages.
  void DefinePropertyPages() {}
  // Class-level accessors: the same values as the Automation properties, written through
  // the same setters (a failing setter throws); Visible2 and Enabled2 are the window's.
  long DrawEnabled2() const { return Get_DrawEnabled(); }
  void SetDrawEnabled2(long v) { Set_DrawEnabled(v); }
  long DrawAreaAlign2() const { return Get_DrawAreaAlign(); }
  void SetDrawAreaAlign2(long v) { Set_DrawAreaAlign(v); }
  long DrawAreaWidth2() const { return Get_DrawAreaWidth(); }
  void SetDrawAreaWidth2(long v) { Set_DrawAreaWidth(v); }
  long DrawAreaHeight2() const { return Get_DrawAreaHeight(); }
  void SetDrawAreaHeight2(long v) { Set_DrawAreaHeight(v); }
  long AxBorderStyle2() const { return Get_AxBorderStyle(); }
  void SetAxBorderStyle2(long v) { Set_AxBorderStyle(v); }
  short Visible2() const { return Visible() ? -1 : 0; }
  void SetVisible2(short v);
  short Enabled2() const { return Enabled() ? -1 : 0; }
  void SetEnabled2(short v);
  // The rubber bands (a shape's or the text box's while it is dragged, the rectangle of an
  // image waiting to be placed) are drawn into the drawing by exclusive-or, for the screen.
  // Whatever reads the drawing (files, text, pictures, saved state, the container's view,
  // snapshots) or replaces or resizes it lifts them for that time: one more exclusive-or
  // takes them out, and one more puts them back where they were. Nested lifts lift once.
  class BandsLifted {
   public:
    explicit BandsLifted(TZanQuilmoAx4& control);
    ~BandsLifted();
    BandsLifted(const BandsLifted&) = delete;
    BandsLifted& operator=(const BandsLifted&) = delete;

   private:
    TZanQuilmoAx4& control_;
    bool lifted_ = false;
  };
  // Picture2: the drawing's bitmap (lift the bands to read it without them); writing copies
  // a picture into the drawing without fitting the area or touching the history.
  const fw::Bitmap& Picture2() { return DrawBitmap(); }
  void SetPicture2(const fw::Bitmap& picture);

  // The drawing as Base64 text of a PNG (ASCII); the empty text for an empty drawing.
  // Failures throw fw::Error with the property's messages.
  fw::BStr Get_PngImageBase64();
  void Set_PngImageBase64(std::wstring_view text);

  // The drawing as a new OLE picture the host owns; replaced by a picture's pixels (null or a
  // non-bitmap picture: white). Refusals throw fw::Error and change nothing.
  fw::ComPtr<IPictureDisp> Get_Picture();
  void Set_Picture(IUnknown* value);

  // Image files: -1 done, 0 failed, 1 a name this system does not take.
  long LoadFromFile(const std::wstring& name, long manual, long x, long y);
  long SaveToFile(const std::wstring& name);

  // Drawing area.
  long Get_DrawAreaAlign() const { return FDrawAreaAlign; }
  void Set_DrawAreaAlign(long value);
  long Get_DrawAreaWidth() const;
  void Set_DrawAreaWidth(long value);
  long Get_DrawAreaHeight() const;
  void Set_DrawAreaHeight(long value);
  void FitAreaToPicture();
  void PictureTaken(bool pixelsReplaced);

  // History.
  void TakeUndoSnapshot();
  void sbtnUndoClick(Control* sender) override;
  // The clear and open-image buttons.
  void sbtnClrClick(Control& sender) override;
  void sbtnBGIClick(Control& sender) override;
  void TimerTimer(fw::Timer& sender) override;
  void RefreshDrawImage();
  void FillImageWhite(fw::Image& image);
  void FreeHistoryBitmaps();
  // Snapshots taken since the control was created (for diagnostics and tests).
  int SnapshotCount() const { return snapshots_; }

  // Tool palette.
  void sbtnPenClick(Control& sender) override;
  void sbtnErsClick(Control& sender) override;
  void sbtnBucClick(Control& sender) override;
  void sbtnTextClick(Control& sender) override;
  void sbtnShapeClick(Control& sender) override;
  void imgOikInkClick(Control& sender) override;
  void imgWaterInkClick(Control& sender) override;
  void imgColoredPencilClick(Control& sender) override;
  void imgCrayonClick(Control& sender) override;
  void imgWaterPaintClick(Control& sender) override;
  void imgOilPaintClick(Control& sender) override;
  void imgAirBrushClick(Control& sender) override;
  void imgPen32Click(Control& sender) override;
  void imgPen22Click(Control& sender) override;
  void imgPen14Click(Control& sender) override;
  void imgPen08Click(Control& sender) override;
  void imgPen03Click(Control& sender) override;
  void imgPen02Click(Control& sender) override;
  void imgPen01Click(Control& sender) override;
  void imgRectClick(Control& sender) override;
  void imgRRectClick(Control& sender) override;
  void imgEllipseClick(Control& sender) override;
  void imgLineClick(Control& sender) override;
  void imgTriClick(Control& sender) override;
  void imgFillClick(Control& sender) override;
  void imgFrameClick(Control& sender) override;
  void imgFrameTPClick(Control& sender) override;
  void shpCol1MouseDown(Control& sender, MouseButton b, ShiftState s, int x, int y) override;
  void shpColLMouseDown(Control& sender, MouseButton b, ShiftState s, int x, int y) override;
  // Enters image placement (a loaded image waits to be placed by the user).
  void BeginPlacement();
  // Back to the pen tool, with everything its button does.
  void SelectPenTool();

  // Pointer input.
  void imgDrawMouseDown(Control& sender, MouseButton b, ShiftState s, int x, int y) override;
  void imgDrawMouseMove(Control& sender, ShiftState s, int x, int y) override;
  void imgDrawMouseUp(Control& sender, MouseButton b, ShiftState s, int x, int y) override;
  void ZanTCtl4PenDown(TZanTabletCtl4& t, long x, long y, long bfSw, long p, long nWheel, short nAzimth,
                       short nAltitude, short nTwist) override;
  void ZanTCtl4PenMove(TZanTabletCtl4& t, long x, long y, long bfSw, long p, long nWheel, short nAzimth,
                       short nAltitude, short nTwist) override;
  void ZanTCtl4PenUp(TZanTabletCtl4& t, long x, long y, long bfSw, long p, long nWheel, short nAzimth,
                     short nAltitude, short nTwist) override;
  void ZanTCtl4PenDetected(TZanTabletCtl4& t, long bDetected, long nType, long nID) override;
  void ZanTCtl4EraserDown(TZanTabletCtl4& t, long x, long y, long bfSw, long p, long nWheel, short nAzimth,
                          short nAltitude, short nTwist) override;
  void ZanTCtl4EraserUp(TZanTabletCtl4& t, long x, long y, long bfSw, long p, long nWheel, short nAzimth,
                        short nAltitude, short nTwist) override;

 protected:
  void pnlImgResize(Control& sender) override;
  void scrbxImgResize(Control& sender) override;
  void ActiveFormDestroy(Control& sender);

  void SetupControl();
  bool AttachTablet();
  void ResizeImage(fw::Image& image, int width, int height);
  // The bitmaps that follow the area's size, all changed or none: each to its own size
  // with the given dimension replaced.
  void ResizeAreaBitmaps(int width, int height);
  void SetAreaSide(long value, bool width);
  // Manual alignment: DrawAreaAlign 1; every other stored value aligns automatically.
  bool ManualArea() const { return FDrawAreaAlign == 1; }
  bool HistoryReady() const { return FUndoDrawBmp && FUndoTextureBmp && FLastDrawBmp && FLastTextureBmp; }
  fw::Bitmap& DrawBitmap() { return imgDraw->GetPicture().GetBitmap(); }

  // Palette helpers.
  bool PlacementPending();  // true while an image waits to be placed; then presses sbtnBGI again
  void ShowToolPanels(int tool);
  void ArrangePenSizes(int setNo);
  void SwitchTabletInput(long on);  // EnableInput when the tablet is ready and not so already
  void ChooseMedium(int medium, Control& button);
  void ChooseWidth(int width, Control& button);
  void ChooseShapeKind(int kind, Control& button);
  void ChooseFillStyle(int style, Control& button);
  void AfterColourChoice();
  fw::Image* PenWidthButton(int width) const;

  // One stroke step: a point in quarter pixels of the drawing to the brush or the eraser.
  virtual void DrawStrokePoint(long x, long y, long pressure, long extra, bool first);
  void SetupPen(int setup);
  void TabletStrokePoint(long x, long y, long pressure, bool first);
  // Whether a tablet point (quarter pixels of the scroll box) lies over the visible drawing.
  bool TabletPointOnDrawing(long x, long y);
  // Delivers waiting messages; false when the control was destroyed meanwhile.
  bool DeliverWaitingMessages();
  // Clears a stroke left half done by a tool button: idle again, and with a tablet the
  // pen's mouse events pass again.
  void ResetStrokePhase();

  // Ends a stroke, drag or release when it goes out of scope, on every path (a failing
  // component, a handler that destroyed the form while messages were delivered): the
  // history records it, the phase is idle, and after a tablet stroke the pen's mouse events
  // pass again. Nothing happens once the control is gone.
  class StrokeEnd {
   public:
    enum History { kArmTimer, kSnapshot };
    enum Source { kMouse, kTablet };
    enum Pen { kKeepPen, kRestorePen };  // the pen's eraser end gives back width and cursor
    StrokeEnd(TZanQuilmoAx4& c, History h, Source s = kMouse, Pen p = kKeepPen)
        : c_(c), alive_(c.alive_), history_(h), source_(s), pen_(p) {}
    ~StrokeEnd() {
      if (*alive_) c_.EndStroke(history_, source_, pen_);
    }
    StrokeEnd(const StrokeEnd&) = delete;
    StrokeEnd& operator=(const StrokeEnd&) = delete;

   private:
    TZanQuilmoAx4& c_;
    std::shared_ptr<bool> alive_;
    History history_;
    Source source_;
    Pen pen_;
  };
  void EndStroke(StrokeEnd::History history, StrokeEnd::Source source, StrokeEnd::Pen pen) noexcept;

  // Shapes and the rubber band.
  void DrawFigure(int kind, int setup, DragPoint a, DragPoint b);
  // Shows the part of the drawing a figure changed (its bounds and the pen's width around).
  void ShowDrawingChange(RECT bounds, int penWidth);
  // The band of a drag moves to `p` (the old one removed first); EndRubberBand removes it.
  void MoveRubberBand(int kind, DragPoint p);
  void EndRubberBand(int kind);
  DragPoint ShapePoint(ShiftState shift, int x, int y) const;
  void ShapeDragMove(ShiftState shift, int x, int y);
  void FinishShapeDrag(ShiftState shift, int x, int y);
  // The bucket and the text.
  bool BucketFill(int x, int y);
  // False when there is no text to place (then no drag starts).
  bool BeginTextDrag(int x, int y);
  DragPoint TextBoxPoint(std::size_t lines, int x, int y) const;
  void TextDragMove(int x, int y);
  void FinishTextDrag(int x, int y);
  void DrawTextBlock(int left, int top, int height, const std::vector<std::wstring>& lines);
  // Keys of the form and characters of the text box.
  void ActiveFormKeyDown(Control& sender, WORD& key, ShiftState shift) override;
  void memTextKeyPress(Control& sender, wchar_t& key) override;
  // Image files and placing a loaded image.
  int LoadImageFile(const std::wstring& name, int manual);
  int ClassifyImageSize(const fw::Bitmap& image) const;
  int FitPasteImage(fw::Bitmap& image, int manual);
  void ShrinkImage(fw::Bitmap& image, int fit, int areaWidth, int areaHeight);
  void XorPlacementBox(DragPoint centre);
  void PlacementRectangle(DragPoint centre);
  void PlacementAtCorner();
  void PlacementMove(int x, int y);
  int PasteImage(int x, int y, int mode);
  void ActiveFormKeyUp(Control& sender, WORD& key, ShiftState shift) override;
  fw::Bitmap& TextureBitmap() { return imgTexture->GetPicture().GetBitmap(); }

  // Fields, in the form's order.
  fw::ComPtr<IDispatch> FEvents;  // the container's event sink (nothing is fired through it)
  long FDrawEnabled = -1;
  long FDrawAreaAlign = 0;
  std::unique_ptr<fw::Bitmap> FUndoDrawBmp;
  std::unique_ptr<fw::Bitmap> FUndoTextureBmp;
  std::unique_ptr<fw::Bitmap> FLastDrawBmp;
  std::unique_ptr<fw::Bitmap> FLastTextureBmp;
  std::unique_ptr<fw::Bitmap> FPasteBmp;
  bool FTabletReady = false;
  bool FPenDetected = false;
  bool FTabletContact = false;
  bool FFirstTabletAttach = true;

 private:
  bool destroyed_ = false;  // teardown has begun: handlers leave the bitmaps alone
  // False once the object is gone: a handler that delivers messages (which may destroy the
  // control) checks it afterwards.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  int snapshots_ = 0;
  bool strokeErases_ = false;  // the stroke in progress goes to the eraser (chosen at its first point)
  bool bandShown_ = false;     // a shape's or the text box's rubber band is in the drawing now
  int bandKind_ = kKindRectangle;  // its figure
  bool placementBand_ = false;     // the waiting image's rectangle is in the drawing now
  DragPoint placementCentre_{};    // where it is
  int bandLifts_ = 0;              // lifts under way (BandsLifted)
  // Both layers as they were beyond the area, kept while a smaller host hides them.
  std::unique_ptr<fw::Bitmap> keptDraw_, keptTexture_;
  void KeepOutside(int width, int height);
  void BringBackKept(int oldWidth, int oldHeight);
  void DropKept();
  std::optional<BandsLifted> pictureLift_;  // while the form paints a picture of itself
  void XorBands();
};

}  // namespace zq
