// Rigid and affine transforms: a 3x3 matrix (row by row) and a translation.
#include <cmath>
#include <cstring>

#include "Math/cvmath.h"

namespace {

// Double-precision working copy of a transform.
struct DX {
  double m[3][3];
  double t[3];
};

DX load(const cvXForm3d* M) {
  DX d;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) d.m[r][c] = M->M[r][c];
  d.t[0] = M->T.X;
  d.t[1] = M->T.Y;
  d.t[2] = M->T.Z;
  return d;
}

void store(const DX& d, cvXForm3d* M) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) M->M[r][c] = (float)d.m[r][c];
  M->T.X = (float)d.t[0];
  M->T.Y = (float)d.t[1];
  M->T.Z = (float)d.t[2];
}

DX multiply(const DX& a, const DX& b) {
  DX o;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) o.m[r][c] = a.m[r][0] * b.m[0][c] + a.m[r][1] * b.m[1][c] + a.m[r][2] * b.m[2][c];
    o.t[r] = a.m[r][0] * b.t[0] + a.m[r][1] * b.t[1] + a.m[r][2] * b.t[2] + a.t[r];
  }
  return o;
}

void setRows(cvXForm3d* M, double a, double b, double c, double d, double e, double f, double g, double h,
             double i) {
  const double v[9] = {a, b, c, d, e, f, g, h, i};
  for (int k = 0; k < 9; ++k) M->M[k / 3][k % 3] = (float)v[k];
  cvVec3d_Clear(&M->T);
}

// M := R·M for a rotation R built by the given setter.
void preRotate(cvXForm3d* M, void (*set)(cvXForm3d*, float), float angle) {
  cvXForm3d r;
  set(&r, angle);
  cvXForm3d_Multiply(&r, M, M);
}

cvVec3d column(const cvXForm3d* M, int c) { return cvVec3d{M->M[0][c], M->M[1][c], M->M[2][c]}; }

void setColumn(cvXForm3d* M, int c, const cvVec3d& v) {
  M->M[0][c] = v.X;
  M->M[1][c] = v.Y;
  M->M[2][c] = v.Z;
}

bool isNaN(float f) { return f != f; }

}  // namespace

void cvXForm3d_SetIdentity(cvXForm3d* M) { setRows(M, 1, 0, 0, 0, 1, 0, 0, 0, 1); }

void cvXForm3d_SetXRotation(cvXForm3d* M, float Angle) {
  double c = std::cos((double)Angle), s = std::sin((double)Angle);
  setRows(M, 1, 0, 0, 0, c, -s, 0, s, c);
}

void cvXForm3d_SetYRotation(cvXForm3d* M, float Angle) {
  double c = std::cos((double)Angle), s = std::sin((double)Angle);
  setRows(M, c, 0, s, 0, 1, 0, -s, 0, c);
}

void cvXForm3d_SetZRotation(cvXForm3d* M, float Angle) {
  double c = std::cos((double)Angle), s = std::sin((double)Angle);
  setRows(M, c, -s, 0, s, c, 0, 0, 0, 1);
}

void cvXForm3d_SetTranslation(cvXForm3d* M, float X, float Y, float Z) {
  cvXForm3d_SetIdentity(M);
  cvVec3d_Set(&M->T, X, Y, Z);
}

void cvXForm3d_SetScaling(cvXForm3d* M, float X, float Y, float Z) { setRows(M, X, 0, 0, 0, Y, 0, 0, 0, Z); }

void cvXForm3d_RotateX(cvXForm3d* M, float Angle) { preRotate(M, cvXForm3d_SetXRotation, Angle); }
void cvXForm3d_RotateY(cvXForm3d* M, float Angle) { preRotate(M, cvXForm3d_SetYRotation, Angle); }
void cvXForm3d_RotateZ(cvXForm3d* M, float Angle) { preRotate(M, cvXForm3d_SetZRotation, Angle); }

void cvXForm3d_Translate(cvXForm3d* M, float X, float Y, float Z) {
  cvVec3d d = {X, Y, Z};
  cvVec3d_Add(&M->T, &d, &M->T);
}

