// String blocks: a counted list of short strings in one block (header, offset
// table, strings), as used for bone, material, joint and path names, with a
// name checksum and the text ("SBLK") and binary ("SBKB") file forms.
#include <cstring>
#include <string>

#include "Anim/cvanim.h"
#include "Anim/anim_util.h"
#include "Support/cvsupport.h"

using namespace cvanim;

namespace {

constexpr uint32_t kVersion = 0xF0;

uint8_t* Table(cvStrBlock* Block) { return reinterpret_cast<uint8_t*>(Block + 1); }
const uint8_t* Table(const cvStrBlock* Block) { return reinterpret_cast<const uint8_t*>(Block + 1); }

uint32_t GetOffset(const cvStrBlock* Block, int32_t Index) {
  uint32_t v;
  std::memcpy(&v, Table(Block) + 4 * static_cast<size_t>(Index), 4);
  return v;
}
void SetOffset(cvStrBlock* Block, int32_t Index, uint32_t Value) {
  std::memcpy(Table(Block) + 4 * static_cast<size_t>(Index), &Value, 4);
}

cvStrBlock* Allocate(uint64_t DataSize) {
  uint64_t bytes = 0;
  if (!cvSize_Add(sizeof(cvStrBlock), DataSize, &bytes)) return nullptr;
  return static_cast<cvStrBlock*>(cvRam_Allocate(bytes));
}

// True when the offset table and strings of a block read from a file have
// exactly the layout Append builds: offsets in order, each string terminated
// and 0..254 characters long, the last one ending the data.
bool LayoutValid(const cvStrBlock* Block, uint32_t DataSize) {
  const int32_t n = Block->Count;
  uint64_t expected = static_cast<uint64_t>(n) * 4;
  if (expected > DataSize) return false;
  const char* table = reinterpret_cast<const char*>(Table(Block));
  for (int32_t i = 0; i < n; ++i) {
    if (GetOffset(Block, i) != expected || expected >= DataSize) return false;
    size_t room = DataSize - expected;
    if (room > static_cast<size_t>(CV_STRBLOCK_MAX_STRING) + 1) room = static_cast<size_t>(CV_STRBLOCK_MAX_STRING) + 1;
    const void* nul = std::memchr(table + expected, '\0', room);
    if (!nul) return false;
    expected = static_cast<uint64_t>(static_cast<const char*>(nul) - table) + 1;
  }
  return n == 0 ? DataSize == 0 : expected == DataSize;
}

cvStrBlock* ReadText(cvVFile* File) {
  uint32_t version = 0;
  if (!ReadVersionLine(File, &version)) {
    CV_ERROR(93);
    CV_ERROR(95);
    return nullptr;
  }
  cvStrBlock* block = cvStrBlock_Create();
  if (!block) return nullptr;
  if (version < kVersion) return block;  // an earlier form held no strings
  char line[CV_STRBLOCK_MAX_STRING + 2];
  const size_t capacity = CV_STRBLOCK_MAX_STRING + 1;
  for (;;) {
    if (!ReadLine(File, line, capacity)) {
      cvStrBlock_Destroy(&block);
      CV_ERROR(93);
      CV_ERROR(95);
      return nullptr;
    }
    if (StartsWithNoCase(line, "Strings")) break;
  }
  int32_t count = -1;
  TextCursor c(line + 7);
  if (!c.Int(&count) || count < 0 || static_cast<uint64_t>(count) > Remaining(File)) {
    cvStrBlock_Destroy(&block);
    CV_ERROR(93);
    return nullptr;
  }
  // The strings are gathered first and the block is built once: appending
  // them one by one moves the whole block each time, which is quadratic in
  // the count.
  std::string strings;
  const uint64_t tableBytes = static_cast<uint64_t>(count) * 4;
  for (int32_t i = 0; i < count; ++i) {
    const bool read = ReadLine(File, line, capacity) != 0;
    if (!read || std::strlen(line) > static_cast<size_t>(CV_STRBLOCK_MAX_STRING)) {
      if (read) CV_ERROR(92);  // longer than a string of a block may be
      cvStrBlock_Destroy(&block);
      CV_ERROR(93);
      return nullptr;
    }
    strings += line;
    strings += '\0';
  }
  uint64_t dataSize = 0;
  cvStrBlock* built = nullptr;
  if (!cvSize_Add(tableBytes, strings.size(), &dataSize) || !(built = Allocate(dataSize))) {
    cvStrBlock_Destroy(&block);
    CV_ERROR(91);
    CV_ERROR(93);
    return nullptr;
  }
  cvStrBlock_Destroy(&block);
  built->Count = count;
  built->Self = built;
  std::memcpy(Table(built) + tableBytes, strings.data(), strings.size());
  uint32_t at = static_cast<uint32_t>(tableBytes);
  for (int32_t i = 0; i < count; ++i) {
    SetOffset(built, i, at);
    at += static_cast<uint32_t>(std::strlen(reinterpret_cast<const char*>(Table(built)) + at)) + 1;
  }
  return built;
}

cvStrBlock* ReadBinary(cvVFile* File) {
  uint32_t count = 0, dataSize = 0;
  if (!cvVFile_ReadLE32(File, &count) || !cvVFile_ReadLE32(File, &dataSize) || count > 0x7FFFFFFF ||
      static_cast<uint64_t>(count) * 4 > dataSize || dataSize > Remaining(File)) {
    CV_ERROR(93);
    return nullptr;
  }
  cvStrBlock* block = Allocate(dataSize);
  if (!block) {
    CV_ERROR(91);
    return nullptr;
  }
  block->Count = static_cast<int32_t>(count);
  block->Self = block;
  if (!cvVFile_Read(File, Table(block), dataSize)) {
    cvRam_Free(block);
    CV_ERROR(93);
    return nullptr;
  }
  // Offsets are little-endian in the file.
  for (int32_t i = 0; i < block->Count; ++i) SetOffset(block, i, cvLE_Get32(Table(block) + 4 * static_cast<size_t>(i)));
  if (!LayoutValid(block, dataSize)) {
    cvRam_Free(block);
    CV_ERROR(93);
    return nullptr;
  }
  return block;
}

}  // namespace

