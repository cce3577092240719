// Seed writer and replayer for one fuzz target:
//   NAME_seeds --write DIR   writes the generated seed corpus
//   NAME_seeds PATH...       runs each file (or each file of a folder) through the target
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz.h"

static int runFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return 1;
}

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--write") == 0) {
    std::filesystem::create_directories(argv[2]);
    int n = cvFuzz_WriteSeeds(argv[2]);
    std::printf("%d seeds written to %s\n", n, argv[2]);
    return n > 0 ? 0 : 1;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s --write DIR | PATH...\n", argv[0]);
    return 2;
  }
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path p(argv[i]);
    if (std::filesystem::is_directory(p)) {
      for (auto& e : std::filesystem::directory_iterator(p))
        if (e.is_regular_file()) count += runFile(e.path());
    } else {
      count += runFile(p);
    }
  }
  std::printf("%d inputs replayed\n", count);
  return 0;
}
