// Paths: keys, sampling with looping and the key cache, file forms.
#include <cmath>
#include <string>

#include "animtest.h"
#include "testsupport.h"

using namespace animtest;

namespace {

// A translation-only path with X = key time * 10 (so X/10 shows the sampled time).
cvPath* Ramp(std::initializer_list<float> Times, int Looped) {
  cvPath* p = cvPath_Create(CV_PATH_INTERPOLATE_LINEAR, CV_PATH_INTERPOLATE_LINEAR, Looped);
  for (float t : Times) {
    cvXForm3d x;
    cvXForm3d_SetTranslation(&x, t * 10.0f, 0.0f, 0.0f);
    EXPECT_TRUE(cvPath_InsertKeyframe(p, CV_PATH_TRANSLATION_CHANNEL, t, &x));
  }
  return p;
}

float SampleX(cvPath* P, float Time) {
  cvXForm3d x;
  cvPath_Sample(P, Time, &x);
  return x.T.X;
}

cvPath* TwoChannelPath(int RotationCode, int TranslationCode, int Looped) {
  cvPath* p = cvPath_Create(TranslationCode, RotationCode, Looped);
  for (int i = 0; i < 4; ++i) {
    cvXForm3d x;
    cvXForm3d_SetYRotation(&x, 0.3f * static_cast<float>(i));
    x.T = cvVec3d{static_cast<float>(i), static_cast<float>(i * i), -1.0f};
    EXPECT_TRUE(cvPath_InsertKeyframe(p, CV_PATH_ALL_CHANNELS, 0.5f * static_cast<float>(i), &x));
  }
  return p;
}

void ExpectSameSamples(cvPath* A, cvPath* B, float Tolerance) {
  for (float t = -1.0f; t < 3.0f; t += 0.1f) {
    cvQuaternion qa, qb;
    cvVec3d va, vb;
    EXPECT_EQ(cvPath_SampleChannels(A, t, &qa, &va), cvPath_SampleChannels(B, t, &qb, &vb));
    EXPECT_TRUE(cvQuaternion_Compare(&qa, &qb, Tolerance)) << t;
    EXPECT_TRUE(cvVec3d_Compare(&va, &vb, Tolerance)) << t;
  }
}

}  // namespace

TEST(Path, LoopedTimeWraps) {
  cvPath* p = Ramp({0.0f, 10.0f}, 1);
  EXPECT_NEAR(SampleX(p, 25.0f), 50.0f, 1e-4f);
  EXPECT_NEAR(SampleX(p, -3.0f), 70.0f, 1e-4f);
  EXPECT_NEAR(SampleX(p, 10.0f), 0.0f, 1e-4f);  // the end wraps to the start
  cvPath_Destroy(&p);
  cvPath* q = Ramp({2.0f, 12.0f}, 1);
  EXPECT_NEAR(SampleX(q, 1.0f), 110.0f, 1e-4f);
  cvPath_Destroy(&q);
}

TEST(Path, UnloopedTimeClampsAndSingleKeyHolds) {
  cvPath* p = Ramp({1.0f, 2.0f, 4.0f}, 0);
  EXPECT_FLOAT_EQ(SampleX(p, 0.0f), 10.0f);
  EXPECT_FLOAT_EQ(SampleX(p, 9.0f), 40.0f);
  EXPECT_FLOAT_EQ(SampleX(p, 3.0f), 30.0f);
  // Going backwards after the cache was filled still finds the right pair.
  EXPECT_FLOAT_EQ(SampleX(p, 1.5f), 15.0f);
  cvPath_Destroy(&p);
  for (int looped = 0; looped < 2; ++looped) {
    cvPath* one = Ramp({3.0f}, looped);
    for (float t : {-5.0f, 3.0f, 100.0f}) EXPECT_FLOAT_EQ(SampleX(one, t), 30.0f);
    cvPath_Destroy(&one);
  }
}

