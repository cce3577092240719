// Gamma correction of the driver's copy of a bitmap. The system copy always
// stays uncorrected; the driver copy is corrected after each upload and
// uncorrected (through the inverse table) before it is read back.
//
// The tables are process-wide and rebuilt only when the gamma changes; the
// two 65,536-entry tables correct whole 565 and 4444 pixels at once.
#include <cmath>
#include <vector>

#include "Bitmap/bitmap.h"
#include "Bitmap/bitmap_internal.h"
#include "Driver/cvdriver.h"
#include "Support/cvsupport.h"

using namespace cvbitmap;

namespace {

struct GammaState {
  float Gamma = 0.0f;  // gamma of Table / Inverse (0: not built)
  uint8_t Table[256];
  uint8_t Inverse[256];
  // Whole-pixel tables, each remembering the gamma and direction it was built for.
  std::vector<uint16_t> Table565, Table4444;
  float Gamma565 = 0.0f, Gamma4444 = 0.0f;
  bool Inverse565 = false, Inverse4444 = false;
};

GammaState gGamma;

void EnsureTables(float Gamma) {
  if (gGamma.Gamma == Gamma) return;
  cvBitmap_BuildGammaTables(Gamma, gGamma.Table, gGamma.Inverse);
  gGamma.Gamma = Gamma;
}

const uint16_t* Table565(bool Inverse) {
  if (gGamma.Table565.empty() || gGamma.Gamma565 != gGamma.Gamma || gGamma.Inverse565 != Inverse) {
    const uint8_t* T = Inverse ? gGamma.Inverse : gGamma.Table;
    gGamma.Table565.resize(65536);
    for (uint32_t v = 0; v < 65536; ++v) {
      const uint32_t R = T[(v >> 11) * 8] >> 3, G = T[((v >> 5) & 63) * 4] >> 2, B = T[(v & 31) * 8] >> 3;
      gGamma.Table565[v] = (uint16_t)((R << 11) | (G << 5) | B);
    }
    gGamma.Gamma565 = gGamma.Gamma;
    gGamma.Inverse565 = Inverse;
  }
  return gGamma.Table565.data();
}

const uint16_t* Table4444(bool Inverse) {
  if (gGamma.Table4444.empty() || gGamma.Gamma4444 != gGamma.Gamma || gGamma.Inverse4444 != Inverse) {
    const uint8_t* T = Inverse ? gGamma.Inverse : gGamma.Table;
    gGamma.Table4444.resize(65536);
    for (uint32_t v = 0; v < 65536; ++v) {
      const uint32_t R = T[((v >> 8) & 15) * 16] >> 4, G = T[((v >> 4) & 15) * 16] >> 4,
                     B = T[(v & 15) * 16] >> 4;
      gGamma.Table4444[v] = (uint16_t)((v & 0xF000) | (R << 8) | (G << 4) | B);
    }
    gGamma.Gamma4444 = gGamma.Gamma;
    gGamma.Inverse4444 = Inverse;
  }
  return gGamma.Table4444.data();
}

// Corrects Count pixels of Format at P (rows handled by the caller).
void CorrectRow(uint8_t* P, int32_t Count, cvPixelFormat Format, const uint8_t* T, const uint16_t* Whole,
                bool Keyed, uint32_t Key) {
  const Codec C = MakeCodecRuntime(Format);
  for (int32_t x = 0; x < Count; ++x, P += C.Bytes) {
    const uint32_t V = ReadPixel(P, C.Bytes);
    if (Keyed && V == Key) continue;
    uint32_t Out;
    if (Whole) {
      Out = Whole[V & 0xFFFF];
    } else {
      int32_t R, G, B, A;
      C.Decompose(V, &R, &G, &B, &A);
      Out = C.Compose(T[std::min(R, 255)], T[std::min(G, 255)], T[std::min(B, 255)], A);
    }
    if (Keyed && Out == Key) Out ^= 1;
    WritePixel(P, C.Bytes, Out);
  }
}

bool GammaApplies(float Gamma) { return Gamma > 0.1f && std::fabs(Gamma - 1.0f) >= 0.1f; }

}  // namespace

int cvBitmap_BuildGammaTables(float Gamma, uint8_t* Table, uint8_t* Inverse) {
  if (!(Gamma > 0.0f) || !Table || !Inverse) {
    CV_ERROR(-1);
    return 0;
  }
  for (int i = 0; i < 256; ++i) {
    const double V = std::pow(i / 255.0, 1.0 / Gamma) * 255.0 + 0.4;
    Table[i] = (uint8_t)std::min(255, (int)V);
  }
  // Every output value between the previous entry's value and this entry's
  // maps back to this entry; values above the last entry map to 255.
  int j = 0;
  for (int i = 0; i < 256; ++i)
    while (j <= Table[i] && j < 256) Inverse[j++] = (uint8_t)i;
  while (j < 256) Inverse[j++] = 255;
  Table[0] = Inverse[0] = 0;
  Table[255] = Inverse[255] = 255;
  return 1;
}

