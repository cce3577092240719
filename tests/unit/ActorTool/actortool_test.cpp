// The actortool program and the sample actor the build makes: the file reads
// back through the engine with everything the model put in, poses the way the
// model says, comes out byte for byte the same on every run, and the "info"
// command describes good files and refuses bad ones with the engine's reason;
// "template" writes what the UV template library draws.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Actor/cvactor.h"
#include "Bitmap/cvbitmap.h"
#include "VFile/cvvfile.h"
#include "imagefile/imagefile.h"
#include "sample/samplemodel.h"
#include "skintemplate.h"
#include "testsupport.h"

namespace {

using cvtest::BinDir;
std::string SamplePath() { return BinDir() + "/sample.act"; }

struct Result {
  int Status = -1;
  std::string Out, Err;
};

// Runs the built actortool with Args (already quoted as needed).
Result Tool(const std::string& Args) {
  cvtest::TempDir Dir;
  const std::string Out = Dir.File("out.txt"), Err = Dir.File("err.txt");
  const std::string Cmd = "\"" + BinDir() + "/actortool\" " + Args + " >\"" + Out + "\" 2>\"" + Err + "\"";
  const int Rc = std::system(Cmd.c_str());
  Result R;
  R.Status = WIFEXITED(Rc) ? WEXITSTATUS(Rc) : -1;
  R.Out = cvtest::ReadFileText(Out);
  R.Err = cvtest::ReadFileText(Err);
  return R;
}

cvActorDef* ReadActor(const std::string& Path) {
  cvVFile* F = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, Path.c_str(), nullptr, CV_VFILE_OPEN_READONLY);
  if (!F) return nullptr;
  cvActorDef* Def = cvActorDef_CreateFromFile(F);
  cvVFile_Close(F);
  return Def;
}

class SampleActor : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Model = new sample::Model(sample::BuildModel());
    Def = ReadActor(SamplePath());
  }
  static void TearDownTestSuite() {
    if (Def) cvActorDef_Destroy(&Def);
    delete Model;
  }
  static sample::Model* Model;
  static cvActorDef* Def;
};
sample::Model* SampleActor::Model = nullptr;
cvActorDef* SampleActor::Def = nullptr;

}  // namespace

TEST_F(SampleActor, ReadsBackWithTheModelsBonesMaterialsAndMotions) {
  ASSERT_NE(Def, nullptr) << "cannot read " << SamplePath();
  const cvBody* Body = cvActorDef_GetBody(Def);
  ASSERT_TRUE(cvBody_IsValid(Body));
  ASSERT_EQ(cvBody_GetBoneCount(Body), (int32_t)Model->Bones.size());
  for (int32_t I = 0; I < cvBody_GetBoneCount(Body); ++I) {
    const char* Name = nullptr;
    int32_t Parent = -2;
    cvXForm3d A;
    ASSERT_TRUE(cvBody_GetBone(Body, I, &Name, &A, &Parent));
    EXPECT_STREQ(Name, Model->Bones[I].Name.c_str());
    EXPECT_EQ(Parent, Model->Bones[I].Parent);
    EXPECT_FLOAT_EQ(A.T.Y, Model->Bones[I].Offset.Y);
  }
  int32_t Vertices = 0, Faces = 0, Normals = 0;
  cvBody_GetGeometryStats(Body, 0, &Vertices, &Faces, &Normals);
  EXPECT_EQ(Faces, (int32_t)Model->Triangles.size());
  EXPECT_GT(Vertices, Faces / 3);
  EXPECT_LT(Vertices, Faces * 3);
  // Vertices are stored in bone space: moved back into model space by their
  // bone's rest joint they lie inside the figure's box.
  for (int32_t I = 0; I < Body->VertexCount; ++I) {
    const cvBodyVertex& V = Body->Vertices[I];
    ASSERT_GE(V.BoneIndex, 0);
    ASSERT_LT(V.BoneIndex, (int)Model->Bones.size());
    const float Y = V.Position.Y + Model->Bones[V.BoneIndex].Joint.Y;
    EXPECT_TRUE(Y > -0.5f && Y < 75.0f) << "vertex " << I;
  }

  ASSERT_EQ(cvBody_GetMaterialCount(Body), (int32_t)Model->Materials.size());
  for (int32_t I = 0; I < cvBody_GetMaterialCount(Body); ++I) {
    const sample::Material& Want = Model->Materials[I];
    const char* Name = nullptr;
    cvBitmap* Bitmap = nullptr;
    float R = 0, G = 0, B = 0;
    cvBody_GetMaterial(Body, I, &Name, &Bitmap, &R, &G, &B);
    EXPECT_STREQ(Name, Want.Name.c_str());
    EXPECT_FLOAT_EQ(R, Want.Red);
    EXPECT_FLOAT_EQ(B, Want.Blue);
    if (Want.Texture < 0) {
      EXPECT_EQ(Bitmap, nullptr) << Name;
      continue;
    }
    ASSERT_NE(Bitmap, nullptr) << Name;
    // The painted pixels survive the trip through the bitmap file.
    const sample::Texture& T = Model->Textures[Want.Texture];
    cvBitmap* Lock = nullptr;
    ASSERT_TRUE(cvBitmap_LockForRead(Bitmap, &Lock, 0, 0, CV_PIXELFORMAT_24BIT_RGB, 0, 0));
    cvBitmap_Info Info;
    ASSERT_TRUE(cvBitmap_GetInfo(Lock, &Info, nullptr));
    ASSERT_EQ(Info.Width, T.Width);
    ASSERT_EQ(Info.Height, T.Height);
    const uint8_t* Bits = static_cast<const uint8_t*>(cvBitmap_GetBits(Lock));
    ASSERT_NE(Bits, nullptr);
    int Different = 0;
    for (int Y = 0; Y < T.Height; ++Y)
      Different += std::memcmp(Bits + (size_t)Y * Info.Stride * 3, &T.Rgb[(size_t)Y * T.Width * 3], (size_t)T.Width * 3) != 0;
    EXPECT_EQ(Different, 0) << Name << " rows differ";
    cvBitmap_UnLock_NoChange(Lock);
  }

  ASSERT_EQ(cvActorDef_GetMotionCount(Def), (int32_t)Model->Motions.size());
  for (const auto& [Name, Length] : {std::pair<const char*, float>{"idle", 4.0f}, {"walk", 1.0f}}) {
    const cvMotion* M = cvActorDef_GetMotionByName(Def, Name);
    ASSERT_NE(M, nullptr) << Name;
    EXPECT_EQ(cvMotion_GetPathCount(M), cvBody_GetBoneCount(Body));
    EXPECT_EQ(cvMotion_GetNameChecksum(M), cvBody_GetBoneNameChecksum(Body)) << Name;
    float Start = -1, End = -1;
    ASSERT_TRUE(cvMotion_GetTimeExtents(M, &Start, &End));
    EXPECT_FLOAT_EQ(Start, 0.0f);
    EXPECT_FLOAT_EQ(End, Length);
  }
}

