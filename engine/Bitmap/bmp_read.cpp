// Reading Windows BMP files into engine bitmaps: the forms paint programs
// write.
//
//  - 1-, 2-, 4- and 8-bit indices, plain or run-length encoded (8 and 4 bits),
//    become 8bit pal with a palette of 32 bit XRGB entries (the colour
//    table's blue, green, red, reserved bytes are exactly that format's
//    little-endian layout; the old 12-byte header's 3-byte entries are
//    widened to it);
//  - 16-bit pixels are 555 RGB, 24-bit BGR and 32-bit XRGB, copied as they are;
//  - 16- and 32-bit pixels with colour masks (after a 40-byte header, or
//    inside the longer headers, alpha mask included) keep a matching engine
//    format or move into the nearest one that holds every channel
//    (bmp_masks.cpp).
//
// The headers are read step by step (the old header is 12 bytes, the newest
// 124) and every count, size and offset is checked against the bytes the file
// still holds before anything is allocated. The bitmap's stride is the width
// rounded up to a multiple of 4 pixels, which always holds a padded file row.
#include <cstring>
#include <memory>

#include "Bitmap/bitmap.h"
#include "Bitmap/bitmapfile.h"
#include "Bitmap/bitmapfile_internal.h"
#include "Bitmap/bmp_internal.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"

