// Archive directory tree: in-memory entries, path look-up and the encoded
// tree block. The block is built in memory and written with one write, and
// read whole (after checking its size against what the file still holds)
// before it is decoded, so that no field can make the reader run past it.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "Support/cvsupport.h"
#include "VFile/dirtree.h"

namespace {

constexpr uint32_t kBlockHeaderSize = 8;
// marker, name length, time (8), attributes, size, data position, hint length
constexpr uint32_t kEntryFixedSize = 4 + 4 + 8 + 4 + 4 + 4 + 4;

char* CopyBytes(const char* Text, size_t Length) {
  auto copy = static_cast<char*>(cvRam_Allocate(Length + 1));
  if (!copy) return nullptr;
  std::memcpy(copy, Text, Length);
  copy[Length] = '\0';
  return copy;
}

void FreeEntry(cvDirTree* Entry) {
  cvRam_Free(Entry->Name);
  cvRam_Free(Entry->Hints);
  cvRam_Free(Entry);
}

bool SameName(const char* A, const char* B, size_t BLength) {
  for (size_t i = 0; i < BLength; ++i) {
    if (A[i] == '\0') return false;
    if (std::tolower((unsigned char)A[i]) != std::tolower((unsigned char)B[i])) return false;
  }
  return A[BLength] == '\0';
}

cvDirTree* NewEntry(const char* Name, size_t Length) {
  auto entry = static_cast<cvDirTree*>(cvRam_AllocateClear(sizeof(cvDirTree)));
  if (!entry) return nullptr;
  entry->Name = CopyBytes(Name, Length);
  if (!entry->Name) {
    cvRam_Free(entry);
    return nullptr;
  }
  return entry;
}

// Bounded cursor over the tree block's bytes.
struct Cursor {
  const uint8_t* Data;
  uint32_t Length;
  uint32_t At;
  bool Take(uint32_t Count, const uint8_t** Out) {
    if (Count > Length - At) return false;
    *Out = Data + At;
    At += Count;
    return true;
  }
  bool Get32(uint32_t* Value) {
    const uint8_t* p;
    if (!Take(4, &p)) return false;
    *Value = cvLE_Get32(p);
    return true;
  }
};

// Decodes one entry's fields (after its marker) into a new record.
cvDirTree* DecodeEntry(Cursor* In) {
  uint32_t nameLength = 0;
  const uint8_t* name = nullptr;
  if (!In->Get32(&nameLength) || nameLength == 0 || !In->Take(nameLength, &name)) return nullptr;
  if (name[nameLength - 1] != '\0') return nullptr;
  cvDirTree* entry = NewEntry(reinterpret_cast<const char*>(name), std::strlen(reinterpret_cast<const char*>(name)));
  if (!entry) return nullptr;
  uint32_t hintLength = 0;
  const uint8_t* hints = nullptr;
  if (!In->Get32(&entry->Time.Low) || !In->Get32(&entry->Time.High) || !In->Get32(&entry->Attributes) ||
      !In->Get32(&entry->Size) || !In->Get32(&entry->DataPosition) || !In->Get32(&hintLength) ||
      !In->Take(hintLength, &hints)) {
    FreeEntry(entry);
    return nullptr;
  }
  if (hintLength > 0) {
    entry->Hints = static_cast<uint8_t*>(cvRam_Allocate(hintLength));
    if (!entry->Hints) {
      FreeEntry(entry);
      return nullptr;
    }
    std::memcpy(entry->Hints, hints, hintLength);
    entry->HintLength = (int32_t)hintLength;
  }
  return entry;
}

// Encodes the tree in pre-order into Out (or only measures it when Out is
// null; Out must then hold the measured size).
bool Encode(const cvDirTree* Tree, uint8_t* Out, uint64_t* Size) {
  uint64_t size = kBlockHeaderSize;
  uint8_t* at = Out ? Out + kBlockHeaderSize : nullptr;
  std::vector<const cvDirTree*> pending{Tree};
  auto put32 = [&at](uint32_t v) {
    cvLE_Put32(at, v);
    at += 4;
  };
  while (!pending.empty()) {
    const cvDirTree* entry = pending.back();
    pending.pop_back();
    if (!entry) {
      size += 4;
      if (at) put32(CV_DIRTREE_END_MARKER);
      continue;
    }
    uint32_t nameLength = (uint32_t)std::strlen(entry->Name) + 1;
    uint32_t hintLength = entry->Hints && entry->HintLength > 0 ? (uint32_t)entry->HintLength : 0;
    size += kEntryFixedSize + (uint64_t)nameLength + hintLength;
    if (size > 0xFFFFFFFFull) return false;
    if (at) {
      put32(0);
      put32(nameLength);
      std::memcpy(at, entry->Name, nameLength);
      at += nameLength;
      put32(entry->Time.Low);
      put32(entry->Time.High);
      put32(entry->Attributes);
      put32(entry->Size);
      put32(entry->DataPosition);
      put32(hintLength);
      if (hintLength) std::memcpy(at, entry->Hints, hintLength);
      at += hintLength;
    }
    pending.push_back(entry->NextSibling);
    pending.push_back(entry->FirstChild);
  }
  if (size > 0xFFFFFFFFull) return false;
  if (Out) {
    std::memcpy(Out, "DT01", 4);
    cvLE_Put32(Out + 4, (uint32_t)size);
  }
  *Size = size;
  return true;
}

// Splits "dir\name.ext" the way a host path splitter does: Directory keeps its
// trailing separator, Extension starts at the last "." of the file part.
void SplitPath(const std::string& Path, std::string* Directory, std::string* Name, std::string* Extension) {
  size_t slash = Path.find_last_of("\\/");
  *Directory = slash == std::string::npos ? std::string() : Path.substr(0, slash + 1);
  std::string file = slash == std::string::npos ? Path : Path.substr(slash + 1);
  size_t dot = file.rfind('.');
  *Name = dot == std::string::npos ? file : file.substr(0, dot);
  *Extension = dot == std::string::npos ? std::string() : file.substr(dot);
}

}  // namespace

