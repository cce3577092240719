// The framework's lights and sounds on a real Engine: a lit sample actor drawn
// through the software driver on a headless window, sounds played on OpenAL's
// null device, the Engine's temporary sounds, and an Engine without a sound
// library.
#include <AL/al.h>

#include <chrono>
#include <memory>
#include <thread>

#include "frametest.h"
#include "wavebytes.h"

namespace {

constexpr int32_t kW = 160, kH = 120;

struct Colours {
  int Lit = 0;          // pixels brighter than 24 in some channel
  int OffChannel = 0;   // pixels with any light in a channel the light lacks
};

// Moves the object far away along +Z and commits the move.
struct MoveAway : Action {
  bool Perform(ActionObject* Object, float) override {
    Object->ProposedPosition.Translate(0, 0, 5000);
    Object->UseNewPosition();
    return true;
  }
};

class LightsAndSounds : public fwtest::FrameworkTest {
 protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    E = std::make_unique<Engine>(Window.Record());
    ASSERT_NE(E->EngineObject, nullptr);
  }
  void TearDown() override {
    E.reset();
    Scene.reset();
    Cam.reset();
    FrameworkTest::TearDown();
  }

  // The sample actor facing the camera, lit only by the world's dynamic lights.
  void OpenLitScene() {
    ASSERT_TRUE(E->SetDriverMode(nullptr, "Window"));
    Scene = std::make_unique<World>(nullptr);
    ASSERT_TRUE(E->AddWorld(Scene.get()));
    Cam = std::make_unique<Camera>(0, kW, 0, kH, 2.0f);
    ASSERT_TRUE(E->SetCamera(Cam.get()));
    VFile File(E.get(), fwtest::SampleActorPath().c_str(), false);
    auto* A = new Actor(&File);
    ASSERT_TRUE(E->AddActor(A));
    const cvVec3d Fill = {0, 1, 0};
    ASSERT_TRUE(cvActor_SetLightingOptions(A->EngineActor, 0, &Fill, 0, 0, 0, 0, 0, 0, 0, 3, nullptr, 0));
    XForm3d View = A->Position;
    View.MoveBackward(80);
    View.MoveUp(50);
    Cam->SetPosition(&View);
    A->ProposedPosition.RotateY(3.14f);
    A->UseNewPosition();
  }
  // Puts the light in front of the actor's chest, reaching well beyond it.
  void PlaceInFront(Light& Lamp) {
    XForm3d Front;
    Front.Translate(0, 60, 50);
    Lamp.SetPosition(Front);
    ASSERT_TRUE(Lamp.SetRadius(1000));
  }
  // Draws a frame and counts lit pixels, and those showing a colour other
  // than the light's (Mask: 0xRRGGBB channels the light has).
  Colours Draw(uint32_t Mask) {
    Colours C;
    E->ExecuteWorld(0.0f);
    EXPECT_TRUE(E->BeginFrame(true) && E->RenderWorld(0.1f) && E->EndFrame());
    for (uint32_t P : Window.Frame()) {
      const uint32_t Channels[3] = {(P >> 16) & 0xFF, (P >> 8) & 0xFF, P & 0xFF};
      bool Lit = false, Off = false;
      for (int i = 0; i < 3; ++i) {
        Lit |= Channels[i] > 24;
        Off |= Channels[i] > 0 && !(Mask & (0xFFu << (16 - 8 * i)));
      }
      C.Lit += Lit;
      C.OffChannel += Off;
    }
    return C;
  }
  // A short wave file in the Engine's working directory.
  void WriteWave(const char* Name, uint32_t Frames) {
    cvtest::WriteFileBytes(Directory() + "/" + Name, cvtest::PcmWave(1, 16, 8000, Frames));
  }
  bool WaitUntilStopped(Sound& S) {
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (S.IsPlaying())
      if (std::chrono::steady_clock::now() > Deadline) return false;
      else std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return true;
  }

  cvplatform::HeadlessWindow Window{kW, kH};
  std::unique_ptr<Engine> E;
  std::unique_ptr<World> Scene;
  std::unique_ptr<Camera> Cam;
};

