// The engine bitmap list: a reference-counted set of bitmaps that get driver
// textures. A hash table of 1009 buckets (numbered 1..1009) over one circular
// doubly linked list ordered by bucket and closed by a sentinel (bucket
// 1010); each bucket slot points at its bucket's first entry. Walking the
// list from the sentinel visits every bitmap.
#include <cstdint>
#include <new>

#include "Bitmap/cvbitmap.h"
#include "Engine/cvengcore.h"
#include "Engine/enginepool.h"
#include "Support/cvsupport.h"

namespace {

constexpr int32_t kBuckets = 1009;
constexpr int32_t kSentinelBucket = kBuckets + 1;

struct Entry {
  cvBitmap* Key;
  int32_t Value;  // references held by the list
  int32_t Bucket;
  Entry* Prev;
  Entry* Next;
};
static_assert(sizeof(Entry) <= 40, "bitmap-list entries come from the 40-byte pool");

int32_t bucketOf(const cvBitmap* bitmap) {
  // The key is the bitmap's address as a 32-bit number.
  const uint32_t k = (uint32_t)(uintptr_t)bitmap;
  return (int32_t)(((k >> 15) ^ k) % kBuckets) + 1;
}

}  // namespace

struct cvBitmapList {
  Entry* Buckets[kBuckets + 1];  // index 1..1009
  Entry Sentinel;
  int32_t Count;  // distinct bitmaps
  int32_t Total;  // references
};

namespace {

Entry* find(const cvBitmapList* list, const cvBitmap* bitmap) {
  const int32_t b = bucketOf(bitmap);
  for (Entry* e = list->Buckets[b]; e && e->Bucket == b; e = e->Next)
    if (e->Key == bitmap) return e;
  return nullptr;
}

void linkBefore(Entry* e, Entry* at) {
  e->Next = at;
  e->Prev = at->Prev;
  at->Prev->Next = e;
  at->Prev = e;
}

void unlink(cvBitmapList* list, Entry* e) {
  if (list->Buckets[e->Bucket] == e)
    list->Buckets[e->Bucket] = e->Next->Bucket == e->Bucket ? e->Next : nullptr;
  e->Prev->Next = e->Next;
  e->Next->Prev = e->Prev;
}

}  // namespace

cvBitmapList* cvBitmapList_Create(void) {
  if (!cvEnginePool_Acquire()) {
    CV_ERROR(-1);
    return nullptr;
  }
  auto* list = static_cast<cvBitmapList*>(cvRam_AllocateClear(sizeof(cvBitmapList)));
  if (!list) {
    cvEnginePool_Release();
    CV_ERROR(-1);
    return nullptr;
  }
  list->Sentinel.Bucket = kSentinelBucket;
  list->Sentinel.Next = list->Sentinel.Prev = &list->Sentinel;
  return list;
}

int cvBitmapList_Destroy(cvBitmapList* List) {
  if (!List) {
    CV_ERROR(-1);
    return 0;
  }
  int ok = 1;
  Entry* e = List->Sentinel.Next;
  while (e != &List->Sentinel) {
    Entry* next = e->Next;
    if (!cvBitmap_DetachFromDriver(e->Key)) ok = 0;
    for (int32_t i = 0; i < e->Value; ++i) {
      cvBitmap* b = e->Key;
      cvBitmap_Destroy(&b);
    }
    cvEnginePool_FreeEntry(e);
    e = next;
  }
  cvRam_Free(List);
  cvEnginePool_Release();
  if (!ok) CV_ERROR(-1);
  return ok;
}

int cvBitmapList_Add(cvBitmapList* List, cvBitmap* Bitmap) {
  if (!List || !Bitmap) {
    CV_ERROR(-1);
    return 0;
  }
  if (Entry* e = find(List, Bitmap)) {
    cvBitmap_CreateRef(Bitmap);
    ++e->Value;
    ++List->Total;
    return 0;
  }
  auto* e = static_cast<Entry*>(cvEnginePool_AllocEntry());
  if (!e) {
    CV_ERROR(-1);
    return 0;
  }
  cvBitmap_CreateRef(Bitmap);
  e->Key = Bitmap;
  e->Value = 1;
  e->Bucket = bucketOf(Bitmap);
  // New entries go to the front of their bucket; an empty bucket's entry goes
  // before the first entry of the next non-empty bucket (or the sentinel).
  Entry* at = List->Buckets[e->Bucket];
  for (int32_t b = e->Bucket + 1; !at && b <= kBuckets; ++b) at = List->Buckets[b];
  linkBefore(e, at ? at : &List->Sentinel);
  List->Buckets[e->Bucket] = e;
  ++List->Count;
  ++List->Total;
  return 1;
}

