// Polygon submission for the world renderer and the puppets: clipping in
// camera space, projection through the camera, hand-over to the driver.
#include "World/worlddraw.h"

#include <algorithm>
#include <cmath>

#include "Engine/cvengcore.h"
#include "Support/cvsupport.h"
#include "World/cvworld.h"

namespace {

// Largest polygon after clipping: each plane can add one vertex.
constexpr int kMaxClipVerts = 64;

void setPlane(cvDrawView* V, int32_t I, float NX, float NY, float NZ, float D) {
  cvVec3d N = {NX, NY, NZ};
  float Len = cvVec3d_Normalize(&N);
  V->PlaneNormal[I] = N;
  V->PlaneDist[I] = Len > 0.0f ? D / Len : D;
}

float planeSide(const cvDrawView* V, int32_t I, const cvDrawVertex& P) {
  const cvVec3d& N = V->PlaneNormal[I];
  return N.X * P.X + N.Y * P.Y + N.Z * P.Z - V->PlaneDist[I];
}

cvDrawVertex lerpVertex(const cvDrawVertex& A, const cvDrawVertex& B, float T) {
  auto mix = [T](float X, float Y) { return X + (Y - X) * T; };
  return {mix(A.X, B.X), mix(A.Y, B.Y), mix(A.Z, B.Z), mix(A.U, B.U), mix(A.V, B.V),
          mix(A.R, B.R), mix(A.G, B.G), mix(A.B, B.B), mix(A.A, B.A)};
}

// Sutherland-Hodgman against one plane; returns the new count.
int clipAgainst(const cvDrawView* V, int32_t Plane, const cvDrawVertex* In, int Count,
                cvDrawVertex* Out) {
  int N = 0;
  for (int I = 0; I < Count; ++I) {
    const cvDrawVertex& A = In[I];
    const cvDrawVertex& B = In[(I + 1) % Count];
    float DA = planeSide(V, Plane, A);
    float DB = planeSide(V, Plane, B);
    if (DA >= 0.0f && N < kMaxClipVerts) Out[N++] = A;
    if ((DA >= 0.0f) != (DB >= 0.0f) && N < kMaxClipVerts) Out[N++] = lerpVertex(A, B, DA / (DA - DB));
  }
  return N;
}

}  // namespace

namespace {

void setViewPlanes(cvDrawView* View, cvCamera* Camera) {
  View->Camera = Camera;
  View->WorldToCamera = *cvCamera_GetCameraSpaceXForm(Camera);
  View->CameraToWorld = *cvCamera_GetWorldSpaceXForm(Camera);

  // Screen x = Scale * X / -Z + XCenter. Pixel centres lie on whole numbers
  // (the driver takes them so too), so the view's pixels Left .. Right reach
  // from Left - 0.5 to Right + 0.5; those edges bound X / -Z, each a plane
  // through the eye. Polygons clipped to them cover exactly the view's pixels.
  const float Left = Camera->Left, Right = Camera->Right, Top = Camera->Top,
              Bottom = Camera->Bottom;
  const float Scale = Camera->Scale;
  const float XC = Camera->XCenter, YC = Camera->YCenter;
  const float L = XC - (Left - 0.5f), R = (Right + 0.5f) - XC;
  const float T = YC - (Top - 0.5f), B = (Bottom + 0.5f) - YC;
  setPlane(View, CV_DRAW_PLANE_NEAR, 0, 0, -1, CV_DRAW_NEAR_Z);
  setPlane(View, CV_DRAW_PLANE_LEFT, Scale, 0, -L, 0);    // X*Scale/-Z >= -L
  setPlane(View, CV_DRAW_PLANE_RIGHT, -Scale, 0, -R, 0);  // X*Scale/-Z <= R
  setPlane(View, CV_DRAW_PLANE_TOP, 0, -Scale, -T, 0);    // screen up is +Y
  setPlane(View, CV_DRAW_PLANE_BOTTOM, 0, Scale, -B, 0);
  View->PlaneCount = CV_DRAW_PLANE_COUNT;
}

}  // namespace

int cvDrawView_Set(cvDrawView* View, cvEngine* Engine, cvDriver_Table* Driver, cvCamera* Camera) {
  if (!View || !Camera || !Driver) return 0;
  *View = cvDrawView{};
  View->Driver = Driver;
  View->Engine = Engine;
  setViewPlanes(View, Camera);
  return 1;
}

int cvFrustum_SetFromCamera(cvFrustum* Frustum, const cvCamera* Camera) {
  if (!Frustum || !Camera) {
    CV_ERROR(-1);
    return 0;
  }
  cvDrawView View{};
  setViewPlanes(&View, const_cast<cvCamera*>(Camera));
  Frustum->PlaneCount = CV_DRAW_PLANE_COUNT;
  cvDrawView_GetWorldFrustum(&View, Frustum->Normal, Frustum->Dist);
  return 1;
}

