// Rotation quaternions (W, X, Y, Z).
#include <cmath>

#include "Math/cvmath.h"

namespace {

struct DQ {
  double w, x, y, z;
};

DQ load(const cvQuaternion* Q) { return {Q->W, Q->X, Q->Y, Q->Z}; }

void store(const DQ& q, cvQuaternion* Q) {
  Q->W = (float)q.w;
  Q->X = (float)q.x;
  Q->Y = (float)q.y;
  Q->Z = (float)q.z;
}

double dot(const DQ& a, const DQ& b) { return a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z; }

DQ blend(const DQ& a, double sa, const DQ& b, double sb) {
  return {sa * a.w + sb * b.w, sa * a.x + sb * b.x, sa * a.y + sb * b.y, sa * a.z + sb * b.z};
}

DQ hamilton(const DQ& a, const DQ& b) {
  return {a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z, a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
          a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x, a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w};
}

bool isNaN(float f) { return f != f; }

}  // namespace

void cvQuaternion_Set(cvQuaternion* Q, float W, const cvVec3d* V) {
  Q->W = W;
  Q->X = V->X;
  Q->Y = V->Y;
  Q->Z = V->Z;
}

void cvQuaternion_Get(const cvQuaternion* Q, float* W, float* X, float* Y, float* Z) {
  *W = Q->W;
  *X = Q->X;
  *Y = Q->Y;
  *Z = Q->Z;
}

void cvQuaternion_GetVec(const cvQuaternion* Q, float* W, cvVec3d* V) {
  *W = Q->W;
  cvVec3d_Set(V, Q->X, Q->Y, Q->Z);
}

void cvQuaternion_SetNoRotation(cvQuaternion* Q) { *Q = cvQuaternion{1.0f, 0.0f, 0.0f, 0.0f}; }

void cvQuaternion_Copy(const cvQuaternion* Src, cvQuaternion* Dst) { *Dst = *Src; }

void cvQuaternion_Add(const cvQuaternion* Q1, const cvQuaternion* Q2, cvQuaternion* Out) {
  store(blend(load(Q1), 1.0, load(Q2), 1.0), Out);
}

void cvQuaternion_Subtract(const cvQuaternion* Q1, const cvQuaternion* Q2, cvQuaternion* Out) {
  store(blend(load(Q1), 1.0, load(Q2), -1.0), Out);
}

void cvQuaternion_Scale(const cvQuaternion* Q, float S, cvQuaternion* Out) {
  const DQ q = load(Q);
  store({q.w * S, q.x * S, q.y * S, q.z * S}, Out);
}

void cvQuaternion_Inverse(const cvQuaternion* Q, cvQuaternion* Out) {
  *Out = cvQuaternion{Q->W, -Q->X, -Q->Y, -Q->Z};
}

void cvQuaternion_Multiply(const cvQuaternion* Q1, const cvQuaternion* Q2, cvQuaternion* Out) {
  store(hamilton(load(Q1), load(Q2)), Out);
}

void cvQuaternion_Rotate(const cvQuaternion* Q, const cvVec3d* V, cvVec3d* Out) {
  const DQ q = load(Q);
  const DQ r = hamilton(hamilton(q, DQ{0.0, V->X, V->Y, V->Z}), DQ{q.w, -q.x, -q.y, -q.z});
  cvVec3d_Set(Out, (float)r.x, (float)r.y, (float)r.z);
}

void cvQuaternion_SetFromAxisAngle(cvQuaternion* Q, const cvVec3d* Axis, float Angle) {
  const double h = Angle / 2.0, s = std::sin(h);
  store({std::cos(h), s * Axis->X, s * Axis->Y, s * Axis->Z}, Q);
}

int cvQuaternion_GetAxisAngle(const cvQuaternion* Q, cvVec3d* Axis, float* Angle) {
  const double theta = std::acos((double)Q->W);
  if (!(theta > 1e-5)) {  // also catches NaN
    cvVec3d_Clear(Axis);
    *Angle = 0.0f;
    return 0;
  }
  const double s = std::sin(theta);
  cvVec3d_Set(Axis, (float)(Q->X / s), (float)(Q->Y / s), (float)(Q->Z / s));
  *Angle = (float)(2.0 * theta);
  return 1;
}

void cvQuaternion_ToMatrix(const cvQuaternion* Q, cvXForm3d* M) {
  const double w = Q->W, x = Q->X, y = Q->Y, z = Q->Z;
  const double m[9] = {1 - 2 * y * y - 2 * z * z, 2 * x * y - 2 * w * z,     2 * x * z + 2 * w * y,
                       2 * x * y + 2 * w * z,     1 - 2 * x * x - 2 * z * z, 2 * y * z - 2 * w * x,
                       2 * x * z - 2 * w * y,     2 * y * z + 2 * w * x,     1 - 2 * x * x - 2 * y * y};
  for (int k = 0; k < 9; ++k) M->M[k / 3][k % 3] = (float)m[k];
  cvVec3d_Clear(&M->T);
}

