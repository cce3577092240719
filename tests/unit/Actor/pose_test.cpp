// Poses: world transforms against a plain matrix-product reference, the lazy
// and single-chain updates, scale, hanging poses, and setting and blending
// from motions.
#include <cmath>
#include <random>

#include "actor_testutil.h"
#include "testsupport.h"

using namespace actortest;

namespace {

cvXForm3d Turn(float AngleZ, float AngleX, float X, float Y, float Z) {
  cvXForm3d m;
  cvXForm3d_SetZRotation(&m, AngleZ);
  cvXForm3d_RotateX(&m, AngleX);
  m.T = {X, Y, Z};
  return m;
}

cvXForm3d Mul(const cvXForm3d& A, const cvXForm3d& B) {
  cvXForm3d out;
  cvXForm3d_Multiply(&A, &B, &out);
  return out;
}

void ExpectNear(const cvXForm3d& A, const cvXForm3d& B, const char* What, int Index = 0) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(A.M[r][c], B.M[r][c], 1e-4) << What << " " << Index;
  EXPECT_NEAR(A.T.X, B.T.X, 1e-4) << What << " " << Index;
  EXPECT_NEAR(A.T.Y, B.T.Y, 1e-4) << What << " " << Index;
  EXPECT_NEAR(A.T.Z, B.T.Z, 1e-4) << What << " " << Index;
}

cvXForm3d WorldOf(cvPose* Pose, int32_t Joint) {
  cvXForm3d m;
  EXPECT_TRUE(cvPose_GetJointTransform(Pose, Joint, &m));
  return m;
}

// Three joints a (root), b (child of a, one unit up), c (child of b, rotated).
PosePtr ThreeJoints() {
  PosePtr pose(cvPose_Create());
  const cvXForm3d up = Translation(0, 1, 0);
  const cvXForm3d turned = Turn(0.7f, 0.0f, 0, 2, 0);
  EXPECT_TRUE(cvPose_AddJoint(pose.get(), -1, "a", &up, nullptr));
  EXPECT_TRUE(cvPose_AddJoint(pose.get(), 0, "b", &up, nullptr));
  EXPECT_TRUE(cvPose_AddJoint(pose.get(), 1, "c", &turned, nullptr));
  return pose;
}

}  // namespace

TEST(Pose, ChildOfATranslatedJointAndScale) {
  PosePtr pose(cvPose_Create());
  const cvXForm3d none = Translation(0, 0, 0), up = Translation(0, 1, 0);
  ASSERT_TRUE(cvPose_AddJoint(pose.get(), -1, "A", &none, nullptr));
  ASSERT_TRUE(cvPose_AddJoint(pose.get(), 0, "B", &up, nullptr));
  EXPECT_FLOAT_EQ(WorldOf(pose.get(), 1).T.Y, 1.0f);
  const cvVec3d two{2, 2, 2};
  ASSERT_TRUE(cvPose_SetScale(pose.get(), &two));
  EXPECT_FLOAT_EQ(WorldOf(pose.get(), 1).T.Y, 2.0f);
  cvXForm3d attachment;
  ASSERT_TRUE(cvPose_GetJointAttachment(pose.get(), 1, &attachment));
  EXPECT_FLOAT_EQ(attachment.T.Y, 2.0f);
}

