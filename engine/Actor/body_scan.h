// Unsigned maxima of 16-bit words over blocks of records: the body reader
// takes the largest of every index field this way while the arrays it reads
// are in the cache. Internal to the actor module.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cvbodyscan {

enum class Path {
  Best,   // the widest the processor has
  Plain,  // 16-byte vectors, on every processor
  Avx2,   // 32-byte vectors; only where HasAvx2()
};

bool HasAvx2();

// Top[i] = max(Top[i], word i of each of Blocks blocks of Words 16-bit words
// in host order at Bytes), for Words a multiple of 16.
void MaxWords(const uint8_t* Bytes, size_t Blocks, int Words, uint16_t* Top, Path Use = Path::Best);

}  // namespace cvbodyscan
