/* ZANPngUt.dll: PNG conversion library of the memo control.
 *
 * Three standard-call functions, exported under these undecorated names:
 *
 *   ZanPng_Bitmap2Png(bitmap, buffer)
 *     Encodes the bitmap as a standard PNG: 8 bits per sample, RGB, not interlaced. Any
 *     bitmap handle is accepted (DIB sections either way up, device-dependent bitmaps of
 *     any depth); its pixels are read through GetDIBits about 1 MiB at a time, so no copy
 *     of the whole picture is made. Windows documents that the bitmap should not be
 *     selected into a device context meanwhile. Returns 1 and fills the record with the
 *     PNG bytes, or returns 0 and leaves the record empty. Call ZanPng_FreePng with the
 *     same record afterwards in either case.
 *
 *   ZanPng_FreePng(buffer)
 *     Releases the bytes of a record that ZanPng_Bitmap2Png filled and empties it. Calling
 *     it again, or with a record the library did not fill, does nothing. Returns 1 when it
 *     released bytes, else 0.
 *
 *   ZanPng_Png2Bitmap(data, size, bitmap)
 *     Decodes any standard PNG (every colour type and bit depth, palettes, tRNS, 16-bit
 *     samples, interlacing) into a new bottom-up 24-bit device-independent section of the
 *     image's size, which the caller owns and deletes with DeleteObject. Samples of 16 bits
 *     are rounded to 8; transparent pixels are composited onto white; gamma and background
 *     chunks are not applied. Returns 1 and stores the handle, or returns 0 and stores NULL:
 *     for data that is not PNG, is corrupt (a bad CRC on a critical chunk, a broken zlib
 *     stream) or ends early, and for images beyond the limits below.
 */
#ifndef ZANPNGUT_H
#define ZANPNGUT_H

#include <windows.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Largest image the library decodes: each side at most ZANPNG_MAX_SIDE pixels and at most
 * ZANPNG_MAX_PIXELS pixels in all (a 150 MiB bitmap: a 50-megapixel photo). Larger ones are
 * refused before any pixel memory is allocated. The bitmaps it encodes are at most
 * ZANPNG_MAX_SIDE a side and ZANPNG_MAX_ENCODE_PIXELS in all (a drawing: 48 MiB). */
#define ZANPNG_MAX_SIDE 32767
#define ZANPNG_MAX_PIXELS (50 * 1024 * 1024)
#define ZANPNG_MAX_ENCODE_PIXELS (16 * 1024 * 1024)

/* The buffer record. The caller provides it; the library fills it. On 32-bit Windows it is
 * exactly 20 bytes and its first two 32-bit fields are the address of the PNG bytes and
 * their count; on 64-bit Windows it has the natural layout of the same fields (24 bytes).
 * Reserved belongs to the library: Reserved[0] marks a record the library filled. */
typedef struct ZANPNG_BUFFER {
  void* Data;
  uint32_t Size;
  uint32_t Reserved[3];
} ZANPNG_BUFFER;

#define ZANPNG_RECORD_TAG 0x474E505Au /* "ZPNG" */

int WINAPI ZanPng_Bitmap2Png(HBITMAP bitmap, ZANPNG_BUFFER* buffer);
int WINAPI ZanPng_FreePng(ZANPNG_BUFFER* buffer);
int WINAPI ZanPng_Png2Bitmap(const void* data, uint32_t size, HBITMAP* bitmap);

typedef int(WINAPI* ZanPng_Bitmap2Png_t)(HBITMAP, ZANPNG_BUFFER*);
typedef int(WINAPI* ZanPng_FreePng_t)(ZANPNG_BUFFER*);
typedef int(WINAPI* ZanPng_Png2Bitmap_t)(const void*, uint32_t, HBITMAP*);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#ifdef _WIN64
static_assert(sizeof(ZANPNG_BUFFER) == 24, "ZANPNG_BUFFER layout");
#else
static_assert(sizeof(ZANPNG_BUFFER) == 20, "ZANPNG_BUFFER layout");
#endif
static_assert(offsetof(ZANPNG_BUFFER, Size) == sizeof(void*), "ZANPNG_BUFFER layout");
#endif

#endif /* ZANPNGUT_H */
