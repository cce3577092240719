// Wave files: the formats the reader accepts, the files it refuses and why,
// and what the device is asked to play.
#include <gtest/gtest.h>

#include "framework/wavefile.h"
#include "memfile.h"
#include "testsupport.h"
#include "wavebytes.h"

namespace {

using cvtest::FormatBody;
using cvtest::Samples;
using cvtest::WaveBytes;

bool Parse(const std::vector<uint8_t>& Bytes, WaveFile* Out) {
  return WaveFile_Parse(Bytes.data(), (uint32_t)Bytes.size(), Out);
}

TEST(WaveFile, ReadsEveryPcmLayoutAndSkipsOtherChunks) {
  struct Case {
    uint16_t Channels, Bits;
    uint32_t Rate, FormatSize;
  };
  for (const Case& C : {Case{1, 8, 8000, 16}, Case{2, 8, 11025, 18}, Case{1, 16, 44100, 16},
                        Case{2, 16, 96000, 40}, Case{2, 16, 22050, 14}, Case{1, 8, 1, 15}}) {
    SCOPED_TRACE(testing::Message() << C.Channels << "x" << C.Bits << " fmt " << C.FormatSize);
    const std::vector<uint8_t> Data = Samples(C.Channels, C.Bits, 7);
    // An odd-sized chunk before "data" is walked past with its pad byte.
    const auto Bytes = WaveBytes({{"LIST", {1, 2, 3}},
                                  {"fmt ", FormatBody(1, C.Channels, C.Rate, C.Bits, C.FormatSize)},
                                  {"data", Data}});
    cvtest::MemoryReader File(Bytes);
    WaveFile W;
    ASSERT_TRUE(WaveFile_Read(File.File(), &W));
    EXPECT_EQ(W.Encoding, CV_WAVE_FORMAT_PCM);
    EXPECT_EQ(W.Channels, C.Channels);
    EXPECT_EQ(W.BitsPerSample, C.Bits);  // derived from the block align for 14 and 15 bytes
    EXPECT_EQ(W.SampleRate, C.Rate);
    ASSERT_EQ(W.SampleBytes, Data.size());
    EXPECT_TRUE(std::equal(Data.begin(), Data.end(), W.Samples));
    EXPECT_TRUE(WaveFile_IsPlayable(&W));
  }
}

TEST(WaveFile, RefusesBrokenFilesWithCode12) {
  const auto Fmt = FormatBody(1, 1, 8000, 8);
  const auto Good = WaveBytes({{"fmt ", Fmt}, {"data", Samples(1, 8, 10)}});
  auto Truncated = Good;
  Truncated.resize(Good.size() - 1);
  auto NotWave = Good;
  NotWave[8] = 'A';
  const std::vector<std::pair<const char*, std::vector<uint8_t>>> Cases = {
      {"empty", {}},
      {"riff header only", std::vector<uint8_t>(Good.begin(), Good.begin() + 12)},
      {"not WAVE", NotWave},
      {"data cut short", Truncated},
      {"fmt of 13 bytes", WaveBytes({{"fmt ", FormatBody(1, 1, 8000, 8, 13)}, {"data", {1, 2}}})},
      {"data before fmt", WaveBytes({{"data", {1, 2}}, {"fmt ", Fmt}})},
      {"two fmt chunks", WaveBytes({{"fmt ", Fmt}, {"fmt ", Fmt}, {"data", {1, 2}}})},
      {"no data", WaveBytes({{"fmt ", Fmt}})},
      {"no fmt", WaveBytes({{"data", {1, 2}}})},
      // Sizes whose even rounding overflows 32 bits, and one past the file.
      {"chunk of 2^32-1", WaveBytes({{"junk", {0}, 0xFFFFFFFF}, {"fmt ", Fmt}, {"data", {1}}})},
      {"chunk of 2^32-2", WaveBytes({{"fmt ", Fmt}, {"junk", {0}, 0xFFFFFFFE}, {"data", {1}}})},
      {"data beyond the file", WaveBytes({{"fmt ", Fmt}, {"data", {1, 2}, 3}})},
  };
  for (const auto& [Name, Bytes] : Cases) {
    SCOPED_TRACE(Name);
    cvErrorLog_Clear();
    cvtest::MemoryReader File(Bytes);
    WaveFile W;
    EXPECT_FALSE(WaveFile_Read(File.File(), &W));
    EXPECT_EQ(cvtest::LoggedCodes(), std::vector<int32_t>{CV_SOUND_ERROR_BAD_FILE});
    EXPECT_EQ(W.Samples, nullptr);
  }
}

TEST(WaveFile, OnlyFormatsTheDeviceTakesArePlayable) {
  struct Case {
    const char* Name;
    std::vector<uint8_t> Format;
    uint32_t DataBytes;
    bool Playable;
    uint32_t PlayedBytes;
  };
  const Case Cases[] = {
      {"float", FormatBody(3, 1, 8000, 32), 8, false, 0},
      {"adpcm", FormatBody(2, 1, 8000, 4, 20, 256), 512, false, 0},
      {"no channels, 14-byte fmt", FormatBody(1, 0, 8000, 16, 14, 2), 8, false, 0},
      {"no channels", FormatBody(1, 0, 8000, 16), 8, false, 0},
      {"three channels", FormatBody(1, 3, 8000, 16), 12, false, 0},
      {"24 bits", FormatBody(1, 1, 8000, 24), 9, false, 0},
      {"block align disagrees", FormatBody(1, 2, 8000, 16, 16, 2), 8, false, 0},
      {"rate 0", FormatBody(1, 1, 0, 16), 8, false, 0},
      {"rate beyond 2^31", FormatBody(1, 1, 0x80000000u, 8), 8, false, 0},
      {"no whole frame", FormatBody(1, 2, 8000, 16), 3, false, 0},
      {"partial last frame dropped", FormatBody(1, 2, 8000, 16), 10, true, 8},
      {"extensible pcm", cvtest::ExtensibleBody(1, 2, 48000, 16, 16), 8, true, 8},
      {"extensible float", cvtest::ExtensibleBody(3, 2, 48000, 32, 32), 8, false, 0},
      {"extensible 20 of 24 bits", cvtest::ExtensibleBody(1, 1, 48000, 24, 20), 9, false, 0},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    const auto Bytes = WaveBytes({{"fmt ", C.Format}, {"data", std::vector<uint8_t>(C.DataBytes, 0x80)}});
    WaveFile W;
    ASSERT_TRUE(Parse(Bytes, &W));
    EXPECT_EQ(WaveFile_IsPlayable(&W), C.Playable);
    if (C.Playable) {
      EXPECT_EQ(W.SampleBytes, C.PlayedBytes);
    }
  }
}

TEST(WaveFile, OutOfMemoryIsCode52AndLeavesNothing) {
  const auto Bytes = cvtest::PcmWave(2, 16, 22050, 100);
  cvtest::MemoryReader File(Bytes);
  cvtest::WalkAllocationFailures(
      4,
      [&] {
        cvVFile_Seek(File.File(), 0, CV_VFILE_SEEKSET);
        WaveFile W;
        return WaveFile_Read(File.File(), &W) ? W.SampleBytes : 0u;
      },
      [](int, uint32_t Read) {
        EXPECT_EQ(Read, 0u);
        EXPECT_EQ(cvtest::LoggedCodes(), std::vector<int32_t>{CV_SOUND_ERROR_OUT_OF_MEMORY});
      },
      [](uint32_t Read) { EXPECT_EQ(Read, 400u); });
}

}  // namespace
