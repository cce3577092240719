// Pixel format table and per-format functions: rounding of each channel
// width, alpha rules, grey, raw byte order.
#include <array>

#include "Bitmap/cvbitmap.h"
#include "testsupport.h"

namespace {

std::array<int32_t, 4> Decompose(cvPixelFormat F, uint32_t P) {
  std::array<int32_t, 4> C{};
  cvPixelFormat_GetOperations(F)->Decompose(P, &C[0], &C[1], &C[2], &C[3]);
  return C;
}

uint32_t Compose(cvPixelFormat F, int32_t R, int32_t G, int32_t B, int32_t A) {
  return cvPixelFormat_GetOperations(F)->Compose(R, G, B, A);
}

using C4 = std::array<int32_t, 4>;

TEST(PixelFormat, DecomposeAddsHalfAQuantisationStep) {
  EXPECT_EQ(Decompose(CV_PIXELFORMAT_16BIT_555_RGB, 0x7FFF), (C4{252, 252, 252, 255}));
  EXPECT_EQ(Decompose(CV_PIXELFORMAT_16BIT_555_RGB, 0x0000), (C4{4, 4, 4, 255}));
  EXPECT_EQ(Decompose(CV_PIXELFORMAT_16BIT_565_RGB, 0xFFFF), (C4{252, 254, 252, 255}));
  EXPECT_EQ(Decompose(CV_PIXELFORMAT_16BIT_565_RGB, 0x0000), (C4{4, 2, 4, 255}));
  EXPECT_EQ(Decompose(CV_PIXELFORMAT_16BIT_4444_ARGB, 0x0FFF), (C4{248, 248, 248, 0}));
  EXPECT_EQ(Decompose(CV_PIXELFORMAT_16BIT_4444_ARGB, 0xF000), (C4{8, 8, 8, 240}));
  EXPECT_EQ(Decompose(CV_PIXELFORMAT_16BIT_1555_ARGB, 0x8000), (C4{4, 4, 4, 128}));
  EXPECT_EQ(Decompose(CV_PIXELFORMAT_16BIT_1555_ARGB, 0x7FFF), (C4{252, 252, 252, 0}));
  EXPECT_EQ(Decompose(CV_PIXELFORMAT_32BIT_XRGB, 0xAA112233), (C4{0x11, 0x22, 0x33, 255}));
  EXPECT_EQ(Decompose(CV_PIXELFORMAT_32BIT_ARGB, 0xAA112233), (C4{0x11, 0x22, 0x33, 0xAA}));
  EXPECT_EQ(Decompose(CV_PIXELFORMAT_8BIT_GRAY, 77), (C4{77, 77, 77, 255}));
}

TEST(PixelFormat, ChannelsLandInTheirMasks) {
  // One distinct value per channel: a swapped channel shows up at once.
  struct Case {
    cvPixelFormat F;
    uint32_t Expected;
  } Cases[] = {
      {CV_PIXELFORMAT_16BIT_555_RGB, (0x10u << 10) | (0x08u << 5) | 0x04u},
      {CV_PIXELFORMAT_16BIT_555_BGR, (0x04u << 10) | (0x08u << 5) | 0x10u},
      {CV_PIXELFORMAT_16BIT_565_RGB, (0x10u << 11) | (0x10u << 5) | 0x04u},
      {CV_PIXELFORMAT_16BIT_565_BGR, (0x04u << 11) | (0x10u << 5) | 0x10u},
      {CV_PIXELFORMAT_16BIT_4444_ARGB, 0xF842},
      {CV_PIXELFORMAT_16BIT_1555_ARGB, 0x8000u | (0x10u << 10) | (0x08u << 5) | 0x04u},
      {CV_PIXELFORMAT_24BIT_RGB, 0x804020},
      {CV_PIXELFORMAT_24BIT_BGR, 0x204080},
      {CV_PIXELFORMAT_32BIT_RGBX, 0x80402000},
      {CV_PIXELFORMAT_32BIT_XRGB, 0x00804020},
      {CV_PIXELFORMAT_32BIT_BGRX, 0x20408000},
      {CV_PIXELFORMAT_32BIT_XBGR, 0x00204080},
      {CV_PIXELFORMAT_32BIT_RGBA, 0x804020FF},
      {CV_PIXELFORMAT_32BIT_ARGB, 0xFF804020},
      {CV_PIXELFORMAT_32BIT_BGRA, 0x204080FF},
      {CV_PIXELFORMAT_32BIT_ABGR, 0xFF204080},
  };
  for (const Case& C : Cases) {
    EXPECT_EQ(Compose(C.F, 0x80, 0x40, 0x20, 0xFF), C.Expected) << cvPixelFormat_Description(C.F);
    const C4 Back = Decompose(C.F, C.Expected);
    EXPECT_GT(Back[0], Back[1]) << cvPixelFormat_Description(C.F);
    EXPECT_GT(Back[1], Back[2]) << cvPixelFormat_Description(C.F);
  }
}

TEST(PixelFormat, ComposeKeepsTopBitsAndAlphaRules) {
  EXPECT_EQ(Compose(CV_PIXELFORMAT_8BIT_GRAY, 10, 200, 30, 0), 200u);
  EXPECT_EQ(Compose(CV_PIXELFORMAT_16BIT_1555_ARGB, 0, 0, 0, 127), 0u);
  EXPECT_EQ(Compose(CV_PIXELFORMAT_16BIT_1555_ARGB, 0, 0, 0, 128), 0x8000u);
  EXPECT_EQ(Compose(CV_PIXELFORMAT_16BIT_4444_ARGB, 0, 0, 0, 0x9F), 0x9000u);
  EXPECT_EQ(Compose(CV_PIXELFORMAT_32BIT_XRGB, 1, 2, 3, 200), 0x00010203u);  // alpha ignored
  EXPECT_EQ(Compose(CV_PIXELFORMAT_16BIT_565_RGB, 7, 3, 7, 0), 0u);
  // Every 5-bit value survives a round trip.
  for (uint32_t v = 0; v < 32; ++v) {
    const C4 C = Decompose(CV_PIXELFORMAT_16BIT_555_RGB, v << 10);
    EXPECT_EQ(Compose(CV_PIXELFORMAT_16BIT_555_RGB, C[0], C[1], C[2], C[3]), v << 10);
  }
}

TEST(PixelFormat, ThreeByteRawIsMostSignificantByteFirst) {
  const uint8_t Bytes[3] = {0x11, 0x22, 0x33};
  const cvPixelFormat_Operations* Ops = cvPixelFormat_GetOperations(CV_PIXELFORMAT_24BIT_RGB);
  const uint8_t* P = Bytes;
  EXPECT_EQ(Ops->GetPixel(&P), 0x112233u);
  EXPECT_EQ(P, Bytes + 3);
  P = Bytes;
  int32_t R, G, B, A;
  Ops->GetColor(&P, &R, &G, &B, &A);
  EXPECT_EQ((C4{R, G, B, A}), (C4{0x11, 0x22, 0x33, 255}));

  // BGR keeps blue first in memory.
  uint8_t Out[3] = {};
  uint8_t* Q = Out;
  cvPixelFormat_GetOperations(CV_PIXELFORMAT_24BIT_BGR)->PutColor(&Q, 0xAA, 0xBB, 0xCC, 255);
  EXPECT_EQ(Q, Out + 3);
  EXPECT_EQ(Out[0], 0xCC);
  EXPECT_EQ(Out[1], 0xBB);
  EXPECT_EQ(Out[2], 0xAA);

  // 16- and 32-bit values are little-endian.
  uint8_t Word[4] = {};
  Q = Word;
  cvPixelFormat_GetOperations(CV_PIXELFORMAT_32BIT_ARGB)->PutPixel(&Q, 0x11223344);
  EXPECT_EQ(Word[0], 0x44);
  EXPECT_EQ(Word[3], 0x11);
  Q = Word;
  cvPixelFormat_GetOperations(CV_PIXELFORMAT_16BIT_565_RGB)->PutPixel(&Q, 0xABCD);
  EXPECT_EQ(Word[0], 0xCD);
  EXPECT_EQ(Word[1], 0xAB);
}

TEST(PixelFormat, TableAndQueries) {
  EXPECT_FALSE(cvPixelFormat_IsValid(-1));
  EXPECT_FALSE(cvPixelFormat_IsValid(21));
  EXPECT_EQ(cvPixelFormat_GetOperations(21), nullptr);
  EXPECT_STREQ(cvPixelFormat_Description(CV_PIXELFORMAT_32BIT_RGBX), "32 bit RGBX");
  EXPECT_STREQ(cvPixelFormat_Description(CV_PIXELFORMAT_24BIT_YUV), "24bit YUV");
  EXPECT_STREQ(cvPixelFormat_Description(CV_PIXELFORMAT_NO_DATA), "invalid");
  EXPECT_EQ(cvPixelFormat_BytesPerPixel(CV_PIXELFORMAT_WAVELET), 0);
  EXPECT_EQ(cvPixelFormat_BytesPerPixel(CV_PIXELFORMAT_24BIT_BGR), 3);
  EXPECT_TRUE(cvPixelFormat_HasPalette(CV_PIXELFORMAT_8BIT_PAL));
  EXPECT_FALSE(cvPixelFormat_IsRaw(CV_PIXELFORMAT_8BIT_PAL));
  EXPECT_TRUE(cvPixelFormat_IsRaw(CV_PIXELFORMAT_8BIT_GRAY));
  EXPECT_TRUE(cvPixelFormat_HasAlpha(CV_PIXELFORMAT_16BIT_1555_ARGB));
  EXPECT_FALSE(cvPixelFormat_HasGoodAlpha(CV_PIXELFORMAT_16BIT_1555_ARGB));
  EXPECT_TRUE(cvPixelFormat_HasGoodAlpha(CV_PIXELFORMAT_16BIT_4444_ARGB));
  EXPECT_FALSE(cvPixelFormat_HasAlpha(CV_PIXELFORMAT_32BIT_XBGR));
  const cvPixelFormat_Operations* Pal = cvPixelFormat_GetOperations(CV_PIXELFORMAT_8BIT_PAL);
  EXPECT_EQ(Pal->Compose, nullptr);
  EXPECT_NE(Pal->GetPixel, nullptr);
  EXPECT_EQ(cvPixelFormat_GetOperations(CV_PIXELFORMAT_24BIT_YUV)->Decompose,
            cvPixelFormat_GetOperations(CV_PIXELFORMAT_24BIT_RGB)->Decompose);
}

TEST(PixelFormat, ConvertPixel) {
  uint32_t Out = 0;
  ASSERT_TRUE(cvPixelFormat_ConvertPixel(CV_PIXELFORMAT_24BIT_RGB, 0xFFFFFF, CV_PIXELFORMAT_16BIT_565_RGB, &Out));
  EXPECT_EQ(Out, 0xFFFFu);
  ASSERT_TRUE(cvPixelFormat_ConvertPixel(CV_PIXELFORMAT_32BIT_ARGB, 0x80FF0000, CV_PIXELFORMAT_32BIT_ABGR, &Out));
  EXPECT_EQ(Out, 0x800000FFu);
  cvErrorLog_Clear();
  EXPECT_FALSE(cvPixelFormat_ConvertPixel(CV_PIXELFORMAT_8BIT_PAL, 3, CV_PIXELFORMAT_32BIT_ARGB, &Out));
  EXPECT_LOGGED(-1);
}

}  // namespace
