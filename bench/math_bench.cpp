// Transforming vertex arrays and interpolating rotations: the inner loops of
// skinning and animation sampling.
#include <benchmark/benchmark.h>

#include <vector>

#include "Math/cvmath.h"

static void BM_TransformArray(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::vector<cvVec3d> src(n), dst(n);
  for (int i = 0; i < n; ++i) src[i] = {float(i % 17), float(i % 5), float(i % 11)};
  cvXForm3d m;
  cvVec3d angles = {0.3f, 0.2f, 0.1f};
  cvXForm3d_SetEulerAngles(&m, &angles);
  for (auto _ : state) {
    cvXForm3d_TransformArray(&m, src.data(), dst.data(), n);
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_TransformArray)->Arg(4096);

static void BM_Slerp(benchmark::State& state) {
  cvQuaternion a, b, out;
  cvVec3d axis = {0, 1, 0};
  cvQuaternion_SetFromAxisAngle(&a, &axis, 0.1f);
  cvQuaternion_SetFromAxisAngle(&b, &axis, 1.3f);
  float t = 0;
  for (auto _ : state) {
    cvQuaternion_Slerp(&a, &b, t, &out);
    t = t > 1 ? 0 : t + 0.001f;
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Slerp);
