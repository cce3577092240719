// The generic file layer: the table of registered file-system types, argument
// checks, search lists, finders, and the helpers that every reader uses to
// read little-endian fields without running past the end of a file.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"
#include "VFile/vfile_internal.h"

namespace {

// The registered types; only grows, never freed.
const cvVFile_SystemOps** g_Types = nullptr;
int32_t g_TypeCount = 0;

int AppendType(const cvVFile_SystemOps* Ops, int32_t* Type) {
  auto grown = static_cast<const cvVFile_SystemOps**>(
      cvRam_Realloc(static_cast<void*>(g_Types), sizeof(*g_Types) * (size_t)(g_TypeCount + 1)));
  if (!grown) return 0;
  g_Types = grown;
  g_Types[g_TypeCount++] = Ops;
  *Type = g_TypeCount;
  return 1;
}

// Registers disk, memory and archive as 1, 2, 3 the first time it is needed.
// A registration that fails is retried at the next call.
int EnsureBuiltins() {
  const cvVFile_SystemOps* builtins[3] = {cvVFileDisk_Ops(), cvVFileMemory_Ops(), cvVFileArchive_Ops()};
  while (g_TypeCount < 3) {
    int32_t code = 0;
    if (!AppendType(builtins[g_TypeCount], &code)) return 0;
  }
  return g_Types[0] == builtins[0] && g_Types[1] == builtins[1] && g_Types[2] == builtins[2];
}

// Exactly one of read-only, update, create; or the directory bit with any of them.
bool ValidFlags(uint32_t Flags) {
  if (Flags & CV_VFILE_OPEN_DIRECTORY) return (Flags & ~15u) == 0;
  return Flags == CV_VFILE_OPEN_READONLY || Flags == CV_VFILE_OPEN_UPDATE || Flags == CV_VFILE_OPEN_CREATE;
}

cvVFile_SearchNode* NewNode(cvVFile* System, cvVFile* Owner) {
  auto node = static_cast<cvVFile_SearchNode*>(cvRam_Allocate(sizeof(cvVFile_SearchNode)));
  if (!node) return nullptr;
  node->System = System;
  node->Next = nullptr;
  node->Owner = Owner;
  return node;
}

void FreeOwnedNodes(cvVFile_SearchNode* Node, const cvVFile* Owner) {
  while (Node && Node->Owner == Owner) {
    cvVFile_SearchNode* next = Node->Next;
    cvRam_Free(Node);
    Node = next;
  }
}

// Copies Count systems into a fresh chain owned by Owner; null on failure.
cvVFile_SearchNode* CopyChain(const std::vector<cvVFile*>& Systems, cvVFile* Owner, cvVFile_SearchNode** Tail) {
  cvVFile_SearchNode* head = nullptr;
  cvVFile_SearchNode** link = &head;
  cvVFile_SearchNode* last = nullptr;
  for (cvVFile* system : Systems) {
    cvVFile_SearchNode* node = NewNode(system, Owner);
    if (!node) {
      FreeOwnedNodes(head, Owner);
      return nullptr;
    }
    *link = node;
    link = &node->Next;
    last = node;
  }
  if (Tail) *Tail = last;
  return head;
}

cvVFile* NewHandle(int32_t Type, const cvVFile_SystemOps* Ops, void* Impl, cvVFile* Context,
                   cvVFile_SearchNode* SharedTail) {
  auto file = static_cast<cvVFile*>(cvRam_Allocate(sizeof(cvVFile)));
  if (!file) return nullptr;
  cvVFile_SearchNode* node = NewNode(file, file);
  if (!node) {
    cvRam_Free(file);
    return nullptr;
  }
  node->Next = SharedTail;
  file->Type = Type;
  file->Ops = Ops;
  file->Impl = Impl;
  file->Context = Context;
  file->SearchList = node;
  file->ImplicitBase = nullptr;
  return file;
}

}  // namespace

int cvVFile_RegisterFileSystem(const cvVFile_SystemOps* Ops, int32_t* Type) {
  if (!Ops || !Type) return 0;
  if (!EnsureBuiltins()) return 0;
  return AppendType(Ops, Type);
}

