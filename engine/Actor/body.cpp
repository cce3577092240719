// Bodies in memory: creation and destruction, queries, materials, bones and
// the face builder that shares vertices and normals, keeps faces in material
// order and vertices in bone order. The body file lives in body_file.cpp.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "Actor/body.h"
#include "Support/cvsupport.h"

namespace {

constexpr float kEmptyBoxMin = 9e9f;
constexpr float kEmptyBoxMax = -9e9f;

// Grows a cvRam array by one record; the old block stays valid on failure.
template <typename T>
bool GrowByOne(T*& Array, int32_t Count) {
  void* grown = cvRam_Realloc(Array, sizeof(T) * (size_t)(Count + 1));
  if (!grown) return false;
  Array = static_cast<T*>(grown);
  return true;
}

// Orders vertices (and bone numbers) by bone, for the searches over the
// bone-sorted vertex array.
struct BoneLess {
  bool operator()(const cvBodyVertex& A, int16_t B) const { return A.BoneIndex < B; }
  bool operator()(int16_t A, const cvBodyVertex& B) const { return A < B.BoneIndex; }
};
struct BoneLessVertex {
  bool operator()(const cvBodyVertex& A, const cvBodyVertex& B) const {
    return A.BoneIndex < B.BoneIndex;
  }
};

bool Near(float A, float B) { return std::fabs(A - B) <= CV_BODY_SHARE_TOLERANCE; }

bool VertexMatches(const cvBodyVertex& V, const cvVec3d* P, float U, float Vt) {
  return cvVec3d_Compare(&V.Position, P, CV_BODY_SHARE_TOLERANCE) && Near(V.U, U) && Near(V.V, Vt);
}

}  // namespace

// ---------------------------------------------------------------------------
// Creation and destruction
// ---------------------------------------------------------------------------

cvBody* cvBody_Create(void) {
  cvBody* body = static_cast<cvBody*>(cvRam_AllocateClear(sizeof(cvBody)));
  if (!body) {
    CV_ERROR(96);
    return nullptr;
  }
  body->BoneNames = cvStrBlock_Create();
  body->MaterialNames = body->BoneNames ? cvStrBlock_Create() : nullptr;
  if (!body->MaterialNames) {
    cvStrBlock_Destroy(&body->BoneNames);
    cvRam_Free(body);
    CV_ERROR(96);
    return nullptr;
  }
  body->LevelCount = 1;
  body->Self = body;
  return body;
}

void cvBody_Destroy(cvBody** Body) {
  if (!Body || !*Body) return;
  cvBody* body = *Body;
  body->Self = nullptr;
  cvRam_Free(body->Vertices);
  cvRam_Free(body->Normals);
  cvRam_Free(body->Bones);
  if (body->BoneNames) cvStrBlock_Destroy(&body->BoneNames);
  for (int32_t i = 0; i < body->MaterialCount && body->Materials; ++i) {
    if (body->Materials[i].Bitmap) cvBitmap_Destroy(&body->Materials[i].Bitmap);
  }
  cvRam_Free(body->Materials);
  if (body->MaterialNames) cvStrBlock_Destroy(&body->MaterialNames);
  for (cvBodyLevel& level : body->Levels) cvRam_Free(level.Faces);
  cvRam_Free(body);
  *Body = nullptr;
}

int cvBody_IsValid(const cvBody* Body) { return Body && Body->Self == Body; }

// ---------------------------------------------------------------------------
// Queries
// ---------------------------------------------------------------------------

int cvBody_GetGeometryStats(const cvBody* Body, int32_t Level, int32_t* VertexCount,
                            int32_t* FaceCount, int32_t* NormalCount) {
  if (!cvBody_IsValid(Body)) {
    CV_ERROR(-1);
    return 0;
  }
  if (VertexCount) *VertexCount = Body->VertexCount;
  if (NormalCount) *NormalCount = Body->NormalCount;
  if (FaceCount) {
    *FaceCount = (Level >= 0 && Level < CV_BODY_MAX_LEVELS) ? Body->Levels[Level].FaceCount : 0;
  }
  return 1;
}

