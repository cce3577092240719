// Helpers shared by the animation-data tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Anim/cvanim.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"
#include "memfile.h"

namespace animtest {

// Memory files to write into and read from.
using Writer = cvtest::MemoryWriter;
using Reader = cvtest::MemoryReader;

inline uint32_t Get32(const std::vector<uint8_t>& B, size_t At) { return cvLE_Get32(&B.at(At + 3) - 3); }

inline cvQuaternion AxisAngle(float X, float Y, float Z, float Angle) {
  cvVec3d axis{X, Y, Z};
  cvVec3d_Normalize(&axis);
  cvQuaternion q;
  cvQuaternion_SetFromAxisAngle(&q, &axis, Angle);
  return q;
}

}  // namespace animtest
