// The render driver interface.
//
// A render driver is a shared library (for example "SoftRnd.so") that exports
//
//     extern "C" int DriverHook(cvDriver_Table** Table);
//
// DriverHook stores the address of the driver's one operation table and
// returns 1. The engine accepts the table only when VersionMajor is 100 and
// VersionMinor is 3. Everything the engine and the bitmaps ask of a driver
// goes through this table; a driver writer needs no other engine header.
//
// Conventions for every operation:
//  - Results are 1 (success) or 0 (failure) unless stated otherwise.
//  - Operations may be left null when the driver does not offer them and the
//    comment says that null is allowed; the engine then does without.
//  - Texture, palette and alpha handles are opaque pointers owned by the
//    driver; null means "no texture". They stay valid until DestroyTexture or
//    Reset.
//  - All calls come from the one thread that owns the window.
//  - The fields keep their order; on 64-bit hosts pointer fields are 8 bytes,
//    so only the order (not the byte offset) is part of the contract.
#pragma once

#include <cstdint>

extern "C" {

enum { CV_DRIVER_VERSION_MAJOR = 100, CV_DRIVER_VERSION_MINOR = 3 };

// A texture format the driver supports: an engine pixel format code (the
// CV_PIXELFORMAT_* codes of the bitmap module) and capability flags.
typedef struct cvDriver_PixelFormat {
  int32_t PixelFormat;
  uint32_t Flags;
} cvDriver_PixelFormat;

// Capability flags of a texture format (and of a bitmap's driver-use flags).
enum : uint32_t {
  CV_DRIVER_FORMAT_2D = 0x1,            // 2D decals and on-screen images
  CV_DRIVER_FORMAT_3D = 0x2,            // textures of 3D polygons
  CV_DRIVER_FORMAT_LIGHTMAP = 0x4,      // light maps (world textures)
  CV_DRIVER_FORMAT_PALETTE = 0x8,       // the format of palette textures
  CV_DRIVER_FORMAT_ALPHAMAP = 0x10,     // the format of separate alpha textures
  CV_DRIVER_FORMAT_SEPARATEALPHA = 0x10000,  // can carry a separate alpha texture
  CV_DRIVER_FORMAT_COLORKEY = 0x20000,  // can colour key
  CV_DRIVER_FORMAT_WORLD3D = 0x40000,   // 3D textures registered by worlds
};

// Returned by GetTextureInfo.
typedef struct cvDriver_TextureInfo {
  int32_t Width;      // size of mip level 0 in pixels
  int32_t Height;
  int32_t MipCount;   // levels 0 .. MipCount-1, each half the size of the last (at least 1)
  cvDriver_PixelFormat Format;
  void* Palette;      // palette texture attached with SetPalette, or null
  void* Alpha;        // alpha texture attached with SetAlpha, or null
} cvDriver_TextureInfo;

// A vertex given to the polygon operations.
//
// X and Y are screen positions in pixels. Pixel centres lie on whole numbers:
// pixel (x, y) is the unit square from x - 0.5 to x + 0.5 and y - 0.5 to
// y + 0.5, so the window's top-left pixel is centred on (0, 0). This is the
// engine camera's convention (a view over pixels Left .. Right projects onto
// Left - 0.5 .. Right + 0.5, and the world clips polygons to those edges), so
// projected vertices are handed over unchanged. A polygon draws exactly the
// pixels whose centres lie inside it; a centre on a left or top edge counts
// as inside, one on a right or bottom edge as outside. Polygons sharing an
// edge therefore never both draw a pixel on it nor both leave it out, and a
// polygon with corners (L - 0.5, T - 0.5) and (R + 0.5, B + 0.5) covers the
// pixels L .. R, T .. B and no others.
//
// Z is the distance in front of the camera (positive; larger is farther).
// Textured polygons are mapped perspective-correctly: U/Z, V/Z and 1/Z are
// interpolated across the screen, and every pixel shows a texel that the
// exact mapping puts within half a pixel of the pixel's centre (texels are
// not filtered). U and V are texture coordinates (0..1 spans the texture once;
// values outside repeat; texel i covers i/Width .. (i+1)/Width). R, G, B, A
// are 0..255: for Gouraud polygons the colour (interpolated linearly on the
// screen), for textured ones the factor each texel is modulated with
// (255 = unchanged).
typedef struct cvDriver_Vertex {
  float X, Y, Z;
  float U, V;
  float R, G, B, A;
} cvDriver_Vertex;

// Flags of the polygon operations.
enum : uint32_t {
  CV_DRIVER_POLY_BLEND = 0x1,      // blend with the frame by the vertices' alpha (and texel alpha)
  CV_DRIVER_POLY_NOZTEST = 0x2,    // draw regardless of the z-buffer
  CV_DRIVER_POLY_NOZWRITE = 0x4,   // leave the z-buffer unchanged
  CV_DRIVER_POLY_COLORKEY = 0x8,   // texels equal to the texture's colour key are not drawn
  CV_DRIVER_POLY_ADDITIVE = 0x10,  // add the colour to the frame (coronas)
};

// Rectangles given to the driver: Left, Top, Right, Bottom in pixels, Right
// and Bottom exclusive.
typedef struct cvDriver_Rect {
  int32_t Left, Top, Right, Bottom;
} cvDriver_Rect;

// Handed to Init. The window handle is the program's window record
// (platform/window.h): the driver reads the client size from it and presents
// each finished frame through it.
typedef struct cvDriver_Info {
  char AppName[512];
  int32_t DriverId;
  char DriverName[512];
  int32_t ModeId;
  char ModeName[512];
  int32_t ModeWidth;   // -1: any size (windowed; the window's client size)
  int32_t ModeHeight;  // -1: any size
  void* Window;
} cvDriver_Info;

typedef int (*cvDriver_EnumDeviceCB)(int32_t Id, const char* Name, void* Context);
typedef int (*cvDriver_EnumModeCB)(int32_t Id, const char* Name, int32_t Width, int32_t Height,
                                   void* Context);
typedef int (*cvDriver_EnumFormatCB)(const cvDriver_PixelFormat* Format, void* Context);

typedef struct cvDriver_Table {
  uint32_t Size;          // sizeof(cvDriver_Table) as the driver was built
  int32_t VersionMajor;   // CV_DRIVER_VERSION_MAJOR
  int32_t VersionMinor;   // CV_DRIVER_VERSION_MINOR
  const char* Description;  // human-readable name of the module, may be null
  uint32_t Reserved0;

  // Enumeration, called while no device is open. Each calls its callback
  // once per item until the callback returns 0; the result is 1 when the
  // enumeration ran.
  int (*EnumSubDrivers)(cvDriver_EnumDeviceCB Callback, void* Context);
  int (*EnumModes)(int32_t DeviceId, const char* DeviceName, cvDriver_EnumModeCB Callback,
                   void* Context);
  int (*EnumPixelFormats)(cvDriver_EnumFormatCB Callback, void* Context);

  // Opens the device in the chosen mode. 0 on failure (nothing stays open).
  int (*Init)(const cvDriver_Info* Info);
  // Closes the device and drops every texture.
  int (*Shutdown)(void);
  // Drops every texture (the engine creates them again); 0 on failure.
  int (*Reset)(void);
  // The window moved or its client size changed. May be null.
  int (*UpdateWindow)(void);
  // The window was activated (1) or deactivated (0). May be null.
  int (*SetActive)(int32_t Active);

  // Creates a texture of MipCount levels (level 0 is Width x Height, each
  // further level half the size rounded down, at least 1) in Format, with
  // undefined contents. Null when the format is not supported or memory ran out.
  void* (*CreateTexture)(int32_t Width, int32_t Height, int32_t MipCount,
                         const cvDriver_PixelFormat* Format);
  // Frees a texture created by CreateTexture (null is ignored). A palette or
  // alpha texture attached to it is not freed with it.
  int (*DestroyTexture)(void* Texture);
  // Describes a texture; 0 for an unknown handle.
  int (*GetTextureInfo)(void* Texture, cvDriver_TextureInfo* Info);
  // Gives direct access to one mip level: the address of its first pixel
  // and the distance between rows in bytes. Pixels are laid out in the
  // texture's pixel format exactly as the bitmap module lays them out. A
  // locked level must be unlocked before the texture is drawn or destroyed.
  // Null when Mip is out of range or the level is already locked.
  void* (*LockTexture)(void* Texture, int32_t Mip, int32_t* Pitch);
  // Attaches Palette (a 256 x 1 texture in the palette format) to a
  // palettised texture; null detaches.
  int (*SetPalette)(void* Texture, void* Palette);
  // Ends a LockTexture of the same level.
  int (*UnlockTexture)(void* Texture, int32_t Mip);
  // Attaches Alpha (a texture of the same size in the alpha-map format) to a
  // texture whose format carries CV_DRIVER_FORMAT_SEPARATEALPHA; null detaches.
  int (*SetAlpha)(void* Texture, void* Alpha);
  // Sets the colour key of a texture: texels whose raw value equals Key are
  // not drawn by polygons with CV_DRIVER_POLY_COLORKEY and by DrawDecal.
  // HasKey 0 removes the key. May be null (the driver keys nothing).
  int (*SetColorKey)(void* Texture, int32_t HasKey, uint32_t Key);
  void* Reserved1;

  // Starts a frame: clears the colour buffer (ClearScreen) and the z-buffer
  // (ClearZBuffer), within Rect when given, else the whole frame.
  int (*BeginScene)(int32_t ClearScreen, int32_t ClearZBuffer, const cvDriver_Rect* Rect);
  // Ends the frame and presents it through the window record.
  int (*EndScene)(void);
  // Scene operations of the world renderer: before and after the level's polygons.
  int (*BeginLevel)(void);
  int (*EndLevel)(void);
  // Brackets around the actors of a world.
  int (*BeginWorld)(void);
  int (*EndWorld)(void);
  // Called in this order at the end of every world render.
  int (*BeginSky)(void);
  int (*EndSky)(void);

  // Draws a convex polygon of Count (3 or more) vertices in one colour per vertex.
  int (*RenderGouraudPoly)(const cvDriver_Vertex* Vertices, int32_t Count, uint32_t Flags);
  // Draws a convex polygon with light-map texturing (world renderer). May be null.
  int (*RenderLightmapPoly)(const cvDriver_Vertex* Vertices, int32_t Count, void* Texture,
                            void* Lightmap, uint32_t Flags);
  // Draws a convex polygon textured with level 0 of Texture (or a smaller level
  // the driver picks), modulated by the vertex colours.
  int (*RenderTexturedPoly)(const cvDriver_Vertex* Vertices, int32_t Count, void* Texture,
                            uint32_t Flags);
  // Copies the part Rect of level 0 of Texture (all of it when Rect is null)
  // to the screen texel for pixel, its top-left texel onto pixel (X, Y),
  // leaving colour-keyed texels out. Clipped to the frame.
  int (*DrawDecal)(void* Texture, const cvDriver_Rect* Rect, int32_t X, int32_t Y);
  void* Reserved2;
  void* Reserved3;

  // Polygons rendered since the last BeginScene.
  int32_t RenderedPolys;
  // Five texture-cache statistics, or null when the driver keeps none.
  const int32_t* CacheStats;
  // One-argument operation forwarded unchanged from the engine. May be null.
  int (*UserCommand)(intptr_t Argument);
  // Asks the device to apply Gamma to its output; 1 when it does so itself.
  int (*SetGamma)(float Gamma);
  void* Reserved4;
  // The engine's six driver parameters, passed after every Reset. May be null.
  int (*SetParameters)(const int32_t Parameters[6]);
  // The driver's capability flags (CV_DRIVER_CAPS_*), or null.
  const uint32_t* CapsFlags;
  // Filled by the engine before Init: its light-map set-up routine and its
  // render information block (both owned by the world renderer).
  void* EngineLightmapSetup;
  void* EngineRenderInfo;
} cvDriver_Table;

enum : uint32_t { CV_DRIVER_CAPS_GAMMA = 0x4 };

// The one entry point of a driver module.
typedef int (*cvDriver_HookFn)(cvDriver_Table** Table);
}
