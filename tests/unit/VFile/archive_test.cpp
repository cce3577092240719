// Archives: byte layout, look-up rules, nesting, close semantics and the
// refusal of damaged headers and trees.
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "memfile.h"
#include "testsupport.h"
#include "VFile/cvvfile.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t At32(const Bytes& b, size_t at) { return cvLE_Get32(b.data() + at); }

bool PutFile(cvVFile* system, const char* name, const std::string& text) {
  cvVFile* f = cvVFile_Open(system, name, CV_VFILE_OPEN_CREATE);
  if (!f) return false;
  bool ok = cvVFile_Write(f, text.data(), (uint32_t)text.size());
  return cvVFile_Close(f) && ok;
}

std::string GetFile(cvVFile* system, const char* name) {
  cvVFile* f = cvVFile_Open(system, name, CV_VFILE_OPEN_READONLY);
  if (!f) return "<missing>";
  uint32_t size = 0;
  cvVFile_Size(f, &size);
  std::string text(size, '\0');
  if (!cvVFile_Read(f, text.data(), size)) text = "<unreadable>";
  cvVFile_Close(f);
  return text;
}

// Mounts a copy of Bytes read-only through a memory file.
struct Mounted {
  explicit Mounted(const Bytes& bytes)
      : memory(bytes), archive(cvVFile_OpenNewSystem(memory.File(), CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 9)) {}
  ~Mounted() {
    if (archive) cvVFile_Close(archive);
  }
  cvtest::MemoryReader memory;
  cvVFile* archive;
};

Bytes EmptyArchive() {
  cvtest::MemoryWriter memory;
  cvVFile* archive = cvVFile_OpenNewSystem(memory.File(), CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 12);
  EXPECT_EQ(cvVFile_Close(archive), 1);
  Bytes b = memory.Bytes();
  return b;
}