void cvDrawView_GetWorldFrustum(const cvDrawView* View, cvVec3d Normal[CV_DRAW_PLANE_COUNT],
                                float Dist[CV_DRAW_PLANE_COUNT]) {
  // Camera-space plane N.P >= D becomes (R N).W >= D + (R N).T in world
  // space, R the camera's rotation and T its position.
  for (int I = 0; I < CV_DRAW_PLANE_COUNT; ++I) {
    cvXForm3d_Rotate(&View->CameraToWorld, &View->PlaneNormal[I], &Normal[I]);
    Dist[I] = View->PlaneDist[I] + cvVec3d_DotProduct(&Normal[I], &View->CameraToWorld.T);
  }
}

void cvDrawView_UseFrustum(cvDrawView* View, const cvFrustum* Frustum) {
  if (!View || !Frustum) return;
  const int32_t Count = std::clamp<int32_t>(Frustum->PlaneCount, 0, CV_DRAW_MAX_PLANES - 1);
  View->PlaneCount = 1 + Count;  // the near plane stays first
  for (int32_t I = 0; I < Count; ++I) {
    // World plane N.W >= D in camera space: (Rt N).P >= D - N.T.
    cvVec3d N;
    cvXForm3d_Rotate(&View->WorldToCamera, &Frustum->Normal[I], &N);
    View->PlaneNormal[1 + I] = N;
    View->PlaneDist[1 + I] =
        Frustum->Dist[I] - cvVec3d_DotProduct(&Frustum->Normal[I], &View->CameraToWorld.T);
  }
}

uint32_t cvDrawView_ClassifyBox(const cvDrawView* View, const cvExtBox* WorldBox, int* Outside) {
  *Outside = 0;
  uint32_t Crossed = 0;
  for (int32_t I = 0; I < View->PlaneCount; ++I) {
    // The plane in world space.
    cvVec3d N;
    cvXForm3d_Rotate(&View->CameraToWorld, &View->PlaneNormal[I], &N);
    const float D = View->PlaneDist[I] + cvVec3d_DotProduct(&N, &View->CameraToWorld.T);
    // Box corners farthest along and against the normal.
    const cvVec3d Far = {N.X >= 0 ? WorldBox->Max.X : WorldBox->Min.X,
                         N.Y >= 0 ? WorldBox->Max.Y : WorldBox->Min.Y,
                         N.Z >= 0 ? WorldBox->Max.Z : WorldBox->Min.Z};
    const cvVec3d Near = {N.X >= 0 ? WorldBox->Min.X : WorldBox->Max.X,
                          N.Y >= 0 ? WorldBox->Min.Y : WorldBox->Max.Y,
                          N.Z >= 0 ? WorldBox->Min.Z : WorldBox->Max.Z};
    if (cvVec3d_DotProduct(&N, &Far) < D) {
      *Outside = 1;
      return 0;
    }
    if (cvVec3d_DotProduct(&N, &Near) < D) Crossed |= 1u << I;
  }
  return Crossed;
}

int cvDrawView_Polygon(cvDrawView* View, const cvDrawVertex* Vertices, int32_t Count,
                       uint32_t Planes, void* Texture, uint32_t Flags) {
  if (!View || !Vertices || Count < 3 || Count > kMaxClipVerts / 2) return 0;
  cvDrawVertex BufA[kMaxClipVerts], BufB[kMaxClipVerts];
  std::copy(Vertices, Vertices + Count, BufA);
  cvDrawVertex* Cur = BufA;
  cvDrawVertex* Next = BufB;
  int N = Count;
  // Callers leave a plane out only when the polygon cannot cross it (the
  // near plane included: projection needs points in front).
  for (int32_t P = 0; P < View->PlaneCount && N >= 3 && Planes; ++P) {
    if (!(Planes & (1u << P))) continue;
    N = clipAgainst(View, P, Cur, N, Next);
    std::swap(Cur, Next);
  }
  if (N < 3) return 1;

  cvDriver_Vertex Out[kMaxClipVerts];
  for (int I = 0; I < N; ++I) {
    const cvVec3d P = {Cur[I].X, Cur[I].Y, Cur[I].Z};
    cvVec3d S;
    cvCamera_Project(View->Camera, &P, &S);
    Out[I] = {S.X, S.Y, S.Z, Cur[I].U, Cur[I].V, Cur[I].R, Cur[I].G, Cur[I].B, Cur[I].A};
  }
  int Ok;
  if (Texture && View->Driver->RenderTexturedPoly)
    Ok = View->Driver->RenderTexturedPoly(Out, N, Texture, Flags);
  else if (View->Driver->RenderGouraudPoly)
    Ok = View->Driver->RenderGouraudPoly(Out, N, Flags);
  else
    Ok = 0;
  if (Ok) View->Polys++;
  return Ok;
}
