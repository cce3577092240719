// Motions: named paths, checksums, events, compound blending and file forms.
#include <cmath>
#include <string>

#include "animtest.h"
#include "testsupport.h"

using namespace animtest;

namespace {

// A path moving X from From to To over [0, 1] and turning about Y by Angle.
cvPath* Move(float From, float To, float Angle = 0.0f) {
  cvPath* p = cvPath_Create(CV_PATH_INTERPOLATE_LINEAR, CV_PATH_INTERPOLATE_SLERP, 0);
  cvXForm3d x;
  cvXForm3d_SetYRotation(&x, 0.0f);
  x.T = cvVec3d{From, 0, 0};
  cvPath_InsertKeyframe(p, CV_PATH_ALL_CHANNELS, 0.0f, &x);
  cvXForm3d_SetYRotation(&x, Angle);
  x.T = cvVec3d{To, 0, 0};
  cvPath_InsertKeyframe(p, CV_PATH_ALL_CHANNELS, 1.0f, &x);
  return p;
}

// A leaf motion with named paths; the motion holds the only references.
cvMotion* Leaf(const char* Name, std::initializer_list<const char*> Bones, float Offset) {
  cvMotion* m = cvMotion_Create(1);
  cvMotion_SetName(m, Name);
  int i = 0;
  for (const char* bone : Bones) {
    cvPath* p = Move(Offset + static_cast<float>(i), Offset + static_cast<float>(i) + 1.0f, 0.5f);
    EXPECT_TRUE(cvMotion_AddPath(m, p, bone, nullptr));
    cvPath_Destroy(&p);
    ++i;
  }
  return m;
}

float SampleX(cvMotion* M, const char* Name, float Time) {
  cvXForm3d x;
  cvXForm3d_SetIdentity(&x);
  cvMotion_SampleByName(M, Name, Time, &x);
  return x.T.X;
}

void ExpectSameMotion(cvMotion* A, cvMotion* B) {
  EXPECT_STREQ(cvMotion_GetName(A) ? cvMotion_GetName(A) : "(none)", cvMotion_GetName(B) ? cvMotion_GetName(B) : "(none)");
  EXPECT_EQ(A->MaintainNames, B->MaintainNames);
  ASSERT_EQ(cvMotion_GetPathCount(A), cvMotion_GetPathCount(B));
  EXPECT_EQ(cvMotion_GetNameChecksum(A), cvMotion_GetNameChecksum(B));
  for (int32_t i = 0; i < cvMotion_GetPathCount(A); ++i) {
    if (A->MaintainNames) {
      EXPECT_STREQ(cvMotion_GetPathName(A, i), cvMotion_GetPathName(B, i));
    }
    for (float t : {0.0f, 0.3f, 1.0f}) {
      cvXForm3d xa, xb;
      cvMotion_SampleByIndex(A, i, t, &xa);
      cvMotion_SampleByIndex(B, i, t, &xb);
      EXPECT_NEAR(xa.T.X, xb.T.X, 1e-5f);
      EXPECT_NEAR(xa.M[0][2], xb.M[0][2], 1e-5f);
    }
  }
}

}  // namespace

TEST(Motion, NamedPathsAndChecksum) {
  cvMotion* m = Leaf("walk", {"ab", "c"}, 0.0f);
  EXPECT_EQ(m->Type, CV_MOTION_TYPE_LEAF);
  EXPECT_EQ(cvMotion_GetNameChecksum(m), 2052);
  EXPECT_FLOAT_EQ(SampleX(m, "c", 0.5f), 1.5f);
  EXPECT_EQ(cvMotion_GetPathNamed(m, "d"), nullptr);
  cvXForm3d x;
  EXPECT_FALSE(cvMotion_SampleByName(m, "d", 0.5f, &x));
  cvPath* dup = Move(0, 1);
  cvErrorLog_Clear();
  EXPECT_FALSE(cvMotion_AddPath(m, dup, "ab", nullptr));
  EXPECT_LOGGED(68);
  EXPECT_EQ(cvMotion_GetPathCount(m), 2);
  EXPECT_EQ(dup->Flags >> 2, 0u);  // no reference was taken
  cvPath_Destroy(&dup);
  float start = 0, end = 0;
  EXPECT_TRUE(cvMotion_GetTimeExtents(m, &start, &end));
  EXPECT_EQ(end, 1.0f);
  cvMotion_Destroy(&m);
}

