// Nearest-colour lookup over a palette of up to 256 RGB triples.
//
// The answer is always the entry at the smallest squared RGB distance, the
// lowest index among equals, exactly what a search of every entry in index
// order gives. Two structures make that fast:
//
// - a 16 x 16 x 16 grid over the colour cube. The first query in a cell
//   works out the cell's candidates once: every entry that can be nearest to
//   some colour of the cell. With m the smallest over all entries of the
//   entry's largest distance to the cell, an entry whose smallest distance to
//   the cell exceeds m is beaten everywhere in the cell by the entry that
//   defines m, so only entries with smallest distance <= m are listed. A
//   query then searches its own cell's candidates, in index order.
// - an exact-colour cache: a direct-mapped table, made on the first query,
//   that remembers the latest answer for each of its slots, so a repeated
//   colour costs one table read.
//
// Entries beyond the count and one excluded entry (a colour-key index) are
// never answered; an entry repeating the colour of a lower one never wins a
// tie and is not listed either.
#include <algorithm>
#include <cstring>
#include <new>

#include "Bitmap/palettecreate.h"
#include "Support/cvsupport.h"

namespace {

constexpr int32_t kCellShift = 4;
constexpr int32_t kCellSide = 1 << kCellShift;            // colour values per cell and channel
constexpr int32_t kCellsPerChannel = 256 >> kCellShift;   // 16
constexpr int32_t kCells = kCellsPerChannel * kCellsPerChannel * kCellsPerChannel;

constexpr int32_t kCacheBits = 16;
constexpr uint32_t kCacheSlots = 1u << kCacheBits;

struct CacheEntry {
  uint32_t Key;  // r << 16 | g << 8 | b, plus 1; 0 for an empty slot
  uint32_t Index;
};

// One candidate of a cell: the entry's colour next to its index, so that a
// search reads one small record per candidate.
struct Candidate {
  uint8_t R, G, B, Index;
};

}  // namespace

struct cvBitmap_ColorLookup {
  uint8_t Palette[CV_PALETTE_ENTRIES][3];
  // Entries that can be answered (below the count, not excluded, not a
  // repeat of a lower entry's colour), in index order.
  Candidate Live[CV_PALETTE_ENTRIES];
  int32_t LiveCount;
  int32_t CellFirst[kCells];  // first candidate of each cell in List, -1 until worked out
  int32_t CellCount[kCells];
  Candidate* List;  // candidates of all cells worked out so far
  int32_t ListUsed, ListCapacity;
  CacheEntry* Cache;  // kCacheSlots entries, null until the first query
};

namespace {

int32_t Distance2(const Candidate& C, int32_t R, int32_t G, int32_t B) {
  const int32_t dr = C.R - R, dg = C.G - G, db = C.B - B;
  return dr * dr + dg * dg + db * db;
}

// The lowest-index nearest entry among Count candidates in index order.
int32_t Nearest(const Candidate* C, int32_t Count, int32_t R, int32_t G, int32_t B) {
  int32_t best = C[0].Index, bestDistance = Distance2(C[0], R, G, B);
  for (int32_t i = 1; i < Count && bestDistance > 0; ++i) {
    const int32_t d = Distance2(C[i], R, G, B);
    if (d < bestDistance) {
      bestDistance = d;
      best = C[i].Index;
    }
  }
  return best;
}

// Smallest and largest squared distance along one channel from value V to
// the cell span [Low, Low + kCellSide - 1].
void SpanDistances(int32_t V, int32_t Low, int32_t* Near, int32_t* Far) {
  const int32_t high = Low + kCellSide - 1;
  const int32_t inside = V < Low ? Low - V : (V > high ? V - high : 0);
  const int32_t far = std::max(V - Low, high - V);
  *Near = inside * inside;
  *Far = far * far;
}

// Works out the candidates of one cell into the shared list. False when the
// list cannot grow (the caller then searches every live entry).
bool BuildCell(cvBitmap_ColorLookup* L, int32_t Cell) {
  const int32_t low[3] = {(Cell / (kCellsPerChannel * kCellsPerChannel)) * kCellSide,
                          (Cell / kCellsPerChannel % kCellsPerChannel) * kCellSide,
                          (Cell % kCellsPerChannel) * kCellSide};
  int32_t nearest[CV_PALETTE_ENTRIES];
  int32_t bound = INT32_MAX;
  for (int32_t i = 0; i < L->LiveCount; ++i) {
    const Candidate& c = L->Live[i];
    const int32_t v[3] = {c.R, c.G, c.B};
    int32_t nearSum = 0, farSum = 0;
    for (int k = 0; k < 3; ++k) {
      int32_t n, f;
      SpanDistances(v[k], low[k], &n, &f);
      nearSum += n;
      farSum += f;
    }
    nearest[i] = nearSum;
    bound = std::min(bound, farSum);
  }
  int32_t count = 0;
  for (int32_t i = 0; i < L->LiveCount; ++i) count += nearest[i] <= bound;
  if (L->ListUsed > INT32_MAX - count) return false;
  if (L->ListUsed + count > L->ListCapacity) {
    int32_t capacity = L->ListCapacity ? L->ListCapacity : 4096;
    while (capacity < L->ListUsed + count) capacity = capacity > INT32_MAX / 2 ? INT32_MAX : capacity * 2;
    auto* grown = static_cast<Candidate*>(cvRam_Realloc(L->List, sizeof(Candidate) * (size_t)capacity));
    if (!grown) return false;
    L->List = grown;
    L->ListCapacity = capacity;
  }
  L->CellFirst[Cell] = L->ListUsed;
  L->CellCount[Cell] = count;
  for (int32_t i = 0; i < L->LiveCount; ++i)
    if (nearest[i] <= bound) L->List[L->ListUsed++] = L->Live[i];
  return true;
}

// The answer without the cache.
int32_t Search(cvBitmap_ColorLookup* L, int32_t R, int32_t G, int32_t B) {
  const int32_t cell = ((R >> kCellShift) * kCellsPerChannel + (G >> kCellShift)) * kCellsPerChannel +
                       (B >> kCellShift);
  if (L->CellFirst[cell] < 0 && !BuildCell(L, cell)) return Nearest(L->Live, L->LiveCount, R, G, B);
  return Nearest(L->List + L->CellFirst[cell], L->CellCount[cell], R, G, B);
}

void Free(cvBitmap_ColorLookup* L) {
  if (L->List) cvRam_Free(L->List);
  if (L->Cache) cvRam_Free(L->Cache);
  L->~cvBitmap_ColorLookup();
  cvRam_Free(L);
}

}  // namespace

