// Paths: the animation of one transform over time, a rotation channel of
// quaternion keys and a translation channel of vector keys, sampled with a
// per-channel key cache and optional looping, in binary and text file forms
// (including the reader of the earlier "CHNL" text layout).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "Anim/cvanim.h"
#include "Anim/anim_util.h"
#include "Support/cvsupport.h"

using namespace cvanim;

namespace {

constexpr uint32_t kBinaryMark = 0x1001;
constexpr uint32_t kTextVersion = 0xF2;

// The six interpolators, indexed by a channel's Interpolation.
using Interpolator = void (*)(const void* KeyA, const void* KeyB, float T, void* Result);

template <typename Out, void (*F)(const void*, const void*, float, Out*)>
void Call(const void* A, const void* B, float T, void* Result) {
  F(A, B, T, static_cast<Out*>(Result));
}

const Interpolator kInterpolators[6] = {
    Call<cvVec3d, cvVKFrame_LerpLinear>,      Call<cvVec3d, cvVKFrame_LerpHermite>,
    Call<cvVec3d, cvVKFrame_LerpHermite>,     Call<cvQuaternion, cvQKFrame_LerpLinear>,
    Call<cvQuaternion, cvQKFrame_LerpSlerp>,  Call<cvQuaternion, cvQKFrame_LerpSquad>,
};

// Key sizes of the six kinds.
constexpr int32_t kKeySizes[6] = {sizeof(cvVKFrame_Key),     sizeof(cvVKFrame_HermiteKey),
                                  sizeof(cvVKFrame_HermiteKey), sizeof(cvQKFrame_Key),
                                  sizeof(cvQKFrame_Key),     sizeof(cvQKFrame_SquadKey)};

int TranslationIndex(int Code) {
  switch (Code) {
    case CV_PATH_INTERPOLATE_LINEAR: return CV_PATH_VK_LINEAR;
    case CV_PATH_INTERPOLATE_HERMITE: return CV_PATH_VK_HERMITE;
    case CV_PATH_INTERPOLATE_HERMITE_ZERO_DERIV: return CV_PATH_VK_HERMITE_ZERO;
    default: return -1;
  }
}

int RotationIndex(int Code) {
  switch (Code) {
    case CV_PATH_INTERPOLATE_LINEAR: return CV_PATH_QK_LINEAR;
    case CV_PATH_INTERPOLATE_SLERP: return CV_PATH_QK_SLERP;
    case CV_PATH_INTERPOLATE_SQUAD: return CV_PATH_QK_SQUAD;
    default: return -1;
  }
}

void ResetCache(cvPath_Channel* Channel) {
  Channel->CacheIndexA = 0;
  Channel->CacheIndexB = 0;
  Channel->CacheTimeA = 0.0f;
  Channel->CacheTimeB = -1.0f;
}

void InitChannel(cvPath_Channel* Channel, int32_t Interpolation) {
  Channel->Keys = nullptr;
  Channel->Interpolation = Interpolation;
  Channel->StartTime = 0.0f;
  Channel->EndTime = 0.0f;
  ResetCache(Channel);
}

bool HasKeys(const cvPath_Channel* Channel) { return Channel->Keys && Channel->Keys->Count > 0; }

cvPath* Allocate(int32_t TranslationIndex, int32_t RotationIndex, bool Looped) {
  cvPath* path = static_cast<cvPath*>(cvRam_Allocate(sizeof(cvPath)));
  if (!path) return nullptr;
  InitChannel(&path->Rotation, RotationIndex);
  InitChannel(&path->Translation, TranslationIndex);
  path->Flags = CV_PATH_FLAG_DIRTY | (Looped ? CV_PATH_FLAG_LOOPED : 0u);
  return path;
}

void Free(cvPath* Path) {
  cvTKArray_Destroy(&Path->Rotation.Keys);
  cvTKArray_Destroy(&Path->Translation.Keys);
  cvRam_Free(Path);
}

void Recompute(cvPath* Path) {
  Path->Flags &= ~static_cast<uint32_t>(CV_PATH_FLAG_DIRTY);
  const int looped = (Path->Flags & CV_PATH_FLAG_LOOPED) ? 1 : 0;
  for (cvPath_Channel* ch : {&Path->Rotation, &Path->Translation}) {
    ResetCache(ch);
    if (HasKeys(ch)) {
      ch->StartTime = cvTKArray_GetTime(ch->Keys, 0);
      ch->EndTime = cvTKArray_GetTime(ch->Keys, ch->Keys->Count - 1);
    }
  }
  if (cvTKArray* keys = Path->Translation.Keys) {
    if (Path->Translation.Interpolation == CV_PATH_VK_HERMITE)
      cvVKFrame_ComputeHermiteTangents(looped, 0, keys);
    else if (Path->Translation.Interpolation == CV_PATH_VK_HERMITE_ZERO)
      cvVKFrame_ComputeHermiteTangents(looped, 1, keys);
  }
  if (cvTKArray* keys = Path->Rotation.Keys) {
    if (Path->Rotation.Interpolation == CV_PATH_QK_SQUAD)
      cvQKFrame_ComputeSquadControls(looped, keys);
    else if (Path->Rotation.Interpolation == CV_PATH_QK_SLERP)
      cvQKFrame_AlignHemispheres(keys);
  }
}

// Samples one channel into Result (a cvQuaternion or a cvVec3d); false when
// the channel has no keys.
bool SampleChannel(cvPath_Channel* Ch, bool Looped, float Time, void* Result) {
  if (!HasKeys(Ch)) return false;
  const cvTKArray* keys = Ch->Keys;
  const int32_t n = keys->Count;
  float t = Time;
  if (Looped) {
    const float s = Ch->StartTime, e = Ch->EndTime;
    if (t < s)
      t = e - s > 0.0f ? std::fmod(t - s, e - s) + e : s;
    else if (t >= e)
      t = s + CV_TKARRAY_MIN_SPACING >= e ? s : std::fmod(t - s, e - s) + s;
  }
  if (!(Ch->CacheTimeA <= t && t < Ch->CacheTimeB)) {
    const int32_t p = cvTKArray_FindIndex(keys, t);
    int32_t a = p, b = p + 1;
    if (p < 0) a = Looped ? n - 1 : 0;
    if (b >= n) b = Looped ? 0 : n - 1;
    Ch->CacheIndexA = a;
    Ch->CacheIndexB = b;
    Ch->CacheTimeA = cvTKArray_GetTime(keys, a);
    Ch->CacheTimeB = cvTKArray_GetTime(keys, b);
  }
  const int32_t a = Ch->CacheIndexA, b = Ch->CacheIndexB;
  const float f = a != b ? (t - Ch->CacheTimeA) / (Ch->CacheTimeB - Ch->CacheTimeA) : 0.0f;
  kInterpolators[Ch->Interpolation](cvTKArray_GetElementConst(keys, a), cvTKArray_GetElementConst(keys, b), f, Result);
  return true;
}

cvTKArray* CreateKeyList(int32_t Interpolation) {
  switch (Interpolation) {
    case CV_PATH_VK_LINEAR: return cvVKFrame_CreateLinear();
    case CV_PATH_VK_HERMITE:
    case CV_PATH_VK_HERMITE_ZERO: return cvVKFrame_CreateHermite();
    case CV_PATH_QK_LINEAR: return cvQKFrame_CreateLinear();
    case CV_PATH_QK_SLERP: return cvQKFrame_CreateSlerp();
    default: return cvQKFrame_CreateSquad();
  }
}

void RotationOf(const cvXForm3d* Transform, cvQuaternion* Q) {
  cvQuaternion_SetNoRotation(Q);
  cvQuaternion_FromMatrix(Transform, Q);
  cvQuaternion_Normalize(Q);
}

// ---------------------------------------------------------------------------
// Binary form
// ---------------------------------------------------------------------------

cvPath* ReadBinary(cvVFile* File, uint32_t Header) {
  const bool hasRotation = (Header & 1) != 0, hasTranslation = (Header & 2) != 0;
  const int32_t rotationIndex = static_cast<int32_t>((Header >> 2) & 0x7F);
  const int32_t translationIndex = static_cast<int32_t>((Header >> 9) & 0x7F);
  if (rotationIndex < CV_PATH_QK_LINEAR || rotationIndex > CV_PATH_QK_SQUAD || translationIndex > CV_PATH_VK_HERMITE_ZERO) {
    CV_ERROR(-1);
    return nullptr;
  }
  cvPath* path = Allocate(translationIndex, rotationIndex, false);
  if (!path) {
    CV_ERROR(-1);
    return nullptr;
  }
  int code = 0, looped = 0;
  if (hasTranslation) {
    path->Translation.Keys = cvVKFrame_ReadBinary(File, &code, &looped);
    if (!path->Translation.Keys) {
      Free(path);
      CV_ERROR(-1);
      return nullptr;
    }
    path->Translation.Interpolation = code;
    if (looped) path->Flags |= CV_PATH_FLAG_LOOPED;
  }
  if (hasRotation) {
    path->Rotation.Keys = cvQKFrame_ReadBinary(File, &code, &looped);
    if (!path->Rotation.Keys) {
      Free(path);
      CV_ERROR(-1);
      return nullptr;
    }
    path->Rotation.Interpolation = CV_PATH_QK_LINEAR + code;
    if (looped) path->Flags |= CV_PATH_FLAG_LOOPED;
  }
  return path;
}

// ---------------------------------------------------------------------------
// Text forms
// ---------------------------------------------------------------------------

// Reads "<Keyword> n [m]" into Values; 63 for another keyword, 61 for a
// missing line or number.
int ReadKeywordLine(cvVFile* File, const char* Keyword, bool IgnoreCase, int32_t* Values, int Count) {
  char line[kMaxLine + 1];
  if (!ReadLine(File, line, kMaxLine)) {
    CV_ERROR(61);
    return 0;
  }
  const size_t length = std::strlen(Keyword);
  const bool match = IgnoreCase ? StartsWithNoCase(line, Keyword) : std::strncmp(line, Keyword, length) == 0;
  if (!match) {
    CV_ERROR(63);
    return 0;
  }
  TextCursor c(line + length);
  for (int i = 0; i < Count; ++i) {
    if (!c.Int(&Values[i])) {
      CV_ERROR(61);
      return 0;
    }
  }
  return 1;
}

cvPath* ReadTextF1F2(cvVFile* File, uint32_t Version) {
  cvPath* path = Allocate(CV_PATH_VK_LINEAR, CV_PATH_QK_LINEAR, false);
  if (!path) {
    CV_ERROR(56);
    return nullptr;
  }
  const int numbers = Version == 0xF1 ? 1 : 2;
  for (int channel = 0; channel < 2; ++channel) {
    const bool rotation = channel == 0;
    cvPath_Channel* ch = rotation ? &path->Rotation : &path->Translation;
    int32_t values[2] = {0, 0};
    if (!ReadKeywordLine(File, rotation ? "Rotation" : "Translation", false, values, numbers)) {
      Free(path);
      return nullptr;
    }
    if (numbers == 2) {
      if (values[1] < 0 || values[1] > 2) {
        Free(path);
        CV_ERROR(61);
        return nullptr;
      }
      ch->Interpolation = (rotation ? CV_PATH_QK_LINEAR : CV_PATH_VK_LINEAR) + values[1];
    }
    if (values[0]) {
      int code = 0, looped = 0;
      ch->Keys = rotation ? cvQKFrame_ReadText(File, &code, &looped) : cvVKFrame_ReadText(File, &code, &looped);
      if (!ch->Keys) {
        Free(path);
        CV_ERROR(61);
        return nullptr;
      }
      ch->Interpolation = (rotation ? CV_PATH_QK_LINEAR : CV_PATH_VK_LINEAR) + code;
      if (looped) path->Flags |= CV_PATH_FLAG_LOOPED;
    }
  }
  return path;
}

// Key tags of the earlier text layout, by channel kind (table index).
const char* const kKeyTags[6] = {"VKFL", "VKFH", "VKFH", "QKFL", "QKFS", "QKFQ"};

// Numbers after a key's tag: the value, plus Control or the two tangents.
int ValueCount(int32_t Interpolation) { return (kKeySizes[Interpolation] - 4) / 4; }

// The kind a key tag stands for in a channel, or -1.
int32_t KindOfTag(const char Tag[4], bool Rotation) {
  for (int32_t i = Rotation ? CV_PATH_QK_LINEAR : CV_PATH_VK_LINEAR; i <= (Rotation ? CV_PATH_QK_SQUAD : CV_PATH_VK_HERMITE);
       ++i)
    if (TagIs(Tag, kKeyTags[i])) return i;
  return -1;
}

// Reads Count keys of the earlier layout: a line with the time, then the
// key's tag followed by its numbers (on the tag's line or the next one).
// Without an earlier "InterpolationType" the first tag decides the kind.
int ReadKeyList(cvVFile* File, bool Rotation, bool KindGiven, int32_t Count, cvPath_Channel* Ch) {
  char line[kMaxLine + 1];
  char tag[4];
  // The keys are gathered, sorted and stored once: inserting them one by one
  // grows the array and moves every later key each time, which is quadratic
  // in the count.
  struct Pending {
    float Time;
    float Values[9];
  };
  std::vector<Pending> pending;
  for (int32_t k = 0; k < Count; ++k) {
    Pending key{};
    bool ok = ReadLine(File, line, kMaxLine) != 0;
    // Times must be finite: the binary form refuses others, so a path with
    // one would not read back once saved.
    if (!ok || !TextCursor(line).Float(&key.Time) || !IsFinite(key.Time) || !ReadTag(File, tag)) {
      CV_ERROR(61);
      return 0;
    }
    if (!Ch->Keys) {
      if (!KindGiven) {
        const int32_t kind = KindOfTag(tag, Rotation);
        if (kind >= 0) Ch->Interpolation = kind;
      }
      if (!(Ch->Keys = CreateKeyList(Ch->Interpolation))) return 0;
    }
    if (!TagIs(tag, kKeyTags[Ch->Interpolation])) {
      CV_ERROR(62);
      return 0;
    }
    if (!ReadLine(File, line, kMaxLine) || (TextCursor(line).AtEnd() && !ReadLine(File, line, kMaxLine))) {
      CV_ERROR(61);
      return 0;
    }
    TextCursor numbers(line);
    for (int i = 0; i < ValueCount(Ch->Interpolation); ++i) {
      if (!numbers.Float(&key.Values[i])) {
        CV_ERROR(61);
        return 0;
      }
    }
    pending.push_back(key);
  }
  if (pending.empty()) return 1;
  std::stable_sort(pending.begin(), pending.end(), [](const Pending& A, const Pending& B) { return A.Time < B.Time; });
  // Keys closer than the spacing an insertion keeps are refused, as
  // cvTKArray_Insert would.
  const int32_t n = static_cast<int32_t>(pending.size());
  for (int32_t k = 1; k < n; ++k) {
    if (TooClose(pending[k - 1].Time, pending[k].Time)) {
      CV_ERROR(74);
      CV_ERROR(61);
      return 0;
    }
  }
  cvTKArray* keys = cvTKArray_CreateEmpty(Ch->Keys->ElementSize, n);
  if (!keys) {
    CV_ERROR(61);
    return 0;
  }
  const size_t values = static_cast<size_t>(ValueCount(Ch->Interpolation));
  for (int32_t k = 0; k < n; ++k) {
    float* key = static_cast<float*>(cvTKArray_GetElement(keys, k));
    std::memset(key, 0, static_cast<size_t>(keys->ElementSize));
    key[0] = pending[k].Time;
    std::memcpy(key + 1, pending[k].Values, sizeof(float) * values);
  }
  cvTKArray_Destroy(&Ch->Keys);
  Ch->Keys = keys;
  return 1;
}

bool WordIs(std::string_view Word, const char* Keyword) {
  return Word.size() == std::strlen(Keyword) && StartsWithNoCase(std::string(Word).c_str(), Keyword);
}

// One channel block of the earlier text layout ("CHNL").
int ReadChannelBlock(cvVFile* File, bool Rotation, cvPath_Channel* Ch) {
  char tag[4];
  uint32_t version = 0;
  if (!ReadTag(File, tag)) {
    CV_ERROR(61);
    return 0;
  }
  if (!TagIs(tag, "CHNL")) {
    CV_ERROR(63);
    return 0;
  }
  if (!ReadVersionLine(File, &version)) {
    CV_ERROR(61);
    return 0;
  }
  const int sections = version >= 0xF0 ? 4 : 0;
  bool kindGiven = false, keysRead = false;
  char line[kMaxLine + 1];
  for (int section = 0; section < sections; ++section) {
    if (!ReadLine(File, line, kMaxLine)) {
      CV_ERROR(61);
      return 0;
    }
    TextCursor c(line);
    std::string_view word;
    if (!c.Word(&word)) {
      CV_ERROR(63);
      return 0;
    }
    if (WordIs(word, "InterpolationType")) {
      int32_t code = 0;
      if (!c.Int(&code)) {
        CV_ERROR(61);
        return 0;
      }
      const int index = Rotation ? RotationIndex(code) : TranslationIndex(code);
      // Keys already read must have the size of the new kind.
      if (index < 0 || (Ch->Keys && Ch->Keys->ElementSize != kKeySizes[index])) {
        CV_ERROR(63);
        return 0;
      }
      Ch->Interpolation = index;
      kindGiven = true;
    } else if (WordIs(word, "StartTime") || WordIs(word, "EndTime")) {
      // The recompute step takes both times from the keys.
      float time = 0.0f;
      if (!c.Float(&time)) {
        CV_ERROR(61);
        return 0;
      }
    } else if (WordIs(word, "KeyList")) {
      int32_t count = 0;
      if (!c.Int(&count) || count < 0 || static_cast<uint64_t>(count) * 4 > Remaining(File) || keysRead) {
        CV_ERROR(61);
        return 0;
      }
      keysRead = true;
      if (!ReadKeyList(File, Rotation, kindGiven, count, Ch)) return 0;
    } else {
      CV_ERROR(63);
      return 0;
    }
  }
  return 1;
}

cvPath* ReadTextF0(cvVFile* File) {
  cvPath* path = Allocate(CV_PATH_VK_LINEAR, CV_PATH_QK_LINEAR, false);
  if (!path) {
    CV_ERROR(56);
    return nullptr;
  }
  int32_t looped = 0, hasRotation = 0, hasTranslation = 0;
  bool ok = ReadKeywordLine(File, "Looped", true, &looped, 1) && ReadKeywordLine(File, "Rotation", true, &hasRotation, 1) &&
            (!hasRotation || ReadChannelBlock(File, true, &path->Rotation)) &&
            ReadKeywordLine(File, "Translation", true, &hasTranslation, 1) &&
            (!hasTranslation || ReadChannelBlock(File, false, &path->Translation));
  if (!ok) {
    Free(path);
    return nullptr;
  }
  if (looped) path->Flags |= CV_PATH_FLAG_LOOPED;
  return path;
}

cvPath* ReadText(cvVFile* File) {
  uint32_t version = 0;
  if (!ReadVersionLine(File, &version)) {
    CV_ERROR(63);
    return nullptr;
  }
  if (version == 0xF0) return ReadTextF0(File);
  if (version == 0xF1 || version == 0xF2) return ReadTextF1F2(File, version);
  CV_ERROR(63);
  return nullptr;
}

}  // namespace

