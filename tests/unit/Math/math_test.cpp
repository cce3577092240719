// Vectors, transforms, quaternions and boxes: conventions, aliasing and edge cases.
#include <cmath>
#include <limits>

#include "Math/cvmath.h"
#include "testsupport.h"

namespace {

constexpr float kPi = 3.14159265358979f;

void expectVec(const cvVec3d& v, float x, float y, float z, float tol = 1e-5f) {
  EXPECT_NEAR(v.X, x, tol);
  EXPECT_NEAR(v.Y, y, tol);
  EXPECT_NEAR(v.Z, z, tol);
}

void expectXFormNear(const cvXForm3d& a, const cvXForm3d& b, float tol = 1e-5f) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(a.M[r][c], b.M[r][c], tol) << r << "," << c;
  expectVec(a.T, b.T.X, b.T.Y, b.T.Z, tol);
}

cvXForm3d someRigid() {
  cvXForm3d m;
  cvVec3d angles = {0.3f, -1.1f, 2.0f};
  cvXForm3d_SetEulerAngles(&m, &angles);
  cvVec3d_Set(&m.T, 4.0f, -2.5f, 7.0f);
  return m;
}

TEST(Vec3d, ArithmeticAndNormalize) {
  cvVec3d a = {1, 2, 3}, b = {4, 5, 6}, out;
  cvVec3d_CrossProduct(&a, &b, &out);
  expectVec(out, -3, 6, -3);
  cvVec3d x = {1, 0, 0}, y = {0, 1, 0};
  cvVec3d_CrossProduct(&x, &y, &out);
  expectVec(out, 0, 0, 1);  // right-handed
  cvVec3d_AddScaled(&a, 2.0f, &b, &a);  // aliasing the output with an input
  expectVec(a, 9, 12, 15);
  EXPECT_FLOAT_EQ(cvVec3d_DotProduct(&x, &b), 4.0f);

  cvVec3d zero = {0, 0, 0};
  EXPECT_EQ(cvVec3d_Normalize(&zero), 0.0f);
  expectVec(zero, 0, 0, 0, 0);
  cvVec3d v = {3, 0, 4};
  EXPECT_FLOAT_EQ(cvVec3d_Normalize(&v), 5.0f);
  expectVec(v, 0.6f, 0, 0.8f);
  EXPECT_TRUE(cvVec3d_IsNormalized(&v));
  cvVec3d nan = {std::numeric_limits<float>::quiet_NaN(), 0, 0};
  EXPECT_FALSE(cvVec3d_IsValid(&nan));
  EXPECT_FALSE(cvVec3d_IsValid(nullptr));
}

TEST(XForm3d, AxisConventions) {
  cvXForm3d m;
  cvXForm3d_SetIdentity(&m);
  cvVec3d v;
  cvXForm3d_GetIn(&m, &v);
  expectVec(v, 0, 0, -1);
  cvXForm3d_GetLeft(&m, &v);
  expectVec(v, -1, 0, 0);
  cvXForm3d_GetUp(&m, &v);
  expectVec(v, 0, 1, 0);

  // A quarter turn about Y applied after a translation turns the translation too.
  cvXForm3d_SetTranslation(&m, 1, 0, 0);
  cvXForm3d_RotateY(&m, kPi / 2);
  expectVec(m.T, 0, 0, -1);
  // Rotation directions of the three setters (counter-clockwise seen from +axis).
  cvVec3d p = {0, 1, 0};
  cvXForm3d_SetXRotation(&m, kPi / 2);
  cvXForm3d_Transform(&m, &p, &v);
  expectVec(v, 0, 0, 1);
  p = {1, 0, 0};
  cvXForm3d_SetZRotation(&m, kPi / 2);
  cvXForm3d_Transform(&m, &p, &v);
  expectVec(v, 0, 1, 0);
  // Euler angles turn about Z first, then Y, then X.
  cvVec3d angles = {kPi / 2, 0, kPi / 2};
  cvXForm3d_SetEulerAngles(&m, &angles);
  cvXForm3d_Transform(&m, &p, &v);
  expectVec(v, 0, 0, 1);
}

