// Reading uncompressed Windows BMP files (8, 16, 24 and 32 bits per pixel)
// into engine bitmaps.
//
// 8-bit files get a palette of 32 bit XRGB entries (the colour table's
// blue, green, red, reserved bytes are exactly that format's little-endian
// layout); 16-bit pixels are 555 RGB, 24-bit BGR and 32-bit XRGB, so the
// rows are copied as they are. The bitmap's stride is the width rounded up to
// a multiple of 4 pixels, which always holds a padded file row.
#include <cstring>

#include "Bitmap/bitmap.h"
#include "Bitmap/bitmapfile.h"
#include "Bitmap/bitmapfile_internal.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"

namespace {

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;

int ReadColorTable(cvVFile* File, uint32_t Count, cvBitmap_Palette** Out) {
  cvBitmap_Palette* palette = cvBitmap_Palette_Create(CV_PIXELFORMAT_32BIT_XRGB, (int32_t)Count);
  if (!palette) return 0;
  void* entries = nullptr;
  int ok = cvBitmap_Palette_Lock(palette, &entries, nullptr, nullptr);
  if (ok) {
    ok = cvVFile_Read(File, entries, Count * 4);
    cvBitmap_Palette_UnLock(palette);
  }
  if (!ok) {
    cvBitmap_Palette_Destroy(&palette);
    return 0;
  }
  *Out = palette;
  return 1;
}

}  // namespace

namespace cvbmfile {

int ReadBmp(cvVFile* File, cvBitmap* Bitmap) {
  uint8_t header[kFileHeaderBytes + kInfoHeaderBytes];
  if (!cvVFile_Read(File, header, sizeof(header))) return CV_ERROR(-1), 0;
  const uint8_t* info = header + kFileHeaderBytes;
  const uint32_t pixelOffset = cvLE_Get32(header + 10);
  const uint32_t infoSize = cvLE_Get32(info + 0);
  const int32_t width = (int32_t)cvLE_Get32(info + 4);
  const int32_t rawHeight = (int32_t)cvLE_Get32(info + 8);
  const uint16_t bitCount = cvLE_Get16(info + 14);
  const uint32_t compression = cvLE_Get32(info + 16);
  const uint32_t colorsUsed = cvLE_Get32(info + 32);

  if (infoSize < kInfoHeaderBytes) return CV_ERROR(-1), 0;
  if (infoSize > kInfoHeaderBytes) {
    const uint64_t extra = infoSize - kInfoHeaderBytes;
    if (extra > Remaining(File) || extra > INT32_MAX ||
        !cvVFile_Seek(File, (int32_t)extra, CV_VFILE_SEEKCUR))
      return CV_ERROR(-1), 0;
  }
  if (compression != 0) return CV_ERROR(-1), 0;

  cvPixelFormat format;
  switch (bitCount) {
    case 8: format = CV_PIXELFORMAT_8BIT_PAL; break;
    case 16: format = CV_PIXELFORMAT_16BIT_555_RGB; break;
    case 24: format = CV_PIXELFORMAT_24BIT_BGR; break;
    case 32: format = CV_PIXELFORMAT_32BIT_XRGB; break;
    default: return CV_ERROR(-1), 0;
  }
  const uint32_t bpp = bitCount / 8;

  // Colour table: its entries cannot outnumber the indices of a byte.
  uint32_t tableBytes = 0;
  cvBitmap_Palette* palette = nullptr;
  if (format == CV_PIXELFORMAT_8BIT_PAL) {
    const uint32_t colors = colorsUsed ? colorsUsed : 256;
    if (colors > 256) return CV_ERROR(-1), 0;
    tableBytes = colors * 4;
    if (tableBytes > Remaining(File) || !ReadColorTable(File, colors, &palette))
      return CV_ERROR(-1), 0;
    Bitmap->System.Palette = palette;  // owned by the bitmap from here on
  }

  // The pixel data may start later than the headers end, never earlier.
  const int64_t gap = (int64_t)pixelOffset - (int64_t)kFileHeaderBytes - (int64_t)infoSize -
                      (int64_t)tableBytes;
  if (gap < 0) return CV_ERROR(-1), 0;
  if (gap > 0 && ((uint64_t)gap > Remaining(File) || gap > INT32_MAX ||
                  !cvVFile_Seek(File, (int32_t)gap, CV_VFILE_SEEKCUR)))
    return CV_ERROR(-1), 0;

  if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN) return CV_ERROR(-1), 0;
  const int32_t height = rawHeight < 0 ? -rawHeight : rawHeight;
  uint64_t stride = 0, rowBytes = 0, fileBytes = 0, levelBytes = 0;
  if (!cvSize_Add((uint64_t)width, 3, &stride) ||
      !cvSize_MulAdd((uint64_t)width, bpp, 3, &rowBytes))
    return CV_ERROR(-1), 0;
  stride &= ~3ull;
  rowBytes &= ~3ull;
  if (!cvSize_Mul(rowBytes, (uint64_t)height, &fileBytes) ||
      !cvSize_Mul3(stride, (uint64_t)height, bpp, &levelBytes) || fileBytes > Remaining(File))
    return CV_ERROR(-1), 0;

  cvBitmap_Info& sys = Bitmap->System;
  sys.Width = width;
  sys.Height = height;
  sys.Stride = (int32_t)stride;
  sys.Format = format;
  sys.MinimumMip = 0;
  sys.MaximumMip = 0;
  sys.HasColorKey = 0;
  sys.ColorKey = 0;
  Bitmap->DriverMipCount = 1;

  uint8_t* pixels = cvBitmap_AllocateMip(Bitmap, 0);
  if (!pixels) return CV_ERROR(-1), 0;
  const uint64_t bitmapRow = stride * bpp;
  for (int32_t i = 0; i < height; ++i) {
    // Positive heights store the bottom row first.
    const int32_t row = rawHeight > 0 ? height - 1 - i : i;
    if (!cvVFile_Read(File, pixels + (uint64_t)row * bitmapRow, (uint32_t)rowBytes))
      return CV_ERROR(-1), 0;
  }
  cvBitmap_SetMipValid(Bitmap, 0, 1);
  return 1;
}

}  // namespace cvbmfile
