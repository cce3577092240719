// Body instances: a body's bone-relative vertices and normals posed by one
// world transform per bone, and the face list of one level of detail in the
// compact form the puppet draws from.
#include <algorithm>

#include "Actor/body.h"
#include "Actor/puppet.h"
#include "Engine/cvengcore.h"
#include "Support/cvsupport.h"

namespace {

// Grows or shrinks Buffer to Count elements of Size bytes; 0 on failure
// (the old buffer stays).
template <typename T>
int resize(T*& Buffer, int32_t Count) {
  if (Count <= 0) {
    cvRam_Free(Buffer);
    Buffer = nullptr;
    return 1;
  }
  void* P = cvRam_Realloc(Buffer, sizeof(T) * (size_t)Count);
  if (!P) return 0;
  Buffer = static_cast<T*>(P);
  return 1;
}

}  // namespace

cvBodyInst* cvBodyInst_Create(const cvBody* Body) {
  if (!cvBody_IsValid(Body)) {
    CV_ERROR(96);
    return nullptr;
  }
  cvBodyInst* I = static_cast<cvBodyInst*>(cvRam_AllocateClear(sizeof(cvBodyInst)));
  if (!I) {
    CV_ERROR(96);
    return nullptr;
  }
  I->Body = Body;
  I->LastLevel = -1;
  return I;
}

void cvBodyInst_Destroy(cvBodyInst** Instance) {
  if (!Instance || !*Instance) return;
  cvBodyInst* I = *Instance;
  cvRam_Free(I->Geometry.Vertices);
  cvRam_Free(I->Geometry.Normals);
  cvRam_Free(I->Geometry.Faces);
  cvRam_Free(I);
  *Instance = nullptr;
}

