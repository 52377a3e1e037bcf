// The control in a real container: an AtlAxWin window of the system's atl.dll creates it
// by its ProgID, activates it in place in its own window, resizes it with the window and
// releases it when the window goes; a screenshot of the container goes to the test output.
#include <gtest/gtest.h>

#include <windows.h>
#include <ocidl.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "ComSupport.h"
#include "TestSupport.h"
#include "UiSupport.h"
#include "Graphics.h"
#include "ZanQuilmo4_TLB.h"

using zq::fw::ComPtr;

namespace {

using AtlAxWinInitFn = BOOL(WINAPI*)();
using AtlAxGetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);
using AtlAxAttachControlFn = HRESULT(WINAPI*)(IUnknown*, HWND, IUnknown**);

struct Atl {
  HMODULE module = LoadLibraryW(L"atl.dll");
  AtlAxWinInitFn init = module ? reinterpret_cast<AtlAxWinInitFn>(
                                     reinterpret_cast<void*>(GetProcAddress(module, "AtlAxWinInit")))
                               : nullptr;
  AtlAxGetControlFn getControl =
      module ? reinterpret_cast<AtlAxGetControlFn>(reinterpret_cast<void*>(GetProcAddress(module, "AtlAxGetControl")))
             : nullptr;
  AtlAxAttachControlFn attach = module ? reinterpret_cast<AtlAxAttachControlFn>(reinterpret_cast<void*>(
                                             GetProcAddress(module, "AtlAxAttachControl")))
                                       : nullptr;
};

// The control made by an AtlAxWin window (by its ProgID) in a parent window: the container
// window, the control and the control's own window.
struct Contained {
  HWND ax = nullptr;
  ComPtr<IUnknown> control;
  HWND form = nullptr;
  Contained() = default;
  Contained(const Contained&) = delete;
  Contained& operator=(const Contained&) = delete;
  // Released and its container window closed, as when the container's form closes.
  ~Contained() {
    control.reset();
    if (ax && IsWindow(ax)) DestroyWindow(ax);
    zqtest::Pump();
  }
};
void Contain(HWND parent, int x, int y, int w, int h, Contained& out) {
  static HMODULE registered = zqtest::RegisterModule("ZQ_OCX");
  ASSERT_NE(nullptr, registered);
  static Atl atl;
  ASSERT_TRUE(atl.init && atl.getControl) << "atl.dll with AtlAxWinInit and AtlAxGetControl";
  static const BOOL initialised = atl.init();
  ASSERT_TRUE(initialised);
  out.ax = CreateWindowExW(0, L"AtlAxWin", L"ZanQuilmo4.ZanQuilmoAx4", WS_CHILD | WS_VISIBLE, x, y, w, h, parent,
                           nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, out.ax) << "the container window made the control";
  ASSERT_EQ(S_OK, atl.getControl(out.ax, out.control.put()));
  ComPtr<IOleWindow> window;
  ASSERT_EQ(S_OK, out.control->QueryInterface(IID_IOleWindow, window.put_void()));
  ASSERT_EQ(S_OK, window->GetWindow(&out.form));
  zqtest::Pump();
}

SIZE ClientSize(HWND w) {
  RECT r{};
  GetClientRect(w, &r);
  return {r.right, r.bottom};
}
SIZE WindowSize(HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  return {r.right - r.left, r.bottom - r.top};
}

