// Image files and placing a loaded image, on the real form under Wine: real files in a folder
// whose name has a blank and Japanese characters, the shrink question answered in the real
// message box, the placement rectangle driven with real mouse and keyboard input.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "BmpCorpus.h"
#include "ComSupport.h"
#include "HostedControl.h"
#include "Files.h"
#include "ImageFiles.h"
#include "TestSupport.h"
#include "UiSupport.h"
#include "ZanQuilmoImpl.h"

using namespace zq;

namespace {

class Probe : public TZanQuilmoAx4 {
 public:
  using TZanQuilmoAx4::TZanQuilmoAx4;
  using TZanQuilmoAx4::ClassifyImageSize;
  using TZanQuilmoAx4::FTabletReady;
  using TZanQuilmoAx4::DrawBitmap;
  using TZanQuilmoAx4::FPasteBmp;
  using TZanQuilmoAx4::PasteImage;
  using TZanQuilmoAx4::TextureBitmap;
};
using Hosted = zqtest::Hosted<Probe>;

std::vector<std::uint8_t> Pixels(fw::Bitmap& b) {
  const Bgr24View v = b.View();
  std::vector<std::uint8_t> out;
  for (int y = 0; y < v.height; ++y) out.insert(out.end(), v.Row(y), v.Row(y) + std::size_t(v.width) * 3);
  return out;
}
fw::Color At(fw::Bitmap& b, int x, int y) { return b.GetCanvas().Pixel(x, y); }

// A bitmap of w x h: a colour gradient with a few marks, so that any shift shows.
void Paint(fw::Bitmap& b, int w, int h) {
  b.SetSize(w, h);
  const Bgr24View v = b.View();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = v.Px(x, y);
      p[0] = static_cast<std::uint8_t>(x * 255 / w);
      p[1] = static_cast<std::uint8_t>(y * 255 / h);
      p[2] = static_cast<std::uint8_t>((x + y) * 255 / (w + h));
    }
}
void Fill(fw::Bitmap& b, int w, int h, fw::Color c) {
  b.SetSize(w, h);
  fw::CanvasLock lock(b.GetCanvas());
  b.GetCanvas().Brush() = {fw::BrushStyle::Solid, c};
  b.GetCanvas().FillRect(RECT{0, 0, w, h});
}

// A folder of this test's own, emptied.
std::wstring Folder() {
  const std::wstring dir = zqtest::Join(zqtest::OutputDir(), L"image files 画像");
  CreateDirectoryW(dir.c_str(), nullptr);
  for (const std::wstring& f : zqtest::ListFiles(dir, L"*")) {
    SetFileAttributesW(zqtest::Join(dir, f).c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(zqtest::Join(dir, f).c_str());
  }
  return dir;
}
std::wstring Write(const std::wstring& dir, const std::wstring& name, fw::Bitmap& b) {
  const std::wstring path = zqtest::Join(dir, name);
  EXPECT_EQ(-1, SaveImageFile(zqtest::ControlModule(), b, path)) << zqtest::Narrow(name);
  return path;
}

class ImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(zqtest::UseControlModules());
  }
};

