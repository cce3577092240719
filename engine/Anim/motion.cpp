// Motions: the animation of a whole skeleton. A leaf motion holds one path
// per bone (optionally named, with a checksum of the names) and time-keyed
// events; a compound motion mixes other motions, each with a time scale, a
// time offset, a blend-weight path and an optional base transform. Leaf
// motions are stored in actor files in the binary "MTNB" form; "MOTN" is the
// text form.
#include <cmath>
#include <cstring>
#include <string>
#include <utility>

#include "Anim/cvanim.h"
#include "Anim/anim_util.h"
#include "Support/cvsupport.h"

using namespace cvanim;

namespace {

constexpr uint32_t kVersion = 0xF0;

float LocalTime(const cvMotion_SubMotion& Entry, float Time) { return (Time - Entry.TimeOffset) * Entry.TimeScale; }

float BlendWeight(const cvMotion_SubMotion& Entry, float LocalTime) {
  if (!Entry.BlendPath) return 0.0f;
  cvVec3d v;
  cvPath_SampleChannels(Entry.BlendPath, LocalTime, nullptr, &v);
  return v.X;
}

// The running blend of a compound motion's entries: the first contribution
// sets it, each later one is mixed in by its weight.
struct Blend {
  bool Any = false;
  cvQuaternion Rotation{1.0f, 0.0f, 0.0f, 0.0f};
  cvVec3d Translation{0.0f, 0.0f, 0.0f};

