// PNG through libpng: reading any PNG (1 to 16 bits, grey, palette, colour,
// alpha, transparency chunk, interlaced) into the nearest engine format, and
// writing grey, palette, RGB and RGBA images deflate-compressed.
//
// libpng reports errors by longjmp. The functions that call setjmp keep
// nothing with a destructor alive across it: everything they build lives in
// a state record owned by the caller, which cleans up after a failure.
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "imagefile_internal.h"

namespace cvimagefile {
namespace {

struct PngRead {
  const uint8_t* Data = nullptr;
  size_t Size = 0, Pos = 0;
  char Error[160] = "";
  cvBitmap* Bitmap = nullptr;   // destroyed by the caller on failure
  png_bytep* Rows = nullptr;    // freed by the caller
  uint32_t Palette[256] = {};
  int32_t PaletteCount = 0;
  int32_t KeyIndex = -1;
  Reason* Why = nullptr;        // set for failures found by our own checks
};

void OnError(png_structp Png, png_const_charp Text) {
  auto* S = static_cast<PngRead*>(png_get_error_ptr(Png));
  std::snprintf(S->Error, sizeof S->Error, "%s", Text ? Text : "damaged file");
  png_longjmp(Png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void OnRead(png_structp Png, png_bytep Out, size_t Count) {
  auto* S = static_cast<PngRead*>(png_get_io_ptr(Png));
  if (Count > S->Size - S->Pos) png_error(Png, "the file ends before the image does");
  std::memcpy(Out, S->Data + S->Pos, Count);
  S->Pos += Count;
}

// How a palette image is kept: as indices with at most one fully transparent
// entry (the colour key), or expanded to ARGB when entries are partly
// transparent or more than one is transparent.
bool PaletteKeepsIndices(png_structp Png, png_infop Info, int32_t* KeyIndex) {
  png_bytep Alpha = nullptr;
  int Count = 0;
  *KeyIndex = -1;
  if (!png_get_valid(Png, Info, PNG_INFO_tRNS) || !png_get_tRNS(Png, Info, &Alpha, &Count, nullptr))
    return true;
  for (int I = 0; I < Count; ++I) {
    if (Alpha[I] == 255) continue;
    if (Alpha[I] != 0 || *KeyIndex >= 0) return false;
    *KeyIndex = I;
  }
  return true;
}

// Decodes into S->Bitmap. 1 on success; 0 after a libpng error or one of our checks.
int Decode(PngRead* S, png_structp Png, png_infop Info) {
  if (setjmp(png_jmpbuf(Png))) return 0;
  png_set_read_fn(Png, S, OnRead);
  png_set_user_limits(Png, CV_IMAGEFILE_MAX_SIDE, CV_IMAGEFILE_MAX_SIDE);
  png_read_info(Png, Info);
  const png_uint_32 Width = png_get_image_width(Png, Info), Height = png_get_image_height(Png, Info);
  const int Depth = png_get_bit_depth(Png, Info), Type = png_get_color_type(Png, Info);
  const bool Trns = png_get_valid(Png, Info, PNG_INFO_tRNS) != 0;

  if (Depth == 16) png_set_scale_16(Png);
  if (Depth < 8) {
    if (Type == PNG_COLOR_TYPE_PALETTE) png_set_packing(Png);
    else png_set_expand_gray_1_2_4_to_8(Png);
  }
  cvPixelFormat Format = CV_PIXELFORMAT_32BIT_ARGB;
  if (Type == PNG_COLOR_TYPE_PALETTE && PaletteKeepsIndices(Png, Info, &S->KeyIndex)) {
    png_colorp Entries = nullptr;
    int Count = 0;
    if (!png_get_PLTE(Png, Info, &Entries, &Count) || Count < 1) png_error(Png, "the palette is missing");
    S->PaletteCount = Count > 256 ? 256 : Count;
    for (int I = 0; I < S->PaletteCount; ++I)
      S->Palette[I] = 0xFF000000u | (uint32_t)Entries[I].red << 16 | (uint32_t)Entries[I].green << 8 |
                      Entries[I].blue;
    Format = CV_PIXELFORMAT_8BIT_PAL;
  } else if (Type == PNG_COLOR_TYPE_GRAY && !Trns) {
    Format = CV_PIXELFORMAT_8BIT_GRAY;
  } else if (Type == PNG_COLOR_TYPE_RGB && !Trns) {
    Format = CV_PIXELFORMAT_24BIT_BGR;
    png_set_bgr(Png);
  } else {
    // Everything else carries alpha: expand to B G R A bytes, 32 bit ARGB.
    if (Type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(Png);
    if (Trns) png_set_tRNS_to_alpha(Png);
    if (Type == PNG_COLOR_TYPE_GRAY || Type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(Png);
    png_set_bgr(Png);
  }
  png_set_interlace_handling(Png);
  png_read_update_info(Png, Info);

  const int32_t Bytes = cvPixelFormat_BytesPerPixel(Format);
  if (png_get_rowbytes(Png, Info) != (size_t)Width * Bytes) png_error(Png, "unexpected row layout");
  S->Bitmap = NewBitmap(Width, Height, Format, S->Why);
  if (!S->Bitmap) return 0;
  S->Rows = static_cast<png_bytep*>(std::calloc(Height, sizeof(png_bytep)));
  if (!S->Rows) png_error(Png, "out of memory");
  uint8_t* Pixels = cvBitmap_GetMipData(S->Bitmap, 0);
  for (png_uint_32 Y = 0; Y < Height; ++Y) S->Rows[Y] = Pixels + (size_t)Y * Width * Bytes;
  png_read_image(Png, S->Rows);
  return 1;
}

struct PngWrite {
  std::vector<uint8_t>* Out = nullptr;
  char Error[160] = "";
};

void OnWrite(png_structp Png, png_bytep Data, size_t Count) {
  auto* S = static_cast<PngWrite*>(png_get_io_ptr(Png));
  try {
    S->Out->insert(S->Out->end(), Data, Data + Count);
  } catch (...) {
    png_error(Png, "out of memory");
  }
}

void OnFlush(png_structp) {}

void OnWriteError(png_structp Png, png_const_charp Text) {
  auto* S = static_cast<PngWrite*>(png_get_error_ptr(Png));
  std::snprintf(S->Error, sizeof S->Error, "%s", Text ? Text : "cannot encode");
  png_longjmp(Png, 1);
}

int Encode(PngWrite* S, png_structp Png, png_infop Info, const PackedImage* Image, png_bytep* Rows,
           png_colorp Palette, png_bytep PaletteAlpha, int AlphaCount) {
  if (setjmp(png_jmpbuf(Png))) return 0;
  png_set_write_fn(Png, S, OnWrite, OnFlush);
  png_set_compression_level(Png, Z_DEFAULT_COMPRESSION);
  int Type = PNG_COLOR_TYPE_RGB;
  if (Image->IsPalette()) Type = PNG_COLOR_TYPE_PALETTE;
  else if (Image->Channels == 1) Type = PNG_COLOR_TYPE_GRAY;
  else if (Image->Channels == 4) Type = PNG_COLOR_TYPE_RGB_ALPHA;
  png_set_IHDR(Png, Info, Image->Width, Image->Height, 8, Type, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (Image->IsPalette()) {
    png_set_PLTE(Png, Info, Palette, (int)(Image->Palette.size() / 4));
    if (AlphaCount > 0) png_set_tRNS(Png, Info, PaletteAlpha, AlphaCount, nullptr);
  }
  png_write_info(Png, Info);
  png_write_image(Png, Rows);
  png_write_end(Png, nullptr);
  return 1;
}

}  // namespace

cvBitmap* ReadPng(const uint8_t* Data, size_t Size, Reason* Why) {
  // The size in the header chunk (always first) is checked before libpng
  // sees the file, so that the reason names the size.
  if (Size >= 24 && std::memcmp(Data + 12, "IHDR", 4) == 0) {
    const auto BE32 = [](const uint8_t* P) {
      return (int64_t)((uint32_t)P[0] << 24 | (uint32_t)P[1] << 16 | (uint32_t)P[2] << 8 | P[3]);
    };
    if (!SizeFits(BE32(Data + 16), BE32(Data + 20), 4, Why)) return nullptr;
  }
  PngRead S;
  S.Data = Data, S.Size = Size, S.Why = Why;
  png_structp Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &S, OnError, OnWarning);
  png_infop Info = Png ? png_create_info_struct(Png) : nullptr;
  const bool Created = Info != nullptr;
  const bool Ok = Created && Decode(&S, Png, Info) &&
                  (S.PaletteCount == 0 || SetPalette(S.Bitmap, S.Palette, S.PaletteCount, S.KeyIndex, Why));
  png_destroy_read_struct(&Png, Info ? &Info : nullptr, nullptr);
  std::free(S.Rows);
  if (Ok) return S.Bitmap;
  if (S.Bitmap) cvBitmap_Destroy(&S.Bitmap);
  if (!Created) *Why = "out of memory";
  else if (S.Error[0]) *Why = S.Error;
  return nullptr;
}

bool WritePng(const PackedImage& Image, std::vector<uint8_t>* Out, Reason* Why) {
  const size_t Row = (size_t)Image.Width * Image.Channels;
  std::vector<png_bytep> Rows(Image.Height);
  for (int32_t Y = 0; Y < Image.Height; ++Y)
    Rows[Y] = const_cast<png_bytep>(Image.Pixels.data() + Row * Y);
  // Palette entries and their alpha; trailing opaque entries need no alpha.
  const int Count = (int)(Image.Palette.size() / 4);
  std::vector<png_color> Palette(Count);
  std::vector<png_byte> Alpha(Count);
  int AlphaCount = 0;
  for (int I = 0; I < Count; ++I) {
    const uint8_t* E = &Image.Palette[(size_t)I * 4];
    Palette[I] = {E[0], E[1], E[2]};
    Alpha[I] = E[3];
    if (E[3] != 255) AlphaCount = I + 1;
  }
  PngWrite S;
  S.Out = Out;
  png_structp Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &S, OnWriteError, OnWarning);
  png_infop Info = Png ? png_create_info_struct(Png) : nullptr;
  const bool Created = Info != nullptr;
  const bool Ok = Created && Encode(&S, Png, Info, &Image, Rows.data(), Palette.data(), Alpha.data(), AlphaCount);
  png_destroy_write_struct(&Png, Info ? &Info : nullptr);
  if (!Ok) *Why = Created ? std::string("PNG: ") + S.Error : "out of memory";
  return Ok;
}

}  // namespace cvimagefile
