// Puppets: an actor instance's copy of the body materials (registered with
// the world so that the driver has textures for them), its lighting
// settings and floor shadow, and the drawing of the posed mesh: lighting per
// face corner, rejection against the view frustum, clipping, projection and
// hand-over to the render driver.
#include <algorithm>
#include <cmath>
#include <vector>

#include "Actor/body.h"
#include "Actor/pose.h"
#include "Actor/puppet.h"
#include "Bitmap/cvbitmap.h"
#include "Engine/cvengcore.h"
#include "Support/cvsupport.h"
#include "World/cvworld.h"

namespace {

// Dynamic lights a light set keeps at most (the world has no more slots).
constexpr int kMaxSetLights = CV_WORLD_MAX_LIGHTS;
// How far below the reference point the floor is looked for.
constexpr float kFloorDistance = 30000.0f;
// Floor light-map colours are limited to this (0 .. 1 scale).
constexpr float kFloorAmbientLimit = 0.3f;

// Dynamic lights reaching one point, nearest first.
struct LightSet {
  int32_t Count;
  cvVec3d Direction[kMaxSetLights];  // unit vectors from the point to the light
  float Colour[kMaxSetLights][3];    // attenuated, 0 .. 1 scale
};

// Process-wide: live puppets and the per-joint light sets shared by all puppets.
int32_t gPuppetCount = 0;
LightSet* gBoneLights = nullptr;
int32_t gBoneLightCapacity = 0;

void gatherLights(const cvWorld* World, const cvVec3d& P, int32_t MaxLights, LightSet* Set) {
  struct Candidate {
    float DistSq;
    cvVec3d Position;
    cvWorld_Rgba Colour;
    float Radius;
  };
  Candidate C[CV_WORLD_MAX_LIGHTS];
  int32_t N = 0;
  for (int32_t I = 0; I < CV_WORLD_MAX_LIGHTS; ++I) {
    Candidate K;
    if (!cvWorld_GetLightInfo(World, I, &K.Position, &K.Colour, &K.Radius, nullptr)) continue;
    K.DistSq = cvVec3d_DistanceBetween(&K.Position, &P);
    K.DistSq *= K.DistSq;
    if (K.DistSq < K.Radius * K.Radius) C[N++] = K;
  }
  std::stable_sort(C, C + N, [](const Candidate& A, const Candidate& B) { return A.DistSq < B.DistSq; });
  Set->Count = std::min<int32_t>(N, std::min<int32_t>(MaxLights, kMaxSetLights));
  for (int32_t I = 0; I < Set->Count; ++I) {
    cvVec3d D;
    cvVec3d_Subtract(&C[I].Position, &P, &D);
    const float Dist = std::max(1.0f, std::sqrt(C[I].DistSq));
    cvVec3d_Scale(&D, 1.0f / Dist, &Set->Direction[I]);
    const float F = (1.0f - Dist / C[I].Radius) / 255.0f;
    Set->Colour[I][0] = C[I].Colour.R * F;
    Set->Colour[I][1] = C[I].Colour.G * F;
    Set->Colour[I][2] = C[I].Colour.B * F;
  }
}

int growBoneLights(int32_t Count) {
  if (Count <= gBoneLightCapacity) return 1;
  void* P = cvRam_Realloc(gBoneLights, sizeof(LightSet) * (size_t)Count);
  if (!P) return 0;
  gBoneLights = static_cast<LightSet*>(P);
  gBoneLightCapacity = Count;
  return 1;
}

int registerMaterialBitmap(cvPuppet* P, cvPuppet_Material* M, cvBitmap* Bitmap) {
  cvBitmap_CreateRef(Bitmap);
  M->Bitmap = Bitmap;
  M->HasBitmap = 1;
  if (P->World && !cvWorld_AddBitmap(P->World, Bitmap)) {
    cvBitmap_Destroy(&M->Bitmap);
    M->HasBitmap = 0;
    CV_ERROR(-1);
    return 0;
  }
  return 1;
}

void releaseMaterialBitmap(cvPuppet* P, cvPuppet_Material* M) {
  if (!M->Bitmap) return;
  if (P->World) cvWorld_RemoveBitmap(P->World, M->Bitmap);
  cvBitmap_Destroy(&M->Bitmap);
  M->Bitmap = nullptr;
  M->HasBitmap = 0;
}

}  // namespace

