// Element pools: blocks of equal-sized elements with a free list. Three
// sizes serve the engine core and its worlds' small records; the bitmap
// lists take their entries from the largest.
#include <cstring>

#include "Engine/enginepool.h"
#include "Support/cvsupport.h"

namespace {

struct Pool {
  size_t ElementSize;
  int32_t PerBlock;
  void* Blocks;    // singly linked through the first word of each block
  void* FreeList;  // singly linked through the first word of each element
};

// Element sizes: 12-, 8- and 20-byte records on a 32-bit host; the entries
// hold pointers here, so each size is widened to fit a bitmap-list entry.
constexpr size_t kEntrySize = 40;
Pool g_pools[3] = {{16, 1024, nullptr, nullptr},
                   {8, 128, nullptr, nullptr},
                   {kEntrySize, 128, nullptr, nullptr}};
int32_t g_references = 0;

void freePool(Pool& pool) {
  void* block = pool.Blocks;
  while (block) {
    void* next = *static_cast<void**>(block);
    cvRam_Free(block);
    block = next;
  }
  pool.Blocks = nullptr;
  pool.FreeList = nullptr;
}

bool growPool(Pool& pool) {
  const size_t header = sizeof(void*);
  auto* block = static_cast<unsigned char*>(
      cvRam_Allocate(header + pool.ElementSize * (size_t)pool.PerBlock));
  if (!block) return false;
  *reinterpret_cast<void**>(block) = pool.Blocks;
  pool.Blocks = block;
  for (int32_t i = pool.PerBlock - 1; i >= 0; --i) {
    void* element = block + header + pool.ElementSize * (size_t)i;
    *static_cast<void**>(element) = pool.FreeList;
    pool.FreeList = element;
  }
  return true;
}

}  // namespace

int cvEnginePool_Acquire(void) {
  if (g_references == 0) {
    for (Pool& pool : g_pools) {
      if (!growPool(pool)) {
        for (Pool& p : g_pools) freePool(p);
        CV_ERROR(52);
        return 0;
      }
    }
  }
  ++g_references;
  return 1;
}

void cvEnginePool_Release(void) {
  if (g_references <= 0) return;
  if (--g_references == 0)
    for (Pool& pool : g_pools) freePool(pool);
}

void* cvEnginePool_AllocEntry(void) {
  Pool& pool = g_pools[2];
  if (g_references <= 0) return nullptr;
  if (!pool.FreeList && !growPool(pool)) return nullptr;
  void* element = pool.FreeList;
  pool.FreeList = *static_cast<void**>(element);
  std::memset(element, 0, pool.ElementSize);
  return element;
}

void cvEnginePool_FreeEntry(void* Entry) {
  if (!Entry) return;
  Pool& pool = g_pools[2];
  *static_cast<void**>(Entry) = pool.FreeList;
  pool.FreeList = Entry;
}

size_t cvEnginePool_EntrySize(void) { return kEntrySize; }