cvVFile* cvVFile_OpenNewSystem(cvVFile* Base, int32_t Type, const char* Name, void* Context, uint32_t Flags) {
  if (!EnsureBuiltins()) return nullptr;
  if (Type < 1 || Type > g_TypeCount || !ValidFlags(Flags)) return nullptr;
  cvVFile* implicitBase = nullptr;
  if (Type == CV_VFILE_TYPE_VIRTUAL && !Base) {
    implicitBase = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, Name, nullptr, Flags & ~CV_VFILE_OPEN_DIRECTORY);
    if (!implicitBase) return nullptr;
    Base = implicitBase;
    Name = nullptr;
  }
  const cvVFile_SystemOps* ops = g_Types[Type - 1];
  void* impl = ops->OpenNewSystem(Base, Name, Context, Flags);
  if (!impl) {
    if (implicitBase) cvVFile_Close(implicitBase);
    return nullptr;
  }
  cvVFile* file = NewHandle(Type, ops, impl, nullptr, nullptr);
  if (!file) {
    ops->Close(impl);
    if (implicitBase) cvVFile_Close(implicitBase);
    return nullptr;
  }
  file->ImplicitBase = implicitBase;
  return file;
}

cvVFile* cvVFile_Open(cvVFile* System, const char* Name, uint32_t Flags) {
  if (!System || !Name || !ValidFlags(Flags) || !System->SearchList) return nullptr;
  cvVFile* chosen = nullptr;
  if (Flags & CV_VFILE_OPEN_CREATE) {
    chosen = System;
  } else {
    for (cvVFile_SearchNode* node = System->SearchList; node; node = node->Next) {
      cvVFile* candidate = node->System;
      if (candidate && candidate->Ops->FileExists(candidate->Impl, candidate, Name)) {
        chosen = candidate;
        break;
      }
    }
  }
  if (!chosen) return nullptr;
  void* impl = chosen->Ops->Open(chosen->Impl, chosen, Name, 0, Flags);
  if (!impl) return nullptr;
  cvVFile* file = NewHandle(0, chosen->Ops, impl, chosen, System->SearchList);
  if (!file) {
    chosen->Ops->Close(impl);
    return nullptr;
  }
  return file;
}

int cvVFile_Close(cvVFile* File) {
  if (!File) return 0;
  int ok = File->Ops->Close(File->Impl);
  if (File->ImplicitBase && !cvVFile_Close(File->ImplicitBase)) ok = 0;
  FreeOwnedNodes(File->SearchList, File);
  cvRam_Free(File);
  return ok ? 1 : 0;
}

int cvVFile_Read(cvVFile* File, void* Buffer, uint32_t Count) {
  if (Count == 0) return 1;
  if (!File || !Buffer) return 0;
  return File->Ops->Read(File->Impl, Buffer, Count);
}

int cvVFile_ReadAt(cvVFile* File, uint32_t Position, void* Buffer, uint32_t Count) {
  if (!File || !Buffer) return 0;
  if (File->Ops == cvVFileMemory_Ops()) return cvVFileMemory_ReadAt(File->Impl, Position, Buffer, Count);
  if (File->Ops == cvVFileArchive_Ops()) return cvVFileArchive_ReadAt(File->Impl, Position, Buffer, Count);
  return Position <= INT32_MAX && cvVFile_Seek(File, (int32_t)Position, CV_VFILE_SEEKSET) &&
         cvVFile_Read(File, Buffer, Count);
}

int cvVFile_Write(cvVFile* File, const void* Buffer, uint32_t Count) {
  if (Count == 0) return 1;
  if (!File || !Buffer) return 0;
  return File->Ops->Write(File->Impl, Buffer, Count);
}

int cvVFile_GetS(cvVFile* File, char* Buffer, uint32_t Size) {
  if (!File || !Buffer || Size == 0) return 0;
  return File->Ops->GetS(File->Impl, Buffer, Size);
}