  void Add(const cvXForm3d& Transform, float Weight) {
    cvQuaternion q;
    cvQuaternion_SetNoRotation(&q);
    cvQuaternion_FromMatrix(&Transform, &q);
    if (!Any) {
      Rotation = q;
      Translation = Transform.T;
      Any = true;
      return;
    }
    cvQuaternion mixed;
    cvQuaternion_Slerp(&Rotation, &q, Weight, &mixed);
    Rotation = mixed;
    Translation.X += (Transform.T.X - Translation.X) * Weight;
    Translation.Y += (Transform.T.Y - Translation.Y) * Weight;
    Translation.Z += (Transform.T.Z - Translation.Z) * Weight;
  }
  void Get(cvXForm3d* Transform) const {
    cvQuaternion_ToMatrix(&Rotation, Transform);
    Transform->T = Translation;
  }
};

// Samples by index (Name null) or by name. Found reports whether the motion
// has such a path at all; the result is the path's sample result.
int Sample(cvMotion* Motion, int32_t Index, const char* Name, float Time, cvXForm3d* Transform, bool* Found) {
  *Found = false;
  if (Motion->Type == CV_MOTION_TYPE_LEAF) {
    cvPath* path = Name ? cvMotion_GetPathNamed(Motion, Name) : cvMotion_GetPath(Motion, Index);
    if (!path) return 0;
    *Found = true;
    return cvPath_Sample(path, Time, Transform);
  }
  Blend blend;
  if (Motion->Type == CV_MOTION_TYPE_COMPOUND) {
    for (int32_t i = 0; i < Motion->Count; ++i) {
      const cvMotion_SubMotion& e = Motion->SubMotions[i];
      const float local = LocalTime(e, Time);
      cvXForm3d sample;
      bool found = false;
      Sample(e.SubMotion, Index, Name, local, &sample, &found);
      if (found) blend.Add(sample, BlendWeight(e, local));
    }
  }
  blend.Get(Transform);
  *Found = blend.Any;
  return blend.Any ? 1 : 0;
}

int SampleBase(cvMotion* Motion, float Time, cvXForm3d* Transform) {
  if (Motion->Type != CV_MOTION_TYPE_COMPOUND) return 0;
  Blend blend;
  for (int32_t i = 0; i < Motion->Count; ++i) {
    const cvMotion_SubMotion& e = Motion->SubMotions[i];
    const float local = LocalTime(e, Time);
    cvXForm3d sub, contribution;
    if (SampleBase(e.SubMotion, local, &sub)) {
      if (e.HasBaseTransform)
        cvXForm3d_Multiply(&e.BaseTransform, &sub, &contribution);
      else
        contribution = sub;
    } else if (e.HasBaseTransform) {
      contribution = e.BaseTransform;
    } else {
      continue;
    }
    blend.Add(contribution, BlendWeight(e, local));
  }
  if (!blend.Any) return 0;
  blend.Get(Transform);
  return 1;
}

void FreeMotion(cvMotion* Motion) {
  cvRam_Free(Motion->Name);
  if (Motion->Type == CV_MOTION_TYPE_LEAF) {
    for (int32_t i = 0; i < Motion->Count; ++i) cvPath_Destroy(&Motion->Paths[i]);
  }
  cvRam_Free(Motion->Paths);
  cvStrBlock_Destroy(&Motion->Names);
  cvTKEvents_Destroy(&Motion->Events);
  if (Motion->Type == CV_MOTION_TYPE_COMPOUND) {
    for (int32_t i = 0; i < Motion->Count; ++i) {
      cvMotion_Destroy(&Motion->SubMotions[i].SubMotion);
      cvPath_Destroy(&Motion->SubMotions[i].BlendPath);
    }
  }
  cvRam_Free(Motion->SubMotions);
  Motion->Self = nullptr;
  cvRam_Free(Motion);
}

// Makes an unset motion a leaf (with its name block when it keeps names).
int BecomeLeaf(cvMotion* Motion) {
  if (Motion->Type == CV_MOTION_TYPE_LEAF) return 1;
  if (Motion->Type != CV_MOTION_TYPE_UNSET) return 0;
  if (Motion->MaintainNames == 1 && !Motion->Names) {
    Motion->Names = cvStrBlock_Create();
    if (!Motion->Names) return 0;
  }
  Motion->Type = CV_MOTION_TYPE_LEAF;
  return 1;
}

cvMotion_SubMotion* Entry(const cvMotion* Motion, int32_t Index) {
  if (Motion->Type != CV_MOTION_TYPE_COMPOUND || Index < 0 || Index >= Motion->Count) return nullptr;
  return &Motion->SubMotions[Index];
}

// Runs Change(entry) on entry Index of a compound motion; logs -1 and fails
// when there is no such entry.
template <class F>
int ChangeEntry(cvMotion* Motion, int32_t Index, F Change) {
  cvMotion_SubMotion* e = Entry(Motion, Index);
  if (!e) {
    CV_ERROR(-1);
    return 0;
  }
  Change(*e);
  return 1;
}

// Paths and names of a motion read from a file must agree: a motion that keeps
// names has exactly one per path, one that does not keeps none.
bool NamesConsistent(cvMotion* Motion) {
  if (Motion->MaintainNames == 1) {
    if (!Motion->Names && Motion->Count == 0) Motion->Names = cvStrBlock_Create();
    return Motion->Names && Motion->Names->Count == Motion->Count;
  }
  return Motion->Names == nullptr;
}

void DestroyQuietly(cvMotion* Motion) {
  Motion->RefCount = 0;
  FreeMotion(Motion);
}

// ---------------------------------------------------------------------------
// Binary form
// ---------------------------------------------------------------------------

cvMotion* ReadBinary(cvVFile* File) {
  uint32_t version = 0, info = 0;
  if (!cvVFile_ReadLE32(File, &version) || version != kVersion || !cvVFile_ReadLE32(File, &info)) {
    CV_ERROR(71);
    return nullptr;
  }
  const uint32_t nameLength = info & 0xFFFF, type = info >> 24;
  cvMotion* motion = cvMotion_Create((info >> 16) & 1);
  if (!motion) return nullptr;
  auto fail = [&](int Code) {
    DestroyQuietly(motion);
    CV_ERROR(Code);
    return nullptr;
  };
  if (nameLength > 0) {
    std::string name(nameLength, '\0');
    if (!cvVFile_Read(File, name.data(), nameLength) || name[nameLength - 1] != '\0') return fail(71);
    if (!cvMotion_SetName(motion, name.c_str())) return fail(65);
  }
  if (type == CV_MOTION_TYPE_UNSET) return motion;
  if (type != CV_MOTION_TYPE_LEAF) return fail(71);
  uint32_t pathCount = 0, checksum = 0, contents = 0;
  if (!cvVFile_ReadLE32(File, &pathCount) || !cvVFile_ReadLE32(File, &checksum) || !cvVFile_ReadLE32(File, &contents) ||
      pathCount > 0x7FFFFFFF || (contents & ~3u) != 0 ||
      // Every path takes at least its 4-byte header.
      static_cast<uint64_t>(pathCount) * 4 > Remaining(File))
    return fail(71);
  motion->Type = CV_MOTION_TYPE_LEAF;
  motion->NameChecksum = static_cast<int32_t>(checksum);
  if ((contents & 1) && !(motion->Events = cvTKEvents_CreateFromFile(File))) return fail(71);
  if ((contents & 2) && !(motion->Names = cvStrBlock_CreateFromFile(File))) return fail(71);
  if (pathCount > 0) {
    motion->Paths = static_cast<cvPath**>(cvRam_AllocateClear(sizeof(cvPath*) * pathCount));
    if (!motion->Paths) return fail(65);
  }
  for (uint32_t i = 0; i < pathCount; ++i) {
    cvPath* path = cvPath_CreateFromFile(File);
    if (!path) return fail(71);
    motion->Paths[i] = path;
    motion->Count++;
  }
  if (!NamesConsistent(motion)) return fail(71);
  return motion;
}

// ---------------------------------------------------------------------------
// Text form
// ---------------------------------------------------------------------------

cvMotion* ReadText(cvVFile* File) {
  uint32_t version = 0;
  if (!ReadVersionLine(File, &version)) {
    CV_ERROR(71);
    return nullptr;
  }
  cvMotion* motion = cvMotion_Create(0);
  if (!motion) return nullptr;
  motion->Type = CV_MOTION_TYPE_LEAF;
  auto fail = [&](int Code) {
    DestroyQuietly(motion);
    CV_ERROR(Code);
    return nullptr;
  };
  const int wanted = version >= kVersion ? 6 : 0;
  int sections = 0;
  int32_t pathCount = -1;
  bool seen[6] = {};
  char line[kMaxLine + 1];
  while (sections < wanted) {
    if (!ReadLine(File, line, kMaxLine)) break;
    if (StartsWithNoCase(line, "NameID")) {
      if (std::strlen(line) > 7 && !cvMotion_SetName(motion, line + 7)) return fail(66);
      continue;
    }
    static const char* const kSections[6] = {"MaintainNames", "PathCount", "NameChecksum",
                                             "Events",        "NameArray", "PathArray"};
    int which = -1;
    for (int i = 0; i < 6 && which < 0; ++i)
      if (StartsWithNoCase(line, kSections[i])) which = i;
    if (which < 0) continue;  // other lines are skipped
    if (seen[which]) return fail(71);
    seen[which] = true;
    int32_t value = 0;
    if (!TextCursor(line + std::strlen(kSections[which])).Int(&value)) return fail(71);
    switch (which) {
      case 0: motion->MaintainNames = value ? 1 : 0; break;
      case 1:
        if (value < 0) return fail(71);
        pathCount = value;
        break;
      case 2: motion->NameChecksum = value; break;
      case 3:
        if (value && !(motion->Events = cvTKEvents_CreateFromFile(File))) return fail(71);
        break;
      case 4:
        if (value && !(motion->Names = cvStrBlock_CreateFromFile(File))) return fail(71);
        break;
      case 5: {
        if (value < 0 || static_cast<uint64_t>(value) * 4 > Remaining(File)) return fail(71);
        if (value > 0) {
          motion->Paths = static_cast<cvPath**>(cvRam_AllocateClear(sizeof(cvPath*) * static_cast<size_t>(value)));
          if (!motion->Paths) return fail(66);
        }
        for (int32_t i = 0; i < value; ++i) {
          cvPath* path = cvPath_CreateFromFile(File);
          if (!path) return fail(71);
          motion->Paths[i] = path;
          motion->Count++;
        }
        break;
      }
    }
    ++sections;
  }
  if (sections < wanted) return fail(73);
  if ((pathCount >= 0 && pathCount != motion->Count) || !NamesConsistent(motion)) return fail(71);
  return motion;
}

}  // namespace

