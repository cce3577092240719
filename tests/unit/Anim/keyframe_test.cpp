// Time-keyed arrays, rotation and vector keys: ordering, interpolation,
// compression and the key-block file forms.
#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "animtest.h"
#include "testsupport.h"

using namespace animtest;

namespace {

cvTKArray* Rotations(int Count, float Step, cvQuaternion (*Make)(int)) {
  cvTKArray* keys = cvQKFrame_CreateSlerp();
  for (int i = 0; i < Count; ++i) {
    cvQuaternion q = Make(i);
    EXPECT_TRUE(cvQKFrame_InsertKey(&keys, 0.5f + Step * static_cast<float>(i), &q, nullptr));
  }
  return keys;
}

void ExpectSameRotations(const cvTKArray* A, const cvTKArray* B, float Tolerance) {
  ASSERT_EQ(cvTKArray_GetCount(A), cvTKArray_GetCount(B));
  for (int32_t i = 0; i < cvTKArray_GetCount(A); ++i) {
    float ta, tb;
    cvQuaternion qa, qb;
    cvQKFrame_GetKey(A, i, &ta, &qa);
    cvQKFrame_GetKey(B, i, &tb, &qb);
    EXPECT_NEAR(ta, tb, Tolerance) << i;
    EXPECT_TRUE(cvQuaternion_Compare(&qa, &qb, Tolerance)) << i;
  }
}

}  // namespace

TEST(TKArray, InsertKeepsOrderAndRefusesCloseTimes) {
  cvTKArray* a = cvTKArray_Create(8);
  int32_t index = -1;
  ASSERT_TRUE(cvTKArray_Insert(&a, 1.0f, &index));
  EXPECT_EQ(index, 0);
  ASSERT_TRUE(cvTKArray_Insert(&a, 3.0f, &index));
  EXPECT_EQ(index, 1);
  ASSERT_TRUE(cvTKArray_Insert(&a, 2.0f, &index));
  EXPECT_EQ(index, 1);
  EXPECT_EQ(cvTKArray_GetTime(a, 0), 1.0f);
  EXPECT_EQ(cvTKArray_GetTime(a, 1), 2.0f);
  EXPECT_EQ(cvTKArray_GetTime(a, 2), 3.0f);
  cvErrorLog_Clear();
  EXPECT_FALSE(cvTKArray_Insert(&a, 2.000005f, &index));
  EXPECT_LOGGED(74);
  EXPECT_FALSE(cvTKArray_Insert(&a, 2.0f, &index));
  ASSERT_TRUE(cvTKArray_Insert(&a, 15000.0f, &index));
  EXPECT_FALSE(cvTKArray_Insert(&a, 15000.0f, &index));  // 15000 - 1e-5 rounds to 15000
  EXPECT_EQ(cvTKArray_GetCount(a), 4);
  cvTKArray_Remove(&a, 3);
  // Search: before, between, exact.
  EXPECT_EQ(cvTKArray_FindIndex(a, 0.5f), -1);
  EXPECT_EQ(cvTKArray_FindIndex(a, 2.5f), 1);
  EXPECT_EQ(cvTKArray_FindIndex(a, 3.0f), 2);
  EXPECT_EQ(cvTKArray_FindIndex(a, 9.0f), 2);
  cvTKArray_Remove(&a, 0);
  EXPECT_EQ(cvTKArray_GetCount(a), 2);
  EXPECT_EQ(cvTKArray_GetTime(a, 0), 2.0f);
  cvTKArray_Destroy(&a);
  EXPECT_EQ(a, nullptr);
  cvTKArray* empty = cvTKArray_Create(4);
  EXPECT_EQ(cvTKArray_FindIndex(empty, 1.0f), -1);
  cvTKArray_Destroy(&empty);
}

TEST(TKArray, FailedGrowthKeepsArray) {
  cvTKArray* a = cvTKArray_Create(8);
  ASSERT_TRUE(cvTKArray_Insert(&a, 1.0f, nullptr));
  {
    cvtest::FailNthAllocation fail(1);
    cvErrorLog_Clear();
    EXPECT_FALSE(cvTKArray_Insert(&a, 2.0f, nullptr));
    EXPECT_LOGGED(75);
  }
  EXPECT_EQ(cvTKArray_GetCount(a), 1);
  EXPECT_EQ(cvTKArray_GetTime(a, 0), 1.0f);
  cvTKArray_Destroy(&a);
}

