// Bitmaps: creation and reference counting, level sizes and pixel memory,
// locks (in place, converted, on the driver copy, with their alpha locks),
// format changes, colour keys, palettes, alpha bitmaps and driver settings.
#include <cstring>

#include "Bitmap/bitmap.h"
#include "Bitmap/bitmap_internal.h"
#include "Bitmap/palettecreate.h"
#include "Driver/cvdriver.h"
#include "Support/cvsupport.h"

using namespace cvbitmap;

// ---------------------------------------------------------------------------
// Record pool: records are recycled through a free list that lives while any
// bitmap does. The palette builders' pools share that lifetime.
// ---------------------------------------------------------------------------

namespace {

cvBitmap* gFreeRecords = nullptr;
int32_t gLiveRecords = 0;

cvBitmap*& NextFree(cvBitmap* B) { return *reinterpret_cast<cvBitmap**>(B); }

bool IsLock(const cvBitmap* B) { return (B->LockFlags & LOCK_IS_LOCK) != 0; }
bool IsAttached(const cvBitmap* B) { return B->DriverHandle != nullptr; }

bool KeyMatches(const cvBitmap_Info& Info, int32_t HasKey, uint32_t Key) {
  if (!HasKey) return !Info.HasColorKey;
  return Info.HasColorKey && Info.ColorKey == Key;
}

}  // namespace

namespace cvbitmap {

cvBitmap* AllocateRecord() {
  if (gLiveRecords == 0) cvBitmap_PalettePools_Create();
  cvBitmap* B = gFreeRecords;
  if (B) {
    gFreeRecords = NextFree(B);
  } else {
    B = static_cast<cvBitmap*>(cvRam_Allocate(sizeof(cvBitmap)));
    if (!B) {
      if (gLiveRecords == 0) cvBitmap_PalettePools_Free();
      return nullptr;
    }
  }
  std::memset(static_cast<void*>(B), 0, sizeof(cvBitmap));
  B->RefCount = 1;
  B->Gamma = B->PreviousGamma = 1.0f;
  ++gLiveRecords;
  return B;
}

void FreeRecord(cvBitmap* B) {
  std::memset(static_cast<void*>(B), 0, sizeof(cvBitmap));
  NextFree(B) = gFreeRecords;
  gFreeRecords = B;
  if (--gLiveRecords > 0) return;
  while (gFreeRecords) {
    cvBitmap* Next = NextFree(gFreeRecords);
    cvRam_Free(gFreeRecords);
    gFreeRecords = Next;
  }
  cvBitmap_PalettePools_Free();
}

cvBitmap_Info LevelInfo(const cvBitmap_Info& Info, int32_t Mip) {
  cvBitmap_Info L = Info;
  cvBitmap_GetLevelSize(&Info, Mip, &L.Width, &L.Height, &L.Stride);
  L.MinimumMip = L.MaximumMip = Mip;
  return L;
}

bool LevelReady(const cvBitmap* B, int32_t Mip) {
  return B->Mip[Mip] && (B->MipValid[Mip] || Mip == B->System.MinimumMip);
}

bool CarryColorKey(const cvBitmap_Info& From, cvPixelFormat To, uint32_t* Key) {
  if (!From.HasColorKey) return false;
  if (!cvPixelFormat_IsRaw(To)) {
    *Key = 255;  // palettized: the last index stands for the key
    return true;
  }
  if (cvPixelFormat_IsRaw(From.Format)) return cvPixelFormat_ConvertPixel(From.Format, From.ColorKey, To, Key);
  // Palettized source: the key entry's colour in the new format, never 0.
  int32_t R = 0, G = 0, B = 0, A = 0;
  if (From.Palette) cvBitmap_Palette_GetColor(From.Palette, (int32_t)(From.ColorKey & 0xFF), &R, &G, &B, &A);
  *Key = cvPixelFormat_GetOperations(To)->Compose(R, G, B, A);
  if (*Key == 0) *Key = 1;
  return true;
}

int SetPaletteInternal(cvBitmap* Bitmap, cvBitmap_Palette* Palette, bool UploadAfter) {
  cvBitmap_Palette* Current = Bitmap->System.Palette;
  if (Palette != Current) {
    if (Palette && Palette->Driver) {
      // A driver palette is copied into the bitmap's own palette.
      if (!Current || Current->Size < Palette->Size) {
        cvBitmap_Palette* Fresh = cvBitmap_Palette_Create(Palette->Format, Palette->Size);
        if (!Fresh) return 0;
        if (Current) cvBitmap_Palette_Destroy(&Current);
        Bitmap->System.Palette = Current = Fresh;
      }
      if (!cvBitmap_Palette_Copy(Current, Palette)) return 0;
    } else {
      if (Palette && !cvBitmap_Palette_CreateRef(Palette)) return 0;
      if (Current) cvBitmap_Palette_Destroy(&Current);
      Bitmap->System.Palette = Palette;
    }
  }
  if (UploadAfter && IsAttached(Bitmap) && Bitmap->LockCount == 0) return Upload(Bitmap);
  return 1;
}

}  // namespace cvbitmap