TEST(VFileArchive, EmptyArchiveIs73Bytes) {
  Bytes b = EmptyArchive();
  const uint8_t expected[73] = {
      'V', 'F', '0', '0', 0, 0, 0, 0, 0, 0, 0, 0, 24, 0, 0, 0, 24, 0, 0, 0, 73, 0, 0, 0,  // header
      'D', 'T', '0', '1', 49, 0, 0, 0,                                                    // block
      0, 0, 0, 0, 1, 0, 0, 0, 0,                                                          // root, name ""
      0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  ASSERT_EQ(b, Bytes(expected, expected + 73));
  Mounted m(b);
  EXPECT_NE(m.archive, nullptr);
}

TEST(VFileArchive, FilesLieBehindTheHeaderInWriteOrder) {
  cvtest::MemoryWriter memory;
  ASSERT_TRUE(cvVFile_Write(memory.File(), "PRE", 3));  // the archive starts at S = 3
  cvVFile* archive = cvVFile_OpenNewSystem(memory.File(), CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 12);
  ASSERT_NE(archive, nullptr);
  ASSERT_TRUE(PutFile(archive, "A", "aaa"));
  ASSERT_TRUE(PutFile(archive, "B", "bbbbb"));
  ASSERT_EQ(cvVFile_Close(archive), 1);
  uint32_t position = 0;
  cvVFile_Tell(memory.File(), &position);
  Bytes b = memory.Bytes();
  EXPECT_EQ(position, b.size());  // the base is left just after the archive
  EXPECT_EQ(std::string(b.begin() + 3 + 24, b.begin() + 3 + 32), "aaabbbbb");
  EXPECT_EQ(At32(b, 3 + 12), 3u + 32u);  // directory position
  EXPECT_EQ(At32(b, 3 + 16), 32u);       // data length counts from S
  EXPECT_EQ(At32(b, 3 + 20), (uint32_t)b.size());
  // The root's first child is B (created last), followed by its sibling A.
  size_t child = 3 + 32 + 8 + 33;  // after the block header and the root's fields
  EXPECT_EQ(At32(b, child), 0u);
  EXPECT_EQ(At32(b, child + 4), 2u);
  EXPECT_EQ(b[child + 8], 'B');
  EXPECT_EQ(At32(b, child + 10 + 8 + 4), 5u);       // size
  EXPECT_EQ(At32(b, child + 10 + 8 + 8), 3u + 27u);  // data position

  cvtest::MemoryReader view(b);
  ASSERT_TRUE(cvVFile_Seek(view.File(), 3, CV_VFILE_SEEKSET));
  archive = cvVFile_OpenNewSystem(view.File(), CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 9);
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(GetFile(archive, "a"), "aaa");
  EXPECT_EQ(GetFile(archive, "B"), "bbbbb");
  cvVFile_Close(archive);
}

TEST(VFileArchive, PathsAndDirectories) {
  cvtest::MemoryWriter memory;
  cvVFile* archive = cvVFile_OpenNewSystem(memory.File(), CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 12);
  ASSERT_TRUE(PutFile(archive, "Header", "h"));
  EXPECT_FALSE(PutFile(archive, "HEADER", "x"));  // names compare without case
  EXPECT_FALSE(PutFile(archive, "Motions\\0", "m"));  // parent missing
  cvVFile* motions = cvVFile_Open(archive, "Motions", 12);
  ASSERT_NE(motions, nullptr);
  EXPECT_TRUE(PutFile(archive, "Motions\\0", "zero"));
  EXPECT_TRUE(PutFile(motions, "1", "one"));
  EXPECT_FALSE(PutFile(archive, "Header\\x", "x"));  // a file holds no entries
  // An empty component names nothing when creating either: no second "0"
  // that would hide the first, no stray entries or directories.
  for (const char* bad : {"Motions\\\\0", "Motions\\\\9", "\\New", "Motions\\9\\\\"})
    EXPECT_FALSE(PutFile(archive, bad, "hidden")) << bad;
  EXPECT_EQ(cvVFile_Open(archive, "Motions\\\\Sub", 12), nullptr);
  cvVFile_Close(motions);
  for (const char* bad : {"\\Header", "Motions\\\\0", "", "Nope", "motions\\2"})
    EXPECT_FALSE(cvVFile_Open(archive, bad, 1)) << bad;
  EXPECT_TRUE(cvVFile_FileExists(archive, "MOTIONS\\0\\"));
  EXPECT_TRUE(cvVFile_FileExists(archive, ""));
  EXPECT_EQ(cvVFile_Open(archive, "Motions", 1), nullptr);  // a directory is no byte stream
  EXPECT_EQ(cvVFile_Open(archive, "Header", 9), nullptr);
  EXPECT_EQ(cvVFile_Open(archive, std::string(260, 'n').c_str(), CV_VFILE_OPEN_CREATE), nullptr);
  EXPECT_EQ(cvVFile_Read(archive, nullptr, 1), 0);
  ASSERT_EQ(cvVFile_Close(archive), 1);

  Bytes b = memory.Bytes();
  Mounted m(b);
  ASSERT_NE(m.archive, nullptr);
  cvVFile* dir = cvVFile_Open(m.archive, "motions", 9);
  ASSERT_NE(dir, nullptr);
  EXPECT_EQ(GetFile(dir, "0"), "zero");
  EXPECT_FALSE(cvVFile_FileExists(dir, "9"));
  EXPECT_FALSE(cvVFile_FileExists(dir, "Sub"));
  EXPECT_EQ(GetFile(m.archive, "Motions\\1"), "one");
  // Read-only archives take no new entries.
  EXPECT_EQ(cvVFile_Open(dir, "2", CV_VFILE_OPEN_CREATE), nullptr);
  cvVFile_Close(dir);
}

TEST(VFileArchive, FinderPatterns) {
  cvtest::MemoryWriter memory;
  cvVFile* archive = cvVFile_OpenNewSystem(memory.File(), CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 12);
  for (const char* name : {"0", "01", "10", "a.bmp", "a.bmpx", "B.bmp"}) ASSERT_TRUE(PutFile(archive, name, "x"));
  cvVFile* sub = cvVFile_Open(archive, "Sub", 12);
  ASSERT_TRUE(PutFile(sub, "inner.bmp", "xy"));
  cvVFile_Close(sub);
  auto list = [&](const char* pattern) {
    std::set<std::string> names;
    cvVFile_Finder* finder = cvVFile_CreateFinder(archive, pattern);
    if (!finder) return std::set<std::string>{"<no finder>"};
    cvVFile_Properties p;
    while (cvVFile_FinderGetNextFile(finder))
      if (cvVFile_FinderGetProperties(finder, &p)) names.insert(p.Name);
    cvVFile_DestroyFinder(finder);
    return names;
  };
  EXPECT_EQ(list("*.*"), (std::set<std::string>{"0", "01", "10", "a.bmp", "a.bmpx", "B.bmp", "Sub"}));
  EXPECT_EQ(list("*"), list("*.*"));
  EXPECT_EQ(list("0*"), (std::set<std::string>{"0", "01"}));
  EXPECT_EQ(list("*.bmp"), (std::set<std::string>{"a.bmp", "B.bmp"}));
  EXPECT_EQ(list("?.bmp?"), (std::set<std::string>{"a.bmpx"}));
  EXPECT_EQ(list("b.bmp"), (std::set<std::string>{}));  // patterns keep letter case
  EXPECT_EQ(list("sub\\*.bmp"), (std::set<std::string>{"inner.bmp"}));
  EXPECT_EQ(list("none\\*"), (std::set<std::string>{"<no finder>"}));
  cvVFile_Close(archive);
}

TEST(VFileArchive, ReadingAndUpdatingDoNotMoveTheDataEnd) {
  cvtest::MemoryWriter memory;
  cvVFile* archive = cvVFile_OpenNewSystem(memory.File(), CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 12);
  ASSERT_TRUE(PutFile(archive, "A", "aaa"));
  EXPECT_EQ(GetFile(archive, "A"), "aaa");
  cvVFile* update = cvVFile_Open(archive, "A", CV_VFILE_OPEN_UPDATE);
  ASSERT_NE(update, nullptr);
  ASSERT_TRUE(cvVFile_Write(update, "A", 1));
  EXPECT_FALSE(cvVFile_Write(update, "xyz", 3));  // would run into the next file's bytes
  EXPECT_FALSE(cvVFile_Seek(update, 4, CV_VFILE_SEEKSET));
  cvVFile_Close(update);
  // Two created files cannot share the data end.
  cvVFile* b = cvVFile_Open(archive, "B", CV_VFILE_OPEN_CREATE);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(cvVFile_Open(archive, "C", CV_VFILE_OPEN_CREATE), nullptr);
  ASSERT_TRUE(cvVFile_Write(b, "bb", 2));
  cvVFile_Close(b);
  ASSERT_EQ(cvVFile_Close(archive), 1);
  Bytes bytes = memory.Bytes();
  EXPECT_EQ(At32(bytes, 16), 29u);
  EXPECT_EQ(std::string(bytes.begin() + 24, bytes.begin() + 29), "Aaabb");
}

TEST(VFileArchive, EntriesSeekReadLinesAndKeepProperties) {
  cvtest::MemoryWriter memory;
  cvVFile* archive = cvVFile_OpenNewSystem(memory.File(), CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 12);
  ASSERT_TRUE(PutFile(archive, "first", "xxxx"));
  cvVFile* f = cvVFile_Open(archive, "text", CV_VFILE_OPEN_CREATE);
  ASSERT_TRUE(cvVFile_Printf(f, "one\r\ntwo\nend"));
  uint8_t hint[3] = {1, 2, 3};
  cvVFile_Hints hints{hint, 3};
  ASSERT_TRUE(cvVFile_SetHints(f, &hints));
  cvVFile_Time t{5, 6};
  ASSERT_TRUE(cvVFile_SetTime(f, &t));
  EXPECT_FALSE(cvVFile_SetAttributes(f, 2));
  ASSERT_TRUE(cvVFile_SetAttributes(f, 1));
  cvVFile_Close(f);
  ASSERT_TRUE(PutFile(archive, "after", "zzzz"));
  cvVFile_Close(archive);
  Bytes b = memory.Bytes();

  Mounted m(b);
  f = cvVFile_Open(m.archive, "text", 1);
  ASSERT_NE(f, nullptr);
  char line[16];
  std::vector<std::string> lines;
  while (cvVFile_GetS(f, line, sizeof(line))) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"one\n", "two\n", "end\n"}));  // not into "after"
  EXPECT_TRUE(cvVFile_EOF(f));
  EXPECT_FALSE(cvVFile_Seek(f, 20, CV_VFILE_SEEKSET));  // beyond a read-only entry
  EXPECT_FALSE(cvVFile_Seek(f, -1, CV_VFILE_SEEKSET));
  ASSERT_TRUE(cvVFile_Seek(f, 3, CV_VFILE_SEEKEND));
  char tail[3];
  ASSERT_TRUE(cvVFile_Read(f, tail, 3));
  EXPECT_EQ(std::string(tail, 3), "end");
  EXPECT_FALSE(cvVFile_Read(f, tail, 1));
  EXPECT_FALSE(cvVFile_Write(f, tail, 1));
  cvVFile_Properties p;
  ASSERT_TRUE(cvVFile_GetProperties(f, &p));
  EXPECT_STREQ(p.Name, "text");
  EXPECT_EQ(p.Size, 12u);
  EXPECT_EQ(p.Attributes, CV_VFILE_ATTRIB_READONLY);
  EXPECT_EQ(p.Time.Low, 5u);
  EXPECT_EQ(p.Time.High, 6u);
  ASSERT_EQ(p.Hints.Length, 3);
  EXPECT_EQ(p.Hints.Data[2], 3);
  cvVFile_Close(f);
  EXPECT_FALSE(cvVFile_DeleteFile(m.archive, "text"));
  EXPECT_FALSE(cvVFile_RenameFile(m.archive, "text", "x"));
}

