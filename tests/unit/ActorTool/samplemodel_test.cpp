// The generated sample figure as plain data: skeleton, closed and correctly
// skinned surfaces, materials with painted textures, and motions that move
// the limbs the way an idle stance and a walk should.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <map>
#include <set>
#include <tuple>

#include "sample/samplemodel.h"
#include "sample/sampleshape.h"

using namespace sample;

namespace {

const Model& TheModel() {
  static const Model M = BuildModel();
  return M;
}

// Rest-relative world placement of every bone at one time of a motion
// (keys sampled at the nearest key, which is enough for these checks).
struct Placement {
  std::vector<Quat> R;
  std::vector<Vec3> P;
};

Placement Place(const Model& M, const Motion* Mo, size_t KeyIndex) {
  Placement Out;
  Out.R.resize(M.Bones.size());
  Out.P.resize(M.Bones.size());
  for (size_t B = 0; B < M.Bones.size(); ++B) {
    Quat LR;
    Vec3 LT;
    if (Mo) {
      LR = Mo->Tracks[B][KeyIndex].Rotation;
      LT = Mo->Tracks[B][KeyIndex].Translation;
    }
    const int P = M.Bones[B].Parent;
    const Vec3 Off = Add(M.Bones[B].Offset, LT);
    if (P < 0) {
      Out.R[B] = LR;
      Out.P[B] = Off;
    } else {
      Out.R[B] = Multiply(Out.R[P], LR);
      Out.P[B] = Add(Out.P[P], Rotate(Out.R[P], Off));
    }
  }
  return Out;
}

Vec3 Skin(const Model& M, const Placement& Pl, const Corner& C) {
  return Add(Pl.P[C.Bone], Rotate(Pl.R[C.Bone], Sub(C.Position, M.Bones[C.Bone].Joint)));
}

float AngleOf(Quat Q) { return 2 * std::acos(std::min(1.0f, std::fabs(Q.W))); }

const Motion* FindMotion(const Model& M, const char* Name) {
  for (const Motion& Mo : M.Motions)
    if (Mo.Name == Name) return &Mo;
  return nullptr;
}

}  // namespace

TEST(SampleModel, SkeletonIsAHumanoidHierarchy) {
  const Model& M = TheModel();
  ASSERT_GE(M.Bones.size(), 15u);
  for (const char* Name : {"Hips", "Spine", "Chest", "Neck", "Head", "LeftShoulder", "RightShoulder",
                           "LeftUpperArm", "LeftLowerArm", "LeftHand", "RightUpperArm", "RightLowerArm",
                           "RightHand", "LeftUpperLeg", "LeftLowerLeg", "LeftFoot", "RightUpperLeg",
                           "RightLowerLeg", "RightFoot"})
    EXPECT_GE(FindBone(M.Bones, Name), 0) << Name;
  EXPECT_EQ(M.Bones[0].Name, "Hips");
  EXPECT_EQ(M.Bones[0].Parent, -1);
  for (size_t B = 1; B < M.Bones.size(); ++B) {
    ASSERT_GE(M.Bones[B].Parent, 0) << M.Bones[B].Name << " is a second root";
    ASSERT_LT(M.Bones[B].Parent, (int)B) << M.Bones[B].Name << " comes before its parent";
    const Vec3 Expect = Add(M.Bones[M.Bones[B].Parent].Joint, M.Bones[B].Offset);
    EXPECT_LT(Length(Sub(Expect, M.Bones[B].Joint)), 1e-4f) << M.Bones[B].Name;
  }
  // Left and right mirror each other; the head is above the hips, the feet below.
  const Vec3 L = M.Bones[FindBone(M.Bones, "LeftHand")].Joint, R = M.Bones[FindBone(M.Bones, "RightHand")].Joint;
  EXPECT_FLOAT_EQ(L.X, -R.X);
  EXPECT_GT(R.X, 0);  // +X is the figure's right
  EXPECT_GT(M.Bones[FindBone(M.Bones, "Head")].Joint.Y, 60);
  EXPECT_LT(M.Bones[FindBone(M.Bones, "LeftFoot")].Joint.Y, 6);
}