int32_t cvBody_GetBoneCount(const cvBody* Body) { return Body ? Body->BoneCount : 0; }

int cvBody_GetBone(const cvBody* Body, int32_t Index, const char** Name, cvXForm3d* Attachment,
                   int32_t* ParentIndex) {
  if (!Body || Index < 0 || Index >= Body->BoneCount) {
    CV_ERROR(-1);
    return 0;
  }
  const cvBodyBone& bone = Body->Bones[Index];
  if (Name) *Name = cvStrBlock_GetString(Body->BoneNames, Index);
  if (Attachment) *Attachment = bone.Attachment;
  if (ParentIndex) *ParentIndex = bone.ParentIndex;
  return 1;
}

int cvBody_GetBoneByName(const cvBody* Body, const char* Name, int32_t* Index,
                         cvXForm3d* Attachment, int32_t* ParentIndex) {
  if (!Body || !Name || !Body->BoneNames) return 0;
  for (int32_t i = 0; i < Body->BoneCount; ++i) {
    const char* name = cvStrBlock_GetString(Body->BoneNames, i);
    if (name && std::strcmp(name, Name) == 0) {
      if (Index) *Index = i;
      return cvBody_GetBone(Body, i, nullptr, Attachment, ParentIndex);
    }
  }
  return 0;
}

int32_t cvBody_GetBoneNameChecksum(const cvBody* Body) {
  if (!Body || !Body->BoneNames) return 0;
  return cvStrBlock_GetChecksum(Body->BoneNames);
}

int cvBody_GetBoundingBox(const cvBody* Body, int32_t BoneIndex, cvVec3d* Min, cvVec3d* Max) {
  if (!Body) return 0;
  if (BoneIndex == -1) {
    if (Min) *Min = Body->BoxMin;
    if (Max) *Max = Body->BoxMax;
    return 1;
  }
  if (BoneIndex < 0 || BoneIndex >= Body->BoneCount) return 0;
  const cvBodyBone& bone = Body->Bones[BoneIndex];
  if (bone.BoxMin.X > bone.BoxMax.X) return 0;
  if (Min) *Min = bone.BoxMin;
  if (Max) *Max = bone.BoxMax;
  return 1;
}

int cvBody_SetBoundingBox(cvBody* Body, int32_t BoneIndex, const cvVec3d* Min, const cvVec3d* Max) {
  if (!Body || !Min || !Max) {
    CV_ERROR(-1);
    return 0;
  }
  if (BoneIndex == -1) {
    Body->BoxMin = *Min;
    Body->BoxMax = *Max;
    return 1;
  }
  if (BoneIndex < 0 || BoneIndex >= Body->BoneCount) {
    CV_ERROR(-1);
    return 0;
  }
  Body->Bones[BoneIndex].BoxMin = *Min;
  Body->Bones[BoneIndex].BoxMax = *Max;
  return 1;
}

// ---------------------------------------------------------------------------
// Materials
// ---------------------------------------------------------------------------

int32_t cvBody_GetMaterialCount(const cvBody* Body) { return Body ? Body->MaterialCount : 0; }

int cvBody_GetMaterial(const cvBody* Body, int32_t Index, const char** Name, cvBitmap** Bitmap,
                       float* Red, float* Green, float* Blue) {
  if (!Body || Index < 0 || Index >= Body->MaterialCount) {
    CV_ERROR(-1);
    return 0;
  }
  const cvBodyMaterial& material = Body->Materials[Index];
  if (Name) *Name = cvStrBlock_GetString(Body->MaterialNames, Index);
  if (Bitmap) *Bitmap = material.Bitmap;
  if (Red) *Red = material.Red;
  if (Green) *Green = material.Green;
  if (Blue) *Blue = material.Blue;
  return 1;
}

