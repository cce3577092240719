// Disk files and directories, search lists and the disk finder.
#include <limits.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "testsupport.h"
#include "VFile/cvvfile.h"

namespace {

class VFileDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, temp_.Path().c_str(), nullptr, 9);
    ASSERT_NE(dir_, nullptr);
  }
  void TearDown() override { cvVFile_Close(dir_); }
  void Put(const std::string& name, const std::string& text) {
    cvtest::WriteFileBytes(temp_.File(name), std::vector<uint8_t>(text.begin(), text.end()));
  }
  cvtest::TempDir temp_;
  cvVFile* dir_ = nullptr;
};

TEST_F(VFileDisk, CreateWriteReadSeekAndSetSize) {
  cvVFile* f = cvVFile_Open(dir_, "data.bin", CV_VFILE_OPEN_CREATE);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(cvVFile_GetContext(f), dir_);
  ASSERT_TRUE(cvVFile_Write(f, "0123456789", 10));
  uint32_t value = 0, size = 0;
  ASSERT_TRUE(cvVFile_Seek(f, 2, CV_VFILE_SEEKSET));
  ASSERT_TRUE(cvVFile_Seek(f, 2, CV_VFILE_SEEKCUR));
  ASSERT_TRUE(cvVFile_Tell(f, &value));
  EXPECT_EQ(value, 4u);
  char bytes[4];
  ASSERT_TRUE(cvVFile_Read(f, bytes, 4));
  EXPECT_EQ(std::string(bytes, 4), "4567");
  EXPECT_FALSE(cvVFile_Read(f, bytes, 4));  // only two bytes are left
  EXPECT_TRUE(cvVFile_EOF(f));
  // Mode 1 passes the offset to the host: a positive one lies beyond the end.
  ASSERT_TRUE(cvVFile_Seek(f, 0, CV_VFILE_SEEKEND));
  ASSERT_TRUE(cvVFile_Tell(f, &value));
  EXPECT_EQ(value, 10u);
  ASSERT_TRUE(cvVFile_SetSize(f, 3));
  ASSERT_TRUE(cvVFile_Size(f, &size));
  EXPECT_EQ(size, 3u);
  ASSERT_TRUE(cvVFile_SetSize(f, 6));
  EXPECT_EQ(cvVFile_Close(f), 1);
  EXPECT_EQ(cvtest::ReadFileBytes(temp_.File("data.bin")), (std::vector<uint8_t>{'0', '1', '2', 0, 0, 0}));

  f = cvVFile_Open(dir_, "data.bin", CV_VFILE_OPEN_READONLY);
  ASSERT_NE(f, nullptr);
  EXPECT_FALSE(cvVFile_Write(f, "x", 1));
  cvVFile_Close(f);
  EXPECT_EQ(cvVFile_Open(dir_, "missing", CV_VFILE_OPEN_READONLY), nullptr);
  EXPECT_EQ(cvVFile_Open(dir_, "missing", CV_VFILE_OPEN_UPDATE), nullptr);
}

TEST_F(VFileDisk, GetSFollowsLineEndsAndLeavesTheRestUnread) {
  Put("t.txt", "ab\r\ncd\ref\n\nlast");
  cvVFile* f = cvVFile_Open(dir_, "t.txt", CV_VFILE_OPEN_READONLY);
  ASSERT_NE(f, nullptr);
  char line[32];
  ASSERT_TRUE(cvVFile_GetS(f, line, sizeof(line)));
  EXPECT_STREQ(line, "ab\n");
  char c = 0;
  ASSERT_TRUE(cvVFile_Read(f, &c, 1));
  EXPECT_EQ(c, 'c');
  std::vector<std::string> lines;
  while (cvVFile_GetS(f, line, sizeof(line))) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"d\n", "ef\n", "\n", "last\n"}));
  // A CR LF split by the buffer limit is still one line end.
  cvVFile_Seek(f, 0, CV_VFILE_SEEKSET);
  ASSERT_TRUE(cvVFile_GetS(f, line, 4));
  EXPECT_STREQ(line, "ab\n");
  ASSERT_TRUE(cvVFile_Read(f, &c, 1));
  EXPECT_EQ(c, 'c');
  cvVFile_Close(f);
}

TEST_F(VFileDisk, DirectoriesPathsAndNames) {
  cvVFile* sub = cvVFile_Open(dir_, "sub", 12);
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(cvVFile_Open(dir_, "sub", 12), nullptr);  // already exists
  cvVFile* f = cvVFile_Open(sub, "in.txt", CV_VFILE_OPEN_CREATE);
  ASSERT_NE(f, nullptr);
  cvVFile_Properties p;
  ASSERT_TRUE(cvVFile_GetProperties(f, &p));
  EXPECT_STREQ(p.Name, "in.txt");
  EXPECT_EQ(p.Attributes, 0u);
  EXPECT_FALSE(cvVFile_Read(sub, &p, 1));  // a directory is no byte stream
  ASSERT_TRUE(cvVFile_GetProperties(sub, &p));
  EXPECT_EQ(p.Attributes, CV_VFILE_ATTRIB_DIRECTORY);
  EXPECT_EQ(cvVFile_Open(f, "x", CV_VFILE_OPEN_CREATE), nullptr);  // a file is no context
  cvVFile_Close(f);
  EXPECT_EQ(cvVFile_Open(dir_, "sub", CV_VFILE_OPEN_READONLY), nullptr);  // not a file
  cvVFile_Close(sub);

  cvVFile* root = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, "/", nullptr, 9);
  ASSERT_NE(root, nullptr);
  cvVFile_Close(root);

  // The whole path with its NUL must fit the host's limit.
  std::string prefix = temp_.Path() + "/";
  std::string fits = prefix + std::string(PATH_MAX - 1 - prefix.size(), 'n');
  EXPECT_EQ(cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, (fits + "n").c_str(), nullptr, 4), nullptr);
  // (The host refuses a 4,000-character name itself, so only the limit is checked.)
}

