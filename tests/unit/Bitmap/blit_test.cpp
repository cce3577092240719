// Conversion with the colour-key rules, rectangle copies and mip generation.
#include <cstring>
#include <vector>

#include "Bitmap/cvbitmap.h"
#include "testsupport.h"

namespace {

cvBitmap_Info Info(int32_t W, int32_t H, cvPixelFormat F, int32_t HasKey = 0, uint32_t Key = 0,
                   cvBitmap_Palette* P = nullptr) {
  return cvBitmap_Info{W, H, W, F, 0, 0, HasKey, Key, P};
}

TEST(BlitData, AlphaSourceIntoKeyedDestination) {
  const uint32_t Src[3] = {0x4FFFFFFF, 0x50FFFFFF, 0x50000000};  // alpha 79, 80, 80
  uint16_t Dst[3] = {};
  cvBitmap_Info SI = Info(3, 1, CV_PIXELFORMAT_32BIT_ARGB);
  cvBitmap_Info DI = Info(3, 1, CV_PIXELFORMAT_16BIT_565_RGB, 1, 0x0000);
  ASSERT_TRUE(cvBitmap_BlitData(&SI, Src, nullptr, &DI, Dst, nullptr, 3, 1));
  EXPECT_EQ(Dst[0], 0x0000);  // below 80: the key
  EXPECT_EQ(Dst[1], 0xFFFF);  // the colour
  EXPECT_EQ(Dst[2], 0x0001);  // black would read as the key: key XOR 1
}

TEST(BlitData, KeyRulesBetweenTrueColourFormats) {
  // No source key, keyed destination: white must not become transparent.
  const uint8_t White[6] = {0xFF, 0xFF, 0xFF, 0x10, 0x20, 0x30};
  uint16_t Dst[2] = {};
  cvBitmap_Info SI = Info(2, 1, CV_PIXELFORMAT_24BIT_RGB);
  cvBitmap_Info DI = Info(2, 1, CV_PIXELFORMAT_16BIT_565_RGB, 1, 0xFFFF);
  ASSERT_TRUE(cvBitmap_BlitData(&SI, White, nullptr, &DI, Dst, nullptr, 2, 1));
  EXPECT_EQ(Dst[0], 0xFFFE);
  EXPECT_EQ(Dst[1], (0x10 >> 3) << 11 | (0x20 >> 2) << 5 | (0x30 >> 3));

  // Source key to destination key; other values equal to the destination key nudged.
  const uint32_t Keyed[3] = {0x00FF00FF, 0x00000000, 0x00123456};
  uint16_t Out[3] = {};
  SI = Info(3, 1, CV_PIXELFORMAT_32BIT_XRGB, 1, 0x00FF00FF);
  DI = Info(3, 1, CV_PIXELFORMAT_16BIT_565_RGB, 1, 0x0000);
  ASSERT_TRUE(cvBitmap_BlitData(&SI, Keyed, nullptr, &DI, Out, nullptr, 3, 1));
  EXPECT_EQ(Out[0], 0x0000);
  EXPECT_EQ(Out[1], 0x0001);

  // Source key, no destination key: transparent black.
  uint32_t Argb[3] = {};
  DI = Info(3, 1, CV_PIXELFORMAT_32BIT_ARGB);
  ASSERT_TRUE(cvBitmap_BlitData(&SI, Keyed, nullptr, &DI, Argb, nullptr, 3, 1));
  EXPECT_EQ(Argb[0], 0x00000000u);
  EXPECT_EQ(Argb[2], 0xFF123456u);

  // Same format and key: copied as it is; different keys: exchanged.
  uint32_t Same[3] = {};
  DI = Info(3, 1, CV_PIXELFORMAT_32BIT_XRGB, 1, 0x00FF00FF);
  ASSERT_TRUE(cvBitmap_BlitData(&SI, Keyed, nullptr, &DI, Same, nullptr, 3, 1));
  EXPECT_EQ(std::memcmp(Same, Keyed, sizeof Same), 0);
  DI = Info(3, 1, CV_PIXELFORMAT_32BIT_XRGB, 1, 0);
  ASSERT_TRUE(cvBitmap_BlitData(&SI, Keyed, nullptr, &DI, Same, nullptr, 3, 1));
  EXPECT_EQ(Same[0], 0u);
  EXPECT_EQ(Same[1], 1u);
  EXPECT_EQ(Same[2], 0x00123456u);
}

TEST(BlitData, EveryPairKeepsColoursAndNeverLeaksTheKey) {
  // Random pixels through every pair of raw formats, with padded strides:
  // colours that both formats hold exactly survive, and a keyed destination
  // holds its key only where the source held its key.
  uint32_t Seed = 7;
  auto Next = [&] { return Seed = Seed * 1103515245u + 12345u; };
  const int32_t W = 5, H = 3, SStride = 7, DStride = 6;
  for (cvPixelFormat SF = CV_PIXELFORMAT_8BIT_GRAY; SF <= CV_PIXELFORMAT_32BIT_ABGR; ++SF) {
    for (cvPixelFormat DF = CV_PIXELFORMAT_8BIT_GRAY; DF <= CV_PIXELFORMAT_32BIT_ABGR; ++DF) {
      const cvPixelFormat_Operations* S = cvPixelFormat_GetOperations(SF);
      const cvPixelFormat_Operations* D = cvPixelFormat_GetOperations(DF);
      std::vector<uint8_t> Src((size_t)SStride * H * S->BytesPerPixel);
      std::vector<uint8_t> Dst((size_t)DStride * H * D->BytesPerPixel, 0xEE);
      for (int32_t i = 0; i < W * H; ++i) {
        uint8_t* P = &Src[((size_t)(i / W) * SStride + i % W) * S->BytesPerPixel];
        S->PutColor(&P, Next() >> 24, Next() >> 24, Next() >> 24, 255);
      }
      cvBitmap_Info SI = {W, H, SStride, SF, 0, 0, 0, 0, nullptr};
      const uint32_t Key = D->Compose(0, 0, 0, 255);
      cvBitmap_Info DI = {W, H, DStride, DF, 0, 0, 1, Key, nullptr};
      ASSERT_TRUE(cvBitmap_BlitData(&SI, Src.data(), nullptr, &DI, Dst.data(), nullptr, W, H)) << SF << " " << DF;
      for (int32_t i = 0; i < W * H; ++i) {
        const uint8_t* P = &Src[((size_t)(i / W) * SStride + i % W) * S->BytesPerPixel];
        const uint8_t* Q = &Dst[((size_t)(i / W) * DStride + i % W) * D->BytesPerPixel];
        int32_t R, G, B, A, R2, G2, B2, A2;
        S->GetColor(&P, &R, &G, &B, &A);
        const uint32_t Out = D->GetPixel(&Q);
        ASSERT_NE(Out, Key) << SF << " " << DF << " pixel " << i;
        D->Decompose(Out, &R2, &G2, &B2, &A2);
        // Within the coarser format's step (plus the key nudge on the lowest bit).
        const int32_t Step = (S->BytesPerPixel >= 3 && D->BytesPerPixel >= 3) ? 1 : 17;
        if (DF != CV_PIXELFORMAT_8BIT_GRAY && SF != CV_PIXELFORMAT_8BIT_GRAY) {
          EXPECT_NEAR(R2, R, Step) << SF << " " << DF;
          EXPECT_NEAR(G2, G, Step) << SF << " " << DF;
          EXPECT_NEAR(B2, B, Step) << SF << " " << DF;
        }
      }
      // The padding of the destination rows is untouched.
      EXPECT_EQ(Dst[(size_t)W * D->BytesPerPixel], 0xEE) << SF << " " << DF;
    }
  }
}

TEST(BlitData, StridesAndSizeChecks) {
  // 2 x 2 out of a 3-pixel-stride grey source into a 4-pixel-stride destination.
  const uint8_t Src[6] = {10, 20, 99, 30, 40, 99};
  uint32_t Dst[8];
  std::fill(std::begin(Dst), std::end(Dst), 0xDEADBEEF);
  cvBitmap_Info SI = {2, 2, 3, CV_PIXELFORMAT_8BIT_GRAY, 0, 0, 0, 0, nullptr};
  cvBitmap_Info DI = {2, 2, 4, CV_PIXELFORMAT_32BIT_XBGR, 0, 0, 0, 0, nullptr};
  ASSERT_TRUE(cvBitmap_BlitData(&SI, Src, nullptr, &DI, Dst, nullptr, 2, 2));
  EXPECT_EQ(Dst[0], 0x0A0A0Au);
  EXPECT_EQ(Dst[1], 0x141414u);
  EXPECT_EQ(Dst[2], 0xDEADBEEFu);
  EXPECT_EQ(Dst[4], 0x1E1E1Eu);
  EXPECT_EQ(Dst[5], 0x282828u);
  cvErrorLog_Clear();
  EXPECT_FALSE(cvBitmap_BlitData(&SI, Src, nullptr, &DI, Dst, nullptr, 3, 2));
  EXPECT_LOGGED(-1);
  cvBitmap_Info Wavelet = Info(2, 2, CV_PIXELFORMAT_WAVELET);
  EXPECT_FALSE(cvBitmap_BlitData(&SI, Src, nullptr, &Wavelet, Dst, nullptr, 2, 2));
}

TEST(BlitData, PaletteSourceConvertsThroughTheKeyEntry) {
  cvBitmap_Palette* P = cvBitmap_Palette_Create(CV_PIXELFORMAT_24BIT_RGB, 4);
  const uint8_t Entries[12] = {0, 0, 0, 0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0, 0xFF};
  ASSERT_TRUE(cvBitmap_Palette_SetData(P, Entries, CV_PIXELFORMAT_24BIT_RGB, 4));
  const uint8_t Src[4] = {0, 1, 2, 3};
  cvBitmap_Info SI = Info(4, 1, CV_PIXELFORMAT_8BIT_PAL, 1, 3, P);
  uint16_t Dst[4] = {};
  cvBitmap_Info DI = Info(4, 1, CV_PIXELFORMAT_16BIT_565_RGB, 1, 0x0000);
  ASSERT_TRUE(cvBitmap_BlitData(&SI, Src, nullptr, &DI, Dst, nullptr, 4, 1));
  EXPECT_EQ(Dst[0], 0x0001);  // black entry nudged off the key
  EXPECT_EQ(Dst[1], 0xF800);
  EXPECT_EQ(Dst[2], 0xFFFF);
  EXPECT_EQ(Dst[3], 0x0000);  // the key entry gives the key
  uint32_t Argb[4] = {};
  DI = Info(4, 1, CV_PIXELFORMAT_32BIT_ARGB);
  ASSERT_TRUE(cvBitmap_BlitData(&SI, Src, nullptr, &DI, Argb, nullptr, 4, 1));
  EXPECT_EQ(Argb[3], 0u);  // transparent black
  EXPECT_EQ(Argb[1], 0xFFFF0000u);

  // True colour into the palette with key index 2 (white): the nearest entry
  // other than the key entry (near-white goes to red, not to the key's
  // neighbour blue), source key pixels as the key.
  const uint32_t Colors[4] = {0x00F0F0E0, 0x0000FF00, 0x00FE0101, 0x000000FF};
  SI = Info(4, 1, CV_PIXELFORMAT_32BIT_XRGB, 1, 0x0000FF00);
  uint8_t Idx[4] = {};
  DI = Info(4, 1, CV_PIXELFORMAT_8BIT_PAL, 1, 2, P);
  ASSERT_TRUE(cvBitmap_BlitData(&SI, Colors, nullptr, &DI, Idx, nullptr, 4, 1));
  EXPECT_EQ(Idx[0], 1);
  EXPECT_EQ(Idx[1], 2);
  EXPECT_EQ(Idx[2], 1);
  EXPECT_EQ(Idx[3], 3);
  cvBitmap_Palette_Destroy(&P);
}

TEST(BlitData, PalettizedDestinationWithoutPaletteGetsOne) {
  const uint8_t Grey[4] = {0, 50, 100, 255};
  cvBitmap_Info SI = Info(4, 1, CV_PIXELFORMAT_8BIT_GRAY);
  cvBitmap_Info DI = Info(4, 1, CV_PIXELFORMAT_8BIT_PAL);
  uint8_t Idx[4] = {};
  ASSERT_TRUE(cvBitmap_BlitData(&SI, Grey, nullptr, &DI, Idx, nullptr, 4, 1));
  ASSERT_NE(DI.Palette, nullptr);  // the grey ramp, owned by the caller now
  EXPECT_EQ(Idx[1], 50);
  EXPECT_EQ(Idx[3], 255);
  cvBitmap_Palette_Destroy(&DI.Palette);
}

TEST(BlitBitmap, CopiesAClampedRectangle) {
  cvBitmap* S = cvBitmap_Create(4, 4, 0, CV_PIXELFORMAT_8BIT_GRAY);
  cvBitmap* L = nullptr;
  ASSERT_TRUE(cvBitmap_LockForWrite(S, &L, 0, 0));
  for (int i = 0; i < 16; ++i) static_cast<uint8_t*>(cvBitmap_GetBits(L))[i] = (uint8_t)i;
  cvBitmap_UnLock(L);
  cvBitmap* D = cvBitmap_Create(3, 3, 0, CV_PIXELFORMAT_24BIT_RGB);
  ASSERT_TRUE(cvBitmap_BlitBitmap(S, 0, 2, 1, D, 0, 1, 0, -1, -1));
  const uint8_t* P = cvBitmap_GetMipData(D, 0);
  EXPECT_EQ(P[3], 6);   // (1,0) <- (2,1)
  EXPECT_EQ(P[6], 7);   // (2,0) <- (3,1)
  EXPECT_EQ(P[9 + 3], 10);
  EXPECT_EQ(P[0], 0);   // outside the rectangle
  EXPECT_EQ(S->LockCount, 0);
  EXPECT_EQ(D->LockCount, 0);
  EXPECT_FALSE(cvBitmap_BlitBitmap(S, 0, 5, 0, D, 0, 0, 0, 1, 1));
  cvBitmap_Destroy(&S);
  cvBitmap_Destroy(&D);
}

TEST(Mips, TwoByTwoAveragingWithRoundingAndOddEdges) {
  cvBitmap* B = cvBitmap_Create(3, 2, 0, CV_PIXELFORMAT_8BIT_GRAY);
  uint8_t* P = cvBitmap_AllocateMip(B, 0);
  const uint8_t V[6] = {0, 1, 9, 2, 3, 10};
  std::memcpy(P, V, 6);
  cvBitmap_SetMipValid(B, 0, 1);
  ASSERT_TRUE(cvBitmap_MakeMips(B, 1, 2));
  EXPECT_EQ(B->System.MaximumMip, 2);
  const uint8_t* L1 = cvBitmap_GetMipData(B, 1);
  EXPECT_EQ(L1[0], 2);   // (0 + 1 + 2 + 3 + 2) >> 2
  EXPECT_EQ(L1[1], 10);  // the cut block averages what it has: (9 + 10 + 1) / 2
  EXPECT_EQ(cvBitmap_GetMipData(B, 2)[0], 6);
  EXPECT_TRUE(cvBitmap_IsMipValid(B, 2));
  cvBitmap_Destroy(&B);
}

TEST(Mips, WritingALevelRebuildsTheSmallerOnes) {
  cvBitmap* B = cvBitmap_Create(2, 2, 0, CV_PIXELFORMAT_8BIT_GRAY);
  cvBitmap* L[2] = {};
  ASSERT_TRUE(cvBitmap_LockForWrite(B, L, 0, 1));  // level 1 built (from blank)
  std::memset(cvBitmap_GetBits(L[0]), 40, 4);
  static_cast<uint8_t*>(cvBitmap_GetBits(L[1]))[0] = 7;
  ASSERT_TRUE(cvBitmap_UnLockArray(L, 2));
  EXPECT_EQ(cvBitmap_GetMipData(B, 1)[0], 7);  // written together: kept
  ASSERT_TRUE(cvBitmap_LockForWrite(B, L, 0, 0));
  std::memset(cvBitmap_GetBits(L[0]), 80, 4);
  ASSERT_TRUE(cvBitmap_UnLock(L[0]));
  EXPECT_FALSE(cvBitmap_IsMipValid(B, 1));
  ASSERT_TRUE(cvBitmap_LockForRead(B, L, 1, 1, CV_PIXELFORMAT_8BIT_GRAY, 0, 0));
  EXPECT_EQ(static_cast<uint8_t*>(cvBitmap_GetBits(L[0]))[0], 80);
  cvBitmap_UnLock(L[0]);
  cvBitmap_Destroy(&B);
}

TEST(Mips, KeyPixelsStayOutAndChannelsAverageSeparately) {
  cvBitmap* B = cvBitmap_Create(4, 2, 0, CV_PIXELFORMAT_32BIT_XRGB);
  auto* P = reinterpret_cast<uint32_t*>(cvBitmap_AllocateMip(B, 0));
  const uint32_t V[8] = {0xFF00FF, 0x102030, 0xFF00FF, 0xFF00FF, 0x302010, 0xFF00FF, 0xFF00FF, 0xFF00FF};
  std::memcpy(P, V, sizeof V);
  ASSERT_TRUE(cvBitmap_SetColorKey(B, 1, 0xFF00FF, 0));
  ASSERT_TRUE(cvBitmap_MakeMips(B, 1, 1));
  auto* L1 = reinterpret_cast<uint32_t*>(cvBitmap_GetMipData(B, 1));
  EXPECT_EQ(L1[0], 0x202020u);
  EXPECT_EQ(L1[1], 0xFF00FFu);  // all key: stays the key
  cvBitmap_Destroy(&B);
}

TEST(Mips, PalettizedLevelsMapAveragesToTheNearestEntry) {
  cvBitmap* B = cvBitmap_Create(2, 2, 0, CV_PIXELFORMAT_8BIT_PAL);
  cvBitmap_Palette* Pal = cvBitmap_Palette_Create(CV_PIXELFORMAT_24BIT_RGB, 3);
  const uint8_t E[9] = {0, 0, 0, 200, 200, 200, 100, 100, 100};
  cvBitmap_Palette_SetData(Pal, E, CV_PIXELFORMAT_24BIT_RGB, 3);
  cvBitmap_SetPalette(B, Pal);
  cvBitmap_Palette_Destroy(&Pal);
  uint8_t* P = cvBitmap_AllocateMip(B, 0);
  P[0] = P[3] = 0;
  P[1] = P[2] = 1;
  ASSERT_TRUE(cvBitmap_MakeMips(B, 1, 1));
  EXPECT_EQ(cvBitmap_GetMipData(B, 1)[0], 2);
  // Without a palette nothing can be averaged.
  cvBitmap_SetPalette(B, nullptr);
  cvBitmap_SetMipValid(B, 1, 0);
  cvErrorLog_Clear();
  EXPECT_FALSE(cvBitmap_MakeMips(B, 1, 1));
  EXPECT_LOGGED(-1);
  cvBitmap_Destroy(&B);
}

TEST(Mips, KeyedPalettizedLevelsNeverAverageIntoTheKeyEntry) {
  // A red and blue checker with a magenta key entry 0 and green at 1: the
  // averaged purple lies nearest the key's magenta, but must take the
  // nearest visible entry (red, the lower of two equals), never the key or
  // an unrelated neighbour of it.
  cvBitmap* B = cvBitmap_Create(4, 4, 0, CV_PIXELFORMAT_8BIT_PAL);
  cvBitmap_Palette* Pal = cvBitmap_Palette_Create(CV_PIXELFORMAT_24BIT_RGB, 4);
  const uint8_t E[12] = {255, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 255};
  ASSERT_TRUE(cvBitmap_Palette_SetData(Pal, E, CV_PIXELFORMAT_24BIT_RGB, 4));
  cvBitmap_SetPalette(B, Pal);
  cvBitmap_Palette_Destroy(&Pal);
  ASSERT_TRUE(cvBitmap_SetColorKey(B, 1, 0, 0));
  uint8_t* P = cvBitmap_AllocateMip(B, 0);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) P[y * 4 + x] = (uint8_t)(2 + ((x + y) & 1));
  P[2] = P[3] = P[6] = P[7] = 0;  // the top right block is all key
  P[8] = P[9] = 0;                // the bottom left block is half key
  cvBitmap_SetMipValid(B, 0, 1);
  ASSERT_TRUE(cvBitmap_MakeMips(B, 1, 2));
  const uint8_t* L1 = cvBitmap_GetMipData(B, 1);
  EXPECT_EQ(L1[0], 2);
  EXPECT_EQ(L1[1], 0);  // all key stays the key
  EXPECT_EQ(L1[2], 2);
  EXPECT_EQ(L1[3], 2);
  EXPECT_EQ(cvBitmap_GetMipData(B, 2)[0], 2);
  cvBitmap_Destroy(&B);
}

}  // namespace