int cvVFile_Printf(cvVFile* File, const char* Format, ...) {
  if (!File || !Format) return 0;
  char buffer[CV_VFILE_PRINTF_BUFFER];
  va_list args;
  va_start(args, Format);
  int length = std::vsnprintf(buffer, sizeof(buffer), Format, args);
  va_end(args);
  if (length < 0) return 0;
  if ((size_t)length < sizeof(buffer)) return File->Ops->Write(File->Impl, buffer, (uint32_t)length);
  // Longer text is formatted again into a heap block rather than cut short.
  char* big = static_cast<char*>(cvRam_Allocate((size_t)length + 1));
  if (!big) return 0;
  va_start(args, Format);
  std::vsnprintf(big, (size_t)length + 1, Format, args);
  va_end(args);
  int ok = File->Ops->Write(File->Impl, big, (uint32_t)length);
  cvRam_Free(big);
  return ok;
}

int cvVFile_Seek(cvVFile* File, int32_t Offset, uint32_t Mode) {
  if (!File || Mode > CV_VFILE_SEEKSET) return 0;
  return File->Ops->Seek(File->Impl, Offset, Mode);
}

int cvVFile_Tell(cvVFile* File, uint32_t* Position) {
  if (!File || !Position) return 0;
  return File->Ops->Tell(File->Impl, Position);
}

int cvVFile_EOF(cvVFile* File) {
  if (!File) return 0;
  return File->Ops->Eof(File->Impl);
}

int cvVFile_Size(cvVFile* File, uint32_t* Size) {
  if (!File || !Size) return 0;
  return File->Ops->Size(File->Impl, Size);
}

int cvVFile_GetProperties(cvVFile* File, cvVFile_Properties* Properties) {
  if (!File || !Properties) return 0;
  return File->Ops->GetProperties(File->Impl, Properties);
}

int cvVFile_SetSize(cvVFile* File, uint32_t Size) {
  if (!File) return 0;
  return File->Ops->SetSize(File->Impl, Size);
}

int cvVFile_SetAttributes(cvVFile* File, uint32_t Attributes) {
  if (!File) return 0;
  return File->Ops->SetAttributes(File->Impl, Attributes);
}

int cvVFile_SetTime(cvVFile* File, const cvVFile_Time* Time) {
  if (!File || !Time) return 0;
  return File->Ops->SetTime(File->Impl, Time);
}

int cvVFile_SetHints(cvVFile* File, const cvVFile_Hints* Hints) {
  if (!File || !Hints) return 0;
  return File->Ops->SetHints(File->Impl, Hints);
}

int cvVFile_UpdateContext(cvVFile* System, void* Context, uint32_t ContextSize) {
  if (!System || !Context) return 0;
  return System->Ops->UpdateContext(System->Impl, Context, ContextSize);
}

cvVFile* cvVFile_GetContext(cvVFile* File) { return File ? File->Context : nullptr; }

int cvVFile_DeleteFile(cvVFile* System, const char* Name) {
  if (!System || !Name) return 0;
  return System->Ops->DeleteFile(System->Impl, System, Name);
}

int cvVFile_RenameFile(cvVFile* System, const char* OldName, const char* NewName) {
  if (!System || !OldName || !NewName) return 0;
  return System->Ops->RenameFile(System->Impl, System, OldName, NewName);
}

int cvVFile_FileExists(cvVFile* System, const char* Name) {
  if (!System || !Name) return 0;
  return System->Ops->FileExists(System->Impl, System, Name);
}

