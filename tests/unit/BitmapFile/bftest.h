// Helpers of the bitmap file tests: memory files and small bitmaps.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "Bitmap/cvbitmap.h"
#include "VFile/cvvfile.h"
#include "memfile.h"

namespace bftest {

using Bytes = std::vector<uint8_t>;

// Reads one bitmap from Data through a read-only memory file.
inline cvBitmap* ReadBitmap(const Bytes& Data, uint32_t* EndPosition = nullptr) {
  cvtest::MemoryReader reader(Data);
  if (!reader.File()) return nullptr;
  cvBitmap* bitmap = cvBitmap_CreateFromFile(reader.File());
  if (EndPosition) cvVFile_Tell(reader.File(), EndPosition);
  return bitmap;
}

// Writes Bitmap into a growable memory file; the bytes, or empty on failure.
inline Bytes WriteBitmap(cvBitmap* Bitmap, bool* Ok = nullptr) {
  cvtest::MemoryWriter writer;
  if (!writer.File()) return {};
  const int ok = cvBitmap_WriteToFile(Bitmap, writer.File());
  if (Ok) *Ok = ok != 0;
  return writer.Bytes();
}

// A bitmap with level 0 allocated and filled by Fill(x, y, pixel pointer).
template <class F>
cvBitmap* MakeBitmap(int32_t Width, int32_t Height, cvPixelFormat Format, F Fill) {
  cvBitmap* bitmap = cvBitmap_Create(Width, Height, 1, Format);
  if (!bitmap) return nullptr;
  uint8_t* pixels = cvBitmap_AllocateMip(bitmap, 0);
  const int32_t bpp = cvPixelFormat_BytesPerPixel(Format);
  for (int32_t y = 0; y < Height; ++y)
    for (int32_t x = 0; x < Width; ++x) Fill(x, y, pixels + ((size_t)y * Width + x) * bpp);
  cvBitmap_SetMipValid(bitmap, 0, 1);
  return bitmap;
}

// A photo-like image: smooth gradients plus noise, in 24-bit RGB.
inline std::vector<uint8_t> PhotoLike(int32_t W, int32_t H, uint32_t Seed) {
  std::vector<uint8_t> p((size_t)W * H * 3);
  std::mt19937 rng(Seed);
  std::uniform_int_distribution<int> noise(-6, 6);
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) {
      const double fx = (double)x / W, fy = (double)y / H;
      int c[3] = {(int)(255 * fx), (int)(128 + 100 * std::sin(6 * fy)), (int)(255 * fx * fy)};
      for (int k = 0; k < 3; ++k) p[((size_t)y * W + x) * 3 + k] = (uint8_t)std::clamp(c[k] + noise(rng), 0, 255);
    }
  return p;
}

inline void Put16(Bytes& B, uint16_t V) { B.push_back((uint8_t)V), B.push_back((uint8_t)(V >> 8)); }
inline void Put32(Bytes& B, uint32_t V) {
  for (int i = 0; i < 4; ++i) B.push_back((uint8_t)(V >> (8 * i)));
}

// A Windows BMP: headers, colour table and rows as given (rows already padded).
inline Bytes MakeBmp(int32_t Width, int32_t Height, uint16_t Bits, const Bytes& Table,
                     const Bytes& Rows, uint32_t ColorsUsed = 0, uint32_t Compression = 0,
                     int32_t ExtraGap = 0, uint32_t InfoSize = 40) {
  Bytes b{'B', 'M'};
  const uint32_t offset = (uint32_t)(14 + InfoSize + Table.size() + ExtraGap);
  Put32(b, offset + (uint32_t)Rows.size());
  Put32(b, 0);
  Put32(b, offset);
  Put32(b, InfoSize);
  Put32(b, (uint32_t)Width);
  Put32(b, (uint32_t)Height);
  Put16(b, 1);
  Put16(b, Bits);
  Put32(b, Compression);
  Put32(b, (uint32_t)Rows.size());
  Put32(b, 2834);
  Put32(b, 2834);
  Put32(b, ColorsUsed);
  Put32(b, 0);
  b.resize(14 + (InfoSize > 40 ? InfoSize : 40), 0);
  b.insert(b.end(), Table.begin(), Table.end());
  if (ExtraGap > 0) b.resize(b.size() + (size_t)ExtraGap, 0xEE);
  b.insert(b.end(), Rows.begin(), Rows.end());
  return b;
}

}  // namespace bftest
