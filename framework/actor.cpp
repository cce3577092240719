// Actor: the definition and instance of one character, its motion and its
// per-frame step.
#include "framework/actor.h"

#include "framework/engine.h"

Actor::Actor(VFile* File) {
  if (!File || !File->File) return;
  Definition = cvActorDef_CreateFromFile(File->File);
  if (Definition) EngineActor = cvActor_Create(Definition);
}

Actor::Actor(cvActorDef* Def) : Definition(Def) {
  if (Definition) EngineActor = cvActor_Create(Definition);
}

Actor::~Actor() {
  if (EngineActor) {
    cvActor_ClearPose(EngineActor, &Position.XForm);
    cvActor_Destroy(&EngineActor);
  }
  // The definition read here was held by this object alone (the instance
  // and any world hold their own references).
  if (Definition) cvActorDef_Destroy(&Definition);
}

bool Actor::IsValid() const {
  return Definition && EngineActor && cvActorDef_IsValid(Definition) && cvActor_IsValid(EngineActor);
}

bool Actor::SetScale(float x, float y, float z) {
  if (EngineActor) cvActor_SetScale(EngineActor, x, y, z);
  return true;
}

bool Actor::UseMotion(const char* Name) {
  if (!Definition || !Name) return false;
  cvMotion* found = cvActorDef_GetMotionByName(Definition, Name);
  if (!found) return false;
  float start = 0.0f, end = 0.0f;
  cvMotion_GetTimeExtents(found, &start, &end);
  Motion = found;
  MotionStartTime = start;
  MotionEndTime = end;
  MotionTime = 0.0f;
  return true;
}

bool Actor::PerformMotion(float Time) {
  // Frame time is in milliseconds, motion time in seconds.
  MotionTime += Time * 0.001f;
  if (MotionTime > MotionEndTime) MotionTime = MotionStartTime;
  if (EngineActor && Motion) cvActor_SetPose(EngineActor, Motion, MotionTime, &Position.XForm);
  return true;
}

bool Actor::PerformAction(Engine* Owner, float Time) {
  cvExtBox box = {{MinX, MinY, MinZ}, {MaxX, MaxY, MaxZ}};
  if (Owner && Owner->ActorExtents && EngineActor && cvActor_GetDynamicExtBox(EngineActor, &box)) {
    const cvVec3d& p = Position.XForm.T;
    cvExtBox_Translate(&box, -p.X, -p.Y, -p.Z);
    cvActor_SetExtBox(EngineActor, &box, nullptr);
    cvActor_SetRenderHintExtBox(EngineActor, &box, nullptr);
  }
  LastEngine = Owner;
  PreviousPosition = Position;
  const bool acted = ActionObject::PerformAction(Time);
  if (acted) HasActed = 1;
  if (Motion)
    PerformMotion(Time);
  else if (EngineActor)
    cvActor_ClearPose(EngineActor, &Position.XForm);
  if (Owner && Owner->DrawBoundingBoxes && !NoBoundingBox) DrawBoundBox(box);
  return acted;
}

bool Actor::SetLightingOptions(float r, float g, float b) {
  if (!EngineActor) return true;
  cvVec3d direction = {-0.3f, 1.0f, 0.4f};
  cvVec3d_Normalize(&direction);
  cvActor_SetLightingOptions(EngineActor, 1, &direction, r, g, b, r, g, b, 0, 0, nullptr, 0);
  return true;
}

bool Actor::DrawBoundBox(cvExtBox Box) {
  return DrawBox(Box.Min.X, Box.Min.Y, Box.Min.Z, Box.Max.X, Box.Max.Y, Box.Max.Z);
}
