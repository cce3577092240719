// The window record: what the engine and the render drivers know of the
// window they draw into. The engine hands a pointer to it to the driver as
// its window handle; the driver asks it for the client size and presents
// each finished frame through it. The Qt view implements it for the program,
// HeadlessWindow (below) for tests and command-line rendering.
#pragma once

#include <cstdint>
#include <vector>

extern "C" {

// Pixel layouts a frame may be presented in.
enum cvWindow_FrameFormat : int32_t {
  CV_WINDOW_FRAME_XRGB8888 = 1,  // 32-bit words 0x00RRGGBB, little-endian
};

typedef struct cvWindow cvWindow;

// Plain C record of function pointers so that driver modules built apart
// from the program can use it.
struct cvWindow {
  void* Context;
  // Client area size in pixels.
  void (*GetClientSize)(cvWindow* Window, int32_t* Width, int32_t* Height);
  // Cursor position in client coordinates.
  void (*GetCursorPos)(cvWindow* Window, int32_t* X, int32_t* Y);
  // Shows a finished frame. Pitch is in bytes; the window copies the pixels.
  void (*Present)(cvWindow* Window, const void* Pixels, int32_t Width, int32_t Height, int32_t Pitch,
                  int32_t Format);
  // Moves the cursor to a point given in client coordinates (the fly and
  // actor actions recentre it). Drivers never call it.
  void (*SetCursorPos)(cvWindow* Window, int32_t X, int32_t Y);
};
}

namespace cvplatform {

// A window without a screen: a fixed client size and the last presented
// frame kept in memory.
class HeadlessWindow {
 public:
  HeadlessWindow(int32_t width, int32_t height);
  cvWindow* Record() { return &record_; }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  void SetClientSize(int32_t width, int32_t height);
  void SetCursor(int32_t x, int32_t y);
  // The last presented frame as 0x00RRGGBB pixels, row by row; empty before
  // the first Present.
  const std::vector<uint32_t>& Frame() const { return frame_; }
  int32_t FrameWidth() const { return frameWidth_; }
  int32_t FrameHeight() const { return frameHeight_; }
  int32_t PresentCount() const { return presents_; }

 private:
  static void getClientSize(cvWindow* w, int32_t* width, int32_t* height);
  static void getCursorPos(cvWindow* w, int32_t* x, int32_t* y);
  static void setCursorPos(cvWindow* w, int32_t x, int32_t y);
  static void present(cvWindow* w, const void* pixels, int32_t width, int32_t height, int32_t pitch,
                      int32_t format);

  cvWindow record_{};
  int32_t width_, height_;
  int32_t cursorX_ = 0, cursorY_ = 0;
  std::vector<uint32_t> frame_;
  int32_t frameWidth_ = 0, frameHeight_ = 0;
  int32_t presents_ = 0;
};

}  // namespace cvplatform
