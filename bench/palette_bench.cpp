// Palette creation for a 1024 x 1024 photo-like true-colour image: building
// the palette with each builder and mapping every pixel through the
// nearest-colour lookup (time, and the mean squared error per pixel of the
// result as the counter "mse"), the refinement on top of the good builder,
// and writing the image as an 8-bit skin BMP.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "Bitmap/cvbitmap.h"

#include "bitmapwriter.h"

namespace {

constexpr int32_t kSide = 1024;

// Smooth shading over a few large shapes, fine texture and sensor-like noise:
// many distinct colours, most of them rare, clustered along gradients.
const std::vector<uint8_t>& Photo() {
  static const std::vector<uint8_t> pixels = [] {
    std::vector<uint8_t> p((size_t)kSide * kSide * 3);
    std::mt19937 rng(1234);
    std::normal_distribution<double> noise(0.0, 3.0);
    for (int32_t y = 0; y < kSide; ++y)
      for (int32_t x = 0; x < kSide; ++x) {
        const double fx = (double)x / kSide, fy = (double)y / kSide;
        const double sky = fy < 0.45 ? 1.0 : 0.0;
        const double disc = std::hypot(fx - 0.65, fy - 0.55) < 0.2 ? 1.0 : 0.0;
        const double texture = 12.0 * std::sin(40 * fx + 7 * std::sin(25 * fy));
        double r = sky * (90 + 80 * fy) + (1 - sky) * (70 + 60 * fx + texture);
        double g = sky * (140 + 90 * fy) + (1 - sky) * (110 + 50 * std::sin(5 * fx) + texture);
        double b = sky * (230 - 40 * fy) + (1 - sky) * (40 + 30 * fy);
        r = disc * (200 + 40 * fx) + (1 - disc) * r;
        g = disc * (60 + 50 * fy) + (1 - disc) * g;
        b = disc * (40 + 20 * std::cos(9 * fx)) + (1 - disc) * b;
        uint8_t* out = &p[((size_t)y * kSide + x) * 3];
        const double c[3] = {r, g, b};
        for (int k = 0; k < 3; ++k) out[k] = (uint8_t)std::clamp((int)std::lround(c[k] + noise(rng)), 0, 255);
      }
    return p;
  }();
  return pixels;
}

// Maps every pixel and returns the mean squared error per pixel.
double MapAll(const std::vector<uint8_t>& Pixels, const uint8_t* Palette, std::vector<uint8_t>& Indices) {
  cvBitmap_ColorLookup* lookup = cvBitmap_ColorLookup_Create(Palette);
  uint64_t sum = 0;
  for (size_t i = 0, n = 0; i < Pixels.size(); i += 3, ++n) {
    const int32_t index = cvBitmap_ColorLookup_Find(lookup, Pixels[i], Pixels[i + 1], Pixels[i + 2]);
    Indices[n] = (uint8_t)index;
    for (int k = 0; k < 3; ++k) {
      const int32_t d = Pixels[i + k] - Palette[index * 3 + k];
      sum += (uint64_t)(d * d);
    }
  }
  cvBitmap_ColorLookup_Destroy(&lookup);
  return (double)sum / (double)(Pixels.size() / 3);
}

using Builder = int (*)(const void*, int32_t, int32_t, int32_t, int32_t, uint8_t*);

void BuildAndMap(benchmark::State& State, Builder Build, bool Optimise) {
  const std::vector<uint8_t>& photo = Photo();
  std::vector<uint8_t> indices((size_t)kSide * kSide);
  uint8_t palette[768];
  double mse = 0;
  for (auto _ : State) {
    if (!Build(photo.data(), kSide, kSide, kSide * 3, CV_PIXELFORMAT_24BIT_RGB, palette)) {
      State.SkipWithError("builder failed");
      return;
    }
    if (Optimise)
      cvBitmap_PalOptimizeData(photo.data(), kSide, kSide, kSide * 3, CV_PIXELFORMAT_24BIT_RGB,
                               palette, 256, 0);
    mse = MapAll(photo, palette, indices);
    benchmark::DoNotOptimize(indices.data());
  }
  State.counters["mse"] = mse;
  State.SetItemsProcessed(State.iterations() * kSide * kSide);
}

void BM_PaletteFastBuildAndMap(benchmark::State& State) { BuildAndMap(State, cvBitmap_BuildPalFast, false); }
void BM_PaletteGoodBuildAndMap(benchmark::State& State) { BuildAndMap(State, cvBitmap_BuildPalGood, false); }
void BM_PaletteGoodOptimizedBuildAndMap(benchmark::State& State) {
  BuildAndMap(State, cvBitmap_BuildPalGood, true);
}

// Mapping alone, with the palette built once: repeated colours are answered
// from the exact-colour cache.
void BM_PaletteMapOnly(benchmark::State& State) {
  const std::vector<uint8_t>& photo = Photo();
  std::vector<uint8_t> indices((size_t)kSide * kSide);
  uint8_t palette[768];
  cvBitmap_BuildPalGood(photo.data(), kSide, kSide, kSide * 3, CV_PIXELFORMAT_24BIT_RGB, palette);
  for (auto _ : State) {
    benchmark::DoNotOptimize(MapAll(photo, palette, indices));
  }
  State.SetItemsProcessed(State.iterations() * kSide * kSide);
}

// The skin writer on the same image: lock as 8-bit palettised (palette built
// by the current builder, pixels mapped), then the BMP file.
void BM_BitmapWriterPhoto(benchmark::State& State) {
  const std::vector<uint8_t>& photo = Photo();
  cvBitmap* bitmap = cvBitmap_Create(kSide, kSide, 1, CV_PIXELFORMAT_24BIT_RGB);
  uint8_t* pixels = bitmap ? cvBitmap_AllocateMip(bitmap, 0) : nullptr;
  if (!pixels) {
    State.SkipWithError("bitmap allocation failed");
    return;
  }
  std::copy(photo.begin(), photo.end(), pixels);
  cvBitmap_SetMipValid(bitmap, 0, 1);
  const std::string path = "/tmp/cvbench_skin_" + std::to_string((long)getpid()) + ".bmp";
  for (auto _ : State) {
    BitmapWriter* writer = new BitmapWriter;
    if (!writer->Write(bitmap, path.c_str())) State.SkipWithError("write failed");
    delete writer;
  }
  std::remove(path.c_str());
  cvBitmap_Destroy(&bitmap);
  State.SetItemsProcessed(State.iterations() * kSide * kSide);
}

}  // namespace

BENCHMARK(BM_PaletteFastBuildAndMap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaletteGoodBuildAndMap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaletteGoodOptimizedBuildAndMap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaletteMapOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BitmapWriterPhoto)->Unit(benchmark::kMillisecond);