// ---------------------------------------------------------------------------
// Creation and lifetime
// ---------------------------------------------------------------------------

cvBitmap* cvBitmap_CreateEmpty(void) {
  cvBitmap* B = AllocateRecord();
  if (!B) CV_ERROR(-1);
  return B;
}

cvBitmap* cvBitmap_Create(int32_t Width, int32_t Height, int32_t MipCount, cvPixelFormat Format) {
  uint64_t Bytes = 0;
  if (Width < 1 || Height < 1 || MipCount < 0 || MipCount > CV_BITMAP_MAX_MIPS ||
      !cvPixelFormat_IsValid(Format) || cvPixelFormat_BytesPerPixel(Format) == 0 ||
      !cvSize_Mul3((uint64_t)Width, (uint64_t)Height, (uint64_t)cvPixelFormat_BytesPerPixel(Format), &Bytes)) {
    CV_ERROR(-1);
    return nullptr;
  }
  cvBitmap* B = AllocateRecord();
  if (!B) {
    CV_ERROR(-1);
    return nullptr;
  }
  B->System.Width = Width;
  B->System.Height = Height;
  B->System.Stride = Width;
  B->System.Format = Format;
  B->DriverMipCount = MipCount ? MipCount : 1;
  return B;
}

int cvBitmap_CreateRef(cvBitmap* Bitmap) {
  if (!Bitmap || Bitmap->RefCount < 1) {
    CV_ERROR(-1);
    return 0;
  }
  ++Bitmap->RefCount;
  return 1;
}

int cvBitmap_Destroy(cvBitmap** Bitmap) {
  if (!Bitmap || !*Bitmap || (*Bitmap)->RefCount < 1) {
    CV_ERROR(-1);
    return 0;
  }
  cvBitmap* B = *Bitmap;
  *Bitmap = nullptr;
  if (IsLock(B)) return UnlockInternal(B, true);
  if (B->RefCount == 1) {
    B->DriverNewer = 0;  // nothing to bring back into a bitmap about to go
    if (IsAttached(B) && !DetachInternal(B)) CV_ERROR(-1);
    for (int m = 0; m < CV_BITMAP_MAX_MIPS; ++m) {
      cvRam_Free(B->Mip[m]);
      B->Mip[m] = nullptr;
      B->MipValid[m] = 0;
    }
  }
  if (--B->RefCount > 0) return 0;
  if (B->Alpha) cvBitmap_Destroy(&B->Alpha);
  if (B->System.Palette) cvBitmap_Palette_Destroy(&B->System.Palette);
  if (B->Driver.Palette) cvBitmap_Palette_Destroy(&B->Driver.Palette);
  FreeRecord(B);
  return 1;
}

int cvBitmap_GetInfo(const cvBitmap* Bitmap, cvBitmap_Info* Info, cvBitmap_Info* SystemInfo) {
  if (!Bitmap || Bitmap->RefCount < 1 || !Info) {
    CV_ERROR(-1);
    return 0;
  }
  *Info = IsAttached(Bitmap) ? Bitmap->Driver : Bitmap->System;
  if (SystemInfo) *SystemInfo = Bitmap->System;
  return 1;
}

// ---------------------------------------------------------------------------
// Levels
// ---------------------------------------------------------------------------

int cvBitmap_GetLevelSize(const cvBitmap_Info* Info, int32_t Mip, int32_t* Width, int32_t* Height,
                          int32_t* Stride) {
  if (!Info || Mip < 0 || Mip >= CV_BITMAP_MAX_MIPS || Info->Width < 0 || Info->Height < 0 ||
      Info->Stride < 0) {
    CV_ERROR(-1);
    return 0;
  }
  const int64_t Round = ((int64_t)1 << Mip) - 1;
  if (Width) *Width = (int32_t)(((int64_t)Info->Width + Round) >> Mip);
  if (Height) *Height = (int32_t)(((int64_t)Info->Height + Round) >> Mip);
  if (Stride) *Stride = (int32_t)(((int64_t)Info->Stride + Round) >> Mip);
  return 1;
}

