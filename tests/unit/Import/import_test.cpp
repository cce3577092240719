// Model import: models the tests write themselves (a skinned glTF with two
// bones, an embedded texture and one animation; an OBJ with two materials and
// a material library whose names differ in case from the files) become actor
// definitions with the right bones, vertex assignments, texture pixels, keys
// and placement, and render through the software driver as the textured
// figure; hostile models are refused with a message, exit status 1 and no
// output file.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Actor/cvactor.h"
#include "Bitmap/cvbitmap.h"
#include "Math/cvmath.h"
#include "VFile/cvvfile.h"
#include "imagefile/imagefile.h"
#include "import/modelimport.h"
#include "testsupport.h"

namespace {

using cvtest::BinDir;

void WriteText(const std::string& Path, const std::string& Text) {
  cvtest::WriteFileBytes(Path, std::vector<uint8_t>(Text.begin(), Text.end()));
}

// A 2 x 2 24-bit BMP: top row red, green; bottom row blue, white.
std::vector<uint8_t> QuadrantBmp() {
  std::vector<uint8_t> B = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  // file header
                            40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 16, 0, 0, 0};
  B.resize(54, 0);
  // Rows bottom-up, pixels B, G, R, each row padded to 4 bytes.
  const uint8_t Rows[] = {255, 0, 0, 255, 255, 255, 0, 0,  // blue, white
                          0, 0, 255, 0, 255, 0, 0, 0};     // red, green
  B.insert(B.end(), Rows, Rows + sizeof Rows);
  return B;
}

std::string Base64(const std::vector<uint8_t>& In) {
  static const char* T = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string Out;
  for (size_t I = 0; I < In.size(); I += 3) {
    const uint32_t N = (uint32_t)In[I] << 16 | (I + 1 < In.size() ? In[I + 1] << 8 : 0) |
                       (I + 2 < In.size() ? In[I + 2] : 0);
    Out += T[N >> 18 & 63];
    Out += T[N >> 12 & 63];
    Out += I + 1 < In.size() ? T[N >> 6 & 63] : '=';
    Out += I + 2 < In.size() ? T[N & 63] : '=';
  }
  return Out;
}

// A glTF buffer built accessor by accessor.
struct Buffer {
  std::vector<uint8_t> Bytes;
  std::string Views, Accessors;
  int Count = 0;

  // Adds Values as an accessor of Type ("SCALAR", "VEC3", ...) and returns its index.
  template <class T>
  int Add(const std::vector<T>& Values, int ComponentType, const char* Type, int Elements,
          const std::string& Extra = "") {
    while (Bytes.size() % 4) Bytes.push_back(0);
    const size_t Offset = Bytes.size();
    const uint8_t* P = reinterpret_cast<const uint8_t*>(Values.data());
    Bytes.insert(Bytes.end(), P, P + Values.size() * sizeof(T));
    const std::string Sep = Count ? "," : "";
    Views += Sep + "{\"buffer\":0,\"byteOffset\":" + std::to_string(Offset) +
             ",\"byteLength\":" + std::to_string(Values.size() * sizeof(T)) + "}";
    Accessors += Sep + "{\"bufferView\":" + std::to_string(Count) + ",\"componentType\":" +
                 std::to_string(ComponentType) + ",\"count\":" + std::to_string(Elements) + ",\"type\":\"" +
                 Type + "\"" + Extra + "}";
    return Count++;
  }
};

