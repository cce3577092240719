// The start-up logo. This build ships no logo actor, so the logo reports
// success without playing (and remembers that it was asked, as the logo
// plays at most once per process).
#include "Engine/cvengcore.h"

namespace {
bool g_logoShown = false;
}

int cvLogo_Show(cvEngine* Engine, cvDriver_Mode* Mode) {
  (void)Engine;
  (void)Mode;
  g_logoShown = true;
  return 1;
}
