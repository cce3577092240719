// Key and mouse-button state of the program's windows, fed into platform/input.h.
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QApplication>

#include "platform/input.h"
#include "platform/qt/qtplatform.h"

namespace cvplatform {

int VirtualKeyFromQt(int QtKey, bool Keypad) {
  if (QtKey >= Qt::Key_0 && QtKey <= Qt::Key_9)
    return Keypad ? 0x60 + (QtKey - Qt::Key_0) : 0x30 + (QtKey - Qt::Key_0);
  // Letters: Qt reports the upper-case code whatever the shift state.
  if (QtKey >= Qt::Key_A && QtKey <= Qt::Key_Z) return 0x41 + (QtKey - Qt::Key_A);
  if (QtKey >= Qt::Key_F1 && QtKey <= Qt::Key_F24) return 0x70 + (QtKey - Qt::Key_F1);
  switch (QtKey) {
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Tab: case Qt::Key_Backtab: return 0x09;
    case Qt::Key_Return: case Qt::Key_Enter: return 0x0D;
    case Qt::Key_Shift: return CV_VK_SHIFT;
    case Qt::Key_Control: return CV_VK_CONTROL;
    case Qt::Key_Alt: return 0x12;
    case Qt::Key_Pause: return 0x13;
    case Qt::Key_CapsLock: return 0x14;
    case Qt::Key_Escape: return CV_VK_ESCAPE;
    case Qt::Key_Space: return 0x20;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    default: return -1;
  }
}

namespace {
int VirtualButton(Qt::MouseButton Button) {
  switch (Button) {
    case Qt::LeftButton: return CV_VK_LBUTTON;
    case Qt::RightButton: return CV_VK_RBUTTON;
    case Qt::MiddleButton: return CV_VK_MBUTTON;
    default: return -1;
  }
}
}  // namespace

bool InputTracker::eventFilter(QObject* Watched, QEvent* Event) {
  switch (Event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
      auto* k = static_cast<QKeyEvent*>(Event);
      // Auto-repeat sends release-press pairs while a key is held.
      if (!k->isAutoRepeat())
        SetKeyDown(VirtualKeyFromQt(k->key(), k->modifiers() & Qt::KeypadModifier),
                   Event->type() == QEvent::KeyPress);
      break;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease: {
      auto* m = static_cast<QMouseEvent*>(Event);
      SetKeyDown(VirtualButton(m->button()), Event->type() != QEvent::MouseButtonRelease);
      break;
    }
    case QEvent::ApplicationStateChange:
      if (QGuiApplication::applicationState() != Qt::ApplicationActive) ReleaseAllKeys();
      break;
    default:
      break;
  }
  return QObject::eventFilter(Watched, Event);
}

}  // namespace cvplatform
