// Interface every fuzz target file implements (see CMakeLists.txt).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Writes the target's seed files into Dir; returns how many it wrote.
extern "C" int cvFuzz_WriteSeeds(const char* Dir);

namespace cvfuzz {
// Writes one seed file Dir/Name.
void WriteSeed(const char* Dir, const std::string& Name, const std::vector<uint8_t>& Bytes);
}
