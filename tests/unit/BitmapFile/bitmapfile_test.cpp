// Engine bitmap files: exact layout of what the writer produces, reading it
// back, and refusal of damaged files.
#include <gtest/gtest.h>

#include "bftest.h"
#include "testsupport.h"

using bftest::Bytes;

namespace {

Bytes Slice(const Bytes& B, size_t From, size_t Count) {
  return Bytes(B.begin() + (ptrdiff_t)From, B.begin() + (ptrdiff_t)(From + Count));
}

TEST(BitmapFileWrite, PowerOfTwoSizeAndMipLevels) {
  cvBitmap* bitmap = bftest::MakeBitmap(64, 32, CV_PIXELFORMAT_16BIT_565_RGB,
                                        [](int x, int y, uint8_t* p) { p[0] = (uint8_t)x, p[1] = (uint8_t)y; });
  ASSERT_NE(bitmap, nullptr);
  ASSERT_TRUE(cvBitmap_MakeMips(bitmap, 1, 1));
  bitmap->DriverMipCount = 1;
  const Bytes file = bftest::WriteBitmap(bitmap);
  ASSERT_EQ(file.size(), 9u + 1 + 4096 + 1 + 1024 + 1);
  EXPECT_EQ(Slice(file, 0, 9), (Bytes{'C', 'v', 'B', 'm', 0x40, 0x01, 0x05, 0x11, 0x65}));
  EXPECT_EQ(file[9], 0);
  EXPECT_EQ(file[9 + 1 + 4096], 1);
  EXPECT_EQ(file.back(), 0x0F);
  // Level 0 is packed row after row from the top: pixel (3, 2) at byte 2 * 128 + 6.
  EXPECT_EQ(file[10 + 2 * 128 + 6], 3);
  EXPECT_EQ(file[10 + 2 * 128 + 7], 2);

  uint32_t end = 0;
  cvBitmap* back = bftest::ReadBitmap(file, &end);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(end, file.size());
  EXPECT_EQ(back->System.Width, 64);
  EXPECT_EQ(back->System.Height, 32);
  EXPECT_EQ(back->System.MaximumMip, 1);
  EXPECT_EQ(back->DriverMipCount, 1);
  EXPECT_TRUE(cvBitmap_IsMipValid(back, 1));
  EXPECT_EQ(0, memcmp(cvBitmap_GetMipData(back, 0), cvBitmap_GetMipData(bitmap, 0), 4096));
  EXPECT_EQ(0, memcmp(cvBitmap_GetMipData(back, 1), cvBitmap_GetMipData(bitmap, 1), 1024));
  cvBitmap_Destroy(&back);
  cvBitmap_Destroy(&bitmap);
}

TEST(BitmapFileWrite, SizeEncodingsAndColorKeys) {
  struct Case {
    int32_t W, H;
    cvPixelFormat Format;
    uint32_t Key;
    Bytes Head;  // flags onwards, up to the first tag
  };
  const Case cases[] = {
      // Words, 32-bit key little-endian.
      {300, 20, CV_PIXELFORMAT_32BIT_ARGB, 0x11223344u,
       {0x02, 17, 0x01, 0x2C, 0x01, 20, 0, 0x44, 0x33, 0x22, 0x11}},
      // Bytes, 3-byte key most significant byte first.
      {100, 20, CV_PIXELFORMAT_24BIT_RGB, 0x112233u, {0x22, 9, 0x01, 100, 20, 0x11, 0x22, 0x33}},
      // 1 x 1 counts as a power of two.
      {1, 1, CV_PIXELFORMAT_8BIT_GRAY, 7u, {0x03, 2, 0x01, 0x00, 7}},
  };
  for (const Case& c : cases) {
    cvBitmap* bitmap = bftest::MakeBitmap(c.W, c.H, c.Format, [](int, int, uint8_t* p) { p[0] = 9; });
    ASSERT_NE(bitmap, nullptr);
    bitmap->System.HasColorKey = 1;
    bitmap->System.ColorKey = c.Key;
    const Bytes file = bftest::WriteBitmap(bitmap);
    ASSERT_GT(file.size(), 5 + c.Head.size());
    EXPECT_EQ(Slice(file, 5, c.Head.size()), c.Head) << c.W << "x" << c.H;
    cvBitmap* back = bftest::ReadBitmap(file);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->System.Width, c.W);
    EXPECT_EQ(back->System.Height, c.H);
    EXPECT_EQ(back->System.Stride, c.W);
    EXPECT_EQ(back->System.Format, c.Format);
    EXPECT_EQ(back->System.HasColorKey, 1);
    EXPECT_EQ(back->System.ColorKey, c.Key);
    cvBitmap_Destroy(&back);
    cvBitmap_Destroy(&bitmap);
  }
}