int cvBody_SetMaterial(cvBody* Body, int32_t Index, cvBitmap* Bitmap, float Red, float Green,
                       float Blue) {
  if (!Body || Index < 0 || Index >= Body->MaterialCount) {
    CV_ERROR(-1);
    return 0;
  }
  cvBodyMaterial& material = Body->Materials[Index];
  if (material.Bitmap != Bitmap) {
    // Take the new reference before dropping the old one; the material owns
    // exactly one reference on whatever bitmap it shows.
    if (Bitmap) cvBitmap_CreateRef(Bitmap);
    if (material.Bitmap) cvBitmap_Destroy(&material.Bitmap);
    material.Bitmap = Bitmap;
  }
  material.Red = Red;
  material.Green = Green;
  material.Blue = Blue;
  return 1;
}

int cvBody_AddMaterial(cvBody* Body, const char* Name, cvBitmap* Bitmap, float Red, float Green,
                       float Blue, int32_t* Index) {
  if (!Body || !Name || !Name[0]) {
    CV_ERROR(-1);
    return 0;
  }
  int32_t existing = 0;
  if (cvStrBlock_FindString(Body->MaterialNames, Name, &existing)) {
    CV_ERROR(-1);
    return 0;
  }
  if (Body->MaterialCount >= CV_BODY_MAX_COUNT || !GrowByOne(Body->Materials, Body->MaterialCount) ||
      !cvStrBlock_Append(&Body->MaterialNames, Name)) {
    CV_ERROR(96);
    return 0;
  }
  cvBodyMaterial& material = Body->Materials[Body->MaterialCount];
  material.Bitmap = Bitmap;
  if (Bitmap) cvBitmap_CreateRef(Bitmap);
  material.Red = Red;
  material.Green = Green;
  material.Blue = Blue;
  if (Index) *Index = Body->MaterialCount;
  ++Body->MaterialCount;
  return 1;
}

// ---------------------------------------------------------------------------
// Bones
// ---------------------------------------------------------------------------

int cvBody_AddBone(cvBody* Body, int32_t ParentIndex, const char* Name,
                   const cvXForm3d* Attachment, int32_t* Index) {
  // A parent must be an earlier bone, so that poses can compute joints in
  // index order and files never describe a cycle.
  if (!Body || !Attachment || ParentIndex < -1 || ParentIndex >= Body->BoneCount) {
    CV_ERROR(-1);
    return 0;
  }
  if (Body->BoneCount >= CV_BODY_MAX_COUNT || !GrowByOne(Body->Bones, Body->BoneCount) ||
      !cvStrBlock_Append(&Body->BoneNames, Name ? Name : "")) {
    CV_ERROR(96);
    return 0;
  }
  cvBodyBone& bone = Body->Bones[Body->BoneCount];
  std::memset(&bone, 0, sizeof bone);
  cvVec3d_Set(&bone.BoxMin, kEmptyBoxMin, kEmptyBoxMin, kEmptyBoxMin);
  cvVec3d_Set(&bone.BoxMax, kEmptyBoxMax, kEmptyBoxMax, kEmptyBoxMax);
  bone.Attachment = *Attachment;
  bone.ParentIndex = (int16_t)ParentIndex;
  if (Index) *Index = Body->BoneCount;
  ++Body->BoneCount;
  return 1;
}

// ---------------------------------------------------------------------------
// Faces
// ---------------------------------------------------------------------------

