// The process-wide element pools of the engine core: fixed-size records
// handed out from blocks, shared by every engine and bitmap list, created by
// the first acquisition and released by the last.
#pragma once

#include <cstddef>

// Takes a reference on the pools (creating them on the first); false when
// memory ran out.
int cvEnginePool_Acquire(void);
void cvEnginePool_Release(void);
// One zeroed element for a bitmap-list entry, or null. The pools must be held.
void* cvEnginePool_AllocEntry(void);
void cvEnginePool_FreeEntry(void* Entry);
// Size of the elements cvEnginePool_AllocEntry hands out.
size_t cvEnginePool_EntrySize(void);
