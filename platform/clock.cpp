#include "platform/clock.h"

#include <chrono>

namespace cvplatform {
namespace {
const auto g_start = std::chrono::steady_clock::now();
TickSource g_tickSource = nullptr;
}

int64_t PerformanceCounter() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t PerformanceFrequency() { return 1000000000; }

void SetTickSource(TickSource Source) { g_tickSource = Source; }

uint32_t TickCount() {
  if (g_tickSource) return g_tickSource();
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - g_start)
          .count());
}

}  // namespace cvplatform
