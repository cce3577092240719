// Engine: engine object, driver and mode choice, frame calls, the scene's
// lists and the on-screen message queue.
#include "framework/engine.h"

#include <strings.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "framework/actor.h"
#include "framework/scene.h"
#include "framework/sound.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/ini.h"

// Network clients are defined by their own module; the steps that need
// them are compiled in once it is built.
#if __has_include("framework/netmgr.h")
#include "framework/netmgr.h"
#define CV_FRAMEWORK_HAS_NET 1
#endif

namespace {

void showError(const char* Text) { cvplatform::CurrentDialogs().MessageBox(Text, "Error"); }

// Mode names of windowed modes begin with "Window", in any case.
bool isWindowedName(const char* Name) { return Name && strncasecmp(Name, "Window", 6) == 0; }

bool contains(const char* Name, const char* Part) {
  return !Part || (Name && std::strstr(Name, Part) != nullptr);
}

std::string currentDirectory() {
  std::vector<char> buffer(PATH_MAX);
  if (!getcwd(buffer.data(), buffer.size())) return ".";
  return buffer.data();
}

}  // namespace

Engine::Engine(cvWindow* Window_) : Window(Window_) {
  EngineObject = cvEngine_Create(Window, "VuzUzu", ".", 0x10003);
  if (!EngineObject) {
    showError("No Engine");
  } else {
    cvEngine_EnableFrameRateCounter(EngineObject, FrameRateCounter);
    WorkingDirectory = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, currentDirectory().c_str(),
                                             nullptr, CV_VFILE_OPEN_READONLY | CV_VFILE_OPEN_DIRECTORY);
  }
  ClearDisplayStrings();
  Sounds = CreateSoundSystem(Window);
}

Engine::~Engine() {
  while (NumClients > 0) RemoveClient(NumClients - 1);
  while (NumActors > 0) RemoveActor(Actors[NumActors - 1]);
  while (NumTempSounds > 0) RemoveTempSound(NumTempSounds - 1);
  DestroySoundSystem(Sounds);
  Sounds = nullptr;
  if (EngineObject) {
    cvEngine_ShutdownDriver(EngineObject);
    cvEngine_Destroy(EngineObject);
  }
  if (WorkingDirectory) cvVFile_Close(WorkingDirectory);
}

// --- Driver and mode ----------------------------------------------------------

bool Engine::ChooseByFilter(const char* Driver, const char* Mode, cvDriver_Record** Device,
                            cvDriver_Mode** Chosen) {
  struct Candidate {
    cvDriver_Record* Device;
    cvDriver_Mode* Mode;
  };
  // Newest first: the list holds the pairs in reverse order of enumeration.
  std::vector<Candidate> candidates;
  if (EngineObject) {
    for (cvDriver_Record* d = cvDriver_GetNextDriver(EngineObject, nullptr); d;
         d = cvDriver_GetNextDriver(EngineObject, d)) {
      if (!contains(d->Name, Driver)) continue;
      for (cvDriver_Mode* m = cvDriver_GetNextMode(d, nullptr); m; m = cvDriver_GetNextMode(d, m))
        if (contains(m->Name, Mode)) candidates.insert(candidates.begin(), {d, m});
    }
  }
  if (candidates.empty()) return false;
  size_t pick = 0;
  if (candidates.size() > 1) {
    std::vector<std::string> entries;
    entries.reserve(candidates.size());
    for (const Candidate& c : candidates) entries.push_back(std::string(c.Device->Name) + " " + c.Mode->Name);
    const int answer = cvplatform::CurrentDialogs().ChooseVideoMode(
        "Corvina3D", "Select a video mode for the game:", entries);
    if (answer < 0 || static_cast<size_t>(answer) >= candidates.size()) return false;
    pick = static_cast<size_t>(answer);
  }
  *Device = candidates[pick].Device;
  *Chosen = candidates[pick].Mode;
  return true;
}