TEST(Container, AtlAxWinHostsTheControlInPlaceAndResizesIt) {
  HWND form = nullptr;
  {
    zqtest::HostWindow host(660, 460, L"ZanQuilmo4 in AtlAxWin");
    Contained c;
    ASSERT_NO_FATAL_FAILURE(Contain(host.hwnd(), 10, 10, 640, 440, c));
    HWND ax = c.ax;
    form = c.form;
    ComPtr<IZanQuilmoAx4> control;
    ASSERT_EQ(S_OK, c.control->QueryInterface(IID_IZanQuilmoAx4, control.put_void()));

    // In place: the form is a visible child of the container's window, at its size.
    EXPECT_EQ(ax, GetParent(form));
    EXPECT_TRUE(IsWindowVisible(form));
    EXPECT_EQ(ClientSize(ax).cx, WindowSize(form).cx);
    EXPECT_EQ(ClientSize(ax).cy, WindowSize(form).cy);
    LONG w = 0;
    control->get_DrawAreaWidth(&w);
    EXPECT_GT(w, 300) << "the drawing fills the view";

    // The container resizes it with its window.
    MoveWindow(ax, 10, 10, 520, 360, TRUE);
    EXPECT_TRUE(zqtest::PumpUntil([&] { return WindowSize(form).cx == 520 && WindowSize(form).cy == 360; }))
        << WindowSize(form).cx << "x" << WindowSize(form).cy;
    LONG w2 = 0;
    control->get_DrawAreaWidth(&w2);
    EXPECT_EQ(w - 120, w2) << "the drawing follows in automatic alignment";

    // What a user sees in the container.
    MoveWindow(ax, 10, 10, 640, 440, TRUE);
    zqtest::PumpUntil([&] { return WindowSize(form).cx == 640; });
    RedrawWindow(host.hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_ERASE);
    zqtest::Pump();
    const zqtest::Capture shot = zqtest::CaptureClient(host.hwnd());
    zqtest::SavePng(shot, L"container-atlaxwin.png");
    EXPECT_EQ(RGB(255, 255, 255), shot.At(10 + 640 - 40, 10 + 440 - 40)) << "the white drawing at the lower right";

    control.reset();
    c.control.reset();
    DestroyWindow(ax);
    zqtest::Pump();
    EXPECT_FALSE(IsWindow(form)) << "closing the container releases the control and its windows";
  }
}

// Where a user clicks on the control's form (client coordinates of its window): the pen
// media, the colour swatches, the three visible width buttons and the drawing.
POINT MediumButton(int m) { return {292 + 9 + 44 * m + 16, 2 + 7 + 16}; }
POINT Swatch(int column, int row) { return {2 + (column == 0 ? 3 : 20) + 8, 50 + 33 + 17 * row + 8}; }
POINT WidthButton(int slot) { return {2 + 4 + 16, 50 + 176 + (slot == 0 ? 4 : slot == 1 ? 39 : 74) + 16}; }
constexpr POINT kDrawingOrigin{49, 50};

// A click at a point of the form, and what it makes happen.
void ClickOn(HWND form, POINT p) {
  zqtest::Click(form, p.x, p.y);
  zqtest::Pump();
}

// A control contained at 820 x 620 in a host window of its own, where a user's clicks,
// drags and keys reach it.
class ContainedForm : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(Contain(host.hwnd(), 10, 10, 820, 620, c));
    form = c.form;
  }
  void click(POINT p) { ClickOn(form, p); }
  // The container as the screen shows it once the last undo step is taken and everything is
  // painted again, saved under `name`; formOrigin is where the control's form lies in it.
  zqtest::Capture Screenshot(const wchar_t* name) {
    zqtest::PumpUntil([] { return false; }, 200);
    RedrawWindow(host.hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_ERASE);
    zqtest::Pump();
    zqtest::Capture shot = zqtest::CaptureClient(host.hwnd());
    zqtest::SavePng(shot, name);
    formOrigin = {0, 0};
    MapWindowPoints(form, host.hwnd(), &formOrigin, 1);
    return shot;
  }
  zqtest::HostWindow host{840, 640, L"ZanQuilmo4 in a container"};
  Contained c;
  HWND form = nullptr;
  POINT formOrigin{0, 0};
};

