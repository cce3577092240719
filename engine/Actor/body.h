// Bodies: one skinned triangle mesh whose vertices and normals each follow one
// bone, the bone hierarchy with each bone's rest transform, the materials
// (unique name, optional texture bitmap, colour) and up to four
// level-of-detail face lists; and the body file (an archive holding the
// "Geometry" stream and a "Bitmaps" directory with one bitmap per textured
// material).
//
// Depends on: Math, VFile, Bitmap (material textures), Anim/cvanim.h (string
// blocks for bone and material names), Support (memory, error log).
#pragma once

#include <cstdint>

#include "Anim/cvanim.h"
#include "Bitmap/cvbitmap.h"
#include "Math/cvmath.h"
#include "VFile/cvvfile.h"

typedef struct cvBitmap cvBitmap;
typedef struct cvStrBlock cvStrBlock;

// The geometry stream starts with these bytes "BOD^" and this version.
enum : uint32_t { CV_BODY_TAG = 0x5E444F42u, CV_BODY_VERSION = 0xF1u };
// Face lists a body holds; level 0 is the full mesh.
enum : int32_t { CV_BODY_MAX_LEVELS = 4 };
// Largest count of vertices, normals, bones, materials or faces of one level.
enum : int32_t { CV_BODY_MAX_COUNT = 32767 };
// Positions, texture coordinates and normals closer than this are shared.
#define CV_BODY_SHARE_TOLERANCE 0.001f

// A vertex, in its bone's space (24 bytes in the file).
typedef struct cvBodyVertex {
  cvVec3d Position;
  float U;
  float V;
  uint8_t Active;    // 1 once added; only active vertices are transformed
  uint8_t Reserved;  // written as 0
  int16_t BoneIndex;
} cvBodyVertex;

// A unit normal, in its bone's space (16 bytes in the file).
typedef struct cvBodyNormal {
  cvVec3d Normal;
  uint8_t Active;
  uint8_t Reserved;
  int16_t BoneIndex;
} cvBodyNormal;

// A bone (76 bytes in the file). The box bounds the vertices attached to the
// bone, in bone space; BoxMin.X > BoxMax.X means no vertex yet.
typedef struct cvBodyBone {
  cvVec3d BoxMin;
  cvVec3d BoxMax;
  cvXForm3d Attachment;  // rest transform relative to the parent bone
  int16_t ParentIndex;   // -1 for a root bone; otherwise an earlier bone
  uint8_t Reserved[2];
} cvBodyBone;

// A material. In memory Bitmap is the body's own reference (or null); in the
// file the record is 16 bytes: a 32-bit word (0 = no bitmap, 1 = the
// "Bitmaps" directory holds one) and the three colour values.
typedef struct cvBodyMaterial {
  cvBitmap* Bitmap;
  float Red;  // 0 ... 255
  float Green;
  float Blue;
} cvBodyMaterial;

// A triangle (14 bytes in the file).
typedef struct cvBodyFace {
  uint16_t VertexIndex[3];
  uint16_t NormalIndex[3];
  uint16_t MaterialIndex;
} cvBodyFace;

// One level-of-detail face list, kept in ascending MaterialIndex order (faces
// of one material in the order they were added).
typedef struct cvBodyLevel {
  int16_t FaceCount;
  cvBodyFace* Faces;
} cvBodyLevel;

typedef struct cvBody {
  cvVec3d BoxMin;  // whole-body box; zero in a new body
  cvVec3d BoxMax;
  int16_t VertexCount;
  cvBodyVertex* Vertices;  // in ascending BoneIndex order
  int16_t NormalCount;
  cvBodyNormal* Normals;
  int16_t BoneCount;
  cvBodyBone* Bones;
  cvStrBlock* BoneNames;  // string i names bone i
  int16_t MaterialCount;
  cvBodyMaterial* Materials;
  cvStrBlock* MaterialNames;  // string i names material i; names are unique
  int32_t LevelCount;         // 1 ... 4 face lists in use
  cvBodyLevel Levels[CV_BODY_MAX_LEVELS];
  struct cvBody* Self;  // the body's own address while it is alive
} cvBody;

