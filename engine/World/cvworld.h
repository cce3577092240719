// World: the scene the engine renders. An empty level (one model, one leaf
// spanning +-1000 units, one node), plus what is placed in it at run time:
// actors, 32 dynamic light slots, the bitmaps that must become driver
// textures, and user polygons that live for one frame.
//
// Depends on the math, bitmap, actor and engine-core modules. Records of
// other modules are only named here; include their public headers to use them.
#pragma once

#include <cstdint>

#include "Driver/cvdriver.h"
#include "Math/cvmath.h"

typedef struct cvVFile cvVFile;
typedef struct cvBitmap cvBitmap;
typedef struct cvActor cvActor;
typedef struct cvEngine cvEngine;
typedef struct cvCamera cvCamera;

typedef struct cvWorld cvWorld;

// Sizes of the world's fixed tables.
enum {
  CV_WORLD_MAX_LIGHTS = 32,
  CV_WORLD_MAX_MODELS = 256,
  CV_WORLD_MAX_FRUSTUM_PLANES = 6,
};

// Actor flags: where and how an actor takes part in rendering and collision.
enum : uint32_t {
  CV_WORLD_ACTOR_RENDER_NORMAL = 1,   // drawn in the main view
  CV_WORLD_ACTOR_RENDER_MIRRORS = 2,  // drawn in mirror views
  CV_WORLD_ACTOR_RENDER_ALWAYS = 4,   // drawn without the visibility test
  CV_WORLD_ACTOR_COLLIDE = 8,         // takes part in collision tests
};

// Collision flags of cvWorld_Collision.
enum : uint32_t {
  CV_WORLD_COLLIDE_MESHES = 1,  // level geometry (an empty level has none)
  CV_WORLD_COLLIDE_MODELS = 2,  // level models
  CV_WORLD_COLLIDE_ACTORS = 4,  // actors added with CV_WORLD_ACTOR_COLLIDE
};

// One entry of the actor list.
typedef struct cvWorld_ActorEntry {
  cvActor* Actor;
  uint32_t ActorFlags;
  uint32_t UserFlags;
} cvWorld_ActorEntry;

// Colour of a dynamic light, 0..255 per channel.
typedef struct cvWorld_Rgba {
  float R, G, B, A;
} cvWorld_Rgba;

// A dynamic light slot; the handle stays valid until cvWorld_RemoveLight.
typedef struct cvWorld_Light cvWorld_Light;

// A vertex of a user polygon: world position, texture coordinates, colour
// (0..255, A 255 = opaque).
typedef struct cvWorld_PolyVertex {
  float X, Y, Z;
  float U, V;
  float R, G, B, A;
} cvWorld_PolyVertex;

// Types of user polygons.
enum : int32_t {
  CV_WORLD_POLY_GOURAUD = 0,   // a convex polygon of 3 or more vertices in vertex colours
  CV_WORLD_POLY_TEXTURED = 1,  // the same textured with the bitmap (modulated by the colours)
  CV_WORLD_POLY_TEXTURED_POINT = 2,  // one vertex: a screen-facing square centred on it,
                                     // bitmap width x Scale world units wide (coronas, sprites)
};

// Flags of user polygons.
enum : uint32_t {
  CV_WORLD_POLYFLAG_BLEND = 1,     // blend by the vertex alpha (and the texels' alpha)
  CV_WORLD_POLYFLAG_NO_ZWRITE = 2, // hides nothing drawn after it
  CV_WORLD_POLYFLAG_NO_ZTEST = 4,  // drawn over everything
  CV_WORLD_POLYFLAG_ADDITIVE = 8,  // added to the frame
};

// The six rendering counters shown by the engine's statistics.
typedef struct cvWorld_RenderCounters {
  int32_t NodesVisited, NodesDrawn;
  int32_t LeavesVisited, LeavesDrawn;
  int32_t UserPolysVisited, UserPolysDrawn;
} cvWorld_RenderCounters;

// A view frustum as world-space planes: a point P is inside plane i when
// Normal[i] . P >= Dist[i] (normals point into the visible volume).
typedef struct cvFrustum {
  int32_t PlaneCount;
  cvVec3d Normal[CV_WORLD_MAX_FRUSTUM_PLANES];
  float Dist[CV_WORLD_MAX_FRUSTUM_PLANES];
} cvFrustum;

// Builds the world-space frustum of a camera (left, right, top, bottom and
// near planes) from its current transform and view angles.
int cvFrustum_SetFromCamera(cvFrustum* Frustum, const cvCamera* Camera);

// Result of cvWorld_Collision: the nearest hit of the move.
typedef struct cvWorld_CollisionResult {
  cvVec3d Impact;       // where the moving point (or box origin) stops
  float Ratio;          // 0..1: how far along Front -> Back the hit lies
  cvVec3d PlaneNormal;  // normal of the surface hit, pointing back at the mover
  float PlaneDist;      // plane: {P : P . PlaneNormal = PlaneDist}
  cvActor* Actor;       // the actor hit (null for level geometry)
} cvWorld_CollisionResult;

// Asked for every actor that would be hit; return 0 to ignore the actor.
typedef int (*cvWorld_CollisionCB)(cvWorld* World, cvActor* Actor, void* Context);

// --- Life cycle -------------------------------------------------------------

// LevelFile null makes an empty world. Reference count 1, changed flag set.
cvWorld* cvWorld_Create(cvVFile* LevelFile);
int cvWorld_AddRef(cvWorld* World);
// Drops one reference; at 0 the world and everything it owns is released.
// Returns 1 (0 for a null world).
int cvWorld_Free(cvWorld* World);
int32_t cvWorld_GetRefCount(const cvWorld* World);