cvPath* cvPath_Create(int TranslationCode, int RotationCode, int Looped) {
  const int t = TranslationIndex(TranslationCode), r = RotationIndex(RotationCode);
  if (t < 0 || r < 0) {
    CV_ERROR(-1);
    return nullptr;
  }
  cvPath* path = Allocate(t, r, Looped == 1);
  if (!path) {
    CV_ERROR(56);
    return nullptr;
  }
  return path;
}

cvPath* cvPath_CreateCopy(const cvPath* Path) {
  cvPath* copy = Allocate(Path->Translation.Interpolation, Path->Rotation.Interpolation,
                          (Path->Flags & CV_PATH_FLAG_LOOPED) != 0);
  if (!copy) {
    CV_ERROR(56);
    return nullptr;
  }
  const cvPath_Channel* from[2] = {&Path->Rotation, &Path->Translation};
  cvPath_Channel* to[2] = {&copy->Rotation, &copy->Translation};
  for (int i = 0; i < 2; ++i) {
    const cvTKArray* keys = from[i]->Keys;
    if (!keys) continue;
    const size_t bytes = sizeof(cvTKArray) + static_cast<size_t>(keys->Count) * static_cast<size_t>(keys->ElementSize);
    to[i]->Keys = static_cast<cvTKArray*>(cvRam_Allocate(bytes));
    if (!to[i]->Keys) {
      Free(copy);
      CV_ERROR(56);
      return nullptr;
    }
    std::memcpy(to[i]->Keys, keys, bytes);
  }
  return copy;
}

