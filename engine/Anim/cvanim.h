// Animation data of actors: time-keyed arrays, rotation and vector key frames
// with their interpolators, time-keyed events, string blocks, transform
// arrays, paths (a rotation and a translation channel over time) and motions
// (leaf motions with one path per bone, compound motions that mix others).
// Every container has binary and text file forms, read and written through
// cvVFile; all binary fields are little-endian.
//
// Functions return 1/0 for success/failure (or a pointer that is null on
// failure); every failure adds one error-log entry. Element, key, path and
// entry indices are not range-checked unless a comment says so.
//
// Depends on: Math (vectors, transforms, quaternions), VFile, Support.
#pragma once

#include <cstdint>

#include "Math/cvmath.h"
#include "VFile/cvvfile.h"

typedef struct cvVFile cvVFile;

// ===========================================================================
// Time-keyed array
// ===========================================================================

// One block: this header followed by Count elements of ElementSize bytes.
// Each element begins with its Time (f32); times ascend, each at least 1e-5
// after the one before. Any operation that changes the array may move the
// block, so those take the address of the caller's reference.
typedef struct cvTKArray {
  int32_t Count;
  int32_t ElementSize;  // bytes, at least 4
  // Count * ElementSize bytes of elements follow.
} cvTKArray;

// Smallest gap between neighbouring key times.
#define CV_TKARRAY_MIN_SPACING 0.00001f

cvTKArray* cvTKArray_Create(int32_t ElementSize);
// Count elements with undefined contents.
cvTKArray* cvTKArray_CreateEmpty(int32_t ElementSize, int32_t Count);
void cvTKArray_Destroy(cvTKArray** Array);
int32_t cvTKArray_GetCount(const cvTKArray* Array);
int32_t cvTKArray_GetElementSize(const cvTKArray* Array);
void* cvTKArray_GetElement(cvTKArray* Array, int32_t Index);
const void* cvTKArray_GetElementConst(const cvTKArray* Array, int32_t Index);
float cvTKArray_GetTime(const cvTKArray* Array, int32_t Index);
// Index of the element whose Time equals Time, else of the last element
// before Time, else -1 (Time before the first element, or an empty array).
int32_t cvTKArray_FindIndex(const cvTKArray* Array, float Time);
// Inserts an element at Time (its bytes after Time are left for the caller)
// and reports its index. Fails (74) when Time is not at least 1e-5 after the
// element before it.
int cvTKArray_Insert(cvTKArray** Array, float Time, int32_t* Index);
// Always succeeds; the block is shrunk when memory allows.
int cvTKArray_Remove(cvTKArray** Array, int32_t Index);
// 1 below 3 elements, or when every gap differs from the first by at most Tolerance.
int cvTKArray_IsEvenlySpaced(const cvTKArray* Array, float Tolerance);
// Binary form: Count (u32), ElementSize (u32), the elements.
cvTKArray* cvTKArray_CreateFromFile(cvVFile* File);
int cvTKArray_WriteToFile(const cvTKArray* Array, cvVFile* File);

// ===========================================================================
// Rotation and vector key frames (time-keyed arrays of these keys)
// ===========================================================================

typedef struct cvQKFrame_Key {  // linear and slerp keys, 20 bytes
  float Time;
  cvQuaternion Q;
} cvQKFrame_Key;

typedef struct cvQKFrame_SquadKey {  // squad keys, 36 bytes
  float Time;
  cvQuaternion Q;
  cvQuaternion Control;  // squad control quaternion
} cvQKFrame_SquadKey;

typedef struct cvVKFrame_Key {  // linear keys, 16 bytes
  float Time;
  cvVec3d V;
} cvVKFrame_Key;

typedef struct cvVKFrame_HermiteKey {  // Hermite keys, 40 bytes
  float Time;
  cvVec3d V;
  cvVec3d TangentIn;   // derivative arriving at the key
  cvVec3d TangentOut;  // derivative leaving the key
} cvVKFrame_HermiteKey;

