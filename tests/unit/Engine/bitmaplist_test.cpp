// The engine bitmap list: reference counts, hash buckets and list order.
#include <map>
#include <vector>

#include "Bitmap/cvbitmap.h"
#include "Engine/cvengcore.h"
#include "testsupport.h"

namespace {
int32_t Bucket(const cvBitmap* b) {
  const uint32_t k = (uint32_t)(uintptr_t)b;
  return (int32_t)(((k >> 15) ^ k) % 1009) + 1;
}
}  // namespace

TEST(BitmapList, CountsReferencesPerBitmap) {
  cvBitmapList* list = cvBitmapList_Create();
  ASSERT_NE(list, nullptr);
  cvBitmap* b = cvBitmap_Create(4, 4, 1, CV_PIXELFORMAT_32BIT_XRGB);
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(cvBitmapList_Add(list, b));
  EXPECT_FALSE(cvBitmapList_Add(list, b));  // already there: counted again
  EXPECT_EQ(b->RefCount, 3);
  EXPECT_EQ(cvBitmapList_Count(list), 1);
  EXPECT_FALSE(cvBitmapList_Remove(list, b));
  EXPECT_TRUE(cvBitmapList_Has(list, b));
  EXPECT_TRUE(cvBitmapList_Remove(list, b));
  EXPECT_FALSE(cvBitmapList_Has(list, b));
  EXPECT_EQ(b->RefCount, 1);
  cvErrorLog_Clear();
  EXPECT_FALSE(cvBitmapList_Remove(list, b));
  EXPECT_LOGGED(-1);
  EXPECT_TRUE(cvBitmapList_IsValid(list));
  // Destroying the list releases what it still holds.
  cvBitmapList_Add(list, b);
  cvBitmapList_Add(list, b);
  EXPECT_TRUE(cvBitmapList_Destroy(list));
  EXPECT_EQ(b->RefCount, 1);
  cvBitmap_Destroy(&b);
}

TEST(BitmapList, ManyBitmapsSharingBucketsAreAllFoundInBucketOrder) {
  cvBitmapList* list = cvBitmapList_Create();
  std::vector<cvBitmap*> bitmaps;
  std::map<int32_t, int> perBucket;
  bool shared = false;
  // More bitmaps than buckets: some must share one.
  const int count = 1100;
  for (int i = 0; i < count; ++i) {
    cvBitmap* b = cvBitmap_Create(1, 1, 1, CV_PIXELFORMAT_8BIT_GRAY);
    ASSERT_NE(b, nullptr);
    bitmaps.push_back(b);
    shared |= ++perBucket[Bucket(b)] > 1;
    ASSERT_TRUE(cvBitmapList_Add(list, b));
  }
  ASSERT_TRUE(shared) << "no two bitmaps fell into one bucket";
  EXPECT_EQ(cvBitmapList_Count(list), count);
  EXPECT_TRUE(cvBitmapList_IsValid(list));
  for (cvBitmap* b : bitmaps) EXPECT_TRUE(cvBitmapList_Has(list, b));
  // Walking the list visits every bitmap once, in bucket order.
  int visited = 0, last = 0;
  for (cvBitmap* b = cvBitmapList_GetNext(list, nullptr); b; b = cvBitmapList_GetNext(list, b)) {
    EXPECT_GE(Bucket(b), last);
    last = Bucket(b);
    ++visited;
  }
  EXPECT_EQ(visited, count);
  // Remove every other one; the rest stay found and the list stays sound.
  for (size_t i = 0; i < bitmaps.size(); i += 2) EXPECT_TRUE(cvBitmapList_Remove(list, bitmaps[i]));
  EXPECT_TRUE(cvBitmapList_IsValid(list));
  for (size_t i = 0; i < bitmaps.size(); ++i)
    EXPECT_EQ(cvBitmapList_Has(list, bitmaps[i]), i % 2 == 1);
  EXPECT_TRUE(cvBitmapList_Destroy(list));
  for (cvBitmap*& b : bitmaps) cvBitmap_Destroy(&b);
}
