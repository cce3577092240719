// Fill rate of the software render driver: full-screen quads at 640 x 480
// drawn through the engine and the real SoftRnd module (from the folder of
// this program). Items are pixels.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "Engine/cvengcore.h"
#include "platform/window.h"

namespace {

constexpr int32_t kWidth = 640, kHeight = 480;
constexpr int kQuadsPerFrame = 4;

// kPerspective: each quad recedes to three times its near depth across the
// screen; kSteepWall: to sixty times, where texture runs shorten to keep
// texels in place.
enum Variant { kTextured, kModulated, kPerspective, kBlended, kGouraud, kSteepWall };

struct Setup {
  cvplatform::HeadlessWindow Window{kWidth, kHeight};
  cvEngine* Engine = nullptr;
  Setup() {
    cvLogo_Disable();  // opening the driver must not play the start-up logo
    Engine = cvEngine_Create(Window.Record(), "render bench", ".", CV_ENGINE_VERSION);
    if (!Engine) return;
    for (cvDriver_Record* d = cvDriver_GetNextDriver(Engine, nullptr); d;
         d = cvDriver_GetNextDriver(Engine, d)) {
      if (std::strcmp(d->FileName, "SoftRnd.so") != 0) continue;
      for (cvDriver_Mode* m = cvDriver_GetNextMode(d, nullptr); m; m = cvDriver_GetNextMode(d, m))
        if (std::strcmp(m->Name, "Window") == 0 && cvEngine_SetDriverAndMode(Engine, d, m)) {
          cvEngine_EnableFrameRateCounter(Engine, 0);
          return;
        }
    }
    cvEngine_Destroy(Engine);
    Engine = nullptr;
  }
  ~Setup() { cvEngine_Destroy(Engine); }
};

void* MakeCheckerTexture(cvDriver_Table* d) {
  cvDriver_PixelFormat f{13, CV_DRIVER_FORMAT_3D};  // 32 bit XRGB
  void* t = d->CreateTexture(256, 256, 1, &f);
  int32_t pitch = 0;
  auto* p = static_cast<uint8_t*>(d->LockTexture(t, 0, &pitch));
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) {
      const uint32_t c = ((x ^ y) & 16) ? 0xC08040u : 0x3060A0u;
      std::memcpy(p + y * pitch + x * 4, &c, 4);
    }
  d->UnlockTexture(t, 0);
  return t;
}

void BM_RenderFullScreenQuads(benchmark::State& state) {
  const auto variant = static_cast<Variant>(state.range(0));
  Setup setup;
  if (!setup.Engine) {
    state.SkipWithError("SoftRnd.so not found beside the benchmark program");
    return;
  }
  cvEngine* e = setup.Engine;
  // The first frame attaches the engine's textures (and resets the driver),
  // so the quad's texture is made inside it.
  cvEngine_BeginFrame(e, nullptr, 1);
  cvDriver_Table* d = cvEngine_GetDriver(e);
  void* texture = MakeCheckerTexture(d);
  cvEngine_EndFrame(e);

  const float c = variant == kModulated ? 200.0f : 255.0f;
  const float a = variant == kBlended ? 128.0f : 255.0f;
  const uint32_t flags = variant == kBlended ? (uint32_t)CV_DRIVER_POLY_BLEND : 0u;
  for (auto _ : state) {
    cvEngine_BeginFrame(e, nullptr, 1);
    for (int q = 0; q < kQuadsPerFrame; ++q) {
      // Each quad lies nearer than the last, so every pixel passes the z-test.
      const float z = (float)(kQuadsPerFrame - q) * 2.0f;
      const float zFar = variant == kPerspective ? z * 3.0f : variant == kSteepWall ? z * 60.0f : z;
      cvDriver_Vertex v[4] = {{0, 0, z, 0, 0, c, c, c, a},
                              {(float)kWidth, 0, zFar, 2.5f, 0, c, c, c, a},
                              {(float)kWidth, (float)kHeight, zFar, 2.5f, 2.0f, c, c, c, a},
                              {0, (float)kHeight, z, 0, 2.0f, c, c, c, a}};
      if (variant == kGouraud) {
        v[1].R = 0;
        v[2].G = 0;
        d->RenderGouraudPoly(v, 4, flags);
      } else {
        d->RenderTexturedPoly(v, 4, texture, flags);
      }
    }
    cvEngine_EndFrame(e);
  }
  state.SetItemsProcessed(state.iterations() * kQuadsPerFrame * kWidth * kHeight);
  state.counters["fps"] = benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_RenderFullScreenQuads)
    ->ArgName("variant")
    ->Arg(kTextured)
    ->Arg(kModulated)
    ->Arg(kPerspective)
    ->Arg(kBlended)
    ->Arg(kGouraud)
    ->Arg(kSteepWall)
    ->Unit(benchmark::kMillisecond);