TEST_F(ContainedForm, StrokesInEveryMediumDrawnWithTheMouse) {
  // Per medium: a colour (swatch column, row) and the two widths of its set drawn.
  struct Row {
    int column, row;
  };
  const Row colours[7] = {{0, 0}, {1, 6}, {0, 2}, {1, 2}, {0, 6}, {0, 4}, {1, 7}};
  for (int m = 0; m < 7; ++m) {
    click(MediumButton(m));
    click(Swatch(colours[m].column, colours[m].row));
    for (int part = 0; part < 2; ++part) {
      click(WidthButton(part == 0 ? 0 : 1));
      const int x0 = kDrawingOrigin.x + 30 + part * 370, y0 = kDrawingOrigin.y + 45 + 76 * m;
      zqtest::MouseMoveTo(form, x0, y0);
      zqtest::MouseDown(form, x0, y0);
      for (int i = 1; i <= 40; ++i)
        zqtest::MouseMoveTo(form, x0 + i * 8, y0 + static_cast<int>(std::lround(18 * std::sin(i * 0.3))));
      zqtest::MouseUp(form, x0 + 320, y0 + static_cast<int>(std::lround(18 * std::sin(40 * 0.3))));
      zqtest::Pump();
    }
  }
  const zqtest::Capture shot = Screenshot(L"container-strokes.png");
  // Every row holds ink on the screen.
  for (int m = 0; m < 7; ++m) {
    int ink = 0;
    const int y0 = formOrigin.y + kDrawingOrigin.y + 45 + 76 * m;
    for (int y = y0 - 25; y <= y0 + 25; y += 2)
      for (int x = formOrigin.x + kDrawingOrigin.x + 30; x < formOrigin.x + kDrawingOrigin.x + 720; x += 2)
        ink += shot.At(x, y) != RGB(255, 255, 255);
    EXPECT_GT(ink, 300) << "medium " << m;
  }
}

// Ink (not white) on the screen in the drawing area of a contained control's form.
int InkOnScreen(HWND form, int w, int h) {
  const zqtest::Capture shot = zqtest::CaptureClient(form);
  int ink = 0;
  for (int y = kDrawingOrigin.y; y < kDrawingOrigin.y + h && y < shot.height; ++y)
    for (int x = kDrawingOrigin.x; x < kDrawingOrigin.x + w && x < shot.width; ++x)
      ink += shot.At(x, y) != RGB(255, 255, 255);
  return ink;
}

TEST(Container, ASavedMemoComesBackInEitherAlignmentInPlaceBeforeOrAfterTheLoad) {
  static Atl atl;
  ASSERT_TRUE(atl.attach) << "atl.dll with AtlAxAttachControl";
  for (int manual = 0; manual < 2; ++manual) {
    SCOPED_TRACE(manual ? "manual alignment" : "automatic alignment");
    zqtest::HostWindow host(660, 460, L"memo round trip");
    std::vector<std::uint8_t> saved;
    int ink = 0;
    {
      Contained a;
      ASSERT_NO_FATAL_FAILURE(Contain(host.hwnd(), 0, 0, 640, 440, a));
      ComPtr<IZanQuilmoAx4> memo;
      ASSERT_EQ(S_OK, a.control->QueryInterface(IID_IZanQuilmoAx4, memo.put_void()));
      if (manual) {
        memo->put_DrawAreaAlign(alManual);
        memo->put_DrawAreaWidth(400);
        memo->put_DrawAreaHeight(300);
      }
      const POINT o = kDrawingOrigin;
      zqtest::Drag(a.form, {o.x + 40, o.y + 60}, {{o.x + 200, o.y + 60}, {o.x + 300, o.y + 200}});
      zqtest::Pump();
      ink = InkOnScreen(a.form, 400, 300);
      ASSERT_GT(ink, 300);
      saved = zqtest::SavedProperties(a.control.get());
    }
    // In place first, then loaded (a container that makes its controls before it loads them).
    {
      Contained b;
      ASSERT_NO_FATAL_FAILURE(Contain(host.hwnd(), 0, 0, 640, 440, b));
      ASSERT_EQ(S_OK, zqtest::LoadProperties(b.control.get(), saved));
      zqtest::Pump();
      RedrawWindow(b.form, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
      EXPECT_EQ(ink, InkOnScreen(b.form, 400, 300)) << "in place before the load";
    }
    // Loaded first, then put in place.
    {
      ComPtr<IUnknown> c;
      ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ZanQuilmoAx4, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, c.put_void()));
      ASSERT_EQ(S_OK, zqtest::LoadProperties(c.get(), saved));
      HWND ax = CreateWindowExW(0, L"AtlAxWin", L"", WS_CHILD | WS_VISIBLE, 0, 0, 640, 440, host.hwnd(), nullptr,
                                nullptr, nullptr);
      ASSERT_NE(nullptr, ax);
      ComPtr<IUnknown> site;
      ASSERT_EQ(S_OK, atl.attach(c.get(), ax, site.put()));
      zqtest::Pump();
      HWND form = nullptr;
      ComPtr<IOleWindow> window;
      ASSERT_EQ(S_OK, c->QueryInterface(IID_IOleWindow, window.put_void()));
      window->GetWindow(&form);
      RedrawWindow(form, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
      EXPECT_EQ(ink, InkOnScreen(form, 400, 300)) << "in place after the load";
      window.reset();
      site.reset();
      c.reset();
      DestroyWindow(ax);
      zqtest::Pump();
    }
  }
}

