// The framework's lights and sounds on a real Engine: a lit sample actor drawn
// through the software driver on a headless window, sounds on OpenAL's null
// device, the Engine's temporary sounds, and an Engine without the library.
#include <AL/al.h>

#include <memory>

#include "frametest.h"
#include "wavebytes.h"

namespace {

constexpr int32_t kW = 160, kH = 120;

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
    cvtest::WriteFileBytes(Directory() + "/beep.wav", cvtest::PcmWave(1, 16, 8000, 400));
  }
  void TearDown() override {
    E.reset();
    Scene.reset();
    Cam.reset();
    FrameworkTest::TearDown();
  }
  // The sample actor facing the camera, lit by the world's dynamic lights only.
  void OpenLitScene() {
    ASSERT_TRUE(E->SetDriverMode(nullptr, "Window"));
    Scene = std::make_unique<World>(nullptr);
    Cam = std::make_unique<Camera>(0, kW, 0, kH, 2.0f);
    ASSERT_TRUE(E->AddWorld(Scene.get()) && E->SetCamera(Cam.get()));
    VFile File(E.get(), fwtest::SampleActorPath().c_str(), false);
    auto* A = new Actor(&File);
    ASSERT_TRUE(E->AddActor(A));
    const cvVec3d Fill = {0, 1, 0};
    ASSERT_TRUE(cvActor_SetLightingOptions(A->EngineActor, 0, &Fill, 0, 0, 0, 0, 0, 0, 0, 3, nullptr, 0));
    XForm3d View = A->Position;
    View.MoveBackward(80);
    View.MoveUp(50);
    Cam->SetPosition(&View);
  }
  // A light before the actor's chest, reaching well beyond it.
  void PlaceInFront(Light& Lamp) {
    XForm3d Front;
    Front.Translate(0, 60, 50);
    Lamp.SetPosition(Front);
    ASSERT_TRUE(Lamp.SetRadius(1000));
  }
  // Runs and draws a frame; counts the lit pixels (above 24 in some channel),
  // or -1 when any pixel shows a channel outside Mask (0xRRGGBB).
  int LitPixels(uint32_t Mask) {
    E->ExecuteWorld(0.0f);
    EXPECT_TRUE(E->BeginFrame(true) && E->RenderWorld(0.1f) && E->EndFrame());
    int Lit = 0;
    for (uint32_t P : Window.Frame()) {
      if (P & 0xFFFFFF & ~Mask) return -1;
      Lit += ((P >> 16 & 0xFF) > 24) || ((P >> 8 & 0xFF) > 24) || ((P & 0xFF) > 24);
    }
    return Lit;
  }

  cvplatform::HeadlessWindow Window{kW, kH};
  std::unique_ptr<Engine> E;
  std::unique_ptr<World> Scene;
  std::unique_ptr<Camera> Cam;
};

TEST_F(LightsAndSounds, ALightColoursTheActorWhereItShinesAndMovesWithApply) {
  OpenLitScene();
  EXPECT_EQ(LitPixels(0), 0);  // unlit: nothing shows
  Light Lamp(Scene.get());
  ASSERT_TRUE(E->AddLight(&Lamp));
  PlaceInFront(Lamp);
  ASSERT_TRUE(Lamp.SetColor(255, 0, 0, 255));
  const int Red = LitPixels(0xFF0000);
  EXPECT_GT(Red, kW * kH / 40);
  ASSERT_TRUE(Lamp.SetColor(0, 0, 255, 255));
  const int Blue = LitPixels(0x0000FF);
  EXPECT_NEAR(Blue, Red, Red / 4);
  ASSERT_TRUE(Lamp.SetRadius(5));  // no longer reaching the actor
  EXPECT_EQ(LitPixels(0x0000FF), 0);
  ASSERT_TRUE(Lamp.SetRadius(1000));

  // The Engine runs the light's action; the world light follows only Apply.
  MoveAway Away;  // DeleteAction leaves the action object to its owner
  ASSERT_TRUE(Lamp.RegisterAction("away", &Away) && Lamp.UseAction("away"));
  EXPECT_EQ(LitPixels(0x0000FF), Blue);
  EXPECT_EQ(Lamp.LastEngine, E.get());
  EXPECT_FLOAT_EQ(Lamp.Position.XForm.T.Z, 5050);
  Lamp.DeleteAction("away");
  ASSERT_TRUE(Lamp.Apply());
  EXPECT_EQ(LitPixels(0x0000FF), 0);

  // On a world without a free slot: no handle (42), calls change nothing.
  while (cvWorld_AddLight(Scene->EngineWorld)) {
  }
  cvErrorLog_Clear();
  {
    Light None(Scene.get());
    EXPECT_EQ(None.Handle, nullptr);
    EXPECT_LOGGED(42);
    EXPECT_TRUE(None.SetColor(1, 2, 3, 4) && None.SetShadows(true) && None.Apply());
  }
  EXPECT_EQ(cvWorld_GetActiveLightCount(Scene->EngineWorld), CV_WORLD_MAX_LIGHTS);
}

