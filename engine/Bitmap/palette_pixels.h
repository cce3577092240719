// Reading the pixels of an image as RGB for the palette builders: 24-bit
// RGB, YUV and BGR byte by byte, other raw formats through their get-colour
// function. Private to the palette builders.
#pragma once

#include <cstdint>

#include "Bitmap/bitmap.h"

namespace cvpal {

class PixelReader {
 public:
  // False for formats the builders cannot read (palettized, no data, wavelet).
  bool Init(int32_t Format) {
    const cvPixelFormat_Operations* ops = cvPixelFormat_GetOperations(Format);
    if (!ops || ops->HasPalette || !ops->GetColor || ops->BytesPerPixel < 1 ||
        ops->BytesPerPixel > 4)
      return false;
    ops_ = ops;
    bytes_ = ops->BytesPerPixel;
    mode_ = (Format == CV_PIXELFORMAT_24BIT_RGB || Format == CV_PIXELFORMAT_24BIT_YUV) ? kRGB
            : Format == CV_PIXELFORMAT_24BIT_BGR                                       ? kBGR
                                                                                       : kOps;
    return true;
  }

  int32_t BytesPerPixel() const { return bytes_; }

  void Read(const uint8_t* P, int32_t* R, int32_t* G, int32_t* B) const {
    switch (mode_) {
      case kRGB:
        *R = P[0], *G = P[1], *B = P[2];
        return;
      case kBGR:
        *R = P[2], *G = P[1], *B = P[0];
        return;
      default: {
        int32_t a;
        ops_->GetColor(&P, R, G, B, &a);
        return;
      }
    }
  }

 private:
  enum Mode { kRGB, kBGR, kOps };
  const cvPixelFormat_Operations* ops_ = nullptr;
  int32_t bytes_ = 0;
  Mode mode_ = kOps;
};

// The good builder's palette for an image of more than 256 colours
// (palette_refine.cpp): variance-based median cut over the image's colour
// histogram, refined by k-means passes over it. 1 with the 256 RGB Triples
// written; -1, with nothing written, when the image has at most 256
// colours; 0 when memory runs out.
int BuildByHistogram(const uint8_t* Pixels, int32_t Width, int32_t Height, int32_t StrideBytes,
                     const PixelReader& Reader, uint8_t* Triples);

}  // namespace cvpal