// --- Creation -----------------------------------------------------------------

cvPuppet* cvPuppet_Create(cvVFile* FileSystem, const cvBody* Body, cvWorld* World) {
  if (!cvBody_IsValid(Body)) {
    CV_ERROR(102);
    return nullptr;
  }
  cvPuppet* P = static_cast<cvPuppet*>(cvRam_AllocateClear(sizeof(cvPuppet)));
  if (!P) {
    CV_ERROR(102);
    return nullptr;
  }
  ++gPuppetCount;
  P->FileSystem = FileSystem;
  P->World = World;
  P->MaxLights = 3;
  P->LightBone = -1;
  cvVec3d_Set(&P->FillDirection, -0.2f, 1.0f, 0.4f);
  cvVec3d_Normalize(&P->FillDirection);
  P->FillColour[0] = P->FillColour[1] = P->FillColour[2] = 0.25f;
  P->FillOn = 1;
  P->AmbientColour[0] = P->AmbientColour[1] = P->AmbientColour[2] = 0.1f;
  P->FloorAmbient = 1;
  P->PerBoneLighting = 0;
  P->ShadowBone = -1;

  P->BodyInst = cvBodyInst_Create(Body);
  if (!P->BodyInst) {
    cvPuppet_Destroy(&P);
    CV_ERROR(102);
    return nullptr;
  }
  const int32_t Count = cvBody_GetMaterialCount(Body);
  if (Count > 0) {
    P->Materials =
        static_cast<cvPuppet_Material*>(cvRam_AllocateClear(sizeof(cvPuppet_Material) * (size_t)Count));
    if (!P->Materials) {
      cvPuppet_Destroy(&P);
      CV_ERROR(102);
      return nullptr;
    }
  }
  for (int32_t I = 0; I < Count; ++I) {
    cvBitmap* Bitmap = nullptr;
    cvPuppet_Material& M = P->Materials[I];
    cvBody_GetMaterial(Body, I, nullptr, &Bitmap, &M.Red, &M.Green, &M.Blue);
    P->MaterialCount = I + 1;  // counts what Destroy must release
    if (Bitmap && !registerMaterialBitmap(P, &M, Bitmap)) {
      cvPuppet_Destroy(&P);
      return nullptr;
    }
  }
  P->MaterialCount = Count;
  return P;
}

void cvPuppet_Destroy(cvPuppet** Puppet) {
  if (!Puppet || !*Puppet) return;
  cvPuppet* P = *Puppet;
  for (int32_t I = 0; I < P->MaterialCount && P->Materials; ++I) releaseMaterialBitmap(P, &P->Materials[I]);
  if (P->ShadowBitmap) cvBitmap_Destroy(&P->ShadowBitmap);
  cvBodyInst_Destroy(&P->BodyInst);
  cvRam_Free(P->Materials);
  cvRam_Free(P);
  *Puppet = nullptr;
  if (--gPuppetCount == 0) {
    cvRam_Free(gBoneLights);
    gBoneLights = nullptr;
    gBoneLightCapacity = 0;
  }
}

int32_t cvPuppet_GetCount(void) { return gPuppetCount; }

int cvPuppet_SetWorld(cvPuppet* Puppet, cvWorld* World) {
  if (!Puppet) {
    CV_ERROR(-1);
    return 0;
  }
  if (World == Puppet->World) return 1;
  int Ok = 1;
  for (int32_t I = 0; I < Puppet->MaterialCount; ++I) {
    cvBitmap* B = Puppet->Materials[I].Bitmap;
    if (!B) continue;
    if (Puppet->World) cvWorld_RemoveBitmap(Puppet->World, B);
    if (World && !cvWorld_AddBitmap(World, B)) Ok = 0;
  }
  Puppet->World = World;
  if (!Ok) CV_ERROR(-1);
  return Ok;
}

