// The framework's front object: one Engine per 3D view. It owns the engine
// object, picks and opens the render driver and display mode (from the
// driver configuration files, from a filter given by the caller, or from the
// user through the video-mode dialog), runs the frame calls, keeps the
// fixed-size lists of the scene's actors, lights, sounds and network
// clients, runs their per-frame behaviour in ExecuteWorld, and keeps a small
// queue of timed on-screen messages.
//
// Failures are reported to the user with an OK message box captioned
// "Error" through the platform's dialog interface. A failing frame call
// shows its message once and stays quiet about the same failure until a
// whole frame succeeds again, so that a 10 ms frame timer cannot stack up
// message boxes.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "engine/cvengine.h"
#include "platform/window.h"

class World;
class Camera;
class Actor;
class Light;
class AreaSound;
class Sound;
class Client;
class SoundSystem;

// Makes the sound system of a window; null when there is no sound (the
// Engine then goes on without). Defined by the sound module.
SoundSystem* CreateSoundSystem(cvWindow* Window);
void DestroySoundSystem(SoundSystem* System);

class Engine {
 public:
  static constexpr int32_t MaxActors = 20;
  static constexpr int32_t MaxLights = 20;
  static constexpr int32_t MaxAreaSounds = 20;
  static constexpr int32_t MaxTempSounds = 20;
  static constexpr int32_t MaxClients = 20;
  static constexpr int32_t MaxMessages = 15;
  // How long the oldest on-screen message stays (ms), and the window after
  // each such period in which the queue may move on.
  static constexpr uint32_t MessagePeriod = 5000;
  static constexpr uint32_t MessageWindow = 1000;

  // Creates the engine on Window (shows "No Engine" and goes on without one
  // when that fails), opens the working directory and the sound system.
  explicit Engine(cvWindow* Window);
  // Deletes the actors, clients and temporary sounds still held, closes the
  // driver and destroys the engine.
  virtual ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Chooses and opens a driver device and mode. With "cvdriver2.ini" naming
  // a device ([Driver] Mode), the first device whose name contains it and
  // its first windowed mode of the size in "cvdriver.ini" ([Driver] Width,
  // Height; -1 when absent). Otherwise every (device, mode) pair whose names
  // contain Driver and Mode (null: any) is a candidate: one is taken as it
  // is, several are offered in the video-mode dialog.
  bool SetDriverMode(const char* Driver, const char* Mode);
  bool AddWorld(World* Scene);
  bool SetCamera(Camera* View);
  // Frame calls. Without a camera (or, for RenderWorld, a world) they fail
  // like a failing engine call.
  bool BeginFrame(bool ClearScreen);
  bool RenderWorld(float Time);
  bool EndFrame();
  // Runs every actor's, light's, the camera's and every area sound's current
  // action, drops finished temporary sounds and shows the message queue.
  bool ExecuteWorld(float Time);

  // Holds Player (not owned) and puts its engine actor into the current
  // world. Refused when 20 are held, when Player is held already, and when
  // it holds no usable actor (Actor::IsValid).
  bool AddActor(Actor* Player);
  // Takes Player out of the list and the world, deletes its actions and it.
  bool RemoveActor(Actor* Player);
  int FindActorWithPtr(Actor* Player);
  void SetPlayerActor(Actor* Player);

  // Hold (not owned) a light or an area sound that ExecuteWorld runs every
  // frame, or a temporary sound that it deletes once it has finished; false
  // for null or a full list.
  bool AddLight(Light* Lamp);
  bool AddAreaSound(AreaSound* Noise);
  bool AddTempSound(Sound* Noise);
  // Removes and deletes the temporary sound at Index.
  bool RemoveTempSound(int Index);

  // A new client appended to the list; null when 20 are held. Clients are
  // defined by the network module: without it there are none.
  Client* GetNewClient();
  int FindClientWithId(long Id);
  // Removes the client, its actor, and deletes it; false for an index not held.
  bool RemoveClient(int Index);

  void ToggleFrameRateCounter();
  // Queues a copy of Text (shown literally) at the bottom of the message
  // list; with 15 queued the oldest is dropped.
  void AddDisplayString(const char* Text);
  void ClearDisplayStrings();
  void SetTextEntryMode(bool Flag);
  bool IsTextEntryMode();

  // Public state, in the order the framework has always kept it.
  bool ActorExtents = false;       // actors take their box from the engine actor's extents
  cvVFile* WorkingDirectory = nullptr;
  cvEngine* EngineObject = nullptr;
  World* CurrentWorld = nullptr;
  Camera* CurrentCamera = nullptr;
  int32_t DisplayWidth = 0, DisplayHeight = 0;
  Actor* Actors[MaxActors] = {};
  int32_t NumActors = 0;
  cvWindow* Window = nullptr;
  SoundSystem* Sounds = nullptr;
  int32_t NumTempSounds = 0;
  int32_t NumAreaSounds = 0;
  AreaSound* AreaSounds[MaxAreaSounds] = {};
  Sound* TempSounds[MaxTempSounds] = {};
  Actor* PlayerActor = nullptr;
  bool DrawBoundingBoxes = false;
  bool FullScreen = false;
  bool TextEntryMode = false;
  int32_t NumLights = 0;
  Light* Lights[MaxLights] = {};
  void* Instance = nullptr;        // the program's module instance; kept for callers
  Client* Clients[MaxClients] = {};
  int32_t NumClients = 0;
  bool FrameRateCounter = false;
  std::array<std::string, MaxMessages> Messages;  // oldest first
  int32_t NumMessages = 0;

 protected:
  // Drops the oldest message about every five seconds and queues the rest
  // for display in this frame.
  void TextPump();

 private:
  // Frame-call failures shown and not yet cleared by a successful frame.
  enum : uint32_t { kBeginFrameFailed = 1, kRenderWorldFailed = 2, kEndFrameFailed = 4 };
  void FrameFailed(uint32_t Which, const char* Text);
  bool ChooseByFilter(const char* Driver, const char* Mode, cvDriver_Record** Device,
                      cvDriver_Mode** Chosen);
  void DropOldestMessage();

  cvWorld* engineWorld_ = nullptr;  // the current world's engine world (the engine holds a reference)
  uint32_t shownFrameErrors_ = 0;
  bool frameClean_ = false;         // no frame call failed since the last successful BeginFrame
  bool textIdle_ = true;
  uint32_t textStamp_ = 0;
};
