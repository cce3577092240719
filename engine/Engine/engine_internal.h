// Engine-core internals shared by its source files.
#pragma once

#include <string>

#include "Engine/cvengcore.h"

// The path of a driver module in the engine's driver directory.
std::string cvEngine_ModulePath(const cvEngine* Engine, const char* FileName);
// Release / create the driver textures of the engine bitmaps and of every
// active world (detaching also resets the driver).
int cvEngine_DetachAll(cvEngine* Engine);
int cvEngine_AttachAll(cvEngine* Engine);
// Applies the engine gamma to the device or to the bitmaps.
int cvEngine_ApplyGamma(cvEngine* Engine);