TEST(Motion, FailedNameAppendLeavesThePathToItsOwner) {
  cvMotion* m = Leaf("m", {"a"}, 0.0f);
  cvPath* p = Move(0, 1);
  {
    // The path array grows first, then the name block.
    cvtest::FailNthAllocation fail(2);
    cvErrorLog_Clear();
    EXPECT_FALSE(cvMotion_AddPath(m, p, "b", nullptr));
    EXPECT_LOGGED(66);
  }
  EXPECT_EQ(cvMotion_GetPathCount(m), 1);
  EXPECT_EQ(cvPath_GetKeyframeCount(p, CV_PATH_TRANSLATION_CHANNEL), 2);  // still alive
  cvPath_Destroy(&p);
  cvMotion_Destroy(&m);
}

TEST(Motion, BinaryFormRoundTrips) {
  cvMotion* m = Leaf("run", {"Bip01", "Bip01 Spine"}, 2.0f);
  ASSERT_TRUE(cvMotion_InsertEvent(m, 0.25f, "footstep"));
  Writer w;
  ASSERT_TRUE(cvMotion_WriteToFile(m, w.File()));
  std::vector<uint8_t> bytes = w.Bytes();
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "MTNB");
  EXPECT_EQ(Get32(bytes, 4), 0xF0u);
  EXPECT_EQ(Get32(bytes, 8), 4u | 1u << 16 | 2u << 24);
  EXPECT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 16), std::string("run\0", 4));
  EXPECT_EQ(Get32(bytes, 16), 2u);
  EXPECT_EQ(static_cast<int32_t>(Get32(bytes, 20)), cvMotion_GetNameChecksum(m));
  EXPECT_EQ(Get32(bytes, 24), 3u);
  Reader r(bytes);
  cvMotion* back = cvMotion_CreateFromFile(r.File());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(r.Left(), 0u);
  ExpectSameMotion(m, back);
  cvMotion_SetupEventIterator(back, 0.0f, 1.0f);
  float time = 0;
  const char* text = nullptr;
  ASSERT_TRUE(cvMotion_GetNextEvent(back, &time, &text));
  EXPECT_STREQ(text, "footstep");
  cvMotion_Destroy(&back);
  cvMotion_Destroy(&m);
}

TEST(Motion, UnnamedMotionWithoutNameBlock) {
  cvMotion* m = cvMotion_Create(0);
  cvPath* p = Move(0, 3);
  ASSERT_TRUE(cvMotion_AddPath(m, p, nullptr, nullptr));
  cvPath_Destroy(&p);
  Writer w;
  ASSERT_TRUE(cvMotion_WriteToFile(m, w.File()));
  std::vector<uint8_t> bytes = w.Bytes();
  EXPECT_EQ(Get32(bytes, 8), 2u << 24);  // NameLength 0, no names kept
  EXPECT_EQ(Get32(bytes, 20), 0u);       // Contents: neither events nor names
  Reader r(bytes);
  cvMotion* back = cvMotion_CreateFromFile(r.File());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(cvMotion_GetName(back), nullptr);
  ExpectSameMotion(m, back);
  cvMotion_Destroy(&back);
  cvMotion_Destroy(&m);
}

TEST(Motion, TextFormRoundTrips) {
  cvMotion* m = Leaf("idle pose", {"root", "arm"}, 0.0f);
  cvMotion_InsertEvent(m, 0.5f, "blink");
  Writer w;
  ASSERT_TRUE(cvMotion_WriteToTextFile(m, w.File()));
  const std::string text = w.Text();
  char head[160];
  std::snprintf(head, sizeof head, "MOTN 0.F0\nNameID idle pose\nMaintainNames 1\nPathCount 2\nNameChecksum %d\nEvents 1\nTKEV",
                cvMotion_GetNameChecksum(m));
  EXPECT_EQ(text.rfind(head, 0), 0u) << text;
  EXPECT_NE(text.find("NameArray 1\nSBLK 0.F0\nStrings 2\nroot\narm\nPathArray 2\nPATH 0.F2\n"), std::string::npos);
  Reader r(text);
  cvMotion* back = cvMotion_CreateFromFile(r.File());
  ASSERT_NE(back, nullptr) << cvtest::LastCode();
  ExpectSameMotion(m, back);
  float first = 0, last = 0;
  EXPECT_TRUE(cvMotion_GetEventExtents(back, &first, &last));
  EXPECT_EQ(first, 0.5f);
  cvMotion_Destroy(&back);
  // An unset motion is still readable after a text round trip.
  cvMotion* unset = cvMotion_Create(0);
  Writer wu;
  ASSERT_TRUE(cvMotion_WriteToTextFile(unset, wu.File()));
  Reader ru(wu.Text());
  back = cvMotion_CreateFromFile(ru.File());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(cvMotion_GetPathCount(back), 0);
  cvMotion_Destroy(&back);
  cvMotion_Destroy(&unset);
  cvMotion_Destroy(&m);
}