cvMotion* cvMotion_Create(int MaintainNames) {
  cvMotion* motion = static_cast<cvMotion*>(cvRam_AllocateClear(sizeof(cvMotion)));
  if (!motion) {
    CV_ERROR(65);
    return nullptr;
  }
  motion->MaintainNames = MaintainNames ? 1 : 0;
  motion->Type = CV_MOTION_TYPE_UNSET;
  motion->Self = motion;
  return motion;
}

int cvMotion_IsValid(const cvMotion* Motion) { return Motion && Motion->Self == Motion; }

void cvMotion_CreateRef(cvMotion* Motion) { Motion->RefCount++; }

void cvMotion_Destroy(cvMotion** Motion) {
  if (!Motion || !*Motion) return;
  cvMotion* motion = *Motion;
  *Motion = nullptr;
  if (motion->RefCount > 0) {
    motion->RefCount--;
    return;
  }
  FreeMotion(motion);
}

int cvMotion_SetName(cvMotion* Motion, const char* Name) {
  char* copy = nullptr;
  if (Name) {
    const size_t length = std::strlen(Name) + 1;
    copy = static_cast<char*>(cvRam_Allocate(length));
    if (!copy) {
      CV_ERROR(65);
      return 0;
    }
    std::memcpy(copy, Name, length);
  }
  cvRam_Free(Motion->Name);
  Motion->Name = copy;
  return 1;
}

