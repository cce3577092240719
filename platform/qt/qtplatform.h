// The platform layer's Qt side: the 3D view widget that is the window record
// for a real window, the key and button tracker that feeds platform/input.h
// from the program's own windows, and the Qt implementation of the dialog
// interface (message boxes, file and colour dialogs, the video-mode list).
#pragma once

#include <QDialog>
#include <QFrame>
#include <QImage>
#include <QObject>
#include <functional>

#include "platform/dialogs.h"
#include "platform/window.h"

class QListWidget;

namespace cvplatform {

// A sunken, black-framed view whose client area (inside the frame) the
// engine renders into. Record() is the window record handed to the engine.
// Present copies a finished frame once into a back image and swaps it with
// the shown one, so painting always shows a whole frame.
class ViewWidget : public QFrame {
 public:
  explicit ViewWidget(QWidget* Parent = nullptr);
  cvWindow* Record() { return &record_; }

  // Client-area size and cursor position in client coordinates.
  QSize ClientSize() const;
  QPoint CursorPos() const;
  void SetCursorPos(QPoint Client);

  // The frame shown now (null before the first Present) and how many were presented.
  const QImage& Frame() const { return front_; }
  int PresentCount() const { return presents_; }

  // Called after the client area changed size.
  std::function<void()> OnResized;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

 private:
  static void getClientSize(cvWindow* W, int32_t* Width, int32_t* Height);
  static void getCursorPos(cvWindow* W, int32_t* X, int32_t* Y);
  static void setCursorPos(cvWindow* W, int32_t X, int32_t Y);
  static void present(cvWindow* W, const void* Pixels, int32_t Width, int32_t Height,
                      int32_t Pitch, int32_t Format);

  cvWindow record_{};
  QImage front_, back_;
  int presents_ = 0;
};

// The virtual-key code (platform/input.h) of a Qt key, or -1 for keys the
// engine does not name. Keypad digits give the numeric-pad codes 0x60..0x69.
int VirtualKeyFromQt(int QtKey, bool Keypad);

// Watches every event of the application and records key and mouse-button
// presses and releases of the program's windows; everything is released when
// the application stops being the active one, since releases made elsewhere
// are never seen. Install one with QApplication::installEventFilter.
class InputTracker : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;
};

// Dialog 101: a title, a prompt, and a list with its first entry selected;
// OK or a double click take the selected entry, Cancel none.
class VideoModeDialog : public QDialog {
 public:
  VideoModeDialog(const QString& Title, const QString& Prompt, const QStringList& Entries,
                  QWidget* Parent = nullptr);
  // The chosen index once accepted, else -1.
  int Chosen() const;
  QListWidget* List() const { return list_; }

 private:
  QListWidget* list_;
};

// The dialogs of platform/dialogs.h shown with Qt widgets, owned by the
// active window.
class QtDialogs : public Dialogs {
 public:
  void MessageBox(const std::string& Text, const std::string& Caption) override;
  SaveAnswer AskSaveChanges(const std::string& Text) override;
  std::string GetFileName(const FileDialogRequest& Request) override;
  bool ChooseColor(uint32_t Initial, uint32_t* Chosen) override;
  int ChooseVideoMode(const std::string& Title, const std::string& Prompt,
                      const std::vector<std::string>& Entries) override;
};

}  // namespace cvplatform
