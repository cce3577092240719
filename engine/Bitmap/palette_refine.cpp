// The good builder's palette for images of more than 256 colours: a
// variance-based median cut of the image's colour histogram, refined by Lloyd
// (k-means) passes over the same histogram.
//
// The image is read once into a table of its distinct RGB colours with their
// pixel counts. The median cut splits the box of largest squared error at the
// value of its widest channel that leaves the least error, until there are
// 256 boxes, whose means seed the passes. Every pass costs one nearest-entry
// search per distinct colour instead of one per pixel, and the error it
// measures is exactly the error of mapping every pixel to its nearest entry. Each pass moves every
// used entry to the rounded mean of the colours nearest to it, which can only
// lower that error (up to the rounding); an entry that no colour chose is
// moved onto one of the colours that cost the most, where it helps most. The
// passes stop when the palette no longer changes, when a pass no longer
// lowers the error, or after kMaxPasses (the first passes gain the most; more
// cost time for little); the best palette seen is kept.
//
// An entry whose colours are mostly one exact colour (at least half of its
// pixels) takes that colour instead of the mean, so flat areas of a skin keep
// their colour exactly.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "Bitmap/palette_pixels.h"
#include "Bitmap/palettecreate.h"
#include "Support/cvsupport.h"

namespace {

constexpr int32_t kMaxPasses = 5;

struct RamFree {
  void operator()(void* P) const { cvRam_Free(P); }
};
template <class T>
using RamArray = std::unique_ptr<T[], RamFree>;

template <class T>
RamArray<T> NewArray(size_t Count) {
  uint64_t bytes = 0;
  if (!cvSize_Mul((uint64_t)Count, sizeof(T), &bytes) || bytes > SIZE_MAX) return nullptr;
  return RamArray<T>(static_cast<T*>(cvRam_AllocateClear((size_t)bytes)));
}

// Distinct colours and their pixel counts in an open-addressing table that
// doubles when half full. Keys are colour + 1 so that 0 marks a free slot.
class Histogram {
 public:
  bool Init() { return Grow(1u << 16); }

  bool Add(uint32_t Colour) {
    const uint32_t key = Colour + 1;
    if (key == lastKey_) {
      ++counts_[lastSlot_];
      return true;
    }
    uint32_t h = Slot(key);
    while (keys_[h] && keys_[h] != key) h = (h + 1) & (size_ - 1);
    if (!keys_[h]) {
      if (used_ + 1 > size_ / 2) {
        if (!Grow(size_ * 2)) return false;
        lastKey_ = 0;
        return Add(Colour);
      }
      keys_[h] = key;
      ++used_;
    }
    ++counts_[h];
    lastKey_ = key, lastSlot_ = h;
    return true;
  }

  uint32_t Used() const { return used_; }
  uint32_t Size() const { return size_; }
  uint32_t KeyAt(uint32_t Slot) const { return keys_[Slot]; }
  uint32_t CountAt(uint32_t Slot) const { return counts_[Slot]; }

 private:
  uint32_t Slot(uint32_t Key) const { return (Key * 2654435761u) >> shift_; }

  bool Grow(uint32_t NewSize) {
    RamArray<uint32_t> keys = NewArray<uint32_t>(NewSize), counts = NewArray<uint32_t>(NewSize);
    if (!keys || !counts) return false;
    const uint32_t oldSize = size_;
    RamArray<uint32_t> oldKeys = std::move(keys_), oldCounts = std::move(counts_);
    keys_ = std::move(keys), counts_ = std::move(counts);
    size_ = NewSize;
    shift_ = 32;
    for (uint32_t s = NewSize; s > 1; s >>= 1) --shift_;
    for (uint32_t i = 0; i < oldSize; ++i) {
      if (!oldKeys[i]) continue;
      uint32_t h = Slot(oldKeys[i]);
      while (keys_[h]) h = (h + 1) & (size_ - 1);
      keys_[h] = oldKeys[i], counts_[h] = oldCounts[i];
    }
    return true;
  }

