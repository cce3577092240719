// The start-up logo: the first time a render driver is opened, the engine
// plays a short scene through a temporary world and camera: the logo actor
// turning its gears under lights that sit at its bones, an electric bolt
// between two of its bones in the first half, and glowing coronas in the
// second. Everything it makes is released before it returns; a logo that
// fails leaves the engine as it was.
//
// The animation time T runs from the motion's start to its end at a rate
// that plays the scene in CV_LOGO_SECONDS on any machine: each frame adds the
// time since the previous frame.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "Actor/cvactor.h"
#include "Bitmap/cvbitmap.h"
#include "Engine/cvengcore.h"
#include "Engine/engine_internal.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"
#include "World/cvworld.h"
#include "platform/window.h"

// A build without a logo links this definition; the logo data a build
// generates defines the real one, which takes its place.
__attribute__((weak)) int cvLogo_GetBuiltInData(cvLogo_Data* Data) {
  (void)Data;
  return 0;
}

namespace {

bool gLogoTried = false;  // the first call used the process's one turn
bool gLogoDisabled = false;
// The corona light's flicker: Q runs through 1 - Q^2 from frame to frame.
float gCoronaFlicker = 0.76324f;

int64_t SteadyNow(void*) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
void RealSleep(uint32_t Milliseconds, void*) { std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds)); }
cvLogo_Clock gClock{SteadyNow, RealSleep, nullptr, nullptr};

constexpr float kQuarterTurn = -1.5707963f;
constexpr int32_t kBoltSegments = 32;
constexpr float kBoltWidth = 4.0f;      // world units either side of the bolt's line
constexpr float kBoltRoughness = 0.5f;  // each halving of a segment halves its sideways jump
constexpr float kBoltColour[3] = {160, 160, 255};
// A stalled clock must not hold the engine: the scene stops after this many frames.
constexpr int32_t kMaxFrames = 20000;

struct BoneLight {
  const char* Bone;
  float R, G, B, Radius;
};
constexpr BoneLight kBoneLights[] = {
    {"GEAR01B", 255, 255, 187, 200}, {"GEAR02B", 255, 255, 187, 200}, {"GEAR03B", 255, 255, 187, 200},
    {"GEAR04B", 255, 255, 187, 200}, {"GEAR05B", 255, 255, 187, 200}, {"GEAR06B", 255, 255, 187, 200},
    {"GEAR07B", 255, 255, 187, 200}, {"GEAR08B", 255, 255, 187, 200}, {"CORVINAB", 255, 255, 255, 200},
    {"BONE01", 75, 56, 2, 60},       {"LINKTO", 75, 40, 2, 200},      {"R_CYL01", 255, 136, 6.8f, 150},
    {"R_CYL02", 255, 136, 6.8f, 150}, {"L_CYL01", 255, 136, 6.8f, 150}, {"L_CYL02", 255, 136, 6.8f, 150},
};

// Everything the scene makes; the destructor gives it all back.
struct Scene {
  cvEngine* Engine = nullptr;
  cvWorld* World = nullptr;
  bool WorldAdded = false;
  cvActorDef* Def = nullptr;
  cvActor* Actor = nullptr;
  bool ActorAdded = false;
  cvCamera* Camera = nullptr;
  cvBitmap* Textures[3] = {};
  int32_t FrameRateCounter = 0;  // the engine's setting, put back afterwards

  ~Scene() {
    if (Engine) Engine->FrameRateCounter = FrameRateCounter;
    if (ActorAdded) cvWorld_RemoveActor(World, Actor);
    if (Actor) cvActor_Destroy(&Actor);
    if (Def) cvActorDef_Destroy(&Def);
    for (cvBitmap*& T : Textures)
      if (T) cvBitmap_Destroy(&T);
    if (WorldAdded) cvEngine_RemoveWorld(Engine, World);
    if (World) cvWorld_Free(World);
    if (Camera) cvCamera_Destroy(Camera);
  }
};

// Opens stored bytes as a read-only memory file.
cvVFile* OpenBlob(const cvLogo_Blob& Blob) {
  if (!Blob.Data || !Blob.Size) return nullptr;
  cvVFile_MemoryContext Context{const_cast<uint8_t*>(Blob.Data), Blob.Size};
  return cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_MEMORY, nullptr, &Context, CV_VFILE_OPEN_READONLY);
}

