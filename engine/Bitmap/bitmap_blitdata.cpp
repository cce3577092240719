// Pixel conversion between any two formats under the colour-key rules, and
// rectangle copies between bitmap levels.
//
// Colour keys: a keyed destination must never receive its key value for a
// visible pixel, so a converted value equal to the key is stored as key XOR 1;
// source key pixels (and, from a source with alpha into a destination without,
// pixels with alpha below 80) become the destination key.
#include <cstddef>
#include <cstring>
#include <vector>

#include "Bitmap/bitmap.h"
#include "Bitmap/bitmap_internal.h"
#include "Bitmap/palettecreate.h"
#include "Support/cvsupport.h"

using namespace cvbitmap;

namespace {

// Alpha taken from a separate grey alpha bitmap for the rectangle being converted.
struct AlphaSource {
  const uint8_t* Base = nullptr;  // grey pixel of the rectangle's top-left corner
  int32_t Stride = 0;
  int32_t Width = 0;   // pixels available to the right of / below the corner
  int32_t Height = 0;
  cvBitmap* Lock = nullptr;  // lock to release afterwards

  int32_t At(int32_t X, int32_t Y) const {
    if (X >= Width || Y >= Height) return 255;
    return Base[(size_t)Y * Stride + X];
  }
};

// Finds the grey alpha that belongs to SourcePixels: through the alpha lock
// of a lock, or through the alpha bitmap of a bitmap whose level holds them.
bool FindAlpha(const cvBitmap_Info* Info, const uint8_t* Pixels, cvBitmap* Bitmap, AlphaSource* Out) {
  if (!Bitmap) return true;
  const int32_t Bytes = cvPixelFormat_BytesPerPixel(Info->Format);
  auto Locate = [&](const cvBitmap* Grey, const uint8_t* Start, int32_t StrideBytes) {
    if (StrideBytes <= 0 || Bytes <= 0 || !Grey->Mip[0]) return;
    const ptrdiff_t Offset = Pixels - Start;
    const int32_t Y = (int32_t)(Offset / StrideBytes);
    const int32_t X = (int32_t)((Offset % StrideBytes) / Bytes);
    if (X >= Grey->System.Width || Y >= Grey->System.Height) return;
    Out->Base = Grey->Mip[0] + (size_t)Y * Grey->System.Stride + X;
    Out->Stride = Grey->System.Stride;
    Out->Width = Grey->System.Width - X;
    Out->Height = Grey->System.Height - Y;
  };
  if (Bitmap->LockFlags & LOCK_IS_LOCK) {
    const cvBitmap* A = Bitmap->AlphaLock;
    if (!A || !A->Mip[0] || !Bitmap->Mip[0]) return true;
    const int32_t StrideBytes = Bitmap->System.Stride * Bytes;
    const uint64_t Total = (uint64_t)StrideBytes * Bitmap->System.Height;
    if (StrideBytes > 0 && Pixels >= Bitmap->Mip[0] && (uint64_t)(Pixels - Bitmap->Mip[0]) < Total)
      Locate(A, Bitmap->Mip[0], StrideBytes);
    return true;
  }
  if (!Bitmap->Alpha) return true;
  for (int32_t m = 0; m < CV_BITMAP_MAX_MIPS; ++m) {
    const uint8_t* Level = Bitmap->Mip[m];
    uint64_t Total = 0;
    if (!Level || Pixels < Level || !cvBitmap_GetLevelBytes(&Bitmap->System, m, &Total) ||
        (uint64_t)(Pixels - Level) >= Total)
      continue;
    cvBitmap* Lock = nullptr;
    if (!cvBitmap_LockForRead(Bitmap->Alpha, &Lock, m, m, CV_PIXELFORMAT_8BIT_GRAY, 0, 0)) return false;
    Out->Lock = Lock;
    int32_t Stride = 0;
    cvBitmap_GetLevelSize(&Bitmap->System, m, nullptr, nullptr, &Stride);
    Locate(Lock, Level, Stride * Bytes);
    return true;
  }
  return true;
}

struct KeyInfo {
  bool Source;
  uint32_t SourceKey;
  bool Destination;
  uint32_t DestinationKey;
};

// True colour to true colour, pixel by pixel.
template <int SB, int DB>
void ConvertRaw(const uint8_t* S, ptrdiff_t SStride, uint8_t* D, ptrdiff_t DStride, int32_t W, int32_t H,
                const Codec& SC, const Codec& DC, const KeyInfo& K, bool SourceAlpha,
                bool DestinationAlpha, const AlphaSource& Alpha) {
  const bool UseAlpha = Alpha.Base != nullptr;
  const uint32_t Clear = DC.Compose(0, 0, 0, 0);
  for (int32_t y = 0; y < H; ++y) {
    const uint8_t* s = S + (size_t)y * SStride;
    uint8_t* d = D + (size_t)y * DStride;
    for (int32_t x = 0; x < W; ++x, s += SB, d += DB) {
      const uint32_t Raw = ReadPixel(s, SB);
      uint32_t Out;
      if (K.Source && Raw == K.SourceKey) {
        Out = K.Destination ? K.DestinationKey : Clear;
      } else {
        int32_t R, G, B, A;
        SC.Decompose(Raw, &R, &G, &B, &A);
        if (UseAlpha) A = Alpha.At(x, y);
        if (K.Destination) {
          if (SourceAlpha && !DestinationAlpha && A < 80) {
            Out = K.DestinationKey;
          } else {
            Out = DC.Compose(R, G, B, A);
            if (Out == K.DestinationKey) Out ^= 1;
          }
        } else {
          Out = DC.Compose(R, G, B, A);
        }
      }
      WritePixel(d, DB, Out);
    }
  }
}

template <int SB>
void ConvertRawTo(int32_t DB, const uint8_t* S, ptrdiff_t SStride, uint8_t* D, ptrdiff_t DStride, int32_t W,
                  int32_t H, const Codec& SC, const Codec& DC, const KeyInfo& K, bool SA, bool DA,
                  const AlphaSource& Alpha) {
  switch (DB) {
    case 1: ConvertRaw<SB, 1>(S, SStride, D, DStride, W, H, SC, DC, K, SA, DA, Alpha); break;
    case 2: ConvertRaw<SB, 2>(S, SStride, D, DStride, W, H, SC, DC, K, SA, DA, Alpha); break;
    case 3: ConvertRaw<SB, 3>(S, SStride, D, DStride, W, H, SC, DC, K, SA, DA, Alpha); break;
    default: ConvertRaw<SB, 4>(S, SStride, D, DStride, W, H, SC, DC, K, SA, DA, Alpha); break;
  }
}

// Common pairs get loops with the channel layouts known at compile time.
template <int SF, int DF>
bool ConvertFixed(const uint8_t* S, ptrdiff_t SStride, uint8_t* D, ptrdiff_t DStride, int32_t W, int32_t H,
                  const KeyInfo& K, bool SA, bool DA, const AlphaSource& Alpha) {
  static constexpr Codec SC = MakeCodec(SF), DC = MakeCodec(DF);
  ConvertRaw<SC.Bytes, DC.Bytes>(S, SStride, D, DStride, W, H, SC, DC, K, SA, DA, Alpha);
  return true;
}

template <int SF>
bool ConvertFixedTo(cvPixelFormat DF, const uint8_t* S, ptrdiff_t SStride, uint8_t* D, ptrdiff_t DStride,
                    int32_t W, int32_t H, const KeyInfo& K, bool SA, bool DA, const AlphaSource& Alpha) {
  switch (DF) {
    case CV_PIXELFORMAT_16BIT_565_RGB: return ConvertFixed<SF, CV_PIXELFORMAT_16BIT_565_RGB>(S, SStride, D, DStride, W, H, K, SA, DA, Alpha);
    case CV_PIXELFORMAT_16BIT_555_RGB: return ConvertFixed<SF, CV_PIXELFORMAT_16BIT_555_RGB>(S, SStride, D, DStride, W, H, K, SA, DA, Alpha);
    case CV_PIXELFORMAT_16BIT_4444_ARGB: return ConvertFixed<SF, CV_PIXELFORMAT_16BIT_4444_ARGB>(S, SStride, D, DStride, W, H, K, SA, DA, Alpha);
    case CV_PIXELFORMAT_16BIT_1555_ARGB: return ConvertFixed<SF, CV_PIXELFORMAT_16BIT_1555_ARGB>(S, SStride, D, DStride, W, H, K, SA, DA, Alpha);
    case CV_PIXELFORMAT_32BIT_XRGB: return ConvertFixed<SF, CV_PIXELFORMAT_32BIT_XRGB>(S, SStride, D, DStride, W, H, K, SA, DA, Alpha);
    case CV_PIXELFORMAT_32BIT_ARGB: return ConvertFixed<SF, CV_PIXELFORMAT_32BIT_ARGB>(S, SStride, D, DStride, W, H, K, SA, DA, Alpha);
    default: return false;
  }
}

bool ConvertFixedPair(cvPixelFormat SF, cvPixelFormat DF, const uint8_t* S, ptrdiff_t SStride, uint8_t* D,
                      ptrdiff_t DStride, int32_t W, int32_t H, const KeyInfo& K, bool SA, bool DA,
                      const AlphaSource& Alpha) {
  switch (SF) {
    case CV_PIXELFORMAT_24BIT_RGB: return ConvertFixedTo<CV_PIXELFORMAT_24BIT_RGB>(DF, S, SStride, D, DStride, W, H, K, SA, DA, Alpha);
    case CV_PIXELFORMAT_24BIT_BGR: return ConvertFixedTo<CV_PIXELFORMAT_24BIT_BGR>(DF, S, SStride, D, DStride, W, H, K, SA, DA, Alpha);
    case CV_PIXELFORMAT_32BIT_XRGB: return ConvertFixedTo<CV_PIXELFORMAT_32BIT_XRGB>(DF, S, SStride, D, DStride, W, H, K, SA, DA, Alpha);
    case CV_PIXELFORMAT_32BIT_ARGB: return ConvertFixedTo<CV_PIXELFORMAT_32BIT_ARGB>(DF, S, SStride, D, DStride, W, H, K, SA, DA, Alpha);
    default: return false;
  }
}

// The same format on both sides: raw values are copied, with the key rules.
void CopySameFormat(const uint8_t* S, ptrdiff_t SStride, uint8_t* D, ptrdiff_t DStride, int32_t W, int32_t H,
                    int32_t Bytes, bool Palettized, const Codec& C, const KeyInfo& K) {
  const bool Plain = (!K.Source && !K.Destination) ||
                     (K.Source && K.Destination && K.SourceKey == K.DestinationKey);
  if (Plain || (K.Source && !K.Destination && Palettized)) {
    for (int32_t y = 0; y < H; ++y)
      std::memmove(D + (size_t)y * DStride, S + (size_t)y * SStride, (size_t)W * Bytes);
    return;
  }
  const uint32_t Clear = Palettized ? 0 : C.Compose(0, 0, 0, 0);
  for (int32_t y = 0; y < H; ++y) {
    const uint8_t* s = S + (size_t)y * SStride;
    uint8_t* d = D + (size_t)y * DStride;
    for (int32_t x = 0; x < W; ++x, s += Bytes, d += Bytes) {
      uint32_t V = ReadPixel(s, Bytes);
      if (K.Source && V == K.SourceKey)
        V = K.Destination ? K.DestinationKey : Clear;
      else if (K.Destination && V == K.DestinationKey)
        V ^= 1;
      WritePixel(d, Bytes, V);
    }
  }
}

bool ValidInfo(const cvBitmap_Info* I, int32_t W, int32_t H) {
  return I && cvPixelFormat_IsValid(I->Format) && I->Format != CV_PIXELFORMAT_WAVELET &&
         cvPixelFormat_BytesPerPixel(I->Format) > 0 && I->Width >= W && I->Height >= H && I->Stride >= W;
}

}  // namespace