const char* cvMotion_GetName(const cvMotion* Motion) { return Motion->Name; }

int cvMotion_AddPath(cvMotion* Motion, cvPath* Path, const char* Name, int32_t* Index) {
  if (!Path) {
    CV_ERROR(-1);
    return 0;
  }
  if (Motion->Type == CV_MOTION_TYPE_COMPOUND) {
    CV_ERROR(66);
    return 0;
  }
  if (!BecomeLeaf(Motion)) {
    CV_ERROR(-1);
    return 0;
  }
  if (Name && cvMotion_GetPathNamed(Motion, Name)) {
    CV_ERROR(68);
    return 0;
  }
  if (Motion->Count == 0x7FFFFFFF) {
    CV_ERROR(66);
    return 0;
  }
  cvPath** paths = static_cast<cvPath**>(cvRam_Realloc(Motion->Paths, sizeof(cvPath*) * (static_cast<size_t>(Motion->Count) + 1)));
  if (!paths) {
    CV_ERROR(66);
    return 0;
  }
  Motion->Paths = paths;
  paths[Motion->Count] = Path;
  if (Motion->MaintainNames == 1) {
    // The path's reference is taken only once the name is in, so a failure
    // here leaves the caller's path untouched.
    if (!cvStrBlock_Append(&Motion->Names, Name ? Name : "")) {
      CV_ERROR(66);
      return 0;
    }
    Motion->NameChecksum = cvStrBlock_GetChecksum(Motion->Names);
  }
  if (Index) *Index = Motion->Count;
  Motion->Count++;
  cvPath_CreateRef(Path);
  return 1;
}

cvPath* cvMotion_GetPathNamed(const cvMotion* Motion, const char* Name) {
  if (Motion->Type != CV_MOTION_TYPE_LEAF || Motion->MaintainNames != 1 || !Name) return nullptr;
  int32_t index = -1;
  if (!cvStrBlock_FindString(Motion->Names, Name, &index) || index >= Motion->Count) return nullptr;
  return Motion->Paths[index];
}

const char* cvMotion_GetPathName(const cvMotion* Motion, int32_t Index) {
  if (Motion->Type != CV_MOTION_TYPE_LEAF || Motion->MaintainNames != 1) return nullptr;
  return cvStrBlock_GetString(Motion->Names, Index);
}