TEST(XForm3d, MultiplyAliasingAndInverse) {
  cvXForm3d a = someRigid(), b, expected, out;
  cvXForm3d_SetZRotation(&b, 0.7f);
  cvVec3d_Set(&b.T, 1, 2, 3);
  cvXForm3d_Multiply(&a, &b, &expected);
  // B is applied first: (A·B)p = A(Bp).
  cvVec3d p = {0.5f, -1, 2}, bp, abp, direct;
  cvXForm3d_Transform(&b, &p, &bp);
  cvXForm3d_Transform(&a, &bp, &abp);
  cvXForm3d_Transform(&expected, &p, &direct);
  expectVec(direct, abp.X, abp.Y, abp.Z, 1e-4f);

  out = a;
  cvXForm3d_Multiply(&out, &b, &out);
  expectXFormNear(out, expected, 0);
  out = b;
  cvXForm3d_Multiply(&a, &out, &out);
  expectXFormNear(out, expected, 0);

  cvXForm3d inv, inv2, id, ident;
  cvXForm3d_SetIdentity(&ident);
  cvXForm3d_GetInverse(&a, &inv);
  cvXForm3d_GetTranspose(&a, &inv2);
  expectXFormNear(inv, inv2, 1e-5f);
  cvXForm3d_Multiply(&inv, &a, &id);
  expectXFormNear(id, ident, 1e-5f);
  cvXForm3d_Multiply(&a, &inv, &id);
  expectXFormNear(id, ident, 1e-5f);
  cvVec3d back;
  cvXForm3d_TransposeTransform(&a, &abp, &back);
  cvXForm3d_Transform(&inv, &abp, &direct);
  expectVec(back, direct.X, direct.Y, direct.Z, 1e-4f);
}

TEST(XForm3d, OrthonormalityAndMirror) {
  cvXForm3d m = someRigid();
  EXPECT_TRUE(cvXForm3d_IsOrthonormal(&m));
  cvXForm3d mirrored;
  cvXForm3d_SetScaling(&mirrored, -1, 1, 1);  // left-handed basis still passes
  EXPECT_TRUE(cvXForm3d_IsOrthonormal(&mirrored));
  cvXForm3d scaled;
  cvXForm3d_SetScaling(&scaled, 2, 2, 2);
  EXPECT_FALSE(cvXForm3d_IsOrthonormal(&scaled));
  EXPECT_TRUE(cvXForm3d_IsOrthogonal(&scaled));
  cvXForm3d bad = m;
  bad.T.Y = std::numeric_limits<float>::quiet_NaN();
  EXPECT_FALSE(cvXForm3d_IsOrthonormal(&bad));
  EXPECT_FALSE(cvXForm3d_IsValid(&bad));

  cvXForm3d skew = m;
  skew.M[0][0] *= 3;
  skew.M[1][0] *= 3;
  skew.M[2][0] *= 3;
  cvXForm3d_Orthonormalize(&skew);
  EXPECT_TRUE(cvXForm3d_IsOrthonormal(&skew));
  expectXFormNear(skew, m, 1e-5f);

  // Mirroring in the plane x = 1: position (3,0,0) -> (-1,0,0), "in" keeps
  // pointing along -Z, "left" flips to +X.
  cvXForm3d t;
  cvXForm3d_SetTranslation(&t, 3, 0, 0);
  cvVec3d n = {1, 0, 0};
  cvXForm3d_Mirror(&t, &n, 1.0f, &t);  // output aliasing the input
  expectVec(t.T, -1, 0, 0);
  cvVec3d v;
  cvXForm3d_GetLeft(&t, &v);
  expectVec(v, 1, 0, 0);
  cvXForm3d_GetIn(&t, &v);
  expectVec(v, 0, 0, -1);
}

TEST(Quaternion, ProductRotationAndMatrix) {
  cvQuaternion q, r, out;
  cvVec3d zAxis = {0, 0, 1}, x = {1, 0, 0}, v;
  cvQuaternion_SetFromAxisAngle(&q, &zAxis, kPi / 2);
  cvQuaternion_Rotate(&q, &x, &v);
  expectVec(v, 0, 1, 0);
  // q·r applies r first.
  cvVec3d xAxis = {1, 0, 0};
  cvQuaternion_SetFromAxisAngle(&r, &xAxis, kPi / 2);
  cvQuaternion_Multiply(&q, &r, &out);
  cvVec3d y = {0, 1, 0};
  cvQuaternion_Rotate(&out, &y, &v);  // r: y -> z, q leaves z alone
  expectVec(v, 0, 0, 1);
  cvXForm3d m;
  cvQuaternion_ToMatrix(&out, &m);
  cvXForm3d_Rotate(&m, &y, &v);
  expectVec(v, 0, 0, 1);

  cvVec3d axis;
  float angle = 5;
  cvQuaternion id = {1, 0, 0, 0};
  EXPECT_FALSE(cvQuaternion_GetAxisAngle(&id, &axis, &angle));
  expectVec(axis, 0, 0, 0, 0);
  EXPECT_EQ(angle, 0.0f);
  EXPECT_TRUE(cvQuaternion_GetAxisAngle(&q, &axis, &angle));
  expectVec(axis, 0, 0, 1);
  EXPECT_NEAR(angle, kPi / 2, 1e-5f);

  cvQuaternion neg = {-q.W, -q.X, -q.Y, -q.Z};
  EXPECT_TRUE(cvQuaternion_Compare(&q, &neg, 1e-6f));
  EXPECT_FALSE(cvQuaternion_Compare(&q, &r, 1e-3f));
}

