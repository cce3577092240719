// VFile: one file interface over disk files, memory blocks and archives.
//
// A cvVFile is either a plain file (a byte stream with a position) or a file
// system (something names can be opened in: a disk directory or an archive).
// Every file-system type is reached only through its table of 24 operations,
// cvVFile_SystemOps; the generic functions below check their arguments, pick
// the table and forward. Three types are built in and always get the codes
// 1 (disk), 2 (memory) and 3 (archive).
//
// All functions return 1 (or a non-null pointer) on success and 0 (or null)
// on failure. The module adds no error-log entries: callers that read or write
// engine files log their own codes when a call here fails.
//
// Depends on: Support (memory).
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Constants
// ---------------------------------------------------------------------------

// Type codes returned by registration and given to cvVFile_OpenNewSystem.
enum : int32_t {
  CV_VFILE_TYPE_DOS = 1,      // host disk files and directories
  CV_VFILE_TYPE_MEMORY = 2,   // a block of memory
  CV_VFILE_TYPE_VIRTUAL = 3,  // an archive inside another file
};

// Open flags. Valid sets: exactly one of READONLY, UPDATE, CREATE; or
// DIRECTORY with any of them (9 reads a directory, 12 creates one).
enum : uint32_t {
  CV_VFILE_OPEN_READONLY = 1,
  CV_VFILE_OPEN_UPDATE = 2,     // read and write an existing file
  CV_VFILE_OPEN_CREATE = 4,     // create (or truncate) and write
  CV_VFILE_OPEN_DIRECTORY = 8,  // a directory or file system, not a byte stream
};

// Attribute bits.
enum : uint32_t {
  CV_VFILE_ATTRIB_READONLY = 1,
  CV_VFILE_ATTRIB_DIRECTORY = 2,
};

// Seek modes.
enum : uint32_t {
  CV_VFILE_SEEKCUR = 0,  // offset added to the current position
  CV_VFILE_SEEKEND = 1,  // relative to the end (memory and archive: end minus offset)
  CV_VFILE_SEEKSET = 2,  // offset from the start
};

// Longest name a properties record holds, NUL included.
enum : uint32_t { CV_VFILE_NAME_SIZE = 1024 };

// Size of the stack buffer cvVFile_Printf formats into.
enum : uint32_t { CV_VFILE_PRINTF_BUFFER = 8096 };

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

// A 64-bit count of 100 ns units since 1601-01-01 (UTC), low word first.
typedef struct cvVFile_Time {
  uint32_t Low;
  uint32_t High;
} cvVFile_Time;

// Opaque bytes an archive keeps with an entry; disk and memory keep none.
typedef struct cvVFile_Hints {
  uint8_t* Data;
  int32_t Length;
} cvVFile_Hints;

typedef struct cvVFile_Properties {
  cvVFile_Time Time;         // last-write time
  uint32_t Attributes;       // CV_VFILE_ATTRIB_*
  uint32_t Size;             // byte count (low 32 bits on disk)
  cvVFile_Hints Hints;       // archive entry's own bytes (not copied); null/0 elsewhere
  char Name[CV_VFILE_NAME_SIZE];  // name as opened (disk: the part after the context directory)
} cvVFile_Properties;

// Context of the memory type: the caller's bytes (read-only, used in place),
// or a null Data for a growable, writable file. cvVFile_UpdateContext hands
// back the current bytes and length.
typedef struct cvVFile_MemoryContext {
  void* Data;
  uint32_t Length;
} cvVFile_MemoryContext;

struct cvVFile;