// World(J) = World(parent) · Attachment(J) · Local(J), the root placed by its
// own local transform: checked on a random tree mixing plain and rotated
// attachments.
TEST(Pose, WorldTransformsMatchTheMatrixProduct) {
  std::mt19937 random(11);
  std::uniform_real_distribution<float> angle(-3.0f, 3.0f), offset(-2.0f, 2.0f);
  PosePtr pose(cvPose_Create());
  std::vector<int32_t> parents;
  std::vector<cvXForm3d> attachments, locals;
  for (int i = 0; i < 12; ++i) {
    const int32_t parent = i == 0 ? -1 : (int32_t)(random() % (unsigned)i) - (i % 4 == 0);
    const bool plain = i % 3 == 0;
    const cvXForm3d attachment = plain ? Translation(offset(random), offset(random), offset(random))
                                       : Turn(angle(random), angle(random), offset(random), offset(random), offset(random));
    const cvXForm3d local = Turn(angle(random), angle(random), offset(random), offset(random), offset(random));
    ASSERT_TRUE(cvPose_AddJoint(pose.get(), parent, nullptr, &attachment, nullptr));
    ASSERT_TRUE(cvPose_SetJointLocalTransform(pose.get(), i, &local));
    parents.push_back(parent);
    attachments.push_back(attachment);
    locals.push_back(local);
  }
  const cvXForm3d place = Turn(0.3f, -1.2f, 5, -4, 3);
  ASSERT_TRUE(cvPose_Clear(pose.get(), &place));
  for (int i = 0; i < 12; ++i) ASSERT_TRUE(cvPose_SetJointLocalTransform(pose.get(), i, &locals[i]));
  std::vector<cvXForm3d> expected(12);
  for (int i = 0; i < 12; ++i) {
    const cvXForm3d parent = parents[i] < 0 ? place : expected[parents[i]];
    expected[i] = Mul(Mul(parent, attachments[i]), locals[i]);
  }
  cvXFArray* all = cvPose_GetAllJointTransforms(pose.get());
  ASSERT_NE(all, nullptr);
  int32_t count = 0;
  const cvXForm3d* worlds = cvXFArray_GetElements(all, &count);
  ASSERT_EQ(count, 12);
  for (int i = 0; i < 12; ++i) ExpectNear(worlds[i], expected[i], "joint", i);
}

TEST(Pose, UpdatesAreLazyAndTouchOnlyWhatChanged) {
  PosePtr pose = ThreeJoints();
  WorldOf(pose.get(), 2);
  const uint32_t afterFirst = pose->ComputeCount;
  WorldOf(pose.get(), 2);
  cvPose_GetAllJointTransforms(pose.get());
  EXPECT_EQ(pose->ComputeCount, afterFirst);
  const cvXForm3d bend = Turn(0.5f, 0, 0, 0, 0);
  ASSERT_TRUE(cvPose_SetJointLocalTransform(pose.get(), 2, &bend));
  WorldOf(pose.get(), 0);
  EXPECT_EQ(pose->ComputeCount, afterFirst + 1);  // only the leaf
  ASSERT_TRUE(cvPose_SetJointLocalTransform(pose.get(), 0, &bend));
  WorldOf(pose.get(), 0);
  EXPECT_EQ(pose->ComputeCount, afterFirst + 4);  // the joint and both below it
}

TEST(Pose, SingleChainUpdateComputesTheChainAndLeavesTheRestCorrectLater) {
  PosePtr pose(cvPose_Create());
  const cvXForm3d up = Translation(0, 1, 0);
  for (const char* name : {"hip", "spine", "leg", "head"}) {
    const int32_t parent = name[0] == 'h' && name[1] == 'i' ? -1 : (name[0] == 'h' ? 1 : 0);
    ASSERT_TRUE(cvPose_AddJoint(pose.get(), parent, name, &up, nullptr));
  }
  cvPose_GetAllJointTransforms(pose.get());
  MotionPtr motion(MakeMotion("m", {"hip", "spine", "leg", "head"}, 0.4f, 1.0f, 1));
  ASSERT_TRUE(motion);
  const uint32_t before = pose->ComputeCount;
  ASSERT_TRUE(cvPose_SetMotionForJoint(pose.get(), motion.get(), 0.0f, nullptr, 3));
  const cvXForm3d head = WorldOf(pose.get(), 3);
  EXPECT_EQ(pose->ComputeCount, before + 3);  // hip, spine, head
  // The leg was not sampled, but it hangs from the moved hip.
  PosePtr reference(cvPose_Create());
  for (int i = 0; i < 4; ++i) {
    const int32_t parent = i == 0 ? -1 : (i == 3 ? 1 : 0);
    ASSERT_TRUE(cvPose_AddJoint(reference.get(), parent, nullptr, &up, nullptr));
  }
  for (int i : {0, 1, 3}) {
    cvXForm3d local;
    ASSERT_TRUE(cvPose_GetJointLocalTransform(pose.get(), i, &local));
    ASSERT_TRUE(cvPose_SetJointLocalTransform(reference.get(), i, &local));
  }
  ExpectNear(head, WorldOf(reference.get(), 3), "head");
  ExpectNear(WorldOf(pose.get(), 2), WorldOf(reference.get(), 2), "leg");
}

