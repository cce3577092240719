// Memory files for the tests: a growable one to write into and take the bytes
// back, and a read-only one over a copy of some bytes.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "VFile/cvvfile.h"

namespace cvtest {

// A growable memory file; Bytes() gives what was written so far.
class MemoryWriter {
 public:
  MemoryWriter() {
    cvVFile_MemoryContext context{nullptr, 0};
    file_ = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_MEMORY, nullptr, &context, CV_VFILE_OPEN_CREATE);
  }
  ~MemoryWriter() {
    if (file_) cvVFile_Close(file_);
  }
  MemoryWriter(const MemoryWriter&) = delete;
  MemoryWriter& operator=(const MemoryWriter&) = delete;
  cvVFile* File() { return file_; }
  std::vector<uint8_t> Bytes() {
    cvVFile_MemoryContext context{nullptr, 0};
    if (!file_ || !cvVFile_UpdateContext(file_, &context, sizeof context) || !context.Data) return {};
    const uint8_t* p = static_cast<const uint8_t*>(context.Data);
    return std::vector<uint8_t>(p, p + context.Length);
  }
  std::string Text() {
    const std::vector<uint8_t> b = Bytes();
    return std::string(b.begin(), b.end());
  }

 private:
  cvVFile* file_ = nullptr;
};

// A read-only memory file over a copy of some bytes (none allowed).
class MemoryReader {
 public:
  explicit MemoryReader(std::vector<uint8_t> Bytes) : bytes_(std::move(Bytes)) {
    // A read-only memory file needs a non-null pointer even for no bytes.
    cvVFile_MemoryContext context{bytes_.empty() ? &dummy_ : bytes_.data(), static_cast<uint32_t>(bytes_.size())};
    file_ = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_MEMORY, nullptr, &context, CV_VFILE_OPEN_READONLY);
  }
  explicit MemoryReader(const std::string& Text) : MemoryReader(std::vector<uint8_t>(Text.begin(), Text.end())) {}
  ~MemoryReader() {
    if (file_) cvVFile_Close(file_);
  }
  MemoryReader(const MemoryReader&) = delete;
  MemoryReader& operator=(const MemoryReader&) = delete;
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

// The bytes Write(file) writes into a new memory file; empty when it fails.
template <class F>
std::vector<uint8_t> WriteToMemory(F Write) {
  MemoryWriter writer;
  if (!writer.File() || !Write(writer.File())) return {};
  return writer.Bytes();
}

// What Read(file) gives over a read-only memory file holding Bytes; T{} when
// the file cannot be opened.
template <class T, class F>
T ReadFromMemory(const std::vector<uint8_t>& Bytes, F Read) {
  MemoryReader reader(Bytes);
  if (!reader.File()) return T{};
  return Read(reader.File());
}

}  // namespace cvtest