// --- Actors ---------------------------------------------------------------

int cvWorld_AddActor(cvWorld* World, cvActor* Actor, uint32_t ActorFlags, uint32_t UserFlags);
int cvWorld_RemoveActor(cvWorld* World, cvActor* Actor);
int32_t cvWorld_GetActorCount(const cvWorld* World);
// The entry at Index (0 .. count-1), or null.
const cvWorld_ActorEntry* cvWorld_GetActorEntry(const cvWorld* World, int32_t Index);

// --- Bitmaps that need driver textures ------------------------------------

int cvWorld_AddBitmap(cvWorld* World, cvBitmap* Bitmap);
int cvWorld_RemoveBitmap(cvWorld* World, cvBitmap* Bitmap);
int cvWorld_HasBitmap(const cvWorld* World, const cvBitmap* Bitmap);
int32_t cvWorld_GetBitmapCount(const cvWorld* World);
// Create / release the driver textures of every world bitmap.
int cvWorld_AttachAllBitmaps(cvWorld* World, cvDriver_Table* Driver);
int cvWorld_DetachAllBitmaps(cvWorld* World);
// Re-applies gamma to every world bitmap; 0 when one refused.
int cvWorld_SetBitmapGamma(cvWorld* World, float Gamma);

// --- Engine bookkeeping -----------------------------------------------------

// The changed flag: 1 after creation and whenever the bitmap list gained or
// lost a bitmap; the engine re-attaches textures at begin-frame when set.
int cvWorld_IsChanged(const cvWorld* World);
void cvWorld_SetChanged(cvWorld* World, int Changed);
// Told by the engine when it attaches (Engine non-null) or detaches (null) the world.
void cvWorld_SetEngine(cvWorld* World, cvEngine* Engine);
cvEngine* cvWorld_GetEngine(const cvWorld* World);
// Counters of the last render (zeroed at the start of every render).
void cvWorld_GetRenderCounters(const cvWorld* World, cvWorld_RenderCounters* Out);
int32_t cvWorld_GetRenderCount(const cvWorld* World);
// Process-wide ray-cast counters of the renderer: casts, hits, light colour
// look-ups. Reset by the engine after it shows them.
void cvWorld_GetRayCastCounters(int32_t* Casts, int32_t* Hits, int32_t* ColourLookups);
void cvWorld_ResetRayCastCounters(void);
// The camera transform of the last render (identity before the first).
int cvWorld_GetLastCameraXForm(const cvWorld* World, cvXForm3d* Out);

// --- Dynamic lights ---------------------------------------------------------

cvWorld_Light* cvWorld_AddLight(cvWorld* World);
int cvWorld_RemoveLight(cvWorld* World, cvWorld_Light* Light);
int cvWorld_SetLightAttributes(cvWorld* World, cvWorld_Light* Light, const cvVec3d* Position,
                               const cvWorld_Rgba* Colour, float Radius, int CastShadows);
// Reads slot Index (0..31): 1 when the slot is in use, its values stored
// through the non-null pointers.
int cvWorld_GetLightInfo(const cvWorld* World, int32_t Index, cvVec3d* Position,
                         cvWorld_Rgba* Colour, float* Radius, int32_t* CastShadows);
// The fixed-point colour of slot Index (each of R, G, B scaled for the renderer).
int cvWorld_GetLightFixedColour(const cvWorld* World, int32_t Index, int32_t Out[3]);
int32_t cvWorld_GetActiveLightCount(const cvWorld* World);

// --- User polygons ----------------------------------------------------------

// A polygon drawn in the next render only. Bitmap (may be null) is held
// until then; it is drawn textured when it has a driver texture, that is
// when it is on this world's or the engine's bitmap list.
int cvWorld_AddPolyOnce(cvWorld* World, const cvWorld_PolyVertex* Vertices, int32_t Count,
                        cvBitmap* Bitmap, int32_t Type, uint32_t Flags, float Scale);
int32_t cvWorld_GetUserPolyCount(const cvWorld* World);

// --- Queries ----------------------------------------------------------------

// Box (Mins and Maxs given, relative to the moving point) or ray (both null)
// test of the move Front -> Back. An empty level has no solid space, so
// only actors whose flags hold CV_WORLD_ACTOR_COLLIDE and whose user flags
// share a bit with UserFlags can be hit (with CV_WORLD_COLLIDE_ACTORS in
// CollideFlags). 1 when something is hit; Result (may be null) then holds
// the nearest hit.
int cvWorld_Collision(cvWorld* World, const cvVec3d* Mins, const cvVec3d* Maxs,
                      const cvVec3d* Front, const cvVec3d* Back, uint32_t Contents,
                      uint32_t CollideFlags, uint32_t UserFlags, cvWorld_CollisionCB Callback,
                      void* Context, cvWorld_CollisionResult* Result);

// Casts a ray from Start straight down for Distance units. 1 when it meets a
// surface: Hit receives the point and Colour (may be null) its light-map
// colour on a 0..255 scale. An empty level has no surfaces.
int cvWorld_CastDown(cvWorld* World, const cvVec3d* Start, float Distance, cvVec3d* Hit,
                     cvVec3d* Colour);

// --- Rendering --------------------------------------------------------------

// Draws the world through Camera between the engine's begin-frame and end-frame.
int cvWorld_Render(cvEngine* Engine, cvWorld* World, cvCamera* Camera);

// Polygon submission through a camera view, shared with the puppets.
#include "World/worlddraw.h"