TEST(Pose, HangingFromAnotherPoseFollowsItsJoint) {
  PosePtr body = ThreeJoints();
  PosePtr sword = ThreeJoints();
  const cvXForm3d grip = Turn(0.2f, 0.1f, 0.5f, 0, 0);
  ASSERT_TRUE(cvPose_Attach(sword.get(), -1, body.get(), 2, &grip));
  const cvXForm3d a = Translation(0, 1, 0);
  // Root of the sword = hand · grip; its joint 0 hangs from that.
  ExpectNear(WorldOf(sword.get(), 0), Mul(Mul(WorldOf(body.get(), 2), grip), a), "sword");
  // Moving the hand (not the body's root) moves the sword.
  const cvXForm3d bend = Turn(1.0f, 0, 0, 0, 0);
  ASSERT_TRUE(cvPose_SetJointLocalTransform(body.get(), 1, &bend));
  ExpectNear(WorldOf(sword.get(), 0), Mul(Mul(WorldOf(body.get(), 2), grip), a), "moved hand");
  // Moving the body's root moves it too.
  const cvXForm3d away = Translation(10, 0, 0);
  ASSERT_TRUE(cvPose_Clear(body.get(), &away));
  ExpectNear(WorldOf(sword.get(), 0), Mul(Mul(WorldOf(body.get(), 2), grip), a), "moved body");
  ASSERT_TRUE(cvPose_Detach(sword.get()));
  EXPECT_FLOAT_EQ(WorldOf(sword.get(), 0).T.Y, 1.0f);
}

TEST(Pose, HangingByAJointPutsThatJointOnTheAnchor) {
  PosePtr body = ThreeJoints();
  PosePtr prop = ThreeJoints();
  const cvXForm3d grip = Turn(0.4f, 0, 0.25f, 0.5f, 0);
  ASSERT_TRUE(cvPose_Attach(prop.get(), 1, body.get(), 2, &grip));
  const cvXForm3d anchor = Mul(WorldOf(body.get(), 2), grip);
  ExpectNear(WorldOf(prop.get(), 1), anchor, "attach joint");
  // The other joints keep their places relative to the attach joint.
  const cvXForm3d c = Turn(0.7f, 0.0f, 0, 2, 0);
  ExpectNear(WorldOf(prop.get(), 2), Mul(anchor, c), "child");
  // Asking again changes nothing.
  ExpectNear(WorldOf(prop.get(), 2), Mul(anchor, c), "child again");
}

TEST(Pose, AttachRefusesCycles) {
  PosePtr a = ThreeJoints();
  PosePtr b = ThreeJoints();
  EXPECT_FALSE(cvPose_Attach(a.get(), -1, a.get(), 0, nullptr));
  EXPECT_LOGGED(-1);
  ASSERT_TRUE(cvPose_Attach(b.get(), -1, a.get(), 0, nullptr));
  EXPECT_FALSE(cvPose_Attach(a.get(), -1, b.get(), 0, nullptr));
  EXPECT_LOGGED(-1);
  EXPECT_EQ(a->ParentPose, nullptr);
}

// A pose keeps no pointer to a pose that is gone: destroying a parent frees
// the poses hung from it, destroying a hanging pose leaves its parent's list,
// and moving a pose to another parent leaves the first one's list.
TEST(Pose, DestroyingAPoseDetachesThePosesHungFromIt) {
  PosePtr body = ThreeJoints();
  PosePtr other = ThreeJoints();
  PosePtr sword = ThreeJoints();
  PosePtr shield = ThreeJoints();
  PosePtr dagger = ThreeJoints();
  const cvXForm3d away = Translation(10, 0, 0);
  ASSERT_TRUE(cvPose_Clear(body.get(), &away));
  ASSERT_TRUE(cvPose_Attach(sword.get(), 1, body.get(), 2, nullptr));
  ASSERT_TRUE(cvPose_Attach(shield.get(), -1, body.get(), -1, nullptr));
  ASSERT_TRUE(cvPose_Attach(shield.get(), -1, body.get(), 0, nullptr));  // again: listed once
  ASSERT_TRUE(cvPose_Attach(dagger.get(), -1, sword.get(), 2, nullptr));
  ASSERT_TRUE(cvPose_Attach(dagger.get(), -1, other.get(), 0, nullptr));  // moves away from the sword
  EXPECT_FLOAT_EQ(WorldOf(shield.get(), 0).T.X, 10.0f);

  body.reset();
  EXPECT_EQ(sword->ParentPose, nullptr);
  EXPECT_EQ(shield->ParentPose, nullptr);
  EXPECT_EQ(sword->HasAttachJoint, 0);
  // Free again: joint 0 sits one unit up from an identity root.
  ExpectNear(WorldOf(sword.get(), 0), Translation(0, 1, 0), "sword");
  ExpectNear(WorldOf(shield.get(), 0), Translation(0, 1, 0), "shield");

  sword.reset();  // the dagger no longer hangs from it
  EXPECT_EQ(dagger->ParentPose, other.get());
  ASSERT_TRUE(cvPose_Attach(shield.get(), -1, dagger.get(), 0, nullptr));
  dagger.reset();  // leaves the other pose's list and lets the shield go
  EXPECT_EQ(other->FirstHung, nullptr);
  EXPECT_EQ(shield->ParentPose, nullptr);
  other.reset();
  ExpectNear(WorldOf(shield.get(), 0), Translation(0, 1, 0), "shield at the end");
}

