// Engine core: the engine object, driver enumeration and loading, the frame
// cycle and statistics, the camera, the engine bitmap list and the start-up logo.
#pragma once

#include "Engine/cvdriver.h"
