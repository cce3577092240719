// The start-up logo's geometry, skeleton, materials, motion and glow images.
// Everything is computed from fixed numbers: the result is the same on every
// run and every build.
#include "logomodel.h"

#include <algorithm>
#include <cmath>

namespace logo {
namespace {

using sample::Corner;
using sample::Triangle;
using sample::Vec3;

constexpr float Pi = 3.14159265358979f;
constexpr int GearCount = 8;
constexpr float GearCircle = 250.0f;  // radius of the circle the gear centres lie on
constexpr float GearOuter = 90.0f, GearRoot = 77.0f;
constexpr int GearTeeth = 12;

enum Material { Iron, Steel, Brass, Emblem };

// View coordinates (X right, Y up, Z towards the viewer) to stored ones.
Vec3 Stored(Vec3 V) { return {V.X, -V.Z, V.Y}; }

struct Vec2 {
  float X, Y;
};

// Adds surfaces for one bone and one material, in view coordinates.
struct Mesh {
  std::vector<Triangle>* Out;
  int Bone;
  int Material;

  void Tri(Vec3 A, Vec3 B, Vec3 C, Vec3 N, Vec2 UA, Vec2 UB, Vec2 UC) const {
    Triangle T;
    T.Material = Material;
    const Vec3 P[3] = {A, B, C};
    const Vec2 UV[3] = {UA, UB, UC};
    for (int K = 0; K < 3; ++K) {
      T.C[K].Position = Stored(P[K]);
      T.C[K].Normal = Stored(sample::Normalize(N));
      T.C[K].U = UV[K].X;
      T.C[K].V = UV[K].Y;
      T.C[K].Bone = Bone;
    }
    Out->push_back(T);
  }
  // A quad A B C D, counter-clockwise seen from the side N points to.
  void Quad(Vec3 A, Vec3 B, Vec3 C, Vec3 D, Vec3 N, float U0 = 0, float V0 = 0, float U1 = 1,
            float V1 = 1) const {
    Tri(A, B, C, N, {U0, V1}, {U1, V1}, {U1, V0});
    Tri(A, C, D, N, {U0, V1}, {U1, V0}, {U0, V0});
  }
};

// A flat-topped solid between Z0 and Z1 whose outline (counter-clockwise,
// star-shaped around Centre) may shrink from Back to Front by FrontScale.
// Caps take planar texture coordinates over a square of half-size UvRadius.
void Extrude(const Mesh& M, const std::vector<Vec2>& Outline, Vec2 Centre, float Z0, float Z1,
             float FrontScale, float UvRadius) {
  const size_t N = Outline.size();
  auto Front = [&](size_t I) {
    const Vec2 P = Outline[I % N];
    return Vec3{Centre.X + (P.X - Centre.X) * FrontScale, Centre.Y + (P.Y - Centre.Y) * FrontScale, Z1};
  };
  auto Back = [&](size_t I) { return Vec3{Outline[I % N].X, Outline[I % N].Y, Z0}; };
  auto Uv = [&](Vec3 P) { return Vec2{0.5f + (P.X - Centre.X) / (2 * UvRadius), 0.5f - (P.Y - Centre.Y) / (2 * UvRadius)}; };
  const Vec3 CF{Centre.X, Centre.Y, Z1}, CB{Centre.X, Centre.Y, Z0};
  for (size_t I = 0; I < N; ++I) {
    const Vec3 F0 = Front(I), F1 = Front(I + 1), B0 = Back(I), B1 = Back(I + 1);
    M.Tri(CF, F0, F1, {0, 0, 1}, Uv(CF), Uv(F0), Uv(F1));
    M.Tri(CB, B1, B0, {0, 0, -1}, Uv(CB), Uv(B1), Uv(B0));
    // The side leans with the outline's shrink; its normal is that of the quad.
    const Vec3 N1 = sample::Cross(sample::Sub(B1, B0), sample::Sub(F0, B0));
    const float U0 = (float)I / N, U1 = (float)(I + 1) / N;
    M.Quad(B0, B1, F1, F0, N1, U0, 0, U1, 1);
  }
}

std::vector<Vec2> Circle(Vec2 C, float R, int Sides, float Phase = 0) {
  std::vector<Vec2> Out;
  for (int I = 0; I < Sides; ++I) {
    const float A = Phase + 2 * Pi * I / Sides;
    Out.push_back({C.X + R * std::cos(A), C.Y + R * std::sin(A)});
  }
  return Out;
}

// A flat ring between radii RIn and ROut, Z0 to Z1.
void Ring(const Mesh& M, float RIn, float ROut, float Z0, float Z1, int Segments) {
  for (int I = 0; I < Segments; ++I) {
    const float A0 = 2 * Pi * I / Segments, A1 = 2 * Pi * (I + 1) / Segments;
    const Vec2 D0{std::cos(A0), std::sin(A0)}, D1{std::cos(A1), std::sin(A1)};
    auto P = [](Vec2 D, float R, float Z) { return Vec3{D.X * R, D.Y * R, Z}; };
    const float U0 = (float)I / Segments, U1 = (float)(I + 1) / Segments;
    M.Quad(P(D0, RIn, Z1), P(D0, ROut, Z1), P(D1, ROut, Z1), P(D1, RIn, Z1), {0, 0, 1}, U0, 0, U1, 1);
    M.Quad(P(D1, RIn, Z0), P(D1, ROut, Z0), P(D0, ROut, Z0), P(D0, RIn, Z0), {0, 0, -1}, U0, 0, U1, 1);
    const Vec3 Out{(D0.X + D1.X) / 2, (D0.Y + D1.Y) / 2, 0};
    M.Quad(P(D0, ROut, Z0), P(D1, ROut, Z0), P(D1, ROut, Z1), P(D0, ROut, Z1), Out, U0, 0, U1, 1);
    M.Quad(P(D1, RIn, Z0), P(D0, RIn, Z0), P(D0, RIn, Z1), P(D1, RIn, Z1), sample::Scale(Out, -1), U0, 0, U1, 1);
  }
}

// An axis-aligned box.
void Box(const Mesh& M, Vec3 Lo, Vec3 Hi) {
  const float X0 = Lo.X, Y0 = Lo.Y, Z0 = Lo.Z, X1 = Hi.X, Y1 = Hi.Y, Z1 = Hi.Z;
  M.Quad({X0, Y0, Z1}, {X1, Y0, Z1}, {X1, Y1, Z1}, {X0, Y1, Z1}, {0, 0, 1});
  M.Quad({X1, Y0, Z0}, {X0, Y0, Z0}, {X0, Y1, Z0}, {X1, Y1, Z0}, {0, 0, -1});
  M.Quad({X0, Y1, Z1}, {X1, Y1, Z1}, {X1, Y1, Z0}, {X0, Y1, Z0}, {0, 1, 0});
  M.Quad({X0, Y0, Z0}, {X1, Y0, Z0}, {X1, Y0, Z1}, {X0, Y0, Z1}, {0, -1, 0});
  M.Quad({X1, Y0, Z1}, {X1, Y0, Z0}, {X1, Y1, Z0}, {X1, Y1, Z1}, {1, 0, 0});
  M.Quad({X0, Y0, Z0}, {X0, Y0, Z1}, {X0, Y1, Z1}, {X0, Y1, Z0}, {-1, 0, 0});
}

// A cylinder along X from X0 to X1 around (Y, Z), with end caps.
void CylinderX(const Mesh& M, float X0, float X1, float Y, float Z, float R, int Sides) {
  for (int I = 0; I < Sides; ++I) {
    const float A0 = 2 * Pi * I / Sides, A1 = 2 * Pi * (I + 1) / Sides;
    auto P = [&](float X, float A) { return Vec3{X, Y + R * std::cos(A), Z + R * std::sin(A)}; };
    const float Mid = (A0 + A1) / 2;
    const float U0 = (float)I / Sides, U1 = (float)(I + 1) / Sides;
    M.Quad(P(X0, A0), P(X0, A1), P(X1, A1), P(X1, A0), {0, std::cos(Mid), std::sin(Mid)}, U0, 0, U1, 1);
    M.Tri({X1, Y, Z}, P(X1, A0), P(X1, A1), {1, 0, 0}, {0.5f, 0.5f}, {U0, 0}, {U1, 0});
    M.Tri({X0, Y, Z}, P(X0, A1), P(X0, A0), {-1, 0, 0}, {0.5f, 0.5f}, {U1, 0}, {U0, 0});
  }
}

// A double pyramid (the electrodes' tips).
void Octahedron(const Mesh& M, Vec3 C, float R) {
  const Vec3 Tip[6] = {{C.X + R, C.Y, C.Z}, {C.X, C.Y + R, C.Z}, {C.X - R, C.Y, C.Z},
                       {C.X, C.Y - R, C.Z}, {C.X, C.Y, C.Z + R}, {C.X, C.Y, C.Z - R}};
  for (int I = 0; I < 4; ++I) {
    const Vec3 A = Tip[I], B = Tip[(I + 1) % 4];
    for (int Pole = 4; Pole < 6; ++Pole) {
      const Vec3 P = Tip[Pole];
      const Vec3 N = sample::Sub(Vec3{(A.X + B.X + P.X) / 3, (A.Y + B.Y + P.Y) / 3, (A.Z + B.Z + P.Z) / 3}, C);
      if (Pole == 4)
        M.Tri(A, B, P, N, {0, 1}, {1, 1}, {0.5f, 0});
      else
        M.Tri(B, A, P, N, {1, 1}, {0, 1}, {0.5f, 0});
    }
  }
}

std::vector<Vec2> GearOutline(Vec2 C, float Phase) {
  std::vector<Vec2> Out;
  const float Pitch = 2 * Pi / GearTeeth;
  for (int K = 0; K < GearTeeth; ++K) {
    const float A = Phase + K * Pitch;
    for (auto [R, F] : {std::pair{GearRoot, 0.0f}, {GearOuter, 0.15f}, {GearOuter, 0.45f}, {GearRoot, 0.6f}})
      Out.push_back({C.X + R * std::cos(A + F * Pitch), C.Y + R * std::sin(A + F * Pitch)});
  }
  return Out;
}

float GearAngle(int K) { return Pi / 2 - K * 2 * Pi / GearCount; }
Vec3 GearCentre(int K) { return {GearCircle * std::cos(GearAngle(K)), GearCircle * std::sin(GearAngle(K)), 0}; }

struct BoneRecipe {
  const char* Name;
  const char* Parent;
  Vec3 Joint;  // view coordinates
};

std::vector<BoneRecipe> Skeleton() {
  std::vector<BoneRecipe> Bones = {
      {"BONE01", nullptr, {0, 0, 0}},
      {"CORVINAB", "BONE01", {0, 0, 15}},
      {"CORONA", "CORVINAB", {0, 0, 55}},
  };
  static const char* Gears[GearCount] = {"GEAR01B", "GEAR02B", "GEAR03B", "GEAR04B",
                                         "GEAR05B", "GEAR06B", "GEAR07B", "GEAR08B"};
  for (int K = 0; K < GearCount; ++K) Bones.push_back({Gears[K], "BONE01", GearCentre(K)});
  Bones.push_back({"LINKTO", "BONE01", {0, -400, 0}});
  Bones.push_back({"R_CYL01", "BONE01", {480, 0, 0}});
  Bones.push_back({"R_CYL02", "R_CYL01", {375, 0, 0}});
  Bones.push_back({"L_CYL01", "BONE01", {-480, 0, 0}});
  Bones.push_back({"L_CYL02", "L_CYL01", {-375, 0, 0}});
  Bones.push_back({"BONE22", "BONE01", {-130, 390, 20}});
  Bones.push_back({"BONE28", "BONE01", {130, 390, 20}});
  return Bones;
}

// Small deterministic noise for the textures.
uint32_t Hash(uint32_t X, uint32_t Y) {
  uint32_t H = X * 374761393u + Y * 668265263u;
  H = (H ^ (H >> 13)) * 1274126177u;
  return H ^ (H >> 16);
}

sample::Texture BrushedSteel() {
  sample::Texture T{64, 64, {}};
  for (int Y = 0; Y < 64; ++Y) {
    // Each row keeps one streak value, with a little noise along it.
    const int Streak = (int)(Hash(7, (uint32_t)Y) % 24);
    for (int X = 0; X < 64; ++X) {
      const int V = 190 + Streak + (int)(Hash((uint32_t)X, (uint32_t)Y) % 8);
      T.Rgb.insert(T.Rgb.end(), {(uint8_t)std::min(V, 255), (uint8_t)std::min(V, 255), (uint8_t)std::min(V + 8, 255)});
    }
  }
  return T;
}

// Gold rim, dark blue field and a gold eight-pointed star.
sample::Texture EmblemPlate() {
  sample::Texture T{64, 64, {}};
  for (int Y = 0; Y < 64; ++Y) {
    for (int X = 0; X < 64; ++X) {
      const float DX = (X + 0.5f - 32) / 32, DY = (Y + 0.5f - 32) / 32;
      const float R = std::sqrt(DX * DX + DY * DY), A = std::atan2(DY, DX);
      const float Star = 0.28f + 0.42f * std::pow(std::fabs(std::cos(4 * A)), 6.0f);
      uint8_t C[3] = {18, 30, 84};
      if (R > 0.82f || R < Star) C[0] = 226, C[1] = 178, C[2] = 64;
      if (R > 0.9f) C[0] = 150, C[1] = 110, C[2] = 40;
      T.Rgb.insert(T.Rgb.end(), C, C + 3);
    }
  }
  return T;
}

std::vector<sample::Motion> Motions(const std::vector<sample::Bone>& Bones) {
  sample::Motion Spin;
  Spin.Name = "spin";
  Spin.Looped = false;
  const Vec3 ViewZ = Stored({0, 0, 1}), ViewY = Stored({0, 1, 0});
  for (const sample::Bone& B : Bones) {
    std::vector<sample::Key> Track;
    const int Steps = B.Name.rfind("GEAR", 0) == 0 ? 16 : 8;  // gears turn 22.5 degrees a key
    for (int I = 0; I <= Steps; ++I) {
      sample::Key K;
      K.Time = MotionLength * I / Steps;
      const float T = K.Time;
      if (B.Name.rfind("GEAR", 0) == 0) {
        // Neighbours turn opposite ways, half a turn a second.
        const int Index = B.Name[5] - '1';
        K.Rotation = sample::AxisAngle(ViewZ, (Index % 2 ? -1.0f : 1.0f) * Pi * T);
      } else if (B.Name == "CORVINAB") {
        K.Rotation = sample::AxisAngle(ViewY, 0.18f * std::sin(Pi * T));
      } else if (B.Name == "R_CYL02" || B.Name == "L_CYL02") {
        const float Side = B.Name[0] == 'R' ? -1.0f : 1.0f;
        K.Translation = Stored({Side * 30.0f * std::sin(Pi * T), 0, 0});
      }
      Track.push_back(K);
    }
    Spin.Tracks.push_back(Track);
  }
  return {Spin};
}

}  // namespace

sample::Model BuildModel() {
  sample::Model M;
  const std::vector<BoneRecipe> Recipes = Skeleton();
  for (const BoneRecipe& S : Recipes) {
    sample::Bone B;
    B.Name = S.Name;
    B.Parent = S.Parent ? sample::FindBone(M.Bones, S.Parent) : -1;
    B.Joint = Stored(S.Joint);
    B.Offset = B.Parent >= 0 ? sample::Sub(B.Joint, M.Bones[B.Parent].Joint) : B.Joint;
    M.Bones.push_back(B);
  }
  auto Bone = [&](const char* Name) { return sample::FindBone(M.Bones, Name); };
  auto On = [&](const char* Name, Material Mat) { return Mesh{&M.Triangles, Bone(Name), Mat}; };

  M.PartNames = {"ring", "emblem", "gears", "link", "pistons", "electrodes"};
  Ring(On("BONE01", Iron), 165, 335, -30, -18, 40);
  Extrude(On("CORVINAB", Emblem), Circle({0, 0}, 150, 8, Pi / 8), {0, 0}, -10, 35, 0.7f, 150);
  for (int K = 0; K < GearCount; ++K) {
    const Vec3 C = GearCentre(K);
    const std::string Name = "GEAR0" + std::to_string(K + 1) + "B";
    const Mesh G = On(Name.c_str(), Steel);
    // Odd gears start half a tooth on, so that neighbouring teeth interleave.
    const float Phase = GearAngle(K) + (K % 2 ? Pi / GearTeeth : 0.0f);
    Extrude(G, GearOutline({C.X, C.Y}, Phase), {C.X, C.Y}, -10, 10, 1.0f, GearOuter);
    Extrude(G, Circle({C.X, C.Y}, 26, 8), {C.X, C.Y}, 10, 18, 0.8f, GearOuter);
  }
  const Mesh Link = On("LINKTO", Iron);
  Box(Link, {-500, -412, -10}, {500, -388, 10});
  for (float X : {-480.0f, 480.0f}) Box(Link, {X - 10, -388, -8}, {X + 10, -30, 8});
  for (float Side : {1.0f, -1.0f}) {
    const Mesh Body = On(Side > 0 ? "R_CYL01" : "L_CYL01", Brass);
    CylinderX(Body, Side > 0 ? 400 : -560, Side > 0 ? 560 : -400, 0, 0, 32, 12);
    const Mesh Rod = On(Side > 0 ? "R_CYL02" : "L_CYL02", Steel);
    CylinderX(Rod, Side > 0 ? 345 : -415, Side > 0 ? 415 : -345, 0, 0, 14, 8);
    CylinderX(Rod, Side > 0 ? 336 : -345, Side > 0 ? 345 : -336, 0, 0, 22, 8);
  }
  for (const char* Name : {"BONE22", "BONE28"}) {
    const Mesh E = On(Name, Brass);
    const float X = Name[5] == '2' ? -130.0f : 130.0f;
    Box(E, {X - 5, 330, 15}, {X + 5, 378, 25});
    Octahedron(E, {X, 390, 20}, 14);
  }

  M.Textures = {BrushedSteel(), EmblemPlate()};
  M.Materials = {{"Iron", 90, 92, 104, -1}, {"Steel", 180, 182, 192, 0}, {"Brass", 225, 175, 85, -1},
                 {"Emblem", 255, 255, 255, 1}};
  M.Motions = Motions(M.Bones);
  return M;
}

Glows BuildGlows() {
  Glows G;
  auto Each = [](int Size, auto&& Value) {
    std::vector<uint8_t> Out;
    for (int Y = 0; Y < Size; ++Y)
      for (int X = 0; X < Size; ++X) {
        const float DX = (X + 0.5f - Size / 2.0f) / (Size / 2.0f), DY = (Y + 0.5f - Size / 2.0f) / (Size / 2.0f);
        const float V = Value(std::sqrt(DX * DX + DY * DY), std::atan2(DY, DX));
        Out.push_back((uint8_t)std::lround(255 * std::clamp(V, 0.0f, 1.0f)));
      }
    return Out;
  };
  auto Ramp = [](auto&& Colour) {
    std::vector<uint8_t> Rgb;
    for (int I = 0; I < 256; ++I) {
      const float F = I / 255.0f;
      for (float C : Colour(F)) Rgb.push_back((uint8_t)std::lround(255 * std::clamp(C, 0.0f, 1.0f)));
    }
    return Rgb;
  };
  // A warm glow: white in the middle, orange towards the rim.
  const auto Falloff = [](float R, float) { return 1 - R; };
  G.GlowColour = {128, 128, Each(128, Falloff), Ramp([](float F) {
                    return std::vector<float>{1.0f, 0.45f + 0.55f * F, 0.1f + 0.9f * F * F};
                  })};
  G.GlowAlpha = {128, 128, Each(128, [](float R, float) { return (1 - R) * (1 - R); })};
  // A blue-white star of eight rays.
  const auto Rays = [](float R, float A) {
    const float Ray = std::pow(std::fabs(std::cos(4 * A)), 16.0f);
    return (1 - R) * (0.15f + 0.85f * Ray) + std::max(0.0f, 1 - 4 * R);
  };
  G.StarColour = {64, 64, Each(64, Rays), Ramp([](float F) {
                    return std::vector<float>{0.55f + 0.45f * F, 0.6f + 0.4f * F, 1.0f};
                  })};
  G.StarAlpha = {64, 64, Each(64, Rays)};
  // A thin halo ring, clear in the middle.
  G.Halo = {64, 64, Each(64, [](float R, float) { return std::exp(-((R - 0.72f) / 0.09f) * ((R - 0.72f) / 0.09f)); })};
  return G;
}

}  // namespace logo
