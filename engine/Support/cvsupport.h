// Support: the engine's memory functions, the process-wide error log and the
// checked-size helpers that every file reader uses before it allocates.
// Depends on nothing but the standard library.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Memory
// ---------------------------------------------------------------------------

// Handler consulted after a failed allocation while retries are enabled:
// true asks for another attempt, false gives up.
typedef int (*cvRam_CriticalCallback)(void);

void* cvRam_Allocate(size_t Size);
// Rounds Size up to a multiple of 4 and returns that many zeroed bytes.
void* cvRam_AllocateClear(size_t Size);
// Null Pointer allocates; Size 0 frees Pointer and returns null.
void* cvRam_Realloc(void* Pointer, size_t Size);
void cvRam_Free(void* Pointer);
cvRam_CriticalCallback cvRam_SetCriticalCallback(cvRam_CriticalCallback Handler);
int32_t cvRam_EnableCriticalCallback(int32_t Delta);
// Test aid: makes the Nth heap request from now on (1 = the next) fail as if
// the heap were exhausted; 0 switches it off. Lets tests walk every failure path.
void cvRam_SetFailCountdown(int32_t N);
// True when the countdown made a request fail since it was last set.
int cvRam_FailCountdownFired(void);

// ---------------------------------------------------------------------------
// Error log: the 30 most recent failures, oldest first.
// ---------------------------------------------------------------------------

enum { CV_ERRORLOG_CAPACITY = 30, CV_ERRORLOG_TEXT_SIZE = 128 };

typedef struct cvErrorLog_Entry {
  int32_t Code;
  char Text[CV_ERRORLOG_TEXT_SIZE + 1];
} cvErrorLog_Entry;

// Adds an entry "Name File Line[ Description]Context" (File reduced to the part
// after its last '/' or '\\') and returns the new entry count.
int32_t cvErrorLog_AddExplicit(int32_t Code, const char* Name, const char* File, int32_t Line,
                               const char* Description, const char* Context);
// Appends Text to the newest entry's text; false on an empty log or null Text.
int cvErrorLog_AppendString(const char* Text);
void cvErrorLog_Clear(void);
int32_t cvErrorLog_Count(void);
// Gives the code and text of entry Index (0 = oldest); false when out of range.
int cvErrorLog_Report(int32_t Index, int32_t* Code, const char** Text);

// Engine failure sites log with one short line: CV_ERROR(52); or, with a
// context text, CV_ERROR_CTX(-1, moduleName).
#define CV_ERROR(code) cvErrorLog_AddExplicit((code), "", __FILE__, __LINE__, "", "")
#define CV_ERROR_CTX(code, context) cvErrorLog_AddExplicit((code), "", __FILE__, __LINE__, "", (context))

// ---------------------------------------------------------------------------
// Checked sizes: every size a reader computes from file fields goes through
// these before it is used to allocate or index. Each returns 1 and stores the
// result when it fits in [0, Limit], else 0 and leaves *Out alone.
// ---------------------------------------------------------------------------

// Largest single block a reader may allocate from file-driven sizes (256 MiB).
enum : uint64_t { CV_SIZE_LIMIT = 256ull * 1024 * 1024 };

int cvSize_Mul(uint64_t A, uint64_t B, uint64_t* Out);
int cvSize_Mul3(uint64_t A, uint64_t B, uint64_t C, uint64_t* Out);
int cvSize_Add(uint64_t A, uint64_t B, uint64_t* Out);
// A*B + C, all within CV_SIZE_LIMIT.
int cvSize_MulAdd(uint64_t A, uint64_t B, uint64_t C, uint64_t* Out);

// Little-endian field access on byte buffers (file records are little-endian
// whatever the host is).
inline uint16_t cvLE_Get16(const uint8_t* P) { return (uint16_t)(P[0] | (P[1] << 8)); }
inline uint32_t cvLE_Get32(const uint8_t* P) {
  return (uint32_t)P[0] | ((uint32_t)P[1] << 8) | ((uint32_t)P[2] << 16) | ((uint32_t)P[3] << 24);
}
inline void cvLE_Put16(uint8_t* P, uint16_t V) { P[0] = (uint8_t)V; P[1] = (uint8_t)(V >> 8); }
inline void cvLE_Put32(uint8_t* P, uint32_t V) {
  P[0] = (uint8_t)V; P[1] = (uint8_t)(V >> 8); P[2] = (uint8_t)(V >> 16); P[3] = (uint8_t)(V >> 24);
}
