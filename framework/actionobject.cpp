// ActionObject: the three positions, the registry of named actions, the
// moves of the proposed position, and bounding-box drawing; Action's
// gravity step; Collision's tests of a proposed move.
#include <cstring>

#include "framework/engine.h"
#include "framework/scene.h"

// --- ActionObject -----------------------------------------------------------

ActionObject::ActionObject() = default;

ActionObject::~ActionObject() = default;

int32_t ActionObject::FindAction(const char* Name) {
  if (!Name) return -1;
  for (int32_t i = 0; i < NumActions; ++i)
    if (Actions[i].Name == Name) return i;
  return -1;
}

bool ActionObject::RegisterAction(const char* Name, Action* Behaviour) {
  if (!Name || NumActions >= MaxActions || FindAction(Name) >= 0) return false;
  Actions[NumActions].Name = Name;
  Actions[NumActions].Behaviour = Behaviour;
  ++NumActions;
  return true;
}

bool ActionObject::DeleteAction(const char* Name) {
  const int32_t i = FindAction(Name);
  if (i < 0) return false;
  const int32_t last = NumActions - 1;
  if (CurrentAction == i)
    CurrentAction = -1;
  else if (CurrentAction == last)
    CurrentAction = i;
  Actions[i] = std::move(Actions[last]);
  Actions[last] = ActionEntry{};
  --NumActions;
  return true;
}

bool ActionObject::UseAction(const char* Name) {
  const int32_t i = FindAction(Name);
  if (i < 0) return false;
  CurrentAction = i;
  return true;
}

bool ActionObject::UnRegisterAllActions() {
  for (int32_t i = 0; i < NumActions; ++i) {
    delete Actions[i].Behaviour;
    Actions[i] = ActionEntry{};
  }
  NumActions = 0;
  CurrentAction = -1;
  return true;
}

bool ActionObject::PerformAction(float Time) {
  if (CurrentAction < 0 || CurrentAction >= NumActions || !Actions[CurrentAction].Behaviour)
    return false;
  return Actions[CurrentAction].Behaviour->Perform(this, Time);
}

void ActionObject::MoveForward(float Distance) { ProposedPosition.MoveForward(Distance); }
void ActionObject::MoveBackward(float Distance) { ProposedPosition.MoveBackward(Distance); }
void ActionObject::MoveLeft(float Distance) { ProposedPosition.MoveLeft(Distance); }
void ActionObject::MoveRight(float Distance) { ProposedPosition.MoveRight(Distance); }
void ActionObject::MoveUp(float Distance) { ProposedPosition.MoveUp(Distance); }
void ActionObject::MoveDown(float Distance) { ProposedPosition.MoveDown(Distance); }
void ActionObject::TurnLeft(float Angle) { ProposedPosition.RotateY(-Angle); }
void ActionObject::TurnRight(float Angle) { ProposedPosition.RotateY(Angle); }

void ActionObject::UseNewPosition() {
  PreviousPosition = Position;
  Position = ProposedPosition;
}

void ActionObject::ResetPosition() { ProposedPosition = Position; }

void ActionObject::SetPosition(XForm3d Form) {
  Position = Form;
  ProposedPosition = Form;
  PreviousPosition = Form;
}

bool ActionObject::SetGtestObject(bool Flag) {
  GtestObject = Flag;
  PreviousPosition.SetGtest(Flag);
  Position.SetGtest(Flag);
  if (Flag) {
    // Stand the object up: a quarter turn about X (counted backwards, as
    // Gtest is now on) and a half turn about Y.
    Position.RotateX(1.5707964f);
    Position.RotateY(3.14159f);
    ResetPosition();
  }
  return true;
}

void ActionObject::SetBoundingBox(float MinX_, float MinY_, float MinZ_, float MaxX_, float MaxY_,
                                  float MaxZ_) {
  MinX = MinX_, MinY = MinY_, MinZ = MinZ_;
  MaxX = MaxX_, MaxY = MaxY_, MaxZ = MaxZ_;
}

// The proposed position is put on the plane that was hit: its distance from
// the plane along the normal is taken away, so the object slides along the
// surface instead of entering it.
void ActionObject::Slide(Collision* Hit) {
  if (!Hit) return;
  const cvVec3d& n = Hit->Result.PlaneNormal;
  cvVec3d& p = ProposedPosition.XForm.T;
  const float d = cvVec3d_DotProduct(&p, &n) - Hit->Result.PlaneDist;
  cvVec3d_AddScaled(&p, -d, &n, &p);
}

