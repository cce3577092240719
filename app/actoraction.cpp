#include "actoraction.h"

int32_t ViewMode = VIEWMODE_ROTATE;

namespace {
constexpr int kRightButton = 1;
}

FlyAction::~FlyAction() = default;

bool FlyAction::Perform(ActionObject* Object, float) {
  Utility input(Object->LastEngine);
  // The first key down wins, in this order.
  if (input.IsKeyDown('M'))
    ViewMode = VIEWMODE_MOVE;
  else if (input.IsKeyDown('Z'))
    ViewMode = VIEWMODE_ZOOM;
  else if (input.IsKeyDown('R'))
    ViewMode = VIEWMODE_ROTATE;
  else if (input.IsKeyDown('A'))
    ViewMode = VIEWMODE_ANGLE;

  if (input.IsMouseDown(kRightButton) && ViewMode != VIEWMODE_ROTATE) {
    float dx = 0.0f, dy = 0.0f;
    input.GetMouseSpeed(&dx, &dy, true);
    switch (ViewMode) {
      case VIEWMODE_ZOOM:
        Object->MoveForward(dy * 10.0f);
        break;
      case VIEWMODE_MOVE:
        Object->MoveDown(dy * 10.0f);
        Object->MoveRight(dx * 10.0f);
        break;
      case VIEWMODE_ANGLE:
        Object->TurnRight(-dx);
        Object->ProposedPosition.RotateX(dy);
        break;
      default:
        break;
    }
  }
  Object->UseNewPosition();
  return true;
}

ActorAction::~ActorAction() = default;

bool ActorAction::Perform(ActionObject* Object, float) {
  Utility input(Object->LastEngine);
  if (ViewMode == VIEWMODE_ROTATE && input.IsMouseDown(kRightButton)) {
    float dx = 0.0f, dy = 0.0f;
    input.GetMouseSpeed(&dx, &dy, true);
    Object->TurnLeft(dx);
  }
  Object->UseNewPosition();
  return false;
}
