// The Engine on a headless window with the software driver: driver and mode
// choice from the configuration files and the video-mode dialog, the frame
// cycle drawing the sample actor, the lists, and the message queue.
#include <algorithm>
#include <memory>
#include <string>

#include "frametest.h"
#include "platform/clock.h"

namespace {

using fwtest::FrameworkTest;
using fwtest::SampleActorPath;

constexpr int32_t kW = 160, kH = 120;

// The drawn part of a frame: pixels that differ from the top-left corner.
struct Silhouette {
  int Count = 0;
  int MinX = kW, MaxX = -1, MinY = kH, MaxY = -1;
  double CenterX = 0, CenterY = 0;
};

Silhouette Measure(const cvplatform::HeadlessWindow& W) {
  Silhouette S;
  const auto& F = W.Frame();
  if (F.empty()) return S;
  for (int y = 0; y < W.FrameHeight(); ++y)
    for (int x = 0; x < W.FrameWidth(); ++x)
      if (F[static_cast<size_t>(y) * W.FrameWidth() + x] != F[0]) {
        ++S.Count;
        S.MinX = std::min(S.MinX, x), S.MaxX = std::max(S.MaxX, x);
        S.MinY = std::min(S.MinY, y), S.MaxY = std::max(S.MaxY, y);
        S.CenterX += x, S.CenterY += y;
      }
  if (S.Count) S.CenterX /= S.Count, S.CenterY /= S.Count;
  return S;
}

// Moves the camera by a fixed step each frame and commits, as the program's
// fly action does.
struct StepAction : Action {
  void (ActionObject::*Move)(float);
  float Distance;
  StepAction(void (ActionObject::*M)(float), float D) : Move(M), Distance(D) {}
  bool Perform(ActionObject* Object, float) override {
    (Object->*Move)(Distance);
    Object->UseNewPosition();
    return true;
  }
};

// An Engine opened in windowed mode with an empty world and the view camera.
class EngineTest : public FrameworkTest {
 protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    E = std::make_unique<Engine>(Window.Record());
    ASSERT_NE(E->EngineObject, nullptr);
  }
  void TearDown() override {
    E.reset();  // deletes the actors it holds
    Cam.reset();
    Scene.reset();
    FrameworkTest::TearDown();
  }
  void OpenScene() {
    ASSERT_TRUE(E->SetDriverMode(nullptr, "Window"));
    Scene = std::make_unique<World>(nullptr);
    ASSERT_TRUE(E->AddWorld(Scene.get()));
    Cam = std::make_unique<Camera>(0, kW, 0, kH, 2.0f);
    ASSERT_TRUE(E->SetCamera(Cam.get()));
  }
  Actor* NewSample() {
    VFile File(E.get(), SampleActorPath().c_str(), false);
    return new Actor(&File);
  }
  // Adds the sample actor and puts the camera in front of it, as the
  // program does when it opens an actor.
  Actor* OpenSample() {
    Actor* A = NewSample();
    if (!E->AddActor(A)) return delete A, nullptr;
    A->SetLightingOptions(128, 128, 128);
    XForm3d View = A->Position;
    View.MoveBackward(80);
    View.MoveUp(50);
    Cam->ProposedPosition = View;
    A->ProposedPosition.RotateY(3.14f);
    Cam->UseNewPosition();
    Cam->UsePosition();
    A->UseNewPosition();
    return A;
  }
  bool Frame() {
    E->ExecuteWorld(0.0f);
    return E->BeginFrame(true) && E->RenderWorld(0.1f) && E->EndFrame();
  }

  cvplatform::HeadlessWindow Window{kW, kH};
  std::unique_ptr<Engine> E;
  std::unique_ptr<World> Scene;
  std::unique_ptr<Camera> Cam;
};