TEST_F(ImageTest, FilesRoundTripAndTheNameRules) {
  const std::wstring dir = Folder();
  Hosted a;
  Probe& ax = *a.ax;
  Paint(ax.DrawBitmap(), 557, 353);
  for (const wchar_t* name : {L"memo.png", L"memo.bmp", L"memo.jpg", L"MEMO2.PNG"})
    EXPECT_EQ(-1, ax.SaveToFile(zqtest::Join(dir, name))) << zqtest::Narrow(name);
  const auto drawn = Pixels(ax.DrawBitmap());
  for (const wchar_t* name : {L"memo.png", L"memo.bmp", L"MEMO2.PNG", L"memo.jpg"}) {
    Hosted b;
    Probe& bx = *b.ax;
    EXPECT_EQ(-1, bx.LoadFromFile(zqtest::Join(dir, name), 0, 0, 0)) << zqtest::Narrow(name);
    const auto loaded = Pixels(bx.DrawBitmap());
    ASSERT_EQ(drawn.size(), loaded.size());
    if (std::wstring(name) != L"memo.jpg") {
      EXPECT_EQ(drawn, loaded) << zqtest::Narrow(name) << ": the very pixels";
    } else {
      double diff = 0;
      for (std::size_t i = 0; i < drawn.size(); ++i) diff += std::abs(int(drawn[i]) - int(loaded[i]));
      EXPECT_LT(diff / drawn.size(), 4.0) << "within JPEG's loss";
    }
    EXPECT_EQ(kToolPen, bx.CurrentTool);
    EXPECT_TRUE(bx.HasBackground) << "a placed image is on the background too";
  }
  // Names this system does not take, folders that are not there.
  EXPECT_EQ(1, ax.LoadFromFile(zqtest::Join(dir, L"absent.gif"), 0, 0, 0)) << "not opened: 1, not 0";
  EXPECT_EQ(1, ax.SaveToFile(zqtest::Join(dir, L"x.gif")));
  EXPECT_EQ(1, ax.SaveToFile(L"  \t "));
  EXPECT_EQ(0, ax.SaveToFile(L"bare.png")) << "no folder";
  EXPECT_EQ(0, ax.SaveToFile(zqtest::Join(dir, L"missing\\x.png")));
  EXPECT_EQ(0, ax.LoadFromFile(zqtest::Join(dir, L"absent.png"), 0, 0, 0));
  EXPECT_EQ(drawn, Pixels(ax.DrawBitmap())) << "nothing of that changed the drawing";

  // A small image with its top-left at (10, 20); a large one at full size, clipped.
  fw::Bitmap small, large;
  Fill(small, 40, 30, 0x0000FF);
  Paint(large, 900, 500);
  const std::wstring smallPng = Write(dir, L"small.png", small), largeBmp = Write(dir, L"large.bmp", large);
  zqtest::ScriptedDialogs noQuestions;  // fails the test if anything asks
  fw::SetDialogService(&noQuestions);
  EXPECT_EQ(-1, ax.LoadFromFile(smallPng, 0, 10, 20));
  EXPECT_EQ(0x0000FFu, At(ax.DrawBitmap(), 10, 20));
  EXPECT_EQ(0x0000FFu, At(ax.DrawBitmap(), 49, 49));
  EXPECT_NE(0x0000FFu, At(ax.DrawBitmap(), 9, 20));
  EXPECT_NE(0x0000FFu, At(ax.DrawBitmap(), 50, 50));
  EXPECT_EQ(-1, ax.LoadFromFile(largeBmp, 0, 0, 0));
  EXPECT_EQ(557, ax.DrawBitmap().Width()) << "the area keeps its size";
  EXPECT_EQ(At(large, 556, 352), At(ax.DrawBitmap(), 556, 352)) << "placed at full size";
  fw::SetDialogService(nullptr);
}