cvBitmap* LoadBitmap(const cvLogo_Blob& Blob) {
  cvVFile* File = OpenBlob(Blob);
  cvBitmap* Bitmap = File ? cvBitmap_CreateFromFile(File) : nullptr;
  if (File) cvVFile_Close(File);
  return Bitmap;
}

// A colour bitmap carrying its alpha bitmap.
cvBitmap* LoadTexture(const cvLogo_Blob& Colour, const cvLogo_Blob& Alpha) {
  cvBitmap* C = LoadBitmap(Colour);
  cvBitmap* A = C ? LoadBitmap(Alpha) : nullptr;
  const bool Ok = A && cvBitmap_SetAlpha(C, A);
  if (A) cvBitmap_Destroy(&A);  // the colour bitmap holds its own reference
  if (!Ok && C) cvBitmap_Destroy(&C);
  return C;
}

bool BonePosition(cvActor* Actor, const char* Bone, cvVec3d* Out) {
  cvXForm3d M;
  if (!cvActor_GetBoneTransform(Actor, Bone, &M)) return false;
  *Out = M.T;
  return true;
}

// A small generator of its own, so that the bolt neither depends on nor
// disturbs anyone else's random numbers.
struct Random {
  uint32_t State;
  float Next() {  // -1 ... 1
    State = State * 1664525u + 1013904223u;
    return (float)(State >> 8) / (float)(1u << 23) - 1.0f;
  }
};

// The electric bolt from A to B: a jagged line made by halving each segment
// and moving its middle sideways (in the view plane), drawn as additive
// ribbons kBoltWidth wide.
bool DrawBolt(cvWorld* World, const cvVec3d& A, const cvVec3d& B, uint32_t Seed) {
  cvVec3d Points[kBoltSegments + 1];
  Points[0] = A;
  Points[kBoltSegments] = B;
  cvVec3d D;
  cvVec3d_Subtract(&B, &A, &D);
  const float Length = cvVec3d_Length(&D);
  // Sideways in the view plane: the camera looks along -Z.
  cvVec3d Side = {-D.Y, D.X, 0};
  if (cvVec3d_Normalize(&Side) <= 0) Side = {0, 1, 0};
  Random R{Seed};
  float Jump = Length * 0.2f;
  for (int32_t Step = kBoltSegments / 2; Step >= 1; Step /= 2, Jump *= kBoltRoughness) {
    for (int32_t I = Step; I < kBoltSegments; I += 2 * Step) {
      const cvVec3d& P = Points[I - Step];
      const cvVec3d& Q = Points[I + Step];
      const float J = Jump * R.Next();
      Points[I] = {(P.X + Q.X) / 2 + Side.X * J, (P.Y + Q.Y) / 2 + Side.Y * J, (P.Z + Q.Z) / 2 + R.Next() * Jump * 0.25f};
    }
  }
  bool Ok = true;
  for (int32_t I = 0; I < kBoltSegments; ++I) {
    const cvVec3d& P = Points[I];
    const cvVec3d& Q = Points[I + 1];
    cvVec3d N = {-(Q.Y - P.Y), Q.X - P.X, 0};
    if (cvVec3d_Normalize(&N) <= 0) N = Side;
    cvWorld_PolyVertex V[4];
    const float W = kBoltWidth;
    const cvVec3d Corner[4] = {{P.X + N.X * W, P.Y + N.Y * W, P.Z}, {Q.X + N.X * W, Q.Y + N.Y * W, Q.Z},
                               {Q.X - N.X * W, Q.Y - N.Y * W, Q.Z}, {P.X - N.X * W, P.Y - N.Y * W, P.Z}};
    for (int K = 0; K < 4; ++K)
      V[K] = {Corner[K].X, Corner[K].Y, Corner[K].Z, 0, 0, kBoltColour[0], kBoltColour[1], kBoltColour[2], 255};
    if (!cvWorld_AddPolyOnce(World, V, 4, nullptr, CV_WORLD_POLY_GOURAUD,
                             CV_WORLD_POLYFLAG_ADDITIVE | CV_WORLD_POLYFLAG_NO_ZWRITE, 1.0f))
      Ok = false;
  }
  return Ok;
}

