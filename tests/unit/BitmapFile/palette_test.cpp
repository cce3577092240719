// Palette builders, the YUV transform, the refinement and the nearest-colour
// lookup.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <set>
#include <random>

#include "bftest.h"
#include "testsupport.h"

namespace {

using Rgb = std::array<uint8_t, 3>;

// A photo-like image: smooth gradients plus noise, in 24-bit RGB.
std::vector<uint8_t> PhotoLike(int32_t W, int32_t H, uint32_t Seed) {
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

double MappedError(const std::vector<uint8_t>& Pixels, const uint8_t* Palette) {
  cvBitmap_ColorLookup* lookup = cvBitmap_ColorLookup_Create(Palette);
  double sum = 0;
  for (size_t i = 0; i < Pixels.size(); i += 3) {
    const int32_t index = cvBitmap_ColorLookup_Find(lookup, Pixels[i], Pixels[i + 1], Pixels[i + 2]);
    for (int k = 0; k < 3; ++k) {
      const double d = (double)Pixels[i + k] - Palette[index * 3 + k];
      sum += d * d;
    }
  }
  cvBitmap_ColorLookup_Destroy(&lookup);
  return sum / (double)(Pixels.size() / 3);
}

TEST(PaletteTransform, BlackAndWhiteRoundTripAndVSign) {
  int32_t y, u, v, r, g, b;
  for (int32_t grey : {0, 255}) {
    cvBitmap_RGBToYUV(grey, grey, grey, &y, &u, &v);
    EXPECT_EQ(y, grey);
    EXPECT_NEAR(u, 127, 1);
    EXPECT_NEAR(v, 127, 1);
    cvBitmap_YUVToRGB(y, u, v, &r, &g, &b);
    EXPECT_EQ((std::array<int32_t, 3>{r, g, b}), (std::array<int32_t, 3>{grey, grey, grey}));
  }
  // V grows with green and falls with red; the inverse undoes it (within
  // rounding).
  cvBitmap_RGBToYUV(255, 0, 0, &y, &u, &v);
  EXPECT_LT(v, 127);
  cvBitmap_YUVToRGB(y, u, v, &r, &g, &b);
  EXPECT_GE(r, 254);
  EXPECT_LE(g + b, 1);
  cvBitmap_RGBToYUV(12, 200, 90, &y, &u, &v);
  EXPECT_GT(v, 127);
}

TEST(PaletteFast, FewColoursInCountOrderRepeated) {
  // 3 well-separated colours with 5, 9 and 2 pixels, in a 4 x 4 image.
  std::vector<uint8_t> image;
  const Rgb a{200, 10, 10}, b{10, 200, 10}, c{10, 10, 200};
  for (int i = 0; i < 16; ++i) {
    const Rgb& p = i < 5 ? a : (i < 14 ? b : c);
    image.insert(image.end(), p.begin(), p.end());
  }
  uint8_t out[768];
  ASSERT_TRUE(cvBitmap_BuildPalFast(image.data(), 4, 4, 12, CV_PIXELFORMAT_24BIT_RGB, out));
  const Rgb order[3] = {b, a, c};
  for (int i = 0; i < 256; ++i)
    EXPECT_EQ((Rgb{out[3 * i], out[3 * i + 1], out[3 * i + 2]}), order[i % 3]) << i;
}

TEST(PaletteFast, PrefersFrequentColoursAndReadsAllFormats) {
  // 300 colours seen 4 times each and 500 seen once: only the frequent ones
  // may reach the palette.
  std::vector<uint8_t> image;
  for (int i = 0; i < 300; ++i)
    for (int k = 0; k < 4; ++k) image.insert(image.end(), {(uint8_t)(i % 20 * 12), (uint8_t)(i / 20 * 16), 1});
  for (int i = 0; i < 500; ++i) image.insert(image.end(), {(uint8_t)(i % 25 * 10 + 3), (uint8_t)(i / 25 * 12 + 3), 255});
  const int32_t w = (int32_t)(image.size() / 3);
  uint8_t out[768];
  ASSERT_TRUE(cvBitmap_BuildPalFast(image.data(), w, 1, w * 3, CV_PIXELFORMAT_24BIT_RGB, out));
  for (int i = 0; i < 256; ++i) EXPECT_EQ(out[3 * i + 2], 1) << i;

  // The same image as BGR and as XRGB gives the same palette.
  std::vector<uint8_t> bgr(image.size()), xrgb((size_t)w * 4);
  for (int32_t i = 0; i < w; ++i) {
    bgr[3 * i] = image[3 * i + 2], bgr[3 * i + 1] = image[3 * i + 1], bgr[3 * i + 2] = image[3 * i];
    cvLE_Put32(&xrgb[4 * i], (uint32_t)image[3 * i] << 16 | (uint32_t)image[3 * i + 1] << 8 | image[3 * i + 2]);
  }
  uint8_t fromBgr[768], fromXrgb[768];
  ASSERT_TRUE(cvBitmap_BuildPalFast(bgr.data(), w, 1, w * 3, CV_PIXELFORMAT_24BIT_BGR, fromBgr));
  ASSERT_TRUE(cvBitmap_BuildPalFast(xrgb.data(), w, 1, w * 4, CV_PIXELFORMAT_32BIT_XRGB, fromXrgb));
  EXPECT_EQ(0, memcmp(out, fromBgr, 768));
  EXPECT_EQ(0, memcmp(out, fromXrgb, 768));

  cvErrorLog_Clear();
  EXPECT_FALSE(cvBitmap_BuildPalFast(image.data(), w, 1, w * 3, CV_PIXELFORMAT_8BIT_PAL, out));
  EXPECT_LOGGED(-1);
  // No pixels: all black.
  memset(out, 7, sizeof(out));
  ASSERT_TRUE(cvBitmap_BuildPalFast(nullptr, 0, 0, 0, CV_PIXELFORMAT_24BIT_RGB, out));
  for (uint8_t v : out) EXPECT_EQ(v, 0);
}

TEST(PaletteGood, PhotoQualityAndRefinement) {
  const int32_t w = 128, h = 96;
  const std::vector<uint8_t> photo = PhotoLike(w, h, 7);
  uint8_t good[768], fast[768];
  ASSERT_TRUE(cvBitmap_BuildPalGood(photo.data(), w, h, w * 3, CV_PIXELFORMAT_24BIT_RGB, good));
  ASSERT_TRUE(cvBitmap_BuildPalFast(photo.data(), w, h, w * 3, CV_PIXELFORMAT_24BIT_RGB, fast));
  const double goodError = MappedError(photo, good), fastError = MappedError(photo, fast);
  // A uniform 8 x 8 x 4 palette scores about 610 on this image.
  EXPECT_LT(goodError, 160.0);
  EXPECT_LT(fastError, 500.0);
  EXPECT_LT(goodError, fastError);
  // The palette spreads out: far more than a handful of distinct entries.
  std::set<std::array<uint8_t, 3>> distinct;
  for (int i = 0; i < 256; ++i) distinct.insert({good[3 * i], good[3 * i + 1], good[3 * i + 2]});
  EXPECT_GT(distinct.size(), 200u);

  uint8_t refined[768];
  memcpy(refined, fast, sizeof(refined));
  ASSERT_TRUE(cvBitmap_PalOptimizeData(photo.data(), w, h, w * 3, CV_PIXELFORMAT_24BIT_RGB, refined, 256, 0));
  EXPECT_LT(MappedError(photo, refined), fastError);

  // A sample limit of 1 ends after the first pass, before any update; the
  // entries past the count copy the last one.
  memcpy(refined, fast, sizeof(refined));
  ASSERT_TRUE(cvBitmap_PalOptimizeData(photo.data(), w, h, w * 3, CV_PIXELFORMAT_24BIT_RGB, refined, 100, 1));
  EXPECT_EQ(0, memcmp(refined, fast, 300));
  for (int i = 100; i < 256; ++i) EXPECT_EQ(0, memcmp(refined + 3 * i, fast + 3 * 99, 3)) << i;
}

TEST(PaletteLookup, ExactEntriesRepeatsAndNearest) {
  uint8_t palette[768];
  std::mt19937 rng(3);
  for (uint8_t& v : palette) v = (uint8_t)rng();
  palette[3 * 40] = 255, palette[3 * 40 + 1] = 255, palette[3 * 40 + 2] = 255;  // the far corner cell
  cvBitmap_ColorLookup* lookup = cvBitmap_ColorLookup_Create(palette);
  ASSERT_NE(lookup, nullptr);
  for (int i = 0; i < 256; ++i)
    EXPECT_EQ(cvBitmap_ColorLookup_Find(lookup, palette[3 * i], palette[3 * i + 1], palette[3 * i + 2]), i);
  // Near-white queries land in the cell past the grid's last and still answer.
  EXPECT_EQ(cvBitmap_ColorLookup_Find(lookup, 254, 253, 255), 40);
  // Any colour gets a valid index, and the same one when asked again (the
  // second answer comes from the cache).
  for (int q = 0; q < 2000; ++q) {
    const int r = (int)(rng() % 256), g = (int)(rng() % 256), b = (int)(rng() % 256);
    const int32_t first = cvBitmap_ColorLookup_Find(lookup, r, g, b);
    ASSERT_GE(first, 0);
    ASSERT_LT(first, 256);
    EXPECT_EQ(cvBitmap_ColorLookup_Find(lookup, r, g, b), first);
  }
  cvBitmap_ColorLookup_Destroy(&lookup);
  EXPECT_EQ(lookup, nullptr);

  // With an all-grey ramp every grey finds itself, and a colour next to one
  // entry finds that entry through the grid.
  uint8_t ramp[768];
  for (int i = 0; i < 256; ++i) ramp[3 * i] = ramp[3 * i + 1] = ramp[3 * i + 2] = (uint8_t)i;
  lookup = cvBitmap_ColorLookup_Create(ramp);
  EXPECT_EQ(cvBitmap_ColorLookup_Find(lookup, 100, 101, 99), 100);
  EXPECT_EQ(cvBitmap_ColorLookup_Find(lookup, 17, 17, 17), 17);
  cvBitmap_ColorLookup_Destroy(&lookup);
}

TEST(PaletteForImage, GreyRampOwnPaletteAndCurrentBuilder) {
  uint8_t grey[4] = {0, 50, 100, 200};
  cvBitmap_Info info{};
  info.Width = 2, info.Height = 2, info.Stride = 2, info.Format = CV_PIXELFORMAT_8BIT_GRAY;
  cvBitmap_Palette* palette = cvBitmap_CreatePaletteForImage(&info, grey);
  ASSERT_NE(palette, nullptr);
  EXPECT_EQ(palette->Format, CV_PIXELFORMAT_8BIT_GRAY);
  EXPECT_EQ(palette->Size, 256);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(palette->Data[i], i);
  cvBitmap_Palette_Destroy(&palette);

  EXPECT_EQ(cvBitmap_GetPaletteBuilder(), &cvBitmap_CreatePalGood);
  const auto previous = cvBitmap_SetPaletteBuilder(cvBitmap_CreatePalFast);
  EXPECT_EQ(previous, &cvBitmap_CreatePalGood);
  uint8_t rgb[12] = {200, 10, 10, 200, 10, 10, 10, 200, 10, 10, 10, 200};
  info.Format = CV_PIXELFORMAT_24BIT_RGB;
  palette = cvBitmap_CreatePaletteForImage(&info, rgb);
  ASSERT_NE(palette, nullptr);
  EXPECT_EQ(palette->Format, CV_PIXELFORMAT_24BIT_RGB);
  EXPECT_EQ(palette->Size, 256);
  // The fast builder puts the most frequent colour first.
  EXPECT_EQ((Rgb{palette->Data[0], palette->Data[1], palette->Data[2]}), (Rgb{200, 10, 10}));
  cvBitmap_Palette_Destroy(&palette);
  cvBitmap_SetPaletteBuilder(nullptr);
  EXPECT_EQ(cvBitmap_GetPaletteBuilder(), &cvBitmap_CreatePalGood);
}

TEST(PaletteForBitmap, BuildsAndRefinesFromLevelZero) {
  cvBitmap* bitmap = bftest::MakeBitmap(16, 16, CV_PIXELFORMAT_32BIT_XRGB, [](int x, int y, uint8_t* p) {
    cvLE_Put32(p, (x < 8 ? 0xC81010u : 0x1010C8u) + (uint32_t)(y & 1));
  });
  ASSERT_NE(bitmap, nullptr);
  for (int optimise : {0, 1}) {
    cvBitmap_Palette* palette = cvBitmap_CreatePaletteForBitmap(bitmap, optimise);
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(palette->Format, CV_PIXELFORMAT_24BIT_RGB);
    EXPECT_EQ(palette->Size, 256);
    // Both halves' colours are represented closely.
    for (Rgb c : {Rgb{200, 16, 16}, Rgb{16, 16, 200}}) {
      int best = INT32_MAX;
      for (int i = 0; i < 256; ++i) {
        int d = 0;
        for (int k = 0; k < 3; ++k) d += (palette->Data[3 * i + k] - c[k]) * (palette->Data[3 * i + k] - c[k]);
        best = std::min(best, d);
      }
      EXPECT_LE(best, 12) << optimise;
    }
    cvBitmap_Palette_Destroy(&palette);
  }
  // Level 0 is not locked afterwards.
  cvBitmap* lock = nullptr;
  EXPECT_TRUE(cvBitmap_LockForWrite(bitmap, &lock, 0, 0));
  cvBitmap_UnLock_NoChange(lock);
  cvBitmap_Destroy(&bitmap);
}

TEST(PaletteBuilders, AllocationFailureIsReported) {
  const std::vector<uint8_t> photo = PhotoLike(32, 32, 5);
  uint8_t out[768];
  for (int good : {0, 1}) {
    cvBitmap_PalettePools_Free();  // so that the build has to allocate
    cvErrorLog_Clear();
    int ok;
    {
      cvtest::FailNthAllocation fail(1);
      ok = good ? cvBitmap_BuildPalGood(photo.data(), 32, 32, 96, CV_PIXELFORMAT_24BIT_RGB, out)
                : cvBitmap_BuildPalFast(photo.data(), 32, 32, 96, CV_PIXELFORMAT_24BIT_RGB, out);
    }
    EXPECT_FALSE(ok);
    EXPECT_LOGGED(-1);
    // The next build starts from a clean pool.
    EXPECT_TRUE(good ? cvBitmap_BuildPalGood(photo.data(), 32, 32, 96, CV_PIXELFORMAT_24BIT_RGB, out)
                     : cvBitmap_BuildPalFast(photo.data(), 32, 32, 96, CV_PIXELFORMAT_24BIT_RGB, out));
  }
}

}  // namespace
