// Fuzz target: Windows BMP input of cvBitmap_CreateFromFile. Seeds cover every
// form the reader takes: 1-, 2-, 4- and 8-bit indices (short and full colour
// tables), 8- and 4-bit run-length streams with runs, literals, deltas and
// early ends, 16-, 24- and 32-bit pixels bottom-up and top-down, colour masks
// after a 40-byte header (three, or four with alpha) and inside 56-, 108- and
// 124-byte headers, the old 12-byte header, and a gap before the pixels.
#include <array>
#include <string>

#include "Bitmap/cvbitmap.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"
#include "fuzz.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes& B, uint32_t V, int Count) {
  for (int i = 0; i < Count; ++i) B.push_back((uint8_t)(V >> (8 * i)));
}

struct Seed {
  const char* Name;
  int32_t W, H;
  uint16_t Bits;
  uint32_t Compression;
  uint32_t InfoSize;  // 12 = the old header
  uint32_t Colors;    // colour-table entries written (and colours-used field)
  std::array<uint32_t, 4> Masks;
  Bytes Stream;  // run-length pixels; empty = plain rows made up here
  uint32_t Gap;
};

Bytes Build(const Seed& S) {
  const bool core = S.InfoSize == 12;
  Bytes info;
  Put(info, S.InfoSize, 4);
  if (core) {
    Put(info, (uint32_t)S.W, 2);
    Put(info, (uint32_t)S.H, 2);
    Put(info, 1, 2);
    Put(info, S.Bits, 2);
  } else {
    Put(info, (uint32_t)S.W, 4);
    Put(info, (uint32_t)S.H, 4);
    Put(info, 1, 2);
    Put(info, S.Bits, 2);
    Put(info, S.Compression, 4);
    Put(info, 0, 4);
    Put(info, 2834, 4);
    Put(info, 2834, 4);
    Put(info, S.Colors, 4);
    Put(info, 0, 4);
    const bool masked = S.Compression == 3 || S.Compression == 6;
    if (S.InfoSize >= 52 || masked) {
      const int count = S.InfoSize >= 56 || S.Compression == 6 ? 4 : 3;
      for (int c = 0; c < count; ++c) Put(info, S.Masks[c], 4);
    }
    if (info.size() < S.InfoSize) info.resize(S.InfoSize, 0);
  }
  Bytes table;
  for (uint32_t i = 0; i < S.Colors; ++i) {
    Put(table, (i * 0x2F1B37u) & 0xFFFFFF, 3);
    if (!core) table.push_back(0);
  }
  Bytes pixels = S.Stream;
  if (pixels.empty()) {
    const uint32_t rowBytes = ((uint32_t)S.W * S.Bits + 31) / 32 * 4;
    const uint32_t rows = (uint32_t)(S.H < 0 ? -S.H : S.H);
    for (uint32_t i = 0; i < rowBytes * rows; ++i) pixels.push_back((uint8_t)(i * 13 + 1));
  }
  const uint32_t offset = (uint32_t)(14 + info.size() + table.size() + S.Gap);
  Bytes b{'B', 'M'};
  Put(b, offset + (uint32_t)pixels.size(), 4);
  Put(b, 0, 4);
  Put(b, offset, 4);
  b.insert(b.end(), info.begin(), info.end());
  b.insert(b.end(), table.begin(), table.end());
  b.resize(b.size() + S.Gap, 0);
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (cvBitmap* bitmap = cvfuzz::ReadBytes(Data, Size, cvBitmap_CreateFromFile)) {
    // Touch every pixel of the level the reader filled.
    const uint8_t* pixels = cvBitmap_GetMipData(bitmap, 0);
    uint64_t bytes = 0;
    unsigned sum = 0;
    if (pixels && cvBitmap_GetLevelBytes(&bitmap->System, 0, &bytes))
      for (uint64_t i = 0; i < bytes; ++i) sum += pixels[i];
    (void)sum;
    cvBitmap_Destroy(&bitmap);
  }
  cvErrorLog_Clear();
  return 0;
}

