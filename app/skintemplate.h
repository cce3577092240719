// UV templates: a material's skin with the outlines of the body's triangles
// that use the material drawn over it in texture space, so that a painter
// sees where each part of the model lands on the texture.
//
// Texture space is the one the renderer samples: U = 0 is the left edge of
// the skin and U = 1 its right edge, V = 0 the top row and V = 1 the bottom
// edge. Textures repeat, so a triangle whose coordinates reach past 0 or 1 is
// drawn where the renderer takes its texels: wrapped into the template, on
// both sides of the seam when it crosses one.
//
// Lines are one pixel wide, anti-aliased (each pixel is blended with the line
// colour by how close its centre lies to the nearest edge), and drawn in one
// colour that stands out from the skin. Edges shared by two triangles are
// drawn once. The faces are those of the full-detail level.
#pragma once

#include <cstdint>
#include <string>

struct cvBody;
struct cvBitmap;

struct SkinTemplateOptions {
  // Size of the template; 0 takes the skin's own size (256 for a material
  // without a skin). The skin is scaled to fit: enlarged texel by texel,
  // reduced by averaging the texels each pixel covers.
  int32_t Width = 0;
  int32_t Height = 0;
  // The line colour; unless given, the strong colour that stands out most
  // from the skin.
  bool LineColorGiven = false;
  uint8_t LineRed = 255, LineGreen = 0, LineBlue = 255;
};

// Largest template side: 8192 pixels.
enum : int32_t { SKIN_TEMPLATE_MAX_SIDE = 8192 };

// The template of material Material of Body as a new 32-bit XRGB bitmap (one
// reference; the caller destroys it with cvBitmap_Destroy). A material
// without a skin gets its own colour as background. Null with the reason in
// *Reason (may be null) for a bad body or material index, a size out of
// range or a skin that cannot be read.
cvBitmap* MakeSkinTemplate(const cvBody* Body, int32_t Material, const SkinTemplateOptions& Options,
                           std::string* Reason);

// The line colour MakeSkinTemplate picks for the given background pixels
// (0x00RRGGBB, Count of them): of magenta, lime, cyan, yellow, red, blue,
// black and white, the one that 95 % of the pixels keep farthest from
// (distance in RGB; the first of equals).
uint32_t SkinTemplateLineColor(const uint32_t* Pixels, size_t Count);
