// The constant table of the 21 pixel formats and their per-format pixel functions.
//
// Each format's functions are generated from its row of channel masks,
// shifts and adds, so the rounding rules live in one place: compose keeps the
// top bits of each channel; decompose scales back to 8 bits and adds half a
// quantisation step (5-bit +4, 6-bit +2, 4-bit +8). The alpha of 4444 and
// 1555 is decomposed without an add (0..240, and 0 or 128).
#include <algorithm>
#include <bit>

#include "Bitmap/bitmap.h"
#include "Bitmap/bitmap_internal.h"
#include "Support/cvsupport.h"

namespace {

struct FormatRow {
  uint32_t Mask[4];
  int32_t Shift[4];
  int32_t Add[4];
  int32_t Bytes;
};

// Masks, shifts and adds as the table carries them (R, G, B, A).
constexpr FormatRow kRows[CV_PIXELFORMAT_COUNT] = {
    {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, 0},                                      // invalid
    {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, 1},                                      // 8bit pal
    {{0x3F, 0x7F, 0x3F, 0}, {-2, -1, -2, 0}, {3, 0, 3, 255}, 1},                        // 8bit gray
    {{0x7C00, 0x03E0, 0x001F, 0}, {7, 2, -3, 0}, {4, 4, 4, 255}, 2},                    // 555 RGB
    {{0x001F, 0x03E0, 0x7C00, 0}, {-3, 2, 7, 0}, {4, 4, 4, 255}, 2},                    // 555 BGR
    {{0xF800, 0x07E0, 0x001F, 0}, {8, 3, -3, 0}, {4, 2, 4, 255}, 2},                    // 565 RGB
    {{0x001F, 0x07E0, 0xF800, 0}, {-3, 3, 8, 0}, {4, 2, 4, 255}, 2},                    // 565 BGR
    {{0x0F00, 0x00F0, 0x000F, 0xF000}, {4, 0, -4, 8}, {8, 8, 8, 8}, 2},                 // 4444 ARGB
    {{0x7C00, 0x03E0, 0x001F, 0x8000}, {7, 2, -3, 8}, {4, 4, 4, 64}, 2},                // 1555 ARGB
    {{0xFF0000, 0x00FF00, 0x0000FF, 0}, {16, 8, 0, 0}, {0, 0, 0, 255}, 3},              // 24bit RGB
    {{0x0000FF, 0x00FF00, 0xFF0000, 0}, {0, 8, 16, 0}, {0, 0, 0, 255}, 3},              // 24bit BGR
    {{0xFF0000, 0x00FF00, 0x0000FF, 0}, {16, 8, 0, 0}, {0, 0, 0, 255}, 3},              // 24bit YUV
    {{0xFF000000, 0xFF0000, 0xFF00, 0}, {24, 16, 8, 0}, {0, 0, 0, 255}, 4},             // RGBX
    {{0xFF0000, 0xFF00, 0xFF, 0}, {16, 8, 0, 0}, {0, 0, 0, 255}, 4},                    // XRGB
    {{0xFF00, 0xFF0000, 0xFF000000, 0}, {8, 16, 24, 0}, {0, 0, 0, 255}, 4},             // BGRX
    {{0xFF, 0xFF00, 0xFF0000, 0}, {0, 8, 16, 0}, {0, 0, 0, 255}, 4},                    // XBGR
    {{0xFF000000, 0xFF0000, 0xFF00, 0xFF}, {24, 16, 8, 0}, {0, 0, 0, 0}, 4},            // RGBA
    {{0xFF0000, 0xFF00, 0xFF, 0xFF000000}, {16, 8, 0, 24}, {0, 0, 0, 0}, 4},            // ARGB
    {{0xFF00, 0xFF0000, 0xFF000000, 0xFF}, {8, 16, 24, 0}, {0, 0, 0, 0}, 4},            // BGRA
    {{0xFF, 0xFF00, 0xFF0000, 0xFF000000}, {0, 8, 16, 24}, {0, 0, 0, 0}, 4},            // ABGR
    {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, 0},                                      // wavelet
};

constexpr const char* kNames[CV_PIXELFORMAT_COUNT] = {
    "invalid",     "8bit pal",    "8bit gray",   "555 RGB",     "555 BGR",     "565 RGB",
    "565 BGR",     "4444 ARGB",   "1555 ARGB",   "24bit RGB",   "24bit BGR",   "24bit YUV",
    "32 bit RGBX", "32 bit XRGB", "32 bit BGRX", "32 bit XBGR", "32 bit RGBA", "32 bit ARGB",
    "32 bit BGRA", "32 bit ABGR", "wavelet"};

template <int32_t Bytes>
inline uint32_t ReadRaw(const uint8_t* P) {
  if constexpr (Bytes == 1) return P[0];
  if constexpr (Bytes == 2) return cvLE_Get16(P);
  if constexpr (Bytes == 3) return ((uint32_t)P[0] << 16) | ((uint32_t)P[1] << 8) | P[2];
  if constexpr (Bytes == 4) return cvLE_Get32(P);
  return 0;
}

template <int32_t Bytes>
inline void WriteRaw(uint8_t* P, uint32_t V) {
  if constexpr (Bytes == 1) P[0] = (uint8_t)V;
  if constexpr (Bytes == 2) cvLE_Put16(P, (uint16_t)V);
  if constexpr (Bytes == 3) {
    P[0] = (uint8_t)(V >> 16);
    P[1] = (uint8_t)(V >> 8);
    P[2] = (uint8_t)V;
  }
  if constexpr (Bytes == 4) cvLE_Put32(P, V);
}

template <int F>
uint32_t Compose(int32_t R, int32_t G, int32_t B, int32_t A) {
  if constexpr (F == CV_PIXELFORMAT_8BIT_GRAY) {
    (void)A;
    return (uint32_t)std::max({R, G, B}) & 0xFF;
  } else {
    constexpr FormatRow Row = kRows[F];
    const int32_t C[4] = {R, G, B, A};
    uint32_t V = 0;
    for (int i = 0; i < 4; ++i) V |= cvbitmap::ComposeChannel((uint32_t)C[i], Row.Mask[i], Row.Shift[i]);
    return V;
  }
}

template <int F>
void Decompose(uint32_t P, int32_t* R, int32_t* G, int32_t* B, int32_t* A) {
  if constexpr (F == CV_PIXELFORMAT_8BIT_GRAY) {
    *R = *G = *B = (int32_t)(P & 0xFF);
    *A = 255;
  } else {
    constexpr cvbitmap::Codec C = cvbitmap::MakeCodec(F);
    C.Decompose(P, R, G, B, A);
  }
}

template <int F>
void GetColor(const uint8_t** P, int32_t* R, int32_t* G, int32_t* B, int32_t* A) {
  Decompose<F>(ReadRaw<kRows[F].Bytes>(*P), R, G, B, A);
  *P += kRows[F].Bytes;
}

template <int F>
void PutColor(uint8_t** P, int32_t R, int32_t G, int32_t B, int32_t A) {
  WriteRaw<kRows[F].Bytes>(*P, Compose<F>(R, G, B, A));
  *P += kRows[F].Bytes;
}

template <int F>
uint32_t GetPixel(const uint8_t** P) {
  uint32_t V = ReadRaw<kRows[F].Bytes>(*P);
  *P += kRows[F].Bytes;
  return V;
}

template <int F>
void PutPixel(uint8_t** P, uint32_t V) {
  WriteRaw<kRows[F].Bytes>(*P, V);
  *P += kRows[F].Bytes;
}

template <int F>
constexpr cvPixelFormat_Operations RawRow() {
  constexpr FormatRow Row = kRows[F];
  return {Row.Mask[0],  Row.Mask[1],   Row.Mask[2],  Row.Mask[3],  Row.Shift[0],  Row.Shift[1],
          Row.Shift[2], Row.Shift[3],  Row.Add[0],   Row.Add[1],   Row.Add[2],    Row.Add[3],
          Row.Bytes,    0,             kNames[F],    &Compose<F>,  &Decompose<F>, &GetColor<F>,
          &PutColor<F>, &GetPixel<F>,  &PutPixel<F>};
}

// The YUV format carries its channels as they are, with the functions of 24-bit RGB.
constexpr cvPixelFormat_Operations YuvRow() {
  cvPixelFormat_Operations Ops = RawRow<CV_PIXELFORMAT_24BIT_RGB>();
  Ops.Description = kNames[CV_PIXELFORMAT_24BIT_YUV];
  return Ops;
}

const cvPixelFormat_Operations kOperations[CV_PIXELFORMAT_COUNT] = {
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, kNames[0], nullptr, nullptr, nullptr, nullptr,
     nullptr, nullptr},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, kNames[1], nullptr, nullptr, nullptr, nullptr,
     &GetPixel<CV_PIXELFORMAT_8BIT_PAL>, &PutPixel<CV_PIXELFORMAT_8BIT_PAL>},
    RawRow<2>(),
    RawRow<3>(),
    RawRow<4>(),
    RawRow<5>(),
    RawRow<6>(),
    RawRow<7>(),
    RawRow<8>(),
    RawRow<9>(),
    RawRow<10>(),
    YuvRow(),
    RawRow<12>(),
    RawRow<13>(),
    RawRow<14>(),
    RawRow<15>(),
    RawRow<16>(),
    RawRow<17>(),
    RawRow<18>(),
    RawRow<19>(),
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, kNames[20], nullptr, nullptr, nullptr, nullptr,
     nullptr, nullptr},
};

}  // namespace

