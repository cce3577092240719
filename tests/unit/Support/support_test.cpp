// Memory functions and the error log.
#include <cstring>
#include <string>

#include "testsupport.h"

namespace {

TEST(ErrorLog, EntryTextNamesFileBaseAndLine) {
  cvErrorLog_Clear();
  EXPECT_EQ(cvErrorLog_AddExplicit(-1, "", "C:\\src\\engine\\World.c", 2231, "", ""), 1);
  EXPECT_EQ(cvErrorLog_AddExplicit(52, nullptr, "engine/World/world.cpp", 7, nullptr, nullptr), 2);
  EXPECT_EQ(cvErrorLog_AddExplicit(3, "Eng", "plain.c", 9, "desc", "ctx"), 3);
  int32_t code = 0;
  const char* text = nullptr;
  ASSERT_TRUE(cvErrorLog_Report(0, &code, &text));
  EXPECT_EQ(code, -1);
  EXPECT_STREQ(text, " World.c 2231");
  ASSERT_TRUE(cvErrorLog_Report(1, &code, &text));
  EXPECT_EQ(code, 52);
  EXPECT_STREQ(text, " world.cpp 7");
  ASSERT_TRUE(cvErrorLog_Report(2, &code, &text));
  EXPECT_STREQ(text, "Eng plain.c 9 descctx");
  EXPECT_FALSE(cvErrorLog_Report(3, &code, &text));
  EXPECT_FALSE(cvErrorLog_Report(-1, &code, &text));
}

TEST(ErrorLog, ThirtyFirstEntryDropsTheOldest) {
  cvErrorLog_Clear();
  for (int i = 0; i < 31; ++i) cvErrorLog_AddExplicit(100 + i, "", "f.c", i, "", "");
  EXPECT_EQ(cvErrorLog_Count(), 30);
  int32_t code = 0;
  const char* text = nullptr;
  ASSERT_TRUE(cvErrorLog_Report(0, &code, &text));
  EXPECT_EQ(code, 101);
  EXPECT_STREQ(text, " f.c 1");
  ASSERT_TRUE(cvErrorLog_Report(29, &code, &text));
  EXPECT_EQ(code, 130);
}

TEST(ErrorLog, AppendAndBoundedText) {
  cvErrorLog_Clear();
  EXPECT_FALSE(cvErrorLog_AppendString("x"));
  EXPECT_EQ(cvErrorLog_Count(), 0);
  std::string longName(300, 'n'), longDesc(300, 'd');
  cvErrorLog_AddExplicit(1, longName.c_str(), "a.c", 1, longDesc.c_str(), longDesc.c_str());
  const char* text = nullptr;
  int32_t code = 0;
  ASSERT_TRUE(cvErrorLog_Report(0, &code, &text));
  EXPECT_EQ(std::strlen(text), 128u);
  EXPECT_EQ(std::string(text), std::string(128, 'n'));
  EXPECT_TRUE(cvErrorLog_AppendString("more"));
  EXPECT_EQ(std::strlen(text), 128u);
  EXPECT_FALSE(cvErrorLog_AppendString(nullptr));

  cvErrorLog_Clear();
  CV_ERROR_CTX(-1, "65538 - 65539");
  ASSERT_TRUE(cvErrorLog_Report(0, &code, &text));
  EXPECT_EQ(std::string(text).substr(0, 18), " support_test.cpp ");
  EXPECT_NE(std::string(text).find("65538 - 65539"), std::string::npos);
  EXPECT_TRUE(cvErrorLog_AppendString("!"));
  EXPECT_EQ(std::string(text).back(), '!');
}

int g_retries = 0;
int retryTwice() { return ++g_retries <= 2; }

TEST(Ram, AllocateReallocFree) {
  auto* p = static_cast<uint8_t*>(cvRam_AllocateClear(5));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(p[i], 0);  // rounded up to 8 zeroed bytes
  void* q = cvRam_Realloc(nullptr, 16);
  ASSERT_NE(q, nullptr);
  q = cvRam_Realloc(q, 64);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(cvRam_Realloc(q, 0), nullptr);
  cvRam_Free(p);
}

TEST(Ram, RetryHookDecidesAfterAFailure) {
  g_retries = 0;
  EXPECT_EQ(cvRam_SetCriticalCallback(retryTwice), nullptr);
  // Hook installed but not enabled: the failure returns null at once.
  cvRam_SetFailCountdown(1);
  EXPECT_EQ(cvRam_Allocate(10), nullptr);
  EXPECT_TRUE(cvRam_FailCountdownFired());
  EXPECT_EQ(g_retries, 0);
  // Enabled: the hook asks for another try, which succeeds.
  EXPECT_EQ(cvRam_EnableCriticalCallback(1), 1);
  cvRam_SetFailCountdown(1);
  void* p = cvRam_Allocate(10);
  EXPECT_NE(p, nullptr);
  EXPECT_EQ(g_retries, 1);
  cvRam_SetFailCountdown(1);
  p = cvRam_Realloc(p, 100);
  EXPECT_NE(p, nullptr);
  EXPECT_EQ(g_retries, 2);
  cvRam_Free(p);
  EXPECT_EQ(cvRam_EnableCriticalCallback(-1), 0);
  EXPECT_EQ(cvRam_SetCriticalCallback(nullptr), retryTwice);
  cvRam_SetFailCountdown(0);
}

TEST(CheckedSize, RefusesOverflowAndLimit) {
  uint64_t out = 7;
  EXPECT_TRUE(cvSize_Mul(1024, 1024, &out));
  EXPECT_EQ(out, 1048576u);
  EXPECT_FALSE(cvSize_Mul(UINT64_MAX, 2, &out));
  EXPECT_FALSE(cvSize_Mul3(65536, 65536, 4, &out));
  EXPECT_TRUE(cvSize_MulAdd(0, UINT64_MAX, 5, &out));
  EXPECT_EQ(out, 5u);
  EXPECT_FALSE(cvSize_Add(CV_SIZE_LIMIT, 1, &out));
}

}  // namespace
