// Actors drawn through the real engine and the software driver module into
// a headless window, checked by their pixels; and the sample actor drawn by
// "actortool render", compared with a stored reference image.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cvengine.h"
#include "imagefile/imagefile.h"
#include "platform/window.h"
#include "testsupport.h"

namespace {

using cvtest::BinDir;

// --- A textured square actor -------------------------------------------------------

// A 2x2 texture: red, green (top row), blue, white (bottom row).
cvBitmap* MakeTexture(uint32_t TopLeft, uint32_t TopRight, uint32_t BottomLeft, uint32_t BottomRight) {
  cvBitmap* B = cvBitmap_Create(2, 2, 1, CV_PIXELFORMAT_32BIT_XRGB);
  auto* P = reinterpret_cast<uint32_t*>(cvBitmap_AllocateMip(B, 0));
  P[0] = TopLeft, P[1] = TopRight, P[2] = BottomLeft, P[3] = BottomRight;
  return B;
}

// A square (-1,-1)..(1,1) at Z = 0 facing +Z, textured once across.
cvActorDef* MakeSquareDef(cvBitmap* Texture) {
  cvBody* B = cvBody_Create();
  cvXForm3d I;
  cvXForm3d_SetIdentity(&I);
  int32_t Bone, Mat;
  EXPECT_TRUE(cvBody_AddBone(B, -1, "root", &I, &Bone));
  EXPECT_TRUE(cvBody_AddMaterial(B, "skin", Texture, 255, 255, 255, &Mat));
  const cvVec3d N = {0, 0, 1};
  const cvVec3d P[4] = {{-1, 1, 0}, {1, 1, 0}, {1, -1, 0}, {-1, -1, 0}};
  const float UV[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  for (int T = 0; T < 2; ++T) {
    const int A = 0, Bi = 1 + T, C = 2 + T;
    EXPECT_TRUE(cvBody_AddFace(B, &P[A], &N, UV[A][0], UV[A][1], 0, &P[Bi], &N, UV[Bi][0], UV[Bi][1], 0,
                               &P[C], &N, UV[C][0], UV[C][1], 0, 0));
  }
  const cvVec3d Min = {-1, -1, 0}, Max = {1, 1, 0};
  cvBody_SetBoundingBox(B, -1, &Min, &Max);
  cvActorDef* D = cvActorDef_Create();
  EXPECT_TRUE(cvActorDef_SetBody(D, B));
  return D;
}

struct DriverScene : ::testing::Test {
  void SetUp() override {
    cvErrorLog_Clear();
    Engine = cvEngine_Create(Window.Record(), "render test", BinDir().c_str(), CV_ENGINE_VERSION);
    ASSERT_NE(Engine, nullptr);
    cvEngine_EnableFrameRateCounter(Engine, 0);
    bool Opened = false;
    for (cvDriver_Record* D = cvDriver_GetNextDriver(Engine, nullptr); D && !Opened;
         D = cvDriver_GetNextDriver(Engine, D))
      for (cvDriver_Mode* M = cvDriver_GetNextMode(D, nullptr); M && !Opened; M = cvDriver_GetNextMode(D, M))
        if (M->Width == -1) Opened = cvEngine_SetDriverAndMode(Engine, D, M);
    ASSERT_TRUE(Opened) << "no windowed driver mode in " << BinDir();
    World = cvWorld_Create(nullptr);
    ASSERT_TRUE(cvEngine_AddWorld(Engine, World));
    const cvRect R = {0, 159, 0, 119};
    Camera = cvCamera_Create(&R, 2.0f);
    cvXForm3d M;
    cvXForm3d_SetTranslation(&M, 0, 0, 3);
    cvCamera_SetWorldSpaceXForm(Camera, &M);
  }
  void TearDown() override {
    for (cvActor*& A : Actors) {
      cvWorld_RemoveActor(World, A);
      cvActor_Destroy(&A);
    }
    for (cvActorDef*& D : Defs) cvActorDef_Destroy(&D);
    cvCamera_Destroy(Camera);
    cvEngine_RemoveWorld(Engine, World);
    cvWorld_Free(World);
    cvEngine_Destroy(Engine);
  }
  cvActor* AddSquare(cvBitmap* Texture) {
    Defs.push_back(MakeSquareDef(Texture));
    cvActor* A = cvActor_Create(Defs.back());
    Actors.push_back(A);
    EXPECT_TRUE(cvWorld_AddActor(World, A, 11, 0xFFFFFFFFu));
    EXPECT_TRUE(cvActor_ClearPose(A, nullptr));
    // Full white ambient light only: the texels show unchanged.
    const cvVec3d Dir = {0, 1, 0};
    EXPECT_TRUE(cvActor_SetLightingOptions(A, 0, &Dir, 0, 0, 0, 255, 255, 255, 0, 0, nullptr, 0));
    return A;
  }
  void Frame() {
    ASSERT_TRUE(cvEngine_BeginFrame(Engine, Camera, 1));
    ASSERT_TRUE(cvEngine_RenderWorld(Engine, World, Camera, 0));
    ASSERT_TRUE(cvEngine_EndFrame(Engine));
    ASSERT_EQ(Window.FrameWidth(), 160);
  }
  uint32_t Pixel(int X, int Y) const { return Window.Frame()[(size_t)Y * 160 + X] & 0xFFFFFF; }

  cvplatform::HeadlessWindow Window{160, 120};
  cvEngine* Engine = nullptr;
  cvWorld* World = nullptr;
  cvCamera* Camera = nullptr;
  std::vector<cvActorDef*> Defs;
  std::vector<cvActor*> Actors;
};

TEST_F(DriverScene, TheSquareShowsItsTexelsWhereTheyBelong) {
  cvBitmap* T = MakeTexture(0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF);
  AddSquare(T);
  Frame();
  // The square spans 80 / 3 = 26.7 pixels each side of the centre (79.5, 59.5).
  EXPECT_EQ(Pixel(66, 46), 0xFF0000u);
  EXPECT_EQ(Pixel(93, 46), 0x00FF00u);
  EXPECT_EQ(Pixel(66, 73), 0x0000FFu);
  EXPECT_EQ(Pixel(93, 73), 0xFFFFFFu);
  EXPECT_EQ(Pixel(20, 20), 0x000000u);  // cleared background
  EXPECT_EQ(Pixel(79, 90), 0x000000u);  // just below the square
  cvBitmap_Destroy(&T);
}

TEST_F(DriverScene, ANewMaterialBitmapShowsInTheNextFrame) {
  cvBitmap* T = MakeTexture(0xFF0000, 0xFF0000, 0xFF0000, 0xFF0000);
  cvActor* A = AddSquare(T);
  Frame();
  EXPECT_EQ(Pixel(79, 59), 0xFF0000u);
  cvBitmap* Yellow = MakeTexture(0xFFFF00, 0xFFFF00, 0xFFFF00, 0xFFFF00);
  ASSERT_TRUE(cvActor_SetMaterial(A, 0, Yellow, 255, 255, 255));
  Frame();
  EXPECT_EQ(Pixel(79, 59), 0xFFFF00u);
  // Half the material colour halves the texels.
  ASSERT_TRUE(cvActor_SetMaterial(A, 0, Yellow, 128, 128, 128));
  Frame();
  const uint32_t P = Pixel(79, 59);
  EXPECT_NEAR((int)(P >> 16), 128, 2);
  EXPECT_EQ(P & 0xFF, 0u);
  cvBitmap_Destroy(&Yellow);
  cvBitmap_Destroy(&T);
}

TEST_F(DriverScene, ABitmapAddedTwiceKeepsItsTextureAfterOneRemoval) {
  cvBitmap* T = MakeTexture(0xFF0000, 0xFF0000, 0xFF0000, 0xFF0000);
  AddSquare(T);
  Frame();
  ASSERT_NE(cvBitmap_GetDriverHandle(T), nullptr);
  ASSERT_TRUE(cvWorld_AddBitmap(World, T));
  ASSERT_TRUE(cvWorld_RemoveBitmap(World, T));
  Frame();
  EXPECT_NE(cvBitmap_GetDriverHandle(T), nullptr);
  EXPECT_EQ(Pixel(79, 59), 0xFF0000u);
  cvBitmap_Destroy(&T);
}

TEST_F(DriverScene, NearerActorsHideFartherOnesAndLightsColourThem) {
  cvBitmap* Red = MakeTexture(0xFF0000, 0xFF0000, 0xFF0000, 0xFF0000);
  cvBitmap* Green = MakeTexture(0x00FF00, 0x00FF00, 0x00FF00, 0x00FF00);
  cvActor* Far = AddSquare(Red);
  cvActor* Near = AddSquare(Green);
  cvXForm3d M;
  cvXForm3d_SetTranslation(&M, 0.5f, 0, -1);
  ASSERT_TRUE(cvActor_ClearPose(Far, &M));
  cvXForm3d_SetTranslation(&M, -0.5f, 0, 0);
  ASSERT_TRUE(cvActor_ClearPose(Near, &M));
  Frame();
  EXPECT_EQ(Pixel(79, 59), 0x00FF00u);  // overlap: the nearer one
  EXPECT_EQ(Pixel(105, 59), 0xFF0000u); // only the farther one reaches here

  // Dark ambient and one dynamic blue light in front of the near square.
  const cvVec3d Dir = {0, 1, 0};
  ASSERT_TRUE(cvActor_SetLightingOptions(Near, 0, &Dir, 0, 0, 0, 0, 0, 0, 0, 1, nullptr, 0));
  cvWorld_Light* L = cvWorld_AddLight(World);
  const cvVec3d P = {-0.5f, 0, 10};
  const cvWorld_Rgba C = {0, 255, 0, 255};
  ASSERT_TRUE(cvWorld_SetLightAttributes(World, L, &P, &C, 20, 0));
  Frame();
  // (1 - 10/20) of full green on the green texels.
  EXPECT_NEAR((int)((Pixel(79, 59) >> 8) & 0xFF), 128, 3);
  cvBitmap_Destroy(&Red);
  cvBitmap_Destroy(&Green);
}

// A polygon covering a camera's view rectangle lights exactly the rectangle's
// pixels, wherever the rectangle lies in the window and however the camera
// moves by fractions of a pixel: both one far larger than the view (clipped
// to it) and one whose corners project onto the rectangle's outer pixel edges.
// Half-transparent white over black shows every pixel drawn exactly once,
// along the diagonal between the quad's two triangles too.
TEST_F(DriverScene, PolygonsCoveringAViewCoverExactlyItsPixels) {
  const cvRect Views[] = {{0, 159, 0, 119}, {0, 99, 0, 69}, {37, 121, 23, 90}, {60, 159, 50, 119}};
  const float Moves[] = {0.0f, 0.0013f, 0.0371f, -0.0252f};  // world units; 1 pixel is about 0.04
  for (const cvRect& R : Views)
    for (float Move : Moves)
      for (bool Fitted : {false, true}) {
        cvCamera_SetAttributes(Camera, &R, 2.0f);
        cvXForm3d M;
        cvXForm3d_SetTranslation(&M, Move, -0.7f * Move, 3);
        cvCamera_SetWorldSpaceXForm(Camera, &M);
        // The camera at depth 3 above the plane Z = 0: screen x = Scale * X / 3 + XCenter.
        float X0 = -100, X1 = 100, Y0 = -100, Y1 = 100;
        if (Fitted) {
          const float K = 3.0f / Camera->Scale;
          X0 = Move + ((float)R.Left - 0.5f - Camera->XCenter) * K;
          X1 = Move + ((float)R.Right + 0.5f - Camera->XCenter) * K;
          Y1 = -0.7f * Move + (Camera->YCenter - ((float)R.Top - 0.5f)) * K;
          Y0 = -0.7f * Move + (Camera->YCenter - ((float)R.Bottom + 0.5f)) * K;
        }
        const cvWorld_PolyVertex Quad[4] = {{X0, Y1, 0, 0, 0, 255, 255, 255, 128},
                                            {X1, Y1, 0, 0, 0, 255, 255, 255, 128},
                                            {X1, Y0, 0, 0, 0, 255, 255, 255, 128},
                                            {X0, Y0, 0, 0, 0, 255, 255, 255, 128}};
        ASSERT_TRUE(cvWorld_AddPolyOnce(World, Quad, 4, nullptr, CV_WORLD_POLY_GOURAUD,
                                        CV_WORLD_POLYFLAG_BLEND, 1));
        ASSERT_TRUE(cvEngine_BeginFrame(Engine, nullptr, 1));  // clears the whole window
        ASSERT_TRUE(cvEngine_RenderWorld(Engine, World, Camera, 0));
        ASSERT_TRUE(cvEngine_EndFrame(Engine));
        int Wrong = 0;
        for (int Y = 0; Y < 120; ++Y)
          for (int X = 0; X < 160; ++X) {
            const bool InView = X >= R.Left && X <= R.Right && Y >= R.Top && Y <= R.Bottom;
            Wrong += Pixel(X, Y) != (InView ? 0x808080u : 0u);
          }
        EXPECT_EQ(Wrong, 0) << "view " << R.Left << ".." << R.Right << " x " << R.Top << ".." << R.Bottom
                            << ", camera moved by " << Move << (Fitted ? ", fitted polygon" : ", large polygon");
      }
}

// --- The sample actor through actortool -------------------------------------------

struct Image {
  int32_t Width = 0, Height = 0;
  std::vector<uint8_t> Rgb;
};

// Reads an image file through the image-file module as 8-bit R G B bytes.
bool ReadImage(const std::string& Path, Image* Out) {
  std::string Message;
  cvBitmap* B = cvImageFile_Read(Path.c_str(), &Message);
  if (!B) {
    ADD_FAILURE() << Message;
    return false;
  }
  cvBitmap* Lock = nullptr;
  bool Ok = cvBitmap_LockForRead(B, &Lock, 0, 0, CV_PIXELFORMAT_24BIT_RGB, 0, 0) != 0;
  if (Ok) {
    cvBitmap_Info Info;
    cvBitmap_GetInfo(Lock, &Info, nullptr);
    const auto* P = static_cast<const uint8_t*>(cvBitmap_GetBits(Lock));
    Out->Width = Info.Width, Out->Height = Info.Height;
    Out->Rgb.clear();
    for (int32_t Y = 0; Y < Info.Height; ++Y)
      Out->Rgb.insert(Out->Rgb.end(), P + (size_t)Y * Info.Stride * 3, P + ((size_t)Y * Info.Stride + Info.Width) * 3);
    cvBitmap_UnLock_NoChange(Lock);
  }
  cvBitmap_Destroy(&B);
  return Ok;
}

// Threads: the software driver's drawing threads (SOFTRND_THREADS), or
// empty for its default.
int RunActortool(const std::string& Args, const std::string& Threads = "") {
  const std::string Env = Threads.empty() ? "" : "SOFTRND_THREADS=" + Threads + " ";
  const std::string Cmd = Env + "\"" + BinDir() + "/actortool\" " + Args;
  return std::system(Cmd.c_str());
}

// The reference was drawn with these arguments and checked by eye: the
// figure in its walk at 0.25 s, turned 30 degrees, on the dark background.
const char* kSampleArgs = "--size 128x128 --motion walk --time 0.25 --turn 30";

TEST(SampleActor, RendersTheSameImageEveryTimeAndMatchesTheReference) {
  cvtest::TempDir Dir;
  const std::string Actor = BinDir() + "/sample.act";
  // The second render goes to a TGA: both kinds of file hold the same frame.
  // The first is drawn by one thread, the second by three, which must not
  // change a single byte.
  const std::string First = Dir.File("first.png"), Second = Dir.File("second.tga");
  ASSERT_EQ(RunActortool("render \"" + Actor + "\" \"" + First + "\" " + kSampleArgs, "1"), 0);
  ASSERT_EQ(RunActortool("render \"" + Actor + "\" \"" + Second + "\" " + kSampleArgs, "3"), 0);
  Image A, B, Ref;
  ASSERT_TRUE(ReadImage(First, &A));
  ASSERT_TRUE(ReadImage(Second, &B));
  ASSERT_TRUE(ReadImage(std::string(CV_RENDER_REFERENCE_DIR) + "/sample_reference.png", &Ref));
  EXPECT_EQ(A.Rgb, B.Rgb) << "renders with one and three threads differ";
  EXPECT_LT(cvtest::ReadFileBytes(First).size(), A.Rgb.size() / 3) << "the PNG is not compressed";
  ASSERT_EQ(A.Width, Ref.Width);
  ASSERT_EQ(A.Height, Ref.Height);

  // Small differences (rounding in the rasterizer) are allowed; a changed
  // figure, pose, framing or texture is not.
  size_t Differing = 0;
  double Total = 0;
  for (size_t I = 0; I < A.Rgb.size(); ++I) {
    const int D = std::abs((int)A.Rgb[I] - (int)Ref.Rgb[I]);
    Total += D;
    if (D > 48) ++Differing;
  }
  const double Mean = Total / (double)A.Rgb.size();
  EXPECT_LT(Mean, 1.5) << "mean difference from the reference; the image is in " << First;
  EXPECT_LT(Differing, A.Rgb.size() / 100) << "channels far from the reference; see " << First;

  // The figure is there: the middle column holds much more than background.
  size_t Figure = 0;
  for (int32_t Y = 0; Y < A.Height; ++Y) {
    const uint8_t* P = &A.Rgb[(size_t)(Y * A.Width + A.Width / 2) * 3];
    if (std::abs(P[0] - 46) + std::abs(P[1] - 50) + std::abs(P[2] - 58) > 30) ++Figure;
  }
  EXPECT_GT(Figure, (size_t)A.Height / 2);
}

TEST(SampleActor, BadArgumentsAndFilesAreRefused) {
  cvtest::TempDir Dir;
  const std::string Actor = "\"" + BinDir() + "/sample.act\" ";
  const std::string Out = "\"" + Dir.File("x.png") + "\"";
  EXPECT_NE(RunActortool("render " + Actor + Out + " --motion nosuchmotion 2>/dev/null"), 0);
  EXPECT_NE(RunActortool("render " + Actor + Out + " --size 0x10 2>/dev/null"), 0);
  EXPECT_NE(RunActortool("render \"" + Dir.File("missing.act") + "\" " + Out + " 2>/dev/null"), 0);
  cvtest::WriteFileBytes(Dir.File("junk.act"), {1, 2, 3, 4, 5});
  EXPECT_NE(RunActortool("render \"" + Dir.File("junk.act") + "\" " + Out + " 2>/dev/null"), 0);
}

}  // namespace