TEST(SampleModel, MeshSizeAndRangesFitABody) {
  const Model& M = TheModel();
  EXPECT_GE(M.Triangles.size(), 3000u);
  EXPECT_LE(M.Triangles.size(), 9000u);
  std::set<int> BonesUsed;
  Vec3 Min{1e9, 1e9, 1e9}, Max{-1e9, -1e9, -1e9};
  for (const Triangle& T : M.Triangles) {
    ASSERT_GE(T.Material, 0);
    ASSERT_LT(T.Material, (int)M.Materials.size());
    for (const Corner& C : T.C) {
      ASSERT_GE(C.Bone, 0);
      ASSERT_LT(C.Bone, (int)M.Bones.size());
      BonesUsed.insert(C.Bone);
      EXPECT_TRUE(C.U >= 0 && C.U <= 1 && C.V >= 0 && C.V <= 1);
      EXPECT_NEAR(Length(C.Normal), 1.0f, 1e-3f);
      Min = {std::min(Min.X, C.Position.X), std::min(Min.Y, C.Position.Y), std::min(Min.Z, C.Position.Z)};
      Max = {std::max(Max.X, C.Position.X), std::max(Max.Y, C.Position.Y), std::max(Max.Z, C.Position.Z)};
    }
  }
  EXPECT_EQ(BonesUsed.size(), M.Bones.size()) << "every bone carries some of the figure";
  EXPECT_NEAR(Min.Y, 0.0f, 0.5f);   // standing on the ground
  EXPECT_NEAR(Max.Y, 72.0f, 3.0f);  // about 72 units tall
  EXPECT_LT(Max.X - Min.X, 30.0f);
  // Distinct corners (what the body will keep as vertices) stay within a body's limits.
  std::set<std::tuple<int, int, int, int, int, int>> Distinct;
  for (const Triangle& T : M.Triangles)
    for (const Corner& C : T.C)
      Distinct.insert({(int)std::lround(C.Position.X * 1000), (int)std::lround(C.Position.Y * 1000),
                       (int)std::lround(C.Position.Z * 1000), (int)std::lround(C.U * 1000),
                       (int)std::lround(C.V * 1000), C.Bone});
  EXPECT_LT(Distinct.size(), 32767u);
}

TEST(SampleModel, EveryPieceIsClosedAndFacesOutward) {
  const Model& M = TheModel();
  // Per piece, with corners welded by position: every directed edge appears
  // once and its reverse once (closed, consistently wound), and the corner
  // normals agree with the face's own normal.
  std::map<int, std::map<std::pair<long, long>, int>> Edges;
  std::map<std::tuple<long, long, long>, long> Ids;
  auto Id = [&](Vec3 P) {
    auto K = std::make_tuple(std::lround(P.X * 1000), std::lround(P.Y * 1000), std::lround(P.Z * 1000));
    auto It = Ids.find(K);
    if (It != Ids.end()) return It->second;
    const long N = (long)Ids.size();
    Ids[K] = N;
    return N;
  };
  int Backwards = 0;
  for (const Triangle& T : M.Triangles) {
    long I[3] = {Id(T.C[0].Position), Id(T.C[1].Position), Id(T.C[2].Position)};
    ASSERT_TRUE(I[0] != I[1] && I[1] != I[2] && I[0] != I[2])
        << "degenerate triangle in " << M.PartNames[T.Part] << " at " << T.C[0].Position.X << ","
        << T.C[0].Position.Y << "," << T.C[0].Position.Z << " / " << T.C[1].Position.X << ","
        << T.C[1].Position.Y << "," << T.C[1].Position.Z << " / " << T.C[2].Position.X << ","
        << T.C[2].Position.Y << "," << T.C[2].Position.Z;
    for (int K = 0; K < 3; ++K) ++Edges[T.Part][{I[K], I[(K + 1) % 3]}];
    const Vec3 Face = Cross(Sub(T.C[1].Position, T.C[0].Position), Sub(T.C[2].Position, T.C[0].Position));
    for (const Corner& C : T.C)
      if (Dot(Face, C.Normal) <= 0) ++Backwards;
  }
  EXPECT_LT(Backwards, (int)M.Triangles.size() / 100) << "corner normals against their faces";
  for (auto& [Part, E] : Edges) {
    int Open = 0;
    for (auto& [Edge, Count] : E) {
      const auto Rev = E.find({Edge.second, Edge.first});
      if (Count != 1 || Rev == E.end() || Rev->second != 1) ++Open;
    }
    EXPECT_EQ(Open, 0) << M.PartNames[Part] << " is not closed";
  }
}

