// Chunked record pools for the palette builders and the colour lookup.
// Records are addressed by 32-bit index (half the size of pointers in the
// octree nodes) and live in blocks of 4,096 that are kept across resets, so a
// build costs one reset instead of one free per node.
#pragma once

#include <cstdint>
#include <cstring>

#include "Support/cvsupport.h"

namespace cvpal {

template <class T>
class ChunkPool {
 public:
  static constexpr int32_t kShift = 12;
  static constexpr int32_t kBlock = 1 << kShift;

  ChunkPool() = default;
  ChunkPool(const ChunkPool&) = delete;
  ChunkPool& operator=(const ChunkPool&) = delete;
  ~ChunkPool() { Free(); }

  T& operator[](int32_t Index) { return blocks_[Index >> kShift][Index & (kBlock - 1)]; }
  const T& operator[](int32_t Index) const { return blocks_[Index >> kShift][Index & (kBlock - 1)]; }

  // A new zero-filled record, or -1 when memory runs out.
  int32_t New() {
    const int32_t block = used_ >> kShift;
    if (block >= numBlocks_) {
      if (used_ >= INT32_MAX - kBlock) return -1;
      if (numBlocks_ == capBlocks_) {
        const int32_t cap = capBlocks_ ? capBlocks_ * 2 : 16;
        T** grown = static_cast<T**>(cvRam_Realloc(blocks_, sizeof(T*) * (size_t)cap));
        if (!grown) return -1;
        blocks_ = grown;
        capBlocks_ = cap;
      }
      T* fresh = static_cast<T*>(cvRam_Allocate(sizeof(T) * kBlock));
      if (!fresh) return -1;
      blocks_[numBlocks_++] = fresh;
    }
    T& record = (*this)[used_];
    std::memset(static_cast<void*>(&record), 0, sizeof(T));
    return used_++;
  }

  void Reset() { used_ = 0; }
  int32_t Used() const { return used_; }

  void Free() {
    for (int32_t i = 0; i < numBlocks_; ++i) cvRam_Free(blocks_[i]);
    if (blocks_) cvRam_Free(blocks_);
    blocks_ = nullptr;
    numBlocks_ = capBlocks_ = used_ = 0;
  }

 private:
  T** blocks_ = nullptr;
  int32_t numBlocks_ = 0;
  int32_t capBlocks_ = 0;
  int32_t used_ = 0;
};

}  // namespace cvpal
