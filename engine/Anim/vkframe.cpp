// Vector key frames: time-keyed arrays of 3-vector keys, the linear and
// Hermite interpolators, Hermite tangents, and the binary and text key blocks
// (with the even-times compression chosen at write time).
#include <cstring>
#include <string>
#include <vector>

#include "Anim/cvanim.h"
#include "Anim/anim_keyblock.h"
#include "Anim/anim_util.h"
#include "Support/cvsupport.h"

using namespace cvanim;

namespace {

constexpr int32_t kKeySize = sizeof(cvVKFrame_Key);               // 16
constexpr int32_t kHermiteKeySize = sizeof(cvVKFrame_HermiteKey);  // 40

cvVKFrame_Key* Key(cvTKArray* Array, int32_t Index) { return reinterpret_cast<cvVKFrame_Key*>(ElementAt(Array, Index)); }
const cvVKFrame_Key* Key(const cvTKArray* Array, int32_t Index) {
  return reinterpret_cast<const cvVKFrame_Key*>(ElementAt(Array, Index));
}

int32_t KeySizeForCode(int Code) { return Code == CV_VKFRAME_LINEAR ? kKeySize : kHermiteKeySize; }

void PostProcess(cvTKArray* KeyList, int Code, int Looped) {
  if (Code == CV_VKFRAME_HERMITE)
    cvVKFrame_ComputeHermiteTangents(Looped, 0, KeyList);
  else if (Code == CV_VKFRAME_HERMITE_ZERO_DERIV)
    cvVKFrame_ComputeHermiteTangents(Looped, 1, KeyList);
}

bool CompressionValid(uint32_t Compression) {
  return (Compression & ~static_cast<uint32_t>(CV_KFRAME_COMPRESS_EVENTIMES)) == 0;
}

// Block bytes after the BlockSize word, or 0 when too large.
uint64_t BlockSize(uint64_t Count, uint32_t Compression) {
  uint64_t times = 0, values = 0, total = 0;
  const bool ok = TimeSectionBytes(Count, Compression, &times) && cvSize_Mul(Count, 12, &values) &&
                  cvSize_Add(times, values, &total);
  return ok ? total : 0;
}

const KeyBlockRules kRules{CompressionValid, BlockSize, PostProcess, KeySizeForCode};

}  // namespace

cvTKArray* cvVKFrame_CreateLinear(void) { return cvTKArray_Create(kKeySize); }
cvTKArray* cvVKFrame_CreateHermite(void) { return cvTKArray_Create(kHermiteKeySize); }

int cvVKFrame_InsertKey(cvTKArray** KeyList, float Time, const cvVec3d* V, int32_t* Index) {
  auto* key = static_cast<cvVKFrame_Key*>(InsertKeyAt(KeyList, Time, 79, Index));
  if (!key) return 0;
  key->V = *V;
  if ((*KeyList)->ElementSize >= kHermiteKeySize) {
    cvVKFrame_HermiteKey* h = reinterpret_cast<cvVKFrame_HermiteKey*>(key);
    cvVec3d_Clear(&h->TangentIn);
    cvVec3d_Clear(&h->TangentOut);
  }
  return 1;
}

void cvVKFrame_GetKey(const cvTKArray* KeyList, int32_t Index, float* Time, cvVec3d* V) {
  const cvVKFrame_Key* key = Key(KeyList, Index);
  if (Time) *Time = key->Time;
  if (V) *V = key->V;
}

void cvVKFrame_SetKey(cvTKArray* KeyList, int32_t Index, const cvVec3d* V) { Key(KeyList, Index)->V = *V; }

void cvVKFrame_LerpLinear(const void* KeyA, const void* KeyB, float T, cvVec3d* Result) {
  const cvVec3d& a = static_cast<const cvVKFrame_Key*>(KeyA)->V;
  if (KeyA == KeyB) {
    *Result = a;
    return;
  }
  const cvVec3d& b = static_cast<const cvVKFrame_Key*>(KeyB)->V;
  Result->X = a.X + (b.X - a.X) * T;
  Result->Y = a.Y + (b.Y - a.Y) * T;
  Result->Z = a.Z + (b.Z - a.Z) * T;
}

void cvVKFrame_LerpHermite(const void* KeyA, const void* KeyB, float T, cvVec3d* Result) {
  const cvVKFrame_HermiteKey* a = static_cast<const cvVKFrame_HermiteKey*>(KeyA);
  if (KeyA == KeyB) {
    *Result = a->V;
    return;
  }
  const cvVKFrame_HermiteKey* b = static_cast<const cvVKFrame_HermiteKey*>(KeyB);
  const double t = T, t2 = t * t, t3 = t2 * t;
  const double h = 3.0 * t2 - 2.0 * t3;
  const double outWeight = t3 - 2.0 * t2 + t;
  const double inWeight = t3 - t2;
  auto blend = [&](float va, float vb, float out, float in) {
    return static_cast<float>(va * (1.0 - h) + vb * h + out * outWeight + in * inWeight);
  };
  Result->X = blend(a->V.X, b->V.X, a->TangentOut.X, b->TangentIn.X);
  Result->Y = blend(a->V.Y, b->V.Y, a->TangentOut.Y, b->TangentIn.Y);
  Result->Z = blend(a->V.Z, b->V.Z, a->TangentOut.Z, b->TangentIn.Z);
}