TEST_F(ImageTest, SavesAreAllOrNothingAndHostileFilesAreRefusedFromTheirHeaders) {
  const std::wstring dir = Folder();
  Hosted a;
  Probe& ax = *a.ax;
  Paint(ax.DrawBitmap(), 557, 353);
  const std::wstring kept = zqtest::Join(dir, L"kept.png");
  ASSERT_EQ(-1, ax.SaveToFile(kept));
  const auto before = zqtest::ReadBytes(kept);
  // The write fails (another program holds the file open, so it may not be replaced): the
  // old file stays, and nothing else is left. (A read-only file would do on Windows; Wine
  // replaces it.)
  {
    HANDLE open = CreateFileW(kept.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, open);
    Fill(ax.DrawBitmap(), 557, 353, 0x00FF00);
    EXPECT_EQ(0, ax.SaveToFile(kept));
    CloseHandle(open);
  }
  EXPECT_EQ(before, zqtest::ReadBytes(kept));
  EXPECT_EQ(std::vector<std::wstring>{L"kept.png"}, zqtest::ListFiles(dir, L"*")) << "no stray file";
  // The encoder fails (an empty drawing has no PNG): no file is written, the old one stays.
  Hosted tiny(52, 53);
  ASSERT_TRUE(tiny.ax->DrawBitmap().Empty());
  EXPECT_EQ(0, tiny.ax->SaveToFile(kept));
  EXPECT_EQ(before, zqtest::ReadBytes(kept));
  // Headers claiming pictures far beyond the limit: refused before anything is decoded.
  auto writeRaw = [&](const wchar_t* name, const std::string& bytes) {
    const std::wstring path = zqtest::Join(dir, name);
    EXPECT_TRUE(zq::fw::ReplaceFileContents(path, bytes));
    return path;
  };
  std::string bmp(54, '\0');
  bmp[0] = 'B', bmp[1] = 'M', bmp[14] = 40, bmp[26] = 1, bmp[28] = 24;
  const std::int32_t side = 30000;
  std::memcpy(&bmp[18], &side, 4);
  std::memcpy(&bmp[22], &side, 4);
  const auto pixels = Pixels(ax.DrawBitmap());
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(0, ax.LoadFromFile(writeRaw(L"huge.bmp", bmp), 0, 0, 0));
  EXPECT_EQ(0, ax.LoadFromFile(writeRaw(L"huge.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\x01\x86\xa0\0\x01\x86\xa0"
                                                                  "\x08\x02\0\0\0",
                                                                  33)),
                               0, 0, 0));
  EXPECT_EQ(0, ax.LoadFromFile(writeRaw(L"noise.jpg", std::string(5000, '\xFF')), 0, 0, 0));
  EXPECT_LT(GetTickCount64() - start, 2000u);
  EXPECT_EQ(pixels, Pixels(ax.DrawBitmap()));
}

// Every file of the BMP corpus through the real control: a readable one is placed as it is,
// a damaged one gives 0 and leaves the drawing as it was. (The one whose pixel offset points
// past its end used to end the host process inside the platform's image loader.)
TEST_F(ImageTest, DamagedBmpFilesAreRefusedAndLeaveTheDrawingAsItWas) {
  Hosted h;
  Probe& ax = *h.ax;
  Paint(ax.DrawBitmap(), 557, 353);
  const auto drawn = Pixels(ax.DrawBitmap());
  for (const zqtest::BmpCase& c : zqtest::BmpCorpus()) {
    SCOPED_TRACE(c.name);
    if (!c.readable) {
      EXPECT_EQ(0, ax.LoadFromFile(c.path, 0, 0, 0));
      EXPECT_EQ(drawn, Pixels(ax.DrawBitmap())) << "the drawing changed";
      continue;
    }
    ASSERT_EQ(-1, ax.LoadFromFile(c.path, 0, 0, 0));
    const Bgr24View v = ax.DrawBitmap().View();
    std::vector<std::uint8_t> placed;
    for (int y = 0; y < c.height; ++y) placed.insert(placed.end(), v.Row(y), v.Row(y) + c.width * 3);
    EXPECT_EQ(c.pixels, placed) << "placed at (0, 0) as the file holds it";
    Paint(ax.DrawBitmap(), 557, 353);
  }
}

TEST_F(ImageTest, ImagesLargerThanTheAreaAreShrunkWhenTheUserSaysYes) {
  const std::wstring dir = Folder();
  Hosted h(452, 453);  // a 400 x 400 drawing area
  Probe& ax = *h.ax;
  ASSERT_EQ(400, ax.Get_DrawAreaWidth());
  ASSERT_EQ(400, ax.Get_DrawAreaHeight());
  struct Case {
    int w, h, code, shrunkW, shrunkH;
  };
  for (const Case& c : {Case{1000, 500, 7, 400, 200}, Case{1000, 300, 6, 400, 120}, Case{500, 1000, 3, 200, 400},
                        Case{400, 400, 0, 400, 400}, Case{500, 400, 6, 400, 320}}) {
    SCOPED_TRACE(testing::Message() << c.w << " x " << c.h);
    fw::Bitmap image;
    Paint(image, c.w, c.h);
    EXPECT_EQ(c.code, ax.ClassifyImageSize(image));
    const std::wstring path = Write(dir, L"big.png", image);
    zqtest::AnsweredDialogs boxes({IDYES});
    ASSERT_EQ(-1, ax.LoadFromFile(path, 1, 0, 0));
    EXPECT_EQ(c.shrunkW, ax.FPasteBmp->Width());
    EXPECT_EQ(c.shrunkH, ax.FPasteBmp->Height());
    if (c.code) EXPECT_EQ(std::vector<std::wstring>{kShrinkQuestion}, boxes.boxTexts);
    else EXPECT_TRUE(boxes.boxTexts.empty()) << "an image that fits is not asked about";
    EXPECT_EQ(kToolPlacement, ax.CurrentTool);
    ax.PasteImage(0, 0, 2);  // given up
  }
  // No: the image waits at its full size.
  fw::Bitmap wide;
  Paint(wide, 1000, 500);
  const std::wstring path = Write(dir, L"wide.png", wide);
  zqtest::AnsweredDialogs boxes({IDNO});
  ASSERT_EQ(-1, ax.LoadFromFile(path, 1, 0, 0));
  EXPECT_EQ(1000, ax.FPasteBmp->Width());
  ax.PasteImage(0, 0, 2);
}