TEST(TKArray, EvenSpacingAndBinaryForm) {
  cvTKArray* a = cvTKArray_Create(4);
  for (float t : {0.0f, 0.1f, 0.2f, 0.3f}) cvTKArray_Insert(&a, t, nullptr);
  EXPECT_TRUE(cvTKArray_IsEvenlySpaced(a, 0.0001f));
  cvTKArray_Insert(&a, 0.5f, nullptr);
  EXPECT_FALSE(cvTKArray_IsEvenlySpaced(a, 0.0001f));
  Writer w;
  ASSERT_TRUE(cvTKArray_WriteToFile(a, w.File()));
  std::vector<uint8_t> bytes = w.Bytes();
  ASSERT_EQ(bytes.size(), 8u + 5 * 4);
  EXPECT_EQ(Get32(bytes, 0), 5u);
  EXPECT_EQ(Get32(bytes, 4), 4u);
  Reader r(bytes);
  cvTKArray* b = cvTKArray_CreateFromFile(r.File());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(cvTKArray_GetCount(b), 5);
  EXPECT_EQ(cvTKArray_GetTime(b, 4), 0.5f);
  cvTKArray_Destroy(&b);
  // A count the file cannot hold is refused before anything is allocated.
  bytes[0] = 0xFF;
  bytes[1] = 0xFF;
  Reader bad(bytes);
  cvErrorLog_Clear();
  EXPECT_EQ(cvTKArray_CreateFromFile(bad.File()), nullptr);
  EXPECT_LOGGED(-1);
  cvTKArray_Destroy(&a);
}

TEST(QKFrame, Interpolators) {
  cvQKFrame_Key a{0.0f, {1, 0, 0, 0}}, b{1.0f, {-1, 0, 0, 0}};
  cvQuaternion r;
  cvQKFrame_LerpLinear(&a, &b, 0.5f, &r);  // the blend vanishes: no rotation
  EXPECT_FLOAT_EQ(r.W, 1.0f);
  EXPECT_FLOAT_EQ(r.X, 0.0f);
  cvQKFrame_Key c{1.0f, AxisAngle(0, 0, 1, 1.0f)};
  cvQKFrame_LerpLinear(&a, &c, 0.0f, &r);
  EXPECT_TRUE(cvQuaternion_Compare(&r, &a.Q, 1e-6f));
  cvQKFrame_LerpSlerp(&a, &c, 0.5f, &r);
  cvQuaternion half = AxisAngle(0, 0, 1, 0.5f);
  EXPECT_TRUE(cvQuaternion_Compare(&r, &half, 1e-5f));
  cvQKFrame_LerpSlerp(&c, &c, 0.3f, &r);  // one key given twice
  EXPECT_TRUE(cvQuaternion_Compare(&r, &c.Q, 0.0f));
}

TEST(QKFrame, SquadPassesThroughKeysAndFollowsOneAxis) {
  cvTKArray* keys = cvQKFrame_CreateSquad();
  for (int i = 0; i < 5; ++i) {
    cvQuaternion q = AxisAngle(0, 1, 0, 0.4f * static_cast<float>(i));
    cvQKFrame_InsertKey(&keys, static_cast<float>(i), &q, nullptr);
  }
  cvQKFrame_ComputeSquadControls(0, keys);
  auto key = [&](int i) { return static_cast<const cvQKFrame_SquadKey*>(cvTKArray_GetElementConst(keys, i)); };
  EXPECT_TRUE(cvQuaternion_Compare(&key(0)->Control, &key(0)->Q, 0.0f));  // end keys: Control = Q
  cvQuaternion r;
  cvQKFrame_LerpSquad(key(1), key(2), 0.0f, &r);
  EXPECT_TRUE(cvQuaternion_Compare(&r, &key(1)->Q, 1e-5f));
  cvQKFrame_LerpSquad(key(1), key(2), 1.0f, &r);
  EXPECT_TRUE(cvQuaternion_Compare(&r, &key(2)->Q, 1e-5f));
  // Evenly turning keys about one axis: squad stays on that motion.
  cvQKFrame_LerpSquad(key(1), key(2), 0.5f, &r);
  cvQuaternion expected = AxisAngle(0, 1, 0, 0.6f);
  EXPECT_TRUE(cvQuaternion_Compare(&r, &expected, 1e-4f));
  cvTKArray_Destroy(&keys);
}