// A two-bone strip 1 wide and 2 high facing +Z (glTF's front): "Root" at the
// origin, "Upper" one unit up. The bottom row of vertices belongs to Root,
// the middle row mostly (0.6) to Upper, the top row to Upper. The texture
// (embedded as a data URI) maps its top onto the top of the strip. One
// animation "wave": Upper turns 90 degrees about Z at 1 s and back at 2 s,
// Root moves one unit forward (+Z) over the 2 s.
std::string SkinnedGltf(float MiddleWeight = 0.6f, float Coordinate = 0.5f) {
  Buffer B;
  const std::vector<float> Pos = {-Coordinate, 0, 0, 0.5f, 0, 0, -0.5f, 1, 0, 0.5f, 1, 0, -0.5f, 2, 0, 0.5f, 2, 0};
  const std::vector<float> Nrm = {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1};
  const std::vector<float> Uv = {0, 1, 1, 1, 0, 0.5f, 1, 0.5f, 0, 0, 1, 0};
  const std::vector<uint8_t> Joints = {0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
  // A negative MiddleWeight leaves the middle row without any weight.
  const float M = std::max(MiddleWeight, 0.0f), L = MiddleWeight < 0 ? 0 : 1 - M;
  const std::vector<float> Weights = {1, 0, 0, 0, 1, 0, 0, 0, L, M, 0, 0, L, M, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
  const std::vector<uint16_t> Index = {0, 1, 3, 0, 3, 2, 2, 3, 5, 2, 5, 4};
  const std::vector<float> Ibm = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1,
                                  1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -1, 0, 1};
  const float S = std::sqrt(0.5f);
  const std::vector<float> RotTimes = {0, 1, 2}, Rot = {0, 0, 0, 1, 0, 0, S, S, 0, 0, 0, 1};
  const std::vector<float> MoveTimes = {0, 2}, Move = {0, 0, 0, 0, 0, 1};
  const int P = B.Add(Pos, 5126, "VEC3", 6, ",\"min\":[-0.5,0,0],\"max\":[0.5,2,0]");
  const int N = B.Add(Nrm, 5126, "VEC3", 6), T = B.Add(Uv, 5126, "VEC2", 6);
  const int J = B.Add(Joints, 5121, "VEC4", 6), W = B.Add(Weights, 5126, "VEC4", 6);
  const int I = B.Add(Index, 5123, "SCALAR", 12), Inv = B.Add(Ibm, 5126, "MAT4", 2);
  const int Rt = B.Add(RotTimes, 5126, "SCALAR", 3, ",\"min\":[0],\"max\":[2]"), Rv = B.Add(Rot, 5126, "VEC4", 3);
  const int Mt = B.Add(MoveTimes, 5126, "SCALAR", 2, ",\"min\":[0],\"max\":[2]"), Mv = B.Add(Move, 5126, "VEC3", 2);
  auto S_ = [](int V) { return std::to_string(V); };
  return "{\"asset\":{\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"nodes\":[0,2]}],"
         "\"nodes\":[{\"name\":\"Root\",\"children\":[1]},{\"name\":\"Upper\",\"translation\":[0,1,0]},"
         "{\"name\":\"Strip\",\"mesh\":0,\"skin\":0}],"
         "\"skins\":[{\"joints\":[0,1],\"inverseBindMatrices\":" + S_(Inv) + "}],"
         "\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":" + S_(P) + ",\"NORMAL\":" + S_(N) +
         ",\"TEXCOORD_0\":" + S_(T) + ",\"JOINTS_0\":" + S_(J) + ",\"WEIGHTS_0\":" + S_(W) + "},\"indices\":" +
         S_(I) + ",\"material\":0}]}],"
         "\"materials\":[{\"name\":\"Skin\",\"pbrMetallicRoughness\":{\"baseColorTexture\":{\"index\":0}}}],"
         "\"textures\":[{\"source\":0}],"
         "\"images\":[{\"uri\":\"data:image/bmp;base64," + Base64(QuadrantBmp()) + "\"}],"
         "\"animations\":[{\"name\":\"wave\",\"samplers\":[{\"input\":" + S_(Rt) + ",\"output\":" + S_(Rv) +
         "},{\"input\":" + S_(Mt) + ",\"output\":" + S_(Mv) + "}],\"channels\":["
         "{\"sampler\":0,\"target\":{\"node\":1,\"path\":\"rotation\"}},"
         "{\"sampler\":1,\"target\":{\"node\":0,\"path\":\"translation\"}}]}],"
         "\"buffers\":[{\"byteLength\":" + S_((int)B.Bytes.size()) +
         ",\"uri\":\"data:application/octet-stream;base64," + Base64(B.Bytes) + "\"}],"
         "\"bufferViews\":[" + B.Views + "],\"accessors\":[" + B.Accessors + "]}";
}

// A box 1 x 2 x 1 standing on Y = 0: front and back in material "Painted"
// (texture "Skin.PNG", on disk as "skin.png"), the rest in "Plain" (a colour
// and a texture that does not exist). The library is named "Box.MTL" in the
// OBJ and "box.mtl" on disk.
// With ZUp the same box is written lying along Z, as Z-up tools keep it.
void WriteBoxObj(const cvtest::TempDir& Dir, bool ZUp = false) {
  WriteText(Dir.File("box.mtl"),
            "newmtl Painted\nKd 1 1 1\nmap_Kd Skin.PNG\n"
            "newmtl Plain\nKd 0.5 0.25 1\nmap_Kd nothere.bmp\n");
  const std::vector<uint8_t> Bmp = QuadrantBmp();
  cvBitmap* Quadrants = cvImageFile_ReadData(Bmp.data(), Bmp.size(), nullptr);
  std::vector<uint8_t> Png;
  ASSERT_TRUE(Quadrants && cvImageFile_Encode(Quadrants, CV_IMAGEFILE_PNG, &Png, nullptr));
  cvBitmap_Destroy(&Quadrants);
  cvtest::WriteFileBytes(Dir.File("skin.png"), Png);
  static const float Box[8][3] = {{-0.5f, 0, 0.5f},  {0.5f, 0, 0.5f},  {0.5f, 2, 0.5f},  {-0.5f, 2, 0.5f},
                                  {-0.5f, 0, -0.5f}, {0.5f, 0, -0.5f}, {0.5f, 2, -0.5f}, {-0.5f, 2, -0.5f}};
  std::string Corners;
  for (const float* C : Box) {
    char Line[64];
    std::snprintf(Line, sizeof Line, "v %g %g %g\n", C[0], ZUp ? -C[2] : C[1], ZUp ? C[1] : C[2]);
    Corners += Line;
  }
  WriteText(Dir.File("box.obj"),
            "mtllib Box.MTL\no Box\n" + Corners +
            "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
            "usemtl Painted\nf 1/1 2/2 3/3 4/4\nf 6/1 5/2 8/3 7/4\n"
            "usemtl Plain\nf 2 6 7 3\nf 5 1 4 8\nf 4 3 7 8\nf 5 6 2 1\n");
}

cvActorDef* Import(const std::string& Path, std::string* Error = nullptr, ImportReport* Report = nullptr,
                   const ImportOptions& Options = {}) {
  cvActorDef* Def = nullptr;
  std::string E;
  EXPECT_TRUE(ImportModel(Path.c_str(), Options, &Def, Error ? Error : &E, Report)) << (Error ? *Error : E);
  return Def;
}

// The colour of one texel of a material's bitmap.
std::vector<int> Texel(cvBitmap* Bitmap, int X, int Y) {
  cvBitmap* Lock = nullptr;
  cvBitmap_Info Info;
  if (!cvBitmap_LockForRead(Bitmap, &Lock, 0, 0, CV_PIXELFORMAT_24BIT_RGB, 0, 0)) return {};
  const uint8_t* Bits = static_cast<const uint8_t*>(cvBitmap_GetBits(Lock));
  std::vector<int> Rgb;
  if (Bits && cvBitmap_GetInfo(Lock, &Info, nullptr)) {
    const uint8_t* P = Bits + ((size_t)Y * Info.Stride + X) * 3;
    Rgb = {P[0], P[1], P[2]};
  }
  cvBitmap_UnLock_NoChange(Lock);
  return Rgb;
}

cvVec3d Apply(const cvXForm3d& X, const cvVec3d& P) {
  cvVec3d Out;
  cvXForm3d_Transform(&X, &P, &Out);
  return Out;
}

void ExpectNear(const cvVec3d& A, float X, float Y, float Z, const char* What) {
  EXPECT_NEAR(A.X, X, 0.05f) << What;
  EXPECT_NEAR(A.Y, Y, 0.05f) << What;
  EXPECT_NEAR(A.Z, Z, 0.05f) << What;
}

int Tool(const std::string& Args, std::string* Err = nullptr) {
  cvtest::TempDir Dir;
  const std::string ErrFile = Dir.File("err.txt");
  const int Rc = std::system(("\"" + BinDir() + "/actortool\" " + Args + " >/dev/null 2>\"" + ErrFile + "\"").c_str());
  if (Err) *Err = cvtest::ReadFileText(ErrFile);
  return WIFEXITED(Rc) ? WEXITSTATUS(Rc) : -1;
}

}  // namespace

