// Motions of the sample figure, as key lists per bone:
//  - "idle": four seconds of standing: breathing in the chest and shoulders,
//    a slow shift of weight from foot to foot, the head looking around;
//  - "walk": a one-second walk cycle on the spot: legs stride and bend at the
//    knee, arms swing against the legs, hips bob and turn, the chest turns back.
// Both loop: the last key repeats the first.
#include <cmath>

#include "sample/samplemodel.h"
#include "sample/sampleshape.h"

namespace sample {

using shape::Pi;

Quat AxisAngle(Vec3 Axis, float Angle) {
  Axis = Normalize(Axis);
  const float S = std::sin(Angle / 2);
  return {std::cos(Angle / 2), Axis.X * S, Axis.Y * S, Axis.Z * S};
}

Quat Multiply(Quat A, Quat B) {
  return {A.W * B.W - A.X * B.X - A.Y * B.Y - A.Z * B.Z,
          A.W * B.X + A.X * B.W + A.Y * B.Z - A.Z * B.Y,
          A.W * B.Y - A.X * B.Z + A.Y * B.W + A.Z * B.X,
          A.W * B.Z + A.X * B.Y - A.Y * B.X + A.Z * B.W};
}

Vec3 Rotate(Quat Q, Vec3 V) {
  const Quat P{0, V.X, V.Y, V.Z};
  const Quat C{Q.W, -Q.X, -Q.Y, -Q.Z};
  const Quat R = Multiply(Multiply(Q, P), C);
  return {R.X, R.Y, R.Z};
}

namespace {

constexpr float Deg = Pi / 180.0f;

// A joint's local turn from angles about the X (pitch: positive swings a
// hanging limb forward, towards -Z), Y (turn) and Z (roll) axes, in degrees.
Quat Euler(float X, float Y, float Z) {
  return Multiply(AxisAngle({0, 1, 0}, Y * Deg),
                  Multiply(AxisAngle({1, 0, 0}, X * Deg), AxisAngle({0, 0, 1}, Z * Deg)));
}

struct Pose {
  std::vector<Quat> R;
  std::vector<Vec3> T;
};

template <typename F>
Motion Sample(const std::string& Name, const std::vector<Bone>& Bones, float Length, int Steps, F&& PoseAt) {
  Motion M;
  M.Name = Name;
  M.Looped = true;
  M.Tracks.resize(Bones.size());
  for (int I = 0; I <= Steps; ++I) {
    const float Time = Length * (float)I / (float)Steps;
    Pose P;
    P.R.assign(Bones.size(), Quat{});
    P.T.assign(Bones.size(), Vec3{});
    // The last key is the first again, so the loop closes exactly.
    PoseAt((float)(I % Steps) / (float)Steps * 2 * Pi, &P);
    for (size_t B = 0; B < Bones.size(); ++B) M.Tracks[B].push_back({Time, P.R[B], P.T[B]});
  }
  return M;
}

}  // namespace

std::vector<Motion> BuildMotions(const std::vector<Bone>& Bones) {
  auto B = [&](const char* Name) { return FindBone(Bones, Name); };
  std::vector<Motion> Motions;

  Motions.push_back(Sample("idle", Bones, 4.0f, 16, [&](float Phase, Pose* P) {
    const float Breath = std::sin(2 * Phase);  // two breaths per loop
    const float Sway = std::sin(Phase);
    // Weight shift: hips slide and tilt, the legs lean back to keep the feet
    // where they stand, the spine leans the other way.
    const float Shift = 0.7f * Sway, Tilt = 2.0f * Sway;
    P->T[B("Hips")] = {Shift, -0.15f * std::fabs(Sway), 0};
    P->R[B("Hips")] = Euler(0, 2.0f * std::sin(Phase + 0.6f), Tilt);
    P->R[B("Spine")] = Euler(0.6f * Breath, 0, -1.5f * Tilt);
    P->R[B("Chest")] = Euler(-1.2f * Breath, 0, 0.3f * Tilt);
    P->R[B("Neck")] = Euler(1.0f * std::sin(Phase + 1.0f), 0, 0);
    P->R[B("Head")] = Euler(2.5f * std::sin(3 * Phase), 12.0f * std::sin(Phase + 1.3f), 0.2f * Tilt);
    const float LegLean = -Tilt - Shift / 33.0f / Deg;
    P->R[B("RightUpperLeg")] = Euler(0, 0, LegLean);
    P->R[B("LeftUpperLeg")] = Euler(0, 0, LegLean);
    P->R[B("RightFoot")] = Euler(0, 0, -LegLean);
    P->R[B("LeftFoot")] = Euler(0, 0, -LegLean);
    for (int Side = 0; Side < 2; ++Side) {
      const float S = Side == 0 ? 1.0f : -1.0f;
      const std::string Pre = Side == 0 ? "Right" : "Left";
      P->T[B((Pre + "Shoulder").c_str())] = {0, 0.25f * (Breath + 1) * 0.5f, 0};
      P->R[B((Pre + "UpperArm").c_str())] = Euler(3.0f * std::sin(Phase + Side * 1.4f), 0, S * 2.0f * (1 + Breath) * 0.5f);
      P->R[B((Pre + "LowerArm").c_str())] = Euler(8.0f + 3.0f * std::sin(Phase + 0.5f + Side), 0, 0);
      P->R[B((Pre + "Hand").c_str())] = Euler(4.0f * std::sin(Phase + 2.0f), S * 5.0f, 0);
    }
  }));

  Motions.push_back(Sample("walk", Bones, 1.0f, 16, [&](float Phase, Pose* P) {
    const float Stride = std::sin(Phase);
    P->T[B("Hips")] = {0.5f * std::sin(Phase + Pi / 2), 0.8f * std::cos(2 * Phase) - 0.4f, 0};
    P->R[B("Hips")] = Euler(0, 7.0f * Stride, 2.5f * std::cos(Phase));
    P->R[B("Spine")] = Euler(-4.0f, -6.0f * Stride, -2.0f * std::cos(Phase));
    P->R[B("Chest")] = Euler(-1.0f + 1.5f * std::cos(2 * Phase), -6.0f * Stride, 0);
    P->R[B("Neck")] = Euler(2.0f, 2.0f * Stride, 0);
    P->R[B("Head")] = Euler(3.0f - 1.5f * std::cos(2 * Phase), 3.0f * Stride, 0);
    for (int Side = 0; Side < 2; ++Side) {
      // The right leg leads when the phase starts; the left one half a cycle later.
      const float Ph = Phase + (Side == 0 ? 0.0f : Pi);
      const float S = Side == 0 ? 1.0f : -1.0f;
      const std::string Pre = Side == 0 ? "Right" : "Left";
      const float Swing = std::sin(Ph);
      // Knee bends most while the leg swings through (hip moving forward).
      const float Lift = std::max(0.0f, std::cos(Ph - 0.3f));
      P->R[B((Pre + "UpperLeg").c_str())] = Euler(28.0f * Swing + 6.0f * Lift, 0, 0);
      P->R[B((Pre + "LowerLeg").c_str())] = Euler(-4.0f - 55.0f * Lift * Lift, 0, 0);
      P->R[B((Pre + "Foot").c_str())] = Euler(10.0f * std::sin(Ph + 0.9f) + 10.0f * Lift, 0, 0);
      // Arms swing against the leg of their own side.
      P->R[B((Pre + "Shoulder").c_str())] = Euler(0, -3.0f * Swing, 0);
      P->R[B((Pre + "UpperArm").c_str())] = Euler(-24.0f * Swing, 0, S * 3.0f);
      P->R[B((Pre + "LowerArm").c_str())] = Euler(18.0f - 14.0f * Swing, 0, 0);
      P->R[B((Pre + "Hand").c_str())] = Euler(-5.0f * Swing, S * 4.0f, 0);
    }
  }));
  return Motions;
}

Model BuildModel() {
  Model M;
  M.Bones = BuildSkeleton();
  M.Triangles = BuildMesh(M.Bones, &M.PartNames);
  BuildMaterials(&M.Materials, &M.Textures);
  M.Motions = BuildMotions(M.Bones);
  return M;
}

}  // namespace sample
