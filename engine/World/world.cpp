// The world: creation of an empty level, the actor list, dynamic light
// slots, the world bitmap list, user polygons, collision and rendering.
#include "World/cvworld.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "Actor/cvactor.h"
#include "Bitmap/cvbitmap.h"
#include "Engine/cvengcore.h"
#include "Support/cvsupport.h"

// --- Records ----------------------------------------------------------------

struct cvWorld_Light {
  int32_t InUse;
  float R, G, B, A;
  cvVec3d Position;
  float Radius;
  int32_t Fixed[3];  // the colour scaled for the renderer's fixed-point lighting
  int32_t CastShadows;
};

namespace {

// Half size of the empty level's single leaf.
constexpr float kEmptyLevelHalfSize = 1000.0f;
// Sky box corners lie at +-5000.
constexpr float kSkyHalfSize = 5000.0f;
// The fixed-point light colour: each channel x 1/195 (0.0051282053) x 256.
constexpr float kLightFixedScale = 0.0051282053f;

struct LevelNode {
  int32_t Children[2];  // -1: no child
};

struct LevelModel {
  cvExtBox Box;
};

// The level: an empty one has one model, one leaf and one node.
struct Level {
  int32_t ModelCount;
  LevelModel* Models;
  int32_t LeafCount;
  cvExtBox* LeafBounds;
  int32_t NodeCount;
  LevelNode* Nodes;
  // Sky settings (none in an empty level).
  cvVec3d SkyAxis;
  float SkyRotationSpeed;
  cvBitmap* SkyBitmaps[6];
};

// Per-leaf visibility record (12 bytes).
struct LeafVis {
  uint32_t VisMark;  // equals the world's current mark when the leaf is visible
  int32_t Area;
  int32_t Reserved;
};

struct ModelSlot {
  cvXForm3d XForm;
  int32_t Field;  // -1: not bound to a level model
};

struct UserPoly {
  int32_t Type;
  uint32_t Flags;
  float Scale;
  cvBitmap* Bitmap;  // a reference held until the polygon is drawn
  int32_t Count;
  cvWorld_PolyVertex* Vertices;
};

// Process-wide level item pools, shared by every world: created by the first
// reference and freed by the last.
struct ItemPool {
  size_t ItemSize;
  size_t PerBlock;
  void* FirstBlock;
};
int32_t gPoolRefs = 0;
ItemPool gPools[3];

// Process-wide ray-cast counters.
int32_t gCasts = 0, gCastHits = 0, gColourLookups = 0;

int acquirePools() {
  if (gPoolRefs == 0) {
    static const size_t Sizes[3][2] = {{12, 1024}, {8, 128}, {20, 128}};
    for (int I = 0; I < 3; ++I) {
      // Each pool starts with one block so that the first items come cheap.
      void* Block = cvRam_AllocateClear(Sizes[I][0] * Sizes[I][1]);
      if (!Block) {
        for (int J = 0; J < I; ++J) cvRam_Free(gPools[J].FirstBlock), gPools[J].FirstBlock = nullptr;
        CV_ERROR(52);
        return 0;
      }
      gPools[I] = {Sizes[I][0], Sizes[I][1], Block};
    }
  }
  ++gPoolRefs;
  return 1;
}

void releasePools() {
  if (gPoolRefs <= 0) return;
  if (--gPoolRefs == 0)
    for (ItemPool& P : gPools) cvRam_Free(P.FirstBlock), P.FirstBlock = nullptr;
}

}  // namespace

struct cvWorld {
  uint32_t RenderCount;
  uint32_t VisMark;
  Level* TheLevel;
  ModelSlot Models[CV_WORLD_MAX_MODELS];
  cvWorld_ActorEntry* Actors;
  int32_t ActorCount;
  cvWorld_Light Lights[CV_WORLD_MAX_LIGHTS];
  cvBitmapList* Bitmaps;  // created on first need
  UserPoly* UserPolys;
  int32_t UserPolyCount;
  int32_t UserPolyCapacity;
  void* FogList;  // fog records from "FogLight" entities: none for an empty level
  cvWorld_RenderCounters Counters;
  cvXForm3d LastCamera;
  int32_t Changed;
  int32_t RefCount;
  // Beyond the stored fields: the engine the world is attached to, the
  // per-leaf visibility array, the sky rotation and the gamma last applied
  // to the world bitmaps.
  cvEngine* Engine;
  LeafVis* Vis;
  int32_t HasPoolRef;
  float SkyAngle;
  float BitmapGamma;
};

