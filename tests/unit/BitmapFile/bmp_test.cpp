// Windows BMP input: bit depths, row order, colour tables, refusals.
#include <gtest/gtest.h>

#include "bftest.h"
#include "testsupport.h"

using bftest::Bytes;

namespace {

TEST(BmpRead, TwentyFourBitBottomUpRowsLandUpsideDown) {
  // Width 3: 9 bytes of pixels padded to 12 per row; the first file row is
  // the bottom row of the image.
  Bytes rows;
  for (int fileRow = 0; fileRow < 2; ++fileRow) {
    for (int x = 0; x < 3; ++x) rows.insert(rows.end(), {(uint8_t)(x), (uint8_t)(10 * fileRow), 0xAB});
    rows.insert(rows.end(), {0, 0, 0});
  }
  const Bytes file = bftest::MakeBmp(3, 2, 24, {}, rows);
  uint32_t end = 0;
  cvBitmap* bitmap = bftest::ReadBitmap(file, &end);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(end, file.size());
  const cvBitmap_Info& info = bitmap->System;
  EXPECT_EQ(info.Format, CV_PIXELFORMAT_24BIT_BGR);
  EXPECT_EQ(info.Width, 3);
  EXPECT_EQ(info.Height, 2);
  EXPECT_EQ(info.Stride, 4);
  EXPECT_EQ(info.HasColorKey, 0);
  EXPECT_EQ(info.MaximumMip, 0);
  const uint8_t* pixels = cvBitmap_GetMipData(bitmap, 0);
  // Bitmap row 0 is the last file row (green byte 10); row stride 12 bytes.
  EXPECT_EQ(pixels[1], 10);
  EXPECT_EQ(pixels[3 * 2], 2);
  EXPECT_EQ(pixels[12 + 1], 0);
  EXPECT_EQ(pixels[12 + 2], 0xAB);
  cvBitmap_Destroy(&bitmap);
}

TEST(BmpRead, PaddedRowsSurviveTheEngineFormat) {
  // A BMP keeps its rows padded to 4 pixels; the engine format stores them
  // unpadded, so the copy read back has another stride but the same rows.
  Bytes rows;
  for (int i = 0; i < 5 * 8; ++i) rows.push_back((uint8_t)(i * 7 + 1));
  const Bytes file = bftest::MakeBmp(2, 5, 24, {}, rows);
  cvBitmap* bitmap = bftest::ReadBitmap(file);
  ASSERT_NE(bitmap, nullptr);
  ASSERT_EQ(bitmap->System.Stride, 4);
  bool ok = false;
  const Bytes written = bftest::WriteBitmap(bitmap, &ok);
  ASSERT_TRUE(ok);
  cvBitmap* back = bftest::ReadBitmap(written);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->System.Stride, 2);
  const uint8_t* a = cvBitmap_GetMipData(bitmap, 0);
  const uint8_t* b = cvBitmap_GetMipData(back, 0);
  for (int y = 0; y < 5; ++y)
    EXPECT_EQ(Bytes(a + y * 12, a + y * 12 + 6), Bytes(b + y * 6, b + y * 6 + 6)) << "row " << y;
  cvBitmap_Destroy(&back);
  cvBitmap_Destroy(&bitmap);
}

TEST(BmpRead, TopDownSixteenAndThirtyTwoBits) {
  struct Case {
    uint16_t Bits;
    cvPixelFormat Format;
  };
  for (const Case c : {Case{16, CV_PIXELFORMAT_16BIT_555_RGB}, Case{32, CV_PIXELFORMAT_32BIT_XRGB}}) {
    const int bpp = c.Bits / 8;
    Bytes rows;
    for (int row = 0; row < 3; ++row) {
      for (int x = 0; x < 2; ++x)
        for (int k = 0; k < bpp; ++k) rows.push_back((uint8_t)(row * 16 + x * 4 + k));
      while (rows.size() % 4) rows.push_back(0);
    }
    cvBitmap* bitmap = bftest::ReadBitmap(bftest::MakeBmp(2, -3, c.Bits, {}, rows));
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->System.Format, c.Format);
    EXPECT_EQ(bitmap->System.Height, 3);
    EXPECT_EQ(bitmap->System.Stride, 4);
    const uint8_t* pixels = cvBitmap_GetMipData(bitmap, 0);
    // Top-down: file row 2 is bitmap row 2.
    EXPECT_EQ(pixels[2 * 4 * bpp + bpp], 2 * 16 + 4);
    cvBitmap_Destroy(&bitmap);
  }
}

