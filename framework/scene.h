// Scene objects of the framework: the transform with movement helpers
// (XForm3d), movable objects with three positions and named actions
// (WorldObject, ActionObject, Action), the view camera, the world, files
// opened for the engine (VFile), keyboard and mouse polling (Utility) and
// collision tests of proposed moves (Collision).
//
// A movable object keeps its committed position (what is drawn), the
// previous one (before the last commit) and a proposed one that actions
// move; the owner commits the proposal with UseNewPosition or drops it with
// ResetPosition. The "Gtest" switch exchanges the movement axes for objects
// that lie on their back (forward becomes down, up becomes backward, left
// becomes right).
//
// Depends on the engine (math, camera, world, files) and the platform layer
// (message boxes, key state, the window's cursor).
#pragma once

#include <cstdint>
#include <string>

#include "engine/cvengine.h"

class Engine;
class ActionObject;

// A transform with accumulated rotation angles. Rotations rebuild the
// rotation from the three angles (T = Rz·Ry·Rx) and keep the position.
class XForm3d {
 public:
  XForm3d();
  virtual ~XForm3d();

  // Adds (x, y, z) to the position.
  void Translate(float x, float y, float z);
  // With Gtest on, RotateX turns the other way (the object lies on its back).
  void RotateX(float a);
  void RotateY(float a);
  void RotateZ(float a);
  // Moves along the transform's own axes; with Gtest on, forward/backward
  // move down/up, up/down move backward/forward and left/right swap.
  void MoveForward(float Distance);
  void MoveBackward(float Distance);
  void MoveLeft(float Distance);
  void MoveRight(float Distance);
  void MoveUp(float Distance);
  void MoveDown(float Distance);
  bool SetGtest(bool Flag);

  bool Gtest = false;
  float AngleX = 0.0f, AngleY = 0.0f, AngleZ = 0.0f;  // radians
  cvXForm3d XForm;

 private:
  void Rebuild();
  void InternalMoveForward(float Distance);
  void InternalMoveBackward(float Distance);
  void InternalMoveLeft(float Distance);
  void InternalMoveRight(float Distance);
  void InternalMoveUp(float Distance);
  void InternalMoveDown(float Distance);
};

class WorldObject {
 public:
  virtual ~WorldObject();
  // Copies Gtest, angles and transform into the committed position.
  void SetXForm(XForm3d* Form);

  XForm3d Position;  // the committed position
};

// A behaviour run on an ActionObject once per frame while it is the
// object's current action.
class Action {
 public:
  virtual ~Action();
  // Moves the object's proposed position (and usually commits it); the
  // result says whether the object acted.
  virtual bool Perform(ActionObject* Object, float Time) = 0;
  // Lets the object fall: moves its proposed position down by its fall speed
  // (growing by half each frame while it falls) unless that move hits
  // something in the world. Always true.
  bool ApplyGravity(ActionObject* Object);
};

class Collision;

class ActionObject : public WorldObject {
 public:
  static constexpr int32_t MaxActions = 50;

  ActionObject();
  ~ActionObject() override;

  // Registry of named actions. Names match exactly (case-sensitive) and are
  // copied. False when 50 are registered or Name is taken.
  bool RegisterAction(const char* Name, Action* Behaviour);
  // The last entry moves into the freed slot; the current action follows it.
  bool DeleteAction(const char* Name);
  bool UseAction(const char* Name);
  // Deletes every registered Action object and empties the registry.
  bool UnRegisterAllActions();
  // Runs the current action; false when there is none.
  bool PerformAction(float Time);

  // Moves and turns of the proposed position.
  void MoveForward(float Distance);
  void MoveBackward(float Distance);
  void MoveLeft(float Distance);
  void MoveRight(float Distance);
  void MoveUp(float Distance);
  void MoveDown(float Distance);
  void TurnLeft(float Angle);
  void TurnRight(float Angle);

  // previous <- committed, committed <- proposed.
  void UseNewPosition();
  // proposed <- committed.
  void ResetPosition();
  // committed, proposed and previous <- Form.
  void SetPosition(XForm3d Form);
  // Marks the object as lying on its back: the committed and previous
  // positions take the flag; turning it on also stands the committed
  // position up (a quarter turn about X, a half turn about Y) and proposes it.
  bool SetGtestObject(bool Flag);
  void SetBoundingBox(float MinX, float MinY, float MinZ, float MaxX, float MaxY, float MaxZ);
  // Places the proposed position on the plane the collision hit.
  void Slide(Collision* Hit);
  void SetMovementRate(float Rate);
  float GetMovementRate();
  // Draws the bounding box around the committed position for one frame in
  // the world of the Engine that last ran the object.
  bool DrawBoundBox();
  // Adds one translucent four-corner polygon to the Engine's world for one frame.
  bool DrawFace(Engine* Owner, cvVec3d** Corners);

