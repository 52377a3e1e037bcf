// The bucket fill of a whole 1920 x 1080 white drawing, through the control (canvas lock,
// the surface fill on the drawing bitmap's pixels, the screen told), against a plain fill of
// the same area with a solid brush on the same canvas (GDI's FillRect), in the same run.
//
//   fill_bench.exe <ZanQuilmo4.ocx>    (the companions lie beside it)
#include <windows.h>

#include <cstdio>

#include "BenchControl.h"
#include "BenchSupport.h"

namespace {

constexpr int kW = 1920, kH = 1080;

class Bucket : public zq::TZanQuilmoAx4 {
 public:
  using TZanQuilmoAx4::TZanQuilmoAx4;
  using TZanQuilmoAx4::BucketFill;
  using TZanQuilmoAx4::DrawBitmap;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: fill_bench <ZanQuilmo4.ocx>\n");
    return 2;
  }
  bench::BenchControl<Bucket> made;
  bench::MakeControl(made, argv[1], 800, 600, kW, kH);
  if (!made.ax) return 1;
  Bucket* ax = made.ax.get();
  zq::fw::Canvas& canvas = ax->DrawBitmap().GetCanvas();
  // Every fill turns the whole drawing from one colour to the other, so each covers it all.
  zq::fw::Color colour = 0xFFFFFF;
  const double bucket = bench::Best([&] {
    colour = colour == 0xFFFFFF ? 0x3060C0 : 0xFFFFFF;
    ax->PenColor = colour;
    ax->BucketFill(kW / 2, kH / 2);
  });
  const double plain = bench::Best([&] {
    colour = colour == 0xFFFFFF ? 0x3060C0 : 0xFFFFFF;
    zq::fw::CanvasLock lock(canvas);
    canvas.Brush() = {zq::fw::BrushStyle::Solid, colour};
    canvas.FillRect(RECT{0, 0, kW, kH});
    GdiFlush();
  });
  std::printf("bucket fill of a whole %d x %d drawing\n", kW, kH);
  std::printf("%-28s %10s %10s\n", "", "ms", "ratio");
  std::printf("%-28s %10.2f %10s\n", "plain fill (FillRect)", plain * 1e3, "1.00");
  std::printf("%-28s %10.2f %10.2f\n", "BucketFill", bucket * 1e3, bucket / plain);
  return 0;
}
