// High-resolution and millisecond clocks of the platform.
#pragma once

#include <cstdint>

namespace cvplatform {

// Counts of the monotonic clock; PerformanceFrequency() counts make a second.
int64_t PerformanceCounter();
// 1,000,000,000: fits the engine's 32-bit frequency field.
int64_t PerformanceFrequency();
// Milliseconds since the process started.
uint32_t TickCount();

// Replaces the source of TickCount (tests drive time by hand); null restores
// the real clock.
using TickSource = uint32_t (*)();
void SetTickSource(TickSource Source);

}  // namespace cvplatform
