// XForm3d against hand-computed transforms, the ActionObject registry and
// positions, the camera's view steps, Utility's input polling, and the
// configuration-file reader.
#include <cmath>
#include <memory>
#include <string>

#include "frametest.h"
#include "platform/ini.h"

namespace {

using fwtest::FrameworkTest;

void ExpectAt(const XForm3d& F, float X, float Y, float Z) {
  EXPECT_NEAR(F.XForm.T.X, X, 1e-5f);
  EXPECT_NEAR(F.XForm.T.Y, Y, 1e-5f);
  EXPECT_NEAR(F.XForm.T.Z, Z, 1e-5f);
}

// Plain 3x3 products, written out independently of the engine's math.
struct Mat {
  double m[3][3];
};
Mat Mul(const Mat& A, const Mat& B) {
  Mat R{};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      for (int k = 0; k < 3; ++k) R.m[r][c] += A.m[r][k] * B.m[k][c];
  return R;
}
Mat Rx(double a) { return {{{1, 0, 0}, {0, cos(a), -sin(a)}, {0, sin(a), cos(a)}}}; }
Mat Ry(double a) { return {{{cos(a), 0, sin(a)}, {0, 1, 0}, {-sin(a), 0, cos(a)}}}; }
Mat Rz(double a) { return {{{cos(a), -sin(a), 0}, {sin(a), cos(a), 0}, {0, 0, 1}}}; }

TEST(XForm3dTest, MovesFollowTheAxesAndGtestExchangesThem) {
  // Each move of the identity by 1, without and with Gtest.
  const struct {
    void (XForm3d::*Move)(float);
    cvVec3d Plain, Gtest;
  } cases[] = {
      {&XForm3d::MoveForward, {0, 0, -1}, {0, -1, 0}}, {&XForm3d::MoveBackward, {0, 0, 1}, {0, 1, 0}},
      {&XForm3d::MoveLeft, {-1, 0, 0}, {1, 0, 0}},     {&XForm3d::MoveRight, {1, 0, 0}, {-1, 0, 0}},
      {&XForm3d::MoveUp, {0, 1, 0}, {0, 0, 1}},        {&XForm3d::MoveDown, {0, -1, 0}, {0, 0, -1}},
  };
  for (const auto& c : cases) {
    XForm3d plain, gtest;
    gtest.SetGtest(true);
    (plain.*c.Move)(1.0f);
    (gtest.*c.Move)(1.0f);
    ExpectAt(plain, c.Plain.X, c.Plain.Y, c.Plain.Z);
    ExpectAt(gtest, c.Gtest.X, c.Gtest.Y, c.Gtest.Z);
  }
  XForm3d turned;  // a quarter turn left about Y looks along -X
  turned.RotateY(static_cast<float>(M_PI / 2));
  turned.MoveForward(2.0f);
  ExpectAt(turned, -2, 0, 0);
}

TEST(XForm3dTest, RotationsRebuildFromAnglesAndKeepThePosition) {
  XForm3d F;
  F.Translate(1, 2, 3);
  F.Translate(1, 0, 0);
  F.RotateY(0.4f);
  F.RotateX(0.3f);
  F.RotateZ(-0.7f);
  F.RotateY(0.2f);
  const Mat expected = Mul(Rz(-0.7), Mul(Ry(0.6), Rx(0.3)));
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(F.XForm.M[r][c], expected.m[r][c], 1e-5) << r << "," << c;
  ExpectAt(F, 2, 2, 3);

  XForm3d G;
  G.SetGtest(true);
  G.RotateX(0.5f);
  G.RotateX(0.5f);
  G.RotateY(0.5f);  // Y and Z do not depend on Gtest
  EXPECT_FLOAT_EQ(G.AngleX, -1.0f);
  EXPECT_FLOAT_EQ(G.AngleY, 0.5f);
}

// Counts the actions alive so that deletion by the registry shows.
struct CountingAction : Action {
  static inline int Alive = 0, Runs = 0;
  CountingAction() { ++Alive; }
  ~CountingAction() override { --Alive; }
  bool Perform(ActionObject*, float) override { return ++Runs > 0; }
};

TEST(ActionObjectTest, RegistryLimitsNamesAndCurrentAction) {
  CountingAction::Runs = 0;
  ActionObject O;
  for (int i = 0; i < 50; ++i) ASSERT_TRUE(O.RegisterAction(("a" + std::to_string(i)).c_str(), new CountingAction));
  CountingAction extra;
  EXPECT_FALSE(O.RegisterAction("a50", &extra));  // the 51st
  // Deleting an entry leaves its Action to the caller.
  std::unique_ptr<Action> a49(O.Actions[49].Behaviour), a3(O.Actions[3].Behaviour);
  ASSERT_TRUE(O.DeleteAction("a49"));
  EXPECT_FALSE(O.RegisterAction("a0", &extra));  // the name is taken
  EXPECT_FALSE(O.UseAction("A0"));               // names are case-sensitive
  EXPECT_FALSE(O.DeleteAction("missing"));

  // The last entry is current; deleting another moves it, and it stays current.
  ASSERT_TRUE(O.RegisterAction("last", &extra));
  ASSERT_TRUE(O.UseAction("last"));
  ASSERT_TRUE(O.DeleteAction("a3"));
  EXPECT_EQ(O.CurrentAction, 3);
  EXPECT_TRUE(O.PerformAction(0));
  EXPECT_EQ(CountingAction::Runs, 1);
  // Deleting the current action leaves none.
  ASSERT_TRUE(O.DeleteAction("last"));
  EXPECT_EQ(O.CurrentAction, -1);
  EXPECT_FALSE(O.PerformAction(0));
  // The 48 still registered are deleted.
  EXPECT_TRUE(O.UnRegisterAllActions());
  EXPECT_EQ(CountingAction::Alive, 1 + 2);  // extra, a49 and a3
  EXPECT_EQ(O.NumActions, 0);
}

TEST(ActionObjectTest, PositionsCommitResetSlideAndGtestObject) {
  ActionObject O;
  O.MoveForward(2);
  O.TurnLeft(0.25f);
  ExpectAt(O.Position, 0, 0, 0);  // only the proposal moved
  EXPECT_FLOAT_EQ(O.ProposedPosition.AngleY, -0.25f);
  O.UseNewPosition();
  ExpectAt(O.Position, 0, 0, -2);
  ExpectAt(O.PreviousPosition, 0, 0, 0);
  O.MoveUp(5);
  O.ResetPosition();
  ExpectAt(O.ProposedPosition, 0, 0, -2);
  // Sliding puts the proposal on the plane hit: {P : P.Y = 2}.
  Collision Hit;
  Hit.Result.PlaneNormal = {0, 1, 0};
  Hit.Result.PlaneDist = 2;
  O.Slide(&Hit);
  ExpectAt(O.ProposedPosition, 0, 2, -2);

  XForm3d F;
  F.Translate(7, 8, 9);
  O.SetPosition(F);
  ExpectAt(O.PreviousPosition, 7, 8, 9);
  // Gtest stands the committed position up and proposes it.
  EXPECT_TRUE(O.SetGtestObject(true));
  EXPECT_TRUE(O.Position.Gtest && O.PreviousPosition.Gtest && O.ProposedPosition.Gtest);
  EXPECT_FLOAT_EQ(O.Position.AngleX, -1.5707964f);
  EXPECT_FLOAT_EQ(O.ProposedPosition.AngleY, 3.14159f);
  ExpectAt(O.Position, 7, 8, 9);
  O.SetGtestObject(false);  // the flags clear, the turn stays
  EXPECT_FALSE(O.Position.Gtest);
  EXPECT_FLOAT_EQ(O.Position.AngleX, -1.5707964f);
}

TEST_F(FrameworkTest, CameraViewStepsStayInTheirLimits) {
  Camera C(0, 3200, 0, 2400, 2.0f);
  ASSERT_NE(C.EngineCamera, nullptr);
  C.DecreaseView();
  EXPECT_EQ(C.Right, 3168);
  EXPECT_EQ(C.Bottom, 2376);
  for (int i = 0; i < 200; ++i) C.DecreaseView();
  cvRect R;
  cvCamera_GetClippingRect(C.EngineCamera, &R);
  EXPECT_EQ(R.Right, 32);
  EXPECT_EQ(C.Bottom, 24);
  for (int i = 0; i < 200; ++i) C.IncreaseView();
  EXPECT_EQ(C.Right, 3200);
  EXPECT_EQ(C.Bottom, 2400);
  Camera Small(10, 60, 0, 20, 2.0f);  // steps truncate to 0; the floor still holds
  Small.DecreaseView();
  EXPECT_EQ(Small.Right, 60);
  EXPECT_EQ(Small.Bottom, 24);
}

TEST_F(FrameworkTest, UtilityReadsKeysButtonsAndTheMouse) {
  cvplatform::HeadlessWindow W(700, 350);
  Engine E(W.Record());
  E.DisplayWidth = 700;
  E.DisplayHeight = 350;
  Utility U(&E);
  EXPECT_EQ(U.GetFirstKeyPressed(), -1);
  cvplatform::SetKeyDown('Z', true);
  cvplatform::SetKeyDown(cvplatform::CV_VK_RBUTTON, true);
  EXPECT_EQ(U.GetFirstKeyPressed(), cvplatform::CV_VK_RBUTTON);
  EXPECT_TRUE(U.IsMouseDown(1) && !U.IsMouseDown(0));
  EXPECT_TRUE(U.IsMouseDown('Z') && U.IsKeyDown('Z') && !U.IsKeyDown('M'));

  float dx = 0, dy = 0;
  W.SetCursor(0, 0);
  U.GetMouseSpeed(&dx, &dy, false);
  EXPECT_NEAR(dx, 1.0f, 1e-5f);  // 350 pixels left of the centre
  EXPECT_NEAR(dy, 0.5f, 1e-5f);
  W.SetCursor(385, 140);
  U.GetMouseSpeed(&dx, nullptr, true);  // 35 pixels right: -0.1; only X recentred
  EXPECT_NEAR(dx, -0.1f, 1e-5f);
  int32_t x, y;
  W.Record()->GetCursorPos(W.Record(), &x, &y);
  EXPECT_EQ(x, 350);
  EXPECT_EQ(y, 140);
}

TEST_F(FrameworkTest, IniRulesCaseCommentsQuotesAndCutting) {
  WriteText("a.ini", "; settings\r\n# more\n[Other]\nMode=Wrong\n[ driver ]\n  MODE = \"Soft ware\" \n"
                     "mode=Second\nWidth= -12 \nHeight=42px\nDepth=abc\nBig=99999999999\n");
  char buf[40], small[5];
  EXPECT_EQ(cvplatform::IniGetString("a.ini", "Driver", "Mode", "None", buf, sizeof(buf)), 9u);
  EXPECT_STREQ(buf, "Soft ware");
  EXPECT_EQ(cvplatform::IniGetString("a.ini", "Driver", "Mode", "None", small, sizeof(small)), 4u);
  EXPECT_STREQ(small, "Soft");  // cut to the buffer
  cvplatform::IniGetString("missing.ini", "Driver", "Mode", "Default", small, sizeof(small));
  EXPECT_STREQ(small, "Defa");
  const struct {
    const char *Section, *Key;
    int32_t Expected;
  } ints[] = {{"DRIVER", "width", -12}, {"Driver", "Height", 42}, {"Driver", "Depth", 0},
              {"Driver", "Big", INT32_MAX}, {"Driver", "Absent", -1}, {"Absent", "Width", -1}};
  for (const auto& c : ints) EXPECT_EQ(cvplatform::IniGetInt("a.ini", c.Section, c.Key, -1), c.Expected) << c.Key;
  // A NUL byte, a broken header, or a line of no known form: defaults.
  for (const std::string& text : {std::string("[Driver]\nMode=X\n\0", 17), std::string("[Driver]\nMode=X\ngarbage\n"),
                                 std::string("[Driver\nMode=X\n"), std::string("[Driver]\n=X\n")}) {
    WriteText("b.ini", text);
    cvplatform::IniGetString("b.ini", "Driver", "Mode", "None", buf, sizeof(buf));
    EXPECT_STREQ(buf, "None") << text;
  }
  // A leading byte-order mark is fine; a lone CR ends a line.
  WriteText("c.ini", "\xEF\xBB\xBF[Driver]\rMode=X\rWidth=5");
  cvplatform::IniGetString("c.ini", "Driver", "Mode", "None", buf, sizeof(buf));
  EXPECT_STREQ(buf, "X");
  EXPECT_EQ(cvplatform::IniGetInt("c.ini", "Driver", "Width", -1), 5);
  EXPECT_EQ(cvplatform::FindConfigFile("c.ini"), "c.ini");
  EXPECT_EQ(cvplatform::FindConfigFile("nowhere.ini"), "");
}

}  // namespace