TEST(VFileArchive, ArchivesNestInEntriesAndOnDisk) {
  cvtest::TempDir temp;
  std::string path = temp.File("outer.act");
  cvVFile* outer = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_VIRTUAL, path.c_str(), nullptr, 12);
  ASSERT_NE(outer, nullptr);
  ASSERT_TRUE(PutFile(outer, "Header", "head"));
  cvVFile* body = cvVFile_Open(outer, "Body", CV_VFILE_OPEN_CREATE);
  ASSERT_TRUE(cvVFile_Write(body, "lead", 4));
  cvVFile* inner = cvVFile_OpenNewSystem(body, CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 12);
  ASSERT_NE(inner, nullptr);
  ASSERT_TRUE(PutFile(inner, "Geometry", "geo"));
  cvVFile* bitmaps = cvVFile_Open(inner, "Bitmaps", 12);
  ASSERT_TRUE(PutFile(bitmaps, "0", "bitmap0"));
  cvVFile_Close(bitmaps);
  ASSERT_EQ(cvVFile_Close(inner), 1);
  uint32_t innerEnd = 0, bodySize = 0;
  cvVFile_Tell(body, &innerEnd);
  ASSERT_TRUE(cvVFile_Write(body, "trail", 5));
  cvVFile_Size(body, &bodySize);
  EXPECT_EQ(bodySize, innerEnd + 5);
  cvVFile_Close(body);
  ASSERT_TRUE(PutFile(outer, "Motions", "m"));
  ASSERT_EQ(cvVFile_Close(outer), 1);

  outer = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_VIRTUAL, path.c_str(), nullptr, 9);
  ASSERT_NE(outer, nullptr);
  EXPECT_EQ(GetFile(outer, "header"), "head");
  body = cvVFile_Open(outer, "Body", 1);
  ASSERT_TRUE(cvVFile_Seek(body, 4, CV_VFILE_SEEKSET));
  inner = cvVFile_OpenNewSystem(body, CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 9);
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(GetFile(inner, "Geometry"), "geo");
  EXPECT_EQ(GetFile(inner, "Bitmaps\\0"), "bitmap0");
  cvVFile_Close(inner);
  uint32_t at = 0;
  cvVFile_Tell(body, &at);
  EXPECT_EQ(at, innerEnd);
  char trail[5];
  ASSERT_TRUE(cvVFile_Read(body, trail, 5));
  EXPECT_EQ(std::string(trail, 5), "trail");
  cvVFile_Close(body);
  EXPECT_EQ(GetFile(outer, "Motions"), "m");
  EXPECT_EQ(cvVFile_Close(outer), 1);
}