cvStrBlock* cvStrBlock_Create(void) {
  cvStrBlock* block = Allocate(0);
  if (!block) {
    CV_ERROR(91);
    return nullptr;
  }
  block->Count = 0;
  block->Self = block;
  return block;
}

void cvStrBlock_Destroy(cvStrBlock** Block) {
  if (!Block || !*Block) return;
  cvRam_Free(*Block);
  *Block = nullptr;
}

uint32_t cvStrBlock_GetDataSize(const cvStrBlock* Block) {
  const int32_t n = Block->Count;
  if (n == 0) return 0;
  const uint32_t last = GetOffset(Block, n - 1);
  return last + static_cast<uint32_t>(std::strlen(reinterpret_cast<const char*>(Table(Block)) + last)) + 1;
}

int cvStrBlock_Append(cvStrBlock** Block, const char* String) {
  const size_t length = std::strlen(String) + 1;
  if (length < 1 || length > static_cast<size_t>(CV_STRBLOCK_MAX_STRING) + 1) {
    CV_ERROR(92);
    return 0;
  }
  cvStrBlock* block = *Block;
  const int32_t n = block->Count;
  const uint32_t dataSize = cvStrBlock_GetDataSize(block);
  uint64_t newData = 0, bytes = 0;
  if (n == 0x7FFFFFFF || !cvSize_Add(static_cast<uint64_t>(dataSize) + 4, length, &newData) ||
      !cvSize_Add(sizeof(cvStrBlock), newData, &bytes)) {
    CV_ERROR(91);
    return 0;
  }
  cvStrBlock* grown = static_cast<cvStrBlock*>(cvRam_Realloc(block, bytes));
  if (!grown) {
    CV_ERROR(91);
    return 0;
  }
  block = grown;
  uint8_t* table = Table(block);
  const size_t tableBytes = 4 * static_cast<size_t>(n);
  // Make room for the new offset: the strings move up by 4 bytes.
  std::memmove(table + tableBytes + 4, table + tableBytes, dataSize - tableBytes);
  for (int32_t i = 0; i < n; ++i) SetOffset(block, i, GetOffset(block, i) + 4);
  const uint32_t at = (n == 0 ? 0 : dataSize) + 4;
  SetOffset(block, n, at);
  std::memcpy(table + at, String, length);
  block->Count = n + 1;
  block->Self = block;
  *Block = block;
  return 1;
}