// --- Materials ----------------------------------------------------------------

int32_t cvPuppet_GetMaterialCount(const cvPuppet* Puppet) { return Puppet ? Puppet->MaterialCount : 0; }

int cvPuppet_GetMaterial(const cvPuppet* Puppet, int32_t Index, cvBitmap** Bitmap, float* Red,
                         float* Green, float* Blue) {
  if (!Puppet || Index < 0 || Index >= Puppet->MaterialCount) {
    CV_ERROR(-1);
    return 0;
  }
  const cvPuppet_Material& M = Puppet->Materials[Index];
  if (Bitmap) *Bitmap = M.HasBitmap ? M.Bitmap : nullptr;
  if (Red) *Red = M.Red;
  if (Green) *Green = M.Green;
  if (Blue) *Blue = M.Blue;
  return 1;
}

int cvPuppet_SetMaterial(cvPuppet* Puppet, int32_t Index, cvBitmap* Bitmap, float Red,
                         float Green, float Blue) {
  if (!Puppet || Index < 0 || Index >= Puppet->MaterialCount) {
    CV_ERROR(-1);
    return 0;
  }
  cvPuppet_Material& M = Puppet->Materials[Index];
  M.Red = Red;
  M.Green = Green;
  M.Blue = Blue;
  if (Bitmap == M.Bitmap) return 1;
  // Take the new one first so that a bitmap shared with the old entry never
  // drops to zero references in between.
  cvPuppet_Material Old = M;
  M.Bitmap = nullptr;
  M.HasBitmap = 0;
  if (Bitmap && !registerMaterialBitmap(Puppet, &M, Bitmap)) {
    M.Bitmap = Old.Bitmap;  // keep the material as it was
    M.HasBitmap = Old.HasBitmap;
    return 0;
  }
  releaseMaterialBitmap(Puppet, &Old);
  return 1;
}

// --- Lighting and shadow --------------------------------------------------------

int cvPuppet_SetLightingOptions(cvPuppet* Puppet, int32_t FillOn, const cvVec3d* FillDirection,
                                float FillRed, float FillGreen, float FillBlue, float AmbientRed,
                                float AmbientGreen, float AmbientBlue, int32_t FloorAmbient,
                                int32_t MaxLights, int32_t LightBone, int32_t PerBoneLighting) {
  if (!Puppet || !FillDirection) {
    CV_ERROR(-1);
    return 0;
  }
  Puppet->FillOn = FillOn;
  Puppet->FillDirection = *FillDirection;
  cvVec3d_Normalize(&Puppet->FillDirection);
  Puppet->FillColour[0] = FillRed / 255.0f;
  Puppet->FillColour[1] = FillGreen / 255.0f;
  Puppet->FillColour[2] = FillBlue / 255.0f;
  Puppet->AmbientColour[0] = AmbientRed / 255.0f;
  Puppet->AmbientColour[1] = AmbientGreen / 255.0f;
  Puppet->AmbientColour[2] = AmbientBlue / 255.0f;
  Puppet->FloorAmbient = FloorAmbient;
  Puppet->MaxLights = MaxLights;
  Puppet->LightBone = LightBone;
  Puppet->PerBoneLighting = PerBoneLighting;
  return 1;
}