int32_t cvMotion_GetPathCount(const cvMotion* Motion) {
  return Motion->Type == CV_MOTION_TYPE_LEAF ? Motion->Count : 0;
}

cvPath* cvMotion_GetPath(const cvMotion* Motion, int32_t Index) {
  if (Motion->Type != CV_MOTION_TYPE_LEAF || Index < 0 || Index >= Motion->Count) return nullptr;
  return Motion->Paths[Index];
}

int cvMotion_GetTimeExtents(const cvMotion* Motion, float* StartTime, float* EndTime) {
  bool any = false;
  float start = 0.0f, end = 0.0f;
  auto take = [&](float s, float e) {
    if (!std::isfinite(s) || !std::isfinite(e)) return;
    if (s > e) std::swap(s, e);
    start = any ? std::fmin(start, s) : s;
    end = any ? std::fmax(end, e) : e;
    any = true;
  };
  for (int32_t i = 0; i < Motion->Count; ++i) {
    float s = 0.0f, e = 0.0f;
    if (Motion->Type == CV_MOTION_TYPE_LEAF) {
      if (cvPath_GetTimeExtents(Motion->Paths[i], &s, &e)) take(s, e);
    } else if (Motion->Type == CV_MOTION_TYPE_COMPOUND) {
      const cvMotion_SubMotion& entry = Motion->SubMotions[i];
      if (cvMotion_GetTimeExtents(entry.SubMotion, &s, &e))
        take(s / entry.TimeScale + entry.TimeOffset, e / entry.TimeScale + entry.TimeOffset);
    }
  }
  if (!any) return 0;
  if (StartTime) *StartTime = start;
  if (EndTime) *EndTime = end;
  return 1;
}

int32_t cvMotion_GetNameChecksum(const cvMotion* Motion) {
  if (Motion->Type == CV_MOTION_TYPE_LEAF) return Motion->NameChecksum;
  if (Motion->Type != CV_MOTION_TYPE_COMPOUND || Motion->Count == 0) return 0;
  const int32_t first = cvMotion_GetNameChecksum(Motion->SubMotions[0].SubMotion);
  for (int32_t i = 1; i < Motion->Count; ++i)
    if (cvMotion_GetNameChecksum(Motion->SubMotions[i].SubMotion) != first) return 0;
  return first;
}

int cvMotion_SampleByIndex(cvMotion* Motion, int32_t Index, float Time, cvXForm3d* Transform) {
  bool found = false;
  return Sample(Motion, Index, nullptr, Time, Transform, &found);
}

int cvMotion_SampleByName(cvMotion* Motion, const char* Name, float Time, cvXForm3d* Transform) {
  if (!Name) return 0;
  bool found = false;
  return Sample(Motion, -1, Name, Time, Transform, &found);
}

int cvMotion_SampleBaseTransform(cvMotion* Motion, float Time, cvXForm3d* Transform) {
  return SampleBase(Motion, Time, Transform);
}

int cvMotion_InsertEvent(cvMotion* Motion, float Time, const char* Text) {
  if (!BecomeLeaf(Motion)) {
    CV_ERROR(69);
    return 0;
  }
  if (!Motion->Events && !(Motion->Events = cvTKEvents_Create())) return 0;
  return cvTKEvents_Insert(Motion->Events, Time, Text);
}

int cvMotion_DeleteEvent(cvMotion* Motion, float Time) {
  if (Motion->Type != CV_MOTION_TYPE_LEAF) {
    CV_ERROR(69);
    return 0;
  }
  if (!Motion->Events || !cvTKEvents_Delete(Motion->Events, Time)) {
    CV_ERROR(70);
    return 0;
  }
  return 1;
}

int cvMotion_SetupEventIterator(cvMotion* Motion, float StartTime, float EndTime) {
  if (Motion->Type != CV_MOTION_TYPE_LEAF) {
    CV_ERROR(69);
    return 0;
  }
  if (Motion->Events) cvTKEvents_SetupIterator(Motion->Events, StartTime, EndTime);
  return 1;
}