// Where the other tools are on the form: tool buttons, shape kinds (rectangle, rounded
// rectangle, ellipse, triangle, line from the left), fill styles, the text box.
POINT ToolButton(int left) { return {1 + left + 16, 2 + 6 + 16}; }
POINT ShapeButton(int i) { return {292 + 8 + 36 * i + 16, 2 + 7 + 16}; }
POINT FillButton(int i) { return {487 + 7 + 36 * i + 16, 2 + 7 + 16}; }
constexpr POINT kTextBox{292 + 1 + 100, 2 + 1 + 20};

// Hands a key to the control as a container's message loop does: TranslateAccelerator first.
HRESULT ContainerKey(IOleInPlaceActiveObject* active, UINT message, WPARAM key) {
  MSG m{GetFocus(), message, key, 0, 0, {0, 0}};
  const HRESULT hr = active->TranslateAccelerator(&m);
  zqtest::Pump();
  return hr;
}
std::wstring FocusedText() {
  wchar_t text[256] = L"";
  GetWindowTextW(GetFocus(), text, 256);
  return text;
}

TEST_F(ContainedForm, ShapesFillAndTextDrawnWithTheMouseAndTheKeyboard) {
  auto drag = [&](POINT a, POINT b) {
    zqtest::Drag(form, a, {{(a.x + b.x) / 2, (a.y + b.y) / 2}, b});
    zqtest::Pump();
  };
  const POINT o = kDrawingOrigin;
  // Strokes under everything.
  click(WidthButton(0));
  for (int i = 0; i < 3; ++i) drag({o.x + 10, o.y + 50 + 130 * i}, {o.x + 740, o.y + 90 + 130 * i});
  // The five shapes in the three fill styles: red filled, blue framed, green framed and open.
  click(ToolButton(140));
  const POINT colours[3] = {Swatch(0, 2), Swatch(0, 6), Swatch(1, 4)};
  for (int s = 0; s < 3; ++s) {
    click(FillButton(s));
    click(colours[s]);
    for (int k = 0; k < 5; ++k) {
      click(ShapeButton(k));
      const POINT a{o.x + 20 + 148 * k, o.y + 20 + 130 * s};
      drag(k == 3 ? POINT{a.x + 55, a.y} : a, {a.x + 110, a.y + 100});
    }
  }
  // The bucket fills the inside of the blue framed rectangle yellow.
  click(ToolButton(72));
  click(Swatch(0, 3));
  click({o.x + 75, o.y + 20 + 130 + 50});
  // A two-line text: typed, Enter given through the container's accelerator handling.
  ComPtr<IOleInPlaceActiveObject> active;
  ASSERT_EQ(S_OK, c.control->QueryInterface(IID_IOleInPlaceActiveObject, active.put_void()));
  click(ToolButton(106));
  click(kTextBox);
  zqtest::TypeText(L"Memo");
  EXPECT_EQ(S_OK, ContainerKey(active.get(), WM_KEYDOWN, VK_RETURN)) << "Enter goes to the text box";
  zqtest::TypeText(L"2026-12-09");
  EXPECT_EQ(S_OK, ContainerKey(active.get(), WM_KEYDOWN, VK_ESCAPE)) << "Escape is the form's";
  EXPECT_EQ(L"Memo\r\n2026-12-09", FocusedText()) << "a line break, and Escape changed nothing";
  click(colours[1]);
  drag({o.x + 30, o.y + 420}, {o.x + 330, o.y + 470});
  const zqtest::Capture shot = Screenshot(L"container-tools.png");
  const POINT f = formOrigin;
  EXPECT_EQ(RGB(255, 255, 0), shot.At(f.x + o.x + 75, f.y + o.y + 200)) << "the filled frame";
  EXPECT_EQ(RGB(255, 0, 0), shot.At(f.x + o.x + 75, f.y + o.y + 70)) << "a filled rectangle";
  int textInk = 0;
  for (int y = o.y + 420; y < o.y + 520; ++y)
    for (int x = o.x + 30; x < o.x + 400; ++x) textInk += shot.At(f.x + x, f.y + y) == RGB(0, 0, 255);
  EXPECT_GT(textInk, 200) << "the text in blue";
  active.reset();
}