TEST(QKFrame, LoopedSquadControlsWrapAround) {
  // A loop whose last key repeats the first: both ends see the same neighbours.
  cvTKArray* keys = cvQKFrame_CreateSquad();
  const cvQuaternion qs[] = {AxisAngle(1, 0, 0, 0.0f), AxisAngle(1, 0, 0, 1.0f), AxisAngle(0, 1, 0, 1.0f),
                             AxisAngle(1, 0, 0, 0.0f)};
  for (int i = 0; i < 4; ++i) cvQKFrame_InsertKey(&keys, static_cast<float>(i), &qs[i], nullptr);
  cvQKFrame_ComputeSquadControls(1, keys);
  auto key = [&](int i) { return static_cast<const cvQKFrame_SquadKey*>(cvTKArray_GetElementConst(keys, i)); };
  EXPECT_TRUE(cvQuaternion_Compare(&key(0)->Control, &key(3)->Control, 1e-6f));
  EXPECT_FALSE(cvQuaternion_Compare(&key(0)->Control, &key(0)->Q, 1e-3f));
  // Not looped: the ends keep Control = Q.
  cvQKFrame_ComputeSquadControls(0, keys);
  EXPECT_TRUE(cvQuaternion_Compare(&key(3)->Control, &key(3)->Q, 0.0f));
  cvTKArray_Destroy(&keys);
}

// Aligning decides most keys by a shortcut, several pairs at a time; every
// decision must be the one the quaternion functions give:
// |(q + next)^2| <= |(q - next)^2| negates next.
namespace {
void ExpectAlignedAsTheQuaternionProducts(std::vector<cvQuaternion> qs) {
  cvTKArray* keys = cvQKFrame_CreateSlerp();
  for (size_t i = 0; i < qs.size(); ++i) {
    ASSERT_TRUE(cvQKFrame_InsertKey(&keys, (float)i, &qs[i], nullptr));
    cvQKFrame_GetKey(keys, (int32_t)i, nullptr, &qs[i]);  // as stored
  }
  cvQKFrame_AlignHemispheres(keys);
  for (size_t k = 0; k + 1 < qs.size(); ++k) {
    cvQuaternion sum, diff, s, d;
    cvQuaternion_Add(&qs[k], &qs[k + 1], &sum);
    cvQuaternion_Subtract(&qs[k], &qs[k + 1], &diff);
    cvQuaternion_Multiply(&sum, &sum, &s);
    cvQuaternion_Multiply(&diff, &diff, &d);
    cvQuaternion& n = qs[k + 1];
    if (cvQuaternion_Magnitude(&s) <= cvQuaternion_Magnitude(&d)) n = {-n.W, -n.X, -n.Y, -n.Z};
    cvQuaternion got;
    cvQKFrame_GetKey(keys, (int32_t)k + 1, nullptr, &got);
    ASSERT_EQ(std::memcmp(&got, &qs[k + 1], sizeof got), 0) << k;
  }
  cvTKArray_Destroy(&keys);
}
}  // namespace

