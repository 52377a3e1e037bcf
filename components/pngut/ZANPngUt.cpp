// ZANPngUt.dll: the three exported functions over the PNG codec, with the bitmap handling.
// No exception leaves an export; every handle and buffer is owned by an RAII object until
// it is handed to the caller.
#include "ZANPngUt.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

#include "KeptBlock.h"
#include "PngCodec.h"

namespace {

static_assert(ZANPNG_MAX_SIDE == zq::kMaxImageSide && ZANPNG_MAX_PIXELS == zq::kMaxLoadedImagePixels &&
              ZANPNG_MAX_ENCODE_PIXELS == zq::kMaxImagePixels);

// The PNG bytes grow in one block on the process heap; the record hands it to the caller and
// ZanPng_FreePng gives it back.
class HeapSink final : public zanpng::Sink {
 public:
  explicit HeapSink(std::size_t initial) { Reserve(initial); }
  ~HeapSink() {
    if (data_) HeapFree(GetProcessHeap(), 0, data_);
  }
  HeapSink(const HeapSink&) = delete;
  HeapSink& operator=(const HeapSink&) = delete;

  void Write(const std::uint8_t* data, std::size_t size) override {
    if (size > capacity_ - used_) Reserve(Grown(size));
    std::memcpy(static_cast<std::uint8_t*>(data_) + used_, data, size);
    used_ += size;
  }

  void HandTo(ZANPNG_BUFFER* record) {
    record->Data = data_;
    record->Size = static_cast<uint32_t>(used_);
    data_ = nullptr;
  }

 private:
  std::size_t Grown(std::size_t more) const {
    std::size_t want = capacity_ * 2;
    if (want < used_ + more) want = used_ + more;
    return want;
  }

  void Reserve(std::size_t capacity) {
    // The record counts bytes in 32 bits.
    if (capacity > 0xFFFFFFF0u) throw std::bad_alloc();
    void* p = data_ ? HeapReAlloc(GetProcessHeap(), 0, data_, capacity)
                    : HeapAlloc(GetProcessHeap(), 0, capacity);
    if (!p) throw std::bad_alloc();
    data_ = p;
    capacity_ = capacity;
  }

  void* data_ = nullptr;
  std::size_t used_ = 0;
  std::size_t capacity_ = 0;
};

class MemoryDC {
 public:
  MemoryDC() : dc_(CreateCompatibleDC(nullptr)) {
    if (!dc_) throw zanpng::Error("CreateCompatibleDC failed");
  }
  ~MemoryDC() { DeleteDC(dc_); }
  MemoryDC(const MemoryDC&) = delete;
  MemoryDC& operator=(const MemoryDC&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

BITMAPINFO Info24(int width, int height) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  bi.bmiHeader.biCompression = BI_RGB;
  return bi;
}

// The rows of any bitmap as 24-bit pixels, read through GetDIBits a band at a time. Reading
// a 24-bit DIB section's bits in place would save a copy, but GetObject reports the height of
// top-down and bottom-up sections alike as positive, so only GetDIBits knows the order.
class BitmapBands final : public zanpng::RowSource {
 public:
  explicit BitmapBands(HBITMAP bitmap) : bitmap_(bitmap) {
    BITMAP bm{};
    if (!bitmap || GetObjectW(bitmap, sizeof bm, &bm) < static_cast<int>(sizeof bm))
      throw zanpng::Error("not a bitmap");
    width_ = bm.bmWidth;
    height_ = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
    if (!zq::ImageSizeAllowed(width_, height_)) throw zanpng::Error("bitmap size out of range");
    stride_ = zq::Bgr24Stride(width_);
    bandRows_ = static_cast<int>(std::max<std::size_t>(1, kBandBytes / stride_));
    band_.emplace(stride_ * static_cast<std::size_t>(std::min(bandRows_, height_)));
  }

  int width() const override { return width_; }
  int height() const override { return height_; }