int cvBitmap_GetLevelBytes(const cvBitmap_Info* Info, int32_t Mip, uint64_t* Bytes) {
  int32_t H = 0, S = 0;
  if (!Bytes || !cvBitmap_GetLevelSize(Info, Mip, nullptr, &H, &S)) return 0;
  if (!cvSize_Mul3((uint64_t)cvPixelFormat_BytesPerPixel(Info->Format), (uint64_t)S, (uint64_t)H, Bytes)) {
    CV_ERROR(-1);
    return 0;
  }
  return 1;
}

uint8_t* cvBitmap_GetMipData(const cvBitmap* Bitmap, int32_t Mip) {
  if (!Bitmap || Mip < 0 || Mip >= CV_BITMAP_MAX_MIPS) return nullptr;
  return Bitmap->Mip[Mip];
}

uint8_t* cvBitmap_AllocateMip(cvBitmap* Bitmap, int32_t Mip) {
  if (!Bitmap || Bitmap->RefCount < 1 || Mip < 0 || Mip >= CV_BITMAP_MAX_MIPS) {
    CV_ERROR(-1);
    return nullptr;
  }
  if (Bitmap->Mip[Mip]) return Bitmap->Mip[Mip];
  uint64_t Bytes = 0;
  if (!cvBitmap_GetLevelBytes(&Bitmap->System, Mip, &Bytes)) return nullptr;
  if (Bytes == 0) {
    CV_ERROR(-1);
    return nullptr;
  }
  Bitmap->Mip[Mip] = static_cast<uint8_t*>(cvRam_AllocateClear((size_t)Bytes));
  if (!Bitmap->Mip[Mip]) CV_ERROR(-1);
  return Bitmap->Mip[Mip];
}

int cvBitmap_IsMipValid(const cvBitmap* Bitmap, int32_t Mip) {
  return Bitmap && Mip >= 0 && Mip < CV_BITMAP_MAX_MIPS && Bitmap->MipValid[Mip];
}

int cvBitmap_SetMipValid(cvBitmap* Bitmap, int32_t Mip, int32_t Valid) {
  if (!Bitmap || Mip < 0 || Mip >= CV_BITMAP_MAX_MIPS) {
    CV_ERROR(-1);
    return 0;
  }
  Bitmap->MipValid[Mip] = Valid ? 1 : 0;
  return 1;
}

// ---------------------------------------------------------------------------
// Locks
// ---------------------------------------------------------------------------