// Reads of archive entries go straight through nested archives to a memory
// file below; every result, byte and position on every level must be what a
// seek and a read on each level give, as on a file type without that path
// (here the memory type registered again under another code).
TEST(VFileArchive, NestedReadsLeaveEveryLevelAsSeekAndReadWould) {
  cvtest::MemoryWriter writer;
  cvVFile* outer = cvVFile_OpenNewSystem(writer.File(), CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 12);
  ASSERT_TRUE(PutFile(outer, "Header", "head"));
  cvVFile* body = cvVFile_Open(outer, "Body", CV_VFILE_OPEN_CREATE);
  ASSERT_TRUE(cvVFile_Write(body, "lead", 4));
  cvVFile* inner = cvVFile_OpenNewSystem(body, CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 12);
  std::string geometry;
  for (int i = 0; i < 3000; ++i) geometry += (char)('a' + i % 23);
  ASSERT_TRUE(PutFile(inner, "Geometry", geometry));
  ASSERT_EQ(cvVFile_Close(inner), 1);
  cvVFile_Close(body);
  ASSERT_EQ(cvVFile_Close(outer), 1);
  const Bytes bytes = writer.Bytes();

  static cvVFile_SystemOps plainOps;
  cvtest::MemoryReader probe(bytes);
  plainOps = *probe.File()->Ops;
  int32_t plainType = 0;
  ASSERT_TRUE(cvVFile_RegisterFileSystem(&plainOps, &plainType));
  auto trace = [&](int32_t Type) {
    std::vector<std::string> out;
    cvVFile_MemoryContext context{(void*)bytes.data(), (uint32_t)bytes.size()};
    cvVFile* base = cvVFile_OpenNewSystem(nullptr, Type, nullptr, &context, CV_VFILE_OPEN_READONLY);
    cvVFile* outer = cvVFile_OpenNewSystem(base, CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 9);
    cvVFile* body = cvVFile_Open(outer, "Body", CV_VFILE_OPEN_READONLY);
    cvVFile_Seek(body, 4, CV_VFILE_SEEKSET);
    cvVFile* inner = cvVFile_OpenNewSystem(body, CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 9);
    cvVFile* entry = cvVFile_Open(inner, "Geometry", CV_VFILE_OPEN_READONLY);
    if (!base || !outer || !body || !inner || !entry) return out;
    const std::pair<int32_t, uint32_t> steps[] = {{0, 4}, {-1, 1}, {100, 2000}, {2999, 1}, {2999, 2}, {3000, 1},
                                                  {-1, 7}, {1, 2999}, {3001, 1}, {0, 3000}};
    for (auto [at, count] : steps) {
      const int seek = at < 0 ? 1 : cvVFile_Seek(entry, at, CV_VFILE_SEEKSET);
      std::string got(count, '\0');
      const int read = cvVFile_Read(entry, got.data(), count);
      uint32_t e = 0, b = 0, m = 0;
      cvVFile_Tell(entry, &e);
      cvVFile_Tell(body, &b);
      cvVFile_Tell(base, &m);
      out.push_back(std::to_string(seek) + " " + std::to_string(read) + " " + (read ? got : "") + " " +
                    std::to_string(e) + " " + std::to_string(b) + " " + std::to_string(m));
    }
    cvVFile_Close(entry);
    cvVFile_Close(inner);
    cvVFile_Close(body);
    cvVFile_Close(outer);
    cvVFile_Close(base);
    return out;
  };
  const std::vector<std::string> plain = trace(plainType), direct = trace(CV_VFILE_TYPE_MEMORY);
  ASSERT_EQ(plain.size(), 10u);
  EXPECT_EQ(direct, plain);
  EXPECT_EQ(plain[2].substr(0, 6), "1 1 ij");  // read from 100 on
}

