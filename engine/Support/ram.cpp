// Heap wrappers with an optional out-of-memory retry hook.
#include "Support/cvsupport.h"

#include <cstdlib>
#include <cstring>

namespace {
int32_t g_retryEnable = 0;
cvRam_CriticalCallback g_handler = nullptr;
int32_t g_failCountdown = 0;
bool g_failFired = false;

// True when the test countdown says this heap request is the one to fail.
bool injectedFailure() {
  if (g_failCountdown <= 0) return false;
  if (--g_failCountdown != 0) return false;
  g_failFired = true;
  return true;
}

// After a failed allocation: true when the hook is active and asks to retry.
bool retryWanted() { return g_retryEnable != 0 && g_handler != nullptr && g_handler(); }
}  // namespace

void* cvRam_Allocate(size_t Size) {
  for (;;) {
    void* p = injectedFailure() ? nullptr : std::malloc(Size ? Size : 1);
    if (p || !retryWanted()) return p;
  }
}

void* cvRam_AllocateClear(size_t Size) {
  if (Size > SIZE_MAX - 3) return nullptr;
  size_t rounded = (Size + 3) & ~(size_t)3;
  void* p = cvRam_Allocate(rounded);
  if (p) std::memset(p, 0, rounded);
  return p;
}

void* cvRam_Realloc(void* Pointer, size_t Size) {
  if (!Pointer) return cvRam_Allocate(Size);
  if (Size == 0) {
    std::free(Pointer);
    return nullptr;
  }
  for (;;) {
    void* p = injectedFailure() ? nullptr : std::realloc(Pointer, Size);
    if (p || !retryWanted()) return p;
  }
}

void cvRam_Free(void* Pointer) { std::free(Pointer); }

cvRam_CriticalCallback cvRam_SetCriticalCallback(cvRam_CriticalCallback Handler) {
  cvRam_CriticalCallback old = g_handler;
  g_handler = Handler;
  return old;
}

int32_t cvRam_EnableCriticalCallback(int32_t Delta) {
  g_retryEnable += Delta;
  return g_retryEnable;
}

void cvRam_SetFailCountdown(int32_t N) {
  g_failCountdown = N;
  g_failFired = false;
}

int cvRam_FailCountdownFired(void) { return g_failFired ? 1 : 0; }
