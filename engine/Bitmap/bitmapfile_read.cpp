// Reading bitmap files: the engine format ("CvBm") and dispatch to the
// Windows BMP reader.
//
// Every count and size from the header is checked against the pixel-format
// table and against the bytes the file still holds before anything is
// allocated, so a damaged or hostile file fails cleanly.
#include <cstring>

#include "Bitmap/bitmap.h"
#include "Bitmap/bitmapfile.h"
#include "Bitmap/bitmapfile_internal.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"

namespace {

// Levels flagged as present without stored pixels are created zero-filled;
// their size is not backed by file bytes, so all of them together (alpha
// bitmaps included) may take at most this much of one read.
constexpr uint64_t kEmptyLevelBudget = 16ull * 1024 * 1024;

// Destroys a partly read bitmap unless released.
class BitmapGuard {
 public:
  explicit BitmapGuard(cvBitmap* Bitmap) : bitmap_(Bitmap) {}
  ~BitmapGuard() {
    if (bitmap_) cvBitmap_Destroy(&bitmap_);
  }
  BitmapGuard(const BitmapGuard&) = delete;
  BitmapGuard& operator=(const BitmapGuard&) = delete;
  cvBitmap* Release() {
    cvBitmap* b = bitmap_;
    bitmap_ = nullptr;
    return b;
  }

 private:
  cvBitmap* bitmap_;
};

int ReadRawPixel(cvVFile* File, int32_t Bytes, uint32_t* Value) {
  uint8_t b[4] = {0, 0, 0, 0};
  if (Bytes < 1 || Bytes > 4 || !cvVFile_Read(File, b, (uint32_t)Bytes)) return 0;
  if (Bytes == 3) *Value = ((uint32_t)b[0] << 16) | ((uint32_t)b[1] << 8) | b[2];
  else *Value = cvLE_Get32(b);
  return 1;
}

int ReadPaletteBlock(cvVFile* File, cvBitmap_Palette** Out) {
  uint8_t head = 0, count8 = 0;
  if (!cvVFile_ReadU8(File, &head)) return CV_ERROR(-1), 0;
  if (head & CV_BITMAPFILE_PALETTE_COMPRESSED) return CV_ERROR(-1), 0;
  const cvPixelFormat format = head & 0x1F;
  int32_t count = 256;
  if (!(head & CV_BITMAPFILE_PALETTE_256)) {
    if (!cvVFile_ReadU8(File, &count8)) return CV_ERROR(-1), 0;
    count = count8;
  }
  const int32_t bpp = cvPixelFormat_BytesPerPixel(format);
  if (count < 1 || bpp < 1 || cvPixelFormat_HasPalette(format) ||
      (uint64_t)count * (uint64_t)bpp > cvbmfile::Remaining(File))
    return CV_ERROR(-1), 0;
  cvBitmap_Palette* palette = cvBitmap_Palette_Create(format, count);
  if (!palette) return CV_ERROR(-1), 0;
  void* entries = nullptr;
  int ok = cvBitmap_Palette_Lock(palette, &entries, nullptr, nullptr);
  if (ok) {
    ok = cvVFile_Read(File, entries, (uint32_t)(count * bpp));
    cvBitmap_Palette_UnLock(palette);
  }
  if (!ok) {
    cvBitmap_Palette_Destroy(&palette);
    return CV_ERROR(-1), 0;
  }
  *Out = palette;
  return 1;
}

int ReadMipSection(cvVFile* File, cvBitmap* Bitmap, uint64_t* EmptyBudget) {
  const cvBitmap_Info& info = Bitmap->System;
  for (;;) {
    uint8_t tag = 0;
    if (!cvVFile_ReadU8(File, &tag)) return CV_ERROR(-1), 0;
    const int32_t level = tag & 0x0F;
    if (level > info.MaximumMip) return 1;
    if (tag & CV_BITMAPFILE_TAG_COMPRESSED) return CV_ERROR(-1), 0;
    uint64_t bytes = 0;
    if (!cvBitmap_GetLevelBytes(&info, level, &bytes)) return CV_ERROR(-1), 0;
    const bool stored = !(tag & CV_BITMAPFILE_TAG_NODATA);
    if (stored ? bytes > cvbmfile::Remaining(File) : bytes > *EmptyBudget) return CV_ERROR(-1), 0;
    if (!stored) *EmptyBudget -= bytes;
    if (bytes > 0) {
      // A stored level is read over all of its bytes, so a new one is not
      // cleared first; a level without data is (cvBitmap_AllocateMip). On a
      // failed read the bitmap is thrown away with whatever it holds.
      uint8_t* pixels = Bitmap->Mip[level];
      if (!pixels && stored) pixels = Bitmap->Mip[level] = static_cast<uint8_t*>(cvRam_Allocate((size_t)bytes));
      else if (!pixels) pixels = cvBitmap_AllocateMip(Bitmap, level);
      if (!pixels) return CV_ERROR(-1), 0;
      if (stored && !cvVFile_Read(File, pixels, (uint32_t)bytes)) return CV_ERROR(-1), 0;
    }
    cvBitmap_SetMipValid(Bitmap, level, 1);
  }
}

// Reads the engine format after its signature into the empty record Bitmap.
int ReadEngineFormat(cvVFile* File, cvBitmap* Bitmap, int32_t Depth, uint64_t* EmptyBudget) {
  uint8_t head[4];
  if (!cvVFile_Read(File, head, 4)) return CV_ERROR(-1), 0;
  const uint8_t version = head[0], flags = head[1], mips = head[3];
  const cvPixelFormat format = head[2];
  if ((version >> 4) != 4) return CV_ERROR(-1), 0;
  if (!cvPixelFormat_IsValid(format)) return CV_ERROR(-1), 0;
  const int32_t maxMip = mips >> 4;
  if (maxMip >= CV_BITMAP_MAX_MIPS) return CV_ERROR(-1), 0;

  int32_t width = 0, height = 0;
  if (flags & CV_BITMAPFILE_SIZE_POW2) {
    uint8_t size = 0;
    if (!cvVFile_ReadU8(File, &size)) return CV_ERROR(-1), 0;
    width = 1 << (size >> 4);
    height = 1 << (size & 0x0F);
  } else if (flags & CV_BITMAPFILE_SIZE_BYTES) {
    uint8_t size[2];
    if (!cvVFile_Read(File, size, 2)) return CV_ERROR(-1), 0;
    width = size[0], height = size[1];
  } else {
    uint16_t w = 0, h = 0;
    if (!cvVFile_ReadLE16(File, &w) || !cvVFile_ReadLE16(File, &h)) return CV_ERROR(-1), 0;
    width = w, height = h;
  }

  cvBitmap_Info& info = Bitmap->System;
  info.Width = width;
  info.Height = height;
  info.Stride = width;
  info.Format = format;
  info.MinimumMip = 0;
  info.MaximumMip = maxMip;
  Bitmap->DriverMipCount = (mips & 0x0F) ? (mips & 0x0F) : 1;

  const int32_t bpp = cvPixelFormat_BytesPerPixel(format);
  if ((flags & CV_BITMAPFILE_COLORKEY) && bpp > 0) {
    uint32_t key = 0;
    if (!ReadRawPixel(File, bpp, &key)) return CV_ERROR(-1), 0;
    info.HasColorKey = 1;
    info.ColorKey = key;
  }
  if ((flags & CV_BITMAPFILE_PALETTE) && !ReadPaletteBlock(File, &info.Palette)) return 0;

  if (format == CV_PIXELFORMAT_WAVELET) {
    // No codec exists for wavelet pixels: the bitmap keeps no levels.
    CV_ERROR(-1);
  } else if (!ReadMipSection(File, Bitmap, EmptyBudget)) {
    return 0;
  }

  if (flags & CV_BITMAPFILE_ALPHA) {
    cvBitmap* alpha = cvbmfile::ReadAny(File, Depth + 1, EmptyBudget);
    if (!alpha) return CV_ERROR(-1), 0;
    Bitmap->Alpha = alpha;  // the reference read is this bitmap's
  }
  return 1;
}

}  // namespace

