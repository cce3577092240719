// Three-component vectors.
#include <cmath>

#include "Math/cvmath.h"

void cvVec3d_Set(cvVec3d* V, float X, float Y, float Z) {
  V->X = X;
  V->Y = Y;
  V->Z = Z;
}

void cvVec3d_Get(const cvVec3d* V, float* X, float* Y, float* Z) {
  *X = V->X;
  *Y = V->Y;
  *Z = V->Z;
}

void cvVec3d_Copy(const cvVec3d* Src, cvVec3d* Dst) { *Dst = *Src; }

void cvVec3d_Clear(cvVec3d* V) { V->X = V->Y = V->Z = 0.0f; }

void cvVec3d_Inverse(cvVec3d* V) {
  V->X = -V->X;
  V->Y = -V->Y;
  V->Z = -V->Z;
}

void cvVec3d_Add(const cvVec3d* A, const cvVec3d* B, cvVec3d* Out) {
  cvVec3d_Set(Out, (float)((double)A->X + B->X), (float)((double)A->Y + B->Y), (float)((double)A->Z + B->Z));
}

void cvVec3d_Subtract(const cvVec3d* A, const cvVec3d* B, cvVec3d* Out) {
  cvVec3d_Set(Out, (float)((double)A->X - B->X), (float)((double)A->Y - B->Y), (float)((double)A->Z - B->Z));
}

void cvVec3d_Scale(const cvVec3d* V, float S, cvVec3d* Out) {
  cvVec3d_Set(Out, (float)((double)V->X * S), (float)((double)V->Y * S), (float)((double)V->Z * S));
}

void cvVec3d_AddScaled(const cvVec3d* A, float S, const cvVec3d* B, cvVec3d* Out) {
  cvVec3d_Set(Out, (float)(A->X + (double)S * B->X), (float)(A->Y + (double)S * B->Y),
              (float)(A->Z + (double)S * B->Z));
}

float cvVec3d_DotProduct(const cvVec3d* A, const cvVec3d* B) {
  return (float)((double)A->X * B->X + (double)A->Y * B->Y + (double)A->Z * B->Z);
}

void cvVec3d_CrossProduct(const cvVec3d* A, const cvVec3d* B, cvVec3d* Out) {
  double x = (double)A->Y * B->Z - (double)A->Z * B->Y;
  double y = (double)A->Z * B->X - (double)A->X * B->Z;
  double z = (double)A->X * B->Y - (double)A->Y * B->X;
  cvVec3d_Set(Out, (float)x, (float)y, (float)z);
}

float cvVec3d_LengthSquared(const cvVec3d* V) { return cvVec3d_DotProduct(V, V); }

float cvVec3d_Length(const cvVec3d* V) {
  return (float)std::sqrt((double)V->X * V->X + (double)V->Y * V->Y + (double)V->Z * V->Z);
}

float cvVec3d_DistanceBetween(const cvVec3d* A, const cvVec3d* B) {
  cvVec3d d;
  cvVec3d_Subtract(A, B, &d);
  return cvVec3d_Length(&d);
}

float cvVec3d_Normalize(cvVec3d* V) {
  float length = cvVec3d_Length(V);
  if (length == 0.0f) return 0.0f;
  double inv = 1.0 / length;
  cvVec3d_Set(V, (float)(V->X * inv), (float)(V->Y * inv), (float)(V->Z * inv));
  return length;
}

int cvVec3d_IsNormalized(const cvVec3d* V) {
  float length = cvVec3d_Length(V);
  return length >= 0.9995f && length <= 1.0005f;
}

int cvVec3d_Compare(const cvVec3d* A, const cvVec3d* B, float Tolerance) {
  return std::fabs((double)A->X - B->X) <= Tolerance && std::fabs((double)A->Y - B->Y) <= Tolerance &&
         std::fabs((double)A->Z - B->Z) <= Tolerance;
}

int cvVec3d_IsValid(const cvVec3d* V) {
  if (!V) return 0;
  // A NaN squared is not >= 0.
  return V->X * V->X >= 0.0f && V->Y * V->Y >= 0.0f && V->Z * V->Z >= 0.0f;
}
