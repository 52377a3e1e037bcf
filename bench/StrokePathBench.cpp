// The whole path of one mouse-move event of a stroke in the memo control: a WM_MOUSEMOVE
// sent to the drawing panel's window, the framework's dispatch to the drawing image, the
// control's pointer handler and stroke step (window device context, canvas locks, the
// brush's ContinueStroke through its interface) until the pixels are in the drawing bitmap
// and on the window. The baseline, in the same run: the bare component call with the same
// points, the same contexts already at hand.
//
//   stroke_path_bench.exe <ZanQuilmo4.ocx>    (the companions lie beside it)
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "BenchControl.h"
#include "BenchSupport.h"

namespace {

constexpr int kW = 1200, kH = 800;

struct Point {
  int x, y;
};

// Wavy lines across the drawing, a mouse position every 3 pixels.
std::vector<std::vector<Point>> Strokes() {
  std::vector<std::vector<Point>> strokes;
  for (int line = 60; line < kH - 40; line += 70)
    for (int x = 40; x < kW - 260; x += 240) {
      std::vector<Point> s;
      for (int t = 0; t <= 210; t += 3)
        s.push_back({x + t, line + static_cast<int>(std::lround(20 * std::sin(t * 0.05)))});
      strokes.push_back(s);
    }
  return strokes;
}

LPARAM At(Point p) { return MAKELPARAM(p.x, p.y); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: stroke_path_bench <ZanQuilmo4.ocx>\n");
    return 2;
  }
  bench::BenchControl<zq::TZanQuilmoAx4> made;
  bench::MakeControl(made, argv[1], kW + 100, kH + 100, kW, kH);
  if (!made.ax) return 1;
  zq::TZanQuilmoAx4* ax = made.ax.get();
  HWND panel = ax->pnlImg->Handle();
  const auto strokes = Strokes();
  std::size_t moves = 0;
  for (const auto& s : strokes) moves += s.size() - 1;
  auto clear = [&] { ax->FillImageWhite(*ax->imgDraw); };

  std::printf("One mouse move of a stroke in the control, %d x %d drawing, %zu moves a run.\n", kW, kH, moves);
  std::printf("Baseline: the bare ContinueStroke with the same points and contexts, in this run.\n");
  // Where the control's own part goes: the framework's dispatch of a move that starts
  // nothing (no stroke in progress), and a window device context got and released.
  const double dispatch = bench::Best(
      [&] {
        for (const auto& s : strokes)
          for (std::size_t i = 1; i < s.size(); ++i) SendMessageW(panel, WM_MOUSEMOVE, 0, At(s[i]));
      },
      3);
  const double dc = bench::Best(
      [&] {
        for (std::size_t i = 0; i < moves; ++i) ReleaseDC(panel, GetDC(panel));
      },
      3);
  const double plain = bench::Best(
      [&] {
        for (const auto& s : strokes)
          for (std::size_t i = 1; i < s.size(); ++i) SendMessageW(made.host, WM_MOUSEMOVE, 0, At(s[i]));
      },
      3);
  // The framework reads the Alt key's state for every mouse message, as Windows programs
  // do; on Windows that is a read of the thread's key state, on Wine a server round trip.
  const double keyState = bench::Best(
      [&] {
        for (std::size_t i = 0; i < moves; ++i) GetKeyState(VK_MENU);
      },
      3);
  std::printf("A move that draws nothing: %.2f us (GetKeyState alone %.2f us; a move to a window of the system's\n"
              "default procedure %.2f us). GetDC + ReleaseDC of the panel: %.2f us.\n",
              dispatch / moves * 1e6, keyState / moves * 1e6, plain / moves * 1e6, dc / moves * 1e6);
  std::printf("bare: the component call; +dc: with a window device context got and released around it, as the\n"
              "control must; path: the whole event; own: path - (+dc) - the move that draws nothing.\n");
  std::printf("%-16s %5s %9s %9s %9s %9s %9s %9s\n", "medium", "width", "bare us", "+dc us", "path us", "path/bare",
              "path/+dc", "own us");
  const char* names[] = {"oil-based ink", "crayon"};
  const int media[] = {0, 3};
  for (int mi = 0; mi < 2; ++mi) {
    for (int w : {1, 8, 32}) {
      ax->ZanPBrs->SetBrushType(static_cast<short>(media[mi]), 0, 0);
      ax->PenWidth = w;
      // Through the window: press, the moves (timed), release.
      const double path = bench::Best(
          [&] {
            clear();
            for (const auto& s : strokes) {
              SendMessageW(panel, WM_LBUTTONDOWN, MK_LBUTTON, At(s[0]));
              for (std::size_t i = 1; i < s.size(); ++i) SendMessageW(panel, WM_MOUSEMOVE, MK_LBUTTON, At(s[i]));
              SendMessageW(panel, WM_LBUTTONUP, 0, At(s.back()));
            }
            GdiFlush();
          },
          3);
      // The same strokes straight into the component.
      HDC screen = GetDC(panel);
      const double bare = bench::Best(
          [&] {
            clear();
            zq::fw::CanvasLock lock(ax->imgDraw->GetCanvas());
            HDC bitmap = ax->imgDraw->GetCanvas().Handle();
            for (const auto& s : strokes) {
              ax->ZanPBrs->BeginStroke(screen, bitmap, 4L * s[0].x, 4L * s[0].y, 0xFFFF);
              for (std::size_t i = 1; i < s.size(); ++i)
                ax->ZanPBrs->ContinueStroke(screen, bitmap, 4L * s[i].x, 4L * s[i].y, 0xFFFF, 0);
              ax->ZanPBrs->ContinueStroke(screen, bitmap, 4L * s.back().x, 4L * s.back().y, 0xFFFF, 0);
            }
            GdiFlush();
          },
          3);
      ReleaseDC(panel, screen);
      const double withDc = bench::Best(
          [&] {
            clear();
            zq::fw::CanvasLock lock(ax->imgDraw->GetCanvas());
            HDC bitmap = ax->imgDraw->GetCanvas().Handle();
            auto step = [&](auto&& call) {
              HDC dc = GetDC(panel);
              call(dc);
              ReleaseDC(panel, dc);
            };
            for (const auto& s : strokes) {
              step([&](HDC dc) { ax->ZanPBrs->BeginStroke(dc, bitmap, 4L * s[0].x, 4L * s[0].y, 0xFFFF); });
              for (std::size_t i = 1; i < s.size(); ++i)
                step([&](HDC dc) { ax->ZanPBrs->ContinueStroke(dc, bitmap, 4L * s[i].x, 4L * s[i].y, 0xFFFF, 0); });
              step([&](HDC dc) { ax->ZanPBrs->ContinueStroke(dc, bitmap, 4L * s.back().x, 4L * s.back().y, 0xFFFF, 0); });
            }
            GdiFlush();
          },
          3);
      // Every run makes a first step, the moves and a release step per stroke.
      const double calls = double(moves + 2 * strokes.size());
      const double us = 1e6 / calls;
      std::printf("%-16s %5d %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f\n", names[mi], w, bare * us, withDc * us, path * us,
                  path / bare, path / withDc, path * us - withDc * us - dispatch / moves * 1e6);
    }
  }
  // Let the history timer's snapshot go before the control does.
  ax->Timer.SetEnabled(false);
  return 0;
}
