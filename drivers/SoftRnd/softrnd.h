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

// Whether Cache matches the texture, its palette and its alpha texture.
bool TextureCacheFresh(const Texture* texture);
// Makes sure Cache matches the texture; returns the pixels.
const uint32_t* TexturePixels(Texture* texture);

// The frame being drawn.
struct Frame {
  int32_t Width = 0, Height = 0;
  std::vector<uint32_t> Color;  // 0x00RRGGBB
  std::vector<float> Depth;     // 1/Z; 0 = empty (infinitely far)
  void Resize(int32_t width, int32_t height);
};

// Rows [Top, Bottom) of the frame: the part of it one worker draws.
struct Band {
  int32_t Top, Bottom;
};

// Attributes interpolated across a polygon: 1/Z, U/Z and V/Z (in texels),
// red, green, blue and alpha.
enum { A_W, A_UW, A_VW, A_R, A_G, A_B, A_A, A_COUNT };

struct ScreenVertex {
  float X, Y;
  float At[A_COUNT];
};

struct Sampler {
  const uint32_t* Texels = nullptr;
  int32_t Width = 1, Height = 1, MaskU = 0, MaskV = 0;
};

// A convex polygon waiting to be drawn: Count vertices from First on in the
// frame's vertex store, and the texture's draw cache as it was when the
// polygon came (the driver draws the queue before any texture changes).
struct PolygonCommand {
  size_t First = 0;
  int32_t Count = 0;
  float MinY = 0, MaxY = 0;
  Sampler Tex;
  uint32_t Flags = 0, Modulate = 0;
  bool Textured = false;
};

// A part of a texture copied to the frame at (X, Y), transparent texels left out.
struct DecalCommand {
  const uint32_t* Texels = nullptr;
  int32_t TexWidth = 0, TexHeight = 0;
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0, X = 0, Y = 0;
};

// Puts a polygon's screen vertices into STORE and describes it in OUT; false
// (nothing stored) for polygons that are not drawn: fewer than 3 vertices, or
// coordinates not finite, far outside any frame or behind the eye. Texture
// null: Gouraud.
bool PreparePolygon(const cvDriver_Vertex* vertices, int32_t count, Texture* texture,
                    uint32_t flags, std::vector<ScreenVertex>& store, PolygonCommand& out);
// Draws the rows of a prepared polygon that lie in BAND, as triangle fans.
void DrawPolygon(Frame& frame, Band band, const PolygonCommand& polygon,
                 const ScreenVertex* store);
DecalCommand PrepareDecal(Texture* texture, int32_t left, int32_t top, int32_t right,
                          int32_t bottom, int32_t x, int32_t y);
void DrawDecal(Frame& frame, Band band, const DecalCommand& decal);

// The drawing of one scene: clears, polygons and decals are kept in the
// order they come and drawn together when the scene is presented (or
// earlier, when a texture they sample is about to change). The frame is cut
// into bands of rows that the calling thread and a small set of workers
// take in turn; each band draws every command in order, so the picture is
// the same whatever the number of threads. With one thread each command is
// drawn as it comes, which spares keeping it.
class SceneQueue {
 public:
  SceneQueue();
  ~SceneQueue();
  SceneQueue(const SceneQueue&) = delete;
  SceneQueue& operator=(const SceneQueue&) = delete;

  // Threads that draw (the caller included), 1 .. kMaxThreads.
  static constexpr int kMaxThreads = 16;
  void SetThreads(int count);
  int Threads() const;

  void Clear(Frame& frame, int32_t left, int32_t top, int32_t right, int32_t bottom, bool color, bool depth);
  void Polygon(Frame& frame, const cvDriver_Vertex* vertices, int32_t count, Texture* texture, uint32_t flags);
  void Decal(Frame& frame, Texture* texture, int32_t left, int32_t top, int32_t right, int32_t bottom,
             int32_t x, int32_t y);
  // Draws everything queued into FRAME and empties the queue.
  void Flush(Frame& frame);
  // Forgets everything queued without drawing it.
  void Discard();

 private:
  struct Impl;
  Impl* P;
};

}  // namespace softrnd