TEST(SampleModel, SkinningKeepsTheSurfaceTogetherWhileWalking) {
  // A corner given to the wrong bone would fly away from its neighbours as
  // soon as the limbs move; edges of the moving figure must stay close to
  // their rest length.
  const Model& M = TheModel();
  const Motion* Walk = FindMotion(M, "walk");
  ASSERT_NE(Walk, nullptr);
  const Placement Rest = Place(M, nullptr, 0);
  for (size_t K = 0; K < Walk->Tracks[0].size(); K += 2) {
    const Placement Pl = Place(M, Walk, K);
    float Worst = 0;
    for (const Triangle& T : M.Triangles)
      for (int E = 0; E < 3; ++E) {
        const Corner &A = T.C[E], &B = T.C[(E + 1) % 3];
        const float L0 = Length(Sub(Skin(M, Rest, A), Skin(M, Rest, B)));
        const float L1 = Length(Sub(Skin(M, Pl, A), Skin(M, Pl, B)));
        Worst = std::max(Worst, std::fabs(L1 - L0));
      }
    EXPECT_LT(Worst, 1.5f) << "key " << K;
  }
  // At rest the skinning reproduces the modelled positions exactly.
  for (const Triangle& T : M.Triangles)
    for (const Corner& C : T.C) ASSERT_LT(Length(Sub(Skin(M, Rest, C), C.Position)), 1e-3f);
}

TEST(SampleModel, MaterialsCarryPaintedTextures) {
  const Model& M = TheModel();
  ASSERT_GE(M.Materials.size(), 4u);
  int Textured = 0, Plain = 0;
  std::set<std::string> Names;
  std::vector<int> Uses(M.Materials.size());
  for (const Triangle& T : M.Triangles) ++Uses[T.Material];
  for (size_t I = 0; I < M.Materials.size(); ++I) {
    const Material& Mat = M.Materials[I];
    EXPECT_TRUE(Names.insert(Mat.Name).second) << "duplicate material " << Mat.Name;
    EXPECT_GT(Uses[I], 0) << Mat.Name << " is unused";
    if (Mat.Texture < 0) {
      ++Plain;
      continue;
    }
    ++Textured;
    ASSERT_LT(Mat.Texture, (int)M.Textures.size());
    const Texture& T = M.Textures[Mat.Texture];
    ASSERT_EQ(T.Rgb.size(), (size_t)T.Width * T.Height * 3);
    // Painted detail, not a flat colour: many colours and strong contrast.
    std::set<uint32_t> Colours;
    int Lo = 255, Hi = 0;
    for (size_t P = 0; P < T.Rgb.size(); P += 3) {
      Colours.insert(T.Rgb[P] << 16 | T.Rgb[P + 1] << 8 | T.Rgb[P + 2]);
      const int Luma = (T.Rgb[P] * 3 + T.Rgb[P + 1] * 6 + T.Rgb[P + 2]) / 10;
      Lo = std::min(Lo, Luma);
      Hi = std::max(Hi, Luma);
    }
    EXPECT_GT(Colours.size(), 300u) << Mat.Name;
    EXPECT_GT(Hi - Lo, 100) << Mat.Name;
  }
  EXPECT_GE(Textured, 3);
  EXPECT_GE(Plain, 1);
  // The face has dark pupils where the eyes are and red lips at the mouth.
  const Texture& Face = M.Textures[M.Materials[0].Texture];
  auto At = [&](float U, float V) {
    const uint8_t* P = &Face.Rgb[((size_t)(V * Face.Height) * Face.Width + (size_t)(U * Face.Width)) * 3];
    return std::array<int, 3>{P[0], P[1], P[2]};
  };
  using namespace sample::shape;
  for (float Side : {-1.0f, 1.0f}) {
    const auto Pupil = At(0.5f + Side * EyeAngle / (2 * Pi), HeadV(EyeY));
    EXPECT_LT(Pupil[0] + Pupil[1] + Pupil[2], 150);
  }
  const auto Lips = At(0.5f, HeadV(MouthY) + 0.008f);
  EXPECT_GT(Lips[0], Lips[1] + 60);
}

