// Palettes: reference-counted colour tables in one raw pixel format, with an
// optional colour key that is kept standing at its own index only. A driver
// palette shows the entries of a palette texture in the render driver.
#include <cstring>

#include "Bitmap/bitmap.h"
#include "Bitmap/bitmap_internal.h"
#include "Driver/cvdriver.h"
#include "Support/cvsupport.h"

namespace {

// A new palette record with one reference and no key; logs when memory runs out.
cvBitmap_Palette* NewPaletteRecord(cvPixelFormat Format, int32_t Size) {
  auto* P = static_cast<cvBitmap_Palette*>(cvRam_AllocateClear(sizeof(cvBitmap_Palette)));
  if (!P) {
    CV_ERROR(-1);
    return nullptr;
  }
  P->RefCount = 1;
  P->Format = Format;
  P->Size = Size;
  P->ColorKeyIndex = -1;
  return P;
}

}  // namespace

namespace cvbitmap {

cvBitmap_Palette* PaletteCreateDriver(cvDriver_Table* Driver, void* Handle, cvPixelFormat Format,
                                      int32_t Size) {
  if (!Driver || !Handle || !cvPixelFormat_IsRaw(Format) || Size < 1) {
    CV_ERROR(-1);
    return nullptr;
  }
  cvBitmap_Palette* P = NewPaletteRecord(Format, Size);
  if (!P) return nullptr;
  P->Driver = Driver;
  P->Handle = Handle;
  return P;
}

uint8_t* PaletteBeginAccess(cvBitmap_Palette* Palette, bool* LockedHere) {
  *LockedHere = false;
  if (Palette->Data) return Palette->Data;
  if (Palette->DriverData) return Palette->DriverData;
  if (!Palette->Driver || !Palette->Handle || !Palette->Driver->LockTexture) return nullptr;
  int32_t Pitch = 0;
  Palette->DriverData = static_cast<uint8_t*>(Palette->Driver->LockTexture(Palette->Handle, 0, &Pitch));
  if (!Palette->DriverData) return nullptr;
  *LockedHere = true;
  return Palette->DriverData;
}

void PaletteEndAccess(cvBitmap_Palette* Palette, bool LockedHere) {
  if (!LockedHere) return;
  if (Palette->Driver->UnlockTexture) Palette->Driver->UnlockTexture(Palette->Handle, 0);
  Palette->DriverData = nullptr;
}

void PaletteReserveKey(cvBitmap_Palette* Palette, int32_t Key) {
  if (Key < 0 || Key >= Palette->Size || (Key ^ 1) >= Palette->Size) return;
  bool LockedHere = false;
  uint8_t* Entries = PaletteBeginAccess(Palette, &LockedHere);
  if (!Entries) return;
  const int32_t Bytes = cvPixelFormat_BytesPerPixel(Palette->Format);
  std::memcpy(Entries + (size_t)Key * Bytes, Entries + (size_t)(Key ^ 1) * Bytes, (size_t)Bytes);
  PaletteEndAccess(Palette, LockedHere);
}

void PaletteEnforceKey(cvBitmap_Palette* Palette, uint8_t* Entries) {
  if (!Palette->HasColorKey || Palette->ColorKeyIndex < 0 || Palette->ColorKeyIndex >= Palette->Size)
    return;
  const int32_t Bytes = cvPixelFormat_BytesPerPixel(Palette->Format);
  for (int32_t i = 0; i < Palette->Size; ++i) {
    uint8_t* E = Entries + (size_t)i * Bytes;
    if (i == Palette->ColorKeyIndex)
      WritePixel(E, Bytes, Palette->ColorKey);
    else if (ReadPixel(E, Bytes) == Palette->ColorKey)
      WritePixel(E, Bytes, Palette->ColorKey ^ 1);
  }
}

}  // namespace cvbitmap

using namespace cvbitmap;

