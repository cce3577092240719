// Helpers of the engine-core tests: an engine on a headless window using the
// real SoftRnd module from the build's bin folder.
#pragma once

#include <cstring>
#include <string>

#include "Engine/cvengcore.h"
#include "platform/window.h"
#include "testsupport.h"

namespace enginetest {

using cvtest::BinDir;

inline cvDriver_Record* FindDriver(cvEngine* e, const char* module) {
  for (cvDriver_Record* d = cvDriver_GetNextDriver(e, nullptr); d; d = cvDriver_GetNextDriver(e, d))
    if (std::strcmp(d->FileName, module) == 0) return d;
  return nullptr;
}

inline cvDriver_Mode* FindMode(cvDriver_Record* d, const char* name) {
  for (cvDriver_Mode* m = cvDriver_GetNextMode(d, nullptr); m; m = cvDriver_GetNextMode(d, m))
    if (std::strcmp(m->Name, name) == 0) return m;
  return nullptr;
}

// An engine with SoftRnd open in ModeName on a Width x Height headless window.
struct SoftEngine {
  cvplatform::HeadlessWindow Window;
  cvEngine* Engine = nullptr;

  SoftEngine(int32_t width, int32_t height, const char* modeName = "Window")
      : Window(width, height) {
    Engine = cvEngine_Create(Window.Record(), "engine test", BinDir().c_str(), CV_ENGINE_VERSION);
    if (!Engine) return;
    cvDriver_Record* d = FindDriver(Engine, "SoftRnd.so");
    cvDriver_Mode* m = d ? FindMode(d, modeName) : nullptr;
    if (!m || !cvEngine_SetDriverAndMode(Engine, d, m)) {
      cvEngine_Destroy(Engine);
      Engine = nullptr;
    }
  }
  ~SoftEngine() { cvEngine_Destroy(Engine); }
  cvDriver_Table* Driver() { return cvEngine_GetDriver(Engine); }
  uint32_t Pixel(int32_t x, int32_t y) const {
    return Window.Frame()[(size_t)y * Window.FrameWidth() + x];
  }
};

}  // namespace enginetest