// The 24 operations of a file-system type, in this fixed slot order. Finder
// slots take the implementation finder, system slots the implementation
// handle of a file system, file slots the implementation handle of a file.
typedef struct cvVFile_SystemOps {
  /*  0 */ void* (*FinderCreate)(void* System, struct cvVFile* Context, const char* Pattern);
  /*  1 */ int (*FinderGetNextFile)(void* Finder);  // 1 found, 0 no more
  /*  2 */ int (*FinderGetProperties)(void* Finder, cvVFile_Properties* Properties);
  /*  3 */ void (*FinderDestroy)(void* Finder);
  /*  4 */ void* (*OpenNewSystem)(struct cvVFile* Base, const char* Name, void* Context, uint32_t Flags);
  /*  5 */ int (*UpdateContext)(void* File, void* Context, uint32_t ContextSize);
  /*  6 */ void* (*Open)(void* System, struct cvVFile* Context, const char* Name, uint32_t Zero,
                         uint32_t Flags);
  /*  7 */ int (*DeleteFile)(void* System, struct cvVFile* Context, const char* Name);
  /*  8 */ int (*RenameFile)(void* System, struct cvVFile* Context, const char* OldName,
                             const char* NewName);
  /*  9 */ int (*FileExists)(void* System, struct cvVFile* Context, const char* Name);
  /* 10 */ int (*Reserved)(void* File, uint32_t A, uint32_t B);  // 0 in every built-in type
  // Frees the record. 0 when finishing the file failed (an archive whose tree
  // or header could not be written); the record is freed either way.
  /* 11 */ int (*Close)(void* File);
  /* 12 */ int (*GetS)(void* File, char* Buffer, uint32_t Size);
  /* 13 */ int (*Read)(void* File, void* Buffer, uint32_t Count);
  /* 14 */ int (*Write)(void* File, const void* Buffer, uint32_t Count);
  /* 15 */ int (*Seek)(void* File, int32_t Offset, uint32_t Mode);
  /* 16 */ int (*Eof)(void* File);  // 1 at end
  /* 17 */ int (*Tell)(void* File, uint32_t* Position);
  /* 18 */ int (*Size)(void* File, uint32_t* Size);
  /* 19 */ int (*GetProperties)(void* File, cvVFile_Properties* Properties);
  /* 20 */ int (*SetSize)(void* File, uint32_t Size);
  /* 21 */ int (*SetAttributes)(void* File, uint32_t Attributes);
  /* 22 */ int (*SetTime)(void* File, const cvVFile_Time* Time);
  /* 23 */ int (*SetHints)(void* File, const cvVFile_Hints* Hints);
} cvVFile_SystemOps;

// One node of a search list. The first node of a handle's list is its own;
// the nodes behind it are shared with the system it was opened from.
// Nodes a handle allocated itself (its own node and the copies that
// cvVFile_AddSearchPath made) carry it as Owner and are freed with it.
typedef struct cvVFile_SearchNode {
  struct cvVFile* System;
  struct cvVFile_SearchNode* Next;
  struct cvVFile* Owner;
} cvVFile_SearchNode;

// The generic handle, allocated by the generic layer.
typedef struct cvVFile {
  int32_t Type;                     // 1..n from cvVFile_OpenNewSystem, 0 from cvVFile_Open
  const cvVFile_SystemOps* Ops;     // the table of its type
  void* Impl;                       // the implementation's own record
  struct cvVFile* Context;          // the system it was opened in (cvVFile_Open only)
  cvVFile_SearchNode* SearchList;   // where cvVFile_Open looks for names
  struct cvVFile* ImplicitBase;     // base file opened by OpenNewSystem itself; closed with this
} cvVFile;

typedef struct cvVFile_Finder {
  const cvVFile_SystemOps* Ops;
  void* Impl;
} cvVFile_Finder;

// ---------------------------------------------------------------------------
// Generic functions
// ---------------------------------------------------------------------------

// Registers the built-in types first if needed, then appends Ops and stores
// its 1-based type code in *Type.
int cvVFile_RegisterFileSystem(const cvVFile_SystemOps* Ops, int32_t* Type);

// Opens a file or file system of the given type. Disk: Name is the path
// (Base and Context ignored). Memory: Context is a cvVFile_MemoryContext,
// Base and Name null. Archive: Base is the file holding the archive (or null,
// and Name is then opened as a disk file first and closed with the archive);
// flags must include CV_VFILE_OPEN_DIRECTORY.
cvVFile* cvVFile_OpenNewSystem(cvVFile* Base, int32_t Type, const char* Name, void* Context,
                               uint32_t Flags);
// Opens Name inside System. Without CV_VFILE_OPEN_CREATE the search list is
// walked and the first system that has the name is used; with it, System.
// Disk names are joined to the directory's path with "/". Archive names are
// backslash-separated paths ("Motions\0") compared without regard to case;
// only one created file may be open in an archive at a time, and an existing
// entry opened for update cannot grow.
cvVFile* cvVFile_Open(cvVFile* System, const char* Name, uint32_t Flags);
// Closes the file, then the base file it opened itself. Returns 1, or 0 when
// finishing the file failed to write (an archive's tree or header).
int cvVFile_Close(cvVFile* File);

