// Nearest-colour lookup over a 256-entry RGB palette.
//
// Two structures answer a query: an exact-colour cache (an 8-level tree over
// the bits of r, g and b whose last level holds index + 1) that remembers
// every answer, and a 16 x 16 x 16 grid of candidate lists. A palette entry is
// listed in the cell that contains it and in the seven cells one step higher
// in red, green and blue; a query looks in the cell of (c + 8) >> 4, so the
// candidates are the entries within about one cell around the colour. An
// empty cell falls back to searching all 256 entries.
#include <cstring>
#include <new>

#include "Bitmap/palette_pool.h"
#include "Bitmap/palettecreate.h"
#include "Support/cvsupport.h"

namespace {

constexpr int32_t kCells = 4096;
// The query cell index of a colour near white can reach 4,096 (16 << 8); the
// grid keeps one extra, always-empty cell there instead of reading past it.
constexpr int32_t kGridSize = kCells + 1;
constexpr int32_t kMaxListEntries = CV_PALETTE_ENTRIES * 8;

struct CacheNode {
  int32_t Child[8];  // levels 0..6: child node index + 1; level 7: palette index + 1
};

struct ListEntry {
  int32_t Index;  // palette entry
  int32_t Next;   // next list entry, -1 at the end
};

}  // namespace

struct cvBitmap_ColorLookup {
  uint8_t Palette[CV_PALETTE_ENTRIES][3];
  int32_t Cell[kGridSize];  // first list entry of each cell, -1 when empty
  ListEntry Entries[kMaxListEntries];
  int32_t EntryCount;
  cvpal::ChunkPool<CacheNode> Cache;  // node 0 is the root
};

namespace {

int32_t SquaredDistance(const uint8_t* P, int32_t R, int32_t G, int32_t B) {
  const int32_t dr = P[0] - R, dg = P[1] - G, db = P[2] - B;
  return dr * dr + dg * dg + db * db;
}

int32_t Search(const cvBitmap_ColorLookup* L, int32_t R, int32_t G, int32_t B) {
  int32_t cell = ((R + 8) >> 4) * 256 + ((G + 8) >> 4) * 16 + ((B + 8) >> 4);
  if (cell > kCells) cell = kCells;
  int32_t best = -1, bestDistance = INT32_MAX;
  if (L->Cell[cell] >= 0) {
    for (int32_t e = L->Cell[cell]; e >= 0; e = L->Entries[e].Next) {
      const int32_t index = L->Entries[e].Index;
      const int32_t d = SquaredDistance(L->Palette[index], R, G, B);
      if (d < bestDistance) {
        bestDistance = d;
        best = index;
      }
    }
    return best;
  }
  for (int32_t i = 0; i < CV_PALETTE_ENTRIES; ++i) {
    const int32_t d = SquaredDistance(L->Palette[i], R, G, B);
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return best;
}

// Walks the cache for (R, G, B), creating missing nodes. Returns the slot at
// the last level (holding index + 1, or 0), or null when memory ran out.
int32_t* CacheSlot(cvBitmap_ColorLookup* L, int32_t R, int32_t G, int32_t B) {
  int32_t node = 0;
  for (int32_t bit = 7; bit > 0; --bit) {
    const int32_t c = (((R >> bit) & 1) << 2) | (((G >> bit) & 1) << 1) | ((B >> bit) & 1);
    int32_t child = L->Cache[node].Child[c] - 1;
    if (child < 0) {
      child = L->Cache.New();
      if (child < 0) return nullptr;
      L->Cache[node].Child[c] = child + 1;
    }
    node = child;
  }
  const int32_t c = ((R & 1) << 2) | ((G & 1) << 1) | (B & 1);
  return &L->Cache[node].Child[c];
}

}  // namespace

cvBitmap_ColorLookup* cvBitmap_ColorLookup_Create(const uint8_t* Triples) {
  if (!Triples) {
    CV_ERROR(-1);
    return nullptr;
  }
  auto* lookup = static_cast<cvBitmap_ColorLookup*>(cvRam_Allocate(sizeof(cvBitmap_ColorLookup)));
  if (!lookup) {
    CV_ERROR(-1);
    return nullptr;
  }
  new (lookup) cvBitmap_ColorLookup();
  std::memcpy(lookup->Palette, Triples, sizeof(lookup->Palette));
  std::memset(lookup->Cell, 0xFF, sizeof(lookup->Cell));
  lookup->EntryCount = 0;
  // Candidate lists: entries pushed at the front, so each list runs from the
  // highest palette index down.
  for (int32_t i = 0; i < CV_PALETTE_ENTRIES; ++i) {
    const uint8_t* p = lookup->Palette[i];
    const int32_t base = (p[0] >> 4) * 256 + (p[1] >> 4) * 16 + (p[2] >> 4);
    for (int32_t step = 0; step < 8; ++step) {
      const int32_t cell = base + ((step >> 2) & 1) * 256 + ((step >> 1) & 1) * 16 + (step & 1);
      if (cell > kCells) continue;
      ListEntry& entry = lookup->Entries[lookup->EntryCount];
      entry.Index = i;
      entry.Next = lookup->Cell[cell];
      lookup->Cell[cell] = lookup->EntryCount++;
    }
  }
  // The palette's own colours are answered from the cache from the start;
  // where two entries share a colour the first keeps it.
  if (lookup->Cache.New() != 0) {
    cvBitmap_ColorLookup_Destroy(&lookup);
    CV_ERROR(-1);
    return nullptr;
  }
  for (int32_t i = 0; i < CV_PALETTE_ENTRIES; ++i) {
    const uint8_t* p = lookup->Palette[i];
    int32_t* slot = CacheSlot(lookup, p[0], p[1], p[2]);
    if (!slot) {
      cvBitmap_ColorLookup_Destroy(&lookup);
      CV_ERROR(-1);
      return nullptr;
    }
    if (*slot == 0) *slot = i + 1;
  }
  return lookup;
}

int32_t cvBitmap_ColorLookup_Find(cvBitmap_ColorLookup* Lookup, int32_t R, int32_t G, int32_t B) {
  if (!Lookup) return 0;
  R = R < 0 ? 0 : (R > 255 ? 255 : R);
  G = G < 0 ? 0 : (G > 255 ? 255 : G);
  B = B < 0 ? 0 : (B > 255 ? 255 : B);
  int32_t* slot = CacheSlot(Lookup, R, G, B);
  if (slot && *slot) return *slot - 1;
  const int32_t index = Search(Lookup, R, G, B);
  // Out of memory for the cache only costs speed: the answer is still right.
  if (slot) *slot = index + 1;
  return index;
}

void cvBitmap_ColorLookup_Destroy(cvBitmap_ColorLookup** Lookup) {
  if (!Lookup || !*Lookup) return;
  (*Lookup)->~cvBitmap_ColorLookup();
  cvRam_Free(*Lookup);
  *Lookup = nullptr;
}
