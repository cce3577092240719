// Building 256-colour palettes for true-colour images and the nearest-colour lookup.
#pragma once
