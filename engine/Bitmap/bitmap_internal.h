// Private helpers shared by the bitmap module's files: inline channel codecs
// for the conversion loops, lock flags and the internal forms of operations
// that the public ones wrap with their refusal checks.
#pragma once

#include <algorithm>
#include <cstdint>

#include "Bitmap/bitmap.h"

namespace cvbitmap {

// Lock record flags (cvBitmap::LockFlags).
enum : int32_t {
  LOCK_IS_LOCK = 0x1,
  LOCK_WRITE = 0x2,
  LOCK_DRIVER = 0x4,      // shows a level of the driver's copy
  LOCK_OWN_PIXELS = 0x8,  // Mip[0] belongs to the lock
};

inline constexpr uint32_t ComposeChannel(uint32_t C, uint32_t Mask, int32_t Shift) {
  return (Shift >= 0 ? (C << Shift) : (C >> -Shift)) & Mask;
}

// Channel layout of a format, for inline conversion loops. Each signed
// shift is split into a right and a left part (one of them 0) so that the
// loops need no branches. Decompose adds are the table's, except that the
// alpha of 4444 and 1555 gets none.
struct Codec {
  uint32_t Mask[4];
  uint32_t Right[4];
  uint32_t Left[4];
  int32_t Add[4];
  int32_t Bytes;
  bool Gray;

  constexpr Codec(const uint32_t (&M)[4], const int32_t (&S)[4], const int32_t (&A)[4], int32_t B, bool G)
      : Mask{M[0], M[1], M[2], M[3]},
        Right{(uint32_t)std::max(S[0], 0), (uint32_t)std::max(S[1], 0), (uint32_t)std::max(S[2], 0),
              (uint32_t)std::max(S[3], 0)},
        Left{(uint32_t)std::max(-S[0], 0), (uint32_t)std::max(-S[1], 0), (uint32_t)std::max(-S[2], 0),
             (uint32_t)std::max(-S[3], 0)},
        Add{A[0], A[1], A[2], A[3]},
        Bytes(B),
        Gray(G) {}

  constexpr int32_t Channel(uint32_t P, int i) const {
    return (int32_t)(((P & Mask[i]) >> Right[i]) << Left[i]) + Add[i];
  }

  constexpr void Decompose(uint32_t P, int32_t* R, int32_t* G, int32_t* B, int32_t* A) const {
    if (Gray) {
      *R = *G = *B = (int32_t)(P & 0xFF);
      *A = 255;
      return;
    }
    *R = Channel(P, 0);
    *G = Channel(P, 1);
    *B = Channel(P, 2);
    *A = Channel(P, 3);
  }