void ActionObject::SetMovementRate(float Rate) { MovementRate = Rate; }

float ActionObject::GetMovementRate() { return MovementRate; }

bool ActionObject::DrawBoundBox() { return DrawBox(MinX, MinY, MinZ, MaxX, MaxY, MaxZ); }

bool ActionObject::DrawBox(float x0, float y0, float z0, float x1, float y1, float z1) {
  // Corner i has +X when bit 0 is set, +Y with bit 1, +Z with bit 2.
  static constexpr int kFaces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                       {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
  const cvVec3d& p = Position.XForm.T;
  cvVec3d corners[8];
  for (int i = 0; i < 8; ++i) {
    corners[i].X = p.X + x0 + ((i & 1) ? x1 - x0 : 0.0f);
    corners[i].Y = p.Y + y0 + ((i & 2) ? y1 - y0 : 0.0f);
    corners[i].Z = p.Z + z0 + ((i & 4) ? z1 - z0 : 0.0f);
  }
  bool ok = true;
  for (const auto& face : kFaces) {
    cvVec3d* quad[4] = {&corners[face[0]], &corners[face[1]], &corners[face[2]], &corners[face[3]]};
    ok = DrawFace(LastEngine, quad) && ok;
  }
  return ok;
}

bool ActionObject::DrawFace(Engine* Owner, cvVec3d** Corners) {
  if (!Owner || !Owner->CurrentWorld || !Owner->CurrentWorld->EngineWorld || !Corners) return false;
  cvWorld_PolyVertex v[4];
  for (int i = 0; i < 4; ++i) {
    if (!Corners[i]) return false;
    v[i] = {Corners[i]->X, Corners[i]->Y, Corners[i]->Z, 0.0f, 0.0f, 40.0f, 40.0f,
            80.0f + 20.0f * static_cast<float>(i), 128.0f};
  }
  return cvWorld_AddPolyOnce(Owner->CurrentWorld->EngineWorld, v, 4, nullptr, CV_WORLD_POLY_GOURAUD,
                             CV_WORLD_POLYFLAG_BLEND, 1.0f) != 0;
}

// --- Action -----------------------------------------------------------------

Action::~Action() = default;

bool Action::ApplyGravity(ActionObject* Object) {
  if (!Object) return true;
  const XForm3d saved = Object->ProposedPosition;
  if (Object->Falling) Object->FallSpeed *= 1.5f;
  Object->ProposedPosition.MoveDown(Object->FallSpeed);
  Collision test;
  if (test.Test(Object, false)) {
    Object->ProposedPosition = saved;
    Object->Falling = false;
    Object->FallSpeed = 10.0f;
  } else {
    Object->Falling = true;
  }
  return true;
}

// --- Collision --------------------------------------------------------------

Collision::Collision() = default;

Collision::~Collision() = default;

namespace {
cvWorld* worldOf(ActionObject* Object) {
  if (!Object || !Object->LastEngine || !Object->LastEngine->CurrentWorld) return nullptr;
  return Object->LastEngine->CurrentWorld->EngineWorld;
}
}  // namespace

bool Collision::Test(ActionObject* Target, bool WithActors) {
  Object = Target;
  TestWorld = worldOf(Target);
  Committed = Target ? &Target->Position : nullptr;
  Proposed = Target ? &Target->ProposedPosition : nullptr;
  return ExtBoxTest(WithActors);
}

bool Collision::ExtBoxTest(bool WithActors) {
  if (!TestWorld || !Object || !Committed || !Proposed) return false;
  ActorMask = WithActors ? -1 : 0;
  const cvVec3d mins = {Object->MinX, Object->MinY, Object->MinZ};
  const cvVec3d maxs = {Object->MaxX, Object->MaxY, Object->MaxZ};
  return cvWorld_Collision(TestWorld, &mins, &maxs, &Committed->XForm.T, &Proposed->XForm.T,
                           ContentsMask, CollisionFlags, static_cast<uint32_t>(ActorMask), nullptr,
                           nullptr, &Result) != 0;
}

bool Collision::RayTest(ActionObject* Target, cvVec3d Front, cvVec3d Back, bool WithActors) {
  Object = Target;
  TestWorld = worldOf(Target);
  if (!TestWorld) return false;
  ActorMask = WithActors ? -1 : 0;
  return cvWorld_Collision(TestWorld, nullptr, nullptr, &Front, &Back, ContentsMask, CollisionFlags,
                           static_cast<uint32_t>(ActorMask), nullptr, nullptr, &Result) != 0;
}