// --- Creation and release -----------------------------------------------------

namespace {

void freeLevel(Level* L) {
  if (!L) return;
  for (cvBitmap*& B : L->SkyBitmaps)
    if (B) cvBitmap_Destroy(&B);
  cvRam_Free(L->Models);
  cvRam_Free(L->LeafBounds);
  cvRam_Free(L->Nodes);
  cvRam_Free(L);
}

Level* makeEmptyLevel() {
  Level* L = static_cast<Level*>(cvRam_AllocateClear(sizeof(Level)));
  if (!L) return nullptr;
  L->Models = static_cast<LevelModel*>(cvRam_AllocateClear(sizeof(LevelModel)));
  L->LeafBounds = static_cast<cvExtBox*>(cvRam_AllocateClear(sizeof(cvExtBox)));
  L->Nodes = static_cast<LevelNode*>(cvRam_AllocateClear(sizeof(LevelNode)));
  if (!L->Models || !L->LeafBounds || !L->Nodes) {
    freeLevel(L);
    return nullptr;
  }
  const float H = kEmptyLevelHalfSize;
  L->ModelCount = 1;
  cvExtBox_Set(&L->Models[0].Box, -H, -H, -H, H, H, H);
  L->LeafCount = 1;
  L->LeafBounds[0] = L->Models[0].Box;
  L->NodeCount = 1;
  L->Nodes[0].Children[0] = L->Nodes[0].Children[1] = -1;
  cvVec3d_Clear(&L->SkyAxis);
  return L;
}

void clearUserPolys(cvWorld* W) {
  for (int32_t I = 0; I < W->UserPolyCount; ++I) {
    UserPoly& P = W->UserPolys[I];
    if (P.Bitmap) cvBitmap_Destroy(&P.Bitmap);
    cvRam_Free(P.Vertices);
    P = UserPoly{};
  }
  W->UserPolyCount = 0;
}

void releaseWorld(cvWorld* W) {
  if (W->TheLevel) {
    // Every listed actor loses the world's reference. Puppets registered
    // with this world forget it: the bitmap list below releases their
    // registrations, and an actor may outlive the world.
    for (int32_t I = 0; I < W->ActorCount; ++I) {
      cvActor* A = W->Actors[I].Actor;
      if (A && A->Puppet && A->Puppet->World == W) cvPuppet_SetWorld(A->Puppet, nullptr);
    }
    for (int32_t I = 0; I < W->ActorCount; ++I) {
      cvActor* A = W->Actors[I].Actor;
      if (A) cvActor_Destroy(&A);
    }
    cvRam_Free(W->Actors);
    W->Actors = nullptr;
    W->ActorCount = 0;
    clearUserPolys(W);
    cvRam_Free(W->UserPolys);
    if (W->Bitmaps) cvBitmapList_Destroy(W->Bitmaps);
    cvRam_Free(W->Vis);
    freeLevel(W->TheLevel);
  }
  if (W->HasPoolRef) releasePools();
  cvRam_Free(W);
}

}  // namespace

