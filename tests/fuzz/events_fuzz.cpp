// Fuzz target: time-keyed events read with cvTKEvents_CreateFromFile (text
// "TKEV" and binary "TKEB"). Events that read are iterated, extended and
// trimmed, and their binary form must read back with the same events.
#include <cstring>
#include <string>

#include "Anim/cvanim.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"
#include "fuzz.h"

namespace {

cvTKEvents* ReadMemory(const uint8_t* Data, size_t Size) { return cvfuzz::ReadBytes(Data, Size, cvTKEvents_CreateFromFile); }

std::vector<uint8_t> WriteMemory(const cvTKEvents* Events, bool Binary) {
  return cvfuzz::WriteBytes([&](cvVFile* file) { return Binary ? cvTKEvents_WriteToBinaryFile(Events, file) : cvTKEvents_WriteToFile(Events, file); });
}

std::vector<std::string> All(cvTKEvents* Events) {
  std::vector<std::string> texts;
  float first = 0.0f, last = 0.0f;
  if (!cvTKEvents_GetExtents(Events, &first, &last)) return texts;
  cvTKEvents_SetupIterator(Events, first, last + 1.0f);
  float time;
  const char* text;
  while (cvTKEvents_GetNextEvent(Events, &time, &text)) texts.emplace_back(text);
  return texts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  cvErrorLog_Clear();
  cvTKEvents* events = ReadMemory(Data, Size);
  if (!events) return 0;
  const std::vector<std::string> texts = All(events);
  WriteMemory(events, false);
  const std::vector<uint8_t> binary = WriteMemory(events, true);
  cvTKEvents* back = ReadMemory(binary.data(), binary.size());
  if (!back || All(back) != texts) __builtin_trap();
  cvTKEvents_Destroy(&back);
  float first = 0.0f, last = 0.0f;
  if (cvTKEvents_GetExtents(events, &first, &last)) {
    cvTKEvents_Insert(events, last + 1.0f, "tail");
    cvTKEvents_Insert(events, (first + last) * 0.5f, "middle");
    cvTKEvents_Delete(events, first);
    All(events);
  }
  cvTKEvents_Destroy(&events);
  return 0;
}

extern "C" int cvFuzz_WriteSeeds(const char* Dir) {
  int count = 0;
  const std::vector<std::vector<std::pair<float, std::string>>> sets = {
      {},
      {{0.5f, "footstep"}},
      {{0.0f, "start"}, {0.25f, ""}, {1.5f, "swing sword"}, {3.0f, "end"}},
  };
  for (size_t s = 0; s < sets.size(); ++s) {
    cvTKEvents* e = cvTKEvents_Create();
    for (const auto& [time, text] : sets[s]) cvTKEvents_Insert(e, time, text.c_str());
    cvfuzz::WriteSeed(Dir, "events_" + std::to_string(s) + ".bin", WriteMemory(e, true));
    cvfuzz::WriteSeed(Dir, "events_" + std::to_string(s) + ".txt", WriteMemory(e, false));
    count += 2;
    cvTKEvents_Destroy(&e);
  }
  return count;
}
