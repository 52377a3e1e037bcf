// Shrinking a 6000 x 4000 photo to a 1920 x 1280 drawing by area averaging (ResampleBitmap),
// against a copy of the same bytes, in the same run.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "BenchSupport.h"
#include "Resample.h"

int main() {
  constexpr int kW = 6000, kH = 4000, kDw = 1920, kDh = 1280;
  bench::Picture photo(kW, kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      std::uint8_t* p = photo.At(x, y);
      p[0] = static_cast<std::uint8_t>(x * 3 + y);
      p[1] = static_cast<std::uint8_t>(x ^ y);
      p[2] = static_cast<std::uint8_t>(y * 5);
    }
  bench::Picture drawing(kDw, kDh);
  const zq::Bgr24View src{photo.bgr.data(), static_cast<std::ptrdiff_t>(photo.stride), kW, kH};
  const zq::Bgr24View dst{drawing.bgr.data(), static_cast<std::ptrdiff_t>(drawing.stride), kDw, kDh};
  std::vector<std::uint8_t> copy(photo.bgr.size());
  const double tCopy = bench::Best([&] { std::memcpy(copy.data(), photo.bgr.data(), copy.size()); });
  const double tResample = bench::Best([&] { zq::ResampleBitmap(src, dst); }, 3);
  std::printf("ResampleBitmap %dx%d -> %dx%d (%zu MiB read)\n", kW, kH, kDw, kDh, photo.bgr.size() >> 20);
  std::printf("  copy of the photo's bytes (baseline) %8.2f ms\n", tCopy * 1e3);
  std::printf("  ResampleBitmap                       %8.2f ms  (%.1f x the copy)\n", tResample * 1e3, tResample / tCopy);
  return 0;
}