cvWorld* cvWorld_Create(cvVFile* LevelFile) {
  cvWorld* W = static_cast<cvWorld*>(cvRam_AllocateClear(sizeof(cvWorld)));
  if (!W) {
    CV_ERROR(52);
    return nullptr;
  }
  W->RefCount = 1;
  W->BitmapGamma = 1.0f;
  if (!acquirePools()) {
    releaseWorld(W);
    return nullptr;
  }
  W->HasPoolRef = 1;

  if (LevelFile) {
    // Level files are not part of this build: only empty worlds are made.
    CV_ERROR_CTX(-1, "level files are not supported");
    releaseWorld(W);
    return nullptr;
  }
  W->TheLevel = makeEmptyLevel();
  if (!W->TheLevel) {
    CV_ERROR(52);
    releaseWorld(W);
    return nullptr;
  }
  W->Changed = 1;

  W->Vis = static_cast<LeafVis*>(cvRam_AllocateClear(sizeof(LeafVis) * W->TheLevel->LeafCount));
  if (!W->Vis) {
    CV_ERROR(52);
    releaseWorld(W);
    return nullptr;
  }
  // Lights, entities, surfaces and level bitmaps: all empty for an empty
  // level, so there is nothing to register with the bitmap list here.

  for (ModelSlot& M : W->Models) {
    cvXForm3d_SetIdentity(&M.XForm);
    M.Field = -1;
  }
  for (int32_t I = 0; I < W->TheLevel->ModelCount && I < CV_WORLD_MAX_MODELS; ++I) W->Models[I].Field = I;

  // A zero sky axis is replaced by the X axis.
  const cvVec3d Zero = {0, 0, 0};
  if (cvVec3d_Compare(&W->TheLevel->SkyAxis, &Zero, 0.05f)) cvVec3d_Set(&W->TheLevel->SkyAxis, 1, 0, 0);
  cvXForm3d_SetIdentity(&W->LastCamera);
  return W;
}

int cvWorld_AddRef(cvWorld* World) {
  if (!World) {
    CV_ERROR(-1);
    return 0;
  }
  ++World->RefCount;
  return 1;
}

int cvWorld_Free(cvWorld* World) {
  if (!World) {
    CV_ERROR(-1);
    return 0;
  }
  if (--World->RefCount > 0) return 1;
  releaseWorld(World);
  return 1;
}

int32_t cvWorld_GetRefCount(const cvWorld* World) { return World ? World->RefCount : 0; }

// --- Actors -------------------------------------------------------------------

int cvWorld_AddActor(cvWorld* World, cvActor* Actor, uint32_t ActorFlags, uint32_t UserFlags) {
  if (!World || !Actor) {
    CV_ERROR(-1);
    return 0;
  }
  void* Grown = cvRam_Realloc(World->Actors, sizeof(cvWorld_ActorEntry) * (World->ActorCount + 1));
  if (!Grown) {
    CV_ERROR(-1);
    return 0;
  }
  World->Actors = static_cast<cvWorld_ActorEntry*>(Grown);
  World->Actors[World->ActorCount] = {Actor, ActorFlags, UserFlags};
  // The actor attaches itself: its puppet registers its textures with us.
  if (!cvActor_PrepareForRendering(Actor, World)) {
    World->Actors[World->ActorCount] = cvWorld_ActorEntry{};
    CV_ERROR(-1);
    return 0;
  }
  ++World->ActorCount;
  cvActor_CreateRef(Actor);
  return 1;
}

int cvWorld_RemoveActor(cvWorld* World, cvActor* Actor) {
  if (!World) {
    CV_ERROR(-1);
    return 0;
  }
  int32_t I = 0;
  while (I < World->ActorCount && World->Actors[I].Actor != Actor) ++I;
  if (I >= World->ActorCount) {
    CV_ERROR(-1);
    return 0;
  }
  // The last entry takes the freed place.
  World->Actors[I] = World->Actors[World->ActorCount - 1];
  World->Actors[World->ActorCount - 1] = cvWorld_ActorEntry{};
  --World->ActorCount;
  // Listed no more: its puppet's textures leave this world, so that the
  // actor may outlive it.
  const bool StillListed = std::any_of(World->Actors, World->Actors + World->ActorCount,
                                       [Actor](const cvWorld_ActorEntry& E) { return E.Actor == Actor; });
  if (!StillListed && Actor->Puppet && Actor->Puppet->World == World) cvPuppet_SetWorld(Actor->Puppet, nullptr);
  cvActor_Destroy(&Actor);
  return 1;
}

