#include <cstring>

#include "platform/window.h"

namespace cvplatform {

HeadlessWindow::HeadlessWindow(int32_t width, int32_t height) : width_(width), height_(height) {
  record_.Context = this;
  record_.GetClientSize = &HeadlessWindow::getClientSize;
  record_.GetCursorPos = &HeadlessWindow::getCursorPos;
  record_.Present = &HeadlessWindow::present;
  record_.SetCursorPos = &HeadlessWindow::setCursorPos;
}

void HeadlessWindow::SetClientSize(int32_t width, int32_t height) {
  width_ = width;
  height_ = height;
}

void HeadlessWindow::SetCursor(int32_t x, int32_t y) {
  cursorX_ = x;
  cursorY_ = y;
}

void HeadlessWindow::getClientSize(cvWindow* w, int32_t* width, int32_t* height) {
  auto* self = static_cast<HeadlessWindow*>(w->Context);
  if (width) *width = self->width_;
  if (height) *height = self->height_;
}

void HeadlessWindow::getCursorPos(cvWindow* w, int32_t* x, int32_t* y) {
  auto* self = static_cast<HeadlessWindow*>(w->Context);
  if (x) *x = self->cursorX_;
  if (y) *y = self->cursorY_;
}

void HeadlessWindow::setCursorPos(cvWindow* w, int32_t x, int32_t y) {
  static_cast<HeadlessWindow*>(w->Context)->SetCursor(x, y);
}

void HeadlessWindow::present(cvWindow* w, const void* pixels, int32_t width, int32_t height,
                             int32_t pitch, int32_t format) {
  auto* self = static_cast<HeadlessWindow*>(w->Context);
  if (!pixels || width <= 0 || height <= 0 || format != CV_WINDOW_FRAME_XRGB8888 ||
      pitch < width * 4)
    return;
  self->frame_.resize(static_cast<size_t>(width) * height);
  for (int32_t y = 0; y < height; ++y)
    std::memcpy(&self->frame_[static_cast<size_t>(y) * width],
                static_cast<const uint8_t*>(pixels) + static_cast<size_t>(y) * pitch,
                static_cast<size_t>(width) * 4);
  self->frameWidth_ = width;
  self->frameHeight_ = height;
  ++self->presents_;
}

}  // namespace cvplatform
