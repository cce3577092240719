// Model import: reads a model through the Open Asset Import Library and
// builds a body, its bones, materials and motions through the engine's own
// operations (see modelimport.h for what a model becomes).
//
// Transforms. The engine's bones hold rigid transforms (rotation and
// translation), while model nodes may also scale. Every bone's rest world
// transform is therefore computed in full (model node chain, then the
// correction that turns, scales and places the whole figure) and stripped of
// its scale; vertices are stored relative to that rigid transform, so the
// rest pose is exact. Animated bones are handled the same way at every key
// time: the key is the bone's rigid world transform relative to its parent
// bone's and to its own rest attachment. Scale keys thus show through the
// positions of the joints below, not as stretched limbs.
#include "import/modelimport.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <assimp/DefaultIOSystem.h>
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Actor/cvactor.h"
#include "Anim/cvanim.h"
#include "Bitmap/cvbitmap.h"
#include "Math/cvmath.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"
#include "imagefile/imagefile.h"

namespace {

// --- Engine records held while the definition is built ---------------------

struct DefDeleter {
  void operator()(cvActorDef* D) const { cvActorDef_Destroy(&D); }
};
struct BodyDeleter {
  void operator()(cvBody* B) const { cvBody_Destroy(&B); }
};
struct BitmapDeleter {
  void operator()(cvBitmap* B) const { cvBitmap_Destroy(&B); }
};
struct MotionDeleter {
  void operator()(cvMotion* M) const { cvMotion_Destroy(&M); }
};
struct PathDeleter {
  void operator()(cvPath* P) const { cvPath_Destroy(&P); }
};
using DefPtr = std::unique_ptr<cvActorDef, DefDeleter>;
using BodyPtr = std::unique_ptr<cvBody, BodyDeleter>;
using BitmapPtr = std::unique_ptr<cvBitmap, BitmapDeleter>;
using MotionPtr = std::unique_ptr<cvMotion, MotionDeleter>;
using PathPtr = std::unique_ptr<cvPath, PathDeleter>;

// Largest texture file read (bytes).
constexpr long kMaxTextureFileBytes = 64L << 20;
// Ticks per second of animations whose file gives no rate.
constexpr double kDefaultTicksPerSecond = 25.0;
// Most key times one animation may have (each bone gets a key at each).
constexpr size_t kMaxKeyTimes = 100000;

// An error with a message; thrown inside the importer and turned into the
// false result at its edge, so that every check can stop the import at once.
struct ImportError {
  std::string Message;
};

[[noreturn]] void Refuse(const std::string& Message) { throw ImportError{Message}; }

std::string Format(const char* Fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* Fmt, ...) {
  char Buffer[1024];
  va_list Args;
  va_start(Args, Fmt);
  std::vsnprintf(Buffer, sizeof Buffer, Fmt, Args);
  va_end(Args);
  return Buffer;
}

// --- Paths on disk, found without regard to case ---------------------------

bool IsFile(const std::string& Path) {
  struct stat St;
  return ::stat(Path.c_str(), &St) == 0 && S_ISREG(St.st_mode);
}

bool IsDir(const std::string& Path) {
  struct stat St;
  return ::stat(Path.c_str(), &St) == 0 && S_ISDIR(St.st_mode);
}

// The entry of Dir whose name equals Name without regard to case; empty when
// there is none.
std::string FindInDir(const std::string& Dir, const std::string& Name) {
  DIR* D = ::opendir(Dir.empty() ? "." : Dir.c_str());
  if (!D) return {};
  std::string Found;
  while (const dirent* E = ::readdir(D)) {
    if (::strcasecmp(E->d_name, Name.c_str()) == 0) {
      Found = E->d_name;
      if (Found == Name) break;  // an exact match wins over others
    }
  }
  ::closedir(D);
  return Found;
}

// Path with backslashes taken as separators, each component matched without
// regard to case where the exact name does not exist. Empty when no file
// matches.
std::string ResolveFile(std::string Path) {
  std::replace(Path.begin(), Path.end(), '\\', '/');
  if (Path.empty()) return {};
  if (IsFile(Path)) return Path;
  std::string Done = Path[0] == '/' ? "/" : "";
  size_t Pos = Path[0] == '/' ? 1 : 0;
  while (Pos <= Path.size()) {
    size_t End = Path.find('/', Pos);
    if (End == std::string::npos) End = Path.size();
    const std::string Part = Path.substr(Pos, End - Pos);
    Pos = End + 1;
    if (Part.empty() || Part == ".") continue;
    const std::string Dir = Done.empty() ? "." : Done;
    std::string Next = Done + Part;
    if (!(Part == ".." ? IsDir(Next) : (IsFile(Next) || IsDir(Next)))) {
      const std::string Match = Part == ".." ? std::string() : FindInDir(Dir, Part);
      if (Match.empty()) return {};
      Next = Done + Match;
    }
    Done = End == Path.size() ? Next : Next + "/";
  }
  return IsFile(Done) ? Done : std::string();
}

std::string DirectoryOf(const std::string& Path) {
  const size_t Slash = Path.find_last_of('/');
  return Slash == std::string::npos ? std::string() : Path.substr(0, Slash + 1);
}

// The library's file access, with names found without regard to case: a
// model's material library, buffers and other side files often differ in
// case from the names the model gives for them.
class CaseInsensitiveIO : public Assimp::DefaultIOSystem {
 public:
  bool Exists(const char* File) const override {
    return DefaultIOSystem::Exists(File) || !ResolveFile(File).empty();
  }
  Assimp::IOStream* Open(const char* File, const char* Mode) override {
    if (Assimp::IOStream* S = DefaultIOSystem::Open(File, Mode)) return S;
    if (std::strchr(Mode, 'w')) return nullptr;
    const std::string Found = ResolveFile(File);
    return Found.empty() ? nullptr : DefaultIOSystem::Open(Found.c_str(), Mode);
  }
};

bool ReadWholeFile(const std::string& Path, std::vector<uint8_t>* Bytes, std::string* Why) {
  FILE* F = std::fopen(Path.c_str(), "rb");
  if (!F) {
    *Why = "cannot be opened";
    return false;
  }
  std::fseek(F, 0, SEEK_END);
  const long Size = std::ftell(F);
  std::fseek(F, 0, SEEK_SET);
  if (Size < 0 || Size > kMaxTextureFileBytes) {
    std::fclose(F);
    *Why = "is too large";
    return false;
  }
  Bytes->resize((size_t)Size);
  const bool Ok = std::fread(Bytes->data(), 1, Bytes->size(), F) == Bytes->size();
  std::fclose(F);
  if (!Ok) *Why = "cannot be read";
  return Ok;
}

// --- Textures ---------------------------------------------------------------

// An engine bitmap from the bytes of an image file in any format the image
// files module reads, with the mip levels bodies ask for. Null with the
// reason in *Why.
BitmapPtr BitmapFromBytes(const std::vector<uint8_t>& Bytes, std::string* Why) {
  BitmapPtr Bitmap(cvImageFile_ReadData(Bytes.data(), Bytes.size(), Why));
  if (Bitmap) cvBitmap_SetMipCount(Bitmap.get(), 4);
  return Bitmap;
}

// An engine bitmap from an embedded texture held as uncompressed texels.
BitmapPtr BitmapFromTexels(const aiTexture& T) {
  if (T.mWidth == 0 || T.mHeight == 0 || T.mWidth > 65535 || T.mHeight > 65535 || !T.pcData) return nullptr;
  BitmapPtr Bitmap(cvBitmap_Create((int32_t)T.mWidth, (int32_t)T.mHeight, 4, CV_PIXELFORMAT_24BIT_RGB));
  if (!Bitmap) return nullptr;
  cvBitmap* Lock = nullptr;
  if (!cvBitmap_LockForWrite(Bitmap.get(), &Lock, 0, 0)) return nullptr;
  cvBitmap_Info Info;
  uint8_t* Bits = static_cast<uint8_t*>(cvBitmap_GetBits(Lock));
  if (!Bits || !cvBitmap_GetInfo(Lock, &Info, nullptr) || Info.Width != (int32_t)T.mWidth) {
    cvBitmap_UnLock_NoChange(Lock);
    return nullptr;
  }
  for (uint32_t Y = 0; Y < T.mHeight; ++Y)
    for (uint32_t X = 0; X < T.mWidth; ++X) {
      const aiTexel& P = T.pcData[(size_t)Y * T.mWidth + X];
      uint8_t* D = Bits + ((size_t)Y * Info.Stride + X) * 3;
      D[0] = P.r, D[1] = P.g, D[2] = P.b;
    }
  if (!cvBitmap_UnLock(Lock)) return nullptr;
  return Bitmap;
}

// --- Matrices ---------------------------------------------------------------

bool Finite(const aiVector3D& V) { return std::isfinite(V.x) && std::isfinite(V.y) && std::isfinite(V.z); }
bool Finite(const aiQuaternion& Q) {
  return std::isfinite(Q.w) && std::isfinite(Q.x) && std::isfinite(Q.y) && std::isfinite(Q.z);
}
bool Finite(const aiMatrix4x4& M) {
  for (int R = 0; R < 4; ++R)
    for (int C = 0; C < 4; ++C)
      if (!std::isfinite(M[R][C])) return false;
  return true;
}

// A rigid transform: rotation matrix and translation.
struct Rigid {
  aiMatrix3x3 R;
  aiVector3D T;
};

// The rotation and translation of M without its scale.
Rigid RigidOf(const aiMatrix4x4& M) {
  aiVector3D Scale, Position;
  aiQuaternion Rotation;
  M.Decompose(Scale, Rotation, Position);
  Rotation.Normalize();
  return {Rotation.GetMatrix(), Position};
}

Rigid Inverse(const Rigid& A) {
  aiMatrix3x3 Rt = A.R;
  Rt.Transpose();
  return {Rt, -(Rt * A.T)};
}

Rigid Compose(const Rigid& A, const Rigid& B) { return {A.R * B.R, A.R * B.T + A.T}; }

cvXForm3d ToXForm(const Rigid& A) {
  cvXForm3d X;
  for (int R = 0; R < 3; ++R)
    for (int C = 0; C < 3; ++C) X.M[R][C] = A.R[R][C];
  X.T = {A.T.x, A.T.y, A.T.z};
  return X;
}

aiMatrix4x4 Uniform(float S) {
  aiMatrix4x4 M;
  M.a1 = M.b2 = M.c3 = S;
  return M;
}

// --- Reading the model ------------------------------------------------------

struct BoneInfo {
  const aiNode* Node = nullptr;
  int Parent = -1;  // engine bone index
  std::string Name;
  aiMatrix4x4 RestGlobal;  // model space, before the correction
  Rigid Rest;              // corrected rigid world transform
  Rigid Attachment;        // Rest relative to the parent bone's Rest
};

struct Corner {
  aiVector3D Position;  // corrected world position at rest
  aiVector3D Normal;    // corrected world normal at rest
  float U = 0, V = 0;
  int Bone = 0;
};

struct Triangle {
  Corner C[3];
  int Material = 0;
};

class Importer {
 public:
  Importer(const char* Path, const ImportOptions& Options, ImportReport* Report)
      : Path_(Path), Options_(Options), Report_(Report) {}