int32_t cvWorld_GetActorCount(const cvWorld* World) { return World ? World->ActorCount : 0; }

const cvWorld_ActorEntry* cvWorld_GetActorEntry(const cvWorld* World, int32_t Index) {
  if (!World || Index < 0 || Index >= World->ActorCount) return nullptr;
  return &World->Actors[Index];
}

// --- Bitmaps ------------------------------------------------------------------

int cvWorld_AddBitmap(cvWorld* World, cvBitmap* Bitmap) {
  if (!World || !Bitmap) {
    CV_ERROR(-1);
    return 0;
  }
  if (!World->Bitmaps) {
    World->Bitmaps = cvBitmapList_Create();
    if (!World->Bitmaps) {
      CV_ERROR(-1);
      return 0;
    }
  }
  cvBitmap_SetDriverFlags(Bitmap, CV_DRIVER_FORMAT_WORLD3D | CV_DRIVER_FORMAT_3D);
  if (cvBitmapList_Add(World->Bitmaps, Bitmap)) World->Changed = 1;
  return 1;
}

int cvWorld_RemoveBitmap(cvWorld* World, cvBitmap* Bitmap) {
  if (!World || !World->Bitmaps || !Bitmap) {
    CV_ERROR(-1);
    return 0;
  }
  if (!cvBitmapList_Has(World->Bitmaps, Bitmap)) {
    CV_ERROR(-1);
    return 0;
  }
  if (cvBitmapList_Remove(World->Bitmaps, Bitmap)) World->Changed = 1;
  return 1;
}

int cvWorld_HasBitmap(const cvWorld* World, const cvBitmap* Bitmap) {
  return World && World->Bitmaps && cvBitmapList_Has(World->Bitmaps, const_cast<cvBitmap*>(Bitmap));
}

int32_t cvWorld_GetBitmapCount(const cvWorld* World) {
  return (World && World->Bitmaps) ? cvBitmapList_Count(World->Bitmaps) : 0;
}

int cvWorld_AttachAllBitmaps(cvWorld* World, cvDriver_Table* Driver) {
  if (!World || !Driver) {
    CV_ERROR(-1);
    return 0;
  }
  if (!World->Bitmaps) return 1;
  if (!cvBitmapList_AttachToDriver(World->Bitmaps, Driver, World->BitmapGamma)) {
    CV_ERROR(-1);
    return 0;
  }
  return 1;
}

int cvWorld_DetachAllBitmaps(cvWorld* World) {
  if (!World) {
    CV_ERROR(-1);
    return 0;
  }
  if (!World->Bitmaps) return 1;
  if (!cvBitmapList_DetachFromDriver(World->Bitmaps)) {
    CV_ERROR(-1);
    return 0;
  }
  return 1;
}

int cvWorld_SetBitmapGamma(cvWorld* World, float Gamma) {
  if (!World) {
    CV_ERROR(-1);
    return 0;
  }
  World->BitmapGamma = Gamma;
  if (!World->Bitmaps) return 1;
  if (!cvBitmapList_SetGamma(World->Bitmaps, Gamma)) {
    CV_ERROR(-1);
    return 0;
  }
  return 1;
}

// --- Engine bookkeeping -------------------------------------------------------

int cvWorld_IsChanged(const cvWorld* World) { return World ? World->Changed : 0; }
void cvWorld_SetChanged(cvWorld* World, int Changed) {
  if (World) World->Changed = Changed ? 1 : 0;
}
void cvWorld_SetEngine(cvWorld* World, cvEngine* Engine) {
  if (World) World->Engine = Engine;
}
cvEngine* cvWorld_GetEngine(const cvWorld* World) { return World ? World->Engine : nullptr; }

void cvWorld_GetRenderCounters(const cvWorld* World, cvWorld_RenderCounters* Out) {
  if (!Out) return;
  *Out = World ? World->Counters : cvWorld_RenderCounters{};
}
int32_t cvWorld_GetRenderCount(const cvWorld* World) { return World ? (int32_t)World->RenderCount : 0; }

