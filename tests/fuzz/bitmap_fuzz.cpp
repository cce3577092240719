// Fuzz target: engine bitmap files ("CvBm") read with cvBitmap_CreateFromFile.
// A bitmap that reads is written again and must read back with the same
// size, format and level 0 pixels.
#include <cstring>
#include <string>

#include "Bitmap/cvbitmap.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"
#include "fuzz.h"

namespace {

cvBitmap* ReadMemory(const uint8_t* Data, size_t Size) { return cvfuzz::ReadBytes(Data, Size, cvBitmap_CreateFromFile); }

std::vector<uint8_t> WriteMemory(cvBitmap* Bitmap) {
  return cvfuzz::WriteBytes([&](cvVFile* file) { return cvBitmap_WriteToFile(Bitmap, file); });
}

cvBitmap* Filled(int32_t W, int32_t H, cvPixelFormat Format, int32_t Mips) {
  cvBitmap* bitmap = cvBitmap_Create(W, H, Mips, Format);
  uint8_t* pixels = cvBitmap_AllocateMip(bitmap, 0);
  uint64_t bytes = 0;
  cvBitmap_GetLevelBytes(&bitmap->System, 0, &bytes);
  for (uint64_t i = 0; i < bytes; ++i) pixels[i] = (uint8_t)(i * 37 + 11);
  cvBitmap_SetMipValid(bitmap, 0, 1);
  if (Mips > 1) cvBitmap_MakeMips(bitmap, 1, Mips - 1);
  return bitmap;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  cvBitmap* bitmap = ReadMemory(Data, Size);
  if (bitmap) {
    const std::vector<uint8_t> again = WriteMemory(bitmap);
    if (!again.empty()) {
      cvBitmap* back = ReadMemory(again.data(), again.size());
      if (!back || back->System.Width != bitmap->System.Width ||
          back->System.Height != bitmap->System.Height || back->System.Format != bitmap->System.Format)
        __builtin_trap();
      // Rows are compared one by one: the two strides may differ (a BMP's
      // rows are padded, the engine format's are not).
      const uint8_t* a = cvBitmap_GetMipData(bitmap, 0);
      const uint8_t* b = cvBitmap_GetMipData(back, 0);
      int32_t width = 0, height = 0, strideA = 0, strideB = 0;
      if (a && b && cvBitmap_GetLevelSize(&bitmap->System, 0, &width, &height, &strideA) &&
          cvBitmap_GetLevelSize(&back->System, 0, nullptr, nullptr, &strideB)) {
        const uint64_t bpp = (uint64_t)cvPixelFormat_BytesPerPixel(bitmap->System.Format);
        for (int32_t y = 0; y < height; ++y)
          if (std::memcmp(a + (uint64_t)y * (uint64_t)strideA * bpp, b + (uint64_t)y * (uint64_t)strideB * bpp,
                          (uint64_t)width * bpp) != 0)
            __builtin_trap();
      }
      cvBitmap_Destroy(&back);
    }
    cvBitmap_Destroy(&bitmap);
  }
  cvErrorLog_Clear();
  return 0;
}

extern "C" int cvFuzz_WriteSeeds(const char* Dir) {
  int count = 0;
  auto emit = [&](const std::string& Name, cvBitmap* Bitmap) {
    cvfuzz::WriteSeed(Dir, Name, WriteMemory(Bitmap));
    cvBitmap_Destroy(&Bitmap);
    ++count;
  };
  emit("pow2_565_mips", Filled(16, 8, CV_PIXELFORMAT_16BIT_565_RGB, 3));
  emit("bytes_rgb24", Filled(5, 3, CV_PIXELFORMAT_24BIT_RGB, 1));
  emit("words_argb", Filled(300, 2, CV_PIXELFORMAT_32BIT_ARGB, 1));

  cvBitmap* keyed = Filled(6, 4, CV_PIXELFORMAT_24BIT_BGR, 1);
  keyed->System.HasColorKey = 1;
  keyed->System.ColorKey = 0x102030;
  emit("key_bgr24", keyed);

  for (int32_t size : {16, 256}) {
    cvBitmap* paletted = Filled(8, 8, CV_PIXELFORMAT_8BIT_PAL, 2);
    cvBitmap_Palette* palette = cvBitmap_Palette_Create(CV_PIXELFORMAT_32BIT_XRGB, size);
    cvBitmap_SetPalette(paletted, palette);
    cvBitmap_Palette_Destroy(&palette);
    paletted->System.HasColorKey = 1;
    paletted->System.ColorKey = 3;
    emit("palette" + std::to_string(size), paletted);
  }

  cvBitmap* withAlpha = Filled(4, 4, CV_PIXELFORMAT_16BIT_4444_ARGB, 1);
  cvBitmap* alpha = Filled(4, 4, CV_PIXELFORMAT_8BIT_GRAY, 1);
  cvBitmap_SetAlpha(withAlpha, alpha);
  cvBitmap_Destroy(&alpha);
  emit("alpha", withAlpha);

  // A level flagged as present without stored pixels.
  cvfuzz::WriteSeed(Dir, "nodata_level",
                    {'C', 'v', 'B', 'm', 0x41, 0x20, CV_PIXELFORMAT_8BIT_GRAY, 0x11, 4, 4, 0x10, 1, 1, 2, 3, 4, 0x0F});
  return count + 1;
}