TEST_F(ContainedForm, ABackgroundPhotoOpenedPlacedDrawnOverAndErased) {
  const std::wstring dir = zqtest::Join(zqtest::OutputDir(), L"背景 画像");
  CreateDirectoryW(dir.c_str(), nullptr);
  zq::fw::Bitmap photo;  // a colourful "photo": gradients and rings
  photo.SetSize(600, 420);
  {
    const zq::Bgr24View v = photo.View();
    for (int y = 0; y < v.height; ++y)
      for (int x = 0; x < v.width; ++x) {
        const int r = static_cast<int>(std::hypot(x - 300, y - 210));
        std::uint8_t* p = v.Px(x, y);
        p[0] = static_cast<std::uint8_t>(255 - y * 255 / v.height);
        p[1] = static_cast<std::uint8_t>((r / 12) % 2 ? 200 : 90);
        p[2] = static_cast<std::uint8_t>(x * 255 / v.width);
      }
  }
  const std::wstring photoPath = zqtest::Join(dir, L"写真.bmp"), badPath = zqtest::Join(dir, L"壊れた.png"),
                     gifPath = zqtest::Join(dir, L"絵.gif");
  photo.SaveToFile(photoPath);
  for (const std::wstring& p : {badPath, gifPath}) {
    HANDLE f = CreateFileW(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    WriteFile(f, "not an image", 12, &n, nullptr);
    CloseHandle(f);
  }
  const POINT o = kDrawingOrigin;
  zqtest::AnsweredDialogs dialogs({}, {gifPath, badPath, photoPath});
  auto clickAndAnswer = [&](POINT p) {
    zqtest::Click(form, p.x, p.y);
    zqtest::PumpUntil([] { return false; }, 120);  // the dialogs' turn
  };
  clickAndAnswer(ToolButton(178));
  clickAndAnswer(ToolButton(178));
  EXPECT_EQ((std::vector<std::wstring>{L"読み込み可能なファイル形式は(PNG/BMP/JPG,JPEG)です。",
                                       L"イメージのロード中にエラーが発生しました。"}),
            dialogs.boxTexts);
  clickAndAnswer(ToolButton(178));  // the photo: its rectangle follows the pointer until a click places it
  zqtest::MouseMoveTo(form, o.x + 340, o.y + 240);
  clickAndAnswer({o.x + 360, o.y + 250});
  EXPECT_EQ(L"画像を貼り付けます。", dialogs.boxTexts.back());
  // Drawn over, then partly erased: the photo shows where the eraser went.
  clickAndAnswer(WidthButton(0));
  for (int i = 0; i < 5; ++i) {
    zqtest::Drag(form, {o.x + 80, o.y + 80 + 90 * i}, {{o.x + 400, o.y + 140 + 90 * i}, {o.x + 700, o.y + 60 + 90 * i}});
    zqtest::Pump();
  }
  clickAndAnswer(ToolButton(38));
  zqtest::Drag(form, {o.x + 250, o.y + 60}, {{o.x + 250, o.y + 500}});  // one straight segment down
  zqtest::Drag(form, {o.x + 500, o.y + 480}, {{o.x + 600, o.y + 90}});
  const zqtest::Capture shot = Screenshot(L"container-background.png");
  const POINT f = formOrigin;
  // The photo was placed centred on the click: its top-left at (360 - 300, 250 - 210). Down
  // the eraser's straight path every stroke it crossed is gone and the photo shows.
  const zq::Bgr24View v = photo.View();
  int differing = 0;
  for (int y = 70; y < 450; y += 5) {
    const std::uint8_t* p = v.Px(250 - 60, y - 40);
    differing += shot.At(f.x + o.x + 250, f.y + o.y + y) != RGB(p[2], p[1], p[0]);
  }
  EXPECT_EQ(0, differing) << "the eraser uncovers the photo";
}

// Counts the keys a window receives.
int g_keys = 0;
WNDPROC g_formProc = nullptr;
LRESULT CALLBACK CountKeys(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_KEYDOWN && (wp == VK_RETURN || wp == VK_ESCAPE)) ++g_keys;
  return CallWindowProcW(g_formProc, w, m, wp, lp);
}

