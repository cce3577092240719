// Bitmaps, palettes and locks: reference counts, level sizes, in-place and
// converted locks, refusals, commit on unlock, key carry-over and palette keys.
#include <cstring>
#include <vector>

#include "Bitmap/cvbitmap.h"
#include "testsupport.h"

namespace {

// A bitmap whose level 0 is filled through a write lock.
cvBitmap* Filled(int32_t W, int32_t H, cvPixelFormat F, const std::vector<uint32_t>& Pixels) {
  cvBitmap* B = cvBitmap_Create(W, H, 0, F);
  cvBitmap* L = nullptr;
  EXPECT_TRUE(cvBitmap_LockForWrite(B, &L, 0, 0));
  auto* P = static_cast<uint8_t*>(cvBitmap_GetBits(L));
  const cvPixelFormat_Operations* Ops = cvPixelFormat_GetOperations(F);
  for (int32_t y = 0; y < H; ++y) {
    uint8_t* Row = P + (size_t)y * L->System.Stride * Ops->BytesPerPixel;
    for (int32_t x = 0; x < W; ++x) Ops->PutPixel(&Row, Pixels[(size_t)y * W + x]);
  }
  EXPECT_TRUE(cvBitmap_UnLock(L));
  return B;
}

uint32_t LockPixel(cvBitmap* Lock, int32_t X, int32_t Y) {
  const cvPixelFormat_Operations* Ops = cvPixelFormat_GetOperations(Lock->System.Format);
  const uint8_t* P = static_cast<uint8_t*>(cvBitmap_GetBits(Lock)) +
                     ((size_t)Y * Lock->System.Stride + X) * Ops->BytesPerPixel;
  return Ops->GetPixel(&P);
}

TEST(Bitmap, CreateReferencesAndDestroy) {
  cvBitmap* B = cvBitmap_Create(16, 8, 0, CV_PIXELFORMAT_16BIT_565_RGB);
  ASSERT_NE(B, nullptr);
  EXPECT_EQ(B->RefCount, 1);
  EXPECT_EQ(cvBitmap_GetMipData(B, 0), nullptr);  // no pixel memory yet

  cvBitmap* Other = B;
  ASSERT_TRUE(cvBitmap_CreateRef(B));
  EXPECT_EQ(cvBitmap_Destroy(&Other), 0);  // still referenced
  EXPECT_EQ(Other, nullptr);
  EXPECT_EQ(cvBitmap_Destroy(&B), 1);
  EXPECT_EQ(B, nullptr);

  cvErrorLog_Clear();
  EXPECT_EQ(cvBitmap_Create(4, 4, 0, CV_PIXELFORMAT_WAVELET), nullptr);
  EXPECT_LOGGED(-1);
  EXPECT_EQ(cvBitmap_Create(0, 4, 0, CV_PIXELFORMAT_8BIT_GRAY), nullptr);
  EXPECT_EQ(cvBitmap_Create(1 << 20, 1 << 20, 0, CV_PIXELFORMAT_32BIT_ARGB), nullptr);
}

TEST(Bitmap, LevelSizesRoundUp) {
  cvBitmap_Info I = {100, 30, 100, CV_PIXELFORMAT_24BIT_RGB, 0, 3, 0, 0, nullptr};
  int32_t W, H, S;
  const int32_t Want[4][2] = {{100, 30}, {50, 15}, {25, 8}, {13, 4}};
  for (int32_t Level = 1; Level < 4; ++Level) {
    ASSERT_TRUE(cvBitmap_GetLevelSize(&I, Level, &W, &H, &S));
    EXPECT_EQ(W, Want[Level][0]) << Level;
    EXPECT_EQ(H, Want[Level][1]) << Level;
  }
  uint64_t Bytes = 0;
  ASSERT_TRUE(cvBitmap_GetLevelBytes(&I, 3, &Bytes));
  EXPECT_EQ(Bytes, 3u * 13 * 4);
}

TEST(Bitmap, ReadLockInOwnFormatSharesPixelsAndDoesNotCommit) {
  cvBitmap* B = Filled(4, 2, CV_PIXELFORMAT_8BIT_GRAY, {1, 2, 3, 4, 5, 6, 7, 8});
  cvBitmap* L = nullptr;
  ASSERT_TRUE(cvBitmap_LockForRead(B, &L, 0, 0, CV_PIXELFORMAT_8BIT_GRAY, 0, 0));
  EXPECT_EQ(cvBitmap_GetBits(L), cvBitmap_GetMipData(B, 0));
  EXPECT_EQ(B->LockCount, 1);

  // Write locks are refused while a read lock is held.
  cvBitmap* W = nullptr;
  cvErrorLog_Clear();
  EXPECT_FALSE(cvBitmap_LockForWrite(B, &W, 0, 0));
  EXPECT_LOGGED(-1);
  // A lock cannot be locked.
  cvBitmap* Inner = nullptr;
  EXPECT_FALSE(cvBitmap_LockForRead(L, &Inner, 0, 0, CV_PIXELFORMAT_8BIT_GRAY, 0, 0));
  ASSERT_TRUE(cvBitmap_UnLock(L));
  EXPECT_EQ(B->LockCount, 0);

  // Writing through a converted read lock changes nothing in the bitmap.
  ASSERT_TRUE(cvBitmap_LockForRead(B, &L, 0, 0, CV_PIXELFORMAT_32BIT_XRGB, 0, 0));
  EXPECT_NE(cvBitmap_GetBits(L), cvBitmap_GetMipData(B, 0));
  EXPECT_EQ(LockPixel(L, 2, 1), 0x070707u);
  std::memset(cvBitmap_GetBits(L), 0xFF, 4);
  ASSERT_TRUE(cvBitmap_UnLock(L));
  EXPECT_EQ(cvBitmap_GetMipData(B, 0)[0], 1);
  cvBitmap_Destroy(&B);
}

TEST(Bitmap, WriteLocksExcludeOthersAndCommitOnUnlock) {
  cvBitmap* B = Filled(2, 2, CV_PIXELFORMAT_16BIT_565_RGB, {0, 0, 0, 0});
  cvBitmap* W = nullptr;
  ASSERT_TRUE(cvBitmap_LockForWrite(B, &W, 0, 0));
  EXPECT_EQ(B->LockCount, -1);
  cvBitmap* Second = nullptr;
  EXPECT_FALSE(cvBitmap_LockForWrite(B, &Second, 0, 0));
  EXPECT_FALSE(cvBitmap_LockForRead(B, &Second, 0, 0, CV_PIXELFORMAT_16BIT_565_RGB, 0, 0));
  EXPECT_FALSE(cvBitmap_LockForWriteFormat(B, &Second, 0, 0, CV_PIXELFORMAT_24BIT_RGB));
  static_cast<uint16_t*>(cvBitmap_GetBits(W))[3] = 0xF800;
  ASSERT_TRUE(cvBitmap_UnLock(W));
  EXPECT_EQ(B->LockCount, 0);
  cvBitmap* R = nullptr;
  ASSERT_TRUE(cvBitmap_LockForRead(B, &R, 0, 0, CV_PIXELFORMAT_24BIT_RGB, 0, 0));
  EXPECT_EQ(LockPixel(R, 1, 1), 0xFC0204u);  // 6-bit green 0 decomposes to 2
  cvBitmap_UnLock(R);

  // Levels above the maximum are built before a write lock and raise it.
  cvBitmap* Levels[2] = {};
  ASSERT_TRUE(cvBitmap_LockForWrite(B, Levels, 0, 1));
  EXPECT_EQ(B->LockCount, -2);
  EXPECT_EQ(B->System.MaximumMip, 1);
  EXPECT_EQ(Levels[1]->System.Width, 1);
  ASSERT_TRUE(cvBitmap_UnLockArray(Levels, 2));
  EXPECT_EQ(B->LockCount, 0);
  EXPECT_FALSE(cvBitmap_LockForWrite(B, Levels, 0, 8));
  EXPECT_EQ(B->LockCount, 0);
  cvBitmap_Destroy(&B);
}

TEST(Bitmap, FailedMultiLevelLockLeavesNoLock) {
  cvBitmap* B = Filled(4, 4, CV_PIXELFORMAT_8BIT_GRAY, std::vector<uint32_t>(16, 9));
  cvBitmap* Locks[4] = {};
  // Each allocation of the three converted levels fails in turn.
  cvtest::WalkAllocationFailures(
      11, [&] { return cvBitmap_LockForRead(B, Locks, 0, 2, CV_PIXELFORMAT_32BIT_ARGB, 0, 0); },
      [&](int N, int Ok) {
        EXPECT_FALSE(Ok) << N;
        EXPECT_EQ(B->LockCount, 0);
        if (Ok) cvBitmap_UnLockArray(Locks, 3);
      },
      [&](int Ok) {
        ASSERT_TRUE(Ok);
        cvBitmap_UnLockArray(Locks, 3);
      });
  EXPECT_EQ(B->LockCount, 0);
  EXPECT_EQ(B->RefCount, 1);
  cvBitmap_Destroy(&B);
}

TEST(Bitmap, TrueColourLockedAsPaletteGetsBuiltPaletteAndMappedPixels) {
  const uint32_t Red = 0xFF0000, Green = 0x00FF00, Blue = 0x0000FF;
  cvBitmap* B = Filled(3, 2, CV_PIXELFORMAT_32BIT_XRGB, {Red, Green, Blue, Blue, Green, Red});
  cvBitmap* L = nullptr;
  ASSERT_TRUE(cvBitmap_LockForRead(B, &L, 0, 0, CV_PIXELFORMAT_8BIT_PAL, 0, 0));
  cvBitmap_Palette* P = cvBitmap_GetPalette(L);
  ASSERT_NE(P, nullptr);
  uint8_t Entries[256 * 4] = {};
  ASSERT_TRUE(cvBitmap_Palette_GetData(P, Entries, CV_PIXELFORMAT_32BIT_XRGB, 256));
  const uint8_t* Pixels = static_cast<uint8_t*>(cvBitmap_GetBits(L));
  const uint32_t Expected[6] = {Red, Green, Blue, Blue, Green, Red};
  // The good builder works in YUV, so its entries may be off by a step or two.
  for (int i = 0; i < 6; ++i) {
    const uint8_t* E = Entries + Pixels[i] * 4;
    EXPECT_NEAR(E[2], (Expected[i] >> 16) & 0xFF, 2) << i;
    EXPECT_NEAR(E[1], (Expected[i] >> 8) & 0xFF, 2) << i;
    EXPECT_NEAR(E[0], Expected[i] & 0xFF, 2) << i;
  }
  EXPECT_EQ(Pixels[0], Pixels[5]);
  EXPECT_EQ(Pixels[1], Pixels[4]);
  EXPECT_EQ(Pixels[2], Pixels[3]);
  EXPECT_EQ(B->System.Palette, nullptr);  // the bitmap itself is unchanged
  cvBitmap_UnLock(L);
  cvBitmap_Destroy(&B);
}

TEST(Bitmap, SetFormatCarriesTheColourKey) {
  // True colour to true colour: the key is converted.
  cvBitmap* B = Filled(2, 1, CV_PIXELFORMAT_24BIT_RGB, {0xFF00FF, 0x123456});
  ASSERT_TRUE(cvBitmap_SetColorKey(B, 1, 0xFF00FF, 0));
  ASSERT_TRUE(cvBitmap_SetFormat(B, CV_PIXELFORMAT_16BIT_565_RGB));
  EXPECT_TRUE(B->System.HasColorKey);
  EXPECT_EQ(B->System.ColorKey, 0xF81Fu);
  EXPECT_EQ(reinterpret_cast<uint16_t*>(cvBitmap_GetMipData(B, 0))[0], 0xF81F);

  // Into a palettized format the key becomes index 255 and key pixels map to it.
  ASSERT_TRUE(cvBitmap_SetFormat(B, CV_PIXELFORMAT_8BIT_PAL));
  EXPECT_EQ(B->System.ColorKey, 255u);
  EXPECT_EQ(cvBitmap_GetMipData(B, 0)[0], 255);
  EXPECT_NE(cvBitmap_GetMipData(B, 0)[1], 255);
  ASSERT_NE(B->System.Palette, nullptr);

  // From palettized: the key entry's colour, never 0.
  int32_t R, G, Bl, A;
  ASSERT_TRUE(cvBitmap_Palette_SetColorKey(B->System.Palette, 0, 0, -1));
  ASSERT_TRUE(cvBitmap_Palette_GetColor(B->System.Palette, 255, &R, &G, &Bl, &A));
  uint8_t Black[3] = {0, 0, 0};
  ASSERT_TRUE(cvBitmap_Palette_SetData(B->System.Palette, Black, CV_PIXELFORMAT_24BIT_RGB, 0));
  void* E = nullptr;
  ASSERT_TRUE(cvBitmap_Palette_Lock(B->System.Palette, &E, nullptr, nullptr));
  std::memset(static_cast<uint8_t*>(E) + 255 * 3, 0, 3);
  ASSERT_TRUE(cvBitmap_Palette_UnLock(B->System.Palette));
  ASSERT_TRUE(cvBitmap_SetFormat(B, CV_PIXELFORMAT_32BIT_XRGB));
  EXPECT_EQ(B->System.ColorKey, 1u);
  EXPECT_EQ(B->System.Palette, nullptr);
  cvBitmap_Destroy(&B);
}

TEST(Bitmap, ColourKeyOnlyIfUsedAndRefusals) {
  cvBitmap* B = Filled(2, 2, CV_PIXELFORMAT_8BIT_PAL, {1, 2, 3, 4});
  ASSERT_TRUE(cvBitmap_SetColorKey(B, 1, 255, 1));
  EXPECT_FALSE(B->System.HasColorKey);  // no pixel uses 255
  ASSERT_TRUE(cvBitmap_SetColorKey(B, 1, 4, 1));
  EXPECT_TRUE(B->System.HasColorKey);
  EXPECT_EQ(B->System.ColorKey, 4u);
  cvErrorLog_Clear();
  EXPECT_FALSE(cvBitmap_SetColorKey(B, 1, 256, 0));  // does not fit one byte
  EXPECT_LOGGED(-1);
  cvBitmap* L = nullptr;
  ASSERT_TRUE(cvBitmap_LockForRead(B, &L, 0, 0, CV_PIXELFORMAT_8BIT_PAL, 1, 4));
  EXPECT_FALSE(cvBitmap_SetColorKey(B, 0, 0, 0));  // locked
  cvBitmap_UnLock(L);
  cvBitmap_Destroy(&B);

  // Keys on formats with alpha are logged but accepted.
  B = Filled(1, 1, CV_PIXELFORMAT_32BIT_ARGB, {0});
  cvErrorLog_Clear();
  EXPECT_TRUE(cvBitmap_SetColorKey(B, 1, 0, 0));
  EXPECT_LOGGED(-1);
  cvBitmap_Destroy(&B);
}

TEST(Palette, KeyStandsOnlyAtItsIndex) {
  cvBitmap_Palette* P = cvBitmap_Palette_Create(CV_PIXELFORMAT_32BIT_XRGB, 256);
  ASSERT_NE(P, nullptr);
  ASSERT_TRUE(cvBitmap_Palette_SetColorKey(P, 1, 0, 0));
  void* E = nullptr;
  cvPixelFormat F;
  int32_t Size;
  ASSERT_TRUE(cvBitmap_Palette_Lock(P, &E, &F, &Size));
  EXPECT_EQ(F, CV_PIXELFORMAT_32BIT_XRGB);
  EXPECT_EQ(Size, 256);
  auto* V = static_cast<uint32_t*>(E);
  for (int i = 0; i < 256; ++i) V[i] = 0x00100000u + (uint32_t)i;
  V[5] = 0;
  EXPECT_FALSE(cvBitmap_Palette_Lock(P, &E, &F, &Size));  // already locked
  cvBitmap_Palette* Held = P;
  EXPECT_FALSE(cvBitmap_Palette_Destroy(&Held));  // refused while locked
  ASSERT_TRUE(cvBitmap_Palette_UnLock(P));
  uint32_t Back[256];
  ASSERT_TRUE(cvBitmap_Palette_GetData(P, Back, CV_PIXELFORMAT_32BIT_XRGB, 256));
  EXPECT_EQ(Back[5], 1u);
  EXPECT_EQ(Back[0], 0u);

  // Setting by colour: dark transparent becomes the key, the key index is
  // refused, a colour equal to the key is nudged.
  ASSERT_TRUE(cvBitmap_Palette_SetColor(P, 7, 200, 200, 200, 10));
  ASSERT_TRUE(cvBitmap_Palette_GetData(P, Back, CV_PIXELFORMAT_32BIT_XRGB, 256));
  EXPECT_EQ(Back[7], 0u);
  EXPECT_FALSE(cvBitmap_Palette_SetColor(P, 0, 1, 2, 3, 255));
  ASSERT_TRUE(cvBitmap_Palette_SetColor(P, 9, 0, 0, 0, 255));
  ASSERT_TRUE(cvBitmap_Palette_GetData(P, Back, CV_PIXELFORMAT_32BIT_XRGB, 256));
  EXPECT_EQ(Back[9], 1u);

  cvBitmap_Info I;
  ASSERT_TRUE(cvBitmap_Palette_GetInfo(P, &I));
  EXPECT_EQ((std::vector<int32_t>{I.Width, I.Height, I.HasColorKey}), (std::vector<int32_t>{256, 1, 1}));
  ASSERT_TRUE(cvBitmap_Palette_Destroy(&P));
  EXPECT_EQ(P, nullptr);

  EXPECT_EQ(cvBitmap_Palette_Create(CV_PIXELFORMAT_8BIT_PAL, 16), nullptr);
  EXPECT_EQ(cvBitmap_Palette_Create(CV_PIXELFORMAT_24BIT_RGB, 0), nullptr);
}

TEST(Palette, CopyAndConvertBetweenFormats) {
  cvBitmap_Palette* A = cvBitmap_Palette_Create(CV_PIXELFORMAT_24BIT_RGB, 2);
  const uint8_t Rgb[6] = {0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF};
  ASSERT_TRUE(cvBitmap_Palette_SetData(A, Rgb, CV_PIXELFORMAT_24BIT_RGB, 2));
  cvBitmap_Palette* B = cvBitmap_Palette_Create(CV_PIXELFORMAT_16BIT_565_RGB, 4);
  ASSERT_TRUE(cvBitmap_Palette_Copy(B, A));
  uint16_t Out[4] = {};
  ASSERT_TRUE(cvBitmap_Palette_GetData(B, Out, CV_PIXELFORMAT_16BIT_565_RGB, 4));
  EXPECT_EQ(Out[0], 0xF800);
  EXPECT_EQ(Out[1], 0x001F);
  EXPECT_FALSE(cvBitmap_Palette_Copy(A, B));  // smaller destination
  cvBitmap_Palette_Destroy(&A);
  cvBitmap_Palette_Destroy(&B);
}

TEST(Bitmap, PalettesAndAlphaBitmapsAreReferenced) {
  cvBitmap* B = Filled(2, 2, CV_PIXELFORMAT_8BIT_PAL, {0, 1, 1, 0});
  cvBitmap_Palette* P = cvBitmap_Palette_Create(CV_PIXELFORMAT_24BIT_RGB, 2);
  ASSERT_TRUE(cvBitmap_SetPalette(B, P));
  EXPECT_EQ(P->RefCount, 2);
  EXPECT_EQ(cvBitmap_GetPalette(B), P);
  cvBitmap_Palette_Destroy(&P);

  cvBitmap* Alpha = Filled(2, 2, CV_PIXELFORMAT_8BIT_GRAY, {0, 255, 128, 64});
  ASSERT_TRUE(cvBitmap_SetAlpha(B, Alpha));
  EXPECT_EQ(Alpha->RefCount, 2);
  cvBitmap* L = nullptr;
  ASSERT_TRUE(cvBitmap_LockForRead(B, &L, 0, 0, CV_PIXELFORMAT_16BIT_565_RGB, 0, 0));
  ASSERT_NE(cvBitmap_GetAlphaLock(L), nullptr);
  EXPECT_EQ(static_cast<uint8_t*>(cvBitmap_GetBits(cvBitmap_GetAlphaLock(L)))[1], 255);
  EXPECT_FALSE(cvBitmap_SetAlpha(B, nullptr));  // read-locked
  cvBitmap_UnLock(L);
  // A format with good alpha takes the alpha into its pixels instead.
  ASSERT_TRUE(cvBitmap_LockForRead(B, &L, 0, 0, CV_PIXELFORMAT_32BIT_ARGB, 0, 0));
  EXPECT_EQ(cvBitmap_GetAlphaLock(L), nullptr);
  EXPECT_EQ(LockPixel(L, 1, 0) >> 24, 255u);
  EXPECT_EQ(LockPixel(L, 0, 1) >> 24, 128u);
  cvBitmap_UnLock(L);
  cvBitmap_Destroy(&B);
  EXPECT_EQ(Alpha->RefCount, 1);
  cvBitmap_Destroy(&Alpha);
}

TEST(Bitmap, DriverFlagsValidation) {
  cvBitmap* B = cvBitmap_Create(1, 1, 0, CV_PIXELFORMAT_8BIT_GRAY);
  ASSERT_TRUE(cvBitmap_SetDriverFlags(B, 0x40000));
  EXPECT_EQ(B->DriverFlags, 0x40002u);
  ASSERT_TRUE(cvBitmap_SetDriverFlags(B, 0x20001));
  EXPECT_EQ(B->DriverFlags, 0x1u);
  cvErrorLog_Clear();
  EXPECT_FALSE(cvBitmap_SetDriverFlags(B, 0x40004));
  EXPECT_LOGGED(-1);
  EXPECT_EQ(B->DriverFlags, 0u);
  EXPECT_FALSE(cvBitmap_SetDriverFlags(B, 0x10000));
  cvBitmap_Destroy(&B);
}

}  // namespace