void cvWorld_GetRayCastCounters(int32_t* Casts, int32_t* Hits, int32_t* ColourLookups) {
  if (Casts) *Casts = gCasts;
  if (Hits) *Hits = gCastHits;
  if (ColourLookups) *ColourLookups = gColourLookups;
}
void cvWorld_ResetRayCastCounters(void) { gCasts = gCastHits = gColourLookups = 0; }

int cvWorld_GetLastCameraXForm(const cvWorld* World, cvXForm3d* Out) {
  if (!World || !Out) return 0;
  *Out = World->LastCamera;
  return 1;
}

// --- Lights -------------------------------------------------------------------

cvWorld_Light* cvWorld_AddLight(cvWorld* World) {
  if (!World) {
    CV_ERROR(-1);
    return nullptr;
  }
  for (cvWorld_Light& L : World->Lights) {
    if (!L.InUse) {
      L = cvWorld_Light{};
      L.InUse = 1;
      return &L;
    }
  }
  CV_ERROR(42);
  return nullptr;
}

namespace {
bool isWorldLight(const cvWorld* World, const cvWorld_Light* Light) {
  return World && Light && Light >= World->Lights && Light < World->Lights + CV_WORLD_MAX_LIGHTS &&
         Light->InUse;
}
}  // namespace

int cvWorld_RemoveLight(cvWorld* World, cvWorld_Light* Light) {
  if (!isWorldLight(World, Light)) {
    CV_ERROR(-1);
    return 0;
  }
  *Light = cvWorld_Light{};
  return 1;
}

int cvWorld_SetLightAttributes(cvWorld* World, cvWorld_Light* Light, const cvVec3d* Position,
                               const cvWorld_Rgba* Colour, float Radius, int CastShadows) {
  if (!isWorldLight(World, Light) || !Position || !Colour) {
    CV_ERROR(-1);
    return 0;
  }
  Light->Position = *Position;
  Light->R = Colour->R;
  Light->G = Colour->G;
  Light->B = Colour->B;
  Light->A = Colour->A;
  Light->Radius = Radius;
  Light->CastShadows = CastShadows;
  Light->Fixed[0] = (int32_t)(Colour->R * kLightFixedScale * 256.0f);
  Light->Fixed[1] = (int32_t)(Colour->G * kLightFixedScale * 256.0f);
  Light->Fixed[2] = (int32_t)(Colour->B * kLightFixedScale * 256.0f);
  return 1;
}

int cvWorld_GetLightInfo(const cvWorld* World, int32_t Index, cvVec3d* Position,
                         cvWorld_Rgba* Colour, float* Radius, int32_t* CastShadows) {
  if (!World || Index < 0 || Index >= CV_WORLD_MAX_LIGHTS || !World->Lights[Index].InUse) return 0;
  const cvWorld_Light& L = World->Lights[Index];
  if (Position) *Position = L.Position;
  if (Colour) *Colour = {L.R, L.G, L.B, L.A};
  if (Radius) *Radius = L.Radius;
  if (CastShadows) *CastShadows = L.CastShadows;
  return 1;
}

int cvWorld_GetLightFixedColour(const cvWorld* World, int32_t Index, int32_t Out[3]) {
  if (!World || !Out || Index < 0 || Index >= CV_WORLD_MAX_LIGHTS || !World->Lights[Index].InUse)
    return 0;
  std::copy(World->Lights[Index].Fixed, World->Lights[Index].Fixed + 3, Out);
  return 1;
}

int32_t cvWorld_GetActiveLightCount(const cvWorld* World) {
  if (!World) return 0;
  return (int32_t)std::count_if(World->Lights, World->Lights + CV_WORLD_MAX_LIGHTS,
                                [](const cvWorld_Light& L) { return L.InUse != 0; });
}

// --- User polygons ------------------------------------------------------------

