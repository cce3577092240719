// The start-up logo played headlessly through SoftRnd with an injected
// clock: what the frames show at chosen times, a length that does not depend
// on the frame rate, release of everything it made, damaged data, and the
// once-per-process rule.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cvengine.h"
#include "platform/window.h"
#include "testsupport.h"

namespace {

constexpr int32_t kWidth = 320, kHeight = 240;

// A clock that moves one frame interval each time it is read, and records
// the frames the logo shows.
struct FakeClock {
  int64_t Time = 0;
  int64_t Step = 0;
  int32_t Slept = 0;
  cvplatform::HeadlessWindow* Window = nullptr;
  std::vector<float> Times;
  std::vector<std::vector<uint32_t>> Frames;  // a copy of every shown frame

  explicit FakeClock(double FramesPerSecond) : Step((int64_t)(1e9 / FramesPerSecond)) {
    const cvLogo_Clock Clock{Now, Sleep, Shown, this};
    cvLogo_SetClock(&Clock);
  }
  ~FakeClock() { cvLogo_SetClock(nullptr); }
  static int64_t Now(void* C) {
    auto* F = static_cast<FakeClock*>(C);
    return F->Time += F->Step;
  }
  static void Sleep(uint32_t Ms, void* C) { static_cast<FakeClock*>(C)->Slept += (int32_t)Ms; }
  static void Shown(float T, void* C) {
    auto* F = static_cast<FakeClock*>(C);
    F->Times.push_back(T);
    if (F->Window) F->Frames.push_back(F->Window->Frame());
  }
  // The frame shown at the first time at or after T.
  const std::vector<uint32_t>& FrameAt(float T) const {
    size_t I = 0;
    while (I + 1 < Times.size() && Times[I] < T) ++I;
    return Frames.at(I);
  }
};

// SoftRnd in its windowed mode on a headless window. The logo does not play
// while the driver opens (the tests run with CV_NO_LOGO=1).
struct SoftEngine {
  cvplatform::HeadlessWindow Window{kWidth, kHeight};
  cvEngine* Engine = nullptr;
  cvDriver_Mode* Mode = nullptr;
  SoftEngine() {
    Engine = cvEngine_Create(Window.Record(), "logo test", cvtest::BinDir().c_str(), CV_ENGINE_VERSION);
    for (cvDriver_Record* D = Engine ? cvDriver_GetNextDriver(Engine, nullptr) : nullptr; D && !Mode;
         D = cvDriver_GetNextDriver(Engine, D))
      for (cvDriver_Mode* M = cvDriver_GetNextMode(D, nullptr); M && !Mode; M = cvDriver_GetNextMode(D, M))
        if (std::strcmp(D->FileName, "SoftRnd.so") == 0 && M->Width == -1 && cvEngine_SetDriverAndMode(Engine, D, M))
          Mode = M;
  }
  ~SoftEngine() { cvEngine_Destroy(Engine); }
};

cvLogo_Data BuiltIn() {
  cvLogo_Data Data{};
  EXPECT_TRUE(cvLogo_GetBuiltInData(&Data));
  return Data;
}

// Where a world point lands in the frame, through a camera like the logo's.
struct Projector {
  cvCamera* Camera;
  Projector() {
    const cvRect Rect = {0, kWidth - 1, 0, kHeight - 1};
    Camera = cvCamera_Create(&Rect, 2.0f);
    cvXForm3d Place;
    cvXForm3d_SetTranslation(&Place, 0, 40, 800);
    cvCamera_SetWorldSpaceXForm(Camera, &Place);
  }
  ~Projector() { cvCamera_Destroy(Camera); }
  void At(float X, float Y, float Z, int* PX, int* PY) const {
    const cvVec3d W = {X, Y, Z};
    cvVec3d C, S;
    cvCamera_Transform(Camera, &W, &C);
    cvCamera_Project(Camera, &C, &S);
    *PX = (int)std::lround(S.X), *PY = (int)std::lround(S.Y);
  }
};

int Channel(uint32_t Pixel, int Shift) { return (int)((Pixel >> Shift) & 0xFF); }

// The red channel averaged over a 5 x 5 patch.
int Red(const std::vector<uint32_t>& Frame, int X, int Y) {
  int Sum = 0;
  for (int DY = -2; DY <= 2; ++DY)
    for (int DX = -2; DX <= 2; ++DX) Sum += Channel(Frame[(size_t)(Y + DY) * kWidth + (X + DX)], 16);
  return Sum / 25;
}

// Pixels of a 11 x 11 patch whose every channel is at least 240.
int WhitePixels(const std::vector<uint32_t>& Frame, int X, int Y) {
  int Count = 0;
  for (int DY = -5; DY <= 5; ++DY)
    for (int DX = -5; DX <= 5; ++DX) {
      const uint32_t P = Frame[(size_t)(Y + DY) * kWidth + (X + DX)];
      Count += Channel(P, 16) >= 240 && Channel(P, 8) >= 240 && Channel(P, 0) >= 240;
    }
  return Count;
}

// Bluish pixels (the bolt's colour, 160/160/255) in the band between the electrodes.
int BoltPixels(const std::vector<uint32_t>& Frame, const Projector& P) {
  int X0, Y0, X1, Y1;
  P.At(-120, 460, 20, &X0, &Y0);  // above the gears and the ring behind them
  P.At(120, 352, 20, &X1, &Y1);
  int Count = 0;
  for (int Y = Y0; Y <= Y1; ++Y)
    for (int X = X0; X <= X1; ++X) {
      const uint32_t Px = Frame[(size_t)Y * kWidth + X];
      if (Channel(Px, 0) >= 150 && Channel(Px, 0) - Channel(Px, 16) >= 40) ++Count;
    }
  return Count;
}

}  // namespace

