// The platform layer's Qt side: the view widget as a window record, key and
// button tracking, and the Qt dialogs (answered by timers, never a person).
#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "platform/input.h"
#include "platform/qt/qtplatform.h"

using namespace cvplatform;

namespace {

// Runs Answer on the next modal dialog of type T once it is shown.
template <class T, class F>
void AnswerNextDialog(F Answer) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, Answer] {
    if (auto* d = dynamic_cast<T*>(QApplication::activeModalWidget())) {
      poll->stop();
      poll->deleteLater();
      Answer(d);
    }
  });
  poll->start(10);
}

}  // namespace

class PlatformQtTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { ReleaseAllKeys(); }

  void viewClientSizeAndCursor() {
    ViewWidget view;
    view.resize(300, 200);
    view.move(50, 40);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    cvWindow* w = view.Record();
    // The client area is what the sunken frame leaves, and follows resizing.
    const int frame = view.frameWidth();
    QVERIFY(frame > 0);
    int32_t width = 0, height = 0;
    view.resize(401, 151);
    w->GetClientSize(w, &width, &height);
    QCOMPARE(QSize(width, height), QSize(401 - 2 * frame, 151 - 2 * frame));
    // The cursor in client coordinates, both ways.
    w->SetCursorPos(w, 100, 49);
    QCOMPARE(QCursor::pos(), view.mapToGlobal(view.contentsRect().topLeft() + QPoint(100, 49)));
    int32_t x = -1, y = -1;
    w->GetCursorPos(w, &x, &y);
    QCOMPARE(QPoint(x, y), QPoint(100, 49));
  }

  void presentShowsOneWholeFrameCopiedOnce() {
    ViewWidget view;
    view.resize(64, 48);
    view.show();
    cvWindow* w = view.Record();
    QVERIFY(view.Frame().isNull());

    // A 3 x 2 frame with a padded pitch; the pad words must not show.
    std::vector<uint32_t> pixels = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xDEADBEEF,
                                    0x00000000, 0x00FFFFFF, 0x00123456, 0xDEADBEEF};
    w->Present(w, pixels.data(), 3, 2, 16, CV_WINDOW_FRAME_XRGB8888);
    QCOMPARE(view.PresentCount(), 1);
    const QImage first = view.Frame();
    QCOMPARE(first.size(), QSize(3, 2));
    QCOMPARE(first.pixel(0, 0), 0xFFFF0000u);
    QCOMPARE(first.pixel(2, 0), 0xFF0000FFu);
    QCOMPARE(first.pixel(0, 1), 0xFF000000u);
    QCOMPARE(first.pixel(2, 1), 0xFF123456u);

    // The shown frame is the window's own copy: the driver may reuse its buffer.
    std::fill(pixels.begin(), pixels.end(), 0x00777777u);
    QCOMPARE(view.Frame().pixel(0, 0), 0xFFFF0000u);

    // Frames that cannot be shown are dropped and the last good one stays.
    w->Present(w, nullptr, 3, 2, 16, CV_WINDOW_FRAME_XRGB8888);
    w->Present(w, pixels.data(), 3, 2, 8, CV_WINDOW_FRAME_XRGB8888);  // pitch below the width
    w->Present(w, pixels.data(), 3, 2, 16, 99);
    w->Present(w, pixels.data(), 0, 2, 16, CV_WINDOW_FRAME_XRGB8888);
    QCOMPARE(view.PresentCount(), 1);
    QCOMPARE(view.Frame().pixel(1, 0), 0xFF00FF00u);

    w->Present(w, pixels.data(), 2, 2, 16, CV_WINDOW_FRAME_XRGB8888);
    QCOMPARE(view.PresentCount(), 2);
    QCOMPARE(view.Frame().size(), QSize(2, 2));
    QCOMPARE(view.Frame().pixel(1, 1), 0xFF777777u);

    // What is painted is the presented frame.
    const QImage grabbed = view.grab().toImage();
    const QPoint client = view.contentsRect().topLeft();
    QCOMPARE(grabbed.pixel(client + QPoint(1, 1)), 0xFF777777u);
    QCOMPARE(grabbed.pixel(client + QPoint(20, 20)), 0xFF000000u);  // beyond the frame: black
  }

  void virtualKeyCodes() {
    const struct {
      int Qt;
      bool Keypad;
      int Vk;
    } keys[] = {{Qt::Key_A, false, 0x41}, {Qt::Key_Z, false, 0x5A},      {Qt::Key_0, false, 0x30},
                {Qt::Key_9, true, 0x69},  {Qt::Key_F12, false, 0x7B},    {Qt::Key_Escape, false, 0x1B},
                {Qt::Key_Left, false, 0x25}, {Qt::Key_Down, false, 0x28}, {Qt::Key_Enter, true, 0x0D},
                {Qt::Key_Eacute, false, -1}};
    for (const auto& k : keys) QCOMPARE(VirtualKeyFromQt(k.Qt, k.Keypad), k.Vk);
  }

  void keysAndButtonsOfAnyWindowAreTracked() {
    InputTracker tracker;
    qApp->installEventFilter(&tracker);
    QLineEdit edit;  // any widget of the program, not only the view
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    QTest::keyPress(&edit, Qt::Key_M);
    QVERIFY(IsKeyDown('M'));
    QTest::keyPress(&edit, Qt::Key_Shift);
    QCOMPARE(FirstKeyDown(), int(CV_VK_SHIFT));
    QTest::keyRelease(&edit, Qt::Key_M);
    QVERIFY(!IsKeyDown('M'));
    QTest::keyRelease(&edit, Qt::Key_Shift);

    // An auto-repeated release keeps the key down.
    QKeyEvent repeat(QEvent::KeyRelease, Qt::Key_R, Qt::NoModifier, QString("r"), true);
    QTest::keyPress(&edit, Qt::Key_R);
    QApplication::sendEvent(&edit, &repeat);
    QVERIFY(IsKeyDown('R'));
    QTest::keyRelease(&edit, Qt::Key_R);

    QTest::mousePress(&edit, Qt::RightButton);
    QVERIFY(IsKeyDown(CV_VK_RBUTTON));
    QVERIFY(!IsKeyDown(CV_VK_LBUTTON));
    QTest::mouseRelease(&edit, Qt::RightButton);
    QVERIFY(!IsKeyDown(CV_VK_RBUTTON));
    QCOMPARE(FirstKeyDown(), -1);
    qApp->removeEventFilter(&tracker);
  }

  void videoModeDialog() {
    QtDialogs dialogs;
    const std::vector<std::string> entries = {"Software Window", "Software 640x480",
                                              "Software 320x240"};
    // The first entry starts selected and OK takes the selection.
    AnswerNextDialog<VideoModeDialog>([](VideoModeDialog* d) {
      QCOMPARE(d->windowTitle(), QString("Corvina3D"));
      QCOMPARE(d->List()->count(), 3);
      QCOMPARE(d->List()->currentRow(), 0);
      d->List()->setCurrentRow(2);
      QTest::keyClick(d, Qt::Key_Return);
    });
    QCOMPARE(dialogs.ChooseVideoMode("Corvina3D", "Select a video mode for the game:", entries), 2);

    AnswerNextDialog<VideoModeDialog>([](VideoModeDialog* d) {
      QListWidget* list = d->List();
      emit list->itemDoubleClicked(list->item(1));
    });
    QCOMPARE(dialogs.ChooseVideoMode("Corvina3D", "Select a video mode for the game:", entries), 1);

    AnswerNextDialog<VideoModeDialog>([](VideoModeDialog* d) { QTest::keyClick(d, Qt::Key_Escape); });
    QCOMPARE(dialogs.ChooseVideoMode("Corvina3D", "Select a video mode for the game:", entries), -1);
  }

  void fileDialogConvertsTheFilterAndAddsTheExtension() {
    QTemporaryDir dir;
    QtDialogs dialogs;
    FileDialogRequest request;
    request.Save = true;
    request.Filter = "Corvina Actor Body Files (*.bdy)|*.bdy|All Files (*.*)|*.*||";
    request.DefaultExtension = "bdy";
    request.Directory = dir.path().toStdString();
    QStringList filters;
    AnswerNextDialog<QFileDialog>([&](QFileDialog* d) {
      filters = d->nameFilters();
      d->selectFile(dir.filePath("body"));
      QMetaObject::invokeMethod(d, "accept");
    });
    const std::string chosen = dialogs.GetFileName(request);
    QCOMPARE(filters, QStringList({"Corvina Actor Body Files (*.bdy)", "All Files (*)"}));
    QCOMPARE(QString::fromStdString(chosen), dir.filePath("body.bdy"));

    AnswerNextDialog<QFileDialog>([](QFileDialog* d) { d->reject(); });
    QVERIFY(dialogs.GetFileName(request).empty());
  }

  void colourDialogUsesTheLowByteForRed() {
    QtDialogs dialogs;
    QColor initial;
    AnswerNextDialog<QColorDialog>([&](QColorDialog* d) {
      initial = d->currentColor();
      d->setCurrentColor(QColor(1, 2, 255));
      d->accept();
    });
    uint32_t chosen = 0;
    QVERIFY(dialogs.ChooseColor(0x00302010, &chosen));
    QCOMPARE(initial, QColor(0x10, 0x20, 0x30));
    QCOMPARE(chosen, 0x00FF0201u);
  }
};

QTEST_MAIN(PlatformQtTest)
#include "platform_qt_test.moc"
