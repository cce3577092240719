// actortool render: draws an actor file into a PNG or TGA image through the
// real engine and the software render driver, with a window that keeps its
// frame in memory. Used for thumbnails and by the image tests.
//
//   actortool render FILE OUT.png|OUT.tga [--size WxH] [--motion NAME]
//                                 [--time SECONDS] [--turn DEGREES]
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cvengine.h"
#include "imagefile/imagefile.h"
#include "platform/window.h"

int actortool_render(int argc, char** argv);
void actortool_render_help();

namespace {

// --- Options --------------------------------------------------------------------

struct Options {
  std::string In, Out;
  int32_t Width = 256, Height = 256;
  std::string Motion;
  bool HasTime = false;
  float Time = 0.0f;
  float TurnDegrees = 0.0f;
};

bool ParseFloat(const char* S, float* Out) {
  char* End = nullptr;
  const double V = std::strtod(S, &End);
  if (End == S || *End || !std::isfinite(V)) return false;
  *Out = (float)V;
  return true;
}

bool ParseOptions(int argc, char** argv, Options* O) {
  std::vector<std::string> Positional;
  for (int I = 1; I < argc; ++I) {
    const std::string A = argv[I];
    const bool HasValue = I + 1 < argc;
    if (A == "--size" && HasValue) {
      int W = 0, H = 0;
      char Extra;
      if (std::sscanf(argv[++I], "%dx%d%c", &W, &H, &Extra) != 2 || W < 1 || H < 1 || W > 4096 ||
          H > 4096) {
        std::fprintf(stderr, "actortool render: --size wants WIDTHxHEIGHT (1 to 4096 each)\n");
        return false;
      }
      O->Width = W, O->Height = H;
    } else if (A == "--motion" && HasValue) {
      O->Motion = argv[++I];
    } else if (A == "--time" && HasValue) {
      if (!ParseFloat(argv[++I], &O->Time)) {
        std::fprintf(stderr, "actortool render: --time wants a number of seconds\n");
        return false;
      }
      O->HasTime = true;
    } else if (A == "--turn" && HasValue) {
      if (!ParseFloat(argv[++I], &O->TurnDegrees)) {
        std::fprintf(stderr, "actortool render: --turn wants a number of degrees\n");
        return false;
      }
    } else if (A.size() > 1 && A[0] == '-') {
      std::fprintf(stderr, "actortool render: unknown or incomplete option \"%s\"\n", A.c_str());
      return false;
    } else {
      Positional.push_back(A);
    }
  }
  if (Positional.size() != 2) {
    std::fprintf(stderr, "actortool render: give an actor file and an output image\n");
    return false;
  }
  O->In = Positional[0];
  O->Out = Positional[1];
  const cvImageFile_Type Type = cvImageFile_TypeOfName(O->Out.c_str());
  if (Type != CV_IMAGEFILE_PNG && Type != CV_IMAGEFILE_TGA) {
    std::fprintf(stderr, "actortool render: the output image must be named .png or .tga\n");
    return false;
  }
  return true;
}

// --- Rendering ------------------------------------------------------------------

void PrintLog() {
  for (int32_t I = 0; I < cvErrorLog_Count(); ++I) {
    int32_t Code;
    const char* Text;
    if (cvErrorLog_Report(I, &Code, &Text)) std::fprintf(stderr, "  error %d: %s\n", Code, Text);
  }
}

// Everything the render makes, released in reverse order.
struct Scene {
  cvplatform::HeadlessWindow Window;
  cvEngine* Engine = nullptr;
  cvWorld* World = nullptr;
  bool WorldAdded = false;
  cvCamera* Camera = nullptr;
  cvActorDef* Def = nullptr;
  cvActor* Actor = nullptr;
  bool ActorAdded = false;