cvDirTree* cvDirTree_Create(void) {
  cvDirTree* root = NewEntry("", 0);
  if (root) root->Attributes = CV_VFILE_ATTRIB_DIRECTORY;
  return root;
}

void cvDirTree_Destroy(cvDirTree* Entry) {
  std::vector<cvDirTree*> pending;
  if (Entry) pending.push_back(Entry);
  while (!pending.empty()) {
    cvDirTree* entry = pending.back();
    pending.pop_back();
    if (entry->FirstChild) pending.push_back(entry->FirstChild);
    if (entry->NextSibling) pending.push_back(entry->NextSibling);
    FreeEntry(entry);
  }
}

cvDirTree* cvDirTree_FindExact(cvDirTree* Directory, const char* Path) {
  if (!Directory || !Path || Path[0] == '\\') return nullptr;
  cvDirTree* current = Directory;
  const char* p = Path;
  while (*p) {
    const char* end = std::strchr(p, '\\');
    size_t length = end ? (size_t)(end - p) : std::strlen(p);
    if (length == 0 || length >= CV_DIRTREE_COMPONENT_SIZE) return nullptr;
    cvDirTree* child = current->FirstChild;
    while (child && !SameName(child->Name, p, length)) child = child->NextSibling;
    if (!child) return nullptr;
    current = child;
    p += length;
    if (*p == '\\') ++p;
  }
  return current;
}

cvDirTree* cvDirTree_AddFile(cvDirTree* Directory, const char* Path, int IsDirectory) {
  if (!Directory || !Path) return nullptr;
  std::string path = Path;
  if (!path.empty() && path.back() == '\\') path.pop_back();
  // An empty component (a leading or doubled backslash) names nothing. The
  // parent look-up below ignores a trailing backslash, so without this check
  // "D", two backslashes, "x" would add a second "x" to "D" that hides the first.
  if ((!path.empty() && path.front() == '\\') || path.find("\\\\") != std::string::npos) return nullptr;
  size_t slash = path.rfind('\\');
  std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
  if (leaf.empty() || leaf.size() >= CV_DIRTREE_COMPONENT_SIZE) return nullptr;
  cvDirTree* parent = slash == std::string::npos ? Directory
                                                 : cvDirTree_FindExact(Directory, path.substr(0, slash).c_str());
  if (!parent || !(parent->Attributes & CV_VFILE_ATTRIB_DIRECTORY)) return nullptr;
  cvDirTree* entry = NewEntry(leaf.c_str(), leaf.size());
  if (!entry) return nullptr;
  if (IsDirectory) entry->Attributes = CV_VFILE_ATTRIB_DIRECTORY;
  entry->NextSibling = parent->FirstChild;
  parent->FirstChild = entry;
  return entry;
}

int cvDirTree_GetSize(const cvDirTree* Tree, uint32_t* Size) {
  uint64_t size = 0;
  if (!Tree || !Size || !Encode(Tree, nullptr, &size)) return 0;
  *Size = (uint32_t)size;
  return 1;
}

int cvDirTree_WriteToFile(const cvDirTree* Tree, cvVFile* File, uint32_t* Size) {
  uint64_t size = 0;
  if (!Tree || !File || !Encode(Tree, nullptr, &size) || size > CV_SIZE_LIMIT) return 0;
  auto block = static_cast<uint8_t*>(cvRam_Allocate((size_t)size));
  if (!block) return 0;
  int ok = Encode(Tree, block, &size) && cvVFile_Write(File, block, (uint32_t)size);
  cvRam_Free(block);
  if (ok && Size) *Size = (uint32_t)size;
  return ok;
}

