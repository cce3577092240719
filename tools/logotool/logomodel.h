// The start-up logo as plain data: a ring of eight gears around a faceted
// emblem, two pistons that push in and out, a link bar, two electrodes for
// the electric bolt, the motion that turns the gears, and the three glow
// images the logo scene draws as coronas. Nothing here touches the engine;
// logotool turns it into an actor file and Windows bitmaps.
//
// The model is built in view terms (X right, Y up, Z towards the viewer) and
// stored with Z up and -Y towards the viewer, because the logo scene stands
// the actor up with a quarter turn about X.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sample/samplemodel.h"

namespace logo {

// A grey-level image, rows from the top.
struct Grey {
  int Width = 0, Height = 0;
  std::vector<uint8_t> Pixels;
};

// An 8-bit image with its 256-entry palette (R, G, B triples), rows from the top.
struct Indexed {
  int Width = 0, Height = 0;
  std::vector<uint8_t> Pixels;
  std::vector<uint8_t> PaletteRgb;
};

// The three images of the logo scene: a warm glow and a star, each with its
// own alpha image, and a halo ring used as both colour and alpha.
struct Glows {
  Indexed GlowColour;
  Grey GlowAlpha;
  Indexed StarColour;
  Grey StarAlpha;
  Grey Halo;
};

// Bones, surfaces, materials, textures and the motion "spin" (0 to 2 s).
sample::Model BuildModel();
Glows BuildGlows();

// The motion's length in seconds.
constexpr float MotionLength = 2.0f;

}  // namespace logo
