// The skin bitmap writer: file layout, row order, reading back through the
// engine's reader and opening in a common image program.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bftest.h"
#include "bitmapwriter.h"
#include "testsupport.h"

using bftest::Bytes;

namespace {

cvBitmap* PalettedBitmap(int32_t W, int32_t H, int32_t PaletteSize) {
  cvBitmap* bitmap = bftest::MakeBitmap(W, H, CV_PIXELFORMAT_8BIT_PAL, [&](int x, int y, uint8_t* p) {
    p[0] = (uint8_t)((x * 7 + y * 13) % PaletteSize);
  });
  cvBitmap_Palette* palette = cvBitmap_Palette_Create(CV_PIXELFORMAT_32BIT_XRGB, PaletteSize);
  for (int32_t i = 0; i < PaletteSize; ++i) cvBitmap_Palette_SetColor(palette, i, i, 2 * i % 256, 255 - i, 255);
  cvBitmap_SetPalette(bitmap, palette);
  cvBitmap_Palette_Destroy(&palette);
  return bitmap;
}

bool WriteWith(cvBitmap* Bitmap, const std::string& Path) {
  BitmapWriter* writer = new BitmapWriter;
  const bool ok = writer->Write(Bitmap, Path.c_str());
  delete writer;
  return ok;
}

TEST(BitmapWriter, HeadersTableAndBottomUpRows) {
  cvtest::TempDir dir;
  cvBitmap* bitmap = PalettedBitmap(256, 256, 256);
  ASSERT_TRUE(WriteWith(bitmap, dir.File("a.bmp")));
  const Bytes file = cvtest::ReadFileBytes(dir.File("a.bmp"));
  ASSERT_EQ(file.size(), 66614u);
  Bytes header{'B', 'M'};
  for (uint32_t v : {66614u, 0u, 1078u, 40u, 256u, 256u}) bftest::Put32(header, v);
  bftest::Put16(header, 1), bftest::Put16(header, 8);
  for (uint32_t v : {0u, 0u, 2834u, 2834u, 0u, 0u}) bftest::Put32(header, v);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 54), header);
  // Entry 3: blue, green, red as XRGB little-endian.
  EXPECT_EQ(file[54 + 12], 252);
  EXPECT_EQ(file[54 + 13], 6);
  EXPECT_EQ(file[54 + 14], 3);
  // The first file row is the bitmap's bottom row (y = 255).
  EXPECT_EQ(file[1078 + 5], (5 * 7 + 255 * 13) % 256);
  cvBitmap_Destroy(&bitmap);
}

TEST(BitmapWriter, PaddingShortPaletteAndReadBack) {
  cvtest::TempDir dir;
  cvBitmap* bitmap = PalettedBitmap(3, 5, 16);
  ASSERT_TRUE(WriteWith(bitmap, dir.File("b.bmp")));
  const Bytes file = cvtest::ReadFileBytes(dir.File("b.bmp"));
  ASSERT_EQ(file.size(), 1078u + 4 * 5);
  for (int row = 0; row < 5; ++row) EXPECT_EQ(file[1078 + 4 * row + 3], 0) << row;
  for (int i = 16 * 4; i < 1024; ++i) ASSERT_EQ(file[54 + i], 0) << i;

  cvBitmap* back = cvBitmap_CreateFromFileName(nullptr, dir.File("b.bmp").c_str());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->System.Format, CV_PIXELFORMAT_8BIT_PAL);
  EXPECT_EQ(back->System.Width, 3);
  EXPECT_EQ(back->System.Height, 5);
  const uint8_t* original = cvBitmap_GetMipData(bitmap, 0);
  const uint8_t* read = cvBitmap_GetMipData(back, 0);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(read[y * back->System.Stride + x], original[y * 3 + x]);
  cvBitmap_Palette* palette = cvBitmap_GetPalette(back);
  ASSERT_NE(palette, nullptr);
  EXPECT_EQ(palette->Size, 256);
  for (int i = 0; i < 16; ++i) {
    int32_t r, g, b, a, r0, g0, b0, a0;
    cvBitmap_Palette_GetColor(palette, i, &r, &g, &b, &a);
    cvBitmap_Palette_GetColor(cvBitmap_GetPalette(bitmap), i, &r0, &g0, &b0, &a0);
    EXPECT_EQ((std::array<int32_t, 3>{r, g, b}), (std::array<int32_t, 3>{r0, g0, b0})) << i;
  }
  cvBitmap_Destroy(&back);
  cvBitmap_Destroy(&bitmap);
}

