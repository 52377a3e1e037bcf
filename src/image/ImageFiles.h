// Image files of the drawing: PNG (through ZANPngUt.dll), BMP and JPEG, chosen by the name's
// extension. Names are used as the caller gave them, through the wide file functions, so a
// folder or file name in any script works.
//
// Result codes as the control's file members report them: -1 success, 0 failure (a file
// that cannot be read or written, an image that does not decode or is too large), 1 a name
// this system does not take (an extension not in the table; for saving also a blank name).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "ConvCode.h"
#include "Graphics.h"

namespace zq {

inline constexpr int kFormatPng = 1, kFormatBmp = 2, kFormatJpeg = 3, kFormatNone = -3;

// The format of a file name by its extension: the part from the name's last "." that follows
// its last "\" or ":" (any case of ASCII letters).
int GetImageFormat(std::wstring_view name);

// An image file is read whole into memory, up to 256 MiB; its image may be up to
// kMaxLoadedImagePixels (Pixels.h).
inline constexpr std::uint64_t kMaxImageFileBytes = 256ull << 20;

// Reads the image of a PNG, BMP or JPEG file into `bitmap` (24 bits). `module` is the
// control's module, beside which ZANPngUt.dll lies. On 0 the bitmap is left as it was.
int LoadBitmapFile(HINSTANCE module, fw::Bitmap& bitmap, const std::wstring& name);

// Writes the bitmap to the file in the format of its name's extension. The name must have
// an existing folder in it. The file is complete or untouched: the image is encoded first,
// then written into a new file beside it, which replaces the old one only once every byte
// is on the disk; nothing of a failed save is left behind.
int SaveImageFile(HINSTANCE module, fw::Bitmap& bitmap, const std::wstring& name);

}  // namespace zq
