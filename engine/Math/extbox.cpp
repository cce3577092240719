// Axis-aligned boxes.
#include <algorithm>
#include <cmath>

#include "Math/cvmath.h"

namespace {
float& axis(cvVec3d& v, int a) { return a == 0 ? v.X : a == 1 ? v.Y : v.Z; }
float axis(const cvVec3d& v, int a) { return a == 0 ? v.X : a == 1 ? v.Y : v.Z; }
}  // namespace

void cvExtBox_Set(cvExtBox* B, float X1, float Y1, float Z1, float X2, float Y2, float Z2) {
  cvVec3d_Set(&B->Min, std::min(X1, X2), std::min(Y1, Y2), std::min(Z1, Z2));
  cvVec3d_Set(&B->Max, std::max(X1, X2), std::max(Y1, Y2), std::max(Z1, Z2));
}

void cvExtBox_SetToPoint(cvExtBox* B, const cvVec3d* P) {
  B->Min = *P;
  B->Max = *P;
}

void cvExtBox_ExtendToEnclose(cvExtBox* B, const cvVec3d* P) {
  for (int a = 0; a < 3; ++a) {
    if (axis(B->Max, a) < axis(*P, a)) axis(B->Max, a) = axis(*P, a);
    if (axis(B->Min, a) > axis(*P, a)) axis(B->Min, a) = axis(*P, a);
  }
}

int cvExtBox_IsValid(const cvExtBox* B) {
  if (!B || !cvVec3d_IsValid(&B->Min) || !cvVec3d_IsValid(&B->Max)) return 0;
  for (int a = 0; a < 3; ++a)
    if (axis(B->Min, a) > axis(B->Max, a)) return 0;
  return 1;
}

int cvExtBox_Intersects(const cvExtBox* A, const cvExtBox* B) {
  for (int a = 0; a < 3; ++a)
    if (axis(A->Min, a) > axis(B->Max, a) || axis(A->Max, a) < axis(B->Min, a)) return 0;
  return 1;
}

int cvExtBox_Intersection(const cvExtBox* A, const cvExtBox* B, cvExtBox* Out) {
  if (!cvExtBox_Intersects(A, B)) return 0;
  if (Out)
    cvExtBox_Set(Out, std::max(A->Min.X, B->Min.X), std::max(A->Min.Y, B->Min.Y), std::max(A->Min.Z, B->Min.Z),
                 std::min(A->Max.X, B->Max.X), std::min(A->Max.Y, B->Max.Y), std::min(A->Max.Z, B->Max.Z));
  return 1;
}

void cvExtBox_Union(const cvExtBox* A, const cvExtBox* B, cvExtBox* Out) {
  cvExtBox_Set(Out, std::min(A->Min.X, B->Min.X), std::min(A->Min.Y, B->Min.Y), std::min(A->Min.Z, B->Min.Z),
               std::max(A->Max.X, B->Max.X), std::max(A->Max.Y, B->Max.Y), std::max(A->Max.Z, B->Max.Z));
}

void cvExtBox_GetTranslation(const cvExtBox* B, cvVec3d* Out) {
  cvVec3d_Set(Out, (float)(((double)B->Min.X + B->Max.X) / 2), (float)(((double)B->Min.Y + B->Max.Y) / 2),
              (float)(((double)B->Min.Z + B->Max.Z) / 2));
}

void cvExtBox_Translate(cvExtBox* B, float DX, float DY, float DZ) {
  cvVec3d d = {DX, DY, DZ};
  cvVec3d_Add(&B->Min, &d, &B->Min);
  cvVec3d_Add(&B->Max, &d, &B->Max);
}

void cvExtBox_SetTranslation(cvExtBox* B, const cvVec3d* P) {
  cvVec3d centre;
  cvExtBox_GetTranslation(B, &centre);
  cvExtBox_Translate(B, (float)((double)P->X - centre.X), (float)((double)P->Y - centre.Y),
                     (float)((double)P->Z - centre.Z));
}

void cvExtBox_GetScaling(const cvExtBox* B, cvVec3d* Out) { cvVec3d_Subtract(&B->Max, &B->Min, Out); }

void cvExtBox_Scale(cvExtBox* B, float SX, float SY, float SZ) {
  cvVec3d centre, size;
  cvExtBox_GetTranslation(B, &centre);
  cvExtBox_GetScaling(B, &size);
  const float f[3] = {SX, SY, SZ};
  for (int a = 0; a < 3; ++a) {
    double half = (double)axis(size, a) * f[a] * 0.5;
    axis(B->Min, a) = (float)(axis(centre, a) - half);
    axis(B->Max, a) = (float)(axis(centre, a) + half);
  }
}

void cvExtBox_SetScaling(cvExtBox* B, const cvVec3d* Size) {
  cvVec3d centre;
  cvExtBox_GetTranslation(B, &centre);
  for (int a = 0; a < 3; ++a) {
    double half = (double)axis(*Size, a) / 2;
    axis(B->Min, a) = (float)(axis(centre, a) - half);
    axis(B->Max, a) = (float)(axis(centre, a) + half);
  }
}

void cvExtBox_LinearSweep(const cvExtBox* B, const cvVec3d* From, const cvVec3d* To, cvExtBox* Out) {
  cvExtBox r;
  for (int a = 0; a < 3; ++a) {
    axis(r.Min, a) = (float)((double)axis(B->Min, a) + std::min(axis(*From, a), axis(*To, a)));
    axis(r.Max, a) = (float)((double)axis(B->Max, a) + std::max(axis(*From, a), axis(*To, a)));
  }
  *Out = r;
}

int cvExtBox_RayCollision(const cvExtBox* B, const cvVec3d* Front, const cvVec3d* Back, float* T,
                          cvVec3d* Normal) {
  const double d[3] = {(double)Back->X - Front->X, (double)Back->Y - Front->Y, (double)Back->Z - Front->Z};
  for (int a = 0; a < 3; ++a) {
    const double f = axis(*Front, a), b = axis(*Back, a);
    const double lo = axis(B->Min, a), hi = axis(B->Max, a);
    double face;
    float sign;
    // Only the face that the segment enters from outside can be hit on this axis.
    if (d[a] < 0 && f >= hi && b <= hi) {
      face = hi;
      sign = 1.0f;
    } else if (d[a] > 0 && f <= lo && b >= lo) {
      face = lo;
      sign = -1.0f;
    } else {
      continue;
    }
    const double t = (face - f) / d[a];
    bool inside = true;
    for (int o = 0; o < 3 && inside; ++o) {
      if (o == a) continue;
      const double p = axis(*Front, o) + t * d[o];
      inside = p >= axis(B->Min, o) && p <= axis(B->Max, o);
    }
    if (!inside) continue;
    if (T) *T = (float)t;
    if (Normal) {
      cvVec3d_Clear(Normal);
      axis(*Normal, a) = sign;
    }
    return 1;
  }
  return 0;
}