int cvBitmap_BlitData(const cvBitmap_Info* SourceInfo, const void* SourcePixels, cvBitmap* SourceBitmap,
                      cvBitmap_Info* DestinationInfo, void* DestinationPixels, cvBitmap* DestinationBitmap,
                      int32_t Width, int32_t Height) {
  if (Width < 0 || Height < 0 || !ValidInfo(SourceInfo, Width, Height) ||
      !ValidInfo(DestinationInfo, Width, Height)) {
    CV_ERROR(-1);
    return 0;
  }
  if (Width == 0 || Height == 0) return 1;
  if (!SourcePixels || !DestinationPixels) {
    CV_ERROR(-1);
    return 0;
  }
  const cvPixelFormat SF = SourceInfo->Format;
  const cvPixelFormat DF = DestinationInfo->Format;
  const int32_t SB = cvPixelFormat_BytesPerPixel(SF);
  const int32_t DB = cvPixelFormat_BytesPerPixel(DF);
  const bool SPal = cvPixelFormat_HasPalette(SF);
  const bool DPal = cvPixelFormat_HasPalette(DF);
  const auto* S = static_cast<const uint8_t*>(SourcePixels);
  auto* D = static_cast<uint8_t*>(DestinationPixels);
  const ptrdiff_t SStride = (ptrdiff_t)SourceInfo->Stride * SB;
  const ptrdiff_t DStride = (ptrdiff_t)DestinationInfo->Stride * DB;
  const KeyInfo K = {SourceInfo->HasColorKey != 0, SourceInfo->ColorKey,
                     DestinationInfo->HasColorKey != 0, DestinationInfo->ColorKey};

  // Palettes: the info's own, else the bitmap's.
  cvBitmap_Palette* SP = SourceInfo->Palette;
  if (!SP && SourceBitmap) SP = cvBitmap_GetPalette(SourceBitmap);
  cvBitmap_Palette* DP = DestinationInfo->Palette;
  if (!DP && DestinationBitmap) DP = cvBitmap_GetPalette(DestinationBitmap);
  if (SPal && !SP) {
    CV_ERROR(-1);
    return 0;
  }
  if (DPal && !DP) {
    cvBitmap_Palette* Made = nullptr;
    if (SPal) {
      Made = cvBitmap_Palette_Create(SP->Format, SP->Size);
      if (Made && !cvBitmap_Palette_Copy(Made, SP)) cvBitmap_Palette_Destroy(&Made);
    } else {
      cvBitmap_Info Rect = *SourceInfo;
      Rect.Width = Width;
      Rect.Height = Height;
      Made = cvBitmap_CreatePaletteForImage(&Rect, SourcePixels);
      if (Made && K.Destination) PaletteReserveKey(Made, (int32_t)(K.DestinationKey & 0xFF));
    }
    if (!Made) {
      CV_ERROR(-1);
      return 0;
    }
    if (DestinationBitmap) {
      const int Ok = SetPaletteInternal(DestinationBitmap, Made, false);
      cvBitmap_Palette_Destroy(&Made);
      if (!Ok) {
        CV_ERROR(-1);
        return 0;
      }
      DestinationInfo->Palette = DestinationBitmap->System.Palette;
    } else {
      DestinationInfo->Palette = Made;  // the caller owns this reference
    }
    DP = DestinationInfo->Palette;
  }

  AlphaSource Alpha;
  if (cvPixelFormat_HasAlpha(DF) && !FindAlpha(SourceInfo, S, SourceBitmap, &Alpha)) {
    CV_ERROR(-1);
    return 0;
  }
  struct AlphaRelease {
    AlphaSource& A;
    ~AlphaRelease() {
      if (A.Lock) cvBitmap_UnLock_NoChange(A.Lock);
    }
  } Release{Alpha};
  const bool SourceAlpha = cvPixelFormat_HasAlpha(SF) || Alpha.Base;
  const bool DestinationAlpha = cvPixelFormat_HasAlpha(DF);

  if (SF == DF && !Alpha.Base) {
    CopySameFormat(S, SStride, D, DStride, Width, Height, SB, SPal, MakeCodecRuntime(SF), K);
    return 1;
  }

  if (!SPal && !DPal) {
    if (ConvertFixedPair(SF, DF, S, SStride, D, DStride, Width, Height, K, SourceAlpha, DestinationAlpha, Alpha))
      return 1;
    const Codec SC = MakeCodecRuntime(SF), DC = MakeCodecRuntime(DF);
    switch (SB) {
      case 1: ConvertRawTo<1>(DB, S, SStride, D, DStride, Width, Height, SC, DC, K, SourceAlpha, DestinationAlpha, Alpha); break;
      case 2: ConvertRawTo<2>(DB, S, SStride, D, DStride, Width, Height, SC, DC, K, SourceAlpha, DestinationAlpha, Alpha); break;
      case 3: ConvertRawTo<3>(DB, S, SStride, D, DStride, Width, Height, SC, DC, K, SourceAlpha, DestinationAlpha, Alpha); break;
      default: ConvertRawTo<4>(DB, S, SStride, D, DStride, Width, Height, SC, DC, K, SourceAlpha, DestinationAlpha, Alpha); break;
    }
    return 1;
  }

  if (SPal && !DPal) {
    // Palette converted once into the destination format; the source key
    // entry becomes the destination key (or transparent black).
    const Codec PC = MakeCodecRuntime(SP->Format), DC = MakeCodecRuntime(DF);
    int32_t Channels[256][4] = {};
    uint32_t Table[256];
    bool LockedHere = false;
    const uint8_t* Entries = PaletteBeginAccess(SP, &LockedHere);
    if (!Entries) {
      CV_ERROR(-1);
      return 0;
    }
    for (int32_t i = 0; i < std::min(SP->Size, 256); ++i)
      PC.Decompose(ReadPixel(Entries + (size_t)i * PC.Bytes, PC.Bytes), &Channels[i][0], &Channels[i][1],
                   &Channels[i][2], &Channels[i][3]);
    PaletteEndAccess(SP, LockedHere);
    auto Entry = [&](const int32_t* C, int32_t A) {
      if (K.Destination && !DestinationAlpha && A < 80) return K.DestinationKey;
      uint32_t V = DC.Compose(C[0], C[1], C[2], A);
      if (K.Destination && V == K.DestinationKey) V ^= 1;
      return V;
    };
    for (int32_t i = 0; i < 256; ++i) Table[i] = Entry(Channels[i], Channels[i][3]);
    const int32_t SourceKey = K.Source ? (int32_t)(K.SourceKey & 0xFF) : -1;
    if (SourceKey >= 0) Table[SourceKey] = K.Destination ? K.DestinationKey : DC.Compose(0, 0, 0, 0);
    for (int32_t y = 0; y < Height; ++y) {
      const uint8_t* s = S + (size_t)y * SStride;
      uint8_t* d = D + (size_t)y * DStride;
      for (int32_t x = 0; x < Width; ++x, d += DB) {
        const int32_t I = s[x];
        const uint32_t V = (Alpha.Base && I != SourceKey) ? Entry(Channels[I], Alpha.At(x, y)) : Table[I];
        WritePixel(d, DB, V);
      }
    }
    return 1;
  }

  if (!SPal && DPal) {
    // Nearest entry of the destination palette, taken as RGB triples. A
    // visible pixel never maps to the key entry, whatever colour that entry
    // holds, so the lookup leaves the key entry out.
    uint8_t Triples[256 * 3] = {};
    if (!cvBitmap_Palette_GetData(DP, Triples, CV_PIXELFORMAT_24BIT_RGB, 256)) return 0;
    const int32_t Size = std::min(DP->Size, 256);
    const uint32_t Key = K.DestinationKey & 0xFF;
    cvBitmap_ColorLookup* Lookup =
        cvBitmap_ColorLookup_CreateFor(Triples, Size, K.Destination && (int32_t)Key < Size ? (int32_t)Key : -1);
    if (!Lookup) {
      CV_ERROR(-1);
      return 0;
    }
    const Codec SC = MakeCodecRuntime(SF);
    for (int32_t y = 0; y < Height; ++y) {
      const uint8_t* s = S + (size_t)y * SStride;
      uint8_t* d = D + (size_t)y * DStride;
      for (int32_t x = 0; x < Width; ++x, s += SB) {
        const uint32_t Raw = ReadPixel(s, SB);
        int32_t R = 0, G = 0, B = 0, A = 255;
        if (K.Source && Raw == K.SourceKey) {
          if (K.Destination) {
            d[x] = (uint8_t)Key;
            continue;
          }
          A = 0;
        } else {
          SC.Decompose(Raw, &R, &G, &B, &A);
          if (Alpha.Base) A = Alpha.At(x, y);
        }
        if (K.Destination && SourceAlpha && A < 128) {
          d[x] = (uint8_t)Key;
          continue;
        }
        int32_t I = cvBitmap_ColorLookup_Find(Lookup, R, G, B);
        // Only a one-entry palette can still answer the key.
        if (K.Destination && (uint32_t)I == Key) I ^= 1;
        d[x] = (uint8_t)I;
      }
    }
    cvBitmap_ColorLookup_Destroy(&Lookup);
    return 1;
  }

  // Both palettized with an alpha source: the indices carry over.
  CopySameFormat(S, SStride, D, DStride, Width, Height, 1, true, MakeCodecRuntime(SF), K);
  return 1;
}

