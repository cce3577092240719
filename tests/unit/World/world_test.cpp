// The world of an empty level: actors, lights, bitmaps, user polygons,
// collision and the render sequence (against a recording driver).
#include <gtest/gtest.h>

#include "cvengine.h"
#include "memfile.h"
#include "testsupport.h"
#include "worldtest.h"

using namespace worldtest;

namespace {

struct WorldTest : ::testing::Test {
  void SetUp() override {
    cvErrorLog_Clear();
    World = cvWorld_Create(nullptr);
    ASSERT_NE(World, nullptr);
  }
  void TearDown() override {
    if (World) cvWorld_Free(World);
  }
  cvWorld* World = nullptr;
};

TEST_F(WorldTest, EmptyWorldStartsChangedWithOneReferenceAndNothingInIt) {
  EXPECT_EQ(cvWorld_GetRefCount(World), 1);
  EXPECT_EQ(cvWorld_IsChanged(World), 1);
  EXPECT_EQ(cvWorld_GetActorCount(World), 0);
  EXPECT_EQ(cvWorld_GetActiveLightCount(World), 0);
  EXPECT_EQ(cvWorld_GetBitmapCount(World), 0);
  // Freeing while an engine holds it only lowers the count.
  ASSERT_TRUE(cvWorld_AddRef(World));
  ASSERT_TRUE(cvWorld_Free(World));
  EXPECT_EQ(cvWorld_GetRefCount(World), 1);
}

TEST_F(WorldTest, LevelFilesAreRefused) {
  cvWorld_Free(World);
  World = nullptr;
  cvtest::MemoryReader File(std::vector<uint8_t>{0});
  ASSERT_NE(File.File(), nullptr);
  EXPECT_EQ(cvWorld_Create(File.File()), nullptr);
  EXPECT_LOGGED(-1);
}

TEST_F(WorldTest, CreationFailsCleanlyWhenMemoryRunsOut) {
  cvtest::WalkAllocationFailures(
      64, [] { return cvWorld_Create(nullptr); },
      [](int N, cvWorld* W) {
        EXPECT_EQ(W, nullptr) << "allocation " << N;
        EXPECT_LOGGED(52);
      },
      [](cvWorld* W) {
        ASSERT_NE(W, nullptr);
        cvWorld_Free(W);
      });
}

TEST_F(WorldTest, LightSlotsRunOutAtThirtyTwo) {
  cvWorld_Light* Lights[CV_WORLD_MAX_LIGHTS];
  for (cvWorld_Light*& L : Lights) ASSERT_NE(L = cvWorld_AddLight(World), nullptr);
  EXPECT_EQ(cvWorld_AddLight(World), nullptr);
  EXPECT_LOGGED(42);
  EXPECT_EQ(cvWorld_GetActiveLightCount(World), 32);

  ASSERT_TRUE(cvWorld_RemoveLight(World, Lights[5]));
  EXPECT_FALSE(cvWorld_RemoveLight(World, Lights[5]));  // already free
  EXPECT_EQ(cvWorld_AddLight(World), Lights[5]);        // the freed slot is reused
}

TEST_F(WorldTest, LightAttributesKeepAFixedPointColour) {
  cvWorld_Light* L = cvWorld_AddLight(World);
  const cvVec3d P = {1, 2, 3};
  const cvWorld_Rgba C = {255, 100, 0, 255};
  ASSERT_TRUE(cvWorld_SetLightAttributes(World, L, &P, &C, 50, 1));
  int32_t Fixed[3];
  ASSERT_TRUE(cvWorld_GetLightFixedColour(World, 0, Fixed));
  EXPECT_EQ(Fixed[0], 334);  // 255 / 195 * 256, truncated
  EXPECT_EQ(Fixed[1], 131);
  EXPECT_EQ(Fixed[2], 0);
  cvVec3d Got;
  float Radius;
  int32_t Shadows;
  ASSERT_TRUE(cvWorld_GetLightInfo(World, 0, &Got, nullptr, &Radius, &Shadows));
  EXPECT_EQ(Got.Z, 3.0f);
  EXPECT_EQ(Radius, 50.0f);
  EXPECT_EQ(Shadows, 1);

  cvWorld* Other = cvWorld_Create(nullptr);
  EXPECT_FALSE(cvWorld_SetLightAttributes(Other, L, &P, &C, 50, 0));  // not its light
  cvWorld_Free(Other);
}

TEST_F(WorldTest, BitmapsAreCountedAndMarkTheWorldChanged) {
  cvBitmap* B = MakeBitmap();
  cvWorld_SetChanged(World, 0);
  ASSERT_TRUE(cvWorld_AddBitmap(World, B));
  EXPECT_EQ(cvWorld_IsChanged(World), 1);
  EXPECT_EQ(B->DriverFlags, 0x40002u);
  cvWorld_SetChanged(World, 0);
  ASSERT_TRUE(cvWorld_AddBitmap(World, B));
  EXPECT_EQ(cvWorld_IsChanged(World), 0);  // already listed
  EXPECT_EQ(cvWorld_GetBitmapCount(World), 1);
  EXPECT_EQ(B->RefCount, 3);

  ASSERT_TRUE(cvWorld_RemoveBitmap(World, B));
  EXPECT_TRUE(cvWorld_HasBitmap(World, B));
  EXPECT_EQ(cvWorld_IsChanged(World), 0);
  ASSERT_TRUE(cvWorld_RemoveBitmap(World, B));
  EXPECT_FALSE(cvWorld_HasBitmap(World, B));
  EXPECT_EQ(cvWorld_IsChanged(World), 1);
  EXPECT_EQ(B->RefCount, 1);
  EXPECT_FALSE(cvWorld_RemoveBitmap(World, B));
  EXPECT_LOGGED(-1);
  cvBitmap_Destroy(&B);
}

TEST_F(WorldTest, RemovingMovesTheLastActorIntoTheGap) {
  TestActor A[3] = {MakeActor(), MakeActor(), MakeActor()};
  for (TestActor& T : A) ASSERT_TRUE(cvWorld_AddActor(World, T.Actor, 11, 0xFFFFFFFFu));
  EXPECT_EQ(A[0].Actor->RefCount, 1);  // the world's reference
  ASSERT_NE(A[0].Actor->Puppet, nullptr);

  ASSERT_TRUE(cvWorld_RemoveActor(World, A[0].Actor));
  ASSERT_EQ(cvWorld_GetActorCount(World), 2);
  EXPECT_EQ(cvWorld_GetActorEntry(World, 0)->Actor, A[2].Actor);
  EXPECT_EQ(cvWorld_GetActorEntry(World, 1)->Actor, A[1].Actor);
  EXPECT_EQ(cvWorld_GetActorEntry(World, 1)->ActorFlags, 11u);
  EXPECT_EQ(A[0].Actor->RefCount, 0);

  EXPECT_FALSE(cvWorld_RemoveActor(World, A[0].Actor));
  EXPECT_LOGGED(-1);
  for (TestActor& T : A) Release(T);  // the world still holds two of them
  EXPECT_EQ(cvActor_GetCount(), 2);
  cvWorld_Free(World);
  World = nullptr;
  EXPECT_EQ(cvActor_GetCount(), 0);
}

TEST_F(WorldTest, AFailedAddLeavesTheListAsItWas) {
  TestActor A = MakeActor();
  {
    cvtest::FailNthAllocation Fail(1);
    EXPECT_FALSE(cvWorld_AddActor(World, A.Actor, 1, 1));
  }
  EXPECT_LOGGED(-1);
  EXPECT_EQ(cvWorld_GetActorCount(World), 0);
  EXPECT_EQ(A.Actor->RefCount, 0);
  Release(A);
}

TEST_F(WorldTest, MaterialBitmapsOfActorsBecomeWorldBitmaps) {
  cvBitmap* B = MakeBitmap();
  TestActor A = MakeActor(B);
  ASSERT_TRUE(cvWorld_AddActor(World, A.Actor, 11, 1));
  EXPECT_TRUE(cvWorld_HasBitmap(World, B));
  ASSERT_TRUE(cvWorld_RemoveActor(World, A.Actor));
  Release(A);  // the puppet unregisters its bitmap
  EXPECT_FALSE(cvWorld_HasBitmap(World, B));
  EXPECT_EQ(B->RefCount, 1);
  cvBitmap_Destroy(&B);
}

TEST_F(WorldTest, AnActorMayOutliveTheWorldItWasRemovedFrom) {
  cvBitmap* B = MakeBitmap();
  TestActor A = MakeActor(B), C = MakeActor(B);
  ASSERT_TRUE(cvWorld_AddActor(World, A.Actor, 11, 1));
  ASSERT_TRUE(cvWorld_AddActor(World, C.Actor, 11, 1));
  ASSERT_TRUE(cvWorld_RemoveActor(World, A.Actor));
  EXPECT_TRUE(cvWorld_HasBitmap(World, B));  // the other actor still uses it
  cvWorld_Free(World);  // C still listed: its puppet lets go of the world too
  World = nullptr;
  ASSERT_TRUE(cvActor_SetMaterial(A.Actor, 0, nullptr, 1, 1, 1));
  Release(A);
  Release(C);
  EXPECT_EQ(B->RefCount, 1);
  cvBitmap_Destroy(&B);
}

TEST_F(WorldTest, CollisionHitsOnlyCollidingActorsWithMatchingUserFlags) {
  TestActor Solid = MakeActor(), Ghost = MakeActor();
  ASSERT_TRUE(cvWorld_AddActor(World, Solid.Actor, CV_WORLD_ACTOR_COLLIDE, 2));
  ASSERT_TRUE(cvWorld_AddActor(World, Ghost.Actor, CV_WORLD_ACTOR_RENDER_NORMAL, 2));
  const cvVec3d Front = {0, 0.5f, 10}, Back = {0, 0.5f, -10};
  cvWorld_CollisionResult R{};
  ASSERT_TRUE(cvWorld_Collision(World, nullptr, nullptr, &Front, &Back, 67, 7, 2, nullptr, nullptr, &R));
  EXPECT_EQ(R.Actor, Solid.Actor);
  EXPECT_EQ(R.PlaneNormal.Z, 1.0f);
  EXPECT_NEAR(R.Impact.Z, 0.0f, 1e-4);  // the body is flat at Z = 0
  // Other user flags, no actor collision, or a ray beside the body: no hit.
  EXPECT_FALSE(cvWorld_Collision(World, nullptr, nullptr, &Front, &Back, 67, 7, 4, nullptr, nullptr, &R));
  EXPECT_FALSE(cvWorld_Collision(World, nullptr, nullptr, &Front, &Back, 67, 3, 2, nullptr, nullptr, &R));
  const cvVec3d Beside = {5, 0, 10}, BesideBack = {5, 0, -10};
  EXPECT_FALSE(cvWorld_Collision(World, nullptr, nullptr, &Beside, &BesideBack, 67, 7, 2, nullptr, nullptr, &R));
  // A box as wide as the offset reaches it.
  const cvVec3d Mins = {-5, -1, -1}, Maxs = {5, 1, 1};
  EXPECT_TRUE(cvWorld_Collision(World, &Mins, &Maxs, &Beside, &BesideBack, 67, 7, 2, nullptr, nullptr, &R));
  // The callback may turn the actor down.
  auto Refuse = [](cvWorld*, cvActor*, void*) { return 0; };
  EXPECT_FALSE(cvWorld_Collision(World, nullptr, nullptr, &Front, &Back, 67, 7, 2, Refuse, nullptr, &R));
  cvWorld_Free(World);
  World = nullptr;
  Release(Solid);
  Release(Ghost);
}

TEST_F(WorldTest, UserPolygonsAreCheckedAndLastOneFrame) {
  cvWorld_PolyVertex V[4] = {{-1, -1, -5, 0, 0, 255, 0, 0, 255},
                             {1, -1, -5, 1, 0, 255, 0, 0, 255},
                             {1, 1, -5, 1, 1, 255, 0, 0, 255},
                             {-1, 1, -5, 0, 1, 255, 0, 0, 255}};
  EXPECT_FALSE(cvWorld_AddPolyOnce(World, V, 2, nullptr, CV_WORLD_POLY_GOURAUD, 0, 1));
  EXPECT_FALSE(cvWorld_AddPolyOnce(World, V, 4, nullptr, CV_WORLD_POLY_TEXTURED_POINT, 0, 1));
  EXPECT_FALSE(cvWorld_AddPolyOnce(World, V, 4, nullptr, 7, 0, 1));
  ASSERT_TRUE(cvWorld_AddPolyOnce(World, V, 4, nullptr, CV_WORLD_POLY_GOURAUD, 0, 1));
  ASSERT_TRUE(cvWorld_AddPolyOnce(World, V, 1, nullptr, CV_WORLD_POLY_TEXTURED_POINT, 3, 2));
  EXPECT_EQ(cvWorld_GetUserPolyCount(World), 2);

  RecordingEngine E;
  cvCamera* C = MakeCamera(0, 0, 0);
  ASSERT_TRUE(cvWorld_Render(&E.Engine, World, C));
  EXPECT_EQ(cvWorld_GetUserPolyCount(World), 0);
  ASSERT_EQ(E.Polys.size(), 2u);
  // The quad at depth 5 spans 2 units: 2 * 320 / 5 = 128 pixels, centred.
  float MinX = 1e9f, MaxX = -1e9f;
  for (const cvDriver_Vertex& P : E.Polys[0].Vertices) MinX = std::min(MinX, P.X), MaxX = std::max(MaxX, P.X);
  EXPECT_NEAR(MinX, 319.5f - 64, 1e-3);
  EXPECT_NEAR(MaxX, 319.5f + 64, 1e-3);
  EXPECT_EQ(E.Polys[1].Flags, CV_DRIVER_POLY_BLEND | CV_DRIVER_POLY_NOZWRITE);
  cvWorld_RenderCounters Counters;
  cvWorld_GetRenderCounters(World, &Counters);
  EXPECT_EQ(Counters.UserPolysVisited, 2);
  EXPECT_EQ(Counters.UserPolysDrawn, 2);
  ASSERT_TRUE(cvWorld_Render(&E.Engine, World, C));
  EXPECT_EQ(E.Polys.size(), 2u);
  cvCamera_Destroy(C);
}

TEST_F(WorldTest, PolygonsBehindTheCameraAreClippedAway) {
  RecordingEngine E;
  cvCamera* C = MakeCamera(0, 0, 0);
  // Half in front, half behind: clipped at the near plane, never projected from behind.
  cvWorld_PolyVertex V[3] = {{0, 0, 5, 0, 0, 9, 9, 9, 255}, {-1, 0, -5, 0, 0, 9, 9, 9, 255},
                             {1, 0, -5, 0, 0, 9, 9, 9, 255}};
  ASSERT_TRUE(cvWorld_AddPolyOnce(World, V, 3, nullptr, CV_WORLD_POLY_GOURAUD, 0, 1));
  V[0].Z = 6, V[1].Z = 7, V[2].Z = 8;  // wholly behind
  ASSERT_TRUE(cvWorld_AddPolyOnce(World, V, 3, nullptr, CV_WORLD_POLY_GOURAUD, 0, 1));
  ASSERT_TRUE(cvWorld_Render(&E.Engine, World, C));
  ASSERT_EQ(E.Polys.size(), 1u);
  for (const cvDriver_Vertex& P : E.Polys[0].Vertices) EXPECT_GT(P.Z, 0.0f);
  cvCamera_Destroy(C);
}

struct RenderActors : WorldTest {
  void Add(uint32_t Flags, float Z) {
    Actors.push_back(MakeActor());
    ASSERT_TRUE(cvWorld_AddActor(World, Actors.back().Actor, Flags, 1));
    cvXForm3d Root;
    cvXForm3d_SetTranslation(&Root, 0, 0, Z);
    ASSERT_TRUE(cvActor_ClearPose(Actors.back().Actor, &Root));
  }
  void TearDown() override {
    cvWorld_Free(World);
    World = nullptr;
    for (TestActor& A : Actors) Release(A);
  }
  std::vector<TestActor> Actors;
};

TEST_F(RenderActors, FlagsAndTheLevelDecideWhichActorsAreDrawn) {
  Add(CV_WORLD_ACTOR_RENDER_NORMAL, 0);      // drawn
  Add(CV_WORLD_ACTOR_RENDER_MIRRORS, 0);     // mirrors only: never in the main view
  Add(CV_WORLD_ACTOR_RENDER_NORMAL, -5000);  // in view but outside the level: no visible leaf
  Add(CV_WORLD_ACTOR_RENDER_ALWAYS, -5000);  // drawn without the visibility test
  RecordingEngine E;
  cvCamera* C = MakeCamera(0, 0, 10);
  ASSERT_TRUE(cvWorld_Render(&E.Engine, World, C));
  EXPECT_EQ(E.Engine.Stats[CV_ENGINE_STAT_ACTORS], 2);
  EXPECT_EQ(E.BeginWorlds, 1);
  EXPECT_EQ(E.EndWorlds, 1);
  EXPECT_EQ(cvWorld_GetRenderCount(World), 1);
  cvCamera_Destroy(C);
}

TEST_F(RenderActors, DriverWorldBracketsReportTheirCodes) {
  Add(CV_WORLD_ACTOR_RENDER_NORMAL, 0);
  RecordingEngine E;
  cvCamera* C = MakeCamera(0, 0, 10);
  E.FailBeginWorld = true;
  EXPECT_FALSE(cvWorld_Render(&E.Engine, World, C));
  EXPECT_LOGGED(26);
  E.FailBeginWorld = false;
  E.FailEndWorld = true;
  EXPECT_FALSE(cvWorld_Render(&E.Engine, World, C));
  EXPECT_LOGGED(27);
  cvCamera_Destroy(C);
}

}  // namespace
