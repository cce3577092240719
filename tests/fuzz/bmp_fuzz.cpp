// Fuzz target: Windows BMP input of cvBitmap_CreateFromFile. Seeds cover 8
// (short and full colour tables), 16, 24 and 32 bits, bottom-up and top-down
// rows, a longer information header and a gap before the pixels.
#include <string>

#include "Bitmap/cvbitmap.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"
#include "fuzz.h"

namespace {

void Put(std::vector<uint8_t>& B, uint32_t V, int Bytes) {
  for (int i = 0; i < Bytes; ++i) B.push_back((uint8_t)(V >> (8 * i)));
}

std::vector<uint8_t> Bmp(int32_t W, int32_t H, uint16_t Bits, uint32_t Colors, uint32_t InfoSize,
                         uint32_t Gap) {
  const uint32_t rowBytes = ((uint32_t)W * Bits / 8 + 3) & ~3u;
  const uint32_t rows = (uint32_t)(H < 0 ? -H : H);
  const uint32_t table = Bits == 8 ? (Colors ? Colors : 256) * 4 : 0;
  const uint32_t offset = 14 + InfoSize + table + Gap;
  std::vector<uint8_t> b{'B', 'M'};
  Put(b, offset + rowBytes * rows, 4);
  Put(b, 0, 4);
  Put(b, offset, 4);
  Put(b, InfoSize, 4);
  Put(b, (uint32_t)W, 4);
  Put(b, (uint32_t)H, 4);
  Put(b, 1, 2);
  Put(b, Bits, 2);
  Put(b, 0, 4);
  Put(b, rowBytes * rows, 4);
  Put(b, 2834, 4);
  Put(b, 2834, 4);
  Put(b, Colors, 4);
  Put(b, 0, 4);
  b.resize(14 + InfoSize, 0);
  for (uint32_t i = 0; i < table; ++i) b.push_back((uint8_t)(i * 5));
  b.resize(b.size() + Gap, 0);
  for (uint32_t i = 0; i < rowBytes * rows; ++i) b.push_back((uint8_t)(i * 13 + 1));
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
  struct Seed {
    const char* Name;
    int32_t W, H;
    uint16_t Bits;
    uint32_t Colors, InfoSize, Gap;
  };
  const Seed seeds[] = {
      {"pal8_16colours", 5, 3, 8, 16, 40, 0},   {"pal8_full_topdown", 4, -4, 8, 0, 40, 0},
      {"rgb555", 3, 2, 16, 0, 40, 0},           {"bgr24_bottomup", 3, 3, 24, 0, 40, 0},
      {"xrgb32_topdown", 2, -2, 32, 0, 40, 0},  {"v4header_gap", 7, 2, 24, 0, 108, 10},
  };
  for (const Seed& s : seeds) cvfuzz::WriteSeed(Dir, s.Name, Bmp(s.W, s.H, s.Bits, s.Colors, s.InfoSize, s.Gap));
  return (int)(sizeof(seeds) / sizeof(seeds[0]));
}