TEST(QKFrame, AlignHemispheresDecidesAsTheQuaternionProducts) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  std::vector<cvQuaternion> qs;
  for (int i = 0; i < 4000; ++i) {
    const cvQuaternion q{unit(rng), unit(rng), unit(rng), unit(rng)};
    qs.push_back(q);
    // Ties and near ties: a key orthogonal to the last, then one nudged off it.
    if (i % 4 == 0) qs.push_back({-q.X, q.W, -q.Z, q.Y});
    if (i % 4 == 1) qs.push_back({-q.X, q.W, -q.Z, std::nextafter(q.Y, 2.0f)});
    if (i % 8 == 2) qs.push_back({-q.W, -q.X, -q.Y, -q.Z});  // opposite
  }
  // Lengths from far below to far above float's range of squares, and
  // neighbours of very different lengths.
  std::uniform_real_distribution<float> exponent(-25.0f, 25.0f);
  for (int i = 0; i < 3000; ++i) {
    const float scale = std::pow(10.0f, exponent(rng));
    qs.push_back({unit(rng) * scale, unit(rng) * scale, unit(rng) * scale, unit(rng) * scale});
  }
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  for (const cvQuaternion& q : {cvQuaternion{0, 0, 0, 0}, cvQuaternion{nan, 0, 0, 1}, cvQuaternion{0, inf, 0, 0},
                                cvQuaternion{1e-30f, 0, 0, 0}, cvQuaternion{-1e30f, 1e30f, 0, 0}, cvQuaternion{1, 0, 0, 0},
                                // squares beyond float, at its smallest normal, denormal
                                cvQuaternion{3e19f, 1, 0, 0}, cvQuaternion{2e19f, -1, 0, 0}, cvQuaternion{1e-19f, 0, 1e-19f, 0},
                                cvQuaternion{-1e-19f, 0, 1e-19f, 0}, cvQuaternion{1e-40f, 1e-40f, 0, 0},
                                cvQuaternion{-1e-40f, 0, 0, 1e-44f}, cvQuaternion{0, 1, 0, 0}, cvQuaternion{0, -1e-15f, 0, 0}})
    qs.push_back(q);
  ExpectAlignedAsTheQuaternionProducts(qs);
  // Runs of keys close to each other, of one length each, tiny to huge.
  for (float scale = 1e-24f; scale < 1e24f; scale *= 31.0f) {
    const cvQuaternion base{unit(rng), unit(rng), unit(rng), unit(rng)};
    qs.clear();
    for (int i = 0; i < 9; ++i)
      qs.push_back({(base.W + 0.1f * unit(rng)) * scale, (base.X + 0.1f * unit(rng)) * scale,
                    (base.Y + 0.1f * unit(rng)) * scale, (base.Z + 0.1f * unit(rng)) * scale});
    ExpectAlignedAsTheQuaternionProducts(qs);
  }
}

TEST(QKFrame, OneAxisEvenTimesBlockIsCompressedAndReadsBack) {
  cvTKArray* keys = Rotations(10, 0.25f, [](int i) { return AxisAngle(1, 2, 3, 0.3f * static_cast<float>(i + 1)); });
  Writer w;
  ASSERT_TRUE(cvQKFrame_WriteBinary(w.File(), keys, CV_QKFRAME_SLERP, 1));
  std::vector<uint8_t> bytes = w.Bytes();
  ASSERT_EQ(bytes.size(), 4u + 68u);
  EXPECT_EQ(Get32(bytes, 0), 68u);  // 16 + 12 + 4 * 10
  EXPECT_EQ(Get32(bytes, 4), 1u << 16 | 3u << 8 | 1u);
  EXPECT_EQ(Get32(bytes, 8), 10u);
  Reader r(bytes);
  int code = -1, looped = -1;
  cvTKArray* back = cvQKFrame_ReadBinary(r.File(), &code, &looped);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(code, CV_QKFRAME_SLERP);
  EXPECT_EQ(looped, 1);
  EXPECT_EQ(r.Left(), 0u);
  ExpectSameRotations(keys, back, 1e-5f);
  cvTKArray_Destroy(&back);
  cvTKArray_Destroy(&keys);
}

