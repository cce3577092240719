// World: the scene of actors, lights, bitmaps and user polygons that the engine renders.
#pragma once
