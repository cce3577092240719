// The driver copy of a bitmap: choosing the driver's texture format,
// attaching and detaching, uploading the system copy (gamma applied) and
// reading a driver copy that was changed through driver locks back.
#include <bit>
#include <cstring>
#include <vector>

#include "Bitmap/bitmap.h"
#include "Bitmap/bitmap_internal.h"
#include "Bitmap/palettecreate.h"
#include "Driver/cvdriver.h"
#include "Support/cvsupport.h"

using namespace cvbitmap;

namespace {

// More formats than any driver offers; the list is cut there.
constexpr size_t kMaxDriverFormats = 256;

int CollectFormat(const cvDriver_PixelFormat* Format, void* Context) {
  auto* List = static_cast<std::vector<cvDriver_PixelFormat>*>(Context);
  if (Format) List->push_back(*Format);
  return List->size() < kMaxDriverFormats;
}

std::vector<cvDriver_PixelFormat> DriverFormats(cvDriver_Table* Driver) {
  std::vector<cvDriver_PixelFormat> List;
  if (Driver && Driver->EnumPixelFormats) Driver->EnumPixelFormats(&CollectFormat, &List);
  return List;
}

// The palette-format entry: the first with the palette flag, replaced by a
// later one whose format has good alpha. -1 when there is none.
int PaletteEntry(const std::vector<cvDriver_PixelFormat>& List) {
  int Found = -1;
  for (size_t i = 0; i < List.size(); ++i) {
    if (!(List[i].Flags & CV_DRIVER_FORMAT_PALETTE)) continue;
    if (Found < 0 || (!cvPixelFormat_HasGoodAlpha(List[Found].PixelFormat) &&
                      cvPixelFormat_HasGoodAlpha(List[i].PixelFormat)))
      Found = (int)i;
  }
  return Found;
}

int AlphaBits(cvPixelFormat Format) {
  const cvPixelFormat_Operations* Ops = cvPixelFormat_GetOperations(Format);
  return Ops ? std::popcount(Ops->AlphaMask) : 0;
}

bool IsLock(const cvBitmap* B) { return (B->LockFlags & LOCK_IS_LOCK) != 0; }

// Writes the grey levels of the alpha bitmap into the separate alpha texture.
bool UploadAlpha(cvBitmap* B) {
  cvDriver_Table* D = B->DriverTable;
  cvDriver_TextureInfo TI = {};
  if (!D->GetTextureInfo || !D->GetTextureInfo(B->DriverAlphaHandle, &TI)) return false;
  const Codec C = MakeCodecRuntime(TI.Format.PixelFormat);
  if (C.Bytes == 0) return false;
  for (int32_t m = 0; m < TI.MipCount; ++m) {
    cvBitmap* Lock = nullptr;
    if (!cvBitmap_LockForRead(B->Alpha, &Lock, m, m, CV_PIXELFORMAT_8BIT_GRAY, 0, 0)) return false;
    int32_t Pitch = 0;
    auto* P = static_cast<uint8_t*>(D->LockTexture(B->DriverAlphaHandle, m, &Pitch));
    if (!P) {
      cvBitmap_UnLock_NoChange(Lock);
      return false;
    }
    const int32_t W = std::min(DriverLevelSize(TI.Width, m), Lock->System.Width);
    const int32_t H = std::min(DriverLevelSize(TI.Height, m), Lock->System.Height);
    for (int32_t y = 0; y < H; ++y) {
      const uint8_t* s = Lock->Mip[0] + (size_t)y * Lock->System.Stride;
      uint8_t* d = P + (size_t)y * Pitch;
      for (int32_t x = 0; x < W; ++x) WritePixel(d + (size_t)x * C.Bytes, C.Bytes, C.Compose(s[x], s[x], s[x], s[x]));
    }
    if (D->UnlockTexture) D->UnlockTexture(B->DriverAlphaHandle, m);
    cvBitmap_UnLock_NoChange(Lock);
  }
  return true;
}

// The driver's texture of level m described as a bitmap level.
cvBitmap_Info DriverLevel(const cvBitmap* B, int32_t Mip, int32_t Pitch) {
  cvBitmap_Info I = B->Driver;
  I.Width = DriverLevelSize(B->Driver.Width, Mip);
  I.Height = DriverLevelSize(B->Driver.Height, Mip);
  I.Stride = Pitch / std::max(1, cvPixelFormat_BytesPerPixel(B->Driver.Format));
  I.MinimumMip = I.MaximumMip = Mip;
  return I;
}

}  // namespace