TEST_F(LightsAndSounds, SoundsPlayThroughTheEngineWhichDropsFinishedTemporaryOnes) {
  ASSERT_NE(E->Sounds, nullptr);
  Sound* Kept[3];
  for (Sound*& S : Kept) {
    S = new Sound(E.get(), "beep.wav");  // relative to the working directory
    ASSERT_TRUE(E->AddTempSound(S));
  }
  EXPECT_FALSE(Kept[0]->IsPlaying() || Kept[0]->Stop());  // never played
  const uint32_t Freed = Kept[0]->Definition;
  // Volume x master volume: 1 x 0.5 is -5000 hundredths of a decibel.
  E->Sounds->SetMasterVolume(0.5f);
  Kept[1]->Loop = true;
  ASSERT_TRUE(Kept[1]->Play());
  float Gain = 0;
  alGetSourcef(E->Sounds->GetChannelSource(Kept[1]->Channel), AL_GAIN, &Gain);
  EXPECT_NEAR(Gain, 0.0031623f, 1e-6);

  // Slot 0 goes and the last sound moves into it, to be looked at on the
  // next call: one frame drops only the first silent sound.
  ASSERT_TRUE(E->ExecuteWorld(0));
  ASSERT_EQ(E->NumTempSounds, 2);
  EXPECT_EQ(E->TempSounds[0], Kept[2]);
  EXPECT_EQ(E->Sounds->Play(Freed, 1, 0, 1, false), 0u);  // deleting it freed its sound
  ASSERT_TRUE(E->ExecuteWorld(0) && E->ExecuteWorld(0));
  ASSERT_EQ(E->NumTempSounds, 1);  // still looping
  ASSERT_TRUE(Kept[1]->Stop());
  ASSERT_TRUE(E->ExecuteWorld(0));
  EXPECT_EQ(E->NumTempSounds, 0);

  Sound Absent(E.get(), "absent.wav");
  EXPECT_EQ(Absent.Definition, 0u);
  EXPECT_LOGGED(CV_SOUND_ERROR_BAD_FILE);
  EXPECT_FALSE(Absent.Play());
  // Area sounds are run every frame, never dropped.
  VFile File(E.get(), "beep.wav");
  AreaSound Area(E.get(), &File);
  ASSERT_TRUE(Area.Definition != 0 && E->AddAreaSound(&Area));
  ASSERT_TRUE(Area.RegisterAction("away", new MoveAway) && Area.UseAction("away"));
  ASSERT_TRUE(E->ExecuteWorld(0));
  EXPECT_FLOAT_EQ(Area.Position.XForm.T.Z, 5000);
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
  auto* Beep = new Sound(E.get(), "beep.wav");
  EXPECT_EQ(Beep->Definition, 0u);
  EXPECT_FALSE(Beep->Play() || Beep->IsPlaying() || Beep->Stop());
  ASSERT_TRUE(E->AddTempSound(Beep));
  // Frames run as ever, with lights, and the silent sound is dropped.
  OpenLitScene();
  Light Lamp(Scene.get());
  PlaceInFront(Lamp);
  ASSERT_TRUE(Lamp.SetColor(0, 255, 0, 255));
  EXPECT_GT(LitPixels(0x00FF00), kW * kH / 40);
  EXPECT_EQ(E->NumTempSounds, 0);
}

}  // namespace
