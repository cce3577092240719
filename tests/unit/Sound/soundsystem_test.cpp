// The sound system on OpenAL's null device (ALSOFT_DRIVERS=null, set by the
// test's environment): real sources that play, stop and finish in real time,
// with the mapped values read back at the device.
#include <AL/al.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "framework/soundsystem.h"
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
  bool WaitUntilStopped(uint32_t Channel) {
    for (int I = 0; I < 300 && System->IsPlaying(Channel); ++I)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return !System->IsPlaying(Channel);
  }
  // Gain, pan position X and pitch of the channel's source.
  std::vector<float> AtDevice(uint32_t Channel) {
    const ALuint S = System->GetChannelSource(Channel);
    float Gain = -1, X = -2, Y, Z, Pitch = -1;
    alGetSourcef(S, AL_GAIN, &Gain);
    alGetSource3f(S, AL_POSITION, &X, &Y, &Z);
    alGetSourcef(S, AL_PITCH, &Pitch);
    return {Gain, X, Pitch};
  }

  SoundSystem* System = nullptr;
};

TEST_F(SoundSystemTest, PlayPollReplayAndStop) {
  // Files OpenAL cannot take are refused before it, using up no identifier.
  EXPECT_EQ(Load({'R', 'I', 'F', 'F'}), 0u);
  EXPECT_LOGGED(CV_SOUND_ERROR_BAD_FILE);
  EXPECT_EQ(Load(cvtest::WaveBytes({{"fmt ", cvtest::FormatBody(3, 1, 8000, 32)}, {"data", {0, 0, 0, 0}}})), 0u);
  EXPECT_LOGGED(CV_SOUND_ERROR_BUFFER);
  const uint32_t Def = LoadShort();
  ASSERT_EQ(Def, 1u);
  ASSERT_EQ(System->Play(Def, 1, 0, 1, false), Def);  // the definition's own channel
  // Played again while it plays: a second, independent channel.
  const uint32_t Second = System->Play(Def, 1, 0, 1, false);
  ASSERT_EQ(Second, 2u);
  EXPECT_TRUE(System->Stop(Def));
  EXPECT_FALSE(System->IsPlaying(Def));
  EXPECT_TRUE(System->IsPlaying(Second));
  ASSERT_TRUE(WaitUntilStopped(Second));

  // The idle own channel is used again and the finished duplicate forgotten.
  EXPECT_EQ(System->Play(Def, 1, 0, 1, false), Def);
  EXPECT_FALSE(System->Stop(Second));
  EXPECT_LOGGED(CV_SOUND_ERROR_DEVICE);
  // Identifiers are shared by channels and definitions.
  EXPECT_EQ(System->Play(Def, 1, 0, 1, true), 3u);
  EXPECT_EQ(LoadShort(), 4u);
  // A looping channel outlasts its sound until its definition is freed.
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  EXPECT_TRUE(System->IsPlaying(3));
  ASSERT_TRUE(System->FreeDefinition(Def));
  EXPECT_FALSE(System->IsPlaying(3));
  EXPECT_EQ(System->Play(Def, 1, 0, 1, false), 0u);
  EXPECT_LOGGED(CV_SOUND_ERROR_DEVICE);
}

TEST_F(SoundSystemTest, VolumePanAndFrequencyReachTheDeviceMapped) {
  const uint32_t Def = LoadShort();
  struct Case {
    float Volume, Pan, Frequency;
    std::vector<float> Device;  // gain, X, pitch
  };
  const Case Cases[] = {
      {1.0f, 0.0f, 1.0f, {1.0f, 0.0f, 1.0f}},
      {0.0f, -1.0f, 0.5f, {1e-5f, -1.0f, 0.5f}},                 // -10000: silent
      {0.5f, 0.25f, 2.0f, {0.0031623f, 0.25f, 2.0f}},            // -5000
      {1.5f, 3.0f, 0.0f, {1.0f, 1.0f, 1.0f}},                    // clamped; 0 keeps the rate
      {-1.0f, -0.5f, 0.001f, {1e-5f, -0.5f, 100.0f / 8000}},     // 8 Hz raised to 100
      {0.25f, 0.0f, 1000.0f, {1.7783e-4f, 0.0f, 25.0f}},         // 8 MHz lowered to 200 kHz
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(testing::Message() << C.Volume << " " << C.Pan << " " << C.Frequency);
    ASSERT_EQ(System->Play(Def, C.Volume, C.Pan, C.Frequency, false), Def);
    const std::vector<float> Got = AtDevice(Def);
    for (int I = 0; I < 3; ++I) EXPECT_NEAR(Got[I], C.Device[I], std::abs(C.Device[I]) * 1e-3 + 1e-6);
    System->Stop(Def);
  }
  // Each value is passed on only when it differs from the channel's own.
  alSourcef(System->GetChannelSource(Def), AL_GAIN, 0.3f);
  alSourcef(System->GetChannelSource(Def), AL_PITCH, 0.7f);
  ASSERT_TRUE(System->SetChannelValues(Def, 0.25f, 0.5f, 1000.0f));
  EXPECT_EQ(AtDevice(Def), (std::vector<float>{0.3f, 0.5f, 0.7f}));
  ASSERT_TRUE(System->SetChannelValues(Def, 1.0f, 0.5f, 2.0f));
  EXPECT_EQ(AtDevice(Def), (std::vector<float>{1.0f, 0.5f, 2.0f}));
}

}  // namespace
