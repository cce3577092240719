// Motion sampling speed: a 60-path leaf motion (one path per bone) with 120
// keys per channel over 4 seconds, every path sampled at 10,000 times, once
// with times in increasing order (as playback does, where the per-channel key
// cache saves the key search) and once at random times. Reported as path
// samples per second; the slerp/linear motion is the common kind, the squad/
// Hermite one the most expensive interpolation.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "Anim/cvanim.h"

namespace {

constexpr int kPaths = 60;
constexpr int kKeys = 120;
constexpr int kTimes = 10000;
constexpr float kDuration = 4.0f;

cvMotion* MakeMotion(int TranslationCode, int RotationCode) {
  cvMotion* motion = cvMotion_Create(1);
  for (int p = 0; p < kPaths; ++p) {
    cvPath* path = cvPath_Create(TranslationCode, RotationCode, 1);
    for (int k = 0; k < kKeys; ++k) {
      const float t = kDuration * static_cast<float>(k) / static_cast<float>(kKeys - 1);
      cvXForm3d x;
      cvXForm3d_SetYRotation(&x, 0.05f * static_cast<float>(k + p));
      cvXForm3d_RotateX(&x, 0.3f * static_cast<float>((k * 7 + p) % 11) / 11.0f);
      x.T = cvVec3d{static_cast<float>(p), 0.01f * static_cast<float>(k), static_cast<float>(k % 5)};
      cvPath_InsertKeyframe(path, CV_PATH_ALL_CHANNELS, t, &x);
    }
    char name[16];
    std::snprintf(name, sizeof name, "bone%02d", p);
    cvMotion_AddPath(motion, path, name, nullptr);
    cvPath_Destroy(&path);
  }
  return motion;
}

std::vector<float> Times(bool Random) {
  std::vector<float> times(kTimes);
  uint32_t seed = 2024;
  for (int i = 0; i < kTimes; ++i) {
    if (Random) {
      seed = seed * 1664525u + 1013904223u;
      times[static_cast<size_t>(i)] = kDuration * static_cast<float>(seed >> 8) / static_cast<float>(1u << 24);
    } else {
      times[static_cast<size_t>(i)] = kDuration * static_cast<float>(i) / static_cast<float>(kTimes);
    }
  }
  return times;
}

void Run(benchmark::State& State, int TranslationCode, int RotationCode, bool Random) {
  cvMotion* motion = MakeMotion(TranslationCode, RotationCode);
  const std::vector<float> times = Times(Random);
  cvXForm3d x;
  for (auto _ : State) {
    for (float t : times)
      for (int p = 0; p < kPaths; ++p) {
        cvMotion_SampleByIndex(motion, p, t, &x);
        benchmark::DoNotOptimize(x);
      }
  }
  State.SetItemsProcessed(State.iterations() * kTimes * kPaths);
  cvMotion_Destroy(&motion);
}

void BM_MotionSample_InOrder(benchmark::State& State) {
  Run(State, CV_PATH_INTERPOLATE_LINEAR, CV_PATH_INTERPOLATE_SLERP, false);
}
void BM_MotionSample_Random(benchmark::State& State) {
  Run(State, CV_PATH_INTERPOLATE_LINEAR, CV_PATH_INTERPOLATE_SLERP, true);
}
void BM_MotionSample_SquadHermite_InOrder(benchmark::State& State) {
  Run(State, CV_PATH_INTERPOLATE_HERMITE, CV_PATH_INTERPOLATE_SQUAD, false);
}
void BM_MotionSample_SquadHermite_Random(benchmark::State& State) {
  Run(State, CV_PATH_INTERPOLATE_HERMITE, CV_PATH_INTERPOLATE_SQUAD, true);
}

// Sampling by name, as poses do when the bone checksums differ.
void BM_MotionSample_ByName_InOrder(benchmark::State& State) {
  cvMotion* motion = MakeMotion(CV_PATH_INTERPOLATE_LINEAR, CV_PATH_INTERPOLATE_SLERP);
  const std::vector<float> times = Times(false);
  char names[kPaths][16];
  for (int p = 0; p < kPaths; ++p) std::snprintf(names[p], sizeof names[p], "bone%02d", p);
  cvXForm3d x;
  for (auto _ : State) {
    for (float t : times)
      for (int p = 0; p < kPaths; ++p) {
        cvMotion_SampleByName(motion, names[p], t, &x);
        benchmark::DoNotOptimize(x);
      }
  }
  State.SetItemsProcessed(State.iterations() * kTimes * kPaths);
  cvMotion_Destroy(&motion);
}

}  // namespace

BENCHMARK(BM_MotionSample_InOrder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MotionSample_Random)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MotionSample_SquadHermite_InOrder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MotionSample_SquadHermite_Random)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MotionSample_ByName_InOrder)->Unit(benchmark::kMillisecond);