TEST(QKFrame, SmallListsAreNotCompressed) {
  // Keys a second apart about Z by Start, Start + 0.2, ...: three keys compress
  // their times only, two nothing; a key without rotation leaves no axis.
  const struct {
    int Count;
    float Start;
    uint32_t Compression, BlockSize;
  } cases[] = {{3, 0.2f, 2u << 8, 16u + 3 * 16}, {2, 0.2f, 0u, 8u + 2 * 4 + 2 * 16}, {4, 0.0f, 2u << 8, 16u + 4 * 16}};
  for (const auto& c : cases) {
    cvTKArray* keys = cvQKFrame_CreateSlerp();
    for (int i = 0; i < c.Count; ++i) {
      cvQuaternion q = AxisAngle(0, 0, 1, c.Start + 0.2f * static_cast<float>(i));
      cvQKFrame_InsertKey(&keys, 0.5f + static_cast<float>(i), &q, nullptr);
    }
    Writer w;
    ASSERT_TRUE(cvQKFrame_WriteBinary(w.File(), keys, CV_QKFRAME_LINEAR, 0));
    EXPECT_EQ(Get32(w.Bytes(), 4), c.Compression) << c.Count;
    EXPECT_EQ(Get32(w.Bytes(), 0), c.BlockSize) << c.Count;
    cvTKArray_Destroy(&keys);
  }
}

TEST(QKFrame, TextBlockFormatAndRoundTrip) {
  cvTKArray* keys = Rotations(3, 0.5f, [](int i) { return AxisAngle(static_cast<float>(i), 1, 0, 0.7f); });
  cvTKArray_Remove(&keys, 2);  // two uneven... keep two keys: no compression
  Writer w;
  ASSERT_TRUE(cvQKFrame_WriteText(w.File(), keys, CV_QKFRAME_LINEAR, 0));
  const std::string text = w.Text();
  cvQuaternion q0;
  cvQKFrame_GetKey(keys, 0, nullptr, &q0);
  char expected[128];
  std::snprintf(expected, sizeof expected, "Keys 2 0 0 0\n0.500000 %f %f %f %f\n", q0.W, q0.X, q0.Y, q0.Z);
  EXPECT_EQ(text.substr(0, std::strlen(expected)), expected);
  Reader r(text);
  int code = -1, looped = -1;
  cvTKArray* back = cvQKFrame_ReadText(r.File(), &code, &looped);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(code, 0);
  ExpectSameRotations(keys, back, 2e-6f);
  cvTKArray_Destroy(&back);
  cvTKArray_Destroy(&keys);
}

TEST(QKFrame, CompressedTextRoundTrip) {
  cvTKArray* keys = Rotations(6, 0.125f, [](int i) { return AxisAngle(0, 1, 0, 0.25f * static_cast<float>(i + 1)); });
  Writer w;
  ASSERT_TRUE(cvQKFrame_WriteText(w.File(), keys, CV_QKFRAME_SQUAD, 1));
  const std::string text = w.Text();
  EXPECT_EQ(text.rfind("Keys 6 2 3 1\n0.500000 0.125000 Start T,Delta T\n0.000000 1.000000 0.000000 Axis\n", 0), 0u)
      << text;
  Reader r(text);
  int code = -1, looped = -1;
  cvTKArray* back = cvQKFrame_ReadText(r.File(), &code, &looped);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(code, CV_QKFRAME_SQUAD);
  EXPECT_EQ(looped, 1);
  EXPECT_EQ(cvTKArray_GetElementSize(back), 36);
  ExpectSameRotations(keys, back, 1e-5f);
  cvTKArray_Destroy(&back);
  cvTKArray_Destroy(&keys);
}

