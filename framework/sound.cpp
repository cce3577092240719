// Sound and AreaSound: a wave file loaded into the Engine's sound system as
// one definition, played on channels that the sound system hands out.
#include "framework/sound.h"

#include "framework/engine.h"
#include "framework/soundsystem.h"

Sound::Sound(Engine* Owner_, const char* FileName) : Owner(Owner_) {
  VFile File(Owner, FileName);
  Load(File.File);
}

Sound::Sound(Engine* Owner_, VFile* File) : Owner(Owner_) { Load(File ? File->File : nullptr); }

Sound::~Sound() {
  if (Definition && Owner && Owner->Sounds) Owner->Sounds->FreeDefinition(Definition);
}

void Sound::Load(cvVFile* File) {
  // Without a sound system (logged when the Engine was made) nothing loads.
  if (Owner && Owner->Sounds) Definition = Owner->Sounds->LoadDefinition(File);
}

bool Sound::Play() {
  if (!Definition || !Owner || !Owner->Sounds) return false;
  SoundSystem* System = Owner->Sounds;
  Channel = System->Play(Definition, Volume * System->GetMasterVolume(), Pan, Frequency, Loop);
  return Channel != 0;
}

bool Sound::Stop() {
  if (!Channel || !Owner || !Owner->Sounds) return false;
  return Owner->Sounds->Stop(Channel);
}

bool Sound::IsPlaying() {
  if (!Channel || !Owner || !Owner->Sounds) return false;
  return Owner->Sounds->IsPlaying(Channel);
}

AreaSound::AreaSound(Engine* Owner_, VFile* File) : Sound(Owner_, File) {}

AreaSound::~AreaSound() = default;

bool AreaSound::PerformAction(Engine*, float Time) {
  PreviousPosition = Position;
  return ActionObject::PerformAction(Time);
}
