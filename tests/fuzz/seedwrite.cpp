// Writing one seed file: shared by the fuzz programs and the seed writers.
#include <fstream>

#include "fuzz.h"

namespace cvfuzz {
void WriteSeed(const char* Dir, const std::string& Name, const std::vector<uint8_t>& Bytes) {
  std::ofstream out(std::string(Dir) + "/" + Name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
}
}  // namespace cvfuzz