// A small image file for a placement to wait with.
std::wstring SmallImageFile() {
  zq::fw::Bitmap b;
  b.SetSize(40, 30);
  const std::wstring path = zqtest::Join(zqtest::OutputDir(), L"keys.bmp");
  b.SaveToFile(path);
  return path;
}

// An image waiting to be placed (the control's placement keys are live).
void WaitToPlace(IUnknown* control) {
  ComPtr<IZanQuilmoAx4> api;
  ASSERT_EQ(S_OK, control->QueryInterface(IID_IZanQuilmoAx4, api.put_void()));
  LONG result = 0;
  ASSERT_EQ(S_OK, api->LoadFromFile(zq::fw::BStr(SmallImageFile()).get(), 1, 0, 0, &result));
  ASSERT_EQ(-1, result);
}

TEST(Container, EnterAndEscapeGoToTheFocusedFormOnlyWhileItUsesThem) {
  zqtest::HostWindow host(660, 460, L"keys");
  Contained c;
  ASSERT_NO_FATAL_FAILURE(Contain(host.hwnd(), 0, 0, 640, 440, c));
  const HWND form = c.form;
  ComPtr<IOleInPlaceActiveObject> active;
  ASSERT_EQ(S_OK, c.control->QueryInterface(IID_IOleInPlaceActiveObject, active.put_void()));
  g_formProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(form, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountKeys)));
  auto translate = [&](WPARAM key) {
    MSG m{form, WM_KEYDOWN, key, 0, 0, {0, 0}};
    return active->TranslateAccelerator(&m);
  };
  // Focus elsewhere: the container keeps its keys.
  SetFocus(host.hwnd());
  g_keys = 0;
  EXPECT_EQ(S_FALSE, translate(VK_RETURN));
  // Focus in the control with nothing that uses them: still the container's (its default
  // and cancel buttons).
  SetFocus(form);
  zqtest::Pump();
  ASSERT_EQ(form, GetFocus());
  EXPECT_EQ(S_FALSE, translate(VK_RETURN));
  EXPECT_EQ(S_FALSE, translate(VK_ESCAPE));
  EXPECT_EQ(0, g_keys);
  // An image waiting to be placed: Enter and Escape reach the focused window; other keys
  // are the container's to translate.
  ASSERT_NO_FATAL_FAILURE(WaitToPlace(c.control.get()));
  SetFocus(form);
  EXPECT_EQ(S_OK, translate(VK_RETURN));
  EXPECT_EQ(S_OK, translate(VK_ESCAPE));
  EXPECT_EQ(2, g_keys);
  EXPECT_EQ(S_FALSE, translate('A'));
  EXPECT_EQ(S_FALSE, active->TranslateAccelerator(nullptr)) << "no message, nothing translated";
  SendMessageW(form, WM_KEYUP, VK_ESCAPE, 0);  // the placement given up
  EXPECT_EQ(S_FALSE, translate(VK_ESCAPE)) << "the container's again";
  SetWindowLongPtrW(form, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_formProc));
  active.reset();
}

// ---- a dialog-style host ----