void cvVKFrame_ComputeHermiteTangents(int Looped, int ZeroTangents, cvTKArray* KeyList) {
  if (KeyList->ElementSize < kHermiteKeySize) return;
  const int32_t n = KeyList->Count;
  auto key = [&](int32_t i) { return reinterpret_cast<cvVKFrame_HermiteKey*>(Key(KeyList, i)); };
  if (ZeroTangents) {
    for (int32_t i = 0; i < n; ++i) {
      cvVec3d_Clear(&key(i)->TangentIn);
      cvVec3d_Clear(&key(i)->TangentOut);
    }
    return;
  }
  if (n < 3) Looped = 0;
  for (int32_t i = 0; i < n; ++i) {
    cvVKFrame_HermiteKey* k = key(i);
    int32_t prev = i - 1, next = i + 1;
    float tPrev = 0.0f, tNext = 0.0f;
    if (i == 0) {
      if (Looped) {
        prev = n - 2;
        tPrev = key(0)->Time - (key(n - 1)->Time - key(n - 2)->Time);
      } else {
        prev = 0;
        tPrev = key(0)->Time;
      }
    } else {
      tPrev = key(prev)->Time;
    }
    if (i == n - 1) {
      if (Looped) {
        next = 1;
        tNext = (key(1)->Time - key(0)->Time) + key(n - 1)->Time;
      } else {
        next = n - 1;
        tNext = key(n - 1)->Time;
      }
    } else {
      tNext = key(next)->Time;
    }
    if (!Looped && i == 0) {
      cvVec3d_Subtract(&key(next)->V, &k->V, &k->TangentIn);
      k->TangentOut = k->TangentIn;
      continue;
    }
    if (!Looped && i == n - 1) {
      cvVec3d_Subtract(&k->V, &key(prev)->V, &k->TangentIn);
      k->TangentOut = k->TangentIn;
      continue;
    }
    const float dPrev = k->Time - tPrev, dNext = tNext - k->Time;
    cvVec3d span;
    cvVec3d_Subtract(&key(next)->V, &key(prev)->V, &span);
    cvVec3d_Scale(&span, dNext / (dPrev + dNext), &k->TangentOut);
    cvVec3d_Scale(&span, dPrev / (dPrev + dNext), &k->TangentIn);
  }
}

int cvVKFrame_WriteBinary(cvVFile* File, const cvTKArray* KeyList, int InterpolationCode, int Looped) {
  const int32_t n = KeyList->Count;
  ByteWriter w;
  WriteBlockStart(w, kRules, KeyList, InterpolationCode, EvenTimesCompression(KeyList), Looped);
  for (int32_t i = 0; i < n; ++i) {
    const cvVec3d& v = Key(KeyList, i)->V;
    w.F32(v.X);
    w.F32(v.Y);
    w.F32(v.Z);
  }
  return WriteBlock(File, w);
}

cvTKArray* cvVKFrame_ReadBinary(cvVFile* File, int* InterpolationCode, int* Looped) {
  KeyBlock block;
  KeyBlockHeader header;
  if (!ReadBlockStart(File, kRules, &block, &header)) return nullptr;
  const uint8_t* values = nullptr;
  cvTKArray* keys = ReadBlockTimes(block, kRules, header, &values);
  if (!keys) return nullptr;
  for (int32_t i = 0; i < header.Count; ++i) {
    const uint8_t* v = values + 12 * static_cast<size_t>(i);
    Key(keys, i)->V = {LoadF32(v), LoadF32(v + 4), LoadF32(v + 8)};
  }
  return FinishBinaryKeys(keys, kRules, header, InterpolationCode, Looped);
}

int cvVKFrame_WriteText(cvVFile* File, const cvTKArray* KeyList, int InterpolationCode, int Looped) {
  const uint32_t compression = EvenTimesCompression(KeyList);
  std::string text = TextStart(KeyList, InterpolationCode, compression, Looped);
  for (int32_t i = 0; i < KeyList->Count; ++i) {
    AppendKeyTime(&text, KeyList, i, compression);
    const cvVec3d& v = Key(KeyList, i)->V;
    AppendFloats(&text, {v.X, v.Y, v.Z});
    text += '\n';
  }
  return WriteTextBlock(File, text);
}

cvTKArray* cvVKFrame_ReadText(cvVFile* File, int* InterpolationCode, int* Looped) {
  char line[kMaxLine + 1];
  KeyBlockHeader header;
  if (!ReadTextStart(File, kRules, &header)) return nullptr;
  const bool evenTimes = header.Compression != 0;
  cvTKArray* keys = CreateTextKeys(kRules, header);
  if (!keys) return nullptr;
  for (int32_t i = 0; i < header.Count; ++i) {
    cvVKFrame_Key* key = Key(keys, i);
    bool ok = ReadLine(File, line, kMaxLine) != 0;
    TextCursor c(line);
    if (ok && !evenTimes) ok = c.Float(&key->Time);
    ok = ok && c.Float(&key->V.X) && c.Float(&key->V.Y) && c.Float(&key->V.Z);
    if (!ok) {
      cvTKArray_Destroy(&keys);
      CV_ERROR(61);
      return nullptr;
    }
  }
  return FinishKeys(keys, kRules, header, 61, InterpolationCode, Looped);
}
