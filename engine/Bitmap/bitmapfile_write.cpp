// Writing bitmaps in the engine format ("CvBm").
//
// The size takes the shortest encoding that holds it: one byte when both
// sides are powers of two, two bytes when both are below 256, else two
// 16-bit words. Levels are written packed (no stride padding).
#include <cstring>

#include "Bitmap/bitmap.h"
#include "Bitmap/bitmapfile.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"

namespace {

// log2 of V when V is a power of two that fits the 4-bit size field, else -1.
int32_t Log2Nibble(int32_t V) {
  for (int32_t n = 0; n < 16; ++n)
    if (V == (1 << n)) return n;
  return -1;
}

int WritePaletteBlock(cvVFile* File, cvBitmap_Palette* Palette) {
  void* entries = nullptr;
  cvPixelFormat format = 0;
  int32_t size = 0;
  if (!cvBitmap_Palette_Lock(Palette, &entries, &format, &size)) return 0;
  const int32_t bpp = cvPixelFormat_BytesPerPixel(format);
  int ok = entries && size >= 1 && size <= 256 && bpp > 0 && format < 0x20;
  if (ok) {
    if (size == 256) {
      ok = cvVFile_WriteU8(File, (uint8_t)(format | CV_BITMAPFILE_PALETTE_256));
    } else {
      ok = cvVFile_WriteU8(File, (uint8_t)format) && cvVFile_WriteU8(File, (uint8_t)size);
    }
    ok = ok && cvVFile_Write(File, entries, (uint32_t)(size * bpp));
  }
  cvBitmap_Palette_UnLock(Palette);
  return ok;
}

int WriteLevels(cvVFile* File, cvBitmap* Bitmap) {
  const cvBitmap_Info& info = Bitmap->System;
  const int32_t bpp = cvPixelFormat_BytesPerPixel(info.Format);
  const int32_t top = info.MaximumMip < CV_BITMAP_MAX_MIPS ? info.MaximumMip : CV_BITMAP_MAX_MIPS - 1;
  for (int32_t m = info.MinimumMip < 0 ? 0 : info.MinimumMip; m <= top; ++m) {
    if (m != info.MinimumMip && !cvBitmap_IsMipValid(Bitmap, m)) continue;
    const uint8_t* pixels = cvBitmap_GetMipData(Bitmap, m);
    if (!pixels) continue;
    int32_t width = 0, height = 0, stride = 0;
    if (!cvBitmap_GetLevelSize(&info, m, &width, &height, &stride)) return 0;
    if (!cvVFile_WriteU8(File, (uint8_t)m)) return 0;
    const uint64_t rowBytes = (uint64_t)width * (uint64_t)bpp;
    if (stride == width) {
      if (!cvVFile_Write(File, pixels, (uint32_t)(rowBytes * (uint64_t)height))) return 0;
    } else {
      const uint64_t strideBytes = (uint64_t)stride * (uint64_t)bpp;
      for (int32_t y = 0; y < height; ++y)
        if (!cvVFile_Write(File, pixels + (uint64_t)y * strideBytes, (uint32_t)rowBytes)) return 0;
    }
  }
  return cvVFile_WriteU8(File, CV_BITMAPFILE_TAG_END);
}

int WriteBitmap(cvBitmap* Bitmap, cvVFile* File, int32_t Depth) {
  if (!Bitmap || !File || Depth > CV_BITMAPFILE_MAX_NESTING) return 0;
  // The driver's copy may hold newer pixels than the system copy.
  if (cvBitmap_IsAttached(Bitmap) && Bitmap->DriverNewer && !cvBitmap_UpdateFromDriver(Bitmap))
    return 0;
  const cvBitmap_Info& info = Bitmap->System;
  const int32_t bpp = cvPixelFormat_BytesPerPixel(info.Format);
  if (!cvPixelFormat_IsValid(info.Format) || info.Width < 0 || info.Height < 0 ||
      info.Width > 0xFFFF || info.Height > 0xFFFF || info.MaximumMip >= CV_BITMAP_MAX_MIPS)
    return 0;

  uint8_t flags = 0;
  const int32_t log2w = Log2Nibble(info.Width), log2h = Log2Nibble(info.Height);
  if (log2w >= 0 && log2h >= 0) flags |= CV_BITMAPFILE_SIZE_POW2;
  else if (info.Width < 256 && info.Height < 256) flags |= CV_BITMAPFILE_SIZE_BYTES;
  const bool key = info.HasColorKey && bpp > 0;
  if (key) flags |= CV_BITMAPFILE_COLORKEY;
  if (Bitmap->Alpha) flags |= CV_BITMAPFILE_ALPHA;
  if (info.Palette) flags |= CV_BITMAPFILE_PALETTE;

  const int32_t wanted = Bitmap->DriverMipCount < 0 ? 0 : (Bitmap->DriverMipCount > 15 ? 15 : Bitmap->DriverMipCount);
  uint8_t head[8] = {'C', 'v', 'B', 'm', 0x40, flags, (uint8_t)info.Format,
                     (uint8_t)((info.MaximumMip << 4) | wanted)};
  if (!cvVFile_Write(File, head, sizeof(head))) return 0;

  int ok = 1;
  if (flags & CV_BITMAPFILE_SIZE_POW2) {
    ok = cvVFile_WriteU8(File, (uint8_t)((log2w << 4) + log2h));
  } else if (flags & CV_BITMAPFILE_SIZE_BYTES) {
    ok = cvVFile_WriteU8(File, (uint8_t)info.Width) && cvVFile_WriteU8(File, (uint8_t)info.Height);
  } else {
    ok = cvVFile_WriteLE16(File, (uint16_t)info.Width) && cvVFile_WriteLE16(File, (uint16_t)info.Height);
  }
  if (ok && key) {
    uint8_t raw[4];
    if (bpp == 3) {
      raw[0] = (uint8_t)(info.ColorKey >> 16), raw[1] = (uint8_t)(info.ColorKey >> 8);
      raw[2] = (uint8_t)info.ColorKey;
    } else {
      cvLE_Put32(raw, info.ColorKey);
    }
    ok = cvVFile_Write(File, raw, (uint32_t)bpp);
  }
  if (ok && info.Palette) ok = WritePaletteBlock(File, info.Palette);
  if (!ok) return 0;

  if (info.Format == CV_PIXELFORMAT_WAVELET) {
    CV_ERROR(-1);  // no codec: the header is written without a mip section
  } else if (!WriteLevels(File, Bitmap)) {
    return 0;
  }
  if (Bitmap->Alpha && !WriteBitmap(Bitmap->Alpha, File, Depth + 1)) return 0;
  return 1;
}

}  // namespace

int cvBitmap_WriteToFile(cvBitmap* Bitmap, cvVFile* File) {
  if (!WriteBitmap(Bitmap, File, 0)) {
    CV_ERROR(-1);
    return 0;
  }
  return 1;
}

int cvBitmap_WriteToFileName(cvBitmap* Bitmap, cvVFile* System, const char* Name) {
  if (!Bitmap || !Name) {
    CV_ERROR(-1);
    return 0;
  }
  cvVFile* file = System ? cvVFile_Open(System, Name, CV_VFILE_OPEN_CREATE)
                         : cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, Name, nullptr,
                                                 CV_VFILE_OPEN_CREATE);
  if (!file) {
    CV_ERROR(-1);
    return 0;
  }
  const int written = cvBitmap_WriteToFile(Bitmap, file);
  const int closed = cvVFile_Close(file);
  if (written && !closed) {
    CV_ERROR(-1);
    return 0;
  }
  return written;
}
