// Memory-file helpers shared by the animation-data tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Actor/anim.h"
#include "VFile/cvvfile.h"

namespace animtest {

// A growable memory file to write into; Bytes() gives what was written.
class Writer {
 public:
  Writer() {
    cvVFile_MemoryContext context{nullptr, 0};
    file_ = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_MEMORY, nullptr, &context, CV_VFILE_OPEN_CREATE);
  }
  ~Writer() { cvVFile_Close(file_); }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;
  cvVFile* File() { return file_; }
  std::vector<uint8_t> Bytes() {
    cvVFile_MemoryContext context{nullptr, 0};
    cvVFile_UpdateContext(file_, &context, sizeof context);
    const uint8_t* p = static_cast<const uint8_t*>(context.Data);
    return std::vector<uint8_t>(p, p + context.Length);
  }
  std::string Text() {
    std::vector<uint8_t> b = Bytes();
    return std::string(b.begin(), b.end());
  }

 private:
  cvVFile* file_ = nullptr;
};

// A read-only memory file over a copy of some bytes.
class Reader {
 public:
  explicit Reader(std::vector<uint8_t> Bytes) : bytes_(std::move(Bytes)) {
    // A read-only memory file needs a non-null pointer even for no bytes.
    if (bytes_.empty()) bytes_.reserve(1);
    cvVFile_MemoryContext context{bytes_.data() ? bytes_.data() : &dummy_, static_cast<uint32_t>(bytes_.size())};
    file_ = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_MEMORY, nullptr, &context, CV_VFILE_OPEN_READONLY);
  }
  explicit Reader(const std::string& Text) : Reader(std::vector<uint8_t>(Text.begin(), Text.end())) {}
  ~Reader() { cvVFile_Close(file_); }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  cvVFile* File() { return file_; }
  uint32_t Left() {
    uint32_t n = 0;
    cvVFile_Remaining(file_, &n);
    return n;
  }

 private:
  std::vector<uint8_t> bytes_;
  uint8_t dummy_ = 0;
  cvVFile* file_ = nullptr;
};

inline uint32_t Get32(const std::vector<uint8_t>& B, size_t At) {
  return static_cast<uint32_t>(B[At]) | static_cast<uint32_t>(B[At + 1]) << 8 | static_cast<uint32_t>(B[At + 2]) << 16 |
         static_cast<uint32_t>(B[At + 3]) << 24;
}

inline cvQuaternion AxisAngle(float X, float Y, float Z, float Angle) {
  cvVec3d axis{X, Y, Z};
  cvVec3d_Normalize(&axis);
  cvQuaternion q;
  cvQuaternion_SetFromAxisAngle(&q, &axis, Angle);
  return q;
}

}  // namespace animtest
