// The few pixel formats SoftRnd keeps textures in, and their decoding to
// 32-bit colour. Channel expansion follows the engine's bitmap module: a
// channel of n bits is shifted up to 8 bits and given half a quantisation
// step, so that decoding what the bitmap module composed gives its values.
#include "softrnd.h"

namespace softrnd {

int BytesPerPixel(int32_t format) {
  switch (format) {
    case FMT_PAL8:
    case FMT_GRAY8:
      return 1;
    case FMT_RGB565:
    case FMT_ARGB4444:
    case FMT_ARGB1555:
      return 2;
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
    case 2:
      return (uint32_t)p[0] | ((uint32_t)p[1] << 8);
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
    case FMT_RGB565:
      return pack(255, (((raw >> 11) & 0x1F) << 3) + 4, (((raw >> 5) & 0x3F) << 2) + 2,
                  ((raw & 0x1F) << 3) + 4);
    case FMT_ARGB4444:
      return pack(((raw >> 12) & 0xF) << 4, (((raw >> 8) & 0xF) << 4) + 8,
                  (((raw >> 4) & 0xF) << 4) + 8, ((raw & 0xF) << 4) + 8);
    case FMT_ARGB1555:
      return pack((raw & 0x8000) ? 255 : 0, (((raw >> 10) & 0x1F) << 3) + 4,
                  (((raw >> 5) & 0x1F) << 3) + 4, ((raw & 0x1F) << 3) + 4);
    case FMT_XRGB8888:
      return 0xFF000000u | (raw & 0xFFFFFF);
    case FMT_ARGB8888:
      return raw;
    default:
      return 0;
  }
}

}  // namespace softrnd