const cvBodyInst_Geometry* cvBodyInst_GetGeometry(cvBodyInst* Instance, const cvVec3d* Scale,
                                                  const cvXFArray* Transforms, int32_t Level,
                                                  const cvCamera* Camera) {
  if (!Instance || !Scale || !Transforms || !cvBody_IsValid(Instance->Body)) {
    CV_ERROR(-1);
    return nullptr;
  }
  const cvBody* B = Instance->Body;
  cvBodyInst_Geometry& G = Instance->Geometry;
  // Level 0, the full mesh, exists in every body. A body whose file had no
  // face lists (a level count of 0) has an empty full mesh: it draws nothing
  // instead of failing every frame. Other levels must be in use.
  if (Level < 0 || Level >= std::max<int32_t>(B->LevelCount, 1) || Level >= CV_BODY_MAX_LEVELS) {
    CV_ERROR(-1);
    return nullptr;
  }

  // 1. Buffers sized to the body's counts and the level's faces.
  const int32_t VertexCount = std::max<int32_t>(B->VertexCount, 0);
  const int32_t NormalCount = std::max<int32_t>(B->NormalCount, 0);
  const int32_t FaceCount = Level < B->LevelCount ? std::max<int32_t>(B->Levels[Level].FaceCount, 0) : 0;
  if (G.VertexCount != VertexCount) {
    if (!resize(G.Vertices, VertexCount)) {
      CV_ERROR(96);
      return nullptr;
    }
    G.VertexCount = (uint16_t)VertexCount;
  }
  if (G.NormalCount != NormalCount) {
    if (!resize(G.Normals, NormalCount)) {
      CV_ERROR(96);
      return nullptr;
    }
    G.NormalCount = (uint16_t)NormalCount;
  }
  if (Instance->LastFaceCount != FaceCount || (FaceCount > 0 && !G.Faces)) {
    if (!resize(G.Faces, FaceCount)) {
      CV_ERROR(96);
      return nullptr;
    }
    Instance->LastFaceCount = FaceCount;
    Instance->FaceBufferSize = (int32_t)(sizeof(cvBodyInst_Face) * (size_t)FaceCount);
    Instance->LastLevel = -1;  // the buffer's contents are no longer the level's
  }

  // 2. One transform per bone.
  int32_t TransformCount = 0;
  const cvXForm3d* Bones = cvXFArray_GetElements(const_cast<cvXFArray*>(Transforms), &TransformCount);
  if (TransformCount != B->BoneCount || (TransformCount > 0 && !Bones)) {
    CV_ERROR(100);
    return nullptr;
  }

  // 3. Vertices, bone by bone (the body keeps them sorted by bone).
  cvVec3d_Set(&G.Max, -9e9f, -9e9f, -9e9f);
  cvVec3d_Set(&G.Min, 9e9f, 9e9f, 9e9f);
  const cvXForm3d* CameraSpace = Camera ? cvCamera_GetCameraSpaceXForm(Camera) : nullptr;
  int32_t LastBone = -2;
  cvXForm3d M;
  cvXForm3d_SetIdentity(&M);
  for (int32_t V = 0; V < VertexCount; ++V) {
    const cvBodyVertex& Src = B->Vertices[V];
    if (Src.BoneIndex != LastBone) {
      LastBone = Src.BoneIndex;
      if (LastBone >= 0 && LastBone < TransformCount) {
        if (CameraSpace)
          cvXForm3d_Multiply(CameraSpace, &Bones[LastBone], &M);
        else
          M = Bones[LastBone];
      } else {
        // A vertex on a bone that does not exist stays where the body has it.
        if (CameraSpace) M = *CameraSpace; else cvXForm3d_SetIdentity(&M);
      }
      for (int R = 0; R < 3; ++R) {
        M.M[R][0] *= Scale->X;
        M.M[R][1] *= Scale->Y;
        M.M[R][2] *= Scale->Z;
      }
    }
    cvBodyInst_Vertex& Dst = G.Vertices[V];
    if (!Src.Active) {
      // Not transformed; its slot still holds defined values (no face that
      // uses it is handed on, see step 5).
      Dst = cvBodyInst_Vertex{Src.Position, Src.U, Src.V, Src.BoneIndex};
      continue;
    }
    cvXForm3d_Transform(&M, &Src.Position, &Dst.Position);
    Dst.U = Src.U;
    Dst.V = Src.V;
    Dst.BoneIndex = Src.BoneIndex;
    G.Max.X = std::max(G.Max.X, Dst.Position.X);
    G.Max.Y = std::max(G.Max.Y, Dst.Position.Y);
    G.Max.Z = std::max(G.Max.Z, Dst.Position.Z);
    G.Min.X = std::min(G.Min.X, Dst.Position.X);
    G.Min.Y = std::min(G.Min.Y, Dst.Position.Y);
    G.Min.Z = std::min(G.Min.Z, Dst.Position.Z);
  }

  // 4. Normals turn with their bones (unscaled).
  for (int32_t N = 0; N < NormalCount; ++N) {
    const cvBodyNormal& Src = B->Normals[N];
    if (!Src.Active)
      G.Normals[N] = Src.Normal;
    else if (Src.BoneIndex >= 0 && Src.BoneIndex < TransformCount)
      cvXForm3d_Rotate(&Bones[Src.BoneIndex], &Src.Normal, &G.Normals[N]);
    else
      G.Normals[N] = Src.Normal;
  }

  // 5. Faces of the level, rebuilt only when the level changed. A face with a
  // corner on a vertex or normal that is not active is left out: the instance
  // does not pose those, so the face has no place to be drawn.
  if (Level != Instance->LastLevel) {
    const cvBodyFace* Faces = FaceCount > 0 ? B->Levels[Level].Faces : nullptr;
    int32_t Kept = 0;
    for (int32_t F = 0; F < FaceCount; ++F) {
      const cvBodyFace& S = Faces[F];
      bool Posed = true;
      for (int C = 0; C < 3 && Posed; ++C) {
        const uint16_t VI = S.VertexIndex[C], NI = S.NormalIndex[C];
        Posed = (VI >= VertexCount || B->Vertices[VI].Active) && (NI >= NormalCount || B->Normals[NI].Active);
      }
      if (!Posed) continue;
      cvBodyInst_Face& D = G.Faces[Kept++];
      D.Reserved = 0;
      D.MaterialIndex = S.MaterialIndex;
      for (int C = 0; C < 3; ++C) {
        D.Corner[C][0] = S.VertexIndex[C];
        D.Corner[C][1] = S.NormalIndex[C];
      }
    }
    G.FaceCount = (uint16_t)Kept;
    Instance->LastLevel = Level;
    Instance->FaceRebuilds++;
  }
  return &G;
}