int cvWorld_AddPolyOnce(cvWorld* World, const cvWorld_PolyVertex* Vertices, int32_t Count,
                        cvBitmap* Bitmap, int32_t Type, uint32_t Flags, float Scale) {
  if (!World || !Vertices || Count < 1 || Count > 32 ||
      (Type == CV_WORLD_POLY_TEXTURED_POINT ? Count != 1 : Count < 3) ||
      Type < CV_WORLD_POLY_GOURAUD || Type > CV_WORLD_POLY_TEXTURED_POINT) {
    CV_ERROR(-1);
    return 0;
  }
  if (World->UserPolyCount == World->UserPolyCapacity) {
    void* Grown = cvRam_Realloc(World->UserPolys, sizeof(UserPoly) * (World->UserPolyCapacity + 1));
    if (!Grown) {
      CV_ERROR(-1);
      return 0;
    }
    World->UserPolys = static_cast<UserPoly*>(Grown);
    World->UserPolys[World->UserPolyCapacity++] = UserPoly{};
  }
  auto* Copy = static_cast<cvWorld_PolyVertex*>(cvRam_Allocate(sizeof(cvWorld_PolyVertex) * Count));
  if (!Copy) {
    CV_ERROR(-1);
    return 0;
  }
  std::copy(Vertices, Vertices + Count, Copy);
  if (Bitmap) cvBitmap_CreateRef(Bitmap);
  World->UserPolys[World->UserPolyCount++] = {Type, Flags, Scale, Bitmap, Count, Copy};
  return 1;
}

int32_t cvWorld_GetUserPolyCount(const cvWorld* World) { return World ? World->UserPolyCount : 0; }

// --- Collision ----------------------------------------------------------------

int cvWorld_Collision(cvWorld* World, const cvVec3d* Mins, const cvVec3d* Maxs,
                      const cvVec3d* Front, const cvVec3d* Back, uint32_t Contents,
                      uint32_t CollideFlags, uint32_t UserFlags, cvWorld_CollisionCB Callback,
                      void* Context, cvWorld_CollisionResult* Result) {
  (void)Contents;  // an empty level has no solid contents to match
  if (!World || !Front || !Back || (!Mins) != (!Maxs)) {
    CV_ERROR(-1);
    return 0;
  }
  ++gCasts;
  if (!(CollideFlags & CV_WORLD_COLLIDE_ACTORS)) return 0;

  bool Hit = false;
  float BestT = 2.0f;
  cvVec3d BestNormal{};
  cvActor* BestActor = nullptr;
  for (int32_t I = 0; I < World->ActorCount; ++I) {
    const cvWorld_ActorEntry& E = World->Actors[I];
    if (!(E.ActorFlags & CV_WORLD_ACTOR_COLLIDE) || !(E.UserFlags & UserFlags)) continue;
    cvExtBox Box;
    if (!cvActor_GetExtBox(E.Actor, &Box) || !cvExtBox_IsValid(&Box)) continue;
    // A moving box hits the actor's box grown by the mover's extents: the
    // Minkowski sum turns the box test into a ray test.
    if (Mins) {
      Box.Min.X -= Maxs->X, Box.Min.Y -= Maxs->Y, Box.Min.Z -= Maxs->Z;
      Box.Max.X -= Mins->X, Box.Max.Y -= Mins->Y, Box.Max.Z -= Mins->Z;
    }
    float T;
    cvVec3d Normal;
    if (!cvExtBox_RayCollision(&Box, Front, Back, &T, &Normal)) continue;
    if (T >= BestT) continue;
    if (Callback && !Callback(World, E.Actor, Context)) continue;
    Hit = true;
    BestT = T;
    BestNormal = Normal;
    BestActor = E.Actor;
  }
  if (!Hit) return 0;
  ++gCastHits;
  if (Result) {
    cvVec3d D;
    cvVec3d_Subtract(Back, Front, &D);
    cvVec3d_AddScaled(Front, BestT, &D, &Result->Impact);
    Result->Ratio = BestT;
    Result->PlaneNormal = BestNormal;
    Result->PlaneDist = cvVec3d_DotProduct(&BestNormal, &Result->Impact);
    Result->Actor = BestActor;
  }
  return 1;
}