void cvXForm3d_Scale(cvXForm3d* M, float X, float Y, float Z) {
  cvXForm3d s;
  cvXForm3d_SetScaling(&s, X, Y, Z);
  cvXForm3d_Multiply(&s, M, M);
}

void cvXForm3d_Multiply(const cvXForm3d* A, const cvXForm3d* B, cvXForm3d* Out) {
  // Both inputs are read in full before Out is written, so Out may alias either.
  store(multiply(load(A), load(B)), Out);
}

void cvXForm3d_Transform(const cvXForm3d* M, const cvVec3d* V, cvVec3d* Out) {
  const double x = V->X, y = V->Y, z = V->Z;
  cvVec3d_Set(Out, (float)(M->M[0][0] * x + M->M[0][1] * y + M->M[0][2] * z + M->T.X),
              (float)(M->M[1][0] * x + M->M[1][1] * y + M->M[1][2] * z + M->T.Y),
              (float)(M->M[2][0] * x + M->M[2][1] * y + M->M[2][2] * z + M->T.Z));
}

void cvXForm3d_TransformArray(const cvXForm3d* M, const cvVec3d* Src, cvVec3d* Dst, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i) cvXForm3d_Transform(M, &Src[i], &Dst[i]);
}

void cvXForm3d_Rotate(const cvXForm3d* M, const cvVec3d* V, cvVec3d* Out) {
  const double x = V->X, y = V->Y, z = V->Z;
  cvVec3d_Set(Out, (float)(M->M[0][0] * x + M->M[0][1] * y + M->M[0][2] * z),
              (float)(M->M[1][0] * x + M->M[1][1] * y + M->M[1][2] * z),
              (float)(M->M[2][0] * x + M->M[2][1] * y + M->M[2][2] * z));
}

void cvXForm3d_TransposeTransform(const cvXForm3d* M, const cvVec3d* V, cvVec3d* Out) {
  const double x = (double)V->X - M->T.X, y = (double)V->Y - M->T.Y, z = (double)V->Z - M->T.Z;
  cvVec3d_Set(Out, (float)(M->M[0][0] * x + M->M[1][0] * y + M->M[2][0] * z),
              (float)(M->M[0][1] * x + M->M[1][1] * y + M->M[2][1] * z),
              (float)(M->M[0][2] * x + M->M[1][2] * y + M->M[2][2] * z));
}

void cvXForm3d_GetLeft(const cvXForm3d* M, cvVec3d* Out) {
  cvVec3d_Set(Out, -M->M[0][0], -M->M[1][0], -M->M[2][0]);
}

void cvXForm3d_GetUp(const cvXForm3d* M, cvVec3d* Out) { cvVec3d_Set(Out, M->M[0][1], M->M[1][1], M->M[2][1]); }

void cvXForm3d_GetIn(const cvXForm3d* M, cvVec3d* Out) {
  cvVec3d_Set(Out, -M->M[0][2], -M->M[1][2], -M->M[2][2]);
}

void cvXForm3d_SetFromLeftUpIn(cvXForm3d* M, const cvVec3d* Left, const cvVec3d* Up, const cvVec3d* In) {
  const cvVec3d right = {-Left->X, -Left->Y, -Left->Z};
  const cvVec3d up = *Up;
  const cvVec3d back = {-In->X, -In->Y, -In->Z};
  setColumn(M, 0, right);
  setColumn(M, 1, up);
  setColumn(M, 2, back);
  cvVec3d_Clear(&M->T);
}

void cvXForm3d_GetTranspose(const cvXForm3d* M, cvXForm3d* Out) {
  // Mᵀ composed with a translation by −T: (Mᵀ)·T(−T).
  cvXForm3d rot, shift;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) rot.M[r][c] = M->M[c][r];
  cvVec3d_Clear(&rot.T);
  cvXForm3d_SetTranslation(&shift, -M->T.X, -M->T.Y, -M->T.Z);
  cvXForm3d_Multiply(&rot, &shift, Out);
}

