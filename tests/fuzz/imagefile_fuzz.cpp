// Fuzz target: the image-file module's reader (PNG, TGA and JPEG through
// cvImageFile_ReadData). Seeds are written by the module's own PNG and TGA
// encoders from small bitmaps of each kind (grey, keyed palette, partly
// transparent palette, colour, colour with alpha), by libjpeg (baseline,
// progressive, grey and CMYK), and by hand for TGA layouts the encoder does
// not write (plain palette, 16-bit colour, top-right origin).
#include <cstddef>
#include <cstdio>
#include <cstdlib>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include <string>
#include <vector>

#include "Bitmap/cvbitmap.h"
#include "Support/cvsupport.h"
#include "fuzz.h"
#include "imagefile/imagefile.h"

namespace {

using Bytes = std::vector<uint8_t>;

cvBitmap* Pattern(int W, int H, cvPixelFormat Format) {
  cvBitmap* B = cvBitmap_Create(W, H, 1, CV_PIXELFORMAT_32BIT_ARGB);
  auto* P = reinterpret_cast<uint32_t*>(cvBitmap_AllocateMip(B, 0));
  for (int I = 0; I < W * H; ++I) P[I] = (uint32_t)(I % 7 == 0 ? 0x40 : 0xFF) << 24 | (uint32_t)(I * 2654435761u >> 8);
  cvBitmap_SetMipValid(B, 0, 1);
  cvBitmap_SetFormat(B, Format);
  return B;
}

Bytes Encode(cvBitmap* B, cvImageFile_Type Type) {
  Bytes Out;
  cvImageFile_Encode(B, Type, &Out, nullptr);
  return Out;
}

Bytes Jpeg(int W, int H, int Components, J_COLOR_SPACE Space, bool Progressive) {
  jpeg_compress_struct J;
  jpeg_error_mgr Error;
  J.err = jpeg_std_error(&Error);
  jpeg_create_compress(&J);
  unsigned char* Buffer = nullptr;
  unsigned long Size = 0;
  jpeg_mem_dest(&J, &Buffer, &Size);
  J.image_width = (JDIMENSION)W, J.image_height = (JDIMENSION)H;
  J.input_components = Components, J.in_color_space = Space;
  jpeg_set_defaults(&J);
  jpeg_set_quality(&J, 75, TRUE);
  if (Progressive) jpeg_simple_progression(&J);
  jpeg_start_compress(&J, TRUE);
  std::vector<uint8_t> Row((size_t)W * Components);
  while (J.next_scanline < J.image_height) {
    for (size_t I = 0; I < Row.size(); ++I) Row[I] = (uint8_t)(I * 7 + J.next_scanline * 13);
    JSAMPROW R = Row.data();
    jpeg_write_scanlines(&J, &R, 1);
  }
  jpeg_finish_compress(&J);
  jpeg_destroy_compress(&J);
  Bytes Out(Buffer, Buffer + Size);
  free(Buffer);
  return Out;
}

// An uncompressed TGA: header, optional palette of Map entries of MapBits,
// then W x H pixels of Bits.
Bytes Tga(int Type, int W, int H, int Bits, int Map, int MapBits, uint8_t Descriptor) {
  Bytes B(18, 0);
  B[1] = Map ? 1 : 0, B[2] = (uint8_t)Type;
  B[5] = (uint8_t)Map, B[6] = (uint8_t)(Map >> 8), B[7] = (uint8_t)(Map ? MapBits : 0);
  B[12] = (uint8_t)W, B[14] = (uint8_t)H, B[16] = (uint8_t)Bits, B[17] = Descriptor;
  for (int I = 0; I < Map * ((MapBits + 7) / 8); ++I) B.push_back((uint8_t)(I * 29));
  for (int I = 0; I < W * H * ((Bits + 7) / 8); ++I) B.push_back((uint8_t)(Map ? I * 11 % Map : I * 11));
  return B;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  std::string Message;
  if (cvBitmap* B = cvImageFile_ReadData(Data, Size, &Message)) {
    // Touch every pixel and palette entry the reader filled.
    const uint8_t* Pixels = cvBitmap_GetMipData(B, 0);
    uint64_t Bytes = 0;
    unsigned Sum = 0;
    if (Pixels && cvBitmap_GetLevelBytes(&B->System, 0, &Bytes))
      for (uint64_t I = 0; I < Bytes; ++I) Sum += Pixels[I];
    if (cvBitmap_Palette* P = cvBitmap_GetPalette(B)) {
      std::vector<uint32_t> Entries(P->Size);
      cvBitmap_Palette_GetData(P, Entries.data(), CV_PIXELFORMAT_32BIT_ARGB, P->Size);
    }
    (void)Sum;
    cvBitmap_Destroy(&B);
  }
  cvErrorLog_Clear();
  return 0;
}

extern "C" int cvFuzz_WriteSeeds(const char* Dir) {
  int Count = 0;
  const auto Seed = [&](const std::string& Name, const Bytes& B) {
    if (B.empty()) return;
    cvfuzz::WriteSeed(Dir, Name, B);
    ++Count;
  };
  const struct {
    const char* Name;
    cvPixelFormat Format;
  } Kinds[] = {{"grey", CV_PIXELFORMAT_8BIT_GRAY},
               {"palette", CV_PIXELFORMAT_8BIT_PAL},
               {"rgb", CV_PIXELFORMAT_24BIT_BGR},
               {"rgba", CV_PIXELFORMAT_32BIT_ARGB}};
  for (const auto& K : Kinds) {
    cvBitmap* B = Pattern(13, 9, K.Format);
    Seed(std::string(K.Name) + ".png", Encode(B, CV_IMAGEFILE_PNG));
    Seed(std::string(K.Name) + "_rle.tga", Encode(B, CV_IMAGEFILE_TGA));
    if (K.Format == CV_PIXELFORMAT_8BIT_PAL) {
      cvBitmap_SetColorKey(B, 1, 3, 0);
      Seed("palette_key.png", Encode(B, CV_IMAGEFILE_PNG));
    }
    cvBitmap_Destroy(&B);
  }
  Seed("colour.jpg", Jpeg(17, 11, 3, JCS_RGB, false));
  Seed("progressive.jpg", Jpeg(17, 11, 3, JCS_RGB, true));
  Seed("grey.jpg", Jpeg(9, 9, 1, JCS_GRAYSCALE, false));
  Seed("cmyk.jpg", Jpeg(8, 8, 4, JCS_CMYK, false));
  Seed("palette.tga", Tga(1, 6, 4, 8, 5, 24, 0x20));
  Seed("rgb16_topright.tga", Tga(2, 5, 3, 16, 0, 0, 0x30));
  Seed("grey_alpha.tga", Tga(3, 4, 4, 16, 0, 0, 0x08));
  return Count;
}
