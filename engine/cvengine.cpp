// Anchors the cvengine library; the modules are linked in as its dependencies.
#include "cvengine.h"