TEST_F(EngineTest, SampleActorIsDrawnAndFollowsTheCameraAndGtest) {
  OpenScene();
  ASSERT_NE(OpenSample(), nullptr);
  EXPECT_FALSE(E->FullScreen);
  EXPECT_EQ(E->DisplayWidth, kW);
  ASSERT_TRUE(Frame());
  const Silhouette Front = Measure(Window);
  // A standing figure in the middle of the view, taller than wide.
  EXPECT_GT(Front.Count, kW * kH / 20);
  EXPECT_NEAR(Front.CenterX, kW / 2.0, kW * 0.1);
  EXPECT_GT(Front.MaxY - Front.MinY, Front.MaxX - Front.MinX);

  // The camera's action moves it right by 10 each frame: the figure moves left.
  ASSERT_TRUE(Cam->RegisterAction("fly", new StepAction(&ActionObject::MoveRight, 10)));
  ASSERT_TRUE(Cam->UseAction("fly"));
  ASSERT_TRUE(Frame());
  const Silhouette Right = Measure(Window);
  EXPECT_LT(Right.CenterX, Front.CenterX - 5);
  EXPECT_NEAR(Right.CenterY, Front.CenterY, 3);
  // Forward brings it closer: larger.
  Cam->UnRegisterAllActions();
  ASSERT_TRUE(Cam->RegisterAction("fly", new StepAction(&ActionObject::MoveForward, 30)));
  ASSERT_TRUE(Cam->UseAction("fly"));
  ASSERT_TRUE(Frame());
  EXPECT_GT(Measure(Window).Count, Right.Count * 3 / 2);
  Cam->UnRegisterAllActions();

  // Laid on its back, seen from the same camera: far shorter on screen.
  Cam->SetPosition(&Cam->PreviousPosition);
  Actor* A = E->Actors[0];
  A->SetGtestObject(true);
  ASSERT_TRUE(Frame());
  const Silhouette Lying = Measure(Window);
  EXPECT_GT(Lying.Count, 0);
  EXPECT_LT(Lying.MaxY - Lying.MinY, (Front.MaxY - Front.MinY) * 2 / 3);
  EXPECT_TRUE(Dialogs.Log.empty());
}

TEST_F(EngineTest, BoundingBoxesMotionsAndRemoval) {
  OpenScene();
  Actor* A = OpenSample();
  ASSERT_NE(A, nullptr);
  ASSERT_EQ(cvWorld_GetActorCount(Scene->EngineWorld), 1);
  E->DrawBoundingBoxes = true;
  E->ExecuteWorld(0);
  EXPECT_EQ(cvWorld_GetUserPolyCount(Scene->EngineWorld), 6);
  A->NoBoundingBox = 1;
  ASSERT_TRUE(E->BeginFrame(true) && E->RenderWorld(0.1f) && E->EndFrame());
  E->ExecuteWorld(0);
  EXPECT_EQ(cvWorld_GetUserPolyCount(Scene->EngineWorld), 0);

  // Motions: time in milliseconds, wrapping to the motion's start.
  EXPECT_FALSE(A->UseMotion("nonexistent"));
  ASSERT_TRUE(A->UseMotion("walk"));
  cvMotion* Walk = A->Motion;
  EXPECT_FALSE(A->UseMotion("Walk"));
  EXPECT_EQ(A->Motion, Walk);
  A->PerformMotion(250);
  EXPECT_FLOAT_EQ(A->MotionTime, 0.25f);
  A->MotionTime = A->MotionEndTime;
  A->PerformMotion(1);
  EXPECT_FLOAT_EQ(A->MotionTime, A->MotionStartTime);

  // With the actor extents flag the instance's box follows the posed body.
  E->ActorExtents = true;
  E->ExecuteWorld(0);
  cvExtBox Box;
  ASSERT_TRUE(cvActor_GetExtBox(A->EngineActor, &Box));
  EXPECT_GT(Box.Max.Y - Box.Min.Y, 50.0f);

  // Removal deletes the actor's actions and takes it out of the world.
  ASSERT_TRUE(A->RegisterAction("act", new StepAction(&ActionObject::MoveUp, 0)));
  EXPECT_TRUE(E->RemoveActor(A));
  EXPECT_EQ(E->NumActors, 0);
  EXPECT_EQ(cvWorld_GetActorCount(Scene->EngineWorld), 0);
  EXPECT_FALSE(E->RemoveActor(A));
}

TEST_F(EngineTest, ActorListLimitsOrderAndRefusals) {
  OpenScene();
  // A file that is no actor gives an empty wrapper that the Engine refuses.
  WriteText("junk.act", "not an actor at all");
  VFile Junk(E.get(), "junk.act");
  ASSERT_NE(Junk.File, nullptr);  // relative to the Engine's working directory
  Actor Empty(&Junk);
  EXPECT_FALSE(Empty.IsValid());
  EXPECT_FALSE(E->AddActor(&Empty));
  EXPECT_FALSE(E->AddActor(nullptr));
  VFile Missing(E.get(), (Directory() + "/missing.act").c_str(), false);
  EXPECT_EQ(Missing.File, nullptr);

  Actor* Held[20];
  for (Actor*& A : Held) {
    A = NewSample();
    ASSERT_TRUE(E->AddActor(A));
  }
  EXPECT_FALSE(E->AddActor(Held[3]));  // already held
  std::unique_ptr<Actor> TooMany(NewSample());
  EXPECT_FALSE(E->AddActor(TooMany.get()));
  EXPECT_EQ(cvWorld_GetActorCount(Scene->EngineWorld), 20);
  EXPECT_EQ(E->FindActorWithPtr(TooMany.get()), -1);
  EXPECT_EQ(E->FindActorWithPtr(Held[19]), 19);
  // Removing the first moves the last into its place.
  ASSERT_TRUE(E->RemoveActor(Held[0]));
  EXPECT_EQ(E->Actors[0], Held[19]);
  EXPECT_EQ(E->NumActors, 19);

  EXPECT_EQ(E->FindClientWithId(12345), -1);
  EXPECT_FALSE(E->RemoveClient(-1));
  EXPECT_TRUE(Dialogs.Log.empty());
}