TEST(Import, SkinnedGltfBecomesBonesVerticesTextureAndMotion) {
  cvtest::TempDir Dir;
  const std::string Model = Dir.File("strip.gltf");
  WriteText(Model, SkinnedGltf());
  ImportReport Report;
  cvActorDef* Def = Import(Model, nullptr, &Report);
  ASSERT_NE(Def, nullptr);
  EXPECT_TRUE(Report.Warnings.empty());
  EXPECT_EQ(Report.Up, 'y');
  EXPECT_NEAR(Report.Scale, kImportFitHeight / 2, 1e-3f);  // 2 units high, fitted to the sample's height

  const cvBody* Body = cvActorDef_GetBody(Def);
  ASSERT_EQ(cvBody_GetBoneCount(Body), 2);  // the mesh's own node is no bone
  const char* Name = nullptr;
  cvXForm3d Att;
  int32_t Parent = 0;
  cvBody_GetBone(Body, 0, &Name, &Att, &Parent);
  EXPECT_STREQ(Name, "Root");
  EXPECT_EQ(Parent, -1);
  cvBody_GetBone(Body, 1, &Name, &Att, &Parent);
  EXPECT_STREQ(Name, "Upper");
  EXPECT_EQ(Parent, 0);
  ExpectNear(Att.T, 0, 36, 0, "Upper rests 36 units above Root");

  // Every vertex with the bone of its largest weight: two on Root, four
  // (the middle row weighs 0.6 towards it) on Upper.
  int32_t Vertices = 0, Faces = 0, Normals = 0;
  cvBody_GetGeometryStats(Body, 0, &Vertices, &Faces, &Normals);
  EXPECT_EQ(Vertices, 6);
  EXPECT_EQ(Faces, 4);
  cvVec3d Min, Max;
  ASSERT_TRUE(cvBody_GetBoundingBox(Body, 0, &Min, &Max));
  ExpectNear(Min, -18, 0, 0, "Root's vertices");
  ExpectNear(Max, 18, 0, 0, "Root's vertices");
  ASSERT_TRUE(cvBody_GetBoundingBox(Body, 1, &Min, &Max));
  ExpectNear(Min, -18, 0, 0, "Upper's vertices, from its joint");
  ExpectNear(Max, 18, 36, 0, "Upper's vertices, from its joint");

  // The embedded texture with its texels where the image has them.
  cvBitmap* Bitmap = nullptr;
  float R, G, B;
  ASSERT_EQ(cvBody_GetMaterialCount(Body), 1);
  cvBody_GetMaterial(Body, 0, &Name, &Bitmap, &R, &G, &B);
  EXPECT_STREQ(Name, "Skin");
  EXPECT_EQ(R, 255.0f);
  ASSERT_NE(Bitmap, nullptr);
  EXPECT_EQ(Texel(Bitmap, 0, 0), (std::vector<int>{255, 0, 0}));
  EXPECT_EQ(Texel(Bitmap, 1, 0), (std::vector<int>{0, 255, 0}));
  EXPECT_EQ(Texel(Bitmap, 0, 1), (std::vector<int>{0, 0, 255}));
  EXPECT_EQ(Texel(Bitmap, 1, 1), (std::vector<int>{255, 255, 255}));

  // The animation: keys at 0, 1 and 2 s for Upper; posed at 1 s the top
  // corner at the model's (0.5, 2, 0) swings about the joint at (0, 1, 0) to
  // (-1, 1.5, 0) and Root has carried it half a unit forward, which the
  // engine sees turned to face -Z and scaled by 36. The motion loops, so
  // Root's move is checked before the end, where it would wrap.
  ASSERT_EQ(cvActorDef_GetMotionCount(Def), 1);
  const cvMotion* Motion = cvActorDef_GetMotionByName(Def, "wave");
  ASSERT_NE(Motion, nullptr);
  cvPath* Upper = cvMotion_GetPath(Motion, 1);
  ASSERT_EQ(cvPath_GetKeyframeCount(Upper, CV_PATH_ROTATION_CHANNEL), 3);
  for (int K = 0; K < 3; ++K) {
    float Time = -1;
    cvXForm3d Key;
    cvPath_GetKeyframe(Upper, K, CV_PATH_ROTATION_CHANNEL, &Time, &Key);
    EXPECT_NEAR(Time, (float)K, 1e-5f);
  }
  cvActor* Actor = cvActor_Create(Def);
  ASSERT_NE(Actor, nullptr);
  cvXForm3d World;
  ASSERT_TRUE(cvActor_SetPose(Actor, Motion, 1.0f, nullptr));
  ASSERT_TRUE(cvActor_GetBoneTransform(Actor, "Upper", &World));
  ExpectNear(Apply(World, {18, 36, 0}), 36, 54, -18, "the top corner at 1 s");
  ExpectNear(World.T, 0, 36, -18, "Upper's joint, carried half way forward by Root");
  ASSERT_TRUE(cvActor_SetPose(Actor, Motion, 1.5f, nullptr));
  ASSERT_TRUE(cvActor_GetBoneTransform(Actor, "Root", &World));
  ExpectNear(World.T, 0, 0, -27, "Root three quarters of a unit towards the front at 1.5 s");
  cvActor_Destroy(&Actor);
  cvActorDef_Destroy(&Def);

  // Resampled at 4 key frames a second: 9 evenly spaced keys over the 2 s.
  Def = Import(Model, nullptr, nullptr, ImportOptions{.Fps = 4});
  ASSERT_NE(Def, nullptr);
  Upper = cvMotion_GetPath(cvActorDef_GetMotionByIndex(Def, 0), 1);
  ASSERT_EQ(cvPath_GetKeyframeCount(Upper, CV_PATH_TRANSLATION_CHANNEL), 9);
  float Time = -1;
  cvXForm3d Key;
  cvPath_GetKeyframe(Upper, 8, CV_PATH_TRANSLATION_CHANNEL, &Time, &Key);
  EXPECT_NEAR(Time, 2.0f, 1e-5f);
  cvPath_GetKeyframe(Upper, 3, CV_PATH_TRANSLATION_CHANNEL, &Time, &Key);
  EXPECT_NEAR(Time, 0.75f, 1e-5f);
  cvActorDef_Destroy(&Def);
}