TEST(Logo, FramesShowLitGearsThenTheBoltThenTheCoronas) {
  SoftEngine S;
  ASSERT_NE(S.Mode, nullptr);
  FakeClock Clock(30);
  Clock.Window = &S.Window;
  const cvLogo_Data Data = BuiltIn();
  ASSERT_TRUE(cvLogo_Play(S.Engine, S.Mode, &Data));
  ASSERT_GE(Clock.Times.size(), 50u);
  EXPECT_EQ(Clock.Times.front(), 0.0f);
  EXPECT_EQ(Clock.Times.back(), 2.0f);  // the motion's end
  EXPECT_EQ(Clock.Slept, 500);

  const Projector P;
  const std::vector<uint32_t>& Early = Clock.FrameAt(0.5f);
  // Every gear sits under its light: its middle is bright, not the dim fill.
  for (int K = 0; K < 8; ++K) {
    const float A = 3.14159265f / 2 - K * 3.14159265f / 4;
    int X, Y;
    P.At(250 * std::cos(A), 250 * std::sin(A), 18, &X, &Y);
    EXPECT_GE(Red(Early, X, Y), 110) << "gear " << K + 1;
  }
  // The bolt runs between the electrodes before T = 1 and is gone after.
  EXPECT_GT(BoltPixels(Early, P), 30);
  EXPECT_GT(BoltPixels(Clock.FrameAt(0.95f), P), 30);
  EXPECT_EQ(BoltPixels(Clock.FrameAt(1.2f), P), 0);
  // The coronas (opaque white in their middle) cover the emblem after T = 1.
  int X, Y;
  P.At(30, 0, 155, &X, &Y);
  EXPECT_LT(WhitePixels(Clock.FrameAt(0.95f), X, Y), 25);
  EXPECT_GT(WhitePixels(Clock.FrameAt(1.9f), X, Y), 50);
}

// The logo lasts its two seconds whatever the frame rate: T advances by the
// time since the previous frame.
TEST(Logo, LengthDoesNotDependOnTheFrameRate) {
  SoftEngine S;
  ASSERT_NE(S.Mode, nullptr);
  const cvLogo_Data Data = BuiltIn();
  for (double Fps : {8.0, 25.0, 50.0}) {
    FakeClock Clock(Fps);
    ASSERT_TRUE(cvLogo_Play(S.Engine, S.Mode, &Data));
    const double Seconds = (double)(Clock.Time - Clock.Step) / 1e9;  // from the first reading to the last
    EXPECT_NEAR(Seconds, CV_LOGO_SECONDS, 1.5 / Fps) << Fps;
    EXPECT_NEAR((double)Clock.Times.size(), Fps * CV_LOGO_SECONDS + 1, 1.5) << Fps;
    for (size_t I = 1; I < Clock.Times.size(); ++I) ASSERT_GT(Clock.Times[I], Clock.Times[I - 1]);
  }
}

