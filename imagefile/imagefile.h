// Image files in the formats paint programs and viewers use: PNG, TGA and
// JPEG read into engine bitmaps, PNG and TGA written from engine bitmaps or
// from raw frames. Engine bitmap files ("CvBm") and Windows BMP files are
// read too, through the engine's own reader, so that one call opens any
// image a user may pick.
//
// The codecs are the system's packaged libraries: libpng (with zlib) for
// PNG, libjpeg for JPEG, stb_image and stb_image_write for TGA. This module
// sits outside the engine, for the tools, the program and the tests; it
// includes no Qt.
//
// Reading distrusts the file: the whole file is read into memory first (at
// most CV_SIZE_LIMIT bytes), the image size is checked against the engine's
// limits (at most CV_IMAGEFILE_MAX_SIDE pixels a side, the level within
// CV_SIZE_LIMIT bytes) before any pixel memory is allocated, and a file that
// ends early or that the library refuses fails with a message naming the
// reason. Every failure also adds one generic error-log entry (code -1)
// carrying that reason.
//
// What a file becomes (the nearest engine format):
//   grey (1 to 16 bits)                   CV_PIXELFORMAT_8BIT_GRAY
//   palette without partial transparency  CV_PIXELFORMAT_8BIT_PAL, palette in
//                                         32 bit XRGB; a single fully
//                                         transparent entry becomes the
//                                         colour key (its index)
//   colour without alpha                  CV_PIXELFORMAT_24BIT_BGR
//   anything with alpha (grey + alpha,    CV_PIXELFORMAT_32BIT_ARGB
//   colour + alpha, a transparent colour,
//   a palette with partial alpha)
// 16-bit samples are scaled to 8 bits with rounding. TGA palette images are
// expanded to true colour. The bitmap has one mip level (0) and one
// reference; the caller destroys it with cvBitmap_Destroy.
//
// What a bitmap is written as (level 0, the lowest level held):
//   8 bit pal without an alpha bitmap     PNG: palette (+ tRNS for the colour
//                                         key and palette alpha); TGA: RGB(A)
//   8 bit gray without key or alpha       grey
//   a format with alpha, an alpha bitmap  RGBA (colour-keyed pixels
//   or a colour key                       transparent black)
//   any other format                      RGB
// PNG output is deflate-compressed with adaptive row filters; TGA output is
// run-length encoded. Files are written to a temporary name beside the
// target and renamed over it, so a failed write leaves an older file whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Bitmap/cvbitmap.h"

enum cvImageFile_Type : int32_t {
  CV_IMAGEFILE_UNKNOWN = 0,
  CV_IMAGEFILE_PNG = 1,
  CV_IMAGEFILE_TGA = 2,
  CV_IMAGEFILE_JPEG = 3,
  CV_IMAGEFILE_ENGINE = 4,  // engine bitmap ("CvBm") or Windows BMP: read by the engine
};

// Largest width or height read or written: what the engine's bitmap file can
// store (a 16-bit word).
enum : int32_t { CV_IMAGEFILE_MAX_SIDE = 65535 };

// The type the first bytes of a file show: the PNG and JPEG signatures,
// "CvBm" or "BM" for the engine's reader; TGA, which has no signature, when
// the 18-byte header is a consistent TGA header. CV_IMAGEFILE_UNKNOWN else.
cvImageFile_Type cvImageFile_TypeOfData(const uint8_t* Data, size_t Size);
// The type a file name's extension names, in any case: ".png"; ".tga";
// ".jpg", ".jpeg", ".jpe"; ".bmp" (CV_IMAGEFILE_ENGINE). Unknown else.
cvImageFile_Type cvImageFile_TypeOfName(const char* Path);
// "PNG", "TGA", "JPEG", "engine bitmap or BMP", "unknown".
const char* cvImageFile_TypeName(cvImageFile_Type Type);

// Reads the image file at Path, whatever its name says: the type comes from
// its content. Null on failure, with the reason in *Message (may be null).
cvBitmap* cvImageFile_Read(const char* Path, std::string* Message);
// The same for a file already in memory.
cvBitmap* cvImageFile_ReadData(const uint8_t* Data, size_t Size, std::string* Message);

// Writes level 0 of Bitmap to Path as the type its extension names (PNG or
// TGA; anything else is refused). 1 / 0 with the reason in *Message.
int cvImageFile_Write(cvBitmap* Bitmap, const char* Path, std::string* Message);
// Writes a Width x Height frame of raw pixels (Pitch bytes from one row to
// the next, in any engine format with pixel operations, codes 2 to 19; 32
// bit XRGB for the frames a window presents) as RGB, or RGBA when the format
// has alpha.
int cvImageFile_WriteFrame(const void* Pixels, int32_t Width, int32_t Height, int32_t Pitch,
                           cvPixelFormat Format, const char* Path, std::string* Message);

// The bytes cvImageFile_Write / _WriteFrame would write, as Type (PNG or TGA).
int cvImageFile_Encode(cvBitmap* Bitmap, cvImageFile_Type Type, std::vector<uint8_t>* Out,
                       std::string* Message);
int cvImageFile_EncodeFrame(const void* Pixels, int32_t Width, int32_t Height, int32_t Pitch,
                            cvPixelFormat Format, cvImageFile_Type Type, std::vector<uint8_t>* Out,
                            std::string* Message);