namespace cvbitmap {

Codec MakeCodecRuntime(cvPixelFormat Format) {
  return MakeCodec(cvPixelFormat_IsValid(Format) ? Format : CV_PIXELFORMAT_NO_DATA);
}

uint32_t ReadPixel(const uint8_t* P, int32_t Bytes) {
  switch (Bytes) {
    case 1: return ReadRaw<1>(P);
    case 2: return ReadRaw<2>(P);
    case 3: return ReadRaw<3>(P);
    case 4: return ReadRaw<4>(P);
    default: return 0;
  }
}

void WritePixel(uint8_t* P, int32_t Bytes, uint32_t V) {
  switch (Bytes) {
    case 1: WriteRaw<1>(P, V); break;
    case 2: WriteRaw<2>(P, V); break;
    case 3: WriteRaw<3>(P, V); break;
    case 4: WriteRaw<4>(P, V); break;
    default: break;
  }
}

uint32_t NormalisedMask(cvPixelFormat Format, int Channel) {
  if (!cvPixelFormat_IsValid(Format)) return 0;
  const cvPixelFormat_Operations& Ops = kOperations[Format];
  const uint32_t Masks[4] = {Ops.RedMask, Ops.GreenMask, Ops.BlueMask, Ops.AlphaMask};
  const int32_t Shifts[4] = {Ops.RedShift, Ops.GreenShift, Ops.BlueShift, Ops.AlphaShift};
  const uint32_t M = Masks[Channel];
  const int32_t S = Shifts[Channel];
  return (S >= 0 ? (M >> S) : (M << -S)) & 0xFF;
}

}  // namespace cvbitmap

