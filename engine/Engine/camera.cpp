// The engine camera: a view rectangle and field of view, the projection scale
// and centre derived from them, and the world/camera transforms.
#include <algorithm>
#include <cmath>

#include "Engine/cvengcore.h"
#include "Support/cvsupport.h"

cvCamera_RenderGlobals cvCamera_Globals;

cvCamera* cvCamera_Create(const cvRect* Rect, float FieldOfView) {
  if (!Rect) {
    CV_ERROR(-1);
    return nullptr;
  }
  auto* camera = static_cast<cvCamera*>(cvRam_AllocateClear(sizeof(cvCamera)));
  if (!camera) {
    CV_ERROR(-1);
    return nullptr;
  }
  cvXForm3d_SetIdentity(&camera->CameraSpace);
  cvXForm3d_SetIdentity(&camera->WorldSpace);
  cvXForm3d_SetIdentity(&camera->VisCameraSpace);
  cvXForm3d_SetIdentity(&camera->VisWorldSpace);
  camera->ZScale = 0.5f;
  cvCamera_SetAttributes(camera, Rect, FieldOfView);
  return camera;
}

void cvCamera_Destroy(cvCamera* Camera) { cvRam_Free(Camera); }

void cvCamera_SetAttributes(cvCamera* Camera, const cvRect* Rect, float FieldOfView) {
  if (!Camera || !Rect) return;
  const int64_t width = (int64_t)Rect->Right - Rect->Left + 1;
  const int64_t height = (int64_t)Rect->Bottom - Rect->Top + 1;
  Camera->Width = (float)width;
  Camera->Height = (float)height;
  const bool tiny = FieldOfView > -0.0001f && FieldOfView < 0.0001f;
  Camera->FieldOfView = tiny ? 0.0001f : FieldOfView;
  // A zero field of view would divide by zero: the replaced value is used
  // throughout in that case (any other value is used as given).
  const double fov = FieldOfView == 0.0f ? 0.0001 : FieldOfView;
  const double w = width <= 0 ? 0.0001 : (double)width;
  const double h = height <= 0 ? 0.0001 : (double)height;
  Camera->XScale = (float)(w / fov);
  Camera->YScale = (float)(h / fov);
  Camera->Scale = std::max(Camera->XScale, Camera->YScale);
  Camera->Left = (float)Rect->Left;
  Camera->Right = (float)Rect->Right;
  Camera->Top = (float)Rect->Top;
  Camera->Bottom = (float)Rect->Bottom;
  Camera->XCenter = (float)((double)Camera->Width * 0.5 + Rect->Left - 0.5);
  Camera->YCenter = (float)((double)Camera->Height * 0.5 + Rect->Top - 0.5);
  const double k = 2.0 * Camera->Scale / fov;
  const double ax = std::atan(k / Camera->XScale), ay = std::atan(k / Camera->YScale);
  Camera->SinX = (float)std::sin(ax);
  Camera->CosX = (float)std::cos(ax);
  Camera->SinY = (float)std::sin(ay);
  Camera->CosY = (float)std::cos(ay);
}

void cvCamera_GetClippingRect(const cvCamera* Camera, cvRect* Rect) {
  Rect->Left = (int32_t)Camera->Left;
  Rect->Right = (int32_t)Camera->Right;
  Rect->Top = (int32_t)Camera->Top;
  Rect->Bottom = (int32_t)Camera->Bottom;
}

void cvCamera_GetWidthHeight(const cvCamera* Camera, float* Width, float* Height) {
  if (Width) *Width = Camera->Width;
  if (Height) *Height = Camera->Height;
}

float cvCamera_GetScale(const cvCamera* Camera) { return Camera->Scale; }
float cvCamera_GetZScale(const cvCamera* Camera) { return Camera->ZScale; }

void cvCamera_SetFarPlane(cvCamera* Camera, int32_t A, int32_t B) {
  Camera->FarPlaneA = A;
  Camera->FarPlaneB = B;
}

void cvCamera_GetFarPlane(const cvCamera* Camera, int32_t* A, int32_t* B) {
  if (A) *A = Camera->FarPlaneA;
  if (B) *B = Camera->FarPlaneB;
}

void cvCamera_GetViewAngleXSinCos(const cvCamera* Camera, float* Sin, float* Cos) {
  if (Sin) *Sin = Camera->SinX;
  if (Cos) *Cos = Camera->CosX;
}

void cvCamera_GetViewAngleYSinCos(const cvCamera* Camera, float* Sin, float* Cos) {
  if (Sin) *Sin = Camera->SinY;
  if (Cos) *Cos = Camera->CosY;
}

int cvCamera_SetWorldSpaceXForm(cvCamera* Camera, const cvXForm3d* M) {
  if (!Camera || !M) {
    CV_ERROR(-1);
    return 0;
  }
  Camera->WorldSpace = *M;
  cvXForm3d_GetTranspose(M, &Camera->CameraSpace);
  Camera->Pov = M->T;
  return 1;
}