namespace {

// Converts Count entries between raw layouts.
void ConvertEntries(const uint8_t* Source, cvPixelFormat SourceFormat, uint8_t* Destination,
                    cvPixelFormat DestinationFormat, int32_t Count) {
  const Codec S = MakeCodecRuntime(SourceFormat);
  const Codec D = MakeCodecRuntime(DestinationFormat);
  for (int32_t i = 0; i < Count; ++i) {
    int32_t R, G, B, A;
    S.Decompose(ReadPixel(Source + (size_t)i * S.Bytes, S.Bytes), &R, &G, &B, &A);
    WritePixel(Destination + (size_t)i * D.Bytes, D.Bytes, D.Compose(R, G, B, A));
  }
}

bool ValidPalette(const cvBitmap_Palette* P) { return P && P->RefCount > 0 && P->Size > 0; }

// Runs Use(entries) with the palette's entries reachable (a driver palette's
// texture locked for the call only); logs and fails when they cannot be had.
template <class Use>
int WithEntries(cvBitmap_Palette* Palette, Use Work) {
  bool LockedHere = false;
  uint8_t* Data = PaletteBeginAccess(Palette, &LockedHere);
  if (!Data) {
    CV_ERROR(-1);
    return 0;
  }
  Work(Data);
  PaletteEndAccess(Palette, LockedHere);
  return 1;
}

}  // namespace

cvBitmap_Palette* cvBitmap_Palette_Create(cvPixelFormat Format, int32_t Size) {
  uint64_t Bytes = 0;
  if (!cvPixelFormat_IsRaw(Format) || Size < 1 ||
      !cvSize_Mul((uint64_t)Size, (uint64_t)cvPixelFormat_BytesPerPixel(Format), &Bytes) || Bytes == 0) {
    CV_ERROR(-1);
    return nullptr;
  }
  cvBitmap_Palette* P = NewPaletteRecord(Format, Size);
  if (!P) return nullptr;
  P->Data = static_cast<uint8_t*>(cvRam_AllocateClear((size_t)Bytes));
  if (!P->Data) {
    cvRam_Free(P);
    CV_ERROR(-1);
    return nullptr;
  }
  return P;
}

int cvBitmap_Palette_CreateRef(cvBitmap_Palette* Palette) {
  if (!ValidPalette(Palette)) {
    CV_ERROR(-1);
    return 0;
  }
  ++Palette->RefCount;
  return 1;
}

int cvBitmap_Palette_Destroy(cvBitmap_Palette** Palette) {
  if (!Palette || !ValidPalette(*Palette) || (*Palette)->LockCount) {
    CV_ERROR(-1);
    return 0;
  }
  cvBitmap_Palette* P = *Palette;
  *Palette = nullptr;
  if (--P->RefCount > 0) return 1;
  // The palette texture of a driver palette belongs to the bitmap's driver
  // copy and is destroyed with it; only the record goes here.
  cvRam_Free(P->Data);
  cvRam_Free(P);
  return 1;
}

int cvBitmap_Palette_Lock(cvBitmap_Palette* Palette, void** Entries, cvPixelFormat* Format,
                          int32_t* Size) {
  if (!ValidPalette(Palette) || Palette->LockCount) {
    CV_ERROR(-1);
    return 0;
  }
  bool LockedHere = false;
  uint8_t* Data = PaletteBeginAccess(Palette, &LockedHere);
  if (!Data) {
    CV_ERROR(-1);
    return 0;
  }
  Palette->LockCount = 1;
  if (Entries) *Entries = Data;
  if (Format) *Format = Palette->Format;
  if (Size) *Size = Palette->Size;
  return 1;
}

int cvBitmap_Palette_UnLock(cvBitmap_Palette* Palette) {
  if (!ValidPalette(Palette) || !Palette->LockCount) {
    CV_ERROR(-1);
    return 0;
  }
  uint8_t* Data = Palette->Data ? Palette->Data : Palette->DriverData;
  if (Data) PaletteEnforceKey(Palette, Data);
  Palette->LockCount = 0;
  // A driver palette's texture was locked by cvBitmap_Palette_Lock.
  if (!Palette->Data && Palette->DriverData) PaletteEndAccess(Palette, true);
  return 1;
}

int cvBitmap_Palette_GetInfo(const cvBitmap_Palette* Palette, cvBitmap_Info* Info) {
  if (!ValidPalette(Palette) || !Info) {
    CV_ERROR(-1);
    return 0;
  }
  *Info = {};
  Info->Width = Info->Stride = Palette->Size;
  Info->Height = 1;
  Info->Format = Palette->Format;
  Info->HasColorKey = Palette->HasColorKey;
  Info->ColorKey = Palette->ColorKey;
  return 1;
}