namespace cvbmfile {

uint64_t Remaining(cvVFile* File) {
  uint32_t bytes = 0;
  return cvVFile_Remaining(File, &bytes) ? bytes : 0;
}

cvBitmap* ReadAny(cvVFile* File, int32_t Depth, uint64_t* EmptyBudget) {
  if (!File || Depth > CV_BITMAPFILE_MAX_NESTING) {
    CV_ERROR(-1);
    return nullptr;
  }
  uint8_t signature[4];
  if (!cvVFile_Read(File, signature, 4)) {
    CV_ERROR(-1);
    return nullptr;
  }
  cvBitmap* bitmap = cvBitmap_CreateEmpty();
  if (!bitmap) {
    CV_ERROR(-1);
    return nullptr;
  }
  BitmapGuard owner(bitmap);
  int ok = 0;
  if (std::memcmp(signature, "CvBm", 4) == 0) {
    ok = ReadEngineFormat(File, bitmap, Depth, EmptyBudget);
  } else {
    // Not the engine format: step back so the BMP reader sees its whole
    // file header.
    if (!cvVFile_Seek(File, -4, CV_VFILE_SEEKCUR) || signature[0] != 'B' || signature[1] != 'M') {
      CV_ERROR(-1);
      return nullptr;
    }
    ok = ReadBmp(File, bitmap);
  }
  if (!ok) return nullptr;
  return owner.Release();
}

}  // namespace cvbmfile

cvBitmap* cvBitmap_CreateFromFile(cvVFile* File) {
  uint64_t emptyBudget = kEmptyLevelBudget;
  return cvbmfile::ReadAny(File, 0, &emptyBudget);
}

cvBitmap* cvBitmap_CreateFromFileName(cvVFile* System, const char* Name) {
  if (!Name) {
    CV_ERROR(-1);
    return nullptr;
  }
  cvVFile* file = System ? cvVFile_Open(System, Name, CV_VFILE_OPEN_READONLY)
                         : cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, Name, nullptr,
                                                 CV_VFILE_OPEN_READONLY);
  if (!file) {
    CV_ERROR(-1);
    return nullptr;
  }
  cvBitmap* bitmap = cvBitmap_CreateFromFile(file);
  cvVFile_Close(file);
  return bitmap;
}
