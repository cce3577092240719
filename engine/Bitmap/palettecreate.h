// Building 256-colour palettes for true-colour images and the nearest-colour lookup.
//
// Two builders: the fast builder ("createPalFast") counts exact RGB colours in
// an octree and picks the most frequent well-separated ones; the good builder
// ("createPalGood") counts the image's colours in a hash table, splits them by
// variance-based median cut into 256 boxes and refines the box means by
// k-means passes over the colour histogram. An image of at most 256 distinct
// colours gets exactly those colours from either builder. The integer YUV
// transform stays available to callers. "palOptimize" refines a palette by
// damped k-means passes over a growing sample of the image. The lookup maps
// colours to their nearest palette entry, answering repeated colours from an
// exact-colour cache and limiting searches to the entries that can be nearest
// within one cell of a 16 x 16 x 16 grid.
//
// The builders and the lookup work on plain pixel data; the forms taking a
// cvBitmap_Info wrap them. Builds share one process-wide node pool, so they
// are neither reentrant nor thread-safe (all bitmap work runs on the engine's
// thread).
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

struct cvBitmap;
struct cvBitmap_Info;
struct cvBitmap_Palette;

enum { CV_PALETTE_ENTRIES = 256 };

// ---------------------------------------------------------------------------
// Integer YUV colour transform (14-bit fixed point).
// Y, U and V are 0..255 with U and V centred on 127; V grows with green and
// falls with red. The inverse clamps each channel to 0..255.
// ---------------------------------------------------------------------------
void cvBitmap_RGBToYUV(int32_t R, int32_t G, int32_t B, int32_t* Y, int32_t* U, int32_t* V);
void cvBitmap_YUVToRGB(int32_t Y, int32_t U, int32_t V, int32_t* R, int32_t* G, int32_t* B);

// ---------------------------------------------------------------------------
// Plain-data builders. The image is Width x Height pixels of the given
// cvPixelFormat code (1 to 4 bytes per pixel, not palettized), rows StrideBytes
// apart (only Width pixels of each row are read). 24-bit RGB/YUV and BGR
// pixels are read byte by byte, every other format through its decompose
// function. Out receives 256 RGB triples (768 bytes). 1 on success; 0 with an
// error-log entry on a bad format, bad sizes or an allocation failure.
// ---------------------------------------------------------------------------
int cvBitmap_BuildPalFast(const void* Pixels, int32_t Width, int32_t Height, int32_t StrideBytes,
                          int32_t Format, uint8_t* Out);
int cvBitmap_BuildPalGood(const void* Pixels, int32_t Width, int32_t Height, int32_t StrideBytes,
                          int32_t Format, uint8_t* Out);

// Refines Count (1..256) RGB triples in place ("palOptimize"). Entries
// Count..255 are first filled with a copy of entry Count - 1, so Triples must
// hold 256 entries. The image is read as StrideBytes / bytes-per-pixel x
// Height consecutive pixels from the first byte (row padding included), as the
// sampling spacing ignores rows. SampleLimit < 1 means no limit; the
// refinement stops once the samples of all passes reach the limit.
int cvBitmap_PalOptimizeData(const void* Pixels, int32_t Width, int32_t Height, int32_t StrideBytes,
                             int32_t Format, uint8_t* Triples, int32_t Count, int32_t SampleLimit);

// ---------------------------------------------------------------------------
// Builders on bitmap information (Info->Width, Height, Stride in pixels,
// Format). Each returns a new 256-entry palette of CV_PIXELFORMAT_24BIT_RGB
// (one reference, owned by the caller) or null.
// ---------------------------------------------------------------------------
cvBitmap_Palette* cvBitmap_CreatePalFast(const cvBitmap_Info* Info, const void* Pixels);
cvBitmap_Palette* cvBitmap_CreatePalGood(const cvBitmap_Info* Info, const void* Pixels);
int cvBitmap_PalOptimize(const cvBitmap_Info* Info, const void* Pixels, uint8_t* Triples,
                         int32_t Count, int32_t SampleLimit);

// The process-wide current builder (the good builder until replaced).
typedef cvBitmap_Palette* (*cvBitmap_PaletteBuilder)(const cvBitmap_Info* Info, const void* Pixels);
// Installs Builder (null restores the good builder); returns the previous one.
cvBitmap_PaletteBuilder cvBitmap_SetPaletteBuilder(cvBitmap_PaletteBuilder Builder);
cvBitmap_PaletteBuilder cvBitmap_GetPaletteBuilder(void);

// Palette for an image: a palettized image (format 1) gets its own palette
// (Info->Palette, one more reference); a grey image a new 256-entry grey
// palette (format 2) holding the ramp 0..255; any other image the palette of
// the current builder. Null with an error-log entry on failure.
cvBitmap_Palette* cvBitmap_CreatePaletteForImage(const cvBitmap_Info* Info, const void* Pixels);

// Palette for a bitmap: locks level 0 for reading as 24-bit RGB, builds the
// palette as above and, with Optimise, refines all 256 entries (no sample
// limit) and stores them back into the palette.
cvBitmap_Palette* cvBitmap_CreatePaletteForBitmap(cvBitmap* Bitmap, int Optimise);

// ---------------------------------------------------------------------------
// Nearest-colour lookup over RGB triples. Find returns the index of the
// nearest entry by squared RGB distance, the lowest index among entries at
// the same distance (what a search of every entry in index order gives), and
// remembers the answer, so repeated colours cost one cache walk. A lookup
// lives for one conversion or pass.
// ---------------------------------------------------------------------------
typedef struct cvBitmap_ColorLookup cvBitmap_ColorLookup;

// A lookup over all 256 triples. Null with an error-log entry on allocation
// failure.
cvBitmap_ColorLookup* cvBitmap_ColorLookup_Create(const uint8_t* Triples);
// A lookup over the first Count (1..256) triples that never answers the entry
// Excluded (a colour-key index; -1 for none). When Excluded is the only entry
// it is not excluded. Null with an error-log entry on a bad count or
// allocation failure.
cvBitmap_ColorLookup* cvBitmap_ColorLookup_CreateFor(const uint8_t* Triples, int32_t Count,
                                                     int32_t Excluded);
int32_t cvBitmap_ColorLookup_Find(cvBitmap_ColorLookup* Lookup, int32_t R, int32_t G, int32_t B);
// The same answer without consulting or filling the exact-colour cache, for
// passes that ask about each colour once.
int32_t cvBitmap_ColorLookup_Nearest(cvBitmap_ColorLookup* Lookup, int32_t R, int32_t G, int32_t B);
// Frees the lookup and clears the caller's pointer.
void cvBitmap_ColorLookup_Destroy(cvBitmap_ColorLookup** Lookup);

// ---------------------------------------------------------------------------
// Pools: the octree node pool and the two lookup pools. They are created on
// first use; the bitmap module may create them with its first bitmap and free
// them with its last. Freeing while a lookup is alive is not allowed.
// ---------------------------------------------------------------------------
int cvBitmap_PalettePools_Create(void);
void cvBitmap_PalettePools_Free(void);

}  // extern "C"
