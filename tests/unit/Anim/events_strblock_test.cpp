// Events, string blocks and transform arrays, with their file forms.
#include <cstring>
#include <string>

#include "animtest.h"
#include "testsupport.h"

using namespace animtest;

namespace {

std::vector<std::string> Iterate(cvTKEvents* Events, float Start, float End) {
  std::vector<std::string> out;
  cvTKEvents_SetupIterator(Events, Start, End);
  float time;
  const char* text;
  while (cvTKEvents_GetNextEvent(Events, &time, &text)) out.emplace_back(text);
  return out;
}

}  // namespace

TEST(TKEvents, InsertKeepsTextsInKeyOrder) {
  cvTKEvents* e = cvTKEvents_Create();
  ASSERT_TRUE(cvTKEvents_Insert(e, 0.5f, "b"));
  ASSERT_TRUE(cvTKEvents_Insert(e, 0.25f, "a"));
  ASSERT_EQ(e->DataSize, 4u);
  EXPECT_EQ(std::memcmp(e->Data, "a\0b\0", 4), 0);
  EXPECT_EQ(static_cast<cvTKEvents_Key*>(cvTKArray_GetElement(e->Keys, 0))->Offset, 0u);
  EXPECT_EQ(static_cast<cvTKEvents_Key*>(cvTKArray_GetElement(e->Keys, 1))->Offset, 2u);
  EXPECT_EQ(Iterate(e, 0.0f, 1.0f), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Iterate(e, 0.25f, 0.5f), (std::vector<std::string>{"a"}));
  float first = 0, last = 0;
  EXPECT_TRUE(cvTKEvents_GetExtents(e, &first, &last));
  EXPECT_EQ(first, 0.25f);
  EXPECT_EQ(last, 0.5f);
  ASSERT_TRUE(cvTKEvents_Insert(e, 0.375f, "middle"));
  EXPECT_EQ(Iterate(e, 0.0f, 1.0f), (std::vector<std::string>{"a", "middle", "b"}));
  cvErrorLog_Clear();
  EXPECT_FALSE(cvTKEvents_Delete(e, 0.3f));
  EXPECT_LOGGED(84);
  ASSERT_TRUE(cvTKEvents_Delete(e, 0.375f));
  ASSERT_TRUE(cvTKEvents_Delete(e, 0.25f));
  EXPECT_EQ(Iterate(e, 0.0f, 1.0f), (std::vector<std::string>{"b"}));
  ASSERT_TRUE(cvTKEvents_Delete(e, 0.5f));
  EXPECT_EQ(e->DataSize, 0u);
  EXPECT_EQ(e->Data, nullptr);
  EXPECT_FALSE(cvTKEvents_GetExtents(e, &first, &last));
  cvTKEvents_Destroy(&e);
}

TEST(TKEvents, FailedTextGrowthRemovesTheKey) {
  cvTKEvents* e = cvTKEvents_Create();
  ASSERT_TRUE(cvTKEvents_Insert(e, 1.0f, "x"));
  {
    // The key array grows first, then the data: fail the data.
    cvtest::FailNthAllocation fail(2);
    cvErrorLog_Clear();
    EXPECT_FALSE(cvTKEvents_Insert(e, 2.0f, "y"));
    EXPECT_LOGGED(85);
  }
  EXPECT_EQ(cvTKArray_GetCount(e->Keys), 1);
  EXPECT_EQ(Iterate(e, 0.0f, 5.0f), (std::vector<std::string>{"x"}));
  cvTKEvents_Destroy(&e);
}