int cvBitmap_BlitBitmap(cvBitmap* Source, int32_t SourceMip, int32_t SourceX, int32_t SourceY,
                        cvBitmap* Destination, int32_t DestinationMip, int32_t DestinationX,
                        int32_t DestinationY, int32_t Width, int32_t Height) {
  if (!Source || !Destination || Source->RefCount < 1 || Destination->RefCount < 1) {
    CV_ERROR(-1);
    return 0;
  }
  const bool SourceIsLock = (Source->LockFlags & LOCK_IS_LOCK) != 0;
  const bool DestinationIsLock = (Destination->LockFlags & LOCK_IS_LOCK) != 0;
  cvBitmap* SL = Source;
  cvBitmap* DL = Destination;
  if (!SourceIsLock && !cvBitmap_LockForRead(Source, &SL, SourceMip, SourceMip, Source->System.Format,
                                             Source->System.HasColorKey, Source->System.ColorKey))
    return 0;
  if (!DestinationIsLock && !cvBitmap_LockForWrite(Destination, &DL, DestinationMip, DestinationMip)) {
    if (!SourceIsLock) cvBitmap_UnLock_NoChange(SL);
    return 0;
  }
  int Ok = 0;
  const cvBitmap_Info& SI = SL->System;
  const cvBitmap_Info& DI = DL->System;
  if (SourceX < 0 || SourceY < 0 || DestinationX < 0 || DestinationY < 0 || SourceX > SI.Width ||
      SourceY > SI.Height || DestinationX > DI.Width || DestinationY > DI.Height || !SL->Mip[0] ||
      !DL->Mip[0]) {
    CV_ERROR(-1);
  } else {
    const int32_t FitW = std::min(SI.Width - SourceX, DI.Width - DestinationX);
    const int32_t FitH = std::min(SI.Height - SourceY, DI.Height - DestinationY);
    const int32_t W = Width < 0 ? FitW : std::min(Width, FitW);
    const int32_t H = Height < 0 ? FitH : std::min(Height, FitH);
    const int32_t SBytes = cvPixelFormat_BytesPerPixel(SI.Format);
    const int32_t DBytes = cvPixelFormat_BytesPerPixel(DI.Format);
    cvBitmap_Info SRect = SI, DRect = DI;
    SRect.Width = SI.Width - SourceX;
    SRect.Height = SI.Height - SourceY;
    DRect.Width = DI.Width - DestinationX;
    DRect.Height = DI.Height - DestinationY;
    Ok = cvBitmap_BlitData(&SRect, SL->Mip[0] + ((size_t)SourceY * SI.Stride + SourceX) * SBytes, SL,
                           &DRect, DL->Mip[0] + ((size_t)DestinationY * DI.Stride + DestinationX) * DBytes,
                           DL, W, H);
  }
  if (!SourceIsLock) cvBitmap_UnLock_NoChange(SL);
  if (!DestinationIsLock) Ok &= (Ok ? cvBitmap_UnLock(DL) : cvBitmap_UnLock_NoChange(DL));
  return Ok;
}
