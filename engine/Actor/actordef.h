// Actor definitions, actor files and actor instances.
//
// A definition (cvActorDef) is the shareable description of a character: one
// body and an ordered list of motions, as an actor file holds them. An
// instance (cvActor) is a posed use of a definition: its own pose (one joint
// per body bone), cue motion, boxes and, once put into a world, its puppet.
// Both are reference counted: a new object has RefCount 0 (one holder),
// CreateRef adds a holder, Destroy takes one away and frees at 0.
//
// The actor file is an archive holding "Header" (16 bytes: "ACTR", version
// 0xF1, HasBody, MotionCount), "Body" (a body file) when there is a body, and
// the directory "Motions" with entries "0", "1", ... in binary motion form.
//
// The instance operations that need the puppet (materials, rendering,
// animation cues, boxes) are declared in Actor/puppet.h.
//
// Depends on: Actor/body.h, Actor/pose.h, Anim/cvanim.h (motions), VFile, Math.
#pragma once

#include <cstdint>

#include "Anim/cvanim.h"
#include "Actor/body.h"
#include "Actor/pose.h"
#include "Math/cvmath.h"
#include "VFile/cvvfile.h"

typedef struct cvMotion cvMotion;
typedef struct cvPuppet cvPuppet;

enum : uint32_t { CV_ACTOR_TAG = 0x52544341u /* "ACTR" */, CV_ACTOR_VERSION = 0xF1u };
// Most motions a definition holds.
enum : int32_t { CV_ACTOR_MAX_MOTIONS = 65535 };

typedef struct cvActorDef {
  cvBody* Body;           // owned; may be null
  cvVFile* FileSystem;    // file system the definition may draw on; null for definitions read from a file (their archive is closed after reading)
  int32_t MotionCount;
  cvMotion** Motions;     // MotionCount owned references
  int32_t RefCount;       // extra holders
  struct cvActorDef* Self;
} cvActorDef;

typedef struct cvActor {
  int32_t RefCount;         // extra holders
  cvPuppet* Puppet;         // made when the instance is prepared for rendering
  cvPose* Pose;             // joint i mirrors body bone i
  int32_t BlendingType;     // 1: smooth blending weight
  cvActorDef* Definition;   // the instance holds one reference on it
  cvMotion* CueMotion;      // compound motion of the animation cues
  cvExtBox ExtBox;          // relative to ExtBoxBone
  int32_t ExtBoxBone;       // -1: the root transform
  int32_t CueBone;          // bone remembered by the bone-optimised steps
  int32_t UserValue;
  cvExtBox RenderHintBox;   // relative to RenderHintBone
  int32_t RenderHintBone;
  int32_t RenderHintEnabled;
} cvActor;

// --- Definitions -----------------------------------------------------------
cvActorDef* cvActorDef_Create(void);
int cvActorDef_CreateRef(cvActorDef* Def);
// Drops a holder: returns 0 while others remain; otherwise destroys the body
// and motions, frees the definition, clears *Def and returns 1.
int cvActorDef_Destroy(cvActorDef** Def);
int cvActorDef_IsValid(const cvActorDef* Def);
cvBody* cvActorDef_GetBody(const cvActorDef* Def);
// Destroys the current body and keeps Body (null removes it). Refused (error
// -1) while instances share the definition.
int cvActorDef_SetBody(cvActorDef* Def, cvBody* Body);
// Appends Motion and takes ownership of it; *Number receives the new count.
int cvActorDef_AddMotion(cvActorDef* Def, cvMotion* Motion, int32_t* Number);
int32_t cvActorDef_GetMotionCount(const cvActorDef* Def);
// Null for an index out of range.
cvMotion* cvActorDef_GetMotionByIndex(const cvActorDef* Def, int32_t Index);
// First motion with exactly this name, or null.
cvMotion* cvActorDef_GetMotionByName(const cvActorDef* Def, const char* Name);
const char* cvActorDef_GetMotionName(const cvActorDef* Def, int32_t Index);
int cvActorDef_HasBoneNamed(const cvActorDef* Def, const char* Name);
// Reads an actor file from File, opened read-only by the caller.
cvActorDef* cvActorDef_CreateFromFile(cvVFile* File);
// Writes an actor file into File, created for writing by the caller.
int cvActorDef_WriteToFile(const cvActorDef* Def, cvVFile* File);
// Live definitions (diagnostic).
int32_t cvActorDef_GetCount(void);

// --- Instances -------------------------------------------------------------
// A new instance of a definition that has a body; takes a reference on Def.
cvActor* cvActor_Create(cvActorDef* Def);
int cvActor_CreateRef(cvActor* Actor);
// Drops a holder; at the last one releases the definition, destroys the
// puppet, pose and cue motion, frees the instance and clears *Actor.
int cvActor_Destroy(cvActor** Actor);
int cvActor_IsValid(const cvActor* Actor);
// Live instances.
int32_t cvActor_GetCount(void);
cvActorDef* cvActor_GetActorDef(const cvActor* Actor);
int cvActor_SetBlendingType(cvActor* Actor, int32_t Flag);
int32_t cvActor_GetUserValue(const cvActor* Actor);
int cvActor_SetUserValue(cvActor* Actor, int32_t Value);
// Turns a bone name into a joint index for instance operations: null gives
// -1 (the root transform); an unknown name is error -1 and 0.
int cvActor_GetBoneIndex(const cvActor* Actor, const char* BoneName, int32_t* Index);