void cvPath_CreateRef(cvPath* Path) { Path->Flags += CV_PATH_REFCOUNT_UNIT; }

void cvPath_Destroy(cvPath** Path) {
  if (!Path || !*Path) return;
  cvPath* path = *Path;
  *Path = nullptr;
  if (path->Flags >= CV_PATH_REFCOUNT_UNIT) {
    path->Flags -= CV_PATH_REFCOUNT_UNIT;
    return;
  }
  Free(path);
}

int cvPath_IsLooped(const cvPath* Path) { return (Path->Flags & CV_PATH_FLAG_LOOPED) ? 1 : 0; }

int cvPath_InsertKeyframe(cvPath* Path, int Channels, float Time, const cvXForm3d* Transform) {
  int32_t rotationIndex = -1;
  if (Channels & CV_PATH_ROTATION_CHANNEL) {
    cvPath_Channel* ch = &Path->Rotation;
    cvQuaternion q;
    RotationOf(Transform, &q);
    if (!ch->Keys) ch->Keys = CreateKeyList(ch->Interpolation);
    if (!ch->Keys || !cvQKFrame_InsertKey(&ch->Keys, Time, &q, &rotationIndex)) {
      CV_ERROR(57);
      return 0;
    }
    Path->Flags |= CV_PATH_FLAG_DIRTY;
  }
  if (Channels & CV_PATH_TRANSLATION_CHANNEL) {
    cvPath_Channel* ch = &Path->Translation;
    if (!ch->Keys) ch->Keys = CreateKeyList(ch->Interpolation);
    if (!ch->Keys || !cvVKFrame_InsertKey(&ch->Keys, Time, &Transform->T, nullptr)) {
      CV_ERROR(58);
      if (rotationIndex >= 0) cvTKArray_Remove(&Path->Rotation.Keys, rotationIndex);
      return 0;
    }
    Path->Flags |= CV_PATH_FLAG_DIRTY;
  }
  return 1;
}

