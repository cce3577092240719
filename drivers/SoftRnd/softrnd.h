// SoftRnd internals: textures, pixel formats, the frame and the rasterizer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Driver/cvdriver.h"
#include "platform/window.h"

namespace softrnd {

// The pixel format codes this driver stores textures in (the engine's
// CV_PIXELFORMAT_* codes, kept here so that the module needs no engine library).
enum Format : int32_t {
  FMT_PAL8 = 1,
  FMT_GRAY8 = 2,
  FMT_XRGB8888 = 13,
  FMT_ARGB8888 = 17,
};

// Bytes per pixel of a supported format, 0 for an unsupported one.
int BytesPerPixel(int32_t format);
// The raw pixel value at P.
uint32_t ReadRaw(int32_t format, const uint8_t* p);
// A raw value as 0xAARRGGBB (channels scaled to 8 bits). Palettised values
// are not colours: the caller looks them up.
uint32_t RawToARGB(int32_t format, uint32_t raw);

constexpr int32_t MAX_MIPS = 8;
constexpr int32_t MAX_TEXTURE_SIZE = 8192;

struct Texture {
  uint32_t Magic;
  int32_t Width = 0, Height = 0, MipCount = 0;
  cvDriver_PixelFormat Format{};
  int Bpp = 0;
  std::vector<uint8_t> Levels[MAX_MIPS];
  int32_t LevelWidth[MAX_MIPS]{}, LevelHeight[MAX_MIPS]{}, Pitch[MAX_MIPS]{};
  uint32_t LockedMask = 0;
  Texture* Palette = nullptr;
  Texture* Alpha = nullptr;
  int HasKey = 0;
  uint32_t Key = 0;
  // Bumped by every change of pixels, palette, alpha or key; the draw cache
  // is rebuilt when it no longer matches.
  uint32_t Version = 1;

  // Level 0 as 0xAARRGGBB with keyed texels at alpha 0, for drawing.
  std::vector<uint32_t> Cache;
  uint32_t CacheVersion = 0, CachePaletteVersion = 0, CacheAlphaVersion = 0;
  const Texture* CachePalette = nullptr;
  const Texture* CacheAlpha = nullptr;
  int32_t MaskU = 0, MaskV = 0;  // Width-1, Height-1 when powers of two, else -1
};

// Makes sure Cache matches the texture; returns the pixels.
const uint32_t* TexturePixels(Texture* texture);

// The frame being drawn.
struct Frame {
  int32_t Width = 0, Height = 0;
  std::vector<uint32_t> Color;  // 0x00RRGGBB
  std::vector<float> Depth;     // 1/Z; 0 = empty (infinitely far)
  void Resize(int32_t width, int32_t height);
};

// Draws a convex polygon into Frame. Texture null: Gouraud.
void DrawPolygon(Frame& frame, const cvDriver_Vertex* vertices, int32_t count, Texture* texture,
                 uint32_t flags);
// Copies a part of a texture to the frame, leaving out transparent texels.
void DrawDecal(Frame& frame, Texture* texture, int32_t left, int32_t top, int32_t right,
               int32_t bottom, int32_t x, int32_t y);

}  // namespace softrnd