int cvWorld_CastDown(cvWorld* World, const cvVec3d* Start, float Distance, cvVec3d* Hit,
                     cvVec3d* Colour) {
  (void)Distance, (void)Hit, (void)Colour;
  if (!World || !Start) return 0;
  ++gCasts;
  // An empty level has no surfaces: nothing below can be hit.
  return 0;
}

// --- Rendering ----------------------------------------------------------------

namespace {

// The leaf that holds P, or -1 when P lies outside the level.
int32_t findLeaf(const Level* L, const cvVec3d* P) {
  for (int32_t I = 0; I < L->LeafCount; ++I) {
    const cvExtBox& B = L->LeafBounds[I];
    if (P->X >= B.Min.X && P->X <= B.Max.X && P->Y >= B.Min.Y && P->Y <= B.Max.Y &&
        P->Z >= B.Min.Z && P->Z <= B.Max.Z)
      return I;
  }
  return -1;
}

void drawUserPolys(cvWorld* W, cvDrawView* View) {
  for (int32_t I = 0; I < W->UserPolyCount; ++I) {
    const UserPoly& P = W->UserPolys[I];
    W->Counters.UserPolysVisited++;
    void* Texture = P.Bitmap ? cvBitmap_GetDriverHandle(P.Bitmap) : nullptr;
    if (P.Type == CV_WORLD_POLY_GOURAUD) Texture = nullptr;
    uint32_t Flags = 0;
    if (P.Flags & CV_WORLD_POLYFLAG_BLEND) Flags |= CV_DRIVER_POLY_BLEND;
    if (P.Flags & CV_WORLD_POLYFLAG_NO_ZWRITE) Flags |= CV_DRIVER_POLY_NOZWRITE;
    if (P.Flags & CV_WORLD_POLYFLAG_NO_ZTEST) Flags |= CV_DRIVER_POLY_NOZTEST;
    if (P.Flags & CV_WORLD_POLYFLAG_ADDITIVE) Flags |= CV_DRIVER_POLY_ADDITIVE;
    if (Texture) Flags |= CV_DRIVER_POLY_COLORKEY;

    cvDrawVertex V[32];
    int32_t N = P.Count;
    if (P.Type == CV_WORLD_POLY_TEXTURED_POINT) {
      // A square facing the camera, centred on the vertex.
      const cvWorld_PolyVertex& C = P.Vertices[0];
      cvVec3d Centre = {C.X, C.Y, C.Z}, Cam;
      cvXForm3d_Transform(&View->WorldToCamera, &Centre, &Cam);
      float Width = 1.0f;
      if (P.Bitmap) {
        cvBitmap_Info Info;
        if (cvBitmap_GetInfo(P.Bitmap, &Info, nullptr)) Width = (float)Info.Width;
      }
      const float H = 0.5f * Width * P.Scale;
      static const float Corner[4][4] = {{-1, 1, 0, 0}, {1, 1, 1, 0}, {1, -1, 1, 1}, {-1, -1, 0, 1}};
      for (int K = 0; K < 4; ++K)
        V[K] = {Cam.X + Corner[K][0] * H, Cam.Y + Corner[K][1] * H, Cam.Z, Corner[K][2], Corner[K][3],
                C.R, C.G, C.B, C.A};
      N = 4;
    } else {
      for (int32_t K = 0; K < N; ++K) {
        const cvWorld_PolyVertex& S = P.Vertices[K];
        cvVec3d Wp = {S.X, S.Y, S.Z}, Cam;
        cvXForm3d_Transform(&View->WorldToCamera, &Wp, &Cam);
        V[K] = {Cam.X, Cam.Y, Cam.Z, S.U, S.V, S.R, S.G, S.B, S.A};
      }
    }
    const int32_t Before = View->Polys;
    cvDrawView_Polygon(View, V, N, CV_DRAW_ALL_PLANES, Texture, Flags);
    if (View->Polys > Before) W->Counters.UserPolysDrawn++;
  }
}

}  // namespace

