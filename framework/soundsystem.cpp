// The sound system on OpenAL. The library is opened with the platform's module
// loader and every entry point is looked up by name, so nothing here links
// against it. A definition owns one buffer and its own source; further
// sources (duplicate channels) share the buffer while the own source plays.
#include "framework/soundsystem.h"

#include <AL/al.h>
#include <AL/alc.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <list>
#include <new>
#include <string>
#include <vector>

#include "Support/cvsupport.h"
#include "framework/wavefile.h"
#include "platform/module.h"

namespace {

constexpr const char* kDefaultLibrary = "libopenal.so.1";
std::string gLibraryName = kDefaultLibrary;

// The device's value ranges: hundredths of a decibel of attenuation, pan
// hundredths of a decibel either side, and playback rates in Hz.
constexpr double kSilent = -10000.0;
constexpr double kPanLimit = 10000.0;
constexpr double kMinRate = 100.0, kMaxRate = 200000.0;

// Clamps a value computed from a caller's float into [Low, High]; NaN gives Low.
double clampValue(double V, double Low, double High) {
  if (!(V >= Low)) return Low;
  return V > High ? High : V;
}

// The OpenAL entry points the sound system uses, looked up by name.
struct Api {
  LPALCOPENDEVICE OpenDevice;
  LPALCCLOSEDEVICE CloseDevice;
  LPALCCREATECONTEXT CreateContext;
  LPALCDESTROYCONTEXT DestroyContext;
  LPALCMAKECONTEXTCURRENT MakeContextCurrent;
  LPALCGETCURRENTCONTEXT GetCurrentContext;
  LPALGETERROR GetError;
  LPALGENBUFFERS GenBuffers;
  LPALDELETEBUFFERS DeleteBuffers;
  LPALBUFFERDATA BufferData;
  LPALGENSOURCES GenSources;
  LPALDELETESOURCES DeleteSources;
  LPALSOURCEI Sourcei;
  LPALSOURCEF Sourcef;
  LPALSOURCE3F Source3f;
  LPALSOURCEPLAY SourcePlay;
  LPALSOURCESTOP SourceStop;
  LPALSOURCEREWIND SourceRewind;
  LPALGETSOURCEI GetSourcei;
};

template <class F>
bool lookUp(void* Library, const char* Name, F* Out) {
  *Out = reinterpret_cast<F>(cvplatform::ModuleSymbol(Library, Name));
  return *Out != nullptr;
}

bool lookUpAll(void* Library, Api* A) {
  return lookUp(Library, "alcOpenDevice", &A->OpenDevice) && lookUp(Library, "alcCloseDevice", &A->CloseDevice) &&
         lookUp(Library, "alcCreateContext", &A->CreateContext) &&
         lookUp(Library, "alcDestroyContext", &A->DestroyContext) &&
         lookUp(Library, "alcMakeContextCurrent", &A->MakeContextCurrent) &&
         lookUp(Library, "alcGetCurrentContext", &A->GetCurrentContext) &&
         lookUp(Library, "alGetError", &A->GetError) && lookUp(Library, "alGenBuffers", &A->GenBuffers) &&
         lookUp(Library, "alDeleteBuffers", &A->DeleteBuffers) && lookUp(Library, "alBufferData", &A->BufferData) &&
         lookUp(Library, "alGenSources", &A->GenSources) && lookUp(Library, "alDeleteSources", &A->DeleteSources) &&
         lookUp(Library, "alSourcei", &A->Sourcei) && lookUp(Library, "alSourcef", &A->Sourcef) &&
         lookUp(Library, "alSource3f", &A->Source3f) && lookUp(Library, "alSourcePlay", &A->SourcePlay) &&
         lookUp(Library, "alSourceStop", &A->SourceStop) && lookUp(Library, "alSourceRewind", &A->SourceRewind) &&
         lookUp(Library, "alGetSourcei", &A->GetSourcei);
}

// A playing slot. Volume, Pan and Frequency are the values last passed to the
// device, so that only changes are passed on; a new source's defaults (full
// gain, centred, the buffer's own rate) are 1, 0 and 0.
struct Channel {
  uint32_t Id = 0;
  ALuint Source = 0;
  float Volume = 1.0f, Pan = 0.0f, Frequency = 0.0f;
};

struct Definition {
  ALuint Buffer = 0;
  uint32_t SampleRate = 0;
  Channel Own;
  std::vector<Channel> Duplicates;
};

}  // namespace

