// Private helpers shared by the rotation and vector key-frame modules: the
// parts of the binary and text key blocks that do not depend on the key type
// (block header, time section, "Keys" text header and the final checks).
// Every key element starts with its float time. Not part of the public
// interface.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

#include "Anim/cvanim.h"
#include "Anim/anim_util.h"

namespace cvanim {

// What one key type accepts: its compression bits and its binary block size
// (bytes after the size word, 0 when too large) for a key count.
struct KeyBlockRules {
  bool (*CompressionValid)(uint32_t Compression);
  uint64_t (*BlockSize)(uint64_t Count, uint32_t Compression);
  // Makes what a block does not store (hemispheres, tangents, controls).
  void (*PostProcess)(cvTKArray* Keys, int Code, int Looped);
  int32_t (*KeySizeForCode)(int Code);
};

// The header fields of a key block.
struct KeyBlockHeader {
  int32_t Count = 0;
  int Code = 0;
  uint32_t Compression = 0;
  int Looped = 0;
  float Start = 0.0f, Delta = 0.0f;  // with CV_KFRAME_COMPRESS_EVENTIMES (text form)
};

// Inserts a key at Time and gives its element (Index receives its position),
// or logs ErrorCode and gives null when the time is too close to another key
// or memory runs out.
void* InsertKeyAt(cvTKArray** Keys, float Time, int ErrorCode, int32_t* Index);

// CV_KFRAME_COMPRESS_EVENTIMES when the keys can be stored as start and step.
uint32_t EvenTimesCompression(const cvTKArray* Keys);
// Bytes of the binary time section of Count keys, false when too large.
bool TimeSectionBytes(uint64_t Count, uint32_t Compression, uint64_t* Bytes);

// Binary form: the size word, flags word and count, then the times.
void WriteBlockStart(ByteWriter& W, const KeyBlockRules& Rules, const cvTKArray* Keys, int Code,
                     uint32_t Compression, int Looped);
// One binary key block read whole. Blocks of ordinary size (up to a few
// hundred keys) are held in the object itself, so reading a path's channels
// takes no heap block besides the keys; larger ones are put on the heap.
class KeyBlock {
 public:
  KeyBlock() = default;
  KeyBlock(const KeyBlock&) = delete;
  KeyBlock& operator=(const KeyBlock&) = delete;
  // Room for Size bytes, not cleared; null when memory runs out.
  uint8_t* Reserve(uint32_t Size);
  const uint8_t* Data() const { return data_; }
  uint32_t Size() const { return size_; }

 private:
  uint8_t local_[4096];
  std::unique_ptr<uint8_t[]> heap_;
  uint8_t* data_ = nullptr;
  uint32_t size_ = 0;
};

// Reads a whole block into Block and its header; logs -1 and fails on any bad
// field. The time section follows at Data() + 8. The block's size has been
// matched to the count, so the sections that the count and compression call
// for lie inside it exactly.
bool ReadBlockStart(cvVFile* File, const KeyBlockRules& Rules, KeyBlock* Block, KeyBlockHeader* Header);
// The little-endian float at P (no bounds check: for sections whose size
// ReadBlockStart has checked).
inline float LoadF32(const uint8_t* P) {
  const uint32_t bits = cvLE_Get32(P);
  float value;
  std::memcpy(&value, &bits, 4);
  return value;
}
// A key array for the header's keys with their times from the block's time
// section; Values receives the first byte of the value section behind it.
// Null when memory runs out, and with -1 logged when the times are not
// finite and strictly ascending.
cvTKArray* ReadBlockTimes(const KeyBlock& Block, const KeyBlockRules& Rules, const KeyBlockHeader& Header,
                          const uint8_t** Values);
// Writes the gathered block; logs 64 on failure.
int WriteBlock(cvVFile* File, const ByteWriter& W);

// Text form: "Keys <count> <code> <compression> <looped>" and, with even
// times, the "Start T,Delta T" line.
std::string TextStart(const cvTKArray* Keys, int Code, uint32_t Compression, int Looped);
// Appends the values separated by single blanks.
void AppendFloats(std::string* Text, std::initializer_list<float> Values);
// The time at the start of key Index's line (nothing with even times).
void AppendKeyTime(std::string* Text, const cvTKArray* Keys, int32_t Index, uint32_t Compression);
// Reads the text header (and the even-times line); logs 61 and fails on any
// fault, or when the file cannot hold a line per key.
bool ReadTextStart(cvVFile* File, const KeyBlockRules& Rules, KeyBlockHeader* Header);
// A key array for the header's keys, times set when they are even; null when
// memory runs out.
cvTKArray* CreateTextKeys(const KeyBlockRules& Rules, const KeyBlockHeader& Header);
// Writes the text; logs 64 on failure.
int WriteTextBlock(cvVFile* File, const std::string& Text);

// Ends a text read: keys whose times do not ascend are destroyed (logging
// ErrorCode); the others are post-processed and the header's code and loop
// flag handed out.
cvTKArray* FinishKeys(cvTKArray* Keys, const KeyBlockRules& Rules, const KeyBlockHeader& Header, int ErrorCode,
                      int* InterpolationCode, int* Looped);
// Ends a binary read, whose times ReadBlockTimes has checked: the keys are
// post-processed and the header's code and loop flag handed out.
cvTKArray* FinishBinaryKeys(cvTKArray* Keys, const KeyBlockRules& Rules, const KeyBlockHeader& Header,
                            int* InterpolationCode, int* Looped);

}  // namespace cvanim