int cvMotion_GetNextEvent(cvMotion* Motion, float* Time, const char** Text) {
  if (Motion->Type != CV_MOTION_TYPE_LEAF) {
    CV_ERROR(69);
    return 0;
  }
  if (!Motion->Events) {
    if (Time) *Time = 0.0f;
    if (Text) *Text = nullptr;
    return 0;
  }
  return cvTKEvents_GetNextEvent(Motion->Events, Time, Text);
}

int cvMotion_GetEventExtents(const cvMotion* Motion, float* FirstTime, float* LastTime) {
  if (Motion->Type != CV_MOTION_TYPE_LEAF) {
    CV_ERROR(69);
    return 0;
  }
  return Motion->Events ? cvTKEvents_GetExtents(Motion->Events, FirstTime, LastTime) : 0;
}

int cvMotion_AddSubMotion(cvMotion* Motion, cvMotion* SubMotion, float TimeScale, float TimeOffset,
                          float BlendStartTime, float BlendStartAmount, float BlendEndTime, float BlendEndAmount,
                          const cvXForm3d* BaseTransform, int32_t* Index) {
  if (!cvMotion_IsValid(Motion) || !cvMotion_IsValid(SubMotion) || Motion->Type == CV_MOTION_TYPE_LEAF ||
      cvMotion_HasSubMotion(SubMotion, Motion) || Motion->Count == 0x7FFFFFFF) {
    CV_ERROR(-1);
    return 0;
  }
  cvPath* blend = cvPath_Create(CV_PATH_INTERPOLATE_LINEAR, CV_PATH_INTERPOLATE_LINEAR, 0);
  if (!blend) return 0;
  cvXForm3d key;
  cvXForm3d_SetTranslation(&key, BlendStartAmount, 0.0f, 0.0f);
  bool ok = true;
  if (std::fabs(BlendEndTime - BlendStartTime) >= CV_TKARRAY_MIN_SPACING)
    ok = cvPath_InsertKeyframe(blend, CV_PATH_TRANSLATION_CHANNEL, BlendStartTime, &key);
  cvXForm3d_SetTranslation(&key, BlendEndAmount, 0.0f, 0.0f);
  ok = ok && cvPath_InsertKeyframe(blend, CV_PATH_TRANSLATION_CHANNEL, BlendEndTime, &key);
  cvMotion_SubMotion* entries = ok ? static_cast<cvMotion_SubMotion*>(cvRam_Realloc(
                                         Motion->SubMotions, sizeof(cvMotion_SubMotion) * (static_cast<size_t>(Motion->Count) + 1)))
                                   : nullptr;
  if (!entries) {
    cvPath_Destroy(&blend);
    CV_ERROR(66);
    return 0;
  }
  Motion->SubMotions = entries;
  cvMotion_SubMotion& e = entries[Motion->Count];
  e.TimeScale = TimeScale;
  e.TimeOffset = TimeOffset;
  e.BlendPath = blend;
  e.HasBaseTransform = BaseTransform ? 1 : 0;
  if (BaseTransform)
    e.BaseTransform = *BaseTransform;
  else
    cvXForm3d_SetIdentity(&e.BaseTransform);
  e.SubMotion = SubMotion;
  cvMotion_CreateRef(SubMotion);
  Motion->Type = CV_MOTION_TYPE_COMPOUND;
  if (Index) *Index = Motion->Count;
  Motion->Count++;
  return 1;
}

cvMotion* cvMotion_RemoveSubMotion(cvMotion* Motion, int32_t Index) {
  cvMotion_SubMotion* e = Entry(Motion, Index);
  if (!e) {
    CV_ERROR(-1);
    return nullptr;
  }
  cvMotion* sub = e->SubMotion;
  cvPath_Destroy(&e->BlendPath);
  std::memmove(e, e + 1, sizeof(cvMotion_SubMotion) * static_cast<size_t>(Motion->Count - Index - 1));
  Motion->Count--;
  return sub;
}