  RamArray<uint32_t> keys_, counts_;
  uint32_t size_ = 0, used_ = 0, shift_ = 32;
  uint32_t lastKey_ = 0, lastSlot_ = 0;
};

// One distinct colour of the image.
struct Point {
  uint8_t R, G, B, Pad;
  uint32_t Count;
};

struct EntryStats {
  uint64_t Sum[3];
  uint64_t Count;
  uint32_t ModeCount;  // pixels of the entry's most frequent colour
  uint32_t Mode;       // that colour as r << 16 | g << 8 | b
};

// Squared error of the histogram mapped to Triples, with the statistics of
// each entry and each point's cost. False when the lookup cannot be made.
bool Assign(const Point* Points, uint32_t Count, const uint8_t* Triples, EntryStats* Stats,
            uint64_t* Costs, uint64_t* Error) {
  cvBitmap_ColorLookup* lookup = cvBitmap_ColorLookup_Create(Triples);
  if (!lookup) return false;
  std::memset(Stats, 0, sizeof(EntryStats) * CV_PALETTE_ENTRIES);
  uint64_t error = 0;
  for (uint32_t i = 0; i < Count; ++i) {
    const Point& p = Points[i];
    const int32_t index = cvBitmap_ColorLookup_Nearest(lookup, p.R, p.G, p.B);
    const uint8_t* e = Triples + index * 3;
    const int32_t dr = p.R - e[0], dg = p.G - e[1], db = p.B - e[2];
    const uint64_t cost = (uint64_t)(dr * dr + dg * dg + db * db) * p.Count;
    Costs[i] = cost;
    error += cost;
    EntryStats& s = Stats[index];
    s.Sum[0] += (uint64_t)p.R * p.Count, s.Sum[1] += (uint64_t)p.G * p.Count, s.Sum[2] += (uint64_t)p.B * p.Count;
    s.Count += p.Count;
    if (p.Count > s.ModeCount) s.ModeCount = p.Count, s.Mode = (uint32_t)p.R << 16 | (uint32_t)p.G << 8 | p.B;
  }
  cvBitmap_ColorLookup_Destroy(&lookup);
  *Error = error;
  return true;
}

// Moves the entries as one Lloyd pass does; true when any entry changed.
bool Update(const Point* Points, uint32_t Count, const EntryStats* Stats, const uint64_t* Costs,
            uint8_t* Triples) {
  bool changed = false;
  int32_t unused[CV_PALETTE_ENTRIES];
  int32_t unusedCount = 0;
  for (int32_t i = 0; i < CV_PALETTE_ENTRIES; ++i) {
    const EntryStats& s = Stats[i];
    if (s.Count == 0) {
      unused[unusedCount++] = i;
      continue;
    }
    uint8_t next[3];
    if ((uint64_t)s.ModeCount * 2 >= s.Count) {
      next[0] = (uint8_t)(s.Mode >> 16), next[1] = (uint8_t)(s.Mode >> 8), next[2] = (uint8_t)s.Mode;
    } else {
      for (int k = 0; k < 3; ++k) next[k] = (uint8_t)((s.Sum[k] + s.Count / 2) / s.Count);
    }
    if (std::memcmp(next, Triples + i * 3, 3)) changed = true;
    std::memcpy(Triples + i * 3, next, 3);
  }
  if (unusedCount == 0) return changed;
  // The unused entries go to the colours that cost the most, one each.
  std::vector<uint32_t> worst;
  worst.reserve(Count);
  for (uint32_t i = 0; i < Count; ++i)
    if (Costs[i]) worst.push_back(i);
  const size_t take = std::min(worst.size(), (size_t)unusedCount);
  std::partial_sort(worst.begin(), worst.begin() + (ptrdiff_t)take, worst.end(),
                    [&](uint32_t a, uint32_t b) { return Costs[a] != Costs[b] ? Costs[a] > Costs[b] : a < b; });
  for (size_t j = 0; j < take; ++j) {
    const Point& p = Points[worst[j]];
    uint8_t* e = Triples + unused[j] * 3;
    e[0] = p.R, e[1] = p.G, e[2] = p.B;
    changed = true;
  }
  return changed;
}

// A box of the median cut: a run of points and the sums of their weights,
// channels and squared channels.
struct Box {
  uint32_t Begin, End;
  double Weight, Sum[3], Squares[3];
  double Error() const {
    double e = 0;
    for (int k = 0; k < 3; ++k) e += Squares[k] - Sum[k] * Sum[k] / Weight;
    return e;
  }
};

Box MakeBox(const Point* Points, uint32_t Begin, uint32_t End) {
  Box box{Begin, End, 0, {0, 0, 0}, {0, 0, 0}};
  for (uint32_t i = Begin; i < End; ++i) {
    const Point& p = Points[i];
    const double w = p.Count, c[3] = {(double)p.R, (double)p.G, (double)p.B};
    box.Weight += w;
    for (int k = 0; k < 3; ++k) box.Sum[k] += w * c[k], box.Squares[k] += w * c[k] * c[k];
  }
  return box;
}

uint8_t Channel(const Point& P, int K) { return K == 0 ? P.R : (K == 1 ? P.G : P.B); }

// Splits Box (at least two points) across the channel of largest spread at
// the value that leaves the two halves the least squared error along it,
// reordering its points with a counting sort on that channel. Scratch holds
// as many points as the box.
void Split(Point* Points, Point* Scratch, const Box& In, Box* Low, Box* High) {
  int axes[3] = {0, 1, 2};
  double spread[3];
  for (int k = 0; k < 3; ++k) spread[k] = In.Squares[k] - In.Sum[k] * In.Sum[k] / In.Weight;
  std::stable_sort(axes, axes + 3, [&](int a, int b) { return spread[a] > spread[b]; });
  // The cut leaves values <= cut below: of the cuts with points on both
  // sides, the one whose halves have the least error along the axis. An axis
  // on which all points agree has no such cut; some axis has one, as the
  // points are distinct.
  int axis = 0;
  int32_t cut = -1;
  uint32_t bins[257];
  for (int a = 0; a < 3 && cut < 0; ++a) {
    axis = axes[a];
    double weight[256] = {}, sum[256] = {};
    std::fill(bins, bins + 257, 0u);
    for (uint32_t i = In.Begin; i < In.End; ++i) {
      const uint8_t v = Channel(Points[i], axis);
      weight[v] += Points[i].Count;
      sum[v] += (double)Points[i].Count * v;
      ++bins[v + 1];
    }
    double wl = 0, sl = 0, bestScore = -1;
    for (int32_t v = 0; v < 255; ++v) {
      wl += weight[v], sl += sum[v];
      const double wr = In.Weight - wl, sr = In.Sum[axis] - sl;
      if (wl <= 0 || wr <= 0) continue;
      const double score = sl * sl / wl + sr * sr / wr;  // larger means less error
      if (score > bestScore) bestScore = score, cut = v;
    }
  }
  for (int32_t v = 0; v < 256; ++v) bins[v + 1] += bins[v];
  for (uint32_t i = In.Begin; i < In.End; ++i) Scratch[bins[Channel(Points[i], axis)]++] = Points[i];
  std::memcpy(Points + In.Begin, Scratch, sizeof(Point) * (In.End - In.Begin));
  uint32_t middle = In.Begin;
  while (middle < In.End && Channel(Points[middle], axis) <= cut) ++middle;
  *Low = MakeBox(Points, In.Begin, middle);
  *High = MakeBox(Points, middle, In.End);
}

// 256 entries from the points by variance-based median cut: the box of
// largest squared error is split until there are 256; each box gives the
// rounded mean of its pixels.
bool MedianCut(Point* Points, uint32_t Count, uint8_t* Triples) {
  RamArray<Point> scratch = NewArray<Point>(Count);
  if (!scratch) return false;
  Box boxes[CV_PALETTE_ENTRIES];
  double errors[CV_PALETTE_ENTRIES];
  int32_t boxCount = 1;
  boxes[0] = MakeBox(Points, 0, Count);
  errors[0] = boxes[0].Error();
  while (boxCount < CV_PALETTE_ENTRIES) {
    int32_t worst = -1;
    for (int32_t i = 0; i < boxCount; ++i)
      if (boxes[i].End - boxes[i].Begin > 1 && (worst < 0 || errors[i] > errors[worst])) worst = i;
    if (worst < 0) break;
    Box low, high;
    Split(Points, scratch.get(), boxes[worst], &low, &high);
    boxes[worst] = low, errors[worst] = low.Error();
    boxes[boxCount] = high, errors[boxCount] = high.Error();
    ++boxCount;
  }
  for (int32_t i = 0; i < CV_PALETTE_ENTRIES; ++i) {
    const Box& b = boxes[i < boxCount ? i : boxCount - 1];
    for (int k = 0; k < 3; ++k) Triples[i * 3 + k] = (uint8_t)std::clamp(b.Sum[k] / b.Weight + 0.5, 0.0, 255.0);
  }
  return true;
}

}  // namespace

