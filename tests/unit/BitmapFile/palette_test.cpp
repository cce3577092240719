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

using bftest::PhotoLike;

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
  // The good builder's own k-means passes leave little for the per-pixel
  // refinement to gain.
  memcpy(refined, good, sizeof(refined));
  ASSERT_TRUE(cvBitmap_PalOptimizeData(photo.data(), w, h, w * 3, CV_PIXELFORMAT_24BIT_RGB, refined, 256, 0));
  EXPECT_GT(MappedError(photo, refined), goodError * 0.97);

  // A sample limit of 1 ends after the first pass, before any update; the
  // entries past the count copy the last one.
  memcpy(refined, fast, sizeof(refined));
  ASSERT_TRUE(cvBitmap_PalOptimizeData(photo.data(), w, h, w * 3, CV_PIXELFORMAT_24BIT_RGB, refined, 100, 1));
  EXPECT_EQ(0, memcmp(refined, fast, 300));
  for (int i = 100; i < 256; ++i) EXPECT_EQ(0, memcmp(refined + 3 * i, fast + 3 * 99, 3)) << i;
}

// The nearest entry by a search of every entry in index order: the lowest
// index wins ties. Count and Excluded as the lookup takes them.
int32_t FullSearch(const uint8_t* Palette, int32_t Count, int32_t Excluded, int32_t R, int32_t G, int32_t B) {
  if (Count == 1) Excluded = -1;
  int32_t best = -1, bestDistance = INT32_MAX;
  for (int32_t i = 0; i < Count; ++i) {
    if (i == Excluded) continue;
    const int32_t dr = Palette[3 * i] - R, dg = Palette[3 * i + 1] - G, db = Palette[3 * i + 2] - B;
    const int32_t d = dr * dr + dg * dg + db * db;
    if (d < bestDistance) bestDistance = d, best = i;
  }
  return best;
}

TEST(PaletteLookup, AgreesWithAFullSearch) {
  // Palettes of several kinds: uniform, clustered in one corner, on a coarse
  // lattice (many repeated entries and equal distances, so ties decide), and
  // pinned to the channel ends; some searched over fewer entries or without
  // a key entry. Queries: random, every combination of values at and next to
  // the channel ends and the grid's cell edges, and each palette colour.
  std::mt19937 rng(11);
  const int32_t edges[] = {0, 1, 7, 8, 15, 16, 127, 128, 239, 240, 247, 248, 254, 255};
  int64_t queries = 0;
  for (int32_t round = 0; round < 64; ++round) {
    uint8_t palette[768];
    const int kind = round % 4;
    for (uint8_t& v : palette) {
      const uint32_t x = rng();
      v = kind == 0 ? (uint8_t)x
          : kind == 1 ? (uint8_t)(200 + x % 56)
          : kind == 2 ? (uint8_t)(x % 4 * 85)
                      : (uint8_t)(x % 3 == 0 ? 0 : x % 3 == 1 ? 255 : x % 256);
    }
    const int32_t count = round % 3 == 0 ? (int32_t)(1 + rng() % 256) : 256;
    const int32_t excluded = round % 5 == 0 ? -1 : (int32_t)(rng() % (uint32_t)count);
    cvBitmap_ColorLookup* lookup = cvBitmap_ColorLookup_CreateFor(palette, count, excluded);
    ASSERT_NE(lookup, nullptr);
    auto check = [&](int32_t r, int32_t g, int32_t b) {
      const int32_t expected = FullSearch(palette, count, excluded, r, g, b);
      // The first answer is searched, the second comes from the cache; the
      // uncached search agrees with both.
      for (int pass = 0; pass < 2; ++pass)
        ASSERT_EQ(cvBitmap_ColorLookup_Find(lookup, r, g, b), expected)
            << "round " << round << " query " << r << "," << g << "," << b;
      ASSERT_EQ(cvBitmap_ColorLookup_Nearest(lookup, r, g, b), expected);
      ++queries;
    };
    for (int32_t q = 0; q < 300; ++q) check((int32_t)(rng() % 256), (int32_t)(rng() % 256), (int32_t)(rng() % 256));
    if (round % 8 == 0)
      for (int32_t r : edges)
        for (int32_t g : edges)
          for (int32_t b : edges) check(r, g, b);
    for (int32_t i = 0; i < count; ++i) check(palette[3 * i], palette[3 * i + 1], palette[3 * i + 2]);
    cvBitmap_ColorLookup_Destroy(&lookup);
    EXPECT_EQ(lookup, nullptr);
  }
  EXPECT_GT(queries, 50000);
  cvErrorLog_Clear();
  EXPECT_EQ(cvBitmap_ColorLookup_CreateFor(nullptr, 256, -1), nullptr);
  uint8_t one[768] = {};
  EXPECT_EQ(cvBitmap_ColorLookup_CreateFor(one, 0, -1), nullptr);
  EXPECT_LOGGED(-1);
}

