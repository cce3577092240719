// Overflow- and limit-checked size arithmetic for file readers.
#include "Support/cvsupport.h"

int cvSize_Mul(uint64_t A, uint64_t B, uint64_t* Out) {
  if (A != 0 && B > CV_SIZE_LIMIT / A) return 0;
  *Out = A * B;
  return 1;
}

int cvSize_Mul3(uint64_t A, uint64_t B, uint64_t C, uint64_t* Out) {
  uint64_t ab;
  return cvSize_Mul(A, B, &ab) && cvSize_Mul(ab, C, Out);
}

int cvSize_Add(uint64_t A, uint64_t B, uint64_t* Out) {
  if (A > CV_SIZE_LIMIT || B > CV_SIZE_LIMIT - A) return 0;
  *Out = A + B;
  return 1;
}

int cvSize_MulAdd(uint64_t A, uint64_t B, uint64_t C, uint64_t* Out) {
  uint64_t ab;
  return cvSize_Mul(A, B, &ab) && cvSize_Add(ab, C, Out);
}
