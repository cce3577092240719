// TGA through stb_image and stb_image_write: true colour (15 to 32 bits),
// grey (with or without alpha) and palette images, plain or run-length
// encoded, any origin corner; written as run-length encoded grey, RGB or
// RGBA.
//
// TGA has no signature and the decoder reads zeros past the end of its
// input, so before it runs, the header is checked for consistency and the
// pixel data (walking the run-length packets) is checked to be all there:
// a file cut short is refused instead of coming back partly black.
#include <stb_image.h>
#include <stb_image_write.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "Support/cvsupport.h"
#include "imagefile_internal.h"

namespace cvimagefile {
namespace {

enum : uint8_t { kColourMapped = 1, kTrueColour = 2, kGrey = 3, kRunLength = 8 };
constexpr size_t kHeaderBytes = 18;

struct TgaHeader {
  uint8_t IdLength, MapType, ImageType;
  uint16_t MapFirst, MapLength;
  uint8_t MapBits;
  uint16_t Width, Height;
  uint8_t PixelBits, Descriptor;

  explicit TgaHeader(const uint8_t* P)
      : IdLength(P[0]), MapType(P[1]), ImageType(P[2]), MapFirst(cvLE_Get16(P + 3)),
        MapLength(cvLE_Get16(P + 5)), MapBits(P[7]), Width(cvLE_Get16(P + 12)),
        Height(cvLE_Get16(P + 14)), PixelBits(P[16]), Descriptor(P[17]) {}
  uint8_t BaseType() const { return ImageType & ~kRunLength; }
  bool RunLength() const { return (ImageType & kRunLength) != 0; }
  size_t PixelBytes() const { return (PixelBits + 7u) / 8u; }
  size_t MapBytes() const { return MapType ? (size_t)MapLength * ((MapBits + 7u) / 8u) : 0; }
};

bool OneOf(int V, std::initializer_list<int> Set) { return std::find(Set.begin(), Set.end(), V) != Set.end(); }

// Whether the header describes an image the decoder can read.
bool Consistent(const TgaHeader& H) {
  if (H.Width < 1 || H.Height < 1 || (H.Descriptor & 0xC0)) return false;  // no interleaving
  switch (H.BaseType()) {
    case kColourMapped:
      return H.MapType == 1 && H.MapLength > 0 && OneOf(H.MapBits, {8, 15, 16, 24, 32}) &&
             OneOf(H.PixelBits, {8, 16});
    case kTrueColour: return H.MapType == 0 && OneOf(H.PixelBits, {15, 16, 24, 32});
    case kGrey: return H.MapType == 0 && OneOf(H.PixelBits, {8, 16});
    default: return false;
  }
}

// Whether the pixel data of W x H pixels starting at Offset is all in the file.
bool PixelsPresent(const TgaHeader& H, const uint8_t* Data, size_t Size, size_t Offset) {
  const uint64_t Pixels = (uint64_t)H.Width * H.Height;
  const size_t Bytes = H.PixelBytes();
  if (Offset > Size) return false;
  if (!H.RunLength()) return Pixels * Bytes <= Size - Offset;
  uint64_t Done = 0;
  size_t Pos = Offset;
  while (Done < Pixels) {
    if (Pos >= Size) return false;
    const uint8_t Packet = Data[Pos++];
    const uint64_t Count = (Packet & 0x7Fu) + 1u;
    const size_t Need = (Packet & 0x80) ? Bytes : Bytes * (size_t)Count;
    if (Need > Size - Pos) return false;
    Pos += Need;
    Done += Count;
  }
  return true;
}

// Reverses the pixels of each row (images stored right to left).
void Mirror(uint8_t* Pixels, int32_t Width, int32_t Height, int32_t Bytes) {
  for (int32_t Y = 0; Y < Height; ++Y) {
    uint8_t* Row = Pixels + (size_t)Y * Width * Bytes;
    for (int32_t L = 0, R = Width - 1; L < R; ++L, --R)
      std::swap_ranges(Row + (size_t)L * Bytes, Row + (size_t)(L + 1) * Bytes, Row + (size_t)R * Bytes);
  }
}

void AppendBytes(void* Context, void* Data, int Size) {
  auto* Out = static_cast<std::vector<uint8_t>*>(Context);
  const auto* P = static_cast<const uint8_t*>(Data);
  Out->insert(Out->end(), P, P + Size);
}

}  // namespace

bool TgaHeaderLooksValid(const uint8_t* Data, size_t Size) {
  return Data && Size >= kHeaderBytes && Consistent(TgaHeader(Data));
}

cvBitmap* ReadTga(const uint8_t* Data, size_t Size, Reason* Why) {
  if (!TgaHeaderLooksValid(Data, Size)) {
    *Why = "the header is not that of a TGA image";
    return nullptr;
  }
  const TgaHeader H(Data);
  if (!SizeFits(H.Width, H.Height, 4, Why)) return nullptr;
  if (H.BaseType() == kColourMapped && H.MapFirst != 0) {
    *Why = "palettes that start past entry 0 are not supported";
    return nullptr;
  }
  if (!PixelsPresent(H, Data, Size, kHeaderBytes + H.IdLength + H.MapBytes())) {
    *Why = "the file ends before the image does";
    return nullptr;
  }
  int W = 0, Ht = 0, Channels = 0;
  stbi_uc* Pixels = stbi_load_from_memory(Data, (int)Size, &W, &Ht, &Channels, 0);
  if (!Pixels) {
    const char* Text = stbi_failure_reason();
    *Why = std::string("the decoder refused it (") + (Text ? Text : "damaged file") + ")";
    return nullptr;
  }
  std::unique_ptr<stbi_uc, void (*)(void*)> Owner(Pixels, stbi_image_free);
  if (W != H.Width || Ht != H.Height || Channels < 1 || Channels > 4) {
    *Why = "the decoder gave an image of another size";
    return nullptr;
  }
  if (H.Descriptor & 0x10) Mirror(Pixels, W, Ht, Channels);

  // Grey stays grey; colour becomes B G R (24 bit BGR), anything with alpha
  // B G R A (32 bit ARGB).
  const cvPixelFormat Format = Channels == 1 ? CV_PIXELFORMAT_8BIT_GRAY
                               : Channels == 3 ? CV_PIXELFORMAT_24BIT_BGR
                                               : CV_PIXELFORMAT_32BIT_ARGB;
  cvBitmap* B = NewBitmap(W, Ht, Format, Why);
  if (!B) return nullptr;
  uint8_t* Out = cvBitmap_GetMipData(B, 0);
  const size_t Count = (size_t)W * Ht;
  const uint8_t* In = Pixels;
  for (size_t I = 0; I < Count; ++I, In += Channels) {
    switch (Channels) {
      case 1: *Out++ = In[0]; break;
      case 2: Out[0] = Out[1] = Out[2] = In[0], Out[3] = In[1], Out += 4; break;
      case 3: Out[0] = In[2], Out[1] = In[1], Out[2] = In[0], Out += 3; break;
      default: Out[0] = In[2], Out[1] = In[1], Out[2] = In[0], Out[3] = In[3], Out += 4; break;
    }
  }
  return B;
}

bool WriteTga(const PackedImage& Image, std::vector<uint8_t>* Out, Reason* Why) {
  // TGA palettes are not written: palette images go out as RGB, or RGBA when
  // some entry is transparent.
  const PackedImage* Source = &Image;
  PackedImage Expanded;
  if (Image.IsPalette()) {
    const size_t Count = Image.Palette.size() / 4;
    bool Alpha = false;
    for (size_t I = 0; I < Count; ++I) Alpha = Alpha || Image.Palette[I * 4 + 3] != 255;
    Expanded.Width = Image.Width, Expanded.Height = Image.Height, Expanded.Channels = Alpha ? 4 : 3;
    Expanded.Pixels.reserve(Image.Pixels.size() * Expanded.Channels);
    for (uint8_t Index : Image.Pixels) {
      const uint8_t* E = &Image.Palette[(size_t)Index * 4];
      Expanded.Pixels.insert(Expanded.Pixels.end(), E, E + Expanded.Channels);
    }
    Source = &Expanded;
  }
  stbi_write_tga_with_rle = 1;
  if (!stbi_write_tga_to_func(AppendBytes, Out, Source->Width, Source->Height, Source->Channels,
                              Source->Pixels.data())) {
    *Why = "TGA: the encoder failed";
    return false;
  }
  return true;
}

}  // namespace cvimagefile