struct SoundSystem::State {
  Api Al{};
  cvWindow* Window = nullptr;
  ALCdevice* Device = nullptr;
  ALCcontext* Context = nullptr;
  uint32_t NextId = 1;
  std::list<Definition> Definitions;  // newest first

  ~State() {
    if (!Context) return;
    if (makeCurrent()) {
      for (Definition& D : Definitions) releaseDefinition(D);
      Al.MakeContextCurrent(nullptr);
    }
    Al.DestroyContext(Context);
    Al.CloseDevice(Device);
  }

  // OpenAL calls act on the process's current context; another Engine's
  // sound system may have made its own current.
  bool makeCurrent() {
    return Al.GetCurrentContext() == Context || Al.MakeContextCurrent(Context) == ALC_TRUE;
  }
  // Starts a sequence of calls: the context current and no error pending.
  bool begin() {
    if (!makeCurrent()) return false;
    Al.GetError();
    return true;
  }
  bool ok() { return Al.GetError() == AL_NO_ERROR; }

  uint32_t takeId() {
    const uint32_t Id = NextId++;
    if (NextId == 0) NextId = 1;  // 0 means "none" to the callers
    return Id;
  }

  // A new source on Buffer, positioned relative to the listener and never
  // attenuated by distance (its position only pans it); 0 on failure.
  ALuint newSource(ALuint Buffer) {
    ALuint Source = 0;
    Al.GenSources(1, &Source);
    if (!ok()) return 0;
    Al.Sourcei(Source, AL_BUFFER, (ALint)Buffer);
    Al.Sourcei(Source, AL_SOURCE_RELATIVE, AL_TRUE);
    Al.Sourcef(Source, AL_ROLLOFF_FACTOR, 0.0f);
    if (!ok()) {
      Al.DeleteSources(1, &Source);
      return 0;
    }
    return Source;
  }

  bool isPlaying(const Channel& C) {
    ALint S = AL_STOPPED;
    Al.GetSourcei(C.Source, AL_SOURCE_STATE, &S);
    return S == AL_PLAYING;
  }

  void releaseChannel(Channel& C) {
    Al.SourceStop(C.Source);
    Al.DeleteSources(1, &C.Source);
    C.Source = 0;
  }

  void releaseDefinition(Definition& D) {
    for (Channel& C : D.Duplicates) releaseChannel(C);
    D.Duplicates.clear();
    releaseChannel(D.Own);
    Al.DeleteBuffers(1, &D.Buffer);
  }

  Definition* findDefinition(uint32_t Id) {
    auto It = std::find_if(Definitions.begin(), Definitions.end(),
                           [Id](const Definition& D) { return D.Own.Id == Id; });
    return It == Definitions.end() ? nullptr : &*It;
  }

  // The channel with identifier Id among the definitions and their
  // duplicates, and its definition.
  Channel* findChannel(uint32_t Id, Definition** Owner = nullptr) {
    if (Id == 0) return nullptr;
    for (Definition& D : Definitions) {
      Channel* C = D.Own.Id == Id ? &D.Own : nullptr;
      for (Channel& Dup : D.Duplicates)
        if (Dup.Id == Id) C = &Dup;
      if (C) {
        if (Owner) *Owner = &D;
        return C;
      }
    }
    return nullptr;
  }

