// BitmapWriter: writes an engine bitmap's top level as an uncompressed 8-bit
// palettised Windows BMP, the file the skin editor exchanges with external
// paint programs. True-colour bitmaps are reduced to 256 colours in the file
// only (the engine builds the palette while locking); the bitmap is not
// changed. On request a true-colour bitmap is written as a 24-bit BMP
// instead, which keeps every colour. Plain host files, written with buffered
// standard output.
#pragma once

struct cvBitmap;

class BitmapWriter {
 public:
  virtual ~BitmapWriter();

  // Writes Path (an existing file is replaced). False when the bitmap cannot
  // be locked, its locked format has no BMP form, the file cannot be created
  // or writing it fails; the lock is released on every path.
  bool Write(cvBitmap* Bitmap, const char* Path) { return Write(Bitmap, Path, false); }
  // With TrueColour, a bitmap that is not palettised goes into a 24-bit file
  // (a palettised one stays 8-bit: its file holds it exactly either way).
  bool Write(cvBitmap* Bitmap, const char* Path, bool TrueColour);
};
