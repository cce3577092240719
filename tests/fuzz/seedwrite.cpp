// Writing seed files and the memory-file helpers: shared by the fuzz programs
// and the seed writers.
#include <fstream>

#include "fuzz.h"

namespace cvfuzz {
void WriteSeed(const char* Dir, const std::string& Name, const std::vector<uint8_t>& Bytes) {
  std::ofstream out(std::string(Dir) + "/" + Name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
}

cvVFile* OpenBytes(const uint8_t* Data, size_t Size) {
  static uint8_t empty = 0;  // memory files refuse a null buffer
  if (Size > UINT32_MAX) return nullptr;
  cvVFile_MemoryContext context{Size ? const_cast<uint8_t*>(Data) : &empty, static_cast<uint32_t>(Size)};
  return cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_MEMORY, nullptr, &context, CV_VFILE_OPEN_READONLY);
}

cvVFile* NewMemoryFile() {
  cvVFile_MemoryContext context{nullptr, 0};
  return cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_MEMORY, nullptr, &context, CV_VFILE_OPEN_CREATE);
}

std::vector<uint8_t> Collect(cvVFile* File) {
  cvVFile_MemoryContext context{nullptr, 0};
  if (!cvVFile_UpdateContext(File, &context, sizeof context) || !context.Data) return {};
  const auto* data = static_cast<const uint8_t*>(context.Data);
  return std::vector<uint8_t>(data, data + context.Length);
}

void WriteEntry(cvVFile* Dir, const char* Name, const uint8_t* Data, size_t Size) {
  if (cvVFile* entry = cvVFile_Open(Dir, Name, CV_VFILE_OPEN_CREATE)) {
    cvVFile_Write(entry, Data, static_cast<uint32_t>(Size));
    cvVFile_Close(entry);
  }
}
}  // namespace cvfuzz
