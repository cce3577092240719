// Key and mouse-button state of the program's own windows: the stand-in for
// the asynchronous key state. The program's windows record presses and
// releases as their events arrive; tests set the state directly.
//
// Keys are named by their virtual-key codes: 0x01 left button, 0x02 right
// button, 0x04 middle button, 0x08 backspace, 0x0D enter, 0x10 shift,
// 0x11 control, 0x1B escape, 0x20 space, 0x25..0x28 arrows (left, up, right,
// down), '0'..'9', 'A'..'Z' (upper-case codes), 0x70.. F1...
#pragma once

namespace cvplatform {

enum : int {
  CV_VK_LBUTTON = 0x01,
  CV_VK_RBUTTON = 0x02,
  CV_VK_MBUTTON = 0x04,
  CV_VK_SHIFT = 0x10,
  CV_VK_CONTROL = 0x11,
  CV_VK_ESCAPE = 0x1B,
  CV_VK_COUNT = 256,
};

// Records that VirtualKey (0..255; others are ignored) went down or up.
void SetKeyDown(int VirtualKey, bool Down);
// True while VirtualKey is down.
bool IsKeyDown(int VirtualKey);
// The lowest code that is down, or -1.
int FirstKeyDown();
// Releases every key (the window lost the focus).
void ReleaseAllKeys();

}  // namespace cvplatform
