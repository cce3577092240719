// Polygon submission shared by the world renderer and the puppets: camera
// space polygons are clipped against the near plane and the view rectangle,
// projected through the camera and handed to the render driver.
//
// Part of the World module's public header: puppets draw through it too.
#pragma once

#include <cstdint>

#include "Driver/cvdriver.h"
#include "Math/cvmath.h"

typedef struct cvCamera cvCamera;
typedef struct cvEngine cvEngine;
typedef struct cvFrustum cvFrustum;

// A vertex in camera space (looking along -Z) with its attributes.
typedef struct cvDrawVertex {
  float X, Y, Z;
  float U, V;
  float R, G, B, A;  // 0..255
} cvDrawVertex;

// Clip planes of a view, in camera space: a point P is kept when
// Normal . P >= Dist.
enum {
  CV_DRAW_PLANE_NEAR = 0,
  CV_DRAW_PLANE_LEFT,
  CV_DRAW_PLANE_RIGHT,
  CV_DRAW_PLANE_TOP,
  CV_DRAW_PLANE_BOTTOM,
  CV_DRAW_PLANE_COUNT,
  CV_DRAW_MAX_PLANES = 8
};
enum : uint32_t { CV_DRAW_ALL_PLANES = 0xFFu };

// Nearest camera-space depth drawn.
#define CV_DRAW_NEAR_Z 1.0f

// Everything the drawing step needs for one view.
typedef struct cvDrawView {
  cvDriver_Table* Driver;
  cvEngine* Engine;
  cvCamera* Camera;
  cvXForm3d WorldToCamera;  // camera-space transform of the camera
  cvXForm3d CameraToWorld;
  int32_t PlaneCount;  // the view's five planes, or near + a frustum's planes
  cvVec3d PlaneNormal[CV_DRAW_MAX_PLANES];  // camera space
  float PlaneDist[CV_DRAW_MAX_PLANES];
  int32_t Polys;  // polygons handed to the driver through this view
} cvDrawView;

// Fills a view for Camera (its current transform) drawing with Driver.
// 0 when the camera or driver is missing.
int cvDrawView_Set(cvDrawView* View, cvEngine* Engine, cvDriver_Table* Driver, cvCamera* Camera);

// The view's planes in world space (near, left, right, top, bottom).
void cvDrawView_GetWorldFrustum(const cvDrawView* View, cvVec3d Normal[CV_DRAW_PLANE_COUNT],
                                float Dist[CV_DRAW_PLANE_COUNT]);

// Replaces the view's side planes by Frustum's (world space); the near plane stays.
void cvDrawView_UseFrustum(cvDrawView* View, const cvFrustum* Frustum);

// Clips the convex polygon against the planes in Planes (bit i = plane i;
// leave a plane out only when the polygon lies wholly inside it),
// projects it and draws it (textured when Texture is given). 1 when drawn or
// wholly clipped away, 0 when the driver refused it.
int cvDrawView_Polygon(cvDrawView* View, const cvDrawVertex* Vertices, int32_t Count,
                       uint32_t Planes, void* Texture, uint32_t Flags);

// Which of the view's planes the world-space box crosses: bit i set when the
// box straddles plane i. Returns 0 and sets *Outside when the box lies
// wholly outside one plane.
uint32_t cvDrawView_ClassifyBox(const cvDrawView* View, const cvExtBox* WorldBox, int* Outside);