namespace {

cvBitmap* NewLock(cvBitmap* Parent, int32_t Mip, int32_t Flags) {
  cvBitmap* L = AllocateRecord();
  if (!L) {
    CV_ERROR(-1);
    return nullptr;
  }
  L->LockFlags = LOCK_IS_LOCK | Flags;
  L->Locked = Parent;
  ++Parent->RefCount;
  L->LockMip = Mip;
  return L;
}

// Frees a lock record and the references and memory it holds.
void ReleaseLock(cvBitmap* L) {
  if (L->AlphaLock) UnlockInternal(L->AlphaLock, false);
  if (L->LockFlags & LOCK_OWN_PIXELS) cvRam_Free(L->Mip[0]);
  if (L->System.Palette) cvBitmap_Palette_Destroy(&L->System.Palette);
  if (L->DataOwner) cvBitmap_Destroy(&L->DataOwner);
  if (L->Locked) cvBitmap_Destroy(&L->Locked);
  FreeRecord(L);
}

// Ends a lock that was never counted in its parent's lock count.
void DiscardLock(cvBitmap* L) {
  cvBitmap* Parent = L->Locked;
  if ((L->LockFlags & LOCK_DRIVER) && L->Mip[0]) {
    if (Parent->DriverTable->UnlockTexture) Parent->DriverTable->UnlockTexture(Parent->DriverHandle, L->LockMip);
    --Parent->DriverLocked;
  }
  ReleaseLock(L);
}

// A lock on driver level m of Parent, with the texture level locked.
cvBitmap* DriverLock(cvBitmap* Parent, int32_t Mip, int32_t Flags) {
  cvDriver_Table* D = Parent->DriverTable;
  const int32_t Bytes = cvPixelFormat_BytesPerPixel(Parent->Driver.Format);
  if (!D->LockTexture || Bytes == 0) {
    CV_ERROR(-1);
    return nullptr;
  }
  cvBitmap* L = NewLock(Parent, Mip, Flags | LOCK_DRIVER);
  if (!L) return nullptr;
  L->System = Parent->Driver;
  L->System.Width = DriverLevelSize(Parent->Driver.Width, Mip);
  L->System.Height = DriverLevelSize(Parent->Driver.Height, Mip);
  L->System.MinimumMip = L->System.MaximumMip = Mip;
  L->System.Palette = nullptr;
  int32_t Pitch = 0;
  L->Mip[0] = static_cast<uint8_t*>(D->LockTexture(Parent->DriverHandle, Mip, &Pitch));
  if (!L->Mip[0] || Pitch < Bytes * L->System.Width || Pitch % Bytes) {
    if (L->Mip[0] && D->UnlockTexture) D->UnlockTexture(Parent->DriverHandle, Mip);
    L->Mip[0] = nullptr;
    ReleaseLock(L);
    CV_ERROR(-1);
    return nullptr;
  }
  L->DriverPitch = Pitch;
  L->System.Stride = Pitch / Bytes;
  if (Parent->Driver.Palette) {
    L->System.Palette = Parent->Driver.Palette;
    cvBitmap_Palette_CreateRef(L->System.Palette);
  }
  ++Parent->DriverLocked;
  return L;
}

// A lock showing system level m of Parent in place.
cvBitmap* SharedLock(cvBitmap* Parent, int32_t Mip, int32_t Flags) {
  cvBitmap* L = NewLock(Parent, Mip, Flags);
  if (!L) return nullptr;
  L->DataOwner = Parent;
  ++Parent->RefCount;
  L->System = LevelInfo(Parent->System, Mip);
  L->Mip[0] = Parent->Mip[Mip];
  if (L->System.Palette) cvBitmap_Palette_CreateRef(L->System.Palette);
  return L;
}

// Makes system level m usable: allocates a missing minimum level (blank) or
// builds a missing or stale smaller level from the larger ones.
bool PrepareLevel(cvBitmap* B, int32_t Mip) {
  if (LevelReady(B, Mip)) return true;
  const int32_t Min = B->System.MinimumMip;
  if (!B->Mip[Min] && !cvBitmap_AllocateMip(B, Min)) return false;
  return Mip == Min || cvBitmap_MakeMips(B, Mip, Mip) != 0;
}

cvBitmap* ReadLock(cvBitmap* B, int32_t Mip, cvPixelFormat Format, int32_t HasKey, uint32_t Key) {
  cvBitmap* L = nullptr;
  if (IsAttached(B) && Format == B->Driver.Format && KeyMatches(B->Driver, HasKey, Key) &&
      Mip >= B->Driver.MinimumMip && Mip <= B->Driver.MaximumMip) {
    L = DriverLock(B, Mip, 0);
  } else {
    if (IsAttached(B) && B->DriverNewer && !UpdateFromDriver(B)) return nullptr;
    if (!PrepareLevel(B, Mip)) return nullptr;
    if (Format == B->System.Format && KeyMatches(B->System, HasKey, Key)) {
      L = SharedLock(B, Mip, 0);
    } else {
      const cvBitmap_Info Source = LevelInfo(B->System, Mip);
      uint64_t Bytes = 0;
      if (!cvSize_Mul3((uint64_t)Source.Width, (uint64_t)Source.Height,
                       (uint64_t)cvPixelFormat_BytesPerPixel(Format), &Bytes) || Bytes == 0) {
        CV_ERROR(-1);
        return nullptr;
      }
      L = NewLock(B, Mip, LOCK_OWN_PIXELS);
      if (!L) return nullptr;
      L->System.Width = L->System.Stride = Source.Width;
      L->System.Height = Source.Height;
      L->System.Format = Format;
      L->System.MinimumMip = L->System.MaximumMip = Mip;
      L->System.HasColorKey = HasKey ? 1 : 0;
      L->System.ColorKey = HasKey ? Key : 0;
      if (cvPixelFormat_HasPalette(Format) && B->System.Palette) {
        L->System.Palette = B->System.Palette;
        cvBitmap_Palette_CreateRef(L->System.Palette);
      }
      L->Mip[0] = static_cast<uint8_t*>(cvRam_AllocateClear((size_t)Bytes));
      if (!L->Mip[0] || !cvBitmap_BlitData(&Source, B->Mip[Mip], B, &L->System, L->Mip[0], L,
                                           Source.Width, Source.Height)) {
        ReleaseLock(L);
        CV_ERROR(-1);
        return nullptr;
      }
    }
  }
  if (!L) return nullptr;
  if (!cvPixelFormat_HasGoodAlpha(Format) && B->Alpha) {
    if (!cvBitmap_LockForRead(B->Alpha, &L->AlphaLock, Mip, Mip, CV_PIXELFORMAT_8BIT_GRAY, 0, 0)) {
      L->AlphaLock = nullptr;
      DiscardLock(L);
      return nullptr;
    }
  }
  return L;
}

bool ValidBitmap(const cvBitmap* B) { return B && B->RefCount > 0; }

int WriteLocks(cvBitmap* B, cvBitmap** Locks, int32_t Low, int32_t High, cvPixelFormat Format) {
  if (!ValidBitmap(B) || !Locks || IsLock(B) || B->LockCount != 0 || Low > High ||
      B->System.Format == CV_PIXELFORMAT_WAVELET) {
    CV_ERROR(-1);
    return 0;
  }
  bool DriverSide = false;
  if (Format != B->System.Format) {
    if (!IsAttached(B) || Format != B->Driver.Format) {
      CV_ERROR(-1);
      return 0;
    }
    DriverSide = true;
  }
  const int32_t First = IsAttached(B) ? B->Driver.MinimumMip : B->System.MinimumMip;
  const int32_t Last = IsAttached(B) ? B->Driver.MaximumMip : CV_BITMAP_MAX_MIPS - 1;
  if (Low < First || High > Last || Low < B->System.MinimumMip) {
    CV_ERROR(-1);
    return 0;
  }
  if (!DriverSide) {
    if (IsAttached(B) && B->DriverNewer && !UpdateFromDriver(B)) return 0;
    if (!PrepareLevel(B, B->System.MinimumMip)) return 0;
    if (High > B->System.MaximumMip &&
        !cvBitmap_MakeMips(B, std::max(Low, B->System.MaximumMip + 1), High))
      return 0;
    for (int32_t m = Low; m <= High; ++m)
      if (!PrepareLevel(B, m)) return 0;
  }
  const int32_t Count = High - Low + 1;
  for (int32_t i = 0; i < Count; ++i) {
    Locks[i] = DriverSide ? DriverLock(B, Low + i, LOCK_WRITE) : SharedLock(B, Low + i, LOCK_WRITE);
    if (Locks[i] && !DriverSide) B->WriteLockedMips |= 1u << (Low + i);
    if (!Locks[i]) {
      B->WriteLockedMips = 0;
      for (int32_t j = 0; j < i; ++j) {
        DiscardLock(Locks[j]);
        Locks[j] = nullptr;
        ++B->LockCount;
      }
      return 0;
    }
    --B->LockCount;
  }
  return 1;
}

}  // namespace

