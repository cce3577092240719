// Palette builders: the octree quantisers "createPalFast" and "createPalGood",
// the integer YUV transform of the good builder, the process-wide current
// builder and the palette of an image or bitmap.
//
// Both builders insert every pixel once into an octree over the bits 7..0 of
// three channels. The tree lives in one process-wide pool of index-linked
// records that is reset before each build, so a build frees nothing per node;
// builds are therefore not reentrant.
//
// An image of at most 256 distinct colours gets exactly its colours from
// either builder (the fast builder's choice does that by itself; the good
// builder counts RGB colours alongside its tree and skips quantising). The
// good builder chooses its nodes in YUV but gives each the RGB mean of its
// pixels, so no colour is rounded through the transform.
#include <algorithm>
#include <array>
#include <set>
#include <tuple>
#include <vector>

#include "Bitmap/bitmap.h"
#include "Bitmap/palette_pixels.h"
#include "Bitmap/palette_pool.h"
#include "Bitmap/palettecreate.h"
#include "Support/cvsupport.h"

namespace {

// Links are index + 1 so that a zero-filled record has none.
struct OctNode {
  int32_t Child[8];  // by (red bit << 2 | green bit << 1 | blue bit)
  int32_t Parent;
  uint32_t Count;  // pixels passing through or ending here
  int32_t NumChildren;
  int32_t Color[3];
  uint64_t Error;  // count x squared distance to the parent's colour + children's errors
  int32_t Prev, Next;  // error-bucket links
};

// RGB sums of the pixels below each node, kept in step with gNodes (same
// index) by the good builder only, so that the fast builder's nodes stay
// small.
struct RgbSum {
  uint64_t Sum[3];
};

cvpal::ChunkPool<OctNode> gNodes;
cvpal::ChunkPool<RgbSum> gSums;

using Triple = std::array<int32_t, 3>;

int64_t Distance2(const int32_t* A, const int32_t* B) {
  const int64_t d0 = A[0] - B[0], d1 = A[1] - B[1], d2 = A[2] - B[2];
  return d0 * d0 + d1 * d1 + d2 * d2;
}

int32_t Clamp255(int32_t V) { return V < 0 ? 0 : (V > 255 ? 255 : V); }

class Octree {
 public:
  // An empty tree; WithRgb keeps the RGB sums of every node in gSums.
  bool Reset(bool WithRgb) {
    gNodes.Reset();
    gSums.Reset();
    distinct_ = 0;
    withRgb_ = WithRgb;
    return NewNode() == 0;
  }

  OctNode& operator[](int32_t Index) { return gNodes[Index]; }
  uint64_t* RgbOf(int32_t Index) { return gSums[Index].Sum; }

  // Inserts one pixel under (C0, C1, C2); Rgb is the pixel's RGB colour,
  // summed at the leaf when the tree keeps RGB sums.
  bool Insert(int32_t C0, int32_t C1, int32_t C2, const int32_t* Rgb) {
    int32_t node = 0;
    gNodes[0].Count++;
    for (int32_t bit = 7; bit >= 0; --bit) {
      const int32_t c = (((C0 >> bit) & 1) << 2) | (((C1 >> bit) & 1) << 1) | ((C2 >> bit) & 1);
      int32_t child = gNodes[node].Child[c] - 1;
      if (child < 0) {
        child = NewNode();
        if (child < 0) return false;
        gNodes[child].Parent = node + 1;
        gNodes[node].Child[c] = child + 1;
        gNodes[node].NumChildren++;
      }
      node = child;
      gNodes[node].Count++;
    }
    OctNode& leaf = gNodes[node];
    if (withRgb_)
      for (int k = 0; k < 3; ++k) gSums[node].Sum[k] += (uint64_t)Rgb[k];
    if (leaf.Count == 1) {
      ++distinct_;
      leaf.Color[0] = C0, leaf.Color[1] = C1, leaf.Color[2] = C2;
    }
    return true;
  }