  Scene(int32_t W, int32_t H) : Window(W, H) {}
  ~Scene() {
    if (ActorAdded) cvWorld_RemoveActor(World, Actor);
    if (Actor) cvActor_Destroy(&Actor);
    if (Def) cvActorDef_Destroy(&Def);
    if (Camera) cvCamera_Destroy(Camera);
    if (WorldAdded) cvEngine_RemoveWorld(Engine, World);
    if (World) cvWorld_Free(World);
    if (Engine) cvEngine_Destroy(Engine);
  }
};

bool Fail(const char* What) {
  std::fprintf(stderr, "actortool render: %s\n", What);
  PrintLog();
  return false;
}

// Picks the software driver in its windowed mode (any size). A picture
// renderer has no use for the start-up logo.
bool OpenDriver(cvEngine* E) {
  cvLogo_Disable();
  for (cvDriver_Record* D = cvDriver_GetNextDriver(E, nullptr); D; D = cvDriver_GetNextDriver(E, D)) {
    if (std::strncmp(D->FileName, "SoftRnd", 7) != 0) continue;
    for (cvDriver_Mode* M = cvDriver_GetNextMode(D, nullptr); M; M = cvDriver_GetNextMode(D, M))
      if (M->Width == -1 && M->Height == -1) return cvEngine_SetDriverAndMode(E, D, M) != 0;
  }
  return false;
}

bool ReadActor(const std::string& Path, cvActorDef** Def) {
  cvVFile* File = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, Path.c_str(), nullptr,
                                        CV_VFILE_OPEN_READONLY);
  if (!File) return false;
  *Def = cvActorDef_CreateFromFile(File);
  cvVFile_Close(File);
  return *Def != nullptr;
}

// Places the camera so that the whole box is in view, looking at the
// actor's front (actors face -Z) from a little above.
void FrameBox(cvCamera* Camera, const cvExtBox& Box, int32_t Width, int32_t Height) {
  const cvVec3d Centre = {(Box.Min.X + Box.Max.X) * 0.5f, (Box.Min.Y + Box.Max.Y) * 0.5f,
                          (Box.Min.Z + Box.Max.Z) * 0.5f};
  cvXForm3d M, Tilt;
  cvXForm3d_SetYRotation(&M, 3.14159265f);       // from the front
  cvXForm3d_SetXRotation(&Tilt, -0.17453292f);   // 10 degrees down
  cvXForm3d_Multiply(&M, &Tilt, &M);
  // Each corner, in the camera's axes relative to the centre, must land
  // within 45% of the image's half sizes: |x| * Scale / (D - z) <= limit.
  const float Scale = cvCamera_GetScale(Camera);
  const float LimitX = 0.9f * 0.5f * (float)Width, LimitY = 0.9f * 0.5f * (float)Height;
  float Distance = 0.01f;
  for (int K = 0; K < 8; ++K) {
    const cvVec3d Corner = {(K & 1) ? Box.Max.X : Box.Min.X, (K & 2) ? Box.Max.Y : Box.Min.Y,
                            (K & 4) ? Box.Max.Z : Box.Min.Z};
    cvVec3d Rel, C;
    cvVec3d_Subtract(&Corner, &Centre, &Rel);
    cvXForm3d_TransposeTransform(&M, &Rel, &C);  // into the camera's axes (M has no translation yet)
    Distance = std::max(Distance, C.Z + Scale * std::fabs(C.X) / LimitX);
    Distance = std::max(Distance, C.Z + Scale * std::fabs(C.Y) / LimitY);
  }
  const cvVec3d Back = {0, 0, Distance};
  cvVec3d Offset;
  cvXForm3d_Rotate(&M, &Back, &Offset);
  cvVec3d_Add(&Centre, &Offset, &M.T);
  cvCamera_SetWorldSpaceXForm(Camera, &M);
}

