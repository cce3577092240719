// Module anchor: keeps the library non-empty until the module has sources.
#include "World/cvworld.h"
