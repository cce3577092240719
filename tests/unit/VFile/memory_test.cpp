// Generic layer and memory files: flags, type codes, search order, growth,
// line reading and the bounded field helpers.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "testsupport.h"
#include "VFile/cvvfile.h"

namespace {

cvVFile* NewGrowable() {
  cvVFile_MemoryContext context{nullptr, 0};
  return cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_MEMORY, nullptr, &context, CV_VFILE_OPEN_CREATE);
}

TEST(VFileGeneric, FlagValidationAndTypeCodes) {
  cvVFile_MemoryContext context{nullptr, 0};
  for (uint32_t flags : {0u, 3u, 5u, 6u, 7u, 16u})
    EXPECT_EQ(cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_MEMORY, nullptr, &context, flags), nullptr) << flags;
  EXPECT_EQ(cvVFile_OpenNewSystem(nullptr, 0, nullptr, &context, 4), nullptr);
  EXPECT_EQ(cvVFile_OpenNewSystem(nullptr, 99, nullptr, &context, 4), nullptr);
  // 8, 9 and 12 are valid flag sets (the memory type itself refuses directories).
  cvVFile* dir = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, "", nullptr, 9);
  ASSERT_NE(dir, nullptr);
  EXPECT_EQ(dir->Type, CV_VFILE_TYPE_DOS);
  EXPECT_EQ(cvVFile_GetContext(dir), nullptr);
  EXPECT_EQ(cvVFile_Close(dir), 1);
  dir = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, "", nullptr, 8);
  ASSERT_NE(dir, nullptr);
  static cvVFile_SystemOps extra = *dir->Ops;  // any table will do; the registry keeps it
  cvVFile_Close(dir);

  int32_t code = 0;
  ASSERT_TRUE(cvVFile_RegisterFileSystem(&extra, &code));
  EXPECT_GE(code, 4);
}

TEST(VFileMemory, GrowsInStepsAndHandsBackItsBytes) {
  cvVFile* f = NewGrowable();
  ASSERT_NE(f, nullptr);
  std::vector<uint8_t> a(10, 'a'), b(9000, 'b');
  ASSERT_TRUE(cvVFile_Write(f, a.data(), 10));
  ASSERT_TRUE(cvVFile_Write(f, b.data(), 9000));
  uint32_t size = 0;
  ASSERT_TRUE(cvVFile_Size(f, &size));
  EXPECT_EQ(size, 9010u);
  cvVFile_MemoryContext out{nullptr, 0};
  EXPECT_FALSE(cvVFile_UpdateContext(f, &out, 4));
  ASSERT_TRUE(cvVFile_UpdateContext(f, &out, sizeof(out)));
  EXPECT_EQ(out.Length, 9010u);
  const uint8_t* bytes = static_cast<const uint8_t*>(out.Data);
  EXPECT_EQ(bytes[9], 'a');
  EXPECT_EQ(bytes[10], 'b');
  EXPECT_EQ(bytes[9009], 'b');
  // A seek past the end grows the file with zeros.
  ASSERT_TRUE(cvVFile_Seek(f, 20000, CV_VFILE_SEEKSET));
  ASSERT_TRUE(cvVFile_WriteU8(f, 7));
  ASSERT_TRUE(cvVFile_Seek(f, 19999, CV_VFILE_SEEKSET));
  uint8_t gap = 1, seven = 0;
  ASSERT_TRUE(cvVFile_ReadU8(f, &gap));
  ASSERT_TRUE(cvVFile_ReadU8(f, &seven));
  EXPECT_EQ(gap, 0);
  EXPECT_EQ(seven, 7);
  EXPECT_TRUE(cvVFile_EOF(f));
  EXPECT_FALSE(cvVFile_Seek(f, -1, CV_VFILE_SEEKSET));
  EXPECT_EQ(cvVFile_Close(f), 1);
}

TEST(VFileMemory, CallerBytesAreReadOnly) {
  uint8_t data[8] = {1, 0, 2, 0, 0, 0, 0x80, 0x3F};
  cvVFile_MemoryContext context{data, sizeof(data)};
  EXPECT_EQ(cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_MEMORY, nullptr, &context, CV_VFILE_OPEN_UPDATE), nullptr);
  EXPECT_EQ(cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_MEMORY, "x", &context, 1), nullptr);
  cvVFile* f = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_MEMORY, nullptr, &context, CV_VFILE_OPEN_READONLY);
  ASSERT_NE(f, nullptr);
  uint16_t v16 = 0;
  float v32 = 0;
  uint32_t remaining = 0;
  EXPECT_TRUE(cvVFile_ReadLE16(f, &v16));
  EXPECT_EQ(v16, 1);
  EXPECT_TRUE(cvVFile_Remaining(f, &remaining));
  EXPECT_EQ(remaining, 6u);
  EXPECT_TRUE(cvVFile_Seek(f, 4, CV_VFILE_SEEKEND));
  EXPECT_TRUE(cvVFile_ReadF32(f, &v32));
  EXPECT_EQ(v32, 1.0f);
  uint32_t v = 0xDEAD;
  EXPECT_FALSE(cvVFile_ReadLE32(f, &v));  // short read leaves the value alone
  EXPECT_EQ(v, 0xDEADu);
  EXPECT_FALSE(cvVFile_WriteU8(f, 1));
  EXPECT_FALSE(cvVFile_Seek(f, 9, CV_VFILE_SEEKSET));
  EXPECT_FALSE(cvVFile_Seek(f, 9, CV_VFILE_SEEKEND));
  EXPECT_TRUE(cvVFile_Seek(f, 0, CV_VFILE_SEEKEND));
  EXPECT_TRUE(cvVFile_EOF(f));
  cvVFile_Properties properties;
  EXPECT_FALSE(cvVFile_GetProperties(f, &properties));
  cvVFile_Close(f);
  EXPECT_EQ(data[0], 1);
}