TEST(QKFrame, MalformedBlocksAreRefused) {
  struct Case {
    const char* Text;
  } cases[] = {
      {"Kyes 1 0 0 0\n0 1 0 0 0\n"},          // wrong word
      {"Keys 1 5 0 0\n0 1 0 0 0\n"},          // unknown code
      {"Keys 1 0 256 0\n0 1 0 0 0\n"},        // compression above 255
      {"Keys 2 0 0 0\n0 1 0 0 0\n"},          // a key missing
      {"Keys 1 0 0 0\n0 1 0 0\n"},            // a number missing
      {"Keys 2 0 0 0\n1 1 0 0 0\n0 1 0 0 0\n"},  // times out of order
      {"Keys 99999999 0 0 0\n0 1 0 0 0\n"},   // count beyond the file
  };
  for (const Case& c : cases) {
    Reader r{std::string(c.Text)};
    cvErrorLog_Clear();
    EXPECT_EQ(cvQKFrame_ReadText(r.File(), nullptr, nullptr), nullptr) << c.Text;
    EXPECT_LOGGED(61);
  }
  // A line longer than the reader's buffer is an error, not two lines.
  std::string longLine = "Keys 1 0 0 0\n0 1 0 0 0" + std::string(3000, ' ') + "\n";
  Reader r(longLine);
  EXPECT_EQ(cvQKFrame_ReadText(r.File(), nullptr, nullptr), nullptr);
  // Binary: size that disagrees with the count, unknown code, huge size.
  cvTKArray* keys = Rotations(2, 1.0f, [](int i) { return AxisAngle(0, 0, 1, 0.2f * static_cast<float>(i + 1)); });
  Writer w;
  cvQKFrame_WriteBinary(w.File(), keys, 0, 0);
  cvTKArray_Destroy(&keys);
  for (int variant = 0; variant < 3; ++variant) {
    std::vector<uint8_t> b = w.Bytes();
    if (variant == 0) b[8] = 3;     // Count 3
    if (variant == 1) b[6] = 7;     // code 7
    if (variant == 2) b[3] = 0x7F;  // BlockSize far beyond the file
    Reader rb(b);
    cvErrorLog_Clear();
    EXPECT_EQ(cvQKFrame_ReadBinary(rb.File(), nullptr, nullptr), nullptr) << variant;
    EXPECT_LOGGED(-1);
  }
}

TEST(VKFrame, InterpolatorsAndTangents) {
  cvTKArray* keys = cvVKFrame_CreateHermite();
  cvVec3d v0{0, 0, 0}, v1{2, 4, 6};
  cvVKFrame_InsertKey(&keys, 0.0f, &v0, nullptr);
  cvVKFrame_InsertKey(&keys, 1.0f, &v1, nullptr);
  cvVKFrame_ComputeHermiteTangents(0, 0, keys);
  auto key = [&](int i) { return static_cast<const cvVKFrame_HermiteKey*>(cvTKArray_GetElementConst(keys, i)); };
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(cvVec3d_Compare(&key(i)->TangentIn, &v1, 0.0f));
    EXPECT_TRUE(cvVec3d_Compare(&key(i)->TangentOut, &v1, 0.0f));
  }
  // With tangents equal to the chord, Hermite is a straight line.
  cvVec3d r;
  cvVKFrame_LerpHermite(key(0), key(1), 0.25f, &r);
  EXPECT_NEAR(r.X, 0.5f, 1e-6f);
  EXPECT_NEAR(r.Z, 1.5f, 1e-6f);
  // Zero tangents ease in and out: h(0.25) = 0.15625.
  cvVKFrame_ComputeHermiteTangents(0, 1, keys);
  cvVKFrame_LerpHermite(key(0), key(1), 0.25f, &r);
  EXPECT_NEAR(r.X, 2.0f * 0.15625f, 1e-6f);
  cvVKFrame_LerpLinear(key(0), key(1), 0.25f, &r);
  EXPECT_NEAR(r.Y, 1.0f, 1e-6f);
  cvTKArray_Destroy(&keys);
}

TEST(VKFrame, LoopedTangentsUseTheWrappedNeighbours) {
  cvTKArray* keys = cvVKFrame_CreateHermite();
  const float xs[] = {0.0f, 1.0f, 3.0f, 0.0f};
  const float ts[] = {0.0f, 1.0f, 2.0f, 4.0f};
  for (int i = 0; i < 4; ++i) {
    cvVec3d v{xs[i], 0, 0};
    cvVKFrame_InsertKey(&keys, ts[i], &v, nullptr);
  }
  cvVKFrame_ComputeHermiteTangents(1, 0, keys);
  auto key = [&](int i) { return static_cast<const cvVKFrame_HermiteKey*>(cvTKArray_GetElementConst(keys, i)); };
  // Key 0: prev = key 2 at time 0 - (4 - 2) = -2, next = key 1; span 1 - 3 = -2,
  // dPrev 2, dNext 1: out = -2 / 3, in = -4 / 3.
  EXPECT_NEAR(key(0)->TangentOut.X, -2.0f / 3.0f, 1e-6f);
  EXPECT_NEAR(key(0)->TangentIn.X, -4.0f / 3.0f, 1e-6f);
  // Key 3: prev = key 2, next = key 1 at time (1 - 0) + 4 = 5; span 1 - 3,
  // dPrev 2, dNext 1.
  EXPECT_NEAR(key(3)->TangentOut.X, -2.0f / 3.0f, 1e-6f);
  // Key 1: prev key 0, next key 2: span 3, dPrev 1, dNext 1.
  EXPECT_NEAR(key(1)->TangentOut.X, 1.5f, 1e-6f);
  EXPECT_NEAR(key(1)->TangentIn.X, 1.5f, 1e-6f);
  cvTKArray_Destroy(&keys);
}