// The distinct colours of a 24-bit RGB image or palette.
std::set<Rgb> ColourSet(const uint8_t* Data, size_t Count) {
  std::set<Rgb> out;
  for (size_t i = 0; i < Count; ++i) out.insert({Data[3 * i], Data[3 * i + 1], Data[3 * i + 2]});
  return out;
}

// Pixels of Colours[i] repeated Counts[i] times, in turn.
std::vector<uint8_t> Repeat(const std::vector<Rgb>& Colours, const std::vector<int>& Counts) {
  std::vector<uint8_t> image;
  for (size_t i = 0; i < Colours.size(); ++i)
    for (int k = 0; k < Counts[i]; ++k) image.insert(image.end(), Colours[i].begin(), Colours[i].end());
  return image;
}

TEST(PaletteBuilders, ImagesOfAtMost256ColoursKeepExactlyTheirColours) {
  std::mt19937 rng(21);
  std::vector<Rgb> randomColours;
  std::set<Rgb> seen;
  while (randomColours.size() < 257) {
    const Rgb c{(uint8_t)rng(), (uint8_t)rng(), (uint8_t)rng()};
    if (seen.insert(c).second) randomColours.push_back(c);
  }
  randomColours[0] = {255, 0, 0}, randomColours[1] = {0, 0, 0}, randomColours[2] = {255, 255, 255};
  struct Case {
    std::vector<Rgb> Colours;
    std::vector<int> Counts;
  };
  std::vector<Case> cases = {
      {{{255, 0, 0}}, {1}},
      {{{234, 8, 8}, {240, 30, 30}}, {100, 3}},  // a dominant colour and a close minority
      {{{0, 0, 0}, {1, 1, 1}}, {100, 3}},
  };
  for (size_t n : {255, 256}) {
    Case c{std::vector<Rgb>(randomColours.begin(), randomColours.begin() + (long)n), {}};
    for (size_t i = 0; i < n; ++i) c.Counts.push_back(1 + (int)(i % 3));  // singles included
    cases.push_back(c);
  }
  for (const Case& c : cases) {
    const std::vector<uint8_t> image = Repeat(c.Colours, c.Counts);
    const int32_t w = (int32_t)(image.size() / 3);
    const std::set<Rgb> expected(c.Colours.begin(), c.Colours.end());
    uint8_t good[768], fast[768];
    ASSERT_TRUE(cvBitmap_BuildPalGood(image.data(), w, 1, w * 3, CV_PIXELFORMAT_24BIT_RGB, good));
    ASSERT_TRUE(cvBitmap_BuildPalFast(image.data(), w, 1, w * 3, CV_PIXELFORMAT_24BIT_RGB, fast));
    EXPECT_EQ(ColourSet(good, 256), expected) << c.Colours.size() << " colours";
    // Both builders choose the same way for such images.
    EXPECT_EQ(0, memcmp(good, fast, sizeof(good))) << c.Colours.size() << " colours";
  }

  // 257 colours: 256 of them, each once.
  std::vector<int> ones(257, 1);
  const std::vector<uint8_t> image = Repeat(randomColours, ones);
  uint8_t fast[768], good[768];
  ASSERT_TRUE(cvBitmap_BuildPalFast(image.data(), 257, 1, 257 * 3, CV_PIXELFORMAT_24BIT_RGB, fast));
  const std::set<Rgb> fastSet = ColourSet(fast, 256);
  EXPECT_EQ(fastSet.size(), 256u);
  const std::set<Rgb> imageSet(randomColours.begin(), randomColours.end());
  EXPECT_TRUE(std::includes(imageSet.begin(), imageSet.end(), fastSet.begin(), fastSet.end()));
  ASSERT_TRUE(cvBitmap_BuildPalGood(image.data(), 257, 1, 257 * 3, CV_PIXELFORMAT_24BIT_RGB, good));
  EXPECT_GE(ColourSet(good, 256).size(), 250u);
}

TEST(PaletteGood, DominantColoursSurviveInLargeImages) {
  // More than 256 colours, among them a dominant colour next to a small
  // close minority: the dominant colour must come out exactly.
  std::mt19937 rng(5);
  std::vector<Rgb> colours = {{234, 8, 8}, {240, 30, 30}, {0, 0, 0}, {1, 1, 1}};
  std::vector<int> counts = {100, 3, 100, 3};
  for (int i = 0; i < 600; ++i) {
    colours.push_back({(uint8_t)(40 + rng() % 160), (uint8_t)(60 + rng() % 160), (uint8_t)(60 + rng() % 160)});
    counts.push_back(1 + (int)(rng() % 3));
  }
  const std::vector<uint8_t> image = Repeat(colours, counts);
  const int32_t w = (int32_t)(image.size() / 3);
  uint8_t good[768];
  ASSERT_TRUE(cvBitmap_BuildPalGood(image.data(), w, 1, w * 3, CV_PIXELFORMAT_24BIT_RGB, good));
  const std::set<Rgb> palette = ColourSet(good, 256);
  EXPECT_TRUE(palette.count({234, 8, 8}));
  EXPECT_TRUE(palette.count({0, 0, 0}));
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