  cvActorDef* Run() {
    Load();
    CollectBones();
    CollectTriangles();
    Correct();
    DefPtr Def(cvActorDef_Create());
    if (!Def) Refuse("out of memory for the actor definition");
    BodyPtr Body = MakeBody();
    if (!cvActorDef_SetBody(Def.get(), Body.get())) Refuse("the body could not be given to the actor");
    Body.release();
    MakeMotions(Def.get());
    return Def.release();
  }

 private:
  void Warn(const std::string& Text) { Report_->Warnings.push_back(Text); }

  void Load() {
    if (!IsFile(Path_)) Refuse("\"" + Path_ + "\" is not a readable file");
    Lib_.SetIOHandler(new CaseInsensitiveIO);
    const unsigned Flags = aiProcess_Triangulate | aiProcess_JoinIdenticalVertices |
                           aiProcess_GenSmoothNormals | aiProcess_SortByPType | aiProcess_FlipUVs |
                           aiProcess_ValidateDataStructure;
    Scene_ = Lib_.ReadFile(Path_, Flags);
    if (!Scene_) {
      const std::string Why = Lib_.GetErrorString();
      // The checks refuse a scene whose meshes have no faces at all; say so
      // plainly when that is the trouble.
      const aiScene* Raw = Lib_.ReadFile(Path_, 0);
      bool HasFaces = false;
      for (unsigned M = 0; Raw && M < Raw->mNumMeshes; ++M)
        HasFaces |= Raw->mMeshes[M] && Raw->mMeshes[M]->mNumFaces > 0;
      if (Raw && !HasFaces) Refuse("the model has no mesh with triangles");
      Refuse("the model cannot be read: " + (Why.empty() ? std::string("unknown format") : Why));
    }
    if (!Scene_->mRootNode) Refuse("the model has no node hierarchy");
    bool HasTriangles = false;
    for (unsigned M = 0; M < Scene_->mNumMeshes; ++M)
      if (IsTriangleMesh(Scene_->mMeshes[M])) HasTriangles = true;
    if (!HasTriangles) Refuse("the model has no mesh with triangles");
  }

