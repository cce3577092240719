// Actor instance operations, body instances and puppets.
//
// A body instance turns a body's bone-relative vertices into posed, scaled
// vertices. A puppet owns an instance's copy of the materials (registered
// with the world as textures), its lighting settings and an optional floor
// shadow, and draws the posed mesh through the engine. An instance gets its
// puppet from cvActor_PrepareForRendering (the world calls it when the
// actor is added).
#pragma once

#include <cstdint>

#include "Math/cvmath.h"

typedef struct cvVFile cvVFile;
typedef struct cvBitmap cvBitmap;
typedef struct cvBody cvBody;
typedef struct cvPose cvPose;
typedef struct cvMotion cvMotion;
typedef struct cvXFArray cvXFArray;
typedef struct cvActor cvActor;
typedef struct cvEngine cvEngine;
typedef struct cvCamera cvCamera;
typedef struct cvWorld cvWorld;
typedef struct cvFrustum cvFrustum;

typedef struct cvBodyInst cvBodyInst;

// A posed vertex: position (after the bone transform and scale), texture
// coordinates and bone.
typedef struct cvBodyInst_Vertex {
  cvVec3d Position;
  float U, V;
  int32_t BoneIndex;
} cvBodyInst_Vertex;

// A face of the chosen level: 0, MaterialIndex, then per corner its vertex
// index and its normal index.
typedef struct cvBodyInst_Face {
  uint16_t Reserved;
  uint16_t MaterialIndex;
  uint16_t Corner[3][2];
} cvBodyInst_Face;

// What a body instance hands to its puppet each frame.
typedef struct cvBodyInst_Geometry {
  uint16_t VertexCount;
  cvBodyInst_Vertex* Vertices;
  uint16_t NormalCount;
  cvVec3d* Normals;  // rotated by their bones' world transforms
  uint16_t FaceCount;
  cvBodyInst_Face* Faces;
  cvVec3d Max;  // bounds of the transformed vertices
  cvVec3d Min;
} cvBodyInst_Geometry;

typedef struct cvBodyInst {
  const cvBody* Body;
  cvBodyInst_Geometry Geometry;
  int32_t FaceBufferSize;  // bytes held for Geometry.Faces
  int32_t LastLevel;       // level whose faces are in Faces; -1 at first
  int32_t LastFaceCount;   // face count the buffer was made for
  int32_t FaceRebuilds;    // diagnostic: how often Faces was rebuilt
} cvBodyInst;

// An instance's copy of a body material.
typedef struct cvPuppet_Material {
  float Red, Green, Blue;  // 0 ... 255
  int32_t HasBitmap;
  cvBitmap* Bitmap;        // the puppet's own reference, registered with the world
  int32_t DrawWord[2];     // scratch space of the drawing step
} cvPuppet_Material;

typedef struct cvPuppet {
  cvVFile* FileSystem;  // the definition's, stored unchanged
  cvBodyInst* BodyInst;
  int32_t MaterialCount;
  cvPuppet_Material* Materials;
  int32_t MaxLights;        // dynamic lights used; 0 or less: none
  int32_t LightBone;        // joint whose position is the lighting reference; -1 the root
  cvVec3d FillDirection;    // unit vector
  float FillColour[3];      // 0 ... 1
  int32_t FillOn;
  float AmbientColour[3];   // 0 ... 1
  int32_t FloorAmbient;     // take the ambient light from the surface below
  int32_t PerBoneLighting;  // light each bone from its own position
  int32_t ShadowOn;
  float ShadowScale;
  cvBitmap* ShadowBitmap;
  int32_t ShadowBone;
  cvWorld* World;           // where the material bitmaps are registered
} cvPuppet;

// --- Instance operations ----------------------------------------------------
// Bone names: null means the instance's root transform; an unknown name
// fails with error -1.

int32_t cvActor_GetMaterialCount(const cvActor* Actor);
// Bitmap is returned without a new reference.
int cvActor_GetMaterial(const cvActor* Actor, int32_t Index, cvBitmap** Bitmap, float* Red,
                        float* Green, float* Blue);
int cvActor_SetMaterial(cvActor* Actor, int32_t Index, cvBitmap* Bitmap, float Red, float Green,
                        float Blue);
cvPuppet* cvActor_GetPuppet(const cvActor* Actor);

int cvActor_PrepareForRendering(cvActor* Actor, cvWorld* World);
int cvActor_Render(cvActor* Actor, cvEngine* Engine, cvWorld* World, cvCamera* Camera);
int cvActor_RenderThroughFrustum(cvActor* Actor, cvEngine* Engine, cvWorld* World,
                                 cvCamera* Camera, const cvFrustum* Frustum);
// The box the world tests for visibility: the render hint box when enabled,
// else the ExtBox, each moved by its bone. 0 when neither is usable.
int cvActor_GetRenderBox(const cvActor* Actor, cvExtBox* Box);

int cvActor_ClearPose(cvActor* Actor, const cvXForm3d* RootTransform);
int cvActor_SetPose(cvActor* Actor, const cvMotion* Motion, float Time,
                    const cvXForm3d* RootTransform);
int cvActor_BlendPose(cvActor* Actor, const cvMotion* Motion, float Time,
                      const cvXForm3d* RootTransform, float Amount);
int cvActor_GetBoneTransform(const cvActor* Actor, const char* BoneName, cvXForm3d* Transform);
int cvActor_GetBoneAttachment(const cvActor* Actor, const char* BoneName, cvXForm3d* Transform);
int cvActor_SetBoneAttachment(cvActor* Actor, const char* BoneName, const cvXForm3d* Transform);
int cvActor_Attach(cvActor* Slave, const char* SlaveBoneName, cvActor* Master,
                   const char* MasterBoneName, const cvXForm3d* Attachment);
