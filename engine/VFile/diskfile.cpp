// Disk files and directories on the host's POSIX file API. Paths use "/";
// a name opened in a context directory is joined to that directory's path.
// Times are kept in 100 ns units since 1601; "read-only" means the owner has
// no write permission.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"
#include "VFile/vfile_internal.h"

namespace {

struct DiskFile {
  char Signature[4];  // "DF01"
  int Handle;         // -1 for a directory
  char* Path;         // owned full path
  const char* Name;   // the part of Path after the context directory
  int IsDirectory;
};

struct DiskFinder {
  char Signature[4];  // "DF02"
  DIR* Search;        // null when the directory could not be opened
  char* Directory;    // owned directory path of the search
  char* Pattern;      // owned file-name pattern
  struct dirent* Found;
  std::string FoundName;
};

const cvVFile_SystemOps* DiskOps();

DiskFile* AsFile(void* Impl) {
  return cvVFile_HasSignature(Impl, "DF01") ? static_cast<DiskFile*>(Impl) : nullptr;
}

char* CopyString(const std::string& Text) {
  auto copy = static_cast<char*>(cvRam_Allocate(Text.size() + 1));
  if (copy) std::memcpy(copy, Text.c_str(), Text.size() + 1);
  return copy;
}

// Builds the host path for Name in Context. A context must be an open disk
// directory; the whole path with its NUL must fit in PATH_MAX bytes.
// NameOffset receives where the name starts within the path.
bool BuildPath(cvVFile* Context, const char* Name, std::string* Path, size_t* NameOffset) {
  if (!Name) Name = "";
  if (Context) {
    DiskFile* dir = Context->Ops == DiskOps() ? AsFile(Context->Impl) : nullptr;
    if (!dir || !dir->IsDirectory) return false;
    *Path = dir->Path;
    if (Path->empty() || Path->back() != '/') *Path += '/';
    *NameOffset = Path->size();
    *Path += Name;
  } else {
    *Path = *Name ? Name : "./";
    *NameOffset = 0;
  }
  return Path->size() + 1 <= PATH_MAX;
}

void TimeFromStat(const struct stat& Info, cvVFile_Time* Time) {
  cvVFile_TimeFromPosix((int64_t)Info.st_mtim.tv_sec, (uint32_t)Info.st_mtim.tv_nsec, Time);
}

uint32_t AttributesFromStat(const struct stat& Info) {
  uint32_t attributes = 0;
  if (!(Info.st_mode & S_IWUSR)) attributes |= CV_VFILE_ATTRIB_READONLY;
  if (S_ISDIR(Info.st_mode)) attributes |= CV_VFILE_ATTRIB_DIRECTORY;
  return attributes;
}

bool CopyName(char* Out, const char* Name, size_t Limit) {
  size_t length = std::strlen(Name);
  if (length + 1 > Limit) return false;
  std::memcpy(Out, Name, length + 1);
  return true;
}

void FreeFile(DiskFile* File) {
  if (!File) return;
  if (File->Handle >= 0) ::close(File->Handle);
  cvRam_Free(File->Path);
  std::memset(File->Signature, 0, 4);
  cvRam_Free(File);
}

void* DiskOpen(void*, cvVFile* Context, const char* Name, uint32_t, uint32_t Flags) {
  std::string path;
  size_t nameOffset = 0;
  if (!BuildPath(Context, Name, &path, &nameOffset)) return nullptr;
  int handle = -1;
  struct stat info;
  if (Flags & CV_VFILE_OPEN_DIRECTORY) {
    bool exists = ::stat(path.c_str(), &info) == 0;
    if (exists && !S_ISDIR(info.st_mode)) return nullptr;
    if (Flags & CV_VFILE_OPEN_CREATE) {
      if (exists || ::mkdir(path.c_str(), 0777) != 0) return nullptr;
    } else if (!exists) {
      return nullptr;
    }
  } else {
    int mode;
    switch (Flags & 7) {
      case CV_VFILE_OPEN_READONLY: mode = O_RDONLY; break;
      case CV_VFILE_OPEN_UPDATE: mode = O_RDWR; break;
      case CV_VFILE_OPEN_CREATE: mode = O_RDWR | O_CREAT | O_TRUNC; break;
      default: return nullptr;
    }
    handle = ::open(path.c_str(), mode | O_CLOEXEC, 0666);
    if (handle < 0) return nullptr;
    // The host opens directories as files too; a byte stream must be a file.
    if (::fstat(handle, &info) != 0 || S_ISDIR(info.st_mode)) {
      ::close(handle);
      return nullptr;
    }
  }
  auto file = static_cast<DiskFile*>(cvRam_AllocateClear(sizeof(DiskFile)));
  char* pathCopy = file ? CopyString(path) : nullptr;
  if (!pathCopy) {
    cvRam_Free(file);
    if (handle >= 0) ::close(handle);
    return nullptr;
  }
  std::memcpy(file->Signature, "DF01", 4);
  file->Handle = handle;
  file->Path = pathCopy;
  file->Name = pathCopy + nameOffset;
  file->IsDirectory = (Flags & CV_VFILE_OPEN_DIRECTORY) ? 1 : 0;
  return file;
}

void* DiskOpenNewSystem(cvVFile*, const char* Name, void*, uint32_t Flags) {
  return DiskOpen(nullptr, nullptr, Name, 0, Flags);
}

int DiskUpdateContext(void*, void*, uint32_t) { return 0; }

int DiskDeleteFile(void*, cvVFile* Context, const char* Name) {
  std::string path;
  size_t offset;
  return BuildPath(Context, Name, &path, &offset) && ::unlink(path.c_str()) == 0;
}

int DiskRenameFile(void*, cvVFile* Context, const char* OldName, const char* NewName) {
  std::string from, to;
  size_t offset;
  if (!BuildPath(Context, OldName, &from, &offset) || !BuildPath(Context, NewName, &to, &offset)) return 0;
  // A move never replaces an existing file.
  struct stat info;
  if (::lstat(to.c_str(), &info) == 0) return 0;
  return ::rename(from.c_str(), to.c_str()) == 0;
}

int DiskFileExists(void*, cvVFile* Context, const char* Name) {
  std::string path;
  size_t offset;
  struct stat info;
  return BuildPath(Context, Name, &path, &offset) && ::stat(path.c_str(), &info) == 0;
}

int DiskReserved(void*, uint32_t, uint32_t) { return 0; }

int DiskClose(void* Impl) {
  DiskFile* f = AsFile(Impl);
  if (!f) return 0;
  int ok = 1;
  if (f->Handle >= 0 && ::close(f->Handle) != 0) ok = 0;
  f->Handle = -1;
  FreeFile(f);
  return ok;
}

bool ReadAll(int Handle, void* Buffer, uint32_t Count, uint32_t* Got) {
  auto out = static_cast<uint8_t*>(Buffer);
  uint32_t done = 0;
  while (done < Count) {
    ssize_t n = ::read(Handle, out + done, Count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += (uint32_t)n;
  }
  *Got = done;
  return done == Count;
}

int DiskRead(void* Impl, void* Buffer, uint32_t Count) {
  DiskFile* f = AsFile(Impl);
  uint32_t got = 0;
  return f && f->Handle >= 0 && ReadAll(f->Handle, Buffer, Count, &got);
}

int DiskWrite(void* Impl, const void* Buffer, uint32_t Count) {
  DiskFile* f = AsFile(Impl);
  if (!f || f->Handle < 0) return 0;
  auto in = static_cast<const uint8_t*>(Buffer);
  uint32_t done = 0;
  while (done < Count) {
    ssize_t n = ::write(f->Handle, in + done, Count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;
    done += (uint32_t)n;
  }
  return 1;
}

int DiskGetS(void* Impl, char* Buffer, uint32_t Size) {
  DiskFile* f = AsFile(Impl);
  if (!f || f->Handle < 0 || Size < 2) return 0;
  off_t start = ::lseek(f->Handle, 0, SEEK_CUR);
  if (start < 0) return 0;
  // Read one byte more than fits so that a carriage return at the last place
  // can still take its line feed with it.
  // Ordinary text lines fit the stack; longer buffers take a heap block.
  uint8_t local[512];
  uint8_t* window = Size <= sizeof(local) ? local : static_cast<uint8_t*>(cvRam_Allocate(Size));
  if (!window) return 0;
  uint32_t got = 0;
  bool atEnd = !ReadAll(f->Handle, window, Size, &got);
  uint32_t used = cvVFile_ScanLine(window, got, atEnd, Buffer, Size);
  if (window != local) cvRam_Free(window);
  // The next read starts right after the line end (or where this one began).
  if (::lseek(f->Handle, start + (off_t)used, SEEK_SET) < 0) return 0;
  return used ? 1 : 0;
}

int DiskSeek(void* Impl, int32_t Offset, uint32_t Mode) {
  DiskFile* f = AsFile(Impl);
  if (!f || f->Handle < 0) return 0;
  int whence = Mode == CV_VFILE_SEEKCUR ? SEEK_CUR : Mode == CV_VFILE_SEEKEND ? SEEK_END : SEEK_SET;
  return ::lseek(f->Handle, (off_t)Offset, whence) >= 0;
}

int DiskTell(void* Impl, uint32_t* Position) {
  DiskFile* f = AsFile(Impl);
  if (!f || f->Handle < 0) return 0;
  off_t at = ::lseek(f->Handle, 0, SEEK_CUR);
  if (at < 0) return 0;
  *Position = (uint32_t)at;
  return 1;
}

int DiskSize(void* Impl, uint32_t* Size) {
  DiskFile* f = AsFile(Impl);
  struct stat info;
  if (!f || f->Handle < 0 || ::fstat(f->Handle, &info) != 0) return 0;
  *Size = (uint32_t)info.st_size;
  return 1;
}

int DiskEof(void* Impl) {
  uint32_t position = 0, size = 0;
  return DiskTell(Impl, &position) && DiskSize(Impl, &size) && position == size;
}

int DiskGetProperties(void* Impl, cvVFile_Properties* Properties) {
  DiskFile* f = AsFile(Impl);
  if (!f) return 0;
  std::memset(Properties, 0, sizeof(*Properties));
  if (f->IsDirectory) {
    Properties->Attributes = CV_VFILE_ATTRIB_DIRECTORY;
  } else {
    struct stat info;
    if (::fstat(f->Handle, &info) != 0) return 0;
    TimeFromStat(info, &Properties->Time);
    Properties->Attributes = AttributesFromStat(info);
    Properties->Size = (uint32_t)info.st_size;
  }
  return CopyName(Properties->Name, f->Name, CV_VFILE_NAME_SIZE);
}

// Sets the file's length: cut off or extended with zeros; the position stays.
int DiskSetSize(void* Impl, uint32_t Size) {
  DiskFile* f = AsFile(Impl);
  return f && f->Handle >= 0 && ::ftruncate(f->Handle, (off_t)Size) == 0;
}

int DiskSetAttributes(void* Impl, uint32_t Attributes) {
  DiskFile* f = AsFile(Impl);
  struct stat info;
  if (!f || f->IsDirectory || ::fstat(f->Handle, &info) != 0) return 0;
  mode_t mode = info.st_mode & 07777;
  if (Attributes & CV_VFILE_ATTRIB_READONLY)
    mode &= ~(mode_t)(S_IWUSR | S_IWGRP | S_IWOTH);
  else
    mode |= S_IWUSR;
  return ::fchmod(f->Handle, mode) == 0;
}

int DiskSetTime(void* Impl, const cvVFile_Time* Time) {
  DiskFile* f = AsFile(Impl);
  if (!f) return 0;
  int64_t seconds = 0;
  uint32_t nanoseconds = 0;
  cvVFile_TimeToPosix(Time, &seconds, &nanoseconds);
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = (time_t)seconds;
  times[0].tv_nsec = times[1].tv_nsec = (long)nanoseconds;
  if (f->IsDirectory) return ::utimensat(AT_FDCWD, f->Path, times, 0) == 0;
  return ::futimens(f->Handle, times) == 0;
}

int DiskSetHints(void*, const cvVFile_Hints*) { return 0; }

// ---------------------------------------------------------------------------
// Finder: the pattern's directory part is searched with the host's wildcard
// rules on the file-name part; names starting with "." are skipped.
// ---------------------------------------------------------------------------

DiskFinder* AsFinder(void* Impl) {
  return cvVFile_HasSignature(Impl, "DF02") ? static_cast<DiskFinder*>(Impl) : nullptr;
}

void* DiskFinderCreate(void*, cvVFile* Context, const char* Pattern) {
  std::string path;
  size_t offset;
  if (!BuildPath(Context, Pattern, &path, &offset)) return nullptr;
  size_t slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::string pattern = slash == std::string::npos ? path : path.substr(slash + 1);
  auto finder = new (std::nothrow) DiskFinder();
  if (!finder) return nullptr;
  std::memcpy(finder->Signature, "DF02", 4);
  finder->Directory = CopyString(directory);
  finder->Pattern = CopyString(pattern);
  if (!finder->Directory || !finder->Pattern) {
    cvRam_Free(finder->Directory);
    cvRam_Free(finder->Pattern);
    delete finder;
    return nullptr;
  }
  finder->Search = ::opendir(directory.c_str());
  return finder;
}

int DiskFinderGetNextFile(void* Impl) {
  DiskFinder* finder = AsFinder(Impl);
  if (!finder || !finder->Search) return 0;
  while (struct dirent* entry = ::readdir(finder->Search)) {
    if (entry->d_name[0] == '.') continue;
    if (::fnmatch(finder->Pattern, entry->d_name, 0) != 0) continue;
    finder->FoundName = entry->d_name;
    finder->Found = entry;
    return 1;
  }
  finder->Found = nullptr;
  return 0;
}

int DiskFinderGetProperties(void* Impl, cvVFile_Properties* Properties) {
  DiskFinder* finder = AsFinder(Impl);
  if (!finder || !finder->Found) return 0;
  std::string full = std::string(finder->Directory) + finder->FoundName;
  struct stat info;
  if (::stat(full.c_str(), &info) != 0) return 0;
  std::memset(Properties, 0, sizeof(*Properties));
  TimeFromStat(info, &Properties->Time);
  Properties->Attributes = AttributesFromStat(info);
  Properties->Size = (uint32_t)info.st_size;
  return CopyName(Properties->Name, finder->FoundName.c_str(), CV_VFILE_NAME_SIZE - 1);
}

void DiskFinderDestroy(void* Impl) {
  DiskFinder* finder = AsFinder(Impl);
  if (!finder) return;
  if (finder->Search) ::closedir(finder->Search);
  cvRam_Free(finder->Directory);
  cvRam_Free(finder->Pattern);
  std::memset(finder->Signature, 0, 4);
  delete finder;
}

const cvVFile_SystemOps kDiskOps = {
    DiskFinderCreate, DiskFinderGetNextFile, DiskFinderGetProperties, DiskFinderDestroy,
    DiskOpenNewSystem, DiskUpdateContext, DiskOpen, DiskDeleteFile, DiskRenameFile, DiskFileExists,
    DiskReserved, DiskClose, DiskGetS, DiskRead, DiskWrite, DiskSeek, DiskEof, DiskTell, DiskSize,
    DiskGetProperties, DiskSetSize, DiskSetAttributes, DiskSetTime, DiskSetHints,
};

const cvVFile_SystemOps* DiskOps() { return &kDiskOps; }

}  // namespace

const cvVFile_SystemOps* cvVFileDisk_Ops(void) { return &kDiskOps; }