  static bool IsTriangleMesh(const aiMesh* M) {
    return M && M->mNumFaces > 0 && M->mNumVertices > 0 && (M->mPrimitiveTypes & aiPrimitiveType_TRIANGLE);
  }

  // Bones: every node a mesh is skinned to or that holds a mesh, and the
  // nodes between them and the top of the hierarchy (the scene's root node
  // itself only when it is one of those). Pre-order keeps parents first.
  void CollectBones() {
    std::set<std::string> SkinNames;
    std::set<const aiNode*> Wanted;
    for (unsigned M = 0; M < Scene_->mNumMeshes; ++M) {
      const aiMesh* Mesh = Scene_->mMeshes[M];
      if (!IsTriangleMesh(Mesh)) continue;
      for (unsigned B = 0; B < Mesh->mNumBones; ++B) SkinNames.insert(Mesh->mBones[B]->mName.C_Str());
    }
    MarkNodes(Scene_->mRootNode, SkinNames, &Wanted);
    for (const std::string& Name : SkinNames)
      if (!Scene_->mRootNode->FindNode(Name.c_str())) Refuse("bone \"" + Name + "\" has no node in the model");
    std::set<std::string> Used;
    AddBones(Scene_->mRootNode, -1, aiMatrix4x4(), Wanted, &Used);
    if (Bones_.size() > (size_t)CV_BODY_MAX_COUNT)
      Refuse(Format("the model has %zu bones; a body holds at most %d", Bones_.size(), (int)CV_BODY_MAX_COUNT));
  }

  // Marks the nodes that become bones; true when Node or a node below it is one.
  bool MarkNodes(const aiNode* Node, const std::set<std::string>& SkinNames, std::set<const aiNode*>* Wanted) {
    bool Below = false;
    for (unsigned C = 0; C < Node->mNumChildren; ++C) Below |= MarkNodes(Node->mChildren[C], SkinNames, Wanted);
    // A node holding an unskinned mesh moves that mesh; a skinned mesh moves
    // with its bones wherever its node is.
    bool Self = SkinNames.count(Node->mName.C_Str()) > 0;
    for (unsigned M = 0; M < Node->mNumMeshes && !Self; ++M) {
      const aiMesh* Mesh = Node->mMeshes[M] < Scene_->mNumMeshes ? Scene_->mMeshes[Node->mMeshes[M]] : nullptr;
      Self = IsTriangleMesh(Mesh) && Mesh->mNumBones == 0;
    }
    if (Self || (Below && Node != Scene_->mRootNode)) Wanted->insert(Node);
    return Self || Below;
  }

  void AddBones(const aiNode* Node, int Parent, const aiMatrix4x4& ParentGlobal,
                const std::set<const aiNode*>& Wanted, std::set<std::string>* Used) {
    if (!Finite(Node->mTransformation))
      Refuse("node \"" + std::string(Node->mName.C_Str()) + "\" has a non-finite transform");
    const aiMatrix4x4 Global = ParentGlobal * Node->mTransformation;
    int Self = Parent;
    if (Wanted.count(Node)) {
      BoneInfo B;
      B.Node = Node;
      B.Parent = Parent;
      B.RestGlobal = Global;
      // Motions find their paths by bone name, so every name must be unique.
      const std::string Base = Node->mName.length ? Node->mName.C_Str() : Format("bone %zu", Bones_.size());
      std::string Name = Base;
      for (int N = 2; Used->count(Name); ++N) Name = Format("%s %d", Base.c_str(), N);
      Used->insert(Name);
      B.Name = Name;
      Self = (int)Bones_.size();
      NodeBone_[Node] = Self;
      Bones_.push_back(B);
    }
    for (unsigned C = 0; C < Node->mNumChildren; ++C) AddBones(Node->mChildren[C], Self, Global, Wanted, Used);
  }

  int BoneOfNode(const aiNode* Node) const {
    for (; Node; Node = Node->mParent) {
      auto It = NodeBone_.find(Node);
      if (It != NodeBone_.end()) return It->second;
    }
    return -1;
  }

  // Triangles in model space (before the correction) with the bone each
  // corner moves with, from every mesh instance in the hierarchy.
  void CollectTriangles() { AddMeshes(Scene_->mRootNode); }

