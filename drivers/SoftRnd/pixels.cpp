// The few pixel formats SoftRnd keeps textures in (8-bit palettised and
// grey, 32-bit XRGB and ARGB), and their decoding to 32-bit colour. Only
// 8-bit-per-channel colour formats are offered, so textures keep full
// precision.
#include "softrnd.h"

namespace softrnd {

int BytesPerPixel(int32_t format) {
  switch (format) {
    case FMT_PAL8:
    case FMT_GRAY8:
      return 1;
    case FMT_XRGB8888:
    case FMT_ARGB8888:
      return 4;
    default:
      return 0;
  }
}

uint32_t ReadRaw(int32_t format, const uint8_t* p) {
  switch (BytesPerPixel(format)) {
    case 1:
      return p[0];
    case 4:
      return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) |
             ((uint32_t)p[3] << 24);
    default:
      return 0;
  }
}

static inline uint32_t pack(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return (a << 24) | (r << 16) | (g << 8) | b;
}

uint32_t RawToARGB(int32_t format, uint32_t raw) {
  switch (format) {
    case FMT_PAL8:
    case FMT_GRAY8:
      return pack(255, raw & 0xFF, raw & 0xFF, raw & 0xFF);
    case FMT_XRGB8888:
      return 0xFF000000u | (raw & 0xFFFFFF);
    case FMT_ARGB8888:
      return raw;
    default:
      return 0;
  }
}

}  // namespace softrnd