int cvVFile_AddSearchPath(cvVFile* System, cvVFile* Other, int Append) {
  if (!System || !Other) return 0;
  std::vector<cvVFile*> copied;
  for (cvVFile_SearchNode* node = Other->SearchList; node; node = node->Next) copied.push_back(node->System);
  if (copied.empty()) return 1;
  if (!Append) {
    cvVFile_SearchNode* tail = nullptr;
    cvVFile_SearchNode* head = CopyChain(copied, System, &tail);
    if (!head) return 0;
    tail->Next = System->SearchList;
    System->SearchList = head;
    return 1;
  }
  // Appending must not change the lists of other handles, so nodes shared
  // with the system this one was opened from are first replaced by own copies.
  std::vector<cvVFile*> whole;
  cvVFile_SearchNode* node = System->SearchList;
  cvVFile_SearchNode* lastOwned = nullptr;
  for (; node && node->Owner == System; node = node->Next) lastOwned = node;
  for (cvVFile_SearchNode* shared = node; shared; shared = shared->Next) whole.push_back(shared->System);
  whole.insert(whole.end(), copied.begin(), copied.end());
  cvVFile_SearchNode* head = CopyChain(whole, System, nullptr);
  if (!head) return 0;
  if (lastOwned)
    lastOwned->Next = head;
  else
    System->SearchList = head;
  return 1;
}

cvVFile_Finder* cvVFile_CreateFinder(cvVFile* System, const char* Pattern) {
  if (!System || !Pattern) return nullptr;
  auto finder = static_cast<cvVFile_Finder*>(cvRam_Allocate(sizeof(cvVFile_Finder)));
  if (!finder) return nullptr;
  finder->Ops = System->Ops;
  finder->Impl = System->Ops->FinderCreate(System->Impl, System, Pattern);
  if (!finder->Impl) {
    cvRam_Free(finder);
    return nullptr;
  }
  return finder;
}

int cvVFile_FinderGetNextFile(cvVFile_Finder* Finder) {
  if (!Finder) return 0;
  return Finder->Ops->FinderGetNextFile(Finder->Impl);
}

int cvVFile_FinderGetProperties(cvVFile_Finder* Finder, cvVFile_Properties* Properties) {
  if (!Finder || !Properties) return 0;
  return Finder->Ops->FinderGetProperties(Finder->Impl, Properties);
}

void cvVFile_DestroyFinder(cvVFile_Finder* Finder) {
  if (!Finder) return;
  Finder->Ops->FinderDestroy(Finder->Impl);
  cvRam_Free(Finder);
}

// ---------------------------------------------------------------------------
// Time: 100 ns units since 1601-01-01 <-> POSIX seconds and nanoseconds.
// ---------------------------------------------------------------------------

namespace {
constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;
constexpr uint64_t kTicksPerSecond = 10000000ULL;
}  // namespace

void cvVFile_TimeFromPosix(int64_t Seconds, uint32_t Nanoseconds, cvVFile_Time* Time) {
  if (!Time) return;
  uint64_t ticks = 0;
  int64_t since1601 = Seconds + kSecondsFrom1601To1970;
  if (since1601 > 0 && (uint64_t)since1601 < UINT64_MAX / kTicksPerSecond - 1)
    ticks = (uint64_t)since1601 * kTicksPerSecond + std::min<uint32_t>(Nanoseconds, 999999999u) / 100;
  else if (since1601 == 0)
    ticks = std::min<uint32_t>(Nanoseconds, 999999999u) / 100;
  Time->Low = (uint32_t)ticks;
  Time->High = (uint32_t)(ticks >> 32);
}

int cvVFile_TimeToPosix(const cvVFile_Time* Time, int64_t* Seconds, uint32_t* Nanoseconds) {
  if (!Time || !Seconds || !Nanoseconds) return 0;
  uint64_t ticks = ((uint64_t)Time->High << 32) | Time->Low;
  *Seconds = (int64_t)(ticks / kTicksPerSecond) - kSecondsFrom1601To1970;
  *Nanoseconds = (uint32_t)(ticks % kTicksPerSecond) * 100;
  return 1;
}

// ---------------------------------------------------------------------------
// Line scanning shared by the disk, memory and archive types.
// ---------------------------------------------------------------------------