bool Render(const Options& O, std::vector<uint32_t>* Pixels) {
  Scene S(O.Width, O.Height);
  S.Engine = cvEngine_Create(S.Window.Record(), "actortool", ".", CV_ENGINE_VERSION);
  if (!S.Engine) return Fail("the engine could not be started");
  cvEngine_EnableFrameRateCounter(S.Engine, 0);
  if (!OpenDriver(S.Engine)) return Fail("the software render driver (SoftRnd.so) could not be opened");

  if (!ReadActor(O.In, &S.Def)) return Fail(("cannot read the actor file " + O.In).c_str());
  S.Actor = cvActor_Create(S.Def);
  if (!S.Actor) return Fail("the actor file has no body to show");

  S.World = cvWorld_Create(nullptr);
  if (!S.World || !cvEngine_AddWorld(S.Engine, S.World)) return Fail("the world could not be made");
  S.WorldAdded = true;
  if (!cvWorld_AddActor(S.World, S.Actor, CV_WORLD_ACTOR_RENDER_NORMAL | CV_WORLD_ACTOR_RENDER_ALWAYS,
                        0xFFFFFFFFu))
    return Fail("the actor could not be added to the world");
  S.ActorAdded = true;

  // Pose: the motion asked for (the first one when only a time is given),
  // else the rest pose; turned about the vertical axis.
  cvXForm3d Root;
  cvXForm3d_SetYRotation(&Root, O.TurnDegrees * 3.14159265f / 180.0f);
  cvMotion* Motion = nullptr;
  if (!O.Motion.empty()) {
    Motion = cvActorDef_GetMotionByName(S.Def, O.Motion.c_str());
    if (!Motion) {
      std::fprintf(stderr, "actortool render: the actor has no motion named \"%s\"; it has:\n",
                   O.Motion.c_str());
      for (int32_t I = 0; I < cvActorDef_GetMotionCount(S.Def); ++I) {
        const char* Name = cvActorDef_GetMotionName(S.Def, I);
        std::fprintf(stderr, "  %s\n", Name ? Name : "(unnamed)");
      }
      return false;
    }
  } else if (O.HasTime && cvActorDef_GetMotionCount(S.Def) > 0) {
    Motion = cvActorDef_GetMotionByIndex(S.Def, 0);
  }
  if (Motion ? !cvActor_SetPose(S.Actor, Motion, O.Time, &Root) : !cvActor_ClearPose(S.Actor, &Root))
    return Fail("the actor could not be posed");

  // Brighter than the engine's defaults: a thumbnail should show the skin.
  // The fill light comes from the viewer's upper left, in front of the actor.
  const cvVec3d FillDirection = {0.4f, 0.6f, -0.7f};
  cvActor_SetLightingOptions(S.Actor, 1, &FillDirection, 190, 190, 190, 95, 95, 95, 0, 3, nullptr, 0);

  const cvRect Rect = {0, O.Width - 1, 0, O.Height - 1};
  S.Camera = cvCamera_Create(&Rect, 2.0f);
  if (!S.Camera) return Fail("the camera could not be made");
  cvExtBox Box;
  if (!cvActor_GetDynamicExtBox(S.Actor, &Box) && !cvActor_GetExtBox(S.Actor, &Box))
    return Fail("the actor has no extent to frame");
  FrameBox(S.Camera, Box, O.Width, O.Height);

  // A neutral dark background behind the actor.
  const cvRGBA Background = {46, 50, 58, 255};
  if (!cvEngine_BeginFrame(S.Engine, S.Camera, 1) || !cvEngine_FillRect(S.Engine, &Rect, &Background) ||
      !cvEngine_RenderWorld(S.Engine, S.World, S.Camera, 0.0f) || !cvEngine_EndFrame(S.Engine))
    return Fail("drawing the frame failed");
  if (S.Window.FrameWidth() != O.Width || S.Window.FrameHeight() != O.Height)
    return Fail("the driver presented no frame of the asked size");
  *Pixels = S.Window.Frame();
  return true;
}

}  // namespace

int actortool_render(int argc, char** argv) {
  Options O;
  if (!ParseOptions(argc, argv, &O)) {
    std::fprintf(stderr, "\n");
    actortool_render_help();
    return 2;
  }
  cvErrorLog_Clear();
  std::vector<uint32_t> Pixels;
  if (!Render(O, &Pixels)) return 1;
  std::string Message;
  if (!cvImageFile_WriteFrame(Pixels.data(), O.Width, O.Height, O.Width * 4, CV_PIXELFORMAT_32BIT_XRGB,
                              O.Out.c_str(), &Message)) {
    std::fprintf(stderr, "actortool render: %s\n", Message.c_str());
    return 1;
  }
  return 0;
}

void actortool_render_help() {
  std::printf(
      "Usage: actortool render FILE OUT.png|OUT.tga [--size WxH] [--motion NAME]\n"
      "                        [--time SECONDS] [--turn DEGREES]\n"
      "\n"
      "Draws the actor file FILE into a compressed PNG or TGA image (chosen by the\n"
      "output's extension) through the engine and the software render driver\n"
      "(SoftRnd.so, found beside the program). The camera frames the whole actor from\n"
      "its front, a little above.\n"
      "\n"
      "Options:\n"
      "  --size WxH        image size in pixels (default 256x256, at most 4096 each)\n"
      "  --motion NAME     pose the actor with this motion (default: the rest pose)\n"
      "  --time SECONDS    time into the motion (default 0; without --motion the\n"
      "                    first motion is used)\n"
      "  --turn DEGREES    turn the actor about its vertical axis\n");
}
