// The drawing as PNG bytes and back, through the PNG conversion library ZANPngUt.dll
// (contract: components/pngut/ZANPngUt.h), which is installed beside the control's module
// and loaded from there, by its full path, on first use.
#pragma once

#include <windows.h>

#include <string_view>

#include "ConvCode.h"
#include "Graphics.h"

namespace zq {

// The bitmap's PNG encoding in `out`: exactly the bytes the library made, copied once.
// False, with `out` left as it was, when the library refuses the bitmap (an empty one, say).
// `module` names the folder the library lies in. Throws fw::Error when the library cannot be
// loaded, std::bad_alloc without memory; the library's buffer is released on every path.
bool BitmapToPng(HINSTANCE module, fw::Bitmap& bitmap, ByteString& out);

// Decodes PNG bytes into `target`, which takes the image's size and pixels (24 bits). False,
// with `target` unchanged, for bytes that are no PNG the library takes (corrupt, cut short)
// and for a picture of more than `maxPixels` pixels, which is refused from its header before
// anything is decoded. Throws as BitmapToPng.
bool PngToBitmap(HINSTANCE module, std::string_view bytes, fw::Bitmap& target, std::int64_t maxPixels);

}  // namespace zq
