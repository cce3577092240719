// Block-wise unsigned 16-bit maxima, in 16-byte vectors everywhere and in
// 32-byte vectors where the processor has AVX2 (chosen at run time). The
// block sizes the body reader uses (16, 96 and 112 words) get loops with one
// running maximum per vector of the block.
#include "Actor/body_scan.h"

#include <algorithm>
#include <cstring>

namespace cvbodyscan {

namespace {

template <int Words>
void PlainBlocks(const uint8_t* Bytes, size_t Blocks, uint16_t* Top) {
  typedef uint16_t Lanes __attribute__((vector_size(16)));
  constexpr int kVectors = Words / 8;
  Lanes top[kVectors];
  std::memcpy(top, Top, sizeof top);
  for (size_t b = 0; b < Blocks; ++b, Bytes += 2 * Words) {
#pragma GCC unroll 16
    for (int k = 0; k < kVectors; ++k) {
      Lanes v;
      std::memcpy(&v, Bytes + sizeof v * (size_t)k, sizeof v);
      top[k] = top[k] > v ? top[k] : v;
    }
  }
  std::memcpy(Top, top, sizeof top);
}

#if defined(__x86_64__) || defined(__i386__)
template <int Words>
__attribute__((target("avx2"))) void Avx2Blocks(const uint8_t* Bytes, size_t Blocks, uint16_t* Top) {
  typedef uint16_t Lanes __attribute__((vector_size(32)));
  constexpr int kVectors = Words / 16;
  Lanes top[kVectors];
  std::memcpy(top, Top, sizeof top);
  for (size_t b = 0; b < Blocks; ++b, Bytes += 2 * Words) {
#pragma GCC unroll 8
    for (int k = 0; k < kVectors; ++k) {
      Lanes v;
      std::memcpy(&v, Bytes + sizeof v * (size_t)k, sizeof v);
      top[k] = top[k] > v ? top[k] : v;
    }
  }
  std::memcpy(Top, top, sizeof top);
}
#endif

template <int Words>
void Blocks(const uint8_t* Bytes, size_t Count, uint16_t* Top, bool Wide) {
#if defined(__x86_64__) || defined(__i386__)
  if (Wide) return Avx2Blocks<Words>(Bytes, Count, Top);
#endif
  (void)Wide;
  PlainBlocks<Words>(Bytes, Count, Top);
}

}  // namespace

bool HasAvx2() {
#if defined(__x86_64__) || defined(__i386__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
#else
  return false;
#endif
}

void MaxWords(const uint8_t* Bytes, size_t Count, int Words, uint16_t* Top, Path Use) {
  const bool wide = Use == Path::Avx2 || (Use == Path::Best && HasAvx2());
  switch (Words) {
    case 16: return Blocks<16>(Bytes, Count, Top, wide);
    case 96: return Blocks<96>(Bytes, Count, Top, wide);
    case 112: return Blocks<112>(Bytes, Count, Top, wide);
    default: break;
  }
  for (size_t b = 0; b < Count; ++b)
    for (int i = 0; i < Words; ++i, Bytes += 2) {
      uint16_t v;
      std::memcpy(&v, Bytes, 2);
      Top[i] = std::max(Top[i], v);
    }
}

}  // namespace cvbodyscan