TEST(Pose, MotionWithMatchingNamesSetsJointsByIndexWithScaledTranslation) {
  PosePtr pose = ThreeJoints();
  MotionPtr motion(MakeMotion("walk", {"a", "b", "c"}, 0.3f, 0.5f, 1));
  ASSERT_TRUE(motion);
  ASSERT_TRUE(cvPose_MatchesMotion(pose.get(), motion.get()));
  const cvVec3d scale{2, 3, 4};
  ASSERT_TRUE(cvPose_SetScale(pose.get(), &scale));
  ASSERT_TRUE(cvPose_SetMotion(pose.get(), motion.get(), 0.0f, nullptr));
  for (int i = 0; i < 3; ++i) {
    cvXForm3d local, expected;
    ASSERT_TRUE(cvPose_GetJointLocalTransform(pose.get(), i, &local));
    cvXForm3d_SetZRotation(&expected, 0.3f * (float)(i + 1));
    expected.T = {0.5f * (float)(i + 1) * 2.0f, 0, 0};
    ExpectNear(local, expected, "joint", i);
  }
}

TEST(Pose, MotionWithOtherNamesMatchesByNameAndLeavesOthersAlone) {
  PosePtr pose = ThreeJoints();
  const cvXForm3d kept = Turn(1.1f, 0, 0, 0, 7);
  ASSERT_TRUE(cvPose_SetJointLocalTransform(pose.get(), 1, &kept));
  MotionPtr motion(MakeMotion("wave", {"c", "a", "tail"}, 0.3f, 0.5f, 1));
  ASSERT_FALSE(cvPose_MatchesMotion(pose.get(), motion.get()));
  ASSERT_TRUE(cvPose_SetMotion(pose.get(), motion.get(), 0.0f, nullptr));
  cvXForm3d local;
  ASSERT_TRUE(cvPose_GetJointLocalTransform(pose.get(), 2, &local));  // "c": path 0
  EXPECT_NEAR(local.T.X, 0.5f, 1e-5);
  ASSERT_TRUE(cvPose_GetJointLocalTransform(pose.get(), 0, &local));  // "a": path 1
  EXPECT_NEAR(local.T.X, 1.0f, 1e-5);
  ASSERT_TRUE(cvPose_GetJointLocalTransform(pose.get(), 1, &local));  // "b": untouched
  ExpectNear(local, kept, "b");
  // Without maintained names nothing can be matched at all.
  MotionPtr anonymous(MakeMotion("anon", {"a", "b", "c"}, 0.3f, 0.5f, 0));
  ASSERT_FALSE(cvPose_MatchesMotion(pose.get(), anonymous.get()));
  ASSERT_TRUE(cvPose_SetMotion(pose.get(), anonymous.get(), 0.0f, nullptr));
  ASSERT_TRUE(cvPose_GetJointLocalTransform(pose.get(), 1, &local));
  ExpectNear(local, kept, "b after anonymous");
}