// Interpolation codes of the key-block file forms.
enum : int32_t {
  CV_QKFRAME_LINEAR = 0,  // normalised component blend
  CV_QKFRAME_SLERP = 1,
  CV_QKFRAME_SQUAD = 2,
  CV_VKFRAME_LINEAR = 0,
  CV_VKFRAME_HERMITE = 1,            // tangents from the neighbouring keys
  CV_VKFRAME_HERMITE_ZERO_DERIV = 2  // tangents all zero
};

// Compression bits of a key block (the Compression byte of its Flags word).
enum : int32_t {
  CV_KFRAME_COMPRESS_ONEAXIS = 1,   // rotations about one axis: axis once, then angles
  CV_KFRAME_COMPRESS_EVENTIMES = 2  // evenly spaced: start time and step only
};

// Rotation key frames.
cvTKArray* cvQKFrame_CreateLinear(void);
cvTKArray* cvQKFrame_CreateSlerp(void);
cvTKArray* cvQKFrame_CreateSquad(void);
int cvQKFrame_InsertKey(cvTKArray** KeyList, float Time, const cvQuaternion* Q, int32_t* Index);
void cvQKFrame_GetKey(const cvTKArray* KeyList, int32_t Index, float* Time, cvQuaternion* Q);
void cvQKFrame_SetKey(cvTKArray* KeyList, int32_t Index, const cvQuaternion* Q);
// Interpolators between two keys (or one key given twice), T in [0, 1].
// The keys are elements of a key list of the matching kind.
void cvQKFrame_LerpLinear(const void* KeyA, const void* KeyB, float T, cvQuaternion* Result);
void cvQKFrame_LerpSlerp(const void* KeyA, const void* KeyB, float T, cvQuaternion* Result);
void cvQKFrame_LerpSquad(const void* KeyA, const void* KeyB, float T, cvQuaternion* Result);
// Flips keys so that each lies in the same hemisphere as the one before.
void cvQKFrame_AlignHemispheres(cvTKArray* KeyList);
// Aligns hemispheres, then computes every key's Control (squad keys only;
// a list of smaller keys is only aligned).
void cvQKFrame_ComputeSquadControls(int Looped, cvTKArray* KeyList);
int cvQKFrame_WriteBinary(cvVFile* File, const cvTKArray* KeyList, int InterpolationCode, int Looped);
cvTKArray* cvQKFrame_ReadBinary(cvVFile* File, int* InterpolationCode, int* Looped);
int cvQKFrame_WriteText(cvVFile* File, const cvTKArray* KeyList, int InterpolationCode, int Looped);
cvTKArray* cvQKFrame_ReadText(cvVFile* File, int* InterpolationCode, int* Looped);

// Vector key frames.
cvTKArray* cvVKFrame_CreateLinear(void);
cvTKArray* cvVKFrame_CreateHermite(void);
int cvVKFrame_InsertKey(cvTKArray** KeyList, float Time, const cvVec3d* V, int32_t* Index);
void cvVKFrame_GetKey(const cvTKArray* KeyList, int32_t Index, float* Time, cvVec3d* V);
void cvVKFrame_SetKey(cvTKArray* KeyList, int32_t Index, const cvVec3d* V);
void cvVKFrame_LerpLinear(const void* KeyA, const void* KeyB, float T, cvVec3d* Result);
void cvVKFrame_LerpHermite(const void* KeyA, const void* KeyB, float T, cvVec3d* Result);
// Hermite keys only (a list of smaller keys is left alone).
void cvVKFrame_ComputeHermiteTangents(int Looped, int ZeroTangents, cvTKArray* KeyList);
int cvVKFrame_WriteBinary(cvVFile* File, const cvTKArray* KeyList, int InterpolationCode, int Looped);
cvTKArray* cvVKFrame_ReadBinary(cvVFile* File, int* InterpolationCode, int* Looped);
int cvVKFrame_WriteText(cvVFile* File, const cvTKArray* KeyList, int InterpolationCode, int Looped);
cvTKArray* cvVKFrame_ReadText(cvVFile* File, int* InterpolationCode, int* Looped);

