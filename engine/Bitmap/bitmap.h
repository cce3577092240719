// Pixel formats, bitmaps, palettes, locks, conversion, mips, gamma and the driver copy.
#pragma once