uint32_t cvVFile_ScanLine(const uint8_t* Window, uint32_t Avail, bool AtEnd, char* Buffer, uint32_t Size) {
  if (Size < 2) return 0;
  uint32_t limit = std::min(Avail, Size - 1);
  for (uint32_t i = 0; i < limit; ++i) {
    if (Window[i] != '\n' && Window[i] != '\r') continue;
    std::memcpy(Buffer, Window, i);
    Buffer[i] = '\n';
    Buffer[i + 1] = '\0';
    uint32_t used = i + 1;
    if (Window[i] == '\r' && i + 1 < Avail && Window[i + 1] == '\n') ++used;
    return used;
  }
  // The last line of a file may lack its line end; it is returned with one.
  if (AtEnd && Avail > 0 && Avail <= Size - 2) {
    std::memcpy(Buffer, Window, Avail);
    Buffer[Avail] = '\n';
    Buffer[Avail + 1] = '\0';
    return Avail;
  }
  return 0;
}

void cvVFile_CopyBytes(void* To, const void* From, uint32_t Count) {
  // Fields of a few bytes, the most frequent reads, are copied in place
  // (two copies of fixed size that may overlap) rather than by a call.
  auto* to = static_cast<uint8_t*>(To);
  const auto* from = static_cast<const uint8_t*>(From);
  if (Count >= 4 && Count <= 16) {
    if (Count >= 8) {
      std::memcpy(to, from, 8);
      std::memcpy(to + Count - 8, from + Count - 8, 8);
    } else {
      std::memcpy(to, from, 4);
      std::memcpy(to + Count - 4, from + Count - 4, 4);
    }
    return;
  }
  constexpr uint32_t kPiece = 1024;
  const uintptr_t ahead = (reinterpret_cast<uintptr_t>(To) - reinterpret_cast<uintptr_t>(From)) & 4095;
  if (Count <= kPiece || ahead == 0 || ahead >= 64) {
    std::memcpy(To, From, Count);
    return;
  }
  // Called through a pointer: the compiler would copy pieces of known
  // largest size inline with a string move of its own.
  static void* (*const volatile copy)(void*, const void*, size_t) = std::memcpy;
  for (uint32_t at = 0; at < Count; at += kPiece) copy(to + at, from + at, std::min(kPiece, Count - at));
}

// ---------------------------------------------------------------------------
// Bounded field access
// ---------------------------------------------------------------------------

int cvVFile_ReadU8(cvVFile* File, uint8_t* Value) {
  uint8_t b = 0;
  if (!Value || !cvVFile_Read(File, &b, 1)) return 0;
  *Value = b;
  return 1;
}

int cvVFile_ReadLE16(cvVFile* File, uint16_t* Value) {
  uint8_t b[2];
  if (!Value || !cvVFile_Read(File, b, 2)) return 0;
  *Value = cvLE_Get16(b);
  return 1;
}

int cvVFile_ReadLE32(cvVFile* File, uint32_t* Value) {
  uint8_t b[4];
  if (!Value || !cvVFile_Read(File, b, 4)) return 0;
  *Value = cvLE_Get32(b);
  return 1;
}

int cvVFile_ReadF32(cvVFile* File, float* Value) {
  uint32_t bits = 0;
  if (!Value || !cvVFile_ReadLE32(File, &bits)) return 0;
  std::memcpy(Value, &bits, 4);
  return 1;
}

int cvVFile_WriteU8(cvVFile* File, uint8_t Value) { return cvVFile_Write(File, &Value, 1); }

int cvVFile_WriteLE16(cvVFile* File, uint16_t Value) {
  uint8_t b[2];
  cvLE_Put16(b, Value);
  return cvVFile_Write(File, b, 2);
}

int cvVFile_WriteLE32(cvVFile* File, uint32_t Value) {
  uint8_t b[4];
  cvLE_Put32(b, Value);
  return cvVFile_Write(File, b, 4);
}

int cvVFile_WriteF32(cvVFile* File, float Value) {
  uint32_t bits;
  std::memcpy(&bits, &Value, 4);
  return cvVFile_WriteLE32(File, bits);
}

int cvVFile_Remaining(cvVFile* File, uint32_t* Bytes) {
  uint32_t position = 0, size = 0;
  if (!Bytes || !cvVFile_Tell(File, &position) || !cvVFile_Size(File, &size)) return 0;
  *Bytes = position < size ? size - position : 0;
  return 1;
}