cvDirTree* cvDirTree_ReadFromFile(cvVFile* File) {
  uint8_t header[kBlockHeaderSize];
  uint32_t remaining = 0;
  if (!cvVFile_Read(File, header, kBlockHeaderSize) || std::memcmp(header, "DT01", 4) != 0) return nullptr;
  uint32_t blockSize = cvLE_Get32(header + 4);
  // The smallest block holds a root with a one-byte name and two end markers.
  if (blockSize < kBlockHeaderSize + kEntryFixedSize + 1 + 8) return nullptr;
  uint32_t bodySize = blockSize - kBlockHeaderSize;
  if (!cvVFile_Remaining(File, &remaining) || bodySize > remaining || bodySize > CV_SIZE_LIMIT) return nullptr;
  auto body = static_cast<uint8_t*>(cvRam_Allocate(bodySize));
  if (!body) return nullptr;
  if (!cvVFile_Read(File, body, bodySize)) {
    cvRam_Free(body);
    return nullptr;
  }

  Cursor in{body, bodySize, 0};
  cvDirTree* root = nullptr;
  std::vector<cvDirTree**> slots{&root};  // links still to be decoded, next on top
  bool ok = true;
  while (ok && !slots.empty()) {
    cvDirTree** slot = slots.back();
    slots.pop_back();
    uint32_t marker = 0;
    if (!in.Get32(&marker)) {
      ok = false;
    } else if (marker != CV_DIRTREE_END_MARKER) {
      cvDirTree* entry = DecodeEntry(&in);
      if (!entry) {
        ok = false;
      } else {
        *slot = entry;
        slots.push_back(&entry->NextSibling);
        slots.push_back(&entry->FirstChild);
      }
    }
  }
  cvRam_Free(body);
  // The block must be used exactly, and hold one root without siblings.
  if (!ok || in.At != bodySize || !root || root->NextSibling) {
    cvDirTree_Destroy(root);
    return nullptr;
  }
  return root;
}

cvDirTree_Finder* cvDirTree_CreateFinder(cvDirTree* Directory, const char* Pattern) {
  if (!Directory || !Pattern) return nullptr;
  std::string directory, name, extension;
  SplitPath(Pattern, &directory, &name, &extension);
  cvDirTree* start = cvDirTree_FindExact(Directory, directory.c_str());
  if (!start) return nullptr;
  auto finder = static_cast<cvDirTree_Finder*>(cvRam_AllocateClear(sizeof(cvDirTree_Finder)));
  if (!finder) return nullptr;
  if (extension.empty()) {
    // Without an extension part the pattern applies to the whole name, so
    // that "*" lists every entry and "0*" lists "0.bmp" as well as "01".
    finder->WholePattern = CopyBytes(name.c_str(), name.size());
  } else {
    finder->NamePattern = CopyBytes(name.c_str(), name.size());
    finder->ExtensionPattern = CopyBytes(extension.c_str() + 1, extension.size() - 1);
  }
  if (!(finder->WholePattern || (finder->NamePattern && finder->ExtensionPattern))) {
    cvDirTree_DestroyFinder(finder);
    return nullptr;
  }
  finder->Next = start->FirstChild;
  return finder;
}

cvDirTree* cvDirTree_FinderGetNextFile(cvDirTree_Finder* Finder) {
  if (!Finder) return nullptr;
  while (cvDirTree* entry = Finder->Next) {
    Finder->Next = entry->NextSibling;
    bool match;
    if (Finder->WholePattern) {
      match = cvDirTree_MatchPattern(entry->Name, Finder->WholePattern);
    } else {
      std::string directory, name, extension;
      SplitPath(entry->Name, &directory, &name, &extension);
      const char* ext = extension.empty() ? "" : extension.c_str() + 1;
      match = cvDirTree_MatchPattern(name.c_str(), Finder->NamePattern) &&
              cvDirTree_MatchPattern(ext, Finder->ExtensionPattern);
    }
    if (match) return entry;
  }
  return nullptr;
}

void cvDirTree_DestroyFinder(cvDirTree_Finder* Finder) {
  if (!Finder) return;
  cvRam_Free(Finder->NamePattern);
  cvRam_Free(Finder->ExtensionPattern);
  cvRam_Free(Finder->WholePattern);
  cvRam_Free(Finder);
}

int cvDirTree_MatchPattern(const char* Name, const char* Pattern) {
  if (!Name || !Pattern) return 0;
  const char* star = nullptr;  // pattern just after the last "*"
  const char* resume = nullptr;  // name position that "*" has reached
  while (*Name) {
    if (*Pattern == '*') {
      star = ++Pattern;
      resume = Name;
      if (!*Pattern) return 1;
    } else if (*Pattern == '?' || *Pattern == *Name) {
      ++Pattern;
      ++Name;
    } else if (star) {
      Pattern = star;
      Name = ++resume;
    } else {
      return 0;
    }
  }
  while (*Pattern == '*') ++Pattern;
  return *Pattern == '\0';
}