TEST(VFileArchive, FailedWriteAtCloseIsReported) {
  // The base holds the caller's bytes read-only, so the tree cannot be written.
  uint8_t space[256] = {};
  cvVFile_MemoryContext context{space, sizeof(space)};
  cvVFile* memory = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_MEMORY, nullptr, &context, 1);
  cvVFile* archive = cvVFile_OpenNewSystem(memory, CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 12);
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(cvVFile_Close(archive), 0);
  cvVFile_Close(memory);
}

TEST(VFileArchive, DamagedHeadersAndTreesAreRefused) {
  Bytes good = EmptyArchive();
  ASSERT_NE(Mounted(good).archive, nullptr);
  auto refused = [](Bytes b) { return Mounted(b).archive == nullptr; };
  Bytes b = good;
  b[0] = 'X';
  EXPECT_TRUE(refused(b));
  b = good;
  b[4] = 1;  // version
  EXPECT_TRUE(refused(b));
  b = good;
  b[8] = 1;  // flags word 1
  EXPECT_TRUE(refused(b));
  b = good;
  b[8] = 2;  // other flag values are accepted
  EXPECT_FALSE(refused(b));
  for (int delta : {-1, 1, 1000000}) {
    b = good;
    cvLE_Put32(b.data() + 28, 49 + delta);  // block size off
    EXPECT_TRUE(refused(b)) << delta;
  }
  b = good;
  cvLE_Put32(b.data() + 36, 0x7FFFFFF0);  // name length beyond the block
  EXPECT_TRUE(refused(b));
  b = good;
  cvLE_Put32(b.data() + 12, 0xFFFFFF00);  // directory position outside the file
  EXPECT_TRUE(refused(b));
  b = good;
  cvLE_Put32(b.data() + 16, 0x40000018);  // data running past the tree
  EXPECT_TRUE(refused(b));
  EXPECT_TRUE(refused(Bytes(good.begin(), good.begin() + 60)));
  // On a growable base a far directory position must not enlarge the base.
  b = good;
  cvLE_Put32(b.data() + 12, 0x10000000);
  cvtest::MemoryWriter memory;
  ASSERT_TRUE(cvVFile_Write(memory.File(), b.data(), (uint32_t)b.size()));
  ASSERT_TRUE(cvVFile_Seek(memory.File(), 0, CV_VFILE_SEEKSET));
  EXPECT_EQ(cvVFile_OpenNewSystem(memory.File(), CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 10), nullptr);
  uint32_t size = 0;
  cvVFile_Size(memory.File(), &size);
  EXPECT_EQ(size, 73u);
  EXPECT_TRUE(refused(Bytes()));
}