TEST_F(VFileDisk, AttributesTimeDeleteRenameExists) {
  Put("a.txt", "abc");
  cvVFile* f = cvVFile_Open(dir_, "a.txt", CV_VFILE_OPEN_UPDATE);
  ASSERT_NE(f, nullptr);
  cvVFile_Time t;
  cvVFile_TimeFromPosix(1600000000, 0, &t);
  ASSERT_TRUE(cvVFile_SetTime(f, &t));
  ASSERT_TRUE(cvVFile_SetAttributes(f, CV_VFILE_ATTRIB_READONLY));
  cvVFile_Properties p;
  ASSERT_TRUE(cvVFile_GetProperties(f, &p));
  EXPECT_EQ(p.Time.Low, t.Low);
  EXPECT_EQ(p.Time.High, t.High);
  EXPECT_EQ(p.Attributes, CV_VFILE_ATTRIB_READONLY);
  EXPECT_EQ(p.Size, 3u);
  EXPECT_EQ(p.Hints.Data, nullptr);
  cvVFile_Hints hints{nullptr, 0};
  EXPECT_FALSE(cvVFile_SetHints(f, &hints));
  ASSERT_TRUE(cvVFile_SetAttributes(f, 0));
  cvVFile_Close(f);

  Put("b.txt", "b");
  EXPECT_TRUE(cvVFile_FileExists(dir_, "a.txt"));
  EXPECT_FALSE(cvVFile_RenameFile(dir_, "a.txt", "b.txt"));  // never replaces
  EXPECT_TRUE(cvVFile_RenameFile(dir_, "a.txt", "c.txt"));
  EXPECT_FALSE(cvVFile_FileExists(dir_, "a.txt"));
  EXPECT_TRUE(cvVFile_DeleteFile(dir_, "c.txt"));
  EXPECT_FALSE(cvVFile_DeleteFile(dir_, "c.txt"));
}

TEST_F(VFileDisk, FinderSkipsDotNamesAndUsesWildcards) {
  for (const char* name : {"a.bmp", "b.bmp", "a.bmpx", ".hidden.bmp", "c.txt"}) Put(name, "x");
  cvVFile_Finder* finder = cvVFile_CreateFinder(dir_, "*.bmp");
  ASSERT_NE(finder, nullptr);
  std::set<std::string> found;
  cvVFile_Properties p;
  while (cvVFile_FinderGetNextFile(finder)) {
    ASSERT_TRUE(cvVFile_FinderGetProperties(finder, &p));
    EXPECT_EQ(p.Size, 1u);
    found.insert(p.Name);
  }
  cvVFile_DestroyFinder(finder);
  EXPECT_EQ(found, (std::set<std::string>{"a.bmp", "b.bmp"}));

  finder = cvVFile_CreateFinder(dir_, "nowhere/*");
  ASSERT_NE(finder, nullptr);
  EXPECT_FALSE(cvVFile_FinderGetNextFile(finder));
  EXPECT_FALSE(cvVFile_FinderGetProperties(finder, &p));
  cvVFile_DestroyFinder(finder);
}

TEST_F(VFileDisk, OpenWalksTheSearchList) {
  cvVFile* first = cvVFile_Open(dir_, "first", 12);
  cvVFile* second = cvVFile_Open(dir_, "second", 12);
  ASSERT_TRUE(first && second);
  cvVFile* only = cvVFile_Open(second, "only.txt", CV_VFILE_OPEN_CREATE);
  cvVFile_Close(only);
  EXPECT_EQ(cvVFile_Open(first, "only.txt", 1), nullptr);
  ASSERT_TRUE(cvVFile_AddSearchPath(first, second, 1));
  cvVFile* found = cvVFile_Open(first, "only.txt", 1);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(cvVFile_GetContext(found), second);
  cvVFile_Close(found);

  // Placed in front, the other system is asked first.
  Put("first/both.txt", "1");
  Put("second/both.txt", "2");
  found = cvVFile_Open(first, "both.txt", 1);
  EXPECT_EQ(cvVFile_GetContext(found), first);
  cvVFile_Close(found);
  ASSERT_TRUE(cvVFile_AddSearchPath(first, second, 0));
  found = cvVFile_Open(first, "both.txt", 1);
  EXPECT_EQ(cvVFile_GetContext(found), second);
  cvVFile_Close(found);
  // Creating never walks the list.
  cvVFile* made = cvVFile_Open(first, "new.txt", CV_VFILE_OPEN_CREATE);
  EXPECT_EQ(cvVFile_GetContext(made), first);
  cvVFile_Close(made);
  cvVFile_Close(second);
  cvVFile_Close(first);
}

}  // namespace