// ===========================================================================
// Time-keyed events: texts at times, iterated over a time window
// ===========================================================================

typedef struct cvTKEvents_Key {
  float Time;
  uint32_t Offset;  // position of the event's text in Data
} cvTKEvents_Key;

typedef struct cvTKEvents {
  cvTKArray* Keys;    // cvTKEvents_Key elements
  uint32_t DataSize;  // total bytes of Data
  char* Data;         // NUL-terminated texts one after another, in key order
  float IteratorEnd;  // -9.9e34: no iteration set up
  int32_t IteratorIndex;  // last key returned
} cvTKEvents;

cvTKEvents* cvTKEvents_Create(void);
void cvTKEvents_Destroy(cvTKEvents** Events);
int cvTKEvents_Insert(cvTKEvents* Events, float Time, const char* Text);
// Removes the event at Time (within 1e-5); 84 when there is none.
int cvTKEvents_Delete(cvTKEvents* Events, float Time);
int cvTKEvents_GetExtents(const cvTKEvents* Events, float* FirstTime, float* LastTime);
// Events come out in time order for Start - 1e-5 <= Time < End - 1e-5.
void cvTKEvents_SetupIterator(cvTKEvents* Events, float StartTime, float EndTime);
// Text points into the events' data (valid until they change).
int cvTKEvents_GetNextEvent(cvTKEvents* Events, float* Time, const char** Text);
// Text ("TKEV") or binary ("TKEB") form; another tag is refused (87).
cvTKEvents* cvTKEvents_CreateFromFile(cvVFile* File);
int cvTKEvents_WriteToFile(const cvTKEvents* Events, cvVFile* File);
int cvTKEvents_WriteToBinaryFile(const cvTKEvents* Events, cvVFile* File);

// ===========================================================================
// String block: a counted list of strings in one block
// ===========================================================================

// One block: this header, an offset table of Count u32 values (offset i is
// measured from the start of the table to string i), then the strings, each
// NUL-terminated, 0 to 254 characters. Self is the block's own address.
typedef struct cvStrBlock {
  int32_t Count;
  struct cvStrBlock* Self;
  // Count u32 offsets, then the strings.
} cvStrBlock;

// Longest string a block holds, in characters (its terminator makes 255).
enum : int32_t { CV_STRBLOCK_MAX_STRING = 254 };

cvStrBlock* cvStrBlock_Create(void);
void cvStrBlock_Destroy(cvStrBlock** Block);
// Appends a copy of String (may move the block); 92 for a string too long.
int cvStrBlock_Append(cvStrBlock** Block, const char* String);
int32_t cvStrBlock_GetCount(const cvStrBlock* Block);
// Pointer into the block, valid until it changes; null for an index out of range.
const char* cvStrBlock_GetString(const cvStrBlock* Block, int32_t Index);
// First string equal to String byte for byte; 0 when none is.
int cvStrBlock_FindString(const cvStrBlock* Block, const char* String, int32_t* Index);
// Per string: add each byte as a signed 8-bit value, then multiply by 3
// (32-bit, wrapping). 0 for an empty block.
int32_t cvStrBlock_GetChecksum(const cvStrBlock* Block);
// Bytes of the offset table and the strings.
uint32_t cvStrBlock_GetDataSize(const cvStrBlock* Block);
// Text ("SBLK") or binary ("SBKB") form.
cvStrBlock* cvStrBlock_CreateFromFile(cvVFile* File);
int cvStrBlock_WriteToFile(const cvStrBlock* Block, cvVFile* File);
int cvStrBlock_WriteToBinaryFile(const cvStrBlock* Block, cvVFile* File);