  bool setValues(const Definition& D, Channel& C, float Volume, float Pan, float Frequency) {
    if (Volume != C.Volume) {
      const double Hundredths = std::trunc(clampValue((1.0 - Volume) * kSilent, kSilent, 0.0));
      Al.Sourcef(C.Source, AL_GAIN, (float)std::pow(10.0, Hundredths / 2000.0));
      if (!ok()) return false;
      C.Volume = Volume;
    }
    if (Pan != C.Pan) {
      const double X = std::trunc(clampValue(Pan * kPanLimit, -kPanLimit, kPanLimit)) / kPanLimit;
      Al.Source3f(C.Source, AL_POSITION, (float)X, 0.0f, (float)-std::sqrt(1.0 - X * X));
      if (!ok()) return false;
      C.Pan = Pan;
    }
    if (Frequency != C.Frequency) {
      const double Rate = std::trunc((double)D.SampleRate * Frequency);
      // A rate of 0 asks for the file's own rate.
      const double Pitch = Rate == 0.0 ? 1.0 : clampValue(Rate, kMinRate, kMaxRate) / D.SampleRate;
      Al.Sourcef(C.Source, AL_PITCH, (float)Pitch);
      if (!ok()) return false;
      C.Frequency = Frequency;
    }
    return true;
  }
};

namespace {
uint32_t fail(int32_t Code) {
  CV_ERROR(Code);
  return 0;
}

ALenum alFormat(const WaveFile& W) {
  if (W.Channels == 1) return W.BitsPerSample == 8 ? AL_FORMAT_MONO8 : AL_FORMAT_MONO16;
  return W.BitsPerSample == 8 ? AL_FORMAT_STEREO8 : AL_FORMAT_STEREO16;
}
}  // namespace

SoundSystem::SoundSystem(std::unique_ptr<State> Device) : state_(std::move(Device)) {}
SoundSystem::~SoundSystem() = default;

uint32_t SoundSystem::LoadDefinition(cvVFile* File) {
  WaveFile Wave;
  if (!WaveFile_Read(File, &Wave)) return 0;
  if (!WaveFile_IsPlayable(&Wave)) return fail(CV_SOUND_ERROR_BUFFER);
  State& S = *state_;
  if (!S.begin()) return fail(CV_SOUND_ERROR_BUFFER);
  // Wave samples are little-endian; OpenAL takes them in the host's order.
  if constexpr (std::endian::native == std::endian::big) {
    if (Wave.BitsPerSample == 16) {
      uint8_t* P = const_cast<uint8_t*>(Wave.Samples);
      for (uint32_t I = 0; I + 1 < Wave.SampleBytes; I += 2) std::swap(P[I], P[I + 1]);
    }
  }
  Definition D;
  D.SampleRate = Wave.SampleRate;
  S.Al.GenBuffers(1, &D.Buffer);
  if (!S.ok()) return fail(CV_SOUND_ERROR_BUFFER);
  S.Al.BufferData(D.Buffer, alFormat(Wave), Wave.Samples, (ALsizei)Wave.SampleBytes, (ALsizei)Wave.SampleRate);
  if (!S.ok() || !(D.Own.Source = S.newSource(D.Buffer))) {
    S.Al.DeleteBuffers(1, &D.Buffer);
    return fail(CV_SOUND_ERROR_BUFFER);
  }
  try {
    S.Definitions.push_front(D);
  } catch (const std::bad_alloc&) {
    S.releaseDefinition(D);
    return fail(CV_SOUND_ERROR_OUT_OF_MEMORY);
  }
  S.Definitions.front().Own.Id = S.takeId();
  return S.Definitions.front().Own.Id;
}

bool SoundSystem::FreeDefinition(uint32_t Id) {
  State& S = *state_;
  auto It = std::find_if(S.Definitions.begin(), S.Definitions.end(),
                         [Id](const Definition& D) { return D.Own.Id == Id; });
  if (Id == 0 || It == S.Definitions.end() || !S.begin()) return fail(CV_SOUND_ERROR_DEVICE);
  S.releaseDefinition(*It);
  S.Definitions.erase(It);
  return true;
}

