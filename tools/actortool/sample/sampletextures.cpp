// Painted textures of the sample figure: a face with hair, eyes, brows, nose
// and mouth; a checked flannel shirt with collar, button placket and cuffs;
// denim trousers with belt, pockets, seams and hems; leather shoes with sole,
// laces and toe cap. Everything is drawn from formulas and a fixed-seed noise,
// so the same bytes come out on every run.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "sample/samplemodel.h"
#include "sample/sampleshape.h"

namespace sample {

using namespace shape;

namespace {

struct Rgb {
  float R, G, B;
};

Rgb Mix(Rgb A, Rgb B, float T) {
  T = std::clamp(T, 0.0f, 1.0f);
  return {A.R + (B.R - A.R) * T, A.G + (B.G - A.G) * T, A.B + (B.B - A.B) * T};
}
Rgb Mul(Rgb A, float S) { return {A.R * S, A.G * S, A.B * S}; }

// Integer hash noise: the same value for the same cell and seed on every
// machine, independent of the C library's random numbers.
float Hash(int X, int Y, uint32_t Seed) {
  uint32_t H = (uint32_t)X * 374761393u + (uint32_t)Y * 668265263u + Seed * 2246822519u;
  H = (H ^ (H >> 13)) * 1274126177u;
  H ^= H >> 16;
  return (float)(H & 0xFFFF) / 65535.0f;
}

// Smooth value noise over cells of the given size, wrapping every Period
// cells across U so that the seam of a piece does not show.
float Noise(float X, float Y, float Cell, int Period, uint32_t Seed) {
  const float FX = X / Cell, FY = Y / Cell;
  const int X0 = (int)std::floor(FX), Y0 = (int)std::floor(FY);
  const float TX = FX - X0, TY = FY - Y0;
  auto H = [&](int I, int J) { return Hash(((I % Period) + Period) % Period, J, Seed); };
  const float SX = TX * TX * (3 - 2 * TX), SY = TY * TY * (3 - 2 * TY);
  const float A = H(X0, Y0) + (H(X0 + 1, Y0) - H(X0, Y0)) * SX;
  const float B = H(X0, Y0 + 1) + (H(X0 + 1, Y0 + 1) - H(X0, Y0 + 1)) * SX;
  return A + (B - A) * SY;
}

// Soft-edged coverage of an ellipse centred at (CX, CY) with radii RX, RY, in
// texture coordinates; Edge is the width of the soft border in radii.
float Ellipse(float U, float V, float CX, float CY, float RX, float RY, float Edge = 0.15f) {
  const float DX = (U - CX) / RX, DY = (V - CY) / RY;
  const float D = std::sqrt(DX * DX + DY * DY);
  return std::clamp((1 - D) / Edge, 0.0f, 1.0f);
}

// Coverage of a line of the given half width at distance D: full inside,
// fading out over another half of the width.
float Line(float D, float HalfWidth) {
  return std::clamp((1.5f * HalfWidth - std::fabs(D)) / (0.5f * HalfWidth), 0.0f, 1.0f);
}

// Distance from U to X measured around the wrap.
float WrapDist(float U, float X) { return std::remainder(U - X, 1.0f); }

template <typename F>
Texture Paint(int Size, F&& Pixel) {
  Texture T;
  T.Width = T.Height = Size;
  T.Rgb.resize((size_t)Size * Size * 3);
  for (int Y = 0; Y < Size; ++Y)
    for (int X = 0; X < Size; ++X) {
      const float U = (X + 0.5f) / Size, V = (Y + 0.5f) / Size;
      Rgb C = Pixel(U, V, X, Y);
      uint8_t* P = &T.Rgb[((size_t)Y * Size + X) * 3];
      P[0] = (uint8_t)std::lround(std::clamp(C.R, 0.0f, 255.0f));
      P[1] = (uint8_t)std::lround(std::clamp(C.G, 0.0f, 255.0f));
      P[2] = (uint8_t)std::lround(std::clamp(C.B, 0.0f, 255.0f));
    }
  return T;
}

const Rgb SkinTone{226, 176, 142};

Texture PaintFace() {
  const float EyeU = EyeAngle / (2 * Pi);
  const float EyeV = HeadV(EyeY), BrowV = HeadV(BrowY), NoseV = HeadV(NoseY), MouthV = HeadV(MouthY);
  const float HairFrontV = HeadV(HairlineY);
  return Paint(256, [&](float U, float V, int X, int Y) {
    const float DA = WrapDist(U, 0.5f);  // 0 in the middle of the face
    // Skin with soft mottling and rosy cheeks.
    Rgb C = Mul(SkinTone, 0.94f + 0.08f * Noise((float)X, (float)Y, 9, 256 / 9 + 1, 11));
    C = Mix(C, {214, 120, 110}, 0.35f * Ellipse(std::fabs(DA), V, 0.10f, (EyeV + MouthV) / 2, 0.05f, 0.06f, 1.0f));
    // Nose: shading along its sides and nostrils.
    C = Mix(C, Mul(SkinTone, 0.80f), 0.45f * Ellipse(std::fabs(DA), V, 0.024f, NoseV, 0.016f, 0.07f, 1.0f));
    C = Mix(C, {130, 76, 64}, 0.75f * Ellipse(std::fabs(DA), V, 0.011f, NoseV + 0.04f, 0.009f, 0.008f, 0.6f));
    // Eyes: white, iris, pupil, highlight and an upper lid line.
    for (float Side : {-1.0f, 1.0f}) {
      const float EU = 0.5f + Side * EyeU;
      const float White = Ellipse(U, V, EU, EyeV, 0.030f, 0.020f, 0.25f);
      C = Mix(C, {246, 246, 240}, White);
      C = Mix(C, {60, 110, 170}, Ellipse(U, V, EU, EyeV, 0.013f, 0.017f, 0.2f) * (White > 0 ? 1 : 0));
      C = Mix(C, {15, 15, 20}, Ellipse(U, V, EU, EyeV, 0.006f, 0.008f, 0.3f));
      C = Mix(C, {255, 255, 255}, Ellipse(U, V, EU + 0.004f, EyeV - 0.006f, 0.003f, 0.004f, 0.5f));
      const float Lid = Ellipse(U, V, EU, EyeV - 0.004f, 0.034f, 0.026f, 0.12f) -
                        Ellipse(U, V, EU, EyeV + 0.002f, 0.032f, 0.024f, 0.12f);
      C = Mix(C, {50, 30, 25}, std::max(0.0f, Lid) * (V < EyeV ? 1.0f : 0.3f));
      // Brow: an arched band above the eye.
      const float BrowArc = BrowV + 18.0f * (U - EU) * (U - EU);
      C = Mix(C, {78, 50, 32}, Line(V - BrowArc, 0.008f) * std::clamp((0.040f - std::fabs(U - EU)) / 0.008f, 0.0f, 1.0f));
    }
    // Mouth: two lips with a dark parting line, slightly smiling.
    {
      const float Smile = MouthV + 0.002f - 5.0f * DA * DA;
      const float Lips = Ellipse(DA, V, 0, MouthV + 0.004f, 0.045f, 0.018f, 0.3f);
      C = Mix(C, {190, 80, 80}, 0.9f * Lips);
      C = Mix(C, {90, 30, 30}, Line(V - Smile, 0.0035f) * std::clamp((0.042f - std::fabs(DA)) / 0.006f, 0.0f, 1.0f));
    }
    // Ears at the sides: a darker rim.
    for (float EarU : {0.25f, 0.75f}) {
      const float E = Ellipse(U, V, EarU, HeadV(EyeY - 0.8f), 0.024f, 0.075f, 0.3f);
      const float In = Ellipse(U, V, EarU, HeadV(EyeY - 0.8f), 0.014f, 0.048f, 0.4f);
      C = Mix(C, Mul(SkinTone, 0.78f), 0.7f * std::max(0.0f, E - In));
      C = Mix(C, {190, 120, 100}, 0.45f * In);
    }
    // Hair: over the crown, down to the hair line over the forehead, round
    // above the ears with sideburns in front of them, and down to the nape at
    // the back. The line is given as heights on the head against the
    // distance from the middle of the face.
    static const float HairLine[][2] = {{0.00f, HairlineY},  {0.10f, HairlineY - 0.2f},
                                        {0.17f, 69.2f},      {0.190f, 67.4f},
                                        {0.200f, 67.4f},     {0.212f, 69.8f},
                                        {0.285f, 69.8f},     {0.34f, 66.8f},
                                        {0.50f, HairBackY}};
    const float AD = std::fabs(DA);
    float HairY = HairLine[8][1];
    for (int K = 0; K < 8; ++K)
      if (AD <= HairLine[K + 1][0]) {
        const float F = (AD - HairLine[K][0]) / (HairLine[K + 1][0] - HairLine[K][0]);
        HairY = HairLine[K][1] + (HairLine[K + 1][1] - HairLine[K][1]) * F;
        break;
      }
    float Line0 = HeadV(HairY) + 0.006f * std::sin(U * 2 * Pi * 31);  // uneven ends
    const float HairCover = std::clamp((Line0 - V) / 0.012f, 0.0f, 1.0f);
    if (HairCover > 0) {
      float Strand = Noise(U * 700, V * 40, 1.0f, 700, 23);
      Rgb H = Mix({62, 38, 22}, {112, 72, 40}, Strand);
      H = Mix(H, {40, 24, 14}, 0.5f * Line(WrapDist(U, 0.44f), 0.004f) * (V > 0.03f && V < HairFrontV - 0.03f ? 1.0f : 0.0f));
      C = Mix(C, H, HairCover);
    }
    return C;
  });
}

Texture PaintShirt() {
  return Paint(256, [&](float U, float V, int X, int Y) {
    // Checked flannel: red ground, dark green and navy bands, thin yellow lines.
    const float PU = std::fmod(U * 8, 1.0f), PV = std::fmod(V * 8, 1.0f);
    auto Band = [](float P, float C, float W) { return std::fabs(P - C) < W ? 1.0f : 0.0f; };
    Rgb C{176, 34, 38};
    const float Green = 0.5f * (Band(PU, 0.5f, 0.16f) + Band(PV, 0.5f, 0.16f));
    C = Mix(C, {28, 70, 44}, Green);
    const float Navy = 0.5f * (Band(PU, 0.5f, 0.05f) + Band(PV, 0.5f, 0.05f));
    C = Mix(C, {24, 28, 70}, Navy);
    const float Yellow = 0.5f * (Band(PU, 0.08f, 0.012f) + Band(PV, 0.08f, 0.012f));
    C = Mix(C, {230, 200, 80}, Yellow);
    // Diagonal weave.
    C = Mul(C, 0.92f + 0.08f * (((X + Y) % 4) < 2 ? 1.0f : 0.0f) + 0.05f * (Noise((float)X, (float)Y, 3, 86, 5) - 0.5f));
    if (V <= ShirtTorsoV + 0.01f) {
      const float DA = WrapDist(U, 0.5f);
      // Button placket down the front, with buttons.
      if (std::fabs(DA) < 0.018f) C = Mul(C, 0.88f);
      C = Mix(C, Mul(C, 0.55f), Line(std::fabs(DA) - 0.018f, 0.003f));
      for (int B = 0; B < 6; ++B) {
        const float BV = 0.10f + B * 0.105f;
        const float Button = Ellipse(DA, V, 0, BV, 0.010f, 0.012f, 0.3f);
        C = Mix(C, {236, 230, 214}, Button);
        C = Mix(C, {120, 110, 100}, Ellipse(DA, V, -0.003f, BV, 0.002f, 0.003f, 0.5f) +
                                         Ellipse(DA, V, 0.003f, BV, 0.002f, 0.003f, 0.5f));
      }
      // Collar: a band round the neck and two points over the front.
      const float CollarEdge = 0.045f + (std::fabs(DA) < 0.09f ? 0.06f * (1 - std::fabs(DA) / 0.09f) : 0.0f);
      if (V < CollarEdge) C = Mix(Mul(C, 1.1f), Mul(C, 0.7f), std::clamp((V - CollarEdge + 0.006f) / 0.006f, 0.0f, 1.0f));
      if (std::fabs(DA) < 0.05f - V * 0.8f) C = {150, 60, 50};  // open collar showing the throat
      // Breast pocket on the left of the chest (the wearer's left is U > 0.5).
      const float PocketU = 0.5f + 0.09f, PocketV = 0.22f;
      if (std::fabs(U - PocketU) < 0.04f && std::fabs(V - PocketV) < 0.05f) {
        C = Mul(C, 0.95f);
        if (std::fabs(U - PocketU) > 0.036f || std::fabs(V - PocketV) > 0.046f || std::fabs(V - (PocketV - 0.03f)) < 0.003f)
          C = Mul(C, 0.6f);
      }
      // Hem stitching at the waist.
      C = Mix(C, Mul(C, 0.6f), Line(V - (ShirtTorsoV - 0.012f), 0.003f));
    } else {
      // Sleeves: a seam under the arm and a rolled cuff at the end.
      C = Mix(C, Mul(C, 0.6f), Line(WrapDist(U, 0.0f), 0.004f));
      if (V > 0.95f) {
        C = Mul(C, 0.85f + 0.25f * std::sin((V - 0.95f) / 0.05f * Pi));
        C = Mix(C, Mul(C, 0.5f), Line(V - 0.952f, 0.003f));
      }
    }
    return C;
  });
}

Texture PaintTrousers() {
  return Paint(256, [&](float U, float V, int X, int Y) {
    // Denim: diagonal twill over a blue ground, lighter wear on the thighs.
    const float Twill = ((X + Y * 2) % 6) < 3 ? 1.0f : 0.0f;
    Rgb C = Mix({34, 52, 96}, {58, 82, 132}, 0.5f * Twill + 0.5f * Noise((float)X, (float)Y, 4, 64, 7));
    const float DA = WrapDist(U, 0.5f);
    if (V > TrouserHipV && V < TrouserKneeV)
      C = Mix(C, {110, 140, 185}, 0.35f * Ellipse(std::fabs(DA), V, 0, (TrouserHipV + TrouserKneeV) / 2, 0.16f, 0.18f, 1.0f));
    const Rgb Thread{214, 150, 60};
    if (V <= TrouserHipV) {
      // Belt with a buckle at the front and belt loops.
      if (V < 0.05f) {
        C = Mix({84, 50, 28}, {110, 68, 38}, Noise((float)X, (float)Y, 2, 128, 9));
        C = Mix(C, {60, 34, 20}, Line(V - 0.008f, 0.003f) + Line(V - 0.042f, 0.003f));
        const float Buckle = Ellipse(DA, V, 0, 0.025f, 0.028f, 0.026f, 0.2f) -
                             Ellipse(DA, V, 0, 0.025f, 0.018f, 0.015f, 0.2f);
        C = Mix(C, {210, 190, 120}, std::max(0.0f, Buckle));
      }
      for (float L : {0.1f, 0.3f, 0.7f, 0.9f})
        if (std::fabs(WrapDist(U, L)) < 0.008f && V < 0.07f) C = Mix({40, 60, 104}, Thread, 0.15f);
      // Fly stitching and the front pockets.
      C = Mix(C, Thread, 0.9f * Line(DA - 0.02f - 0.5f * std::max(0.0f, V - 0.17f), 0.003f) * (V > 0.05f && V < 0.2f ? 1.0f : 0.0f));
      for (float Side : {-1.0f, 1.0f}) {
        const float Curve = std::fabs(DA) - (0.14f + 0.5f * (V - 0.05f));
        C = Mix(C, Thread, 0.9f * Line(Curve, 0.003f) * (V > 0.05f && V < 0.2f && DA * Side > 0 ? 1.0f : 0.0f));
        // Back pockets either side of the middle of the back.
        const float PU = Side * 0.09f;
        const float BU = WrapDist(U, 0.0f);
        if (std::fabs(BU - PU) < 0.06f && V > 0.08f && V < 0.21f) {
          C = Mul(C, 0.9f);
          if (std::fabs(std::fabs(BU - PU) - 0.055f) < 0.004f || std::fabs(V - 0.085f) < 0.003f)
            C = Mix(C, Thread, 0.9f);
        }
      }
    } else {
      // Legs: the outer and inner seams, and the turned-up hem.
      C = Mix(C, Thread, 0.8f * (Line(WrapDist(U, 0.25f), 0.004f) + Line(WrapDist(U, 0.75f), 0.004f)));
      C = Mix(C, Mul(C, 0.7f), Line(WrapDist(U, 0.25f) - 0.008f, 0.004f));
      if (V > 0.955f) {
        C = Mul(Mix(C, {70, 96, 150}, 0.4f), 0.9f + 0.2f * std::sin((V - 0.955f) / 0.045f * Pi));
        C = Mix(C, Thread, Line(V - 0.96f, 0.003f));
      }
      // Creases behind the knee.
      const float Knee = std::fabs(V - TrouserKneeV) < 0.03f ? 1.0f : 0.0f;
      C = Mix(C, Mul(C, 0.7f), Knee * 0.5f * (std::sin(U * 2 * Pi * 28) > 0.7f ? 1.0f : 0.0f) * (std::fabs(WrapDist(U, 0)) < 0.15f ? 1.0f : 0.0f));
    }
    return C;
  });
}

Texture PaintShoes() {
  return Paint(128, [&](float U, float V, int X, int Y) {
    // U = 0 is the top of the shoe, 0.5 the middle of the sole; V runs from
    // the heel (0) to the toe (1).
    const float Top = std::fabs(WrapDist(U, 0.0f));  // 0 on top, 0.5 underneath
    Rgb C = Mix({96, 54, 28}, {128, 76, 40}, Noise((float)X, (float)Y, 5, 26, 17));
    C = Mul(C, 0.9f + 0.2f * Noise((float)X, (float)Y, 1.5f, 86, 19));
    // Rubber sole with a welt stitch above it.
    if (Top > 0.34f) C = Mix({38, 34, 30}, {58, 52, 46}, Noise((float)X, (float)Y, 2, 64, 3));
    C = Mix(C, {200, 180, 140}, Line(Top - 0.31f, 0.006f) * (((X / 2) % 2) ? 1.0f : 0.3f));
    // Toe cap seam and heel counter.
    C = Mix(C, Mul(C, 0.55f), Line(V - 0.78f + 3 * Top * Top, 0.008f) * (Top < 0.3f ? 1.0f : 0.0f));
    C = Mix(C, Mul(C, 0.55f), Line(V - 0.16f - 2 * Top * Top, 0.008f) * (Top < 0.3f ? 1.0f : 0.0f));
    // Laces over the instep: eyelets either side and crossing laces.
    if (V > 0.28f && V < 0.62f && Top < 0.09f) {
      C = Mix(C, {60, 32, 18}, 0.7f);  // tongue
      const float P = std::fmod((V - 0.28f) / 0.068f, 1.0f);
      const float Cross = std::min(std::fabs(WrapDist(U, 0) - (P - 0.5f) * 0.12f),
                                   std::fabs(WrapDist(U, 0) + (P - 0.5f) * 0.12f));
      C = Mix(C, {236, 230, 220}, Line(Cross, 0.012f));
      if (Top > 0.055f && Top < 0.08f && std::fabs(P - 0.5f) < 0.22f) C = {200, 200, 190};
    }
    return C;
  });
}

}  // namespace

void BuildMaterials(std::vector<Material>* Materials, std::vector<Texture>* Textures) {
  Textures->clear();
  Textures->push_back(PaintFace());
  Textures->push_back(PaintShirt());
  Textures->push_back(PaintTrousers());
  Textures->push_back(PaintShoes());
  Materials->clear();
  Materials->push_back({"Face", 255, 255, 255, 0});
  Materials->push_back({"Shirt", 255, 255, 255, 1});
  Materials->push_back({"Trousers", 255, 255, 255, 2});
  Materials->push_back({"Shoes", 255, 255, 255, 3});
  Materials->push_back({"Skin", SkinTone.R, SkinTone.G, SkinTone.B, -1});
}

}  // namespace sample
