// Interface every fuzz target file implements (see CMakeLists.txt), and the
// memory-file plumbing the targets share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "VFile/cvvfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Writes the target's seed files into Dir; returns how many it wrote.
extern "C" int cvFuzz_WriteSeeds(const char* Dir);

namespace cvfuzz {
// Writes one seed file Dir/Name.
void WriteSeed(const char* Dir, const std::string& Name, const std::vector<uint8_t>& Bytes);

// Opens Size bytes at Data (an empty input too) as a read-only memory file.
cvVFile* OpenBytes(const uint8_t* Data, size_t Size);
// A new empty growable memory file, open for writing.
cvVFile* NewMemoryFile();
// Everything written to the memory file File so far.
std::vector<uint8_t> Collect(cvVFile* File);

// Reads the bytes with Reader(file) from a read-only memory file that is
// closed afterwards; null when the file cannot be opened.
template <class Reader>
auto ReadBytes(const uint8_t* Data, size_t Size, Reader Read) -> decltype(Read(nullptr)) {
  cvVFile* file = OpenBytes(Data, Size);
  if (!file) return nullptr;
  auto result = Read(file);
  cvVFile_Close(file);
  return result;
}

// The bytes Writer(file) writes into a fresh memory file; empty when it fails.
template <class Writer>
std::vector<uint8_t> WriteBytes(Writer Write) {
  std::vector<uint8_t> out;
  cvVFile* file = NewMemoryFile();
  if (!file) return out;
  if (Write(file)) out = Collect(file);
  cvVFile_Close(file);
  return out;
}

// Writes Size bytes at Data as the new entry Name of the archive folder Dir.
void WriteEntry(cvVFile* Dir, const char* Name, const uint8_t* Data, size_t Size);

// The bytes of a new archive that Fill(archive) fills; empty on failure.
template <class Filler>
std::vector<uint8_t> BuildArchive(Filler Fill) {
  return WriteBytes([&](cvVFile* file) {
    cvVFile* archive = cvVFile_OpenNewSystem(file, CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr,
                                             CV_VFILE_OPEN_CREATE | CV_VFILE_OPEN_DIRECTORY);
    if (!archive) return 0;
    Fill(archive);
    return cvVFile_Close(archive);
  });
}
}  // namespace cvfuzz
