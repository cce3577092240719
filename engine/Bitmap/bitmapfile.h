// Engine bitmap files ("CvBm") and Windows bitmap input.
//
// One bitmap per file or archive entry, read and written through an open
// cvVFile at its current position; the position is left just after the
// bitmap so that bitmaps can be embedded in longer streams. Reading also
// accepts an uncompressed Windows BMP (8, 16, 24 or 32 bits per pixel);
// writing always produces the engine format:
//
//   "CvBm", version 0x40 (high nibble 4), flags, format code,
//   (maximum mip level << 4 | wanted driver mip count), the size (one byte of
//   log2 width << 4 | log2 height, two bytes, or two 16-bit words), the colour
//   key as one raw pixel, an optional palette block, the mip levels (tag byte,
//   packed pixels; tag 0x0F ends) and an optional alpha bitmap in the same
//   format.
//
// Readers check every size and count against the bytes the file still holds
// before they allocate. Failures return null / 0 with a generic error-log
// entry (code -1); a partly read bitmap is destroyed.
#pragma once

#include <cstdint>

extern "C" {

struct cvBitmap;
struct cvVFile;

// Header flags of the engine format.
enum : uint8_t {
  CV_BITMAPFILE_SIZE_POW2 = 0x01,   // size as one byte: log2 width << 4 | log2 height
  CV_BITMAPFILE_COLORKEY = 0x02,    // a colour key follows the size
  CV_BITMAPFILE_ALPHA = 0x04,       // an alpha bitmap follows the mip section
  CV_BITMAPFILE_PALETTE = 0x08,     // a palette block follows the header
  CV_BITMAPFILE_SIZE_BYTES = 0x20,  // size as a width byte and a height byte
};

// Palette block byte: low 5 bits the palette format.
enum : uint8_t {
  CV_BITMAPFILE_PALETTE_256 = 0x20,         // 256 entries; else a count byte follows
  CV_BITMAPFILE_PALETTE_COMPRESSED = 0x40,  // refused by the reader, never written
};

// Mip level tag byte: low nibble the level.
enum : uint8_t {
  CV_BITMAPFILE_TAG_NODATA = 0x10,      // the level exists, no pixels stored
  CV_BITMAPFILE_TAG_COMPRESSED = 0x20,  // refused by the reader, never written
  CV_BITMAPFILE_TAG_END = 0x0F,
};

// An alpha bitmap may itself carry one; nesting deeper than this is refused.
enum { CV_BITMAPFILE_MAX_NESTING = 4 };

// Reads one bitmap (engine format or Windows BMP) from the current position.
// The bitmap has one reference and belongs to the caller.
cvBitmap* cvBitmap_CreateFromFile(cvVFile* File);
// Opens Name read-only in System (or, with a null System, as a disk file),
// reads one bitmap and closes the file.
cvBitmap* cvBitmap_CreateFromFileName(cvVFile* System, const char* Name);
// Writes the engine format at the current position.
int cvBitmap_WriteToFile(cvBitmap* Bitmap, cvVFile* File);
// Creates Name in System (or on disk), writes the bitmap and closes the file.
int cvBitmap_WriteToFileName(cvBitmap* Bitmap, cvVFile* System, const char* Name);

}  // extern "C"