TEST(Pose, BlendWeightAndBlendedJoints) {
  EXPECT_FLOAT_EQ(cvPose_BlendWeight(0.5f, 1), 0.5f);
  EXPECT_FLOAT_EQ(cvPose_BlendWeight(0.25f, 1), 0.15625f);
  EXPECT_FLOAT_EQ(cvPose_BlendWeight(0.25f, 0), 0.25f);
  MotionPtr motion(MakeMotion("walk", {"a", "b", "c"}, 0.8f, 2.0f, 1));

  PosePtr set = ThreeJoints();
  ASSERT_TRUE(cvPose_SetMotion(set.get(), motion.get(), 0.0f, nullptr));

  PosePtr none = ThreeJoints();
  ASSERT_TRUE(cvPose_BlendMotion(none.get(), motion.get(), 0.0f, nullptr, 0.0f, 1));
  PosePtr full = ThreeJoints();
  ASSERT_TRUE(cvPose_BlendMotion(full.get(), motion.get(), 0.0f, nullptr, 1.0f, 1));
  PosePtr smooth = ThreeJoints();
  ASSERT_TRUE(cvPose_BlendMotion(smooth.get(), motion.get(), 0.0f, nullptr, 0.25f, 1));
  PosePtr linear = ThreeJoints();
  ASSERT_TRUE(cvPose_BlendMotion(linear.get(), motion.get(), 0.0f, nullptr, 0.25f, 0));
  const cvXForm3d identity = Translation(0, 0, 0);
  for (int i = 0; i < 3; ++i) {
    cvXForm3d local;
    ASSERT_TRUE(cvPose_GetJointLocalTransform(none.get(), i, &local));
    ExpectNear(local, identity, "amount 0", i);
    ExpectNear(WorldOf(full.get(), i), WorldOf(set.get(), i), "amount 1", i);
    const float target = 2.0f * (float)(i + 1);
    ASSERT_TRUE(cvPose_GetJointLocalTransform(smooth.get(), i, &local));
    EXPECT_NEAR(local.T.X, 0.15625f * target, 1e-5) << i;
    cvXForm3d expected;
    cvXForm3d_SetZRotation(&expected, 0.8f * (float)(i + 1) * 0.15625f);
    for (int c = 0; c < 2; ++c) EXPECT_NEAR(local.M[0][c], expected.M[0][c], 1e-4) << i;
    ASSERT_TRUE(cvPose_GetJointLocalTransform(linear.get(), i, &local));
    EXPECT_NEAR(local.T.X, 0.25f * target, 1e-5) << i;
  }
}

TEST(Pose, RootTransformPlacesAFreePose) {
  PosePtr pose = ThreeJoints();
  const cvXForm3d place = Turn(1.5f, 0, 3, 4, 5);
  ASSERT_TRUE(cvPose_SetMotion(pose.get(), nullptr, 0.0f, &place));
  ExpectNear(WorldOf(pose.get(), -1), place, "root");
  ExpectNear(WorldOf(pose.get(), 0), Mul(place, Translation(0, 1, 0)), "first joint");
}

TEST(Pose, CoveredJointsAreCountedOnce) {
  PosePtr pose = ThreeJoints();
  MotionPtr upper(MakeMotion("upper", {"b", "c"}, 0.1f, 0, 1));
  MotionPtr all(MakeMotion("all", {"a", "b", "c"}, 0.1f, 0, 1));
  ASSERT_TRUE(cvPose_SetCovered(pose.get(), 0));
  EXPECT_EQ(cvPose_CountUncovered(pose.get(), upper.get(), 0), 2);  // full weight: covers b, c
  EXPECT_EQ(cvPose_CountUncovered(pose.get(), all.get(), 1), 1);    // only a is left
  EXPECT_EQ(cvPose_CountUncovered(pose.get(), all.get(), 1), 1);    // kept uncovered
}

TEST(Pose, AddJointRefusesLaterParentsAndSurvivesAllocationFailure) {
  PosePtr pose = ThreeJoints();
  const cvXForm3d up = Translation(0, 1, 0);
  EXPECT_FALSE(cvPose_AddJoint(pose.get(), 3, "x", &up, nullptr));
  const cvXForm3d before = WorldOf(pose.get(), 2);
  cvtest::WalkAllocationFailures(
      9, [&] { return cvPose_AddJoint(pose.get(), 2, "tip", &up, nullptr); },
      [&](int n, int added) {
        EXPECT_FALSE(added) << n;
        EXPECT_LOGGED(82);
        EXPECT_EQ(cvPose_GetJointCount(pose.get()), 3);
      },
      [](int added) { EXPECT_TRUE(added); });
  EXPECT_EQ(cvPose_GetJointCount(pose.get()), 4);
  ExpectNear(WorldOf(pose.get(), 2), before, "old joint kept");
  EXPECT_STREQ(cvPose_GetJointName(pose.get(), 3), "tip");
}