// ===========================================================================
// Transform array
// ===========================================================================

typedef struct cvXFArray {
  int32_t Count;
  cvXForm3d* Elements;
} cvXFArray;

// Count transforms, each the identity.
cvXFArray* cvXFArray_Create(int32_t Count);
void cvXFArray_Destroy(cvXFArray** Array);
cvXForm3d* cvXFArray_GetElements(cvXFArray* Array, int32_t* Count);
void cvXFArray_SetAll(cvXFArray* Array, const cvXForm3d* Transform);

// ===========================================================================
// Paths: a rotation and a translation channel over time
// ===========================================================================

// Interpolation codes given to cvPath_Create.
enum : int32_t {
  CV_PATH_INTERPOLATE_LINEAR = 0,             // translation or rotation
  CV_PATH_INTERPOLATE_HERMITE = 1,            // translation
  CV_PATH_INTERPOLATE_SLERP = 2,              // rotation
  CV_PATH_INTERPOLATE_SQUAD = 3,              // rotation
  CV_PATH_INTERPOLATE_HERMITE_ZERO_DERIV = 7  // translation
};

// Channel bits.
enum : int32_t {
  CV_PATH_ROTATION_CHANNEL = 1,
  CV_PATH_TRANSLATION_CHANNEL = 2,
  CV_PATH_ALL_CHANNELS = 3
};

// Interpolator table indices held in a channel's Interpolation.
enum : int32_t {
  CV_PATH_VK_LINEAR = 0,
  CV_PATH_VK_HERMITE = 1,
  CV_PATH_VK_HERMITE_ZERO = 2,
  CV_PATH_QK_LINEAR = 3,
  CV_PATH_QK_SLERP = 4,
  CV_PATH_QK_SQUAD = 5
};

// Flags word of a path.
enum : uint32_t {
  CV_PATH_FLAG_DIRTY = 1,   // recompute before the next sample
  CV_PATH_FLAG_LOOPED = 2,
  CV_PATH_REFCOUNT_UNIT = 4 // bits 2 and up hold the extra-holder count
};

typedef struct cvPath_Channel {
  cvTKArray* Keys;        // cvQKFrame or cvVKFrame keys; null while there are none
  int32_t Interpolation;  // table index: 0..2 translation, 3..5 rotation
  float StartTime;        // first and last key time, set by the recompute step
  float EndTime;
  int32_t CacheIndexA;    // the two keys used last, and their times
  int32_t CacheIndexB;
  float CacheTimeA;       // 0 and -1 when reset (an empty interval)
  float CacheTimeB;
} cvPath_Channel;

typedef struct cvPath {
  cvPath_Channel Rotation;
  cvPath_Channel Translation;
  uint32_t Flags;
} cvPath;

// Codes as in the table above (an unknown code is refused with -1).
cvPath* cvPath_Create(int TranslationCode, int RotationCode, int Looped);
cvPath* cvPath_CreateCopy(const cvPath* Path);
void cvPath_CreateRef(cvPath* Path);
// Drops one holder; frees the path when it was the last. Clears *Path.
void cvPath_Destroy(cvPath** Path);
int cvPath_IsLooped(const cvPath* Path);
// Channels: CV_PATH_ROTATION_CHANNEL and/or CV_PATH_TRANSLATION_CHANNEL.
int cvPath_InsertKeyframe(cvPath* Path, int Channels, float Time, const cvXForm3d* Transform);
int cvPath_DeleteKeyframe(cvPath* Path, int32_t Index, int Channels);
// Channel 1: the rotation key as a matrix; channel 2: the translation key as
// a translation (identity matrix). Fails for a channel without that key.
int cvPath_GetKeyframe(const cvPath* Path, int32_t Index, int Channel, float* Time, cvXForm3d* Transform);
int cvPath_ModifyKeyframe(cvPath* Path, int32_t Index, int Channels, const cvXForm3d* Transform);
int32_t cvPath_GetKeyframeCount(const cvPath* Path, int Channel);
// Index of the key within 1e-5 of Time, else -1.
int32_t cvPath_GetKeyframeIndex(const cvPath* Path, int Channel, float Time);
int cvPath_GetTimeExtents(const cvPath* Path, float* StartTime, float* EndTime);
// Identity matrix when there are no rotation keys; translation (0, 0, 0) and
// result 0 when there are no translation keys.
int cvPath_Sample(cvPath* Path, float Time, cvXForm3d* Transform);
int cvPath_SampleChannels(cvPath* Path, float Time, cvQuaternion* Rotation, cvVec3d* Translation);
// Text ("PATH", versions 0xF0 to 0xF2) or binary form.
cvPath* cvPath_CreateFromFile(cvVFile* File);
// Text form, version 0xF2 (recomputes the path first).
int cvPath_WriteToFile(cvPath* Path, cvVFile* File);
int cvPath_WriteToBinaryFile(const cvPath* Path, cvVFile* File);