TEST(Path, KeyCacheFollowsEditing) {
  cvPath* p = Ramp({0.0f, 1.0f, 2.0f}, 0);
  EXPECT_FLOAT_EQ(SampleX(p, 0.5f), 5.0f);
  EXPECT_EQ(p->Translation.CacheIndexA, 0);
  EXPECT_EQ(p->Translation.CacheIndexB, 1);
  cvXForm3d x;
  cvXForm3d_SetTranslation(&x, 100.0f, 0, 0);
  ASSERT_TRUE(cvPath_ModifyKeyframe(p, 1, CV_PATH_TRANSLATION_CHANNEL, &x));
  EXPECT_FLOAT_EQ(SampleX(p, 0.5f), 50.0f);
  ASSERT_TRUE(cvPath_DeleteKeyframe(p, 1, CV_PATH_TRANSLATION_CHANNEL));
  EXPECT_FLOAT_EQ(SampleX(p, 0.5f), 5.0f);
  EXPECT_EQ(cvPath_GetKeyframeIndex(p, CV_PATH_TRANSLATION_CHANNEL, 2.000001f), 1);
  EXPECT_EQ(cvPath_GetKeyframeIndex(p, CV_PATH_TRANSLATION_CHANNEL, 1.0f), -1);
  cvErrorLog_Clear();
  EXPECT_FALSE(cvPath_DeleteKeyframe(p, 5, CV_PATH_TRANSLATION_CHANNEL));
  EXPECT_LOGGED(60);
  EXPECT_FALSE(cvPath_DeleteKeyframe(p, 0, CV_PATH_ROTATION_CHANNEL));
  EXPECT_LOGGED(59);
  cvPath_Destroy(&p);
}

TEST(Path, RotationOnlyPathHasNoTranslation) {
  cvPath* p = cvPath_Create(CV_PATH_INTERPOLATE_HERMITE, CV_PATH_INTERPOLATE_SLERP, 0);
  cvXForm3d a, b;
  cvXForm3d_SetZRotation(&a, 0.0f);
  cvXForm3d_SetZRotation(&b, 1.0f);
  cvPath_InsertKeyframe(p, CV_PATH_ROTATION_CHANNEL, 0.0f, &a);
  cvPath_InsertKeyframe(p, CV_PATH_ROTATION_CHANNEL, 2.0f, &b);
  cvXForm3d x;
  EXPECT_EQ(cvPath_Sample(p, 1.0f, &x), 0);
  EXPECT_EQ(x.T.X, 0.0f);
  cvXForm3d half;
  cvXForm3d_SetZRotation(&half, 0.5f);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(x.M[r][c], half.M[r][c], 1e-5f);
  float start = 0, end = 0;
  EXPECT_TRUE(cvPath_GetTimeExtents(p, &start, &end));
  EXPECT_EQ(end, 2.0f);
  // A translation key that cannot go in takes the rotation key of the same call out.
  cvErrorLog_Clear();
  cvXForm3d_SetTranslation(&x, 1, 1, 1);
  cvPath_InsertKeyframe(p, CV_PATH_TRANSLATION_CHANNEL, 1.0f, &x);
  EXPECT_FALSE(cvPath_InsertKeyframe(p, CV_PATH_ALL_CHANNELS, 1.0f, &x));
  EXPECT_LOGGED(58);
  EXPECT_EQ(cvPath_GetKeyframeCount(p, CV_PATH_ROTATION_CHANNEL), 2);
  cvPath_Destroy(&p);
}

TEST(Path, CopyAndReferences) {
  cvPath* p = TwoChannelPath(CV_PATH_INTERPOLATE_SQUAD, CV_PATH_INTERPOLATE_HERMITE, 1);
  cvPath* copy = cvPath_CreateCopy(p);
  ASSERT_NE(copy, nullptr);
  ExpectSameSamples(p, copy, 0.0f);
  cvPath_CreateRef(p);
  cvPath* holder = p;
  cvPath_Destroy(&holder);  // one of two holders lets go
  EXPECT_EQ(holder, nullptr);
  EXPECT_EQ(p->Flags >> 2, 0u);
  EXPECT_EQ(cvPath_GetKeyframeCount(p, CV_PATH_ROTATION_CHANNEL), 4);
  cvPath_Destroy(&p);
  cvPath_Destroy(&copy);
}