TEST(Import, ObjWithTwoMaterialsFindsFilesInAnyCase) {
  cvtest::TempDir Dir;
  ASSERT_NO_FATAL_FAILURE(WriteBoxObj(Dir));
  ImportReport Report;
  cvActorDef* Def = Import(Dir.File("box.obj"), nullptr, &Report, ImportOptions{.Scale = 10.0f});
  ASSERT_NE(Def, nullptr);
  const cvBody* Body = cvActorDef_GetBody(Def);
  EXPECT_EQ(cvBody_GetBoneCount(Body), 1);
  int32_t Vertices = 0, Faces = 0, Normals = 0;
  cvBody_GetGeometryStats(Body, 0, &Vertices, &Faces, &Normals);
  EXPECT_EQ(Faces, 12);
  cvVec3d Min, Max;
  cvBody_GetBoundingBox(Body, -1, &Min, &Max);
  ExpectNear(Min, -5, 0, -5, "the box at scale 10, standing on the ground");
  ExpectNear(Max, 5, 20, 5, "the box at scale 10");

  ASSERT_EQ(cvBody_GetMaterialCount(Body), 2);
  const char* Name = nullptr;
  cvBitmap* Bitmap = nullptr;
  float R, G, B;
  cvBody_GetMaterial(Body, 0, &Name, &Bitmap, &R, &G, &B);
  EXPECT_STREQ(Name, "Painted");
  ASSERT_NE(Bitmap, nullptr) << "Skin.PNG is skin.png on disk";
  EXPECT_EQ(Texel(Bitmap, 1, 0), (std::vector<int>{0, 255, 0}));
  cvBody_GetMaterial(Body, 1, &Name, &Bitmap, &R, &G, &B);
  EXPECT_STREQ(Name, "Plain");
  EXPECT_EQ(Bitmap, nullptr);
  EXPECT_NEAR(R, 127.5f, 0.01f);
  EXPECT_NEAR(G, 63.75f, 0.01f);
  EXPECT_NEAR(B, 255.0f, 0.01f);
  ASSERT_EQ(Report.Warnings.size(), 1u);
  EXPECT_NE(Report.Warnings[0].find("nothere.bmp"), std::string::npos) << Report.Warnings[0];
  EXPECT_EQ(cvActorDef_GetMotionCount(Def), 0);
  cvActorDef_Destroy(&Def);

  // Lying along Z, it is found to be Z-up and stands the same way.
  ASSERT_NO_FATAL_FAILURE(WriteBoxObj(Dir, true));
  Def = Import(Dir.File("box.obj"), nullptr, &Report, ImportOptions{.Scale = 10.0f});
  ASSERT_NE(Def, nullptr);
  EXPECT_EQ(Report.Up, 'z');
  cvBody_GetBoundingBox(cvActorDef_GetBody(Def), -1, &Min, &Max);
  ExpectNear(Min, -5, 0, -5, "the Z-up box at scale 10");
  ExpectNear(Max, 5, 20, 5, "the Z-up box at scale 10");
  cvActorDef_Destroy(&Def);
}