int cvBitmap_LockForRead(cvBitmap* Bitmap, cvBitmap** Locks, int32_t LowMip, int32_t HighMip,
                         cvPixelFormat Format, int32_t HasColorKey, uint32_t ColorKey) {
  if (!ValidBitmap(Bitmap) || !Locks || IsLock(Bitmap) || Bitmap->LockCount < 0 ||
      LowMip < Bitmap->System.MinimumMip || HighMip >= CV_BITMAP_MAX_MIPS || LowMip > HighMip ||
      !cvPixelFormat_IsValid(Format) || cvPixelFormat_BytesPerPixel(Format) == 0 ||
      Bitmap->System.Format == CV_PIXELFORMAT_WAVELET) {
    CV_ERROR(-1);
    return 0;
  }
  for (int32_t m = LowMip; m <= HighMip; ++m) {
    cvBitmap* L = ReadLock(Bitmap, m, Format, HasColorKey, ColorKey);
    if (!L) {
      CV_ERROR(-1);
      for (int32_t j = 0; j < m - LowMip; ++j) {
        UnlockInternal(Locks[j], false);
        Locks[j] = nullptr;
      }
      return 0;
    }
    Locks[m - LowMip] = L;
    ++Bitmap->LockCount;
  }
  return 1;
}

int cvBitmap_LockForWrite(cvBitmap* Bitmap, cvBitmap** Locks, int32_t LowMip, int32_t HighMip) {
  if (!ValidBitmap(Bitmap)) {
    CV_ERROR(-1);
    return 0;
  }
  return WriteLocks(Bitmap, Locks, LowMip, HighMip, Bitmap->System.Format);
}

