// Skeleton and surfaces of the sample figure. Every body piece is a closed
// surface swept around an axis (lathe and capsule shapes, some of them
// deformed for a nose, ears, calves or the shape of a shoe), so that the
// figure stays closed wherever a limb turns at its joint: neighbouring pieces
// overlap at the joints instead of sharing an edge.
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include "sample/samplemodel.h"
#include "sample/sampleshape.h"

namespace sample {

using namespace shape;

Vec3 Add(Vec3 A, Vec3 B) { return {A.X + B.X, A.Y + B.Y, A.Z + B.Z}; }
Vec3 Sub(Vec3 A, Vec3 B) { return {A.X - B.X, A.Y - B.Y, A.Z - B.Z}; }
Vec3 Scale(Vec3 A, float S) { return {A.X * S, A.Y * S, A.Z * S}; }
Vec3 Cross(Vec3 A, Vec3 B) {
  return {A.Y * B.Z - A.Z * B.Y, A.Z * B.X - A.X * B.Z, A.X * B.Y - A.Y * B.X};
}
float Dot(Vec3 A, Vec3 B) { return A.X * B.X + A.Y * B.Y + A.Z * B.Z; }
float Length(Vec3 A) { return std::sqrt(Dot(A, A)); }
Vec3 Normalize(Vec3 A) {
  float L = Length(A);
  return L > 0 ? Scale(A, 1.0f / L) : A;
}

int FindBone(const std::vector<Bone>& Bones, const std::string& Name) {
  for (size_t I = 0; I < Bones.size(); ++I)
    if (Bones[I].Name == Name) return (int)I;
  return -1;
}

std::vector<Bone> BuildSkeleton() {
  std::vector<Bone> Bones;
  auto Add = [&](const char* Name, const char* Parent, Vec3 Joint) {
    Bone B;
    B.Name = Name;
    B.Parent = Parent ? FindBone(Bones, Parent) : -1;
    B.Joint = Joint;
    B.Offset = B.Parent < 0 ? Joint : Sub(Joint, Bones[B.Parent].Joint);
    Bones.push_back(B);
  };
  Add("Hips", nullptr, {0, 38, 0});
  Add("Spine", "Hips", {0, 43, 0});
  Add("Chest", "Spine", {0, 50, 0});
  Add("Neck", "Chest", {0, 60, 0});
  Add("Head", "Neck", {0, 64, 0});
  // +X is the figure's right.
  for (int Side = 0; Side < 2; ++Side) {
    const float S = Side == 0 ? 1.0f : -1.0f;
    const std::string P = Side == 0 ? "Right" : "Left";
    Add((P + "Shoulder").c_str(), "Chest", {S * 2.5f, 58.5f, 0});
    Add((P + "UpperArm").c_str(), (P + "Shoulder").c_str(), {S * 8.8f, 58.3f, 0.3f});
    Add((P + "LowerArm").c_str(), (P + "UpperArm").c_str(), {S * 10.4f, 46.6f, 0.6f});
    Add((P + "Hand").c_str(), (P + "LowerArm").c_str(), {S * 11.4f, 35.6f, 0.1f});
  }
  for (int Side = 0; Side < 2; ++Side) {
    const float S = Side == 0 ? 1.0f : -1.0f;
    const std::string P = Side == 0 ? "Right" : "Left";
    Add((P + "UpperLeg").c_str(), "Hips", {S * 4.2f, 36.5f, 0});
    Add((P + "LowerLeg").c_str(), (P + "UpperLeg").c_str(), {S * 4.4f, 20.2f, 0.2f});
    Add((P + "Foot").c_str(), (P + "LowerLeg").c_str(), {S * 4.5f, 3.9f, 0.6f});
  }
  return Bones;
}

namespace {

struct UV {
  float U, V;
};

// A surface swept around an axis: Point(s, t) for s in [0, 1] around and t in
// [0, 1] along. Rows whose points all coincide (the ends of a capsule) are
// closed with a fan instead of degenerate triangles.
struct Sweep {
  std::string Name;
  int Columns = 16, Rows = 8;
  std::function<Vec3(float S, float T)> Point;
  std::function<int(float T)> BoneAt;                    // bone of a row
  std::function<int(float T)> MaterialAt;                // material of a band (its middle)
  std::function<UV(float S, float T, int Material)> Map; // texture coordinates
};

// Orthonormal frame around Axis: E1 is Ref made perpendicular to the axis,
// E2 = Axis x E1, so that E1 x E2 = Axis and sweeping from E1 towards E2 with
// the axis pointing along the piece gives outward, counter-clockwise faces.
void Frame(Vec3 Axis, Vec3 Ref, Vec3* E1, Vec3* E2) {
  *E1 = Normalize(Sub(Ref, Scale(Axis, Dot(Ref, Axis))));
  *E2 = Cross(Axis, *E1);
}

void Emit(const Sweep& Piece, int PartIndex, std::vector<Triangle>* Out) {
  const int NU = Piece.Columns, NV = Piece.Rows;
  std::vector<Vec3> P((NU + 1) * (NV + 1)), N((NU + 1) * (NV + 1));
  auto At = [&](int I, int J) { return J * (NU + 1) + I; };
  for (int J = 0; J <= NV; ++J)
    for (int I = 0; I <= NU; ++I) P[At(I, J)] = Piece.Point((float)I / NU, (float)J / NV);
  // The seam column repeats the first one exactly.
  for (int J = 0; J <= NV; ++J) P[At(NU, J)] = P[At(0, J)];
  std::vector<bool> Pole(NV + 1);
  for (int J = 0; J <= NV; ++J) {
    float Spread = 0;
    for (int I = 0; I < NU; ++I) Spread = std::max(Spread, Length(Sub(P[At(I, J)], P[At(0, J)])));
    Pole[J] = Spread < 1e-2f;
    if (Pole[J])
      for (int I = 0; I <= NU; ++I) P[At(I, J)] = P[At(0, J)];
  }
  struct Tri {
    int A, B, C, Band;
  };
  std::vector<Tri> Tris;
  for (int J = 0; J < NV; ++J) {
    if (Pole[J] && Pole[J + 1]) continue;
    for (int I = 0; I < NU; ++I) {
      int A = At(I, J), B = At(I + 1, J), C = At(I + 1, J + 1), D = At(I, J + 1);
      if (!Pole[J]) Tris.push_back({A, B, C, J});
      if (!Pole[J + 1]) Tris.push_back({A, C, D, J});
    }
  }
  // Smooth normals: area-weighted face normals summed per grid point, then
  // shared across the seam and over each closed end.
  for (const Tri& T : Tris) {
    Vec3 Face = Cross(Sub(P[T.B], P[T.A]), Sub(P[T.C], P[T.A]));
    for (int K : {T.A, T.B, T.C}) N[K] = Add(N[K], Face);
  }
  for (int J = 0; J <= NV; ++J) {
    Vec3 Sum = Add(N[At(0, J)], N[At(NU, J)]);
    N[At(0, J)] = N[At(NU, J)] = Sum;
    if (Pole[J]) {
      Vec3 All{};
      for (int I = 0; I < NU; ++I) All = Add(All, N[At(I, J)]);
      for (int I = 0; I <= NU; ++I) N[At(I, J)] = All;
    }
  }
  for (Vec3& V : N) V = Normalize(V);
  for (const Tri& T : Tris) {
    Triangle Out1;
    Out1.Part = PartIndex;
    Out1.Material = Piece.MaterialAt(((float)T.Band + 0.5f) / NV);
    int Ks[3] = {T.A, T.B, T.C};
    for (int C = 0; C < 3; ++C) {
      const int I = Ks[C] % (NU + 1), J = Ks[C] / (NU + 1);
      const float S = (float)I / NU, TT = (float)J / NV;
      Corner& Co = Out1.C[C];
      Co.Position = P[Ks[C]];
      Co.Normal = N[Ks[C]];
      Co.Bone = Piece.BoneAt(TT);
      // A pole point gets the middle of its triangle's column so that the
      // texture does not pinch towards one side.
      float SU = S;
      if (Pole[J]) {
        int Other = Ks[(C + 1) % 3] % (NU + 1), Other2 = Ks[(C + 2) % 3] % (NU + 1);
        SU = ((float)std::min(Other, Other2) + 0.5f) / NU;
      }
      UV M = Piece.Map(SU, TT, Out1.Material);
      Co.U = M.U;
      Co.V = M.V;
    }
    Out->push_back(Out1);
  }
}

// Catmull-Rom interpolation through (Y, value) pairs sorted by Y.
float Profile(const std::vector<std::pair<float, float>>& Points, float Y) {
  if (Y <= Points.front().first) return Points.front().second;
  if (Y >= Points.back().first) return Points.back().second;
  size_t I = 0;
  while (Points[I + 1].first < Y) ++I;
  auto V = [&](long K) {
    K = std::clamp(K, 0L, (long)Points.size() - 1);
    return Points[K].second;
  };
  const float F = (Y - Points[I].first) / (Points[I + 1].first - Points[I].first);
  const float P0 = V((long)I - 1), P1 = V((long)I), P2 = V((long)I + 1), P3 = V((long)I + 2);
  return 0.5f * ((2 * P1) + (-P0 + P2) * F + (2 * P0 - 5 * P1 + 4 * P2 - P3) * F * F +
                 (-P0 + 3 * P1 - 3 * P2 + P3) * F * F * F);
}

float Bump(float D0, float W0, float D1, float W1) {
  return std::exp(-(D0 * D0) / (W0 * W0) - (D1 * D1) / (W1 * W1));
}

// Rounded end profile: 1 along the middle, falling to 0 at both ends like a
// capsule whose caps take Cap of the length at each end.
float CapsuleRadius(float T, float CapStart, float CapEnd) {
  if (T <= 0 || T >= 1) return 0;
  if (T < CapStart) {
    float X = 1 - T / CapStart;
    return std::sqrt(std::max(0.0f, 1 - X * X));
  }
  if (T > 1 - CapEnd) {
    float X = (T - (1 - CapEnd)) / CapEnd;
    return std::sqrt(std::max(0.0f, 1 - X * X));
  }
  return 1;
}

}  // namespace

// Material indices, in the order BuildMaterials makes them.
enum { MatFace = 0, MatShirt = 1, MatTrousers = 2, MatShoes = 3, MatSkin = 4 };

std::vector<Triangle> BuildMesh(const std::vector<Bone>& Bones, std::vector<std::string>* PartNames) {
  std::vector<Triangle> Tris;
  std::vector<std::string> Names;
  auto Bone = [&](const std::string& Name) { return FindBone(Bones, Name); };
  auto Piece = [&](Sweep S) {
    Names.push_back(S.Name);
    Emit(S, (int)Names.size() - 1, &Tris);
  };
  const Vec3 Back{0, 0, 1};

  // Torso: hips, belly and chest in one lathe surface. The cross-section is an
  // ellipse (half width, half depth) that follows the profiles below.
  {
    const std::vector<std::pair<float, float>> Width = {
        {31.5f, 5.5f}, {33.5f, 7.4f}, {37.0f, 8.0f}, {42.0f, 7.0f}, {47.0f, 7.3f},
        {53.0f, 8.4f}, {57.5f, 9.2f}, {60.5f, 7.8f}, {62.6f, 3.0f}};
    const std::vector<std::pair<float, float>> Depth = {
        {31.5f, 3.5f}, {33.5f, 4.6f}, {37.0f, 5.0f}, {42.0f, 4.5f}, {47.0f, 4.8f},
        {53.0f, 5.5f}, {57.5f, 4.9f}, {60.5f, 4.0f}, {62.6f, 2.4f}};
    Sweep S;
    S.Name = "torso";
    S.Columns = 28;
    S.Rows = 24;
    auto Height = [](float T) { return TorsoBottomY + (TorsoTopY - TorsoBottomY) * T; };
    S.Point = [=](float U, float T) {
      const float Y = Height(T);
      float W = Profile(Width, Y), D = Profile(Depth, Y);
      // Close both ends: squeeze the last rows into a rounded cap.
      float Close = CapsuleRadius(T, 0.06f, 0.05f);
      const float A = 2 * Pi * U;
      // Slight chest forward of the belly line, seat behind it.
      float ZShift = -0.6f * Bump(Y - 53.0f, 4.0f, 0, 1) + 0.5f * Bump(Y - 35.0f, 3.0f, 0, 1);
      return Vec3{W * Close * std::sin(A), Y, D * Close * std::cos(A) + ZShift};
    };
    S.BoneAt = [&, Height](float T) {
      const float Y = Height(T);
      return Y < 41.0f ? Bone("Hips") : (Y < 49.0f ? Bone("Spine") : Bone("Chest"));
    };
    S.MaterialAt = [Height](float T) { return Height(T) < WaistY ? MatTrousers : MatShirt; };
    S.Map = [Height](float U, float T, int M) {
      const float Y = Height(T);
      if (M == MatTrousers) return UV{U, TrouserHipV * (WaistY - Y) / (WaistY - TorsoBottomY)};
      return UV{U, ShirtTorsoV * (TorsoTopY - Y) / (TorsoTopY - WaistY)};
    };
    Piece(S);
  }

  // Neck.
  {
    Sweep S;
    S.Name = "neck";
    S.Columns = 12;
    S.Rows = 5;
    S.Point = [](float U, float T) {
      const float A = 2 * Pi * U, Y = 58.5f + 7.0f * T, R = 2.6f * CapsuleRadius(T, 0.15f, 0.15f);
      return Vec3{R * std::sin(A), Y, R * 1.05f * std::cos(A) + 0.3f};
    };
    S.BoneAt = [&](float) { return Bone("Neck"); };
    S.MaterialAt = [](float) { return MatSkin; };
    S.Map = [](float U, float T, int) { return UV{U, 1 - T}; };
    Piece(S);
  }

  // Head: an ellipsoid with a narrower jaw, a nose, brows and ears.
  {
    Sweep S;
    S.Name = "head";
    S.Columns = 36;
    S.Rows = 24;
    S.Point = [](float U, float T) {
      const float Phi = Pi * T, A = 2 * Pi * U;
      const float Y = HeadCenterY - HeadRadiusY * std::cos(Phi);
      float Ring = std::sin(Phi);
      // The jaw narrows towards the chin; the back of the skull is fuller.
      float Jaw = T < 0.5f ? 0.78f + 0.44f * T : 1.0f;
      float RX = HeadRadiusX * Jaw, RZ = HeadRadiusZ * (std::cos(A) > 0 ? 1.04f : Jaw);
      float R = 1;
      const float DA = std::remainder(U - 0.5f, 1.0f);  // 0 at the middle of the face
      R += 0.20f * Bump(DA, 0.030f, Y - (NoseY + 0.3f), 0.9f);              // nose
      R += 0.05f * Bump(std::fabs(DA) - 0.06f, 0.05f, Y - BrowY, 0.5f);     // brows
      R -= 0.03f * Bump(std::fabs(DA) - EyeAngle / (2 * Pi), 0.02f, Y - EyeY, 0.45f);  // sockets
      R += 0.02f * Bump(DA, 0.05f, Y - (MouthY - 1.2f), 0.6f);              // chin
      const float DE = std::remainder(U - 0.25f, 0.5f);                      // ears at the sides
      R += 0.16f * Bump(DE, 0.028f, Y - (EyeY - 0.8f), 1.3f);
      return Vec3{RX * R * Ring * std::sin(A), Y, RZ * R * Ring * std::cos(A) - 0.3f};
    };
    S.BoneAt = [&](float) { return Bone("Head"); };
    S.MaterialAt = [](float) { return MatFace; };
    S.Map = [](float U, float T, int) { return UV{U, 1 - T}; };
    Piece(S);
  }

  // Limbs: capsules from joint to joint, reaching a little past both joints
  // so that the pieces overlap when a joint bends.
  auto Limb = [&](const std::string& Name, const std::string& BoneName, Vec3 From, Vec3 To,
                  float R0, float R1, float Flat, float Bulge, int Columns, int Rows,
                  std::function<int(float)> MaterialAt, std::function<UV(float, float, int)> Map,
                  bool DenseEnds = false) {
    Vec3 Axis = Normalize(Sub(To, From)), E1, E2;
    Frame(Axis, Back, &E1, &E2);
    const float Len = Length(Sub(To, From));
    Sweep S;
    S.Name = Name;
    S.Columns = Columns;
    S.Rows = Rows;
    S.Point = [=](float U, float T) {
      const float A = 2 * Pi * U;
      // Short pieces put more rows near their ends so the tips come out round.
      if (DenseEnds) T = 0.5f - 0.5f * std::cos(Pi * T);
      float R = (R0 + (R1 - R0) * T) * (1 + Bulge * std::sin(Pi * std::pow(T, 0.8f)));
      R *= CapsuleRadius(T, std::min(0.45f, R0 / Len), std::min(0.45f, R1 / Len));
      Vec3 C = Add(From, Scale(Axis, Len * T));
      return Add(C, Add(Scale(E1, R * std::cos(A)), Scale(E2, Flat * R * std::sin(A))));
    };
    const int B = Bone(BoneName);
    S.BoneAt = [B](float) { return B; };
    S.MaterialAt = std::move(MaterialAt);
    S.Map = std::move(Map);
    Piece(S);
  };
  auto Const = [](int M) { return [M](float) { return M; }; };
  auto Ext = [](Vec3 A, Vec3 B, float Before, float After, Vec3* From, Vec3* To) {
    Vec3 D = Normalize(Sub(B, A));
    *From = Sub(A, Scale(D, Before));
    *To = Add(B, Scale(D, After));
  };
  for (int Side = 0; Side < 2; ++Side) {
    const std::string P = Side == 0 ? "Right" : "Left";
    const float S = Side == 0 ? 1.0f : -1.0f;
    const Vec3 Sh = Bones[Bone(P + "UpperArm")].Joint, El = Bones[Bone(P + "LowerArm")].Joint;
    const Vec3 Wr = Bones[Bone(P + "Hand")].Joint;
    Vec3 F, T;
    // Shoulder cap: the round of the shirt over the shoulder joint.
    Limb(P + " shoulder", P + "Shoulder", {S * 3.0f, 59.2f, 0.2f}, {S * 10.3f, 57.0f, 0.3f}, 3.1f,
         2.9f, 0.95f, 0.05f, 12, 6, Const(MatShirt),
         [](float U, float T, int) { return UV{U, ShirtSleeveV - 0.02f + 0.04f * T}; });
    Ext(Sh, El, 1.8f, 1.6f, &F, &T);
    Limb(P + " upper arm", P + "UpperArm", F, T, 2.7f, 2.2f, 0.95f, 0.06f, 12, 9,
         Const(MatShirt), [](float U, float T, int) {
           return UV{U, ShirtSleeveV + (ShirtElbowV - ShirtSleeveV) * T};
         });
    // Forearm: rolled-up sleeve over the upper half, bare skin below.
    Ext(El, Wr, 1.6f, 0.8f, &F, &T);
    Limb(P + " forearm", P + "LowerArm", F, T, 2.25f, 1.6f, 0.9f, 0.07f, 12, 10,
         [](float T) { return T < 0.42f ? MatShirt : MatSkin; },
         [](float U, float T, int M) {
           if (M == MatShirt) return UV{U, ShirtElbowV + (1 - ShirtElbowV) * std::min(1.0f, T / 0.42f)};
           return UV{U, T};
         });
    // Hand: a flat palm facing the thigh, four slightly curled fingers side
    // by side across it (the index finger in front) and a thumb.
    const Vec3 Tip{S * 11.9f, 27.6f, -0.3f};
    const Vec3 HandDir = Normalize(Sub(Tip, Wr));
    const Vec3 Knuckle = Add(Wr, Scale(Sub(Tip, Wr), 0.47f));
    Ext(Wr, Knuckle, 0.7f, 0.35f, &F, &T);
    Limb(P + " palm", P + "Hand", F, T, 1.3f, 1.25f, 0.5f, 0.12f, 10, 7, Const(MatSkin),
         [](float U, float T, int) { return UV{U, T}; });
    static const float FingerZ[4] = {-0.95f, -0.32f, 0.32f, 0.92f};
    static const float FingerLength[4] = {3.5f, 3.8f, 3.6f, 2.9f};
    for (int K = 0; K < 4; ++K) {
      const Vec3 Base = Add(Add(Knuckle, Scale(HandDir, -0.4f)), {0, 0, FingerZ[K]});
      const Vec3 End = Add(Add(Base, Scale(HandDir, FingerLength[K])), {-S * 0.45f, 0, 0});
      Limb(P + " finger " + std::to_string(K + 1), P + "Hand", Base, End, 0.36f, 0.30f, 0.9f,
           0.04f, 6, 6, Const(MatSkin), [](float U, float T, int) { return UV{U, T}; }, true);
    }
    Limb(P + " thumb", P + "Hand", {S * 11.2f, 34.6f, -0.9f}, {S * 10.9f, 30.9f, -2.2f}, 0.5f,
         0.4f, 1.0f, 0.05f, 6, 6, Const(MatSkin), [](float U, float T, int) { return UV{U, T}; },
         true);
  }
  for (int Side = 0; Side < 2; ++Side) {
    const std::string P = Side == 0 ? "Right" : "Left";
    const float S = Side == 0 ? 1.0f : -1.0f;
    const Vec3 Hip = Bones[Bone(P + "UpperLeg")].Joint, Knee = Bones[Bone(P + "LowerLeg")].Joint;
    const Vec3 Ankle = Bones[Bone(P + "Foot")].Joint;
    Vec3 F, T;
    Ext(Hip, Knee, 3.0f, 2.0f, &F, &T);
    Limb(P + " thigh", P + "UpperLeg", F, T, 3.9f, 2.9f, 1.0f, 0.05f, 14, 10, Const(MatTrousers),
         [](float U, float T, int) { return UV{U, TrouserHipV + (TrouserKneeV - TrouserHipV) * T}; });
    Ext(Knee, Ankle, 2.0f, 1.2f, &F, &T);
    Limb(P + " shin", P + "LowerLeg", F, T, 2.9f, 2.2f, 1.0f, 0.10f, 14, 10, Const(MatTrousers),
         [](float U, float T, int) { return UV{U, TrouserKneeV + (1 - TrouserKneeV) * T}; });
    // Shoe: swept from heel to toe along -Z, tall at the heel and ankle,
    // flat underneath and rounded over the toes.
    {
      Sweep Sh;
      Sh.Name = P + " shoe";
      Sh.Columns = 16;
      Sh.Rows = 10;
      const Vec3 Heel{S * 4.5f, 0, 3.0f};
      const float Len = 11.5f;
      Sh.Point = [=](float U, float T) {
        const float A = 2 * Pi * U;
        // E1 = up, E2 = Axis x E1 with the axis along -Z: E2 = +X... pointing
        // to the figure's right for both shoes.
        float Height = 2.0f + 1.8f * Bump(T - 0.25f, 0.28f, 0, 1);
        float Width = 1.9f + 0.45f * Bump(T - 0.65f, 0.3f, 0, 1);
        const float Round = CapsuleRadius(T, 0.14f, 0.18f);
        float Up = std::cos(A), Side2 = std::sin(A);
        // Flat sole: the lower half is pressed into a near-flat bottom.
        float Y = Up >= 0 ? Height * Up : 0.75f * Up * std::pow(std::fabs(Up), 2.0f);
        Y = (Y + 0.75f) * Round + (1 - Round) * 0.9f;
        return Vec3{Heel.X + Width * Round * Side2, Y, Heel.Z - Len * T};
      };
      const int B = Bone(P + "Foot");
      Sh.BoneAt = [B](float) { return B; };
      Sh.MaterialAt = Const(MatShoes);
      Sh.Map = [](float U, float T, int) { return UV{U, T}; };
      Piece(Sh);
    }
  }

  // Order triangles so that the body's vertex sort by bone has little to do:
  // by the highest bone of their corners, then the lowest.
  std::stable_sort(Tris.begin(), Tris.end(), [](const Triangle& A, const Triangle& B) {
    auto Hi = [](const Triangle& T) { return std::max({T.C[0].Bone, T.C[1].Bone, T.C[2].Bone}); };
    auto Lo = [](const Triangle& T) { return std::min({T.C[0].Bone, T.C[1].Bone, T.C[2].Bone}); };
    if (Hi(A) != Hi(B)) return Hi(A) < Hi(B);
    return Lo(A) < Lo(B);
  });
  if (PartNames) *PartNames = Names;
  return Tris;
}

}  // namespace sample