TEST(Path, BinaryFormRoundTrips) {
  for (int rot : {0, 2, 3})
    for (int trans : {0, 1, 7}) {
      cvPath* p = TwoChannelPath(rot, trans, rot == 3);
      Writer w;
      ASSERT_TRUE(cvPath_WriteToBinaryFile(p, w.File()));
      std::vector<uint8_t> bytes = w.Bytes();
      const uint32_t header = Get32(bytes, 0);
      EXPECT_EQ(header >> 16, 0x1001u);
      EXPECT_EQ(header & 3u, 3u);
      EXPECT_EQ(header >> 2 & 0x7F, static_cast<uint32_t>(p->Rotation.Interpolation));
      EXPECT_EQ(header >> 9 & 0x7F, static_cast<uint32_t>(p->Translation.Interpolation));
      Reader r(bytes);
      cvPath* back = cvPath_CreateFromFile(r.File());
      ASSERT_NE(back, nullptr);
      EXPECT_EQ(r.Left(), 0u);
      EXPECT_EQ(back->Rotation.Interpolation, p->Rotation.Interpolation);
      EXPECT_EQ(back->Translation.Interpolation, p->Translation.Interpolation);
      EXPECT_EQ(cvPath_IsLooped(back), cvPath_IsLooped(p));
      ExpectSameSamples(p, back, 1e-5f);
      cvPath_Destroy(&back);
      cvPath_Destroy(&p);
    }
}

TEST(Path, TranslationOnlyBinaryHoldsJustTheVectorBlock) {
  cvPath* p = Ramp({0.0f, 1.0f}, 0);
  Writer w;
  ASSERT_TRUE(cvPath_WriteToBinaryFile(p, w.File()));
  std::vector<uint8_t> bytes = w.Bytes();
  EXPECT_EQ(Get32(bytes, 0) & 1u, 0u);
  EXPECT_EQ(bytes.size(), 4u + 4 + 8 + 2 * 4 + 2 * 12);
  cvPath_Destroy(&p);
}

TEST(Path, TextFormRoundTripsAndIsExact) {
  cvPath* p = TwoChannelPath(CV_PATH_INTERPOLATE_SLERP, CV_PATH_INTERPOLATE_HERMITE_ZERO_DERIV, 0);
  Writer w;
  ASSERT_TRUE(cvPath_WriteToFile(p, w.File()));
  const std::string text = w.Text();
  EXPECT_EQ(text.rfind("PATH 0.F2\nRotation 1 1\nKeys 4 1 2 0\n0.000000 0.500000 Start T,Delta T\n", 0), 0u) << text;
  EXPECT_NE(text.find("Translation 1 2\nKeys 4 2 2 0\n"), std::string::npos) << text;
  Reader r(text);
  cvPath* back = cvPath_CreateFromFile(r.File());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->Translation.Interpolation, CV_PATH_VK_HERMITE_ZERO);
  ExpectSameSamples(p, back, 1e-5f);
  cvPath_Destroy(&back);
  // A channel without keys keeps its kind through the code on its line.
  cvPath* empty = cvPath_Create(CV_PATH_INTERPOLATE_HERMITE, CV_PATH_INTERPOLATE_SQUAD, 1);
  Writer we;
  ASSERT_TRUE(cvPath_WriteToFile(empty, we.File()));
  EXPECT_EQ(we.Text(), "PATH 0.F2\nRotation 0 2\nTranslation 0 1\n");
  Reader re(we.Text());
  back = cvPath_CreateFromFile(re.File());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->Rotation.Interpolation, CV_PATH_QK_SQUAD);
  EXPECT_EQ(back->Translation.Interpolation, CV_PATH_VK_HERMITE);
  cvPath_Destroy(&back);
  cvPath_Destroy(&empty);
  cvPath_Destroy(&p);
}