int cvActor_Detach(cvActor* Actor);
int cvActor_SetScale(cvActor* Actor, float X, float Y, float Z);

int cvActor_GetBoneBoundingBox(const cvActor* Actor, const char* BoneName, cvExtBox* Box);
int cvActor_GetBoneOrientedBox(const cvActor* Actor, const char* BoneName, cvVec3d* Corner,
                               cvVec3d* DX, cvVec3d* DY, cvVec3d* DZ);
int cvActor_GetDynamicExtBox(const cvActor* Actor, cvExtBox* Box);
int cvActor_SetExtBox(cvActor* Actor, const cvExtBox* Box, const char* BoneName);
int cvActor_GetExtBox(const cvActor* Actor, cvExtBox* Box);
int cvActor_SetRenderHintExtBox(cvActor* Actor, const cvExtBox* Box, const char* BoneName);
int cvActor_GetRenderHintExtBox(const cvActor* Actor, cvExtBox* Box, int32_t* Enabled);

// Colours on a 0..255 scale.
int cvActor_SetLightingOptions(cvActor* Actor, int32_t FillOn, const cvVec3d* FillDirection,
                               float FillRed, float FillGreen, float FillBlue, float AmbientRed,
                               float AmbientGreen, float AmbientBlue, int32_t FloorAmbient,
                               int32_t MaxLights, const char* LightBoneName,
                               int32_t PerBoneLighting);
int cvActor_SetShadow(cvActor* Actor, int32_t On, float Scale, cvBitmap* Bitmap,
                      const char* BoneName);

int cvActor_AnimationCue(cvActor* Actor, cvMotion* Motion, float TimeScale, float TimeIntoMotion,
                         float BlendTime, float BlendFromAmount, float BlendToAmount,
                         const cvXForm3d* LocalTransform);
int cvActor_AnimationRemoveLastCue(cvActor* Actor);
int cvActor_AnimationStep(cvActor* Actor, float DeltaTime);
int cvActor_AnimationStepBoneOptimized(cvActor* Actor, float DeltaTime, const char* BoneName);
int cvActor_AnimationTestStep(cvActor* Actor, float Time);
int cvActor_AnimationTestStepBoneOptimized(cvActor* Actor, float Time, const char* BoneName);
int cvActor_AnimationNudge(cvActor* Actor, const cvXForm3d* Transform);
int cvActor_GetAnimationEvent(cvActor* Actor, float* Time, const char** Text);

// --- Body instance ----------------------------------------------------------

cvBodyInst* cvBodyInst_Create(const cvBody* Body);
void cvBodyInst_Destroy(cvBodyInst** Instance);
// Posed vertices, rotated normals and the faces of Level. Transforms holds
// one world transform per bone (a pose's cvPose_GetAllJointTransforms);
// with a camera the vertices come out in camera space. Null on failure
// (error 96: no memory; 100: the transform count is not the bone count).
const cvBodyInst_Geometry* cvBodyInst_GetGeometry(cvBodyInst* Instance, const cvVec3d* Scale,
                                                  const cvXFArray* Transforms, int32_t Level,
                                                  const cvCamera* Camera);

// --- Puppet -----------------------------------------------------------------

cvPuppet* cvPuppet_Create(cvVFile* FileSystem, const cvBody* Body, cvWorld* World);
void cvPuppet_Destroy(cvPuppet** Puppet);
// Moves the material registrations from the puppet's world to World (null:
// none). The world calls it when it lets go of an actor, so that the actor
// may outlive the world.
int cvPuppet_SetWorld(cvPuppet* Puppet, cvWorld* World);
int32_t cvPuppet_GetMaterialCount(const cvPuppet* Puppet);
int cvPuppet_GetMaterial(const cvPuppet* Puppet, int32_t Index, cvBitmap** Bitmap, float* Red,
                         float* Green, float* Blue);
int cvPuppet_SetMaterial(cvPuppet* Puppet, int32_t Index, cvBitmap* Bitmap, float Red,
                         float Green, float Blue);
// Colours on a 0..255 scale; LightBone is a joint index (-1: the root).
int cvPuppet_SetLightingOptions(cvPuppet* Puppet, int32_t FillOn, const cvVec3d* FillDirection,
                                float FillRed, float FillGreen, float FillBlue, float AmbientRed,
                                float AmbientGreen, float AmbientBlue, int32_t FloorAmbient,
                                int32_t MaxLights, int32_t LightBone, int32_t PerBoneLighting);
int cvPuppet_GetLightingOptions(const cvPuppet* Puppet, int32_t* FillOn, cvVec3d* FillDirection,
                                float* FillRed, float* FillGreen, float* FillBlue,
                                float* AmbientRed, float* AmbientGreen, float* AmbientBlue,
                                int32_t* FloorAmbient, int32_t* MaxLights, int32_t* LightBone,
                                int32_t* PerBoneLighting);
int cvPuppet_SetShadow(cvPuppet* Puppet, int32_t On, float Scale, cvBitmap* Bitmap,
                       int32_t ShadowBone);
// Box (may be null): the world-space box tested against the view.
int cvPuppet_Render(cvPuppet* Puppet, cvPose* Pose, cvEngine* Engine, cvWorld* World,
                    cvCamera* Camera, const cvExtBox* Box);
int cvPuppet_RenderThroughFrustum(cvPuppet* Puppet, cvPose* Pose, const cvExtBox* Box,
                                  cvEngine* Engine, cvWorld* World, cvCamera* Camera,
                                  const cvFrustum* Frustum);
// The number of live puppets in the process.
int32_t cvPuppet_GetCount(void);