TEST_F(SampleActor, PosesLikeTheModelWhileWalking) {
  ASSERT_NE(Def, nullptr);
  cvActor* Actor = cvActor_Create(Def);
  ASSERT_NE(Actor, nullptr);
  const cvMotion* Walk = cvActorDef_GetMotionByName(Def, "walk");
  ASSERT_NE(Walk, nullptr);
  ASSERT_TRUE(cvPose_MatchesMotion(Actor->Pose, Walk));
  const sample::Motion& Src = Model->Motions[1];
  ASSERT_EQ(Src.Name, "walk");
  // At a key time the engine's pose must put every joint where the model's
  // own forward kinematics puts it.
  for (size_t K : {size_t(2), size_t(4), size_t(11)}) {
    const float Time = Src.Tracks[0][K].Time;
    ASSERT_TRUE(cvPose_SetMotion(Actor->Pose, Walk, Time, nullptr));
    std::vector<sample::Quat> R(Model->Bones.size());
    std::vector<sample::Vec3> P(Model->Bones.size());
    for (size_t B = 0; B < Model->Bones.size(); ++B) {
      const int Parent = Model->Bones[B].Parent;
      const sample::Vec3 Off = sample::Add(Model->Bones[B].Offset, Src.Tracks[B][K].Translation);
      R[B] = Parent < 0 ? Src.Tracks[B][K].Rotation : sample::Multiply(R[Parent], Src.Tracks[B][K].Rotation);
      P[B] = Parent < 0 ? Off : sample::Add(P[Parent], sample::Rotate(R[Parent], Off));
      cvXForm3d World;
      ASSERT_TRUE(cvPose_GetJointTransform(Actor->Pose, (int32_t)B, &World));
      EXPECT_NEAR(World.T.X, P[B].X, 0.02f) << Model->Bones[B].Name << " key " << K;
      EXPECT_NEAR(World.T.Y, P[B].Y, 0.02f) << Model->Bones[B].Name << " key " << K;
      EXPECT_NEAR(World.T.Z, P[B].Z, 0.02f) << Model->Bones[B].Name << " key " << K;
    }
  }
  cvActor_Destroy(&Actor);
}

