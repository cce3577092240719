// Measurements shared by the sample figure's surfaces and the textures painted
// for them, so that painted features (eyes, mouth, buttons, belt, laces) land
// where the surfaces put their texture coordinates.
#pragma once

#include <cmath>

namespace sample::shape {

constexpr float Pi = 3.14159265358979f;

// Head: an ellipsoid around the Y axis. Texture U runs once around the head
// starting at the back (U = 0.5 is the middle of the face); V runs from the
// crown (0) to the chin (1).
constexpr float HeadCenterY = 67.6f;
constexpr float HeadRadiusX = 4.3f, HeadRadiusY = 5.3f, HeadRadiusZ = 4.7f;
// Texture V of a height on the head (the surface puts height
// HeadCenterY - HeadRadiusY * cos(pi * t) at V = 1 - t).
inline float HeadV(float Y) {
  float C = (HeadCenterY - Y) / HeadRadiusY;
  C = C < -1 ? -1 : (C > 1 ? 1 : C);
  return 1.0f - std::acos(C) / Pi;
}
constexpr float EyeY = 67.9f, NoseY = 66.4f, MouthY = 64.5f, BrowY = 69.0f;
constexpr float HairlineY = 70.2f;   // front hair line
constexpr float HairBackY = 64.8f;   // hair reaches this low at the back
constexpr float EyeAngle = 0.36f;    // radians either side of the face's middle

// Torso: a lathe surface around the Y axis from BottomY to TopY. Below WaistY
// it wears the trousers, above it the shirt.
constexpr float TorsoBottomY = 31.5f, TorsoTopY = 62.6f, WaistY = 42.0f;
// Shirt texture rows: the torso uses V 0 (collar) ... ShirtTorsoV (waist);
// the sleeves use ShirtSleeveV (shoulder) ... 1 (cuff).
constexpr float ShirtTorsoV = 0.70f, ShirtSleeveV = 0.72f, ShirtElbowV = 0.86f;
// Trousers texture rows: the hips use V 0 (belt) ... TrouserHipV; the legs
// TrouserHipV ... TrouserKneeV (thigh) ... 1 (hem).
constexpr float TrouserHipV = 0.22f, TrouserKneeV = 0.60f;

}  // namespace sample::shape
