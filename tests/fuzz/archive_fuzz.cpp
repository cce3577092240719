// Fuzz target: mounts the input as an archive through a memory file, walks
// every directory with finders, reads every file whole, by lines and after
// seeks, and finally mounts a writable copy and adds an entry so that the
// tree writer also meets hostile trees.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "VFile/cvvfile.h"
#include "fuzz.h"

namespace {

constexpr int kMaxEntries = 4096;

void ReadFile(cvVFile* file) {
  uint32_t size = 0, remaining = 0;
  cvVFile_Size(file, &size);
  cvVFile_Remaining(file, &remaining);
  std::vector<uint8_t> bytes(std::min<uint32_t>(size, 1u << 20));
  cvVFile_Read(file, bytes.data(), (uint32_t)bytes.size());
  cvVFile_Seek(file, 0, CV_VFILE_SEEKSET);
  char line[64];
  for (int i = 0; i < 64 && cvVFile_GetS(file, line, sizeof(line)); ++i) {
  }
  uint32_t value = 0;
  cvVFile_Seek(file, 4, CV_VFILE_SEEKEND);
  cvVFile_ReadLE32(file, &value);
  cvVFile_EOF(file);
  cvVFile_Properties properties;
  cvVFile_GetProperties(file, &properties);
}

// Visits every entry below the archive without recursion.
void Walk(cvVFile* archive, int nesting) {
  std::vector<std::string> directories{""};
  int visited = 0;
  while (!directories.empty() && visited < kMaxEntries) {
    std::string directory = directories.back();
    directories.pop_back();
    cvVFile_Finder* finder = cvVFile_CreateFinder(archive, (directory + "*").c_str());
    if (!finder) continue;
    cvVFile_Properties properties;
    while (visited < kMaxEntries && cvVFile_FinderGetNextFile(finder)) {
      ++visited;
      if (!cvVFile_FinderGetProperties(finder, &properties)) continue;
      std::string path = directory + properties.Name;
      if (properties.Attributes & CV_VFILE_ATTRIB_DIRECTORY) {
        directories.push_back(path + "\\");
        if (cvVFile* dir = cvVFile_Open(archive, path.c_str(), 9)) cvVFile_Close(dir);
      } else if (cvVFile* file = cvVFile_Open(archive, path.c_str(), 1)) {
        ReadFile(file);
        // An entry may itself hold an archive (a body inside an actor).
        cvVFile_Seek(file, 0, CV_VFILE_SEEKSET);
        if (nesting < 3) {
          if (cvVFile* inner = cvVFile_OpenNewSystem(file, CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 9)) {
            Walk(inner, nesting + 1);
            cvVFile_Close(inner);
          }
        }
        cvVFile_Close(file);
      }
    }
    cvVFile_DestroyFinder(finder);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 24)) return 0;
  cvVFile* memory = cvfuzz::OpenBytes(data, size);
  if (!memory) return 0;
  if (cvVFile* archive = cvVFile_OpenNewSystem(memory, CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 9)) {
    Walk(archive, 0);
    cvVFile_FileExists(archive, "Motions\\0");
    cvVFile_Close(archive);
  }
  cvVFile_Close(memory);

  // A writable copy mounted for update: add one file and rewrite the tree.
  cvVFile* copy = cvfuzz::NewMemoryFile();
  if (!copy) return 0;
  if (cvVFile_Write(copy, data, (uint32_t)size) && cvVFile_Seek(copy, 0, CV_VFILE_SEEKSET)) {
    if (cvVFile* archive = cvVFile_OpenNewSystem(copy, CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 10)) {
      if (cvVFile* added = cvVFile_Open(archive, "Added", CV_VFILE_OPEN_CREATE)) {
        cvVFile_Printf(added, "%d\n", 1);
        cvVFile_Close(added);
      }
      cvVFile_Close(archive);
    }
  }
  cvVFile_Close(copy);
  return 0;
}

namespace {

void Put(cvVFile* system, const char* name, const std::string& text) {
  cvfuzz::WriteEntry(system, name, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

}  // namespace

extern "C" int cvFuzz_WriteSeeds(const char* Dir) {
  int count = 0;
  // Empty archive.
  cvfuzz::WriteSeed(Dir, "empty.vf", cvfuzz::BuildArchive([](cvVFile*) {})), ++count;

  // Actor-like layout: files, a directory of numbered entries, hints, times, text lines.
  cvfuzz::WriteSeed(Dir, "actor.vf", cvfuzz::BuildArchive([](cvVFile* archive) {
    Put(archive, "Header", "CvAc 1.00\nline two\r\nthree\rend");
    cvVFile* motions = cvVFile_Open(archive, "Motions", 12);
    for (int i = 0; i < 3; ++i) Put(motions, std::to_string(i).c_str(), std::string(10 + i, 'm'));
    cvVFile_Close(motions);
    if (cvVFile* f = cvVFile_Open(archive, "a.bmp", CV_VFILE_OPEN_CREATE)) {
      uint8_t hint[4] = {1, 2, 3, 4};
      cvVFile_Hints hints{hint, 4};
      cvVFile_Time time{0x12345678, 0x01D00000};
      cvVFile_SetHints(f, &hints);
      cvVFile_SetTime(f, &time);
      cvVFile_SetAttributes(f, CV_VFILE_ATTRIB_READONLY);
      cvVFile_WriteLE32(f, 0xCAFEF00D);
      cvVFile_Close(f);
    }
  })), ++count;

  // An archive inside an entry of another archive.
  cvfuzz::WriteSeed(Dir, "nested.vf", cvfuzz::BuildArchive([](cvVFile* archive) {
    if (cvVFile* body = cvVFile_Open(archive, "Body", CV_VFILE_OPEN_CREATE)) {
      cvVFile* inner = cvVFile_OpenNewSystem(body, CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 12);
      Put(inner, "Geometry", "geometry bytes");
      cvVFile* bitmaps = cvVFile_Open(inner, "Bitmaps", 12);
      Put(bitmaps, "0", "bitmap");
      cvVFile_Close(bitmaps);
      cvVFile_Close(inner);
      cvVFile_Close(body);
    }
  })), ++count;

  // Nested directories a few levels deep.
  cvfuzz::WriteSeed(Dir, "deep.vf", cvfuzz::BuildArchive([](cvVFile* archive) {
    std::string path;
    for (int i = 0; i < 6; ++i) {
      path += (i ? "\\d" : "d") + std::to_string(i);
      if (cvVFile* d = cvVFile_Open(archive, path.c_str(), 12)) cvVFile_Close(d);
      Put(archive, (path + "\\f").c_str(), path);
    }
  })), ++count;
  return count;
}