TEST(Logo, EverythingMadeIsReleasedAndTheEngineGoesOn) {
  SoftEngine S;
  ASSERT_NE(S.Mode, nullptr);
  FakeClock Clock(60);
  const cvLogo_Data Data = BuiltIn();
  const int32_t Defs = cvActorDef_GetCount(), Actors = cvActor_GetCount(), Puppets = cvPuppet_GetCount();
  ASSERT_TRUE(cvLogo_Play(S.Engine, S.Mode, &Data));
  EXPECT_EQ(cvActorDef_GetCount(), Defs);
  EXPECT_EQ(cvActor_GetCount(), Actors);
  EXPECT_EQ(cvPuppet_GetCount(), Puppets);
  EXPECT_EQ(S.Engine->NumActiveWorlds, 0);
  // The engine draws its own frames afterwards.
  cvErrorLog_Clear();
  const cvRect Rect = {0, kWidth - 1, 0, kHeight - 1};
  cvCamera* Camera = cvCamera_Create(&Rect, 2.0f);
  EXPECT_TRUE(cvEngine_BeginFrame(S.Engine, Camera, 1));
  EXPECT_TRUE(cvEngine_EndFrame(S.Engine));
  cvCamera_Destroy(Camera);
  EXPECT_TRUE(cvtest::LoggedCodes().empty());
}

TEST(Logo, DamagedDataFailsCleanly) {
  SoftEngine S;
  ASSERT_NE(S.Mode, nullptr);
  FakeClock Clock(30);
  const cvLogo_Data Good = BuiltIn();
  const std::vector<uint8_t> Actor(Good.Actor.Data, Good.Actor.Data + Good.Actor.Size);
  std::vector<std::vector<uint8_t>> Damaged;
  Damaged.push_back(std::vector<uint8_t>(Actor.begin(), Actor.begin() + Actor.size() / 2));  // cut short
  Damaged.push_back(Actor);
  Damaged.back()[0] = 'X';  // not an archive
  Damaged.push_back(Actor);
  for (size_t I = 24; I < Actor.size(); I += 97) Damaged.back()[I] ^= 0x5A;  // scrambled throughout
  const int32_t Defs = cvActorDef_GetCount(), Actors = cvActor_GetCount();
  for (size_t K = 0; K <= Damaged.size(); ++K) {
    cvLogo_Data Data = Good;
    std::vector<uint8_t> Bitmap;
    if (K < Damaged.size()) {
      Data.Actor = {Damaged[K].data(), (uint32_t)Damaged[K].size()};
    } else {  // a damaged texture
      Bitmap.assign(Good.Alpha[1].Data, Good.Alpha[1].Data + 40);
      Data.Alpha[1] = {Bitmap.data(), (uint32_t)Bitmap.size()};
    }
    cvErrorLog_Clear();
    EXPECT_FALSE(cvLogo_Play(S.Engine, S.Mode, &Data)) << K;
    EXPECT_FALSE(cvtest::LoggedCodes().empty()) << K;
    EXPECT_EQ(cvActorDef_GetCount(), Defs) << K;
    EXPECT_EQ(cvActor_GetCount(), Actors) << K;
    EXPECT_EQ(S.Engine->NumActiveWorlds, 0) << K;
  }
  EXPECT_EQ(Clock.Slept, 0);
}

// Opening a driver plays the logo the first time only, and the switch and
// the environment variable keep it off. Each case runs in a fresh process:
// the rule is per process.
TEST(LogoDeathTest, PlaysOncePerProcessUnlessSwitchedOff) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto Frames = [] {
    FakeClock Clock(30);
    SoftEngine S;
    return S.Mode ? (int)Clock.Times.size() : -1;
  };
  auto Twice = [&] {
    unsetenv("CV_NO_LOGO");
    const int First = Frames();
    const int Second = Frames();
    std::exit(First > 50 && Second == 0 ? 0 : 1);
  };
  auto Disabled = [&] {
    unsetenv("CV_NO_LOGO");
    cvLogo_Disable();
    std::exit(Frames() == 0 ? 0 : 1);
  };
  auto Variable = [&] {
    setenv("CV_NO_LOGO", "1", 1);
    std::exit(Frames() == 0 ? 0 : 1);
  };
  EXPECT_EXIT(Twice(), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(Disabled(), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(Variable(), ::testing::ExitedWithCode(0), "");
}
