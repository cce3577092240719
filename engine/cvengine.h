// The whole engine: every module's public header.
#pragma once

#include "Support/cvsupport.h"