  const std::uint8_t* Row(int y) override {
    if (y < first_ || y >= first_ + rows_) Load(y);
    // The band is bottom-up: its last buffer row is its first image row.
    return band_->bytes() + stride_ * static_cast<std::size_t>(first_ + rows_ - 1 - y);
  }

 private:
  static constexpr std::size_t kBandBytes = 1024 * 1024;

  // Reads image rows y .. y + n - 1; GetDIBits counts scan lines from the bottom.
  void Load(int y) {
    const int n = std::min(bandRows_, height_ - y);
    BITMAPINFO bi = Info24(width_, height_);
    const int start = height_ - (y + n);
    if (GetDIBits(dc_.get(), bitmap_, static_cast<UINT>(start), static_cast<UINT>(n), band_->bytes(),
                  &bi, DIB_RGB_COLORS) != n)
      throw zanpng::Error("GetDIBits failed");
    first_ = y;
    rows_ = n;
  }

  HBITMAP bitmap_;
  MemoryDC dc_;
  int width_ = 0;
  int height_ = 0;
  std::size_t stride_ = 0;
  int bandRows_ = 1;
  int first_ = 0;
  int rows_ = 0;
  std::optional<zanpng::Scratch> band_;  // kept for the next image
};

// Creates the decoded image's bitmap: a bottom-up 24-bit DIB section, deleted again unless
// the decoding succeeds and the handle is released to the caller.
class DibTarget final : public zanpng::Target {
 public:
  DibTarget() = default;
  ~DibTarget() {
    if (bitmap_) DeleteObject(bitmap_);
  }
  DibTarget(const DibTarget&) = delete;
  DibTarget& operator=(const DibTarget&) = delete;

  zanpng::Rows Allocate(int width, int height) override {
    BITMAPINFO bi = Info24(width, height);
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap_ || !bits) throw zanpng::Error("CreateDIBSection failed");
    const auto stride = static_cast<std::ptrdiff_t>(zq::Bgr24Stride(width));
    return {static_cast<std::uint8_t*>(bits) + stride * (height - 1), -stride, width, height};
  }

  HBITMAP Release() {
    HBITMAP b = bitmap_;
    bitmap_ = nullptr;
    return b;
  }

 private:
  HBITMAP bitmap_ = nullptr;
};

void EmptyRecord(ZANPNG_BUFFER* record) {
  record->Data = nullptr;
  record->Size = 0;
  record->Reserved[0] = ZANPNG_RECORD_TAG;
  record->Reserved[1] = 0;
  record->Reserved[2] = 0;
}

}  // namespace

extern "C" int WINAPI ZanPng_Bitmap2Png(HBITMAP bitmap, ZANPNG_BUFFER* buffer) {
  if (!buffer) return 0;
  EmptyRecord(buffer);
  try {
    BitmapBands source(bitmap);
    // Memo drawings compress to a few percent of their pixels; start there and grow.
    HeapSink sink(zq::Bgr24Stride(source.width()) * source.height() / 16 + 4096);
    zanpng::Encode(source, zanpng::DefaultOptions(), sink);
    sink.HandTo(buffer);
    return 1;
  } catch (...) {
    EmptyRecord(buffer);
    return 0;
  }
}

extern "C" int WINAPI ZanPng_FreePng(ZANPNG_BUFFER* buffer) {
  if (!buffer || buffer->Reserved[0] != ZANPNG_RECORD_TAG) return 0;
  void* data = buffer->Data;
  EmptyRecord(buffer);
  if (!data) return 0;
  HeapFree(GetProcessHeap(), 0, data);
  return 1;
}

extern "C" int WINAPI ZanPng_Png2Bitmap(const void* data, uint32_t size, HBITMAP* bitmap) {
  if (!bitmap) return 0;
  *bitmap = nullptr;
  try {
    DibTarget target;
    zanpng::Decode(static_cast<const std::uint8_t*>(data), size, target);
    *bitmap = target.Release();
    return 1;
  } catch (...) {
    return 0;
  }
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
