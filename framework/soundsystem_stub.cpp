// Stands in for the sound system until it is built: no sound, so the Engine
// goes on without one. The sound module replaces this file with the real
// CreateSoundSystem and DestroySoundSystem.
#include "framework/engine.h"

SoundSystem* CreateSoundSystem(cvWindow*) { return nullptr; }

void DestroySoundSystem(SoundSystem*) {}