TEST_F(LightsAndSounds, ALightColoursTheActorWhereItShinesAndMovesWithApply) {
  OpenLitScene();
  EXPECT_EQ(Draw(0).Lit, 0);  // no light: nothing shows

  Light Lamp(Scene.get());
  ASSERT_NE(Lamp.Handle, nullptr);
  ASSERT_TRUE(E->AddLight(&Lamp));
  PlaceInFront(Lamp);
  ASSERT_TRUE(Lamp.SetColor(255, 0, 0, 255));
  const Colours Red = Draw(0xFF0000);
  EXPECT_GT(Red.Lit, kW * kH / 40);
  EXPECT_EQ(Red.OffChannel, 0);
  ASSERT_TRUE(Lamp.SetColor(0, 0, 255, 255));
  const Colours Blue = Draw(0x0000FF);
  EXPECT_NEAR(Blue.Lit, Red.Lit, Red.Lit / 4);
  EXPECT_EQ(Blue.OffChannel, 0);
  // A radius that does not reach the actor leaves it dark.
  ASSERT_TRUE(Lamp.SetRadius(5));
  EXPECT_EQ(Draw(0x0000FF).Lit, 0);
  ASSERT_TRUE(Lamp.SetRadius(1000));

  // The Engine runs the light's action each frame; the world light follows
  // the committed position only with Apply.
  MoveAway Away;  // DeleteAction leaves the action object to its owner
  ASSERT_TRUE(Lamp.RegisterAction("away", &Away));
  ASSERT_TRUE(Lamp.UseAction("away"));
  EXPECT_NEAR(Draw(0x0000FF).Lit, Blue.Lit, Blue.Lit / 10);
  EXPECT_EQ(Lamp.LastEngine, E.get());
  EXPECT_FLOAT_EQ(Lamp.Position.XForm.T.Z - Lamp.PreviousPosition.XForm.T.Z, 5000);
  Lamp.DeleteAction("away");
  ASSERT_TRUE(Lamp.Apply());
  EXPECT_EQ(Draw(0x0000FF).Lit, 0);
}

TEST_F(LightsAndSounds, ALightOnAFullWorldHoldsNoHandleAndDoesNothing) {
  Scene = std::make_unique<World>(nullptr);
  for (int i = 0; i < CV_WORLD_MAX_LIGHTS; ++i) ASSERT_NE(cvWorld_AddLight(Scene->EngineWorld), nullptr);
  cvErrorLog_Clear();
  {
    Light Lamp(Scene.get());
    EXPECT_EQ(Lamp.Handle, nullptr);
    EXPECT_LOGGED(42);
    EXPECT_TRUE(Lamp.SetColor(1, 2, 3, 4) && Lamp.SetRadius(9) && Lamp.SetShadows(true) && Lamp.Apply());
    EXPECT_EQ(Lamp.GetColor().B, 3.0f);
  }
  // Destroying it freed no slot of the world.
  EXPECT_EQ(cvWorld_GetActiveLightCount(Scene->EngineWorld), CV_WORLD_MAX_LIGHTS);
  EXPECT_EQ(cvWorld_AddLight(Scene->EngineWorld), nullptr);
}

TEST_F(LightsAndSounds, SoundsPlayStopAndReplayThroughTheEngine) {
  ASSERT_NE(E->Sounds, nullptr);
  WriteWave("beep.wav", 800);
  Sound Beep(E.get(), "beep.wav");
  ASSERT_NE(Beep.Definition, 0u);
  EXPECT_FALSE(Beep.IsPlaying());  // never played
  EXPECT_FALSE(Beep.Stop());

  // Volume x master volume: 1 x 0.5 is -5000 hundredths of a decibel.
  E->Sounds->SetMasterVolume(0.5f);
  Beep.Pan = -1;
  ASSERT_TRUE(Beep.Play());
  const uint32_t First = Beep.Channel;
  float Gain = 0, X = 0, Y, Z;
  alGetSourcef(E->Sounds->GetChannelSource(First), AL_GAIN, &Gain);
  alGetSource3f(E->Sounds->GetChannelSource(First), AL_POSITION, &X, &Y, &Z);
  EXPECT_NEAR(Gain, 0.0031623f, 1e-6);
  EXPECT_FLOAT_EQ(X, -1);
  // Playing again while it plays: a second channel; the first plays on.
  ASSERT_TRUE(Beep.Play());
  EXPECT_NE(Beep.Channel, First);
  EXPECT_TRUE(E->Sounds->IsPlaying(First));
  EXPECT_TRUE(Beep.Stop());
  EXPECT_FALSE(Beep.IsPlaying());
  EXPECT_TRUE(E->Sounds->IsPlaying(First));
  ASSERT_TRUE(WaitUntilStopped(Beep));

  // A file that is missing or no wave file loads nothing and plays nothing.
  cvtest::WriteFileBytes(Directory() + "/text.wav", {'R', 'I', 'F', 'F', 'x'});
  for (const char* Name : {"absent.wav", "text.wav"}) {
    cvErrorLog_Clear();
    Sound Bad(E.get(), Name);
    EXPECT_EQ(Bad.Definition, 0u);
    EXPECT_LOGGED(CV_SOUND_ERROR_BAD_FILE);
    EXPECT_FALSE(Bad.Play());
    EXPECT_FALSE(Bad.IsPlaying());
  }
}

