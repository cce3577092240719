#include "worldtest.h"

#include <gtest/gtest.h>

namespace worldtest {

namespace {

RecordingEngine* gCurrent = nullptr;

int RecordGouraud(const cvDriver_Vertex* V, int32_t Count, uint32_t Flags) {
  gCurrent->Polys.push_back({std::vector<cvDriver_Vertex>(V, V + Count), nullptr, Flags});
  return 1;
}
int RecordTextured(const cvDriver_Vertex* V, int32_t Count, void* Texture, uint32_t Flags) {
  gCurrent->Polys.push_back({std::vector<cvDriver_Vertex>(V, V + Count), Texture, Flags});
  return 1;
}
int BeginWorld() {
  gCurrent->BeginWorlds++;
  return gCurrent->FailBeginWorld ? 0 : 1;
}
int EndWorld() {
  gCurrent->EndWorlds++;
  return gCurrent->FailEndWorld ? 0 : 1;
}

void AddTriangle(cvBody* B, float Z, float Y0, int32_t Bone) {
  const cvVec3d N = {0, 0, 1};
  const cvVec3d P0 = {-1, Y0 - 1, Z}, P1 = {1, Y0 - 1, Z}, P2 = {0, Y0 + 1, Z};
  ASSERT_TRUE(cvBody_AddFace(B, &P0, &N, 0, 1, Bone, &P1, &N, 1, 1, Bone, &P2, &N, 0.5f, 0, Bone, 0));
}

}  // namespace

cvBody* MakeBody(cvBitmap* Bitmap) {
  cvBody* B = cvBody_Create();
  cvXForm3d I, Up;
  cvXForm3d_SetIdentity(&I);
  cvXForm3d_SetTranslation(&Up, 0, 1, 0);
  int32_t Root, Arm, Mat;
  EXPECT_TRUE(cvBody_AddBone(B, -1, "root", &I, &Root));
  EXPECT_TRUE(cvBody_AddBone(B, Root, "arm", &Up, &Arm));
  EXPECT_TRUE(cvBody_AddMaterial(B, "skin", Bitmap, 255, 128, 64, &Mat));
  AddTriangle(B, 0, 0, Root);
  AddTriangle(B, 0, 0, Arm);
  const cvVec3d Min = {-1, -1, 0}, Max = {1, 2, 0};
  EXPECT_TRUE(cvBody_SetBoundingBox(B, -1, &Min, &Max));
  return B;
}

TestActor MakeActor(cvBitmap* Bitmap) {
  TestActor A;
  A.Def = cvActorDef_Create();
  EXPECT_TRUE(cvActorDef_SetBody(A.Def, MakeBody(Bitmap)));
  A.Actor = cvActor_Create(A.Def);
  EXPECT_NE(A.Actor, nullptr);
  return A;
}

void Release(TestActor& A) {
  if (A.Actor) cvActor_Destroy(&A.Actor);
  if (A.Def) cvActorDef_Destroy(&A.Def);
}

cvBitmap* MakeBitmap() {
  cvBitmap* B = cvBitmap_Create(4, 4, 1, CV_PIXELFORMAT_32BIT_XRGB);
  EXPECT_NE(B, nullptr);
  EXPECT_NE(cvBitmap_AllocateMip(B, 0), nullptr);
  return B;
}

RecordingEngine::RecordingEngine() {
  gCurrent = this;
  Table.VersionMajor = CV_DRIVER_VERSION_MAJOR;
  Table.VersionMinor = CV_DRIVER_VERSION_MINOR;
  Table.RenderGouraudPoly = RecordGouraud;
  Table.RenderTexturedPoly = RecordTextured;
  Table.BeginWorld = BeginWorld;
  Table.EndWorld = EndWorld;
  Engine.Driver = &Table;
  Engine.DriverLoaded = 1;
}

RecordingEngine::~RecordingEngine() { gCurrent = nullptr; }

cvCamera* MakeCamera(float X, float Y, float Z) {
  const cvRect R = {0, 639, 0, 479};
  cvCamera* C = cvCamera_Create(&R, 2.0f);
  cvXForm3d M;
  cvXForm3d_SetTranslation(&M, X, Y, Z);
  cvCamera_SetWorldSpaceXForm(C, &M);
  return C;
}

}  // namespace worldtest