  int32_t Distinct() const { return distinct_; }
  bool WithRgb() const { return withRgb_; }

 private:
  int32_t NewNode() {
    const int32_t node = gNodes.New();
    if (node < 0 || !withRgb_) return node;
    return gSums.New() == node ? node : -1;
  }

  int32_t distinct_ = 0;
  bool withRgb_ = false;
};

// Counts the distinct RGB colours of an image while there are at most 256 of
// them; past that it only remembers that there were more. An image that fits
// gets exactly its own colours, with no quantisation at all.
class FewColours {
 public:
  // False once more than 256 distinct colours were seen.
  bool Fits() const { return fits_; }

  void Add(int32_t R, int32_t G, int32_t B) {
    if (!fits_) return;
    const uint32_t key = (uint32_t)R << 16 | (uint32_t)G << 8 | (uint32_t)B;
    if (last_ >= 0 && slots_[last_].Key == key + 1) {
      slots_[last_].Count++;
      return;
    }
    uint32_t h = (key * 2654435761u) >> (32 - kBits);
    while (slots_[h].Key && slots_[h].Key != key + 1) h = (h + 1) & (kSlots - 1);
    if (!slots_[h].Key) {
      if (count_ == CV_PALETTE_ENTRIES) {
        fits_ = false;
        return;
      }
      slots_[h].Key = key + 1;
      ++count_;
    }
    slots_[h].Count++;
    last_ = (int32_t)h;
  }

  // The colours, most frequent first; equal counts in the order of the
  // octree over their RGB bits (the fast builder's order).
  std::vector<Triple> ByCount() const {
    struct Seen {
      uint32_t Count, Order;
      Triple Colour;
    };
    std::vector<Seen> seen;
    for (const Slot& s : slots_) {
      if (!s.Key) continue;
      const uint32_t k = s.Key - 1;
      const int32_t r = (int32_t)(k >> 16), g = (int32_t)(k >> 8 & 0xFF), b = (int32_t)(k & 0xFF);
      uint32_t order = 0;
      for (int32_t bit = 7; bit >= 0; --bit)
        order = order << 3 | (uint32_t)(((r >> bit) & 1) << 2 | ((g >> bit) & 1) << 1 | ((b >> bit) & 1));
      seen.push_back({s.Count, order, {r, g, b}});
    }
    std::sort(seen.begin(), seen.end(), [](const Seen& a, const Seen& b) {
      return a.Count != b.Count ? a.Count > b.Count : a.Order < b.Order;
    });
    std::vector<Triple> out;
    for (const Seen& s : seen) out.push_back(s.Colour);
    return out;
  }