int cvPuppet_GetLightingOptions(const cvPuppet* Puppet, int32_t* FillOn, cvVec3d* FillDirection,
                                float* FillRed, float* FillGreen, float* FillBlue,
                                float* AmbientRed, float* AmbientGreen, float* AmbientBlue,
                                int32_t* FloorAmbient, int32_t* MaxLights, int32_t* LightBone,
                                int32_t* PerBoneLighting) {
  if (!Puppet) {
    CV_ERROR(-1);
    return 0;
  }
  if (FillOn) *FillOn = Puppet->FillOn;
  if (FillDirection) *FillDirection = Puppet->FillDirection;
  if (FillRed) *FillRed = Puppet->FillColour[0] * 255.0f;
  if (FillGreen) *FillGreen = Puppet->FillColour[1] * 255.0f;
  if (FillBlue) *FillBlue = Puppet->FillColour[2] * 255.0f;
  if (AmbientRed) *AmbientRed = Puppet->AmbientColour[0] * 255.0f;
  if (AmbientGreen) *AmbientGreen = Puppet->AmbientColour[1] * 255.0f;
  if (AmbientBlue) *AmbientBlue = Puppet->AmbientColour[2] * 255.0f;
  if (FloorAmbient) *FloorAmbient = Puppet->FloorAmbient;
  if (MaxLights) *MaxLights = Puppet->MaxLights;
  if (LightBone) *LightBone = Puppet->LightBone;
  if (PerBoneLighting) *PerBoneLighting = Puppet->PerBoneLighting;
  return 1;
}

int cvPuppet_SetShadow(cvPuppet* Puppet, int32_t On, float Scale, cvBitmap* Bitmap,
                       int32_t ShadowBone) {
  if (!Puppet) {
    CV_ERROR(-1);
    return 0;
  }
  Puppet->ShadowOn = On;
  Puppet->ShadowScale = Scale;
  Puppet->ShadowBone = ShadowBone;
  if (Bitmap != Puppet->ShadowBitmap) {
    if (Bitmap) cvBitmap_CreateRef(Bitmap);
    if (Puppet->ShadowBitmap) cvBitmap_Destroy(&Puppet->ShadowBitmap);
    Puppet->ShadowBitmap = Bitmap;
  }
  return 1;
}

// --- Drawing --------------------------------------------------------------------