TEST(BmpRead, EightBitWithShortColourTableAndGap) {
  Bytes table;
  for (int i = 0; i < 16; ++i) table.insert(table.end(), {(uint8_t)i, (uint8_t)(2 * i), (uint8_t)(3 * i), 0});
  const Bytes rows{1, 15, 0, 0};
  // A larger information header and a gap before the pixels are both skipped.
  cvBitmap* bitmap = bftest::ReadBitmap(bftest::MakeBmp(2, 1, 8, table, rows, 16, 0, 6, 56));
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(bitmap->System.Format, CV_PIXELFORMAT_8BIT_PAL);
  cvBitmap_Palette* palette = cvBitmap_GetPalette(bitmap);
  ASSERT_NE(palette, nullptr);
  EXPECT_EQ(palette->Size, 16);
  EXPECT_EQ(palette->Format, CV_PIXELFORMAT_32BIT_XRGB);
  int32_t r, g, b, a;
  ASSERT_TRUE(cvBitmap_Palette_GetColor(palette, 15, &r, &g, &b, &a));
  EXPECT_EQ(r, 45);
  EXPECT_EQ(g, 30);
  EXPECT_EQ(b, 15);
  EXPECT_EQ(cvBitmap_GetMipData(bitmap, 0)[1], 15);
  cvBitmap_Destroy(&bitmap);
}

TEST(BmpRead, RefusedFiles) {
  Bytes table16(64, 0);
  const Bytes rows8{1, 2, 0, 0};
  const Bytes rows24(8, 0);
  Bytes overlap = bftest::MakeBmp(2, 1, 8, table16, rows8, 16);
  overlap[10] = 54 + 60;  // pixel data offset inside the colour table
  Bytes hugeTable = bftest::MakeBmp(2, 1, 8, table16, rows8, 16);
  hugeTable[14 + 32] = 0x01, hugeTable[14 + 33] = 0x01;  // 257 colours
  Bytes absurd = bftest::MakeBmp(2, 1, 24, {}, rows24);
  absurd[14 + 4] = 0xFF, absurd[14 + 5] = 0xFF, absurd[14 + 6] = 0x00;  // 65535 wide
  Bytes farGap = bftest::MakeBmp(2, 1, 24, {}, rows24);
  farGap[13] = 0x7F;  // pixels "start" 2 GiB in
  const Bytes cases[] = {
      overlap,
      hugeTable,
      absurd,
      farGap,
      bftest::MakeBmp(2, 1, 24, {}, rows24, 0, 1),         // compressed
      bftest::MakeBmp(2, 1, 4, {}, rows24),                // 4 bits per pixel
      bftest::MakeBmp(2, 1, 24, {}, rows24, 0, 0, 0, 12),  // old 12-byte header
      bftest::MakeBmp(2, 1, 24, {}, Bytes(4, 0)),          // truncated rows
      bftest::MakeBmp(0, 1, 24, {}, rows24),               // no width
  };
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
    cvErrorLog_Clear();
    EXPECT_EQ(bftest::ReadBitmap(cases[i]), nullptr) << i;
    EXPECT_LOGGED(-1);
  }
  // The offset at exactly 54 + 64 is fine.
  cvBitmap* bitmap = bftest::ReadBitmap(bftest::MakeBmp(2, 1, 8, table16, rows8, 16));
  EXPECT_NE(bitmap, nullptr);
  cvBitmap_Destroy(&bitmap);
}

}  // namespace
