// logotool: writes the start-up logo as a C++ source file holding its actor
// file and its Windows bitmaps as byte arrays, which the build compiles into
// the program. The actor is built through the engine's body, bitmap, path and
// motion operations, exactly as the sample actor is, so the bytes are the
// engine's own file formats; they are the same on every run.
//
//   logotool OUT.cpp [DIR]   DIR, when given, also receives logo.act and the
//                            bitmaps as files, for looking at them
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Actor/cvactor.h"
#include "Bitmap/cvbitmap.h"
#include "Math/cvmath.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"
#include "logomodel.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Owning pointers that give the object back through its cv*_Destroy.
template <class T, auto Destroy>
struct Destroyer {
  void operator()(T* Object) const { Destroy(&Object); }
};
using DefPtr = std::unique_ptr<cvActorDef, Destroyer<cvActorDef, cvActorDef_Destroy>>;
using BodyPtr = std::unique_ptr<cvBody, Destroyer<cvBody, cvBody_Destroy>>;
using BitmapPtr = std::unique_ptr<cvBitmap, Destroyer<cvBitmap, cvBitmap_Destroy>>;
using MotionPtr = std::unique_ptr<cvMotion, Destroyer<cvMotion, cvMotion_Destroy>>;
using PathPtr = std::unique_ptr<cvPath, Destroyer<cvPath, cvPath_Destroy>>;

cvVec3d V(sample::Vec3 A) { return {A.X, A.Y, A.Z}; }

BitmapPtr MakeBitmap(const sample::Texture& T) {
  BitmapPtr Bitmap(cvBitmap_Create(T.Width, T.Height, 4, CV_PIXELFORMAT_24BIT_RGB));
  uint8_t* Pixels = Bitmap ? cvBitmap_AllocateMip(Bitmap.get(), 0) : nullptr;
  if (!Pixels || Bitmap->System.Stride != T.Width) return nullptr;
  std::memcpy(Pixels, T.Rgb.data(), T.Rgb.size());
  cvBitmap_SetMipValid(Bitmap.get(), 0, 1);
  return Bitmap;
}

// Bones rest without rotation, so a corner's bone-space position is its
// model position less the bone's joint.
BodyPtr MakeBody(const sample::Model& M) {
  BodyPtr Body(cvBody_Create());
  if (!Body) return nullptr;
  for (const sample::Bone& B : M.Bones) {
    cvXForm3d Attachment;
    cvXForm3d_SetTranslation(&Attachment, B.Offset.X, B.Offset.Y, B.Offset.Z);
    if (!cvBody_AddBone(Body.get(), B.Parent, B.Name.c_str(), &Attachment, nullptr)) return nullptr;
  }
  for (const sample::Material& Mat : M.Materials) {
    BitmapPtr Bitmap;
    if (Mat.Texture >= 0 && !(Bitmap = MakeBitmap(M.Textures[Mat.Texture]))) return nullptr;
    if (!cvBody_AddMaterial(Body.get(), Mat.Name.c_str(), Bitmap.get(), Mat.Red, Mat.Green, Mat.Blue, nullptr))
      return nullptr;
  }
  cvVec3d Min{1e30f, 1e30f, 1e30f}, Max{-1e30f, -1e30f, -1e30f};
  for (const sample::Triangle& T : M.Triangles) {
    cvVec3d P[3], N[3];
    for (int C = 0; C < 3; ++C) {
      P[C] = V(sample::Sub(T.C[C].Position, M.Bones[T.C[C].Bone].Joint));
      N[C] = V(T.C[C].Normal);
      const sample::Vec3 W = T.C[C].Position;
      Min = {std::min(Min.X, W.X), std::min(Min.Y, W.Y), std::min(Min.Z, W.Z)};
      Max = {std::max(Max.X, W.X), std::max(Max.Y, W.Y), std::max(Max.Z, W.Z)};
    }
    if (!cvBody_AddFace(Body.get(), &P[0], &N[0], T.C[0].U, T.C[0].V, T.C[0].Bone, &P[1], &N[1], T.C[1].U,
                        T.C[1].V, T.C[1].Bone, &P[2], &N[2], T.C[2].U, T.C[2].V, T.C[2].Bone, T.Material))
      return nullptr;
  }
  if (!cvBody_SetBoundingBox(Body.get(), -1, &Min, &Max) || !cvBody_SetLevelsOfDetail(Body.get())) return nullptr;
  return Body;
}

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
    if (!cvMotion_AddPath(Motion.get(), Path.get(), Bones[B].Name.c_str(), nullptr)) return nullptr;
  }
  return Motion;
}

// The actor file's bytes; empty on failure.
Bytes ActorFile() {
  const sample::Model M = logo::BuildModel();
  DefPtr Def(cvActorDef_Create());
  BodyPtr Body = MakeBody(M);
  if (!Def || !Body || !cvActorDef_SetBody(Def.get(), Body.get())) return {};
  Body.release();
  for (const sample::Motion& Src : M.Motions) {
    MotionPtr Motion = MakeMotion(Src, M.Bones);
    int32_t Number = 0;
    if (!Motion || !cvActorDef_AddMotion(Def.get(), Motion.get(), &Number)) return {};
    Motion.release();
  }
  cvVFile_MemoryContext Context{nullptr, 0};
  cvVFile* File = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_MEMORY, nullptr, &Context, CV_VFILE_OPEN_CREATE);
  if (!File) return {};
  Bytes Out;
  if (cvActorDef_WriteToFile(Def.get(), File) && cvVFile_UpdateContext(File, &Context, sizeof Context) &&
      Context.Data) {
    const uint8_t* P = static_cast<const uint8_t*>(Context.Data);
    Out.assign(P, P + Context.Length);
  }
  cvVFile_Close(File);
  return Out;
}