int cvBitmap_Palette_GetData(cvBitmap_Palette* Palette, void* Buffer, cvPixelFormat Format,
                             int32_t Count) {
  if (!ValidPalette(Palette) || !Buffer || Count < 0 || !cvPixelFormat_IsRaw(Format)) {
    CV_ERROR(-1);
    return 0;
  }
  return WithEntries(Palette, [&](const uint8_t* Data) {
    ConvertEntries(Data, Palette->Format, static_cast<uint8_t*>(Buffer), Format, std::min(Count, Palette->Size));
  });
}

int cvBitmap_Palette_SetData(cvBitmap_Palette* Palette, const void* Buffer, cvPixelFormat Format,
                             int32_t Count) {
  if (!ValidPalette(Palette) || !Buffer || Count < 0 || !cvPixelFormat_IsRaw(Format)) {
    CV_ERROR(-1);
    return 0;
  }
  return WithEntries(Palette, [&](uint8_t* Data) {
    ConvertEntries(static_cast<const uint8_t*>(Buffer), Format, Data, Palette->Format, std::min(Count, Palette->Size));
    PaletteEnforceKey(Palette, Data);
  });
}

int cvBitmap_Palette_GetColor(cvBitmap_Palette* Palette, int32_t Index, int32_t* R, int32_t* G,
                              int32_t* B, int32_t* A) {
  if (!ValidPalette(Palette) || Index < 0 || Index >= Palette->Size || !R || !G || !B || !A) {
    CV_ERROR(-1);
    return 0;
  }
  return WithEntries(Palette, [&](const uint8_t* Data) {
    const Codec C = MakeCodecRuntime(Palette->Format);
    C.Decompose(ReadPixel(Data + (size_t)Index * C.Bytes, C.Bytes), R, G, B, A);
  });
}

int cvBitmap_Palette_SetColor(cvBitmap_Palette* Palette, int32_t Index, int32_t R, int32_t G,
                              int32_t B, int32_t A) {
  if (!ValidPalette(Palette) || Index < 0 || Index >= Palette->Size) {
    CV_ERROR(-1);
    return 0;
  }
  const Codec C = MakeCodecRuntime(Palette->Format);
  const bool Keyed = Palette->HasColorKey && Palette->ColorKeyIndex >= 0 &&
                     Palette->ColorKeyIndex < Palette->Size;
  uint32_t Value;
  if (Keyed && !cvPixelFormat_HasAlpha(Palette->Format) && A < 80) {
    Value = Palette->ColorKey;
  } else if (Keyed && Index == Palette->ColorKeyIndex) {
    CV_ERROR(-1);
    return 0;
  } else {
    Value = C.Compose(R, G, B, A);
    if (Keyed && Value == Palette->ColorKey) Value ^= 1;
  }
  return WithEntries(Palette, [&](uint8_t* Data) { WritePixel(Data + (size_t)Index * C.Bytes, C.Bytes, Value); });
}

int cvBitmap_Palette_SetColorKey(cvBitmap_Palette* Palette, int32_t HasColorKey, uint32_t Key,
                                 int32_t KeyIndex) {
  const int32_t Bytes = ValidPalette(Palette) ? cvPixelFormat_BytesPerPixel(Palette->Format) : 0;
  if (!Bytes || (HasColorKey && ((Bytes < 4 && (Key >> (8 * Bytes)) != 0) || KeyIndex < -1 ||
                                 KeyIndex >= Palette->Size))) {
    CV_ERROR(-1);
    return 0;
  }
  Palette->HasColorKey = HasColorKey ? 1 : 0;
  Palette->ColorKey = HasColorKey ? Key : 0;
  Palette->ColorKeyIndex = HasColorKey ? KeyIndex : -1;
  return 1;
}

int cvBitmap_Palette_Copy(cvBitmap_Palette* Destination, cvBitmap_Palette* Source) {
  if (!ValidPalette(Destination) || !ValidPalette(Source) || Destination->Size < Source->Size) {
    CV_ERROR(-1);
    return 0;
  }
  if (Destination == Source) return 1;
  int Ok = 0;
  if (!WithEntries(Source, [&](const uint8_t* S) {
        Ok = cvBitmap_Palette_SetData(Destination, S, Source->Format, Source->Size);
      }))
    return 0;
  return Ok;
}