int cvBitmapList_Remove(cvBitmapList* List, cvBitmap* Bitmap) {
  Entry* e = List && Bitmap ? find(List, Bitmap) : nullptr;
  if (!e) {
    CV_ERROR(-1);
    return 0;
  }
  if (e->Value == 1 && !cvBitmap_DetachFromDriver(Bitmap)) {
    CV_ERROR(-1);
    return 0;
  }
  --List->Total;
  cvBitmap* b = Bitmap;
  cvBitmap_Destroy(&b);
  if (--e->Value > 0) return 0;
  unlink(List, e);
  cvEnginePool_FreeEntry(e);
  --List->Count;
  return 1;
}

int cvBitmapList_Has(const cvBitmapList* List, const cvBitmap* Bitmap) {
  if (!List || !Bitmap) return 0;
  const Entry* e = find(List, Bitmap);
  return e && e->Value > 0;
}

int cvBitmapList_AttachToDriver(cvBitmapList* List, cvDriver_Table* Driver, float Gamma) {
  if (!List) {
    CV_ERROR(-1);
    return 0;
  }
  int ok = 1;
  for (Entry* e = List->Sentinel.Next; e != &List->Sentinel; e = e->Next) {
    // Gamma first, so that the upload of the new driver copy is corrected once.
    if (!cvBitmap_SetGamma(e->Key, Gamma) || !cvBitmap_AttachToDriver(e->Key, Driver, 0)) {
      CV_ERROR(-1);
      ok = 0;
    }
  }
  return ok;
}

int cvBitmapList_DetachFromDriver(cvBitmapList* List) {
  if (!List) {
    CV_ERROR(-1);
    return 0;
  }
  int ok = 1;
  for (Entry* e = List->Sentinel.Next; e != &List->Sentinel; e = e->Next)
    if (!cvBitmap_DetachFromDriver(e->Key)) ok = 0;
  if (!ok) CV_ERROR(-1);
  return ok;
}

int cvBitmapList_SetGamma(cvBitmapList* List, float Gamma) {
  if (!List) {
    CV_ERROR(-1);
    return 0;
  }
  int ok = 1;
  for (Entry* e = List->Sentinel.Next; e != &List->Sentinel; e = e->Next) {
    if (!cvBitmap_SetGamma(e->Key, Gamma)) {
      CV_ERROR(-1);
      ok = 0;
    }
  }
  return ok;
}

int32_t cvBitmapList_Count(const cvBitmapList* List) { return List ? List->Count : 0; }

int32_t cvBitmapList_CountAttached(const cvBitmapList* List) {
  if (!List) return 0;
  int32_t n = 0;
  for (const Entry* e = List->Sentinel.Next; e != &List->Sentinel; e = e->Next)
    if (cvBitmap_IsAttached(e->Key)) ++n;
  return n;
}

int cvBitmapList_IsValid(const cvBitmapList* List) {
  if (!List || List->Total < List->Count) return 0;
  int32_t n = 0;
  int32_t lastBucket = 0;
  for (const Entry* e = List->Sentinel.Next; e != &List->Sentinel; e = e->Next) {
    // Entries must run in bucket order, each bucket slot naming its first one.
    if (e->Bucket < lastBucket || e->Bucket < 1 || e->Bucket > kBuckets) return 0;
    if (e->Bucket != lastBucket && List->Buckets[e->Bucket] != e) return 0;
    lastBucket = e->Bucket;
    if (++n > List->Count) return 0;
  }
  return n == List->Count;
}

cvBitmap* cvBitmapList_GetNext(const cvBitmapList* List, const cvBitmap* Prev) {
  if (!List) return nullptr;
  const Entry* e = Prev ? find(List, Prev) : &List->Sentinel;
  if (!e || e->Next == &List->Sentinel) return nullptr;
  return e->Next->Key;
}