 private:
  static constexpr int32_t kBits = 10;
  static constexpr int32_t kSlots = 1 << kBits;  // at most a quarter full
  struct Slot {
    uint32_t Key;  // colour + 1, 0 when free
    uint32_t Count;
  };
  std::array<Slot, kSlots> slots_{};
  int32_t count_ = 0;
  int32_t last_ = -1;
  bool fits_ = true;
};

// Sizes of a plain image checked for the builders.
struct Image {
  const uint8_t* Pixels;
  int32_t Width, Height, StrideBytes;
  cvpal::PixelReader Reader;
};

bool MakeImage(const void* Pixels, int32_t Width, int32_t Height, int32_t StrideBytes,
               int32_t Format, Image* Out) {
  if (!Out->Reader.Init(Format) || Width < 0 || Height < 0) return false;
  uint64_t rowBytes = 0;
  if (!cvSize_Mul((uint64_t)Width, (uint64_t)Out->Reader.BytesPerPixel(), &rowBytes)) return false;
  if (Width > 0 && Height > 0 && (!Pixels || (uint64_t)StrideBytes < rowBytes)) return false;
  Out->Pixels = static_cast<const uint8_t*>(Pixels);
  Out->Width = Width, Out->Height = Height, Out->StrideBytes = StrideBytes;
  return true;
}

// Inserts every pixel of the image once, optionally through the YUV transform
// (then also counting the RGB colours into Few).
bool InsertPixels(Octree& Tree, const Image& Img, FewColours* Few) {
  const int32_t bpp = Img.Reader.BytesPerPixel();
  for (int32_t y = 0; y < Img.Height; ++y) {
    const uint8_t* p = Img.Pixels + (size_t)y * (size_t)Img.StrideBytes;
    for (int32_t x = 0; x < Img.Width; ++x, p += bpp) {
      int32_t rgb[3], c[3];
      Img.Reader.Read(p, &rgb[0], &rgb[1], &rgb[2]);
      if (Few) {
        Few->Add(rgb[0], rgb[1], rgb[2]);
        cvBitmap_RGBToYUV(rgb[0], rgb[1], rgb[2], &c[0], &c[1], &c[2]);
        if (!Tree.Insert(c[0], c[1], c[2], rgb)) return false;
      } else if (!Tree.Insert(rgb[0], rgb[1], rgb[2], rgb)) {
        return false;
      }
    }
  }
  return true;
}

// Picks 256 colours from List (not empty) in its order, as positions in List:
// a colour is taken when its squared distance to every colour taken so far is
// at least D (the first always is); D starts at 256 and halves after each walk
// that leaves the palette short. Distinct colours are at least 1 apart, so by
// D = 1 every distinct colour of a short list is taken; at D = 0 every colour
// qualifies, so a short list repeats to fill 256.
void ChooseColors(const std::vector<Triple>& List, int32_t* Out) {
  Triple taken[CV_PALETTE_ENTRIES];  // the colours at Out, side by side for the distance tests
  int32_t count = 0;
  int64_t limit = 256;
  while (count < CV_PALETTE_ENTRIES) {
    for (size_t i = 0; i < List.size() && count < CV_PALETTE_ENTRIES; ++i) {
      bool ok = true;
      for (int32_t j = 0; limit > 0 && j < count; ++j) {
        if (Distance2(List[i].data(), taken[j].data()) < limit) {
          ok = false;
          break;
        }
      }
      if (ok) taken[count] = List[i], Out[count++] = (int32_t)i;
    }
    if (limit > 0) limit >>= 1;
  }
}

// The colours of List at the positions ChooseColors picked; all black for
// an empty list.
void ChooseFrom(const std::vector<Triple>& List, Triple* Out) {
  if (List.empty()) {
    std::fill(Out, Out + CV_PALETTE_ENTRIES, Triple{0, 0, 0});
    return;
  }
  int32_t chosen[CV_PALETTE_ENTRIES];
  ChooseColors(List, chosen);
  for (int32_t i = 0; i < CV_PALETTE_ENTRIES; ++i) Out[i] = List[(size_t)chosen[i]];
}

// Full-depth leaves whose count exceeds T, in tree order, skipping subtrees
// whose count does not.
void GatherFrequent(Octree& Tree, int32_t Node, int32_t Depth, uint32_t T,
                    std::vector<int32_t>& Out) {
  if (Tree[Node].Count <= T) return;
  if (Depth == 8) {
    Out.push_back(Node);
    return;
  }
  for (int32_t c = 0; c < 8; ++c) {
    const int32_t child = Tree[Node].Child[c] - 1;
    if (child >= 0) GatherFrequent(Tree, child, Depth + 1, T, Out);
  }
}

void Average(Octree& Tree, int32_t Node) {
  if (Tree[Node].NumChildren == 0) return;
  uint64_t sum[3] = {0, 0, 0}, count = 0;
  for (int32_t c = 0; c < 8; ++c) {
    const int32_t child = Tree[Node].Child[c] - 1;
    if (child < 0) continue;
    Average(Tree, child);
    const OctNode& n = Tree[child];
    for (int k = 0; k < 3; ++k) sum[k] += (uint64_t)n.Count * (uint64_t)n.Color[k];
    if (Tree.WithRgb())
      for (int k = 0; k < 3; ++k) Tree.RgbOf(Node)[k] += Tree.RgbOf(child)[k];
    count += n.Count;
  }
  if (count == 0) return;
  for (int k = 0; k < 3; ++k) Tree[Node].Color[k] = (int32_t)(sum[k] / count);
}

uint64_t ComputeErrors(Octree& Tree, int32_t Node, const int32_t* ParentColor) {
  uint64_t error = (uint64_t)Tree[Node].Count * (uint64_t)Distance2(Tree[Node].Color, ParentColor);
  for (int32_t c = 0; c < 8; ++c) {
    const int32_t child = Tree[Node].Child[c] - 1;
    if (child >= 0) error += ComputeErrors(Tree, child, Tree[Node].Color);
  }
  Tree[Node].Error = error;
  return error;
}

// Removes children that stand for fewer than MinCount pixels (they stay with
// this node) and collapses chains of single children.
//
// A child of at least 2 pixels whose error is below 2 holds exactly this
// node's colour: it is the colour that dominates the node's average. It
// becomes a leaf for its whole subtree (whose pixels all lie within rounding
// of it) instead of being removed: removed, it would leave the node with its
// minority siblings, and a node left with one child collapses onto that
// child, so the dominant colour would vanish from the palette. Its error
// becomes what removing it costs while a sibling stays, its pixels times the
// squared distance to the nearest sibling, so that the reduction does not
// take it first.
void Prune(Octree& Tree, int32_t Node, uint32_t MinCount) {
  int32_t dominant = -1;
  for (int32_t c = 0; c < 8; ++c) {
    const int32_t child = Tree[Node].Child[c] - 1;
    if (child < 0) continue;
    if (Tree[child].Count < MinCount) {
      Tree[Node].Child[c] = 0;
      Tree[Node].NumChildren--;
      continue;
    }
    if (Tree[child].Error < 2) {
      std::fill(Tree[child].Child, Tree[child].Child + 8, 0);
      Tree[child].NumChildren = 0;
      dominant = child;
      continue;
    }
    Prune(Tree, child, MinCount);
    if (Tree[child].NumChildren == 1) {
      int32_t grandchild = -1;
      for (int32_t g = 0; g < 8 && grandchild < 0; ++g) grandchild = Tree[child].Child[g] - 1;
      Tree[grandchild].Error = Tree[child].Error;
      Tree[grandchild].Parent = Node + 1;
      Tree[Node].Child[c] = grandchild + 1;
    }
  }
  if (dominant < 0) return;
  int64_t nearest = -1;
  for (int32_t c = 0; c < 8; ++c) {
    const int32_t sibling = Tree[Node].Child[c] - 1;
    if (sibling < 0 || sibling == dominant) continue;
    const int64_t d = Distance2(Tree[sibling].Color, Tree[dominant].Color);
    if (nearest < 0 || d < nearest) nearest = d;
  }
  if (nearest > 0) Tree[dominant].Error = (uint64_t)Tree[dominant].Count * (uint64_t)nearest;
}

// The number of leaves Prune(Node, MinCount) would leave, without pruning.
size_t CountPrunedLeaves(Octree& Tree, int32_t Node, uint32_t MinCount) {
  size_t leaves = 0;
  for (int32_t c = 0; c < 8; ++c) {
    const int32_t child = Tree[Node].Child[c] - 1;
    if (child < 0 || Tree[child].Count < MinCount) continue;
    leaves += Tree[child].Error < 2 ? 1 : CountPrunedLeaves(Tree, child, MinCount);
  }
  return leaves ? leaves : 1;
}

void GatherLeaves(Octree& Tree, int32_t Node, std::vector<int32_t>& Out) {
  if (Tree[Node].NumChildren == 0) {
    Out.push_back(Node);
    return;
  }
  for (int32_t c = 0; c < 8; ++c) {
    const int32_t child = Tree[Node].Child[c] - 1;
    if (child >= 0) GatherLeaves(Tree, child, Out);
  }
}

// The 1,024 error buckets of the good builder's reduction. Buckets 0..1022
// are index-linked lists through the nodes' Prev/Next; the last bucket holds
// every error of 1,023 and above in ascending order (equal errors in arrival
// order, an error of exactly 1,023 at the front as in the lists below it).
class ErrorBuckets {
 public:
  static constexpr int32_t kLists = 1023;