int cvPath_DeleteKeyframe(cvPath* Path, int32_t Index, int Channels) {
  if (Channels & CV_PATH_ROTATION_CHANNEL) {
    cvPath_Channel* ch = &Path->Rotation;
    if (!ch->Keys || Index < 0 || Index >= ch->Keys->Count) {
      CV_ERROR(59);
      return 0;
    }
    cvTKArray_Remove(&ch->Keys, Index);
  }
  if (Channels & CV_PATH_TRANSLATION_CHANNEL) {
    cvPath_Channel* ch = &Path->Translation;
    if (!ch->Keys || Index < 0 || Index >= ch->Keys->Count) {
      CV_ERROR(60);
      return 0;
    }
    cvTKArray_Remove(&ch->Keys, Index);
  }
  Path->Flags |= CV_PATH_FLAG_DIRTY;
  return 1;
}

int cvPath_GetKeyframe(const cvPath* Path, int32_t Index, int Channel, float* Time, cvXForm3d* Transform) {
  const cvPath_Channel* ch = Channel == CV_PATH_ROTATION_CHANNEL      ? &Path->Rotation
                             : Channel == CV_PATH_TRANSLATION_CHANNEL ? &Path->Translation
                                                                      : nullptr;
  if (!ch || !ch->Keys || Index < 0 || Index >= ch->Keys->Count) {
    CV_ERROR(-1);
    return 0;
  }
  float time = 0.0f;
  if (ch == &Path->Rotation) {
    cvQuaternion q;
    cvQKFrame_GetKey(ch->Keys, Index, &time, &q);
    if (Transform) cvQuaternion_ToMatrix(&q, Transform);
  } else {
    cvVec3d v;
    cvVKFrame_GetKey(ch->Keys, Index, &time, &v);
    if (Transform) cvXForm3d_SetTranslation(Transform, v.X, v.Y, v.Z);
  }
  if (Time) *Time = time;
  return 1;
}

