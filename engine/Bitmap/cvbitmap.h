// Bitmap: pixel formats, bitmaps, palettes and locks; bitmap files; format
// conversion and gamma; palette creation.
#pragma once

#include "Bitmap/bitmap.h"
#include "Bitmap/bitmapfile.h"
#include "Bitmap/palettecreate.h"