bool AddSprite(cvWorld* World, cvBitmap* Texture, const cvVec3d& At, float Alpha, float Scale) {
  const cvWorld_PolyVertex V = {At.X, At.Y, At.Z, 0.5f, 0.5f, 255, 255, 255, Alpha};
  return cvWorld_AddPolyOnce(World, &V, 1, Texture, CV_WORLD_POLY_TEXTURED_POINT,
                             CV_WORLD_POLYFLAG_BLEND | CV_WORLD_POLYFLAG_NO_ZWRITE, Scale) != 0;
}

bool SetLight(cvWorld* World, cvWorld_Light* Light, const cvVec3d& At, float R, float G, float B, float Radius) {
  const cvWorld_Rgba Colour = {R, G, B, 255};
  return Light && cvWorld_SetLightAttributes(World, Light, &At, &Colour, Radius, 0);
}

// The view rectangle: the window's client area for the windowed mode, else the mode's size.
bool ViewRect(cvEngine* Engine, const cvDriver_Mode* Mode, cvRect* Rect) {
  int32_t W = Mode->Width, H = Mode->Height;
  if (W == -1) {
    auto* Window = static_cast<cvWindow*>(Engine->Window);
    if (!Window || !Window->GetClientSize) return false;
    Window->GetClientSize(Window, &W, &H);
  }
  if (W < 1 || H < 1) return false;
  *Rect = {0, W - 1, 0, H - 1};
  return true;
}

int Fail() {
  CV_ERROR(-1);
  return 0;
}

}  // namespace

void cvLogo_Disable(void) { gLogoDisabled = true; }

void cvLogo_SetClock(const cvLogo_Clock* Clock) {
  gClock = Clock ? *Clock : cvLogo_Clock{SteadyNow, RealSleep, nullptr, nullptr};
  if (!gClock.Now) gClock.Now = SteadyNow;
  if (!gClock.Sleep) gClock.Sleep = RealSleep;
}

int cvLogo_Show(cvEngine* Engine, cvDriver_Mode* Mode) {
  if (gLogoTried) return 1;
  gLogoTried = true;
  const char* Skip = std::getenv("CV_NO_LOGO");
  if (gLogoDisabled || (Skip && std::strcmp(Skip, "1") == 0)) return 1;
  cvLogo_Data Data;
  if (!cvLogo_GetBuiltInData(&Data)) return 1;  // a build without a logo
  return cvLogo_Play(Engine, Mode, &Data);
}