// A dialog of a template in memory, with OK and Cancel buttons, whose procedure counts the
// buttons' commands.
int g_ok = 0, g_cancel = 0;
INT_PTR CALLBACK CountButtons(HWND, UINT m, WPARAM wp, LPARAM) {
  if (m == WM_INITDIALOG) return TRUE;
  if (m == WM_COMMAND && LOWORD(wp) == IDOK) ++g_ok;
  if (m == WM_COMMAND && LOWORD(wp) == IDCANCEL) ++g_cancel;
  return m == WM_COMMAND;
}
HWND OkCancelDialog() {
  alignas(4) std::uint8_t buffer[512] = {};
  auto* t = reinterpret_cast<DLGTEMPLATE*>(buffer);
  t->style = WS_POPUP | WS_CAPTION | WS_VISIBLE | DS_MODALFRAME;
  t->cx = 440;
  t->cy = 320;
  std::uint8_t* p = buffer + sizeof(DLGTEMPLATE) + 3 * sizeof(WORD);  // no menu, class or title
  t->cdit = 2;
  for (int id : {IDOK, IDCANCEL}) {
    p = reinterpret_cast<std::uint8_t*>((reinterpret_cast<std::uintptr_t>(p) + 3) & ~std::uintptr_t{3});
    auto* item = reinterpret_cast<DLGITEMTEMPLATE*>(p);
    item->style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (id == IDOK ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    item->x = static_cast<short>(id == IDOK ? 320 : 380);
    item->y = 295;
    item->cx = 50;
    item->cy = 14;
    item->id = static_cast<WORD>(id);
    auto* w = reinterpret_cast<WORD*>(item + 1);
    *w++ = 0xFFFF;
    *w++ = 0x0080;  // a button
    *w++ = 0;       // no text
    *w++ = 0;       // no creation data
    p = reinterpret_cast<std::uint8_t*>(w);
  }
  return CreateDialogIndirectParamW(GetModuleHandleW(nullptr), t, nullptr, &CountButtons, 0);
}

// Sends a key to the focused window as the system would, through a message loop that gives
// every message to IsDialogMessage first, as dialog boxes and VB, Delphi and MFC forms do.
void DialogKey(HWND dialog, WPARAM key, bool up = true) {
  const HWND focus = GetFocus();
  PostMessageW(focus, WM_KEYDOWN, key, 1);
  if (up) PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (IsDialogMessageW(dialog, &m)) continue;
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
}

TEST(Container, ADialogHostKeepsItsButtonsButTheControlTakesThePlacementKeys) {
  struct Dialog {
    HWND hwnd = OkCancelDialog();
    ~Dialog() { DestroyWindow(hwnd); }
  } box;
  const HWND dialog = box.hwnd;
  ASSERT_NE(nullptr, dialog);
  Contained c;
  ASSERT_NO_FATAL_FAILURE(Contain(dialog, 0, 0, 640, 440, c));
  g_ok = g_cancel = 0;
  SetFocus(c.form);
  zqtest::Pump();
  ASSERT_TRUE(c.form == GetFocus() || IsChild(c.form, GetFocus()));
  // Nothing uses the keys: Enter presses the default button, Escape cancels.
  DialogKey(dialog, VK_RETURN);
  DialogKey(dialog, VK_ESCAPE);
  EXPECT_EQ(1, g_ok);
  EXPECT_EQ(1, g_cancel);
  // An image waits to be placed: Enter and Escape are the control's, and Escape gives the
  // placement up (Enter goes down only: its release would ask to place the image).
  ASSERT_NO_FATAL_FAILURE(WaitToPlace(c.control.get()));
  SetFocus(c.form);
  DialogKey(dialog, VK_RETURN, false);
  DialogKey(dialog, VK_ESCAPE);
  EXPECT_EQ(1, g_ok) << "Enter stayed with the control";
  EXPECT_EQ(1, g_cancel) << "Escape stayed with the control";
  // Given up: the dialog has its keys again.
  DialogKey(dialog, VK_ESCAPE);
  EXPECT_EQ(2, g_cancel);
}

}  // namespace
