// What the codec files of the image-file module share: the checked creation
// of the bitmap a reader fills, and the packed image every writer encodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Bitmap/cvbitmap.h"
#include "imagefile/imagefile.h"

namespace cvimagefile {

// A reader's failure reason, shown to the user: short, lower case, no path.
using Reason = std::string;

// Checks Width x Height pixels of BytesPerPixel against the engine's limits
// (1 to CV_IMAGEFILE_MAX_SIDE a side, the level within CV_SIZE_LIMIT).
bool SizeFits(int64_t Width, int64_t Height, int64_t BytesPerPixel, Reason* Why);

// A Width x Height bitmap in Format with level 0 allocated (zero-filled) and
// marked valid, after SizeFits. Null with the reason on failure.
cvBitmap* NewBitmap(int64_t Width, int64_t Height, cvPixelFormat Format, Reason* Why);

// Gives Bitmap (8 bit pal) a palette of Count 32 bit XRGB entries, grown to
// cover the largest index the pixels use (extra entries black), and makes
// KeyIndex (-1: none) its colour key.
bool SetPalette(cvBitmap* Bitmap, const uint32_t* Entries, int32_t Count, int32_t KeyIndex,
                Reason* Why);

// An image ready to encode: rows packed with no padding, Channels bytes per
// pixel (1 grey or palette index, 3 R G B, 4 R G B A). A palette image has
// Channels 1 and 4 bytes (R G B A) per palette entry; every index is below
// the entry count.
struct PackedImage {
  int32_t Width = 0, Height = 0;
  int32_t Channels = 0;
  std::vector<uint8_t> Pixels;
  std::vector<uint8_t> Palette;
  bool IsPalette() const { return !Palette.empty(); }
};

// Codecs. Readers return a bitmap or null with the reason; writers append
// the file's bytes to *Out.
cvBitmap* ReadPng(const uint8_t* Data, size_t Size, Reason* Why);
cvBitmap* ReadJpeg(const uint8_t* Data, size_t Size, Reason* Why);
cvBitmap* ReadTga(const uint8_t* Data, size_t Size, Reason* Why);
bool TgaHeaderLooksValid(const uint8_t* Data, size_t Size);
bool WritePng(const PackedImage& Image, std::vector<uint8_t>* Out, Reason* Why);
bool WriteTga(const PackedImage& Image, std::vector<uint8_t>* Out, Reason* Why);

}  // namespace cvimagefile
