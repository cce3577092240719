// The directory tree of an archive: entries in memory, path look-up, the
// encoded tree block ("DT01", pre-order) and wildcard search.
//
// Every walk over a tree is iterative, so a tree nested thousands deep (as a
// hostile file may encode) costs heap, not stack.
#pragma once

#include <cstdint>

#include "VFile/cvvfile.h"

typedef struct cvDirTree {
  char* Name;           // owned, NUL-terminated
  cvVFile_Time Time;
  uint32_t Attributes;  // CV_VFILE_ATTRIB_*
  uint32_t Size;        // data length (0 for directories)
  uint8_t* Hints;       // owned hint bytes
  int32_t HintLength;
  uint32_t DataPosition;  // first byte in the base file
  struct cvDirTree* FirstChild;
  struct cvDirTree* NextSibling;
} cvDirTree;

typedef struct cvDirTree_Finder {
  char* NamePattern;        // owned; null matches the whole name against WholePattern
  char* ExtensionPattern;   // owned, without its leading "."
  char* WholePattern;       // owned; used when the pattern has no extension part
  cvDirTree* Next;          // next entry to examine
} cvDirTree_Finder;

enum : uint32_t {
  CV_DIRTREE_COMPONENT_SIZE = 260,  // a path component holds at most 259 characters
  CV_DIRTREE_END_MARKER = 0xFFFFFFFFu,
};

// An empty root: empty name, directory attribute.
cvDirTree* cvDirTree_Create(void);
// Frees Entry, its children and its following siblings.
void cvDirTree_Destroy(cvDirTree* Entry);
// Backslash-separated, case-insensitive path below Directory; the empty path
// names Directory itself. Null when not found or the path is malformed.
cvDirTree* cvDirTree_FindExact(cvDirTree* Directory, const char* Path);
// Adds an entry for Path (whose parent directories must exist) at the front
// of its parent's children. Does not check for duplicates.
cvDirTree* cvDirTree_AddFile(cvDirTree* Directory, const char* Path, int IsDirectory);
// Writes the tree block at the file's position; *Size receives its length.
int cvDirTree_WriteToFile(const cvDirTree* Tree, cvVFile* File, uint32_t* Size);
// Reads a tree block at the file's position; null when the block is damaged.
cvDirTree* cvDirTree_ReadFromFile(cvVFile* File);
// Length of the encoded tree block.
int cvDirTree_GetSize(const cvDirTree* Tree, uint32_t* Size);

cvDirTree_Finder* cvDirTree_CreateFinder(cvDirTree* Directory, const char* Pattern);
// The next matching entry, or null.
cvDirTree* cvDirTree_FinderGetNextFile(cvDirTree_Finder* Finder);
void cvDirTree_DestroyFinder(cvDirTree_Finder* Finder);
// "?" matches one character, "*" any run; case is significant.
int cvDirTree_MatchPattern(const char* Name, const char* Pattern);
