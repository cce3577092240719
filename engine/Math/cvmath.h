// Math: the engine's plain value types (vector, transform, quaternion, box)
// and their operations. Inputs and outputs may be the same object unless a
// comment says otherwise. Arithmetic is done in double precision and stored
// back as single precision. Nothing here allocates or logs.
//
// Transforms use column vectors: p' = M·p + T. The matrix columns are the
// object's right, up and backward axes in world space, so an object with the
// identity transform looks along -Z ("in").
#pragma once

#include <cstdint>

extern "C" {

typedef struct cvVec3d {
  float X, Y, Z;
} cvVec3d;

// Row-major 3x3 matrix (element of row r, column c at M[r][c]) then translation.
typedef struct cvXForm3d {
  float M[3][3];
  cvVec3d T;
} cvXForm3d;

typedef struct cvQuaternion {
  float W, X, Y, Z;
} cvQuaternion;

typedef struct cvExtBox {
  cvVec3d Min, Max;
} cvExtBox;

// --- Vectors ---------------------------------------------------------------
void cvVec3d_Set(cvVec3d* V, float X, float Y, float Z);
void cvVec3d_Get(const cvVec3d* V, float* X, float* Y, float* Z);
void cvVec3d_Copy(const cvVec3d* Src, cvVec3d* Dst);
void cvVec3d_Clear(cvVec3d* V);
void cvVec3d_Inverse(cvVec3d* V);
void cvVec3d_Add(const cvVec3d* A, const cvVec3d* B, cvVec3d* Out);
void cvVec3d_Subtract(const cvVec3d* A, const cvVec3d* B, cvVec3d* Out);
void cvVec3d_Scale(const cvVec3d* V, float S, cvVec3d* Out);
// Out = A + S·B
void cvVec3d_AddScaled(const cvVec3d* A, float S, const cvVec3d* B, cvVec3d* Out);
float cvVec3d_DotProduct(const cvVec3d* A, const cvVec3d* B);
void cvVec3d_CrossProduct(const cvVec3d* A, const cvVec3d* B, cvVec3d* Out);
float cvVec3d_LengthSquared(const cvVec3d* V);
float cvVec3d_Length(const cvVec3d* V);
float cvVec3d_DistanceBetween(const cvVec3d* A, const cvVec3d* B);
// Scales V to unit length and returns its former length; a zero vector stays zero (returns 0).
float cvVec3d_Normalize(cvVec3d* V);
int cvVec3d_IsNormalized(const cvVec3d* V);
int cvVec3d_Compare(const cvVec3d* A, const cvVec3d* B, float Tolerance);
int cvVec3d_IsValid(const cvVec3d* V);

// --- Transforms ------------------------------------------------------------
void cvXForm3d_SetIdentity(cvXForm3d* M);
void cvXForm3d_SetXRotation(cvXForm3d* M, float Angle);
void cvXForm3d_SetYRotation(cvXForm3d* M, float Angle);
void cvXForm3d_SetZRotation(cvXForm3d* M, float Angle);
void cvXForm3d_SetTranslation(cvXForm3d* M, float X, float Y, float Z);
void cvXForm3d_SetScaling(cvXForm3d* M, float X, float Y, float Z);
// M := R(Angle)·M: turns about the world axis after M, translation included.
void cvXForm3d_RotateX(cvXForm3d* M, float Angle);
void cvXForm3d_RotateY(cvXForm3d* M, float Angle);
void cvXForm3d_RotateZ(cvXForm3d* M, float Angle);
void cvXForm3d_Translate(cvXForm3d* M, float X, float Y, float Z);
void cvXForm3d_Scale(cvXForm3d* M, float X, float Y, float Z);
// Out = A·B (B applied first). Out may be A or B.
void cvXForm3d_Multiply(const cvXForm3d* A, const cvXForm3d* B, cvXForm3d* Out);
void cvXForm3d_Transform(const cvXForm3d* M, const cvVec3d* V, cvVec3d* Out);
void cvXForm3d_TransformArray(const cvXForm3d* M, const cvVec3d* Src, cvVec3d* Dst, int32_t Count);
void cvXForm3d_Rotate(const cvXForm3d* M, const cvVec3d* V, cvVec3d* Out);
// Out = Mᵀ·(V − T): the inverse of a rigid transform applied to a point.
void cvXForm3d_TransposeTransform(const cvXForm3d* M, const cvVec3d* V, cvVec3d* Out);
void cvXForm3d_GetLeft(const cvXForm3d* M, cvVec3d* Out);
void cvXForm3d_GetUp(const cvXForm3d* M, cvVec3d* Out);
void cvXForm3d_GetIn(const cvXForm3d* M, cvVec3d* Out);
void cvXForm3d_SetFromLeftUpIn(cvXForm3d* M, const cvVec3d* Left, const cvVec3d* Up, const cvVec3d* In);
// Both give the inverse of a rigid transform (Mᵀ, Mᵀ·(−T)).
void cvXForm3d_GetTranspose(const cvXForm3d* M, cvXForm3d* Out);
void cvXForm3d_GetInverse(const cvXForm3d* M, cvXForm3d* Out);
void cvXForm3d_Copy(const cvXForm3d* Src, cvXForm3d* Dst);
int cvXForm3d_IsValid(const cvXForm3d* M);
// M = Rx(Angles.X)·Ry(Angles.Y)·Rz(Angles.Z), zero translation.
void cvXForm3d_SetEulerAngles(cvXForm3d* M, const cvVec3d* Angles);
int cvXForm3d_IsOrthonormal(const cvXForm3d* M);
int cvXForm3d_IsOrthogonal(const cvXForm3d* M);
void cvXForm3d_Orthonormalize(cvXForm3d* M);
// Reflects M in the plane {p : p·PlaneNormal = PlaneDist}.
void cvXForm3d_Mirror(const cvXForm3d* M, const cvVec3d* PlaneNormal, float PlaneDist, cvXForm3d* Out);

// --- Quaternions -----------------------------------------------------------
void cvQuaternion_Set(cvQuaternion* Q, float W, const cvVec3d* V);
void cvQuaternion_Get(const cvQuaternion* Q, float* W, float* X, float* Y, float* Z);
void cvQuaternion_GetVec(const cvQuaternion* Q, float* W, cvVec3d* V);
void cvQuaternion_SetNoRotation(cvQuaternion* Q);
void cvQuaternion_Copy(const cvQuaternion* Src, cvQuaternion* Dst);
void cvQuaternion_Add(const cvQuaternion* Q1, const cvQuaternion* Q2, cvQuaternion* Out);
void cvQuaternion_Subtract(const cvQuaternion* Q1, const cvQuaternion* Q2, cvQuaternion* Out);
void cvQuaternion_Scale(const cvQuaternion* Q, float S, cvQuaternion* Out);
// The conjugate: the inverse of a unit quaternion.
void cvQuaternion_Inverse(const cvQuaternion* Q, cvQuaternion* Out);
void cvQuaternion_Multiply(const cvQuaternion* Q1, const cvQuaternion* Q2, cvQuaternion* Out);
void cvQuaternion_Rotate(const cvQuaternion* Q, const cvVec3d* V, cvVec3d* Out);
void cvQuaternion_SetFromAxisAngle(cvQuaternion* Q, const cvVec3d* Axis, float Angle);
// False (zero axis and angle) for a rotation of (almost) nothing.
int cvQuaternion_GetAxisAngle(const cvQuaternion* Q, cvVec3d* Axis, float* Angle);
// The rotation matrix of Q; translation zero.
void cvQuaternion_ToMatrix(const cvQuaternion* Q, cvXForm3d* M);
// From the 3x3 part of M; Q is left as it was when no case is numerically safe.
void cvQuaternion_FromMatrix(const cvXForm3d* M, cvQuaternion* Q);
void cvQuaternion_Slerp(const cvQuaternion* Q1, const cvQuaternion* Q2, float T, cvQuaternion* Out);
void cvQuaternion_SlerpNotShortest(const cvQuaternion* Q1, const cvQuaternion* Q2, float T, cvQuaternion* Out);
void cvQuaternion_Ln(const cvQuaternion* Q, cvQuaternion* Out);
void cvQuaternion_Exp(const cvQuaternion* Q, cvQuaternion* Out);
// Squared magnitude W²+X²+Y²+Z².
float cvQuaternion_Magnitude(const cvQuaternion* Q);
// Scales Q to unit magnitude and returns the former magnitude; 0 (Q unchanged) when it is below 1e-5.
float cvQuaternion_Normalize(cvQuaternion* Q);
int cvQuaternion_IsUnit(const cvQuaternion* Q);
// True when Q1 and Q2 (or Q1 and −Q2) agree within Tolerance in every component.
int cvQuaternion_Compare(const cvQuaternion* Q1, const cvQuaternion* Q2, float Tolerance);
int cvQuaternion_IsValid(const cvQuaternion* Q);

// --- Boxes (valid when Min <= Max on every axis) --------------------------
void cvExtBox_Set(cvExtBox* B, float X1, float Y1, float Z1, float X2, float Y2, float Z2);
void cvExtBox_SetToPoint(cvExtBox* B, const cvVec3d* P);
void cvExtBox_ExtendToEnclose(cvExtBox* B, const cvVec3d* P);
int cvExtBox_IsValid(const cvExtBox* B);
int cvExtBox_Intersects(const cvExtBox* A, const cvExtBox* B);
int cvExtBox_Intersection(const cvExtBox* A, const cvExtBox* B, cvExtBox* Out);
void cvExtBox_Union(const cvExtBox* A, const cvExtBox* B, cvExtBox* Out);
void cvExtBox_GetTranslation(const cvExtBox* B, cvVec3d* Out);
void cvExtBox_Translate(cvExtBox* B, float DX, float DY, float DZ);
void cvExtBox_SetTranslation(cvExtBox* B, const cvVec3d* P);
void cvExtBox_GetScaling(const cvExtBox* B, cvVec3d* Out);
void cvExtBox_Scale(cvExtBox* B, float SX, float SY, float SZ);
void cvExtBox_SetScaling(cvExtBox* B, const cvVec3d* Size);
void cvExtBox_LinearSweep(const cvExtBox* B, const cvVec3d* From, const cvVec3d* To, cvExtBox* Out);
// Segment Front→Back against the box from outside; T (fraction) and Normal are optional.
int cvExtBox_RayCollision(const cvExtBox* B, const cvVec3d* Front, const cvVec3d* Back, float* T, cvVec3d* Normal);
}