  void AddMeshes(const aiNode* Node) {
    for (unsigned I = 0; I < Node->mNumMeshes; ++I) {
      if (Node->mMeshes[I] >= Scene_->mNumMeshes) continue;
      const aiMesh* Mesh = Scene_->mMeshes[Node->mMeshes[I]];
      if (IsTriangleMesh(Mesh)) AddMesh(Node, Mesh);
    }
    for (unsigned C = 0; C < Node->mNumChildren; ++C) AddMeshes(Node->mChildren[C]);
  }

  void AddMesh(const aiNode* Node, const aiMesh* Mesh) {
    const std::string MeshName = Mesh->mName.length ? Mesh->mName.C_Str() : "(unnamed)";
    const unsigned N = Mesh->mNumVertices;
    // Per vertex: the bone with the largest weight and the transform from
    // mesh space to model space that goes with it.
    std::vector<int> Bone(N, BoneOfNode(Node));
    std::vector<float> Weight(N, 0.0f);
    std::vector<const aiMatrix4x4*> Offset(N, nullptr);
    for (unsigned B = 0; B < Mesh->mNumBones; ++B) {
      const aiBone* Src = Mesh->mBones[B];
      const aiNode* BoneNode = Scene_->mRootNode->FindNode(Src->mName);
      const int Index = BoneNode ? BoneOfNode(BoneNode) : -1;
      if (Index < 0) Refuse("bone \"" + std::string(Src->mName.C_Str()) + "\" has no node in the model");
      if (!Finite(Src->mOffsetMatrix)) Refuse("bone \"" + Bones_[Index].Name + "\" has a non-finite offset");
      for (unsigned W = 0; W < Src->mNumWeights; ++W) {
        const aiVertexWeight& VW = Src->mWeights[W];
        if (VW.mVertexId >= N) Refuse("bone \"" + Bones_[Index].Name + "\" weighs a vertex the mesh does not have");
        if (!std::isfinite(VW.mWeight) || VW.mWeight < 0)
          Refuse("bone \"" + Bones_[Index].Name + "\" has a weight that is not a number of zero or more");
        if (VW.mWeight > Weight[VW.mVertexId]) {
          Weight[VW.mVertexId] = VW.mWeight;
          Bone[VW.mVertexId] = Index;
          Offset[VW.mVertexId] = &Src->mOffsetMatrix;
        }
      }
    }
    const aiMatrix4x4 MeshGlobal = NodeGlobal(Node);
    std::vector<aiMatrix4x4> ToModel(N);
    for (unsigned V = 0; V < N; ++V) {
      if (Mesh->mNumBones > 0 && !Offset[V])
        Refuse(Format("vertex %u of mesh \"%s\" has no bone weight above zero", V, MeshName.c_str()));
      if (Bone[V] < 0) Refuse("mesh \"" + MeshName + "\" belongs to no bone");
      // A skinned vertex is placed by its bone's rest transform and offset
      // (the inverse bind matrix); an unskinned one by its node.
      ToModel[V] = Offset[V] ? Bones_[Bone[V]].RestGlobal * *Offset[V] : MeshGlobal;
    }
    const int Material = MaterialIndex(Mesh->mMaterialIndex);
    for (unsigned F = 0; F < Mesh->mNumFaces; ++F) {
      const aiFace& Face = Mesh->mFaces[F];
      if (Face.mNumIndices != 3) continue;
      Triangle T;
      T.Material = Material;
      for (int C = 0; C < 3; ++C) {
        const unsigned V = Face.mIndices[C];
        if (V >= N) Refuse("mesh \"" + MeshName + "\" has a face with a vertex it does not have");
        const aiVector3D P = Mesh->mVertices[V];
        const aiVector3D Nrm = Mesh->mNormals ? Mesh->mNormals[V] : aiVector3D(0, 1, 0);
        const aiVector3D UV = Mesh->mTextureCoords[0] ? Mesh->mTextureCoords[0][V] : aiVector3D();
        if (!Finite(P))
          Refuse(Format("mesh \"%s\" has a vertex position that is not a finite number", MeshName.c_str()));
        if (!Finite(Nrm) || !Finite(UV))
          Refuse(Format("mesh \"%s\" has a normal or texture coordinate that is not a finite number", MeshName.c_str()));
        Corner& Co = T.C[C];
        Co.Position = ToModel[V] * P;
        aiMatrix3x3 NormalMatrix(ToModel[V]);
        NormalMatrix.Inverse().Transpose();
        Co.Normal = NormalMatrix * Nrm;
        Co.U = UV.x, Co.V = UV.y;
        Co.Bone = Bone[V];
      }
      // A mirroring transform turns the winding over; keep faces outward.
      if (aiMatrix3x3(ToModel[Face.mIndices[0]]).Determinant() < 0) std::swap(T.C[1], T.C[2]);
      Triangles_.push_back(T);
      if (Triangles_.size() > (size_t)CV_BODY_MAX_COUNT)
        Refuse(Format("the model has more than %d triangles; a body holds at most that many", (int)CV_BODY_MAX_COUNT));
    }
  }

  aiMatrix4x4 NodeGlobal(const aiNode* Node) const {
    aiMatrix4x4 M;
    for (; Node; Node = Node->mParent) M = Node->mTransformation * M;
    return M;
  }

  int MaterialIndex(unsigned Source) {
    auto It = MaterialMap_.find(Source);
    if (It != MaterialMap_.end()) return It->second;
    const int Index = (int)MaterialOrder_.size();
    MaterialOrder_.push_back(Source);
    MaterialMap_[Source] = Index;
    return Index;
  }

  // --- Correction: up axis, front, scale and placement ----------------------

  char DetectUp() const {
    if (Options_.Up) return Options_.Up;
    int32_t Axis = -1;
    if (Scene_->mMetaData && Scene_->mMetaData->Get("UpAxis", Axis) && (Axis == 1 || Axis == 2))
      return Axis == 2 ? 'z' : 'y';
    aiVector3D Min(1e30f), Max(-1e30f);
    for (const Triangle& T : Triangles_)
      for (const Corner& C : T.C) {
        Min.y = std::min(Min.y, C.Position.y), Max.y = std::max(Max.y, C.Position.y);
        Min.z = std::min(Min.z, C.Position.z), Max.z = std::max(Max.z, C.Position.z);
      }
    return Max.z - Min.z > Max.y - Min.y ? 'z' : 'y';
  }