namespace {

struct FrameLighting {
  float Ambient[3];
  int FillOn;
  cvVec3d FillDirection;
  float FillColour[3];
  const LightSet* Shared;  // one set for every corner, or null
  const LightSet* PerBone; // one set per joint, or null
  int32_t PerBoneCount;
};

void lightCorner(const FrameLighting& L, const cvVec3d& N, int32_t Bone, float Out[3]) {
  Out[0] = L.Ambient[0], Out[1] = L.Ambient[1], Out[2] = L.Ambient[2];
  if (L.FillOn) {
    const float D = cvVec3d_DotProduct(&N, &L.FillDirection);
    if (D > 0) {
      Out[0] += L.FillColour[0] * D, Out[1] += L.FillColour[1] * D, Out[2] += L.FillColour[2] * D;
    }
  }
  const LightSet* S = L.Shared;
  if (L.PerBone) S = (Bone >= 0 && Bone < L.PerBoneCount) ? &L.PerBone[Bone] : nullptr;
  if (!S) return;
  for (int32_t I = 0; I < S->Count; ++I) {
    const float D = cvVec3d_DotProduct(&N, &S->Direction[I]);
    if (D > 0) {
      Out[0] += S->Colour[I][0] * D, Out[1] += S->Colour[I][1] * D, Out[2] += S->Colour[I][2] * D;
    }
  }
}

// The floor below Point: its light-map colour as ambient (limited), or the
// puppet's own ambient colour when there is no floor.
void floorAmbient(const cvPuppet* P, cvWorld* World, const cvVec3d& Point, float Out[3]) {
  Out[0] = P->AmbientColour[0], Out[1] = P->AmbientColour[1], Out[2] = P->AmbientColour[2];
  if (!P->FloorAmbient || !World) return;
  cvVec3d Hit, Colour;
  if (!cvWorld_CastDown(World, &Point, kFloorDistance, &Hit, &Colour)) return;
  Out[0] = std::min(Colour.X / 255.0f, kFloorAmbientLimit);
  Out[1] = std::min(Colour.Y / 255.0f, kFloorAmbientLimit);
  Out[2] = std::min(Colour.Z / 255.0f, kFloorAmbientLimit);
}

void drawShadow(cvPuppet* P, cvPose* Pose, cvWorld* World, cvDrawView* View) {
  cvXForm3d Bone;
  if (!cvPose_GetJointTransform(Pose, P->ShadowBone, &Bone)) return;
  cvVec3d Hit;
  if (!cvWorld_CastDown(World, &Bone.T, kFloorDistance, &Hit, nullptr)) return;
  // A square on the floor, just above it to stay clear of the surface.
  const float H = P->ShadowScale * 0.5f;
  const float Y = Hit.Y + 0.5f;
  static const float C[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
  cvDrawVertex V[4];
  for (int K = 0; K < 4; ++K) {
    cvVec3d W = {Hit.X + C[K][0] * H, Y, Hit.Z + C[K][1] * H}, Cam;
    cvXForm3d_Transform(&View->WorldToCamera, &W, &Cam);
    V[K] = {Cam.X, Cam.Y, Cam.Z, (C[K][0] + 1) * 0.5f, (C[K][1] + 1) * 0.5f, 0, 0, 0, 128};
  }
  void* Texture = P->ShadowBitmap ? cvBitmap_GetDriverHandle(P->ShadowBitmap) : nullptr;
  cvDrawView_Polygon(View, V, 4, CV_DRAW_ALL_PLANES, Texture, CV_DRIVER_POLY_BLEND | CV_DRIVER_POLY_NOZWRITE);
}

int renderPuppet(cvPuppet* P, cvPose* Pose, const cvExtBox* Box, cvEngine* Engine, cvWorld* World,
                 cvCamera* Camera, const cvFrustum* Frustum) {
  if (!P || !Pose || !Engine || !Camera) {
    CV_ERROR(-1);
    return 0;
  }
  // 1. Posed geometry at level 0, in world space.
  cvVec3d Scale;
  cvPose_GetScale(Pose, &Scale);
  cvXFArray* Transforms = cvPose_GetAllJointTransforms(Pose);
  const cvBodyInst_Geometry* G =
      Transforms ? cvBodyInst_GetGeometry(P->BodyInst, &Scale, Transforms, 0, nullptr) : nullptr;

  // 2. Reject against the view; keep only the planes the box crosses.
  cvDrawView View;
  if (!cvDrawView_Set(&View, Engine, cvEngine_GetDriver(Engine), Camera)) {
    CV_ERROR(-1);
    return 0;
  }
  if (Frustum) cvDrawView_UseFrustum(&View, Frustum);
  uint32_t Planes = CV_DRAW_ALL_PLANES;
  if (Box) {
    int Outside = 0;
    Planes = cvDrawView_ClassifyBox(&View, Box, &Outside);
    if (Outside) return 1;
  }

  // 3. Something to draw.
  if (!G) {
    CV_ERROR(103);
    return 0;
  }
  // The posed mesh's own bounds narrow the planes further: faces need no
  // clipping against a plane the whole mesh lies inside.
  if (G->VertexCount > 0 && G->Min.X <= G->Max.X) {
    const cvExtBox Bounds = {G->Min, G->Max};
    int Outside = 0;
    Planes &= cvDrawView_ClassifyBox(&View, &Bounds, &Outside);
    if (Outside) return 1;
  }

  // 4. Lighting of this frame.
  FrameLighting L{};
  L.FillOn = P->FillOn;
  L.FillDirection = P->FillDirection;
  std::copy(P->FillColour, P->FillColour + 3, L.FillColour);
  cvXForm3d Ref;
  if (!cvPose_GetJointTransform(Pose, P->LightBone, &Ref)) cvPose_GetJointTransform(Pose, -1, &Ref);
  floorAmbient(P, World, Ref.T, L.Ambient);
  LightSet Shared;
  if (P->MaxLights >= 1 && World) {
    if (P->PerBoneLighting) {
      const int32_t Joints = cvPose_GetJointCount(Pose);
      if (!growBoneLights(Joints)) {
        cvErrorLog_AddExplicit(103, "", __FILE__, __LINE__,
                               "Failed to allocate space for bone lighting info cache", "");
        return 0;
      }
      int32_t Count = 0;
      cvXForm3d* W = cvXFArray_GetElements(Transforms, &Count);
      for (int32_t J = 0; J < Joints && J < Count; ++J) gatherLights(World, W[J].T, P->MaxLights, &gBoneLights[J]);
      L.PerBone = gBoneLights;
      L.PerBoneCount = std::min(Joints, Count);
    } else {
      gatherLights(World, Ref.T, P->MaxLights, &Shared);
      L.Shared = &Shared;
    }
  }

  // 5. Floor shadow (not in mirror views).
  if (P->ShadowOn && !Frustum && World) drawShadow(P, Pose, World, &View);

  // 6. Faces: light each corner, move it to camera space, clip and draw.
  static thread_local std::vector<cvVec3d> CamPos;
  CamPos.resize(G->VertexCount);
  for (int32_t I = 0; I < G->VertexCount; ++I)
    cvXForm3d_Transform(&View.WorldToCamera, &G->Vertices[I].Position, &CamPos[I]);

  // Without per-bone lighting a corner's light depends only on its normal:
  // light every normal once.
  static thread_local std::vector<float> NormalLight;
  const bool ByNormal = L.PerBone == nullptr;
  if (ByNormal) {
    NormalLight.resize((size_t)G->NormalCount * 3);
    for (int32_t N = 0; N < G->NormalCount; ++N) lightCorner(L, G->Normals[N], -1, &NormalLight[(size_t)N * 3]);
  }

  const int32_t PolysBefore = View.Polys;
  int Ok = 1;
  for (int32_t F = 0; F < G->FaceCount; ++F) {
    const cvBodyInst_Face& Face = G->Faces[F];
    if (Face.MaterialIndex >= P->MaterialCount) continue;
    const cvPuppet_Material& M = P->Materials[Face.MaterialIndex];
    cvDrawVertex V[3];
    bool Bad = false;
    for (int C = 0; C < 3; ++C) {
      const uint16_t VI = Face.Corner[C][0], NI = Face.Corner[C][1];
      if (VI >= G->VertexCount || NI >= G->NormalCount) {
        Bad = true;
        break;
      }
      const cvBodyInst_Vertex& Vx = G->Vertices[VI];
      float Light[3];
      if (ByNormal)
        std::copy_n(&NormalLight[(size_t)NI * 3], 3, Light);
      else
        lightCorner(L, G->Normals[NI], Vx.BoneIndex, Light);
      V[C] = {CamPos[VI].X, CamPos[VI].Y, CamPos[VI].Z, Vx.U, Vx.V,
              std::clamp(Light[0] * M.Red, 0.0f, 255.0f), std::clamp(Light[1] * M.Green, 0.0f, 255.0f),
              std::clamp(Light[2] * M.Blue, 0.0f, 255.0f), 255.0f};
    }
    if (Bad) continue;
    void* Texture = (M.HasBitmap && M.Bitmap) ? cvBitmap_GetDriverHandle(M.Bitmap) : nullptr;
    if (!cvDrawView_Polygon(&View, V, 3, Planes, Texture, Texture ? (uint32_t)CV_DRIVER_POLY_COLORKEY : 0u)) Ok = 0;
  }
  Engine->Stats[CV_ENGINE_STAT_POLYS2] += View.Polys - PolysBefore;
  Engine->Stats[CV_ENGINE_STAT_ACTORS]++;
  if (!Ok) {
    CV_ERROR(-1);
    return 0;
  }
  return 1;
}

}  // namespace

int cvPuppet_Render(cvPuppet* Puppet, cvPose* Pose, cvEngine* Engine, cvWorld* World,
                    cvCamera* Camera, const cvExtBox* Box) {
  return renderPuppet(Puppet, Pose, Box, Engine, World, Camera, nullptr);
}

int cvPuppet_RenderThroughFrustum(cvPuppet* Puppet, cvPose* Pose, const cvExtBox* Box,
                                  cvEngine* Engine, cvWorld* World, cvCamera* Camera,
                                  const cvFrustum* Frustum) {
  return renderPuppet(Puppet, Pose, Box, Engine, World, Camera, Frustum);
}
