// Archive file system: a tree of named directories and files kept inside
// another file (disk, memory or an entry of another archive). File data lies
// one file after another behind a 24-byte header; the encoded directory tree
// follows the data. The header and tree are written when an archive mounted
// for update or create is closed.
#include <algorithm>
#include <cstring>
#include <new>

#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"
#include "VFile/dirtree.h"
#include "VFile/vfile_internal.h"

namespace {

constexpr uint32_t kHeaderSize = 24;
// Base positions are handed to cvVFile_Seek, which takes a signed 32-bit offset.
constexpr uint64_t kMaxPosition = 0x7FFFFFFF;

struct Archive {
  char Signature[4];     // "VF01"
  cvVFile* Base;
  Archive* Owner;        // the mounted archive (itself for the mounted archive)
  cvDirTree* Entry;      // files and directories; the root for the mounted archive
  cvDirTree* LookupDir;  // where names are looked up; null for a file
  uint32_t DataStart;    // S for the mounted archive; first data byte for a file
  uint32_t Position;     // file position relative to DataStart
  uint32_t Length;       // largest position reached
  uint32_t Flags;
  uint32_t EndPosition;  // mounted: just after the tree block
  int Mounted;
  uint32_t DataEnd;      // mounted: bytes from S to the end of the last file's data
  cvDirTree* Tree;       // mounted: the whole tree (owned)
  int CreatedOpen;       // mounted: a created file is open for writing
  int Created;           // file: opened with create
  uint32_t Limit;        // file: largest length it may reach (an existing entry cannot grow)
};

struct ArchiveFinder {
  char Signature[4];  // "VF02"
  Archive* Owner;
  cvDirTree_Finder* Tree;
  cvDirTree* Current;
};

Archive* AsArchive(void* Impl) {
  return cvVFile_HasSignature(Impl, "VF01") ? static_cast<Archive*>(Impl) : nullptr;
}

// A byte stream inside the archive (not a directory, not the archive itself).
Archive* AsFile(void* Impl) {
  Archive* a = AsArchive(Impl);
  return a && !a->LookupDir && !a->Mounted ? a : nullptr;
}

bool Writable(const Archive* File) { return (File->Flags & (CV_VFILE_OPEN_UPDATE | CV_VFILE_OPEN_CREATE)) != 0; }

void FreeRecord(Archive* Record) {
  std::memset(Record->Signature, 0, 4);
  cvRam_Free(Record);
}

Archive* NewRecord(cvVFile* Base, uint32_t Flags) {
  auto record = static_cast<Archive*>(cvRam_AllocateClear(sizeof(Archive)));
  if (!record) return nullptr;
  std::memcpy(record->Signature, "VF01", 4);
  record->Base = Base;
  record->Flags = Flags;
  return record;
}

bool SeekBase(cvVFile* Base, uint64_t Position) {
  return Position <= kMaxPosition && cvVFile_Seek(Base, (int32_t)Position, CV_VFILE_SEEKSET);
}

// After a base operation, takes the base position as the file position.
void Resync(Archive* F) {
  uint32_t at = 0;
  if (cvVFile_Tell(F->Base, &at) && at >= F->DataStart) {
    F->Position = at - F->DataStart;
    if (Writable(F)) F->Length = std::max(F->Length, F->Position);
  }
}

void* ArcOpenNewSystem(cvVFile* Base, const char*, void*, uint32_t Flags) {
  if (!Base || !(Flags & CV_VFILE_OPEN_DIRECTORY)) return nullptr;
  uint32_t start = 0;
  if (!cvVFile_Tell(Base, &start) || start > kMaxPosition - kHeaderSize) return nullptr;
  Archive* a = NewRecord(Base, Flags);
  if (!a) return nullptr;
  a->Owner = a;
  a->Mounted = 1;
  a->DataStart = start;
  if (Flags & CV_VFILE_OPEN_CREATE) {
    a->Tree = cvDirTree_Create();
    a->DataEnd = kHeaderSize;
  } else {
    uint8_t header[kHeaderSize];
    bool ok = cvVFile_Read(Base, header, kHeaderSize) && std::memcmp(header, "VF00", 4) == 0 &&
              cvLE_Get16(header + 4) == 0 && cvLE_Get32(header + 8) != 1;
    uint32_t dataLength = ok ? cvLE_Get32(header + 16) : 0;
    uint32_t treePosition = ok ? cvLE_Get32(header + 12) : 0;
    // The data lies between the header and the tree: a data length that runs
    // past the tree would make new files land far outside the archive.
    // Positions are checked against the base's size before any seek: seeking
    // a growable base beyond its end would enlarge it.
    uint32_t baseSize = 0;
    ok = ok && dataLength >= kHeaderSize && (uint64_t)start + dataLength <= treePosition &&
         cvVFile_Size(Base, &baseSize) && treePosition < baseSize && SeekBase(Base, treePosition);
    a->Tree = ok ? cvDirTree_ReadFromFile(Base) : nullptr;
    a->DataEnd = dataLength;
    a->EndPosition = cvLE_Get32(header + 20);
    // Closing leaves the base at the end position; one outside the base is
    // replaced by where the tree really ended.
    uint32_t treeEnd = 0;
    if (a->Tree && cvVFile_Tell(Base, &treeEnd) && a->EndPosition > baseSize) a->EndPosition = treeEnd;
  }
  if (!a->Tree) {
    FreeRecord(a);
    return nullptr;
  }
  a->Entry = a->Tree;
  a->LookupDir = a->Tree;
  return a;
}

void* ArcOpen(void* System, cvVFile*, const char* Name, uint32_t, uint32_t Flags) {
  Archive* context = AsArchive(System);
  if (!context || !context->LookupDir || !Name) return nullptr;
  Archive* owner = context->Owner;
  bool create = (Flags & CV_VFILE_OPEN_CREATE) != 0;
  bool directory = (Flags & CV_VFILE_OPEN_DIRECTORY) != 0;
  // Existing entries are rewritten in place only in an archive being created.
  if ((Flags & CV_VFILE_OPEN_UPDATE) && !create && !directory && !(owner->Flags & CV_VFILE_OPEN_CREATE))
    return nullptr;
  // Nothing can be added to an archive mounted read-only: its tree is never written.
  if (create && !(owner->Flags & (CV_VFILE_OPEN_UPDATE | CV_VFILE_OPEN_CREATE))) return nullptr;
  // Created files take their data from the data end: one at a time.
  if (create && !directory && owner->CreatedOpen) return nullptr;

  cvDirTree* entry = cvDirTree_FindExact(context->LookupDir, Name);
  if (create) {
    if (entry) return nullptr;
  } else {
    if (!entry) return nullptr;
    bool isDirectory = (entry->Attributes & CV_VFILE_ATTRIB_DIRECTORY) != 0;
    if (isDirectory != directory) return nullptr;
    // The entry's bytes must lie inside the base file.
    uint32_t baseSize = 0;
    if (!directory && (!cvVFile_Size(owner->Base, &baseSize) ||
                       (uint64_t)entry->DataPosition + entry->Size > baseSize ||
                       (uint64_t)entry->DataPosition + entry->Size > kMaxPosition))
      return nullptr;
  }
  uint64_t dataStart = (uint64_t)owner->DataStart + owner->DataEnd;
  if (create && !directory && dataStart > kMaxPosition) return nullptr;

  Archive* record = NewRecord(owner->Base, Flags);
  if (!record) return nullptr;
  if (create) {
    entry = cvDirTree_AddFile(context->LookupDir, Name, directory ? 1 : 0);
    if (!entry) {
      FreeRecord(record);
      return nullptr;
    }
  }
  record->Owner = owner;
  record->Entry = entry;
  if (directory) {
    record->LookupDir = entry;
  } else if (create) {
    record->DataStart = (uint32_t)dataStart;
    entry->DataPosition = (uint32_t)dataStart;
    record->Created = 1;
    record->Limit = (uint32_t)(kMaxPosition - dataStart);
    owner->CreatedOpen = 1;
  } else {
    // An existing entry is read or rewritten in place; growing it would
    // overwrite the data of the file behind it.
    record->DataStart = entry->DataPosition;
    record->Length = entry->Size;
    record->Limit = entry->Size;
  }
  return record;
}

int ArcFileExists(void* System, cvVFile*, const char* Name) {
  Archive* a = AsArchive(System);
  return a && a->LookupDir && cvDirTree_FindExact(a->LookupDir, Name) != nullptr;
}

// Writes the tree behind the data and the header at S, leaving the base just
// after the tree. False when any of it could not be written.
bool WriteArchive(Archive* A) {
  cvVFile* base = A->Base;
  uint64_t treeAt = (uint64_t)A->DataStart + A->DataEnd;
  uint32_t treeSize = 0;
  if (!SeekBase(base, treeAt) || !cvDirTree_WriteToFile(A->Tree, base, &treeSize)) return false;
  uint64_t end = treeAt + treeSize;
  if (end > kMaxPosition) return false;
  uint8_t header[kHeaderSize] = {'V', 'F', '0', '0'};
  cvLE_Put32(header + 12, (uint32_t)treeAt);
  cvLE_Put32(header + 16, A->DataEnd);
  cvLE_Put32(header + 20, (uint32_t)end);
  A->EndPosition = (uint32_t)end;
  return SeekBase(base, A->DataStart) && cvVFile_Write(base, header, kHeaderSize) && SeekBase(base, end);
}

int ArcClose(void* Impl) {
  Archive* a = AsArchive(Impl);
  if (!a) return 0;
  int ok = 1;
  if (a->Mounted) {
    if (a->Flags & (CV_VFILE_OPEN_UPDATE | CV_VFILE_OPEN_CREATE))
      ok = WriteArchive(a) ? 1 : 0;
    else
      SeekBase(a->Base, a->EndPosition);  // leave the enclosing file just after the archive
    cvDirTree_Destroy(a->Tree);
  } else if (a->Created) {
    // Only created files add their length to the data; a file read or updated
    // in place already lies inside it.
    Archive* owner = a->Owner;
    a->Entry->Size = a->Length;
    owner->DataEnd = (uint32_t)std::min<uint64_t>((uint64_t)owner->DataEnd + a->Length, kMaxPosition);
    owner->CreatedOpen = 0;
  }
  FreeRecord(a);
  return ok;
}

int ArcRead(void* Impl, void* Buffer, uint32_t Count) {
  Archive* f = AsFile(Impl);
  if (!f || f->Position > f->Length || Count > f->Length - f->Position) return 0;
  const uint64_t at = (uint64_t)f->DataStart + f->Position;
  if (at > kMaxPosition) return 0;
  if (!cvVFile_ReadAt(f->Base, (uint32_t)at, Buffer, Count)) {
    Resync(f);
    return 0;
  }
  f->Position += Count;
  return 1;
}

int ArcWrite(void* Impl, const void* Buffer, uint32_t Count) {
  Archive* f = AsFile(Impl);
  if (!f || !Writable(f)) return 0;
  if ((uint64_t)f->Position + Count > f->Limit || !SeekBase(f->Base, (uint64_t)f->DataStart + f->Position))
    return 0;
  if (!cvVFile_Write(f->Base, Buffer, Count)) {
    Resync(f);
    return 0;
  }
  f->Position += Count;
  f->Length = std::max(f->Length, f->Position);
  return 1;
}

int ArcGetS(void* Impl, char* Buffer, uint32_t Size) {
  Archive* f = AsFile(Impl);
  if (!f || Size < 2 || f->Position >= f->Length) return 0;
  uint32_t left = f->Length - f->Position;
  uint32_t window = std::min(left, Size);  // one byte more than fits, to see a CR LF pair
  uint8_t local[512];  // ordinary text lines fit the stack
  uint8_t* bytes = window <= sizeof(local) ? local : static_cast<uint8_t*>(cvRam_Allocate(window));
  if (!bytes) return 0;
  bool ok = SeekBase(f->Base, (uint64_t)f->DataStart + f->Position) && cvVFile_Read(f->Base, bytes, window);
  uint32_t used = ok ? cvVFile_ScanLine(bytes, window, window == left, Buffer, Size) : 0;
  if (bytes != local) cvRam_Free(bytes);
  if (!used) return 0;
  f->Position += used;
  return 1;
}

int ArcSeek(void* Impl, int32_t Offset, uint32_t Mode) {
  Archive* f = AsFile(Impl);
  if (!f) return 0;
  int64_t target;
  switch (Mode) {
    case CV_VFILE_SEEKCUR: target = (int64_t)f->Position + Offset; break;
    case CV_VFILE_SEEKEND: target = (int64_t)f->Length - Offset; break;
    case CV_VFILE_SEEKSET: target = Offset; break;
    default: return 0;
  }
  if (target < 0) return 0;
  // A file that is only read cannot reach beyond its own bytes into the next file's.
  if (target > (int64_t)(Writable(f) ? f->Limit : f->Length)) return 0;
  if (!SeekBase(f->Base, (uint64_t)f->DataStart + (uint64_t)target)) return 0;
  f->Position = (uint32_t)target;
  f->Length = std::max(f->Length, f->Position);
  return 1;
}

int ArcEof(void* Impl) {
  Archive* f = AsFile(Impl);
  return f && f->Position == f->Length;
}

int ArcTell(void* Impl, uint32_t* Position) {
  Archive* f = AsFile(Impl);
  if (!f) return 0;
  *Position = f->Position;
  return 1;
}

int ArcSize(void* Impl, uint32_t* Size) {
  Archive* f = AsFile(Impl);
  if (!f) return 0;
  *Size = f->Length;
  return 1;
}

bool FillProperties(const cvDirTree* Entry, cvVFile_Properties* Properties, size_t NameLimit) {
  size_t nameLength = std::strlen(Entry->Name);
  if (nameLength + 1 > NameLimit) return false;
  std::memset(Properties, 0, sizeof(*Properties));
  Properties->Time = Entry->Time;
  Properties->Attributes = Entry->Attributes;
  Properties->Size = Entry->Size;
  Properties->Hints.Data = Entry->Hints;
  Properties->Hints.Length = Entry->HintLength;
  std::memcpy(Properties->Name, Entry->Name, nameLength + 1);
  return true;
}

int ArcGetProperties(void* Impl, cvVFile_Properties* Properties) {
  Archive* a = AsArchive(Impl);
  if (!a || !a->Entry || !FillProperties(a->Entry, Properties, CV_VFILE_NAME_SIZE)) return 0;
  // An open file reports its current length.
  if (a->Created) Properties->Size = a->Length;
  return 1;
}

int ArcSetAttributes(void* Impl, uint32_t Attributes) {
  Archive* a = AsArchive(Impl);
  if (!a || !a->Entry || Attributes > CV_VFILE_ATTRIB_READONLY) return 0;
  a->Entry->Attributes = (a->Entry->Attributes & CV_VFILE_ATTRIB_DIRECTORY) | Attributes;
  return 1;
}

int ArcSetTime(void* Impl, const cvVFile_Time* Time) {
  Archive* a = AsArchive(Impl);
  if (!a || !a->Entry) return 0;
  a->Entry->Time = *Time;
  return 1;
}

int ArcSetHints(void* Impl, const cvVFile_Hints* Hints) {
  Archive* a = AsArchive(Impl);
  if (!a || !a->Entry || Hints->Length < 0) return 0;
  uint8_t* copy = nullptr;
  int32_t length = 0;
  if (Hints->Data && Hints->Length > 0) {
    copy = static_cast<uint8_t*>(cvRam_Allocate((size_t)Hints->Length));
    if (!copy) return 0;
    std::memcpy(copy, Hints->Data, (size_t)Hints->Length);
    length = Hints->Length;
  }
  cvRam_Free(a->Entry->Hints);
  a->Entry->Hints = copy;
  a->Entry->HintLength = length;
  return 1;
}

// ---------------------------------------------------------------------------
// Finder
// ---------------------------------------------------------------------------

ArchiveFinder* AsFinder(void* Impl) {
  return cvVFile_HasSignature(Impl, "VF02") ? static_cast<ArchiveFinder*>(Impl) : nullptr;
}

void* ArcFinderCreate(void* System, cvVFile*, const char* Pattern) {
  Archive* a = AsArchive(System);
  if (!a || !a->LookupDir) return nullptr;
  auto finder = static_cast<ArchiveFinder*>(cvRam_AllocateClear(sizeof(ArchiveFinder)));
  if (!finder) return nullptr;
  finder->Tree = cvDirTree_CreateFinder(a->LookupDir, Pattern);
  if (!finder->Tree) {
    cvRam_Free(finder);
    return nullptr;
  }
  std::memcpy(finder->Signature, "VF02", 4);
  finder->Owner = a->Owner;
  return finder;
}

int ArcFinderGetNextFile(void* Impl) {
  ArchiveFinder* finder = AsFinder(Impl);
  if (!finder) return 0;
  finder->Current = cvDirTree_FinderGetNextFile(finder->Tree);
  return finder->Current != nullptr;
}

int ArcFinderGetProperties(void* Impl, cvVFile_Properties* Properties) {
  ArchiveFinder* finder = AsFinder(Impl);
  return finder && finder->Current && FillProperties(finder->Current, Properties, CV_VFILE_NAME_SIZE - 1);
}

void ArcFinderDestroy(void* Impl) {
  ArchiveFinder* finder = AsFinder(Impl);
  if (!finder) return;
  cvDirTree_DestroyFinder(finder->Tree);
  std::memset(finder->Signature, 0, 4);
  cvRam_Free(finder);
}

int ArcUnsupported3(void*, cvVFile*, const char*) { return 0; }
int ArcRenameFile(void*, cvVFile*, const char*, const char*) { return 0; }
int ArcUpdateContext(void*, void*, uint32_t) { return 0; }
int ArcReserved(void*, uint32_t, uint32_t) { return 0; }
int ArcSetSize(void*, uint32_t) { return 0; }

const cvVFile_SystemOps kArchiveOps = {
    ArcFinderCreate, ArcFinderGetNextFile, ArcFinderGetProperties, ArcFinderDestroy,
    ArcOpenNewSystem, ArcUpdateContext, ArcOpen, ArcUnsupported3, ArcRenameFile, ArcFileExists,
    ArcReserved, ArcClose, ArcGetS, ArcRead, ArcWrite, ArcSeek, ArcEof, ArcTell, ArcSize,
    ArcGetProperties, ArcSetSize, ArcSetAttributes, ArcSetTime, ArcSetHints,
};

}  // namespace

const cvVFile_SystemOps* cvVFileArchive_Ops(void) { return &kArchiveOps; }

int cvVFileArchive_ReadAt(void* Impl, uint32_t Position, void* Buffer, uint32_t Count) {
  Archive* f = AsFile(Impl);
  if (!f) return 0;
  // Where the seek would succeed and the read then lies inside the file, the
  // seek only sets the position: the read leaves the base where the seek and
  // the read would have. Anything else goes the long way.
  const uint32_t length = std::max(f->Length, Position);
  if (Position > (Writable(f) ? f->Limit : f->Length) || Count > length - Position ||
      (uint64_t)f->DataStart + Position > kMaxPosition)
    return Position <= INT32_MAX && ArcSeek(Impl, (int32_t)Position, CV_VFILE_SEEKSET) && ArcRead(Impl, Buffer, Count);
  f->Position = Position;
  f->Length = length;
  return ArcRead(Impl, Buffer, Count);
}
