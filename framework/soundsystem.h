// The sound system: wave files played through OpenAL, which is loaded at run
// time (libopenal.so.1) so that the program runs, silent, where it is absent.
// A loaded wave file is a definition (an OpenAL buffer); playing it gives a
// channel (an OpenAL source). A definition's own channel carries the
// definition's identifier; playing a definition while that channel still
// plays starts a second, independent channel with an identifier of its own.
// Identifiers count up from 1 and are shared by definitions and channels.
// One sound system belongs to one Engine and lives on the window's thread.
#pragma once

#include <cstdint>
#include <memory>

#include "framework/wavefile.h"  // the error codes

typedef struct cvVFile cvVFile;
typedef struct cvWindow cvWindow;

class SoundSystem {
 public:
  struct State;  // the OpenAL entry points, device, context and definitions
  explicit SoundSystem(std::unique_ptr<State> Device);
  virtual ~SoundSystem();
  SoundSystem(const SoundSystem&) = delete;
  SoundSystem& operator=(const SoundSystem&) = delete;

  // Scales the volume of every sound that plays from now on (1.0 = as given).
  void SetMasterVolume(float Volume) { masterVolume_ = Volume; }
  float GetMasterVolume() const { return masterVolume_; }

  // Loads a wave file from File's position as a new definition; its
  // identifier, or 0 with error code 52 (no memory), 12 (not a usable wave
  // file) or 10 (a format or size the device cannot take).
  uint32_t LoadDefinition(cvVFile* File);
  // Stops every channel of the definition and frees it; false (code 11) for
  // an unknown identifier.
  bool FreeDefinition(uint32_t Definition);

  // Plays a definition from its start: Volume 0..1, Pan -1 (left) .. +1
  // (right), Frequency a factor of the file's sample rate (0 = unchanged).
  // The channel's identifier, or 0 with code 11.
  uint32_t Play(uint32_t Definition, float Volume, float Pan, float Frequency, bool Loop);
  // False (code 11) for a channel that no longer exists or cannot be stopped.
  bool Stop(uint32_t Channel);
  // Whether the channel is playing now; false for a channel that no longer exists.
  bool IsPlaying(uint32_t Channel);
  // Passes each value that differs from the channel's current one on to the
  // device. Volume becomes hundredths of a decibel, (1 - Volume) x -10000
  // within -10000..0, then the gain 10^(hundredths / 2000); Pan becomes
  // Pan x 10000 within -10000..10000, a position on a unit circle in front of
  // the listener; Frequency becomes sample rate x Frequency within 100 ..
  // 200000 Hz (0 keeps the file's rate), then the pitch. False with code 11
  // at the first value the device refuses or for an unknown channel.
  bool SetChannelValues(uint32_t Channel, float Volume, float Pan, float Frequency);

  // The OpenAL source name that plays Channel (0 when there is none), so that
  // checks can read the values at the device.
  uint32_t GetChannelSource(uint32_t Channel) const;

 private:
  std::unique_ptr<State> state_;
  float masterVolume_ = 1.0f;
};

// Opens the sound library and the default device for the window. Null with
// error code 9 when the library, one of its entry points or the device is
// missing; everything made up to then is released.
SoundSystem* CreateSoundSystem(cvWindow* Window);
void DestroySoundSystem(SoundSystem* System);

// Names the sound library that CreateSoundSystem loads from now on; null
// restores "libopenal.so.1". Lets a program or a test run without sound.
void SetSoundLibraryName(const char* Name);