TEST(TKEvents, TextAndBinaryFormsRoundTrip) {
  cvTKEvents* e = cvTKEvents_Create();
  cvTKEvents_Insert(e, 0.5f, "step left");
  cvTKEvents_Insert(e, 1.25f, "step right");
  Writer wt;
  ASSERT_TRUE(cvTKEvents_WriteToFile(e, wt.File()));
  EXPECT_EQ(wt.Text(),
            "TKEV 0.F0\nDataSize 21\nTimeKeys 2\n0.500000 0\nstep left\n1.250000 10\nstep right\n");
  Writer wb;
  ASSERT_TRUE(cvTKEvents_WriteToBinaryFile(e, wb.File()));
  std::vector<uint8_t> bin = wb.Bytes();
  EXPECT_EQ(std::string(bin.begin(), bin.begin() + 4), "TKEB");
  EXPECT_EQ(Get32(bin, 4), 0xF0u);
  EXPECT_EQ(Get32(bin, 8), 21u);
  EXPECT_EQ(bin.size(), 12u + 21 + 8 + 2 * 8);
  for (std::vector<uint8_t> bytes : {wb.Bytes(), std::vector<uint8_t>(wt.Bytes())}) {
    Reader r(bytes);
    cvTKEvents* back = cvTKEvents_CreateFromFile(r.File());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->DataSize, 21u);
    EXPECT_EQ(Iterate(back, 0.0f, 2.0f), (std::vector<std::string>{"step left", "step right"}));
    cvTKEvents_Destroy(&back);
  }
  cvTKEvents_Destroy(&e);
  {  // Keys listed backwards are put in time order.
    Reader r(std::string("TKEV 0.F0\nDataSize 21\nTimeKeys 2\n1.25 10\nstep right\n0.5 0\nstep left\n"));
    cvTKEvents* back = cvTKEvents_CreateFromFile(r.File());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(Iterate(back, 0.0f, 2.0f), (std::vector<std::string>{"step left", "step right"}));
    cvTKEvents_Destroy(&back);
  }
}

TEST(TKEvents, MalformedFilesAreRefused) {
  const char* texts[] = {
      "TKEV 0.EF\nDataSize 2\nTimeKeys 1\n0 0\na\n",         // version
      "TKEV 0.F0\nDataSize 2\nTimeKeys 1\n0 1\na\n",         // text beyond DataSize
      "TKEV 0.F0\nDataSize 4\nTimeKeys 2\n0 0\na\n1 0\nb\n",  // overlapping texts
      "TKEV 0.F0\nDataSize 4\nTimeKeys 1\n0 0\na\n",         // data not filled
      "TKEV 0.F0\nDataSize 2\nTimeKeys 2\n0 0\na\n",         // a key missing
      "TKXX",                                                 // unknown tag
      "TKEV 0.F0\nDataSize 2\nTimeKeys 1\n4e60 0\na\n",      // time beyond float range
      "TKEV 0.F0\nDataSize 4\nTimeKeys 2\n1.000001 2\nb\n1 0\na\n",  // times too close, in either order
      "TKEV 0.F0\nDataSize 4\nTimeKeys 2\n1 0\na\n1.000001 2\nb\n",
      "TKEV 0.F0\nDataSize 4\nTimeKeys 2\n15000 0\na\n15000 2\nb\n",  // equal times where 1e-5 is below a float's step
  };
  for (const char* t : texts) {
    Reader r{std::string(t)};
    cvErrorLog_Clear();
    EXPECT_EQ(cvTKEvents_CreateFromFile(r.File()), nullptr) << t;
    EXPECT_LOGGED(87);
  }
  // Binary: an offset pointing past the data.
  cvTKEvents* e = cvTKEvents_Create();
  cvTKEvents_Insert(e, 0.5f, "abc");
  Writer w;
  cvTKEvents_WriteToBinaryFile(e, w.File());
  cvTKEvents_Destroy(&e);
  std::vector<uint8_t> bytes = w.Bytes();
  bytes[bytes.size() - 4] = 9;
  Reader r(bytes);
  EXPECT_EQ(cvTKEvents_CreateFromFile(r.File()), nullptr);
  bytes = w.Bytes();
  bytes[4] = 0xF1;  // version
  Reader rv(bytes);
  cvErrorLog_Clear();
  EXPECT_EQ(cvTKEvents_CreateFromFile(rv.File()), nullptr);
  EXPECT_LOGGED(-1);
}