void cvXForm3d_GetInverse(const cvXForm3d* M, cvXForm3d* Out) {
  const DX d = load(M);
  DX o;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) o.m[r][c] = d.m[c][r];
  for (int r = 0; r < 3; ++r) o.t[r] = -(o.m[r][0] * d.t[0] + o.m[r][1] * d.t[1] + o.m[r][2] * d.t[2]);
  store(o, Out);
}

void cvXForm3d_Copy(const cvXForm3d* Src, cvXForm3d* Dst) { std::memmove(Dst, Src, sizeof *Dst); }

int cvXForm3d_IsValid(const cvXForm3d* M) {
  if (!M) return 0;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      if (isNaN(M->M[r][c])) return 0;
  return !isNaN(M->T.X) && !isNaN(M->T.Y) && !isNaN(M->T.Z);
}

void cvXForm3d_SetEulerAngles(cvXForm3d* M, const cvVec3d* Angles) {
  cvXForm3d rx, ry, rz;
  cvXForm3d_SetXRotation(&rx, Angles->X);
  cvXForm3d_SetYRotation(&ry, Angles->Y);
  cvXForm3d_SetZRotation(&rz, Angles->Z);
  store(multiply(load(&rx), multiply(load(&ry), load(&rz))), M);
}

namespace {
// C0×C1 against ±C2; with Normalize, both sides are made unit length first.
int basisMatches(const cvXForm3d* M, bool normalize) {
  if (!cvVec3d_IsValid(&M->T)) return 0;
  cvVec3d c0 = column(M, 0), c1 = column(M, 1), c2 = column(M, 2), cross;
  cvVec3d_CrossProduct(&c0, &c1, &cross);
  if (normalize) {
    cvVec3d_Normalize(&cross);
    cvVec3d_Normalize(&c2);
  }
  if (cvVec3d_Compare(&cross, &c2, 0.001f)) return 1;
  cvVec3d_Inverse(&c2);
  return cvVec3d_Compare(&cross, &c2, 0.001f);
}
}  // namespace

int cvXForm3d_IsOrthonormal(const cvXForm3d* M) { return basisMatches(M, false); }

int cvXForm3d_IsOrthogonal(const cvXForm3d* M) { return basisMatches(M, true); }

void cvXForm3d_Orthonormalize(cvXForm3d* M) {
  cvVec3d c0 = column(M, 0), c1 = column(M, 1), c2;
  cvVec3d_Normalize(&c0);
  cvVec3d_Normalize(&c1);
  cvVec3d_CrossProduct(&c0, &c1, &c2);
  setColumn(M, 0, c0);
  setColumn(M, 1, c1);
  setColumn(M, 2, c2);
}

void cvXForm3d_Mirror(const cvXForm3d* M, const cvVec3d* PlaneNormal, float PlaneDist, cvXForm3d* Out) {
  const cvVec3d n = *PlaneNormal;
  auto reflect = [&](const cvVec3d& p) {
    const double k = 2.0 * ((double)cvVec3d_DotProduct(&p, &n) - PlaneDist);
    return cvVec3d{(float)(p.X - k * n.X), (float)(p.Y - k * n.Y), (float)(p.Z - k * n.Z)};
  };
  const cvVec3d p = M->T;
  const cvVec3d mirroredPos = reflect(p);
  cvVec3d dirs[3];
  cvXForm3d_GetLeft(M, &dirs[0]);
  cvXForm3d_GetUp(M, &dirs[1]);
  cvXForm3d_GetIn(M, &dirs[2]);
  for (cvVec3d& d : dirs) {
    cvVec3d tip;
    cvVec3d_Add(&p, &d, &tip);
    tip = reflect(tip);
    cvVec3d_Subtract(&tip, &mirroredPos, &d);
    cvVec3d_Normalize(&d);
  }
  cvXForm3d_SetFromLeftUpIn(Out, &dirs[0], &dirs[1], &dirs[2]);
  Out->T = mirroredPos;
}