  void Correct() {
    const char Up = DetectUp();
    // Y-up models face +Z and Z-up models -Y by their formats' custom; both
    // end up facing -Z, the engine's front, with Y up.
    aiMatrix4x4 Rotation, Step;
    if (Up == 'z') aiMatrix4x4::RotationX(-(float)AI_MATH_HALF_PI, Rotation);
    aiMatrix4x4::RotationY((float)AI_MATH_PI + Options_.TurnDegrees * (float)AI_MATH_PI / 180.0f, Step);
    Rotation = Step * Rotation;

    aiVector3D Min(1e30f), Max(-1e30f);
    for (const Triangle& T : Triangles_)
      for (const Corner& C : T.C) {
        const aiVector3D P = Rotation * C.Position;
        Min.x = std::min(Min.x, P.x), Max.x = std::max(Max.x, P.x);
        Min.y = std::min(Min.y, P.y), Max.y = std::max(Max.y, P.y);
        Min.z = std::min(Min.z, P.z), Max.z = std::max(Max.z, P.z);
      }
    const float Height = Max.y - Min.y;
    const float Extent = std::max({Height, Max.x - Min.x, Max.z - Min.z});
    float Scale = Options_.Scale;
    if (Scale <= 0) {
      if (!(Extent > 0) || !std::isfinite(Extent)) Refuse("the model's meshes have no extent to scale");
      Scale = kImportFitHeight / (Height > Extent * 1e-3f ? Height : Extent);
    }
    if (!std::isfinite(Scale * Extent) || Scale * Extent > 1e7f)
      Refuse("the model is too large for the engine at this scale");
    const aiVector3D Centre((Min.x + Max.x) * 0.5f, Min.y, (Min.z + Max.z) * 0.5f);
    aiMatrix4x4 Place;
    aiMatrix4x4::Translation(-(Centre * Scale), Place);
    Correction_ = Place * Uniform(Scale) * Rotation;
    Report_->Scale = Scale;
    Report_->Up = Up;

    for (BoneInfo& B : Bones_) {
      B.Rest = RigidOf(Correction_ * B.RestGlobal);
      B.Attachment = B.Parent < 0 ? B.Rest : Compose(Inverse(Bones_[B.Parent].Rest), B.Rest);
    }
    aiMatrix3x3 NormalRotation(Rotation);
    for (Triangle& T : Triangles_)
      for (Corner& C : T.C) {
        C.Position = Correction_ * C.Position;
        C.Normal = NormalRotation * C.Normal;
        if (!Finite(C.Position) || !Finite(C.Normal))
          Refuse("the model's transforms give vertices that are not finite numbers");
      }
  }

  // --- Body -------------------------------------------------------------------

  BodyPtr MakeBody() {
    BodyPtr Body(cvBody_Create());
    if (!Body) Refuse("out of memory for the body");
    for (const BoneInfo& B : Bones_) {
      const cvXForm3d Attachment = ToXForm(B.Attachment);
      int32_t Index = 0;
      if (!cvBody_AddBone(Body.get(), B.Parent, B.Name.c_str(), &Attachment, &Index))
        Refuse("bone \"" + B.Name + "\" could not be added");
    }
    AddMaterials(Body.get());

    // Faces ordered by their bones, so that new vertices mostly arrive in the
    // body's bone order and need little reordering.
    std::stable_sort(Triangles_.begin(), Triangles_.end(), [](const Triangle& A, const Triangle& B) {
      auto Key = [](const Triangle& T) {
        const int Hi = std::max({T.C[0].Bone, T.C[1].Bone, T.C[2].Bone});
        const int Lo = std::min({T.C[0].Bone, T.C[1].Bone, T.C[2].Bone});
        return std::make_pair(Hi, Lo);
      };
      return Key(A) < Key(B);
    });
    cvVec3d Min{1e30f, 1e30f, 1e30f}, Max{-1e30f, -1e30f, -1e30f};
    for (const Triangle& T : Triangles_) {
      cvVec3d P[3], N[3];
      for (int C = 0; C < 3; ++C) {
        const Corner& Co = T.C[C];
        const Rigid ToBone = Inverse(Bones_[Co.Bone].Rest);
        const aiVector3D Local = ToBone.R * Co.Position + ToBone.T;
        aiVector3D Normal = ToBone.R * Co.Normal;
        if (!(Normal.SquareLength() > 1e-20f)) Normal = aiVector3D(0, 1, 0);
        P[C] = {Local.x, Local.y, Local.z};
        N[C] = {Normal.x, Normal.y, Normal.z};
        Min = {std::min(Min.X, Co.Position.x), std::min(Min.Y, Co.Position.y), std::min(Min.Z, Co.Position.z)};
        Max = {std::max(Max.X, Co.Position.x), std::max(Max.Y, Co.Position.y), std::max(Max.Z, Co.Position.z)};
      }
      cvErrorLog_Clear();
      if (!cvBody_AddFace(Body.get(), &P[0], &N[0], T.C[0].U, T.C[0].V, T.C[0].Bone, &P[1], &N[1], T.C[1].U,
                          T.C[1].V, T.C[1].Bone, &P[2], &N[2], T.C[2].U, T.C[2].V, T.C[2].Bone, T.Material)) {
        int32_t Vertices = 0, Faces = 0, Normals = 0;
        cvBody_GetGeometryStats(Body.get(), 0, &Vertices, &Faces, &Normals);
        if (Vertices >= CV_BODY_MAX_COUNT - 2 || Normals >= CV_BODY_MAX_COUNT - 2)
          Refuse(Format("the model has more than %d distinct vertices or normals; a body holds at most that many",
                        (int)CV_BODY_MAX_COUNT));
        Refuse("a face could not be added to the body (out of memory)");
      }
    }
    if (!cvBody_SetBoundingBox(Body.get(), -1, &Min, &Max) || !cvBody_SetLevelsOfDetail(Body.get()))
      Refuse("the body could not be finished");
    int32_t Vertices = 0, Faces = 0, Normals = 0;
    cvBody_GetGeometryStats(Body.get(), 0, &Vertices, &Faces, &Normals);
    Report_->Bones = (int)Bones_.size();
    Report_->Vertices = Vertices;
    Report_->Faces = Faces;
    Report_->Materials = (int)MaterialOrder_.size();
    return Body;
  }

