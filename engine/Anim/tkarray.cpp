// Time-keyed arrays: one block holding a count, an element size and the
// elements, kept in ascending time order with at least 1e-5 between times.
// Key frames, events and paths are built on them.
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "Anim/cvanim.h"
#include "Anim/anim_util.h"
#include "Support/cvsupport.h"

using cvanim::Elements;

namespace {

// Bytes of a block holding Count elements, or 0 when that is too large.
uint64_t BlockBytes(int32_t ElementSize, int32_t Count) {
  uint64_t bytes = 0;
  if (ElementSize < 4 || Count < 0) return 0;
  if (!cvSize_MulAdd(static_cast<uint64_t>(Count), static_cast<uint64_t>(ElementSize), sizeof(cvTKArray), &bytes))
    return 0;
  return bytes;
}

}  // namespace

cvTKArray* cvTKArray_Create(int32_t ElementSize) {
  uint64_t bytes = BlockBytes(ElementSize, 0);
  cvTKArray* array = bytes ? static_cast<cvTKArray*>(cvRam_Allocate(bytes)) : nullptr;
  if (!array) {
    CV_ERROR(77);
    return nullptr;
  }
  array->Count = 0;
  array->ElementSize = ElementSize;
  return array;
}

cvTKArray* cvTKArray_CreateEmpty(int32_t ElementSize, int32_t Count) {
  uint64_t bytes = BlockBytes(ElementSize, Count);
  cvTKArray* array = bytes ? static_cast<cvTKArray*>(cvRam_Allocate(bytes)) : nullptr;
  if (!array) {
    CV_ERROR(-1);
    return nullptr;
  }
  array->Count = Count;
  array->ElementSize = ElementSize;
  return array;
}

void cvTKArray_Destroy(cvTKArray** Array) {
  if (!Array || !*Array) return;
  cvRam_Free(*Array);
  *Array = nullptr;
}

int32_t cvTKArray_GetCount(const cvTKArray* Array) { return Array ? Array->Count : 0; }

int32_t cvTKArray_GetElementSize(const cvTKArray* Array) { return Array->ElementSize; }

void* cvTKArray_GetElement(cvTKArray* Array, int32_t Index) {
  return Elements(Array) + static_cast<size_t>(Index) * static_cast<size_t>(Array->ElementSize);
}

const void* cvTKArray_GetElementConst(const cvTKArray* Array, int32_t Index) {
  return Elements(Array) + static_cast<size_t>(Index) * static_cast<size_t>(Array->ElementSize);
}

float cvTKArray_GetTime(const cvTKArray* Array, int32_t Index) {
  float t;
  std::memcpy(&t, cvTKArray_GetElementConst(Array, Index), sizeof t);
  return t;
}

int32_t cvTKArray_FindIndex(const cvTKArray* Array, float Time) {
  if (!Array) return -1;
  int32_t low = 0, high = Array->Count - 1;
  while (low <= high) {
    int32_t mid = low + (high - low) / 2;
    float t = cvTKArray_GetTime(Array, mid);
    if (Time == t) return mid;
    if (Time < t)
      high = mid - 1;
    else
      low = mid + 1;
  }
  // high is now the last element before Time (or -1).
  return high;
}

int cvTKArray_Insert(cvTKArray** Array, float Time, int32_t* Index) {
  cvTKArray* array = *Array;
  int32_t p = cvTKArray_FindIndex(array, Time);
  if (Index) *Index = p + 1;
  if (p >= 0 && cvanim::TooClose(cvTKArray_GetTime(array, p), Time)) {
    CV_ERROR(74);
    return 0;
  }
  // A NaN time would break the ordering every search relies on.
  if (Time != Time) {
    CV_ERROR(74);
    return 0;
  }
  if (array->Count == 0x7FFFFFFF) {
    CV_ERROR(78);
    return 0;
  }
  uint64_t bytes = BlockBytes(array->ElementSize, array->Count + 1);
  cvTKArray* grown = bytes ? static_cast<cvTKArray*>(cvRam_Realloc(array, bytes)) : nullptr;
  if (!grown) {
    CV_ERROR(75);
    return 0;
  }
  array = grown;
  *Array = array;
  const size_t size = static_cast<size_t>(array->ElementSize);
  uint8_t* at = Elements(array) + static_cast<size_t>(p + 1) * size;
  std::memmove(at + size, at, static_cast<size_t>(array->Count - (p + 1)) * size);
  std::memcpy(at, &Time, sizeof Time);
  array->Count++;
  return 1;
}