TEST(VFileArchive, DeepTreesAndOutOfRangeEntries) {
  // A tree nested 200,000 deep mounts and closes without deep recursion.
  const uint32_t depth = 200000;
  Bytes tree;
  auto put32 = [&tree](uint32_t v) { for (int i = 0; i < 4; ++i) tree.push_back((uint8_t)(v >> (8 * i))); };
  auto entry = [&](const char* name, uint32_t attributes, uint32_t size, uint32_t position) {
    put32(0);
    put32((uint32_t)std::strlen(name) + 1);
    tree.insert(tree.end(), name, name + std::strlen(name) + 1);
    put32(0), put32(0), put32(attributes), put32(size), put32(position), put32(0);
  };
  entry("", 2, 0, 0);
  entry("far", 0, 100, 0x10000000);  // claims bytes the file does not have
  put32(0xFFFFFFFF);          // "far" has no child; its sibling is a chain of "d" each inside the last
  for (uint32_t i = 0; i < depth; ++i) entry("d", 2, 0, 0);
  for (uint32_t i = 0; i <= depth; ++i) put32(0xFFFFFFFF);  // innermost child, then every sibling
  put32(0xFFFFFFFF);                                          // the root has no sibling
  Bytes file(24, 0);
  std::memcpy(file.data(), "VF00", 4);
  cvLE_Put32(file.data() + 12, 24);
  cvLE_Put32(file.data() + 16, 24);
  cvLE_Put32(file.data() + 20, (uint32_t)(24 + 8 + tree.size()));
  file.insert(file.end(), {'D', 'T', '0', '1'});
  for (int i = 0; i < 4; ++i) file.push_back((uint8_t)((8 + tree.size()) >> (8 * i)));
  file.insert(file.end(), tree.begin(), tree.end());
  Mounted m(file);
  ASSERT_NE(m.archive, nullptr);
  EXPECT_TRUE(cvVFile_FileExists(m.archive, "d\\d\\d"));
  EXPECT_EQ(cvVFile_Open(m.archive, "far", 1), nullptr);
}

TEST(VFileArchive, FailedAllocationsWhileMountingLeakNothing) {
  cvtest::MemoryWriter memory;
  cvVFile* archive = cvVFile_OpenNewSystem(memory.File(), CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 12);
  cvVFile* dir = cvVFile_Open(archive, "D", 12);
  PutFile(dir, "x", "1");
  cvVFile_Close(dir);
  PutFile(archive, "y", "2");
  cvVFile_Close(archive);
  Bytes b = memory.Bytes();
  bool mountedOnce = false;
  for (int n = 1; n < 40 && !mountedOnce; ++n) {
    cvtest::FailNthAllocation fail(n);
    Mounted m(b);
    mountedOnce = m.archive != nullptr && !fail.Fired();
  }
  EXPECT_TRUE(mountedOnce);

  // Writing: whichever allocation fails, the calls fail and nothing leaks;
  // a close whose tree could not be written reports it.
  for (int n = 1; n < 30; ++n) {
    cvtest::MemoryWriter base;
    ASSERT_NE(base.File(), nullptr);
    int closed = 0;
    {
      cvtest::FailNthAllocation fail(n);
      cvVFile* a = cvVFile_OpenNewSystem(base.File(), CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 12);
      if (a) {
        PutFile(a, "x", "data");
        closed = cvVFile_Close(a);
      }
    }
    if (closed) {
      Bytes written = base.Bytes();
      Mounted m(written);
      EXPECT_NE(m.archive, nullptr) << n;
    }
  }
}

}  // namespace