TEST(StrBlock, AppendFindAndChecksum) {
  cvStrBlock* b = cvStrBlock_Create();
  EXPECT_EQ(cvStrBlock_GetChecksum(b), 0);
  ASSERT_TRUE(cvStrBlock_Append(&b, "ab"));
  ASSERT_TRUE(cvStrBlock_Append(&b, "c"));
  EXPECT_EQ(cvStrBlock_GetChecksum(b), 2052);
  EXPECT_EQ(b->Self, b);
  EXPECT_EQ(cvStrBlock_GetDataSize(b), 8u + 3 + 2);
  ASSERT_TRUE(cvStrBlock_Append(&b, ""));
  EXPECT_STREQ(cvStrBlock_GetString(b, 0), "ab");
  EXPECT_STREQ(cvStrBlock_GetString(b, 1), "c");
  EXPECT_STREQ(cvStrBlock_GetString(b, 2), "");
  int32_t index = -1;
  EXPECT_TRUE(cvStrBlock_FindString(b, "c", &index));
  EXPECT_EQ(index, 1);
  EXPECT_FALSE(cvStrBlock_FindString(b, "C", &index));
  // Bytes above 127 count as negative.
  cvStrBlock* high = cvStrBlock_Create();
  cvStrBlock_Append(&high, "\xE9");
  EXPECT_EQ(cvStrBlock_GetChecksum(high), -23 * 3);
  cvStrBlock_Destroy(&high);
  std::string s254(254, 'x'), s255(255, 'x');
  cvErrorLog_Clear();
  EXPECT_FALSE(cvStrBlock_Append(&b, s255.c_str()));
  EXPECT_LOGGED(92);
  EXPECT_TRUE(cvStrBlock_Append(&b, s254.c_str()));
  EXPECT_EQ(cvStrBlock_GetCount(b), 4);
  cvStrBlock_Destroy(&b);
}

TEST(StrBlock, FileFormsRoundTrip) {
  cvStrBlock* b = cvStrBlock_Create();
  for (const char* s : {"Bip01", "Bip01 Pelvis", "", "L Foot"}) cvStrBlock_Append(&b, s);
  Writer wt, wb;
  ASSERT_TRUE(cvStrBlock_WriteToFile(b, wt.File()));
  EXPECT_EQ(wt.Text(), "SBLK 0.F0\nStrings 4\nBip01\nBip01 Pelvis\n\nL Foot\n");
  ASSERT_TRUE(cvStrBlock_WriteToBinaryFile(b, wb.File()));
  std::vector<uint8_t> bin = wb.Bytes();
  EXPECT_EQ(Get32(bin, 4), 4u);
  EXPECT_EQ(Get32(bin, 8), cvStrBlock_GetDataSize(b));
  EXPECT_EQ(Get32(bin, 12), 16u);  // the first string follows the four offsets
  for (std::vector<uint8_t> bytes : {wt.Bytes(), bin}) {
    Reader r(bytes);
    cvStrBlock* back = cvStrBlock_CreateFromFile(r.File());
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(cvStrBlock_GetCount(back), 4);
    EXPECT_STREQ(cvStrBlock_GetString(back, 1), "Bip01 Pelvis");
    EXPECT_STREQ(cvStrBlock_GetString(back, 2), "");
    EXPECT_EQ(cvStrBlock_GetChecksum(back), cvStrBlock_GetChecksum(b));
    cvStrBlock_Destroy(&back);
  }
  cvStrBlock_Destroy(&b);
}