  void AddMaterials(cvBody* Body) {
    if (MaterialOrder_.size() > (size_t)CV_BODY_MAX_COUNT) Refuse("the model has too many materials for a body");
    std::set<std::string> Used;
    for (size_t I = 0; I < MaterialOrder_.size(); ++I) {
      const unsigned Source = MaterialOrder_[I];
      const aiMaterial* Mat = Source < Scene_->mNumMaterials ? Scene_->mMaterials[Source] : nullptr;
      aiString Name;
      std::string Base = Mat && Mat->Get(AI_MATKEY_NAME, Name) == AI_SUCCESS && Name.length
                             ? Name.C_Str()
                             : Format("material %zu", I + 1);
      std::string Unique = Base;
      for (int N = 2; Used.count(Unique); ++N) Unique = Format("%s %d", Base.c_str(), N);
      Used.insert(Unique);
      aiColor4D Colour(1, 1, 1, 1);
      if (Mat) Mat->Get(AI_MATKEY_COLOR_DIFFUSE, Colour);
      auto Channel = [&](float C) {
        if (!std::isfinite(C)) Refuse("material \"" + Unique + "\" has a colour that is not a finite number");
        return std::clamp(C, 0.0f, 1.0f) * 255.0f;
      };
      const float R = Channel(Colour.r), G = Channel(Colour.g), B = Channel(Colour.b);
      BitmapPtr Bitmap = Mat ? LoadTexture(*Mat, Unique) : nullptr;
      if (Bitmap) ++Report_->Textures;
      int32_t Index = 0;
      // The body takes its own reference on the bitmap.
      if (!cvBody_AddMaterial(Body, Unique.c_str(), Bitmap.get(), R, G, B, &Index))
        Refuse("material \"" + Unique + "\" could not be added");
    }
  }

  BitmapPtr LoadTexture(const aiMaterial& Mat, const std::string& MaterialName) {
    aiString Src;
    if (Mat.GetTexture(aiTextureType_DIFFUSE, 0, &Src) != AI_SUCCESS &&
        Mat.GetTexture(aiTextureType_BASE_COLOR, 0, &Src) != AI_SUCCESS)
      return nullptr;
    const std::string Name = Src.C_Str();
    if (Name.empty()) return nullptr;
    const std::string Label = "texture \"" + Name + "\" of material \"" + MaterialName + "\"";
    if (const aiTexture* Embedded = Scene_->GetEmbeddedTexture(Name.c_str())) {
      // Held as the bytes of an image file (height 0), or as raw texels.
      std::string Why = "its texels cannot be used";
      BitmapPtr Bitmap;
      if (Embedded->mHeight == 0) {
        const uint8_t* Bytes = reinterpret_cast<const uint8_t*>(Embedded->pcData);
        Why = "it is empty";
        if (Bytes) Bitmap = BitmapFromBytes(std::vector<uint8_t>(Bytes, Bytes + Embedded->mWidth), &Why);
      } else {
        Bitmap = BitmapFromTexels(*Embedded);
      }
      if (!Bitmap) Warn(Label + " is embedded but cannot be read (" + Why + "); the material has no bitmap");
      return Bitmap;
    }
    // A file relative to the model (or a full path), else one of that name
    // beside the model: models made elsewhere often carry their maker's
    // full paths.
    std::string Slashed = Name;
    std::replace(Slashed.begin(), Slashed.end(), '\\', '/');
    const std::string Dir = DirectoryOf(Path_);
    std::string File = Slashed[0] == '/' ? ResolveFile(Slashed) : ResolveFile(Dir + Slashed);
    if (File.empty()) File = ResolveFile(Dir + Slashed.substr(Slashed.find_last_of('/') + 1));
    if (File.empty()) {
      Warn(Label + " was not found; the material has no bitmap");
      return nullptr;
    }
    std::vector<uint8_t> Bytes;
    std::string Why;
    if (!ReadWholeFile(File, &Bytes, &Why)) {
      Warn(Label + " (" + File + ") " + Why + "; the material has no bitmap");
      return nullptr;
    }
    BitmapPtr Bitmap = BitmapFromBytes(Bytes, &Why);
    if (!Bitmap) Warn(Label + " (" + File + ") cannot be read (" + Why + "); the material has no bitmap");
    return Bitmap;
  }

  // --- Motions ----------------------------------------------------------------

  // The value of a key track at time T: the first key's before it, the last
  // key's after it, and between two keys Blend(earlier, later, fraction).
  template <typename Key, typename Value, typename BlendFn>
  static Value Sample(const Key* Keys, unsigned Count, double T, const Value& Rest, BlendFn Blend) {
    if (Count == 0) return Rest;
    if (T <= Keys[0].mTime) return Keys[0].mValue;
    for (unsigned K = 1; K < Count; ++K)
      if (T < Keys[K].mTime) {
        const double Span = Keys[K].mTime - Keys[K - 1].mTime;
        const float F = Span > 0 ? (float)((T - Keys[K - 1].mTime) / Span) : 0.0f;
        return Blend(Keys[K - 1].mValue, Keys[K].mValue, F);
      }
    return Keys[Count - 1].mValue;
  }

  static aiVector3D Interpolate(const aiVectorKey* Keys, unsigned Count, double T, const aiVector3D& Rest) {
    return Sample(Keys, Count, T, Rest, [](const aiVector3D& A, const aiVector3D& B, float F) { return A + (B - A) * F; });
  }

