// Fuzz target: string blocks read with cvStrBlock_CreateFromFile (text "SBLK"
// and binary "SBKB"). Every string of a block that reads is visited, the
// block is searched and appended to, and its binary form must read back with
// the same strings and checksum.
#include <cstring>
#include <string>

#include "Anim/cvanim.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"
#include "fuzz.h"

namespace {

cvStrBlock* ReadMemory(const uint8_t* Data, size_t Size) { return cvfuzz::ReadBytes(Data, Size, cvStrBlock_CreateFromFile); }

std::vector<uint8_t> WriteMemory(const cvStrBlock* Block, bool Binary) {
  return cvfuzz::WriteBytes([&](cvVFile* file) { return Binary ? cvStrBlock_WriteToBinaryFile(Block, file) : cvStrBlock_WriteToFile(Block, file); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  cvErrorLog_Clear();
  cvStrBlock* block = ReadMemory(Data, Size);
  if (!block) return 0;
  size_t total = 0;
  for (int32_t i = 0; i < cvStrBlock_GetCount(block); ++i) total += std::strlen(cvStrBlock_GetString(block, i));
  int32_t index = 0;
  if (cvStrBlock_GetCount(block) > 0) cvStrBlock_FindString(block, cvStrBlock_GetString(block, 0), &index);
  const int32_t checksum = cvStrBlock_GetChecksum(block);
  WriteMemory(block, false);
  const std::vector<uint8_t> binary = WriteMemory(block, true);
  cvStrBlock* back = ReadMemory(binary.data(), binary.size());
  if (!back || cvStrBlock_GetCount(back) != cvStrBlock_GetCount(block) || cvStrBlock_GetChecksum(back) != checksum)
    __builtin_trap();
  for (int32_t i = 0; i < cvStrBlock_GetCount(block); ++i)
    if (std::strcmp(cvStrBlock_GetString(back, i), cvStrBlock_GetString(block, i)) != 0) __builtin_trap();
  cvStrBlock_Destroy(&back);
  cvStrBlock_Append(&block, "appended");
  cvStrBlock_Destroy(&block);
  (void)total;
  return 0;
}

extern "C" int cvFuzz_WriteSeeds(const char* Dir) {
  int count = 0;
  const std::vector<std::vector<std::string>> sets = {
      {},
      {"Bip01"},
      {"Bip01", "Bip01 Pelvis", "Bip01 Spine", "", "Bip01 L Thigh"},
      {std::string(254, 'n'), "x"},
  };
  for (size_t s = 0; s < sets.size(); ++s) {
    cvStrBlock* b = cvStrBlock_Create();
    for (const std::string& str : sets[s]) cvStrBlock_Append(&b, str.c_str());
    cvfuzz::WriteSeed(Dir, "strings_" + std::to_string(s) + ".bin", WriteMemory(b, true));
    cvfuzz::WriteSeed(Dir, "strings_" + std::to_string(s) + ".txt", WriteMemory(b, false));
    count += 2;
    cvStrBlock_Destroy(&b);
  }
  const std::string extra = "SBLK 0.F0\r\ncomment\r\nstrings 2\r\none\r\ntwo\r\n";
  cvfuzz::WriteSeed(Dir, "strings_crlf.txt", std::vector<uint8_t>(extra.begin(), extra.end()));
  return count + 1;
}