namespace {

// Finds the first vertex of bone B matching (P, U, V), or appends one. Vertices
// [0, SortedEnd) are known to be in bone order, so the bone's run is found by
// binary search; the rest (appended by this face) are scanned in order.
bool FindOrAddVertex(cvBody* Body, int32_t SortedEnd, const cvVec3d* P, float U, float V,
                     int32_t B, uint16_t* Out) {
  cvBodyVertex* begin = Body->Vertices;
  cvBodyVertex* sortedEnd = begin + SortedEnd;
  auto range = std::equal_range(begin, sortedEnd, (int16_t)B, BoneLess{});
  for (cvBodyVertex* v = range.first; v != range.second; ++v) {
    if (VertexMatches(*v, P, U, V)) {
      *Out = (uint16_t)(v - begin);
      return true;
    }
  }
  for (int32_t i = SortedEnd; i < Body->VertexCount; ++i) {
    if (Body->Vertices[i].BoneIndex == B && VertexMatches(Body->Vertices[i], P, U, V)) {
      *Out = (uint16_t)i;
      return true;
    }
  }
  if (Body->VertexCount >= CV_BODY_MAX_COUNT || !GrowByOne(Body->Vertices, Body->VertexCount)) {
    CV_ERROR(96);
    return false;
  }
  cvBodyVertex& vertex = Body->Vertices[Body->VertexCount];
  std::memset(&vertex, 0, sizeof vertex);
  vertex.Position = *P;
  vertex.U = U;
  vertex.V = V;
  vertex.Active = 1;
  vertex.BoneIndex = (int16_t)B;
  cvBodyBone& bone = Body->Bones[B];
  bone.BoxMin.X = std::min(bone.BoxMin.X, P->X);
  bone.BoxMin.Y = std::min(bone.BoxMin.Y, P->Y);
  bone.BoxMin.Z = std::min(bone.BoxMin.Z, P->Z);
  bone.BoxMax.X = std::max(bone.BoxMax.X, P->X);
  bone.BoxMax.Y = std::max(bone.BoxMax.Y, P->Y);
  bone.BoxMax.Z = std::max(bone.BoxMax.Z, P->Z);
  *Out = (uint16_t)Body->VertexCount;
  ++Body->VertexCount;
  return true;
}

bool FindOrAddNormal(cvBody* Body, const cvVec3d* N, int32_t B, uint16_t* Out) {
  cvVec3d unit = *N;
  cvVec3d_Normalize(&unit);
  for (int32_t i = 0; i < Body->NormalCount; ++i) {
    const cvBodyNormal& normal = Body->Normals[i];
    if (normal.BoneIndex == B && cvVec3d_Compare(&normal.Normal, &unit, CV_BODY_SHARE_TOLERANCE)) {
      *Out = (uint16_t)i;
      return true;
    }
  }
  if (Body->NormalCount >= CV_BODY_MAX_COUNT || !GrowByOne(Body->Normals, Body->NormalCount)) {
    CV_ERROR(96);
    return false;
  }
  cvBodyNormal& normal = Body->Normals[Body->NormalCount];
  std::memset(&normal, 0, sizeof normal);
  normal.Normal = unit;
  normal.Active = 1;
  normal.BoneIndex = (int16_t)B;
  *Out = (uint16_t)Body->NormalCount;
  ++Body->NormalCount;
  return true;
}

// Inserts the face after every face of a lower or equal material, counting
// from the end, so faces of one material keep the order they came in.
bool InsertFace(cvBodyLevel& Level, const cvBodyFace& Face) {
  if (Level.FaceCount >= CV_BODY_MAX_COUNT || Level.FaceCount < 0 ||
      !GrowByOne(Level.Faces, Level.FaceCount)) {
    CV_ERROR(96);
    return false;
  }
  int32_t gap = Level.FaceCount;
  while (gap > 0 && Level.Faces[gap - 1].MaterialIndex > Face.MaterialIndex) {
    Level.Faces[gap] = Level.Faces[gap - 1];
    --gap;
  }
  Level.Faces[gap] = Face;
  ++Level.FaceCount;
  return true;
}

}  // namespace