  static aiQuaternion Interpolate(const aiQuatKey* Keys, unsigned Count, double T, const aiQuaternion& Rest) {
    return Sample(Keys, Count, T, Rest, [](const aiQuaternion& A, const aiQuaternion& B, float F) {
      aiQuaternion Out;
      aiQuaternion::Interpolate(Out, A, B, F);
      return Out.Normalize();
    });
  }

  void CheckChannel(const aiNodeAnim* C, const std::string& Motion) const {
    auto Bad = [&] {
      Refuse("animation \"" + Motion + "\" has a key of node \"" + C->mNodeName.C_Str() +
             "\" that is not a finite number");
    };
    for (unsigned K = 0; K < C->mNumPositionKeys; ++K)
      if (!std::isfinite(C->mPositionKeys[K].mTime) || !Finite(C->mPositionKeys[K].mValue)) Bad();
    for (unsigned K = 0; K < C->mNumRotationKeys; ++K)
      if (!std::isfinite(C->mRotationKeys[K].mTime) || !Finite(C->mRotationKeys[K].mValue)) Bad();
    for (unsigned K = 0; K < C->mNumScalingKeys; ++K)
      if (!std::isfinite(C->mScalingKeys[K].mTime) || !Finite(C->mScalingKeys[K].mValue)) Bad();
  }

  void MakeMotions(cvActorDef* Def) {
    if (Scene_->mNumAnimations > (unsigned)CV_ACTOR_MAX_MOTIONS) Refuse("the model has too many animations");
    std::set<std::string> Used;
    for (unsigned A = 0; A < Scene_->mNumAnimations; ++A) {
      const aiAnimation* Anim = Scene_->mAnimations[A];
      std::string Base = Anim->mName.length ? Anim->mName.C_Str() : Format("anim %u", A + 1);
      std::string Name = Base;
      for (int N = 2; Used.count(Name); ++N) Name = Format("%s %d", Base.c_str(), N);
      Used.insert(Name);
      MotionPtr Motion = MakeMotion(*Anim, Name);
      int32_t Number = 0;
      if (!cvActorDef_AddMotion(Def, Motion.get(), &Number)) Refuse("motion \"" + Name + "\" could not be added");
      Motion.release();  // the definition owns it
      ++Report_->Motions;
    }
  }

  MotionPtr MakeMotion(const aiAnimation& Anim, const std::string& Name) {
    const double TicksPerSecond =
        std::isfinite(Anim.mTicksPerSecond) && Anim.mTicksPerSecond > 0 ? Anim.mTicksPerSecond : kDefaultTicksPerSecond;
    std::map<const aiNode*, const aiNodeAnim*> Channels;
    std::vector<double> Times;
    for (unsigned C = 0; C < Anim.mNumChannels; ++C) {
      const aiNodeAnim* Ch = Anim.mChannels[C];
      CheckChannel(Ch, Name);
      const aiNode* Node = Scene_->mRootNode->FindNode(Ch->mNodeName);
      if (!Node) continue;
      Channels[Node] = Ch;
      for (unsigned K = 0; K < Ch->mNumPositionKeys; ++K) Times.push_back(Ch->mPositionKeys[K].mTime);
      for (unsigned K = 0; K < Ch->mNumRotationKeys; ++K) Times.push_back(Ch->mRotationKeys[K].mTime);
      for (unsigned K = 0; K < Ch->mNumScalingKeys; ++K) Times.push_back(Ch->mScalingKeys[K].mTime);
    }
    std::sort(Times.begin(), Times.end());
    Times.erase(std::unique(Times.begin(), Times.end(), [](double X, double Y) { return Y - X < 1e-6; }), Times.end());
    if (Times.empty()) Times.push_back(0.0);
    const double Start = Times.front(), End = Times.back();
    if (Options_.Fps > 0) {
      // Even steps from the first key to the last, the last one included.
      const double Step = TicksPerSecond / Options_.Fps;
      const double Count = std::ceil((End - Start) / Step - 1e-6);
      if (!(Count < (double)kMaxKeyTimes))
        Refuse("animation \"" + Name + "\" would need too many key frames at this rate");
      Times.clear();
      for (double K = 0; K < Count; ++K) Times.push_back(Start + K * Step);
      Times.push_back(End);
    }
    if (Times.size() > kMaxKeyTimes)
      Refuse("animation \"" + Name + "\" has too many key times (resample it with --fps)");

    // Which bones the animation moves: any node on the way from the bone up
    // to the top of the hierarchy with a channel.
    std::vector<bool> Moves(Bones_.size(), false);
    for (size_t B = 0; B < Bones_.size(); ++B)
      for (const aiNode* N = Bones_[B].Node; N && !Moves[B]; N = N->mParent) Moves[B] = Channels.count(N) > 0;

    MotionPtr Motion(cvMotion_Create(1));
    if (!Motion || !cvMotion_SetName(Motion.get(), Name.c_str())) Refuse("out of memory for motion \"" + Name + "\"");
    std::vector<PathPtr> Paths(Bones_.size());
    for (size_t B = 0; B < Bones_.size(); ++B) {
      Paths[B].reset(cvPath_Create(CV_PATH_INTERPOLATE_LINEAR, CV_PATH_INTERPOLATE_SLERP, 1));
      if (!Paths[B]) Refuse("out of memory for motion \"" + Name + "\"");
    }
    std::vector<Rigid> World(Bones_.size());
    const size_t KeyCount = Times.size();
    for (size_t K = 0; K < KeyCount; ++K) {
      const double T = Times[K];
      const float Seconds = (float)((T - Start) / TicksPerSecond);
      for (size_t B = 0; B < Bones_.size(); ++B) {
        // Bones the animation leaves alone get one key, at the start.
        if (!Moves[B] && K > 0) continue;
        World[B] = Moves[B] ? RigidOf(Correction_ * AnimatedGlobal(Bones_[B].Node, Channels, T)) : Bones_[B].Rest;
        const Rigid ParentWorld = Bones_[B].Parent < 0 ? Rigid{aiMatrix3x3(), aiVector3D()} : World[Bones_[B].Parent];
        // The pose puts a joint at ParentWorld * Attachment * Local.
        const Rigid Local = Compose(Inverse(Bones_[B].Attachment), Compose(Inverse(ParentWorld), World[B]));
        const cvXForm3d X = ToXForm(Local);
        if (!Finite(aiVector3D(X.T.X, X.T.Y, X.T.Z)))
          Refuse("animation \"" + Name + "\" moves bone \"" + Bones_[B].Name + "\" to positions that are not finite");
        if (!cvPath_InsertKeyframe(Paths[B].get(), CV_PATH_ALL_CHANNELS, Seconds, &X))
          Refuse("out of memory for the key frames of motion \"" + Name + "\"");
      }
    }
    for (size_t B = 0; B < Bones_.size(); ++B) {
      int32_t Index = 0;
      // The motion takes its own reference on the path.
      if (!cvMotion_AddPath(Motion.get(), Paths[B].get(), Bones_[B].Name.c_str(), &Index))
        Refuse("motion \"" + Name + "\" could not take the path of bone \"" + Bones_[B].Name + "\"");
    }
    return Motion;
  }