int cvBitmap_LockForWriteFormat(cvBitmap* Bitmap, cvBitmap** Locks, int32_t LowMip,
                                int32_t HighMip, cvPixelFormat Format) {
  return WriteLocks(Bitmap, Locks, LowMip, HighMip, Format);
}

namespace cvbitmap {

int UnlockInternal(cvBitmap* L, bool Commit) {
  if (!L || L->RefCount < 1 || !IsLock(L) || !L->Locked) {
    CV_ERROR(-1);
    return 0;
  }
  cvBitmap* Parent = L->Locked;
  int Ok = 1;
  if (L->LockFlags & LOCK_WRITE) {
    ++Parent->LockCount;
    if (!(L->LockFlags & LOCK_DRIVER)) Parent->WriteLockedMips &= ~(1u << L->LockMip);
    if (Commit && !(L->LockFlags & LOCK_DRIVER)) {
      Parent->MipValid[L->LockMip] = 1;
      // Smaller levels made from the old pixels are stale now, unless they
      // are being written themselves; they are rebuilt when next needed.
      for (int32_t m = L->LockMip + 1; m < CV_BITMAP_MAX_MIPS; ++m)
        if (!(Parent->WriteLockedMips & (1u << m))) Parent->MipValid[m] = 0;
      if (L->System.Palette && L->System.Palette != Parent->System.Palette)
        Ok &= SetPaletteInternal(Parent, L->System.Palette, false);
    }
    if (Commit && Parent->LockCount == 0) {
      if (L->LockFlags & LOCK_DRIVER)
        Parent->DriverNewer = 1;
      else if (IsAttached(Parent))
        Ok &= Upload(Parent);
    }
  } else if (Parent->LockCount > 0) {
    --Parent->LockCount;
  }
  if (L->LockFlags & LOCK_DRIVER) {
    if (Parent->DriverTable && Parent->DriverTable->UnlockTexture)
      Parent->DriverTable->UnlockTexture(Parent->DriverHandle, L->LockMip);
    --Parent->DriverLocked;
  }
  ReleaseLock(L);
  if (!Ok) CV_ERROR(-1);
  return Ok;
}

}  // namespace cvbitmap

int cvBitmap_UnLock(cvBitmap* Lock) { return UnlockInternal(Lock, true); }
int cvBitmap_UnLock_NoChange(cvBitmap* Lock) { return UnlockInternal(Lock, false); }

int cvBitmap_UnLockArray(cvBitmap** Locks, int32_t Count) {
  if (!Locks || Count < 0) {
    CV_ERROR(-1);
    return 0;
  }
  int Ok = 1;
  for (int32_t i = 0; i < Count; ++i) Ok &= UnlockInternal(Locks[i], true);
  return Ok;
}

int cvBitmap_UnLockArray_NoChange(cvBitmap** Locks, int32_t Count) {
  if (!Locks || Count < 0) {
    CV_ERROR(-1);
    return 0;
  }
  int Ok = 1;
  for (int32_t i = 0; i < Count; ++i) Ok &= UnlockInternal(Locks[i], false);
  return Ok;
}

void* cvBitmap_GetBits(cvBitmap* Lock) {
  if (!ValidBitmap(Lock) || !IsLock(Lock)) {
    CV_ERROR(-1);
    return nullptr;
  }
  return Lock->Mip[0];
}

cvBitmap* cvBitmap_GetAlphaLock(const cvBitmap* Lock) {
  return ValidBitmap(Lock) && IsLock(Lock) ? Lock->AlphaLock : nullptr;
}

// ---------------------------------------------------------------------------
// Format, key, palette, alpha and driver settings
// ---------------------------------------------------------------------------