int cvPath_ModifyKeyframe(cvPath* Path, int32_t Index, int Channels, const cvXForm3d* Transform) {
  if (Channels & CV_PATH_ROTATION_CHANNEL) {
    cvPath_Channel* ch = &Path->Rotation;
    if (!ch->Keys || Index < 0 || Index >= ch->Keys->Count) {
      CV_ERROR(-1);
      return 0;
    }
    cvQuaternion q;
    RotationOf(Transform, &q);
    cvQKFrame_SetKey(ch->Keys, Index, &q);
  }
  if (Channels & CV_PATH_TRANSLATION_CHANNEL) {
    cvPath_Channel* ch = &Path->Translation;
    if (!ch->Keys || Index < 0 || Index >= ch->Keys->Count) {
      CV_ERROR(-1);
      return 0;
    }
    cvVKFrame_SetKey(ch->Keys, Index, &Transform->T);
  }
  Path->Flags |= CV_PATH_FLAG_DIRTY;
  return 1;
}

int32_t cvPath_GetKeyframeCount(const cvPath* Path, int Channel) {
  if (Channel == CV_PATH_ROTATION_CHANNEL) return cvTKArray_GetCount(Path->Rotation.Keys);
  if (Channel == CV_PATH_TRANSLATION_CHANNEL) return cvTKArray_GetCount(Path->Translation.Keys);
  return 0;
}

