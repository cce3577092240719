// Rotation key frames: time-keyed arrays of quaternion keys, their three
// interpolators (normalised blend, slerp, squad), hemisphere alignment, squad
// control points and the binary and text key blocks (with the one-axis and
// even-times compressions chosen at write time).
#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "Anim/cvanim.h"
#include "Anim/anim_keyblock.h"
#include "Anim/anim_util.h"
#include "Support/cvsupport.h"

using namespace cvanim;

namespace {

constexpr int32_t kKeySize = sizeof(cvQKFrame_Key);          // 20
constexpr int32_t kSquadKeySize = sizeof(cvQKFrame_SquadKey);  // 36

cvQKFrame_Key* Key(cvTKArray* Array, int32_t Index) { return reinterpret_cast<cvQKFrame_Key*>(ElementAt(Array, Index)); }
const cvQKFrame_Key* Key(const cvTKArray* Array, int32_t Index) {
  return reinterpret_cast<const cvQKFrame_Key*>(ElementAt(Array, Index));
}

// The magnitude of Q * Q exactly as cvQuaternion_Multiply and
// cvQuaternion_Magnitude give it (the product in double, rounded to float,
// its squared length in double, rounded to float), written out here because
// aligning hemispheres visits every key of every path an actor file loads.
float SquareMagnitude(const cvQuaternion& Q) {
  const double w = Q.W, x = Q.X, y = Q.Y, z = Q.Z;
  const double sw = (float)(w * w - x * x - y * y - z * z), sx = (float)(w * x + x * w + y * z - z * y),
               sy = (float)(w * y - x * z + y * w + z * x), sz = (float)(w * z + x * y - y * x + z * w);
  return (float)(sw * sw + sx * sx + sy * sy + sz * sz);
}

// Whether Next is negated to lie in the hemisphere of Q: when |(Q+Next)^2| <=
// |(Q-Next)^2|, with the float roundings of the quaternion functions.
bool FlipsToHemisphere(const cvQuaternion& Q, const cvQuaternion& Next) {
  const cvQuaternion sum{Q.W + Next.W, Q.X + Next.X, Q.Y + Next.Y, Q.Z + Next.Z};
  const cvQuaternion diff{Q.W - Next.W, Q.X - Next.X, Q.Y - Next.Y, Q.Z - Next.Z};
  return SquareMagnitude(sum) <= SquareMagnitude(diff);
}

int32_t KeySizeForCode(int Code) { return Code == CV_QKFRAME_SQUAD ? kSquadKeySize : kKeySize; }

// Compression chosen for writing KeyList; Axis receives the common axis.
uint32_t ChooseCompression(const cvTKArray* KeyList, cvVec3d* Axis) {
  const int32_t n = KeyList->Count;
  uint32_t compression = EvenTimesCompression(KeyList);
  if (n >= 4) {
    cvVec3d first;
    float angle;
    bool oneAxis = cvQuaternion_GetAxisAngle(&Key(KeyList, 0)->Q, &first, &angle) != 0;
    for (int32_t i = 1; oneAxis && i < n; ++i) {
      cvVec3d axis;
      oneAxis = cvQuaternion_GetAxisAngle(&Key(KeyList, i)->Q, &axis, &angle) && cvVec3d_Compare(&axis, &first, 0.0001f);
    }
    if (oneAxis) {
      cvVec3d_Normalize(&first);
      *Axis = first;
      compression |= CV_KFRAME_COMPRESS_ONEAXIS;
    }
  }
  return compression;
}

float KeyAngle(const cvTKArray* KeyList, int32_t Index) {
  cvVec3d axis;
  float angle = 0.0f;
  cvQuaternion_GetAxisAngle(&Key(KeyList, Index)->Q, &axis, &angle);
  return angle;
}

void PostProcess(cvTKArray* KeyList, int Code, int Looped) {
  if (Code == CV_QKFRAME_SLERP)
    cvQKFrame_AlignHemispheres(KeyList);
  else if (Code == CV_QKFRAME_SQUAD)
    cvQKFrame_ComputeSquadControls(Looped, KeyList);
}

bool CompressionValid(uint32_t Compression) {
  return (Compression & ~static_cast<uint32_t>(CV_KFRAME_COMPRESS_ONEAXIS | CV_KFRAME_COMPRESS_EVENTIMES)) == 0;
}

// Block bytes after the BlockSize word, or 0 when too large.
uint64_t BlockSize(uint64_t Count, uint32_t Compression) {
  uint64_t times = 0, values = 0, total = 0;
  bool ok = TimeSectionBytes(Count, Compression, &times);
  ok = ok && ((Compression & CV_KFRAME_COMPRESS_ONEAXIS) ? cvSize_MulAdd(Count, 4, 12, &values)
                                                         : cvSize_Mul(Count, 16, &values));
  ok = ok && cvSize_Add(times, values, &total);
  return ok ? total : 0;
}

const KeyBlockRules kRules{CompressionValid, BlockSize, PostProcess, KeySizeForCode};

}  // namespace