  // The model-space transform of Node at time T (in ticks).
  aiMatrix4x4 AnimatedGlobal(const aiNode* Node, const std::map<const aiNode*, const aiNodeAnim*>& Channels,
                             double T) const {
    aiMatrix4x4 M;
    for (; Node; Node = Node->mParent) {
      auto It = Channels.find(Node);
      if (It == Channels.end()) {
        M = Node->mTransformation * M;
        continue;
      }
      const aiNodeAnim* C = It->second;
      aiVector3D RestScale, RestPosition;
      aiQuaternion RestRotation;
      Node->mTransformation.Decompose(RestScale, RestRotation, RestPosition);
      const aiMatrix4x4 Local(Interpolate(C->mScalingKeys, C->mNumScalingKeys, T, RestScale),
                              Interpolate(C->mRotationKeys, C->mNumRotationKeys, T, RestRotation),
                              Interpolate(C->mPositionKeys, C->mNumPositionKeys, T, RestPosition));
      M = Local * M;
    }
    return M;
  }

  std::string Path_;
  ImportOptions Options_;
  ImportReport* Report_;
  Assimp::Importer Lib_;
  const aiScene* Scene_ = nullptr;
  std::vector<BoneInfo> Bones_;
  std::map<const aiNode*, int> NodeBone_;
  std::vector<Triangle> Triangles_;
  std::vector<unsigned> MaterialOrder_;  // model material index per body material
  std::map<unsigned, int> MaterialMap_;
  aiMatrix4x4 Correction_;
};

}  // namespace

// The Open Asset Import Library leaks a little on some malformed files (its
// OBJ reader's error paths, for one). Those leaks are outside this code and
// cannot be mended here, so sanitizer builds leave the library's own
// allocations out of their leak reports; everything else is still checked.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CV_IMPORT_LSAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(CV_IMPORT_LSAN)
extern "C" const char* __lsan_default_suppressions() { return "leak:libassimp.so\n"; }
#endif

bool ImportModel(const char* Path, const ImportOptions& Options, cvActorDef** Out, std::string* Error,
                 ImportReport* Report) {
  ImportReport Local;
  if (!Report) Report = &Local;
  *Report = ImportReport{};
  if (Out) *Out = nullptr;
  std::string Message;
  if (!Path || !*Path || !Out) {
    Message = "no model file given";
  } else if (Options.Up && Options.Up != 'y' && Options.Up != 'z') {
    Message = "the up axis must be y or z";
  } else if (!std::isfinite(Options.Scale) || Options.Scale < 0 || !std::isfinite(Options.Fps) ||
             Options.Fps < 0 || Options.Fps > 1000 || !std::isfinite(Options.TurnDegrees)) {
    Message = "the scale, frame rate or turn is out of range";
  } else {
    try {
      *Out = Importer(Path, Options, Report).Run();
      return true;
    } catch (const ImportError& E) {
      Message = E.Message;
    } catch (const std::bad_alloc&) {
      Message = "out of memory";
    } catch (const std::exception& E) {
      Message = E.what();
    }
  }
  if (Error) *Error = Message;
  return false;
}

bool WriteActorFileSafely(const cvActorDef* Def, const char* Path, std::string* Error) {
  auto Fail = [&](const std::string& Why) {
    if (Error) *Error = Why;
    return false;
  };
  if (!cvActorDef_IsValid(Def) || !Path || !*Path) return Fail("nothing to write");
  // A unique name in the target's folder, so that the rename stays on one
  // file system and cannot replace the target with something half made.
  std::string Temp = std::string(Path) + ".XXXXXX";
  const int Fd = ::mkstemp(Temp.data());
  if (Fd < 0) return Fail("cannot create a file beside \"" + std::string(Path) + "\": " + std::strerror(errno));
  ::close(Fd);
  cvVFile* File = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, Temp.c_str(), nullptr, CV_VFILE_OPEN_CREATE);
  if (!File) {
    ::unlink(Temp.c_str());
    return Fail("cannot write \"" + Temp + "\"");
  }
  const int Written = cvActorDef_WriteToFile(Def, File);
  const int Closed = cvVFile_Close(File);
  if (!Written || !Closed) {
    ::unlink(Temp.c_str());
    return Fail("writing the actor file failed");
  }
  // mkstemp makes the file private; an actor file is an ordinary document.
  const mode_t Mask = ::umask(0);
  ::umask(Mask);
  ::chmod(Temp.c_str(), 0666 & ~Mask);
  if (::rename(Temp.c_str(), Path) != 0) {
    const std::string Why = std::strerror(errno);
    ::unlink(Temp.c_str());
    return Fail("cannot rename the finished file to \"" + std::string(Path) + "\": " + Why);
  }
  return true;
}