TEST(Quaternion, FromMatrixRoundTripIncludingHalfTurns) {
  const cvVec3d axes[] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0.6f, 0.8f, 0}, {0.48f, 0.6f, 0.64f}, {0, -0.6f, 0.8f}};
  const float angles[] = {0.0f, 0.4f, 2.0f, kPi, -2.9f};
  for (const cvVec3d& a : axes)
    for (float angle : angles) {
      cvQuaternion q, back = {9, 9, 9, 9};
      cvQuaternion_SetFromAxisAngle(&q, &a, angle);
      cvXForm3d m;
      cvQuaternion_ToMatrix(&q, &m);
      cvQuaternion_FromMatrix(&m, &back);
      EXPECT_TRUE(cvQuaternion_Compare(&q, &back, 1e-4f))
          << "axis " << a.X << "," << a.Y << "," << a.Z << " angle " << angle << " got " << back.W << " "
          << back.X << " " << back.Y << " " << back.Z;
    }
}

TEST(Quaternion, SlerpEndsAndHemisphere) {
  cvQuaternion a, b, out;
  cvVec3d axis = {0, 1, 0};
  cvQuaternion_SetFromAxisAngle(&a, &axis, 0.2f);
  cvQuaternion_SetFromAxisAngle(&b, &axis, 1.4f);
  cvQuaternion_Slerp(&a, &b, 0.0f, &out);
  EXPECT_TRUE(cvQuaternion_Compare(&out, &a, 1e-6f));
  cvQuaternion_Slerp(&a, &b, 1.0f, &out);
  EXPECT_NEAR(out.W, b.W, 1e-6f);
  EXPECT_NEAR(out.Y, b.Y, 1e-6f);
  cvQuaternion_Slerp(&a, &b, 0.5f, &out);
  cvQuaternion mid;
  cvQuaternion_SetFromAxisAngle(&mid, &axis, 0.8f);
  EXPECT_NEAR(out.W, mid.W, 1e-5f);
  EXPECT_NEAR(out.Y, mid.Y, 1e-5f);
  // Shortest path: with Q1·Q2 < 0 the end point is −Q2.
  cvQuaternion negB = {-b.W, -b.X, -b.Y, -b.Z};
  cvQuaternion_Slerp(&a, &negB, 1.0f, &out);
  EXPECT_NEAR(out.W, b.W, 1e-6f);
  EXPECT_NEAR(out.Y, b.Y, 1e-6f);
  // Not shortest keeps −Q2 at the end and goes the long way.
  cvQuaternion_SlerpNotShortest(&a, &negB, 1.0f, &out);
  EXPECT_NEAR(out.W, negB.W, 1e-5f);
  // Equal inputs use linear weights.
  cvQuaternion_Slerp(&a, &a, 0.3f, &out);
  EXPECT_TRUE(cvQuaternion_Compare(&out, &a, 1e-6f));
  // Opposite inputs pass through the perpendicular quaternion.
  cvQuaternion id = {1, 0, 0, 0}, negId = {-1, 0, 0, 0};
  cvQuaternion_SlerpNotShortest(&id, &negId, 1.0f, &out);
  EXPECT_NEAR(out.Z, -1.0f, 1e-6f);
  EXPECT_NEAR(out.W, 0.0f, 1e-6f);
}

