// BitmapWriter: the skin BMP file.
//
// Layout: 14-byte file header, 40-byte information header (positive height:
// rows bottom-up, 2834 pixels per metre, colours used 0 = 256), for 8-bit
// files a 1024-byte colour table of 32 bit XRGB entries (blue, green, red,
// fourth byte), then the rows from the last bitmap row up, each padded with
// zeros to a multiple of 4 bytes.
#include "bitmapwriter.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "Bitmap/cvbitmap.h"
#include "Support/cvsupport.h"

namespace {

constexpr uint32_t kHeadersBytes = 14 + 40;
constexpr uint32_t kPixelsPerMetre = 2834;

struct FileCloser {
  void operator()(std::FILE* File) const { std::fclose(File); }
};

// Bytes per pixel of the formats a lock may report that have a BMP form; 0
// for the others.
uint32_t BytesPerPixel(cvPixelFormat Format) {
  switch (Format) {
    case CV_PIXELFORMAT_8BIT_PAL: return 1;
    case CV_PIXELFORMAT_16BIT_565_RGB: return 2;
    case CV_PIXELFORMAT_24BIT_RGB:
    case CV_PIXELFORMAT_24BIT_BGR: return 3;
    case CV_PIXELFORMAT_32BIT_ARGB: return 4;
    default: return 0;
  }
}

}  // namespace

BitmapWriter::~BitmapWriter() = default;

bool BitmapWriter::Write(cvBitmap* Bitmap, const char* Path, bool TrueColour) {
  if (!Bitmap || !Path) return false;
  // A 24-bit BMP stores blue, green, red in that order, the memory order of
  // the engine's 24 bit BGR format.
  cvBitmap_Info info{}, own{};
  const cvPixelFormat format =
      TrueColour && cvBitmap_GetInfo(Bitmap, &info, &own) && own.Format != CV_PIXELFORMAT_8BIT_PAL
          ? CV_PIXELFORMAT_24BIT_BGR
          : CV_PIXELFORMAT_8BIT_PAL;
  cvBitmap* lock = nullptr;
  if (!cvBitmap_LockForRead(Bitmap, &lock, 0, 0, format, 0, 0)) return false;
  // Releases the lock on every path out of here.
  std::unique_ptr<cvBitmap, decltype(&cvBitmap_UnLock)> held(lock, &cvBitmap_UnLock);

  const uint8_t* pixels = static_cast<const uint8_t*>(cvBitmap_GetBits(lock));
  if (!pixels || !cvBitmap_GetInfo(lock, &info, nullptr)) return false;
  const uint32_t bpp = BytesPerPixel(info.Format);
  if (bpp == 0 || info.Width < 0 || info.Height < 0 || info.Stride < info.Width) return false;

  std::array<uint8_t, 256 * 4> table{};
  uint32_t tableBytes = 0;
  if (info.Format == CV_PIXELFORMAT_8BIT_PAL) {
    // A palette shorter than 256 entries leaves the rest of the table zero.
    if (cvBitmap_Palette* palette = cvBitmap_GetPalette(lock))
      cvBitmap_Palette_GetData(palette, table.data(), CV_PIXELFORMAT_32BIT_XRGB, 256);
    tableBytes = (uint32_t)table.size();
  }

  const uint64_t pixelBytes = (uint64_t)info.Width * bpp;
  const uint64_t rowBytes = (pixelBytes + 3) & ~3ull;
  const uint64_t fileSize = kHeadersBytes + tableBytes + rowBytes * (uint64_t)info.Height;
  if (fileSize > UINT32_MAX) return false;

  uint8_t header[kHeadersBytes] = {};
  header[0] = 'B';
  header[1] = 'M';
  cvLE_Put32(header + 2, (uint32_t)fileSize);
  cvLE_Put32(header + 10, kHeadersBytes + tableBytes);
  uint8_t* bih = header + 14;
  cvLE_Put32(bih + 0, 40);
  cvLE_Put32(bih + 4, (uint32_t)info.Width);
  cvLE_Put32(bih + 8, (uint32_t)info.Height);
  cvLE_Put16(bih + 12, 1);
  cvLE_Put16(bih + 14, (uint16_t)(8 * bpp));
  cvLE_Put32(bih + 24, kPixelsPerMetre);
  cvLE_Put32(bih + 28, kPixelsPerMetre);

  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(Path, "wb"));
  if (!file) return false;
  bool ok = std::fwrite(header, 1, sizeof(header), file.get()) == sizeof(header);
  if (ok && tableBytes)
    ok = std::fwrite(table.data(), 1, tableBytes, file.get()) == tableBytes;

  std::vector<uint8_t> row((size_t)rowBytes, 0);
  const uint64_t strideBytes = (uint64_t)info.Stride * bpp;
  for (int32_t y = info.Height - 1; ok && y >= 0; --y) {
    const uint8_t* source = pixels + (uint64_t)y * strideBytes;
    std::copy(source, source + pixelBytes, row.begin());
    ok = std::fwrite(row.data(), 1, row.size(), file.get()) == row.size();
  }
  // A full disk shows up at the latest when the buffered data is flushed.
  std::FILE* raw = file.release();
  if (std::fclose(raw) != 0) ok = false;
  return ok;
}
