// A small in-memory render driver for the bitmap tests: textures are byte
// vectors per mip level, laid out like bitmap levels with a padded pitch.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "Bitmap/cvbitmap.h"
#include "Engine/cvengcore.h"

namespace testdriver {

struct Texture {
  int32_t Width = 0, Height = 0, MipCount = 0;
  cvDriver_PixelFormat Format{};
  std::vector<std::vector<uint8_t>> Levels;
  std::vector<int32_t> Pitch;
  std::vector<bool> Locked;
  void* Palette = nullptr;
  void* Alpha = nullptr;
  int32_t HasKey = 0;
  uint32_t Key = 0;
};

struct State {
  std::vector<cvDriver_PixelFormat> Formats;
  std::map<void*, std::unique_ptr<Texture>> Textures;
  bool RefuseCreate = false;
  int32_t Creates = 0;
  std::vector<int32_t> CreatedMipCounts;
};

State& Driver();
// The table, reset to an empty state offering Formats.
cvDriver_Table* Make(std::vector<cvDriver_PixelFormat> Formats);
Texture* Find(void* Handle);
// Pixel (X, Y) of level Mip as a raw value.
uint32_t Pixel(void* Handle, int32_t Mip, int32_t X, int32_t Y);
void SetPixel(void* Handle, int32_t Mip, int32_t X, int32_t Y, uint32_t Value);

}  // namespace testdriver
