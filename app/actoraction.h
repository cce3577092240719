// The two view actions that move what the 3D view shows while the right
// mouse button is held: FlyAction on the camera (move, zoom and angle, and
// the mode keys M, Z, R and A) and ActorAction on the open actor (rotate).
// Both recentre the cursor on the view after each reading, so every frame's
// mouse speed is the motion since the frame before.
#pragma once

#include <cstdint>

#include "framework/cvframework.h"

// How a right-button drag moves the view; shared by the mode buttons and
// both actions for the whole run.
enum : int32_t {
  VIEWMODE_ROTATE = 1,  // the actor turns about its vertical axis
  VIEWMODE_MOVE = 2,    // the camera slides sideways and up or down
  VIEWMODE_ZOOM = 3,    // the camera moves forward or back
  VIEWMODE_ANGLE = 4,   // the camera turns
};
extern int32_t ViewMode;

// Registered on the camera as "fly". Always true, so the camera hands its
// committed transform to the engine camera every frame.
class FlyAction : public Action {
 public:
  ~FlyAction() override;
  bool Perform(ActionObject* Object, float Time) override;
};

// Registered on each opened actor as "actoract". Always false: the actor is
// posed at its committed transform whatever the result.
class ActorAction : public Action {
 public:
  ~ActorAction() override;
  bool Perform(ActionObject* Object, float Time) override;
};