TEST_F(LightsAndSounds, FinishedTemporarySoundsAreDroppedEachFrame) {
  WriteWave("short.wav", 400);
  Sound* Kept[3];
  for (Sound*& S : Kept) {
    S = new Sound(E.get(), "short.wav");
    ASSERT_TRUE(E->AddTempSound(S));
  }
  const uint32_t Freed = Kept[0]->Definition;
  Kept[1]->Loop = true;
  ASSERT_TRUE(Kept[1]->Play());
  // Slot 0 is dropped and the last sound moves into it; it is looked at on
  // the next call, so one frame drops only the first silent sound.
  ASSERT_TRUE(E->ExecuteWorld(0));
  ASSERT_EQ(E->NumTempSounds, 2);
  EXPECT_EQ(E->TempSounds[0], Kept[2]);
  EXPECT_EQ(E->TempSounds[1], Kept[1]);
  EXPECT_EQ(E->Sounds->Play(Freed, 1, 0, 1, false), 0u);  // deleting it freed its sound
  ASSERT_TRUE(E->ExecuteWorld(0));
  ASSERT_EQ(E->NumTempSounds, 1);
  ASSERT_TRUE(E->ExecuteWorld(0));
  EXPECT_EQ(E->NumTempSounds, 1);  // still looping
  ASSERT_TRUE(Kept[1]->Stop());
  ASSERT_TRUE(E->ExecuteWorld(0));
  EXPECT_EQ(E->NumTempSounds, 0);

  // Full at 20; area sounds are run, not dropped.
  for (int i = 0; i < Engine::MaxTempSounds; ++i) ASSERT_TRUE(E->AddTempSound(new Sound(E.get(), "short.wav")));
  Sound Extra(E.get(), "short.wav");
  EXPECT_FALSE(E->AddTempSound(&Extra));
  VFile File(E.get(), "short.wav");
  AreaSound Area(E.get(), &File);
  ASSERT_NE(Area.Definition, 0u);
  ASSERT_TRUE(E->AddAreaSound(&Area));
  ASSERT_TRUE(Area.RegisterAction("away", new MoveAway));
  ASSERT_TRUE(Area.UseAction("away"));
  ASSERT_TRUE(E->ExecuteWorld(0));
  EXPECT_FLOAT_EQ(Area.Position.XForm.T.Z, 5000);
  EXPECT_FLOAT_EQ(Area.PreviousPosition.XForm.T.Z, 0);
  Area.UnRegisterAllActions();
}

TEST_F(LightsAndSounds, WithoutTheSoundLibraryTheEngineGoesOnSilently) {
  E.reset();
  SetSoundLibraryName("libopenal-absent.so.0");
  cvErrorLog_Clear();
  E = std::make_unique<Engine>(Window.Record());
  SetSoundLibraryName(nullptr);
  EXPECT_EQ(E->Sounds, nullptr);
  EXPECT_EQ(cvtest::LoggedCodes(), std::vector<int32_t>{CV_SOUND_ERROR_NO_SYSTEM});

  WriteWave("beep.wav", 80);
  auto* Beep = new Sound(E.get(), "beep.wav");
  EXPECT_EQ(Beep->Definition, 0u);
  EXPECT_FALSE(Beep->Play());
  EXPECT_FALSE(Beep->IsPlaying());
  EXPECT_FALSE(Beep->Stop());
  ASSERT_TRUE(E->AddTempSound(Beep));
  // The frame cycle runs as ever and the silent sound is dropped.
  OpenLitScene();
  Light Lamp(Scene.get());
  PlaceInFront(Lamp);
  ASSERT_TRUE(Lamp.SetColor(0, 255, 0, 255));
  const Colours Green = Draw(0x00FF00);
  EXPECT_GT(Green.Lit, kW * kH / 40);
  EXPECT_EQ(Green.OffChannel, 0);
  EXPECT_EQ(E->NumTempSounds, 0);
}

}  // namespace
