// VFile internals shared by the generic layer and the three built-in types:
// their operation tables, record signatures and the common line scanner.
#pragma once

#include <cstdint>
#include <cstring>

#include "VFile/cvvfile.h"

// Operation tables of the built-in types, registered as codes 1, 2 and 3.
const cvVFile_SystemOps* cvVFileDisk_Ops(void);
const cvVFile_SystemOps* cvVFileMemory_Ops(void);
const cvVFile_SystemOps* cvVFileArchive_Ops(void);

// True when Record is non-null and starts with the four-character Signature.
inline bool cvVFile_HasSignature(const void* Record, const char* Signature) {
  return Record != nullptr && std::memcmp(Record, Signature, 4) == 0;
}

// Finds one text line in Window[0, Avail). A line ends at a line feed, a
// carriage return, or a carriage return directly followed by a line feed; the
// line end must lie within the first Size - 1 bytes. AtEnd says that nothing
// follows the window, so that a last line without a line end still counts.
// On success the line's characters, a line feed and a NUL are stored in
// Buffer and the number of bytes the line took is returned; 0 means no line.
uint32_t cvVFile_ScanLine(const uint8_t* Window, uint32_t Avail, bool AtEnd, char* Buffer, uint32_t Size);

// Copies Count bytes between blocks that do not overlap, as memcpy does. A
// destination lying 1 to 63 bytes past its source, counted within a 4 KiB
// page, makes the string-move copy that the C library uses for blocks of
// some kilobytes run at a tenth of its speed on some processors (a body array
// or a bitmap that happens to land so takes several times longer to read);
// such copies go in pieces of 1 KiB, below the size where it is used.
void cvVFile_CopyBytes(void* To, const void* From, uint32_t Count);

// Reads Count bytes at Position of File into Buffer, leaving File (and the
// files below it) where a seek to Position and a read would leave them, with
// the same result. Archive entries and memory files read straight through to
// the bytes below them, without a seek at every level; other types seek and
// read.
int cvVFile_ReadAt(cvVFile* File, uint32_t Position, void* Buffer, uint32_t Count);
int cvVFileMemory_ReadAt(void* Impl, uint32_t Position, void* Buffer, uint32_t Count);
int cvVFileArchive_ReadAt(void* Impl, uint32_t Position, void* Buffer, uint32_t Count);
