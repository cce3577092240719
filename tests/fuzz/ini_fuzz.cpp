// Fuzz target: driver configuration files read with the platform's
// configuration reader. Any bytes must give either a value or nothing; a
// value found is one trimmed line of plain text.
#include <string>
#include <vector>

#include "fuzz.h"
#include "platform/ini.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  static const char* const kLookups[][2] = {
      {"Driver", "Mode"}, {"Driver", "Width"}, {"driver", "HEIGHT"}, {"", ""}, {"Other", "Key"}};
  for (const auto& lookup : kLookups) {
    std::string value;
    if (!cvplatform::IniFindValue(reinterpret_cast<const char*>(Data), Size, lookup[0], lookup[1],
                                  &value))
      continue;
    if (value.size() > Size) __builtin_trap();
    for (unsigned char c : value)
      if (c < 0x20 && c != '\t') __builtin_trap();
  }
  return 0;
}

extern "C" int cvFuzz_WriteSeeds(const char* Dir) {
  const std::vector<std::string> seeds = {
      "",
      "[Driver]\nMode=Software rasterizer\n",
      "[Driver]\r\nWidth=640\r\nHeight=480\r\n",
      "\xEF\xBB\xBF; comment\n# other\n[ DRIVER ]\n mode = \"quoted value\" \nmode=second\n",
      "[Driver]\nMode=" + std::string(300, 'x') + "\n[Other]\nKey=1\n",
      "[Driver\nMode=1\n",
      std::string("[Driver]\nMode=\0x\n", 17),
  };
  int count = 0;
  for (const std::string& s : seeds)
    cvfuzz::WriteSeed(Dir, "seed" + std::to_string(count++), std::vector<uint8_t>(s.begin(), s.end()));
  return count;
}