extern "C" int cvFuzz_WriteSeeds(const char* Dir) {
  // 7 x 4 run-length streams: runs, literals (odd ones padded), a delta, an
  // early end of line, runs into the row padding, the end of the bitmap.
  const Bytes rle8{3, 5, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 2, 1, 6, 9, 0, 0, 0, 4, 10, 11, 12, 13, 3, 15, 0, 1};
  const Bytes rle4{5, 0x3A, 0, 3, 0x45, 0x60, 0, 0, 0, 5, 0x12, 0x34, 0x50, 0, 0, 2, 3, 1, 8, 0xF0, 0, 1};
  const std::array<uint32_t, 4> none{0, 0, 0, 0};
  const std::array<uint32_t, 4> rgb565{0xF800, 0x07E0, 0x001F, 0};
  const std::array<uint32_t, 4> argb4444{0x0F00, 0x00F0, 0x000F, 0xF000};
  const std::array<uint32_t, 4> argb1555{0x7C00, 0x03E0, 0x001F, 0x8000};
  const std::array<uint32_t, 4> argb8888{0xFF0000, 0xFF00, 0xFF, 0xFF000000};
  const std::array<uint32_t, 4> rgba8888{0xFF000000, 0xFF0000, 0xFF00, 0xFF};
  const std::array<uint32_t, 4> rgb10a2{0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000};
  const std::array<uint32_t, 4> xrgb4444{0x0F00, 0x00F0, 0x000F, 0};
  const Seed seeds[] = {
      {"pal8_16colours", 5, 3, 8, 0, 40, 16, none, {}, 0},
      {"pal8_full_topdown", 4, -4, 8, 0, 40, 256, none, {}, 0},
      {"pal4", 9, 3, 4, 0, 40, 16, none, {}, 0},
      {"pal2", 7, 2, 2, 0, 40, 4, none, {}, 0},
      {"pal1_topdown", 13, -3, 1, 0, 40, 2, none, {}, 0},
      {"rle8", 7, 4, 8, 1, 40, 16, none, rle8, 0},
      {"rle4", 9, 3, 4, 2, 40, 16, none, rle4, 0},
      {"core_pal1", 10, 2, 1, 0, 12, 2, none, {}, 0},
      {"core_pal4", 5, 3, 4, 0, 12, 16, none, {}, 0},
      {"core_pal8_short", 3, 3, 8, 0, 12, 20, none, {}, 0},
      {"core_bgr24", 3, 2, 24, 0, 12, 0, none, {}, 0},
      {"rgb555", 3, 2, 16, 0, 40, 0, none, {}, 0},
      {"bgr24_bottomup", 3, 3, 24, 0, 40, 0, none, {}, 0},
      {"xrgb32_topdown", 2, -2, 32, 0, 40, 0, none, {}, 0},
      {"v4header_gap", 7, 2, 24, 0, 108, 0, none, {}, 10},
      {"masks565_after_header", 5, 3, 16, 3, 40, 0, rgb565, {}, 0},
      {"masks1555_alphabitfields", 5, 3, 16, 6, 40, 0, argb1555, {}, 0},
      {"masks4444_v4", 6, -3, 16, 3, 108, 0, argb4444, {}, 0},
      {"masks_x444_v5", 5, 2, 16, 3, 124, 0, xrgb4444, {}, 0},
      {"masks8888_v5", 4, 3, 32, 3, 124, 0, argb8888, {}, 0},
      {"masks_rgba_v3", 4, 3, 32, 3, 56, 0, rgba8888, {}, 0},
      {"masks_10bit_v5", 5, 3, 32, 3, 124, 0, rgb10a2, {}, 0},
  };
  for (const Seed& s : seeds) cvfuzz::WriteSeed(Dir, s.Name, Build(s));
  return (int)(sizeof(seeds) / sizeof(seeds[0]));
}