namespace cvbitmap {

int32_t DriverLevelSize(int32_t Size, int32_t Mip) { return std::max(1, Size >> Mip); }

int Upload(cvBitmap* B) {
  if (!B->DriverHandle) return 1;
  cvDriver_Table* D = B->DriverTable;
  const int32_t Bytes = cvPixelFormat_BytesPerPixel(B->Driver.Format);
  if (!D->LockTexture || Bytes == 0 || B->DriverLocked) {
    CV_ERROR(-1);
    return 0;
  }
  // A palettized driver copy gets the system palette, or one built for a
  // true-colour system copy.
  if (cvPixelFormat_HasPalette(B->Driver.Format) && B->Driver.Palette) {
    cvBitmap_Palette* Source = nullptr;
    bool Built = false;
    if (cvPixelFormat_HasPalette(B->System.Format)) {
      Source = B->System.Palette;
    } else if (cvBitmap_AllocateMip(B, B->System.MinimumMip)) {
      const cvBitmap_Info L = LevelInfo(B->System, B->System.MinimumMip);
      Source = cvBitmap_CreatePaletteForImage(&L, B->Mip[B->System.MinimumMip]);
      Built = true;
      if (Source && B->Driver.HasColorKey) PaletteReserveKey(Source, (int32_t)(B->Driver.ColorKey & 0xFF));
    }
    const int Ok = Source && cvBitmap_Palette_Copy(B->Driver.Palette, Source);
    if (Built && Source) cvBitmap_Palette_Destroy(&Source);
    if (!Ok) {
      CV_ERROR(-1);
      return 0;
    }
  }
  for (int32_t m = B->Driver.MinimumMip; m <= B->Driver.MaximumMip; ++m) {
    if (m < B->System.MinimumMip) continue;
    if (!LevelReady(B, m)) {
      const bool Made = m == B->System.MinimumMip ? cvBitmap_AllocateMip(B, m) != nullptr
                                                 : cvBitmap_MakeMips(B, m, m) != 0;
      if (!Made) return 0;
    }
    int32_t Pitch = 0;
    auto* P = static_cast<uint8_t*>(D->LockTexture(B->DriverHandle, m, &Pitch));
    if (!P || Pitch % Bytes) {
      if (P && D->UnlockTexture) D->UnlockTexture(B->DriverHandle, m);
      CV_ERROR(-1);
      return 0;
    }
    cvBitmap_Info Target = DriverLevel(B, m, Pitch);
    const cvBitmap_Info Source = LevelInfo(B->System, m);
    const int Ok = cvBitmap_BlitData(&Source, B->Mip[m], B, &Target, P, nullptr,
                                     std::min(Source.Width, Target.Width),
                                     std::min(Source.Height, Target.Height));
    if (D->UnlockTexture) D->UnlockTexture(B->DriverHandle, m);
    if (!Ok) return 0;
  }
  if (B->DriverAlphaHandle && B->Alpha && !UploadAlpha(B)) {
    CV_ERROR(-1);
    return 0;
  }
  B->DriverNewer = 0;
  return ApplyGammaValue(B, B->Gamma, false);
}

int UpdateFromDriver(cvBitmap* B) {
  if (!B->DriverHandle || !B->DriverNewer) return 1;
  cvDriver_Table* D = B->DriverTable;
  const int32_t Bytes = cvPixelFormat_BytesPerPixel(B->Driver.Format);
  if (!D->LockTexture || Bytes == 0 || B->DriverLocked || B->LockCount < 0) {
    CV_ERROR(-1);
    return 0;
  }
  if (!ApplyGammaValue(B, B->Gamma, true)) return 0;
  // Palette indices read back keep their meaning only with the driver's entries.
  if (cvPixelFormat_HasPalette(B->Driver.Format) && cvPixelFormat_HasPalette(B->System.Format) &&
      B->Driver.Palette && !SetPaletteInternal(B, B->Driver.Palette, false))
    return 0;
  int Ok = 1;
  for (int32_t m = std::max(B->Driver.MinimumMip, B->System.MinimumMip); m <= B->Driver.MaximumMip && Ok; ++m) {
    if (!cvBitmap_AllocateMip(B, m)) {
      Ok = 0;
      break;
    }
    int32_t Pitch = 0;
    auto* P = static_cast<uint8_t*>(D->LockTexture(B->DriverHandle, m, &Pitch));
    if (!P || Pitch % Bytes) {
      if (P && D->UnlockTexture) D->UnlockTexture(B->DriverHandle, m);
      CV_ERROR(-1);
      Ok = 0;
      break;
    }
    const cvBitmap_Info Source = DriverLevel(B, m, Pitch);
    cvBitmap_Info Target = LevelInfo(B->System, m);
    Ok = cvBitmap_BlitData(&Source, P, nullptr, &Target, B->Mip[m], B, std::min(Source.Width, Target.Width),
                           std::min(Source.Height, Target.Height));
    if (D->UnlockTexture) D->UnlockTexture(B->DriverHandle, m);
    if (Ok) {
      B->MipValid[m] = 1;
      B->System.MaximumMip = std::max(B->System.MaximumMip, m);
    }
  }
  // The correction goes back on whatever happened to the read-back.
  Ok &= ApplyGammaValue(B, B->Gamma, false);
  if (Ok) B->DriverNewer = 0;
  return Ok;
}

int DetachInternal(cvBitmap* B) {
  if (!B->DriverHandle) return 1;
  if (B->DriverLocked) {
    CV_ERROR(-1);
    return 0;
  }
  // Changes made on the driver side would be lost with the texture.
  if (B->DriverNewer && B->LockCount >= 0 && !UpdateFromDriver(B)) CV_ERROR(-1);
  cvDriver_Table* D = B->DriverTable;
  if (B->Driver.Palette) {
    // Holders of the record may outlive the texture: it loses its entries.
    B->Driver.Palette->Driver = nullptr;
    B->Driver.Palette->Handle = nullptr;
    cvBitmap_Palette_Destroy(&B->Driver.Palette);
  }
  if (D->DestroyTexture) {
    D->DestroyTexture(B->DriverHandle);
    if (B->DriverPaletteHandle) D->DestroyTexture(B->DriverPaletteHandle);
    if (B->DriverAlphaHandle) D->DestroyTexture(B->DriverAlphaHandle);
  }
  B->DriverTable = nullptr;
  B->DriverHandle = B->DriverPaletteHandle = B->DriverAlphaHandle = nullptr;
  B->Driver = {};
  B->DriverFormatFlags = 0;
  B->DriverNewer = 0;
  return 1;
}

int Reattach(cvBitmap* B) {
  cvDriver_Table* D = B->DriverTable;
  const uint32_t Flags = B->AttachFlags;
  if (!DetachInternal(B)) return 0;
  return cvBitmap_AttachToDriver(B, D, Flags);
}

}  // namespace cvbitmap