// The imported strip drawn from the front shows its texture as painted:
// red and green above, blue and white below, the figure's right (red and
// blue, the texture's left) on the viewer's left.
TEST(Import, ImportedFigureRendersTextured) {
  cvtest::TempDir Dir;
  WriteText(Dir.File("strip.gltf"), SkinnedGltf());
  const std::string Act = Dir.File("strip.act"), Png = Dir.File("strip.png");
  ASSERT_EQ(Tool("import \"" + Dir.File("strip.gltf") + "\" \"" + Act + "\""), 0);
  ASSERT_EQ(Tool("render \"" + Act + "\" \"" + Png + "\" --size 96x96"), 0);
  cvBitmap* Image = cvImageFile_Read(Png.c_str(), nullptr);
  ASSERT_NE(Image, nullptr);
  // Pixels a little inside each quarter of the figure: it fills about 90% of
  // the height, half as much of the width, around the middle.
  const int W = 96, H = 96;
  auto At = [&](float Fx, float Fy) {
    return Texel(Image, (int)(W / 2 + Fx * H * 0.225f), (int)(H / 2 + Fy * H * 0.45f));
  };
  auto Dominant = [](const std::vector<int>& P) {
    return P[0] > P[1] + 40 && P[0] > P[2] + 40 ? 'r'
           : P[1] > P[0] + 40 && P[1] > P[2] + 40 ? 'g'
           : P[2] > P[0] + 40 && P[2] > P[1] + 40 ? 'b'
           : std::min({P[0], P[1], P[2]}) > 100  ? 'w'
                                                  : '?';
  };
  EXPECT_EQ(Dominant(At(-0.5f, -0.5f)), 'r') << "upper left";
  EXPECT_EQ(Dominant(At(0.5f, -0.5f)), 'g') << "upper right";
  EXPECT_EQ(Dominant(At(-0.5f, 0.5f)), 'b') << "lower left";
  EXPECT_EQ(Dominant(At(0.5f, 0.5f)), 'w') << "lower right";
  cvBitmap_Destroy(&Image);
}