  float MovementRate = 0.0f;  // stored for the actions; nothing here uses it
  int32_t HasActed = 0;
  float MinX = 0, MinY = 0, MinZ = 0, MaxX = 1, MaxY = 1, MaxZ = 1;
  float FallSpeed = 10.0f;
  bool Falling = false;
  bool GtestObject = false;
  int32_t NumActions = 0;
  int32_t CurrentAction = -1;
  Engine* LastEngine = nullptr;  // the Engine that last ran this object
  XForm3d PreviousPosition;
  XForm3d ProposedPosition;

  struct ActionEntry {
    std::string Name;
    Action* Behaviour = nullptr;
  };
  ActionEntry Actions[MaxActions];

 protected:
  // Index of the action registered as Name, or -1.
  int32_t FindAction(const char* Name);
  // Draws the box (relative to the committed position) as six faces.
  bool DrawBox(float MinX, float MinY, float MinZ, float MaxX, float MaxY, float MaxZ);
};

// The view camera: an ActionObject whose committed transform is handed to
// the engine camera, with a view rectangle that can shrink and grow in steps
// of a hundredth of its initial size.
class Camera : public ActionObject {
 public:
  // Shows "No Camera" when the engine camera cannot be made; the object then
  // stays without one.
  Camera(int Left, int Right, int Top, int Bottom, float FieldOfView);
  ~Camera() override;

  using ActionObject::SetPosition;
  using ActionObject::PerformAction;
  // Commits Form and hands it to the engine camera.
  void SetPosition(XForm3d* Form);
  void UsePosition();
  // Runs the current action for Owner; when it acted, the engine camera
  // takes the committed transform.
  bool PerformAction(Engine* Owner, float Time);
  // Shrinks the view rectangle by one step (never below 32 x 24 at its right
  // and bottom edges) / grows it back (never beyond its initial size).
  void DecreaseView();
  void IncreaseView();

  int32_t HeightStep = 0, WidthStep = 0;
  int32_t InitialLeft, InitialRight, InitialTop, InitialBottom;
  int32_t Left, Right, Top, Bottom;
  float FieldOfView;
  cvCamera* EngineCamera = nullptr;

 private:
  void ApplyView();
};

// A world: empty, or read from a level file.
class World {
 public:
  explicit World(class VFile* LevelFile);
  virtual ~World();

  cvWorld* EngineWorld = nullptr;
};

// A file opened for the engine, by a name relative to the Engine's working
// directory or by a full path. The wrapper closes what it opened.
class VFile {
 public:
  explicit VFile(Engine* Owner);
  VFile(Engine* Owner, const char* Name);
  VFile(Engine* Owner, const char* Name, bool Relative);
  virtual ~VFile();
  VFile(const VFile&) = delete;
  VFile& operator=(const VFile&) = delete;

  // Opens Name read-only; a file opened before is closed first.
  bool Open(const char* Name);

  bool Relative = true;
  cvVFile* File = nullptr;           // the open engine file, or null
  cvVFile* BaseDirectory = nullptr;  // the Engine's working directory
  std::string Name;                  // the name last opened
  uint32_t OpenFlags = CV_VFILE_OPEN_READONLY;

 private:
  void Close();
  cvVFile* directory_ = nullptr;  // the directory opened for a full path
};

// Keyboard and mouse polling through the platform's key state and the
// Engine's window.
class Utility {
 public:
  explicit Utility(Engine* Owner);
  virtual ~Utility();

  bool IsKeyDown(int VirtualKey);
  // Button 0 left, 1 right, 2 middle; other values are virtual-key codes.
  bool IsMouseDown(int Button);
  // The cursor's distance from the view centre, 1/350 per pixel, positive
  // left of and above the centre; Recenter puts the cursor back at the
  // centre on the axes asked for.
  void GetMouseSpeed(float* Dx, float* Dy, bool Recenter);
  // The lowest virtual-key code that is down, or -1.
  int GetFirstKeyPressed();

  Engine* Owner;
};

// A test of an object's proposed move against the world of its Engine.
class Collision {
 public:
  Collision();
  virtual ~Collision();

  // The object's bounding box moved from its committed to its proposed position.
  bool Test(ActionObject* Object, bool WithActors);
  bool ExtBoxTest(bool WithActors);
  // A ray from Front to Back in the world of the object's Engine.
  bool RayTest(ActionObject* Object, cvVec3d Front, cvVec3d Back, bool WithActors);

  int32_t ActorMask = 0;  // -1: actors can be hit
  XForm3d* Proposed = nullptr;
  XForm3d* Committed = nullptr;
  ActionObject* Object = nullptr;
  cvWorld* TestWorld = nullptr;
  uint32_t ContentsMask = 67;
  uint32_t CollisionFlags = 7;
  int32_t Reserved1 = 0, Reserved2 = 0;
  cvWorld_CollisionResult Result{};
};
