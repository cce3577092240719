// "palOptimize": a damped k-means refinement of a palette.
//
// Each pass samples every s-th pixel (s from a falling table of mostly prime
// spacings, so the samples do not line up with rows), maps the samples to
// their nearest entries and moves every used entry halfway towards the mean
// of its samples. The pass score is the mean squared error x 256. The best
// palette so far is kept; once every pixel is sampled and the score no longer
// improves, the best palette is restored.
#include <cstring>

#include "Bitmap/bitmap.h"
#include "Bitmap/palette_pixels.h"
#include "Bitmap/palettecreate.h"
#include "Support/cvsupport.h"

namespace {

constexpr int32_t kSteps[] = {1009, 757, 499, 401, 307, 239, 197, 157, 131,
                              103,  67,  41,  29,  17,  13,  7,   4,   1};
constexpr int32_t kStepCount = (int32_t)(sizeof(kSteps) / sizeof(kSteps[0]));

int32_t MoveHalfway(int32_t Old, int32_t Mean) {
  const int32_t d = Mean - Old;
  int32_t moved = Old;
  if (d > 0) moved = Old + ((d + 1) >> 1);
  else if (d < 0) moved = Old - ((1 - d) >> 1);
  return moved < 0 ? 0 : (moved > 255 ? 255 : moved);
}

}  // namespace

int cvBitmap_PalOptimizeData(const void* Pixels, int32_t Width, int32_t Height, int32_t StrideBytes,
                             int32_t Format, uint8_t* Triples, int32_t Count, int32_t SampleLimit) {
  cvpal::PixelReader reader;
  if (!Triples || Count < 1 || Count > CV_PALETTE_ENTRIES || !reader.Init(Format) || Width < 0 ||
      Height < 0 || StrideBytes < 0) {
    CV_ERROR(-1);
    return 0;
  }
  const int32_t bpp = reader.BytesPerPixel();
  uint64_t pixelCount = 0;
  if (!cvSize_Mul((uint64_t)(StrideBytes / bpp), (uint64_t)Height, &pixelCount) ||
      (pixelCount > 0 && !Pixels)) {
    CV_ERROR(-1);
    return 0;
  }
  for (int32_t i = Count; i < CV_PALETTE_ENTRIES; ++i)
    std::memcpy(Triples + i * 3, Triples + (Count - 1) * 3, 3);
  if (pixelCount == 0) return 1;

  const auto* pixels = static_cast<const uint8_t*>(Pixels);
  const uint64_t limit = SampleLimit < 1 ? UINT64_MAX : (uint64_t)SampleLimit;
  uint8_t saved[CV_PALETTE_ENTRIES * 3];
  std::memcpy(saved, Triples, sizeof(saved));
  uint64_t totalSamples = 0;
  int64_t previousScore = -1;  // none yet
  int32_t stepIndex = 0;

  for (;;) {
    const int32_t step = kSteps[stepIndex < kStepCount ? stepIndex : kStepCount - 1];
    if (stepIndex < kStepCount) ++stepIndex;

    cvBitmap_ColorLookup* lookup = cvBitmap_ColorLookup_Create(Triples);
    if (!lookup) return 0;
    uint64_t sums[CV_PALETTE_ENTRIES][4] = {};
    uint32_t error = 0;  // deliberately a 32-bit sum, as the score has always been
    uint64_t samples = 0;
    for (uint64_t i = 0; i < pixelCount; i += (uint64_t)step) {
      int32_t r, g, b;
      reader.Read(pixels + i * (uint64_t)bpp, &r, &g, &b);
      int32_t index = cvBitmap_ColorLookup_Find(lookup, r, g, b);
      if (index > Count - 1) index = Count - 1;
      const uint8_t* entry = Triples + index * 3;
      const int32_t dr = r - entry[0], dg = g - entry[1], db = b - entry[2];
      error += (uint32_t)(dr * dr + dg * dg + db * db);
      sums[index][0] += (uint64_t)r, sums[index][1] += (uint64_t)g, sums[index][2] += (uint64_t)b;
      sums[index][3] += 1;
      ++samples;
    }
    cvBitmap_ColorLookup_Destroy(&lookup);
    if (samples == 0) continue;  // cannot happen with pixels, kept for clarity of intent

    const int64_t score = (int64_t)((uint64_t)error * 256u / samples);
    totalSamples += samples;
    if (previousScore < 0 || score < previousScore) {
      std::memcpy(saved, Triples, sizeof(saved));
    } else if (step == 1) {
      std::memcpy(Triples, saved, sizeof(saved));
      return 1;
    } else if (score == previousScore) {
      std::memcpy(saved, Triples, sizeof(saved));
    }
    if (totalSamples >= limit) return 1;

    for (int32_t i = 0; i < Count; ++i) {
      if (sums[i][3] == 0) continue;
      for (int k = 0; k < 3; ++k) {
        const int32_t mean = (int32_t)(sums[i][k] / sums[i][3]);
        Triples[i * 3 + k] = (uint8_t)MoveHalfway(Triples[i * 3 + k], mean);
      }
    }
    const int64_t change = previousScore < 0 ? INT64_MAX : (score > previousScore ? score - previousScore : previousScore - score);
    previousScore = score;
    if (step == 1 && change <= 49) return 1;
  }
}
