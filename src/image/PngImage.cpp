// TZanQuilmoAx4: the PngImageBase64 property, the drawing layer as Base64 text of its PNG
// encoding. Both directions report a failure to the host as an Automation error with a
// description instead of a message box (hosts read and write this property unattended, in a
// property bag's save and load too). A text that holds no PNG changes nothing at all.
#include <algorithm>

#include "PngBridge.h"
#include "Scope.h"
#include "ZanQuilmoImpl.h"

namespace zq {

const wchar_t kImageGetError[] = L"イメージデータ取得中にエラーが発生しました。";
const wchar_t kImageSetError[] = L"イメージデータ設定中にエラーが発生しました。";
const wchar_t kNotPngText[] = L"PngImageBase64 の値は PNG 画像の Base64 テキストではありません。";
const wchar_t kTextTooLong[] = L"PngImageBase64 の値が長すぎます (128 Mi 文字まで)。";

namespace {

// The longest text taken: the Base64 of a PNG of the largest drawing (16 Mi pixels, 48 MiB
// of pixels that do not compress at all) is about 64 Mi characters.
constexpr std::size_t kMaxTextLength = 128u << 20;

// The failure of a step as the host sees it: the property's message, and what kind of
// failure it was.
[[noreturn]] void Fail(const wchar_t* message) {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    throw fw::Error(fw::Narrow(message), E_OUTOFMEMORY);
  } catch (...) {
    throw fw::Error(fw::Narrow(message), E_FAIL);
  }
}

}  // namespace

// The text is written straight into the string the host gets.
fw::BStr TZanQuilmoAx4::Get_PngImageBase64() {
  try {
    ByteString png;
    {
      const BandsLifted clean(*this);
      fw::CanvasLock lock(imgDraw->GetCanvas());
      if (!BitmapToPng(Resources(), DrawBitmap(), png)) return {};  // an empty drawing: the empty text
    }
    const std::size_t length = EncodedBase64Length(png.size());
    if (length == 0 || length > kMaxTextLength) throw std::bad_alloc();
    fw::BStr text = fw::BStr::Attach(SysAllocStringLen(nullptr, static_cast<UINT>(length)));
    if (!text.get()) throw std::bad_alloc();
    EncodeBase64To(png, text.get());
    return text;
  } catch (...) {
    Fail(kImageGetError);
  }
}

void TZanQuilmoAx4::Set_PngImageBase64(std::wstring_view text) {
  if (text.size() > kMaxTextLength) throw fw::Error(fw::Narrow(kTextTooLong), E_INVALIDARG);
  // Decoded apart first: a text that is no PNG leaves the drawing, its area and its history
  // as they were. The empty text (older property bags hold it) decodes to nothing and, as it
  // always did, only fits the area to the drawing and starts the history anew.
  fw::Bitmap decoded;
  if (!text.empty()) {
    // Base64 is ASCII; any other character is one the decoder passes over, as it would the
    // "?" the system's code page makes of it.
    std::string ascii(text.size(), '?');
    std::transform(text.begin(), text.end(), ascii.begin(),
                   [](wchar_t c) { return c < 0x80 ? static_cast<char>(c) : '?'; });
    const ByteString png = DecodeBase64(ascii);
    bool isPng = false;
    try {
      isPng = !png.empty() && PngToBitmap(Resources(), png, decoded, kMaxImagePixels);
    } catch (...) {
      Fail(kImageSetError);
    }
    if (!isPng) throw fw::Error(fw::Narrow(kNotPngText), E_INVALIDARG);
  }
  ImageLoading = true;
  const auto done = fw::Finally([this] {
    ImageLoading = false;
    RefreshDrawImage();
  });
  try {
    if (!decoded.Empty()) {
      const BandsLifted clean(*this);
      fw::CanvasLock lock(imgDraw->GetCanvas());
      DrawBitmap().Assign(decoded);
    }
    PictureTaken(!decoded.Empty());
  } catch (...) {
    Fail(kImageSetError);
  }
  if (!decoded.Empty()) Modified();
}

}  // namespace zq
