// Vector key frames: time-keyed arrays of 3-vector keys, the linear and
// Hermite interpolators, Hermite tangents, and the binary and text key blocks
// (with the even-times compression chosen at write time).
#include <cstring>
#include <string>
#include <vector>

#include "Actor/anim.h"
#include "Actor/anim_util.h"
#include "Support/cvsupport.h"

using namespace cvanim;

namespace {

constexpr int32_t kKeySize = sizeof(cvVKFrame_Key);               // 16
constexpr int32_t kHermiteKeySize = sizeof(cvVKFrame_HermiteKey);  // 40

cvVKFrame_Key* Key(cvTKArray* Array, int32_t Index) {
  return static_cast<cvVKFrame_Key*>(cvTKArray_GetElement(Array, Index));
}
const cvVKFrame_Key* Key(const cvTKArray* Array, int32_t Index) {
  return static_cast<const cvVKFrame_Key*>(cvTKArray_GetElementConst(Array, Index));
}

int32_t KeySizeForCode(int Code) { return Code == CV_VKFRAME_LINEAR ? kKeySize : kHermiteKeySize; }

int ChooseCompression(const cvTKArray* KeyList) {
  return KeyList->Count > 2 && cvTKArray_IsEvenlySpaced(KeyList, 0.0001f) ? CV_KFRAME_COMPRESS_EVENTIMES : 0;
}

void PostProcess(cvTKArray* KeyList, int Code, int Looped) {
  if (Code == CV_VKFRAME_HERMITE)
    cvVKFrame_ComputeHermiteTangents(Looped, 0, KeyList);
  else if (Code == CV_VKFRAME_HERMITE_ZERO_DERIV)
    cvVKFrame_ComputeHermiteTangents(Looped, 1, KeyList);
}

uint64_t BlockSize(uint64_t Count, uint32_t Compression) {
  uint64_t times = 0, values = 0, total = 0;
  bool ok = (Compression & CV_KFRAME_COMPRESS_EVENTIMES) ? (times = 16, true) : cvSize_MulAdd(Count, 4, 8, &times);
  ok = ok && cvSize_Mul(Count, 12, &values) && cvSize_Add(times, values, &total);
  return ok ? total : 0;
}

void SetEvenTimes(cvTKArray* KeyList, float Start, float Delta) {
  float i = 0.0f;
  for (int32_t k = 0; k < KeyList->Count; ++k, i += 1.0f) Key(KeyList, k)->Time = i * Delta + Start;
}

}  // namespace

cvTKArray* cvVKFrame_CreateLinear(void) { return cvTKArray_Create(kKeySize); }
cvTKArray* cvVKFrame_CreateHermite(void) { return cvTKArray_Create(kHermiteKeySize); }

int cvVKFrame_InsertKey(cvTKArray** KeyList, float Time, const cvVec3d* V, int32_t* Index) {
  int32_t index = 0;
  if (!cvTKArray_Insert(KeyList, Time, &index)) {
    CV_ERROR(79);
    return 0;
  }
  cvVKFrame_Key* key = Key(*KeyList, index);
  key->V = *V;
  if ((*KeyList)->ElementSize >= kHermiteKeySize) {
    cvVKFrame_HermiteKey* h = reinterpret_cast<cvVKFrame_HermiteKey*>(key);
    cvVec3d_Clear(&h->TangentIn);
    cvVec3d_Clear(&h->TangentOut);
  }
  if (Index) *Index = index;
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
  const uint32_t compression = static_cast<uint32_t>(ChooseCompression(KeyList));
  const int32_t n = KeyList->Count;
  ByteWriter w;
  w.U32(static_cast<uint32_t>(BlockSize(static_cast<uint64_t>(n), compression)));
  w.U32(static_cast<uint32_t>(InterpolationCode) << 16 | compression << 8 | (Looped ? 1u : 0u));
  w.U32(static_cast<uint32_t>(n));
  if (compression & CV_KFRAME_COMPRESS_EVENTIMES) {
    w.F32(Key(KeyList, 0)->Time);
    w.F32(Key(KeyList, 1)->Time - Key(KeyList, 0)->Time);
  } else {
    for (int32_t i = 0; i < n; ++i) w.F32(Key(KeyList, i)->Time);
  }
  for (int32_t i = 0; i < n; ++i) {
    const cvVec3d& v = Key(KeyList, i)->V;
    w.F32(v.X);
    w.F32(v.Y);
    w.F32(v.Z);
  }
  if (!w.WriteTo(File)) {
    CV_ERROR(64);
    return 0;
  }
  return 1;
}