TEST_F(ImageTest, ThePlacementRectangleFollowsTheMouseAndTheKeysPlaceOrCancel) {
  const std::wstring dir = Folder();
  Hosted h;
  Probe& ax = *h.ax;
  fw::Bitmap red;
  Fill(red, 40, 30, 0x0000FF);
  const std::wstring path = Write(dir, L"red.png", red);
  zqtest::ScriptedDialogs dialogs;
  fw::SetDialogService(&dialogs);
  auto redAt = [&](int left, int top) {
    return At(ax.DrawBitmap(), left, top) == 0x0000FFu && At(ax.DrawBitmap(), left + 39, top + 29) == 0x0000FFu &&
           At(ax.DrawBitmap(), left - 1, top) != 0x0000FFu && At(ax.DrawBitmap(), left + 40, top + 30) != 0x0000FFu;
  };
  // Escape gives up: nothing placed, no undo step, the pen again; the drawing as before.
  const auto blank = Pixels(ax.DrawBitmap());
  ASSERT_EQ(-1, ax.LoadFromFile(path, 1, 0, 0));
  ASSERT_TRUE(zqtest::PumpUntil([&] { return !ax.Timer.Enabled(); }));
  const int snapshots = ax.SnapshotCount();
  for (int x = 60; x <= 300; x += 40) zqtest::MouseMoveTo(h.panel(), x, x / 2 + 40);
  zqtest::Pump();
  EXPECT_EQ((DragPoint{300, 190}), ax.DragLast) << "the rectangle follows the pointer";
  ax.sbtnUndoClick(ax.sbtnUndo);
  EXPECT_EQ(kToolPlacement, ax.CurrentTool) << "undo does nothing while an image waits";
  zqtest::PressKey(VK_ESCAPE);
  zqtest::Pump();
  EXPECT_EQ(kToolPen, ax.CurrentTool);
  EXPECT_EQ(blank, Pixels(ax.DrawBitmap())) << "no rectangle left";
  zqtest::PumpUntil([] { return false; }, 150);
  EXPECT_EQ(snapshots, ax.SnapshotCount());
  // A click asks and places the image centred on it; nothing of the rectangle is left.
  ASSERT_EQ(-1, ax.LoadFromFile(path, 1, 0, 0));
  dialogs.messageAnswers = {fw::MsgResult::Ok};
  zqtest::MouseMoveTo(h.panel(), 150, 100);
  zqtest::Click(h.panel(), 200, 150);
  zqtest::Pump();
  ASSERT_FALSE(dialogs.messages.empty());
  EXPECT_EQ(kPasteQuestion, dialogs.messages.back().text);
  auto expected = blank;
  const int w = ax.DrawBitmap().Width();
  for (int y = 135; y < 165; ++y)
    for (int x = 180; x < 220; ++x) std::memcpy(&expected[(std::size_t(y) * w + x) * 3], "\x00\x00\xFF", 3);
  EXPECT_EQ(expected, Pixels(ax.DrawBitmap())) << "the image where it was clicked, nothing of the rectangle";
  EXPECT_EQ(kToolPen, ax.CurrentTool);
  // Enter places where the rectangle is; Shift+Enter at the top-left corner.
  ASSERT_EQ(-1, ax.LoadFromFile(path, 1, 0, 0));
  zqtest::MouseMoveTo(h.panel(), 300, 250);
  zqtest::Pump();
  dialogs.messageAnswers = {fw::MsgResult::Ok};
  zqtest::PressKey(VK_RETURN);
  zqtest::Pump();
  EXPECT_TRUE(redAt(280, 235));
  ASSERT_EQ(-1, ax.LoadFromFile(path, 1, 0, 0));
  zqtest::MouseMoveTo(h.panel(), 400, 300);
  dialogs.messageAnswers = {fw::MsgResult::Ok};
  zqtest::KeyDown(VK_SHIFT);
  zqtest::PressKey(VK_RETURN);
  zqtest::KeyUp(VK_SHIFT);
  zqtest::Pump();
  EXPECT_TRUE(redAt(0, 0));
  EXPECT_FALSE(redAt(380, 285)) << "not where the rectangle was";
  // A picture put while the image waits, as an object or as PNG text: the rectangle starts
  // again at its top-left corner, and giving up leaves exactly the picture.
  fw::Bitmap picture;
  Paint(picture, 300, 200);
  const auto putWhileWaiting = [&](const std::function<void()>& put) {
    ASSERT_EQ(-1, ax.LoadFromFile(path, 1, 0, 0));
    zqtest::MouseMoveTo(h.panel(), 200, 150);
    zqtest::Pump();
    put();
    EXPECT_EQ((DragPoint{20, 15}), ax.DragLast);
    ax.PasteImage(0, 0, 2);
    EXPECT_EQ(Pixels(picture), Pixels(ax.DrawBitmap()));
  };
  putWhileWaiting([&] {
    HBITMAP copy = static_cast<HBITMAP>(CopyImage(picture.Handle(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ax.Set_Picture(zqtest::PictureOf(copy).get());
    DeleteObject(copy);
  });
  const std::string text = zqtest::Narrow(ax.Get_PngImageBase64().str());
  putWhileWaiting([&] { ax.Set_PngImageBase64(std::wstring(text.begin(), text.end())); });
  fw::SetDialogService(nullptr);
}

TEST_F(ImageTest, ClearAsksAndClearsTheDrawingAndOnRequestTheBackground) {
  const std::wstring dir = Folder();
  Hosted h;
  Probe& ax = *h.ax;
  ax.FTabletReady = true;  // a machine with a tablet: input must be on after every Clear
  // Clicks Clear, answers its questions and returns what they said.
  auto clickClear = [&](std::deque<int> answers) {
    zqtest::AnsweredDialogs boxes(std::move(answers));
    zqtest::Click(ax.pnlTool->Handle(), ax.sbtnClr->Left() + 16, ax.sbtnClr->Top() + 16);
    zqtest::PumpUntil([&] { return boxes.boxAnswers.empty(); });
    zqtest::Pump();
    EXPECT_EQ(1, ax.ZanTCtl->InputEnabled()) << "tablet input on afterwards";
    return boxes.boxTexts;
  };
  zqtest::Drag(h.panel(), {40, 40}, {{300, 200}});
  ASSERT_TRUE(zqtest::PumpUntil([&] { return !ax.Timer.Enabled(); }));
  const auto drawn = Pixels(ax.DrawBitmap());
  const int snapshots = ax.SnapshotCount();
  EXPECT_EQ(std::vector<std::wstring>{kClearQuestion}, clickClear({IDNO}));
  EXPECT_EQ(drawn, Pixels(ax.DrawBitmap())) << "No changes nothing";
  EXPECT_EQ(snapshots, ax.SnapshotCount());
  clickClear({IDYES});
  EXPECT_EQ(std::vector<std::uint8_t>(drawn.size(), 255), Pixels(ax.DrawBitmap())) << "white, the panel's size";
  ax.sbtnUndoClick(ax.sbtnUndo);
  EXPECT_EQ(drawn, Pixels(ax.DrawBitmap())) << "undo brings the drawing back";

  // With a background image placed and drawn over.
  fw::Bitmap photo;
  Paint(photo, 557, 353);
  ASSERT_EQ(-1, ax.LoadFromFile(Write(dir, L"photo.bmp", photo), 0, 0, 0));
  ASSERT_TRUE(ax.HasBackground);
  zqtest::Drag(h.panel(), {40, 300}, {{300, 100}});
  ASSERT_TRUE(zqtest::PumpUntil([&] { return !ax.Timer.Enabled(); }));
  const auto overPhoto = Pixels(ax.DrawBitmap());
  EXPECT_EQ((std::vector<std::wstring>{kClearQuestion, kClearBackgroundQuestion}), clickClear({IDYES, IDNO}));
  EXPECT_EQ(Pixels(photo), Pixels(ax.DrawBitmap())) << "the background alone";
  EXPECT_TRUE(ax.HasBackground);
  ax.sbtnUndoClick(ax.sbtnUndo);
  EXPECT_EQ(overPhoto, Pixels(ax.DrawBitmap())) << "undo: the picture from before";
  clickClear({IDYES, IDYES});
  EXPECT_EQ(std::vector<std::uint8_t>(drawn.size(), 255), Pixels(ax.DrawBitmap()));
  EXPECT_EQ(std::vector<std::uint8_t>(drawn.size(), 255), Pixels(ax.TextureBitmap())) << "both layers white";
  EXPECT_FALSE(ax.HasBackground);
  ax.sbtnUndoClick(ax.sbtnUndo);
  EXPECT_EQ(overPhoto, Pixels(ax.DrawBitmap())) << "undo restores both layers";
  EXPECT_EQ(Pixels(photo), Pixels(ax.TextureBitmap()));
  EXPECT_TRUE(ax.HasBackground);
  ax.FTabletReady = false;
}

// The process's address space: the private memory committed (from its own map, VirtualQuery)
// and the largest block a further allocation can still have (found by reserving and releasing
// blocks, to a MiB; at most 4 GiB looked for). The same on Windows and under Wine, where the
// map shows Wine's reserved areas as reserved although allocations are placed in them, and the
// process counters of an emulated 32-bit process would describe the emulator.
struct AddressSpace {
  std::uint64_t privateBytes = 0, largestBlock = 0, end = 0;
};
AddressSpace Measure() {
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  AddressSpace a;
  a.end = reinterpret_cast<std::uintptr_t>(si.lpMaximumApplicationAddress) + 1;
  const char* p = static_cast<const char*>(si.lpMinimumApplicationAddress);
  MEMORY_BASIC_INFORMATION m;
  while (p < si.lpMaximumApplicationAddress && VirtualQuery(p, &m, sizeof m) == sizeof m) {
    if (m.State == MEM_COMMIT && m.Type == MEM_PRIVATE) a.privateBytes += m.RegionSize;
    p = static_cast<const char*>(m.BaseAddress) + m.RegionSize;
  }
  std::uint64_t fits = 0, fails = (std::min<std::uint64_t>(a.end, 4ull << 30) >> 20) + 1;  // in MiB
  while (fails - fits > 1) {
    const std::uint64_t mid = (fits + fails) / 2;
    if (void* block = VirtualAlloc(nullptr, static_cast<SIZE_T>(mid << 20), MEM_RESERVE, PAGE_NOACCESS)) {
      VirtualFree(block, 0, MEM_RELEASE);
      fits = mid;
    } else {
      fails = mid;
    }
  }
  a.largestBlock = fits << 20;
  return a;
}
std::string MiB(std::uint64_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

// A 24-bit BMP of w x h written a row at a time (a gradient), without the whole image in memory.
bool WriteLargeBmp(const std::wstring& path, int w, int h) {
  const std::size_t stride = Bgr24Stride(w);
  BITMAPFILEHEADER fh{};
  BITMAPINFOHEADER ih{};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof fh + sizeof ih;
  fh.bfSize = static_cast<DWORD>(fh.bfOffBits + stride * h);
  ih.biSize = sizeof ih;
  ih.biWidth = w;
  ih.biHeight = h;
  ih.biPlanes = 1;
  ih.biBitCount = 24;
  const HANDLE raw = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (raw == INVALID_HANDLE_VALUE) return false;
  const fw::OwnedHandle<HANDLE, &CloseHandle> f(raw);
  DWORD done = 0;
  bool ok = WriteFile(f.get(), &fh, sizeof fh, &done, nullptr) && WriteFile(f.get(), &ih, sizeof ih, &done, nullptr);
  std::vector<std::uint8_t> row(stride);
  for (int y = 0; ok && y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      row[3 * x] = static_cast<std::uint8_t>(x);
      row[3 * x + 1] = static_cast<std::uint8_t>(y);
      row[3 * x + 2] = static_cast<std::uint8_t>(x + y);
    }
    ok = WriteFile(f.get(), row.data(), static_cast<DWORD>(stride), &done, nullptr) && done == stride;
  }
  return ok;
}

// The largest drawing (16 Mi pixels: two layers and four history bitmaps of 48 MiB) full of
// noise (the largest PNG), the largest image a file may hold (50 Mi pixels, 150 MiB) waiting
// to be placed, and the drawing read as PngImageBase64 while it waits: all of it at once must
// fit in the 2 GB of a 32-bit host process, and leave room to read the drawing again.
TEST_F(ImageTest, TheLargestDrawingAndImageFitTogetherInA32BitProcess) {
  const std::wstring dir = Folder();
  const std::wstring path = zqtest::Join(dir, L"50 Mi pixels.bmp");
  ASSERT_TRUE(WriteLargeBmp(path, 8192, 6400));
  const AddressSpace start = Measure();
  Hosted h;
  Probe& ax = *h.ax;
  ax.Set_DrawAreaAlign(1);
  ax.Set_DrawAreaWidth(4096);
  ax.Set_DrawAreaHeight(4096);
  ASSERT_EQ(4096, ax.DrawBitmap().Width());
  ASSERT_EQ(4096, ax.DrawBitmap().Height());
  const Bgr24View v = ax.DrawBitmap().View();
  std::uint32_t seed = 12345;
  for (int y = 0; y < v.height; ++y)
    for (std::uint8_t *p = v.Row(y), *e = p + std::size_t(v.width) * 3; p < e; ++p)
      *p = static_cast<std::uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
  const AddressSpace drawing = Measure();
  {
    zqtest::AnsweredDialogs boxes({IDNO});  // not shrunk: it waits at its full size
    ASSERT_EQ(-1, ax.LoadFromFile(path, 1, 0, 0));
  }
  ASSERT_EQ(8192, ax.FPasteBmp->Width());
  ASSERT_EQ(6400, ax.FPasteBmp->Height());
  const AddressSpace waiting = Measure();
  std::size_t length = 0;
  AddressSpace read;
  {
    const fw::BStr text = ax.Get_PngImageBase64();
    length = SysStringLen(text.get());
    read = Measure();
  }
  EXPECT_GT(length, (48u << 20) / 3 * 4) << "noise does not compress";
  const fw::BStr again = ax.Get_PngImageBase64();
  EXPECT_EQ(length, SysStringLen(again.get())) << "read again once the first text is freed";
  if (sizeof(void*) == 4) {
    EXPECT_LE(read.end, 0x80000000u) << "the test runs as a host without /LARGEADDRESSAWARE";
  }
  const std::string figures = "private " + MiB(start.privateBytes) + " -> drawing " + MiB(drawing.privateBytes) +
                              " -> image waiting " + MiB(waiting.privateBytes) + " -> text held " +
                              MiB(read.privateBytes) + "; largest block left " + MiB(start.largestBlock) + " -> " +
                              MiB(drawing.largestBlock) + " -> " + MiB(waiting.largestBlock) + " -> " +
                              MiB(read.largestBlock) + ", of " + MiB(read.end) + "; text " + std::to_string(length) +
                              " characters";
  std::printf("address space: %s\n", figures.c_str());
  RecordProperty("address_space", figures);
  ax.PasteImage(0, 0, 2);
}

}  // namespace