TEST(StrBlock, TextReaderRules) {
  {  // An earlier version holds no strings.
    Reader r(std::string("SBLK 0.EF\nStrings 1\nx\n"));
    cvStrBlock* b = cvStrBlock_CreateFromFile(r.File());
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(cvStrBlock_GetCount(b), 0);
    cvStrBlock_Destroy(&b);
  }
  {  // Lines before the count are skipped; the keyword ignores case; CR LF ends lines.
    Reader r(std::string("SBLK 0.F0\r\nnote\r\nSTRINGS 2\r\none\r\ntwo\r\n"));
    cvStrBlock* b = cvStrBlock_CreateFromFile(r.File());
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(cvStrBlock_GetCount(b), 2);
    EXPECT_STREQ(cvStrBlock_GetString(b, 1), "two");
    cvStrBlock_Destroy(&b);
  }
  {
    Reader r(std::string("SBLK 0.F0\nno count here\n"));
    cvErrorLog_Clear();
    EXPECT_EQ(cvStrBlock_CreateFromFile(r.File()), nullptr);
    EXPECT_EQ(cvtest::LoggedCodes(), (std::vector<int32_t>{93, 95}));
  }
  {
    Reader r(std::string("SBLX"));
    cvErrorLog_Clear();
    EXPECT_EQ(cvStrBlock_CreateFromFile(r.File()), nullptr);
    EXPECT_LOGGED(95);
  }
  {  // A line longer than 255 characters is refused, not split.
    Reader r("SBLK 0.F0\nStrings 1\n" + std::string(300, 'y') + "\n");
    EXPECT_EQ(cvStrBlock_CreateFromFile(r.File()), nullptr);
  }
  {  // 255 characters fit the line but not a string of the block.
    Reader r("SBLK 0.F0\nStrings 1\n" + std::string(255, 'y') + "\n");
    cvErrorLog_Clear();
    EXPECT_EQ(cvStrBlock_CreateFromFile(r.File()), nullptr);
    EXPECT_EQ(cvtest::LoggedCodes(), (std::vector<int32_t>{92, 93}));
  }
  {  // Strings read in one pass give the block appending them builds.
    std::string text = "SBLK 0.F0\nStrings 3000\n";
    cvStrBlock* appended = cvStrBlock_Create();
    for (int i = 0; i < 3000; ++i) {
      const std::string s = i % 7 == 0 ? std::string() : std::to_string(i);
      text += s + "\n";
      ASSERT_TRUE(cvStrBlock_Append(&appended, s.c_str()));
    }
    Reader r(text);
    cvStrBlock* b = cvStrBlock_CreateFromFile(r.File());
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(cvStrBlock_GetDataSize(b), cvStrBlock_GetDataSize(appended));
    EXPECT_EQ(std::memcmp(b + 1, appended + 1, cvStrBlock_GetDataSize(b)), 0);
    EXPECT_EQ(cvStrBlock_GetChecksum(b), cvStrBlock_GetChecksum(appended));
    cvStrBlock_Destroy(&b);
    cvStrBlock_Destroy(&appended);
  }
}

TEST(StrBlock, MalformedBinaryIsRefused) {
  cvStrBlock* b = cvStrBlock_Create();
  cvStrBlock_Append(&b, "ab");
  cvStrBlock_Append(&b, "cd");
  Writer w;
  cvStrBlock_WriteToBinaryFile(b, w.File());
  cvStrBlock_Destroy(&b);
  const std::vector<uint8_t> good = w.Bytes();
  struct Patch {
    size_t At;
    uint8_t Value;
  } patches[] = {{4, 3}, {4, 0xFF}, {8, 40}, {12, 9}, {16, 4}, {22, 'x'}};
  for (const Patch& p : patches) {
    std::vector<uint8_t> bytes = good;
    bytes[p.At] = p.Value;
    Reader r(bytes);
    cvErrorLog_Clear();
    EXPECT_EQ(cvStrBlock_CreateFromFile(r.File()), nullptr) << p.At;
    EXPECT_LOGGED(93);
  }
}

TEST(XFArray, CreateAndSetAll) {
  cvXFArray* a = cvXFArray_Create(3);
  int32_t count = 0;
  cvXForm3d* x = cvXFArray_GetElements(a, &count);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(x[2].M[1][1], 1.0f);
  EXPECT_EQ(x[2].M[0][1], 0.0f);
  cvXForm3d t;
  cvXForm3d_SetTranslation(&t, 1, 2, 3);
  cvXFArray_SetAll(a, &t);
  EXPECT_EQ(x[1].T.Y, 2.0f);
  cvXFArray_Destroy(&a);
  EXPECT_EQ(a, nullptr);
  cvErrorLog_Clear();
  EXPECT_EQ(cvXFArray_Create(-1), nullptr);
  EXPECT_LOGGED(101);
}
