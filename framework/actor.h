// The framework's animated character: an actor definition read from a file,
// one engine actor instance of it, moved through the ActionObject model and
// playing one named motion at a time. The Engine runs it every frame while
// it holds it.
#pragma once

#include <cstdint>

#include "framework/scene.h"

class Actor : public ActionObject {
 public:
  // Reads the actor definition from File and makes an instance of it. A file
  // without a usable definition leaves the actor empty (IsValid false); no
  // message is shown.
  explicit Actor(VFile* File);
  // Takes over Definition (made elsewhere, e.g. imported from a model file)
  // and makes an instance of it, as the file constructor does with the one it
  // reads. A null or unusable definition leaves the actor invalid.
  explicit Actor(cvActorDef* Definition);
  // Poses the instance at the committed transform and releases the instance
  // and the definition read by this object.
  ~Actor() override;
  Actor(const Actor&) = delete;
  Actor& operator=(const Actor&) = delete;

  // True when the file gave a definition and an instance of it.
  bool IsValid() const;
  bool SetScale(float x, float y, float z);
  // Makes the motion called Name current from its start; false (keeping the
  // current one) when the definition has no such motion.
  bool UseMotion(const char* Name);
  // Advances the motion by Time milliseconds, going back to the motion's
  // start after its end, and poses the instance at the committed transform.
  bool PerformMotion(float Time);
  using ActionObject::PerformAction;
  // One frame: the box, the current action, the motion or rest pose, and the
  // bounding box drawing when the Engine asks for it. The action's result.
  bool PerformAction(Engine* Owner, float Time);
  // A fill light from above-left-front and an ambient light, both of the
  // colour (r, g, b) on a 0..255 scale; the instance must be in a world.
  bool SetLightingOptions(float r, float g, float b);
  using ActionObject::DrawBoundBox;
  bool DrawBoundBox(cvExtBox Box);

  int32_t NoBoundingBox = 0;
  float MotionTime = 0.0f, MotionEndTime = 0.0f, MotionStartTime = 0.0f;  // seconds
  cvMotion* Motion = nullptr;        // owned by the definition
  cvActor* EngineActor = nullptr;
  cvActorDef* Definition = nullptr;
};
