// The driver copy: format choice, attaching and uploading, driver locks and
// read-back, gamma tables and their application to the driver copy.
#include <cstring>
#include <vector>

#include "Bitmap/cvbitmap.h"
#include "testdriver.h"
#include "testsupport.h"

namespace {

using testdriver::Driver;
using testdriver::Pixel;

cvBitmap* Gradient(int32_t W, int32_t H, cvPixelFormat F) {
  cvBitmap* B = cvBitmap_Create(W, H, 0, F);
  cvBitmap* L = nullptr;
  EXPECT_TRUE(cvBitmap_LockForWrite(B, &L, 0, 0));
  const cvPixelFormat_Operations* Ops = cvPixelFormat_GetOperations(F);
  for (int32_t y = 0; y < H; ++y) {
    uint8_t* P = static_cast<uint8_t*>(cvBitmap_GetBits(L)) + (size_t)y * L->System.Stride * Ops->BytesPerPixel;
    for (int32_t x = 0; x < W; ++x) Ops->PutColor(&P, x * 16, y * 16, 128, 255);
  }
  EXPECT_TRUE(cvBitmap_UnLock(L));
  return B;
}

TEST(DriverFormat, AlphaWantedPicks4444OverPlain555) {
  cvDriver_Table* D = testdriver::Make({{CV_PIXELFORMAT_16BIT_555_RGB, CV_DRIVER_FORMAT_3D},
                                        {CV_PIXELFORMAT_16BIT_4444_ARGB, CV_DRIVER_FORMAT_3D}});
  cvDriver_PixelFormat Chosen{};
  void* T = cvBitmap_ChooseDriverFormat(D, 8, 8, 1, 0, CV_PIXELFORMAT_24BIT_RGB, 0, 1, 0, 0, &Chosen);
  ASSERT_NE(T, nullptr);
  EXPECT_EQ(Chosen.PixelFormat, CV_PIXELFORMAT_16BIT_4444_ARGB);
  // Without alpha the plain format wins.
  ASSERT_NE(cvBitmap_ChooseDriverFormat(D, 8, 8, 1, 0, CV_PIXELFORMAT_24BIT_RGB, 0, 0, 0, 0, &Chosen), nullptr);
  EXPECT_EQ(Chosen.PixelFormat, CV_PIXELFORMAT_16BIT_555_RGB);
}

TEST(DriverFormat, UsageFormatAndKeyScoring) {
  cvDriver_Table* D = testdriver::Make({{CV_PIXELFORMAT_32BIT_XRGB, CV_DRIVER_FORMAT_2D},
                                        {CV_PIXELFORMAT_16BIT_565_RGB, CV_DRIVER_FORMAT_3D},
                                        {CV_PIXELFORMAT_16BIT_555_RGB, CV_DRIVER_FORMAT_3D},
                                        {CV_PIXELFORMAT_16BIT_1555_ARGB, CV_DRIVER_FORMAT_3D},
                                        {CV_PIXELFORMAT_8BIT_PAL, CV_DRIVER_FORMAT_3D},
                                        {CV_PIXELFORMAT_32BIT_XRGB, CV_DRIVER_FORMAT_PALETTE}});
  cvDriver_PixelFormat C{};
  // Only 3D entries qualify; among them the masks closest to 24-bit RGB's
  // win: 565 (6-bit green).
  ASSERT_NE(cvBitmap_ChooseDriverFormat(D, 4, 4, 1, 0, CV_PIXELFORMAT_24BIT_RGB, 0, 0, 0, 0, &C), nullptr);
  EXPECT_EQ(C.PixelFormat, CV_PIXELFORMAT_16BIT_565_RGB);
  // The bitmap's own format is preferred; a preferred format more so.
  ASSERT_NE(cvBitmap_ChooseDriverFormat(D, 4, 4, 1, 0, CV_PIXELFORMAT_16BIT_555_RGB, 0, 0, 0, 0, &C), nullptr);
  EXPECT_EQ(C.PixelFormat, CV_PIXELFORMAT_16BIT_555_RGB);
  ASSERT_NE(cvBitmap_ChooseDriverFormat(D, 4, 4, 1, CV_PIXELFORMAT_8BIT_PAL, CV_PIXELFORMAT_16BIT_555_RGB, 0, 0,
                                        0, 0, &C),
            nullptr);
  EXPECT_EQ(C.PixelFormat, CV_PIXELFORMAT_8BIT_PAL);
  // A colour key is best served by 1555.
  ASSERT_NE(cvBitmap_ChooseDriverFormat(D, 4, 4, 1, 0, CV_PIXELFORMAT_24BIT_RGB, 1, 0, 0, 0, &C), nullptr);
  EXPECT_EQ(C.PixelFormat, CV_PIXELFORMAT_16BIT_1555_ARGB);
  // 2D use finds the 2D entry.
  ASSERT_NE(cvBitmap_ChooseDriverFormat(D, 4, 4, 1, 0, CV_PIXELFORMAT_24BIT_RGB, 0, 0, 0, CV_DRIVER_FORMAT_2D, &C),
            nullptr);
  EXPECT_EQ(C.PixelFormat, CV_PIXELFORMAT_32BIT_XRGB);
  // No entry for light maps: refused.
  cvErrorLog_Clear();
  EXPECT_EQ(cvBitmap_ChooseDriverFormat(D, 4, 4, 1, 0, CV_PIXELFORMAT_24BIT_RGB, 0, 0, 0, CV_DRIVER_FORMAT_LIGHTMAP,
                                        &C),
            nullptr);
  EXPECT_LOGGED(-1);
  Driver().RefuseCreate = true;
  const int32_t Before = cvErrorLog_Count();
  EXPECT_EQ(cvBitmap_ChooseDriverFormat(D, 4, 4, 1, 0, CV_PIXELFORMAT_24BIT_RGB, 0, 0, 0, 0, &C), nullptr);
  EXPECT_EQ(cvErrorLog_Count() - Before, 2);
}

TEST(DriverCopy, AttachUploadsAndMipCountIsCapped) {
  cvDriver_Table* D = testdriver::Make({{CV_PIXELFORMAT_16BIT_565_RGB, CV_DRIVER_FORMAT_3D}});
  cvBitmap* B = Gradient(16, 8, CV_PIXELFORMAT_24BIT_RGB);
  ASSERT_TRUE(cvBitmap_SetMipCount(B, 6));
  ASSERT_TRUE(cvBitmap_AttachToDriver(B, D, 0));
  ASSERT_TRUE(cvBitmap_IsAttached(B));
  EXPECT_EQ(Driver().CreatedMipCounts.back(), 4);
  void* T = cvBitmap_GetDriverHandle(B);
  EXPECT_EQ(Pixel(T, 0, 3, 2), (uint32_t)((48 >> 3) << 11 | (32 >> 2) << 5 | (128 >> 3)));
  // Level 1 was built from level 0 for the driver: a 2 x 2 average.
  EXPECT_EQ(Pixel(T, 1, 0, 0), (uint32_t)((8 >> 3) << 11 | (8 >> 2) << 5 | (128 >> 3)));
  EXPECT_EQ(B->System.MaximumMip, 3);
  cvBitmap_Info I, S;
  ASSERT_TRUE(cvBitmap_GetInfo(B, &I, &S));
  EXPECT_EQ(I.Format, CV_PIXELFORMAT_16BIT_565_RGB);
  EXPECT_EQ(I.MaximumMip, 3);
  EXPECT_EQ(S.Format, CV_PIXELFORMAT_24BIT_RGB);
  // Attaching again to the same driver does nothing; destroying detaches.
  ASSERT_TRUE(cvBitmap_AttachToDriver(B, D, 0));
  EXPECT_EQ(Driver().Creates, 1);
  cvBitmap_Destroy(&B);
  EXPECT_TRUE(Driver().Textures.empty());
}

TEST(DriverCopy, RefusalLeavesTheBitmapDetached) {
  cvDriver_Table* D = testdriver::Make({{CV_PIXELFORMAT_16BIT_565_RGB, CV_DRIVER_FORMAT_3D}});
  Driver().RefuseCreate = true;
  cvBitmap* B = Gradient(4, 4, CV_PIXELFORMAT_24BIT_RGB);
  cvErrorLog_Clear();
  EXPECT_FALSE(cvBitmap_AttachToDriver(B, D, 0));
  EXPECT_LOGGED(-1);
  EXPECT_FALSE(cvBitmap_IsAttached(B));
  cvBitmap* L = nullptr;
  ASSERT_TRUE(cvBitmap_LockForRead(B, &L, 0, 0, CV_PIXELFORMAT_8BIT_GRAY, 0, 0));
  EXPECT_FALSE(cvBitmap_AttachToDriver(B, D, 0));  // locked
  cvBitmap_UnLock(L);
  cvBitmap_Destroy(&B);
}

TEST(DriverCopy, WriteLockCommitUploadsAndDriverLockReadsBack) {
  cvDriver_Table* D = testdriver::Make({{CV_PIXELFORMAT_16BIT_565_RGB, CV_DRIVER_FORMAT_3D}});
  cvBitmap* B = Gradient(4, 4, CV_PIXELFORMAT_24BIT_RGB);
  ASSERT_TRUE(cvBitmap_AttachToDriver(B, D, 0));
  void* T = cvBitmap_GetDriverHandle(B);

  // A system write lock uploads on commit.
  cvBitmap* L = nullptr;
  ASSERT_TRUE(cvBitmap_LockForWrite(B, &L, 0, 0));
  std::memset(cvBitmap_GetBits(L), 0xFF, 3);
  ASSERT_TRUE(cvBitmap_UnLock(L));
  EXPECT_EQ(Pixel(T, 0, 0, 0), 0xFFFFu);

  // A lock in the driver's format works on the driver copy itself.
  ASSERT_TRUE(cvBitmap_LockForWriteFormat(B, &L, 0, 0, CV_PIXELFORMAT_16BIT_565_RGB));
  EXPECT_TRUE(L->LockFlags != 0);
  static_cast<uint16_t*>(cvBitmap_GetBits(L))[1] = 0xF800;
  EXPECT_TRUE(testdriver::Find(T)->Locked[0]);
  ASSERT_TRUE(cvBitmap_UnLock(L));
  EXPECT_FALSE(testdriver::Find(T)->Locked[0]);
  EXPECT_TRUE(B->DriverNewer);
  EXPECT_EQ(Pixel(T, 0, 1, 0), 0xF800u);

  // Reading the system copy brings the driver's change back first.
  ASSERT_TRUE(cvBitmap_LockForRead(B, &L, 0, 0, CV_PIXELFORMAT_24BIT_RGB, 0, 0));
  const uint8_t* P = static_cast<uint8_t*>(cvBitmap_GetBits(L));
  EXPECT_EQ(P[3], 252);
  EXPECT_EQ(P[4], 2);
  EXPECT_EQ(P[5], 4);
  cvBitmap_UnLock(L);
  EXPECT_FALSE(B->DriverNewer);

  // A read lock in the driver's format and key also goes to the driver copy.
  ASSERT_TRUE(cvBitmap_LockForRead(B, &L, 0, 0, CV_PIXELFORMAT_16BIT_565_RGB, 0, 0));
  EXPECT_EQ(static_cast<uint16_t*>(cvBitmap_GetBits(L))[1], 0xF800);
  EXPECT_TRUE(testdriver::Find(T)->Locked[0]);
  cvBitmap_UnLock(L);
  cvBitmap_Destroy(&B);
}

TEST(DriverCopy, PalettizedDriverFormatGetsAPaletteTexture) {
  cvDriver_Table* D = testdriver::Make({{CV_PIXELFORMAT_8BIT_PAL, CV_DRIVER_FORMAT_3D},
                                        {CV_PIXELFORMAT_32BIT_XRGB, CV_DRIVER_FORMAT_PALETTE}});
  cvBitmap* B = cvBitmap_Create(2, 1, 0, CV_PIXELFORMAT_8BIT_PAL);
  cvBitmap_Palette* Pal = cvBitmap_Palette_Create(CV_PIXELFORMAT_24BIT_RGB, 2);
  const uint8_t E[6] = {1, 2, 3, 200, 100, 50};
  cvBitmap_Palette_SetData(Pal, E, CV_PIXELFORMAT_24BIT_RGB, 2);
  cvBitmap_SetPalette(B, Pal);
  cvBitmap_Palette_Destroy(&Pal);
  uint8_t* P = cvBitmap_AllocateMip(B, 0);
  P[0] = 1;
  ASSERT_TRUE(cvBitmap_AttachToDriver(B, D, 0));
  void* T = cvBitmap_GetDriverHandle(B);
  ASSERT_NE(testdriver::Find(T)->Palette, nullptr);
  EXPECT_EQ(Pixel(testdriver::Find(T)->Palette, 0, 1, 0), 0xC86432u);
  EXPECT_EQ(Pixel(T, 0, 0, 0), 1u);
  cvBitmap_Palette* DP = cvBitmap_GetPalette(B);
  ASSERT_NE(DP, nullptr);
  EXPECT_NE(DP, B->System.Palette);
  uint32_t Back[2];
  ASSERT_TRUE(cvBitmap_Palette_GetData(DP, Back, CV_PIXELFORMAT_32BIT_XRGB, 2));
  EXPECT_EQ(Back[0], 0x010203u);
  ASSERT_TRUE(cvBitmap_DetachFromDriver(B));
  EXPECT_TRUE(Driver().Textures.empty());
  cvBitmap_Destroy(&B);
}

TEST(DriverCopy, KeysFollowIntoTheDriverFormat) {
  // A keyed true-colour bitmap on a palettized driver: the key is index 255,
  // reserved in the built palette so no other pixel lands on it.
  cvDriver_Table* D = testdriver::Make({{CV_PIXELFORMAT_8BIT_PAL, CV_DRIVER_FORMAT_3D},
                                        {CV_PIXELFORMAT_24BIT_RGB, CV_DRIVER_FORMAT_PALETTE}});
  cvBitmap* B = Gradient(16, 16, CV_PIXELFORMAT_32BIT_XRGB);
  reinterpret_cast<uint32_t*>(cvBitmap_GetMipData(B, 0))[5] = 0x00FF00FF;
  ASSERT_TRUE(cvBitmap_SetColorKey(B, 1, 0x00FF00FF, 1));
  ASSERT_TRUE(cvBitmap_SetPreferredFormat(B, CV_PIXELFORMAT_8BIT_PAL));
  ASSERT_TRUE(cvBitmap_AttachToDriver(B, D, 0));
  void* T = cvBitmap_GetDriverHandle(B);
  EXPECT_EQ(testdriver::Find(T)->HasKey, 1);
  EXPECT_EQ(testdriver::Find(T)->Key, 255u);
  for (int32_t i = 0; i < 256; ++i) EXPECT_EQ(Pixel(T, 0, i % 16, i / 16) == 255, i == 5) << i;
  void* Pal = testdriver::Find(T)->Palette;
  EXPECT_EQ(Pixel(Pal, 0, 255, 0), Pixel(Pal, 0, 254, 0));

  // Changing the bitmap's format picks the driver format again.
  ASSERT_TRUE(cvBitmap_SetPreferredFormat(B, 0));
  ASSERT_TRUE(cvBitmap_DetachFromDriver(B));
  EXPECT_TRUE(Driver().Textures.empty());
  cvDriver_Table* D2 = testdriver::Make({{CV_PIXELFORMAT_16BIT_565_RGB, CV_DRIVER_FORMAT_3D}});
  ASSERT_TRUE(cvBitmap_AttachToDriver(B, D2, 0));
  T = cvBitmap_GetDriverHandle(B);
  EXPECT_EQ(testdriver::Find(T)->Key, 0xF81Fu);
  EXPECT_EQ(Pixel(T, 0, 5, 0), 0xF81Fu);
  ASSERT_TRUE(cvBitmap_SetFormat(B, CV_PIXELFORMAT_8BIT_PAL));
  T = cvBitmap_GetDriverHandle(B);
  ASSERT_NE(T, nullptr);
  EXPECT_EQ(Driver().Textures.size(), 1u);
  // The driver key is now the key entry's colour; only the key pixel has it.
  const uint32_t Key = testdriver::Find(T)->Key;
  for (int32_t i = 0; i < 256; ++i) EXPECT_EQ(Pixel(T, 0, i % 16, i / 16) == Key, i == 5) << i;
  cvBitmap_Destroy(&B);
  EXPECT_TRUE(Driver().Textures.empty());
}

TEST(DriverCopy, AlphaBitmapGoesIntoTheAlphaChannelOrASeparateTexture) {
  cvDriver_Table* D = testdriver::Make({{CV_PIXELFORMAT_16BIT_565_RGB, CV_DRIVER_FORMAT_3D},
                                        {CV_PIXELFORMAT_16BIT_4444_ARGB, CV_DRIVER_FORMAT_3D}});
  cvBitmap* B = Gradient(2, 1, CV_PIXELFORMAT_24BIT_RGB);
  cvBitmap* A = cvBitmap_Create(2, 1, 0, CV_PIXELFORMAT_8BIT_GRAY);
  uint8_t* P = cvBitmap_AllocateMip(A, 0);
  P[0] = 0x30;
  P[1] = 0xF0;
  ASSERT_TRUE(cvBitmap_SetAlpha(B, A));
  ASSERT_TRUE(cvBitmap_AttachToDriver(B, D, 0));
  void* T = cvBitmap_GetDriverHandle(B);
  EXPECT_EQ(testdriver::Find(T)->Format.PixelFormat, CV_PIXELFORMAT_16BIT_4444_ARGB);
  EXPECT_EQ(Pixel(T, 0, 0, 0) >> 12, 0x3u);
  EXPECT_EQ(Pixel(T, 0, 1, 0) >> 12, 0xFu);
  cvBitmap_Destroy(&B);

  // A driver that carries separate alpha textures gets the grey levels there.
  D = testdriver::Make({{CV_PIXELFORMAT_16BIT_565_RGB, CV_DRIVER_FORMAT_3D | CV_DRIVER_FORMAT_SEPARATEALPHA},
                        {CV_PIXELFORMAT_8BIT_GRAY, CV_DRIVER_FORMAT_ALPHAMAP}});
  B = Gradient(2, 1, CV_PIXELFORMAT_24BIT_RGB);
  ASSERT_TRUE(cvBitmap_SetAlpha(B, A));
  ASSERT_TRUE(cvBitmap_AttachToDriver(B, D, 0));
  T = cvBitmap_GetDriverHandle(B);
  void* AT = testdriver::Find(T)->Alpha;
  ASSERT_NE(AT, nullptr);
  EXPECT_EQ(Pixel(AT, 0, 1, 0), 0xF0u);
  cvBitmap_Destroy(&B);
  EXPECT_TRUE(Driver().Textures.empty());
  cvBitmap_Destroy(&A);
}

TEST(DriverCopy, AllocationFailuresDuringAttachLeaveItDetached) {
  cvDriver_Table* D = testdriver::Make({{CV_PIXELFORMAT_16BIT_565_RGB, CV_DRIVER_FORMAT_3D}});
  cvBitmap* B = Gradient(8, 8, CV_PIXELFORMAT_24BIT_RGB);
  ASSERT_TRUE(cvBitmap_SetMipCount(B, 3));
  cvtest::WalkAllocationFailures(
      19, [&] { return cvBitmap_AttachToDriver(B, D, 0); },
      [&](int N, int Ok) {
        EXPECT_FALSE(Ok) << N;
        EXPECT_FALSE(cvBitmap_IsAttached(B)) << N;
        EXPECT_TRUE(Driver().Textures.empty()) << N;
        if (Ok) cvBitmap_DetachFromDriver(B);
      },
      [&](int Ok) {
        ASSERT_TRUE(Ok);
        ASSERT_TRUE(cvBitmap_DetachFromDriver(B));
      });
  cvBitmap_Destroy(&B);
}

TEST(Gamma, TablesFollowTheCurveAndInvert) {
  uint8_t T[256], I[256];
  ASSERT_TRUE(cvBitmap_BuildGammaTables(2.0f, T, I));
  EXPECT_EQ(T[128], 181);
  EXPECT_EQ(T[0], 0);
  EXPECT_EQ(T[255], 255);
  // The inverse leads every output back to the first input that gives it.
  for (int i = 0; i < 256; ++i) {
    EXPECT_LE(I[T[i]], i) << i;
    EXPECT_EQ(T[I[T[i]]], T[i]) << i;
  }
  EXPECT_EQ(I[1], 1);  // values below table[1] map back to 1
  ASSERT_TRUE(cvBitmap_BuildGammaTables(1.0f, T, I));
  for (int i = 0; i < 256; ++i) EXPECT_EQ(T[i], i);
}

TEST(Gamma, AppliedToTheDriverCopyOnly) {
  cvDriver_Table* D = testdriver::Make({{CV_PIXELFORMAT_32BIT_XRGB, CV_DRIVER_FORMAT_3D}});
  cvBitmap* B = cvBitmap_Create(2, 1, 0, CV_PIXELFORMAT_32BIT_XRGB);
  auto* P = reinterpret_cast<uint32_t*>(cvBitmap_AllocateMip(B, 0));
  P[0] = 0x00808080;
  P[1] = 0x00FF00FF;
  ASSERT_TRUE(cvBitmap_SetColorKey(B, 1, 0x00FF00FF, 0));
  ASSERT_TRUE(cvBitmap_SetGamma(B, 1.05f));
  ASSERT_TRUE(cvBitmap_AttachToDriver(B, D, 0));
  void* T = cvBitmap_GetDriverHandle(B);
  EXPECT_EQ(Pixel(T, 0, 0, 0), 0x808080u);  // within 0.1 of 1: not applied

  ASSERT_TRUE(cvBitmap_SetGamma(B, 2.0f));
  EXPECT_EQ(B->PreviousGamma, 1.05f);
  EXPECT_EQ(Pixel(T, 0, 0, 0), 0xB5B5B5u);
  EXPECT_EQ(Pixel(T, 0, 1, 0), 0xFF00FFu);  // the key is left alone
  EXPECT_EQ(P[0], 0x00808080u);             // the system copy stays uncorrected

  // Undo and redo through the tables.
  ASSERT_TRUE(cvBitmap_ApplyGamma(B, 1));
  EXPECT_EQ(Pixel(T, 0, 0, 0), 0x808080u);
  ASSERT_TRUE(cvBitmap_ApplyGamma(B, 0));
  EXPECT_EQ(Pixel(T, 0, 0, 0), 0xB5B5B5u);

  // Changing a driver-side edited copy: old correction undone, new applied.
  testdriver::SetPixel(T, 0, 0, 0, 0xB5B5B5);
  B->DriverNewer = 1;
  ASSERT_TRUE(cvBitmap_SetGamma(B, 1.0f));
  EXPECT_EQ(Pixel(T, 0, 0, 0), 0x808080u);
  cvBitmap_Destroy(&B);
}

TEST(Gamma, WholePixelTablesFor565) {
  cvDriver_Table* D = testdriver::Make({{CV_PIXELFORMAT_16BIT_565_RGB, CV_DRIVER_FORMAT_3D}});
  cvBitmap* B = cvBitmap_Create(1, 1, 0, CV_PIXELFORMAT_16BIT_565_RGB);
  reinterpret_cast<uint16_t*>(cvBitmap_AllocateMip(B, 0))[0] = (16 << 11) | (32 << 5) | 16;
  ASSERT_TRUE(cvBitmap_SetGamma(B, 2.0f));
  ASSERT_TRUE(cvBitmap_AttachToDriver(B, D, 0));
  // Each channel corrected through table[channel x 8] (x 4 for green): 128 -> 181.
  EXPECT_EQ(Pixel(cvBitmap_GetDriverHandle(B), 0, 0, 0), (uint32_t)((181 >> 3) << 11 | (181 >> 2) << 5 | (181 >> 3)));
  cvBitmap_Destroy(&B);
}

}  // namespace