TEST_F(EngineTest, FrameCallsFailWithOneMessageUntilAFrameSucceeds) {
  // No driver yet, no camera, no world.
  for (int i = 0; i < 5; ++i) {
    EXPECT_FALSE(E->BeginFrame(true));
    EXPECT_FALSE(E->RenderWorld(0.1f));
    EXPECT_FALSE(E->EndFrame());
  }
  EXPECT_EQ(Dialogs.Messages(),
            (std::vector<std::string>{"BeginFrame failed", "RenderWorld failed", "Endframe failed"}));
  for (const auto& S : Dialogs.Log) EXPECT_EQ(S.Caption, "Error");

  OpenScene();
  Dialogs.Log.clear();
  ASSERT_TRUE(Frame());
  EXPECT_TRUE(Dialogs.Log.empty());
  // After a good frame the next failure is shown again, once.
  E->SetCamera(nullptr);
  for (int i = 0; i < 3; ++i) E->BeginFrame(true);
  EXPECT_EQ(Dialogs.Messages(), std::vector<std::string>{"BeginFrame failed"});
}

TEST_F(EngineTest, DriverChoiceFromFiltersAndTheDialog) {
  // Exactly one windowed mode: taken without a dialog.
  ASSERT_TRUE(E->SetDriverMode(nullptr, "Window"));
  EXPECT_TRUE(Dialogs.Log.empty());
  EXPECT_STREQ(E->EngineObject->CurrentMode->Name, "Window");
  // Nothing matches: false and nothing shown.
  EXPECT_FALSE(E->SetDriverMode("Glide", nullptr));
  EXPECT_FALSE(E->SetDriverMode(nullptr, "NoSuchMode"));
  EXPECT_TRUE(Dialogs.Log.empty());

  // Every mode: the dialog lists them newest first; Cancel chooses nothing.
  EXPECT_FALSE(E->SetDriverMode("Software", nullptr));
  ASSERT_EQ(Dialogs.VideoModeLists.size(), 1u);
  const std::vector<std::string> Entries = Dialogs.VideoModeLists[0];
  ASSERT_GE(Entries.size(), 3u);
  EXPECT_EQ(Entries.back(), "Software rasterizer Window");
  EXPECT_EQ(Entries[Entries.size() - 2], "Software rasterizer 320x240");
  EXPECT_EQ(Dialogs.Log[0].Caption, "Corvina3D");

  // The answer is used: the second-newest entry, a fixed-size mode.
  Dialogs.VideoModes = {static_cast<int>(Entries.size()) - 2};
  ASSERT_TRUE(E->SetDriverMode(nullptr, nullptr));
  EXPECT_STREQ(E->EngineObject->CurrentMode->Name, "320x240");
  EXPECT_TRUE(E->FullScreen);
  EXPECT_EQ(E->DisplayHeight, 240);
  // An answer outside the list counts as Cancel.
  Dialogs.VideoModes = {99};
  EXPECT_FALSE(E->SetDriverMode(nullptr, nullptr));
}