int cvWorld_Render(cvEngine* Engine, cvWorld* World, cvCamera* Camera) {
  if (!Engine || !World || !Camera || !World->TheLevel) {
    CV_ERROR(-1);
    return 0;
  }
  cvDriver_Table* Driver = cvEngine_GetDriver(Engine);
  cvDrawView View;
  if (!cvDrawView_Set(&View, Engine, Driver, Camera)) {
    CV_ERROR(-1);
    return 0;
  }

  // 1. A new pass: new visibility mark, counters from zero.
  World->RenderCount++;
  World->VisMark = World->RenderCount;
  World->Counters = cvWorld_RenderCounters{};
  const uint32_t MirrorDepth = 0;  // an empty level has no mirrors

  // 2. The renderer's camera values; the camera leaf and visible leaves: the empty level's single leaf is seen
  // from everywhere.
  cvCamera_FillRenderGlobals(Camera);
  Level* L = World->TheLevel;
  World->Counters.NodesVisited += L->NodeCount;
  for (int32_t I = 0; I < L->LeafCount; ++I) {
    World->Vis[I].VisMark = World->VisMark;
    World->Counters.LeavesVisited++;
  }

  // 3. Dynamic lights of this frame (the puppets read the slots directly).
  Engine->Stats[CV_ENGINE_STAT_DLIGHTS] += cvWorld_GetActiveLightCount(World);

  // 4. Level polygons: none in an empty level.
  if (Driver->BeginLevel && !Driver->BeginLevel()) {
    CV_ERROR(-1);
    return 0;
  }
  if (Driver->EndLevel && !Driver->EndLevel()) {
    CV_ERROR(-1);
    return 0;
  }
  if (Driver->BeginWorld && !Driver->BeginWorld()) {
    CV_ERROR(26);
    return 0;
  }

  // 5. Actors in list order.
  int Ok = 1;
  for (int32_t I = 0; I < World->ActorCount; ++I) {
    const cvWorld_ActorEntry E = World->Actors[I];
    const uint32_t Wanted = MirrorDepth == 0 ? CV_WORLD_ACTOR_RENDER_NORMAL : CV_WORLD_ACTOR_RENDER_MIRRORS;
    if (!(E.ActorFlags & (Wanted | CV_WORLD_ACTOR_RENDER_ALWAYS))) continue;
    cvExtBox Box;
    if (cvActor_GetRenderBox(E.Actor, &Box) && !(E.ActorFlags & CV_WORLD_ACTOR_RENDER_ALWAYS)) {
      cvVec3d Centre = {(Box.Min.X + Box.Max.X) * 0.5f, (Box.Min.Y + Box.Max.Y) * 0.5f,
                        (Box.Min.Z + Box.Max.Z) * 0.5f};
      const int32_t Leaf = findLeaf(L, &Centre);
      if (Leaf < 0 || World->Vis[Leaf].VisMark != World->VisMark) continue;
    }
    // A failing actor does not stop the others; the render then reports failure.
    if (!cvActor_Render(E.Actor, Engine, World, Camera)) Ok = 0;
  }

  // 6. Close the actors, remember the camera, draw the user polygons.
  if (Driver->EndWorld && !Driver->EndWorld()) {
    CV_ERROR(27);
    return 0;
  }
  World->LastCamera = *cvCamera_GetWorldSpaceXForm(Camera);
  drawUserPolys(World, &View);

  // 7. Sky rotation (one thirtieth of a second per frame) and the sky brackets.
  World->SkyAngle += L->SkyRotationSpeed * (1.0f / 180.0f) * 3.14159f * (1.0f / 30.0f);
  if (Driver->BeginSky) Driver->BeginSky();
  if (Driver->EndSky) Driver->EndSky();
  clearUserPolys(World);
  (void)kSkyHalfSize;
  if (!Ok) {
    CV_ERROR(-1);
    return 0;
  }
  return 1;
}