TEST(SampleModel, IdleBreathesAndWalkSwingsTheLimbs) {
  const Model& M = TheModel();
  const Motion* Idle = FindMotion(M, "idle");
  const Motion* Walk = FindMotion(M, "walk");
  ASSERT_NE(Idle, nullptr);
  ASSERT_NE(Walk, nullptr);
  for (const Motion* Mo : {Idle, Walk}) {
    ASSERT_EQ(Mo->Tracks.size(), M.Bones.size());
    for (const auto& Track : Mo->Tracks) {
      ASSERT_GE(Track.size(), 2u);
      for (size_t K = 1; K < Track.size(); ++K) ASSERT_GT(Track[K].Time, Track[K - 1].Time + 1e-4f);
      for (const Key& K : Track)
        EXPECT_NEAR(K.Rotation.W * K.Rotation.W + K.Rotation.X * K.Rotation.X +
                        K.Rotation.Y * K.Rotation.Y + K.Rotation.Z * K.Rotation.Z, 1.0f, 1e-4f);
      // A loop ends where it starts.
      const Key &A = Track.front(), &B = Track.back();
      EXPECT_NEAR(std::fabs(A.Rotation.W * B.Rotation.W + A.Rotation.X * B.Rotation.X +
                            A.Rotation.Y * B.Rotation.Y + A.Rotation.Z * B.Rotation.Z), 1.0f, 1e-5f);
      EXPECT_LT(Length(Sub(A.Translation, B.Translation)), 1e-5f);
    }
  }
  auto Range = [&](const Motion* Mo, const char* Bone) {
    float Most = 0;
    for (const Key& K : Mo->Tracks[FindBone(M.Bones, Bone)]) Most = std::max(Most, AngleOf(K.Rotation));
    return Most * 180 / 3.14159265f;
  };
  // Walking: the thighs swing through a wide arc, the knees bend, the arms swing.
  EXPECT_GT(Range(Walk, "RightUpperLeg"), 20);
  EXPECT_GT(Range(Walk, "LeftLowerLeg"), 30);
  EXPECT_GT(Range(Walk, "LeftUpperArm"), 15);
  // The feet travel forward and back by several units, and the thighs
  // alternate: when one swings forward the other is back.
  const int RF = FindBone(M.Bones, "RightFoot");
  const int RT = FindBone(M.Bones, "RightUpperLeg"), LT = FindBone(M.Bones, "LeftUpperLeg");
  float MinZ = 1e9f, MaxZ = -1e9f;
  int Opposed = 0;
  for (size_t K = 0; K < Walk->Tracks[0].size(); ++K) {
    const Placement Pl = Place(M, Walk, K);
    MinZ = std::min(MinZ, Pl.P[RF].Z);
    MaxZ = std::max(MaxZ, Pl.P[RF].Z);
    const float R = Walk->Tracks[RT][K].Rotation.X, L = Walk->Tracks[LT][K].Rotation.X;
    if (std::fabs(R) > 0.1f && std::fabs(L) > 0.1f) {  // both clearly off the vertical
      EXPECT_LT(R * L, 0) << "key " << K;
      ++Opposed;
    }
  }
  EXPECT_GT(Opposed, 4);
  EXPECT_GT(MaxZ - MinZ, 10);
  // Idle: everything moves a little, nothing much.
  EXPECT_GT(Range(Idle, "Head"), 3);
  EXPECT_GT(Range(Idle, "Chest"), 0.5f);
  for (const Bone& B : M.Bones) EXPECT_LT(Range(Idle, B.Name.c_str()), 16) << B.Name;
}
