// Wave files: what the reader accepts, what it refuses and with which code,
// and which formats the device is handed.
#include <gtest/gtest.h>

#include "framework/soundsystem.h"
#include "memfile.h"
#include "testsupport.h"
#include "wavebytes.h"

namespace {

using cvtest::FormatBody;
using cvtest::WaveBytes;

TEST(WaveFile, ReadsPcmLayoutsPastOtherChunks) {
  struct Case {
    uint16_t Channels, Bits;
    uint32_t Rate, FormatSize;
  };
  for (const Case& C : {Case{1, 8, 8000, 16}, Case{2, 16, 96000, 18}, Case{2, 16, 22050, 14}, Case{1, 8, 1, 15}}) {
    SCOPED_TRACE(testing::Message() << C.Channels << "x" << C.Bits << " fmt " << C.FormatSize);
    const auto Data = cvtest::Samples(C.Channels, C.Bits, 7);
    // An odd-sized chunk before "data" is walked past with its pad byte.
    cvtest::MemoryReader File(WaveBytes(
        {{"LIST", {1, 2, 3}}, {"fmt ", FormatBody(1, C.Channels, C.Rate, C.Bits, C.FormatSize)}, {"data", Data}}));
    WaveFile W;
    ASSERT_TRUE(WaveFile_Read(File.File(), &W));
    EXPECT_EQ(W.BitsPerSample, C.Bits);  // from the block align for 14 and 15 bytes
    EXPECT_EQ(W.SampleRate, C.Rate);
    EXPECT_EQ(std::vector<uint8_t>(W.Samples, W.Samples + W.SampleBytes), Data);
    EXPECT_TRUE(WaveFile_IsPlayable(&W));
  }
}

TEST(WaveFile, RefusesBrokenFilesWithCode12) {
  const auto Fmt = FormatBody(1, 1, 8000, 8);
  const auto Good = WaveBytes({{"fmt ", Fmt}, {"data", {1, 2, 3, 4}}});
  const std::vector<std::vector<uint8_t>> Cases = {
      {},
      std::vector<uint8_t>(Good.begin(), Good.begin() + 12),      // header only
      std::vector<uint8_t>(Good.begin(), Good.end() - 1),         // data cut short
      WaveBytes({{"fmt ", FormatBody(1, 1, 8000, 8, 13)}, {"data", {1, 2}}}),
      WaveBytes({{"data", {1, 2}}, {"fmt ", Fmt}}),
      WaveBytes({{"fmt ", Fmt}, {"fmt ", Fmt}, {"data", {1, 2}}}),
      WaveBytes({{"fmt ", Fmt}}),
      // Sizes whose even rounding overflows 32 bits, and one just past the end.
      WaveBytes({{"junk", {0}, 0xFFFFFFFF}, {"fmt ", Fmt}, {"data", {1}}}),
      WaveBytes({{"fmt ", Fmt}, {"junk", {0}, 0xFFFFFFFE}, {"data", {1}}}),
      WaveBytes({{"fmt ", Fmt}, {"data", {1, 2}, 3}}),
  };
  for (size_t I = 0; I < Cases.size(); ++I) {
    SCOPED_TRACE(I);
    cvErrorLog_Clear();
    cvtest::MemoryReader File(Cases[I]);
    WaveFile W;
    EXPECT_FALSE(WaveFile_Read(File.File(), &W));
    EXPECT_EQ(cvtest::LoggedCodes(), std::vector<int32_t>{CV_SOUND_ERROR_BAD_FILE});
  }
  // No memory for the file: code 52.
  cvtest::MemoryReader File(Good);
  cvtest::FailNthAllocation Fail(1);
  WaveFile W;
  EXPECT_FALSE(WaveFile_Read(File.File(), &W));
  EXPECT_LOGGED(CV_SOUND_ERROR_OUT_OF_MEMORY);
}

TEST(WaveFile, OnlyFormatsTheDeviceTakesArePlayable) {
  struct Case {
    std::vector<uint8_t> Format;
    uint32_t DataBytes, PlayedBytes;  // 0 played: refused
  };
  const Case Cases[] = {
      {FormatBody(3, 1, 8000, 32), 8, 0},                // float
      {FormatBody(1, 0, 8000, 16, 14, 2), 8, 0},         // no channels, bits derived
      {FormatBody(1, 3, 8000, 16), 12, 0},               // three channels
      {FormatBody(1, 1, 8000, 24), 9, 0},                // 24 bits
      {FormatBody(1, 2, 8000, 16, 16, 2), 8, 0},         // block align disagrees
      {FormatBody(1, 1, 0, 16), 8, 0},                   // rate 0
      {FormatBody(1, 1, 0x80000000u, 8), 8, 0},          // rate beyond 2^31 - 1
      {FormatBody(1, 2, 8000, 16), 3, 0},                // no whole frame
      {FormatBody(1, 2, 8000, 16), 10, 8},               // partial last frame dropped
      {FormatBody(0, 2, 48000, 16, 40, -1, 1), 8, 8},    // extensible PCM
      {FormatBody(0, 2, 48000, 32, 40, -1, 3), 8, 0},    // extensible float
  };
  for (size_t I = 0; I < std::size(Cases); ++I) {
    SCOPED_TRACE(I);
    const auto Bytes = WaveBytes({{"fmt ", Cases[I].Format}, {"data", std::vector<uint8_t>(Cases[I].DataBytes)}});
    WaveFile W;
    ASSERT_TRUE(WaveFile_Parse(Bytes.data(), (uint32_t)Bytes.size(), &W));
    EXPECT_EQ(WaveFile_IsPlayable(&W), Cases[I].PlayedBytes > 0);
    EXPECT_EQ(W.SampleBytes, Cases[I].PlayedBytes ? Cases[I].PlayedBytes : Cases[I].DataBytes);
  }
}

}  // namespace
