// "sample": builds the bundled sample actor (sample/ holds the generated
// model) through the engine's body, bitmap, path and motion operations and
// writes it as an actor file. The result is the same bytes on every run: the
// model uses no clock and no unseeded randomness.
#include <cstdio>
#include <cstring>
#include <memory>

#include "Actor/cvactor.h"
#include "Bitmap/cvbitmap.h"
#include "Math/cvmath.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"
#include "actortool.h"
#include "sample/samplemodel.h"

namespace {

struct DefDeleter {
  void operator()(cvActorDef* D) const { cvActorDef_Destroy(&D); }
};
using DefPtr = std::unique_ptr<cvActorDef, DefDeleter>;

struct BodyDeleter {
  void operator()(cvBody* B) const { cvBody_Destroy(&B); }
};
using BodyPtr = std::unique_ptr<cvBody, BodyDeleter>;

struct BitmapDeleter {
  void operator()(cvBitmap* B) const { cvBitmap_Destroy(&B); }
};
using BitmapPtr = std::unique_ptr<cvBitmap, BitmapDeleter>;

struct MotionDeleter {
  void operator()(cvMotion* M) const { cvMotion_Destroy(&M); }
};
using MotionPtr = std::unique_ptr<cvMotion, MotionDeleter>;

struct PathDeleter {
  void operator()(cvPath* P) const { cvPath_Destroy(&P); }
};
using PathPtr = std::unique_ptr<cvPath, PathDeleter>;

cvVec3d V(sample::Vec3 A) { return {A.X, A.Y, A.Z}; }

// A 24-bit RGB engine bitmap holding the texture's pixels.
BitmapPtr MakeBitmap(const sample::Texture& T) {
  BitmapPtr Bitmap(cvBitmap_Create(T.Width, T.Height, 4, CV_PIXELFORMAT_24BIT_RGB));
  if (!Bitmap) return nullptr;
  cvBitmap* Lock = nullptr;
  if (!cvBitmap_LockForWrite(Bitmap.get(), &Lock, 0, 0)) return nullptr;
  cvBitmap_Info Info;
  uint8_t* Bits = static_cast<uint8_t*>(cvBitmap_GetBits(Lock));
  if (!Bits || !cvBitmap_GetInfo(Lock, &Info, nullptr) || Info.Width != T.Width ||
      Info.Height != T.Height) {
    cvBitmap_UnLock_NoChange(Lock);
    return nullptr;
  }
  for (int Y = 0; Y < T.Height; ++Y)
    std::memcpy(Bits + (size_t)Y * Info.Stride * 3, &T.Rgb[(size_t)Y * T.Width * 3], (size_t)T.Width * 3);
  if (!cvBitmap_UnLock(Lock)) return nullptr;
  return Bitmap;
}

BodyPtr MakeBody(const sample::Model& M) {
  BodyPtr Body(cvBody_Create());
  if (!Body) return nullptr;
  for (const sample::Bone& B : M.Bones) {
    cvXForm3d Attachment;
    cvXForm3d_SetIdentity(&Attachment);
    Attachment.T = V(B.Offset);
    int32_t Index = 0;
    if (!cvBody_AddBone(Body.get(), B.Parent, B.Name.c_str(), &Attachment, &Index)) return nullptr;
  }
  for (const sample::Material& Mat : M.Materials) {
    BitmapPtr Bitmap;
    if (Mat.Texture >= 0 && !(Bitmap = MakeBitmap(M.Textures[Mat.Texture]))) return nullptr;
    int32_t Index = 0;
    // The body takes its own reference; ours goes with Bitmap.
    if (!cvBody_AddMaterial(Body.get(), Mat.Name.c_str(), Bitmap.get(), Mat.Red, Mat.Green,
                            Mat.Blue, &Index))
      return nullptr;
  }
  // Vertices and normals are stored in their bone's space. Every bone of the
  // figure rests without rotation, so that is the model position less the
  // bone's rest joint position.
  cvVec3d Min{1e30f, 1e30f, 1e30f}, Max{-1e30f, -1e30f, -1e30f};
  for (const sample::Triangle& T : M.Triangles) {
    cvVec3d P[3], N[3];
    for (int C = 0; C < 3; ++C) {
      const sample::Corner& Co = T.C[C];
      P[C] = V(sample::Sub(Co.Position, M.Bones[Co.Bone].Joint));
      N[C] = V(Co.Normal);
      Min = {std::min(Min.X, Co.Position.X), std::min(Min.Y, Co.Position.Y), std::min(Min.Z, Co.Position.Z)};
      Max = {std::max(Max.X, Co.Position.X), std::max(Max.Y, Co.Position.Y), std::max(Max.Z, Co.Position.Z)};
    }
    if (!cvBody_AddFace(Body.get(), &P[0], &N[0], T.C[0].U, T.C[0].V, T.C[0].Bone, &P[1], &N[1],
                        T.C[1].U, T.C[1].V, T.C[1].Bone, &P[2], &N[2], T.C[2].U, T.C[2].V,
                        T.C[2].Bone, T.Material))
      return nullptr;
  }
  if (!cvBody_SetBoundingBox(Body.get(), -1, &Min, &Max) || !cvBody_SetLevelsOfDetail(Body.get()))
    return nullptr;
  return Body;
}

// A leaf motion with one looping path per bone, named like the bone, so that
// its name checksum matches the body's bone names.
MotionPtr MakeMotion(const sample::Motion& Src, const std::vector<sample::Bone>& Bones) {
  MotionPtr Motion(cvMotion_Create(1));
  if (!Motion || !cvMotion_SetName(Motion.get(), Src.Name.c_str())) return nullptr;
  for (size_t B = 0; B < Bones.size(); ++B) {
    PathPtr Path(cvPath_Create(CV_PATH_INTERPOLATE_LINEAR, CV_PATH_INTERPOLATE_SLERP, Src.Looped ? 1 : 0));
    if (!Path) return nullptr;
    for (const sample::Key& K : Src.Tracks[B]) {
      const cvQuaternion Q{K.Rotation.W, K.Rotation.X, K.Rotation.Y, K.Rotation.Z};
      cvXForm3d X;
      cvQuaternion_ToMatrix(&Q, &X);
      X.T = V(K.Translation);
      if (!cvPath_InsertKeyframe(Path.get(), CV_PATH_ALL_CHANNELS, K.Time, &X)) return nullptr;
    }
    int32_t Index = 0;
    // The motion takes its own reference on the path.
    if (!cvMotion_AddPath(Motion.get(), Path.get(), Bones[B].Name.c_str(), &Index)) return nullptr;
  }
  return Motion;
}

}  // namespace