  explicit ErrorBuckets(Octree& Tree) : tree_(Tree), head_(kLists, 0), tail_(kLists, 0) {}

  void Put(int32_t Node) {
    const uint64_t e = tree_[Node].Error;
    if (e < (uint64_t)kLists) {
      OctNode& n = tree_[Node];
      const int32_t b = (int32_t)e;
      n.Prev = 0;
      n.Next = head_[b];
      if (head_[b]) tree_[head_[b] - 1].Prev = Node + 1;
      else tail_[b] = Node + 1;
      head_[b] = Node + 1;
    } else if (e == (uint64_t)kLists) {
      last_.emplace(e, --frontSeq_, Node);
    } else {
      last_.emplace(e, ++backSeq_, Node);
    }
  }

  // The front leaf of the lowest non-empty bucket at or above the search
  // position, which only ever moves up; -1 when all are empty.
  int32_t TakeLowest() {
    while (cursor_ < kLists && head_[cursor_] == 0) ++cursor_;
    if (cursor_ < kLists) {
      const int32_t node = head_[cursor_] - 1;
      head_[cursor_] = tree_[node].Next;
      if (head_[cursor_]) tree_[head_[cursor_] - 1].Prev = 0;
      else tail_[cursor_] = 0;
      return node;
    }
    if (last_.empty()) return -1;
    const int32_t node = std::get<2>(*last_.begin());
    last_.erase(last_.begin());
    return node;
  }