TEST_F(EngineTest, DriverChoiceFromTheConfigurationFiles) {
  struct Case {
    std::string Driver2, Driver;  // file texts; empty: no file
    const char* Message;          // null: the windowed mode opens
  } cases[] = {
      {"[Driver]\nMode=Software\n", "", nullptr},                 // size -1 x -1: the windowed mode
      {"[DRIVER]\nmode=rasterizer\n", "[driver]\nWidth=-1\n", nullptr},
      {"[Driver]\nMode=Software\n", "[Driver]\nWidth=640\nHeight=480\n", "No Mode"},
      {"[Driver]\nMode=Glide\n", "", "No Driver"},
      {"[Driver]\nMode=Software rasterizer and a name far too long to be kept\n", "", "No Driver"},
      {"[Driver]\nMode=None\n", "", nullptr},                     // the filter path
      {std::string("\x7F" "ELF\x02\x01\0\0garbage", 15), "", nullptr},  // binary: defaults
      {"[Driver]\nMode=Software\n", "[Driver]\nWidth=\x01\x02\n", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Driver2 + " | " + c.Driver);
    unlink("cvdriver2.ini");
    unlink("cvdriver.ini");
    if (!c.Driver2.empty()) WriteText("cvdriver2.ini", c.Driver2);
    if (!c.Driver.empty()) WriteText("cvdriver.ini", c.Driver);
    Dialogs.Log.clear();
    const bool opened = E->SetDriverMode(nullptr, "Window");
    EXPECT_EQ(opened, c.Message == nullptr);
    if (c.Message)
      EXPECT_EQ(Dialogs.Messages(), std::vector<std::string>{c.Message});
    else
      EXPECT_TRUE(Dialogs.Log.empty());
    if (opened) {
      EXPECT_STREQ(E->EngineObject->CurrentMode->Name, "Window");
    }
  }
  // The configured path ignores the filter arguments.
  WriteText("cvdriver2.ini", "[Driver]\nMode=Software\n");
  unlink("cvdriver.ini");
  EXPECT_TRUE(E->SetDriverMode("Glide", "1024"));
  EXPECT_STREQ(E->EngineObject->CurrentMode->Name, "Window");
  // A second engine cannot open the device the first holds.
  cvplatform::HeadlessWindow W2(64, 48);
  Engine Second(W2.Record());
  Dialogs.Log.clear();
  EXPECT_FALSE(Second.SetDriverMode(nullptr, "Window"));
  EXPECT_EQ(Dialogs.Messages(), std::vector<std::string>{"Set Driver/Mode failed"});
}

TEST_F(EngineTest, WithoutAnEngineObjectEveryCallFailsWithItsMessage) {
  std::unique_ptr<Engine> Broken;
  {
    cvtest::FailNthAllocation Fail(1);
    Broken = std::make_unique<Engine>(Window.Record());
  }
  ASSERT_EQ(Broken->EngineObject, nullptr);
  WriteText("cvdriver2.ini", "[Driver]\nMode=Software\n");
  EXPECT_FALSE(Broken->SetDriverMode(nullptr, "Window"));
  World W(nullptr);
  EXPECT_FALSE(Broken->AddWorld(&W));
  EXPECT_EQ(Dialogs.Messages(), (std::vector<std::string>{"No Engine", "No DrvSys", "AddWorld failed"}));
  EXPECT_TRUE(Broken->ExecuteWorld(0));
}

uint32_t g_now = 0;
uint32_t FakeTicks() { return g_now; }

TEST_F(EngineTest, MessagesQueueShowLiterallyAndLeaveEveryFiveSeconds) {
  cvplatform::SetTickSource(&FakeTicks);
  g_now = 100000;
  for (int i = 0; i < 16; ++i) E->AddDisplayString(("message " + std::to_string(i)).c_str());
  EXPECT_EQ(E->NumMessages, 15);
  EXPECT_EQ(E->Messages[0], "message 1");  // the 16th pushed out the oldest
  E->ClearDisplayStrings();

  E->AddDisplayString("100%d done");
  E->AddDisplayString(std::string(200, 'x').c_str());
  E->ExecuteWorld(0);
  ASSERT_EQ(E->EngineObject->NumStrings, 2);
  EXPECT_STREQ(E->EngineObject->Strings[0].Text, "100%d done");
  EXPECT_EQ(E->EngineObject->Strings[1].Y, 14);
  EXPECT_EQ(std::string(E->EngineObject->Strings[1].Text), std::string(79, 'x'));

  // The pump's times relative to the first one (at 100000).
  const struct {
    uint32_t At;
    int Left;
  } steps[] = {{1000, 2}, {1001, 2}, {4999, 2}, {5000, 1},    // five seconds: the first goes
               {9999, 1}, {11000, 1}, {14999, 1}, {15500, 0}};  // 10000..11000 missed: waits
  for (const auto& s : steps) {
    g_now = 100000 + s.At;
    E->EngineObject->NumStrings = 0;
    E->ExecuteWorld(0);
    EXPECT_EQ(E->NumMessages, s.Left) << "at " << s.At;
    EXPECT_EQ(E->EngineObject->NumStrings, s.Left) << "at " << s.At;
  }
  cvplatform::SetTickSource(nullptr);
}

TEST_F(EngineTest, GravityFallsFasterInAnEmptyWorld) {
  OpenScene();
  struct Fall : Action {
    bool Perform(ActionObject* O, float) override { return ApplyGravity(O); }
  };
  ActionObject Falling;
  Falling.LastEngine = E.get();
  Fall().Perform(&Falling, 0);
  EXPECT_TRUE(Falling.Falling);
  Fall().Perform(&Falling, 0);
  EXPECT_FLOAT_EQ(Falling.ProposedPosition.XForm.T.Y, -25.0f);  // 10, then 15
}

}  // namespace