void* cvBitmap_ChooseDriverFormat(cvDriver_Table* Driver, int32_t Width, int32_t Height, int32_t MipCount,
                                  cvPixelFormat PreferredFormat, cvPixelFormat BitmapFormat,
                                  int32_t WantColorKey, int32_t WantAlpha, int32_t HasAlphaBitmap,
                                  uint32_t DriverFlags, cvDriver_PixelFormat* Chosen) {
  if (!Driver || !Driver->CreateTexture) {
    CV_ERROR(-1);
    return nullptr;
  }
  const std::vector<cvDriver_PixelFormat> List = DriverFormats(Driver);
  if (List.empty()) {
    CV_ERROR(-1);
    return nullptr;
  }
  uint32_t T = DriverFlags ? DriverFlags : CV_DRIVER_FORMAT_3D;
  if (T & CV_DRIVER_FORMAT_ALPHAMAP)
    T = CV_DRIVER_FORMAT_ALPHAMAP;
  else if (T & CV_DRIVER_FORMAT_PALETTE)
    T = CV_DRIVER_FORMAT_PALETTE;
  if (WantAlpha) WantColorKey = 0;
  const int Pal = PaletteEntry(List);
  const bool PaletteGoodAlpha = Pal >= 0 && cvPixelFormat_HasGoodAlpha(List[Pal].PixelFormat);
  const cvPixelFormat Wanted = PreferredFormat ? PreferredFormat : BitmapFormat;

  int Best = -1;
  int64_t BestScore = 0;
  for (size_t i = 0; i < List.size(); ++i) {
    const cvPixelFormat F = List[i].PixelFormat;
    const uint32_t Flags = List[i].Flags;
    int64_t Score;
    if ((Flags & 0xFFFF) == (T & 0xFFFF) && (Flags & T) == T)
      Score = 0x800000;
    else if ((Flags & T) == T)
      Score = (32 - std::popcount((Flags ^ T) & 0xFFFF)) * 64;
    else
      continue;

    if (F == Wanted) {
      Score += 0x10000;
    } else if (F == BitmapFormat) {
      Score += 0x8000;
    } else if (cvPixelFormat_IsRaw(F) && cvPixelFormat_IsRaw(Wanted)) {
      for (int c = 0; c < 4; ++c) {
        const int Same = 8 - std::popcount(NormalisedMask(F, c) ^ NormalisedMask(Wanted, c));
        Score += c == 3 ? 4 * Same : Same;
      }
    } else {
      Score += 16;
    }

    const bool AlphaCapable = AlphaBits(F) > 2 || (cvPixelFormat_HasPalette(F) && PaletteGoodAlpha);
    if (!WantAlpha) {
      if (!AlphaCapable) Score += 1024;
    } else if (AlphaCapable) {
      Score += 0x1000000;
    } else if (AlphaBits(F) == 1 || (Flags & CV_DRIVER_FORMAT_COLORKEY)) {
      Score += 0x80000;
    }
    if ((Flags & CV_DRIVER_FORMAT_SEPARATEALPHA) && HasAlphaBitmap) Score += 0x2000000;
    if (WantColorKey) {
      if (F == CV_PIXELFORMAT_16BIT_1555_ARGB)
        Score += 0x800000;
      else if (AlphaCapable)
        Score += 0x40000;
    }
    if (WantColorKey ? (Flags & CV_DRIVER_FORMAT_COLORKEY) != 0 : (Flags & CV_DRIVER_FORMAT_COLORKEY) == 0)
      Score += 0x20000;
    if (Score > BestScore) {
      BestScore = Score;
      Best = (int)i;
    }
  }
  if (Best < 0) {
    CV_ERROR(-1);
    return nullptr;
  }
  void* Handle = Driver->CreateTexture(Width, Height, MipCount, &List[Best]);
  if (!Handle) {
    CV_ERROR(-1);
    CV_ERROR(-1);
    return nullptr;
  }
  if (Chosen) *Chosen = List[Best];
  return Handle;
}