  // Up to 256 leaves, largest errors first: the last bucket from its back,
  // then buckets 1,022 down to 0, each from back to front. (Bucket 0 can
  // still hold leaves: a parent that becomes a leaf with error 0 after the
  // search has passed it.)
  int32_t Emit(int32_t* Out) const {
    int32_t n = 0;
    for (auto it = last_.rbegin(); it != last_.rend() && n < CV_PALETTE_ENTRIES; ++it)
      Out[n++] = std::get<2>(*it);
    for (int32_t b = kLists - 1; b >= 0 && n < CV_PALETTE_ENTRIES; --b)
      for (int32_t x = tail_[b]; x && n < CV_PALETTE_ENTRIES; x = tree_[x - 1].Prev) Out[n++] = x - 1;
    return n;
  }

 private:
  Octree& tree_;
  std::vector<int32_t> head_, tail_;
  std::set<std::tuple<uint64_t, int64_t, int32_t>> last_;
  int64_t frontSeq_ = 0, backSeq_ = 0;
  int32_t cursor_ = 0;
};

void ToBytes(const Triple* Colors, uint8_t* Out) {
  for (int32_t i = 0; i < CV_PALETTE_ENTRIES; ++i)
    for (int k = 0; k < 3; ++k) Out[i * 3 + k] = (uint8_t)Clamp255(Colors[i][k]);
}

cvBitmap_PaletteBuilder gBuilder = cvBitmap_CreatePalGood;

bool InfoImage(const cvBitmap_Info* Info, const void* Pixels, int32_t* StrideBytes) {
  if (!Info || Info->Stride < Info->Width) return false;
  uint64_t bytes = 0;
  if (!cvSize_Mul((uint64_t)(Info->Stride < 0 ? 0 : Info->Stride),
                  (uint64_t)cvPixelFormat_BytesPerPixel(Info->Format), &bytes))
    return false;
  *StrideBytes = (int32_t)bytes;
  (void)Pixels;
  return true;
}

cvBitmap_Palette* MakeRGBPalette(const uint8_t* Triples) {
  cvBitmap_Palette* palette = cvBitmap_Palette_Create(CV_PIXELFORMAT_24BIT_RGB, CV_PALETTE_ENTRIES);
  if (!palette) return nullptr;
  if (!cvBitmap_Palette_SetData(palette, Triples, CV_PIXELFORMAT_24BIT_RGB, CV_PALETTE_ENTRIES)) {
    cvBitmap_Palette_Destroy(&palette);
    return nullptr;
  }
  return palette;
}

// Takes the pixels apart and sorts them into Tree (in YUV when Few is given,
// which then counts the RGB colours); logs and fails on bad arguments or when
// the tree cannot grow.
bool FillTree(const void* Pixels, int32_t Width, int32_t Height, int32_t StrideBytes, int32_t Format,
              const uint8_t* Out, FewColours* Few, Image* Img, Octree& Tree) {
  if (!Out || !MakeImage(Pixels, Width, Height, StrideBytes, Format, Img) || !Tree.Reset(Few != nullptr) ||
      !InsertPixels(Tree, *Img, Few)) {
    CV_ERROR(-1);
    return false;
  }
  return true;
}

using PaletteBuild = int (*)(const void*, int32_t, int32_t, int32_t, int32_t, uint8_t*);

// A new RGB palette made by Build from the image Info describes.
cvBitmap_Palette* CreateFromInfo(const cvBitmap_Info* Info, const void* Pixels, PaletteBuild Build) {
  int32_t strideBytes = 0;
  if (!InfoImage(Info, Pixels, &strideBytes)) {
    CV_ERROR(-1);
    return nullptr;
  }
  uint8_t triples[CV_PALETTE_ENTRIES * 3];
  if (!Build(Pixels, Info->Width, Info->Height, strideBytes, Info->Format, triples)) return nullptr;
  return MakeRGBPalette(triples);
}

}  // namespace

