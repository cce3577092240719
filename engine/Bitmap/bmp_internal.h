// Private pieces of the Windows BMP reader shared by its files: the
// run-length decoder (bmp_rle.cpp) and the colour-mask analysis and pixel
// conversion of 16- and 32-bit files (bmp_masks.cpp). bmp_read.cpp parses the
// headers and calls them.
#pragma once

#include <cstdint>

#include "Bitmap/bitmap.h"

struct cvVFile;

namespace cvbmp {

// Where the decoded rows go: level 0 of the bitmap, Stride bytes per row.
// File row y (0 = the first row in the file) is bitmap row y for top-down
// files and Height - 1 - y for bottom-up ones.
struct RowTarget {
  uint8_t* Pixels;
  uint64_t Stride;
  int32_t Width;
  int32_t Height;
  bool BottomUp;

  uint8_t* Row(int32_t FileRow) const {
    const int32_t y = BottomUp ? Height - 1 - FileRow : FileRow;
    return Pixels + (uint64_t)y * Stride;
  }
};

// Decodes run-length encoded indices (BitsPerIndex 8 or 4) from the current
// position into Target, whose bytes must be zero: pixels the stream skips with
// a delta or an early end of line or bitmap keep index 0. Runs and literals
// may reach into the row's padding (dropped there); runs past the padded row,
// pixels below the last row and deltas out of the image are refused. On
// success the file position is just after the end-of-bitmap code (or the end
// of the file when the stream stops after the last row without one).
int DecodeRle(cvVFile* File, int32_t BitsPerIndex, const RowTarget& Target);

// One colour channel of a masked pixel: its mask, the position of its lowest
// bit and its width in bits (0 for an absent channel).
struct MaskChannel {
  uint32_t Mask;
  uint32_t Shift;
  uint32_t Bits;
};

// The channel layout of 16- or 32-bit pixels, red, green, blue, alpha.
struct MaskLayout {
  MaskChannel Channel[4];
  int32_t Bytes;
};

// Checks the red, green, blue and alpha masks of BitCount-bit pixels (16 or
// 32): colour masks must be non-empty, every mask contiguous, within the
// pixel and apart from the others; the alpha mask may be 0 (no alpha).
int AnalyseMasks(const uint32_t Masks[4], int32_t BitCount, MaskLayout* Out);

// The engine format that holds every channel of Layout without losing bits:
// the format with exactly these masks when there is one (*Exact is set and
// rows can be copied as they are), else the smallest of 555 RGB, 565 RGB and
// 32 bit XRGB, or with alpha of 1555 ARGB, 4444 ARGB and 32 bit ARGB, whose
// channels are all at least as wide.
cvPixelFormat ChooseMaskedFormat(const MaskLayout& Layout, bool* Exact);

// Converts Width pixels of Layout at Source into the raw pixels of Format
// (chosen by ChooseMaskedFormat) at Dest, scaling each channel to its new
// width with rounding.
void ConvertMaskedRow(const MaskLayout& Layout, cvPixelFormat Format, const uint8_t* Source,
                      uint8_t* Dest, int32_t Width);

// Scales a Bits-wide channel value to To bits, rounding to the nearest level
// (max maps to max). Bits 1..32, To 1..8.
uint32_t ScaleChannel(uint32_t Value, uint32_t Bits, uint32_t To);

}  // namespace cvbmp