int32_t cvStrBlock_GetCount(const cvStrBlock* Block) { return Block ? Block->Count : 0; }

const char* cvStrBlock_GetString(const cvStrBlock* Block, int32_t Index) {
  if (!Block || Index < 0 || Index >= Block->Count) return nullptr;
  return reinterpret_cast<const char*>(Table(Block)) + GetOffset(Block, Index);
}

int cvStrBlock_FindString(const cvStrBlock* Block, const char* String, int32_t* Index) {
  if (!Block || !String) return 0;
  for (int32_t i = 0; i < Block->Count; ++i) {
    if (std::strcmp(cvStrBlock_GetString(Block, i), String) == 0) {
      if (Index) *Index = i;
      return 1;
    }
  }
  return 0;
}

int32_t cvStrBlock_GetChecksum(const cvStrBlock* Block) {
  uint32_t sum = 0;
  for (int32_t i = 0; Block && i < Block->Count; ++i) {
    for (const char* p = cvStrBlock_GetString(Block, i); *p; ++p)
      sum += static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(*p)));
    sum *= 3u;
  }
  return static_cast<int32_t>(sum);
}

cvStrBlock* cvStrBlock_CreateFromFile(cvVFile* File) {
  char tag[4];
  if (!ReadTag(File, tag)) {
    CV_ERROR(93);
    return nullptr;
  }
  if (TagIs(tag, "SBLK")) return ReadText(File);
  if (TagIs(tag, "SBKB")) return ReadBinary(File);
  CV_ERROR(95);
  return nullptr;
}

int cvStrBlock_WriteToFile(const cvStrBlock* Block, cvVFile* File) {
  std::string text = "Strings ";
  AppendInt(&text, Block->Count);
  text += '\n';
  bool ok = true;
  for (int32_t i = 0; i < Block->Count; ++i) {
    const char* s = cvStrBlock_GetString(Block, i);
    // A line end inside a string would split it on reading.
    if (std::strpbrk(s, "\r\n")) ok = false;
    text += s;
    text += '\n';
  }
  ok = ok && WriteString(File, "SBLK") && WriteVersionLine(File, 0, kVersion) && WriteString(File, text);
  if (!ok) {
    CV_ERROR(94);
    return 0;
  }
  return 1;
}

int cvStrBlock_WriteToBinaryFile(const cvStrBlock* Block, cvVFile* File) {
  const uint32_t dataSize = cvStrBlock_GetDataSize(Block);
  bool ok = cvVFile_Write(File, "SBKB", 4) && cvVFile_WriteLE32(File, static_cast<uint32_t>(Block->Count)) &&
            cvVFile_WriteLE32(File, dataSize);
  if (ok) {
    // The offset table goes out little-endian whatever the host is.
    std::string bytes(reinterpret_cast<const char*>(Table(Block)), dataSize);
    for (int32_t i = 0; i < Block->Count; ++i)
      cvLE_Put32(reinterpret_cast<uint8_t*>(bytes.data()) + 4 * static_cast<size_t>(i), GetOffset(Block, i));
    ok = cvVFile_Write(File, bytes.data(), dataSize);
  }
  if (!ok) {
    CV_ERROR(94);
    return 0;
  }
  return 1;
}