int32_t cvMotion_GetSubMotionCount(const cvMotion* Motion) {
  return Motion->Type == CV_MOTION_TYPE_COMPOUND ? Motion->Count : 0;
}

cvMotion* cvMotion_GetSubMotion(const cvMotion* Motion, int32_t Index) {
  const cvMotion_SubMotion* e = Entry(Motion, Index);
  return e ? e->SubMotion : nullptr;
}

cvMotion* cvMotion_GetSubMotionNamed(const cvMotion* Motion, const char* Name) {
  if (Motion->Type != CV_MOTION_TYPE_COMPOUND || !Name) return nullptr;
  for (int32_t i = 0; i < Motion->Count; ++i) {
    const char* n = Motion->SubMotions[i].SubMotion->Name;
    if (n && std::strcmp(n, Name) == 0) return Motion->SubMotions[i].SubMotion;
  }
  return nullptr;
}

float cvMotion_GetTimeOffset(const cvMotion* Motion, int32_t Index) {
  const cvMotion_SubMotion* e = Entry(Motion, Index);
  return e ? e->TimeOffset : 0.0f;
}

int cvMotion_SetTimeOffset(cvMotion* Motion, int32_t Index, float TimeOffset) {
  return ChangeEntry(Motion, Index, [&](cvMotion_SubMotion& e) { e.TimeOffset = TimeOffset; });
}

float cvMotion_GetTimeScale(const cvMotion* Motion, int32_t Index) {
  const cvMotion_SubMotion* e = Entry(Motion, Index);
  return e ? e->TimeScale : 1.0f;
}

int cvMotion_SetTimeScale(cvMotion* Motion, int32_t Index, float TimeScale) {
  return ChangeEntry(Motion, Index, [&](cvMotion_SubMotion& e) { e.TimeScale = TimeScale; });
}

float cvMotion_GetBlendAmount(const cvMotion* Motion, int32_t Index, float Time) {
  const cvMotion_SubMotion* e = Entry(Motion, Index);
  return e ? BlendWeight(*e, LocalTime(*e, Time)) : 0.0f;
}

cvPath* cvMotion_GetBlendPath(const cvMotion* Motion, int32_t Index) {
  const cvMotion_SubMotion* e = Entry(Motion, Index);
  return e ? e->BlendPath : nullptr;
}

int cvMotion_SetBlendPath(cvMotion* Motion, int32_t Index, const cvPath* BlendPath) {
  cvMotion_SubMotion* e = Entry(Motion, Index);
  if (!e || !BlendPath) {
    CV_ERROR(-1);
    return 0;
  }
  cvPath* copy = cvPath_CreateCopy(BlendPath);
  if (!copy) return 0;
  cvPath_Destroy(&e->BlendPath);
  e->BlendPath = copy;
  return 1;
}

const cvXForm3d* cvMotion_GetBaseTransform(const cvMotion* Motion, int32_t Index) {
  const cvMotion_SubMotion* e = Entry(Motion, Index);
  return e && e->HasBaseTransform ? &e->BaseTransform : nullptr;
}

int cvMotion_SetBaseTransform(cvMotion* Motion, int32_t Index, const cvXForm3d* BaseTransform) {
  return ChangeEntry(Motion, Index, [&](cvMotion_SubMotion& e) {
    e.HasBaseTransform = BaseTransform ? 1 : 0;
    if (BaseTransform)
      e.BaseTransform = *BaseTransform;
    else
      cvXForm3d_SetIdentity(&e.BaseTransform);
  });
}

int cvMotion_HasSubMotion(const cvMotion* Motion, const cvMotion* Other) {
  if (Motion == Other) return 1;
  if (Motion->Type != CV_MOTION_TYPE_COMPOUND) return 0;
  for (int32_t i = 0; i < Motion->Count; ++i)
    if (cvMotion_HasSubMotion(Motion->SubMotions[i].SubMotion, Other)) return 1;
  return 0;
}