int32_t cvPath_GetKeyframeIndex(const cvPath* Path, int Channel, float Time) {
  const cvTKArray* keys = Channel == CV_PATH_ROTATION_CHANNEL      ? Path->Rotation.Keys
                          : Channel == CV_PATH_TRANSLATION_CHANNEL ? Path->Translation.Keys
                                                                   : nullptr;
  if (!keys) return -1;
  const int32_t p = cvTKArray_FindIndex(keys, Time);
  for (int32_t i : {p, p + 1}) {
    if (i >= 0 && i < keys->Count && std::fabs(cvTKArray_GetTime(keys, i) - Time) <= CV_TKARRAY_MIN_SPACING) return i;
  }
  return -1;
}

int cvPath_GetTimeExtents(const cvPath* Path, float* StartTime, float* EndTime) {
  bool any = false;
  float start = 0.0f, end = 0.0f;
  for (const cvPath_Channel* ch : {&Path->Rotation, &Path->Translation}) {
    if (!HasKeys(ch)) continue;
    const float first = cvTKArray_GetTime(ch->Keys, 0), last = cvTKArray_GetTime(ch->Keys, ch->Keys->Count - 1);
    start = any ? std::fmin(start, first) : first;
    end = any ? std::fmax(end, last) : last;
    any = true;
  }
  if (!any) return 0;
  if (StartTime) *StartTime = start;
  if (EndTime) *EndTime = end;
  return 1;
}

