// Colour masks of 16- and 32-bit BMP files: checking them, choosing the
// engine format that keeps every channel, and converting pixels into it.
//
// Paint programs write masked pixels in many layouts (565, 1555 and 4444 in
// 16 bits; XRGB, ARGB, RGBA and 10-bit channels in 32). A layout the engine
// has as a format is kept as it is; any other one is moved into the smallest
// engine format whose channels are at least as wide, channels wider than 8
// bits being scaled down to 8.
#include <bit>

#include "Bitmap/bitmap.h"
#include "Bitmap/bmp_internal.h"
#include "Support/cvsupport.h"

namespace {

// Candidate formats for layouts no engine format matches, smallest first.
constexpr cvPixelFormat kOpaqueChoices[] = {CV_PIXELFORMAT_16BIT_555_RGB,
                                            CV_PIXELFORMAT_16BIT_565_RGB,
                                            CV_PIXELFORMAT_32BIT_XRGB};
constexpr cvPixelFormat kAlphaChoices[] = {CV_PIXELFORMAT_16BIT_1555_ARGB,
                                           CV_PIXELFORMAT_16BIT_4444_ARGB,
                                           CV_PIXELFORMAT_32BIT_ARGB};

cvbmp::MaskChannel ChannelOf(uint32_t Mask) {
  if (!Mask) return {0, 0, 0};
  return {Mask, (uint32_t)std::countr_zero(Mask), (uint32_t)std::popcount(Mask)};
}

// The channel layout of an engine format, from its table row.
cvbmp::MaskLayout LayoutOf(cvPixelFormat Format) {
  const cvPixelFormat_Operations* ops = cvPixelFormat_GetOperations(Format);
  return {{ChannelOf(ops->RedMask), ChannelOf(ops->GreenMask), ChannelOf(ops->BlueMask),
           ChannelOf(ops->AlphaMask)},
          ops->BytesPerPixel};
}

bool Holds(const cvbmp::MaskLayout& Target, const cvbmp::MaskLayout& Source) {
  for (int c = 0; c < 4; ++c) {
    const uint32_t wanted = Source.Channel[c].Bits < 8 ? Source.Channel[c].Bits : 8;
    if (Target.Channel[c].Bits < wanted) return false;
  }
  return true;
}

}  // namespace

namespace cvbmp {

uint32_t ScaleChannel(uint32_t Value, uint32_t Bits, uint32_t To) {
  if (Bits == To) return Value;
  const uint64_t from = (Bits >= 32) ? 0xFFFFFFFFull : ((1ull << Bits) - 1);
  const uint64_t to = (1ull << To) - 1;
  return (uint32_t)((Value * to * 2 + from) / (from * 2));
}

int AnalyseMasks(const uint32_t Masks[4], int32_t BitCount, MaskLayout* Out) {
  if (BitCount != 16 && BitCount != 32) return CV_ERROR(-1), 0;
  const uint32_t pixelBits = BitCount == 32 ? 0xFFFFFFFFu : 0xFFFFu;
  uint32_t seen = 0;
  MaskLayout layout{};
  layout.Bytes = BitCount / 8;
  for (int c = 0; c < 4; ++c) {
    const uint32_t mask = Masks[c];
    if (!mask) {
      // Every colour channel needs bits; alpha may be absent.
      if (c < 3) return CV_ERROR(-1), 0;
      continue;
    }
    const MaskChannel channel = ChannelOf(mask);
    // One run of bits, inside the pixel, shared with no other channel.
    const bool contiguous = channel.Bits == 32 || (mask >> channel.Shift) == (1u << channel.Bits) - 1;
    if (!contiguous || (mask & ~pixelBits) || (mask & seen)) return CV_ERROR(-1), 0;
    seen |= mask;
    layout.Channel[c] = channel;
  }
  *Out = layout;
  return 1;
}

cvPixelFormat ChooseMaskedFormat(const MaskLayout& Layout, bool* Exact) {
  *Exact = false;
  for (int32_t f = CV_PIXELFORMAT_16BIT_555_RGB; f <= CV_PIXELFORMAT_32BIT_ABGR; ++f) {
    const cvPixelFormat_Operations* ops = cvPixelFormat_GetOperations(f);
    if (ops->BytesPerPixel != Layout.Bytes || f == CV_PIXELFORMAT_24BIT_YUV) continue;
    if (ops->RedMask == Layout.Channel[0].Mask && ops->GreenMask == Layout.Channel[1].Mask &&
        ops->BlueMask == Layout.Channel[2].Mask && ops->AlphaMask == Layout.Channel[3].Mask) {
      *Exact = true;
      return f;
    }
  }
  const bool alpha = Layout.Channel[3].Bits != 0;
  const cvPixelFormat* choices = alpha ? kAlphaChoices : kOpaqueChoices;
  for (int i = 0; i < 3; ++i)
    if (Holds(LayoutOf(choices[i]), Layout)) return choices[i];
  // The last choice of each list has 8 bits in every channel and holds anything.
  return choices[2];
}

void ConvertMaskedRow(const MaskLayout& Layout, cvPixelFormat Format, const uint8_t* Source,
                      uint8_t* Dest, int32_t Width) {
  const MaskLayout target = LayoutOf(Format);
  for (int32_t x = 0; x < Width; ++x) {
    const uint32_t pixel = Layout.Bytes == 2 ? cvLE_Get16(Source) : cvLE_Get32(Source);
    uint32_t out = 0;
    for (int c = 0; c < 4; ++c) {
      const MaskChannel& from = Layout.Channel[c];
      const MaskChannel& to = target.Channel[c];
      if (!from.Bits || !to.Bits) continue;
      const uint32_t value = (pixel & from.Mask) >> from.Shift;
      out |= ScaleChannel(value, from.Bits, to.Bits) << to.Shift;
    }
    if (target.Bytes == 2) cvLE_Put16(Dest, (uint16_t)out);
    else cvLE_Put32(Dest, out);
    Source += Layout.Bytes;
    Dest += target.Bytes;
  }
}

}  // namespace cvbmp
