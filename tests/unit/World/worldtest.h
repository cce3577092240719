// Helpers of the world and puppet tests: a small actor built in memory and
// an engine record whose "driver" records what it is asked to draw.
#pragma once

#include <vector>

#include "cvengine.h"

namespace worldtest {

// A body with one bone ("root") and one material ("skin", colour 255/128/64,
// with Bitmap when given); one triangle facing +Z at Z = 0 spanning
// (-1,-1)..(1,1), plus a second bone "arm" (child of root, one unit up)
// carrying a triangle of its own.
cvBody* MakeBody(cvBitmap* Bitmap);
// A definition holding MakeBody(Bitmap) and an instance of it. The caller
// releases both with Release.
struct TestActor {
  cvActorDef* Def = nullptr;
  cvActor* Actor = nullptr;
};
TestActor MakeActor(cvBitmap* Bitmap = nullptr);
void Release(TestActor& A);

// A 4x4 bitmap in a 32-bit format.
cvBitmap* MakeBitmap();

// An engine record with a recording driver table (no module loaded).
struct RecordingEngine {
  RecordingEngine();
  ~RecordingEngine();
  cvEngine Engine{};
  cvDriver_Table Table{};
  struct Poly {
    std::vector<cvDriver_Vertex> Vertices;
    void* Texture;
    uint32_t Flags;
  };
  std::vector<Poly> Polys;
  int BeginWorlds = 0, EndWorlds = 0;
  bool FailBeginWorld = false;
  bool FailEndWorld = false;
};

// A 640x480 camera (FOV 2) at Position looking along -Z.
cvCamera* MakeCamera(float X, float Y, float Z);

}  // namespace worldtest