cvMotion* cvMotion_CreateFromFile(cvVFile* File) {
  char tag[4];
  if (!ReadTag(File, tag)) {
    CV_ERROR(71);
    return nullptr;
  }
  if (TagIs(tag, "MTNB")) return ReadBinary(File);
  if (TagIs(tag, "MOTN")) return ReadText(File);
  CV_ERROR(73);
  return nullptr;
}

int cvMotion_WriteToFile(const cvMotion* Motion, cvVFile* File) {
  const size_t nameLength = Motion->Name ? std::strlen(Motion->Name) + 1 : 0;
  if (nameLength > 0xFFFF) {
    CV_ERROR(72);
    return 0;
  }
  const uint32_t info = static_cast<uint32_t>(nameLength) | static_cast<uint32_t>(Motion->MaintainNames & 1) << 16 |
                        static_cast<uint32_t>(Motion->Type) << 24;
  bool ok = cvVFile_Write(File, "MTNB", 4) && cvVFile_WriteLE32(File, kVersion) && cvVFile_WriteLE32(File, info);
  if (ok && Motion->Type == CV_MOTION_TYPE_COMPOUND) ok = false;
  if (ok && nameLength) ok = cvVFile_Write(File, Motion->Name, static_cast<uint32_t>(nameLength));
  if (ok && Motion->Type == CV_MOTION_TYPE_LEAF) {
    const uint32_t contents = (Motion->Events ? 1u : 0u) | (Motion->Names ? 2u : 0u);
    ok = cvVFile_WriteLE32(File, static_cast<uint32_t>(Motion->Count)) &&
         cvVFile_WriteLE32(File, static_cast<uint32_t>(Motion->NameChecksum)) && cvVFile_WriteLE32(File, contents) &&
         (!Motion->Events || cvTKEvents_WriteToBinaryFile(Motion->Events, File)) &&
         (!Motion->Names || cvStrBlock_WriteToBinaryFile(Motion->Names, File));
    for (int32_t i = 0; ok && i < Motion->Count; ++i) ok = cvPath_WriteToBinaryFile(Motion->Paths[i], File);
  }
  if (!ok) {
    CV_ERROR(72);
    return 0;
  }
  return 1;
}

int cvMotion_WriteToTextFile(const cvMotion* Motion, cvVFile* File) {
  // A name with a line end in it could not be read back.
  if (Motion->Type == CV_MOTION_TYPE_COMPOUND || (Motion->Name && std::strpbrk(Motion->Name, "\r\n"))) {
    CV_ERROR(72);
    return 0;
  }
  std::string text = "NameID ";
  text += Motion->Name ? Motion->Name : "";
  text += "\nMaintainNames ";
  AppendInt(&text, Motion->MaintainNames);
  // An unset motion is written with empty leaf sections, so that the file
  // holds every section a reader expects.
  text += "\nPathCount ";
  AppendInt(&text, Motion->Count);
  text += "\nNameChecksum ";
  AppendInt(&text, Motion->NameChecksum);
  text += "\nEvents ";
  AppendInt(&text, Motion->Events ? 1 : 0);
  text += '\n';
  bool ok = WriteString(File, "MOTN") && WriteVersionLine(File, 0, kVersion) && WriteString(File, text) &&
            (!Motion->Events || cvTKEvents_WriteToFile(Motion->Events, File));
  text = "NameArray ";
  AppendInt(&text, Motion->Names ? 1 : 0);
  text += '\n';
  ok = ok && WriteString(File, text) && (!Motion->Names || cvStrBlock_WriteToFile(Motion->Names, File));
  text = "PathArray ";
  AppendInt(&text, Motion->Count);
  text += '\n';
  ok = ok && WriteString(File, text);
  for (int32_t i = 0; ok && i < Motion->Count; ++i) ok = cvPath_WriteToFile(Motion->Paths[i], File);
  if (!ok) {
    CV_ERROR(72);
    return 0;
  }
  return 1;
}