int cvBitmap_AttachToDriver(cvBitmap* Bitmap, cvDriver_Table* Driver, uint32_t DriverFlags) {
  if (!Bitmap || Bitmap->RefCount < 1 || IsLock(Bitmap) || Bitmap->LockCount != 0) {
    CV_ERROR(-1);
    return 0;
  }
  if (Driver && Bitmap->DriverHandle && Bitmap->DriverTable == Driver) return 1;
  if (Bitmap->DriverHandle && !DetachInternal(Bitmap)) return 0;
  if (!Driver) return 1;
  const cvBitmap_Info& S = Bitmap->System;
  if (cvPixelFormat_BytesPerPixel(S.Format) == 0) {
    CV_ERROR(-1);
    return 0;
  }
  const uint32_t Usage = DriverFlags ? DriverFlags : (Bitmap->DriverFlags ? Bitmap->DriverFlags : CV_DRIVER_FORMAT_3D);
  const int32_t MipCount = std::clamp(std::max(S.MaximumMip + 1, Bitmap->DriverMipCount), 1, 4);
  const bool WantAlpha =
      Bitmap->Alpha || cvPixelFormat_HasGoodAlpha(S.Format) ||
      (cvPixelFormat_HasPalette(S.Format) && S.Palette && cvPixelFormat_HasGoodAlpha(S.Palette->Format)) ||
      (Bitmap->PreferredFormat && cvPixelFormat_HasGoodAlpha(Bitmap->PreferredFormat));
  cvDriver_PixelFormat Chosen = {};
  void* Handle = cvBitmap_ChooseDriverFormat(Driver, S.Width, S.Height, MipCount, Bitmap->PreferredFormat,
                                             S.Format, S.HasColorKey, WantAlpha, Bitmap->Alpha != nullptr,
                                             Usage, &Chosen);
  if (!Handle) return 0;
  cvDriver_TextureInfo TI = {};
  if (!Driver->GetTextureInfo || !Driver->GetTextureInfo(Handle, &TI) || TI.MipCount < 1 ||
      !cvPixelFormat_IsValid(TI.Format.PixelFormat) || cvPixelFormat_BytesPerPixel(TI.Format.PixelFormat) == 0) {
    if (Driver->DestroyTexture) Driver->DestroyTexture(Handle);
    CV_ERROR(-1);
    return 0;
  }
  Bitmap->DriverTable = Driver;
  Bitmap->DriverHandle = Handle;
  Bitmap->DriverFormatFlags = TI.Format.Flags;
  Bitmap->AttachFlags = Usage;
  cvBitmap_Info& DI = Bitmap->Driver;
  DI = {};
  DI.Width = DI.Stride = TI.Width;
  DI.Height = TI.Height;
  DI.Format = TI.Format.PixelFormat;
  DI.MinimumMip = 0;
  DI.MaximumMip = std::min(TI.MipCount, (int32_t)CV_BITMAP_MAX_MIPS) - 1;
  uint32_t Key = 0;
  if (cvPixelFormat_HasPalette(DI.Format) && cvPixelFormat_HasPalette(S.Format)) {
    DI.HasColorKey = S.HasColorKey;
    DI.ColorKey = S.ColorKey;
  } else if (CarryColorKey(S, DI.Format, &Key)) {
    DI.HasColorKey = 1;
    DI.ColorKey = Key;
  }

  bool Ok = true;
  if (cvPixelFormat_HasPalette(DI.Format)) {
    // The palette texture: the driver's own when it made one, else one in
    // the driver's palette format made here.
    void* PaletteHandle = TI.Palette;
    cvPixelFormat PaletteFormat = CV_PIXELFORMAT_NO_DATA;
    if (!PaletteHandle) {
      const std::vector<cvDriver_PixelFormat> List = DriverFormats(Driver);
      const int Pal = PaletteEntry(List);
      if (Pal >= 0) PaletteHandle = Driver->CreateTexture(256, 1, 1, &List[Pal]);
      if (PaletteHandle && Driver->SetPalette && Driver->SetPalette(Handle, PaletteHandle)) {
        Bitmap->DriverPaletteHandle = PaletteHandle;
      } else {
        if (PaletteHandle && Driver->DestroyTexture) Driver->DestroyTexture(PaletteHandle);
        PaletteHandle = nullptr;
      }
    }
    cvDriver_TextureInfo PI = {};
    if (PaletteHandle && Driver->GetTextureInfo(PaletteHandle, &PI)) PaletteFormat = PI.Format.PixelFormat;
    DI.Palette = PaletteHandle ? PaletteCreateDriver(Driver, PaletteHandle, PaletteFormat, std::max(1, PI.Width))
                               : nullptr;
    Ok = DI.Palette != nullptr;
  }
  if (Ok && Bitmap->Alpha && (TI.Format.Flags & CV_DRIVER_FORMAT_SEPARATEALPHA) && !TI.Alpha) {
    const std::vector<cvDriver_PixelFormat> List = DriverFormats(Driver);
    for (const cvDriver_PixelFormat& F : List) {
      if (!(F.Flags & CV_DRIVER_FORMAT_ALPHAMAP)) continue;
      void* AlphaHandle = Driver->CreateTexture(TI.Width, TI.Height, TI.MipCount, &F);
      if (AlphaHandle && Driver->SetAlpha && Driver->SetAlpha(Handle, AlphaHandle)) {
        Bitmap->DriverAlphaHandle = AlphaHandle;
      } else if (AlphaHandle && Driver->DestroyTexture) {
        Driver->DestroyTexture(AlphaHandle);
      }
      break;
    }
  }
  if (Ok && Driver->SetColorKey) Driver->SetColorKey(Handle, DI.HasColorKey, DI.ColorKey);
  if (!Ok || !Upload(Bitmap)) {
    Bitmap->DriverNewer = 0;
    DetachInternal(Bitmap);
    CV_ERROR(-1);
    return 0;
  }
  return 1;
}

int cvBitmap_DetachFromDriver(cvBitmap* Bitmap) {
  if (!Bitmap || Bitmap->RefCount < 1 || IsLock(Bitmap)) {
    CV_ERROR(-1);
    return 0;
  }
  return DetachInternal(Bitmap);
}

int cvBitmap_IsAttached(const cvBitmap* Bitmap) {
  return Bitmap && Bitmap->RefCount > 0 && Bitmap->DriverHandle != nullptr;
}

void* cvBitmap_GetDriverHandle(const cvBitmap* Bitmap) {
  return Bitmap && Bitmap->RefCount > 0 ? Bitmap->DriverHandle : nullptr;
}

int cvBitmap_UploadToDriver(cvBitmap* Bitmap) {
  if (!Bitmap || Bitmap->RefCount < 1 || IsLock(Bitmap) || Bitmap->LockCount != 0) {
    CV_ERROR(-1);
    return 0;
  }
  return Upload(Bitmap);
}

int cvBitmap_UpdateFromDriver(cvBitmap* Bitmap) {
  if (!Bitmap || Bitmap->RefCount < 1 || IsLock(Bitmap)) {
    CV_ERROR(-1);
    return 0;
  }
  return UpdateFromDriver(Bitmap);
}