// ===========================================================================
// Motions
// ===========================================================================

enum : int32_t {
  CV_MOTION_TYPE_UNSET = 0,
  CV_MOTION_TYPE_COMPOUND = 1,
  CV_MOTION_TYPE_LEAF = 2
};

typedef struct cvMotion cvMotion;

// One entry of a compound motion.
typedef struct cvMotion_SubMotion {
  float TimeScale;           // local time = (time - TimeOffset) * TimeScale
  float TimeOffset;
  cvPath* BlendPath;         // translation X over local time: the entry's blend weight
  cvXForm3d BaseTransform;
  int32_t HasBaseTransform;
  cvMotion* SubMotion;       // holds one reference
} cvMotion_SubMotion;

struct cvMotion {
  char* Name;             // owned copy, or null
  int32_t RefCount;       // extra holders (0: one holder)
  int32_t MaintainNames;  // 1: Names names every path
  int32_t Type;           // CV_MOTION_TYPE_*
  int32_t Count;          // paths (leaf) or entries (compound)
  int32_t NameChecksum;   // cvStrBlock_GetChecksum of the path names
  cvTKEvents* Events;     // leaf: events or null
  cvMotion_SubMotion* SubMotions;  // compound: Count entries
  cvStrBlock* Names;      // leaf with MaintainNames 1
  cvPath** Paths;         // leaf: Count references
  cvMotion* Self;
};

cvMotion* cvMotion_Create(int MaintainNames);
int cvMotion_IsValid(const cvMotion* Motion);
void cvMotion_CreateRef(cvMotion* Motion);
// Drops one holder; frees the motion (its paths, names, events, entries) at the last.
void cvMotion_Destroy(cvMotion** Motion);
int cvMotion_SetName(cvMotion* Motion, const char* Name);  // null clears it
const char* cvMotion_GetName(const cvMotion* Motion);
// Adds a reference to Path. Name may be null (a motion that maintains names
// then keeps an empty name for it). Makes an unset motion a leaf; refused by
// a compound one (66) and for a name already used (68).
int cvMotion_AddPath(cvMotion* Motion, cvPath* Path, const char* Name, int32_t* Index);
cvPath* cvMotion_GetPathNamed(const cvMotion* Motion, const char* Name);
// Name of path Index of a leaf that maintains names, else null.
const char* cvMotion_GetPathName(const cvMotion* Motion, int32_t Index);
int32_t cvMotion_GetPathCount(const cvMotion* Motion);
cvPath* cvMotion_GetPath(const cvMotion* Motion, int32_t Index);
int cvMotion_GetTimeExtents(const cvMotion* Motion, float* StartTime, float* EndTime);
int32_t cvMotion_GetNameChecksum(const cvMotion* Motion);
// Leaf: path Index (or the path Name). Compound: every entry sampled at its
// local time and blended by its blend weight.
int cvMotion_SampleByIndex(cvMotion* Motion, int32_t Index, float Time, cvXForm3d* Transform);
int cvMotion_SampleByName(cvMotion* Motion, const char* Name, float Time, cvXForm3d* Transform);
// Compound motions: the blended base transforms of the entries; 0 when none contributes.
int cvMotion_SampleBaseTransform(cvMotion* Motion, float Time, cvXForm3d* Transform);

