// Light: one dynamic light slot of a world, kept in step with the object's
// committed position and its colour, radius and shadow settings.
#include "framework/sound.h"

Light::Light(World* Scene_) : Scene(Scene_) {
  if (Scene && Scene->EngineWorld) Handle = cvWorld_AddLight(Scene->EngineWorld);
  Apply();
}

Light::~Light() {
  if (Handle) cvWorld_RemoveLight(Scene->EngineWorld, Handle);
}

bool Light::SetRadius(float Radius_) {
  Radius = Radius_;
  return Apply();
}

bool Light::SetColor(float R_, float G_, float B_, float A_) {
  R = R_, G = G_, B = B_, A = A_;
  return Apply();
}

bool Light::SetShadows(bool Flag) {
  CastShadows = Flag;
  return Apply();
}

bool Light::Apply() {
  // Without a slot there is nothing to update; the settings are still kept.
  if (!Handle) return true;
  const cvWorld_Rgba Colour = GetColor();
  cvWorld_SetLightAttributes(Scene->EngineWorld, Handle, &Position.XForm.T, &Colour, Radius, CastShadows);
  return true;
}

cvWorld_Rgba Light::GetColor() { return cvWorld_Rgba{R, G, B, A}; }

bool Light::PerformAction(Engine* Owner, float Time) {
  LastEngine = Owner;
  PreviousPosition = Position;
  return ActionObject::PerformAction(Time);
}