// A Count of 0 succeeds without touching the file. Read succeeds only when all
// Count bytes were read.
int cvVFile_Read(cvVFile* File, void* Buffer, uint32_t Count);
int cvVFile_Write(cvVFile* File, const void* Buffer, uint32_t Count);
// Reads one text line (ending LF, CR or CR LF; the last line of a file may
// lack its end) into Buffer as its characters, a line feed and a NUL. A line
// that does not fit in Size - 1 bytes fails and is left unread. Size 0 fails.
int cvVFile_GetS(cvVFile* File, char* Buffer, uint32_t Size);
// Formats the text and writes it without its NUL (text of 8,096 bytes or more
// is formatted into a heap block rather than cut short).
int cvVFile_Printf(cvVFile* File, const char* Format, ...)
#if defined(__GNUC__) || defined(__clang__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Disk files pass mode 1 to the host unchanged (a positive offset goes beyond
// the end); memory and archive files seek to the length minus the offset.
int cvVFile_Seek(cvVFile* File, int32_t Offset, uint32_t Mode);
int cvVFile_Tell(cvVFile* File, uint32_t* Position);
int cvVFile_EOF(cvVFile* File);  // 1 at end of file
int cvVFile_Size(cvVFile* File, uint32_t* Size);
int cvVFile_GetProperties(cvVFile* File, cvVFile_Properties* Properties);
// Disk files: sets the length (cuts or extends with zeros); others fail.
int cvVFile_SetSize(cvVFile* File, uint32_t Size);
int cvVFile_SetAttributes(cvVFile* File, uint32_t Attributes);
int cvVFile_SetTime(cvVFile* File, const cvVFile_Time* Time);
int cvVFile_SetHints(cvVFile* File, const cvVFile_Hints* Hints);

// Memory files: stores the current data pointer and length into *Context
// (ContextSize must be sizeof(cvVFile_MemoryContext)).
int cvVFile_UpdateContext(cvVFile* System, void* Context, uint32_t ContextSize);
// The file system File was opened in (null for one made by OpenNewSystem).
cvVFile* cvVFile_GetContext(cvVFile* File);

// These act on System itself (no search-list walk).
int cvVFile_DeleteFile(cvVFile* System, const char* Name);
int cvVFile_RenameFile(cvVFile* System, const char* OldName, const char* NewName);
int cvVFile_FileExists(cvVFile* System, const char* Name);

// Copies the search list of Other and puts the copy in front of System's list
// (Append 0) or at its end.
int cvVFile_AddSearchPath(cvVFile* System, cvVFile* Other, int Append);

// Finders: wildcard search in a file system ("*" and "?").
cvVFile_Finder* cvVFile_CreateFinder(cvVFile* System, const char* Pattern);
int cvVFile_FinderGetNextFile(cvVFile_Finder* Finder);
int cvVFile_FinderGetProperties(cvVFile_Finder* Finder, cvVFile_Properties* Properties);
void cvVFile_DestroyFinder(cvVFile_Finder* Finder);

// ---------------------------------------------------------------------------
// Time conversion between POSIX times and cvVFile_Time
// ---------------------------------------------------------------------------

void cvVFile_TimeFromPosix(int64_t Seconds, uint32_t Nanoseconds, cvVFile_Time* Time);
// Fails only on null arguments; times before 1970 give negative seconds.
int cvVFile_TimeToPosix(const cvVFile_Time* Time, int64_t* Seconds, uint32_t* Nanoseconds);

// ---------------------------------------------------------------------------
// Bounded reads and writes of little-endian fields. Every file reader uses
// these: each returns 1 on success and 0 on a short read or failed write,
// leaving *Value untouched on failure.
// ---------------------------------------------------------------------------

int cvVFile_ReadU8(cvVFile* File, uint8_t* Value);
int cvVFile_ReadLE16(cvVFile* File, uint16_t* Value);
int cvVFile_ReadLE32(cvVFile* File, uint32_t* Value);
int cvVFile_ReadF32(cvVFile* File, float* Value);  // little-endian IEEE single
int cvVFile_WriteU8(cvVFile* File, uint8_t Value);
int cvVFile_WriteLE16(cvVFile* File, uint16_t Value);
int cvVFile_WriteLE32(cvVFile* File, uint32_t Value);
int cvVFile_WriteF32(cvVFile* File, float Value);
// Bytes from the current position to the end of the file (0 past the end).
// A reader checks a count from the file against this before it allocates.
int cvVFile_Remaining(cvVFile* File, uint32_t* Bytes);