int cvBitmap_SetFormat(cvBitmap* Bitmap, cvPixelFormat Format) {
  if (!ValidBitmap(Bitmap) || Bitmap->LockCount != 0 || !cvPixelFormat_IsValid(Format) ||
      cvPixelFormat_BytesPerPixel(Format) == 0 || cvPixelFormat_BytesPerPixel(Bitmap->System.Format) == 0 ||
      (IsLock(Bitmap) && !(Bitmap->LockFlags & LOCK_OWN_PIXELS))) {
    CV_ERROR(-1);
    return 0;
  }
  if (Format == Bitmap->System.Format) return 1;
  if (IsAttached(Bitmap) && Bitmap->DriverNewer && !UpdateFromDriver(Bitmap)) return 0;
  const bool Lock = IsLock(Bitmap);
  const cvBitmap_Info Old = Bitmap->System;
  cvBitmap_Info New = Old;
  New.Format = Format;
  New.Palette = nullptr;
  uint32_t Key = 0;
  New.HasColorKey = CarryColorKey(Old, Format, &Key) ? 1 : 0;
  New.ColorKey = New.HasColorKey ? Key : 0;

  uint8_t* Levels[CV_BITMAP_MAX_MIPS] = {};
  const int32_t First = Lock ? 0 : Old.MinimumMip;
  const int32_t Last = Lock ? 0 : Old.MaximumMip;
  bool Ok = true;
  for (int32_t m = First; m <= Last && Ok; ++m) {
    if (!Bitmap->Mip[m]) continue;
    const cvBitmap_Info Source = Lock ? Old : LevelInfo(Old, m);
    cvBitmap_Info Target = Lock ? New : LevelInfo(New, m);
    Target.Palette = New.Palette;
    uint64_t Bytes = 0;
    Ok = cvBitmap_GetLevelBytes(&Target, 0, &Bytes) && Bytes > 0;
    if (Ok) Levels[m] = static_cast<uint8_t*>(cvRam_AllocateClear((size_t)Bytes));
    Ok = Ok && Levels[m] &&
         cvBitmap_BlitData(&Source, Bitmap->Mip[m], Bitmap, &Target, Levels[m], nullptr,
                           Source.Width, Source.Height);
    New.Palette = Target.Palette;  // a palette built for the first level serves all
  }
  if (!Ok) {
    for (uint8_t* P : Levels) cvRam_Free(P);
    if (New.Palette) cvBitmap_Palette_Destroy(&New.Palette);
    CV_ERROR(-1);
    return 0;
  }
  for (int32_t m = First; m <= Last; ++m) {
    if (!Levels[m]) continue;
    cvRam_Free(Bitmap->Mip[m]);
    Bitmap->Mip[m] = Levels[m];
  }
  if (Bitmap->System.Palette) cvBitmap_Palette_Destroy(&Bitmap->System.Palette);
  Bitmap->System = New;  // takes over the new palette's reference
  // The driver's format and key were chosen for the old format.
  if (IsAttached(Bitmap)) return Reattach(Bitmap);
  return 1;
}

int cvBitmap_SetColorKey(cvBitmap* Bitmap, int32_t HasColorKey, uint32_t ColorKey, int32_t OnlyIfUsed) {
  if (!ValidBitmap(Bitmap) || IsLock(Bitmap) || Bitmap->LockCount != 0) {
    CV_ERROR(-1);
    return 0;
  }
  if (IsAttached(Bitmap) && Bitmap->DriverNewer && !UpdateFromDriver(Bitmap)) return 0;
  const int32_t Bytes = cvPixelFormat_BytesPerPixel(Bitmap->System.Format);
  if (HasColorKey && (Bytes == 0 || (Bytes < 4 && (ColorKey >> (8 * Bytes)) != 0))) {
    CV_ERROR(-1);
    return 0;
  }
  if (HasColorKey && cvPixelFormat_HasAlpha(Bitmap->System.Format)) CV_ERROR(-1);  // accepted
  bool Use = HasColorKey != 0;
  const int32_t Min = Bitmap->System.MinimumMip;
  if (Use && OnlyIfUsed && Bitmap->Mip[Min]) {
    if (Bytes == 3) {
      CV_ERROR(-1);  // 3-byte pixels are not scanned; the key counts as used
    } else {
      const cvBitmap_Info L = LevelInfo(Bitmap->System, Min);
      bool Found = false;
      for (int32_t y = 0; y < L.Height && !Found; ++y) {
        const uint8_t* Row = Bitmap->Mip[Min] + (size_t)y * L.Stride * Bytes;
        for (int32_t x = 0; x < L.Width; ++x)
          if (ReadPixel(Row + (size_t)x * Bytes, Bytes) == ColorKey) {
            Found = true;
            break;
          }
      }
      Use = Found;
    }
  }
  Bitmap->System.HasColorKey = Use ? 1 : 0;
  Bitmap->System.ColorKey = Use ? ColorKey : 0;
  if (IsAttached(Bitmap)) {
    // The driver copy's key follows the system key into the driver's format.
    uint32_t DriverKey = 0;
    Bitmap->Driver.HasColorKey = CarryColorKey(Bitmap->System, Bitmap->Driver.Format, &DriverKey) ? 1 : 0;
    if (cvPixelFormat_HasPalette(Bitmap->Driver.Format) && cvPixelFormat_HasPalette(Bitmap->System.Format))
      DriverKey = Bitmap->System.ColorKey;
    Bitmap->Driver.ColorKey = Bitmap->Driver.HasColorKey ? DriverKey : 0;
    if (Bitmap->DriverTable->SetColorKey)
      Bitmap->DriverTable->SetColorKey(Bitmap->DriverHandle, Bitmap->Driver.HasColorKey,
                                       Bitmap->Driver.ColorKey);
    return Upload(Bitmap);
  }
  return 1;
}