// Reads copy short fields in place, and in pieces when the destination lies
// just past the source within a page: every placement around that window,
// and lengths around the field and piece sizes, give the file's bytes and
// nothing more.
TEST(VFileMemory, ReadsGiveTheBytesWhereverTheyLand) {
  std::vector<uint8_t> data(5000 + 4096);
  for (size_t i = 0; i < data.size(); ++i) data[i] = (uint8_t)(i * 7 + i / 251);
  std::vector<uint8_t> out(4096 + 5000 + 4096 + 2);
  for (uint32_t length : {1u, 3u, 4u, 5u, 7u, 8u, 9u, 15u, 16u, 17u, 1024u, 1025u, 3000u, 5000u})
    for (size_t source = 0; source < 4096; source += 1021)
      for (int ahead = -2; ahead <= 66; ++ahead) {
        // Destination address minus source address is ahead, modulo 4096.
        const uintptr_t base = (reinterpret_cast<uintptr_t>(data.data()) + source + (uintptr_t)ahead -
                                reinterpret_cast<uintptr_t>(out.data() + 1)) & 4095;
        uint8_t* to = out.data() + 1 + base;
        std::fill(out.begin(), out.end(), 0xEE);
        cvVFile_MemoryContext context{data.data() + source, length};
        cvVFile* f = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_MEMORY, nullptr, &context, CV_VFILE_OPEN_READONLY);
        ASSERT_TRUE(cvVFile_Read(f, to, length));
        cvVFile_Close(f);
        ASSERT_EQ(std::memcmp(to, data.data() + source, length), 0) << length << " " << source << " " << ahead;
        ASSERT_EQ(to[-1], 0xEE);
        ASSERT_EQ(to[length], 0xEE);
      }
}

TEST(VFileMemory, LinesEndAtLfCrOrCrLf) {
  const char text[] = "ab\r\ncd\ref\nlast";
  cvVFile_MemoryContext context{const_cast<char*>(text), (uint32_t)std::strlen(text)};
  cvVFile* f = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_MEMORY, nullptr, &context, 1);
  ASSERT_NE(f, nullptr);
  char line[16];
  std::vector<std::string> lines;
  while (cvVFile_GetS(f, line, sizeof(line))) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"ab\n", "cd\n", "ef\n", "last\n"}));
  EXPECT_FALSE(cvVFile_GetS(f, line, 0));
  // A line longer than the buffer fails without consuming anything.
  cvVFile_Seek(f, 0, CV_VFILE_SEEKSET);
  EXPECT_FALSE(cvVFile_GetS(f, line, 3));
  EXPECT_TRUE(cvVFile_GetS(f, line, 4));
  EXPECT_STREQ(line, "ab\n");
  cvVFile_Close(f);
}

TEST(VFileGeneric, PrintfWritesTextWithoutNulAndLongTextWhole) {
  cvVFile* f = NewGrowable();
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(cvVFile_Printf(f, " %X.%.2X\n", 1, 2));
  std::string big(10000, 'x');
  ASSERT_TRUE(cvVFile_Printf(f, "%s", big.c_str()));
  cvVFile_MemoryContext out{};
  ASSERT_TRUE(cvVFile_UpdateContext(f, &out, sizeof(out)));
  ASSERT_EQ(out.Length, 6u + 10000u);
  EXPECT_EQ(std::memcmp(out.Data, " 1.02\n", 6), 0);
  cvVFile_Close(f);
}

TEST(VFileGeneric, TimeConvertsBetweenPosixAnd1601Units) {
  cvVFile_Time t{};
  cvVFile_TimeFromPosix(0, 0, &t);
  EXPECT_EQ(((uint64_t)t.High << 32) | t.Low, 116444736000000000ull);
  cvVFile_TimeFromPosix(1700000000, 123456789, &t);
  int64_t seconds = 0;
  uint32_t nanos = 0;
  ASSERT_TRUE(cvVFile_TimeToPosix(&t, &seconds, &nanos));
  EXPECT_EQ(seconds, 1700000000);
  EXPECT_EQ(nanos, 123456700u);
}

TEST(VFileGeneric, FailedAllocationsLeaveNothingBehind) {
  // Every allocation of a growable memory file's open and first write in turn.
  for (int n = 1; n < 6; ++n) {
    cvtest::FailNthAllocation fail(n);
    cvVFile* f = NewGrowable();
    if (f) {
      int wrote = cvVFile_WriteLE32(f, 5);
      uint32_t size = 0;
      cvVFile_Size(f, &size);
      EXPECT_EQ(size, wrote ? 4u : 0u);
      cvVFile_Close(f);
    }
  }
}

}  // namespace