bool Engine::SetDriverMode(const char* Driver, const char* Mode) {
  char configured[40];
  cvplatform::IniGetString(cvplatform::FindConfigFile("cvdriver2.ini").c_str(), "Driver", "Mode",
                           "None", configured, sizeof(configured));
  cvDriver_Record* device = nullptr;
  cvDriver_Mode* mode = nullptr;
  if (std::strcmp(configured, "None") != 0) {
    const std::string sizes = cvplatform::FindConfigFile("cvdriver.ini");
    const int32_t width = cvplatform::IniGetInt(sizes.c_str(), "Driver", "Width", -1);
    const int32_t height = cvplatform::IniGetInt(sizes.c_str(), "Driver", "Height", -1);
    if (!EngineObject) {
      showError("No DrvSys");
      return false;
    }
    for (cvDriver_Record* d = cvDriver_GetNextDriver(EngineObject, nullptr); d && !device;
         d = cvDriver_GetNextDriver(EngineObject, d))
      if (std::strstr(d->Name, configured)) device = d;
    if (!device) {
      showError("No Driver");
      return false;
    }
    for (cvDriver_Mode* m = cvDriver_GetNextMode(device, nullptr); m && !mode;
         m = cvDriver_GetNextMode(device, m))
      if (isWindowedName(m->Name) && m->Width == width && m->Height == height) mode = m;
    if (!mode) {
      showError("No Mode");
      return false;
    }
  } else if (!ChooseByFilter(Driver, Mode, &device, &mode)) {
    return false;
  }

  DisplayWidth = mode->Width;
  DisplayHeight = mode->Height;
  FullScreen = !isWindowedName(mode->Name);
  if (!FullScreen && Window && Window->GetClientSize)
    Window->GetClientSize(Window, &DisplayWidth, &DisplayHeight);
  if (!cvEngine_SetDriverAndMode(EngineObject, device, mode)) {
    showError("Set Driver/Mode failed");
    return false;
  }
  return true;
}

// --- World, camera, frame ---------------------------------------------------------

bool Engine::AddWorld(World* Scene) {
  cvWorld* world = Scene ? Scene->EngineWorld : nullptr;
  if (!cvEngine_AddWorld(EngineObject, world)) {
    showError("AddWorld failed");
    return false;
  }
  CurrentWorld = Scene;
  engineWorld_ = world;
  return true;
}

bool Engine::SetCamera(Camera* View) {
  CurrentCamera = View;
  return true;
}

void Engine::FrameFailed(uint32_t Which, const char* Text) {
  frameClean_ = false;
  if (shownFrameErrors_ & Which) return;
  // Marked before showing: a modal box keeps the frame timer running, and
  // the frames it runs meanwhile must not open the same box again.
  shownFrameErrors_ |= Which;
  showError(Text);
}

bool Engine::BeginFrame(bool ClearScreen) {
  cvCamera* camera = CurrentCamera ? CurrentCamera->EngineCamera : nullptr;
  if (!camera || !cvEngine_BeginFrame(EngineObject, camera, ClearScreen)) {
    FrameFailed(kBeginFrameFailed, "BeginFrame failed");
    return false;
  }
  frameClean_ = true;
  return true;
}

bool Engine::RenderWorld(float Time) {
  cvCamera* camera = CurrentCamera ? CurrentCamera->EngineCamera : nullptr;
  cvWorld* world = CurrentWorld ? CurrentWorld->EngineWorld : nullptr;
  if (!camera || !world || !cvEngine_RenderWorld(EngineObject, world, camera, Time)) {
    FrameFailed(kRenderWorldFailed, "RenderWorld failed");
    return false;
  }
  return true;
}

bool Engine::EndFrame() {
  if (!cvEngine_EndFrame(EngineObject)) {
    FrameFailed(kEndFrameFailed, "Endframe failed");
    return false;
  }
  if (frameClean_) shownFrameErrors_ = 0;
  frameClean_ = false;
  return true;
}

bool Engine::ExecuteWorld(float Time) {
  for (int32_t i = 0; i < NumActors; ++i) Actors[i]->PerformAction(this, Time);
  for (int32_t i = 0; i < NumLights; ++i) Lights[i]->PerformAction(this, Time);
  if (CurrentCamera) CurrentCamera->PerformAction(this, Time);
  for (int32_t i = 0; i < NumAreaSounds; ++i) AreaSounds[i]->PerformAction(this, Time);
  // Finished temporary sounds go; the one moved into a freed slot is looked
  // at on the next call.
  for (int32_t i = 0; i < NumTempSounds; ++i)
    if (!TempSounds[i]->IsPlaying()) RemoveTempSound(i);
  TextPump();
  return true;
}

// --- Actors -------------------------------------------------------------------

bool Engine::AddActor(Actor* Player) {
  if (!Player || !Player->IsValid() || NumActors >= MaxActors || FindActorWithPtr(Player) >= 0)
    return false;
  if (engineWorld_ && !cvWorld_AddActor(engineWorld_, Player->EngineActor, 11, 0xFFFFFFFFu))
    return false;
  Actors[NumActors++] = Player;
  return true;
}