cvBitmap_Palette* cvBitmap_GetPalette(const cvBitmap* Bitmap) {
  if (!ValidBitmap(Bitmap)) return nullptr;
  if (!IsLock(Bitmap) && IsAttached(Bitmap) && Bitmap->Driver.Palette) return Bitmap->Driver.Palette;
  return Bitmap->System.Palette;
}

int cvBitmap_SetPalette(cvBitmap* Bitmap, cvBitmap_Palette* Palette) {
  if (!ValidBitmap(Bitmap) || Bitmap->LockCount < 0) {
    CV_ERROR(-1);
    return 0;
  }
  if (!SetPaletteInternal(Bitmap, Palette)) {
    CV_ERROR(-1);
    return 0;
  }
  return 1;
}

cvBitmap* cvBitmap_GetAlpha(const cvBitmap* Bitmap) { return ValidBitmap(Bitmap) ? Bitmap->Alpha : nullptr; }

int cvBitmap_SetAlpha(cvBitmap* Bitmap, cvBitmap* Alpha) {
  if (!ValidBitmap(Bitmap) || IsLock(Bitmap) || Bitmap->LockCount > 0 || Alpha == Bitmap ||
      (Alpha && (!ValidBitmap(Alpha) || IsLock(Alpha)))) {
    CV_ERROR(-1);
    return 0;
  }
  if (Alpha == Bitmap->Alpha) return 1;
  if (Alpha) ++Alpha->RefCount;
  if (Bitmap->Alpha) cvBitmap_Destroy(&Bitmap->Alpha);
  Bitmap->Alpha = Alpha;
  // Whether alpha is wanted decides the driver format, so the copy is made anew.
  if (IsAttached(Bitmap) && Bitmap->LockCount == 0) return Reattach(Bitmap);
  return 1;
}

int cvBitmap_SetMipCount(cvBitmap* Bitmap, int32_t Count) {
  if (!ValidBitmap(Bitmap) || IsLock(Bitmap) || Count < 0 || Count > CV_BITMAP_MAX_MIPS) {
    CV_ERROR(-1);
    return 0;
  }
  Bitmap->DriverMipCount = Count ? Count : 1;
  if (IsAttached(Bitmap)) return Reattach(Bitmap);
  return 1;
}

int cvBitmap_SetPreferredFormat(cvBitmap* Bitmap, cvPixelFormat Format) {
  if (!ValidBitmap(Bitmap) || IsLock(Bitmap) || Bitmap->LockCount > 0 || !cvPixelFormat_IsValid(Format) ||
      Format == CV_PIXELFORMAT_WAVELET) {
    CV_ERROR(-1);
    return 0;
  }
  Bitmap->PreferredFormat = Format;
  if (IsAttached(Bitmap)) return Reattach(Bitmap);
  return 1;
}

int cvBitmap_SetDriverFlags(cvBitmap* Bitmap, uint32_t Flags) {
  if (!ValidBitmap(Bitmap)) {
    CV_ERROR(-1);
    return 0;
  }
  if (Flags & CV_DRIVER_FORMAT_WORLD3D) {
    if (Flags & (CV_DRIVER_FORMAT_LIGHTMAP | CV_DRIVER_FORMAT_PALETTE)) {
      Bitmap->DriverFlags = 0;
      CV_ERROR(-1);
      return 0;
    }
    Flags |= CV_DRIVER_FORMAT_3D;
  }
  if ((Flags & 0xFFFF) == 0) {
    Bitmap->DriverFlags = 0;
    CV_ERROR(-1);
    return 0;
  }
  Bitmap->DriverFlags = Flags & ~(uint32_t)CV_DRIVER_FORMAT_COLORKEY;
  return 1;
}