cvTKArray* cvQKFrame_CreateLinear(void) { return cvTKArray_Create(kKeySize); }
cvTKArray* cvQKFrame_CreateSlerp(void) { return cvTKArray_Create(kKeySize); }
cvTKArray* cvQKFrame_CreateSquad(void) { return cvTKArray_Create(kSquadKeySize); }

int cvQKFrame_InsertKey(cvTKArray** KeyList, float Time, const cvQuaternion* Q, int32_t* Index) {
  auto* key = static_cast<cvQKFrame_Key*>(InsertKeyAt(KeyList, Time, 80, Index));
  if (!key) return 0;
  key->Q = *Q;
  if ((*KeyList)->ElementSize >= kSquadKeySize) reinterpret_cast<cvQKFrame_SquadKey*>(key)->Control = *Q;
  return 1;
}

void cvQKFrame_GetKey(const cvTKArray* KeyList, int32_t Index, float* Time, cvQuaternion* Q) {
  const cvQKFrame_Key* key = Key(KeyList, Index);
  if (Time) *Time = key->Time;
  if (Q) *Q = key->Q;
}

void cvQKFrame_SetKey(cvTKArray* KeyList, int32_t Index, const cvQuaternion* Q) { Key(KeyList, Index)->Q = *Q; }

void cvQKFrame_LerpLinear(const void* KeyA, const void* KeyB, float T, cvQuaternion* Result) {
  const cvQuaternion& a = static_cast<const cvQKFrame_Key*>(KeyA)->Q;
  if (KeyA == KeyB) {
    *Result = a;
    return;
  }
  const cvQuaternion& b = static_cast<const cvQKFrame_Key*>(KeyB)->Q;
  cvQuaternion r;
  r.W = a.W + (b.W - a.W) * T;
  r.X = a.X + (b.X - a.X) * T;
  r.Y = a.Y + (b.Y - a.Y) * T;
  r.Z = a.Z + (b.Z - a.Z) * T;
  if (cvQuaternion_Normalize(&r) == 0.0f) cvQuaternion_SetNoRotation(&r);
  *Result = r;
}

void cvQKFrame_LerpSlerp(const void* KeyA, const void* KeyB, float T, cvQuaternion* Result) {
  const cvQuaternion& a = static_cast<const cvQKFrame_Key*>(KeyA)->Q;
  if (KeyA == KeyB) {
    *Result = a;
    return;
  }
  cvQuaternion_SlerpNotShortest(&a, &static_cast<const cvQKFrame_Key*>(KeyB)->Q, T, Result);
}

void cvQKFrame_LerpSquad(const void* KeyA, const void* KeyB, float T, cvQuaternion* Result) {
  const cvQKFrame_SquadKey* a = static_cast<const cvQKFrame_SquadKey*>(KeyA);
  if (KeyA == KeyB) {
    *Result = a->Q;
    return;
  }
  const cvQKFrame_SquadKey* b = static_cast<const cvQKFrame_SquadKey*>(KeyB);
  cvQuaternion q, c;
  cvQuaternion_SlerpNotShortest(&a->Q, &b->Q, T, &q);
  cvQuaternion_SlerpNotShortest(&a->Control, &b->Control, T, &c);
  cvQuaternion_SlerpNotShortest(&q, &c, 2.0f * T * (1.0f - T), Result);
}