TEST(ActorTool, SampleIsTheSameOnEveryRun) {
  cvtest::TempDir Dir;
  const std::string A = Dir.File("a.act"), B = Dir.File("b.act");
  ASSERT_EQ(Tool("sample \"" + A + "\"").Status, 0);
  ASSERT_EQ(Tool("sample \"" + B + "\"").Status, 0);
  const auto BytesA = cvtest::ReadFileBytes(A);
  EXPECT_GT(BytesA.size(), 10000u);
  EXPECT_TRUE(BytesA == cvtest::ReadFileBytes(B));
  EXPECT_TRUE(BytesA == cvtest::ReadFileBytes(SamplePath())) << "the build's sample differs";
  // Without a file name, or with one that cannot be created, it fails.
  EXPECT_EQ(Tool("sample").Status, 2);
  const Result Bad = Tool("sample \"" + Dir.File("no/such/dir/x.act") + "\"");
  EXPECT_EQ(Bad.Status, 1);
  EXPECT_NE(Bad.Err.find("cannot create"), std::string::npos) << Bad.Err;
}

TEST(ActorTool, InfoDescribesTheSampleActorAndItsBody) {
  const Result R = Tool("info \"" + SamplePath() + "\"");
  ASSERT_EQ(R.Status, 0) << R.Err;
  for (const char* Want : {"actor file", "level 0:", "Bones: 19", "Hips", "parent 0 Hips",
                           "RightFoot", "Materials: 5", "Face", "bitmap 256 x 256, 24bit RGB",
                           "Skin", "no bitmap", "Motions: 2", "idle", "0.000 to 4.000 s",
                           "walk", "19 paths", "match the bones"})
    EXPECT_NE(R.Out.find(Want), std::string::npos) << "missing \"" << Want << "\" in\n" << R.Out;

  // The body alone, written as a body file, is described as one.
  cvActorDef* Def = ReadActor(SamplePath());
  ASSERT_NE(Def, nullptr);
  cvtest::TempDir Dir;
  const std::string Bdy = Dir.File("figure.bdy");
  cvVFile* F = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, Bdy.c_str(), nullptr, CV_VFILE_OPEN_CREATE);
  ASSERT_NE(F, nullptr);
  EXPECT_TRUE(cvBody_WriteToFile(cvActorDef_GetBody(Def), F));
  EXPECT_TRUE(cvVFile_Close(F));
  cvActorDef_Destroy(&Def);
  const Result B = Tool("info \"" + Bdy + "\"");
  ASSERT_EQ(B.Status, 0) << B.Err;
  EXPECT_NE(B.Out.find("body file"), std::string::npos) << B.Out;
  EXPECT_NE(B.Out.find("Materials: 5"), std::string::npos) << B.Out;
  EXPECT_EQ(B.Out.find("Motions"), std::string::npos) << B.Out;
}

TEST(ActorTool, InfoRefusesFilesItCannotRead) {
  cvtest::TempDir Dir;
  const Result Missing = Tool("info \"" + Dir.File("missing.act") + "\"");
  EXPECT_EQ(Missing.Status, 1);
  EXPECT_NE(Missing.Err.find("cannot open"), std::string::npos) << Missing.Err;

  // Garbage, and the sample cut short: a message, the engine's log entries
  // and a failure status, never a crash.
  cvtest::WriteFileBytes(Dir.File("junk.act"), std::vector<uint8_t>(300, 0x5A));
  auto Bytes = cvtest::ReadFileBytes(SamplePath());
  ASSERT_GT(Bytes.size(), 1000u);
  cvtest::WriteFileBytes(Dir.File("short.act"), std::vector<uint8_t>(Bytes.begin(), Bytes.begin() + Bytes.size() / 2));
  for (const char* Name : {"junk.act", "short.act"}) {
    const Result R = Tool(std::string("info \"") + Dir.File(Name) + "\"");
    EXPECT_EQ(R.Status, 1) << Name;
    EXPECT_NE(R.Err.find("is not a readable actor file"), std::string::npos) << R.Err;
    EXPECT_NE(R.Err.find("Engine error log:"), std::string::npos) << R.Err;
    EXPECT_NE(R.Err.find("error "), std::string::npos) << R.Err;
    EXPECT_TRUE(R.Out.empty()) << R.Out;
  }
  // A body whose geometry tag is wrong: the body reader's own entry comes
  // first, with what it means, then the actor reader's.
  auto Tagged = cvtest::ReadFileBytes(SamplePath());
  const uint8_t Tag[] = {'B', 'O', 'D', '^'};
  auto At = std::search(Tagged.begin(), Tagged.end(), std::begin(Tag), std::end(Tag));
  ASSERT_NE(At, Tagged.end());
  *At = 'X';
  cvtest::WriteFileBytes(Dir.File("tag.act"), Tagged);
  const Result BadTag = Tool("info \"" + Dir.File("tag.act") + "\"");
  EXPECT_EQ(BadTag.Status, 1);
  const size_t E97 = BadTag.Err.find("error 97 (the body geometry does not start with \"BOD^\")");
  EXPECT_NE(E97, std::string::npos) << BadTag.Err;
  EXPECT_GT(BadTag.Err.find("error 114"), E97) << BadTag.Err;

  cvtest::WriteFileBytes(Dir.File("junk.bdy"), std::vector<uint8_t>(300, 0x5A));
  const Result Body = Tool("info \"" + Dir.File("junk.bdy") + "\"");
  EXPECT_EQ(Body.Status, 1);
  EXPECT_NE(Body.Err.find("is not a readable body file"), std::string::npos) << Body.Err;
}