TEST(Path, EarlierTextLayoutsAreRead) {
  {
    Reader r(std::string("PATH 0.F1\nRotation 0\nTranslation 1\nKeys 2 0 0 1\n0 1 2 3\n1 3 2 1\n"));
    cvPath* p = cvPath_CreateFromFile(r.File());
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(cvPath_IsLooped(p));
    cvQuaternion q;
    cvVec3d v;
    EXPECT_EQ(cvPath_SampleChannels(p, 0.5f, &q, &v), 1);
    EXPECT_FLOAT_EQ(v.X, 2.0f);
    EXPECT_FLOAT_EQ(q.W, 1.0f);
    cvPath_Destroy(&p);
  }
  const std::string channelLayout =
      "PATH 0.F0\n"
      "Looped 0\n"
      "Rotation 1\n"
      "CHNL 0.F0\n"
      "InterpolationType 3\n"
      "StartTime 0.0\n"
      "EndTime 1.0\n"
      "KeyList 2\n"
      "0.0\nQKFQ 1 0 0 0 1 0 0 0\n"
      "1.0\nQKFQ\n0 0 0 1 0 0 0 1\n"
      "Translation 1\n"
      "CHNL 0.F0\n"
      "keylist 2\n"
      "2.0\nVKFL 4 0 -2\n"  // keys listed backwards are put in time order
      "0.0\nVKFL 0 0 0\n"
      "interpolationtype 0\n"
      "starttime 0\n"
      "endtime 2\n";
  Reader r(channelLayout);
  cvPath* p = cvPath_CreateFromFile(r.File());
  ASSERT_NE(p, nullptr) << cvtest::LastCode();
  EXPECT_EQ(p->Rotation.Interpolation, CV_PATH_QK_SQUAD);
  EXPECT_EQ(p->Flags & CV_PATH_FLAG_DIRTY, static_cast<uint32_t>(CV_PATH_FLAG_DIRTY));
  cvQuaternion q;
  cvVec3d v;
  cvPath_SampleChannels(p, 1.0f, &q, &v);
  const cvQuaternion halfTurn{0, 0, 0, 1};
  EXPECT_TRUE(cvQuaternion_Compare(&q, &halfTurn, 1e-6f));
  EXPECT_FLOAT_EQ(v.X, 2.0f);
  EXPECT_FLOAT_EQ(v.Z, -1.0f);
  cvPath_Destroy(&p);
}

TEST(Path, MalformedTextIsRefusedWithItsCode) {
  struct Case {
    const char* Text;
    int32_t Code;
  } cases[] = {
      {"PATX 0.F2\n", 63},
      {"PATH 0.F3\nRotation 0 0\nTranslation 0 0\n", 63},
      {"PATH 0.F2\nRotaton 0 0\nTranslation 0 0\n", 63},
      {"PATH 0.F2\nRotation 0\nTranslation 0 0\n", 61},
      {"PATH 0.F2\nRotation 1 0\nKeys 1 0 0 0\n", 61},
      {"PATH 0.F0\nLooped 0\nRotation 1\nCHNL 0.F0\nInterpolationType 1\n", 63},
      {"PATH 0.F0\nLooped 0\nRotation 1\nCHNL 0.F0\nInterpolationType 0\nKeyList 1\n0.0\nQKFS 1 0 0 0\n", 62},
      {"PATH 0.F0\nLooped 0\nRotation 1\nCHNL 0.F0\nKeyList 1\n0.0\nVKFL 1 0 0\n", 62},
      {"PATH 0.F0\nLooped 0\nRotation 1\nCHNL 0.F0\nFrames 1\n", 63},
      {"PATH 0.F0\nLooped 0\nRotation 0\nTranslation 1\nCHNL 0.F0\nKeyList 1\n1e39\nVKFL 1 2 3\n", 61},
      // Keys closer than the insertion spacing, in either order.
      {"PATH 0.F0\nLooped 0\nRotation 0\nTranslation 1\nCHNL 0.F0\nKeyList 2\n1.000001\nVKFL 1 2 3\n1\nVKFL 0 0 0\n", 61},
      {"PATH 0.F0\nLooped 0\nRotation 0\nTranslation 1\nCHNL 0.F0\nKeyList 2\n1\nVKFL 1 2 3\n1.000001\nVKFL 0 0 0\n", 61},
      {"PATH 0.F0\nLooped\n", 61},
  };
  for (const Case& c : cases) {
    Reader r{std::string(c.Text)};
    cvErrorLog_Clear();
    EXPECT_EQ(cvPath_CreateFromFile(r.File()), nullptr) << c.Text;
    EXPECT_LOGGED(c.Code) << c.Text;
  }
  // A binary header with a kind out of range.
  std::vector<uint8_t> bytes = {0x00, 0x00, 0x01, 0x10};
  Reader r(bytes);
  cvErrorLog_Clear();
  EXPECT_EQ(cvPath_CreateFromFile(r.File()), nullptr);
  EXPECT_LOGGED(-1);
}