TEST(BitmapFileWrite, PaletteBlocks) {
  for (int32_t size : {256, 16}) {
    cvBitmap* bitmap = bftest::MakeBitmap(4, 4, CV_PIXELFORMAT_8BIT_PAL,
                                          [](int x, int y, uint8_t* p) { p[0] = (uint8_t)(x + 4 * y); });
    cvBitmap_Palette* palette = cvBitmap_Palette_Create(CV_PIXELFORMAT_32BIT_XRGB, size);
    ASSERT_NE(palette, nullptr);
    for (int32_t i = 0; i < size; ++i) cvBitmap_Palette_SetColor(palette, i, i, 255 - i, 3 * i, 255);
    ASSERT_TRUE(cvBitmap_SetPalette(bitmap, palette));
    cvBitmap_Palette_Destroy(&palette);

    const Bytes file = bftest::WriteBitmap(bitmap);
    EXPECT_EQ(file[5], 0x08 | 0x01);
    if (size == 256) {
      EXPECT_EQ(file[9], 0x2D);
      EXPECT_EQ(file[10 + 1024], 0);  // tag of level 0 right after the entries
    } else {
      EXPECT_EQ(Slice(file, 9, 2), (Bytes{0x0D, 0x10}));
      EXPECT_EQ(file[11 + 64], 0);
    }
    cvBitmap* back = bftest::ReadBitmap(file);
    ASSERT_NE(back, nullptr);
    cvBitmap_Palette* read = cvBitmap_GetPalette(back);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->Size, size);
    EXPECT_EQ(read->Format, CV_PIXELFORMAT_32BIT_XRGB);
    int32_t r, g, b, a;
    ASSERT_TRUE(cvBitmap_Palette_GetColor(read, 5, &r, &g, &b, &a));
    EXPECT_EQ(r, 5);
    EXPECT_EQ(g, 250);
    EXPECT_EQ(b, 15);
    cvBitmap_Destroy(&back);
    cvBitmap_Destroy(&bitmap);
  }
}

TEST(BitmapFileWrite, StrideIsDroppedAndAlphaBitmapComesBack) {
  // A BMP-read bitmap 3 pixels wide has a stride of 4.
  const Bytes bmp = bftest::MakeBmp(3, -2, 8, Bytes(16, 0), {0, 1, 2, 0xEE, 10, 11, 12, 0xEE}, 4);
  cvBitmap* bitmap = bftest::ReadBitmap(bmp);
  ASSERT_NE(bitmap, nullptr);
  ASSERT_EQ(bitmap->System.Stride, 4);
  cvBitmap* alpha = bftest::MakeBitmap(3, 2, CV_PIXELFORMAT_8BIT_GRAY,
                                       [](int x, int, uint8_t* p) { p[0] = (uint8_t)(100 + x); });
  ASSERT_TRUE(cvBitmap_SetAlpha(bitmap, alpha));
  cvBitmap_Destroy(&alpha);
  const Bytes file = bftest::WriteBitmap(bitmap);
  // Flags: bytes size, alpha and palette; header 10 bytes; palette block 2 +
  // 16; tag; 6 packed pixels; end tag; then the alpha bitmap's own file.
  ASSERT_GT(file.size(), 40u);
  EXPECT_EQ(file[5], 0x20 | 0x08 | 0x04);
  EXPECT_EQ(Slice(file, 10, 2), (Bytes{0x0D, 4}));
  EXPECT_EQ(file[28], 0);
  EXPECT_EQ(Slice(file, 29, 6), (Bytes{0, 1, 2, 10, 11, 12}));
  EXPECT_EQ(file[35], 0x0F);
  EXPECT_EQ(Slice(file, 36, 4), (Bytes{'C', 'v', 'B', 'm'}));

  cvBitmap* back = bftest::ReadBitmap(file);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->System.Stride, 3);
  EXPECT_EQ(cvBitmap_GetMipData(back, 0)[3], 10);
  cvBitmap* backAlpha = cvBitmap_GetAlpha(back);
  ASSERT_NE(backAlpha, nullptr);
  EXPECT_EQ(cvBitmap_GetMipData(backAlpha, 0)[2], 102);
  cvBitmap_Destroy(&back);
  cvBitmap_Destroy(&bitmap);
}