void cvQKFrame_AlignHemispheres(cvTKArray* KeyList) {
  // FlipsToHemisphere compares |Q+Next|^4 with |Q-Next|^4, and
  // |Q+Next|^2 - |Q-Next|^2 = 4 Q.Next, so the sign of the dot product decides
  // unless the two lie within a thousandth of L = |Q|^2 + |Next|^2 of each
  // other (a thousand times the float rounding of the full computation), or
  // L leaves [1e-15, 1e15], where the fourth powers would leave the range of
  // normal floats and ties appear that the dot product does not know. Inside
  // both, a dot product taken in floats lies within about 1e-6 L of the
  // exact one, so its sign is the exact one's; everything else (near ties,
  // NaNs, infinities) takes the full computation.
  //
  // Negating a key changes neither length nor the size of a dot product, only
  // its sign. Four pairs are taken at a time, (k - 1, k) for k = b .. b + 3,
  // from key b - 1 as stored by now and keys b .. b + 3 as read; whether a key
  // has been negated is carried along, and key k + 1 is negated when the sign
  // of its dot product with key k as read, times key k's own sign, is
  // negative.
  typedef float Quad __attribute__((vector_size(16)));
  typedef int32_t Mask __attribute__((vector_size(16)));
  typedef uint64_t Halves __attribute__((vector_size(16)));
  const int32_t n = KeyList->Count;
  if (n < 2) return;
  const size_t stride = static_cast<size_t>(KeyList->ElementSize);
  uint8_t* const first = ElementAt(KeyList, 0) + offsetof(cvQKFrame_Key, Q);
  auto q = [&](int32_t Index) { return first + stride * static_cast<size_t>(Index); };
  auto load = [&](int32_t Index) {
    Quad v;
    std::memcpy(&v, q(Index), sizeof v);
    return v;
  };
  // Decides key Index + 1 from the dot product of keys Index and Index + 1
  // and their lengths; Negated says that key Index was negated after Dot was
  // taken. True when key Index + 1 is negated.
  auto step = [&](int32_t Index, float Dot, float Lengths, bool Negated) {
    const bool clear = 4.0f * std::fabs(Dot) > 1e-3f * Lengths && Lengths >= 1e-15f && Lengths <= 1e15f;
    const bool flip = clear ? (Dot < 0.0f) != Negated
                            : FlipsToHemisphere(*reinterpret_cast<const cvQuaternion*>(q(Index)),
                                                *reinterpret_cast<const cvQuaternion*>(q(Index + 1)));
    if (flip) {
      const Quad v = -load(Index + 1);
      std::memcpy(q(Index + 1), &v, sizeof v);
    }
    return flip;
  };
  // The sums of the lanes of A, B, C and D.
  auto sums = [](Quad A, Quad B, Quad C, Quad D) {
    const Quad ab = __builtin_shufflevector(A, B, 0, 4, 1, 5) + __builtin_shufflevector(A, B, 2, 6, 3, 7);
    const Quad cd = __builtin_shufflevector(C, D, 0, 4, 1, 5) + __builtin_shufflevector(C, D, 2, 6, 3, 7);
    return __builtin_shufflevector(ab, cd, 0, 1, 4, 5) + __builtin_shufflevector(ab, cd, 2, 3, 6, 7);
  };
  int32_t b = 1;
  for (; b + 3 < n; b += 4) {
    const Quad p = load(b - 1), r0 = load(b), r1 = load(b + 1), r2 = load(b + 2), r3 = load(b + 3);
    const Quad sp = p * p, s0 = r0 * r0, s1 = r1 * r1, s2 = r2 * r2, s3 = r3 * r3;
    const Quad dot = sums(p * r0, r0 * r1, r1 * r2, r2 * r3);
    const Quad lengths = sums(sp + s0, s0 + s1, s1 + s2, s2 + s3);
    const Quad size = (Quad)((Mask)dot & 0x7FFFFFFF);
    const Halves fine = (Halves)((4.0f * size > 1e-3f * lengths) & (lengths >= 1e-15f) & (lengths <= 1e15f) &
                                 (dot > 0.0f));
    // Mostly every pair is clear and points the same way: nothing changes.
    if ((fine[0] & fine[1]) == ~0ull) continue;
    bool negated = step(b - 1, dot[0], lengths[0], false);
    for (int i = 1; i < 4; ++i) negated = step(b - 1 + i, dot[i], lengths[i], negated);
  }
  // The last pairs one at a time.
  for (; b < n; ++b) {
    const Quad p = load(b - 1), r = load(b), products = p * r, squares = p * p + r * r;
    step(b - 1, (products[0] + products[1]) + (products[2] + products[3]),
         (squares[0] + squares[1]) + (squares[2] + squares[3]), false);
  }
}