TEST(Motion, CompoundBlendsEntriesByWeight) {
  cvMotion* a = Leaf("a", {"bone"}, 0.0f);   // bone X: 0 -> 1
  cvMotion* b = Leaf("b", {"bone"}, 10.0f);  // bone X: 10 -> 11
  cvMotion* mix = cvMotion_Create(0);
  ASSERT_TRUE(cvMotion_AddSubMotion(mix, a, 1.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f, nullptr, nullptr));
  // b runs twice as fast, starts at time 1 and fades in from 0 to 1 over its local [0, 2].
  ASSERT_TRUE(cvMotion_AddSubMotion(mix, b, 2.0f, 1.0f, 0.0f, 0.0f, 2.0f, 1.0f, nullptr, nullptr));
  EXPECT_EQ(cvMotion_GetSubMotionCount(mix), 2);
  EXPECT_EQ(cvMotion_GetSubMotionNamed(mix, "b"), b);
  // At time 1.25: a at 1.25 (past its end: X 1), b at local 0.5 (X 10.5), weight 0.25.
  EXPECT_NEAR(SampleX(mix, "bone", 1.25f), 1.0f + (10.5f - 1.0f) * 0.25f, 1e-5f);
  EXPECT_NEAR(cvMotion_GetBlendAmount(mix, 1, 1.25f), 0.25f, 1e-6f);
  cvXForm3d x;
  ASSERT_TRUE(cvMotion_SampleByIndex(mix, 0, 2.0f, &x));
  EXPECT_NEAR(x.T.X, 11.0f, 1e-5f);  // local 2: b at its end with full weight
  float start = 0, end = 0;
  ASSERT_TRUE(cvMotion_GetTimeExtents(mix, &start, &end));
  EXPECT_EQ(start, 0.0f);
  EXPECT_EQ(end, 1.5f);
  EXPECT_EQ(cvMotion_GetNameChecksum(mix), cvMotion_GetNameChecksum(a));
  // Compound motions hold no paths, events or text form.
  EXPECT_EQ(cvMotion_GetPathCount(mix), 0);
  cvPath* p = Move(0, 1);
  cvErrorLog_Clear();
  EXPECT_FALSE(cvMotion_AddPath(mix, p, "x", nullptr));
  EXPECT_LOGGED(66);
  EXPECT_FALSE(cvMotion_InsertEvent(mix, 0.0f, "e"));
  EXPECT_LOGGED(69);
  Writer w;
  EXPECT_FALSE(cvMotion_WriteToFile(mix, w.File()));
  EXPECT_LOGGED(72);
  EXPECT_EQ(w.Bytes().size(), 12u);  // tag, version and info only
  cvPath_Destroy(&p);
  // Removing hands the reference back.
  cvMotion* removed = cvMotion_RemoveSubMotion(mix, 0);
  EXPECT_EQ(removed, a);
  cvMotion_Destroy(&removed);
  EXPECT_EQ(cvMotion_GetSubMotionCount(mix), 1);
  cvMotion_Destroy(&mix);
  cvMotion_Destroy(&a);
  cvMotion_Destroy(&b);
}

TEST(Motion, BaseTransformsAndCycles) {
  cvMotion* leaf = Leaf("leaf", {"bone"}, 0.0f);
  cvMotion* inner = cvMotion_Create(0);
  cvXForm3d up, right;
  cvXForm3d_SetTranslation(&up, 0, 2, 0);
  cvXForm3d_SetTranslation(&right, 3, 0, 0);
  ASSERT_TRUE(cvMotion_AddSubMotion(inner, leaf, 1, 0, 0, 1, 1, 1, &up, nullptr));
  cvMotion* outer = cvMotion_Create(0);
  ASSERT_TRUE(cvMotion_AddSubMotion(outer, inner, 1, 0, 0, 1, 1, 1, &right, nullptr));
  cvXForm3d x;
  ASSERT_TRUE(cvMotion_SampleBaseTransform(outer, 0.5f, &x));
  EXPECT_NEAR(x.T.X, 3.0f, 1e-6f);
  EXPECT_NEAR(x.T.Y, 2.0f, 1e-6f);
  EXPECT_FALSE(cvMotion_SampleBaseTransform(leaf, 0.5f, &x));
  ASSERT_TRUE(cvMotion_SetBaseTransform(outer, 0, nullptr));
  EXPECT_EQ(cvMotion_GetBaseTransform(outer, 0), nullptr);
  ASSERT_TRUE(cvMotion_SampleBaseTransform(outer, 0.5f, &x));
  EXPECT_NEAR(x.T.X, 0.0f, 1e-6f);
  EXPECT_TRUE(cvMotion_HasSubMotion(outer, leaf));
  EXPECT_FALSE(cvMotion_HasSubMotion(leaf, outer));
  cvErrorLog_Clear();
  EXPECT_FALSE(cvMotion_AddSubMotion(inner, outer, 1, 0, 0, 1, 1, 1, nullptr, nullptr));  // a cycle
  EXPECT_LOGGED(-1);
  EXPECT_FALSE(cvMotion_AddSubMotion(leaf, inner, 1, 0, 0, 1, 1, 1, nullptr, nullptr));
  cvMotion_Destroy(&outer);
  cvMotion_Destroy(&inner);
  cvMotion_Destroy(&leaf);
}