namespace cvbitmap {

int ApplyGammaValue(cvBitmap* Bitmap, float Gamma, bool Inverse) {
  if (!GammaApplies(Gamma) || !Bitmap->DriverHandle) return 1;
  if (Bitmap->DriverLocked) {
    CV_ERROR(-1);
    return 0;
  }
  EnsureTables(Gamma);
  const uint8_t* T = Inverse ? gGamma.Inverse : gGamma.Table;
  cvDriver_Table* D = Bitmap->DriverTable;
  const cvBitmap_Info& Info = Bitmap->Driver;

  if (cvPixelFormat_HasPalette(Info.Format)) {
    cvBitmap_Palette* P = Info.Palette;
    if (!P) return 1;
    bool LockedHere = false;
    uint8_t* Entries = PaletteBeginAccess(P, &LockedHere);
    if (!Entries) {
      CV_ERROR(-1);
      return 0;
    }
    const int32_t KeyIndex = Info.HasColorKey ? (int32_t)(Info.ColorKey & 0xFF) : -1;
    const int32_t Bytes = cvPixelFormat_BytesPerPixel(P->Format);
    for (int32_t i = 0; i < P->Size; ++i)
      if (i != KeyIndex) CorrectRow(Entries + (size_t)i * Bytes, 1, P->Format, T, nullptr, false, 0);
    PaletteEndAccess(P, LockedHere);
    return 1;
  }

  if (!cvPixelFormat_IsRaw(Info.Format) || !D->LockTexture) {
    CV_ERROR(-1);
    return 0;
  }
  const uint16_t* Whole = nullptr;
  if (Info.Format == CV_PIXELFORMAT_16BIT_565_RGB) Whole = Table565(Inverse);
  if (Info.Format == CV_PIXELFORMAT_16BIT_4444_ARGB) Whole = Table4444(Inverse);
  for (int32_t m = Info.MinimumMip; m <= Info.MaximumMip; ++m) {
    int32_t Pitch = 0;
    auto* P = static_cast<uint8_t*>(D->LockTexture(Bitmap->DriverHandle, m, &Pitch));
    if (!P) {
      CV_ERROR(-1);
      return 0;
    }
    const int32_t W = DriverLevelSize(Info.Width, m), H = DriverLevelSize(Info.Height, m);
    for (int32_t y = 0; y < H; ++y)
      CorrectRow(P + (size_t)y * Pitch, W, Info.Format, T, Whole, Info.HasColorKey != 0, Info.ColorKey);
    if (D->UnlockTexture) D->UnlockTexture(Bitmap->DriverHandle, m);
  }
  return 1;
}

}  // namespace cvbitmap

int cvBitmap_ApplyGamma(cvBitmap* Bitmap, int32_t Inverse) {
  if (!Bitmap || Bitmap->RefCount < 1 || (Bitmap->DriverHandle && Bitmap->LockCount != 0)) {
    CV_ERROR(-1);
    return 0;
  }
  return ApplyGammaValue(Bitmap, Bitmap->Gamma, Inverse != 0);
}

int cvBitmap_SetGamma(cvBitmap* Bitmap, float Gamma) {
  if (!Bitmap || Bitmap->RefCount < 1 || (Bitmap->LockFlags & LOCK_IS_LOCK) || !(Gamma > 0.0f)) {
    CV_ERROR(-1);
    return 0;
  }
  if (Bitmap->DriverHandle && Gamma != Bitmap->Gamma) {
    if (Bitmap->LockCount != 0) {
      CV_ERROR(-1);
      return 0;
    }
    const float Old = Bitmap->Gamma;
    Bitmap->PreviousGamma = Old;
    Bitmap->Gamma = Gamma;
    // A driver copy that only holds uploaded pixels is uploaded again, which
    // corrects it from the exact system pixels; one that the driver side has
    // changed loses the old correction through the inverse table instead.
    if (!Bitmap->DriverNewer) return Upload(Bitmap);
    return ApplyGammaValue(Bitmap, Old, true) && ApplyGammaValue(Bitmap, Gamma, false);
  }
  Bitmap->PreviousGamma = Bitmap->Gamma;
  Bitmap->Gamma = Gamma;
  return 1;
}
