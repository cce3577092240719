// Memory files: a read-only view of the caller's bytes, or a growable buffer
// that the file owns and hands back through UpdateContext. Memory files hold
// no names, so the name, finder and attribute operations all fail.
#include <algorithm>
#include <cstring>

#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"
#include "VFile/vfile_internal.h"

namespace {

constexpr uint32_t kGrowStep = 8192;
// Largest capacity a growable file may reach (the last 8,192-byte step below 4 GiB).
constexpr uint64_t kMaxCapacity = 0xFFFFE000ULL;

struct MemFile {
  char Signature[4];  // "MF01"
  uint8_t* Data;
  uint32_t Length;    // end of the data
  uint32_t Capacity;
  uint32_t Position;
  int OwnsBuffer;
  int ReadOnly;
};

MemFile* AsFile(void* Impl) {
  return cvVFile_HasSignature(Impl, "MF01") ? static_cast<MemFile*>(Impl) : nullptr;
}

// Grows the buffer so that it holds at least Needed bytes: the new capacity is
// the old one plus Extra, rounded up to a multiple of 8,192. New bytes are zero
// so that a seek past the end reads back as zeros once written behind.
bool Grow(MemFile* F, uint64_t Needed, uint64_t Extra) {
  if (Needed <= F->Capacity) return true;
  if (F->ReadOnly) return false;
  uint64_t target = std::max<uint64_t>((uint64_t)F->Capacity + Extra, Needed);
  target = (target + kGrowStep - 1) / kGrowStep * kGrowStep;
  if (target > kMaxCapacity) return false;
  auto grown = static_cast<uint8_t*>(cvRam_Realloc(F->Data, (size_t)target));
  if (!grown) return false;
  std::memset(grown + F->Capacity, 0, (size_t)(target - F->Capacity));
  F->Data = grown;
  F->Capacity = (uint32_t)target;
  return true;
}

void* MemOpenNewSystem(cvVFile* Base, const char* Name, void* Context, uint32_t Flags) {
  if (Base || Name || !Context || (Flags & CV_VFILE_OPEN_DIRECTORY)) return nullptr;
  const auto* context = static_cast<const cvVFile_MemoryContext*>(Context);
  if (context->Data && (Flags & (CV_VFILE_OPEN_UPDATE | CV_VFILE_OPEN_CREATE))) return nullptr;
  auto file = static_cast<MemFile*>(cvRam_AllocateClear(sizeof(MemFile)));
  if (!file) return nullptr;
  std::memcpy(file->Signature, "MF01", 4);
  if (context->Data) {
    file->Data = static_cast<uint8_t*>(context->Data);
    file->Length = file->Capacity = context->Length;
    file->ReadOnly = 1;
  } else {
    file->OwnsBuffer = 1;
  }
  return file;
}

int MemUpdateContext(void* Impl, void* Context, uint32_t ContextSize) {
  MemFile* f = AsFile(Impl);
  if (!f || !Context || ContextSize != sizeof(cvVFile_MemoryContext)) return 0;
  auto* context = static_cast<cvVFile_MemoryContext*>(Context);
  context->Data = f->Data;
  context->Length = f->Length;
  return 1;
}

int MemClose(void* Impl) {
  MemFile* f = AsFile(Impl);
  if (!f) return 0;
  if (f->OwnsBuffer) cvRam_Free(f->Data);
  std::memset(f->Signature, 0, 4);
  cvRam_Free(f);
  return 1;
}

int MemGetS(void* Impl, char* Buffer, uint32_t Size) {
  MemFile* f = AsFile(Impl);
  if (!f || f->Position >= f->Length) return 0;
  uint32_t used = cvVFile_ScanLine(f->Data + f->Position, f->Length - f->Position, true, Buffer, Size);
  if (!used) return 0;
  f->Position += used;
  return 1;
}

int MemRead(void* Impl, void* Buffer, uint32_t Count) {
  MemFile* f = AsFile(Impl);
  if (!f || f->Position > f->Length || Count > f->Length - f->Position) return 0;
  cvVFile_CopyBytes(Buffer, f->Data + f->Position, Count);
  f->Position += Count;
  return 1;
}

int MemWrite(void* Impl, const void* Buffer, uint32_t Count) {
  MemFile* f = AsFile(Impl);
  if (!f || f->ReadOnly) return 0;
  uint64_t end = (uint64_t)f->Position + Count;
  if (!Grow(f, end, Count)) return 0;
  cvVFile_CopyBytes(f->Data + f->Position, Buffer, Count);
  f->Position = (uint32_t)end;
  f->Length = std::max(f->Length, f->Position);
  return 1;
}

int MemSeek(void* Impl, int32_t Offset, uint32_t Mode) {
  MemFile* f = AsFile(Impl);
  if (!f) return 0;
  int64_t target;
  switch (Mode) {
    case CV_VFILE_SEEKCUR: target = (int64_t)f->Position + Offset; break;
    case CV_VFILE_SEEKEND:
      if (Offset > 0 && (uint32_t)Offset > f->Length) return 0;
      target = (int64_t)f->Length - Offset;
      break;
    case CV_VFILE_SEEKSET: target = Offset; break;
    default: return 0;
  }
  if (target < 0) return 0;
  if (!Grow(f, (uint64_t)target, (uint64_t)target - std::min<uint64_t>((uint64_t)target, f->Capacity))) return 0;
  f->Position = (uint32_t)target;
  f->Length = std::max(f->Length, f->Position);
  return 1;
}

int MemEof(void* Impl) {
  MemFile* f = AsFile(Impl);
  return f && f->Position == f->Length;
}

int MemTell(void* Impl, uint32_t* Position) {
  MemFile* f = AsFile(Impl);
  if (!f) return 0;
  *Position = f->Position;
  return 1;
}

int MemSize(void* Impl, uint32_t* Size) {
  MemFile* f = AsFile(Impl);
  if (!f) return 0;
  *Size = f->Length;
  return 1;
}

// A memory file holds no names and keeps no attributes, time or hints.
void* MemFinderCreate(void*, cvVFile*, const char*) { return nullptr; }
int MemFinderGetNextFile(void*) { return 0; }
int MemFinderGetProperties(void*, cvVFile_Properties*) { return 0; }
void MemFinderDestroy(void*) {}
void* MemOpen(void*, cvVFile*, const char*, uint32_t, uint32_t) { return nullptr; }
int MemDeleteFile(void*, cvVFile*, const char*) { return 0; }
int MemRenameFile(void*, cvVFile*, const char*, const char*) { return 0; }
int MemFileExists(void*, cvVFile*, const char*) { return 0; }
int MemReserved(void*, uint32_t, uint32_t) { return 0; }
int MemGetProperties(void*, cvVFile_Properties*) { return 0; }
int MemSetSize(void*, uint32_t) { return 0; }
int MemSetAttributes(void*, uint32_t) { return 0; }
int MemSetTime(void*, const cvVFile_Time*) { return 0; }
int MemSetHints(void*, const cvVFile_Hints*) { return 0; }

const cvVFile_SystemOps kMemoryOps = {
    MemFinderCreate, MemFinderGetNextFile, MemFinderGetProperties, MemFinderDestroy,
    MemOpenNewSystem, MemUpdateContext, MemOpen, MemDeleteFile, MemRenameFile, MemFileExists,
    MemReserved, MemClose, MemGetS, MemRead, MemWrite, MemSeek, MemEof, MemTell, MemSize,
    MemGetProperties, MemSetSize, MemSetAttributes, MemSetTime, MemSetHints,
};

}  // namespace

const cvVFile_SystemOps* cvVFileMemory_Ops(void) { return &kMemoryOps; }

int cvVFileMemory_ReadAt(void* Impl, uint32_t Position, void* Buffer, uint32_t Count) {
  MemFile* f = AsFile(Impl);
  if (!f) return 0;
  // Outside the data the seek's rules apply (a growable file grows).
  if (Position > f->Length || Count > f->Length - Position)
    return Position <= INT32_MAX && MemSeek(Impl, (int32_t)Position, CV_VFILE_SEEKSET) && MemRead(Impl, Buffer, Count);
  cvVFile_CopyBytes(Buffer, f->Data + Position, Count);
  f->Position = Position + Count;
  return 1;
}