TEST(Motion, EventsOnLeafMotions) {
  cvMotion* m = cvMotion_Create(1);
  ASSERT_TRUE(cvMotion_InsertEvent(m, 1.0f, "hit"));
  EXPECT_EQ(m->Type, CV_MOTION_TYPE_LEAF);
  cvErrorLog_Clear();
  EXPECT_FALSE(cvMotion_DeleteEvent(m, 2.0f));
  EXPECT_LOGGED(70);
  EXPECT_TRUE(cvMotion_DeleteEvent(m, 1.0f));
  cvMotion_Destroy(&m);
}

TEST(Motion, MalformedFilesAreRefused) {
  cvMotion* m = Leaf("m", {"a", "b"}, 0.0f);
  Writer w;
  ASSERT_TRUE(cvMotion_WriteToFile(m, w.File()));
  cvMotion_Destroy(&m);
  const std::vector<uint8_t> good = w.Bytes();
  struct Patch {
    size_t At;
    uint8_t Value;
    int32_t Code;
  } patches[] = {
      {4, 0xF1, 71},   // version
      {11, 1, 71},     // compound type
      {11, 9, 71},     // unknown type
      {8, 9, 71},      // name length beyond the name
      {14, 0x7F, 71},  // path count beyond the file
      {14, 3, 71},     // more paths than names... and than the file holds
      {0, 'X', 73},    // tag
  };
  for (const Patch& p : patches) {
    std::vector<uint8_t> bytes = good;
    bytes[p.At] = p.Value;
    Reader r(bytes);
    cvErrorLog_Clear();
    EXPECT_EQ(cvMotion_CreateFromFile(r.File()), nullptr) << p.At;
    EXPECT_LOGGED(p.Code) << p.At;
  }
  // Truncated anywhere: refused.
  for (size_t n = 0; n < good.size(); n += 7) {
    Reader r(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)));
    EXPECT_EQ(cvMotion_CreateFromFile(r.File()), nullptr) << n;
  }
  // Text with a section missing.
  Reader t(std::string("MOTN 0.F0\nNameID x\nMaintainNames 0\nPathCount 0\nNameChecksum 0\nEvents 0\nNameArray 0\n"));
  cvErrorLog_Clear();
  EXPECT_EQ(cvMotion_CreateFromFile(t.File()), nullptr);
  EXPECT_LOGGED(73);
}

TEST(Motion, EveryAllocationFailureWhileReadingIsClean) {
  cvMotion* m = Leaf("m", {"a", "b", "c"}, 0.0f);
  cvMotion_InsertEvent(m, 0.5f, "e");
  Writer wb, wt;
  ASSERT_TRUE(cvMotion_WriteToFile(m, wb.File()));
  ASSERT_TRUE(cvMotion_WriteToTextFile(m, wt.File()));
  cvMotion_Destroy(&m);
  for (const std::vector<uint8_t>& bytes : {wb.Bytes(), wt.Bytes()}) {
    Reader r(bytes);
    int failures = 0;
    // A failed allocation fails the read, logged; the sanitizer build shows
    // that nothing read so far is leaked.
    cvtest::WalkAllocationFailures(
        499,
        [&] {
          cvVFile_Seek(r.File(), 0, CV_VFILE_SEEKSET);
          return cvMotion_CreateFromFile(r.File());
        },
        [&](int n, cvMotion* back) {
          ++failures;
          EXPECT_EQ(back, nullptr) << n;
          EXPECT_FALSE(cvtest::LoggedCodes().empty()) << n;
          cvMotion_Destroy(&back);
        },
        [&](cvMotion* back) {
          EXPECT_NE(back, nullptr);
          cvMotion_Destroy(&back);
          EXPECT_GE(failures, 9);  // the read makes many allocations, each failed once
        });
  }
}