cvBitmap_ColorLookup* cvBitmap_ColorLookup_CreateFor(const uint8_t* Triples, int32_t Count,
                                                     int32_t Excluded) {
  if (!Triples || Count < 1 || Count > CV_PALETTE_ENTRIES) {
    CV_ERROR(-1);
    return nullptr;
  }
  auto* lookup = static_cast<cvBitmap_ColorLookup*>(cvRam_Allocate(sizeof(cvBitmap_ColorLookup)));
  if (!lookup) {
    CV_ERROR(-1);
    return nullptr;
  }
  new (lookup) cvBitmap_ColorLookup();
  std::memcpy(lookup->Palette, Triples, (size_t)Count * 3);
  std::memset(lookup->CellFirst, 0xFF, sizeof(lookup->CellFirst));
  lookup->List = nullptr;
  lookup->Cache = nullptr;
  lookup->ListUsed = lookup->ListCapacity = 0;
  // Excluding the only entry would leave nothing to answer with.
  if (Excluded >= Count || Count == 1) Excluded = -1;

  // An entry whose colour a lower entry already holds never wins and is left
  // out of the live entries.
  lookup->LiveCount = 0;
  for (int32_t i = 0; i < Count; ++i) {
    if (i == Excluded) continue;
    const uint8_t* p = lookup->Palette[i];
    const Candidate* live = lookup->Live;
    if (std::any_of(live, live + lookup->LiveCount,
                    [&](const Candidate& c) { return c.R == p[0] && c.G == p[1] && c.B == p[2]; }))
      continue;
    lookup->Live[lookup->LiveCount++] = Candidate{p[0], p[1], p[2], (uint8_t)i};
  }
  return lookup;
}

cvBitmap_ColorLookup* cvBitmap_ColorLookup_Create(const uint8_t* Triples) {
  return cvBitmap_ColorLookup_CreateFor(Triples, CV_PALETTE_ENTRIES, -1);
}

int32_t cvBitmap_ColorLookup_Find(cvBitmap_ColorLookup* Lookup, int32_t R, int32_t G, int32_t B) {
  if (!Lookup) return 0;
  R = std::clamp(R, 0, 255);
  G = std::clamp(G, 0, 255);
  B = std::clamp(B, 0, 255);
  // Out of memory for the cache only costs speed: the answer is still right.
  if (!Lookup->Cache)
    Lookup->Cache = static_cast<CacheEntry*>(cvRam_AllocateClear(sizeof(CacheEntry) * kCacheSlots));
  if (!Lookup->Cache) return Search(Lookup, R, G, B);
  const uint32_t key = ((uint32_t)R << 16 | (uint32_t)G << 8 | (uint32_t)B) + 1;
  CacheEntry& entry = Lookup->Cache[(key * 2654435761u) >> (32 - kCacheBits)];
  if (entry.Key == key) return (int32_t)entry.Index;
  const int32_t index = Search(Lookup, R, G, B);
  entry.Key = key;
  entry.Index = (uint32_t)index;
  return index;
}

int32_t cvBitmap_ColorLookup_Nearest(cvBitmap_ColorLookup* Lookup, int32_t R, int32_t G, int32_t B) {
  if (!Lookup) return 0;
  return Search(Lookup, std::clamp(R, 0, 255), std::clamp(G, 0, 255), std::clamp(B, 0, 255));
}

void cvBitmap_ColorLookup_Destroy(cvBitmap_ColorLookup** Lookup) {
  if (!Lookup || !*Lookup) return;
  Free(*Lookup);
  *Lookup = nullptr;
}
