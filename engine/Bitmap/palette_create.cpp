// Palette builders: the octree quantiser "createPalFast", the histogram
// quantiser "createPalGood", the integer YUV transform, the process-wide
// current builder and the palette of an image or bitmap.
//
// The fast builder inserts every pixel once into an octree over the bits
// 7..0 of the three channels. The tree lives in one process-wide pool of
// index-linked records that is reset before each build, so a build frees
// nothing per node; builds are therefore not reentrant.
//
// An image of at most 256 distinct colours gets exactly its colours from
// either builder (the fast builder's choice does that by itself; the good
// builder counts the colours first and then picks among them as the fast
// builder does). Other images get from the good builder a variance-based
// median cut of their colour histogram refined by k-means passes
// (palette_refine.cpp), which minimises the squared RGB error of the mapped
// image far better than an octree.
#include <algorithm>
#include <array>
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
  uint32_t Count;  // pixels passing through or ending here
  int32_t Color[3];
};

cvpal::ChunkPool<OctNode> gNodes;

using Triple = std::array<int32_t, 3>;

int64_t Distance2(const int32_t* A, const int32_t* B) {
  const int64_t d0 = A[0] - B[0], d1 = A[1] - B[1], d2 = A[2] - B[2];
  return d0 * d0 + d1 * d1 + d2 * d2;
}

int32_t Clamp255(int32_t V) { return V < 0 ? 0 : (V > 255 ? 255 : V); }

class Octree {
 public:
  bool Reset() {
    gNodes.Reset();
    return gNodes.New() == 0;
  }

  OctNode& operator[](int32_t Index) { return gNodes[Index]; }

  // Inserts one pixel of colour (R, G, B).
  bool Insert(int32_t R, int32_t G, int32_t B) {
    int32_t node = 0;
    gNodes[0].Count++;
    for (int32_t bit = 7; bit >= 0; --bit) {
      const int32_t c = (((R >> bit) & 1) << 2) | (((G >> bit) & 1) << 1) | ((B >> bit) & 1);
      int32_t child = gNodes[node].Child[c] - 1;
      if (child < 0) {
        child = gNodes.New();
        if (child < 0) return false;
        gNodes[node].Child[c] = child + 1;
      }
      node = child;
      gNodes[node].Count++;
    }
    OctNode& leaf = gNodes[node];
    if (leaf.Count == 1) leaf.Color[0] = R, leaf.Color[1] = G, leaf.Color[2] = B;
    return true;
  }
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

// Inserts every pixel of the image once.
bool InsertPixels(Octree& Tree, const Image& Img) {
  const int32_t bpp = Img.Reader.BytesPerPixel();
  for (int32_t y = 0; y < Img.Height; ++y) {
    const uint8_t* p = Img.Pixels + (size_t)y * (size_t)Img.StrideBytes;
    for (int32_t x = 0; x < Img.Width; ++x, p += bpp) {
      int32_t r, g, b;
      Img.Reader.Read(p, &r, &g, &b);
      if (!Tree.Insert(r, g, b)) return false;
    }
  }
  return true;
}

// Counts the colours of an image of at most 256 colours into Few.
void CountColours(const Image& Img, FewColours& Few) {
  const int32_t bpp = Img.Reader.BytesPerPixel();
  for (int32_t y = 0; y < Img.Height && Few.Fits(); ++y) {
    const uint8_t* p = Img.Pixels + (size_t)y * (size_t)Img.StrideBytes;
    for (int32_t x = 0; x < Img.Width; ++x, p += bpp) {
      int32_t r, g, b;
      Img.Reader.Read(p, &r, &g, &b);
      Few.Add(r, g, b);
    }
  }
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

// Takes the pixels apart and sorts them into Tree; logs and fails on bad
// arguments or when the tree cannot grow.
bool FillTree(const void* Pixels, int32_t Width, int32_t Height, int32_t StrideBytes, int32_t Format,
              const uint8_t* Out, Image* Img, Octree& Tree) {
  if (!Out || !MakeImage(Pixels, Width, Height, StrideBytes, Format, Img) || !Tree.Reset() ||
      !InsertPixels(Tree, *Img)) {
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
  if (!FillTree(Pixels, Width, Height, StrideBytes, Format, Out, &img, tree)) return 0;
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
  if (!Out || !MakeImage(Pixels, Width, Height, StrideBytes, Format, &img)) {
    CV_ERROR(-1);
    return 0;
  }
  const int built = cvpal::BuildByHistogram(img.Pixels, img.Width, img.Height, img.StrideBytes, img.Reader, Out);
  if (built == 0) {
    CV_ERROR(-1);
    return 0;
  }
  if (built < 0) {
    // At most 256 colours: exactly those, chosen as the fast builder does.
    FewColours few;
    CountColours(img, few);
    Triple colours[CV_PALETTE_ENTRIES];
    ChooseFrom(few.ByCount(), colours);
    ToBytes(colours, Out);
  }
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

void cvBitmap_PalettePools_Free(void) { gNodes.Free(); }