void cvQKFrame_ComputeSquadControls(int Looped, cvTKArray* KeyList) {
  cvQKFrame_AlignHemispheres(KeyList);
  if (KeyList->ElementSize < kSquadKeySize) return;
  const int32_t n = KeyList->Count;
  if (n < 3) Looped = 0;
  auto squad = [&](int32_t i) { return reinterpret_cast<cvQKFrame_SquadKey*>(Key(KeyList, i)); };
  for (int32_t i = 0; i < n; ++i) {
    cvQKFrame_SquadKey* key = squad(i);
    int32_t prev = i - 1, next = i + 1;
    if (!Looped && (i == 0 || i == n - 1)) {
      key->Control = key->Q;
      continue;
    }
    if (i == 0) prev = n - 2;
    if (i == n - 1) next = 1;
    cvQuaternion inverse, toNext, toPrev, lnNext, lnPrev, sum, scaled, e;
    cvQuaternion_Inverse(&key->Q, &inverse);
    cvQuaternion_Multiply(&inverse, &squad(next)->Q, &toNext);
    cvQuaternion_Multiply(&inverse, &squad(prev)->Q, &toPrev);
    cvQuaternion_Ln(&toNext, &lnNext);
    cvQuaternion_Ln(&toPrev, &lnPrev);
    cvQuaternion_Add(&lnNext, &lnPrev, &sum);
    cvQuaternion_Scale(&sum, -0.25f, &scaled);
    cvQuaternion_Exp(&scaled, &e);
    cvQuaternion_Multiply(&key->Q, &e, &key->Control);
  }
}

int cvQKFrame_WriteBinary(cvVFile* File, const cvTKArray* KeyList, int InterpolationCode, int Looped) {
  cvVec3d axis{0.0f, 0.0f, 0.0f};
  const uint32_t compression = ChooseCompression(KeyList, &axis);
  const int32_t n = KeyList->Count;
  ByteWriter w;
  WriteBlockStart(w, kRules, KeyList, InterpolationCode, compression, Looped);
  if (compression & CV_KFRAME_COMPRESS_ONEAXIS) {
    w.F32(axis.X);
    w.F32(axis.Y);
    w.F32(axis.Z);
    for (int32_t i = 0; i < n; ++i) w.F32(KeyAngle(KeyList, i));
  } else {
    for (int32_t i = 0; i < n; ++i) {
      const cvQuaternion& q = Key(KeyList, i)->Q;
      w.F32(q.W);
      w.F32(q.X);
      w.F32(q.Y);
      w.F32(q.Z);
    }
  }
  return WriteBlock(File, w);
}