// Events (leaf motions; an unset motion becomes a leaf with its first event).
int cvMotion_InsertEvent(cvMotion* Motion, float Time, const char* Text);
int cvMotion_DeleteEvent(cvMotion* Motion, float Time);
int cvMotion_SetupEventIterator(cvMotion* Motion, float StartTime, float EndTime);
int cvMotion_GetNextEvent(cvMotion* Motion, float* Time, const char** Text);
int cvMotion_GetEventExtents(const cvMotion* Motion, float* FirstTime, float* LastTime);

// Compound motions. AddSubMotion takes a reference to SubMotion and builds
// the entry's blend path with linear translation keys X = BlendStartAmount at
// BlendStartTime and X = BlendEndAmount at BlendEndTime (local times; one key
// when the times are equal). BaseTransform may be null. Makes an unset
// motion compound; refused by a leaf, and when SubMotion contains Motion.
int cvMotion_AddSubMotion(cvMotion* Motion, cvMotion* SubMotion, float TimeScale, float TimeOffset,
                          float BlendStartTime, float BlendStartAmount, float BlendEndTime,
                          float BlendEndAmount, const cvXForm3d* BaseTransform, int32_t* Index);
// Removes entry Index and hands its sub-motion reference to the caller, who
// releases it with cvMotion_Destroy. Null for a bad index or a non-compound motion.
cvMotion* cvMotion_RemoveSubMotion(cvMotion* Motion, int32_t Index);
int32_t cvMotion_GetSubMotionCount(const cvMotion* Motion);
cvMotion* cvMotion_GetSubMotion(const cvMotion* Motion, int32_t Index);
// First entry whose sub-motion has this name.
cvMotion* cvMotion_GetSubMotionNamed(const cvMotion* Motion, const char* Name);
float cvMotion_GetTimeOffset(const cvMotion* Motion, int32_t Index);  // 0 when not compound
int cvMotion_SetTimeOffset(cvMotion* Motion, int32_t Index, float TimeOffset);
float cvMotion_GetTimeScale(const cvMotion* Motion, int32_t Index);  // 1 when not compound
int cvMotion_SetTimeScale(cvMotion* Motion, int32_t Index, float TimeScale);
// Blend weight of entry Index at the motion's Time (the blend path's
// translation X at the entry's local time); 0 when not compound.
float cvMotion_GetBlendAmount(const cvMotion* Motion, int32_t Index, float Time);
cvPath* cvMotion_GetBlendPath(const cvMotion* Motion, int32_t Index);
// Replaces the entry's blend path by a copy of BlendPath.
int cvMotion_SetBlendPath(cvMotion* Motion, int32_t Index, const cvPath* BlendPath);
const cvXForm3d* cvMotion_GetBaseTransform(const cvMotion* Motion, int32_t Index);
int cvMotion_SetBaseTransform(cvMotion* Motion, int32_t Index, const cvXForm3d* BaseTransform);
// True when Other is Motion itself or occurs among its sub-motions, at any depth.
int cvMotion_HasSubMotion(const cvMotion* Motion, const cvMotion* Other);

// Text ("MOTN") or binary ("MTNB") form. Compound motions cannot be written.
cvMotion* cvMotion_CreateFromFile(cvVFile* File);
int cvMotion_WriteToFile(const cvMotion* Motion, cvVFile* File);      // binary
int cvMotion_WriteToTextFile(const cvMotion* Motion, cvVFile* File);  // text
