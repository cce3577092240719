// Importing characters from common 3D model formats (glTF, FBX, Collada, OBJ,
// X, MS3D, SMD, MD2, MD5 and the others the Open Asset Import Library reads)
// into actor definitions.
//
// What a model becomes:
//  - all its triangle meshes one body; every vertex moves with the bone that
//    has its largest weight (bodies are rigid-skinned); unskinned meshes move
//    with the node that holds them;
//  - bones from the skeleton's nodes (or the node hierarchy of an unskinned
//    model), parents before children, named like the nodes;
//  - materials with their name, diffuse colour and diffuse texture (a file
//    beside the model, found without regard to case, or a texture embedded
//    in the model);
//  - one motion per animation, named like it (or "anim N"), with rotation and
//    translation keys per bone in seconds;
//  - turned to stand upright (Y up) facing the engine's front (-Z), and scaled
//    to the sample actor's height unless a scale is given.
// Bad input (a file the library refuses, no mesh, non-finite numbers, vertices
// without bone weights, more than a body can hold) fails with a message; the
// result is never cut short silently.
//
// Used by "actortool import" and by the program's "Import model..." command;
// it includes no Qt.
#pragma once

#include <string>
#include <vector>

typedef struct cvActorDef cvActorDef;

struct ImportOptions {
  // Model units to engine units; 0 fits the figure to the sample actor's
  // height (FitHeight units, standing on Y = 0 and centred on the Y axis).
  float Scale = 0.0f;
  // The model's up axis: 'y', 'z', or 0 to take it from the file's axis
  // information, else from the shape (the taller of its Y and Z extents).
  char Up = 0;
  // Key frames per second for resampling every animation; 0 keeps the
  // model's own key times.
  float Fps = 0.0f;
  // Extra turn about the vertical axis, in degrees, for models whose front is
  // not where their format usually puts it.
  float TurnDegrees = 0.0f;
};

// The sample actor's height, which imported figures are fitted to.
constexpr float kImportFitHeight = 72.0f;

struct ImportReport {
  std::vector<std::string> Warnings;  // e.g. a texture that could not be found
  int Bones = 0, Vertices = 0, Faces = 0, Materials = 0, Textures = 0, Motions = 0;
  float Scale = 0.0f;  // the scale that was applied
  char Up = 'y';       // the up axis that was used
};

// Imports the model file at Path. On success *Out receives a new definition
// (the caller destroys it with cvActorDef_Destroy) and the result is true;
// on failure *Out is null, *Error says why and the result is false. Report
// may be null.
bool ImportModel(const char* Path, const ImportOptions& Options, cvActorDef** Out,
                 std::string* Error, ImportReport* Report = nullptr);

// Writes Def as an actor file at Path: into a new file beside it first,
// renamed over Path only when complete, so that a failure leaves no
// half-written file and an older file at Path whole.
bool WriteActorFileSafely(const cvActorDef* Def, const char* Path, std::string* Error);