int cvLogo_Play(cvEngine* Engine, cvDriver_Mode* Mode, const cvLogo_Data* Data) {
  if (!Engine || !Mode || !Data || !Engine->DriverLoaded) return Fail();
  Scene S;
  S.Engine = Engine;
  // The statistics overlay would cover the logo.
  S.FrameRateCounter = Engine->FrameRateCounter;
  Engine->FrameRateCounter = 0;
  cvRect Rect;
  if (!ViewRect(Engine, Mode, &Rect)) return Fail();

  // World and actor.
  S.World = cvWorld_Create(nullptr);
  if (!S.World) return Fail();
  if (!cvEngine_AddWorld(Engine, S.World)) return Fail();
  S.WorldAdded = true;
  cvVFile* File = OpenBlob(Data->Actor);
  S.Def = File ? cvActorDef_CreateFromFile(File) : nullptr;
  if (File) cvVFile_Close(File);
  if (!S.Def || cvActorDef_GetMotionCount(S.Def) < 1) return Fail();
  S.Actor = cvActor_Create(S.Def);
  if (!S.Actor) return Fail();
  if (!cvWorld_AddActor(S.World, S.Actor, CV_WORLD_ACTOR_RENDER_ALWAYS, 0xFFFFFFFFu)) return Fail();
  S.ActorAdded = true;
  cvMotion* Motion = cvActorDef_GetMotionByIndex(S.Def, 0);
  float Start = 0, End = 0;
  if (!Motion || !cvMotion_GetTimeExtents(Motion, &Start, &End) || !(End > Start)) return Fail();

  // Camera 800 in front of the logo, a little above its middle.
  S.Camera = cvCamera_Create(&Rect, 2.0f);
  if (!S.Camera) return Fail();
  cvXForm3d Place;
  cvXForm3d_SetTranslation(&Place, 0, 40, 800);
  if (!cvCamera_SetWorldSpaceXForm(S.Camera, &Place)) return Fail();

  // Pose and lighting. The logo is stored lying down; a quarter turn about X stands it up.
  cvXForm3d Stand;
  cvXForm3d_SetXRotation(&Stand, kQuarterTurn);
  cvVec3d Fill = {-0.3f, 0.5f, 0.4f};
  cvVec3d_Normalize(&Fill);
  if (!cvActor_SetPose(S.Actor, Motion, Start, &Stand) ||
      !cvActor_SetLightingOptions(S.Actor, 1, &Fill, 30, 30, 30, 5, 5, 5, 0, 20, nullptr, 1))
    return Fail();

  // Lights at the bones, raised 50 towards the viewer; the corona light is set every frame.
  for (const BoneLight& L : kBoneLights) {
    cvVec3d At;
    if (!BonePosition(S.Actor, L.Bone, &At)) return Fail();
    At.Z += 50;
    if (!SetLight(S.World, cvWorld_AddLight(S.World), At, L.R, L.G, L.B, L.Radius)) return Fail();
  }
  cvVec3d CoronaAt;
  if (!BonePosition(S.Actor, "CORONA", &CoronaAt)) return Fail();
  CoronaAt = {CoronaAt.X + 30, CoronaAt.Y, CoronaAt.Z + 100};
  cvWorld_Light* Corona = cvWorld_AddLight(S.World);
  if (!SetLight(S.World, Corona, CoronaAt, 0, 0, 0, 1600)) return Fail();

  for (int I = 0; I < 3; ++I) {
    S.Textures[I] = LoadTexture(Data->Colour[I], Data->Alpha[I]);
    if (!S.Textures[I] || !cvWorld_AddBitmap(S.World, S.Textures[I])) return Fail();
  }

  // Frame loop.
  const float Rate = (End - Start) / CV_LOGO_SECONDS;  // motion time per second
  const cvVec3d Front = {0, 0, 350};
  float T = Start;
  int64_t Previous = gClock.Now(gClock.Context);
  for (int32_t Frame = 0; Frame < kMaxFrames; ++Frame) {
    if (!cvActor_SetPose(S.Actor, Motion, T, &Stand) || !cvEngine_BeginFrame(Engine, S.Camera, 1)) return Fail();
    cvVec3d From, To;
    bool Ok = BonePosition(S.Actor, "BONE22", &From) && BonePosition(S.Actor, "BONE28", &To);

    const float L = 0.97f * T + 0.15f * gCoronaFlicker * (T <= 1 ? 1 - T : 0);
    gCoronaFlicker = 1 - gCoronaFlicker * gCoronaFlicker;
    Ok = Ok && SetLight(S.World, Corona, CoronaAt, std::min(100 * L, 200.0f), std::min(100 * L, 200.0f),
                        std::min(255 * L, 255.0f), 1600);
    if (Ok && T < 1) Ok = DrawBolt(S.World, From, To, 0x9E3779B9u * (uint32_t)(Frame + 1));
    if (Ok && T > 1) {
      Ok = AddSprite(S.World, S.Textures[0], CoronaAt, std::min((T - 1) * 1.75f, 1.0f) * 255, 3.0f) &&
           AddSprite(S.World, S.Textures[1], CoronaAt, 255, std::min(5 * T, 10.0f));
    }
    Ok = Ok && AddSprite(S.World, S.Textures[2], Front, 255, 1.0f);
    Ok = Ok && cvEngine_RenderWorld(Engine, S.World, S.Camera, 0.1f);
    // The frame is ended even when drawing failed, so the driver is left between frames.
    if (!cvEngine_EndFrame(Engine) || !Ok) return Fail();
    if (gClock.FrameShown) gClock.FrameShown(T, gClock.Context);
    if (T >= End) break;

    const int64_t Now = gClock.Now(gClock.Context);
    const double Seconds = std::max<int64_t>(Now - Previous, 0) / 1e9;
    Previous = Now;
    T = std::min(T + (float)(Seconds * Rate), End);
  }
  gClock.Sleep(500, gClock.Context);
  return 1;
}
