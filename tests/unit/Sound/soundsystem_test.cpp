// The sound system on OpenAL's null device (ALSOFT_DRIVERS=null, set by the
// test's environment): real sources that play, stop and finish in real time,
// with the mapped values read back at the device.
#include <AL/al.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "framework/soundsystem.h"
#include "framework/wavefile.h"
#include "memfile.h"
#include "testsupport.h"
#include "wavebytes.h"

namespace {

struct SoundSystemTest : ::testing::Test {
  void SetUp() override {
    cvErrorLog_Clear();
    System = CreateSoundSystem(nullptr);
    ASSERT_NE(System, nullptr) << "OpenAL's null device did not open";
  }
  void TearDown() override { DestroySoundSystem(System); }

  uint32_t Load(const std::vector<uint8_t>& Bytes) {
    cvtest::MemoryReader File(Bytes);
    return System->LoadDefinition(File.File());
  }
  // A tenth of a second of 16-bit mono at 8000 Hz.
  uint32_t LoadShort() { return Load(cvtest::PcmWave(1, 16, 8000, 800)); }

  // Polls until the channel stops; false after three seconds.
  bool WaitUntilStopped(uint32_t Channel) {
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (System->IsPlaying(Channel)) {
      if (std::chrono::steady_clock::now() > Deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  float Get(uint32_t Channel, ALenum Param) {
    float V = -1;
    alGetSourcef(System->GetChannelSource(Channel), Param, &V);
    return V;
  }
  float PanX(uint32_t Channel) {
    float X = -2, Y, Z;
    alGetSource3f(System->GetChannelSource(Channel), AL_POSITION, &X, &Y, &Z);
    return X;
  }

  SoundSystem* System = nullptr;
};

TEST_F(SoundSystemTest, PlayPollReplayAndStop) {
  const uint32_t Def = LoadShort();
  ASSERT_EQ(Def, 1u);
  // The definition's own channel carries its identifier.
  ASSERT_EQ(System->Play(Def, 1, 0, 1, false), Def);
  EXPECT_TRUE(System->IsPlaying(Def));
  // Playing it again while it plays starts a second, independent channel.
  const uint32_t Second = System->Play(Def, 1, 0, 1, false);
  ASSERT_EQ(Second, 2u);
  EXPECT_NE(System->GetChannelSource(Second), System->GetChannelSource(Def));
  EXPECT_TRUE(System->Stop(Def));
  EXPECT_FALSE(System->IsPlaying(Def));
  EXPECT_TRUE(System->IsPlaying(Second));
  ASSERT_TRUE(WaitUntilStopped(Second));

  // The idle own channel is used again and the finished duplicate forgotten.
  EXPECT_EQ(System->Play(Def, 1, 0, 1, false), Def);
  cvErrorLog_Clear();
  EXPECT_FALSE(System->Stop(Second));
  EXPECT_LOGGED(CV_SOUND_ERROR_DEVICE);
  EXPECT_EQ(System->GetChannelSource(Second), 0u);
  // Identifiers are shared by channels and definitions.
  EXPECT_EQ(System->Play(Def, 1, 0, 1, false), 3u);
  EXPECT_EQ(LoadShort(), 4u);
}

TEST_F(SoundSystemTest, VolumePanAndFrequencyReachTheDeviceMapped) {
  const uint32_t Def = LoadShort();
  struct Case {
    float Volume, Pan, Frequency;
    float Gain, X, Pitch;
  };
  const Case Cases[] = {
      {1.0f, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f},
      {0.0f, -1.0f, 0.5f, 1e-5f, -1.0f, 0.5f},               // -10000: silent
      {0.5f, 0.25f, 2.0f, 0.0031623f, 0.25f, 2.0f},         // -5000 hundredths of a decibel
      {1.5f, 3.0f, 0.0f, 1.0f, 1.0f, 1.0f},                 // above full, beyond the right; 0 = own rate
      {-1.0f, -0.5f, 0.001f, 1e-5f, -0.5f, 100.0f / 8000},  // 8 Hz raised to 100 Hz
      {0.25f, 0.0f, 1000.0f, 1.7783e-4f, 0.0f, 25.0f},      // 8 MHz lowered to 200 kHz
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(testing::Message() << C.Volume << " " << C.Pan << " " << C.Frequency);
    const uint32_t Ch = System->Play(Def, C.Volume, C.Pan, C.Frequency, false);
    ASSERT_NE(Ch, 0u);
    EXPECT_NEAR(Get(Ch, AL_GAIN), C.Gain, C.Gain * 1e-3);
    EXPECT_NEAR(PanX(Ch), C.X, 1e-6);
    EXPECT_NEAR(Get(Ch, AL_PITCH), C.Pitch, 1e-5);
    System->Stop(Ch);
  }

  // Each value is passed on only when it differs from the channel's own.
  const ALuint Src = System->GetChannelSource(Def);
  alSourcef(Src, AL_GAIN, 0.3f);
  alSourcef(Src, AL_PITCH, 0.7f);
  ASSERT_TRUE(System->SetChannelValues(Def, 0.25f, 0.5f, 1000.0f));
  EXPECT_FLOAT_EQ(Get(Def, AL_GAIN), 0.3f);
  EXPECT_FLOAT_EQ(Get(Def, AL_PITCH), 0.7f);
  EXPECT_NEAR(PanX(Def), 0.5f, 1e-6);
  ASSERT_TRUE(System->SetChannelValues(Def, 1.0f, 0.5f, 2.0f));
  EXPECT_FLOAT_EQ(Get(Def, AL_GAIN), 1.0f);
  EXPECT_FLOAT_EQ(Get(Def, AL_PITCH), 2.0f);
  cvErrorLog_Clear();
  EXPECT_FALSE(System->SetChannelValues(999, 1, 0, 1));
  EXPECT_LOGGED(CV_SOUND_ERROR_DEVICE);
}

TEST_F(SoundSystemTest, LoopingPlaysOnUntilStopped) {
  const uint32_t Ch = System->Play(LoadShort(), 1, 0, 1, true);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(System->IsPlaying(Ch));
  EXPECT_TRUE(System->Stop(Ch));
  EXPECT_FALSE(System->IsPlaying(Ch));
}

TEST_F(SoundSystemTest, FreeingADefinitionEndsItsChannels) {
  const uint32_t Def = LoadShort();
  const uint32_t Ch = System->Play(Def, 1, 0, 1, true);
  const uint32_t Dup = System->Play(Def, 1, 0, 1, true);
  ASSERT_TRUE(System->FreeDefinition(Def));
  EXPECT_FALSE(System->IsPlaying(Ch));
  EXPECT_FALSE(System->IsPlaying(Dup));
  cvErrorLog_Clear();
  EXPECT_EQ(System->Play(Def, 1, 0, 1, false), 0u);
  EXPECT_FALSE(System->FreeDefinition(Def));
  EXPECT_EQ(cvtest::LoggedCodes(), (std::vector<int32_t>{CV_SOUND_ERROR_DEVICE, CV_SOUND_ERROR_DEVICE}));
}

TEST_F(SoundSystemTest, FilesTheDeviceCannotTakeAreRefusedBeforeIt) {
  // 12: not a wave file; 10: a wave file in a format OpenAL is not handed.
  EXPECT_EQ(Load({'R', 'I', 'F', 'F'}), 0u);
  EXPECT_LOGGED(CV_SOUND_ERROR_BAD_FILE);
  using cvtest::WaveBytes;
  EXPECT_EQ(Load(WaveBytes({{"fmt ", cvtest::FormatBody(3, 1, 8000, 32)}, {"data", {0, 0, 0, 0}}})), 0u);
  EXPECT_LOGGED(CV_SOUND_ERROR_BUFFER);
  EXPECT_EQ(Load(cvtest::PcmWave(2, 8, 8000, 0)), 0u);
  EXPECT_LOGGED(CV_SOUND_ERROR_BUFFER);
  // Failed loads use up no identifier; every layout the device takes loads.
  EXPECT_EQ(Load(cvtest::PcmWave(2, 8, 11025, 10)), 1u);
  EXPECT_EQ(Load(cvtest::PcmWave(2, 16, 48000, 10)), 2u);
  EXPECT_EQ(Load(cvtest::PcmWave(1, 8, 1, 1)), 3u);
}

TEST(SoundSystemLibrary, AMissingLibraryGivesNoSystemAndCode9) {
  cvErrorLog_Clear();
  SetSoundLibraryName("libopenal-absent.so.0");
  EXPECT_EQ(CreateSoundSystem(nullptr), nullptr);
  SetSoundLibraryName(nullptr);
  EXPECT_EQ(cvtest::LoggedCodes(), std::vector<int32_t>{CV_SOUND_ERROR_NO_SYSTEM});
  SoundSystem* Again = CreateSoundSystem(nullptr);
  EXPECT_NE(Again, nullptr);
  DestroySoundSystem(Again);
}

}  // namespace