bool Engine::RemoveActor(Actor* Player) {
  const int index = FindActorWithPtr(Player);
  if (index < 0) return false;
  Actors[index] = Actors[--NumActors];
  Actors[NumActors] = nullptr;
  if (PlayerActor == Player) PlayerActor = nullptr;
  Player->UnRegisterAllActions();
  if (engineWorld_ && Player->EngineActor) cvWorld_RemoveActor(engineWorld_, Player->EngineActor);
  delete Player;
  return true;
}

int Engine::FindActorWithPtr(Actor* Player) {
  for (int32_t i = 0; i < NumActors; ++i)
    if (Actors[i] == Player) return i;
  return -1;
}

void Engine::SetPlayerActor(Actor* Player) { PlayerActor = Player; }

// --- Lights, sounds, clients -----------------------------------------------------------

bool Engine::AddLight(Light* Lamp) {
  if (!Lamp || NumLights >= MaxLights) return false;
  Lights[NumLights++] = Lamp;
  return true;
}

bool Engine::AddAreaSound(AreaSound* Noise) {
  if (!Noise || NumAreaSounds >= MaxAreaSounds) return false;
  AreaSounds[NumAreaSounds++] = Noise;
  return true;
}

bool Engine::AddTempSound(Sound* Noise) {
  if (!Noise || NumTempSounds >= MaxTempSounds) return false;
  TempSounds[NumTempSounds++] = Noise;
  return true;
}

bool Engine::RemoveTempSound(int Index) {
  if (Index < 0 || Index >= NumTempSounds) return false;
  Sound* gone = TempSounds[Index];
  TempSounds[Index] = TempSounds[--NumTempSounds];
  TempSounds[NumTempSounds] = nullptr;
  delete gone;
  return true;
}

Client* Engine::GetNewClient() {
#if CV_FRAMEWORK_HAS_NET
  if (NumClients >= MaxClients) return nullptr;
  Client* made = new Client();
  Clients[NumClients++] = made;
  return made;
#else
  return nullptr;  // clients come with the network module
#endif
}

int Engine::FindClientWithId(long Id) {
#if CV_FRAMEWORK_HAS_NET
  for (int32_t i = 0; i < NumClients; ++i)
    if (static_cast<long>(Clients[i]->Socket) == Id) return i;
#else
  (void)Id;
#endif
  return -1;
}

bool Engine::RemoveClient(int Index) {
  if (Index < 0 || Index >= NumClients) return false;
  Client* gone = Clients[Index];
  Clients[Index] = Clients[--NumClients];
  Clients[NumClients] = nullptr;
#if CV_FRAMEWORK_HAS_NET
  RemoveActor(gone->ClientActor);
  delete gone;
#else
  (void)gone;  // no Client can exist without the network module
#endif
  return true;
}

// --- Frame-rate counter, text entry ---------------------------------------------

void Engine::ToggleFrameRateCounter() {
  FrameRateCounter = !FrameRateCounter;
  if (EngineObject) cvEngine_EnableFrameRateCounter(EngineObject, FrameRateCounter);
}

void Engine::SetTextEntryMode(bool Flag) { TextEntryMode = Flag; }

bool Engine::IsTextEntryMode() { return TextEntryMode; }

// --- Message queue --------------------------------------------------------------

void Engine::AddDisplayString(const char* Text) {
  if (!Text) return;
  if (NumMessages == MaxMessages) DropOldestMessage();
  Messages[NumMessages++] = Text;
}

void Engine::ClearDisplayStrings() {
  for (std::string& m : Messages) std::string().swap(m);
  NumMessages = 0;
}

void Engine::DropOldestMessage() {
  if (NumMessages == 0) return;
  for (int32_t i = 1; i < NumMessages; ++i) Messages[i - 1] = std::move(Messages[i]);
  std::string().swap(Messages[--NumMessages]);
}

void Engine::TextPump() {
  const uint32_t now = cvplatform::TickCount();
  if (textIdle_) {
    if (NumMessages == 0) return;
    textIdle_ = false;
    textStamp_ = now;
  }
  // The oldest message goes in the first second after each five-second
  // period; a pump that misses that second waits for the next one.
  const uint32_t elapsed = now - textStamp_;
  if (elapsed % MessagePeriod < MessageWindow && elapsed > MessageWindow) {
    textStamp_ = now;
    DropOldestMessage();
  }
  if (NumMessages == 0) {
    textIdle_ = true;
    return;
  }
  if (!EngineObject) return;
  for (int32_t i = 0; i < NumMessages; ++i) {
    // The engine shows at most 79 characters of a line.
    const std::string line = Messages[i].substr(0, CV_ENGINE_STRING_SIZE - 1);
    cvEngine_PutString(EngineObject, 10, 14 * i, line.c_str());
  }
}