cvTKArray* cvVKFrame_ReadBinary(cvVFile* File, int* InterpolationCode, int* Looped) {
  uint32_t blockSize = 0;
  if (!cvVFile_ReadLE32(File, &blockSize) || blockSize > 0x7FFFFFFF || blockSize < 8 || blockSize > Remaining(File)) {
    CV_ERROR(-1);
    return nullptr;
  }
  std::vector<uint8_t> block(blockSize);
  if (!cvVFile_Read(File, block.data(), blockSize)) {
    CV_ERROR(-1);
    return nullptr;
  }
  ByteReader r(block.data(), block.size());
  uint32_t flags = 0, count = 0;
  r.U32(&flags);
  r.U32(&count);
  const uint32_t code = (flags >> 16) & 0xFF, compression = (flags >> 8) & 0xFF;
  const int looped = static_cast<int>(flags & 1);
  if (code > 2 || (compression & ~static_cast<uint32_t>(CV_KFRAME_COMPRESS_EVENTIMES)) != 0 || count > 0x7FFFFFFF ||
      BlockSize(count, compression) != blockSize) {
    CV_ERROR(-1);
    return nullptr;
  }
  cvTKArray* keys = cvTKArray_CreateEmpty(KeySizeForCode(static_cast<int>(code)), static_cast<int32_t>(count));
  if (!keys) return nullptr;
  const int32_t n = static_cast<int32_t>(count);
  if (compression & CV_KFRAME_COMPRESS_EVENTIMES) {
    float start = 0.0f, delta = 0.0f;
    r.F32(&start);
    r.F32(&delta);
    SetEvenTimes(keys, start, delta);
  } else {
    for (int32_t i = 0; i < n; ++i) r.F32(&Key(keys, i)->Time);
  }
  for (int32_t i = 0; i < n; ++i) {
    cvVec3d& v = Key(keys, i)->V;
    r.F32(&v.X);
    r.F32(&v.Y);
    r.F32(&v.Z);
  }
  if (!TimesAscend(keys)) {
    cvTKArray_Destroy(&keys);
    CV_ERROR(-1);
    return nullptr;
  }
  PostProcess(keys, static_cast<int>(code), looped);
  if (InterpolationCode) *InterpolationCode = static_cast<int>(code);
  if (Looped) *Looped = looped;
  return keys;
}

int cvVKFrame_WriteText(cvVFile* File, const cvTKArray* KeyList, int InterpolationCode, int Looped) {
  const int compression = ChooseCompression(KeyList);
  const int32_t n = KeyList->Count;
  std::string text = "Keys ";
  AppendInt(&text, n);
  text += ' ';
  AppendInt(&text, InterpolationCode);
  text += ' ';
  AppendInt(&text, compression);
  text += ' ';
  AppendInt(&text, Looped);
  text += '\n';
  const bool evenTimes = compression != 0;
  if (evenTimes) {
    AppendFloat(&text, Key(KeyList, 0)->Time);
    text += ' ';
    AppendFloat(&text, Key(KeyList, 1)->Time - Key(KeyList, 0)->Time);
    text += " Start T,Delta T\n";
  }
  for (int32_t i = 0; i < n; ++i) {
    if (!evenTimes) {
      AppendFloat(&text, Key(KeyList, i)->Time);
      text += ' ';
    }
    const cvVec3d& v = Key(KeyList, i)->V;
    AppendFloat(&text, v.X);
    text += ' ';
    AppendFloat(&text, v.Y);
    text += ' ';
    AppendFloat(&text, v.Z);
    text += '\n';
  }
  if (!WriteString(File, text)) {
    CV_ERROR(64);
    return 0;
  }
  return 1;
}

cvTKArray* cvVKFrame_ReadText(cvVFile* File, int* InterpolationCode, int* Looped) {
  char line[kMaxLine + 1];
  int32_t count = 0, code = 0, compression = 0, looped = 0;
  if (!ReadLine(File, line, kMaxLine) || std::strncmp(line, "Keys", 4) != 0) {
    CV_ERROR(61);
    return nullptr;
  }
  TextCursor header(line + 4);
  if (!header.Int(&count) || !header.Int(&code) || !header.Int(&compression) || !header.Int(&looped) ||
      count < 0 || code < 0 || code > 2 || compression < 0 || compression > 255 ||
      (compression & ~CV_KFRAME_COMPRESS_EVENTIMES) != 0 || static_cast<uint64_t>(count) * 2 > Remaining(File)) {
    CV_ERROR(61);
    return nullptr;
  }
  const bool evenTimes = compression != 0;
  float start = 0.0f, delta = 0.0f;
  if (evenTimes) {
    bool ok = ReadLine(File, line, kMaxLine) != 0;
    TextCursor c(line);
    if (!ok || !c.Float(&start) || !c.Float(&delta)) {
      CV_ERROR(61);
      return nullptr;
    }
  }
  cvTKArray* keys = cvTKArray_CreateEmpty(KeySizeForCode(code), count);
  if (!keys) return nullptr;
  if (evenTimes) SetEvenTimes(keys, start, delta);
  for (int32_t i = 0; i < count; ++i) {
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
  if (!TimesAscend(keys)) {
    cvTKArray_Destroy(&keys);
    CV_ERROR(61);
    return nullptr;
  }
  PostProcess(keys, code, looped ? 1 : 0);
  if (InterpolationCode) *InterpolationCode = code;
  if (Looped) *Looped = looped ? 1 : 0;
  return keys;
}