int cvPath_SampleChannels(cvPath* Path, float Time, cvQuaternion* Rotation, cvVec3d* Translation) {
  if (Path->Flags & CV_PATH_FLAG_DIRTY) Recompute(Path);
  const bool looped = (Path->Flags & CV_PATH_FLAG_LOOPED) != 0;
  cvQuaternion q;
  cvVec3d v;
  if (!SampleChannel(&Path->Rotation, looped, Time, &q)) cvQuaternion_SetNoRotation(&q);
  const bool hasTranslation = SampleChannel(&Path->Translation, looped, Time, &v);
  if (!hasTranslation) cvVec3d_Clear(&v);
  if (Rotation) *Rotation = q;
  if (Translation) *Translation = v;
  return hasTranslation ? 1 : 0;
}

int cvPath_Sample(cvPath* Path, float Time, cvXForm3d* Transform) {
  if (Path->Flags & CV_PATH_FLAG_DIRTY) Recompute(Path);
  const bool looped = (Path->Flags & CV_PATH_FLAG_LOOPED) != 0;
  cvQuaternion q;
  cvVec3d v;
  if (SampleChannel(&Path->Rotation, looped, Time, &q))
    cvQuaternion_ToMatrix(&q, Transform);
  else
    cvXForm3d_SetIdentity(Transform);
  if (SampleChannel(&Path->Translation, looped, Time, &v)) {
    Transform->T = v;
    return 1;
  }
  cvVec3d_Clear(&Transform->T);
  return 0;
}

