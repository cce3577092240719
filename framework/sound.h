// Lights and sounds of the framework. A Light is a movable dynamic light of
// a world; a Sound is a wave file loaded into the Engine's sound system that
// can be played, stopped and polled; an AreaSound is a Sound with a position
// that the Engine drives every frame. The Engine keeps lists of lights, area
// sounds and temporary sounds (the temporary ones it deletes once they have
// finished playing).
//
// A Light must be deleted before its World, a Sound before its Engine.
// Nothing here shows messages: failures go to the error log (42 for a world
// without a free light slot; the sound system's codes for sounds).
//
// Depends on the scene objects (ActionObject, World, VFile), the Engine and
// the sound system.
#pragma once

#include <cstdint>

#include "framework/scene.h"

class Engine;

class Light : public ActionObject {
 public:
  // Adds a dynamic light to Scene's world at the committed position, white,
  // radius 200, without shadows. When the world has no free slot the light
  // holds no handle and its calls change nothing.
  explicit Light(World* Scene);
  // Takes the light out of the world.
  ~Light() override;
  Light(const Light&) = delete;
  Light& operator=(const Light&) = delete;

  // Each stores its value and passes every attribute to the world again.
  bool SetRadius(float Radius);
  bool SetColor(float R, float G, float B, float A);
  bool SetShadows(bool Flag);
  // Passes the committed position and the attributes to the world: the way
  // to move the light after its position changed.
  bool Apply();
  cvWorld_Rgba GetColor();

  using ActionObject::PerformAction;
  // Remembers Owner, keeps the committed position as the previous one and
  // runs the current action. The world light moves only with Apply.
  bool PerformAction(Engine* Owner, float Time);

  World* Scene = nullptr;
  cvWorld_Light* Handle = nullptr;  // null when the world had no free slot
  bool CastShadows = false;
  float Radius = 200.0f;
  float R = 255.0f, G = 255.0f, B = 255.0f, A = 255.0f;
};

class Sound : public ActionObject {
 public:
  // Loads the wave file FileName, relative to the Engine's working directory.
  Sound(Engine* Owner, const char* FileName);
  // Loads the wave file from File's open engine file.
  Sound(Engine* Owner, VFile* File);
  // Frees the loaded sound (its channels stop).
  ~Sound() override;
  Sound(const Sound&) = delete;
  Sound& operator=(const Sound&) = delete;

  // Plays the sound from its start with Volume x the master volume, Pan,
  // Frequency and Loop; playing it again while it plays starts a second
  // channel. False when nothing plays: the file did not load or there is no
  // sound system.
  bool Play();
  // Stops the channel last played; false when never played.
  bool Stop();
  // Whether the channel last played is playing; false when never played.
  bool IsPlaying();

  bool Loop = false;
  uint32_t Definition = 0;   // 0 when loading failed
  uint32_t Channel = 0;      // 0 when never played
  float Frequency = 1.0f;    // a factor of the file's sample rate
  float Pan = 0.0f;          // -1 left .. +1 right
  float Volume = 1.0f;       // 0 silent .. 1 full
  Engine* Owner = nullptr;

 private:
  void Load(cvVFile* File);
};

class AreaSound : public Sound {
 public:
  AreaSound(Engine* Owner, VFile* File);
  ~AreaSound() override;

  using ActionObject::PerformAction;
  // Keeps the committed position as the previous one and runs the current action.
  bool PerformAction(Engine* Caller, float Time);
};