namespace {

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kCoreHeaderBytes = 12;  // width and height as 16-bit words
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kMasksInHeaderBytes = 52;  // red, green and blue masks inside the header
constexpr uint32_t kAlphaInHeaderBytes = 56;  // and the alpha mask
constexpr uint32_t kOs2HeaderBytes = 64;      // whose compression 3 is not colour masks
constexpr uint32_t kLargestHeaderBytes = 124;

enum : uint32_t {
  kCompressNone = 0,
  kCompressRle8 = 1,
  kCompressRle4 = 2,
  kCompressMasks = 3,
  kCompressAlphaMasks = 6,
};

// Run-length encoded pixels can describe a large image in few bytes (a
// delta skips whole rows). A level larger than this needs a stored byte for
// every 256 of its bytes, so that a short hostile file cannot ask for a huge
// one.
constexpr uint64_t kRleUnbackedBytes = 16ull * 1024 * 1024;

struct Header {
  uint32_t PixelOffset = 0;
  uint32_t InfoSize = 0;
  int32_t Width = 0;
  int32_t Height = 0;  // as stored: negative for rows stored top row first
  uint32_t BitCount = 0;
  uint32_t Compression = 0;
  uint32_t ColorsUsed = 0;
  uint32_t Masks[4] = {0, 0, 0, 0};
  bool Core = false;
};

struct RamFree {
  void operator()(uint8_t* P) const { cvRam_Free(P); }
};
using RamBuffer = std::unique_ptr<uint8_t, RamFree>;

bool Skip(cvVFile* File, uint64_t Bytes) {
  if (Bytes == 0) return true;
  return Bytes <= cvbmfile::Remaining(File) && Bytes <= INT32_MAX &&
         cvVFile_Seek(File, (int32_t)Bytes, CV_VFILE_SEEKCUR);
}

// Reads the file header and the information header, and the colour masks
// that follow a 40-byte header. *Position is the number of bytes read.
int ReadHeaders(cvVFile* File, Header* H, uint64_t* Position) {
  uint8_t file[kFileHeaderBytes + 4];
  if (!cvVFile_Read(File, file, sizeof(file))) return CV_ERROR(-1), 0;
  H->PixelOffset = cvLE_Get32(file + 10);
  H->InfoSize = cvLE_Get32(file + kFileHeaderBytes);

  uint8_t info[kLargestHeaderBytes] = {};
  if (H->InfoSize == kCoreHeaderBytes) {
    if (!cvVFile_Read(File, info + 4, kCoreHeaderBytes - 4)) return CV_ERROR(-1), 0;
    H->Core = true;
    H->Width = cvLE_Get16(info + 4);
    H->Height = cvLE_Get16(info + 6);
    H->BitCount = cvLE_Get16(info + 10);
    *Position = kFileHeaderBytes + kCoreHeaderBytes;
    return 1;
  }
  if (H->InfoSize < kInfoHeaderBytes) return CV_ERROR(-1), 0;
  const uint32_t kept = H->InfoSize < kLargestHeaderBytes ? H->InfoSize : kLargestHeaderBytes;
  if (!cvVFile_Read(File, info + 4, kept - 4) || !Skip(File, H->InfoSize - kept))
    return CV_ERROR(-1), 0;
  H->Width = (int32_t)cvLE_Get32(info + 4);
  H->Height = (int32_t)cvLE_Get32(info + 8);
  H->BitCount = cvLE_Get16(info + 14);
  H->Compression = cvLE_Get32(info + 16);
  H->ColorsUsed = cvLE_Get32(info + 32);
  uint64_t position = (uint64_t)kFileHeaderBytes + H->InfoSize;

  const bool masked = H->Compression == kCompressMasks || H->Compression == kCompressAlphaMasks;
  if (masked && H->InfoSize == kOs2HeaderBytes) return CV_ERROR(-1), 0;  // a fax coding
  if (masked && H->InfoSize >= kMasksInHeaderBytes) {
    for (int c = 0; c < 3; ++c) H->Masks[c] = cvLE_Get32(info + 40 + 4 * c);
    if (H->InfoSize >= kAlphaInHeaderBytes) H->Masks[3] = cvLE_Get32(info + 52);
  } else if (masked) {
    // A 40-byte header is followed by three masks, or four with alpha.
    const uint32_t count = H->Compression == kCompressAlphaMasks ? 4 : 3;
    uint8_t masks[16];
    if (!cvVFile_Read(File, masks, count * 4)) return CV_ERROR(-1), 0;
    for (uint32_t c = 0; c < count; ++c) H->Masks[c] = cvLE_Get32(masks + 4 * c);
    position += count * 4;
  }
  *Position = position;
  return 1;
}

// Reads Count colour-table entries of EntryBytes (4, or 3 for the old
// header) into a new palette of 32 bit XRGB entries.
int ReadColorTable(cvVFile* File, uint32_t Count, uint32_t EntryBytes, cvBitmap_Palette** Out) {
  if ((uint64_t)Count * EntryBytes > cvbmfile::Remaining(File)) return 0;
  uint8_t table[256 * 4];
  if (!cvVFile_Read(File, table, Count * EntryBytes)) return 0;
  cvBitmap_Palette* palette = cvBitmap_Palette_Create(CV_PIXELFORMAT_32BIT_XRGB, (int32_t)Count);
  if (!palette) return 0;
  void* entries = nullptr;
  if (!cvBitmap_Palette_Lock(palette, &entries, nullptr, nullptr)) {
    cvBitmap_Palette_Destroy(&palette);
    return 0;
  }
  uint8_t* to = static_cast<uint8_t*>(entries);
  for (uint32_t i = 0; i < Count; ++i) {
    std::memcpy(to + 4 * i, table + EntryBytes * i, 3);
    to[4 * i + 3] = EntryBytes == 4 ? table[EntryBytes * i + 3] : 0;
  }
  cvBitmap_Palette_UnLock(palette);
  *Out = palette;
  return 1;
}

// Plain rows of 1-, 2-, 4- or 8-bit indices, each row padded to 4 bytes.
int ReadIndexedRows(cvVFile* File, uint32_t Bits, uint64_t RowBytes, const cvbmp::RowTarget& T) {
  RamBuffer buffer;
  if (Bits < 8) {
    buffer.reset(static_cast<uint8_t*>(cvRam_Allocate((size_t)RowBytes)));
    if (!buffer) return CV_ERROR(-1), 0;
  }
  const uint32_t mask = (1u << Bits) - 1;
  for (int32_t y = 0; y < T.Height; ++y) {
    uint8_t* row = T.Row(y);
    if (Bits == 8) {
      if (!cvVFile_Read(File, row, (uint32_t)RowBytes)) return CV_ERROR(-1), 0;
      continue;
    }
    const uint8_t* packed = buffer.get();
    if (!cvVFile_Read(File, buffer.get(), (uint32_t)RowBytes)) return CV_ERROR(-1), 0;
    // The first pixel of each byte is in its highest bits.
    for (int32_t x = 0; x < T.Width; ++x) {
      const uint32_t bit = (uint32_t)x * Bits;
      row[x] = (uint8_t)((packed[bit >> 3] >> (8 - Bits - (bit & 7))) & mask);
    }
  }
  return 1;
}

// Plain rows of 16-, 24- or 32-bit pixels, each row padded to 4 bytes; with a
// mask layout that no engine format matches, each row is converted.
int ReadDirectRows(cvVFile* File, uint64_t RowBytes, const cvbmp::MaskLayout* Convert,
                   cvPixelFormat Format, const cvbmp::RowTarget& T) {
  RamBuffer buffer;
  if (Convert) {
    buffer.reset(static_cast<uint8_t*>(cvRam_Allocate((size_t)RowBytes)));
    if (!buffer) return CV_ERROR(-1), 0;
  }
  for (int32_t y = 0; y < T.Height; ++y) {
    uint8_t* row = T.Row(y);
    if (!cvVFile_Read(File, Convert ? buffer.get() : row, (uint32_t)RowBytes)) return CV_ERROR(-1), 0;
    if (Convert) cvbmp::ConvertMaskedRow(*Convert, Format, buffer.get(), row, T.Width);
  }
  return 1;
}

}  // namespace