  constexpr uint32_t Compose(int32_t R, int32_t G, int32_t B, int32_t A) const {
    if (Gray) return (uint32_t)std::max({R, G, B}) & 0xFF;
    return ((((uint32_t)R >> Left[0]) << Right[0]) & Mask[0]) |
           ((((uint32_t)G >> Left[1]) << Right[1]) & Mask[1]) |
           ((((uint32_t)B >> Left[2]) << Right[2]) & Mask[2]) |
           ((((uint32_t)A >> Left[3]) << Right[3]) & Mask[3]);
  }
};

inline constexpr Codec MakeCodec(int32_t F) {
  // Kept in step with the format table in pixelformat.cpp.
  switch (F) {
    case 2: return {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, 1, true};
    case 3: return {{0x7C00, 0x03E0, 0x001F, 0}, {7, 2, -3, 0}, {4, 4, 4, 255}, 2, false};
    case 4: return {{0x001F, 0x03E0, 0x7C00, 0}, {-3, 2, 7, 0}, {4, 4, 4, 255}, 2, false};
    case 5: return {{0xF800, 0x07E0, 0x001F, 0}, {8, 3, -3, 0}, {4, 2, 4, 255}, 2, false};
    case 6: return {{0x001F, 0x07E0, 0xF800, 0}, {-3, 3, 8, 0}, {4, 2, 4, 255}, 2, false};
    case 7: return {{0x0F00, 0x00F0, 0x000F, 0xF000}, {4, 0, -4, 8}, {8, 8, 8, 0}, 2, false};
    case 8: return {{0x7C00, 0x03E0, 0x001F, 0x8000}, {7, 2, -3, 8}, {4, 4, 4, 0}, 2, false};
    case 9:
    case 11: return {{0xFF0000, 0xFF00, 0xFF, 0}, {16, 8, 0, 0}, {0, 0, 0, 255}, 3, false};
    case 10: return {{0xFF, 0xFF00, 0xFF0000, 0}, {0, 8, 16, 0}, {0, 0, 0, 255}, 3, false};
    case 12: return {{0xFF000000, 0xFF0000, 0xFF00, 0}, {24, 16, 8, 0}, {0, 0, 0, 255}, 4, false};
    case 13: return {{0xFF0000, 0xFF00, 0xFF, 0}, {16, 8, 0, 0}, {0, 0, 0, 255}, 4, false};
    case 14: return {{0xFF00, 0xFF0000, 0xFF000000, 0}, {8, 16, 24, 0}, {0, 0, 0, 255}, 4, false};
    case 15: return {{0xFF, 0xFF00, 0xFF0000, 0}, {0, 8, 16, 0}, {0, 0, 0, 255}, 4, false};
    case 16: return {{0xFF000000, 0xFF0000, 0xFF00, 0xFF}, {24, 16, 8, 0}, {0, 0, 0, 0}, 4, false};
    case 17: return {{0xFF0000, 0xFF00, 0xFF, 0xFF000000}, {16, 8, 0, 24}, {0, 0, 0, 0}, 4, false};
    case 18: return {{0xFF00, 0xFF0000, 0xFF000000, 0xFF}, {8, 16, 24, 0}, {0, 0, 0, 0}, 4, false};
    case 19: return {{0xFF, 0xFF00, 0xFF0000, 0xFF000000}, {0, 8, 16, 24}, {0, 0, 0, 0}, 4, false};
    case 1: return {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, 1, false};
    default: return {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, 0, false};
  }
}

Codec MakeCodecRuntime(cvPixelFormat Format);
uint32_t ReadPixel(const uint8_t* P, int32_t Bytes);
void WritePixel(uint8_t* P, int32_t Bytes, uint32_t V);
// A channel's mask moved so that its top bit is bit 7 (0 = R .. 3 = A).
uint32_t NormalisedMask(cvPixelFormat Format, int Channel);

// Internal forms (no lock-state refusals).
// Upload: an attached bitmap with no locks sends its system copy to the driver again.
int SetPaletteInternal(cvBitmap* Bitmap, cvBitmap_Palette* Palette, bool Upload = true);
int UnlockInternal(cvBitmap* Lock, bool Commit);
// The level-m information of a bitmap described by Info (mip range m..m).
cvBitmap_Info LevelInfo(const cvBitmap_Info& Info, int32_t Mip);
// True when level m holds pixels that can be used as they are.
bool LevelReady(const cvBitmap* Bitmap, int32_t Mip);
// The key value a bitmap's key becomes in another format (colour-key carry-over).
bool CarryColorKey(const cvBitmap_Info& From, cvPixelFormat To, uint32_t* Key);

// Palettes.
cvBitmap_Palette* PaletteCreateDriver(cvDriver_Table* Driver, void* Handle, cvPixelFormat Format,
                                      int32_t Size);
// Entries of a palette for reading or writing. A driver palette's texture is
// locked into DriverData when it is not already; LockedHere tells
// PaletteEndAccess to unlock it again. Null when there are no entries.
uint8_t* PaletteBeginAccess(cvBitmap_Palette* Palette, bool* LockedHere);
void PaletteEndAccess(cvBitmap_Palette* Palette, bool LockedHere);
// Reserves entry Key of a palette built for a keyed image: it repeats the
// colour of entry Key XOR 1, which stands in for every pixel matching it.
void PaletteReserveKey(cvBitmap_Palette* Palette, int32_t Key);
// Rewrites the entries so that the key value stands only at the key index.
void PaletteEnforceKey(cvBitmap_Palette* Palette, uint8_t* Entries);

// Driver.
int UpdateFromDriver(cvBitmap* Bitmap);
int Upload(cvBitmap* Bitmap);
int DetachInternal(cvBitmap* Bitmap);
// Detaches and attaches again with the same driver and flags.
int Reattach(cvBitmap* Bitmap);
// Size of driver level m of a Width x Height texture (halved, rounded down, at least 1).
int32_t DriverLevelSize(int32_t Size, int32_t Mip);
int ApplyGammaValue(cvBitmap* Bitmap, float Gamma, bool Inverse);

// Record pool bookkeeping (palette-builder pools live as long as bitmaps do).
cvBitmap* AllocateRecord();
void FreeRecord(cvBitmap* Bitmap);

}  // namespace cvbitmap