TEST(Quaternion, LnExpNormalize) {
  cvQuaternion q, l, e;
  cvVec3d axis = {0, 0.6f, 0.8f};
  cvQuaternion_SetFromAxisAngle(&q, &axis, 1.2f);
  cvQuaternion_Ln(&q, &l);
  EXPECT_EQ(l.W, 0.0f);
  EXPECT_NEAR(l.Y, 0.6f * 0.6f, 1e-5f);
  cvQuaternion_Exp(&l, &e);
  EXPECT_TRUE(cvQuaternion_Compare(&e, &q, 1e-5f));
  // The logarithm of a quaternion with negative W is that of its negation.
  cvQuaternion neg = {-q.W, -q.X, -q.Y, -q.Z}, l2;
  cvQuaternion_Ln(&neg, &l2);
  EXPECT_NEAR(l2.Y, l.Y, 1e-6f);

  cvQuaternion big = {2, 0, 0, 0};
  EXPECT_FLOAT_EQ(cvQuaternion_Normalize(&big), 2.0f);
  EXPECT_TRUE(cvQuaternion_IsUnit(&big));
  cvQuaternion tiny = {1e-6f, 0, 0, 0};
  EXPECT_EQ(cvQuaternion_Normalize(&tiny), 0.0f);
  EXPECT_EQ(tiny.W, 1e-6f);
}

TEST(ExtBox, SetIntersectSweep) {
  cvExtBox b;
  cvExtBox_Set(&b, 2, 0, 0, 1, 5, 5);
  expectVec(b.Min, 1, 0, 0, 0);
  expectVec(b.Max, 2, 5, 5, 0);

  cvExtBox a, c, out;
  cvExtBox_Set(&a, 0, 0, 0, 1, 1, 1);
  cvExtBox_Set(&c, 1, 0, 0, 2, 1, 1);  // shares the face x = 1
  ASSERT_TRUE(cvExtBox_Intersection(&a, &c, &out));
  EXPECT_EQ(out.Min.X, 1.0f);
  EXPECT_EQ(out.Max.X, 1.0f);
  EXPECT_TRUE(cvExtBox_IsValid(&out));
  cvExtBox_Set(&c, 1.5f, 0, 0, 2, 1, 1);
  EXPECT_FALSE(cvExtBox_Intersects(&a, &c));

  cvVec3d from = {0, 0, 0}, to = {3, -2, 0};
  cvExtBox_LinearSweep(&a, &from, &to, &out);
  expectVec(out.Min, 0, -2, 0, 0);
  expectVec(out.Max, 4, 1, 1, 0);

  cvExtBox_Scale(&a, 2, 1, 1);
  expectVec(a.Min, -0.5f, 0, 0);
  expectVec(a.Max, 1.5f, 1, 1);
  cvVec3d centre = {10, 10, 10};
  cvExtBox_SetTranslation(&a, &centre);
  expectVec(a.Min, 9, 9.5f, 9.5f);
  cvExtBox swapped = {{1, 0, 0}, {0, 1, 1}};
  EXPECT_FALSE(cvExtBox_IsValid(&swapped));
}

TEST(ExtBox, RayCollision) {
  cvExtBox b;
  cvExtBox_Set(&b, 0, 0, 0, 1, 1, 1);
  cvVec3d front = {2, 0.5f, 0.5f}, back = {-1, 0.5f, 0.5f}, normal;
  float t = 0;
  ASSERT_TRUE(cvExtBox_RayCollision(&b, &front, &back, &t, &normal));
  EXPECT_NEAR(t, 1.0f / 3.0f, 1e-6f);
  expectVec(normal, 1, 0, 0, 0);
  // From below on Y: the Min face, normal -Y.
  front = {0.5f, -1, 0.5f};
  back = {0.5f, 3, 0.5f};
  ASSERT_TRUE(cvExtBox_RayCollision(&b, &front, &back, &t, nullptr));
  EXPECT_NEAR(t, 0.25f, 1e-6f);
  ASSERT_TRUE(cvExtBox_RayCollision(&b, &front, &back, nullptr, &normal));
  expectVec(normal, 0, -1, 0, 0);
  // A segment that starts inside hits nothing; one that passes beside misses.
  front = {0.5f, 0.5f, 0.5f};
  back = {5, 0.5f, 0.5f};
  EXPECT_FALSE(cvExtBox_RayCollision(&b, &front, &back, &t, &normal));
  front = {2, 2, 0.5f};
  back = {-1, 2, 0.5f};
  EXPECT_FALSE(cvExtBox_RayCollision(&b, &front, &back, &t, &normal));
}

}  // namespace