// Writes a 24-bit RGB image through the writer with the given palette
// builder and reads the file back through the engine's reader: for each
// pixel, the colour the file shows and the file's palette.
struct Exported {
  std::vector<std::array<int32_t, 3>> Shown;
  std::vector<std::array<int32_t, 3>> Palette;
};

Exported Export(const std::vector<uint8_t>& Rgb, int32_t W, int32_t H, cvBitmap_PaletteBuilder Builder) {
  Exported out;
  cvtest::TempDir dir;
  cvBitmap* bitmap = bftest::MakeBitmap(W, H, CV_PIXELFORMAT_24BIT_RGB, [&](int x, int y, uint8_t* p) {
    std::memcpy(p, &Rgb[((size_t)y * W + x) * 3], 3);
  });
  cvBitmap_SetPaletteBuilder(Builder);
  const bool written = WriteWith(bitmap, dir.File("e.bmp"));
  cvBitmap_SetPaletteBuilder(nullptr);
  cvBitmap_Destroy(&bitmap);
  EXPECT_TRUE(written);
  cvBitmap* back = written ? cvBitmap_CreateFromFileName(nullptr, dir.File("e.bmp").c_str()) : nullptr;
  if (!back) return out;
  EXPECT_EQ(back->System.Format, CV_PIXELFORMAT_8BIT_PAL);
  cvBitmap_Palette* palette = cvBitmap_GetPalette(back);
  for (int32_t i = 0; i < 256; ++i) {
    int32_t r, g, b, a;
    cvBitmap_Palette_GetColor(palette, i, &r, &g, &b, &a);
    out.Palette.push_back({r, g, b});
  }
  const uint8_t* read = cvBitmap_GetMipData(back, 0);
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) out.Shown.push_back(out.Palette[read[y * back->System.Stride + x]]);
  cvBitmap_Destroy(&back);
  return out;
}

int32_t Distance2(const std::array<int32_t, 3>& A, const uint8_t* B) {
  int32_t d = 0;
  for (int k = 0; k < 3; ++k) d += (A[k] - B[k]) * (A[k] - B[k]);
  return d;
}

TEST(BitmapWriter, ImagesOfAtMost256ColoursComeBackUnchanged) {
  // 256 x 256 pixels in 64 colours: red 0..252 in 4 steps, green 0..252 in
  // 8 steps, blue 0 or 200, on blocks of 32 x 32.
  const int32_t side = 256;
  std::vector<uint8_t> image((size_t)side * side * 3);
  for (int32_t y = 0; y < side; ++y)
    for (int32_t x = 0; x < side; ++x) {
      uint8_t* p = &image[((size_t)y * side + x) * 3];
      p[0] = (uint8_t)(x / 64 * 84), p[1] = (uint8_t)(y / 32 * 36), p[2] = (uint8_t)((x / 32) % 2 * 200);
    }
  for (cvBitmap_PaletteBuilder builder : {&cvBitmap_CreatePalGood, &cvBitmap_CreatePalFast}) {
    const Exported out = Export(image, side, side, builder);
    ASSERT_EQ(out.Shown.size(), (size_t)side * side);
    for (size_t i = 0; i < out.Shown.size(); ++i)
      ASSERT_EQ(Distance2(out.Shown[i], &image[i * 3]), 0)
          << "pixel " << i % side << "," << i / side << " " << out.Shown[i][0] << "," << out.Shown[i][1] << ","
          << out.Shown[i][2];
  }
}

TEST(BitmapWriter, PhotoPixelsTakeTheirPalettesNearestEntry) {
  // Smooth gradients and noise (thousands of colours): each pixel shows the
  // entry of the file's palette nearest to it.
  const int32_t w = 192, h = 144;
  const std::vector<uint8_t> image = bftest::PhotoLike(w, h, 9);
  for (cvBitmap_PaletteBuilder builder : {&cvBitmap_CreatePalGood, &cvBitmap_CreatePalFast}) {
    const Exported out = Export(image, w, h, builder);
    ASSERT_EQ(out.Shown.size(), (size_t)w * h);
    int32_t entries[256 * 3];
    for (int32_t e = 0; e < 256; ++e)
      for (int k = 0; k < 3; ++k) entries[e * 3 + k] = out.Palette[(size_t)e][(size_t)k];
    int64_t misses = 0;
    for (size_t i = 0; i < out.Shown.size(); ++i) {
      const int32_t r = image[i * 3], g = image[i * 3 + 1], b = image[i * 3 + 2];
      int32_t best = INT32_MAX;
      for (const int32_t* e = entries; e < entries + 256 * 3; e += 3) {
        const int32_t d = (e[0] - r) * (e[0] - r) + (e[1] - g) * (e[1] - g) + (e[2] - b) * (e[2] - b);
        if (d < best) best = d;
      }
      misses += Distance2(out.Shown[i], &image[i * 3]) != best;
    }
    EXPECT_EQ(misses, 0);
  }
}