// Empty body: no vertices, normals, bones or materials, level count 1, zero box.
cvBody* cvBody_Create(void);
// Frees everything the body owns (releasing each material bitmap) and clears *Body.
void cvBody_Destroy(cvBody** Body);
int cvBody_IsValid(const cvBody* Body);

// Counts; FaceCount is that of the given level (0 for a level out of range).
int cvBody_GetGeometryStats(const cvBody* Body, int32_t Level, int32_t* VertexCount,
                            int32_t* FaceCount, int32_t* NormalCount);
int32_t cvBody_GetBoneCount(const cvBody* Body);
// Name points into the body (not copied); any output may be null.
int cvBody_GetBone(const cvBody* Body, int32_t Index, const char** Name, cvXForm3d* Attachment,
                   int32_t* ParentIndex);
// First bone with exactly this name (case-sensitive); 0 when there is none.
int cvBody_GetBoneByName(const cvBody* Body, const char* Name, int32_t* Index,
                         cvXForm3d* Attachment, int32_t* ParentIndex);
// Checksum of the bone names (as motions record it); 0 without a name block.
int32_t cvBody_GetBoneNameChecksum(const cvBody* Body);
// BoneIndex -1: the whole-body box (always 1). Otherwise the bone's box; 0
// when the bone has no vertices.
int cvBody_GetBoundingBox(const cvBody* Body, int32_t BoneIndex, cvVec3d* Min, cvVec3d* Max);
int cvBody_SetBoundingBox(cvBody* Body, int32_t BoneIndex, const cvVec3d* Min, const cvVec3d* Max);

int32_t cvBody_GetMaterialCount(const cvBody* Body);
// Name points into the body; Bitmap is the body's reference (no new one is
// taken) or null. Any output may be null.
int cvBody_GetMaterial(const cvBody* Body, int32_t Index, const char** Name, cvBitmap** Bitmap,
                       float* Red, float* Green, float* Blue);
// Stores the bitmap (taking a reference on it) and the colour. The reference
// on the bitmap it replaces is released; setting the same bitmap again only
// changes the colour.
int cvBody_SetMaterial(cvBody* Body, int32_t Index, cvBitmap* Bitmap, float Red, float Green,
                       float Blue);
// Appends a material with a unique, non-empty name (error -1 otherwise); the
// body takes a reference on Bitmap when it is given.
int cvBody_AddMaterial(cvBody* Body, const char* Name, cvBitmap* Bitmap, float Red, float Green,
                       float Blue, int32_t* Index);
// Appends a bone with an empty box. ParentIndex is -1 or an existing bone.
int cvBody_AddBone(cvBody* Body, int32_t ParentIndex, const char* Name,
                   const cvXForm3d* Attachment, int32_t* Index);
// Adds a triangle to level 0. Each corner gives its position and normal in
// its bone's space, its texture coordinates and its bone; corners equal
// within CV_BODY_SHARE_TOLERANCE on the same bone share a vertex (and a
// normal). Bones and the material must exist already.
int cvBody_AddFace(cvBody* Body,
                   const cvVec3d* Pos0, const cvVec3d* Normal0, float U0, float V0, int32_t Bone0,
                   const cvVec3d* Pos1, const cvVec3d* Normal1, float U1, float V1, int32_t Bone1,
                   const cvVec3d* Pos2, const cvVec3d* Normal2, float U2, float V2, int32_t Bone2,
                   int32_t MaterialIndex);
// Sets the level count to 1 (the only level builder there is).
int cvBody_SetLevelsOfDetail(cvBody* Body);

// Reads a body file: File is an open file holding the body archive.
cvBody* cvBody_CreateFromFile(cvVFile* File);
// Writes a body file into File, an open file created for writing.
int cvBody_WriteToFile(cvBody* Body, cvVFile* File);