int cvPixelFormat_IsValid(cvPixelFormat Format) {
  return Format >= 0 && Format < CV_PIXELFORMAT_COUNT;
}

int32_t cvPixelFormat_BytesPerPixel(cvPixelFormat Format) {
  return cvPixelFormat_IsValid(Format) ? kOperations[Format].BytesPerPixel : 0;
}

int cvPixelFormat_HasPalette(cvPixelFormat Format) {
  return cvPixelFormat_IsValid(Format) && kOperations[Format].HasPalette;
}

int cvPixelFormat_HasAlpha(cvPixelFormat Format) {
  return cvPixelFormat_IsValid(Format) && kOperations[Format].AlphaMask != 0;
}

int cvPixelFormat_HasGoodAlpha(cvPixelFormat Format) {
  return cvPixelFormat_IsValid(Format) && std::popcount(kOperations[Format].AlphaMask) > 1;
}

int cvPixelFormat_IsRaw(cvPixelFormat Format) {
  return cvPixelFormat_IsValid(Format) && kOperations[Format].Compose != nullptr;
}

const char* cvPixelFormat_Description(cvPixelFormat Format) {
  return cvPixelFormat_IsValid(Format) ? kOperations[Format].Description : nullptr;
}

const cvPixelFormat_Operations* cvPixelFormat_GetOperations(cvPixelFormat Format) {
  return cvPixelFormat_IsValid(Format) ? &kOperations[Format] : nullptr;
}

int cvPixelFormat_ConvertPixel(cvPixelFormat From, uint32_t Pixel, cvPixelFormat To, uint32_t* Out) {
  if (!cvPixelFormat_IsRaw(From) || !cvPixelFormat_IsRaw(To) || !Out) {
    CV_ERROR(-1);
    return 0;
  }
  int32_t R, G, B, A;
  kOperations[From].Decompose(Pixel, &R, &G, &B, &A);
  *Out = kOperations[To].Compose(R, G, B, A);
  return 1;
}