TEST(VKFrame, BlocksRoundTripWithExactSizes) {
  cvTKArray* keys = cvVKFrame_CreateLinear();
  for (int i = 0; i < 5; ++i) {
    cvVec3d v{static_cast<float>(i) * 1.5f, -static_cast<float>(i), 0.25f};
    cvVKFrame_InsertKey(&keys, 0.1f * static_cast<float>(i), &v, nullptr);
  }
  Writer w;
  ASSERT_TRUE(cvVKFrame_WriteBinary(w.File(), keys, CV_VKFRAME_HERMITE_ZERO_DERIV, 0));
  std::vector<uint8_t> bytes = w.Bytes();
  EXPECT_EQ(Get32(bytes, 0), 16u + 12u * 5);
  EXPECT_EQ(Get32(bytes, 4), 2u << 16 | 2u << 8);
  Reader r(bytes);
  int code = -1;
  cvTKArray* back = cvVKFrame_ReadBinary(r.File(), &code, nullptr);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(code, 2);
  EXPECT_EQ(cvTKArray_GetElementSize(back), 40);
  for (int i = 0; i < 5; ++i) {
    float ta, tb;
    cvVec3d a, b;
    cvVKFrame_GetKey(keys, i, &ta, &a);
    cvVKFrame_GetKey(back, i, &tb, &b);
    EXPECT_NEAR(ta, tb, 1e-6f);
    EXPECT_TRUE(cvVec3d_Compare(&a, &b, 0.0f));
  }
  cvTKArray_Destroy(&back);
  Writer wt;
  ASSERT_TRUE(cvVKFrame_WriteText(wt.File(), keys, 0, 1));
  EXPECT_EQ(wt.Text().rfind("Keys 5 0 2 1\n0.000000 0.100000 Start T,Delta T\n0.000000 -0.000000 0.250000\n", 0), 0u)
      << wt.Text();
  Reader rt(wt.Text());
  int looped = 0;
  back = cvVKFrame_ReadText(rt.File(), &code, &looped);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(looped, 1);
  cvVec3d last;
  cvVKFrame_GetKey(back, 4, nullptr, &last);
  EXPECT_FLOAT_EQ(last.X, 6.0f);
  cvTKArray_Destroy(&back);
  cvTKArray_Destroy(&keys);
}