uint32_t SoundSystem::Play(uint32_t Id, float Volume, float Pan, float Frequency, bool Loop) {
  State& S = *state_;
  Definition* D = Id ? S.findDefinition(Id) : nullptr;
  if (!D || !S.begin()) return fail(CV_SOUND_ERROR_DEVICE);
  // Duplicates that have finished are forgotten; their identifiers lapse.
  for (Channel& Dup : D->Duplicates)
    if (!S.isPlaying(Dup)) S.releaseChannel(Dup);
  std::erase_if(D->Duplicates, [](const Channel& C) { return C.Source == 0; });
  Channel* C = &D->Own;
  if (S.isPlaying(D->Own)) {
    Channel Dup;
    if (!(Dup.Source = S.newSource(D->Buffer))) return fail(CV_SOUND_ERROR_DEVICE);
    try {
      D->Duplicates.push_back(Dup);
    } catch (const std::bad_alloc&) {
      S.releaseChannel(Dup);
      return fail(CV_SOUND_ERROR_OUT_OF_MEMORY);
    }
    C = &D->Duplicates.back();
    C->Id = S.takeId();
  }
  if (!S.setValues(*D, *C, Volume, Pan, Frequency)) return fail(CV_SOUND_ERROR_DEVICE);
  S.Al.Sourcei(C->Source, AL_LOOPING, Loop ? AL_TRUE : AL_FALSE);
  S.Al.SourceRewind(C->Source);
  S.Al.SourcePlay(C->Source);
  if (!S.ok()) return fail(CV_SOUND_ERROR_DEVICE);
  return C->Id;
}

bool SoundSystem::Stop(uint32_t Id) {
  State& S = *state_;
  Channel* C = S.findChannel(Id);
  if (!C || !S.begin()) return fail(CV_SOUND_ERROR_DEVICE);
  S.Al.SourceStop(C->Source);
  return S.ok() || fail(CV_SOUND_ERROR_DEVICE);
}

bool SoundSystem::IsPlaying(uint32_t Id) {
  State& S = *state_;
  Channel* C = S.findChannel(Id);
  return C && S.makeCurrent() && S.isPlaying(*C);
}

bool SoundSystem::SetChannelValues(uint32_t Id, float Volume, float Pan, float Frequency) {
  State& S = *state_;
  Definition* D = nullptr;
  Channel* C = S.findChannel(Id, &D);
  if (!C || !S.begin() || !S.setValues(*D, *C, Volume, Pan, Frequency)) return fail(CV_SOUND_ERROR_DEVICE);
  return true;
}

uint32_t SoundSystem::GetChannelSource(uint32_t Id) const {
  const Channel* C = state_->findChannel(Id);
  return C ? C->Source : 0;
}

SoundSystem* CreateSoundSystem(cvWindow* Window) {
  // The library stays loaded once opened: its back-ends may keep threads and
  // exit handlers that must not outlive their code.
  void* Library = cvplatform::ModuleOpen(gLibraryName.c_str());
  auto S = std::unique_ptr<SoundSystem::State>(new (std::nothrow) SoundSystem::State);
  if (!Library || !S || !lookUpAll(Library, &S->Al)) return CV_ERROR(CV_SOUND_ERROR_NO_SYSTEM), nullptr;
  S->Window = Window;
  S->Device = S->Al.OpenDevice(nullptr);
  if (!S->Device) return CV_ERROR(CV_SOUND_ERROR_NO_SYSTEM), nullptr;
  S->Context = S->Al.CreateContext(S->Device, nullptr);
  if (!S->Context) {
    S->Al.CloseDevice(S->Device);
    return CV_ERROR(CV_SOUND_ERROR_NO_SYSTEM), nullptr;
  }
  if (!S->makeCurrent()) return CV_ERROR(CV_SOUND_ERROR_NO_SYSTEM), nullptr;  // ~State releases both
  SoundSystem* System = new (std::nothrow) SoundSystem(std::move(S));
  if (!System) CV_ERROR(CV_SOUND_ERROR_NO_SYSTEM);
  return System;
}

void DestroySoundSystem(SoundSystem* System) { delete System; }

void SetSoundLibraryName(const char* Name) { gLibraryName = Name ? Name : kDefaultLibrary; }