namespace cvpal {

int BuildByHistogram(const uint8_t* Pixels, int32_t Width, int32_t Height, int32_t StrideBytes,
                     const PixelReader& Reader, uint8_t* Triples) {
  Histogram histogram;
  if (!histogram.Init()) return 0;
  const int32_t bpp = Reader.BytesPerPixel();
  for (int32_t y = 0; y < Height; ++y) {
    const uint8_t* p = Pixels + (size_t)y * (size_t)StrideBytes;
    for (int32_t x = 0; x < Width; ++x, p += bpp) {
      int32_t r, g, b;
      Reader.Read(p, &r, &g, &b);
      if (!histogram.Add((uint32_t)r << 16 | (uint32_t)g << 8 | (uint32_t)b)) return 0;
    }
  }
  const uint32_t count = histogram.Used();
  if (count <= CV_PALETTE_ENTRIES) return -1;

  // The colours in RGB order, so that neighbouring searches share their
  // lookup cell.
  RamArray<Point> points = NewArray<Point>(count);
  RamArray<uint64_t> costs = NewArray<uint64_t>(count);
  RamArray<uint32_t> order = NewArray<uint32_t>(count);
  RamArray<EntryStats> stats = NewArray<EntryStats>(CV_PALETTE_ENTRIES);
  if (!points || !costs || !order || !stats) return 0;
  uint32_t n = 0;
  for (uint32_t s = 0; s < histogram.Size(); ++s)
    if (histogram.KeyAt(s)) order[n++] = s;
  std::sort(order.get(), order.get() + n,
            [&](uint32_t a, uint32_t b) { return histogram.KeyAt(a) < histogram.KeyAt(b); });
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t colour = histogram.KeyAt(order[i]) - 1;
    points[i] = Point{(uint8_t)(colour >> 16), (uint8_t)(colour >> 8), (uint8_t)colour, 0,
                      histogram.CountAt(order[i])};
  }
  // The median cut reorders the points; the passes want them in RGB order.
  RamArray<Point> seedPoints = NewArray<Point>(n);
  if (!seedPoints) return 0;
  std::memcpy(seedPoints.get(), points.get(), sizeof(Point) * n);
  if (!MedianCut(seedPoints.get(), n, Triples)) return 0;
  seedPoints.reset();

  uint8_t best[CV_PALETTE_ENTRIES * 3];
  std::memcpy(best, Triples, sizeof(best));
  uint64_t bestError = UINT64_MAX;
  for (int32_t pass = 0; pass < kMaxPasses; ++pass) {
    uint64_t error = 0;
    if (!Assign(points.get(), n, Triples, stats.get(), costs.get(), &error)) return 0;
    if (error >= bestError) break;
    bestError = error;
    std::memcpy(best, Triples, sizeof(best));
    if (error == 0 || !Update(points.get(), n, stats.get(), costs.get(), Triples)) break;
  }
  std::memcpy(Triples, best, sizeof(best));
  return 1;
}

}  // namespace cvpal