// Binary times are checked four at a time after the first: a repeated, NaN
// or infinite time at any place is refused, and times read back exactly,
// stored or even (k * delta + start, k counted in floats).
TEST(VKFrame, BinaryTimesAreCheckedAtEveryPlace) {
  auto block = [](bool Even, int Count) {
    cvTKArray* keys = cvVKFrame_CreateLinear();
    for (int i = 0; i < Count; ++i) {
      const cvVec3d v{(float)i, 0, 0};
      cvVKFrame_InsertKey(&keys, 0.5f + 0.3f * (float)i + (Even ? 0.0f : 0.1f * (float)(i % 2)), &v, nullptr);
    }
    Writer w;
    EXPECT_TRUE(cvVKFrame_WriteBinary(w.File(), keys, CV_VKFRAME_LINEAR, 0));
    cvTKArray_Destroy(&keys);
    return w.Bytes();
  };
  auto read = [](const std::vector<uint8_t>& Bytes) {
    Reader r(Bytes);
    return cvVKFrame_ReadBinary(r.File(), nullptr, nullptr);
  };
  auto putF32 = [](std::vector<uint8_t>* Bytes, size_t At, float Value) {
    uint32_t bits;
    std::memcpy(&bits, &Value, 4);
    cvLE_Put32(&Bytes->at(At), bits);
  };
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  // 13 keys end in a group of four, 11 keys one by one; 300 keys make a
  // block too large to be held on the stack.
  for (int count : {11, 13, 300}) {
    const std::vector<uint8_t> stored = block(false, count);
    ASSERT_EQ(Get32(stored, 4) & 0xFF00u, 0u);  // times stored one by one
    cvTKArray* keys = read(stored);
    ASSERT_NE(keys, nullptr);
    for (int k = 0; k < count; ++k) {
      float t;
      std::memcpy(&t, &stored[12 + 4 * (size_t)k], 4);
      EXPECT_EQ(cvTKArray_GetTime(keys, k), t) << k;
    }
    cvTKArray_Destroy(&keys);
    for (int k = 0; k < count; ++k) {
      float before = -inf;  // a repeated time: the one of the key before
      if (k > 0) std::memcpy(&before, &stored[12 + 4 * (size_t)(k - 1)], 4);
      for (float bad : {before, nan, inf, -inf}) {
        std::vector<uint8_t> b = stored;
        putF32(&b, 12 + 4 * (size_t)k, bad);
        cvErrorLog_Clear();
        EXPECT_EQ(read(b), nullptr) << count << " " << k << " " << bad;
        EXPECT_LOGGED(-1);
      }
    }
  }
  const std::vector<uint8_t> even = block(true, 11);
  ASSERT_EQ(Get32(even, 4) & 0xFF00u, (uint32_t)CV_KFRAME_COMPRESS_EVENTIMES << 8);
  cvTKArray* keys = read(even);
  ASSERT_NE(keys, nullptr);
  float start, delta, i = 0.0f;
  std::memcpy(&start, &even[12], 4);
  std::memcpy(&delta, &even[16], 4);
  for (int k = 0; k < 11; ++k, i += 1.0f) EXPECT_EQ(cvTKArray_GetTime(keys, k), i * delta + start) << k;
  cvTKArray_Destroy(&keys);
  // No step, a NaN, and a start so large that the steps vanish.
  for (auto [s, d] : {std::pair{0.5f, 0.0f}, std::pair{nan, 0.3f}, std::pair{0.5f, nan}, std::pair{1e30f, 0.3f},
                      std::pair{0.5f, 1e38f}}) {
    std::vector<uint8_t> b = even;
    putF32(&b, 12, s);
    putF32(&b, 16, d);
    EXPECT_EQ(read(b), nullptr) << s << " " << d;
  }
}

TEST(KeyText, NumbersIgnoreTheProcessLocale) {
  const char* locales[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "C.UTF-8"};
  const char* set = nullptr;
  for (const char* l : locales)
    if ((set = std::setlocale(LC_NUMERIC, l)) && std::strncmp(l, "C.", 2) != 0) break;
  cvTKArray* keys = cvVKFrame_CreateLinear();
  cvVec3d v{1.5f, -2.25f, 3.0f};
  cvVKFrame_InsertKey(&keys, 0.5f, &v, nullptr);
  Writer w;
  ASSERT_TRUE(cvVKFrame_WriteText(w.File(), keys, 0, 0));
  EXPECT_EQ(w.Text(), "Keys 1 0 0 0\n0.500000 1.500000 -2.250000 3.000000\n");
  Reader r(w.Text());
  cvTKArray* back = cvVKFrame_ReadText(r.File(), nullptr, nullptr);
  std::setlocale(LC_NUMERIC, "C");
  ASSERT_NE(back, nullptr);
  cvVec3d got;
  cvVKFrame_GetKey(back, 0, nullptr, &got);
  EXPECT_TRUE(cvVec3d_Compare(&got, &v, 0.0f));
  cvTKArray_Destroy(&back);
  cvTKArray_Destroy(&keys);
}