TEST(ActorTool, TemplateWritesTheMaterialsTemplate) {
  cvtest::TempDir Dir;
  // Named in another case, enlarged, the line colour chosen.
  const Result R = Tool("template \"" + SamplePath() + "\" face \"" + Dir.File("t.png") +
                        "\" --size 300x200 --color 10ff20");
  ASSERT_EQ(R.Status, 0) << R.Err;
  cvActorDef* Def = ReadActor(SamplePath());
  ASSERT_NE(Def, nullptr);
  SkinTemplateOptions Options;
  Options.Width = 300, Options.Height = 200;
  Options.LineColorGiven = true;
  Options.LineRed = 0x10, Options.LineGreen = 0xFF, Options.LineBlue = 0x20;
  cvBitmap* Want = MakeSkinTemplate(cvActorDef_GetBody(Def), 0, Options, nullptr);
  cvActorDef_Destroy(&Def);
  cvBitmap* Got = cvImageFile_Read(Dir.File("t.png").c_str(), nullptr);
  ASSERT_TRUE(Want && Got);
  cvBitmap *WantLock = nullptr, *GotLock = nullptr;
  ASSERT_TRUE(cvBitmap_LockForRead(Want, &WantLock, 0, 0, CV_PIXELFORMAT_32BIT_XRGB, 0, 0));
  ASSERT_TRUE(cvBitmap_LockForRead(Got, &GotLock, 0, 0, CV_PIXELFORMAT_32BIT_XRGB, 0, 0));
  const auto* W = static_cast<const uint32_t*>(cvBitmap_GetBits(WantLock));
  const auto* G = static_cast<const uint32_t*>(cvBitmap_GetBits(GotLock));
  int Lines = 0;
  for (int I = 0; I < 300 * 200; ++I) {
    ASSERT_EQ(G[I] & 0xFFFFFF, W[I] & 0xFFFFFF) << I;
    Lines += (G[I] & 0xFFFFFF) == 0x10FF20;
  }
  EXPECT_GT(Lines, 1000);
  cvBitmap_UnLock(WantLock);
  cvBitmap_UnLock(GotLock);
  cvBitmap_Destroy(&Want);
  cvBitmap_Destroy(&Got);

  const Result Unknown = Tool("template \"" + SamplePath() + "\" Hat \"" + Dir.File("h.png") + "\"");
  EXPECT_EQ(Unknown.Status, 1);
  EXPECT_NE(Unknown.Err.find("no material \"Hat\"; its materials:\n  0 Face\n"), std::string::npos)
      << Unknown.Err;
  cvtest::WriteFileBytes(Dir.File("junk.act"), std::vector<uint8_t>(300, 0x5A));
  EXPECT_EQ(Tool("template \"" + Dir.File("junk.act") + "\" 0 \"" + Dir.File("j.png") + "\"").Status, 1);
  for (const char* Bad : {"Face o.png --size 0x10", "Face o.png --size 9000x10",
                          "Face o.png --color red", "Face", "Face o.bmp"})
    EXPECT_EQ(Tool("template \"" + SamplePath() + "\" " + Bad).Status, 2) << Bad;
}

TEST(ActorTool, HelpForTheToolAndEachCommand) {
  const Result Top = Tool("--help");
  EXPECT_EQ(Top.Status, 0);
  for (const char* Cmd : {"sample", "info", "help"})
    EXPECT_NE(Top.Out.find(Cmd), std::string::npos) << Top.Out;
  for (const char* Cmd : {"sample", "info", "template"}) {
    const std::string Usage = std::string("Usage: actortool ") + Cmd;
    const Result A = Tool(std::string("help ") + Cmd), B = Tool(std::string(Cmd) + " --help");
    EXPECT_EQ(A.Status, 0);
    EXPECT_EQ(B.Status, 0);
    EXPECT_NE(A.Out.find(Usage), std::string::npos) << A.Out;
    EXPECT_EQ(A.Out, B.Out);
  }
  const Result None = Tool("");
  EXPECT_EQ(None.Status, 2);
  EXPECT_NE(None.Err.find("Usage: actortool"), std::string::npos);
  const Result Unknown = Tool("frobnicate");
  EXPECT_EQ(Unknown.Status, 2);
  EXPECT_NE(Unknown.Err.find("unknown command \"frobnicate\""), std::string::npos) << Unknown.Err;
  EXPECT_EQ(Tool("help frobnicate").Status, 2);
}