namespace {

// Reorders the vertices into ascending bone order, keeping the order of
// vertices of one bone (a stable sort, as repeated neighbour swaps would give),
// and renumbers every face of every level so that each still names the same
// corner.
void SortVerticesByBone(cvBody* Body) {
  const int32_t count = Body->VertexCount;
  cvBodyVertex* vertices = Body->Vertices;
  if (count < 2) return;
  int32_t first = (int32_t)(std::is_sorted_until(vertices, vertices + count, BoneLessVertex{}) - vertices);
  if (first == count) return;
  // Everything before the first vertex out of order that is not above it in
  // bone order stays where it is; only [start, count) is rearranged.
  const int16_t lowest = std::min_element(vertices + first, vertices + count, BoneLessVertex{})->BoneIndex;
  const int32_t start =
      (int32_t)(std::upper_bound(vertices, vertices + first, lowest, BoneLess{}) - vertices);
  std::vector<int32_t> order((size_t)(count - start));
  for (int32_t i = start; i < count; ++i) order[(size_t)(i - start)] = i;
  std::stable_sort(order.begin(), order.end(), [vertices](int32_t a, int32_t b) {
    return vertices[a].BoneIndex < vertices[b].BoneIndex;
  });
  std::vector<cvBodyVertex> moved((size_t)(count - start));
  std::vector<uint16_t> newIndex((size_t)(count - start));
  for (size_t k = 0; k < order.size(); ++k) {
    moved[k] = vertices[order[k]];
    newIndex[(size_t)(order[k] - start)] = (uint16_t)(start + (int32_t)k);
  }
  std::copy(moved.begin(), moved.end(), vertices + start);
  for (cvBodyLevel& level : Body->Levels) {
    for (int32_t f = 0; f < level.FaceCount; ++f) {
      for (uint16_t& index : level.Faces[f].VertexIndex) {
        if (index >= start && index < count) index = newIndex[(size_t)(index - start)];
      }
    }
  }
}

}  // namespace

int cvBody_AddFace(cvBody* Body,
                   const cvVec3d* Pos0, const cvVec3d* Normal0, float U0, float V0, int32_t Bone0,
                   const cvVec3d* Pos1, const cvVec3d* Normal1, float U1, float V1, int32_t Bone1,
                   const cvVec3d* Pos2, const cvVec3d* Normal2, float U2, float V2, int32_t Bone2,
                   int32_t MaterialIndex) {
  const cvVec3d* positions[3] = {Pos0, Pos1, Pos2};
  const cvVec3d* normals[3] = {Normal0, Normal1, Normal2};
  const float us[3] = {U0, U1, U2};
  const float vs[3] = {V0, V1, V2};
  const int32_t bones[3] = {Bone0, Bone1, Bone2};
  if (!cvBody_IsValid(Body) || MaterialIndex < 0 || MaterialIndex >= Body->MaterialCount) {
    CV_ERROR(-1);
    return 0;
  }
  for (int c = 0; c < 3; ++c) {
    if (!positions[c] || !normals[c] || bones[c] < 0 || bones[c] >= Body->BoneCount) {
      CV_ERROR(-1);
      return 0;
    }
  }
  const int32_t sortedEnd = (int32_t)(std::is_sorted_until(Body->Vertices,
                                                            Body->Vertices + Body->VertexCount,
                                                            BoneLessVertex{}) -
                                      Body->Vertices);
  cvBodyFace face{};
  face.MaterialIndex = (uint16_t)MaterialIndex;
  for (int c = 0; c < 3; ++c) {
    if (!FindOrAddVertex(Body, sortedEnd, positions[c], us[c], vs[c], bones[c], &face.VertexIndex[c]))
      return 0;
  }
  for (int c = 0; c < 3; ++c) {
    if (!FindOrAddNormal(Body, normals[c], bones[c], &face.NormalIndex[c])) return 0;
  }
  if (!InsertFace(Body->Levels[0], face)) return 0;
  SortVerticesByBone(Body);
  return 1;
}

int cvBody_SetLevelsOfDetail(cvBody* Body) {
  if (!cvBody_IsValid(Body)) {
    CV_ERROR(-1);
    return 0;
  }
  Body->LevelCount = 1;
  return 1;
}
