// Camera projection numbers and transforms.
#include <cmath>

#include "Engine/cvengcore.h"
#include "testsupport.h"

namespace {
cvCamera* Make640(float fov = 2.0f) {
  cvRect r{0, 639, 0, 479};
  return cvCamera_Create(&r, fov);
}
}  // namespace

TEST(Camera, ProjectionValuesOfA640x480View) {
  cvCamera* c = Make640();
  ASSERT_NE(c, nullptr);
  float w, h;
  cvCamera_GetWidthHeight(c, &w, &h);
  EXPECT_FLOAT_EQ(w, 640);
  EXPECT_FLOAT_EQ(h, 480);
  EXPECT_FLOAT_EQ(c->XScale, 320);
  EXPECT_FLOAT_EQ(c->YScale, 240);
  EXPECT_FLOAT_EQ(cvCamera_GetScale(c), 320);
  EXPECT_FLOAT_EQ(c->XCenter, 319.5f);
  EXPECT_FLOAT_EQ(c->YCenter, 239.5f);
  EXPECT_FLOAT_EQ(cvCamera_GetZScale(c), 0.5f);
  // K = 2 * 320 / 2 = 320: horizontal angle atan(1), vertical atan(4/3).
  float s, co;
  cvCamera_GetViewAngleXSinCos(c, &s, &co);
  EXPECT_NEAR(s, std::sin(std::atan(1.0)), 1e-6);
  cvCamera_GetViewAngleYSinCos(c, &s, &co);
  EXPECT_NEAR(co, std::cos(std::atan(320.0 / 240.0)), 1e-6);
  cvRect r;
  cvCamera_GetClippingRect(c, &r);
  EXPECT_EQ(r.Right, 639);
  EXPECT_EQ(r.Bottom, 479);
  cvCamera_Destroy(c);
}

TEST(Camera, ProjectsCentreBehindAndClamped) {
  cvCamera* c = Make640();
  cvVec3d p{0, 0, -1}, out;
  cvCamera_Project(c, &p, &out);
  EXPECT_FLOAT_EQ(out.X, 319.5f);
  EXPECT_FLOAT_EQ(out.Y, 239.5f);
  EXPECT_FLOAT_EQ(out.Z, 0.5f);
  cvVec3d up{1, 1, -2};
  cvCamera_ProjectZ(c, &up, &out);
  EXPECT_FLOAT_EQ(out.X, 319.5f + 160.0f);
  EXPECT_FLOAT_EQ(out.Y, 239.5f - 160.0f);  // screen Y grows downwards
  EXPECT_FLOAT_EQ(out.Z, 0.5f);
  cvVec3d behind{1, 0, 5};
  cvCamera_Project(c, &behind, &out);
  EXPECT_FLOAT_EQ(out.X, 319.5f + 320.0f / 0.01f);
  EXPECT_FLOAT_EQ(out.Z, 0.01f * 0.5f);
  cvVec3d right{100, -100, -1};
  cvCamera_ProjectAndClamp(c, &right, &out);
  EXPECT_FLOAT_EQ(out.X, 639.0f);
  EXPECT_FLOAT_EQ(out.Y, 479.0f);
  cvCamera_Destroy(c);
}

TEST(Camera, TinyFieldOfViewIsStoredReplacedAndStaysFinite) {
  cvCamera* c = Make640(0.0f);
  ASSERT_NE(c, nullptr);
  EXPECT_FLOAT_EQ(c->FieldOfView, 0.0001f);
  EXPECT_TRUE(std::isfinite(c->Scale));
  cvRect empty{10, 5, 10, 5};  // negative size: 0.0001 in the calculation
  cvCamera_SetAttributes(c, &empty, 1.0f);
  EXPECT_FLOAT_EQ(c->Width, -4.0f);
  EXPECT_TRUE(std::isfinite(c->XScale));
  cvCamera_Destroy(c);
}

TEST(Camera, TransformsAndVisibilityTransform) {
  cvCamera* c = Make640();
  cvXForm3d m;
  cvXForm3d_SetYRotation(&m, 0.5f);
  m.T = cvVec3d{10, 20, 30};
  ASSERT_TRUE(cvCamera_SetWorldSpaceXForm(c, &m));
  EXPECT_FLOAT_EQ(cvCamera_GetPov(c)->Z, 30.0f);
  // A point one unit in front of the camera lands in camera space at (0,0,-1).
  cvVec3d in, world, cam;
  cvXForm3d_GetIn(&m, &in);
  cvVec3d_Add(&m.T, &in, &world);
  cvCamera_Transform(c, &world, &cam);
  EXPECT_NEAR(cam.X, 0, 1e-5);
  EXPECT_NEAR(cam.Z, -1, 1e-5);
  // Without a visibility transform the ordinary ones are returned.
  EXPECT_EQ(cvCamera_GetCameraSpaceVisXForm(c), cvCamera_GetCameraSpaceXForm(c));
  cvXForm3d vis;
  cvXForm3d_SetTranslation(&vis, 1, 2, 3);
  ASSERT_TRUE(cvCamera_SetWorldSpaceVisXForm(c, &vis));
  EXPECT_FLOAT_EQ(cvCamera_GetVisPov(c)->Y, 2.0f);
  EXPECT_FLOAT_EQ(cvCamera_GetCameraSpaceVisXForm(c)->T.X, -1.0f);
  ASSERT_TRUE(cvCamera_SetWorldSpaceVisXForm(c, nullptr));
  EXPECT_EQ(cvCamera_GetWorldSpaceVisXForm(c), cvCamera_GetWorldSpaceXForm(c));
  // The ray through the centre pixel is the viewing direction.
  cvVec3d ray;
  cvCamera_ScreenPointToWorld(c, 319.5f, 239.5f, &ray);
  EXPECT_NEAR(ray.X, in.X, 1e-5);
  EXPECT_NEAR(ray.Z, in.Z, 1e-5);
  cvCamera_Destroy(c);
}