int cvCamera_SetWorldSpaceVisXForm(cvCamera* Camera, const cvXForm3d* M) {
  if (!Camera) {
    CV_ERROR(-1);
    return 0;
  }
  if (!M) {
    Camera->HasVisXForm = 0;
    return 1;
  }
  Camera->VisWorldSpace = *M;
  Camera->VisPov = M->T;
  cvXForm3d_GetTranspose(M, &Camera->VisCameraSpace);
  Camera->HasVisXForm = 1;
  return 1;
}

const cvXForm3d* cvCamera_GetWorldSpaceXForm(const cvCamera* Camera) { return &Camera->WorldSpace; }
const cvXForm3d* cvCamera_GetCameraSpaceXForm(const cvCamera* Camera) {
  return &Camera->CameraSpace;
}
const cvVec3d* cvCamera_GetPov(const cvCamera* Camera) { return &Camera->Pov; }

const cvXForm3d* cvCamera_GetWorldSpaceVisXForm(const cvCamera* Camera) {
  return Camera->HasVisXForm ? &Camera->VisWorldSpace : &Camera->WorldSpace;
}
const cvXForm3d* cvCamera_GetCameraSpaceVisXForm(const cvCamera* Camera) {
  return Camera->HasVisXForm ? &Camera->VisCameraSpace : &Camera->CameraSpace;
}
const cvVec3d* cvCamera_GetVisPov(const cvCamera* Camera) {
  return Camera->HasVisXForm ? &Camera->VisPov : &Camera->Pov;
}

void cvCamera_Transform(const cvCamera* Camera, const cvVec3d* World, cvVec3d* Out) {
  cvXForm3d_Transform(&Camera->CameraSpace, World, Out);
}

namespace {
// The common part of the projections: depth (at least 0.01) and screen X/Y.
inline float projectXY(const cvCamera* c, const cvVec3d* p, cvVec3d* out) {
  float z = -p->Z;
  if (z < 0.01f) z = 0.01f;
  const float s = c->Scale / z;
  const float x = s * p->X + c->XCenter;
  const float y = c->YCenter - s * p->Y;
  out->X = x;
  out->Y = y;
  return z;
}
}  // namespace

void cvCamera_Project(const cvCamera* Camera, const cvVec3d* CameraPoint, cvVec3d* Out) {
  const float z = projectXY(Camera, CameraPoint, Out);
  Out->Z = z * Camera->ZScale;
}

void cvCamera_ProjectZ(const cvCamera* Camera, const cvVec3d* CameraPoint, cvVec3d* Out) {
  const float z = projectXY(Camera, CameraPoint, Out);
  Out->Z = 1.0f / z;
}

void cvCamera_ProjectAndClamp(const cvCamera* Camera, const cvVec3d* CameraPoint, cvVec3d* Out) {
  cvCamera_Project(Camera, CameraPoint, Out);
  Out->X = std::clamp(Out->X, Camera->Left, std::max(Camera->Left, Camera->Right));
  Out->Y = std::clamp(Out->Y, Camera->Top, std::max(Camera->Top, Camera->Bottom));
}

void cvCamera_TransformAndProjectArray(const cvCamera* Camera, const cvVec3d* Points, cvVec3d* Out,
                                       int32_t Count) {
  for (int32_t i = 0; i < Count; ++i) {
    cvVec3d p;
    cvXForm3d_Transform(&Camera->CameraSpace, &Points[i], &p);
    cvCamera_Project(Camera, &p, &Out[i]);
  }
}

void cvCamera_TransformAndProjectLArray(const cvCamera* Camera, const cvDriver_Vertex* Vertices,
                                        cvDriver_Vertex* Out, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i) {
    const cvDriver_Vertex in = Vertices[i];  // Out may be Vertices
    cvVec3d world{in.X, in.Y, in.Z}, p, s;
    cvXForm3d_Transform(&Camera->CameraSpace, &world, &p);
    cvCamera_Project(Camera, &p, &s);
    Out[i] = in;
    Out[i].X = s.X;
    Out[i].Y = s.Y;
    Out[i].Z = s.Z;
  }
}

void cvCamera_ScreenPointToWorld(const cvCamera* Camera, float X, float Y, cvVec3d* Out) {
  cvVec3d in, left, up;
  cvXForm3d_GetIn(&Camera->WorldSpace, &in);
  cvXForm3d_GetLeft(&Camera->WorldSpace, &left);
  cvXForm3d_GetUp(&Camera->WorldSpace, &up);
  cvVec3d_Scale(&in, Camera->Scale, Out);
  cvVec3d_AddScaled(Out, Camera->XCenter - X, &left, Out);
  cvVec3d_AddScaled(Out, Camera->YCenter - Y, &up, Out);
  cvVec3d_Normalize(Out);
}

void cvCamera_FillRenderGlobals(const cvCamera* Camera) {
  cvCamera_RenderGlobals& g = cvCamera_Globals;
  g.XScale = -Camera->Scale;
  g.XScaleInv = 1.0f / g.XScale;
  g.YScale = -Camera->Scale;
  g.YScaleInv = 1.0f / g.YScale;
  g.XCenter = Camera->XCenter;
  g.YCenter = Camera->YCenter;
  g.CameraSpace = Camera->CameraSpace;
  g.Pov = Camera->Pov;
  g.ZScale = Camera->ZScale;
  cvXForm3d_Rotate(&Camera->CameraSpace, &Camera->Pov, &g.PovCameraSpace);
}
