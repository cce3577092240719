// Module anchor: keeps the library non-empty until the module has sources.
#include "Math/cvmath.h"