TEST(BitmapFileNames, DiskRoundTripAndMissingFolder) {
  cvtest::TempDir dir;
  cvBitmap* bitmap = bftest::MakeBitmap(5, 7, CV_PIXELFORMAT_16BIT_4444_ARGB,
                                        [](int x, int y, uint8_t* p) { p[0] = (uint8_t)(x * y), p[1] = 0xF0; });
  ASSERT_TRUE(cvBitmap_WriteToFileName(bitmap, nullptr, dir.File("b.cvb").c_str()));
  cvBitmap* back = cvBitmap_CreateFromFileName(nullptr, dir.File("b.cvb").c_str());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->System.Format, CV_PIXELFORMAT_16BIT_4444_ARGB);
  EXPECT_EQ(0, memcmp(cvBitmap_GetMipData(back, 0), cvBitmap_GetMipData(bitmap, 0), 5 * 7 * 2));
  cvBitmap_Destroy(&back);

  cvErrorLog_Clear();
  EXPECT_FALSE(cvBitmap_WriteToFileName(bitmap, nullptr, dir.File("none/b.cvb").c_str()));
  EXPECT_LOGGED(-1);
  cvErrorLog_Clear();
  EXPECT_EQ(cvBitmap_CreateFromFileName(nullptr, dir.File("none.cvb").c_str()), nullptr);
  EXPECT_LOGGED(-1);
  cvBitmap_Destroy(&bitmap);
}

Bytes SmallFile(uint8_t Version, uint8_t Tag) {
  return Bytes{'C', 'v', 'B', 'm', Version, 0x20, CV_PIXELFORMAT_8BIT_GRAY, 0x01, 2, 2, Tag, 1, 2, 3, 4, 0x0F};
}

TEST(BitmapFileRead, VersionNibbleAndEmptyLevels) {
  cvBitmap* bitmap = bftest::ReadBitmap(SmallFile(0x41, 0x00));
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(cvBitmap_GetMipData(bitmap, 0)[3], 4);
  cvBitmap_Destroy(&bitmap);

  cvErrorLog_Clear();
  EXPECT_EQ(bftest::ReadBitmap(SmallFile(0x50, 0x00)), nullptr);
  EXPECT_LOGGED(-1);

  // A level flagged as stored without pixels exists, zero-filled; the bytes
  // that follow belong to what comes next (here: tag 1 > max mip ends).
  Bytes empty{'C', 'v', 'B', 'm', 0x40, 0x20, CV_PIXELFORMAT_8BIT_GRAY, 0x01, 2, 2, 0x10, 0x0F};
  uint32_t end = 0;
  bitmap = bftest::ReadBitmap(empty, &end);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(end, empty.size());
  ASSERT_NE(cvBitmap_GetMipData(bitmap, 0), nullptr);
  EXPECT_EQ(cvBitmap_GetMipData(bitmap, 0)[0], 0);
  EXPECT_TRUE(cvBitmap_IsMipValid(bitmap, 0));
  cvBitmap_Destroy(&bitmap);
}

