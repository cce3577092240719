// Shared pieces of the bitmap file reader: the engine-format reader and the
// Windows BMP reader call each other (an alpha bitmap may be a BMP).
#pragma once

#include <cstdint>

struct cvBitmap;
struct cvVFile;

namespace cvbmfile {

// Reads a bitmap at the current position; Depth counts alpha nesting and
// EmptyBudget is what levels without stored pixels may still allocate.
cvBitmap* ReadAny(cvVFile* File, int32_t Depth, uint64_t* EmptyBudget);
// Reads a Windows BMP whose file header starts at the current position into
// the empty record Bitmap. 1 on success; on failure the caller destroys it.
int ReadBmp(cvVFile* File, cvBitmap* Bitmap);

// Bytes left in the file, 0 when the file cannot tell.
uint64_t Remaining(cvVFile* File);

}  // namespace cvbmfile
