// Frames per second drawing the sample actor at 640 x 480 with textures and
// lighting, through the engine, the world, the puppet and the software driver
// module into a headless window. Needs the build's bin folder (the driver
// module and sample.act): it is found beside the benchmark program.
#include <benchmark/benchmark.h>

#include <climits>
#include <string>
#include <unistd.h>

#include "cvengine.h"
#include "platform/window.h"

namespace {

std::string ProgramDir() {
  char Path[PATH_MAX];
  const ssize_t N = readlink("/proc/self/exe", Path, sizeof(Path) - 1);
  if (N <= 0) return ".";
  std::string S(Path, (size_t)N);
  return S.substr(0, S.find_last_of('/'));
}

struct SampleScene {
  cvplatform::HeadlessWindow Window{640, 480};
  cvEngine* Engine = nullptr;
  cvWorld* World = nullptr;
  cvCamera* Camera = nullptr;
  cvActorDef* Def = nullptr;
  cvActor* Actor = nullptr;
  cvMotion* Walk = nullptr;
  bool Ok = false;

  explicit SampleScene(int DynamicLights) {
    const std::string Dir = ProgramDir();
    cvLogo_Disable();  // opening the driver must not play the start-up logo
    Engine = cvEngine_Create(Window.Record(), "scene bench", Dir.c_str(), CV_ENGINE_VERSION);
    if (!Engine) return;
    cvEngine_EnableFrameRateCounter(Engine, 0);
    bool Opened = false;
    for (cvDriver_Record* D = cvDriver_GetNextDriver(Engine, nullptr); D && !Opened;
         D = cvDriver_GetNextDriver(Engine, D))
      for (cvDriver_Mode* M = cvDriver_GetNextMode(D, nullptr); M && !Opened; M = cvDriver_GetNextMode(D, M))
        if (M->Width == -1) Opened = cvEngine_SetDriverAndMode(Engine, D, M);
    if (!Opened) return;
    cvVFile* File = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, (Dir + "/sample.act").c_str(),
                                          nullptr, CV_VFILE_OPEN_READONLY);
    if (!File) return;
    Def = cvActorDef_CreateFromFile(File);
    cvVFile_Close(File);
    if (!Def || !(Actor = cvActor_Create(Def))) return;
    Walk = cvActorDef_GetMotionByName(Def, "walk");
    World = cvWorld_Create(nullptr);
    if (!World || !cvEngine_AddWorld(Engine, World) || !cvWorld_AddActor(World, Actor, 11, ~0u)) return;
    for (int I = 0; I < DynamicLights; ++I) {
      cvWorld_Light* L = cvWorld_AddLight(World);
      const cvVec3d P = {-40.0f + 40.0f * (float)I, 60, -40};
      const cvWorld_Rgba C = {255, 200, 160, 255};
      cvWorld_SetLightAttributes(World, L, &P, &C, 200, 0);
    }
    const cvRect R = {0, 639, 0, 479};
    Camera = cvCamera_Create(&R, 2.0f);
    // In front of the figure (it faces -Z), filling most of the height.
    cvXForm3d M;
    cvXForm3d_SetYRotation(&M, 3.14159265f);
    M.T = {0, 37, -65};
    cvCamera_SetWorldSpaceXForm(Camera, &M);
    Ok = true;
  }
  ~SampleScene() {
    if (Actor && World) cvWorld_RemoveActor(World, Actor);
    if (Actor) cvActor_Destroy(&Actor);
    if (Def) cvActorDef_Destroy(&Def);
    if (Camera) cvCamera_Destroy(Camera);
    if (World) {
      cvEngine_RemoveWorld(Engine, World);
      cvWorld_Free(World);
    }
    if (Engine) cvEngine_Destroy(Engine);
  }
  bool Frame(float Time) {
    if (Walk) cvActor_SetPose(Actor, Walk, Time, nullptr);
    return cvEngine_BeginFrame(Engine, Camera, 1) && cvEngine_RenderWorld(Engine, World, Camera, 0) &&
           cvEngine_EndFrame(Engine);
  }
};

// Arg: number of dynamic lights in the world (the puppet uses up to 3).
void BM_SceneSampleActor640x480(benchmark::State& State) {
  SampleScene S((int)State.range(0));
  if (!S.Ok) {
    State.SkipWithError("engine, driver module or sample.act not available beside the program");
    return;
  }
  float Time = 0;
  for (auto _ : State) {
    if (!S.Frame(Time)) {
      State.SkipWithError("frame failed");
      break;
    }
    Time += 1.0f / 30.0f;
  }
  State.counters["fps"] = benchmark::Counter((double)State.iterations(), benchmark::Counter::kIsRate);
  State.counters["polys"] = (double)S.Engine->Stats[CV_ENGINE_STAT_POLYS2];
}
BENCHMARK(BM_SceneSampleActor640x480)->Arg(0)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// The puppet's share alone: posing the mesh, lighting, clipping and
// projection, handed to a driver table that accepts polygons without
// drawing them.
int AcceptPoly(const cvDriver_Vertex*, int32_t, uint32_t) { return 1; }
int AcceptTexturedPoly(const cvDriver_Vertex*, int32_t, void*, uint32_t) { return 1; }

void BM_ScenePuppetOnly640x480(benchmark::State& State) {
  SampleScene S(3);
  if (!S.Ok) {
    State.SkipWithError("engine, driver module or sample.act not available beside the program");
    return;
  }
  S.Frame(0);  // textures attached
  static cvDriver_Table Null{};
  Null.RenderGouraudPoly = AcceptPoly;
  Null.RenderTexturedPoly = AcceptTexturedPoly;
  cvEngine E{};
  E.Driver = &Null;
  E.DriverLoaded = 1;
  float Time = 0;
  for (auto _ : State) {
    if (S.Walk) cvActor_SetPose(S.Actor, S.Walk, Time, nullptr);
    if (!cvActor_Render(S.Actor, &E, S.World, S.Camera)) {
      State.SkipWithError("render failed");
      break;
    }
    Time += 1.0f / 30.0f;
  }
  State.counters["fps"] = benchmark::Counter((double)State.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ScenePuppetOnly640x480)->Unit(benchmark::kMillisecond);

}  // namespace