TEST(BitmapWriter, TrueColourFileKeepsEveryTexel) {
  // Asked for true colour, a 24-bit bitmap goes into a 24-bit file that
  // reads back texel for texel; a palettised one stays 8-bit.
  cvtest::TempDir dir;
  cvBitmap* bitmap = bftest::MakeBitmap(33, 7, CV_PIXELFORMAT_24BIT_RGB, [](int x, int y, uint8_t* p) {
    p[0] = (uint8_t)(x * 7), p[1] = (uint8_t)(y * 31 + x), p[2] = (uint8_t)(255 - x);
  });
  ASSERT_TRUE(BitmapWriter().Write(bitmap, dir.File("t.bmp").c_str(), true));
  const Bytes file = cvtest::ReadFileBytes(dir.File("t.bmp"));
  ASSERT_EQ(file.size(), 54u + 100 * 7);  // rows of 99 bytes padded to 100
  EXPECT_EQ(cvLE_Get16(&file[28]), 24);
  cvBitmap* back = cvBitmap_CreateFromFileName(nullptr, dir.File("t.bmp").c_str());
  cvBitmap* lock = nullptr;
  ASSERT_TRUE(back && cvBitmap_LockForRead(back, &lock, 0, 0, CV_PIXELFORMAT_24BIT_RGB, 0, 0));
  cvBitmap_Info info{};
  cvBitmap_GetInfo(lock, &info, nullptr);
  const uint8_t* got = static_cast<const uint8_t*>(cvBitmap_GetBits(lock));
  for (int y = 0; y < 7; ++y)
    for (int i = 0; i < 33 * 3; ++i)
      ASSERT_EQ(got[y * info.Stride * 3 + i], cvBitmap_GetMipData(bitmap, 0)[y * 33 * 3 + i]);
  cvBitmap_UnLock(lock);
  cvBitmap_Destroy(&back);
  cvBitmap_Destroy(&bitmap);
  bitmap = PalettedBitmap(4, 4, 4);
  ASSERT_TRUE(BitmapWriter().Write(bitmap, dir.File("p.bmp").c_str(), true));
  EXPECT_EQ(cvLE_Get16(&cvtest::ReadFileBytes(dir.File("p.bmp"))[28]), 8);
  cvBitmap_Destroy(&bitmap);
}

TEST(BitmapWriter, MissingDirectoryFails) {
  cvtest::TempDir dir;
  cvBitmap* bitmap = PalettedBitmap(4, 4, 4);
  EXPECT_FALSE(WriteWith(bitmap, dir.File("no/such/dir/x.bmp")));
  // The lock was released: the bitmap can be write-locked again.
  cvBitmap* lock = nullptr;
  EXPECT_TRUE(cvBitmap_LockForWrite(bitmap, &lock, 0, 0));
  cvBitmap_UnLock_NoChange(lock);
  cvBitmap_Destroy(&bitmap);
}

TEST(BitmapWriter, OpensInImageMagick) {
  if (std::system("identify -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "ImageMagick not installed";
  cvtest::TempDir dir;
  cvBitmap* bitmap = PalettedBitmap(37, 11, 200);
  ASSERT_TRUE(WriteWith(bitmap, dir.File("d.bmp")));
  const std::string command = "identify -format '%w %h %m' '" + dir.File("d.bmp") + "' > '" + dir.File("out.txt") + "' 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const Bytes out = cvtest::ReadFileBytes(dir.File("out.txt"));
  EXPECT_EQ(std::string(out.begin(), out.end()).substr(0, 9), "37 11 BMP");
  cvBitmap_Destroy(&bitmap);
}

}  // namespace
