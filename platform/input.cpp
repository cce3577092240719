#include "platform/input.h"

#include <array>
#include <cstddef>

namespace cvplatform {

namespace {
// One thread (the window's) reads and writes this state.
std::array<bool, CV_VK_COUNT> keys{};
}  // namespace

void SetKeyDown(int VirtualKey, bool Down) {
  if (VirtualKey >= 0 && VirtualKey < CV_VK_COUNT) keys[static_cast<size_t>(VirtualKey)] = Down;
}

bool IsKeyDown(int VirtualKey) {
  return VirtualKey >= 0 && VirtualKey < CV_VK_COUNT && keys[static_cast<size_t>(VirtualKey)];
}

int FirstKeyDown() {
  for (int k = 0; k < CV_VK_COUNT; ++k)
    if (keys[static_cast<size_t>(k)]) return k;
  return -1;
}

void ReleaseAllKeys() { keys.fill(false); }

}  // namespace cvplatform