TEST(BitmapFileRead, DamagedFilesFailWithLogEntry) {
  const Bytes good = SmallFile(0x40, 0x00);
  // Every truncation fails cleanly.
  for (size_t n = 0; n < good.size(); ++n) {
    cvErrorLog_Clear();
    EXPECT_EQ(bftest::ReadBitmap(Bytes(good.begin(), good.begin() + (ptrdiff_t)n)), nullptr) << n;
    EXPECT_LOGGED(-1);
  }
  const Bytes bad[] = {
      // Compressed level.
      {'C', 'v', 'B', 'm', 0x40, 0x20, 2, 0x01, 2, 2, 0x20, 1, 2, 3, 4, 0x0F},
      // Unknown format code and a maximum mip level beyond the eight levels.
      {'C', 'v', 'B', 'm', 0x40, 0x20, 21, 0x01, 2, 2, 0x00, 1, 2, 3, 4, 0x0F},
      {'C', 'v', 'B', 'm', 0x40, 0x20, 2, 0x81, 2, 2, 0x00, 1, 2, 3, 4, 0x0F},
      // 32768 x 32768 x 4 bytes claimed by a few bytes of file.
      {'C', 'v', 'B', 'm', 0x40, 0x01, 17, 0x01, 0xFF, 0x00, 1, 2, 3, 0x0F},
      // ... or as a level without stored pixels.
      {'C', 'v', 'B', 'm', 0x40, 0x01, 17, 0x01, 0xFF, 0x10, 0x0F},
      // Compressed palette, palette count beyond the file, palette of no format.
      {'C', 'v', 'B', 'm', 0x40, 0x28, 1, 0x01, 1, 1, 0x4D, 0, 0, 0, 0, 0x00, 0, 0x0F},
      {'C', 'v', 'B', 'm', 0x40, 0x28, 1, 0x01, 1, 1, 0x0D, 200, 0, 0, 0, 0, 0x00, 0, 0x0F},
      {'C', 'v', 'B', 'm', 0x40, 0x28, 1, 0x01, 1, 1, 0x01, 1, 0, 0x00, 0, 0x0F},
      // Neither engine nor BMP signature.
      {'X', 'v', 'B', 'm', 0x40},
  };
  for (const Bytes& b : bad) {
    cvErrorLog_Clear();
    EXPECT_EQ(bftest::ReadBitmap(b), nullptr);
    EXPECT_LOGGED(-1);
  }
}

TEST(BitmapFileRead, AlphaNestingIsBounded) {
  // Each file announces an alpha bitmap that announces another one.
  Bytes chain;
  for (int i = 0; i < 64; ++i) {
    const Bytes one{'C', 'v', 'B', 'm', 0x40, 0x24, 2, 0x01, 1, 1, 0x00, 7, 0x0F};
    chain.insert(chain.end(), one.begin(), one.end());
  }
  cvErrorLog_Clear();
  EXPECT_EQ(bftest::ReadBitmap(chain), nullptr);
  EXPECT_LOGGED(-1);
}

TEST(BitmapFileRead, FailedAllocationsCleanUp) {
  cvBitmap* source = bftest::MakeBitmap(4, 4, CV_PIXELFORMAT_8BIT_PAL, [](int x, int, uint8_t* p) { p[0] = (uint8_t)x; });
  cvBitmap_Palette* palette = cvBitmap_Palette_Create(CV_PIXELFORMAT_32BIT_XRGB, 16);
  cvBitmap_SetPalette(source, palette);
  cvBitmap_Palette_Destroy(&palette);
  cvBitmap* alpha = bftest::MakeBitmap(4, 4, CV_PIXELFORMAT_8BIT_GRAY, [](int, int, uint8_t* p) { p[0] = 1; });
  cvBitmap_SetAlpha(source, alpha);
  cvBitmap_Destroy(&alpha);
  const Bytes file = bftest::WriteBitmap(source);
  cvBitmap_Destroy(&source);
  // Every allocation of the reader fails in turn: the read fails with a log
  // entry and frees what it built (the sanitizer build checks for leaks).
  int failures = 0;
  cvtest::MemoryReader reader(file);
  cvtest::WalkAllocationFailures(
      59,
      [&] {
        cvVFile_Seek(reader.File(), 0, CV_VFILE_SEEKSET);
        return cvBitmap_CreateFromFile(reader.File());
      },
      [&](int n, cvBitmap* bitmap) {
        // Failing to pre-create the palette pools with the first bitmap is
        // harmless (they grow on demand); any other failure fails the read.
        if (bitmap) {
          cvBitmap_Destroy(&bitmap);
          return;
        }
        EXPECT_LOGGED(-1) << n;
        ++failures;
      },
      [&](cvBitmap* bitmap) {
        EXPECT_NE(bitmap, nullptr);
        cvBitmap_Destroy(&bitmap);
        EXPECT_GE(failures, 6);  // records, palette, entries, levels, alpha
      });
}

}  // namespace
