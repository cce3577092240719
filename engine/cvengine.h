// The whole engine: every module's public header.
#pragma once

#include "Support/cvsupport.h"
#include "Math/cvmath.h"
#include "VFile/cvvfile.h"
#include "Driver/cvdriver.h"
#include "Bitmap/cvbitmap.h"
#include "Anim/cvanim.h"
#include "Actor/cvactor.h"
#include "Engine/cvengcore.h"
#include "World/cvworld.h"
