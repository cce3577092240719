// Pixel conversion speed: a 1024 x 1024 image into 565 RGB, from 24-bit BGR
// and from 32-bit ARGB into a colour-keyed destination (alpha below 80
// becomes the key). Reported as megapixels per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "Bitmap/cvbitmap.h"

namespace {

constexpr int32_t kSize = 1024;

// A photo-like pattern: smooth gradients with some noise.
std::vector<uint8_t> MakePixels(int32_t Bytes) {
  std::vector<uint8_t> P((size_t)kSize * kSize * Bytes);
  uint32_t Seed = 12345;
  for (int32_t y = 0; y < kSize; ++y)
    for (int32_t x = 0; x < kSize; ++x) {
      Seed = Seed * 1664525u + 1013904223u;
      uint8_t* Q = &P[((size_t)y * kSize + x) * Bytes];
      Q[0] = (uint8_t)(x / 4 + (Seed >> 28));
      Q[1] = (uint8_t)(y / 4 + ((Seed >> 24) & 7));
      Q[2] = (uint8_t)((x + y) / 8);
      if (Bytes == 4) Q[3] = (uint8_t)(Seed >> 16);  // alpha: a quarter or so below 80
    }
  return P;
}

void Convert(benchmark::State& State, cvPixelFormat SourceFormat, int32_t DestinationKey) {
  const std::vector<uint8_t> Source = MakePixels(cvPixelFormat_BytesPerPixel(SourceFormat));
  std::vector<uint16_t> Destination((size_t)kSize * kSize);
  const cvBitmap_Info SI = {kSize, kSize, kSize, SourceFormat, 0, 0, 0, 0, nullptr};
  cvBitmap_Info DI = {kSize, kSize, kSize, CV_PIXELFORMAT_16BIT_565_RGB, 0, 0, DestinationKey >= 0,
                      (uint32_t)(DestinationKey >= 0 ? DestinationKey : 0), nullptr};
  for (auto _ : State) {
    if (!cvBitmap_BlitData(&SI, Source.data(), nullptr, &DI, Destination.data(), nullptr, kSize, kSize))
      State.SkipWithError("conversion failed");
    benchmark::DoNotOptimize(Destination.data());
    benchmark::ClobberMemory();
  }
  State.counters["MPixel/s"] =
      benchmark::Counter((double)kSize * kSize * State.iterations() / 1e6, benchmark::Counter::kIsRate);
}

void BM_Bitmap_Convert_BGR24_To_565(benchmark::State& State) {
  Convert(State, CV_PIXELFORMAT_24BIT_BGR, -1);
}
void BM_Bitmap_Convert_ARGB32_Keyed_To_565(benchmark::State& State) {
  Convert(State, CV_PIXELFORMAT_32BIT_ARGB, 0xF81F);
}

BENCHMARK(BM_Bitmap_Convert_BGR24_To_565)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bitmap_Convert_ARGB32_Keyed_To_565)->Unit(benchmark::kMillisecond);

}  // namespace