void Put16(Bytes& B, uint32_t V) { B.insert(B.end(), {(uint8_t)V, (uint8_t)(V >> 8)}); }
void Put32(Bytes& B, uint32_t V) { Put16(B, V & 0xFFFF), Put16(B, V >> 16); }

// An uncompressed 8-bit Windows bitmap, bottom row first.
Bytes Bmp(const logo::Indexed& Image) {
  const uint32_t Row = (uint32_t)(Image.Width + 3) & ~3u;
  const uint32_t Offset = 14 + 40 + 256 * 4, Size = Offset + Row * (uint32_t)Image.Height;
  Bytes B{'B', 'M'};
  Put32(B, Size), Put32(B, 0), Put32(B, Offset);
  Put32(B, 40), Put32(B, (uint32_t)Image.Width), Put32(B, (uint32_t)Image.Height), Put16(B, 1), Put16(B, 8);
  Put32(B, 0), Put32(B, Row * (uint32_t)Image.Height), Put32(B, 2835), Put32(B, 2835), Put32(B, 256), Put32(B, 0);
  for (int I = 0; I < 256; ++I)
    B.insert(B.end(), {Image.PaletteRgb[I * 3 + 2], Image.PaletteRgb[I * 3 + 1], Image.PaletteRgb[I * 3], 0});
  for (int Y = Image.Height - 1; Y >= 0; --Y) {
    const uint8_t* P = &Image.Pixels[(size_t)Y * Image.Width];
    B.insert(B.end(), P, P + Image.Width);
    B.resize(B.size() + (Row - Image.Width), 0);
  }
  return B;
}

Bytes Bmp(const logo::Grey& Image) {
  logo::Indexed I{Image.Width, Image.Height, Image.Pixels, {}};
  for (int V = 0; V < 256; ++V) I.PaletteRgb.insert(I.PaletteRgb.end(), {(uint8_t)V, (uint8_t)V, (uint8_t)V});
  return Bmp(I);
}

void PutArray(std::string& Out, const char* Name, const Bytes& B) {
  Out += "const uint8_t " + std::string(Name) + "[" + std::to_string(B.size()) + "] = {";
  char Hex[8];
  for (size_t I = 0; I < B.size(); ++I) {
    if (I % 20 == 0) Out += "\n   ";
    std::snprintf(Hex, sizeof Hex, " %u,", B[I]);
    Out += Hex;
  }
  Out += "\n};\n";
}

bool WriteFile(const std::string& Path, const void* Data, size_t Size) {
  FILE* F = std::fopen(Path.c_str(), "wb");
  if (!F) return false;
  const bool Ok = std::fwrite(Data, 1, Size, F) == Size;
  return std::fclose(F) == 0 && Ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "Usage: logotool OUT.cpp [DIR]\n");
    return 2;
  }
  const Bytes Actor = ActorFile();
  if (Actor.empty()) {
    std::fprintf(stderr, "logotool: could not build the logo actor (%d error-log entries)\n", cvErrorLog_Count());
    return 1;
  }
  const logo::Glows G = logo::BuildGlows();
  const Bytes Images[5] = {Bmp(G.GlowColour), Bmp(G.GlowAlpha), Bmp(G.StarColour), Bmp(G.StarAlpha), Bmp(G.Halo)};
  static const char* Names[5] = {"kGlow", "kGlowAlpha", "kStar", "kStarAlpha", "kHalo"};

  std::string Source =
      "// Generated by logotool at build time: the start-up logo's actor file and\n"
      "// its Windows bitmaps. Do not edit; change tools/logotool instead.\n"
      "#include \"Engine/cvengcore.h\"\n\nnamespace {\n\n";
  PutArray(Source, "kActor", Actor);
  for (int I = 0; I < 5; ++I) PutArray(Source, Names[I], Images[I]);
  Source +=
      "\n}  // namespace\n\n"
      "int cvLogo_GetBuiltInData(cvLogo_Data* Data) {\n"
      "  if (!Data) return 0;\n"
      "  *Data = cvLogo_Data{{kActor, sizeof kActor},\n"
      "                      {{kGlow, sizeof kGlow}, {kStar, sizeof kStar}, {kHalo, sizeof kHalo}},\n"
      "                      {{kGlowAlpha, sizeof kGlowAlpha}, {kStarAlpha, sizeof kStarAlpha}, {kHalo, sizeof kHalo}}};\n"
      "  return 1;\n"
      "}\n";
  if (!WriteFile(argv[1], Source.data(), Source.size())) {
    std::fprintf(stderr, "logotool: cannot write \"%s\"\n", argv[1]);
    return 1;
  }
  if (argc == 3) {
    const std::string Dir = argv[2];
    static const char* Files[5] = {"glow.bmp", "glow_alpha.bmp", "star.bmp", "star_alpha.bmp", "halo.bmp"};
    bool Ok = WriteFile(Dir + "/logo.act", Actor.data(), Actor.size());
    for (int I = 0; I < 5; ++I) Ok = WriteFile(Dir + "/" + Files[I], Images[I].data(), Images[I].size()) && Ok;
    if (!Ok) {
      std::fprintf(stderr, "logotool: cannot write the files into \"%s\"\n", argv[2]);
      return 1;
    }
  }
  return 0;
}
