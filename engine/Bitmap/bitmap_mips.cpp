// Mip generation: each missing level is averaged from the nearest larger
// level that holds pixels. From the next larger level that is a 2 x 2 block,
// (a + b + c + d + 2) >> 2 per channel; from a level further up the block
// grows to 2^d x 2^d and is averaged the same way. Blocks cut by an odd edge
// average the pixels they have. Colour-keyed pixels stay out of the averages
// (a block of key pixels only stays the key), and palettized levels average
// the palette colours and map the result back to the nearest entry other than
// the key entry.
#include <cstring>

#include "Bitmap/bitmap.h"
#include "Bitmap/bitmap_internal.h"
#include "Bitmap/palettecreate.h"
#include "Support/cvsupport.h"

using namespace cvbitmap;

namespace {

bool BuildLevel(cvBitmap* B, int32_t Source, int32_t Target, cvBitmap_ColorLookup* Lookup,
                const int32_t (*Colors)[3], int32_t PaletteSize) {
  const cvBitmap_Info SI = LevelInfo(B->System, Source);
  const cvBitmap_Info TI = LevelInfo(B->System, Target);
  const int32_t Bytes = cvPixelFormat_BytesPerPixel(B->System.Format);
  const bool Palettized = cvPixelFormat_HasPalette(B->System.Format);
  const Codec C = MakeCodecRuntime(B->System.Format);
  const bool Keyed = B->System.HasColorKey != 0;
  const uint32_t Key = B->System.ColorKey;
  const int32_t Shift = Target - Source;

  uint8_t* Out = cvBitmap_AllocateMip(B, Target);
  if (!Out) return false;
  const uint8_t* In = B->Mip[Source];
  for (int32_t y = 0; y < TI.Height; ++y) {
    uint8_t* d = Out + (size_t)y * TI.Stride * Bytes;
    const int32_t Y0 = y << Shift, Y1 = std::min(SI.Height, (y + 1) << Shift);
    for (int32_t x = 0; x < TI.Width; ++x, d += Bytes) {
      const int32_t X0 = x << Shift, X1 = std::min(SI.Width, (x + 1) << Shift);
      int32_t Sum[4] = {0, 0, 0, 0};
      int32_t N = 0;
      for (int32_t sy = Y0; sy < Y1; ++sy) {
        const uint8_t* s = In + ((size_t)sy * SI.Stride + X0) * Bytes;
        for (int32_t sx = X0; sx < X1; ++sx, s += Bytes) {
          const uint32_t V = ReadPixel(s, Bytes);
          if (Keyed && V == Key) continue;
          int32_t R, G, Bl, A = 255;
          if (Palettized) {
            const int32_t I = (int32_t)V < PaletteSize ? (int32_t)V : PaletteSize - 1;
            R = Colors[I][0];
            G = Colors[I][1];
            Bl = Colors[I][2];
          } else {
            C.Decompose(V, &R, &G, &Bl, &A);
          }
          Sum[0] += R;
          Sum[1] += G;
          Sum[2] += Bl;
          Sum[3] += A;
          ++N;
        }
      }
      uint32_t V;
      if (N == 0) {
        V = Keyed ? Key : 0;
      } else {
        int32_t Avg[4];
        for (int i = 0; i < 4; ++i) Avg[i] = (Sum[i] + N / 2) / N;
        if (Palettized) {
          V = (uint32_t)cvBitmap_ColorLookup_Find(Lookup, Avg[0], Avg[1], Avg[2]);
        } else {
          V = C.Compose(Avg[0], Avg[1], Avg[2], Avg[3]);
        }
        if (Keyed && V == Key) V ^= 1;
      }
      WritePixel(d, Bytes, V);
    }
  }
  B->MipValid[Target] = 1;
  return true;
}

}  // namespace

int cvBitmap_MakeMips(cvBitmap* Bitmap, int32_t LowMip, int32_t HighMip) {
  if (!Bitmap || Bitmap->RefCount < 1 || (Bitmap->LockFlags & LOCK_IS_LOCK) ||
      LowMip < Bitmap->System.MinimumMip || HighMip >= CV_BITMAP_MAX_MIPS || LowMip > HighMip ||
      cvPixelFormat_BytesPerPixel(Bitmap->System.Format) == 0) {
    CV_ERROR(-1);
    return 0;
  }
  const bool Palettized = cvPixelFormat_HasPalette(Bitmap->System.Format);
  cvBitmap_ColorLookup* Lookup = nullptr;
  int32_t Colors[256][3] = {};
  int32_t PaletteSize = 0;
  bool Ok = true;
  for (int32_t m = LowMip; m <= HighMip && Ok; ++m) {
    if (LevelReady(Bitmap, m)) continue;
    int32_t Source = m - 1;
    while (Source >= Bitmap->System.MinimumMip && !LevelReady(Bitmap, Source)) --Source;
    if (Source < Bitmap->System.MinimumMip) {
      Ok = false;
      break;
    }
    if (Palettized && !Lookup) {
      cvBitmap_Palette* P = Bitmap->System.Palette;
      uint8_t Triples[256 * 3] = {};
      if (!P || P->Size < 1 || !cvBitmap_Palette_GetData(P, Triples, CV_PIXELFORMAT_24BIT_RGB, 256)) {
        Ok = false;
        break;
      }
      PaletteSize = std::min(P->Size, 256);
      for (int32_t i = PaletteSize; i < 256; ++i) std::memcpy(Triples + i * 3, Triples + (PaletteSize - 1) * 3, 3);
      for (int32_t i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c) Colors[i][c] = Triples[i * 3 + c];
      // An averaged colour never maps to the key entry, whatever colour that
      // entry holds: only key pixels of the larger level make key pixels.
      const bool Keyed = Bitmap->System.HasColorKey != 0 && Bitmap->System.ColorKey < (uint32_t)PaletteSize;
      Lookup = cvBitmap_ColorLookup_CreateFor(Triples, PaletteSize, Keyed ? (int32_t)Bitmap->System.ColorKey : -1);
      if (!Lookup) {
        Ok = false;
        break;
      }
    }
    Ok = BuildLevel(Bitmap, Source, m, Lookup, Colors, PaletteSize);
    if (Ok && m > Bitmap->System.MaximumMip) Bitmap->System.MaximumMip = m;
  }
  if (Lookup) cvBitmap_ColorLookup_Destroy(&Lookup);
  if (!Ok) CV_ERROR(-1);
  return Ok ? 1 : 0;
}