TEST(Import, HostileModelsAreRefusedAndLeaveNoFile) {
  cvtest::TempDir Dir;
  struct Case {
    const char* File;
    std::string Text;
    const char* Says;
  };
  const Case Cases[] = {
      {"junk.gltf", std::string("\x01\x02\x03 not a model"), "cannot be read"},
      {"points.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\n", "no mesh"},
      {"nan.obj", "v nan 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", "not a finite number"},
      {"inf.gltf", SkinnedGltf(0.6f, INFINITY), "finite"},
      {"unweighted.gltf", SkinnedGltf(-1), "no bone weight above zero"},
      {"big.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\n" + [] {
         std::string Faces;
         for (int I = 0; I < 32768; ++I) Faces += "f 1 2 3\n";
         return Faces;
       }(), "more than 32767 triangles"},
  };
  for (const Case& C : Cases) {
    const std::string Model = Dir.File(C.File), Out = Dir.File("out.act");
    WriteText(Model, C.Text);
    WriteText(Out, "older file");
    std::string Err;
    EXPECT_EQ(Tool("import \"" + Model + "\" \"" + Out + "\"", &Err), 1) << C.File;
    EXPECT_NE(Err.find(C.Says), std::string::npos) << C.File << ": " << Err;
    EXPECT_EQ(cvtest::ReadFileText(Out), "older file") << C.File;
  }
  EXPECT_EQ(Tool("import \"" + Dir.File("missing.gltf") + "\" \"" + Dir.File("o.act") + "\""), 1);
  EXPECT_EQ(Tool("import a.obj b.act --up x"), 2);
  EXPECT_EQ(Tool("import a.obj"), 2);
}
