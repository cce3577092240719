// Texture draw cache: level 0 decoded to 0xAARRGGBB, with the palette, the
// separate alpha texture and the colour key applied. Built on first use after
// any change, so that polygons sample plain 32-bit texels.
#include "softrnd.h"

namespace softrnd {

static uint32_t paletteEntry(const Texture* palette, uint32_t index) {
  if (!palette || palette->Levels[0].empty()) return RawToARGB(FMT_GRAY8, index);
  int32_t count = palette->LevelWidth[0] * palette->LevelHeight[0];
  if ((int32_t)index >= count) return 0xFF000000u;
  const uint8_t* p = palette->Levels[0].data() + (size_t)index * palette->Bpp;
  uint32_t raw = ReadRaw(palette->Format.PixelFormat, p);
  // A palette stored in a palettised or grey format has no colours: grey.
  if (palette->Format.PixelFormat == FMT_PAL8) return RawToARGB(FMT_GRAY8, raw);
  return RawToARGB(palette->Format.PixelFormat, raw);
}

static bool isPow2(int32_t v) { return v > 0 && (v & (v - 1)) == 0; }

bool TextureCacheFresh(const Texture* t) {
  const Texture* pal = t->Palette;
  const Texture* alpha = t->Alpha;
  return !t->Cache.empty() && t->CacheVersion == t->Version && t->CachePalette == pal &&
         t->CacheAlpha == alpha && (!pal || t->CachePaletteVersion == pal->Version) &&
         (!alpha || t->CacheAlphaVersion == alpha->Version);
}

const uint32_t* TexturePixels(Texture* t) {
  if (TextureCacheFresh(t)) return t->Cache.data();
  const Texture* pal = t->Palette;
  const Texture* alpha = t->Alpha;

  const int32_t w = t->LevelWidth[0], h = t->LevelHeight[0];
  t->Cache.assign((size_t)w * h, 0xFF000000u);
  const int32_t fmt = t->Format.PixelFormat;
  uint32_t lut[256];
  if (fmt == FMT_PAL8)
    for (uint32_t i = 0; i < 256; ++i) lut[i] = paletteEntry(pal, i);

  const bool alphaUsable = alpha && !alpha->Levels[0].empty() &&
                           alpha->LevelWidth[0] == w && alpha->LevelHeight[0] == h;
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* src = t->Levels[0].data() + (size_t)y * t->Pitch[0];
    uint32_t* dst = t->Cache.data() + (size_t)y * w;
    const uint8_t* arow = alphaUsable ? alpha->Levels[0].data() + (size_t)y * alpha->Pitch[0]
                                      : nullptr;
    for (int32_t x = 0; x < w; ++x, src += t->Bpp) {
      uint32_t raw = ReadRaw(fmt, src);
      uint32_t c = fmt == FMT_PAL8 ? lut[raw & 0xFF] : RawToARGB(fmt, raw);
      if (arow) {
        uint32_t a = RawToARGB(alpha->Format.PixelFormat,
                               ReadRaw(alpha->Format.PixelFormat, arow + (size_t)x * alpha->Bpp));
        c = (c & 0xFFFFFFu) | ((a & 0xFF) << 24);  // the grey level is the alpha
      }
      if (t->HasKey && raw == t->Key) c &= 0xFFFFFFu;  // keyed: alpha 0
      dst[x] = c;
    }
  }
  t->MaskU = isPow2(w) ? w - 1 : -1;
  t->MaskV = isPow2(h) ? h - 1 : -1;
  t->CacheVersion = t->Version;
  t->CachePalette = pal;
  t->CacheAlpha = alpha;
  t->CachePaletteVersion = pal ? pal->Version : 0;
  t->CacheAlphaVersion = alpha ? alpha->Version : 0;
  return t->Cache.data();
}

}  // namespace softrnd
