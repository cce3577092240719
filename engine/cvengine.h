// The whole engine: every module's public header.
#pragma once

#include "Support/cvsupport.h"
#include "Math/cvmath.h"
#include "VFile/cvvfile.h"
#include "Bitmap/cvbitmap.h"
#include "Actor/cvactor.h"
#include "Engine/cvengcore.h"
#include "World/cvworld.h"
