// Pixel formats, bitmaps, palettes, locks, conversion, mips, gamma and the driver copy.
//
// Every texture and image of the engine is a cvBitmap: a reference-counted
// image in one of 21 pixel formats with up to eight mip levels, an optional
// palette, colour key, separate alpha bitmap and render-driver copy. Pixels
// are only touched through locks: a lock is itself a small cvBitmap showing
// one mip level in a requested format. Conversions between formats all go
// through cvBitmap_BlitData.
//
// Results: 1 / 0, or a pointer that is null on failure. Every failure adds a
// generic error-log entry (code -1). All calls come from the engine's thread;
// conversions and gamma use process-wide state and are not reentrant.
#pragma once

#include <cstdint>

extern "C" {

struct cvDriver_Table;  // the render driver's operation table (Driver/cvdriver.h)
struct cvDriver_PixelFormat;

// ---------------------------------------------------------------------------
// Pixel formats
// ---------------------------------------------------------------------------

typedef int32_t cvPixelFormat;

enum : int32_t {
  CV_PIXELFORMAT_NO_DATA = 0,
  CV_PIXELFORMAT_8BIT_PAL = 1,
  CV_PIXELFORMAT_8BIT_GRAY = 2,
  CV_PIXELFORMAT_16BIT_555_RGB = 3,
  CV_PIXELFORMAT_16BIT_555_BGR = 4,
  CV_PIXELFORMAT_16BIT_565_RGB = 5,
  CV_PIXELFORMAT_16BIT_565_BGR = 6,
  CV_PIXELFORMAT_16BIT_4444_ARGB = 7,
  CV_PIXELFORMAT_16BIT_1555_ARGB = 8,
  CV_PIXELFORMAT_24BIT_RGB = 9,
  CV_PIXELFORMAT_24BIT_BGR = 10,
  CV_PIXELFORMAT_24BIT_YUV = 11,
  CV_PIXELFORMAT_32BIT_RGBX = 12,
  CV_PIXELFORMAT_32BIT_XRGB = 13,
  CV_PIXELFORMAT_32BIT_BGRX = 14,
  CV_PIXELFORMAT_32BIT_XBGR = 15,
  CV_PIXELFORMAT_32BIT_RGBA = 16,
  CV_PIXELFORMAT_32BIT_ARGB = 17,
  CV_PIXELFORMAT_32BIT_BGRA = 18,
  CV_PIXELFORMAT_32BIT_ABGR = 19,
  CV_PIXELFORMAT_WAVELET = 20,
  CV_PIXELFORMAT_COUNT = 21,
};

enum { CV_BITMAP_MAX_MIPS = 8 };

// Per-format pixel functions. Channels are 0..255. Compose builds a raw pixel
// value from channels, Decompose splits one; GetColor/PutColor and
// GetPixel/PutPixel read or write one pixel at *Pixels and advance *Pixels by
// the pixel size. A 3-byte raw value has its first memory byte as its most
// significant byte; 2- and 4-byte values are little-endian.
typedef uint32_t (*cvPixelFormat_ComposeFn)(int32_t R, int32_t G, int32_t B, int32_t A);
typedef void (*cvPixelFormat_DecomposeFn)(uint32_t Pixel, int32_t* R, int32_t* G, int32_t* B,
                                          int32_t* A);
typedef void (*cvPixelFormat_GetColorFn)(const uint8_t** Pixels, int32_t* R, int32_t* G,
                                         int32_t* B, int32_t* A);
typedef void (*cvPixelFormat_PutColorFn)(uint8_t** Pixels, int32_t R, int32_t G, int32_t B,
                                         int32_t A);
typedef uint32_t (*cvPixelFormat_GetPixelFn)(const uint8_t** Pixels);
typedef void (*cvPixelFormat_PutPixelFn)(uint8_t** Pixels, uint32_t Pixel);

// One row of the constant format table. Shifts are signed: positive moves
// right, negative left, bringing the channel's top bit to bit 7. Adds are
// added after shifting (255 for the alpha of formats without alpha).
typedef struct cvPixelFormat_Operations {
  uint32_t RedMask, GreenMask, BlueMask, AlphaMask;
  int32_t RedShift, GreenShift, BlueShift, AlphaShift;
  int32_t RedAdd, GreenAdd, BlueAdd, AlphaAdd;
  int32_t BytesPerPixel;
  int32_t HasPalette;
  const char* Description;
  cvPixelFormat_ComposeFn Compose;      // null for codes 0, 1 and 20
  cvPixelFormat_DecomposeFn Decompose;  // null for codes 0, 1 and 20
  cvPixelFormat_GetColorFn GetColor;    // null for codes 0, 1 and 20
  cvPixelFormat_PutColorFn PutColor;    // null for codes 0, 1 and 20
  cvPixelFormat_GetPixelFn GetPixel;    // null for codes 0 and 20
  cvPixelFormat_PutPixelFn PutPixel;    // null for codes 0 and 20
} cvPixelFormat_Operations;

int cvPixelFormat_IsValid(cvPixelFormat Format);            // 0 <= code < 21
int32_t cvPixelFormat_BytesPerPixel(cvPixelFormat Format);  // 0 for an invalid code
int cvPixelFormat_HasPalette(cvPixelFormat Format);
int cvPixelFormat_HasAlpha(cvPixelFormat Format);      // alpha mask non-zero
int cvPixelFormat_HasGoodAlpha(cvPixelFormat Format);  // alpha of more than one bit
int cvPixelFormat_IsRaw(cvPixelFormat Format);         // has pixel functions: codes 2..19
// The user-visible name ("565 RGB"); null for an invalid code.
const char* cvPixelFormat_Description(cvPixelFormat Format);
// The format's table row; null for an invalid code.
const cvPixelFormat_Operations* cvPixelFormat_GetOperations(cvPixelFormat Format);
// Decomposes Pixel in From and composes it in To. Both must be raw formats.
int cvPixelFormat_ConvertPixel(cvPixelFormat From, uint32_t Pixel, cvPixelFormat To, uint32_t* Out);

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

typedef struct cvBitmap_Palette cvBitmap_Palette;
typedef struct cvBitmap cvBitmap;

// A bitmap (or one of its levels, or a palette) as a size, layout and key.
typedef struct cvBitmap_Info {
  int32_t Width;
  int32_t Height;
  int32_t Stride;  // pixels from one row to the next, at least Width
  cvPixelFormat Format;
  int32_t MinimumMip;
  int32_t MaximumMip;
  int32_t HasColorKey;
  uint32_t ColorKey;  // raw pixel value of Format; for palettized formats the index
  cvBitmap_Palette* Palette;  // not a reference of its own
} cvBitmap_Info;

// Palette: Size entries in the raw layout of Format. A driver palette has no
// entries of its own: it shows the driver's palette texture (Driver, Handle),
// whose pixels are reachable as DriverData while the palette is locked.
struct cvBitmap_Palette {
  int32_t LockCount;  // 0 or 1
  int32_t RefCount;   // 1 at creation
  cvPixelFormat Format;
  int32_t Size;
  int32_t HasColorKey;
  uint32_t ColorKey;       // raw value of Format
  int32_t ColorKeyIndex;   // -1 when none
  uint8_t* Data;           // Size * bytes per pixel, null for a driver palette
  cvDriver_Table* Driver;  // driver palettes only
  void* Handle;            // the driver's palette texture
  uint8_t* DriverData;     // the palette texture's pixels while locked
};

// A bitmap, or a lock on one level of a bitmap. The fields are managed by the
// functions below; the bitmap file reader fills a record made by
// cvBitmap_CreateEmpty directly (System, DriverMipCount) and allocates its
// levels with cvBitmap_AllocateMip.
struct cvBitmap {
  int32_t RefCount;
  cvBitmap_Info System;  // the bitmap as the engine keeps it (owns one palette reference)
  uint8_t* Mip[CV_BITMAP_MAX_MIPS];
  int32_t MipValid[CV_BITMAP_MAX_MIPS];
  cvBitmap* Alpha;  // grey bitmap giving this bitmap's alpha (one reference), or null
  int32_t LockCount;  // >0 read locks, <0 a write lock, 0 unlocked
  uint32_t WriteLockedMips;  // bit m: system level m is under a write lock

  // Locks only.
  cvBitmap* Locked;     // the bitmap this lock locks (one reference)
  cvBitmap* DataOwner;  // the bitmap whose level this lock shows in place (one reference)
  int32_t LockMip;      // the level of Locked that this lock shows
  int32_t LockFlags;    // CV_BITMAP_LOCK_* (internal)
  cvBitmap* AlphaLock;  // read lock on the alpha bitmap's level, or null
  int32_t DriverPitch;  // bytes per row of a driver-side lock

  // Driver copy.
  cvPixelFormat PreferredFormat;  // 0: none
  uint32_t DriverFlags;           // driver-use flags, CV_DRIVER_FORMAT_* bits
  int32_t DriverMipCount;         // wanted number of driver levels (1 at creation when 0)
  cvBitmap_Info Driver;           // the driver's copy (valid while attached); Palette is the driver palette
  uint32_t DriverFormatFlags;     // capability flags of the driver format chosen
  uint32_t AttachFlags;           // driver-use flags the copy was made for
  cvDriver_Table* DriverTable;
  void* DriverHandle;        // texture handle; attached when set
  void* DriverAlphaHandle;   // separate alpha texture made for this bitmap, or null
  void* DriverPaletteHandle; // palette texture made for this bitmap, or null
  int32_t DriverLocked;      // the driver's copy is locked
  int32_t DriverNewer;       // the driver's copy is newer than the system copy
  float Gamma;               // current (1.0 at creation)
  float PreviousGamma;
};

// ---------------------------------------------------------------------------
// Bitmaps
// ---------------------------------------------------------------------------

// A Width x Height bitmap in Format with stride = width, mip levels 0..0, no
// key and no pixel memory yet. MipCount is the wanted driver mip count (0
// means 1). Format 20 (wavelet) is refused.
cvBitmap* cvBitmap_Create(int32_t Width, int32_t Height, int32_t MipCount, cvPixelFormat Format);
// An empty record (one reference, all fields zero, gamma 1.0) for readers that fill it.
cvBitmap* cvBitmap_CreateEmpty(void);
int cvBitmap_CreateRef(cvBitmap* Bitmap);
// Drops one reference (a lock is unlocked with commit), frees at zero and
// clears *Bitmap. 1 when the object was freed.
int cvBitmap_Destroy(cvBitmap** Bitmap);

// Info: the driver copy when attached, else the system copy. SystemInfo (may
// be null): the system copy.
int cvBitmap_GetInfo(const cvBitmap* Bitmap, cvBitmap_Info* Info, cvBitmap_Info* SystemInfo);

// Size of level Mip of a bitmap described by Info: (n + 2^m - 1) >> m for
// width, height and stride. Any out pointer may be null.
int cvBitmap_GetLevelSize(const cvBitmap_Info* Info, int32_t Mip, int32_t* Width, int32_t* Height,
                          int32_t* Stride);
// Bytes of level Mip: bytes per pixel x stride_m x height_m (checked against the size limit).
int cvBitmap_GetLevelBytes(const cvBitmap_Info* Info, int32_t Mip, uint64_t* Bytes);
// The pixels of system level Mip, or null when it has none (no log entry).
uint8_t* cvBitmap_GetMipData(const cvBitmap* Bitmap, int32_t Mip);
// Allocates system level Mip (zero-filled) when missing and returns its pixels.
// Does not mark it valid or change the mip range.
uint8_t* cvBitmap_AllocateMip(cvBitmap* Bitmap, int32_t Mip);
int cvBitmap_IsMipValid(const cvBitmap* Bitmap, int32_t Mip);
int cvBitmap_SetMipValid(cvBitmap* Bitmap, int32_t Mip, int32_t Valid);

// Read locks on levels Low..High (Locks receives High - Low + 1 locks) in
// Format with the given key. A failed call leaves no lock behind.
int cvBitmap_LockForRead(cvBitmap* Bitmap, cvBitmap** Locks, int32_t LowMip, int32_t HighMip,
                         cvPixelFormat Format, int32_t HasColorKey, uint32_t ColorKey);
// Write locks in the bitmap's own format.
int cvBitmap_LockForWrite(cvBitmap* Bitmap, cvBitmap** Locks, int32_t LowMip, int32_t HighMip);
// Write locks in Format: the bitmap's own format or that of its driver copy.
int cvBitmap_LockForWriteFormat(cvBitmap* Bitmap, cvBitmap** Locks, int32_t LowMip,
                                int32_t HighMip, cvPixelFormat Format);
// Ends a lock; UnLock commits a write lock's changes, _NoChange drops them.
int cvBitmap_UnLock(cvBitmap* Lock);
int cvBitmap_UnLock_NoChange(cvBitmap* Lock);
// The same for each of Count locks; 1 only when all succeed.
int cvBitmap_UnLockArray(cvBitmap** Locks, int32_t Count);
int cvBitmap_UnLockArray_NoChange(cvBitmap** Locks, int32_t Count);
// The lock's pixels (for a lock on the driver copy: the driver's level, which
// stays locked in the driver from lock to unlock). Refused for a bitmap that
// is not a lock.
void* cvBitmap_GetBits(cvBitmap* Lock);
// The alpha read lock kept with a lock (grey), or null.
cvBitmap* cvBitmap_GetAlphaLock(const cvBitmap* Lock);

// Converts every level to Format in place, carrying the colour key over.
int cvBitmap_SetFormat(cvBitmap* Bitmap, cvPixelFormat Format);
// Sets or clears the colour key. With OnlyIfUsed the key is set only when
// some pixel of level 0 equals it (else cleared).
int cvBitmap_SetColorKey(cvBitmap* Bitmap, int32_t HasColorKey, uint32_t ColorKey,
                         int32_t OnlyIfUsed);
// The driver palette when attached and present, else the system palette (no reference added).
cvBitmap_Palette* cvBitmap_GetPalette(const cvBitmap* Bitmap);
int cvBitmap_SetPalette(cvBitmap* Bitmap, cvBitmap_Palette* Palette);
// The alpha bitmap (no reference added), or null.
cvBitmap* cvBitmap_GetAlpha(const cvBitmap* Bitmap);
// Replaces the alpha bitmap (new one referenced, old one released); null removes it.
int cvBitmap_SetAlpha(cvBitmap* Bitmap, cvBitmap* Alpha);
// Wanted driver mip count; an attached bitmap is attached again.
int cvBitmap_SetMipCount(cvBitmap* Bitmap, int32_t Count);
// Format the driver copy should preferably have; an attached bitmap is attached again.
int cvBitmap_SetPreferredFormat(cvBitmap* Bitmap, cvPixelFormat Format);
// Validates and stores the driver-use flags (CV_DRIVER_FORMAT_* bits):
// 0x40000 implies 0x02 and excludes 0x04 and 0x08; one of the low 16 bits
// must be set; 0x20000 is cleared. Refused flags leave the stored flags 0.
int cvBitmap_SetDriverFlags(cvBitmap* Bitmap, uint32_t Flags);

// ---------------------------------------------------------------------------
// Palettes
// ---------------------------------------------------------------------------

// Size entries in Format (not 0, 1 or 20), zero-filled, one reference.
cvBitmap_Palette* cvBitmap_Palette_Create(cvPixelFormat Format, int32_t Size);
int cvBitmap_Palette_CreateRef(cvBitmap_Palette* Palette);
// Drops one reference (refused while locked), frees at zero, clears *Palette.
int cvBitmap_Palette_Destroy(cvBitmap_Palette** Palette);
// Direct access to the entries; refused when already locked. Any out pointer may be null.
int cvBitmap_Palette_Lock(cvBitmap_Palette* Palette, void** Entries, cvPixelFormat* Format,
                          int32_t* Size);
// Ends the lock; with a colour key the key value is left standing only at the key index.
int cvBitmap_Palette_UnLock(cvBitmap_Palette* Palette);
// The palette as a Size x 1 image of its format with its key, no palette.
int cvBitmap_Palette_GetInfo(const cvBitmap_Palette* Palette, cvBitmap_Info* Info);
// Converts min(Count, Size) entries into / from Buffer in Format (a raw format).
int cvBitmap_Palette_GetData(cvBitmap_Palette* Palette, void* Buffer, cvPixelFormat Format,
                             int32_t Count);
int cvBitmap_Palette_SetData(cvBitmap_Palette* Palette, const void* Buffer, cvPixelFormat Format,
                             int32_t Count);
int cvBitmap_Palette_GetColor(cvBitmap_Palette* Palette, int32_t Index, int32_t* R, int32_t* G,
                              int32_t* B, int32_t* A);
// Sets one entry by colour under the key rules (alpha below 80 on a keyed
// palette without alpha stores the key itself; the key index is refused).
int cvBitmap_Palette_SetColor(cvBitmap_Palette* Palette, int32_t Index, int32_t R, int32_t G,
                              int32_t B, int32_t A);
// Sets the key: raw Key value of the palette's format at KeyIndex (-1: none).
int cvBitmap_Palette_SetColorKey(cvBitmap_Palette* Palette, int32_t HasColorKey, uint32_t Key,
                                 int32_t KeyIndex);
// Copies every entry of Source into Destination (at least as large), converting formats.
int cvBitmap_Palette_Copy(cvBitmap_Palette* Destination, cvBitmap_Palette* Source);

// ---------------------------------------------------------------------------
// Conversion and mips
// ---------------------------------------------------------------------------

// Converts a Width x Height rectangle from SourcePixels (described by
// SourceInfo) into DestinationPixels (DestinationInfo) under the colour-key
// rules. The bitmaps (may be null) supply palettes and alpha bitmaps the
// infos do not carry. A palettized destination without a palette gets one:
// it is set on DestinationBitmap when given, and DestinationInfo->Palette
// points at it; without a bitmap the caller owns the new palette's reference.
int cvBitmap_BlitData(const cvBitmap_Info* SourceInfo, const void* SourcePixels,
                      cvBitmap* SourceBitmap, cvBitmap_Info* DestinationInfo,
                      void* DestinationPixels, cvBitmap* DestinationBitmap, int32_t Width,
                      int32_t Height);
// Copies a rectangle between two levels (a lock passed as Destination is
// written directly). Negative Width / Height mean as much as fits.
int cvBitmap_BlitBitmap(cvBitmap* Source, int32_t SourceMip, int32_t SourceX, int32_t SourceY,
                        cvBitmap* Destination, int32_t DestinationMip, int32_t DestinationX,
                        int32_t DestinationY, int32_t Width, int32_t Height);
// Builds every missing (or not valid) level in Low..High from the next larger
// level by 2x2 averaging and raises the maximum mip level.
int cvBitmap_MakeMips(cvBitmap* Bitmap, int32_t LowMip, int32_t HighMip);

// ---------------------------------------------------------------------------
// Driver copy
// ---------------------------------------------------------------------------

// Enumerates the driver's texture formats, scores them for a bitmap of these
// properties and creates the texture in the winner. Chosen (may be null)
// receives the winning format. Returns the texture handle, or null.
void* cvBitmap_ChooseDriverFormat(cvDriver_Table* Driver, int32_t Width, int32_t Height,
                                  int32_t MipCount, cvPixelFormat PreferredFormat,
                                  cvPixelFormat BitmapFormat, int32_t WantColorKey,
                                  int32_t WantAlpha, int32_t HasAlphaBitmap, uint32_t DriverFlags,
                                  cvDriver_PixelFormat* Chosen);
// Creates the driver copy (DriverFlags 0: the bitmap's own flags, else 3D)
// and uploads the system copy with gamma applied. A null Driver detaches.
int cvBitmap_AttachToDriver(cvBitmap* Bitmap, cvDriver_Table* Driver, uint32_t DriverFlags);
int cvBitmap_DetachFromDriver(cvBitmap* Bitmap);
int cvBitmap_IsAttached(const cvBitmap* Bitmap);
// The driver's texture handle (for drawing), or null when not attached.
void* cvBitmap_GetDriverHandle(const cvBitmap* Bitmap);
// Uploads the system copy to the driver copy again (gamma applied).
int cvBitmap_UploadToDriver(cvBitmap* Bitmap);
// Brings the system copy up to date when the driver copy is newer (1 when
// nothing had to be done).
int cvBitmap_UpdateFromDriver(cvBitmap* Bitmap);

// ---------------------------------------------------------------------------
// Gamma
// ---------------------------------------------------------------------------

// Stores Gamma as the bitmap's current gamma (the old one becomes previous);
// an attached bitmap's driver copy loses the old correction and gets the new.
int cvBitmap_SetGamma(cvBitmap* Bitmap, float Gamma);
// Corrects the driver copy with the bitmap's current gamma, or undoes it with
// the inverse table (Inverse non-zero). Does nothing (1) for gamma <= 0.1,
// within 0.1 of 1.0, or a bitmap that is not attached; refused while locked.
int cvBitmap_ApplyGamma(cvBitmap* Bitmap, int32_t Inverse);
// The correction table for Gamma and its inverse (each 256 entries).
int cvBitmap_BuildGammaTables(float Gamma, uint8_t* Table, uint8_t* Inverse);

}  // extern "C"