cvPath* cvPath_CreateFromFile(cvVFile* File) {
  uint8_t head[4];
  if (!cvVFile_Read(File, head, 4)) {
    CV_ERROR(63);
    return nullptr;
  }
  const uint32_t header = cvLE_Get32(head);
  cvPath* path = nullptr;
  if ((header >> 16) == kBinaryMark)
    path = ReadBinary(File, header);
  else if (TagIs(reinterpret_cast<const char*>(head), "PATH"))
    path = ReadText(File);
  else
    CV_ERROR(63);
  return path;
}

int cvPath_WriteToFile(cvPath* Path, cvVFile* File) {
  if (Path->Flags & CV_PATH_FLAG_DIRTY) Recompute(Path);
  const int looped = cvPath_IsLooped(Path);
  bool ok = WriteString(File, "PATH") && WriteVersionLine(File, 0, kTextVersion);
  for (int channel = 0; ok && channel < 2; ++channel) {
    const bool rotation = channel == 0;
    const cvPath_Channel* ch = rotation ? &Path->Rotation : &Path->Translation;
    const int code = ch->Interpolation - (rotation ? CV_PATH_QK_LINEAR : CV_PATH_VK_LINEAR);
    std::string line = rotation ? "Rotation " : "Translation ";
    AppendInt(&line, HasKeys(ch) ? 1 : 0);
    line += ' ';
    AppendInt(&line, code);
    line += '\n';
    ok = WriteString(File, line);
    if (ok && HasKeys(ch))
      ok = rotation ? cvQKFrame_WriteText(File, ch->Keys, code, looped) : cvVKFrame_WriteText(File, ch->Keys, code, looped);
  }
  if (!ok) {
    CV_ERROR(64);
    return 0;
  }
  return 1;
}

int cvPath_WriteToBinaryFile(const cvPath* Path, cvVFile* File) {
  const bool hasRotation = HasKeys(&Path->Rotation), hasTranslation = HasKeys(&Path->Translation);
  const int looped = cvPath_IsLooped(Path);
  const uint32_t header = (hasRotation ? 1u : 0u) | (hasTranslation ? 2u : 0u) |
                          static_cast<uint32_t>(Path->Rotation.Interpolation) << 2 |
                          static_cast<uint32_t>(Path->Translation.Interpolation) << 9 | kBinaryMark << 16;
  bool ok = cvVFile_WriteLE32(File, header);
  if (ok && hasTranslation)
    ok = cvVKFrame_WriteBinary(File, Path->Translation.Keys, Path->Translation.Interpolation, looped);
  if (ok && hasRotation)
    ok = cvQKFrame_WriteBinary(File, Path->Rotation.Keys, Path->Rotation.Interpolation - CV_PATH_QK_LINEAR, looped);
  if (!ok) {
    CV_ERROR(-1);
    return 0;
  }
  return 1;
}