int cvTKArray_Remove(cvTKArray** Array, int32_t Index) {
  cvTKArray* array = *Array;
  const size_t size = static_cast<size_t>(array->ElementSize);
  uint8_t* at = Elements(array) + static_cast<size_t>(Index) * size;
  std::memmove(at, at + size, static_cast<size_t>(array->Count - Index - 1) * size);
  array->Count--;
  uint64_t bytes = BlockBytes(array->ElementSize, array->Count);
  if (cvTKArray* shrunk = static_cast<cvTKArray*>(cvRam_Realloc(array, bytes))) *Array = shrunk;
  return 1;
}

int cvTKArray_IsEvenlySpaced(const cvTKArray* Array, float Tolerance) {
  const int32_t n = Array->Count;
  if (n < 3) return 1;
  const float d = cvTKArray_GetTime(Array, 1) - cvTKArray_GetTime(Array, 0);
  for (int32_t i = 2; i < n; ++i) {
    float gap = cvTKArray_GetTime(Array, i) - cvTKArray_GetTime(Array, i - 1);
    if (!(std::fabs(gap - d) <= Tolerance)) return 0;
  }
  return 1;
}

cvTKArray* cvTKArray_CreateFromFile(cvVFile* File) {
  uint32_t count = 0, elementSize = 0;
  if (!cvVFile_ReadLE32(File, &count) || !cvVFile_ReadLE32(File, &elementSize) || count > 0x7FFFFFFF ||
      elementSize < 4 || elementSize > 0x7FFFFFFF) {
    CV_ERROR(-1);
    return nullptr;
  }
  uint64_t dataBytes = 0;
  if (!cvSize_Mul(count, elementSize, &dataBytes) || dataBytes > cvanim::Remaining(File)) {
    CV_ERROR(-1);
    return nullptr;
  }
  cvTKArray* array = cvTKArray_CreateEmpty(static_cast<int32_t>(elementSize), static_cast<int32_t>(count));
  if (!array) return nullptr;
  if (!cvVFile_Read(File, Elements(array), static_cast<uint32_t>(dataBytes))) {
    cvTKArray_Destroy(&array);
    CV_ERROR(-1);
    return nullptr;
  }
  // Elements are little-endian 32-bit fields in the file (the time and every
  // field of the keys this engine stores).
  if constexpr (std::endian::native != std::endian::little) {
    uint8_t* e = Elements(array);
    for (uint64_t w = 0; w + 4 <= dataBytes; w += 4) {
      uint32_t v = cvLE_Get32(e + w);
      std::memcpy(e + w, &v, 4);
    }
  }
  if (!cvanim::TimesAscend(array)) {
    cvTKArray_Destroy(&array);
    CV_ERROR(-1);
    return nullptr;
  }
  return array;
}

int cvTKArray_WriteToFile(const cvTKArray* Array, cvVFile* File) {
  if (!cvVFile_WriteLE32(File, static_cast<uint32_t>(Array->Count)) ||
      !cvVFile_WriteLE32(File, static_cast<uint32_t>(Array->ElementSize))) {
    CV_ERROR(-1);
    return 0;
  }
  const uint64_t bytes = static_cast<uint64_t>(Array->Count) * static_cast<uint64_t>(Array->ElementSize);
  const uint8_t* data = Elements(Array);
  std::vector<uint8_t> swapped;
  if constexpr (std::endian::native != std::endian::little) {
    swapped.assign(data, data + bytes);
    for (uint64_t w = 0; w + 4 <= bytes; w += 4) {
      uint32_t v;
      std::memcpy(&v, swapped.data() + w, 4);
      cvLE_Put32(swapped.data() + w, v);
    }
    data = swapped.data();
  }
  if (bytes > UINT32_MAX || !cvVFile_Write(File, data, static_cast<uint32_t>(bytes))) {
    CV_ERROR(-1);
    return 0;
  }
  return 1;
}