namespace cvbmfile {

int ReadBmp(cvVFile* File, cvBitmap* Bitmap) {
  Header h;
  uint64_t position = 0;
  if (!ReadHeaders(File, &h, &position)) return 0;

  // What the bit count and compression make of the pixels.
  const uint32_t bits = h.BitCount;
  const bool indexed = bits == 1 || bits == 2 || bits == 4 || bits == 8;
  const bool rle = (h.Compression == kCompressRle8 && bits == 8) ||
                   (h.Compression == kCompressRle4 && bits == 4);
  const bool masked = h.Compression == kCompressMasks || h.Compression == kCompressAlphaMasks;
  cvPixelFormat format = CV_PIXELFORMAT_NO_DATA;
  cvbmp::MaskLayout layout{};
  bool convert = false;
  if (indexed && (h.Compression == kCompressNone || rle)) {
    format = CV_PIXELFORMAT_8BIT_PAL;
  } else if (masked && (bits == 16 || bits == 32)) {
    if (!cvbmp::AnalyseMasks(h.Masks, (int32_t)bits, &layout)) return 0;
    bool exact = false;
    format = cvbmp::ChooseMaskedFormat(layout, &exact);
    convert = !exact;
  } else if (h.Compression == kCompressNone) {
    switch (bits) {
      case 16: format = CV_PIXELFORMAT_16BIT_555_RGB; break;
      case 24: format = CV_PIXELFORMAT_24BIT_BGR; break;
      case 32: format = CV_PIXELFORMAT_32BIT_XRGB; break;
      default: return CV_ERROR(-1), 0;
    }
  } else {
    return CV_ERROR(-1), 0;  // another coding, or one that does not fit the bit count
  }

  // Colour table: its entries cannot outnumber the indices of a byte. The
  // old header has no count: its table fills the room before the pixels, up
  // to one entry per index.
  cvBitmap_Palette* palette = nullptr;
  if (indexed) {
    uint32_t colors = h.ColorsUsed ? h.ColorsUsed : 1u << bits;
    const uint32_t entryBytes = h.Core ? 3 : 4;
    if (h.Core && h.PixelOffset > position) {
      const uint64_t room = (h.PixelOffset - position) / entryBytes;
      if (room < colors) colors = (uint32_t)room;
    }
    if (colors < 1 || colors > 256 || !ReadColorTable(File, colors, entryBytes, &palette))
      return CV_ERROR(-1), 0;
    Bitmap->System.Palette = palette;  // owned by the bitmap from here on
    position += (uint64_t)colors * entryBytes;
  }

  // The pixel data may start later than the headers end, never earlier.
  if (h.PixelOffset < position || !Skip(File, h.PixelOffset - position)) return CV_ERROR(-1), 0;

  if (h.Width <= 0 || h.Height == 0 || h.Height == INT32_MIN) return CV_ERROR(-1), 0;
  const int32_t height = h.Height < 0 ? -h.Height : h.Height;
  const uint64_t bpp = (uint64_t)cvPixelFormat_BytesPerPixel(format);
  uint64_t stride = 0, levelBytes = 0;
  if (!cvSize_Add((uint64_t)h.Width, 3, &stride)) return CV_ERROR(-1), 0;
  stride &= ~3ull;
  if (!cvSize_Mul3(stride, (uint64_t)height, bpp, &levelBytes)) return CV_ERROR(-1), 0;

  // Plain rows are padded to 4 bytes and must all be in the file.
  uint64_t rowBytes = 0, fileBytes = 0;
  if (rle) {
    const uint64_t stored = Remaining(File);
    if (levelBytes > kRleUnbackedBytes && levelBytes / 256 > stored) return CV_ERROR(-1), 0;
  } else {
    if (!cvSize_MulAdd((uint64_t)h.Width, bits, 31, &rowBytes)) return CV_ERROR(-1), 0;
    rowBytes = rowBytes / 32 * 4;
    if (!cvSize_Mul(rowBytes, (uint64_t)height, &fileBytes) || fileBytes > Remaining(File))
      return CV_ERROR(-1), 0;
  }

  cvBitmap_Info& sys = Bitmap->System;
  sys.Width = h.Width;
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
  // Positive heights store the bottom row first.
  const cvbmp::RowTarget target{pixels, stride * bpp, h.Width, height, h.Height > 0};
  int ok = 0;
  if (rle) ok = cvbmp::DecodeRle(File, (int32_t)bits, target);
  else if (indexed) ok = ReadIndexedRows(File, bits, rowBytes, target);
  else ok = ReadDirectRows(File, rowBytes, convert ? &layout : nullptr, format, target);
  if (!ok) return 0;
  cvBitmap_SetMipValid(Bitmap, 0, 1);
  return 1;
}

}  // namespace cvbmfile