void cvBitmap_RGBToYUV(int32_t R, int32_t G, int32_t B, int32_t* Y, int32_t* U, int32_t* V) {
  *Y = Clamp255((4898 * R + 9617 * G + 1867 * B + 8192) >> 14);
  *U = Clamp255((((B + 1) * 8192 - 5427 * G - 2764 * R) >> 14) + 127);
  *V = Clamp255(((6859 * G - 8192 * R + 1332 * B + 8192) >> 14) + 127);
}

void cvBitmap_YUVToRGB(int32_t Y, int32_t U, int32_t V, int32_t* R, int32_t* G, int32_t* B) {
  *R = Clamp255((16384 * Y - 22970 * (V - 127) + 8192) >> 14);
  *G = Clamp255((16384 * Y + 11700 * (V - 127) - 5638 * (U - 127) + 8192) >> 14);
  *B = Clamp255((16384 * Y + 29032 * (U - 127) + 8192) >> 14);
}

int cvBitmap_BuildPalFast(const void* Pixels, int32_t Width, int32_t Height, int32_t StrideBytes,
                          int32_t Format, uint8_t* Out) {
  Image img;
  Octree tree;
  if (!FillTree(Pixels, Width, Height, StrideBytes, Format, Out, nullptr, &img, tree)) return 0;
  // Prefer colours seen more than 3 times, then 2, 1, 0, as long as that
  // still leaves 256 to choose from.
  std::vector<int32_t> leaves;
  for (int32_t t = 3; t >= 0; --t) {
    leaves.clear();
    GatherFrequent(tree, 0, 0, (uint32_t)t, leaves);
    if (leaves.size() >= CV_PALETTE_ENTRIES) break;
  }
  std::stable_sort(leaves.begin(), leaves.end(),
                   [&](int32_t a, int32_t b) { return tree[a].Count > tree[b].Count; });
  std::vector<Triple> list;
  list.reserve(leaves.size());
  for (int32_t leaf : leaves) list.push_back({tree[leaf].Color[0], tree[leaf].Color[1], tree[leaf].Color[2]});
  Triple colours[CV_PALETTE_ENTRIES];
  ChooseFrom(list, colours);
  ToBytes(colours, Out);
  return 1;
}

