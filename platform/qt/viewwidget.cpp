// The 3D view: the window record of a real window.
#include <QCursor>
#include <QPainter>
#include <QResizeEvent>
#include <cstring>

#include "platform/qt/qtplatform.h"

namespace cvplatform {

ViewWidget::ViewWidget(QWidget* Parent) : QFrame(Parent) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(1);
  // The frame covers the whole client area, so nothing needs erasing first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::ClickFocus);
  setMinimumSize(160, 120);
  record_.Context = this;
  record_.GetClientSize = &ViewWidget::getClientSize;
  record_.GetCursorPos = &ViewWidget::getCursorPos;
  record_.Present = &ViewWidget::present;
  record_.SetCursorPos = &ViewWidget::setCursorPos;
}

QSize ViewWidget::ClientSize() const { return contentsRect().size(); }

QPoint ViewWidget::CursorPos() const {
  return mapFromGlobal(QCursor::pos()) - contentsRect().topLeft();
}

void ViewWidget::SetCursorPos(QPoint Client) {
  QCursor::setPos(mapToGlobal(Client + contentsRect().topLeft()));
}

void ViewWidget::paintEvent(QPaintEvent* Event) {
  {
    QPainter p(this);
    const QRect client = contentsRect();
    p.setClipRect(client);
    if (front_.isNull()) {
      p.fillRect(client, Qt::black);
    } else {
      p.drawImage(client.topLeft(), front_);
      // A frame of another size than the view (a resize not yet rendered):
      // the uncovered part is black.
      const QRect shown(client.topLeft(), front_.size());
      if (!shown.contains(client)) {
        QRegion rest = QRegion(client).subtracted(QRegion(shown));
        for (const QRect& r : rest) p.fillRect(r, Qt::black);
      }
    }
  }
  QFrame::paintEvent(Event);  // the frame around the client area
}

void ViewWidget::resizeEvent(QResizeEvent* Event) {
  QFrame::resizeEvent(Event);
  if (OnResized) OnResized();
}

void ViewWidget::getClientSize(cvWindow* W, int32_t* Width, int32_t* Height) {
  const QSize s = static_cast<ViewWidget*>(W->Context)->ClientSize();
  if (Width) *Width = s.width();
  if (Height) *Height = s.height();
}

void ViewWidget::getCursorPos(cvWindow* W, int32_t* X, int32_t* Y) {
  const QPoint p = static_cast<ViewWidget*>(W->Context)->CursorPos();
  if (X) *X = p.x();
  if (Y) *Y = p.y();
}

void ViewWidget::setCursorPos(cvWindow* W, int32_t X, int32_t Y) {
  static_cast<ViewWidget*>(W->Context)->SetCursorPos(QPoint(X, Y));
}

void ViewWidget::present(cvWindow* W, const void* Pixels, int32_t Width, int32_t Height,
                         int32_t Pitch, int32_t Format) {
  auto* self = static_cast<ViewWidget*>(W->Context);
  if (!Pixels || Width <= 0 || Height <= 0 || Format != CV_WINDOW_FRAME_XRGB8888 ||
      Pitch / 4 < Width)
    return;
  if (self->back_.size() != QSize(Width, Height))
    self->back_ = QImage(Width, Height, QImage::Format_RGB32);
  if (self->back_.isNull()) return;  // out of memory: keep showing the last frame
  // The one copy: 0x00RRGGBB words into the back image, whose format wants
  // the top byte set.
  for (int32_t y = 0; y < Height; ++y) {
    auto* dst = reinterpret_cast<uint32_t*>(self->back_.scanLine(y));
    std::memcpy(dst, static_cast<const uint8_t*>(Pixels) + static_cast<size_t>(y) * Pitch,
                static_cast<size_t>(Width) * 4);
    for (int32_t x = 0; x < Width; ++x) dst[x] |= 0xFF000000u;
  }
  std::swap(self->front_, self->back_);
  ++self->presents_;
  // Painted at once: a frame may come from inside a long engine call (the
  // start-up logo) that keeps the event loop waiting.
  self->repaint(self->contentsRect());
}

}  // namespace cvplatform
