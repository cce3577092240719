// Module anchor: keeps the library non-empty.
#include "Actor/cvactor.h"