void cvQuaternion_FromMatrix(const cvXForm3d* M, cvQuaternion* Q) {
  double m[3][3];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m[r][c] = M->M[r][c];
  const double trace = m[0][0] + m[1][1] + m[2][2];
  if (trace > 0) {
    double s = std::sqrt(trace + 1.0);
    const double w = s / 2;
    s = 0.5 / s;
    store({w, (m[2][1] - m[1][2]) * s, (m[0][2] - m[2][0]) * s, (m[1][0] - m[0][1]) * s}, Q);
    return;
  }
  // Start with the largest diagonal element and fall back along x→y→z→x while
  // the square root is too small to divide by safely.
  int i = 0;
  if (m[1][1] > m[i][i]) i = 1;
  if (m[2][2] > m[i][i]) i = 2;
  for (int tries = 0; tries < 3; ++tries, i = (i + 1) % 3) {
    const int j = (i + 1) % 3, k = (j + 1) % 3;
    double s = std::sqrt(1.0 + m[i][i] - m[j][j] - m[k][k]);
    if (!(s > 0.1)) continue;
    double v[3];
    v[i] = s / 2;
    s = 0.5 / s;
    const double w = (m[k][j] - m[j][k]) * s;
    v[j] = (m[j][i] + m[i][j]) * s;
    v[k] = (m[k][i] + m[i][k]) * s;
    store({w, v[0], v[1], v[2]}, Q);
    return;
  }
}

void cvQuaternion_Slerp(const cvQuaternion* Q1, const cvQuaternion* Q2, float T, cvQuaternion* Out) {
  const DQ a = load(Q1);
  DQ b = load(Q2);
  double c = dot(a, b);
  if (c < 0) {
    b = {-b.w, -b.x, -b.y, -b.z};
    c = -c;
  }
  double s1, s2;
  if (1.0 - c <= 1e-5) {
    s1 = 1.0 - T;
    s2 = T;
  } else {
    const double theta = std::acos(c), st = std::sin(theta);
    s1 = std::sin((1.0 - T) * theta) / st;
    s2 = std::sin(T * theta) / st;
  }
  store(blend(a, s1, b, s2), Out);
}

void cvQuaternion_SlerpNotShortest(const cvQuaternion* Q1, const cvQuaternion* Q2, float T, cvQuaternion* Out) {
  const DQ a = load(Q1), b = load(Q2);
  const double c = dot(a, b);
  if (1.0 + c > 1e-5) {
    double s1 = 1.0 - T, s2 = T;
    if (1.0 - c > 1e-5) {
      const double theta = std::acos(c), st = std::sin(theta);
      if (st >= 1e-5) {
        s1 = std::sin((1.0 - T) * theta) / st;
        s2 = std::sin(T * theta) / st;
      }
    }
    store(blend(a, s1, b, s2), Out);
    return;
  }
  // Opposite quaternions: turn through a perpendicular one instead.
  const DQ p = {a.z, -a.y, a.x, -a.w};
  const double halfPi = 1.5707963705062866;
  store(blend(a, std::sin((1.0 - T) * halfPi), p, std::sin(T * halfPi)), Out);
}

void cvQuaternion_Ln(const cvQuaternion* Q, cvQuaternion* Out) {
  DQ q = load(Q);
  if (q.w < 0) q = {-q.w, -q.x, -q.y, -q.z};
  const double theta = std::acos(q.w);
  double s = 1.0;
  if (theta >= 0.0001) s = theta / std::sin(theta);
  store({0.0, s * q.x, s * q.y, s * q.z}, Out);
}

void cvQuaternion_Exp(const cvQuaternion* Q, cvQuaternion* Out) {
  const DQ q = load(Q);
  const double theta = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z);
  const double s = theta > 0.0001 ? std::sin(theta) / theta : 1.0;
  store({std::cos(theta), s * q.x, s * q.y, s * q.z}, Out);
}

float cvQuaternion_Magnitude(const cvQuaternion* Q) {
  const DQ q = load(Q);
  return (float)dot(q, q);
}

float cvQuaternion_Normalize(cvQuaternion* Q) {
  const DQ q = load(Q);
  const double m = std::sqrt(dot(q, q));
  if (m < 1e-5) return 0.0f;
  store({q.w / m, q.x / m, q.y / m, q.z / m}, Q);
  return (float)m;
}

int cvQuaternion_IsUnit(const cvQuaternion* Q) {
  const double m = cvQuaternion_Magnitude(Q);
  return m > 0.999 && m < 1.001;
}

int cvQuaternion_Compare(const cvQuaternion* Q1, const cvQuaternion* Q2, float Tolerance) {
  const DQ a = load(Q1), b = load(Q2);
  const bool opposite = std::fabs(a.w + b.w) <= Tolerance && std::fabs(a.x + b.x) <= Tolerance &&
                        std::fabs(a.y + b.y) <= Tolerance && std::fabs(a.z + b.z) <= Tolerance;
  const bool same = std::fabs(a.w - b.w) <= Tolerance && std::fabs(a.x - b.x) <= Tolerance &&
                    std::fabs(a.y - b.y) <= Tolerance && std::fabs(a.z - b.z) <= Tolerance;
  return opposite || same;
}

int cvQuaternion_IsValid(const cvQuaternion* Q) {
  return Q && !isNaN(Q->W) && !isNaN(Q->X) && !isNaN(Q->Y) && !isNaN(Q->Z);
}
