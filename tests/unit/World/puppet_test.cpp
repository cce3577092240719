// Body instances, puppets and the instance operations built on them:
// materials and their world registrations, geometry, lighting, frustum
// rejection, boxes and animation cues.
#include <gtest/gtest.h>

#include <cmath>

#include "cvengine.h"
#include "testsupport.h"
#include "worldtest.h"

using namespace worldtest;

namespace {

struct PuppetTest : ::testing::Test {
  void SetUp() override {
    cvErrorLog_Clear();
    World = cvWorld_Create(nullptr);
    Bitmap = MakeBitmap();
    A = MakeActor(Bitmap);
    ASSERT_TRUE(cvWorld_AddActor(World, A.Actor, CV_WORLD_ACTOR_RENDER_NORMAL, 1));
  }
  void TearDown() override {
    cvWorld_Free(World);
    Release(A);
    EXPECT_EQ(Bitmap->RefCount, 1);  // every reference taken was given back
    cvBitmap_Destroy(&Bitmap);
    EXPECT_EQ(cvPuppet_GetCount(), 0);
  }
  cvWorld* World = nullptr;
  cvBitmap* Bitmap = nullptr;
  TestActor A;
};

TEST_F(PuppetTest, NewPuppetHasTheDefaultLighting) {
  int32_t FillOn, Floor, MaxLights, Bone, PerBone;
  cvVec3d Dir;
  float FR, FG, FB, AR, AG, AB;
  ASSERT_TRUE(cvPuppet_GetLightingOptions(A.Actor->Puppet, &FillOn, &Dir, &FR, &FG, &FB, &AR, &AG,
                                          &AB, &Floor, &MaxLights, &Bone, &PerBone));
  EXPECT_EQ((std::vector<float>{FR, FB, AG}), (std::vector<float>{63.75f, 63.75f, 25.5f}));
  EXPECT_EQ((std::vector<int32_t>{FillOn, Floor, MaxLights, Bone, PerBone}), (std::vector<int32_t>{1, 1, 3, -1, 0}));
  const float L = std::sqrt(0.04f + 1.0f + 0.16f);
  EXPECT_NEAR(Dir.X, -0.2f / L, 1e-6);
  EXPECT_NEAR(Dir.Y, 1.0f / L, 1e-6);
  EXPECT_NEAR(Dir.Z, 0.4f / L, 1e-6);
}

TEST_F(PuppetTest, OptionsNeedAPuppetAndAKnownBone) {
  const cvVec3d Dir = {0, 1, 0};
  EXPECT_FALSE(cvActor_SetLightingOptions(A.Actor, 1, &Dir, 1, 1, 1, 1, 1, 1, 0, 1, "nope", 0));
  EXPECT_LOGGED(-1);
  ASSERT_TRUE(cvActor_SetLightingOptions(A.Actor, 1, &Dir, 1, 1, 1, 1, 1, 1, 0, 1, "arm", 0));
  EXPECT_EQ(A.Actor->Puppet->LightBone, 1);
  TestActor Bare = MakeActor();
  cvErrorLog_Clear();
  EXPECT_FALSE(cvActor_SetLightingOptions(Bare.Actor, 1, &Dir, 1, 1, 1, 1, 1, 1, 0, 1, nullptr, 0));
  EXPECT_FALSE(cvActor_SetShadow(Bare.Actor, 1, 10, nullptr, nullptr));
  EXPECT_LOGGED(-1);
  Release(Bare);
}

TEST_F(PuppetTest, MaterialsAreCopiedAndRegisteredOnce) {
  // Own + body + puppet + world list.
  EXPECT_EQ(Bitmap->RefCount, 4);
  EXPECT_TRUE(cvWorld_HasBitmap(World, Bitmap));
  ASSERT_EQ(cvActor_GetMaterialCount(A.Actor), 1);
  cvBitmap* Got;
  float R, G, B;
  ASSERT_TRUE(cvActor_GetMaterial(A.Actor, 0, &Got, &R, &G, &B));
  EXPECT_EQ(Got, Bitmap);
  EXPECT_EQ(G, 128.0f);

  // The same bitmap again changes only the colour.
  ASSERT_TRUE(cvActor_SetMaterial(A.Actor, 0, Bitmap, 1, 2, 3));
  EXPECT_EQ(Bitmap->RefCount, 4);
  ASSERT_TRUE(cvActor_GetMaterial(A.Actor, 0, &Got, &R, &G, &B));
  EXPECT_EQ(B, 3.0f);

  // Null unregisters and releases it.
  ASSERT_TRUE(cvActor_SetMaterial(A.Actor, 0, nullptr, 1, 2, 3));
  EXPECT_EQ(Bitmap->RefCount, 2);
  EXPECT_FALSE(cvWorld_HasBitmap(World, Bitmap));
  EXPECT_EQ(A.Actor->Puppet->Materials[0].HasBitmap, 0);

  // A new bitmap is registered; preparing again copies the body's material back.
  cvBitmap* Other = MakeBitmap();
  ASSERT_TRUE(cvActor_SetMaterial(A.Actor, 0, Other, 1, 2, 3));
  EXPECT_TRUE(cvWorld_HasBitmap(World, Other));
  ASSERT_TRUE(cvActor_PrepareForRendering(A.Actor, World));
  EXPECT_FALSE(cvWorld_HasBitmap(World, Other));
  EXPECT_TRUE(cvWorld_HasBitmap(World, Bitmap));
  EXPECT_EQ(Other->RefCount, 1);
  cvBitmap_Destroy(&Other);
  EXPECT_FALSE(cvActor_SetMaterial(A.Actor, 1, nullptr, 0, 0, 0));
}

TEST(BodyInst, GeometryFollowsTheBonesAndChecksTheirCount) {
  cvBody* Body = MakeBody(nullptr);
  cvBodyInst* I = cvBodyInst_Create(Body);
  ASSERT_NE(I, nullptr);
  cvXFArray* Wrong = cvXFArray_Create(1);
  const cvVec3d One = {1, 1, 1}, Two = {2, 2, 2};
  cvErrorLog_Clear();
  EXPECT_EQ(cvBodyInst_GetGeometry(I, &One, Wrong, 0, nullptr), nullptr);
  EXPECT_LOGGED(100);

  cvXFArray* Bones = cvXFArray_Create(2);
  int32_t Count;
  cvXForm3d* M = cvXFArray_GetElements(Bones, &Count);
  cvXForm3d_SetIdentity(&M[0]);
  cvXForm3d_SetTranslation(&M[1], 10, 0, 0);
  const cvBodyInst_Geometry* G = cvBodyInst_GetGeometry(I, &One, Bones, 0, nullptr);
  ASSERT_NE(G, nullptr);
  EXPECT_EQ(G->VertexCount, 6);
  EXPECT_EQ(G->FaceCount, 2);
  EXPECT_FLOAT_EQ(G->Min.X, -1);
  EXPECT_FLOAT_EQ(G->Max.X, 11);  // the second triangle moved with its bone
  // Same level again: the faces are not rebuilt; scale stretches the bone's axes only.
  G = cvBodyInst_GetGeometry(I, &Two, Bones, 0, nullptr);
  EXPECT_EQ(I->FaceRebuilds, 1);
  EXPECT_FLOAT_EQ(G->Max.X, 12);
  EXPECT_FLOAT_EQ(G->Min.Y, -2);
  // A level the body does not have.
  EXPECT_EQ(cvBodyInst_GetGeometry(I, &One, Bones, 3, nullptr), nullptr);
  cvXFArray_Destroy(&Wrong);
  cvXFArray_Destroy(&Bones);
  cvBodyInst_Destroy(&I);
  EXPECT_EQ(I, nullptr);
  cvBody_Destroy(&Body);
}

// Faces on corners the instance does not pose are left out; a body without
// face lists poses its vertices and has no faces.
TEST(BodyInst, FacesOnInactiveCornersAndBodiesWithoutFaceLists) {
  cvXFArray* Bones = cvXFArray_Create(2);
  const cvVec3d One = {1, 1, 1};
  auto Faces = [&](void (*Change)(cvBody*), std::vector<int>* Out = nullptr) {
    cvBody* Body = MakeBody(nullptr);
    Change(Body);
    cvBodyInst* I = cvBodyInst_Create(Body);
    const cvBodyInst_Geometry* G = cvBodyInst_GetGeometry(I, &One, Bones, 0, nullptr);
    int Count = G ? G->FaceCount : -1;
    for (int F = 0; G && Out && F < G->FaceCount; ++F)
      for (int C = 0; C < 3; ++C) Out->push_back(G->Vertices[G->Faces[F].Corner[C][0]].BoneIndex);
    EXPECT_TRUE(G == nullptr || G->VertexCount == 6);
    cvBodyInst_Destroy(&I);
    cvBody_Destroy(&Body);
    return Count;
  };
  EXPECT_EQ(Faces([](cvBody*) {}), 2);
  std::vector<int> Kept;
  EXPECT_EQ(Faces([](cvBody* B) { B->Vertices[0].Active = 0; }, &Kept), 1);  // a corner on the root
  EXPECT_EQ(Kept, (std::vector<int>{1, 1, 1}));                               // the arm's face stays
  Kept.clear();
  EXPECT_EQ(Faces([](cvBody* B) { B->Normals[1].Active = 0; }, &Kept), 1);  // the arm's normal
  EXPECT_EQ(Kept, (std::vector<int>{0, 0, 0}));
  cvErrorLog_Clear();
  EXPECT_EQ(Faces([](cvBody* B) { B->LevelCount = 0; }), 0);
  EXPECT_TRUE(cvtest::LoggedCodes().empty());
  cvXFArray_Destroy(&Bones);
}

TEST_F(PuppetTest, BoxesFollowThePose) {
  cvXForm3d Root;
  cvXForm3d_SetTranslation(&Root, 100, 0, 0);
  ASSERT_TRUE(cvActor_ClearPose(A.Actor, &Root));
  cvExtBox Box;
  ASSERT_TRUE(cvActor_GetBoneBoundingBox(A.Actor, "arm", &Box));
  EXPECT_FLOAT_EQ(Box.Min.X, 99);
  EXPECT_FLOAT_EQ(Box.Min.Y, 0);  // one unit up from the root
  EXPECT_FLOAT_EQ(Box.Max.Y, 2);
  ASSERT_TRUE(cvActor_GetDynamicExtBox(A.Actor, &Box));
  EXPECT_FLOAT_EQ(Box.Min.Y, -1);
  EXPECT_FLOAT_EQ(Box.Max.Y, 2);
  // The ExtBox is kept relative to the root and read back where it is now.
  ASSERT_TRUE(cvActor_GetExtBox(A.Actor, &Box));
  EXPECT_FLOAT_EQ(Box.Min.X, 99);
  EXPECT_FALSE(cvActor_GetBoneBoundingBox(A.Actor, "leg", &Box));
  EXPECT_LOGGED(-1);

  cvVec3d C, DX, DY, DZ;
  cvXForm3d Turn;
  cvXForm3d_SetZRotation(&Turn, 1.5707963f);
  ASSERT_TRUE(cvActor_ClearPose(A.Actor, &Turn));
  ASSERT_TRUE(cvActor_GetBoneOrientedBox(A.Actor, nullptr, &C, &DX, &DY, &DZ));
  EXPECT_NEAR(DX.Y, 2.0f, 1e-5);  // the body's X edge now points along Y
  EXPECT_NEAR(DY.X, -3.0f, 1e-5);
}

struct DrawTest : PuppetTest {
  void SetUp() override {
    PuppetTest::SetUp();
    Camera = MakeCamera(0, 0, 10);
    const cvVec3d Dir = {0, 0, 1};
    // Only the dynamic lights below light the mesh.
    ASSERT_TRUE(cvActor_SetLightingOptions(A.Actor, 0, &Dir, 0, 0, 0, 0, 0, 0, 0, 1, nullptr, 0));
    ASSERT_TRUE(cvActor_ClearPose(A.Actor, nullptr));
  }
  void TearDown() override {
    cvCamera_Destroy(Camera);
    PuppetTest::TearDown();
  }
  void AddLight(float Z, float R, float G, float B) {
    cvWorld_Light* L = cvWorld_AddLight(World);
    const cvVec3d P = {0, 0, Z};
    const cvWorld_Rgba C = {R, G, B, 255};
    ASSERT_TRUE(cvWorld_SetLightAttributes(World, L, &P, &C, 100, 0));
  }
  cvCamera* Camera = nullptr;
  RecordingEngine E;
};

TEST_F(DrawTest, NearestLightsAreUsedFirst) {
  AddLight(10, 0, 255, 0);  // farther, green
  AddLight(5, 255, 0, 0);   // nearer, red
  AddLight(50, 0, 0, 255);  // in range but beyond MaxLights
  ASSERT_TRUE(cvActor_Render(A.Actor, &E.Engine, World, Camera));
  ASSERT_EQ(E.Polys.size(), 2u);
  const cvDriver_Vertex& V = E.Polys[0].Vertices[0];
  EXPECT_NEAR(V.R, 0.95f * 255, 1e-3);  // (1 - 5/100) x material red 255
  EXPECT_EQ(V.G, 0.0f);
  EXPECT_EQ(E.Polys[0].Texture, nullptr);  // the bitmap has no driver texture here

  E.Polys.clear();
  const cvVec3d Dir = {0, 0, 1};
  ASSERT_TRUE(cvActor_SetLightingOptions(A.Actor, 0, &Dir, 0, 0, 0, 0, 0, 0, 0, 2, nullptr, 0));
  ASSERT_TRUE(cvActor_Render(A.Actor, &E.Engine, World, Camera));
  EXPECT_NEAR(E.Polys[0].Vertices[0].G, 0.9f * 128, 1e-3);
  EXPECT_EQ(E.Polys[0].Vertices[0].B, 0.0f);

  // Per-bone lighting gives the same here: both bones lie near the lights' axis.
  E.Polys.clear();
  ASSERT_TRUE(cvActor_SetLightingOptions(A.Actor, 0, &Dir, 0, 0, 0, 0, 0, 0, 0, 1, nullptr, 1));
  ASSERT_TRUE(cvActor_Render(A.Actor, &E.Engine, World, Camera));
  EXPECT_NEAR(E.Polys[0].Vertices[0].R, 0.95f * 255, 1e-3);
}

TEST_F(DrawTest, FillAndAmbientLightAndColoursClamp) {
  const cvVec3d Dir = {0, 0, 1};
  ASSERT_TRUE(cvActor_SetLightingOptions(A.Actor, 1, &Dir, 255, 255, 255, 255, 0, 0, 0, 0, nullptr, 0));
  ASSERT_TRUE(cvActor_Render(A.Actor, &E.Engine, World, Camera));
  const cvDriver_Vertex& V = E.Polys[0].Vertices[0];
  EXPECT_EQ(V.R, 255.0f);  // (1 + 1) x 255, clamped
  EXPECT_EQ(V.G, 128.0f);
  EXPECT_EQ(V.A, 255.0f);
}

TEST_F(DrawTest, BoxesOutsideTheViewDrawNothingAndSucceed) {
  cvExtBox Behind;
  cvExtBox_Set(&Behind, -1, -1, 20, 1, 1, 30);  // behind the camera at Z = 10
  ASSERT_TRUE(cvActor_SetRenderHintExtBox(A.Actor, &Behind, nullptr));
  ASSERT_TRUE(cvActor_Render(A.Actor, &E.Engine, World, Camera));
  EXPECT_TRUE(E.Polys.empty());
  EXPECT_EQ(E.Engine.Stats[CV_ENGINE_STAT_ACTORS], 0);

  // A frustum that leaves the actor out, and one that keeps it.
  cvFrustum F{};
  F.PlaneCount = 1;
  F.Normal[0] = {1, 0, 0};
  F.Dist[0] = 50;  // only X >= 50 is inside
  ASSERT_TRUE(cvActor_RenderThroughFrustum(A.Actor, &E.Engine, World, Camera, &F));
  EXPECT_TRUE(E.Polys.empty());
  ASSERT_TRUE(cvFrustum_SetFromCamera(&F, Camera));
  ASSERT_TRUE(cvActor_RenderThroughFrustum(A.Actor, &E.Engine, World, Camera, &F));
  EXPECT_EQ(E.Polys.size(), 2u);
}

TEST_F(DrawTest, ABoneLightingCacheThatCannotGrowFailsTheDraw) {
  AddLight(5, 255, 0, 0);
  ASSERT_TRUE(cvActor_Render(A.Actor, &E.Engine, World, Camera));  // buffers made
  const cvVec3d Dir = {0, 0, 1};
  ASSERT_TRUE(cvActor_SetLightingOptions(A.Actor, 0, &Dir, 0, 0, 0, 0, 0, 0, 0, 1, nullptr, 1));
  cvErrorLog_Clear();
  {
    cvtest::FailNthAllocation Fail(1);
    EXPECT_FALSE(cvActor_Render(A.Actor, &E.Engine, World, Camera));
  }
  EXPECT_EQ(cvtest::LoggedCodes().front(), 103);
  EXPECT_LOGGED(112);
  EXPECT_TRUE(cvActor_Render(A.Actor, &E.Engine, World, Camera));
}

TEST_F(PuppetTest, PreparingFailsCleanlyWhenMemoryRunsOut) {
  cvtest::WalkAllocationFailures(
      8, [&] { return cvActor_PrepareForRendering(A.Actor, World); },
      [&](int N, int Ok) {
        EXPECT_FALSE(Ok) << "allocation " << N;
        EXPECT_LOGGED(111);
        EXPECT_EQ(A.Actor->Puppet, nullptr);
        EXPECT_EQ(Bitmap->RefCount, 2 + (cvWorld_HasBitmap(World, Bitmap) ? 1 : 0));
      },
      [](int Ok) { ASSERT_TRUE(Ok); });
  ASSERT_TRUE(cvActor_PrepareForRendering(A.Actor, World));
  EXPECT_EQ(Bitmap->RefCount, 4);
}

TEST_F(DrawTest, ABodyWithoutFaceListsDrawsNothingAndSucceeds) {
  cvActorDef_GetBody(A.Def)->LevelCount = 0;  // as read from a stream that ends before its face lists
  cvErrorLog_Clear();
  for (int Frame = 0; Frame < 2; ++Frame) ASSERT_TRUE(cvActor_Render(A.Actor, &E.Engine, World, Camera));
  EXPECT_TRUE(E.Polys.empty());
  EXPECT_TRUE(cvtest::LoggedCodes().empty());
}

TEST_F(DrawTest, WithoutAPuppetRenderingFails) {
  TestActor Bare = MakeActor();
  EXPECT_FALSE(cvActor_Render(Bare.Actor, &E.Engine, World, Camera));
  EXPECT_LOGGED(112);
  Release(Bare);
}

// A motion that turns the joint "root" by Angle about Z over one second.
cvMotion* Turning(float Angle) {
  cvMotion* M = cvMotion_Create(1);
  cvPath* P = cvPath_Create(CV_PATH_INTERPOLATE_LINEAR, CV_PATH_INTERPOLATE_SLERP, 0);
  cvXForm3d K;
  cvXForm3d_SetIdentity(&K);
  EXPECT_TRUE(cvPath_InsertKeyframe(P, CV_PATH_ALL_CHANNELS, 0, &K));
  cvXForm3d_SetZRotation(&K, Angle);
  EXPECT_TRUE(cvPath_InsertKeyframe(P, CV_PATH_ALL_CHANNELS, 1, &K));
  int32_t Index;
  EXPECT_TRUE(cvMotion_AddPath(M, P, "root", &Index));
  cvPath_Destroy(&P);
  return M;
}

TEST_F(PuppetTest, CueWithoutBlendTimeWeighsFullyFromTheStart) {
  cvMotion* M = Turning(1.0f);
  ASSERT_TRUE(cvActor_AnimationCue(A.Actor, M, 1, 0, 0, 0, 1, nullptr));
  EXPECT_FLOAT_EQ(cvMotion_GetBlendAmount(A.Actor->CueMotion, 0, 0), 1.0f);
  ASSERT_TRUE(cvActor_AnimationStep(A.Actor, 0.5f));
  EXPECT_EQ(cvMotion_GetSubMotionCount(A.Actor->CueMotion), 1);
  cvXForm3d Root;
  ASSERT_TRUE(cvActor_GetBoneTransform(A.Actor, "root", &Root));
  EXPECT_NEAR(std::atan2(Root.M[1][0], Root.M[0][0]), 0.5f, 1e-3);  // halfway through the turn
  EXPECT_TRUE(cvActor_AnimationRemoveLastCue(A.Actor));
  EXPECT_FALSE(cvActor_AnimationRemoveLastCue(A.Actor));
  cvMotion_Destroy(&M);
}

TEST_F(PuppetTest, EventsOfTheStepAreReported) {
  cvMotion* M = Turning(1.0f);
  ASSERT_TRUE(cvMotion_InsertEvent(M, 0.3f, "step"));
  ASSERT_TRUE(cvMotion_InsertEvent(M, 0.8f, "later"));
  ASSERT_TRUE(cvActor_AnimationCue(A.Actor, M, 1, 0, 0, 1, 1, nullptr));
  ASSERT_TRUE(cvActor_AnimationStep(A.Actor, 0.5f));
  float Time;
  const char* Text;
  ASSERT_TRUE(cvActor_GetAnimationEvent(A.Actor, &Time, &Text));
  EXPECT_FLOAT_EQ(Time, 0.3f);
  EXPECT_STREQ(Text, "step");
  EXPECT_FALSE(cvActor_GetAnimationEvent(A.Actor, &Time, &Text));  // "later" is not due yet
  cvMotion_Destroy(&M);
}

TEST_F(PuppetTest, CuesEndWhenFadedOutOrCoveredByANewerOne) {
  cvMotion* Fading = Turning(1.0f);
  ASSERT_TRUE(cvActor_AnimationCue(A.Actor, Fading, 1, 0, 1, 1, 0, nullptr));  // fades out over 1 s
  ASSERT_TRUE(cvActor_AnimationStep(A.Actor, 0.5f));
  EXPECT_EQ(cvMotion_GetSubMotionCount(A.Actor->CueMotion), 1);
  ASSERT_TRUE(cvActor_AnimationStep(A.Actor, 1.0f));
  EXPECT_EQ(cvMotion_GetSubMotionCount(A.Actor->CueMotion), 0);

  cvMotion* Old = Turning(1.0f);
  cvMotion* New = Turning(-1.0f);
  ASSERT_TRUE(cvActor_AnimationCue(A.Actor, Old, 1, 0, 0, 1, 1, nullptr));
  ASSERT_TRUE(cvActor_AnimationCue(A.Actor, New, 1, 0, 0, 1, 1, nullptr));
  ASSERT_TRUE(cvActor_AnimationStep(A.Actor, 0.1f));
  ASSERT_EQ(cvMotion_GetSubMotionCount(A.Actor->CueMotion), 1);  // the full-weight newer cue covers the old
  EXPECT_EQ(cvMotion_GetSubMotion(A.Actor->CueMotion, 0), New);
  cvMotion_Destroy(&Fading);
  cvMotion_Destroy(&Old);
  cvMotion_Destroy(&New);
}

}  // namespace