// Builds the sample actor definition; null (with error-log entries) on failure.
cvActorDef* actortool_make_sample_def() {
  const sample::Model M = sample::BuildModel();
  DefPtr Def(cvActorDef_Create());
  if (!Def) return nullptr;
  BodyPtr Body = MakeBody(M);
  if (!Body || !cvActorDef_SetBody(Def.get(), Body.get())) return nullptr;
  Body.release();  // the definition owns it now
  for (const sample::Motion& Src : M.Motions) {
    MotionPtr Motion = MakeMotion(Src, M.Bones);
    int32_t Number = 0;
    if (!Motion || !cvActorDef_AddMotion(Def.get(), Motion.get(), &Number)) return nullptr;
    Motion.release();  // owned by the definition
  }
  return Def.release();
}

void actortool_sample_help() {
  std::printf(
      "Usage: actortool sample OUT.act\n"
      "\n"
      "Writes the bundled sample actor to OUT.act: a figure in shirt, jeans and shoes\n"
      "(about 6,500 triangles) on a skeleton of 19 bones, with the materials Face,\n"
      "Shirt, Trousers and Shoes (painted textures) and Skin (colour only), and the\n"
      "looping motions \"idle\" (4 s) and \"walk\" (1 s). The file is the same on every run.\n");
}

int actortool_sample(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "actortool sample: expected one output file name\n\n");
    actortool_sample_help();
    return 2;
  }
  const char* Out = argv[1];
  cvErrorLog_Clear();
  DefPtr Def(actortool_make_sample_def());
  if (!Def) {
    std::fprintf(stderr, "actortool sample: could not build the sample actor\n");
    actortool_print_error_log(stderr);
    return 1;
  }
  cvVFile* File = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, Out, nullptr, CV_VFILE_OPEN_CREATE);
  if (!File) {
    std::fprintf(stderr, "actortool sample: cannot create \"%s\"\n", Out);
    return 1;
  }
  const int Written = cvActorDef_WriteToFile(Def.get(), File);
  const int Closed = cvVFile_Close(File);
  if (!Written || !Closed) {
    std::fprintf(stderr, "actortool sample: writing \"%s\" failed\n", Out);
    actortool_print_error_log(stderr);
    std::remove(Out);
    return 1;
  }
  return 0;
}
