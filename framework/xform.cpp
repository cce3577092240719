// XForm3d: rotation from accumulated angles, moves along the own axes, and
// the Gtest exchange of movement axes.
#include "framework/scene.h"

XForm3d::XForm3d() { cvXForm3d_SetIdentity(&XForm); }

XForm3d::~XForm3d() = default;

void XForm3d::Translate(float x, float y, float z) { cvXForm3d_Translate(&XForm, x, y, z); }

// The rotation is always made afresh from the three angles, so that turns
// about different axes do not pile up rounding errors.
void XForm3d::Rebuild() {
  const cvVec3d position = XForm.T;
  cvXForm3d_SetIdentity(&XForm);
  cvXForm3d_RotateX(&XForm, AngleX);
  cvXForm3d_RotateY(&XForm, AngleY);
  cvXForm3d_RotateZ(&XForm, AngleZ);
  XForm.T = position;
}

void XForm3d::RotateX(float a) {
  AngleX += Gtest ? -a : a;
  Rebuild();
}

void XForm3d::RotateY(float a) {
  AngleY += a;
  Rebuild();
}

void XForm3d::RotateZ(float a) {
  AngleZ += a;
  Rebuild();
}

void XForm3d::MoveForward(float Distance) {
  Gtest ? InternalMoveDown(Distance) : InternalMoveForward(Distance);
}
void XForm3d::MoveBackward(float Distance) {
  Gtest ? InternalMoveUp(Distance) : InternalMoveBackward(Distance);
}
void XForm3d::MoveLeft(float Distance) {
  Gtest ? InternalMoveRight(Distance) : InternalMoveLeft(Distance);
}
void XForm3d::MoveRight(float Distance) {
  Gtest ? InternalMoveLeft(Distance) : InternalMoveRight(Distance);
}
void XForm3d::MoveUp(float Distance) {
  Gtest ? InternalMoveBackward(Distance) : InternalMoveUp(Distance);
}
void XForm3d::MoveDown(float Distance) {
  Gtest ? InternalMoveForward(Distance) : InternalMoveDown(Distance);
}

bool XForm3d::SetGtest(bool Flag) {
  Gtest = Flag;
  return true;
}

void XForm3d::InternalMoveForward(float Distance) {
  cvVec3d in;
  cvXForm3d_GetIn(&XForm, &in);
  cvVec3d_AddScaled(&XForm.T, Distance, &in, &XForm.T);
}
void XForm3d::InternalMoveBackward(float Distance) { InternalMoveForward(-Distance); }

void XForm3d::InternalMoveLeft(float Distance) {
  cvVec3d left;
  cvXForm3d_GetLeft(&XForm, &left);
  cvVec3d_AddScaled(&XForm.T, Distance, &left, &XForm.T);
}
void XForm3d::InternalMoveRight(float Distance) { InternalMoveLeft(-Distance); }

void XForm3d::InternalMoveUp(float Distance) {
  cvVec3d up;
  cvXForm3d_GetUp(&XForm, &up);
  cvVec3d_AddScaled(&XForm.T, Distance, &up, &XForm.T);
}
void XForm3d::InternalMoveDown(float Distance) { InternalMoveUp(-Distance); }

WorldObject::~WorldObject() = default;

void WorldObject::SetXForm(XForm3d* Form) {
  if (!Form) return;
  Position.Gtest = Form->Gtest;
  Position.AngleX = Form->AngleX;
  Position.AngleY = Form->AngleY;
  Position.AngleZ = Form->AngleZ;
  Position.XForm = Form->XForm;
}
