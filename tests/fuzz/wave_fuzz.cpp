// Fuzz target: the sound system's wave reader (no device needed). Seeds cover
// mono and stereo PCM of 8 and 16 bits, the short and extensible format
// chunks, chunks with pad bytes before the samples, and an odd-sized last
// chunk.
#include "Support/cvsupport.h"
#include "framework/wavefile.h"
#include "fuzz.h"
#include "../support/wavebytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  cvVFile* File = cvfuzz::OpenBytes(Data, Size);
  if (!File) return 0;
  WaveFile Wave;
  if (WaveFile_Read(File, &Wave) && WaveFile_IsPlayable(&Wave)) {
    // Touch every sample byte the device would be handed.
    unsigned Sum = 0;
    for (uint32_t I = 0; I < Wave.SampleBytes; ++I) Sum += Wave.Samples[I];
    (void)Sum;
  }
  cvVFile_Close(File);
  cvErrorLog_Clear();
  return 0;
}

extern "C" int cvFuzz_WriteSeeds(const char* Dir) {
  using namespace cvtest;
  int Count = 0;
  auto Seed = [&](const char* Name, const std::vector<uint8_t>& Bytes) {
    cvfuzz::WriteSeed(Dir, Name, Bytes);
    ++Count;
  };
  Seed("mono8", PcmWave(1, 8, 8000, 40));
  Seed("stereo16", PcmWave(2, 16, 44100, 30));
  Seed("fmt14_stereo8", WaveBytes({{"fmt ", FormatBody(1, 2, 22050, 8, 14)}, {"data", Samples(2, 8, 9)}}));
  Seed("extensible16", WaveBytes({{"fmt ", FormatBody(0, 2, 48000, 16, 40, -1, 1)}, {"data", Samples(2, 16, 12)}}));
  Seed("list_fact_odd_data",
       WaveBytes({{"LIST", {'I', 'N', 'F', 'O', 'x'}},
                  {"fmt ", FormatBody(1, 1, 11025, 16, 18)},
                  {"fact", {5, 0, 0, 0}},
                  {"data", Samples(1, 8, 5)}}));
  return Count;
}