cvTKArray* cvQKFrame_ReadBinary(cvVFile* File, int* InterpolationCode, int* Looped) {
  KeyBlock block;
  KeyBlockHeader header;
  if (!ReadBlockStart(File, kRules, &block, &header)) return nullptr;
  const uint8_t* values = nullptr;
  cvTKArray* keys = ReadBlockTimes(block, kRules, header, &values);
  if (!keys) return nullptr;
  const int32_t n = header.Count;
  if (header.Compression & CV_KFRAME_COMPRESS_ONEAXIS) {
    const cvVec3d axis{LoadF32(values), LoadF32(values + 4), LoadF32(values + 8)};
    for (int32_t i = 0; i < n; ++i)
      cvQuaternion_SetFromAxisAngle(&Key(keys, i)->Q, &axis, LoadF32(values + 12 + 4 * static_cast<size_t>(i)));
  } else {
    for (int32_t i = 0; i < n; ++i) {
      const uint8_t* v = values + 16 * static_cast<size_t>(i);
      Key(keys, i)->Q = {LoadF32(v), LoadF32(v + 4), LoadF32(v + 8), LoadF32(v + 12)};
    }
  }
  return FinishBinaryKeys(keys, kRules, header, InterpolationCode, Looped);
}

int cvQKFrame_WriteText(cvVFile* File, const cvTKArray* KeyList, int InterpolationCode, int Looped) {
  cvVec3d axis{0.0f, 0.0f, 0.0f};
  const uint32_t compression = ChooseCompression(KeyList, &axis);
  const int32_t n = KeyList->Count;
  std::string text = TextStart(KeyList, InterpolationCode, compression, Looped);
  if (compression & CV_KFRAME_COMPRESS_ONEAXIS) {
    AppendFloats(&text, {axis.X, axis.Y, axis.Z});
    text += " Axis\n";
  }
  for (int32_t i = 0; i < n; ++i) {
    AppendKeyTime(&text, KeyList, i, compression);
    if (compression & CV_KFRAME_COMPRESS_ONEAXIS) {
      AppendFloat(&text, KeyAngle(KeyList, i));
    } else {
      const cvQuaternion& q = Key(KeyList, i)->Q;
      AppendFloats(&text, {q.W, q.X, q.Y, q.Z});
    }
    text += '\n';
  }
  return WriteTextBlock(File, text);
}

cvTKArray* cvQKFrame_ReadText(cvVFile* File, int* InterpolationCode, int* Looped) {
  char line[kMaxLine + 1];
  KeyBlockHeader header;
  if (!ReadTextStart(File, kRules, &header)) return nullptr;
  const bool evenTimes = (header.Compression & CV_KFRAME_COMPRESS_EVENTIMES) != 0;
  const bool oneAxis = (header.Compression & CV_KFRAME_COMPRESS_ONEAXIS) != 0;
  cvVec3d axis{0.0f, 0.0f, 0.0f};
  if (oneAxis) {
    bool ok = ReadLine(File, line, kMaxLine) != 0;
    TextCursor c(line);
    if (!ok || !c.Float(&axis.X) || !c.Float(&axis.Y) || !c.Float(&axis.Z)) {
      CV_ERROR(61);
      return nullptr;
    }
  }
  cvTKArray* keys = CreateTextKeys(kRules, header);
  if (!keys) return nullptr;
  for (int32_t i = 0; i < header.Count; ++i) {
    cvQKFrame_Key* key = Key(keys, i);
    bool ok = ReadLine(File, line, kMaxLine) != 0;
    TextCursor c(line);
    if (ok && !evenTimes) ok = c.Float(&key->Time);
    if (ok && oneAxis) {
      float angle = 0.0f;
      ok = c.Float(&angle);
      if (ok) cvQuaternion_SetFromAxisAngle(&key->Q, &axis, angle);
    } else if (ok) {
      ok = c.Float(&key->Q.W) && c.Float(&key->Q.X) && c.Float(&key->Q.Y) && c.Float(&key->Q.Z);
    }
    if (!ok) {
      cvTKArray_Destroy(&keys);
      CV_ERROR(61);
      return nullptr;
    }
  }
  return FinishKeys(keys, kRules, header, 61, InterpolationCode, Looped);
}