int cvBitmap_BuildPalGood(const void* Pixels, int32_t Width, int32_t Height, int32_t StrideBytes,
                          int32_t Format, uint8_t* Out) {
  Image img;
  Octree tree;
  FewColours few;
  if (!FillTree(Pixels, Width, Height, StrideBytes, Format, Out, &few, &img, tree)) return 0;
  Triple colours[CV_PALETTE_ENTRIES];
  if (few.Fits()) {
    // At most 256 colours: exactly those, chosen as the fast builder does.
    ChooseFrom(few.ByCount(), colours);
    ToBytes(colours, Out);
    return 1;
  }
  Average(tree, 0);
  ComputeErrors(tree, 0, tree[0].Color);
  // Colours of a single pixel are dropped (left to their parents) as noise,
  // unless that leaves fewer than 256 colours to choose from: a small or
  // sparse image whose colours are mostly single keeps them.
  Prune(tree, 0, CountPrunedLeaves(tree, 0, 2) >= CV_PALETTE_ENTRIES ? 2 : 1);
  std::vector<int32_t> leaves;
  GatherLeaves(tree, 0, leaves);

  // The nodes are chosen in YUV; each one's palette colour is the RGB mean
  // of the pixels it stands for, which keeps colours off the rounding of the
  // transform (pure red stays (255, 0, 0)).
  int32_t chosen[CV_PALETTE_ENTRIES];
  int32_t n = 0;
  if (leaves.size() < CV_PALETTE_ENTRIES) {
    std::vector<Triple> list;
    for (int32_t leaf : leaves) list.push_back({tree[leaf].Color[0], tree[leaf].Color[1], tree[leaf].Color[2]});
    ChooseColors(list, chosen);
    for (int32_t i = 0; i < CV_PALETTE_ENTRIES; ++i) chosen[i] = leaves[(size_t)chosen[i]];
    n = CV_PALETTE_ENTRIES;
  } else {
    ErrorBuckets buckets(tree);
    for (int32_t leaf : leaves) buckets.Put(leaf);
    size_t leafCount = leaves.size();
    while (leafCount > CV_PALETTE_ENTRIES) {
      const int32_t node = buckets.TakeLowest();
      if (node < 0) break;
      const int32_t parent = tree[node].Parent - 1;
      if (parent < 0) break;
      if (--tree[parent].NumChildren == 0) buckets.Put(parent);  // the parent takes its place
      else --leafCount;
    }
    n = buckets.Emit(chosen);
  }
  std::fill(colours, colours + CV_PALETTE_ENTRIES, Triple{0, 0, 0});
  for (int32_t i = 0; i < n; ++i) {
    const uint32_t count = tree[chosen[i]].Count;
    const uint64_t* rgb = tree.RgbOf(chosen[i]);
    for (int k = 0; k < 3; ++k) colours[i][k] = count ? (int32_t)((rgb[k] + count / 2) / count) : 0;
  }
  ToBytes(colours, Out);
  return 1;
}

cvBitmap_Palette* cvBitmap_CreatePalFast(const cvBitmap_Info* Info, const void* Pixels) {
  return CreateFromInfo(Info, Pixels, cvBitmap_BuildPalFast);
}

cvBitmap_Palette* cvBitmap_CreatePalGood(const cvBitmap_Info* Info, const void* Pixels) {
  return CreateFromInfo(Info, Pixels, cvBitmap_BuildPalGood);
}

int cvBitmap_PalOptimize(const cvBitmap_Info* Info, const void* Pixels, uint8_t* Triples,
                         int32_t Count, int32_t SampleLimit) {
  int32_t strideBytes = 0;
  if (!InfoImage(Info, Pixels, &strideBytes)) {
    CV_ERROR(-1);
    return 0;
  }
  return cvBitmap_PalOptimizeData(Pixels, Info->Width, Info->Height, strideBytes, Info->Format,
                                  Triples, Count, SampleLimit);
}

cvBitmap_PaletteBuilder cvBitmap_SetPaletteBuilder(cvBitmap_PaletteBuilder Builder) {
  const cvBitmap_PaletteBuilder previous = gBuilder;
  gBuilder = Builder ? Builder : cvBitmap_CreatePalGood;
  return previous;
}

cvBitmap_PaletteBuilder cvBitmap_GetPaletteBuilder(void) { return gBuilder; }

cvBitmap_Palette* cvBitmap_CreatePaletteForImage(const cvBitmap_Info* Info, const void* Pixels) {
  if (!Info) {
    CV_ERROR(-1);
    return nullptr;
  }
  if (Info->Format == CV_PIXELFORMAT_8BIT_PAL) {
    if (!Info->Palette || !cvBitmap_Palette_CreateRef(Info->Palette)) {
      CV_ERROR(-1);
      return nullptr;
    }
    return Info->Palette;
  }
  if (Info->Format == CV_PIXELFORMAT_8BIT_GRAY) {
    cvBitmap_Palette* palette = cvBitmap_Palette_Create(CV_PIXELFORMAT_8BIT_GRAY, CV_PALETTE_ENTRIES);
    uint8_t ramp[CV_PALETTE_ENTRIES];
    for (int32_t i = 0; i < CV_PALETTE_ENTRIES; ++i) ramp[i] = (uint8_t)i;
    if (!palette ||
        !cvBitmap_Palette_SetData(palette, ramp, CV_PIXELFORMAT_8BIT_GRAY, CV_PALETTE_ENTRIES)) {
      cvBitmap_Palette_Destroy(&palette);
      CV_ERROR(-1);
      return nullptr;
    }
    return palette;
  }
  cvBitmap_Palette* palette = gBuilder(Info, Pixels);
  if (!palette) CV_ERROR(-1);
  return palette;
}

cvBitmap_Palette* cvBitmap_CreatePaletteForBitmap(cvBitmap* Bitmap, int Optimise) {
  cvBitmap* lock = nullptr;
  if (!Bitmap || !cvBitmap_LockForRead(Bitmap, &lock, 0, 0, CV_PIXELFORMAT_24BIT_RGB, 0, 0)) {
    CV_ERROR(-1);
    return nullptr;
  }
  cvBitmap_Info info;
  const void* bits = cvBitmap_GetBits(lock);
  cvBitmap_Palette* palette = nullptr;
  if (bits && cvBitmap_GetInfo(lock, &info, nullptr))
    palette = cvBitmap_CreatePaletteForImage(&info, bits);
  if (palette && Optimise) {
    uint8_t triples[CV_PALETTE_ENTRIES * 3] = {};
    if (!cvBitmap_Palette_GetData(palette, triples, CV_PIXELFORMAT_24BIT_RGB, CV_PALETTE_ENTRIES) ||
        !cvBitmap_PalOptimize(&info, bits, triples, CV_PALETTE_ENTRIES, 0) ||
        !cvBitmap_Palette_SetData(palette, triples, CV_PIXELFORMAT_24BIT_RGB, CV_PALETTE_ENTRIES))
      cvBitmap_Palette_Destroy(&palette);
  }
  cvBitmap_UnLock_NoChange(lock);
  if (!palette) CV_ERROR(-1);
  return palette;
}

int cvBitmap_PalettePools_Create(void) {
  // The pool grows block by block on demand; creating it early only makes
  // sure its first block exists.
  if (gNodes.Used() == 0) {
    if (gNodes.New() < 0) {
      CV_ERROR(-1);
      return 0;
    }
    gNodes.Reset();
  }
  return 1;
}

void cvBitmap_PalettePools_Free(void) {
  gNodes.Free();
  gSums.Free();
}
